// Long paths are split into pieces below the maximum that cover the same
// area; progress and cancel of the walk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pagewriter/pathsplit.h"
#include "platform/messages.h"
#include "platform/setop.h"
#include "walker_support.h"

using namespace walkertest;
using TavSetop::Contour;
using TavSetop::SplitPoint;

namespace {

double shoelace(const Contour& c) {
  double a = 0;
  for (std::size_t i = 0; i < c.size(); ++i) {
    const auto& p = c[i];
    const auto& q = c[(i + 1) % c.size()];
    a += double(p.h) * q.v - double(q.h) * p.v;
  }
  return a / 2;
}

// The summed area of the pieces' contours: of their absolute values (each
// piece on its own) or signed (holes subtract).
double areaOf(const std::vector<TavSetop::SplitPiece>& pieces, bool absolute) {
  double sum = 0;
  for (const auto& piece : pieces) {
    for (const auto& c : piece.contours) sum += absolute ? std::abs(shoelace(c)) : shoelace(c);
  }
  return sum;
}

// A regular polygon of n points around (0, 0).
Contour circle(int n, double radius) {
  Contour c;
  for (int i = 0; i < n; ++i) {
    const double t = 2 * std::numbers::pi * i / n;
    SplitPoint p;
    p.v = static_cast<std::int32_t>(std::lround(radius * std::sin(t)));
    p.h = static_cast<std::int32_t>(std::lround(radius * std::cos(t)));
    c.push_back(p);
  }
  return c;
}

// A self-intersecting star of n points on a circle, each joined to the one
// almost opposite: every edge crosses the middle of the shape.
Contour star(int n, double radius) {
  Contour c = circle(n, radius);
  Contour s;
  for (int i = 0; i < n; ++i) s.push_back(c[std::size_t(i) * std::size_t(n / 2 - 1) % std::size_t(n)]);
  return s;
}

// The signed area of contours with curves, each curve followed closely.
double curvedArea(const std::vector<Contour>& contours) {
  double sum = 0;
  for (const auto& c : contours) {
    Contour flat;
    for (std::size_t i = 0; i < c.size(); ++i) {
      const SplitPoint& p = c[i];
      if (p.curve && i > 0) {
        const SplitPoint a = flat.back();
        for (int k = 1; k < 1024; ++k) {
          const double t = k / 1024.0, u = 1 - t;
          const double w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t, w3 = t * t * t;
          flat.push_back({static_cast<std::int32_t>(std::lround(w0 * a.v + w1 * p.c1v + w2 * p.c2v + w3 * p.v)),
                          static_cast<std::int32_t>(std::lround(w0 * a.h + w1 * p.c1h + w2 * p.c2h + w3 * p.h))});
        }
      }
      flat.push_back({p.v, p.h});
    }
    sum += shoelace(flat);
  }
  return sum;
}

std::unique_ptr<TavDB::Object> pathOf(const Contour& c, std::uint16_t paint) {
  auto p = JobBuilder::path({}, paint);
  for (const auto& q : c) p->points().push_back({q.v, q.h, TavDB::PathPoint::kLine});
  p->recalcBounds();
  return p;
}

// Walks the job's whole tree.
std::unique_ptr<RecordingProof> walkWith(jobstr* job, int writeTraps, int maxPoints, bool recordPieces = true) {
  TavDB::ScopedCurrentJob current(job);
  auto proof = std::make_unique<RecordingProof>(job, writeTraps, maxPoints);
  proof->recordPieces = recordPieces;
  proof->OutputGroup(jobGetSpahan(job), false, -1, false);
  return proof;
}

}  // namespace

TEST(PathSplit, PiecesStayBelowTheMaximumAndKeepTheArea) {
  const Contour big = circle(20000, 1e6);
  const double area = std::abs(shoelace(big));
  for (std::size_t max : {10000u, 4000u, 997u}) {
    auto pieces = TavSetop::SplitContours({big}, true, max);
    ASSERT_TRUE(pieces.has_value()) << max;
    for (const auto& piece : *pieces) EXPECT_LE(piece.pointCount(), max);
    // Cut points are rounded to whole job units.
    EXPECT_NEAR(areaOf(*pieces, true), area, area * 1e-6) << max;
  }
}

TEST(PathSplit, HolesStayHolesAndCurvesInsideAPieceStayCurves) {
  // A ring: outer square with a square hole, the hole oriented the other way.
  Contour outer, hole;
  for (auto [v, h] : {std::pair{0, 0}, {0, 1000}, {1000, 1000}, {1000, 0}}) outer.push_back({v, h});
  for (auto [v, h] : {std::pair{250, 250}, {750, 250}, {750, 750}, {250, 750}}) hole.push_back({v, h});
  for (int i = 0; i < 10; ++i) outer.insert(outer.begin() + 1, SplitPoint{0, 100 * (10 - i)});
  auto pieces = TavSetop::SplitContours({outer, hole}, true, 8);
  ASSERT_TRUE(pieces.has_value());
  EXPECT_NEAR(std::abs(areaOf(*pieces, false)), 1000.0 * 1000 - 500.0 * 500, 1.0);

  Contour curved;
  curved.push_back({0, 0});
  SplitPoint c{0, 100, true, -50, 30, -50, 70};
  curved.push_back(c);
  for (int i = 1; i <= 60; ++i) curved.push_back({i * 10, 100});
  curved.push_back({600, 0});
  auto split = TavSetop::SplitContours({curved}, true, 40);
  ASSERT_TRUE(split.has_value());
  bool curveKept = false;
  for (const auto& piece : *split) {
    for (const auto& contour : piece.contours) {
      EXPECT_FALSE(contour.front().curve);  // the closing segment stays straight
      for (const auto& p : contour) curveKept |= p.curve && p == c;
    }
  }
  EXPECT_TRUE(curveKept);

  // A circle of four quarter curves turned by 45 degrees, cut across its
  // curves: the parts stay curves on the same course (the same area to a
  // hundred-thousandth, where chords lose a few ten-thousandths), not chords.
  Contour round;
  const double r = 1e6, k = 4.0 / 3 * std::tan(std::numbers::pi / 8);
  auto at = [&](double a, double dr, double da) {
    return std::pair{int(std::lround(r * std::sin(a) + dr * r * std::cos(a) * da)),
                     int(std::lround(r * std::cos(a) - dr * r * std::sin(a) * da))};
  };
  for (int q = 0; q <= 4; ++q) {
    const double a = std::numbers::pi / 4 + q * std::numbers::pi / 2, before = a - std::numbers::pi / 2;
    const auto [v, h] = at(a, 0, 0);
    if (q == 0) {
      round.push_back({v, h});
      continue;
    }
    const auto [c1v, c1h] = at(before, k, 1);
    const auto [c2v, c2h] = at(a, k, -1);
    round.push_back({v, h, true, c1v, c1h, c2v, c2h});
  }
  const auto parts = TavSetop::SplitContours({round}, true, 9);
  ASSERT_TRUE(parts.has_value());
  std::vector<Contour> all;
  for (const auto& piece : *parts) {
    EXPECT_LE(piece.pointCount(), 9u);
    all.insert(all.end(), piece.contours.begin(), piece.contours.end());
  }
  EXPECT_GE(parts->size(), 3u);
  EXPECT_NEAR(curvedArea(all) / curvedArea({round}), 1.0, 1e-5);
}

TEST(PathSplit, OpenRunsJoinEndToEndAndImpossibleSplitsFail) {
  Contour line;
  for (int i = 0; i < 25; ++i) line.push_back({0, i * 10});
  auto runs = TavSetop::SplitContours({line}, false, 10);
  ASSERT_TRUE(runs.has_value());
  ASSERT_EQ(runs->size(), 3u);
  EXPECT_EQ((*runs)[0].contours[0].back(), (*runs)[1].contours[0].front());
  EXPECT_EQ((*runs)[2].contours[0].back(), line.back());

  // Points all on one spot cannot be cut apart (see the walker's test below);
  // nor can a closed path be cut into pieces of three points, nor a star
  // whose every edge crosses every cut within memory linear in the path.
  EXPECT_FALSE(TavSetop::SplitContours({line}, true, 3).has_value());
  EXPECT_FALSE(TavSetop::SplitContours({star(100000, 1e6)}, true, 50000).has_value());
}

TEST(WalkerSplit, PiecesStayBelowTheMaximumKeepPaintAndTrapAndLeaveTheHostAlone) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  TavDB::Object* big = flag(b.add(pathOf(circle(600000, 5e7), cyan)), TavDB::kObjTrap);
  const auto proof = walkWith(b.get(), 1, 500000, false);
  ASSERT_GE(proof->pieceSizes.size(), 2u);
  std::size_t total = 0;
  for (std::size_t n : proof->pieceSizes) {
    EXPECT_LE(n, 500000u);
    total += n;
  }
  EXPECT_GE(total, 600000u);
  // The host's path is untouched.
  EXPECT_EQ(big->points().size(), 600000u);
  EXPECT_EQ(big->paint(), cyan);
  EXPECT_EQ(proof->GetSplitSource(), nullptr);

  JobBuilder small;
  TavDB::Object* path = small.add(pathOf(circle(1000, 1e5), small.flat({{0, 100}})));
  EXPECT_TRUE(walkWith(small.get(), 1, 1000)->pieceSizes.empty());  // at the maximum: whole
  const auto above = walkWith(small.get(), 1, 999);
  ASSERT_GE(above->pieceSizes.size(), 2u);
  // The pieces are written as a group of their own, each in the source's paint.
  const auto ev = events(above->text());
  EXPECT_THAT(ev, ::testing::Contains("BeginGroup"));
  EXPECT_EQ(std::size_t(std::count(ev.begin(), ev.end(), "Color 100 0 0 0 -1 0")), above->pieceSizes.size());
  // The pieces of a trap are traps too: not drawn when traps are not written.
  flag(path, TavDB::kObjTrap);
  EXPECT_TRUE(walkWith(small.get(), 0, 999)->pieceSizes.empty());
  EXPECT_GE(walkWith(small.get(), 1, 999)->pieceSizes.size(), 2u);
}

TEST(WalkerProgress, CancelFinishesThePathThenEveryLaterGroupReturns) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  for (int i = 0; i < 3; ++i) {
    auto layer = b.layer("L" + std::to_string(i));
    auto group = b.list(TavDB::ObjectKind::Group);
    group->addontop(b.rect(i, 0, 10, 10, cyan));
    group->addontop(b.rect(i, 20, 10, 30, cyan));
    layer->addontop(std::move(group));
    b.add(std::move(layer));
  }
  int asked = 0;
  TavSys::Progress::resetCancel();
  TavSys::Progress::setCancelHook([&] { return ++asked >= 2; });
  const auto proof = walkWith(b.get(), 1, 500000);
  TavSys::Progress::setCancelHook({});
  TavSys::Progress::resetCancel();

  EXPECT_TRUE(proof->IsCancelled());
  const auto ev = events(proof->text());
  // The second path finished, the first layer's brackets closed, nothing later.
  EXPECT_EQ(std::count(proof->text().begin(), proof->text().end(), 'm'), 2);
  EXPECT_THAT(ev, ::testing::Contains("EndLayer"));
  EXPECT_THAT(ev, ::testing::Not(::testing::Contains("BeginLayer L1")));
  EXPECT_EQ(std::count(ev.begin(), ev.end(), "BeginGroup"), std::count(ev.begin(), ev.end(), "EndGroup"));
}

TEST(WalkerProgress, ReportsPercentagesAndNothingForAJobWithoutPaths) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  b.add(b.rect(0, 0, 10, 10, cyan));
  b.add(b.rect(0, 0, 10, 10, cyan));
  JobBuilder empty;
  empty.add(empty.list(TavDB::ObjectKind::Text, "t"));
  std::vector<double> reported;
  // The walk is the whole operation here: its share is its percentage.
  TavSys::Progress::setListener([&](double done, double total, std::string_view label) {
    if (label == "Output") reported.push_back(done / total * 100);
  });
  walkWith(b.get(), 1, 500000);
  walkWith(empty.get(), 1, 500000);
  TavSys::Progress::setListener({});
  // The constructor's 0, then 50 and 100 for the two paths; the empty job adds
  // only its constructor's 0, never a division by zero.
  EXPECT_EQ(reported, (std::vector<double>{0, 50, 100, 0}));
}

TEST(WalkerSplit, PathsThatCannotBeSplitAreWrittenWholeWithOneWarning) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  b.add(pathOf(Contour(20, SplitPoint{7, 7}), cyan));  // twenty points on one spot: no cut separates them
  b.add(pathOf(star(30000, 1e5), cyan));
  b.add(b.rect(0, 0, 10, 10, cyan));
  TavGen::MessageCapture capture;
  const auto proof = walkWith(b.get(), 1, 16, false);
  EXPECT_TRUE(proof->pieceSizes.empty());
  const auto lines = operatorLines(proof->text());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "f*"), 3);
  // Every point of every path: the spot (its repeats dropped), the star, the square.
  EXPECT_EQ(lines.size(), 4 + 30002 + 6u);
  ASSERT_EQ(capture.count("PATH NOT SPLIT"), 1);
  const auto& said = capture.messages()[0];
  EXPECT_EQ(said.severity, TavGen::kWarning);
  EXPECT_THAT(said.text, ::testing::AllOf(::testing::HasSubstr("A path of 20 points"),
                                          ::testing::HasSubstr("at most 16 points")));
}

TEST(PathSplit, IntersectionWithAConvexWindowInEitherOrientation) {
  const Contour square = {{0, 0}, {0, 100}, {100, 100}, {100, 0}};
  const std::vector<std::pair<double, double>> diamond = {{50, 0}, {0, 50}, {50, 100}, {100, 50}};
  std::vector<std::pair<double, double>> reversed(diamond.rbegin(), diamond.rend());
  for (const auto& window : {diamond, reversed}) {
    const auto inside = TavSetop::IntersectConvex({square}, window);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_NEAR(std::abs(shoelace(inside[0])), 5000.0, 1.0);
  }
  const std::vector<std::pair<double, double>> far = {{500, 500}, {500, 600}, {600, 600}, {600, 500}};
  EXPECT_TRUE(TavSetop::IntersectConvex({square}, far).empty());
  const std::vector<std::pair<double, double>> flat = {{0, 0}, {0, 10}, {0, 20}};
  EXPECT_TRUE(TavSetop::IntersectConvex({square}, flat).empty());
  // A half disc (a curve and the straight way back) and a disc of two
  // curves enclose an area with two points: inside a window they stay whole,
  // across its edge they are cut, not dropped.
  TavSetop::SplitPoint arc{60, 40, true, 0, 100, 60, 100};  // (0, 40) -> (60, 40) bulging right
  const Contour half = {{0, 40}, arc};
  TavSetop::SplitPoint back{0, 40, true, 60, -20, 0, -20};
  const Contour disc = {{0, 40}, arc, back};
  const std::vector<std::pair<double, double>> big = {{-50, -50}, {-50, 150}, {150, 150}, {150, -50}};
  const std::vector<std::pair<double, double>> right = {{-50, 50}, {-50, 150}, {150, 150}, {150, 50}};
  for (const Contour& shape : {half, disc}) {
    const auto whole = TavSetop::IntersectConvex({shape}, big);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].size(), shape.size());
    EXPECT_EQ(TavSetop::IntersectConvex({shape}, right).size(), 1u);
  }
}

// Fills drawn from runs of pixels: the runs an outline's interior touches,
// checked against a pixel-by-pixel geometric test, and the batched
// composition of flat fills and the plain composition of opaque objects,
// each checked against the general composition they stand in for.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/previewraster.h"
#include "platform/kernel/previewspans.h"

namespace {

using TavricLib::preview::Compose;
using TavricLib::preview::ComposeSpans;
using TavricLib::preview::FillOutlines;
using TavricLib::preview::FlatFillBatch;
using TavricLib::preview::IntRect;
using TavricLib::preview::PlaneSource;
using TavricLib::preview::Raster;
using TavricLib::preview::Span;
using TavricLib::preview::SpanRasteriser;
using TavricLib::preview::Target;
using TavricLib::preview::Transparency;

struct Pt {
  double x, y;
};
using Contour = std::vector<Pt>;

using Rows = std::vector<std::pair<int, int>>;

std::vector<Span> sweep(const std::vector<Contour>& contours, const IntRect& clip, bool* scanned = nullptr,
                        const Rows* skippedRows = nullptr, SpanRasteriser* reused = nullptr) {
  SpanRasteriser own;
  SpanRasteriser& r = reused != nullptr ? *reused : own;
  r.Begin(clip);
  for (const Contour& c : contours) {
    r.MoveTo(c[0].x, c[0].y);
    for (std::size_t i = 1; i < c.size(); ++i) r.LineTo(c[i].x, c[i].y);
  }
  std::vector<Span> runs;
  const bool ok = r.Sweep(runs, skippedRows);
  if (scanned != nullptr) *scanned = ok;
  return runs;
}

// The pixels of `clip` the runs cover, a byte each; fails on runs out of
// order, overlapping, empty or outside the clip.
std::vector<std::uint8_t> covered(const std::vector<Span>& runs, const IntRect& clip) {
  std::vector<std::uint8_t> px(std::size_t(clip.width()) * std::size_t(clip.height()), 0);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const Span& s = runs[i];
    EXPECT_LT(s.x0, s.x1);
    EXPECT_TRUE(s.y >= clip.y0 && s.y < clip.y1 && s.x0 >= clip.x0 && s.x1 <= clip.x1)
        << "run " << s.y << ": " << s.x0 << ".." << s.x1;
    if (i > 0) {
      const Span& p = runs[i - 1];
      EXPECT_TRUE(p.y < s.y || (p.y == s.y && p.x1 < s.x0)) << "runs out of order or touching at row " << s.y;
    }
    for (int x = std::max(s.x0, clip.x0); x < std::min(s.x1, clip.x1); ++x) {
      if (s.y >= clip.y0 && s.y < clip.y1) px[std::size_t(s.y - clip.y0) * std::size_t(clip.width()) + (x - clip.x0)] = 1;
    }
  }
  return px;
}

// Whether segment a-b meets the box [x0, x1] x [y0, y1] (clipping the
// segment's parameter range to each slab in turn).
bool segmentMeetsBox(Pt a, Pt b, double x0, double y0, double x1, double y1) {
  double t0 = 0, t1 = 1;
  const double d[2] = {b.x - a.x, b.y - a.y}, p[2] = {a.x, a.y}, lo[2] = {x0, y0}, hi[2] = {x1, y1};
  for (int k = 0; k < 2; ++k) {
    if (d[k] == 0) {
      if (p[k] < lo[k] || p[k] > hi[k]) return false;
      continue;
    }
    double ta = (lo[k] - p[k]) / d[k], tb = (hi[k] - p[k]) / d[k];
    if (ta > tb) std::swap(ta, tb);
    t0 = std::max(t0, ta), t1 = std::min(t1, tb);
    if (t0 > t1) return false;
  }
  return true;
}

double distanceToSegment(Pt c, Pt a, Pt b) {
  const double dx = b.x - a.x, dy = b.y - a.y, len = dx * dx + dy * dy;
  const double t = len == 0 ? 0 : std::clamp(((c.x - a.x) * dx + (c.y - a.y) * dy) / len, 0.0, 1.0);
  return std::hypot(c.x - a.x - t * dx, c.y - a.y - t * dy);
}

// A pixel is touched when its centre lies inside (even-odd) or an edge
// passes through it. Pixels within `eps` of deciding otherwise are left
// open (-1): rounding along an edge may settle them either way.
int reference(const std::vector<Contour>& contours, int px, int py, double eps) {
  const Pt centre{px + 0.5, py + 0.5};
  bool inside = false, nearCentre = false, through = false, nearBox = false;
  for (const Contour& c : contours) {
    for (std::size_t i = 0; i < c.size(); ++i) {
      const Pt a = c[i], b = c[(i + 1) % c.size()];
      if ((a.y > centre.y) != (b.y > centre.y) && centre.x < a.x + (centre.y - a.y) * (b.x - a.x) / (b.y - a.y)) {
        inside = !inside;
      }
      nearCentre = nearCentre || distanceToSegment(centre, a, b) < eps;
      through = through || segmentMeetsBox(a, b, px + eps, py + eps, px + 1 - eps, py + 1 - eps);
      nearBox = nearBox || segmentMeetsBox(a, b, px - eps, py - eps, px + 1 + eps, py + 1 + eps);
    }
  }
  if (through || (inside && !nearCentre)) return 1;
  if (!nearBox && !nearCentre) return 0;
  return -1;
}

int count(const std::vector<std::uint8_t>& px) { return int(std::count(px.begin(), px.end(), 1)); }

TEST(SpanRuns, OutlinesTouchTheirInteriorsAndEdgesPixelsAndNothingElse) {
  const Contour square{{2, 2}, {5, 2}, {5, 4}, {2, 4}};  // on pixel boundaries
  const Contour shifted{{2.25, 2.25}, {5.25, 2.25}, {5.25, 4.25}, {2.25, 4.25}};
  const Contour outer{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, hole{{3, 3}, {7, 3}, {7, 7}, {3, 7}};
  const Contour thin{{1.5, 1.2}, {9.5, 1.2}, {9.5, 1.3}, {1.5, 1.3}};  // no pixel centre inside
  const Contour diagonal{{0.5, 0.5}, {8.5, 8.5}, {8.5, 8.5}};          // no area at all
  const Contour beyond{{-40, -40}, {40, -40}, {40, 40}, {-40, 40}};
  struct Case {
    const char* what;
    std::vector<Contour> contours;
    int pixels;
    IntRect clip = IntRect{0, 0, 12, 12};
  } cases[] = {
      {"square on pixel boundaries", {square}, 3 * 2},
      {"square a quarter pixel off", {shifted}, 4 * 3},
      {"square with a square hole", {outer, hole}, 100 - 16},
      {"the same hole drawn the other way", {outer, {{3, 3}, {3, 7}, {7, 7}, {7, 3}}}, 100 - 16},
      {"sliver between pixel centres", {thin}, 9},
      {"line without area", {diagonal}, 9},
      {"outline beyond the clip on every side", {beyond}, 144},
      {"outline wholly outside the clip", {{{20, 20}, {30, 20}, {30, 30}}}, 0},
      // A nearly level line that starts below its first row's centre line
      // and ends above its last one (their centre lines meet the line's
      // extension far outside the outline).
      {"nearly level lines short of the rows' centres",
       {{{1.2, 0.6}, {30, 0.95}, {39, 1.05}, {39, 2}, {1.2, 2}}},
       34 + 38,
       IntRect{0, 0, 50, 4}},
      // The rows are scanned from the column left of the outline's: the
      // first fill ends touching the 64th pixel from there, and a word of
      // 64 pixels with nothing in it lies between the fills.
      {"two fills a word of pixels apart",
       {{{10, 1}, {72.3, 1}, {72.3, 3}, {10, 3}}, {{140, 1}, {150, 1}, {150, 3}, {140, 3}}},
       2 * 63 + 2 * 10,
       IntRect{0, 0, 200, 4}},
  };
  for (const Case& c : cases) {
    bool scanned = false;
    const std::vector<Span> runs = sweep(c.contours, c.clip, &scanned);
    EXPECT_TRUE(scanned) << c.what;
    EXPECT_EQ(count(covered(runs, c.clip)), c.pixels) << c.what;
  }
}

TEST(SpanRuns, OutlinesTooFarOutAreLeftToTheCaller) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Contour> cases[] = {
      {{{0, 0}, {1e9, 0}, {0, 5}}},
      {{{0, 0}, {5, -1e12}, {0, 5}}},
      {{{0, 0}, {nan, 3}, {0, 5}}},
      {{{0, 0}, {4, 4}, {0, 5}}, {{std::numeric_limits<double>::infinity(), 0}, {1, 1}, {0, 1}}},
  };
  for (const auto& contours : cases) {
    bool scanned = true;
    EXPECT_TRUE(sweep(contours, IntRect{0, 0, 10, 10}, &scanned).empty());
    EXPECT_FALSE(scanned);
  }
}

TEST(SpanRuns, RandomOutlinesMatchThePixelByPixelTest) {
  std::mt19937 rng(29);
  // Points on a 1/256 pixel grid (as the rasteriser keeps them), spread
  // over ranges small, large and reaching past the clip.
  auto coordinate = [&](int range) { return double(int(rng() % (unsigned(range) * 256)) - range * 32) / 256.0; };
  // Clips narrow and wide (rows of many words, most of them wholly inside
  // or outside), with the outlines' largest extent.
  const struct {
    IntRect clip;
    int range;
  } clips[] = {{{0, 0, 40, 30}, 120}, {{-7, 5, 90, 70}, 120}, {{100, 100, 101, 180}, 120}, {{0, 0, 420, 12}, 500}};
  int decided = 0;
  for (int round = 0; round < 160; ++round) {
    const IntRect clip = clips[round % 4].clip;
    const int range = 8 + int(rng() % unsigned(clips[round % 4].range));
    std::vector<Contour> contours(1 + rng() % 3);
    for (Contour& c : contours) {
      c.resize(3 + rng() % 10);
      for (Pt& p : c) p = {clip.x0 + coordinate(range), clip.y0 + coordinate(range)};
    }
    const std::vector<std::uint8_t> px = covered(sweep(contours, clip), clip);
    for (int y = clip.y0; y < clip.y1; ++y) {
      for (int x = clip.x0; x < clip.x1; ++x) {
        const int expected = reference(contours, x, y, 1e-6);
        if (expected < 0) continue;
        ++decided;
        ASSERT_EQ(px[std::size_t(y - clip.y0) * std::size_t(clip.width()) + (x - clip.x0)], expected)
            << "round " << round << ", pixel " << x << "," << y;
      }
    }
  }
  EXPECT_GT(decided, 100000);
}

TEST(SpanRuns, SkippedRowsLoseTheirRunsAndNothingElse) {
  std::mt19937 rng(31);
  auto coordinate = [&](int range) { return double(int(rng() % (unsigned(range) * 256)) - range * 32) / 256.0; };
  const IntRect clips[] = {{0, 0, 90, 70}, {-7, 5, 300, 40}};
  // One rasteriser for every sweep: nothing of a sweep may stay for the next.
  SpanRasteriser reused;
  const struct {
    const char* what;
    Rows skipped;
  } cases[] = {
      {"none", {}},
      {"bands of 16 rows", {{0, 16}, {32, 48}}},
      {"single rows, one past the clip", {{7, 8}, {21, 22}, {-40, 1}, {69, 200}}},
      {"every row", {{-100, 100}}},
  };
  for (int round = 0; round < 60; ++round) {
    const IntRect clip = clips[round % 2];
    std::vector<Contour> contours(1 + rng() % 3);
    for (Contour& c : contours) {
      c.resize(3 + rng() % 12);
      for (Pt& p : c) p = {clip.x0 + coordinate(120), clip.y0 + coordinate(90)};
    }
    const std::vector<Span> all = sweep(contours, clip, nullptr, nullptr, &reused);
    for (const auto& c : cases) {
      std::vector<Span> expected;
      for (const Span& run : all) {
        const bool skipped = std::any_of(c.skipped.begin(), c.skipped.end(),
                                         [&](const std::pair<int, int>& r) { return run.y >= r.first && run.y < r.second; });
        if (!skipped) expected.push_back(run);
      }
      const std::vector<Span> runs = sweep(contours, clip, nullptr, &c.skipped, &reused);
      ASSERT_EQ(runs.size(), expected.size()) << "round " << round << ", " << c.what;
      for (std::size_t i = 0; i < runs.size(); ++i) {
        ASSERT_TRUE(runs[i].y == expected[i].y && runs[i].x0 == expected[i].x0 && runs[i].x1 == expected[i].x1)
            << "round " << round << ", " << c.what << ", run " << i;
      }
    }
  }
}

// Planes of a page with a coverage plane, all clear.
struct Page {
  explicit Page(const IntRect& r, std::size_t planes) : shape(r) {
    target.rect = r;
    for (std::size_t p = 0; p < planes; ++p) target.values.emplace_back(r);
    target.shape = &shape;
  }
  Raster shape;
  Target target;
};

// Every byte of both pages' planes and coverage alike.
void expectSamePlanes(const Page& a, const Page& b, const std::string& what) {
  const IntRect& r = a.target.rect;
  for (std::size_t p = 0; p <= a.target.values.size(); ++p) {
    const Raster& pa = p < a.target.values.size() ? a.target.values[p] : a.shape;
    const Raster& pb = p < b.target.values.size() ? b.target.values[p] : b.shape;
    int differ = 0;
    for (int y = r.y0; y < r.y1; ++y) {
      for (int x = 0; x < r.width(); ++x) differ += pa.row(y)[x] != pb.row(y)[x];
    }
    EXPECT_EQ(differ, 0) << what << ", plane " << p;
  }
}

TEST(FlatFills, BatchedFillsComposeAsTheyWouldOneByOne) {
  const IntRect page{-3, 2, 157, 203};  // bands of rows ending inside the page
  struct Case {
    const char* what;
    int fills;
    int inkSets;              // different ink sets drawn
    std::size_t memoryLimit;  // bytes of runs held between compositions
    int radius;               // fills' largest half width (tenths of a pixel)
  } cases[] = {
      {"many fills, few ink sets, all held", 400, 6, std::size_t(64) << 20, 600},
      {"runs composed whenever a block is full", 400, 6, 1, 600},
      {"more ink sets than a palette holds, small fills", 700, 600, std::size_t(64) << 20, 80},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(7);
    Page batched(page, 6), alone(page, 6);
    FlatFillBatch batch(batched.target, c.memoryLimit);
    ASSERT_TRUE(FlatFillBatch::Accepts(batched.target));
    for (int f = 0; f < c.fills; ++f) {
      const double cx = page.x0 + double(rng() % 1600) / 10, cy = page.y0 + double(rng() % 2010) / 10;
      const double rx = 1 + double(rng() % unsigned(c.radius)) / 10, ry = 1 + double(rng() % unsigned(c.radius)) / 10;
      const std::vector<Span> runs =
          sweep({{{cx - rx, cy}, {cx, cy - ry}, {cx + rx, cy + ry / 3}, {cx - rx / 2, cy + ry}}}, page);
      std::vector<PlaneSource> sources(6);
      const unsigned set = rng() % unsigned(c.inkSets);
      for (std::size_t p = 0; p < sources.size(); ++p) {
        sources[p].kind = PlaneSource::kConstant;
        sources[p].value = std::uint8_t((set * 37 + p * 101 + (set >> 3) * p) % 256);
      }
      batch.Add(runs, sources);
      ComposeSpans(alone.target, runs, sources);
    }
    batch.Flush();
    EXPECT_TRUE(batch.Empty());
    expectSamePlanes(batched, alone, c.what);
  }
}

// Outlines a batch asks for by id, counting what it asks for.
struct Outlines : FillOutlines {
  std::vector<std::vector<Contour>> fills;
  IntRect clip;
  int asked = 0;
  std::size_t current = 0;
  IntRect Outline(std::size_t id) override {
    current = id;
    // The reach of the fill's points as the rasteriser gives it.
    SpanRasteriser r;
    r.Begin(clip);
    for (const Contour& c : fills.at(id)) {
      r.MoveTo(c[0].x, c[0].y);
      for (std::size_t i = 1; i < c.size(); ++i) r.LineTo(c[i].x, c[i].y);
    }
    return r.Reach();
  }
  void Runs(std::vector<Span>& runs, const Rows& skippedRows) override {
    ++asked;
    runs = sweep(fills.at(current), clip, nullptr, &skippedRows);
  }
};

TEST(FlatFills, FillsAddedByOutlineComposeAsTheyWouldOneByOne) {
  // Rows ending inside a word and inside a tile of 16 rows.
  const IntRect page{-3, 2, 157, 203};
  struct Case {
    const char* what;
    int fills;
    int inkSets;
    std::size_t memoryLimit;
    int radius;        // fills' largest half width (tenths of a pixel)
    int everyNthRuns;  // every nth fill added as runs rather than by outline (0: none)
    bool coverLast;    // a fill over the whole page comes last
    int maxAsked;      // the most outlines the batch may sweep
  } cases[] = {
      {"large fills by outline, all held", 400, 6, std::size_t(64) << 20, 600, 0, false, 400},
      {"small fills, runs and outlines mixed", 700, 6, std::size_t(64) << 20, 80, 3, false, 700},
      {"pixels written whenever a block of them is full", 400, 6, 1, 600, 0, false, 400},
      {"more ink sets than a palette holds", 700, 600, std::size_t(64) << 20, 300, 5, false, 700},
      {"a fill over the page last: nothing under it is swept", 300, 6, std::size_t(64) << 20, 600, 0, true, 1},
  };
  for (const Case& c : cases) {
    std::mt19937 rng(13);
    Page batched(page, 6), alone(page, 6);
    Outlines outlines;
    outlines.clip = page;
    FlatFillBatch batch(batched.target, c.memoryLimit);
    for (int f = 0; f <= c.fills; ++f) {
      std::vector<Contour> fill;
      if (f == c.fills) {
        if (!c.coverLast) break;
        fill = {{{-20, -20}, {200, -20}, {200, 250}, {-20, 250}}};
      } else {
        const double cx = page.x0 + double(rng() % 1600) / 10, cy = page.y0 + double(rng() % 2010) / 10;
        const double rx = 1 + double(rng() % unsigned(c.radius)) / 10, ry = 1 + double(rng() % unsigned(c.radius)) / 10;
        fill = {{{cx - rx, cy}, {cx, cy - ry}, {cx + rx, cy + ry / 3}, {cx - rx / 2, cy + ry}}};
        // Some with a hole, some reaching past the page.
        if (f % 4 == 1) fill.push_back({{cx - rx / 4, cy}, {cx, cy + ry / 4}, {cx + rx / 4, cy}});
      }
      const std::vector<Span> runs = sweep(fill, page);
      std::vector<PlaneSource> sources(6);
      const unsigned set = rng() % unsigned(c.inkSets);
      for (std::size_t p = 0; p < sources.size(); ++p) {
        sources[p].kind = PlaneSource::kConstant;
        sources[p].value = std::uint8_t((set * 53 + p * 71 + (set >> 2) * p) % 256);
      }
      if (c.everyNthRuns > 0 && f % c.everyNthRuns == 0) {
        batch.Add(runs, sources);
      } else {
        // The reach: the fill's points with a pixel to spare.
        IntRect reach{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
        for (const Contour& contour : fill) {
          for (const Pt& pt : contour) {
            reach.x0 = std::min(reach.x0, int(std::floor(pt.x)) - 1), reach.x1 = std::max(reach.x1, int(std::ceil(pt.x)) + 1);
            reach.y0 = std::min(reach.y0, int(std::floor(pt.y)) - 1), reach.y1 = std::max(reach.y1, int(std::ceil(pt.y)) + 1);
          }
        }
        outlines.fills.push_back(fill);
        batch.Add(reach, outlines, outlines.fills.size() - 1, sources);
      }
      ComposeSpans(alone.target, runs, sources);
    }
    batch.Flush();
    EXPECT_TRUE(batch.Empty()) << c.what;
    EXPECT_LE(outlines.asked, c.maxAsked) << c.what;
    expectSamePlanes(batched, alone, c.what);
  }
}

TEST(FlatFills, AFillHiddenByLaterOnesIsNotSwept) {
  // Reaches wholly covered by the fills after them, and one that a single
  // uncovered pixel keeps in.
  const IntRect page{0, 0, 130, 70};
  struct Case {
    const char* what;
    std::vector<Contour> later;  // drawn after the fill in question
    bool swept;
  } cases[] = {
      {"one fill over it", {{{0, 0}, {130, 0}, {130, 70}, {0, 70}}}, false},
      {"two fills meeting over it", {{{0, 0}, {65, 0}, {65, 70}, {0, 70}}, {{64.5, 0}, {130, 0}, {130, 70}, {64.5, 70}}}, false},
      {"a pixel left open", {{{0, 0}, {130, 0}, {130, 30}, {0, 30}}, {{0, 31}, {130, 31}, {130, 70}, {0, 70}}}, true},
  };
  for (const Case& c : cases) {
    Page page1(page, 2);
    Outlines outlines;
    outlines.clip = page;
    outlines.fills.push_back({{{20, 20}, {100, 20}, {100, 50}, {20, 50}}});
    FlatFillBatch batch(page1.target, std::size_t(1) << 20);
    const std::vector<PlaneSource> first{{PlaneSource::kConstant, 10, nullptr, nullptr},
                                         {PlaneSource::kConstant, 20, nullptr, nullptr}};
    const std::vector<PlaneSource> then{{PlaneSource::kConstant, 200, nullptr, nullptr},
                                        {PlaneSource::kConstant, 0, nullptr, nullptr}};
    batch.Add(IntRect{19, 19, 101, 51}, outlines, 0, first);
    for (const Contour& later : c.later) batch.Add(sweep({later}, page), then);
    batch.Flush();
    EXPECT_EQ(outlines.asked, c.swept ? 1 : 0) << c.what;
    // The fill shows where nothing later lies, and only there.
    const int shown = int(std::count(page1.target.values[1].row(30), page1.target.values[1].row(30) + page.width(), 20));
    EXPECT_EQ(shown, c.swept ? 80 : 0) << c.what;
  }
}

TEST(OpaqueObjects, TheirCompositionMatchesTheGeneralOne) {
  const IntRect page{0, 0, 61, 47};
  std::mt19937 rng(11);
  auto randomRaster = [&](const IntRect& r, int zeroShare) {
    Raster raster(r);
    for (int y = r.y0; y < r.y1; ++y) {
      for (int x = 0; x < r.width(); ++x) raster.row(y)[x] = int(rng() % 100) < zeroShare ? 0 : std::uint8_t(rng());
    }
    return raster;
  };
  const Raster inks = randomRaster(IntRect{0, 4, 61, 30}, 0);  // an ink per pixel over some of the rows
  const Raster fullMask(page, 255);
  for (int round = 0; round < 40; ++round) {
    // The same backdrop on both pages; an object of partial coverage
    // (rows without any among them) over it, with constant, per-pixel and
    // untouched planes.
    Page plain(page, 4), general(page, 4);
    for (std::size_t p = 0; p <= 4; ++p) {
      const Raster backdrop = randomRaster(page, 30);
      Raster& a = p < 4 ? plain.target.values[p] : plain.shape;
      Raster& b = p < 4 ? general.target.values[p] : general.shape;
      for (int y = page.y0; y < page.y1; ++y) {
        std::copy_n(backdrop.row(y), page.width(), a.row(y));
        std::copy_n(backdrop.row(y), page.width(), b.row(y));
      }
    }
    const int x0 = int(rng() % 70) - 5, y0 = int(rng() % 55) - 5;
    Raster coverage = randomRaster(IntRect{x0, y0, x0 + 1 + int(rng() % 40), y0 + 1 + int(rng() % 30)}, 40);
    if (coverage.rect().height() > 2) std::fill_n(coverage.row(coverage.rect().y0 + 1), coverage.rect().width(), 0);
    std::vector<PlaneSource> sources(4);
    sources[0] = {PlaneSource::kConstant, std::uint8_t(rng()), nullptr, nullptr};
    sources[1] = {PlaneSource::kRaster, 0, &inks, nullptr};
    sources[2] = {PlaneSource::kUntouched, 0, nullptr, nullptr};
    sources[3] = {PlaneSource::kConstant, 0, nullptr, nullptr};
    Compose(plain.target, coverage, sources, Transparency{});
    // A mask that lets everything through takes the general way.
    Compose(general.target, coverage, sources, Transparency{1, 0, &fullMask});
    expectSamePlanes(plain, general, "round " + std::to_string(round));
  }
}

}  // namespace

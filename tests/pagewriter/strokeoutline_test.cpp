// Stroke outlines: the area of inside, outside and centre strokes with every
// join, cap, miter limit and dash pattern, against the area the geometry
// gives.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "platform/strokeoutline.h"

namespace {

using TavSetop::Contour;
using TavSetop::SplitPoint;
using TavSetop::StrokeContour;
using TavSetop::StrokeStyle;

// The area an even-odd fill of the contours covers (holes lie in their
// outers and have the opposite turn).
double area(const std::vector<Contour>& contours) {
  double sum = 0;
  for (const Contour& c : contours) {
    for (std::size_t i = 0; i < c.size(); ++i) {
      const SplitPoint& p = c[i];
      const SplitPoint& q = c[(i + 1) % c.size()];
      sum += double(p.h) * q.v - double(q.h) * p.v;
    }
  }
  return std::abs(sum) / 2;
}

SplitPoint at(int v, int h) { return {v, h}; }
// A cubic quarter circle from the previous point to (v, h).
SplitPoint arc(int c1v, int c1h, int c2v, int c2h, int v, int h) { return {v, h, true, c1v, c1h, c2v, c2h}; }

}  // namespace

TEST(StrokeOutline, AreaFollowsPositionJoinCapMiterLimitAndDashes) {
  const StrokeContour square{{at(0, 0), at(0, 1000), at(1000, 1000), at(1000, 0)}, true};
  const StrokeContour line{{at(0, 0), at(0, 1000)}, false};
  // A circle of radius 500 about (500, 500) in four curves.
  constexpr int k = 276;  // 500 x 0.5523
  const StrokeContour circle{{at(0, 500), arc(0, 500 + k, 500 - k, 1000, 500, 1000),
                              arc(500 + k, 1000, 1000, 500 + k, 1000, 500), arc(1000, 500 - k, 500 + k, 0, 500, 0),
                              arc(500 - k, 0, 0, 500 - k, 0, 500)},
                             true};
  const double pi = std::numbers::pi;
  struct Case {
    const char* what;
    StrokeContour contour;
    StrokeStyle style;
    double expected;
  };
  auto style = [](double width, StrokeStyle::Position position, StrokeStyle::Join join = StrokeStyle::kMiterJoin,
                  StrokeStyle::Cap cap = StrokeStyle::kButtCap, double miter = 4, std::vector<double> dash = {},
                  double phase = 0) {
    StrokeStyle s;
    s.width = width;
    s.position = position;
    s.join = join;
    s.cap = cap;
    s.miterLimit = miter;
    s.dash = std::move(dash);
    s.dashPhase = phase;
    return s;
  };
  using S = StrokeStyle;
  const Case cases[] = {
      {"inside", square, style(100, S::kInside), 1000.0 * 1000 - 800.0 * 800},
      {"outside, mitred", square, style(100, S::kOutside), 1200.0 * 1200 - 1000.0 * 1000},
      {"centre", square, style(100, S::kCentre), 1100.0 * 1100 - 900.0 * 900},
      {"outside, bevelled", square, style(100, S::kOutside, S::kBevelJoin), 440000 - 4 * 5000},
      {"outside, round", square, style(100, S::kOutside, S::kRoundJoin), 440000 - 4 * (10000 - pi * 2500)},
      // A right angle needs a miter limit of 1.414: below it the joins are bevels.
      {"outside, miter limit 1.2", square, style(100, S::kOutside, S::kMiterJoin, S::kButtCap, 1.2), 420000},
      {"line, butt caps", line, style(40, S::kCentre), 40000},
      {"line, square caps", line, style(40, S::kCentre, S::kMiterJoin, S::kSquareCap), 41600},
      {"line, round caps", line, style(40, S::kCentre, S::kMiterJoin, S::kRoundCap), 40000 + pi * 400},
      {"dashes 300 on, 100 off", line, style(40, S::kCentre, S::kMiterJoin, S::kButtCap, 4, {300, 100}), 800 * 40},
      {"the same from 350 on", line, style(40, S::kCentre, S::kMiterJoin, S::kButtCap, 4, {300, 100}, 350), 750 * 40},
      {"one length: on and off alike", line, style(40, S::kCentre, S::kMiterJoin, S::kButtCap, 4, {200}), 600 * 40},
      {"dashes with square caps", line, style(40, S::kCentre, S::kMiterJoin, S::kSquareCap, 4, {300, 100}),
       800 * 40 + 3 * 2 * 20 * 40},
      {"inside a line encloses nothing", line, style(40, S::kInside), 0},
      {"inside a circle", circle, style(50, S::kInside), pi * (500.0 * 500 - 450.0 * 450)},
      {"outside a circle", circle, style(50, S::kOutside), pi * (550.0 * 550 - 500.0 * 500)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto outline = TavSetop::StrokeOutline({c.contour}, c.style);
    EXPECT_NEAR(area(outline), c.expected, std::max(c.expected * 0.004, 1.0));
  }
  // Nothing to stroke without a width.
  EXPECT_TRUE(TavSetop::StrokeOutline({square}, style(0, S::kOutside)).empty());
  // A pattern far finer than the line would make millions of pieces.
  const StrokeContour longLine{{at(0, 0), at(0, 1000000000)}, false};
  EXPECT_THROW(TavSetop::StrokeOutline({longLine}, style(1, S::kCentre, S::kMiterJoin, S::kButtCap, 4, {1, 1})),
               std::length_error);
}

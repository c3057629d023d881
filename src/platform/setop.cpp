#include "platform/setop.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace TavSetop {

namespace {
// Stored points of a contour point: a curve keeps its two control points too.
std::size_t weight(const SplitPoint& p) { return p.curve ? 3 : 1; }
std::size_t weight(const Contour& c) {
  std::size_t n = 0;
  for (const auto& p : c) n += weight(p);
  return n;
}
}  // namespace

std::size_t SplitPiece::pointCount() const {
  std::size_t n = 0;
  for (const auto& c : contours) n += weight(c);
  return n;
}

namespace {

// Cuts are at most this deep; 2^48 regions is far beyond any real path, and a
// path that still does not fit is one whose points pile up on a single spot.
constexpr int kMaxDepth = 48;
// A crossing Bezier segment is replaced by this many straight segments.
constexpr int kFlattenSteps = 16;

// The half-plane kept by one clip: the points where nv·v + nh·h <= d, its
// boundary line included.
struct HalfPlane {
  double nv, nh, d;

  // Along the horizontal (axis 0) or the vertical (axis 1) coordinate, below
  // or above the cut.
  static HalfPlane axisCut(int axis, double cut, bool keepBelow) {
    const double s = keepBelow ? 1.0 : -1.0;
    return axis == 0 ? HalfPlane{0, s, s * cut} : HalfPlane{s, 0, s * cut};
  }
  double value(double v, double h) const { return nv * v + nh * h - d; }
  bool inside(double v, double h) const { return value(v, h) <= 0; }
};

struct PointD {
  double v, h;
};

std::int32_t toUnit(double x) {
  const double r = std::nearbyint(x);
  if (r > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (r < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(r);
}

SplitPoint linePoint(double v, double h) {
  SplitPoint p;
  p.v = toUnit(v);
  p.h = toUnit(h);
  return p;
}

PointD bezier(const PointD& a, const PointD& b, const PointD& c, const PointD& d, double t) {
  const double u = 1 - t;
  const double w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t, w3 = t * t * t;
  return {w0 * a.v + w1 * b.v + w2 * c.v + w3 * d.v, w0 * a.h + w1 * b.h + w2 * c.h + w3 * d.h};
}

// Sutherland-Hodgman against one half-plane, for a closed contour whose
// segments may be Bezier curves.
class HalfPlaneClipper {
 public:
  explicit HalfPlaneClipper(const HalfPlane& plane) : plane_(plane) {}

  Contour clip(const Contour& in) {
    out_.clear();
    if (in.size() < 2) return out_;
    const std::size_t n = in.size();
    for (std::size_t i = 0; i < n; ++i) {
      const SplitPoint& a = in[(i + n - 1) % n];
      const SplitPoint& b = in[i];
      // The closing segment (into point 0) is always straight.
      if (b.curve && i != 0) {
        curveSegment(a, b);
      } else {
        lineSegment({double(a.v), double(a.h)}, {double(b.v), double(b.h)}, nullptr);
      }
    }
    return normalize();
  }

 private:
  void lineSegment(PointD a, PointD b, const SplitPoint* keepAsIs) {
    const bool inA = plane_.inside(a.v, a.h);
    const bool inB = plane_.inside(b.v, b.h);
    if (inA && inB) {
      out_.push_back(keepAsIs ? *keepAsIs : linePoint(b.v, b.h));
    } else if (inA != inB) {
      const double fa = plane_.value(a.v, a.h), fb = plane_.value(b.v, b.h);
      const double t = fa / (fa - fb);
      out_.push_back(linePoint(a.v + t * (b.v - a.v), a.h + t * (b.h - a.h)));
      if (inB) out_.push_back(keepAsIs ? *keepAsIs : linePoint(b.v, b.h));
    }
  }

  void curveSegment(const SplitPoint& a, const SplitPoint& b) {
    const bool ins[4] = {plane_.inside(a.v, a.h), plane_.inside(b.c1v, b.c1h),
                         plane_.inside(b.c2v, b.c2h), plane_.inside(b.v, b.h)};
    if (ins[0] && ins[1] && ins[2] && ins[3]) {
      out_.push_back(b);  // the whole control hull is inside: the curve stays
      return;
    }
    if (!ins[0] && !ins[1] && !ins[2] && !ins[3]) {
      // Entirely outside: only its end points matter to the clip.
      lineSegment({double(a.v), double(a.h)}, {double(b.v), double(b.h)}, nullptr);
      return;
    }
    const PointD p0{double(a.v), double(a.h)}, p1{double(b.c1v), double(b.c1h)},
        p2{double(b.c2v), double(b.c2h)}, p3{double(b.v), double(b.h)};
    PointD prev = p0;
    for (int k = 1; k <= kFlattenSteps; ++k) {
      const PointD next = k == kFlattenSteps ? p3 : bezier(p0, p1, p2, p3, double(k) / kFlattenSteps);
      lineSegment(prev, next, nullptr);
      prev = next;
    }
  }

  // Drops repeated points and starts the contour on a straight point, so that
  // the implicit closing segment is a line as it must be.
  Contour normalize() {
    Contour result;
    for (const auto& p : out_) {
      if (!result.empty() && !p.curve && result.back().v == p.v && result.back().h == p.h) continue;
      result.push_back(p);
    }
    while (result.size() > 1 && !result.front().curve && result.front().v == result.back().v &&
           result.front().h == result.back().h) {
      result.pop_back();
    }
    if (result.size() < 3) return {};
    auto firstLine = std::find_if(result.begin(), result.end(), [](const SplitPoint& p) { return !p.curve; });
    if (firstLine == result.end()) {
      // Only curves survived (every point ends a curve): the segment into the
      // first point must become straight; its chord stands in for it.
      result.front().curve = false;
    } else {
      std::rotate(result.begin(), firstLine, result.end());
    }
    return result;
  }

  HalfPlane plane_;
  Contour out_;
};

struct Box {
  double top, left, bottom, right;
};

Box boundsOf(const std::vector<Contour>& contours) {
  Box b{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest()};
  for (const auto& c : contours) {
    for (const auto& p : c) {
      b.top = std::min(b.top, double(p.v));
      b.bottom = std::max(b.bottom, double(p.v));
      b.left = std::min(b.left, double(p.h));
      b.right = std::max(b.right, double(p.h));
    }
  }
  return b;
}

std::size_t countPoints(const std::vector<Contour>& contours) {
  std::size_t n = 0;
  for (const auto& c : contours) n += weight(c);
  return n;
}

// Where to cut along an axis: the median of the point coordinates, so that
// both sides get about half the points; the middle of the box when the median
// falls on its edge.
double chooseCut(const std::vector<Contour>& contours, int axis, double lo, double hi) {
  std::vector<std::int32_t> coords;
  for (const auto& c : contours) {
    for (const auto& p : c) coords.push_back(axis == 0 ? p.h : p.v);
  }
  auto mid = coords.begin() + coords.size() / 2;
  std::nth_element(coords.begin(), mid, coords.end());
  double cut = *mid + 0.5;
  if (!(cut > lo && cut < hi)) cut = std::floor((lo + hi) / 2) + 0.5;
  return cut;
}

bool splitClosed(const std::vector<Contour>& contours, std::size_t maxPoints, int depth,
                 std::vector<SplitPiece>& pieces) {
  if (contours.empty()) return true;
  if (countPoints(contours) <= maxPoints) {
    pieces.push_back(SplitPiece{contours});
    return true;
  }
  if (depth >= kMaxDepth) return false;
  const Box box = boundsOf(contours);
  const double width = box.right - box.left, height = box.bottom - box.top;
  if (width < 1 && height < 1) return false;  // every point on one spot
  const int axis = width >= height ? 0 : 1;
  const double lo = axis == 0 ? box.left : box.top;
  const double hi = axis == 0 ? box.right : box.bottom;
  const double cut = chooseCut(contours, axis, lo, hi);
  for (bool below : {true, false}) {
    HalfPlaneClipper clipper(HalfPlane::axisCut(axis, cut, below));
    std::vector<Contour> side;
    for (const auto& c : contours) {
      Contour clipped = clipper.clip(c);
      if (!clipped.empty()) side.push_back(std::move(clipped));
    }
    if (!splitClosed(side, maxPoints, depth + 1, pieces)) return false;
  }
  return true;
}

void splitOpen(const Contour& contour, std::size_t maxPoints, std::vector<SplitPiece>& pieces) {
  if (weight(contour) <= maxPoints) {
    pieces.push_back(SplitPiece{{contour}});
    return;
  }
  // Runs of at most maxPoints stored points; each run starts on the last point
  // of the one before, so that the strokes join.
  std::size_t start = 0;
  while (start + 1 < contour.size()) {
    std::size_t end = start + 1;  // the run's first point is a move: weight 1
    std::size_t used = 1;
    while (end < contour.size() && used + weight(contour[end]) <= maxPoints) {
      used += weight(contour[end]);
      ++end;
    }
    Contour run(contour.begin() + static_cast<std::ptrdiff_t>(start),
                contour.begin() + static_cast<std::ptrdiff_t>(end));
    run.front().curve = false;  // a run starts with a move, not a curve
    pieces.push_back(SplitPiece{{std::move(run)}});
    start = end - 1;
  }
}

}  // namespace

std::optional<std::vector<SplitPiece>> SplitContours(const std::vector<Contour>& contours,
                                                     bool closed, std::size_t maxPoints) {
  if (maxPoints < 4) return std::nullopt;
  std::vector<SplitPiece> pieces;
  if (closed) {
    if (!splitClosed(contours, maxPoints, 0, pieces)) return std::nullopt;
  } else {
    for (const auto& c : contours) {
      if (!c.empty()) splitOpen(c, maxPoints, pieces);
    }
  }
  return pieces;
}

std::vector<Contour> IntersectConvex(const std::vector<Contour>& contours,
                                     const std::vector<std::pair<double, double>>& convex) {
  std::vector<Contour> result = contours;
  const std::size_t n = convex.size();
  if (n < 3) return result;
  // Orientation of the window: the sign of its area decides which side of
  // each edge is inside.
  double area = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& [v0, h0] = convex[i];
    const auto& [v1, h1] = convex[(i + 1) % n];
    area += h0 * v1 - h1 * v0;
  }
  if (area == 0) return {};
  const double side = area > 0 ? 1.0 : -1.0;
  for (std::size_t i = 0; i < n && !result.empty(); ++i) {
    const auto& [v0, h0] = convex[i];
    const auto& [v1, h1] = convex[(i + 1) % n];
    // Inside lies to the left of the edge (h across, v up) for a positive area.
    const double nv = -side * (h1 - h0), nh = side * (v1 - v0);
    HalfPlaneClipper clipper(HalfPlane{nv, nh, nv * v0 + nh * h0});
    std::vector<Contour> next;
    for (const auto& c : result) {
      Contour clipped = clipper.clip(c);
      if (!clipped.empty()) next.push_back(std::move(clipped));
    }
    result = std::move(next);
  }
  return result;
}

}  // namespace TavSetop

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
// The points a split may hold at once (its pieces and the regions still to
// be cut), as a multiple of the points of the source. A path whose long
// edges cross every cut (a self-intersecting scribble of far-apart points)
// cannot be split into small pieces without multiplying its points; it is
// given up rather than let memory grow beyond a linear budget.
constexpr std::size_t kBudgetFactor = 4;
constexpr std::size_t kMinBudget = 4096;

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

PointD lerp(const PointD& a, const PointD& b, double t) { return {a.v + t * (b.v - a.v), a.h + t * (b.h - a.h)}; }

// A cubic Bezier segment in double precision.
struct Cubic {
  PointD p0, p1, p2, p3;

  PointD at(double t) const {
    const PointD a = lerp(p0, p1, t), b = lerp(p1, p2, t), c = lerp(p2, p3, t);
    const PointD d = lerp(a, b, t), e = lerp(b, c, t);
    return lerp(d, e, t);
  }
  // The part between the parameters t0 < t1 (de Casteljau), exactly.
  Cubic part(double t0, double t1) const {
    const Cubic right = t0 > 0 ? splitAt(t0).second : *this;
    if (t1 >= 1) return right;
    return right.splitAt((t1 - t0) / (1 - t0)).first;
  }
  std::pair<Cubic, Cubic> splitAt(double t) const {
    const PointD a = lerp(p0, p1, t), b = lerp(p1, p2, t), c = lerp(p2, p3, t);
    const PointD d = lerp(a, b, t), e = lerp(b, c, t), m = lerp(d, e, t);
    return {Cubic{p0, a, d, m}, Cubic{m, e, c, p3}};
  }
};

// The parameters in (0, 1) where the plane's value along the curve is zero:
// the value is a cubic polynomial in t, cut at the roots of its derivative
// into monotonic stretches, each searched by bisection.
std::vector<double> crossings(const Cubic& c, const HalfPlane& plane) {
  const double f0 = plane.value(c.p0.v, c.p0.h), f1 = plane.value(c.p1.v, c.p1.h),
               f2 = plane.value(c.p2.v, c.p2.h), f3 = plane.value(c.p3.v, c.p3.h);
  // Power-basis coefficients of f(t) = a t^3 + b t^2 + k t + f0.
  const double a = -f0 + 3 * f1 - 3 * f2 + f3, b = 3 * f0 - 6 * f1 + 3 * f2, k = -3 * f0 + 3 * f1;
  auto f = [&](double t) { return ((a * t + b) * t + k) * t + f0; };
  std::vector<double> stops{0.0};
  // f'(t) = 3a t^2 + 2b t + k.
  const double qa = 3 * a, qb = 2 * b, qc = k;
  std::vector<double> turns;
  if (std::abs(qa) > 1e-12 * (std::abs(qb) + std::abs(qc))) {
    const double disc = qb * qb - 4 * qa * qc;
    if (disc >= 0) {
      const double r = std::sqrt(disc);
      turns = {(-qb - r) / (2 * qa), (-qb + r) / (2 * qa)};
    }
  } else if (qb != 0) {
    turns = {-qc / qb};
  }
  std::sort(turns.begin(), turns.end());
  for (double t : turns)
    if (t > 0 && t < 1) stops.push_back(t);
  stops.push_back(1.0);
  std::vector<double> roots;
  for (std::size_t i = 0; i + 1 < stops.size(); ++i) {
    double lo = stops[i], hi = stops[i + 1];
    double flo = f(lo), fhi = f(hi);
    if ((flo <= 0) == (fhi <= 0)) continue;  // no change of side in this stretch
    for (int step = 0; step < 60 && hi - lo > 1e-13; ++step) {
      const double mid = (lo + hi) / 2;
      const double fm = f(mid);
      if ((fm <= 0) == (flo <= 0)) {
        lo = mid;
        flo = fm;
      } else {
        hi = mid;
      }
    }
    const double t = (lo + hi) / 2;
    if (t > 0 && t < 1) roots.push_back(t);
  }
  return roots;
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

  // A curve that crosses the plane is cut where it crosses: each part on the
  // kept side stays a curve (exactly the original's course), and the plane's
  // edge joins the parts as straight lines do.
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
    const Cubic curve{{double(a.v), double(a.h)}, {double(b.c1v), double(b.c1h)},
                      {double(b.c2v), double(b.c2h)}, {double(b.v), double(b.h)}};
    std::vector<double> cuts = crossings(curve, plane_);
    if (cuts.empty()) {
      // The curve stays on the side of its end points.
      if (ins[0]) out_.push_back(b);
      return;
    }
    cuts.insert(cuts.begin(), 0.0);
    cuts.push_back(1.0);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
      const double t0 = cuts[i], t1 = cuts[i + 1];
      const PointD mid = curve.at((t0 + t1) / 2);
      if (!plane_.inside(mid.v, mid.h)) continue;
      const Cubic part = curve.part(t0, t1);
      // Entering across the plane: the entry point is reached along it.
      if (i > 0) out_.push_back(linePoint(part.p0.v, part.p0.h));
      if (t0 == 0 && t1 == 1) {
        out_.push_back(b);
        continue;
      }
      SplitPoint p = t1 == 1 ? b : linePoint(part.p3.v, part.p3.h);
      p.curve = true;
      p.c1v = toUnit(part.p1.v);
      p.c1h = toUnit(part.p1.h);
      p.c2v = toUnit(part.p2.v);
      p.c2h = toUnit(part.p2.h);
      out_.push_back(p);
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
    // A straight return to the start is the closing segment itself; a curve
    // that returns there is kept (its course is part of the outline).
    while (result.size() > 1 && !result.back().curve && result.front().v == result.back().v &&
           result.front().h == result.back().h) {
      result.pop_back();
    }
    // Two points enclose an area when a curve joins them (a half disc, a
    // circle of two curves); straight lines need three.
    const bool curved = std::any_of(result.begin(), result.end(), [](const SplitPoint& p) { return p.curve; });
    if (result.size() < (curved ? 2u : 3u)) return {};
    auto firstLine = std::find_if(result.begin(), result.end(), [](const SplitPoint& p) { return !p.curve; });
    if (firstLine == result.end()) {
      // Only curves survived (every point ends a curve): the contour starts
      // where its last curve ends, so that every curve keeps its course.
      SplitPoint start = result.back();
      start.curve = false;
      result.insert(result.begin(), start);
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

// Where to cut along an axis: the median of the stored points' coordinates,
// so that both sides get about half the points; the middle of the box when
// the median falls on its edge.
double chooseCut(const std::vector<Contour>& contours, int axis, double lo, double hi) {
  std::vector<std::int32_t> coords;
  for (const auto& c : contours) {
    for (const auto& p : c) {
      coords.push_back(axis == 0 ? p.h : p.v);
      // A curve's control points count as the stored points they are.
      if (p.curve) {
        coords.push_back(axis == 0 ? p.c1h : p.c1v);
        coords.push_back(axis == 0 ? p.c2h : p.c2v);
      }
    }
  }
  auto mid = coords.begin() + coords.size() / 2;
  std::nth_element(coords.begin(), mid, coords.end());
  double cut = *mid + 0.5;
  if (!(cut > lo && cut < hi)) cut = std::floor((lo + hi) / 2) + 0.5;
  return cut;
}

// The points a closed split holds: its pieces and the regions on the way down.
struct Budget {
  std::size_t held = 0;
  std::size_t limit = 0;
  bool take(std::size_t n) {
    held += n;
    return held <= limit;
  }
  void give(std::size_t n) { held -= n; }
};

bool splitClosed(const std::vector<Contour>& contours, std::size_t maxPoints, int depth, Budget& budget,
                 std::vector<SplitPiece>& pieces) {
  if (contours.empty()) return true;
  const std::size_t count = countPoints(contours);
  if (count <= maxPoints) {
    pieces.push_back(SplitPiece{contours});
    return budget.take(count);
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
    const std::size_t held = countPoints(side);
    if (!budget.take(held) || !splitClosed(side, maxPoints, depth + 1, budget, pieces)) return false;
    budget.give(held);
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
    Budget budget;
    budget.limit = std::max(kBudgetFactor * countPoints(contours), kMinBudget);
    if (!splitClosed(contours, maxPoints, 0, budget, pieces)) return std::nullopt;
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

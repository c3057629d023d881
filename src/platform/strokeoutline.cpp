#include "platform/strokeoutline.h"

#include <polyclipping/clipper.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace TavSetop {

namespace {

namespace CL = ClipperLib;

// Clipper works on integers: job units times this.
constexpr double kScale = 64;
// Largest deviation, in job units, of a flattened curve or arc from the true
// one (the outline is written in whole job units anyway).
constexpr double kTolerance = 0.2;
// Coordinates beyond this (scaled) are refused rather than overflowing.
constexpr double kMaxCoordinate = 4.0e15;
// Dash pieces one outline may hold.
constexpr double kMaxDashPieces = 200000;

struct Vec {
  double x = 0, y = 0;  // x horizontal, y vertical (job units)
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
Vec operator*(Vec a, double s) { return {a.x * s, a.y * s}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
double length(Vec a) { return std::hypot(a.x, a.y); }

// A point of a flattened course; smooth points lie inside a curve, where the
// course has no corner of its own.
struct CoursePoint {
  Vec p;
  bool smooth = false;
};
using Course = std::vector<CoursePoint>;

Vec toVec(std::int32_t v, std::int32_t h) { return {double(h), double(v)}; }

// The contour as line points, curves replaced by enough straight pieces.
Course flatten(const Contour& contour) {
  Course course;
  for (const SplitPoint& sp : contour) {
    const Vec end = toVec(sp.v, sp.h);
    if (sp.curve && !course.empty()) {
      const Vec p0 = course.back().p, c1 = toVec(sp.c1v, sp.c1h), c2 = toVec(sp.c2v, sp.c2h);
      const double bend = std::max(length(p0 - c1 * 2 + c2), length(c1 - c2 * 2 + end));
      const int steps = std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * bend / kTolerance))), 1, 256);
      for (int i = 1; i < steps; ++i) {
        const double t = double(i) / steps, u = 1 - t;
        const Vec q = p0 * (u * u * u) + c1 * (3 * u * u * t) + c2 * (3 * u * t * t) + end * (t * t * t);
        course.push_back({q, true});
      }
    }
    course.push_back({end, false});
  }
  // Repeated points make no course.
  Course unique;
  for (const CoursePoint& cp : course) {
    if (!unique.empty() && length(cp.p - unique.back().p) < 1e-9) continue;
    unique.push_back(cp);
  }
  return unique;
}

// The "on" pieces of a course under a dash pattern, each an open course.
std::vector<Course> dashCourse(const Course& course, std::vector<double> dash, double phase) {
  if (dash.size() % 2 == 1) dash.insert(dash.end(), dash.begin(), dash.end());
  double total = 0;
  for (double d : dash) total += d;
  std::vector<Course> pieces;
  if (course.size() < 2) return pieces;
  double run = 0;
  for (std::size_t i = 1; i < course.size(); ++i) run += length(course[i].p - course[i - 1].p);
  // A pattern far finer than the course would make an outline of millions of
  // pieces; such a stroke is refused rather than left to exhaust memory.
  if (run / total * double(dash.size()) > kMaxDashPieces)
    throw std::length_error("stroke outline: the dash pattern is too fine for the length of the line");
  // Where the pattern stands at the start of the course.
  std::size_t index = 0;
  double left = dash[0];
  double skip = std::fmod(std::max(phase, 0.0), total);
  while (skip > 0) {
    if (skip < left) {
      left -= skip;
      break;
    }
    skip -= left;
    index = (index + 1) % dash.size();
    left = dash[index];
  }
  auto on = [&] { return index % 2 == 0; };
  Course current;
  // Leaves the pattern entry in force at `cut` for the next one.
  auto advance = [&](Vec cut) {
    if (on()) {
      current.push_back({cut, false});
      pieces.push_back(std::move(current));
      current.clear();
    }
    index = (index + 1) % dash.size();
    left = dash[index];
    if (on()) current = {{cut, false}};
  };
  if (on()) current.push_back({course.front().p, false});
  for (std::size_t i = 1; i < course.size(); ++i) {
    const Vec a = course[i - 1].p, b = course[i].p;
    const double segment = length(b - a);
    double done = 0;
    while (segment - done > left) {
      done += left;
      advance(a + (b - a) * (done / segment));
    }
    left -= segment - done;
    if (on()) current.push_back(course[i]);
  }
  if (on() && current.size() > 1) pieces.push_back(std::move(current));
  return pieces;
}

class OutlineBuilder {
 public:
  OutlineBuilder(const StrokeStyle& style, double halfWidth) : mStyle(style), mHalf(halfWidth) {}

  void addCourse(const Course& course, bool closed) {
    if (course.size() == 1) {
      if (closed) return;
      // A course of one point shows only its caps.
      if (mStyle.cap == StrokeStyle::kRoundCap) circle(course[0].p);
      if (mStyle.cap == StrokeStyle::kSquareCap) {
        const Vec p = course[0].p;
        const double r = mHalf;
        polygon({p + Vec{-r, -r}, p + Vec{r, -r}, p + Vec{r, r}, p + Vec{-r, r}});
      }
      return;
    }
    const std::size_t n = course.size();
    const std::size_t segments = closed ? n : n - 1;
    for (std::size_t i = 0; i < segments; ++i) segment(course[i].p, course[(i + 1) % n].p);
    for (std::size_t i = closed ? 0 : 1; i < (closed ? n : n - 1); ++i) {
      const Vec before = course[(i + n - 1) % n].p, at = course[i].p, after = course[(i + 1) % n].p;
      join(before, at, after, course[i].smooth);
    }
    if (!closed) {
      cap(course[0].p, course[1].p);
      cap(course[n - 1].p, course[n - 2].p);
    }
  }

  CL::Paths united() const {
    CL::Clipper clipper;
    clipper.AddPaths(mPolygons, CL::ptSubject, true);
    CL::Paths result;
    clipper.Execute(CL::ctUnion, result, CL::pftNonZero, CL::pftNonZero);
    return result;
  }

 private:
  void polygon(const std::vector<Vec>& corners) {
    CL::Path path;
    for (const Vec& v : corners) path.push_back(toClipper(v));
    if (!CL::Orientation(path)) CL::ReversePath(path);
    mPolygons.push_back(std::move(path));
  }

  static CL::IntPoint toClipper(Vec v) {
    const double x = std::round(v.x * kScale), y = std::round(v.y * kScale);
    if (!(std::fabs(x) < kMaxCoordinate) || !(std::fabs(y) < kMaxCoordinate))
      throw std::length_error("stroke outline: coordinates out of range");
    return {static_cast<CL::cInt>(x), static_cast<CL::cInt>(y)};
  }

  void circle(Vec centre) {
    const double r = mHalf;
    int steps = 8;
    if (r > kTolerance) {
      const double step = 2 * std::acos(1 - kTolerance / r);
      steps = std::clamp(static_cast<int>(std::ceil(2 * std::numbers::pi / step)), 8, 256);
    }
    std::vector<Vec> corners;
    for (int i = 0; i < steps; ++i) {
      const double a = 2 * std::numbers::pi * i / steps;
      corners.push_back(centre + Vec{std::cos(a), std::sin(a)} * r);
    }
    polygon(corners);
  }

  void segment(Vec a, Vec b) {
    const Vec d = b - a;
    const double len = length(d);
    if (len <= 0) return;
    const Vec n = Vec{-d.y, d.x} * (mHalf / len);
    polygon({a + n, b + n, b - n, a - n});
  }

  void cap(Vec end, Vec towards) {
    if (mStyle.cap == StrokeStyle::kButtCap) return;
    if (mStyle.cap == StrokeStyle::kRoundCap) {
      circle(end);
      return;
    }
    const Vec d = end - towards;
    const double len = length(d);
    if (len <= 0) return;
    const Vec u = d * (mHalf / len), n = Vec{-u.y, u.x};
    polygon({end + n, end + n + u, end - n + u, end - n});
  }

  void join(Vec before, Vec at, Vec after, bool smooth) {
    const Vec d1 = at - before, d2 = after - at;
    const double l1 = length(d1), l2 = length(d2);
    if (l1 <= 0 || l2 <= 0) return;
    const Vec u1 = d1 * (1 / l1), u2 = d2 * (1 / l2);
    const double turn = cross(u1, u2), along = dot(u1, u2);
    if (std::fabs(turn) < 1e-12 && along > 0) return;  // straight on
    // Inside a curve the course bends gently: a round join is the true
    // offset there; a miter differs from it by less than the tolerance.
    StrokeStyle::Join style = mStyle.join;
    if (smooth) style = along > 0.96 ? StrokeStyle::kMiterJoin : StrokeStyle::kRoundJoin;
    if (style == StrokeStyle::kRoundJoin) {
      circle(at);
      return;
    }
    // The outer side of the corner.
    const double side = turn > 0 ? -1 : 1;
    const Vec o1 = Vec{-u1.y, u1.x} * (side * mHalf), o2 = Vec{-u2.y, u2.x} * (side * mHalf);
    const double halfCos = std::sqrt(std::max(0.0, (1 + along) / 2));  // cos of half the turn
    const double limit = smooth ? 1e9 : mStyle.miterLimit;
    if (style == StrokeStyle::kMiterJoin && halfCos > 0 && 1 / halfCos <= limit) {
      const Vec bisector = o1 + o2;
      const double bl = length(bisector);
      if (bl > 0) {
        const Vec tip = at + bisector * (mHalf / (halfCos * bl));
        polygon({at, at + o1, tip, at + o2});
        return;
      }
    }
    polygon({at, at + o1, at + o2});  // bevel, and a miter past its limit
  }

  const StrokeStyle& mStyle;
  double mHalf;
  CL::Paths mPolygons;
};

CL::Paths enclosedArea(const std::vector<StrokeContour>& contours, const std::vector<Course>& courses) {
  CL::Paths paths;
  for (std::size_t i = 0; i < contours.size(); ++i) {
    CL::Path path;
    for (const CoursePoint& cp : courses[i])
      path.push_back({static_cast<CL::cInt>(std::round(cp.p.x * kScale)),
                      static_cast<CL::cInt>(std::round(cp.p.y * kScale))});
    if (path.size() >= 3) paths.push_back(std::move(path));
  }
  CL::Clipper clipper;
  clipper.AddPaths(paths, CL::ptSubject, true);
  CL::Paths area;
  clipper.Execute(CL::ctUnion, area, CL::pftEvenOdd, CL::pftEvenOdd);
  return area;
}

}  // namespace


// Clipper's paths back in job units as contours: repeated points and a
// closing point dropped, contours of fewer than three points left out.
static void appendContours(const CL::Paths& paths, std::vector<Contour>& out) {
  for (const CL::Path& path : paths) {
    Contour contour;
    for (const CL::IntPoint& p : path) {
      SplitPoint sp;
      sp.v = static_cast<std::int32_t>(std::llround(double(p.Y) / kScale));
      sp.h = static_cast<std::int32_t>(std::llround(double(p.X) / kScale));
      if (!contour.empty() && contour.back() == sp) continue;
      contour.push_back(sp);
    }
    while (contour.size() > 1 && contour.back() == contour.front()) contour.pop_back();
    if (contour.size() >= 3) out.push_back(std::move(contour));
  }
}

std::vector<Contour> StrokeOutline(const std::vector<StrokeContour>& contours, const StrokeStyle& style) {
  std::vector<Contour> result;
  if (!(style.width > 0) || !std::isfinite(style.width)) return result;
  const bool centred = style.position == StrokeStyle::kCentre;
  const double half = centred ? style.width / 2 : style.width;
  double dashTotal = 0;
  bool dashValid = true;
  for (double d : style.dash) {
    if (!(d >= 0) || !std::isfinite(d)) dashValid = false;
    dashTotal += d;
  }
  const bool dashed = !style.dash.empty() && dashValid && dashTotal > 0;

  try {
    std::vector<Course> courses;
    OutlineBuilder builder(style, half);
    for (const StrokeContour& contour : contours) {
      courses.push_back(flatten(contour.points));
      const Course& course = courses.back();
      if (course.empty()) continue;
      if (!dashed) {
        builder.addCourse(course, contour.closed && course.size() > 1);
        continue;
      }
      Course run = course;
      if (contour.closed && course.size() > 1) run.push_back({course.front().p, false});
      for (const Course& piece : dashCourse(run, style.dash, style.dashPhase)) builder.addCourse(piece, false);
    }
    CL::Paths area = builder.united();
    if (!centred) {
      CL::Clipper clipper;
      clipper.AddPaths(area, CL::ptSubject, true);
      clipper.AddPaths(enclosedArea(contours, courses), CL::ptClip, true);
      CL::Paths cut;
      clipper.Execute(style.position == StrokeStyle::kInside ? CL::ctIntersection : CL::ctDifference, cut,
                      CL::pftNonZero, CL::pftNonZero);
      area = std::move(cut);
    }
    appendContours(area, result);
  } catch (const CL::clipperException& e) {
    throw std::length_error(std::string("stroke outline: ") + e.what());
  }
  return result;
}

}  // namespace TavSetop

namespace TavSetop {

namespace {

// The area closed contours enclose (even-odd), as Clipper's paths.
CL::Paths evenOddArea(const std::vector<Contour>& contours) {
  std::vector<StrokeContour> closed;
  std::vector<Course> courses;
  for (const Contour& c : contours) {
    closed.push_back({c, true});
    courses.push_back(flatten(c));
  }
  for (const Course& course : courses) {
    for (const CoursePoint& cp : course) {
      if (!(std::fabs(cp.p.x * kScale) < kMaxCoordinate) || !(std::fabs(cp.p.y * kScale) < kMaxCoordinate))
        throw std::length_error("contours: coordinates out of range");
    }
  }
  return enclosedArea(closed, courses);
}

CL::Paths commonArea(const std::vector<Contour>& a, const std::vector<Contour>& b) {
  CL::Clipper clipper;
  clipper.AddPaths(evenOddArea(a), CL::ptSubject, true);
  clipper.AddPaths(evenOddArea(b), CL::ptClip, true);
  CL::Paths common;
  clipper.Execute(CL::ctIntersection, common, CL::pftNonZero, CL::pftNonZero);
  return common;
}

}  // namespace

bool ContoursOverlap(const std::vector<Contour>& a, const std::vector<Contour>& b) {
  double total = 0;
  for (const CL::Path& p : commonArea(a, b)) total += std::abs(CL::Area(p));
  return total > 0;
}

std::vector<Contour> IntersectContours(const std::vector<Contour>& a, const std::vector<Contour>& b) {
  std::vector<Contour> result;
  try {
    appendContours(commonArea(a, b), result);
  } catch (const CL::clipperException& e) {
    throw std::length_error(std::string("contours: ") + e.what());
  }
  return result;
}

double CommonArea(const std::vector<Contour>& a, const std::vector<Contour>& b) {
  double total = 0;
  for (const CL::Path& p : commonArea(a, b)) total += CL::Area(p);
  return std::abs(total) / (kScale * kScale);
}

double ContoursArea(const std::vector<Contour>& contours) {
  double total = 0;
  for (const CL::Path& p : evenOddArea(contours)) total += CL::Area(p);
  return std::abs(total) / (kScale * kScale);
}

}  // namespace TavSetop

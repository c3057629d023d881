#include "platform/kernel/flattengeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/kernel/tavdb.h"
#include "platform/strokeoutline.h"

namespace TavFlatten {

namespace CL = ClipperLib;

namespace {

struct Point {
  double x, y;
};

// A cubic Bezier segment as straight pieces: halved where its control points
// lie farther from the chord than the tolerance allows (a curve bends less
// than its control polygon), so that a gentle curve takes few points.
void flattenCurve(Point p0, Point p1, Point p2, Point p3, double tolerance, int depth, CL::Path& out) {
  // Distances compared squared (times the chord's length squared), sparing
  // the roots and divisions of the many calls a page of curves makes.
  const double dx = p3.x - p0.x, dy = p3.y - p0.y;
  const double chord2 = dx * dx + dy * dy;
  auto near = [&](Point p) {
    const double px = p.x - p0.x, py = p.y - p0.y;
    if (chord2 < 1e-18) return px * px + py * py <= tolerance * tolerance;
    const double cross = px * dy - py * dx;
    return cross * cross <= tolerance * tolerance * chord2;
  };
  if (depth >= 12 || (near(p1) && near(p2))) {
    const CL::IntPoint q(static_cast<CL::cInt>(std::llround(p3.x)), static_cast<CL::cInt>(std::llround(p3.y)));
    if (out.empty() || !(out.back() == q)) out.push_back(q);
    return;
  }
  auto mid = [](Point a, Point b) { return Point{(a.x + b.x) / 2, (a.y + b.y) / 2}; };
  const Point a = mid(p0, p1), b = mid(p1, p2), c = mid(p2, p3);
  const Point d = mid(a, b), e = mid(b, c), m = mid(d, e);
  flattenCurve(p0, a, d, m, tolerance, depth + 1, out);
  flattenCurve(m, e, c, p3, tolerance, depth + 1, out);
}

// One contour of a path as straight pieces.
CL::Path flattenContour(const std::vector<TavDB::PathPoint>& points, double tolerance) {
  CL::Path out;
  std::size_t i = 0;
  while (i < points.size()) {
    const TavDB::PathPoint& p = points[i];
    if (p.type == TavDB::PathPoint::kControl && i + 2 < points.size() && !out.empty() &&
        points[i + 1].type == TavDB::PathPoint::kControl && points[i + 2].type == TavDB::PathPoint::kCurve) {
      const Point p0{double(out.back().X), double(out.back().Y)};
      const Point p1{double(points[i].h), double(points[i].v)};
      const Point p2{double(points[i + 1].h), double(points[i + 1].v)};
      const Point p3{double(points[i + 2].h), double(points[i + 2].v)};
      flattenCurve(p0, p1, p2, p3, tolerance, 0, out);
      i += 3;
      continue;
    }
    // A straight piece (a lone control point counts as a corner).
    const CL::IntPoint q(p.h, p.v);
    if (out.empty() || !(out.back() == q)) out.push_back(q);
    ++i;
  }
  return out;
}

Polygons execute(CL::ClipType type, const Polygons& a, const Polygons& b, CL::PolyFillType fill,
                 CL::PolyFillType clipFill) {
  Polygons out;
  if (a.empty() && type != CL::ctUnion) return out;
  CL::Clipper clipper;
  clipper.AddPaths(a, CL::ptSubject, true);
  clipper.AddPaths(b, CL::ptClip, true);
  clipper.Execute(type, out, fill, clipFill);
  return out;
}

TavSetop::Contour strokeContour(const std::vector<TavDB::PathPoint>& points) {
  TavSetop::Contour contour;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const TavDB::PathPoint& p = points[i];
    if (p.type == TavDB::PathPoint::kControl && i + 2 < points.size() &&
        points[i + 1].type == TavDB::PathPoint::kControl && points[i + 2].type == TavDB::PathPoint::kCurve) {
      TavSetop::SplitPoint sp;
      sp.curve = true;
      sp.c1v = p.v;
      sp.c1h = p.h;
      sp.c2v = points[i + 1].v;
      sp.c2h = points[i + 1].h;
      sp.v = points[i + 2].v;
      sp.h = points[i + 2].h;
      contour.push_back(sp);
      i += 2;
      continue;
    }
    TavSetop::SplitPoint sp;
    sp.v = p.v;
    sp.h = p.h;
    contour.push_back(sp);
  }
  return contour;
}

}  // namespace

Polygons FillArea(const TavDB::Object* shape, double tolerance) {
  Polygons contours;
  if (shape == nullptr) return contours;
  if (shape->kind() == TavDB::ObjectKind::Path) {
    if (shape->isOpenPath()) return contours;
    contours.push_back(flattenContour(shape->points(), tolerance));
  } else if (shape->kind() == TavDB::ObjectKind::Compound) {
    for (const auto& member : shape->members()) {
      if (member->kind() != TavDB::ObjectKind::Path || member->isOpenPath()) continue;
      contours.push_back(flattenContour(member->points(), tolerance));
    }
  }
  std::erase_if(contours, [](const CL::Path& p) { return p.size() < 3; });
  return contours;
}

Polygons StrokeArea(const TavDB::Object* shape) {
  Polygons out;
  const TavDB::Stroke* stroke = shape != nullptr ? shape->stroke() : nullptr;
  if (stroke == nullptr || !(stroke->width > 0)) return out;
  std::vector<TavSetop::StrokeContour> contours;
  auto add = [&](const TavDB::Object* path) {
    contours.push_back({strokeContour(path->points()), !path->isOpenPath()});
  };
  if (shape->kind() == TavDB::ObjectKind::Path) {
    add(shape);
  } else {
    for (const auto& member : shape->members())
      if (member->kind() == TavDB::ObjectKind::Path) add(member.get());
  }
  TavSetop::StrokeStyle style;
  style.width = stroke->width;
  style.join = static_cast<TavSetop::StrokeStyle::Join>(stroke->join);
  style.cap = static_cast<TavSetop::StrokeStyle::Cap>(stroke->cap);
  style.position = static_cast<TavSetop::StrokeStyle::Position>(stroke->position);
  style.miterLimit = stroke->miterLimit;
  style.dash = stroke->dash;
  style.dashPhase = stroke->dashPhase;
  for (const TavSetop::Contour& c : TavSetop::StrokeOutline(contours, style)) {
    CL::Path path;
    for (const TavSetop::SplitPoint& p : c) path.emplace_back(p.h, p.v);
    if (path.size() >= 3) out.push_back(std::move(path));
  }
  return out;
}

Polygons ParallelogramArea(const TavDB::tv_point& o, const TavDB::tv_point& w, const TavDB::tv_point& h) {
  const CL::cInt ov = o.v, oh = o.h;
  const CL::cInt wv = w.v, wh = w.h, hv = h.v, hh = h.h;
  return {CL::Path{{oh, ov}, {wh, wv}, {wh + hh - oh, wv + hv - ov}, {hh, hv}}};
}

Polygons RectangleArea(const TavDB::tv_box& b) {
  if (b.isEmpty()) return {};
  return {CL::Path{{b.left, b.top}, {b.right, b.top}, {b.right, b.bottom}, {b.left, b.bottom}}};
}

Polygons ClipToBox(const Polygons& a, const TavDB::tv_box& box) {
  // Sutherland-Hodgman against each edge in turn; a contour cut by a convex
  // window keeps the winding of every point inside it.
  Polygons out;
  out.reserve(a.size());
  CL::Path cur, next;
  for (const CL::Path& path : a) {
    if (path.empty()) continue;
    // A contour wholly outside the window winds around none of its points,
    // and one wholly inside is kept as it is.
    CL::cInt top = path[0].Y, left = path[0].X, bottom = path[0].Y, right = path[0].X;
    for (const CL::IntPoint& p : path) {
      top = std::min(top, p.Y);
      bottom = std::max(bottom, p.Y);
      left = std::min(left, p.X);
      right = std::max(right, p.X);
    }
    if (right < box.left || left > box.right || bottom < box.top || top > box.bottom) continue;
    if (left >= box.left && right <= box.right && top >= box.top && bottom <= box.bottom) {
      if (path.size() >= 3) out.push_back(path);
      continue;
    }
    cur = path;
    for (int edge = 0; edge < 4 && !cur.empty(); ++edge) {
      auto inside = [&](const CL::IntPoint& p) {
        switch (edge) {
          case 0: return p.X >= box.left;
          case 1: return p.X <= box.right;
          case 2: return p.Y >= box.top;
          default: return p.Y <= box.bottom;
        }
      };
      auto cross = [&](const CL::IntPoint& p, const CL::IntPoint& q) {
        const double px = double(p.X), py = double(p.Y), qx = double(q.X), qy = double(q.Y);
        double t = 0;
        CL::IntPoint r;
        if (edge < 2) {
          const double x = edge == 0 ? box.left : box.right;
          t = (x - px) / (qx - px);
          r.X = CL::cInt(x);
          r.Y = CL::cInt(std::llround(py + t * (qy - py)));
        } else {
          const double y = edge == 2 ? box.top : box.bottom;
          t = (y - py) / (qy - py);
          r.Y = CL::cInt(y);
          r.X = CL::cInt(std::llround(px + t * (qx - px)));
        }
        return r;
      };
      next.clear();
      for (std::size_t i = 0; i < cur.size(); ++i) {
        const CL::IntPoint& p = cur[i];
        const CL::IntPoint& q = cur[(i + 1) % cur.size()];
        const bool pin = inside(p), qin = inside(q);
        if (pin) next.push_back(p);
        if (pin != qin) next.push_back(cross(p, q));
      }
      std::swap(cur, next);
    }
    if (cur.size() >= 3) out.push_back(cur);
  }
  return out;
}

Polygons Intersect(const Polygons& a, const Polygons& b) {
  if (a.empty() || b.empty()) return {};
  return execute(CL::ctIntersection, a, b, CL::pftNonZero, CL::pftNonZero);
}

Polygons Subtract(const Polygons& a, const Polygons& b) {
  if (b.empty()) return Simplify(a);
  return execute(CL::ctDifference, a, b, CL::pftNonZero, CL::pftNonZero);
}

Polygons Unite(const Polygons& a, const Polygons& b) {
  return execute(CL::ctUnion, a, b, CL::pftNonZero, CL::pftNonZero);
}

Polygons IntersectContours(const Polygons& area, const Polygons& contours) {
  if (area.empty() || contours.empty()) return {};
  return execute(CL::ctIntersection, area, contours, CL::pftNonZero, CL::pftEvenOdd);
}

Polygons SubtractContours(const Polygons& area, const Polygons& contours) {
  if (contours.empty()) return Simplify(area);
  return execute(CL::ctDifference, area, contours, CL::pftNonZero, CL::pftEvenOdd);
}

Polygons UniteContours(const Polygons& area, const Polygons& contours) {
  return execute(CL::ctUnion, area, contours, CL::pftNonZero, CL::pftEvenOdd);
}

Polygons Simplify(const Polygons& a) {
  Polygons out;
  if (a.empty()) return out;
  CL::Clipper clipper;
  clipper.AddPaths(a, CL::ptSubject, true);
  clipper.Execute(CL::ctUnion, out, CL::pftEvenOdd, CL::pftEvenOdd);
  return out;
}

Cut::Cut(const Polygons& a, const Polygons& b) : empty_(a.empty()) {
  clipper_.AddPaths(a, CL::ptSubject, true);
  clipper_.AddPaths(b, CL::ptClip, true);
}

Polygons Cut::Under() {
  Polygons out;
  if (!empty_) clipper_.Execute(CL::ctIntersection, out, CL::pftNonZero, CL::pftNonZero);
  return out;
}

Polygons Cut::Outside() {
  Polygons out;
  if (!empty_) clipper_.Execute(CL::ctDifference, out, CL::pftNonZero, CL::pftNonZero);
  return out;
}

double AreaOf(const Polygons& a) {
  double sum = 0;
  for (const CL::Path& p : a) sum += CL::Area(p);
  return std::abs(sum);
}

TavDB::tv_box BoundsOf(const Polygons& a) {
  bool first = true;
  CL::cInt top = 0, left = 0, bottom = 0, right = 0;
  for (const CL::Path& path : a) {
    for (const CL::IntPoint& p : path) {
      if (first) {
        top = bottom = p.Y;
        left = right = p.X;
        first = false;
        continue;
      }
      top = std::min(top, p.Y);
      bottom = std::max(bottom, p.Y);
      left = std::min(left, p.X);
      right = std::max(right, p.X);
    }
  }
  auto clamp32 = [](CL::cInt v) {
    return static_cast<std::int32_t>(std::clamp<CL::cInt>(v, std::numeric_limits<std::int32_t>::min(),
                                                          std::numeric_limits<std::int32_t>::max()));
  };
  return {clamp32(top), clamp32(left), clamp32(bottom), clamp32(right)};
}

bool BoxesMeet(const TavDB::tv_box& a, const TavDB::tv_box& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

std::unique_ptr<TavDB::Object> AreaObject(const Polygons& area, std::uint16_t paint) {
  std::vector<const CL::Path*> paths;
  for (const CL::Path& p : area)
    if (p.size() >= 3) paths.push_back(&p);
  if (paths.empty()) return nullptr;
  auto makePath = [&](const CL::Path& p) {
    std::unique_ptr<TavDB::Object> path = TavDB::Object::create(TavDB::ObjectKind::Path);
    path->points().reserve(p.size());
    for (const CL::IntPoint& q : p)
      path->points().push_back({static_cast<std::int32_t>(q.Y), static_cast<std::int32_t>(q.X), TavDB::PathPoint::kLine});
    path->setPaint(paint);
    path->recalcBounds();
    return path;
  };
  if (paths.size() == 1) return makePath(*paths[0]);
  std::unique_ptr<TavDB::Object> compound = TavDB::Object::create(TavDB::ObjectKind::Compound);
  for (const CL::Path* p : paths) compound->addontop(makePath(*p));
  compound->setPaint(paint);
  compound->recalcBounds();
  return compound;
}

}  // namespace TavFlatten

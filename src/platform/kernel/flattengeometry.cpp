#include "platform/kernel/flattengeometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/kernel/tavdb.h"
#include "platform/strokeoutline.h"

namespace TavFlatten {

namespace CL = ClipperLib;

namespace {

// One contour of a path as straight pieces.
CL::Path flattenContour(const std::vector<TavDB::PathPoint>& points) {
  CL::Path out;
  std::size_t i = 0;
  while (i < points.size()) {
    const TavDB::PathPoint& p = points[i];
    if (p.type == TavDB::PathPoint::kControl && i + 2 < points.size() && !out.empty() &&
        points[i + 1].type == TavDB::PathPoint::kControl && points[i + 2].type == TavDB::PathPoint::kCurve) {
      const double x0 = double(out.back().X), y0 = double(out.back().Y);
      const double x1 = points[i].h, y1 = points[i].v;
      const double x2 = points[i + 1].h, y2 = points[i + 1].v;
      const double x3 = points[i + 2].h, y3 = points[i + 2].v;
      const double bend = std::max(std::hypot(x0 - 2 * x1 + x2, y0 - 2 * y1 + y2),
                                   std::hypot(x1 - 2 * x2 + x3, y1 - 2 * y2 + y3));
      const int steps =
          std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * bend / kCurveTolerance))), 1, 256);
      for (int s = 1; s <= steps; ++s) {
        const double t = double(s) / steps, u = 1 - t;
        const double x = x0 * u * u * u + 3 * x1 * u * u * t + 3 * x2 * u * t * t + x3 * t * t * t;
        const double y = y0 * u * u * u + 3 * y1 * u * u * t + 3 * y2 * u * t * t + y3 * t * t * t;
        const CL::IntPoint q(static_cast<CL::cInt>(std::llround(x)), static_cast<CL::cInt>(std::llround(y)));
        if (out.empty() || !(out.back() == q)) out.push_back(q);
      }
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

Polygons execute(CL::ClipType type, const Polygons& a, const Polygons& b, CL::PolyFillType fill) {
  Polygons out;
  if (a.empty() && type != CL::ctUnion) return out;
  CL::Clipper clipper;
  clipper.AddPaths(a, CL::ptSubject, true);
  clipper.AddPaths(b, CL::ptClip, true);
  clipper.Execute(type, out, fill, fill);
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

Polygons FillArea(const TavDB::Object* shape) {
  Polygons contours;
  if (shape == nullptr) return contours;
  if (shape->kind() == TavDB::ObjectKind::Path) {
    if (shape->isOpenPath()) return contours;
    contours.push_back(flattenContour(shape->points()));
  } else if (shape->kind() == TavDB::ObjectKind::Compound) {
    for (const auto& member : shape->members()) {
      if (member->kind() != TavDB::ObjectKind::Path || member->isOpenPath()) continue;
      contours.push_back(flattenContour(member->points()));
    }
  }
  std::erase_if(contours, [](const CL::Path& p) { return p.size() < 3; });
  return Simplify(contours);
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
  return Simplify(out);
}

Polygons ParallelogramArea(const TavDB::tv_point& o, const TavDB::tv_point& w, const TavDB::tv_point& h) {
  const CL::cInt ov = o.v, oh = o.h;
  const CL::cInt wv = w.v, wh = w.h, hv = h.v, hh = h.h;
  CL::Path p{{oh, ov}, {wh, wv}, {wh + hh - oh, wv + hv - ov}, {hh, hv}};
  return Simplify({p});
}

Polygons RectangleArea(const TavDB::tv_box& b) {
  if (b.isEmpty()) return {};
  return {CL::Path{{b.left, b.top}, {b.right, b.top}, {b.right, b.bottom}, {b.left, b.bottom}}};
}

Polygons Intersect(const Polygons& a, const Polygons& b) {
  if (a.empty() || b.empty()) return {};
  return execute(CL::ctIntersection, a, b, CL::pftNonZero);
}

Polygons Subtract(const Polygons& a, const Polygons& b) {
  if (b.empty()) return a;
  return execute(CL::ctDifference, a, b, CL::pftNonZero);
}

Polygons Unite(const Polygons& a, const Polygons& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return execute(CL::ctUnion, a, b, CL::pftNonZero);
}

Polygons Simplify(const Polygons& a) {
  Polygons out;
  if (a.empty()) return out;
  CL::Clipper clipper;
  clipper.AddPaths(a, CL::ptSubject, true);
  clipper.Execute(CL::ctUnion, out, CL::pftEvenOdd, CL::pftEvenOdd);
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

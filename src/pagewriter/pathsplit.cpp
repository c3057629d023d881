#include "pagewriter/pathsplit.h"

#include <vector>

#include "platform/kernel/tavdb.h"
#include "platform/setop.h"
#include "platform/strokeoutline.h"

namespace TavSetop {
namespace {

using TavDB::Object;
using TavDB::PathPoint;

Contour toContour(const Object* path) {
  Contour contour;
  const auto& pts = path->points();
  contour.reserve(pts.size());
  std::size_t i = 0;
  while (i < pts.size()) {
    if (pts[i].type == PathPoint::kControl && i + 2 < pts.size() &&
        pts[i + 2].type == PathPoint::kCurve) {
      SplitPoint p;
      p.curve = true;
      p.c1v = pts[i].v;
      p.c1h = pts[i].h;
      p.c2v = pts[i + 1].v;
      p.c2h = pts[i + 1].h;
      p.v = pts[i + 2].v;
      p.h = pts[i + 2].h;
      contour.push_back(p);
      i += 3;
    } else {
      SplitPoint p;
      p.v = pts[i].v;
      p.h = pts[i].h;
      contour.push_back(p);
      ++i;
    }
  }
  return contour;
}

std::vector<Contour> contoursOf(const Object* object) {
  std::vector<Contour> contours;
  if (object->kind() == TavDB::ObjectKind::Path) {
    contours.push_back(toContour(object));
  } else {
    TavDB::ListScan scan(object, TavDB::kObjPath, 0, 0, 0, 0);
    for (Object* p = scan.next(); p != nullptr; p = scan.next()) contours.push_back(toContour(p));
  }
  return contours;
}

std::unique_ptr<Object> toPath(const Contour& contour, std::uint32_t state, std::uint16_t paint) {
  auto path = Object::create(TavDB::ObjectKind::Path);
  auto& pts = path->points();
  pts.reserve(contour.size() + contour.size() / 2);
  for (const auto& p : contour) {
    if (p.curve && !pts.empty()) {
      pts.push_back({p.c1v, p.c1h, PathPoint::kControl});
      pts.push_back({p.c2v, p.c2h, PathPoint::kControl});
      pts.push_back({p.v, p.h, PathPoint::kCurve});
    } else {
      pts.push_back({p.v, p.h, PathPoint::kLine});
    }
  }
  path->setProperties(state, true);
  path->setPaint(paint, false);
  path->recalcBounds();
  return path;
}

std::unique_ptr<Object> build(const Object* source, const std::vector<SplitPiece>& pieces,
                              bool keepOpenFlag) {
  // State bits of the source (trap, hidden, locked, ...), without its kind.
  std::uint32_t state = source->flags() & ~TavDB::kObjKindBits;
  if (!keepOpenFlag) state &= ~TavDB::kObjOpenPath;
  const std::uint32_t pathState = keepOpenFlag ? state | TavDB::kObjOpenPath : state;
  auto group = TavDB::gronew();
  for (const auto& piece : pieces) {
    if (piece.contours.size() == 1) {
      group->addontop(toPath(piece.contours.front(), pathState, source->paint()));
    } else {
      auto compound = Object::create(TavDB::ObjectKind::Compound);
      for (const auto& c : piece.contours) compound->addontop(toPath(c, pathState, source->paint()));
      compound->setProperties(state, true);
      compound->setPaint(source->paint(), false);
      compound->recalcBounds();
      group->addontop(std::move(compound));
    }
  }
  group->recalcBounds();
  return group;
}

}  // namespace

std::vector<Contour> ContoursOf(const TavDB::Object* object) {
  if (object == nullptr) return {};
  return contoursOf(object);
}

std::unique_ptr<TavDB::Object> ShapeFromContours(const std::vector<Contour>& contours, std::uint32_t state,
                                                 std::uint16_t paint) {
  state &= ~(TavDB::kObjKindBits | TavDB::kObjOpenPath);
  if (contours.empty()) return nullptr;
  if (contours.size() == 1) return toPath(contours.front(), state, paint);
  auto compound = Object::create(TavDB::ObjectKind::Compound);
  for (const Contour& c : contours) compound->addontop(toPath(c, state, paint));
  compound->setProperties(state, true);
  compound->setPaint(paint, false);
  compound->recalcBounds();
  return compound;
}

std::unique_ptr<TavDB::Object> CSplCallBack::StartSplit(const TavDB::Object* path, int maxPoints) {
  if (path == nullptr || maxPoints <= 0) return nullptr;
  const bool open = path->isOpenPath();
  auto pieces = SplitContours(contoursOf(path), !open, static_cast<std::size_t>(maxPoints));
  if (!pieces || pieces->empty()) return nullptr;
  return build(path, *pieces, open);
}

std::unique_ptr<TavDB::Object> CSplCallBack::SplitOutline(const TavDB::Object* path, int maxPoints) {
  if (path == nullptr || maxPoints <= 0) return nullptr;
  std::vector<Contour> contours = contoursOf(path);
  if (!path->isOpenPath()) {
    // Walk each closed contour back to its start as an open run.
    for (auto& c : contours) {
      if (!c.empty()) {
        SplitPoint back = c.front();
        back.curve = false;
        c.push_back(back);
      }
    }
  }
  auto pieces = SplitContours(contours, false, static_cast<std::size_t>(maxPoints));
  if (!pieces || pieces->empty()) return nullptr;
  return build(path, *pieces, true);
}

}  // namespace TavSetop

namespace TavricGeo {

bool Overlap(const TavDB::Object* a, const TavDB::Object* b) {
  if (a == nullptr || b == nullptr) return false;
  return TavSetop::ContoursOverlap(TavSetop::contoursOf(a), TavSetop::contoursOf(b));
}

std::unique_ptr<TavDB::Object> Intersect(const TavDB::Object* object,
                                         const std::vector<std::pair<double, double>>& window) {
  using namespace TavSetop;
  if (object == nullptr) return nullptr;
  const std::vector<Contour> inside = IntersectConvex(contoursOf(object), window);
  if (inside.empty()) return nullptr;
  SplitPiece piece{inside};
  std::unique_ptr<TavDB::Object> group = build(object, {piece}, false);
  return group->detach(group->member(0));
}

std::unique_ptr<TavDB::Object> StrokeOutline(const TavDB::Object* object) {
  using namespace TavSetop;
  const TavDB::Stroke* stroke = object != nullptr ? object->stroke() : nullptr;
  if (stroke == nullptr) return nullptr;
  std::vector<StrokeContour> contours;
  auto add = [&](const TavDB::Object* path) {
    contours.push_back({toContour(path), !path->isOpenPath()});
  };
  if (object->kind() == TavDB::ObjectKind::Path) {
    add(object);
  } else {
    TavDB::ListScan scan(object, TavDB::kObjPath, 0, 0, 0, 0);
    for (TavDB::Object* p = scan.next(); p != nullptr; p = scan.next()) add(p);
  }
  StrokeStyle style;
  style.width = stroke->width;
  style.join = static_cast<StrokeStyle::Join>(stroke->join);
  style.cap = static_cast<StrokeStyle::Cap>(stroke->cap);
  style.position = static_cast<StrokeStyle::Position>(stroke->position);
  style.miterLimit = stroke->miterLimit;
  style.dash = stroke->dash;
  style.dashPhase = stroke->dashPhase;
  const std::vector<Contour> outline = TavSetop::StrokeOutline(contours, style);
  if (outline.empty()) return nullptr;
  std::unique_ptr<TavDB::Object> group = build(object, {SplitPiece{outline}}, false);
  std::unique_ptr<TavDB::Object> shape = group->detach(group->member(0));
  shape->setPaint(stroke->paint, false);
  for (const auto& member : shape->members()) member->setPaint(stroke->paint, false);
  return shape;
}

}  // namespace TavricGeo

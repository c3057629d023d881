#include "platform/kernel/tavdb.h"

#include <algorithm>
#include <cmath>

#include "platform/kernel/job.h"

namespace TavDB {

tv_box tv_box::united(const tv_box& other) const {
  if (other.isEmpty()) return *this;
  if (isEmpty()) return other;
  return {std::min(top, other.top), std::min(left, other.left), std::max(bottom, other.bottom),
          std::max(right, other.right)};
}

bool matinv(const tv_matrixtyp<double>& m, tv_matrixtyp<double>& out) {
  const double det = m.a * m.d - m.b * m.c;
  if (!std::isfinite(det) || det == 0) return false;
  tv_matrixtyp<double> r;
  r.a = m.d / det;
  r.b = -m.b / det;
  r.c = -m.c / det;
  r.d = m.a / det;
  r.e = -(r.a * m.e + r.c * m.f);
  r.f = -(r.b * m.e + r.d * m.f);
  if (!std::isfinite(r.a) || !std::isfinite(r.b) || !std::isfinite(r.c) || !std::isfinite(r.d) ||
      !std::isfinite(r.e) || !std::isfinite(r.f))
    return false;
  out = r;
  return true;
}

namespace {

std::uint32_t kindFlags(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::List: return kObjList;
    case ObjectKind::Layer: return kObjLayer | kObjList;
    case ObjectKind::Group: return kObjGroup | kObjList;
    case ObjectKind::Compound: return kObjCompound | kObjList;
    case ObjectKind::Path: return kObjPath;
    case ObjectKind::Text: return kObjText;
  }
  return 0;
}

}  // namespace

void Tagged::setProperties(std::uint32_t mask, bool on) {
  mask &= ~kObjKindBits;
  if (on)
    flags_ |= mask;
  else
    flags_ &= ~mask;
}

Object::Object(ObjectKind kind) : Tagged(kindFlags(kind)), kind_(kind) {}
Object::~Object() = default;

std::unique_ptr<Object> Object::create(ObjectKind kind) {
  if (kind == ObjectKind::Layer) return std::make_unique<Layer>();
  return std::unique_ptr<Object>(new Object(kind));
}

void Object::setPaint(std::uint16_t paint, bool) { paint_ = paint; }

void Object::recalcBounds() {
  if (kind_ == ObjectKind::Path) {
    if (points_.empty()) {
      bounds_ = {};
      return;
    }
    tv_box b{points_[0].v, points_[0].h, points_[0].v, points_[0].h};
    for (const PathPoint& p : points_) {
      b.top = std::min(b.top, p.v);
      b.bottom = std::max(b.bottom, p.v);
      b.left = std::min(b.left, p.h);
      b.right = std::max(b.right, p.h);
    }
    bounds_ = b;
    return;
  }
  if (isList()) {
    tv_box b;
    bool any = false;
    for (const auto& m : members_) {
      if (m->flags() & kObjExcluded) continue;
      const tv_box& mb = m->bounds();
      if (!any) {
        b = mb;
        any = true;
      } else {
        b = {std::min(b.top, mb.top), std::min(b.left, mb.left), std::max(b.bottom, mb.bottom),
             std::max(b.right, mb.right)};
      }
    }
    bounds_ = any ? b : tv_box{};
  }
}

Object* Object::addontop(std::unique_ptr<Object> child) {
  if (!child || !isList()) return nullptr;
  child->parent_ = this;
  members_.push_back(std::move(child));
  return members_.back().get();
}

std::unique_ptr<Object> Object::detach(const Object* child) {
  const std::ptrdiff_t i = indexOf(child);
  if (i < 0) return nullptr;
  std::unique_ptr<Object> out = std::move(members_[static_cast<std::size_t>(i)]);
  members_.erase(members_.begin() + i);
  out->parent_ = nullptr;
  return out;
}

std::ptrdiff_t Object::indexOf(const Object* child) const {
  for (std::size_t i = 0; i < members_.size(); ++i)
    if (members_[i].get() == child) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

ObjectExtra& Object::extraMut() {
  if (!extra_) extra_ = std::make_unique<ObjectExtra>();
  return *extra_;
}

const std::string& Object::name() const {
  static const std::string empty;
  return extra_ ? extra_->name : empty;
}

namespace {

// Copies an object's own state (flags, paint, bounds, points, extras), not its members.
void copyOwnState(const Object* from, Object* to, std::uint32_t& toFlags, std::uint16_t& toPaint,
                  tv_box& toBounds, std::vector<PathPoint>& toPoints) {
  toFlags = from->flags();
  toPaint = from->paint();
  toBounds = from->bounds();
  toPoints = from->points();
  if (const TextData* t = from->text()) to->setText(std::make_unique<TextData>(*t));
  if (const ObjectExtra* x = from->extra()) {
    ObjectExtra& y = to->extraMut();
    y.name = x->name;
    if (x->stroke) y.stroke = std::make_unique<Stroke>(*x->stroke);
    y.hasMatrix = x->hasMatrix;
    std::copy(std::begin(x->matrix), std::end(x->matrix), std::begin(y.matrix));
    y.origin = x->origin;
    y.mark = x->mark;
    y.cad = x->cad;
    y.cadStroke = x->cadStroke;
    y.cadLayer = x->cadLayer;
    y.trapLayer = x->trapLayer;
    y.stationNumber = x->stationNumber;
    y.paintMapGroup = x->paintMapGroup;
    y.boxCreator = x->boxCreator;
    y.staggeredCut = x->staggeredCut;
    y.staggeredAllInks = x->staggeredAllInks;
    y.staggeredInks = x->staggeredInks;
    y.barcode = x->barcode;
    y.barcodeEdited = x->barcodeEdited;
    y.composed = x->composed;
  }
}

}  // namespace

std::unique_ptr<Object> objdup(const Object* object) {
  if (!object) return nullptr;
  // Iterative copy so that deep trees cannot exhaust the stack.
  std::unique_ptr<Object> root = Object::create(object->kind());
  struct Item { const Object* from; Object* to; };
  std::vector<Item> todo{{object, root.get()}};
  while (!todo.empty()) {
    Item it = todo.back();
    todo.pop_back();
    copyOwnState(it.from, it.to, it.to->flags_, it.to->paint_, it.to->bounds_, it.to->points_);
    it.to->members_.reserve(it.from->members_.size());
    for (const auto& m : it.from->members_) {
      Object* copy = it.to->addontop(Object::create(m->kind()));
      todo.push_back({m.get(), copy});
    }
  }
  return root;
}

std::unique_ptr<Object> objdupnomembers(const Object* object) {
  if (!object) return nullptr;
  std::unique_ptr<Object> copy = Object::create(object->kind());
  Object* to = copy.get();
  copyOwnState(object, to, to->flags_, to->paint_, to->bounds_, to->points_);
  return copy;
}

std::unique_ptr<Object> objdupall(const Object* object) { return objdup(object); }
std::unique_ptr<Object> gronew() { return Object::create(ObjectKind::Group); }
std::unique_ptr<Object> spanew() { return Object::create(ObjectKind::List); }

Object* addontop(Object* list, std::unique_ptr<Object> child) {
  return list ? list->addontop(std::move(child)) : nullptr;
}

bool objrem(Object* object) {
  if (!object || !object->parent()) return false;
  std::unique_ptr<Object> gone = object->parent()->detach(object);
  return gone != nullptr;
}

std::size_t pointcount(const Object* object) {
  if (!object) return 0;
  std::size_t n = 0;
  std::vector<const Object*> todo{object};
  while (!todo.empty()) {
    const Object* o = todo.back();
    todo.pop_back();
    n += o->points().size();
    for (const auto& m : o->members()) todo.push_back(m.get());
  }
  return n;
}

std::size_t patsiz(const Object* object) { return pointcount(object); }

tv_box measureall(const Object* tree) {
  tv_box out;
  bool any = false;
  if (!tree) return out;
  std::vector<const Object*> todo{tree};
  while (!todo.empty()) {
    const Object* o = todo.back();
    todo.pop_back();
    if (o->flags() & kObjExcluded) continue;
    if (o->isList()) {
      for (const auto& m : o->members()) todo.push_back(m.get());
      continue;
    }
    const tv_box& b = o->bounds();
    if (!any) {
      out = b;
      any = true;
    } else {
      out = {std::min(out.top, b.top), std::min(out.left, b.left), std::max(out.bottom, b.bottom),
             std::max(out.right, b.right)};
    }
  }
  return out;
}

Object* queryseq::quebeg(const Object* list) {
  list_ = list;
  index_ = 0;
  return next();
}

Object* queryseq::next() {
  if (!list_ || index_ >= list_->memberCount()) return nullptr;
  return list_->member(index_++);
}

void scan::scabeg(const Object* path, int mode, int limit) {
  points_ = path ? &path->points() : nullptr;
  reverse_ = (mode & 1) != 0;
  limit_ = limit;
  count_ = 0;
  pos_ = 0;
}

int scan::scanex(std::int32_t& v, std::int32_t& h, std::int32_t& c1v, std::int32_t& c1h,
                 std::int32_t& c2v, std::int32_t& c2h, bool& curve) {
  if (!points_ || (limit_ >= 0 && count_ >= limit_)) return -1;
  const std::vector<PathPoint>& p = *points_;
  if (!reverse_) {
    if (pos_ >= p.size()) return -1;
    if (p[pos_].type == PathPoint::kControl && pos_ + 2 < p.size() &&
        p[pos_ + 1].type == PathPoint::kControl && p[pos_ + 2].type == PathPoint::kCurve) {
      c1v = p[pos_].v;
      c1h = p[pos_].h;
      c2v = p[pos_ + 1].v;
      c2h = p[pos_ + 1].h;
      v = p[pos_ + 2].v;
      h = p[pos_ + 2].h;
      curve = true;
      pos_ += 3;
    } else {
      // A straight segment: the control points are its start and end.
      const PathPoint& prev = pos_ > 0 ? p[pos_ - 1] : p[pos_];
      v = p[pos_].v;
      h = p[pos_].h;
      c1v = prev.v;
      c1h = prev.h;
      c2v = v;
      c2h = h;
      curve = false;
      ++pos_;
    }
    return count_++;
  }
  // Backwards: first the last point, then the start of each segment from the
  // last segment to the first; a curve keeps its control points, swapped.
  if (p.empty()) return -1;
  if (count_ == 0) {
    pos_ = p.size() - 1;
    v = c1v = c2v = p[pos_].v;
    h = c1h = c2h = p[pos_].h;
    curve = false;
    return count_++;
  }
  const std::size_t end = pos_;  // the point delivered last ends the segment
  if (p[end].type == PathPoint::kCurve && end >= 3 && p[end - 1].type == PathPoint::kControl &&
      p[end - 2].type == PathPoint::kControl) {
    const std::size_t start = end - 3;
    c1v = p[end - 1].v;
    c1h = p[end - 1].h;
    c2v = p[end - 2].v;
    c2h = p[end - 2].h;
    v = p[start].v;
    h = p[start].h;
    curve = true;
    pos_ = start;
    return count_++;
  }
  if (end == 0) return -1;
  const std::size_t start = end - 1;
  c1v = p[end].v;
  c1h = p[end].h;
  v = c2v = p[start].v;
  h = c2h = p[start].h;
  curve = false;
  pos_ = start;
  return count_++;
}

void scan::scaend() {
  points_ = nullptr;
  pos_ = 0;
  count_ = 0;
}

// ---- ListScan --------------------------------------------------------------

void ListScan::ini(const Object* root, std::uint32_t kind, std::uint32_t descendMask,
                   std::uint32_t descendValue, std::uint32_t selectMask,
                   std::uint32_t selectValue) {
  root_ = root;
  kind_ = kind;
  descendMask_ = descendMask;
  descendValue_ = descendValue;
  selectMask_ = selectMask;
  selectValue_ = selectValue;
  stack_.clear();
  high_.clear();
  highReady_ = false;
  if (root && root->isList()) stack_.push_back({root, 0});
}

bool ListScan::qualifies(const Object* o) const {
  return (o->flags() & kind_) != 0 && (o->flags() & selectMask_) == selectValue_;
}

bool ListScan::enters(const Object* o) const {
  return o->isList() && (o->flags() & descendMask_) == descendValue_;
}

Object* ListScan::next() {
  while (!stack_.empty()) {
    Frame& f = stack_.back();
    if (f.index >= f.list->memberCount()) {
      stack_.pop_back();
      continue;
    }
    Object* o = f.list->member(f.index++);
    if (qualifies(o)) return o;
    if (enters(o)) stack_.push_back({o, 0});
  }
  return nullptr;
}

Object* ListScan::nexhig() {
  if (!highReady_) {
    highReady_ = true;
    while (Object* o = next()) high_.push_back(o);
  }
  if (high_.empty()) return nullptr;
  Object* o = high_.back();
  high_.pop_back();
  return o;
}

// ---- Visitors -----------------------------------------------------------------

bool ObjectVisitor::VisitCompound(Object&) { return false; }
bool ObjectVisitor::VisitGroup(Object&) { return false; }
bool ObjectVisitor::VisitPath(Object&) { return false; }
bool ObjectVisitor::VisitText(Object&) { return false; }
bool TVObjectVisitor::VisitLayer(Layer&) { return false; }

void AcceptVisitor(Object* root, ObjectVisitor& visitor) {
  if (!root) return;
  struct Frame { Object* list; std::size_t index; };
  std::vector<Frame> stack;
  auto handle = [&](Object* o) {
    if ((o->flags() & visitor.visitMask_) != visitor.visitValue_) return;
    bool enter = false;
    switch (o->kind()) {
      case ObjectKind::Compound: enter = visitor.VisitCompound(*o); break;
      case ObjectKind::Group: enter = visitor.VisitGroup(*o); break;
      case ObjectKind::Path: enter = visitor.VisitPath(*o); break;
      case ObjectKind::Text: enter = visitor.VisitText(*o); break;
      case ObjectKind::Layer: enter = visitor.visitLayerNode(static_cast<Layer&>(*o)); break;
      case ObjectKind::List: enter = true; break;
    }
    if (enter && o->isList() && (o->flags() & visitor.descendMask_) == visitor.descendValue_)
      stack.push_back({o, 0});
  };
  if (root->kind() == ObjectKind::List)
    stack.push_back({root, 0});
  else
    handle(root);
  while (!stack.empty() && !visitor.stopped()) {
    Frame& f = stack.back();
    if (f.index >= f.list->memberCount()) {
      stack.pop_back();
      continue;
    }
    Object* o = f.list->member(f.index++);
    handle(o);
  }
}

// ---- Resolution ---------------------------------------------------------------

namespace {
const jobstr* gCurrentJob = nullptr;
}

const jobstr* currentJob() { return gCurrentJob; }

ScopedCurrentJob::ScopedCurrentJob(const jobstr* job) : previous_(gCurrentJob) {
  gCurrentJob = job;
}
ScopedCurrentJob::~ScopedCurrentJob() { gCurrentJob = previous_; }

int getppi() { return gCurrentJob ? gCurrentJob->ppi : 72; }
int getppi(const jobstr* job) { return job ? job->ppi : getppi(); }

}  // namespace TavDB

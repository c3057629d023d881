#include "platform/kernel/flattener.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "platform/fonts/textcalc.h"
#include "platform/kernel/flattencompose.h"
#include "platform/kernel/flattenraster.h"
#include "platform/kernel/job.h"
#include "platform/kernel/separatedpreview.h"
#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"

namespace TavFlatten {

namespace {

// Pieces smaller than this (square job units) are rounding dust of the
// polygon operations, not regions.
constexpr double kDust = 0.5;
// Painting flags of a paint's transparency word: alpha is shape, isolated, knockout.
constexpr std::uint32_t kAlphaIsShape = 1, kIsolated = 2, kKnockout = 4;

bool hasFlag(const TavDB::Object* o, std::uint32_t mask) { return (o->flags() & mask) != 0; }

// A new entry at the end of a table of the job (paints, colours): the many
// colours of a flattening go there at once rather than into the first gap
// each (the export cuts the tables back to their size afterwards).
template <class T>
std::uint16_t append(std::vector<T>& table, T entry) {
  const std::size_t index = std::max<std::size_t>(table.size(), 7);
  if (index > 0xFFFF) throw std::length_error("job table full");
  table.resize(index + 1);
  table[index] = std::move(entry);
  return std::uint16_t(index);
}

bool isLeaf(const TavDB::Object* o) {
  return o->kind() == TavDB::ObjectKind::Path || o->kind() == TavDB::ObjectKind::Compound ||
         o->kind() == TavDB::ObjectKind::Text;
}

// A transparency group of the tree.
struct GroupNode {
  int parent = -1;
  float opacity = 1;
  int blendMode = kNormal;
  bool isolated = false;
  bool knockout = false;
  bool softMask = false;  // its colour varies with the mask
  int maskPattern = -1;   // the soft mask's pattern
};

// One painting operation: a fill, a stroke or the characters of a text in one paint.
struct Op {
  int unit = -1;
  int group = -1;  // innermost transparency group, -1 the page
  std::uint16_t paint = 0;
  const TavDB::Object* shape = nullptr;  // the object whose area is painted
  bool stroke = false;
  TavDB::tv_box bounds;
  bool varies = false;       // its colour or alpha varies over its area (not a flat paint, a soft mask)
  bool transparent = false;
  bool overprint = false;    // leaves inks of the job untouched
  bool blackOverprint = false;
  bool wasOverprint = false; // before placed overprints were ignored
  bool knocksOutAll = false; // opaque, Normal, sets every ink, at the page level
  int source = -1;           // its colour: an entry of the flattener's sources
  // Clipping of pictures and maps to where they are placed.
  bool placed = false;
  TavDB::tv_point corners[3];
  // The area, made when first asked for.
  bool areaDone = false;
  Polygons area;
};

// A unit: what one flattening decision covers.
struct Unit {
  const TavDB::Object* object = nullptr;
  int firstOp = 0, endOp = 0;
  std::vector<const TavDB::Object*> leaves;  // the painted objects inside, in order
  bool group = false;  // a transparency group
  bool transparentPaint = false;  // some paint of its objects is transparent
  bool flatten = false;
  bool repaint = false;
  std::uint16_t screen = kNoScreen;
};

// The pieces of an area in painting order, each composed of one stack of
// operations: later pieces paint over earlier ones where they overlap, as
// the objects they stand for do. An opaque operation that knocks out every
// ink starts a piece of its own over whatever lies below it; a transparent
// one (or one that overprints) cuts each piece it meets in its place into
// the part outside it and the part under it, which takes it on. So an
// opaque object below costs one set operation with the area, and only
// transparency below cuts the pieces further.
struct Piece {
  Polygons area;
  TavDB::tv_box bounds;
  double size = 0;         // of the area
  std::vector<int> stack;  // operations in painting order
  bool varies = false;
  bool top = false;  // holds an operation of the unit itself
};

// The operations of the whole tree by the cells their bounds meet.
class OpIndex {
 public:
  void Build(const std::vector<Op>& ops) {
    bool first = true;
    for (const Op& op : ops) {
      if (op.bounds.isEmpty()) continue;
      box_ = first ? op.bounds : box_.united(op.bounds);
      first = false;
    }
    if (first) return;
    const double n = std::sqrt(double(ops.size()));
    grid_ = std::clamp(int(n), 1, 256);
    cellW_ = std::max(1.0, double(box_.width()) / grid_);
    cellH_ = std::max(1.0, double(box_.height()) / grid_);
    cells_.assign(std::size_t(grid_) * std::size_t(grid_), {});
    for (std::size_t i = 0; i < ops.size(); ++i) {
      if (ops[i].bounds.isEmpty()) continue;
      forCells(ops[i].bounds, [&](std::vector<std::uint32_t>& cell) { cell.push_back(std::uint32_t(i)); });
    }
  }

  // The operations before `end` whose bounds meet `b`, in painting order.
  std::vector<int> Below(const TavDB::tv_box& b, int end, const std::vector<Op>& ops) const {
    std::vector<int> out;
    if (cells_.empty()) return out;
    forCells(b, [&](const std::vector<std::uint32_t>& cell) {
      for (std::uint32_t id : cell)
        if (int(id) < end && BoxesMeet(ops[id].bounds, b)) out.push_back(int(id));
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  }

 private:
  template <class F>
  void forCells(const TavDB::tv_box& b, F f) const {
    const int c0 = std::clamp(int((double(b.left) - box_.left) / cellW_), 0, grid_ - 1);
    const int c1 = std::clamp(int((double(b.right) - box_.left) / cellW_), 0, grid_ - 1);
    const int r0 = std::clamp(int((double(b.top) - box_.top) / cellH_), 0, grid_ - 1);
    const int r1 = std::clamp(int((double(b.bottom) - box_.top) / cellH_), 0, grid_ - 1);
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) f(cells_[std::size_t(r) * std::size_t(grid_) + std::size_t(c)]);
  }
  template <class F>
  void forCells(const TavDB::tv_box& b, F f) {
    const int c0 = std::clamp(int((double(b.left) - box_.left) / cellW_), 0, grid_ - 1);
    const int c1 = std::clamp(int((double(b.right) - box_.left) / cellW_), 0, grid_ - 1);
    const int r0 = std::clamp(int((double(b.top) - box_.top) / cellH_), 0, grid_ - 1);
    const int r1 = std::clamp(int((double(b.bottom) - box_.top) / cellH_), 0, grid_ - 1);
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) f(cells_[std::size_t(r) * std::size_t(grid_) + std::size_t(c)]);
  }

  TavDB::tv_box box_;
  int grid_ = 1;
  double cellW_ = 1, cellH_ = 1;
  std::vector<std::vector<std::uint32_t>> cells_;
};

class Flattener {
 public:
  Flattener(jobstr* job, const Parameters& p, RasterStore* store, const std::function<bool()>& cancelled)
      : job_(job), p_(p), store_(store), cancelled_(cancelled), process_(ProcessSlots::Of(job)) {
    for (int i = 0; i < job->inkCount && i < kSlots; ++i)
      if (job->separations[std::size_t(i)].exists) inks_.set(std::size_t(i));
  }

  Result Run(const TavDB::Object* tree);

 private:
  // ---- reading the tree -------------------------------------------------------
  void collect(const TavDB::Object* o, int group, int unit);
  int startUnit(const TavDB::Object* o);
  void addLeaf(const TavDB::Object* o, int group, int unit);
  void addOp(const TavDB::Object* shape, std::uint16_t paint, bool stroke, int group, int unit);
  bool describePaint(Op& op);
  // One entry per paint of the colours operations put down (operations of
  // one paint share it).
  int intern(std::uint16_t paint, const Source& source) {
    if (auto it = sourceOfPaint_.find(paint); it != sourceOfPaint_.end()) return it->second;
    sources_.push_back(source);
    sourceOfPaint_.emplace(paint, int(sources_.size()) - 1);
    return int(sources_.size()) - 1;
  }
  const Source& sourceOf(const Op& op) const { return sources_[std::size_t(op.source)]; }
  const Polygons& areaOf(Op& op);

  // ---- flattening a unit ---------------------------------------------------------
  void flattenUnit(Unit& unit, std::vector<std::unique_ptr<TavDB::Object>>& out);
  void flattenOps(const Unit& unit, int firstOp, int endOp, std::vector<std::unique_ptr<TavDB::Object>>& out);
  // The colour a stack of operations (in painting order) composes to; the
  // sources are the operations' own, or what `sourceAt` gives for the
  // position in the list.
  using SourceAt = std::function<const Source&(std::size_t)>;
  Composed evaluate(const std::vector<int>& ops) const;
  Composed evaluate(const std::vector<int>& ops, const SourceAt& sourceAt) const;
  // The page's composition put on the paper: what prints.
  Composed overPaper(const Composed& page) const;
  void composeRange(const std::vector<int>& ops, const SourceAt& sourceAt, std::size_t i, std::size_t j, int node,
                    Composed& state, float& elementsAlpha, InkSet& painted) const;
  Source groupSource(int node, const std::vector<int>& ops, const SourceAt& sourceAt, std::size_t i, std::size_t j,
                     const Composed& backdrop) const;
  int childOf(int node, int group) const;
  bool inside(int group, int node) const;
  std::uint16_t regionPaint(const Composed& c, std::uint16_t screen);
  // The grid of a raster area: pixels over a box of job units.
  struct Grid {
    TavDB::tv_box box;
    int width = 0, height = 0;
  };
  // One operation drawn over its part of the grid: its coverage, and per
  // ink of the job its ink (0..255) drawn over no ink and over full ink.
  struct OpRaster {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<std::uint8_t> cover, values, over;
    std::vector<std::uint8_t> mask;  // the paint's soft mask, empty without one
  };
  std::unique_ptr<TavDB::Object> rasterArea(const Polygons& whole, const std::vector<int>& ops);
  Polygons onPage(const Polygons& area) const;
  TavricLib::SeparatedPreviewOptions previewOptions() const;
  void renderOp(const Op& op, const Grid& grid, OpRaster& out);
  void renderMask(const PatternRec* mask, const TavSys::tv_rectangle& part, int w, int h,
                  const TavricLib::SeparatedPreviewOptions& options, std::vector<std::uint8_t>& out);
  std::unique_ptr<TavDB::Object> repainted(const TavDB::Object* leaf);
  std::uint16_t knockoutPaint(std::uint16_t paint);

  // ---- writing the tree -------------------------------------------------------------
  void build(const TavDB::Object* o, TavDB::Object* parent);

  jobstr* job_;
  Parameters p_;
  RasterStore* store_;  // not owned, may be null
  const std::function<bool()>& cancelled_;
  ProcessSlots process_;
  InkSet inks_;

  std::vector<GroupNode> nodes_;
  std::vector<Op> ops_;
  std::vector<Source> sources_;
  std::map<std::uint16_t, int> sourceOfPaint_;
  std::vector<Unit> units_;
  std::vector<std::unique_ptr<TavDB::Object>> outlines_;  // text outlines the operations point into
  OpIndex index_;

  std::unordered_map<const TavDB::Object*, std::vector<std::unique_ptr<TavDB::Object>>> replaced_;
  std::unordered_set<const TavDB::Object*> changedAncestors_;
  std::map<std::pair<std::array<std::uint16_t, kSlots>, std::uint16_t>, std::uint16_t> regionPaints_;
  std::map<std::uint16_t, std::uint16_t> knockoutPaints_;
  std::map<std::uint16_t, std::uint16_t> opaquePaints_;  // a paint without its transparency
  std::uint16_t fullInk_ = 0;  // every ink at 100 %, the raster road's background
  // While a raster area is composed: the pixel, and the soft masks of
  // transparency groups over its grid.
  std::size_t pixel_ = 0;
  std::map<int, std::vector<std::uint8_t>> groupMasks_;
  Result result_;
};

// ---- reading the tree ------------------------------------------------------------------

int Flattener::startUnit(const TavDB::Object* o) {
  Unit u;
  u.object = o;
  u.firstOp = u.endOp = int(ops_.size());
  units_.push_back(std::move(u));
  return int(units_.size()) - 1;
}

void Flattener::collect(const TavDB::Object* o, int group, int unit) {
  if (hasFlag(o, p_.objectMask)) return;
  if (hasFlag(o, TavDB::kObjTextCarrier)) {
    // A text carrier paints only the texts inside it.
    const int u = unit >= 0 ? unit : startUnit(o);
    TavDB::ListScan scan(o, TavDB::kObjText, p_.objectMask);
    for (TavDB::Object* text = scan.next(); text != nullptr; text = scan.next()) addLeaf(text, group, u);
    units_[std::size_t(u)].endOp = int(ops_.size());
    return;
  }
  if (isLeaf(o)) {
    const int u = unit >= 0 ? unit : startUnit(o);
    addLeaf(o, group, u);
    units_[std::size_t(u)].endOp = int(ops_.size());
    return;
  }
  if (!o->isList()) return;
  int inner = group;
  int u = unit;
  if (hasFlag(o, TavDB::kObjGroup)) {
    const Paint* paint = paipoi(job_, o->paint());
    if (paint != nullptr && (paintHasTransparency(job_, o->paint()) || (paint->transparency.flags & 0x7) != 0)) {
      GroupNode node;
      node.parent = group;
      const PaintTransparency& t = paint->transparency;
      node.opacity = std::clamp(t.opacity / float(kOpacityFull), 0.0f, 1.0f);
      node.blendMode = t.blendMode <= kLuminosity ? int(t.blendMode) : int(kNormal);
      node.isolated = (t.flags & kIsolated) != 0;
      node.knockout = (t.flags & kKnockout) != 0;
      node.softMask = t.softMask != kNoSoftMask || t.secondOpacity != kSecondOpacityNone;
      node.maskPattern = t.softMask;
      nodes_.push_back(node);
      inner = int(nodes_.size()) - 1;
      if (u < 0) {
        u = startUnit(o);
        units_[std::size_t(u)].group = true;
      }
    }
  }
  for (const auto& m : o->members()) collect(m.get(), inner, u);
  if (u >= 0 && u != unit) units_[std::size_t(u)].endOp = int(ops_.size());
}

void Flattener::addLeaf(const TavDB::Object* o, int group, int unit) {
  Unit& u = units_[std::size_t(unit)];
  u.leaves.push_back(o);
  // A transparent paint that paints nothing (an open path without stroke,
  // inks all untouched) still leaves its transparency in the tree.
  auto transparent = [&](std::uint16_t paint) {
    const Paint* p = paipoi(job_, paint);
    return p != nullptr && (paintHasTransparency(job_, paint) || (p->transparency.flags & kAlphaIsShape) != 0);
  };
  bool any = transparent(o->paint());
  if (const TavDB::Stroke* s = o->stroke()) any = any || transparent(s->paint);
  if (const TavDB::TextData* t = o->text())
    for (const TavDB::TextRun& run : t->runs) any = any || transparent(run.paint);
  u.transparentPaint = u.transparentPaint || any;
  if (o->kind() == TavDB::ObjectKind::Text) {
    std::unique_ptr<TavDB::Object> outlines = texhivecget(job_, o, 0);
    if (!outlines) return;
    TavDB::ListScan scan(outlines.get(), TavDB::kObjPath | TavDB::kObjCompound, 0, 0, 0, 0);
    for (TavDB::Object* glyph = scan.next(); glyph != nullptr; glyph = scan.next())
      addOp(glyph, glyph->paint(), false, group, unit);
    outlines_.push_back(std::move(outlines));
    return;
  }
  if (!o->isOpenPath()) addOp(o, o->paint(), false, group, unit);
  if (const TavDB::Stroke* s = o->stroke(); s != nullptr && s->width > 0) addOp(o, s->paint, true, group, unit);
}

void Flattener::addOp(const TavDB::Object* shape, std::uint16_t paint, bool stroke, int group, int unit) {
  if (TavricLib::PaintIsInvisible(job_, paint, false)) return;
  Op op;
  op.unit = unit;
  op.group = group;
  op.paint = paint;
  op.shape = shape;
  op.stroke = stroke;
  op.bounds = shape->bounds();
  if (stroke) {
    const TavDB::Stroke* s = shape->stroke();
    const double reach = s->width * std::max(1.0, s->miterLimit) + 2;
    const auto r = static_cast<std::int32_t>(std::min(reach, 1.0e8));
    op.bounds = {op.bounds.top - r, op.bounds.left - r, op.bounds.bottom + r, op.bounds.right + r};
  }
  if (!describePaint(op)) return;
  for (int g = group; g >= 0; g = nodes_[std::size_t(g)].parent)
    if (nodes_[std::size_t(g)].softMask) op.varies = true;
  op.knocksOutAll = op.knocksOutAll && group < 0;
  ops_.push_back(std::move(op));
}

// What the paint puts down: false for a paint that paints nothing.
bool Flattener::describePaint(Op& op) {
  const Paint* paint = paipoi(job_, op.paint);
  if (paint == nullptr) return false;
  Source source;
  const PaintTransparency& t = paint->transparency;
  op.transparent = paintHasTransparency(job_, op.paint) || (t.flags & kAlphaIsShape) != 0;
  source.alpha = std::clamp(t.opacity / float(kOpacityFull), 0.0f, 1.0f);
  source.blendMode = t.blendMode <= kLuminosity ? int(t.blendMode) : int(kNormal);
  const bool masked = t.softMask != kNoSoftMask || t.secondOpacity != kSecondOpacityNone;
  op.varies = paint->type != kPaintFlat || masked;
  // A map's opacity channel is transparency of its own, pixel by pixel.
  if (paint->type == kPaintMap && maphasopa(job_, paint->map)) op.transparent = true;
  if (paint->type == kPaintPicture || paint->type == kPaintMap) {
    op.placed = true;
    op.corners[0] = paint->placeOrigin;
    op.corners[1] = paint->placeWidthCorner;
    op.corners[2] = paint->placeHeightCorner;
  }
  if (paint->type != kPaintFlat) {
    op.overprint = op.wasOverprint = paiistra(job_, op.paint);
    if (p_.ignorePlacedOverprints) op.overprint = false;
    op.source = intern(op.paint, source);
    return true;
  }
  std::array<std::uint16_t, kMaxSeparations> tints = colsep16(job_, paint->colour);
  if (p_.opaqueInksKnockOut) {
    // The highest opaque ink with a tint hides that share of the inks before it.
    for (int s = kSlots - 1; s >= 1; --s) {
      if (!inks_.test(std::size_t(s)) || !separationIsOpaque(job_, s)) continue;
      const std::uint16_t o = tints[std::size_t(s)];
      if (o == 0 || o == kTintUndefined) continue;
      for (int lower = 0; lower < s; ++lower) {
        std::uint16_t& u = tints[std::size_t(lower)];
        if (!inks_.test(std::size_t(lower)) || u == 0 || u == kTintUndefined) continue;
        u = static_cast<std::uint16_t>(std::uint32_t(u) * (kTintFull - std::min<std::uint16_t>(o, kTintFull)) / kTintFull);
      }
      break;
    }
  }
  for (int s = 0; s < kSlots; ++s) {
    if (!inks_.test(std::size_t(s))) continue;
    const std::uint16_t tint = tints[std::size_t(s)];
    if (tint == kTintUndefined) {
      op.wasOverprint = true;
      if (!p_.ignorePlacedOverprints) continue;
      source.inks.set(std::size_t(s));
      source.value[std::size_t(s)] = 1;
      continue;
    }
    source.inks.set(std::size_t(s));
    source.value[std::size_t(s)] = AdditiveOf(std::min<std::uint16_t>(tint, kTintFull) / float(kTintFull));
  }
  if (source.inks.none()) return false;
  op.source = intern(op.paint, source);
  op.overprint = (source.inks & inks_) != inks_;
  const int black = process_.slot[3];
  op.blackOverprint = op.overprint && black >= 0 && source.inks.count() == 1 && source.inks.test(std::size_t(black));
  op.knocksOutAll = !op.transparent && !op.overprint;
  return true;
}

const Polygons& Flattener::areaOf(Op& op) {
  if (op.areaDone) return op.area;
  op.areaDone = true;
  try {
    // Curves are followed to within half a pixel of the flattener's resolution.
    const double tolerance = 0.5 * job_->ppi / (p_.resolution > 0 ? p_.resolution : 300);
    op.area = op.stroke ? StrokeArea(op.shape) : FillArea(op.shape, tolerance);
    if (op.placed)
      op.area = IntersectContours(ParallelogramArea(op.corners[0], op.corners[1], op.corners[2]), op.area);
  } catch (const std::length_error&) {
    // An outline too fine or too large for polygons: its bounds stand for
    // it, and the renderer draws what it covers.
    op.area = RectangleArea(op.bounds);
    op.varies = true;
  }
  if (!op.area.empty()) op.bounds = BoundsOf(op.area);
  return op.area;
}

// ---- composing a stack -------------------------------------------------------------------

int Flattener::childOf(int node, int group) const {
  int g = group;
  while (g >= 0 && nodes_[std::size_t(g)].parent != node) g = nodes_[std::size_t(g)].parent;
  return g;
}

bool Flattener::inside(int group, int node) const {
  for (int g = group; g >= 0; g = nodes_[std::size_t(g)].parent)
    if (g == node) return true;
  return false;
}

void Flattener::composeRange(const std::vector<int>& ops, const SourceAt& sourceAt, std::size_t i, std::size_t j,
                             int node, Composed& state, float& elementsAlpha, InkSet& painted) const {
  const bool knockout = node >= 0 && nodes_[std::size_t(node)].knockout;
  const Composed initial = state;
  while (i < j) {
    const Op& op = ops_[std::size_t(ops[i])];
    Source group;
    const Source* source = nullptr;
    if (op.group == node) {
      source = &sourceAt(i);
      ++i;
    } else {
      const int child = childOf(node, op.group);
      std::size_t k = i + 1;
      while (k < j && inside(ops_[std::size_t(ops[k])].group, child)) ++k;
      group = groupSource(child, ops, sourceAt, i, k, knockout ? initial : state);
      source = &group;
      i = k;
    }
    if (source->alpha <= 0 || source->inks.none()) continue;
    if (knockout) {
      // Each element is composed with the group's backdrop, not with the
      // elements before it: where they overlap the topmost one shows.
      state = initial;
      elementsAlpha = source->alpha;
      painted = source->inks;
    } else {
      elementsAlpha = elementsAlpha + source->alpha - elementsAlpha * source->alpha;
      painted |= source->inks;
    }
    Composite(state, *source, process_);
  }
}

Source Flattener::groupSource(int node, const std::vector<int>& ops, const SourceAt& sourceAt, std::size_t i,
                              std::size_t j, const Composed& backdrop) const {
  const GroupNode& g = nodes_[std::size_t(node)];
  Composed start;
  start.value.fill(1.0f);
  if (!g.isolated) start = backdrop;
  Composed state = start;
  float alpha = 0;
  InkSet painted;
  composeRange(ops, sourceAt, i, j, node, state, alpha, painted);
  Source out;
  out.inks = painted;
  out.blendMode = g.blendMode;
  out.alpha = alpha * g.opacity;
  if (auto it = groupMasks_.find(node); it != groupMasks_.end() && pixel_ < it->second.size())
    out.alpha *= it->second[pixel_] / 255.0f;
  if (alpha <= 0) return out;
  for (int s = 0; s < kSlots; ++s) {
    if (!painted.test(std::size_t(s))) continue;
    const float cn = state.value[std::size_t(s)];
    if (g.isolated) {
      out.value[std::size_t(s)] = cn;
      continue;
    }
    // The backdrop's share is taken out again: the group's own colour.
    const float c0 = start.inks.test(std::size_t(s)) ? start.value[std::size_t(s)] : 1.0f;
    const float a0 = start.alpha;
    out.value[std::size_t(s)] = std::clamp(cn + (cn - c0) * (a0 / alpha - a0), 0.0f, 1.0f);
  }
  return out;
}

Composed Flattener::evaluate(const std::vector<int>& ops) const {
  return evaluate(ops, [&](std::size_t i) -> const Source& { return sourceOf(ops_[std::size_t(ops[i])]); });
}

Composed Flattener::evaluate(const std::vector<int>& ops, const SourceAt& sourceAt) const {
  // The page is an isolated group over the paper: blend modes act on what
  // is painted below, never on the paper itself.
  Composed page;
  page.value.fill(1.0f);
  float alpha = 0;
  InkSet painted;
  composeRange(ops, sourceAt, 0, ops.size(), -1, page, alpha, painted);
  return overPaper(page);
}

Composed Flattener::overPaper(const Composed& page) const {
  Composed paper = Composed::Paper(inks_);
  for (int s = 0; s < kSlots; ++s) {
    if (!page.inks.test(std::size_t(s))) continue;
    paper.value[std::size_t(s)] = page.alpha * page.value[std::size_t(s)] + (1 - page.alpha);
  }
  return paper;
}

std::uint16_t Flattener::regionPaint(const Composed& c, std::uint16_t screen) {
  std::array<std::uint16_t, kSlots> tints;
  tints.fill(kTintUndefined);
  for (int s = 0; s < kSlots; ++s) {
    if (!inks_.test(std::size_t(s))) continue;
    const float ink = std::clamp(InkOf(c.value[std::size_t(s)]), 0.0f, 1.0f);
    tints[std::size_t(s)] = static_cast<std::uint16_t>(std::lround(ink * kTintFull));
  }
  const auto key = std::make_pair(tints, screen);
  if (auto it = regionPaints_.find(key); it != regionPaints_.end()) return it->second;
  // A region's colour: every ink set, the exact tints kept.
  Colour colour;
  colour.exists = true;
  colour.tints = tints;
  for (int s = 0; s < kSlots; ++s)
    if (inks_.test(std::size_t(s))) colour.pct[std::size_t(s)] = std::uint8_t(std::lround(tints[std::size_t(s)] * 100.0 / kTintFull));
  Paint paint;
  paint.exists = true;
  paint.type = kPaintFlat;
  paint.screen = screen;
  paint.colour = append(job_->colours, std::move(colour));
  const std::uint16_t index = append(job_->paints, std::move(paint));
  regionPaints_.emplace(key, index);
  return index;
}

// ---- flattening a unit ---------------------------------------------------------------------

void Flattener::flattenUnit(Unit& unit, std::vector<std::unique_ptr<TavDB::Object>>& out) {
  // A path's opaque fill under a transparent stroke, or its opaque stroke
  // over a transparent fill, stays as it is: only the other one is composed.
  int first = unit.firstOp, end = unit.endOp;
  std::unique_ptr<TavDB::Object> nativeBelow, nativeAbove;
  if (end - first == 2 && unit.leaves.size() == 1 && unit.object->kind() != TavDB::ObjectKind::Text) {
    const Op& fill = ops_[std::size_t(first)];
    const Op& stroke = ops_[std::size_t(first + 1)];
    if (!fill.stroke && stroke.stroke && fill.knocksOutAll != stroke.knocksOutAll) {
      if (fill.knocksOutAll) {
        nativeBelow = TavDB::objdup(unit.object);
        nativeBelow->extraMut().stroke.reset();
        first += 1;
      } else {
        nativeAbove = TavDB::objdup(unit.object);
        nativeAbove->setPaint(kPaintNoFill);
        for (const auto& m : nativeAbove->members()) m->setPaint(kPaintNoFill);
        end -= 1;
      }
    }
  }
  flattenOps(unit, first, end, out);
  if (nativeBelow) out.insert(out.begin(), std::move(nativeBelow));
  if (nativeAbove) out.push_back(std::move(nativeAbove));
}

void Flattener::flattenOps(const Unit& unit, int firstOp, int endOp, std::vector<std::unique_ptr<TavDB::Object>>& out) {
  Polygons area;
  for (int i = firstOp; i < endOp; ++i) {
    Op& op = ops_[std::size_t(i)];
    const Polygons& a = areaOf(op);
    area = UniteContours(area, a);
  }
  if (AreaOf(area) < kDust) return;  // paints nothing
  const TavDB::tv_box bounds = BoundsOf(area);

  std::vector<int> below = index_.Below(bounds, firstOp, ops_);
  // The bounds of the area's own polygons pass over operations that only
  // its overall bounds meet, before their outlines are made.
  std::vector<TavDB::tv_box> parts;
  for (const auto& polygon : area) parts.push_back(BoundsOf(Polygons{polygon}));
  std::erase_if(below, [&](int id) {
    const TavDB::tv_box& b = ops_[std::size_t(id)].bounds;
    return std::none_of(parts.begin(), parts.end(), [&](const TavDB::tv_box& p) { return BoxesMeet(p, b); });
  });
  // Everything under the topmost opaque operation that covers the whole area is hidden.
  std::size_t start = 0;
  for (std::size_t k = below.size(), looked = 0; k-- > 0 && looked < 8;) {
    const Op& op = ops_[std::size_t(below[k])];
    const TavDB::tv_box& b = op.bounds;
    if (!op.knocksOutAll || b.top > bounds.top || b.left > bounds.left || b.bottom < bounds.bottom ||
        b.right < bounds.right)
      continue;
    ++looked;
    if (AreaOf(SubtractContours(area, areaOf(ops_[std::size_t(below[k])]))) < kDust) {
      start = k;
      break;
    }
  }

  const double areaSize = AreaOf(area);
  std::vector<Piece> pieces;
  pieces.push_back({area, bounds, areaSize, {}, false, false});
  bool complex = false;
  // The operation over every piece so far that it meets (or, opaque, over
  // all of them at once).
  auto paint = [&](int id, bool top) {
    Op& op = ops_[std::size_t(id)];
    Polygons inside;
    if (top && endOp - firstOp == 1) {
      // The unit's only operation: its area is the whole area.
      inside = area;
    } else {
      // Only the part of the contours over the area takes part, and only
      // the part of the area within what is left of them.
      const Polygons clipped =
          ClipToBox(areaOf(op), {bounds.top - 1, bounds.left - 1, bounds.bottom + 1, bounds.right + 1});
      if (clipped.empty()) return;
      const TavDB::tv_box reach = BoundsOf(clipped);
      inside = IntersectContours(ClipToBox(area, {reach.top - 1, reach.left - 1, reach.bottom + 1, reach.right + 1}),
                                 clipped);
    }
    const double insideSize = AreaOf(inside);
    if (insideSize < kDust) return;
    // Covering the whole area, it covers every piece whole.
    const bool whole = insideSize >= areaSize - kDust;
    const TavDB::tv_box insideBounds = BoundsOf(inside);
    if (op.knocksOutAll && !top) {
      pieces.push_back({std::move(inside), insideBounds, insideSize, {id}, op.varies, false});
    } else {
      // Each piece it meets is cut in two in its place: the part outside it,
      // and the part under it, which takes it on.
      std::vector<Piece> next;
      next.reserve(pieces.size() + 8);
      auto takeOn = [&](Piece& piece) {
        piece.stack.push_back(id);
        piece.varies = piece.varies || op.varies;
        piece.top = piece.top || top;
      };
      for (Piece& piece : pieces) {
        if (!BoxesMeet(piece.bounds, insideBounds)) {
          next.push_back(std::move(piece));
          continue;
        }
        const double size = piece.size;
        if (whole) {
          takeOn(piece);
          next.push_back(std::move(piece));
          continue;
        }
        // Only what it covers within the piece's bounds takes part.
        const TavDB::tv_box& pb = piece.bounds;
        Cut cut(piece.area,
                ClipToBox(inside, {pb.top - 1, pb.left - 1, pb.bottom + 1, pb.right + 1}));
        Polygons under = cut.Under();
        const double underSize = AreaOf(under);
        if (underSize < kDust) {
          next.push_back(std::move(piece));
        } else if (underSize >= size - kDust) {
          takeOn(piece);
          next.push_back(std::move(piece));
        } else {
          Piece part{std::move(under), {}, underSize, piece.stack, piece.varies, piece.top};
          part.bounds = BoundsOf(part.area);
          takeOn(part);
          piece.area = cut.Outside();
          piece.size = size - underSize;
          piece.bounds = BoundsOf(piece.area);
          next.push_back(std::move(piece));
          next.push_back(std::move(part));
        }
      }
      pieces = std::move(next);
    }
    if (pieces.size() > p_.regionCap || (!p_.vectorizeOpacity && pieces.size() > p_.regionLimit)) complex = true;
  };
  for (std::size_t k = start; k < below.size() && !complex; ++k) paint(below[k], false);
  for (int i = firstOp; i < endOp && !complex; ++i) paint(i, true);
  if (complex) {
    // Too many pieces: the whole area goes to the raster road, with all
    // that lies below it.
    std::vector<int> involved(below.begin() + std::ptrdiff_t(start), below.end());
    for (int i = firstOp; i < endOp; ++i) involved.push_back(i);
    if (std::unique_ptr<TavDB::Object> image = rasterArea(area, involved)) out.push_back(std::move(image));
    ++result_.rasterAreas;
    return;
  }

  // What prints: the pieces that hold the unit, in order; neighbours of one
  // colour are one shape.
  Polygons varying;
  std::uint16_t last = 0;
  Polygons run;
  int runPieces = 0;
  auto flush = [&] {
    if (run.empty()) return;
    if (runPieces > 1) run = Unite(run, {});  // pieces may overlap
    runPieces = 0;
    if (std::unique_ptr<TavDB::Object> shape = AreaObject(run, last)) {
      shape->extraMut().composed = true;
      out.push_back(std::move(shape));
      ++result_.regionsWritten;
    }
    run.clear();
  };
  for (const Piece& piece : pieces) {
    if (!piece.top) continue;
    if (piece.varies) {
      varying.insert(varying.end(), piece.area.begin(), piece.area.end());
      continue;
    }
    const std::uint16_t paint = regionPaint(evaluate(piece.stack), unit.screen);
    if (paint != last) flush();
    last = paint;
    run.insert(run.end(), piece.area.begin(), piece.area.end());
    ++runPieces;
  }
  flush();
  if (!varying.empty()) {
    // The raster composes everything the pieces there hold, so it may lie over them all.
    std::vector<int> involved(below.begin() + std::ptrdiff_t(start), below.end());
    for (int i = firstOp; i < endOp; ++i) involved.push_back(i);
    if (std::unique_ptr<TavDB::Object> image = rasterArea(Unite(varying, {}), involved)) out.push_back(std::move(image));
    ++result_.rasterAreas;
  }
}

std::unique_ptr<TavDB::Object> Flattener::rasterArea(const Polygons& whole, const std::vector<int>& ops) {
  if (store_ == nullptr)
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/CANNOT FLATTEN TRANSPARENCY")
        .with("__REASON__", "there is no place for its raster areas");
  const Polygons area = onPage(whole);
  const TavDB::tv_box box = BoundsOf(area);
  if (box.isEmpty()) return nullptr;
  // Pixels over the area's bounds at the flattener's resolution, fewer for a
  // very large area.
  double resolution = p_.resolution > 0 ? p_.resolution : 300;
  const double ppi = job_->ppi;
  auto size = [&](double r) {
    return std::pair<int, int>{std::max(1, int(std::ceil(double(box.width()) * r / ppi))),
                               std::max(1, int(std::ceil(double(box.height()) * r / ppi)))};
  };
  // What the operations' rasters take together: the part of the grid each
  // covers, once for its coverage and twice per ink.
  const double perPixel = 1 + 2.0 * double(inks_.count()) + 1;
  auto rasterBytes = [&](double r) {
    const double unitsPerPixel = ppi / r;
    double bytes = 0;
    for (int id : ops) {
      const TavDB::tv_box& b = ops_[std::size_t(id)].bounds;
      const double bw = std::min(double(b.right), double(box.right)) - std::max(double(b.left), double(box.left));
      const double bh = std::min(double(b.bottom), double(box.bottom)) - std::max(double(b.top), double(box.top));
      if (bw > 0 && bh > 0) bytes += (bw / unitsPerPixel + 2) * (bh / unitsPerPixel + 2) * perPixel;
    }
    return bytes;
  };
  auto [w, h] = size(resolution);
  while ((double(w) * double(h) > p_.maxPixels || rasterBytes(resolution) > p_.maxRasterBytes) && resolution > 1) {
    resolution /= 2;
    std::tie(w, h) = size(resolution);
  }
  const Grid grid{box, w, h};

  std::vector<OpRaster> rasters(ops.size());
  for (std::size_t k = 0; k < ops.size(); ++k) renderOp(ops_[std::size_t(ops[k])], grid, rasters[k]);
  // The soft masks of transparency groups, over the whole grid.
  groupMasks_.clear();
  for (int id : ops) {
    for (int g = ops_[std::size_t(id)].group; g >= 0; g = nodes_[std::size_t(g)].parent) {
      const GroupNode& node = nodes_[std::size_t(g)];
      if (!node.softMask || groupMasks_.count(g) != 0) continue;
      const TavSys::tv_rectangle whole{double(box.top), double(box.left), double(box.bottom), double(box.right)};
      renderMask(patpoi(job_, node.maskPattern), whole, w, h, previewOptions(), groupMasks_[g]);
    }
  }

  std::vector<int> slots;
  for (int s = 0; s < kSlots; ++s)
    if (inks_.test(std::size_t(s))) slots.push_back(s);
  std::vector<RasterStore::Plane> planes(slots.size());
  for (std::size_t j = 0; j < slots.size(); ++j) {
    planes[j].slot = slots[j];
    planes[j].ink.assign(std::size_t(w) * std::size_t(h), 0);
  }
  std::vector<int> covering;
  std::vector<Source> sources(ops.size());
  std::vector<InkValues> partShares(ops.size());
  // What decides a pixel's colour, and the colour of the pixel before: runs
  // of alike pixels (flat colours) are composed once.
  std::vector<std::uint8_t> key, lastKey;
  std::vector<std::uint8_t> lastInks(slots.size(), 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      key.clear();
      for (std::size_t k = 0; k < ops.size(); ++k) {
        const OpRaster& r = rasters[k];
        if (x < r.x0 || x >= r.x1 || y < r.y0 || y >= r.y1) continue;
        const std::size_t at = std::size_t(y - r.y0) * std::size_t(r.x1 - r.x0) + std::size_t(x - r.x0);
        if (r.cover[at] < 128) continue;
        const std::size_t plane = std::size_t(r.x1 - r.x0) * std::size_t(r.y1 - r.y0);
        key.push_back(std::uint8_t(k));
        key.push_back(std::uint8_t(k >> 8));
        key.push_back(r.mask.empty() ? 255 : r.mask[at]);
        for (std::size_t j = 0; j < slots.size(); ++j) {
          key.push_back(r.values[j * plane + at]);
          key.push_back(r.over[j * plane + at]);
        }
      }
      const std::size_t pixel = std::size_t(y) * std::size_t(w) + std::size_t(x);
      if (!groupMasks_.empty()) {
        for (const auto& [node, mask] : groupMasks_) key.push_back(mask[pixel]);
      }
      if (key == lastKey && !key.empty()) {
        for (std::size_t j = 0; j < slots.size(); ++j) planes[j].ink[pixel] = lastInks[j];
        continue;
      }
      std::swap(key, lastKey);
      covering.clear();
      for (std::size_t k = 0; k < ops.size(); ++k) {
        const OpRaster& r = rasters[k];
        if (x < r.x0 || x >= r.x1 || y < r.y0 || y >= r.y1) continue;
        const std::size_t at = std::size_t(y - r.y0) * std::size_t(r.x1 - r.x0) + std::size_t(x - r.x0);
        if (r.cover[at] < 128) continue;
        const Op& op = ops_[std::size_t(ops[k])];
        Source& src = sources[covering.size()];
        src.alpha = sourceOf(op).alpha;
        if (!r.mask.empty()) src.alpha *= r.mask[at] / 255.0f;
        src.blendMode = sourceOf(op).blendMode;
        src.inks.reset();
        src.share = nullptr;
        InkValues& shares = partShares[covering.size()];
        const std::size_t plane = std::size_t(r.x1 - r.x0) * std::size_t(r.y1 - r.y0);
        for (std::size_t j = 0; j < slots.size(); ++j) {
          // Drawn over no ink and over full ink: the same where the ink is
          // set, no ink and full ink where it is left alone, and in
          // between where the object covers it only in part.
          const float a = r.values[j * plane + at] / 255.0f, b = r.over[j * plane + at] / 255.0f;
          const float share = std::clamp(1 - (b - a), 0.0f, 1.0f);
          if (share < 0.01f) continue;
          const std::size_t slot = std::size_t(slots[j]);
          src.inks.set(slot);
          src.value[slot] = AdditiveOf(std::clamp(a / share, 0.0f, 1.0f));
          shares[slot] = share;
          if (share < 0.99f) src.share = shares.data();
        }
        covering.push_back(ops[k]);
      }
      if (covering.empty()) {
        std::fill(lastInks.begin(), lastInks.end(), std::uint8_t(0));
        continue;
      }
      pixel_ = pixel;
      const Composed c = evaluate(covering, [&](std::size_t i) -> const Source& { return sources[i]; });
      for (std::size_t j = 0; j < slots.size(); ++j) {
        const float ink = std::clamp(InkOf(c.value[std::size_t(slots[j])]), 0.0f, 1.0f);
        planes[j].ink[pixel] = lastInks[j] = std::uint8_t(ink * 255 + 0.5f);
      }
    }
    if (cancelled_ && (y & 63) == 0 && cancelled_()) return nullptr;
  }
  const std::uint16_t paint = store_->AddMapPaint(planes, w, h, box, resolution);
  std::unique_ptr<TavDB::Object> shape = AreaObject(area, paint);
  if (shape) shape->extraMut().composed = true;
  return shape;
}

// The part of an area that lies on the job's page (its media box, which every
// written page keeps), when the job is the page. Nothing outside the page
// prints, and an area reaching far off it (a curve's control point millions
// of units away) would force its raster down to a useless resolution or past
// what the renderer holds.
Polygons Flattener::onPage(const Polygons& area) const {
  TavSys::tv_rectangle media;
  if (!p_.cutToPage || !getboxconst(job_, kMediaBox, media)) return area;
  const TavDB::tv_box page{std::int32_t(std::floor(media.top)) - 1, std::int32_t(std::floor(media.left)) - 1,
                           std::int32_t(std::ceil(media.bottom)) + 1, std::int32_t(std::ceil(media.right)) + 1};
  const TavDB::tv_box bounds = BoundsOf(area);
  if (bounds.top >= page.top && bounds.left >= page.left && bounds.bottom <= page.bottom &&
      bounds.right <= page.right)
    return area;
  return Intersect(area, RectangleArea(page));
}

// How the raster road draws: everything it is given, a plane for every ink.
TavricLib::SeparatedPreviewOptions Flattener::previewOptions() const {
  TavricLib::SeparatedPreviewOptions options;
  options.layerMask = 0;
  options.layerTarget = 0;
  options.opaqueInksKnockOut = p_.opaqueInksKnockOut;
  options.cmykProfile = p_.cmykProfile;
  for (int s = 0; s < kSlots; ++s)
    if (inks_.test(std::size_t(s))) options.separations.push_back(s);
  return options;
}

// The operation drawn alone and opaque by the separations renderer over its
// part of the grid: what it covers and its inks, drawn once over no ink and
// once over full ink (which tells the inks it sets from those it leaves).
void Flattener::renderOp(const Op& op, const Grid& grid, OpRaster& out) {
  const double uw = double(grid.box.width()) / grid.width, uh = double(grid.box.height()) / grid.height;
  out.x0 = std::clamp(int(std::floor((op.bounds.left - grid.box.left) / uw)), 0, grid.width);
  out.x1 = std::clamp(int(std::ceil((op.bounds.right - grid.box.left) / uw)), 0, grid.width);
  out.y0 = std::clamp(int(std::floor((op.bounds.top - grid.box.top) / uh)), 0, grid.height);
  out.y1 = std::clamp(int(std::ceil((op.bounds.bottom - grid.box.top) / uh)), 0, grid.height);
  if (out.x1 <= out.x0 || out.y1 <= out.y0) {
    out.x1 = out.x0;
    out.y1 = out.y0;
    return;
  }
  const int w = out.x1 - out.x0, h = out.y1 - out.y0;
  const TavSys::tv_rectangle part{grid.box.top + out.y0 * uh, grid.box.left + out.x0 * uw,
                                  grid.box.top + out.y1 * uh, grid.box.left + out.x1 * uw};

  std::unique_ptr<TavDB::Object> object = TavDB::objdup(op.shape);
  std::uint16_t opaque = op.paint;
  if (auto it = opaquePaints_.find(op.paint); it != opaquePaints_.end()) {
    opaque = it->second;
  } else if (const Paint* paint = paipoi(job_, op.paint)) {
    Paint copy = *paint;
    copy.transparency = PaintTransparency{};
    opaque = append(job_->paints, std::move(copy));
    opaquePaints_.emplace(op.paint, opaque);
  }
  if (op.stroke) {
    object->setPaint(kPaintNoFill);
    for (const auto& m : object->members()) m->setPaint(kPaintNoFill);
    object->extraMut().stroke->paint = opaque;
  } else {
    object->setPaint(opaque);
    for (const auto& m : object->members()) m->setPaint(opaque);
    if (object->extra() != nullptr) object->extraMut().stroke.reset();
  }
  object->setProperties(TavDB::kObjHidden | TavDB::kObjNonPrinting | TavDB::kObjExcluded, false);
  if (fullInk_ == 0) {
    std::array<std::uint16_t, kSlots> tints;
    tints.fill(kTintUndefined);
    for (int s = 0; s < kSlots; ++s)
      if (inks_.test(std::size_t(s))) tints[std::size_t(s)] = kTintFull;
    Colour colour;
    colour.exists = true;
    colour.tints = tints;
    for (int s = 0; s < kSlots; ++s)
      if (inks_.test(std::size_t(s))) colour.pct[std::size_t(s)] = 100;
    Paint paint;
    paint.exists = true;
    paint.colour = append(job_->colours, std::move(colour));
    fullInk_ = append(job_->paints, std::move(paint));
  }
  TavDB::tv_box cover{std::int32_t(std::floor(part.top)) - 1, std::int32_t(std::floor(part.left)) - 1,
                      std::int32_t(std::ceil(part.bottom)) + 1, std::int32_t(std::ceil(part.right)) + 1};
  std::unique_ptr<TavDB::Object> full = AreaObject(RectangleArea(cover), fullInk_);

  const TavricLib::SeparatedPreviewOptions options = previewOptions();
  TavricLib::SeparatedPreview alone(job_, part, w, h, options);
  alone.Render(object.get());
  TavricLib::SeparatedPreview over(job_, part, w, h, options);
  over.Render(full.get());
  over.Render(object.get());

  const std::size_t plane = std::size_t(w) * std::size_t(h);
  const std::size_t n = options.separations.size();
  out.cover.assign(plane, 0);
  out.values.assign(n * plane, 0);
  out.over.assign(n * plane, 0);
  for (int y = 0; y < h; ++y) {
    std::copy_n(alone.GetShapeLine(y), w, out.cover.begin() + std::ptrdiff_t(std::size_t(y) * std::size_t(w)));
    for (std::size_t j = 0; j < n; ++j) {
      const int p = alone.GetSeparationPlane(options.separations[j]);
      const int q = over.GetSeparationPlane(options.separations[j]);
      if (p < 0 || q < 0) continue;
      const std::uint8_t* a = alone.GetScanLine(p, y);
      const std::uint8_t* b = over.GetScanLine(q, y);
      for (int x = 0; x < w; ++x) {
        const std::size_t at = j * plane + std::size_t(y) * std::size_t(w) + std::size_t(x);
        out.values[at] = a[x];
        out.over[at] = b[x];
      }
    }
  }
  const Paint* paint = paipoi(job_, op.paint);
  if (paint != nullptr && paint->transparency.softMask != kNoSoftMask)
    renderMask(patpoi(job_, paint->transparency.softMask), part, w, h, options, out.mask);
}

// A soft mask over a part of the grid, 0 (hides) .. 255 (shows). The mask's
// objects are composed in process colour (spot inks through their process
// equivalents) over the mask's backdrop, black when it hides what lies
// outside its objects, and the mask is the luminosity of that, inverted on
// request; the luminosity weighs the red, green and blue complements of the
// process colour as the separating consumers do.
void Flattener::renderMask(const PatternRec* mask, const TavSys::tv_rectangle& part, int w, int h,
                           const TavricLib::SeparatedPreviewOptions& options, std::vector<std::uint8_t>& out) {
  const std::uint32_t flags = mask != nullptr ? mask->maskFlags : 0;
  const bool inverted = (flags & 4) != 0;
  const bool blackBackdrop = ((flags & 2) != 0) != inverted;
  constexpr double kRed = 79 / 255.0, kGreen = 160 / 255.0, kBlue = 16 / 255.0;
  auto luminosity = [&](double c, double m, double y, double k) {
    const double l = kRed * (1 - std::min(1.0, c + k)) + kGreen * (1 - std::min(1.0, m + k)) +
                     kBlue * (1 - std::min(1.0, y + k));
    return std::uint8_t(std::lround(std::clamp(inverted ? 1 - l : l, 0.0, 1.0) * 255));
  };
  const double bk = blackBackdrop ? 1 : 0;
  out.assign(std::size_t(w) * std::size_t(h), luminosity(0, 0, 0, bk));
  if (mask == nullptr || !mask->objects) return;
  TavricLib::SeparatedPreview preview(job_, part, w, h, options);
  preview.Render(mask->objects.get());
  std::vector<std::array<double, 4>> cmyk;
  for (int s : options.separations) {
    std::uint8_t c = 0, m = 0, y = 0, k = 0;
    sepcmyk(job_, s, c, m, y, k);
    cmyk.push_back({c / 100.0, m / 100.0, y / 100.0, k / 100.0});
  }
  for (int row = 0; row < h; ++row) {
    const std::uint8_t* cover = preview.GetShapeLine(row);
    for (int x = 0; x < w; ++x) {
      const double a = cover[x] / 255.0;
      if (a <= 0) continue;
      double rest[4] = {1, 1, 1, 1};
      for (std::size_t j = 0; j < options.separations.size(); ++j) {
        const int plane = preview.GetSeparationPlane(options.separations[j]);
        if (plane < 0) continue;
        const double ink = preview.GetScanLine(plane, row)[x] / 255.0;
        for (int c = 0; c < 4; ++c) rest[c] *= 1 - ink * cmyk[j][std::size_t(c)];
      }
      double value[4];
      for (int c = 0; c < 4; ++c) value[c] = 1 - rest[c];
      value[3] = a * value[3] + (1 - a) * bk;
      for (int c = 0; c < 3; ++c) value[c] *= a;
      out[std::size_t(row) * std::size_t(w) + std::size_t(x)] = luminosity(value[0], value[1], value[2], value[3]);
    }
  }
}

std::uint16_t Flattener::knockoutPaint(std::uint16_t paint) {
  if (auto it = knockoutPaints_.find(paint); it != knockoutPaints_.end()) return it->second;
  const Paint* rec = paipoi(job_, paint);
  std::uint16_t result = paint;
  if (rec != nullptr && (paiistra(job_, paint) || rec->type == kPaintFlat)) {
    Paint copy = *rec;
    copy.overprint = false;
    if (const std::uint8_t* pct = colsep(job_, rec->colour)) {
      Colour colour = job_->colours[rec->colour];
      colour.overprint = false;
      if (rec->type == kPaintFlat) {
        for (int s = 0; s < kSlots; ++s)
          if (inks_.test(std::size_t(s)) && pct[s] == kPercentUntouched) colour.pct[std::size_t(s)] = 0;
        if (colour.tints) {
          for (int s = 0; s < kSlots; ++s)
            if (inks_.test(std::size_t(s)) && (*colour.tints)[std::size_t(s)] == kTintUndefined)
              (*colour.tints)[std::size_t(s)] = 0;
        }
      }
      copy.colour = append(job_->colours, std::move(colour));
    }
    result = append(job_->paints, std::move(copy));
  }
  knockoutPaints_.emplace(paint, result);
  return result;
}

std::unique_ptr<TavDB::Object> Flattener::repainted(const TavDB::Object* leaf) {
  std::unique_ptr<TavDB::Object> copy = TavDB::objdup(leaf);
  std::vector<TavDB::Object*> todo{copy.get()};
  while (!todo.empty()) {
    TavDB::Object* o = todo.back();
    todo.pop_back();
    o->setPaint(knockoutPaint(o->paint()));
    if (o->extra() != nullptr) {
      TavDB::ObjectExtra& x = o->extraMut();
      if (x.stroke) x.stroke->paint = knockoutPaint(x.stroke->paint);
    }
    if (TavDB::TextData* text = o->textMut())
      for (TavDB::TextRun& run : text->runs) run.paint = knockoutPaint(run.paint);
    for (const auto& m : o->members()) todo.push_back(m.get());
  }
  return copy;
}

// ---- writing the tree ------------------------------------------------------------------------

void Flattener::build(const TavDB::Object* o, TavDB::Object* parent) {
  if (auto it = replaced_.find(o); it != replaced_.end()) {
    for (auto& piece : it->second)
      if (piece) parent->addontop(std::move(piece));
    return;
  }
  if (!changedAncestors_.count(o)) {
    parent->addontop(TavDB::objdup(o));
    return;
  }
  TavDB::Object* copy = parent->addontop(TavDB::objdupnomembers(o));
  for (const auto& m : o->members()) build(m.get(), copy);
}

Result Flattener::Run(const TavDB::Object* tree) {
  if (tree == nullptr) return {};
  for (const auto& m : tree->members()) collect(m.get(), -1, -1);
  if (!tree->isList()) collect(tree, -1, -1);

  // What each unit needs.
  bool any = false;
  for (Unit& u : units_) {
    bool transparent = u.group || u.transparentPaint;
    bool overprint = false, wasOverprint = false;
    for (int i = u.firstOp; i < u.endOp; ++i) {
      const Op& op = ops_[std::size_t(i)];
      transparent = transparent || op.transparent;
      if (op.overprint && (op.blackOverprint ? p_.flattenBlackOverprint : p_.flattenOverprints)) overprint = true;
      wasOverprint = wasOverprint || op.wasOverprint;
    }
    if (u.endOp > u.firstOp) u.screen = paintGetScreen(job_, ops_[std::size_t(u.firstOp)].paint);
    u.flatten = transparent || overprint;
    u.repaint = !u.flatten && p_.ignorePlacedOverprints && wasOverprint;
    any = any || u.flatten || u.repaint;
  }
  if (!any) return {};
  index_.Build(ops_);
  // An operation's contours are kept from one unit to the next that needs
  // them only when that one comes soon (within kKeepAcross flattened units):
  // otherwise they are let go after the unit and made again when needed, so
  // that what is kept at a time stays near the units at hand, whatever the
  // order of the objects on the page.
  constexpr int kKeepAcross = 32;
  std::vector<std::vector<int>> releaseAfter(units_.size());
  {
    std::vector<int> nextUse(ops_.size(), -1);  // the flattened unit's rank
    std::vector<int> rank(units_.size(), 0);
    int flattened = 0;
    for (std::size_t ui = 0; ui < units_.size(); ++ui)
      if (units_[ui].flatten) rank[ui] = flattened++;
    std::vector<int> uses;
    for (std::size_t ui = units_.size(); ui-- > 0;) {
      const Unit& u = units_[ui];
      if (!u.flatten || u.endOp <= u.firstOp) continue;
      uses.clear();
      TavDB::tv_box b = ops_[std::size_t(u.firstOp)].bounds;
      for (int i = u.firstOp; i < u.endOp; ++i) {
        b = b.united(ops_[std::size_t(i)].bounds);
        uses.push_back(i);
      }
      for (int id : index_.Below(b, u.firstOp, ops_)) uses.push_back(id);
      for (int id : uses) {
        const int next = nextUse[std::size_t(id)];
        if (next < 0 || next - rank[ui] > kKeepAcross) releaseAfter[ui].push_back(id);
        nextUse[std::size_t(id)] = rank[ui];
      }
    }
  }

  for (std::size_t ui = 0; ui < units_.size(); ++ui) {
    Unit& u = units_[ui];
    struct Release {
      std::vector<Op>& ops;
      const std::vector<int>& ids;
      ~Release() {
        for (int id : ids) {
          Polygons().swap(ops[std::size_t(id)].area);
          ops[std::size_t(id)].areaDone = false;
        }
      }
    } release{ops_, releaseAfter[ui]};
    if (!u.flatten && !u.repaint) continue;
    if (cancelled_ && cancelled_()) {
      Result r;
      r.cancelled = true;
      return r;
    }
    std::vector<std::unique_ptr<TavDB::Object>> pieces;
    if (u.repaint) {
      if (u.object->isList() && !hasFlag(u.object, TavDB::kObjCompound)) {
        // Only the painted objects inside change.
        for (const TavDB::Object* leaf : u.leaves) {
          std::vector<std::unique_ptr<TavDB::Object>> one;
          one.push_back(repainted(leaf));
          replaced_[leaf] = std::move(one);
          for (const TavDB::Object* a = leaf->parent(); a != nullptr; a = a->parent()) changedAncestors_.insert(a);
        }
        continue;
      }
      pieces.push_back(repainted(u.object));
    } else {
      try {
        flattenUnit(u, pieces);
      } catch (const std::length_error&) {
        throw TavSys::Error(TavSys::kResultAbandoned, "PDF/CANNOT FLATTEN TRANSPARENCY")
            .with("__REASON__", "the job's table of paints or maps is full");
      }
      ++result_.unitsFlattened;
    }
    replaced_[u.object] = std::move(pieces);
    for (const TavDB::Object* a = u.object->parent(); a != nullptr; a = a->parent()) changedAncestors_.insert(a);
  }
  if (replaced_.empty()) {
    Result r = std::move(result_);
    r.tree.reset();
    return r;
  }
  // What the units were read into is let go before the tree is written
  // out, so that the copies of the untouched objects take its place.
  std::vector<Op>().swap(ops_);
  std::vector<Unit>().swap(units_);
  std::vector<Source>().swap(sources_);
  std::vector<std::unique_ptr<TavDB::Object>>().swap(outlines_);
  index_ = OpIndex();
  std::unique_ptr<TavDB::Object> out = TavDB::objdupnomembers(tree);
  for (const auto& m : tree->members()) build(m.get(), out.get());
  result_.tree = std::move(out);
  return std::move(result_);
}

}  // namespace

Result FlattenTree(jobstr* job, const TavDB::Object* tree, const Parameters& parameters, RasterStore* store,
                   const std::function<bool()>& cancelled) {
  if (job == nullptr || tree == nullptr) return {};
  Flattener flattener(job, parameters, store, cancelled);
  return flattener.Run(tree);
}

}  // namespace TavFlatten

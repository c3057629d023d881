#include "pagewriter/patternexpand.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pagewriter/pathsplit.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/setop.h"
#include "platform/strokeoutline.h"
#include "platform/tav_error.h"

namespace TavricLib {

namespace {

using TavDB::Object;
using TavSetop::Contour;
using TavSetop::SplitPoint;
using Corners = std::vector<std::pair<double, double>>;  // (v, h)

// Tiles one fill may be expanded into, nested fills counted in.
constexpr double kMaxTiles = 250000;
// Nested pattern fills expanded within one another.
constexpr int kMaxDepth = 8;

constexpr std::uint32_t kTextCarriers = TavDB::kObjTextCarrier | TavDB::kObjTextCarrier2;

bool has(const Object& o, std::uint32_t mask) { return (o.flags() & mask) != 0; }
bool isShape(const Object& o) { return has(o, TavDB::kObjPath | TavDB::kObjCompound); }

// An affine map of job points (v, h): v' = vv v + vh h + ov, h' = hv v + hh h + oh.
struct Affine {
  double vv = 1, vh = 0, hv = 0, hh = 1, ov = 0, oh = 0;

  std::pair<double, double> apply(double v, double h) const {
    return {vv * v + vh * h + ov, hv * v + hh * h + oh};
  }
  // The map that applies this one first, then `outer`.
  Affine then(const Affine& outer) const {
    Affine r;
    r.vv = outer.vv * vv + outer.vh * hv;
    r.vh = outer.vv * vh + outer.vh * hh;
    r.hv = outer.hv * vv + outer.hh * hv;
    r.hh = outer.hv * vh + outer.hh * hh;
    r.ov = outer.vv * ov + outer.vh * oh + outer.ov;
    r.oh = outer.hv * ov + outer.hh * oh + outer.oh;
    return r;
  }
  double det() const { return vv * hh - vh * hv; }
  // Turns and scales alike in every direction (mirrored or not): circles
  // stay circles.
  bool keepsCircles() const {
    const double scale = std::max({std::fabs(vv), std::fabs(vh), std::fabs(hv), std::fabs(hh)});
    const double tolerance = 1e-9 * scale;
    return (std::fabs(vv - hh) <= tolerance && std::fabs(vh + hv) <= tolerance) ||
           (std::fabs(vv + hh) <= tolerance && std::fabs(vh - hv) <= tolerance);
  }
};

std::int32_t unit(double x) {
  if (!(std::fabs(x) < 2.0e9)) throw std::length_error("a tile lies beyond the coordinates a job can hold");
  return static_cast<std::int32_t>(std::llround(x));
}

TavDB::tv_point moved(const Affine& a, TavDB::tv_point p) {
  const auto [v, h] = a.apply(p.v, p.h);
  return {unit(v), unit(h)};
}

std::vector<Contour> moved(const std::vector<Contour>& contours, const Affine& a) {
  std::vector<Contour> out;
  out.reserve(contours.size());
  for (const Contour& c : contours) {
    Contour m;
    m.reserve(c.size());
    for (const SplitPoint& p : c) {
      SplitPoint q = p;
      const auto [v, h] = a.apply(p.v, p.h);
      q.v = unit(v);
      q.h = unit(h);
      if (p.curve) {
        const auto [c1v, c1h] = a.apply(p.c1v, p.c1h);
        const auto [c2v, c2h] = a.apply(p.c2v, p.c2h);
        q.c1v = unit(c1v);
        q.c1h = unit(c1h);
        q.c2v = unit(c2v);
        q.c2h = unit(c2h);
      }
      m.push_back(q);
    }
    out.push_back(std::move(m));
  }
  return out;
}

// Bounds (top, left, bottom, right) of contours, control points included.
std::array<double, 4> boundsOf(const std::vector<Contour>& contours) {
  std::array<double, 4> b{1e300, 1e300, -1e300, -1e300};
  auto add = [&](double v, double h) {
    b[0] = std::min(b[0], v);
    b[1] = std::min(b[1], h);
    b[2] = std::max(b[2], v);
    b[3] = std::max(b[3], h);
  };
  for (const Contour& c : contours) {
    for (const SplitPoint& p : c) {
      add(p.v, p.h);
      if (p.curve) {
        add(p.c1v, p.c1h);
        add(p.c2v, p.c2h);
      }
    }
  }
  return b;
}

// Whether a point lies inside (or on) a convex polygon of either orientation.
bool insideConvex(const Corners& convex, double v, double h) {
  int sign = 0;
  for (std::size_t i = 0; i < convex.size(); ++i) {
    const auto [v0, h0] = convex[i];
    const auto [v1, h1] = convex[(i + 1) % convex.size()];
    const double cross = (h1 - h0) * (v - v0) - (v1 - v0) * (h - h0);
    if (cross == 0) continue;
    const int s = cross > 0 ? 1 : -1;
    if (sign != 0 && s != sign) return false;
    sign = s;
  }
  return true;
}

// Where a tile may leave its objects: its cell (a parallelogram on the page)
// and, when the filled object covers only part of it, that part.
struct TileClip {
  Corners cell;
  bool full = true;
  std::vector<Contour> region;  // only when not full
};

class Expander {
 public:
  explicit Expander(jobstr* job) : mJob(job) {}

  // The objects a pattern shows over `region` (page contours), the pattern's
  // corners lying in the space that `toPage` maps onto the page.
  void ExpandFill(Object& out, const std::vector<Contour>& region, const PatternRec& pattern,
                  const Affine& toPage, int depth) {
    if (!pattern.objects || pattern.cell.isEmpty() || region.empty()) return;
    // Copies: moved soft masks are added to the job's patterns while the
    // tiles are made, which may move the record (its objects stay).
    const Object& objects = *pattern.objects;
    const TavDB::tv_box cell = pattern.cell;
    const double w = double(cell.width()), h = double(cell.height());
    const TavDB::tv_point tl = pattern.corners[0], tr = pattern.corners[1], bl = pattern.corners[2];
    // The cell's own space onto the pattern's space: its top left corner on
    // the origin corner, its edges along the placement's edges.
    Affine base;
    base.vv = (double(bl.v) - tl.v) / h;
    base.vh = (double(tr.v) - tl.v) / w;
    base.hv = (double(bl.h) - tl.h) / h;
    base.hh = (double(tr.h) - tl.h) / w;
    base.ov = tl.v - base.vv * cell.top - base.vh * cell.left;
    base.oh = tl.h - base.hv * cell.top - base.hh * cell.left;
    const Affine first = base.then(toPage);
    const double det = first.det();
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return;

    // The tiles over the region's bounds: cell coordinates of its corners.
    const std::array<double, 4> b = boundsOf(region);
    double iMin = 1e300, iMax = -1e300, jMin = 1e300, jMax = -1e300;
    for (const auto& [v, hh] : {std::pair(b[0], b[1]), std::pair(b[0], b[3]), std::pair(b[2], b[1]),
                                std::pair(b[2], b[3])}) {
      const double dv = v - first.ov, dh = hh - first.oh;
      const double cv = (first.hh * dv - first.vh * dh) / det;
      const double ch = (first.vv * dh - first.hv * dv) / det;
      iMin = std::min(iMin, std::floor((ch - cell.left) / w));
      iMax = std::max(iMax, std::floor((ch - cell.left) / w));
      jMin = std::min(jMin, std::floor((cv - cell.top) / h));
      jMax = std::max(jMax, std::floor((cv - cell.top) / h));
    }
    const double tiles = (iMax - iMin + 1) * (jMax - jMin + 1);
    mTiles += tiles;
    if (!(mTiles <= kMaxTiles)) {
      throw std::length_error("the pattern's cell is too small for the area it fills (more than " +
                              std::to_string(std::int64_t(kMaxTiles)) + " tiles)");
    }

    // One tile along the cell's width and along its height, on the page.
    const double stepIv = first.vh * w, stepIh = first.hh * w;
    const double stepJv = first.vv * h, stepJh = first.hv * h;
    for (double j = jMin; j <= jMax; ++j) {
      for (double i = iMin; i <= iMax; ++i) {
        Affine a = first;
        a.ov += i * stepIv + j * stepJv;
        a.oh += i * stepIh + j * stepJh;
        TileClip clip;
        for (const auto& [v, hh] : {std::pair<double, double>(cell.top, cell.left),
                                    std::pair<double, double>(cell.top, cell.right),
                                    std::pair<double, double>(cell.bottom, cell.right),
                                    std::pair<double, double>(cell.bottom, cell.left)}) {
          clip.cell.push_back(a.apply(v, hh));
        }
        if (!Prepare(region, clip)) continue;
        mTilePaints.clear();
        mTileMasks.clear();
        for (const auto& member : objects.members()) ExpandObject(out, *member, a, clip, depth);
      }
    }
  }

 private:
  // Decides whether the filled region covers the tile's cell, part of it or
  // none of it; false for none.
  bool Prepare(const std::vector<Contour>& region, TileClip& clip) {
    Contour cell;
    for (const auto& [v, h] : clip.cell) cell.push_back(SplitPoint{unit(v), unit(h)});
    // The region near the cell (cut one unit wide of it, so that the cut
    // leaves the cell's own edges alone).
    const std::array<double, 4> c = boundsOf({cell});
    const Corners margin = {{c[0] - 1, c[1] - 1}, {c[0] - 1, c[3] + 1}, {c[2] + 1, c[3] + 1}, {c[2] + 1, c[1] - 1}};
    const std::vector<Contour> near = TavSetop::IntersectConvex(region, margin);
    if (near.empty()) return false;
    const double cellArea = TavSetop::ContoursArea({cell});
    const double common = TavSetop::CommonArea(near, {cell});
    if (!(common > 0)) return false;
    clip.full = common >= cellArea * (1 - 1e-9);
    if (!clip.full) clip.region = TavSetop::IntersectContours(near, {cell});
    return clip.full || !clip.region.empty();
  }

  // Contours (on the page) cut to what the tile shows.
  std::vector<Contour> Cut(const std::vector<Contour>& contours, const TileClip& clip) const {
    if (!clip.full) return TavSetop::IntersectContours(contours, clip.region);
    const std::array<double, 4> b = boundsOf(contours);
    if (insideConvex(clip.cell, b[0], b[1]) && insideConvex(clip.cell, b[0], b[3]) &&
        insideConvex(clip.cell, b[2], b[1]) && insideConvex(clip.cell, b[2], b[3])) {
      return contours;
    }
    return TavSetop::IntersectConvex(contours, clip.cell);
  }

  void ExpandObject(Object& out, const Object& object, const Affine& a, const TileClip& clip, int depth) {
    if (has(object, TavDB::kObjExcluded)) return;
    if (object.kind() == TavDB::ObjectKind::Text) {
      // Texts are cut as the outlines of their characters.
      if (std::unique_ptr<Object> outlines = texhivecget(mJob, &object, 1)) {
        ExpandObject(out, *outlines, a, clip, depth);
      }
      return;
    }
    if (!isShape(object)) {
      if (!object.isList()) return;
      auto group = TavDB::gronew();
      group->setPaint(MovedPaint(object.paint(), a, clip, depth), false);
      group->setProperties(object.flags() & ~(TavDB::kObjKindBits | kTextCarriers), true);
      for (const auto& member : object.members()) {
        // A text carrier shows its texts only.
        if (has(object, kTextCarriers) && member->kind() != TavDB::ObjectKind::Text) continue;
        ExpandObject(*group, *member, a, clip, depth);
      }
      if (group->memberCount() == 0) return;
      group->recalcBounds();
      out.addontop(std::move(group));
      return;
    }
    if (!object.isOpenPath()) Fill(out, TavSetop::ContoursOf(&object), object.paint(), object.flags(), a, clip, depth);
    const TavDB::Stroke* stroke = object.stroke();
    if (stroke != nullptr && stroke->width > 0) {
      // The stroke's area, built where the cell draws it, moves with the tile.
      if (std::unique_ptr<Object> outline = TavricGeo::StrokeOutline(&object)) {
        Fill(out, TavSetop::ContoursOf(outline.get()), stroke->paint, object.flags(), a, clip, depth);
      }
    }
  }

  void Fill(Object& out, const std::vector<Contour>& contours, std::uint16_t paint, std::uint32_t state,
            const Affine& a, const TileClip& clip, int depth) {
    std::vector<Contour> shown = Cut(moved(contours, a), clip);
    if (shown.empty()) return;
    const Paint* p = paipoi(mJob, paint);
    if (p != nullptr && p->type == kPaintPattern) {
      // A pattern inside the cell lays its tiles in the cell's space; the
      // group keeps the fill's paint (and so its transparency).
      const PatternRec* nested = patpoi(mJob, p->pattern);
      if (nested == nullptr || depth >= kMaxDepth) return;
      auto group = TavDB::gronew();
      group->setPaint(MovedPaint(paint, a, clip, depth), false);
      // The nested pattern's record again: moving the paint's mask may have
      // moved the job's pattern records.
      nested = patpoi(mJob, paipoi(mJob, paint)->pattern);
      // The nested tiles move paints and masks of their own: this tile's
      // stay for the objects after the fill.
      auto paints = std::exchange(mTilePaints, {});
      auto masks = std::exchange(mTileMasks, {});
      ExpandFill(*group, shown, *nested, a, depth + 1);
      mTilePaints = std::move(paints);
      mTileMasks = std::move(masks);
      if (group->memberCount() == 0) return;
      group->recalcBounds();
      out.addontop(std::move(group));
      return;
    }
    if (std::unique_ptr<Object> shape = TavSetop::ShapeFromContours(shown, state, MovedPaint(paint, a, clip, depth))) {
      out.addontop(std::move(shape));
    }
  }

  // The paint as the tile shows it: paints that lie somewhere on the page
  // (gradients, gradations, pictures, maps) move with the tile, and so do
  // the objects of a paint's soft mask; a new paint per tile, shared by the
  // tile's objects.
  std::uint16_t MovedPaint(std::uint16_t index, const Affine& a, const TileClip& clip, int depth) {
    const Paint* p = paipoi(mJob, index);
    if (p == nullptr) return index;
    const bool placed = p->type == kPaintLinear || p->type == kPaintRadial || p->type == kPaintGradation ||
                        p->type == kPaintPicture || p->type == kPaintMap;
    const bool masked = p->transparency.softMask != kNoSoftMask && patpoi(mJob, p->transparency.softMask) != nullptr;
    if (!placed && !masked) return index;
    if (auto it = mTilePaints.find(index); it != mTilePaints.end()) return it->second;
    Paint m = *p;
    switch (placed ? p->type : kPaintFlat) {
      case kPaintLinear: {
        // The colour lines stay parallel; the axis is where their normal
        // runs after the move, so that every point keeps its colour.
        const double dv = double(p->end.v) - p->start.v, dh = double(p->end.h) - p->start.h;
        const double d2 = dv * dv + dh * dh;
        const double det = a.det();
        m.start = moved(a, p->start);
        if (d2 > 0 && std::fabs(det) > 0) {
          const double gv = (a.hh * dv - a.hv * dh) / det / d2, gh = (a.vv * dh - a.vh * dv) / det / d2;
          const double g2 = gv * gv + gh * gh;
          m.end = {unit(m.start.v + gv / g2), unit(m.start.h + gh / g2)};
        } else {
          m.end = moved(a, p->end);
        }
        break;
      }
      case kPaintRadial:
        if (a.keepsCircles()) {
          m.start = moved(a, p->start);
          m.end = moved(a, p->end);
        } else {
          // A circle the move turns into an ellipse: a circular gradation
          // from the centre (colour2) to the rim (colour), placed by the
          // move's matrix.
          const double cv = (double(p->start.v) + p->end.v) / 2, ch = (double(p->start.h) + p->end.h) / 2;
          const double r = std::hypot(double(p->end.v) - p->start.v, double(p->end.h) - p->start.h) / 2;
          const auto [v, h] = a.apply(cv, ch);
          const std::int32_t radius = std::max<std::int32_t>(1, unit(r));
          m.type = kPaintGradation;
          m.gradationForm = Paint::kGradCircular;
          m.start = {unit(v), unit(h)};
          m.steps = {{p->colour2, 0, radius / 2}, {p->colour, radius, 0}};
          m.colour = p->colour2;
          m.colour2 = p->colour;
          m.gradationLength = radius;
          m.gradationBox = {m.start.v - radius, m.start.h - radius, m.start.v + radius, m.start.h + radius};
          m.focus = {};
          m.matrix[0] = a.vv;
          m.matrix[1] = a.vh;
          m.matrix[2] = a.hv;
          m.matrix[3] = a.hh;
        }
        break;
      case kPaintGradation: {
        m.start = moved(a, p->start);
        const double* g = p->matrix;
        m.matrix[0] = a.vv * g[0] + a.vh * g[2];
        m.matrix[1] = a.vv * g[1] + a.vh * g[3];
        m.matrix[2] = a.hv * g[0] + a.hh * g[2];
        m.matrix[3] = a.hv * g[1] + a.hh * g[3];
        const std::int64_t dv = std::int64_t(m.start.v) - p->start.v, dh = std::int64_t(m.start.h) - p->start.h;
        m.gradationBox = {unit(double(p->gradationBox.top) + dv), unit(double(p->gradationBox.left) + dh),
                          unit(double(p->gradationBox.bottom) + dv), unit(double(p->gradationBox.right) + dh)};
        break;
      }
      case kPaintPicture:
      case kPaintMap:  // their three corners
        m.placeOrigin = moved(a, p->placeOrigin);
        m.placeWidthCorner = moved(a, p->placeWidthCorner);
        m.placeHeightCorner = moved(a, p->placeHeightCorner);
        break;
      default:  // lies nowhere: only its soft mask moves
        break;
    }
    // Last: moving the mask adds to the job's tables (p may no longer hold).
    if (masked) m.transparency.softMask = MovedMask(m.transparency.softMask, a, clip, depth);
    const std::uint16_t added = mJob->addPaint(std::move(m));
    mTilePaints.emplace(index, added);
    return added;
  }

  // A soft mask as the tile shows it: a new mask whose objects are the
  // mask's, moved with the tile and cut to what the tile shows (outside it
  // the masked objects paint nothing). Masks within masks count as nested
  // fills do.
  std::uint16_t MovedMask(std::uint16_t index, const Affine& a, const TileClip& clip, int depth) {
    if (auto it = mTileMasks.find(index); it != mTileMasks.end()) return it->second;
    const PatternRec* mask = patpoi(mJob, index);
    if (mask == nullptr || !mask->objects) return index;
    if (depth >= kMaxDepth) {
      throw std::length_error("the cell's soft masks lie within one another more than " + std::to_string(kMaxDepth) +
                              " deep");
    }
    PatternRec moved;
    moved.kind = mask->kind;
    moved.maskFlags = mask->maskFlags;
    const Object& objects = *mask->objects;
    moved.objects = TavDB::spanew();
    for (const auto& member : objects.members()) ExpandObject(*moved.objects, *member, a, clip, depth + 1);
    moved.objects->recalcBounds();
    const std::uint16_t added = mJob->addPattern(std::move(moved));
    mTileMasks.emplace(index, added);
    return added;
  }

  jobstr* mJob;  // not owned
  double mTiles = 0;
  std::map<std::uint16_t, std::uint16_t> mTilePaints;  // the current tile's moved paints
  std::map<std::uint16_t, std::uint16_t> mTileMasks;   // and soft masks
};

void expandMembers(jobstr* job, Expander& expander, Object& list) {
  std::vector<std::unique_ptr<Object>> members;
  while (list.memberCount() > 0) members.push_back(list.detach(list.member(0)));
  for (std::unique_ptr<Object>& member : members) {
    const Paint* paint = paipoi(job, member->paint());
    if (isShape(*member) && paint != nullptr && paint->type == kPaintPattern) {
      const PatternRec* pattern = patpoi(job, paint->pattern);
      auto group = TavDB::gronew();
      group->setPaint(member->paint(), false);
      if (pattern != nullptr) expander.ExpandFill(*group, TavSetop::ContoursOf(member.get()), *pattern, Affine{}, 0);
      if (group->memberCount() > 0) {
        group->recalcBounds();
        list.addontop(std::move(group));
      }
      continue;
    }
    if (member->isList() && !isShape(*member)) expandMembers(job, expander, *member);
    list.addontop(std::move(member));
  }
  list.recalcBounds();
}

// Leaves an ink in use untouched: some enabled ink at 255.
bool colourLeavesInks(const jobstr* job, int colour) {
  const std::uint8_t* pct = colsep(job, colour);
  if (pct == nullptr) return false;
  const int positions = sepfrejob(job);
  for (int p = 0; p < positions; ++p) {
    const int s = sepsoruse(job, p, false);
    if (s >= 0 && pct[s] == kPercentUntouched) return true;
  }
  return false;
}

bool patternLeavesInks(const jobstr* job, int pattern, int depth);

bool paintLeavesInks(const jobstr* job, int index, int depth) {
  const Paint* p = paipoi(job, index);
  if (p == nullptr || PaintIsInvisible(job, index)) return false;
  switch (p->type) {
    case kPaintFlat: return colourLeavesInks(job, p->colour);
    case kPaintLinear:
    case kPaintRadial: return colourLeavesInks(job, p->colour) || colourLeavesInks(job, p->colour2);
    case kPaintGradation:
      return std::any_of(p->steps.begin(), p->steps.end(),
                         [&](const GradationStep& s) { return colourLeavesInks(job, s.colour); });
    case kPaintMap: {
      // The inks without a channel take the map colour's share.
      const PictureMap* map = mappoi(job, p->map);
      const std::uint8_t* pct = map != nullptr ? colsep(job, map->colour1) : nullptr;
      if (pct == nullptr) return false;
      const int positions = sepfrejob(job);
      for (int pos = 0; pos < positions; ++pos) {
        const int s = sepsoruse(job, pos, false);
        if (s < 0 || pct[s] != kPercentUntouched) continue;
        if (std::none_of(map->channels.begin(), map->channels.end(),
                         [s](const MapChannel& c) { return c.separation == s; })) {
          return true;
        }
      }
      return false;
    }
    case kPaintPattern: return patternLeavesInks(job, p->pattern, depth + 1);
    default: return false;
  }
}

bool objectLeavesInks(const jobstr* job, const Object& object, int depth) {
  if (has(object, TavDB::kObjExcluded)) return false;
  if (object.kind() == TavDB::ObjectKind::Text) {
    const TavDB::TextData* text = object.text();
    return text != nullptr && std::any_of(text->runs.begin(), text->runs.end(), [&](const TavDB::TextRun& run) {
             return paintLeavesInks(job, run.paint, depth);
           });
  }
  if (!isShape(object)) {
    return std::any_of(object.members().begin(), object.members().end(),
                       [&](const std::unique_ptr<Object>& m) { return objectLeavesInks(job, *m, depth); });
  }
  if (!object.isOpenPath() && paintLeavesInks(job, object.paint(), depth)) return true;
  const TavDB::Stroke* stroke = object.stroke();
  return stroke != nullptr && stroke->width > 0 && paintLeavesInks(job, stroke->paint, depth);
}

bool patternLeavesInks(const jobstr* job, int pattern, int depth) {
  const PatternRec* p = patpoi(job, pattern);
  if (p == nullptr || !p->objects || depth > kMaxDepth) return false;
  return objectLeavesInks(job, *p->objects, depth);
}

}  // namespace

void ExpandPattern(jobstr* job, TavDB::Object* group) {
  if (job == nullptr || group == nullptr) return;
  Expander expander(job);
  try {
    expandMembers(job, expander, *group);
  } catch (const std::length_error& e) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/PATTERN NOT EXPANDED", e.what()).with("__REASON__", e.what());
  }
}

bool PatternLeavesInksUntouched(const jobstr* job, int pattern) { return patternLeavesInks(job, pattern, 0); }

}  // namespace TavricLib

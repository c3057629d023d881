#pragma once
// Geometry of the transparency flattener: the areas objects cover, as
// polygons of Clipper (integer job units, x horizontal, y vertical), the set
// operations on them, and areas turned back into paths of the job.
#include <polyclipping/clipper.hpp>

#include <array>
#include <cstdint>
#include <memory>

#include "platform/kernel/geometry.h"

namespace TavDB {
class Object;
}

namespace TavFlatten {

using Polygons = ClipperLib::Paths;


// Areas are non-overlapping polygons with holes (Clipper's results), which
// the even-odd and the non-zero rule fill alike; the set operations take
// several of them together by the non-zero rule, so that areas that overlap
// one another unite. Contours are what an object gives: closed lines that
// may cross themselves and one another, filled by the even-odd rule; the
// *Contours operations take them as they are (sparing a simplification).
//
// The contours of a closed path or compound path (filled even-odd, as it is
// written), curves as straight pieces that lie within `tolerance` job units
// of them. Open paths fill nothing.
Polygons FillArea(const TavDB::Object* shape, double tolerance);
// The contours of the area the object's stroke covers; empty without a
// stroke. Throws std::length_error when the outline cannot be built
// (coordinates out of range, a dash pattern far too fine).
Polygons StrokeArea(const TavDB::Object* shape);
// A parallelogram given by three corners (origin, end of the first row, end
// of the first column).
Polygons ParallelogramArea(const TavDB::tv_point& origin, const TavDB::tv_point& widthCorner,
                           const TavDB::tv_point& heightCorner);
Polygons RectangleArea(const TavDB::tv_box& box);

// The parts of the polygons within a box (cut along its edges, not
// simplified): what a set operation with something inside the box needs.
// Contours wholly outside the box are left out, those wholly inside kept
// as they are.
Polygons ClipToBox(const Polygons& a, const TavDB::tv_box& box);

// Set operations; the results are non-overlapping polygons with holes
// (Unite(a, {}) unites overlapping areas into one).
Polygons Intersect(const Polygons& a, const Polygons& b);
Polygons Subtract(const Polygons& a, const Polygons& b);
Polygons Unite(const Polygons& a, const Polygons& b);
// An area and contours.
Polygons IntersectContours(const Polygons& area, const Polygons& contours);
Polygons SubtractContours(const Polygons& area, const Polygons& contours);
Polygons UniteContours(const Polygons& area, const Polygons& contours);
// The area contours fill (even-odd).
Polygons Simplify(const Polygons& a);

// An area cut by another: the part under it and the part outside it, the
// results of Intersect and Subtract, with the edges of both built once.
class Cut {
 public:
  Cut(const Polygons& a, const Polygons& b);
  Polygons Under();
  Polygons Outside();

 private:
  ClipperLib::Clipper clipper_;
  bool empty_ = false;
};

// Area in square job units (holes subtracted) of non-overlapping polygons
// (results of the set operations).
double AreaOf(const Polygons& a);
// Bounds (top, left, bottom, right); all zero for nothing.
TavDB::tv_box BoundsOf(const Polygons& a);
bool BoxesMeet(const TavDB::tv_box& a, const TavDB::tv_box& b);

// The area as a path (one polygon) or a compound path (several), closed and
// painted with `paint`; null for nothing. Owned by the caller.
std::unique_ptr<TavDB::Object> AreaObject(const Polygons& area, std::uint16_t paint);

}  // namespace TavFlatten

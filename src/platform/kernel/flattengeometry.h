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

// Largest distance, in job units, of a flattened curve from the true one.
inline constexpr double kCurveTolerance = 0.25;

// The area a closed path or compound path fills (the even-odd rule, as it is
// written), curves as straight pieces. Open paths fill nothing.
Polygons FillArea(const TavDB::Object* shape);
// The area the object's stroke covers; empty without a stroke. Throws
// std::length_error when the outline cannot be built (coordinates out of
// range, a dash pattern far too fine).
Polygons StrokeArea(const TavDB::Object* shape);
// A parallelogram given by three corners (origin, end of the first row, end
// of the first column).
Polygons ParallelogramArea(const TavDB::tv_point& origin, const TavDB::tv_point& widthCorner,
                           const TavDB::tv_point& heightCorner);
Polygons RectangleArea(const TavDB::tv_box& box);

// Set operations; the results are non-overlapping polygons with holes,
// filled alike by the even-odd and the non-zero rule.
Polygons Intersect(const Polygons& a, const Polygons& b);
Polygons Subtract(const Polygons& a, const Polygons& b);
Polygons Unite(const Polygons& a, const Polygons& b);
// The union of polygons that may overlap themselves (filled even-odd).
Polygons Simplify(const Polygons& a);

// Area in square job units (holes subtracted).
double AreaOf(const Polygons& a);
// Bounds (top, left, bottom, right); all zero for nothing.
TavDB::tv_box BoundsOf(const Polygons& a);
bool BoxesMeet(const TavDB::tv_box& a, const TavDB::tv_box& b);

// The area as a path (one polygon) or a compound path (several), closed and
// painted with `paint`; null for nothing. Owned by the caller.
std::unique_ptr<TavDB::Object> AreaObject(const Polygons& area, std::uint16_t paint);

}  // namespace TavFlatten

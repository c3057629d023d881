#pragma once
// The set-operation service as the walker calls it: splitting an object whose
// paths have more points than a writer accepts (geometry in platform/setop.h).
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/setop.h"

namespace TavDB {
class Object;
}

namespace TavSetop {

// The contours of a path, or of the paths of a compound path, in job units.
std::vector<Contour> ContoursOf(const TavDB::Object* object);
// A path (one contour) or compound path (several contours) in the paint, with
// the state bits given (trap, hidden, ...; kind bits are ignored); owned by
// the caller. Null for no contours.
std::unique_ptr<TavDB::Object> ShapeFromContours(const std::vector<Contour>& contours, std::uint32_t state,
                                                 std::uint16_t paint);

class CSplCallBack {
 public:
  // A new group (owned by the caller) holding pieces of path or compound
  // path, each of at most maxPoints points, that together fill the same area;
  // every piece keeps the source's paint and state flags. Null when the
  // object cannot be split that way. The source is not changed.
  static std::unique_ptr<TavDB::Object> StartSplit(const TavDB::Object* path, int maxPoints);
  // The same for an outline that is to be stroked: closed contours become
  // open runs that join end to end, so the stroke keeps its course.
  static std::unique_ptr<TavDB::Object> SplitOutline(const TavDB::Object* path, int maxPoints);
};

}  // namespace TavSetop

namespace TavricGeo {

// The part of a path or compound path that lies inside a convex window
// (corners as (v, h)): a new path or compound path (owned by the caller) with
// the object's paint, or null when the two do not meet.
std::unique_ptr<TavDB::Object> Intersect(const TavDB::Object* object,
                                         const std::vector<std::pair<double, double>>& window);

// Whether two paths or compound paths (filled with the even-odd rule) have a
// common area.
bool Overlap(const TavDB::Object* a, const TavDB::Object* b);

// The area the object's stroke covers, as a new path or compound path (owned
// by the caller) in the stroke's paint, to be filled with the even-odd rule;
// null when the object has no stroke or the stroke covers nothing. Throws
// std::length_error when the outline cannot be built (coordinates out of
// range, a dash pattern far too fine for the line).
std::unique_ptr<TavDB::Object> StrokeOutline(const TavDB::Object* object);

}  // namespace TavricGeo

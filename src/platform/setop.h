#pragma once
// Geometry core of the set-operation service: splitting a path that has more
// points than an output device accepts into pieces that, painted one after
// the other in the same colour, cover exactly the area of the original.
//
// Closed contours are cut along axis-parallel lines into disjoint regions
// (each region is the original clipped to a box, so winding numbers inside
// the box are kept and both the even-odd and the non-zero rule give the same
// area as before). A Bezier segment that crosses a cut is cut where it
// crosses: its parts stay curves on the original's course. Open contours,
// which are only stroked or left unpainted, are cut into consecutive runs
// that share their end points.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace TavSetop {

// One point of a contour in job units, vertical coordinate first as in the
// job. A curve point ends a cubic Bezier segment from the previous point with
// the control points (c1v, c1h) and (c2v, c2h).
struct SplitPoint {
  std::int32_t v = 0;
  std::int32_t h = 0;
  bool curve = false;
  std::int32_t c1v = 0, c1h = 0, c2v = 0, c2h = 0;

  bool operator==(const SplitPoint&) const = default;
};

using Contour = std::vector<SplitPoint>;

// One piece of a split: one contour (a path) or several (a compound path).
struct SplitPiece {
  std::vector<Contour> contours;
  std::size_t pointCount() const;
};

// Splits the contours of one object into pieces of at most maxPoints points
// each. `closed` says whether the contours are closed (filled) outlines.
// Returns nothing when no such split exists: maxPoints below 4, points
// packed so densely that no cut separates them, or a closed path that would
// need more than four times its points in pieces (long edges crossing every
// cut), which is given up within memory linear in the path. The caller then
// has the path as it is.
std::optional<std::vector<SplitPiece>> SplitContours(const std::vector<Contour>& contours,
                                                     bool closed, std::size_t maxPoints);

// The parts of closed contours that lie inside a convex window (corners as
// (v, h), in either orientation), cut along the window's edges; empty when
// they do not meet or the window has no area.
std::vector<Contour> IntersectConvex(const std::vector<Contour>& contours,
                                     const std::vector<std::pair<double, double>>& convex);

}  // namespace TavSetop

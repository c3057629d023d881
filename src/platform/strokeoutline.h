#pragma once
// Stroke outlines of the set-operation service: the area a stroke covers,
// built as polygons, for strokes that a page description's stroke operators
// cannot draw (a line lying inside or outside the outline instead of on its
// centre). The outline is the union of the stroke's segments, joins and caps
// as PDF draws them (miter joins beyond the miter limit fall back to bevels,
// dashes cut the course into pieces with their own caps); an inside or
// outside stroke is a centre stroke twice as wide, cut to the area the
// contours enclose (even-odd, as they are filled) or to what lies outside it.
#include <vector>

#include "platform/setop.h"

namespace TavSetop {

struct StrokeStyle {
  enum Join { kMiterJoin = 0, kRoundJoin = 1, kBevelJoin = 2 };
  enum Cap { kButtCap = 0, kRoundCap = 1, kSquareCap = 2 };
  enum Position { kCentre = 0, kInside = 1, kOutside = 2 };
  double width = 0;  // the visible line width, job units
  Join join = kMiterJoin;
  Cap cap = kButtCap;
  Position position = kCentre;
  double miterLimit = 4;
  std::vector<double> dash;  // on and off lengths, job units; empty = solid
  double dashPhase = 0;
};

struct StrokeContour {
  Contour points;
  bool closed = true;
};

// The outline as closed contours of line points (job units), to be filled
// with the even-odd rule; empty when the stroke covers nothing (no width, an
// inside stroke of a line that encloses nothing). Throws std::length_error
// when the coordinates are too large to be handled.
std::vector<Contour> StrokeOutline(const std::vector<StrokeContour>& contours, const StrokeStyle& style);

// Whether the areas two sets of closed contours enclose (each filled with the
// even-odd rule) have a common part of some area.
bool ContoursOverlap(const std::vector<Contour>& a, const std::vector<Contour>& b);

// The area two sets of closed contours have in common (each filled with the
// even-odd rule), as closed contours of line points in whole job units, to be
// filled with the even-odd rule; curves are followed within a fifth of a job
// unit. Empty when they have nothing in common. Throws std::length_error when
// the coordinates are too large to be handled.
std::vector<Contour> IntersectContours(const std::vector<Contour>& a, const std::vector<Contour>& b);

// The area (square job units) closed contours enclose under the even-odd rule.
double ContoursArea(const std::vector<Contour>& contours);
// The area (square job units) two sets of closed contours have in common.
double CommonArea(const std::vector<Contour>& a, const std::vector<Contour>& b);

}  // namespace TavSetop

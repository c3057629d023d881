#pragma once
// The kernel's views of gradations (multistep degrades, paint type 6) and
// tiling-pattern placements, as the shading and pattern writers read them.
//
// A gradation's geometry in the job model (docs/job-format.md, Paints):
//   - horizontal: the axis runs from `start` towards increasing h, vertical
//     towards increasing v; a step at position p lies p job units along it;
//   - circular: `start` is the centre; a step at position p lies on the
//     circle of radius p about it; the outer circle has half the width of the
//     gradation's box as radius, and the innermost colour starts at the focus
//     (an offset from the centre);
//   - the paint's matrix [m0 m1 m2 m3] places the gradation: a local offset
//     (dv, dh) from `start` lies at (m0·dv + m1·dh, m2·dv + m3·dh).
#include <cstdint>

struct jobstr;
struct Paint;
namespace TavDB {
class Object;
}

// The degrade record of a gradation paint, or null for any other paint.
const Paint* paidegpoi(const jobstr* job, int paint);
bool degishorizontal(const Paint* degrade);
bool degisvertical(const Paint* degrade);
bool degiscircular(const Paint* degrade);
// The extent of a degrade in job units: the radius of a circular one (half
// its box's width), the length of the others.
double degextent(const Paint* degrade);

// Whether the gradation can be written as a smooth shading: every step's
// colour exists, its matrix is finite and not singular, and a horizontal,
// vertical or circular degrade has an extent (a gradation of any other form
// may still be convertible; its form sends it to the image road).
bool multistepIsConvertibleToShading(const jobstr* job, int paint, const TavDB::Object* object);

// The kernel's conversion of a computed offset (job units, double) into an
// internal coordinate: the nearest integer, halves away from zero, saturated
// at the int32 range; 0 for a value that is not a number.
std::int32_t ftisql(double units);

// The placement words of a tiling pattern, laid out like a picture's
// (paintPlacementWords): the origin (where the cell's top left corner lands,
// v then h), then the one-unit steps of the cell's width and of its height
// direction, each as origin + step × 10000 (v then h). The
// tiling writer reads its pattern matrix from them. False when the pattern is
// not a tiling pattern, its cell is empty or a word leaves the int32 range.
bool patternCornerWords(const jobstr* job, int pattern, std::int32_t words[6]);

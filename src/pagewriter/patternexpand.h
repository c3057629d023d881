#pragma once
// Pattern fills written as the objects the pattern stands for: the cell's
// objects repeated tile by tile over the filled object, each tile cut to its
// cell and to the object's outline. A writer takes this road for patterns
// that are to be expanded and for cells that a tiling pattern cannot carry.
//
// What a tile holds, in the page's space:
//   - paths and compound paths, moved by the tile's placement and cut;
//   - strokes as the area they cover (built in the cell, then moved), so
//     that a turned or sheared cell turns its strokes with it;
//   - texts as the outlines of their characters;
//   - gradients, gradations, placed pictures and maps in paints moved with
//     the tile (new paints of the job); a radial gradient that the
//     placement does not keep round becomes a circular gradation placed by
//     a matrix;
//   - nested pattern fills expanded in turn, in the space of their cell;
//   - groups as groups (their transparency kept);
//   - soft masks of any of these as new masks of the job whose objects are
//     moved and cut as the tile's own objects are.
#include <cstdint>

struct jobstr;

namespace TavDB {
class Object;
}

namespace TavricLib {

// Replaces every path or compound path among the members of `group` (at any
// depth) that is filled with a pattern paint by a group of the objects its
// tiles show (an object whose tiles show nothing is removed). Paints and
// soft masks the expansion needs are added to the job. Throws TavSys::Error with the key
// "PDF/PATTERN NOT EXPANDED" when the fill needs more tiles, paints or
// coordinates than the job can hold.
void ExpandPattern(jobstr* job, TavDB::Object* group);

// Whether a tiling pattern's cell paints anything in a colour that leaves an
// ink of the job in use (enabled) untouched: in fills, strokes, texts,
// gradients, maps or nested pattern fills.
bool PatternLeavesInksUntouched(const jobstr* job, int pattern);

}  // namespace TavricLib

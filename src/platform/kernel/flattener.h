#pragma once
// The transparency flattener: a copy of a job's object tree in which nothing
// is transparent and every ink prints as the transparent tree composes.
//
// The tree is read in painting order as a sequence of units: objects at the
// page level and transparency groups (groups whose paint has opacity, a
// blend mode, a soft mask or the isolated or knockout flag) taken whole.
// Plain groups and layers are looked through. A unit is flattened when it is
// transparent, or when it overprints and the parameters ask for overprints
// to be composed; every other object is copied as it is, in its place.
//
// A flattened unit is replaced, in its place, by opaque regions that cover
// exactly its area: the planar map of everything below it that meets it
// (Clipper's polygon operations; strokes and texts through their outlines),
// each region filled with the colour its stack composes to, ink by ink.
// What lies below stays as it is under the regions, so texts stay texts and
// the objects keep their own form. Regions whose colour varies (gradients,
// gradations, pictures, maps, patterns, soft masks) and units too complex
// for vectors go to the raster road: each object there is rendered on its
// own by the separations renderer, the stack composed pixel by pixel with
// the same formulas, and the result placed as a map clipped to the region.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/flattengeometry.h"

struct jobstr;
namespace TavDB {
class Object;
}

namespace TavFlatten {

struct Parameters {
  // Units whose paints leave inks untouched (overprint) are composed too,
  // black overprint (only the process black set) by its own switch.
  bool flattenOverprints = false;
  bool flattenBlackOverprint = false;
  // The job is a placed one-up and its overprints are to be ignored: inks
  // its colours leave untouched are knocked out instead.
  bool ignorePlacedOverprints = false;
  // Opaque inks knock out the inks before them, as the writer does with
  // ForceOpaqueSeparationsToKnockout.
  bool opaqueInksKnockOut = false;
  // Areas too complex for vectors stay vectors all the same (only colour
  // that varies goes to the raster road).
  bool vectorizeOpacity = false;
  // Objects whose flags meet the mask take no part (passed through as they are).
  std::uint32_t objectMask = 0x60000;
  // Largest number of regions a unit is cut into before it goes to the
  // raster road (unless vectorizeOpacity).
  std::size_t regionLimit = 4000;
  // Hard limit of regions whatever vectorizeOpacity says.
  std::size_t regionCap = 400000;
  // Pixels per inch of the raster road.
  double resolution = 300;
  // Colour management: RGB colours in raster areas (RGB pictures, placed
  // PDF pages) become inks through this CMYK ICC profile; empty, or a file
  // that is not one, gives the plain conversion.
  std::string cmykProfile;
  // Largest raster of one area, in pixels, and the most memory the rasters
  // of its objects may take together; beyond either the area is rendered at
  // a lower resolution.
  double maxPixels = 16.0e6;
  double maxRasterBytes = 768.0e6;
};

struct Result {
  // The flattened tree (owned by the caller); null when nothing needed
  // flattening and the job's own tree is used as it is.
  std::unique_ptr<TavDB::Object> tree;
  int unitsFlattened = 0;
  int regionsWritten = 0;
  int rasterAreas = 0;
  bool cancelled = false;
};

class RasterStore;

// Flattens `tree` (not changed) of the job. New paints and colours are added
// to the job (the export drops them afterwards); the raster road's maps and
// files go to `store`, which the tree needs as long as it is written.
// `cancelled` is asked between units. Throws TavSys::Error when the tree
// cannot be flattened ("PDF/CANNOT FLATTEN TRANSPARENCY": a full paint
// table, no store for a raster area; the renderer's and the file system's
// own errors).
Result FlattenTree(jobstr* job, const TavDB::Object* tree, const Parameters& parameters, RasterStore* store,
                   const std::function<bool()>& cancelled = {});

}  // namespace TavFlatten

#pragma once
// The kernel's separations renderer: draws objects of a job over a rectangle
// of the job into one 8-bit plane per ink, composing each object as it
// prints. The thumbnail, the previews of a page, the ink coverage and the
// flattener's raster regions all draw with it.
//
// Composition, per ink plane (0 no ink .. 255 full ink; a new rendering holds
// no ink anywhere):
//   - an object paints the inks its colour gives a share (0 included: a
//     knock-out) and leaves the inks its colour leaves untouched as they are,
//     so overprint is what the job's colours say; a map, a picture or a
//     pattern likewise paints the inks it carries;
//   - with `opaqueInksKnockOut`, an opaque ink in a colour takes its share
//     off the inks of the lower slots (the export's opaque-ink conversion);
//   - transparency: the paint's opacity, soft mask and separable blend
//     mode act per ink (non-separable modes compose as normal); a map's
//     opacity channel and a placed PDF page's own transparency likewise;
//   - screens and dot gain are left out: a plate shows tints, not dots.
// Every object kind is drawn: paths and compound paths (even-odd), strokes
// (centred, inside, outside, dashed, in any paint), texts (the glyph
// outlines of their fonts), gradients and gradations, tiling patterns,
// placed TIFF and JPEG pictures, maps with their channels and opacity,
// one-ups (nested jobs, their inks matched to the planes by name),
// barcodes, placed EPS files (their preview, as the written file shows it)
// and placed PDF pages (rendered in colour and split into the inks through
// their process equivalents).
//
// Use:
//   TavricLib::SeparatedPreviewOptions options;
//   options.layerMask = 0x60000;                         // leave out excluded and non-printing objects
//   auto [w, h] = TavricLib::PreviewSize(job, box, 150);  // 150 pixels per inch
//   TavricLib::SeparatedPreview preview(job, box, w, h, options);
//   preview.Render(jobGetSpahan(job));                  // or any list or object of the job
//   for (int p = 0; p < preview.GetPlaneCount(); ++p)
//     ... preview.GetPlaneSeparation(p), preview.GetScanLine(p, row) ...
//
// Memory is the planes (ink count x pixels), a coverage plane, and for the
// duration of one object some rasters no larger than the object's part of
// the planes.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
namespace TavDB {
class Object;
}

namespace TavricLib {

struct SeparatedPreviewOptions {
  // 1: each pixel takes what covers its centre (as a RIP's plates show it);
  // 2: edges are smoothed by the share of the pixel an object covers.
  int antiAliasing = 1;
  // Without smoothing: a pixel takes the objects that cover its centre
  // rather than those that touch it (for drawing samples that are then
  // averaged: shapes then neither grow nor shrink on the whole).
  bool pixelCentres = false;
  // An object is drawn (with what it holds) when its flags masked by
  // layerMask equal layerTarget: 0x60000 leaves out excluded and
  // non-printing objects, 0x20000 excluded ones only; 0x800000 added leaves
  // out hidden objects as well.
  std::uint32_t layerMask = 0x60000;
  std::uint32_t layerTarget = 0;
  // The page layout acting on the job's points about its origin
  // (getLayoutMatrix): v' = a v + c h, h' = b v + d h.
  TavDB::tv_matrixtyp<double> layout{1, 0, 0, 1, 0, 0};
  // Opaque inks take their share off the inks of lower slots.
  bool opaqueInksKnockOut = false;
  // The job's station-number text is drawn (the export writes it only in
  // normalized output).
  bool stationNumber = true;
  // The slots that get a plane, in the order given; empty: every
  // separation of the job in use and enabled (sepsoruse), in slot order.
  std::vector<int> separations;
  // A CMYK ICC profile for colours given in RGB (placed PDF pages, RGB
  // pictures); empty, or a file that is not one, gives the plain
  // conversion with full black generation.
  std::string cmykProfile;
};

// The pixel size of a box (job units) at a resolution (pixels per inch):
// each side rounded, at least 1 pixel.
std::pair<int, int> PreviewSize(const jobstr* job, const TavSys::tv_rectangle& box, double resolution);

class SeparatedPreview {
 public:
  // Planes of width x height pixels over `box`, a rectangle of the job in
  // job units as the layout places it (GetLayoutTransformedBox): the first
  // row lies along its top, the first column along its left edge. Throws
  // TavSys::Error ("PDF/PREVIEW TOO LARGE") when the planes would exceed
  // what one rendering may hold.
  SeparatedPreview(const jobstr* job, const TavSys::tv_rectangle& box, int width, int height,
                   const SeparatedPreviewOptions& options = {});
  ~SeparatedPreview();
  SeparatedPreview(const SeparatedPreview&) = delete;
  SeparatedPreview& operator=(const SeparatedPreview&) = delete;

  // Draws objects of the job on top of what was drawn before: the members
  // of a list (the job's tree, a group, a layer), or one object. Null draws
  // the job's own tree. Throws TavSys::Error when a placed file the objects
  // need cannot be read.
  void Render(const TavDB::Object* objects = nullptr);

  int GetWidth() const;
  int GetHeight() const;
  int GetPlaneCount() const;
  // The slot of a plane's ink; the plane of a slot, -1 when it has none.
  int GetPlaneSeparation(int plane) const;
  int GetSeparationPlane(int slot) const;
  // A row of a plane, from the top: width bytes, 0 no ink .. 255 full ink.
  const std::uint8_t* GetScanLine(int plane, int row) const;
  // A row of the coverage plane: how much of each pixel the drawn objects
  // cover, whatever they paint (0 nothing .. 255 all).
  const std::uint8_t* GetShapeLine(int row) const;

  class Impl;

 private:
  std::unique_ptr<Impl> mImpl;
};

}  // namespace TavricLib

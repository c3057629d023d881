#pragma once
// Inside the separations renderer: what placed pictures, maps, EPS files and
// PDF pages paint, as ink rasters over the device pixels they cover.
#include <cairo.h>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "platform/kernel/previewraster.h"
#include "platform/kernel/separatedpreview.h"

namespace TavricLib::preview {

// The SONAME of the library placed PDF pages are rendered with, found when
// the engine was built; it is loaded when a preview first draws such a page.
std::string PdfRendererLibrary();
// Another library in its place from the next page on: tests name a missing
// one, or one without the renderer's functions, to see the page refused.
void SetPdfRendererLibrary(std::string soname);

// The rasters of one placement and, per plane, what it paints (pointing into
// the rasters, which a deque keeps in place).
struct PictureLayer {
  std::deque<Raster> rasters;
  std::vector<PlaneSource> sources;
};

// A picture decoded into ink planes at a size, kept for further placements.
struct DecodedPicture {
  int width = 0, height = 0;
  std::vector<int> slots;          // the ink of each plane
  std::vector<Raster> planes;      // 0..255 ink, over (0, 0, width, height)
  Raster alpha;                    // how much each pixel paints; empty: all
  bool knocksOut = true;           // the inks it does not paint are cleared under it
};

class PictureSources {
 public:
  explicit PictureSources(const SeparatedPreviewOptions& options);
  ~PictureSources();
  PictureSources(const PictureSources&) = delete;
  PictureSources& operator=(const PictureSources&) = delete;

  // A placed picture (paint type 3 that is not a one-up) over the device
  // pixels of `r`. Throws TavSys::Error when its file cannot be read.
  PictureLayer Picture(const jobstr* job, const Paint& paint, const cairo_matrix_t& toDevice, const IntRect& r,
                       const std::array<int, kMaxSeparations>& planeOf, std::size_t planes);
  // A map (paint type 7) likewise.
  PictureLayer Map(const jobstr* job, const Paint& paint, const cairo_matrix_t& toDevice, const IntRect& r,
                   const std::array<int, kMaxSeparations>& planeOf, std::size_t planes);

 private:
  const DecodedPicture& Decode(const jobstr* job, int kind, int index, int w, int h);
  DecodedPicture DecodePixels(const jobstr* job, const std::string& path, int w, int h) const;
  DecodedPicture DecodeEpsPreview(const jobstr* job, int picture, int w, int h) const;
  DecodedPicture DecodePdfPage(const jobstr* job, const struct Paint& paint, int w, int h) const;
  DecodedPicture DecodeMap(const jobstr* job, int map, int w, int h) const;
  PictureLayer Place(const DecodedPicture& picture, const Paint& paint, const cairo_matrix_t& toDevice,
                     const IntRect& r, const std::array<int, kMaxSeparations>& planeOf, std::size_t planes) const;

  const SeparatedPreviewOptions& mOptions;
  RgbToCmyk mRgb;
  // Decoded pictures by (job, kind, index, width, height).
  std::map<std::tuple<const jobstr*, int, int, int, int>, DecodedPicture> mCache;
};

}  // namespace TavricLib::preview

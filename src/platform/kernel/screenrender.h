#pragma once
// The kernel's screen renderer ("SC"): draws a job's object tree into an RGB
// raster, as the thumbnails of the pages show it, with smoothed edges.
//
// What is drawn, and how objects compose, is the separations renderer's
// (separatedpreview.h): every object kind, each as it prints, into one plane
// per ink; objects whose flags meet the layer mask are left out, and so is
// the job's station-number text.
//
// Colours: each pixel's inks are mixed into CMYK through their CMYK
// equivalents (multiplicatively per component). CMYK becomes RGB through a
// CMYK ICC profile when one is given (lcms2, perceptual, to sRGB), else
// as PDF viewers show DeviceCMYK without colour management (ViewerCmykToRgb).
//
// Use (the thumbnail of a page):
//   auto env = SC::EnvironmentFactory(job, box, width, height);
//   auto filter = SC::SeparationTableJobFactory(job, 1, 0, 1);
//   auto options = SC::OptionsPreviewFactory();
//   options->Set("QueryLayerMask", 0x60000); ...
//   auto cache = SC::CacheObjectFactory(job);
//   auto rgb = SC::RgbConverterFactory(*env, *filter, *options, tree, *cache);
//   while (rgb->NextRow(row)) ...   // width × 4 bytes per row
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
namespace TavDB {
class Object;
}

namespace SC {

// Separation filters handed to the colour engine.
class SeparationFilter {
 public:
  virtual ~SeparationFilter() = default;
  virtual bool Passes(int separation) const = 0;
  virtual bool PassesAll() const { return false; }
};

// Lets every separation through (the thumbnail uses it).
class AllPassSeparationFilter : public SeparationFilter {
 public:
  bool Passes(int) const override { return true; }
  bool PassesAll() const override { return true; }
};

// The separations of the job that are output (in use and not kept out by the
// separation disabler); the three values are the kernel's selectors.
std::unique_ptr<SeparationFilter> SeparationTableJobFactory(const jobstr* job, int selector1, int selector2,
                                                            int selector3);

// Rendering options by name: "QueryLayerMask" and "QueryLayerTarget" (an
// object is drawn when its flags masked by the mask equal the target),
// "LittleEndian" (1: rows as B, G, R, unused; 0: unused, R, G, B),
// "Supersample" (n > 1: edges smoothed by drawing n x n sample pixels for
// each pixel, as a RIP draws, and averaging them, in place of the exact
// shares of each object; far cheaper for pages of many objects, and
// smoothed edges differ by at most 1/n of a pixel; lowered when the
// samples would take too much memory).
class Options {
 public:
  void Set(const std::string& key, std::int64_t value) { mValues[key] = value; }
  std::int64_t Get(const std::string& key, std::int64_t fallback) const;

 private:
  std::map<std::string, std::int64_t> mValues;
};
std::unique_ptr<Options> OptionsPreviewFactory();

// One CMYK pixel (255 full ink) as a PDF viewer shows DeviceCMYK without an
// output profile; inks given through a CMYK alternate show the same way.
void ViewerCmykToRgb(const std::uint8_t cmyk[4], std::uint8_t rgb[3]);

// An lcms2 transform between 8-bit sRGB and the CMYK profile at
// `profilePath` (RGB to CMYK when `toCmyk`, else back), perceptual; null
// when the path names no readable CMYK profile. The caller owns it
// (cmsDeleteTransform).
void* OpenCmykProfileTransform(const std::string& profilePath, bool toCmyk);

// CMYK (0..1 each) to RGB bytes.
class CmykToRgb {
 public:
  // An empty path, or a file that is not a CMYK ICC profile, gives the
  // viewer's conversion (ViewerCmykToRgb).
  explicit CmykToRgb(const std::string& profilePath = {});
  // The complements R = 1 - min(1, C + K), G = 1 - min(1, M + K),
  // B = 1 - min(1, Y + K): what TavGen::rgbcmyk with full black generation
  // turns back into the same inks (the picture previews go there and back).
  struct Complement {};
  explicit CmykToRgb(Complement) : mComplement(true) {}
  ~CmykToRgb();
  CmykToRgb(const CmykToRgb&) = delete;
  CmykToRgb& operator=(const CmykToRgb&) = delete;
  bool UsesProfile() const { return mTransform != nullptr; }
  // n pixels of four bytes C, M, Y, K (255 full) into n × 3 bytes R, G, B.
  void ConvertRow(const std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t n) const;

 private:
  void* mTransform = nullptr;  // lcms2 transform
  bool mComplement = false;
};

// What is rendered: the job, the rectangle of it (job units, after the
// layout), the raster's size, the layout acting on the job's points about
// its origin (v' = a v + c h, h' = b v + d h) and the colour conversion.
struct Environment {
  const jobstr* job = nullptr;
  TavSys::tv_rectangle box;
  int width = 0, height = 0;
  TavDB::tv_matrixtyp<double> layout{1, 0, 0, 1, 0, 0};
  std::string cmykProfile;  // a CMYK ICC profile, empty for none
};
std::unique_ptr<Environment> EnvironmentFactory(const jobstr* job, const TavSys::tv_rectangle& box, int width,
                                                int height);

// Pictures decoded once per rendering, whatever number of placements.
class CacheObject {
 public:
  virtual ~CacheObject() = default;
};
std::unique_ptr<CacheObject> CacheObjectFactory(const jobstr* job);

// The rendered raster, row by row from the top.
class RgbConverter {
 public:
  virtual ~RgbConverter() = default;
  // The next row as width × 4 bytes; false when every row was given (or the
  // raster could not be made).
  virtual bool NextRow(std::uint8_t* row) = 0;
};
std::unique_ptr<RgbConverter> RgbConverterFactory(const Environment& environment, const SeparationFilter& filter,
                                                  const Options& options, const TavDB::Object* tree,
                                                  CacheObject& cache);

// The screen preview of a placed picture: rows of 4 bytes per pixel (unused,
// R, G, B), at most the picture's own size and no more than needed at 72
// pixels per inch. Empty (width 0) for pictures that are not read as pixels
// or cannot be read.
struct PicturePixelBuffer {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
};
PicturePixelBuffer GetPicturePixelBuffer(const jobstr* job, int picture);

}  // namespace SC

namespace TavGen {
// RGB (0..1 each) to CMYK (0..1 each) with black generation: black takes
// blackAmount of the common part of the three inks above blackStart (0..1),
// and the three inks give it up.
void rgbcmyk(double r, double g, double b, double blackStart, double blackAmount, double cmyk[4]);
}  // namespace TavGen

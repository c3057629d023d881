#pragma once
// Inside the separations renderer (separatedpreview.cpp and its picture
// sources): 8-bit rasters over device rectangles, the planes objects are
// composed into, and the ink sources an object paints with.
#include <cairo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/kernel/job.h"

namespace TavricLib::preview {

// A rectangle of device pixels, [x0, x1) x [y0, y1).
struct IntRect {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  bool empty() const { return x1 <= x0 || y1 <= y0; }
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
  IntRect intersect(const IntRect& o) const {
    return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
  }
};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
struct ContextDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using CairoContext = std::unique_ptr<cairo_t, ContextDeleter>;

// The bytes of a raster. Cleared ones are cleared by the system: large ones
// are mapped by themselves with all their pages made in one call (a page's
// planes are mostly drawn over, and a fault for each of their pages as it is
// first touched costs more than the drawing), small ones come from calloc.
class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(std::size_t size, std::uint8_t fill);
  ByteBuffer(const ByteBuffer& other);
  ByteBuffer& operator=(const ByteBuffer& other);
  ByteBuffer(ByteBuffer&&) noexcept = default;
  ByteBuffer& operator=(ByteBuffer&&) noexcept = default;
  std::uint8_t* data() { return mBytes.get(); }
  const std::uint8_t* data() const { return mBytes.get(); }
  std::size_t size() const { return mSize; }
  std::uint8_t* begin() { return data(); }
  std::uint8_t* end() { return data() + mSize; }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + mSize; }

 private:
  struct Free {
    Free() noexcept {}
    explicit Free(std::size_t bytesMapped) noexcept : mapped(bytesMapped) {}
    void operator()(std::uint8_t* p) const;
    std::size_t mapped = 0;  // bytes mapped for the buffer, 0: from malloc
  };
  std::unique_ptr<std::uint8_t[], Free> mBytes;
  std::size_t mSize = 0;
};

// One byte per pixel over a rectangle, rows as cairo's A8 surfaces lay them
// out, so that cairo can draw into it and read from it.
class Raster {
 public:
  Raster() = default;
  explicit Raster(const IntRect& rect, std::uint8_t fill = 0);
  const IntRect& rect() const { return mRect; }
  int stride() const { return mStride; }
  bool empty() const { return mRect.empty(); }
  // Rows by device row number (rect().y0 .. y1 - 1); the first byte is column rect().x0.
  std::uint8_t* row(int y) { return mData.data() + std::ptrdiff_t(y - mRect.y0) * mStride; }
  const std::uint8_t* row(int y) const { return mData.data() + std::ptrdiff_t(y - mRect.y0) * mStride; }
  // A cairo surface over the bytes (owned by the caller; the raster must outlive it).
  Surface surface();
  // A context drawing onto the raster in device coordinates.
  CairoContext context();
  void fill(std::uint8_t value);
  // Multiplies each byte by the other raster's (0 outside it).
  void multiply(const Raster& other);
  bool allZero() const;
  // Every byte above `limit` becomes 255, every other one 0.
  void threshold(std::uint8_t limit);

 private:
  IntRect mRect;
  int mStride = 0;
  ByteBuffer mData;
};

// A raster drawn onto the device pixels of `r` through `deviceToSource`
// (device pixels to the source's pixels).
Raster Resample(Raster& source, const cairo_matrix_t& deviceToSource, const IntRect& r, cairo_filter_t filter,
                cairo_extend_t extend);

// What an object paints into one plane.
struct PlaneSource {
  enum Kind : std::uint8_t { kUntouched, kConstant, kRaster } kind = kUntouched;
  std::uint8_t value = 0;            // kConstant: the ink
  const Raster* values = nullptr;    // kRaster: the ink per pixel
  const Raster* alpha = nullptr;     // per-pixel share of the plane painted (null: all)
};

// The planes of a rendering or of a layer inside it (a pattern cell, a soft
// mask, a transparent one-up): ink values per plane over a rectangle. A
// layer also keeps, per plane, how much of each pixel was painted (its
// values are then premultiplied by it); the page's planes are opaque.
struct Target {
  IntRect rect;
  std::vector<Raster> values;
  std::vector<Raster> alpha;  // empty: opaque
  Raster* shape = nullptr;    // coverage of everything drawn, may be null
  bool isLayer() const { return !alpha.empty(); }
};

// A paint's transparency as it acts on each pixel.
struct Transparency {
  double opacity = 1;
  int blendMode = 0;
  const Raster* mask = nullptr;  // per-pixel opacity (a soft mask), null: none
};

// Composes `sources` (one per plane of the target) where `coverage` says,
// with the transparency given.
void Compose(Target& target, const Raster& coverage, const std::vector<PlaneSource>& sources,
             const Transparency& transparency);
// Composes a layer (same planes) onto the target where `coverage` says.
void ComposeLayer(Target& target, const Raster& coverage, const Target& layer, const Transparency& transparency);

// CMYK (0..1) from RGB (0..1) through a CMYK profile, or the plain
// conversion with full black generation.
class RgbToCmyk {
 public:
  explicit RgbToCmyk(const std::string& profilePath);
  ~RgbToCmyk();
  RgbToCmyk(const RgbToCmyk&) = delete;
  RgbToCmyk& operator=(const RgbToCmyk&) = delete;
  // n pixels of R, G, B bytes into n × 4 bytes C, M, Y, K (255 full ink).
  void Convert(const std::uint8_t* rgb, std::uint8_t* cmyk, std::size_t n) const;

 private:
  void* mTransform = nullptr;  // lcms2 transform, owned
};

// Splits CMYK pixels into the inks of a job: the spot inks given take what
// their process equivalents explain of each pixel (the first ink first),
// the process inks the rest.
class CmykSplitter {
 public:
  CmykSplitter(const jobstr* job, const std::vector<int>& spotSlots);
  // The slots it paints: the job's process inks, then the spot inks given.
  const std::vector<int>& Slots() const { return mSlots; }
  // One pixel: cmyk (255 full) into one value per slot of Slots().
  void Split(const std::uint8_t* cmyk, std::uint8_t* inks) const;

 private:
  std::vector<int> mSlots;
  int mProcess = 0;  // the first mProcess slots are process inks (kinds in mKinds)
  std::array<int, 4> mKinds{};
  std::vector<std::array<double, 4>> mSpotCmyk;
};

}  // namespace TavricLib::preview

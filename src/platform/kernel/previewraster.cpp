#include "platform/kernel/previewraster.h"

#include <lcms2.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "platform/kernel/flattencompose.h"
#include "platform/kernel/screenrender.h"

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace TavricLib::preview {

namespace {
// Cleared buffers from this size on are mapped by themselves with their
// pages made at once.
constexpr std::size_t kMappedSize = std::size_t(4) << 20;
}  // namespace

void ByteBuffer::Free::operator()(std::uint8_t* p) const {
#ifdef __linux__
  if (mapped != 0) {
    ::munmap(p, mapped);
    return;
  }
#endif
  std::free(p);
}

ByteBuffer::ByteBuffer(std::size_t size, std::uint8_t fill) : mSize(size) {
  if (size == 0) return;
#ifdef __linux__
  if (fill == 0 && size >= kMappedSize) {
    void* bytes = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (bytes == MAP_FAILED) throw std::bad_alloc();
    mBytes = std::unique_ptr<std::uint8_t[], Free>(static_cast<std::uint8_t*>(bytes), Free(size));
    return;
  }
#endif
  void* bytes = fill == 0 ? std::calloc(size, 1) : std::malloc(size);
  if (bytes == nullptr) throw std::bad_alloc();
  mBytes.reset(static_cast<std::uint8_t*>(bytes));
  if (fill != 0) std::memset(bytes, fill, size);
}

ByteBuffer::ByteBuffer(const ByteBuffer& other) : ByteBuffer(other.mSize, 0) {
  if (mSize != 0) std::memcpy(data(), other.data(), mSize);
}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
  if (this != &other) *this = ByteBuffer(other);
  return *this;
}

Raster::Raster(const IntRect& rect, std::uint8_t fill) : mRect(rect) {
  if (mRect.empty()) {
    mRect = {};
    return;
  }
  mStride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, mRect.width());
  mData = ByteBuffer(std::size_t(mStride) * std::size_t(mRect.height()), fill);
}

Surface Raster::surface() {
  if (empty()) return Surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
  return Surface(cairo_image_surface_create_for_data(mData.data(), CAIRO_FORMAT_A8, mRect.width(),
                                                     mRect.height(), mStride));
}

CairoContext Raster::context() {
  Surface s = surface();
  CairoContext cr(cairo_create(s.get()));
  cairo_translate(cr.get(), -mRect.x0, -mRect.y0);
  return cr;
}

void Raster::fill(std::uint8_t value) { std::fill(mData.begin(), mData.end(), value); }

void Raster::multiply(const Raster& other) {
  const IntRect common = mRect.intersect(other.rect());
  for (int y = mRect.y0; y < mRect.y1; ++y) {
    std::uint8_t* out = row(y);
    if (y < common.y0 || y >= common.y1 || common.empty()) {
      std::memset(out, 0, std::size_t(mRect.width()));
      continue;
    }
    const std::uint8_t* in = other.row(y) + (common.x0 - other.rect().x0);
    std::memset(out, 0, std::size_t(common.x0 - mRect.x0));
    std::uint8_t* o = out + (common.x0 - mRect.x0);
    for (int x = 0; x < common.width(); ++x) o[x] = std::uint8_t((o[x] * in[x] + 127) / 255);
    std::memset(o + common.width(), 0, std::size_t(mRect.x1 - common.x1));
  }
}

void Raster::threshold(std::uint8_t limit) {
  for (std::uint8_t& b : mData) b = b > limit ? 255 : 0;
}

bool Raster::allZero() const {
  return std::all_of(mData.begin(), mData.end(), [](std::uint8_t b) { return b == 0; });
}

Raster Resample(Raster& source, const cairo_matrix_t& deviceToSource, const IntRect& r, cairo_filter_t filter,
                cairo_extend_t extend) {
  Raster out(r);
  if (out.empty() || source.empty()) return out;
  Surface s = source.surface();
  CairoContext cr = out.context();
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(s.get());
  cairo_matrix_t shift, full;
  cairo_matrix_init_translate(&shift, -source.rect().x0, -source.rect().y0);
  cairo_matrix_multiply(&full, &deviceToSource, &shift);
  cairo_pattern_set_matrix(pattern, &full);
  cairo_pattern_set_filter(pattern, filter);
  cairo_pattern_set_extend(pattern, extend);
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source(cr.get(), pattern);
  cairo_paint(cr.get());
  cairo_pattern_destroy(pattern);
  return out;
}

namespace {

// The separable blend modes on ink amounts: each mode acts on the colour
// (1 - ink), as subtractive colour blends; the modes in the job's numbering
// (the flattener's composition has the same functions).
double blend(int mode, double backdrop, double source) {
  return 1 - TavFlatten::BlendSeparable(mode, float(1 - backdrop), float(1 - source));
}

bool separable(int mode) { return mode >= 1 && mode <= 11; }

}  // namespace

void Compose(Target& target, const Raster& coverage, const std::vector<PlaneSource>& sources,
             const Transparency& transparency) {
  const IntRect r = coverage.rect().intersect(target.rect);
  if (r.empty()) return;
  const int opacity = int(std::lround(std::clamp(transparency.opacity, 0.0, 1.0) * 255));
  if (opacity == 0) return;
  const bool blended = separable(transparency.blendMode);
  const bool plain = opacity == 255 && transparency.mask == nullptr && !blended && !target.isLayer() &&
                     std::all_of(sources.begin(), sources.end(), [](const PlaneSource& s) { return s.alpha == nullptr; });
  if (plain) {
    // The common case of an opaque object over the page's planes: the share
    // painted is the coverage. Plane by plane, so that each plane's rows are
    // visited in order, and without a branch per pixel (where nothing is
    // painted the step rounds to nothing).
    // Each row from its first to its last pixel of some coverage (pixels
    // without any are left as they are either way).
    const std::size_t width = std::size_t(r.width());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> painted(std::size_t(r.height()));
    for (int y = r.y0; y < r.y1; ++y) {
      const std::uint8_t* cov = coverage.row(y) + (r.x0 - coverage.rect().x0);
      std::size_t lo = 0, hi = width;
      while (lo < hi && cov[lo] == 0) ++lo;
      while (hi > lo && cov[hi - 1] == 0) --hi;
      painted[std::size_t(y - r.y0)] = {std::uint32_t(lo), std::uint32_t(hi)};
    }
    if (target.shape != nullptr) {
      for (int y = r.y0; y < r.y1; ++y) {
        const auto [lo, hi] = painted[std::size_t(y - r.y0)];
        const std::uint8_t* a = coverage.row(y) + (r.x0 - coverage.rect().x0);
        std::uint8_t* sh = target.shape->row(y) + (r.x0 - target.shape->rect().x0);
        for (std::size_t x = lo; x < hi; ++x) sh[x] = std::uint8_t(sh[x] + (a[x] * (255 - sh[x]) + 127) / 255);
      }
    }
    // A small object touches a few bytes of many rows of each plane: all
    // of them are asked for before any is composed, so that their fetches
    // from memory overlap.
    if (width <= 256) {
      for (std::size_t p = 0; p < sources.size() && p < target.values.size(); ++p) {
        if (sources[p].kind == PlaneSource::kUntouched) continue;
        for (int y = r.y0; y < r.y1; ++y) {
          const auto [lo, hi] = painted[std::size_t(y - r.y0)];
          if (lo >= hi) continue;
          const std::uint8_t* out = target.values[p].row(y) + (r.x0 - target.rect.x0);
          __builtin_prefetch(out + lo, 1);
          __builtin_prefetch(out + hi - 1, 1);
        }
      }
    }
    for (std::size_t p = 0; p < sources.size() && p < target.values.size(); ++p) {
      const PlaneSource& src = sources[p];
      if (src.kind == PlaneSource::kUntouched) continue;
      for (int y = r.y0; y < r.y1; ++y) {
        const auto [lo, hi] = painted[std::size_t(y - r.y0)];
        if (lo >= hi) continue;
        const std::uint8_t* values = nullptr;
        if (src.kind == PlaneSource::kRaster) {
          if (src.values == nullptr || y < src.values->rect().y0 || y >= src.values->rect().y1) continue;
          values = src.values->row(y) + (r.x0 - src.values->rect().x0);
        }
        const std::uint8_t* a = coverage.row(y) + (r.x0 - coverage.rect().x0);
        std::uint8_t* out = target.values[p].row(y) + (r.x0 - target.rect.x0);
        if (values == nullptr) {
          const int v = src.value;
          for (std::size_t x = lo; x < hi; ++x) {
            const int d = (v - out[x]) * a[x];
            out[x] = std::uint8_t(out[x] + (d + (d >= 0 ? 127 : -127)) / 255);
          }
        } else {
          for (std::size_t x = lo; x < hi; ++x) {
            const int d = (values[x] - out[x]) * a[x];
            out[x] = std::uint8_t(out[x] + (d + (d >= 0 ? 127 : -127)) / 255);
          }
        }
      }
    }
    return;
  }
  std::vector<std::uint8_t> alpha(std::size_t(r.width()));
  for (int y = r.y0; y < r.y1; ++y) {
    // The share of each pixel the object paints, whatever the ink.
    const std::uint8_t* cov = coverage.row(y) + (r.x0 - coverage.rect().x0);
    const std::uint8_t* mask = nullptr;
    if (transparency.mask != nullptr) {
      const Raster& m = *transparency.mask;
      if (y < m.rect().y0 || y >= m.rect().y1) continue;
      mask = m.row(y) + (r.x0 - m.rect().x0);
    }
    bool any = false;
    for (int x = 0; x < r.width(); ++x) {
      int a = cov[x] * opacity;
      if (mask != nullptr) a = a * mask[x] / 255;
      alpha[std::size_t(x)] = std::uint8_t((a + 127) / 255);
      any = any || alpha[std::size_t(x)] != 0;
    }
    if (!any) continue;
    if (target.shape != nullptr) {
      std::uint8_t* s = target.shape->row(y) + (r.x0 - target.shape->rect().x0);
      for (int x = 0; x < r.width(); ++x) s[x] = std::uint8_t(s[x] + (alpha[std::size_t(x)] * (255 - s[x]) + 127) / 255);
    }
    for (std::size_t p = 0; p < sources.size() && p < target.values.size(); ++p) {
      const PlaneSource& src = sources[p];
      if (src.kind == PlaneSource::kUntouched) continue;
      std::uint8_t* out = target.values[p].row(y) + (r.x0 - target.rect.x0);
      std::uint8_t* outAlpha = target.isLayer() ? target.alpha[p].row(y) + (r.x0 - target.rect.x0) : nullptr;
      const std::uint8_t* values = nullptr;
      if (src.kind == PlaneSource::kRaster) {
        if (src.values == nullptr || y < src.values->rect().y0 || y >= src.values->rect().y1) continue;
        values = src.values->row(y) + (r.x0 - src.values->rect().x0);
      }
      const std::uint8_t* share = nullptr;
      if (src.alpha != nullptr) {
        if (y < src.alpha->rect().y0 || y >= src.alpha->rect().y1) continue;
        share = src.alpha->row(y) + (r.x0 - src.alpha->rect().x0);
      }
      for (int x = 0; x < r.width(); ++x) {
        int a = alpha[std::size_t(x)];
        if (share != nullptr) a = (a * share[x] + 127) / 255;
        if (a == 0) continue;
        const int s = values != nullptr ? values[x] : src.value;
        if (outAlpha != nullptr) {
          // A layer: premultiplied ink and the share painted.
          const int d = (s - out[x]) * a;
          out[x] = std::uint8_t(out[x] + (d + (d >= 0 ? 127 : -127)) / 255);
          outAlpha[x] = std::uint8_t(outAlpha[x] + (a * (255 - outAlpha[x]) + 127) / 255);
          continue;
        }
        int result = s;
        if (blended) result = int(std::lround(blend(transparency.blendMode, out[x] / 255.0, s / 255.0) * 255));
        out[x] = std::uint8_t(out[x] + ((result - out[x]) * a + (result >= out[x] ? 127 : -127)) / 255);
      }
    }
  }
}

void ComposeLayer(Target& target, const Raster& coverage, const Target& layer, const Transparency& transparency) {
  // Each plane of the layer as a source: its ink unpremultiplied, its share painted.
  const IntRect r = coverage.rect().intersect(layer.rect);
  if (r.empty()) return;
  std::vector<Raster> values, shares;
  std::vector<PlaneSource> sources(layer.values.size());
  values.reserve(layer.values.size());
  shares.reserve(layer.values.size());
  for (std::size_t p = 0; p < layer.values.size(); ++p) {
    const Raster& a = layer.alpha[p];
    const Raster& v = layer.values[p];
    Raster value(r), share(r);
    bool any = false;
    for (int y = r.y0; y < r.y1; ++y) {
      const std::uint8_t* ia = a.row(y) + (r.x0 - a.rect().x0);
      const std::uint8_t* iv = v.row(y) + (r.x0 - v.rect().x0);
      std::uint8_t* ov = value.row(y);
      std::uint8_t* os = share.row(y);
      for (int x = 0; x < r.width(); ++x) {
        os[x] = ia[x];
        ov[x] = ia[x] == 0 ? 0 : std::uint8_t(std::min(255, (iv[x] * 255 + ia[x] / 2) / ia[x]));
        any = any || ia[x] != 0;
      }
    }
    values.push_back(std::move(value));
    shares.push_back(std::move(share));
    if (any) sources[p] = {PlaneSource::kRaster, 0, &values.back(), &shares.back()};
  }
  Compose(target, coverage, sources, transparency);
}

RgbToCmyk::RgbToCmyk(const std::string& profilePath) : mTransform(SC::OpenCmykProfileTransform(profilePath, true)) {}

RgbToCmyk::~RgbToCmyk() {
  if (mTransform != nullptr) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(mTransform));
}

void RgbToCmyk::Convert(const std::uint8_t* rgb, std::uint8_t* cmyk, std::size_t n) const {
  if (mTransform != nullptr) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(mTransform), rgb, cmyk, cmsUInt32Number(n));
    return;
  }
  for (std::size_t i = 0; i < n; ++i, rgb += 3, cmyk += 4) {
    const int c = 255 - rgb[0], m = 255 - rgb[1], y = 255 - rgb[2];
    const int k = std::min({c, m, y});
    cmyk[0] = std::uint8_t(c - k);
    cmyk[1] = std::uint8_t(m - k);
    cmyk[2] = std::uint8_t(y - k);
    cmyk[3] = std::uint8_t(k);
  }
}

CmykSplitter::CmykSplitter(const jobstr* job, const std::vector<int>& spotSlots) {
  for (int k = 0; k < 4; ++k) {
    const int slot = sepgetcmyk(job, k);
    if (slot < 0) continue;
    mKinds[std::size_t(mProcess++)] = k;
    mSlots.push_back(slot);
  }
  for (int slot : spotSlots) {
    if (slot < 0 || slot >= kMaxSeparations || sepiscmyk(job, slot) >= 0) continue;
    std::uint8_t c = 0, m = 0, y = 0, k = 0;
    sepcmyk(job, slot, c, m, y, k);
    if (c + m + y + k == 0) continue;  // an ink without a process equivalent explains nothing
    mSlots.push_back(slot);
    mSpotCmyk.push_back({c / 100.0, m / 100.0, y / 100.0, k / 100.0});
  }
}

void CmykSplitter::Split(const std::uint8_t* cmyk, std::uint8_t* inks) const {
  double rest[4] = {cmyk[0] / 255.0, cmyk[1] / 255.0, cmyk[2] / 255.0, cmyk[3] / 255.0};
  for (std::size_t i = 0; i < mSpotCmyk.size(); ++i) {
    // As much of the ink as every channel it prints in can give.
    double t = 1;
    for (int c = 0; c < 4; ++c) {
      if (mSpotCmyk[i][std::size_t(c)] > 0) t = std::min(t, rest[c] / mSpotCmyk[i][std::size_t(c)]);
    }
    for (int c = 0; c < 4; ++c) rest[c] = std::max(0.0, rest[c] - t * mSpotCmyk[i][std::size_t(c)]);
    inks[std::size_t(mProcess) + i] = std::uint8_t(std::lround(t * 255));
  }
  for (int p = 0; p < mProcess; ++p) inks[p] = std::uint8_t(std::lround(rest[mKinds[std::size_t(p)]] * 255));
}

}  // namespace TavricLib::preview

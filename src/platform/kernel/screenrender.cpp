#include "platform/kernel/screenrender.h"

#include <cairo.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "platform/kernel/gradationoutput.h"
#include "platform/kernel/job.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/kernel/tavdb.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace SC {

namespace {

// One-ups nested deeper than this are left out (the loader refuses cycles).
constexpr int kMaxNesting = 16;
// Gradients are rendered at most this many pixels across before the
// raster scales them.
constexpr double kMaxGradientPixels = 4096;

class JobSeparationFilter : public SeparationFilter {
 public:
  explicit JobSeparationFilter(const jobstr* job) : mJob(job) {}
  bool Passes(int sep) const override {
    return sepsoruse(mJob, sep, false) >= 0 && seppdftyp::NeedsOutputting(mJob, sep);
  }

 private:
  const jobstr* mJob;
};

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Decoded pictures by (job, kind, index, width, height).
class PictureCache : public CacheObject {
 public:
  using Key = std::tuple<const jobstr*, int, int, int, int>;
  cairo_surface_t* Find(const Key& key) const {
    auto it = mSurfaces.find(key);
    return it != mSurfaces.end() ? it->second.get() : nullptr;
  }
  cairo_surface_t* Keep(const Key& key, Surface surface) { return (mSurfaces[key] = std::move(surface)).get(); }

 private:
  std::map<Key, Surface> mSurfaces;
};

std::uint32_t packRgb(const std::uint8_t* rgb, std::uint8_t alpha = 255) {
  // Premultiplied, as cairo's ARGB32 wants it.
  auto pre = [&](std::uint8_t c) { return std::uint32_t((c * alpha + 127) / 255); };
  return (std::uint32_t(alpha) << 24) | (pre(rgb[0]) << 16) | (pre(rgb[1]) << 8) | pre(rgb[2]);
}

// The CMYK equivalent (0..1) of ink planes: per component 1 - Π(1 - t v).
struct InkMixer {
  std::vector<std::array<double, 4>> cmyk;  // per plane, 0..1
  void Mix(const std::uint8_t* planes, std::uint8_t* out) const {
    double keep[4] = {1, 1, 1, 1};
    for (std::size_t p = 0; p < cmyk.size(); ++p) {
      const double t = planes[p] / 255.0;
      if (t == 0) continue;
      for (int k = 0; k < 4; ++k) keep[k] *= 1 - t * cmyk[p][std::size_t(k)];
    }
    for (int k = 0; k < 4; ++k) out[k] = std::uint8_t(std::lround((1 - keep[k]) * 255));
  }
};

std::array<double, 4> separationCmyk(const jobstr* job, int sep) {
  std::uint8_t c = 0, m = 0, y = 0, k = 0;
  sepcmyk(job, sep, c, m, y, k);
  return {c / 100.0, m / 100.0, y / 100.0, k / 100.0};
}

// Reads a pixel file down (or up) to `w` x `h` by nearest rows and columns and hands each output row
// as packed RGB to `take(outputRow, rgb)`; returns the number of rows handed over.
template <typename Take>
std::int32_t ReadScaledRgbRows(TavSys::pixreatyp& reader, const CmykToRgb& converter, std::int32_t w,
                               std::int32_t h, Take take) {
  const TavSys::PixelHeader& head = reader.header();
  std::vector<std::uint8_t> row(head.rowBytes()), cmyk(std::size_t(w) * 4), rgb(std::size_t(w) * 3);
  const std::size_t channels = std::size_t(head.channels);
  std::int32_t next = 0;
  for (std::int32_t y = 0; y < head.rows && next < h; ++y) {
    reader.readRow(row.data());
    // This source row may serve several output rows.
    while (next < h && std::int32_t((next + 0.5) * head.rows / h) == y) {
      for (std::int32_t x = 0; x < w; ++x) {
        const std::uint8_t* px = row.data() + std::size_t((x + 0.5) * head.width / w) * channels;
        std::uint8_t* r = rgb.data() + std::size_t(x) * 3;
        if (channels == 1) {
          r[0] = r[1] = r[2] = px[0];
        } else if (channels == 3) {
          std::memcpy(r, px, 3);
        } else {
          for (std::size_t k = 0; k < 4; ++k) cmyk[std::size_t(x) * 4 + k] = k < channels ? px[k] : 0;
        }
      }
      if (channels != 1 && channels != 3) converter.ConvertRow(cmyk.data(), rgb.data(), std::size_t(w));
      take(next, rgb.data());
      ++next;
    }
  }
  return next;
}

class Renderer {
 public:
  Renderer(cairo_t* cr, const Environment& env, const SeparationFilter& filter, const Options& options,
           PictureCache& cache)
      : mCr(cr), mFilter(filter), mCache(cache), mRgb(env.cmykProfile) {
    mMask = std::uint32_t(options.Get("QueryLayerMask", 0x60000));
    mTarget = std::uint32_t(options.Get("QueryLayerTarget", 0));
  }

  void RenderList(const jobstr* job, const TavDB::Object* list, int depth) {
    if (list == nullptr) return;
    if (list->kind() == TavDB::ObjectKind::List) {
      for (const auto& m : list->members()) RenderObject(job, m.get(), depth);
    } else {
      RenderObject(job, list, depth);
    }
  }

 private:
  void RenderObject(const jobstr* job, const TavDB::Object* o, int depth) {
    if ((o->flags() & mMask) != mTarget) return;
    switch (o->kind()) {
      case TavDB::ObjectKind::List:
      case TavDB::ObjectKind::Layer:
      case TavDB::ObjectKind::Group:
        for (const auto& m : o->members()) RenderObject(job, m.get(), depth);
        return;
      case TavDB::ObjectKind::Text: return;
      case TavDB::ObjectKind::Compound:
      case TavDB::ObjectKind::Path: break;
    }
    cairo_new_path(mCr);
    const bool compound = o->kind() == TavDB::ObjectKind::Compound;
    if (compound) {
      for (const auto& m : o->members()) AddPath(m.get());
    } else {
      AddPath(o);
    }
    const bool open = compound ? (o->memberCount() > 0 && o->member(0)->isOpenPath()) : o->isOpenPath();
    cairo_set_fill_rule(mCr, CAIRO_FILL_RULE_EVEN_ODD);
    if (!open) Fill(job, o, depth);
    if (const TavDB::Stroke* stroke = o->stroke(); stroke != nullptr && stroke->width > 0) Stroke(job, *stroke);
    cairo_new_path(mCr);
  }

  void AddPath(const TavDB::Object* path) {
    TavDB::scan scan;
    scan.scabeg(path, 0, -1);
    std::int32_t v, h, c1v, c1h, c2v, c2h;
    bool curve = false, first = true;
    while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
      if (first) {
        cairo_move_to(mCr, h, v);
        first = false;
      } else if (curve) {
        cairo_curve_to(mCr, c1h, c1v, c2h, c2v, h, v);
      } else {
        cairo_line_to(mCr, h, v);
      }
    }
    scan.scaend();
    if (!first && !path->isOpenPath()) cairo_close_path(mCr);
  }

  // The RGB of a colour's inks that pass the filter; false when it paints none.
  bool ColourRgb(const jobstr* job, int colour, std::uint8_t* rgb) const {
    const std::uint8_t* pct = colsep(job, colour);
    if (pct == nullptr) return false;
    std::uint8_t kept[kMaxSeparations];
    bool any = false;
    for (int s = 0; s < kMaxSeparations; ++s) {
      // The filter names the rendered job's separations; a one-up's inks all count.
      const bool passes = pct[s] != kPercentUntouched && (job != mRoot || mFilter.Passes(s));
      kept[s] = passes ? pct[s] : kPercentUntouched;
      any = any || passes;
    }
    if (!any) return false;
    double c = 0, m = 0, y = 0, k = 0;
    sepcmyk(job, kept, c, m, y, k);
    const std::uint8_t cmyk[4] = {std::uint8_t(std::lround(std::clamp(c, 0.0, 100.0) * 2.55)),
                                  std::uint8_t(std::lround(std::clamp(m, 0.0, 100.0) * 2.55)),
                                  std::uint8_t(std::lround(std::clamp(y, 0.0, 100.0) * 2.55)),
                                  std::uint8_t(std::lround(std::clamp(k, 0.0, 100.0) * 2.55))};
    mRgb.ConvertRow(cmyk, rgb, 1);
    return true;
  }

  double Alpha(const Paint& paint) const {
    return std::clamp(paint.transparency.opacity / double(kOpacityFull), 0.0, 1.0);
  }

  void Fill(const jobstr* job, const TavDB::Object* o, int depth) {
    const Paint* paint = paipoi(job, o->paint());
    if (paint == nullptr) return;
    switch (paint->type) {
      case kPaintFlat: {
        std::uint8_t rgb[3];
        if (!ColourRgb(job, paint->colour, rgb)) return;
        cairo_set_source_rgba(mCr, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, Alpha(*paint));
        cairo_fill_preserve(mCr);
        return;
      }
      case kPaintLinear:
      case kPaintRadial:
      case kPaintGradation: FillGradient(job, o, *paint); return;
      case kPaintPicture: FillPicture(job, *paint, depth); return;
      case kPaintMap: FillMap(job, *paint); return;
      default: return;  // patterns are left out
    }
  }

  void Stroke(const jobstr* job, const TavDB::Stroke& stroke) {
    const Paint* paint = paipoi(job, stroke.paint);
    if (paint == nullptr) return;
    std::uint8_t rgb[3];
    // A stroke drawn with a gradient shows its first colour.
    if (!ColourRgb(job, paint->type == kPaintGradation && !paint->steps.empty() ? paint->steps.front().colour
                                                                                 : paint->colour,
                   rgb)) {
      return;
    }
    cairo_set_source_rgba(mCr, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, Alpha(*paint));
    cairo_set_line_width(mCr, stroke.width);
    static constexpr cairo_line_join_t kJoins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND, CAIRO_LINE_JOIN_BEVEL};
    static constexpr cairo_line_cap_t kCaps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND, CAIRO_LINE_CAP_SQUARE};
    cairo_set_line_join(mCr, kJoins[std::min<int>(stroke.join, 2)]);
    cairo_set_line_cap(mCr, kCaps[std::min<int>(stroke.cap, 2)]);
    cairo_set_miter_limit(mCr, std::max(1.0, stroke.miterLimit));
    const bool dashed = !stroke.dash.empty() &&
                        std::any_of(stroke.dash.begin(), stroke.dash.end(), [](double d) { return d > 0; });
    cairo_set_dash(mCr, dashed ? stroke.dash.data() : nullptr, dashed ? int(stroke.dash.size()) : 0,
                   stroke.dashPhase);
    cairo_stroke_preserve(mCr);
  }

  // Paints a raster over the clip of the current path: pixel (x, y) of the
  // surface lies at user point origin + x·ex + y·ey (user x = h, y = v).
  void PaintRaster(cairo_surface_t* surface, double originH, double originV, double exH, double exV, double eyH,
                   double eyV, double alpha) {
    cairo_matrix_t m;
    cairo_matrix_init(&m, exH, exV, eyH, eyV, originH, originV);
    if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(mCr);
    cairo_clip_preserve(mCr);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(surface);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    cairo_set_source(mCr, pattern);
    // Only the placed frame: the pad must not fill the rest of the clip.
    cairo_new_path(mCr);
    cairo_move_to(mCr, originH, originV);
    cairo_line_to(mCr, originH + exH * cairo_image_surface_get_width(surface),
                  originV + exV * cairo_image_surface_get_width(surface));
    cairo_line_to(mCr,
                  originH + exH * cairo_image_surface_get_width(surface) +
                      eyH * cairo_image_surface_get_height(surface),
                  originV + exV * cairo_image_surface_get_width(surface) +
                      eyV * cairo_image_surface_get_height(surface));
    cairo_line_to(mCr, originH + eyH * cairo_image_surface_get_height(surface),
                  originV + eyV * cairo_image_surface_get_height(surface));
    cairo_close_path(mCr);
    cairo_clip(mCr);
    cairo_paint_with_alpha(mCr, alpha);
    cairo_pattern_destroy(pattern);
    cairo_restore(mCr);
  }

  // Raster size for a placement whose edges are the user vectors (enough
  // pixels for the device, no more than the picture has).
  std::pair<int, int> RasterSize(std::int32_t width, std::int32_t height, double wH, double wV, double hH,
                                 double hV) const {
    double dx = wH, dy = wV;
    cairo_user_to_device_distance(mCr, &dx, &dy);
    const double across = std::hypot(dx, dy);
    dx = hH, dy = hV;
    cairo_user_to_device_distance(mCr, &dx, &dy);
    const double down = std::hypot(dx, dy);
    return {std::clamp(int(std::ceil(across)) + 1, 1, std::max(width, 1)),
            std::clamp(int(std::ceil(down)) + 1, 1, std::max(height, 1))};
  }

  Surface NewSurface(int w, int h) const {
    Surface s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return s;
  }

  void PlacePaint(const Paint& paint, cairo_surface_t* surface) {
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const TavDB::tv_point o = paint.placeOrigin;
    const double exH = (double(paint.placeWidthCorner.h) - o.h) / w, exV = (double(paint.placeWidthCorner.v) - o.v) / w;
    const double eyH = (double(paint.placeHeightCorner.h) - o.h) / h, eyV = (double(paint.placeHeightCorner.v) - o.v) / h;
    PaintRaster(surface, o.h, o.v, exH, exV, eyH, eyV, Alpha(paint));
  }

  void FillMap(const jobstr* job, const Paint& paint) {
    const PictureMap* map = mappoi(job, paint.map);
    if (map == nullptr) return;
    PlaceCached(job, paint, 7, paint.map, map->width, map->height,
                [&](int w, int h) { return DecodeMap(job, paint.map, w, h); });
  }

  // Places the raster of a picture or map, decoded once per raster size and kept in the cache.
  template <typename Decode>
  void PlaceCached(const jobstr* job, const Paint& paint, int kind, int index, std::int32_t srcWidth, std::int32_t srcHeight,
                   Decode decode) {
    const TavDB::tv_point o = paint.placeOrigin;
    const auto [w, h] = RasterSize(srcWidth, srcHeight, double(paint.placeWidthCorner.h) - o.h,
                                   double(paint.placeWidthCorner.v) - o.v, double(paint.placeHeightCorner.h) - o.h,
                                   double(paint.placeHeightCorner.v) - o.v);
    const PictureCache::Key key{job, kind, index, w, h};
    cairo_surface_t* surface = mCache.Find(key);
    if (surface == nullptr) {
      Surface made = decode(w, h);
      if (!made) return;
      surface = mCache.Keep(key, std::move(made));
    }
    PlacePaint(paint, surface);
  }

  Surface DecodeMap(const jobstr* job, int mapIndex, int w, int h) {
    const PictureMap* map = mappoi(job, mapIndex);
    std::vector<int> seps;
    InkMixer mixer;
    for (int s = 0; s < sepfrejob(job); ++s) {
      if (!TavricLib::GetMapInk(job, mapIndex, s).painted || (job == mRoot && !mFilter.Passes(s))) continue;
      seps.push_back(s);
      mixer.cmyk.push_back(separationCmyk(job, s));
    }
    Surface surface = NewSurface(w, h);
    if (!surface || seps.empty()) return surface;
    try {
      TavricLib::MappedPictureStream inks(job, mapIndex, seps, false);
      std::unique_ptr<TavricLib::OpacityPictureStream> opacity;
      if (maphasopa(job, mapIndex)) opacity = std::make_unique<TavricLib::OpacityPictureStream>(job, mapIndex, kOpacityFull);
      std::vector<std::uint8_t> row(inks.RowBytes()), alpha(std::size_t(map->width), 255);
      std::vector<std::uint8_t> cmyk(std::size_t(w) * 4), rgb(std::size_t(w) * 3);
      std::vector<std::uint8_t> alphas(static_cast<std::size_t>(w));
      cairo_surface_flush(surface.get());
      unsigned char* data = cairo_image_surface_get_data(surface.get());
      const int stride = cairo_image_surface_get_stride(surface.get());
      int next = 0;  // the next output row
      for (std::int32_t y = 0; y < map->height && next < h; ++y) {
        if (!inks.GetLine(row.data())) break;
        if (opacity && !opacity->GetLine(alpha.data())) opacity.reset();
        // Nearest rows and columns: this source row may serve several output rows.
        while (next < h && std::int32_t((next + 0.5) * map->height / h) == y) {
          for (int x = 0; x < w; ++x) {
            const std::size_t sx = std::size_t((x + 0.5) * map->width / w);
            mixer.Mix(row.data() + sx * seps.size(), cmyk.data() + std::size_t(x) * 4);
            alphas[std::size_t(x)] = opacity ? alpha[sx] : 255;
          }
          mRgb.ConvertRow(cmyk.data(), rgb.data(), std::size_t(w));
          auto* out = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(next) * stride);
          for (int x = 0; x < w; ++x) out[x] = packRgb(rgb.data() + std::size_t(x) * 3, alphas[std::size_t(x)]);
          ++next;
        }
      }
      cairo_surface_mark_dirty(surface.get());
    } catch (const TavSys::Error& e) {
      TavSys::debug("SC: map " + std::to_string(mapIndex) + ": " + e.detail());
    }
    return surface;
  }

  void FillPicture(const jobstr* job, const Paint& paint, int depth) {
    const Picture* picture = picpoi(job, paint.picture);
    if (picture == nullptr) return;
    if (picisart(job, paint.picture)) {
      FillOneUp(job, paint, depth);
      return;
    }
    if (picisvectorformat(job, paint.picture) || picture->width < 1 || picture->height < 1) return;
    PlaceCached(job, paint, 3, paint.picture, picture->width, picture->height,
                [&](int w, int h) { return DecodePicture(*picture, w, h); });
  }

  Surface DecodePicture(const Picture& picture, int w, int h) {
    Surface surface = NewSurface(w, h);
    if (!surface) return surface;
    try {
      TavSys::pixreatyp reader(picture.file.getFullPathAsUtf8());
      cairo_surface_flush(surface.get());
      unsigned char* data = cairo_image_surface_get_data(surface.get());
      const int stride = cairo_image_surface_get_stride(surface.get());
      ReadScaledRgbRows(reader, mRgb, w, h, [&](std::int32_t y, const std::uint8_t* rgb) {
        auto* out = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
        for (int x = 0; x < w; ++x) out[x] = packRgb(rgb + std::size_t(x) * 3);
      });
      cairo_surface_mark_dirty(surface.get());
    } catch (const TavSys::Error& e) {
      TavSys::debug("SC: picture " + picture.file.getNameAsUtf8() + ": " + e.detail());
      return nullptr;
    }
    return surface;
  }

  // A one-up: its own job, its media box placed by the paint's corners.
  void FillOneUp(const jobstr* job, const Paint& paint, int depth) {
    const jobstr* nested = picGetJob(job, paint.picture);
    if (nested == nullptr || depth >= kMaxNesting) return;
    TavSys::tv_rectangle box;
    if (!getbox(nested, kMediaBox, box) || !(box.right > box.left) || !(box.bottom > box.top)) return;
    const TavDB::tv_point o = paint.placeOrigin;
    const double bw = box.right - box.left, bh = box.bottom - box.top;
    const double xx = (double(paint.placeWidthCorner.h) - o.h) / bw, yx = (double(paint.placeWidthCorner.v) - o.v) / bw;
    const double xy = (double(paint.placeHeightCorner.h) - o.h) / bh, yy = (double(paint.placeHeightCorner.v) - o.v) / bh;
    cairo_matrix_t m;
    cairo_matrix_init(&m, xx, yx, xy, yy, o.h - xx * box.left - xy * box.top, o.v - yx * box.left - yy * box.top);
    cairo_save(mCr);
    cairo_clip(mCr);
    cairo_transform(mCr, &m);
    RenderList(nested, jobGetSpahan(nested), depth + 1);
    cairo_restore(mCr);
  }

  // Gradients through the kernel's gradation renderer over the object's
  // rectangle, as CMYK, placed as a raster.
  void FillGradient(const jobstr* job, const TavDB::Object* o, const Paint& paint) {
    const TavDB::tv_box& b = o->bounds();
    if (b.height() <= 0 || b.width() <= 0 || degisalltra(job, paint)) return;
    const auto [pw, ph] = RasterSize(std::int32_t(kMaxGradientPixels), std::int32_t(kMaxGradientPixels), b.width(),
                                     0, 0, b.height());
    const double step = std::max(double(b.width()) / pw, double(b.height()) / ph);
    const int w = std::max(1, int(std::ceil(b.width() / step))), h = std::max(1, int(std::ceil(b.height() / step)));
    Surface surface = NewSurface(w, h);
    if (!surface) return;
    struct Collector : GradationSink {
      std::vector<std::uint8_t> planar;
      bool Write(const std::uint8_t* bytes, std::size_t count) override {
        planar.insert(planar.end(), bytes, bytes + count);
        return true;
      }
    } collector;
    try {
      GradationOutput output(job, -1);
      output.SetOutput(&collector);
      output.MakeOutput(paint, b.top, b.left, h, w, step);
    } catch (const TavSys::Error& e) {
      TavSys::debug("SC: gradient: " + e.detail());
      return;
    }
    if (collector.planar.size() < std::size_t(w) * std::size_t(h) * 4) return;
    std::vector<std::uint8_t> cmyk(std::size_t(w) * 4), rgb(std::size_t(w) * 3);
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* planes = collector.planar.data() + std::size_t(y) * std::size_t(w) * 4;
      for (int x = 0; x < w; ++x)
        for (std::size_t k = 0; k < 4; ++k) cmyk[std::size_t(x) * 4 + k] = planes[k * std::size_t(w) + std::size_t(x)];
      mRgb.ConvertRow(cmyk.data(), rgb.data(), std::size_t(w));
      auto* out = reinterpret_cast<std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
      for (int x = 0; x < w; ++x) out[x] = packRgb(rgb.data() + std::size_t(x) * 3);
    }
    cairo_surface_mark_dirty(surface.get());
    PaintRaster(surface.get(), b.left, b.top, step, 0, 0, step, Alpha(paint));
  }

 public:
  const jobstr* mRoot = nullptr;

 private:
  cairo_t* mCr;
  const SeparationFilter& mFilter;
  PictureCache& mCache;
  CmykToRgb mRgb;
  std::uint32_t mMask = 0x60000, mTarget = 0;
};

class RenderedRaster : public RgbConverter {
 public:
  RenderedRaster(Surface surface, bool littleEndian) : mSurface(std::move(surface)), mLittleEndian(littleEndian) {}
  bool NextRow(std::uint8_t* row) override {
    if (!mSurface || mRow >= cairo_image_surface_get_height(mSurface.get())) return false;
    const int w = cairo_image_surface_get_width(mSurface.get());
    const auto* in = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(mSurface.get()) +
                                                            std::ptrdiff_t(mRow) * cairo_image_surface_get_stride(mSurface.get()));
    for (int x = 0; x < w; ++x, row += 4) {
      const std::uint8_t r = std::uint8_t(in[x] >> 16), g = std::uint8_t(in[x] >> 8), b = std::uint8_t(in[x]);
      if (mLittleEndian) {
        row[0] = b, row[1] = g, row[2] = r, row[3] = 0;
      } else {
        row[0] = 0, row[1] = r, row[2] = g, row[3] = b;
      }
    }
    ++mRow;
    return true;
  }

 private:
  Surface mSurface;
  bool mLittleEndian;
  int mRow = 0;
};

}  // namespace

std::unique_ptr<SeparationFilter> SeparationTableJobFactory(const jobstr* job, int, int, int) {
  return std::make_unique<JobSeparationFilter>(job);
}

std::int64_t Options::Get(const std::string& key, std::int64_t fallback) const {
  auto it = mValues.find(key);
  return it != mValues.end() ? it->second : fallback;
}

std::unique_ptr<Options> OptionsPreviewFactory() { return std::make_unique<Options>(); }

CmykToRgb::CmykToRgb(const std::string& profilePath) {
  std::error_code ec;
  if (profilePath.empty() || !std::filesystem::is_regular_file(profilePath, ec)) return;
  cmsHPROFILE cmyk = cmsOpenProfileFromFile(profilePath.c_str(), "r");
  if (cmyk == nullptr) return;
  if (cmsGetColorSpace(cmyk) == cmsSigCmykData) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    mTransform = cmsCreateTransform(cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    cmsCloseProfile(srgb);
  }
  cmsCloseProfile(cmyk);
}

CmykToRgb::~CmykToRgb() {
  if (mTransform != nullptr) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(mTransform));
}

void CmykToRgb::ConvertRow(const std::uint8_t* cmyk, std::uint8_t* rgb, std::size_t n) const {
  if (mTransform != nullptr) {
    cmsDoTransform(static_cast<cmsHTRANSFORM>(mTransform), cmyk, rgb, cmsUInt32Number(n));
    return;
  }
  for (std::size_t i = 0; i < n; ++i, cmyk += 4, rgb += 3) {
    for (int k = 0; k < 3; ++k) rgb[k] = std::uint8_t(255 - std::min(255, cmyk[k] + cmyk[3]));
  }
}

std::unique_ptr<Environment> EnvironmentFactory(const jobstr* job, const TavSys::tv_rectangle& box, int width,
                                                int height) {
  auto env = std::make_unique<Environment>();
  env->job = job;
  env->box = box;
  env->width = width;
  env->height = height;
  return env;
}

std::unique_ptr<CacheObject> CacheObjectFactory(const jobstr*) { return std::make_unique<PictureCache>(); }

std::unique_ptr<RgbConverter> RgbConverterFactory(const Environment& env, const SeparationFilter& filter,
                                                  const Options& options, const TavDB::Object* tree,
                                                  CacheObject& cache) {
  const bool littleEndian = options.Get("LittleEndian", 1) != 0;
  if (env.width < 1 || env.height < 1 || env.job == nullptr) return std::make_unique<RenderedRaster>(nullptr, littleEndian);
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, env.width, env.height));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    return std::make_unique<RenderedRaster>(nullptr, littleEndian);
  }
  cairo_t* cr = cairo_create(surface.get());
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  const double bw = env.box.right - env.box.left, bh = env.box.bottom - env.box.top;
  if (bw > 0 && bh > 0 && tree != nullptr) {
    // User space is the job's (x = h, y = v); the layout turns it about the
    // origin, and the box is scaled onto the raster.
    const double sx = env.width / bw, sy = env.height / bh;
    const TavDB::tv_point origin = getOriginalOrigin(env.job);
    const TavDB::tv_matrixtyp<double>& l = env.layout;
    cairo_matrix_t m;
    cairo_matrix_init(&m, sx * l.d, sy * l.c, sx * l.b, sy * l.a,
                      sx * (origin.h - env.box.left - l.b * origin.v - l.d * origin.h),
                      sy * (origin.v - env.box.top - l.a * origin.v - l.c * origin.h));
    cairo_set_matrix(cr, &m);
    PictureCache own;
    auto* pictures = dynamic_cast<PictureCache*>(&cache);
    Renderer renderer(cr, env, filter, options, pictures != nullptr ? *pictures : own);
    renderer.mRoot = env.job;
    renderer.RenderList(env.job, tree, 0);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface.get());
  return std::make_unique<RenderedRaster>(std::move(surface), littleEndian);
}

PicturePixelBuffer GetPicturePixelBuffer(const jobstr* job, int pictureIndex) {
  PicturePixelBuffer buffer;
  const Picture* picture = picpoi(job, pictureIndex);
  if (picture == nullptr || picisvectorformat(job, pictureIndex)) return buffer;
  try {
    TavSys::pixreatyp reader(picture->file.getFullPathAsUtf8());
    const TavSys::PixelHeader& head = reader.header();
    double resolution = head.resolution > 0 ? head.resolution : picture->resolution;
    if (!(resolution > 0)) resolution = 72;
    // One pixel per point, never more than the picture has.
    const double scale = std::min(1.0, 72.0 / resolution);
    const std::int32_t w = std::max(1, std::int32_t(std::lround(head.width * scale)));
    const std::int32_t h = std::max(1, std::int32_t(std::lround(head.rows * scale)));
    const CmykToRgb plain;
    buffer.pixels.resize(std::size_t(w) * std::size_t(h) * 4);
    const std::int32_t next = ReadScaledRgbRows(reader, plain, w, h, [&](std::int32_t y, const std::uint8_t* rgb) {
      std::uint8_t* out = buffer.pixels.data() + std::size_t(y) * std::size_t(w) * 4;
      for (std::int32_t x = 0; x < w; ++x, out += 4, rgb += 3) {
        out[0] = 0;
        std::memcpy(out + 1, rgb, 3);
      }
    });
    buffer.width = w;
    buffer.height = next;
    buffer.pixels.resize(std::size_t(w) * std::size_t(next) * 4);
  } catch (const TavSys::Error& e) {
    TavSys::debug("SC: preview of " + picture->file.getNameAsUtf8() + ": " + e.detail());
    return PicturePixelBuffer{};
  }
  return buffer;
}

}  // namespace SC

namespace TavGen {

void rgbcmyk(double r, double g, double b, double blackStart, double blackAmount, double cmyk[4]) {
  const double c = 1 - std::clamp(r, 0.0, 1.0), m = 1 - std::clamp(g, 0.0, 1.0), y = 1 - std::clamp(b, 0.0, 1.0);
  const double common = std::min({c, m, y});
  const double k = common > blackStart ? (common - blackStart) * std::clamp(blackAmount, 0.0, 1.0) : 0.0;
  cmyk[0] = c - k;
  cmyk[1] = m - k;
  cmyk[2] = y - k;
  cmyk[3] = k;
}

}  // namespace TavGen

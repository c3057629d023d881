#include "platform/kernel/separatedpreview.h"

#include <cairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "platform/fonts/textcalc.h"
#include "platform/kernel/gradationoutput.h"
#include "platform/kernel/job.h"
#include "platform/kernel/previewraster.h"
#include "platform/kernel/previewsources.h"
#include "platform/kernel/previewspans.h"
#include "platform/kernel/tavdb.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavricLib {

using namespace preview;

namespace {

// One-ups nested deeper than this are left out (the loader refuses cycles).
constexpr int kMaxNesting = 16;
// What the planes of one rendering may hold at most.
constexpr std::uint64_t kMaxPlaneBytes = std::uint64_t(4) << 30;
// Without smoothing a pixel takes the objects that touch it, as a RIP's
// plates show them (a hairline still prints), and the characters of texts
// that cover its centre (as fonts are rasterised: letters keep their weight).
constexpr std::uint8_t kTouched = 0;
constexpr std::uint8_t kCentreCovered = 127;
// Gradient and pattern rasters are made at most this many pixels large
// before they are scaled onto the planes.
constexpr double kMaxSourcePixels = 1 << 24;

cairo_matrix_t inverse(const cairo_matrix_t& m) {
  cairo_matrix_t i = m;
  if (cairo_matrix_invert(&i) != CAIRO_STATUS_SUCCESS) cairo_matrix_init_scale(&i, 0, 0);
  return i;
}

// The device pixels a job rectangle (top, left, bottom, right) covers, grown
// by `margin` job units.
IntRect deviceRect(const cairo_matrix_t& m, double top, double left, double bottom, double right, double margin) {
  double x0 = std::numeric_limits<double>::max(), y0 = x0, x1 = -x0, y1 = -x0;
  const double hs[2] = {left - margin, right + margin}, vs[2] = {top - margin, bottom + margin};
  for (double h : hs) {
    for (double v : vs) {
      double x = h, y = v;
      cairo_matrix_transform_point(&m, &x, &y);
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  }
  static constexpr double kLimit = 1e8;
  auto clampInt = [](double v) { return int(std::clamp(v, -kLimit, kLimit)); };
  return {clampInt(std::floor(x0)) - 1, clampInt(std::floor(y0)) - 1, clampInt(std::ceil(x1)) + 1,
          clampInt(std::ceil(y1)) + 1};
}

double percentToByte(std::uint8_t pct) { return std::min<int>(pct, 100) * 2.55; }

}  // namespace

class SeparatedPreview::Impl {
 public:
  Impl(const jobstr* job, const TavSys::tv_rectangle& box, int width, int height, const SeparatedPreviewOptions& o)
      : mJob(job), mOptions(o) {
    mPlaneOf.fill(-1);
    if (mOptions.separations.empty()) {
      for (int slot = 0; slot < std::min(sepfrejob(job), kMaxSeparations); ++slot) {
        if (sepsoruse(job, slot, false) >= 0) mOptions.separations.push_back(slot);
      }
    }
    for (int slot : mOptions.separations) {
      if (slot < 0 || slot >= kMaxSeparations || mPlaneOf[std::size_t(slot)] >= 0) continue;
      mPlaneOf[std::size_t(slot)] = int(mSlots.size());
      mSlots.push_back(slot);
    }
    width = std::max(1, width);
    height = std::max(1, height);
    const std::uint64_t bytes = std::uint64_t(cairo_format_stride_for_width(CAIRO_FORMAT_A8, width)) *
                                std::uint64_t(height) * (mSlots.size() + 1);
    if (bytes > kMaxPlaneBytes) {
      throw TavSys::Error(TavSys::kResultAbandoned, "PDF/PREVIEW TOO LARGE",
                          std::to_string(width) + " x " + std::to_string(height) + " pixels in " +
                              std::to_string(mSlots.size()) + " inks")
          .with("__WIDTH__", std::to_string(width))
          .with("__HEIGHT__", std::to_string(height));
    }
    mTarget.rect = {0, 0, width, height};
    for (std::size_t p = 0; p < mSlots.size(); ++p) mTarget.values.emplace_back(mTarget.rect);
    mShape = Raster(mTarget.rect);
    mTarget.shape = &mShape;

    // Job space (x = h, y = v) to pixels: the layout turns the job about its
    // origin, the box is scaled onto the planes.
    const double bw = box.right - box.left, bh = box.bottom - box.top;
    const double sx = bw > 0 ? width / bw : 0, sy = bh > 0 ? height / bh : 0;
    const TavDB::tv_point origin = getOriginalOrigin(job);
    const TavDB::tv_matrixtyp<double>& l = mOptions.layout;
    cairo_matrix_init(&mToDevice, sx * l.d, sy * l.c, sx * l.b, sy * l.a,
                      sx * (origin.h - box.left - l.b * origin.v - l.d * origin.h),
                      sy * (origin.v - box.top - l.a * origin.v - l.c * origin.h));
  }

  void Render(const TavDB::Object* objects);

  const jobstr* mJob;
  SeparatedPreviewOptions mOptions;
  std::array<int, kMaxSeparations> mPlaneOf{};
  std::vector<int> mSlots;
  Target mTarget;
  Raster mShape;
  cairo_matrix_t mToDevice{};
};

namespace {

// Where and how one list of objects is drawn.
struct Context {
  const jobstr* job = nullptr;
  cairo_matrix_t toDevice{};               // job space to device pixels
  std::array<int, kMaxSeparations> planeOf{};  // job slot to target plane, -1 none
  const Raster* clip = nullptr;            // device coverage the drawing is cut to, null: none
  Target* target = nullptr;
  int depth = 0;
  bool text = false;                       // drawing the characters of a text
};

class Renderer {
 public:
  // Draws into `page` (the rendering's own planes), whose flat opaque fills
  // are batched while nothing else is drawn there.
  Renderer(const SeparatedPreviewOptions& options, Target& page) : mOptions(options), mPictures(options), mPage(page) {
    mRasteriser.SetCentres(options.pixelCentres);
    mBatchRasteriser.SetCentres(options.pixelCentres);
    if (FlatFillBatch::Accepts(page)) {
      // The runs held stay within a quarter of the planes' own size.
      std::size_t planeBytes = 0;
      for (const Raster& plane : page.values) planeBytes += std::size_t(plane.stride()) * std::size_t(plane.rect().height());
      if (page.shape != nullptr) planeBytes += std::size_t(page.shape->stride()) * std::size_t(page.shape->rect().height());
      mBatch = std::make_unique<FlatFillBatch>(page, std::max<std::size_t>(planeBytes / 4, std::size_t(16) << 20));
    }
  }

  // Composes what is still batched; the planes are complete after it.
  void Finish() {
    if (mBatch) mBatch->Flush();
  }

  void RenderList(const Context& ctx, const TavDB::Object* list) {
    if (list == nullptr) return;
    if (list->kind() == TavDB::ObjectKind::List) {
      for (const auto& m : list->members()) RenderObject(ctx, m.get());
    } else {
      RenderObject(ctx, list);
    }
  }

 private:
  bool Drawn(const TavDB::Object* o) const {
    if ((o->flags() & mOptions.layerMask) != mOptions.layerTarget) return false;
    if (!mOptions.stationNumber && isStationNumberObject(o)) return false;
    return true;
  }

  void RenderObject(const Context& ctx, const TavDB::Object* o) {
    if (!Drawn(o)) return;
    switch (o->kind()) {
      case TavDB::ObjectKind::List:
      case TavDB::ObjectKind::Layer:
      case TavDB::ObjectKind::Group:
        for (const auto& m : o->members()) RenderObject(ctx, m.get());
        return;
      case TavDB::ObjectKind::Text: {
        // The characters as the outlines of their glyphs, each in its run's paint.
        std::unique_ptr<TavDB::Object> outlines = texhivecget(const_cast<jobstr*>(ctx.job), o, 1);
        Context letters = ctx;
        letters.text = true;
        if (outlines) {
          for (const auto& m : outlines->members()) RenderObject(letters, m.get());
        }
        return;
      }
      case TavDB::ObjectKind::Compound:
      case TavDB::ObjectKind::Path: break;
    }
    const bool compound = o->kind() == TavDB::ObjectKind::Compound;
    const bool open = compound ? (o->memberCount() > 0 && o->member(0)->isOpenPath()) : o->isOpenPath();
    const TavDB::tv_box& b = o->bounds();
    if (!open && !FillRuns(ctx, o)) {
      const IntRect r = deviceRect(ctx.toDevice, b.top, b.left, b.bottom, b.right, 0);
      Raster coverage = ctx.text && UsesLetterScratch(ctx, r) ? LetterCoverage(ctx, r, o) : Coverage(ctx, r, [&](cairo_t* cr) {
        AddShape(cr, o);
        cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
        cairo_fill(cr);
      });
      if (!coverage.empty()) Paint(ctx, o->paint(), coverage, o);
    }
    if (const TavDB::Stroke* stroke = o->stroke(); stroke != nullptr && stroke->width > 0) {
      const double reach = stroke->width * std::max(1.0, stroke->miterLimit) * 2;
      const IntRect r = deviceRect(ctx.toDevice, b.top, b.left, b.bottom, b.right, reach);
      Raster coverage = Coverage(ctx, r, [&](cairo_t* cr) { StrokeShape(cr, o, *stroke); });
      if (!coverage.empty()) Paint(ctx, stroke->paint, coverage, o);
    }
  }

  // A fill drawn from the runs of pixels it touches, when its edges are not
  // smoothed and it is not a character: flat opaque fills of the page are
  // batched (their runs found only when the batch composes them), other flat
  // opaque fills painted run by run, any other paint composed over the
  // runs' coverage. False when the outline has to be drawn by cairo instead
  // (it lies too far out).
  bool FillRuns(const Context& ctx, const TavDB::Object* o) {
    if (mOptions.antiAliasing >= 2 || ctx.text) return false;
    IntRect clip = ctx.target->rect;
    if (ctx.clip != nullptr) clip = clip.intersect(ctx.clip->rect());
    if (clip.empty()) return true;
    const struct Paint* paint = paipoi(ctx.job, o->paint());
    if (paint != nullptr && ctx.target == &mPage && mBatch && ctx.clip == nullptr && BatchedPaint(*paint)) {
      const std::vector<PlaneSource> sources = FlatSources(ctx, paint->colour);
      if (std::all_of(sources.begin(), sources.end(),
                      [](const PlaneSource& s) { return s.kind == PlaneSource::kConstant; })) {
        IntRect reach;
        if (!OutlineReach(ctx.toDevice, o, reach)) return false;
        if (mBatch->Empty()) mDeferred.clear();
        mDeferred.push_back({o, ctx.toDevice, clip});
        mBatch->Add(reach, mOutlines, mDeferred.size() - 1, sources);
        return true;
      }
    }
    if (!Sweep(mRasteriser, ctx.toDevice, clip, o, mRuns)) return false;
    if (mRuns.empty() || paint == nullptr) return true;
    if (BatchedPaint(*paint) && ctx.clip == nullptr && !ctx.target->isLayer()) {
      Drawing(*ctx.target);
      ComposeSpans(*ctx.target, mRuns, FlatSources(ctx, paint->colour));
      return true;
    }
    Raster coverage = SpansToRaster(mRuns);
    if (ctx.clip != nullptr) {
      coverage.multiply(*ctx.clip);
      if (coverage.allZero()) return true;
    }
    Paint(ctx, o->paint(), coverage, o);
    return true;
  }

  // A flat paint at full opacity without soft mask or blend mode.
  static bool BatchedPaint(const struct Paint& paint) {
    return paint.type == kPaintFlat && paint.transparency.opacity >= kOpacityFull &&
           paint.transparency.softMask == kNoSoftMask && paint.transparency.blendMode == 0;
  }

  // The outline of a path or compound path through `toDevice`, swept into
  // runs cut to `clip`; false when it lies too far out to be swept.
  // EnterOutline enters it into the rasteriser only.
  static bool Sweep(SpanRasteriser& rasteriser, const cairo_matrix_t& m, const IntRect& clip, const TavDB::Object* o,
                    std::vector<Span>& runs) {
    EnterOutline(rasteriser, m, clip, o);
    return rasteriser.Sweep(runs);
  }

  static void EnterOutline(SpanRasteriser& rasteriser, const cairo_matrix_t& m, const IntRect& clip,
                           const TavDB::Object* o) {
    rasteriser.Begin(clip);
    auto x = [&](double ph, double pv) { return m.xx * ph + m.xy * pv + m.x0; };
    auto y = [&](double ph, double pv) { return m.yx * ph + m.yy * pv + m.y0; };
    ForEachPath(o, [&](const TavDB::Object* path) {
      TavDB::scan scan;
      scan.scabeg(path, 0, -1);
      std::int32_t v, h, c1v, c1h, c2v, c2h;
      bool curve = false, first = true;
      while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
        if (first) {
          rasteriser.MoveTo(x(h, v), y(h, v));
          first = false;
        } else if (curve) {
          rasteriser.CurveTo(x(c1h, c1v), y(c1h, c1v), x(c2h, c2v), y(c2h, c2v), x(h, v), y(h, v));
        } else {
          rasteriser.LineTo(x(h, v), y(h, v));
        }
      }
      scan.scaend();
    });
  }

  // The device pixels the outline of a path or compound path may touch
  // (its points and control points with a pixel to spare, as rounding along
  // its lines may stray); false when Sweep would refuse it.
  static bool OutlineReach(const cairo_matrix_t& m, const TavDB::Object* o, IntRect& reach) {
    double x0 = std::numeric_limits<double>::max(), y0 = x0, x1 = -x0, y1 = -x0;
    bool inRange = true;
    ForEachPath(o, [&](const TavDB::Object* path) {
      TavDB::scan scan;
      scan.scabeg(path, 0, -1);
      std::int32_t v, h, c1v, c1h, c2v, c2h;
      bool curve = false;
      auto point = [&](double ph, double pv) {
        const double x = m.xx * ph + m.xy * pv + m.x0, y = m.yx * ph + m.yy * pv + m.y0;
        inRange = inRange && SpanRasteriser::InRange(x, y);
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      };
      while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
        if (curve) point(c1h, c1v), point(c2h, c2v);
        point(h, v);
      }
      scan.scaend();
    });
    if (!inRange) return false;
    if (x0 > x1) {
      reach = {};
      return true;
    }
    reach = {int(std::floor(x0)) - 2, int(std::floor(y0)) - 2, int(std::ceil(x1)) + 3, int(std::ceil(y1)) + 2};
    return true;
  }

  template <typename Each>
  static void ForEachPath(const TavDB::Object* o, Each each) {
    if (o->kind() == TavDB::ObjectKind::Compound) {
      for (const auto& m : o->members()) each(m.get());
    } else {
      each(o);
    }
  }

  // The batched fills' outlines, swept when the batch composes them.
  struct Deferred {
    const TavDB::Object* object;
    cairo_matrix_t toDevice;
    IntRect clip;
  };
  struct Outlines : FillOutlines {
    explicit Outlines(Renderer& r) : renderer(r) {}
    IntRect Outline(std::size_t id) override {
      const Deferred& d = renderer.mDeferred[id];
      EnterOutline(renderer.mBatchRasteriser, d.toDevice, d.clip, d.object);
      return renderer.mBatchRasteriser.Reach();
    }
    void Runs(std::vector<Span>& runs, const std::vector<std::pair<int, int>>& skippedRows) override {
      if (!renderer.mBatchRasteriser.Sweep(runs, &skippedRows)) runs.clear();
    }
    Renderer& renderer;
  };

  // Something other than a batched fill is drawn into `target`: what the
  // batch holds for it comes first.
  void Drawing(const Target& target) {
    if (&target == &mPage && mBatch) mBatch->Flush();
  }

  static void AddPath(cairo_t* cr, const TavDB::Object* path) {
    TavDB::scan scan;
    scan.scabeg(path, 0, -1);
    std::int32_t v, h, c1v, c1h, c2v, c2h;
    bool curve = false, first = true;
    while (scan.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) {
      if (first) {
        cairo_move_to(cr, h, v);
        first = false;
      } else if (curve) {
        cairo_curve_to(cr, c1h, c1v, c2h, c2v, h, v);
      } else {
        cairo_line_to(cr, h, v);
      }
    }
    scan.scaend();
    if (!first && !path->isOpenPath()) cairo_close_path(cr);
  }

  static void AddShape(cairo_t* cr, const TavDB::Object* o) {
    cairo_new_path(cr);
    if (o->kind() == TavDB::ObjectKind::Compound) {
      for (const auto& m : o->members()) AddPath(cr, m.get());
    } else {
      AddPath(cr, o);
    }
  }

  // A stroke centred on the outline, or lying inside or outside it: a
  // centred stroke twice as wide cut to what the outline encloses or to
  // what lies outside it.
  static void StrokeShape(cairo_t* cr, const TavDB::Object* o, const TavDB::Stroke& stroke) {
    static constexpr cairo_line_join_t kJoins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND,
                                                   CAIRO_LINE_JOIN_BEVEL};
    static constexpr cairo_line_cap_t kCaps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND, CAIRO_LINE_CAP_SQUARE};
    const bool centred = stroke.position == TavDB::Stroke::kCentre;
    cairo_set_line_width(cr, centred ? stroke.width : stroke.width * 2);
    cairo_set_line_join(cr, kJoins[std::min<int>(stroke.join, 2)]);
    cairo_set_line_cap(cr, kCaps[std::min<int>(stroke.cap, 2)]);
    cairo_set_miter_limit(cr, std::max(1.0, stroke.miterLimit));
    if (!stroke.dash.empty()) cairo_set_dash(cr, stroke.dash.data(), int(stroke.dash.size()), stroke.dashPhase);
    if (!centred) {
      AddShape(cr, o);
      cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
      if (stroke.position == TavDB::Stroke::kInside) {
        cairo_clip(cr);
      } else {
        // Outside: everything but the enclosed area.
        cairo_save(cr);
        cairo_identity_matrix(cr);
        double x0, y0, x1, y1;
        cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
        cairo_restore(cr);
        cairo_new_path(cr);
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_rectangle(cr, x0 - 1, y0 - 1, x1 - x0 + 2, y1 - y0 + 2);
        cairo_restore(cr);
        if (o->kind() == TavDB::ObjectKind::Compound) {
          for (const auto& m : o->members()) AddPath(cr, m.get());
        } else {
          AddPath(cr, o);
        }
        cairo_clip(cr);
      }
    }
    AddShape(cr, o);
    cairo_stroke(cr);
  }

  // The share of each device pixel of `r` (cut to the target and the clip)
  // that `draw` covers; empty when it covers nothing there.
  template <typename Draw>
  Raster Coverage(const Context& ctx, IntRect r, Draw draw) const {
    r = r.intersect(ctx.target->rect);
    if (ctx.clip != nullptr) r = r.intersect(ctx.clip->rect());
    if (r.empty()) return {};
    Raster coverage(r);
    {
      CairoContext cr = coverage.context();
      cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GRAY);
      cairo_transform(cr.get(), &ctx.toDevice);
      cairo_set_source_rgba(cr.get(), 0, 0, 0, 1);
      draw(cr.get());
    }
    if (mOptions.antiAliasing < 2) coverage.threshold(ctx.text || mOptions.pixelCentres ? kCentreCovered : kTouched);
    if (ctx.clip != nullptr) coverage.multiply(*ctx.clip);
    if (coverage.allZero()) return {};
    return coverage;
  }

  // A character's pieces are many and small: their coverage is drawn by one
  // cairo context kept for the rendering, over one raster cleared where
  // each piece lies, rather than by a context and raster made for each. The
  // context's matrix is made as Coverage makes it (the piece's corner, then
  // the device matrix), so that cairo draws the same pixels. Only pieces
  // that lie inside the target, without a clip, and of a size the scratch
  // raster may take.
  static constexpr int kLetterScratchSide = 1024;
  bool UsesLetterScratch(const Context& ctx, const IntRect& r) const {
    return ctx.clip == nullptr && !r.empty() && r.intersect(ctx.target->rect).width() == r.width() &&
           r.intersect(ctx.target->rect).height() == r.height() && r.width() <= kLetterScratchSide &&
           r.height() <= kLetterScratchSide;
  }

  Raster LetterCoverage(const Context& ctx, const IntRect& r, const TavDB::Object* o) {
    const int w = r.width(), h = r.height();
    if (!mLetterContext || mLetterScratch.rect().width() < w || mLetterScratch.rect().height() < h) {
      // Grown to the largest piece so far (at least 64 pixels a side).
      const int sw = std::max({w, 64, mLetterScratch.rect().width()});
      const int sh = std::max({h, 64, mLetterScratch.rect().height()});
      mLetterContext.reset();
      mLetterSurface.reset();
      mLetterScratch = Raster(IntRect{0, 0, sw, sh});
      mLetterSurface = mLetterScratch.surface();
      mLetterContext.reset(cairo_create(mLetterSurface.get()));
      cairo_set_antialias(mLetterContext.get(), CAIRO_ANTIALIAS_GRAY);
      cairo_set_source_rgba(mLetterContext.get(), 0, 0, 0, 1);
    }
    cairo_t* cr = mLetterContext.get();
    cairo_surface_flush(mLetterSurface.get());
    for (int y = 0; y < h; ++y) std::memset(mLetterScratch.row(y), 0, std::size_t(w));
    cairo_surface_mark_dirty_rectangle(mLetterSurface.get(), 0, 0, w, h);
    cairo_identity_matrix(cr);
    cairo_translate(cr, -r.x0, -r.y0);
    cairo_transform(cr, &ctx.toDevice);
    AddShape(cr, o);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_fill(cr);
    cairo_surface_flush(mLetterSurface.get());
    Raster coverage(r);
    const bool sharp = mOptions.antiAliasing < 2;
    bool any = false;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* in = mLetterScratch.row(y);
      std::uint8_t* out = coverage.row(r.y0 + y);
      if (sharp) {
        for (int x = 0; x < w; ++x) out[x] = in[x] > kCentreCovered ? 255 : 0;
      } else {
        std::memcpy(out, in, std::size_t(w));
      }
      for (int x = 0; x < w && !any; ++x) any = out[x] != 0;
    }
    if (!any) return {};
    return coverage;
  }

  Transparency TransparencyOf(const Context& ctx, const Paint& paint, const Raster& coverage,
                              std::unique_ptr<Raster>& mask) {
    Transparency t;
    t.opacity = std::clamp(paint.transparency.opacity / double(kOpacityFull), 0.0, 1.0);
    t.blendMode = paint.transparency.blendMode;
    if (paint.transparency.softMask != kNoSoftMask) {
      mask = SoftMask(ctx, paint.transparency.softMask, coverage.rect());
      t.mask = mask.get();
    }
    return t;
  }

  // The colour's ink in each plane; untouched inks stay untouched.
  std::vector<PlaneSource> FlatSources(const Context& ctx, std::uint16_t colour) const {
    std::vector<PlaneSource> sources(ctx.target->values.size());
    const std::uint8_t* pct = colsep(ctx.job, colour);
    if (pct == nullptr) return sources;
    std::array<double, kMaxSeparations> ink{};
    for (int s = 0; s < kMaxSeparations; ++s) ink[std::size_t(s)] = pct[s] == kPercentUntouched ? -1 : percentToByte(pct[s]);
    OpaqueKnockout(ctx.job, pct, ink);
    for (int s = 0; s < kMaxSeparations; ++s) {
      const int plane = ctx.planeOf[std::size_t(s)];
      if (plane < 0 || ink[std::size_t(s)] < 0) continue;
      sources[std::size_t(plane)] = {PlaneSource::kConstant, std::uint8_t(std::lround(ink[std::size_t(s)])), nullptr,
                                     nullptr};
    }
    return sources;
  }

  // An opaque ink takes its share off the inks of lower slots.
  void OpaqueKnockout(const jobstr* job, const std::uint8_t* pct, std::array<double, kMaxSeparations>& ink) const {
    if (!mOptions.opaqueInksKnockOut) return;
    for (int o = kMaxSeparations - 1; o >= 1; --o) {
      if (sepsoruse(job, o, false) < 0 || !separationIsOpaque(job, o)) continue;
      const std::uint8_t t = pct[o];
      if (t == 0 || t == kPercentUntouched) continue;
      const double keep = 1 - std::min<int>(t, 100) / 100.0;
      for (int s = 0; s < o; ++s) {
        if (sepsoruse(job, s, false) >= 0 && ink[std::size_t(s)] > 0) ink[std::size_t(s)] *= keep;
      }
      return;
    }
  }

  void Paint(const Context& ctx, std::uint16_t paintIndex, const Raster& coverage, const TavDB::Object* o) {
    const struct Paint* paint = paipoi(ctx.job, paintIndex);
    if (paint == nullptr) return;
    Drawing(*ctx.target);
    std::unique_ptr<Raster> mask;
    const Transparency t = TransparencyOf(ctx, *paint, coverage, mask);
    switch (paint->type) {
      case kPaintFlat:
        Compose(*ctx.target, coverage, FlatSources(ctx, paint->colour), t);
        return;
      case kPaintLinear:
      case kPaintRadial:
      case kPaintGradation:
        FillGradient(ctx, *paint, coverage, t);
        return;
      case kPaintPicture:
        if (picisart(ctx.job, paint->picture)) {
          FillOneUp(ctx, *paint, coverage, t);
        } else {
          PictureLayer layer = mPictures.Picture(ctx.job, *paint, ctx.toDevice, coverage.rect(), ctx.planeOf,
                                                 ctx.target->values.size());
          Compose(*ctx.target, coverage, layer.sources, t);
        }
        return;
      case kPaintMap: {
        PictureLayer layer =
            mPictures.Map(ctx.job, *paint, ctx.toDevice, coverage.rect(), ctx.planeOf, ctx.target->values.size());
        Compose(*ctx.target, coverage, layer.sources, t);
        return;
      }
      case kPaintPattern:
        FillPattern(ctx, *paint, coverage, t);
        return;
      default:
        (void)o;
        return;
    }
  }

  // Gradients through the kernel's gradation renderer, in job space over the
  // part of the job the coverage lies on, scaled onto the planes.
  void FillGradient(const Context& ctx, const struct Paint& paint, const Raster& coverage, const Transparency& t) {
    if (degisalltra(ctx.job, paint)) return;
    // The inks the gradient paints: those some colour of it gives a share.
    std::vector<std::uint16_t> colours;
    if (paint.type == kPaintGradation) {
      for (const GradationStep& s : paint.steps) colours.push_back(s.colour);
    } else {
      colours = {paint.colour, paint.colour2};
    }
    std::vector<std::int32_t> mapping;
    std::vector<int> planes;
    for (int s = 0; s < kMaxSeparations; ++s) {
      if (ctx.planeOf[std::size_t(s)] < 0) continue;
      bool touched = false;
      for (std::uint16_t c : colours) {
        const std::uint8_t* pct = colsep(ctx.job, c);
        touched = touched || (pct != nullptr && pct[s] != kPercentUntouched);
      }
      if (!touched) continue;
      mapping.push_back(s);
      planes.push_back(ctx.planeOf[std::size_t(s)]);
    }
    if (mapping.empty()) return;
    // The job rectangle under the coverage, at about one step per pixel.
    const IntRect r = coverage.rect();
    const cairo_matrix_t toJob = inverse(ctx.toDevice);
    double top = std::numeric_limits<double>::max(), left = top, bottom = -top, right = -top;
    for (double x : {double(r.x0), double(r.x1)}) {
      for (double y : {double(r.y0), double(r.y1)}) {
        double h = x, v = y;
        cairo_matrix_transform_point(&toJob, &h, &v);
        left = std::min(left, h), right = std::max(right, h), top = std::min(top, v), bottom = std::max(bottom, v);
      }
    }
    double ux = 1, uy = 0, vx = 0, vy = 1;
    cairo_matrix_transform_distance(&toJob, &ux, &uy);
    cairo_matrix_transform_distance(&toJob, &vx, &vy);
    double step = std::min(std::hypot(ux, uy), std::hypot(vx, vy));
    if (!(step > 0)) return;
    const double area = (right - left) / step * ((bottom - top) / step);
    if (area > kMaxSourcePixels) step *= std::sqrt(area / kMaxSourcePixels);
    const int w = std::max(1, int(std::ceil((right - left) / step)));
    const int h = std::max(1, int(std::ceil((bottom - top) / step)));
    struct Collector : GradationSink {
      std::vector<std::uint8_t> planar;
      bool Write(const std::uint8_t* bytes, std::size_t count) override {
        planar.insert(planar.end(), bytes, bytes + count);
        return true;
      }
    } collector;
    GradationOutput output(ctx.job, 0);
    output.SetSeparationMapping(mapping.data(), int(mapping.size()));
    output.SetOutput(&collector);
    output.MakeOutput(paint, top, left, h, w, step);
    if (collector.planar.size() < std::size_t(w) * std::size_t(h) * mapping.size()) return;

    // Each ink: its raster in job space, placed onto the coverage's pixels.
    cairo_matrix_t jobToRaster, toRaster;
    cairo_matrix_init(&jobToRaster, 1 / step, 0, 0, 1 / step, -left / step, -top / step);
    cairo_matrix_multiply(&toRaster, &toJob, &jobToRaster);
    std::vector<Raster> rasters;
    rasters.reserve(mapping.size());
    std::vector<PlaneSource> sources(ctx.target->values.size());
    for (std::size_t i = 0; i < mapping.size(); ++i) {
      Raster source(IntRect{0, 0, w, h});
      for (int y = 0; y < h; ++y) {
        std::memcpy(source.row(y), collector.planar.data() + (std::size_t(y) * mapping.size() + i) * std::size_t(w),
                    std::size_t(w));
      }
      rasters.push_back(Resample(source, toRaster, r, CAIRO_FILTER_BILINEAR, CAIRO_EXTEND_PAD));
      sources[std::size_t(planes[i])] = {PlaneSource::kRaster, 0, &rasters.back(), nullptr};
    }
    Compose(*ctx.target, coverage, sources, t);
  }

  // A one-up: its own job, its media box placed by the paint's corners, cut
  // to the object; its inks drawn into the planes of the inks of the same name.
  void FillOneUp(const Context& ctx, const struct Paint& paint, const Raster& coverage, const Transparency& t) {
    const jobstr* nested = picGetJob(ctx.job, paint.picture);
    if (nested == nullptr || ctx.depth >= kMaxNesting) return;
    TavSys::tv_rectangle box;
    if (!getbox(nested, kMediaBox, box) || !(box.right > box.left) || !(box.bottom > box.top)) return;
    const TavDB::tv_point o = paint.placeOrigin;
    const double bw = box.right - box.left, bh = box.bottom - box.top;
    const double xx = (double(paint.placeWidthCorner.h) - o.h) / bw, yx = (double(paint.placeWidthCorner.v) - o.v) / bw;
    const double xy = (double(paint.placeHeightCorner.h) - o.h) / bh, yy = (double(paint.placeHeightCorner.v) - o.v) / bh;
    cairo_matrix_t place;
    cairo_matrix_init(&place, xx, yx, xy, yy, o.h - xx * box.left - xy * box.top, o.v - yx * box.left - yy * box.top);
    Context inner;
    inner.job = nested;
    cairo_matrix_multiply(&inner.toDevice, &place, &ctx.toDevice);
    inner.planeOf.fill(-1);
    for (int s = 0; s < kMaxSeparations; ++s) {
      if (sepsoruse(nested, s, true) < 0) continue;
      const int parent = FindSeparation(ctx.job, GetSeparationName(nested, s));
      if (parent >= 0) inner.planeOf[std::size_t(s)] = ctx.planeOf[std::size_t(parent)];
    }
    // Cut to the object and to the one-up's media box.
    Raster clip = Coverage(ctx, coverage.rect(), [&](cairo_t* cr) {
      cairo_transform(cr, &place);
      cairo_rectangle(cr, box.left, box.top, bw, bh);
      cairo_fill(cr);
    });
    if (clip.empty()) return;
    clip.multiply(coverage);
    inner.clip = &clip;
    inner.depth = ctx.depth + 1;
    if (t.opacity >= 1 && t.mask == nullptr && t.blendMode == 0) {
      inner.target = ctx.target;
      RenderList(inner, jobGetSpahan(nested));
      return;
    }
    // With transparency the one-up is drawn as a whole first.
    Target layer = NewLayer(*ctx.target, clip.rect());
    inner.target = &layer;
    RenderList(inner, jobGetSpahan(nested));
    ComposeLayer(*ctx.target, clip, layer, t);
  }

  static Target NewLayer(const Target& like, const IntRect& rect) {
    Target layer;
    layer.rect = rect;
    for (std::size_t p = 0; p < like.values.size(); ++p) {
      layer.values.emplace_back(rect);
      layer.alpha.emplace_back(rect);
    }
    return layer;
  }

  // A tiling pattern: the cell's objects drawn once at the planes'
  // resolution, repeated along the cell's edges as its corners place them.
  void FillPattern(const Context& ctx, const struct Paint& paint, const Raster& coverage, const Transparency& t) {
    const PatternRec* pattern = patpoi(ctx.job, paint.pattern);
    if (pattern == nullptr || pattern->kind != PatternRec::kTiling || pattern->cell.isEmpty() || !pattern->objects)
      return;
    const TavDB::tv_box& cell = pattern->cell;
    const TavDB::tv_point c0 = pattern->corners[0], c1 = pattern->corners[1], c2 = pattern->corners[2];
    const double cw = double(cell.width()), ch = double(cell.height());
    // Cell space (the pattern objects' job units) to job space.
    cairo_matrix_t place;
    const double xx = (double(c1.h) - c0.h) / cw, yx = (double(c1.v) - c0.v) / cw;
    const double xy = (double(c2.h) - c0.h) / ch, yy = (double(c2.v) - c0.v) / ch;
    cairo_matrix_init(&place, xx, yx, xy, yy, c0.h - xx * cell.left - xy * cell.top, c0.v - yx * cell.left - yy * cell.top);
    cairo_matrix_t cellToDevice;
    cairo_matrix_multiply(&cellToDevice, &place, &ctx.toDevice);
    // The cell's pixels: as many as it covers on the planes, at least one.
    double ax = cw, ay = 0, bx = 0, by = ch;
    cairo_matrix_transform_distance(&cellToDevice, &ax, &ay);
    cairo_matrix_transform_distance(&cellToDevice, &bx, &by);
    const int pw = std::clamp(int(std::ceil(std::hypot(ax, ay))), 1, 8192);
    const int ph = std::clamp(int(std::ceil(std::hypot(bx, by))), 1, 8192);
    Context cellCtx;
    cellCtx.job = ctx.job;
    cellCtx.planeOf = ctx.planeOf;
    cellCtx.depth = ctx.depth + 1;
    cairo_matrix_init(&cellCtx.toDevice, pw / cw, 0, 0, ph / ch, -cell.left * pw / cw, -cell.top * ph / ch);
    Target layer = NewLayer(*ctx.target, IntRect{0, 0, pw, ph});
    cellCtx.target = &layer;
    if (ctx.depth >= kMaxNesting) return;
    RenderList(cellCtx, pattern->objects.get());
    // Device pixels to cell pixels, the cell repeated.
    cairo_matrix_t deviceToCell = inverse(cellToDevice);
    cairo_matrix_t toPixels;
    cairo_matrix_multiply(&toPixels, &deviceToCell, &cellCtx.toDevice);
    Target tiled = NewLayer(*ctx.target, coverage.rect());
    for (std::size_t p = 0; p < layer.values.size(); ++p) {
      tiled.values[p] = Resample(layer.values[p], toPixels, coverage.rect(), CAIRO_FILTER_NEAREST, CAIRO_EXTEND_REPEAT);
      tiled.alpha[p] = Resample(layer.alpha[p], toPixels, coverage.rect(), CAIRO_FILTER_NEAREST, CAIRO_EXTEND_REPEAT);
    }
    ComposeLayer(*ctx.target, coverage, tiled, t);
  }

  // A soft mask: the luminosity of its objects drawn on white (or on black
  // when the mask hides what lies outside its objects), inverted on request.
  std::unique_ptr<Raster> SoftMask(const Context& ctx, std::uint16_t patternIndex, const IntRect& r) {
    const PatternRec* pattern = patpoi(ctx.job, patternIndex);
    auto mask = std::make_unique<Raster>(r, 255);
    if (pattern == nullptr || !pattern->objects || ctx.depth >= kMaxNesting) return mask;
    const bool outsideHidden = (pattern->maskFlags & 2) != 0, inverted = (pattern->maskFlags & 4) != 0;
    // The mask's objects may use any ink of the job: every ink gets a plane.
    Context maskCtx = ctx;
    maskCtx.clip = nullptr;
    maskCtx.depth = ctx.depth + 1;
    std::vector<int> slots;
    maskCtx.planeOf.fill(-1);
    for (int s = 0; s < kMaxSeparations; ++s) {
      if (sepsoruse(ctx.job, s, true) < 0) continue;
      maskCtx.planeOf[std::size_t(s)] = int(slots.size());
      slots.push_back(s);
    }
    Target planes;
    planes.rect = r;
    for (std::size_t i = 0; i < slots.size(); ++i) planes.values.emplace_back(r);
    Raster shape(r);
    planes.shape = &shape;
    maskCtx.target = &planes;
    RenderList(maskCtx, pattern->objects.get());
    std::vector<std::array<double, 4>> cmyk;
    for (int s : slots) {
      std::uint8_t c = 0, m = 0, y = 0, k = 0;
      sepcmyk(ctx.job, s, c, m, y, k);
      cmyk.push_back({c / 100.0, m / 100.0, y / 100.0, k / 100.0});
    }
    for (int y = r.y0; y < r.y1; ++y) {
      std::uint8_t* out = mask->row(y);
      const std::uint8_t* covered = shape.row(y);
      for (int x = 0; x < r.width(); ++x) {
        double keep[4] = {1, 1, 1, 1};
        for (std::size_t i = 0; i < slots.size(); ++i) {
          const double ink = planes.values[i].row(y)[x] / 255.0;
          for (int c = 0; c < 4; ++c) keep[c] *= 1 - ink * cmyk[i][std::size_t(c)];
        }
        const double k = 1 - keep[3];
        const double rr = keep[0] * (1 - k), gg = keep[1] * (1 - k), bb = keep[2] * (1 - k);
        double lum = 0.3 * rr + 0.59 * gg + 0.11 * bb;
        if (inverted) lum = 1 - lum;
        if (outsideHidden) lum *= covered[x] / 255.0;
        out[x] = std::uint8_t(std::lround(std::clamp(lum, 0.0, 1.0) * 255));
      }
    }
    return mask;
  }

 private:
  const SeparatedPreviewOptions& mOptions;
  PictureSources mPictures;
  Target& mPage;
  std::unique_ptr<FlatFillBatch> mBatch;
  SpanRasteriser mRasteriser;
  std::vector<Span> mRuns;
  // The outlines of the fills the batch holds, by id, and their sweeper.
  std::vector<Deferred> mDeferred;
  SpanRasteriser mBatchRasteriser;
  Outlines mOutlines{*this};
  // LetterCoverage's raster, the surface over it and the context drawing
  // there (owned; destroyed in this order's reverse: context first).
  Raster mLetterScratch;
  Surface mLetterSurface;
  CairoContext mLetterContext;
};

}  // namespace

void SeparatedPreview::Impl::Render(const TavDB::Object* objects) {
  if (objects == nullptr) objects = jobGetSpahan(mJob);
  if (objects == nullptr) return;
  TavDB::ScopedCurrentJob current(mJob);
  Context ctx;
  ctx.job = mJob;
  ctx.toDevice = mToDevice;
  ctx.planeOf = mPlaneOf;
  ctx.target = &mTarget;
  Renderer renderer(mOptions, mTarget);
  renderer.RenderList(ctx, objects);
  renderer.Finish();
}

std::pair<int, int> PreviewSize(const jobstr* job, const TavSys::tv_rectangle& box, double resolution) {
  const double ppi = TavDB::getppi(job);
  auto side = [&](double units) {
    const double pixels = std::round(units / ppi * resolution);
    return int(std::clamp(pixels, 1.0, double(std::numeric_limits<int>::max() / 8)));
  };
  return {side(box.right - box.left), side(box.bottom - box.top)};
}

SeparatedPreview::SeparatedPreview(const jobstr* job, const TavSys::tv_rectangle& box, int width, int height,
                                   const SeparatedPreviewOptions& options)
    : mImpl(std::make_unique<Impl>(job, box, width, height, options)) {}

SeparatedPreview::~SeparatedPreview() = default;

void SeparatedPreview::Render(const TavDB::Object* objects) { mImpl->Render(objects); }
int SeparatedPreview::GetWidth() const { return mImpl->mTarget.rect.width(); }
int SeparatedPreview::GetHeight() const { return mImpl->mTarget.rect.height(); }
int SeparatedPreview::GetPlaneCount() const { return int(mImpl->mSlots.size()); }
int SeparatedPreview::GetPlaneSeparation(int plane) const {
  return plane >= 0 && plane < GetPlaneCount() ? mImpl->mSlots[std::size_t(plane)] : -1;
}
int SeparatedPreview::GetSeparationPlane(int slot) const {
  return slot >= 0 && slot < kMaxSeparations ? mImpl->mPlaneOf[std::size_t(slot)] : -1;
}
const std::uint8_t* SeparatedPreview::GetScanLine(int plane, int row) const {
  if (plane < 0 || plane >= GetPlaneCount() || row < 0 || row >= GetHeight()) return nullptr;
  return mImpl->mTarget.values[std::size_t(plane)].row(row);
}
const std::uint8_t* SeparatedPreview::GetShapeLine(int row) const {
  if (row < 0 || row >= GetHeight()) return nullptr;
  return mImpl->mShape.row(row);
}

}  // namespace TavricLib

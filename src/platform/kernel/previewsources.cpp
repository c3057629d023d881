#include "platform/kernel/previewsources.h"

#include <glib.h>
// For the types only: the library is loaded when a placed page is first drawn.
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "platform/files.h"
#include "platform/kernel/epsfile.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/latelibrary.h"
#include "platform/pixelreader.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace fs = std::filesystem;

namespace TavricLib::preview {

namespace {

enum Kind : int { kPixels = 0, kEps = 1, kPdf = 2, kMapKind = 3 };

// Pictures larger than this are read down to it.
constexpr double kMaxDecodedPixels = 1 << 24;

// The placement of a picture's unit square: (0, 0) its first pixel's
// corner, (1, 0) the end of its first row, (0, 1) the end of its first column.
cairo_matrix_t unitPlacement(const Paint& paint) {
  const TavDB::tv_point o = paint.placeOrigin, w = paint.placeWidthCorner, h = paint.placeHeightCorner;
  cairo_matrix_t m;
  cairo_matrix_init(&m, double(w.h) - o.h, double(w.v) - o.v, double(h.h) - o.h, double(h.v) - o.v, o.h, o.v);
  return m;
}

// The pixels a placement needs along its edges: as many as it covers on
// the planes, no more than the source has (when it has a size).
std::pair<int, int> neededSize(const Paint& paint, const cairo_matrix_t& toDevice, int srcW, int srcH) {
  cairo_matrix_t m = unitPlacement(paint), d;
  cairo_matrix_multiply(&d, &m, &toDevice);
  double ax = 1, ay = 0, bx = 0, by = 1;
  cairo_matrix_transform_distance(&d, &ax, &ay);
  cairo_matrix_transform_distance(&d, &bx, &by);
  double w = std::ceil(std::hypot(ax, ay)), h = std::ceil(std::hypot(bx, by));
  if (srcW > 0) w = std::min(w, double(srcW));
  if (srcH > 0) h = std::min(h, double(srcH));
  w = std::max(1.0, w), h = std::max(1.0, h);
  if (w * h > kMaxDecodedPixels) {
    const double f = std::sqrt(kMaxDecodedPixels / (w * h));
    w = std::max(1.0, std::floor(w * f)), h = std::max(1.0, std::floor(h * f));
  }
  return {int(w), int(h)};
}

// The renderer's functions that the previews call.
struct PdfRendererFunctions {
  decltype(&::poppler_document_new_from_file) documentNewFromFile;
  decltype(&::poppler_document_get_page) documentGetPage;
  decltype(&::poppler_page_get_size) pageGetSize;
  decltype(&::poppler_page_render_for_printing) pageRenderForPrinting;
  decltype(&::g_object_unref) objectUnref;  // in the object library it pulls in
};

bool FindPdfRendererFunctions(void* library, PdfRendererFunctions& f, std::string& why) {
  using TavSys::FindLibraryFunction;
  return FindLibraryFunction(library, "poppler_document_new_from_file", f.documentNewFromFile, why) &&
         FindLibraryFunction(library, "poppler_document_get_page", f.documentGetPage, why) &&
         FindLibraryFunction(library, "poppler_page_get_size", f.pageGetSize, why) &&
         FindLibraryFunction(library, "poppler_page_render_for_printing", f.pageRenderForPrinting, why) &&
         FindLibraryFunction(library, "g_object_unref", f.objectUnref, why);
}

// The renderer and the twenty libraries it pulls in are loaded by the first
// placed PDF page a preview draws, not by every process at its start.
TavSys::LateLibrary<PdfRendererFunctions>& PdfRenderer() {
  static TavSys::LateLibrary<PdfRendererFunctions> library(TAV_PDF_RENDERER_SONAME, FindPdfRendererFunctions);
  return library;
}

// Drops a reference through the renderer's own function, which it keeps, so
// that a document outlives another library named in the renderer's place.
struct GObjectDeleter {
  void (*unref)(gpointer) = nullptr;
  void operator()(gpointer p) const {
    if (p != nullptr) unref(p);
  }
};

}  // namespace

std::string PdfRendererLibrary() { return PdfRenderer().Name(); }

void SetPdfRendererLibrary(std::string soname) { PdfRenderer().SetName(std::move(soname)); }

PictureSources::PictureSources(const SeparatedPreviewOptions& options)
    : mOptions(options), mRgb(options.cmykProfile) {}

PictureSources::~PictureSources() = default;

// Rows of a pixel file read down to w x h by nearest rows and columns, as
// the inks of the job: CMYK channels into the process inks, further channels
// into the picture's spot inks in slot order, gray and RGB through CMYK.
DecodedPicture PictureSources::DecodePixels(const jobstr* job, const std::string& path, int w, int h) const {
  DecodedPicture d;
  TavSys::pixreatyp reader(path);
  const TavSys::PixelHeader& head = reader.header();
  const std::size_t channels = std::size_t(head.channels);
  const bool rgb = head.model == TavSys::kPixelRGB && channels >= 3;
  const bool gray = (head.model == TavSys::kPixelGray || head.model == TavSys::kPixelBitmap) && channels >= 1;
  CmykSplitter splitter(job, {});
  d.slots = splitter.Slots();
  d.width = w;
  d.height = h;
  for (std::size_t i = 0; i < d.slots.size(); ++i) d.planes.emplace_back(IntRect{0, 0, w, h});
  std::vector<std::uint8_t> row(head.rowBytes()), cmyk(std::size_t(w) * 4), rgbRow(std::size_t(w) * 3),
      inks(d.slots.size());
  int next = 0;
  for (std::int32_t y = 0; y < head.rows && next < h; ++y) {
    reader.readRow(row.data());
    while (next < h && std::int32_t((next + 0.5) * head.rows / h) == y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* px = row.data() + std::size_t((x + 0.5) * head.width / w) * channels;
        std::uint8_t* c = cmyk.data() + std::size_t(x) * 4;
        if (gray) {
          c[0] = c[1] = c[2] = 0;
          c[3] = std::uint8_t(255 - px[0]);
        } else if (rgb) {
          std::memcpy(rgbRow.data() + std::size_t(x) * 3, px, 3);
        } else {
          for (std::size_t k = 0; k < 4; ++k) c[k] = k < channels ? px[k] : 0;
        }
      }
      if (rgb) mRgb.Convert(rgbRow.data(), cmyk.data(), std::size_t(w));
      for (int x = 0; x < w; ++x) {
        splitter.Split(cmyk.data() + std::size_t(x) * 4, inks.data());
        for (std::size_t i = 0; i < inks.size(); ++i) d.planes[i].row(next)[x] = inks[i];
      }
      ++next;
    }
  }
  return d;
}

// A placed EPS file shows its preview (a DOS EPS file's TIFF section) over
// its bounding box; without one, one mid-gray pixel stands for it, as the
// written file draws it.
DecodedPicture PictureSources::DecodeEpsPreview(const jobstr* job, int picture, int w, int h) const {
  const TavSys::filref* file = picfilref(job, picture);
  const std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  try {
    const TavKernel::EpsHeader header = TavKernel::ReadEpsHeader(fs::u8path(path));
    if (header.dos && header.tiffOffset != 0 && header.tiffLength != 0) {
      const TavSys::TempFolder folder;
      const fs::path tiff = folder.path() / "preview.tif";
      {
        std::ifstream in(fs::u8path(path), std::ios::binary);
        std::ofstream out(tiff, std::ios::binary);
        in.seekg(std::streamoff(header.tiffOffset));
        std::vector<char> block(1 << 16);
        for (std::uint64_t left = header.tiffLength; left > 0 && in;) {
          const std::size_t n = std::size_t(std::min<std::uint64_t>(left, block.size()));
          in.read(block.data(), std::streamsize(n));
          out.write(block.data(), in.gcount());
          left -= std::uint64_t(in.gcount());
        }
      }
      return DecodePixels(job, tiff.string(), w, h);
    }
  } catch (const TavSys::Error& e) {
    // A preview that cannot be read is no preview (the written file shows
    // the gray pixel then, and the page writer reports the file).
    TavSys::debug("preview: EPS preview of " + path + ": " + e.detail());
  }
  DecodedPicture d;
  const std::uint8_t gray[3] = {128, 128, 128};
  std::uint8_t cmyk[4];
  mRgb.Convert(gray, cmyk, 1);
  CmykSplitter splitter(job, {});
  d.slots = splitter.Slots();
  d.width = d.height = 1;
  std::vector<std::uint8_t> inks(d.slots.size());
  splitter.Split(cmyk, inks.data());
  for (std::size_t i = 0; i < d.slots.size(); ++i) d.planes.emplace_back(IntRect{0, 0, 1, 1}, inks[i]);
  return d;
}

// The placed PDF files last rendered on this thread, kept open: a job that
// places one file many times (and a JDF folder, whose every file renders its
// thumbnail) opens and parses it, and loads its fonts, once. A file that
// changed on disk since (size or time) is opened again.
struct OpenPdf {
  std::string path;
  std::uintmax_t size = 0;
  fs::file_time_type time;
  std::unique_ptr<PopplerDocument, GObjectDeleter> document;
};
constexpr std::size_t kOpenPdfs = 4;
thread_local std::vector<OpenPdf> tOpenPdfs;

template <typename Fail>
PopplerDocument* OpenPdfDocument(const PdfRendererFunctions& renderer, const std::string& path, const Fail& fail) {
  std::error_code ec;
  const fs::path file = fs::u8path(path);
  const std::uintmax_t size = fs::file_size(file, ec);
  const fs::file_time_type time = ec ? fs::file_time_type() : fs::last_write_time(file, ec);
  if (ec) fail(ec.message());
  for (auto it = tOpenPdfs.begin(); it != tOpenPdfs.end(); ++it) {
    if (it->path != path) continue;
    if (it->size == size && it->time == time) {
      std::rotate(it, it + 1, tOpenPdfs.end());  // the most recent one last
      return tOpenPdfs.back().document.get();
    }
    tOpenPdfs.erase(it);
    break;
  }
  GError* error = nullptr;
  gchar* uri = g_filename_to_uri(path.c_str(), nullptr, &error);
  std::unique_ptr<PopplerDocument, GObjectDeleter> document(
      uri != nullptr ? renderer.documentNewFromFile(uri, nullptr, &error) : nullptr, GObjectDeleter{renderer.objectUnref});
  g_free(uri);
  if (!document) {
    const std::string why = error != nullptr ? error->message : "not a readable PDF file";
    if (error != nullptr) g_error_free(error);
    fail(why);
  }
  if (tOpenPdfs.size() == kOpenPdfs) tOpenPdfs.erase(tOpenPdfs.begin());
  tOpenPdfs.push_back({path, size, time, std::move(document)});
  return tOpenPdfs.back().document.get();
}

// A placed PDF page rendered in colour (its crop box as the page shows it),
// its colours split into the job's inks through their process equivalents:
// the picture's spot inks first, the process inks the rest. What the page
// leaves transparent paints nothing.
DecodedPicture PictureSources::DecodePdfPage(const jobstr* job, const struct Paint& paint, int w, int h) const {
  const TavSys::filref* file = picfilref(job, paint.picture);
  const std::string path = file != nullptr ? file->getFullPathAsUtf8() : std::string();
  const std::string name = file != nullptr ? file->getNameAsUtf8() : std::string();
  auto fail = [&](const std::string& why) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/CANNOT OPEN PICTURE FILE", name + ": " + why)
        .with("__FILENAME__", name);
  };
  std::string why;
  const PdfRendererFunctions* renderer = PdfRenderer().Get(why);
  if (renderer == nullptr) fail("its pages cannot be rendered: " + why);
  PopplerDocument* document = OpenPdfDocument(*renderer, path, fail);
  const int pageIndex = pictureGetPage(job, paint.picture);
  std::unique_ptr<PopplerPage, GObjectDeleter> page(renderer->documentGetPage(document, std::max(0, pageIndex)),
                                                    GObjectDeleter{renderer->objectUnref});
  if (!page) fail("it has no page " + std::to_string(pageIndex + 1));
  double pw = 0, ph = 0;
  renderer->pageGetSize(page.get(), &pw, &ph);
  if (!(pw > 0) || !(ph > 0)) fail("its page has no size");

  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) fail("no room to render its page");
  {
    CairoContext cr(cairo_create(surface.get()));
    cairo_scale(cr.get(), w / pw, h / ph);
    renderer->pageRenderForPrinting(page.get(), cr.get());
  }
  cairo_surface_flush(surface.get());
  std::vector<int> spots;
  for (int s = 0; s < kMaxSeparations; ++s) {
    if (picsepuse(job, paint.picture, s) && sepiscmyk(job, s) < 0) spots.push_back(s);
  }
  CmykSplitter splitter(job, spots);
  DecodedPicture d;
  d.slots = splitter.Slots();
  d.width = w;
  d.height = h;
  for (std::size_t i = 0; i < d.slots.size(); ++i) d.planes.emplace_back(IntRect{0, 0, w, h});
  d.alpha = Raster(IntRect{0, 0, w, h});
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  std::vector<std::uint8_t> rgb(std::size_t(w) * 3), cmyk(std::size_t(w) * 4), inks(d.slots.size());
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(data + std::ptrdiff_t(y) * stride);
    std::uint8_t* alpha = d.alpha.row(y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t px = in[x];
      const int a = int(px >> 24);
      alpha[x] = std::uint8_t(a);
      // Premultiplied: the colour itself.
      for (int k = 0; k < 3; ++k) {
        const int c = int((px >> (16 - 8 * k)) & 0xFF);
        rgb[std::size_t(x) * 3 + std::size_t(k)] = a == 0 ? 255 : std::uint8_t(std::min(255, (c * 255 + a / 2) / a));
      }
    }
    mRgb.Convert(rgb.data(), cmyk.data(), std::size_t(w));
    for (int x = 0; x < w; ++x) {
      splitter.Split(cmyk.data() + std::size_t(x) * 4, inks.data());
      for (std::size_t i = 0; i < inks.size(); ++i) d.planes[i].row(y)[x] = inks[i];
    }
  }
  return d;
}

// A map's inks and opacity read down to w x h. Inks with a channel and the
// map's flat tints come from the map's stream; the opacity channel's share
// per ink is taken as the ink's channel opacity.
DecodedPicture PictureSources::DecodeMap(const jobstr* job, int mapIndex, int w, int h) const {
  DecodedPicture d;
  const PictureMap* map = mappoi(job, mapIndex);
  if (map == nullptr || map->width < 1 || map->height < 1) return d;
  for (int s = 0; s < kMaxSeparations; ++s) {
    if (sepsoruse(job, s, true) >= 0 && GetMapInk(job, mapIndex, s).painted) d.slots.push_back(s);
  }
  d.knocksOut = !MappedPicture(job, mapIndex).HasOverprint();
  d.width = w;
  d.height = h;
  for (std::size_t i = 0; i < d.slots.size(); ++i) d.planes.emplace_back(IntRect{0, 0, w, h});
  std::unique_ptr<MappedPictureStream> inks;
  if (!d.slots.empty()) inks = std::make_unique<MappedPictureStream>(job, mapIndex, d.slots, false);
  std::unique_ptr<OpacityPictureStream> opacity;
  if (maphasopa(job, mapIndex)) {
    opacity = std::make_unique<OpacityPictureStream>(job, mapIndex, kOpacityFull);
    d.alpha = Raster(IntRect{0, 0, w, h});
  }
  std::vector<std::uint8_t> row(std::size_t(map->width) * std::max<std::size_t>(1, d.slots.size())),
      alpha(std::size_t(map->width), 255);
  int next = 0;
  for (std::int32_t y = 0; y < map->height && next < h; ++y) {
    if (inks && !inks->GetLine(row.data())) break;
    if (opacity && !opacity->GetLine(alpha.data())) break;
    while (next < h && std::int32_t((next + 0.5) * map->height / h) == y) {
      for (int x = 0; x < w; ++x) {
        const std::size_t sx = std::size_t((x + 0.5) * map->width / w);
        for (std::size_t i = 0; i < d.slots.size(); ++i) d.planes[i].row(next)[x] = row[sx * d.slots.size() + i];
        if (opacity) d.alpha.row(next)[x] = alpha[sx];
      }
      ++next;
    }
  }
  return d;
}

const DecodedPicture& PictureSources::Decode(const jobstr* job, int kind, int index, int w, int h) {
  const auto key = std::make_tuple(job, kind, index, w, h);
  if (auto it = mCache.find(key); it != mCache.end()) return it->second;
  DecodedPicture d;
  if (kind == kMapKind) {
    d = DecodeMap(job, index, w, h);
  } else if (kind == kEps) {
    d = DecodeEpsPreview(job, index, w, h);
  } else {
    const TavSys::filref* file = picfilref(job, index);
    d = DecodePixels(job, file != nullptr ? file->getFullPathAsUtf8() : std::string(), w, h);
  }
  return mCache.emplace(key, std::move(d)).first->second;
}

PictureLayer PictureSources::Place(const DecodedPicture& picture, const Paint& paint, const cairo_matrix_t& toDevice,
                                   const IntRect& r, const std::array<int, kMaxSeparations>& planeOf,
                                   std::size_t planes) const {
  PictureLayer layer;
  layer.sources.resize(planes);
  if (picture.width < 1 || picture.height < 1) return layer;
  // Device pixels to the picture's pixels.
  cairo_matrix_t unit = unitPlacement(paint), toPicture, pixels, full;
  cairo_matrix_multiply(&full, &unit, &toDevice);
  toPicture = full;
  if (cairo_matrix_invert(&toPicture) != CAIRO_STATUS_SUCCESS) return layer;
  cairo_matrix_init_scale(&pixels, picture.width, picture.height);
  cairo_matrix_t deviceToPixels;
  cairo_matrix_multiply(&deviceToPixels, &toPicture, &pixels);
  const cairo_filter_t filter = mOptions.antiAliasing >= 2 ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST;

  // Where the picture lies: its frame, times its own opacity.
  Raster& frame = layer.rasters.emplace_back(r);
  {
    CairoContext cr = frame.context();
    cairo_set_antialias(cr.get(), mOptions.antiAliasing >= 2 ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    cairo_transform(cr.get(), &full);
    cairo_rectangle(cr.get(), 0, 0, 1, 1);
    cairo_fill(cr.get());
  }
  if (!picture.alpha.empty()) {
    Raster alpha = Resample(const_cast<Raster&>(picture.alpha), deviceToPixels, r, filter, CAIRO_EXTEND_NONE);
    frame.multiply(alpha);
  }
  for (std::size_t i = 0; i < picture.slots.size(); ++i) {
    const int slot = picture.slots[i];
    const int plane = slot >= 0 && slot < kMaxSeparations ? planeOf[std::size_t(slot)] : -1;
    if (plane < 0 || std::size_t(plane) >= planes) continue;
    Raster& values =
        layer.rasters.emplace_back(Resample(const_cast<Raster&>(picture.planes[i]), deviceToPixels, r, filter, CAIRO_EXTEND_PAD));
    layer.sources[std::size_t(plane)] = {PlaneSource::kRaster, 0, &values, &frame};
  }
  // The inks it does not paint: cleared under it, unless it overprints.
  if (picture.knocksOut && !paint.overprint) {
    for (PlaneSource& s : layer.sources) {
      if (s.kind == PlaneSource::kUntouched) s = {PlaneSource::kConstant, 0, nullptr, &frame};
    }
  }
  return layer;
}

PictureLayer PictureSources::Picture(const jobstr* job, const struct Paint& paint, const cairo_matrix_t& toDevice,
                                     const IntRect& r, const std::array<int, kMaxSeparations>& planeOf,
                                     std::size_t planes) {
  const struct Picture* picture = picpoi(job, paint.picture);
  if (picture == nullptr || pictureIsUnknown(job, paint.picture)) return {{}, std::vector<PlaneSource>(planes)};
  if (picispdf(job, paint.picture)) {
    const auto [w, h] = neededSize(paint, toDevice, 0, 0);
    const auto key = std::make_tuple(job, int(kPdf), paint.picture * 65536 + int(paint.pdfPage), w, h);
    auto it = mCache.find(key);
    if (it == mCache.end()) it = mCache.emplace(key, DecodePdfPage(job, paint, w, h)).first;
    return Place(it->second, paint, toDevice, r, planeOf, planes);
  }
  if (piciseps(job, paint.picture)) {
    const auto [w, h] = neededSize(paint, toDevice, 0, 0);
    return Place(Decode(job, kEps, paint.picture, w, h), paint, toDevice, r, planeOf, planes);
  }
  if (picisvectorformat(job, paint.picture)) return {{}, std::vector<PlaneSource>(planes)};
  const auto [w, h] = neededSize(paint, toDevice, picture->width, picture->height);
  return Place(Decode(job, kPixels, paint.picture, w, h), paint, toDevice, r, planeOf, planes);
}

PictureLayer PictureSources::Map(const jobstr* job, const struct Paint& paint, const cairo_matrix_t& toDevice,
                                 const IntRect& r, const std::array<int, kMaxSeparations>& planeOf,
                                 std::size_t planes) {
  const PictureMap* map = mappoi(job, paint.map);
  if (map == nullptr) return {{}, std::vector<PlaneSource>(planes)};
  const auto [w, h] = neededSize(paint, toDevice, map->width, map->height);
  return Place(Decode(job, kMapKind, paint.map, w, h), paint, toDevice, r, planeOf, planes);
}

}  // namespace TavricLib::preview

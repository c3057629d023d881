// The picture cache of the page writer: the key and its order, the cached
// pictures, the visitor that gathers every map use of a page, and the
// queries of the page writer (find, mark, count, re-key).
#include "pictures/picturecache.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <tuple>

#include "pagewriter/pathsplit.h"
#include "pagewriter/pdfproof.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/pixelreader.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kExcluded = 0x20000;
// Soft masks whose objects paint with soft masks again are followed this deep.
constexpr int kMaxSoftMaskDepth = 8;
// Two uses share a cached picture when their factors differ by less than this.
constexpr double kFactorTolerance = 0.05;

template <typename T>
int threeWay(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

bool contentKeyed(const jobstr* job, std::uint32_t map) {
  const PictureMap* m = mappoi(job, int(map));
  return m != nullptr && !m->internal;
}

// Orders two external maps by everything that decides their pixels: size,
// resolution, flags, the overprint of their colour, the opacity channel and,
// for every separation in use, how it is painted and from which channel.
int compareExternalMaps(const jobstr* job, int a, int b) {
  const PictureMap& ma = *mappoi(job, a);
  const PictureMap& mb = *mappoi(job, b);
  if (int c = threeWay(std::tie(ma.height, ma.width, ma.resolution, ma.noOpi, ma.opaqueKnockout),
                       std::tie(mb.height, mb.width, mb.resolution, mb.noOpi, mb.opaqueKnockout))) {
    return c;
  }
  if (int c = threeWay(colistra(job, ma.colour1), colistra(job, mb.colour1))) return c;
  switch (CompareChannelFiles(job, a, mapelenum(job, a, -1), b, mapelenum(job, b, -1))) {
    case 0: return -1;
    case 2: return 1;
    default: break;
  }
  // Every separation, enabled or not: the order must not change while the
  // enabled states do (soft masks are gathered with every separation on).
  for (int s = 0; s < sepfrejob(job); ++s) {
    if (sepsoruse(job, s, true) < 0) continue;
    const TavricLib::MapInk ia = TavricLib::GetMapInk(job, a, s), ib = TavricLib::GetMapInk(job, b, s);
    if (int c = threeWay(std::tie(ia.painted, ia.low, ia.high), std::tie(ib.painted, ib.low, ib.high))) return c;
    switch (CompareChannelFiles(job, a, mapelenum(job, a, s), b, mapelenum(job, b, s))) {
      case 0: return -1;
      case 2: return 1;
      default: break;
    }
  }
  return 0;
}

bool isFile(const TavSys::filref* file) {
  std::error_code ec;
  return file != nullptr && !file->empty() && std::filesystem::is_regular_file(file->getFullPathAsUtf8(), ec);
}

// Inserts a visible rectangle: one inside an existing sub-image changes
// nothing; sub-images inside the new one give way to it.
void addVisibleRect(CachedImage& picture, const PixelRect& rect) {
  if (RectIsEmpty(rect)) return;
  std::vector<CachedSubImage>& subs = picture.subImages;
  for (const CachedSubImage& sub : subs)
    if (RectInside(rect, sub.rect)) return;
  subs.erase(std::remove_if(subs.begin(), subs.end(), [&](const CachedSubImage& s) { return RectInside(s.rect, rect); }),
             subs.end());
  CachedSubImage sub;
  sub.rect = rect;
  subs.push_back(std::move(sub));
}

class MappedPictureCacheVisitor : public TavDB::ObjectVisitor {
 public:
  MappedPictureCacheVisitor(PDFProof* writer, MappedPictureCache& cache, bool remap, const SeparationRemap& array,
                            int depth)
      : TavDB::ObjectVisitor(kExcluded, 0, writer->GetSearchFlags(), 0),
        mWriter(writer),
        mCache(cache),
        mRemap(remap),
        mArray(array),
        mDepth(depth) {}

  bool VisitCompound(TavDB::Object& compound) override {
    Record(compound);
    return false;
  }
  bool VisitGroup(TavDB::Object& group) override {
    Record(group);
    return true;
  }
  bool VisitPath(TavDB::Object& path) override {
    Record(path);
    return false;
  }

 private:
  void AddMapUse(const TavDB::Object& drawn) {
    jobstr* job = mWriter->GetJob();
    // The map as the writer draws it: its paint converted for opaque inks
    // (a region the flattener composed keeps its own).
    const Paint* drawnPaint = paipoi(job, drawn.paint());
    if (drawnPaint == nullptr || drawnPaint->type != kPaintMap) return;
    const bool composed = drawn.extra() != nullptr && drawn.extra()->composed;
    // (Converting may add paints: no paint pointer is held across it.)
    const std::uint16_t converted = composed ? drawn.paint() : mWriter->ConvertedForOpaqueInks(drawn.paint());
    std::unique_ptr<TavDB::Object> copy;
    if (converted != drawn.paint()) {
      copy = TavDB::objdupall(&drawn);
      if (copy) copy->setPaint(converted, true);
    }
    const TavDB::Object& object = copy ? *copy : drawn;
    const Paint* paint = paipoi(job, object.paint());
    const TavDB::tv_box& box = object.bounds();
    if (paint == nullptr || paint->type != kPaintMap || !(box.top < box.bottom && box.left < box.right)) return;
    // Only the part of the object the map covers is drawn (the object is
    // cut to the map's frame): a map lying outside its object is not used.
    bool outside = false;
    std::unique_ptr<TavDB::Object> part;
    if (object.kind() == TavDB::ObjectKind::Path || object.kind() == TavDB::ObjectKind::Compound) {
      part = IntersectWithImageBoundingBox(job, &object, outside);
    }
    if (outside) return;
    const TavDB::Object& use = part ? *part : object;
    int channelType = kMapChannelNone;
    const bool softMask = CanOutputAsSoftmaskImage(job, &use, use.paint(), &channelType);
    const bool background = softMask && mapChannelTypeIsTransparentBackground(channelType) &&
                            mWriter->GetSettings().LinkType == 2;
    AddPictureUse(mCache, mWriter, &use, mRemap, mArray, softMask, background);
  }

  void Record(TavDB::Object& object) {
    jobstr* job = mWriter->GetJob();
    const Paint* paint = paipoi(job, object.paint());
    if (paint == nullptr) return;
    const std::uint16_t softMask = paint->transparency.softMask;
    AddMapUse(object);  // may add paints
    // A stroke painted with a map fills the area the stroke covers with it.
    if (const TavDB::Stroke* stroke = object.stroke(); stroke != nullptr && stroke->width > 0) {
      const Paint* strokePaint = paipoi(job, stroke->paint);
      if (strokePaint != nullptr && strokePaint->type == kPaintMap) {
        try {
          if (std::unique_ptr<TavDB::Object> outline = TavricGeo::StrokeOutline(&object)) AddMapUse(*outline);
        } catch (const std::length_error&) {
          // The walker reports the outline it cannot make.
        }
      }
    }
    const PatternRec* mask = softMask != kNoSoftMask ? patpoi(job, softMask) : nullptr;
    if (mask == nullptr || !mask->objects || mDepth >= kMaxSoftMaskDepth) return;
    // The soft mask's objects are written with every separation reset; the
    // inks they use stand for the separations in use.
    TavricLib::SeparationResetter reset(job);
    SeparationRemap used{};
    VisitorSearchUsedSeparations(job, mask->objects.get(), kExcluded, used);
    MappedPictureCacheVisitor nested(mWriter, mCache, true, used, mDepth + 1);
    TavDB::AcceptVisitor(mask->objects.get(), nested);
  }

  PDFProof* mWriter;
  MappedPictureCache& mCache;
  bool mRemap;
  SeparationRemap mArray;
  int mDepth;
};

}  // namespace

// ---- rectangles ----------------------------------------------------------------------

bool RectInside(const PixelRect& a, const PixelRect& b) {
  return a[0] >= b[0] && a[1] >= b[1] && a[2] <= b[2] && a[3] <= b[3];
}

bool RectIsEmpty(const PixelRect& r) { return r[0] >= r[2] || r[3] <= r[1]; }

std::array<std::int32_t, 2> RectCentre(const PixelRect& r) {
  return {std::int32_t((std::int64_t(r[0]) + r[2]) / 2), std::int32_t((std::int64_t(r[1]) + r[3]) / 2)};
}

// ---- key order -----------------------------------------------------------------------

int CompareChannelFiles(const jobstr* job, int mapA, int elementA, int mapB, int elementB) {
  if (mapA == mapB && elementA == elementB) return 1;
  if (elementA < 0 && elementB < 0) return 1;
  if (elementA < 0) return 0;
  if (elementB < 0) return 2;
  const Map_Element ea(job, mapA, elementA), eb(job, mapB, elementB);
  if (!ea.exists() || !eb.exists()) return ea.exists() ? 2 : (eb.exists() ? 0 : 1);
  auto opacity = [&](int map, int element) {
    const PictureMap* m = mappoi(job, map);
    return std::size_t(element) < m->channels.size() ? m->channels[std::size_t(element)].opacity : kOpacityFull;
  };
  if (int c = threeWay(opacity(mapA, elementA), opacity(mapB, elementB))) return c < 0 ? 0 : 2;
  if (int c = threeWay(ea.getchannel(), eb.getchannel())) return c < 0 ? 0 : 2;
  if (mapA == mapB && ea.getfilnum() == eb.getfilnum()) return 1;
  const TavSys::filref* fa = mapfilref(job, mapA, ea.getfilnum());
  const TavSys::filref* fb = mapfilref(job, mapB, eb.getfilnum());
  if (*fa == *fb) return 1;
  // Equal full paths name one file: equal, so that a later channel decides.
  const int c = fa->getFullPathAsUtf8().compare(fb->getFullPathAsUtf8());
  return c < 0 ? 0 : (c > 0 ? 2 : 1);
}

bool PictureCacheKeyLess::operator()(const PictureCacheKey& a, const PictureCacheKey& b) const {
  if (a.job != b.job) return std::less<const jobstr*>()(a.job, b.job);
  if (a.softMask != b.softMask) return a.softMask < b.softMask;
  if (a.remap != b.remap) return a.remap < b.remap;
  if (a.imageLink != b.imageLink) return a.imageLink < b.imageLink;
  if (a.map == b.map) return false;
  const bool ea = contentKeyed(a.job, a.map), eb = contentKeyed(b.job, b.map);
  if (ea && eb) return compareExternalMaps(a.job, int(a.map), int(b.map)) < 0;
  if (ea != eb) return ea;  // external maps first
  return std::int32_t(a.map) < std::int32_t(b.map);
}

// ---- cached pictures -----------------------------------------------------------------

CachedImage::CachedImage(PDFProof* w, const TavDB::Object*, std::uint16_t paintIndex, double f, bool remapFlag,
                         const SeparationRemap& remapArray, bool softMaskFlag, bool group, bool background)
    : writer(w), factor(f) {
  jobstr* job = writer->GetJob();
  const PDFSettings& s = writer->GetSettings();
  const Paint* paint = paipoi(job, paintIndex);
  map = std::uint32_t(paint->map);
  softMask = paint->transparency.softMask;
  opiMappable = !writer->IsInsideOpiForm() && writer->IsOpiMappedImage(paintIndex);
  linkType = s.LinkType;
  opiMapStatus = writer->GetOpiMapStatus(paintIndex);
  imageLinkPossible = writer->ImageLinkPossible(paintIndex);
  softMaskPossible = softMaskFlag;
  remapEngaged = remapFlag;
  if (remapFlag) remap = remapArray;
  const TavricLib::MappedPicture picture(job, int(map), factor);
  // A linked map with flat parts leaves the inks without a channel to the
  // flat part drawn over its link.
  hasOverprint = picture.HasOverprint() || writer->GetOneUpLink() ||
                 (linkType == 2 && imageLinkPossible && mapHasFlatParts(job, int(map)));
  outputAsCmyk = s.NormalizedOutput == 0 && (s.SeparatedOutput == 0 || remapEngaged) &&
                 picture.CanOutputAsCmyk(RemapArray()) && !picture.CanOutputAsSeparation(RemapArray());
  groupFlag = group;
  transparent = paintHasTransparency(job, paintIndex) || TavricLib::PaintHasAlphaIsShapeProperty(job, paintIndex);
  backgroundSoftMask = background;
}

std::int32_t CachedImage::Lines() const {
  const PictureMap* m = mappoi(writer->GetJob(), int(map));
  return m != nullptr ? m->height : 0;
}

std::int32_t CachedImage::PixelsPerLine() const {
  const PictureMap* m = mappoi(writer->GetJob(), int(map));
  return m != nullptr ? m->width : 0;
}

// ---- helpers -------------------------------------------------------------------------

const TavSys::filref* MissingPictureFile(const jobstr* job, std::uint16_t paintIndex) {
  const Paint* paint = paipoi(job, paintIndex);
  if (paint == nullptr || paint->type != kPaintMap || mappoi(job, paint->map) == nullptr) return nullptr;
  const int map = paint->map;
  const TavSys::filref* before = nullptr;
  for (int index = -1; index < sepfrejob(job); ++index) {
    const TavSys::filref* file = mapElementFile(job, map, mapelenum(job, map, index));
    if (file == nullptr || (before != nullptr && *file == *before)) continue;
    if (!isFile(file)) return file;
    before = file;
  }
  return nullptr;
}

bool PictureFilesExist(const jobstr* job, std::uint16_t paintIndex) {
  const Paint* paint = paipoi(job, paintIndex);
  if (paint == nullptr || paint->type != kPaintMap || mappoi(job, paint->map) == nullptr) return false;
  return MissingPictureFile(job, paintIndex) == nullptr;
}

double GetMaxMatrixScale(const TavDB::tv_matrixtyp<double>& m) {
  return std::max(std::hypot(m.a, m.b), std::hypot(m.c, m.d));
}

double ComputePictureDownsampleFactor(PDFProof* writer, const TavDB::Object* object) {
  jobstr* job = writer->GetJob();
  const std::uint16_t paintIndex = object->paint();
  if (writer->GetSettings().LinkType == 2 && !writer->ImageLinkPossible(paintIndex)) return 1.0;
  const Paint* paint = paipoi(job, paintIndex);
  if (paint == nullptr) return 1.0;
  TavDB::tv_matrixtyp<double> m{};
  writer->GetPictureMatrix(paint, m.a, m.b, m.c, m.d, m.e, m.f);
  std::int32_t numerator = 72, denominator = 1;
  mapres(job, paint->map, numerator, denominator);
  // The matrix places one pixel; its scale against the picture's own size
  // (72 / resolution points per pixel) is what the downsampling compares.
  const double scale = GetMaxMatrixScale(m) * (double(numerator) / denominator) / 72.0;
  if (!(scale > 0) || !std::isfinite(scale)) return 1.0;
  return writer->GetImageDownsampleFactor(numerator, denominator, scale);
}

PixelRect ComputeVisiblePixelRect(const jobstr* job, const TavDB::Object* object) {
  const Paint* paint = paipoi(job, object->paint());
  const PictureMap* map = paint != nullptr && paint->type == kPaintMap ? mappoi(job, paint->map) : nullptr;
  if (map == nullptr) return {0, 0, 0, 0};
  // Pixel (x, y) lies at origin + x W + y H, W and H the steps of one pixel
  // along the first row and the first column.
  const TavDB::tv_point o = paint->placeOrigin;
  const double wv = (double(paint->placeWidthCorner.v) - o.v) / map->width;
  const double wh = (double(paint->placeWidthCorner.h) - o.h) / map->width;
  const double hv = (double(paint->placeHeightCorner.v) - o.v) / map->height;
  const double hh = (double(paint->placeHeightCorner.h) - o.h) / map->height;
  const double det = wh * hv - wv * hh;
  if (!(std::fabs(det) > 0) || !std::isfinite(det)) return {0, 0, 0, 0};
  const TavDB::tv_box& b = object->bounds();
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  for (const auto& [v, h] : {std::pair{b.top, b.left}, {b.top, b.right}, {b.bottom, b.left}, {b.bottom, b.right}}) {
    const double dv = double(v) - o.v, dh = double(h) - o.h;
    const double x = (dh * hv - dv * hh) / det;
    const double y = (wh * dv - wv * dh) / det;
    minX = std::min(minX, x), maxX = std::max(maxX, x);
    minY = std::min(minY, y), maxY = std::max(maxY, y);
  }
  auto lower = [](double v, std::int32_t limit) { return std::int32_t(std::clamp(std::floor(v), 0.0, double(limit))); };
  auto upper = [](double v, std::int32_t limit) { return std::int32_t(std::clamp(std::ceil(v), 0.0, double(limit))); };
  return {lower(minY, map->height), lower(minX, map->width), upper(maxY, map->height), upper(maxX, map->width)};
}

// ---- the cache's operations ----------------------------------------------------------

PictureCacheKey MakePictureCacheKey(PDFProof* writer, const TavDB::Object* object, bool remap) {
  const Paint* paint = paipoi(writer->GetJob(), object->paint());
  PictureCacheKey key;
  key.job = writer->GetJob();
  key.map = paint != nullptr ? std::uint32_t(paint->map) : 0xFFFFFFFFU;
  key.softMask = paint != nullptr ? paint->transparency.softMask : kNoSoftMask;
  key.remap = remap ? 1 : 0;
  key.imageLink = writer->ImageLinkPossible(object->paint()) ? 1 : 0;
  return key;
}

void AddPictureUse(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object, bool remap,
                   const SeparationRemap& remapArray, bool softMaskPossible, bool backgroundSoftMask) {
  jobstr* job = writer->GetJob();
  std::optional<TavricLib::SeparationResetter> reset;
  if (remap) reset.emplace(job);
  const Paint* paint = paipoi(job, object->paint());
  if (paint == nullptr || paint->type != kPaintMap) return;
  const double factor = ComputePictureDownsampleFactor(writer, object);
  const PictureCacheKey key = MakePictureCacheKey(writer, object, remap);
  const PixelRect rect = ComputeVisiblePixelRect(job, object);
  auto [first, last] = cache.Entries().equal_range(key);
  for (auto it = first; it != last; ++it) {
    if (std::fabs(it->second->factor - factor) < kFactorTolerance) {
      addVisibleRect(*it->second, rect);
      return;
    }
  }
  if (!PictureFilesExist(job, object->paint()) || TavricLib::MappedPaintIsInvisible(job, paint->map, true)) return;
  auto picture = std::make_shared<CachedImage>(writer, object, object->paint(), factor, remap, remapArray,
                                               softMaskPossible, writer->IsWritingTransparencyGroup(),
                                               backgroundSoftMask);
  addVisibleRect(*picture, rect);
  cache.Entries().emplace(key, std::move(picture));
}

CachedImage* FindCachedImage(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object) {
  const PictureCacheKey key = MakePictureCacheKey(writer, object, writer->IsSoftMaskRemap());
  auto [first, last] = cache.Entries().equal_range(key);
  if (first == last) throw PDFImageException();
  const double factor = ComputePictureDownsampleFactor(writer, object);
  CachedImage* best = first->second.get();
  for (auto it = first; it != last; ++it) {
    if (std::fabs(it->second->factor - factor) < std::fabs(best->factor - factor)) best = it->second.get();
  }
  return best;
}

void MarkPictureUsed(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object) {
  auto [first, last] = cache.Entries().equal_range(MakePictureCacheKey(writer, object, writer->IsSoftMaskRemap()));
  for (auto it = first; it != last; ++it) it->second->needsWriting = it->second->drawn = true;
}

bool CachedPictureHasOverprint(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object) {
  jobstr* job = writer->GetJob();
  const Paint* paint = paipoi(job, object->paint());
  if (paint == nullptr || !PictureFilesExist(job, object->paint()) ||
      TavricLib::MappedPaintIsInvisible(job, paint->map, true)) {
    return false;
  }
  cache.BuildPictureCache(writer);
  try {
    return FindCachedImage(cache, writer, object)->hasOverprint;
  } catch (const PDFImageException&) {
    return false;
  }
}

void MappedPictureCache::BuildPictureCache(PDFProof* writer) {
  if (mBuilt) return;
  mBuilt = true;
  MappedPictureCacheVisitor visitor(writer, *this, false, SeparationRemap{}, 0);
  TavDB::AcceptVisitor(jobGetSpahan(writer->GetJob()), visitor);
  std::int32_t n = 0;
  for (auto& [key, picture] : mCache) {
    if (picture->number < 0) NumberCachedImage(*picture, n++);
  }
}

std::int64_t MappedPictureCache::CountCachedImages(PDFProof* writer, TavDB::Object* object, std::uint16_t paint) {
  jobstr* job = writer->GetJob();
  const Paint* p = paipoi(job, paint);
  if (p == nullptr || !PictureFilesExist(job, paint) || TavricLib::MappedPaintIsInvisible(job, p->map, true)) return 0;
  BuildPictureCache(writer);
  if (mCache.empty()) return 0;
  try {
    const CachedImage* picture = FindCachedImage(*this, writer, object);
    std::int64_t count = 0;
    for (const CachedSubImage& sub : picture->subImages) count += std::int64_t(sub.baseImages.size());
    return count;
  } catch (const PDFImageException&) {
    return 0;
  }
}

void MappedPictureCache::RegisterPictureUse(PDFProof* writer, TavDB::Object* object, std::uint16_t oldPaint,
                                            std::uint16_t newPaint, bool remap) {
  object->setPaint(oldPaint, true);
  const PictureCacheKey from = MakePictureCacheKey(writer, object, remap);
  object->setPaint(newPaint, true);
  auto [first, last] = mCache.equal_range(from);
  if (first == last) return;
  const PictureCacheKey to = MakePictureCacheKey(writer, object, remap);
  if (mCache.count(to) != 0) return;
  const Paint* paint = paipoi(writer->GetJob(), newPaint);
  if (paint == nullptr || paint->type != kPaintMap) return;
  std::vector<std::shared_ptr<CachedImage>> moved;
  for (auto it = first; it != last; ++it) moved.push_back(it->second);
  for (const std::shared_ptr<CachedImage>& picture : moved) {
    picture->map = std::uint32_t(paint->map);
    picture->softMask = paint->transparency.softMask;
    picture->imageLinkPossible = writer->ImageLinkPossible(newPaint);
    mCache.emplace(to, picture);
  }
}

// ---- OPI queries of the page writer ------------------------------------------------------

namespace {

std::uint8_t percentOf(const jobstr* job, int colour, int sep) {
  const std::uint8_t* p = colsep(job, colour);
  return p != nullptr ? p[sep] : kPercentUntouched;
}

const MapChannel* mapChannelOf(const PictureMap& map, int sep) {
  for (const MapChannel& c : map.channels)
    if (c.separation == sep) return &c;
  return nullptr;
}

std::optional<TavSys::PixelHeader> fileHeader(const TavSys::filref* file) {
  if (!isFile(file)) return std::nullopt;
  try {
    return TavSys::pixreatyp(file->getFullPathAsUtf8()).header();
  } catch (const TavSys::Error&) {
    return std::nullopt;
  }
}

}  // namespace

int PDFProof::GetOpiMapStatus(std::uint16_t paintIndex) const {
  const Paint* paint = paipoi(mJob, paintIndex);
  const PictureMap* map = paint != nullptr && paint->type == kPaintMap ? mappoi(mJob, paint->map) : nullptr;
  if (mSettings.LinkType != 1 || map == nullptr || map->internal) return 64;
  const TavSys::filref* file = nullptr;
  for (int s = 0; s < sepfrejob(mJob) && file == nullptr; ++s) {
    if (sepsoruse(mJob, s, false) >= 0) file = mapElementFile(mJob, paint->map, mapelenum(mJob, paint->map, s));
  }
  const std::optional<TavSys::PixelHeader> header = fileHeader(file);
  if (!header) return 1;
  // A process file whose channels do not feed the process inks in their
  // own order has no default mapping.
  bool spot = false, process = false;
  for (const MapChannel& c : map->channels) {
    const int k = sepiscmyk(mJob, c.separation);
    (k >= 0 ? process : spot) = true;
    if (header->model == TavSys::kPixelCMYK && k >= 0 && k != c.channel) return 3;
  }
  switch (header->model) {
    case TavSys::kPixelCMYK:
    case TavSys::kPixelRGB:
      if (softmaskHasCompatibleAlphaChannel(mJob, paintIndex)) return 0;
      return spot ? 2 : 1;
    case TavSys::kPixelMultichannel: return process ? 1 : 0;
    default: return 1;
  }
}

bool PDFProof::IsOpiMappedImage(std::uint16_t paintIndex) const {
  const Paint* paint = paipoi(mJob, paintIndex);
  const PictureMap* map = paint != nullptr && paint->type == kPaintMap ? mappoi(mJob, paint->map) : nullptr;
  // A map whose opaque ink knocks out pixel by pixel is written with its
  // pixels: the linked file knows nothing of the knockout.
  if (mSettings.LinkType != 1 || map == nullptr || map->internal || map->noOpi || map->opaqueKnockout >= 0) {
    return false;
  }
  int file = -1, channels = 0;
  int flatValue = -1, channelValue = -1;
  for (int s = 0; s < sepfrejob(mJob); ++s) {
    if (sepsoruse(mJob, s, false) < 0) continue;
    const std::uint8_t mix = percentOf(mJob, map->colour2, s);
    if (mix != 0 && mix != kPercentUntouched) return false;
    // An untouched map colour prints a channel as it is: as 100 %.
    const MapChannel* c = mapChannelOf(*map, s);
    const std::uint8_t value = percentOf(mJob, map->colour1, s);
    if (c == nullptr) {
      if (flatValue >= 0 && flatValue != value) return false;
      flatValue = value;
      continue;
    }
    const int scaled = value == kPercentUntouched ? 100 : value;
    if ((file >= 0 && file != c->file) || (channelValue >= 0 && channelValue != scaled)) return false;
    file = c->file;
    channelValue = scaled;
    ++channels;
  }
  if (flatValue > 0 && flatValue != kPercentUntouched) return false;
  if (channels == 0) return false;
  const std::optional<TavSys::PixelHeader> header = fileHeader(mapfilref(mJob, paint->map, file));
  if (!header) return false;
  if (paint->transparency.softMask != kNoSoftMask && !softmaskHasCompatibleAlphaChannel(mJob, paintIndex)) return false;
  if (channels == 1) return header->channels == 1;
  return channelValue == 100 && GetOpiMapStatus(paintIndex) != 3;
}

}  // namespace TavPDF

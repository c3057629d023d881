#include "pagewriter/mapcopintgen.h"

#include <array>
#include <memory>

#include "pagewriter/genproof.h"
#include "platform/kernel/colorspace.h"

mapcopintgen::mapcopintgen(genproof* walker, jobstr* job, const Paint& record, ColorSpace* a, ColorSpace* b)
    : ctouttyp(job, record.map, 100000000, 100000000, 0, 0, 300, 1), mWalker(walker), mRecord(record) {
  SetColorSpaceA(a);
  SetColorSpaceB(b);
}

TavDB::tv_matrixtyp<double> mapcopintgen::BeginTile(TavDB::Object* object) {
  mWalker->SaveGraphicsState();
  mWalker->OutputShape(object, genproof::kModeClipOutline);
  const PictureMap* map = mappoi(mJob, mRecord.map);
  TavDB::tv_matrixtyp<double> m =
      mWalker->PlacementMatrix(mRecord, map != nullptr ? map->width : 0, map != nullptr ? map->height : 0);
  // The tile's first pixel is the border pixel before (t1, t2).
  const double column = double(t1) + t3 - 1, row = double(t2) + t4 - 1;
  m.e += column * m.a - row * m.c;
  m.f += column * m.b - row * m.d;
  return m;
}

proofimghan* mapcopintgen::BeginColorTile(TavDB::Object* object, std::int32_t rows, std::int32_t columns,
                                          double, double, double, double) {
  const TavDB::tv_matrixtyp<double> m = BeginTile(object);
  ColorSpace* a = GetColorSpaceA();
  ColorSpace* b = GetColorSpaceB();
  if (b != nullptr && !b->IsEmpty()) {
    std::array<std::uint16_t, kMaxSeparations> tints = colsep16(mJob, 0);
    mWalker->WriteColorSpaceColor(b, tints.data(), 1, 0);
  }
  if (a != nullptr && a->IsEmpty()) return nullptr;
  const PictureMap* map = mappoi(mJob, mRecord.map);
  const int resolution = map != nullptr ? int(map->resolution + 0.5) : 72;
  const int channels = a != nullptr ? int(ImageComponentSeparations(mJob, *a).size()) : 4;
  return mWalker->OutputPictureDownsampled(nullptr, &mRecord, m, resolution, 1, t1, t2, rows + 2, columns + 2,
                                           channels, a != nullptr ? 8 : 5, nullptr, false, a);
}

proofimghan* mapcopintgen::BeginMaskTile(TavDB::Object* object, std::int32_t rows, std::int32_t columns,
                                         double, double, double, double) {
  const TavDB::tv_matrixtyp<double> m = BeginTile(object);
  const PictureMap* map = mappoi(mJob, mRecord.map);
  const int resolution = map != nullptr ? int(map->resolution + 0.5) : 72;
  return mWalker->OutputPictureDownsampled(nullptr, &mRecord, m, resolution, 1, t1, t2, rows + 2, columns + 2,
                                           1, 1, nullptr, false, nullptr);
}

void mapcopintgen::EndTile(proofimghan* handler) {
  mWalker->EndImage(handler);
  mWalker->RestoreGraphicsState();
}

int mapcopintgen::TileRow(proofimghan* handler, const std::uint8_t* row, int width, int channels) {
  return mWalker->WriteImageRow(handler, row, width, channels);
}

bool mapcopintgen::SoftMasksSupported() { return mWalker->SupportsSoftMask(); }

namespace {

// The map's composite space: the inks of its first colour and every used ink
// its second colour gives a share.
std::unique_ptr<ColorSpace> compositeSpace(genproof* walker, jobstr* job, const PictureMap& map) {
  std::array<std::uint16_t, kMaxSeparations> c1 = colsep16(job, map.colour1);
  std::array<std::uint16_t, kMaxSeparations> c2 = colsep16(job, map.colour2);
  std::unique_ptr<ColorSpace> space(
      walker->GetSeparationColorSpace(c1.data(), 0, kTintFull, true, false, false, false, false));
  if (!space) return nullptr;
  for (int sep = 0; sep < kMaxSeparations; ++sep) {
    if ((sepisused(job, sep) & kSepUsed) != 0 && c2[std::size_t(sep)] != kTintUndefined && c2[std::size_t(sep)] > 0) {
      space->SetSeparationUse(sep, true);
    }
  }
  return space;
}

}  // namespace

int RunMapCopy(genproof* walker, jobstr* job, int mapIndex, int separation, const Paint& record,
               TavDB::Object* object, TavDB::Object* clip, int i1, int i2, int i3, double d1, double d2,
               double d3, double d4) {
  const PictureMap* map = mappoi(job, mapIndex);
  if (walker == nullptr || map == nullptr) return 0;
  if (separation < 0 && walker->IsCompositeOutput()) separation = -2;
  TavDB::Object* clipOrObject = clip != nullptr ? clip : object;
  std::unique_ptr<ColorSpace> a, b;
  if (walker->SupportsDeviceN()) {
    if (separation == -2) {
      std::unique_ptr<ColorSpace> space = compositeSpace(walker, job, *map);
      if (!space) return 0;
      const int parts = space->pdfGetNumParts();
      for (int p = 0; p < parts; ++p) {
        // Each part is rendered on its own, with the part as the image space.
        std::unique_ptr<CsMasked> part(space->pdfGetPart(p));
        if (!part) continue;
        mapcopintgen bridge(walker, job, record, part.get(), nullptr);
        const int result = bridge.mapcopint(job, mapIndex, -2, object, clipOrObject, i1, i2, i3, d1, d2, d3, d4);
        if (result != 0) return result;
      }
      return 0;
    }
    std::array<std::uint16_t, kMaxSeparations> c1 = colsep16(job, map->colour1);
    std::array<std::uint16_t, kMaxSeparations> c2 = colsep16(job, map->colour2);
    a.reset(walker->GetSeparationColorSpace(c1.data(), 1, kTintFull, true, false, false, false, false));
    CsDeviceN::Options options;
    options.maxColorants = int(walker->GetMaxColorants());
    std::shared_ptr<seppdftyp> data;
    if (auto d = walker->GetSeparationPdf()) data = *d;
    CsDeviceN second(job, c2.data(), 1, kTintFull, options, data);
    if (a) a->Unite(second);
    b.reset(walker->GetSeparationColorSpace(c1.data(), 0, 0, true, false, false, false, false));
    if (b && a) b->Unite(*a);
  }
  mapcopintgen bridge(walker, job, record, a.get(), b.get());
  return bridge.mapcopint(job, mapIndex, separation, object, clipOrObject, i1, i2, i3, d1, d2, d3, d4);
}

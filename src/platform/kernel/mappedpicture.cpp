#include "platform/kernel/mappedpicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

// Percentage of a colour for a slot; 255 (untouched) when the colour is not
// defined.
std::uint8_t pct(const jobstr* job, int colour, int sep) {
  const std::uint8_t* p = colsep(job, colour);
  return p != nullptr ? p[sep] : kPercentUntouched;
}

const MapChannel* channelOf(const PictureMap& map, int sep) {
  for (const MapChannel& c : map.channels)
    if (c.separation == sep) return &c;
  return nullptr;
}

bool darkIsInk(int model) {
  return model == TavSys::kPixelGray || model == TavSys::kPixelBitmap || model == TavSys::kPixelRGB;
}

std::uint8_t toByte(double v) { return std::uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

}  // namespace

// ---- elements ------------------------------------------------------------------------

Map_Element::Map_Element(const jobstr* job, int map, int element) {
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr || element < 0) return;
  const std::size_t n = m->channels.size();
  if (std::size_t(element) < n) {
    const MapChannel& c = m->channels[std::size_t(element)];
    mFile = c.file;
    mChannel = c.channel;
    mSeparation = c.separation;
  } else if (std::size_t(element) == n && m->opacityFile >= 0) {
    mFile = m->opacityFile;
    mChannel = m->opacityChannel;
  }
}

int mapelenum(const jobstr* job, int map, int index) {
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr) return -1;
  if (index < 0) return m->opacityFile >= 0 ? int(m->channels.size()) : -1;
  for (std::size_t k = 0; k < m->channels.size(); ++k)
    if (m->channels[k].separation == index) return int(k);
  return -1;
}

const TavSys::filref* mapElementFile(const jobstr* job, int map, int element) {
  const Map_Element e(job, map, element);
  return e.exists() ? mapfilref(job, map, e.getfilnum()) : nullptr;
}

int mapGetChannelCount(const jobstr* job, int map) {
  const PictureMap* m = mappoi(job, map);
  return m != nullptr ? int(m->channels.size()) : 0;
}

const TavSys::filref* mapGetFirstImageRef(const jobstr* job, int map) { return mapfilref(job, map, 0); }

bool mapElenumIsTransparency(const jobstr* job, int map, int element) {
  return element >= 0 && element == mapelenum(job, map, -1);
}

void mapres(const jobstr* job, int map, std::int32_t& numerator, std::int32_t& denominator) {
  numerator = 72;
  denominator = 1;
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr || !(m->resolution > 0)) return;
  // Whole resolutions stay whole; others keep three decimals.
  const double r = std::min(m->resolution, 1.0e6);
  if (r == std::floor(r)) {
    numerator = std::int32_t(r);
  } else {
    numerator = std::int32_t(std::lround(r * 1000));
    denominator = 1000;
  }
}

bool mapHasFlatParts(const jobstr* job, int map) {
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr) return false;
  for (int s = 0; s < sepfrejob(job); ++s)
    if (channelOf(*m, s) == nullptr && pct(job, m->colour1, s) != kPercentUntouched) return true;
  return false;
}

std::pair<int, int> mapGetFlatPart(jobstr* job, int map) {
  if (!mapHasFlatParts(job, map)) return {0, 0};
  const PictureMap* m = mappoi(job, map);
  std::array<std::uint16_t, kMaxSeparations> tints = colsep16(job, m->colour1);
  const bool knocksOut = !TavricLib::MappedPicture(job, map).HasOverprint();
  for (int s = 0; s < kMaxSeparations; ++s) {
    if (channelOf(*m, s) != nullptr) {
      tints[std::size_t(s)] = kTintUndefined;
    } else if (knocksOut && tints[std::size_t(s)] == kTintUndefined && sepsoruse(job, s, true) >= 0) {
      tints[std::size_t(s)] = 0;
    }
  }
  return {0, painewflat16(job, tints.data())};
}

bool mapCanOuputAsOneBit(const jobstr* job, int map) {
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr) return false;
  auto zeroOrFull = [](double v) { return v == 0.0 || v == 1.0; };
  for (int s = 0; s < sepfrejob(job); ++s) {
    const TavricLib::MapInk ink = TavricLib::GetMapInk(job, map, s);
    if (ink.painted && !(zeroOrFull(ink.low) && zeroOrFull(ink.high))) return false;
  }
  return true;
}

// ---- soft masks ----------------------------------------------------------------------

bool mapChannelTypeIsTransparentBackground(int type) { return type == kMapChannelTransparentBackground; }

const TavDB::Object* paintGetFirstSoftmaskObjectFromRef(const jobstr* job, int pattern) {
  const PatternRec* p = patpoi(job, pattern);
  if (p == nullptr || p->kind != PatternRec::kSoftMask || !p->objects || p->objects->memberCount() == 0) {
    return nullptr;
  }
  return p->objects->member(0);
}

std::uint32_t maskGetFlags(const jobstr* job, int pattern) {
  const PatternRec* p = patpoi(job, pattern);
  return p != nullptr ? p->maskFlags : 0;
}

bool CanOutputAsSoftmaskImage(const jobstr* job, const TavDB::Object*, int paint, int* channelType) {
  if (channelType != nullptr) *channelType = kMapChannelNone;
  const Paint* p = paipoi(job, paint);
  if (p == nullptr || p->transparency.softMask == kNoSoftMask) return false;
  const TavDB::Object* first = paintGetFirstSoftmaskObjectFromRef(job, p->transparency.softMask);
  const Paint* maskPaint = first != nullptr ? paipoi(job, first->paint()) : nullptr;
  if (maskPaint == nullptr || maskPaint->type != kPaintMap || mappoi(job, maskPaint->map) == nullptr) return false;
  // The mask picture becomes the image's own mask: it must lie where the picture lies.
  if (p->type != kPaintMap || !(maskPaint->placeOrigin == p->placeOrigin) ||
      !(maskPaint->placeWidthCorner == p->placeWidthCorner) || !(maskPaint->placeHeightCorner == p->placeHeightCorner)) {
    return false;
  }
  if (channelType != nullptr) {
    *channelType = maphasopa(job, maskPaint->map) ? kMapChannelTransparentBackground : kMapChannelGray;
  }
  return true;
}

bool softmaskHasCompatibleAlphaChannel(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  const PictureMap* m = p != nullptr && p->type == kPaintMap ? mappoi(job, p->map) : nullptr;
  if (m == nullptr || m->opacityFile < 0 || m->channels.empty()) return false;
  return std::all_of(m->channels.begin(), m->channels.end(),
                     [&](const MapChannel& c) { return c.file == m->opacityFile; });
}

namespace {

void markColour(const jobstr* job, int colour, SeparationRemap& used) {
  const std::uint8_t* p = colsep(job, colour);
  if (p == nullptr) return;
  for (int s = 0; s < kMaxSeparations; ++s)
    if (p[s] != kPercentUntouched && p[s] != 0) used[std::size_t(s)] = 1;
}

void markPaint(const jobstr* job, int paint, SeparationRemap& used) {
  const Paint* p = paipoi(job, paint);
  if (p == nullptr) return;
  switch (p->type) {
    case kPaintFlat: markColour(job, p->colour, used); break;
    case kPaintLinear:
    case kPaintRadial:
      markColour(job, p->colour, used);
      markColour(job, p->colour2, used);
      break;
    case kPaintGradation:
      for (const GradationStep& step : p->steps) markColour(job, step.colour, used);
      break;
    case kPaintPicture:
      if (const Picture* pic = picpoi(job, p->picture))
        for (int s = 0; s < kMaxSeparations; ++s)
          if (pic->seps.test(std::size_t(s))) used[std::size_t(s)] = 1;
      break;
    case kPaintMap:
      for (int s = 0; s < kMaxSeparations; ++s)
        if (TavricLib::GetMapInk(job, p->map, s).painted) used[std::size_t(s)] = 1;
      break;
    default: break;
  }
}

void searchUsed(const jobstr* job, const TavDB::Object* o, std::uint32_t excluded, SeparationRemap& used,
                int depth) {
  if (o == nullptr || depth > 64 || (o->flags() & excluded) != 0) return;
  markPaint(job, o->paint(), used);
  if (const TavDB::Stroke* s = o->stroke(); s != nullptr && s->width > 0) markPaint(job, s->paint, used);
  if (const TavDB::TextData* t = o->text())
    for (const TavDB::TextRun& r : t->runs) markPaint(job, r.paint, used);
  for (const auto& m : o->members()) searchUsed(job, m.get(), excluded, used, depth + 1);
}

}  // namespace

void VisitorSearchUsedSeparations(const jobstr* job, const TavDB::Object* object, std::uint32_t excluded,
                                  SeparationRemap& used) {
  used.fill(0);
  searchUsed(job, object, excluded, used, 0);
}

bool paintVornImageLinkPossible(const jobstr* job, int paint, bool oneUpLink, bool privateData) {
  const Paint* p = paipoi(job, paint);
  if (p == nullptr || oneUpLink || !privateData) return false;
  if (p->type == kPaintMap) {
    // A map whose opaque ink knocks out the lower inks pixel by pixel is
    // written with its pixels: a linked file knows nothing of it.
    const PictureMap* m = mappoi(job, p->map);
    return m != nullptr && !mapisint(job, p->map) && m->opaqueKnockout < 0;
  }
  return p->type == kPaintPicture && picpoi(job, p->picture) != nullptr && !picisvectorformat(job, p->picture);
}

namespace TavricLib {

// ---- separation states ---------------------------------------------------------------

SeparationResetter::SeparationResetter(jobstr* job) : mJob(job) {
  if (mJob == nullptr) return;
  for (int s = 0; s < kMaxSeparations; ++s) mEnabled[std::size_t(s)] = mJob->separations[std::size_t(s)].enabled;
  sepEnableAll(mJob);
}

SeparationResetter::~SeparationResetter() {
  if (mJob == nullptr) return;
  for (int s = 0; s < kMaxSeparations; ++s) mJob->separations[std::size_t(s)].enabled = mEnabled[std::size_t(s)];
}

// ---- lists ---------------------------------------------------------------------------

bool IsSingleSeparation(const std::vector<int>& list) { return list.size() == 1; }

bool HasAllCmykComponents(const jobstr* job, const std::vector<int>& list) {
  for (int k = 0; k < 4; ++k) {
    const int sep = sepgetcmyk(job, k);
    if (sep < 0 || std::find(list.begin(), list.end(), sep) == list.end()) return false;
  }
  return true;
}

bool IsCmyk(const jobstr* job, const std::vector<int>& list) {
  return list.size() == 4 && HasAllCmykComponents(job, list);
}

std::vector<int> SubstractSeparationLists(const std::vector<int>& a, const std::vector<int>& b) {
  std::vector<int> out;
  for (int s : a)
    if (std::find(b.begin(), b.end(), s) == b.end()) out.push_back(s);
  return out;
}

// ---- how a map paints ----------------------------------------------------------------

MapInk GetMapInk(const jobstr* job, int map, int sep) {
  MapInk ink;
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr || sep < 0 || sep >= kMaxSeparations) return ink;
  const std::uint8_t c1 = pct(job, m->colour1, sep);
  const std::uint8_t c2 = pct(job, m->colour2, sep);
  if (const MapChannel* c = channelOf(*m, sep)) {
    ink.file = c->file;
    ink.channel = c->channel;
    ink.high = c1 == kPercentUntouched ? 1.0 : std::min<int>(c1, 100) / 100.0;
    ink.low = c2 == kPercentUntouched ? 0.0 : std::min<int>(c2, 100) / 100.0;
    ink.painted = true;
  } else if (c1 != kPercentUntouched) {
    ink.low = ink.high = std::min<int>(c1, 100) / 100.0;
    ink.painted = true;
  }
  return ink;
}

bool PaintHasAlphaIsShapeProperty(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p != nullptr && (p->transparency.flags & 1U) != 0;
}

bool MappedPaintIsInvisible(const jobstr* job, int map, bool knockoutIsVisible) {
  if (mappoi(job, map) == nullptr) return true;
  const bool knocksOut = knockoutIsVisible && !MappedPicture(job, map).HasOverprint();
  for (int s = 0; s < sepfrejob(job); ++s) {
    if (sepsoruse(job, s, false) < 0) continue;
    if (GetMapInk(job, map, s).painted || (knocksOut && (sepisused(job, s) & kSepUsed) != 0)) return false;
  }
  return true;
}

MappedPicture::MappedPicture(const jobstr* job, int map, double factor) : mJob(job), mMap(map), mFactor(factor) {}

bool MappedPicture::HasOverprint() const {
  const PictureMap* m = mappoi(mJob, mMap);
  return m != nullptr && colistra(mJob, m->colour1);
}

bool MappedPicture::InUse(int sep, bool enabledOnly, const SeparationRemap* remap) const {
  if (remap != nullptr) return (*remap)[std::size_t(sep)] != 0 && sepsoruse(mJob, sep, true) >= 0;
  return sepsoruse(mJob, sep, !enabledOnly) >= 0;
}

std::vector<int> MappedPicture::GetSeparations(bool paintedOnly, bool enabledOnly, const SeparationRemap* remap) const {
  std::vector<int> list;
  for (int s = 0; s < sepfrejob(mJob); ++s) {
    if (!InUse(s, enabledOnly, remap)) continue;
    const bool painted = GetMapInk(mJob, mMap, s).painted;
    if (painted || (!paintedOnly && (sepisused(mJob, s) & kSepUsed) != 0)) list.push_back(s);
  }
  return list;
}

std::uint16_t MappedPicture::SeparationOpacity(int sep) const {
  const PictureMap* m = mappoi(mJob, mMap);
  const MapChannel* c = m != nullptr ? channelOf(*m, sep) : nullptr;
  return c != nullptr ? c->opacity : kOpacityFull;
}

std::map<std::uint16_t, std::vector<int>> MappedPicture::GetSeparationListByEqualOpacity(
    bool paintedOnly, const SeparationRemap* remap) const {
  std::map<std::uint16_t, std::vector<int>> groups;
  for (int s : GetSeparations(paintedOnly, true, remap)) groups[SeparationOpacity(s)].push_back(s);
  return groups;
}

bool MappedPicture::CanOutputAsCmyk(const SeparationRemap* remap) const {
  const std::vector<int> list = GetSeparations(true, true, remap);
  return !list.empty() &&
         std::all_of(list.begin(), list.end(), [&](int s) { return sepiscmyk(mJob, s) >= 0; });
}

bool MappedPicture::CanOutputAsSeparation(const SeparationRemap* remap) const {
  return GetSeparations(true, true, remap).size() == 1;
}

int MappedPicture::FirstUsedSeparation() const {
  for (int s = 0; s < kMaxSeparations; ++s)
    if (GetMapInk(mJob, mMap, s).painted && sepsoruse(mJob, s, true) >= 0) return s;
  return -1;
}

// ---- pixel streams -------------------------------------------------------------------

TavSys::Error MapFileSizeMismatch(const TavSys::filref& file, const TavSys::PixelHeader& h, const PictureMap& map) {
  auto size = [](std::int32_t w, std::int32_t r) { return std::to_string(w) + " x " + std::to_string(r); };
  return TavSys::Error(TavSys::kResultAbandoned, "PDF/MAP FILE SIZE MISMATCH",
                       file.getNameAsUtf8() + ": " + size(h.width, h.rows) + " pixels in a map of " +
                           size(map.width, map.height))
      .with("__FILENAME__", file.getNameAsUtf8())
      .with("__FILESIZE__", size(h.width, h.rows))
      .with("__MAPSIZE__", size(map.width, map.height));
}

MappedPictureStream::MappedPictureStream(const jobstr* job, int map, std::vector<int> separations,
                                         bool stripFlatParts) {
  const PictureMap* m = mappoi(job, map);
  if (m == nullptr) return;
  mWidth = m->width;
  mHeight = m->height;
  std::vector<int> neededFiles(m->files.size(), 0);
  auto ready = [&](Plane& plane, const MapInk& ink) {
    plane.file = ink.file;
    plane.channel = ink.channel;
    for (int v = 0; v < 256; ++v) plane.table[v] = toByte(ink.low + (ink.high - ink.low) * v / 255.0);
    if (ink.file >= 0 && std::size_t(ink.file) < neededFiles.size()) {
      neededFiles[std::size_t(ink.file)] = 1;
    } else {
      plane.file = -1;
    }
  };
  // An opaque ink that knocks out the lower inks takes, at each pixel, its
  // own share off each of them, whether or not its own plane is written.
  const int opaque = m->opaqueKnockout;
  if (opaque >= 0 && std::any_of(separations.begin(), separations.end(), [&](int s) { return s >= 0 && s < opaque; })) {
    const MapInk ink = GetMapInk(job, map, opaque);
    if (ink.painted) {
      mKnockout = true;
      mOneBit = false;
      ready(mOpaque, ink);
      mOpaque.slot = opaque;
    }
  }
  for (int sep : separations) {
    Plane plane;
    plane.slot = sep;
    MapInk ink = GetMapInk(job, map, sep);
    if (ink.file < 0 && stripFlatParts) ink = MapInk{};
    ready(plane, ink);
    if (plane.file < 0 && plane.table[0] != 0 && plane.table[0] != 255) mOneBit = false;
    if (ink.file >= 0 && !((ink.low == 0 || ink.low == 1) && (ink.high == 0 || ink.high == 1))) mOneBit = false;
    mPlanes.push_back(plane);
  }
  mFiles.resize(m->files.size());
  mRows.resize(m->files.size());
  for (std::size_t f = 0; f < m->files.size(); ++f) {
    if (!neededFiles[f]) continue;
    mFiles[f] = std::make_unique<TavSys::pixreatyp>(m->files[f].getFullPathAsUtf8());
    const TavSys::PixelHeader& h = mFiles[f]->header();
    if (h.width != mWidth || h.rows != mHeight) throw MapFileSizeMismatch(m->files[f], h, *m);
    if (h.bitsPerSample != 1) mOneBit = false;
    mRows[f].resize(h.rowBytes());
  }
  std::vector<Plane*> reading;
  for (Plane& plane : mPlanes) reading.push_back(&plane);
  if (mKnockout) reading.push_back(&mOpaque);
  for (Plane* p : reading) {
    Plane& plane = *p;
    if (plane.file < 0) continue;
    const TavSys::PixelHeader& h = mFiles[std::size_t(plane.file)]->header();
    if (plane.channel >= h.channels) {
      throw TavSys::Error(TavSys::kResultAbandoned, "PDF/UNSUPPORTED PICTURE TYPE",
                          "the map names channel " + std::to_string(plane.channel) + " of a file with " +
                              std::to_string(h.channels))
          .with("__FILENAME__", m->files[std::size_t(plane.file)].getNameAsUtf8());
    }
    plane.darkIsInk = darkIsInk(h.model);
  }
  // The common case: a file's channels taken as they stand, in order.
  mWholeRows = !mPlanes.empty();
  for (std::size_t p = 0; p < mPlanes.size(); ++p) {
    Plane& plane = mPlanes[p];
    plane.identity = !plane.darkIsInk;
    for (int v = 0; v < 256 && plane.identity; ++v) plane.identity = plane.table[v] == v;
    mWholeRows = mWholeRows && plane.identity && plane.file == mPlanes.front().file && plane.channel == int(p);
  }
  mWholeRows = mWholeRows && !mKnockout && mPlanes.front().file >= 0 &&
               mFiles[std::size_t(mPlanes.front().file)]->header().channels == int(mPlanes.size());
}

MappedPictureStream::~MappedPictureStream() = default;

bool MappedPictureStream::IsOneBit() const { return mOneBit; }

bool MappedPictureStream::GetLine(std::uint8_t* row) {
  if (mNext >= mHeight) return false;
  for (std::size_t f = 0; f < mFiles.size(); ++f)
    if (mFiles[f]) mFiles[f]->readRow(mRows[f].data());
  ++mNext;
  const std::size_t planes = mPlanes.size();
  if (mWholeRows) {
    const std::vector<std::uint8_t>& in = mRows[std::size_t(mPlanes.front().file)];
    std::memcpy(row, in.data(), in.size());
    return true;
  }
  // The ink at a pixel of a plane.
  auto sample = [&](const Plane& plane, std::int32_t x) -> std::uint8_t {
    if (plane.file < 0) return plane.table[0];
    const std::vector<std::uint8_t>& in = mRows[std::size_t(plane.file)];
    const std::uint8_t v = in[std::size_t(x) * (in.size() / std::size_t(mWidth)) + std::size_t(plane.channel)];
    return plane.table[plane.darkIsInk ? 255 - v : v];
  };
  for (std::size_t p = 0; p < planes; ++p) {
    const Plane& plane = mPlanes[p];
    if (plane.file < 0) {
      for (std::int32_t x = 0; x < mWidth; ++x) row[std::size_t(x) * planes + p] = plane.table[0];
      continue;
    }
    const std::vector<std::uint8_t>& in = mRows[std::size_t(plane.file)];
    const std::size_t channels = in.size() / std::size_t(mWidth);
    const std::uint8_t* s = in.data() + plane.channel;
    std::uint8_t* out = row + p;
    if (plane.identity) {
      for (std::int32_t x = 0; x < mWidth; ++x, s += channels, out += planes) *out = *s;
    } else {
      for (std::int32_t x = 0; x < mWidth; ++x, s += channels, out += planes) {
        *out = plane.table[plane.darkIsInk ? 255 - *s : *s];
      }
    }
  }
  if (mKnockout) {
    for (std::int32_t x = 0; x < mWidth; ++x) {
      const unsigned keep = 255U - sample(mOpaque, x);
      std::uint8_t* px = row + std::size_t(x) * planes;
      for (std::size_t p = 0; p < planes; ++p) {
        if (mPlanes[p].slot >= 0 && mPlanes[p].slot < mOpaque.slot) px[p] = std::uint8_t((px[p] * keep + 127U) / 255U);
      }
    }
  }
  return true;
}

OpacityPictureStream::OpacityPictureStream(const jobstr* job, int map, std::uint16_t opacity) {
  mapres(job, map, mNumerator, mDenominator);
  const PictureMap* m = mappoi(job, map);
  const double share = std::min(opacity, kOpacityFull) / double(kOpacityFull);
  for (int v = 0; v < 256; ++v) mTable[v] = toByte(v / 255.0 * share);
  if (m == nullptr || m->opacityFile < 0 || std::size_t(m->opacityFile) >= m->files.size()) return;
  const TavSys::filref& file = m->files[std::size_t(m->opacityFile)];
  mReader = std::make_unique<TavSys::pixreatyp>(file.getFullPathAsUtf8());
  const TavSys::PixelHeader& h = mReader->header();
  if (h.width != m->width || h.rows != m->height) throw MapFileSizeMismatch(file, h, *m);
  if (m->opacityChannel >= h.channels) {
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/UNSUPPORTED PICTURE TYPE",
                        "the map's opacity channel " + std::to_string(m->opacityChannel) + " is not in a file with " +
                            std::to_string(h.channels))
        .with("__FILENAME__", file.getNameAsUtf8());
  }
  mWidth = m->width;
  mHeight = m->height;
  mChannel = m->opacityChannel;
  mRow.resize(h.rowBytes());
}

bool OpacityPictureStream::GetLine(std::uint8_t* row) {
  if (!mReader || mNext >= mHeight) return false;
  mReader->readRow(mRow.data());
  ++mNext;
  const std::size_t channels = mRow.size() / std::size_t(mWidth);
  for (std::int32_t x = 0; x < mWidth; ++x) row[x] = mTable[mRow[std::size_t(x) * channels + std::size_t(mChannel)]];
  return true;
}

}  // namespace TavricLib

#pragma once
// The kernel's picture maps (paint type 7): which inks a map paints and how,
// the split of its inks for images, and image streams of its pixels.
//
// How a map paints an ink s (percentages of the map's colour c1 and of its
// mixing colour c2; see docs/job-format.md):
//   - s has a channel: the channel's ink amount v (0..1) gives the tint
//     c2 + (c1 - c2) v, where an untouched c1 counts as 100 and an untouched
//     (or absent) c2 as 0; so a map whose colours leave the channel inks
//     untouched prints its channels as they are;
//   - s has no channel: an untouched c1 leaves s alone (the map does not
//     paint it); any other value is a flat tint of s over the whole map.
// A channel read from a gray, bitmap or RGB file counts its darkness as ink
// (255 - value), one read from a CMYK or multichannel file its value; the
// opacity channel's value is the opacity (255 opaque), scaled by the ink's
// channel opacity.
//
// Separation lists are slots in the job's order. A remapping array (64
// entries, non-zero = in use) stands for the job's separations in use while
// a map is written for a soft mask whose objects use other inks.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/imagestream.h"
#include "platform/kernel/job.h"
#include "platform/pixelreader.h"

using SeparationRemap = std::array<std::int32_t, kMaxSeparations>;

// One element of a map: a channel of one of its files. Element numbers:
// 0 .. channels - 1 for the ink channels in the map's order, then the
// opacity channel.
class Map_Element {
 public:
  Map_Element(const jobstr* job, int map, int element);
  bool exists() const { return mFile >= 0; }
  int getfilnum() const { return mFile; }
  int getchannel() const { return mChannel; }
  // The slot the element feeds, -1 for the opacity channel.
  int getseparation() const { return mSeparation; }

 private:
  int mFile = -1, mChannel = 0, mSeparation = -1;
};

// The element of slot `index`, or of the opacity channel for index -1; -1
// when there is none.
int mapelenum(const jobstr* job, int map, int index);
// The file of an element, or null.
const TavSys::filref* mapElementFile(const jobstr* job, int map, int element);
// Number of ink channels of the map.
int mapGetChannelCount(const jobstr* job, int map);
// The first file of the map, or null.
const TavSys::filref* mapGetFirstImageRef(const jobstr* job, int map);
// Whether the element is the opacity channel.
bool mapElenumIsTransparency(const jobstr* job, int map, int element);
// The resolution as a ratio numerator / denominator pixels per inch.
void mapres(const jobstr* job, int map, std::int32_t& numerator, std::int32_t& denominator);
// Whether every ink the map paints takes only 0 or 100 % (1-bit files, no
// scaling by the map's colours).
bool mapCanOuputAsOneBit(const jobstr* job, int map);
// Whether the map paints inks without a channel (flat tints).
bool mapHasFlatParts(const jobstr* job, int map);

// The flat parts of a map that an image link draws beside its image, as
// (below, above), 0 where there is none: the inks the map paints without a
// channel, as a new flat paint at the map's tints that leaves the channel
// inks untouched (so it overprints the image); a knocking-out map also
// clears the inks its colour leaves untouched. An image link's image holds
// only the channel inks, and a map with flat parts is linked with overprint,
// so that the image leaves every other ink to the flat part (which the
// map's opacity channel masks as it masks the image). The flat part goes
// above the image.
std::pair<int, int> mapGetFlatPart(jobstr* job, int map);

// Soft masks drawn from a picture: channel types of CanOutputAsSoftmaskImage.
enum MapChannelType : int { kMapChannelNone = 0, kMapChannelGray = 1, kMapChannelTransparentBackground = 2 };
bool mapChannelTypeIsTransparentBackground(int type);
// The first object of a soft-mask pattern, or null.
const TavDB::Object* paintGetFirstSoftmaskObjectFromRef(const jobstr* job, int pattern);
// The flags of a soft-mask pattern (bit 2 luminosity, bit 4 inverted).
std::uint32_t maskGetFlags(const jobstr* job, int pattern);
// Whether the object's soft mask can be written as one soft-mask image: its
// pattern's first object is painted with a map placed where the paint's map
// lies. channelType: kMapChannelGray, or kMapChannelTransparentBackground when
// that map has an opacity channel.
bool CanOutputAsSoftmaskImage(const jobstr* job, const TavDB::Object* object, int paint, int* channelType);
// Whether the map of a paint with a soft mask carries an opacity channel in
// the file of its ink channels (an OPI picture holding its own mask).
bool softmaskHasCompatibleAlphaChannel(const jobstr* job, int paint);

// The slots an object (and the objects below it) puts ink on, as a remapping
// array (1 = used); objects carrying a flag of `excluded` are left out.
void VisitorSearchUsedSeparations(const jobstr* job, const TavDB::Object* object, std::uint32_t excluded,
                                  SeparationRemap& used);

// Whether a paint can be written as an image link (a link to its picture
// that a later step of the workflow resolves): a pixel picture or an
// external map, with the workflow's private data written and the paint not
// inside a one-up linked by its separations.
bool paintVornImageLinkPossible(const jobstr* job, int paint, bool oneUpLink, bool privateData);

namespace TavricLib {

// Every separation of the job enabled (the per-writer separation states
// cleared) while it lives; the states come back on destruction.
class SeparationResetter {
 public:
  explicit SeparationResetter(jobstr* job);
  ~SeparationResetter();
  SeparationResetter(const SeparationResetter&) = delete;
  SeparationResetter& operator=(const SeparationResetter&) = delete;

 private:
  jobstr* mJob;
  std::array<bool, kMaxSeparations> mEnabled{};
};

// The paint's transparency takes its alpha as shape (flag bit 0).
bool PaintHasAlphaIsShapeProperty(const jobstr* job, int paint);

// A map paints none of the enabled separations in use; with
// knockoutIsVisible a map that knocks out (does not overprint) is visible
// wherever an enabled ink is in use, as it clears that ink's plate.
bool MappedPaintIsInvisible(const jobstr* job, int map, bool knockoutIsVisible);

bool IsSingleSeparation(const std::vector<int>& list);
// Exactly the job's four process inks, in any order.
bool IsCmyk(const jobstr* job, const std::vector<int>& list);
bool HasAllCmykComponents(const jobstr* job, const std::vector<int>& list);
// a without the separations of b, in a's order.
std::vector<int> SubstractSeparationLists(const std::vector<int>& a, const std::vector<int>& b);

class MappedPicture {
 public:
  MappedPicture(const jobstr* job, int map, double factor = 1.0);
  // The map leaves the inks it does not paint as they are (its colour
  // overprints); otherwise it knocks them out.
  bool HasOverprint() const;
  // The map paints process inks only (some at least).
  bool CanOutputAsCmyk(const SeparationRemap* remap) const;
  // The map paints exactly one separation.
  bool CanOutputAsSeparation(const SeparationRemap* remap) const;
  // The separations in use: with paintedOnly those the map paints, else
  // every ink in use (the others are written empty, knocking out); with
  // enabledOnly only the enabled ones.
  std::vector<int> GetSeparations(bool paintedOnly, bool enabledOnly, const SeparationRemap* remap) const;
  // The same (enabled separations) grouped by their channel opacity (25600
  // = 100 %), lowest first.
  std::map<std::uint16_t, std::vector<int>> GetSeparationListByEqualOpacity(bool paintedOnly,
                                                                           const SeparationRemap* remap) const;
  // The first slot 0..63 the map paints, or -1.
  int FirstUsedSeparation() const;
  // The opacity (25600 scale) of the separation's channel.
  std::uint16_t SeparationOpacity(int sep) const;
  double GetFactor() const { return mFactor; }

 private:
  bool InUse(int sep, bool enabledOnly, const SeparationRemap* remap) const;
  const jobstr* mJob;
  int mMap;
  double mFactor;
};

// How a map paints one ink (see the header comment).
struct MapInk {
  int file = -1;          // channel's file, -1: a flat tint
  int channel = 0;
  double low = 0, high = 0;  // tint (0..1) at channel 0 and at full channel
  bool painted = false;
};
MapInk GetMapInk(const jobstr* job, int map, int sep);

// The map's pixels as ink planes, one per separation of the list (0 none,
// 255 full), at the map's size. stripFlatParts leaves the flat tints out
// (their inks come out empty). A map with an opaque ink that knocks out
// (PictureMap::opaqueKnockout) takes, at each pixel, that ink's share off
// the planes of lower slots.
// The error of a map file whose pixels are not the map's ("PDF/MAP FILE
// SIZE MISMATCH", naming the file and both sizes).
TavSys::Error MapFileSizeMismatch(const TavSys::filref& file, const TavSys::PixelHeader& header,
                                  const PictureMap& map);

class MappedPictureStream : public TavSys::ImageStream {
 public:
  MappedPictureStream(const jobstr* job, int map, std::vector<int> separations, bool stripFlatParts);
  ~MappedPictureStream() override;
  std::int32_t GetWidth() const override { return mWidth; }
  std::int32_t GetHeight() const override { return mHeight; }
  int GetPlanes() const override { return int(mPlanes.size()); }
  bool GetLine(std::uint8_t* row) override;
  // Every plane takes only 0 and 255.
  bool IsOneBit() const;

 private:
  struct Plane {
    int file = -1;
    int channel = 0;
    bool darkIsInk = false;
    bool identity = false;    // the ink is the sample as it stands
    std::uint8_t table[256];  // sample -> ink
    int slot = -1;            // the separation it feeds
  };
  std::int32_t mWidth = 0, mHeight = 0, mNext = 0;
  std::vector<std::unique_ptr<TavSys::pixreatyp>> mFiles;
  std::vector<std::vector<std::uint8_t>> mRows;
  std::vector<Plane> mPlanes;
  bool mOneBit = true;
  bool mWholeRows = false;  // the planes are one file's channels in order, as they stand
  // The map's opaque ink that takes its share off the planes of lower
  // slots, pixel by pixel (PictureMap::opaqueKnockout), when mKnockout.
  Plane mOpaque;
  bool mKnockout = false;
};

// The map's opacity channel scaled by opacity (25600 = 100 %) as one plane.
class OpacityPictureStream : public TavSys::ImageStream {
 public:
  OpacityPictureStream(const jobstr* job, int map, std::uint16_t opacity);
  std::int32_t GetWidth() const override { return mWidth; }
  std::int32_t GetHeight() const override { return mHeight; }
  int GetPlanes() const override { return 1; }
  bool GetLine(std::uint8_t* row) override;
  std::int32_t GetResNumerator() const { return mNumerator; }
  std::int32_t GetResDenumerator() const { return mDenominator; }

 private:
  std::unique_ptr<TavSys::pixreatyp> mReader;
  std::int32_t mWidth = 0, mHeight = 0, mNext = 0;
  std::int32_t mNumerator = 72, mDenominator = 1;
  int mChannel = 0;
  std::uint8_t mTable[256];
  std::vector<std::uint8_t> mRow;
};

}  // namespace TavricLib

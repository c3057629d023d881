#pragma once
// The page writer's picture cache: every use of a picture map on a page is
// gathered before the page is drawn, so that all uses of one picture at one
// downsampling factor share one set of image XObjects. A cached picture is
// split into sub-images (the pixel rectangles the page shows) and each
// sub-image into base images (the inks one image XObject carries: split by
// opacity, by the process set and by the colourants one image may hold).
//
// Road of one page (the page writer owns the cache):
//   construction      BuildPictureCache: a visitor registers every use;
//   page walk         DrawMappedPicture: "<placement> cm /Image_m_n_k Do";
//   each flush        WriteCachedPictures(writer, false): the pictures drawn
//                     since are written into the writer's XObject resources;
//   after the page    WriteCachedPictures(writer, true): all of them.
#include <array>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/imagestream.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/kernel/tavdb.h"

struct jobstr;
class genoutfil;

namespace TavPDF {

class PDFProof;
class PDFDictionary;
class PDFIndirectReference;
class PDFDictionaryValue;

// A rectangle of picture pixels: top, left, bottom, right (bottom and right
// exclusive).
using PixelRect = std::array<std::int32_t, 4>;
// a lies in b.
bool RectInside(const PixelRect& a, const PixelRect& b);
bool RectIsEmpty(const PixelRect& r);
// Integer halves of top + bottom and of left + right (vertical first).
std::array<std::int32_t, 2> RectCentre(const PixelRect& r);

// No cached picture for a use.
class PDFImageException : public std::exception {
 public:
  const char* what() const noexcept override { return "no cached picture for the use"; }
};

struct PictureCacheKey {
  const jobstr* job = nullptr;
  std::uint32_t map = 0;
  std::uint32_t softMask = kNoSoftMask;
  std::uint8_t remap = 0;
  std::uint8_t imageLink = 0;
};

// Orders keys; two keys are equivalent when they stand for one picture: the
// same map, or two external maps that paint the same pixels from the same
// files in the same way.
struct PictureCacheKeyLess {
  bool operator()(const PictureCacheKey& a, const PictureCacheKey& b) const;
};

// Order of two map elements (element -1: none): 0 before, 1 equal, 2 after.
// Two elements reading the same channel of files with the same full path are
// equal, whatever file references name them.
int CompareChannelFiles(const jobstr* job, int mapA, int elementA, int mapB, int elementB);

class CachedImage;

// One image XObject's worth of a sub-image's inks.
struct CachedBaseImage {
  std::vector<int> separations;
  int map = -1;
  PixelRect rect{};
  std::unique_ptr<TavSys::TavImageDownsamplerFactors> factors;  // only when downsampled
  bool downsampled = false;
  bool partial = false;                      // the rectangle is not the whole picture
  std::uint16_t opacity = kOpacityFull;
};

// One visible pixel rectangle of a picture.
struct CachedSubImage {
  PixelRect rect{};
  std::string name;                          // "Image_<map>_<number>_<k>"
  PDFIndirectReference* reference = nullptr;  // registry-owned; set once written
  std::map<std::uint16_t, PDFIndirectReference*> masks;  // by opacity
  std::vector<std::shared_ptr<CachedBaseImage>> baseImages;
};

class CachedImage {
 public:
  using BaseImage = CachedBaseImage;
  // One OPI wrapping form of a sub-image.
  struct OPIDict {
    std::size_t subImage = 0;                // index into the picture's sub-images
    PixelRect rect{};
    std::uint16_t paint = 0;
    std::string name;                        // "OPI_<n>_<sub-image name>"
    PDFIndirectReference* form = nullptr;    // registry-owned; set once written
    int opiMapStatus = 64;
  };

  CachedImage(PDFProof* writer, const TavDB::Object* object, std::uint16_t paint, double factor, bool remap,
              const SeparationRemap& remapArray, bool softMaskPossible, bool groupFlag, bool backgroundSoftMask);

  PDFProof* writer;                          // not owned
  std::uint32_t map = 0;
  std::uint32_t softMask = kNoSoftMask;
  bool opiMappable = false;
  std::int32_t linkType = 0;
  std::int32_t opiMapStatus = 64;
  bool imageLinkPossible = false;
  bool softMaskPossible = false;
  std::vector<CachedSubImage> subImages;
  std::vector<std::shared_ptr<OPIDict>> opiForms;
  double factor = 1.0;
  std::int32_t number = -1;
  std::optional<SeparationRemap> remap;      // engaged only with remapEngaged
  bool hasOverprint = false;
  bool outputAsCmyk = false;
  bool needsWriting = false;
  bool drawn = false;                        // some use has been drawn
  bool remapEngaged = false;
  bool groupFlag = false;
  bool transparent = false;
  bool backgroundSoftMask = false;

  const SeparationRemap* RemapArray() const { return remap ? &*remap : nullptr; }
  // The picture's size in pixels (lines, pixels per line).
  std::int32_t Lines() const;
  std::int32_t PixelsPerLine() const;
};

class MappedPictureCache {
 public:
  using Map = std::multimap<PictureCacheKey, std::shared_ptr<CachedImage>, PictureCacheKeyLess>;

  MappedPictureCache() = default;
  MappedPictureCache(const MappedPictureCache&) = delete;
  MappedPictureCache& operator=(const MappedPictureCache&) = delete;

  // Gathers the uses of the writer's job and numbers the pictures; once.
  void BuildPictureCache(PDFProof* writer);
  // The writer's map output: draws the object's sub-image; a use without a
  // cached picture is reported ("PDF/COULD NOT ADD IMAGE") and left out.
  void DrawMappedPicture(PDFProof* writer, TavDB::Object* object);
  // Number of base images the use is written with (0 when nothing is cached).
  std::int64_t CountCachedImages(PDFProof* writer, TavDB::Object* object, std::uint16_t paint);
  // Re-registers the pictures of a use under a substitute paint; the object
  // keeps the new paint.
  void RegisterPictureUse(PDFProof* writer, TavDB::Object* object, std::uint16_t oldPaint,
                          std::uint16_t newPaint, bool remap);
  // Writes the pictures drawn since the last call (with force every picture
  // drawn at all) into the writer's XObject resources. A picture no use has
  // drawn (one inside an OPI form that stands for it, say) is not written:
  // nothing in the page would show it.
  void WriteCachedPictures(PDFProof* writer, bool force);

  bool IsBuilt() const { return mBuilt; }
  const Map& Entries() const { return mCache; }
  Map& Entries() { return mCache; }

 private:
  Map mCache;
  bool mBuilt = false;
};

// ---- the cache's operations -------------------------------------------------

PictureCacheKey MakePictureCacheKey(PDFProof* writer, const TavDB::Object* object, bool remap);
void AddPictureUse(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object, bool remap,
                   const SeparationRemap& remapArray, bool softMaskPossible, bool backgroundSoftMask);
// Throws PDFImageException when the use has no cached picture.
CachedImage* FindCachedImage(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object);
void MarkPictureUsed(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object);
bool CachedPictureHasOverprint(MappedPictureCache& cache, PDFProof* writer, const TavDB::Object* object);
// The paint is a map whose files are all there.
bool PictureFilesExist(const jobstr* job, std::uint16_t paint);
// The first file of a map paint's channels that is not a regular file, or
// null when all are.
const TavSys::filref* MissingPictureFile(const jobstr* job, std::uint16_t paint);
// The larger of the lengths of the matrix's rows (a, b) and (c, d).
double GetMaxMatrixScale(const TavDB::tv_matrixtyp<double>& matrix);
double ComputePictureDownsampleFactor(PDFProof* writer, const TavDB::Object* object);
// The picture pixels the object's rectangle covers, cut to the picture.
PixelRect ComputeVisiblePixelRect(const jobstr* job, const TavDB::Object* object);

// ---- numbering, split, writing and drawing -----------------------------------

void NumberCachedImage(CachedImage& picture, std::int32_t number);
CachedSubImage& FindOrAddSubImage(CachedImage& picture, const PixelRect& rect);
void SplitSubImage(CachedSubImage& subImage, CachedImage& picture, std::size_t k);
void SplitSeparationsIntoImages(CachedSubImage& subImage, CachedImage& picture, const std::vector<int>& list,
                                std::uint16_t opacity);
void WriteCachedPicture(CachedImage& picture, PDFDictionary* xobjects);
// The six integers (top-left, top-right and bottom-left corners, vertical
// first, job units) of the sub-image grown by one output pixel on every side,
// as the paint places the picture.
// "a 0 0 d e f cm" drawing a sub-image (with its bleed) in the map's own
// pixels, upwards from the map's lower left corner: the space of an image
// link's form.
void WriteLinkSubImageMatrix(genoutfil& out, const CachedImage& picture, const CachedSubImage& sub);
std::array<std::int32_t, 6> ComputeSubImagePlacement(const CachedImage& picture, const CachedSubImage& subImage,
                                                     std::uint16_t paint);
// "Image_<map>_<number>_<k>".
std::string SubImageName(const CachedImage& picture, std::size_t k);

}  // namespace TavPDF

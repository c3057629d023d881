#pragma once
// The output walker: traverses a job's object tree and expresses every object
// as calls of its virtual operations, which a backend (the PDF page writer,
// the Illustrator writer) overrides to write its format. The walker writes the
// path construction and painting operators itself, through the operator table
// that a backend may change.
//
// The job and its objects belong to the host. The walker reads them; where it
// needs a changed object (a new paint, pieces of a split path) it works on a
// copy of its own and deletes it before the operation returns.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pagewriter/illtransform.h"
#include "pagewriter/proofimghan.h"
#include "platform/kernel/geometry.h"
#include "platform/system.h"

struct jobstr;
struct Paint;
// The kernel's paint record.
using paityp = Paint;
class seppdftyp;
class strokeinfo_t;
class ColorSpace;
class genoutfil;

namespace TavDB {
class Object;
class Layer;
}  // namespace TavDB
namespace TavSys {
class filref;
struct PixelHeader;
}
namespace TavGen {
class Downsampler;
}

// The part of an object inside the frame that its
// raster picture or map covers: a new object (owned by the caller) with the
// object's paint, or null. `outside` is set when the picture lies wholly
// outside the object; null without `outside` means that no frame applies
// (another paint, or a placement without extent) and the object's own
// outline is the part.
std::unique_ptr<TavDB::Object> IntersectWithImageBoundingBox(const jobstr* job, const TavDB::Object* object,
                                                             bool& outside);

class genproof : public illtransform {
 public:
  // Path modes of OutputShape, OutputPath and OutputCompoundPath (bits).
  enum PathMode : int {
    kModeClose = 1,
    kModeFill = 2,
    kModeClip = 16,
    kModeNoPaint = 32,
    kModeStroke = 128,
    kModeFlatFill = kModeClose | kModeFill,                       // 3
    kModeClipOutline = kModeClose | kModeClip | kModeNoPaint,     // 49
    kModeStrokeOutline = kModeClose | kModeStroke,                // 129
  };
  // Separation modes.
  static constexpr int kCompositeProcess = -1;  // process colour, one pass per ink position
  static constexpr int kColorSpaceObjects = -5; // colour-space objects, one pass per part

  // The job is not owned and must outlive the walker. Computes the progress
  // total (the job complexity) once.
  // progressLabel names the walk in the progress ("Plate 2 of 5").
  genproof(jobstr* job, int gradationResolution, int writeTraps, int maxPathPoints,
           int separationMode, bool keepInvisible, std::string_view progressLabel = "Output");

  // ---- virtual operations, in the order of the virtual table ----------------
  virtual ~genproof();
  virtual bool IsCompositeOutput();
  virtual bool SupportsDeviceN();
  // A new colour-space object for the inks whose tints lie in [value1, value2];
  // the caller owns it.
  virtual ColorSpace* GetSeparationColorSpace(const std::uint16_t* tints, std::uint16_t value1,
                                              std::uint16_t value2, bool a, bool b, bool c,
                                              bool d, bool e);
  virtual std::uint64_t GetMaxColorants();
  virtual genoutfil& GetOutputStream() = 0;
  virtual int SetLocked(int locked);
  virtual void SetImageMode(int mode);
  virtual bool UseDownsamplerSmoothing();
  virtual double GetImageDownsampleFactor(int resolution, int scale, double ratio);
  virtual bool SupportsSoftMask();
  // Opens an image (description as listed) and returns its row handler, owned
  // by the backend until outpixend, or null when nothing is to be written.
  // source: the picture file the image comes from, or null.
  virtual proofimghan* outpixbegin(const TavSys::filref* source, const paityp* paint,
                                   const TavDB::tv_matrixtyp<double>& matrix, int resolution,
                                   int scale, int word1, int word2, double rows,
                                   double samplesPerRow, int channels, int colourModel,
                                   const std::int32_t* channelMapping, bool flag,
                                   ColorSpace* part) = 0;
  virtual void outpixend(proofimghan* handler) = 0;
  // Tells the backend's row handler that the rows it still lacks will not
  // come (AbandonImage); a backend that makes them up then does not.
  virtual void outpixabandon(proofimghan*) {}
  virtual int outpixrow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow,
                        int channels) = 0;
  virtual std::optional<std::shared_ptr<seppdftyp>> GetSeparationPdf();
  virtual void SelectScreening(std::uint16_t paint);
  virtual void SetOverprint(bool on) = 0;
  // c, m, y, k and tint are percentages; slot -1 means process colour.
  virtual void WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y,
                                          std::uint8_t k, int slot, std::uint8_t tint) = 0;
  virtual int WriteRegistrationColor(std::uint16_t paint, int pass);
  virtual void WriteColorSpaceColor(ColorSpace* space, const std::uint16_t* tints, int value1,
                                    int value2);
  // The colour of one pass of a paint; returns the pass to ask for next, or -1.
  virtual int WritePaintColor(std::uint16_t paint, int pass);
  virtual int OutputPlacedEPS(TavDB::Object* object) = 0;
  virtual int OutputPlacedJob(TavDB::Object* object);
  // A placed TIFF or JPEG picture, read row by row: 0 written, 2 no memory
  // for a row, -2 cancelled, 4 no file named. A file that is gone or cannot
  // be read throws TavSys::Error (PictureFileMissing, PictureUnreadable).
  virtual int OutputPlacedPixels(TavDB::Object* object);
  virtual int OutputPlacedPDF(TavDB::Object* object);
  virtual int OutputPlacedPicture(TavDB::Object* object, const paityp* paint);
  virtual void OutputMap(TavDB::Object* object) = 0;
  virtual ColorSpace* CreateGradientColorSpace(TavDB::Object* object, int& model,
                                               const paityp* paint, ColorSpace*& space,
                                               int& channels);
  virtual bool IsClippedFill(TavDB::Object* object);
  virtual void OutputFillContent(TavDB::Object* object);
  virtual bool CheckCadLayer(TavDB::Object* object);
  virtual void WriteStrokeOperator(bool closed);
  virtual void OutputPath(const TavDB::Object* path, int scanMode, int mode, double* progressCount,
                          double progressTotal);
  virtual void OutputCompoundPath(TavDB::Object* compound, int mode);
  virtual void OutputShape(TavDB::Object* object, int mode);
  // paint -1 stands for the object's own paint.
  virtual bool IsInvisiblePaint(TavDB::Object* object, int paint);
  virtual void OutputFlatFill(TavDB::Object* object);
  virtual void OutputClippedFill(TavDB::Object* object);
  virtual void OutputPatternFill(TavDB::Object* object) = 0;
  virtual void OutputText(TavDB::Object* object) = 0;
  virtual void OutputGroup(TavDB::Object* list, bool noSplit, int composite, bool backendFlag);
  virtual void OutputObject(TavDB::Object* object, bool noSplit, bool backendFlag);
  virtual void WriteStrokeInfo(int strokeType, double strokeValue, genoutfil& sink);
  virtual bool CanStrokeCompoundPaths();
  virtual void BeginCompoundPath(TavDB::Object* object, int kind);
  virtual void EndCompoundPath(int kind);
  virtual void BeginGroup() = 0;
  virtual void EndGroup() = 0;
  virtual void BeginGroupMarker();
  virtual void EndGroupMarker();
  // 1 = skip the layer (then EndLayer is not called).
  virtual int BeginLayer(TavDB::Layer* layer) = 0;
  virtual void EndLayer() = 0;
  virtual void BeginTrap(TavDB::Object* object, bool noSplit, bool backendFlag);
  virtual void EndTrap();
  virtual bool BeginObjectName(TavDB::Object* object);
  virtual void EndObjectName(bool opened);
  virtual void RestoreGraphicsState();

  // ---- non-virtual members used by the backends ---------------------------
  void SaveGraphicsState();
  void SetCancelled() { mCancelled = true; }
  // Reports the walk complete (100 %).
  void FinishProgress() { mProgress.set(100); }
  bool IsCancelled() const { return mCancelled; }
  // Process colour of per-position percentages (255 = untouched).
  void WriteCMYKColor(const std::uint8_t* percentages, bool withOverprint);
  // The first painted spot ink of the percentages, else CMYK white.
  void WriteSpotColor(const std::uint8_t* percentages);
  // A job colour by its index.
  void WriteColor(int colour, bool withOverprint);
  // A gradation rendered as an image at the gradation resolution.
  void OutputGradationImage(TavDB::Object* object);
  // Picture output through the image operations: the image is opened
  // downsampled when the backend's factor asks for it; rows then go through
  // one downsampler per channel and are written as they complete.
  proofimghan* OutputPictureDownsampled(const TavSys::filref* source, const paityp* paint,
                                        const TavDB::tv_matrixtyp<double>& matrix, int resolution,
                                        int scale, int word1, int word2, double rows,
                                        double samplesPerRow, int channels, int colourModel,
                                        const std::int32_t* channelMapping, bool flag,
                                        ColorSpace* part);
  int WriteImageRow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow, int channels);
  // A placed pixel picture's rows turned into other samples as they are
  // written (one ink's share of the picture on a plate of separated
  // output): `convert` takes a row as the file gives it (width × the file's
  // channels) and fills one of width × `planes` samples; the image is
  // written in `model` and `space` (not owned) with the decode flag.
  struct PixelRowConversion {
    int planes = 1;
    int model = 1;
    ColorSpace* space = nullptr;
    bool decode = false;
    std::function<void(const std::uint8_t* row, std::int32_t width, std::uint8_t* out)> convert;
  };
  // OutputPlacedPixels with the rows converted (as they stand without a conversion).
  int OutputPixelFile(TavDB::Object* object, const PixelRowConversion* conversion);
  // Writes the rows the downsamplers still owe, frees them and ends the image
  // (outpixend, also for a null handler).
  void EndImage(proofimghan* handler);
  // Ends an image whose source failed: no rows are made up for it (its file
  // is given up), however many it declared.
  void AbandonImage(proofimghan* handler);
  // The image matrix (a b c d e f, in points, per pixel) of a placed
  // picture's or map's placement, for its stored size in pixels.
  void GetPictureMatrix(const paityp* paint, double& a, double& b, double& c, double& d,
                        double& e, double& f) const;
  // The image matrix of a placement for an image of columns × rows pixels.
  TavDB::tv_matrixtyp<double> PlacementMatrix(const paityp& paint, double columns, double rows) const;
  // A pattern fill written as the objects the pattern stands for.
  void OutputExpandedPattern(TavDB::Object* object);
  // Ink flags of per-position percentages: bit 1 some ink is 255 (untouched),
  // bit 2 no process ink has a value.
  int GetColorInkFlags(const std::uint8_t* percentages) const;

  jobstr* GetJob() const { return mJob; }
  double GetProgressTotal() const { return mProgressTotal; }
  double GetProgressCount() const { return mProgressCount; }
  int GetSeparationMode() const { return mSeparationMode; }
  int GetMaxPathPoints() const { return mMaxPathPoints; }
  // The stroke description while an object's stroke is written, else null.
  const strokeinfo_t* GetStrokeInfo() const { return mStrokeInfo.get(); }
  // While the pieces of a split path are written: the unsplit path.
  const TavDB::Object* GetSplitSource() const { return mSplitSource; }

  // The walk's job complexity of a list: 15 per path point, through groups,
  // layers and compound paths.
  static double JobComplexity(const TavDB::Object* list);

  // Shortcuts of the walk that leave the output as it is: a paint's colour
  // space kept for as long as nothing it depends on changes, and a path that
  // needs no split written without a copy. On unless switched off, which
  // takes the long way everywhere (to compare the two).
  static void SetWriterShortcuts(bool on);
  static bool WriterShortcuts();

 protected:
  // The text of the path operators; a backend may point them at its own.
  struct PathOperators {
    const char* line = "l";
    const char* curve = "c";
    const char* clip = "W*\n";
    const char* fill = "f*\n";
    const char* noPaint = "n\n";
    const char* close = "h\n";
  };

  // A copy of path, split into pieces when it has more than maxPoints points
  // (a negative maximum: no limit). Returns true when it was split (copy is
  // then a group of the pieces); a path that cannot be split is copied whole,
  // with a warning. copy is null only when the copy failed.
  bool SplitLongPath(const TavDB::Object* path, int maxPoints, std::unique_ptr<TavDB::Object>& copy);
  // Everything besides its arguments that GetSeparationColorSpace reads.
  struct ColorSpaceInputs {
    std::array<std::int16_t, 64> separations{};  // per position: its ink and process ink
    std::uint32_t state = 0;                    // the backend's flags and limits
    const void* data = nullptr;                 // the backend's separation data
    bool operator==(const ColorSpaceInputs&) const = default;
  };
  // Fills `inputs`; false when the backend does not say (its spaces are then
  // built for every use).
  virtual bool SeparationColorSpaceInputs(ColorSpaceInputs& inputs) const;
  // The colour space of a paint's tints for its colour passes. It is built
  // once and kept by the walker while the paint's tints and the inputs stay
  // the same; when it cannot be kept, `unshared` owns it.
  ColorSpace* PaintColorSpace(std::uint16_t paint, const std::uint16_t* tints, bool registration,
                              std::unique_ptr<ColorSpace>& unshared);
  // Says, once per walk, that a path beyond the maximum is written whole.
  void WarnPathNotSplit(const TavDB::Object* path);
  // Whether OutputGroup brackets the sub-paths of a compound path.
  bool NeedsCompoundBracket(TavDB::Object* list, bool noSplit);
  bool OutputStrokeAsStroke(TavDB::Object* object);
  // An inside or outside stroke, filled as the outline of the area it covers;
  // false when the current stroke is not such a stroke in a flat paint.
  bool OutputStrokeAsOutline();
  void OutputPatternStroke();
  // The area the stroke of generator covers, as a path or compound path in
  // the stroke's paint (null when it covers nothing). Throws TavSys::Error
  // ("PDF/STROKE OUTLINE NOT MADE") when the outline cannot be built.
  std::unique_ptr<TavDB::Object> MakeStrokeOutline(const TavDB::Object* generator);
  void OutputFill(TavDB::Object* object);
  // Reports count × 100 / total to the progress service and polls cancel.
  void ReportProgress(double count, double total);

  // ---- fields ----------------------------------------------------------
  // Image state of a downsampled picture (no image open: 0 channels).
  std::int32_t mImageChannels = 0;
  PathOperators mOps;
  bool mCancelled = false;
  jobstr* mJob;  // not owned
  double mProgressCount = 0;
  double mProgressTotal = 0;
  std::int32_t mGradationResolution;
  std::int32_t mLocked = 0;
  std::int32_t mMaxPathPoints;
  std::int32_t mComposite = 0;
  const TavDB::Object* mSplitSource = nullptr;  // not owned
  bool mWarnedNotSplit = false;
  std::int32_t mStrokeType = 1;
  // Stroke description of the object being written; owned by the walker.
  std::unique_ptr<strokeinfo_t> mStrokeInfo;
  bool mInsideTrap = false;
  bool mKeepInvisible;
  std::int32_t mImageRowsWritten = 0;
  std::int32_t mImageRowsDue = 0;
  std::int32_t mImageRowWidth = 0;
  // One downsampler and one sample buffer (input width + 4) per channel while
  // a downsampled image is open, and the row written out.
  std::vector<std::unique_ptr<TavGen::Downsampler>> mDownsamplers;
  std::vector<std::vector<std::int32_t>> mImageBuffers;
  std::vector<std::uint8_t> mImageRow;
  std::int32_t mSeparationMode;
  std::int32_t mWriteTraps;

 private:
  struct PaintSpace;
  TavSys::Progress mProgress;
  // The colour spaces kept per paint (PaintColorSpace).
  std::unordered_map<std::uint16_t, std::unique_ptr<PaintSpace>> mPaintSpaces;
};

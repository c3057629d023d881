#pragma once
// The PDF page writer: the PDF backend of the output walker. One instance
// writes the content stream of one page (writer number 0), of one nested
// one-up form or of the thumbnail. It answers the walker's questions for PDF,
// writes colour, overprint, screen and stroke operators through the
// process-wide graphics-state cache, writes marked content for groups, layers,
// object names and traps, paints paths and shapes, and keeps the queue of
// deferred resources that is flushed when its content stream is closed.
//
// Road of one page (see pdfwriter's writePage):
//   PDFProof writer(job, handler, resources, ..., settings, &counter, pending, ...);
//   writer.WriteMatrix(base matrix); writer.WriteGState(default screen);
//   writer.OutputGroup(tree, false, -1, false);
//   PDFDictionaryValue* contents = writer.FinishContentStream();
//
// The construction opens the content stream (pdfouthan::beginStream), so only
// one writer may be constructed while no other stream is open (unless it is
// made without one).
//
// Objects whose writers belong to later parts of the engine (images, placed
// files, one-ups, gradients and patterns, text, transparency groups, CAD,
// barcode and OPI forms) are refused: the writer throws TavSys::Error with the
// key "PDF/OBJECT NOT SUPPORTED YET" and the export gives up with that message,
// never with a resource name that has no object.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "pagewriter/forms.h"
#include "pagewriter/genproof.h"
#include "pagewriter/pendingstream.h"
#include "pdfwriter/pdfouthan.h"
#include "pictures/picturecache.h"
#include "platform/kernel/screenrender.h"

class PDFSettings;
class ColorSpace;
struct texcaltyp;

namespace TavPDF {

class PdfPending;
class PDFImageDic;
class PDFDictionary;
class PDFArray;
class PDFDictionaryValue;
class pdfoutfilter;

// Throws the refusal for something this engine cannot write yet, naming the
// object it was met in when known (the walk names it on the way out
// otherwise).
[[noreturn]] void RefuseUnsupported(const std::string& what, const jobstr* job = nullptr,
                                    const TavDB::Object* object = nullptr);

class PDFShadingType;

// The colour stops of a gradation's shading. The shading's domain 0..1 runs
// along the axis from `from` job units (from the gradation's start) over
// `length` job units; every step's colour lies at its position, and before the
// first and after the last step their colours continue.
struct GradationStops {
  double from = 0;
  double length = 0;
  std::vector<std::array<std::uint16_t, 64>> colours;
  std::vector<double> bounds;     // one fewer than the segments
  std::vector<double> exponents;  // one per segment (negative: written backwards)
};
GradationStops BuildGradationStops(const jobstr* job, const Paint& degrade);

// The nested job of a one-up picture, ready to be written, or null.
jobstr* ReadOneUpJobFile(jobstr* job, int picture);
// Whether the parent prints inks the one-up does not have: its colours must
// then overprint, so that the parent's other inks show through the one-up
// wherever it is drawn (nested in the parent's page or as a file of its own).
bool OneUpLacksParentInks(const jobstr* oneUp, const jobstr* parent);
// Queues the form of a placed one-up or PDF page under its picture-form name.
void RegisterPictureForm(PDFProof& writer, TavDB::Object* object, std::uint16_t paint);
// The exponent of a segment of `length` job units whose two colours mix 50 %
// `midpoint` units after its start; negative when the segment is written
// backwards. 1 for a segment without length.
double GradationSegmentExponent(std::int64_t length, std::int64_t midpoint);

// The opaque-ink conversion: a paint whose colour has an opaque ink becomes a
// new paint in which the inks printed before the opaque one are reduced by its
// tint (with knockout), and a gradation of one colour becomes a flat paint.
// Returns the paint itself when nothing changes, else the index of a new paint
// added to the job.
// `prints` says which separations print in this export; by default the
// enabled ones. While one plate of separated output is written the other
// plates' inks are disabled, yet an opaque ink among them still hides the
// inks below it.
std::uint16_t ConvertPaintForOpaqueInks(jobstr* job, std::uint16_t paint, bool knockout,
                                        const std::function<bool(int)>& prints = {});

// Reports the first ink of a one-up whose CMYK equivalent (or, for the second
// check, whose opaque/technical/varnish type) differs from the parent ink it
// is mapped to. sepMap[one-up slot] = parent slot, negative = no counterpart.
void CheckOneUpColorDefinitions(const jobstr* oneUp, const jobstr* parent,
                                const std::array<std::int32_t, 64>& sepMap);
void CheckOneUpSeparationTypes(const jobstr* oneUp, const jobstr* parent,
                               const std::array<std::int32_t, 64>& sepMap);

// Whether the paint draws nothing in this output (Invisible objects are
// skipped unless keepInvisible).
bool PaintIsInvisibleForOutput(const jobstr* job, const TavDB::Object* object, int paint,
                               bool keepInvisible, bool insideTransparencyGroup);

}  // namespace TavPDF

namespace TavPDF {

// Splits a string of text into passes written one over the other (set on a
// writer from outside; a writer without one writes each string once).
class TextPassSplitter {
 public:
  virtual ~TextPassSplitter() = default;
  // The number of passes for the string at the text matrix.
  virtual int Passes(const std::string& text, const std::array<double, 6>& matrix) = 0;
  // Whether a pass (0 ..) is written.
  virtual bool WritesPass(int pass) = 0;
};

class PDFProof : public genproof, public PendingStreamFlusher {
 public:
  // Everything passed by pointer stays the caller's and must outlive the
  // writer; the dictionaries are registry-owned (they may be null for the
  // thumbnail writer). writerCounter is the page's shared counter of writer
  // numbers. formCache is the handler's form cache. sepData: the shared
  // separation data (empty = none), moved in. A writer whose content goes
  // into streams it opens itself later (a one-up's form, the thumbnail)
  // opens no content stream when it is made (openContent false): an empty
  // stream would stay in the file with nothing referring to it.
  PDFProof(jobstr* job, pdfouthan* handler, PDFDictionary* resources, PDFDictionary* patterns,
           PDFDictionary* xobjects, PDFDictionary* extGStates, const PDFSettings& settings,
           std::int32_t* writerCounter, PdfPending* pending,
           std::map<std::int32_t, PDFBaseClass*>* formCache,
           std::shared_ptr<seppdftyp> sepData, bool sharedHalftoneMode, bool nestedWriter,
           PDFDictionaryValue* sharedHalftone, bool oneUpLink, bool handlerFlag,
           bool insideOneUp, bool openContent = true);
  ~PDFProof() override;
  PDFProof(const PDFProof&) = delete;
  PDFProof& operator=(const PDFProof&) = delete;

  // ---- walker operations with simple answers ------------------------------
  bool IsCompositeOutput() override { return true; }
  bool SupportsDeviceN() override { return true; }
  ColorSpace* GetSeparationColorSpace(const std::uint16_t* tints, std::uint16_t low,
                                      std::uint16_t high, bool countProcess, bool flagB,
                                      bool flagC, bool flagD, bool flagE) override;
  std::uint64_t GetMaxColorants() override;
  bool SeparationColorSpaceInputs(ColorSpaceInputs& inputs) const override;
  genoutfil& GetOutputStream() override;
  bool UseDownsamplerSmoothing() override;
  double GetImageDownsampleFactor(int resolution, int scale, double ratio) override;
  bool SupportsSoftMask() override { return true; }
  std::optional<std::shared_ptr<seppdftyp>> GetSeparationPdf() override;
  bool CanStrokeCompoundPaths() override { return true; }

  // ---- pictures, text and patterns: written by later parts -----------------
  proofimghan* outpixbegin(const TavSys::filref* source, const paityp* paint,
                           const TavDB::tv_matrixtyp<double>& matrix, int resolution, int scale,
                           int word1, int word2, double rows, double samplesPerRow, int channels,
                           int colourModel, const std::int32_t* channelMapping, bool flag,
                           ColorSpace* part) override;
  void outpixend(proofimghan* handler) override;
  void outpixabandon(proofimghan* handler) override;
  int outpixrow(proofimghan* handler, const std::uint8_t* row, int samplesPerRow,
                int channels) override;
  int OutputPlacedEPS(TavDB::Object* object) override;
  int OutputPlacedJob(TavDB::Object* object) override;
  int OutputPlacedPixels(TavDB::Object* object) override;
  int OutputPlacedPDF(TavDB::Object* object) override;
  void OutputPatternFill(TavDB::Object* object) override;
  void OutputText(TavDB::Object* object) override;
  void OutputMap(TavDB::Object* object) override;
  void SetImageMode(int mode) override { mImageMode = mode; }

  // ---- raster images -----------------------------------------------------------
  // Builds an image XObject dictionary (stored in `dictionary`; registry-owned)
  // and returns the row handler for its data (owned by the caller, ended by
  // deleting it), or null when the caller writes the data itself (JPEG
  // pass-through) or nothing can be written. The data go into the image's own
  // stream when beginStream is set (opened here), else into the writer's image
  // output (the temporary file of the pixel path). colourModel: -1 PostScript
  // XObject, 0/1 gray, 2 RGB, 5 CMYK, 8 the colour space given.
  proofimghan* outimabeg(std::int32_t value1, std::int32_t value2, double height, double width,
                         int colourModel, int quality, const std::string& name,
                         PDFDictionaryValue* softMask, bool decode, PDFImageDic*& dictionary,
                         int beginStream, ColorSpace* colorSpace, PDFDictionaryValue* alternates,
                         bool oneBit);
  // Ends the page's content stream so far as one of its contents streams: an
  // image written at once goes between it and the next part.
  void EndContentPart();
  // "q", the clip, the image's matrix scaled to sx × sy pixels, "/name Do", "Q".
  void DrawImageXObject(const TavDB::tv_matrixtyp<double>& matrix, const std::string& name, double sx,
                        double sy, TavDB::Object* clip);
  // The image compression value: 1 for linked images under image links, else
  // the settings' CompressImages.
  int GetImageCompression(bool linked) const;
  int GetImageMode() const { return mImageMode; }
  void SetJpegPassThrough(bool on) { mJpegPassThrough = on; }
  void SetPreviewFlag(bool on) { mPreviewFlag = on; }
  void SetWritingPictureCache(bool on) { mWritingPictureCache = on; }
  // Where the data of the open image go (null when no image is open).
  genoutfil* GetImageOutput();
  // Knocks out (with the object's shape) the inks the gradient leaves at 0
  // everywhere, and returns the union of its inks: model 1 for gray, else 8,
  // channels = its separation count. The returned space is also stored in
  // `space`; it is one object, owned once by the caller.
  ColorSpace* CreateGradientColorSpace(TavDB::Object* object, int& model, const paityp* paint,
                                       ColorSpace*& space, int& channels) override;
  // Gradients and gradations as smooth shadings (or, when asked or when they
  // cannot be shadings, as images); pictures and maps by the walker.
  void OutputFillContent(TavDB::Object* object) override;
  // A stroke painted with a gradient, a picture or a map (while its
  // description is current): the area the stroke covers is filled with the
  // stroke's paint.
  void OutputStrokeAsFilledOutline();
  // A clipped fill that needs transparency goes through a transparency group
  // where one transparency state cannot carry it.
  void OutputClippedFill(TavDB::Object* object) override;

  // ---- colour, overprint, screens, strokes ---------------------------------
  void SelectScreening(std::uint16_t paint) override;
  void SetOverprint(bool on) override;
  void WriteCMYKOrSeparationColor(std::uint8_t c, std::uint8_t m, std::uint8_t y,
                                  std::uint8_t k, int slot, std::uint8_t tint) override;
  int WriteRegistrationColor(std::uint16_t paint, int pass) override;
  // The walker's form: ownSave = value1 != 0, no object.
  void WriteColorSpaceColor(ColorSpace* space, const std::uint16_t* tints, int value1,
                            int value2) override;
  // Makes the space's colour the pending fill or stroke colour (unless it is
  // in force); with ownSave brackets the call in q ... Q; with an object,
  // paints the object's shape in that colour at once.
  void WriteColorSpaceColor(ColorSpace* space, const std::uint16_t* tints, bool ownSave,
                            TavDB::Object* object);
  int WritePaintColor(std::uint16_t paint, int pass) override;
  void WriteStrokeInfo(int strokeType, double strokeValue, genoutfil& sink) override;
  void RestoreGraphicsState() override;
  void SetPaintSeparationColor(std::uint16_t paint);
  // Writes the pending fill colour. A colour of several parts cannot be set by
  // one operator: it stays pending and the caller paints once per part.
  void WritePendingFillColor();
  bool WritePendingStrokeColor();

  // ---- painting --------------------------------------------------------------
  bool IsClippedFill(TavDB::Object* object) override;
  bool CheckCadLayer(TavDB::Object* object) override;
  void OutputPath(const TavDB::Object* path, int scanMode, int mode, double* progressCount,
                  double progressTotal) override;
  void OutputCompoundPath(TavDB::Object* compound, int mode) override;
  void OutputShape(TavDB::Object* object, int mode) override;
  bool IsInvisiblePaint(TavDB::Object* object, int paint) override;
  void OutputFlatFill(TavDB::Object* object) override;
  void OutputGroup(TavDB::Object* list, bool noSplit, int composite, bool backendFlag) override;
  void OutputObject(TavDB::Object* object, bool noSplit, bool backendFlag) override;
  // OutputObject's work, without naming the object in a refusal.
  void WriteObject(TavDB::Object* object, bool noSplit, bool alreadyConverted);
  // The colour spaces of every colour of a gradient or gradation paint: the
  // union of their inks (what the gradient paints) and the intersection (inks
  // at 0 in every colour, knocked out before the gradient is drawn). Both
  // null for a paint without colours; the caller owns them.
  void GetGradientColorSpaces(std::uint16_t paint, std::unique_ptr<ColorSpace>& united,
                              std::unique_ptr<ColorSpace>& common);
  // Whether the object's paint needs a transparency graphics state or group.
  bool PaintNeedsTransparency(const TavDB::Object* object, bool force) const;
  // The union and the intersection of the inks of tint vectors (the colour
  // stops of a shading); no intersection in separated output. The caller owns both.
  void GetTintVectorColorSpaces(const std::vector<std::array<std::uint16_t, 64>>& tints,
                                std::unique_ptr<ColorSpace>& united,
                                std::unique_ptr<ColorSpace>& common);
  // Separated output: the first of the tint vectors that defines the plate's
  // ink, null when every one leaves it untouched.
  const std::array<std::uint16_t, 64>* FirstDefiningPlateInk(
      const std::vector<std::array<std::uint16_t, 64>>& tints) const;
  // A gradient over the tint vectors that leaves an ink of the page untouched
  // (undefined in every vector): the union is widened to every ink the
  // vectors define (but those knocked out as common) and drawn with
  // overprint, its process inks named as colourants.
  void KeepUntouchedInks(const std::vector<std::array<std::uint16_t, 64>>& tints, ColorSpace& united,
                         const ColorSpace* common);
  // The colour space of a shading over the tint vectors: inks at 0 in every
  // vector are knocked out with the object's shape first; every part of the
  // result is registered with the pending colour spaces.
  std::unique_ptr<ColorSpace> PrepareShadingColorSpace(
      const std::vector<std::array<std::uint16_t, 64>>& tints, TavDB::Object* object);
  // LinkType 1 and a placed EPS, TIFF or PDF picture.
  bool IsOpiPicture(const TavDB::Object* object) const;
  // Whether a pattern paint is written as the objects of its tiles: a paint
  // asking for it, or a cell that leaves inks of this writer untouched.
  bool PatternIsExpanded(std::uint16_t paint);
  // The paint converted for opaque inks (the paint itself when nothing
  // changes), converted once per writer; the picture cache gathers maps by
  // the paints they are drawn with.
  std::uint16_t ConvertedForOpaqueInks(std::uint16_t paint);
  // "Tv_pat_" + writer number + "_" + (paint - 10000).
  std::string MakePatternName(std::uint16_t paint) const;

  // ---- marked content ----------------------------------------------------------
  void BeginGroup() override;
  void EndGroup() override;
  void BeginGroupMarker() override;
  void EndGroupMarker() override;
  int BeginLayer(TavDB::Layer* layer) override;
  void EndLayer() override;
  void BeginTrap(TavDB::Object* object, bool noSplit, bool backendFlag) override;
  void EndTrap() override;
  bool BeginObjectName(TavDB::Object* object) override;
  void EndObjectName(bool opened) override;

  // ---- the content stream and its resources --------------------------------
  // Ends the content stream (the pending streams are flushed), completes the
  // page resources and returns the "Contents" value: the stream's reference,
  // or for writer number 0 the contents array holding it.
  PDFDictionaryValue* FinishContentStream();
  // The six numbers of the matrix and " cm\n".
  void WriteMatrix(const TavDB::tv_matrixtyp<double>& matrix);
  void WriteMatrix(const std::array<double, 6>& matrix);
  // "/name gs\n".
  void WriteGState(const std::string& name);
  // Completes the resources when the content stream ends: fonts, the screens
  // selected (ExtGState entries, the screen set is emptied) and, for PDF 1.5
  // layers, the property lists.
  void WritePageResources(bool withProperties);

  // ---- resource names -----------------------------------------------------------
  // Nested writers share the file's name space: every name carries the writer
  // number, and each kind counts on its own ("Barcode_<writer>_<n>").
  std::string MakeBarcodeFormName();
  std::string MakeCadFormName();
  std::string MakeStationNumberFormName();
  std::string MakeImageLinkFormName();
  std::string MakeOpiFormName();
  // Names the record's graphics state "GS_<writer>_<n>".
  void MakeGStateName(PendingStream& record);
  // Names the record's group "Group_<writer>_<n>" and its graphics state
  // "GS_<writer>_<m>" (each from its own counter).
  void MakeTransparencyGroupNames(PendingStream& record);
  // The image name "Im<writer>_<n>" for a picture. With a file, a queued
  // file or preview record (kinds 3 and 9) whose file path is
  // PictureRecordPath(an earlier name of this writer, file) gives that
  // earlier name back (true); otherwise a new number is taken (false).
  bool MakePictureXObjectName(const TavSys::filref* file, std::string& outName);
  // The file path a queued picture record carries so that a second placement
  // of the same file finds it: the image name followed by the file's full
  // path (two files of one name in different folders stay two images).
  static std::string PictureRecordPath(const std::string& imageName, const TavSys::filref& file);
  // The page's own writer writes a placed file's image at once, once per
  // file: a later placement of the file draws the image written for the
  // first (entered again in the XObject dictionary in force). Null when the
  // file was not written by this writer in the present way of writing it.
  struct WrittenPicture {
    std::string name;
    // The XObjects written for it (the image, an EPS file's preview).
    std::vector<std::pair<std::string, PDFIndirectReference*>> objects;
  };
  const WrittenPicture* FindWrittenPicture(const TavSys::filref& file) const;

  // ---- placed picture files (pictures/placedpictures.cpp) ---------------------
  // Writes a placed picture file (a record of kind 3): at once for the page's
  // own writer, from the queue under the record's name for nested writers.
  void OutputPictureXObject(PendingStream& record);
  // A placed pixel picture on a page of separated output: the page's ink's
  // share of it as the plate's gray image, or, on a plate it does not print
  // on, an empty image that clears the plate where it lies. copyJpeg writes
  // the file as it stands (model, decode, colour space).
  // Warns about the process shares of a picture for which the document has
  // no ink (no plate of separated output prints them).
  void ReportPictureInksWithoutPlate(const TavSys::filref& file, const TavSys::PixelHeader& header);
  void WritePicturePlate(TavDB::Object* object, const Paint& paint, const TavSys::PixelHeader& header,
                         bool passThrough, const std::function<void(int, bool, ColorSpace*)>& copyJpeg);

  // ---- OPI dictionaries (pictures/opi.cpp) -----------------------------------
  // The OPI value of a placed EPS, TIFF or PDF picture's form; null for other
  // picture types.
  PDFDictionaryValue* WriteOpiDictionary(std::uint16_t paint);
  // The OPI value of an object list's picture map (its topmost object's).
  PDFDictionaryValue* WriteObjectListOpiDictionary(const TavDB::Object* list);
  // For each ink the map feeds: the ink's name in the file -> /<its channel's
  // name>. With `channels` the pairs (channel number, ink name) go there and
  // the dictionary stays empty.
  PDFDictionary* MakeChannelsDictionary(int map, std::map<int, std::string>* channels = nullptr);

  // ---- screen and dot-gain graphics states ---------------------------------
  // {HT: the job's default halftone}, written at once.
  PDFIndirectReference* MakeDefaultScreenGState();
  // {HT: the halftone of the screen} ({HT /Default} for a screen without a
  // PDF form), written at once; job null stands for the writer's own job.
  PDFIndirectReference* MakeSeparationScreenGState(int screen, jobstr* job);
  // The separation's dot-gain transfer function, built once per document;
  // null when the separation has none. No stream may be open the first time.
  PDFIndirectReference* GetDotgainTransferFunction(int separation);
  // The graphics states "TR_<separation>" of every ink in use and "TR_CMYK"
  // that the colour spaces select under dot gain (inks without a function
  // get /Default).
  void AddTransferFunctionStates(PDFDictionary* extGStates);
  // The halftone written for a screen (replaces an earlier one); the page
  // registers them as the document's named halftones.
  void SetScreenHalftone(int screen, PDFDictionaryValue* halftone);
  const std::map<int, PDFDictionaryValue*>& GetScreenHalftones() const {
    return mScreenHalftones;
  }

  // Rectangles of four numbers (top, left, bottom, right) that do not overlap.
  static bool RectanglesDisjoint(const std::int32_t a[4], const std::int32_t b[4]);

  // Pending streams.
  void AddPendingStream(std::unique_ptr<PendingStream> record);
  void FlushPendingStreams() override;
  // Refuses (throws) unless a writer for the kind is installed.
  static void RequirePendingWriter(std::uint32_t kind);
  const std::vector<std::shared_ptr<PendingStream>>& GetPendingStreams() const {
    return mPendingStreams;
  }

  // Two graphics states "op1" (overprint on, mode 1) and "op0" (off).
  PDFDictionary* AddOverprintStates();
  // The sub-dictionary stored under name; made when missing and create is set.
  static PDFDictionary* GetSubDictionary(PDFDictionary* dictionary, const char* name,
                                         bool create);
  // Layers after this one in the job's layer list that are not excluded.
  int CountLayersAfter(const TavDB::Object* layer) const;
  static std::string MakeImageResourceName(int first, int second);
  bool IsSymmetricStroke() const;

  // ---- picture maps, thumbnail and previews ------------------------------------
  MappedPictureCache& GetPictureCache() { return mPictureCache; }
  // A pixel picture or map can be written as an image link.
  bool ImageLinkPossible(std::uint16_t paint) const;
  // Under OPI links: a map whose picture an OPI server can stand in for, and
  // how (64 when OPI does not apply).
  bool IsOpiMappedImage(std::uint16_t paint) const;
  int GetOpiMapStatus(std::uint16_t paint) const;
  // The colour model (0 and 1 gray, 5 CMYK, 8 the space) and the colour space
  // of an image of the separations; a CMYK list becomes the job's C, M, Y, K.
  // With overprinting, an image of some process inks keeps a DeviceN space
  // of those inks (a DeviceCMYK image would clear the others).
  int GetPictureColorSpace(std::vector<int>& separations, std::unique_ptr<ColorSpace>& space,
                           bool overprinting = false);
  // "a b c d e f cm" placing the unit square by three corners (top-left,
  // top-right, bottom-left; job units, vertical first).
  void WritePictureMatrix(genoutfil& out, const std::array<std::int32_t, 6>& corners);
  // Closes the image stream outimabeg opened; its reference (null when none
  // is open).
  PDFIndirectReference* EndImageStream(int* status);
  bool IsWritingPictureCache() const { return mWritingPictureCache; }
  bool IsInsideOpiForm() const { return mInsideOpiForm; }
  bool IsWritingTransparencyGroup() const { return mWritingTransparencyGroup; }
  bool GetOneUpLink() const { return mOneUpLink; }
  // Inks are remapped while a soft mask is written.
  bool IsSoftMaskRemap() const { return mSoftMaskDepth != 0; }
  std::uint32_t GetSearchFlags() const { return mSearchFlags; }
  // The page's thumbnail: the job rendered at 72 ppi as an RGB image; closes
  // the writer's content stream (a writer made for the thumbnail).
  PDFIndirectReference* RenderThumbnail();
  // The pending writer of a picture preview (kind 9).
  void WritePreviewImage(PendingStreamFilePreview& record);
  const std::string& GetPreviewName() const { return mPreviewName; }
  void SetPreviewName(std::string name) { mPreviewName = std::move(name); }

  // ---- forms, patterns and transparency --------------------------------------
  // "q\n/name Do\nQ\n".
  void DrawXObject(const std::string& name);
  // "/name gs\n".
  void WriteGStateName(const std::string& name);
  // Selects the object's transparency (a queued ExtGState), after "q" when save is set.
  void OutputTransparencyGState(TavDB::Object* object, std::uint16_t paint, bool save);
  // Draws the object as a transparency group form with its paint's
  // transparency state (both queued).
  void OutputTransparencyGroup(TavDB::Object* object, int mode);
  // The same with the paint whose transparency the group takes (a text's
  // paint lies in its runs).
  void OutputTransparencyGroup(TavDB::Object* object, int mode, std::uint16_t paint);
  // Draws a CAD drawing as a form of its own (queued).
  void OutputCadForm(TavDB::Object* object);
  // An unedited barcode as a barcode form, placed by the object's matrix.
  void OutputBarcodeForm(TavDB::Object* object);
  // A paint-map group under OPI links as one OPI form (queued), clipped by
  // the group's first member, the map's outline.
  void OutputOpiForm(TavDB::Object* list);
  // BBox (the object's box with its texts; the page box for an empty one) in
  // points and an identity Matrix; returns the box in job units.
  TavDB::tv_box SetFormBBoxAndMatrix(PDFDictionary* form, TavDB::Object* object);
  // Private PieceInfo data of forms.
  void AddCadPieceInfo(PDFDictionary* form);
  void AddBarcodePieceInfo(PDFDictionary* form, const PendingStreamBarcodeForm& record);
  void AddOneUpPieceInfo(PDFDictionary* form);
  // Writers of the pending flush.
  void WriteFormXObject(PendingStream& record, std::uint32_t kind);
  void WriteTilingPattern(PendingStreamPattern& record);
  void WriteTransparencyGState(PendingStreamTransparencyGraphicsState& record);
  // The luminosity soft mask of the record's paint, or null without one.
  PDFDictionary* WriteSoftMaskGroup(PendingStreamTransparencyGraphicsState& record,
                                    bool suppressImageLinks);
  void WriteTransparencyGroup(PendingStreamTransparencyGroup& record);

  // ---- image-link and OPI forms (pagewriter/linkforms.cpp) ---------------------
  // Places the image-link form of a picture or map on the picture: "q", the
  // picture's overprint state, the matrix from the form's space (map pixels,
  // or a placed picture's preview points, upwards) to the page, "/name Do",
  // "Q". Nothing for other paints.
  void DrawImageLinkForm(const std::string& name, TavDB::Object* object);
  // The size of an image-link form's space: a map's pixels, a placed
  // picture's preview size in whole points; false without one.
  bool ImageLinkFormSize(std::uint16_t paint, double& width, double& height);
  // The inks of a map under an image link that its image does not hold,
  // filled over the object's shape below or above the link (mapGetFlatPart).
  void OutputMapFlatPart(TavDB::Object* object, int flatPaint);
  // The writer of a graphics state whose soft mask is the opacity channel of
  // a map paint's picture where the paint places it (pending kind 14; the
  // record's paint and its name in the ExtGState resources).
  void WriteMapOpacityMask(PendingStream& record);
  // The transparency group of that soft mask: the map's opacity channel drawn
  // where the paint places it. Throws TavSys::Error when the channel cannot be read.
  PDFIndirectReference* WriteMapOpacityGroup(const Paint& paint);
  // The workflow's private data of an image-link form: the linked file, the
  // inks of its channels with their screens, and whether it has an alpha
  // channel.
  void AddImageLinkPieceInfo(PDFDictionary* form, const TavDB::Object* object);
  // Writers of the pending flush (kinds 8 and 7).
  void WriteImageLinkForm(PendingStream& record);
  void WriteOpiForm(PendingStreamOpiForm& record);
  bool ImageLinksSuppressed() const { return mImageLinksSuppressed; }
  bool IsInsideImageLinkForm() const { return mInsideImageLinkForm; }

  // ---- placed one-ups and PDF pages ----------------------------------------------
  // "Form_" + writer number + "_" + picture + "_" + the paint's page and box words.
  std::string MakePictureFormName(std::uint16_t paint) const;
  // Whether a one-up or placed-PDF form of a paint like this one is queued.
  bool HasPendingPictureForm(std::uint16_t paint) const;
  // "a b c d e f cm /Form_... Do".
  void DrawPictureForm(std::uint16_t paint, double a, double b, double c, double d, double e,
                       double f);
  // Places the paint's picture form by the paint's placement.
  void DrawPlacedPicture(std::uint16_t paint);
  // Writers of the pending flush: the nested one-up pass (on this writer) and
  // the one-up's form (on the nested writer), a placed PDF page's reference
  // XObject.
  void WriteOneUpForm(PendingStream& record);
  void BuildOneUpFormXObject(PendingStream& record);
  void BuildPlacedPdfFormXObject(PendingStream& record);

  // ---- fonts and text (written by pictures/) ---------------------------------------
  // The number of a job font in this writer's font list, appended when new;
  // -1 for the id -1.
  int RegisterFont(std::int32_t fontId);
  const std::vector<std::uint32_t>& GetFontList() const { return mFonts; }
  // The "Font" resources of the fonts the content stream selected; empties the list.
  void BuildFontResources();
  // The calculator's font and size ("/Fnt_w_n size Tf "), unless in force.
  void SelectTextFont(const texcaltyp* calc);
  // "scale Tz " and "spacing Tc " from the calculator's parameters.
  void WriteTextScale(const texcaltyp* calc);
  void WriteCharSpacing(const texcaltyp* calc);
  // The text matrix of the calculator's last character, in page points.
  std::array<double, 6> MakeTextMatrix(const texcaltyp* calc) const;
  // Puts a letter's place (job units) into the matrix: its last two entries.
  void PlaceTextMatrix(double v, double h, int ppi, std::array<double, 6>& matrix) const;
  // Shows the string at the matrix (Tm and Tj); a string of nothing or of
  // one blank shows nothing. The lines are held back in mTextLine until
  // FlushTextLines (or until they fill it).
  void ShowTextString(std::string_view text, const std::array<double, 6>& matrix);
  // Writes the operators of the text held back (ShowTextString, the font,
  // scale and spacing): before anything else goes to the content stream.
  void FlushTextLines();
  // Room for `room` bytes after what is held, and the end of what was
  // written there (flushing when much is held).
  char* HoldTextRoom(std::size_t room) {
    if (mTextLine.size() < mTextPending + room) mTextLine.resize(std::max(mTextPending + room, 2 * mTextLine.size()));
    return mTextLine.data() + mTextPending;
  }
  void HoldTextEnd(const char* end) {
    // Held back up to a few blocks of the stream's filters.
    constexpr std::size_t kTextLinesHeld = 32768;
    mTextPending = std::size_t(end - mTextLine.data());
    if (mTextPending >= kTextLinesHeld) FlushTextLines();
  }
  // "value name" held back; the name has three bytes ("Tz ").
  void HoldTextOperator(double value, const char* name);
  // Places the station-number form under its marked content.
  void DrawStationNumberForm(const std::string& name);
  // Appends a closed path through the points (job units, vertical first).
  static void AddClosedPolygon(std::vector<std::unique_ptr<TavDB::Object>>& paths, int count,
                               const TavDB::tv_point* points);
  void SetTextPassSplitter(std::unique_ptr<TextPassSplitter> splitter) {
    mTextPassSplitter = std::move(splitter);
  }

  // ---- accessors -----------------------------------------------------------------
  pdfouthan* GetHandler() const { return mHandler; }
  const PDFSettings& GetSettings() const { return mSettings; }
  std::int32_t GetWriterNumber() const { return mWriterNumber; }
  // The page's shared counter of writer numbers (a nested writer takes its
  // number from it); null for a writer without one.
  std::int32_t* GetWriterCounter() const { return mWriterCounter; }
  std::uint32_t GetVersionCode() const;
  PDFDictionary* GetResources() const { return mResources; }
  PDFDictionary* GetPatternDictionary() const { return mPatterns; }
  PDFDictionary* GetXObjectDictionary() const { return mXObjects; }
  PDFDictionary* GetExtGStateDictionary() const { return mExtGStates; }
  PDFDictionary* GetStreamDictionary() const { return mStreamDictionary; }
  PdfPending* GetPending() const { return mPending; }
  const std::set<std::int32_t>& GetUsedScreens() const { return mUsedScreens; }
  // The separated-output white-object optimisation in force for this writer:
  // the settings' value, switched off when the job has transparency.
  bool OptimizeWhiteObjects() const { return mOptimizeWhiteObjects; }
  bool GetPlacedPdfFlag() const { return mPlacedPdf; }
  bool GetNonSeparableBlendFlag() const { return mNonSeparableBlend; }
  bool IsNestedWriter() const { return mNestedWriter; }
  bool IsSingleSeparation() const { return mSingleSeparation; }
  void SetSingleSeparation(bool on) { mSingleSeparation = on; }
  int GetTrapLayerCount() const { return mTrapLayerCount; }
  const std::array<std::int32_t, 4>& GetPaintedArea() const { return mPaintedArea; }
  // Resolution at which gradations are rendered as images.
  std::int32_t GetGradationResolution() const { return mGradationResolution; }
  bool GetOverprintFlag() const { return mOverprint; }
  // The key and pass that the next colour request stands for.
  void SetColorKey(std::uint32_t key, std::uint32_t pass) {
    mColorKey = key;
    mColorPass = pass;
  }
  bool HasPendingFillColor() const { return mPendingFill != nullptr; }
  bool HasPendingStrokeColor() const { return mPendingStroke != nullptr; }

  // The gradation resolution chosen for the settings (flattener resolution,
  // lowered to the downsampling resolution where that applies).
  static std::int32_t ChooseGradationResolution(const PDFSettings& settings,
                                                double flattenerResolution);

 private:
  // The PostScript XObject of an EPS file and its preview image.
  void WritePostScriptXObject(const Paint& paint, const std::string& path, const std::string& queuedName);
  struct PendingColor {
    std::unique_ptr<ColorSpace> space;
    std::array<std::uint16_t, 64> tints{};
  };

  pdfoutfilter& Out();
  // Paints the object's shape in the paper colour in the inks of common.
  void KnockOutCommonInks(ColorSpace& common, TavDB::Object* object);
  // Registers each shading with the pending list and paints it ("sh") after
  // its overprint state.
  void PaintShadings(std::vector<std::unique_ptr<PDFShadingType>> shadings);
  void OutputGradientShading(TavDB::Object* object, const Paint& paint);
  void OutputGradationShading(TavDB::Object* object, const Paint& degrade);
  bool StrokeSide() const;
  // Paints the shape once per part of a pending fill colour of several parts;
  // false when the pending fill colour has one part or none.
  bool PaintPerPart(TavDB::Object* object, int mode);
  // After a record's writer: the record's resource names exist, or an empty
  // stand-in is entered with a warning.
  void EnsurePendingResources(const PendingStream& record, std::uint32_t kind);
  bool SkipWhite(const TavDB::Object* object);
  // The private dictionary of a PieceInfo entry of a form (made when missing).
  static PDFDictionary* GetPieceInfo(PDFDictionary* form, const char* owner);
  // New resource dictionaries for a form, sharing the page's colour spaces.
  FormResources MakeFormResources();
  // A form's ExtGState dictionary: the overprint states and, with dot gain,
  // the inks' transfer states.
  PDFDictionary* MakeFormExtGStates();
  // Writes a form's stream: the content runs with the form's dictionaries as
  // the writer's (and paintedArea, when given, as the painted area); then the
  // form's resources are completed and written. Returns the stream's reference.
  // The form is written as by a nested writer: it takes the next writer
  // number of the page's counter and starts its own name counters and font
  // list, so that its resource names are its own in the file and the
  // enclosing stream's fonts stay the enclosing stream's. A writer made for
  // the form alone (a one-up's) keeps the identity it was made with.
  PDFIndirectReference* WriteFormStream(PDFDictionary* form, FormResources& resources,
                                        const std::function<void()>& content,
                                        const std::array<std::int32_t, 4>* paintedArea,
                                        bool ownIdentity = true);
  void WriteTrapLayerPair();

  // ---- fields (see the header comment for ownership) -----------------------
  pdfoutfilter* mContent = nullptr;   // the open content stream's sink (the handler's)
  pdfouthan* mHandler;                // not owned
  PDFDictionary* mResources;          // registry-owned, not owned
  PDFDictionary* mPatterns;
  PDFDictionary* mXObjects;
  PDFDictionary* mExtGStates;
  PDFDictionary* mStreamDictionary;   // registry-owned
  // Painted-area box: top, left, bottom, right; starts empty.
  std::array<std::int32_t, 4> mPaintedArea{0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, -0x7FFFFFFF};
  const PDFSettings& mSettings;       // not owned
  bool mSharedHalftoneMode;
  // The construction's shared-halftone flag: the screens are the parent's,
  // so the writer defines no screen resources of its own.
  const bool mScreensFromParent;
  bool mNestedWriter;
  PDFDictionaryValue* mSharedHalftone;  // registry-owned; null for a page
  bool mOneUpLink;
  bool mHandlerFlag;
  bool mInsideOneUp;
  bool mPlacedPdf = false;
  bool mNonSeparableBlend = false;
  std::int32_t mSoftMaskDepth = 0;
  bool mWritingOneUpForm = false;
  bool mWritingTransparencyGroup = false;
  std::int32_t mSeparationCount = 0;
  bool mSingleSeparation = false;
  std::int32_t mTrapLayerCount = 0;
  std::int32_t mWriterNumber = 0;
  std::int32_t* mWriterCounter;       // not owned
  PdfPending* mPending;               // not owned
  std::map<std::int32_t, PDFBaseClass*>* mFormCache;  // the handler's
  std::uint32_t mSearchFlags = 0x20000;
  PDFArray* mContents = nullptr;      // registry-owned; writer 0 only
  std::shared_ptr<seppdftyp> mSepData;
  bool mOptimizeWhiteObjects = false;
  bool mFinished = false;
  // Inside a form written for an object (they stop the same object from
  // becoming a form again).
  bool mInsideCadForm = false;
  bool mInsideOpiForm = false;
  bool mInsideImageLinkForm = false;
  std::int32_t mTransparencyNesting = 0;
  std::int32_t mCadFormCount = 0;
  // While the content of a CAD or station-number form is written: a clipped
  // fill that paints nothing is still written, as a shape in no ink.
  bool mForcedOutput = false;
  // Paths handed to the walker so far (compound paths write their painting
  // operator only when one of their sub-paths was written).
  std::int64_t mPathsWritten = 0;
  // Patterns whose cells leave inks in use untouched (pattern -> answer).
  std::map<int, bool> mUntouchedPatterns;
  // Paints already converted for opaque inks (paint -> converted paint).
  std::map<std::uint16_t, std::uint16_t> mOpaqueConversions;

  // Colour state (the writer's side of the graphics-state cache).
  std::uint32_t mColorKey = 0;
  std::uint32_t mColorPass = 0;
  bool mOverprint = false;
  std::unique_ptr<PendingColor> mPendingStroke;
  std::unique_ptr<PendingColor> mPendingFill;
  // The fill colour record written last, kept for the next one (without a
  // space): every text and path sets a colour.
  std::unique_ptr<PendingColor> mSparePending;
  std::set<std::int32_t> mUsedScreens;
  // Halftones written for screens (screen number -> registry-owned halftone).
  std::map<int, PDFDictionaryValue*> mScreenHalftones;
  // Fonts selected in the stream (font ids in first-use order).
  std::vector<std::uint32_t> mFonts;
  // Name counters, one per kind of resource name.
  struct NameCounters {
    std::uint32_t image = 0, transparencyGroup = 0, opiForm = 0, imageLink = 0,
                  stationNumber = 0, cadForm = 0, graphicsState = 0, barcodeForm = 0;
  } mNameCounters;
  // "<prefix><writer>_<n>" with the counter's value before it is incremented.
  std::string NextName(const char* prefix, std::uint32_t& counter);
  // The next writer number for a form of this writer: the page's counter's,
  // or, for a writer made without one, its own count.
  std::int32_t TakeWriterNumber();
  std::int32_t mOwnWriterCount = 0;
  bool mScreeningNotSupportedShown = false;
  bool mDefaultScreeningShown = false;

  MappedPictureCache mPictureCache;
  std::string mPreviewName;            // the preview drawn last by writer 0

  // While a soft mask is written for an image-link graphics state: pictures
  // inside it are drawn at their placement, not as image links.
  bool mImageLinksSuppressed = false;
  // While a transparency group of a picture-map group is written.
  bool mPaintMapGroup = false;
  // While the content of a knockout group is written.
  bool mGroupKnockout = false;
  // The opacity-mask graphics states queued for map paints, by the ExtGState
  // dictionary they are entered in and the paint.
  std::map<std::pair<const PDFDictionary*, std::uint16_t>, std::string> mMapOpacityMasks;
  // A nested one-up writer placed with a screen: that screen's graphics state.
  std::string mOneUpScreenName;
  // The colour spaces of shadings by their stops (and whether inside a soft
  // mask), found by a hash of the stops.
  struct ShadingSpaces {
    bool inSoftMask = false;
    std::vector<std::array<std::uint16_t, 64>> tints;
    std::unique_ptr<ColorSpace> united;
    std::unique_ptr<ColorSpace> common;  // null when no ink is knocked out
  };
  std::unordered_multimap<std::size_t, ShadingSpaces> mShadingSpaces;

  std::unique_ptr<TextPassSplitter> mTextPassSplitter;  // owned; usually null
  // The number of colour-space parts (colour operators) a text's paint
  // needs; answers kept by paint.
  int TextPaintParts(std::uint16_t paint);
  std::map<std::uint16_t, int> mTextPaintParts;
  // One BT ... ET of a text in the colour part `pass` of its paints (runs
  // whose paint has no such part show nothing); the rules go to `rules`
  // when given. `first` is the first run's paint converted for opaque inks.
  void WriteTextObject(TavDB::Object* text, texcaltyp* calc, int pass, std::uint16_t first,
                       std::vector<std::unique_ptr<TavDB::Object>>* rules);
  // The text whose own transparency group is being written (its copy in
  // the group's record); not owned.
  const TavDB::Object* mTextGroupObject = nullptr;
  // ShowTextString's line buffer (kept for its capacity: a text shows many
  // strings), the length of the lines in it not yet written, and the first
  // four text matrix entries it wrote last with their text (they stay the
  // same through a text).
  std::string mTextLine;
  std::size_t mTextPending = 0;
  std::array<double, 4> mTextMatrixHead{};
  std::array<char, 4 * (TavNumber::kNumberTextMax + 1)> mTextMatrixHeadText{};
  std::size_t mTextMatrixHeadLength = 0;  // 0: none yet
  // The last vertical place it wrote, with its text (0 long: none yet).
  double mTextMatrixY = 0;
  std::array<char, TavNumber::kNumberTextMax> mTextMatrixYText{};
  std::size_t mTextMatrixYLength = 0;

  // Deferred resources, in queuing order.
  std::vector<std::shared_ptr<PendingStream>> mPendingStreams;
  bool mWritingPictureCache = false;
  bool mFlushSuppressed = false;

  // Raster images (one open at a time).
  int mImageMode = 0;              // 2 inverts the decode sense
  bool mJpegPassThrough = false;   // the caller copies JPEG data itself
  // A queued picture file is written under the name its form drew.
  std::string mPictureRecordName;
  // Placed files written at once by this writer, by WrittenPictureKey; the
  // key of the image being written (empty for images of no file).
  std::map<std::string, WrittenPicture> mWrittenPictures;
  std::string mWrittenPictureKey;
  std::string WrittenPictureKey(const TavSys::filref& file) const;
  // Where an EPS file's bounding-box corner lies from the PostScript's origin
  // on the page (points).
  double mEpsOffsetX = 0, mEpsOffsetY = 0;
  bool mPreviewFlag = false;
  bool mImageBegun = false;
  std::string mCurrentImageName;
  pdfoutfilter* mImageSink = nullptr;              // an image's own stream (the handler's)
  std::unique_ptr<TavSys::fil> mTempFile;          // the pixel path's temporary file
  std::unique_ptr<pdfoutfil> mTempOutput;          // over mTempFile
  pdfoutfilter* mTempSink = nullptr;               // the encoding over mTempOutput (owned unless it is it)
  std::shared_ptr<CachedStreamBufferTiff> mTempBuffer;
};

// Draws the preview of a placed picture ("<image name>_preview", scaled to
// the picture's size in points) and queues its image unless a preview of the
// same file is queued already. Nothing happens for a picture whose file
// cannot be opened. Returns 0.
int WritePicturePreview(PDFProof& writer, std::uint16_t paint);
// The size in whole points at which WritePicturePreview draws the preview;
// false when the picture's file cannot be opened.
bool PicturePreviewSize(PDFProof& writer, std::uint16_t paint, double& width, double& height);

}  // namespace TavPDF

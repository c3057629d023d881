#pragma once
// The job model: our own data model of a prepress job, in place of the
// host's kernel. The engine reads it through the kernel's functions below
// (jobGetSpahan, sepsoruse, paipoi, colsep, getbox, ...); the fields of jobstr
// are public as well, for the loader, the tests and the few writers that need
// more than the functions give.
//
// Conventions kept from the kernel, so that arithmetic carries over:
//   - coordinates are integer job units at `ppi` units per inch, vertical axis
//     pointing down; points and rectangles give the vertical coordinate first;
//   - a separation (ink) lives in a slot 0..63; positions in the job's
//     separation order ARE the slots (sepsoruse(job, p, ..) is p or negative);
//   - per-ink values of a colour are 8-bit percentages 0..100 where 255 leaves
//     the ink untouched; 16-bit tints use 25600 for 100 % and 65280 for
//     "undefined";
//   - paints, colours, pictures, maps, patterns and screens are addressed by
//     16-bit indices chosen by the job file (indices keep their meaning).
//
// Mutability: the engine may change a job for the duration of one export
// (origin, enabled separations, added paints and colours, a marks layer, a
// swapped object tree). JobStateGuard saves what can be changed and puts it
// back when it is destroyed; swapping the tree is a pointer exchange.
#include <array>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/kernel/geometry.h"
#include "platform/kernel/screening.h"
#include "platform/kernel/tavdb.h"

class dotjob;
namespace TavricCore {
class FontCache;
}

inline constexpr int kMaxSeparations = 64;
inline constexpr std::uint16_t kTintFull = 25600;      // 100 % on the 16-bit scale
inline constexpr std::uint16_t kTintUndefined = 65280;
inline constexpr std::uint8_t kPercentUntouched = 255;  // the ink is left as it is
inline constexpr std::uint16_t kNoScreen = 65534;
inline constexpr std::uint16_t kNoSoftMask = 10000;     // soft-mask pattern word: none
inline constexpr std::uint16_t kOpacityFull = 25600;    // paint opacity word: opaque
inline constexpr std::uint16_t kSecondOpacityNone = 10000;
inline constexpr std::uint16_t kNoMixingColour = 0xFFFF;  // a map without mixing colour
// Paint index given to open paths before output: the "no fill" paint. The
// loader creates it (a paint leaving every ink untouched) unless the job file
// defines index 2 itself.
inline constexpr std::uint16_t kPaintNoFill = 2;

// Box kinds of getbox / getboxconst.
enum BoxKind : int { kMediaBox = 0, kCropBox = 1, kBleedBox = 2, kArtBox = 3, kTrimBox = 4 };

// Bits answered by sepisused.
inline constexpr int kSepUsed = 1;            // used by the job's objects
inline constexpr int kSepUsedInSoftMask = 2;  // used by soft masks

struct Separation {
  bool exists = false;
  std::string name;            // UTF-8, as the job names it
  std::string xmpName;         // name in XMP ink lists; empty = name
  int process = -1;            // -1 spot, 0 cyan, 1 magenta, 2 yellow, 3 black
  std::array<std::uint8_t, 4> cmyk{};   // CMYK equivalent at 100 %, percentages
  std::array<std::uint8_t, 3> rgb{};    // screen colour
  bool used = false;           // kSepUsed (derived from the objects unless the file says)
  bool softMaskUsed = false;   // kSepUsedInSoftMask
  bool opaque = false;
  bool technical = false;      // technical ink (die line, white underprint marks, ...)
  bool varnish = false;
  bool output = true;          // the separation disabler: false = not to be output
  bool enabled = true;         // enable state, changed by the exporter
  bool cmykFlag = false;       // the per-ink CMYK flag (clearCMYKFlagsIfNeeded / setCMYKFlags)
  std::uint16_t screen = kNoScreen;  // screen index
  std::string dotgainCurve;    // name of the ink's dot-gain curve, empty = none
  int mappedTo = -1;           // separation map: slot this ink is remapped to, -1 = none
  // While an export honours the separation map (DisableSeparationParameters):
  // the slot whose output parameters (its dot-gain curve) this remapped ink
  // prints with, -1 = its own.
  int parametersOf = -1;
};

// A colour: one 8-bit percentage per separation slot.
struct Colour {
  bool exists = false;
  std::array<std::uint8_t, kMaxSeparations> pct;  // 0..100, 255 = untouched
  bool overprint = false;      // colistra
  bool registration = false;   // the registration colour (all separations)
  // Colours derived by the exporter (opaque inks) keep their exact tints on
  // the 25600 scale; pct then holds them rounded to whole percent.
  std::optional<std::array<std::uint16_t, kMaxSeparations>> tints;
  Colour() { pct.fill(kPercentUntouched); }
};

enum PaintType : std::uint8_t {
  kPaintFlat = 0,
  kPaintLinear = 1,     // two-colour linear gradient
  kPaintRadial = 2,     // two-colour radial gradient
  kPaintPicture = 3,    // placed picture (pixels, EPS, PDF or a one-up job)
  kPaintPattern = 5,
  kPaintGradation = 6,  // multistep gradation (degrade)
  kPaintMap = 7,        // continuous-tone picture map
};

struct GradationStep {
  std::uint16_t colour = 0;
  std::int32_t position = 0;   // job units along the gradation's axis
  // Offset in job units from this step's position to where the mix of this
  // step's colour and the next one's is 50 % (half the way by default; 0 for
  // the last step).
  std::int32_t midpoint = 0;
};

// Transparency words of a paint.
struct PaintTransparency {
  std::uint16_t opacity = kOpacityFull;              // CA/ca = opacity / 25600
  std::uint16_t secondOpacity = kSecondOpacityNone;  // 10000 = no soft mask
  // Blend mode, the kernel's numbering: 0 Normal, 1 Multiply, 2 Screen, 3 Overlay,
  // 4 SoftLight, 5 HardLight, 6 ColorDodge, 7 ColorBurn, 8 Darken, 9 Lighten,
  // 10 Difference, 11 Exclusion; 12..15 the non-separable Hue, Saturation,
  // Color, Luminosity.
  std::uint8_t blendMode = 0;
  std::uint32_t flags = 0;      // bit 0 alpha is shape, bit 1 isolated, bit 2 knockout
  std::uint16_t softMask = kNoSoftMask;  // pattern index of the soft mask, 10000 = none
};

struct Paint {
  bool exists = false;
  PaintType type = kPaintFlat;
  std::uint16_t colour = 0;     // flat: its colour; gradients: the start colour
  std::uint16_t colour2 = 0;    // gradients: the end colour
  // Linear gradients: the axis from start (colour) to end (colour2). Radial
  // gradients: two opposite points of the outer circle, whose centre lies
  // midway; colour on the outer circle, colour2 at the centre. Gradations:
  // where position 0 lies (the centre of a circular one).
  TavDB::tv_point start, end;
  // Gradation (type 6)
  enum GradationForm : std::uint8_t { kGradHorizontal = 0, kGradVertical = 1, kGradCircular = 2, kGradOther = 3 };
  GradationForm gradationForm = kGradHorizontal;
  std::vector<GradationStep> steps;
  TavDB::tv_point focus;        // circular gradations: focus offset from the centre
  std::int32_t gradationLength = 0;  // the gradation's length in job units
  TavDB::tv_box gradationBox;   // bounding box (a circular gradation's radius is half its width)
  double matrix[4] = {1, 0, 0, 1};  // paintGetMatrix: placement of a gradation or pattern
  // Picture (3), map (7), pattern (5)
  int picture = -1;
  int map = -1;
  int pattern = -1;
  // Pattern paints: kPatternTiling writes the cell as a tiling pattern,
  // kPatternExpanded writes the tiles as objects of the page.
  enum PatternKind : std::uint8_t { kPatternTiling = 1, kPatternExpanded = 2 };
  PatternKind patternKind = kPatternTiling;
  // Placement of a picture or map: the picture's origin corner (its first
  // pixel), the corner at the end of its first row and the corner at the end
  // of its first column, in job units.
  TavDB::tv_point placeOrigin, placeWidthCorner, placeHeightCorner;
  std::uint16_t pdfPage = 0;    // placed PDF: page (0 = first)
  std::uint16_t pdfBox = 0;     // placed PDF: box kind used
  // Common words
  std::uint16_t singleSeparation = 0;  // 0 = all separations, else slot + 1
  std::uint16_t screen = kNoScreen;
  bool overprint = false;       // paiistra: the paint leaves what lies below
  bool registration = false;
  PaintTransparency transparency;
};

// A placed picture (paint type 3). Its file lies beside the job file.
struct Picture {
  bool exists = false;
  TavSys::filref file;          // absolute path after loading
  std::string type;             // picgetinfo: "TIFF", "JPEG", "EPS", "PDF", "ART" (one-up job), ...
  std::int32_t width = 0;       // pixels (raster) or job units at scale 1 (vector)
  std::int32_t height = 0;
  double resolution = 0;        // pixels per inch, 0 = unknown
  int colorSpaceCode = 0;       // getPictureColorSpace: 0 gray, 1 bitmap, 2 RGB, 5 CMYK, 8 multichannel
  bool vector = false;          // EPS, PDF and jobs are vector formats
  bool pdfNormalized = false;   // placed PDF carries workflow data
  bool dcs = false;             // placed EPS: a DCS file (separations in plate files)
  bool unknown = false;         // the file could not be identified
  int pdfPage = 0;
  TavDB::tv_box box;            // bounding box in the picture's own job units
  TavDB::tv_point originalOrigin;
  // The placed file's own box in points (left, bottom, right, top): an EPS
  // file's bounding box, a PDF page's crop box as the page is shown (turned
  // by its Rotate, its lower left corner kept). All 0 when not read.
  std::array<double, 4> fileBox{};
  // Why the placed file could not be read when the job was loaded ("" when
  // it was read, or not looked at).
  std::string readError;
  std::bitset<kMaxSeparations> seps;  // slots the picture uses (picsepuse)
  // A one-up (type "ART"): the nested job, loaded with its parent. Shared so
  // that several placements of one file use one model.
  std::shared_ptr<jobstr> job;
};

// One channel of a map: the file and the channel in it that feeds a slot.
struct MapChannel {
  int separation = -1;          // slot
  int file = 0;                 // index into PictureMap::files
  int channel = 0;              // channel within the file
  std::uint16_t opacity = kOpacityFull;  // share of the opacity channel the ink takes (25600 = all)
};

// A continuous-tone picture map (paint type 7): one or more pixel files whose
// channels are mapped onto separations.
struct PictureMap {
  bool exists = false;
  std::vector<TavSys::filref> files;
  std::vector<MapChannel> channels;
  int opacityFile = -1;         // file of the opacity channel, -1 = none
  int opacityChannel = 0;
  std::uint16_t colour1 = 0;    // the map's colour (ink of the dark end)
  std::uint16_t colour2 = kNoMixingColour;  // the mixing colour (light end)
  std::int32_t width = 0, height = 0;  // pixels
  double resolution = 0;        // pixels per inch (> 0; the job's ppi unless the file says)
  double scale = 1;             // the map's scale (pixels cover scale × ppi / resolution job units)
  bool internal = false;        // pixel data held by the job rather than linked
  bool noOpi = false;
  // Set on a copy made for one export (never read from or written to a job
  // file): the slot of an opaque ink that takes its share off the inks of
  // the lower slots pixel by pixel, -1 for none.
  int opaqueKnockout = -1;
};

// A pattern: a tiling cell or the objects of a soft mask.
struct PatternRec {
  bool exists = false;
  enum Kind : std::uint8_t { kTiling = 1, kSoftMask = 2 } kind = kTiling;
  std::unique_ptr<TavDB::Object> objects;  // owned list of the cell or mask objects
  TavDB::tv_box cell;           // tiling cell
  TavDB::tv_point corners[3];   // origin, width corner, height corner of the cell placement
  std::uint32_t maskFlags = 0;  // bit 2: luminosity; bit 4: inverted
};

// A press curve of a named-dot screen for one ink.
struct PressCurve {
  std::string name;             // "" = none; "Tonematch_..." for a press's tone curve
  int number = 0;               // follows a Tonematch curve's name
};

// A halftone screen.
struct Screen {
  bool exists = false;
  enum Kind : std::uint8_t { kClassic = 0, kNotWritable = 1, kExtended = 2, kNamedDot = 3 } kind = kClassic;
  std::string name;
  int dotShape = 0;             // dot-shape code
  std::string customSpot;       // custom spot function text
  double ruling = 0;            // lines per inch, 0 = unknown
  std::array<double, kMaxSeparations> angle;  // per slot, -360 = unknown
  std::string dotName;          // named-dot screens
  std::array<PressCurve, kMaxSeparations> pressCurves;  // named-dot screens, per slot
  std::shared_ptr<const dotjob> dotgain;                // classic screens; may be null
  std::optional<ScreeningDictionary> extended;         // extended screens (angle per ink above)
  Screen() { angle.fill(-360.0); }
};

struct Note {
  std::string text;             // UTF-8
  TavDB::tv_point anchor;
  std::string author;
};

// CAD (die-cut) data of the job.
struct CADData {
  TavDB::tv_box boundingBox;
  int printableAreaID = 0;
  int printableAreaCount = 0;
  bool mirror = false;
  std::string file;             // source CAD file name
  double registrationAngle = 0; // CAD registration for XMP
  double registrationOffsetV = 0, registrationOffsetH = 0;
  const TavDB::tv_box& GetBoundingBox() const { return boundingBox; }
  int GetPrintableAreaID() const { return printableAreaID; }
  int GetPrintableAreaCount() const { return printableAreaCount; }
  bool GetMirror() const { return mirror; }
};

// A station of a step and repeat: its number and where its one-up lies.
struct Station {
  int number = 0;
  TavDB::tv_box area;
};

struct EditEntry {
  int code = 0;                 // 22 PDF export, 43 separation, ...
  std::string text;             // UTF-8
  std::int64_t time = 0;        // seconds since 1970
  std::vector<TavDB::tv_box> boxes;
};

class EditHistoryList {
 public:
  void AddEntry(int code, std::string text, std::vector<TavDB::tv_box> boxes = {});
  const std::vector<EditEntry>& entries() const { return entries_; }
  std::vector<EditEntry>& entries() { return entries_; }

 private:
  std::vector<EditEntry> entries_;
};

// Information about a certified PDF the job was made from.
struct CertifiedPDFInfo {
  std::string creator;
  std::int64_t creationDate = 0;
  std::string originalPDFFullPath;
};

// A link parameter of the job (key: 32-bit id).
struct LinkParameter {
  std::string label;            // UTF-8
  std::string shortName;
  double number = 0;
  std::string text;
  bool isText = false;
};

// Settings of the registration and crop marks the exporter may add.
struct MarksInfo {
  bool cropMarks = false;
  bool registrationMarks = false;
  std::int32_t offset = 0;      // job units between the trim box and the marks
  std::int32_t length = 0;      // job units
  double lineWidth = 0;         // job units
};

struct TrimAndBleedInfo {
  bool present = false;
  int trimLeft = 0, trimBottom = 0, trimRight = 0, trimTop = 0, bleed = 0;
};

struct jobstr {
  jobstr();
  ~jobstr();
  jobstr(const jobstr&) = delete;
  jobstr& operator=(const jobstr&) = delete;

  // Identity
  std::string name;             // clean document name (filnamcle)
  std::string description;      // job description (JDF JobID)
  TavSys::filref rootFile;      // filrefroo; may be empty
  TavSys::filref originalFile;  // filrefori: the job file itself
  std::array<int, 3> creatorVersion{0, 0, 0};
  std::map<std::string, std::string> customerInfo;

  // Resolution and origin
  int ppi = 72;                 // job units per inch, > 0
  TavDB::tv_point origin;       // getOriginalOrigin / setOriginalOrigin
  double scale = 1.0;

  // Boxes of kinds 0..4, and the kind to use as the default of each kind.
  std::array<std::optional<TavDB::tv_box>, 5> boxes;
  std::array<int, 5> defaultBoxType{0, 1, 2, 3, 4};

  // Separations by slot; slots 0..inkCount-1 are in use, in the job's order.
  std::array<Separation, kMaxSeparations> separations;
  int inkCount = 0;

  // Tables addressed by index; an index with exists == false is not defined.
  std::vector<Colour> colours;
  std::vector<Paint> paints;
  std::vector<Picture> pictures;
  std::vector<PictureMap> maps;
  std::vector<PatternRec> patterns;
  std::vector<Screen> screens;

  // The object tree (owned; see jobGetSpahan / jobSetSpahan).
  std::unique_ptr<TavDB::Object> spatialTree;

  std::optional<CADData> cad;
  std::vector<Station> stations;
  std::vector<Note> notes;
  EditHistoryList editHistory;
  std::optional<CertifiedPDFInfo> certified;
  std::map<std::uint32_t, LinkParameter> linkParameters;
  std::map<std::string, std::string> parameters;  // TavLink parameters (name -> value)
  TrimAndBleedInfo trimAndBleed;
  MarksInfo marks;
  std::string solvaraSettings;  // extended-gamut settings, empty = none

  jobstr* parent = nullptr;     // the job a one-up is placed in; not owned

  // The object lists read from the job file, for messages that name an
  // object's place in it (platform/kernel/objectplace.h): the list (owned by
  // the job; marked ObjectExtra::fileList), its JSON pointer ("/objects",
  // "/patterns/0/objects") and how many members the file gave it.
  struct FileList {
    const TavDB::Object* list = nullptr;
    std::string place;
    std::size_t members = 0;
  };
  std::vector<FileList> fileLists;

  // Each slot's share of the media box in percent at the last ink coverage
  // measurement (calculateInkCoverage); state beside the job's content.
  std::array<double, kMaxSeparations> inkCoverage{};

  // The fonts of the job's texts and the codes of their characters, made on
  // first use (TavricCore::jobGetFontCache); state beside the job's content.
  mutable std::shared_ptr<TavricCore::FontCache> fontCache;

  bool HasSolvaraSettings() const { return !solvaraSettings.empty(); }
  const std::string& GetSolvaraSettings() const { return solvaraSettings; }
  const CADData* GetCADData() const { return cad ? &*cad : nullptr; }
  void SetParentJob(jobstr* p) { parent = p; }

  // Adds a paint or colour at the first free index >= 7 (the low indices keep
  // their reserved meanings); returns the index.
  std::uint16_t addPaint(Paint paint);
  std::uint16_t addColour(Colour colour);
  // Adds a pattern (a moved soft mask, say) at the first free index >= 7
  // other than kNoSoftMask; returns the index. Patterns are held by value:
  // adding one may move the others (their objects stay where they are).
  std::uint16_t addPattern(PatternRec pattern);
  std::uint16_t addMap(PictureMap map);
};

// ---- Saving and restoring what an export changes ------------------------------

// Saves the origin, boxes, separation states (enabled, output, CMYK flags,
// mapping) and which entries of the paint, colour, pattern and map tables
// exist; restores them on destruction (entries added meanwhile are dropped,
// free places they took below the old end included). The object
// tree is not copied: swap it with jobSetSpahan and put the old one back.
class JobStateGuard {
 public:
  explicit JobStateGuard(jobstr* job);
  ~JobStateGuard();
  JobStateGuard(const JobStateGuard&) = delete;
  JobStateGuard& operator=(const JobStateGuard&) = delete;

 private:
  jobstr* job_;
  TavDB::tv_point origin_;
  std::array<std::optional<TavDB::tv_box>, 5> boxes_;
  struct SepState { bool enabled, output, cmykFlag; int mappedTo, parametersOf; };
  std::array<SepState, kMaxSeparations> seps_;
  // Which entries of the paint, colour, pattern and map tables existed.
  std::vector<bool> paints_, colours_, patterns_, maps_;
};

// ---- Job, tree, boxes, origin ----------------------------------------------

// The object tree (not owned by the caller); never null for a loaded job.
TavDB::Object* jobGetSpahan(const jobstr* job);
// Puts tree in place of the job's tree and returns the old one (owned by the caller).
std::unique_ptr<TavDB::Object> jobSetSpahan(jobstr* job, std::unique_ptr<TavDB::Object> tree);
const std::string& filnamcle(const jobstr* job);
// Root and original file references; null when the job has none.
const TavSys::filref* filrefroo(const jobstr* job);
const TavSys::filref* filrefori(const jobstr* job);

// Vertical origin first.
TavDB::tv_point getOriginalOrigin(const jobstr* job);
void setOriginalOrigin(jobstr* job, TavDB::tv_point origin);

// Whether the job has a box of the kind (0..4); the box (top, left, bottom, right).
bool getboxconst(const jobstr* job, int kind, TavSys::tv_rectangle& box);
// The box of a kind, or an all-zero rectangle when the job lacks it.
TavSys::tv_rectangle getboxconst(const jobstr* job, int kind);
// Like getboxconst; a missing box falls back to the media box.
bool getbox(const jobstr* job, int kind, TavSys::tv_rectangle& box);
// The box kind to use as the default of a kind (the job file may name
// another kind, e.g. the media box as the default trim box).
int getdefaultboxtype(const jobstr* job, int kind);
void setbox(jobstr* job, int kind, const TavDB::tv_box& box);

// ---- Separations -------------------------------------------------------------

// Number of separation positions in use (slots 0..n-1).
int sepfrejob(const jobstr* job);
// The separation at a position (= slot), or -1 when the slot is empty or,
// unless includeDisabled, disabled.
int sepsoruse(const jobstr* job, int position, bool includeDisabled = false);
// 0..3 for a process ink (C, M, Y, K), -1 for a spot ink or an empty slot.
int sepiscmyk(const jobstr* job, int sep);
// The slot of process ink k (0..3) or -1.
int sepgetcmyk(const jobstr* job, int k);
// Number of separations to output: enabled (or, with includeDisabled, all)
// slots that are used; with includeCMYK the job's process inks count even
// when unused.
int sepGetCount(const jobstr* job, bool includeDisabled, bool includeCMYK);
// Bit set: kSepUsed, kSepUsedInSoftMask; 0 for an empty slot.
int sepisused(const jobstr* job, int sep, bool recompute = false);
// Whether the ink occurs in the job's objects (derived at load time).
bool sepsearch(const jobstr* job, int sep);
void sepEnable(jobstr* job, int sep);
void sepDisable(jobstr* job, int sep);
void sepEnableAll(jobstr* job);
void sepDisableAll(jobstr* job);
bool sepIsEnabled(const jobstr* job, int sep);
// UTF-8 name; "" for an empty slot.
const std::string& GetSeparationName(const jobstr* job, int sep);
const std::string& sepnampoi(const jobstr* job, int sep);
// CMYK-aware name: process inks are named "Cyan", "Magenta", "Yellow", "Black".
std::string sepnamcmykpoiUTF8(const jobstr* job, int sep);
// CMYK equivalent of an ink at 100 %: as percentages 0..100 ...
void sepcmyk(const jobstr* job, int sep, std::uint8_t& c, std::uint8_t& m, std::uint8_t& y,
             std::uint8_t& k);
void sepcmyk_(const jobstr* job, int sep, std::uint8_t& c, std::uint8_t& m, std::uint8_t& y,
              std::uint8_t& k);
// ... or as 16-bit values on the 25600 scale.
void sepcmyk(const jobstr* job, int sep, std::uint16_t& c, std::uint16_t& m, std::uint16_t& y,
             std::uint16_t& k);
// CMYK equivalent (percentages, 0..100 each) of a mix given as 8-bit
// percentages per position (255 = untouched counts as 0): process inks add
// their share, spot inks their CMYK equivalent scaled by their share; each
// channel is combined multiplicatively (1 - Π(1 - share)) and clipped.
void sepcmyk(const jobstr* job, const std::uint8_t* pct, double& c, double& m, double& y,
             double& k);
void sepgetrgb(const jobstr* job, int sep, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b);
// Lays the ink over n CMYK samples: in holds n one-byte ink samples (0 = full
// ink, 255 = none), out receives n×4 bytes C, M, Y, K (0..255).
void sepcmyklin(const jobstr* job, int sep, const std::uint8_t* in, std::uint8_t* out, int n);
bool separationIsOpaque(const jobstr* job, int sep);
bool separationIsTechnical(const jobstr* job, int sep);
bool separationIsVarnish(const jobstr* job, int sep);
// Save the per-ink CMYK flags into block (64 ints) and clear them; restore them.
void clearCMYKFlagsIfNeeded(jobstr* job, int* block);
void setCMYKFlags(jobstr* job, const int* block);

namespace TavricLib {
// The slot of the ink with this exact name, or -1.
int FindSeparation(const jobstr* job, const std::string& name);
// Whether the name is a process colour name (Cyan, Magenta, Yellow, Black;
// case-insensitive).
bool SeparationNameIsCMYK(const std::string& name);
}  // namespace TavricLib

// The separation map and disabler of a job: which inks are output and which
// are remapped onto another ink.
class seppdftyp {
 public:
  explicit seppdftyp(const jobstr* job) : job_(job) {}
  // Whether the separation is to be output (its `output` flag).
  static bool NeedsOutputting(const jobstr* job, int sep);
  bool NeedsOutputting(int sep) const { return NeedsOutputting(job_, sep); }
  // The slot an ink is remapped to, or -1 when it is not remapped.
  int GetMappedTo(int sep) const;
  const jobstr* job() const { return job_; }

 private:
  const jobstr* job_;  // not owned
};

// ---- Colours and paints ----------------------------------------------------------

// The paint record, or null when the paint index is not defined.
const Paint* paipoi(const jobstr* job, int paint);
// The paint's type (0 flat, 1, 2, 3, 5, 6, 7); non-zero means a paint that is
// not a plain flat fill. -1 for an undefined paint.
int paifla(const jobstr* job, int paint);
// The 64 per-slot percentages of a colour, or null when the colour is not defined.
const std::uint8_t* colsep(const jobstr* job, int colour);
// The 64 tints of a colour on the 25600 scale (255 -> 65280 undefined); all
// undefined for an undefined colour.
std::array<std::uint16_t, kMaxSeparations> colsep16(const jobstr* job, int colour);
bool colistra(const jobstr* job, int colour);
// The percentages / tints of a paint's (first) colour; null / all undefined
// when the paint or its colour is not defined.
const std::uint8_t* paisep(const jobstr* job, int paint);
std::array<std::uint16_t, kMaxSeparations> paisep16(const jobstr* job, int paint);
// Whether the paint overprints what lies below (the paint's or its colour's flag).
bool paiistra(const jobstr* job, int paint);
bool paintHasTransparency(const jobstr* job, int paint);
bool paintHasNonseparableBlendmode(const jobstr* job, int paint);
std::uint16_t paintGetScreen(const jobstr* job, int paint);
// White: a flat paint whose colour has 0 % in every ink it touches and touches one at least.
bool paintIsWhite(const jobstr* job, int paint);
// New flat paints from percentages or from tints (tints are rounded to
// percentages; 65280 becomes 255); the index of the new paint.
std::uint16_t painewflat(jobstr* job, const std::uint8_t* pct);
std::uint16_t painewflat16(jobstr* job, const std::uint16_t* tints);

// The four placement coefficients m0..m3 of a gradation or pattern paint, in
// stored order; null for an undefined paint.
const double* paintGetMatrix(const jobstr* job, int paint);
// The kernel's placement words 9..14 of a picture or map paint: the origin
// corner (v, h), then the width-direction corner and the height-direction
// corner, each given as origin + (corner - origin) × 10000 / pixels along
// that edge, i.e. the step of one pixel times 10000 (the picture's or map's
// width and height; for vector pictures their size in job units). False, with
// words untouched, when the paint is not a placed picture or map, its size is
// unknown (0) or a word leaves the int32 range.
bool paintPlacementWords(const jobstr* job, int paint, std::int32_t words[6]);
// A paint like `paint` but with the transparency of paint `from` (0: opaque,
// no transparency); `paint` itself when nothing changes, else a new paint.
std::uint16_t paintAdjustTransparency(jobstr* job, int paint, int from);
// A paint like `paint` with another screen; `paint` itself when it has it.
std::uint16_t paintAdjustScreen(jobstr* job, int paint, std::uint16_t screen);
// Screen modes: how the workflow's own marks drawn by the job (die lines,
// station numbers) are screened. kScreenModeLineArt: they are line art and
// take no screen of their own, whatever their paints say (they print with
// the page's default screening); any other mode keeps the paints' screens.
inline constexpr int kScreenModeLineArt = 2;
// The paint as the screen mode screens it; `paint` itself when nothing changes.
std::uint16_t paintAdjustScreenForMode(jobstr* job, int mode, int paint);

namespace TavricLib {
// The job's process inks in C, M, Y, K order (slots; absent kinds left out).
std::vector<int> GetSortedCmyk(const jobstr* job);
// A paint draws nothing: undefined, or a flat colour or gradient whose colours
// leave every ink untouched.
bool PaintIsInvisible(const jobstr* job, int paint, bool ignoreTransparency = false);
bool PaintIsRegistration(const jobstr* job, int paint);
}  // namespace TavricLib

// ---- Pictures, maps, patterns, screens --------------------------------------------

const Picture* picpoi(const jobstr* job, int picture);
// Type text ("TIFF", "EPS", "PDF", "ART", ...); "" for an undefined picture.
const std::string& picgetinfo(const jobstr* job, int picture);
const TavSys::filref* picfilref(const jobstr* job, int picture);
bool picisart(const jobstr* job, int picture);
bool picispdf(const jobstr* job, int picture);
bool piciseps(const jobstr* job, int picture);
bool pdfIsNormalized(const jobstr* job, int picture);
bool pictureIsUnknown(const jobstr* job, int picture);
bool picisvectorformat(const jobstr* job, int picture);
int getPictureColorSpace(const jobstr* job, int picture);
// Size at a scale: vertical (height) first, as the kernel gives it.
void picsiz(const jobstr* job, int picture, double scale, std::int32_t& v, std::int32_t& h);
bool picsepuse(const jobstr* job, int picture, int sep);
int pictureGetPage(const jobstr* job, int picture);
// The nested job of a one-up picture (type "ART"), or null.
jobstr* picGetJob(const jobstr* job, int picture);
// Whether a placed EPS picture is a DCS file.
bool picIsDCS(const jobstr* job, int picture);
// The quarter turns (0..3) a picture's own file gives it. The model places
// every picture by its three corners, which carry any turn: always 0.
int picGetRotationType(const jobstr* job, int picture);
// The box (top, bottom, left, right in the picture's units at the scale)
// whose lower left corner is the origin of the picture's file as a JDF
// ticket places it, and the box the picture is placed by. In the model the
// per-object file of a picture starts at the corner of the picture's box, so
// both are that box.
std::array<std::int32_t, 4> getPictureBoundingBoxForJDF(const jobstr* job, const Paint* paint, int picture,
                                                        double scale);
std::array<std::int32_t, 4> picboxdefault(const jobstr* job, int picture, int kind, double scale);

const PictureMap* mappoi(const jobstr* job, int map);
bool mapisint(const jobstr* job, int map);
void mapsiz(const jobstr* job, int map, double scale, std::int32_t& v, std::int32_t& h);
const TavSys::filref* mapfilref(const jobstr* job, int map, int file);
bool maphasopa(const jobstr* job, int map);

const PatternRec* patpoi(const jobstr* job, int pattern);
const Screen* screenpoi(const jobstr* job, int screen);
// Name of a screen; "" for none.
const std::string& getScreenName(const jobstr* job, int screen);

// ---- Notes ----------------------------------------------------------------------

int notesCount(const jobstr* job);
class NoteInfo {
 public:
  NoteInfo(const jobstr* job, int index);
  std::u16string GetText() const;
  TavDB::tv_point GetAnchorLocation() const;

 private:
  const Note* note_;  // not owned; valid while the job lives
};

// ---- Object helpers -----------------------------------------------------------

// The station-number text of the job: the first text marked as station number
// found in a ListScan(tree, kObjText, ...) with the masks; null when none.
const TavDB::Object* stationNumberObject(const jobstr* job, std::uint32_t descendMask,
                                          std::uint32_t descendValue, std::uint32_t selectMask,
                                          std::uint32_t selectValue);

namespace TavricCore {
// Object names as the core hands them out: UTF-16.
struct ObjectController {
  static std::u16string GetObjectName(const TavDB::Object* object);
  static void SetObjectName(TavDB::Object* object, std::u16string_view name);
};
}  // namespace TavricCore

// Whether the object is a registration mark (crop, registration, ...).
bool regObjectIsMark(const TavDB::Object* object);

// Whether the object is a paint-map group: a group that stands for one
// picture map as a whole. Its first member is the outline the map is shown
// in; its topmost path or compound painted with a map names the map. Under
// OPI links such a group is one OPI form.
bool isPaimapGroup(const TavDB::Object* object);

namespace TavricLib {
bool IsStructuredCADLayer(const jobstr* job, const TavDB::Object* layer);
bool IsTrapLayer(const jobstr* job, const TavDB::Object* layer);
}  // namespace TavricLib

#pragma once
// Kernel services that only the export driver needs: batch mode, the soft-mask
// aware visitor, technical-ink checks, the transparency flattener's interface
// (the flattener itself: platform/kernel/flattener.h), link parameters and
// host events, the job archive, registration marks.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"

// ---- Batch mode ------------------------------------------------------------------

// The process-wide batch mode: 0 interactive, 1 batch, 2 conversion task.
int artque();
void setArtque(int mode);

// ---- Paint predicates ------------------------------------------------------------

// Whether the paint's blend mode gives a different result than its own colour
// when painted on white paper: every mode except Normal, Multiply and Darken.
// Such modes cannot be reproduced ink by ink in separated output.
bool paintHasNonWhitePreservingBlendmode(const jobstr* job, int paint);
// Whether the paint's colours (or its picture) put ink on the separation.
bool paintUsesSeparation(const jobstr* job, int paint, int sep);

// ---- Soft-mask aware visitor -------------------------------------------------------

// A visitor that reports every painted object (paths, compounds, texts) to
// VisitPaintedObject and, after it, walks the objects of the paint's soft mask
// (if any) with itself, InSoftmask() being true meanwhile. Subclasses call the
// base operation from their overrides. `list` (may be null) is an extra list
// that is walked first by Walk().
class SoftmaskVisitor : public TavDB::TVObjectVisitor {
 public:
  SoftmaskVisitor(jobstr* job, std::uint32_t descendMask, std::uint32_t descendValue,
                  TavDB::Object* list, std::uint32_t visitMask, std::uint32_t visitValue);

  bool VisitCompound(TavDB::Object& compound) override;
  bool VisitPath(TavDB::Object& path) override;
  bool VisitText(TavDB::Object& text) override;
  bool VisitGroup(TavDB::Object& group) override;
  bool VisitLayer(TavDB::Layer& layer) override;

  // Called once for every painted object, before its soft mask is walked.
  virtual void VisitPaintedObject(TavDB::Object& object);

  bool InSoftmask() const { return mSoftmaskDepth > 0; }
  jobstr* job() const { return mJob; }
  // Walks the extra list (when given), then the tree.
  void Walk(TavDB::Object* tree);
  // Walks the objects of a pattern with this visitor (patterns already being
  // walked are skipped, so cyclic patterns end).
  void WalkPattern(int pattern, bool asSoftmask);

 private:
  void afterPainted(TavDB::Object& object);
  jobstr* mJob;            // not owned
  TavDB::Object* mList;    // not owned, may be null
  int mSoftmaskDepth = 0;
  std::set<int> mActivePatterns;
};

// ---- Technical inks ------------------------------------------------------------------

namespace TavricLib {
// Whether a used separation is marked technical.
bool TechnicalSeparationInUse(const jobstr* job);
// Whether a process ink is marked technical.
bool ProcessSeparationMarkedTechnical(const jobstr* job);

// Walks the tree looking at the objects that put a technical ink on the plate.
class CheckTechnicalSeparations : public SoftmaskVisitor {
 public:
  CheckTechnicalSeparations(jobstr* job, std::uint32_t descendMask, std::uint32_t descendValue,
                            std::uint32_t visitMask, std::uint32_t visitValue);
  void VisitPaintedObject(TavDB::Object& object) override;
  // A technical ink is painted without overprint (it knocks out what lies below).
  bool KnockoutFound() const { return mKnockout; }
  // A technical ink is painted with a non-separable blend mode.
  bool NonSeparableBlendModeFound() const { return mNonSeparable; }

 private:
  void checkPaint(int paint);
  bool mKnockout = false;
  bool mNonSeparable = false;
};
}  // namespace TavricLib

// ---- CAD strokes ------------------------------------------------------------------------

namespace TavricLib {
// The kernel's stroke creator: it makes an object the line drawn along its
// outline. Join and cap 82 ('R': round; any other value keeps the object's
// own or the defaults, miter and butt), the line's width in tenths of a
// point, its miter limit.
struct StrokeCreator {
  int join = 82;
  int cap = 82;
  int width = 4;
  double miterLimit = 10.0;
};
// Makes the object (a path or compound path) a CAD stroke: it is no longer
// filled, and its line is its own stroke, or, when it has none, the
// creator's line in the object's paint.
void SetStrokeCreator(jobstr* job, TavDB::Object& object, const StrokeCreator& creator);
// Whether a stroke creator has made the object a CAD stroke.
bool IsCADStroke(const TavDB::Object* object);
}  // namespace TavricLib

// ---- Process inks ----------------------------------------------------------------------

// The used process inks whose CMYK equivalent is not 100 % of their own
// process colour and nothing else. The PDF file names process inks as the
// process colours, so such a definition does not reach it: with `show` each
// gets a warning ("BAD CMYK SEPARATION", severity 2). Returns how many there are.
int warnIfbadCMYKSeparations(const jobstr* job, bool show);

// ---- Flattener -------------------------------------------------------------------------

// Process-wide values of the flattener that the exporter copies unchanged.
struct FlattenerSettings {
  static FlattenerSettings& Instance();
  std::int32_t valueA = 0;
  std::int64_t valueB = 0;
  double valueC = 300;  // the flattener's resolution, points (pixels) per inch
  std::int64_t valueD = 0;
  std::int64_t valueE = 0;
  std::int32_t valueF = 0;
};

class SpaSetter {
 public:
  struct Parameters {
    int mode = 0;
    std::int32_t valueA = 0;
    std::int64_t valueB = 0;
    double valueC = 0;
    std::int64_t valueD = 0;
    std::int64_t valueE = 0;
    bool useColourManagement = false;
    bool flattenOverprints = false;
    int flatteningLevel = 0;
    bool flattenBlackOverprint = false;
    bool flatteningEnabled = false;
    bool ignorePlacedOverprints = false;
    std::uint32_t objectMask = 0;
    std::uint32_t secondMask = 0;
    std::uint32_t groupMask = 0;
    bool flagF = false;
    bool forceOpaqueSeparationsToKnockout = false;
    bool vectorizeOpacity = false;
  };

  SpaSetter(jobstr* job, bool keepOriginal) : mJob(job), mKeepOriginal(keepOriginal) {}
  virtual ~SpaSetter() = default;
  SpaSetter(const SpaSetter&) = delete;
  SpaSetter& operator=(const SpaSetter&) = delete;

  Parameters& parameters() { return mParameters; }
  const Parameters& parameters() const { return mParameters; }
  jobstr* job() const { return mJob; }
  bool keepOriginal() const { return mKeepOriginal; }
  // Whether the last FlattenJobSpa was cancelled.
  bool cancelled() const { return mCancelled; }
  void setCancelled(bool c) { mCancelled = c; }
  // The CMYK output profile that colour management turns RGB colours into
  // the inks through (an ICC file; empty: none).
  const std::string& colourProfile() const { return mColourProfile; }
  void setColourProfile(std::string path) { mColourProfile = std::move(path); }
  // Keeps what the flattened tree refers to (the raster areas' pixel files
  // and maps) until the setter is destroyed: after the tree is written.
  void keep(std::shared_ptr<void> resource) { mResources.push_back(std::move(resource)); }

 private:
  jobstr* mJob;  // not owned
  bool mKeepOriginal;
  bool mCancelled = false;
  Parameters mParameters;
  std::string mColourProfile;
  std::vector<std::shared_ptr<void>> mResources;
};

// Whether any object of the tree (soft masks and patterns included) is
// painted with transparency.
bool jobHasTransparency(jobstr* job, TavDB::Object* tree);

// Flattens the job's transparency into a new tree (owned by the caller), or
// null when flattening is off or nothing in the job needs it. The setter's
// parameters say what is composed (transparency always; overprints and black
// overprint when asked; a placed job's overprints knocked out when they are
// to be ignored; opaque inks as the knockout switch says; the object mask);
// what the tree refers to (raster areas' pixel files and maps) is kept by the
// setter, which must outlive the writing of the tree. A cancel (the
// progress's cancel state) marks the setter cancelled and gives no tree.
// Throws TavSys::Error when the job cannot be flattened.
std::unique_ptr<TavDB::Object> FlattenJobSpa(SpaSetter& setter);

// ---- Link parameters and host events ----------------------------------------------------

// Declares a link parameter of the job (kept when it exists already).
void parkey(jobstr* job, std::uint32_t id, const std::string& label, const std::string& shortName,
            int flags);
void SetParameterDoubleValue(jobstr* job, std::uint32_t id, double value, int flags);
void SetParameterStringValue(jobstr* job, std::uint32_t id, const std::string& value);

namespace TavricCore {
struct Event {
  int type = 0;
  jobstr* job = nullptr;  // not owned
};
using EventHandler = std::function<int(const Event&)>;
// Registers a handler for every host event; returns its handle.
int AddEventHandler(EventHandler handler);
void RemoveEventHandler(int handle);
// Sends an event to every handler (the host does this; tests and the command line too).
void SendEvent(const Event& event);
}  // namespace TavricCore

// ---- Archive --------------------------------------------------------------------------

namespace TavricCore {
// The job's archive: a record of the files produced from a job.
class ArchiveFile {
 public:
  enum Kind { ARCHIVE_PDF = 1, ARCHIVE_JDF = 2 };
};
class Archive {
 public:
  struct Entry {
    TavSys::FileSpec file;
    int kind;
  };
  void addFile(const TavSys::FileSpec& file, int kind, void* extra);
  const std::vector<Entry>& entries() const { return mEntries; }
  // The archive attached to a job, or null.
  static Archive* ForJob(const jobstr* job);
  // Attaches an archive (not owned; null detaches).
  static void Attach(const jobstr* job, Archive* archive);

 private:
  std::vector<Entry> mEntries;
};
}  // namespace TavricCore

// ---- Application folder -------------------------------------------------------------------

namespace TavSys::FileSupport {
// The folder of the running program; TAV_APPLICATION_FOLDER overrides it.
std::filesystem::path GetApplicationFolder();
}  // namespace TavSys::FileSupport

// ---- Registration marks -----------------------------------------------------------------------

// Marks the exporter adds around the trim box when asked.
struct MarksSettings {
  bool cropMarks = true;
  double offsetPt = 9;      // gap between the trim box and the marks, points
  double lengthPt = 18;     // length of each mark, points
  double lineWidthPt = 0.25;
};

struct ExtraMarksSettings {
  float distortionV = 0;
  float distortionH = 0;
  TavSys::filref dotgainFile;
};

// A group of crop marks at the corners of the job's trim box (media box when
// it has none), stroked in the registration colour (every ink at 100 %).
// Null when the job has no box. Owned by the caller.
std::unique_ptr<TavDB::Object> regmarksobjUsingSettings(jobstr* job, const MarksSettings& marks,
                                                        const ExtraMarksSettings& extra);

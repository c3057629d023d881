#pragma once
// The job-analysis visitors: what a job holds that decides whether and how it
// can be exported (placed PDF and EPS files, separations that are not output,
// blend modes, overlapping placed artwork, ink remapping problems), and the
// small visitors the page writer uses for forms and CAD layers.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/exportkernel.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/tavdb.h"

namespace TavPDF {

// Object selection masks of the analysis walks: excluded objects are neither
// visited nor entered.
inline constexpr std::uint32_t kAnalysisMask = 0x20000;

// Remap problem bits.
enum RemapProblem : int {
  kRemapOneToOne = 1,   // an ink of a colour is mapped onto another ink that the colour uses
  kRemapInSoftmask = 2, // a remapped ink is used in a soft mask
  kRemapTwoToOne = 4,   // two inks of a colour are mapped onto one ink the colour does not use
};

class VisitorSearchObjects : public SoftmaskVisitor {
 public:
  // A box with the vertical axis pointing up (job coordinates negated), so
  // that bottom < top for a non-empty box.
  struct Box {
    std::int32_t left = 0, bottom = 0, right = 0, top = 0;
  };

  explicit VisitorSearchObjects(jobstr* job);

  void SetRemapCheck(bool on) { mRemapCheck = on; }
  bool RemapCheck() const { return mRemapCheck; }

  bool VisitCompound(TavDB::Object& compound) override;
  bool VisitPath(TavDB::Object& path) override;
  bool VisitText(TavDB::Object& text) override;
  void VisitPaintedObject(TavDB::Object& object) override;

  bool IsValidForNormalizedPDF() const {
    return !mPlacedPdfNotNormalized && !mPlacedEps && !mPictureColorSpace2;
  }
  bool HasNonWhitePreservingBlendmode() const { return mNonWhitePreservingBlend; }
  bool PlacedArtworkOverlaps() const { return mPlacedOverlap; }
  bool HasPlacedPdfOrEps() const { return mPlacedPdfOrEps; }
  bool PlacedFileUsesUnoutputSeparation() const {
    return mPlacedPdfOrEps && mPlacedUsesUnoutputSeparation;
  }
  bool CanMakeSeparatedPDF(bool flattening) const {
    if (mPlacedPdfOrEps) return false;
    return flattening || !mNonWhitePreservingBlend;
  }
  const std::vector<Box>& boxes() const { return mBoxes; }

  // The objects that make a check refuse the export, for its message: the
  // first one met, described with its picture, and how many there are.
  struct Offenders {
    std::string first;  // the EPS file "logo.eps", placed by the path "logo" (job.json: /objects/2)
    int count = 0;
    // The first, and how many others there are, for the message.
    std::string Text() const;
  };
  // Objects placing an EPS file, a PDF file that is not normalized or an RGB picture.
  const Offenders& InvalidForNormalized() const { return mInvalidForNormalized; }
  // Objects placing a PDF or EPS file.
  const Offenders& PlacedPdfOrEps() const { return mPlacedPdfOrEpsObjects; }
  // Objects placing a PDF or EPS file that uses an ink that is not output.
  const Offenders& PlacedUsingUnoutputSeparation() const { return mPlacedUnoutputObjects; }

  // ---- Remap state (ink remapping checks) ----
  int remapProblems() const { return mRemapProblems; }
  int remapKind() const { return mRemapKind; }  // 1 picture, 2 object

  // Remap checks of one paint; of one colour given as tints (or a picture).
  void CheckPaintRemap(int paint);
  void CheckColourRemap(const std::array<std::uint16_t, kMaxSeparations>* tints, int picture);
  bool ColourUsesSeparation(const std::array<std::uint16_t, kMaxSeparations>* tints, int sep,
                            int picture) const;
  // The final problem bits (adds the soft-mask use known to the job).
  int FindRemappedSeparationInUse();
  // The localized explanation of the first problem; empty when there is none.
  std::u16string CollectSeparationRemapProblems();
  // The message key of the text CollectSeparationRemapProblems gave last.
  const std::string& RemapMessageKey() const { return mRemapKey; }

 private:
  void recordBox(const TavDB::Object& object);
  // The remap check of an object's fill and stroke paints.
  void checkObjectRemap(const TavDB::Object& object);
  bool overlapTest() const;

  bool mPlacedPdfNotNormalized = false;
  bool mPlacedEps = false;
  bool mPlacedUsesUnoutputSeparation = false;
  bool mPictureColorSpace2 = false;
  bool mPlacedPdfOrEps = false;
  bool mNonWhitePreservingBlend = false;
  bool mPlacedOverlap = false;
  std::vector<Box> mBoxes;
  Offenders mInvalidForNormalized, mPlacedPdfOrEpsObjects, mPlacedUnoutputObjects;
  bool mRemapCheck = false;
  int mRemapProblems = 0;
  int mRemapKind = 0;
  std::string mOneToOneSource, mOneToOneTarget;
  std::string mSoftmaskSource, mSoftmaskTarget;
  std::string mTwoToOneFirst, mTwoToOneTarget, mTwoToOneSecond;
  std::string mRemapKey;
};

// Whether the job's separation map sends any ink onto another ink.
bool JobHasRemapping(const jobstr* job);

// Shared with the document writer (platform/kernel/pageoutput.h).
using ::DisableUnoutputSeparations;

// The box of a form's objects including its texts (vertical axis up, as
// VisitorSearchObjects::Box). Used by the form writer. With the job, texts
// count with the box their laid-out characters cover; without it, with the
// bounds they carry.
class VisitorGetBoundingBoxForPDFOutput : public TavDB::ObjectVisitor {
 public:
  VisitorGetBoundingBoxForPDFOutput(TavDB::Object* start, std::uint32_t descendMask,
                                    std::uint32_t descendValue, std::uint32_t visitMask,
                                    std::uint32_t visitValue, jobstr* job = nullptr);
  bool VisitGroup(TavDB::Object&) override { return true; }
  bool VisitCompound(TavDB::Object&) override { return true; }
  bool VisitText(TavDB::Object& text) override;
  // The start object's box grown to hold the collected text boxes, in job
  // coordinates (top, left, bottom, right).
  TavDB::tv_box GetBoundingBox();

 private:
  TavDB::tv_box textBox(const TavDB::Object& text) const;
  TavDB::Object* mStart;  // not owned
  jobstr* mJob;           // not owned; may be null
  TavDB::tv_box mText{10000000, 10000000, -10000000, -10000000};
};

// Does a layer hold CAD objects, other objects, or both.
class VisitorSearchCADObjects : public TavDB::ObjectVisitor {
 public:
  VisitorSearchCADObjects() : TavDB::ObjectVisitor(kAnalysisMask, 0, kAnalysisMask, 0) {}
  bool VisitCompound(TavDB::Object& o) override;
  bool VisitPath(TavDB::Object& o) override;
  bool VisitGroup(TavDB::Object&) override { return !(mFoundCAD && mFoundNonCAD); }
  bool FoundCADObjects() const { return mFoundCAD; }
  bool FoundNonCADObjects() const { return mFoundNonCAD; }

 private:
  void classify(const TavDB::Object& o);
  bool mFoundCAD = false;
  bool mFoundNonCAD = false;
};

// Prepares a copied CAD drawing for output: every path and compound path up
// to the first one made a CAD stroke already (the rest were made so with it)
// becomes a CAD stroke, the line drawn along its outline, and is re-screened
// by the screen mode; a group named like the main design layer in any of the
// application's languages is renamed "Main Design".
class PreprocessCADObject : public TavDB::ObjectVisitor {
 public:
  // Screen mode kScreenModeLineArt (the CAD form's): a die line is line art
  // and takes no screen of its own; any other mode keeps the paints' screens.
  PreprocessCADObject(jobstr* job, int screenMode)
      : TavDB::ObjectVisitor(kAnalysisMask, 0, kAnalysisMask, 0), mJob(job), mScreenMode(screenMode) {}
  bool VisitCompound(TavDB::Object& o) override;
  bool VisitPath(TavDB::Object& o) override;
  bool VisitGroup(TavDB::Object& group) override;
  bool active() const { return mActive; }

 private:
  void process(TavDB::Object& o);
  std::uint16_t rescreened(std::uint16_t paint) const;
  jobstr* mJob;  // not owned
  int mScreenMode;
  bool mActive = true;
};

// Whether a group or layer name is the main design layer's name in one of
// the application's languages (letter case aside, the localized names may
// hold wildcards).
bool IsMainDesignName(const std::string& name);

}  // namespace TavPDF

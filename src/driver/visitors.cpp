#include "driver/visitors.h"

#include <algorithm>
#include <set>

#include <boost/algorithm/string/predicate.hpp>

#include "platform/fonts/textcalc.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/objectplace.h"
#include "platform/localization.h"
#include "platform/messages.h"
#include "platform/utf.h"

namespace TavPDF {

namespace {
VisitorSearchObjects::Box boxOf(const TavDB::Object& o) {
  const TavDB::tv_box& b = o.bounds();
  // Job coordinates point down; the analysis boxes point up.
  return {b.left, -b.bottom, b.right, -b.top};
}
}  // namespace

VisitorSearchObjects::VisitorSearchObjects(jobstr* job)
    : SoftmaskVisitor(job, kAnalysisMask, 0, nullptr, kAnalysisMask, 0) {}

void VisitorSearchObjects::recordBox(const TavDB::Object& object) { mBoxes.push_back(boxOf(object)); }

void VisitorSearchObjects::checkObjectRemap(const TavDB::Object& object) {
  CheckPaintRemap(object.paint());
  // The stroke puts its colour on the plates as well.
  if (const TavDB::Stroke* s = object.stroke(); s && s->width > 0) CheckPaintRemap(s->paint);
}

bool VisitorSearchObjects::VisitCompound(TavDB::Object& compound) {
  recordBox(compound);
  // The member paths are not walked (they share the compound's paint), so
  // the compound's paint is checked here.
  checkObjectRemap(compound);
  return SoftmaskVisitor::VisitCompound(compound);
}

bool VisitorSearchObjects::VisitPath(TavDB::Object& path) {
  recordBox(path);
  checkObjectRemap(path);
  return SoftmaskVisitor::VisitPath(path);
}

bool VisitorSearchObjects::VisitText(TavDB::Object& text) {
  recordBox(text);
  return SoftmaskVisitor::VisitText(text);
}

bool VisitorSearchObjects::overlapTest() const {
  if (mBoxes.size() < 2) return false;
  const Box& o = mBoxes.back();
  for (std::size_t i = 0; i + 1 < mBoxes.size(); ++i) {
    const Box& b = mBoxes[i];
    const bool inside = o.left >= b.left && o.bottom >= b.bottom && o.right <= b.right && o.top <= b.top;
    const bool overlap = o.bottom < b.top && o.top > b.bottom && o.left < b.right && o.right > b.left;
    if (inside || overlap) return true;
  }
  return false;
}

namespace {

// One object placing a picture, for a message: what the picture is, its
// file, and the object with its place in the job file.
std::string placedPictureText(const jobstr* job, const TavDB::Object& object, int picture,
                              std::string_view what, const std::string& note) {
  const TavSys::filref* file = picfilref(job, picture);
  std::string text(what);
  if (file != nullptr) text += " \"" + file->getNameAsUtf8() + "\"";
  if (!note.empty()) text += " (" + note + ")";
  return text + ", placed by " + TavKernel::DescribeJobObject(job, &object);
}

void addOffender(VisitorSearchObjects::Offenders& offenders, const jobstr* job, const TavDB::Object& object,
                 int picture, std::string_view what, const std::string& note = {}) {
  if (offenders.count++ == 0) offenders.first = placedPictureText(job, object, picture, what, note);
}

}  // namespace

std::string VisitorSearchObjects::Offenders::Text() const {
  if (count <= 1) return first;
  return first + ", and " + std::to_string(count - 1) + (count == 2 ? " other object" : " other objects");
}

void VisitorSearchObjects::VisitPaintedObject(TavDB::Object& object) {
  jobstr* j = job();
  const int paint = object.paint();
  const Paint* p = paipoi(j, paint);
  if (p && p->type == kPaintPicture) {
    const int pic = p->picture;
    const bool isPdf = picispdf(j, pic);
    const bool isEps = piciseps(j, pic);
    const bool rgb = getPictureColorSpace(j, pic) == 2;
    const std::string_view file = isEps ? "the EPS file" : isPdf ? "the PDF file" : "the RGB picture";
    bool invalidForNormalized = isEps || rgb;
    if (isPdf) {
      mPlacedPdfOrEps = true;
      if (!pdfIsNormalized(j, pic)) {
        mPlacedPdfNotNormalized = true;
        invalidForNormalized = true;
      }
    }
    if (isEps) {
      mPlacedEps = true;
      mPlacedPdfOrEps = true;
    }
    if (rgb) mPictureColorSpace2 = true;
    if (invalidForNormalized)
      addOffender(mInvalidForNormalized, j, object, pic, file,
                  isPdf && !pdfIsNormalized(j, pic) ? "not normalized" : isPdf && rgb ? "RGB" : "");
    if (isPdf || isEps) {
      addOffender(mPlacedPdfOrEpsObjects, j, object, pic, file);
      for (int pos = 0; pos < kMaxSeparations; ++pos) {
        const int sep = sepsoruse(j, pos, false);
        if (sep < 0) continue;
        if (picsepuse(j, pic, sep) && !seppdftyp::NeedsOutputting(j, sep)) {
          mPlacedUsesUnoutputSeparation = true;
          addOffender(mPlacedUnoutputObjects, j, object, pic, file,
                      "it uses the ink " + GetSeparationName(j, sep) + ", which is not output");
          break;
        }
      }
    }
    if (!mPlacedOverlap && (picisart(j, pic) || isPdf) && overlapTest()) mPlacedOverlap = true;
  }
  if (paintHasNonWhitePreservingBlendmode(j, paint)) mNonWhitePreservingBlend = true;
}

// ---- Remapping --------------------------------------------------------------

bool JobHasRemapping(const jobstr* job) {
  if (!job) return false;
  for (int i = 0; i < kMaxSeparations; ++i) {
    const Separation& s = job->separations[i];
    if (s.exists && s.mappedTo >= 0 && s.mappedTo != i) return true;
  }
  return false;
}

namespace {
// The slot an entry of the separation map is output onto: its mapping, or
// itself when it has none. -1 for an empty slot.
int mapTarget(const jobstr* job, int slot) {
  const Separation& s = job->separations[slot];
  if (!s.exists) return -1;
  if (s.mappedTo >= 0 && s.mappedTo < kMaxSeparations && job->separations[s.mappedTo].exists)
    return s.mappedTo;
  return slot;
}
}  // namespace

bool VisitorSearchObjects::ColourUsesSeparation(
    const std::array<std::uint16_t, kMaxSeparations>* tints, int sep, int picture) const {
  if (sep < 0 || sep >= kMaxSeparations) return false;
  if (picture >= 0) return picsepuse(job(), picture, sep);
  if (!tints) return false;
  const std::uint16_t t = (*tints)[static_cast<std::size_t>(sep)];
  return t != 0 && t != kTintUndefined;
}

void VisitorSearchObjects::CheckColourRemap(
    const std::array<std::uint16_t, kMaxSeparations>* tints, int picture) {
  const jobstr* j = job();
  std::set<std::string> targets;
  for (int i = 0; i < kMaxSeparations; ++i) {
    const int t = mapTarget(j, i);
    if (t < 0) continue;
    const std::string& source = j->separations[i].name;
    const std::string& target = j->separations[t].name;
    if (!ColourUsesSeparation(tints, TavricLib::FindSeparation(j, source), picture)) continue;
    if (InSoftmask() && source != target) {
      mSoftmaskSource = source;
      mSoftmaskTarget = target;
      mRemapProblems |= kRemapInSoftmask;
    }
    if (targets.insert(target).second) continue;
    // A second ink of the colour goes onto target.
    mRemapKind = picture >= 0 ? 1 : 2;
    if (ColourUsesSeparation(tints, TavricLib::FindSeparation(j, target), picture)) {
      mRemapProblems |= kRemapOneToOne;
      if (source == target) {
        for (int k = 0; k < i; ++k) {
          const int tk = mapTarget(j, k);
          if (tk >= 0 && j->separations[tk].name == target && j->separations[k].name != target) {
            mOneToOneSource = j->separations[k].name;
            mOneToOneTarget = target;
            break;
          }
        }
      } else {
        mOneToOneSource = source;
        mOneToOneTarget = target;
      }
    } else {
      mRemapProblems |= kRemapTwoToOne;
      mTwoToOneFirst.clear();
      for (int k = 0; k < i; ++k) {
        const int tk = mapTarget(j, k);
        if (tk >= 0 && j->separations[tk].name == target) {
          mTwoToOneFirst = j->separations[k].name;
          break;
        }
      }
      mTwoToOneTarget = target;
      mTwoToOneSecond = source;
    }
    return;
  }
}

void VisitorSearchObjects::CheckPaintRemap(int paint) {
  if (!mRemapCheck || mRemapProblems != 0) return;
  jobstr* j = job();
  if (paint < 7 || TavricLib::PaintIsRegistration(j, paint)) return;
  const Paint* p = paipoi(j, paint);
  if (!p) return;
  auto colour = [&](int c) {
    const auto tints = colsep16(j, c);
    CheckColourRemap(&tints, -1);
  };
  switch (p->type) {
    case kPaintFlat: colour(p->colour); break;
    case kPaintLinear:
    case kPaintRadial:
      colour(p->colour);
      colour(p->colour2);
      break;
    case kPaintPicture: CheckColourRemap(nullptr, p->picture); break;
    case kPaintPattern: WalkPattern(p->pattern, false); break;
    case kPaintGradation:
      for (const GradationStep& s : p->steps) colour(s.colour);
      break;
    case kPaintMap:
      if (const PictureMap* m = mappoi(j, p->map)) {
        colour(m->colour1);
        colour(m->colour2);
      }
      break;
  }
}

int VisitorSearchObjects::FindRemappedSeparationInUse() {
  if (!mRemapCheck) return mRemapProblems;
  const jobstr* j = job();
  for (int i = 0; i < kMaxSeparations; ++i) {
    const int t = mapTarget(j, i);
    if (t < 0 || t == i) continue;
    const std::string& name = j->separations[i].name;
    const std::string& target = j->separations[t].name;
    if (name == target) continue;
    const int sep = TavricLib::FindSeparation(j, name);
    if (sep >= 0 && (sepisused(j, sep, false) & kSepUsedInSoftMask) != 0) {
      mSoftmaskSource = name;
      mSoftmaskTarget = target;
      return mRemapProblems | kRemapInSoftmask;
    }
  }
  return mRemapProblems;
}

std::u16string VisitorSearchObjects::CollectSeparationRemapProblems() {
  const int bits = FindRemappedSeparationInUse();
  auto text = [this](std::string_view key, std::initializer_list<std::pair<const char*, std::string>> subs) {
    mRemapKey = std::string(key);
    std::u16string t = TavCore::GetLocalizedUni16String(key).text;
    for (const auto& [placeholder, value] : subs)
      t = TavSys::ReplaceAllSubstrings(t, TavGen::ConvertUTF8ToUTF16String(placeholder), TavGen::ConvertUTF8ToUTF16String(value));
    return t;
  };
  const bool picture = mRemapKind == 1;
  if (bits & kRemapOneToOne)
    return text(picture ? "PDF/UNABLE TO REMAP PICTURE" : "PDF/UNABLE TO REMAP OBJECT",
                {{"__SEPARATION1__", mOneToOneSource}, {"__SEPARATION2__", mOneToOneTarget}});
  if (bits & kRemapTwoToOne)
    return text(picture ? "PDF/UNABLE TO REMAP TWO TO ONE PICTURE" : "PDF/UNABLE TO REMAP TWO TO ONE OBJECT",
                {{"__SEPARATION1__", mTwoToOneSecond},
                 {"__SEPARATION2__", mTwoToOneTarget},
                 {"__SEPARATION3__", mTwoToOneFirst}});
  if (bits & kRemapInSoftmask)
    return text("PDF/REMAPPING SEPARATION USED IN SOFTMASK",
                {{"__SEPARATION1__", mSoftmaskSource}, {"__SEPARATION2__", mSoftmaskTarget}});
  mRemapKey.clear();
  return {};
}

// ---- Bounding box with texts ---------------------------------------------------------

VisitorGetBoundingBoxForPDFOutput::VisitorGetBoundingBoxForPDFOutput(
    TavDB::Object* start, std::uint32_t descendMask, std::uint32_t descendValue,
    std::uint32_t visitMask, std::uint32_t visitValue, jobstr* job)
    : TavDB::ObjectVisitor(descendMask, descendValue, visitMask, visitValue), mStart(start), mJob(job) {}

TavDB::tv_box VisitorGetBoundingBoxForPDFOutput::textBox(const TavDB::Object& text) const {
  return mJob != nullptr ? texcalbounds(mJob, &text) : text.bounds();
}

bool VisitorGetBoundingBoxForPDFOutput::VisitText(TavDB::Object& text) {
  const TavDB::tv_box b = textBox(text);
  if (b.isEmpty()) return false;
  mText.top = std::min(mText.top, b.top);
  mText.left = std::min(mText.left, b.left);
  mText.bottom = std::max(mText.bottom, b.bottom);
  mText.right = std::max(mText.right, b.right);
  return false;
}

namespace {

// The union of the boxes of a tree's objects that are not lists, as
// measureall takes it, leaving texts out (their boxes are the visitor's).
void uniteAllButTexts(const TavDB::Object& object, TavDB::tv_box& box, bool& any) {
  if ((object.flags() & TavDB::kObjExcluded) != 0) return;
  if (object.isList()) {
    for (const auto& member : object.members()) uniteAllButTexts(*member, box, any);
    return;
  }
  if (object.kind() == TavDB::ObjectKind::Text) return;
  const TavDB::tv_box& b = object.bounds();
  box = any ? TavDB::tv_box{std::min(box.top, b.top), std::min(box.left, b.left),
                            std::max(box.bottom, b.bottom), std::max(box.right, b.right)}
            : b;
  any = true;
}

}  // namespace

TavDB::tv_box VisitorGetBoundingBoxForPDFOutput::GetBoundingBox() {
  if (!mStart) return {};
  if (mStart->kind() == TavDB::ObjectKind::Text) return textBox(*mStart);
  TavDB::tv_box box = mStart->bounds();
  if (mStart->isList()) {
    TavDB::AcceptVisitor(mStart, *this);
    if (mJob != nullptr) {
      box = {};
      bool any = false;
      uniteAllButTexts(*mStart, box, any);
    } else {
      box = TavDB::measureall(mStart);
    }
  }
  if (mText.left < mText.right && mText.top < mText.bottom) box = box.united(mText);
  return box;
}

// ---- CAD -------------------------------------------------------------------------

void VisitorSearchCADObjects::classify(const TavDB::Object& o) {
  if ((o.extra() && o.extra()->cad) || TavricLib::IsCADStroke(&o))
    mFoundCAD = true;
  else
    mFoundNonCAD = true;
}
bool VisitorSearchCADObjects::VisitCompound(TavDB::Object& o) {
  classify(o);
  return false;
}
bool VisitorSearchCADObjects::VisitPath(TavDB::Object& o) {
  classify(o);
  return false;
}

std::uint16_t PreprocessCADObject::rescreened(std::uint16_t paint) const {
  return paintAdjustScreenForMode(mJob, mScreenMode, paint);
}

void PreprocessCADObject::process(TavDB::Object& o) {
  if (!mActive) return;
  if (TavricLib::IsCADStroke(&o)) {
    mActive = false;
    return;
  }
  TavricLib::SetStrokeCreator(mJob, o, TavricLib::StrokeCreator{});
  o.setPaint(rescreened(o.paint()), true);
  if (TavDB::Stroke* line = o.extraMut().stroke.get()) line->paint = rescreened(line->paint);
}

bool IsMainDesignName(const std::string& name) {
  for (const std::string& code : TavSys::GetApplicationAvailableLanguages()) {
    const std::string language = TavSys::GetEnglishFullNameForLanguageCode(code);
    if (TavSys::CompareWithWildcards(name, TavSys::Localization::GetString("TavricLib", "LAYER MAIN DESIGN", language)))
      return true;
  }
  return false;
}
bool PreprocessCADObject::VisitCompound(TavDB::Object& o) {
  process(o);
  return false;
}
bool PreprocessCADObject::VisitPath(TavDB::Object& o) {
  process(o);
  return false;
}
bool PreprocessCADObject::VisitGroup(TavDB::Object& group) {
  const std::string& name = group.name();
  if (!name.empty() && IsMainDesignName(name)) group.extraMut().name = "Main Design";
  return true;
}

}  // namespace TavPDF

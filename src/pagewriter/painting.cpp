// Painting of the PDF page writer: objects (with the opaque-ink conversion
// and per-object screening), groups, shapes, paths, compound paths and flat
// fills; white objects that paint on nothing and invisible paints are left
// out, and the pending colours are written just before the path operators.
#include <algorithm>
#include <memory>

#include "colour/colorspaces.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pagewriter/barcodes.h"
#include "pagewriter/pdfproof.h"
#include "pagewriter/strokeinfo.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "platform/kernel/objectplace.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kGroupKinds = TavDB::kObjGroup | TavDB::kObjCompound;

bool has(const TavDB::Object* o, std::uint32_t mask) { return (o->flags() & mask) != 0; }

bool isContainer(const TavDB::Object* o) {
  return has(o, TavDB::kObjGroup | TavDB::kObjLayer) ||
         (o->isList() && !has(o, TavDB::kObjCompound));
}

// CAD and other objects found inside a layer or group.
struct CadSearch {
  int cad = 0;
  int other = 0;
};

void searchCad(const TavDB::Object* object, CadSearch& found) {
  if (has(object, TavDB::kObjExcluded)) return;
  const bool leaf = !object->isList() || has(object, TavDB::kObjCompound);
  if (leaf) {
    const TavDB::ObjectExtra* extra = object->extra();
    if (extra != nullptr && extra->cad) {
      ++found.cad;
    } else {
      ++found.other;
    }
    return;
  }
  for (const auto& member : object->members()) searchCad(member.get(), found);
}

}  // namespace

bool PaintIsInvisibleForOutput(const jobstr* job, const TavDB::Object* object, int paint,
                               bool keepInvisible, bool insideTransparencyGroup) {
  if (keepInvisible) return false;
  const int p = paint >= 0 ? paint : (object != nullptr ? object->paint() : 0);
  if (p != kPaintNoFill && !TavricLib::PaintIsInvisible(job, p, false)) return false;
  if (p == 5) return true;
  const Paint* record = paipoi(job, p);
  if (record != nullptr) {
    const PaintTransparency& t = record->transparency;
    if (t.flags == 1 && t.opacity == 0 && t.blendMode == 0 && t.secondOpacity == kSecondOpacityNone) {
      return true;
    }
  }
  if (TavricLib::PaintIsInvisible(job, p, true)) return true;
  return !paintHasTransparency(job, p) && !insideTransparencyGroup;
}

bool PDFProof::PaintNeedsTransparency(const TavDB::Object* object, bool force) const {
  if (force) return true;
  if (object == nullptr) return false;
  const Paint* paint = paipoi(mJob, object->paint());
  if (paint == nullptr) return false;
  const bool group = has(object, TavDB::kObjGroup);
  if (group && object->memberCount() > 0 && has(object->member(0), TavDB::kObjGroup)) {
    const Paint* inner = paipoi(mJob, object->member(0)->paint());
    if (inner != nullptr && inner->transparency.flags != paint->transparency.flags) return true;
  }
  const PaintTransparency& t = paint->transparency;
  const std::uint32_t flagMask = group ? 0x7u : 0x1u;
  if ((t.flags & flagMask) != 0 || t.opacity != kOpacityFull || t.blendMode != 0) return true;
  if (t.secondOpacity == kSecondOpacityNone) return false;
  return true;
}

bool PDFProof::CheckCadLayer(TavDB::Object* object) {
  if (object == nullptr) return false;
  CadSearch found;
  searchCad(object, found);
  if (found.cad == 0) return false;
  if (found.other > 0) {
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String("PDF/NON CAD OBJECTS IN CAD LAYER"));
  } else if (mCadFormCount != 0) {
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String("PDF/CAD OBJECTS OUTSIDE CAD LAYER"));
  }
  return true;
}

bool PDFProof::IsClippedFill(TavDB::Object* object) {
  if (genproof::IsClippedFill(object)) return true;
  const Paint* paint = paipoi(mJob, object->paint());
  return paint != nullptr && (paint->type == kPaintLinear || paint->type == kPaintRadial ||
                              paint->type == kPaintGradation);
}

bool PDFProof::IsInvisiblePaint(TavDB::Object* object, int paint) {
  return PaintIsInvisibleForOutput(mJob, object, paint, mKeepInvisible, mTransparencyNesting > 0);
}

// ---- objects and groups ------------------------------------------------------------

void PDFProof::OutputObject(TavDB::Object* object, bool noSplit, bool alreadyConverted) {
  if (object == nullptr) return;
  try {
    WriteObject(object, noSplit, alreadyConverted);
  } catch (TavSys::Error& e) {
    // A refusal names the object it was met in, as the job file has it.
    TavKernel::NameObjectInError(e, mJob, object);
    throw;
  }
}

void PDFProof::WriteObject(TavDB::Object* object, bool noSplit, bool alreadyConverted) {
  const bool ownScreen = mSettings.IncludeScreening != 0 && mSettings.UseDefaultScreen == 0;
  if (ownScreen) SaveGraphicsState();

  // A region the flattener composed carries its final colour already.
  const bool composed = object->extra() != nullptr && object->extra()->composed;
  if (!isContainer(object) && !alreadyConverted && !composed) {
    const std::uint16_t paint = object->paint();
    const std::uint16_t converted = ConvertedForOpaqueInks(paint);
    // The stroke is painted with the same inks and hides what lies below it
    // in the same way.
    const TavDB::Stroke* stroke = object->stroke();
    const std::uint16_t strokePaint = stroke != nullptr ? stroke->paint : 0;
    const std::uint16_t convertedStroke =
        stroke != nullptr ? ConvertedForOpaqueInks(strokePaint) : strokePaint;
    if (converted != paint || convertedStroke != strokePaint) {
      // The host's object keeps its paints: the converted ones go on a copy.
      std::unique_ptr<TavDB::Object> copy = TavDB::objdupall(object);
      if (copy) {
        copy->setPaint(converted, true);
        if (stroke != nullptr) copy->extraMut().stroke->paint = convertedStroke;
        OutputObject(copy.get(), noSplit, true);
      }
      if (ownScreen) RestoreGraphicsState();
      return;
    }
  }
  genproof::OutputObject(object, noSplit, alreadyConverted);
  if (ownScreen) RestoreGraphicsState();
}

std::uint16_t PDFProof::ConvertedForOpaqueInks(std::uint16_t paint) {
  if (auto it = mOpaqueConversions.find(paint); it != mOpaqueConversions.end()) return it->second;
  std::function<bool(int)> prints;
  if (mSettings.SeparatedOutput != 0) {
    const bool disabler = mSettings.UseSeparationDisabler != 0;
    prints = [job = mJob, disabler](int slot) {
      return sepsoruse(job, slot, true) >= 0 && (!disabler || seppdftyp::NeedsOutputting(job, slot));
    };
  }
  const std::uint16_t converted = ConvertPaintForOpaqueInks(
      mJob, paint, mSettings.ForceOpaqueSeparationsToKnockout != 0, prints);
  mOpaqueConversions.emplace(paint, converted);
  return converted;
}

void PDFProof::OutputGroup(TavDB::Object* list, bool noSplit, int composite, bool backendFlag) {
  if (list == nullptr || mCancelled) return;
  if (GetVersionCode() >= kPdf14) {
    const bool cadData = mJob->GetCADData() != nullptr;
    if (!has(list, kGroupKinds)) {
      if (has(list, TavDB::kObjLayer) && !mInsideCadForm && mSettings.NormalizedOutput != 0 &&
          cadData && TavricLib::IsStructuredCADLayer(mJob, list) && CheckCadLayer(list)) {
        // The whole layer is one CAD form, inside the layer's bracket.
        if (BeginLayer(static_cast<TavDB::Layer*>(list)) == 1) return;
        OutputCadForm(list);
        EndLayer();
        return;
      }
    } else {
      if (!mInsideOpiForm && mSettings.LinkType == 1 && isPaimapGroup(list)) {
        OutputOpiForm(list);
        return;
      }
      if (PaintNeedsTransparency(list, false)) {
        OutputTransparencyGroup(list, 0);
        return;
      }
      if (mSettings.NormalizedOutput != 0 && !mInsideCadForm && cadData && CheckCadLayer(list)) {
        OutputCadForm(list);
        return;
      }
      if (mSettings.IncludePrivateData != 0 && CheckBarcodeUnmodified(list)) {
        OutputBarcodeForm(list);
        return;
      }
    }
  }
  genproof::OutputGroup(list, noSplit, composite, backendFlag);
}

// ---- shapes and paths ------------------------------------------------------------------

bool PDFProof::PaintPerPart(TavDB::Object* object, int mode) {
  const bool stroke = (mode & kModeStroke) != 0;
  std::unique_ptr<PendingColor>& pending = stroke ? mPendingStroke : mPendingFill;
  if (!pending || pending->space->pdfGetNumParts() <= 1) return false;
  // A colour over several parts is painted part by part: the first part
  // knocks out, the later ones overprint (their spaces carry the flag).
  std::unique_ptr<PendingColor> whole = std::move(pending);
  const int parts = whole->space->pdfGetNumParts();
  for (int part = 0; part < parts; ++part) {
    std::unique_ptr<CsMasked> space(whole->space->pdfGetPart(part));
    if (!space) continue;
    // A part is a colour space of its own, with its own resource name.
    if (mPending != nullptr) mPending->registerColorSpace(*space);
    SaveGraphicsState();
    auto single = std::make_unique<PendingColor>();
    single->space = std::move(space);
    single->tints = whole->tints;
    pending = std::move(single);
    OutputShape(object, mode);
    pending.reset();
    RestoreGraphicsState();
  }
  return true;
}

void PDFProof::OutputShape(TavDB::Object* object, int mode) {
  if (object == nullptr) return;
  // The object's transparency state; a painting mode closes the bracket of
  // its own save at the end.
  bool restore = false;
  if (GetVersionCode() >= kPdf14) {
    if (PaintNeedsTransparency(object, false)) {
      restore = (mode & (kModeFill | kModeStroke)) != 0;
      OutputTransparencyGState(object, object->paint(), restore);
    }
    if (!mInsideCadForm && mSettings.NormalizedOutput != 0 && mJob->GetCADData() != nullptr &&
        CheckCadLayer(object)) {
      if (restore) RestoreGraphicsState();
      OutputCadForm(object);
      return;
    }
  }
  const bool stroke = (mode & kModeStroke) != 0;
  const bool fill = (mode & kModeFill) != 0 && !IsSymmetricStroke();
  // A white stroke on nothing is left out before its colour is written, so
  // that no colour and painting operator remain without their path (the
  // transparency state's bracket is closed all the same).
  const bool skipped = stroke && SkipWhite(object);
  if (!skipped && !((stroke || fill) && PaintPerPart(object, stroke ? kModeStroke | mode : mode))) {
    if (stroke) WritePendingStrokeColor();
    genproof::OutputShape(object, mode);
  }
  if (restore) RestoreGraphicsState();
}

bool PDFProof::SkipWhite(const TavDB::Object* object) {
  if (!mOptimizeWhiteObjects) return false;
  const TavDB::tv_box& b = object->bounds();
  std::array<std::int32_t, 4>& box = mPaintedArea;  // top, left, bottom, right
  const bool disjoint =
      b.right <= box[1] || b.left >= box[3] || b.top >= box[2] || b.bottom <= box[0];
  if (paintIsWhite(mJob, object->paint()) && disjoint) return true;
  box[0] = std::min(box[0], b.top);
  box[1] = std::min(box[1], b.left);
  box[2] = std::max(box[2], b.bottom);
  box[3] = std::max(box[3], b.right);
  return false;
}

void PDFProof::OutputPath(const TavDB::Object* path, int scanMode, int mode, double* progressCount,
                          double progressTotal) {
  if (path == nullptr) return;
  if (path->isOpenPath() && !IsSymmetricStroke()) return;
  if (SkipWhite(path)) return;
  if ((mode & kModeFill) != 0 && !IsSymmetricStroke()) WritePendingFillColor();
  if (!path->points().empty()) ++mPathsWritten;
  genproof::OutputPath(path, scanMode, mode, progressCount, progressTotal);
}

void PDFProof::OutputCompoundPath(TavDB::Object* compound, int mode) {
  if (compound == nullptr) return;
  if (SkipWhite(compound)) return;
  bool filled = false;
  if ((mode & kModeFill) != 0 && !IsSymmetricStroke()) {
    WritePendingFillColor();
    filled = true;
  }
  const std::int64_t before = mPathsWritten;
  genproof::OutputCompoundPath(compound, mode & kModeClose);
  pdfoutfilter& out = Out();
  if (mPathsWritten == before) {
    // Every sub-path was left out (open paths without a stroke, white ones):
    // a painting operator would have no path. A clip of nothing is an empty
    // area, so that what it clips is not painted unclipped instead.
    if ((mode & kModeClip) != 0) out << "0 0 m\nh\nW*\nn\n";
    return;
  }
  if ((mode & kModeClip) != 0) out << "W*\n";
  if (filled) {
    out << "f*\n";
  } else if ((mode & (kModeClip | kModeNoPaint)) != 0) {
    out << "n\n";
  }
}

void PDFProof::OutputFlatFill(TavDB::Object* object) {
  if (object == nullptr) return;
  if (GetVersionCode() >= kPdf14 && sepfrejob(mJob) > int(GetMaxColorants()) &&
      PaintNeedsTransparency(object, mGroupKnockout)) {
    std::array<std::uint16_t, kMaxSeparations> tints = paisep16(mJob, object->paint());
    std::unique_ptr<ColorSpace> space(GetSeparationColorSpace(
        tints.data(), 0, kTintFull, false, false,
        TavricLib::PaintIsRegistration(mJob, object->paint()), false, true));
    if (space && space->pdfGetNumParts() > 1) {
      OutputTransparencyGroup(object, 0);
      return;
    }
  }
  genproof::OutputFlatFill(object);
}

// ---- objects written by later parts of the engine ----------------------------------------

void PDFProof::RequirePendingWriter(std::uint32_t kind) {
  if (GetPendingStreamWriter(kind) == nullptr) RefuseUnsupported(PendingStreamKindName(kind));
}

void PDFProof::GetGradientColorSpaces(std::uint16_t paintIndex, std::unique_ptr<ColorSpace>& united,
                                      std::unique_ptr<ColorSpace>& common) {
  united.reset();
  common.reset();
  const Paint* paint = paipoi(mJob, paintIndex);
  if (paint == nullptr) return;
  std::vector<std::uint16_t> colours;
  if (paint->type == kPaintLinear || paint->type == kPaintRadial) {
    colours = {paint->colour, paint->colour2};
  } else if (paint->type == kPaintGradation) {
    for (const GradationStep& step : paint->steps) colours.push_back(step.colour);
  } else {
    colours = {paint->colour};
  }
  const std::uint16_t u =
      (mSettings.EnableDotgain != 0 && mSettings.NormalizedOutput == 0 && mSoftMaskDepth == 0) ? 0 : 1;
  std::vector<std::array<std::uint16_t, kMaxSeparations>> all;
  for (std::uint16_t colour : colours) all.push_back(colsep16(mJob, colour));
  if (mSettings.SeparatedOutput != 0 && mSoftMaskDepth == 0) {
    // A plate page: the colours are taken from the first one that defines the
    // plate's ink; when none does the gradient leaves the plate as it is.
    const auto* defining = FirstDefiningPlateInk(all);
    if (defining == nullptr) return;
    if (defining != &all.front()) std::rotate(all.begin(), all.begin() + (defining - all.data()), all.end());
  }
  bool first = true;
  for (const std::array<std::uint16_t, kMaxSeparations>& tints : all) {
    std::unique_ptr<ColorSpace> inks(
        GetSeparationColorSpace(tints.data(), u, kTintFull, first && u != 0, false, false, false, false));
    std::unique_ptr<ColorSpace> zero(
        GetSeparationColorSpace(tints.data(), 0, 0, first, false, false, first, false));
    if (first) {
      united = std::move(inks);
      common = std::move(zero);
      first = false;
      continue;
    }
    if (united && inks) united->Unite(*inks);
    if (common && zero) common->Intersect(*zero);
  }
  if (united && mSoftMaskDepth == 0 && mSettings.SeparatedOutput == 0) {
    KeepUntouchedInks(all, *united, common.get());
  }
}

ColorSpace* PDFProof::CreateGradientColorSpace(TavDB::Object* object, int& model,
                                               const Paint* paint, ColorSpace*& space,
                                               int& channels) {
  model = 8;
  space = nullptr;
  channels = 0;
  if (object == nullptr || paint == nullptr) return nullptr;
  std::unique_ptr<ColorSpace> united, common;
  GetGradientColorSpaces(object->paint(), united, common);
  // Inks the gradation leaves at 0 everywhere are knocked out under it first.
  if (common && !common->IsEmpty()) KnockOutCommonInks(*common, object);
  if (!united) return nullptr;
  channels = united->GetSepCount();
  model = united->IsDeviceGray() ? 1 : 8;
  space = united.release();
  return space;
}

}  // namespace TavPDF

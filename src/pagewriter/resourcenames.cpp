// The page writer's resource names and the resources it completes when a
// content stream ends: fonts, screen graphics states and property lists.
//
// Nested writers (forms, one-ups) enter their resources into dictionaries of
// the same file, so every name a writer invents carries its writer number and
// a counter of its own per kind.
#include <string>

#include "pagewriter/pdfproof.h"

#include "colour/halftone.h"
#include "colour/transfer.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

constexpr std::uint32_t kLayerNonPrinting = 0x40000;
constexpr std::uint32_t kSearchExcluded = 0x20000;

// A halftone graphics state that leaves the device's own screen in force.
PDFDictionary* defaultHalftoneState() {
  auto* state = new PDFDictionary();
  state->Set("HT", new PDFName("Default"));
  return state;
}

PDFIndirectReference* writeAtOnce(pdfouthan* handler, PDFDictionaryValue* object) {
  PDFIndirectReference* ref = handler->makeIndirect(object);
  handler->writeObject(ref);
  return ref;
}

}  // namespace

// ---- names ---------------------------------------------------------------------

std::string PDFProof::NextName(const char* prefix, std::uint32_t& counter) {
  return prefix + std::to_string(mWriterNumber) + "_" + std::to_string(counter++);
}

std::string PDFProof::MakeBarcodeFormName() { return NextName("Barcode_", mNameCounters.barcodeForm); }

std::string PDFProof::MakeCadFormName() { return NextName("CAD_", mNameCounters.cadForm); }

std::string PDFProof::MakeStationNumberFormName() {
  return NextName("Sn_", mNameCounters.stationNumber);
}

std::string PDFProof::MakeImageLinkFormName() { return NextName("EI_", mNameCounters.imageLink); }

std::string PDFProof::MakeOpiFormName() { return NextName("O_", mNameCounters.opiForm); }

void PDFProof::MakeGStateName(PendingStream& record) {
  record.SetGStateName(NextName("GS_", mNameCounters.graphicsState));
}

void PDFProof::MakeTransparencyGroupNames(PendingStream& record) {
  record.SetName(NextName("Group_", mNameCounters.transparencyGroup));
  MakeGStateName(record);
}

std::string PDFProof::PictureRecordPath(const std::string& imageName,
                                        const TavSys::filref& file) {
  return imageName + file.getFullPathAsUtf8();
}

std::string PDFProof::WrittenPictureKey(const TavSys::filref& file) const {
  // One file gives another image inside a soft mask (the composite's
  // luminosity rather than a plate) and under another image mode.
  return file.getFullPathAsUtf8() + '\n' + std::to_string(mSoftMaskDepth != 0) + ' ' + std::to_string(mImageMode);
}

const PDFProof::WrittenPicture* PDFProof::FindWrittenPicture(const TavSys::filref& file) const {
  const auto it = mWrittenPictures.find(WrittenPictureKey(file));
  return it != mWrittenPictures.end() ? &it->second : nullptr;
}

bool PDFProof::MakePictureXObjectName(const TavSys::filref* file, std::string& outName) {
  const std::string stem = "Im" + std::to_string(mWriterNumber) + "_";
  if (file != nullptr) {
    for (std::uint32_t k = 0; k < mNameCounters.image; ++k) {
      const std::string candidate = PictureRecordPath(stem + std::to_string(k), *file);
      for (const std::shared_ptr<PendingStream>& record : mPendingStreams) {
        const std::string* path = nullptr;
        if (record->GetKind() == kPendingFileTiff) {
          path = &static_cast<const PendingStreamFileTiff&>(*record).GetFilePath();
        } else if (record->GetKind() == kPendingFilePreview) {
          path = &static_cast<const PendingStreamFilePreview&>(*record).GetFilePath();
        }
        if (path != nullptr && *path == candidate) {
          outName = stem + std::to_string(k);
          return true;
        }
      }
    }
  }
  outName = stem + std::to_string(mNameCounters.image++);
  return false;
}

// ---- screen graphics states --------------------------------------------------------

void PDFProof::SetScreenHalftone(int screen, PDFDictionaryValue* halftone) {
  mScreenHalftones[screen] = halftone;
}

PDFIndirectReference* PDFProof::MakeDefaultScreenGState() {
  auto* state = new PDFDictionary();
  state->Set("HT", BuildDefaultHalftone(mHandler, mJob, mSettings));
  return writeAtOnce(mHandler, state);
}

PDFIndirectReference* PDFProof::MakeSeparationScreenGState(int screen, jobstr* job) {
  PDFDictionary* halftone = BuildSeparationHalftone(mHandler, this, job != nullptr ? job : mJob, screen,
                                                    mSettings, &mHandler->mScreenAngleMessageShown);
  if (halftone == nullptr) return writeAtOnce(mHandler, defaultHalftoneState());
  // The halftone is an object of its own: the document's named halftones
  // refer to it.
  PDFIndirectReference* ref = writeAtOnce(mHandler, halftone);
  SetScreenHalftone(screen, ref);
  auto* state = new PDFDictionary();
  state->Set("HT", ref);
  return writeAtOnce(mHandler, state);
}

// ---- dot-gain graphics states ---------------------------------------------------------

PDFIndirectReference* PDFProof::GetDotgainTransferFunction(int separation) {
  if (separation < 0 || separation >= kMaxSeparations) return nullptr;
  const auto slot = std::size_t(separation);
  if (!mHandler->mTransferFunctionTried[slot]) {
    mHandler->mTransferFunctionTried[slot] = true;
    BuildDotgainTransferFunction(mHandler, mJob, mSettings.DotgainFile, separation);
  }
  return mHandler->mTransferFunctions[slot];
}

void PDFProof::AddTransferFunctionStates(PDFDictionary* extGStates) {
  auto functionOrDefault = [&](int separation) -> PDFDictionaryValue* {
    if (PDFIndirectReference* function = GetDotgainTransferFunction(separation)) return function;
    return new PDFName("Default");
  };
  auto state = [](PDFDictionaryValue* transfer) {
    auto* dictionary = new PDFDictionary();
    dictionary->Set("Type", new PDFName("ExtGState"));
    dictionary->Set("TR2", transfer);
    return dictionary;
  };
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const int separation = sepsoruse(mJob, slot, false);
    if (separation < 0) continue;
    extGStates->Set("TR_" + std::to_string(separation),
                    writeAtOnce(mHandler, state(functionOrDefault(separation))));
  }
  // One function per process component, even for a job with fewer process
  // inks: a single function would apply to every component of DeviceCMYK,
  // and an array with holes is no transfer array at all.
  auto* functions = new PDFArray();
  for (int k = 0; k < 4; ++k) {
    const int separation = sepgetcmyk(mJob, k);
    functions->Add(separation >= 0 ? functionOrDefault(separation) : new PDFName("Default"));
  }
  extGStates->Set("TR_CMYK", writeAtOnce(mHandler, state(functions)));
}

// ---- the resources of a finished stream ----------------------------------------------

void PDFProof::WritePageResources(bool withProperties) {
  BuildFontResources();
  if (!mScreensFromParent && mExtGStates != nullptr) {
    for (std::int32_t screen : mUsedScreens) {
      if (screen >= 0) {
        mExtGStates->Set("Scr_" + std::to_string(mWriterNumber) + "_" + std::to_string(screen),
                         MakeSeparationScreenGState(screen, nullptr));
      } else if (mSettings.NormalizedOutput != 0) {
        mExtGStates->Set("Default_Screen", MakeDefaultScreenGState());
      } else {
        mExtGStates->Set("Scr_" + std::to_string(mWriterNumber) + "_def", defaultHalftoneState());
      }
    }
  }
  mUsedScreens.clear();

  if (!withProperties || mNestedWriter || GetVersionCode() != kPdf15 ||
      mSettings.IncludeLayers == 0 || mResources == nullptr ||
      mHandler->mOptionalContentGroups == nullptr) {
    return;
  }
  auto* properties = new PDFDictionary();
  TavDB::ListScan scan(jobGetSpahan(mJob), TavDB::kObjLayer, kSearchExcluded);
  std::size_t index = 0;
  for (TavDB::Object* layer = scan.next(); layer != nullptr; layer = scan.next()) {
    if ((layer->flags() & kLayerNonPrinting) != 0 && mSettings.AddNonPrintingLayers == 0) continue;
    PDFDictionaryValue* group = mHandler->mOptionalContentGroups->Get(index++);
    if (group == nullptr) continue;
    properties->Set("MC" + std::to_string(CountLayersAfter(layer)), group);
  }
  mResources->Set("Properties", writeAtOnce(mHandler, properties));
}

// ---- small members -------------------------------------------------------------------

bool PDFProof::RectanglesDisjoint(const std::int32_t a[4], const std::int32_t b[4]) {
  return a[3] <= b[1] || a[1] >= b[3] || a[0] >= b[2] || a[2] <= b[0];
}

}  // namespace TavPDF

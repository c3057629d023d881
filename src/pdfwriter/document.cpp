// The document structure: information dictionary, document ID, catalog, page
// tree and pages (one page per separation in separated output, with page
// labels), optional content. pdfouthan::writeDocument is declared with the
// handler.
#include <array>
#include <string>
#include <vector>

#include "colour/halftone.h"
#include "pdfwriter/optionalcontent.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/privatedata.h"
#include "pdfwriter/xmpdata.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/tavdb.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

// Points the handler at a private copy of the settings for the time of the
// document: separated output switches SeparatedOutput off for its composite
// and CMYK pages, and the caller's record must not change.
class SettingsCopy {
 public:
  explicit SettingsCopy(pdfouthan& handler)
      : mHandler(handler), mCaller(handler.mSettings), mCopy(*handler.mSettings) {
    handler.mSettings = &mCopy;
  }
  ~SettingsCopy() { mHandler.mSettings = mCaller; }
  SettingsCopy(const SettingsCopy&) = delete;
  SettingsCopy& operator=(const SettingsCopy&) = delete;
  PDFSettings& get() { return mCopy; }

 private:
  pdfouthan& mHandler;
  const PDFSettings* mCaller;
  PDFSettings mCopy;
};

// Clears the job's per-ink CMYK flags and gives them back on every exit.
class CMYKFlagsCleared {
 public:
  CMYKFlagsCleared(jobstr* job, bool clear) : mJob(clear ? job : nullptr) {
    if (mJob != nullptr) clearCMYKFlagsIfNeeded(mJob, mBlock.data());
  }
  ~CMYKFlagsCleared() {
    if (mJob != nullptr) setCMYKFlags(mJob, mBlock.data());
  }
  CMYKFlagsCleared(const CMYKFlagsCleared&) = delete;
  CMYKFlagsCleared& operator=(const CMYKFlagsCleared&) = delete;

 private:
  jobstr* mJob;
  std::array<int, kMaxSeparations> mBlock{};
};

// Saves which separations are enabled; puts that state back unless the
// document completed (a cancel or an error leaves the job as it was).
class EnableStateGuard {
 public:
  explicit EnableStateGuard(jobstr* job) : mJob(job) {
    for (int sep = 0; sep < kMaxSeparations; ++sep) mEnabled[sep] = sepIsEnabled(job, sep);
  }
  ~EnableStateGuard() {
    if (mDismissed) return;
    for (int sep = 0; sep < kMaxSeparations; ++sep) {
      if (mEnabled[sep]) {
        sepEnable(mJob, sep);
      } else {
        sepDisable(mJob, sep);
      }
    }
  }
  EnableStateGuard(const EnableStateGuard&) = delete;
  EnableStateGuard& operator=(const EnableStateGuard&) = delete;
  void dismiss() { mDismissed = true; }

 private:
  jobstr* mJob;
  std::array<bool, kMaxSeparations> mEnabled{};
  bool mDismissed = false;
};

PDFDictionary* Label(const char* key, PDFDictionaryValue* value) {
  auto* label = new PDFDictionary();
  label->Set(key, value);
  return label;
}

bool IsUsed(const jobstr* job, int sep) { return (sepisused(job, sep, false) & kSepUsed) != 0; }

}  // namespace

int pdfouthan::writeDocument(bool refreshSeparationMap, const std::string& author) {
  jobstr* job = mJob;
  if (job == nullptr || mSettings == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "", "writeDocument without a job or settings");
  }
  SettingsCopy settingsCopy(*this);
  PDFSettings& settings = settingsCopy.get();
  CMYKFlagsCleared cmykFlags(job, settings.ProcessCMYKFlags == 0);
  TavDB::ScopedCurrentJob currentJob(job);
  TavDB::Object* tree = mSpatialTree != nullptr ? mSpatialTree : jobGetSpahan(job);

  writeHeader();

  // Information dictionary.
  const std::string& creator = TavricLib::GetTavricCreator();
  const std::string date = TavCore::CreatePDFStringFromDateTime(
      filsavall != 0 ? TavSys::DateTime::Now() : TavSys::DateTime(0));
  auto* info = new PDFDictionary();
  info->Set("Creator", new PDFString(mCreatorOverride.empty() ? creator.c_str()
                                                              : mCreatorOverride.c_str()));
  info->Set("Producer", new PDFString(creator.c_str()));
  const std::string authorText =
      author.empty() ? TavSys::Uni16CharToUTF8(TavSys::GetLogonName()) : author;
  if (!authorText.empty()) info->Set("Author", new PDFString(authorText));
  info->Set("Title", new PDFString(filnamcle(job)));
  info->Set("CreationDate", new PDFString(mCreationDateOverride.empty()
                                              ? date.c_str()
                                              : mCreationDateOverride.c_str()));
  info->Set("ModDate", new PDFString(date.c_str()));
  TavDB::ListScan traps(tree, TavDB::kObjTrap, TavDB::kObjExcluded, 0, TavDB::kObjExcluded, 0);
  info->Set("Trapped", new PDFName(traps.next() != nullptr ? "True" : "False"));

  const TavSys::filref* root = filrefroo(job);
  setDocumentID(root != nullptr ? root->getFullPathAsUtf8() : std::string());
  PDFIndirectReference* infoReference = makeIndirect(info);
  writeObject(infoReference);
  getTrailer()->SetInfo(infoReference);

  auto* catalog = new PDFDictionary();
  catalog->Set("Type", new PDFName("Catalog"));
  auto* pageTree = new PDFDictionary();
  pageTree->Set("Type", new PDFName("Pages"));
  PDFIndirectReference* catalogReference = makeIndirect(catalog);
  PDFIndirectReference* treeReference = makeIndirect(pageTree);
  catalog->Set("Pages", treeReference);

  // Process inks that share the CMYK page of separated output. Inks that the
  // separation disabler keeps out do not count: a CMYK page without any ink
  // would be an empty plate.
  int processCount = 0;
  if (settings.SeparatedOutput != 0 && settings.CMYKOnOnePage != 0) {
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = sepsoruse(job, slot, false);
      if (sep < 0 || sepiscmyk(job, sep) < 0) continue;
      if (!IsUsed(job, sep) && settings.AddCMYKSeparations == 0) continue;
      if (settings.UseSeparationDisabler != 0 && !seppdftyp::NeedsOutputting(job, sep)) continue;
      ++processCount;
    }
  }

  if (mVersionCode >= kPdf14) {
    catalog->Set("PieceInfo", buildPieceInfo(*this));
    BuildDocumentXMP(*this);
  }
  if (mVersionCode == kPdf15 && settings.IncludeLayers != 0) {
    catalog->Set("OCProperties", WriteOptionalContent(*this));
  }
  getTrailer()->SetRoot(catalogReference);

  // Pages are appended as they are written, so that Kids and Count always
  // agree whatever the separations turn out to be.
  auto* kids = new PDFArray();
  if (settings.SeparatedOutput == 0) {
    PDFIndirectReference* page = writePage(*this, treeReference, nullptr);
    if (page == nullptr) return TavSys::kResultAbandoned;
    kids->Add(page);
    pageTree->Set("Kids", kids);
  } else {
    EnableStateGuard enableState(job);
    PDFIndirectReference* kidsReference = makeIndirect(kids);
    auto* nums = new PDFArray();
    std::int64_t pageIndex = 0;
    auto addPage = [&](PDFIndirectReference* page, PDFDictionary* label) {
      kids->Add(page);
      nums->Add(new PDFInteger(pageIndex));
      nums->Add(label);
      ++pageIndex;
    };

    const bool cmykPage = settings.CMYKOnOnePage != 0 && processCount > 0;
    // The separations that get a page of their own, in slot order.
    std::vector<int> plates;
    for (int slot = 0; slot < kMaxSeparations; ++slot) {
      const int sep = sepsoruse(job, slot, true);
      if (sep < 0) continue;
      const bool process = sepiscmyk(job, sep) >= 0;
      if (!IsUsed(job, sep) && !(process && settings.AddCMYKSeparations != 0)) continue;
      if (settings.UseSeparationDisabler != 0 && !seppdftyp::NeedsOutputting(job, sep)) continue;
      if (cmykPage && process) continue;
      plates.push_back(sep);
    }
    // The progress names the plate being written; each page fills its
    // share of the document's.
    const std::size_t plateCount = plates.size() + (cmykPage ? 1 : 0);
    std::size_t plateNumber = 0;
    const bool compositePage = settings.CompositeOnPageOne != 0;
    TavSys::Progress progress(double(plateCount + (compositePage ? 1 : 0)));
    auto nextPlateLabel = [&] {
      const double done = double(plateNumber + (compositePage ? 1 : 0));
      mProgressLabel = "Plate " + std::to_string(++plateNumber) + " of " + std::to_string(plateCount);
      progress.setLabel(mProgressLabel);
      progress.set(done);
    };

    if (compositePage) {
      mProgressLabel = "Composite page";
      progress.setLabel(mProgressLabel);
      settings.SeparatedOutput = 0;
      PDFIndirectReference* page = writePage(*this, treeReference, nullptr);
      settings.SeparatedOutput = 1;
      if (page == nullptr) return TavSys::kResultAbandoned;
      addPage(page, Label("S", new PDFName("D")));
    }

    sepDisableAll(job);

    if (cmykPage) {
      nextPlateLabel();
      for (int slot = 0; slot < kMaxSeparations; ++slot) {
        const int sep = sepsoruse(job, slot, true);
        if (sep < 0 || sepiscmyk(job, sep) < 0) continue;
        if (!IsUsed(job, sep) && settings.AddCMYKSeparations == 0) continue;
        if (settings.UseSeparationDisabler != 0 && !seppdftyp::NeedsOutputting(job, sep)) continue;
        sepEnable(job, sep);
      }
      settings.SeparatedOutput = 0;
      PDFIndirectReference* page = writePage(*this, treeReference, nullptr);
      settings.SeparatedOutput = 1;
      if (page == nullptr) return TavSys::kResultAbandoned;
      addPage(page, Label("P", new PDFString("CMYK")));
      sepDisableAll(job);
    }

    for (int sep : plates) {
      nextPlateLabel();
      std::string name;
      getCMYKSeparationName(name, job, sep);
      sepEnable(job, sep);
      PDFIndirectReference* page = writePage(*this, treeReference, kidsReference);
      sepDisable(job, sep);
      if (page == nullptr) return TavSys::kResultAbandoned;
      addPage(page, Label("P", new PDFString(name)));
    }

    // A document without pages is no document: nothing was left to separate.
    if (kids->Size() == 0) {
      throw TavSys::Error(TavSys::kResultAbandoned, "PDF/NO SEPARATIONS FOUND",
                          "separated output without a page");
    }
    // Every separation enabled again, less those the disabler keeps out, as
    // the driver left them before the document.
    sepEnableAll(job);
    DisableUnoutputSeparations(job, settings.UseSeparationDisabler != 0, refreshSeparationMap);
    enableState.dismiss();
    auto* pageLabels = new PDFDictionary();
    pageLabels->Set("Nums", nums);
    catalog->Set("PageLabels", pageLabels);
    pageTree->Set("Kids", kidsReference);
    writeObject(kidsReference);
  }
  pageTree->Set("Count", new PDFInteger(static_cast<std::int64_t>(kids->Size())));

  if (mXMPComposer != nullptr && !mXMPComposer->RetrieveXMPData().empty())
    catalog->Set("VornPNDS", buildColorantList(*this));
  if (PDFIndirectReference* metadata = WriteMetadataStream(*this)) catalog->Set("Metadata", metadata);
  if (settings.IncludePrivateData != 0) BuildNamedHalftoneArray(catalog, getNamedHalftones());
  writeObject(catalogReference);
  writeObject(treeReference);
  return status();
}

}  // namespace TavPDF

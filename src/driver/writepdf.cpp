#include "driver/writepdf.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>

#include <boost/algorithm/string/predicate.hpp>

#include "driver/flattening.h"
#include "driver/inkrename.h"
#include "driver/placedpdf.h"
#include "driver/visitors.h"
#include "pdfwriter/layout.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/certify.h"
#include "platform/fonts/fontcache.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/inkcoverage.h"
#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "platform/kernel/screenrender.h"
#include "platform/kernel/separatedpreview.h"
#include "platform/kernelfile.h"
#include "platform/messages.h"
#include "platform/standardpreview.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProcessNames[4] = {"Cyan", "Magenta", "Yellow", "Black"};

void show(int severity, std::string_view key,
          const std::vector<std::pair<std::string, std::string>>& placeholders = {}) {
  TavGen::message(severity, 1, key, placeholders);
}

// A localized text used as a format with one "%s": the value is put in
// explicitly, never through printf, so that a translation cannot misuse it.
std::string formatOne(std::string_view key, const std::string& value) {
  return TavSys::ReplaceAllSubstrings(TavCore::GetLocalizedUTF8String(key), "%s", value);
}

std::string twoDigits(int n) {
  std::string s = std::to_string(n);
  return s.size() < 2 ? std::string(2 - s.size(), ' ') + s : s;
}

std::string threeDigits(int value) {
  const std::string s = std::to_string(value);
  return s.size() < 3 ? std::string(3 - s.size(), ' ') + s : s;
}

// Edit-log entries of a certified job: the export and every separation written.
void writeEditLog(jobstr* job, const PDFSettings& settings, const TavSys::FileSpec& target) {
  job->editHistory.AddEntry(33, formatOne("EDITLOG/EXPORT TO PDF FILE", target.GetFullPathUTF8()));
  const std::string label = TavCore::GetLocalizedUTF8String("EDITLOG/SEPARATION");
  const bool coverage = settings.CertifyInkCoverage != 0;
  if (coverage) calculateInkCoverage(job, getInkResolution(job), 0);
  int count = 0;
  for (int pos = 0; pos < kMaxSeparations; ++pos) {
    const int sep = sepsoruse(job, pos, false);
    if (sep < 0) continue;
    if (settings.UseSeparationDisabler != 0 && !seppdftyp::NeedsOutputting(job, sep)) continue;
    ++count;
    std::string line = "* " + label + " " + twoDigits(count) + ": " + GetSeparationName(job, sep);
    // "%3d%% " before the line: the ink's share of the page, rounded.
    if (coverage) line = threeDigits(TavSys::iround(getInkCoveragePercentage(job, sep))) + "% " + line;
    job->editHistory.AddEntry(51, line);
  }
}

// The file's preview for the desktop (filsavmod): the job's default art box
// as laid out, at the preview resolution, no larger than a thumbnail may be.
// Written once the file is in place, so that it names the file and its
// modification time; a preview that cannot be saved is reported, the export
// stands.
void writeStandardPreview(jobstr* job, const PDFSettings& settings, const TavSys::FileSpec& target) {
  TavSys::tv_rectangle art;
  if (!getbox(job, getdefaultboxtype(job, kArtBox), art)) return;
  const TavSys::tv_rectangle box = GetLayoutTransformedBox(job, art, settings);
  if (!(box.left < box.right) || !(box.top < box.bottom)) return;
  double resolution = settings.IncludePreview == 0   ? CalculatePPI(job, settings.PreviewResolution)
                      : settings.IncludePreview == 1 ? settings.PreviewResolution
                                                     : 0;
  if (!(resolution > 0)) return;
  auto [width, height] = TavricLib::PreviewSize(job, box, resolution);
  const int side = std::max(width, height);
  if (side > TavSys::kMaxStandardPreviewSide) {
    resolution *= double(TavSys::kMaxStandardPreviewSide) / side;
    std::tie(width, height) = TavricLib::PreviewSize(job, box, resolution);
    width = std::min(width, TavSys::kMaxStandardPreviewSide);
    height = std::min(height, TavSys::kMaxStandardPreviewSide);
  }
  TavSys::RgbImage image;
  try {
    std::unique_ptr<SC::Environment> env = SC::EnvironmentFactory(job, box, width, height);
    env->layout = getLayoutMatrix(settings.Orientation.GetValue(), settings.Mirror != 0,
                                  settings.GetInternalDistortionV(), settings.GetInternalDistortionH(), 0, 0);
    env->cmykProfile = settings.CertifiedOutputProfile.getFullPathAsUtf8();
    std::unique_ptr<SC::SeparationFilter> filter = SC::SeparationTableJobFactory(job, 1, 0, 1);
    std::unique_ptr<SC::Options> options = SC::OptionsPreviewFactory();
    options->Set("QueryLayerMask", (settings.AddNonPrintingLayers != 0 ? 0x20000 : 0x60000) +
                                       (settings.IncludeLayers != 0 ? 0x800000 : 0));
    options->Set("LittleEndian", 0);
    // Drawn as a RIP draws at four times the resolution, averaged: the
    // exact smoothing of each object costs as much again as the export on
    // pages of many objects.
    options->Set("Supersample", 4);
    std::unique_ptr<SC::CacheObject> cache = SC::CacheObjectFactory(job);
    std::unique_ptr<SC::RgbConverter> rows = SC::RgbConverterFactory(*env, *filter, *options, jobGetSpahan(job), *cache);
    image.width = width;
    image.height = height;
    image.rgb.assign(std::size_t(width) * std::size_t(height) * 3, 255);
    std::vector<std::uint8_t> row(std::size_t(width) * 4);
    for (int y = 0; y < height && rows->NextRow(row.data()); ++y) {
      for (int x = 0; x < width; ++x) {
        std::memcpy(image.rgb.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3,
                    row.data() + std::size_t(x) * 4 + 1, 3);
      }
    }
  } catch (const TavSys::Error& e) {
    show(TavGen::kWarning, "PDF/STANDARD PREVIEW NOT WRITTEN",
         {{"__FILE__", target.GetFullPathUTF8()}, {"__REASON__", e.text()}});
    return;
  }
  const int error = TavSys::filsavmod(target, image, "application/pdf");
  if (error != 0) {
    show(TavGen::kWarning, "PDF/STANDARD PREVIEW NOT WRITTEN",
         {{"__FILE__", target.GetFullPathUTF8()},
          {"__REASON__", error >= TavSys::kFileErrorBase ? TavSys::GetFileErrorMessage(error) : "no preview image"}});
  }
}

bool sendBroadcast(std::uint32_t id, jobstr* job, const TavSys::FileSpec& exported) {
  TavSys::Broadcaster* b = TavCertify::PDFCertify::getCertifyBroadcaster();
  if (!b) return false;
  TavSys::FileSpec original;
  if (const TavSys::filref* ori = filrefori(job); ori && !ori->empty()) original = ori->toFileSpec();
  TavCertify::BroadcastParameterPDFExporter parameter(
      job, job->certified ? &*job->certified : nullptr, exported, original);
  b->DoSendMessage(id, parameter);
  return parameter.GetCancel();
}

// The separation checks of separated output and of the separation disabler;
// true when the export may go on.
bool separationChecksPass(jobstr* job, const PDFSettings& settings, const VisitorSearchObjects& v) {
  const bool flattening = settings.EnableFlattening != 0;
  if (settings.SeparatedOutput != 0) {
    if (v.CanMakeSeparatedPDF(flattening)) return true;
    if (v.HasPlacedPdfOrEps())
      show(TavGen::kError, "PDF/CANNOT MAKE SEPARATED PDF", {{"__OBJECT__", v.PlacedPdfOrEps().Text()}});
    if (!flattening && v.HasNonWhitePreservingBlendmode())
      show(TavGen::kError, "PDF/SEPARATED PDF NEEDS FLATTENING");
    return false;
  }
  if (settings.UseSeparationDisabler != 0) {
    if (v.PlacedFileUsesUnoutputSeparation()) {
      show(TavGen::kError, "PDF/CANNOT MAKE SEPARATED PDF",
           {{"__OBJECT__", v.PlacedUsingUnoutputSeparation().Text()}});
      return false;
    }
    if (v.HasNonWhitePreservingBlendmode() && !flattening) {
      for (int k = 0; k < 4; ++k) {
        const int p = sepgetcmyk(job, k);
        if (p >= 0 && !seppdftyp::NeedsOutputting(job, p)) {
          show(TavGen::kError, "PDF/SEPARATED PDF NEEDS FLATTENING");
          return false;
        }
      }
    }
  }
  return true;
}

// A process ink and another separation named like it, both used: they would
// both be written as that process ink.
bool cmykConflict(const jobstr* job) {
  for (int k = 0; k < 4; ++k) {
    const int p = sepgetcmyk(job, k);
    const int n = TavricLib::FindSeparation(job, kProcessNames[k]);
    if (p >= 0 && n >= 0 && n != p && sepisused(job, p, false) != 0 && sepisused(job, n, false) != 0) {
      show(TavGen::kError, "PDF/CMYK SEPARATION CONFLICT",
           {{"__SEPNAME1__", GetSeparationName(job, p)}, {"__SEPNAME2__", GetSeparationName(job, n)}});
      return true;
    }
  }
  return false;
}

void technicalInkWarnings(jobstr* job, const PDFSettings& settings) {
  if (!TavricLib::TechnicalSeparationInUse(job)) return;
  TavricLib::CheckTechnicalSeparations check(job, 0x20000, 0,
                                             settings.AddNonPrintingLayers != 0 ? 0x20000 : 0x60000, 0);
  check.Walk(jobGetSpahan(job));
  if (check.KnockoutFound()) show(TavGen::kWarning, "TECHNICAL INKS NOT IN OVERPRINT");
  if (check.NonSeparableBlendModeFound()) show(TavGen::kWarning, "TECHNICAL INKS WITH NONSEPARABLE BLENDMODE");
  if (TavricLib::ProcessSeparationMarkedTechnical(job)) show(TavGen::kWarning, "PROCESS INK MARKED TECHNICAL");
}

void processInkNameWarnings(const jobstr* job) {
  for (int k = 0; k < 4; ++k) {
    const int p = sepgetcmyk(job, k);
    if (p < 0) continue;
    if (!boost::algorithm::iequals(GetSeparationName(job, p), kProcessNames[k]))
      show(TavGen::kWarning, "PROCESS INK NAME MISMATCH", {{"__INKTYPENAME__", kProcessNames[k]}});
  }
}

// What stopped the file, for the messages naming it: the system's reason
// for a file error.
std::string failureReason(int result) {
  if (result > TavSys::kFileErrorBase) return TavSys::GetFileErrorMessage(result);
  return "the export stopped with result " + std::to_string(result);
}

void cannotWrite(const TavSys::FileSpec& target, int result) {
  show(TavGen::kBatchError, "PDF/CANNOT WRITE PDF FILE",
       {{"%s", target.GetFullPathUTF8()}, {"__REASON__", failureReason(result)}});
}

// Hidden layers that print are written and print: with layers as layers
// hidden from view, without them as plain art that shows too.
void hiddenLayerWarning(const jobstr* job, bool layers) {
  TavDB::ListScan scan(jobGetSpahan(job), TavDB::kObjLayer, 0, 0, 0x860000, 0x800000);
  if (scan.next() != nullptr) show(TavGen::kWarning, layers ? "HIDDEN PRINTING LAYERS" : "HIDDEN LAYERS PRINTED");
}

// The output file of one export: the writer writes through `file()`; nothing
// reaches the target before commit(). A device or a pipe is written in place,
// unless the complete file is to be read again (the passes over the written
// file): it is then made in the temporary folder and copied at the end.
class ExportOutput {
 public:
  ExportOutput(const TavSys::FileSpec& target, bool readAgain)
      : mTarget(target.path()),
        mOutput(target.path(), PDFSettings::msUseTempFolder != 0 || (readAgain && TavSys::isDeviceOrPipe(target.path()))),
        mFile(std::make_unique<TavSys::fil>(mOutput.descriptor(), false, mOutput.target())) {}
  TavSys::fil* file() const { return mFile.get(); }
  // The complete file for a pass over it: read by a name that gives the
  // file none in the target's folder, and replaced by what the pass saves,
  // a file as unnamed as the first until the commit.
  PassFile passFile() {
    fs::path folder = mTarget.parent_path();
    return {mOutput.readablePath(), folder.empty() ? fs::path(".") : folder, [this](GADoc& doc) {
              TavSys::OutputFile next(mTarget, mOutput.staged());
              doc.Save(next);
              mOutput.takeOver(next);
            }};
  }
  // Writes out what is buffered; 0 or the first error of the file's life.
  int close() {
    if (!mFile) return 0;
    const int rc = mFile->close();
    mFile.reset();
    return rc;
  }
  // Puts the complete file in the target's place. Throws TavSys::Error; the
  // target is then as it was.
  void commit() { mOutput.commit(); }

 private:
  fs::path mTarget;
  TavSys::OutputFile mOutput;  // removed unless committed
  std::unique_ptr<TavSys::fil> mFile;
};

// Result of the writer run.
struct WriterRun {
  int result = 0;
  bool placedPdf = false;
  // A failure the writer gave no message for: why it stopped.
  std::string unreported;
};

WriterRun runWriter(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                    PDFFileNameHandler* handler, TavSys::fil* file, TavDB::Object* tree,
                    const TavSys::tv_rectangle* mediaBox, const TavSys::tv_rectangle* trimBox,
                    std::uint64_t screenValue, std::uint32_t screenNumber,
                    const TavSys::FileSpec& target, PDFInkCallback* inkCallback, bool overlap,
                    std::vector<TavSys::FileSpec>* producedFiles) {
  WriterRun run;
  std::array<std::int32_t, 4> process{};
  for (int k = 0; k < 4; ++k) process[static_cast<std::size_t>(k)] = sepgetcmyk(job, k);
  DisableUnoutputSeparations(job, settings.UseSeparationDisabler != 0, refreshSeparationMap);
  XMPInkCallback callback = inkCallback ? std::move(*inkCallback) : XMPInkCallback{};
  try {
    std::unique_ptr<pdfouthan> out = createPdfOutHandler(
        job, tree, mediaBox, file, &settings, settings.PDFCompatibility, trimBox, process,
        screenValue, screenNumber, target, std::move(callback), overlap, producedFiles);
    if (settings.CertifiedEnabled != 0 && job->certified) {
      out->mCreatorOverride = job->certified->creator;
      // The certified creation date is kept in seconds; the Info entry wants
      // a PDF date text.
      out->mCreationDateOverride =
          TavCore::CreatePDFStringFromDateTime(TavSys::DateTime(job->certified->creationDate));
    }
    // A batch process keeps jobs open from one document to the next: the
    // font cache is made anew from what the tree now holds, unless the
    // application folder holds the marker that turns this off.
    if (artque() == 1) {
      std::error_code ec;
      const fs::path marker = TavSys::FileSupport::GetApplicationFolder() / "UpdateFontCacheOutlines.disabler";
      if (!fs::exists(marker, ec)) TavricCore::FontCaching::UpdateOutlines(TavricCore::jobGetFontCache(job),
                                                                          jobGetSpahan(job));
    }
    const std::string author = handler ? handler->GetAuthor() : std::string();
    run.result = out->writeDocument(refreshSeparationMap, author);
    pdfHasNonSeparableBlendmodes += out->mNonSeparableBlendFlag ? 1 : 0;
    const int finish = out->finishFile();
    if (run.result == 0) run.result = finish;
    run.placedPdf = out->mPlacedPdfFlag;
    if (run.result != 0) run.unreported = "the file could not be completed";
    // A one-up refused by normalized output has been reported already.
    if (run.result == 0 && out->mInvalidForNormalized) run.result = kExportInvalidForNormalized;
    out.reset();
  } catch (const TavSys::Error& e) {
    if (!e.key().empty()) TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
    if (!e.detail().empty()) TavSys::debug(e.detail());
    if (e.key().empty()) run.unreported = e.detail().empty() ? "the writer stopped" : e.detail();
    run.result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
  } catch (const std::bad_alloc&) {
    TavSys::debug("WritePDFFile: out of memory");
    run.result = TavSys::kFileErrorBase + ENOMEM;
    run.unreported = "out of memory";
  } catch (const std::exception& e) {
    // Nothing may escape to the host; the failure is reported as the file's.
    TavSys::debug(std::string("WritePDFFile: ") + e.what());
    run.result = TavSys::kResultAbandoned;
    run.unreported = e.what();
  }
  PdfObjectRegistry::deleteAll();
  return run;
}

// The passes over the complete file before it goes to the target: placed
// PDF pages replace their references, remapped inks are renamed. A file
// that either pass could not finish is not worth keeping: the export fails
// and the target stays as it was (a placed page with PDF 1.4 transparency
// under flattening included: -2).
int secondPass(const jobstr* job, const PDFSettings& settings, ExportOutput& output, bool placedPdf,
               bool overlap) {
  if (placedPdf) {
    const bool flattening = settings.EnableFlattening != 0;
    const int resolved =
        resolvePlacedPdfReferences(output.passFile(), flattening, overlap, settings.IsolateOneUp != 0);
    if (TavSys::Progress::isCanceled()) return TavSys::kResultAbandoned;
    if (resolved == kExportPlacedPdf14) {
      show(TavGen::kBatchError, "PDF/PDF 1.4 FILE PLACED WHICH IS NOT COMPATIBLE TO PDF 1.3");
      return kExportPlacedPdf14;
    }
    if (resolved != 0) {
      show(TavGen::kBatchError, "PDF/PLACED PDF PAGES NOT EMBEDDED");
      return TavSys::kResultAbandoned;
    }
  }
  // Without a remapped ink there is nothing to rename.
  std::string renameProblem;
  if (settings.UseSeparationDisabler != 0 && JobHasRemapping(job) &&
      RenameInksInWrittenFile(job, output.passFile(), &renameProblem) != 0) {
    show(TavGen::kBatchError, "PDF/INKS NOT RENAMED", {{"__REASON__", renameProblem}});
    return TavSys::kResultAbandoned;
  }
  return TavSys::Progress::isCanceled() ? TavSys::kResultAbandoned : 0;
}

}  // namespace

void ReportInvalidNormalizedObjects(const std::string& objects) {
  const int batch = artque();
  if (batch == 2)
    show(TavGen::kError, "PDF/INVALID OBJECTS FOR NORMALIZED PDF CONVERSION TASK", {{"__OBJECT__", objects}});
  else
    show(batch == 1 ? TavGen::kBatchError : TavGen::kError, "PDF/INVALID OBJECTS FOR NORMALIZED PDF OUTPUT",
         {{"__OBJECT__", objects}});
}

void FixCertifiedPDFDate(jobstr* job) {
  if (job && job->certified && TavCertify::CertifiedPrefs::Instance().IsCertifiedPDFEnabled())
    job->certified->creationDate = TavSys::time64();
}

void FormatMaxSizeTexts(double sizeKB, double maxKB, std::string& sizeText, std::string& maxText) {
  static const char* const kUnits[5] = {"PDF/KILOBYTES", "PDF/MEGABYTES", "PDF/GIGABYTES",
                                        "PDF/TERRABYTES", "PDF/PETABYTES"};
  int unit = 0;
  while (sizeKB > 1024.0 && unit < 4) {
    sizeKB /= 1024.0;
    maxKB /= 1024.0;
    ++unit;
  }
  const std::string unitText = TavCore::GetLocalizedUTF8String(kUnits[unit]);
  auto fixed2 = [](double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
  };
  sizeText = fixed2(sizeKB) + unitText;
  maxText = fixed2(maxKB) + unitText;
}

int WritePDFFile(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                 PDFFileNameHandler* handler, bool force, TavSys::FileSpec* target,
                 TavDB::Object* tree, const TavSys::tv_rectangle* mediaBox,
                 const TavSys::tv_rectangle* trimBox, std::uint64_t screenValue,
                 std::uint32_t screenNumber, bool archive, PDFInkCallback* inkCallback,
                 std::vector<TavSys::FileSpec>* producedFiles) {
  if (!job || !target || !target->IsValid()) return TavSys::kResultAbandoned;
  // The whole export: the pages fill all but the last hundredth, which the
  // file being read again and moved to its place completes.
  TavSys::Progress progress(100, "PDF file");
  progress.setPart(99);
  TavricCore::ResetType1FontNamePrefix();
  TavDB::ScopedCurrentJob current(job);
  const bool broadcasting = settings.CertifiedEnabled != 0;

  // Certified jobs: edit log and the "before" broadcast, which may cancel.
  if (job->certified) {
    writeEditLog(job, settings, *target);
    if (broadcasting && sendBroadcast(TavCertify::kBroadcastBeforePDFExport, job, *target)) {
      sepEnableAll(job);
      return TavSys::kResultAbandoned;
    }
  }

  // Job analysis and the checks that may refuse the export.
  VisitorSearchObjects analysis(job);
  analysis.SetRemapCheck(settings.UseSeparationDisabler != 0 && JobHasRemapping(job));
  analysis.Walk(jobGetSpahan(job));
  if (settings.NormalizedOutput != 0 && !analysis.IsValidForNormalizedPDF()) {
    ReportInvalidNormalizedObjects(analysis.InvalidForNormalized().Text());
    return kExportInvalidForNormalized;
  }
  if (!separationChecksPass(job, settings, analysis)) return TavSys::kResultAbandoned;
  if (settings.ProcessCMYKFlags != 0 && cmykConflict(job)) return TavSys::kResultAbandoned;
  if (analysis.FindRemappedSeparationInUse() != 0) {
    std::u16string text = analysis.CollectSeparationRemapProblems();
    TavGen::ShowInfoMessage(TavGen::kError, 1,
                            TavCore::LocalizedString{analysis.RemapMessageKey(), std::move(text)});
    if (!force) return kExportRemapProblem;
  }
  technicalInkWarnings(job, settings);
  if (settings.ProcessCMYKFlags == 0) processInkNameWarnings(job);
  // From here on the warnings tell what the file holds or leaves out: they
  // are shown only when the file is written.
  TavGen::HeldMessages fileMessages;
  // The output file, beside the target (or in a temporary folder).
  std::unique_ptr<ExportOutput> output;
  try {
    // Placed PDF pages to embed and inks to rename are done in the complete
    // file: it is read again.
    const bool readAgain = (settings.UseSeparationDisabler != 0 && JobHasRemapping(job)) ||
                           (analysis.HasPlacedPdfOrEps() && (settings.EmbedImages != 0 || settings.IncludePrivateData != 0));
    output = std::make_unique<ExportOutput>(*target, readAgain);
  } catch (const TavSys::Error& e) {
    show(TavGen::kError, "PDF/COULD NOT OPEN PDF FILE",
         {{"__FILE__", target->GetFullPathUTF8()}, {"__REASON__", failureReason(e.code())}});
    return e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
  }

  hiddenLayerWarning(job, settings.IncludeLayers != 0);
  ColorSpace::SetUseTRDotgain(settings.EnableDotgain != 0 && settings.NormalizedOutput == 0);
  pdfHasNonSeparableBlendmodes = 0;

  // Flattening: a temporary tree replaces the job's for the writer run.
  int result = 0;
  bool placedPdf = false;
  std::string unreported;  // why the writer failed, when it said nothing
  {
    PDFSpaSetter flattener(job, false);
    SetFlattenerParameters(flattener, settings);
    std::unique_ptr<TavDB::Object> flat;
    try {
      // A part of the job written on its own (`tree`, a JDF folder's marks)
      // is flattened itself: flattening the whole job would leave the part's
      // own objects, which are what is written, as they are.
      flat = FlattenJobSpa(flattener, tree);
    } catch (const TavSys::Error& e) {
      // Writing the transparency unflattened would not print as asked.
      if (!e.key().empty()) TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
      if (!e.detail().empty()) TavSys::debug(e.detail());
      result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
    }
    std::unique_ptr<TavDB::Object> original;
    if (result != 0) {
      flat.reset();
    } else if (flattener.cancelled()) {
      flat.reset();
      result = TavSys::kResultAbandoned;
    } else if (flat) {
      // The flattened part is written, and is the job's tree for the run
      // (the writer looks its pictures up there).
      if (tree != nullptr) tree = flat.get();
      original = jobSetSpahan(job, std::move(flat));
    }
    if (result == 0) {
      const WriterRun run =
          runWriter(job, settings, refreshSeparationMap, handler, output->file(), tree, mediaBox,
                    trimBox, screenValue, screenNumber, *target, inkCallback,
                    analysis.PlacedArtworkOverlaps(), producedFiles);
      result = run.result;
      placedPdf = run.placedPdf;
      unreported = run.unreported;
    }
    if (original) jobSetSpahan(job, std::move(original));
  }
  const int closeResult = output->close();
  if (result == 0 && closeResult != 0) {
    result = closeResult;
    unreported = "the file could not be closed";
  }
  if (result == 0 && TavSys::Progress::isCanceled()) result = TavSys::kResultAbandoned;

  if (result == TavSys::kResultAbandoned && TavSys::Progress::isCanceled()) {
    show(TavGen::kError, "PDF/EXPORT CANCELLED");
  } else if (result != 0) {
    // A refusal of the writer has said what stopped it already; a failure
    // that said nothing (a full disk, a write error) is told here.
    if (result >= TavSys::kFileErrorBase) unreported = TavSys::GetFileErrorMessage(result);
    if (!unreported.empty()) {
      TavGen::message(TavGen::kBatchError, 1, "PDF/COULD NOT WRITE PDF FILE",
                      {{"__FILE__", target->GetFullPathUTF8()}, {"__REASON__", unreported}});
    }
  } else {
    try {
      result = secondPass(job, settings, *output, placedPdf, analysis.PlacedArtworkOverlaps());
    } catch (const TavSys::Error& e) {
      result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
      if (!TavSys::Progress::isCanceled()) cannotWrite(*target, result);
    }
    if (result == TavSys::kResultAbandoned && TavSys::Progress::isCanceled()) show(TavGen::kError, "PDF/EXPORT CANCELLED");
  }

  if (result == 0) {
    try {
      // The receivers read the complete file by name before it is moved.
      if (broadcasting && TavCertify::PDFCertify::getCertifyBroadcaster()) {
        sendBroadcast(TavCertify::kBroadcastAfterPDFExport, job, TavSys::FileSpec(output->passFile().path));
        FixCertifiedPDFDate(job);
      }
      output->commit();
      if (job->certified) job->certified->originalPDFFullPath = target->GetFullPathUTF8();
    } catch (const TavSys::Error& e) {
      result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
      cannotWrite(*target, result);
    }
  }
  output.reset();  // a file not committed is removed here
  if (result == 0 && settings.IncludeStandardPreview != 0) {
    // The preview's rendering is the last part of the export.
    progress.set(99);
    progress.setPart(1);
    writeStandardPreview(job, settings, *target);
  }
  if (result == 0) {
    fileMessages.release();
    progress.set(100);
  }

  if (result == 0 && archive) {
    if (TavricCore::Archive* a = TavricCore::Archive::ForJob(job))
      a->addFile(*target, TavricCore::ArchiveFile::ARCHIVE_PDF, nullptr);
  }

  if (result == 0 && settings.MaxSizeEnabled != 0) {
    std::error_code ec;
    const auto bytes = fs::file_size(target->path(), ec);
    const double size = ec ? 0.0 : static_cast<double>(bytes >> 10);
    if (size > settings.MaxSize * 1.2) {
      std::string sizeText, maxText;
      FormatMaxSizeTexts(size, settings.MaxSize, sizeText, maxText);
      show(TavGen::kWarning, "PDF/MAX SIZE TOO LOW", {{"__SIZE__", sizeText}, {"__MAXSIZE__", maxText}});
    }
  }

  sepEnableAll(job);
  return result;
}

}  // namespace TavPDF

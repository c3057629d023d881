// The export entry points the host calls.
#include <string>

#include "driver/sizecalc.h"
#include "driver/visitors.h"
#include "driver/writepdf.h"
#include "platform/fonts/fontcache.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"
#include "tavpdf/PDFSettings.h"

int pdfHasNonSeparableBlendmodes = 0;

PDFFileNameHandler::~PDFFileNameHandler() = default;
void PDFFileNameHandler::FileProduced(const TavSys::FileSpec&) {}
TavSys::FileSpec PDFFileNameHandler::GetJDFTarget(const TavSys::FileSpec& target) { return target; }
std::string PDFFileNameHandler::GetAuthor() { return {}; }

namespace TavPDF {

namespace {
constexpr const char* kProcessNames[4] = {"Cyan", "Magenta", "Yellow", "Black"};


// Link-parameter keys of the job.
struct LinkKey {
  std::uint32_t id;
  const char* label;
  const char* shortName;
};
constexpr LinkKey kLinkKeys[5] = {
    {0xa000000, "TAVLINK/PDF", "PDF"},
    {0xa010000, "TAVLINK/DISTORT", "Distort"},
    {0xa010100, "TAVLINK/DISTORT VERTICAL", "Vertical"},
    {0xa010200, "TAVLINK/DISTORT HORIZONTAL", "Horizontal"},
    {0xa020000, "TAVLINK/DOTGAIN", "DotGain"},
};

int OnLinkParameterEvent(const TavricCore::Event& event) {
  if (event.type != 0 && event.type != 26) return 0;
  if (!event.job) return 0;
  for (const LinkKey& key : kLinkKeys)
    parkey(event.job, key.id, TavCore::GetLocalizedUTF8String(key.label), key.shortName, 0);
  UpdatePDFLinkParameters(*event.job, gPDFSettings);
  return 0;
}

}  // namespace


// Warns once when something used a non-separable blend mode and a used
// process ink is not named as its process colour (exactly, case included).
void WarnNonSeparableBlendModes(const jobstr* job) {
  if (pdfHasNonSeparableBlendmodes == 0 || artque() != 0) return;
  bool misnamed = false;
  for (int pos = 0; pos < kMaxSeparations && !misnamed; ++pos) {
    const int sep = sepsoruse(job, pos, false);
    if (sep < 0) continue;
    const int k = sepiscmyk(job, sep);
    if (k < 0 || k > 3) continue;
    if (GetSeparationName(job, sep) != kProcessNames[k]) misnamed = true;
  }
  if (misnamed) TavGen::message(TavGen::kWarning, 1, "PDF/NONSEPARABLE BLENDMODES MAY BE OUTPUT DIFFERENTLY");
  pdfHasNonSeparableBlendmodes = misnamed ? 1 : 0;
}

void pdfoutini() {
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  TavricCore::AddEventHandler(&OnLinkParameterEvent);
  // The model's separation set-up needs no initialisation.
}

int CheckSeparationRemapping(jobstr* job, std::u16string& message) {
  if (!job) return 0;
  VisitorSearchObjects visitor(job);
  visitor.SetRemapCheck(true);
  visitor.Walk(jobGetSpahan(job));
  const int bits = visitor.FindRemappedSeparationInUse();
  if (bits != 0) message = visitor.CollectSeparationRemapProblems();
  return bits;
}

}  // namespace TavPDF

void UpdatePDFLinkParameters(jobstr& job, const PDFSettings& settings) {
  SetParameterDoubleValue(&job, 0xa010100, settings.GetUIDistortionV(), 0);
  SetParameterDoubleValue(&job, 0xa010200, settings.GetUIDistortionH(), 0);
  SetParameterStringValue(&job, 0xa020000, settings.DotgainFile.toFileSpec().GetFileNameUTF8());
}

int OutputPDFDocument(jobstr* job, PDFSettings& settings, MarksSettings& marks,
                      bool refreshSeparationMap, bool force, PDFFileNameHandler* handler,
                      TavSys::FileSpec& target, PDFInkCallback inkCallback,
                      std::vector<TavSys::FileSpec>* producedFiles) {
  using namespace TavPDF;
  PDFInkCallback callback = std::move(inkCallback);  // destroyed on every return
  if (!job) return TavSys::kResultAbandoned;
  const int reporter =
      TavricCore::RegisterReporter(TavCore::GetLocalizedUni16String("EXPORT PDF/REPORTER").utf8());
  TavricCore::ErrorReporterScopeGuard reporterGuard(reporter);

  // Settings that reached the record without the checks of the settings
  // dialog (a flavour file, a host) would give a wrong page: a distortion
  // that turns the page over, a resolution of 0. Nothing is written.
  if (const auto outOfRange = SettingsOutOfRange(settings); !outOfRange.empty()) {
    for (const SettingOutOfRange& bad : outOfRange)
      TavGen::message(TavGen::kError, 1, "PDF/BAD SETTING VALUE",
                      {{"__NAME__", bad.field->name}, {"__VALUE__", bad.value}, {"__REASON__", bad.reason}});
    return TavSys::kResultAbandoned;
  }

  if (settings.SeparatedOutput != 0 && sepGetCount(job, false, false) == 0) {
    // Nothing is written; an existing file at the target stays as it is.
    TavGen::message(TavGen::kError, 1, "PDF/NO SEPARATIONS FOUND");
    return TavSys::kResultAbandoned;
  }

  int result = 0;
  {
    // Everything the export changes in the job is put back when this ends.
    JobStateGuard jobState(job);
    // Subset font names are tagged afresh in every export.
    TavricCore::ResetType1FontNamePrefix();
    TavDB::ScopedCurrentJob current(job);
    const TavDB::tv_point originalOrigin = getOriginalOrigin(job);
    TavDB::Object* marksLayer = nullptr;  // owned by the job's tree
    std::vector<TavDB::tv_box> marksBoxes;

    if (settings.AddRegistrationMarks != 0) {
      DisableUnoutputSeparations(job, settings.UseSeparationDisabler != 0, refreshSeparationMap);
      ExtraMarksSettings extra;
      extra.distortionV = static_cast<float>(settings.GetUIDistortionV());
      extra.distortionH = static_cast<float>(settings.GetUIDistortionH());
      if (settings.EnableDotgain != 0) extra.dotgainFile = settings.DotgainFile;
      if (auto group = regmarksobjUsingSettings(job, marks, extra)) {
        auto layer = TavDB::Object::create(TavDB::ObjectKind::Layer);
        layer->extraMut().name = "Registration marks";
        layer->addontop(std::move(group));
        layer->recalcBounds();
        marksLayer = TavDB::addontop(jobGetSpahan(job), std::move(layer));
        marksBoxes.push_back(marksLayer->bounds());
        job->editHistory.AddEntry(22, {}, marksBoxes);
      }
      sepEnableAll(job);
    }

    if (settings.MaxSizeEnabled != 0) CalculateMaxSizeConfiguration(job, settings, false);

    if (settings.NormalizedOutput != 0) {
      TavSys::tv_rectangle box;
      if (getbox(job, getdefaultboxtype(job, kTrimBox), box))
        setOriginalOrigin(job, {static_cast<std::int32_t>(box.bottom), static_cast<std::int32_t>(box.left)});
    }

    if (settings.GenerateJDF != 0) {
      const std::int32_t certified = settings.CertifiedEnabled;
      settings.CertifiedEnabled = 0;
      result = OutputJDFDocument(job, settings, refreshSeparationMap, handler, &target, producedFiles);
      settings.CertifiedEnabled = certified;
    } else {
      result = WritePDFFile(job, settings, refreshSeparationMap, handler, force, &target, nullptr,
                            nullptr, nullptr, 0, kNoScreen, true, &callback, producedFiles);
    }

    setOriginalOrigin(job, originalOrigin);
    if (marksLayer) {
      job->editHistory.AddEntry(43, {}, marksBoxes);
      TavDB::objrem(marksLayer);
      sepEnableAll(job);
    }
  }

  if (result == 0) warnIfbadCMYKSeparations(job, true);
  WarnNonSeparableBlendModes(job);
  callback = nullptr;
  return result;
}

// tavpdf export: exports a job file as a PDF file under a flavour, with
// settings overrides, the way the host's export dialog would.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/command.h"
#include "platform/files.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"

namespace tavcli {

int runExport(jobstr& job, PDFSettings& settings, TavSys::FileSpec& target, bool force,
              std::vector<TavSys::FileSpec>* produced) {
  TavPDF::pdfoutini();
  TavricCore::SendEvent({0, &job});  // the host announces the opened job

  // The job's own marks settings stand for the host's marks dialog.
  MarksSettings marks;
  if (job.marks.cropMarks || job.marks.registrationMarks) {
    const double toPoints = 72.0 / job.ppi;
    if (job.marks.offset > 0) marks.offsetPt = job.marks.offset * toPoints;
    if (job.marks.length > 0) marks.lengthPt = job.marks.length * toPoints;
    if (job.marks.lineWidth > 0) marks.lineWidthPt = job.marks.lineWidth * toPoints;
  }
  return OutputPDFDocument(&job, settings, marks, true, force, nullptr, target, {}, produced);
}

namespace {

struct ExportOptions {
  std::string job;
  std::string output;
  std::string flavour;
  std::string flavourFile;
  std::vector<std::string> overrides;
  bool force = false;
  bool batch = false;
};

int exportJob(const ExportOptions& o) {
  if (o.output.empty()) return badInput("the output must name a file (-o FILE.pdf)");
  PDFSettings settings;
  try {
    if (!o.flavourFile.empty()) {
      settings = TavPDF::SettingsForFlavour("Press");
      if (TavPDF::LoadFlavourFileIntoSettings(TavSys::FileSpec::FromGenericPath(o.flavourFile),
                                              settings) != 0)
        return kExitBadInput;  // the engine has said why
    } else {
      settings = TavPDF::SettingsForFlavour(o.flavour.empty() ? std::string("Press") : o.flavour);
    }
    for (const std::string& assignment : o.overrides) TavPDF::ApplySettingOverride(settings, assignment);
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
    return kExitBadInput;
  }
  // The PDF version follows from the other settings, as in the host's
  // dialog; say so when that overrules what the user asked for.
  const int askedCompatibility = settings.PDFCompatibility;
  settings.VerifyCompatibility();
  const bool compatibilityAsked = std::any_of(o.overrides.begin(), o.overrides.end(), [](const std::string& a) {
    return a.rfind("PDFCompatibility=", 0) == 0;
  });
  if (compatibilityAsked && settings.PDFCompatibility != askedCompatibility) {
    std::cerr << "tavpdf: PDFCompatibility=" << askedCompatibility << " does not fit the other settings"
              << " (PDF 1.3 needs EnableFlattening=1 and NormalizedOutput=0, PDF 1.5 follows from"
              << " layers); PDFCompatibility=" << settings.PDFCompatibility << " is used\n";
  }

  std::unique_ptr<jobstr> job = loadJobOrReport(o.job);
  if (!job) return kExitBadInput;
  std::vector<std::filesystem::path> inputs = jobInputFiles(*job);
  if (!o.flavourFile.empty()) inputs.emplace_back(o.flavourFile);
  if (outputIsAnInput(o.output, inputs)) return kExitBadInput;

  setArtque(o.batch ? 1 : 0);
  TavSys::FileSpec target = TavSys::FileSpec::FromGenericPath(o.output);
  std::vector<TavSys::FileSpec> produced;  // the JDF road's PDF files
  const int result = runExport(*job, settings, target, o.force, &produced);
  if (result != 0) {
    std::cerr << "tavpdf: export of " << o.job << " failed with result " << result << '\n';
    return kExitEngine;
  }
  // Every file written; the JDF road's ticket last.
  for (const TavSys::FileSpec& file : produced) std::cout << file.path().string() << '\n';
  std::cout << target.path().string() << '\n';
  // The command is the process's last work: the job's memory (every object
  // and paint) goes back with the process instead of being freed piece by
  // piece, which costs a large job a noticeable share of its export. The job
  // stays reachable from here (a leak checker sees it held, not lost); a
  // second export in one process frees the first's.
  static jobstr* keptUntilExit = nullptr;
  delete keptUntilExit;
  keptUntilExit = job.release();
  return kExitDone;
}

const CommandRegistrar registrar{Command{
    "export",
    "Export a job file as a PDF file",
    [](CLI::App& app) -> std::function<int()> {
      auto o = std::make_shared<ExportOptions>();
      app.add_option("job", o->job, "Job file (JSON)")->required();
      app.add_option("-o,--output", o->output, "PDF file to write")->required();
      auto* flavour = app.add_option("--flavour", o->flavour, "Flavour name or number (default Press)");
      auto* file = app.add_option("--flavour-file", o->flavourFile, "Flavour file (XML)");
      flavour->excludes(file);
      app.add_option("--set", o->overrides, "Setting override Field=Value (repeatable)");
      app.add_flag("--force", o->force, "Go on despite ink remapping problems");
      app.add_flag("--batch", o->batch, "Run as the host's batch mode");
      return [o] { return exportJob(*o); };
    }}};

}  // namespace
}  // namespace tavcli

// tavpdf jdf: exports a job file as a JDF folder: the ticket, one PDF per
// placed artwork and per group of marks, and the placed PDF files.
#include <iostream>
#include <memory>
#include <optional>
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
namespace {

struct JdfOptions {
  std::string job;
  std::string output;
  std::string flavour = "JDF";
  std::optional<bool> collectMarks;  // unset: the flavour's JDFCollectMarks
  bool copyPlaced = false;
};

int exportJdf(const JdfOptions& o) {
  const TavSys::FileSpec target = TavSys::FileSpec::FromGenericPath(o.output);
  if (target.GetFileNameUTF8().empty() || target.path().filename() == "." || target.path().filename() == "..")
    return badInput("the output must name the ticket file, e.g. folder/job.jdf");
  PDFSettings settings;
  try {
    settings = TavPDF::SettingsForFlavour(o.flavour);
  } catch (const TavSys::Error& e) {
    TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
    return kExitBadInput;
  }
  settings.GenerateJDF = 1;
  if (o.collectMarks) settings.JDFCollectMarks = *o.collectMarks ? 1 : 0;
  if (o.copyPlaced) settings.JDFCopyPDF = 1;
  settings.VerifyCompatibility();

  std::unique_ptr<jobstr> job = loadJobOrReport(o.job);
  if (!job) return kExitBadInput;
  setArtque(0);
  TavPDF::pdfoutini();
  TavricCore::SendEvent({0, job.get()});

  MarksSettings marks;
  TavSys::FileSpec ticket = target;
  std::vector<TavSys::FileSpec> produced;
  const int result = OutputPDFDocument(job.get(), settings, marks, true, false, nullptr, ticket, {}, &produced);
  if (result != 0) {
    std::cerr << "tavpdf: JDF export of " << o.job << " failed with result " << result << '\n';
    return kExitEngine;
  }
  for (const TavSys::FileSpec& file : produced) std::cout << file.GetFullPathUTF8() << '\n';
  std::cout << ticket.GetFullPathUTF8() << '\n';
  return kExitDone;
}

const CommandRegistrar registrar{Command{
    "jdf",
    "Export a job file as a JDF ticket with its PDF files",
    [](CLI::App& app) -> std::function<int()> {
      auto o = std::make_shared<JdfOptions>();
      app.add_option("job", o->job, "Job file (JSON)")->required();
      app.add_option("-o,--output", o->output,
                     "Ticket to write (FOLDER/NAME.jdf); its PDF files go into the same folder")
          ->required();
      app.add_option("--flavour", o->flavour, "Flavour name or number (default JDF)");
      auto* collect = app.add_flag_callback(
          "--collect-marks", [o] { o->collectMarks = true; },
          "Gather all marks into one file (default: the flavour's JDFCollectMarks; the JDF flavour gathers)");
      app.add_flag_callback("--no-collect-marks", [o] { o->collectMarks = false; },
                            "Group marks by distance, one file per group")
          ->excludes(collect);
      app.add_flag("--copy-placed", o->copyPlaced, "Copy placed PDF files into the folder instead of referring to them");
      return [o] { return exportJdf(*o); };
    }}};

}  // namespace
}  // namespace tavcli

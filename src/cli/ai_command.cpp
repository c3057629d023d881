// tavpdf ai: exports a job file as an Illustrator file.
#include <memory>
#include <string>

#include "cli/command.h"
#include "platform/files.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "tavpdf/illustrator.h"

namespace tavcli {
namespace {

struct AiOptions {
  std::string job;
  std::string output;
  int mode = kIllustrator32;
  bool traps = false;
};

int exportIllustrator(const AiOptions& o) {
  std::unique_ptr<jobstr> job = loadJobOrReport(o.job);
  if (!job) return kExitBadInput;
  if (outputIsAnInput(o.output, jobInputFiles(*job))) return kExitBadInput;
  const int result =
      outputIllustratorFile(job.get(), TavSys::FileSpec(o.output), o.mode, o.traps ? 1 : 0, 1, false);
  // Mode 0 answers 1 for a file that was written with a warning on complex
  // paths; the other modes for a file that misses something (an error said what).
  if (result == 0 || (result == 1 && o.mode == kIllustrator32)) return kExitDone;
  return kExitEngine;
}

const CommandRegistrar registrar{Command{
    "ai",
    "Export a job file as an Illustrator file",
    [](CLI::App& app) -> std::function<int()> {
      auto o = std::make_shared<AiOptions>();
      app.add_option("job", o->job, "Job file (JSON)")->required();
      app.add_option("-o,--output", o->output, "Illustrator file to write")->required();
      app.add_option("--mode", o->mode,
                     "0 Illustrator 3.2; 1 and 3 Illustrator 5.0; 2 Illustrator 7.0 (with raster pictures and maps)")
          ->check(CLI::Range(0, 3));
      app.add_flag("--traps", o->traps, "Write trap objects too");
      return [o] { return exportIllustrator(*o); };
    }}};

}  // namespace
}  // namespace tavcli

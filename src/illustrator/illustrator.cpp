#include "tavpdf/illustrator.h"

#include <cerrno>
#include <string>

#include "illustrator/illustrator32.h"
#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

// Writes the text so that a failure or a cancel leaves no half-written file.
// Returns 0, or 1 when cancelled; throws TavSys::Error.
int saveText(const TavSys::FileSpec& file, const std::string& text) {
  TavSys::OutputFile output(file.path());
  output.writeAll(text);
  if (TavSys::Progress::isCanceled()) return TavSys::kResultAbandoned;
  output.commit();
  return 0;
}

int write32(const jobstr* job, const std::string& title, const TavSys::FileSpec& file, int traps) {
  std::string text;
  const int result = TavIllu::WriteIllustrator32(job, title, traps != 0, text);
  try {
    if (saveText(file, text) != 0) return TavSys::kResultAbandoned;
  } catch (const TavSys::Error& e) {
    // The file could not be created or written: that is a failure, reported
    // with the system's reason, never a success.
    const int code = e.code() != 0 ? e.code() : TavSys::kFileErrorBase + EIO;
    TavGen::message(TavGen::kError, 1, "CANNOT OPEN ILLUSTRATOR FILE",
                    {{"__FILE__", file.GetFullPathUTF8()},
                     {"__REASON__", TavSys::GetFileErrorMessage(code)}});
    return code;
  }
  return result;
}

}  // namespace

int outputIllustratorFile(jobstr* job, const TavSys::FileSpec& file, int mode, int traps,
                          int /*factor*/, bool /*keepInvisible*/) {
  if (job == nullptr) return TavSys::kResultAbandoned;
  TavDB::ScopedCurrentJob current(job);
  if (mode != kIllustrator32) {
    TavGen::message(TavGen::kError, 1, "ILLUSTRATOR/MODE NOT AVAILABLE",
                    {{"__MODE__", std::to_string(mode)}});
    return TavSys::kResultAbandoned;
  }
  const int result = write32(job, filnamcle(job), file, traps);
  if (result == 1) {
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String(
                                "SOME PATHS ARE TOO COMPLEX FOR PREVIEW IN ILLUSTRATOR"));
  }
  return result;
}

#include "tavpdf/illustrator.h"

#include <cerrno>
#include <fstream>
#include <string>

#include "illustrator/illustrator32.h"
#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

namespace {

// Writes the text through a temporary file beside the target, so that a
// failure leaves no half-written file. Returns 0 or a file error code.
int saveText(const TavSys::FileSpec& file, const std::string& text) {
  TavSys::AtomicOutputFile output(file.path());
  {
    std::ofstream stream(output.tempPath(), std::ios::binary | std::ios::trunc);
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.flush();
    if (!stream) throw TavSys::fileError(errno != 0 ? errno : EIO, file.GetFullPathUTF8());
  }
  output.commit();
  return 0;
}

int write32(const jobstr* job, const std::string& title, const TavSys::FileSpec& file, int traps) {
  std::string text;
  const int result = TavIllu::WriteIllustrator32(job, title, traps != 0, text);
  try {
    saveText(file, text);
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

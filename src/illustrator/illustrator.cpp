#include "tavpdf/illustrator.h"

#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "illustrator/illoutjob.h"
#include "illustrator/illustrator32.h"
#include "platform/kernelfile.h"
#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

// Writes the text so that a failure or a cancel leaves no half-written file.
// Returns 0, or -2 when cancelled; throws TavSys::Error.
int saveText(const TavSys::FileSpec& file, const std::string& text) {
  TavSys::OutputFile output(file.path());
  output.writeAll(text);
  if (TavSys::Progress::isCanceled()) return -2;
  output.commit();
  return 0;
}

int write32(const jobstr* job, const std::string& title, const TavSys::FileSpec& file, int traps) {
  std::string text;
  std::vector<std::string> leftOut;
  const int result = TavIllu::WriteIllustrator32(job, title, traps != 0, text, &leftOut);
  try {
    // A cancel is no warning about complex paths.
    if (saveText(file, text) != 0) return -2;
  } catch (const TavSys::Error& e) {
    // The file could not be created or written: that is a failure, reported
    // with the system's reason, never a success.
    const int code = e.code() != 0 ? e.code() : TavSys::kFileErrorBase + EIO;
    TavGen::message(TavGen::kError, 1, "CANNOT OPEN ILLUSTRATOR FILE",
                    {{"__FILE__", file.GetFullPathUTF8()},
                     {"__REASON__", TavSys::GetFileErrorMessage(code)}});
    return code;
  }
  for (const std::string& what : leftOut) {
    TavGen::message(TavGen::kWarning, 1, "ILLUSTRATOR/OBJECTS LEFT OUT", {{"__WHAT__", what}});
  }
  return result;
}

}  // namespace

namespace TavIllu {

int WriteIllustrator57(jobstr* job, int mode, int traps, const TavSys::FileSpec& file, int factor,
                       bool keepInvisible) {
  if (job == nullptr) return TavSys::kResultOk;
  std::unique_ptr<TavSys::OutputFile> target;
  std::unique_ptr<TavSys::fil> out;
  auto cannotWrite = [&](int code) {
    if (code == 0) code = TavSys::kFileErrorBase + EIO;
    TavGen::message(TavGen::kError, 1, "CANNOT OPEN ILLUSTRATOR FILE",
                    {{"__FILE__", file.GetFullPathUTF8()},
                     {"__REASON__", TavSys::GetFileErrorMessage(code)}});
    TavGen::ShowInfoMessage(TavGen::kError, 1, TavSys::GetFileErrorMessage(code));
    return code;
  };
  try {
    target = std::make_unique<TavSys::OutputFile>(file.path());
    out = std::make_unique<TavSys::fil>(target->descriptor(), false, target->target());
  } catch (const TavSys::Error& e) {
    return cannotWrite(e.code());
  }
  // Whatever goes wrong below, the temporary file goes with `target`, and
  // the warnings about what the file leaves out are shown only for a file
  // that is written.
  TavGen::HeldMessages fileMessages;
  TavSys::Progress progress(100, "Illustrator file");
  progress.setPart(99);
  int result = 0;
  // Pattern fills add the paints of their tiles to the job while they are
  // written; the host's job gets its own back.
  JobStateGuard restore(job);
  try {
    illoutjob writer(job, mode, traps, out.get(), factor, keepInvisible);
    result = writer.WriteDocument();
  } catch (const TavSys::Error& e) {
    if (!e.detail().empty()) TavSys::debug(e.detail());
    if (e.code() >= TavSys::kFileErrorBase) return cannotWrite(e.code());
    if (!e.key().empty()) TavGen::message(TavGen::kError, 1, e.key(), e.placeholders());
    return e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
  } catch (const std::bad_alloc&) {
    TavGen::message(TavGen::kError, 1, "CANNOT OPEN ILLUSTRATOR FILE",
                    {{"__FILE__", file.GetFullPathUTF8()}, {"__REASON__", "not enough memory"}});
    return TavSys::kResultAbandoned;
  }
  // Cancelled, or something of the job could not be written (an error said
  // what): the target stays as it was.
  if (result != 0) return result;
  if (const int error = out->close(); error != 0) return cannotWrite(error);
  try {
    target->commit();
  } catch (const TavSys::Error& e) {
    return cannotWrite(e.code());
  }
  fileMessages.release();
  progress.set(100);
  return result;
}

}  // namespace TavIllu

int outputIllustratorFile(jobstr* job, const TavSys::FileSpec& file, int mode, int traps, int factor,
                          bool keepInvisible) {
  if (job == nullptr) return TavSys::kResultAbandoned;
  TavDB::ScopedCurrentJob current(job);
  if (mode != kIllustrator32) {
    return TavIllu::WriteIllustrator57(job, mode, traps, file, factor, keepInvisible);
  }
  const int result = write32(job, filnamcle(job), file, traps);
  // Only the 3.2 writer counts points: 1 is its warning, not a failure.
  if (result == 1) {
    TavGen::ShowInfoMessage(TavGen::kWarning, 1,
                            TavCore::GetLocalizedUni16String(
                                "SOME PATHS ARE TOO COMPLEX FOR PREVIEW IN ILLUSTRATOR"));
  }
  return result;
}

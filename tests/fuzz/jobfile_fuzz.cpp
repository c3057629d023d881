// deps: tv_kernel tv_platform
// The job loader on arbitrary bytes: it must load the job or refuse it with
// TavSys::Error, never crash, hang or throw anything else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    // Relative file names resolve into a folder that does not exist, so that
    // the input cannot make the loader read files of the machine by accident.
    std::unique_ptr<jobstr> job =
        TavKernel::loadJobFromMemory(text, "/nonexistent-tavpdf-fuzz", "fuzz.json");
    // Walk what was loaded, as the engine would.
    TavDB::ListScan scan(jobGetSpahan(job.get()), TavDB::kObjPath | TavDB::kObjText, 0);
    std::size_t points = 0;
    while (const TavDB::Object* o = scan.next()) points += o->points().size();
    for (int i = 0; i < sepfrejob(job.get()); ++i) (void)colsep16(job.get(), i);
    (void)points;
  } catch (const TavSys::Error&) {
    // Refused with a message: fine.
  } catch (...) {
    std::abort();  // anything else is a fault of the loader
  }
  return 0;
}

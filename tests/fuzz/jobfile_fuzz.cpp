// deps: tv_kernel tv_platform
// The job loader on arbitrary bytes: it must load the job or refuse it with
// TavSys::Error, never crash, hang or throw anything else; and the load while
// the text streams must end as the load of the whole document does, through
// the usual window and through windows of a few bytes, where every entry of
// an object list is taken apart and the window moves inside each token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"

namespace {

// The refusal's detail, or what was loaded, walked as the engine would.
std::string outcome(std::string_view text, bool streaming, std::size_t window = TavKernel::kJobStreamWindow) {
  TavKernel::setJobStreaming(streaming, window);
  try {
    // Relative file names resolve into a folder that does not exist, so that
    // the input cannot make the loader read files of the machine by accident.
    std::unique_ptr<jobstr> job =
        TavKernel::loadJobFromMemory(text, "/nonexistent-tavpdf-fuzz", "fuzz.json");
    TavDB::ListScan scan(jobGetSpahan(job.get()), TavDB::kObjPath | TavDB::kObjText, 0);
    std::string seen;
    while (const TavDB::Object* o = scan.next()) {
      const TavDB::tv_box b = o->bounds();
      seen += std::to_string(o->points().size()) + ":" + std::to_string(b.top) + "," +
              std::to_string(b.left) + "," + std::to_string(b.bottom) + "," + std::to_string(b.right) + " ";
    }
    for (int i = 0; i < sepfrejob(job.get()); ++i) {
      (void)colsep16(job.get(), i);
      seen += std::to_string(sepisused(job.get(), i));
    }
    return seen;
  } catch (const TavSys::Error& e) {
    return "refused: " + e.detail();
  } catch (...) {
    std::abort();  // anything else is a fault of the loader
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string whole = outcome(text, false);
  for (const std::size_t window : {TavKernel::kJobStreamWindow, std::size_t(3), std::size_t(40)})
    if (outcome(text, true, window) != whole) std::abort();
  return 0;
}

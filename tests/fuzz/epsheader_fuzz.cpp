// deps: tv_kernel tv_platform
// Feeds damaged EPS files to the header reader: a header it accepts has a
// PostScript section inside the file and a bounding box with area; anything
// else is refused with the unsupported-picture error, never a crash.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/kernel/epsfile.h"
#include "platform/tav_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  try {
    const TavKernel::EpsHeader h = TavKernel::ParseEpsHeader(file);
    if (h.psOffset > size || h.psLength > size - h.psOffset) std::abort();
    if (h.dos && (h.tiffOffset > size || h.tiffLength > size - h.tiffOffset)) std::abort();
    if (!(h.llx < h.urx) || !(h.lly < h.ury) || !std::isfinite(h.urx - h.llx) || !std::isfinite(h.ury - h.lly)) {
      std::abort();
    }
  } catch (const TavSys::Error& e) {
    if (e.key() != "PDF/UNSUPPORTED PICTURE TYPE") std::abort();
  }
  return 0;
}

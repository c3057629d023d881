// deps: tv_kernel tv_platform
// Feeds arbitrary bytes to the dot-gain file reader. Besides never crashing,
// every curve it accepts must sample into a table that never goes down and
// stays within 0..1.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/kernel/dotgain.h"
#include "platform/tav_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    for (const DotgainCurve& curve : ParseDotgainCurves(bytes)) {
      const auto table = SampleDotgainCurve(curve);
      for (std::size_t i = 0; i < table.size(); ++i) {
        if (!(table[i] >= 0 && table[i] <= 1) || (i > 0 && table[i] < table[i - 1])) std::abort();
      }
    }
  } catch (const TavSys::Error&) {
  }
  return 0;
}

// deps: tv_colour tv_pagewriter tv_pdfwriter tv_settings tv_kernel tv_platform
// Feeds arbitrary bytes to the check of a user's spot function (a screen's
// custom text that may become a Type 4 function): it must end on any input,
// deeply nested braces included, and never accept unbalanced braces.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "colour/halftone.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (TavPDF::IsType4Program(text) &&
      std::count(text.begin(), text.end(), '{') != std::count(text.begin(), text.end(), '}')) {
    std::abort();
  }
  return 0;
}

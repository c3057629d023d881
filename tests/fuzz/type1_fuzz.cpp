// deps: tv_fonts tv_platform
// The Type 1 program reader and subsetter on arbitrary bytes: a font file is
// read, listed, cut to its widths, checked and subset, or refused with TavSys::Error; never a
// crash, a hang or another exception. An input holding "eexec\n" is also taken as a
// cleartext part followed by a decrypted private part, which is encrypted
// first, so that mutations reach the Subrs and CharStrings parser directly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "platform/fonts/type1program.h"
#include "platform/tav_error.h"

namespace {

void exercise(std::string_view file) {
  try {
    const Fonts::Type1Program program = Fonts::ReadType1Program(file, "fuzz");
    const auto names = Fonts::Type1GlyphNames(program, "fuzz");
    std::set<std::string> some;
    for (std::size_t i = 0; i < names.size(); i += 2) some.insert(names[i]);
    const Fonts::Type1Program subset = Fonts::SubsetType1Program(program, some, "fuzz");
    // A subset reads back as a program of its own.
    Fonts::Type1GlyphNames(subset, "fuzz");
    // The check takes apart the decryption the reader made: a subset from
    // its private part is the one made afresh.
    std::string plain;
    const Fonts::Type1Program again = Fonts::ReadType1Program(file, "fuzz", plain);
    const auto parsed = Fonts::ParseType1Private(again, "fuzz", std::move(plain));
    // The metrics program a face is read from keeps every glyph, in order.
    const Fonts::Type1Program metrics = Fonts::Type1MetricsProgram(again, *parsed, {"d", "p", "H"}, "fuzz");
    if (Fonts::Type1GlyphNames(metrics, "fuzz") != names) std::abort();
    Fonts::CheckType1Private(*parsed, "fuzz");
    if (Fonts::SubsetType1Program(again, *parsed, some, "fuzz").data != subset.data) std::abort();
  } catch (const TavSys::Error&) {
    // Refused with a message: fine.
  } catch (...) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  exercise(input);
  const std::size_t split = input.find("eexec\n");
  if (split != std::string_view::npos) {
    const std::size_t at = split + 6;
    std::string file(input.substr(0, at));
    file += Fonts::Type1Encrypt(input.substr(at), Fonts::kEexecKey);
    file += "\n0000000000000000\ncleartomark\n";
    exercise(file);
  }
  return 0;
}

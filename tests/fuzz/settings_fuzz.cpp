// deps: tv_settings tv_platform
// The settings' --set parser on arbitrary lines, one assignment each. Each is
// applied or refused with TavSys::Error; a refusal leaves the settings as they
// were, and an applied value, printed and assigned again, gives the same
// settings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/messages.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"

namespace {

bool same(const PDFSettings& a, const PDFSettings& b) {
  for (const TavPDF::SettingField& field : TavPDF::SettingFields())
    if (TavPDF::FormatSettingValue(a, field) != TavPDF::FormatSettingValue(b, field)) return false;
  return true;
}

[[noreturn]] void fail(const char* why, std::string_view line) {
  std::fprintf(stderr, "settings fuzz: %s: \"%.*s\"\n", why, int(line.size()), line.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const PDFSettings before = settings;
    try {
      TavPDF::ApplySettingOverride(settings, line);
    } catch (const TavSys::Error& e) {
      if (e.key().empty() || !same(before, settings)) fail("a refusal changed the settings", line);
      continue;
    } catch (...) {
      fail("the parser threw something else", line);
    }
    for (const TavPDF::SettingField& field : TavPDF::SettingFields()) {
      std::string value = TavPDF::FormatSettingValue(settings, field);
      if (value == TavPDF::FormatSettingValue(before, field)) continue;
      // A popup prints its value with its item's text: "3 (Landscape)".
      if (field.kind == TavPDF::SettingKind::Popup) value.resize(value.find(' '));
      PDFSettings again = before;
      try {
        TavPDF::ApplySettingOverride(again, std::string(field.name) + "=" + value);
      } catch (const TavSys::Error&) {
        fail("a value it set does not read back", line);
      }
      if (!same(again, settings)) fail("a value it set reads back differently", line);
    }
  }
  settings.VerifyCompatibility();
  return 0;
}

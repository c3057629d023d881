// deps: tv_settings tv_platform
// Feeds arbitrary bytes to the flavour-file reader. Besides never crashing,
// a refused file must leave the settings exactly as they were.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/messages.h"
#include "settings/settings_access.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings settings;
  settings.SetNormalizedFlavourDefaults();
  const PDFSettings before = settings;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int rc = TavPDF::LoadFlavourBytesIntoSettings(bytes, "fuzz input", settings);
  if (rc != 0) {
    for (const TavPDF::SettingField& field : TavPDF::SettingFields()) {
      if (TavPDF::FormatSettingValue(before, field) != TavPDF::FormatSettingValue(settings, field)) std::abort();
    }
  }
  return 0;
}

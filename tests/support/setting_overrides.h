#pragma once
// Settings changed by "Field=Value ..." texts, as the command line's --set
// changes them, and the settings the writers' tests start from (header only:
// for the test programs that link the settings).
#include <sstream>
#include <stdexcept>
#include <string>

#include "settings/settings_access.h"

namespace tavtest {

inline void applySettings(PDFSettings& settings, const std::string& overrides) {
  std::istringstream in(overrides);
  for (std::string item; in >> item;) {
    const auto eq = item.find('=');
    const auto* field = TavPDF::FindSettingField(item.substr(0, eq));
    if (!field) throw std::runtime_error("no setting " + item);
    TavPDF::SetSettingValue(settings, *field, item.substr(eq + 1));
  }
}

// The common defaults with uncompressed pages, and no screening, dot gain,
// normalized or separated output or layers; then the overrides.
inline PDFSettings writerTestSettings(const std::string& overrides = "") {
  PDFSettings settings;
  settings.SetCommonDefaults();
  applySettings(settings, "CompressPages=0 IncludeScreening=0 EnableDotgain=0 NormalizedOutput=0 SeparatedOutput=0 "
                          "IncludeLayers=0 " + overrides);
  return settings;
}

}  // namespace tavtest

#pragma once
// Helpers of the settings tests: whole-record comparison and a guard that
// gives gPDFSettings back its values after a test changed them.
#include <map>
#include <string>

#include "settings/settings_access.h"
#include "tavpdf/PDFSettings.h"

namespace settingstest {

// Every field by name, as text.
inline std::map<std::string, std::string> fieldsOf(const PDFSettings& s) {
  std::map<std::string, std::string> out;
  for (const auto& field : TavPDF::SettingFields()) out[field.name] = TavPDF::FormatSettingValue(s, field);
  return out;
}

// The fields in which two records differ, "Name: a -> b" each.
inline std::map<std::string, std::string> differences(const PDFSettings& a, const PDFSettings& b) {
  std::map<std::string, std::string> out;
  const auto fa = fieldsOf(a);
  const auto fb = fieldsOf(b);
  for (const auto& [name, value] : fa) {
    if (fb.at(name) != value) out[name] = value + " -> " + fb.at(name);
  }
  return out;
}

class GlobalSettingsGuard {
 public:
  GlobalSettingsGuard() : saved_(gPDFSettings) {}
  ~GlobalSettingsGuard() { gPDFSettings = saved_; }
  GlobalSettingsGuard(const GlobalSettingsGuard&) = delete;
  GlobalSettingsGuard& operator=(const GlobalSettingsGuard&) = delete;

 private:
  PDFSettings saved_;
};

}  // namespace settingstest

#pragma once
// Small scoped capturers shared by the unit tests: the bytes a sink is given,
// the developer diagnostics of a scope, and a decimal-comma host locale.
#include <cstdint>
#include <locale>
#include <string>
#include <string_view>

#include "platform/genoutfil.h"
#include "platform/system.h"

namespace tavtest {

// A sink that collects what is written into a string.
class StringSink : public genoutfil {
 public:
  void PutByte(std::uint8_t byte) override { text.push_back(static_cast<char>(byte)); }
  std::string text;
};

// Collects developer diagnostics for the time of a scope, one per line.
class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  bool has(std::string_view part) const { return text.find(part) != std::string::npos; }
  std::string text;

 private:
  TavSys::DebugSink previous_;
};

// Switches the C and the C++ number formatting to a decimal comma while it
// lives; `active` is false when no such C locale could be made (localedef
// reads the locale's sources from the locales package).
class CommaLocale {
 public:
  CommaLocale();
  ~CommaLocale();
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  bool active = false;

 private:
  std::string savedC_;
  std::locale savedCpp_;
};

}  // namespace tavtest

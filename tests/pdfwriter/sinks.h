#pragma once
// Small helpers shared by the writer's tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pdfwriter/pdfobjects.h"
#include "platform/genoutfil.h"
#include "platform/system.h"

namespace pdftest {

// A sink that collects what is written into a string.
class StringSink : public genoutfil {
 public:
  void PutByte(std::uint8_t byte) override { text.push_back(static_cast<char>(byte)); }
  std::string text;
};

// The syntax an object writes.
inline std::string syntaxOf(TavPDF::PDFDictionaryValue* value) {
  StringSink sink;
  value->Output(sink);
  return sink.text;
}

// Captures developer diagnostics for the time of a scope.
struct DebugCapture {
  DebugCapture() {
    previous = TavSys::setDebugSink([this](std::string_view t) { lines.emplace_back(t); });
  }
  ~DebugCapture() { TavSys::setDebugSink(previous); }
  bool has(std::string_view text) const {
    for (const auto& l : lines) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
  TavSys::DebugSink previous;
};

}  // namespace pdftest

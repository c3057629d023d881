#pragma once
// Small helpers shared by the writer's tests.
#include <initializer_list>
#include <string>
#include <utility>

#include "pdfwriter/pdfobjects.h"
#include "support/capture.h"

namespace pdftest {

using tavtest::DebugCapture;
using tavtest::StringSink;

// The syntax an object writes.
inline std::string syntaxOf(TavPDF::PDFDictionaryValue* value) {
  StringSink sink;
  value->Output(sink);
  return sink.text;
}

// A dictionary of the given entries.
inline TavPDF::PDFDictionary* dictOf(
    std::initializer_list<std::pair<const char*, TavPDF::PDFDictionaryValue*>> entries) {
  auto* dict = new TavPDF::PDFDictionary;
  for (const auto& [key, value] : entries) dict->Set(key, value);
  return dict;
}

}  // namespace pdftest

#pragma once
// Small helpers shared by the writer's tests.
#include <string>

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

}  // namespace pdftest

#include "colour/colourpdf.h"

#include "pdfwriter/pdfouthan.h"

namespace TavColorPdf {

using namespace TavPDF;

PDFArray* NewArray() { return new PDFArray(); }

void Append(PDFArray* array, PDFDictionaryValue* value) { array->Add(value); }

PDFName* Name(const std::string& name) { return new PDFName(name); }

PDFReal* Real(double value) { return new PDFReal(value); }

PDFInteger* Integer(long long value) { return new PDFInteger(value); }

PDFArray* UnitPairs(int pairs) {
  auto* array = NewArray();
  for (int i = 0; i < pairs; ++i) {
    Append(array, Integer(0));
    Append(array, Integer(1));
  }
  return array;
}

// The handler decides the output names (process-ink naming, XMP ink names).
// It only reads the job.
std::string SeparationName(pdfouthan* handler, const jobstr* job, int sep) {
  std::string name;
  handler->getSeparationName(name, const_cast<jobstr*>(job), sep);
  return name;
}

std::string CMYKSeparationName(pdfouthan* handler, const jobstr* job, int sep) {
  std::string name;
  handler->getCMYKSeparationName(name, const_cast<jobstr*>(job), sep);
  return name;
}

PDFIndirectReference* WriteStream(pdfouthan* handler, PDFDictionary* dictionary,
                                  std::string_view data) {
  pdfoutfilter* sink = handler->beginStream(dictionary);
  if (!sink) return nullptr;
  sink->PutBytes(data.data(), data.size());
  return handler->endStream(sink);
}

PDFArray* SeparationArray(pdfouthan* handler, const std::string& name,
                          const unsigned char samples[8]) {
  auto* function = new PDFDictionary();
  function->Set("FunctionType", Integer(0));
  function->Set("Domain", UnitPairs(1));
  function->Set("Range", UnitPairs(4));
  auto* size = NewArray();
  Append(size, Integer(2));
  function->Set("Size", size);
  function->Set("BitsPerSample", Integer(8));
  PDFIndirectReference* ref =
      WriteStream(handler, function, std::string_view(reinterpret_cast<const char*>(samples), 8));
  if (!ref) return nullptr;
  auto* array = NewArray();
  Append(array, Name("Separation"));
  Append(array, Name(name));
  Append(array, Name("DeviceCMYK"));
  Append(array, ref);
  return array;
}

}  // namespace TavColorPdf

#pragma once
// Small builders of the PDF objects the colour spaces write: arrays, names,
// reals, function streams and Separation arrays. Every object made here is
// owned by the PDF object registry.
#include <string>
#include <string_view>

#include "pdfwriter/pdfobjects.h"

struct jobstr;
namespace TavPDF {
class pdfouthan;
}

namespace TavColorPdf {

TavPDF::PDFArray* NewArray();
void Append(TavPDF::PDFArray* array, TavPDF::PDFDictionaryValue* value);
TavPDF::PDFName* Name(const std::string& name);
TavPDF::PDFReal* Real(double value);
TavPDF::PDFInteger* Integer(long long value);
// [0 1 0 1 ...] with `pairs` pairs.
TavPDF::PDFArray* UnitPairs(int pairs);

// The output name of a separation as the handler gives it.
std::string SeparationName(TavPDF::pdfouthan* handler, const jobstr* job, int sep);
// The CMYK-aware output name ("Cyan" for the cyan ink).
std::string CMYKSeparationName(TavPDF::pdfouthan* handler, const jobstr* job, int sep);

// Writes a stream with the dictionary and the bytes at once; returns its
// reference, null when the handler could not open it (a stream is open).
TavPDF::PDFIndirectReference* WriteStream(TavPDF::pdfouthan* handler,
                                          TavPDF::PDFDictionary* dictionary,
                                          std::string_view data);

// [/Separation /name /DeviceCMYK f] where f is a sampled function of two
// samples: CMYK bytes for tint 0 (samples 0..3) and tint 1 (samples 4..7).
// Null when the function stream cannot be written.
TavPDF::PDFArray* SeparationArray(TavPDF::pdfouthan* handler, const std::string& name,
                                  const unsigned char samples[8]);

}  // namespace TavColorPdf

#pragma once
// Helpers of the page writer's form writers (pagewriter/forms.cpp).
#include <cstdint>

struct jobstr;
namespace TavDB {
class Object;
}

namespace TavPDF {

class PDFDictionary;
class PDFIndirectReference;

// The resource dictionaries of one form while its content is written.
struct FormResources {
  PDFDictionary* resources = nullptr;   // registry-owned
  PDFDictionary* extGStates = nullptr;  // op1, op0 and what the content selects
  PDFDictionary* xobjects = nullptr;
  PDFDictionary* patterns = nullptr;
  // The page's ColorSpace dictionary, shared through a reference of the form's
  // own (written when the form ends); null when the page has none.
  PDFDictionary* colorSpaces = nullptr;
  PDFIndirectReference* colorSpacesRef = nullptr;
};

// Filter /FlateDecode when compress is set.
void AddFlateFilter(PDFDictionary* dictionary, bool compress);
// "CSPat" = [/Pattern /DeviceCMYK], the colour space pattern fills select.
void AddPatternColorSpace(PDFDictionary* colorSpaces);
// The PDF name of blend mode 0..15; "Normal" (with a developer diagnostic)
// for any other value.
const char* BlendModeName(int mode);
// The station-number entries of a form's private PieceInfo dictionary.
void AddStationNumberPieceInfo(PDFDictionary* privateData);

// The barcode's parameter dictionary for the workflow (the barcode module's);
// fills `options`.
void writeBarcodeParameters(jobstr* job, TavDB::Object* barcode, double angle,
                            PDFDictionary* options);

}  // namespace TavPDF

#include "pictures/opidictionary.h"

namespace TavPDF {

// This engine writes no OPI dictionaries yet: every OPI wrapping form shows
// its picture.
PDFDictionaryValue* WriteMappedImageOpiDictionary(PDFProof&, const CachedImage&, const CachedImage::OPIDict&) {
  return nullptr;
}

}  // namespace TavPDF

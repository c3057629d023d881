#pragma once
// The OPI dictionary of a cached picture's wrapping form.
#include "pictures/picturecache.h"

namespace TavPDF {

class PDFDictionaryValue;
class PDFProof;

// The OPI dictionary that lets an OPI server put the high-resolution picture
// in place of the form's content, or null when none is written; the form is
// then written without one (and shows the picture itself).
PDFDictionaryValue* WriteMappedImageOpiDictionary(PDFProof& writer, const CachedImage& picture,
                                                  const CachedImage::OPIDict& form);

}  // namespace TavPDF

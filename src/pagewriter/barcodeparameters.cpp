// The barcode parameter dictionary belongs to the barcode module, which the
// page writer does not have yet: a barcode form cannot be completed without it.
#include "pagewriter/forms.h"
#include "pagewriter/pdfproof.h"
#include "platform/kernel/tavdb.h"

namespace TavPDF {

void writeBarcodeParameters(jobstr*, TavDB::Object*, double, PDFDictionary*) {
  RefuseUnsupported("the parameters of a barcode");
}

}  // namespace TavPDF

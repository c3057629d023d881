#pragma once
// The export's view of the transparency flattener: its parameter block is
// filled from the export settings before the flattener runs.
#include "platform/kernel/exportkernel.h"

class PDFSettings;

namespace TavPDF {

class PDFSpaSetter : public SpaSetter {
 public:
  PDFSpaSetter(jobstr* job, bool keepOriginal) : SpaSetter(job, keepOriginal) {}
};

// Copies the flattening settings (and the process-wide flattener values) into
// the setter's parameter block, and gives it the output profile.
void SetFlattenerParameters(PDFSpaSetter& setter, const PDFSettings& settings);

}  // namespace TavPDF

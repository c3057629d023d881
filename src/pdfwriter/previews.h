#pragma once
// The previews a page carries beside its content: one image per ink (the
// "Preview" of each entry of the page's "Separations") and the ink preview
// "VornPNDNT" (all inks in one image, in the ink colour space), drawn by the
// kernel's separations renderer over the page's media box as laid out.
#include <memory>

#include "platform/kernel/separatedpreview.h"

struct jobstr;
class PDFSettings;

namespace TavPDF {

class pdfouthan;
class PDFDictionary;
class PDFIndirectReference;

// How the export's pages print, as the renderer's options: the objects the
// page writer leaves out (excluded, non-printing unless AddNonPrintingLayers,
// hidden layers with IncludeLayers), the layout, opaque inks, the station
// number (written in normalized output only).
TavricLib::SeparatedPreviewOptions PreviewOptions(const jobstr* job, const PDFSettings& settings);

// The resolution of the page previews: PreviewResolution when IncludePreview
// is 1, else the resolution CalculatePPI finds for PreviewResolution
// kilobytes.
int PagePreviewResolution(const jobstr* job, const PDFSettings& settings);

// The page's previews, rendered once for both uses: the inks of the page
// over its media box (the handler's override, else the job's) as laid out.
std::unique_ptr<TavricLib::SeparatedPreview> RenderPagePreview(pdfouthan& handler);

// One ink's preview: an image in the ink's Separation colour space (with a
// one-ink sampled tint function), compressed when CompressImages is on.
// Null when the preview has no plane of the slot.
PDFIndirectReference* WriteSeparationPreview(pdfouthan& handler, const TavricLib::SeparatedPreview& preview,
                                             int slot);

// The ink preview: one image in the ink colour space (separation output
// on, the used inks), its samples the inks' planes interleaved pixel by
// pixel; null when the job uses no ink.
PDFIndirectReference* WriteInkPreview(pdfouthan& handler, const TavricLib::SeparatedPreview& preview);

}  // namespace TavPDF

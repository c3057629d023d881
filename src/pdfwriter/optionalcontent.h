#pragma once
// Layers as optional content (PDF 1.5): one optional-content group per layer
// of the job, with its print and view state and, in normalized output, its
// lock state.
namespace TavPDF {

class pdfouthan;
class PDFDictionary;

// Builds the catalog's "OCProperties" dictionary (direct, registry-owned) for
// the handler's job and settings, and leaves the document's array of groups
// in pdfouthan::mOptionalContentGroups, where the page writer finds the group
// of each layer. Every group and the group array are written at once.
//
// Layers are taken in tree order (excluded layers and everything inside them
// left out); a non-printing layer gets no group unless AddNonPrintingLayers
// is set. A layer that is neither hidden nor non-printing is ON, the others
// are OFF; "ON" is an empty array when no layer is visible.
PDFDictionary* WriteOptionalContent(pdfouthan& handler);

}  // namespace TavPDF

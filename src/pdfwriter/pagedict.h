#pragma once
// The page dictionary: one page of the document with its boxes, resources,
// the separation colour spaces of the job's spot inks, the content stream
// (written by the page writer TavPDF::PDFProof), the workflow's per-page data
// ("QELInfo"), annotations for the job's notes and, in separated output, the
// separation information.
#include <cstdint>
#include <string>

#include "platform/kernel/geometry.h"

struct jobstr;
class PDFSettings;

namespace TavPDF {

class pdfouthan;
class PDFProof;
class PDFDictionary;
class PDFDictionaryValue;
class PDFIndirectReference;

// Writes one page of the handler's job: content, resources, then the page
// object. Returns the page's reference (written, registry-owned), or null
// when the export was cancelled while its content was written (nothing more
// of the page is written then). kidsReference is the separated document's
// array of pages (for "SeparationInfo"), null otherwise. Throws TavSys::Error
// when the page writer gives up.
PDFIndirectReference* writePage(pdfouthan& handler, PDFIndirectReference* treeReference,
                                PDFIndirectReference* kidsReference);

// The page boxes: "MediaBox", "TrimBox" (clipped to the MediaBox in
// normalized output, with a warning), and "BleedBox", "CropBox", "ArtBox"
// when the job has them, each through the settings' layout.
void writePageBoxes(pdfouthan& handler, PDFDictionary* page);

// The page's content stream: a page writer over the resource dictionaries
// writes the handler's base matrix, the default screen and the job's objects.
// Returns the "Contents" value.
PDFDictionaryValue* writePageContents(pdfouthan& handler, PDFDictionary* resources,
                                      PDFDictionary* patterns, PDFDictionary* xobjects,
                                      PDFDictionary* extGStates);

// "Annots": one text annotation per note of the job (only with AddNotes).
void writeAnnotations(pdfouthan& handler, PDFDictionary* page);

// The resource name of a spot ink's separation colour space: "Tv_sep_" and
// the ink's output name as the handler gives it (its XMP name in normalized
// output). The page's resources and its content streams both name the space
// through this one function; without a handler the job's ink name is used.
std::string SeparationColorSpaceName(const pdfouthan* handler, jobstr* job, int sep);

// Writes the "Tv_sep_<name>" Separation colour space of every spot ink that
// is enabled, each with its tint function, and enters them in colorSpaces.
// No stream may be open.
void WriteSeparationColorSpaces(pdfouthan& handler, PDFDictionary* colorSpaces);
// The same for another job than the document's (a placed one-up's own inks).
void WriteSeparationColorSpaces(pdfouthan& handler, jobstr* job, PDFDictionary* colorSpaces);

// A sampled tint function (type 0) from n separations to CMYK: 2^n samples,
// sample k being the mix of the separations whose bits are set in k, each at
// full tint. Made indirect and written at once (no stream may be open).
// n must be 1..16 (TavSys::Error otherwise): the samples grow as 4 · 2^n.
PDFIndirectReference* WriteSampledTintFunction(pdfouthan& handler, int n, const int* separations);

// A page box value: a job rectangle through the settings' layout (rounded to
// whole job units) and into points: (top, left, bottom, right) with y up, so
// that PDFArray(rect) gives [left bottom right top].
TavSys::tv_rectangle PageBoxInPoints(const jobstr* job, const TavSys::tv_rectangle& box,
                                     const PDFSettings& settings);

// The page's default screen, or "" for none: "Scr_<n>" with IncludeScreening
// and a screen in the handler, "Default_Screen" in normalized output with
// UseDefaultScreen.
std::string DefaultScreenName(const pdfouthan& handler);

}  // namespace TavPDF

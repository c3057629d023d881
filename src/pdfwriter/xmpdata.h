#pragma once
// The XMP composer of a normalized document: attached to the output handler
// when it is made, it composes the packet that becomes the catalog's
// "Metadata" stream.
#include <string_view>

namespace TavPDF {

class pdfouthan;
class PDFIndirectReference;

// Attaches a new composer (owned by the handler) configured from the
// handler's job, settings, output file, ink callback (moved in) and list of
// produced files. The ink callback is released in every case.
void AttachXMPComposer(pdfouthan& handler);
// Deletes the handler's composer; called by the handler's destructor.
void DeleteXMPComposer(pdfouthan& handler);
// Sets the composer's distortion and composes the packet (no composer: nothing).
void BuildDocumentXMP(pdfouthan& handler);
// Writes the composed packet as a metadata stream and returns its reference;
// null without a composer or an empty packet.
PDFIndirectReference* WriteMetadataStream(pdfouthan& handler);
// Writes `xml` as a metadata stream of subtype XML; `what` names the data in
// the error when another stream is still open.
PDFIndirectReference* WriteXMLStream(pdfouthan& handler, std::string_view xml, const char* what);

}  // namespace TavPDF

#pragma once
// OPI 1.3 dictionaries: with OPI links the form that stands for a picture
// tells a downstream OPI server which file to put in its place and where.
// The members of PDFProof that build them (WriteOpiDictionary,
// WriteObjectListOpiDictionary, MakeChannelsDictionary) live in opi.cpp.
#include <cstdint>

namespace TavPDF {

class PDFDictionaryValue;
class PDFProof;

// The OPI value (<< /1.3 << ... >> >>) of a mapped picture's wrapping form,
// with the private "inpd:ImageMapping" of the picture cache's OPI map status
// (0 QEL, 1 AICS2, 2 AICS3, 3 Mapped); null when the map asks for no OPI, has
// no channel for an ink the job prints or takes its channels from two files.
PDFDictionaryValue* WriteMappedImageOpiDictionary(PDFProof& writer, std::uint16_t paint, int opiMapStatus);

}  // namespace TavPDF

#pragma once
// Embedding of the job's fonts as simple Type 1 fonts: the Font dictionary
// with its widths, its encoding, its font descriptor with the font program,
// and a ToUnicode map, so that viewers show, copy and search the job's
// characters. The page writer calls BuildType1FontDictionary once per font
// it selected, when its content stream ends (PDFProof::BuildFontResources).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct jobstr;
namespace Fonts {
class Type1Font;
}

namespace TavPDF {

class pdfouthan;
class PDFDictionary;
class PDFIndirectReference;

// Writes the Font object of a job font (whole, or subset when fewer codes are
// used than subsetThreshold percent of 224) and returns its reference. The
// codes used are those the texts of the job show in the font (usedCodes,
// when the caller has gathered them already). The font program, descriptor
// and ToUnicode map are written once per document for the job, font and
// codes, the Font dictionary once per resource name as well (the handler
// keeps them). Throws TavSys::Error when the font's program cannot be read.
PDFIndirectReference* BuildType1FontDictionary(jobstr* job, pdfouthan* handler,
                                               const std::string& name, std::int32_t fontId,
                                               int subsetThreshold,
                                               const std::uint8_t* usedCodes = nullptr);
// The codes the texts of the job (its object tree, patterns and soft masks)
// show in each font, in one walk.
std::vector<std::array<std::uint8_t, 256>> GatherUsedCodes(jobstr* job,
                                                           const std::vector<int>& fontIds);
// Writes the font descriptor (with the font program unless the font is one of
// the standard 14) and returns its reference.
PDFIndirectReference* WriteType1FontFile(const Fonts::Type1Font& font, pdfouthan* handler);
// The Encoding dictionary: Differences over the codes the font has.
PDFDictionary* BuildType1Encoding(const Fonts::Type1Font& font);
// A code or character as a CMap writes it: "<", at least four lower-case hex
// digits, ">"; characters beyond U+FFFF as their UTF-16 surrogate pair.
std::string CMapHexCode(char32_t value);
// Writes the ToUnicode CMap stream and returns its reference.
PDFIndirectReference* WriteToUnicodeCMap(jobstr* job, pdfouthan* handler,
                                         const Fonts::Type1Font& font, std::int32_t fontId);

}  // namespace TavPDF

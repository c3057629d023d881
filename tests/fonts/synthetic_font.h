#pragma once
// A small Type 1 font made by the tests, so that accents built with "seac",
// Subrs called directly and through the hint-replacement othersubr can be
// checked against a program whose every charstring is known.
//
// Glyphs: .notdef, A, acute, Aacute (seac A + acute), B (calls Subr 5),
// C (calls Subr 6), D (calls Subr 4 through othersubr 3). Subrs 0..6.
#include <string>
#include <utility>
#include <vector>

namespace fonttest {

// The decrypted private part (everything after "eexec"), lead bytes included.
// Its charstrings have `lenIV` lead bytes (-1: charstrings not encrypted).
// Glyphs by name with their plain charstrings (lead bytes not included).
using Glyphs = std::vector<std::pair<std::string, std::string>>;
// With `custom`, the CharStrings are those glyphs (in that order) instead.
std::string syntheticPrivatePart(bool selfCallingSubr = false, int lenIV = 4, const Glyphs* custom = nullptr);
// The cleartext part, ending with "currentfile eexec\n".
std::string syntheticCleartext();
// The font file in the binary form (cleartext, encrypted part, zeros and cleartomark).
std::string syntheticFontFile(bool selfCallingSubr = false, int lenIV = 4);
// The synthetic font file (its Subrs 0..6, lenIV 4) with the given glyphs.
std::string syntheticFontFileWith(const Glyphs& glyphs);
// A font file in the binary form of the cleartext part and this private part.
std::string syntheticFontFileFrom(const std::string& privatePart);
// A number as a charstring gives it (one, two or five bytes).
std::string charStringNumber(int v);
// The same file as PFB segments and as PFA (hexadecimal encrypted part).
std::string toPfb(const std::string& cleartext, const std::string& cipher, const std::string& trailer);
std::string toPfa(const std::string& cleartext, const std::string& cipher, const std::string& trailer);

}  // namespace fonttest

#pragma once
// Type 1 font programs. A font file comes in one of three forms: PFB (segments
// with 6-byte headers), PFA (the encrypted part written as hexadecimal digits)
// or the plain binary form of Debian's ".t1" files. A PDF font file holds the
// binary form in three parts: the cleartext part up to the line end after
// "eexec", the eexec-encrypted part, and the trailer of zeros and
// "cleartomark". ReadType1Program turns any of the three into that form;
// SubsetType1Program keeps only the glyphs a document shows.
//
// Font files are untrusted input: damaged programs are refused with
// TavSys::Error ("PDF/BAD FONT PROGRAM"), never read beyond their end.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Fonts {

struct Type1Program {
  std::string data;                 // the three parts, one after the other
  std::size_t headerLength = 0;     // Length1: cleartext part
  std::size_t encryptedLength = 0;  // Length2: eexec-encrypted part
  std::size_t trailerLength = 0;    // Length3: zeros and "cleartomark"
};

// Largest font file accepted.
inline constexpr std::size_t kMaxFontFileBytes = 16u << 20;

// Encryption keys of the eexec part and of the charstrings.
inline constexpr std::uint16_t kEexecKey = 55665;
inline constexpr std::uint16_t kCharStringKey = 4330;

// Type 1 decryption and encryption; the lead bytes stay part of the text.
std::string Type1Decrypt(std::string_view cipher, std::uint16_t key);
std::string Type1Encrypt(std::string_view plain, std::uint16_t key);

// Reads a font file of any of the three forms. `font` names the font in messages.
Type1Program ReadType1Program(std::string_view file, const std::string& font);
// The same; eexecPlain receives the decryption of the encrypted part (as
// many bytes), which the reader makes anyway to find the part's end: handed
// to CheckedType1Private, the program is decrypted once.
Type1Program ReadType1Program(std::string_view file, const std::string& font, std::string& eexecPlain);

// A program's private part taken apart: decrypted, its Subrs and CharStrings
// found. A font that is checked and then subset is taken apart once.
struct Type1Private;

// Checks what a consumer interprets of a program: its glyphs' calls of
// subroutines nest at most ten deep (deeper, subroutines call themselves
// without end). Throws TavSys::Error ("PDF/BAD FONT PROGRAM").
void CheckType1Program(const Type1Program& program, const std::string& font);
// The same check; gives the private part it took apart, for
// SubsetType1Program of the same program.
std::shared_ptr<const Type1Private> CheckedType1Private(const Type1Program& program,
                                                        const std::string& font);
// The same from the decryption ReadType1Program gave with this program (when
// its size is not the encrypted part's, the part is decrypted anew).
std::shared_ptr<const Type1Private> CheckedType1Private(const Type1Program& program,
                                                        const std::string& font,
                                                        std::string eexecPlain);

// The private part taken apart without the check, and the check of a
// private part taken apart (CheckedType1Private is the two in turn).
std::shared_ptr<const Type1Private> ParseType1Private(const Type1Program& program, const std::string& font,
                                                      std::string eexecPlain);
void CheckType1Private(const Type1Private& parsed, const std::string& font);

// The program with every glyph and in the same order, for reading the font's
// metrics: the glyphs of `whole`, ".notdef", the accent components their
// "seac" names and every glyph whose width is not given by plain numbers
// before its hsbw or sbw keep their charstrings; the others keep only that
// start, then end. Subrs no kept glyph calls become "return" (as in a subset).
Type1Program Type1MetricsProgram(const Type1Program& program, const Type1Private& parsed,
                                 const std::set<std::string>& whole, const std::string& font);

// The name after "/FontName" in the cleartext part, or "" when there is none.
std::string Type1FontName(std::string_view cleartext);

// The names of the glyphs in the program's CharStrings, in program order.
std::vector<std::string> Type1GlyphNames(const Type1Program& program, const std::string& font);

// A program with the CharStrings of `glyphs` (names the program lacks are
// passed over), ".notdef" and the accent components that their "seac"
// operators name. Subrs keep their numbers: those that no kept glyph calls
// (but 0 to 3, which the flex and hint mechanisms need) become "return".
Type1Program SubsetType1Program(const Type1Program& program, const std::set<std::string>& glyphs,
                                const std::string& font);
// The same from the private part CheckedType1Private took apart from this
// very program.
Type1Program SubsetType1Program(const Type1Program& program, const Type1Private& parsed,
                                const std::set<std::string>& glyphs, const std::string& font);

// The glyph name of a code in the standard encoding (what "seac" refers to),
// or null when the code has none.
const char* StandardEncodingName(int code);

}  // namespace Fonts

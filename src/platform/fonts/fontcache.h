#pragma once
// The job's font cache: the fonts its texts use, numbered by first use (the
// font ids), and the one-byte code each character of a text gets in its font.
//
// Codes are what a simple PDF font shows: 32 to 255 (the text calculator uses
// the codes below 32 for its own signals). How characters get their codes:
//   - the standard text fonts (Helvetica, Times, Courier) use the Mac Roman
//     encoding, which the PDF names instead of embedding the font;
//   - symbolic fonts (Symbol, Dingbats) use their built-in encoding;
//   - every other font gets codes as the job uses its characters: printable
//     ASCII keeps its own code, other characters take free codes from 128 up
//     (then 127, then ASCII codes the job leaves free). A font thus shows at
//     most 224 different characters in one job.
//
// The cache belongs to its job (jobGetFontCache); it keeps pointers to the
// process-wide font faces.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/fonts/fontface.h"
#include "platform/fonts/type1font.h"

struct jobstr;
namespace TavDB {
class Object;
}

namespace TavricCore {

class FontCache {
 public:
  enum class Encoding { kMacRoman, kBuiltIn, kAssigned };
  // Results of Encode besides a code.
  static constexpr int kNoGlyph = -1;  // the font has no glyph for the character
  static constexpr int kNoCode = -2;   // the glyph has no code in the font's encoding

  // The id of a font name, given on first use; -1 when no such font is installed.
  int FontId(std::string_view name);
  int FontCount() const { return int(fonts_.size()); }
  // For a valid id.
  const std::string& FontName(int id) const { return fonts_.at(std::size_t(id)).name; }
  const Fonts::FontFace* Face(int id) const { return fonts_.at(std::size_t(id)).face; }
  Encoding EncodingOf(int id) const { return fonts_.at(std::size_t(id)).encoding; }
  bool IsStandardFont(int id) const { return fonts_.at(std::size_t(id)).standard; }

  // The code of a character in the font (32..255), or kNoGlyph / kNoCode.
  // Inline for the characters of U+0000..U+00FF met before: the layout asks
  // for every character of every text.
  int Encode(int id, char32_t ch) {
    const Font& font = fonts_.at(std::size_t(id));
    if (ch < 256 && font.latin[ch] != kUnknown) return font.latin[ch];
    return EncodeFirst(id, ch);
  }
  // How many bytes at the start of text are line breaks and ASCII characters
  // already given a code in the font (for a valid id). The load checks every
  // character of every run; those met before need no further look.
  std::size_t KnownAsciiPrefix(int id, std::string_view text) const {
    const Font& font = fonts_.at(std::size_t(id));
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (b >= 0x80 || (font.latin[b] < 0 && b != '\n')) break;
    }
    return i;
  }
  // Marks in table the code of every character of text (line breaks left
  // out), encoding characters not met before as Encode does, in text order.
  // For a valid id.
  void MarkCodes(int id, std::string_view text, std::array<std::uint8_t, 256>& table);
  // The face's glyph index of a code, -1 when the code has none.
  int GlyphOfCode(int id, int code) const {
    if (code < 0 || code > 255) return -1;
    return fonts_.at(std::size_t(id)).glyph[std::size_t(code)];
  }
  // The Unicode value of a code, 0 when none.
  char32_t UnicodeOfCode(int id, int code) const;
  // For a valid id, the tables behind Encode and GlyphOfCode, for a caller
  // that reads many characters of one font: the codes of U+0000..U+00FF met
  // so far (negative when unknown or not shown: ask Encode then) and the
  // glyph of each code (-1 for none). Valid while the cache lives; Encode
  // may fill in the first table.
  const std::int16_t* KnownLatinCodes(int id) const { return fonts_.at(std::size_t(id)).latin.data(); }
  const int* GlyphsOfCodes(int id) const { return fonts_.at(std::size_t(id)).glyph.data(); }

  // True the first time a warning key is offered: what cannot be shown is
  // reported once per job, not once per text.
  bool FirstWarning(const std::string& key) { return warned_.insert(key).second; }

 private:
  struct Font {
    std::string name;
    const Fonts::FontFace* face = nullptr;
    Encoding encoding = Encoding::kAssigned;
    bool standard = false;
    std::array<int, 256> glyph;
    std::array<char32_t, 256> unicode{};
    std::array<std::int16_t, 256> latin;       // codes of U+0000..U+00FF met so far, kUnknown
    std::unordered_map<char32_t, int> codes;  // other characters met so far
    std::unordered_map<int, int> codeOfGlyph;  // fixed encodings: glyph -> first code
  };
  static constexpr std::int16_t kUnknown = -3;
  // Encode for a character not met before (or beyond U+00FF).
  int EncodeFirst(int id, char32_t ch);
  std::vector<Font> fonts_;
  // Looked up for every run of every text, by a name the caller holds.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> ids_;
  std::set<std::string> warned_;
};

// The font cache of a job, made on first use. The cache is the job's; the
// pointer stays valid while the job lives.
FontCache* jobGetFontCache(const jobstr* job);

namespace FontCaching {
// Makes the job's font cache anew from the tree about to be written: the
// fonts of its texts are looked up again and their characters get codes
// afresh, in the order of the tree, as when the job was read. Characters that
// texts no longer show give their codes back (a font shows at most 224), and
// what cannot be shown is said again. Batch mode does this before each
// document (see WritePDFFile).
void UpdateOutlines(FontCache* cache, const TavDB::Object* tree);
}  // namespace FontCaching

// The Unicode value of a code of a font (0 when none); flags are not used.
char32_t fontCacheUnicodeGet(FontCache* cache, int fontId, int code, int flags);

// Fills table (256 bytes) with 1 for every code that a text of the tree shows
// in the font, 0 elsewhere. batch and mode are accepted for the kernel's
// signature.
void GetFontCharacters(const TavDB::Object* tree, int fontId, std::uint8_t table[256], bool batch,
                       FontCache* cache, int mode);
// The same for several fonts in one walk of the tree: the codes are marked
// (added) in tables[i] for fontIds[i].
void GetFontCharacters(const TavDB::Object* tree, const std::vector<int>& fontIds,
                       std::vector<std::array<std::uint8_t, 256>>& tables, FontCache* cache);

// The whole font with every code its encoding gives, or (second form) a
// subset holding only the codes marked in table. Throws TavSys::Error when
// the font's program is damaged or unreadable.
std::unique_ptr<Fonts::Type1Font> CreateType1Font(FontCache* cache, int fontId, bool batch);
std::unique_ptr<Fonts::Type1Font> CreateType1Font(FontCache* cache, int fontId,
                                                  const std::uint8_t table[256], int mode,
                                                  bool batch);

// Subset fonts get name tags "AAAAAA+", "AAAAAB+", ...; this starts the
// sequence again (once per export).
void ResetType1FontNamePrefix();

// The list of the 14 standard fonts (for Type1Font::isBase14Font).
const std::vector<std::string>& GetBase14FontList();

// The next character of UTF-8 text at pos (advanced past it); U+FFFD for a
// bad byte. Inline for ASCII: the load, the layout and the writer read every
// character of every text.
char32_t NextCharacterBeyondAscii(std::string_view text, std::size_t& pos);
inline char32_t NextCharacter(std::string_view text, std::size_t& pos) {
  const auto b = static_cast<unsigned char>(text[pos]);
  if (b < 0x80) {
    ++pos;
    return b;
  }
  return NextCharacterBeyondAscii(text, pos);
}

}  // namespace TavricCore

#include "platform/fonts/fontcache.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <cstring>

#include "platform/kernel/job.h"
#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"

namespace TavricCore {

namespace {

// Glyph names of the Mac Roman encoding as PDF readers know it (codes 32..255;
// null where the encoding has no glyph).
const char* const kMacRoman[224] = {
    // 0x20
    "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand", "quotesingle",
    "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash",
    // 0x30
    "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "colon",
    "semicolon", "less", "equal", "greater", "question",
    // 0x40
    "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    // 0x50
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "bracketleft", "backslash",
    "bracketright", "asciicircum", "underscore",
    // 0x60
    "grave", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o",
    // 0x70
    "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "braceleft", "bar", "braceright",
    "asciitilde", nullptr,
    // 0x80
    "Adieresis", "Aring", "Ccedilla", "Eacute", "Ntilde", "Odieresis", "Udieresis", "aacute",
    "agrave", "acircumflex", "adieresis", "atilde", "aring", "ccedilla", "eacute", "egrave",
    // 0x90
    "ecircumflex", "edieresis", "iacute", "igrave", "icircumflex", "idieresis", "ntilde",
    "oacute", "ograve", "ocircumflex", "odieresis", "otilde", "uacute", "ugrave", "ucircumflex",
    "udieresis",
    // 0xA0
    "dagger", "degree", "cent", "sterling", "section", "bullet", "paragraph", "germandbls",
    "registered", "copyright", "trademark", "acute", "dieresis", "notequal", "AE", "Oslash",
    // 0xB0
    "infinity", "plusminus", "lessequal", "greaterequal", "yen", "mu", "partialdiff",
    "summation", "product", "pi", "integral", "ordfeminine", "ordmasculine", "Omega", "ae",
    "oslash",
    // 0xC0
    "questiondown", "exclamdown", "logicalnot", "radical", "florin", "approxequal", "Delta",
    "guillemotleft", "guillemotright", "ellipsis", "space", "Agrave", "Atilde", "Otilde", "OE",
    "oe",
    // 0xD0
    "endash", "emdash", "quotedblleft", "quotedblright", "quoteleft", "quoteright", "divide",
    "lozenge", "ydieresis", "Ydieresis", "fraction", "currency", "guilsinglleft",
    "guilsinglright", "fi", "fl",
    // 0xE0
    "daggerdbl", "periodcentered", "quotesinglbase", "quotedblbase", "perthousand",
    "Acircumflex", "Ecircumflex", "Aacute", "Edieresis", "Egrave", "Iacute", "Icircumflex",
    "Idieresis", "Igrave", "Oacute", "Ocircumflex",
    // 0xF0
    nullptr, "Ograve", "Uacute", "Ucircumflex", "Ugrave", "dotlessi", "circumflex", "tilde",
    "macron", "breve", "dotaccent", "ring", "cedilla", "hungarumlaut", "ogonek", "caron"};

constexpr int kFirstCode = 32;
constexpr int kNoBreakSpaceCode = 0xCA;  // Mac Roman's second space

// Subset name tags handed out since the last reset.
std::uint32_t gSubsetTagCounter = 0;

std::string nextSubsetTag() {
  std::uint32_t n = gSubsetTagCounter++;
  std::string tag(6, 'A');
  for (int i = 5; i >= 0 && n > 0; --i) {
    tag[std::size_t(i)] = char('A' + n % 26);
    n /= 26;
  }
  return tag;
}

}  // namespace

char32_t NextCharacter(std::string_view s, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t b = byte(pos);
  int extra = 0;
  char32_t ch = 0;
  if (b < 0x80) {
    ++pos;
    return b;
  } else if (b >= 0xC2 && b <= 0xDF) {
    extra = 1;
    ch = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2;
    ch = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3;
    ch = b & 0x07;
  } else {
    ++pos;
    return 0xFFFD;
  }
  if (pos + std::size_t(extra) >= s.size()) {
    ++pos;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const std::uint8_t c = byte(pos + std::size_t(k));
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    ch = ch << 6 | (c & 0x3F);
  }
  const char32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
  if (ch < minimum || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += std::size_t(extra) + 1;
  return ch;
}

int FontCache::FontId(std::string_view name) {
  if (auto it = ids_.find(name); it != ids_.end()) return it->second;
  const Fonts::FontFace* face = Fonts::FindFontFace(name);
  if (face == nullptr) return -1;
  Font font;
  font.name = std::string(name);
  font.face = face;
  font.standard = Fonts::IsStandardFontName(name);
  font.glyph.fill(-1);
  if (face->symbolic()) {
    font.encoding = Encoding::kBuiltIn;
    for (int c = kFirstCode; c < 256; ++c) font.glyph[std::size_t(c)] = face->builtinGlyph(c);
  } else if (font.standard) {
    font.encoding = Encoding::kMacRoman;
    for (int c = kFirstCode; c < 256; ++c) {
      const char* glyph = kMacRoman[c - kFirstCode];
      if (glyph != nullptr) font.glyph[std::size_t(c)] = face->glyphByName(glyph);
    }
  }
  if (font.encoding != Encoding::kAssigned) {
    for (int c = kFirstCode; c < 256; ++c) {
      const int g = font.glyph[std::size_t(c)];
      if (g < 0) continue;
      font.unicode[std::size_t(c)] = face->glyph(g).unicode;
      font.codeOfGlyph.emplace(g, c);
    }
  }
  const int id = int(fonts_.size());
  fonts_.push_back(std::move(font));
  ids_.emplace(std::string(name), id);
  return id;
}

int FontCache::Encode(int id, char32_t ch) {
  Font& font = fonts_.at(std::size_t(id));
  if (auto it = font.codes.find(ch); it != font.codes.end()) return it->second;
  const int g = font.face->glyphForUnicode(ch);
  int code = kNoGlyph;
  if (font.encoding != Encoding::kAssigned) {
    if (g >= 0) {
      auto it = font.codeOfGlyph.find(g);
      code = it != font.codeOfGlyph.end() ? it->second : kNoCode;
    }
    if (code < 0 && ch == 0xA0 && font.encoding == Encoding::kMacRoman) code = kNoBreakSpaceCode;
    if (code < 0) return code;
  } else {
    if (g < 0) return kNoGlyph;
    // Characters drawn with one glyph share its code.
    if (auto it = font.codeOfGlyph.find(g); it != font.codeOfGlyph.end()) {
      code = it->second;
    } else {
      auto isFree = [&](int c) { return font.glyph[std::size_t(c)] < 0; };
      if (ch >= 32 && ch <= 126 && isFree(int(ch))) {
        code = int(ch);
      } else {
        code = kNoCode;
        for (int c = 128; c < 256 && code < 0; ++c)
          if (isFree(c)) code = c;
        if (code < 0 && isFree(127)) code = 127;
        for (int c = kFirstCode; c < 127 && code < 0; ++c)
          if (isFree(c)) code = c;
        if (code < 0) return kNoCode;
      }
      font.glyph[std::size_t(code)] = g;
      font.unicode[std::size_t(code)] = ch;
      font.codeOfGlyph.emplace(g, code);
    }
  }
  font.codes.emplace(ch, code);
  return code;
}

int FontCache::GlyphOfCode(int id, int code) const {
  if (code < 0 || code > 255) return -1;
  return fonts_.at(std::size_t(id)).glyph[std::size_t(code)];
}

char32_t FontCache::UnicodeOfCode(int id, int code) const {
  if (code < 0 || code > 255) return 0;
  const Font& font = fonts_.at(std::size_t(id));
  if (font.glyph[std::size_t(code)] < 0) return 0;
  return font.unicode[std::size_t(code)];
}

FontCache* jobGetFontCache(const jobstr* job) {
  if (job == nullptr) return nullptr;
  if (!job->fontCache) job->fontCache = std::make_shared<FontCache>();
  return job->fontCache.get();
}

char32_t fontCacheUnicodeGet(FontCache* cache, int fontId, int code, int) {
  if (cache == nullptr || fontId < 0 || fontId >= cache->FontCount()) return 0;
  return cache->UnicodeOfCode(fontId, code);
}

void GetFontCharacters(const TavDB::Object* tree, int fontId, std::uint8_t table[256], bool,
                       FontCache* cache, int) {
  std::memset(table, 0, 256);
  if (tree == nullptr || cache == nullptr || fontId < 0 || fontId >= cache->FontCount()) return;
  const std::string& name = cache->FontName(fontId);
  TavDB::ListScan scan(tree, TavDB::kObjText, TavDB::kObjExcluded);
  for (const TavDB::Object* o = scan.next(); o != nullptr; o = scan.next()) {
    const TavDB::TextData* text = o->text();
    if (text == nullptr) continue;
    for (const TavDB::TextRun& run : text->runs) {
      if (run.font != name) continue;
      for (std::size_t pos = 0; pos < run.text.size();) {
        const char32_t ch = NextCharacter(run.text, pos);
        if (ch == '\n') continue;
        const int code = cache->Encode(fontId, ch);
        if (code >= 0) table[code] = 1;
      }
    }
  }
}

namespace {

std::unique_ptr<Fonts::Type1Font> makeFont(FontCache* cache, int fontId,
                                           const std::uint8_t* table) {
  if (cache == nullptr || fontId < 0 || fontId >= cache->FontCount()) {
    throw TavSys::Error(TavSys::kResultAbandoned, "", "CreateType1Font: no such font");
  }
  const Fonts::FontFace* face = cache->Face(fontId);
  std::array<Fonts::Type1Font::Code, 256> codes;
  std::set<std::string> glyphs;
  for (int c = 0; c < 256; ++c) {
    const int g = cache->GlyphOfCode(fontId, c);
    if (g < 0 || (table != nullptr && table[c] == 0)) continue;
    Fonts::Type1Font::Code& code = codes[std::size_t(c)];
    code.present = true;
    code.glyph = face->glyph(g).name;
    code.width = int(std::lround(face->glyph(g).advance));
    glyphs.insert(code.glyph);
  }
  std::string name = cache->FontName(fontId);
  Fonts::Type1Program program;
  if (!cache->IsStandardFont(fontId)) {
    if (table != nullptr) {
      program = Fonts::SubsetType1Program(face->program(), glyphs, name);
      name = nextSubsetTag() + "+" + name;
    } else {
      program = face->program();
    }
  }
  return std::make_unique<Fonts::Type1Font>(std::move(name), std::move(program), std::move(codes),
                                            face->boundingBox(), face->ascent(), face->descent(),
                                            face->capHeight(),
                                            cache->EncodingOf(fontId) == FontCache::Encoding::kBuiltIn);
}

}  // namespace

std::unique_ptr<Fonts::Type1Font> CreateType1Font(FontCache* cache, int fontId, bool) {
  return makeFont(cache, fontId, nullptr);
}

std::unique_ptr<Fonts::Type1Font> CreateType1Font(FontCache* cache, int fontId,
                                                  const std::uint8_t table[256], int, bool) {
  return makeFont(cache, fontId, table);
}

void ResetType1FontNamePrefix() { gSubsetTagCounter = 0; }

const std::vector<std::string>& GetBase14FontList() { return Fonts::StandardFontNames(); }

}  // namespace TavricCore


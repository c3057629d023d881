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

// The characters of the codes 0x80..0xFF of PDF's MacRomanEncoding, which
// the standard text fonts are written with (0: none); 0x20..0x7E are ASCII.
// The encoding leaves empty the codes where Mac OS Roman has its
// mathematical signs (0xAD, 0xB0, 0xB2, 0xB3, 0xB6 to 0xBA, 0xBD, 0xC3,
// 0xC5, 0xC6, 0xD7: ≠ ∞ ≤ ≥ ∂ ∑ ∏ π ∫ Ω √ ≈ ∆ ◊): a viewer draws nothing or
// another glyph there, so these signs are not characters of those fonts.
const char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x0000, 0x00C6, 0x00D8,
    0x0000, 0x00B1, 0x0000, 0x0000, 0x00A5, 0x00B5, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x00AA, 0x00BA, 0x0000, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x0000, 0x0192, 0x0000, 0x0000, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x0000,
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0x0000, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

constexpr int kFirstCode = 32;

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

char32_t NextCharacterBeyondAscii(std::string_view s, std::size_t& pos) {
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
  if (lastId_ >= 0 && fonts_[std::size_t(lastId_)].name == name) return lastId_;
  if (auto it = ids_.find(name); it != ids_.end()) return lastId_ = it->second;
  const Fonts::FontFace* face = Fonts::FindFontFace(name);
  if (face == nullptr) return -1;
  Font font;
  font.name = std::string(name);
  font.face = face;
  font.standard = Fonts::IsStandardFontName(name);
  font.glyph.fill(-1);
  font.latin.fill(kUnknown);
  if (face->symbolic()) {
    font.encoding = Encoding::kBuiltIn;
    for (int c = kFirstCode; c < 256; ++c) font.glyph[std::size_t(c)] = face->builtinGlyph(c);
  } else if (font.standard) {
    font.encoding = Encoding::kMacRoman;
    for (int c = kFirstCode; c < 256; ++c) {
      const char32_t ch = c < 0x7F ? char32_t(c) : c >= 0x80 ? kMacRomanHigh[c - 0x80] : 0;
      if (ch != 0) font.glyph[std::size_t(c)] = face->glyphForUnicode(ch);
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
  return lastId_ = id;
}

int FontCache::EncodeFirst(int id, char32_t ch) {
  Font& font = fonts_.at(std::size_t(id));
  if (ch < 256) {
    if (font.latin[ch] != kUnknown) return font.latin[ch];
  } else if (auto it = font.codes.find(ch); it != font.codes.end()) {
    return it->second;
  }
  const int g = font.face->glyphForUnicode(ch);
  int code = kNoGlyph;
  if (font.encoding != Encoding::kAssigned) {
    if (g >= 0) {
      auto it = font.codeOfGlyph.find(g);
      code = it != font.codeOfGlyph.end() ? it->second : kNoCode;
    }
    if (code < 0) {
      if (ch < 256) font.latin[ch] = std::int16_t(code);
      return code;
    }
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
  if (ch < 256) {
    font.latin[ch] = std::int16_t(code);
  } else {
    font.codes.emplace(ch, code);
  }
  return code;
}

char32_t FontCache::UnicodeOfCode(int id, int code) const {
  if (code < 0 || code > 255) return 0;
  const Font& font = fonts_.at(std::size_t(id));
  if (font.glyph[std::size_t(code)] < 0) return 0;
  return font.unicode[std::size_t(code)];
}

void FontCaching::UpdateOutlines(FontCache* cache, const TavDB::Object* tree) {
  if (cache == nullptr) return;
  *cache = FontCache();
  if (tree == nullptr) return;
  TavDB::ListScan scan(tree, TavDB::kObjText, TavDB::kObjExcluded);
  for (const TavDB::Object* o = scan.next(); o != nullptr; o = scan.next()) {
    const TavDB::TextData* text = o->text();
    if (text == nullptr) continue;
    for (const TavDB::TextRun& run : text->runs) {
      const int id = cache->FontId(run.font);
      if (id < 0) continue;
      for (std::size_t pos = 0; pos < run.text.size();) {
        const char32_t ch = NextCharacter(run.text, pos);
        if (ch != U'\n') cache->Encode(id, ch);
      }
    }
  }
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
  std::vector<std::array<std::uint8_t, 256>> tables(1);
  tables[0].fill(0);
  GetFontCharacters(tree, std::vector<int>{fontId}, tables, cache);
  std::memcpy(table, tables[0].data(), 256);
}

void GetFontCharacters(const TavDB::Object* tree, const std::vector<int>& fontIds,
                       std::vector<std::array<std::uint8_t, 256>>& tables, FontCache* cache) {
  if (tree == nullptr || cache == nullptr || tables.size() < fontIds.size()) return;
  // Job font id -> the table it fills.
  std::vector<int> slot(std::size_t(cache->FontCount()), -1);
  for (std::size_t i = 0; i < fontIds.size(); ++i) {
    if (fontIds[i] >= 0 && fontIds[i] < cache->FontCount()) slot[std::size_t(fontIds[i])] = int(i);
  }
  TavDB::ListScan scan(tree, TavDB::kObjText, TavDB::kObjExcluded);
  // Neighbouring runs mostly share their font: its name is looked up once.
  const std::string* lastFont = nullptr;
  int id = -1;
  for (const TavDB::Object* o = scan.next(); o != nullptr; o = scan.next()) {
    const TavDB::TextData* text = o->text();
    if (text == nullptr) continue;
    for (const TavDB::TextRun& run : text->runs) {
      if (lastFont == nullptr || *lastFont != run.font) {
        id = cache->FontId(run.font);
        lastFont = &run.font;
      }
      if (id < 0 || std::size_t(id) >= slot.size() || slot[std::size_t(id)] < 0) continue;
      cache->MarkCodes(id, run.text, tables[std::size_t(slot[std::size_t(id)])]);
    }
  }
}

void FontCache::MarkCodes(int id, std::string_view text, std::array<std::uint8_t, 256>& table) {
  const std::int16_t* const latin = fonts_.at(std::size_t(id)).latin.data();
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  std::uint8_t* const marks = table.data();
  const std::size_t n = text.size();
  for (std::size_t pos = 0; pos < n;) {
    // ASCII met before: its code (or that it has none) is known. Read in a
    // loop of its own, whose place is not the one NextCharacter moves on.
    std::size_t i = pos;
    for (; i < n; ++i) {
      const unsigned b = bytes[i];
      if (b >= 0x80) break;
      const int code = latin[b];
      if (code >= 0) {
        if (b != '\n') marks[code] = 1;
      } else if (code == kUnknown) {
        break;
      }
    }
    pos = i;
    if (pos >= n) break;
    const char32_t ch = NextCharacter(text, pos);
    if (ch == '\n') continue;
    const int code = Encode(id, ch);
    if (code >= 0) table[std::size_t(code)] = 1;
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
      program = face->subsetProgram(glyphs, name);
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


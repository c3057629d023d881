// The job's font cache: codes of characters by kind of font, the limit of a
// simple font, the fonts made for embedding, and the job loader's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fonts/fontcache.h"
#include "platform/fonts/fontface.h"
#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"

namespace {

using TavricCore::FontCache;

// UTF-8 as texts give it: ASCII, two to four bytes, and every kind of bad
// sequence read as U+FFFD one byte at a time, so that the bytes after it
// are read again.
TEST(FontCache, CharactersOfUtf8Text) {
  const struct {
    const char* text;
    std::vector<char32_t> characters;
  } cases[] = {
      {"Az~", {U'A', U'z', U'~'}},
      {"\xC3\xA9t\xC3\xA9", {0xE9, U't', 0xE9}},
      {"\xE2\x82\xAC" "1", {0x20AC, U'1'}},
      {"\xF0\x9F\x98\x80", {0x1F600}},
      {"a\xC3", {U'a', 0xFFFD}},                       // cut short at the end
      {"a\xE2\x82", {U'a', 0xFFFD, 0xFFFD}},           // cut short, its rest read again
      {"\xC3" "A", {0xFFFD, U'A'}},                        // no continuation byte
      {"\x80\xBF", {0xFFFD, 0xFFFD}},                  // continuation bytes alone
      {"\xC0\xAF", {0xFFFD, 0xFFFD}},                  // overlong lead byte
      {"\xE0\x80\xAF", {0xFFFD, 0xFFFD, 0xFFFD}},     // overlong three bytes
      {"\xED\xA0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},     // a surrogate
      {"\xF4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},  // beyond U+10FFFF
      {"\xF5!", {0xFFFD, U'!'}},
  };
  for (const auto& c : cases) {
    const std::string_view text(c.text);
    std::vector<char32_t> read;
    for (std::size_t pos = 0; pos < text.size();) read.push_back(TavricCore::NextCharacter(text, pos));
    EXPECT_EQ(read, c.characters) << c.text;
  }
}

// Runs name their fonts in any order: each name keeps its own id, whatever
// was asked just before it (the same font, another, a name that merely
// starts alike, a font that is not installed).
TEST(FontCache, EachNameKeepsItsIdWhateverWasAskedBefore) {
  FontCache cache;
  const int sans = cache.FontId("NimbusSans-Regular");
  const int bold = cache.FontId("NimbusSans-Bold");
  ASSERT_GE(sans, 0);
  ASSERT_GE(bold, 0);
  ASSERT_NE(sans, bold);
  const struct {
    const char* name;
    int id;
  } turns[] = {
      {"NimbusSans-Regular", sans}, {"NimbusSans-Regular", sans}, {"NimbusSans-Bold", bold},
      {"NimbusSans-Regular", sans}, {"NimbusSans-Regula", -1},    {"NimbusSans-Regular", sans},
      {"NimbusSans-RegularX", -1},  {"No-Such-Font", -1},         {"NimbusSans-Bold", bold},
      {"", -1},                     {"NimbusSans-Bold", bold},    {"NimbusSans-Regular", sans},
  };
  for (const auto& t : turns) EXPECT_EQ(cache.FontId(t.name), t.id) << t.name;
}

TEST(FontCache, CodesFollowTheKindOfFont) {
  FontCache cache;
  struct Case {
    const char* font;
    char32_t ch;
    int code;
  } cases[] = {
      {"Helvetica", U'A', 'A'},
      {"Helvetica", U'\u00A9', 0xA9},    // copyright in Mac Roman
      {"Helvetica", U'\u00A0', 0xCA},    // no-break space
      {"Helvetica", U'\u0141', FontCache::kNoCode},   // Lslash: a glyph outside Mac Roman
      {"Helvetica", U'\u4E00', FontCache::kNoGlyph},
      {"Symbol", U'\u03B1', 'a'},        // alpha at its built-in code
      {"Symbol", U'A', FontCache::kNoGlyph},
      {"ZapfDingbats", U'\u2713', '3'},  // check mark
      {"NimbusSans-Regular", U'A', 'A'},
      {"NimbusSans-Regular", U'\u0416', 128},  // the first character beyond ASCII
      {"NimbusSans-Regular", U'\u00E9', 129},
      {"NimbusSans-Regular", U'\u0416', 128},  // and again: the same code
      {"NimbusSans-Regular", U'\u4E00', FontCache::kNoGlyph},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.font) + " U+" + std::to_string(unsigned(c.ch)));
    const int id = cache.FontId(c.font);
    ASSERT_GE(id, 0);
    const int code = cache.Encode(id, c.ch);
    EXPECT_EQ(code, c.code);
    if (code >= 0) {
      EXPECT_EQ(cache.UnicodeOfCode(id, code), c.ch);
    }
  }
  EXPECT_EQ(cache.FontId("NoSuchFont"), -1);
}

TEST(FontCache, AFontShowsAtMost224CharactersInAJob) {
  FontCache cache;
  const int id = cache.FontId("NimbusRoman-Regular");
  const Fonts::FontFace* face = cache.Face(id);
  std::set<int> codes;
  std::set<int> glyphs;
  char32_t ch = 0x20;
  while (codes.size() < 224 && ch < 0x3000) {
    const int g = face->glyphForUnicode(ch);
    if (g >= 0 && glyphs.insert(g).second) {
      const int code = cache.Encode(id, ch);
      ASSERT_GE(code, 32) << unsigned(ch);
      codes.insert(code);
    }
    ++ch;
  }
  ASSERT_EQ(codes.size(), 224u);
  for (; ch < 0x3000; ++ch) {
    const int g = face->glyphForUnicode(ch);
    if (g >= 0 && glyphs.insert(g).second) break;
  }
  EXPECT_EQ(cache.Encode(id, ch), FontCache::kNoCode);
}

TEST(FontCache, MacRomanCodesNameGlyphsOfTheStandardFonts) {
  FontCache cache;
  // The codes PDF's MacRomanEncoding leaves empty.
  const std::set<int> empty{0x7F, 0xAD, 0xB0, 0xB2, 0xB3, 0xB6, 0xB7, 0xB8,
                            0xB9, 0xBA, 0xBD, 0xC3, 0xC5, 0xC6, 0xD7, 0xF0};
  for (const char* font : {"Helvetica", "Times-BoldItalic", "Courier"}) {
    const int id = cache.FontId(font);
    for (int code = 32; code < 256; ++code) {
      const bool expected = empty.count(code) == 0;
      EXPECT_EQ(cache.GlyphOfCode(id, code) >= 0, expected) << font << " code " << code;
    }
  }
}

TEST(FontCache, FontsForEmbeddingWholeOrSubset) {
  FontCache cache;
  const int sans = cache.FontId("NimbusSans-Regular");
  const int helvetica = cache.FontId("Helvetica");
  for (char32_t ch : {U'A', U'B', U'\u0416'}) cache.Encode(sans, ch);
  std::uint8_t table[256] = {0};
  table['A'] = 1;
  table[128] = 1;

  TavricCore::ResetType1FontNamePrefix();
  const auto first = TavricCore::CreateType1Font(&cache, sans, table, 1, false);
  const auto second = TavricCore::CreateType1Font(&cache, sans, table, 1, false);
  const auto whole = TavricCore::CreateType1Font(&cache, sans, false);
  TavricCore::ResetType1FontNamePrefix();
  const auto again = TavricCore::CreateType1Font(&cache, sans, table, 1, false);
  const auto standard = TavricCore::CreateType1Font(&cache, helvetica, table, 1, false);

  EXPECT_EQ(first->getName(), "AAAAAA+NimbusSans-Regular");
  EXPECT_EQ(second->getName(), "AAAAAB+NimbusSans-Regular");
  EXPECT_EQ(again->getName(), "AAAAAA+NimbusSans-Regular");
  EXPECT_EQ(whole->getName(), "NimbusSans-Regular");
  EXPECT_EQ(standard->getName(), "Helvetica");

  EXPECT_TRUE(first->hasChar('A'));
  EXPECT_FALSE(first->hasChar('B'));
  EXPECT_TRUE(whole->hasChar('B'));
  EXPECT_EQ(first->getCharEncoding(128), "afii10024");
  EXPECT_EQ(first->getCharWidth('A'), int(cache.Face(sans)->glyph(cache.GlyphOfCode(sans, 'A')).advance));
  EXPECT_EQ(first->getCharWidth('B'), 0);
  EXPECT_EQ(first->getHeaderLength() + first->getCharProcsLength() + first->getZeroesLength(),
            first->getData().size());
  EXPECT_LT(first->getData().size(), whole->getData().size());
  EXPECT_EQ(whole->getData(), cache.Face(sans)->program().data);

  EXPECT_TRUE(standard->getData().empty());
  EXPECT_TRUE(standard->isBase14Font(TavricCore::GetBase14FontList()));
  EXPECT_FALSE(whole->isBase14Font(TavricCore::GetBase14FontList()));
  int box[4];
  whole->getBoundingBox(box);  // top, left, bottom, right, downwards
  EXPECT_LT(box[0], 0);
  EXPECT_GT(box[2], 0);
  EXPECT_LT(box[1], box[3]);
}

TEST(FontCache, UsedCodesOfAFontInATree) {
  auto job = TavKernel::loadJobFromMemory(
      R"({"ppi":72,"boxes":{"media":[0,0,1000,1000]},"colours":[{"id":1}],"paints":[{"id":10,"type":"flat","colour":1}],"objects":[
        {"kind":"text","at":[0,0],"runs":[{"text":"AB\nA","font":"Courier","size":10,"paint":10},
                                          {"text":"Z","font":"Times-Roman","size":10,"paint":10}]},
        {"kind":"group","objects":[{"kind":"text","at":[0,0],
          "runs":[{"text":"\u00e9","font":"Courier","size":10,"paint":10}]}]},
        {"kind":"text","at":[0,0],"excluded":true,"runs":[{"text":"Q","font":"Courier","size":10,"paint":10}]}]})",
      "/nonexistent", "job.json");
  FontCache* cache = TavricCore::jobGetFontCache(job.get());
  std::uint8_t table[256];
  TavricCore::GetFontCharacters(jobGetSpahan(job.get()), cache->FontId("Courier"), table, false, cache, 1);
  std::set<int> used;
  for (int c = 0; c < 256; ++c)
    if (table[c] != 0) used.insert(c);
  EXPECT_EQ(used, (std::set<int>{'A', 'B', 0x8E}));  // e acute in Mac Roman
}

// Several fonts gathered in one walk: runs that change font from one to the
// next, line breaks, characters beyond ASCII, an excluded text.
TEST(FontCache, UsedCodesOfSeveralFontsInOneWalk) {
  const struct {
    const char* runs;
    std::set<int> sans, courier, symbol;
  } cases[] = {
      {R"({"text":"AB\nA","font":"NimbusSans-Regular"},{"text":"Z\u00e9","font":"Courier"},)"
       R"({"text":"\u00e9x","font":"NimbusSans-Regular"},{"text":"\u03b1\u03b2","font":"Symbol"})",
       {'A', 'B', 'x', 128}, {'Z', 0x8E}, {'a', 'b'}},
      {R"({"text":"\n\n","font":"NimbusSans-Regular"},{"text":"\u00fc\u00e9 q","font":"NimbusSans-Regular"},)"
       R"({"text":"q","font":"Courier"})",
       {128, 129, ' ', 'q'}, {'q'}, {}},
      {R"({"text":"\u03b1","font":"Symbol"},{"text":"1","font":"Courier"},{"text":"1","font":"Symbol"})",
       {}, {'1'}, {'a', '1'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runs);
    std::string runs = c.runs;
    for (std::size_t at = runs.find('}'); at != std::string::npos; at = runs.find('}', at + 1)) {
      runs.insert(at, R"(,"size":10,"paint":10)");
      at += 21;
    }
    auto job = TavKernel::loadJobFromMemory(
        R"({"ppi":72,"boxes":{"media":[0,0,1000,1000]},"colours":[{"id":1}],"paints":[{"id":10,"type":"flat","colour":1}],"objects":[)"
        R"({"kind":"text","at":[0,0],"runs":[)" + runs + R"(]},)"
        R"({"kind":"text","at":[0,0],"excluded":true,"runs":[{"text":"QRS","font":"Courier","size":10,"paint":10}]}]})",
        "/nonexistent", "job.json");
    FontCache* cache = TavricCore::jobGetFontCache(job.get());
    const std::vector<int> ids{cache->FontId("NimbusSans-Regular"), cache->FontId("Courier"), cache->FontId("Symbol")};
    std::vector<std::array<std::uint8_t, 256>> tables(3);
    for (auto& t : tables) t.fill(0);
    TavricCore::GetFontCharacters(jobGetSpahan(job.get()), ids, tables, cache);
    std::vector<std::set<int>> used(3);
    for (int f = 0; f < 3; ++f)
      for (int code = 0; code < 256; ++code)
        if (tables[std::size_t(f)][std::size_t(code)] != 0) used[std::size_t(f)].insert(code);
    EXPECT_EQ(used[0], c.sans);
    EXPECT_EQ(used[1], c.courier);
    EXPECT_EQ(used[2], c.symbol);
  }
}

TEST(FontCache, TheJobLoaderRefusesTextThatCannotBeSet) {
  const struct {
    const char* run;
    const char* message;
  } cases[] = {
      {R"("text":"x","font":"NoSuchFont")", "/objects/0/runs/0/font: the font \"NoSuchFont\" is not installed"},
      {R"("text":"x\u4e00","font":"NimbusSans-Regular")", "/objects/0/runs/0/text: the font \"NimbusSans-Regular\" has no character U+4E00"},
      {R"("text":"\u0416","font":"Times-Roman")", "the character U+0416 is not in the encoding of the font \"Times-Roman\""},
      {R"("text":"x","font":"Courier","underline":1)", "/objects/0/runs/0/underline: expected true or false"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.run);
    const std::string text = std::string(R"({"ppi":72,"boxes":{"media":[0,0,1000,1000]},"colours":[{"id":1}],"paints":[{"id":10,"type":"flat","colour":1}],)"
                                         R"("objects":[{"kind":"text","at":[0,0],"runs":[{"size":10,"paint":10,)") +
                             c.run + "}]}]}";
    try {
      TavKernel::loadJobFromMemory(text, "/nonexistent", "job.json");
      ADD_FAILURE() << "loaded";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "JOB/BAD JOB FILE");
      EXPECT_NE(e.detail().find(c.message), std::string::npos) << e.detail();
    }
  }
}

// Characters met in an earlier run of the same font are passed over quickly
// by the load's check; what follows them is still checked, and the fault
// names the run that holds it.
TEST(FontCache, TheLoaderChecksEveryRunAfterCharactersMetBefore) {
  const struct {
    const char* font;
    std::vector<const char*> runs;  // JSON text of each run's "text"
    const char* message;            // null: the job loads
  } cases[] = {
      {"NimbusSans-Regular", {"abc", "abc"}, nullptr},
      {"NimbusSans-Regular", {"ab\\nc", "c\\n\\nab"}, nullptr},
      {"NimbusSans-Regular", {"abc", "abc\\u4e00"}, "/runs/1/text: the font \"NimbusSans-Regular\" has no character U+4E00"},
      {"NimbusSans-Regular", {"abc", "c\\n\\u4e00a"}, "/runs/1/text: the font \"NimbusSans-Regular\" has no character U+4E00"},
      // A character met before whose code's value is a UTF-8 lead byte.
      {"NimbusSans-Regular", {"\\u00e4", "a\\u4e00"}, "/runs/1/text: the font \"NimbusSans-Regular\" has no character U+4E00"},
      {"NimbusSans-Regular", {"\\u00e4", "\\u00e4b\\u00e4"}, nullptr},
      {"Times-Roman", {"Ab", "bA\\u0416"}, "/runs/1/text: the character U+0416 is not in the encoding of the font \"Times-Roman\""},
      {"Times-Roman", {"Ab", "\\u00e9bA"}, nullptr},
      {"Symbol", {"\\u03b1 1", "1 \\u03b1a"}, "/runs/1/text: the font \"Symbol\" has no character U+0061"},
  };
  for (const auto& c : cases) {
    std::string runs;
    for (const char* text : c.runs)
      runs += std::string(runs.empty() ? "" : ",") + R"({"size":10,"paint":10,"font":")" + c.font + R"(","text":")" + text + "\"}";
    SCOPED_TRACE(runs);
    const std::string job = std::string(R"({"ppi":72,"boxes":{"media":[0,0,1000,1000]},"colours":[{"id":1}],"paints":[{"id":10,"type":"flat","colour":1}],)"
                                        R"("objects":[{"kind":"text","at":[0,0],"runs":[)") +
                            runs + "]}]}";
    try {
      TavKernel::loadJobFromMemory(job, "/nonexistent", "job.json");
      EXPECT_EQ(c.message, nullptr) << "loaded";
    } catch (const TavSys::Error& e) {
      ASSERT_NE(c.message, nullptr) << e.detail();
      EXPECT_EQ(e.detail(), std::string("job.json: /objects/0") + c.message);
    }
  }
}

// The standard text fonts are written with PDF's MacRomanEncoding, which has
// no code for Mac OS Roman's mathematical signs: they are refused at load,
// with the run's place, while fonts that carry their own encoding take them.
TEST(FontCache, StandardTextFontsTakeOnlyWhatMacRomanEncodingNames) {
  const std::u32string signs = U"\u2260\u221e\u2264\u2265\u2202\u2211\u220f\u03c0\u222b\u03a9\u221a\u2248\u2206\u25ca";
  auto load = [](const std::string& font, char32_t ch) {
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(ch));
    const std::string text =
        std::string(R"({"ppi":72,"boxes":{"media":[0,0,1000,1000]},"colours":[{"id":1}],"paints":[{"id":10,"type":"flat","colour":1}],)"
                    R"("objects":[{"kind":"group","objects":[{"kind":"text","at":[0,0],"runs":[{"size":10,"paint":10,"text":"a)") +
        escaped + R"(","font":")" + font + R"("}]}]}]})";
    return TavKernel::loadJobFromMemory(text, "/nonexistent", "job.json");
  };
  for (char32_t sign : signs) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", unsigned(sign));
    SCOPED_TRACE(name);
    for (const char* font : {"Helvetica", "Times-Roman", "Courier-Bold"}) {
      try {
        load(font, sign);
        ADD_FAILURE() << font << " took the sign";
      } catch (const TavSys::Error& e) {
        EXPECT_EQ(e.detail(), std::string("job.json: /objects/0/objects/0/runs/0/text: the character ") + name +
                                  " is not in the encoding of the font \"" + font + "\"");
      }
    }
    // An embedded font is encoded by the characters the job gives it.
    EXPECT_NO_THROW(load("NimbusSans-Regular", sign));
  }
  // Signs the encoding does name stay characters of the standard fonts.
  for (char32_t ch : {U'\u00b1', U'\u00b5', U'\u2026', U'\u00e6', U'\u00a0'}) EXPECT_NO_THROW(load("Helvetica", ch));
}

}  // namespace

// Every kerning pair of every installed font's AFM file, as a C-locale stream
// reads "KPX left right value" (the first of two pairs of the same glyphs
// counts), is the pair the face gives; every other pair of glyphs (and of
// no glyph) kerns by 0.
TEST(FontFaceKerning, EveryPairOfTheAfmFilesAsAStreamReadsIt) {
  namespace fs = std::filesystem;
  std::size_t fonts = 0, pairs = 0;
  for (const auto& entry : fs::directory_iterator(Fonts::FontFolder())) {
    if (entry.path().extension() != ".afm") continue;
    const Fonts::FontFace* face = Fonts::FindFontFace(entry.path().stem().string());
    if (face == nullptr) continue;
    ++fonts;
    std::ifstream in(entry.path());
    std::map<std::pair<int, int>, double> seen;
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, 4, "KPX ") != 0) continue;
      std::istringstream fields(line.substr(4));
      std::string left, right;
      double value = 0;
      if (!(fields >> left >> right >> value)) continue;
      const int a = face->glyphByName(left), b = face->glyphByName(right);
      if (a < 0 || b < 0 || value == 0 || !seen.emplace(std::pair{a, b}, double(float(value))).second) continue;
      ++pairs;
      EXPECT_EQ(face->kerning(a, b), double(float(value))) << entry.path().filename() << ": " << line;
    }
    std::size_t wrong = 0;
    for (int a = -1; a <= face->glyphCount(); ++a) {
      for (int b = -1; b <= face->glyphCount(); ++b) {
        const auto it = seen.find({a, b});
        if (face->kerning(a, b) != (it != seen.end() ? it->second : 0.0)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0u) << entry.path().filename();
  }
  EXPECT_GE(fonts, 35u);
  EXPECT_GT(pairs, 10000u);
}

// Every glyph of every installed font's AFM file ("C code ; WX width ; N
// name ; ...") advances by the file's width, and every glyph's box is the
// control box of its outline (the least and greatest of all its points),
// whichever glyph was asked for first: the boxes are worked out on demand.
TEST(FontFaceMetrics, AdvancesAreTheAfmWidthsAndBoxesHoldTheOutlines) {
  namespace fs = std::filesystem;
  std::size_t fonts = 0, widths = 0, boxes = 0;
  std::vector<Fonts::OutlineSegment> outline;
  for (const auto& entry : fs::directory_iterator(Fonts::FontFolder())) {
    if (entry.path().extension() != ".afm") continue;
    const Fonts::FontFace* face = Fonts::FindFontFace(entry.path().stem().string());
    if (face == nullptr) continue;
    ++fonts;
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, 2, "C ") != 0) continue;
      std::istringstream fields(line);
      std::string c, code, semi1, wx, semi2, n, name;
      double width = 0;
      if (!(fields >> c >> code >> semi1 >> wx >> width >> semi2 >> n >> name) || wx != "WX" || n != "N") continue;
      const int g = face->glyphByName(name);
      ASSERT_GE(g, 0) << entry.path().filename() << ": " << line;
      ++widths;
      EXPECT_EQ(face->glyph(g).advance, width) << entry.path().filename() << ": " << line;
    }
    // From the last glyph to the first, so that no box is asked in the order
    // the glyphs were read.
    for (int g = face->glyphCount() - 1; g >= 0; --g) {
      face->outline(g, outline);
      const double* box = face->glyphBox(g);
      if (outline.empty()) {
        EXPECT_TRUE(box[0] == 0 && box[1] == 0 && box[2] == 0 && box[3] == 0)
            << entry.path().filename() << " glyph " << face->glyph(g).name;
        continue;
      }
      double least[2] = {HUGE_VAL, HUGE_VAL}, most[2] = {-HUGE_VAL, -HUGE_VAL};
      for (const Fonts::OutlineSegment& s : outline) {
        const int points = s.op == Fonts::OutlineSegment::kCubic ? 3 : 1;
        for (int k = 0; k < points; ++k) {
          least[0] = std::min(least[0], s.x[k]);
          least[1] = std::min(least[1], s.y[k]);
          most[0] = std::max(most[0], s.x[k]);
          most[1] = std::max(most[1], s.y[k]);
        }
      }
      ++boxes;
      const std::string where = entry.path().filename().string() + " glyph " + face->glyph(g).name;
      EXPECT_EQ(box[0], least[0]) << where;
      EXPECT_EQ(box[1], least[1]) << where;
      EXPECT_EQ(box[2], most[0]) << where;
      EXPECT_EQ(box[3], most[1]) << where;
    }
    // Out of range: no box.
    for (int g : {-1, face->glyphCount()}) {
      const double* box = face->glyphBox(g);
      EXPECT_TRUE(box[0] == 0 && box[1] == 0 && box[2] == 0 && box[3] == 0);
    }
  }
  EXPECT_GE(fonts, 35u);
  EXPECT_GT(widths, 10000u);
  EXPECT_GT(boxes, 10000u);
}

// Font faces read from a metrics program (every glyph cut to its width but
// those the ascent, descent and cap height come from) against faces FreeType
// reads from the whole file: every name, width, Unicode value, built-in code,
// box and outline the same, on every installed font and on crafted programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "fonts/synthetic_font.h"
#include "platform/fonts/fontface.h"
#include "platform/fonts/type1program.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

namespace fs = std::filesystem;
using Fonts::FontFace;

// Everything a face tells, compared glyph by glyph.
void expectSameFace(const FontFace& cut, const FontFace& whole) {
  EXPECT_EQ(cut.name(), whole.name());
  EXPECT_EQ(cut.family(), whole.family());
  EXPECT_EQ(cut.style(), whole.style());
  EXPECT_EQ(cut.symbolic(), whole.symbolic());
  for (int k = 0; k < 4; ++k) EXPECT_EQ(cut.boundingBox()[k], whole.boundingBox()[k]) << k;
  EXPECT_EQ(cut.ascent(), whole.ascent());
  EXPECT_EQ(cut.descent(), whole.descent());
  EXPECT_EQ(cut.capHeight(), whole.capHeight());
  EXPECT_EQ(cut.underlinePosition(), whole.underlinePosition());
  EXPECT_EQ(cut.underlineThickness(), whole.underlineThickness());
  ASSERT_EQ(cut.glyphCount(), whole.glyphCount());
  int differing = 0;
  for (int g = 0; g < whole.glyphCount() && differing < 5; ++g) {
    const FontFace::Glyph& a = cut.glyph(g);
    const FontFace::Glyph& b = whole.glyph(g);
    const bool same = a.name == b.name && a.advance == b.advance && a.unicode == b.unicode &&
                      cut.emAdvance(g) == whole.emAdvance(g) &&
                      cut.glyphForUnicode(b.unicode) == whole.glyphForUnicode(b.unicode) &&
                      cut.glyphByName(b.name) == whole.glyphByName(b.name);
    if (!same) {
      ++differing;
      ADD_FAILURE() << "glyph " << g << ": " << a.name << " " << a.advance << " U+" << std::hex << std::uint32_t(a.unicode)
                    << " against " << b.name << " " << std::dec << b.advance << " U+" << std::hex << std::uint32_t(b.unicode);
    }
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cut.glyphBox(g)[k], whole.glyphBox(g)[k]) << b.name << " " << k;
  }
  for (int code = 0; code < 256; ++code) EXPECT_EQ(cut.builtinGlyph(code), whole.builtinGlyph(code)) << code;
}

// A font file's face read from its metrics program and from the whole file,
// which must tell the same; false (with a failure) when either is not read.
bool readBothWays(const std::string& path, std::string_view name, std::unique_ptr<FontFace>& cut,
                  std::unique_ptr<FontFace>& whole) {
  cut = Fonts::ReadFontFace(path, name);
  whole = Fonts::ReadFontFace(path, name, true);
  if (!cut || !whole) {
    ADD_FAILURE() << "the face is not read both ways";
    return false;
  }
  EXPECT_TRUE(cut->readFromMetricsProgram());
  EXPECT_FALSE(whole->readFromMetricsProgram());
  expectSameFace(*cut, *whole);
  return true;
}

TEST(FontFace, EveryInstalledFontReadFromItsMetricsProgramIsTheWholeFilesFace) {
  int fonts = 0;
  for (const auto& entry : fs::directory_iterator(Fonts::FontFolder())) {
    if (entry.path().extension() != ".t1") continue;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    const std::string name = Fonts::Type1FontName(tavtest::readFile(entry.path()));
    std::unique_ptr<FontFace> cut, whole;
    if (!readBothWays(path, name, cut, whole)) return;
    // The program read with the face is the one the export embeds.
    EXPECT_TRUE(cut->program().data == whole->program().data);
    std::vector<Fonts::OutlineSegment> a, b;
    for (const char* glyph : {"g", "Q", "ampersand", "Aring"}) {
      cut->outline(cut->glyphByName(glyph), a);
      whole->outline(whole->glyphByName(glyph), b);
      ASSERT_EQ(a.size(), b.size()) << glyph;
      for (std::size_t k = 0; k < a.size(); ++k) {
        EXPECT_TRUE(a[k].op == b[k].op && a[k].x[2] == b[k].x[2] && a[k].y[2] == b[k].y[2]) << glyph << " " << k;
      }
    }
    ++fonts;
  }
  EXPECT_GE(fonts, 35);
}

// Charstring operators as their bytes.
const std::string hsbw = "\x0d", sbw = "\x0c\x07", div = "\x0c\x0c", endchar = "\x0e", seac = "\x0c\x06",
                  callsubr = "\x0a", callothersubr = "\x0c\x10", pop = "\x0c\x11", rmoveto = "\x15",
                  rlineto = "\x05", closepath = "\x09";

std::string num(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += fonttest::charStringNumber(v);
  return s;
}
std::string shape(int top) {
  return num({50, -20}) + rmoveto + num({300, top}) + rlineto + num({100, -top}) + rlineto + closepath + endchar;
}

TEST(FontFace, CraftedProgramsReadFromTheirMetricsProgramsAreTheWholeFilesFaces) {
  const struct {
    const char* what;
    fonttest::Glyphs glyphs;
  } cases[] = {
      {"widths by div, rounded up and down, and a five-byte number",
       {{".notdef", num({0, 500}) + hsbw + endchar},
        {"A", num({0, 1001, 2}) + div + hsbw + shape(700)},
        {"B", num({0, -1001, 2}) + div + hsbw + shape(700)},
        {"C", num({10, 2000, 3}) + div + hsbw + shape(700)},
        {"D", num({0, 100001, 100}) + div + hsbw + shape(700)},
        {"E", num({7, 3}) + div + num({650}) + hsbw + shape(600)}}},
      {"sbw, and a width a Subr gives",
       {{".notdef", num({0, 500}) + hsbw + endchar},
        {"A", num({10, 0, 700, 0}) + sbw + shape(700)},
        {"B", num({0, 0, 1001, 2}) + div + num({0}) + sbw + shape(700)},
        {"C", num({5}) + callsubr + num({0, 640}) + hsbw + shape(500)}}},
      {"seac, and the glyphs of the ascent, descent and cap height calling Subrs",
       {{".notdef", num({0, 500}) + hsbw + endchar},
        {"A", num({0, 600}) + hsbw + shape(700)},
        {"acute", num({0, 300}) + hsbw + shape(900)},
        {"Aacute", num({0, 600}) + hsbw + num({0, 0, 100, 65, 194}) + seac},
        {"d", num({0, 600}) + hsbw + num({4, 1, 3}) + callothersubr + pop + callsubr + shape(720)},
        {"p", num({0, 600}) + hsbw + num({5}) + callsubr + shape(-200)},
        {"H", num({0, 600}) + hsbw + num({6}) + callsubr + shape(690)}}},
      {"no .notdef",
       {{"A", num({0, 610}) + hsbw + shape(700)}, {"d", num({0, 620}) + hsbw + shape(710)},
        {"space", num({0, 250}) + hsbw + endchar}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::TestFolder dir;
    const fs::path file = dir / "Synthetic.t1";
    tavtest::writeFile(file, fonttest::syntheticFontFileWith(c.glyphs));
    std::unique_ptr<FontFace> cut, whole;
    if (!readBothWays(file.string(), "Synthetic", cut, whole)) return;
  }
}

// However a program's charstrings are encrypted (lead bytes given before the
// Subrs, none, or not said at all), its metrics program gives the whole
// file's face.
TEST(FontFace, ProgramsOfAnyLeadBytesReadFromTheirMetricsProgramsAreTheWholeFilesFaces) {
  const struct {
    const char* what;
    int lenIV;
    bool said;  // "/lenIV" written in the program
  } cases[] = {
      {"four lead bytes, said", 4, true}, {"four lead bytes, not said", 4, false}, {"no lead bytes", 0, true},
      {"seven lead bytes", 7, true},      {"not encrypted", -1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string plain = fonttest::syntheticPrivatePart(false, c.lenIV);
    if (!c.said) {
      const std::size_t at = plain.find("/lenIV");
      plain.erase(at, plain.find('\n', at) + 1 - at);
    }
    tavtest::TestFolder dir;
    const fs::path file = dir / "Synthetic.t1";
    tavtest::writeFile(file, fonttest::syntheticFontFileFrom(plain));
    std::unique_ptr<FontFace> cut, whole;
    if (!readBothWays(file.string(), "Synthetic", cut, whole)) return;
    std::vector<Fonts::OutlineSegment> a, b;
    for (const char* glyph : {"Aacute", "B", "C", "D"}) {
      cut->outline(cut->glyphByName(glyph), a);
      whole->outline(whole->glyphByName(glyph), b);
      EXPECT_FALSE(b.empty()) << glyph;
      EXPECT_EQ(a.size(), b.size()) << glyph;
    }
  }
}

// Kerning pairs read from the AFM file beside a font: each case's file and
// the kerning it must give between named glyphs (0: no pair).
TEST(FontFace, KerningPairsAreReadFromTheAfmFileBesideTheFont) {
  const struct {
    const char* what;
    std::string afm;
    std::vector<std::tuple<const char*, const char*, double>> expected;
  } cases[] = {
      {"signs and whole numbers",
       "StartKernPairs 4\nKPX A B -30\nKPX A C 25\nKPX B A +12\nKPX C A -0\nEndKernPairs\n",
       {{"A", "B", -30}, {"A", "C", 25}, {"B", "A", 12}, {"C", "A", 0}, {"B", "C", 0}}},
      {"decimals, exponents and numbers with more after them",
       "KPX A B -29.5\nKPX A C 1.25e1\nKPX B A 7x\nKPX B C 3e\nKPX C A ++4\nKPX C B +-4\nKPX A A 1000000000\n",
       {{"A", "B", -29.5}, {"A", "C", 12.5}, {"B", "A", 7}, {"B", "C", 0}, {"C", "A", 0}, {"C", "B", 0},
        {"A", "A", 1000000000}}},
      {"the first pair of two glyphs counts",
       "KPX A B -10\nKPX A C -5\nKPX A B -40\nKPX B C 0\nKPX B C 8\n",
       {{"A", "B", -10}, {"A", "C", -5}, {"B", "C", 8}}},
      {"unknown names, short lines and other kinds of lines",
       "KPX A Zzz -10\nKPX Zzz A -10\nKPX A\nKPX A C\nKPX\nKPXA B 5\n KPX A B 5\nKP A B 5\n"
       "C 65 ; WX 600 ; N A ; B 0 0 600 700 ;\nKPX B A -7\n",
       {{"A", "B", 0}, {"A", "C", 0}, {"B", "A", -7}}},
      {"line ends and blanks: CRLF, tabs, several blanks, no line end at the end",
       "KPX A B -11\r\nKPX A\tC\t-12\r\nKPX  B   A  13 \nKPX C A -14",
       {{"A", "B", -11}, {"A", "C", -12}, {"B", "A", 13}, {"C", "A", -14}}},
      {"the same left glyph in runs and apart",
       "KPX A B 1\nKPX A C 2\nKPX B A 3\nKPX A A 4\nKPX B C 5\nKPX A C 6\n",
       {{"A", "B", 1}, {"A", "C", 2}, {"B", "A", 3}, {"A", "A", 4}, {"B", "C", 5}}},
  };
  const fonttest::Glyphs glyphs = {{".notdef", num({0, 500}) + hsbw + endchar},
                                   {"A", num({0, 600}) + hsbw + shape(700)},
                                   {"B", num({0, 610}) + hsbw + shape(700)},
                                   {"C", num({0, 620}) + hsbw + shape(700)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::TestFolder dir;
    tavtest::writeFile(dir / "Synthetic.t1", fonttest::syntheticFontFileWith(glyphs));
    tavtest::writeFile(dir / "Synthetic.afm", "StartFontMetrics 2.0\n" + c.afm);
    for (const bool whole : {false, true}) {
      const auto face = Fonts::ReadFontFace((dir / "Synthetic.t1").string(), "Synthetic", whole);
      ASSERT_TRUE(face);
      for (const auto& [left, right, value] : c.expected) {
        EXPECT_EQ(face->kerning(face->glyphByName(left), face->glyphByName(right)), value) << left << " " << right;
      }
    }
  }
}

// Looking a font up reads its glyphs and widths; its kerning file is read
// once, when a kerning is first asked for, and one that has gone by then
// gives no kerning (as a missing one does).
TEST(FontFace, KerningIsReadOnceWhenFirstAskedFor) {
  const fonttest::Glyphs glyphs = {{".notdef", num({0, 500}) + hsbw + endchar},
                                   {"A", num({0, 600}) + hsbw + shape(700)},
                                   {"B", num({0, 610}) + hsbw + shape(700)}};
  for (const bool whole : {false, true}) {
    SCOPED_TRACE(whole ? "whole file" : "metrics program");
    tavtest::TestFolder dir;
    tavtest::writeFile(dir / "Synthetic.t1", fonttest::syntheticFontFileWith(glyphs));
    const fs::path afm = dir / "Synthetic.afm";
    tavtest::writeFile(afm, "StartFontMetrics 2.0\nKPX A B -30\n");
    const auto face = Fonts::ReadFontFace((dir / "Synthetic.t1").string(), "Synthetic", whole);
    ASSERT_TRUE(face);
    const int a = face->glyphByName("A"), b = face->glyphByName("B");
    tavtest::writeFile(afm, "StartFontMetrics 2.0\nKPX A B -45\n");
    EXPECT_EQ(face->kerning(a, b), -45);
    tavtest::writeFile(afm, "StartFontMetrics 2.0\nKPX A B -60\n");
    EXPECT_EQ(face->kerning(a, b), -45);

    const auto gone = Fonts::ReadFontFace((dir / "Synthetic.t1").string(), "Synthetic", whole);
    ASSERT_TRUE(gone);
    fs::remove(afm);
    EXPECT_EQ(gone->kerning(a, b), 0);
    EXPECT_EQ(gone->glyph(a).advance, 600);
  }
}

// A program the engine takes apart but refuses to embed still gives a face;
// its export is refused, with the same message, when the program is used.
TEST(FontFace, AProgramRefusedForEmbeddingIsRefusedWhenUsed) {
  tavtest::TestFolder dir;
  const fs::path file = dir / "Looping.t1";
  tavtest::writeFile(file, fonttest::syntheticFontFile(true));
  const auto face = Fonts::ReadFontFace(file.string(), "Synthetic");
  ASSERT_TRUE(face);
  EXPECT_GT(face->glyph(face->glyphByName("C")).advance, 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      face->program();
      ADD_FAILURE() << "a subroutine calling itself was accepted";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/BAD FONT PROGRAM");
      EXPECT_NE(e.text().find("the glyph /C calls subroutine 6 more than ten deep"), std::string::npos) << e.text();
    }
  }
}

}  // namespace

namespace {

bool sameOutline(const std::vector<Fonts::OutlineSegment>& a, const std::vector<Fonts::OutlineSegment>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k].op != b[k].op) return false;
    for (int p = 0; p < 3; ++p) {
      if (a[k].x[p] != b[k].x[p] || a[k].y[p] != b[k].y[p]) return false;
    }
  }
  return true;
}

// A face keeps each outline it reads: every glyph's kept outline is the one
// a face reading every outline afresh gives, asked once or again, in any
// order, and whatever the bound on what it keeps; a glyph's box asked after
// its outline is the box read alone.
TEST(FontFace, KeptOutlinesAreTheOutlinesReadAfresh) {
  const struct {
    const char* font;
    std::size_t limit;  // segments the face keeps
  } cases[] = {
      {"NimbusSans-Regular", FontFace::kMaxKeptSegments},
      {"NimbusRoman-BoldItalic", FontFace::kMaxKeptSegments},
      {"NimbusMonoPS-Regular", 600},  // a few glyphs kept, the rest read afresh
      {"StandardSymbolsPS", FontFace::kMaxKeptSegments},
      {"D050000L", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.font);
    const std::string path = std::string(Fonts::FontFolder()) + "/" + c.font + ".t1";
    const auto kept = Fonts::ReadFontFace(path, c.font);
    const auto fresh = Fonts::ReadFontFace(path, c.font);
    const auto boxes = Fonts::ReadFontFace(path, c.font);
    ASSERT_TRUE(kept && fresh && boxes);
    kept->limitKeptOutlines(c.limit);
    fresh->limitKeptOutlines(0);
    const int count = kept->glyphCount();
    ASSERT_GT(count, 150);
    const auto n = static_cast<std::size_t>(count);
    std::vector<std::vector<Fonts::OutlineSegment>> first(n);
    std::vector<const std::vector<Fonts::OutlineSegment>*> where(n);
    // Backwards, then forwards: the second reading of each glyph is the kept one.
    for (int g = count - 1; g >= 0; --g) {
      const std::vector<Fonts::OutlineSegment>& o = kept->outline(g);
      where[std::size_t(g)] = &o;
      first[std::size_t(g)] = o;
    }
    // No glyph's outline: the scratch list, emptied.
    const std::vector<Fonts::OutlineSegment>* scratch = &kept->outline(-1);
    EXPECT_TRUE(scratch->empty());
    std::size_t segments = 0;
    int keptGlyphs = 0;
    std::vector<Fonts::OutlineSegment> afresh;
    for (int g = 0; g < count; ++g) {
      SCOPED_TRACE(kept->glyph(g).name);
      fresh->outline(g, afresh);
      EXPECT_TRUE(sameOutline(first[std::size_t(g)], afresh));
      const std::vector<Fonts::OutlineSegment>& again = kept->outline(g);
      EXPECT_TRUE(sameOutline(again, afresh));
      for (int k = 0; k < 4; ++k) EXPECT_EQ(kept->glyphBox(g)[k], boxes->glyphBox(g)[k]) << k;
      if (where[std::size_t(g)] != scratch) {
        // Kept where it was put, within the bound.
        EXPECT_EQ(&again, where[std::size_t(g)]);
        segments += afresh.size();
        ++keptGlyphs;
      } else {
        EXPECT_EQ(&again, scratch);
      }
    }
    EXPECT_LE(segments, c.limit);
    if (c.limit == FontFace::kMaxKeptSegments) {
      EXPECT_EQ(keptGlyphs, count);
    } else if (c.limit == 0) {
      // Only outlines without a segment (blanks) are kept.
      EXPECT_LT(keptGlyphs, 5);
    } else {
      EXPECT_GT(keptGlyphs, 3);
      EXPECT_LT(keptGlyphs, count / 2);
    }
    std::vector<Fonts::OutlineSegment> copy;
    kept->outline(count, copy);
    EXPECT_TRUE(copy.empty());
    EXPECT_TRUE(kept->outline(-1).empty());
  }
}

}  // namespace

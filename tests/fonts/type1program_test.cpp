// Type 1 programs: the three file forms read into one binary form, damaged
// files refused, subsets that keep what their glyphs need and load back.
// (Subsets of installed fonts as the PDF export embeds them, read by other
// tools, are the text export's tests.)
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "fonts/synthetic_font.h"
#include "platform/fonts/fontface.h"
#include "platform/fonts/type1program.h"
#include "platform/tav_error.h"
#include "support/consumers.h"
#include "support/glyph_names.h"

namespace {

using Fonts::Type1Program;

std::set<std::string> loadedGlyphs(const Type1Program& program) {
  return tavtest::glyphNamesOfProgram(program.data);
}

std::string encryptedPart(const Type1Program& p) {
  return p.data.substr(p.headerLength, p.encryptedLength);
}

std::string installedFontFile(const char* name) {
  return tavtest::readFile(std::string(Fonts::FontFolder()) + "/" + name + ".t1");
}

// The same font converted by t1utils, as a user's PFB or PFA file would come.
std::string convertedWithT1utils(const char* tool, const char* name) {
  tavtest::TestFolder dir;
  const auto out = dir / "font.out";
  const auto r = tavtest::runProcess(
      {tool, std::string(Fonts::FontFolder()) + "/" + name + ".t1", out.string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  return tavtest::readFile(out);
}

TEST(Type1Program, EveryFileFormGivesTheSameBinaryProgram) {
  const std::string synthetic = fonttest::syntheticFontFile();
  const Type1Program binary = Fonts::ReadType1Program(synthetic, "Synthetic");
  const std::string cipher = encryptedPart(binary);
  const std::string clear = fonttest::syntheticCleartext();
  const std::string trailer = synthetic.substr(clear.size() + cipher.size());
  const Type1Program real = Fonts::ReadType1Program(installedFontFile("NimbusSans-Regular"), "n");

  struct Case {
    const char* form;
    std::string file;
    std::string expectedCipher;
  } cases[] = {
      {"synthetic PFB", fonttest::toPfb(clear, cipher, trailer), cipher},
      {"synthetic PFA", fonttest::toPfa(clear, cipher, trailer), cipher},
      {"installed PFB", convertedWithT1utils("t1binary", "NimbusSans-Regular"), encryptedPart(real)},
      {"installed PFA", convertedWithT1utils("t1ascii", "NimbusSans-Regular"), encryptedPart(real)},
      {"synthetic binary", synthetic, cipher},
      {"installed binary", installedFontFile("NimbusSans-Regular"), encryptedPart(real)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    const Type1Program p = Fonts::ReadType1Program(c.file, c.form);
    EXPECT_EQ(p.headerLength + p.encryptedLength + p.trailerLength, p.data.size());
    EXPECT_TRUE(encryptedPart(p) == c.expectedCipher)
        << p.encryptedLength << " bytes read, " << c.expectedCipher.size() << " expected";
    const std::string header = p.data.substr(0, p.headerLength);
    const std::string end = header.substr(header.rfind("eexec"));
    EXPECT_TRUE(end == "eexec\n" || end == "eexec\r" || end == "eexec\r\n") << end;
    EXPECT_EQ(p.data.substr(p.data.size() - 12), "cleartomark\n");
    EXPECT_FALSE(loadedGlyphs(p).empty());
    // The decryption the reader hands on is that of the part it kept, and
    // the check and subset from it are those made from the program afresh.
    std::string plain;
    const Type1Program again = Fonts::ReadType1Program(c.file, c.form, plain);
    EXPECT_TRUE(plain == Fonts::Type1Decrypt(encryptedPart(again), Fonts::kEexecKey));
    const auto parsed = Fonts::CheckedType1Private(again, c.form, std::move(plain));
    const std::set<std::string> some{"A", "Aacute", "B", "eacute", "zero"};
    EXPECT_TRUE(Fonts::SubsetType1Program(again, *parsed, some, c.form).data ==
                Fonts::SubsetType1Program(p, some, c.form).data);
  }
  EXPECT_EQ(loadedGlyphs(binary).size(), 7u);
}

TEST(Type1Program, DamagedFilesAreRefused) {
  const std::string good = fonttest::syntheticFontFile();
  const std::string clear = fonttest::syntheticCleartext();
  const std::string pfb =
      fonttest::toPfb(clear, encryptedPart(Fonts::ReadType1Program(good, "s")), "cleartomark\n");
  std::string longSegment = pfb;
  longSegment[5] = char(0x7F);  // a length far past the end
  std::string badType = pfb;
  badType[1] = char(7);
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"not a font", "hello world"},
      {"no eexec", "%!PS-AdobeFont-1.0: X\n/FontName /X def\n"},
      {"encrypted part cut before closefile", good.substr(0, clear.size() + 200)},
      {"PFB segment past the end", longSegment},
      {"PFB segment of an unknown type", badType},
      {"PFB header cut short", pfb.substr(0, 4)},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    try {
      Fonts::ReadType1Program(bytes, "Damaged");
      ADD_FAILURE() << "accepted";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/BAD FONT PROGRAM");
    }
  }
}

// A subroutine that calls itself would keep a consumer's interpreter busy
// without end: such a program is refused, naming the glyph and the
// subroutine; every installed font passes.
TEST(Type1Program, SubroutinesThatCallThemselvesAreRefused) {
  EXPECT_NO_THROW(Fonts::CheckType1Program(Fonts::ReadType1Program(fonttest::syntheticFontFile(), "s"), "s"));
  try {
    Fonts::CheckType1Program(Fonts::ReadType1Program(fonttest::syntheticFontFile(true), "Looping"), "Looping");
    ADD_FAILURE() << "accepted";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/BAD FONT PROGRAM");
    EXPECT_NE(e.text().find("the glyph /C calls subroutine 6 more than ten deep"), std::string::npos) << e.text();
  }
  for (const auto& entry : std::filesystem::directory_iterator(Fonts::FontFolder())) {
    if (entry.path().extension() != ".t1") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Type1Program program = Fonts::ReadType1Program(tavtest::readFile(entry.path()), "installed");
    EXPECT_NO_THROW(Fonts::CheckType1Program(program, "installed"));
  }
}

TEST(Type1Program, SubsetKeepsAccentComponentsAndTheSubrsItsGlyphsCall) {
  const Type1Program whole = Fonts::ReadType1Program(fonttest::syntheticFontFile(), "Synthetic");
  const Type1Program subset =
      Fonts::SubsetType1Program(whole, {"Aacute", "B", "D", "NoSuchGlyph"}, "Synthetic");

  const std::set<std::string> expected{".notdef", "A", "Aacute", "B", "D", "acute"};
  const auto names = Fonts::Type1GlyphNames(subset, "Synthetic");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  EXPECT_EQ(loadedGlyphs(subset), expected);

  // Subr 6 (only C calls it) becomes "return"; 4 (reached through the
  // hint-replacement othersubr) and 5 (called by B) stay as they were.
  const std::string plain = Fonts::Type1Decrypt(encryptedPart(subset), Fonts::kEexecKey);
  const std::string original = Fonts::Type1Decrypt(encryptedPart(whole), Fonts::kEexecKey);
  auto entry = [](const std::string& text, int subr) {
    const std::string key = "dup " + std::to_string(subr) + " ";
    const std::size_t at = text.find(key) + key.size();
    return text.substr(at, text.find(' ', at) - at);
  };
  EXPECT_EQ(entry(plain, 6), "5");
  EXPECT_EQ(entry(plain, 5), entry(original, 5));
  EXPECT_EQ(entry(plain, 4), entry(original, 4));
  EXPECT_NE(plain.find("/CharStrings 6 dict"), std::string::npos);
}

// An entry's closing token, however the program writes it, is the one a
// subset's rewritten entry ends with; the other entries keep their text.
TEST(Type1Program, RewrittenSubrsKeepTheirClosingToken) {
  const struct {
    const char* written;  // after Subr 6's bytes
    const char* kept;     // after the rewritten Subr 6's bytes
  } cases[] = {
      {" NP\n", " NP\n"},
      {" |\n", " |\n"},
      {" noaccess put\n", " noaccess put\n"},
      {" noaccess  put\n", " noaccess put\n"},
      {" noaccess\nput\n", " noaccess put\n"},
      {" noaccess put", " noaccess put"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    std::string plain = fonttest::syntheticPrivatePart();
    const std::size_t at = plain.find("dup 6 ");
    ASSERT_NE(at, std::string::npos);
    const std::size_t length = std::stoul(plain.substr(at + 6));
    const std::size_t close = plain.find(" RD ", at) + 4 + length;
    plain.replace(close, plain.find('\n', close) + 1 - close, c.written);
    const Type1Program whole = Fonts::ReadType1Program(fonttest::syntheticFontFileFrom(plain), "Synthetic");
    const Type1Program subset = Fonts::SubsetType1Program(whole, {"A", "B", "D"}, "Synthetic");
    const std::string text = Fonts::Type1Decrypt(encryptedPart(subset), Fonts::kEexecKey);
    const std::string rewritten = "dup 6 5 RD ";
    const std::size_t entry = text.find(rewritten);
    ASSERT_NE(entry, std::string::npos);
    EXPECT_EQ(text.substr(entry + rewritten.size() + 5, std::strlen(c.kept)), c.kept);
    // Everything before Subr 6 and after it is the program's own text.
    EXPECT_EQ(text.substr(0, entry), plain.substr(0, at));
    const std::size_t after = entry + rewritten.size() + 5 + std::strlen(c.kept);
    const std::size_t end = text.find("ND\n2 index /CharStrings");
    EXPECT_EQ(text.substr(after, end - after), plain.substr(close + std::strlen(c.written),
                                                            plain.find("ND\n2 index /CharStrings") - close - std::strlen(c.written)));
  }
}

// A glyph's numbers beyond the operand stack's 64 values drop its bottom
// ones: what a subroutine call takes from the stack decides which Subrs a
// subset keeps (one taken from an empty stack keeps them all).
TEST(Type1Program, NumbersBeyondTheStacksSizeDropItsBottomValues) {
  const std::string callsubr = "\x0a", endchar = "\x0e", hsbw = "\x0d";
  auto numbers = [](int value, int count) {
    std::string s;
    for (int k = 0; k < count; ++k) s += fonttest::charStringNumber(value);
    return s;
  };
  const struct {
    const char* what;
    std::string code;  // after the glyph's hsbw
    bool allKept;      // Subr 5 kept (the walk lost track of a call)
    bool sixKept;
  } cases[] = {
      {"64 numbers: the bottom one is called last", numbers(6, 1) + numbers(3, 63) + std::string(64, '\x0a'),
       false, true},
      {"65 numbers: the bottom one dropped", numbers(6, 1) + numbers(3, 64) + std::string(65, '\x0a'), true, true},
      {"66 numbers: the bottom two dropped", numbers(6, 2) + numbers(3, 64) + std::string(65, '\x0a'), true,
       true},
      {"200 numbers, the top one called", numbers(3, 199) + numbers(6, 1) + callsubr, false, true},
      {"200 numbers, then the stack emptied", numbers(6, 136) + numbers(3, 64) + std::string(65, '\x0a'), true,
       true},
      {"five-byte numbers past the stack's size", numbers(100000, 70) + numbers(3, 1) + callsubr, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fonttest::Glyphs glyphs = {
        {".notdef", fonttest::charStringNumber(0) + fonttest::charStringNumber(500) + hsbw + endchar},
        {"A", fonttest::charStringNumber(0) + fonttest::charStringNumber(600) + hsbw + c.code + endchar}};
    const Type1Program whole = Fonts::ReadType1Program(fonttest::syntheticFontFileWith(glyphs), "Synthetic");
    const std::string before = Fonts::Type1Decrypt(encryptedPart(whole), Fonts::kEexecKey);
    const std::string after =
        Fonts::Type1Decrypt(encryptedPart(Fonts::SubsetType1Program(whole, {"A"}, "Synthetic")), Fonts::kEexecKey);
    // Subrs 4 to 6 as the subset writes them: "return" (5 bytes) or as they were.
    auto length = [](const std::string& text, int subr) {
      const std::string key = "dup " + std::to_string(subr) + " ";
      const std::size_t at = text.find(key) + key.size();
      return text.substr(at, text.find(' ', at) - at);
    };
    EXPECT_EQ(length(after, 5) == length(before, 5), c.allKept);
    EXPECT_EQ(length(after, 4) == length(before, 4), c.allKept);
    EXPECT_EQ(length(after, 6) == length(before, 6), c.allKept || c.sixKept);
    EXPECT_EQ(length(after, 6) != "5", c.allKept || c.sixKept);
  }
}

// Decryption undoes encryption for texts of every length (the decryption
// works four bytes at a time, the rest one by one) and under both keys;
// each byte's key depends on every byte before it.
TEST(Type1Program, DecryptionUndoesEncryptionAtEveryLength) {
  std::string text;
  std::uint32_t seed = 12345;
  for (int k = 0; k < 300; ++k) {
    seed = seed * 1103515245u + 12345u;
    text.push_back(static_cast<char>(seed >> 16));
  }
  for (const std::uint16_t key : {Fonts::kEexecKey, Fonts::kCharStringKey, std::uint16_t(0), std::uint16_t(65535)}) {
    for (std::size_t length : {0, 1, 2, 3, 4, 5, 7, 8, 9, 63, 64, 65, 299, 300}) {
      const std::string plain = text.substr(0, length);
      const std::string cipher = Fonts::Type1Encrypt(plain, key);
      EXPECT_TRUE(Fonts::Type1Decrypt(cipher, key) == plain) << "key " << key << ", " << length << " bytes";
    }
    // One changed byte changes what follows it, never what comes before.
    std::string cipher = Fonts::Type1Encrypt(text, key);
    cipher[150] = static_cast<char>(cipher[150] ^ 1);
    const std::string plain = Fonts::Type1Decrypt(cipher, key);
    EXPECT_TRUE(plain.compare(0, 150, text, 0, 150) == 0);
    EXPECT_NE(plain.substr(151), text.substr(151));
  }
}

// The check and the subsetting read every charstring, decrypted past its
// lead bytes (none and not encrypted at all for lenIV -1); a subset made from
// the private part the check took apart is the one made afresh, and keeps
// what its glyphs call.
TEST(Type1Program, CheckAndSubsetReadCharstringsWithAnyLeadBytes) {
  for (const int lenIV : {-1, 0, 1, 4, 7}) {
    SCOPED_TRACE("lenIV " + std::to_string(lenIV));
    const Type1Program whole = Fonts::ReadType1Program(fonttest::syntheticFontFile(false, lenIV), "Synthetic");
    std::shared_ptr<const Fonts::Type1Private> parsed;
    ASSERT_NO_THROW(parsed = Fonts::CheckedType1Private(whole, "Synthetic"));
    const std::set<std::string> wanted{"Aacute", "B", "D"};
    const Type1Program subset = Fonts::SubsetType1Program(whole, *parsed, wanted, "Synthetic");
    EXPECT_TRUE(subset.data == Fonts::SubsetType1Program(whole, wanted, "Synthetic").data);
    const auto names = Fonts::Type1GlyphNames(subset, "Synthetic");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{".notdef", "A", "Aacute", "B", "D", "acute"}));
    // Subr 6, which only C calls, is the one replaced by "return".
    const std::string plain = Fonts::Type1Decrypt(encryptedPart(subset), Fonts::kEexecKey);
    const std::string original = Fonts::Type1Decrypt(encryptedPart(whole), Fonts::kEexecKey);
    auto entry = [](const std::string& text, int subr) {
      const std::string key = "dup " + std::to_string(subr) + " ";
      const std::size_t at = text.find(key);
      return at == std::string::npos ? std::string() : text.substr(at, text.find(" NP", at) - at);
    };
    EXPECT_NE(entry(plain, 6), entry(original, 6));
    EXPECT_EQ(entry(plain, 6).substr(0, 8), "dup 6 " + std::to_string(std::max(lenIV, 0) + 1) + " ");
    for (int kept : {0, 1, 2, 3, 4, 5}) EXPECT_EQ(entry(plain, kept), entry(original, kept)) << kept;

    try {
      Fonts::CheckType1Program(Fonts::ReadType1Program(fonttest::syntheticFontFile(true, lenIV), "Looping"), "Looping");
      ADD_FAILURE() << "a subroutine calling itself was accepted";
    } catch (const TavSys::Error& e) {
      EXPECT_NE(e.text().find("the glyph /C calls subroutine 6 more than ten deep"), std::string::npos) << e.text();
    }
  }
}

// The export subsets a face's program from the private part its check took
// apart: the same bytes as a subset made afresh, over installed fonts and
// texts of plain letters, accented ones (seac) and many glyphs.
TEST(Type1Program, FaceSubsetsFromItsCheckedProgramAreTheFreshSubsets) {
  const char* const fonts[] = {"NimbusSans-Regular", "NimbusRoman-Italic", "URWGothic-Book",
                               "C059-Roman", "NimbusMonoPS-Regular", "StandardSymbolsPS"};
  const std::u32string texts[] = {U"A", U"Wildflower honey", U"\u00e0 \u00e9 \u00ef \u00d6 \u00c5 \u00e7",
                                  U"The quick brown fox jumps over the lazy dog 0123456789 ,.;:!?()"};
  for (const char* name : fonts) {
    const Fonts::FontFace* face = Fonts::FindFontFace(name);
    ASSERT_NE(face, nullptr) << name;
    for (const std::u32string& text : texts) {
      std::set<std::string> glyphs;
      for (const char32_t ch : text) {
        const int g = face->glyphForUnicode(ch);
        if (g >= 0) glyphs.insert(face->glyph(g).name);
      }
      SCOPED_TRACE(std::string(name) + ", " + std::to_string(glyphs.size()) + " glyphs");
      const Type1Program fromFace = face->subsetProgram(glyphs, name);
      const Type1Program fresh = Fonts::SubsetType1Program(face->program(), glyphs, name);
      EXPECT_TRUE(fromFace.data == fresh.data);
      EXPECT_EQ(fromFace.encryptedLength, fresh.encryptedLength);
      for (const std::string& g : glyphs) EXPECT_EQ(loadedGlyphs(fromFace).count(g), 1u) << g;
    }
  }
}

TEST(Type1Program, StandardEncodingNamesAreTheFontsBuiltInEncoding) {
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusSans-Regular");
  ASSERT_NE(face, nullptr);
  for (int code = 0; code < 256; ++code) {
    const int g = face->builtinGlyph(code);
    const char* name = Fonts::StandardEncodingName(code);
    EXPECT_EQ(name != nullptr ? std::string(name) : std::string(),
              g >= 0 ? face->glyph(g).name : std::string())
        << "code " << code;
  }
}

}  // namespace

// The metrics copy a face is read from is read back as the program itself:
// the same glyphs in the same order, or refused (the face then reads the
// whole file). In a damaged program the words the private part is read by
// may stand inside an entry's bytes that the copy writes anew.
TEST(Type1Program, MetricsProgramsReadBackAsTheirProgramOrAreRefused) {
  const auto withoutLenIV = [](std::string plain) {
    const std::size_t at = plain.find("/lenIV 4 def\n");
    plain.erase(at, std::strlen("/lenIV 4 def\n"));
    return plain;
  };
  // "/CharStrings" begins with the last byte of Subr 6 (which the copy
  // writes as a bare return), and a second dictionary follows the first.
  const auto keyInsideASubr = [](std::string plain) {
    const std::size_t at = plain.find("dup 6 ");
    const std::size_t length = std::stoul(plain.substr(at + 6));
    const std::size_t data = plain.find(" RD ", at) + 4;
    const std::size_t key = plain.find("/CharStrings", data);
    plain.replace(data + length, key - (data + length), "");
    plain.replace(at, data - at, "dup 6 " + std::to_string(length + 1) + " RD ");
    const std::size_t end = plain.find("end\nend\n");
    plain.insert(end + 8, "/CharStrings 1 dict dup begin\n/Z 5 RD xxxxx ND\nend\n");
    return plain;
  };
  const struct {
    const char* what;
    std::string plain;
    bool refused;
  } cases[] = {
      {"a sound program", fonttest::syntheticPrivatePart(), false},
      {"charstrings without lead bytes", fonttest::syntheticPrivatePart(false, -1), false},
      {"no lenIV: one is put before the Subrs", withoutLenIV(fonttest::syntheticPrivatePart()), false},
      {"the CharStrings key inside a Subr", keyInsideASubr(fonttest::syntheticPrivatePart()), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = fonttest::syntheticFontFileFrom(c.plain);
    std::string plain;
    const Type1Program program = Fonts::ReadType1Program(file, "Synthetic", plain);
    const auto names = Fonts::Type1GlyphNames(program, "Synthetic");
    ASSERT_GE(names.size(), 7u);
    const auto parsed = Fonts::ParseType1Private(program, "Synthetic", std::move(plain));
    try {
      const Type1Program metrics = Fonts::Type1MetricsProgram(program, *parsed, {"d", "p", "H"}, "Synthetic");
      EXPECT_FALSE(c.refused);
      EXPECT_EQ(Fonts::Type1GlyphNames(metrics, "Synthetic"), names);
    } catch (const TavSys::Error& e) {
      EXPECT_TRUE(c.refused) << e.what();
      EXPECT_EQ(e.key(), "PDF/BAD FONT PROGRAM");
    }
  }
}

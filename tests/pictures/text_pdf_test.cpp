// Text in written documents: the fonts as pdffonts and FreeType see them,
// the characters as pdftotext and mutool extract them, the text operators in
// the content, and where Ghostscript puts the ink.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <qpdf/QPDFPageObjectHelper.hh>

#include "document/document_support.h"
#include "pdfproof_support.h"
#include "platform/fonts/fontcache.h"
#include "platform/fonts/textcalc.h"
#include "platform/genoutfil.h"
#include "platform/utf.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfregistry.h"
#include "pictures/type1fonts.h"
#include "support/capture.h"
#include "support/consumers.h"
#include "support/glyph_names.h"

namespace doctest {
namespace {

// A 300 x 200 point page; job points = PDF points, y = -v.
const char* kTextJob = R"("boxes": {"media": [-200, 0, 0, 300]},
  "inks": [{"name": "Black", "process": "black"}, {"name": "Orange", "cmyk": [0, 60, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Orange": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 1, "opacity": 50}],)";

std::string run(const std::string& text, const std::string& font, const std::string& more = "") {
  return R"({"text": ")" + text + R"(", "font": ")" + font + R"(", "size": 12, "paint": 10)" + more + "}";
}
std::string text(const std::string& runs, const std::string& more = "", int v = -150) {
  return R"({"kind": "text", "at": [)" + std::to_string(v) + R"(, 20])" + more + R"(, "runs": [)" + runs + "]}";
}

struct Document {
  tavtest::TestFolder dir;
  std::filesystem::path file;
};

// Writes the objects as a one-page document, checked by every consumer.
std::unique_ptr<Document> write(const std::string& objects, PDFSettings settings = testSettings()) {
  auto doc = std::make_unique<Document>();
  doc->file = doc->dir / "text.pdf";
  auto job = makeJob(std::string(kTextJob) + R"("objects": [)" + objects + "]");
  writeAccepted(*job, settings, doc->file);
  return doc;
}

// The Font resources of the first page by resource name.
std::map<std::string, QPDFObjectHandle> fonts(Pdf& pdf) {
  std::map<std::string, QPDFObjectHandle> out;
  QPDFObjectHandle dict = pdf.page(0).getKey("/Resources").getKey("/Font");
  for (const std::string& key : dict.getKeys()) out[key] = dict.getKey(key);
  return out;
}

// pdffonts' rows: name -> "emb sub uni".
std::map<std::string, std::string> pdffonts(const std::filesystem::path& file) {
  const auto r = tavtest::runProcess({"pdffonts", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  std::map<std::string, std::string> rows;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    std::string name, type, one, encoding, emb, sub, uni;
    f >> name >> type >> one >> encoding >> emb >> sub >> uni;
    EXPECT_EQ(type + " " + one, "Type 1") << line;
    rows[name] = emb + " " + sub + " " + uni;
  }
  return rows;
}

std::string streamBytes(QPDFObjectHandle stream) {
  auto data = stream.getStreamData(qpdf_dl_generalized);
  return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

std::set<std::string> glyphNames(const char* font, const std::u32string& chars) {
  const Fonts::FontFace* face = Fonts::FindFontFace(font);
  std::set<std::string> names{".notdef"};
  for (char32_t ch : chars) names.insert(face->glyph(face->glyphForUnicode(ch)).name);
  return names;
}

TEST(TextPdf, FontsAreEmbeddedAsTheSubsetThresholdSays) {
  const std::string objects =
      text(run("Hamburg", "NimbusSans-Regular")) + "," + text(run("bug", "NimbusSans-Regular"), "", -120) +
      "," + text(run("Z\u00fcrich", "NimbusRoman-Italic") + "," + run("Helvetica", "Helvetica"), "", -90) +
      "," + text(run("\u03b1\u03b2", "Symbol") + "," + run("\u2713", "ZapfDingbats"), "", -60);
  for (int threshold : {100, 0}) {
    SCOPED_TRACE("SubsetThreshhold " + std::to_string(threshold));
    PDFSettings settings = testSettings();
    settings.SubsetThreshhold = threshold;
    auto doc = write(objects, settings);
    const std::string sub = threshold > 0 ? "yes" : "no";
    // Subsets by their names without the six-letter tag.
    std::map<std::string, std::string> rows;
    for (const auto& [name, row] : pdffonts(doc->file)) {
      const bool tagged = name.size() > 7 && name[6] == '+';
      EXPECT_EQ(tagged, row.find("yes yes") == 0) << name << " " << row;
      rows[tagged ? name.substr(7) : name] = row;
    }
    EXPECT_EQ(rows, (std::map<std::string, std::string>{{"NimbusSans-Regular", "yes " + sub + " yes"},
                                                         {"NimbusRoman-Italic", "yes " + sub + " yes"},
                                                         {"Helvetica", "no no yes"},
                                                         {"Symbol", "no no yes"},
                                                         {"ZapfDingbats", "no no yes"}}));

    Pdf pdf(doc->file);
    int programs = 0;
    for (auto& [name, font] : fonts(pdf)) {
      QPDFObjectHandle file = font.getKey("/FontDescriptor").getKey("/FontFile");
      if (!file.isStream()) continue;
      ++programs;
      const std::string base = font.getKey("/BaseFont").getName();
      const std::string program = streamBytes(file);
      QPDFObjectHandle d = file.getDict();
      EXPECT_EQ(d.getKey("/Length1").getIntValue() + d.getKey("/Length2").getIntValue() +
                    d.getKey("/Length3").getIntValue(),
                long(program.size()));
      const bool sans = base.find("NimbusSans") != std::string::npos;
      const std::set<std::string> loaded = tavtest::glyphNamesOfProgram(program);
      if (threshold > 0) {
        EXPECT_EQ(loaded, sans ? glyphNames("NimbusSans-Regular", U"Hamburgbug")
                               : glyphNames("NimbusRoman-Italic", U"Z\u00fcrich"));
        tavtest::writeFile(doc->dir / "subset.t1", program);
        const auto r = tavtest::runProcess({"t1disasm", (doc->dir / "subset.t1").string()});
        EXPECT_EQ(r.exitCode, 0) << r.describe();
      } else {
        EXPECT_EQ(int(loaded.size()), Fonts::FindFontFace(sans ? "NimbusSans-Regular" : "NimbusRoman-Italic")->glyphCount());
      }
    }
    EXPECT_EQ(programs, 2) << "each font embedded once by the page";
  }
}

using g2test::count;

TEST(TextPdf, TextOperatorsInTheContent) {
  const std::string courier = "Courier";
  const struct {
    const char* what;
    std::string objects;
    std::string settings;
    int bt, tj, tf;
    const char* contains;
  } cases[] = {
      {"two words, normal spacing", text(run("ab cd", courier)), "", 1, 1, 1, "(ab cd) Tj"},
      {"word spacing", text(run("ab cd", courier, R"(, "wordSpacing": 200)")), "", 1, 2, 1, "(ab ) Tj"},
      {"justified", text(run("ab cd ef", courier), R"(, "align": "justify", "width": 20)"), "", 1, 6, 1, "(a) Tj"},
      {"per character", text(run("ab cd", courier), R"(, "perCharacter": true)"), "", 1, 4, 1, "(d) Tj"},
      {"a lone blank between fonts", text(run("ab", courier) + "," + run(" ", "Times-Roman") + "," + run("cd", courier)),
       "", 1, 2, 3, "(cd) Tj"},
      {"same font and size twice", text(run("ab", courier)) + "," + text(run("cd", courier), "", -100), "", 2, 2, 1, "/Fnt_0_0 12 Tf"},
      {"screened texts each select their font",
       text(run("ab", courier)) + "," + text(run("cd", courier), "", -100), "IncludeScreening", 2, 2, 2, "Q\nq\n"},
      {"horizontal scale and tracking", text(run("ab", courier, R"(, "hscale": 50, "tracking": 100)")), "", 1, 1, 1,
       "50 Tz 1.2 Tc"},
      {"vectorized", text(run("ab", courier)), "VectorizeText", 0, 0, 0, " c\n"},
      {"transparent paint in its own graphics state", text(R"({"text": "ab", "font": "Courier", "size": 12, "paint": 12})"), "", 1, 1, 1,
       " gs\nBT\n"},
      {"station number outside normalized output", text(run("12", courier), R"(, "stationNumber": true)"), "", 0, 0, 0, ""},
      // Down the page: each letter in its own matrix, turned a quarter.
      {"along a path", R"({"kind": "text", "path": [[-150, 20], [-50, 20]], "runs": [)" + run("ab", courier) + "]}", "",
       1, 2, 1, "0 -1 1 0 20 150 Tm (a) Tj\n0 -1 1 0 20 142.8 Tm (b) Tj\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PDFSettings settings = testSettings();
    if (c.settings == "IncludeScreening") {
      settings.IncludeScreening = 1;
      settings.UseDefaultScreen = 0;
    }
    if (c.settings == "VectorizeText") settings.VectorizeText = 1;
    auto doc = write(c.objects, settings);
    Pdf pdf(doc->file);
    const std::string content = pageContent(pdf.page(0));
    EXPECT_EQ(count(content, "BT\n"), c.bt) << content;
    EXPECT_EQ(count(content, ") Tj\n"), c.tj) << content;
    EXPECT_EQ(count(content, " Tf "), c.tf) << content;
    EXPECT_NE(content.find(c.contains), std::string::npos) << content;
  }
}

// The text operators go to the content in batches: each stays between the
// strings it belongs between, and a text of many strings is written whole.
TEST(TextPdf, StringsStayInOrderAroundWhatChangesBetweenThem) {
  std::string many;
  for (int i = 0; i < 2000; ++i) many += "AV";
  const struct {
    const char* what;
    std::string objects;
    std::vector<std::string> inOrder;
    int tj;
  } cases[] = {
      // Courier at 12 pt: 7.2 pt a letter; the second baseline 1.2 x 12 pt
      // lower; 50/1000 em of tracking is 0.6 pt.
      {"a second line, a paint and a font",
       text(run("ab\\ncd", "Courier") + "," + run("ef", "Courier", R"(, "paint": 11)") + "," +
            run("gh", "Times-Roman", R"(, "paint": 11, "tracking": 50)")),
       {"BT\n0 Tr ", "/Fnt_0_0 12 Tf 100 Tz 0 Tc 1 0 0 1 20 150 Tm (ab) Tj\n1 0 0 1 20 135.6 Tm (cd) Tj\n",
        " scn\n1 0 0 1 34.4 135.6 Tm (ef) Tj\n", "/Fnt_0_1 12 Tf 0.6 Tc 1 0 0 1 48.8 135.6 Tm (gh) Tj\nET\n"},
       4},
      {"two texts on other baselines",
       text(run("ab", "Courier")) + "," + text(run("cd", "Courier", R"(, "paint": 11)"), "", -100),
       {"1 0 0 1 20 150 Tm (ab) Tj\nET\n", "BT\n0 Tr ", " scn\n", "1 0 0 1 20 100 Tm (cd) Tj\nET\n"}, 2},
      // Every pair kerned: 4000 strings, some 140 KB of them.
      {"a text of many strings", text(run(many, "NimbusSans-Regular")),
       {"BT\n0 Tr ", " 20 150 Tm (A) Tj\n", "(V) Tj\nET\n"}, 4000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = write(c.objects);
    Pdf pdf(doc->file);
    const std::string content = pageContent(pdf.page(0));
    EXPECT_EQ(count(content, ") Tj\n"), c.tj);
    std::size_t at = 0;
    for (const std::string& piece : c.inOrder) {
      const std::size_t found = content.find(piece, at);
      ASSERT_NE(found, std::string::npos) << "\"" << piece << "\" after byte " << at << " of\n"
                                          << content.substr(0, 2000);
      at = found + piece.size();
    }
  }
  // The long text letter by letter, none lost where the batches meet.
  auto doc = write(text(run(many, "NimbusSans-Regular")));
  Pdf pdf(doc->file);
  const std::string content = pageContent(pdf.page(0));
  EXPECT_EQ(count(content, " Tm (A) Tj\n"), 2000);
  EXPECT_EQ(count(content, " Tm (V) Tj\n"), 2000);
}

// The strings the job's texts show, as a writer taking one character at a
// time cuts them: at every signal, after a blank of a run with its own word
// spacing, and at every character of a per-character or justified text;
// each byte escaped as the general string escaping writes it. A string of
// nothing or of one blank shows nothing.
std::vector<std::string> stringsOneByOne(jobstr* job) {
  std::vector<std::string> out;
  TavDB::ListScan scan(jobGetSpahan(job), TavDB::kObjText, 0);
  for (TavDB::Object* object = scan.next(); object != nullptr; object = scan.next()) {
    TextCalc calc = texcalini(job, object);
    TextParameters p;
    texcalpars(calc.get(), p);
    const bool each = object->text()->perCharacter || p.alignment == TavDB::TextData::kJustify;
    std::string run;
    const auto show = [&] {
      if (!run.empty() && run != " ") {
        std::string escaped;
        for (const char c : run) {
          char bytes[8];
          escaped.append(bytes, std::size_t(TavSys::stroutcha(c, bytes)));
        }
        out.push_back("(" + escaped + ") Tj");
      }
      run.clear();
    };
    for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
      if (code < 32) {
        show();
        if (code == kTextEnd) break;
        continue;
      }
      run += char(code);
      texcalpars(calc.get(), p);
      if (each || (code == ' ' && p.wordSpacing != kNormalWordSpacing)) show();
    }
  }
  return out;
}

// The strings shown in a content stream, in order ("(...) Tj").
std::vector<std::string> shownStrings(const std::string& content) {
  std::vector<std::string> out;
  for (std::size_t at = content.find("Tm ("); at != std::string::npos; at = content.find("Tm (", at)) {
    const std::size_t end = content.find(") Tj\n", at);
    if (end == std::string::npos) break;
    out.push_back(content.substr(at + 3, end + 4 - (at + 3)));
    at = end;
  }
  return out;
}

// The writer takes the calculator's characters a stretch at a time; what it
// shows is what a writer taking them one by one shows.
TEST(TextPdf, StringsAreThoseOfTheCharactersOneByOne) {
  const std::string sans = "NimbusSans-Regular";
  const std::string wrapped = run("AVA Wave To Ty, WAVE. Yo! LT AV Pa Te Vo aw", sans) + "," +
                              run(" Fee fi fo", sans, R"(, "tracking": 30)");
  const struct {
    const char* what;
    std::string objects;
  } cases[] = {
      {"kerning pairs", text(run("AVA Wave To Ty, WAVE. Yo! LT", sans))},
      {"tracking with kerning", text(run("To be AV", "Times-Roman", R"(, "tracking": 40)"))},
      {"word spacing in one of two runs",
       text(run("AV a To  ", sans, R"(, "wordSpacing": 300)") + "," + run("Va To y", sans))},
      {"beyond ASCII and the bytes a string escapes",
       text(run("na\u00efve (caf\u00e9) a\\\\b \u00a9 \u00c5V", "NimbusRoman-Regular"))},
      {"empty runs, paints changing between runs",
       text(run("", sans) + "," + run("AV", sans) + "," + run("To", sans, R"(, "paint": 11)") + "," +
            run("", sans, R"(, "paint": 11)") + "," + run("Wa", sans))},
      {"frame, left", text(wrapped, R"(, "width": 90)")},
      {"frame, centre", text(wrapped, R"(, "width": 90, "align": "centre")")},
      {"frame, right", text(wrapped, R"(, "width": 90, "align": "right")")},
      {"frame, justify", text(wrapped, R"(, "width": 90, "align": "justify")")},
      {"per character", text(run("AVA To", sans), R"(, "perCharacter": true)")},
      {"paint changes between texts",
       text(run("AV To", sans)) + "," + text(run("To AV", sans, R"(, "paint": 11)"), "", -100) + "," +
           text(run("Ty", sans), "", -50)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::TestFolder dir;
    auto job = makeJob(std::string(kTextJob) + R"("objects": [)" + c.objects + "]");
    const std::vector<std::string> expected = stringsOneByOne(job.get());
    ASSERT_FALSE(expected.empty());
    writeAccepted(*job, testSettings(), dir / "text.pdf");
    Pdf pdf(dir / "text.pdf");
    EXPECT_EQ(shownStrings(pageContent(pdf.page(0))), expected);
  }
}

// Where Ghostscript's bbox device finds ink: x0 y0 x1 y1 in points.
std::vector<double> inkBox(const std::filesystem::path& file) {
  const auto r = tavtest::runProcess({"gs", "-q", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bbox", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  std::istringstream in(r.err.substr(r.err.find("%%HiResBoundingBox:") + 19));
  std::vector<double> box(4);
  for (double& v : box) in >> v;
  return box;
}

TEST(TextPdf, InkLiesWhereTheLayoutPutsIt) {
  const std::string words = "Wide frames hold AVAVA kerned words, centred or not";
  const std::string along = R"({"kind": "text", "align": "centre", "path": [[-20, 20], [-150, 20, -150, 280, -20, 280]],
      "runs": [)" + run(words.substr(0, 30), "NimbusSans-Regular", R"(, "rise": 3)") + "]}";
  // Its third line lies below the box: not set.
  const std::string box = text(run(words, "NimbusSans-Regular"), R"(, "width": 150, "height": 29, "align": "right")",
                               -190);
  const struct {
    const char* what;
    std::string more;
    std::string runMore;
    int v;
    std::string object = "";  // the whole object instead
  } cases[] = {
      {"along a curve", "", "", 0, along},
      {"a text box", "", "", 0, box},
      {"left", R"(, "width": 150)", "", -120},
      {"centre", R"(, "width": 150, "align": "centre")", "", -120},
      {"right", R"(, "width": 150, "align": "right")", "", -120},
      {"justified", R"(, "width": 150, "align": "justify")", R"(, "tracking": 30)", -120},
      {"per character, kerned and tracked", R"(, "width": 150, "perCharacter": true)", R"(, "tracking": 30)", -120},
      // A quarter turn keeps the outlines' control points on the ink's extremes.
      {"rotated", R"(, "matrix": [0, -1, 1, 0])", R"(, "wordSpacing": 300)", -20},
      {"half width", "", R"(, "hscale": 50, "rise": 4)", -120},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The rotated line is kept short enough to stay on the page.
    const std::string line = c.v == -20 ? words.substr(0, 22) : words;
    const std::string object = !c.object.empty() ? c.object : text(run(line, "NimbusSans-Regular", c.runMore), c.more, c.v);
    auto doc = write(object);
    auto job = makeJob(std::string(kTextJob) + R"("objects": [)" + object + "]");
    TavDB::ListScan scan(jobGetSpahan(job.get()), TavDB::kObjText, 0);
    auto outlines = texhivecget(job.get(), scan.next(), 1);
    const TavDB::tv_box& b = outlines->bounds();  // job units are points here
    const std::vector<double> expected{double(b.left), -double(b.bottom), double(b.right), -double(b.top)};
    const std::vector<double> ink = inkBox(doc->file);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(ink[std::size_t(k)], expected[std::size_t(k)], 1.0) << "side " << k;
  }
}

// Per-character mode writes each letter on its own and prints what the text
// prints as runs.
TEST(TextPdf, PerCharacterTextPrintsAsItsRuns) {
  const std::string runs = run("AVAVA kerned Wo", "NimbusSans-Regular", R"(, "tracking": 20)") + "," +
                           run(" and Times", "Times-Roman");
  auto asRuns = write(text(runs, R"(, "width": 200, "align": "centre")"));
  auto single = write(text(runs, R"(, "width": 200, "align": "centre", "perCharacter": true)"));
  EXPECT_EQ(count(pageContent(Pdf(single->file).page(0)), ") Tj\n"), 21);
  const tavtest::Plate a = tavtest::measurePlates(asRuns->file, 1, 144).plate("Black");
  const tavtest::Plate b = tavtest::measurePlates(single->file, 1, 144).plate("Black");
  ASSERT_EQ(a.samples.size(), b.samples.size());
  int differing = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) differing += std::abs(int(a.samples[i]) - int(b.samples[i])) > 64;
  EXPECT_EQ(differing, 0);
}

TEST(TextPdf, FontDictionaries) {
  std::u16string many;  // 150 characters of the font beyond Latin-1, all in the BMP
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusRoman-Regular");
  for (char16_t ch = 0x100; many.size() < 150; ++ch)
    if (face->glyphForUnicode(ch) >= 0) many.push_back(ch);
  const std::string manyUtf8 = TavSys::Uni16CharToUTF8(many);
  auto doc = write(text(run("\u00a9", "Helvetica") + "," + run("\u03b1", "Symbol") + "," +
                        run(manyUtf8, "NimbusRoman-Regular")));
  Pdf pdf(doc->file);
  auto all = fonts(pdf);
  ASSERT_EQ(all.size(), 3u);
  QPDFObjectHandle helvetica = all.at("/Fnt_0_0"), symbol = all.at("/Fnt_0_1"), roman = all.at("/Fnt_0_2");
  struct {
    QPDFObjectHandle font;
    const char *encoding, *flags, *fontFile;
  } cases[] = {
      {helvetica, "/MacRomanEncoding", "32800", "null"},
      {symbol, "null", "32772", "null"},
      {roman, "<< /Differences", "32800", "stream"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.font.getKey("/BaseFont").getName());
    EXPECT_EQ(at(c.font, "/Encoding").substr(0, std::string(c.encoding).size()), c.encoding);
    EXPECT_EQ(at(c.font, "/FontDescriptor/Flags"), c.flags);
    EXPECT_EQ(c.font.getKey("/FontDescriptor").getKey("/FontFile").isStream() ? "stream" : "null",
              std::string(c.fontFile));
    EXPECT_EQ(c.font.getKey("/Widths").getArrayNItems(), 256);
    EXPECT_EQ(at(c.font, "/FirstChar") + " " + at(c.font, "/LastChar"), "0 255");
    const std::string cmap = streamBytes(c.font.getKey("/ToUnicode"));
    EXPECT_NE(cmap.find("/CIDSystemInfo\n"), std::string::npos);
  }
  EXPECT_NE(streamBytes(helvetica.getKey("/ToUnicode")).find("<00a9> <00a9>\n"), std::string::npos);
  // 150 codes in blocks of at most 100.
  const std::string cmap = streamBytes(roman.getKey("/ToUnicode"));
  EXPECT_NE(cmap.find("100 beginbfchar\n"), std::string::npos) << cmap;
  EXPECT_NE(cmap.find("50 beginbfchar\n"), std::string::npos) << cmap;
}

TEST(TextPdf, DifferencesAndCMapCodes) {
  std::array<Fonts::Type1Font::Code, 256> codes;
  for (int c : {65, 66, 67, 70}) codes[std::size_t(c)] = {true, std::string(1, char(c)), 500};
  const double box[4] = {0, -200, 1000, 900};
  const Fonts::Type1Font font("F", {}, codes, box, 700, -200, 650, false);
  tavtest::StringSink sink;
  TavPDF::BuildType1Encoding(font)->Output(sink);
  std::string differences;  // blanks collapsed
  for (char ch : sink.text)
    if (ch != ' ' || differences.empty() || differences.back() != ' ') differences.push_back(ch);
  EXPECT_NE(differences.find("/Differences [ 65 /A /B /C 70 /F ]"), std::string::npos) << sink.text;
  TavPDF::PdfObjectRegistry::deleteAll();
  for (const auto& [value, hex] : std::vector<std::pair<char32_t, std::string>>{
           {U'\u00a9', "<00a9>"}, {0x41, "<0041>"}, {0x1F600, "<d83dde00>"}, {0x10FFFF, "<dbffdfff>"}}) {
    EXPECT_EQ(TavPDF::CMapHexCode(value), hex);
  }
}

TEST(TextPdf, EveryFlavourExportsText) {
  tavtest::TestFolder dir;
  const std::string objects =
      text(run("Honey (\\\\) \u00a9 2026", "Helvetica") + "," + run(" \u00e9t\u00e9", "NimbusSans-Bold", R"(, "paint": 11)")) +
      "," + text(run("\u041f\u0440\u0438\u0432\u0435\u0442 \u03b1", "NimbusRoman-Regular") + "," + run(" \u2713", "ZapfDingbats") +
                     "," + run(" \u03b2", "Symbol"),
                 R"(, "align": "centre", "width": 200)", -100) +
      "," + text(run("Stra\u00dfe \u00c6r\u00f8", "Times-Roman"), "", -60);
  tavtest::writeFile(dir / "text.json", R"({"format": "tavpdf-job", "ppi": 72, "origin": [0, 0], )" +
                                            std::string(kTextJob) + R"("objects": [)" + objects + "]}");
  for (const char* flavour : {"Custom", "Press", "Viewing", "Reader", "Normalized", "Separated",
                              "NormalizedEmbedded", "Vistamo"}) {
    SCOPED_TRACE(flavour);
    const auto pdf = dir / (std::string(flavour) + ".pdf");
    const auto r = tavtest::runTavpdf({"export", (dir / "text.json").string(), "-o", pdf.string(),
                                       "--flavour", flavour});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    // In content order: the blanks that begin the runs after a font change stay.
    for (const auto& tool : std::vector<std::vector<std::string>>{{"pdftotext", "-raw", pdf.string(), "-"},
                                                                   {"mutool", "draw", "-F", "txt", pdf.string()}}) {
      const auto extracted = tavtest::runProcess(tool);
      EXPECT_EQ(extracted.exitCode, 0) << extracted.describe();
      for (const char* line : {"Honey (\\) \u00a9 2026 \u00e9t\u00e9", "\u041f\u0440\u0438\u0432\u0435\u0442 \u03b1 \u2713 \u03b2",
                               "Stra\u00dfe \u00c6r\u00f8"}) {
        EXPECT_NE(extracted.out.find(line), std::string::npos) << tool[0] << ": " << line << "\n" << extracted.out;
      }
    }
  }
}

}  // namespace
}  // namespace doctest

// Texts beside and inside the forms a page writes (patterns, soft masks,
// transparency groups, barcode and station-number forms): each content
// stream keeps its own fonts, and every resource name means one thing in the
// whole file.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "document/document_support.h"
#include "platform/kernel/jobfile.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace doctest {
namespace {

// A 300 x 200 point page at 720 ppi (ten job units a point, y = -v / 10).
// The headline is set in a font no form uses; the forms lie right of it.
const char* kPage = R"({"format": "tavpdf-job", "version": 1, "name": "text beside forms",
  "ppi": 720, "origin": [0, 0], "boxes": {"media": [-2000, 0, 0, 3000]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"}],
  "colours": [{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Cyan": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "pattern", "pattern": 1},
             {"id": 13, "type": "pattern", "pattern": 1, "opacity": 50},
             {"id": 14, "type": "flat", "colour": 2, "softMask": 2}],
  "patterns": [{"id": 1, "cell": [0, 0, 200, 200], "objects": [
                 {"kind": "path", "paint": 11, "points": [[0, 0], [0, 100], [100, 100], [100, 0]]},
                 {"kind": "text", "at": [180, 10], "runs": [{"text": "P", "font": "NimbusMonoPS-Bold", "size": 8, "paint": 10}]}]},
               {"id": 2, "kind": "softMask", "objects": [
                 {"kind": "path", "paint": 11, "points": [[-1900, 1600], [-1900, 2900], [-1100, 2900], [-1100, 1600]]}]}],)";

const char* kHeadline =
    R"({"kind": "text", "at": [-1500, 150], "runs": [{"text": "Caf\u00e9 cr\u00e8me \u00e9t\u00e9", "font": "NimbusRoman-Italic", "size": 16, "paint": 10}]})";

std::string square(int paint) {
  return R"({"kind": "path", "paint": )" + std::to_string(paint) +
         R"(, "points": [[-1900, 1600], [-1900, 2900], [-1100, 2900], [-1100, 1600]]})";
}

std::unique_ptr<jobstr> job(const std::string& objects) {
  return TavKernel::loadJobFromMemory(std::string(kPage) + R"("objects": [)" + objects + "]}",
                                      std::filesystem::temp_directory_path(), "forms.json");
}

// pdftotext's text of the first page, blanks and line ends squeezed.
std::string extracted(const std::filesystem::path& file) {
  const auto r = tavtest::runProcess({"pdftotext", "-q", file.string(), "-"});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  std::istringstream words(r.out);
  std::string word, out;
  while (words >> word) out += (out.empty() ? "" : " ") + word;
  return out;
}

// The fonts pdffonts lists for the file, without a subset's tag.
std::set<std::string> listedFonts(const std::filesystem::path& file) {
  const auto r = tavtest::runProcess({"pdffonts", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  std::set<std::string> names;
  std::istringstream lines(r.out);
  std::string line;
  for (int skip = 0; skip < 2 && std::getline(lines, line); ++skip) {
  }
  while (std::getline(lines, line)) {
    std::string name = line.substr(0, line.find(' '));
    if (name.size() > 7 && name[6] == '+') name = name.substr(7);
    names.insert(name);
  }
  return names;
}

// Mean Black over the headline's area.
double headlineBlack(const std::filesystem::path& file) {
  const auto plates = tavtest::measurePlates(file, 1, 144);
  double sum = 0;
  int n = 0;
  for (double x = 12; x < 140; x += 0.5) {
    for (double y = 144; y < 163; y += 0.5, ++n) sum += plates.inkAtPoint("Black", x, y);
  }
  return sum / n;
}

TEST(TextBesideForms, PageTextKeepsItsFontsBesideEveryForm) {
  tavtest::TestFolder dir;
  auto alone = job(kHeadline);
  const Written reference = writeAccepted(*alone, testSettings(), dir / "alone.pdf");
  const double black = headlineBlack(reference.file);
  ASSERT_GT(black, 0.02);

  const struct Case {
    const char* what;
    std::string object;
    const char* settings;
  } cases[] = {
      {"tiling pattern with a text in its cell", square(12), ""},
      {"soft mask", square(14), ""},
      {"transparent pattern fill (a transparency group)", square(13), ""},
      {"barcode form",
       R"({"kind": "group", "at": [-1200, 1700], "barcode": {"symbology": "EAN-13", "data": "501234567890", "paint": 10}})",
       "IncludePrivateData=1"},
      {"station-number form",
       R"({"kind": "text", "stationNumber": true, "at": [-1200, 2000], "runs": [{"text": "Station 1", "font": "NimbusSans-Bold", "size": 10, "paint": 10}]})",
       "NormalizedOutput=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto j = job(std::string(kHeadline) + "," + c.object);
    // The consumers and the content check see every font the content names.
    const Written w = writeAccepted(*j, testSettings(c.settings), dir / "beside.pdf");
    EXPECT_EQ(listedFonts(w.file).count("NimbusRoman-Italic"), 1u);
    Pdf pdf(w.file);
    QPDFObjectHandle pageFonts = pdf.page(0).getKey("/Resources").getKey("/Font");
    if (!pageFonts.isDictionary()) {
      ADD_FAILURE() << "the page has no fonts";
      continue;
    }
    EXPECT_EQ(at(pageFonts, "/Fnt_0_0/BaseFont").find("NimbusRoman-Italic") != std::string::npos, true)
        << at(pageFonts, "/Fnt_0_0/BaseFont");
    EXPECT_NE(extracted(w.file).find("Café crème été"), std::string::npos) << extracted(w.file);
    EXPECT_NEAR(headlineBlack(w.file), black, 0.01);
  }
}

// Where Ghostscript's bbox device finds ink: x0 y0 x1 y1 in points.
std::vector<double> inkBox(const std::filesystem::path& file) {
  const auto r = tavtest::runProcess({"gs", "-q", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bbox", file.string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  const std::size_t at = r.err.find("%%HiResBoundingBox:");
  if (at == std::string::npos) return {};
  std::istringstream in(r.err.substr(at + 19));
  std::vector<double> box(4);
  for (double& v : box) in >> v;
  return box;
}

// The station-number form's box is what the laid-out text covers: the
// form prints the whole station number, just where the text prints it.
TEST(TextBesideForms, StationNumberFormShowsTheWholeText) {
  tavtest::TestFolder dir;
  const struct Case {
    const char* what;
    const char* text;
  } cases[] = {
      {"centred and tracked",
       R"("align": "centre", "runs": [{"text": "Station 1", "font": "NimbusSans-Bold", "size": 10, "paint": 10, "tracking": 20}])"},
      {"right aligned, two lines",
       R"("align": "right", "runs": [{"text": "Station 12\nof 48", "font": "NimbusRoman-Italic", "size": 14, "paint": 10}])"},
      {"turned upright",
       R"("matrix": [0, -1, 1, 0], "runs": [{"text": "Station 3", "font": "NimbusSans-Regular", "size": 12, "paint": 10}])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = std::string(R"({"kind": "text", "at": [-1000, 1500], )") + c.text + "}";
    std::string numbered = text;
    numbered.insert(1, R"("stationNumber": true, )");
    auto plain = job(text);
    auto station = job(numbered);
    const Written a = writeAccepted(*plain, testSettings("NormalizedOutput=1"), dir / "plain.pdf");
    const Written b = writeAccepted(*station, testSettings("NormalizedOutput=1"), dir / "station.pdf");
    EXPECT_NE(tavtest::readFile(b.file).find("/Sn_0_0 Do"), std::string::npos);
    const std::vector<double> expected = inkBox(a.file), shown = inkBox(b.file);
    ASSERT_EQ(shown.size(), 4u);
    ASSERT_EQ(expected.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) EXPECT_NEAR(shown[k], expected[k], 0.1) << k;
    EXPECT_NE(extracted(b.file).find(c.what[0] == 'r' ? "of 48" : "Station"), std::string::npos);
  }
}

// The station number is line art: its form selects no screen of its own
// where the same paint on the page selects the paint's screen, and still
// prints the number as the plain text does.
TEST(TextBesideForms, StationNumberFormsTakeNoScreenOfTheirOwn) {
  tavtest::TestFolder dir;
  auto load = [](const std::string& objects) {
    std::string page = kPage;
    page.replace(page.find(R"("paints": [)"), 11, R"("paints": [{"id": 15, "type": "flat", "colour": 1, "screen": 3}, )");
    return TavKernel::loadJobFromMemory(page + R"("screens": [{"id": 3, "name": "coarse", "ruling": 65}], "objects": [)" +
                                            objects + "]}",
                                        std::filesystem::temp_directory_path(), "screened.json");
  };
  const std::string number =
      R"({"kind": "text", "at": [-1000, 1500], "runs": [{"text": "Station 7", "font": "NimbusSans-Bold", "size": 12, "paint": 15}]})";
  std::string station = number;
  station.insert(1, R"("stationNumber": true, )");
  const std::string headline =
      R"({"kind": "text", "at": [-1500, 150], "runs": [{"text": "Caf\u00e9", "font": "NimbusRoman-Italic", "size": 16, "paint": 15}]})";
  for (const char* settings : {"UseDefaultScreen=0", "UseDefaultScreen=1"}) {
    SCOPED_TRACE(settings);
    const std::string common = std::string("NormalizedOutput=1 IncludeScreening=1 ") + settings;
    auto plainJob = load(headline + "," + number);
    auto stationJob = load(headline + "," + station);
    const Written plain = writeAccepted(*plainJob, testSettings(common), dir / "plain.pdf");
    const Written numbered = writeAccepted(*stationJob, testSettings(common), dir / "station.pdf");
    Pdf pdf(numbered.file);
    EXPECT_NE(pageContent(pdf.page(0)).find("/Scr_0_3 gs"), std::string::npos) << "the page's own text is screened";
    QPDFObjectHandle form = pdf.page(0).getKey("/Resources").getKey("/XObject").getKey("/Sn_0_0");
    ASSERT_TRUE(form.isStream());
    const std::string content = tavtest::streamData(form);
    EXPECT_EQ(content.find("_3 gs"), std::string::npos) << content;
    QPDFObjectHandle states = form.getDict().getKey("/Resources").getKey("/ExtGState");
    for (const std::string& name : states.isDictionary() ? states.getKeys() : std::set<std::string>{}) {
      EXPECT_EQ(name.find("_3"), std::string::npos) << name;
    }
    const auto a = tavtest::measurePlates(plain.file, 1, 144), b = tavtest::measurePlates(numbered.file, 1, 144);
    EXPECT_GT(b.coverage.at("Black"), 0.001);
    EXPECT_NEAR(b.coverage.at("Black"), a.coverage.at("Black"), 1e-4);
  }
}

// Every name of the Font, XObject, Pattern and Shading dictionaries of the
// file stands for one object, and ExtGState names bound to several objects
// bind equal ones.
std::vector<std::string> namesWithSeveralMeanings(const std::filesystem::path& file) {
  Pdf pdf(file);
  std::map<std::string, std::set<QPDFObjGen>> bound;
  std::map<std::string, std::set<std::string>> states;
  for (QPDFObjectHandle object : pdf.qpdf().getAllObjects()) {
    QPDFObjectHandle dict = object.isStream() ? object.getDict() : object;
    if (!dict.isDictionary() || !dict.getKey("/Resources").isDictionary()) continue;
    QPDFObjectHandle resources = dict.getKey("/Resources");
    for (const char* kind : {"/Font", "/XObject", "/Pattern", "/Shading", "/ExtGState"}) {
      QPDFObjectHandle names = resources.getKey(kind);
      if (!names.isDictionary()) continue;
      for (const std::string& name : names.getKeys()) {
        QPDFObjectHandle value = names.getKey(name);
        if (!value.isIndirect()) continue;
        if (std::string(kind) == "/ExtGState") {
          states[name].insert(value.unparseResolved());
        } else {
          bound[std::string(kind) + name].insert(value.getObjGen());
        }
      }
    }
  }
  std::vector<std::string> several;
  for (const auto& [name, objects] : bound)
    if (objects.size() > 1) several.push_back(name + " x" + std::to_string(objects.size()));
  for (const auto& [name, contents] : states)
    if (contents.size() > 1) several.push_back("/ExtGState" + name + " x" + std::to_string(contents.size()));
  return several;
}

// A tiling pattern whose cell holds a placed CMYK picture, beside a text.
std::unique_ptr<jobstr> pictureInCell(const tavtest::TestFolder& dir) {
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 12;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  tavtest::writeTiff(dir / "cell.tif", cmyk);
  return TavKernel::loadJobFromMemory(
      R"({"format": "tavpdf-job", "version": 1, "name": "picture in a cell", "ppi": 720,
        "origin": [0, 0], "boxes": {"media": [-2000, 0, 0, 3000]},
        "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
                 {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"}],
        "colours": [{"id": 1, "inks": {"Black": 100}}],
        "pictures": [{"id": 1, "file": "cell.tif"}],
        "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 12, "type": "pattern", "pattern": 1},
          {"id": 20, "type": "picture", "picture": 1,
           "place": {"origin": [0, 0], "widthCorner": [0, 150], "heightCorner": [150, 0]}}],
        "patterns": [{"id": 1, "cell": [0, 0, 200, 200], "objects": [
          {"kind": "path", "paint": 20, "points": [[0, 0], [0, 150], [150, 150], [150, 0]]}]}],
        "objects": [)" + std::string(kHeadline) + "," + square(12) + "]}",
      dir.path(), "cell.json");
}

// Per font of the file (its BaseFont, without a subset's tag): how many Font
// dictionaries, font descriptors, font programs and ToUnicode maps name it.
struct FontObjects {
  int dictionaries = 0, descriptors = 0, programs = 0, maps = 0;
  bool operator==(const FontObjects&) const = default;
};
void PrintTo(const FontObjects& f, std::ostream* out) {
  *out << f.dictionaries << " dictionaries, " << f.descriptors << " descriptors, " << f.programs << " programs, "
       << f.maps << " maps";
}
std::map<std::string, FontObjects> fontObjects(const std::filesystem::path& file) {
  Pdf pdf(file);
  std::map<std::string, FontObjects> out;
  std::map<std::string, std::set<QPDFObjGen>> programs, maps;
  auto base = [](const std::string& name) { return name.size() > 8 && name[7] == '+' ? "/" + name.substr(8) : name; };
  for (QPDFObjectHandle object : pdf.qpdf().getAllObjects()) {
    if (!object.isDictionary()) continue;
    const std::string type = at(object, "/Type");
    if (type == "/Font") {
      const std::string font = base(at(object, "/BaseFont"));
      ++out[font].dictionaries;
      maps[font].insert(object.getKey("/ToUnicode").getObjGen());
    } else if (type == "/FontDescriptor") {
      const std::string font = base(at(object, "/FontName"));
      ++out[font].descriptors;
      if (object.getKey("/FontFile").isStream()) programs[font].insert(object.getKey("/FontFile").getObjGen());
    }
  }
  for (auto& [font, objects] : out) {
    objects.programs = int(programs[font].size());
    objects.maps = int(maps[font].size());
  }
  return out;
}

// A font is embedded once per file: its program, descriptor and ToUnicode map
// serve the page and every form that shows it, and every plate of separated
// output; each resource name has one Font dictionary.
TEST(TextBesideForms, AFontIsEmbeddedOncePerFile) {
  tavtest::TestFolder dir;
  // The page sets "P" in the font of the pattern cell's text too; the
  // transparent pattern fill is a group holding the pattern.
  const std::string mono =
      R"({"kind": "text", "at": [-1200, 150], "runs": [{"text": "Pp", "font": "NimbusMonoPS-Bold", "size": 12, "paint": 10}]})";
  auto j = job(std::string(kHeadline) + "," + mono + "," + square(12) + "," + square(13));
  struct Case {
    const char* what;
    const char* settings;
    int monoDictionaries;  // the page's, the pattern's (in and beside the group)
  };
  for (const Case& c : {Case{"composite", "", 3}, Case{"separated", "SeparatedOutput=1", 3}}) {
    SCOPED_TRACE(c.what);
    const Written w = writeAccepted(*j, testSettings(c.settings), dir / "fonts.pdf");
    const auto found = fontObjects(w.file);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found.at("/NimbusRoman-Italic"), (FontObjects{1, 1, 1, 1}));
    EXPECT_EQ(found.at("/NimbusMonoPS-Bold"), (FontObjects{c.monoDictionaries, 1, 1, 1}));
    EXPECT_NE(extracted(w.file).find("Café crème été"), std::string::npos);
    EXPECT_NE(extracted(w.file).find("Pp"), std::string::npos);
  }
}

TEST(TextBesideForms, ResourceNamesMeanOneThingInTheFile) {
  tavtest::TestFolder dir;
  struct Case {
    const char* what;
    std::unique_ptr<jobstr> job;
    const char* settings;
  };
  Case cases[] = {
      {"the barcode example as barcode forms",
       TavKernel::loadJobFile(tavtest::sourceDir() / "examples" / "barcodes.json"),
       "NormalizedOutput=1 IncludePrivateData=1"},
      {"texts in a pattern, a group and beside them",
       job(std::string(kHeadline) + "," + square(12) + "," + square(13) + "," + square(14)), ""},
      // The cell's picture is the pattern's own image, written from the
      // pattern's queue (never at once into the page's contents).
      {"a placed picture in a pattern cell", pictureInCell(dir), ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Written w = writeAccepted(*c.job, testSettings(c.settings), dir / "names.pdf");
    EXPECT_EQ(namesWithSeveralMeanings(w.file), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace doctest

namespace doctest {
namespace {

// Texts in colours of several inks: a spot and a process ink (two parts
// under dot gain), nine spot inks (two DeviceN parts below PDF 1.5), and
// the first again half transparent. 300 x 200 points at 720 ppi.
std::unique_ptr<jobstr> partsJob(const std::string& runs) {
  std::string inks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
                         {"name": "PANTONE 185 C", "cmyk": [0, 91, 76, 0]})";
  std::string nine;
  for (int k = 1; k <= 9; ++k) {
    inks += R"(, {"name": "Spot )" + std::to_string(k) + R"(", "cmyk": [)" + std::to_string(k * 10) + ", 0, " +
            std::to_string(100 - k * 10) + ", 0]}";
    nine += std::string(k > 1 ? ", " : "") + R"("Spot )" + std::to_string(k) + R"(": )" + std::to_string(20 + k * 5);
  }
  return TavKernel::loadJobFromMemory(
      R"({"format": "tavpdf-job", "version": 1, "name": "parts", "ppi": 720, "origin": [0, 0],
        "boxes": {"media": [-2000, 0, 0, 3000]}, "inks": )" + inks + R"(],
        "colours": [{"id": 1, "inks": {"Cyan": 60, "PANTONE 185 C": 100}}, {"id": 2, "inks": {"Black": 100}},
                    {"id": 3, "inks": {)" + nine + R"(}}],
        "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
                   {"id": 12, "type": "flat", "colour": 1, "opacity": 50}, {"id": 13, "type": "flat", "colour": 3}],
        "objects": [{"kind": "path", "paint": 11, "points": [[-1300, 100], [-1300, 2900], [-1200, 2900], [-1200, 100]]},
                    {"kind": "text", "at": [-1200, 150], "runs": [)" + runs + "]}]}",
      std::filesystem::temp_directory_path(), "parts.json");
}

std::string partsRun(int paint, const char* text, const char* font = "NimbusSans-Bold", const char* more = "") {
  return R"({"text": ")" + std::string(text) + R"(", "font": ")" + font + R"(", "size": 30, "paint": )" +
         std::to_string(paint) + more + "}";
}

// A text whose colour one colour operator cannot set stays text: its fonts
// embedded, its characters found by pdftotext, its plates those of the same
// text written with one operator (no dot gain, or PDF 1.5's larger DeviceN).
TEST(TextOfSeveralColourParts, StaysTextInAGroupOfItsOwn) {
  tavtest::TestFolder dir;
  const std::string twoRuns = partsRun(10, "Honig \\u00e9t\\u00e9 ") + ", " +
                              partsRun(11, "500 g", "NimbusRoman-Regular", R"(, "underline": true)");
  const struct Case {
    const char* what;
    std::string runs;
    const char* settings;    // the text needs several colour operators
    const char* reference;   // the same text with one operator
    const char* extracted;
  } cases[] = {
      {"spot and process ink under dot gain", twoRuns, "EnableDotgain=1", "", "Honig été 500 g"},
      {"half transparent", partsRun(12, "Transparent"), "EnableDotgain=1", "", "Transparent"},
      {"nine spot inks in PDF 1.4", partsRun(13, "Nine inks") + ", " + partsRun(11, " black"), "",
       "PDFCompatibility=2", "Nine inks black"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = partsJob(c.runs);
    const Written one = writeAccepted(*job, testSettings(c.reference), dir / "one.pdf");
    const Written parts = writeAccepted(*job, testSettings(c.settings), dir / "parts.pdf");
    Pdf pdf(parts.file);
    const std::string page = pageContent(pdf.page(0));
    EXPECT_NE(page.find("/Group_0_0 Do"), std::string::npos) << page;
    EXPECT_EQ(page.find(" Tj"), std::string::npos) << "the text is shown in its group only";
    EXPECT_EQ(listedFonts(parts.file), listedFonts(one.file));
    EXPECT_FALSE(listedFonts(parts.file).empty());
    EXPECT_EQ(extracted(parts.file), c.extracted);
    const auto expected = tavtest::measurePlates(one.file, 1, 144), shown = tavtest::measurePlates(parts.file, 1, 144);
    EXPECT_EQ(shown.coverage.size(), expected.coverage.size());
    for (const auto& [ink, coverage] : expected.coverage) {
      EXPECT_NEAR(shown.coverage.at(ink), coverage, 0.0005) << ink << ": " << shown.summary() << " / " << expected.summary();
    }
  }
  // PDF 1.3 has no transparency groups: the text is drawn as its outlines.
  auto job = partsJob(twoRuns);
  const Written outlines = writeAccepted(*job, testSettings("EnableDotgain=1 PDFCompatibility=1"), dir / "pdf13.pdf");
  EXPECT_TRUE(listedFonts(outlines.file).empty());
  EXPECT_EQ(pageContent(Pdf(outlines.file).page(0)).find("BT"), std::string::npos);
}

}  // namespace
}  // namespace doctest

namespace doctest {
namespace {

// A one-up of 60 x 60 points: black text over a spot square.
const char* kPanel = R"({"format": "tavpdf-job", "version": 1, "name": "panel", "ppi": 720, "origin": [0, 0],
  "boxes": {"media": [-600, 0, 0, 600]},
  "inks": [{"name": "Black", "process": "black"}, {"name": "Orange", "cmyk": [0, 60, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Orange": 80}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2}],
  "objects": [{"kind": "path", "paint": 11, "points": [[-550, 50], [-550, 550], [-50, 550], [-50, 50]]},
              {"kind": "text", "at": [-300, 100], "runs": [{"text": "Panel", "font": "NimbusSans-Bold", "size": 14, "paint": 10}]}]})";

// A page of 600 x 400 points holding a 6 x 4 grid of cells, each with one
// object of a kind drawn by the generator: texts in several fonts and inks,
// pattern fills (a text in the cell), soft-masked squares, barcodes (forms
// with IncludePrivateData) and placements of the panel one-up.
struct GeneratedPage {
  std::string json;
  std::vector<std::string> words;  // every word the page's texts set
};

GeneratedPage generatePage(unsigned seed) {
  std::mt19937 random(seed);
  auto pick = [&](int n) { return int(random() % unsigned(n)); };
  const char* fonts[] = {"NimbusSans-Regular", "NimbusRoman-Italic", "Helvetica", "URWGothic-Book", "C059-Roman"};
  const char* texts[] = {"Honig", "cr\\u00e8me", "\\u00e9t\\u00e9", "Lot 42", "Preis", "K\\u00e4se", "Bio", "500 g"};
  const char* words[] = {"Honig", "crème", "été", "Lot 42", "Preis", "Käse", "Bio", "500 g"};
  GeneratedPage page;
  std::string objects;
  auto add = [&](const std::string& object) { objects += (objects.empty() ? "" : ", ") + object; };
  auto square = [](int v, int h, int paint) {
    return R"({"kind": "path", "paint": )" + std::to_string(paint) + R"(, "points": [[)" + std::to_string(v) + ", " +
           std::to_string(h) + "], [" + std::to_string(v) + ", " + std::to_string(h + 800) + "], [" +
           std::to_string(v + 800) + ", " + std::to_string(h + 800) + "], [" + std::to_string(v + 800) + ", " +
           std::to_string(h) + "]]}";
  };
  int barcodes = 0;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 6; ++column) {
      const int v = -4000 + row * 1000 + 100, h = column * 1000 + 100;
      const int kind = pick(6);
      if (kind <= 1) {
        const int t = pick(8);
        add(R"({"kind": "text", "at": [)" + std::to_string(v + 500) + ", " + std::to_string(h) +
            R"(], "runs": [{"text": ")" + texts[t] + R"(", "font": ")" + fonts[pick(5)] +
            R"(", "size": 16, "paint": )" + std::to_string(10 + pick(3)) + "}]}");
        page.words.push_back(words[t]);
      } else if (kind == 2) {
        add(square(v, h, 13));
      } else if (kind == 3) {
        add(square(v, h, 14));
      } else if (kind == 4 && barcodes < 2) {
        ++barcodes;
        add(R"({"kind": "group", "at": [)" + std::to_string(v + 600) + ", " + std::to_string(h + 100) +
            R"(], "barcode": {"symbology": "EAN-13", "data": "501234567890", "paint": 10, "magnification": 0.5}})");
      } else {
        add(R"({"kind": "path", "paint": 15, "points": [[)" + std::to_string(v) + ", " + std::to_string(h) + "], [" +
            std::to_string(v) + ", " + std::to_string(h + 600) + "], [" + std::to_string(v + 600) + ", " +
            std::to_string(h + 600) + "], [" + std::to_string(v + 600) + ", " + std::to_string(h) + "]]}");
        // Each placement of the one-up is its own paint, placed on its cell.
        objects.replace(objects.rfind(R"("paint": 15)"), 11, R"("paint": )" + std::to_string(100 + row * 6 + column));
      }
    }
  }
  std::string placements;
  for (int cell = 0; cell < 24; ++cell) {
    const int v = -4000 + (cell / 6) * 1000 + 100, h = (cell % 6) * 1000 + 100;
    placements += R"(, {"id": )" + std::to_string(100 + cell) + R"(, "type": "picture", "picture": 1, "place": {"origin": [)" +
                  std::to_string(v) + ", " + std::to_string(h) + R"(], "widthCorner": [)" + std::to_string(v) + ", " +
                  std::to_string(h + 600) + R"(], "heightCorner": [)" + std::to_string(v + 600) + ", " + std::to_string(h) + "]}}";
  }
  page.json = R"({"format": "tavpdf-job", "version": 1, "name": "generated", "ppi": 720, "origin": [0, 0],
    "boxes": {"media": [-4000, 0, 0, 6000]},
    "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
             {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
             {"name": "Orange", "cmyk": [0, 60, 100, 0]}],
    "colours": [{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Cyan": 70, "Magenta": 20}},
                {"id": 3, "inks": {"Orange": 100}}, {"id": 4, "inks": {"Yellow": 60, "Orange": 40}}],
    "pictures": [{"id": 1, "file": "panel.json"}],
    "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
               {"id": 12, "type": "flat", "colour": 3}, {"id": 13, "type": "pattern", "pattern": 1},
               {"id": 14, "type": "flat", "colour": 4, "softMask": 2}, {"id": 16, "type": "flat", "colour": 1})" +
              placements + R"(],
    "patterns": [{"id": 1, "cell": [0, 0, 300, 300], "objects": [
                   {"kind": "path", "paint": 11, "points": [[0, 0], [0, 150], [150, 150], [150, 0]]},
                   {"kind": "text", "at": [280, 160], "runs": [{"text": "pq", "font": "NimbusMonoPS-Bold", "size": 9, "paint": 12}]}]},
                 {"id": 2, "kind": "softMask", "objects": [
                   {"kind": "path", "paint": 16, "points": [[-4000, 0], [-4000, 3000], [0, 3000], [0, 0]]}]}],
    "objects": [)" + objects + "]}";
  return page;
}

// Generated pages combining texts with the forms a page writer writes: the
// separated pages print what the composite page's plates hold, and every
// text of the page is found by pdftotext.
TEST(TextBesideForms, GeneratedPagesSeparateAsTheirCompositeAndKeepTheirTexts) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "panel.json", kPanel);
  for (unsigned seed : {7u, 2026u, 31337u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const GeneratedPage page = generatePage(seed);
    auto job = TavKernel::loadJobFromMemory(page.json, dir.path(), "generated.json");
    const Written composite = writeAccepted(*job, testSettings("IncludePrivateData=1"), dir / "composite.pdf");
    const Written separated =
        writeAccepted(*job, testSettings("IncludePrivateData=1 SeparatedOutput=1"), dir / "separated.pdf");
    const std::string text = extracted(composite.file);
    for (const std::string& word : page.words) EXPECT_NE(text.find(word), std::string::npos) << word << " in " << text;
    const auto plates = tavtest::measurePlates(composite.file, 1, 72);
    for (const auto& [ink, plate] : plates.plates) {
      if (plate.coverage() == 0) continue;
      const tavtest::Plate own =
          tavtest::measurePlates(separated.file, tavtest::separationPage(separated.file, ink), 72).plate("Black");
      ASSERT_EQ(own.samples.size(), plate.samples.size()) << ink;
      double difference = 0;
      for (std::size_t i = 0; i < own.samples.size(); ++i)
        difference += std::abs(int(own.samples[i]) - int(plate.samples[i])) / 255.0;
      EXPECT_LT(difference / double(own.samples.size()), 0.01) << ink << ": composite " << plate.coverage()
                                                               << ", separated " << own.coverage();
    }
  }
}

}  // namespace
}  // namespace doctest

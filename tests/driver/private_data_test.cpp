// The workflow's private data in exported files, read back through qpdf, and
// barcodes that scanners read from a rendering of the exported page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>


#include "driver_support.h"
#include "pdfwriter/privatedata.h"
#include "support/consumers.h"
#include "support/pdfread.h"

namespace drivertest {
namespace {

using tavtest::at;
using tavtest::numbers;

const char* kInks =
    R"([{"name":"Cyan","process":"cyan"},{"name":"Black","process":"black"},)"
    R"({"name":"PANTONE 185 C","cmyk":[0,91,76,0]},{"name":"PANTONE 185 U","cmyk":[0,80,60,0]},)"
    R"({"name":"Gloss","cmyk":[10,0,10,0],"varnish":true},{"name":"Die","cmyk":[0,100,0,0],"technical":true},)"
    R"({"name":"White","cmyk":[0,0,0,0],"opaque":true}])";

// Squares in every ink but the die, a trimmable and a bleeding region, and a
// staggered cutting group holding an unstroked triangle and a quarter circle
// in the die ink.
std::string privateJob() {
  std::string colours = "[", paints = "[", objects = "[";
  const char* names[] = {"Cyan", "Black", "PANTONE 185 C", "PANTONE 185 U", "Gloss", "White", "Die"};
  for (int i = 0; i < 7; ++i) {
    const std::string sep = i ? "," : "";
    colours += sep + R"({"id":)" + std::to_string(i + 1) + R"(,"inks":{")" + names[i] + R"(":100}})";
    paints += sep + R"({"id":)" + std::to_string(30 + i) + R"(,"type":"flat","colour":)" +
              std::to_string(i + 1) + "}";
    if (i < 6) objects += sep + square(720 + i * 700, 720, 600, 30 + i);
  }
  objects += "," + square(1000, 4000, 500, 30, R"(,"boxCreator":10)") + "," +
             square(2000, 4000, 500, 30, R"(,"boxCreator":11)") +
             R"(,{"kind":"group","staggeredCut":{"allInks":true},"objects":[)"
             R"({"kind":"path","paint":36,"points":[[5000,1000],[5000,2000],[6000,1000]]},)"
             R"({"kind":"path","paint":36,"points":[[5500,3000],[5500,3276,5276,3500,5000,3500]]}]})";
  return jobText(kInks, colours + "]", paints + "]", objects + "]",
                 R"(,"parameters":{"Customer":"Smith & <Sons> \"Ltd\"","Order":"4711"},)"
                 R"("trimAndBleedInfo":{"trimLeft":720,"trimBottom":6480,"trimRight":6480,"trimTop":720,"bleed":72},)"
                 R"x("solvaraSettings":"ECG 7C (v2)")x");
}

}  // namespace

TEST(PrivateData, NormalizedFilesCarryTheWorkflowsData) {
  tavtest::TestFolder dir;
  auto job = loadJob(privateJob());
  const auto pdf = dir / "private.pdf";
  const ExportRun run = exportAccepted(job.get(), flavour("Normalized"), pdf);
  tavtest::Pdf file(pdf);
  QPDFObjectHandle catalog = file.root();

  // PieceInfo: the inks with their types, the job's parameters as XML.
  EXPECT_TRUE(catalog.getKey("/PieceInfo").getKey("/LastModified").isString());
  EXPECT_EQ(at(catalog, "/PieceInfo/Vornhold_StepAndRepeat"), "false");
  const std::string inks = "/PieceInfo/inPDF/Inks";
  EXPECT_EQ(at(catalog, inks + "/0"), "/DeviceN");
  EXPECT_EQ(catalog.getKey("/PieceInfo").getKey("/inPDF").getKey("/Inks").getArrayItem(1).getArrayNItems(), 7);
  std::string types;
  for (const char* ink : {"Cyan", "Black", "PANTONE 185 C", "PANTONE 185 U", "Gloss", "Die", "White"})
    types += at(catalog, inks + "/4/inpd:InkTypes/" + ink) + " ";
  EXPECT_EQ(types, "/Standard /Standard /Standard /Standard /Varnish /Technical /Opaque ");
  QPDFObjectHandle link = catalog.getKey("/PieceInfo").getKey("/TavLinkInfo");
  ASSERT_TRUE(link.isStream());
  EXPECT_EQ(at(link, "/Subtype"), "/XML");
  tavtest::writeFile(dir / "link.xml", tavtest::streamData(link));
  const tavtest::ProcessResult customer = tavtest::runProcess(
      {"xmllint", "--xpath", "string(/TavLink/Parameter[@Name='Customer']/@Value)", (dir / "link.xml").string()});
  EXPECT_EQ(customer.exitCode, 0) << customer.describe();
  EXPECT_EQ(customer.out, "Smith & <Sons> \"Ltd\"\n");

  // VornPNDS: process, pantone and designer inks; the cutting program.
  std::string listed;
  for (int i = 0; at(catalog, "/VornPNDS/IDB/" + std::to_string(i)) != "null"; ++i) {
    const std::string item = "/VornPNDS/IDB/" + std::to_string(i);
    listed += at(catalog, item + "/GROUP") + " " + at(catalog, item + "/NAME") + ", ";
  }
  EXPECT_EQ(listed, "process Cyan, process Black, pantone 185, designer PANTONE 185 U, designer Gloss, "
                    "designer Die, designer White, ");
  EXPECT_EQ(std::stod(at(catalog, "/VornPNDS/IDB/2/CMYK/1")), 0.91);
  EXPECT_EQ(at(catalog, "/VornPNDS/RDB/Solvara/Settings"), "ECG 7C (v2)");
  std::vector<std::string> lines;
  for (int i = 0; at(catalog, "/VornPNDS/RDB/SCP/All/" + std::to_string(i)) != "null"; ++i)
    lines.push_back(at(catalog, "/VornPNDS/RDB/SCP/All/" + std::to_string(i)));
  // Points from the trim box's left and bottom edges (720, 6480) in 1/100 mm
  // at 720 ppi: h 1000 lies 280 units = 987.8 hundredths right of the edge.
  EXPECT_THAT(lines, ::testing::ElementsAre("%%C Created by staggered cutting module Tavric 18.1",
                                            "%INCM0.01", "X988Y5221D2", "X4516Y5221D1",
                                            "X988Y1693D1",
                                            // the curve: start, both control points, end
                                            "X8043Y3457D2", "X9017Y3457D1", "X9807Y4247D1",
                                            "X9807Y5221D1", "M0"));

  // The page's trim and bleed, centred on the trim box, in points: the
  // trimmable square lies at h 4000..4500, v 1000..1500, the centre at 3600.
  const std::string trimBleed = "/QELInfo/TrimBleed";
  QPDFObjectHandle page = file.page(0);
  EXPECT_EQ(std::stod(at(page, trimBleed + "/Bleed")), 7.2);
  EXPECT_EQ(std::stod(at(page, trimBleed + "/Trim/0")), 72);
  EXPECT_EQ(at(page, trimBleed + "/Regions/0/Type") + at(page, trimBleed + "/Regions/1/Type") +
                at(page, trimBleed + "/Regions/2"),
            "/Trimmable/Bleedingnull");
  EXPECT_EQ(std::stod(at(page, trimBleed + "/Regions/0/Location/0")), 40);
  EXPECT_EQ(std::stod(at(page, trimBleed + "/Regions/0/Location/1")), 210);
  EXPECT_FALSE(run.has("PDF/NOT WRITTEN YET") &&
               run.message("PDF/NOT WRITTEN YET").text.find("PieceInfo") != std::string::npos);
}

TEST(PrivateData, PressFilesCarryPieceInfoAndStationNumbersButNoColorantList) {
  tavtest::TestFolder dir;
  // The station number: centred on (6000, 3600), 18 points, tracking 50, in
  // 40 % Cyan over 100 % PANTONE 185 C.
  std::string text = privateJob();
  const std::string station =
      R"({"kind":"text","at":[6000,3600],"stationNumber":true,"align":"centre","matrix":[0,1,-1,0],)"
      R"("runs":[{"text":"12","font":"NimbusSans-Bold","size":18,"paint":40,"tracking":50}]})";
  text.replace(text.find(R"("objects":[)") + 11, 0, station + ",");
  text.replace(text.find(R"("paints":[)") + 10, 0, R"({"id":40,"type":"flat","colour":9},)");
  text.replace(text.find(R"("colours":[)") + 11, 0, R"({"id":9,"inks":{"Cyan":40,"PANTONE 185 C":100},"others":255},)");
  auto job = loadJob(text);
  const auto pdf = dir / "press.pdf";
  exportAccepted(job.get(), flavour("Press"), pdf);
  tavtest::Pdf file(pdf);
  EXPECT_TRUE(file.root().getKey("/PieceInfo").isDictionary());
  EXPECT_FALSE(file.root().hasKey("/VornPNDS"));
  QPDFObjectHandle info = file.page(0).getKey("/QELInfo").getKey("/StationNumber");
  const std::vector<double> transformation = numbers(info.getKey("/Transformation"));
  // Turned a quarter (the baseline runs down the page): the first letter lies
  // on the centre line of the trim box (h 3600), 2400 units (240 points)
  // below its centre less half the text's width (about 20 points).
  ASSERT_EQ(transformation.size(), 6u);
  EXPECT_EQ(std::vector<double>(transformation.begin(), transformation.begin() + 4),
            (std::vector<double>{0, -1, 1, 0}));
  EXPECT_NEAR(transformation[4], 0, 1e-9);
  EXPECT_GT(transformation[5], -240);
  EXPECT_LT(transformation[5], -220);
  EXPECT_EQ(at(info, "/Text/Font") + " " + at(info, "/Text/Size") + " " + at(info, "/Text/Spacing") + " " +
                at(info, "/Text/AlignH"),
            "NimbusSans-Bold 18 5 /Center");
  EXPECT_EQ(at(info, "/Color/DeviceN/1") + " " + at(info, "/Color/DeviceN/2"), "PANTONE 185 C null");
  EXPECT_EQ(std::stod(at(info, "/Color/C/0")), 0.4);
}

// One colour of twelve inks: the PieceInfo lists them all in one array,
// while the colour spaces painted in keep to the version's limit.
TEST(PrivateData, InkListHoldsEveryInkWhilePaintedColourSpacesKeepTheirLimit) {
  std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                     R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"})";
  std::string shares = R"({"Cyan":50,"Magenta":50,"Yellow":50,"Black":50)";
  for (int i = 0; i < 8; ++i) {
    const std::string name = "Spot " + std::to_string(i);
    inks += R"(,{"name":")" + name + R"(","cmyk":[)" + std::to_string(i * 10) + ",0,50,0]}";
    shares += ",\"" + name + "\":50";
  }
  const std::string job = colouredSquares(inks + "]", {shares + "}"});
  struct Case {
    const char* settings;
    const char* version;
    std::size_t limit;
  };
  for (const Case c : {Case{"Custom", "%PDF-1.4", 8}, Case{"Press", "%PDF-1.5", 27}}) {
    SCOPED_TRACE(c.settings);
    tavtest::TestFolder dir;
    auto loaded = loadJob(job);
    exportAccepted(loaded.get(), flavour(c.settings), dir / "inks.pdf");
    EXPECT_EQ(tavtest::readFile(dir / "inks.pdf").substr(0, 8), c.version);
    tavtest::Pdf file(dir / "inks.pdf");
    EXPECT_EQ(file.root().getKey("/PieceInfo").getKey("/inPDF").getKey("/Inks").getArrayItem(1).getArrayNItems(), 12);
    std::size_t largest = 0, painted = 0;
    for (auto& [name, space] : file.page(0).getKey("/Resources").getKey("/ColorSpace").ditems()) {
      if (!space.isArray() || at(space, "/0") != "/DeviceN") continue;
      largest = std::max<std::size_t>(largest, std::size_t(space.getArrayItem(1).getArrayNItems()));
      painted += std::size_t(space.getArrayItem(1).getArrayNItems());
    }
    EXPECT_LE(largest, c.limit);
    EXPECT_GE(painted, 12u);  // every ink is painted in some colour space
  }
}

TEST(PrivateData, StepAndRepeatIsARepeatedPlacementThatNeverOverlaps) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.pdf", "%PDF-1.4\n");
  // Placements of picture 1 by paint 30 (screen 1) and 31 (screen 2).
  auto placed = [](int paint, int v, int h) { return square(v, h, 1000, paint); };
  const struct {
    std::string objects;
    bool screening;
    bool repeat;
  } cases[] = {
      {placed(30, 720, 720), false, false},
      {placed(30, 720, 720) + "," + placed(30, 720, 2000), false, true},
      {placed(30, 720, 720) + "," + placed(30, 720, 1500), false, false},  // overlapping
      {placed(30, 720, 720) + "," + placed(31, 720, 2000), true, false},   // another screen
      {placed(30, 720, 720) + "," + placed(31, 720, 2000), false, true},
  };
  for (const auto& c : cases) {
    const std::string text = jobText(
        R"([{"name":"Black","process":"black"}])", "[]",
        R"([{"id":30,"type":"picture","picture":1,"screen":1,"place":{"origin":[0,0],"widthCorner":[0,100],"heightCorner":[100,0]}},)"
        R"({"id":31,"type":"picture","picture":1,"screen":2,"place":{"origin":[0,0],"widthCorner":[0,100],"heightCorner":[100,0]}}])",
        "[" + c.objects + "]",
        R"(,"pictures":[{"id":1,"file":"art.pdf","width":100,"height":100}],)"
        R"("screens":[{"id":1,"ruling":150},{"id":2,"ruling":120}])");
    auto job = loadJob(text, dir.path());
    TavPDF::VisitorFindStepAndRepeat visitor(job.get(), c.screening);
    TavDB::AcceptVisitor(jobGetSpahan(job.get()), visitor);
    EXPECT_EQ(visitor.IsStepAndRepeat(), c.repeat) << c.objects << " screening " << c.screening;
  }
}

// Every symbology a scanner here reads, drawn by the creator, exported and
// rendered at 600 dpi: the scanner reads the job's data. With private data an
// unedited barcode is a barcode form holding its parameters, turned into place
// on the page (placed the wrong way round, these would leave the page).
TEST(PrivateData, DrawnBarcodesScan) {
  const struct {
    const char* symbology;
    const char* data;
    const char* extra;
    const char* scanner;
    const char* read;  // what the scanner reports
    const char* at = "[72,72]";
    int formAngle = -1;  // a barcode form turned by this many degrees; -1: graphics
  } cases[] = {
      {"EAN-13", "501234567890", "", "zbarimg", "5012345678900"},
      {"UPC-A", "03600029145", "", "zbarimg", "0036000291452"},
      {"CODE-128", "Tavric 128", R"(,"magnification":0.33)", "zbarimg", "Tavric 128"},
      {"GS1_128", "(01)09501101530003(10)AB12", R"(,"magnification":0.33)", "zbarimg", "010950110153000310AB12"},
      {"QR", "https://example.invalid/qr?x=1", R"(,"moduleSize":25,"errorCorrection":1)", "zbarimg",
       "https://example.invalid/qr?x=1"},
      {"DATAMATRIX", "Data Matrix 42", R"(,"moduleSize":40)", "dmtxread", "Data Matrix 42"},
      {"GS1_DataMatrix", "(01)09501101530003(17)251231", R"(,"moduleSize":40)", "dmtxread",
       "010950110153000317251231"},
      {"EAN-13", "501234567890", R"(,"angle":180)", "zbarimg", "5012345678900", "[1000,2800]", 180},
      {"QR", "https://example.invalid/qr?x=1", R"(,"moduleSize":25,"errorCorrection":1,"angle":90)", "zbarimg",
       "https://example.invalid/qr?x=1", "[72,1000]", 90},
  };
  tavtest::TestFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbology);
    const std::string barcode = std::string(R"({"kind":"group","at":)") + c.at + R"(,"barcode":{"symbology":")" +
                                c.symbology + R"(","data":")" + c.data +
                                R"(","paint":30,"quietZone":true)" + c.extra + "}}";
    // A page of 4 x 1.5 inches keeps the rendering small.
    auto job = loadJob(R"({"ppi":720,"origin":[1080,0],"boxes":{"media":[0,0,1080,2880]},)"
                       R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
                       R"("paints":[{"id":30,"type":"flat","colour":1}],"objects":[)" + barcode + "]}");
    const bool form = c.formAngle >= 0;
    const auto pdf = dir / (std::string(c.symbology) + (form ? "-form" : "") + ".pdf");
    ASSERT_EQ(exportAccepted(job.get(), flavour("Press", form ? "IncludePrivateData=True" : ""), pdf).result, 0);
    if (form) {
      const std::string options = "/Resources/XObject/Barcode_0_0/PieceInfo/VornPNKelt/Private/annot/bar code";
      tavtest::Pdf file(pdf);
      QPDFObjectHandle page = file.page(0);
      EXPECT_EQ(at(page, options + "/name") + " " + at(page, options + "/options/Type"),
                std::string("Barcode ") + c.symbology);
      EXPECT_NEAR(std::stod(at(page, options + "/options/Angle")), c.formAngle, 1e-3);
    }
    const auto png = dir / (std::string(c.symbology) + ".png");
    const tavtest::ProcessResult gs = tavtest::runProcess(
        {"gs", "-q", "-dBATCH", "-dNOPAUSE", "-dSAFER", "-sDEVICE=pnggray", "-r600",
         "-sOutputFile=" + png.string(), pdf.string()});
    ASSERT_EQ(gs.exitCode, 0) << gs.describe();
    const tavtest::ProcessResult scan = std::string(c.scanner) == "zbarimg"
                                            ? tavtest::runProcess({"zbarimg", "-q", "--raw", png.string()})
                                            : tavtest::runProcess({"dmtxread", png.string()});
    ASSERT_TRUE(scan.started) << scan.describe();
    std::string read = scan.out;
    while (!read.empty() && (read.back() == '\n' || read.back() == '\r')) read.pop_back();
    EXPECT_EQ(read, c.read) << scan.describe();
  }
}

// pdftotext's words with their boxes (points), one "word x0 y0 x1 y1" each.
std::vector<std::pair<std::string, std::vector<double>>> placedWords(const std::filesystem::path& pdf) {
  const auto r = tavtest::runProcess({"pdftotext", "-bbox", pdf.string(), "-"});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  std::vector<std::pair<std::string, std::vector<double>>> words;
  for (std::size_t at = r.out.find("<word "); at != std::string::npos; at = r.out.find("<word ", at + 1)) {
    const std::string tag = r.out.substr(at, r.out.find("</word>", at) - at);
    std::vector<double> box;
    for (const char* key : {"xMin=\"", "yMin=\"", "xMax=\"", "yMax=\""})
      box.push_back(std::stod(tag.substr(tag.find(key) + std::strlen(key))));
    words.emplace_back(tag.substr(tag.find('>') + 1), box);
  }
  return words;
}

// A turned barcode written as a barcode form holds the upright barcode,
// bars and digits, and is turned where the page draws it: its digits lie
// where the same barcode written as graphics has them, and at a right angle
// (where turning back and forth is exact) it prints the same plate.
TEST(BarcodeForms, TurnedFormsPrintAsTheirGraphics) {
  const struct {
    const char* symbology;
    const char* data;
    int angle;
  } cases[] = {{"EAN-13", "501234567890", 90}, {"CODE-39", "TAV-2026", -45}, {"EAN-13", "501234567890", 180},
               {"UPC-A", "03600029145", 30}};
  tavtest::TestFolder dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.symbology) + " at " + std::to_string(c.angle));
    auto job = loadJob(R"({"ppi":720,"origin":[2880,0],"boxes":{"media":[0,0,2880,2880]},)"
                       R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
                       R"("paints":[{"id":30,"type":"flat","colour":1}],"objects":[{"kind":"group","at":[1440,1440],)"
                       R"("barcode":{"symbology":")" + std::string(c.symbology) + R"(","data":")" + c.data +
                       R"(","paint":30,"angle":)" + std::to_string(c.angle) + "}}]}");
    const auto graphics = dir / "graphics.pdf", form = dir / "form.pdf";
    ASSERT_EQ(exportAccepted(job.get(), flavour("Press"), graphics).result, 0);
    ASSERT_EQ(exportAccepted(job.get(), flavour("Press", "IncludePrivateData=True"), form).result, 0);
    ASSERT_EQ(at(tavtest::Pdf(form).page(0), "/Resources/XObject/Barcode_0_0/Subtype"), "/Form");

    const auto expected = placedWords(graphics), shown = placedWords(form);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(shown[k].first, expected[k].first);
      for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(shown[k].second[i], expected[k].second[i], 0.25) << expected[k].first;
    }
    if (c.angle % 90 != 0) continue;
    const tavtest::Plate a = tavtest::measurePlates(graphics, 1, 200).plate("Black");
    const tavtest::Plate b = tavtest::measurePlates(form, 1, 200).plate("Black");
    ASSERT_EQ(a.samples.size(), b.samples.size());
    int differing = 0;
    for (std::size_t i = 0; i < a.samples.size(); ++i) differing += std::abs(int(a.samples[i]) - int(b.samples[i])) > 64;
    EXPECT_EQ(differing, 0) << "graphics " << a.coverage() << ", form " << b.coverage();
  }
}

}  // namespace drivertest

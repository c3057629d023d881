// Flattened exports judged by the real consumers: the Reader flavour's PDF 1.3
// file holds no transparency (qpdf --json), and Ghostscript's separation
// plates of it equal those of the same job exported with its transparency
// (Press) within 1 % of each plate; separated output with flattening equals
// the flattened composite plate by plate; what no transparency touches is
// written byte for byte as without flattening; and each flattener parameter
// changes what it says.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cctype>
#include <cmath>
#include <fstream>
#include <filesystem>
#include <string>
#include <vector>

#include "driver_support.h"
#include "platform/kernel/job.h"
#include "platform/kernel/jobfile.h"
#include "support/consumers.h"
#include "support/pdfread.h"
#include "support/pictures.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {

// Mean difference of ink over a part of two plates (pixels, x right and y down;
// the whole plate when the box is empty), 0 the same .. 1 opposite everywhere.
struct PixelBox {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
double difference(const tavtest::Plate& a, const tavtest::Plate& b, PixelBox box = {}) {
  if (a.width != b.width || a.height != b.height) return 1;
  if (box.x1 <= box.x0) box = {0, 0, a.width, a.height};
  double sum = 0;
  for (int y = box.y0; y < box.y1; ++y)
    for (int x = box.x0; x < box.x1; ++x) {
      const std::size_t i = std::size_t(y) * std::size_t(a.width) + std::size_t(x);
      sum += std::abs(int(a.samples[i]) - int(b.samples[i]));
    }
  return sum / (255.0 * double(box.x1 - box.x0) * double(box.y1 - box.y0));
}

// A box of job units (top, left, bottom, right) as plate pixels at 72 ppi
// on the driver jobs' 10 inch page.
PixelBox pixels(int top, int left, int bottom, int right) { return {left / 10, top / 10, right / 10, bottom / 10}; }

// Every plate of `flat` within `tolerance` of the plate of the same ink in
// `reference` (an ink that one side lacks counts as an empty plate), and as
// much within each named box.
void expectPlatesAlike(const tavtest::Plates& reference, const tavtest::Plates& flat, double tolerance = 0.01,
                       const std::vector<PixelBox>& boxes = {}) {
  for (const auto& [ink, plate] : reference.plates) {
    tavtest::Plate other = plate;
    std::fill(other.samples.begin(), other.samples.end(), std::uint8_t(255));
    if (auto it = flat.plates.find(ink); it != flat.plates.end()) other = it->second;
    EXPECT_LE(difference(plate, other), tolerance) << ink << "\nreference: " << reference.summary()
                                                   << "\nflattened: " << flat.summary();
    for (const PixelBox& b : boxes) {
      EXPECT_LE(difference(plate, other, b), 2 * tolerance) << ink << " in " << b.x0 << "," << b.y0;
    }
  }
  for (const auto& [ink, plate] : flat.plates) {
    if (!reference.plates.count(ink)) {
      EXPECT_LE(plate.coverage(), tolerance) << ink << " only when flattened";
    }
  }
}

// What in a PDF file says transparency, as qpdf --json shows its objects.
void findTransparency(const nlohmann::json& value, const std::string& where, std::vector<std::string>& found) {
  if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) findTransparency(value[i], where, found);
    return;
  }
  if (!value.is_object()) return;
  for (const auto& [key, v] : value.items()) {
    if (key == "/SMask" && !(v.is_string() && v == "/None")) found.push_back(where + " /SMask");
    if ((key == "/CA" || key == "/ca") && v.is_number() && v.get<double>() < 1) found.push_back(where + " " + key);
    if (key == "/BM" && !(v.is_string() && (v == "/Normal" || v == "/Compatible"))) found.push_back(where + " /BM");
    if (key == "/S" && v.is_string() && v == "/Transparency") found.push_back(where + " transparency group");
    findTransparency(v, where, found);
  }
}

void expectNoTransparency(const fs::path& pdf) {
  std::ifstream in(pdf, std::ios::binary);
  std::string header(8, '\0');
  in.read(header.data(), 8);
  EXPECT_EQ(header, "%PDF-1.3");
  const tavtest::ProcessResult r = tavtest::runProcess({"qpdf", "--json", "--json-stream-data=none", pdf.string()});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  const nlohmann::json json = nlohmann::json::parse(r.out);
  std::vector<std::string> found;
  for (const auto& [key, object] : json.at("qpdf").at(1).items()) findTransparency(object, key, found);
  EXPECT_TRUE(found.empty()) << ::testing::PrintToString(found);
}

struct Exports {
  tavtest::Plates transparent, flattened;
  ExportRun flatRun;
};

// The job exported with its transparency (Press) and flattened (Reader),
// both accepted by every consumer, the flattened file free of transparency.
Exports exportBoth(jobstr* job, const fs::path& folder, const std::string& readerOverrides = "",
                   const std::string& pressOverrides = "") {
  Exports e;
  const fs::path press = folder / "transparent.pdf", reader = folder / "flattened.pdf";
  // The reference only has to render (mutool ignores an inverted soft mask's transfer function).
  const ExportRun reference = exportJob(job, flavour("Press", pressOverrides), press);
  EXPECT_EQ(reference.result, 0) << reference.keys();
  e.flatRun = exportAccepted(job, flavour("Reader", readerOverrides), reader);
  expectNoTransparency(reader);
  e.transparent = tavtest::measurePlates(press);
  e.flattened = tavtest::measurePlates(reader);
  return e;
}

Exports exportBoth(const std::string& text, const fs::path& folder, const std::string& readerOverrides = "",
                   const std::string& pressOverrides = "") {
  auto job = loadJob(text, folder);
  return exportBoth(job.get(), folder, readerOverrides, pressOverrides);
}

std::string layer(const std::vector<std::string>& objects) {
  std::string s = R"([{"kind":"layer","name":"Art","objects":[)";
  for (std::size_t i = 0; i < objects.size(); ++i) s += (i ? "," : "") + objects[i];
  return s + "]}]";
}

std::string text(int v, int h, int paint, const std::string& words, int size = 40) {
  return R"({"kind":"text","at":[)" + std::to_string(v) + "," + std::to_string(h) +
         R"(],"runs":[{"text":")" + words + R"(","font":"NimbusSans-Bold","size":)" + std::to_string(size) +
         R"(,"paint":)" + std::to_string(paint) + "}]}";
}

// Colours: 20 a process and spot mix, 21 another, 22 a spot alone, 23 yellow
// leaving the other inks untouched (overprint), 24 black alone over
// untouched inks (black overprint).
const std::string kColours =
    R"([{"id":20,"inks":{"Cyan":70,"Magenta":20,"Yellow":10,"Black":20,"Orange":40}},)"
    R"({"id":21,"inks":{"Cyan":20,"Magenta":80,"Yellow":50,"Black":10,"Orange":60}},)"
    R"({"id":22,"inks":{"Orange":100}},)"
    R"({"id":23,"inks":{"Yellow":80},"others":255},)"
    R"({"id":24,"inks":{"Black":100},"others":255}])";

const char* const kModes[] = {"normal",     "multiply", "screen",     "overlay", "softLight", "hardLight",
                              "colorDodge", "colorBurn", "darken",    "lighten", "difference", "exclusion",
                              "hue",        "saturation", "color",    "luminosity"};

}  // namespace

TEST(Flattening, OpacityOnFillsStrokesAndTextsPrintsAsTheTransparentJob) {
  tavtest::TestFolder dir;
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50},)"
      R"({"id":32,"type":"flat","colour":22,"opacity":40},{"id":33,"type":"flat","colour":21},)"
      R"({"id":34,"type":"flat","colour":22}])";
  const std::string job = jobText(
      kStandardInks, kColours, paints,
      layer({square(720, 720, 2000, 30), square(1720, 1720, 2000, 31),  // half opaque fill over process and spot
             square(720, 4000, 2000, 30),
             square(1200, 4400, 1600, 33, R"(,"stroke":{"width":200,"paint":32})"),  // stroke at 40 %
             square(4000, 720, 2400, 30),
             square(4400, 1120, 1600, 31, R"(,"stroke":{"width":150,"paint":34,"position":"inside"})"),
             text(5200, 3600, 32, "Wild honey", 60), square(4000, 4000, 1000, 34),
             text(4800, 3700, 31, "Over it", 50)}));
  const Exports e = exportBoth(job, dir.path());
  expectPlatesAlike(e.transparent, e.flattened, 0.01,
                    {pixels(1720, 1720, 2720, 2720), pixels(1200, 4400, 2800, 6000)});
}

TEST(Flattening, EveryBlendModeOverProcessAndSpotInks) {
  // Sixteen cells: a backdrop of process and spot inks, and a square of the
  // mode at 60 % half over it and half over the paper.
  tavtest::TestFolder dir;
  std::string paints = R"([{"id":30,"type":"flat","colour":20})";
  std::vector<std::string> objects;
  for (int m = 0; m < 16; ++m) {
    paints += R"(,{"id":)" + std::to_string(40 + m) + R"(,"type":"flat","colour":21,"opacity":60,"blendMode":")" +
              kModes[m] + "\"}";
    const int v = 200 + (m / 4) * 1700, h = 200 + (m % 4) * 1700;
    objects.push_back(square(v, h, 1000, 30));
    objects.push_back(square(v + 500, h + 500, 1000, 40 + m));
  }
  const Exports e = exportBoth(jobText(kStandardInks, kColours, paints + "]", layer(objects)), dir.path());
  std::vector<PixelBox> overlaps;
  for (int m = 0; m < 16; ++m) {
    const int v = 200 + (m / 4) * 1700, h = 200 + (m % 4) * 1700;
    overlaps.push_back(pixels(v + 500, h + 500, v + 1000, h + 1000));
  }
  expectPlatesAlike(e.transparent, e.flattened, 0.01, overlaps);
}

TEST(Flattening, OverprintUnderAndInTransparency) {
  // Yellow that leaves the other inks untouched, under a 50 % square and as
  // a multiplying 60 % square itself; with and without FlattenOverprints.
  tavtest::TestFolder dir;
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50},)"
      R"({"id":32,"type":"flat","colour":23},{"id":33,"type":"flat","colour":23,"opacity":60,"blendMode":"multiply"},)"
      R"({"id":34,"type":"flat","colour":23,"opacity":60,"blendMode":"difference"}])";
  const std::string job =
      jobText(kStandardInks, kColours, paints,
              layer({square(720, 720, 3000, 30), square(1200, 1200, 1600, 32), square(2000, 2000, 2000, 31),
                     square(4200, 720, 2000, 30), square(5000, 1500, 1500, 33), square(4200, 4000, 2000, 30),
                     square(5000, 4800, 1500, 34)}));
  for (const char* overprints : {"FlattenOverprints=1", "FlattenOverprints=0"}) {
    SCOPED_TRACE(overprints);
    const Exports e = exportBoth(job, dir.path(), overprints);
    expectPlatesAlike(e.transparent, e.flattened);
  }
}

TEST(Flattening, FlattenOverprintsComposesOverprintingObjectsThatNoTransparencyTouches) {
  // No transparency at all: an overprinting yellow and a black overprint.
  // Each switch composes its kind into knocking-out regions (which viewers
  // show as the press prints it); left alone, the object keeps its overprint.
  tavtest::TestFolder dir;
  const std::string job = jobText(
      kStandardInks, kColours,
      R"([{"id":30,"type":"flat","colour":20},{"id":32,"type":"flat","colour":23},{"id":35,"type":"flat","colour":24}])",
      layer({square(720, 720, 3000, 30), square(1200, 1200, 1600, 32), square(4000, 720, 2000, 30),
             text(4800, 900, 35, "Black text", 50)}));
  struct Case {
    const char* overrides;
    bool yellowComposed, blackComposed;
  };
  for (const Case c : {Case{"FlattenOverprints=1 FlattenBlackOverprint=0", true, false},
                       Case{"FlattenOverprints=0 FlattenBlackOverprint=1", false, true},
                       Case{"FlattenOverprints=0 FlattenBlackOverprint=0", false, false}}) {
    SCOPED_TRACE(c.overrides);
    auto loaded = loadJob(job, dir.path());
    const fs::path pdf = dir / "flattened.pdf";
    exportAccepted(loaded.get(), flavour("Press", std::string("EnableFlattening=1 ") + c.overrides), pdf);
    tavtest::Pdf file(pdf);
    const std::string content = tavtest::pageContent(file.page(0));
    // Left alone, the yellow square overprints in its own colour; the black
    // text stays text (composed, it becomes regions of its outlines).
    EXPECT_EQ(content.find("/op1 gs\n0 0 0.80 0 k") == std::string::npos, c.yellowComposed) << content;
    EXPECT_EQ(content.find(" Tj") == std::string::npos && content.find("TJ") == std::string::npos, c.blackComposed);
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    // Printed as the job says either way: cyan shows under the yellow.
    tavtest::expectInks(plates, {{"Cyan", 160, 560, 0.7}, {"Yellow", 160, 560, 0.8}, {"Orange", 160, 560, 0.4}});
  }
}

TEST(Flattening, SeparatedOutputWithFlatteningPrintsEachPlateAsTheFlattenedComposite) {
  // The difference blend that separated output cannot write is flattened:
  // the export goes through and each plate page is the composite's plate.
  tavtest::TestFolder dir;
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50,"blendMode":"difference"}])";
  auto job = loadJob(jobText(kStandardInks, kColours, paints,
                             layer({square(720, 720, 3000, 30), square(2000, 2000, 3000, 31)})),
                     dir.path());
  const fs::path separated = dir / "separated.pdf", composite = dir / "composite.pdf";
  const ExportRun refused = exportJob(job.get(), flavour("Separated", "EnableFlattening=0"), separated);
  EXPECT_EQ(refused.result, 1);
  EXPECT_TRUE(refused.has("PDF/SEPARATED PDF NEEDS FLATTENING"));
  exportAccepted(job.get(), flavour("Separated", "EnableFlattening=1"), separated);
  exportAccepted(job.get(), flavour("Press", "EnableFlattening=1"), composite);
  tavtest::Pdf file(separated);
  for (std::size_t p = 0; p < file.pages().size(); ++p) {
    EXPECT_EQ(tavtest::pageContent(file.page(p)).find("/GS_"), std::string::npos) << "page " << p + 1;
  }
  const tavtest::Plates whole = tavtest::measurePlates(composite);
  for (const std::string ink : {"Cyan", "Magenta", "Yellow", "Black", "Orange"}) {
    const tavtest::Plates page = tavtest::measurePlates(separated, tavtest::separationPage(separated, ink));
    // A plate page prints its ink as black.
    EXPECT_LE(difference(whole.plate(ink), page.plate("Black")), 0.01) << ink;
  }
}

TEST(Flattening, UntouchedObjectsAreWrittenAsWithoutFlatteningAndTextStaysText) {
  // Everything below the transparent square is written byte for byte as an
  // export without flattening writes it; the text under it is still text.
  tavtest::TestFolder dir;
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50},)"
      R"({"id":33,"type":"flat","colour":21}])";
  auto job = loadJob(jobText(kStandardInks, kColours, paints,
                             layer({square(720, 720, 3000, 30), text(2000, 900, 33, "Honey under glass", 40),
                                    square(720, 4000, 1500, 33, R"(,"stroke":{"width":40,"paint":30})"),
                                    square(1500, 1500, 3000, 31)})),
                     dir.path());
  const fs::path plain = dir / "plain.pdf", flat = dir / "flat.pdf";
  exportAccepted(job.get(), flavour("Press", "EnableFlattening=0"), plain);
  exportAccepted(job.get(), flavour("Press", "EnableFlattening=1"), flat);
  tavtest::Pdf a(plain), b(flat);
  const std::string before = tavtest::pageContent(a.page(0)), after = tavtest::pageContent(b.page(0));
  // The transparent square comes last: up to its graphics state both are the same.
  const std::size_t cut = before.find("/GS_");
  ASSERT_NE(cut, std::string::npos);
  const std::size_t object = before.rfind("q\n", cut);
  ASSERT_NE(object, std::string::npos);
  EXPECT_EQ(after.substr(0, object), before.substr(0, object));
  EXPECT_EQ(after.find("/GS_"), std::string::npos);
  const tavtest::ProcessResult words = tavtest::runProcess({"pdftotext", flat.string(), "-"});
  EXPECT_NE(words.out.find("Honey under glass"), std::string::npos) << words.describe();
}

TEST(Flattening, OpaqueInksKnockOutInTheComposedColoursAsTheySayAndOnlyOnce) {
  // A 50 % square over an opaque silver and cyan: with
  // ForceOpaqueSeparationsToKnockout silver takes its share off cyan before
  // the transparency composes, as in the transparent export; without it both print.
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      R"({"name":"Silver","cmyk":[20,20,20,30],"opaque":true}])";
  const std::string job = jobText(
      inks, R"([{"id":20,"inks":{"Cyan":80,"Silver":50}},{"id":21,"inks":{"Magenta":60,"Silver":40}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50}])",
      layer({square(720, 720, 3000, 30), square(2000, 2000, 3000, 31)}));
  for (const char* knockout : {"ForceOpaqueSeparationsToKnockout=1", "ForceOpaqueSeparationsToKnockout=0"}) {
    SCOPED_TRACE(knockout);
    const Exports e = exportBoth(job, dir.path(), knockout, knockout);
    expectPlatesAlike(e.transparent, e.flattened, 0.01, {pixels(2000, 2000, 3720, 3720)});
    // Where both overlap: cyan 80 % less the silver's 50 %, then half of it under the square.
    const double cyan = std::string(knockout).back() == '1' ? 0.8 * 0.5 * 0.5 : 0.8 * 0.5;
    tavtest::expectInks(e.flattened, {{"Cyan", 300, 420, cyan}});
  }
}

TEST(Flattening, NonPrintingObjectsTakePartOnlyWhenTheyAreWritten) {
  // An opaque square on a non-printing layer under a 50 % square: composed
  // into the regions with AddNonPrintingLayers, left out without.
  tavtest::TestFolder dir;
  const std::string objects =
      R"([{"kind":"layer","name":"Notes","nonPrinting":true,"objects":[)" + square(720, 720, 3000, 30) +
      R"(]},{"kind":"layer","name":"Art","objects":[)" + square(2000, 2000, 3000, 31) + "]}]";
  auto job = loadJob(jobText(kStandardInks, kColours,
                             R"([{"id":30,"type":"flat","colour":22},{"id":31,"type":"flat","colour":21,"opacity":50}])",
                             objects),
                     dir.path());
  for (const bool nonPrinting : {true, false}) {
    SCOPED_TRACE(nonPrinting);
    const fs::path pdf = dir / "flat.pdf";
    const std::string set = nonPrinting ? "AddNonPrintingLayers=1 IncludeLayers=1" : "AddNonPrintingLayers=0";
    exportAccepted(job.get(), flavour("Press", "EnableFlattening=1 " + set), pdf);
    tavtest::Pdf file(pdf);
    const std::string content = tavtest::pageContent(file.page(0));
    // Orange where both overlap: half the square's 60 % over the layer's 100 %.
    EXPECT_EQ(content.find("0.80 scn") != std::string::npos, nonPrinting) << content;
  }
}

TEST(Flattening, TransparencyGroupsComposeTheirMembersFirst) {
  // Groups with transparency of their own (set on the model: the job file
  // gives groups no paint): group opacity, a knockout group and an isolated
  // group of multiplying members.
  tavtest::TestFolder dir;
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
      R"({"id":32,"type":"flat","colour":21,"opacity":60},{"id":33,"type":"flat","colour":22,"opacity":70,"blendMode":"multiply"},)"
      R"({"id":50,"type":"flat","colour":20,"opacity":50},{"id":51,"type":"flat","colour":20,"knockout":true},)"
      R"({"id":52,"type":"flat","colour":20,"isolated":true,"opacity":80}])";
  auto group = [](int v, int h, int a, int b) {
    return R"({"kind":"group","objects":[)" + square(v, h, 1600, a) + "," + square(v + 800, h + 800, 1600, b) + "]}";
  };
  auto job = loadJob(jobText(kStandardInks, kColours, paints,
                             layer({square(400, 400, 2000, 30), group(900, 900, 31, 31),
                                    square(400, 4000, 2000, 30), group(900, 4500, 32, 32),
                                    square(4000, 400, 2000, 30), group(4500, 900, 33, 33)})),
                     dir.path());
  TavDB::Object* art = jobGetSpahan(job.get())->member(0);
  art->member(1)->setPaint(50);
  art->member(3)->setPaint(51);
  art->member(5)->setPaint(52);
  const Exports e = exportBoth(job.get(), dir.path());
  expectPlatesAlike(e.transparent, e.flattened);
}

TEST(Flattening, BlendModeNamesOfTheJobFileAreTheModesWritten) {
  tavtest::TestFolder dir;
  for (const char* mode : {"darken", "lighten", "softLight", "hardLight"}) {
    SCOPED_TRACE(mode);
    auto job = loadJob(colouredSquares(kStandardInks, {R"({"Cyan":100})"}, std::string(R"(,"blendMode":")") + mode + "\""),
                       dir.path());
    const fs::path pdf = dir / "blend.pdf";
    exportAccepted(job.get(), flavour("Press"), pdf);
    std::string name = mode;
    name[0] = char(std::toupper(name[0]));
    const tavtest::ProcessResult r = tavtest::runProcess({"qpdf", "--json", "--json-stream-data=none", pdf.string()});
    EXPECT_NE(r.out.find("\"/BM\": \"/" + name + "\""), std::string::npos) << r.out.substr(0, 4000);
  }
}

namespace {

// A picture of saturated RGB stripes.
void writeRgbStripes(const fs::path& file) {
  tavtest::TiffLayout layout;
  layout.width = 64;
  layout.height = 32;
  layout.samples = 3;
  layout.photometric = 2;
  layout.sample = [](int x, int, int s) {
    static const std::uint8_t kStripes[8][3] = {{255, 0, 0},   {0, 255, 0},  {0, 0, 255},  {255, 255, 0},
                                                {0, 255, 255}, {255, 0, 255}, {128, 64, 32}, {40, 160, 220}};
    return kStripes[x * 8 / 64][s];
  };
  tavtest::writeTiff(file, layout);
}

const std::string kSource = TAV_SOURCE_DIR;

}  // namespace

TEST(Flattening, GradientsPicturesAndMapsUnderTransparencyGoToTheRasterRoad) {
  // A linear gradient, a CMYK TIFF, an RGB JPEG and the wave map under a
  // 50 % square: rendered per ink and written as maps clipped to the square.
  tavtest::TestFolder dir;
  const std::string pictures = kSource + "/examples/pictures/";
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50},)"
      R"({"id":40,"type":"linear","colour":20,"colour2":22,"start":[720,720],"end":[720,3000]},)"
      R"({"id":41,"type":"picture","picture":1,"place":{"origin":[720,3600],"widthCorner":[720,6400],"heightCorner":[3000,3600]}},)"
      R"({"id":42,"type":"picture","picture":2,"place":{"origin":[3800,720],"widthCorner":[3800,3000],"heightCorner":[6400,720]}},)"
      R"({"id":43,"type":"map","map":1,"place":{"origin":[3800,3600],"widthCorner":[3800,6400],"heightCorner":[6400,3600]}}])";
  const std::string more =
      R"(,"pictures":[{"id":1,"file":")" + pictures + R"(photo-cmyk.tif"},{"id":2,"file":")" + pictures +
      R"(photo.jpg"}],"maps":[{"id":1,"files":[")" + pictures + R"(wave-cmyk.tif",")" + pictures +
      R"(wave-spot.tif"],"channels":[{"ink":"Cyan","file":0,"channel":0},{"ink":"Magenta","file":0,"channel":1},)"
      R"({"ink":"Orange","file":1}],"colour":23,"width":240,"height":150,"resolution":150}])";
  auto job = loadJob(jobText(kStandardInks, kColours, paints,
                             layer({square(720, 720, 2280, 40), square(720, 3600, 2280, 41),
                                    square(3800, 720, 2600, 42), square(3800, 3600, 2600, 43),
                                    square(1500, 1500, 4000, 31)}),
                             more),
                     dir.path());
  const Exports e = exportBoth(job.get(), dir.path(), "UseColormanagement=1 CertifiedOutputProfile=" +
                                                          std::string("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
  expectPlatesAlike(e.transparent, e.flattened, 0.01, {pixels(1500, 1500, 5500, 5500)});
}

TEST(Flattening, SoftMasksHideAndShowAsTheirLuminositySays) {
  // A soft mask of a flat square and of a gradient, each way of its flags
  // (hide what lies outside, inverted), over process inks.
  tavtest::TestFolder dir;
  for (const int flags : {0, 2, 4, 6}) {
    SCOPED_TRACE(flags);
    const std::string colours =
        R"([{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Magenta":100,"Yellow":40}},)"
        R"({"id":22,"inks":{"Black":60,"Cyan":20}},{"id":23,"inks":{"Black":5}}])";
    const std::string paints =
        R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"softMask":5,"opacity":80},)"
        R"({"id":32,"type":"flat","colour":22},{"id":33,"type":"linear","colour":22,"colour2":23,"start":[2000,4000],"end":[2000,6000]}])";
    const std::string more = R"(,"patterns":[{"id":5,"kind":"softMask","maskFlags":)" + std::to_string(flags) +
                             R"(,"objects":[)" + square(2000, 1000, 2000, 32) + "," + square(2000, 4000, 2000, 33) +
                             "]}]";
    const Exports e =
        exportBoth(jobText(kStandardInks, colours, paints,
                           layer({square(720, 720, 5760, 30), square(1500, 500, 5000, 31)}), more),
                   dir.path());
    expectPlatesAlike(e.transparent, e.flattened, 0.01, {pixels(2000, 1000, 4000, 3000), pixels(2000, 4000, 4000, 6000)});
  }
}

TEST(Flattening, OneUpsAreFlattenedInsideAndUnderTransparency) {
  // A one-up holding a multiplying 50 % square, placed under a 40 % square
  // of the parent: the one-up's own transparency is flattened in its form,
  // the parent's over it through the raster road.
  tavtest::TestFolder dir;
  fs::create_directories(dir / "oneups");
  std::ofstream(dir / "oneups" / "panel.json")
      << R"({"format":"tavpdf-job","name":"Panel","ppi":720,"origin":[2000,0],"boxes":{"media":[0,0,2000,2000]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},{"name":"Orange","cmyk":[0,60,100,0]}],)"
      << R"("colours":[{"id":20,"inks":{"Cyan":80}},{"id":21,"inks":{"Orange":100,"Magenta":30}}],)"
      << R"("paints":[{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":50,"blendMode":"multiply"}],)"
      << R"("objects":[)" << square(100, 100, 1200, 30) << "," << square(700, 700, 1200, 31) << "]}";
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21,"opacity":40},)"
      R"({"id":44,"type":"picture","picture":1,"place":{"origin":[1000,1000],"widthCorner":[1000,5000],"heightCorner":[5000,1000]}}])";
  auto job = loadJob(jobText(kStandardInks, kColours, paints,
                             layer({square(1000, 1000, 4000, 44), square(3500, 3500, 3000, 31)}),
                             R"(,"pictures":[{"id":1,"file":"oneups/panel.json"}])"),
                     dir.path());
  const Exports e = exportBoth(job.get(), dir.path());
  expectPlatesAlike(e.transparent, e.flattened, 0.01, {pixels(3500, 3500, 5000, 5000)});
}

TEST(Flattening, IgnorePlacedOverprintsKnocksOutUnderAOneUpsOverprint) {
  // Inside the one-up a yellow leaving the other inks untouched lies over
  // cyan: ignored, it knocks the cyan out; kept, the cyan shows.
  tavtest::TestFolder dir;
  fs::create_directories(dir / "oneups");
  std::ofstream(dir / "oneups" / "panel.json")
      << R"({"format":"tavpdf-job","name":"Panel","ppi":720,"origin":[2000,0],"boxes":{"media":[0,0,2000,2000]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Yellow","process":"yellow"}],)"
      << R"("colours":[{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Yellow":100},"others":255}],)"
      << R"("paints":[{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21}],)"
      << R"("objects":[)" << square(0, 0, 2000, 30) << "," << square(500, 500, 1000, 31) << "]}";
  auto job = loadJob(jobText(kStandardInks, kColours,
                             R"([{"id":44,"type":"picture","picture":1,"place":{"origin":[1000,1000],"widthCorner":[1000,3000],"heightCorner":[3000,1000]}}])",
                             layer({square(1000, 1000, 2000, 44)}), R"(,"pictures":[{"id":1,"file":"oneups/panel.json"}])"),
                     dir.path());
  for (const bool ignore : {true, false}) {
    SCOPED_TRACE(ignore);
    const fs::path pdf = dir / "placed.pdf";
    exportAccepted(job.get(), flavour("Press", std::string("EnableFlattening=1 IgnorePlacedOverprints=") + (ignore ? "1" : "0")),
                   pdf);
    // The middle of the one-up: (2000, 2000) in the job, 200 points from the left and 520 from the bottom.
    tavtest::expectInks(tavtest::measurePlates(pdf), {{"Yellow", 200, 520, 1}, {"Cyan", 200, 520, ignore ? 0.0 : 1.0}});
  }
}

TEST(Flattening, VectorizeOpacityKeepsComplexAreasVectors) {
  // A 50 % square over 4,200 small squares is cut into more regions than
  // vectors are kept for: rendered as a map, unless VectorizeOpacity.
  tavtest::TestFolder dir;
  std::vector<std::string> objects;
  for (int i = 0; i < 4200; ++i) objects.push_back(square(800 + (i / 70) * 80, 800 + (i % 70) * 80, 60, 30 + i % 2));
  objects.push_back(square(700, 700, 5800, 32));
  auto job = loadJob(jobText(kStandardInks, kColours,
                             R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":22},)"
                             R"({"id":32,"type":"flat","colour":21,"opacity":50}])",
                             layer(objects)),
                     dir.path());
  for (const bool vectors : {false, true}) {
    SCOPED_TRACE(vectors);
    const fs::path pdf = dir / "complex.pdf";
    exportAccepted(job.get(), flavour("Press", std::string("EnableFlattening=1 VectorizeOpacity=") + (vectors ? "1" : "0")), pdf);
    tavtest::Pdf file(pdf);
    const std::string content = tavtest::pageContent(file.page(0));
    EXPECT_EQ(content.find(" Do") == std::string::npos, vectors);
  }
}

TEST(Flattening, ColourManagementTurnsRgbIntoInksThroughTheOutputProfile) {
  // Saturated RGB under a 50 % square: through the output profile the inks
  // are what the transparent export prints; the plain conversion is not.
  tavtest::TestFolder dir;
  writeRgbStripes(dir / "stripes.tif");
  auto job = loadJob(
      jobText(kStandardInks, kColours,
              R"([{"id":31,"type":"flat","colour":21,"opacity":50},)"
              R"({"id":41,"type":"picture","picture":1,"place":{"origin":[720,720],"widthCorner":[720,6400],"heightCorner":[3600,720]}}])",
              layer({square(720, 720, 5680, 41), square(1500, 1500, 4000, 31)}),
              R"(,"pictures":[{"id":1,"file":"stripes.tif","colorSpace":"rgb"}])"),
      dir.path());
  const std::string profile = "CertifiedOutputProfile=/usr/share/color/icc/ghostscript/default_cmyk.icc";
  const Exports managed = exportBoth(job.get(), dir.path(), "UseColormanagement=1 " + profile);
  expectPlatesAlike(managed.transparent, managed.flattened, 0.01);
  const fs::path pdf = dir / "plain.pdf";
  exportAccepted(job.get(), flavour("Reader", "UseColormanagement=0 " + profile), pdf);
  const tavtest::Plates plates = tavtest::measurePlates(pdf);
  double worst = 0;
  for (const auto& [ink, plate] : managed.transparent.plates) worst = std::max(worst, difference(plate, plates.plate(ink)));
  EXPECT_GT(worst, 0.015) << "the plain conversion differs from the profile's";
}

TEST(Flattening, EveryBundledExampleIsValidPdf13PrintingAsItsTransparentExport) {
  // The Reader flavour over the examples: PDF 1.3 without transparency
  // (a map's opacity channel included), every consumer content, the plates
  // those of the Press export.
  tavtest::TestFolder dir;
  for (const auto& entry : fs::directory_iterator(kSource + "/examples")) {
    if (entry.path().extension() != ".json") continue;
    SCOPED_TRACE(entry.path().filename().string());
    auto job = TavKernel::loadJobFile(entry.path());
    const Exports e = exportBoth(job.get(), dir.path());
    expectPlatesAlike(e.transparent, e.flattened);
  }
}

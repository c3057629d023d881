// Pattern fills written as the objects of their tiles show what the same
// pattern shows as a tiling pattern, on composite and separated plates; a
// cell whose colours leave inks untouched leaves them as they are.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "document_support.h"
#include "platform/kernel/jobfile.h"
#include "support/consumers.h"
#include "support/plate_checks.h"

namespace doctest {
namespace {

// A 200 x 100 point page at 10 job units per point (v 0..1000 downwards,
// h 0..2000; PDF y = 100 - v / 10): outlines cut in whole units keep their
// shape.
std::unique_ptr<jobstr> makeFineJob(const std::string& members) {
  return TavKernel::loadJobFromMemory(R"({"format": "tavpdf-job", "version": 1, "name": "patterns",
    "ppi": 720, "origin": [1000, 0], )" + members + "}", std::filesystem::temp_directory_path(), "test.json");
}

const char* kBase = R"(
  "boxes": {"media": [0, 0, 1000, 2000]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Black", "process": "black"}, {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Spot": 100}},
              {"id": 3, "inks": {"Cyan": 0}}, {"id": 4, "inks": {"Cyan": 100}},
              {"id": 5, "inks": {"Magenta": 100}}, {"id": 6, "inks": {"Spot": 100}, "others": 255}],
)";

std::string rect(int top, int left, int bottom, int right, int paint, const std::string& more = "") {
  auto n = [](int v) { return std::to_string(v); };
  return R"({"kind": "path", "paint": )" + n(paint) + R"(, "points": [[)" + n(top) + ", " + n(left) + "], [" +
         n(top) + ", " + n(right) + "], [" + n(bottom) + ", " + n(right) + "], [" + n(bottom) + ", " + n(left) +
         "]]" + more + "}";
}

// A disc about (v 500, h 1000) of radius 450, in four curves.
std::string disc(int paint) {
  return R"({"kind": "path", "paint": )" + std::to_string(paint) + R"(, "points": [[50, 1000],
    [50, 1249, 251, 1450, 500, 1450], [749, 1450, 950, 1249, 950, 1000],
    [950, 751, 749, 550, 500, 550], [251, 550, 50, 751, 50, 1000]]})";
}

// Mean difference of two plates, pixel by pixel (0..1).
double meanDifference(const tavtest::Plate& a, const tavtest::Plate& b) {
  if (a.width != b.width || a.height != b.height) return 1;
  double sum = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) sum += std::abs(int(a.samples[i]) - int(b.samples[i])) / 255.0;
  return sum / double(a.samples.size());
}

TEST(ExpandedPatterns, ShowWhatTheirTilingPatternShows) {
  tavtest::TestFolder dir;
  // The cell (20 x 20 points): a black square, a spot stroke across it (no
  // fill) and a cyan ramp in a curved shape.
  const std::string cell = rect(20, 20, 100, 100, 10) + "," +
                           R"({"kind": "path", "closed": false, "points": [[120, 10], [190, 90]],
                               "stroke": {"width": 20, "paint": 11, "cap": "round"}},)" +
                           R"({"kind": "path", "paint": 12, "points": [[120, 120], [120, 180, 180, 180, 180, 120], [120, 120]]})";
  struct Case {
    const char* name;
    std::string corners;  // where the cell's corners land
    std::string objects;  // the filled object(s)
  };
  const Case cases[] = {
      {"upright", "", disc(20)},
      // Turned about 30 degrees: a radial stays round.
      {"turned", R"(, "corners": [[0, 1000], [-100, 1173], [173, 1100]])", disc(20)},
      // Sheared: the cell's squares lean.
      {"sheared", R"(, "corners": [[0, 0], [0, 200], [200, 100]])", rect(100, 100, 900, 1900, 20)},
      // A pattern filling a shape inside another pattern's cell.
      {"nested", "", rect(0, 0, 1000, 2000, 21)},
  };
  for (const Case& c : cases) {
    const std::string patterns = R"(, "patterns": [{"id": 1, "cell": [0, 0, 200, 200])" + c.corners +
                                 R"(, "objects": [)" + cell + R"(]},
        {"id": 2, "cell": [0, 0, 500, 500], "objects": [)" + rect(50, 50, 450, 450, 20) + "]}]";
    for (const bool expand : {false, true}) {
      const std::string e = expand ? R"(, "expand": true)" : "";
      const std::string paints = R"("paints": [{"id": 10, "type": "flat", "colour": 1},
          {"id": 11, "type": "flat", "colour": 2},
          {"id": 12, "type": "linear", "colour": 3, "colour2": 4, "start": [120, 120], "end": [120, 180]},
          {"id": 20, "type": "pattern", "pattern": 1)" + e + R"(},
          {"id": 21, "type": "pattern", "pattern": 2)" + e + R"(}],)";
      auto job = makeFineJob(std::string(kBase) + paints + R"("objects": [)" + c.objects + "]" + patterns);
      for (const bool separated : {false, true}) {
        const std::string name = std::string(c.name) + (expand ? "-expanded" : "-tiling") + (separated ? "-sep" : "");
        SCOPED_TRACE(name);
        writeAccepted(*job, testSettings(separated ? "SeparatedOutput=1" : ""), dir / (name + ".pdf"));
      }
    }
    for (const bool separated : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (separated ? " separated" : " composite"));
      const std::string suffix = separated ? "-sep.pdf" : ".pdf";
      const auto tiling = dir / (std::string(c.name) + "-tiling" + suffix);
      const auto expanded = dir / (std::string(c.name) + "-expanded" + suffix);
      EXPECT_EQ(tavtest::readFile(expanded).find("/PatternType"), std::string::npos);
      for (const char* ink : {"Cyan", "Black", "Spot"}) {
        const int page = separated ? tavtest::separationPage(tiling, ink) : 1;
        ASSERT_EQ(page, separated ? tavtest::separationPage(expanded, ink) : 1);
        const std::string plate = separated ? "Black" : ink;
        const tavtest::Plates t = tavtest::measurePlates(tiling, page, 144);
        const tavtest::Plates x = tavtest::measurePlates(expanded, page, 144);
        EXPECT_GT(t.coverage.at(plate), 0.002) << ink;
        EXPECT_NEAR(x.coverage.at(plate), t.coverage.at(plate), 0.004) << ink;
        EXPECT_LT(meanDifference(x.plate(plate), t.plate(plate)), 0.01) << ink;
      }
    }
  }
}

TEST(ExpandedPatterns, TextsInACellAreWrittenWhereEachTileShowsThem) {
  // A cell holding a text, expanded over two tiles side by side, paints the
  // spot plate as the same text set at each tile's place does (written as
  // outlines too, which readers fill as they fill the expanded ones).
  tavtest::TestFolder dir;
  auto text = [](int v, int h) {
    return R"({"kind": "text", "at": [)" + std::to_string(v) + ", " + std::to_string(h) +
           R"(], "runs": [{"text": "Ag", "font": "NimbusSans-Bold", "size": 14, "paint": 11}]})";
  };
  const std::string paints = R"("paints": [{"id": 11, "type": "flat", "colour": 2},
      {"id": 20, "type": "pattern", "pattern": 1, "expand": true}],
    "patterns": [{"id": 1, "cell": [0, 0, 300, 300], "objects": [)" + text(200, 60) + "]}],";
  auto expanded = makeFineJob(std::string(kBase) + paints + R"("objects": [)" + rect(0, 0, 300, 600, 20) + "]");
  auto placed = makeFineJob(std::string(kBase) + paints + R"("objects": [)" + text(200, 60) + "," + text(200, 360) + "]");
  const Written x = writeAccepted(*expanded, testSettings(), dir / "expanded.pdf");
  const Written p = writeAccepted(*placed, testSettings("VectorizeText=1"), dir / "placed.pdf");
  const tavtest::Plates xp = tavtest::measurePlates(x.file, 1, 288);
  const tavtest::Plates pp = tavtest::measurePlates(p.file, 1, 288);
  EXPECT_GT(pp.coverage.at("Spot"), 0.002);
  EXPECT_NEAR(xp.coverage.at("Spot"), pp.coverage.at("Spot"), 0.0005);
  EXPECT_LT(meanDifference(xp.plate("Spot"), pp.plate("Spot")), 0.001);
}

TEST(ExpandedPatterns, CellsLeaveTheInksTheirColoursDoNotTouch) {
  // Magenta all over; a pattern whose cell holds a spot square in a quarter
  // of it. Where the colour leaves magenta untouched it stays at 100 %; a
  // colour that knocks it out still makes a tiling pattern.
  tavtest::TestFolder dir;
  struct Case {
    const char* name;
    int colour;
    bool untouched;  // magenta stays 100 %, else it is knocked out under the squares
  };
  for (const Case& c : {Case{"untouched", 6, true}, Case{"knocked out", 2, false}}) {
    // Upright, a quarter of spot; cells scaled to 40 x 40 points leave
    // three rows of five squares on the page, 30 %.
    for (const auto& [corners, spot] : {std::pair<const char*, double>{"", 0.25},
                                        std::pair<const char*, double>{R"(, "corners": [[0, 0], [0, 400], [400, 0]])", 0.3}}) {
      const std::string members =
          std::string(kBase) + R"("paints": [{"id": 10, "type": "flat", "colour": 5},
            {"id": 11, "type": "flat", "colour": )" + std::to_string(c.colour) + R"(},
            {"id": 20, "type": "pattern", "pattern": 1}],
          "patterns": [{"id": 1, "cell": [0, 0, 200, 200])" + corners + R"(, "objects": [)" + rect(0, 0, 100, 100, 11) +
          R"(]}], "objects": [)" + rect(0, 0, 1000, 2000, 10) + "," + rect(0, 0, 1000, 2000, 20) + "]";
      auto job = makeFineJob(members);
      for (const bool separated : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (*corners != 0 ? " scaled" : "") + (separated ? " separated" : ""));
        const Written w = writeAccepted(*job, testSettings(separated ? "SeparatedOutput=1" : ""),
                                        dir / (std::string(c.name) + (*corners != 0 ? "-scaled" : "") +
                                               (separated ? "-sep" : "") + ".pdf"));
        auto coverage = [&](const char* ink) {
          if (!separated) return tavtest::measurePlates(w.file).coverage.at(ink);
          return tavtest::measurePlates(w.file, tavtest::separationPage(w.file, ink)).coverage.at("Black");
        };
        EXPECT_NEAR(coverage("Magenta"), c.untouched ? 1.0 : 1.0 - spot, 0.005);
        EXPECT_NEAR(coverage("Spot"), spot, 0.005);
        // A tiling pattern wherever no ink is left untouched (in separated
        // output, at least on the spot plate).
        EXPECT_EQ(w.bytes.find("/PatternType 1") != std::string::npos, !c.untouched || separated);
      }
    }
  }
}

TEST(ExpandedPatterns, SoftMasksInACellMoveWithEveryTile) {
  // Magenta all over; a cell (20 x 20 points) holding a spot square of
  // 10 x 10 points whose soft mask hides its right half (black there, white
  // beyond). Every tile shows the left half only, the mask's objects moved
  // with it; a colour leaving magenta untouched leaves it at 100 % under the
  // halves as well (the cell is expanded like any other).
  tavtest::TestFolder dir;
  struct Case {
    const char* name;
    int colour;             // of the masked square
    bool expand;
    const char* corners;    // cells scaled to 40 x 40 points, or as they stand
    double spot;            // the spot plate's share of the page
    double x0, y0, cell;    // a square's top left corner away from the origin tile, its size (points)
  };
  const Case cases[] = {
      {"a tiling cell leaving magenta untouched", 6, false, "", 0.125, 20, 80, 10},
      {"an expanded fill knocking magenta out", 2, true, "", 0.125, 20, 80, 10},
      {"scaled, leaving magenta untouched", 6, false, R"(, "corners": [[0, 0], [0, 400], [400, 0]])", 0.15, 40, 60, 20},
  };
  for (const Case& c : cases) {
    const std::string members =
        std::string(kBase) + R"("paints": [{"id": 10, "type": "flat", "colour": 5},
          {"id": 11, "type": "flat", "colour": )" + std::to_string(c.colour) + R"(, "softMask": 3},
          {"id": 12, "type": "flat", "colour": 1},
          {"id": 20, "type": "pattern", "pattern": 1)" + (c.expand ? R"(, "expand": true)" : "") + R"(}],
        "patterns": [{"id": 1, "cell": [0, 0, 200, 200])" + c.corners + R"(, "objects": [)" + rect(0, 0, 100, 100, 11) +
        R"(]}, {"id": 3, "kind": "softMask", "objects": [)" + rect(0, 50, 200, 200, 12) +
        R"(]}], "objects": [)" + rect(0, 0, 1000, 2000, 10) + "," + rect(0, 0, 1000, 2000, 20) + "]";
    auto job = makeFineJob(members);
    for (const bool separated : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (separated ? " separated" : ""));
      const Written w = writeAccepted(*job, testSettings(separated ? "SeparatedOutput=1" : ""),
                                      dir / (std::to_string(&c - cases) + (separated ? "-sep" : "") + ".pdf"));
      auto plates = [&](const char* ink) {
        return separated ? tavtest::measurePlates(w.file, tavtest::separationPage(w.file, ink)) : tavtest::measurePlates(w.file);
      };
      const tavtest::Plates spot = plates("Spot"), magenta = plates("Magenta");
      const std::string spotPlate = separated ? "Black" : "Spot", magentaPlate = separated ? "Black" : "Magenta";
      const bool untouched = c.colour == 6;
      EXPECT_NEAR(spot.coverage.at(spotPlate), c.spot, 0.005);
      EXPECT_NEAR(magenta.coverage.at(magentaPlate), untouched ? 1.0 : 1.0 - c.spot, 0.005);
      // A square off the origin tile: its left half spot, its right half
      // not; magenta knocked out under the left half only where the colour
      // says so.
      const double left = c.x0 + c.cell / 4, right = c.x0 + 3 * c.cell / 4, y = c.y0 - c.cell / 2;
      tavtest::expectInks(spot, {{spotPlate, left, y, 1}, {spotPlate, right, y, 0}});
      tavtest::expectInks(magenta, {{magentaPlate, left, y, untouched ? 1.0 : 0.0}, {magentaPlate, right, y, 1}});
    }
  }
}

}  // namespace
}  // namespace doctest

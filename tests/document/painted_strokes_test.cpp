// Strokes painted with a gradient, a map or a placed picture: the area the
// stroke covers (its width, position, joins, caps and dashes) is filled with
// the paint as it lies on the page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document_support.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace doctest {
namespace {

// A 200 x 100 point page (v 0..100 downwards, h 0..200; PDF y = 100 - v).
// The spot ink ramps from 0 % at h 0 to 100 % at h 200.
const char* kBase = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
           {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Spot": 0}}, {"id": 2, "inks": {"Spot": 100}}],
)";

// An unfilled rectangle v 20..80, h 40..160, drawn from its top left corner
// rightwards, stroked 10 points wide.
std::string square(const std::string& stroke) {
  return R"({"kind": "path", "points": [[20, 40], [20, 160], [80, 160], [80, 40]], "stroke": {"width": 10, )" +
         stroke + "}}";
}

struct Flavour {
  const char* name;
  const char* settings;
  bool separated;
};
const Flavour kFlavours[] = {{"shading", "", false},
                             {"separated", "SeparatedOutput=1", true},
                             {"image", "OutputGradientsAsImages=1", false}};

TEST(PaintedStrokes, GradientAndPatternStrokesCoverTheirOutline) {
  tavtest::TestFolder dir;
  struct Case {
    const char* name;
    std::string stroke;
    // Points (h, v) and the spot ink there: the ramp's value h / 200 on the
    // stroke, nothing off it.
    std::vector<std::array<double, 3>> expected;
  };
  const Case cases[] = {
      {"centre", R"("paint": 11)",
       {{{40, 50, 0.2}}, {{30, 50, 0}}, {{48, 50, 0}}, {{160, 50, 0.8}}, {{100, 20, 0.5}}, {{100, 50, 0}}}},
      {"inside", R"("paint": 11, "position": "inside")",
       {{{45, 50, 0.225}}, {{37, 50, 0}}, {{53, 50, 0}}, {{155, 50, 0.775}}, {{100, 25, 0.5}}, {{100, 17, 0}}}},
      {"outside", R"("paint": 11, "position": "outside")",
       {{{35, 50, 0.175}}, {{43, 50, 0}}, {{165, 50, 0.825}}, {{100, 15, 0.5}}, {{100, 23, 0}}}},
      // 10 on, 10 off along the top edge from the top left corner (butt caps).
      {"dashed", R"("paint": 11, "dash": [10, 10])",
       {{{45, 20, 0.225}}, {{55, 20, 0}}, {{65, 20, 0.325}}, {{75, 20, 0}}}},
      // At the top left corner a miter fills the outer square, a bevel cuts it.
      {"miter", R"("paint": 11, "join": "miter")", {{{36, 16, 0.18}}, {{48, 28, 0}}}},
      {"bevel", R"("paint": 11, "join": "bevel")", {{{36, 16, 0}}, {{38, 18, 0.19}}}},
      // A radial gradient about the page's centre (100 % there, 0 % at 100
      // points and beyond).
      {"radial", R"("paint": 12)", {{{40, 50, 0.4}}, {{160, 50, 0.4}}, {{100, 50, 0}}}},
      // A pattern of solid spot cells: an inside stroke keeps to the inside.
      {"pattern inside", R"("paint": 14, "position": "inside")",
       {{{45, 50, 1}}, {{37, 50, 0}}, {{53, 50, 0}}, {{100, 25, 1}}, {{100, 17, 0}}}},
      // The same pattern expanded into objects: a centre stroke as well.
      {"expanded pattern", R"("paint": 15)", {{{40, 50, 1}}, {{33, 50, 0}}, {{47, 50, 0}}, {{100, 20, 1}}}},
  };
  const std::string paints = R"("paints": [
      {"id": 11, "type": "linear", "colour": 1, "colour2": 2, "start": [50, 0], "end": [50, 200]},
      {"id": 12, "type": "radial", "colour": 1, "colour2": 2, "start": [50, 0], "end": [50, 200]},
      {"id": 13, "type": "flat", "colour": 2}, {"id": 14, "type": "pattern", "pattern": 1},
      {"id": 15, "type": "pattern", "pattern": 1, "expand": true}],
    "patterns": [{"id": 1, "cell": [0, 0, 10, 10],
                  "objects": [{"kind": "path", "paint": 13, "points": [[0, 0], [0, 10], [10, 10], [10, 0]]}]}],)";
  for (const Case& c : cases) {
    auto job = makeJob(std::string(kBase) + paints + R"("objects": [)" + square(c.stroke) + "]");
    for (const Flavour& f : kFlavours) {
      SCOPED_TRACE(std::string(c.name) + ", " + f.name);
      const Written w = writeAccepted(*job, testSettings(f.settings), dir / (std::string(c.name) + f.name + ".pdf"));
      const tavtest::Plates plates = tavtest::measurePlates(w.file, 1, 144);
      const std::string ink = f.separated ? "Black" : "Spot";
      for (const auto& [h, v, expected] : c.expected) {
        EXPECT_NEAR(plates.inkAtPoint(ink, h, 100 - v), expected, 0.04) << "at h " << h << ", v " << v;
      }
    }
  }
}

TEST(PaintedStrokes, MapAndPictureStrokesFillTheirOutline) {
  // A gray picture that is black all over, as a map feeding the spot ink and
  // as a placed picture (black ink), both placed over the whole page.
  tavtest::TestFolder dir;
  tavtest::TiffLayout layout;
  layout.photometric = 0;  // min is white: 255 is full ink
  layout.sample = [](int, int, int) { return std::uint8_t(255); };
  writeTiff(dir / "black.tif", layout);
  const std::string file = (dir / "black.tif").string();
  const std::string place = R"("place": {"origin": [0, 0], "widthCorner": [0, 200], "heightCorner": [100, 0]})";
  const std::string members = std::string(kBase) + R"("maps": [{"id": 1, "files": [")" + file +
                              R"("], "channels": [{"ink": "Spot"}], "colour": 2, "width": 8, "height": 4}],
      "pictures": [{"id": 1, "file": ")" + file + R"("}],
      "paints": [{"id": 11, "type": "map", "map": 1, )" + place + R"(},
                 {"id": 12, "type": "picture", "picture": 1, )" + place + "}],";
  struct Case {
    const char* name;
    int paint;
    const char* ink;
  };
  for (const Case& c : {Case{"map", 11, "Spot"}, Case{"picture", 12, "Black"}}) {
    SCOPED_TRACE(c.name);
    auto job = makeJob(members + R"("objects": [)" + square("\"paint\": " + std::to_string(c.paint)) + "]");
    const Written w = writeAccepted(*job, testSettings(), dir / (std::string(c.name) + ".pdf"));
    const tavtest::Plates plates = tavtest::measurePlates(w.file);
    EXPECT_NEAR(plates.inkAtPoint(c.ink, 40, 50), 1.0, 0.02) << plates.summary();
    EXPECT_NEAR(plates.inkAtPoint(c.ink, 100, 20 + 60), 1.0, 0.02);
    EXPECT_NEAR(plates.inkAtPoint(c.ink, 100, 50), 0.0, 0.01);
    EXPECT_NEAR(plates.inkAtPoint(c.ink, 20, 50), 0.0, 0.01);
  }
}

}  // namespace
}  // namespace doctest

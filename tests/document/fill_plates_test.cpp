// Gradient, gradation, pattern and transparent fills as the plates show them:
// the ink a reader puts on each plate follows the geometry the job describes.
#include <gtest/gtest.h>

#include <cmath>

#include "document_support.h"
#include "platform/kernel/colorspace.h"
#include "support/consumers.h"

namespace doctest {
namespace {

// A 200 x 100 point page (v 0..100 downwards, h 0..200); PDF y = 100 - v.
// A spot ink and black; colours: spot 0 %, spot 100 %, black 100 %, cyan 100 %.
const char* kInks = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
           {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Spot": 0}}, {"id": 2, "inks": {"Spot": 100}},
              {"id": 3, "inks": {"Black": 100}}, {"id": 4, "inks": {"Cyan": 100}},
              {"id": 5, "inks": {"Cyan": 0}, "others": 255}, {"id": 6, "inks": {"Spot": 100, "Cyan": 0}, "others": 255}],
)";

std::string job(const std::string& paints, const std::string& objects, const std::string& more = "") {
  return std::string(kInks) + R"("paints": )" + paints + R"(, "objects": )" + objects + more;
}

std::string box(int top, int left, int bottom, int right, int paint) {
  auto n = [](int v) { return std::to_string(v); };
  return R"({"kind": "path", "paint": )" + n(paint) + R"(, "points": [[)" + n(top) + ", " + n(left) +
         "], [" + n(top) + ", " + n(right) + "], [" + n(bottom) + ", " + n(right) + "], [" + n(bottom) +
         ", " + n(left) + "]]}";
}

// Ink of `ink` along the row at height v (PDF y = 100 - v), at h = from..to.
std::vector<double> row(const tavtest::Plates& plates, const std::string& ink, int v, int from, int to) {
  std::vector<double> out;
  for (int h = from; h <= to; h += 10) out.push_back(plates.inkAtPoint(ink, h + 0.5, 100 - v - 0.5));
  return out;
}

// Composite output, and separated output where each separation is a page of
// its own whose ink is drawn in gray (the "Black" plate of that page).
// Gradients rendered as images have the same geometry.
struct Flavour { const char* name; const char* settings; bool separated; };
const Flavour kFlavours[] = {{"composite", "", false}, {"separated", "SeparatedOutput=1", true}};
const Flavour kGradientFlavours[] = {kFlavours[0], kFlavours[1], {"images", "OutputGradientsAsImages=1", false}};

// The plates that show `ink` and the name it has there; `page` is the ink's
// page in separated output (in the job's order of the used inks).
std::pair<tavtest::Plates, std::string> platesOf(const Flavour& f, const Written& w, const std::string& ink,
                                                 int page) {
  if (!f.separated) return {tavtest::measurePlates(w.file), ink};
  return {tavtest::measurePlates(w.file, page), "Black"};
}

TEST(FillPlates, GradientsFollowTheirGeometry) {
  tavtest::TestFolder dir;
  // A linear spot gradient 0 -> 100 % left to right over h 0..100, and a
  // radial one over h 100..200 (diameter from h 110 to 190 at v 50): spot
  // 0 % on the circle, 100 % at the centre.
  const std::string paints = R"([
    {"id": 10, "type": "linear", "colour": 1, "colour2": 2, "start": [50, 0], "end": [50, 100]},
    {"id": 11, "type": "radial", "colour": 1, "colour2": 2, "start": [50, 110], "end": [50, 190]}])";
  auto j = makeJob(job(paints, "[" + box(0, 0, 100, 100, 10) + "," + box(0, 100, 100, 200, 11) + "]"));
  for (const Flavour& f : kGradientFlavours) {
    SCOPED_TRACE(f.name);
    Written w = writeAccepted(*j, testSettings(f.settings), dir / (std::string(f.name) + ".pdf"));
    const auto [plates, spot] = platesOf(f, w, "Spot", 1);
    // Half the ink over the linear gradient's box, rising along its axis.
    const std::vector<double> linear = row(plates, spot, 50, 0, 90);
    double sum = 0;
    for (std::size_t i = 0; i < linear.size(); ++i) {
      sum += linear[i];
      if (i > 0) {
        EXPECT_GT(linear[i], linear[i - 1]) << i;
      }
      EXPECT_NEAR(linear[i], (10.0 * i + 0.5) / 100, 0.03) << i;
    }
    EXPECT_NEAR(sum / linear.size(), 0.5, 0.05);
    // The radial one: full at the centre, falling to nothing at the circle
    // and beyond, the same in every direction.
    EXPECT_NEAR(plates.inkAtPoint(spot, 150, 50), 1.0, 0.03) << plates.summary();
    const double halfway = plates.inkAtPoint(spot, 170, 50);
    EXPECT_NEAR(halfway, 0.5, 0.05);
    EXPECT_NEAR(plates.inkAtPoint(spot, 150, 70), halfway, 0.03);
    EXPECT_NEAR(plates.inkAtPoint(spot, 130, 50), halfway, 0.03);
    EXPECT_NEAR(plates.inkAtPoint(spot, 195, 50), 0.0, 0.01);
    EXPECT_NEAR(plates.inkAtPoint(spot, 150, 5), 0.0, 0.01);
  }
}

TEST(FillPlates, GradationStepsLieAtTheirPositions) {
  tavtest::TestFolder dir;
  struct Case {
    const char* name;
    std::string paint;
    // (h, v) of a point and the spot ink expected there.
    std::vector<std::array<double, 3>> expected;
  };
  const Case cases[] = {
      // 0 % at 20, 100 % at 80, back to 0 % at 140 (midpoints halfway); before
      // the first and after the last step their colours continue.
      {"horizontal",
       R"({"id": 10, "type": "gradation", "start": [0, 0], "steps": [{"colour": 1, "position": 20},
           {"colour": 2, "position": 80}, {"colour": 1, "position": 140}], "length": 200})",
       {{{10, 50, 0}}, {{50, 50, 0.5}}, {{80, 50, 1}}, {{110, 50, 0.5}}, {{170, 50, 0}}}},
      // A midpoint near the first step: 50 % already 15 units after it.
      {"midpoint",
       R"({"id": 10, "type": "gradation", "start": [0, 20], "steps": [{"colour": 1, "position": 0, "midpoint": 15},
           {"colour": 2, "position": 100}]})",
       {{{35, 50, 0.5}}, {{120, 50, 1}}, {{10, 50, 0}}}},
      // Vertical: downwards from v 10.
      {"vertical",
       R"({"id": 10, "type": "gradation", "form": "vertical", "start": [10, 0], "steps": [{"colour": 1, "position": 0},
           {"colour": 2, "position": 80}]})",
       {{{100, 90, 0}}, {{100, 50, 0.5}}, {{100, 10, 1}}}},
      // Circular about (v 50, h 100), radius 40: full at the centre, nothing
      // from the rim outwards.
      {"circular",
       R"({"id": 10, "type": "gradation", "form": "circular", "start": [50, 100], "box": [10, 60, 90, 140],
           "steps": [{"colour": 2, "position": 0}, {"colour": 1, "position": 40}]})",
       {{{100, 50, 1}}, {{120, 50, 0.5}}, {{100, 30, 0.5}}, {{150, 50, 0}}}},
      // The form "other": rectangles shaped like the box (120 x 60) about
      // (v 50, h 100); full at the centre, half at 30 across (15 down), none
      // from 60 across outwards. Always an image.
      {"other",
       R"({"id": 10, "type": "gradation", "form": "other", "start": [50, 100], "box": [20, 40, 80, 160],
           "steps": [{"colour": 2, "position": 0}, {"colour": 1, "position": 60}]})",
       {{{100, 50, 1}}, {{130, 50, 0.5}}, {{70, 50, 0.5}}, {{100, 65, 0.5}}, {{100, 35, 0.5}}, {{170, 50, 0}},
        {{100, 85, 0}}}},
      // Turned by the matrix: the horizontal axis runs downwards.
      {"matrix",
       R"({"id": 10, "type": "gradation", "start": [10, 0], "matrix": [0, 1, 1, 0], "steps": [{"colour": 1, "position": 0},
           {"colour": 2, "position": 80}]})",
       {{{100, 90, 0}}, {{100, 50, 0.5}}, {{100, 10, 1}}}},
  };
  for (const Case& c : cases) {
    for (bool images : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (images ? " as an image" : " as a shading"));
      auto j = makeJob(job("[" + c.paint + "]", "[" + box(0, 0, 100, 200, 10) + "]"));
      Written w = writeAccepted(*j, testSettings(images ? "OutputGradientsAsImages=1" : ""), dir / (std::string(c.name) + ".pdf"));
      const auto plates = tavtest::measurePlates(w.file);
      for (const auto& [h, y, ink] : c.expected) {
        EXPECT_NEAR(plates.inkAtPoint("Spot", h, y), ink, 0.04) << "at h " << h << ", y " << y;
      }
    }
  }
}

TEST(FillPlates, PatternsTileAndOpacityHalvesTheInk) {
  tavtest::TestFolder dir;
  // A 20 x 20 cell holding a 10 x 10 black square tiles a quarter of black;
  // turned corners tile the same share. Cyan at 50 % opacity over a
  // knocked-out (white) background gives half the cyan; so does a spot
  // gradient at 50 % that knocks out cyan below itself (one transparency
  // group for the knockout and the shading).
  const std::string paints = R"([
    {"id": 10, "type": "pattern", "pattern": 1}, {"id": 11, "type": "pattern", "pattern": 2},
    {"id": 12, "type": "flat", "colour": 3}, {"id": 13, "type": "flat", "colour": 4, "opacity": 50},
    {"id": 14, "type": "flat", "colour": 1},
    {"id": 15, "type": "linear", "colour": 6, "colour2": 6, "start": [0, 120], "end": [0, 140], "opacity": 50}])";
  const std::string patterns = R"(, "patterns": [
    {"id": 1, "cell": [0, 0, 20, 20], "objects": [)" + box(0, 0, 10, 10, 12) + R"(]},
    {"id": 2, "cell": [0, 0, 20, 20], "corners": [[0, 100], [20, 100], [0, 80]], "objects": [)" +
                               box(0, 0, 10, 10, 12) + "]}]";
  const std::string objects = "[" + box(0, 0, 100, 60, 10) + "," + box(0, 60, 100, 120, 11) + "," +
                              box(0, 140, 100, 200, 14) + "," + box(0, 140, 100, 200, 13) + "," +
                              box(0, 120, 100, 140, 15) + "]";
  auto j = makeJob(job(paints, objects, patterns));
  for (const Flavour& f : kFlavours) {
    SCOPED_TRACE(f.name);
    Written w = writeAccepted(*j, testSettings(f.settings), dir / (std::string(f.name) + ".pdf"));
    // Cyan, black and the spot ink are the used inks, in this order.
    const auto [plates, black] = platesOf(f, w, "Black", 2);
    // Sample the black plate on a grid over each patterned box.
    for (int from : {0, 60}) {
      double sum = 0;
      int n = 0;
      for (int h = from; h < from + 60; ++h) {
        for (int y = 0; y < 100; ++y, ++n) sum += plates.inkAtPoint(black, h + 0.5, y + 0.5);
      }
      EXPECT_NEAR(sum / n, 0.25, 0.03) << "box at " << from << ": " << plates.summary();
    }
    // The first cell's square: black at its top left corner.
    EXPECT_NEAR(plates.inkAtPoint(black, 5, 95), 1.0, 0.01);
    EXPECT_NEAR(plates.inkAtPoint(black, 15, 95), 0.0, 0.01);
    const auto [cyanPlates, cyan] = platesOf(f, w, "Cyan", 1);
    EXPECT_NEAR(cyanPlates.inkAtPoint(cyan, 170, 50), 0.5, 0.02) << cyanPlates.summary();
    const auto [spotPlates, spot] = platesOf(f, w, "Spot", 3);
    EXPECT_NEAR(spotPlates.inkAtPoint(spot, 130, 50), 0.5, 0.02) << spotPlates.summary();
    // Separated pages knock nothing out below a gradient: no group there.
    EXPECT_EQ(w.bytes.find("/Group_") != std::string::npos, !f.separated);
  }
  // With dot gain the inks select their transfer states inside the patterns
  // and the group as well: every name is defined where it is used.
  ColorSpace::SetUseTRDotgain(true);  // as the export driver does with dot gain
  const Written d = writeAccepted(*j, testSettings("EnableDotgain=1"), dir / "dotgain.pdf");
  ColorSpace::SetUseTRDotgain(false);
  EXPECT_NE(d.bytes.find("/TR_1 gs"), std::string::npos);
}

}  // namespace
}  // namespace doctest

// Inks a gradient's colours leave untouched keep what lies below them on
// every plate, whether the gradient is a shading or an image, composite or
// separated; the inks the colours do touch follow the ramp.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "document_support.h"
#include "platform/kernel/colorspace.h"
#include "support/consumers.h"

namespace doctest {
namespace {

// A 200 x 100 point page (v 0..100 downwards, h 0..200; PDF y = 100 - v).
// Below everything: Magenta 100 % and the spot ink at 40 %.
const char* kInks = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
)";
const char* kColours = R"(
  "colours": [{"id": 1, "inks": {"Magenta": 100, "Spot": 40}},
              {"id": 2, "inks": {"Cyan": 0}, "others": 255},
              {"id": 3, "inks": {"Cyan": 100}, "others": 255},
              {"id": 4, "inks": {"Yellow": 60}, "others": 255},
              {"id": 5, "inks": {"Cyan": 100, "Yellow": 0}, "others": 255}],
)";

const char* kPage = R"({"kind": "path", "paint": 10, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]})";

struct Flavour {
  const char* name;
  const char* settings;
  bool separated;
};
const Flavour kFlavours[] = {{"composite", "", false},
                             {"separated", "SeparatedOutput=1", true},
                             {"composite images", "OutputGradientsAsImages=1", false},
                             {"separated images", "SeparatedOutput=1 OutputGradientsAsImages=1", true},
                             // With dot gain the inks are spaces of their own.
                             {"dot gain", "EnableDotgain=1", false},
                             {"dot gain images", "EnableDotgain=1 OutputGradientsAsImages=1", false}};

// Each gradient fills the page from its start colour (near h 0, or on the
// rim of a radial one) to its end colour (near h 200, or at the centre).
struct Case {
  const char* name;
  std::string paint;   // paint 11 with colours A and B
  double startH;       // where the start colour shows (at v 50)
  double endH;         // where the end colour shows
};

std::vector<Case> gradients(int a, int b) {
  const std::string c = "\"colour\": " + std::to_string(a) + ", \"colour2\": " + std::to_string(b);
  const std::string steps = "[{\"colour\": " + std::to_string(a) + ", \"position\": 0}, {\"colour\": " +
                            std::to_string(b) + ", \"position\": 200}]";
  return {
      {"linear", R"({"id": 11, "type": "linear", )" + c + R"(, "start": [50, 0], "end": [50, 200]})", 3, 197},
      {"radial", R"({"id": 11, "type": "radial", )" + c + R"(, "start": [50, 0], "end": [50, 200]})", 2, 100},
      {"gradation", R"({"id": 11, "type": "gradation", "start": [50, 0], "steps": )" + steps + "}", 3, 197},
      {"circular gradation",
       R"({"id": 11, "type": "gradation", "form": "circular", "start": [50, 100], "box": [-50, 0, 150, 200],
           "steps": [{"colour": )" + std::to_string(b) + R"(, "position": 0}, {"colour": )" + std::to_string(a) +
           R"(, "position": 100}]})", 2, 100},
      {"rectangular gradation",
       R"({"id": 11, "type": "gradation", "form": "other", "start": [50, 100], "box": [0, 0, 100, 200],
           "steps": [{"colour": )" + std::to_string(b) + R"(, "position": 0}, {"colour": )" + std::to_string(a) +
           R"(, "position": 100}]})", 3, 100},
  };
}

// The ink at h on the row v 50, on the composite plates or on the ink's own
// page of a separated file (each page measured once).
class Measured {
 public:
  Measured(const Flavour& f, const Written& w) : f_(f), w_(w) {}
  double inkAt(const std::string& ink, double h) {
    const int page = f_.separated ? tavtest::separationPage(w_.file, ink) : 1;
    auto it = plates_.find(page);
    if (it == plates_.end()) it = plates_.emplace(page, tavtest::measurePlates(w_.file, page)).first;
    return it->second.inkAtPoint(f_.separated ? "Black" : ink, h, 50);
  }

 private:
  const Flavour& f_;
  const Written& w_;
  std::map<int, tavtest::Plates> plates_;
};

TEST(UntouchedInks, GradientsLeaveTheInksTheirColoursDoNotTouch) {
  tavtest::TestFolder dir;
  struct Colours {
    const char* name;
    int a, b;
    // Expected at the start and at the end of the ramp.
    std::vector<std::tuple<const char*, double, double>> ramps;
  };
  const Colours colourCases[] = {
      // Both colours name cyan only: everything else shows through.
      {"cyan only", 2, 3, {{"Cyan", 0.0, 1.0}}},
      // Only the start colour leaves cyan untouched: cyan still ramps up
      // from nothing, yellow (named by both) ramps down.
      {"first colour leaves cyan", 4, 5, {{"Cyan", 0.0, 1.0}, {"Yellow", 0.6, 0.0}}},
  };
  for (const Colours& colours : colourCases) {
    for (const Case& c : gradients(colours.a, colours.b)) {
      auto job = makeJob(std::string(kInks) + kColours + R"("paints": [{"id": 10, "type": "flat", "colour": 1}, )" +
                         c.paint + R"(], "objects": [)" + kPage + ", " +
                         R"({"kind": "path", "paint": 11, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]}])");
      for (const Flavour& f : kFlavours) {
        SCOPED_TRACE(std::string(colours.name) + ", " + c.name + ", " + f.name);
        const bool dotGain = std::string(f.settings).find("EnableDotgain") != std::string::npos;
        // Dot gain changes the spaces, not the geometry: two gradients do.
        if (dotGain && std::string(c.name) != "linear" && std::string(c.name) != "gradation") continue;
        ColorSpace::SetUseTRDotgain(dotGain);  // as the export driver does with dot gain
        const Written w = writeAccepted(*job, testSettings(f.settings),
                                        dir / (std::string(colours.name) + c.name + f.name + ".pdf"));
        ColorSpace::SetUseTRDotgain(false);
        Measured m(f, w);
        for (double h : {c.startH, 60.0, c.endH}) {
          EXPECT_NEAR(m.inkAt("Magenta", h), 1.0, 0.01) << "at h " << h;
          EXPECT_NEAR(m.inkAt("Spot", h), 0.4, 0.01) << "at h " << h;
        }
        for (const auto& [ink, start, end] : colours.ramps) {
          EXPECT_NEAR(m.inkAt(ink, c.startH), start, 0.06) << ink;
          EXPECT_NEAR(m.inkAt(ink, c.endH), end, 0.06) << ink;
        }
      }
    }
  }
}

TEST(UntouchedInks, GradientsThatTouchEveryInkKeepTheirSpace) {
  // Colours that name every ink (the others at 0): the shading stays in
  // DeviceCMYK without overprint, the inks at 0 in both colours knocked out
  // below it.
  tavtest::TestFolder dir;
  auto job = makeJob(std::string(kInks) + R"("colours": [{"id": 1, "inks": {"Magenta": 100, "Spot": 40}},
      {"id": 6, "inks": {"Cyan": 20}}, {"id": 7, "inks": {"Cyan": 100}}],
      "paints": [{"id": 10, "type": "flat", "colour": 1},
                 {"id": 11, "type": "linear", "colour": 6, "colour2": 7, "start": [50, 0], "end": [50, 200]}],
      "objects": [)" + kPage + R"(, {"kind": "path", "paint": 11, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]}])");
  const Written w = writeAccepted(*job, testSettings(), dir / "plain.pdf");
  EXPECT_NE(w.bytes.find("/ColorSpace /DeviceCMYK"), std::string::npos);
  EXPECT_EQ(w.bytes.find("/op1 gs"), std::string::npos);
  const auto plates = tavtest::measurePlates(w.file);
  EXPECT_NEAR(plates.inkAtPoint("Magenta", 100, 50), 0.0, 0.01);
  EXPECT_NEAR(plates.inkAtPoint("Spot", 100, 50), 0.0, 0.01);
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 100, 50), 0.6, 0.03);
}

}  // namespace
}  // namespace doctest

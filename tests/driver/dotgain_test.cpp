// Dot gain through the whole export: the plates Ghostscript renders move as
// the transfer table of each ink says, composite and separated.
#include <gtest/gtest.h>

#include <cmath>

#include "colour/transfer.h"
#include "driver_support.h"
#include "platform/kernel/dotgain.h"
#include "support/consumers.h"

namespace drivertest {
namespace {

// Cyan and Orange have curves (one lowers, one raises the tint); Magenta and
// Green have none.
const char* kCurves = R"(tavpdf-dotgain 1
curve Cyan
0 0
50 34
100 100
curve Warm smooth
0 0
30 45
50 66
100 100
)";

const char* kInks = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                    R"({"name":"Orange","cmyk":[0,50,100,0],"dotgainCurve":"Warm"},)"
                    R"({"name":"Green","cmyk":[80,0,100,0]}])";

// The ink a 50 % tint leaves on the plate through the slot's transfer table:
// the renderer looks the complement 0.5 up between samples 127 and 128.
double expectedHalfTint(const jobstr& job, const TavSys::filref& file, int slot) {
  auto dots = CreateDotJob();
  EXPECT_EQ(dotgainLoadFile(&job, dots.get(), file, slot), 0);
  double table[256];
  if (!MakeTransferTable(dots.get(), 0, table)) return 0.5;
  return 1.0 - (table[127] + table[128]) / 2;
}

TEST(ExportDotgain, PlatesFollowTheTransferTable) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "curves.txt", kCurves);
  const TavSys::filref curves((dir / "curves.txt").string());
  // One 50 % square per ink, 1000 units (100 points) apart.
  auto job = loadJob(colouredSquares(
      kInks, {R"({"Cyan":50})", R"({"Magenta":50})", R"({"Orange":50})", R"({"Green":50})"}));
  const double cyan = expectedHalfTint(*job, curves, 0), orange = expectedHalfTint(*job, curves, 2);
  ASSERT_GE(std::abs(cyan - 0.5), 0.08);
  ASSERT_GE(std::abs(orange - 0.5), 0.08);
  const std::pair<const char*, double> inks[] = {
      {"Cyan", cyan}, {"Magenta", 0.5}, {"Orange", orange}, {"Green", 0.5}};

  for (const char* name : {"Press", "Separated"}) {
    SCOPED_TRACE(name);
    const auto pdf = dir / (std::string(name) + ".pdf");
    exportAccepted(job.get(), flavour(name, "EnableDotgain=True DotgainFile=" + curves.getFullPathAsUtf8()), pdf);
    const bool separated = std::string(name) == "Separated";
    for (std::size_t i = 0; i < std::size(inks); ++i) {
      const auto plates = tavtest::measurePlates(pdf, separated ? int(i) + 1 : 1);
      // Square i lies 100 points further down, 1 inch from the left.
      const double y = 720 - 72 - 45 - 100.0 * double(i);
      EXPECT_NEAR(plates.inkAtPoint(inks[i].first, 117, y), inks[i].second, 0.01)
          << inks[i].first << ": " << plates.summary();
    }
  }
}

TEST(ExportDotgain, AFileThatCannotBeUsedIsSaidOnceAndTheInksGoWithout) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "broken.txt", "tavpdf-dotgain 1\ncurve Cyan\n0 0\n50 40\n40 60\n100 100\n");
  auto job = loadJob(colouredSquares(kInks, {R"({"Cyan":50,"Orange":50})", R"({"Magenta":50})"}));
  const std::pair<const char*, const char*> cases[] = {{"missing.txt", "No such file"},
                                                      {"broken.txt", "line 5, column 1"}};
  for (const auto& [file, reason] : cases) {
    const std::string path = (dir / file).string();
    // The colours still select their transfer states, which leave the
    // device's transfer in force.
    const ExportRun run =
        exportAccepted(job.get(), flavour("Press", "EnableDotgain=True DotgainFile=" + path), dir / "out.pdf");
    ASSERT_EQ(run.count("DOTGAIN NOT FOUND"), 1) << run.keys();
    const TavGen::Message& m = run.message("DOTGAIN NOT FOUND");
    EXPECT_EQ(m.severity, TavGen::kBatchError);
    EXPECT_NE(m.text.find(path), std::string::npos) << m.text;
    EXPECT_NE(m.text.find(reason), std::string::npos) << m.text;
    EXPECT_NEAR(tavtest::measurePlates(dir / "out.pdf").inkAtPoint("Cyan", 117, 720 - 117), 0.5, 0.01);
  }
}

// An ink the separation map sends onto another prints on that ink's plate,
// and with that ink's curve; without the separation map it keeps its own
// plate and curve (the next export of the same job included).
TEST(ExportDotgain, RemappedInksTakeTheCurveOfTheirTarget) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "curves.txt", kCurves);
  const TavSys::filref curves((dir / "curves.txt").string());
  const std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                           R"({"name":"Orange","cmyk":[0,50,100,0],"dotgainCurve":"Warm","mapTo":"Cyan"}])";
  auto job = loadJob(colouredSquares(inks, {R"({"Orange":50})"}));
  const double cyan = expectedHalfTint(*job, curves, 0), orange = expectedHalfTint(*job, curves, 2);
  ASSERT_GE(orange - cyan, 0.2);
  struct Case {
    const char* disabler;
    const char* plate;
    double share;
  };
  for (const Case& c : {Case{"1", "Cyan", cyan}, Case{"0", "Orange", orange}}) {
    SCOPED_TRACE(std::string("UseSeparationDisabler=") + c.disabler);
    exportAccepted(job.get(),
                   flavour("Press", std::string("UseSeparationDisabler=") + c.disabler +
                                        " EnableDotgain=True DotgainFile=" + curves.getFullPathAsUtf8()),
                   dir / "out.pdf");
    const auto plates = tavtest::measurePlates(dir / "out.pdf");
    EXPECT_NEAR(plates.inkAtPoint(c.plate, 117, 720 - 117), c.share, 0.01) << plates.summary();
  }
  EXPECT_EQ(job->separations[2].parametersOf, -1) << "the job keeps its own parameters";
}

}  // namespace
}  // namespace drivertest

// Dot-gain files: what the reader refuses (with line and column), how curves
// are sampled, and which curve an ink gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "platform/kernel/dotgain.h"
#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

std::string refusal(const std::string& text) {
  try {
    ParseDotgainCurves(text);
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "DOTGAIN NOT FOUND");
    return e.detail();
  }
  return "accepted";
}

TEST(DotgainFile, MalformedFilesAreRefusedWithTheirPlace) {
  const std::string h = "tavpdf-dotgain 1\n";
  const std::pair<std::string, const char*> cases[] = {
      {"", "the file is empty"},
      {"tavpdf-dotgain 2\n", "line 1, column 16: only version 1"},
      {"curve A\n0 0\n100 100\n", "line 1, column 1: a dot-gain file begins with"},
      {h + "0 0\n", "line 2, column 1: a pair of percentages before the first"},
      {h + "bend A\n", "line 2, column 1: expected \"curve\""},
      {h + "curve\n", "line 2, column 6: the curve's name is missing"},
      {h + "curve \"A\n", "line 2, column 7: the name's closing quote is missing"},
      {h + "curve \"A\\x\"\n", "line 2, column 9: only"},
      {h + "curve A\"B\n", "line 2, column 7: a quote inside a name"},
      {h + "curve A cubic\n", "line 2, column 9: the interpolation is"},
      {h + "curve A\n0 0\n100 100\ncurve A\n", "line 5, column 7: a second curve named \"A\""},
      {h + "curve A\n0 0\n", "line 2, column 1: the curve \"A\" needs at least two pairs"},
      {h + "curve A\n0 0\n50 60\ncurve B\n", "line 2, column 1: the curve \"A\" must end with the input 100"},
      {h + "curve A\n5 0\n", "line 3, column 1: the curve \"A\" must begin with the input 0"},
      {h + "curve A\n0 0\n50 40\n40 60\n", "line 5, column 1: the input 40 is not above"},
      {h + "curve A\n0 0\n50 40\n60 30\n", "line 5, column 4: the output 30 is below"},
      {h + "curve A\n0 0\n50 101\n", "line 4, column 4: the output 101 % is above 100"},
      {h + "curve A\n0 0\n50 -3\n", "line 4, column 4: \"-3\" is not a number"},
      {h + "curve A\n0 0\n50 1e1\n", "line 4, column 4: \"1e1\" is not a number"},
      {h + "curve A\n0 0\n50\n", "line 4, column 3: the output percentage is missing"},
      {h + "curve A\n0 0 0\n", "line 3, column 5: unexpected \"0\""},
      {h + "curve A\xff\n", "not UTF-8"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_NE(refusal(text).find(expected), std::string::npos) << refusal(text) << "\nfor: " << text;
  }
}

TEST(DotgainFile, NamesCommentsAndLineEndsAreRead) {
  const auto curves = ParseDotgainCurves(
      "# press 4\r\n  tavpdf-dotgain 1  # version\r\n\r\ncurve \"PANTONE 185 \\\"C\\\\\" linear\r\n"
      "0 0\r\n\t50.5  62 # measured\r\n100 100.0\r\ncurve Cyan smooth\n0 0\n100 90");
  ASSERT_EQ(curves.size(), 2u);
  EXPECT_EQ((std::array{curves[0].name, curves[1].name}), (std::array<std::string, 2>{"PANTONE 185 \"C\\", "Cyan"}));
  EXPECT_TRUE(curves[0].linear && !curves[1].linear);
  EXPECT_EQ(curves[0].points, (std::vector<std::pair<double, double>>{{0, 0}, {50.5, 62}, {100, 100}}));
}

TEST(DotgainFile, CurvesAreSampledWithoutOvershoot) {
  // The inputs 0, 20, 60 and 100 % fall on samples 0, 51, 153 and 255.
  const std::vector<std::pair<double, double>> steep{{0, 0}, {20, 60}, {60, 62}, {100, 100}};
  for (const bool linear : {true, false}) {
    const auto d = SampleDotgainCurve({"A", linear, steep});
    EXPECT_EQ((std::array{d[0], d[51], d[153], d[255]}), (std::array{0.0, 0.6, 0.62, 1.0}));
    // Never down, and within its pairs between them.
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end())) << linear;
    for (std::size_t i = 51; i <= 153; ++i) EXPECT_LE(d[i], 0.62) << i;
    if (linear) {
      EXPECT_NEAR(d[102], 0.61, 0.001);
    }
  }
  const auto identity = SampleDotgainCurve({"I", false, {{0, 0}, {100, 100}}});
  for (std::size_t i = 0; i < 256; ++i) EXPECT_NEAR(identity[i], double(i) / 255, 1e-12) << i;
}

TEST(DotgainFile, EachInkGetsTheCurveItNamesOrTheOneOfItsName) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "curves.txt", "tavpdf-dotgain 1\ncurve Cyan\n0 0\n100 80\n"
                                         "curve Press linear\n0 0\n100 60\n");
  auto job = TavKernel::loadJobFromMemory(
      R"({"format": "tavpdf-job", "ppi": 72, "boxes": {"media": [0, 0, 10, 10]},
          "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
                   {"name": "Orange", "cmyk": [0, 50, 100, 0], "dotgainCurve": "Press"},
                   {"name": "Green", "cmyk": [80, 0, 100, 0], "dotgainCurve": "Offset"}],
          "objects": []})",
      dir.path());
  const TavSys::filref file((dir / "curves.txt").string());
  // Per ink: the table's last value, -1 for none; Green asks for a curve
  // the file lacks, which fails the load.
  const std::pair<int, double> cases[] = {{0, 0.8}, {1, -1}, {2, 0.6}, {3, -1}};
  double table[256];
  for (const auto& [separation, last] : cases) {
    auto dots = CreateDotJob();
    EXPECT_EQ(dotgainLoadFile(job.get(), dots.get(), file, separation) == 0, separation != 3);
    EXPECT_EQ(dots->MakeDotTable(table, 0) ? table[255] : -1.0, last) << separation;
    EXPECT_EQ(dots->HasDotgain(separation), last >= 0);
  }
  auto dots = CreateDotJob();
  EXPECT_NE(dotgainLoadFile(job.get(), dots.get(), file, -1), 0);
  EXPECT_NE(dots->GetLoadError().find("\"Offset\", which the ink \"Green\""), std::string::npos);
  // Every ink at once: tables in slot order.
  job->separations[3].dotgainCurve.clear();
  ASSERT_EQ(dotgainLoadFile(job.get(), dots.get(), file, -1), 0);
  EXPECT_TRUE(dots->HasDotgain(0) && dots->HasDotgain(2) && !dots->HasDotgain(1));
  EXPECT_TRUE(dots->MakeDotTable(table, 1) && table[255] == 0.6);
  // Files that cannot be read at all leave no table.
  for (const auto& path : {dir / "missing.txt", dir.path(), std::filesystem::path("/dev/zero")}) {
    EXPECT_NE(dotgainLoadFile(job.get(), dots.get(), TavSys::filref(path.string()), -1), 0) << path;
    EXPECT_FALSE(dots->MakeDotTable(table, 0));
  }
}

}  // namespace

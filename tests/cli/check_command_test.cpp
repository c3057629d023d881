// tavpdf check as a user runs it: exit status, what it prints, and that a bad
// job leaves the folder as it was.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/consumers.h"

namespace fs = std::filesystem;
using tavtest::folderListing;

TEST(CheckCommand, ExamplesPassWithASummary) {
  const fs::path examples = tavtest::sourceDir() / "examples";
  auto r = tavtest::runTavpdf({"check", (examples / "label.json").string(), (examples / "carton.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(r.err, "");
  for (const char* text : {"2540 ppi", "inks: 8", "4 PANTONE 185 C (spot)", "Varnish (spot, varnish)",
                           "0 Cyan (process cyan)", "trim [1000 1000 6000 9000]",
                           "3 layers, 0 groups, 1 compound paths, 8 paths", "one-up "})
    EXPECT_THAT(r.out, ::testing::HasSubstr(text));
  // The barcodes of a job: symbology, type code, data and place.
  auto b = tavtest::runTavpdf({"check", (examples / "barcodes.json").string()});
  EXPECT_EQ(b.exitCode, 0) << b.describe();
  for (const char* text : {"barcodes: 10\n", "    EAN-13 (type 6) \"501234567890\" [1000 1000 ",
                           "    GS1_DataBar-14_Stacked_Omni (type 29) \"0950110153000\""})
    EXPECT_THAT(b.out, ::testing::HasSubstr(text));
}

// Each kind of bad job, under check and under export: exit status 2, one
// message line naming the place, and the folder left as it was.
TEST(CheckCommand, BadJobsExitTwoWithTheirPlaceAndWriteNothing) {
  tavtest::TestFolder dir;
  std::string many = R"({"ppi": 72, "inks": [)";
  for (int i = 0; i < 65; ++i) many += std::string(i ? "," : "") + R"({"name": "I)" + std::to_string(i) + R"(", "cmyk": [0, 0, 0, 9]})";
  const std::pair<std::string, std::string> jobs[] = {
      {"{\"ppi\": ", "broken.json: /: not valid JSON"},
      {R"({"ppi": "72"})", "wrongtype.json: /ppi: expected a number, found a string"},
      {R"({"ppi": 72, "objects": [{"kind": "circle"}]})", "kind.json: /objects/0/kind: unknown value \"circle\""},
      {R"({"ppi": 0})", "ppi.json: /ppi: the resolution must be greater than 0"},
      {R"({"ppi": 1e999})", "infinite.json: /: not valid JSON"},
      {"{\"ppi\": 72, \"name\": \"\xFF\"}", "utf8.json: /: not valid JSON"},
      {many + "]}", "inks.json: /inks: the job has 65 inks; at most 64 are possible"},
      {R"({"ppi": 72, "objects": [{"kind": "path", "paint": 5, "points": [[0, 0]]}]})",
       "paint.json: /objects/0/paint: no paint with id 5"},
      {R"({"ppi": 72, "pictures": [{"id": 1, "file": "self.json"}]})",
       "self.json: /pictures/0/file: the one-up self.json includes itself"},
      {R"({"ppi": 72, "pictures": [{"id": 1, "file": "gone.tif"}]})",
       "picture.json: /pictures/0/file: cannot read gone.tif: No such file or directory"},
  };
  for (const auto& [text, place] : jobs) tavtest::writeFile(dir / place.substr(0, place.find(':')), text);
  const auto before = folderListing(dir.path());
  for (const auto& [text, place] : jobs) {
    const std::string file = place.substr(0, place.find(':'));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", file}, std::vector<std::string>{"export", file, "-o", "out.pdf"}}) {
      const auto r = tavtest::runTavpdf(args, dir.path());
      EXPECT_EQ(r.exitCode, 2) << r.describe();
      EXPECT_EQ(r.err.rfind("error: JOB/BAD JOB FILE: The job file cannot be used: " + place, 0), 0u) << r.describe();
    }
  }
  auto r = tavtest::runTavpdf({"check", "missing.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_EQ(r.err, "error: JOB/CANNOT READ JOB FILE: The job file missing.json cannot be read: No such file or directory\n");

  // Every file is checked; one bad file makes the whole run fail.
  tavtest::writeFile(dir / "good.json", R"({"ppi": 720, "boxes": {"media": [0, 0, 10, 10]}})");
  r = tavtest::runTavpdf({"check", "good.json", "paint.json", "good.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_EQ(r.out.find("good.json"), 0u) << r.out;
  EXPECT_NE(r.out.rfind("good.json"), 0u) << "the file after the bad one is checked too";
  std::filesystem::remove(dir / "good.json");

  EXPECT_EQ(folderListing(dir.path()), before);
}

// A chain of one-ups each placing the next one many times is loaded once per
// file, and summarised once per file as well.
TEST(CheckCommand, OneUpsPlacedManyTimesAreSummarisedOnce) {
  tavtest::TestFolder dir;
  constexpr int kLevels = 12, kPlacements = 8;  // 8^11 placements in all
  for (int level = 0; level < kLevels; ++level) {
    std::string job = R"({"ppi": 72, "boxes": {"media": [0, 0, 10, 10]}, "pictures": [)";
    for (int k = 0; level + 1 < kLevels && k < kPlacements; ++k)
      job += std::string(k ? "," : "") + R"({"id": )" + std::to_string(k) + R"(, "file": "u)" +
             std::to_string(level + 1) + R"(.json"})";
    tavtest::writeFile(dir / ("u" + std::to_string(level) + ".json"), job + "]}");
  }
  const auto r = tavtest::runTavpdf({"check", "u0.json"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  const auto lines = [&](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t p = 0; (p = r.out.find(text, p)) != std::string::npos; ++p) ++n;
    return n;
  };
  EXPECT_EQ(lines("one-up "), std::size_t(kLevels - 1) * kPlacements);
  EXPECT_EQ(lines(": as above\n"), std::size_t(kLevels - 1) * (kPlacements - 1));
  EXPECT_EQ(lines("pictures: 8\n"), std::size_t(kLevels - 1));
}

TEST(CheckCommand, CommandLineErrorsExitTwo) {
  auto r = tavtest::runTavpdf({"check"});
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  r = tavtest::runTavpdf({"check", "--help"});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_NE(r.out.find("jobs"), std::string::npos) << r.out;
}

// The percentages a progress bar showed, in order.
static std::vector<int> barPercentages(const std::string& terminal) {
  std::vector<int> shown;
  for (std::size_t at = terminal.find("] "); at != std::string::npos; at = terminal.find("] ", at + 2)) {
    const std::size_t digits = at + 2, end = terminal.find('%', digits);
    if (end == std::string::npos || end - digits > 3) continue;
    shown.push_back(std::stoi(terminal.substr(digits, end - digits)));
  }
  return shown;
}

// The progress bar is drawn on a terminal only, never under CI; in
// separated output it names the plate; it shows the whole export, going up
// only, and reaches 100 % once, when the file is complete (that line stays);
// a message printed meanwhile gets a line of its own.
TEST(CommandLine, ProgressBarOnlyOnATerminalAndNotUnderCI) {
  tavtest::TestFolder dir;
  const std::string job = (tavtest::sourceDir() / "examples" / "label.json").string();
  const std::string run = "'" + tavtest::tavpdfBinary().string() + "' export '" + job + "' -o '" +
                          (dir / "l.pdf").string() + "' --flavour Normalized --set SeparatedOutput=1";
  // script(1) runs the command on a pseudo terminal and copies what it shows.
  const auto terminal = tavtest::runProcess({"env", "-u", "CI", "script", "-qec", run, "/dev/null"});
  EXPECT_EQ(terminal.exitCode, 0) << terminal.describe();
  EXPECT_THAT(terminal.out, ::testing::HasSubstr("\rPlate 1 of 8 ["));
  EXPECT_THAT(terminal.out, ::testing::HasSubstr("\rPlate 8 of 8 ["));
  EXPECT_THAT(terminal.out, ::testing::Not(::testing::HasSubstr("\rOutput [")));
  EXPECT_THAT(terminal.out, ::testing::HasSubstr("\r\033[Kwarning: PDF/USED DEFAULT SCREENING"));
  // The warnings about the file, then the complete bar, then the file name.
  EXPECT_THAT(terminal.out, ::testing::EndsWith("] 100%\033[K\r\n" + (dir / "l.pdf").string() + "\r\n"));
  const std::vector<int> shown = barPercentages(terminal.out);
  ASSERT_GT(shown.size(), 8u) << terminal.out;
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << ::testing::PrintToString(shown);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 100), 1) << ::testing::PrintToString(shown);
  EXPECT_LT(terminal.out.rfind("\nwarning: "), terminal.out.find("] 100%"));
  EXPECT_THAT(terminal.out, ::testing::Not(::testing::HasSubstr("PDF/NOT WRITTEN YET")));

  const auto underCi = tavtest::runProcess({"env", "CI=1", "script", "-qec", run, "/dev/null"});
  EXPECT_EQ(underCi.exitCode, 0) << underCi.describe();
  EXPECT_THAT(underCi.out, ::testing::Not(::testing::HasSubstr("Output [")));
  const auto piped = tavtest::runTavpdf({"export", job, "-o", (dir / "p.pdf").string()});
  EXPECT_EQ(piped.exitCode, 0) << piped.describe();
  EXPECT_THAT(piped.err, ::testing::Not(::testing::HasSubstr("Output [")));
}

// With a flavour, check exports each job into a temporary folder of its own
// and lists what the export refuses, each refusal naming its object; a job
// the flavour takes passes. Nothing is left behind; an unknown flavour is a
// bad command line.
TEST(CheckCommand, UnderAFlavourListsWhatTheExportRefuses) {
  tavtest::TestFolder dir;
  const fs::path examples = tavtest::sourceDir() / "examples";
  const std::string carton = (examples / "carton.json").string(), label = (examples / "label.json").string();
  const std::string panel = (examples / "carton.json").parent_path().string() + "/oneups/front-panel.json";
  const struct {
    const char* flavour;
    int exitCode;
    std::vector<std::string> shown;
  } cases[] = {
      {"Normalized", 1,
       {"  export under Normalized: passes\n",  // the label
        "  export under Normalized: refused\n    PDF/INVALID OBJECTS FOR NORMALIZED PDF OUTPUT: ",
        "cannot hold: the EPS file \"logo.eps\", placed by the path \"logo\" (" + panel + ": /objects/2).\n"}},
      {"Press", 0, {"  export under Press: passes\n"}},
  };
  // The temporary folder the trial exports use, to see that they leave it empty.
  const fs::path temp = dir / "tmp";
  fs::create_directory(temp);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flavour);
    const auto r = tavtest::runProcess({"env", "TMPDIR=" + temp.string(), tavtest::tavpdfBinary().string(), "check",
                                        label, carton, "--flavour", c.flavour},
                                       std::chrono::seconds(120), dir.path());
    EXPECT_EQ(r.exitCode, c.exitCode) << r.describe();
    for (const std::string& text : c.shown) EXPECT_THAT(r.out, ::testing::HasSubstr(text));
    // The summaries come first, each job's own, and no message of the trial export.
    EXPECT_LT(r.out.find("inks: 8"), r.out.find("export under"));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(folderListing(dir.path()), std::vector<std::string>{"tmp:dir"});
  const auto bad = tavtest::runTavpdf({"check", label, "--flavour", "Nonesuch"}, dir.path());
  EXPECT_EQ(bad.exitCode, 2) << bad.describe();
  EXPECT_THAT(bad.err, ::testing::HasSubstr("PDF/UNKNOWN FLAVOUR"));
  EXPECT_EQ(bad.out, "");
}

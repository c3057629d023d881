// tavpdf check as a user runs it: exit status, what it prints, and that a bad
// job leaves the folder as it was.
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

// The progress bar is drawn on a terminal only, never under CI; in
// separated output it names the plate, and each plate's bar ends at 100 %
// (cleared); a message printed meanwhile gets a line of its own.
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
  // The last bar is gone before the warnings at the end and the file name.
  EXPECT_THAT(terminal.out, ::testing::Not(::testing::HasSubstr("PDF/NOT WRITTEN YET")));
  EXPECT_THAT(terminal.out, ::testing::EndsWith("%\r\033[K" + (dir / "l.pdf").string() + "\r\n"));

  const auto underCi = tavtest::runProcess({"env", "CI=1", "script", "-qec", run, "/dev/null"});
  EXPECT_EQ(underCi.exitCode, 0) << underCi.describe();
  EXPECT_THAT(underCi.out, ::testing::Not(::testing::HasSubstr("Output [")));
  const auto piped = tavtest::runTavpdf({"export", job, "-o", (dir / "p.pdf").string()});
  EXPECT_EQ(piped.exitCode, 0) << piped.describe();
  EXPECT_THAT(piped.err, ::testing::Not(::testing::HasSubstr("Output [")));
}

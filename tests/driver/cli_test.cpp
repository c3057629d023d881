// tavpdf export as a user runs it: exit status, messages and files.
#include <gtest/gtest.h>

#include "driver_support.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using tavtest::runTavpdf;

TEST(ExportCommand, WritesTheFileAndExitsZero) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const auto r = runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / "job.pdf").string(), "--flavour",
                            "Separated", "--set", "CompressPages=0", "--batch"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(r.out, (dir / "job.pdf").string() + "\n");
  // Uncompressed pages: the content stream is readable in the file.
  EXPECT_NE(tavtest::readFile(dir / "job.pdf").find(" m\n"), std::string::npos);
}

TEST(ExportCommand, PdfVersionFollowsTheSettingsAndSaysWhenItOverrulesTheUser) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const std::string pdf = (dir / "job.pdf").string();
  // PDF 1.3 alone does not fit unflattened output: 1.4 is written, and said;
  // with flattening asked for it fits, and nothing is said.
  for (const bool flattening : {false, true}) {
    std::vector<std::string> args = {"export", (dir / "job.json").string(), "-o", pdf, "--flavour", "Custom",
                                     "--set", "PDFCompatibility=1"};
    if (flattening) args.insert(args.end(), {"--set", "EnableFlattening=1"});
    const auto r = runTavpdf(args);
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(tavtest::readFile(pdf).substr(0, 8), flattening ? "%PDF-1.3" : "%PDF-1.4");
    EXPECT_EQ(r.err.find("PDFCompatibility=1 does not fit") != std::string::npos, !flattening) << r.err;
  }
}

TEST(ExportCommand, SameJobAndDateGiveTheSameBytes) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  for (const char* name : {"a.pdf", "b.pdf"})
    ASSERT_EQ(tavtest::runProcess({"env", "SOURCE_DATE_EPOCH=1700000000", tavtest::tavpdfBinary().string(), "export",
                                   (dir / "job.json").string(), "-o", (dir / name).string()})
                  .exitCode,
              0);
  const std::string bytes = tavtest::readFile(dir / "a.pdf");
  EXPECT_TRUE(bytes == tavtest::readFile(dir / "b.pdf"));
  EXPECT_NE(bytes.find("D:20231114"), std::string::npos);
}

TEST(ExportCommand, EngineRefusalsExitOneAndBadInputExitsTwo) {
  tavtest::TestFolder dir;
  const std::string job = (dir / "job.json").string();
  tavtest::writeFile(job, drivertest::plainJobText());
  auto r = runTavpdf({"export", job, "-o", (dir / "nowhere" / "x.pdf").string()});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("error: PDF/COULD NOT OPEN PDF FILE"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("failed with result 1002"), std::string::npos) << r.err;

  // A magnification of 0 is refused with a message, not written as infinite.
  std::string zero = drivertest::plainJobText();
  zero.insert(zero.find(R"("ppi")"), R"("scale":0,)");
  tavtest::writeFile(dir / "zero.json", zero);
  struct Case { std::vector<std::string> args; const char* err; };
  for (const Case& c : {Case{{job, "--flavour", "NoSuchFlavour"}, "PDF/UNKNOWN FLAVOUR"},
                        Case{{job, "--set", "NoSuchField=1"}, "PDF/UNKNOWN SETTING"},
                        Case{{job, "--set", "MaxSize=abc"}, "PDF/BAD SETTING VALUE"},
                        Case{{job, "--flavour-file", (dir / "missing.xml").string()}, "PDF/FLAVOUR FILE UNREADABLE"},
                        Case{{job, "--flavour", "Press", "--flavour-file", job}, "--flavour excludes --flavour-file"},
                        Case{{(dir / "zero.json").string()}, "scale must be greater than 0"}}) {
    std::vector<std::string> args = {"export", "-o", (dir / "bad.pdf").string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    r = runTavpdf(args);
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "bad.pdf"));
  }
}

TEST(ExportCommand, ForcedRemapProblemIsStillRefusedAndCheckReportsIt) {
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"A","cmyk":[0,50,0,0],"mapTo":"B"},{"name":"B","cmyk":[0,0,50,0]}])";
  tavtest::writeFile(dir / "job.json", drivertest::colouredSquares(inks, {R"({"A":100,"B":30})"}));
  // Force goes past the remap problem, but the colour's two inks cannot both
  // be B in the file.
  auto r = runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / "out.pdf").string(), "--set",
                      "UseSeparationDisabler=1", "--force"});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("PDF/UNABLE TO REMAP OBJECT"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("failure: PDF/INKS NOT RENAMED"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  r = runTavpdf({"check", (dir / "job.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_NE(r.err.find("A is remapped onto B"), std::string::npos) << r.err;
}

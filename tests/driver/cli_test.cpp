// tavpdf export as a user runs it: exit status, messages and files.
#include <gtest/gtest.h>

#include "driver_support.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

tavtest::ProcessResult tavpdf(const std::vector<std::string>& args) {
  return tavtest::runTavpdf(args);
}

}  // namespace

TEST(ExportCommand, WritesTheFileAndExitsZero) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const auto r = tavpdf({"export", (dir / "job.json").string(), "-o", (dir / "job.pdf").string(),
                         "--flavour", "Separated", "--set", "CompressPages=0", "--batch"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(r.out, (dir / "job.pdf").string() + "\n");
  tavtest::expectPdfAcceptedByAllConsumers(dir / "job.pdf");
  // Uncompressed pages: the content stream is readable in the file.
  EXPECT_NE(tavtest::readFile(dir / "job.pdf").find(" m\n"), std::string::npos);
}

TEST(ExportCommand, PdfVersionFollowsTheSettingsAndSaysWhenItOverrulesTheUser) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const std::string job = (dir / "job.json").string();
  const std::string pdf = (dir / "job.pdf").string();
  // PDF 1.3 alone does not fit unflattened output: 1.4 is written, and said.
  auto r = tavpdf({"export", job, "-o", pdf, "--flavour", "Custom", "--set", "PDFCompatibility=1"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(tavtest::readFile(pdf).substr(0, 8), "%PDF-1.4");
  EXPECT_NE(r.err.find("PDFCompatibility=1 does not fit"), std::string::npos) << r.err;
  // With flattening asked for it fits, and nothing is said.
  r = tavpdf({"export", job, "-o", pdf, "--flavour", "Custom", "--set", "PDFCompatibility=1", "--set",
              "EnableFlattening=1"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(tavtest::readFile(pdf).substr(0, 8), "%PDF-1.3");
  EXPECT_EQ(r.err.find("does not fit"), std::string::npos) << r.err;
}

TEST(ExportCommand, SameJobAndDateGiveTheSameBytes) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  std::vector<std::string> env = {"env", "SOURCE_DATE_EPOCH=1700000000", tavtest::tavpdfBinary().string(), "export",
                                  (dir / "job.json").string(), "-o"};
  auto a = env, b = env;
  a.push_back((dir / "a.pdf").string());
  b.push_back((dir / "b.pdf").string());
  ASSERT_EQ(tavtest::runProcess(a).exitCode, 0);
  ASSERT_EQ(tavtest::runProcess(b).exitCode, 0);
  const std::string bytes = tavtest::readFile(dir / "a.pdf");
  EXPECT_TRUE(bytes == tavtest::readFile(dir / "b.pdf"));
  EXPECT_NE(bytes.find("D:20231114"), std::string::npos);
}

TEST(ExportCommand, EngineRefusalsExitOneAndBadInputExitsTwo) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  tavtest::writeFile(dir / "empty.json", drivertest::jobText(drivertest::kStandardInks, "[]", "[]", "[]"));
  tavtest::writeFile(dir / "old.pdf", "previous");

  auto r = tavpdf({"export", (dir / "empty.json").string(), "-o", (dir / "old.pdf").string(), "--flavour", "8"});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("error: PDF/NO SEPARATIONS FOUND"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("failed with result 1"), std::string::npos) << r.err;
  EXPECT_EQ(tavtest::readFile(dir / "old.pdf"), "previous");

  r = tavpdf({"export", (dir / "job.json").string(), "-o", (dir / "nowhere" / "x.pdf").string()});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("PDF/COULD NOT OPEN PDF FILE"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("failed with result 1002"), std::string::npos) << r.err;

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--flavour", "NoSuchFlavour"}, {"--set", "NoSuchField=1"},
        {"--set", "MaxSize=abc"}, {"--flavour-file", (dir / "missing.xml").string()},
        {"--flavour", "Press", "--flavour-file", (dir / "x.xml").string()}}) {
    std::vector<std::string> args = {"export", (dir / "job.json").string(), "-o", (dir / "bad.pdf").string()};
    args.insert(args.end(), bad.begin(), bad.end());
    r = tavpdf(args);
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_FALSE(fs::exists(dir / "bad.pdf"));
  }
  r = tavpdf({"export", (dir / "missing.json").string(), "-o", (dir / "bad.pdf").string()});
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  // A magnification of 0 is refused with a message, not written as infinite.
  std::string text = drivertest::plainJobText();
  text.insert(text.find(R"("ppi")"), R"("scale":0,)");
  tavtest::writeFile(dir / "zero.json", text);
  r = tavpdf({"export", (dir / "zero.json").string(), "-o", (dir / "bad.pdf").string()});
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_NE(r.err.find("scale must be greater than 0"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "bad.pdf"));
}

TEST(ExportCommand, RemapProblemRefusedWithAndWithoutForceAndCheckReportsIt) {
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"A","cmyk":[0,50,0,0],"mapTo":"B"},{"name":"B","cmyk":[0,0,50,0]}])";
  tavtest::writeFile(dir / "job.json",
                     drivertest::jobText(inks, R"([{"id":20,"inks":{"A":100,"B":30}}])",
                                         R"([{"id":30,"type":"flat","colour":20}])",
                                         "[" + drivertest::square(720, 720, 900, 30) + "]"));
  const std::vector<std::string> base = {"export", (dir / "job.json").string(), "-o", (dir / "out.pdf").string(),
                                         "--set", "UseSeparationDisabler=1"};
  auto r = tavpdf(base);
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("PDF/UNABLE TO REMAP OBJECT"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("result -1"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  // Force goes past the remap problem, but the inks cannot be renamed.
  auto forced = base;
  forced.push_back("--force");
  r = tavpdf(forced);
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("PDF/UNABLE TO REMAP OBJECT"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("error: PDF/INKS NOT RENAMED"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  r = tavpdf({"check", (dir / "job.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_NE(r.err.find("A is remapped onto B"), std::string::npos) << r.err;
}

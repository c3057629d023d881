// tavpdf ai on the bundled example job: exit statuses, the written file, and
// that nothing is left behind when the export fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/consumers.h"

using ::testing::HasSubstr;

using tavtest::runTavpdf;

TEST(AiCommand, ExportsTheExampleAndRefusesWhatItCannotDo) {
  if (!std::filesystem::exists(tavtest::tavpdfBinary())) GTEST_SKIP() << "tavpdf is not built";
  const auto job = (tavtest::sourceDir() / "examples" / "label.json").string();
  tavtest::TestFolder folder;

  const auto ok = runTavpdf({"ai", job, "-o", (folder / "label.ai").string()});
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  const std::string text = tavtest::readFile(folder / "label.ai");
  EXPECT_EQ(text.rfind("%!PS-Adobe-3.0\n%%Creator: Adobe Illustrator(TM) 3.2\n", 0), 0u);
  EXPECT_TRUE(text.ends_with("%%Trailer\n%%EOF\n"));
  // (Ghostscript reading the writer's files is checked on the library's output.)

  const auto later = runTavpdf({"ai", job, "-o", (folder / "five.ai").string(), "--mode", "1"});
  EXPECT_EQ(later.exitCode, 1);
  EXPECT_THAT(later.err, HasSubstr("ILLUSTRATOR/MODE NOT AVAILABLE"));
  EXPECT_FALSE(std::filesystem::exists(folder / "five.ai"));

  const auto noFolder = runTavpdf({"ai", job, "-o", (folder / "missing" / "x.ai").string()});
  EXPECT_EQ(noFolder.exitCode, 1);
  EXPECT_THAT(noFolder.err, HasSubstr("CANNOT OPEN ILLUSTRATOR FILE"));

  const auto badJob = runTavpdf({"ai", (folder / "nothing.json").string(), "-o", (folder / "y.ai").string()});
  EXPECT_EQ(badJob.exitCode, 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "y.ai"));

  const auto badMode = runTavpdf({"ai", job, "-o", (folder / "z.ai").string(), "--mode", "9"});
  EXPECT_EQ(badMode.exitCode, 2);
}

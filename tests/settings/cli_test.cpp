// tavpdf flavours: listing, showing, saving and loading, with the exit codes
// the scripts rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_access.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

tavtest::ProcessResult tavpdf(const std::vector<std::string>& args) {
  return tavtest::runTavpdf(args);
}

}  // namespace

TEST(FlavoursCommand, ListsAndShowsFlavours) {
  const auto list = tavpdf({"flavours"});
  ASSERT_TRUE(list.started) << list.describe();
  EXPECT_EQ(list.exitCode, 0) << list.describe();
  EXPECT_NE(list.out.find("7\tNormalized\t"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("9\tNormalizedEmbedded\t"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("-\tVistamo\t"), std::string::npos) << list.out;

  const auto show = tavpdf({"flavours", "show", "normalized"});
  EXPECT_EQ(show.exitCode, 0) << show.describe();
  EXPECT_NE(show.out.find("\nNormalizedOutput = 1\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\nDownsampleResolution = 96\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\nOrientation = 1 (Portrait)\n"), std::string::npos) << show.out;

  const auto byNumber = tavpdf({"flavours", "show", "7"});
  EXPECT_EQ(byNumber.out, show.out);

  const auto unknown = tavpdf({"flavours", "show", "nonesuch"});
  EXPECT_EQ(unknown.exitCode, 2) << unknown.describe();
  const auto missingName = tavpdf({"flavours", "show"});
  EXPECT_EQ(missingName.exitCode, 2) << missingName.describe();
}

TEST(FlavoursCommand, SavesAndLoadsFlavourFiles) {
  tavtest::TestFolder dir;
  const fs::path file = dir / "sep.xml";
  const auto save = tavpdf({"flavours", "save", "Separated", file.string()});
  ASSERT_EQ(save.exitCode, 0) << save.describe();
  PDFSettings loaded;
  ASSERT_EQ(TavPDF::LoadFlavourFileIntoSettings(TavSys::FileSpec(file), loaded), 0);
  EXPECT_EQ(loaded.Flavour, 8);
  EXPECT_EQ(loaded.SeparatedOutput, 1);
  EXPECT_EQ(loaded.IncludeLayers, 1);

  const auto load = tavpdf({"flavours", "load", file.string()});
  EXPECT_EQ(load.exitCode, 0) << load.describe();
  EXPECT_NE(load.out.find("\nSeparatedOutput = 1\n"), std::string::npos) << load.out;

  tavtest::writeFile(dir / "bad.xml", "<qel.activities><qel.activity Key=\"PDFo\"><Preference Key=\"Flav\" "
                                      "Type=\"Long\">99</Preference></qel.activity></qel.activities>");
  const auto bad = tavpdf({"flavours", "load", (dir / "bad.xml").string()});
  EXPECT_EQ(bad.exitCode, 2) << bad.describe();
  EXPECT_NE(bad.err.find("PDF/FLAVOUR FILE BAD VALUE"), std::string::npos) << bad.err;

  const auto unwritable = tavpdf({"flavours", "save", "press", (dir / "no" / "f.xml").string()});
  EXPECT_EQ(unwritable.exitCode, 1) << unwritable.describe();
  EXPECT_NE(unwritable.err.find("PDF/CANNOT WRITE FLAVOUR FILE"), std::string::npos) << unwritable.err;
}

// tavpdf flavours: listing, showing, saving and loading, with the exit codes
// the scripts rely on.
#include <gtest/gtest.h>

#include <string>

#include "support/consumers.h"

using tavtest::runTavpdf;

TEST(FlavoursCommand, ListsAndShowsFlavours) {
  const auto list = runTavpdf({"flavours"});
  ASSERT_TRUE(list.started) << list.describe();
  EXPECT_EQ(list.exitCode, 0) << list.describe();
  // What the engine cannot do yet is said where it is offered.
  for (const char* line : {"7\tNormalized\t", "9\tNormalizedEmbedded\t", "-\tVistamo\t"}) {
    EXPECT_NE(list.out.find(line), std::string::npos) << list.out;
  }
  EXPECT_NE(runTavpdf({"ai", "--help"}).out.find("1 and 3 Illustrator 5.0"), std::string::npos);
  const auto show = runTavpdf({"flavours", "show", "normalized"});
  EXPECT_EQ(show.exitCode, 0) << show.describe();
  for (const char* line : {"\nNormalizedOutput = 1\n", "\nDownsampleResolution = 96\n",
                           "\nOrientation = 1 (Portrait)\n", "\nPDFCompatibility = 2 (PDF 1.5)\n"}) {
    EXPECT_NE(show.out.find(line), std::string::npos) << show.out;
  }
  EXPECT_EQ(runTavpdf({"flavours", "show", "7"}).out, show.out);
  EXPECT_EQ(runTavpdf({"flavours", "show", "nonesuch"}).exitCode, 2);
  EXPECT_EQ(runTavpdf({"flavours", "show"}).exitCode, 2);
}

TEST(FlavoursCommand, SavesAndLoadsFlavourFiles) {
  tavtest::TestFolder dir;
  const std::string file = (dir / "sep.xml").string();
  const auto save = runTavpdf({"flavours", "save", "Separated", file});
  ASSERT_EQ(save.exitCode, 0) << save.describe();
  const auto load = runTavpdf({"flavours", "load", file});
  EXPECT_EQ(load.exitCode, 0) << load.describe();
  for (const char* line : {"\nFlavour = 8\n", "\nSeparatedOutput = 1\n", "\nIncludeLayers = 1\n"}) {
    EXPECT_NE(load.out.find(line), std::string::npos) << load.out;
  }
  // A bad file is a bad command line (2); a file that cannot be written, a
  // failure of the engine (1). Each says why.
  tavtest::writeFile(dir / "bad.xml", "<qel.activities><qel.activity Key=\"PDFo\"><Preference Key=\"Flav\" "
                                      "Type=\"Long\">99999999999</Preference></qel.activity></qel.activities>");
  const auto bad = runTavpdf({"flavours", "load", (dir / "bad.xml").string()});
  EXPECT_EQ(bad.exitCode, 2) << bad.describe();
  EXPECT_NE(bad.err.find("PDF/FLAVOUR FILE BAD VALUE"), std::string::npos) << bad.err;
  const auto unwritable = runTavpdf({"flavours", "save", "press", (dir / "no" / "f.xml").string()});
  EXPECT_EQ(unwritable.exitCode, 1) << unwritable.describe();
  EXPECT_NE(unwritable.err.find("PDF/CANNOT WRITE FLAVOUR FILE"), std::string::npos) << unwritable.err;
}

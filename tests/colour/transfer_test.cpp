// Dot-gain transfer functions: the table turned for the complement, the
// sample bytes and the names of the built-in screening curves.
#include <gtest/gtest.h>

#include "colour/transfer.h"
#include "colour_support.h"
#include "support/consumers.h"

namespace colourtest {
namespace {

class TransferTest : public ColourTest {};

TEST_F(TransferTest, TheFunctionHoldsTheTurnedTableAsBytes) {
  tavtest::TestFolder dir;
  auto job = MakeJob({{"Cyan", 0}, {"Magenta", 1}, {"Orange", -1, {0, 50, 100, 0}}});
  tavtest::writeFile(dir / "curves.txt", "tavpdf-dotgain 1\ncurve Cyan linear\n0 0\n100 100\n"
                                         "curve Magenta linear\n0 0\n100 75\n");
  const TavSys::filref file((dir / "curves.txt").string());
  MemoryPdf pdf;
  for (int sep : {0, 1, 2}) BuildDotgainTransferFunction(pdf.handler(), job.get(), file, sep);

  // The identity stays the identity: byte k is k.
  std::string identity;
  for (int k = 0; k < 256; ++k) identity += char(k);
  EXPECT_EQ(pdf.streamData(pdf.handler()->mTransferFunctions[0]), identity);
  // Full ink giving 75 %: no ink (the complement 1) stays 1, full ink (0)
  // becomes 0.25.
  const auto& samples = pdf.handler()->mDotGainSamples[1];
  EXPECT_EQ(samples[0], 64);
  EXPECT_EQ(samples[255], 255);
  EXPECT_EQ(pdf.streamData(pdf.handler()->mTransferFunctions[1]).front(), char(64));
  // An ink without a curve has no function.
  EXPECT_EQ(pdf.handler()->mTransferFunctions[2], nullptr);
}

TEST(CurveNames, BuiltInAndPressCurvesAreNotCustom) {
  const std::pair<const char*, bool> cases[] = {
      {"Linear", false},      {"RIPDefault", false},  {"Pliometer_20", false}, {"Petrotone_21", false},
      {"Tonematch_Coated", false}, {"Tonematch_", false}, {"linear", true},   {"Pliometer_21", true},
      {"tonematch_Coated", true},  {"", true}};
  for (const auto& [name, custom] : cases) EXPECT_EQ(IsCustomCurveName(name), custom) << name;
}

}  // namespace
}  // namespace colourtest

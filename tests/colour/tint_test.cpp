// Tint operands, tint reals and the Type 4 tint-transform program, written
// while the host formats numbers with a decimal comma.
#include <gtest/gtest.h>

#include <cstdio>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "colour_support.h"

using namespace colourtest;

using TintTest = ColourTest;

TEST_F(TintTest, BoundariesAndPrecisionFollowTheLowByteWhateverTheLocale) {
  CommaLocale comma;
  if (comma.active) {
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");  // the C formatting really writes commas now
  }
  struct Case {
    int tint;
    const char* text;
    double real;  // TintToReal of the same tint (not for negative ones)
  } cases[] = {
      {0, "0 ", 0.0},          {65280, "0 ", 0.0},           {25601, "0 ", 0.0},
      {-5, "0 ", -1},          {25600, "1 ", 1.0},           {256, "0.01 ", 0.01},
      {12800, "0.50 ", 0.5},   {1, "0.00004 ", 1 / 25600.0}, {25599, "0.99996 ", 25599 / 25600.0},
      {25344, "0.99 ", 0.99},  {100, "0.00391 ", 100 / 25600.0},
  };
  std::string all;
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTintText(c.tint), c.text) << "tint " << c.tint;
    if (c.real >= 0) { EXPECT_DOUBLE_EQ(TintToReal(static_cast<unsigned short>(c.tint)), c.real) << c.tint; }
    FormatTint(out, c.tint);
    all += c.text;
  }
  EXPECT_EQ(out.take(), all);
  auto job = MakeJob(SpotInks(1));
  EXPECT_EQ(Serialise(CsSeparation(job.get(), 0, false).pdfGetSepsArray(Tints().set(0, 6400))), "[ 0.25  ]");
}

// Tint operands, tint reals and the Type 4 tint-transform program.
#include <gtest/gtest.h>

#include <locale>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "colour_support.h"

using namespace colourtest;

namespace {
// A host locale with a decimal comma: formatting must not follow it.
struct CommaNumpunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

class HostLocale {
 public:
  HostLocale() : saved_(std::locale::global(std::locale(std::locale::classic(), new CommaNumpunct))) {}
  ~HostLocale() { std::locale::global(saved_); }

 private:
  std::locale saved_;
};
}  // namespace

TEST(FormatTint, BoundariesAndPrecisionFollowTheLowByte) {
  struct Case {
    int tint;
    const char* text;
  } cases[] = {
      {0, "0 "},        {65280, "0 "},    {-5, "0 "},       {25601, "0 "},  {25600, "1 "},
      {256, "0.01 "},   {12800, "0.50 "}, {1, "0.00004 "},  {25599, "0.99996 "},
      {25344, "0.99 "},  // a multiple of 256 keeps two decimals
      {6400, "0.25 "},  {100, "0.00391 "},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatTintText(c.tint), c.text) << "tint " << c.tint;

  OperatorSink out;
  FormatTint(out, 12800);
  FormatTint(out, 65280);
  FormatTint(out, 25600);
  EXPECT_EQ(out.take(), "0.50 0 1 ");
}

TEST(FormatTint, IgnoresTheHostLocale) {
  HostLocale comma;
  EXPECT_EQ(FormatTintText(12800), "0.50 ");
  EXPECT_EQ(FormatTintText(1), "0.00004 ");
  EXPECT_EQ(BuildTintTransformProgram({{0.25f, 0.5f, 0.0f, 1.0f}}).find(','), std::string::npos);
}

TEST(TintToReal, UndefinedAndOutOfRangeAreNoInk) {
  EXPECT_EQ(TintToReal(0), 0.0);
  EXPECT_EQ(TintToReal(25600), 1.0);
  EXPECT_EQ(TintToReal(12800), 0.5);
  EXPECT_EQ(TintToReal(65280), 0.0);
  EXPECT_EQ(TintToReal(30000), 0.0);
  EXPECT_DOUBLE_EQ(TintToReal(1), 1 / 25600.0);
}

TEST(TintTransformProgram, OneColourantExactText) {
  const std::string line = "1.0 1 index 0.250000 mul 1.0 exch sub mul 1.0 exch sub 2 1 roll\n";
  EXPECT_EQ(BuildTintTransformProgram({{0.25f, 0.25f, 0.25f, 0.25f}}),
            "{\n" + line + line + line + line + "pop\n}");
}

TEST(TintTransformProgram, SeveralColourantsIndexTheirOwnTints) {
  const std::string program =
      BuildTintTransformProgram({{1.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.5f, 0.3f, 0.0f}});
  // Cyan: colourant 1 (two below the running product) then colourant 2.
  EXPECT_EQ(program.substr(0, 2), "{\n");
  EXPECT_NE(program.find("1.0 2 index 1.000000 mul 1.0 exch sub mul 1 index 0.000000 mul 1.0 "
                         "exch sub mul 1.0 exch sub 3 1 roll\n"),
            std::string::npos);
  EXPECT_NE(program.find("1.0 2 index 0.000000 mul 1.0 exch sub mul 1 index 0.300000 mul"),
            std::string::npos);
  EXPECT_EQ(program.substr(program.size() - 9), "pop\npop\n}");
  // Single precision values are written as the float they are.
  EXPECT_NE(BuildTintTransformProgram({{0.1f, 0, 0, 0}}).find("0.100000"), std::string::npos);
}

TEST(TintTransformProgram, NoColourantLeavesFourComponents) {
  EXPECT_EQ(BuildTintTransformProgram({}),
            "{\n1.0 1.0 exch sub 1 1 roll\n1.0 1.0 exch sub 1 1 roll\n"
            "1.0 1.0 exch sub 1 1 roll\n1.0 1.0 exch sub 1 1 roll\n}");
}

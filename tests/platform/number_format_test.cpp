#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "platform/genoutfil.h"

namespace {

// The general rule the writer's numbers follow: std::to_chars with six
// decimals, trailing zeros and a bare point removed, "-0" written as "0".
std::string reference(double value) {
  char buf[TavNumber::kNumberTextMax];
  char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6).ptr;
  std::string text(buf, end);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::string formatted(double value) {
  char buf[TavNumber::kNumberTextMax];
  return std::string(buf, TavNumber::formatReal(buf, value));
}

}  // namespace

// Each class of value against the general rule: zeros, values under half a
// millionth, exact ties (odd multiples of 2^-7 are the only doubles exactly
// halfway between two millionths), carries into the integer part, the largest
// non-integral doubles and integral ones beyond them.
TEST(NumberFormat, EveryValueClassGivesTheTextOfTheGeneralRule) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  const double cases[] = {
      0.0, -0.0, tiny, -tiny, std::numeric_limits<double>::min(), 1e-300, 4.7e-7, -4.7e-7,
      0x1p-21, 0x1p-22, 4.9999999e-7, 5e-7, 5.000001e-7, -5e-7, 1e-6, 1.5e-6, 2.5e-6,
      0.0078125, 0.0234375, 0.9921875, -0.9921875, 1.0078125, -2.0234375, 12345.0546875,
      0.9999994, 0.9999995, 0.9999996, -0.9999996, 1.9999999, 99.9999996, 0.1, 0.2, 0.3,
      1.0 / 3, -2.0 / 3, 595.2755905511812, 0.001, 0.5, -12.25, 123456789.123456789,
      0x1p52 - 0.5, -(0x1p52 - 0.5), 0x1p51 + 0.25, 0x1p44 + 0x1p-8, 1e15 + 0.1,
      0x1p52, 9e15, 1e20, -1.5e17, 1e300, std::numeric_limits<double>::max(), 0.1 + 0.2, -0.1,
      99999999.9, 100000000.1, -100000000.1, 1.0000000000000002, 0.30000000000000004 * 10,
  };
  for (double value : cases) EXPECT_EQ(formatted(value), reference(value)) << std::hexfloat << value;
}

// Many values of every magnitude, of every bit pattern, on and near the ties.
TEST(NumberFormat, RandomValuesGiveTheTextOfTheGeneralRule) {
  std::mt19937_64 random(20261206);
  std::uniform_real_distribution<double> exponent(-30.0, 17.0);
  std::uniform_int_distribution<std::int64_t> sevenths(-(std::int64_t{1} << 50), std::int64_t{1} << 50);
  int mismatches = 0;
  for (int i = 0; i < 300000 && mismatches < 10; ++i) {
    double value = 0;
    switch (i % 5) {
      case 0: value = std::pow(10.0, exponent(random)) * (random() & 1 ? -1 : 1); break;
      case 1: value = std::bit_cast<double>(random()); break;
      case 2: value = std::ldexp(static_cast<double>(sevenths(random) | 1), -7); break;
      // Decimals of seven places: the seventh digit 5 lies next to a tie.
      case 3: value = static_cast<double>(sevenths(random) % 100000000000000) / 1e7; break;
      // Tenths (coordinates in points) and their neighbours, up to and past 10^8.
      default:
        value = static_cast<double>(sevenths(random) % (i % 3 ? 2000000000 : 20000)) / 10;
        if (i % 7 == 0) value = std::nextafter(value, random() & 1 ? 1e300 : -1e300);
        break;
    }
    if (!std::isfinite(value)) continue;
    const std::string got = formatted(value), want = reference(value);
    if (got != want) {
      ++mismatches;
      ADD_FAILURE() << std::hexfloat << value << ": " << got << " instead of " << want;
    }
  }
}

// Coordinates, tints and text positions are written by rounding their product
// with 10^6 in double arithmetic; each family of values below, a few hundred
// thousand each, must give the text of the general rule. The families aim at
// the places where that rounding can go wrong: values whose millionths lie
// on a tie or next to one (seven-place decimals ending in 5 and the doubles
// either side of them), every magnitude from below a millionth to past the
// largest value rounded that way.
TEST(NumberFormat, MillionsOfPageValuesGiveTheTextOfTheGeneralRule) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_real_distribution<double> exponent(-8.0, 9.7);
  // Numbers of millionths (times ten) up to the largest value rounded by its
  // product, scaled down to a random magnitude.
  std::uniform_int_distribution<std::int64_t> wide(0, 450000000000000);
  auto ties = [&](std::mt19937_64& r) { return wide(r) >> (r() % 48); };
  auto sign = [&](double v) { return random() & 1 ? -v : v; };
  auto step = [&](double v, int steps) {
    for (int i = 0; i < steps; ++i) v = std::nextafter(v, steps & 1 ? 1e300 : -1e300);
    return v;
  };
  struct Family {
    const char* name;
    std::function<double()> draw;
  };
  const Family families[] = {
      {"every magnitude", [&] { return sign(std::pow(10.0, exponent(random))); }},
      {"a page's coordinates", [&] { return sign(unit(random) * 14400.0); }},
      {"whole numbers and tenths of every length",
       [&] {
         const double whole = std::floor(std::pow(10.0, exponent(random)));
         return sign(random() & 1 ? whole : whole + static_cast<double>(random() % 10) / 10);
       }},
      {"tints and fractions", [&] { return sign(unit(random)); }},
      {"seven-place decimals ending in 5",
       [&] { return sign(static_cast<double>(ties(random) * 10 + 5) / 1e7); }},
      {"one to three doubles beside a tie",
       [&] {
         const double tie = static_cast<double>(ties(random) * 10 + 5) / 1e7;
         return sign(step(tie, 1 + static_cast<int>(random() % 3)));
       }},
      {"exact ties (odd multiples of 2^-7)",
       [&] { return sign(std::ldexp(static_cast<double>((ties(random) % 288000000000) * 2 + 1), -7)); }},
      {"the largest values rounded by their product and just past them",
       [&] {
         return sign(random() & 1 ? 4.5e9 + (unit(random) - 0.5) * 2e-3 : 4e9 + unit(random) * 6e9);
       }},
      {"below half a millionth and above", [&] { return sign(unit(random) * 2e-6); }},
  };
  constexpr int kPerFamily = 1000000;
  for (const Family& family : families) {
    int mismatches = 0;
    for (int i = 0; i < kPerFamily && mismatches < 10; ++i) {
      const double value = family.draw();
      const std::string got = formatted(value), want = reference(value);
      if (got != want) {
        ++mismatches;
        ADD_FAILURE() << family.name << ": " << std::hexfloat << value << ": " << got
                      << " instead of " << want;
      }
    }
  }
}

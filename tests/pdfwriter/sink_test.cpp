// The output sink and the kernel file: number syntax, literal-string escapes,
// the three write routes in issue order, positions, and write errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/genoutfil.h"
#include "platform/kernelfile.h"
#include "platform/tav_error.h"
#include "sinks.h"
#include "support/consumers.h"

namespace {

using pdftest::StringSink;

std::string numbers(auto... values) {
  StringSink sink;
  (sink << ... << values);
  return sink.text;
}

// Every integer type as it is; doubles through the number formatter (whose
// rule its own tests check value by value): no exponent, no "-0".
TEST(Sink, NumbersAreDecimalWithOneBlank) {
  EXPECT_EQ(numbers(0, -17, 2147483647, std::int64_t{12345678901}, std::uint32_t{4294967295u}),
            "0 -17 2147483647 12345678901 4294967295 ");
  EXPECT_EQ(numbers(595.0, -12.25, 595.2755905511812, 1e20, -1e-9), "595 -12.25 595.275591 100000000000000000000 0 ");
}

TEST(Sink, NumbersIgnoreTheProcessLocale) {
  TavSys::fil file;
  {
    tavtest::CommaLocale comma;
    if (!comma.active) GTEST_SKIP() << tavtest::kMissingPackage << "locales: no locale with a decimal comma";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    ASSERT_STREQ(probe, "1,5");  // the process locale really writes commas now
    EXPECT_EQ(numbers(1.5, -0.25), "1.5 -0.25 ");
    TavSys::filwrifmt(&file, "%.2f|%d", 2.25, 7);
  }
  EXPECT_EQ(file.contents(), "2.25|7");
}

TEST(Sink, NonFiniteNumbersAreRefusedNotWritten) {
  StringSink sink;
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {std::nan(""), inf, -inf}) {
    try {
      sink << bad;
      ADD_FAILURE() << "no error for " << bad;
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/NUMBER NOT FINITE");
    }
  }
  EXPECT_EQ(sink.text, "");
}

// A line of numbers and its operator in one piece is what the inserts one by
// one write; a line with a number that is not finite writes nothing at all.
TEST(Sink, ANumberLineIsItsInsertsInOnePiece) {
  const std::string longTail(100, 'x');
  const double nan = std::nan("");
  struct Case {
    std::initializer_list<double> values;
    std::string_view tail;
    bool finite;
  };
  const Case cases[] = {
      {{}, "h\n", true},
      {{595.2755905511812, -0.0}, "m\n", true},
      {{1.5, -2.25, 1e20, 4821.842, -1e-9, 0x1p-7}, "c\n", true},
      {{1, 2, 3, 4, 5, 6, 7}, "re\n", true},  // more than a line holds
      {{1e300, -1e300, 1e300, -1e300, 1e300, -1e300}, longTail, true},
      {{1, 2, nan}, "l\n", false},
      {{std::numeric_limits<double>::infinity(), 2}, "l\n", false},
      {{1, 2, 3, 4, 5, 6, 7, nan}, "re\n", false},
  };
  for (const Case& c : cases) {
    StringSink line;
    bool thrown = false;
    try {
      line.PutNumbers(c.values, c.tail);
    } catch (const TavSys::Error& e) {
      thrown = true;
      EXPECT_EQ(e.key(), "PDF/NUMBER NOT FINITE");
    }
    EXPECT_EQ(thrown, !c.finite) << c.tail;
    if (!c.finite) {
      EXPECT_EQ(line.text, "");
      continue;
    }
    StringSink one;
    for (double value : c.values) one << value;
    one << c.tail;
    EXPECT_EQ(line.text, one.text);
  }
}

TEST(Sink, LiteralStringEscapesStayWithinFourCharacters) {
  char out[8];
  const std::pair<char, const char*> cases[] = {
      {'a', "a"},        {'(', "\\("},    {')', "\\)"},    {'\\', "\\\\"},
      {'\n', "\\012"},   {'\r', "\\015"}, {'\0', "\\000"}, {'\x7F', "\\177"},
      {'\xFF', "\\377"}, {' ', " "},      {'~', "~"}};
  for (const auto& [in, expected] : cases) {
    EXPECT_EQ(TavSys::stroutcha(in, out), static_cast<int>(std::strlen(expected)));
    EXPECT_STREQ(out, expected);
  }
}

TEST(KernelFile, AllRoutesLandInIssueOrderAndThePositionCountsThem) {
  tavtest::TestFolder dir;
  const auto path = dir / "routes.bin";
  auto file = TavSys::fil::create(path);
  noroutfil sink(file.get());
  sink << "A" << 1;                         // sink: "A1 "
  TavSys::filwribyt(file.get(), 'B');       // direct byte
  TavSys::filwrifmt(file.get(), "%d", 42);  // formatted
  sink.putcha('C');
  EXPECT_EQ(TavSys::filpos(file.get()), 7u);
  // A block larger than the file's buffer keeps its place among the others.
  const std::string big(200000, 'x');
  sink.PutBytes(big.data(), big.size());
  sink << "E";
  EXPECT_EQ(TavSys::filpos(file.get()), 7u + big.size() + 1);
  // Setting the position overwrites from there.
  EXPECT_EQ(TavSys::filpos(file.get(), 1), 0);
  TavSys::filwrifmt(file.get(), "ZZ");
  EXPECT_EQ(TavSys::filpos(file.get()), 3u);
  EXPECT_EQ(file->close(), 0);
  EXPECT_EQ(tavtest::readFile(path), "AZZB42C" + big + "E");

  // Formatted text longer than the formatter's first buffer arrives whole.
  TavSys::fil memory;
  const std::string longText(1000, 'L');
  EXPECT_EQ(TavSys::filwrifmt(&memory, "[%s]", longText.c_str()), 1002);
  EXPECT_EQ(memory.contents(), "[" + longText + "]");
}

// Short pieces (the numbers and operators of a page) are copied word by
// word with overlapping ends: every length up to past the short-piece limit,
// at every offset, across the buffer's end, arrives whole and in order.
TEST(KernelFile, ShortPiecesOfEveryLengthArriveWhole) {
  TavSys::fil memory;
  noroutfil sink(&memory);
  std::string expected;
  std::uint32_t state = 12345;
  char piece[40];
  for (int round = 0; expected.size() < 300000; ++round) {
    const std::size_t length = static_cast<std::size_t>(round % 31);
    for (std::size_t i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      piece[i] = static_cast<char>(state >> 24);
    }
    sink.PutBytes(piece, length);
    expected.append(piece, length);
  }
  const std::string& got = memory.contents();
  ASSERT_EQ(got.size(), expected.size());
  const auto at = std::mismatch(got.begin(), got.end(), expected.begin()).first;
  EXPECT_TRUE(at == got.end()) << "the first wrong byte is at " << (at - got.begin());
}

TEST(KernelFile, AFileThatCannotBeCreatedIsAFileError) {
  try {
    TavSys::fil::create("/nonexistent-folder/x.pdf");
    ADD_FAILURE() << "no error";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.code(), TavSys::kFileErrorBase + ENOENT);
  }
}

}  // namespace

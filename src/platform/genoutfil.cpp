#include "platform/genoutfil.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/kernelfile.h"
#include "platform/tav_error.h"

namespace TavNumber {

namespace {

// The value rounded to six decimals as the exact binary value dictates, a
// tie going to the even last digit, then written without trailing zeros.
// Requires a finite value below 2^52 in magnitude (the integer part fits 64
// bits and the fraction is exact).
char* formatMillionths(char* out, double value) {
  const double magnitude = std::fabs(value);
  const double whole = std::trunc(magnitude);
  std::uint64_t integer = static_cast<std::uint64_t>(whole);
  // Exact: the fraction's bits are a subset of the value's.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude - whole);
  const int biased = static_cast<int>(bits >> 52);
  std::uint64_t millionths = 0;
  // A fraction below 2^-21 (or subnormal) is under half a millionth.
  if (biased >= 1023 - 21) {
    // fraction = mantissa / 2^shift, shift from 53 to 73: the product fits 73 bits.
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int shift = 1075 - biased;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 1000000u;
    millionths = static_cast<std::uint64_t>(scaled >> shift);
    const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rest > half || (rest == half && (millionths & 1) != 0)) ++millionths;
    if (millionths == 1000000) {
      millionths = 0;
      ++integer;
    }
  }
  // A negative value that rounds to zero is written as "0".
  if (std::signbit(value) && (integer != 0 || millionths != 0)) *out++ = '-';
  out = std::to_chars(out, out + kNumberTextMax, integer).ptr;
  if (millionths == 0) return out;
  int digits = 6;
  while (millionths % 10 == 0) {
    millionths /= 10;
    --digits;
  }
  *out = '.';
  for (int i = digits; i > 0; --i) {
    out[i] = static_cast<char>('0' + millionths % 10);
    millionths /= 10;
  }
  return out + digits + 1;
}

// The two digits of every number below 100, in order.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Below this magnitude the value times 10^6 is under 2^52, where every
// integer and every integer plus a half is a double.
constexpr double kQuickLimit = 4.5e9;

// The millionths of a value below kQuickLimit in magnitude, rounded to the
// nearest, as formatMillionths would find them; false when the product in
// double arithmetic lands on a tie (or, through the sum below, beyond one).
// Rounding is monotonic and a tie k + 1/2 is itself a double here, so a
// product rounded to a double strictly between two ties has its exact value
// strictly between the same two ties: the integer nearest to the rounded
// product is the one nearest to the exact product.
bool quickMillionths(double magnitude, std::uint64_t& millionths) {
  const double product = magnitude * 1e6;
  // The nearest integer, or its neighbour when the sum rounds upwards next
  // to a tie; the neighbour lies half or more away and is turned down below.
  const std::uint64_t nearest = static_cast<std::uint64_t>(product + 0.5);
  // Exact: both lie below 2^52 and within one of each other.
  const double offset = product - static_cast<double>(nearest);
  if (std::fabs(offset) >= 0.5) return false;
  millionths = nearest;
  return true;
}

[[gnu::noinline]] char* writeLargeWhole(char* out, std::uint64_t value) {
  return std::to_chars(out, out + kNumberTextMax, value).ptr;
}

// Writes a whole number; the ones below 10^8 (every coordinate in points) by
// pairs of digits from the end.
char* writeWhole(char* out, std::uint64_t value) {
  if (value >= 100000000) return writeLargeWhole(out, value);
  auto v = static_cast<std::uint32_t>(value);
  if (v < 100) {
    if (v < 10) {
      *out = static_cast<char>('0' + v);
      return out + 1;
    }
    std::memcpy(out, kDigitPairs + 2 * v, 2);
    return out + 2;
  }
  if (v < 10000) {
    if (v < 1000) {
      *out = static_cast<char>('0' + v / 100);
      std::memcpy(out + 1, kDigitPairs + 2 * (v % 100), 2);
      return out + 3;
    }
    std::memcpy(out, kDigitPairs + 2 * (v / 100), 2);
    std::memcpy(out + 2, kDigitPairs + 2 * (v % 100), 2);
    return out + 4;
  }
  const int digits = v < 100000 ? 5 : v < 1000000 ? 6 : v < 10000000 ? 7 : 8;
  char* p = out + digits;
  while (v >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    std::memcpy(p - 2, kDigitPairs + 2 * v, 2);
  } else {
    p[-1] = static_cast<char>('0' + v);
  }
  return out + digits;
}

// Writes a count of millionths as the integer part and up to six fraction
// digits, trailing zeros left out.
char* writeMillionths(char* out, std::uint64_t millionths) {
  const std::uint64_t integer = millionths / 1000000;
  const auto fraction = static_cast<std::uint32_t>(millionths % 1000000);
  out = writeWhole(out, integer);
  if (fraction == 0) return out;
  // The point and six digits as the bytes of one word, the first byte lowest.
  char text[8];
  text[0] = '.';
  std::memcpy(text + 1, kDigitPairs + 2 * (fraction / 10000), 2);
  std::memcpy(text + 3, kDigitPairs + 2 * (fraction / 100 % 100), 2);
  std::memcpy(text + 5, kDigitPairs + 2 * (fraction % 100), 2);
  text[7] = '0';
  std::memcpy(out, text, 8);
  // The last byte that is not '0' ends the text: the fraction is not zero,
  // so one of its digits is such a byte.
  std::uint64_t word;
  std::memcpy(&word, text, 8);
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t notZero = word ^ 0x3030303030303030ull;
    return out + (63 - std::countl_zero(notZero)) / 8 + 1;
  } else {
    char* end = out + 7;
    while (end[-1] == '0') --end;
    return end;
  }
}

// Values not taken by the product with 10^6: ties, large and not finite.
[[gnu::noinline]] char* formatRealExactly(char* out, double value) {
  if (!std::isfinite(value)) {
    const char* what = std::isnan(value) ? "NaN" : (value > 0 ? "+infinity" : "-infinity");
    throw TavSys::Error(TavSys::kResultAbandoned, "PDF/NUMBER NOT FINITE", what)
        .with("__VALUE__", what);
  }
  // Integral values (the common case: coordinates, counts) take the integer path.
  if (value == std::trunc(value) && std::fabs(value) < 9.0e15) {
    return formatInteger(out, static_cast<long long>(value));
  }
  // Tenths, the usual form of coordinates in points: a value whose tenfold
  // is a whole number k below 10^9 lies within 6e-9 of k/10, so its
  // millionths are those of k/10 (no rounding tie lies that close).
  const double tenths = value * 10;
  if (std::fabs(tenths) < 1e9 && tenths == std::trunc(tenths)) {
    long long k = static_cast<long long>(tenths);
    if (k % 10 == 0) return formatInteger(out, k / 10);
    if (k < 0) {
      *out++ = '-';
      k = -k;
    }
    out = formatInteger(out, k / 10);
    *out++ = '.';
    *out++ = static_cast<char>('0' + k % 10);
    return out;
  }
  // Every double of smaller magnitude that is not integral is written by
  // integer arithmetic, giving the very text of the general path below.
  if (std::fabs(value) < 0x1p52) return formatMillionths(out, value);
  char* end = std::to_chars(out, out + kNumberTextMax, value, std::chars_format::fixed, 6).ptr;
  char* point = static_cast<char*>(std::memchr(out, '.', static_cast<std::size_t>(end - out)));
  if (point != nullptr) {
    while (end > point + 1 && end[-1] == '0') --end;
    if (end == point + 1) end = point;
  }
  // A tiny negative value rounds to "-0", which is written as "0".
  if (end - out == 2 && out[0] == '-' && out[1] == '0') {
    out[0] = '0';
    end = out + 1;
  }
  return end;
}

}  // namespace

char* formatReal(char* out, double value) {
  // Page coordinates, tints and text positions: the product with 10^6 in
  // double arithmetic decides the rounding whenever it does not land on a
  // tie, giving the very text of the exact path. Not-a-number fails the
  // comparison and goes there too.
  const double magnitude = std::fabs(value);
  std::uint64_t millionths = 0;
  if (magnitude < kQuickLimit && quickMillionths(magnitude, millionths)) {
    // A negative value that rounds to zero is written as "0".
    if (millionths != 0 && std::signbit(value)) *out++ = '-';
    return writeMillionths(out, millionths);
  }
  return formatRealExactly(out, value);
}

void appendFixed(std::string& out, double value, int precision, int width) {
  if (!std::isfinite(value)) value = 0;
  char buf[kNumberTextMax];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  std::string_view text = ec == std::errc() ? std::string_view(buf, static_cast<std::size_t>(end - buf))
                                            : std::string_view("0");
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
    text.remove_prefix(1);  // "-0.00" reads as a negative number to some readers
  }
  if (static_cast<int>(text.size()) < width) out.append(static_cast<std::size_t>(width) - text.size(), ' ');
  out.append(text);
}

}  // namespace TavNumber

genoutfil::~genoutfil() = default;

void genoutfil::PutUns8Buffer(const std::uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) PutByte(bytes[i]);
}

void genoutfil::PutPieces(const void* data, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    const std::size_t n = count < kMaxPiece ? count : kMaxPiece;
    PutUns8Buffer(p, static_cast<int>(n));
    p += n;
    count -= n;
  }
}

genoutfil& genoutfil::operator<<(const char* text) {
  if (text != nullptr) PutBytes(text, std::strlen(text));
  return *this;
}

genoutfil& genoutfil::operator<<(std::string_view text) {
  PutBytes(text.data(), text.size());
  return *this;
}

genoutfil& genoutfil::operator<<(double value) {
  char text[TavNumber::kNumberTextMax + 1];
  char* end = TavNumber::formatReal(text, value);
  *end++ = ' ';
  PutBytes(text, static_cast<std::size_t>(end - text));
  return *this;
}

void genoutfil::PutNumbers(std::initializer_list<double> values, std::string_view tail) {
  constexpr std::size_t kTailRoom = 64;
  char text[kLineNumbers * (TavNumber::kNumberTextMax + 1) + kTailRoom];
  if (values.size() > kLineNumbers) {
    // A number that is not finite throws here, before anything is written.
    char probe[TavNumber::kNumberTextMax];
    for (double value : values) {
      if (!std::isfinite(value)) TavNumber::formatReal(probe, value);
    }
    for (double value : values) *this << value;
    *this << tail;
    return;
  }
  char* end = text;
  for (double value : values) {
    end = TavNumber::formatReal(end, value);
    *end++ = ' ';
  }
  if (tail.size() <= kTailRoom) {
    std::memcpy(end, tail.data(), tail.size());
    end += tail.size();
    tail = {};
  }
  PutBytes(text, static_cast<std::size_t>(end - text));
  if (!tail.empty()) PutBytes(tail.data(), tail.size());
}

noroutfil::~noroutfil() = default;

void noroutfil::PutByte(std::uint8_t byte) { file_->putByte(byte); }

void noroutfil::PutUns8Buffer(const std::uint8_t* bytes, int count) {
  if (count > 0) file_->write(bytes, static_cast<std::size_t>(count));
}

namespace TavSys {

int stroutcha(char c, char* out) {
  const auto b = static_cast<unsigned char>(c);
  int n = 0;
  if (b == '(' || b == ')' || b == '\\') {
    out[n++] = '\\';
    out[n++] = static_cast<char>(b);
  } else if (b < 0x20 || b >= 0x7F) {
    // Octal keeps line ends and binary bytes from being changed by readers
    // that normalise end-of-line sequences inside strings.
    out[n++] = '\\';
    out[n++] = static_cast<char>('0' + (b >> 6));
    out[n++] = static_cast<char>('0' + ((b >> 3) & 7));
    out[n++] = static_cast<char>('0' + (b & 7));
  } else {
    out[n++] = static_cast<char>(b);
  }
  out[n] = '\0';
  return n;
}

}  // namespace TavSys

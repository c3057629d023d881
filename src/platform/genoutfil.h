#pragma once
// The text and byte sink of the core library. Every writer produces its text
// and bytes through it. Inserting a number writes it followed by exactly one
// blank; the object and operator syntax relies on that blank.
//
// Numbers are formatted with std::to_chars (never locale-dependent, never in
// exponent form). A double that is not finite cannot be written: inserting one
// throws TavSys::Error (key "PDF/NUMBER NOT FINITE") and writes nothing.
#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace TavSys {
class fil;
}

// Formats an integer or a double the way the sink writes it, without the
// trailing blank; returns the end of the text. `out` needs kNumberTextMax bytes.
namespace TavNumber {
constexpr std::size_t kNumberTextMax = 400;
inline char* formatInteger(char* out, long long value) {
  return std::to_chars(out, out + kNumberTextMax, value).ptr;
}
inline char* formatUnsigned(char* out, unsigned long long value) {
  return std::to_chars(out, out + kNumberTextMax, value).ptr;
}
// Plain decimal, at most six fraction digits, trailing zeros and a bare point
// removed, "-0" written as "0". Throws TavSys::Error for NaN or infinity.
char* formatReal(char* out, double value);
// Appends value with `precision` decimals, right-aligned in at least `width`
// characters (printf's "%<width>.<precision>f" in the C locale). A value that
// is not finite is written as 0; a negative value that rounds to zero loses
// its sign.
void appendFixed(std::string& out, double value, int precision, int width = 0);
}  // namespace TavNumber

class genoutfil {
 public:
  genoutfil() = default;
  virtual ~genoutfil();
  genoutfil(const genoutfil&) = delete;
  genoutfil& operator=(const genoutfil&) = delete;

  virtual void PutByte(std::uint8_t byte) = 0;

  // The text's bytes as they stand, nothing added.
  genoutfil& operator<<(const char* text);
  genoutfil& operator<<(std::string_view text);
  // A number: its decimal form, then one blank.
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, signed char> &&
             !std::same_as<T, unsigned char> && !std::same_as<T, char8_t> &&
             !std::same_as<T, char16_t> && !std::same_as<T, char32_t> && !std::same_as<T, wchar_t>)
  genoutfil& operator<<(T value) {
    // One byte more than the formatting may use, for the blank.
    char text[TavNumber::kNumberTextMax + 1];
    char* end;
    if constexpr (std::is_signed_v<T>) {
      end = TavNumber::formatInteger(text, value);
    } else {
      end = TavNumber::formatUnsigned(text, value);
    }
    *end++ = ' ';
    PutBytes(text, static_cast<std::size_t>(end - text));
    return *this;
  }
  genoutfil& operator<<(double value);
  // Up to kLineNumbers numbers as the inserts above write them (each followed
  // by its blank), then `tail`, all in one piece: a path's operands and its
  // operator. A number that is not finite throws before anything is written.
  static constexpr std::size_t kLineNumbers = 6;
  void PutNumbers(std::initializer_list<double> values, std::string_view tail);
  // A character or a bool would silently become a number; write text instead.
  genoutfil& operator<<(char) = delete;
  genoutfil& operator<<(bool) = delete;

  // Any bytes (zeros included), in order.
  void PutBytes(const void* data, std::size_t count) {
    if (count <= kMaxPiece) {
      PutUns8Buffer(static_cast<const std::uint8_t*>(data), static_cast<int>(count));
    } else {
      PutPieces(data, count);
    }
  }

 protected:
  // Hands the bytes one by one to PutByte; sinks override it for speed.
  virtual void PutUns8Buffer(const std::uint8_t* bytes, int count);

 private:
  static constexpr std::size_t kMaxPiece = 0x7FFFFFFF;
  // More than an int can count, in int-sized pieces.
  void PutPieces(const void* data, std::size_t count);
};

// A sink writing into an open kernel file at its position. It keeps no buffer
// of its own (the file buffers), so bytes from every route land in issue order.
class noroutfil final : public genoutfil {
 public:
  // The file is not owned.
  explicit noroutfil(TavSys::fil* file) : file_(file) {}
  // Releases the sink only; the file stays open.
  ~noroutfil() override;

  void PutByte(std::uint8_t byte) override;
  void putcha(char c) { PutByte(static_cast<std::uint8_t>(c)); }
  TavSys::fil* file() const { return file_; }

 protected:
  void PutUns8Buffer(const std::uint8_t* bytes, int count) override;

 private:
  TavSys::fil* file_;
};

namespace TavSys {
// Writes the form of byte c inside a PDF literal string into out, followed by a
// zero byte; returns the count without the zero (1 to 4). Parentheses and the
// backslash are escaped, control and non-ASCII bytes are written as \ooo.
int stroutcha(char c, char* out);
}  // namespace TavSys

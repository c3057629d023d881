#include "platform/fonts/type1program.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <deque>
#include <map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/fonts/glyphnametable.h"
#include "platform/tav_error.h"

namespace Fonts {

namespace {

[[noreturn]] void damaged(const std::string& font, const std::string& what) {
  throw TavSys::Error(TavSys::kResultAbandoned, "PDF/BAD FONT PROGRAM", font + ": " + what)
      .with("__FONT__", font)
      .with("__DETAIL__", what);
}

// PostScript's character classes: blanks and delimiters, by byte.
enum CharClass : std::uint8_t { kRegular, kBlank, kDelimiter };
constexpr std::array<CharClass, 256> kCharClass = [] {
  std::array<CharClass, 256> t{};
  for (const unsigned char c : {' ', '\t', '\r', '\n', '\f', '\0'}) t[c] = kBlank;
  for (const unsigned char c : {'(', ')', '<', '>', '[', ']', '{', '}', '/', '%'}) t[c] = kDelimiter;
  return t;
}();
bool isSpace(char c) { return kCharClass[static_cast<unsigned char>(c)] == kBlank; }
bool isDelimiter(char c) { return kCharClass[static_cast<unsigned char>(c)] == kDelimiter; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The trailer every program gets: 512 zeros in eight lines and "cleartomark".
std::string standardTrailer() {
  std::string t;
  for (int i = 0; i < 8; ++i) t += std::string(64, '0') + "\n";
  t += "cleartomark\n";
  return t;
}

// Type 1 decryption of `cipher` into `plain` (as many bytes). Each byte's key
// is r = (c + r) * 52845 + 22719 of the byte before, and so the key four
// bytes on is r * 52845^4 plus a sum of the four cipher bytes between: the
// loop computes that one product per four bytes, and the keys in between
// beside it, instead of waiting for one multiplication per byte. The
// arithmetic runs modulo 2^32; a key's bits 8 to 15, all that a plain byte
// takes, are those of the 16-bit key.
void decryptInto(std::string_view cipher, std::uint16_t key, char* plain) {
  constexpr std::uint32_t a1 = 52845u, b1 = 22719u;
  constexpr std::uint32_t a2 = a1 * a1, a3 = a2 * a1, a4 = a3 * a1;
  constexpr std::uint32_t b2 = b1 * a1 + b1, b3 = b2 * a1 + b1, b4 = b3 * a1 + b1;
  const auto* in = reinterpret_cast<const std::uint8_t*>(cipher.data());
  const std::size_t n = cipher.size();
  std::uint32_t r = key;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Eight bytes at a time in 16-bit lanes (all a key's plain byte and its
  // successor depend on): the key of byte k is a^k r + b_k plus the sum of
  // a^(k-j) c_j over the bytes j before it. That sum is a running sum, which
  // three shifted additions build for all eight lanes at once.
  {
    constexpr auto power = [](int k) {
      std::uint32_t p = 1;
      for (int j = 0; j < k; ++j) p *= a1;
      return std::uint16_t(p);
    };
    constexpr auto offset = [](int k) {
      std::uint32_t q = 0;
      for (int j = 0; j < k; ++j) q = q * a1 + b1;
      return std::uint16_t(q);
    };
    const __m128i powers = _mm_setr_epi16(short(power(0)), short(power(1)), short(power(2)), short(power(3)),
                                          short(power(4)), short(power(5)), short(power(6)), short(power(7)));
    const __m128i offsets = _mm_setr_epi16(short(offset(0)), short(offset(1)), short(offset(2)), short(offset(3)),
                                           short(offset(4)), short(offset(5)), short(offset(6)), short(offset(7)));
    const __m128i m1 = _mm_set1_epi16(short(power(1)));
    const __m128i m2 = _mm_set1_epi16(short(power(2)));
    const __m128i m4 = _mm_set1_epi16(short(power(4)));
    const __m128i zero = _mm_setzero_si128();
    constexpr std::uint32_t a8 = power(8), b8 = offset(8);
    for (; i + 8 <= n; i += 8) {
      const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i));
      // sums[k]: the sum of a^(k+1-j) c_j over j <= k.
      __m128i sums = _mm_mullo_epi16(_mm_unpacklo_epi8(bytes, zero), m1);
      sums = _mm_add_epi16(sums, _mm_mullo_epi16(_mm_slli_si128(sums, 2), m1));
      sums = _mm_add_epi16(sums, _mm_mullo_epi16(_mm_slli_si128(sums, 4), m2));
      sums = _mm_add_epi16(sums, _mm_mullo_epi16(_mm_slli_si128(sums, 8), m4));
      const __m128i keys = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_set1_epi16(short(r)), powers), offsets),
                                         _mm_slli_si128(sums, 2));
      const __m128i mask = _mm_packus_epi16(_mm_srli_epi16(keys, 8), zero);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(plain + i), _mm_xor_si128(bytes, mask));
      r = (a8 * r + std::uint32_t(_mm_extract_epi16(sums, 7)) + b8) & 0xFFFF;
    }
  }
#endif
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t c0 = in[i], c1 = in[i + 1], c2 = in[i + 2], c3 = in[i + 3];
    const std::uint32_t r1 = a1 * r + a1 * c0 + b1;
    const std::uint32_t r2 = a2 * r + a2 * c0 + a1 * c1 + b2;
    const std::uint32_t r3 = a3 * r + a3 * c0 + a2 * c1 + a1 * c2 + b3;
    plain[i] = static_cast<char>(c0 ^ ((r >> 8) & 0xFF));
    plain[i + 1] = static_cast<char>(c1 ^ ((r1 >> 8) & 0xFF));
    plain[i + 2] = static_cast<char>(c2 ^ ((r2 >> 8) & 0xFF));
    plain[i + 3] = static_cast<char>(c3 ^ ((r3 >> 8) & 0xFF));
    r = a4 * r + a4 * c0 + a3 * c1 + a2 * c2 + a1 * c3 + b4;
  }
  for (; i < n; ++i) {
    const std::uint32_t c = in[i];
    plain[i] = static_cast<char>(c ^ ((r >> 8) & 0xFF));
    r = (c + r) * a1 + b1;
  }
}

constexpr std::string_view kCloseFile = "currentfile closefile";

// The encrypted part of a program whose end is not marked by a segment: it
// runs up to "currentfile closefile" and the line end that follows. `plain`
// receives the decryption of the part kept (it is needed to find the end,
// and the private part is read from it).
// Gives the length of the part kept.
std::size_t cutAtCloseFile(std::string_view cipher, const std::string& font, std::string& plain) {
  plain = Type1Decrypt(cipher, kEexecKey);
  const std::size_t at = plain.find(kCloseFile);
  if (at == std::string::npos) damaged(font, "the encrypted part does not end with closefile");
  std::size_t end = at + kCloseFile.size();
  for (int k = 0; k < 2 && end < plain.size() && (plain[end] == '\r' || plain[end] == '\n'); ++k) {
    ++end;
  }
  plain.resize(end);
  return end;
}

// A plain scanner over PostScript text (the decrypted private part).
class Scanner {
 public:
  Scanner(std::string_view text, std::size_t pos, const std::string& font)
      : s_(text), pos_(pos), font_(font) {}

  std::size_t pos() const { return pos_; }
  void skipSpace() {
    while (pos_ < s_.size()) {
      if (isSpace(s_[pos_])) {
        ++pos_;
      } else if (s_[pos_] == '%') {
        while (pos_ < s_.size() && s_[pos_] != '\n' && s_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }
  bool atEnd() {
    skipSpace();
    return pos_ >= s_.size();
  }
  char peek() {
    skipSpace();
    return pos_ < s_.size() ? s_[pos_] : '\0';
  }
  // A name ("/x", with its slash), a delimiter, or a run of regular characters.
  std::string_view token() {
    skipSpace();
    const std::size_t start = pos_;
    if (pos_ >= s_.size()) return {};
    if (s_[pos_] == '/') ++pos_;
    else if (isDelimiter(s_[pos_])) return s_.substr(pos_++, 1);
    while (pos_ < s_.size() && kCharClass[static_cast<unsigned char>(s_[pos_])] == kRegular) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  long integer(long lo, long hi, const char* what) {
    const std::string_view t = token();
    long v = 0;
    bool digits = !t.empty();
    std::size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (i == t.size()) digits = false;
    for (; digits && i < t.size(); ++i) {
      if (t[i] < '0' || t[i] > '9' || v > 100000000) {
        digits = false;
        break;
      }
      v = v * 10 + (t[i] - '0');
    }
    if (!digits) damaged(font_, std::string("expected a number for ") + what);
    if (t[0] == '-') v = -v;
    if (v < lo || v > hi) damaged(font_, std::string("a number out of range for ") + what);
    return v;
  }
  // The binary bytes of a charstring after its "RD" token: one blank, then len bytes.
  std::string_view binary(long len) {
    ++pos_;
    if (pos_ > s_.size() || std::size_t(len) > s_.size() - pos_) {
      damaged(font_, "a charstring runs past the end of the program");
    }
    std::string_view data = s_.substr(pos_, std::size_t(len));
    pos_ += std::size_t(len);
    return data;
  }

 private:
  std::string_view s_;
  std::size_t pos_;
  const std::string& font_;
};

// One Subrs or CharStrings entry of the decrypted private part.
struct Entry {
  std::size_t start = 0, end = 0;  // the whole entry, from "dup" or "/name"
  std::string_view data;           // its encrypted charstring
  long index = 0;                  // Subrs
  std::string_view name;           // CharStrings
  // The tokens around the binary bytes, as the text has them (a closing
  // "noaccess put" with other blanks between its words is kept apart).
  std::string_view rd, put;
};

}  // namespace

struct Type1Private {
  std::string plain;  // decrypted, with the four lead bytes
  int lenIV = 4;
  // Where "/lenIV" and "/Subrs" stand in plain (npos: nowhere).
  std::size_t lenIVAt = std::string::npos, subrsAt = std::string::npos;
  long subrCount = 0;
  std::vector<Entry> subrs;  // their data lie in plain
  std::size_t charStringsAt = std::string::npos;  // where "/CharStrings" stands in plain
  std::size_t countStart = 0, countEnd = 0;  // the CharStrings count
  std::vector<Entry> glyphs;  // their data lie in plain
  std::deque<std::string> closings;  // closing tokens not found as such in plain
};

namespace {

using PrivatePart = Type1Private;

// The token that closes an entry ("NP", "|", "ND", "|-" or "noaccess put/def"),
// a view of the private part's text, or of `closings` when the two words of
// "noaccess put" stand apart by other than one blank.
std::string_view closingToken(Scanner& sc, std::deque<std::string>& closings) {
  const std::string_view t = sc.token();
  if (t != "noaccess") return t;
  const std::string_view second = sc.token();
  if (second.data() == t.data() + t.size() + 1 && t.data()[t.size()] == ' ') {
    return std::string_view(t.data(), t.size() + 1 + second.size());
  }
  return closings.emplace_back(std::string(t) + " " + std::string(second));
}

std::size_t findToken(std::string_view text, std::string_view token, std::size_t from = 0) {
  for (std::size_t at = text.find(token, from); at != std::string::npos;
       at = text.find(token, at + 1)) {
    const std::size_t end = at + token.size();
    if (end >= text.size() || isSpace(text[end]) || isDelimiter(text[end])) return at;
  }
  return std::string::npos;
}

// `plain`, when not null, is the decryption of the program's encrypted part
// made as it was read; it is taken over (not decrypted again).
PrivatePart parsePrivate(const Type1Program& program, const std::string& font,
                         std::string* plain = nullptr) {
  if (program.headerLength + program.encryptedLength > program.data.size() ||
      program.encryptedLength < 4) {
    damaged(font, "the program's parts do not match its length");
  }
  PrivatePart p;
  if (plain != nullptr && plain->size() == program.encryptedLength) {
    p.plain = std::move(*plain);
  } else {
    p.plain = Type1Decrypt(
        std::string_view(program.data).substr(program.headerLength, program.encryptedLength),
        kEexecKey);
  }
  const std::string& s = p.plain;

  if (std::size_t at = findToken(s, "/lenIV"); at != std::string::npos) {
    p.lenIVAt = at;
    Scanner sc(s, at + 6, font);
    p.lenIV = int(sc.integer(-1, 16, "lenIV"));
  }

  if (std::size_t at = findToken(s, "/Subrs"); at != std::string::npos) {
    p.subrsAt = at;
    Scanner sc(s, at + 6, font);
    p.subrCount = sc.integer(0, 65535, "the Subrs count");
    if (sc.token() != "array") damaged(font, "Subrs is not an array");
    std::vector<bool> seen(std::size_t(p.subrCount), false);
    while (sc.peek() == 'd') {
      Entry e;
      e.start = sc.pos();
      if (sc.token() != "dup") break;
      e.index = sc.integer(0, p.subrCount - 1, "a Subrs index");
      if (seen[std::size_t(e.index)]) damaged(font, "a Subrs entry is given twice");
      seen[std::size_t(e.index)] = true;
      const long len = sc.integer(0, 65535, "a Subrs length");
      e.rd = sc.token();
      e.data = sc.binary(len);
      e.put = closingToken(sc, p.closings);
      e.end = sc.pos();
      p.subrs.push_back(std::move(e));
    }
  }

  const std::size_t cs = findToken(s, "/CharStrings");
  if (cs == std::string::npos) damaged(font, "the program has no CharStrings");
  p.charStringsAt = cs;
  Scanner sc(s, cs + 12, font);
  sc.skipSpace();
  p.countStart = sc.pos();
  const long count = sc.integer(1, 65535, "the CharStrings count");
  p.countEnd = sc.pos();
  p.glyphs.reserve(std::size_t(std::min<long>(count, 4096)));
  for (int k = 0;; ++k) {
    if (k > 4) damaged(font, "CharStrings has no begin");
    if (sc.token() == "begin") break;
  }
  while (true) {
    const char c = sc.peek();
    if (c != '/') {
      if (sc.token() != "end") damaged(font, "an unexpected token among the CharStrings");
      break;
    }
    if (long(p.glyphs.size()) >= count + 16) damaged(font, "more CharStrings than announced");
    Entry e;
    e.start = sc.pos();
    e.name = sc.token().substr(1);
    if (e.name.empty()) damaged(font, "a glyph without a name");
    const long len = sc.integer(0, 65535, "a charstring length");
    e.rd = sc.token();
    e.data = sc.binary(len);
    e.put = closingToken(sc, p.closings);
    e.end = sc.pos();
    p.glyphs.push_back(std::move(e));
  }
  return p;
}

// The plain charstring of an entry, into `plain` (its capacity is kept).
void decodeCharString(const Entry& e, int lenIV, const std::string& font, std::string& plain) {
  if (lenIV < 0) {
    plain.assign(e.data);
    return;
  }
  if (e.data.size() < std::size_t(lenIV)) damaged(font, "a charstring shorter than its lead bytes");
  plain.resize(e.data.size());
  decryptInto(e.data, kCharStringKey, plain.data());
  plain.erase(0, std::size_t(lenIV));
}

// Follows the charstrings of the kept glyphs far enough to know which Subrs
// they call and which accent components their "seac" names. A call whose
// number cannot be known (or a walk that runs too long) keeps every Subr.
class CharStringWalker {
 public:
  CharStringWalker(const PrivatePart& p, const std::string& font)
      : p_(p), font_(font), byIndex_(std::size_t(p.subrCount), nullptr),
        used_(std::size_t(p.subrCount), false), subrCode_(std::size_t(p.subrCount)),
        subrDecoded_(std::size_t(p.subrCount), false) {
    for (const Entry& e : p.subrs) byIndex_[std::size_t(e.index)] = &e;
  }

  void walkGlyph(const Entry& glyph) {
    depth_ = 0;
    ps_.clear();
    ended_ = false;
    decodeCharString(glyph, p_.lenIV, font_, glyphCode_);
    run(glyphCode_, 0);
  }

  const std::vector<bool>& usedSubrs() const { return used_; }
  // The subroutine called more than ten deep, or -1.
  long tooDeep() const { return tooDeep_; }
  bool keepAllSubrs() const { return unknown_; }
  const std::set<std::string>& components() const { return components_; }

 private:
  static constexpr std::int32_t kUnknown = INT32_MIN;
  static constexpr std::size_t kMaxStack = 64;
  static constexpr int kMaxDepth = 10;

  // A full stack drops its bottom value to take a new one.
  void push(std::int32_t v) {
    if (depth_ >= kMaxStack) {
      std::copy(stack_.begin() + 1, stack_.end(), stack_.begin());
      depth_ = kMaxStack - 1;
    }
    stack_[depth_++] = v;
  }
  std::int32_t pop() { return depth_ == 0 ? kUnknown : stack_[--depth_]; }

  // The operand stack's depth and the budget are kept in locals while
  // numbers are read (most of a charstring's bytes), and handed back to the
  // members around what reads or changes them.
  void run(const std::string& code, int depth) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(code.data());
    const std::size_t n = code.size();
    std::int32_t* const stack = stack_.data();
    std::size_t d = depth_;
    std::size_t budget = budget_;
    std::size_t i = 0;
    while (i < n) {
      if (budget == 0) {
        unknown_ = true;
        ended_ = true;
        break;
      }
      budget -= 1;
      const std::uint8_t v = b[i];
      if (v >= 32) {
        std::int32_t number;
        if (v <= 246) {
          number = v - 139;
          i += 1;
        } else if (v <= 254) {
          if (i + 1 >= n) break;
          number = v <= 250 ? (v - 247) * 256 + b[i + 1] + 108 : -(v - 251) * 256 - b[i + 1] - 108;
          i += 2;
        } else {
          if (i + 4 >= n) break;
          number = std::int32_t(std::uint32_t(b[i + 1]) << 24 | std::uint32_t(b[i + 2]) << 16 |
                                std::uint32_t(b[i + 3]) << 8 | b[i + 4]);
          i += 5;
        }
        // A full stack drops its bottom value to take a new one.
        if (d >= kMaxStack) {
          std::copy(stack + 1, stack + kMaxStack, stack);
          d = kMaxStack - 1;
        }
        stack[d++] = number;
        continue;
      }
      if (v == 12) {
        if (i + 1 >= n) break;
        const std::uint8_t op = b[i + 1];
        i += 2;
        depth_ = d;
        escape(op);
        d = depth_;
        if (ended_) break;
        continue;
      }
      i += 1;
      if (v == 10) {  // callsubr
        const std::int32_t index = d == 0 ? kUnknown : stack[--d];
        if (index == kUnknown || index < 0 || index >= p_.subrCount) {
          unknown_ = true;
          continue;
        }
        used_[std::size_t(index)] = true;
        const Entry* subr = byIndex_[std::size_t(index)];
        if (subr == nullptr || depth >= kMaxDepth) {
          unknown_ = subr != nullptr;
          // Subroutines nest at most ten deep: deeper, they call
          // themselves (directly or through others) without end.
          if (subr != nullptr) tooDeep_ = index;
          continue;
        }
        depth_ = d;
        budget_ = budget;
        run(subrCode(std::size_t(index), *subr), depth + 1);
        d = depth_;
        budget = budget_;
        if (ended_) break;
      } else if (v == 11) {  // return
        break;
      } else if (v == 14) {  // endchar
        ended_ = true;
        break;
      } else {
        d = 0;
      }
    }
    depth_ = d;
    budget_ = budget;
  }

  void escape(std::uint8_t op) {
    switch (op) {
      case 6: {  // seac: asb adx ady bchar achar
        const std::int32_t accent = pop();
        const std::int32_t base = pop();
        for (std::int32_t code : {base, accent}) {
          if (const char* name = StandardEncodingName(code)) components_.insert(name);
        }
        depth_ = 0;
        ended_ = true;
        break;
      }
      case 16: {  // callothersubr: its arguments move to the PostScript stack
        pop();  // the othersubr number
        const std::int32_t count = pop();
        if (count == kUnknown || count < 0 || std::size_t(count) > depth_) {
          depth_ = 0;
          break;
        }
        for (std::int32_t k = 0; k < count; ++k) ps_.push_back(pop());
        break;
      }
      case 17:  // pop: a value back from the PostScript stack
        if (ps_.empty()) {
          push(kUnknown);
        } else {
          push(ps_.back());
          ps_.pop_back();
        }
        break;
      case 12: {  // div
        const std::int32_t d = pop();
        const std::int32_t a = pop();
        push(d == 0 || d == kUnknown || a == kUnknown ? kUnknown : a / d);
        break;
      }
      default:
        depth_ = 0;
    }
  }

  // A Subr's plain charstring, decrypted on its first call: glyphs call the
  // same few Subrs over and over.
  const std::string& subrCode(std::size_t index, const Entry& subr) {
    if (!subrDecoded_[index]) {
      decodeCharString(subr, p_.lenIV, font_, subrCode_[index]);
      subrDecoded_[index] = true;
    }
    return subrCode_[index];
  }

  const PrivatePart& p_;
  const std::string& font_;
  std::vector<const Entry*> byIndex_;  // by Subr number; null for a number not given
  std::vector<bool> used_;
  std::vector<std::string> subrCode_;  // sized once: references to its strings stay valid
  std::vector<bool> subrDecoded_;
  std::string glyphCode_;
  std::set<std::string> components_;
  std::array<std::int32_t, kMaxStack> stack_{};  // the operand stack, depth_ values deep
  std::size_t depth_ = 0;
  std::vector<std::int32_t> ps_;
  bool ended_ = false;
  bool unknown_ = false;
  long tooDeep_ = -1;
  std::size_t budget_ = 50u << 20;
};

// The glyphs of a private part by name: find gives the first glyph of a name.
class GlyphTable {
 public:
  static constexpr std::size_t kNone = ~std::size_t{0};

  explicit GlyphTable(const std::vector<Entry>& glyphs) : names_{glyphs} { table_.build(glyphs.size(), names_); }
  std::size_t find(std::string_view name) const {
    const std::int32_t g = table_.find(name, GlyphNameHash::of(name), names_);
    return g == GlyphNameTable::kNone ? kNone : std::size_t(g);
  }

 private:
  struct Names {
    const std::vector<Entry>& glyphs;
    std::string_view operator()(std::size_t g) const { return glyphs[g].name; }
  } names_;
  GlyphNameTable table_;
};

}  // namespace

std::shared_ptr<const Type1Private> CheckedType1Private(const Type1Program& program,
                                                        const std::string& font) {
  return CheckedType1Private(program, font, std::string());
}

std::shared_ptr<const Type1Private> CheckedType1Private(const Type1Program& program,
                                                        const std::string& font,
                                                        std::string eexecPlain) {
  auto p = ParseType1Private(program, font, std::move(eexecPlain));
  CheckType1Private(*p, font);
  return p;
}

std::shared_ptr<const Type1Private> ParseType1Private(const Type1Program& program, const std::string& font,
                                                      std::string eexecPlain) {
  return std::make_shared<const Type1Private>(parsePrivate(program, font, &eexecPlain));
}

void CheckType1Private(const Type1Private& p, const std::string& font) {
  CharStringWalker walker(p, font);
  for (const Entry& glyph : p.glyphs) {
    walker.walkGlyph(glyph);
    if (walker.tooDeep() >= 0) {
      damaged(font, "the glyph /" + std::string(glyph.name) + " calls subroutine " + std::to_string(walker.tooDeep()) +
                        " more than ten deep: its subroutines call themselves");
    }
  }
}

void CheckType1Program(const Type1Program& program, const std::string& font) {
  CheckedType1Private(program, font);
}

std::string Type1Decrypt(std::string_view cipher, std::uint16_t key) {
  std::string plain(cipher.size(), '\0');
  decryptInto(cipher, key, plain.data());
  return plain;
}

std::string Type1Encrypt(std::string_view plain, std::uint16_t key) {
  std::string cipher(plain.size(), '\0');
  std::uint16_t r = key;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(static_cast<std::uint8_t>(plain[i]) ^ (r >> 8));
    cipher[i] = static_cast<char>(c);
    r = static_cast<std::uint16_t>((c + r) * 52845u + 22719u);
  }
  return cipher;
}

Type1Program ReadType1Program(std::string_view file, const std::string& font) {
  std::string plain;
  return ReadType1Program(file, font, plain);
}

Type1Program ReadType1Program(std::string_view file, const std::string& font, std::string& eexecPlain) {
  if (file.size() > kMaxFontFileBytes) damaged(font, "the font file is too large");
  Type1Program program;
  // The encrypted part: a view of the file, or of `decoded` for the forms
  // whose bytes are not the file's as they stand.
  std::string_view header, cipher;
  std::string headerBytes, decoded;

  if (!file.empty() && static_cast<std::uint8_t>(file[0]) == 0x80) {
    // PFB: segments of cleartext (1), binary (2) and the end mark (3).
    std::size_t pos = 0;
    bool binarySeen = false;
    while (pos < file.size()) {
      if (pos + 2 > file.size() || static_cast<std::uint8_t>(file[pos]) != 0x80) {
        damaged(font, "a PFB segment header is damaged");
      }
      const int type = static_cast<std::uint8_t>(file[pos + 1]);
      if (type == 3) break;
      if (pos + 6 > file.size()) damaged(font, "a PFB segment header is cut short");
      std::uint32_t len = 0;
      for (int k = 3; k >= 0; --k) len = len << 8 | static_cast<std::uint8_t>(file[pos + 2 + k]);
      pos += 6;
      if (len > file.size() - pos) damaged(font, "a PFB segment runs past the end of the file");
      const std::string_view segment = file.substr(pos, len);
      pos += len;
      if (type == 1) {
        if (!binarySeen) headerBytes.append(segment);
      } else if (type == 2) {
        decoded.append(segment);
        binarySeen = true;
      } else {
        damaged(font, "unknown PFB segment type " + std::to_string(type));
      }
    }
    header = headerBytes;
    if (findToken(header, "eexec") == std::string::npos) damaged(font, "the cleartext part has no eexec");
    // Converters put the zeros and "cleartomark" into the binary segment as well.
    cipher = std::string_view(decoded).substr(0, cutAtCloseFile(decoded, font, eexecPlain));
  } else {
    if (file.substr(0, 2) != "%!") damaged(font, "not a Type 1 font program");
    const std::string_view text = file;
    const std::size_t eexec = findToken(text, "eexec");
    if (eexec == std::string::npos) damaged(font, "the program has no eexec part");
    std::size_t start = eexec + 5;
    std::size_t end = text.rfind("cleartomark");
    if (end == std::string::npos || end < start) end = text.size();

    // The line end after eexec belongs to the cleartext part. Binary data may
    // itself begin with a byte that looks like a line end, so the choice is
    // the one whose decrypted text reads as the private dictionary.
    std::size_t first = start;
    while (first < end && isSpace(text[first])) ++first;
    bool hex = end - first >= 4;
    for (std::size_t k = first; hex && k < first + 4; ++k) hex = hexValue(text[k]) >= 0;
    if (hex) {
      std::size_t afterLine = start;
      if (afterLine < end && text[afterLine] == '\r') ++afterLine;
      if (afterLine < end && text[afterLine] == '\n') ++afterLine;
      header = text.substr(0, afterLine);
      int high = -1;
      for (std::size_t k = first; k < end; ++k) {
        const int v = hexValue(text[k]);
        if (v < 0) {
          if (isSpace(text[k])) continue;
          break;
        }
        if (high < 0) {
          high = v;
        } else {
          decoded.push_back(static_cast<char>(high << 4 | v));
          high = -1;
        }
      }
    } else {
      std::size_t chosen = std::string::npos;
      for (std::size_t skip = 0; skip <= 2 && start + skip <= end; ++skip) {
        if (skip > 0 && !isSpace(text[start + skip - 1])) break;
        const std::string probe =
            Type1Decrypt(std::string_view(text).substr(start + skip, std::min<std::size_t>(64, end - start - skip)),
                         kEexecKey);
        if (probe.size() > 4 && probe.find("Private", 4) != std::string::npos) {
          chosen = start + skip;
          break;
        }
      }
      if (chosen == std::string::npos) {
        chosen = start;
        if (chosen < end && text[chosen] == '\r') ++chosen;
        if (chosen < end && text[chosen] == '\n') ++chosen;
      }
      header = text.substr(0, chosen);
      cipher = text.substr(chosen, end - chosen);
    }
    if (hex) cipher = decoded;
    cipher = cipher.substr(0, cutAtCloseFile(cipher, font, eexecPlain));
  }
  if (cipher.size() < 4) damaged(font, "the encrypted part is empty");

  const std::string trailer = standardTrailer();
  program.headerLength = header.size();
  program.encryptedLength = cipher.size();
  program.trailerLength = trailer.size();
  program.data.reserve(header.size() + cipher.size() + trailer.size());
  program.data.append(header).append(cipher).append(trailer);
  return program;
}

std::string Type1FontName(std::string_view cleartext) {
  const std::size_t at = findToken(cleartext, "/FontName");
  if (at == std::string::npos) return {};
  const std::string font;  // reading a token names no font
  Scanner sc(cleartext, at + 9, font);
  const std::string_view name = sc.token();
  if (name.size() < 2 || name[0] != '/') return {};
  return std::string(name.substr(1));
}

std::vector<std::string> Type1GlyphNames(const Type1Program& program, const std::string& font) {
  const PrivatePart p = parsePrivate(program, font);
  std::vector<std::string> names;
  names.reserve(p.glyphs.size());
  for (const Entry& e : p.glyphs) names.emplace_back(e.name);
  return names;
}

Type1Program SubsetType1Program(const Type1Program& program, const std::set<std::string>& glyphs,
                                const std::string& font) {
  return SubsetType1Program(program, parsePrivate(program, font), glyphs, font);
}

Type1Program SubsetType1Program(const Type1Program& program, const Type1Private& p,
                                const std::set<std::string>& glyphs, const std::string& font) {
  // Glyphs by name (the first entry of a name given twice), and for each
  // entry that first entry of its name: a name kept keeps all its entries.
  const GlyphTable byName(p.glyphs);
  std::vector<std::size_t> first(p.glyphs.size());
  for (std::size_t g = 0; g < p.glyphs.size(); ++g) first[g] = byName.find(p.glyphs[g].name);

  // The glyphs to keep, with the accent components their seac operators name.
  CharStringWalker walker(p, font);
  std::vector<bool> kept(p.glyphs.size(), false);
  std::size_t keptNames = 0;
  std::vector<std::string> work{".notdef"};
  work.insert(work.end(), glyphs.begin(), glyphs.end());
  while (!work.empty()) {
    const std::string name = std::move(work.back());
    work.pop_back();
    const std::size_t g = byName.find(name);
    if (g == GlyphTable::kNone || kept[g]) continue;
    kept[g] = true;
    ++keptNames;
    walker.walkGlyph(p.glyphs[g]);
    for (const std::string& c : walker.components()) work.push_back(c);
  }
  if (const std::size_t g = byName.find(".notdef"); g == GlyphTable::kNone || !kept[g]) {
    damaged(font, "the program has no .notdef glyph");
  }

  struct Edit {
    std::size_t start, end;
    std::string text;
  };
  std::vector<Edit> edits;
  for (const Entry& e : p.subrs) {
    const bool used = walker.keepAllSubrs() || e.index <= 3 || walker.usedSubrs()[std::size_t(e.index)];
    if (used) continue;
    std::string plain = p.lenIV >= 0 ? std::string(std::size_t(p.lenIV), '\0') : std::string();
    plain.push_back('\x0b');  // return
    const std::string bytes = p.lenIV >= 0 ? Type1Encrypt(plain, kCharStringKey) : plain;
    edits.push_back({e.start, e.end,
                     "dup " + std::to_string(e.index) + " " + std::to_string(bytes.size()) + " " +
                         std::string(e.rd) + " " + bytes + " " + std::string(e.put)});
  }
  edits.push_back({p.countStart, p.countEnd, std::to_string(keptNames)});
  for (std::size_t g = 0; g < p.glyphs.size(); ++g) {
    if (!kept[first[g]]) edits.push_back({p.glyphs[g].start, p.glyphs[g].end, {}});
  }
  const auto byStart = [](const Edit& a, const Edit& b) { return a.start < b.start; };
  if (!std::is_sorted(edits.begin(), edits.end(), byStart)) std::sort(edits.begin(), edits.end(), byStart);

  std::string plain;
  plain.reserve(p.plain.size());
  std::size_t at = 0;
  for (const Edit& e : edits) {
    if (e.start < at) damaged(font, "overlapping entries in the private part");
    plain.append(p.plain, at, e.start - at);
    plain.append(e.text);
    at = e.end;
  }
  plain.append(p.plain, at, std::string::npos);

  const std::string cipher = Type1Encrypt(plain, kEexecKey);
  Type1Program subset;
  subset.headerLength = program.headerLength;
  subset.encryptedLength = cipher.size();
  subset.trailerLength = program.trailerLength;
  subset.data.reserve(program.headerLength + cipher.size() + program.trailerLength);
  subset.data.append(program.data, 0, program.headerLength);
  subset.data.append(cipher);
  subset.data.append(program.data, program.headerLength + program.encryptedLength,
                     program.trailerLength);
  return subset;
}

namespace {

// Type 1 encryption of n bytes in place.
void encryptInPlace(char* text, std::size_t n, std::uint16_t key) {
  std::uint16_t r = key;
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<std::uint8_t>(static_cast<std::uint8_t>(text[i]) ^ (r >> 8));
    text[i] = static_cast<char>(c);
    r = static_cast<std::uint16_t>((c + r) * 52845u + 22719u);
  }
}

// The length of the start of a plain charstring up to and including its
// hsbw or sbw, when only numbers and div come before it; 0 otherwise (also
// when the start runs past the n bytes given).
std::size_t widthPrefix(const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    const std::uint8_t v = b[i];
    if (v >= 32) {
      i += v <= 246 ? 1 : v <= 254 ? 2 : 5;
    } else if (v == 13) {  // hsbw
      return i + 1;
    } else if (v == 12 && i + 1 < n && b[i + 1] == 7) {  // sbw
      return i + 2;
    } else if (v == 12 && i + 1 < n && b[i + 1] == 12) {  // div
      i += 2;
    } else {
      return 0;
    }
  }
  return 0;
}

void appendNumber(std::string& out, std::size_t n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out.append(digits, std::size_t(end - digits));
}

// Appends a charstring entry (`head` and `number`: "dup" and the Subr's
// number, or "/name" and none), its length, its RD token, the encrypted bytes
// of plain code, its closing token.
void appendEntry(std::string& out, std::string_view head, long number, std::string_view code, const Entry& e,
                 int lenIV) {
  const std::size_t lead = std::size_t(std::max(lenIV, 0));
  out.append(head).push_back(' ');
  if (number >= 0) {
    appendNumber(out, std::size_t(number));
    out.push_back(' ');
  }
  appendNumber(out, lead + code.size());
  out.push_back(' ');
  out.append(e.rd).push_back(' ');
  const std::size_t at = out.size();
  out.append(lead, '\0').append(code);
  if (lenIV >= 0) encryptInPlace(out.data() + at, out.size() - at, kCharStringKey);
  out.push_back(' ');
  out.append(e.put);
}

}  // namespace

Type1Program Type1MetricsProgram(const Type1Program& program, const Type1Private& p,
                                 const std::set<std::string>& whole, const std::string& font) {
  // Which glyphs keep their charstrings (stub 0) and how long the others'
  // width starts are.
  const std::size_t lead = std::size_t(std::max(p.lenIV, 0));
  // The width starts are at most kStart bytes; each glyph's plain start is
  // kept (at kStart bytes per glyph) for writing its entry.
  constexpr std::size_t kStart = 32;
  std::vector<std::size_t> stub(p.glyphs.size(), 0);
  std::string starts(p.glyphs.size() * kStart, '\0');
  std::vector<std::string> walk{".notdef"};
  std::string code(lead + kStart, '\0');
  std::size_t longestWhole = 0;
  for (const std::string& name : whole) longestWhole = std::max(longestWhole, name.size());
  // A charstring no longer than its lead bytes makes FreeType refuse the
  // whole file: so it must refuse the copy too, which therefore is not made.
  for (const Entry& e : p.subrs) {
    if (p.lenIV >= 0 && e.data.size() <= lead) damaged(font, "a charstring shorter than its lead bytes");
  }
  for (std::size_t g = 0; g < p.glyphs.size(); ++g) {
    const Entry& e = p.glyphs[g];
    if (p.lenIV >= 0 && e.data.size() <= lead) damaged(font, "a charstring shorter than its lead bytes");
    if (e.name.size() <= longestWhole && whole.count(std::string(e.name)) != 0) {
      walk.emplace_back(e.name);
      continue;
    }
    // The width comes within the first few bytes: only they are decrypted.
    const std::size_t n = std::min(e.data.size(), lead + kStart);
    if (p.lenIV >= 0) {
      decryptInto(e.data.substr(0, n), kCharStringKey, code.data());
    } else {
      std::memcpy(code.data(), e.data.data(), n);
    }
    stub[g] = widthPrefix(reinterpret_cast<const std::uint8_t*>(code.data()) + lead, n - lead);
    if (stub[g] == 0) {
      walk.emplace_back(e.name);
    } else {
      std::memcpy(starts.data() + g * kStart, code.data() + lead, stub[g]);
    }
  }
  // The kept glyphs, the accent components they name, and the Subrs they call.
  CharStringWalker walker(p, font);
  std::vector<bool> kept(p.glyphs.size(), false);
  while (!walk.empty()) {
    const std::string name = std::move(walk.back());
    walk.pop_back();
    for (std::size_t g = 0; g < p.glyphs.size(); ++g) {
      if (p.glyphs[g].name != name) continue;
      if (!kept[g]) {
        kept[g] = true;
        walker.walkGlyph(p.glyphs[g]);
        walk.insert(walk.end(), walker.components().begin(), walker.components().end());
      }
      break;
    }
  }

  // The charstrings are written unencrypted ("/lenIV -1") where the
  // program says how they are encrypted before its Subrs, or not at all:
  // FreeType then takes each as it stands instead of decrypting it. Every
  // entry is written anew then; otherwise only those cut.
  const std::size_t subrsAt = p.subrsAt, lenIVAt = p.lenIVAt;
  const bool clear = p.lenIV >= 0 && subrsAt != std::string::npos && subrsAt < p.countStart &&
                     (lenIVAt == std::string::npos || lenIVAt < subrsAt);
  const int lenIV = clear ? -1 : p.lenIV;

  // The text to write anew, in the order of the text.
  enum Kind { kReturn, kStub, kWhole, kText };
  struct Edit {
    std::size_t start, end;
    const Entry* entry;  // null for kText
    Kind kind;
    std::string_view text;  // kText
  };
  std::vector<Edit> edits;
  if (clear) {
    if (lenIVAt == std::string::npos) {
      edits.push_back({subrsAt, subrsAt, nullptr, kText, "/lenIV -1 def\n"});
    } else {
      Scanner sc(p.plain, lenIVAt + 6, font);
      sc.skipSpace();
      const std::size_t number = sc.pos();
      sc.token();
      edits.push_back({number, sc.pos(), nullptr, kText, "-1"});
    }
  }
  for (const Entry& e : p.subrs) {
    if (!walker.keepAllSubrs() && e.index > 3 && !walker.usedSubrs()[std::size_t(e.index)]) {
      edits.push_back({e.start, e.end, &e, kReturn, {}});
    } else if (clear) {
      edits.push_back({e.start, e.end, &e, kWhole, {}});
    }
  }
  for (std::size_t g = 0; g < p.glyphs.size(); ++g) {
    const Entry& e = p.glyphs[g];
    if (!kept[g]) {
      edits.push_back({e.start, e.end, &e, kStub, {}});
    } else if (clear) {
      edits.push_back({e.start, e.end, &e, kWhole, {}});
    }
  }
  const auto byStart = [](const Edit& a, const Edit& b) { return a.start < b.start; };
  if (!std::is_sorted(edits.begin(), edits.end(), byStart)) std::sort(edits.begin(), edits.end(), byStart);

  // Where the keys the private part is read by ("/lenIV", "/Subrs",
  // "/CharStrings") land in the copy. Read again, the copy must find each at
  // its own place: in a damaged program the first of these words may stand
  // inside an entry's bytes, which the copy writes anew, and the copy would
  // then be read as another program.
  const std::size_t npos = std::string::npos;
  struct Key {
    std::string_view token;
    std::size_t from, to;  // in the program's text, in the copy's
  } keys[] = {{"/lenIV", lenIVAt, npos}, {"/Subrs", subrsAt, npos}, {"/CharStrings", p.charStringsAt, npos}};
  std::string plain;
  plain.reserve(p.plain.size());
  std::size_t at = 0;
  const auto copyText = [&](std::size_t end) {
    for (Key& key : keys) {
      if (key.from != npos && key.from >= at && key.from < end) key.to = plain.size() + (key.from - at);
    }
    plain.append(p.plain, at, end - at);
  };
  for (const Edit& edit : edits) {
    if (edit.start < at) damaged(font, "overlapping entries in the private part");
    copyText(edit.start);
    at = edit.end;
    if (edit.kind == kText) {
      if (edit.start == edit.end) keys[0].to = plain.size();  // "/lenIV -1 def" put before the Subrs
      plain.append(edit.text);
      continue;
    }
    const Entry& e = *edit.entry;
    const bool subr = e.name.empty();
    if (!subr) plain.append("/").append(e.name);
    if (edit.kind == kReturn) {
      appendEntry(plain, "dup", e.index, "\x0b", e, lenIV);  // return
    } else if (edit.kind == kStub) {
      // The width start, then endchar.
      char start[kStart + 1];
      const std::size_t g = std::size_t(&e - p.glyphs.data());
      const std::size_t length = stub[g];
      std::memcpy(start, starts.data() + g * kStart, length);
      start[length] = '\x0e';
      appendEntry(plain, {}, -1, std::string_view(start, length + 1), e, lenIV);
    } else {
      decodeCharString(e, p.lenIV, font, code);
      appendEntry(plain, subr ? "dup" : std::string_view(), subr ? e.index : -1, code, e, lenIV);
    }
  }
  copyText(p.plain.size());
  for (const Key& key : keys) {
    if ((key.from != npos && key.to == npos) || findToken(plain, key.token) != key.to)
      damaged(font, "the private part's keys stand inside its entries");
  }

  encryptInPlace(plain.data(), plain.size(), kEexecKey);
  Type1Program metrics;
  metrics.headerLength = program.headerLength;
  metrics.encryptedLength = plain.size();
  metrics.trailerLength = program.trailerLength;
  metrics.data.reserve(program.headerLength + plain.size() + program.trailerLength);
  metrics.data.append(program.data, 0, program.headerLength);
  metrics.data.append(plain);
  metrics.data.append(program.data, program.headerLength + program.encryptedLength, program.trailerLength);
  return metrics;
}

const char* StandardEncodingName(int code) {
  static const std::array<const char*, 256> table = [] {
    std::array<const char*, 256> t{};
    static const char* const ascii[] = {
        "space", "exclam", "quotedbl", "numbersign", "dollar", "percent", "ampersand",
        "quoteright", "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period",
        "slash", "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine",
        "colon", "semicolon", "less", "equal", "greater", "question", "at", "A", "B", "C", "D",
        "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S", "T", "U", "V",
        "W", "X", "Y", "Z", "bracketleft", "backslash", "bracketright", "asciicircum",
        "underscore", "quoteleft", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l",
        "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "braceleft", "bar",
        "braceright", "asciitilde"};
    for (int c = 32; c <= 126; ++c) t[std::size_t(c)] = ascii[c - 32];
    static const std::pair<int, const char*> high[] = {
        {161, "exclamdown"}, {162, "cent"}, {163, "sterling"}, {164, "fraction"},
        {165, "yen"}, {166, "florin"}, {167, "section"}, {168, "currency"},
        {169, "quotesingle"}, {170, "quotedblleft"}, {171, "guillemotleft"},
        {172, "guilsinglleft"}, {173, "guilsinglright"}, {174, "fi"}, {175, "fl"},
        {177, "endash"}, {178, "dagger"}, {179, "daggerdbl"}, {180, "periodcentered"},
        {182, "paragraph"}, {183, "bullet"}, {184, "quotesinglbase"}, {185, "quotedblbase"},
        {186, "quotedblright"}, {187, "guillemotright"}, {188, "ellipsis"},
        {189, "perthousand"}, {191, "questiondown"}, {193, "grave"}, {194, "acute"},
        {195, "circumflex"}, {196, "tilde"}, {197, "macron"}, {198, "breve"},
        {199, "dotaccent"}, {200, "dieresis"}, {202, "ring"}, {203, "cedilla"},
        {205, "hungarumlaut"}, {206, "ogonek"}, {207, "caron"}, {208, "emdash"}, {225, "AE"},
        {227, "ordfeminine"}, {232, "Lslash"}, {233, "Oslash"}, {234, "OE"},
        {235, "ordmasculine"}, {241, "ae"}, {245, "dotlessi"}, {248, "lslash"},
        {249, "oslash"}, {250, "oe"}, {251, "germandbls"}};
    for (const auto& [c, name] : high) t[std::size_t(c)] = name;
    return t;
  }();
  return code >= 0 && code < 256 ? table[std::size_t(code)] : nullptr;
}

}  // namespace Fonts

#pragma once
// JSON text as the job loader reads it: a compact document of one piece of a
// job file (the whole file, the keys of one object, or a run of entries of an
// object list), built by simdjson's parser, with
// - every number as a double (integers converted as a reader of JSON numbers
//   converts them, so -0 reads as 0);
// - the point list of a path (an array under "points" of an object whose
//   "kind" is "path") of well-formed points, whole numbers within
//   +-1,000,000,000, stored as path points ready for the model;
// - of a key given twice in one object, the value given last;
// - JSON pointers computed only when a message needs one.
//
// Text that simdjson refuses is parsed again by a plain reader of JSON that
// names the line, the column and what was read of the faulty token; the same
// reader takes the JSON simdjson leaves to others (integers beyond 64 bits,
// nesting beyond its depth), so that what loads does not depend on the parser,
// and whole files, whose simdjson index would take several times their size.
//
// A document owns all its values; Values and Members are plain data in its
// arena and stay valid until the document is cleared or destroyed.
//
// A document may instead be left as simdjson's index of the text (`Tape`),
// read in place by the loader without a compact copy between: that is how
// the runs of object-list entries of a streamed job are read.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kernel/tavdb.h"

namespace TavKernel::jobjson {

// Bytes simdjson may read beyond the end of the text it parses.
inline constexpr std::size_t kPadding = 64;

struct Member;

// The points of a path, as the model stores them.
struct PointList {
  std::vector<TavDB::PathPoint> points;
  bool startsWithCurve = false;  // the first entry is a curve: refused by the loader
};

struct Value {
  enum Kind : std::uint8_t { kNull, kBool, kNumber, kString, kArray, kObject, kPoints };
  Kind kind = kNull;
  bool boolean = false;
  std::uint16_t keyBits = 0;  // of an object: keyBit() of each of its keys
  std::uint32_t size = 0;     // entries of an array or object, bytes of a string
  union {
    double number = 0;
    const char* text;
    const Value* items;
    const Member* members;
    PointList* points;  // owned by the document; the loader moves the points out
  };
};

// A key's hash, as the document stores it beside the key.
constexpr std::uint32_t keyHash(std::string_view key) {
  std::uint32_t h = 2166136261u;
  for (const char c : key) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

// One of 16 bits for a key's hash: an object whose keyBits lack it has no
// such key.
constexpr std::uint16_t keyBit(std::uint32_t hash) { return std::uint16_t(1u << (hash >> 28)); }

struct Member {
  std::string_view key;
  std::uint32_t hash = 0;
  Value value;
};

// simdjson's index of a parsed text, read in place: a word of 64 bits per
// value (its kind in the top byte), numbers followed by a word holding them;
// an array's or object's first word holds the index after its last word and
// its entry count (counts from 0xFFFFFF on are not kept); an object's
// members are a key (a string word) and its value each; a string word holds
// the offset of the string's 32-bit length, its bytes and a zero byte.
// Word 0 is the root's own word: the root value is word 1.
struct Tape {
  const std::uint64_t* words = nullptr;
  const std::uint8_t* strings = nullptr;

  [[gnu::always_inline]] char kind(std::uint32_t at) const { return char(words[at] >> 56); }
  [[gnu::always_inline]] std::uint64_t payload(std::uint32_t at) const { return words[at] & 0x00FFFFFFFFFFFFFFu; }
  // The word after the value at `at`.
  [[gnu::always_inline]] std::uint32_t after(std::uint32_t at) const {
    switch (kind(at)) {
      case '{':
      case '[': return std::uint32_t(words[at]);
      case 'l':
      case 'u':
      case 'd': return at + 2;
      default: return at + 1;
    }
  }
  // Entries of an array, members of an object (keys given twice counted twice).
  std::uint32_t count(std::uint32_t at) const {
    const auto n = std::uint32_t(payload(at) >> 32 & 0xFFFFFF);
    if (n < 0xFFFFFF) return n;
    std::uint32_t k = 0;
    const std::uint32_t end = after(at) - 1;
    const std::uint32_t step = kind(at) == '{' ? 1 : 0;
    for (std::uint32_t i = at + 1; i < end; i = after(i + step)) ++k;
    return k;
  }
  [[gnu::always_inline]] std::string_view string(std::uint32_t at) const {
    const std::uint8_t* p = strings + payload(at);
    std::uint32_t size;
    std::memcpy(&size, p, sizeof size);
    return {reinterpret_cast<const char*>(p + sizeof size), size};
  }
  // Of a number word ('l', 'u' or 'd').
  double number(std::uint32_t at) const {
    std::uint64_t bits;
    std::memcpy(&bits, &words[at + 1], sizeof bits);
    switch (kind(at)) {
      case 'l': return double(std::int64_t(bits));
      case 'u': return double(bits);
      default: return std::bit_cast<double>(bits);
    }
  }
};

class Document {
 public:
  Document();
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Parses `size` bytes at `text`; `text` must be readable up to
  // text + size + kPadding. The previous content is dropped first. Text that
  // is not JSON gives its fault ("parse error at line 3, column 7: ...").
  std::optional<std::string> parse(const char* text, std::size_t size);
  // The same with the plain reader alone: slower, but it needs no index of
  // the text (for a whole file, whose index would outgrow the file).
  std::optional<std::string> parseExact(const char* text, std::size_t size);
  // The same as parse(), the values left in simdjson's index (tape()); text
  // simdjson leaves to the plain reader gives a compact document as parse()
  // does.
  std::optional<std::string> parseInPlace(const char* text, std::size_t size);

  const Value& root() const { return root_; }
  // The index when the last parse left the values in it, else null.
  const Tape* tape() const { return onTape_ ? &tape_ : nullptr; }

  // Where the root lies in its job file (a JSON pointer, empty for the whole
  // file); entry k of a root array lies at base + "/" + (firstIndex + k).
  std::string base;
  std::size_t firstIndex = 0;

  // The JSON pointer of a value of this document; `entry` >= 0 names an entry
  // of a packed point list.
  std::string pointerOf(const Value* value, std::int64_t entry = -1) const;
  // The JSON pointer of the value at word `at` of tape().
  std::string pointerOf(std::uint32_t at) const;

  // Room for pieces of up to `bytes` bytes, taken at once.
  void reserve(std::size_t bytes);

  // The arena, for the builders.
  void* allocate(std::size_t bytes);
  PointList* newPointList();

 private:
  void clear();

  struct Block {
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
  };
  std::vector<Block> blocks_;
  std::size_t block_ = 0;  // the block being filled
  std::size_t used_ = 0;   // of it
  std::deque<PointList> pointLists_;
  Value root_;
  Tape tape_;
  bool onTape_ = false;
  struct Parser;
  std::unique_ptr<Parser> parser_;  // simdjson's, reused from piece to piece
};

// A JSON pointer token: "~" and "/" escaped.
std::string pointerToken(std::string_view key);

}  // namespace TavKernel::jobjson

#include "platform/kernel/jobfile.h"
#include "platform/kernel/placedfiles.h"

#include <algorithm>
#include <bit>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <boost/algorithm/string/case_conv.hpp>

#include "platform/fonts/fontcache.h"
#include "platform/fonts/fontface.h"
#include "platform/kernel/barcode.h"
#include "platform/kernel/jobjson.h"
#include "platform/kernel/dotgain.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "platform/xmlobject.h"

namespace TavKernel {

namespace {

namespace fs = std::filesystem;
using jobjson::Document;
using jobjson::Member;
using jobjson::Value;
using TavDB::Object;
using TavDB::ObjectKind;
using TavDB::ObjectExtra;

constexpr const char* kBadJobKey = "JOB/BAD JOB FILE";
constexpr const char* kCannotReadKey = "JOB/CANNOT READ JOB FILE";

// A refused job: the file, the JSON pointer of the place and what is wrong.
[[noreturn]] void refuse(const std::string& file, const std::string& where, const std::string& what,
                         int code = TavSys::kResultAbandoned, const char* key = kBadJobKey) {
  // What the file holds is shown escaped: its bytes need not be text.
  std::string detail =
      TavSys::EscapeForMessage(file + ": " + (where.empty() ? std::string("/") : where) + ": " + what);
  TavSys::Error e(code, key, detail);
  e.with("__DETAIL__", detail);
  throw e;
}


// Up to 8 bytes of a key, the first at the lowest bits.
template <std::size_t N>
[[gnu::always_inline]] constexpr std::uint64_t keyBytes(const char* p) {
  std::uint64_t v = 0;
  if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
    std::memcpy(&v, p, N);
    return v;
  }
  for (std::size_t i = 0; i < N; ++i) v |= std::uint64_t(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

// Two words that tell a key of up to 16 bytes from any other of its length:
// its first and last 8 bytes (4 bytes below 8, 3 bytes below 4), which
// overlap in keys shorter than 16 and together hold every byte.
struct KeyWords {
  std::uint64_t head = 0, tail = 0;
  [[gnu::always_inline]] bool operator==(const KeyWords& o) const { return head == o.head && tail == o.tail; }
};
constexpr std::size_t kMaxWordKey = 16;
[[gnu::always_inline]] constexpr KeyWords keyWords(std::string_view k) {
  const std::size_t n = k.size();
  if (n >= 8) return {keyBytes<8>(k.data()), keyBytes<8>(k.data() + n - 8)};
  if (n >= 4) return {keyBytes<4>(k.data()), keyBytes<4>(k.data() + n - 4)};
  if (n == 0) return {};
  return {keyBytes<1>(k.data()) | keyBytes<1>(k.data() + n / 2) << 8 | keyBytes<1>(k.data() + n - 1) << 16, 0};
}

// A key of the job format with its hash, worked out when the program is
// compiled.
struct Key {
  std::string_view name;
  std::uint32_t hash;
  std::uint8_t shape;  // of the key's length and bytes, for objects read in place
  KeyWords words;      // of a key of up to kMaxWordKey bytes
  consteval Key(const char* s)
      : name(s), hash(jobjson::keyHash(name)), shape(shapeOf(name)), words(keyWords(name)) {}
  // One of 64 classes of keys by their length, first and last byte: an
  // object read in place none of whose keys has a key's class lacks it.
  static constexpr std::uint8_t shapeOf(std::string_view key) {
    if (key.empty()) return 0;
    const unsigned first = static_cast<unsigned char>(key.front()), last = static_cast<unsigned char>(key.back());
    return std::uint8_t((key.size() * 7 + first * 3 + last) & 63);
  }
};

// The keys an object of the format may hold, with the keys of each class
// chained, for the objects read most.
template <std::size_t N>
struct KeyList {
  std::array<Key, N> keys;
  std::array<std::uint8_t, 64> first{};  // of each class: 1 + its first key's index, or 0
  std::array<std::uint8_t, N> next{};    // 1 + the index of the next key of its class, or 0
  template <std::size_t... I>
  consteval KeyList(const char* const (&names)[N], std::index_sequence<I...>) : keys{Key(names[I])...} {
    for (std::size_t i = N; i-- > 0;) {
      next[i] = first[keys[i].shape];
      first[keys[i].shape] = std::uint8_t(i + 1);
    }
  }
  consteval KeyList(const char* const (&names)[N]) : KeyList(names, std::make_index_sequence<N>()) {}
  bool has(std::string_view key, std::uint8_t shape) const;
  // The index of a key read of the given class, or -1.
  int indexOf(std::string_view key, std::uint8_t shape) const;
  // The same for a key read after the key at index `last` (-1 for the
  // first): keys are mostly written in the order of the list, so the key
  // after it is tried first.
  int indexAfter(std::string_view key, int last) const;
  // The index of a key of the list.
  consteval std::size_t find(std::string_view name) const {
    for (std::size_t i = 0; i < N; ++i)
      if (keys[i].name == name) return i;
    throw "not a key of the list";
  }
};
template <std::size_t N>
KeyList(const char* const (&)[N]) -> KeyList<N>;

// Whether a key read is a key of the format. Keys are short: compared in
// place by two words of each after their lengths agreed (a byte at a time
// when longer).
[[gnu::always_inline]] inline bool sameKey(std::string_view read, const Key& known) {
  if (read.size() != known.name.size()) return false;
  if (read.size() <= kMaxWordKey) return keyWords(read) == known.words;
  for (std::size_t i = 0; i < read.size(); ++i)
    if (read[i] != known.name[i]) return false;
  return true;
}

template <std::size_t N>
[[gnu::always_inline]] inline bool KeyList<N>::has(std::string_view key, std::uint8_t shape) const {
  return indexOf(key, shape) >= 0;
}
template <std::size_t N>
[[gnu::always_inline]] inline int KeyList<N>::indexOf(std::string_view key, std::uint8_t shape) const {
  for (std::uint8_t i = first[shape]; i != 0; i = next[i - 1])
    if (sameKey(key, keys[i - 1])) return i - 1;
  return -1;
}

template <std::size_t N>
[[gnu::always_inline]] inline int KeyList<N>::indexAfter(std::string_view key, int last) const {
  const std::size_t next = std::size_t(last + 1);
  if (next < N && sameKey(key, keys[next])) return int(next);
  return indexOf(key, Key::shapeOf(key));
}

// On simdjson's index: the value at `word` is a 64-bit integer, exact as a
// double, within lo .. hi.
[[gnu::always_inline]] inline bool wholeOnTape(const jobjson::Tape& tape, std::uint32_t word, std::int64_t lo,
                                               std::int64_t hi, std::int64_t& out) {
  if (tape.kind(word) != 'l') return false;
  std::int64_t v;
  std::memcpy(&v, &tape.words[word + 1], sizeof v);
  constexpr std::int64_t kExact = std::int64_t(1) << 53;
  if (v < lo || v > hi || v < -kExact || v > kExact) return false;
  out = v;
  return true;
}

// On simdjson's index: the value at `word` is a point, two whole numbers
// within the coordinates' range.
[[gnu::always_inline]] inline bool pointOnTape(const jobjson::Tape& tape, std::uint32_t word, TavDB::tv_point& out) {
  if (tape.kind(word) != '[' || tape.after(word) != word + 6) return false;
  std::int64_t v, h;
  if (!wholeOnTape(tape, word + 1, -1000000000, 1000000000, v) || !wholeOnTape(tape, word + 3, -1000000000, 1000000000, h))
    return false;
  out = {std::int32_t(v), std::int32_t(h)};
  return true;
}

// A value of the job file with its place, for precise messages. The place
// (a JSON pointer) is worked out only when a message needs it. The value is
// either a compact document's (`j`) or a word of a document left in
// simdjson's index (`at`, with `tape` set).
struct Node {
  const Value* j = nullptr;          // null for a key its holder lacks, or on a tape
  const jobjson::Tape* tape = nullptr;
  std::uint32_t at = 0;              // on a tape: the value's word; 0 for a key its holder lacks
  std::uint32_t holderAt = 0;        // on a tape, for a missing key: its object's word
  const Document* doc;
  const std::string* file;
  const Value* holder = nullptr;  // for a missing key: the object and the key
  std::string_view missing;
  std::int64_t entry = -1;        // an entry of a packed point list
  // On a tape: where item() stopped last (entries are mostly read in
  // order); of an object, once its keys were looked at: their classes.
  mutable std::uint32_t cursorIndex = 0, cursorAt = 0;
  mutable std::uint64_t keyShapes = 0;
  mutable bool indexed = false;
  mutable bool shapeTwice = false;  // a key is given twice
  mutable std::uint32_t nextKey = 0;  // the key after the value found last
  mutable std::uint32_t keyCount = 0, keyEnd = 0;  // the object's keys, the word of its '}'

  Node(const Value* value, const Document* d, const std::string* f) : j(value), doc(d), file(f) {}
  Node(const Document* d, const std::string* f, const Value* object, std::string_view key)
      : j(nullptr), doc(d), file(f), holder(object), missing(key) {}
  Node(const jobjson::Tape* t, std::uint32_t word, const Document* d, const std::string* f)
      : tape(t), at(word), doc(d), file(f) {}

  std::string ptr() const {
    if (tape) {
      if (!at) return doc->pointerOf(holderAt) + "/" + jobjson::pointerToken(missing);
      return doc->pointerOf(at);
    }
    if (!j) return doc->pointerOf(holder) + "/" + jobjson::pointerToken(missing);
    return doc->pointerOf(j, entry);
  }
  [[noreturn]] void fail(const std::string& what) const { refuse(*file, ptr(), what); }
  // A fault at a place below this value, named by its pointer's rest.
  [[noreturn]] void failAt(std::string_view below, const std::string& what) const {
    refuse(*file, ptr() + std::string(below), what);
  }

  // The kinds of values by the kind byte of their word.
  static constexpr std::array<Value::Kind, 256> kTapeKinds = [] {
    std::array<Value::Kind, 256> t{};
    t['{'] = Value::kObject;
    t['['] = Value::kArray;
    t['"'] = Value::kString;
    t['l'] = t['u'] = t['d'] = Value::kNumber;
    t['t'] = t['f'] = Value::kBool;
    return t;
  }();
  Value::Kind kind() const {
    if (!tape) return j ? j->kind : Value::kNull;
    return at ? kTapeKinds[static_cast<unsigned char>(tape->kind(at))] : Value::kNull;
  }
  const char* typeName() const {
    switch (kind()) {
      case Value::kNull: return "null";
      case Value::kObject: return "an object";
      case Value::kArray:
      case Value::kPoints: return "an array";
      case Value::kString: return "a string";
      case Value::kBool: return "a boolean";
      case Value::kNumber: return "a number";
    }
    return "a value of another type";
  }

  bool isObject() const { return kind() == Value::kObject; }
  // Whether the object may hold a key of these classes: false only for an
  // object read in place whose keys were indexed, none of them of one.
  bool mayHold(std::uint64_t shapes) const { return !tape || !indexed || (keyShapes & shapes) != 0; }
  // The value of a key of this object (of a key given twice, the value given
  // last), or false.
  bool find(const Key& key, Node& out) const {
    if (tape) {
      const std::uint32_t found = locate(key);
      if (!found) return false;
      out.tape = tape;
      out.at = found;
      return true;
    }
    if (!isObject() || !(j->keyBits & jobjson::keyBit(key.hash))) return false;
    for (std::uint32_t i = 0; i < j->size; ++i) {
      const Member& m = j->members[i];
      if (m.hash == key.hash && sameKey(m.key, key)) {
        out = Node(&m.value, doc, file);
        return true;
      }
    }
    return false;
  }
  // On a tape: the word of a key's value in this object (of a key given
  // twice, the value given last), or 0.
  [[gnu::always_inline]] std::uint32_t locate(const Key& key) const {
    if (!indexed) {
      if (!at || tape->kind(at) != '{') return 0;
      indexKeys();
    }
    if (!(keyShapes >> key.shape & 1)) return 0;
    return scan(key);
  }
  [[gnu::always_inline]] std::uint32_t scan(const Key& name) const {
    if (shapeTwice) return scanAll(name);
    // Keys are mostly looked up in the order they are written: from the
    // key after the one found last, round to it.
    std::uint32_t i = nextKey;
    for (std::uint32_t n = keyCount; n > 0; --n) {
      if (i >= keyEnd) i = at + 1;
      if (sameKey(tape->string(i), name)) {
        nextKey = tape->after(i + 1);
        return i + 1;
      }
      i = tape->after(i + 1);
    }
    return 0;
  }
  [[gnu::noinline]] std::uint32_t scanAll(const Key& name) const { return lastValueOf(name, keyEnd); }
  // The word of the key's value among the object's keys before `end` (of a
  // key given twice, the value given last), or 0.
  std::uint32_t lastValueOf(const Key& name, std::uint32_t end) const {
    std::uint32_t found = 0;
    for (std::uint32_t i = at + 1; i < end; i = tape->after(i + 1))
      if (sameKey(tape->string(i), name)) found = i + 1;
    return found;
  }
  // The value of a key looked up before any other of the object's keys, which
  // the check of the object's keys will index on its way (of a key given
  // twice, the value given last).
  Node reqFirst(const Key& key) const {
    if (tape && !indexed && at && tape->kind(at) == '{') {
      if (const std::uint32_t found = lastValueOf(key, tape->after(at) - 1)) return {tape, found, doc, file};
    }
    return req(key);
  }
  // The classes of an object's keys on a tape.
  void indexKeys() const {
    const std::uint32_t end = tape->after(at) - 1;
    for (std::uint32_t i = at + 1; i < end; i = tape->after(i + 1)) {
      const std::string_view key = tape->string(i);
      noteKey(i, key, Key::shapeOf(key));
    }
    indexed = true;
  }
  // Notes the key at word `keyAt`, the keys before it noted already.
  void noteKey(std::uint32_t keyAt, std::string_view key, std::uint8_t shape) const {
    if (keyCount++ == 0) {
      keyEnd = tape->after(at) - 1;
      nextKey = at + 1;
    }
    const std::uint64_t bit = std::uint64_t(1) << shape;
    if ((keyShapes & bit) && !shapeTwice)
      for (std::uint32_t i = at + 1; i < keyAt; i = tape->after(i + 1))
        if (tape->string(i) == key) shapeTwice = true;
    keyShapes |= bit;
  }

  Node child(const Key& key) const {
    Node out(nullptr, doc, file);
    if (find(key, out)) return out;
    if (tape) {
      out = Node(tape, 0, doc, file);
      out.holderAt = at;
      out.missing = key.name;
      return out;
    }
    return {doc, file, j, key.name};
  }
  Node item(std::size_t i) const {
    if (!tape) return {&j->items[i], doc, file};
    if (cursorAt == 0 || i < cursorIndex) {
      cursorIndex = 0;
      cursorAt = at + 1;
    }
    for (; cursorIndex < i; ++cursorIndex) cursorAt = tape->after(cursorAt);
    return {tape, cursorAt, doc, file};
  }

  [[gnu::always_inline]] bool has(const Key& key) const {
    if (tape) return locate(key) != 0;
    Node out(nullptr, doc, file);
    return find(key, out);
  }
  [[gnu::always_inline]] std::optional<Node> opt(const Key& key) const {
    if (tape) {
      if (const std::uint32_t found = locate(key)) return Node(tape, found, doc, file);
      return std::nullopt;
    }
    Node out(nullptr, doc, file);
    if (find(key, out)) return out;
    return std::nullopt;
  }
  [[gnu::always_inline]] Node req(const Key& key) const {
    if (tape) {
      if (const std::uint32_t found = locate(key)) return {tape, found, doc, file};
    } else {
      Node out(nullptr, doc, file);
      if (find(key, out)) return out;
    }
    fail("missing \"" + std::string(key.name) + "\"");
  }

  // The object holds no key but these.
  void object(std::initializer_list<Key> allowed) const {
    objectWith([&](std::string_view key, std::uint8_t shape) {
      for (const Key& a : allowed)
        if (a.shape == shape && sameKey(key, a)) return true;
      return false;
    });
  }
  template <std::size_t N>
  void object(const KeyList<N>& allowed) const {
    objectWith([&](std::string_view key, std::uint8_t shape) { return allowed.has(key, shape); });
  }
  template <class Allowed>
  void objectWith(const Allowed& allowed) const {
    if (!isObject()) fail(std::string("expected an object, found ") + typeName());
    // Of several unknown keys the first in the order of their names is named.
    if (tape) {
      std::uint32_t unknown = 0;
      const std::uint32_t end = tape->after(at) - 1;
      const bool index = !indexed;  // the keys' classes noted on the way
      for (std::uint32_t i = at + 1; i < end; i = tape->after(i + 1)) {
        const std::string_view k = tape->string(i);
        const std::uint8_t shape = Key::shapeOf(k);
        if (index) noteKey(i, k, shape);
        if (!allowed(k, shape) && (!unknown || k < tape->string(unknown))) unknown = i;
      }
      if (unknown) {
        // A key given twice is named at its value given last.
        const std::string_view k = tape->string(unknown);
        std::uint32_t value = 0;
        for (std::uint32_t i = at + 1; i < end; i = tape->after(i + 1))
          if (tape->string(i) == k) value = i + 1;
        Node{tape, value, doc, file}.fail("unknown key \"" + std::string(k) + "\"");
      }
      indexed = true;
      return;
    }
    const Member* unknown = nullptr;
    for (std::uint32_t i = 0; i < j->size; ++i) {
      const Member& m = j->members[i];
      if (!allowed(m.key, Key::shapeOf(m.key)) && (!unknown || m.key < unknown->key)) unknown = &m;
    }
    if (unknown) Node{&unknown->value, doc, file}.fail("unknown key \"" + std::string(unknown->key) + "\"");
  }
  // The members of an object, in the order of their names (of a key given
  // twice, the value given last).
  std::vector<std::pair<std::string, Node>> members() const {
    if (!isObject()) fail(std::string("expected an object, found ") + typeName());
    std::vector<std::pair<std::string, Node>> out;
    if (tape) {
      const std::uint32_t end = tape->after(at) - 1;
      for (std::uint32_t i = at + 1; i < end; i = tape->after(i + 1))
        out.emplace_back(std::string(tape->string(i)), Node{tape, i + 1, doc, file});
      std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      std::vector<std::pair<std::string, Node>> last;
      last.reserve(out.size());
      for (std::size_t i = 0; i < out.size(); ++i)
        if (i + 1 == out.size() || out[i + 1].first != out[i].first) last.push_back(std::move(out[i]));
      return last;
    }
    out.reserve(j->size);
    for (std::uint32_t i = 0; i < j->size; ++i)
      out.emplace_back(std::string(j->members[i].key), Node{&j->members[i].value, doc, file});
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
  }
  bool isArray() const { return kind() == Value::kArray; }
  std::size_t size() const { return tape ? tape->count(at) : j->size; }
  std::size_t array(std::size_t minSize = 0, std::size_t maxSize = SIZE_MAX) const {
    if (!isArray()) fail(std::string("expected an array, found ") + typeName());
    const std::size_t n = size();
    if (n < minSize) fail("expected at least " + std::to_string(minSize) + " entries");
    if (n > maxSize) fail("expected at most " + std::to_string(maxSize) + " entries");
    return n;
  }
  bool isNumber() const { return kind() == Value::kNumber; }
  double number() const {
    if (!isNumber()) fail(std::string("expected a number, found ") + typeName());
    const double d = tape ? tape->number(at) : j->number;
    if (!std::isfinite(d)) fail("the number is not finite");
    return d;
  }
  double number(double lo, double hi) const {
    const double d = number();
    if (d < lo || d > hi) {
      std::ostringstream s;
      s << "the number " << d << " is outside " << lo << " .. " << hi;
      fail(s.str());
    }
    return d;
  }
  std::int64_t integer(std::int64_t lo, std::int64_t hi) const {
    // A whole number read in place within the range is taken as it is;
    // anything else goes the long way, which names the fault.
    if (std::int64_t v; tape && wholeOnTape(*tape, at, lo, hi, v)) return v;
    const double d = number();
    if (d != std::floor(d)) fail("expected a whole number");
    if (d < double(lo) || d > double(hi)) {
      // Beyond the 64-bit range a number has no integer form: shown as read.
      std::ostringstream s;
      if (std::abs(d) < 9e18)
        s << std::int64_t(d);
      else
        s << d;
      fail("the number " + s.str() + " is outside " + std::to_string(lo) + " .. " + std::to_string(hi));
    }
    return static_cast<std::int64_t>(d);
  }
  std::int32_t coord() const {
    return static_cast<std::int32_t>(integer(-1000000000, 1000000000));
  }
  bool boolean() const {
    if (kind() != Value::kBool) fail(std::string("expected true or false, found ") + typeName());
    return tape ? tape->kind(at) == 't' : j->boolean;
  }
  std::string_view text() const {
    if (kind() != Value::kString) fail(std::string("expected a string, found ") + typeName());
    return tape ? tape->string(at) : std::string_view(j->text, j->size);
  }
  std::string string() const {
    const std::string_view s = text();
    // simdjson refuses ill-formed UTF-8 and lone surrogates in \u escapes
    // before a value reaches its index: a string read in place is well-formed.
    if (!tape && !TavSys::IsValidUTF8(s)) fail("the text is not valid UTF-8");
    return std::string(s);
  }
  std::string nonEmptyString() const {
    std::string s = string();
    if (s.empty()) fail("the text is empty");
    return s;
  }
  template <class E>
  E choice(std::initializer_list<std::pair<std::string_view, E>> options) const {
    const std::string_view s = text();
    for (const auto& [name, value] : options)
      if (s == name) return value;
    const std::string read = string();
    std::string list;
    for (const auto& o : options) list += std::string(list.empty() ? "" : ", ") + "\"" + std::string(o.first) + "\"";
    fail("unknown value \"" + read + "\" (expected one of " + list + ")");
  }
  TavDB::tv_point point() const {
    // Two whole numbers, read in place.
    if (TavDB::tv_point p; tape && pointOnTape(*tape, at, p)) return p;
    array(2, 2);
    return {item(0).coord(), item(1).coord()};
  }
  TavDB::tv_box box() const {
    array(4, 4);
    TavDB::tv_box b{item(0).coord(), item(1).coord(), item(2).coord(), item(3).coord()};
    if (b.top > b.bottom) fail("top lies below bottom (the vertical axis points down)");
    if (b.left > b.right) fail("left lies right of right");
    return b;
  }
  std::uint16_t index() const { return static_cast<std::uint16_t>(integer(0, 65535)); }
};

// An ink name as PDF files write it: "All" and "None" are names PDF keeps
// for itself (an "All" ink would print on every plate, a "None" ink on
// none), and a control character would cut the name short or merge two inks.
void checkInkName(const Node& n, const std::string& name) {
  if (name == "All" || name == "None")
    n.fail("\"" + name + "\" is a colorant name PDF reserves (All prints on every plate, None on none); rename the ink");
  for (const unsigned char c : name)
    if (c < 0x20 || c == 0x7F) n.fail("the ink name holds a control character");
}

bool optBool(const Node& n, const Key& key, bool fallback) {
  if (auto v = n.opt(key)) return v->boolean();
  return fallback;
}

// The keys of an object's flags.
struct FlagKey {
  Key key;
  std::uint32_t flag;
};
constexpr FlagKey kFlagKeys[] = {{"hidden", TavDB::kObjHidden},
                                 {"locked", TavDB::kObjLocked},
                                 {"nonPrinting", TavDB::kObjNonPrinting},
                                 {"excluded", TavDB::kObjExcluded},
                                 {"trap", TavDB::kObjTrap}};

std::string readWholeFile(const fs::path& path, const std::string& file, const std::string& where,
                          bool isJob) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    if (isJob && where.empty()) {
      TavSys::Error e = TavSys::fileError(err, path.string(), kCannotReadKey);
      throw e;
    }
    refuse(file, where, "cannot read " + path.string() + ": " + std::strerror(err),
           TavSys::kFileErrorBase + err, kBadJobKey);
  }
  // Read in pieces and stop past the limit: a pipe need not end.
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, std::size_t(in.gcount()));
    if (text.size() > kMaxJobFileBytes) refuse(file, where, "the job file is too large");
  }
  if (in.bad()) refuse(file, where, "cannot read " + path.string(), TavSys::kFileErrorBase + EIO);
  return text;
}

// Parses a text read whole.
std::optional<std::string> parseWhole(Document& doc, const std::string& text) {
  return doc.parseExact(text.data(), text.size());
}

void checkReadable(const fs::path& path, const Node& where) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) where.fail("cannot read " + path.string() + ": it is a folder");
  if (fs::exists(path, ec) && !fs::is_regular_file(path, ec))
    where.fail("cannot read " + path.string() + ": it is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno ? errno : ENOENT;
    refuse(*where.file, where.ptr(), "cannot read " + path.string() + ": " + std::strerror(err),
           TavSys::kFileErrorBase + err);
  }
}

// Shared state of one top-level load: the chain of job files being loaded
// (cycle detection) and the one-ups already loaded.
struct LoadSession {
  std::vector<fs::path> chain;
  std::map<fs::path, std::shared_ptr<jobstr>> loaded;
};

class Loader {
 public:
  Loader(LoadSession& session, fs::path base, std::string file)
      : session_(session), base_(std::move(base)), file_(std::move(file)) {}

  std::unique_ptr<jobstr> load(const Document& doc) {
    const Node root = rootOf(doc);
    readDefinitions(root);
    if (auto v = root.opt("objects")) readMembers(*job_->spatialTree, *v, 1, true, false);
    return finish(root);
  }

  // The load in pieces, for a file read while it streams: what the objects
  // refer to (the top-level keys before "objects"), then runs of entries of
  // object lists and objects whose members were read before them, then the
  // rest (the top level's keys again, all of them).
  void readDefinitions(const Document& doc) { readDefinitions(rootOf(doc)); }
  // Each entry of the document's root array, an object at `depth`; members
  // go to `into`, or to the top level when it is null.
  void readEntries(const Document& doc, std::size_t depth, bool topLevel,
                   std::vector<std::unique_ptr<Object>>* into);
  // The object that is the document's root, its "objects" list (`list`, a
  // placeholder in the document) given as `members`.
  std::unique_ptr<Object> readStreamedObject(const Document& doc, std::size_t depth, bool topLevel,
                                             const Value* list, std::vector<std::unique_ptr<Object>> members);
  void addTopLevel(std::unique_ptr<Object> o) { job_->spatialTree->addontop(std::move(o)); }
  std::unique_ptr<jobstr> finish(const Document& doc) { return finish(rootOf(doc)); }
  // Notes a list the file's objects were read into, for messages naming
  // an object's place.
  void recordFileList(Object& list, std::string place) {
    list.extraMut().fileList = true;
    job_->fileLists.push_back({&list, std::move(place), list.memberCount()});
  }

 private:
  Node rootOf(const Document& doc) const {
    if (const jobjson::Tape* tape = doc.tape()) return {tape, 1, &doc, &file_};
    return {&doc.root(), &doc, &file_};
  }
  void readDefinitions(const Node& root);
  std::unique_ptr<jobstr> finish(const Node& root);

  fs::path resolve(const Node& n) const {
    const std::string s = n.nonEmptyString();
    fs::path p = fs::u8path(s);
    if (p.is_relative()) p = base_ / p;
    return p.lexically_normal();
  }
  int inkByName(const Node& n) const {
    const std::string s = n.string();
    const int slot = TavricLib::FindSeparation(job_.get(), s);
    if (slot < 0) n.fail("no ink named \"" + s + "\"");
    return slot;
  }
  // The id a value names, an entry of `table`.
  template <class T>
  std::uint16_t checkRef(const std::vector<T>& table, const Node& n, const char* what) const {
    const std::uint16_t i = n.index();
    if (i >= table.size() || !table[i].exists)
      n.fail(std::string("no ") + what + " with id " + std::to_string(i));
    return i;
  }
  template <class T>
  std::uint16_t defineId(std::vector<T>& table, const Node& entry, const char* what) {
    const Node idNode = entry.req("id");
    const std::uint16_t id = idNode.index();
    if (id >= table.size()) table.resize(std::size_t(id) + 1);
    if (table[id].exists) idNode.fail(std::string("a ") + what + " with id " + std::to_string(id) + " is already defined");
    table[id].exists = true;
    return id;
  }

  void readHeader(const Node& root);
  void readBoxes(const Node& root);
  void readInks(const Node& list);
  void readScreens(const Node& list);
  void readScreenKindValues(const Node& e, Screen& s);
  void readColours(const Node& list);
  void readPaints(const Node& list);
  void checkPaintRefs(const Node& list);
  void readPictures(const Node& list);
  void readMaps(const Node& list);
  void readPatterns(const Node& list);
  std::unique_ptr<Object> readObject(const Node& n, std::size_t depth, bool topLevel);
  // The flags and extras any object may have.
  void readCommonKeys(const Node& n, Object& o);
  // A text's runs, each checked against its font.
  void readRuns(const Node& runs, TavDB::TextData& t);
  // A text's model, its bounds until it is laid out.
  void placeText(Object& o, std::unique_ptr<TavDB::TextData> t) const;
  // A plain text (its kind, start, frame and runs) read in place in one walk
  // over its keys; null for any other object, which the long way reads or
  // refuses.
  std::unique_ptr<Object> readTextInPlace(const Node& n);
  void readMembers(Object& list, const Node& members, std::size_t depth, bool topLevel,
                   bool pathsOnly);
  void readPoints(Object& path, const Node& points);
  void readBarcode(Object& group, const Node& group_node);
  void checkPaintMapGroup(Object& group, const Node& n) const;
  void readExtras(const Node& root);
  void deriveUsage();

  LoadSession& session_;
  fs::path base_;
  std::string file_;
  std::unique_ptr<jobstr> job_;
  void checkPatternCycles();
  // A paint reference of an object; the paint table is read before any object.
  std::uint16_t paintRef(const Node& n) const { return checkRef(job_->paints, n, "paint"); }
  // Where each pattern was defined, for messages.
  std::map<std::uint16_t, std::string> patternPlaces_;
  // A run's font must be installed and able to show every character of it.
  void checkTextFont(const Node& runNode, const TavDB::TextRun& run) const;
  // A plain run read in place in one walk over its members; false for any
  // other, which the long way reads or refuses with its place.
  bool readRunInPlace(const Node& r, TavDB::TextRun& run) const;
  // Font names read and their ids in the job's font cache, by the name's class.
  struct FontSeen {
    std::string name;
    int id = -1;
  };
  mutable std::array<FontSeen, 64> fontsSeen_;
  mutable TavricCore::FontCache* fontCache_ = nullptr;  // the job's, owned by it
  // The members of the streamed object being read, and the placeholder that
  // stands for its "objects" list.
  const Value* streamedList_ = nullptr;
  std::vector<std::unique_ptr<Object>> streamedMembers_;
};

void Loader::checkTextFont(const Node& runNode, const TavDB::TextRun& run) const {
  if (!fontCache_) fontCache_ = TavricCore::jobGetFontCache(job_.get());
  TavricCore::FontCache* cache = fontCache_;
  // The id of the font named last by a name of the same class is taken
  // again without asking the cache.
  FontSeen& seen = fontsSeen_[Key::shapeOf(run.font)];
  int id = seen.id;
  if (id < 0 || seen.name != run.font) {
    id = cache->FontId(run.font);
    if (id >= 0) seen = {run.font, id};
  }
  if (id < 0) runNode.req("font").fail(Fonts::MissingFontReason(run.font));
  for (std::size_t pos = 0; pos < run.text.size();) {
    pos += cache->KnownAsciiPrefix(id, std::string_view(run.text).substr(pos));
    if (pos == run.text.size()) break;
    const char32_t ch = TavricCore::NextCharacter(run.text, pos);
    if (ch == U'\n') continue;
    const int code = cache->Encode(id, ch);
    if (code >= 0) continue;
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", unsigned(ch));
    if (code == TavricCore::FontCache::kNoGlyph)
      runNode.req("text").fail("the font \"" + run.font + "\" has no character " + name);
    if (cache->EncodingOf(id) != TavricCore::FontCache::Encoding::kAssigned)
      runNode.req("text").fail("the character " + std::string(name) + " is not in the encoding of the font \"" + run.font + "\"");
    runNode.req("text").fail("the font \"" + run.font +
                             "\" cannot show more than 224 different characters in one job (at " +
                             name + ")");
  }
}

void Loader::readHeader(const Node& root) {
  if (auto f = root.opt("format"))
    if (f->string() != "tavpdf-job") f->fail("expected \"tavpdf-job\"");
  if (auto v = root.opt("version"))
    if (v->integer(1, 1) != 1) v->fail("unsupported version");
  jobstr& job = *job_;
  job.name = root.has("name") ? root.child("name").string() : fs::path(file_).stem().string();
  if (auto d = root.opt("description")) job.description = d->string();
  if (auto r = root.opt("rootFile")) job.rootFile = TavSys::filref(resolve(*r).generic_string());
  if (auto c = root.opt("creatorVersion")) {
    c->array(3, 3);
    for (std::size_t i = 0; i < 3; ++i) job.creatorVersion[i] = int(c->item(i).integer(0, 10000));
  }
  const Node ppi = root.req("ppi");
  if (ppi.isNumber() && ppi.number() <= 0) ppi.fail("the resolution must be greater than 0");
  job.ppi = int(ppi.integer(1, 1000000));
  if (auto o = root.opt("origin")) job.origin = o->point();
  if (auto s = root.opt("scale")) {
    job.scale = s->number();
    if (!(job.scale > 0)) s->fail("the scale must be greater than 0");
  }
}

void Loader::readBoxes(const Node& root) {
  static const char* const kNames[5] = {"media", "crop", "bleed", "art", "trim"};
  static constexpr Key kBoxKeys[5] = {"media", "crop", "bleed", "art", "trim"};
  auto kindOf = [&](const Node& n) {
    const std::string s = n.string();
    for (int k = 0; k < 5; ++k)
      if (s == kNames[k]) return k;
    n.fail("unknown box \"" + s + "\" (expected media, crop, bleed, art or trim)");
  };
  if (auto b = root.opt("boxes")) {
    b->object({"media", "crop", "bleed", "art", "trim"});
    for (int k = 0; k < 5; ++k)
      if (auto box = b->opt(kBoxKeys[k])) job_->boxes[k] = box->box();
  }
  if (auto d = root.opt("defaultBoxes")) {
    d->object({"media", "crop", "bleed", "art", "trim"});
    for (int k = 0; k < 5; ++k)
      if (auto v = d->opt(kBoxKeys[k])) {
        const int to = kindOf(*v);
        if (!job_->boxes[to]) v->fail(std::string("the job has no ") + kNames[to] + " box");
        job_->defaultBoxType[k] = to;
      }
  }
}

void Loader::readInks(const Node& list) {
  const std::size_t n = list.array();
  if (n > kMaxSeparations)
    list.fail("the job has " + std::to_string(n) + " inks; at most " + std::to_string(kMaxSeparations) + " are possible");
  jobstr& job = *job_;
  job.inkCount = int(n);
  std::vector<std::pair<int, Node>> mappings;
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"name", "process", "cmyk", "rgb", "opaque", "technical", "varnish", "output",
              "enabled", "used", "softMaskUsed", "cmykFlag", "xmpName", "screen", "dotgainCurve",
              "mapTo"});
    Separation& s = job.separations[i];
    s.exists = true;
    const Node name = e.req("name");
    s.name = name.nonEmptyString();
    checkInkName(name, s.name);
    for (std::size_t k = 0; k < i; ++k)
      if (job.separations[k].name == s.name) name.fail("the ink \"" + s.name + "\" is defined twice");
    if (auto p = e.opt("process")) {
      s.process = p->choice<int>({{"cyan", 0}, {"magenta", 1}, {"yellow", 2}, {"black", 3}});
      for (std::size_t k = 0; k < i; ++k)
        if (job.separations[k].process == s.process) p->fail("a second process ink of this kind");
      s.cmyk = {0, 0, 0, 0};
      s.cmyk[std::size_t(s.process)] = 100;
    }
    if (auto c = e.opt("cmyk")) {
      c->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) s.cmyk[k] = std::uint8_t(c->item(k).integer(0, 100));
    } else if (s.process < 0) {
      e.fail("missing \"cmyk\" (the CMYK equivalent of a spot ink)");
    }
    if (auto r = e.opt("rgb")) {
      r->array(3, 3);
      for (std::size_t k = 0; k < 3; ++k) s.rgb[k] = std::uint8_t(r->item(k).integer(0, 255));
    } else {
      for (std::size_t k = 0; k < 3; ++k)
        s.rgb[k] = std::uint8_t(TavSys::iround(255.0 * (1 - s.cmyk[k] / 100.0) * (1 - s.cmyk[3] / 100.0)));
    }
    s.opaque = optBool(e, "opaque", false);
    s.technical = optBool(e, "technical", false);
    s.varnish = optBool(e, "varnish", false);
    s.output = optBool(e, "output", true);
    s.enabled = optBool(e, "enabled", true);
    s.softMaskUsed = optBool(e, "softMaskUsed", false);
    s.cmykFlag = optBool(e, "cmykFlag", false);
    if (auto x = e.opt("xmpName")) {
      s.xmpName = x->string();
      checkInkName(*x, s.xmpName);
    }
    if (auto d = e.opt("dotgainCurve")) s.dotgainCurve = d->string();
    if (auto m = e.opt("mapTo")) mappings.emplace_back(int(i), *m);
  }
  for (auto& [slot, node] : mappings) {
    const int to = inkByName(node);
    if (to == slot) node.fail("an ink cannot be remapped onto itself");
    job.separations[slot].mappedTo = to;
  }
}

void Loader::readScreens(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "name", "kind", "dotShape", "customSpot", "ruling", "angles", "dotName",
              "dotgainFile", "pressCurves", "extended"});
    const std::uint16_t id = defineId(job_->screens, e, "screen");
    if (id == kNoScreen) e.child("id").fail("65534 means \"no screen\" and cannot be an id");
    Screen& s = job_->screens[id];
    if (auto v = e.opt("name")) s.name = v->string();
    if (auto v = e.opt("kind"))
      s.kind = v->choice<Screen::Kind>({{"classic", Screen::kClassic}, {"notWritable", Screen::kNotWritable},
                                        {"extended", Screen::kExtended}, {"namedDot", Screen::kNamedDot}});
    if (auto v = e.opt("dotShape")) s.dotShape = int(v->integer(0, 65535));
    if (auto v = e.opt("customSpot")) s.customSpot = v->string();
    if (auto v = e.opt("ruling")) s.ruling = v->number(0, 100000);
    if (auto v = e.opt("dotName")) s.dotName = v->string();
    if (auto a = e.opt("angles")) {
      for (const auto& [ink, an] : a->members()) {
        const int slot = TavricLib::FindSeparation(job_.get(), ink);
        if (slot < 0) an.fail("no ink named \"" + ink + "\"");
        s.angle[std::size_t(slot)] = an.number(-360, 360);
      }
    }
    readScreenKindValues(e, s);
  }
  // Ink screens refer to the table just read.
}

void Loader::readScreenKindValues(const Node& e, Screen& s) {
  auto onlyFor = [&](Key key, Screen::Kind kind, const char* kindName) -> std::optional<Node> {
    auto v = e.opt(key);
    if (v && s.kind != kind)
      v->fail(std::string("only ") + kindName + " screens have \"" + std::string(key.name) + "\"");
    return v;
  };
  if (auto v = onlyFor("dotgainFile", Screen::kClassic, "classic")) {
    const fs::path path = resolve(*v);
    checkReadable(path, *v);
    auto dots = std::shared_ptr<dotjob>(CreateDotJob());
    if (dotgainLoadFile(job_.get(), dots.get(), TavSys::filref(path.generic_string()), -1) != 0) {
      v->fail(path.string() + ": " + dots->GetLoadError());
    }
    s.dotgain = std::move(dots);
  }
  if (auto curves = onlyFor("pressCurves", Screen::kNamedDot, "namedDot")) {
    for (const auto& [ink, c] : curves->members()) {
      const int slot = TavricLib::FindSeparation(job_.get(), ink);
      if (slot < 0) c.fail("no ink named \"" + ink + "\"");
      c.object({"curve", "number"});
      PressCurve& curve = s.pressCurves[std::size_t(slot)];
      curve.name = c.req("curve").string();
      if (auto num = c.opt("number")) curve.number = int(num->integer(0, 1000000));
    }
  }
  if (s.kind == Screen::kExtended && !e.has("extended")) e.fail("an extended screen needs \"extended\"");
  if (auto x = onlyFor("extended", Screen::kExtended, "extended")) {
    ScreeningDictionary d;
    const std::pair<const char*, std::string ScreeningDictionary::*> texts[] = {
        {"angleFamily", &ScreeningDictionary::AngleFamily}, {"dotShape", &ScreeningDictionary::DotShape},
        {"rosettes", &ScreeningDictionary::Rosettes}, {"extraCurve", &ScreeningDictionary::ExtraCurve},
        {"cellType", &ScreeningDictionary::CellType}, {"hybridType", &ScreeningDictionary::HybridType},
        {"hybridMeasuredOn", &ScreeningDictionary::HybridMeasuredOn},
        {"endAdjust", &ScreeningDictionary::EndAdjust}, {"rangeMeasuredOn", &ScreeningDictionary::RangeMeasuredOn},
        {"actionBelowMin", &ScreeningDictionary::ActionBelowMin},
        {"actionAboveMax", &ScreeningDictionary::ActionAboveMax}};
    const std::pair<const char*, double ScreeningDictionary::*> reals[] = {
        {"resolution", &ScreeningDictionary::Resolution}, {"cellSize", &ScreeningDictionary::CellSize},
        {"cellCentredStart", &ScreeningDictionary::CellCentredStart},
        {"cellCentredMinCell", &ScreeningDictionary::CellCentredMinCell},
        {"cellCentredFullAt", &ScreeningDictionary::CellCentredFullAt},
        {"cellCentredMaxCell", &ScreeningDictionary::CellCentredMaxCell},
        {"cellCentredEnd", &ScreeningDictionary::CellCentredEnd},
        {"quantumPoint", &ScreeningDictionary::QuantumPoint}, {"fmMinDot", &ScreeningDictionary::FMMinDot},
        {"amStart", &ScreeningDictionary::AMStart}, {"fmEnd", &ScreeningDictionary::FMEnd},
        {"amMinDot", &ScreeningDictionary::AMMinDot}, {"fmStepDown", &ScreeningDictionary::FMStepDown},
        {"minDotValue", &ScreeningDictionary::MinDotValue}, {"minDotAt", &ScreeningDictionary::MinDotAt},
        {"maxDotValue", &ScreeningDictionary::MaxDotValue}, {"maxDotAt", &ScreeningDictionary::MaxDotAt},
        {"ring", &ScreeningDictionary::Ring}, {"space", &ScreeningDictionary::Space}};
    const std::pair<const char*, std::int32_t ScreeningDictionary::*> integers[] = {
        {"ruling", &ScreeningDictionary::Ruling}, {"noise", &ScreeningDictionary::Noise},
        {"fmSize", &ScreeningDictionary::FMSize}, {"grade", &ScreeningDictionary::Grade}};
    for (const auto& member : x->members()) {
      const std::string& key = member.first;
      const Node& v = member.second;
      auto is = [&](const char* name) { return key == name; };
      if (auto t = std::find_if(std::begin(texts), std::end(texts), [&](auto& f) { return is(f.first); });
          t != std::end(texts)) {
        d.*(t->second) = v.string();
      } else if (auto r = std::find_if(std::begin(reals), std::end(reals), [&](auto& f) { return is(f.first); });
                 r != std::end(reals)) {
        d.*(r->second) = v.number(0, 100000);
      } else if (auto n = std::find_if(std::begin(integers), std::end(integers),
                                       [&](auto& f) { return is(f.first); });
                 n != std::end(integers)) {
        d.*(n->second) = std::int32_t(v.integer(0, 1000000));
      } else {
        v.fail("unknown key \"" + key + "\"");
      }
    }
    s.extended = std::move(d);
  }
}

void Loader::readColours(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "inks", "others", "overprint", "registration"});
    const std::uint16_t id = defineId(job_->colours, e, "colour");
    Colour& c = job_->colours[id];
    std::uint8_t others = 0;
    if (auto o = e.opt("others")) {
      const std::int64_t v = o->integer(0, 255);
      if (v > 100 && v != 255) o->fail("an ink share is 0 .. 100, or 255 for an untouched ink");
      others = std::uint8_t(v);
    }
    for (int k = 0; k < job_->inkCount; ++k) c.pct[std::size_t(k)] = others;
    c.overprint = optBool(e, "overprint", false);
    c.registration = optBool(e, "registration", false);
    if (c.registration)
      for (int k = 0; k < job_->inkCount; ++k) c.pct[std::size_t(k)] = 100;
    if (auto inks = e.opt("inks")) {
      for (const auto& [ink, v] : inks->members()) {
        if (!TavSys::IsValidUTF8(ink)) v.fail("the ink name is not valid UTF-8");
        const int slot = TavricLib::FindSeparation(job_.get(), ink);
        if (slot < 0) v.fail("no ink named \"" + ink + "\"");
        const std::int64_t pct = v.integer(0, 255);
        if (pct > 100 && pct != 255) v.fail("an ink share is 0 .. 100, or 255 for an untouched ink");
        c.pct[std::size_t(slot)] = std::uint8_t(pct);
      }
    }
  }
}

void Loader::readPaints(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "type", "colour", "colour2", "start", "end", "form", "steps",
              "focus", "matrix", "picture", "map", "pattern", "place", "pdfPage", "pdfBox",
              "singleInk", "screen", "overprint", "registration", "opacity", "blendMode",
              "softMask", "isolated", "knockout", "alphaIsShape", "length", "box", "expand"});
    const std::uint16_t id = defineId(job_->paints, e, "paint");
    Paint& p = job_->paints[id];
    p.type = e.req("type").choice<PaintType>({{"flat", kPaintFlat}, {"linear", kPaintLinear},
                                              {"radial", kPaintRadial}, {"picture", kPaintPicture},
                                              {"pattern", kPaintPattern}, {"gradation", kPaintGradation},
                                              {"map", kPaintMap}});
    auto needs = [&](Key key) { return e.req(key); };
    switch (p.type) {
      case kPaintFlat: p.colour = needs("colour").index(); break;
      case kPaintLinear:
      case kPaintRadial:
        p.colour = needs("colour").index();
        p.colour2 = needs("colour2").index();
        p.start = needs("start").point();
        p.end = needs("end").point();
        break;
      case kPaintGradation: {
        if (auto f = e.opt("form"))
          p.gradationForm = f->choice<Paint::GradationForm>({{"horizontal", Paint::kGradHorizontal},
                                                             {"vertical", Paint::kGradVertical},
                                                             {"circular", Paint::kGradCircular},
                                                             {"other", Paint::kGradOther}});
        const Node steps = needs("steps");
        const std::size_t ns = steps.array(2, 256);
        for (std::size_t k = 0; k < ns; ++k) {
          const Node s = steps.item(k);
          s.object({"colour", "position", "midpoint"});
          GradationStep st;
          st.colour = s.req("colour").index();
          st.position = s.req("position").coord();
          if (k > 0 && st.position < p.steps.back().position)
            s.child("position").fail("the steps must be in order of position");
          p.steps.push_back(st);
        }
        for (std::size_t k = 0; k < ns; ++k) {
          const std::int64_t gap = k + 1 < ns ? std::int64_t(p.steps[k + 1].position) - p.steps[k].position : 0;
          if (auto m = steps.item(k).opt("midpoint"))
            p.steps[k].midpoint = std::int32_t(m->integer(0, gap));
          else
            p.steps[k].midpoint = std::int32_t(gap / 2);
        }
        p.colour = p.steps.front().colour;
        p.colour2 = p.steps.back().colour;
        if (auto f = e.opt("focus")) p.focus = f->point();
        if (auto v = e.opt("start")) p.start = v->point();
        const std::int64_t span = std::int64_t(p.steps.back().position) - p.steps.front().position;
        p.gradationLength = std::int32_t(span);
        if (auto v = e.opt("length")) p.gradationLength = std::int32_t(v->integer(1, 2000000000));
        if (p.gradationLength <= 0) e.fail("the gradation has no length; give \"length\" or steps at different positions");
        if (auto v = e.opt("box")) {
          p.gradationBox = v->box();
        } else {
          const std::int64_t r = p.gradationLength;
          auto clampCoord = [](std::int64_t x) { return std::int32_t(std::clamp<std::int64_t>(x, INT32_MIN, INT32_MAX)); };
          p.gradationBox = {clampCoord(p.start.v - r), clampCoord(p.start.h - r), clampCoord(p.start.v + r),
                            clampCoord(p.start.h + r)};
        }
        break;
      }
      case kPaintPicture:
        p.picture = needs("picture").index();
        break;
      case kPaintMap:
        p.map = needs("map").index();
        break;
      case kPaintPattern:
        p.pattern = needs("pattern").index();
        if (optBool(e, "expand", false)) p.patternKind = Paint::kPatternExpanded;
        break;
    }
    if (p.type != kPaintPattern && e.opt("expand")) e.child("expand").fail("only a pattern paint is expanded");
    if (p.type == kPaintPicture || p.type == kPaintMap) {
      const Node place = needs("place");
      place.object({"origin", "widthCorner", "heightCorner"});
      p.placeOrigin = place.req("origin").point();
      p.placeWidthCorner = place.req("widthCorner").point();
      p.placeHeightCorner = place.req("heightCorner").point();
    }
    if (auto m = e.opt("matrix")) {
      // Patterns are placed by their corners; other paints have no placement.
      if (p.type != kPaintGradation) m->fail("only a gradation is placed by a matrix");
      m->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) p.matrix[k] = m->item(k).number();
    }
    if (auto v = e.opt("pdfPage")) p.pdfPage = v->index();
    if (auto v = e.opt("pdfBox")) p.pdfBox = std::uint16_t(v->integer(0, 4));
    if (auto v = e.opt("singleInk")) p.singleSeparation = std::uint16_t(inkByName(*v) + 1);
    p.overprint = optBool(e, "overprint", false);
    p.registration = optBool(e, "registration", false);
    if (auto v = e.opt("opacity"))
      p.transparency.opacity = std::uint16_t(TavSys::iround(v->number(0, 100) * kOpacityFull / 100.0));
    if (auto v = e.opt("blendMode"))
      p.transparency.blendMode = v->choice<std::uint8_t>(
          {{"normal", 0}, {"multiply", 1}, {"screen", 2}, {"overlay", 3}, {"softLight", 4},
           {"hardLight", 5}, {"colorDodge", 6}, {"colorBurn", 7}, {"darken", 8},
           {"lighten", 9}, {"difference", 10}, {"exclusion", 11}, {"hue", 12},
           {"saturation", 13}, {"color", 14}, {"luminosity", 15}});
    if (p.type == kPaintFlat || p.type == kPaintLinear || p.type == kPaintRadial) {
      checkRef(job_->colours, e.child("colour"), "colour");
      if (p.type != kPaintFlat) checkRef(job_->colours, e.child("colour2"), "colour");
    }
    if (p.type == kPaintGradation) {
      const Node steps = e.child("steps");
      for (std::size_t k = 0; k < p.steps.size(); ++k)
        checkRef(job_->colours, steps.item(k).child("colour"), "colour");
    }
    if (optBool(e, "alphaIsShape", false)) p.transparency.flags |= 1;
    if (optBool(e, "isolated", false)) p.transparency.flags |= 2;
    if (optBool(e, "knockout", false)) p.transparency.flags |= 4;
  }
}

// References of paints to the other tables, checked once all are read.
void Loader::checkPaintRefs(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    Paint& p = job_->paints[e.child("id").index()];
    if (p.type == kPaintPicture) checkRef(job_->pictures, e.child("picture"), "picture");
    if (p.type == kPaintMap) checkRef(job_->maps, e.child("map"), "map");
    if (p.type == kPaintPattern) {
      checkRef(job_->patterns, e.child("pattern"), "pattern");
      const PatternRec& pattern = job_->patterns[std::size_t(p.pattern)];
      if (pattern.kind != PatternRec::kTiling)
        e.child("pattern").fail("a soft-mask pattern cannot fill an object");
      if (pattern.cell.isEmpty()) e.child("pattern").fail("the pattern's cell is empty: there is nothing to tile");
    }
    if (auto s = e.opt("screen")) {
      checkRef(job_->screens, *s, "screen");
      p.screen = s->index();
    }
    if (auto s = e.opt("softMask")) {
      checkRef(job_->patterns, *s, "pattern");
      p.transparency.softMask = s->index();
      p.transparency.secondOpacity = 0;
    }
  }
}

void Loader::readPictures(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "file", "type", "width", "height", "resolution", "colorSpace", "pdfPage",
              "normalized", "dcs", "inks", "box", "originalOrigin"});
    const std::uint16_t id = defineId(job_->pictures, e, "picture");
    Picture& p = job_->pictures[id];
    const Node fileNode = e.req("file");
    const fs::path path = resolve(fileNode);
    checkReadable(path, fileNode);
    p.file = TavSys::filref(path.generic_string());
    std::string type;
    if (auto t = e.opt("type")) {
      type = t->choice<std::string>({{"TIFF", "TIFF"}, {"JPEG", "JPEG"}, {"EPS", "EPS"},
                                     {"PDF", "PDF"}, {"ART", "ART"}});
    } else {
      std::string ext = boost::algorithm::to_lower_copy(path.extension().string());
      if (ext == ".tif" || ext == ".tiff") type = "TIFF";
      else if (ext == ".jpg" || ext == ".jpeg") type = "JPEG";
      else if (ext == ".eps") type = "EPS";
      else if (ext == ".pdf") type = "PDF";
      else if (ext == ".json") type = "ART";
      else e.fail("cannot tell the picture's type from \"" + path.filename().string() + "\"; give \"type\"");
    }
    p.type = type;
    p.vector = type == "EPS" || type == "PDF" || type == "ART";
    if (type == "ART") {
      // A one-up: a job file of its own, loaded now.
      std::error_code ec;
      fs::path canon = fs::weakly_canonical(path, ec);
      if (ec) canon = path;
      if (std::find(session_.chain.begin(), session_.chain.end(), canon) != session_.chain.end())
        fileNode.fail("the one-up " + path.filename().string() + " includes itself (directly or through other one-ups)");
      if (session_.chain.size() >= kMaxOneUpDepth)
        fileNode.fail("one-ups are nested more than " + std::to_string(kMaxOneUpDepth) + " deep");
      auto found = session_.loaded.find(canon);
      if (found != session_.loaded.end()) {
        p.job = found->second;
      } else {
        std::error_code sizeError;
        if (fs::file_size(path, sizeError) > kMaxJobFileBytes) fileNode.fail("the one-up job file is too large");
        std::string text = readWholeFile(path, file_, fileNode.ptr(), false);
        Document nested;
        if (auto fault = parseWhole(nested, text))
          fileNode.fail("the one-up " + path.filename().string() + " is not valid JSON: " + *fault);
        text = std::string();
        session_.chain.push_back(canon);
        Loader sub(session_, path.parent_path(), path.string());
        p.job = std::shared_ptr<jobstr>(sub.load(nested).release());
        session_.chain.pop_back();
        session_.loaded.emplace(canon, p.job);
      }
      p.job->parent = job_.get();
      if (const auto& media = p.job->boxes[kMediaBox]) {
        p.width = std::int32_t(std::min<std::int64_t>(media->width(), INT32_MAX));
        p.height = std::int32_t(std::min<std::int64_t>(media->height(), INT32_MAX));
        p.box = *media;
      }
      p.originalOrigin = p.job->origin;
      for (int k = 0; k < p.job->inkCount; ++k) {
        const Separation& s = p.job->separations[k];
        if (!s.used) continue;
        const int slot = TavricLib::FindSeparation(job_.get(), s.name);
        if (slot >= 0) p.seps.set(std::size_t(slot));
      }
    }
    if (auto v = e.opt("width")) p.width = std::int32_t(v->integer(0, 1000000000));
    if (auto v = e.opt("height")) p.height = std::int32_t(v->integer(0, 1000000000));
    if (auto v = e.opt("resolution")) p.resolution = v->number(0, 1000000);
    if (auto v = e.opt("colorSpace"))
      p.colorSpaceCode = v->choice<int>({{"gray", 0}, {"bitmap", 1}, {"rgb", 2}, {"cmyk", 5}, {"multichannel", 8}});
    else if (type == "TIFF" || type == "JPEG")
      p.colorSpaceCode = 5;
    if (auto v = e.opt("pdfPage")) p.pdfPage = int(v->integer(0, 1000000));
    p.pdfNormalized = optBool(e, "normalized", false);
    p.dcs = optBool(e, "dcs", false);
    if (p.dcs && type != "EPS") e.child("dcs").fail("only an EPS picture can be a DCS file");
    if (auto v = e.opt("box")) p.box = v->box();
    if (auto v = e.opt("originalOrigin")) p.originalOrigin = v->point();
    if (type != "ART") {
      TavKernel::ReadPlacedFile(p, job_->ppi, {e.opt("width").has_value(), e.opt("height").has_value(),
                                               e.opt("resolution").has_value(), e.opt("colorSpace").has_value()});
    }
    if (auto inks = e.opt("inks")) {
      const std::size_t k = inks->array();
      p.seps.reset();
      for (std::size_t j = 0; j < k; ++j) p.seps.set(std::size_t(inkByName(inks->item(j))));
    } else if (type == "TIFF" || type == "JPEG") {
      // The inks its colour space names: gray prints on Black, RGB and CMYK
      // on the four process inks (those the job has).
      std::vector<int> kinds;
      if (p.colorSpaceCode == 0 || p.colorSpaceCode == 1) kinds = {3};
      if (p.colorSpaceCode == 2 || p.colorSpaceCode == 5) kinds = {0, 1, 2, 3};
      for (int kind : kinds)
        if (const int slot = sepgetcmyk(job_.get(), kind); slot >= 0) p.seps.set(std::size_t(slot));
    }
  }
}

void Loader::readMaps(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "files", "channels", "opacity", "colour", "colour2", "width", "height",
              "resolution", "scale", "internal", "noOpi"});
    const std::uint16_t id = defineId(job_->maps, e, "map");
    PictureMap& m = job_->maps[id];
    const Node files = e.req("files");
    const std::size_t nf = files.array(1, 64);
    for (std::size_t k = 0; k < nf; ++k) {
      const fs::path p = resolve(files.item(k));
      checkReadable(p, files.item(k));
      m.files.emplace_back(p.generic_string());
    }
    auto fileIndex = [&](const Node& v) {
      const std::int64_t f = v.integer(0, 63);
      if (std::size_t(f) >= nf) v.fail("no file " + std::to_string(f) + " in \"files\"");
      return int(f);
    };
    const Node channels = e.req("channels");
    const std::size_t nc = channels.array(1, kMaxSeparations);
    for (std::size_t k = 0; k < nc; ++k) {
      const Node c = channels.item(k);
      c.object({"ink", "file", "channel", "opacity"});
      MapChannel ch;
      ch.separation = inkByName(c.req("ink"));
      for (const MapChannel& other : m.channels)
        if (other.separation == ch.separation) c.child("ink").fail("the ink has two channels");
      ch.file = c.has("file") ? fileIndex(c.child("file")) : 0;
      if (auto v = c.opt("channel")) ch.channel = int(v->integer(0, 255));
      if (auto v = c.opt("opacity"))
        ch.opacity = std::uint16_t(TavSys::iround(v->number(0, 100) * kOpacityFull / 100.0));
      m.channels.push_back(ch);
    }
    if (auto o = e.opt("opacity")) {
      o->object({"file", "channel"});
      m.opacityFile = fileIndex(o->req("file"));
      if (auto v = o->opt("channel")) m.opacityChannel = int(v->integer(0, 255));
    }
    m.colour1 = e.req("colour").index();
    checkRef(job_->colours, e.child("colour"), "colour");
    if (auto v = e.opt("colour2")) {
      checkRef(job_->colours, *v, "colour");
      m.colour2 = v->index();
    }
    m.width = std::int32_t(e.req("width").integer(1, 1000000000));
    m.height = std::int32_t(e.req("height").integer(1, 1000000000));
    m.resolution = job_->ppi;
    if (auto v = e.opt("resolution")) {
      m.resolution = v->number(0, 1000000);
      if (!(m.resolution > 0)) v->fail("the resolution must be greater than 0");
    }
    if (auto v = e.opt("scale")) {
      m.scale = v->number(0, 1000000);
      if (!(m.scale > 0)) v->fail("the scale must be greater than 0");
    }
    m.internal = optBool(e, "internal", false);
    m.noOpi = optBool(e, "noOpi", false);
  }
}

void Loader::readPatterns(const Node& list) {
  const std::size_t n = list.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node e = list.item(i);
    e.object({"id", "kind", "cell", "corners", "maskFlags", "objects"});
    const std::uint16_t id = defineId(job_->patterns, e, "pattern");
    patternPlaces_[id] = e.ptr();
    PatternRec& p = job_->patterns[id];
    if (auto k = e.opt("kind"))
      p.kind = k->choice<PatternRec::Kind>({{"tiling", PatternRec::kTiling}, {"softMask", PatternRec::kSoftMask}});
    if (auto c = e.opt("cell")) p.cell = c->box();
    // Without corners the cell is tiled where it lies.
    p.corners[0] = {p.cell.top, p.cell.left};
    p.corners[1] = {p.cell.top, p.cell.right};
    p.corners[2] = {p.cell.bottom, p.cell.left};
    if (auto c = e.opt("corners")) {
      c->array(3, 3);
      for (std::size_t k = 0; k < 3; ++k) p.corners[k] = c->item(k).point();
      const double wv = double(p.corners[1].v) - p.corners[0].v, wh = double(p.corners[1].h) - p.corners[0].h;
      const double hv = double(p.corners[2].v) - p.corners[0].v, hh = double(p.corners[2].h) - p.corners[0].h;
      if (wv * hh - wh * hv == 0) c->fail("the corners do not span an area");
    }
    if (auto m = e.opt("maskFlags")) p.maskFlags = std::uint32_t(m->integer(0, 0xFFFFFFFF));
    p.objects = TavDB::spanew();
    readMembers(*p.objects, e.req("objects"), 1, false, false);
    p.objects->recalcBounds();
    recordFileList(*p.objects, e.ptr() + "/objects");
  }
}

// The points of a path straight from simdjson's index, when each is [v, h]
// or (after the first) [c1v, c1h, c2v, c2h, v, h] of whole numbers in range;
// false, the path untouched, for anything else, which the reader of each
// point then names.
bool readPointsInPlace(Object& path, const jobjson::Tape& tape, std::uint32_t list) {
  const std::uint32_t end = tape.after(list) - 1;
  const std::uint32_t n = tape.count(list);
  if (n == 0) return false;
  // A point takes 6 words ('[', two numbers of two words, ']'), a curve 14.
  const std::size_t words = end - list - 1;
  if (words < 6 * std::size_t(n) || (words - 6 * std::size_t(n)) % 8 != 0) return false;
  const std::size_t curves = (words - 6 * std::size_t(n)) / 8;
  // As many points as the words make if all are well formed (checked on).
  std::vector<TavDB::PathPoint> out(n + 2 * curves);
  std::size_t made = 0;
  constexpr std::int64_t kLimit = 1000000000;
  for (std::uint32_t i = list + 1; i < end;) {
    if (tape.kind(i) != '[') return false;
    const std::uint32_t size = std::uint32_t(tape.payload(i) >> 32 & 0xFFFFFF);
    if ((size != 2 && size != 6) || (size == 6 && i == list + 1) || made + size / 2 > out.size()) return false;
    std::int32_t c[6] = {};
    for (std::uint32_t k = 0; k < size; ++k) {
      const std::uint32_t w = i + 1 + 2 * k;
      if (tape.kind(w) != 'l') return false;
      std::int64_t v;
      std::memcpy(&v, &tape.words[w + 1], sizeof v);
      if (v < -kLimit || v > kLimit) return false;
      c[k] = std::int32_t(v);
    }
    if (size == 2) {
      out[made++] = {c[0], c[1], TavDB::PathPoint::kLine};
    } else {
      out[made++] = {c[0], c[1], TavDB::PathPoint::kControl};
      out[made++] = {c[2], c[3], TavDB::PathPoint::kControl};
      out[made++] = {c[4], c[5], TavDB::PathPoint::kCurve};
    }
    i += 2 + 2 * size;
  }
  if (made != out.size()) return false;
  path.points() = std::move(out);
  return true;
}

void Loader::readPoints(Object& path, const Node& points) {
  if (points.j && points.j->kind == Value::kPoints) {
    // Well-formed points, read into the model's form with the file.
    jobjson::PointList& list = *points.j->points;
    if (list.points.empty()) points.fail("expected at least 1 entries");
    if (list.startsWithCurve) {
      Node first = points;
      first.entry = 0;
      first.fail("a path starts with a point [v, h], not a curve");
    }
    path.points() = std::move(list.points);
    return;
  }
  if (points.tape && points.isArray() && readPointsInPlace(path, *points.tape, points.at)) return;
  const std::size_t n = points.array(1);
  std::vector<TavDB::PathPoint>& out = path.points();
  std::size_t curves = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Node p = points.item(i);
    curves += p.isArray() && p.size() == 6;
  }
  out.reserve(n + 2 * curves);
  for (std::size_t i = 0; i < n; ++i) {
    const Node p = points.item(i);
    if (!p.isArray() || (p.size() != 2 && p.size() != 6))
      p.fail("expected a point [v, h] or a curve [c1v, c1h, c2v, c2h, v, h]");
    if (p.size() == 6 && i == 0) p.fail("a path starts with a point [v, h], not a curve");
    std::int32_t c[6] = {};
    for (std::size_t k = 0; k < p.size(); ++k) c[k] = p.item(k).coord();
    if (p.size() == 2) {
      out.push_back({c[0], c[1], TavDB::PathPoint::kLine});
    } else {
      out.push_back({c[0], c[1], TavDB::PathPoint::kControl});
      out.push_back({c[2], c[3], TavDB::PathPoint::kControl});
      out.push_back({c[4], c[5], TavDB::PathPoint::kCurve});
    }
  }
}

// The keys of the objects of the tree, by kind, of a text's runs and of a stroke.
constexpr KeyList kLayerKeys({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "objects",
                              "cadLayer", "trapLayer"});
constexpr KeyList kGroupKeys({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "objects",
                              "textCarrier", "mark", "cad", "matrix", "at", "bounds", "boxCreator",
                              "staggeredCut", "barcode", "paintMap"});
constexpr KeyList kCompoundKeys({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "objects",
                                 "paint", "stroke", "mark", "cad", "bounds", "boxCreator"});
constexpr KeyList kPathKeys({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "points",
                             "closed", "paint", "stroke", "mark", "cad", "bounds", "boxCreator"});
constexpr KeyList kTextKeys({"kind", "name", "hidden", "locked", "nonPrinting", "excluded", "trap", "at", "matrix",
                             "width", "height", "leading", "align", "perCharacter", "runs", "stationNumber",
                             "bounds", "mark", "path"});
constexpr KeyList kRunKeys({"text", "font", "size", "paint", "tracking", "hscale", "rise", "wordSpacing",
                            "underline"});
// The numbers of a run, in the order they are read.
struct RunNumber {
  Key key;
  double lo, hi;
  double TavDB::TextRun::*field;
};
constexpr RunNumber kRunSize{"size", 0.1, 10000, &TavDB::TextRun::size};
// The largest frame width and height and the largest leading of a text, read
// in place and the long way alike.
constexpr double kTextFrameMax = 1e9, kTextLeadingMax = 1e5;
constexpr RunNumber kRunOptionalNumbers[] = {{"tracking", -10000, 10000, &TavDB::TextRun::tracking},
                                             {"hscale", 1, 10000, &TavDB::TextRun::horizontalScale},
                                             {"rise", -10000, 10000, &TavDB::TextRun::rise},
                                             {"wordSpacing", -10000, 10000, &TavDB::TextRun::wordSpacing}};

// A number read in place within lo .. hi.
[[gnu::always_inline]] inline bool numberOnTape(const jobjson::Tape& tape, std::uint32_t word, double lo, double hi,
                                                double& out) {
  const char c = tape.kind(word);
  if (c != 'l' && c != 'u' && c != 'd') return false;
  const double d = tape.number(word);
  if (!std::isfinite(d) || d < lo || d > hi) return false;
  out = d;
  return true;
}

// The word of each key's value of the object at `at` on simdjson's index (of
// a key given twice, the value given last; 0 for a key not given), walked
// once; false when the object holds a key that is not of the list or not
// among `allowed` (bits by the keys' places in the list).
template <std::size_t N>
[[gnu::always_inline]] inline bool valuesOnTape(const jobjson::Tape& tape, std::uint32_t at, const KeyList<N>& keys,
                                                std::array<std::uint32_t, N>& value, std::uint64_t allowed = ~0ull) {
  static_assert(N <= 64);
  const std::uint32_t end = tape.after(at) - 1;
  for (std::uint32_t i = at + 1, slot = ~0u; i < end; i = tape.after(i + 1)) {
    slot = std::uint32_t(keys.indexAfter(tape.string(i), int(slot)));
    if (slot == ~0u || !(allowed >> slot & 1)) return false;
    value[std::size_t(slot)] = i + 1;
  }
  return true;
}

// The optional numbers follow "tracking" in the run's keys, in their order.
static_assert([] {
  for (std::size_t k = 0; k < std::size(kRunOptionalNumbers); ++k)
    if (kRunKeys.keys[kRunKeys.find("tracking") + k].name != kRunOptionalNumbers[k].key.name) return false;
  return true;
}());

bool Loader::readRunInPlace(const Node& r, TavDB::TextRun& run) const {
  if (!r.tape || !r.at || r.tape->kind(r.at) != '{') return false;
  const jobjson::Tape& tape = *r.tape;
  std::array<std::uint32_t, kRunKeys.keys.size()> value{};
  if (!valuesOnTape(tape, r.at, kRunKeys, value)) return false;
  auto number = [&](std::uint32_t word, const RunNumber& n) {
    return numberOnTape(tape, word, n.lo, n.hi, run.*n.field);
  };
  const std::uint32_t text = value[kRunKeys.find("text")], font = value[kRunKeys.find("font")];
  const std::uint32_t size = value[kRunKeys.find("size")], paint = value[kRunKeys.find("paint")];
  if (!text || !font || !size || !paint) return false;
  if (tape.kind(text) != '"' || tape.kind(font) != '"') return false;
  const std::string_view fontName = tape.string(font);
  if (fontName.empty() || !number(size, kRunSize)) return false;
  std::int64_t id;
  if (!wholeOnTape(tape, paint, 0, 65535, id) || std::size_t(id) >= job_->paints.size() ||
      !job_->paints[std::size_t(id)].exists)
    return false;
  for (std::size_t k = 0; k < std::size(kRunOptionalNumbers); ++k)
    if (const std::uint32_t w = value[kRunKeys.find("tracking") + k]; w && !number(w, kRunOptionalNumbers[k]))
      return false;
  if (const std::uint32_t w = value[kRunKeys.find("underline")]) {
    const char c = tape.kind(w);
    if (c != 't' && c != 'f') return false;
    run.underline = c == 't';
  }
  run.paint = std::uint16_t(id);
  run.text = std::string(tape.string(text));
  run.font = std::string(fontName);
  return true;
}
constexpr KeyList kStrokeKeys({"width", "paint", "join", "cap", "position", "miterLimit", "dash", "dashPhase"});

void Loader::readRuns(const Node& runs, TavDB::TextData& t) {
  const std::size_t nr = runs.array(1);
  t.runs.reserve(nr);
  // On a tape the runs are walked word by word.
  std::uint32_t word = runs.tape ? runs.at + 1 : 0;
  for (std::size_t k = 0; k < nr; ++k) {
    const Node r = runs.tape ? Node(runs.tape, word, runs.doc, runs.file) : runs.item(k);
    if (runs.tape) word = runs.tape->after(word);
    // Built in place: a run refused throws the whole text away.
    TavDB::TextRun& run = t.runs.emplace_back();
    if (!readRunInPlace(r, run)) {
      run = TavDB::TextRun();
      r.object(kRunKeys);
      run.text = r.req("text").string();
      run.font = r.req("font").nonEmptyString();
      run.size = r.req("size").number(kRunSize.lo, kRunSize.hi);
      const Node rp = r.req("paint");
      run.paint = paintRef(rp);
      for (const RunNumber& f : kRunOptionalNumbers)
        if (auto v = r.opt(f.key)) run.*f.field = v->number(f.lo, f.hi);
      if (auto v = r.opt("underline")) run.underline = v->boolean();
    }
    if (!t.path.empty() && run.text.find('\n') != std::string::npos)
      r.req("text").fail("a text along a path is one line: it cannot hold a line break");
    checkTextFont(r, run);
  }
}

void Loader::placeText(Object& o, std::unique_ptr<TavDB::TextData> t) const {
  // Until the text is laid out, its bounds are its start point grown by the
  // largest size, unless the file gives them.
  double size = 0;
  for (const auto& r : t->runs) size = std::max(size, r.size);
  const std::int32_t em = std::int32_t(std::min(1e9, size * job_->ppi / 72.0));
  auto grow = [](std::int32_t c, double by) { return std::int32_t(std::clamp(double(c) + by, -2e9, 2e9)); };
  if (!t->path.empty()) {
    // Along a path: the path's bounds, grown by the size on every side.
    auto course = Object::create(ObjectKind::Path);
    course->points() = t->path;
    course->recalcBounds();
    const TavDB::tv_box b = course->bounds();
    o.setBounds({grow(b.top, -em), grow(b.left, -em), grow(b.bottom, em), grow(b.right, em)});
  } else if (t->isBox()) {
    o.setBounds({t->start.v, t->start.h, grow(t->start.v, t->height), grow(t->start.h, t->width)});
  } else {
    o.setBounds({t->start.v - em, t->start.h, t->start.v + em / 4,
                  t->start.h + std::int32_t(std::min(1e9, std::max(t->width, double(em))))});
  }
  o.setText(std::move(t));
}

std::unique_ptr<Object> Loader::readTextInPlace(const Node& n) {
  if (!n.tape || !n.at || n.tape->kind(n.at) != '{') return nullptr;
  const jobjson::Tape& tape = *n.tape;
  static constexpr std::uint64_t kPlain = [] {
    std::uint64_t keys = 0;
    for (const std::string_view k : {"kind", "at", "runs", "width", "height", "leading", "align", "perCharacter"})
      for (std::size_t i = 0; i < kTextKeys.keys.size(); ++i)
        if (kTextKeys.keys[i].name == k) keys |= std::uint64_t(1) << i;
    return keys;
  }();
  std::array<std::uint32_t, kTextKeys.keys.size()> value{};
  if (!valuesOnTape(tape, n.at, kTextKeys, value, kPlain)) return nullptr;
  const std::uint32_t kind = value[kTextKeys.find("kind")];
  if (!kind || tape.kind(kind) != '"' || !sameKey(tape.string(kind), Key("text"))) return nullptr;
  const std::uint32_t at = value[kTextKeys.find("at")], runs = value[kTextKeys.find("runs")];
  if (!at || !runs) return nullptr;
  auto t = std::make_unique<TavDB::TextData>();
  if (!pointOnTape(tape, at, t->start)) return nullptr;
  if (const std::uint32_t w = value[kTextKeys.find("width")]; w && !numberOnTape(tape, w, 0, kTextFrameMax, t->width))
    return nullptr;
  if (const std::uint32_t w = value[kTextKeys.find("height")]) {
    if (!numberOnTape(tape, w, 0, kTextFrameMax, t->height)) return nullptr;
    if (t->height > 0 && !(t->width > 0)) return nullptr;
  }
  if (const std::uint32_t w = value[kTextKeys.find("leading")]; w && !numberOnTape(tape, w, 0, kTextLeadingMax, t->leading))
    return nullptr;
  if (const std::uint32_t w = value[kTextKeys.find("align")]) {
    if (tape.kind(w) != '"') return nullptr;
    static constexpr std::pair<Key, TavDB::TextData::Align> kAligns[] = {{Key("left"), TavDB::TextData::kLeft},
                                                                        {Key("centre"), TavDB::TextData::kCentre},
                                                                        {Key("right"), TavDB::TextData::kRight},
                                                                        {Key("justify"), TavDB::TextData::kJustify}};
    const std::string_view a = tape.string(w);
    const auto* found = std::find_if(std::begin(kAligns), std::end(kAligns), [&](const auto& k) { return sameKey(a, k.first); });
    if (found == std::end(kAligns)) return nullptr;
    t->align = found->second;
  }
  if (const std::uint32_t w = value[kTextKeys.find("perCharacter")]) {
    const char c = tape.kind(w);
    if (c != 't' && c != 'f') return nullptr;
    t->perCharacter = c == 't';
  }
  // The text's own keys are sound: what the runs hold is refused as the long
  // way refuses it, with its place.
  std::unique_ptr<Object> o = Object::create(ObjectKind::Text);
  readRuns(Node(n.tape, runs, n.doc, n.file), *t);
  placeText(*o, std::move(t));
  return o;
}

void Loader::readCommonKeys(const Node& n, Object& o) {
  for (const auto& [key, flag] : kFlagKeys)
    if (auto v = n.opt(key)) o.setProperties(flag, v->boolean());
  if (auto v = n.opt("name")) o.extraMut().name = v->string();
  if (auto v = n.opt("mark")) o.extraMut().mark = v->nonEmptyString();
  if (auto v = n.opt("cad")) if (v->boolean()) o.extraMut().cad = true;
  if (auto v = n.opt("cadLayer")) if (v->boolean()) o.extraMut().cadLayer = true;
  if (auto v = n.opt("trapLayer")) if (v->boolean()) o.extraMut().trapLayer = true;
  if (auto v = n.opt("boxCreator")) {
    const std::int64_t t = v->integer(10, 11);
    o.extraMut().boxCreator = int(t);
  }
  if (auto v = n.opt("textCarrier")) o.setProperties(TavDB::kObjTextCarrier, v->boolean());
  if (auto v = n.opt("staggeredCut")) {
    v->object({"allInks", "inks"});
    ObjectExtra& x = o.extraMut();
    x.staggeredCut = true;
    x.staggeredAllInks = optBool(*v, "allInks", true);
    if (auto inks = v->opt("inks")) {
      const std::size_t k = inks->array();
      for (std::size_t i = 0; i < k; ++i) x.staggeredInks |= std::uint64_t(1) << inkByName(inks->item(i));
    }
  }
}

std::unique_ptr<Object> Loader::readObject(const Node& n, std::size_t depth, bool topLevel) {
  if (depth > kMaxNestingDepth)
    n.fail("objects are nested more than " + std::to_string(kMaxNestingDepth) + " deep");
  if (!n.isObject()) n.fail(std::string("expected an object, found ") + n.typeName());
  if (std::unique_ptr<Object> o = readTextInPlace(n)) return o;
  const ObjectKind kind = n.reqFirst("kind").choice<ObjectKind>({{"layer", ObjectKind::Layer},
                                                            {"group", ObjectKind::Group},
                                                            {"compound", ObjectKind::Compound},
                                                            {"path", ObjectKind::Path},
                                                            {"text", ObjectKind::Text}});
  switch (kind) {
    case ObjectKind::Layer:
      n.object(kLayerKeys);
      if (!topLevel) n.child("kind").fail("a layer must be a member of the top-level object list");
      break;
    case ObjectKind::Group:
      n.object(kGroupKeys);
      break;
    case ObjectKind::Compound:
      n.object(kCompoundKeys);
      break;
    case ObjectKind::Path:
      n.object(kPathKeys);
      break;
    case ObjectKind::Text:
      n.object(kTextKeys);
      break;
    case ObjectKind::List: break;
  }
  std::unique_ptr<Object> o = Object::create(kind);
  // The keys any object may hold, mostly absent: looked up one by one only
  // when the object has a key of their classes.
  static constexpr std::uint64_t kCommonShapes = [] {
    std::uint64_t shapes = 0;
    for (const auto& f : kFlagKeys) shapes |= std::uint64_t(1) << f.key.shape;
    for (const Key k : {Key("name"), Key("mark"), Key("cad"), Key("cadLayer"), Key("trapLayer"), Key("boxCreator"),
                        Key("textCarrier"), Key("staggeredCut")})
      shapes |= std::uint64_t(1) << k.shape;
    return shapes;
  }();
  if (n.mayHold(kCommonShapes)) readCommonKeys(n, *o);
  if (kind == ObjectKind::Path || kind == ObjectKind::Compound) {
    std::uint16_t paint = kPaintNoFill;
    if (auto v = n.opt("paint")) {
      paint = paintRef(*v);
    }
    o->setPaint(paint);
    if (auto s = n.opt("stroke")) {
      s->object(kStrokeKeys);
      auto st = std::make_unique<TavDB::Stroke>();
      st->width = s->req("width").number(0, 1e9);
      const Node sp = s->req("paint");
      st->paint = paintRef(sp);
      if (auto v = s->opt("join"))
        st->join = v->choice<TavDB::Stroke::Join>({{"miter", TavDB::Stroke::kMiterJoin},
                                                   {"round", TavDB::Stroke::kRoundJoin},
                                                   {"bevel", TavDB::Stroke::kBevelJoin}});
      if (auto v = s->opt("cap"))
        st->cap = v->choice<TavDB::Stroke::Cap>({{"butt", TavDB::Stroke::kButtCap},
                                                 {"round", TavDB::Stroke::kRoundCap},
                                                 {"square", TavDB::Stroke::kSquareCap}});
      if (auto v = s->opt("position"))
        st->position = v->choice<TavDB::Stroke::Position>({{"centre", TavDB::Stroke::kCentre},
                                                           {"inside", TavDB::Stroke::kInside},
                                                           {"outside", TavDB::Stroke::kOutside}});
      if (auto v = s->opt("miterLimit")) st->miterLimit = v->number(1, 1000);
      if (auto v = s->opt("dash")) {
        const std::size_t k = v->array(0, 32);
        for (std::size_t i = 0; i < k; ++i) st->dash.push_back(v->item(i).number(0, 1e9));
        if (k > 0 && std::all_of(st->dash.begin(), st->dash.end(), [](double d) { return d == 0; }))
          v->fail("a dash pattern needs a length other than 0");
      }
      if (auto v = s->opt("dashPhase")) st->dashPhase = v->number(0, 1e9);
      o->extraMut().stroke = std::move(st);
    }
  }
  if (kind == ObjectKind::Path) {
    readPoints(*o, n.req("points"));
    if (!optBool(n, "closed", true)) o->setProperties(TavDB::kObjOpenPath, true);
    o->recalcBounds();
  } else if (kind == ObjectKind::Text) {
    auto t = std::make_unique<TavDB::TextData>();
    if (auto p = n.opt("path")) {
      // A text along a path starts where the path starts and runs along it:
      // no start point, matrix or frame of its own.
      for (const Key key : {Key("at"), Key("matrix"), Key("width"), Key("height")}) {
        if (auto v = n.opt(key)) v->fail("a text along a path takes no \"" + std::string(key.name) + "\"");
      }
      p->array(2);
      auto course = Object::create(ObjectKind::Path);
      readPoints(*course, *p);
      t->path = std::move(course->points());
      t->start = {t->path.front().v, t->path.front().h};
    } else {
      t->start = n.req("at").point();
    }
    if (auto m = n.opt("matrix")) {
      m->array(4, 4);
      for (std::size_t k = 0; k < 4; ++k) t->matrix[k] = m->item(k).number(-1e6, 1e6);
      // A flat matrix would set the letters in no space at all.
      if (std::abs(t->matrix[0] * t->matrix[3] - t->matrix[1] * t->matrix[2]) < 1e-9)
        m->fail("the matrix is singular");
    }
    if (auto v = n.opt("width")) t->width = v->number(0, kTextFrameMax);
    if (auto v = n.opt("height")) {
      t->height = v->number(0, kTextFrameMax);
      if (t->height > 0 && !(t->width > 0)) v->fail("a text box needs a \"width\" as well");
    }
    if (auto v = n.opt("leading")) t->leading = v->number(0, kTextLeadingMax);
    if (auto v = n.opt("align"))
      t->align = v->choice<TavDB::TextData::Align>({{"left", TavDB::TextData::kLeft},
                                                    {"centre", TavDB::TextData::kCentre},
                                                    {"right", TavDB::TextData::kRight},
                                                    {"justify", TavDB::TextData::kJustify}});
    if (auto v = n.opt("perCharacter")) t->perCharacter = v->boolean();
    readRuns(n.req("runs"), *t);
    if (auto v = n.opt("stationNumber")) o->extraMut().stationNumber = v->boolean();
    placeText(*o, std::move(t));
  } else {
    if (kind == ObjectKind::Group) {
      if (auto m = n.opt("matrix")) {
        m->array(4, 4);
        ObjectExtra& x = o->extraMut();
        x.hasMatrix = true;
        for (std::size_t k = 0; k < 4; ++k) x.matrix[k] = m->item(k).number(-1e6, 1e6);
      }
      if (auto a = n.opt("at")) o->extraMut().origin = a->point();
    }
    if (kind == ObjectKind::Group && n.has("barcode")) {
      if (auto members = n.opt("objects")) readMembers(*o, *members, depth + 1, false, false);
      readBarcode(*o, n);
    } else {
      readMembers(*o, n.req("objects"), depth + 1, false, kind == ObjectKind::Compound);
    }
    if (kind == ObjectKind::Group) {
      if (auto v = n.opt("paintMap")) {
        if (v->boolean()) checkPaintMapGroup(*o, n);
      }
    }
    o->recalcBounds();
  }
  if (auto b = n.opt("bounds")) o->setBounds(b->box());
  return o;
}

// A paint-map group stands for one picture map: its first member is the
// outline the map shows in (it clips the group's OPI form), and its topmost
// path or compound path is painted with the map.
void Loader::checkPaintMapGroup(Object& group, const Node& n) const {
  const Node flag = n.child("paintMap");
  if (n.has("barcode")) flag.fail("a barcode group cannot be a paint-map group");
  const Object* outline = group.memberCount() > 0 ? group.member(0) : nullptr;
  const bool closedShape = outline != nullptr && (outline->kind() == ObjectKind::Compound ||
                                                  (outline->kind() == ObjectKind::Path && !outline->isOpenPath()));
  if (!closedShape) {
    // The members may have been streamed: the place is named, not looked up.
    n.failAt(group.memberCount() > 0 ? "/objects/0" : "/objects",
             "the first member of a paint-map group is the map's outline: a closed path or a compound path");
  }
  // The writer takes the map from the topmost shape.
  TavDB::ListScan scan(&group, TavDB::kObjCompound | TavDB::kObjPath, 0);
  const Object* top = scan.nexhig();
  const Paint* p = top != nullptr ? paipoi(job_.get(), top->paint()) : nullptr;
  if (p == nullptr || p->type != kPaintMap)
    flag.fail("the topmost path or compound path of a paint-map group names its map: it must be painted with a map");
  group.extraMut().paintMapGroup = true;
}

// A barcode: the creator's record from the group's "barcode" object; a group
// without drawn objects gets the symbol drawn by the barcode creator.
void Loader::readBarcode(Object& group, const Node& n) {
  const Node b = n.child("barcode");
  b.object({"symbology", "type", "data", "paint", "font", "angle", "edited", "magnification",
            "barWidthReduction", "barHeight", "leftMargin", "rightMargin", "hideText", "quietZone",
            "whiteBox", "moduleSize", "errorCorrection", "symbolSize", "checkDigit",
            "dataMatrixType", "dataBarForm", "lightMarginIndicator", "cornerMarks", "borders",
            "leftAngularBracket"});
  const Node symbology = b.req("symbology");
  const std::string name = symbology.nonEmptyString();
  int type = BarcodeTypeFromName(name);
  if (type < 0) symbology.fail("unknown symbology \"" + name + "\"");
  if (auto t = b.opt("type")) {
    type = int(t->integer(0, 255));
    if (!BarcodeTypeHasName(type, name))
      t->fail("the type code " + std::to_string(type) + " is not one of " + name);
  }
  std::vector<BarcodeParameter> list;
  const Node data = b.req("data");
  const std::string code = data.nonEmptyString();
  if (code.size() > BarcodeParameter::kTextBytes)
    data.fail("the data are longer than " + std::to_string(BarcodeParameter::kTextBytes) + " bytes");
  list.push_back(BarcodeParameter::Text(kBarCode, code));
  // Sizes are in job units; the magnification is a factor (1 = 100 %), kept in
  // thousandths, and when it is absent the symbology's own size is meant.
  const std::int32_t magnification =
      b.has("magnification") ? std::int32_t(std::lround(b.child("magnification").number(0, 10) * 1000)) : -1;
  list.push_back(BarcodeParameter::Integer(kBarMagnification, magnification));
  auto length = [&](Key key, BarcodeParameterId id) {
    if (auto v = b.opt(key)) list.push_back(BarcodeParameter::Integer(id, std::int32_t(v->integer(0, 100000000))));
  };
  auto flag = [&](Key key, BarcodeParameterId id) {
    if (auto v = b.opt(key)) list.push_back(BarcodeParameter::Byte(id, v->boolean() ? 1 : 0));
  };
  length("barWidthReduction", kBarWidthReduction);
  // The creator always records the height and whether the text shows.
  list.push_back(BarcodeParameter::Integer(
      kBarHeight, b.has("barHeight") ? std::int32_t(b.child("barHeight").integer(0, 100000000)) : 0));
  list.push_back(BarcodeParameter::Byte(kBarTextHidden, optBool(b, "hideText", false) ? 1 : 0));
  length("leftMargin", kBarLeftMargin);
  length("rightMargin", kBarRightMargin);
  length("moduleSize", kBarModuleSize);
  flag("quietZone", kBarQuietZone);
  flag("whiteBox", kBarWhiteBox);
  flag("checkDigit", kBarAddCheckDigit);
  flag("lightMarginIndicator", kBarLightMarginIndicator);
  flag("borders", kBarBorders);
  flag("leftAngularBracket", kBarLeftAngularBracket);
  list.push_back(BarcodeParameter::Byte(kBarFont, b.has("font") ? 1 : 0));
  if (auto v = b.opt("errorCorrection"))
    list.push_back(BarcodeParameter::Byte(kBarErrorCorrection, std::uint8_t(v->integer(0, 3))));
  if (auto v = b.opt("symbolSize"))
    list.push_back(BarcodeParameter::Byte(kBarMinSymbolSize, std::uint8_t(v->integer(1, 40) + 1)));
  if (auto v = b.opt("dataMatrixType"))
    list.push_back(BarcodeParameter::Integer(
        kBarDataMatrixType, v->choice<std::int32_t>({{"auto", kDataMatrixAuto},
                                                     {"square", kDataMatrixSquare},
                                                     {"rectangle", kDataMatrixRectangle}})));
  // GS1 DataBar-14 keeps its form where other symbologies keep the corner marks.
  if (type == 29) {
    if (b.has("cornerMarks")) b.child("cornerMarks").fail("GS1 DataBar-14 has no corner marks");
    std::int32_t form = name == "GS1_DataBar-14_Stacked_Omni" ? kDataBarStackedOmni : kDataBarOmni;
    if (auto v = b.opt("dataBarForm"))
      form = v->choice<std::int32_t>({{"omni", kDataBarOmni}, {"truncated", kDataBarTruncated},
                                      {"stacked", kDataBarStacked}, {"stackedOmni", kDataBarStackedOmni}});
    list.push_back(BarcodeParameter::Byte(kBarCornerMarks, std::uint8_t(form)));
  } else {
    if (b.has("dataBarForm")) b.child("dataBarForm").fail("only GS1 DataBar-14 has a form");
    flag("cornerMarks", kBarCornerMarks);
  }
  auto creator = std::make_shared<barCreator>(type, std::move(list));
  if (auto reason = CheckBarcodeData(*creator, job_->ppi))
    data.fail("the data cannot be a " + name + " symbol: " + *reason);

  ObjectExtra& x = group.extraMut();
  double angle = 0;
  if (auto a = b.opt("angle")) {
    if (n.has("matrix")) a->fail("give the barcode's angle or the group's matrix, not both");
    angle = a->number(-360, 360);
    const double r = angle * 3.14159265358979323846 / 180.0;
    x.hasMatrix = true;
    x.matrix[0] = std::cos(r);
    x.matrix[1] = std::sin(r);
    x.matrix[2] = -std::sin(r);
    x.matrix[3] = std::cos(r);
  }
  if (group.memberCount() == 0) {
    // The creator draws the symbol: it needs a place and a paint.
    if (!BarcodeCanBeDrawn(type))
      symbology.fail("libzint cannot draw " + name + ": the group must hold the barcode's objects");
    BarcodeDrawing drawing;
    drawing.at = n.req("at").point();
    drawing.paint = paintRef(b.req("paint"));
    drawing.font = b.has("font") ? b.child("font").nonEmptyString() : std::string(kBarcodeDefaultFont);
    // The digits under the bars are a text in that font: like a text run's,
    // the font must be installed.
    if (!optBool(b, "hideText", false) && TavricCore::jobGetFontCache(job_.get())->FontId(drawing.font) < 0) {
      (b.has("font") ? b.child("font") : b).fail(Fonts::MissingFontReason(drawing.font));
    }
    drawing.angle = angle;
    const bool white = optBool(b, "whiteBox", false) || optBool(b, "quietZone", false);
    if (white) {
      std::uint8_t pct[kMaxSeparations];
      for (int k = 0; k < kMaxSeparations; ++k) pct[k] = k < job_->inkCount ? 0 : kPercentUntouched;
      drawing.whitePaint = painewflat(job_.get(), pct);
    }
    try {
      DrawBarcode(job_.get(), &group, *creator, drawing);
    } catch (const TavSys::Error& e) {
      data.fail("the data cannot be a " + name + " symbol: " + e.detail());
    }
  } else {
    for (const Key key : {Key("paint"), Key("font")})
      if (b.has(key)) b.child(key).fail("the group holds the barcode's objects already");
  }
  x.barcode = std::move(creator);
  x.barcodeEdited = optBool(b, "edited", false);
}

void Loader::readMembers(Object& list, const Node& members, std::size_t depth, bool topLevel,
                         bool pathsOnly) {
  if (streamedList_ && members.j == streamedList_) {
    streamedList_ = nullptr;
    for (std::unique_ptr<Object>& o : streamedMembers_) {
      if (pathsOnly && o->kind() != ObjectKind::Path) members.fail("a compound path holds paths only");
      list.addontop(std::move(o));
    }
    streamedMembers_.clear();
    return;
  }
  const std::size_t n = members.array();
  for (std::size_t i = 0; i < n; ++i) {
    const Node m = members.item(i);
    std::unique_ptr<Object> o = readObject(m, depth, topLevel);
    if (pathsOnly && o->kind() != ObjectKind::Path)
      m.child("kind").fail("a compound path holds paths only");
    list.addontop(std::move(o));
  }
}

void Loader::readExtras(const Node& root) {
  jobstr& job = *job_;
  if (auto c = root.opt("cad")) {
    c->object({"boundingBox", "printableAreaID", "printableAreas", "mirror", "file", "registration"});
    CADData cad;
    if (auto v = c->opt("boundingBox")) cad.boundingBox = v->box();
    if (auto v = c->opt("printableAreaID")) cad.printableAreaID = int(v->integer(0, 1000000));
    if (auto v = c->opt("printableAreas")) cad.printableAreaCount = int(v->integer(0, 1000000));
    cad.mirror = optBool(*c, "mirror", false);
    if (auto v = c->opt("file")) cad.file = v->string();
    if (auto r = c->opt("registration")) {
      r->object({"angle", "offset"});
      if (auto v = r->opt("angle")) cad.registrationAngle = v->number(-360, 360);
      if (auto v = r->opt("offset")) {
        const TavDB::tv_point p = v->point();
        cad.registrationOffsetV = p.v;
        cad.registrationOffsetH = p.h;
      }
    }
    job.cad = cad;
  }
  if (auto s = root.opt("stations")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"number", "area"});
      job.stations.push_back({int(e.req("number").integer(0, 1000000)), e.req("area").box()});
    }
  }
  if (auto s = root.opt("notes")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"text", "at", "author"});
      Note note;
      note.text = e.req("text").string();
      note.anchor = e.req("at").point();
      if (auto a = e.opt("author")) note.author = a->string();
      job.notes.push_back(std::move(note));
    }
  }
  if (auto s = root.opt("editHistory")) {
    const std::size_t n = s->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = s->item(i);
      e.object({"code", "text", "time", "boxes"});
      EditEntry entry;
      entry.code = int(e.req("code").integer(0, 1000000));
      entry.text = e.req("text").string();
      if (auto t = e.opt("time")) entry.time = t->integer(0, std::int64_t(1) << 40);
      if (auto b = e.opt("boxes")) {
        const std::size_t k = b->array();
        for (std::size_t j = 0; j < k; ++j) entry.boxes.push_back(b->item(j).box());
      }
      job.editHistory.entries().push_back(std::move(entry));
    }
  }
  if (auto c = root.opt("certified")) {
    c->object({"creator", "creationDate", "originalPDF"});
    CertifiedPDFInfo info;
    if (auto v = c->opt("creator")) info.creator = v->string();
    if (auto v = c->opt("creationDate")) info.creationDate = v->integer(0, std::int64_t(1) << 40);
    if (auto v = c->opt("originalPDF")) info.originalPDFFullPath = resolve(*v).generic_string();
    job.certified = info;
  }
  if (auto l = root.opt("linkParameters")) {
    const std::size_t n = l->array();
    for (std::size_t i = 0; i < n; ++i) {
      const Node e = l->item(i);
      e.object({"id", "label", "shortName", "number", "text"});
      const Node idn = e.req("id");
      const auto id = std::uint32_t(idn.integer(0, 0xFFFFFFFF));
      if (job.linkParameters.count(id)) idn.fail("the link parameter is defined twice");
      LinkParameter p;
      if (auto v = e.opt("label")) p.label = v->string();
      if (auto v = e.opt("shortName")) p.shortName = v->string();
      if (auto v = e.opt("number")) p.number = v->number();
      if (auto v = e.opt("text")) {
        p.text = v->string();
        p.isText = true;
      }
      job.linkParameters[id] = p;
    }
  }
  if (auto p = root.opt("parameters")) {
    for (const auto& [name, v] : p->members()) {
      if (!TavSys::IsValidUTF8(name)) v.fail("the name is not valid UTF-8");
      job.parameters[name] = v.string();
    }
  }
  if (auto c = root.opt("customerInfo")) {
    for (const auto& [name, v] : c->members()) {
      // The entries become attributes of the JDF ticket's CustomerInfo.
      if (!Xml::IsValidName(name)) v.fail("the name is not an XML name (letters, digits, '_', '-', '.', ':')");
      job.customerInfo[name] = v.string();
    }
  }
  if (auto t = root.opt("trimAndBleedInfo")) {
    t->object({"trimLeft", "trimBottom", "trimRight", "trimTop", "bleed"});
    TrimAndBleedInfo& i = job.trimAndBleed;
    i.present = true;
    auto get = [&](Key key, int& out) {
      if (auto v = t->opt(key)) out = int(v->integer(-1000000000, 1000000000));
    };
    get("trimLeft", i.trimLeft);
    get("trimBottom", i.trimBottom);
    get("trimRight", i.trimRight);
    get("trimTop", i.trimTop);
    get("bleed", i.bleed);
  }
  if (auto m = root.opt("marks")) {
    m->object({"cropMarks", "registrationMarks", "offset", "length", "lineWidth"});
    job.marks.cropMarks = optBool(*m, "cropMarks", false);
    job.marks.registrationMarks = optBool(*m, "registrationMarks", false);
    if (auto v = m->opt("offset")) job.marks.offset = std::int32_t(v->integer(0, 1000000000));
    if (auto v = m->opt("length")) job.marks.length = std::int32_t(v->integer(0, 1000000000));
    if (auto v = m->opt("lineWidth")) job.marks.lineWidth = v->number(0, 1e9);
  }
  if (auto s = root.opt("solvaraSettings")) job.solvaraSettings = s->string();
}

// A pattern whose objects paint with the pattern itself (directly, through
// other patterns or through soft masks) could never be drawn to an end.
void Loader::checkPatternCycles() {
  const std::size_t n = job_->patterns.size();
  std::vector<std::vector<std::uint16_t>> uses(n);
  for (std::size_t i = 0; i < n; ++i) {
    const PatternRec& pat = job_->patterns[i];
    if (!pat.exists) continue;
    std::vector<const Object*> todo{pat.objects.get()};
    auto addPaint = [&](std::uint16_t index) {
      const Paint* p = paipoi(job_.get(), index);
      if (!p) return;
      if (p->type == kPaintPattern) uses[i].push_back(std::uint16_t(p->pattern));
      if (p->transparency.softMask != kNoSoftMask) uses[i].push_back(p->transparency.softMask);
    };
    while (!todo.empty()) {
      const Object* o = todo.back();
      todo.pop_back();
      for (const auto& m : o->members()) todo.push_back(m.get());
      if (o->kind() == ObjectKind::Path || o->kind() == ObjectKind::Compound) addPaint(o->paint());
      if (const auto* st = o->stroke()) addPaint(st->paint);
      if (const auto* t = o->text())
        for (const auto& r : t->runs) addPaint(r.paint);
    }
  }
  // Depth-first search with colours: 0 new, 1 on the path, 2 done.
  std::vector<int> state(n, 0);
  for (std::size_t start = 0; start < n; ++start) {
    if (!job_->patterns[start].exists || state[start] != 0) continue;
    std::vector<std::pair<std::size_t, std::size_t>> stack{{start, 0}};
    state[start] = 1;
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      if (next < uses[node].size()) {
        const std::size_t to = uses[node][next++];
        if (to >= n) continue;
        if (state[to] == 1)
          refuse(file_, patternPlaces_[std::uint16_t(to)] + "/objects",
                 "the pattern " + std::to_string(to) + " is painted with itself (directly or through other patterns)");
        if (state[to] == 0) {
          state[to] = 1;
          stack.emplace_back(to, 0);
        }
      } else {
        state[node] = 2;
        stack.pop_back();
      }
    }
  }
}

// Marks the inks the objects use (share 1..100 in a colour they paint with).
void Loader::deriveUsage() {
  jobstr& job = *job_;
  std::array<bool, kMaxSeparations> used{}, soft{};
  std::vector<bool> paintSeen(job.paints.size()), softSeen(job.paints.size());
  std::vector<bool> patternSeen(job.patterns.size());
  auto markColour = [&](std::uint16_t colour, std::array<bool, kMaxSeparations>& into) {
    if (const std::uint8_t* pct = colsep(&job, colour))
      for (int k = 0; k < job.inkCount; ++k)
        if (pct[k] >= 1 && pct[k] <= 100) into[std::size_t(k)] = true;
  };
  // Work list of (paint, soft-mask use) pairs and trees to walk.
  std::vector<std::pair<std::uint16_t, bool>> paints;
  std::vector<std::pair<const Object*, bool>> trees{{job.spatialTree.get(), false}};
  while (!trees.empty() || !paints.empty()) {
    while (!trees.empty()) {
      auto [tree, inMask] = trees.back();
      trees.pop_back();
      std::vector<const Object*> todo{tree};
      while (!todo.empty()) {
        const Object* o = todo.back();
        todo.pop_back();
        if (o->flags() & TavDB::kObjExcluded) continue;
        for (const auto& m : o->members()) todo.push_back(m.get());
        if (o->kind() == ObjectKind::Path || o->kind() == ObjectKind::Compound) {
          if (o->parent() == nullptr || o->parent()->kind() != ObjectKind::Compound)
            paints.emplace_back(o->paint(), inMask);
          if (const auto* s = o->stroke(); s && s->width > 0) paints.emplace_back(s->paint, inMask);
        }
        if (const auto* t = o->text())
          for (const auto& r : t->runs) paints.emplace_back(r.paint, inMask);
      }
    }
    while (!paints.empty()) {
      auto [index, inMask] = paints.back();
      paints.pop_back();
      std::vector<bool>& seen = inMask ? softSeen : paintSeen;
      if (index >= seen.size() || seen[index]) continue;
      seen[index] = true;
      const Paint* p = paipoi(&job, index);
      if (!p) continue;
      auto& into = inMask ? soft : used;
      switch (p->type) {
        case kPaintFlat: markColour(p->colour, into); break;
        case kPaintLinear:
        case kPaintRadial:
          markColour(p->colour, into);
          markColour(p->colour2, into);
          break;
        case kPaintGradation:
          for (const auto& s : p->steps) markColour(s.colour, into);
          break;
        case kPaintPicture:
          if (const Picture* pic = picpoi(&job, p->picture))
            for (int k = 0; k < job.inkCount; ++k)
              if (pic->seps.test(std::size_t(k))) into[std::size_t(k)] = true;
          break;
        case kPaintMap:
          if (const PictureMap* m = mappoi(&job, p->map)) {
            markColour(m->colour1, into);
            for (const auto& ch : m->channels) into[std::size_t(ch.separation)] = true;
          }
          break;
        case kPaintPattern:
          if (const PatternRec* pat = patpoi(&job, p->pattern))
            trees.emplace_back(pat->objects.get(), inMask);
          break;
      }
      if (p->transparency.softMask != kNoSoftMask)
        if (const PatternRec* mask = patpoi(&job, p->transparency.softMask))
          if (!patternSeen[p->transparency.softMask]) {
            patternSeen[p->transparency.softMask] = true;
            trees.emplace_back(mask->objects.get(), true);
          }
    }
  }
  for (int k = 0; k < job.inkCount; ++k) {
    Separation& s = job.separations[std::size_t(k)];
    s.used = used[std::size_t(k)];
    s.softMaskUsed = s.softMaskUsed || soft[std::size_t(k)];
  }
}

void Loader::readEntries(const Document& doc, std::size_t depth, bool topLevel,
                         std::vector<std::unique_ptr<Object>>* into) {
  const Node list = rootOf(doc);
  const std::size_t n = list.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::unique_ptr<Object> o = readObject(list.item(i), depth, topLevel);
    if (into)
      into->push_back(std::move(o));
    else
      job_->spatialTree->addontop(std::move(o));
  }
}

std::unique_ptr<Object> Loader::readStreamedObject(const Document& doc, std::size_t depth, bool topLevel,
                                                   const Value* list,
                                                   std::vector<std::unique_ptr<Object>> members) {
  const Node n = rootOf(doc);
  streamedList_ = list;
  streamedMembers_ = std::move(members);
  std::unique_ptr<Object> o = readObject(n, depth, topLevel);
  if (streamedList_) n.fail("the members were not read");
  return o;
}

void Loader::readDefinitions(const Node& root) {
  root.object({"format", "version", "name", "description", "rootFile", "creatorVersion", "ppi",
               "origin", "scale", "boxes", "defaultBoxes", "inks", "screens", "colours", "paints",
               "pictures", "maps", "patterns", "objects", "cad", "stations", "notes",
               "editHistory", "certified", "linkParameters", "parameters", "customerInfo",
               "trimAndBleedInfo", "marks", "solvaraSettings"});
  job_ = std::make_unique<jobstr>();
  fontCache_ = nullptr;  // the fonts are the new job's
  fontsSeen_ = {};
  job_->originalFile = TavSys::filref(fs::path(file_).generic_string());
  readHeader(root);
  readBoxes(root);
  if (auto v = root.opt("inks")) readInks(*v);
  if (auto v = root.opt("screens")) readScreens(*v);
  if (auto v = root.opt("inks")) {
    for (int i = 0; i < job_->inkCount; ++i)
      if (auto s = v->item(std::size_t(i)).opt("screen")) {
        checkRef(job_->screens, *s, "screen");
        job_->separations[std::size_t(i)].screen = s->index();
      }
  }
  if (auto v = root.opt("colours")) readColours(*v);
  if (auto v = root.opt("paints")) readPaints(*v);
  if (auto v = root.opt("pictures")) readPictures(*v);
  if (auto v = root.opt("maps")) readMaps(*v);
  // The "no fill" paint given to open paths, made once every colour
  // reference of the file has been checked.
  if (job_->paints.size() <= kPaintNoFill) job_->paints.resize(kPaintNoFill + 1);
  if (!job_->paints[kPaintNoFill].exists) {
    const std::uint16_t colour = job_->addColour(Colour());  // every ink untouched
    Paint& p = job_->paints[kPaintNoFill];
    p.exists = true;
    p.type = kPaintFlat;
    p.colour = colour;
  }
  if (auto v = root.opt("patterns")) readPatterns(*v);
  if (auto v = root.opt("paints")) checkPaintRefs(*v);
}

std::unique_ptr<jobstr> Loader::finish(const Node& root) {
  job_->spatialTree->recalcBounds();
  recordFileList(*job_->spatialTree, "/objects");
  readExtras(root);
  checkPatternCycles();
  // Every page (a one-up's too) needs a media box with an area.
  const auto& media = job_->boxes[kMediaBox];
  if (!media) root.fail("the job has no media box (\"boxes\": {\"media\": [top, left, bottom, right]})");
  if (media->width() <= 0 || media->height() <= 0)
    root.child("boxes").child("media").fail("the media box has no area");

  // A file's explicit "used" wins over what the objects show.
  deriveUsage();
  if (auto v = root.opt("inks"))
    for (int i = 0; i < job_->inkCount; ++i)
      if (auto u = v->item(std::size_t(i)).opt("used")) job_->separations[std::size_t(i)].used = u->boolean();
  return std::move(job_);
}

// Gives up the streaming load; the whole text is then loaded as one document.
struct StreamFallback {};

bool gStreaming = true;
std::size_t gWindowBytes = kJobStreamWindow;
std::atomic<std::size_t> gFallbacks{0};

// Where the text of a job comes from: a file, read in pieces, or memory.
class TextSource {
 public:
  explicit TextSource(std::string_view text) : memory_(text) {}
  explicit TextSource(const fs::path& path) : file_(path, std::ios::binary), isFile_(true) {
    if (!file_.is_open()) throw StreamFallback{};
  }
  // Up to n bytes into `to`; 0 at the end of the text.
  std::size_t read(char* to, std::size_t n) {
    if (!isFile_) {
      n = std::min(n, memory_.size() - at_);
      if (n > 0) std::memcpy(to, memory_.data() + at_, n);
      at_ += n;
      return n;
    }
    file_.read(to, std::streamsize(n));
    if (file_.bad()) throw StreamFallback{};
    return std::size_t(file_.gcount());
  }

 private:
  std::string_view memory_;
  std::size_t at_ = 0;
  std::ifstream file_;
  bool isFile_ = false;
};

// Loads a job while its text streams through a window of fixed size, so that
// neither the text nor a document of a large job exists whole. Object lists
// ("objects", at any depth) are cut into runs of whole entries, each run
// parsed as one document and read into the model; an entry larger than the
// window is taken apart in turn: its other keys become a small document of
// their own, read once its members are. The top level's keys before
// "objects" are the definitions the objects refer to.
//
// The result must be the one the whole document gives, refusals included:
// any refusal, a fault of the JSON, a definition that follows the objects or
// a second "objects" list gives up, and the caller loads the whole document,
// which reports the fault exactly. Between the pieces the text is checked
// here (white space, commas, colons, brackets); inside them, by the parser.
class JobStream {
 public:
  JobStream(Loader& loader, TextSource& source)
      : loader_(loader), source_(source), cap_(gWindowBytes),
        buf_(std::make_unique<char[]>(gWindowBytes + 1 + jobjson::kPadding)) {
    doc_.reserve(cap_ + 1);
  }

  std::unique_ptr<jobstr> load() {
    skipSpace();
    if (peek() != '{') throw StreamFallback{};
    ++pos_;
    ObjectFrame root;
    root.root = true;
    root.depth = 0;
    streamObject(root);
    skipSpace();
    if (peek() != -1 || !eof_) throw StreamFallback{};
    parseHead(root, "");
    if (!root.streamed) return loader_.load(doc_);
    return loader_.finish(doc_);
  }

 private:
  enum class Scan { kDone, kFull, kBad };

  // An object whose keys are read here: the top level, or an entry of an
  // object list larger than the window.
  struct ObjectFrame {
    bool root = false;
    std::string ptr;
    std::size_t depth = 0;  // of the object in the tree
    bool topLevel = false;
    std::string head;       // its keys but "objects", as JSON text
    bool streamed = false;  // its "objects" list was streamed
    std::vector<std::unique_ptr<Object>> members;
  };
  // An object list being streamed.
  struct ListFrame {
    std::string ptr;
    std::size_t depth = 0;  // of its entries
    bool topLevel = false;
    std::vector<std::unique_ptr<Object>>* into = nullptr;  // null: the top level
    std::size_t count = 0;  // entries met
    // The run of whole entries not yet read: entries first .. first + n - 1,
    // from the byte before the first (made '[') to the byte after the last
    // (made ']').
    std::uint64_t open = 0, close = 0;
    std::size_t first = 0, n = 0;
  };

  static constexpr std::uint8_t kOpen = 1, kClose = 2, kQuote = 3;
  static constexpr std::array<std::uint8_t, 256> kClass = [] {
    std::array<std::uint8_t, 256> t{};
    t['['] = t['{'] = kOpen;
    t[']'] = t['}'] = kClose;
    t['"'] = kQuote;
    return t;
  }();
  static bool isSpace(int c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
  // The bits set in a mask (without relying on a popcount instruction).
  static int bitCount(std::uint32_t mask) {
    return kBits[mask & 0xFF] + kBits[mask >> 8 & 0xFF] + kBits[mask >> 16 & 0xFF] + kBits[mask >> 24];
  }
  static constexpr std::array<std::uint8_t, 256> kBits = [] {
    std::array<std::uint8_t, 256> t{};
    for (int i = 1; i < 256; ++i) t[std::size_t(i)] = std::uint8_t(t[std::size_t(i >> 1)] + (i & 1));
    return t;
  }();

  std::uint64_t at() const { return base_ + pos_; }
  std::size_t index(std::uint64_t offset) const { return std::size_t(offset - base_); }

  // Reads more of the text behind what must be kept (from keep_ on, and what
  // is being copied); false when the text has ended or the window is full.
  bool refill() {
    if (copyTo_) {
      copyTo_->append(buf_.get() + copyFrom_, pos_ - copyFrom_);
      copyFrom_ = pos_;
      keep_ = pos_;
    }
    if (eof_) return false;
    if (keep_ > 0) {
      std::memmove(buf_.get(), buf_.get() + keep_, end_ - keep_);
      base_ += keep_;
      pos_ -= keep_;
      end_ -= keep_;
      if (copyTo_) copyFrom_ -= keep_;
      keep_ = 0;
    }
    if (end_ == cap_) return false;
    const std::size_t got = source_.read(buf_.get() + end_, cap_ - end_);
    total_ += got;
    if (total_ > kMaxJobFileBytes) throw StreamFallback{};
    if (got == 0) {
      eof_ = true;
      return false;
    }
    end_ += got;
    return true;
  }

  // The next byte, or -1 at the end of the text (or with the window full).
  int peek() {
    if (pos_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  // White space where nothing before it needs to be kept.
  void skipSpace() {
    for (;;) {
      keep_ = pos_;
      if (!isSpace(peek())) return;
      ++pos_;
    }
  }

  // Scans over one value from pos_ (its first byte, in the window).
  Scan skipValue() {
    const auto c = static_cast<unsigned char>(buf_[pos_]);
    if (c == '{' || c == '[') return skipContainer();
    if (c == '"') {
      ++pos_;
      return skipStringBody();
    }
    // A number or a word: up to the next delimiter.
    for (;;) {
      if (pos_ == end_ && !refill()) return eof_ ? Scan::kBad : Scan::kFull;
      const auto b = static_cast<unsigned char>(buf_[pos_]);
      if (isSpace(b) || kClass[b] != 0 || b == ',' || b == ':') return Scan::kDone;
      ++pos_;
    }
  }
  Scan skipStringBody() {
    for (;;) {
#ifdef __SSE2__
      // Sixteen bytes at once up to the first quote or backslash: a job's
      // texts are long strings.
      while (end_ - pos_ >= 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_.get() + pos_));
        const int stops = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('"')), _mm_cmpeq_epi8(b, _mm_set1_epi8('\\'))));
        if (stops != 0) {
          pos_ += std::size_t(std::countr_zero(unsigned(stops)));
          break;
        }
        pos_ += 16;
      }
#endif
      if (pos_ == end_ && !refill()) return eof_ ? Scan::kBad : Scan::kFull;
      const char c = buf_[pos_++];
      if (c == '"') return Scan::kDone;
      if (c == '\\') {
        if (pos_ == end_ && !refill()) return eof_ ? Scan::kBad : Scan::kFull;
        ++pos_;
      }
    }
  }
#ifdef __SSE2__
  // Over whole blocks of 32 bytes inside a container (depth > 0): the
  // quotes not escaped open and close strings, the brackets outside strings
  // count. True when the container closed among them (pos_ after its last
  // bracket); else pos_ is at the first block not taken, and `inString`
  // says whether a string is open there. A block whose last byte escapes
  // the next block's first, or with a backslash outside strings (no JSON),
  // is not taken.
  bool skipBlocks(std::int64_t& depth, bool& inString) {
    while (end_ - pos_ >= 32) {
      // A block of 32 bytes as two halves; a mask bit per byte.
      const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_.get() + pos_));
      const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_.get() + pos_ + 16));
      auto mask = [](__m128i l, __m128i h, __m128i c) {
        return std::uint32_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(l, c))) |
                             unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(h, c))) << 16);
      };
      const std::uint32_t backslashes = mask(lo, hi, _mm_set1_epi8('\\'));
      std::uint32_t quotes = mask(lo, hi, _mm_set1_epi8('"'));
      if (backslashes != 0) {
        // The bytes escaped: each after a backslash not escaped itself.
        std::uint64_t escaped = 0;
        for (std::uint32_t m = backslashes; m != 0; m &= m - 1) {
          const int at = std::countr_zero(m);
          if (!(escaped >> at & 1)) escaped |= std::uint64_t(2) << at;
        }
        if (escaped >> 32) return false;
        quotes &= ~std::uint32_t(escaped);
      }
      // The bytes of strings: each quote flips the state, the opening quote
      // counts as inside, the closing one not.
      std::uint32_t inside = quotes;
      inside ^= inside << 1;
      inside ^= inside << 2;
      inside ^= inside << 4;
      inside ^= inside << 8;
      inside ^= inside << 16;
      if (inString) inside = ~inside;
      if (backslashes & ~inside) return false;
      // '[' and '{', ']' and '}' differ in one bit only.
      const __m128i case20 = _mm_set1_epi8(0x20);
      const __m128i foldedLo = _mm_or_si128(lo, case20), foldedHi = _mm_or_si128(hi, case20);
      const std::uint32_t opens = mask(foldedLo, foldedHi, _mm_set1_epi8('{')) & ~inside;
      const std::uint32_t closes = mask(foldedLo, foldedHi, _mm_set1_epi8('}')) & ~inside;
      if ((opens | closes) == 0) {
        // Inside a string, or between values: nothing to count.
      } else if (depth > bitCount(closes)) {
        depth += bitCount(opens) - bitCount(closes);
      } else {
        // The container may close here: its brackets in order.
        for (std::uint32_t m = opens | closes; m != 0; m &= m - 1) {
          const int at = std::countr_zero(m);
          if (opens >> at & 1) {
            ++depth;
          } else if (--depth == 0) {
            pos_ += std::size_t(at) + 1;
            return true;
          }
        }
      }
      inString = (inside >> 31 & 1) != 0;
      pos_ += 32;
    }
    return false;
  }
#endif
  Scan skipContainer() {
    std::int64_t depth = 0;
    for (;;) {
#ifdef __SSE2__
      // Blocks of bytes at once; a string left open at the block where they
      // stop is read on by the string's own scan.
      if (depth > 0) {
        bool inString = false;
        if (skipBlocks(depth, inString)) return Scan::kDone;
        if (inString) {
          if (const Scan r = skipStringBody(); r != Scan::kDone) return r;
          continue;
        }
      }
#endif
      if (pos_ == end_ && !refill()) return eof_ ? Scan::kBad : Scan::kFull;
      // Byte by byte for a while where the bytes above cannot be skipped.
      // (A string may refill the window: the bytes move.)
      for (const std::size_t stop = std::min(end_, pos_ + 16); pos_ < stop;) {
        const std::uint8_t kind = kClass[static_cast<unsigned char>(buf_[pos_++])];
        if (kind == kOpen) {
          // Inside the container, on by blocks at once.
          if (++depth == 1) break;
        } else if (kind == kClose) {
          if (--depth == 0) return Scan::kDone;
        } else if (kind == kQuote) {
          if (const Scan r = skipStringBody(); r != Scan::kDone) return r;
          break;
        }
      }
    }
  }

  // A key as written, from its opening quote (at pos_) on.
  std::string key() {
    std::string raw;
    ++pos_;
    for (;;) {
      keep_ = pos_;
      if (pos_ == end_ && !refill()) throw StreamFallback{};
      const char c = buf_[pos_++];
      if (c == '"') return raw;
      raw += c;
      if (c == '\\') {
        if (pos_ == end_ && !refill()) throw StreamFallback{};
        raw += buf_[pos_++];
      }
    }
  }

  void parseHead(ObjectFrame& f, const char* tail) {
    f.head += tail;
    const std::size_t size = f.head.size();
    f.head.append(jobjson::kPadding, ' ');
    doc_.base = f.ptr;
    doc_.firstIndex = 0;
    const bool bad = doc_.parse(f.head.data(), size).has_value();
    f.head.resize(size - std::strlen(tail));
    if (bad) throw StreamFallback{};
  }

  // The keys of an object whose '{' was just read, up to its '}'.
  void streamObject(ObjectFrame& f) {
    f.head = "{";
    skipSpace();
    if (peek() == '}') {
      ++pos_;
      f.head += '}';
      return;
    }
    for (bool first = true;; first = false) {
      if (peek() != '"') throw StreamFallback{};
      const std::string name = key();
      skipSpace();
      if (peek() != ':') throw StreamFallback{};
      ++pos_;
      skipSpace();
      const int c = peek();
      if (c < 0) throw StreamFallback{};
      if (!first) f.head += ',';
      if (name == "objects" && c == '[') {
        // A second list would replace the first.
        if (f.streamed) throw StreamFallback{};
        f.head += "\"objects\":[]";
        if (f.root) {
          parseHead(f, "}");
          loader_.readDefinitions(doc_);
        }
        ++pos_;
        ListFrame list;
        list.ptr = f.ptr + "/objects";
        list.depth = f.root ? 1 : f.depth + 1;
        list.topLevel = f.root;
        list.into = f.root ? nullptr : &f.members;
        streamList(list);
        f.streamed = true;
      } else {
        // Only what is read after the objects may follow them.
        if (f.root && f.streamed && !readAfterObjects(name)) throw StreamFallback{};
        f.head += '"';
        f.head += name;
        f.head += "\":";
        copyTo_ = &f.head;
        copyFrom_ = pos_;
        const Scan r = skipValue();
        copyTo_->append(buf_.get() + copyFrom_, pos_ - copyFrom_);
        copyTo_ = nullptr;
        if (r != Scan::kDone) throw StreamFallback{};
      }
      skipSpace();
      const int next = peek();
      ++pos_;
      if (next == ',') {
        skipSpace();
        continue;
      }
      if (next != '}') throw StreamFallback{};
      f.head += '}';
      return;
    }
  }

  static bool readAfterObjects(const std::string& k) {
    for (const char* name : {"cad", "stations", "notes", "editHistory", "certified", "linkParameters",
                             "parameters", "customerInfo", "trimAndBleedInfo", "marks", "solvaraSettings"})
      if (k == name) return true;
    return false;
  }

  // Reads the run of whole entries of the list not yet read.
  void flush(ListFrame& l) {
    if (l.n == 0) return;
    char* open = buf_.get() + index(l.open);
    char* close = buf_.get() + index(l.close);
    const char wasOpen = *open, wasClose = *close;
    *open = '[';
    *close = ']';
    doc_.base = l.ptr;
    doc_.firstIndex = l.first;
    const bool bad = doc_.parseInPlace(open, std::size_t(close - open) + 1).has_value();
    *open = wasOpen;
    *close = wasClose;
    if (bad) throw StreamFallback{};
    loader_.readEntries(doc_, l.depth, l.topLevel, l.into);
    l.n = 0;
  }

  // White space between the entries of a list; what the window cannot hold
  // besides is read first. Nothing but the byte before the next entry needs
  // to be kept when no entries wait.
  int peekBetween(ListFrame& l) {
    for (;;) {
      keep_ = l.n > 0 ? index(l.open) : pos_ - 1;
      if (pos_ < end_ || refill()) {
        const int c = static_cast<unsigned char>(buf_[pos_]);
        if (!isSpace(c)) return c;
        ++pos_;
        continue;
      }
      if (eof_ || l.n == 0) return -1;
      flush(l);
    }
  }

  // The entries of a list whose '[' was just read, up to its ']'.
  void streamList(ListFrame& l) {
    for (bool first = true;; first = false) {
      const int c = peekBetween(l);
      if (c < 0) throw StreamFallback{};
      if (first && c == ']') {
        ++pos_;
        return;
      }
      const std::uint64_t start = at();
      Scan r = skipValue();
      if (r == Scan::kFull && l.n > 0) {
        // Read the waiting entries, then scan this one again with the room.
        flush(l);
        keep_ = index(start) - 1;
        pos_ = index(start);
        r = skipValue();
      }
      if (r == Scan::kFull) {
        pos_ = index(start);
        descend(l);
      } else if (r == Scan::kDone) {
        if (l.n == 0) {
          l.open = start - 1;
          l.first = l.count;
        }
        ++l.n;
        l.close = at();
      } else {
        throw StreamFallback{};
      }
      ++l.count;
      const int next = peekBetween(l);
      if (next == ',') {
        ++pos_;
        continue;
      }
      if (next != ']') throw StreamFallback{};
      ++pos_;
      flush(l);
      return;
    }
  }

  // An entry larger than the window, from its first byte (at pos_).
  void descend(ListFrame& l) {
    if (buf_[pos_] != '{' || l.depth > kMaxNestingDepth) throw StreamFallback{};
    ++pos_;
    ObjectFrame f;
    f.ptr = l.ptr + "/" + std::to_string(l.count);
    f.depth = l.depth;
    f.topLevel = l.topLevel;
    streamObject(f);
    parseHead(f, "");
    const Value* list = nullptr;
    if (f.streamed)
      for (std::uint32_t i = 0; i < doc_.root().size; ++i)
        if (doc_.root().members[i].key == "objects") list = &doc_.root().members[i].value;
    std::unique_ptr<Object> o = loader_.readStreamedObject(doc_, f.depth, f.topLevel, list, std::move(f.members));
    if (l.into)
      l.into->push_back(std::move(o));
    else
      loader_.addTopLevel(std::move(o));
  }

  Loader& loader_;
  TextSource& source_;
  Document doc_;  // of the piece being read
  const std::size_t cap_;
  std::unique_ptr<char[]> buf_;  // the window, with room for the parser's padding
  std::size_t pos_ = 0, end_ = 0, keep_ = 0;
  std::uint64_t base_ = 0;  // the offset of the window's first byte in the text
  std::uint64_t total_ = 0;
  bool eof_ = false;
  std::string* copyTo_ = nullptr;  // what is scanned is also copied here, from copyFrom_
  std::size_t copyFrom_ = 0;
};

// The streaming load of a text; null when it gave up.
std::unique_ptr<jobstr> streamJob(TextSource& source, const fs::path& base, const std::string& file,
                                  const fs::path* canonical) {
  if (!gStreaming) return nullptr;
  try {
    LoadSession session;
    if (canonical) session.chain.push_back(*canonical);
    Loader loader(session, base, file);
    JobStream stream(loader, source);
    return stream.load();
  } catch (const StreamFallback&) {
  } catch (const std::exception&) {
  }
  ++gFallbacks;
  return nullptr;
}

// The load of a whole text, which names the first fault exactly.
std::unique_ptr<jobstr> loadWhole(std::string text, const fs::path& base, const std::string& file,
                                  const fs::path* canonical) {
  Document doc;
  if (auto fault = parseWhole(doc, text)) refuse(file, "", "not valid JSON: " + *fault);
  text = std::string();
  LoadSession session;
  if (canonical) session.chain.push_back(*canonical);
  Loader loader(session, base, file);
  return loader.load(doc);
}

}  // namespace

std::size_t jobStreamFallbacks() { return gFallbacks; }

void setJobStreaming(bool on, std::size_t windowBytes) {
  gStreaming = on;
  gWindowBytes = std::max<std::size_t>(windowBytes, 2);
}

std::unique_ptr<jobstr> loadJobFromMemory(std::string_view text, const fs::path& baseFolder,
                                          std::string_view name) {
  const std::string file(name);
  if (text.size() > kMaxJobFileBytes) refuse(file, "", "the job file is too large");
  TextSource source(text);
  if (auto job = streamJob(source, baseFolder, file, nullptr)) return job;
  return loadWhole(std::string(text), baseFolder, file, nullptr);
}

std::unique_ptr<jobstr> loadJobFile(const fs::path& path) {
  const std::string file = path.string();
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) throw TavSys::fileError(EISDIR, file, kCannotReadKey);
  // A device or socket would be read without end (/dev/zero) or block; a
  // pipe is read up to the size limit.
  if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_fifo(status)) {
    TavSys::Error e(TavSys::kFileErrorBase + EINVAL, kCannotReadKey, file + ": it is not a regular file");
    e.with("__FILE__", file).with("__REASON__", "it is not a regular file");
    throw e;
  }
  fs::path canon = fs::weakly_canonical(path, ec);
  if (ec) canon = path;
  if (fs::is_regular_file(status)) {
    std::unique_ptr<jobstr> job;
    try {
      TextSource source(path);
      job = streamJob(source, path.parent_path(), file, &canon);
    } catch (const StreamFallback&) {
      ++gFallbacks;
    }
    if (job) return job;
  }
  return loadWhole(readWholeFile(path, file, "", true), path.parent_path(), file, &canon);
}

}  // namespace TavKernel

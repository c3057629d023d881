#include "platform/kernel/jobjson.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include <simdjson.h>

namespace TavKernel::jobjson {

namespace {

constexpr std::int64_t kCoordinateLimit = 1000000000;
constexpr std::uint32_t kPointsHash = keyHash("points");
constexpr std::size_t kBlockBytes = 64 * 1024;

constexpr std::size_t kNew = std::size_t(-1);

// The keys of one object: a key given again replaces the value given before
// (as readers of JSON have done for job files all along). A plain search
// while the object is small, a table once it is not.
class KeySet {
 public:
  // The member that holds the key already, or kNew when it is new (then it
  // is taken as the member `count`).
  std::size_t find(const Member* members, std::size_t count, std::string_view key, std::uint32_t hash) {
    if (count < 16) {
      for (std::size_t i = 0; i < count; ++i)
        if (members[i].hash == hash && members[i].key == key) return i;
      return kNew;
    }
    if (table_.empty())
      for (std::size_t i = 0; i < count; ++i) table_.emplace(members[i].key, i);
    const auto [it, added] = table_.emplace(key, count);
    return added ? kNew : it->second;
  }

 private:
  std::unordered_map<std::string_view, std::size_t> table_;
};

// Builds a document from simdjson's parse of the text. Strings and keys are
// not copied: they stay in the parser's string buffer (unescaped, each ended
// by a zero byte), which the document owns and which lasts until the
// document's next parse, as the document's own values do.
class SimdBuilder {
 public:
  explicit SimdBuilder(Document& doc) : doc_(doc) {}

  void build(simdjson::dom::element e, Value& out) {
    using simdjson::dom::element_type;
    switch (e.type()) {
      case element_type::ARRAY: return buildArray(e.get_array().value_unsafe(), out);
      case element_type::OBJECT: return buildObject(e.get_object().value_unsafe(), out);
      case element_type::INT64:
        out.kind = Value::kNumber;
        out.number = double(e.get_int64().value_unsafe());
        return;
      case element_type::UINT64:
        out.kind = Value::kNumber;
        out.number = double(e.get_uint64().value_unsafe());
        return;
      case element_type::DOUBLE:
        out.kind = Value::kNumber;
        out.number = e.get_double().value_unsafe();
        return;
      case element_type::STRING: {
        const std::string_view s = e.get_string().value_unsafe();
        out.kind = Value::kString;
        out.text = s.data();
        out.size = std::uint32_t(s.size());
        return;
      }
      case element_type::BOOL:
        out.kind = Value::kBool;
        out.boolean = e.get_bool().value_unsafe();
        return;
      case element_type::NULL_VALUE:
        out.kind = Value::kNull;
        return;
    }
  }

 private:
  static std::size_t sizeOf(simdjson::dom::array a) {
    // The count is kept up to 0xFFFFFF; beyond, the entries are counted.
    std::size_t n = a.size();
    if (n < 0xFFFFFF) return n;
    n = 0;
    for (auto it = a.begin(); it != a.end(); ++it) ++n;
    return n;
  }
  static std::size_t sizeOf(simdjson::dom::object o) {
    std::size_t n = o.size();
    if (n < 0xFFFFFF) return n;
    n = 0;
    for (auto it = o.begin(); it != o.end(); ++it) ++n;
    return n;
  }

  void buildArray(simdjson::dom::array a, Value& out) {
    const std::size_t n = sizeOf(a);
    auto* items = static_cast<Value*>(doc_.allocate(n * sizeof(Value)));
    out.kind = Value::kArray;
    out.size = std::uint32_t(n);
    out.items = items;
    std::size_t i = 0;
    for (simdjson::dom::element e : a) build(e, *new (&items[i++]) Value());
  }

  void buildObject(simdjson::dom::object o, Value& out) {
    const std::size_t n = sizeOf(o);
    auto* members = static_cast<Member*>(doc_.allocate(n * sizeof(Member)));
    out.kind = Value::kObject;
    out.members = members;
    std::size_t count = 0;
    KeySet keys;
    for (simdjson::dom::key_value_pair field : o) {
      const std::uint32_t hash = keyHash(field.key);
      Value value;
      if (!(hash == kPointsHash && field.key == "points" && field.value.is_array() && isPath(o) &&
            pack(field.value.get_array().value_unsafe(), value)))
        build(field.value, value);
      if (const std::size_t earlier = keys.find(members, count, field.key, hash); earlier != kNew) {
        members[earlier].value = value;
        continue;
      }
      Member* m = new (&members[count++]) Member();
      m->key = field.key;
      m->hash = hash;
      m->value = value;
      out.keyBits |= keyBit(hash);
    }
    out.size = std::uint32_t(count);
  }

  static bool isPath(simdjson::dom::object o) {
    std::string_view kind;
    return !o["kind"].get_string().get(kind) && kind == "path";
  }

  // The points of a path, when each is [v, h] or [c1v, c1h, c2v, c2h, v, h]
  // of whole numbers in range; anything else is built as it is written, so
  // that the loader names the fault's place.
  bool pack(simdjson::dom::array a, Value& out) {
    scratch_.clear();
    for (simdjson::dom::element p : a) {
      simdjson::dom::array point;
      if (p.get_array().get(point)) return false;
      const std::size_t n = point.size();
      if (n != 2 && n != 6) return false;
      std::int32_t c[6];
      std::size_t k = 0;
      for (simdjson::dom::element x : point) {
        if (x.type() != simdjson::dom::element_type::INT64) return false;
        const std::int64_t v = x.get_int64().value_unsafe();
        if (v < -kCoordinateLimit || v > kCoordinateLimit) return false;
        c[k++] = std::int32_t(v);
      }
      if (n == 2) {
        scratch_.push_back({c[0], c[1], TavDB::PathPoint::kLine});
      } else {
        scratch_.push_back({c[0], c[1], TavDB::PathPoint::kControl});
        scratch_.push_back({c[2], c[3], TavDB::PathPoint::kControl});
        scratch_.push_back({c[4], c[5], TavDB::PathPoint::kCurve});
      }
    }
    PointList* list = doc_.newPointList();
    list->points.assign(scratch_.begin(), scratch_.end());
    list->startsWithCurve = !scratch_.empty() && scratch_.front().type == TavDB::PathPoint::kControl;
    out.kind = Value::kPoints;
    out.points = list;
    out.size = std::uint32_t(a.size());
    return true;
  }

  Document& doc_;
  std::vector<TavDB::PathPoint> scratch_;
};

// The plain reader: every rule of JSON checked in the order of the text, the
// first fault named with its line, column and what was read of its token.
class ExactReader {
 public:
  ExactReader(Document& doc, const char* text, std::size_t size)
      : doc_(doc), p_(reinterpret_cast<const unsigned char*>(text)), begin_(p_), end_(p_ + size) {}

  std::optional<std::string> read(Value& root) {
    Value value;
    skipSpace();
    for (;;) {
      // A value starts here.
      token_ = p_;
      if (p_ == end_) return fail(p_, "unexpected end of input; expected a value");
      const unsigned char c = *p_;
      if (c == '[' && !open_.empty() && open_.back().object && open_.back().key == "points" && packPoints(value)) {
        // A well-formed point list, packed.
      } else if (c == '{' || c == '[') {
        ++p_;
        open_.push_back({c == '{', stack_.size(), {}, kNew, nullptr});
        skipSpace();
        if (p_ < end_ && *p_ == (c == '{' ? '}' : ']')) {
          ++p_;
          value = close();
        } else {
          if (c == '{')
            if (auto f = key()) return f;
          continue;
        }
      } else if (c == '"') {
        std::string s;
        if (auto f = string(s)) return f;
        value = {};
        value.kind = Value::kString;
        value.text = copy(s);
        value.size = std::uint32_t(s.size());
      } else if (c == '-' || (c >= '0' && c <= '9')) {
        if (auto f = number(value)) return f;
      } else if (c == 't' || c == 'f' || c == 'n') {
        if (auto f = literal(value)) return f;
      } else {
        return fail(p_, "unexpected character; expected a value");
      }
      // The value is complete: hand it to its container, or end.
      for (;;) {
        if (open_.empty()) {
          skipSpace();
          token_ = p_;
          if (p_ != end_) return fail(p_, "unexpected character after the end of the value");
          root = value;
          return std::nullopt;
        }
        Open& o = open_.back();
        if (o.replaces != kNew)
          stack_[o.first + o.replaces].value = value;
        else
          stack_.push_back({o.key, o.object ? keyHash(o.key) : 0, value});
        skipSpace();
        token_ = p_;
        const char closing = o.object ? '}' : ']';
        if (p_ == end_) return fail(p_, std::string("unexpected end of input; expected ',' or '") + closing + "'");
        if (*p_ == ',') {
          ++p_;
          skipSpace();
          if (o.object)
            if (auto f = key()) return f;
          break;
        }
        if (*p_ != closing) return fail(p_, std::string("unexpected character; expected ',' or '") + closing + "'");
        ++p_;
        value = close();
      }
    }
  }

 private:
  struct Open {
    bool object;
    std::size_t first;      // of its members on the stack
    std::string_view key;   // of the member being read, in an object
    std::size_t replaces;   // the member the key gives again, or kNew
    std::unique_ptr<KeySet> keys;
  };

  // The innermost open container is complete.
  Value close() {
    const Open& o = open_.back();
    const std::size_t n = stack_.size() - o.first;
    Value v;
    v.size = std::uint32_t(n);
    if (o.object) {
      auto* members = static_cast<Member*>(doc_.allocate(n * sizeof(Member)));
      bool path = false;
      for (std::size_t i = 0; i < n; ++i) {
        new (&members[i]) Member(stack_[o.first + i]);
        v.keyBits |= keyBit(members[i].hash);
        const Value& m = members[i].value;
        path = path || (members[i].key == "kind" && m.kind == Value::kString && std::string_view(m.text, m.size) == "path");
      }
      // Only a path keeps its points packed.
      for (std::size_t i = 0; i < n && !path; ++i)
        if (members[i].value.kind == Value::kPoints) members[i].value = unpack(*members[i].value.points);
      v.kind = Value::kObject;
      v.members = members;
    } else {
      auto* items = static_cast<Value*>(doc_.allocate(n * sizeof(Value)));
      for (std::size_t i = 0; i < n; ++i) new (&items[i]) Value(stack_[o.first + i].value);
      v.kind = Value::kArray;
      v.items = items;
    }
    stack_.resize(o.first);
    open_.pop_back();
    return v;
  }

  // A point list ([v, h] and [c1v, c1h, c2v, c2h, v, h] of whole numbers in
  // range) from p_ (its '['), as the model stores it; anything else is left
  // to the reader of every value, from the same place.
  bool packPoints(Value& out) {
    const unsigned char* start = p_;
    scratch_.clear();
    auto integer = [&](std::int32_t& v) {
      const unsigned char* first = p_;
      if (p_ < end_ && *p_ == '-') ++p_;
      if (!digit() || (*p_ == '0' && p_ + 1 < end_ && p_[1] >= '0' && p_[1] <= '9')) return false;
      while (digit()) ++p_;
      if (p_ < end_ && (*p_ == '.' || *p_ == 'e' || *p_ == 'E')) return false;
      std::int64_t i = 0;
      if (std::from_chars(reinterpret_cast<const char*>(first), reinterpret_cast<const char*>(p_), i).ec !=
              std::errc() ||
          i < -kCoordinateLimit || i > kCoordinateLimit)
        return false;
      v = std::int32_t(i);
      return true;
    };
    std::uint32_t entries = 0;
    auto points = [&] {
      ++p_;
      skipSpace();
      if (p_ < end_ && *p_ == ']') return true;
      for (;; ++entries) {
        if (p_ == end_ || *p_ != '[') return false;
        ++p_;
        std::int32_t c[6];
        int n = 0;
        for (;;) {
          skipSpace();
          if (n == 6 || !integer(c[n++])) return false;
          skipSpace();
          if (p_ == end_) return false;
          if (*p_ == ']') break;
          if (*p_++ != ',') return false;
        }
        ++p_;
        if (n == 2) {
          scratch_.push_back({c[0], c[1], TavDB::PathPoint::kLine});
        } else if (n == 6) {
          scratch_.push_back({c[0], c[1], TavDB::PathPoint::kControl});
          scratch_.push_back({c[2], c[3], TavDB::PathPoint::kControl});
          scratch_.push_back({c[4], c[5], TavDB::PathPoint::kCurve});
        } else {
          return false;
        }
        skipSpace();
        if (p_ == end_) return false;
        if (*p_ == ']') return true;
        if (*p_++ != ',') return false;
        skipSpace();
      }
    };
    if (!points()) {
      p_ = start;
      return false;
    }
    ++p_;  // the list's ']'
    PointList* list = doc_.newPointList();
    list->points.assign(scratch_.begin(), scratch_.end());
    list->startsWithCurve = !scratch_.empty() && scratch_.front().type == TavDB::PathPoint::kControl;
    out = {};
    out.kind = Value::kPoints;
    out.points = list;
    out.size = entries + (scratch_.empty() ? 0 : 1);
    return true;
  }

  // A packed point list as the arrays it was read from.
  Value unpack(const PointList& list) {
    std::vector<Value> entries;
    for (std::size_t i = 0; i < list.points.size();) {
      const std::size_t n = list.points[i].type == TavDB::PathPoint::kLine ? 2 : 6;
      auto* items = static_cast<Value*>(doc_.allocate(n * sizeof(Value)));
      for (std::size_t k = 0; k < n; ++k) {
        const TavDB::PathPoint& p = list.points[i + k / 2];
        new (&items[k]) Value();
        items[k].kind = Value::kNumber;
        items[k].number = k % 2 ? p.h : p.v;
      }
      Value entry;
      entry.kind = Value::kArray;
      entry.size = std::uint32_t(n);
      entry.items = items;
      entries.push_back(entry);
      i += n / 2;
    }
    auto* items = static_cast<Value*>(doc_.allocate(entries.size() * sizeof(Value)));
    for (std::size_t k = 0; k < entries.size(); ++k) new (&items[k]) Value(entries[k]);
    Value v;
    v.kind = Value::kArray;
    v.size = std::uint32_t(entries.size());
    v.items = items;
    return v;
  }

  // The key of the next member of the innermost object, and its colon.
  std::optional<std::string> key() {
    Open& o = open_.back();
    token_ = p_;
    if (p_ == end_) return fail(p_, "unexpected end of input; expected a key");
    if (*p_ != '"') return fail(p_, "unexpected character; expected a key (a string)");
    std::string s;
    if (auto f = string(s)) return f;
    o.key = std::string_view(copy(s), s.size());
    if (!o.keys) o.keys = std::make_unique<KeySet>();
    o.replaces = o.keys->find(stack_.data() + o.first, stack_.size() - o.first, o.key, keyHash(o.key));
    skipSpace();
    token_ = p_;
    if (p_ == end_) return fail(p_, "unexpected end of input; expected ':'");
    if (*p_ != ':') return fail(p_, "unexpected character; expected ':'");
    ++p_;
    skipSpace();
    return std::nullopt;
  }

  void skipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  std::optional<std::string> literal(Value& out) {
    static const char* const kWords[] = {"true", "false", "null"};
    for (const char* w : kWords) {
      if (*p_ != static_cast<unsigned char>(w[0])) continue;
      for (std::size_t i = 0; w[i]; ++i) {
        if (p_ + i == end_) return fail(p_ + i, "unexpected end of input in a literal");
        if (p_[i] != static_cast<unsigned char>(w[i])) return fail(p_ + i, "invalid literal");
      }
      p_ += std::strlen(w);
      out = {};
      out.kind = w[0] == 'n' ? Value::kNull : Value::kBool;
      out.boolean = w[0] == 't';
      return std::nullopt;
    }
    return fail(p_, "invalid literal");
  }

  bool digit() const { return p_ < end_ && *p_ >= '0' && *p_ <= '9'; }

  std::optional<std::string> digitExpected() {
    return fail(p_, p_ == end_ ? "unexpected end of input in a number" : "invalid number");
  }

  std::optional<std::string> number(Value& out) {
    const unsigned char* start = p_;
    const bool negative = *p_ == '-';
    if (negative) ++p_;
    if (!digit()) return digitExpected();
    const unsigned char* intStart = p_;
    if (*p_ == '0')
      ++p_;
    else
      while (digit()) ++p_;
    const std::int64_t intDigits = p_ - intStart;
    bool integer = true;
    if (p_ < end_ && *p_ == '.') {
      integer = false;
      ++p_;
      if (!digit()) return digitExpected();
      while (digit()) ++p_;
    }
    std::int64_t exponent = 0;
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      integer = false;
      ++p_;
      bool minus = false;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) minus = *p_++ == '-';
      if (!digit()) return digitExpected();
      while (digit()) {
        if (exponent < 100000000) exponent = exponent * 10 + (*p_ - '0');
        ++p_;
      }
      if (minus) exponent = -exponent;
    }
    const char* first = reinterpret_cast<const char*>(start);
    const char* last = reinterpret_cast<const char*>(p_);
    out = {};
    out.kind = Value::kNumber;
    if (integer) {
      // As simdjson reads them: 64-bit integers exactly, then converted.
      std::int64_t i = 0;
      if (std::from_chars(first, last, i).ec == std::errc()) {
        out.number = double(i);
        return std::nullopt;
      }
      std::uint64_t u = 0;
      if (!negative && std::from_chars(first, last, u).ec == std::errc()) {
        out.number = double(u);
        return std::nullopt;
      }
    }
    double d = 0;
    const auto r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
      // Too small for a double reads as zero; too large is refused.
      std::int64_t magnitude = intDigits - 1 + exponent;
      if (*intStart == '0') {
        magnitude = exponent - 1;
        for (const unsigned char* q = intStart + 2; q < p_ && *q == '0'; ++q) --magnitude;
      }
      if (magnitude >= 0) return fail(start, "the number is out of range", p_);
      d = negative ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != last || !std::isfinite(d)) {
      return fail(start, "the number is out of range", p_);
    }
    out.number = d;
    return std::nullopt;
  }

  static int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::optional<std::string> hex4(unsigned& out) {
    out = 0;
    for (int i = 0; i < 4; ++i) {
      if (p_ == end_) return fail(p_, "unexpected end of input in a string");
      const int h = hexDigit(*p_);
      if (h < 0) return fail(p_, "invalid string: '\\u' must be followed by 4 hex digits");
      out = out << 4 | unsigned(h);
      ++p_;
    }
    return std::nullopt;
  }

  static void appendUtf8(std::string& s, unsigned cp) {
    if (cp < 0x80) {
      s += char(cp);
    } else if (cp < 0x800) {
      s += char(0xC0 | cp >> 6);
      s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      s += char(0xE0 | cp >> 12);
      s += char(0x80 | (cp >> 6 & 0x3F));
      s += char(0x80 | (cp & 0x3F));
    } else {
      s += char(0xF0 | cp >> 18);
      s += char(0x80 | (cp >> 12 & 0x3F));
      s += char(0x80 | (cp >> 6 & 0x3F));
      s += char(0x80 | (cp & 0x3F));
    }
  }

  std::optional<std::string> string(std::string& s) {
    ++p_;  // the opening quote
    for (;;) {
      if (p_ == end_) return fail(p_, "unexpected end of input in a string");
      const unsigned char c = *p_;
      if (c == '"') {
        ++p_;
        return std::nullopt;
      }
      if (c < 0x20) {
        char what[80];
        std::snprintf(what, sizeof what, "invalid string: the control character U+%04X must be escaped", unsigned(c));
        return fail(p_, what);
      }
      if (c == '\\') {
        ++p_;
        if (p_ == end_) return fail(p_, "unexpected end of input in a string");
        const unsigned char e = *p_++;
        switch (e) {
          case '"': s += '"'; break;
          case '\\': s += '\\'; break;
          case '/': s += '/'; break;
          case 'b': s += '\b'; break;
          case 'f': s += '\f'; break;
          case 'n': s += '\n'; break;
          case 'r': s += '\r'; break;
          case 't': s += '\t'; break;
          case 'u': {
            unsigned cp = 0;
            if (auto f = hex4(cp)) return f;
            if (cp >= 0xDC00 && cp <= 0xDFFF)
              return fail(p_ - 1, "invalid string: a low surrogate must follow a high surrogate");
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u')
                return fail(p_ == end_ ? p_ : p_, "invalid string: a high surrogate must be followed by a low surrogate");
              p_ += 2;
              unsigned low = 0;
              if (auto f = hex4(low)) return f;
              if (low < 0xDC00 || low > 0xDFFF)
                return fail(p_ - 1, "invalid string: a high surrogate must be followed by a low surrogate");
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            appendUtf8(s, cp);
            break;
          }
          default: return fail(p_ - 1, "invalid string: invalid escape");
        }
        continue;
      }
      if (c < 0x80) {
        s += char(c);
        ++p_;
        continue;
      }
      // A UTF-8 sequence: well-formed, shortest form, no surrogates, at most U+10FFFF.
      int extra = 0;
      unsigned char lo = 0x80, hi = 0xBF;
      if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
      } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
      } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
      } else {
        return fail(p_, "invalid string: ill-formed UTF-8 byte");
      }
      for (int k = 1; k <= extra; ++k) {
        if (p_ + k == end_) return fail(p_ + k, "unexpected end of input in a string");
        const unsigned char b = p_[k];
        const unsigned char low = k == 1 ? lo : 0x80, high = k == 1 ? hi : 0xBF;
        if (b < low || b > high) return fail(p_ + k, "invalid string: ill-formed UTF-8 byte");
      }
      s.append(reinterpret_cast<const char*>(p_), std::size_t(extra) + 1);
      p_ += extra + 1;
    }
  }

  // A fault at `at`: its line and column, and its token as read up to and
  // including the faulty byte (or up to `through`).
  std::optional<std::string> fail(const unsigned char* at, const std::string& what, const unsigned char* through = nullptr) {
    std::size_t line = 1;
    const unsigned char* lineStart = begin_;
    for (const unsigned char* q = begin_; q < at; ++q)
      if (*q == '\n') {
        ++line;
        lineStart = q + 1;
      }
    const unsigned char* tokenEnd = through ? through : std::min(end_, at + 1);
    const unsigned char* tokenStart = token_ && token_ <= at ? token_ : at;
    std::string read;
    if (tokenEnd - tokenStart > 64) {
      read = "...";
      tokenStart = tokenEnd - 61;
    }
    read.append(reinterpret_cast<const char*>(tokenStart), std::size_t(tokenEnd - tokenStart));
    return "parse error at line " + std::to_string(line) + ", column " + std::to_string(at - lineStart + 1) + ": " +
           what + "; last read: '" + read + "'";
  }

  const char* copy(const std::string& s) {
    char* p = static_cast<char*>(doc_.allocate(s.size() + 1));
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
  }

  Document& doc_;
  const unsigned char* p_;
  const unsigned char* begin_;
  const unsigned char* end_;
  const unsigned char* token_ = nullptr;
  std::vector<Open> open_;
  std::vector<Member> stack_;  // members of the open containers, innermost last
  std::vector<TavDB::PathPoint> scratch_;
};

}  // namespace

std::string pointerToken(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  for (const char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
  return out;
}

struct Document::Parser {
  simdjson::dom::parser dom;
};

Document::Document() : parser_(std::make_unique<Parser>()) {}
Document::~Document() = default;

void Document::clear() {
  // The blocks are kept for the next piece.
  block_ = 0;
  used_ = 0;
  pointLists_.clear();
  root_ = Value();
  onTape_ = false;
}

void* Document::allocate(std::size_t bytes) {
  bytes = (bytes + 15) & ~std::size_t(15);
  while (block_ < blocks_.size() && used_ + bytes > blocks_[block_].size) {
    ++block_;
    used_ = 0;
  }
  if (block_ == blocks_.size()) {
    const std::size_t size = std::max(kBlockBytes, bytes);
    blocks_.push_back({std::unique_ptr<std::byte[]>(new std::byte[size]), size});
  }
  void* p = blocks_[block_].data.get() + used_;
  used_ += bytes;
  return p;
}

PointList* Document::newPointList() { return &pointLists_.emplace_back(); }

void Document::reserve(std::size_t bytes) {
  if (parser_->dom.allocate(bytes) != simdjson::SUCCESS) throw std::bad_alloc();
}

std::optional<std::string> Document::parse(const char* text, std::size_t size) {
  clear();
  simdjson::dom::element root;
  if (parser_->dom.parse(text, size, false).get(root) != simdjson::SUCCESS) return parseExact(text, size);
  SimdBuilder(*this).build(root, root_);
  return std::nullopt;
}

std::optional<std::string> Document::parseInPlace(const char* text, std::size_t size) {
  clear();
  simdjson::dom::element root;
  if (parser_->dom.parse(text, size, false).get(root) != simdjson::SUCCESS) return parseExact(text, size);
  // The parser's own document holds the index until its next parse.
  tape_.words = parser_->dom.doc.tape.get();
  tape_.strings = parser_->dom.doc.string_buf.get();
  onTape_ = true;
  return std::nullopt;
}

std::optional<std::string> Document::parseExact(const char* text, std::size_t size) {
  clear();
  ExactReader reader(*this, text, size);
  return reader.read(root_);
}

std::string Document::pointerOf(const Value* target, std::int64_t entry) const {
  // Depth first from the root, without recursion: documents may be deep.
  struct Frame {
    const Value* v;
    std::uint32_t next;
  };
  std::vector<Frame> path{{&root_, 0}};
  bool found = &root_ == target;
  while (!found && !path.empty()) {
    Frame& f = path.back();
    const Value* v = f.v;
    const bool object = v->kind == Value::kObject;
    if ((v->kind != Value::kArray && !object) || f.next >= v->size) {
      path.pop_back();
      continue;
    }
    const Value* child = object ? &v->members[f.next].value : &v->items[f.next];
    ++f.next;
    path.push_back({child, 0});
    found = child == target;
  }
  std::string out = base;
  for (std::size_t i = 1; i < path.size(); ++i) {
    const Value* parent = path[i - 1].v;
    const std::uint32_t index = path[i - 1].next - 1;
    if (parent->kind == Value::kObject)
      out += "/" + pointerToken(parent->members[index].key);
    else
      out += "/" + std::to_string(i == 1 ? firstIndex + index : index);
  }
  if (entry >= 0) out += "/" + std::to_string(entry);
  return out;
}

std::string Document::pointerOf(std::uint32_t target) const {
  // From the root down, into the entry or member whose words hold the target.
  std::string out = base;
  std::uint32_t at = 1;
  bool root = true;
  while (at != target) {
    const char kind = tape_.kind(at);
    if (kind != '{' && kind != '[') break;  // not a value of this document
    const std::uint32_t end = tape_.after(at) - 1;
    std::uint32_t i = at + 1, index = 0;
    if (kind == '{') {
      while (i < end && tape_.after(i + 1) <= target) i = tape_.after(i + 1);
      if (i >= end) break;
      out += "/" + pointerToken(tape_.string(i));
      at = i + 1;
    } else {
      while (i < end && tape_.after(i) <= target) {
        i = tape_.after(i);
        ++index;
      }
      if (i >= end) break;
      out += "/" + std::to_string(root ? firstIndex + index : index);
      at = i;
    }
    root = false;
  }
  return out;
}

}  // namespace TavKernel::jobjson

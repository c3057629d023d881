// The compact document of job-file text: simdjson's parse and the plain
// reader build the same values, keys given twice keep their last value,
// points are packed for paths only, and every value names its place.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/kernel/jobjson.h"

namespace {

using TavKernel::jobjson::Document;
using TavKernel::jobjson::Value;

// A document's values in words: kinds, numbers to the last bit, texts,
// members in order, and packed points.
void describe(const Value& v, std::string& out) {
  char number[64];
  switch (v.kind) {
    case Value::kNull: out += "null"; break;
    case Value::kBool: out += v.boolean ? "true" : "false"; break;
    case Value::kNumber:
      std::snprintf(number, sizeof number, "%a", v.number);
      out += number;
      break;
    case Value::kString: out += "\"" + std::string(v.text, v.size) + "\""; break;
    case Value::kArray:
      out += "[";
      for (std::uint32_t i = 0; i < v.size; ++i) describe(v.items[i], out += i ? "," : "");
      out += "]";
      break;
    case Value::kObject:
      out += "{";
      for (std::uint32_t i = 0; i < v.size; ++i) describe(v.members[i].value, out += (i ? "," : "") + std::string(v.members[i].key) + ":");
      out += "}";
      break;
    case Value::kPoints:
      out += std::string("points") + (v.points->startsWithCurve ? "!" : "") + "(";
      for (const auto& p : v.points->points)
        out += std::to_string(p.v) + " " + std::to_string(p.h) + " " + std::to_string(int(p.type)) + ";";
      out += ")";
      break;
  }
}

// The text parsed by simdjson (padded as it needs) or by the plain reader.
std::string parsed(const std::string& text, bool exact) {
  Document doc;
  std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
  const auto fault = exact ? doc.parseExact(padded.data(), text.size()) : doc.parse(padded.data(), text.size());
  if (fault) return "fault: " + *fault;
  std::string out;
  describe(doc.root(), out);
  return out;
}

}  // namespace

TEST(JobJson, BothReadersBuildTheSameDocument) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"a": 1, "b": [true, false, null], "c": "x\u00e9\n"})", "{a:0x1p+0,b:[true,false,null],c:\"x\xc3\xa9\n\"}"},
      // Numbers as JSON readers convert them: -0 is an integer (0), 0.1 rounds once.
      {"[-0, -0.0, 0.1, 1e-400, 18446744073709551615, -9223372036854775808, 1.5e300]",
       "[0x0p+0,-0x0p+0,0x1.999999999999ap-4,0x0p+0,0x1p+64,-0x1p+63,0x1.1eb2d66005835p+997]"},
      // Beyond 64 bits: read as the nearest double (the plain reader's case).
      {"[123456789012345678901234]", "[0x1.a249b1f10a06dp+76]"},
      // A key given twice: its place stays, its value is the last.
      {R"({"k": 1, "j": 2, "k": 3})", "{k:0x1.8p+1,j:0x1p+1}"},
      // Points are packed in paths only, wherever "kind" stands.
      {R"({"points": [[1, 2], [3, 4, 5, 6, 7, 8]], "kind": "path"})",
       "{points:points(1 2 0;3 4 1;5 6 1;7 8 2;),kind:\"path\"}"},
      {R"({"kind": "path", "points": [[1, 2, 3, 4, 5, 6]]})", "{kind:\"path\",points:points!(1 2 1;3 4 1;5 6 2;)}"},
      {R"({"kind": "group", "points": [[1, 2]]})", "{kind:\"group\",points:[[0x1p+0,0x1p+1]]}"},
      {R"({"kind": "path", "points": []})", "{kind:\"path\",points:points()}"},
      // Not a well-formed point list: kept as written, for the loader to name the fault.
      {R"({"kind": "path", "points": [[1, 2.5]]})", "{kind:\"path\",points:[[0x1p+0,0x1.4p+1]]}"},
      {R"({"kind": "path", "points": [[1, 2, 3]]})", "{kind:\"path\",points:[[0x1p+0,0x1p+1,0x1.8p+1]]}"},
      {R"({"kind": "path", "points": [[0, 1000000001]]})", "{kind:\"path\",points:[[0x0p+0,0x1.dcd65008p+29]]}"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parsed(text, false), expected) << text;
    EXPECT_EQ(parsed(text, true), expected) << text;
  }
}

// Each value names its place as a JSON pointer: keys escaped, entries of a
// run of list entries counted from the run's first, entries of packed points.
TEST(JobJson, ValuesNameTheirPlace) {
  const std::string text =
      R"([{"a/b": {"c~d": [5, {"kind": "path", "points": [[1, 2], [3, 4]]}]}}, {"e": 6}])";
  std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
  for (const bool exact : {false, true}) {
    Document doc;
    doc.base = "/objects/2/objects";
    doc.firstIndex = 40;
    ASSERT_FALSE(exact ? doc.parseExact(padded.data(), text.size()) : doc.parse(padded.data(), text.size()));
    const Value& first = doc.root().items[0];
    const Value& list = first.members[0].value.members[0].value;
    const Value& path = list.items[1];
    const Value& points = path.members[1].value;
    ASSERT_EQ(points.kind, Value::kPoints);
    EXPECT_EQ(doc.pointerOf(&doc.root()), "/objects/2/objects");
    EXPECT_EQ(doc.pointerOf(&first), "/objects/2/objects/40");
    EXPECT_EQ(doc.pointerOf(&list.items[0]), "/objects/2/objects/40/a~1b/c~0d/0");
    EXPECT_EQ(doc.pointerOf(&points, 1), "/objects/2/objects/40/a~1b/c~0d/1/points/1");
    EXPECT_EQ(doc.pointerOf(&doc.root().items[1].members[0].value), "/objects/2/objects/41/e");
  }
}

// A document is used piece after piece: each parse drops the last one, the
// arena is reused, and large pieces take what they need.
TEST(JobJson, PiecesAfterPiecesReuseTheDocument) {
  Document doc;
  for (int piece = 0; piece < 50; ++piece) {
    std::string text = "[";
    const int n = piece % 2 ? 20000 : 3;
    for (int i = 0; i < n; ++i) text += (i ? "," : "") + std::string(R"({"kind":"path","points":[[)") +
                                         std::to_string(i) + "," + std::to_string(piece) + "]]}";
    text += "]";
    std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
    ASSERT_FALSE(doc.parse(padded.data(), text.size()));
    ASSERT_EQ(doc.root().size, std::uint32_t(n));
    const Value& last = doc.root().items[n - 1].members[1].value;
    ASSERT_EQ(last.kind, Value::kPoints);
    EXPECT_EQ(last.points->points.at(0).v, n - 1);
    EXPECT_EQ(last.points->points.at(0).h, piece);
  }
}

// A document's strings and keys are its own: they outlive the text they were
// read from (which the job stream overwrites with the next window) and the
// parse of another document, and each string ends with a zero byte.
TEST(JobJson, StringsOutliveTheTextTheyWereReadFrom) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"text": "caf\u00e9 \"x\"", "k\\ey": "a\u0000b"})", "{text:\"caf\xc3\xa9 \"x\"\",k\\ey:\"a" + std::string(1, '\0') + "b\"}"},
      {R"(["", "long string of forty-two bytes and beyond", {"": ""}])",
       "[\"\",\"long string of forty-two bytes and beyond\",{:\"\"}]"},
  };
  for (const bool exact : {false, true}) {
    Document first, second;
    {
      std::string a = cases[0].first + std::string(TavKernel::jobjson::kPadding, ' ');
      std::string b = cases[1].first + std::string(TavKernel::jobjson::kPadding, ' ');
      ASSERT_FALSE(exact ? first.parseExact(a.data(), cases[0].first.size()) : first.parse(a.data(), cases[0].first.size()));
      ASSERT_FALSE(exact ? second.parseExact(b.data(), cases[1].first.size()) : second.parse(b.data(), cases[1].first.size()));
      a.assign(a.size(), 'x');
      b.assign(b.size(), 'x');
    }
    std::string out;
    describe(first.root(), out);
    EXPECT_EQ(out, cases[0].second) << exact;
    out.clear();
    describe(second.root(), out);
    EXPECT_EQ(out, cases[1].second) << exact;
    const Value& text = first.root().members[1].value;
    ASSERT_EQ(text.kind, Value::kString);
    EXPECT_EQ(text.text[text.size], '\0');
  }
}

namespace {

using TavKernel::jobjson::Tape;

// A value left in simdjson's index, in the words of describe().
void describeTape(const Tape& t, std::uint32_t at, std::string& out) {
  char number[64];
  switch (t.kind(at)) {
    case 'n': out += "null"; return;
    case 't': out += "true"; return;
    case 'f': out += "false"; return;
    case 'l':
    case 'u':
    case 'd':
      std::snprintf(number, sizeof number, "%a", t.number(at));
      out += number;
      return;
    case '"': out += "\"" + std::string(t.string(at)) + "\""; return;
    case '[':
    case '{': {
      const bool object = t.kind(at) == '{';
      out += object ? "{" : "[";
      std::uint32_t n = 0;
      for (std::uint32_t i = at + 1; i < t.after(at) - 1; ++n) {
        if (n) out += ",";
        if (object) out += std::string(t.string(i++)) + ":";
        describeTape(t, i, out);
        i = t.after(i);
      }
      out += object ? "}" : "]";
      EXPECT_EQ(t.count(at), n) << out;
      return;
    }
  }
  ADD_FAILURE() << "no value at word " << at;
}

// The text read in place, or "compact: " and the compact document where it
// was left to the plain reader.
std::string readInPlace(const std::string& text) {
  Document doc;
  std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
  if (const auto fault = doc.parseInPlace(padded.data(), text.size())) return "fault: " + *fault;
  std::string out;
  if (const Tape* t = doc.tape())
    describeTape(*t, 1, out);
  else
    describe(doc.root(), out += "compact: ");
  return out;
}

// Every value of the document at `at` and below, with the place the walk
// took to it, named as a JSON pointer by the document.
void checkPlaces(const Document& doc, std::uint32_t at, const std::string& place, bool root, int& checked) {
  const Tape& t = *doc.tape();
  EXPECT_EQ(doc.pointerOf(at), place);
  ++checked;
  if (t.kind(at) != '[' && t.kind(at) != '{') return;
  std::size_t index = root ? doc.firstIndex : 0;
  for (std::uint32_t i = at + 1; i < t.after(at) - 1; i = t.after(i)) {
    if (t.kind(at) == '{') {
      checkPlaces(doc, i + 1, place + "/" + TavKernel::jobjson::pointerToken(t.string(i)), false, checked);
      ++i;
    } else {
      checkPlaces(doc, i, place + "/" + std::to_string(index++), false, checked);
    }
  }
}

}  // namespace

// Read in place, a text gives the values the compact documents hold (keys
// given twice kept as written, points not packed); what simdjson leaves to
// the plain reader and faults give what parse() gives.
TEST(JobJson, ValuesReadInPlaceAreTheValuesParsed) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"a": 1, "b": [true, false, null], "c": "x\u00e9\n"})", "{a:0x1p+0,b:[true,false,null],c:\"x\xc3\xa9\n\"}"},
      {"[-0, -0.0, 0.1, 1e-400, 18446744073709551615, -9223372036854775808, 1.5e300]",
       "[0x0p+0,-0x0p+0,0x1.999999999999ap-4,0x0p+0,0x1p+64,-0x1p+63,0x1.1eb2d66005835p+997]"},
      {R"({"k": 1, "j": 2, "k": 3})", "{k:0x1p+0,j:0x1p+1,k:0x1.8p+1}"},
      {R"({"kind": "path", "points": [[1, 2], [3, 4, 5, 6, 7, 8]]})",
       "{kind:\"path\",points:[[0x1p+0,0x1p+1],[0x1.8p+1,0x1p+2,0x1.4p+2,0x1.8p+2,0x1.cp+2,0x1p+3]]}"},
      {R"([{}, [], "", {"": {"a/b~": [[]]}}])", "[{},[],\"\",{:{a/b~:[[]]}}]"},
      {"[123456789012345678901234]", "compact: [0x1.a249b1f10a06dp+76]"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(readInPlace(text), expected) << text;
  for (const std::string text : {"{\"a\": }", "[1, 2", "{\"a\": \"\\x\"}"}) {
    std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
    Document doc;
    EXPECT_EQ(readInPlace(text), "fault: " + *doc.parseExact(padded.data(), text.size())) << text;
  }
}

// Each value read in place names its place: keys escaped, entries of a run
// counted from the run's first, whatever the nesting.
TEST(JobJson, ValuesReadInPlaceNameTheirPlace) {
  const std::string texts[] = {
      R"([{"a/b": {"c~d": [5, {"kind": "path", "points": [[1, 2], [3, 4]]}]}}, {"e": 6, "e": [7]}])",
      R"([[], {}, [[[1]], {"": {"~/": [null, true, "s", 1.5, 18446744073709551615]}}], "last"])",
      R"({"x": [{"y": [{"z": [0, 1, 2]}]}], "w": {}})",
  };
  for (const std::string& text : texts) {
    std::string padded = text + std::string(TavKernel::jobjson::kPadding, ' ');
    Document doc;
    doc.base = "/objects/2/objects";
    doc.firstIndex = text[0] == '[' ? 40 : 0;
    ASSERT_FALSE(doc.parseInPlace(padded.data(), text.size()));
    ASSERT_NE(doc.tape(), nullptr);
    int checked = 0;
    checkPlaces(doc, 1, doc.base, true, checked);
    EXPECT_GT(checked, 8) << text;
  }
}

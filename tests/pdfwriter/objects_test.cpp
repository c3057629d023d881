// Byte-exact syntax of the object model, and the registry's ownership rules.
#include <gtest/gtest.h>

#include <new>

#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "sinks.h"

namespace {

using namespace TavPDF;
using pdftest::syntaxOf;

// Every test starts and ends with an empty registry.
class ObjectModel : public ::testing::Test {
 protected:
  void SetUp() override { PdfObjectRegistry::deleteAll(); }
  void TearDown() override { PdfObjectRegistry::deleteAll(); }
};

PDFString* hex(PDFString* s, bool already = false) {
  already ? s->SetAlreadyHex(true) : s->SetHex(true);
  return s;
}

TEST_F(ObjectModel, ScalarNameAndStringSyntax) {
  const std::string a49(49, 'a'), b50(50, 'b'), c48(48, 'c'), longName(1000, 'n');
  std::string hex60;
  for (int i = 0; i < 30; ++i) hex60 += "5A";
  const struct {
    PDFDictionaryValue* object;
    std::string expected;
  } cases[] = {
      {new PDFInteger(-3), "-3 "},
      {new PDFInteger(6000000000LL), "6000000000 "},
      {new PDFReal(0.5), "0.5 "},
      {new PDFBool(true), "true"},
      {new PDFBool(false), "false"},
      {new PDFName("a #b"), "/a#20#23b"},
      {new PDFName("caf\xE9"), "/caf#E9"},
      {new PDFName("()<>[]{}/%\t\n~!"), "/#28#29#3C#3E#5B#5D#7B#7D#2F#25#09#0A~!"},
      {new PDFName(""), "/"},
      {new PDFName(longName), "/" + longName},  // never truncated
      // Literal strings break after fifty characters; an escape is never split.
      {new PDFString(a49), "(" + a49 + ")"},
      {new PDFString(b50 + b50 + "bb"), "(" + b50 + "\\\n" + b50 + "\\\n" + "bb)"},
      {new PDFString(c48 + "()"), "(" + c48 + "\\(\\\n\\))"},
      {new PDFString("a\\b\rc"), "(a\\\\b\\015c)"},
      {new PDFString(""), "()"},
      // Hex strings break after fifty digits.
      {hex(new PDFString(std::string(30, '\x5A'))),
       "<" + hex60.substr(0, 50) + "\n" + hex60.substr(50) + ">"},
      {hex(new PDFString("0a1B"), true), "<0a1B>"},
      // Non-ASCII text becomes UTF-16BE with its byte-order mark; the
      // two-argument form always converts; beyond the BMP a surrogate pair;
      // a byte that is not UTF-8 the replacement character.
      {new PDFString(std::string("Caf\xC3\xA9")), "<FEFF00430061006600E9>"},
      {new PDFString(std::string("A"), true), "<FEFF0041>"},
      {new PDFString(std::string(""), true), "<>"},
      {new PDFString(std::string("\xF0\x9F\x98\x80"), true), "<FEFFD83DDE00>"},
      {new PDFString(std::string("a\xFF")), "<FEFF0061FFFD>"},
      // A first byte of zero gives an empty string whatever the length.
      {new PDFString(std::string("\0abc", 4)), "()"},
      {hex(new PDFString(std::string("\0abc", 4))), "<>"},
  };
  for (const auto& c : cases) EXPECT_EQ(syntaxOf(c.object), c.expected);
}

TEST_F(ObjectModel, ContainersInKeyOrderWithNullSlotsSkipped) {
  EXPECT_EQ(syntaxOf(new PDFDictionary), "<<\n>>");
  EXPECT_EQ(syntaxOf(new PDFArray(3)), "[ ]");

  auto* array = new PDFArray(3);
  array->Set(1, new PDFInteger(7));
  array->Add(new PDFName("N"));
  array->Set(9, new PDFInteger(1));  // beyond the slots: refused
  EXPECT_EQ(array->Size(), 4u);
  EXPECT_EQ(syntaxOf(array), "[ 7  /N ]");
  EXPECT_EQ(syntaxOf(new PDFArray(TavSys::tv_rectangle{842, 0, 0, 595.5})),
            "[ 0  0  595.5  842  ]");

  auto* dict = new PDFDictionary;
  for (const auto& [key, value] :
       {std::pair{"Type", 0}, {"A b", 1}, {"Ab", 2}, {"A", 3}, {"\xC3\xA9", 4}}) {
    dict->Set(key, new PDFInteger(value));  // bytes above 0x7F sort last
  }
  auto* inner = new PDFArray;
  inner->Add(new PDFDictionary);
  dict->Set("K", inner);
  EXPECT_EQ(syntaxOf(dict),
            "<<\n/A 3 \n/A#20b 1 \n/Ab 2 \n/K [ <<\n>> ]\n/Type 0 \n/#C3#A9 4 \n>>");
}

TEST_F(ObjectModel, SettingAKeyTwiceKeepsOneEntryAndTheOldValueAlive) {
  auto* dict = new PDFDictionary;
  auto* first = new PDFInteger(1);
  dict->Set("K", first);
  dict->Set(std::string("K"), new PDFInteger(2));
  EXPECT_EQ(dict->Size(), 1u);
  EXPECT_EQ(dict->Get("missing"), nullptr);
  EXPECT_EQ(syntaxOf(first), "1 ");  // still alive: the registry owns it
  // A null value would be dereferenced on output: refused, with a diagnostic.
  pdftest::DebugCapture debug;
  dict->Set("K", nullptr);
  dict->Set("New", nullptr);
  EXPECT_TRUE(debug.has("null value"));
  EXPECT_EQ(syntaxOf(dict), "<<\n/K 2 \n>>");
}

// Counts its destructions; optionally deletes another object when destroyed.
int gDestroyed = 0;
class Counted : public PDFDictionary {
 public:
  explicit Counted(PDFBaseClass* victim = nullptr) : mVictim(victim) {}
  ~Counted() override {
    ++gDestroyed;
    delete mVictim;
  }
  PDFBaseClass* mVictim;
};

class CountedStream : public PDFStream {
 public:
  using PDFStream::PDFStream;
  ~CountedStream() override {
    // The stream's dictionary is still alive when the stream goes.
    EXPECT_NE(GetDictionary()->Get("Check"), nullptr);
    ++gDestroyed;
  }
};

TEST_F(ObjectModel, TheSweepFreesEveryObjectOnceSharedDictionariesIncluded) {
  auto& registry = PdfObjectRegistry::instance();
  gDestroyed = 0;
  TavSys::fil memory;
  pdfoutfil file(&memory);
  // One dictionary serving three streams; it stands in a container as well.
  auto* shared = new Counted;
  shared->Set("Check", new PDFBool(true));
  (new PDFArray)->Add(shared);
  for (int i = 0; i < 3; ++i) new CountedStream(&file, shared);
  auto* own = new CountedStream(&file, nullptr);  // makes its own dictionary
  own->GetDictionary()->Set("Check", new PDFBool(false));
  // A destructor that deletes another registry object during the sweep.
  new Counted(new Counted);
  // Objects deleted before the sweep are forgotten, in an order that leaves
  // the searched window often.
  delete new Counted;
  std::vector<PDFInteger*> many;
  for (int i = 0; i < 30000; ++i) many.push_back(new PDFInteger(i));
  for (int i = 0; i < 30000; i += 7) delete many[static_cast<std::size_t>(i)];
  delete many[29999];
  delete many[1];
  EXPECT_EQ(registry.liveCount(), 1u + 1 + 1 + 3 + 3 + 2 + 30000 - (30000 / 7 + 1) - 2);
  PdfObjectRegistry::deleteAll();
  EXPECT_EQ(gDestroyed, 1 + 1 + 4 + 2);
  EXPECT_EQ(registry.liveCount(), 0u);
  PdfObjectRegistry::deleteAll();  // nothing left to free twice
  EXPECT_EQ(gDestroyed, 8);
}

}  // namespace

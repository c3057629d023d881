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

TEST_F(ObjectModel, ScalarsAndNames) {
  EXPECT_EQ(syntaxOf(new PDFInteger(-3)), "-3 ");
  EXPECT_EQ(syntaxOf(new PDFInteger(6000000000LL)), "6000000000 ");
  EXPECT_EQ(syntaxOf(new PDFReal(0.5)), "0.5 ");
  EXPECT_EQ(syntaxOf(new PDFReal(72)), "72 ");
  EXPECT_EQ(syntaxOf(new PDFBool(true)), "true");
  EXPECT_EQ(syntaxOf(new PDFBool(false)), "false");
  EXPECT_EQ(syntaxOf(new PDFName("Type")), "/Type");
  EXPECT_EQ(syntaxOf(new PDFName("a #b")), "/a#20#23b");
  EXPECT_EQ(syntaxOf(new PDFName("caf\xE9")), "/caf#E9");
  EXPECT_EQ(syntaxOf(new PDFName("()<>[]{}/%\t\n~!")), "/#28#29#3C#3E#5B#5D#7B#7D#2F#25#09#0A~!");
  EXPECT_EQ(syntaxOf(new PDFName("")), "/");
  EXPECT_EQ(syntaxOf(new PDFDictionaryValue), "\nUnimplemented Output");
  // A long name is written whole.
  const std::string longName(1000, 'n');
  EXPECT_EQ(syntaxOf(new PDFName(longName)), "/" + longName);
}

TEST_F(ObjectModel, LiteralStringsBreakAfterFiftyCharacters) {
  EXPECT_EQ(syntaxOf(new PDFString(std::string(49, 'a'))), "(" + std::string(49, 'a') + ")");
  EXPECT_EQ(syntaxOf(new PDFString(std::string(50, 'a'))),
            "(" + std::string(50, 'a') + "\\\n)");
  EXPECT_EQ(syntaxOf(new PDFString(std::string(120, 'b'))),
            "(" + std::string(50, 'b') + "\\\n" + std::string(50, 'b') + "\\\n" +
                std::string(20, 'b') + ")");
  // Escapes count with their full length, and a chunk never splits one.
  EXPECT_EQ(syntaxOf(new PDFString(std::string(48, 'c') + "()")),
            "(" + std::string(48, 'c') + "\\(\\\n\\))");
  EXPECT_EQ(syntaxOf(new PDFString("a\\b\rc")), "(a\\\\b\\015c)");
  EXPECT_EQ(syntaxOf(new PDFString("")), "()");
}

TEST_F(ObjectModel, HexAndUtf16Strings) {
  auto* hex = new PDFString(std::string(30, '\x5A'));
  hex->SetHex(true);
  std::string digits60;
  for (int i = 0; i < 30; ++i) digits60 += "5A";
  EXPECT_EQ(syntaxOf(hex), "<" + digits60.substr(0, 50) + "\n" + digits60.substr(50) + ">");

  // Non-ASCII text becomes UTF-16BE with its byte-order mark, as hex.
  EXPECT_EQ(syntaxOf(new PDFString(std::string("Caf\xC3\xA9"))), "<FEFF00430061006600E9>");
  // The two-argument form always converts, ASCII included.
  EXPECT_EQ(syntaxOf(new PDFString(std::string("A"), true)), "<FEFF0041>");
  EXPECT_EQ(syntaxOf(new PDFString(std::string(""), true)), "<>");
  // A character beyond the BMP becomes a surrogate pair.
  EXPECT_EQ(syntaxOf(new PDFString(std::string("\xF0\x9F\x98\x80"), true)), "<FEFFD83DDE00>");
  // A byte that is not UTF-8 becomes the replacement character.
  EXPECT_EQ(syntaxOf(new PDFString(std::string("a\xFF"))), "<FEFF0061FFFD>");

  // Digits that are hex already go out as they stand.
  auto* digits = new PDFString("0a1B");
  digits->SetAlreadyHex(true);
  EXPECT_EQ(syntaxOf(digits), "<0a1B>");

  // A first byte of zero gives an empty string whatever the length.
  auto* zero = new PDFString(std::string("\0abc", 4));
  EXPECT_EQ(zero->GetLength(), 4u);
  EXPECT_EQ(syntaxOf(zero), "()");
  zero->SetHex(true);
  EXPECT_EQ(syntaxOf(zero), "<>");
}

TEST_F(ObjectModel, ContainersInKeyOrderWithNullSlotsSkipped) {
  EXPECT_EQ(syntaxOf(new PDFDictionary), "<<\n>>");
  EXPECT_EQ(syntaxOf(new PDFArray), "[ ]");
  EXPECT_EQ(syntaxOf(new PDFArray(3)), "[ ]");

  auto* array = new PDFArray(3);
  array->Set(1, new PDFInteger(7));
  array->Add(new PDFName("N"));
  EXPECT_EQ(array->Size(), 4u);
  EXPECT_EQ(syntaxOf(array), "[ 7  /N ]");
  array->Set(9, new PDFInteger(1));  // beyond the slots: refused
  EXPECT_EQ(array->Size(), 4u);

  auto* box = new PDFArray(TavSys::tv_rectangle{842, 0, 0, 595.5});
  EXPECT_EQ(syntaxOf(box), "[ 0  0  595.5  842  ]");

  auto* dict = new PDFDictionary;
  dict->Set("Type", new PDFName("Page"));
  dict->Set("A b", new PDFInteger(1));
  dict->Set("Ab", new PDFInteger(2));
  dict->Set("A", new PDFInteger(3));
  dict->Set("\xC3\xA9", new PDFInteger(4));  // bytes above 0x7F sort last
  EXPECT_EQ(syntaxOf(dict),
            "<<\n/A 3 \n/A#20b 1 \n/Ab 2 \n/Type /Page\n/#C3#A9 4 \n>>");

  // Nested containers.
  auto* outer = new PDFDictionary;
  auto* inner = new PDFArray;
  inner->Add(new PDFDictionary);
  outer->Set("K", inner);
  EXPECT_EQ(syntaxOf(outer), "<<\n/K [ <<\n>> ]\n>>");
}

TEST_F(ObjectModel, SettingAKeyTwiceKeepsOneEntryAndTheOldValueAlive) {
  auto* dict = new PDFDictionary;
  auto* first = new PDFInteger(1);
  auto* second = new PDFInteger(2);
  dict->Set("K", first);
  dict->Set(std::string("K"), second);
  EXPECT_EQ(dict->Size(), 1u);
  EXPECT_EQ(dict->Get("K"), second);
  EXPECT_EQ(dict->Get("missing"), nullptr);
  EXPECT_EQ(syntaxOf(first), "1 ");  // still alive: the registry owns it

  // A null value would be dereferenced on output: refused, with a diagnostic.
  {
    pdftest::DebugCapture debug;
    dict->Set("K", nullptr);
    dict->Set("New", nullptr);
    EXPECT_TRUE(debug.has("null value"));
  }
  EXPECT_EQ(dict->Size(), 1u);
  EXPECT_EQ(syntaxOf(dict), "<<\n/K 2 \n>>");
}

// ---------------------------------------------------------------------------
// Ownership

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
  EXPECT_EQ(registry.liveCount(), 0u);
  gDestroyed = 0;
  TavSys::fil memory;
  pdfoutfil file(&memory);
  // One dictionary serving three streams; it stands in a container as well.
  auto* shared = new Counted;
  shared->Set("Check", new PDFBool(true));
  auto* array = new PDFArray;
  array->Add(shared);
  for (int i = 0; i < 3; ++i) new CountedStream(&file, shared);
  auto* own = new CountedStream(&file, nullptr);  // makes its own dictionary
  own->GetDictionary()->Set("Check", new PDFBool(false));
  EXPECT_EQ(registry.liveCount(), 1u + 1 + 1 + 3 + 3);
  // A destructor that deletes another registry object during the sweep.
  new Counted(new Counted);
  PdfObjectRegistry::deleteAll();
  EXPECT_EQ(gDestroyed, 1 + 4 + 2);
  EXPECT_EQ(registry.liveCount(), 0u);
  // A second sweep has nothing left to free.
  PdfObjectRegistry::deleteAll();
  EXPECT_EQ(gDestroyed, 7);
}

TEST_F(ObjectModel, DeletingBeforeTheSweepIsAllowedAndForgotten) {
  auto& registry = PdfObjectRegistry::instance();
  gDestroyed = 0;
  std::vector<PDFInteger*> many;
  for (int i = 0; i < 30000; ++i) many.push_back(new PDFInteger(i));
  // Deleted in an order that leaves the searched window often.
  for (int i = 0; i < 30000; i += 7) delete many[static_cast<std::size_t>(i)];
  delete many[29999];
  delete many[1];
  EXPECT_EQ(registry.liveCount(), 30000u - (30000 / 7 + 1) - 2);
  auto* counted = new Counted;
  delete counted;
  EXPECT_EQ(gDestroyed, 1);
  PdfObjectRegistry::deleteAll();
  EXPECT_EQ(gDestroyed, 1);
  EXPECT_EQ(registry.liveCount(), 0u);
}

TEST_F(ObjectModel, DeletingABlockTheRegistryNeverSawIsReportedAndFreed) {
  TavGen::MessageCapture capture;
  void* raw = ::operator new(sizeof(PDFInteger));
  auto* foreign = ::new (raw) PDFInteger(5);
  // The mismatch between the allocation and the deletion is what is tested.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
  delete foreign;  // frees through the class's operator delete
#pragma GCC diagnostic pop
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Pointer not allocated in this module");
  EXPECT_EQ(capture.messages()[0].severity, 3);
  EXPECT_EQ(capture.messages()[0].volatility, 1);
  // Objects on the stack are never recorded and never swept.
  {
    PDFInteger onStack(1);
    EXPECT_EQ(PdfObjectRegistry::instance().liveCount(), 0u);
  }
}

}  // namespace

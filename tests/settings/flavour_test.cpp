// The preference table over gPDFSettings, the flavour snapshots, and the
// platform pieces under them: tables of other shapes, the XML number text and
// the reader.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <set>
#include <string>

#include "platform/xml.h"
#include "settings_helpers.h"
#include "support/consumers.h"
#include "tavpdf/Flavour.h"

using settingstest::differences;
using settingstest::GlobalSettingsGuard;
using TavGen::FourCharCode;

namespace {

// A table of another shape: a four-character-code popup, a key used twice, a
// row type without a file form.
constexpr std::int32_t kCodeValues[] = {static_cast<std::int32_t>(FourCharCode("Alfa")),
                                        static_cast<std::int32_t>(FourCharCode("Beta"))};
constexpr const char* kCodeItems[] = {"Alpha", "Beta", nullptr};
TavGen::PopupDataModel gCodePopup(kCodeValues, kCodeItems, 0);
std::int32_t gFirst = 11, gSecond = 22, gUnsupported = 33;
const TavGen::PreferenceEntry kTable[] = {
    {"Code", &gCodePopup, FourCharCode("Code"), 1, TavGen::kPrefPopup},
    {"First", &gFirst, FourCharCode("Same"), 2, TavGen::kPrefLong},
    {"Second", &gSecond, FourCharCode("Same"), 3, TavGen::kPrefLong},
    {"Odd", &gUnsupported, FourCharCode("Odd1"), 4, 3},
    {},
};

}  // namespace

TEST(PreferenceTable, RowsNameTheirFieldsWithUniqueKeysAndTypesThatFit) {
  EXPECT_TRUE(TavPDF::pdfprftab[TavPDF::kPreferenceRowCount].isEnd());
  std::set<std::uint32_t> keys;
  std::set<int> ids;
  for (int i = 0; i < TavPDF::kPreferenceRowCount; ++i) {
    const TavGen::PreferenceEntry& row = TavPDF::pdfprftab[i];
    ASSERT_NE(row.name(), nullptr) << i;
    EXPECT_TRUE(keys.insert(row.key()).second && ids.insert(row.id()).second && row.id() != 0) << row.name();
    // The row's key and address agree with the field of the same name.
    const TavPDF::SettingField* field = TavPDF::FindSettingField(row.name());
    ASSERT_NE(field, nullptr) << row.name();
    EXPECT_EQ(row.key(), field->key) << row.name();
    const void* address = nullptr;  // the field of the row's type, or none
    switch (row.type()) {
      case TavGen::kPrefLong:
      case TavGen::kPrefBoolean: address = field->intField ? &(gPDFSettings.*field->intField) : nullptr; break;
      case TavGen::kPrefDouble: address = &(gPDFSettings.*field->doubleField); break;
      case TavGen::kPrefFileRef: address = &(gPDFSettings.*field->fileField); break;
      case TavGen::kPrefPopup: address = &(gPDFSettings.*field->popupField); break;
      default: break;
    }
    EXPECT_EQ(row.value(), address) << row.name() << " of type " << row.type();
  }
  // Lookup stops at the end row.
  for (std::uint32_t missing : {FourCharCode("Nope"), 0u, TavGen::kUnknownFourCharCode}) {
    EXPECT_EQ(TavGen::FindPreferenceEntry(TavPDF::pdfprftab, missing), nullptr) << missing;
  }
}

TEST(FlavourSnapshots, FactoryCheckPointAndCurrentRestoreTheirOwnValuesButNotTheFlavour) {
  GlobalSettingsGuard guard;
  gPDFSettings = PDFSettings();
  gPDFSettings.Flavour = 7;
  gPDFSettings.SetNormalizedFlavourDefaults();
  const PDFSettings factory = gPDFSettings;
  TavPDF::Flavour flavour(TavPDF::pdfprftab);
  ASSERT_EQ(flavour.factoryValues().size(), 65u);  // every row but Flavour's
  EXPECT_EQ(flavour.checkPoint().size(), 65u);

  // Edits, a check point, more edits (the Flavour number among them).
  gPDFSettings.Orientation.SetSelection(3);
  gPDFSettings.HorizontalDistortion = -0.75;
  gPDFSettings.DotgainFile = TavSys::filref("/curves/a.dgc");
  gPDFSettings.MaxSize = 1234;
  flavour.SaveCheckPoint();
  const PDFSettings checkPoint = gPDFSettings;
  gPDFSettings.Orientation.SetSelection(0);
  gPDFSettings.HorizontalDistortion = 4;
  gPDFSettings.DotgainFile.clear();
  gPDFSettings.MaxSize = 1;
  gPDFSettings.Flavour = 2;
  const std::map<std::string, std::string> onlyFlavour{{"Flavour", "7 -> 2"}};
  flavour.RestoreCheckPoint();
  EXPECT_EQ(differences(checkPoint, gPDFSettings), onlyFlavour);

  // The check point's values became the current ones.
  gPDFSettings = factory;
  gPDFSettings.Flavour = 2;
  flavour.RestoreCurrent();
  EXPECT_EQ(differences(checkPoint, gPDFSettings), onlyFlavour);
  flavour.RestoreFactoryDefaults();
  EXPECT_EQ(differences(factory, gPDFSettings), onlyFlavour);
  TavPDF::Flavour(nullptr).RestoreFactoryDefaults();  // nothing to do, nothing to break
}

TEST(FlavourSnapshots, CopiesShareTheirListsAndAreFreedOnce) {
  GlobalSettingsGuard guard;
  gPDFSettings = PDFSettings();
  auto original = std::make_unique<TavPDF::Flavour>(TavPDF::pdfprftab);
  TavPDF::Flavour assigned(nullptr);
  {
    TavPDF::Flavour copy(*original);
    assigned = copy;  // the lists assigned's own constructor made are released here
    gPDFSettings.CompressImages = 77;
    copy.SaveCurrent();
  }  // the copy goes; the lists stay with the others
  gPDFSettings.CompressImages = 1;
  original->RestoreCurrent();
  EXPECT_EQ(gPDFSettings.CompressImages, 77);
  original.reset();
  gPDFSettings.CompressImages = 5;
  assigned.RestoreCurrent();  // still valid after the original is gone
  EXPECT_EQ(gPDFSettings.CompressImages, 77);
  assigned.RestoreFactoryDefaults();
  EXPECT_EQ(gPDFSettings.CompressImages, 1);
}

TEST(FlavourFileOtherTables, CodesDuplicateKeysAndRowsWithoutFileForm) {
  tavtest::TestFolder dir;
  gCodePopup.SetSelection(1);
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "t.xml"), kTable), 0);
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file((dir / "t.xml").c_str()));
  const pugi::xml_node activity = doc.child("qel.activities").child("qel.activity");
  const auto prefs = activity.children("Preference");
  EXPECT_EQ(std::distance(prefs.begin(), prefs.end()), 2)
      << "the second row of a key and the row without file form are left out";
  const pugi::xml_node code = activity.find_child_by_attribute("Preference", "Key", "Code");
  EXPECT_STREQ(code.child("Value").child_value(), "Beta");
  EXPECT_STREQ(code.find_child_by_attribute("ValueDescription", "Key", "Alfa").child_value(), "Alpha");
  gCodePopup.SetSelection(0);
  gFirst = gSecond = 0;
  ASSERT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir / "t.xml"), kTable), 0);
  EXPECT_EQ(gCodePopup.GetSelection(), 1);
  EXPECT_EQ(gFirst, 11) << "the first row of a key is the one written and read";
  EXPECT_EQ(gSecond, 0);

  // A null table writes an empty activity, and reads nothing.
  ASSERT_EQ(TavPDF::SaveFlavourToFile(TavSys::FileSpec(dir / "empty.xml"), nullptr), 0);
  ASSERT_TRUE(doc.load_file((dir / "empty.xml").c_str()));
  EXPECT_FALSE(doc.child("qel.activities").child("qel.activity").first_child());
  EXPECT_EQ(TavPDF::LoadFlavourFromFile(TavSys::FileSpec(dir / "empty.xml"), nullptr), 0);
}

TEST(Xml, PlainDecimalsWithTheFloatPrecisionAndAReaderThatTakesABom) {
  EXPECT_EQ(Xml::GetFloatPrecision(), 6);
  const std::pair<double, const char*> six[] = {
      {-0.123456789, "-0.123457"}, {1e-7, "0.0000001"}, {123456789.0, "123457000"}, {9.9999996, "10"},
      {-0.0, "0"}, {std::numeric_limits<double>::quiet_NaN(), "0"}};
  for (const auto& [value, text] : six) EXPECT_EQ(Xml::FormatDouble(value), text) << text;
  EXPECT_EQ(Xml::FormatDouble(1e300).find('e'), std::string::npos);
  {
    Xml::FloatPrecisionScope precision(15);
    EXPECT_EQ(Xml::FormatDouble(-0.123456789), "-0.123456789");
  }
  EXPECT_EQ(Xml::GetFloatPrecision(), 6);

  // The reader's size and depth limits are refused at the flavour loader.
  pugi::xml_document doc;
  EXPECT_TRUE(Xml::DocumentReader().ParseBuffer("\xEF\xBB\xBF<a b=\"&lt;&#65;\"/>", doc));  // a BOM is no error
  EXPECT_STREQ(doc.child("a").attribute("b").value(), "<A");
}

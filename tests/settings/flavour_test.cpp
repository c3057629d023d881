// The preference table over gPDFSettings and the flavour snapshots.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "settings/settings_access.h"
#include "settings_helpers.h"
#include "tavpdf/Flavour.h"

using settingstest::differences;
using settingstest::GlobalSettingsGuard;
using TavGen::FourCharCode;

TEST(PreferenceTable, RowsNameTheirFieldsWithUniqueKeysAndTypesThatFit) {
  const TavGen::PreferenceEntry& end = TavPDF::pdfprftab[TavPDF::kPreferenceRowCount];
  EXPECT_TRUE(end.isEnd() && end.id() == 0 && end.key() == 0 && end.value() == nullptr);

  std::set<std::uint32_t> keys;
  std::set<int> ids;
  for (int i = 0; i < TavPDF::kPreferenceRowCount; ++i) {
    const TavGen::PreferenceEntry& row = TavPDF::pdfprftab[i];
    ASSERT_NE(row.name(), nullptr) << i;
    EXPECT_TRUE(keys.insert(row.key()).second) << row.name();
    EXPECT_TRUE(ids.insert(row.id()).second) << row.name();
    EXPECT_NE(row.id(), 0) << row.name();
    // The row's key and address agree with the field of the same name.
    const TavPDF::SettingField* field = TavPDF::FindSettingField(row.name());
    ASSERT_NE(field, nullptr) << row.name();
    EXPECT_EQ(row.key(), field->key) << row.name();
    switch (row.type()) {
      case TavGen::kPrefLong:
      case TavGen::kPrefBoolean:
        ASSERT_NE(field->intField, nullptr) << row.name();
        EXPECT_EQ(row.value(), &(gPDFSettings.*field->intField)) << row.name();
        break;
      case TavGen::kPrefDouble: EXPECT_EQ(row.value(), &(gPDFSettings.*field->doubleField)) << row.name(); break;
      case TavGen::kPrefFileRef: EXPECT_EQ(row.value(), &(gPDFSettings.*field->fileField)) << row.name(); break;
      case TavGen::kPrefPopup: EXPECT_EQ(row.value(), &(gPDFSettings.*field->popupField)) << row.name(); break;
      default: ADD_FAILURE() << row.name() << " has type " << row.type();
    }
  }
  // Spot checks of the key encoding and of rows the host numbers.
  EXPECT_EQ(TavPDF::pdfprftab[0].key(), 0x4E6F726Du);  // 'Norm', most significant byte first
  EXPECT_EQ(TavPDF::pdfprftab[0].id(), 25168);
  EXPECT_STREQ(TavPDF::pdfprftab[58].name(), "Flavour");
  EXPECT_EQ(TavPDF::pdfprftab[29].type(), TavGen::kPrefBoolean);  // IncludePreview
}

TEST(PreferenceTable, KeysAreFoundUntilTheEndRowOnly) {
  EXPECT_EQ(TavGen::FindPreferenceEntry(TavPDF::pdfprftab, FourCharCode("Iso1")), &TavPDF::pdfprftab[64]);
  for (std::uint32_t missing : {FourCharCode("Nope"), 0u, TavGen::kUnknownFourCharCode}) {
    EXPECT_EQ(TavGen::FindPreferenceEntry(TavPDF::pdfprftab, missing), nullptr) << missing;
  }
  EXPECT_EQ(TavGen::FindPreferenceEntry(nullptr, FourCharCode("Norm")), nullptr);
  EXPECT_EQ(TavGen::StringToFourCharCode("Norma"), 0x5F5F5F5Fu);
  EXPECT_EQ(TavGen::StringToFourCharCode(""), 0x5F5F5F5Fu);
}

TEST(FlavourSnapshots, ListsSkipTheFlavourRow) {
  const TavPDF::Flavour flavour(TavPDF::pdfprftab);
  ASSERT_EQ(flavour.factoryValues().size(), 65u);
  EXPECT_EQ(flavour.checkPoint().size(), 65u);
  for (std::size_t i = 0; i < flavour.factoryValues().size(); ++i) {
    EXPECT_STRNE(flavour.factoryValues().at(i).row()->name(), "Flavour");
  }
  const TavPDF::Flavour empty(nullptr);
  EXPECT_EQ(empty.factoryValues().size(), 0u);
  empty.RestoreFactoryDefaults();  // nothing to do, nothing to break
}

TEST(FlavourSnapshots, FactoryCheckPointAndCurrentRestoreTheirOwnValues) {
  GlobalSettingsGuard guard;
  gPDFSettings = PDFSettings();
  gPDFSettings.Flavour = 7;
  gPDFSettings.SetNormalizedFlavourDefaults();
  const PDFSettings factory = gPDFSettings;
  TavPDF::Flavour flavour(TavPDF::pdfprftab);

  // Edits, then a check point.
  gPDFSettings.Orientation.SetSelection(3);
  gPDFSettings.HorizontalDistortion = -0.75;
  gPDFSettings.DotgainFile = TavSys::filref("/curves/a.dgc");
  gPDFSettings.MaxSize = 1234;
  flavour.SaveCheckPoint();
  const PDFSettings checkPoint = gPDFSettings;

  // More edits, the Flavour number among them.
  gPDFSettings.Orientation.SetSelection(0);
  gPDFSettings.HorizontalDistortion = 4;
  gPDFSettings.DotgainFile.clear();
  gPDFSettings.MaxSize = 1;
  gPDFSettings.Flavour = 2;
  flavour.RestoreCheckPoint();
  auto diff = differences(checkPoint, gPDFSettings);
  EXPECT_EQ(diff, (std::map<std::string, std::string>{{"Flavour", "7 -> 2"}}));
  EXPECT_STREQ(gPDFSettings.Orientation.GetItemText(gPDFSettings.Orientation.GetSelection()), "Upside down");

  // The check point's values became the current ones.
  gPDFSettings.MaxSize = 99;
  flavour.RestoreCurrent();
  EXPECT_EQ(gPDFSettings.MaxSize, 1234);
  EXPECT_EQ(gPDFSettings.DotgainFile.getFullPathAsUtf8(), "/curves/a.dgc");

  flavour.RestoreFactoryDefaults();
  diff = differences(factory, gPDFSettings);
  EXPECT_EQ(diff, (std::map<std::string, std::string>{{"Flavour", "7 -> 2"}}));

  // SaveCurrent takes the live values.
  gPDFSettings.Mirror = 1;
  flavour.SaveCurrent();
  gPDFSettings.Mirror = 0;
  flavour.RestoreCurrent();
  EXPECT_EQ(gPDFSettings.Mirror, 1);
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

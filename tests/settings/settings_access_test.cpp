// Flavours by name and number, and settings overrides by field name, as the
// export command uses them.
#include <gtest/gtest.h>

#include "platform/tav_error.h"
#include "settings/settings_access.h"
#include "settings_helpers.h"

using settingstest::differences;

TEST(FlavourLookup, ByNameWithoutCaseOrByNumber) {
  ASSERT_NE(TavPDF::FindFlavour("normalizedembedded"), nullptr);
  EXPECT_EQ(TavPDF::FindFlavour("normalizedembedded")->number, 9);
  EXPECT_EQ(TavPDF::FindFlavour(" PRESS ")->number, 1);
  EXPECT_EQ(TavPDF::FindFlavour("7")->number, 7);
  EXPECT_EQ(TavPDF::FindFlavour("+0")->number, 0);
  EXPECT_EQ(TavPDF::FindFlavour("Vistamo")->number, -1);
  EXPECT_EQ(TavPDF::FindFlavour("-1"), nullptr);  // Vistamo has no number
  EXPECT_EQ(TavPDF::FindFlavour("10"), nullptr);
  EXPECT_EQ(TavPDF::FindFlavour("Normalised"), nullptr);
  EXPECT_EQ(TavPDF::FindFlavour(""), nullptr);
  EXPECT_EQ(TavPDF::FlavourList().size(), 11u);
}

TEST(FlavourLookup, SettingsCarryThePresetAndTheNumber) {
  PDFSettings normalized;
  normalized.Flavour = 7;
  normalized.SetNormalizedFlavourDefaults();
  EXPECT_TRUE(differences(normalized, TavPDF::SettingsForFlavour("Normalized")).empty());

  // An obsolete number comes back as Press.
  PDFSettings press;
  press.SetPressFlavourDefaults();
  const PDFSettings six = TavPDF::SettingsForFlavour("6");
  EXPECT_EQ(six.Flavour, 1);
  EXPECT_TRUE(differences(press, six).empty());

  PDFSettings vistamo;
  vistamo.Flavour = 0;  // Vistamo has no number of its own
  vistamo.SetVistamoFlavourDefaults();
  EXPECT_TRUE(differences(vistamo, TavPDF::SettingsForFlavour("vistamo")).empty());

  try {
    TavPDF::SettingsForFlavour("Nonesuch");
    ADD_FAILURE() << "an unknown flavour must throw";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/UNKNOWN FLAVOUR");
    EXPECT_NE(e.text().find("Nonesuch"), std::string::npos);
  }
}

TEST(SettingOverrides, SetFieldsOfEveryKindByName) {
  PDFSettings s;
  const struct {
    const char* assignment;
    const char* field;
    const char* shown;  // the field as `tavpdf flavours show` prints it afterwards
  } cases[] = {
      {"normalizedoutput=yes", "NormalizedOutput", "1"},
      {"IncludeLayers = 0", "IncludeLayers", "0"},
      {"CMYKOnOnePage=true", "CMYKOnOnePage", "1"},  // a field without a preference row
      {"MaxPathSize=+2000", "MaxPathSize", "2000"},
      {"SpareSetting1=-7", "SpareSetting1", "-7"},
      {"VerticalDistortion=-2.25", "VerticalDistortion", "-2.25"},
      {"Orientation=upside down", "Orientation", "3 (Upside down)"},
      {"ScreenRegistration=1", "ScreenRegistration", "1 (Reset for each external file)"},
      {"DotgainFile=/curves/a=b.crv", "DotgainFile", "/curves/a=b.crv"},  // only the first '=' splits
      {"DotgainFile=", "DotgainFile", ""},
  };
  for (const auto& c : cases) {
    TavPDF::ApplySettingOverride(s, c.assignment);
    EXPECT_EQ(TavPDF::FormatSettingValue(s, *TavPDF::FindSettingField(c.field)), c.shown) << c.assignment;
  }
  EXPECT_EQ(s.Orientation.GetValue(), 3);
  EXPECT_TRUE(s.DotgainFile.empty());
}

TEST(SettingOverrides, ValuesOfTheWrongTypeOrRangeAreRefusedAndChangeNothing) {
  const struct {
    const char* assignment;
    const char* key;
  } cases[] = {
      {"NoSuchField=1", "PDF/UNKNOWN SETTING"},
      {"IncludeLayers", "PDF/BAD SETTING ASSIGNMENT"},
      {"=1", "PDF/BAD SETTING ASSIGNMENT"},
      {"IncludeLayers=maybe", "PDF/BAD SETTING VALUE"},
      {"IncludeLayers=2", "PDF/BAD SETTING VALUE"},
      {"Flavour=12", "PDF/BAD SETTING VALUE"},
      {"PDFCompatibility=3", "PDF/BAD SETTING VALUE"},
      {"MaxPathSize=0", "PDF/BAD SETTING VALUE"},
      {"DownsampleResolution=abc", "PDF/BAD SETTING VALUE"},
      {"CompressImages=99999999999", "PDF/BAD SETTING VALUE"},
      {"MaxSize=-1", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=nan", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=100", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=1,5", "PDF/BAD SETTING VALUE"},
      {"Orientation=4", "PDF/BAD SETTING VALUE"},
      {"Orientation=sideways", "PDF/BAD SETTING VALUE"},
      {"DotgainFile=/a\nb", "PDF/BAD SETTING VALUE"},
  };
  for (const auto& c : cases) {
    PDFSettings s;
    s.SetNormalizedFlavourDefaults();
    const PDFSettings before = s;
    try {
      TavPDF::ApplySettingOverride(s, c.assignment);
      ADD_FAILURE() << c.assignment << " was accepted";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), c.key) << c.assignment;
      EXPECT_FALSE(e.text().empty());
    }
    EXPECT_TRUE(differences(before, s).empty()) << c.assignment;
  }
}

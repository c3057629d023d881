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

  const PDFSettings vistamo = TavPDF::SettingsForFlavour("vistamo");
  EXPECT_EQ(vistamo.Flavour, 0);
  EXPECT_EQ(vistamo.CMYKOnOnePage, 1);
  EXPECT_EQ(vistamo.NormalizedOutput, 1);

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
  TavPDF::ApplySettingOverride(s, "normalizedoutput=yes");
  TavPDF::ApplySettingOverride(s, "IncludeLayers = 0");
  TavPDF::ApplySettingOverride(s, "CMYKOnOnePage=true");  // a field without a preference row
  TavPDF::ApplySettingOverride(s, "MaxPathSize=+2000");
  TavPDF::ApplySettingOverride(s, "VerticalDistortion=-2.25");
  TavPDF::ApplySettingOverride(s, "Orientation=upside down");
  TavPDF::ApplySettingOverride(s, "ScreenRegistration=1");
  TavPDF::ApplySettingOverride(s, "DotgainFile=/curves/a=b.crv");  // only the first '=' splits
  TavPDF::ApplySettingOverride(s, "SpareSetting1=-7");
  EXPECT_EQ(s.NormalizedOutput, 1);
  EXPECT_EQ(s.IncludeLayers, 0);
  EXPECT_EQ(s.CMYKOnOnePage, 1);
  EXPECT_EQ(s.MaxPathSize, 2000);
  EXPECT_EQ(s.VerticalDistortion, -2.25);
  EXPECT_EQ(s.Orientation.GetValue(), 3);
  EXPECT_EQ(s.ScreenRegistration.GetValue(), 1);
  EXPECT_EQ(s.DotgainFile.getFullPathAsUtf8(), "/curves/a=b.crv");
  EXPECT_EQ(s.SpareSetting1, -7);
  TavPDF::ApplySettingOverride(s, "DotgainFile=");
  EXPECT_TRUE(s.DotgainFile.empty());

  const TavPDF::SettingField* orientation = TavPDF::FindSettingField("Orientation");
  ASSERT_NE(orientation, nullptr);
  EXPECT_EQ(TavPDF::FormatSettingValue(s, *orientation), "3 (Upside down)");
  EXPECT_EQ(TavPDF::FormatSettingValue(s, *TavPDF::FindSettingField("VerticalDistortion")), "-2.25");
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
      {"DownsampleResolution=72.5", "PDF/BAD SETTING VALUE"},
      {"CompressImages=99999999999", "PDF/BAD SETTING VALUE"},
      {"CompressImages=101", "PDF/BAD SETTING VALUE"},
      {"MaxSize=-1", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=nan", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=inf", "PDF/BAD SETTING VALUE"},
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

// The settings record: defaults, flavour presets, PDF version rules,
// distortion accessors, copies, the process-wide data, flavour lookup by name
// and overrides by field name.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tav_error.h"
#include "settings/default_names.h"
#include "settings_helpers.h"

using settingstest::differences;

namespace {

// Read by a static initializer of this file, which may run before or after
// the settings library's own ones: the global must be built already.
const int gPathSizeSeenAtStartup = gPDFSettings.MaxPathSize;
const int gOrientationSeenAtStartup = gPDFSettings.Orientation.GetValue();

PDFSettings preset(int number, void (PDFSettings::*setter)()) {
  PDFSettings s;
  s.Flavour = number;
  (s.*setter)();
  return s;
}

}  // namespace

TEST(SettingsRecord, NewRecordAndGlobalHaveFlavourOneWithCommonNotPressDefaults) {
  const PDFSettings s;
  EXPECT_EQ(s.Flavour * 10 + s.IncludeLayers, 10);
  // The global was built before any other static object read it; the other
  // tests restore what they change, so it still holds the common defaults.
  EXPECT_EQ(gPathSizeSeenAtStartup, 500000);
  EXPECT_EQ(gOrientationSeenAtStartup, 1);
  EXPECT_TRUE(differences(s, gPDFSettings).empty());
}

// A preset, by its setter or its number, leaves nothing of what the record
// held before; checked for compatibility under its number it ends at the PDF
// version its settings need (Custom and Viewing at 1.4 although Viewing's
// preset says 1.5, Reader at 1.3).
TEST(SettingsRecord, EveryPresetResetsWhatWasThereAndEndsAtTheVersionItNeeds) {
  struct Case {
    std::vector<int> numbers;  // the flavour numbers that reset to this preset
    void (PDFSettings::*setter)();
    int version;
  };
  const int k13 = PDFSettings::kPDF13, k14 = PDFSettings::kPDF14, k15 = PDFSettings::kPDF15;
  const Case cases[] = {
      {{0}, &PDFSettings::SetCustomFlavourDefaults, k14},  {{1, 4, 6}, &PDFSettings::SetPressFlavourDefaults, k15},
      {{5}, &PDFSettings::SetJDFFlavourDefaults, k15},     {{7}, &PDFSettings::SetNormalizedFlavourDefaults, k15},
      {{9}, &PDFSettings::SetNormalizedEmbeddedFlavourDefaults, k15},
      {{2}, &PDFSettings::SetViewingFlavourDefaults, k14}, {{3}, &PDFSettings::SetReaderFlavourDefaults, k13},
      {{8}, &PDFSettings::SetSeparatedFlavourDefaults, k15},
      {{}, &PDFSettings::SetVistamoFlavourDefaults, k15},  // no number: checked as 1
  };
  auto messy = [] {
    PDFSettings s;
    s.SetVistamoFlavourDefaults();
    s.GenerateJDF = 1;
    s.Orientation.SetSelection(2);
    s.DotgainFile = TavSys::filref("/curves/dg.crv");
    s.VerticalDistortion = 3;
    s.SpareSetting2 = 7;
    return s;
  };
  for (const Case& c : cases) {
    PDFSettings fresh, s = messy();
    (fresh.*c.setter)();
    (s.*c.setter)();
    EXPECT_TRUE(differences(fresh, s).empty()) << "preset " << (&c - cases);
    s.Flavour = c.numbers.empty() ? 1 : c.numbers.front();
    s.VerifyCompatibility();
    EXPECT_EQ(s.PDFCompatibility, c.version) << "preset " << (&c - cases);
    for (int number : c.numbers) {
      PDFSettings byNumber = messy();
      byNumber.ResetFlavourToFactoryDefaults(number);
      EXPECT_TRUE(differences(fresh, byNumber).empty()) << "flavour " << number;
    }
  }
  // Other numbers leave the record as it was.
  for (int number : {-1, 10, 1000}) {
    PDFSettings s = messy();
    s.ResetFlavourToFactoryDefaults(number);
    EXPECT_TRUE(differences(messy(), s).empty()) << number;
  }
}

TEST(SettingsRecord, ObsoleteFlavoursFourAndSixBecomePressWhichStillExists) {
  for (int number : {4, 6, 3, 5, -4, 60}) {
    PDFSettings s = preset(number, &PDFSettings::SetNormalizedFlavourDefaults);
    const PDFSettings before = s;
    s.CheckForObsoleteFlavours();
    const bool obsolete = number == 4 || number == 6;
    EXPECT_EQ(s.Flavour, obsolete ? 1 : number);
    EXPECT_TRUE(differences(obsolete ? preset(1, &PDFSettings::SetPressFlavourDefaults) : before, s).empty())
        << number;
  }
  for (int n : {0, 1, 2, 5, 6, 7, 8, 9}) EXPECT_TRUE(TavPDF::FlavourExists(n)) << n;
  for (int n : {3, 4, -1, 10, 255}) EXPECT_FALSE(TavPDF::FlavourExists(n)) << n;
}

TEST(Compatibility, ReaderLosesLayersJdfGeneratesJdfAndFlatteningAlonePermitsPdf13) {
  PDFSettings reader;
  reader.Flavour = 3;
  reader.IncludeLayers = 1;
  reader.VerifyCompatibility();
  EXPECT_EQ(reader.IncludeLayers, 0);
  EXPECT_EQ(reader.EnableFlattening + reader.FlattenOverprints + reader.FlattenBlackOverprint, 3);
  EXPECT_EQ(reader.PDFCompatibility, PDFSettings::kPDF13);

  PDFSettings jdf;
  jdf.Flavour = 5;
  jdf.VerifyCompatibility();
  EXPECT_EQ(jdf.GenerateJDF, 1);
  PDFSettings press;  // other flavours keep their choices
  press.IncludeLayers = 1;
  press.VerifyCompatibility();
  EXPECT_EQ(press.GenerateJDF + press.IncludeLayers, 1);

  PDFSettings s = preset(7, &PDFSettings::SetNormalizedFlavourDefaults);
  s.EnableFlattening = 1;
  s.VerifyCompatibility();
  EXPECT_EQ(s.PDFCompatibility, PDFSettings::kPDF15);  // layers
  s.IncludeLayers = 0;
  s.VerifyCompatibility();
  EXPECT_EQ(s.PDFCompatibility, PDFSettings::kPDF14);  // normalized data needs 1.4
  s.NormalizedOutput = 0;
  s.VerifyCompatibility();
  EXPECT_EQ(s.PDFCompatibility, PDFSettings::kPDF13);
  s.EnableFlattening = 0;
  EXPECT_TRUE(s.RequiresToBeAtLeastPDF14());
}

TEST(SettingsRecord, CopiesAreIndependentIncludingPopupsAndFileReferences) {
  PDFSettings source;
  source.Orientation.SetSelection(2);
  source.DotgainFile = TavSys::filref("/curves/press.dgc");
  source.CertifiedOutputProfile = TavSys::filref("/profiles/out.icc");
  PDFSettings copy(source);
  EXPECT_TRUE(differences(source, copy).empty());
  copy.Orientation.SetSelection(3);
  copy.DotgainFile.clear();
  EXPECT_EQ(source.Orientation.GetValue(), 2);
  EXPECT_EQ(source.DotgainFile.getFullPathAsUtf8(), "/curves/press.dgc");

  PDFSettings assigned;
  assigned = source;
  PDFSettings& alias = assigned;
  assigned = alias;  // self-assignment keeps the values
  PDFSettings moveAssigned;
  moveAssigned = PDFSettings(std::move(assigned));
  EXPECT_TRUE(differences(source, moveAssigned).empty());
}

TEST(ProcessWideData, DefaultNamesAreRecognizedExactlyOrWithoutCase) {
  for (const char* name : {"DEFAULT", "standard", "d\xC3\xA9" "FAUT", "\xEA\xB8\xB0\xEB\xB3\xB8\xEA\xB0\x92",
                           "\xE3\x83\x87\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x88"}) {
    EXPECT_TRUE(TavPDF::IsDefaultName(name)) << name;
  }
  for (const char* name : {"Default ", "Defaults", ""}) EXPECT_FALSE(TavPDF::IsDefaultName(name)) << name;
}

TEST(FlavourLookup, ByNameWithoutCaseOrByNumberWithThePresetAndTheNumber) {
  const std::pair<const char*, int> found[] = {
      {"normalizedembedded", 9}, {" PRESS ", 1}, {"7", 7}, {"+0", 0}, {"Vistamo", -1}};
  for (const auto& [name, number] : found) {
    ASSERT_NE(TavPDF::FindFlavour(name), nullptr) << name;
    EXPECT_EQ(TavPDF::FindFlavour(name)->number, number) << name;
  }
  // Vistamo has no number of its own.
  for (const char* name : {"-1", "10", "Normalised", ""}) EXPECT_EQ(TavPDF::FindFlavour(name), nullptr) << name;

  const std::pair<const char*, PDFSettings> settings[] = {
      {"Normalized", preset(7, &PDFSettings::SetNormalizedFlavourDefaults)},
      {"6", preset(1, &PDFSettings::SetPressFlavourDefaults)},  // obsolete: comes back as Press
      {"vistamo", preset(0, &PDFSettings::SetVistamoFlavourDefaults)}};
  for (const auto& [name, expected] : settings) {
    EXPECT_EQ(differences(expected, TavPDF::SettingsForFlavour(name)), (std::map<std::string, std::string>{}))
        << name;
  }
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
      {"normalizedoutput=yes", "NormalizedOutput", "1"}, {"IncludeLayers = 0", "IncludeLayers", "0"},
      {"CMYKOnOnePage=true", "CMYKOnOnePage", "1"},  // a field without a preference row
      {"MaxPathSize=+2000", "MaxPathSize", "2000"}, {"SpareSetting1=-7", "SpareSetting1", "-7"},
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
  const std::pair<const char*, const char*> cases[] = {
      {"NoSuchField=1", "PDF/UNKNOWN SETTING"},        {"IncludeLayers", "PDF/BAD SETTING ASSIGNMENT"},
      {"=1", "PDF/BAD SETTING ASSIGNMENT"},            {"IncludeLayers=maybe", "PDF/BAD SETTING VALUE"},
      {"IncludeLayers=2", "PDF/BAD SETTING VALUE"},    {"Flavour=12", "PDF/BAD SETTING VALUE"},
      {"PDFCompatibility=3", "PDF/BAD SETTING VALUE"}, {"MaxPathSize=15", "PDF/BAD SETTING VALUE"},
      {"MaxSize=-1", "PDF/BAD SETTING VALUE"},         {"CompressImages=99999999999", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=nan", "PDF/BAD SETTING VALUE"}, {"VerticalDistortion=100", "PDF/BAD SETTING VALUE"},
      {"VerticalDistortion=1,5", "PDF/BAD SETTING VALUE"}, {"Orientation=4", "PDF/BAD SETTING VALUE"},
      {"Orientation=sideways", "PDF/BAD SETTING VALUE"},   {"DotgainFile=/a\nb", "PDF/BAD SETTING VALUE"},
  };
  for (const auto& [assignment, key] : cases) {
    PDFSettings s = preset(7, &PDFSettings::SetNormalizedFlavourDefaults);
    const PDFSettings before = s;
    try {
      TavPDF::ApplySettingOverride(s, assignment);
      ADD_FAILURE() << assignment << " was accepted";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), key) << assignment;
      EXPECT_FALSE(e.text().empty());
    }
    EXPECT_TRUE(differences(before, s).empty()) << assignment;
  }
}

// What the export refuses: every preset lies within the ranges; a value
// set past them directly (as a flavour file or a host can) is found.
TEST(SettingOverrides, RangesHoldForEveryPresetAndValuesPastThemAreFound) {
  for (const TavPDF::FlavourInfo& flavour : TavPDF::FlavourList()) {
    PDFSettings s = TavPDF::SettingsForFlavour(flavour);
    s.VerifyCompatibility();
    EXPECT_TRUE(TavPDF::SettingsOutOfRange(s).empty()) << flavour.name;
  }
  PDFSettings s = TavPDF::SettingsForFlavour("Press");
  s.VerticalDistortion = -100;
  s.HorizontalDistortion = std::numeric_limits<double>::quiet_NaN();
  s.DownsampleResolution = 0;
  s.Mirror = 2;
  s.MaxPathSize = 16;  // the smallest accepted
  std::vector<std::string> found;
  for (const auto& bad : TavPDF::SettingsOutOfRange(s)) found.push_back(std::string(bad.field->name) + "=" + bad.value);
  EXPECT_EQ(found, (std::vector<std::string>{"VerticalDistortion=-100", "HorizontalDistortion=not a number",
                                             "Mirror=2", "DownsampleResolution=0"}));
}

// The settings record: defaults, flavour presets, PDF version rules,
// distortion accessors, copies and the process-wide data.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "settings/default_names.h"
#include "settings_helpers.h"
#include "tavpdf/PDFSettings.h"

using settingstest::differences;

namespace {

// The fields a preset changes against the common defaults, as differences()
// gives them, from "Field=value ..." (a field named twice: the last wins).
std::map<std::string, std::string> changes(const std::string& assignments) {
  const auto common = settingstest::fieldsOf(PDFSettings());
  std::map<std::string, std::string> out;
  std::istringstream words(assignments);
  for (std::string word; words >> word;) {
    const std::string name = word.substr(0, word.find('='));
    const std::string value = word.substr(word.find('=') + 1);
    out.erase(name);
    if (common.at(name) != value) out[name] = common.at(name) + " -> " + value;
  }
  return out;
}

// The values of the presets, bases first.
const std::string kPress = "IncludeLayers=1 DownsampleResolution=300 DownsampleFromPPI=450 ";
const std::string kNormalized = kPress +
    "NormalizedOutput=1 IncludeScreening=1 UseDefaultScreen=1 PDFCompatibility=2 IncludeLayers=1 "
    "IncludeStandardPreview=0 AddThumbnail=1 SaveImageLinks=1 LinkType=2 UseDownsampling=1 "
    "DownsampleResolution=96 DownsampleFromPPI=144 IncludeVornPreview=1 AddNotes=1 ";
const std::string kSeparated = kPress + "SeparatedOutput=1 OptimizeWhiteObjects=1 ";
const std::string kViewingLike = "UseDownsampling=1 DownsampleResolution=72 DownsampleFromPPI=108 CompressImages=50 ";

}  // namespace

TEST(SettingsRecord, NewRecordHasFlavourOneWithCommonNotPressDefaults) {
  const PDFSettings s;
  EXPECT_EQ(s.Flavour, 1);
  EXPECT_EQ(s.IncludeLayers, 0);
  EXPECT_EQ(s.DownsampleResolution, 144);
  EXPECT_EQ(s.MaxPathSize, 500000);
  EXPECT_EQ(s.SpareSetting2, 100);
  EXPECT_TRUE(s.DotgainFile.empty());
  // The popup items are written into flavour files: values equal indexes.
  EXPECT_EQ(s.Orientation.GetValue(), 1);
  EXPECT_STREQ(s.Orientation.GetItemText(s.Orientation.GetSelection()), "Portrait");
  EXPECT_EQ(s.Orientation.GetItemCount(), 4);
  EXPECT_EQ(s.Orientation.GetItemValue(3), 3);
  EXPECT_EQ(s.ScreenRegistration.GetValue(), 0);
  EXPECT_STREQ(s.ScreenRegistration.GetItemText(1), "Reset for each external file");
}

// Each preset, by its setter and by its number, stores exactly its values
// over the common defaults, whatever the record held before.
TEST(SettingsRecord, EveryPresetStoresExactlyItsValuesOverTheCommonDefaults) {
  const PDFSettings common;
  struct Case {
    std::vector<int> numbers;  // the flavour numbers that reset to this preset
    void (PDFSettings::*setter)();
    std::map<std::string, std::string> expected;
  };
  const Case cases[] = {
      {{0}, &PDFSettings::SetCustomFlavourDefaults, {}},
      {{1, 4, 6}, &PDFSettings::SetPressFlavourDefaults, changes(kPress)},
      {{5}, &PDFSettings::SetJDFFlavourDefaults, changes(kPress + "GenerateJDF=1 JDFCollectMarks=1")},
      {{7}, &PDFSettings::SetNormalizedFlavourDefaults, changes(kNormalized)},
      {{9}, &PDFSettings::SetNormalizedEmbeddedFlavourDefaults,
       changes(kNormalized + "SaveImageLinks=0 LinkType=0 UseDownsampling=0")},
      {{2}, &PDFSettings::SetViewingFlavourDefaults, changes(kViewingLike + "PDFCompatibility=2")},
      {{3}, &PDFSettings::SetReaderFlavourDefaults,
       changes(kViewingLike + "CompressPages=1 PDFCompatibility=1 EnableFlattening=1 FlattenOverprints=1 "
                              "FlattenBlackOverprint=1 IncludeSeparatedPreview=1")},
      {{8}, &PDFSettings::SetSeparatedFlavourDefaults, changes(kSeparated)},
      {{}, &PDFSettings::SetVistamoFlavourDefaults,
       changes(kSeparated + "NormalizedOutput=1 IncludeStandardPreview=0 IncludePreview=0 CompressPages=0 "
                            "CompressImages=1 CMYKOnOnePage=1 AddCMYKSeparations=1")},
  };
  // Left-overs of another preset and of edits must not survive a setter.
  auto messy = [] {
    PDFSettings s;
    s.SetVistamoFlavourDefaults();
    s.GenerateJDF = 1;
    s.Orientation.SetSelection(2);
    s.ScreenRegistration.SetSelection(1);
    s.DotgainFile = TavSys::filref("/curves/dg.crv");
    s.VerticalDistortion = 3;
    s.SpareSetting2 = 7;
    return s;
  };
  for (const Case& c : cases) {
    PDFSettings s = messy();
    (s.*c.setter)();
    EXPECT_EQ(differences(common, s), c.expected) << "preset " << (&c - cases);
    for (int number : c.numbers) {
      PDFSettings byNumber = messy();
      byNumber.ResetFlavourToFactoryDefaults(number);
      EXPECT_EQ(differences(common, byNumber), c.expected) << "flavour " << number;
    }
  }
  // Other numbers leave the record as it was; neither road changes Flavour.
  for (int number : {-1, 10, 1000}) {
    PDFSettings s = messy();
    s.ResetFlavourToFactoryDefaults(number);
    EXPECT_TRUE(differences(messy(), s).empty()) << number;
  }
}

TEST(SettingsRecord, ObsoleteFlavoursFourAndSixBecomePressWhichStillExists) {
  PDFSettings press;
  press.SetPressFlavourDefaults();
  for (int number : {4, 6, 3, 5, -4, 60}) {
    PDFSettings s;
    s.Flavour = number;
    s.SetNormalizedFlavourDefaults();
    const PDFSettings before = s;
    s.CheckForObsoleteFlavours();
    const bool obsolete = number == 4 || number == 6;
    EXPECT_EQ(s.Flavour, obsolete ? 1 : number);
    EXPECT_TRUE(differences(obsolete ? press : before, s).empty()) << number;
  }
  for (int n : {0, 1, 2, 5, 6, 7, 8, 9}) EXPECT_TRUE(TavPDF::FlavourExists(n)) << n;
  for (int n : {3, 4, -1, 10, 255}) EXPECT_FALSE(TavPDF::FlavourExists(n)) << n;
}

TEST(Compatibility, EveryFlavourEndsAtTheVersionItsSettingsNeed) {
  // 3 ends at PDF 1.3, Custom and Viewing at 1.4 (Viewing's preset says 1.5),
  // everything with layers at 1.5.
  const int expected[] = {PDFSettings::kPDF14, PDFSettings::kPDF15, PDFSettings::kPDF14, PDFSettings::kPDF13,
                          PDFSettings::kPDF15, PDFSettings::kPDF15, PDFSettings::kPDF15, PDFSettings::kPDF15,
                          PDFSettings::kPDF15, PDFSettings::kPDF15};
  for (int number = 0; number < 10; ++number) {
    PDFSettings s;
    s.Flavour = number;
    s.ResetFlavourToFactoryDefaults(number);
    s.VerifyCompatibility();
    EXPECT_EQ(s.PDFCompatibility, expected[number]) << "flavour " << number;
  }
  PDFSettings vistamo;
  vistamo.SetVistamoFlavourDefaults();
  vistamo.VerifyCompatibility();
  EXPECT_EQ(vistamo.PDFCompatibility, PDFSettings::kPDF15);
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
  EXPECT_EQ(press.GenerateJDF, 0);
  EXPECT_EQ(press.IncludeLayers, 1);

  PDFSettings s;
  s.Flavour = 7;
  s.SetNormalizedFlavourDefaults();
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

TEST(SettingsRecord, NormalizedOutputHidesTheDistortionFromGeometryOnly) {
  PDFSettings s;
  s.VerticalDistortion = 2.5;
  s.HorizontalDistortion = -1.0;
  EXPECT_EQ(s.GetInternalDistortionV(), 2.5);
  EXPECT_EQ(s.GetInternalDistortionH(), -1.0);
  s.NormalizedOutput = 1;
  EXPECT_EQ(s.GetInternalDistortionV(), 0.0);
  EXPECT_EQ(s.GetInternalDistortionH(), 0.0);
  EXPECT_EQ(s.GetUIDistortionV(), 2.5);
  EXPECT_EQ(s.GetUIDistortionH(), -1.0);
}

TEST(SettingsRecord, CopiesAreIndependentIncludingPopupsAndFileReferences) {
  PDFSettings source;
  source.Orientation.SetSelection(2);
  source.ScreenRegistration.SetSelection(1);
  source.DotgainFile = TavSys::filref("/curves/press.dgc");
  source.CertifiedOutputProfile = TavSys::filref("/profiles/out.icc");
  source.SpareSetting1 = 9;

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

TEST(ProcessWideData, GlobalSettingsAreBuiltAtLoadWithTheCommonDefaults) {
  // The other tests restore what they change, so the global still holds what
  // it got when the program was loaded.
  EXPECT_EQ(PDFSettings::msUseTempFolder, 0);
  EXPECT_TRUE(differences(PDFSettings(), gPDFSettings).empty());
}

TEST(ProcessWideData, DefaultNamesAreRecognizedExactlyOrWithoutCase) {
  ASSERT_EQ(TavPDF::DefaultNameTable.size(), 7u);
  EXPECT_EQ(TavPDF::DefaultNameTable[3], "\xE3\x83\x87\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x88");
  for (const char* name : {"DEFAULT", "standard", "d\xC3\xA9" "FAUT", "\xEA\xB8\xB0\xEB\xB3\xB8\xEA\xB0\x92"}) {
    EXPECT_TRUE(TavPDF::IsDefaultName(name)) << name;
  }
  for (const char* name : {"Default ", "Defaults", ""}) EXPECT_FALSE(TavPDF::IsDefaultName(name)) << name;
}

// The settings record: defaults, flavour presets, PDF version rules,
// distortion accessors, copies and the process-wide data.
#include <gtest/gtest.h>

#include <map>
#include <vector>
#include <string>

#include "settings/default_names.h"
#include "settings_helpers.h"
#include "tavpdf/PDFSettings.h"

using settingstest::differences;

namespace {

// The values every preset stores on top of the common defaults, written out
// from the table of presets (bases included).
const std::map<std::string, std::string> kPress = {
    {"IncludeLayers", "0 -> 1"}, {"DownsampleResolution", "144 -> 300"}, {"DownsampleFromPPI", "216 -> 450"}};

std::map<std::string, std::string> plus(std::map<std::string, std::string> base,
                                        const std::map<std::string, std::string>& more) {
  for (const auto& [k, v] : more) base[k] = v;
  return base;
}

const std::map<std::string, std::string> kNormalized = plus(
    kPress, {{"NormalizedOutput", "0 -> 1"},
             {"IncludeScreening", "0 -> 1"},
             {"UseDefaultScreen", "0 -> 1"},
             {"PDFCompatibility", "0 -> 2"},
             {"IncludeStandardPreview", "1 -> 0"},
             {"AddThumbnail", "0 -> 1"},
             {"SaveImageLinks", "0 -> 1"},
             {"LinkType", "0 -> 2"},
             {"UseDownsampling", "0 -> 1"},
             {"DownsampleResolution", "144 -> 96"},
             {"DownsampleFromPPI", "216 -> 144"},
             {"IncludeVornPreview", "0 -> 1"},
             {"AddNotes", "0 -> 1"}});

const std::map<std::string, std::string> kSeparated =
    plus(kPress, {{"SeparatedOutput", "0 -> 1"}, {"OptimizeWhiteObjects", "0 -> 1"}});

std::map<std::string, std::string> without(std::map<std::string, std::string> base,
                                           std::initializer_list<const char*> names) {
  for (const char* n : names) base.erase(n);
  return base;
}

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
  const std::map<std::string, std::string> viewingLike = {{"UseDownsampling", "0 -> 1"},
                                                          {"DownsampleResolution", "144 -> 72"},
                                                          {"DownsampleFromPPI", "216 -> 108"},
                                                          {"CompressImages", "1 -> 50"}};
  const Case cases[] = {
      {{0}, &PDFSettings::SetCustomFlavourDefaults, {}},
      {{1, 4, 6}, &PDFSettings::SetPressFlavourDefaults, kPress},
      {{5}, &PDFSettings::SetJDFFlavourDefaults,
       plus(kPress, {{"GenerateJDF", "0 -> 1"}, {"JDFCollectMarks", "0 -> 1"}})},
      {{7}, &PDFSettings::SetNormalizedFlavourDefaults, kNormalized},
      {{9}, &PDFSettings::SetNormalizedEmbeddedFlavourDefaults,
       without(kNormalized, {"SaveImageLinks", "LinkType", "UseDownsampling"})},
      {{2}, &PDFSettings::SetViewingFlavourDefaults, plus(viewingLike, {{"PDFCompatibility", "0 -> 2"}})},
      {{3}, &PDFSettings::SetReaderFlavourDefaults,
       plus(viewingLike, {{"PDFCompatibility", "0 -> 1"},
                          {"EnableFlattening", "0 -> 1"},
                          {"FlattenOverprints", "0 -> 1"},
                          {"FlattenBlackOverprint", "0 -> 1"},
                          {"IncludeSeparatedPreview", "0 -> 1"}})},
      {{8}, &PDFSettings::SetSeparatedFlavourDefaults, kSeparated},
      {{}, &PDFSettings::SetVistamoFlavourDefaults,
       plus(kSeparated, {{"NormalizedOutput", "0 -> 1"},
                         {"IncludeStandardPreview", "1 -> 0"},
                         {"IncludePreview", "1 -> 0"},
                         {"CompressPages", "1 -> 0"},
                         {"CMYKOnOnePage", "0 -> 1"},
                         {"AddCMYKSeparations", "0 -> 1"}})},
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

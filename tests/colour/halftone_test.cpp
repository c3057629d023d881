// Halftones of screens: the Type 5 dictionary with a Type 1 halftone per ink,
// the substitutions for values without a PDF form (and their messages), the
// private keys of normalized output and the extended dictionary; dot-gain
// transfer functions and the names of the built-in screening curves.
#include <gtest/gtest.h>

#include <regex>

#include "colour/halftone.h"
#include "colour/transfer.h"
#include "colour_support.h"
#include "platform/kernel/screening.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "tavpdf/PDFSettings.h"

namespace colourtest {
namespace {

using namespace TavPDF;

// What lies at a path of keys below a value ("Cyan/Frequency"), through
// indirect references, as PDF syntax without the sink's trailing blanks;
// "-" when missing.
std::string at(PDFDictionaryValue* value, const std::string& path) {
  for (std::size_t start = 0; value != nullptr && start < path.size();) {
    if (auto* ref = dynamic_cast<PDFIndirectReference*>(value)) {
      value = ref->GetObject();
      continue;
    }
    const std::size_t end = std::min(path.find('/', start), path.size());
    auto* dictionary = dynamic_cast<PDFDictionary*>(value);
    value = dictionary ? dictionary->Get(path.substr(start, end - start)) : nullptr;
    start = end + 1;
  }
  return value == nullptr ? "-" : std::regex_replace(Serialise(value), std::regex(" +(\n|$)"), "$1");
}

class HalftoneTest : public ColourTest {
 protected:
  void SetUp() override {
    ColourTest::SetUp();
    settings.SetCommonDefaults();
    pdf.handler()->mSettings = &settings;
  }
  Screen& screen(jobstr& job, int id, Screen::Kind kind) {
    job.screens.resize(std::size_t(id) + 1);
    Screen& s = job.screens[std::size_t(id)];
    s.exists = true;
    s.kind = kind;
    s.name = "Screen " + std::to_string(id);
    return s;
  }
  PDFDictionary* build(jobstr& job, int id) {
    return BuildSeparationHalftone(pdf.handler(), nullptr, &job, id, settings, &angleShown);
  }

  PDFSettings settings;
  MemoryPdf pdf;
  bool angleShown = false;
  TavGen::MessageCapture messages;
};

TEST_F(HalftoneTest, AClassicScreenGivesOneHalftonePerInkAndTheDefault) {
  auto job = MakeJob(ProcessInks());
  Screen& s = screen(*job, 1, Screen::kClassic);
  s.ruling = 133.3333;
  s.angle.fill(75);
  PDFDictionary* ht = build(*job, 1);
  EXPECT_EQ(at(ht, "Type") + at(ht, "HalftoneType") + at(ht, "Yellow/Type") + at(ht, "Yellow/HalftoneType"),
            "/Halftone5/Halftone1");
  EXPECT_EQ(at(ht, "Yellow/Frequency") + " " + at(ht, "Yellow/Angle"), "133.333 75");
  EXPECT_EQ(Serialise(ht->Get("Default")), Serialise(ht->Get("Cyan")));
  EXPECT_TRUE(messages.messages().empty());

  // Unknown rulings and angles take defaults and are said once.
  auto mixed = MakeJob(MixedInks());  // C M Y K Orange Green Violet
  Screen& unknown = screen(*mixed, 1, Screen::kClassic);
  unknown.angle.fill(30);
  unknown.angle[1] = unknown.angle[4] = -360;  // Magenta and Orange
  for (int round = 0; round < 2; ++round) {
    ht = build(*mixed, 1);
    EXPECT_EQ(at(ht, "Cyan/Frequency") + " " + at(ht, "Magenta/Angle") + " " + at(ht, "Orange/Angle") + " " +
                  at(ht, "Green/Angle"),
              "120 75 45 30");
  }
  EXPECT_EQ(messages.count("PDF/UNKNOWN RULING WAS REPLACED BY"), 1);
  EXPECT_EQ(messages.count("PDF/UNKNOWN ANGLE WAS REPLACED BY DEFAULT"), 1);
}

TEST_F(HalftoneTest, DotShapesWithoutAPdfSpotFunctionFallBackToARoundDot) {
  struct Case {
    int code;
    const char* custom;
    const char* spot;   // the SpotFunction, "stream" for a Type 4 function
    const char* key;    // VornPNDSN
    bool message;
  } cases[] = {
      {2, "", "/EllipseB", "/None", false},
      {4, "", "/LineX", "/None", false},
      {9, "", "stream", "/None", false},                        // Euclidean, a calculator program
      {20, "", "/SimpleDot", "/TavChain", false},               // a named dot of the workflow
      {99, " { exch pop abs neg }", "stream", "/None", false},  // the user's program
      {99, "Grain 2", "/SimpleDot", "/Grain#202", false},       // the user's named dot
      {99, "{ 1 dict begin pop pop 0 end }", "/SimpleDot", "/None", true},
      {99, "{ exch pop abs neg", "/SimpleDot", "/None", true},
      {99, "", "/SimpleDot", "/None", true},
      {77, "", "/SimpleDot", "/None", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + c.custom);
    auto job = MakeJob({{"Cyan", 0}});
    Screen& s = screen(*job, 1, Screen::kClassic);
    s.dotShape = c.code;
    s.customSpot = c.custom;
    s.ruling = 150;
    s.name = c.custom;  // each message is said once per document and screen
    TavGen::MessageCapture said;
    PDFDictionary* ht = build(*job, 1);
    const std::string spot = at(ht, "Cyan/SpotFunction");
    EXPECT_EQ(spot.ends_with(" 0 R") ? "stream" : spot, c.spot);
    EXPECT_EQ(at(ht, "Cyan/VornPNDSN"), c.key);
    EXPECT_EQ(said.count("PDF/UNSUPPORTED DOTSHAPE REPLACED BY DEFAULT"), c.message ? 1 : 0);
  }
}

TEST_F(HalftoneTest, ProcessInksAreAddedToACompositePageWithAddCMYKSeparations) {
  auto job = MakeJob({{"Orange", -1, {0, 50, 100, 0}}, {"Black", 3}});
  screen(*job, 1, Screen::kNamedDot).ruling = 150;
  settings.AddCMYKSeparations = 1;
  PDFDictionary* ht = build(*job, 1);
  EXPECT_EQ(at(ht, "Black/Frequency"), "150");  // the job's own ink keeps its screen
  const std::pair<const char*, const char*> added[] = {{"Cyan", "15"}, {"Magenta", "75"}, {"Yellow", "0"}};
  for (const auto& [ink, angle] : added) {
    EXPECT_EQ(at(ht, std::string(ink) + "/Frequency") + " " + at(ht, std::string(ink) + "/Angle"),
              std::string("120 ") + angle);
  }
  settings.SeparatedOutput = 1;
  EXPECT_EQ(at(build(*job, 1), "Cyan"), "-");
}

TEST_F(HalftoneTest, NormalizedOutputKeepsTheScreensOwnDotAndCurves) {
  settings.NormalizedOutput = 1;
  auto job = MakeJob({{"Cyan", 0}, {"Orange", -1, {0, 50, 100, 0}}, {"Green", -1, {80, 0, 100, 0}}});
  Screen& named = screen(*job, 1, Screen::kNamedDot);
  named.dotName = "Chain";
  named.ruling = 120;
  named.pressCurves[0] = {"tonematch_Flexo", 2};
  named.pressCurves[1] = {"Pliometer_50", 0};
  PDFDictionary* ht = build(*job, 1);
  EXPECT_EQ(at(ht, "Cyan/Vorn_ExtHT"), "<<\n/DotName /Chain\n/Tonematch /Flexo2\n>>");
  EXPECT_EQ(at(ht, "Orange/Vorn_ExtHT/DGC") + at(ht, "Green/Vorn_ExtHT/DGC"), "/Pliometer_50-");

  Screen& ext = screen(*job, 2, Screen::kExtended);
  ext.angle.fill(15);
  ext.angle[1] = -360;
  ext.extended.emplace();
  ext.extended->AngleFamily = "Classic";
  ext.extended->DotShape = "Ellipse30";
  ext.extended->ExtraCurve = "Petrotone_30";
  ext.extended->CellType = "Centred";
  ht = build(*job, 2);
  // Without a ruling, 120; an unknown angle, the ink's default.
  EXPECT_EQ(at(ht, "Cyan/Frequency") + " " + at(ht, "Orange/Angle"), "120 45");
  EXPECT_EQ(at(ht, "Cyan/SpotFunction"), "/Ellipse");
  EXPECT_EQ(at(ht, "Cyan/VornPNDSN"), "/ELL");
  EXPECT_EQ(at(ht, "Cyan/QEL_Halftone/Type"), "/QEL_Halftone");
  EXPECT_EQ(at(ht, "Cyan/Vorn_ExtHT/DotName"), "/ELL");
  for (const char* key : {"PDF/UNKNOWN RULING WAS REPLACED BY", "PDF/UNKNOWN ANGLE WAS REPLACED BY DEFAULT",
                          "PDF/UNSUPPORTED ORVEX EXTENDED PARAMETER", "PDF/UNSUPPORTED CUTBACK CURVE"}) {
    EXPECT_EQ(messages.count(key), 1) << key;
  }
  // An FM family writes 120 whatever the ruling; a dot without a short name
  // is said and marked /None.
  ext.extended->AngleFamily = "FM Stochastic";
  ext.extended->DotShape = "Oval";
  ext.extended->Ruling = 200;
  ht = build(*job, 2);
  EXPECT_EQ(at(ht, "Cyan/Frequency") + " " + at(ht, "Cyan/VornPNDSN"), "120 /None");
  EXPECT_EQ(messages.count("PDF/UNSUPPORTED DOTSHAPE REPLACED BY DEFAULT"), 1);
  // Without values for the first ink there is no halftone.
  ext.extended.reset();
  EXPECT_EQ(build(*job, 2), nullptr);
}

TEST_F(HalftoneTest, TheDefaultHalftoneAlwaysHasADefault) {
  auto job = MakeJob({{"Magenta", 1}, {"Orange", -1, {0, 50, 100, 0}}});
  PDFDictionary* ht = BuildDefaultHalftone(pdf.handler(), job.get(), settings);
  EXPECT_EQ(at(ht, "Magenta/Angle") + " " + at(ht, "Orange/Angle") + " " + at(ht, "Default/Angle"), "75 45 75");
  job->separations[0].used = job->separations[1].used = false;
  EXPECT_EQ(at(BuildDefaultHalftone(pdf.handler(), job.get(), settings), "Default/Frequency"), "120");
}

TEST(ExtendedHalftone, KeysFollowTheFamilyHybridRangeAndShape) {
  using Set = void (*)(ScreeningDictionary&);
  const struct {
    Set set;
    const char* key;
    const char* expected;
  } cases[] = {
      {[](ScreeningDictionary& v) { v.Ruling = 150; }, "Ruling", "150"},
      {[](ScreeningDictionary& v) { v.AngleFamily = "fM 21", v.Ruling = 150; }, "Ruling", "-"},
      {[](ScreeningDictionary& v) { v.ExtraCurve = "Linear"; }, "ExtraCurve", "/Linear"},
      {[](ScreeningDictionary& v) { v.ExtraCurve = "linear"; }, "ExtraCurve", "(linear)"},
      {[](ScreeningDictionary& v) { v.HybridType = "Off"; }, "Hybrid", "-"},
      {[](ScreeningDictionary& v) { v.HybridType = "off"; }, "Hybrid/HybridType", "/off"},
      {[](ScreeningDictionary& v) { v.CellType = "Square", v.CellSize = 4; }, "PlateCell",
       "<<\n/CellSize 4\n/CellType (Square)\n>>"},
      {[](ScreeningDictionary& v) { v.EndAdjust = "MinAndMax", v.MinDotValue = 2; }, "OptiRange/MinDotValue", "2"},
      // A full hybrid leaves the minimum to the hybrid: only the maximum.
      {[](ScreeningDictionary& v) { v.EndAdjust = "MinAndMax", v.HybridType = "H", v.QuantumPoint = 3; },
       "OptiRange/MinDotValue", "-"},
      {[](ScreeningDictionary& v) { v.EndAdjust = "MinAndMax", v.HybridType = "H", v.FMMinDot = 2, v.AMStart = 5; },
       "OptiRange/MaxDotValue", "-1"},
      {[](ScreeningDictionary& v) { v.HybridType = "H", v.FMMinDot = 2; }, "Hybrid/AMStart", "-"},
      {[](ScreeningDictionary& v) { v.DotShape = "concentric 2", v.Grade = 3; }, "Concentric/Grade", "3"},
  };
  for (const auto& c : cases) {
    ScreeningDictionary values;
    c.set(values);
    PDFDictionary target;
    EXPECT_TRUE(BuildExtendedHalftoneDictionary(&target, values));
    EXPECT_EQ(at(&target, c.key), c.expected) << c.key;
    EXPECT_EQ(at(&target, "HalftoneType"), "2003");
  }
}

TEST(NamedHalftones, TheDefaultIsTheFirstDefaultNameExactlyThenIgnoringCase) {
  struct Case {
    std::vector<std::string> names;
    std::size_t marked;
  } cases[] = {{{"Screen A", "d\xC3\xA9" "faut"}, 1},  // "défaut" for "Défaut"
               {{"Default", "Standard"}, 0}, {{"standard", "Defecto"}, 1}, {{"Screen A", "Screen B"}, 0}, {{}, 0}};
  for (const Case& c : cases) {
    std::vector<std::pair<std::string, PDFIndirectReference*>> list;
    for (const std::string& name : c.names) list.emplace_back(name, nullptr);
    PDFDictionary catalog;
    BuildNamedHalftoneArray(&catalog, list);
    auto* array = dynamic_cast<PDFArray*>(catalog.Get("Vorn_HTs"));
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), c.names.size());
    for (std::size_t i = 0; i < array->Size(); ++i) {
      EXPECT_EQ(at(array->Get(i), "Default"), i == c.marked ? "true" : "-") << c.names[i];
    }
  }
  EXPECT_FALSE(isDefaultName("default"));
  EXPECT_TRUE(isDefaultNameIgnoreCase("DEFAULT"));
}

TEST(Type4Programs, OnlyCalculatorProgramsAreAccepted) {
  const std::pair<const char*, bool> cases[] = {
      {"{ abs exch abs 2 copy lt { exch } if pop neg }", true}, {"{dup mul exch dup mul add 1 exch sub}", true},
      {"  { 1 2 gt { 1 } { -0.5e1 } ifelse exch pop }  \n", true}, {"{ }", true}, {"{ 0.5 .5 5. +5 -5 1e3 }", true},
      // Unbalanced, a trailing brace, two programs, a procedure without if, if
      // after two procedures, ifelse after one, not calculator operators.
      {"{ 1 2 add", false}, {"{ 1 } }", false}, {"{ 1 } { 2 }", false}, {"{ 1 { 2 } }", false},
      {"{ true { 1 } { 2 } if }", false}, {"{ true { 1 } ifelse }", false}, {"{ 1 dict begin end }", false},
      {"{ 1..2 }", false}, {"{ 16#FF }", false}, {"abs", false},
  };
  for (const auto& [text, ok] : cases) EXPECT_EQ(IsType4Program(text), ok) << text;
  EXPECT_FALSE(IsType4Program(std::string(500, '{') + std::string(500, '}')));
}

using TransferTest = ColourTest;

TEST_F(TransferTest, TheFunctionHoldsTheTurnedTableAsBytes) {
  tavtest::TestFolder dir;
  auto job = MakeJob({{"Cyan", 0}, {"Magenta", 1}, {"Orange", -1, {0, 50, 100, 0}}});
  tavtest::writeFile(dir / "curves.txt", "tavpdf-dotgain 1\ncurve Cyan linear\n0 0\n100 100\n"
                                         "curve Magenta linear\n0 0\n100 75\n");
  const TavSys::filref file((dir / "curves.txt").string());
  MemoryPdf pdf;
  for (int sep : {0, 1, 2}) BuildDotgainTransferFunction(pdf.handler(), job.get(), file, sep);

  // The identity stays the identity: byte k is k.
  std::string identity;
  for (int k = 0; k < 256; ++k) identity += char(k);
  EXPECT_EQ(pdf.streamData(pdf.handler()->mTransferFunctions[0]), identity);
  // Full ink giving 75 %: no ink (the complement 1) stays 1, full ink (0)
  // becomes 0.25.
  const auto& samples = pdf.handler()->mDotGainSamples[1];
  EXPECT_EQ(samples[0], 64);
  EXPECT_EQ(samples[255], 255);
  EXPECT_EQ(pdf.streamData(pdf.handler()->mTransferFunctions[1]).front(), char(64));
  // An ink without a curve has no function.
  EXPECT_EQ(pdf.handler()->mTransferFunctions[2], nullptr);
}

TEST(CurveNames, BuiltInAndPressCurvesAreNotCustom) {
  const std::pair<const char*, bool> cases[] = {
      {"Linear", false},      {"RIPDefault", false},  {"Pliometer_20", false}, {"Petrotone_21", false},
      {"Tonematch_Coated", false}, {"Tonematch_", false}, {"linear", true},   {"Pliometer_21", true},
      {"tonematch_Coated", true},  {"", true}};
  for (const auto& [name, custom] : cases) EXPECT_EQ(IsCustomCurveName(name), custom) << name;
}

}  // namespace
}  // namespace colourtest

// The parameter dictionary a barcode form carries for the workflow, and the
// check that decides whether a barcode may become a barcode form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "pagewriter/barcodes.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/kernel/barcode.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"

using nlohmann::json;
using namespace TavPDF;

namespace {

// A job of `ppi` units per inch with one barcode group.
std::unique_ptr<jobstr> jobWith(const json& barcode, int ppi = 1000, const json& more = json::object()) {
  json b = barcode;
  b["paint"] = 10;
  json j = {{"ppi", ppi},
            {"boxes", {{"media", {0, 0, 20 * ppi, 20 * ppi}}}},
            {"inks", {{{"name", "Black"}, {"process", "black"}}}},
            {"colours", {{{"id", 1}, {"inks", {{"Black", 100}}}}}},
            {"paints", {{{"id", 10}, {"type", "flat"}, {"colour", 1}}}},
            {"objects", {{{"kind", "group"}, {"at", {ppi, ppi}}, {"barcode", b}}}}};
  j.update(more);
  return TavKernel::loadJobFromMemory(j.dump(), std::filesystem::temp_directory_path(), "t.json");
}

struct Written {
  std::map<std::string, PDFDictionaryValue*> keys;
  std::vector<std::string> messages;
  bool has(const std::string& key) const { return keys.count(key) != 0; }
  double number(const std::string& key) const {
    auto it = keys.find(key);
    if (it == keys.end()) ADD_FAILURE() << "no " << key;
    if (auto* r = dynamic_cast<PDFReal*>(it->second)) return r->GetValue();
    if (auto* i = dynamic_cast<PDFInteger*>(it->second)) return double(i->GetValue());
    ADD_FAILURE() << key << " is not a number";
    return NAN;
  }
  std::string text(const std::string& key) const {
    auto* s = dynamic_cast<PDFString*>(keys.at(key));
    return s ? std::string(reinterpret_cast<const char*>(s->GetBytes())) : "(not a string)";
  }
};

Written parametersOf(jobstr& job, double angle = 0) {
  TavGen::MessageCapture capture;
  const TavDB::Object* group = jobGetSpahan(&job)->member(0);
  auto* dict = new PDFDictionary();
  writeBarcodeParameters(&job, group, *GetBarcodeCreator(group), angle, dict);
  Written w;
  for (const auto& [key, value] : dict->GetEntries()) w.keys[key] = value;
  for (const auto& m : capture.messages()) w.messages.push_back(m.key);
  return w;
}

class BarcodeParameters : public ::testing::Test {
 protected:
  void TearDown() override { PdfObjectRegistry::deleteAll(); }
};

}  // namespace

TEST_F(BarcodeParameters, ValuesFollowTheSymbologyMagnificationAndResolution) {
  const struct {
    json barcode;
    std::vector<std::pair<const char*, double>> numbers;
    std::vector<std::pair<const char*, const char*>> texts;
  } cases[] = {
      // 10 units at 1000 ppi are 0.254 mm.
      {{{"symbology", "QR"}, {"data", "x"}, {"moduleSize", 10}, {"errorCorrection", 2}},
       {{"QRCellSize", 0.254}, {"ErrorCorrection", 2}, {"Version", 8}, {"Magnification", 1.0}},
       {{"Type", "QR"}, {"Code", "x"}, {"Font", "OCR-B"}}},
      // No height: the symbology's own, 25.93 mm at 100 %.
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"magnification", 1}},
       {{"YSize", double(float(25.93))}, {"GenerateText", 1}, {"Resolution", 0}, {"DeviceCompensation", 0}},
       {{"Type", "EAN-13"}}},
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"magnification", 0.8}, {"hideText", true}},
       {{"YSize", 0.8 * double(float(24.5))}, {"GenerateText", 0}},
       {}},
      // A given height less the text's share.
      {{{"symbology", "UPC-A"}, {"data", "03600029145"}, {"barHeight", 1000}},
       {{"YSize", 25.4 - double(float(0.362))}},
       {{"Type", "UPC-A"}}},
      // Code 39 of its default size has its own narrow bar and quiet zone.
      {{{"symbology", "CODE-39"}, {"data", "AB"}, {"quietZone", true}},
       {{"Narrow", double(float(0.191))}, {"Ratio", double(float(2.24))}, {"WhiteBox", 1},
        {"WhiteBoxLeft", double(float(2.09))}, {"YSize", double(float(7.6))}},
       {}},
      {{{"symbology", "CODE-39"}, {"data", "AB"}, {"magnification", 2}},
       {{"Narrow", 2 * double(float(0.3005))}, {"CharPerUnit", double(float(0.2293578)) / 2}},
       {}},
      // A zero magnification is the default, not an infinite size.
      {{{"symbology", "CODE-128"}, {"data", "AB"}, {"magnification", 0}},
       {{"Magnification", 1.0}, {"CharPerUnit", double(float(0.0909091))}},
       {}},
      {{{"symbology", "CODE-128"}, {"data", "AB"}, {"magnification", 0.5}},
       {{"Ratio", 3.0}, {"CharPerUnit", double(float(0.0909091)) / 0.5}, {"Narrow", 0.5}, {"Version", 8}},
       {{"CompositeComponent", ""}}},
      {{{"symbology", "INT_2_OF_5"}, {"data", "1234"}, {"checkDigit", true}, {"quietZone", true},
        {"barWidthReduction", 20}},
       {{"AddCheckDigit", 1}, {"BarWidthReduction", 0.508}, {"WhiteBoxRight", double(float(0.729)) + 0.508},
        {"WhiteBoxBottom", double(float(6.7))}},
       {}},
      {{{"symbology", "LAETUS_PHARMA"}, {"data", "1234"}, {"type", 27}},
       {{"Miniature", 1}, {"Narrow", double(float(0.35))}, {"BarWidthReduction", 0.0}},
       {}},
      {{{"symbology", "DATAMATRIX"}, {"data", "x"}, {"moduleSize", 20}, {"dataMatrixType", "square"},
        {"symbolSize", 3}},
       {{"Narrow", 0.508}, {"MinSymbolSize", 3}},
       {{"SymbolType", "Square"}}},
      {{{"symbology", "ITF-14"}, {"data", "1234567890123"}},
       {{"WhiteBox", 1}, {"WhiteBoxStrokeWidth", 0.0}},
       {{"TextFormat", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.barcode.dump());
    auto job = jobWith(c.barcode);
    const Written w = parametersOf(*job, 12.5);
    EXPECT_DOUBLE_EQ(w.number("Angle"), 12.5);
    for (const auto& [key, value] : c.numbers) EXPECT_NEAR(w.number(key), value, 1e-9) << key;
    for (const auto& [key, value] : c.texts) EXPECT_EQ(w.text(key), value) << key;
    for (const auto& [key, value] : w.keys)
      if (auto* r = dynamic_cast<PDFReal*>(value)) {
        EXPECT_TRUE(std::isfinite(r->GetValue())) << key;
      }
  }
}

TEST_F(BarcodeParameters, UnsupportedFeaturesAreReportedAndTheDictionaryCompleted) {
  const struct {
    json barcode;
    std::vector<std::string> messages;
  } cases[] = {
      {{{"symbology", "CODE-39"}, {"data", "AB"}, {"lightMarginIndicator", true}},
       {"PDF/BARCODE/CODE39 LMI NOT SUPPORTED"}},
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"cornerMarks", true}, {"borders", true},
        {"leftAngularBracket", true}},
       {"PDF/BARCODE/CORNER MARKS NOT SUPPORTED", "PDF/BARCODE/BORDERS NOT SUPPORTED",
        "PDF/BARCODE/LEFT ANGULAR BRACKET NOT SUPPORTED"}},
      // A right margin beyond the symbology's own with the indicator.
      {{{"symbology", "EAN-8"}, {"data", "1234567"}, {"lightMarginIndicator", true}, {"rightMargin", 200}},
       {"PDF/BARCODE/LIGHT MARGIN INDICATOR POSITION"}},
      {{{"symbology", "GS1_DataBar-Expanded"}, {"data", "(01)98898765432106"}, {"quietZone", true}},
       {"PDF/BARCODE/GS1 DATABAR CLEAR AREA BOX", "PDF/BARCODE/GS1 DATABAR HEIGHT"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.barcode.dump());
    auto job = jobWith(c.barcode);
    const Written w = parametersOf(*job);
    EXPECT_THAT(w.messages, ::testing::UnorderedElementsAreArray(c.messages));
    EXPECT_TRUE(w.has("Version"));
  }
  auto lmi = jobWith({{"symbology", "CODE-39"}, {"data", "AB"}, {"lightMarginIndicator", true}});
  EXPECT_EQ(parametersOf(*lmi).number("LightMarginIndicator"), 1);
  // A job made by version 16 or later has no height to warn about.
  auto recent = jobWith({{"symbology", "GS1_DataBar-Expanded"}, {"data", "(01)98898765432106"}}, 1000,
                        {{"creatorVersion", {16, 0, 0}}});
  EXPECT_TRUE(parametersOf(*recent).messages.empty());
}

TEST_F(BarcodeParameters, AnInstalledFontIsNamedWithItsFamilyAndStyle) {
  auto job = jobWith({{"symbology", "CODE-128"}, {"data", "AB"}, {"magnification", 0.5},
                      {"font", "NimbusSans-Bold"}});
  const Written w = parametersOf(*job);
  EXPECT_EQ(w.number("DefaultFont"), 0);
  EXPECT_EQ(w.text("Font"), "Helvetica");
  EXPECT_EQ(w.text("FontFamily"), "Nimbus Sans");
  EXPECT_EQ(w.text("FontStyle"), "Bold");
  EXPECT_GT(w.number("FontSize"), 0);
  EXPECT_LT(w.number("PrimaryVerOffset"), w.number("YSize"));
  EXPECT_EQ(w.number("Version"), 5);
}

TEST_F(BarcodeParameters, OnlyUnmodifiedSupportedBarcodesBecomeForms) {
  const struct {
    json barcode;
    bool form;
    bool message;
  } cases[] = {
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}}, true, false},
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"edited", true}}, false, true},
      {{{"symbology", "GS1_DataBar-14"}, {"data", "0950110153000"}, {"dataBarForm", "truncated"}}, false, false},
      {{{"symbology", "GS1_DataBar-14"}, {"data", "0950110153000"}, {"dataBarForm", "stackedOmni"}}, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.barcode.dump());
    auto job = jobWith(c.barcode);
    TavGen::MessageCapture capture;
    EXPECT_EQ(CheckBarcodeUnmodified(jobGetSpahan(job.get())->member(0)), c.form);
    EXPECT_EQ(capture.has("PDF/BARCODE/MODIFIED BARCODE DETECTED"), c.message);
  }
  auto plain = jobWith({{"symbology", "QR"}, {"data", "x"}});
  EXPECT_FALSE(CheckBarcodeUnmodified(jobGetSpahan(plain.get())));  // no creator
  auto stacked = jobWith({{"symbology", "GS1_DataBar-14_Stacked_Omni"}, {"data", "0950110153000"}});
  EXPECT_EQ(parametersOf(*stacked).text("Type"), "GS1_DataBar-14_Stacked_Omni");
}

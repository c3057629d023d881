// Barcodes in the job file: the creator's record, the symbol libzint draws
// in job units, and data a symbology cannot hold refused with the place and
// libzint's reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/kernel/barcode.h"
#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"

using nlohmann::json;

namespace {

// A 2540 ppi job (hundredths of a millimetre) holding one barcode group.
json jobWith(const json& barcode, const json& group = json::object()) {
  json g = {{"kind", "group"}, {"at", {1000, 2000}}, {"barcode", barcode}};
  g.update(group);
  return {{"ppi", 2540},
          {"boxes", {{"media", {0, 0, 20000, 20000}}}},
          {"inks", {{{"name", "Black"}, {"process", "black"}}}},
          {"colours", {{{"id", 1}, {"inks", {{"Black", 100}}}}}},
          {"paints", {{{"id", 10}, {"type", "flat"}, {"colour", 1}}}},
          {"objects", {g}}};
}

std::unique_ptr<jobstr> load(const json& j) {
  return TavKernel::loadJobFromMemory(j.dump(), std::filesystem::temp_directory_path(), "t.json");
}

std::string refusalOf(const json& j) {
  try {
    load(j);
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "JOB/BAD JOB FILE");
    return e.detail();
  }
  return "loaded";
}

const TavDB::Object* barcodeGroup(const jobstr& job) { return jobGetSpahan(&job)->member(0); }

}  // namespace

TEST(BarcodeJob, DataASymbologyCannotHoldIsRefusedWithThePlaceAndTheReason) {
  const json ean = {{"symbology", "EAN-13"}, {"paint", 10}};
  auto with = [&](json extra) {
    json b = ean;
    b.update(extra);
    return jobWith(b);
  };
  const struct {
    json job;
    const char* place;
    const char* reason;
  } cases[] = {
      {with({{"data", "5012345678901"}}), "/objects/0/barcode/data", "check digit"},
      {with({{"data", "1234567"}}), "/objects/0/barcode/data", "EAN-13 takes 12 or 13 digits"},
      {with({{"data", "12345678901a"}}), "/objects/0/barcode/data", "EAN-13 takes 12 or 13 digits"},
      {with({{"data", std::string(256, '1')}}), "/objects/0/barcode/data", "longer than 255 bytes"},
      {with({{"data", "501234567890"}, {"symbology", "EAN-15"}}), "/objects/0/barcode/symbology",
       "unknown symbology"},
      {with({{"data", "501234567890"}, {"type", 7}}), "/objects/0/barcode/type", "not one of EAN-13"},
      {with({{"data", "501234567890"}, {"barWidthReduction", 40}}), "/objects/0/barcode/data",
       "bar width reduction"},
      {jobWith({{"symbology", "GS1_128"}, {"data", "(01)12345"}, {"paint", 10}}), "/objects/0/barcode/data",
       "Error"},
      {jobWith({{"symbology", "LAETUS_PHARMA"}, {"data", "2"}, {"paint", 10}}), "/objects/0/barcode/data",
       "Data out of range"},
      {jobWith({{"symbology", "ITF-16"}, {"data", "1234567890123456"}, {"paint", 10}}),
       "/objects/0/barcode/symbology", "libzint cannot draw ITF-16"},
      {jobWith({{"symbology", "GS1_DataBar-14"}, {"data", "0950110153000"}, {"paint", 10},
                {"cornerMarks", true}}),
       "/objects/0/barcode/cornerMarks", "no corner marks"},
      {jobWith({{"symbology", "QR"}, {"data", "x"}, {"paint", 10}, {"angle", 90}},
               {{"matrix", {1, 0, 0, 1}}}),
       "/objects/0/barcode/angle", "not both"},
      {jobWith({{"symbology", "QR"}, {"data", "x"}}), "/objects/0/barcode", "missing \"paint\""},
      // GS1 element check digits: GTIN, SSCC and location number, anywhere in the data.
      {jobWith({{"symbology", "GS1_128"}, {"data", "(01)09501101530004"}, {"paint", 10}}),
       "/objects/0/barcode/data", "the check digit of (01)09501101530004 is 4, where 3 belongs"},
      {jobWith({{"symbology", "GS1_DataMatrix"}, {"data", "(10)AB12(00)106141411234567891"}, {"paint", 10}}),
       "/objects/0/barcode/data", "(00)106141411234567891 is 1, where 7 belongs"},
      {jobWith({{"symbology", "GS1_DataBar-Expanded"}, {"data", "(414)9501101530002"}, {"paint", 10}}),
       "/objects/0/barcode/data", "where 3 belongs"},
      // The human-readable digits need their font, as a text run does.
      {jobWith({{"symbology", "EAN-13"}, {"data", "501234567890"}, {"paint", 10}, {"font", "NoSuchFont"}}),
       "/objects/0/barcode/font", "the font \"NoSuchFont\" is not installed"},
  };
  for (const auto& c : cases) {
    const std::string detail = refusalOf(c.job);
    EXPECT_THAT(detail, ::testing::HasSubstr(std::string(c.place) + ": ")) << c.job.dump();
    EXPECT_THAT(detail, ::testing::HasSubstr(c.reason)) << c.job.dump();
  }
}

// libzint is loaded when a job first checks a barcode. When it cannot be
// loaded, or lacks a function the creator calls, the barcode is refused with
// its place and the loader's reason; with the library back the job loads.
TEST(BarcodeJob, BarcodesWithoutTheirEncoderLibraryAreRefusedWithThePlaceAndWhy) {
  const json job = jobWith({{"symbology", "QR"}, {"data", "tavpdf"}, {"paint", 10}});
  struct LibraryKept {  // the build's libzint back, whatever the cases do
    std::string name = BarcodeEncoderLibrary();
    ~LibraryKept() { SetBarcodeEncoderLibrary(name); }
  } kept;
  const struct {
    const char* library;
    const char* reason;
  } cases[] = {
      {"libtavpdf-no-zint.so.0", "libtavpdf-no-zint.so.0"},
      {"libz.so.1", "ZBarcode_Create"},
  };
  for (const auto& c : cases) {
    SetBarcodeEncoderLibrary(c.library);
    const std::string detail = refusalOf(job);
    EXPECT_THAT(detail, ::testing::HasSubstr("/objects/0/barcode/data: ")) << c.library;
    EXPECT_THAT(detail, ::testing::HasSubstr(c.reason)) << c.library;
  }
  SetBarcodeEncoderLibrary(kept.name);
  EXPECT_EQ(refusalOf(job), "loaded");
}

TEST(BarcodeJob, SoundGS1DataAndAHiddenTextInAMissingFontAreLoaded) {
  for (const json& barcode :
       {json{{"symbology", "GS1_128"}, {"data", "(01)09501101530003(10)AB12"}, {"paint", 10}},
        json{{"symbology", "GS1_DataMatrix"}, {"data", "(00)106141411234567897(414)9501101530003"}, {"paint", 10}},
        json{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"paint", 10}, {"font", "NoSuchFont"},
             {"hideText", true}}}) {
    EXPECT_EQ(refusalOf(jobWith(barcode)), "loaded") << barcode.dump();
  }
}

TEST(BarcodeJob, TheCreatorDrawsWhiteBoxBarsAndTextInJobUnits) {
  auto job = load(jobWith({{"symbology", "EAN-13"}, {"data", "501234567890"}, {"paint", 10},
                           {"magnification", 1}, {"whiteBox", true}}));
  const TavDB::Object* group = barcodeGroup(*job);
  const barCreator* creator = GetBarcodeCreator(group);
  ASSERT_NE(creator, nullptr);
  EXPECT_TRUE(creator->GetType() == 6 && creator->GetCode() == "501234567890" && !HasBarcodeEditCreator(group));
  // White box first (a rectangle, knocking out), then the bars, then the
  // human-readable digits in the stand-in font.
  ASSERT_GE(group->memberCount(), 3u);
  const TavDB::Object* box = group->member(0);
  ASSERT_EQ(box->kind(), TavDB::ObjectKind::Group);
  EXPECT_TRUE(box->member(0)->points().size() == 4u && paintIsWhite(job.get(), box->member(0)->paint()));
  const TavDB::Object* bars = group->member(1);
  EXPECT_EQ(bars->kind(), TavDB::ObjectKind::Compound);
  EXPECT_EQ(bars->memberCount(), 30u);  // 2 guard bars x 3 and 2 bars per digit x 12
  // An EAN-13 bar of one module at 100 % is 0.33 mm: 33 units at 2540 ppi.
  const TavDB::tv_box firstBar = bars->member(0)->bounds();
  EXPECT_NEAR(double(firstBar.width()), 33, 1);
  EXPECT_EQ(group->member(2)->kind(), TavDB::ObjectKind::Text);
  EXPECT_EQ(group->member(2)->text()->runs.at(0).font, kBarcodeDefaultFont);
  // The symbol with its quiet zones is 113 modules wide, from `at`.
  EXPECT_EQ((std::array{group->bounds().left, group->bounds().top}), (std::array{2000, 1000}));
  EXPECT_NEAR(double(group->bounds().width()), 113 * 33, 3);
  // The ink is used by the bars.
  EXPECT_TRUE(sepisused(job.get(), 0, false) & kSepUsed);
}

TEST(BarcodeJob, AnAngleTurnsTheSymbolAboutItsPlaceAndIsKeptAsTheMatrix) {
  json barcode = {{"symbology", "QR"}, {"data", "turn"}, {"paint", 10}, {"moduleSize", 50}};
  auto upright = load(jobWith(barcode));
  barcode["angle"] = 90;
  auto turned = load(jobWith(barcode));
  const TavDB::tv_box a = barcodeGroup(*upright)->bounds(), b = barcodeGroup(*turned)->bounds();
  // Clockwise by a quarter: the symbol now lies to the left of `at`.
  EXPECT_EQ((std::array<std::int64_t, 3>{b.top, b.right, b.width()}), (std::array<std::int64_t, 3>{1000, 2000, a.height()}));
  const TavDB::ObjectExtra& x = *barcodeGroup(*turned)->extra();
  EXPECT_TRUE(x.hasMatrix && std::abs(x.matrix[1] - 1.0) < 1e-12 && std::abs(x.matrix[0]) < 1e-12);
}

TEST(BarcodeJob, RecordsOfEverySymbology) {
  // Each symbology the creator draws, with the parameters that shape it; the
  // record keeps the name and type code.
  const struct {
    json barcode;
    int type;
    const char* name;
  } cases[] = {
      {{{"symbology", "ITF-14"}, {"data", "1234567890123"}}, 1, "ITF-14"},
      {{{"symbology", "CODE-39"}, {"data", "ABC-12"}, {"checkDigit", true}}, 2, "CODE-39"},
      {{{"symbology", "UPC-E"}, {"data", "0123456"}}, 4, "UPC-E"},
      {{{"symbology", "UPC-A"}, {"data", "03600029145"}}, 5, "UPC-A"},
      {{{"symbology", "EAN-13"}, {"data", "501234567890"}, {"type", 43}}, 43, "EAN-13"},
      {{{"symbology", "EAN-8"}, {"data", "1234567"}}, 7, "EAN-8"},
      {{{"symbology", "GS1_128"}, {"data", "(01)09501101530003(10)AB"}, {"magnification", 0.4}}, 9, "GS1_128"},
      {{{"symbology", "CODE-128"}, {"data", "Hello"}, {"magnification", 0.3}}, 10, "CODE-128"},
      {{{"symbology", "INT_2_OF_5"}, {"data", "1234567"}, {"checkDigit", true}}, 11, "INT_2_OF_5"},
      {{{"symbology", "LAETUS_PHARMA"}, {"data", "1234"}, {"type", 27}}, 27, "LAETUS_PHARMA"},
      {{{"symbology", "DATAMATRIX"}, {"data", "Hello"}, {"dataMatrixType", "rectangle"}}, 28, "DATAMATRIX"},
      {{{"symbology", "GS1_DataMatrix"}, {"data", "(01)09501101530003"}, {"symbolSize", 5}}, 37,
       "GS1_DataMatrix"},
      {{{"symbology", "QR"}, {"data", "Hello"}, {"errorCorrection", 3}, {"symbolSize", 2}}, 31, "QR"},
      {{{"symbology", "GS1_DataBar-14"}, {"data", "0950110153000"}, {"dataBarForm", "stacked"}}, 29,
       "GS1_DataBar-14"},
      {{{"symbology", "GS1_DataBar-14_Stacked_Omni"}, {"data", "0950110153000"}}, 29,
       "GS1_DataBar-14_Stacked_Omni"},
      {{{"symbology", "GS1_DataBar-Expanded"}, {"data", "(01)98898765432106(3202)012345"}}, 44,
       "GS1_DataBar-Expanded"},
      {{{"symbology", "GS1_DataBar-Expanded_Stacked"}, {"data", "(01)98898765432106(3202)012345"}}, 45,
       "GS1_DataBar-Expanded_Stacked"},
  };
  for (const auto& c : cases) {
    json barcode = c.barcode;
    barcode["paint"] = 10;
    std::unique_ptr<jobstr> job;
    ASSERT_NO_THROW(job = load(jobWith(barcode))) << c.barcode.dump();
    const TavDB::Object* group = barcodeGroup(*job);
    const barCreator* creator = GetBarcodeCreator(group);
    ASSERT_NE(creator, nullptr) << c.name;
    EXPECT_EQ(creator->GetType(), c.type) << c.name;
    EXPECT_EQ(BarcodeSymbologyName(creator->GetType(), creator), c.name);
    EXPECT_GE(group->memberCount(), 2u) << c.name;  // white box and bars at least
    EXPECT_FALSE(group->bounds().isEmpty()) << c.name;
  }
}

TEST(BarcodeJob, AGroupWithItsOwnObjectsKeepsThemAndIsMarkedEdited) {
  const json group = {{"objects", {{{"kind", "path"}, {"paint", 10}, {"points", {{0, 0}, {0, 10}, {10, 10}}}}}}};
  auto job = load(jobWith({{"symbology", "SICK"}, {"data", "12"}, {"edited", true}}, group));
  const TavDB::Object* g = barcodeGroup(*job);
  EXPECT_TRUE(g->memberCount() == 1u && GetBarcodeCreator(g)->GetType() == 18 && HasBarcodeEditCreator(g));
  // A copy carries the records along.
  auto copy = TavDB::objdup(g);
  EXPECT_TRUE(GetBarcodeCreator(copy.get()) == GetBarcodeCreator(g) && HasBarcodeEditCreator(copy.get()));
}

TEST(BarcodeJob, ParameterTextsAreBounded) {
  EXPECT_NO_THROW(BarcodeParameter::Text(kBarCode, std::string(255, 'x')));
  EXPECT_THROW(BarcodeParameter::Text(kBarCode, std::string(256, 'x')), std::length_error);
}

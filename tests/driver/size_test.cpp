// Size estimation for a maximum file size, preview size and resolution, the
// maximum-size warning texts, and the flattener's parameters.
#include <gtest/gtest.h>

#include "driver/flattening.h"
#include "driver/sizecalc.h"
#include "driver/writepdf.h"
#include "driver_support.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "tavpdf/OutputPDF.h"

using drivertest::jobText;
using drivertest::loadJob;
using drivertest::square;

namespace {

// n paths of `points` straight points each, in Cyan.
std::string pathsJob(int n, int points) {
  std::string objects = "[";
  for (int i = 0; i < n; ++i) {
    if (i) objects += ",";
    objects += R"({"kind":"path","paint":30,"points":[)";
    for (int p = 0; p < points; ++p) {
      if (p) objects += ",";
      objects += "[" + std::to_string(1000 + p * 10) + "," + std::to_string(1000 + (p % 2) * 500 + i) + "]";
    }
    objects += "]}";
  }
  objects += "]";
  return jobText(drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
                 R"([{"id":30,"type":"flat","colour":20}])", objects);
}

// One path painted with a map of w x h pixels at `ppi`, feeding the four
// process inks.
std::string mapJob(int w, int h, int ppi) {
  return jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Black":100}}])",
      R"([{"id":30,"type":"map","map":1,"place":{"origin":[720,720],"widthCorner":[720,6480],"heightCorner":[6480,720]}}])",
      "[" + square(720, 720, 5760, 30) + "]",
      R"(,"maps":[{"id":1,"files":["pixels.tif"],"colour":20,"width":)" + std::to_string(w) +
          R"(,"height":)" + std::to_string(h) + R"(,"resolution":)" + std::to_string(ppi) +
          R"(,"channels":[{"ink":"Cyan","channel":0},{"ink":"Magenta","channel":1},)"
          R"({"ink":"Yellow","channel":2},{"ink":"Black","channel":3}]}])");
}

}  // namespace

TEST(SizeEstimate, PathsAddToTheFixedBase) {
  // 20 KB base + 100 paths x ((11 - 1) x 0.005 + 0.75) KB.
  auto job = loadJob(pathsJob(100, 11));
  std::vector<TavPDF::SizeRecord> records;
  int base = 0;
  EXPECT_EQ(TavPDF::EstimatePDFSize(job.get(), records, base, TavPDF::kCompressionLossless, false, false, -1), 100);
  EXPECT_EQ(base, 100);
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(TavPDF::MaxImageResolution(records), 144);

  // A maximum above the estimate changes nothing in the settings.
  PDFSettings settings;
  settings.MaxSize = 101;
  const PDFSettings before = settings;
  EXPECT_EQ(CalculateMaxSizeConfiguration(job.get(), settings, true), 100);
  EXPECT_EQ(settings.CompressImages, before.CompressImages);
  EXPECT_EQ(settings.UseDownsampling, before.UseDownsampling);
  EXPECT_EQ(settings.DownsampleResolution, before.DownsampleResolution);
  EXPECT_EQ(CalculateMaxSizeConfiguration(nullptr, settings, true), 0);
}

TEST(SizeEstimate, DownsamplingSearchStopsAtTheFirstFittingResolution) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "pixels.tif", "not read by the estimate");
  // 3000 x 3000 pixels at 30 ppi (100 x 100 inches), four inks. The base is
  // 20 + (4 - 1) x 0.005 + 0.75 = 20.765 KB, 21 rounded.
  auto job = loadJob(mapJob(3000, 3000, 30), dir.path());
  std::vector<TavPDF::SizeRecord> records;
  int base = 0;
  // Lossless: 36,000,000 bytes / 1024 / 3.5 = 10,044.6, counted as 10,045 KB,
  // plus 20.765 KB.
  EXPECT_EQ(TavPDF::EstimatePDFSize(job.get(), records, base, TavPDF::kCompressionLossless, false, false, -1),
            10066);
  EXPECT_EQ(base, 21);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_DOUBLE_EQ(records[0].widthInches, 100.0);
  EXPECT_EQ(records[0].channels, 4);
  EXPECT_EQ(records[0].resolution, 30);

  // JPEG at resolution c: c x 100 x c x 100 x 4 bytes / 6144 + 21 KB:
  // 30 -> 5880, 29 -> 5496, 28 -> 5125. A maximum of 5200 stops at 28 and
  // stores one less.
  PDFSettings settings;
  settings.MaxSize = 5200;
  EXPECT_EQ(CalculateMaxSizeConfiguration(job.get(), settings, false), 5125);
  EXPECT_EQ(settings.CompressImages, 50);
  EXPECT_EQ(settings.UseDownsampling, 1);
  EXPECT_EQ(settings.UseAveraging, 1);
  EXPECT_EQ(settings.DownsampleResolution, 27);

  // A maximum out of reach: the search ends below 26 (last tried 26 -> 4422).
  PDFSettings tight;
  tight.MaxSize = 100;
  EXPECT_EQ(CalculateMaxSizeConfiguration(job.get(), tight, false), 4422);
  EXPECT_EQ(tight.DownsampleResolution, 25);

  // The job file refuses a map without resolution; the model may still hold
  // one, and it adds nothing.
  job->maps[1].resolution = 0;
  records.clear();
  EXPECT_EQ(TavPDF::EstimatePDFSize(job.get(), records, base, TavPDF::kCompressionLossless, false, false, -1), 21);
  EXPECT_TRUE(records.empty());
}

TEST(SizeEstimate, HugePicturesDoNotWrapIntoSmallEstimates) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "pixels.tif", "x");
  // 60,000 x 60,000 pixels x 4 inks = 14.4e9 bytes, far above 32 bits.
  auto job = loadJob(mapJob(60000, 60000, 300), dir.path());
  std::vector<TavPDF::SizeRecord> records;
  int base = 0;
  const int kb = TavPDF::EstimatePDFSize(job.get(), records, base, TavPDF::kCompressionLossless, false, false, -1);
  EXPECT_NEAR(kb, 14.4e9 / 1024 / 3.5, 30);
  EXPECT_NEAR(TavPDF::EstimateImageBytes(records, 300, TavPDF::kCompressionJpeg), 14.4e9 / 1024 / 6, 2);
  // 200 x 200 inches: at c ppi c² x 160,000 / 6144 KB + 21; 62 gives 100,104,
  // 61 gives 96,922.
  PDFSettings settings;
  settings.MaxSize = 100000;
  EXPECT_EQ(CalculateMaxSizeConfiguration(job.get(), settings, false), 96922);
  EXPECT_EQ(settings.UseDownsampling, 1);
  EXPECT_EQ(settings.DownsampleResolution, 60);
}

TEST(SizeEstimate, PlacedJobsAreInconclusive) {
  tavtest::TestFolder dir;
  std::vector<TavPDF::SizeRecord> records;
  int base = 0;
  tavtest::writeFile(dir / "oneup.json", R"({"ppi":720,"boxes":{"media":[0,0,720,720]}})");
  auto placed = loadJob(drivertest::placedJob(drivertest::kStandardInks, R"("file":"oneup.json")"), dir.path());
  {
    TavGen::MessageCapture quiet;
    TavPDF::EstimatePDFSize(placed.get(), records, base, TavPDF::kCompressionLossless, false, false, -1);
    EXPECT_FALSE(quiet.has("PDF/SIZE ESTIMATION INCONCLUSIVE"));
  }
  TavGen::MessageCapture told;
  const int kb = TavPDF::EstimatePDFSize(placed.get(), records, base, TavPDF::kCompressionLossless, false, true, -1);
  EXPECT_EQ(told.count("PDF/SIZE ESTIMATION INCONCLUSIVE"), 1);
  // The placed file's size (under 1 KB) adds nothing; one path of four points.
  EXPECT_EQ(kb, 21);
}

TEST(PreviewSize, ResolutionAndSizeFollowTheArtBox) {
  // Art box 5760 x 5760 units at 720 ppi (8 x 8 inches): 32,400 "KB units".
  auto job = loadJob(pathsJob(1, 4));
  EXPECT_EQ(CalculateSize(job.get(), 72), 243);   // 32400 x 72² x 3 / (720² x 4)
  EXPECT_EQ(CalculateSize(job.get(), 300), 243);  // above 72 counts as 72
  EXPECT_EQ(CalculateSize(job.get(), 36), 100);   // 60.75, raised to the minimum
  EXPECT_EQ(CalculateSize(job.get(), 0), 100);    // no preview: the minimum
  EXPECT_EQ(CalculateSize(job.get(), -72), 243);  // the formula squares the resolution
  EXPECT_EQ(CalculatePPI(job.get(), 243), 72);
  EXPECT_EQ(CalculatePPI(job.get(), 100), 46);    // sqrt(720² x 400 / 97200)
  EXPECT_EQ(CalculatePPI(job.get(), 1), 10);
  EXPECT_EQ(CalculatePPI(job.get(), 1000000), 72);
  EXPECT_EQ(CalculatePPI(nullptr, 100), 0);
  EXPECT_EQ(CalculateSize(nullptr, 72), 0);
  auto noArt = loadJob(R"({"ppi":720,"boxes":{"media":[0,0,720,720],"art":[100,100,100,400]}})");
  EXPECT_EQ(CalculatePPI(noArt.get(), 100), 0);
  EXPECT_EQ(CalculateSize(noArt.get(), 72), 0);
}

TEST(MaxSizeWarning, SizesAreScaledToOneUnitWithTwoDecimals) {
  struct Case { double size, max; const char *sizeText, *maxText; };
  for (const Case c : {Case{7000, 5000, "6.84 MB", "4.88 MB"}, Case{900, 500, "900.00 KB", "500.00 KB"},
                       Case{3.0 * 1024 * 1024 * 1024 * 1024 * 1024, 1024, "3072.00 PB", "0.00 PB"}}) {
    std::string size, max;
    TavPDF::FormatMaxSizeTexts(c.size, c.max, size, max);
    EXPECT_EQ(size, c.sizeText);
    EXPECT_EQ(max, c.maxText);
  }
}

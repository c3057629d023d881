// Whole documents written through createPdfOutHandler and writeDocument with
// the page writer: accepted by every consumer, sound content streams, and
// plates that carry the coverage the job asks for (process colours, two spot
// inks, knockout against overprint, and an opaque ink).
#include <gtest/gtest.h>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfproof_support.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

int writeDocument(jobstr& job, const PDFSettings& settings, const std::filesystem::path& file) {
  PdfGraphicsState::Instance().Reset();
  int result;
  {
    auto out = TavSys::fil::create(file);
    std::array<std::int32_t, 4> process{};
    for (int k = 0; k < 4; ++k) process[std::size_t(k)] = sepgetcmyk(&job, k);
    auto handler = createPdfOutHandler(&job, nullptr, nullptr, out.get(), &settings,
                                       settings.PDFCompatibility, nullptr, process, 0, TavPDF::kNoScreen,
                                       TavSys::FileSpec(file), {}, false, nullptr);
    result = handler->writeDocument(false, "test");
    const int finished = handler->finishFile();
    if (result == 0) result = finished;
    handler.reset();
    out->close();
  }
  PdfObjectRegistry::deleteAll();
  return result;
}

// Job coordinates: ppi 72, v 0..100 from the top, h 0..100; a point (x, y)
// from the lower left lies at h = x, v = 100 - y.
std::string rect(int top, int left, int bottom, int right, int paint) {
  auto n = [](int v) { return std::to_string(v); };
  return R"({"kind": "path", "paint": )" + n(paint) + R"(, "points": [[)" + n(top) + ", " + n(left) +
         "], [" + n(top) + ", " + n(right) + "], [" + n(bottom) + ", " + n(right) + "], [" +
         n(bottom) + ", " + n(left) + "]]}";
}

std::unique_ptr<jobstr> platesJob() {
  const std::string inks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
    {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
    {"name": "Orange", "cmyk": [0, 50, 100, 0]}, {"name": "Silver", "cmyk": [20, 20, 20, 0], "opaque": true}])";
  // 1: C 50 M 40 (knocks out the spot inks); 2: Orange 100 knocking out the
  // rest; 3: Orange 100 leaving the rest untouched (overprint); 4: C 50 M 40
  // under 50 % of the opaque Silver.
  const std::string colours = R"([{"id": 1, "inks": {"Cyan": 50, "Magenta": 40}},
    {"id": 2, "inks": {"Orange": 100}},
    {"id": 3, "inks": {"Orange": 100}, "others": 255, "overprint": true},
    {"id": 4, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 50}}])";
  const std::string paints = R"([{"id": 10, "type": "flat", "colour": 1},
    {"id": 11, "type": "flat", "colour": 2}, {"id": 12, "type": "flat", "colour": 3, "overprint": true},
    {"id": 13, "type": "flat", "colour": 4}])";
  // The process square over the whole top half; the knockout spot at its
  // left, the overprinting spot at its right; the opaque mix bottom left.
  const std::string objects = R"([{"kind": "layer", "name": "Art", "objects": [)" +
                              rect(0, 0, 50, 100, 10) + "," + rect(10, 10, 40, 40, 11) + "," +
                              rect(10, 60, 40, 90, 12) + "," + rect(60, 10, 90, 40, 13) + "]}]";
  return g2test::makeJob(inks, colours, paints, objects);
}

TEST(PdfProofDocument, PlatesCarryKnockoutsOverprintsAndOpaqueInks) {
  auto job = platesJob();
  PDFSettings s = g2test::testSettings();
  s.CompressPages = 1;
  s.ForceOpaqueSeparationsToKnockout = 1;
  tavtest::TestFolder dir;
  for (int compatibility : {PDFSettings::kPDF13, PDFSettings::kPDF14, PDFSettings::kPDF15}) {
    SCOPED_TRACE(compatibility);
    s.PDFCompatibility = compatibility;
    const auto pdf = dir / ("plates" + std::to_string(compatibility) + ".pdf");
    ASSERT_EQ(writeDocument(*job, s, pdf), 0);
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    const auto plates = tavtest::measurePlates(pdf);
    const std::string summary = plates.summary();
    // Process colour alone.
    EXPECT_NEAR(plates.inkAtPoint("Cyan", 50, 95), 0.5, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Magenta", 50, 95), 0.4, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Orange", 50, 95), 0.0, 0.02) << summary;
    // Knockout: the spot ink alone where it lies.
    EXPECT_NEAR(plates.inkAtPoint("Orange", 25, 75), 1.0, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Cyan", 25, 75), 0.0, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Magenta", 25, 75), 0.0, 0.02) << summary;
    // Overprint: both inks.
    EXPECT_NEAR(plates.inkAtPoint("Orange", 75, 75), 1.0, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Cyan", 75, 75), 0.5, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Magenta", 75, 75), 0.4, 0.02) << summary;
    // Opaque ink: what lies below it is reduced by its tint.
    EXPECT_NEAR(plates.inkAtPoint("Silver", 25, 25), 0.5, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Cyan", 25, 25), 0.25, 0.02) << summary;
    EXPECT_NEAR(plates.inkAtPoint("Magenta", 25, 25), 0.2, 0.02) << summary;
    // Nothing where nothing was drawn.
    EXPECT_NEAR(plates.inkAtPoint("Cyan", 75, 25), 0.0, 0.02) << summary;
  }
}

TEST(PdfProofDocument, WithoutKnockoutTheOpaqueInkLeavesTheOthersAlone) {
  auto job = platesJob();
  PDFSettings s = g2test::testSettings();
  s.ForceOpaqueSeparationsToKnockout = 0;
  tavtest::TestFolder dir;
  const auto pdf = dir / "noknockout.pdf";
  ASSERT_EQ(writeDocument(*job, s, pdf), 0);
  const auto plates = tavtest::measurePlates(pdf);
  EXPECT_NEAR(plates.inkAtPoint("Silver", 25, 25), 0.5, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 25, 25), 0.5, 0.02) << plates.summary();
  // The host's job keeps its paints and objects as they were.
  EXPECT_EQ(jobGetSpahan(job.get())->member(0)->member(3)->paint(), 13);
}

TEST(PdfProofDocument, SeparatedOutputGivesEachInkItsPage) {
  auto job = platesJob();
  PDFSettings s = g2test::testSettings();
  s.SeparatedOutput = 1;
  s.OptimizeWhiteObjects = 1;
  tavtest::TestFolder dir;
  const auto pdf = dir / "separated.pdf";
  ASSERT_EQ(writeDocument(*job, s, pdf), 0);
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  // The caller's settings are left as they were.
  EXPECT_EQ(s.OptimizeWhiteObjects, 1);
}

TEST(PdfProofDocument, TheExampleJobsAreRefusedOrWrittenButNeverBroken) {
  tavtest::TestFolder dir;
  for (const char* name : {"label.json", "carton.json"}) {
    SCOPED_TRACE(name);
    auto job = TavKernel::loadJobFile(tavtest::sourceDir() / "examples" / name);
    PDFSettings s = g2test::testSettings();
    const auto pdf = dir / (std::string(name) + ".pdf");
    int result = -1;
    try {
      result = writeDocument(*job, s, pdf);
    } catch (const TavSys::Error& e) {
      // Objects whose writers come later stop the export with their message.
      EXPECT_EQ(e.key(), "PDF/OBJECT NOT SUPPORTED YET") << e.what();
      PdfObjectRegistry::deleteAll();
      continue;
    }
    ASSERT_EQ(result, 0);
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
  }
}

}  // namespace

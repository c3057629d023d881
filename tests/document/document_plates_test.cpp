// Whole documents separated by Ghostscript: every plate carries what the job
// asks for, knocked out where an ink does not overprint and kept where it does.
#include <gtest/gtest.h>

#include <filesystem>

#include "document_support.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

using doctest::makeJob;
using doctest::testSettings;

// Cyan and yellow under the whole page (200 x 100 points); Spot A knocks out
// the left quarter, Spot B overprints the third quarter, black overprints
// nothing (knockout) in the right quarter.
const char* kPlatesJob = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot A", "cmyk": [0, 50, 100, 0]},
           {"name": "Spot B", "cmyk": [100, 0, 0, 20]}],
  "colours": [{"id": 1, "inks": {"Cyan": 100, "Yellow": 40}},
              {"id": 2, "inks": {"Spot A": 100}},
              {"id": 3, "inks": {"Spot B": 60}, "others": 255},
              {"id": 4, "inks": {"Black": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3, "overprint": true},
             {"id": 13, "type": "flat", "colour": 4}],
  "objects": [{"kind": "layer", "name": "Art", "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 0], [0, 50], [100, 50], [100, 0]]},
    {"kind": "path", "paint": 12, "points": [[0, 100], [0, 150], [100, 150], [100, 100]]},
    {"kind": "path", "paint": 13, "points": [[0, 150], [0, 200], [100, 200], [100, 150]]}]}]
)";

TEST(DocumentPlates, KnockoutAndOverprintReachThePlates) {
  tavtest::TestFolder dir;
  auto job = makeJob(kPlatesJob);
  for (int compatibility : {PDFSettings::kPDF14, PDFSettings::kPDF15}) {
    SCOPED_TRACE(compatibility);
    PDFSettings settings = testSettings();
    settings.PDFCompatibility = compatibility;
    settings.IncludeLayers = compatibility == PDFSettings::kPDF15;
    const auto w = doctest::writeDocument(*job, settings, dir / "plates.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);
    const auto p = tavtest::measurePlates(w.file);
    // Quarters from the left: Spot A (knockout), cyan/yellow, Spot B over
    // cyan/yellow, black (knockout).
    const double y = 50;
    EXPECT_NEAR(p.inkAtPoint("Spot A", 25, y), 1.0, 0.01) << p.summary();
    EXPECT_NEAR(p.inkAtPoint("Cyan", 25, y), 0.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 75, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Yellow", 75, y), 0.4, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Spot B", 125, y), 0.6, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 125, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Yellow", 125, y), 0.4, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Black", 175, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 175, y), 0.0, 0.01);
    EXPECT_NEAR(p.coverage.at("Spot A"), 0.25, 0.01);
    EXPECT_NEAR(p.coverage.at("Spot B"), 0.25 * 0.6, 0.01);
    EXPECT_NEAR(p.coverage.at("Cyan"), 0.5, 0.01);
  }
}

TEST(DocumentPlates, ExampleJobsAreWrittenOrRefusedCleanly) {
  // The bundled examples hold objects whose writers come with later parts of
  // the engine. Each example is either a document every consumer accepts or
  // is refused with a message; never a damaged file reported as written.
  tavtest::TestFolder dir;
  int examples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tavtest::sourceDir() / "examples")) {
    if (entry.path().extension() != ".json") continue;
    ++examples;
    SCOPED_TRACE(entry.path().filename().string());
    auto job = TavKernel::loadJobFile(entry.path());
    for (bool separated : {false, true}) {
      PDFSettings settings = testSettings();
      settings.SeparatedOutput = separated;
      const auto file = dir / (entry.path().stem().string() + (separated ? "-sep.pdf" : ".pdf"));
      TavGen::MessageCapture capture;
      try {
        const auto w = doctest::writeDocument(*job, settings, file);
        EXPECT_EQ(w.documentResult, 0);
        EXPECT_EQ(w.finishResult, 0);
        tavtest::expectPdfAcceptedByAllConsumers(w.file);
        tavtest::expectContentStreamsSound(w.file);
      } catch (const TavSys::Error& e) {
        EXPECT_FALSE(e.key().empty()) << e.what();
        EXPECT_TRUE(TavCore::HasLocalizedString(e.key())) << e.key();
      }
    }
  }
  EXPECT_GT(examples, 0);
}

}  // namespace

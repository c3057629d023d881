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

// Cyan and yellow under the whole page (200 x 100 points). In the top half,
// from the left: Spot A knocking out, the background alone, Spot B
// overprinting (paint and colour both say so), black knocking out. Bottom
// left: cyan and magenta under half of the opaque Silver.
const char* kPlatesJob = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot A", "cmyk": [0, 50, 100, 0]},
           {"name": "Spot B", "cmyk": [100, 0, 0, 20]},
           {"name": "Silver", "cmyk": [20, 20, 20, 0], "opaque": true}],
  "colours": [{"id": 1, "inks": {"Cyan": 100, "Yellow": 40}},
              {"id": 2, "inks": {"Spot A": 100}},
              {"id": 3, "inks": {"Spot B": 60}, "others": 255, "overprint": true},
              {"id": 4, "inks": {"Black": 100}},
              {"id": 5, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 50}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3, "overprint": true},
             {"id": 13, "type": "flat", "colour": 4}, {"id": 14, "type": "flat", "colour": 5}],
  "objects": [{"kind": "layer", "name": "Art", "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 0], [0, 50], [50, 50], [50, 0]]},
    {"kind": "path", "paint": 12, "points": [[0, 100], [0, 150], [50, 150], [50, 100]]},
    {"kind": "path", "paint": 13, "points": [[0, 150], [0, 200], [50, 200], [50, 150]]},
    {"kind": "path", "paint": 14, "points": [[50, 0], [50, 50], [100, 50], [100, 0]]}]}]
)";

TEST(DocumentPlates, KnockoutOverprintAndOpaqueInkReachThePlates) {
  tavtest::TestFolder dir;
  auto job = makeJob(kPlatesJob);
  for (int compatibility : {PDFSettings::kPDF13, PDFSettings::kPDF14, PDFSettings::kPDF15}) {
    SCOPED_TRACE(compatibility);
    PDFSettings settings = testSettings();
    settings.PDFCompatibility = compatibility;
    settings.IncludeLayers = compatibility == PDFSettings::kPDF15;
    settings.ForceOpaqueSeparationsToKnockout = 1;
    const auto w = doctest::writeDocument(*job, settings, dir / "plates.pdf");
    ASSERT_EQ(w.documentResult, 0);
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);
    const auto p = tavtest::measurePlates(w.file);
    const double y = 75;  // the top half
    EXPECT_NEAR(p.inkAtPoint("Spot A", 25, y), 1.0, 0.01) << p.summary();
    EXPECT_NEAR(p.inkAtPoint("Cyan", 25, y), 0.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 75, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Yellow", 75, y), 0.4, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Spot A", 75, y), 0.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Spot B", 125, y), 0.6, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 125, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Yellow", 125, y), 0.4, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Black", 175, y), 1.0, 0.01);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 175, y), 0.0, 0.01);
    EXPECT_NEAR(p.coverage.at("Spot A"), 0.125, 0.01);
    EXPECT_NEAR(p.coverage.at("Spot B"), 0.125 * 0.6, 0.01);
    // The opaque ink reduces what it covers by its tint.
    EXPECT_NEAR(p.inkAtPoint("Silver", 25, 25), 0.5, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Cyan", 25, 25), 0.25, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Magenta", 25, 25), 0.2, 0.02);
    EXPECT_NEAR(p.inkAtPoint("Yellow", 25, 25), 0.0, 0.02);
  }
  // Without the knockout the opaque ink leaves the others alone, and the
  // host's objects keep their paints either way.
  PDFSettings settings = testSettings();
  settings.ForceOpaqueSeparationsToKnockout = 0;
  const auto w = doctest::writeDocument(*job, settings, dir / "noknockout.pdf");
  ASSERT_EQ(w.finishResult, 0);
  const auto p = tavtest::measurePlates(w.file);
  EXPECT_NEAR(p.inkAtPoint("Silver", 25, 25), 0.5, 0.02) << p.summary();
  EXPECT_NEAR(p.inkAtPoint("Cyan", 25, 25), 0.5, 0.02);
  EXPECT_EQ(jobGetSpahan(job.get())->member(0)->member(4)->paint(), 14);
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

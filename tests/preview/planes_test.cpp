// The renderer's planes against Ghostscript's plates of the same export: the
// bundled examples and a job for each object kind.
#include <gtest/gtest.h>

#include "driver_support.h"
#include "platform/kernel/jobfile.h"
#include "object_kinds.h"
#include "preview_support.h"

namespace {

using drivertest::flavour;

struct ExampleCase {
  const char* job;
  const char* settings;
  // Placed EPS files: the preview shows their preview image, a printer (and
  // Ghostscript's plates) their PostScript, which Ghostscript leaves out.
  std::vector<previewtest::PointRect> eps;
};

TEST(RendererPlanes, BundledExamplesMatchTheirPlates) {
  const ExampleCase cases[] = {
      {"label", "Press", {}},
      {"carton", "Press", {{54, 309, 116, 343}, {196, 309, 258, 343}}},
      {"shelf-sign", "Press", {}},
      {"swatches", "Press", {}},
      {"wave-map", "Press", {}},
      {"barcodes", "Press", {}},
      {"sunset-label", "Press", {}},
      {"screens", "Press", {}},
      {"placed-files", "Press", {{304, 250, 596, 398}}},
      {"label", "Press Orientation=0 Mirror=1", {}},
  };
  tavtest::TestFolder dir;
  for (const ExampleCase& c : cases) {
    SCOPED_TRACE(std::string(c.job) + " under " + c.settings);
    auto job = TavKernel::loadJobFile(tavtest::sourceDir() / "examples" / (std::string(c.job) + ".json"));
    const PDFSettings settings = flavour(c.settings);
    const auto pdf = dir / (std::string(c.job) + ".pdf");
    drivertest::exportAccepted(job.get(), settings, pdf);
    const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, 72);
    const auto preview = previewtest::renderPage(*job, settings, 72);
    previewtest::expectPlanesMatchPlates(*job, *preview, plates, c.eps);
  }
}

}  // namespace

namespace {

TEST(RendererPlanes, EveryObjectKindMatchesItsPlates) {
  tavtest::TestFolder dir;
  for (const previewtest::KindJob& k : previewtest::objectKindJobs(dir.path())) {
    SCOPED_TRACE(k.name);
    auto job = drivertest::loadJob(k.text, dir.path());
    ASSERT_TRUE(job);
    const PDFSettings settings = flavour("Press");
    const auto pdf = dir / "kind.pdf";
    drivertest::exportAccepted(job.get(), settings, pdf);
    const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, 72);
    const auto preview = previewtest::renderPage(*job, settings, 72);
    previewtest::expectPlanesMatchPlates(*job, *preview, plates);
  }
}

}  // namespace

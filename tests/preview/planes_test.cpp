// The renderer's planes against Ghostscript's plates of the same export: the
// bundled examples and a job for each object kind.
#include <gtest/gtest.h>

#include <cmath>

#include "driver_support.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/previewsources.h"
#include "platform/tav_error.h"
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

namespace {

TEST(RendererPlanes, BlendModesDrawAsTheirNamesSay) {
  // Squares of the separable blend modes (Difference and Exclusion aside),
  // each lying wholly over a backdrop of process inks, against
  // Ghostscript's plates: each mode is drawn as its name in the job says.
  tavtest::TestFolder dir;
  const char* const modes[] = {"multiply",  "screen",    "overlay", "softLight", "hardLight",
                               "colorDodge", "colorBurn", "darken",  "lighten"};
  std::string paints = R"([{"id":30,"type":"flat","colour":20})", objects;
  for (int m = 0; m < 9; ++m) {
    paints += R"(,{"id":)" + std::to_string(40 + m) + R"(,"type":"flat","colour":21,"blendMode":")" + modes[m] + "\"}";
    const int v = 300 + (m / 4) * 2200, h = 300 + (m % 4) * 1700;
    objects += std::string(m ? "," : "") + drivertest::square(v, h, 1500, 30) + "," +
               drivertest::square(v + 300, h + 300, 900, 40 + m);
  }
  auto job = drivertest::loadJob(
      drivertest::jobText(drivertest::kStandardInks,
                          R"([{"id":20,"inks":{"Cyan":70,"Magenta":20,"Black":20}},)"
                          R"({"id":21,"inks":{"Cyan":20,"Magenta":80,"Yellow":50}}])",
                          paints + "]", "[" + objects + "]"),
      dir.path());
  const PDFSettings settings = flavour("Press");
  const auto pdf = dir / "blend.pdf";
  drivertest::exportAccepted(job.get(), settings, pdf);
  const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, 72);
  const auto preview = previewtest::renderPage(*job, settings, 72);
  previewtest::expectPlanesMatchPlates(*job, *preview, plates);
  // Where each mode lies over the backdrop, plane and plate agree too.
  for (int m = 0; m < 9; ++m) {
    const int v = 300 + (m / 4) * 2200, h = 300 + (m % 4) * 1700;
    for (int p = 0; p < preview->GetPlaneCount(); ++p) {
      const std::string ink = previewtest::plateName(*job, preview->GetPlaneSeparation(p));
      if (!plates.plates.count(ink)) continue;
      double sum = 0;
      int n = 0;
      for (int y = (v + 350) / 10; y < (v + 1150) / 10; ++y) {
        for (int x = (h + 350) / 10; x < (h + 1150) / 10; ++x, ++n)
          sum += std::abs(preview->GetScanLine(p, y)[x] / 255.0 - plates.plate(ink).inkAtPixel(x, y));
      }
      EXPECT_LE(sum / n, 0.02) << modes[m] << ", " << ink;
    }
  }
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// Every plane's bytes, plane after plane.
std::vector<std::uint8_t> planeBytes(const TavricLib::SeparatedPreview& preview) {
  std::vector<std::uint8_t> out;
  for (int p = 0; p < preview.GetPlaneCount(); ++p)
    for (int y = 0; y < preview.GetHeight(); ++y) {
      const std::uint8_t* row = preview.GetScanLine(p, y);
      out.insert(out.end(), row, row + preview.GetWidth());
    }
  return out;
}

// A CMYK page of 400 x 400 points covered by the first page of a placed PDF file.
std::unique_ptr<jobstr> placedPdfJob(const std::string& file, const fs::path& folder) {
  return drivertest::loadJob(
      R"({"format":"tavpdf-job","ppi":72,"origin":[400,0],"boxes":{"media":[0,0,400,400]},)"
      R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"}],"colours":[],)"
      R"("pictures":[{"id":1,"file":")" + file + R"(","pdfPage":0,"inks":["Cyan","Magenta","Yellow","Black"]}],)"
      R"("paints":[{"id":10,"type":"picture","picture":1,"place":{"origin":[0,0],"widthCorner":[0,400],"heightCorner":[400,0]}}],)"
      R"("objects":[{"kind":"path","paint":10,"points":[[0,0],[0,400],[400,400],[400,0]]}]})",
      folder);
}

// A placed PDF file is kept open between renders; one that changes on disk
// in between is read again, so that each render shows the file as it is.
TEST(RendererPlanes, APlacedPdfFileChangedBetweenRendersIsReadAgain) {
  tavtest::TestFolder dir;
  const fs::path source = tavtest::sourceDir() / "examples" / "pictures" / "swatch-plates.pdf";
  auto job = [&](const std::string& file) { return placedPdfJob(file, dir.path()); };
  const PDFSettings settings = flavour("Press");
  const fs::path placed = dir / "placed.pdf";
  // Page order 1, 2, ... and then 3, 4, ...: another first page.
  ASSERT_EQ(tavtest::runProcess({"qpdf", source.string(), "--pages", ".", "1-z", "--", placed.string()}).exitCode, 0);
  auto first = job(placed.string());
  const auto before = planeBytes(*previewtest::renderPage(*first, settings, 36));
  ASSERT_EQ(tavtest::runProcess({"qpdf", source.string(), "--pages", ".", "3-z", "--", (dir / "next.pdf").string()})
                .exitCode,
            0);
  fs::rename(dir / "next.pdf", placed);
  auto second = job(placed.string());
  const auto after = planeBytes(*previewtest::renderPage(*second, settings, 36));
  fs::copy_file(placed, dir / "fresh.pdf");
  auto fresh = job((dir / "fresh.pdf").string());
  EXPECT_NE(after, before);
  EXPECT_EQ(after, planeBytes(*previewtest::renderPage(*fresh, settings, 36)));
}

// The renderer of placed PDF pages is loaded when the first page is drawn.
// When its library, or a function of it, is missing, the page is refused as
// an unreadable file is, naming the file and why; once the library is there
// again the same page renders as before.
TEST(RendererPlanes, APlacedPdfPageWithoutItsRendererIsRefusedNamingTheFile) {
  tavtest::TestFolder dir;
  fs::copy_file(tavtest::sourceDir() / "examples" / "pictures" / "swatch-plates.pdf", dir / "placed.pdf");
  auto job = placedPdfJob((dir / "placed.pdf").string(), dir.path());
  const PDFSettings settings = flavour("Press");
  const auto rendered = planeBytes(*previewtest::renderPage(*job, settings, 36));
  struct RendererKept {  // the build's library back, whatever the cases do
    std::string name = TavricLib::preview::PdfRendererLibrary();
    ~RendererKept() { TavricLib::preview::SetPdfRendererLibrary(name); }
  } renderer;

  struct Case {
    const char* what;
    const char* library;
    const char* reason;  // in the refusal's detail
  } cases[] = {
      {"a library that is not there", "libtavpdf-no-renderer.so.0", "libtavpdf-no-renderer.so.0"},
      {"a library without the renderer's functions", "libz.so.1", "poppler_document_new_from_file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TavricLib::preview::SetPdfRendererLibrary(c.library);
    try {
      previewtest::renderPage(*job, settings, 36);
      ADD_FAILURE() << "the page was rendered";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/CANNOT OPEN PICTURE FILE");
      ASSERT_NE(e.value("__FILENAME__"), nullptr);
      EXPECT_EQ(*e.value("__FILENAME__"), "placed.pdf");
      EXPECT_NE(e.detail().find(c.reason), std::string::npos) << e.detail();
    }
    // The export still writes the PDF file (the page goes in as it stands);
    // the desktop's preview it cannot draw is reported with the file.
    fs::remove(dir / "written.pdf");
    const drivertest::ExportRun run = drivertest::exportJob(job.get(), settings, dir / "written.pdf");
    EXPECT_EQ(run.result, 0) << run.keys();
    EXPECT_TRUE(fs::exists(dir / "written.pdf"));
    ASSERT_TRUE(run.has("PDF/STANDARD PREVIEW NOT WRITTEN")) << run.keys();
    EXPECT_NE(run.message("PDF/STANDARD PREVIEW NOT WRITTEN").text.find("\"placed.pdf\" cannot be opened"),
              std::string::npos)
        << run.message("PDF/STANDARD PREVIEW NOT WRITTEN").text;
  }
  TavricLib::preview::SetPdfRendererLibrary(renderer.name);
  EXPECT_EQ(planeBytes(*previewtest::renderPage(*job, settings, 36)), rendered);
}

}  // namespace

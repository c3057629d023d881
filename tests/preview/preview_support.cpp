#include "preview_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "pdfwriter/layout.h"
#include "pdfwriter/previews.h"
#include "platform/kernel/job.h"

namespace previewtest {

std::unique_ptr<TavricLib::SeparatedPreview> renderPage(const jobstr& job, const PDFSettings& settings,
                                                        double resolution, int antiAliasing) {
  TavSys::tv_rectangle media;
  EXPECT_TRUE(getboxconst(&job, kMediaBox, media));
  const TavSys::tv_rectangle box = TavPDF::GetLayoutTransformedBox(&job, media, settings);
  TavricLib::SeparatedPreviewOptions options = TavPDF::PreviewOptions(&job, settings);
  options.antiAliasing = antiAliasing;
  const auto [w, h] = TavricLib::PreviewSize(&job, box, resolution);
  auto preview = std::make_unique<TavricLib::SeparatedPreview>(&job, box, w, h, options);
  preview->Render();
  return preview;
}

std::string plateName(const jobstr& job, int slot) {
  static const char* const kProcess[] = {"Cyan", "Magenta", "Yellow", "Black"};
  const int kind = sepiscmyk(&job, slot);
  return kind >= 0 ? kProcess[kind] : GetSeparationName(&job, slot);
}

std::map<std::string, PlaneComparison> comparePlanes(const jobstr& job, const TavricLib::SeparatedPreview& preview,
                                                     const tavtest::Plates& plates,
                                                     const std::vector<PointRect>& leftOut) {
  static int comparisons = 0;
  ++comparisons;
  std::map<std::string, PlaneComparison> out;
  for (int p = 0; p < preview.GetPlaneCount(); ++p) {
    const std::string ink = plateName(job, preview.GetPlaneSeparation(p));
    auto it = plates.plates.find(ink);
    if (it == plates.plates.end()) continue;
    const tavtest::Plate& plate = it->second;
    PlaneComparison c;
    double difference = 0, rendered = 0;
    const int w = std::min(plate.width, preview.GetWidth()), h = std::min(plate.height, preview.GetHeight());
    const double perPoint = plates.resolution / 72.0;
    auto counted = [&](int x, int y) {
      for (const PointRect& r : leftOut) {
        const double px = (x + 0.5) / perPoint, py = plate.height / perPoint - (y + 0.5) / perPoint;
        if (px >= r.x0 && px <= r.x1 && py >= r.y0 && py <= r.y1) return false;
      }
      return true;
    };
    double n = 0;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* line = preview.GetScanLine(p, y);
      for (int x = 0; x < w; ++x) {
        if (!counted(x, y)) continue;
        n += 1;
        const double mine = line[x] / 255.0;
        difference += std::fabs(mine - plate.inkAtPixel(x, y));
        rendered += mine;
      }
    }
    if (const char* dump = std::getenv("TAV_PREVIEW_DUMP")) {
      // For a look: the plane and the plate side by side as one gray image.
      std::ofstream out(std::string(dump) + "/" + std::to_string(comparisons) + "-" + ink + ".pgm", std::ios::binary);
      out << "P5 " << 2 * w << " " << h << " 255\n";
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) out.put(char(255 - preview.GetScanLine(p, y)[x]));
        for (int x = 0; x < w; ++x) out.put(char(std::lround(255 - 255 * plate.inkAtPixel(x, y))));
      }
    }
    double measured = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (counted(x, y)) measured += plate.inkAtPixel(x, y);
    c.meanDifference = n > 0 ? difference / n : 1;
    c.rendered = n > 0 ? rendered / n : 0;
    c.measured = n > 0 ? measured / n : 0;
    out[ink] = c;
  }
  return out;
}

void expectPlanesMatchPlates(const jobstr& job, const TavricLib::SeparatedPreview& preview,
                             const tavtest::Plates& plates, const std::vector<PointRect>& leftOut,
                             double tolerance) {
  const auto compared = comparePlanes(job, preview, plates, leftOut);
  for (int p = 0; p < preview.GetPlaneCount(); ++p) {
    const std::string ink = plateName(job, preview.GetPlaneSeparation(p));
    // An ink the page does not print has no plate; then the plane must be empty.
    if (!compared.count(ink)) {
      double sum = 0;
      for (int y = 0; y < preview.GetHeight(); ++y)
        for (int x = 0; x < preview.GetWidth(); ++x) sum += preview.GetScanLine(p, y)[x];
      EXPECT_EQ(sum, 0) << ink << " is drawn but has no plate; plates: " << plates.summary();
      continue;
    }
    const PlaneComparison& c = compared.at(ink);
    EXPECT_LE(c.meanDifference, tolerance) << ink << ": rendered " << c.rendered << ", measured " << c.measured;
    EXPECT_NEAR(c.rendered, c.measured, 0.01) << ink;
  }
  EXPECT_EQ(preview.GetWidth(), plates.plates.empty() ? preview.GetWidth() : plates.plates.begin()->second.width);
  EXPECT_EQ(preview.GetHeight(), plates.plates.empty() ? preview.GetHeight() : plates.plates.begin()->second.height);
}

}  // namespace previewtest

#pragma once
// Test support for the separations renderer: a job's page rendered as the
// export prints it, compared plate by plate with what Ghostscript separates
// from the exported file.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/separatedpreview.h"
#include "support/consumers.h"
#include "tavpdf/PDFSettings.h"

struct jobstr;

namespace previewtest {

// The page's media box as laid out, rendered at `resolution` with the
// options the export's settings give.
std::unique_ptr<TavricLib::SeparatedPreview> renderPage(const jobstr& job, const PDFSettings& settings,
                                                        double resolution, int antiAliasing = 1);

// The plate name Ghostscript gives a slot's ink ("Cyan" for the process cyan ink).
std::string plateName(const jobstr& job, int slot);

// A part of the page left out of a comparison, in points from the lower left
// corner of the media box.
struct PointRect {
  double x0, y0, x1, y1;
};

// Per ink: the mean absolute difference of the renderer's plane and the
// measured plate (0..1), and both coverages.
struct PlaneComparison {
  double meanDifference = 0;
  double rendered = 0;   // coverage of the plane, 0..1
  double measured = 0;   // coverage of the plate, 0..1
};
std::map<std::string, PlaneComparison> comparePlanes(const jobstr& job, const TavricLib::SeparatedPreview& preview,
                                                     const tavtest::Plates& plates,
                                                     const std::vector<PointRect>& leftOut = {});

// Every plane within 2 % of its plate and its coverage within 1 point; an
// ink the renderer draws must have a plate.
void expectPlanesMatchPlates(const jobstr& job, const TavricLib::SeparatedPreview& preview,
                             const tavtest::Plates& plates, const std::vector<PointRect>& leftOut = {},
                             double tolerance = 0.02);

}  // namespace previewtest

#include "platform/kernel/inkcoverage.h"

#include <algorithm>

#include "platform/kernel/job.h"
#include "platform/kernel/separatedpreview.h"

namespace {
// 72 pixels per inch measure a share to far better than a percent for
// everything but hairlines, which the renderer widens to a pixel as a RIP does.
constexpr int kInkResolution = 72;
}  // namespace

int getInkResolution(const jobstr*) { return kInkResolution; }

void calculateInkCoverage(jobstr* job, int resolution, int) {
  job->inkCoverage.fill(0);
  TavSys::tv_rectangle media;
  if (!getbox(job, kMediaBox, media)) return;
  TavricLib::SeparatedPreviewOptions options;
  options.layerMask = 0x60000;
  const auto [w, h] = TavricLib::PreviewSize(job, media, std::max(1, resolution));
  TavricLib::SeparatedPreview planes(job, media, w, h, options);
  planes.Render();
  for (int p = 0; p < planes.GetPlaneCount(); ++p) {
    std::uint64_t ink = 0;
    for (int y = 0; y < planes.GetHeight(); ++y) {
      const std::uint8_t* row = planes.GetScanLine(p, y);
      for (int x = 0; x < planes.GetWidth(); ++x) ink += row[x];
    }
    job->inkCoverage[std::size_t(planes.GetPlaneSeparation(p))] =
        100.0 * double(ink) / (255.0 * double(planes.GetWidth()) * double(planes.GetHeight()));
  }
}

double getInkCoveragePercentage(const jobstr* job, int sep) {
  if (job == nullptr || sep < 0 || sep >= kMaxSeparations) return 0;
  return job->inkCoverage[std::size_t(sep)];
}

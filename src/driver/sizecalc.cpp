#include "driver/sizecalc.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <filesystem>

#include "driver/visitors.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/OutputPDF.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

namespace {
constexpr double kBaseKB = 20.0;
constexpr double kBytesToKB = 1.0 / 1024.0;
constexpr int kResolutionFloor = 26;
constexpr int kDefaultResolution = 144;
}  // namespace

SizeCalculationVisitor::SizeCalculationVisitor(jobstr* job, std::vector<SizeRecord>& records,
                                               std::uint32_t tag, int cap)
    : SoftmaskVisitor(job, kAnalysisMask, 0, nullptr, 0x8820000, 0), mRecords(records), mTag(tag),
      mCap(cap), mBaseKB(kBaseKB) {}

void SizeCalculationVisitor::VisitPaintedObject(TavDB::Object& object) {
  jobstr* j = job();
  if (object.flags() & TavDB::kObjPath) {
    const double points = static_cast<double>(TavDB::patsiz(&object));
    mBaseKB += (points - 1) * 0.005 + 0.75;
  }
  const Paint* p = paipoi(j, object.paint());
  if (!p) return;
  if (p->type == kPaintPicture) {
    if (const TavSys::filref* f = picfilref(j, p->picture); f && !f->empty()) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(f->toFileSpec().path(), ec);
      if (!ec) mBaseKB += static_cast<double>(size / 1024);
    }
    if (picisart(j, p->picture)) mInconclusive = true;
  } else if (p->type == kPaintMap) {
    const PictureMap* m = mappoi(j, p->map);
    // A map without a usable resolution cannot be estimated; it adds nothing.
    if (!m || !(m->resolution > 0) || !std::isfinite(m->resolution)) return;
    const double r = m->resolution;
    std::int32_t h = 0, w = 0;
    mapsiz(j, p->map, 1.0, h, w);  // pixels
    if (w < 1 || h < 1) return;
    std::bitset<kMaxSeparations> seps;
    for (const MapChannel& c : m->channels)
      if (c.separation >= 0 && c.separation < kMaxSeparations) seps.set(static_cast<std::size_t>(c.separation));
    const int channels = static_cast<int>(seps.count());
    mRecords.push_back({w / r, h / r, channels, TavSys::iround(r)});
    if (mCap < 0)
      mImageKB += KilobytesForCompression(static_cast<double>(channels) * w * h, mTag);
  }
}

int SizeCalculationVisitor::GetBaseKilobytes() const { return TavSys::iround(mBaseKB); }
int SizeCalculationVisitor::GetTotalKilobytes() const { return TavSys::iround(mBaseKB + mImageKB); }

int KilobytesForCompression(double bytes, std::uint32_t tag) {
  const double kb = bytes * kBytesToKB;
  if (tag == kCompressionJpeg) return TavSys::iround(kb / 6.0);
  if (tag == kCompressionLossless) return TavSys::iround(kb / 3.5);
  return TavSys::iround(kb);
}

int MaxImageResolution(const std::vector<SizeRecord>& records) {
  if (records.empty()) return kDefaultResolution;
  int r = records.front().resolution;
  for (const SizeRecord& s : records) r = std::max(r, s.resolution);
  return r;
}

int EstimateImageBytes(const std::vector<SizeRecord>& records, int cap, std::uint32_t tag) {
  // Summed in double: large pictures must not wrap round to small sizes.
  double sum = 0;
  for (const SizeRecord& s : records) {
    const double c = std::min(cap, s.resolution);
    sum += std::trunc(c * s.widthInches * c * s.heightInches * s.channels);
  }
  return KilobytesForCompression(sum, tag);
}

int EstimatePDFSize(jobstr* job, std::vector<SizeRecord>& records, int& baseKB, std::uint32_t tag,
                    bool reuse, bool warn, int cap) {
  if (!job) return 0;
  if (reuse) {
    if (cap == -1) cap = MaxImageResolution(records);
    const double total = static_cast<double>(EstimateImageBytes(records, cap, tag)) + baseKB;
    return static_cast<int>(std::min<double>(total, 2147483647.0));
  }
  SizeCalculationVisitor visitor(job, records, tag, cap);
  visitor.Walk(jobGetSpahan(job));
  if (warn && visitor.IsInconclusive())
    TavGen::message(TavGen::kWarning, 1, "PDF/SIZE ESTIMATION INCONCLUSIVE");
  baseKB = visitor.GetBaseKilobytes();
  return visitor.GetTotalKilobytes();
}

}  // namespace TavPDF

using namespace TavPDF;

int CalculateMaxSizeConfiguration(jobstr* job, PDFSettings& settings, bool warn) {
  if (!job) return 0;
  std::vector<SizeRecord> records;
  int base = 100;
  int size = EstimatePDFSize(job, records, base, kCompressionLossless, false, warn, -1);
  if (size <= settings.MaxSize) return size;
  settings.CompressImages = 50;
  size = EstimatePDFSize(job, records, base, kCompressionJpeg, true, warn, -1);
  if (size <= settings.MaxSize) return size;
  int r = MaxImageResolution(records);
  do {
    if (r < kResolutionFloor) break;
    size = EstimatePDFSize(job, records, base, kCompressionJpeg, true, warn, r);
    --r;
  } while (size > settings.MaxSize);
  settings.UseDownsampling = 1;
  settings.DownsampleResolution = r;
  settings.UseAveraging = 1;
  return size;
}

namespace {
// The job's default art box in job units; false when it is empty.
bool previewBox(const jobstr* job, double& width, double& height) {
  TavSys::tv_rectangle r;
  if (!getboxconst(job, getdefaultboxtype(job, kArtBox), r)) return false;
  width = r.right - r.left;
  height = r.bottom - r.top;  // job coordinates point down
  return width > 0 && height > 0;
}
}  // namespace

int CalculatePPI(const jobstr* job, int kb) {
  if (!job) return 0;
  double w = 0, h = 0;
  if (!previewBox(job, w, h)) return 0;
  const double p = TavDB::getppi(job);
  const double value = p * p * static_cast<double>(kb) * 4.0 / (h * w * kBytesToKB * 3.0);
  const int r = value > 0 ? TavSys::iround(std::sqrt(value)) : 0;
  return std::clamp(r, 10, 72);
}

int CalculateSize(const jobstr* job, int ppi) {
  if (!job) return 0;
  // A resolution of 0 or less is no preview at all: the smallest size.
  const double c = std::min(ppi, 72);
  double w = 0, h = 0;
  if (!previewBox(job, w, h)) return 0;
  const double p = TavDB::getppi(job);
  const double area = std::trunc(h * w * kBytesToKB);
  const int size = TavSys::iround(area * (c * c * 3) / (p * p * 4));
  return std::max(size, 100);
}

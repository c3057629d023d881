#pragma once
// Size estimation: a model of the written PDF's size (a fixed base, a little
// per path, the sizes of placed files, and every mapped picture's pixels
// scaled by a compression ratio), used to choose image compression and a
// downsampling resolution that meet a maximum file size.
#include <cstdint>
#include <vector>

#include "platform/kernel/exportkernel.h"

class PDFSettings;

namespace TavPDF {

inline constexpr std::uint32_t kCompressionLossless = 0x6c6c7373;  // 'llss'
inline constexpr std::uint32_t kCompressionJpeg = 0x6a706567;      // 'jpeg'

// One mapped picture as the estimate sees it.
struct SizeRecord {
  double widthInches = 0;
  double heightInches = 0;
  int channels = 0;
  int resolution = 0;  // pixels per inch
};

class SizeCalculationVisitor : public SoftmaskVisitor {
 public:
  // records: filled in walk order (owned by the caller). cap < 0: no cap.
  SizeCalculationVisitor(jobstr* job, std::vector<SizeRecord>& records, std::uint32_t tag, int cap);
  void VisitPaintedObject(TavDB::Object& object) override;
  bool IsInconclusive() const { return mInconclusive; }
  int GetBaseKilobytes() const;
  int GetTotalKilobytes() const;

 private:
  std::vector<SizeRecord>& mRecords;
  std::uint32_t mTag;
  int mCap;
  double mBaseKB = 20.0;
  double mImageKB = 0;
  bool mInconclusive = false;
};

// Kilobytes of `bytes` after compression of the kind: bytes / 1024 divided
// by 6.0 for 'jpeg', by 3.5 for 'llss', unchanged otherwise; rounded.
int KilobytesForCompression(double bytes, std::uint32_t tag);
// The largest resolution of the records; 144 when there are none.
int MaxImageResolution(const std::vector<SizeRecord>& records);
// Kilobytes of the records' pixels at resolution min(cap, record's).
int EstimateImageBytes(const std::vector<SizeRecord>& records, int cap, std::uint32_t tag);
// The estimate in KB. reuse: from the records of an earlier walk (base KB
// given); otherwise a fresh walk that fills the records and base KB.
int EstimatePDFSize(jobstr* job, std::vector<SizeRecord>& records, int& baseKB, std::uint32_t tag,
                    bool reuse, bool warn, int cap);

}  // namespace TavPDF

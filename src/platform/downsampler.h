#pragma once
// The general library's downsampler: one channel of an image, fed row by row,
// handing out rows of a smaller image as soon as they are complete. Only the
// rows that contribute to the output row being built are held.
//
// With smoothing every output sample is the area-weighted mean of the input
// samples its box covers; without it the input sample at the box's centre is
// taken (subsampling). Samples are 32-bit; outputs are clamped to 0..255.
#include <cstdint>
#include <vector>

namespace TavGen {

class Downsampler {
 public:
  // Scales from `from` to `to` (percentages: 100 and 100 / factor); factors
  // below 1 are taken as 1. width and rows are the input's size.
  Downsampler(double from, double to, std::int32_t width, std::int32_t rows, bool smoothing);

  // The output width and row count (at least 1 each).
  std::int32_t resize(std::int32_t width) const;
  std::int32_t resizeY(std::int32_t rows) const;

  // Feeds the next input row (width samples).
  void stuff(const std::int32_t* row);
  // An output row is complete.
  bool ready() const { return ready_; }
  // Takes the completed output row (output-width samples).
  void get(std::int32_t* out);
  // The row in progress, as far as the input went (used when the input ended
  // before the last output row was complete); false when none is left.
  bool getlastline(std::int32_t* out);

 private:
  struct Tap {
    std::int32_t first;          // first input column
    std::vector<double> weights; // one per input column from `first`
  };
  void finishRow();

  std::int32_t inWidth_, inRows_, outWidth_, outRows_;
  double stepX_, stepY_;  // input pixels per output pixel
  bool smoothing_;
  std::vector<Tap> taps_;
  std::vector<double> sum_;        // weighted sums of the row in progress
  double weight_ = 0;              // its accumulated vertical weight
  std::vector<std::int32_t> done_; // a completed row
  std::int32_t inRow_ = 0;         // input rows fed
  std::int32_t outRow_ = 0;        // output rows completed
  bool ready_ = false;
};

}  // namespace TavGen

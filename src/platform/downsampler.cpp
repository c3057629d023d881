#include "platform/downsampler.h"

#include <algorithm>
#include <cmath>

namespace TavGen {

namespace {

std::int32_t scaled(std::int32_t n, double factor) {
  const double v = std::floor(double(n) / factor + 0.5);
  return v < 1 ? 1 : v > double(n) ? n : std::int32_t(v);
}

std::int32_t clampSample(double v) {
  const double r = std::floor(v + 0.5);
  return r < 0 ? 0 : r > 255 ? 255 : std::int32_t(r);
}

}  // namespace

Downsampler::Downsampler(double from, double to, std::int32_t width, std::int32_t rows, bool smoothing)
    : inWidth_(std::max(width, 1)), inRows_(std::max(rows, 1)), smoothing_(smoothing) {
  double factor = (to > 0 && from > 0) ? from / to : 1.0;
  if (!(factor >= 1.0) || !std::isfinite(factor)) factor = 1.0;
  outWidth_ = scaled(inWidth_, factor);
  outRows_ = scaled(inRows_, factor);
  stepX_ = double(inWidth_) / outWidth_;
  stepY_ = double(inRows_) / outRows_;
  // Horizontal taps: the input columns (with their covered fraction) of each
  // output column; without smoothing the one column at the box's centre.
  taps_.resize(std::size_t(outWidth_));
  for (std::int32_t i = 0; i < outWidth_; ++i) {
    Tap& tap = taps_[std::size_t(i)];
    if (!smoothing_) {
      tap.first = std::min(inWidth_ - 1, std::int32_t((i + 0.5) * stepX_));
      tap.weights = {1.0};
      continue;
    }
    const double a = i * stepX_, b = (i + 1) * stepX_;
    tap.first = std::int32_t(std::floor(a));
    const std::int32_t last = std::min(inWidth_ - 1, std::int32_t(std::ceil(b)) - 1);
    for (std::int32_t x = tap.first; x <= last; ++x) {
      tap.weights.push_back(std::min<double>(b, x + 1) - std::max<double>(a, x));
    }
  }
  sum_.assign(std::size_t(outWidth_), 0.0);
  done_.assign(std::size_t(outWidth_), 0);
}

std::int32_t Downsampler::resize(std::int32_t) const { return outWidth_; }
std::int32_t Downsampler::resizeY(std::int32_t) const { return outRows_; }

void Downsampler::stuff(const std::int32_t* row) {
  if (inRow_ >= inRows_ || outRow_ >= outRows_) return;
  const std::int32_t y = inRow_++;
  auto addRow = [&](double w) {
    for (std::int32_t i = 0; i < outWidth_; ++i) {
      const Tap& tap = taps_[std::size_t(i)];
      double s = 0, covered = 0;
      for (std::size_t k = 0; k < tap.weights.size(); ++k) {
        s += tap.weights[k] * row[tap.first + std::int32_t(k)];
        covered += tap.weights[k];
      }
      sum_[std::size_t(i)] += w * (covered > 0 ? s / covered : 0.0);
    }
    weight_ += w;
  };
  if (!smoothing_) {
    // The output row whose centre lies in this input row takes it.
    const std::int32_t centre = std::min(inRows_ - 1, std::int32_t((outRow_ + 0.5) * stepY_));
    if (y == centre) {
      addRow(1.0);
      finishRow();
    }
    return;
  }
  // The input row [y, y + 1) may end the output row in progress and start the next.
  const double end = (outRow_ + 1) * stepY_;
  if (y + 1 <= end + 1e-9) {
    addRow(1.0);
    if (y + 1 >= end - 1e-9) finishRow();
    return;
  }
  addRow(end - y);
  finishRow();
  // The rest of this input row belongs to the next output row (a row is at
  // least one input row high, so it cannot complete that one too).
  if (outRow_ < outRows_) addRow(y + 1 - end);
}

void Downsampler::finishRow() {
  for (std::int32_t i = 0; i < outWidth_; ++i) {
    done_[std::size_t(i)] = clampSample(weight_ > 0 ? sum_[std::size_t(i)] / weight_ : 0);
  }
  std::fill(sum_.begin(), sum_.end(), 0.0);
  weight_ = 0;
  ++outRow_;
  ready_ = true;
}

void Downsampler::get(std::int32_t* out) {
  std::copy(done_.begin(), done_.end(), out);
  ready_ = false;
}

bool Downsampler::getlastline(std::int32_t* out) {
  if (outRow_ >= outRows_) return false;
  if (weight_ <= 0) {
    // Nothing of this row came in: repeat the last row handed out.
    std::copy(done_.begin(), done_.end(), out);
    ++outRow_;
    return true;
  }
  finishRow();
  get(out);
  return true;
}

}  // namespace TavGen

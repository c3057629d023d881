#include "platform/imagestream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TavSys {

// ---- clip ----------------------------------------------------------------------------

ClipStream::ClipStream(std::unique_ptr<ImageStream> source, std::int32_t top, std::int32_t left,
                       std::int32_t bottom, std::int32_t right)
    : mSource(std::move(source)) {
  const std::int32_t h = mSource->GetHeight(), w = mSource->GetWidth();
  mTop = std::clamp(top, 0, h);
  mBottom = std::clamp(bottom, mTop, h);
  mLeft = std::clamp(left, 0, w);
  mRight = std::clamp(right, mLeft, w);
  mRow.resize(mSource->RowBytes());
}

bool ClipStream::GetLine(std::uint8_t* row) {
  if (mNext >= mBottom || GetWidth() == 0) return false;
  while (mNext < mTop) {
    if (!mSource->GetLine(mRow.data())) return false;
    ++mNext;
  }
  if (!mSource->GetLine(mRow.data())) return false;
  ++mNext;
  const std::size_t planes = std::size_t(GetPlanes());
  std::memcpy(row, mRow.data() + std::size_t(mLeft) * planes, std::size_t(GetWidth()) * planes);
  return true;
}

// ---- bleed ---------------------------------------------------------------------------

BleedStream::BleedStream(std::unique_ptr<ImageStream> source, int bleed)
    : mSource(std::move(source)), mBleed(std::max(bleed, 0)) {
  mRow.resize(mSource->RowBytes());
}

bool BleedStream::GetLine(std::uint8_t* row) {
  const std::int32_t h = mSource->GetHeight(), w = mSource->GetWidth();
  if (h <= 0 || w <= 0 || mNext >= GetHeight()) return false;
  // Source row mNext - bleed, held to the picture's first and last rows.
  const std::int32_t wanted = std::clamp(mNext - mBleed, 0, h - 1);
  while (mHeld < wanted) {
    if (!mSource->GetLine(mRow.data())) return false;
    ++mHeld;
  }
  const std::size_t planes = std::size_t(GetPlanes());
  const std::size_t inner = std::size_t(w) * planes;
  std::uint8_t* out = row;
  for (int i = 0; i < mBleed; ++i, out += planes) std::memcpy(out, mRow.data(), planes);
  std::memcpy(out, mRow.data(), inner);
  out += inner;
  for (int i = 0; i < mBleed; ++i, out += planes) std::memcpy(out, mRow.data() + inner - planes, planes);
  ++mNext;
  return true;
}

// ---- downsampling --------------------------------------------------------------------

TavImageDownsamplerFactors::TavImageDownsamplerFactors(std::int32_t w, std::int32_t h, double fx, double fy)
    : width(std::max(w, 1)), height(std::max(h, 1)), factorX(fx), factorY(fy) {
  // The downsampler's own rounding decides the output size.
  const TavGen::Downsampler x(100.0, fx > 1.0 ? 100.0 / fx : 100.0, width, 1, false);
  const TavGen::Downsampler y(100.0, fy > 1.0 ? 100.0 / fy : 100.0, 1, height, false);
  outWidth = x.resize(width);
  outHeight = y.resizeY(height);
}

TavImageDownsamplerStream::TavImageDownsamplerStream(std::unique_ptr<ImageStream> source,
                                                     const TavImageDownsamplerFactors& factors, bool smoothing)
    : mSource(std::move(source)) {
  const std::int32_t w = mSource->GetWidth(), h = mSource->GetHeight();
  const double f = std::max(factors.factorX, 1.0);
  for (int p = 0; p < mSource->GetPlanes(); ++p) {
    mPlanes.push_back(std::make_unique<TavGen::Downsampler>(100.0, 100.0 / f, w, h, smoothing));
  }
  mWidth = mPlanes.empty() || w <= 0 ? 0 : mPlanes.front()->resize(w);
  mHeight = mPlanes.empty() || h <= 0 ? 0 : mPlanes.front()->resizeY(h);
  mIn.resize(mSource->RowBytes());
  mPlane.resize(std::size_t(std::max(w, mWidth)) + 4);
}

bool TavImageDownsamplerStream::GetLine(std::uint8_t* row) {
  if (mGiven >= mHeight) return false;
  const std::size_t planes = mPlanes.size();
  const std::int32_t w = mSource->GetWidth();
  while (!mPlanes.front()->ready() && !mSourceDone) {
    if (!mSource->GetLine(mIn.data())) {
      mSourceDone = true;
      break;
    }
    for (std::size_t p = 0; p < planes; ++p) {
      for (std::int32_t x = 0; x < w; ++x) mPlane[std::size_t(x)] = mIn[std::size_t(x) * planes + p];
      mPlanes[p]->stuff(mPlane.data());
    }
  }
  const bool ready = mPlanes.front()->ready();
  for (std::size_t p = 0; p < planes; ++p) {
    if (ready) {
      mPlanes[p]->get(mPlane.data());
    } else if (!mPlanes[p]->getlastline(mPlane.data())) {
      return false;
    }
    for (std::int32_t x = 0; x < mWidth; ++x) {
      row[std::size_t(x) * planes + p] = std::uint8_t(std::clamp(mPlane[std::size_t(x)], 0, 255));
    }
  }
  ++mGiven;
  return true;
}

// ---- inks to RGB ---------------------------------------------------------------------

TavImageStreamSepsToRGBConverter::TavImageStreamSepsToRGBConverter(std::unique_ptr<ImageStream> source,
                                                                   TavImageInfo info)
    : mSource(std::move(source)), mInfo(std::move(info)) {
  mIn.resize(mSource->RowBytes());
  mInfo.channels.resize(std::size_t(mSource->GetPlanes()));
}

bool TavImageStreamSepsToRGBConverter::GetLine(std::uint8_t* row) {
  if (!mSource->GetLine(mIn.data())) return false;
  const std::size_t planes = std::size_t(mSource->GetPlanes());
  for (std::int32_t x = 0; x < GetWidth(); ++x) {
    double rgb[3] = {1, 1, 1};
    for (std::size_t p = 0; p < planes; ++p) {
      const double t = mIn[std::size_t(x) * planes + p] / 255.0;
      const TavImageInfo::Channel& c = mInfo.channels[p];
      for (int k = 0; k < 3; ++k) {
        rgb[k] = c.opacity > 0 ? rgb[k] * (1 - t) + c.rgb[k] * t : rgb[k] * (1 - t * (1 - c.rgb[k]));
      }
    }
    for (int k = 0; k < 3; ++k) row[std::size_t(x) * 3 + std::size_t(k)] = std::uint8_t(std::lround(rgb[k] * 255));
  }
  return true;
}

}  // namespace TavSys

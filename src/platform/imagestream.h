#pragma once
// The system library's image streams: sources of image rows that are chained
// (a picture's channels, cut to a rectangle, grown by a bleed, downsampled,
// converted to RGB) and read row by row, so that memory stays flat in the
// image's height.
//
// A row holds GetWidth() pixels of GetPlanes() bytes each, the planes
// interleaved pixel by pixel. GetLine fills the next row and answers false
// once every row was delivered; a source that cannot be read throws
// TavSys::Error.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/downsampler.h"

namespace TavSys {

class ImageStream {
 public:
  virtual ~ImageStream() = default;
  virtual std::int32_t GetWidth() const = 0;
  virtual std::int32_t GetHeight() const = 0;
  virtual int GetPlanes() const = 0;
  virtual bool GetLine(std::uint8_t* row) = 0;
  std::size_t RowBytes() const { return std::size_t(GetWidth()) * std::size_t(GetPlanes()); }
};

// The part of a stream inside a rectangle of its pixels (top, left, bottom,
// right; bottom and right exclusive), cut to the stream. Rows above the
// rectangle are read and dropped.
class ClipStream : public ImageStream {
 public:
  ClipStream(std::unique_ptr<ImageStream> source, std::int32_t top, std::int32_t left, std::int32_t bottom,
             std::int32_t right);
  std::int32_t GetWidth() const override { return mRight - mLeft; }
  std::int32_t GetHeight() const override { return mBottom - mTop; }
  int GetPlanes() const override { return mSource->GetPlanes(); }
  bool GetLine(std::uint8_t* row) override;

 private:
  std::unique_ptr<ImageStream> mSource;
  std::int32_t mTop, mLeft, mBottom, mRight;
  std::int32_t mNext = 0;  // source rows read
  std::vector<std::uint8_t> mRow;
};

// The stream grown by `bleed` pixels on every side, the edge pixels repeated,
// so that an image placed a little larger than its pixels shows no seam.
class BleedStream : public ImageStream {
 public:
  BleedStream(std::unique_ptr<ImageStream> source, int bleed);
  // An empty source stays empty.
  std::int32_t GetWidth() const override { return Grown(mSource->GetWidth()); }
  std::int32_t GetHeight() const override { return Grown(mSource->GetHeight()); }
  int GetPlanes() const override { return mSource->GetPlanes(); }
  bool GetLine(std::uint8_t* row) override;

 private:
  std::int32_t Grown(std::int32_t n) const { return n > 0 ? n + 2 * mBleed : 0; }
  std::unique_ptr<ImageStream> mSource;
  int mBleed;
  std::int32_t mNext = 0;  // output rows given
  std::vector<std::uint8_t> mRow;  // the source row last read
  std::int32_t mHeld = -1;         // its index
};

// The output size of downsampling an image of width x height by the factors
// (factors of 1 or below leave a side as it is).
struct TavImageDownsamplerFactors {
  TavImageDownsamplerFactors(std::int32_t width, std::int32_t height, double factorX, double factorY);
  std::int32_t width, height;        // input
  double factorX, factorY;
  std::int32_t outWidth, outHeight;  // at least 1 each
};

// Downsamples every plane of the stream by the factors; with smoothing each
// output sample is the mean of the input samples it covers.
class TavImageDownsamplerStream : public ImageStream {
 public:
  TavImageDownsamplerStream(std::unique_ptr<ImageStream> source, const TavImageDownsamplerFactors& factors,
                            bool smoothing);
  std::int32_t GetWidth() const override { return mWidth; }
  std::int32_t GetHeight() const override { return mHeight; }
  int GetPlanes() const override { return mSource->GetPlanes(); }
  bool GetLine(std::uint8_t* row) override;

 private:
  std::unique_ptr<ImageStream> mSource;
  std::vector<std::unique_ptr<TavGen::Downsampler>> mPlanes;
  std::int32_t mWidth, mHeight;
  std::int32_t mGiven = 0;
  bool mSourceDone = false;
  std::vector<std::uint8_t> mIn;
  std::vector<std::int32_t> mPlane;
};

// Channels of an ink image for the conversion to RGB: per plane the ink's
// name, its RGB colour (0..1) and whether it covers what lies below it.
struct TavImageInfo {
  struct Channel {
    std::u16string name;
    double rgb[3] = {0, 0, 0};
    double opacity = 0;  // 1: covers; 0: mixes (multiplies) with the inks before it
  };
  double resolution = 72;
  std::vector<Channel> channels;
};

// Ink planes (0 none, 255 full) to RGB: starting from white, each ink in
// plane order multiplies the colour by its own where it lies (an opaque ink
// covers instead).
class TavImageStreamSepsToRGBConverter : public ImageStream {
 public:
  TavImageStreamSepsToRGBConverter(std::unique_ptr<ImageStream> source, TavImageInfo info);
  std::int32_t GetWidth() const override { return mSource->GetWidth(); }
  std::int32_t GetHeight() const override { return mSource->GetHeight(); }
  int GetPlanes() const override { return 3; }
  bool GetLine(std::uint8_t* row) override;

 private:
  std::unique_ptr<ImageStream> mSource;
  TavImageInfo mInfo;
  std::vector<std::uint8_t> mIn;
};

}  // namespace TavSys

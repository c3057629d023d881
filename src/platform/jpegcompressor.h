#pragma once
// The core library's JPEG compressor: scan lines in, JPEG bytes out through
// the byte-output operation that a subclass provides. Gray (1 byte per
// pixel), RGB (3) and CMYK (4; stored as plain ink values, no Adobe
// inversion) are compressed at the quality given (1..100).
#include <cstddef>
#include <cstdint>
#include <memory>

class tv_jpeg_compressor {
 public:
  // colourModel: 5 CMYK, 2 RGB, anything else one channel. The resolution
  // pair (pixels per inch as numerator / denominator) goes into the JFIF
  // header when both are positive.
  tv_jpeg_compressor(int colourModel, std::int32_t height, std::int32_t width,
                     std::int32_t resolutionNumerator, std::int32_t resolutionDenominator,
                     int quality);
  virtual ~tv_jpeg_compressor();
  tv_jpeg_compressor(const tv_jpeg_compressor&) = delete;
  tv_jpeg_compressor& operator=(const tv_jpeg_compressor&) = delete;

  // Receives compressed bytes in order; returns 0.
  virtual int output_bytes(const std::uint8_t* bytes, std::size_t count) = 0;

  // False (with nothing started) when the sizes cannot be compressed.
  bool start_compression();
  // One scan line of width × bytesPerPixel() bytes. Lines beyond the height
  // are ignored; false after a failure.
  bool tv_compress_line(const std::uint8_t* line);
  // Ends the data; missing scan lines are filled with white first. Returns
  // the number of lines that had to be filled, or -1 when compression failed.
  int finish_compression();

  int bytesPerPixel() const { return bytesPerPixel_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  std::int32_t linesWritten() const { return lines_; }

  struct State;

 private:
  int model_;
  int bytesPerPixel_;
  std::int32_t height_, width_;
  std::int32_t resNum_, resDen_;
  int quality_;
  std::int32_t lines_ = 0;
  bool started_ = false;
  bool failed_ = false;
  std::unique_ptr<State> state_;
};

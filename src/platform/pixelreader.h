#pragma once
// The kernel's pixel reader: opens a TIFF or JPEG picture, tells its layout
// (the picture header) and hands out its rows one at a time, so that memory
// stays flat in the picture's height (a tiled TIFF keeps one row of tiles).
//
// Rows come out as 8 bits per sample, samples interleaved:
//   - gray and bitmap pictures as gray (0 black, 255 white), a 1-bit picture
//     as 0 and 255 per pixel, whatever the file's own polarity;
//   - RGB as R, G, B;
//   - CMYK and further ink channels as ink (0 none, 255 full);
// alpha channels are left out.
//
// A file that cannot be read as such a picture (damaged, truncated, a layout
// not listed above, more pixels than kMaxPixels, or pixel data that cannot
// hold the rows the file claims) gives TavSys::Error with the key
// "PDF/UNSUPPORTED PICTURE TYPE" and the file's name; reading never crashes
// and never allocates more than the row limit below.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/tav_error.h"

namespace TavSys {

// Colour models of the picture header.
enum PixelModel : int {
  kPixelGray = 0,
  kPixelBitmap = 1,
  kPixelRGB = 2,
  kPixelCMYK = 5,
  kPixelMultichannel = 8,
};

struct PixelHeader {
  int channels = 0;
  int model = kPixelGray;
  double resolution = 0;   // pixels per inch; 0 when the file does not say
  std::int32_t rows = 0;
  std::int32_t width = 0;
  int bitsPerSample = 8;   // as stored: 1 or 8
  // Bytes of one row as pixrea gives it (width × channels).
  std::size_t rowBytes() const { return std::size_t(width) * std::size_t(channels); }
};

class pixreatyp {
 public:
  // The largest row (or row of tiles) a picture may ask to be held.
  static constexpr std::size_t kMaxBufferBytes = std::size_t(64) << 20;
  // The most pixels a picture may have (65,536 x 65,536); a file claiming
  // more is refused when it is opened.
  static constexpr std::uint64_t kMaxPixels = std::uint64_t(1) << 32;

  // Opens the file and reads its header. Throws TavSys::Error (see above).
  explicit pixreatyp(const std::string& path);
  ~pixreatyp();
  pixreatyp(const pixreatyp&) = delete;
  pixreatyp& operator=(const pixreatyp&) = delete;

  const PixelHeader& header() const { return header_; }
  const std::string& path() const { return path_; }
  bool isJpeg() const;
  // Reads the next row (header().rowBytes() bytes) into row. Throws
  // TavSys::Error when the file ends early or is damaged, or when every row
  // was read already.
  void readRow(std::uint8_t* row);
  std::int32_t rowsRead() const { return next_; }

  class Source;

 private:
  std::string path_;
  PixelHeader header_;
  std::int32_t next_ = 0;
  std::unique_ptr<Source> source_;
};

// The kernel's calls: the header of an open picture, its next row, and the
// end of reading (the reader is closed and freed).
const PixelHeader& pixreabeg(const pixreatyp& reader);
void pixrea(pixreatyp& reader, std::uint8_t* row);
void pixreaend(std::unique_ptr<pixreatyp>& reader);

// Whether the file starts like a JPEG file (the bytes FF D8 FF).
bool fileIsJPEG(const std::string& path);

// The errors the writers stop on when a picture or map file cannot be
// written: "PDF/UNSUPPORTED PICTURE TYPE" (the file cannot be read as a
// picture; `why` goes to the developer's log) and "PDF/CANNOT OPEN PICTURE
// FILE", both naming the file. A picture is never left out of a file that
// is otherwise written.
Error PictureUnreadable(const std::string& fileName, const std::string& why);
Error PictureFileMissing(const std::string& fileName);

}  // namespace TavSys

namespace tfftyp {
// The resolution of a picture file as a ratio (numerator / denominator pixels
// per inch); false when the file cannot be read or does not say.
bool GetResolution(const std::string& path, std::int32_t& numerator, std::int32_t& denominator);
}  // namespace tfftyp

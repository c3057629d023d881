#pragma once
// The benchmarks' pixel files: 8-bit CMYK TIFFs in uncompressed strips, each
// row filled by the caller.
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace tavbench {

// Writes `file` of `width` x `height` pixels; `fill(row, y)` sets the
// width * 4 bytes of row y. A resolution of 0 leaves the resolution out.
template <typename Fill>
void writeCmykTiff(const std::filesystem::path& file, std::uint32_t width, std::uint32_t height,
                   std::uint32_t rowsPerStrip, float resolution, Fill fill) {
  TIFF* t = TIFFOpen(file.c_str(), "w");
  if (t == nullptr) throw std::runtime_error("cannot write " + file.string());
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  if (resolution > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, resolution);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, resolution);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  std::vector<std::uint8_t> row(std::size_t(width) * 4);
  for (std::uint32_t y = 0; y < height; ++y) {
    fill(row, y);
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
}

}  // namespace tavbench

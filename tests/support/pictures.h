#pragma once
// Test support: small TIFF pictures written with libtiff, sample by sample as
// a test describes them.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace tavtest {

struct TiffLayout {
  int width = 8;
  int height = 4;
  int samples = 1;              // samples per pixel, extra samples included
  int bits = 8;                 // 8, or 1 for a one-sample bitmap
  int photometric = 1;          // TIFF's: 0 min-is-white, 1 min-is-black, 2 RGB, 5 separated
  int compression = 1;          // TIFF's: 1 none, 5 LZW, 8 Deflate, 32773 PackBits
  std::vector<int> extraTypes;  // types of the trailing extra samples (0 unspecified, 2 alpha)
  int tile = 0;                 // tile size (multiple of 16), 0 for strips
  double resolution = 0;        // pixels per inch, 0 for none
  // Sample s of pixel (x, y); 1-bit pictures take 0 or 1.
  std::function<std::uint8_t(int x, int y, int s)> sample = [](int x, int y, int s) {
    return std::uint8_t((x * 31 + y * 17 + s * 70) & 255);
  };
};

// Writes the picture; throws std::runtime_error when libtiff refuses.
void writeTiff(const std::filesystem::path& file, const TiffLayout& layout);

// Writes a JPEG file of the given size and samples (1, 3 or 4 of 8 bits,
// quality 95). CMYK is stored inverted behind an Adobe marker, as most
// programs write it; throws std::runtime_error when libjpeg refuses.
void writeJpeg(const std::filesystem::path& file, const TiffLayout& layout);

}  // namespace tavtest

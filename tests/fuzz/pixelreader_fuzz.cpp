// deps: tv_platform
// Feeds damaged TIFF and JPEG files through the pixel reader: every row is
// read; a file it cannot read must give the unsupported-picture error naming
// the file, never a crash, a leak or any other failure.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/pixelreader.h"
#include "platform/tav_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("tavpdf-pixelreader-fuzz-" + std::to_string(getpid()))).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    TavSys::pixreatyp reader(path);
    const TavSys::PixelHeader& h = reader.header();
    if (h.width < 1 || h.rows < 1 || h.channels < 1) std::abort();
    std::vector<std::uint8_t> row(h.rowBytes());
    // Enough rows to reach damaged data; a huge declared height is not read out.
    std::size_t budget = std::size_t(8) << 20;
    for (std::int32_t y = 0; y < h.rows && budget >= row.size(); ++y, budget -= row.size()) {
      reader.readRow(row.data());
    }
  } catch (const TavSys::Error& e) {
    if (e.key() != "PDF/UNSUPPORTED PICTURE TYPE") std::abort();
    bool named = false;
    for (const auto& [key, value] : e.placeholders()) named = named || (key == "__FILENAME__" && !value.empty());
    if (!named) std::abort();
  }
  std::remove(path.c_str());
  return 0;
}

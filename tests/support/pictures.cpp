#include "support/pictures.h"

#include <tiffio.h>

#include <cstdio>

#include <jpeglib.h>

#include <stdexcept>

namespace tavtest {

void writeTiff(const std::filesystem::path& file, const TiffLayout& layout) {
  TIFF* t = TIFFOpen(file.c_str(), "w");
  if (t == nullptr) throw std::runtime_error("cannot write " + file.string());
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, std::uint32_t(layout.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, std::uint32_t(layout.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, std::uint16_t(layout.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(layout.samples));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, std::uint16_t(layout.photometric));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, std::uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_COMPRESSION, std::uint16_t(layout.compression));
  if (!layout.extraTypes.empty()) {
    std::vector<std::uint16_t> types(layout.extraTypes.begin(), layout.extraTypes.end());
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, std::uint16_t(types.size()), types.data());
  }
  if (layout.resolution > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(layout.resolution));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(layout.resolution));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, std::uint16_t(RESUNIT_INCH));
  }
  auto packed = [&](int x0, int y, int count, std::uint8_t* out) {
    if (layout.bits == 1) {
      for (int i = 0; i < (count + 7) / 8; ++i) out[i] = 0;
      for (int i = 0; i < count; ++i)
        if (x0 + i < layout.width && layout.sample(x0 + i, y, 0) != 0) out[i / 8] |= std::uint8_t(0x80 >> (i % 8));
      return;
    }
    for (int i = 0; i < count; ++i)
      for (int s = 0; s < layout.samples; ++s)
        out[i * layout.samples + s] = x0 + i < layout.width && y < layout.height ? layout.sample(x0 + i, y, s) : 0;
  };
  bool ok = true;
  if (layout.tile > 0) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, std::uint32_t(layout.tile));
    TIFFSetField(t, TIFFTAG_TILELENGTH, std::uint32_t(layout.tile));
    const int rowBytes = layout.bits == 1 ? (layout.tile + 7) / 8 : layout.tile * layout.samples;
    std::vector<std::uint8_t> tile(std::size_t(rowBytes) * std::size_t(layout.tile));
    for (int y0 = 0; y0 < layout.height; y0 += layout.tile)
      for (int x0 = 0; x0 < layout.width; x0 += layout.tile) {
        for (int r = 0; r < layout.tile; ++r) packed(x0, y0 + r, layout.tile, tile.data() + r * rowBytes);
        ok = ok && TIFFWriteTile(t, tile.data(), std::uint32_t(x0), std::uint32_t(y0), 0, 0) >= 0;
      }
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::uint32_t(3));
    std::vector<std::uint8_t> row(std::size_t(layout.width) * std::size_t(layout.samples) + 8);
    for (int y = 0; y < layout.height; ++y) {
      packed(0, y, layout.width, row.data());
      ok = ok && TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) >= 0;
    }
  }
  TIFFClose(t);
  if (!ok) throw std::runtime_error("libtiff could not write " + file.string());
}

void writeJpeg(const std::filesystem::path& file, const TiffLayout& layout) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot write " + file.string());
  jpeg_compress_struct c;
  jpeg_error_mgr e;
  c.err = jpeg_std_error(&e);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = JDIMENSION(layout.width);
  c.image_height = JDIMENSION(layout.height);
  c.input_components = layout.samples;
  c.in_color_space = layout.samples == 4 ? JCS_CMYK : layout.samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (layout.samples == 4) c.write_Adobe_marker = TRUE;
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row(std::size_t(layout.width) * std::size_t(layout.samples));
  for (int y = 0; y < layout.height; ++y) {
    for (int x = 0; x < layout.width; ++x)
      for (int s = 0; s < layout.samples; ++s) {
        const std::uint8_t v = layout.sample(x, y, s);
        row[std::size_t(x * layout.samples + s)] = layout.samples == 4 ? JSAMPLE(255 - v) : JSAMPLE(v);
      }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

}  // namespace tavtest

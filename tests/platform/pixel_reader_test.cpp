// The pixel reader over libtiff and libjpeg, the JPEG compressor and the
// downsampler.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/downsampler.h"
#include "platform/jpegcompressor.h"
#include "platform/pixelreader.h"
#include "platform/tav_error.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace {

using TavSys::PixelHeader;

tavtest::TiffLayout layout(const std::function<void(tavtest::TiffLayout&)>& change) {
  tavtest::TiffLayout s;
  change(s);
  return s;
}
using TavSys::pixreatyp;

// Reads every row of a picture.
std::vector<std::vector<std::uint8_t>> readAll(const std::filesystem::path& file, PixelHeader& header) {
  pixreatyp reader(file.string());
  header = reader.header();
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < header.rows; ++y) {
    rows.emplace_back(header.rowBytes());
    reader.readRow(rows.back().data());
  }
  EXPECT_THROW(reader.readRow(rows.back().data()), TavSys::Error);  // nothing after the last row
  return rows;
}

TEST(PixelReader, TiffLayoutsComeOutAsGrayRgbOrInkRows) {
  auto bit = [](int x, int y, int) { return std::uint8_t((x + y) % 3 == 0); };
  struct Case {
    const char* name;
    tavtest::TiffLayout layout;
    int model, channels;
    // The sample expected for channel c of pixel (x, y).
    std::function<int(const tavtest::TiffLayout&, int, int, int)> expect;
  };
  auto same = [](const tavtest::TiffLayout& s, int x, int y, int c) { return int(s.sample(x, y, c)); };
  auto inverted = [](const tavtest::TiffLayout& s, int x, int y, int c) { return 255 - s.sample(x, y, c); };
  auto bits = [](const tavtest::TiffLayout& s, int x, int y, int) { return s.sample(x, y, 0) ? 255 : 0; };
  auto bitsInverted = [](const tavtest::TiffLayout& s, int x, int y, int) { return s.sample(x, y, 0) ? 0 : 255; };
  const Case cases[] = {
      {"gray", layout([&](tavtest::TiffLayout& t) { t.width = 11; t.height = 5; }), 0, 1, same},
      {"gray, white is zero", layout([&](tavtest::TiffLayout& t) { t.photometric = 0; }), 0, 1, inverted},
      {"bitmap", layout([&](tavtest::TiffLayout& t) { t.width = 13; t.bits = 1; t.compression = 32773; t.sample = bit; }), 1, 1, bits},
      {"bitmap, white is zero", layout([&](tavtest::TiffLayout& t) { t.width = 9; t.bits = 1; t.photometric = 0; t.sample = bit; }), 1, 1, bitsInverted},
      {"RGB, LZW", layout([&](tavtest::TiffLayout& t) { t.samples = 3; t.photometric = 2; t.compression = 5; }), 2, 3, same},
      {"CMYK, Deflate", layout([&](tavtest::TiffLayout& t) { t.samples = 4; t.photometric = 5; t.compression = 8; }), 5, 4, same},
      {"CMYK with alpha", layout([&](tavtest::TiffLayout& t) { t.samples = 5; t.photometric = 5; t.extraTypes = {2}; }), 5, 4, same},
      {"CMYK with a spot channel", layout([&](tavtest::TiffLayout& t) { t.samples = 5; t.photometric = 5; t.extraTypes = {0}; }), 8, 5, same},
      {"tiled", layout([&](tavtest::TiffLayout& t) { t.width = 40; t.height = 20; t.tile = 16; }), 0, 1, same},
      {"tiled bitmap", layout([&](tavtest::TiffLayout& t) { t.width = 40; t.height = 20; t.bits = 1; t.tile = 16; t.sample = bit; }), 1, 1, bits},
  };
  tavtest::TestFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto file = dir / "p.tif";
    tavtest::writeTiff(file, c.layout);
    PixelHeader h;
    const auto rows = readAll(file, h);
    EXPECT_EQ(h.model, c.model);
    ASSERT_EQ(h.channels, c.channels);
    ASSERT_EQ(h.width, c.layout.width);
    ASSERT_EQ(h.rows, c.layout.height);
    int wrong = 0;
    for (int y = 0; y < h.rows; ++y)
      for (int x = 0; x < h.width; ++x)
        for (int k = 0; k < h.channels; ++k)
          wrong += rows[std::size_t(y)][std::size_t(x * h.channels + k)] != c.expect(c.layout, x, y, k);
    EXPECT_EQ(wrong, 0);
  }
}

TEST(PixelReader, ResolutionAndRefusedFilesNameTheFile) {
  tavtest::TestFolder dir;
  tavtest::writeTiff(dir / "r.tif", layout([&](tavtest::TiffLayout& t) { t.resolution = 300; }));
  EXPECT_DOUBLE_EQ(pixreatyp((dir / "r.tif").string()).header().resolution, 300);
  std::int32_t num = 0, den = 0;
  ASSERT_TRUE(tfftyp::GetResolution((dir / "r.tif").string(), num, den));
  EXPECT_DOUBLE_EQ(double(num) / den, 300);

  tavtest::writeTiff(dir / "wide.tif", layout([&](tavtest::TiffLayout& t) { t.width = 64; t.height = 32; t.samples = 4; t.photometric = 5; t.compression = 5; }));
  const std::string whole = tavtest::readFile(dir / "wide.tif");
  tavtest::writeFile(dir / "cut.tif", whole.substr(0, whole.size() / 3));
  tavtest::writeFile(dir / "text.tif", "not a picture at all");
  tavtest::writeTiff(dir / "lab.tif", layout([&](tavtest::TiffLayout& t) { t.samples = 3; t.photometric = 8; }));  // CIELab
  for (const char* name : {"cut.tif", "text.tif", "lab.tif", "missing.tif"}) {
    SCOPED_TRACE(name);
    try {
      PixelHeader h;
      readAll(dir / name, h);
      ADD_FAILURE() << "read";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/UNSUPPORTED PICTURE TYPE");
      EXPECT_NE(e.text().find(name), std::string::npos) << e.text();
    }
  }
}

// JPEG data written by the compressor read back by the reader.
class FileCompressor : public tv_jpeg_compressor {
 public:
  using tv_jpeg_compressor::tv_jpeg_compressor;
  int output_bytes(const std::uint8_t* bytes, std::size_t count) override {
    data.append(reinterpret_cast<const char*>(bytes), count);
    return 0;
  }
  std::string data;
};

TEST(PixelReader, JpegRoundTripKeepsInkValuesAndPadsMissingLines) {
  tavtest::TestFolder dir;
  for (int model : {0, 5}) {
    SCOPED_TRACE(model);
    const int bpp = model == 5 ? 4 : 1;
    FileCompressor jpeg(model, 16, 16, 300, 1, 90);
    ASSERT_TRUE(jpeg.start_compression());
    std::vector<std::uint8_t> line(16 * std::size_t(bpp));
    for (int y = 0; y < 12; ++y) {  // four lines short
      for (int i = 0; i < 16 * bpp; ++i) line[std::size_t(i)] = std::uint8_t(i % bpp == 0 ? 200 : 40);
      ASSERT_TRUE(jpeg.tv_compress_line(line.data()));
    }
    EXPECT_EQ(jpeg.finish_compression(), 4);
    tavtest::writeFile(dir / "j.jpg", jpeg.data);
    PixelHeader h;
    const auto rows = readAll(dir / "j.jpg", h);
    EXPECT_EQ(h.model, model == 5 ? 5 : 0);
    EXPECT_NEAR(rows[5][0], 200, 4);
    if (model == 5) {
      EXPECT_NEAR(rows[5][1], 40, 4);
    }
    // The padded lines are white: no ink for CMYK, light for gray.
    EXPECT_NEAR(rows[15][0], model == 5 ? 0 : 255, 4);
  }
}

TEST(Downsampler, AveragesAreasAndSubsamplesCentres) {
  struct Case {
    const char* name;
    std::vector<std::vector<std::int32_t>> in;
    double factor;
    bool smoothing;
    std::vector<std::vector<std::int32_t>> out;
  };
  const Case cases[] = {
      {"halved, averaged", {{0, 10, 20, 30}, {40, 50, 60, 70}, {0, 0, 100, 100}, {0, 0, 100, 100}}, 2, true,
       {{25, 45}, {0, 100}}},
      {"halved, subsampled", {{0, 10, 20, 30}, {40, 50, 60, 70}, {0, 0, 100, 100}, {1, 2, 3, 4}}, 2, false,
       {{50, 70}, {2, 4}}},
      // 3 -> 2: each output covers one and a half inputs.
      {"by 1.5", {{0, 30, 60}, {0, 30, 60}, {90, 120, 150}}, 1.5, true, {{10, 50}, {70, 110}}},
      {"overshoot clamped", {{300, 300}, {300, 300}}, 2, true, {{255}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int w = int(c.in[0].size()), h = int(c.in.size());
    TavGen::Downsampler d(100.0, 100.0 / c.factor, w, h, c.smoothing);
    ASSERT_EQ(d.resize(w), int(c.out[0].size()));
    ASSERT_EQ(d.resizeY(h), int(c.out.size()));
    std::vector<std::vector<std::int32_t>> got;
    for (const auto& row : c.in) {
      d.stuff(row.data());
      if (d.ready()) {
        got.emplace_back(c.out[0].size());
        d.get(got.back().data());
      }
    }
    EXPECT_EQ(got, c.out);
  }
  // Input that ends early: the row in progress is handed out as it stands.
  TavGen::Downsampler d(100, 50, 2, 4, true);
  const std::int32_t row[2] = {80, 80};
  d.stuff(row);
  d.stuff(row);
  d.stuff(row);
  std::int32_t out[1] = {0};
  ASSERT_TRUE(d.ready());
  d.get(out);
  ASSERT_TRUE(d.getlastline(out));
  EXPECT_EQ(out[0], 80);
  EXPECT_FALSE(d.getlastline(out));
}

}  // namespace

// The pixel reader over libtiff and libjpeg, the JPEG compressor and the
// downsampler.
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "platform/downsampler.h"
#include "platform/jpegcompressor.h"
#include "platform/pixelreader.h"
#include "platform/tav_error.h"
#include "platform/tifflibrary.h"
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

// libtiff is loaded when the first TIFF file is opened. When it cannot be
// loaded, or lacks a function the reader calls, a TIFF file is refused as an
// unreadable one is, naming the file and why; with the library back the same
// file reads.
TEST(PixelReader, TiffFilesWithoutTheirLibraryAreRefusedNamingTheFileAndWhy) {
  tavtest::TestFolder dir;
  tavtest::writeTiff(dir / "r.tif", layout([&](tavtest::TiffLayout& t) { t.resolution = 300; }));
  struct LibraryKept {  // the build's libtiff back, whatever the cases do
    std::string name = TavSys::TiffLibrary().Name();
    ~LibraryKept() { TavSys::TiffLibrary().SetName(name); }
  } kept;
  struct Case {
    const char* what;
    const char* library;
    const char* reason;  // in the refusal's detail
  } cases[] = {
      {"a library that is not there", "libtavpdf-no-tiff.so.0", "libtavpdf-no-tiff.so.0"},
      {"a library without libtiff's functions", "libz.so.1", "TIFFOpen"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TavSys::TiffLibrary().SetName(c.library);
    try {
      pixreatyp reader((dir / "r.tif").string());
      ADD_FAILURE() << "read";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/UNSUPPORTED PICTURE TYPE");
      EXPECT_NE(e.text().find("r.tif"), std::string::npos) << e.text();
      EXPECT_NE(e.detail().find(c.reason), std::string::npos) << e.detail();
    }
  }
  TavSys::TiffLibrary().SetName(kept.name);
  EXPECT_DOUBLE_EQ(pixreatyp((dir / "r.tif").string()).header().resolution, 300);
}

namespace {

// A gray TIFF of one strip, written byte by byte: it may claim any size over
// whatever data it holds.
std::string claimingTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression, const std::string& data) {
  std::string out = "II*";
  out.push_back('\0');
  auto u16 = [&](std::uint32_t v) { out.push_back(char(v & 255)); out.push_back(char(v >> 8 & 255)); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
  u32(8 + std::uint32_t(data.size()));
  out += data;
  const std::vector<std::array<std::uint32_t, 3>> entries = {
      {256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, compression}, {262, 3, 1}, {273, 4, 8},
      {277, 3, 1},     {278, 4, height}, {279, 4, std::uint32_t(data.size())}, {284, 3, 1}};
  u16(std::uint32_t(entries.size()));
  for (const auto& [tag, type, value] : entries) {
    u16(tag);
    u16(type);
    u32(1);
    if (type == 3) {
      u16(value);
      u16(0);
    } else {
      u32(value);
    }
  }
  u32(0);
  return out;
}

}  // namespace

// A file that claims more pixels than a picture may have, or more than its
// data can hold at its compression's best, is refused when it is opened,
// before a row is read (reading it row by row would take as long as its
// claim); a JPEG file whose data end early is refused at the row that lacks.
TEST(PixelReader, FilesClaimingMoreThanTheyHoldAreRefusedWhenOpened) {
  tavtest::TestFolder dir;
  const std::string bytes(1200, '\x55');
  struct Case {
    const char* name;
    std::string file;
    const char* reason;  // empty: read
  } cases[] = {
      {"sound.tif", claimingTiff(40, 30, 1, bytes), ""},
      {"lying.tif", claimingTiff(60000, 60000, 1, bytes), "cannot hold the 3600000000 bytes"},
      {"lying-lzw.tif", claimingTiff(20000, 20000, 5, bytes), "bytes) cannot hold the 400000000 bytes"},
      {"huge.tif", claimingTiff(70000, 70000, 8, bytes), "70000 x 70000 pixels, more than a picture may have"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tavtest::writeFile(dir / c.name, c.file);
    try {
      PixelHeader h;
      readAll(dir / c.name, h);
      EXPECT_STREQ(c.reason, "") << "read";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/UNSUPPORTED PICTURE TYPE");
      EXPECT_NE(std::string(c.reason), "") << e.detail();
      EXPECT_NE(e.detail().find(c.reason), std::string::npos) << e.detail();
      EXPECT_THROW(pixreatyp((dir / c.name).string()), TavSys::Error) << "refused when opened";
    }
  }
  tavtest::TiffLayout photo = layout([](tavtest::TiffLayout& t) { t.width = 64; t.height = 64; t.samples = 3; t.photometric = 2; });
  tavtest::writeJpeg(dir / "whole.jpg", photo);
  const std::string jpeg = tavtest::readFile(dir / "whole.jpg");
  tavtest::writeFile(dir / "cut.jpg", jpeg.substr(0, jpeg.size() * 2 / 3));
  pixreatyp cut((dir / "cut.jpg").string());
  std::vector<std::uint8_t> row(cut.header().rowBytes());
  EXPECT_THROW(
      for (int y = 0; y < cut.header().rows; ++y) cut.readRow(row.data()), TavSys::Error);
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

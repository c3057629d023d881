// Image XObjects and the page writer's pixel path: dictionaries, row
// handlers, plates of images written from known rows, gradations written as
// images, and the temporary files of buffered images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "pdfproof_support.h"
#include "pictures/imagewriter.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/pageoutput.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "support/capture.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
  {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
  {"name": "Gold", "cmyk": [0, 20, 60, 20]}, {"name": "Green", "cmyk": [80, 0, 90, 0]}])";

std::unique_ptr<jobstr> emptyJob() { return g2test::makeJob(kInks, "[]", "[]", "[]"); }

using tavtest::StringSink;

TEST(RowHandlers, PackBitsPadShortImagesAndTakeJpegRowsInPieces) {
  StringSink bits;
  {
    pdfproofimghan1bittif h(bits, 2, 2, 0xFF);
    const std::uint8_t row[10] = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    h.WriteRows(row, 10, 1);
    EXPECT_TRUE(h.Finish());
    EXPECT_EQ(h.PaddedRows(), 1);  // the second row never came: white
  }
  EXPECT_EQ(bits.text, std::string("\x81\x80\xFF\xFF", 4));

  StringSink plain;
  pdfproofimghantif h(plain, 3, 1, 0);
  const std::uint8_t row[4] = {1, 2, 3, 4};
  h.WriteRows(row, 4, 1);  // more than declared: the rest is dropped
  EXPECT_EQ(plain.text, std::string("\x01\x02\x03", 3));

  StringSink jpeg;
  auto compressor = std::make_unique<PDFJpegCompressor>(5, 2, 4, 72, 1, 80, jpeg);
  ASSERT_TRUE(compressor->start_compression());
  const PDFJpegCompressor& c = *compressor;
  pdfproofimghanjpg j(std::move(compressor));
  const std::uint8_t half[8] = {10, 20, 30, 40, 10, 20, 30, 40};
  for (int i = 0; i < 3; ++i) j.WriteRows(half, 2, 4);  // rows handed in halves
  EXPECT_EQ(c.linesWritten(), 1);
  j.WriteRows(half, 2, 4);
  EXPECT_EQ(c.linesWritten(), 2);
  EXPECT_TRUE(j.Finish());
  EXPECT_EQ(jpeg.text.substr(0, 2), "\xFF\xD8");
}

TEST(ImageDictionary, FilterDecodeAndColourSpaceFollowTheArguments) {
  auto job = emptyJob();
  PDFSettings s = g2test::testSettings();
  g2test::Page page(*job, s);
  PDFProof& w = page.writer();
  std::array<std::uint16_t, 64> tints{};
  tints.fill(kTintUndefined);
  tints[4] = tints[5] = kTintFull;
  std::unique_ptr<ColorSpace> spots(w.GetSeparationColorSpace(tints.data(), 1, kTintFull, false, false, false, false, false));
  struct Case {
    const char* name;
    int model, quality, mode;
    bool decode, oneBit, space;
    int binary;  // filsavall
    std::vector<std::string> has, lacks;
  };
  const Case cases[] = {
      {"PostScript", -1, 0, 0, false, false, false, 1, {"/Subtype /PS", "/Name /Im"}, {"/Width", "/ColorSpace", "/BitsPerComponent"}},
      {"CMYK JPEG", 5, 50, 0, false, false, false, 1, {"/DCTDecode", "/DeviceCMYK", "/Subtype /Image"}, {"/Decode"}},
      {"CMYK, image mode 1", 5, 50, 1, false, false, false, 1, {"/FlateDecode"}, {"/DCTDecode"}},
      {"ink channels never JPEG", 8, 50, 0, false, false, true, 1, {"/FlateDecode"}, {"/DCTDecode"}},
      {"one bit never JPEG", 0, 50, 0, false, true, false, 1, {"/FlateDecode", "/BitsPerComponent 1"}, {"/DCTDecode"}},
      {"quality 0, binary", 0, 0, 0, false, false, false, 1, {"/DeviceGray"}, {"/Filter"}},
      {"quality 0, text", 0, 0, 0, false, false, false, 0, {"/ASCIIHexDecode"}, {}},
      {"mode 2 inverts", 0, 1, 2, false, false, false, 1, {"/Decode [ 1 0 ]"}, {}},
      {"mode 2 with decode", 0, 1, 2, true, false, false, 1, {}, {"/Decode"}},
      {"CMYK decode", 5, 1, 0, true, false, false, 1, {"/Decode [ 1 0 1 0 1 0 1 0 ]"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    filsavall = c.binary;
    w.SetImageMode(c.mode);
    PDFImageDic* dic = nullptr;
    EXPECT_EQ(w.outimabeg(72, 1, 10.7, 20.2, c.model, c.quality, "Im0_9", nullptr, c.decode, dic, 0,
                          c.space ? spots.get() : nullptr, nullptr, c.oneBit),
              nullptr);  // no image output is open
    ASSERT_NE(dic, nullptr);
    if (c.space) dic->PrepareOutput(&page.handler());
    StringSink raw;
    dic->Output(raw);
    // One blank between tokens, as a reader sees them.
    StringSink text;
    for (char ch : raw.text) {
      const bool blank = ch == ' ' || ch == '\n';
      if (!blank || (!text.text.empty() && text.text.back() != ' ')) text.text.push_back(blank ? ' ' : ch);
    }
    for (const std::string& key : c.has) EXPECT_NE(text.text.find(key), std::string::npos) << text.text;
    for (const std::string& key : c.lacks) EXPECT_EQ(text.text.find(key), std::string::npos) << text.text;
    if (c.model != -1) {
      EXPECT_NE(text.text.find("/Width 20 "), std::string::npos) << text.text;
      EXPECT_NE(text.text.find("/Height 10 "), std::string::npos) << text.text;
    }
  }
  filsavall = 1;
  w.SetImageMode(0);
  page.finish();
}

// A 50 x 50 image at (25, 25) on the 100 x 100 point page, one point a pixel.
struct ImageCase {
  const char* name;
  int model, channels;
  std::vector<int> spots;             // the ink slots of an ink-channel image
  std::vector<const char*> plates;    // per channel
  int quality = 1;
  int downsample = 1;                 // the page's downsampling factor
  double tolerance = 0.02;
};

// Ink of channel c at pixel (x, y), 0..255; gray is written as its light.
std::uint8_t sample(int x, int y, int c) { return std::uint8_t((x * 5 + y * 3 + c * 60) % 256); }
std::uint8_t blocky(int x, int y, int c) { return sample(x / 2 * 2, y / 2 * 2, c); }

TEST(PixelPath, ImagesFromKnownRowsPrintOnTheirPlates) {
  const ImageCase cases[] = {
      {"gray", 0, 1, {}, {"Black"}},
      {"CMYK", 5, 4, {}, {"Cyan", "Magenta", "Yellow", "Black"}},
      {"one spot", 8, 1, {4}, {"Gold"}},
      {"two spots", 8, 2, {4, 5}, {"Gold", "Green"}},
      {"CMYK as JPEG", 5, 4, {}, {"Cyan", "Magenta", "Yellow", "Black"}, 90, 1, 0.04},
      {"downsampled", 5, 4, {}, {"Cyan", "Magenta", "Yellow", "Black"}, 1, 2},
  };
  tavtest::TestFolder dir;
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = emptyJob();
    PDFSettings s = g2test::testSettings();
    s.CompressImages = c.quality;
    s.UseDownsampling = c.downsample > 1;
    s.DownsampleResolution = 72 / c.downsample;
    s.UseAveraging = 1;
    const auto pdf = dir / "image.pdf";
    {
      g2test::Page page(*job, s, kPdf14, pdf);
      PDFProof& w = page.writer();
      std::unique_ptr<ColorSpace> space;
      if (!c.spots.empty()) {
        std::array<std::uint16_t, 64> tints{};
        tints.fill(kTintUndefined);
        for (int slot : c.spots) tints[std::size_t(slot)] = kTintFull;
        space.reset(w.GetSeparationColorSpace(tints.data(), 1, kTintFull, false, false, false, false, false));
      }
      const TavDB::tv_matrixtyp<double> m{1, 0, 0, 1, 25, 75};
      proofimghan* h = w.OutputPictureDownsampled(nullptr, nullptr, m, 72, 1, 0, 0, 50, 50, c.channels, c.model,
                                                  nullptr, false, space.get());
      ASSERT_NE(h, nullptr);
      std::vector<std::uint8_t> row(50 * std::size_t(c.channels));
      for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 50; ++x)
          for (int k = 0; k < c.channels; ++k) row[std::size_t(x * c.channels + k)] = blocky(x, y, k);
        w.WriteImageRow(h, row.data(), 50, c.channels);
      }
      w.EndImage(h);
      page.finish();
    }
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    for (std::size_t k = 0; k < c.plates.size(); ++k) {
      double sum = 0;
      for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) {
          // Gray images are light; every other kind is ink.
          const double ink = c.model == 0 ? 1 - blocky(x, y, int(k)) / 255.0 : blocky(x, y, int(k)) / 255.0;
          sum += std::fabs(plates.inkAtPixel(c.plates[k], 25 + x, 25 + y) - ink);
        }
      EXPECT_LT(sum / 2500, c.tolerance) << c.plates[k] << ": " << plates.summary();
    }
    // Nothing outside the image.
    EXPECT_EQ(plates.inkAtPixel(c.plates[0], 10, 10), 0);
  }
}

// A square from 20 to 80 points with a gradation from no Gold at its left
// edge to full Gold at its right one, over 20 % Cyan.
std::unique_ptr<jobstr> gradationJob() {
  return g2test::makeJob(kInks, R"([{"id": 1, "inks": {"Gold": 0, "Cyan": 20}}, {"id": 2, "inks": {"Gold": 100, "Cyan": 20}}])",
                         R"([{"id": 10, "type": "gradation", "start": [0, 20],
                              "steps": [{"colour": 1, "position": 0}, {"colour": 2, "position": 60}]}])",
                         R"([{"kind": "path", "paint": 10, "points": [[20, 20], [20, 80], [80, 80], [80, 20]]}])");
}

TEST(PixelPath, GradationsAsImagesMatchTheirAxisOnThePlates) {
  auto job = gradationJob();
  tavtest::TestFolder dir;
  const auto pdf = dir / "gradation.pdf";
  PDFSettings s = g2test::testSettings();
  s.OutputGradientsAsImages = 1;
  const std::string content = g2test::writeJobPdf(*job, s, kPdf14, pdf);
  EXPECT_EQ(g2test::count(content, " Do\n"), 1);
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  const tavtest::Plates plates = tavtest::measurePlates(pdf);
  for (double x = 22; x < 80; x += 7) {
    EXPECT_NEAR(plates.inkAtPoint("Gold", x, 50), (x - 20) / 60, 0.02) << x;
    EXPECT_NEAR(plates.inkAtPoint("Cyan", x, 50), 0.2, 0.01) << x;
  }
  EXPECT_EQ(plates.inkAtPoint("Gold", 10, 50), 0);  // clipped to the object
}

// Points TMPDIR, where buffered images keep their temporary files, to a
// folder of the test's own while it lives.
struct TemporaryFolder {
  explicit TemporaryFolder(const std::filesystem::path& dir) : saved(std::getenv("TMPDIR")) { setenv("TMPDIR", dir.c_str(), 1); }
  ~TemporaryFolder() { saved != nullptr ? setenv("TMPDIR", saved, 1) : unsetenv("TMPDIR"); }
  const char* saved;
};

TEST(PixelPath, BufferedImagesLeaveNoTemporaryFilesAndNeverAMissingImage) {
  tavtest::TestFolder dir;
  auto job = gradationJob();
  PDFSettings s = g2test::testSettings();
  s.OutputGradientsAsImages = 1;
  const auto temp = dir / "temp";
  std::filesystem::create_directory(temp);
  TemporaryFolder folder(temp);
  {
    // Cancelled in the middle of the image: the image is completed white,
    // and its file goes with the page writer.
    int rows = 0;
    TavSys::Progress::setCancelHook([&] { return ++rows > 20; });
    g2test::Page page(*job, s, kPdf14, dir / "cancelled.pdf");
    page.walk();
    TavSys::Progress::setCancelHook(nullptr);
    TavSys::Progress::resetCancel();
    EXPECT_TRUE(page.writer().IsCancelled());
    EXPECT_EQ(tavtest::folderListing(temp).size(), 1u);  // the image's buffer, until the page ends
  }
  EXPECT_TRUE(tavtest::folderListing(temp).empty());
  {
    // Written to the end: the flush copies the file and removes it.
    g2test::writeJobPdf(*job, s, kPdf14, dir / "whole.pdf");
    EXPECT_TRUE(tavtest::folderListing(temp).empty());
    tavtest::expectPdfAcceptedByAllConsumers(dir / "whole.pdf");
  }
  // No temporary file can be made: the page is not written without its image.
  TemporaryFolder missing(dir / "no such folder");
  try {
    g2test::writeJobPdf(*job, s, kPdf14, dir / "without.pdf");
    ADD_FAILURE() << "a page was written without its image";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/COULD NOT ADD IMAGE");
    EXPECT_NE(e.detail().find("temp_directory_path"), std::string::npos) << e.detail();
  }
}

TEST(PixelPath, ExampleGradationExportsUnderEveryFlavour) {
  tavtest::TestFolder dir;
  const auto job = tavtest::sourceDir() / "examples" / "sunset-label.json";
  for (const char* flavour : {"Press", "Viewing", "Reader", "Separated", "Normalized", "NormalizedEmbedded", "Vistamo"}) {
    SCOPED_TRACE(flavour);
    const auto pdf = dir / (std::string(flavour) + ".pdf");
    const tavtest::ProcessResult r = tavtest::runTavpdf({"export", job.string(), "-o", pdf.string(), "--flavour", flavour});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
  }
  // The sky runs from yellow at the top to the blue mix at the bottom.
  const tavtest::Plates press = tavtest::measurePlates(dir / "Press.pdf");
  EXPECT_GT(press.inkAtPoint("Yellow", 100, 162), 0.8);
  EXPECT_EQ(press.inkAtPoint("Cyan", 100, 162), 0);
  EXPECT_GT(press.inkAtPoint("PANTONE 021 C", 100, 114), 0.9);
  EXPECT_GT(press.inkAtPoint("Cyan", 100, 8), 0.95);
}

}  // namespace

// The images of cached pictures as written: the image streams they are read
// through, the group forms of split sub-images, RGB alternates, uses and
// files that fail, picture previews and the colour conversion of thumbnails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "driver_support.h"
#include "map_support.h"
#include "pdfproof_support.h"
#include "platform/imagestream.h"
#include "platform/kernel/screenrender.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "support/pdfread.h"
#include "support/pictures.h"

namespace fs = std::filesystem;
using namespace TavPDF;
using namespace maptest;

namespace {

// Rows of w x h pixels of two planes: plane p of pixel (x, y) is 10 y + x + 100 p.
class KnownStream : public TavSys::ImageStream {
 public:
  KnownStream(int w, int h) : mW(w), mH(h) {}
  std::int32_t GetWidth() const override { return mW; }
  std::int32_t GetHeight() const override { return mH; }
  int GetPlanes() const override { return 2; }
  bool GetLine(std::uint8_t* row) override {
    if (mY >= mH) return false;
    for (int x = 0; x < mW; ++x)
      for (int p = 0; p < 2; ++p) row[x * 2 + p] = std::uint8_t(10 * mY + x + 100 * p);
    ++mY;
    return true;
  }

 private:
  int mW, mH, mY = 0;
};

std::vector<std::vector<int>> firstPlane(TavSys::ImageStream& s) {
  std::vector<std::vector<int>> rows;
  std::vector<std::uint8_t> row(s.RowBytes());
  while (s.GetLine(row.data())) {
    rows.emplace_back();
    for (int x = 0; x < s.GetWidth(); ++x) rows.back().push_back(row[std::size_t(x * s.GetPlanes())]);
  }
  return rows;
}

// The map at one point a pixel, 10 right and 10 down from the top left.
const std::string kMapPaint = "[" + mapPaint(20, 1, 10, 10, 1) + "]", kMapFrame = "[" + mapFrame(20, 10, 10, 1) + "]";

}  // namespace

TEST(ImageStreams, ClipBleedAndDownsampleKeepTheirSamples) {
  using Rows = std::vector<std::vector<int>>;
  struct Case {
    const char* name;
    std::function<std::unique_ptr<TavSys::ImageStream>()> make;
    Rows rows;
  } cases[] = {
      {"clip", [] { return std::make_unique<TavSys::ClipStream>(std::make_unique<KnownStream>(4, 3), 1, 1, 3, 3); },
       {{11, 12}, {21, 22}}},
      {"clip beyond the picture",
       [] { return std::make_unique<TavSys::ClipStream>(std::make_unique<KnownStream>(2, 2), -5, 1, 9, 9); },
       {{1}, {11}}},
      {"bleed", [] { return std::make_unique<TavSys::BleedStream>(std::make_unique<KnownStream>(2, 2), 1); },
       {{0, 0, 1, 1}, {0, 0, 1, 1}, {10, 10, 11, 11}, {10, 10, 11, 11}}},
      {"downsampled by 2, sampled",
       [] {
         return std::make_unique<TavSys::TavImageDownsamplerStream>(
             std::make_unique<KnownStream>(4, 4), TavSys::TavImageDownsamplerFactors(4, 4, 2, 2), false);
       },
       {{11, 13}, {31, 33}}},
      {"downsampled by 2, averaged",
       [] {
         return std::make_unique<TavSys::TavImageDownsamplerStream>(
             std::make_unique<KnownStream>(4, 4), TavSys::TavImageDownsamplerFactors(4, 4, 2, 2), true);
       },
       {{6, 8}, {26, 28}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto stream = c.make();
    EXPECT_EQ(firstPlane(*stream), c.rows);
  }
  // Inks to RGB: a covering ink takes its colour, a mixing one multiplies.
  TavSys::TavImageInfo info;
  info.channels.resize(2);
  info.channels[0].rgb[0] = 1, info.channels[0].rgb[1] = 0, info.channels[0].rgb[2] = 0;
  info.channels[1].rgb[0] = 0, info.channels[1].rgb[1] = 0, info.channels[1].rgb[2] = 1;
  struct Full : KnownStream {
    using KnownStream::KnownStream;
    bool GetLine(std::uint8_t* row) override {
      row[0] = 255, row[1] = 255;
      return true;
    }
  };
  TavSys::TavImageStreamSepsToRGBConverter rgb(std::make_unique<Full>(1, 1), info);
  std::uint8_t out[3];
  ASSERT_TRUE(rgb.GetLine(out));
  EXPECT_EQ((std::array<int, 3>{out[0], out[1], out[2]}), (std::array<int, 3>{0, 0, 0}));
}

TEST(CachedImages, SplitSubImagesAreDrawnByAGroupFormWithTheirStates) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  struct Case {
    const char* name;
    std::string colour;
    bool dotgain;
    std::vector<std::string> order;  // the group form's content, in order
  } cases[] = {
      {"dot gain, knocking out", R"("inks":{"Cyan":100,"Magenta":100,"Spot":100},"others":255)", true,
       {"/op0 gs", "/TR_0 gs", "/SubImage0 Do", "/op1 gs", "/TR_1 gs", "/SubImage1 Do", "/TR_4 gs",
        "/SubImage2 Do"}},
      {"dot gain, overprinting", R"("inks":{"Cyan":100,"Magenta":100,"Spot":100},"others":255,"overprint":true)",
       true, {"/op1 gs", "/TR_0 gs", "/SubImage0 Do", "/TR_1 gs", "/SubImage1 Do", "/TR_4 gs", "/SubImage2 Do"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = loadMapJob(kInks, R"([{"id":2,)" + c.colour + "}]", "[" + mapEntry(1, 2) + "]", kMapPaint, kMapFrame, dir.path());
    PDFSettings s = g2test::testSettings();
    s.EnableDotgain = c.dotgain;
    const fs::path pdf = dir / "group.pdf";
    g2test::writeJobPdf(*job, s, kPdf14, pdf);
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    const std::string bytes = tavtest::readFile(pdf);
    std::size_t at = bytes.find(c.order.front());
    for (const std::string& op : c.order) {
      at = bytes.find(op, at);
      EXPECT_NE(at, std::string::npos) << op;
    }
  }
}

TEST(CachedImages, RgbAlternatesHoldAtMostAMegapixel) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout big;
  big.width = 4000;
  big.height = 3000;
  big.compression = 8;
  big.sample = [](int x, int, int) { return std::uint8_t(x % 256); };
  tavtest::writeTiff(dir / "big.tif", big);
  auto job = loadMapJob(R"([{"name":"Black","process":"black"}])", R"([{"id":2,"inks":{"Black":100}}])",
                        R"([{"id":1,"files":["big.tif"],"channels":[{"ink":"Black"}],"colour":2,"width":4000,"height":3000,"resolution":300}])",
                        kMapPaint, kMapFrame, dir.path());
  PDFSettings s = g2test::testSettings();
  s.ImageAlternate = 1;
  const fs::path pdf = dir / "alternate.pdf";
  g2test::writeJobPdf(*job, s, kPdf14, pdf);
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  const std::string json = tavtest::runProcess({"qpdf", "--json", pdf.string()}).out;
  const std::size_t rgb = json.find("\"/ColorSpace\": \"/DeviceRGB\"");
  ASSERT_NE(rgb, std::string::npos);
  const std::size_t from = json.rfind("\"dict\"", rgb), to = json.find('}', rgb);
  const std::string dict = json.substr(from, to - from);
  // 300 ppi halved until 12 megapixels fit: 18.75 ppi, 240 x 180 pixels.
  EXPECT_NE(dict.find("\"/Width\": 240"), std::string::npos) << dict;
  EXPECT_NE(dict.find("\"/Height\": 180"), std::string::npos) << dict;
  EXPECT_NE(json.find("\"/DefaultForPrinting\": false"), std::string::npos);
}

TEST(CachedImages, RgbAlternatesHaveTheGeometryOfTheirImage) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // The map covers 40 x 30 points at (10, 10); the left half is shown by
  // the second case's path, which image clipping cuts the picture to.
  const std::string half = R"({"kind":"path","paint":20,"points":[[10,10],[10,30],[40,30],[40,10]]})";
  struct Case {
    const char* name;
    std::string objects;
    std::string settings;
  } cases[] = {
      {"the whole picture", kMapFrame, ""},
      {"the part a path shows", "[" + half + "]", "ImageClipping=1"},
      {"downsampled", kMapFrame, "UseDownsampling=1 DownsampleResolution=9 DownsampleFromPPI=10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = loadMapJob(kInks, R"([{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}}])",
                          "[" + mapEntry(1, 2) + "]", kMapPaint, c.objects, dir.path());
    const fs::path pdf = dir / "alternate.pdf";
    const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press", "ImageAlternate=1 " + c.settings), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::Pdf written(pdf);
    int alternates = 0;
    for (QPDFObjectHandle o : written.qpdf().getAllObjects()) {
      if (!o.isStream() || !o.getDict().hasKey("/Alternates")) continue;
      ++alternates;
      // The alternate covers the image's unit square: the same pixels, bleed included.
      QPDFObjectHandle rgb = o.getDict().getKey("/Alternates").getArrayItem(0).getKey("/Image");
      EXPECT_EQ(tavtest::at(rgb, "/Width"), tavtest::at(o, "/Width"));
      EXPECT_EQ(tavtest::at(rgb, "/Height"), tavtest::at(o, "/Height"));
    }
    EXPECT_GT(alternates, 0);
  }
}

TEST(CachedImages, FailingUsesAndFilesStopThePageWithTheirName) {
  tavtest::TestFolder dir;
  const std::string colour = R"([{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}}])";
  auto refusal = [](const std::function<void()>& write) -> TavSys::Error {
    try {
      write();
    } catch (const TavSys::Error& e) {
      return e;
    }
    ADD_FAILURE() << "the page was written";
    return TavSys::Error(0, "");
  };
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;  // done after the job was read
    const char* key;
    const char* file;  // the file the refusal names
  } cases[] = {
      {"a file cut short", [](const fs::path& d) { fs::resize_file(d / "ink.tif", fs::file_size(d / "ink.tif") / 2); },
       "PDF/UNSUPPORTED PICTURE TYPE", "ink.tif"},
      {"a file gone", [](const fs::path& d) { fs::remove(d / "spot.tif"); }, "PDF/CANNOT OPEN PICTURE FILE", "spot.tif"},
      // Its header is sound, its compressed pixels are not: it fails while
      // the image's rows are read from the map's files.
      {"damaged pixels in the second file",
       [](const fs::path& d) {
         std::string bytes = tavtest::readFile(d / "spot.tif");
         for (std::size_t i = 8; i < 40; ++i) bytes[i] = char(0xA5);
         tavtest::writeFile(d / "spot.tif", bytes);
       },
       "PDF/UNSUPPORTED PICTURE TYPE", "spot.tif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeMapFiles(dir.path());
    auto job = loadMapJob(kInks, colour, "[" + mapEntry(1, 2) + "]", kMapPaint, kMapFrame, dir.path());
    c.spoil(dir.path());
    const TavSys::Error e =
        refusal([&] { g2test::writeJobPdf(*job, g2test::testSettings(), kPdf14, dir / "spoiled.pdf"); });
    EXPECT_EQ(e.key(), c.key);
    EXPECT_NE(e.text().find(std::string("\"") + c.file + "\""), std::string::npos) << e.text();
  }
  // A use whose picture was never gathered (a paint made while the page is
  // written) is not left out silently either.
  writeMapFiles(dir.path());
  auto job = loadMapJob(kInks, colour, "[" + mapEntry(1, 2) + "]", kMapPaint, kMapFrame, dir.path());
  Paint other = *paipoi(job.get(), 20);
  other.transparency.softMask = 7;
  const std::uint16_t paint = job->addPaint(other);
  const PDFSettings settings = g2test::testSettings();
  g2test::Page page(*job, settings);
  std::unique_ptr<TavDB::Object> object = TavDB::objdup(jobGetSpahan(job.get())->member(0));
  object->setPaint(paint);
  EXPECT_EQ(refusal([&] { page.writer().OutputMap(object.get()); }).key(), "PDF/COULD NOT ADD IMAGE");
}

TEST(Previews, OneImagePerPictureFileAndTheDrawsOfEveryUse) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout layout;
  layout.width = 30;
  layout.height = 20;
  layout.samples = 3;
  layout.photometric = 2;
  layout.resolution = 36;
  tavtest::writeTiff(dir / "photo.tif", layout);
  tavtest::writeFile(dir / "logo.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n");
  auto job = loadMapJob(
      R"([{"name":"Black","process":"black"}])", "[]", "[]",
      R"([{"id":20,"type":"picture","picture":1,"place":{"origin":[0,0],"widthCorner":[0,30],"heightCorner":[20,0]}},)"
      R"({"id":21,"type":"picture","picture":2,"place":{"origin":[0,0],"widthCorner":[0,10],"heightCorner":[10,0]}}])",
      "[]", dir.path(),
      R"(,"pictures":[{"id":1,"file":"photo.tif","width":30,"height":20},{"id":2,"file":"logo.eps","width":10,"height":10}])");
  const fs::path pdf = dir / "previews.pdf";
  std::string content;
  {
    const PDFSettings settings = g2test::testSettings();
    g2test::Page page(*job, settings, kPdf14, pdf);
    WritePicturePreview(page.writer(), 20);
    WritePicturePreview(page.writer(), 20);
    WritePicturePreview(page.writer(), 21);
    EXPECT_EQ(page.writer().GetPendingStreams().size(), 2U) << "one record per picture file";
    content = page.finish();
  }
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  // The TIFF at 36 ppi: 60 x 40 points, drawn twice under one name.
  EXPECT_EQ(g2test::count(content, "60 0 0 40 0 0 cm\n/Im0_0_preview Do"), 2) << content;
  EXPECT_EQ(g2test::count(content, "10 0 0 10 0 0 cm\n/Im0_1_preview Do"), 1) << content;
  const std::string json = tavtest::runProcess({"qpdf", "--json", pdf.string()}).out;
  // Its preview: 30 x 20 CMYK pixels; the EPS has none to show: one white pixel.
  EXPECT_NE(json.find("\"/Width\": 30"), std::string::npos);
  EXPECT_NE(json.find("\"/Width\": 1"), std::string::npos);
  EXPECT_EQ(g2test::count(json, "\"/ColorSpace\": \"/DeviceCMYK\""), 2);
  // A picture whose file cannot be opened gets nothing.
  fs::remove(dir / "photo.tif");
  const PDFSettings settings = g2test::testSettings();
  g2test::Page page(*job, settings);
  WritePicturePreview(page.writer(), 20);
  EXPECT_TRUE(page.writer().GetPendingStreams().empty());
  EXPECT_EQ(page.finish().find("Do"), std::string::npos);
}

TEST(ScreenRenderer, CmykBecomesRgbThroughAProfileWhenOneIsGiven) {
  const std::string profile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";
  ASSERT_TRUE(fs::exists(profile)) << "Ghostscript's CMYK profile";
  const std::uint8_t cmyk[] = {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0};
  struct Case {
    const char* name;
    std::string path;
    bool usesProfile;
  } cases[] = {{"a CMYK profile", profile, true},
               {"an RGB profile", "/usr/share/color/icc/ghostscript/srgb.icc", false},
               {"no profile", "", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SC::CmykToRgb convert(c.path);
    EXPECT_EQ(convert.UsesProfile(), c.usesProfile);
    std::uint8_t rgb[9];
    convert.ConvertRow(cmyk, rgb, 3);
    EXPECT_GE(*std::min_element(rgb, rgb + 3), 245) << "paper stays white";
    EXPECT_LE(*std::max_element(rgb + 3, rgb + 6), 60) << "full black is dark";
    EXPECT_LT(rgb[6], 60) << "cyan takes the red away";
    EXPECT_GT(rgb[8], 150);
  }
}

TEST(CachedImages, ASoftMaskPictureLyingUnderThePictureBecomesItsMask) {
  // The soft mask's picture: the spot file as black ink, so light shows the
  // map and dark hides it (inverted: the other way round). A mask picture
  // placed elsewhere cannot be the image's own mask.
  struct Case {
    const char* name;
    const char* flags;
    int maskTop;
    bool inverted, ownMask;
  } cases[] = {
      {"luminosity", "", 10, false, true},
      {"inverted", R"("maskFlags":4,)", 10, true, true},
      {"placed elsewhere", "", 12, false, false},
  };
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  std::string maps = "[" + mapEntry(1, 2) + R"(,{"id":3,"files":["spot.tif"],"channels":[{"ink":"Black"}],)"
                     R"("colour":4,"width":40,"height":30,"resolution":72}])";
  maps.erase(maps.find(R"(,"opacity":{"file":2})"), 21);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string paint = mapPaint(20, 1, 10, 10, 1);
    paint.insert(paint.find(R"(,"place")"), R"(,"softMask":5)");
    auto job = loadMapJob(kInks, R"([{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}},{"id":4,"inks":{"Black":100}}])",
                          maps, "[" + paint + "," + mapPaint(21, 3, c.maskTop, 10, 1) + "]", kMapFrame, dir.path(),
                          R"(,"patterns":[{"id":5,"kind":"softMask",)" + std::string(c.flags) + R"("objects":[)" +
                              mapFrame(21, 10, 10, 1) + "]}]");
    const fs::path pdf = dir / "masked.pdf";
    std::string bytes;
    {
      // The soft mask of the page's graphics state is another writer's;
      // the picture itself is drawn here.
      const PDFSettings settings = g2test::testSettings();
      g2test::Page page(*job, settings, kPdf14, pdf);
      page.writer().OutputMap(jobGetSpahan(job.get())->member(0));
      page.finish();
      bytes = page.bytes();
    }
    ASSERT_EQ(bytes.find("_Mask") != std::string::npos, c.ownMask);
    if (!c.ownMask) continue;
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    // One map pixel a point, rendered at two pixels a point.
    const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, 144);
    double sum = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const double light = spotLightAt(x, y) / 255.0;
        sum += std::fabs(plates.inkAtPixel("Cyan", 21 + 2 * x, 21 + 2 * y) -
                         cyanAt(x, y) / 255.0 * (c.inverted ? 1 - light : light));
      }
    EXPECT_LT(sum / (kWidth * kHeight), 0.02) << plates.summary();
  }
}

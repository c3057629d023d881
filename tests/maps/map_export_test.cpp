// Whole exports of jobs with picture maps: every flavour's file accepted by
// the consumers, the plates of a map against its channels, one set of images
// per map and factor, and the page thumbnail against the page.
#include <gtest/gtest.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <set>
#include <sstream>

#include "driver_support.h"
#include "map_support.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using namespace drivertest;
using namespace maptest;

namespace {

// Job units per map pixel: the map (18 ppi in a 720 ppi job) at its own size,
// four points a pixel.
constexpr int kStep = 40;

// A job with a 40 % yellow ground under the map (by default the three map
// files) placed at (720, 720) and, as `second`, a second paint (or none).
std::string mapJob(const std::string& mapColour, const std::string& secondPaint = "",
                   const std::string& secondObject = "", const std::string& map = mapEntry(1, 2)) {
  return jobText(kInks,
                 R"([{"id":1,"inks":{"Yellow":40}},{"id":2,)" + mapColour + "}]",
                 R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, kStep) + secondPaint + "]",
                 "[" + square(360, 360, 3600, 10) + "," + mapFrame(20, 720, 720, kStep) + secondObject + "]",
                 ",\"maps\":[" + map + "]");
}

// The image XObjects of the file that are not soft masks, and the masks.
std::pair<int, int> countImages(const fs::path& pdf) {
  QPDF q;
  q.processFile(pdf.c_str());
  std::set<QPDFObjGen> images, masks;
  for (QPDFObjectHandle& o : q.getAllObjects()) {
    if (!o.isStream() || !o.getDict().getKey("/Subtype").isNameAndEquals("/Image")) continue;
    images.insert(o.getObjGen());
    if (o.getDict().getKey("/SMask").isStream()) masks.insert(o.getDict().getKey("/SMask").getObjGen());
  }
  return {int(images.size() - masks.size()), int(masks.size())};
}

// Mean |plate - expected| over the map's pixels, sampled at their centres
// (the map's first pixel at 72 + 4x, 72 + 4y points from the top left).
double meanDifference(const tavtest::Plates& plates, const std::string& ink,
                      const std::function<double(int, int)>& expected) {
  double sum = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) sum += std::fabs(plates.inkAtPixel(ink, 72 + 4 * x + 2, 72 + 4 * y + 2) - expected(x, y));
  return sum / (kWidth * kHeight);
}

double alpha(int x, int y) { return opacityAt(x, y) / 255.0; }

}  // namespace

TEST(MapExport, PlatesFollowTheChannelsTheOpacityAndTheOverprint) {
  struct Case {
    const char* name;
    std::string colour;
    double (*yellow)(int, int);  // what the yellow ground keeps under the map
    std::string map = mapEntry(1, 2);
    bool spot = true;  // the map paints the spot ink
  } cases[] = {
      {"knocking out", R"("inks":{"Cyan":100,"Magenta":100,"Spot":100})",
       [](int x, int y) { return 0.4 * (1 - alpha(x, y)); }},
      {"overprinting", R"("inks":{"Cyan":100,"Magenta":100,"Spot":100},"others":255,"overprint":true)",
       [](int, int) { return 0.4; }},
      // An image of cyan and magenta alone, which must not become a DeviceCMYK
      // image clearing yellow.
      {"overprinting, process inks only", R"("inks":{"Cyan":100,"Magenta":100},"others":255,"overprint":true)",
       [](int, int) { return 0.4; },
       R"({"id":1,"files":["ink.tif","mask.tif"],"channels":[{"ink":"Cyan","channel":0},)"
       R"({"ink":"Magenta","channel":1}],"opacity":{"file":1},"colour":2,"width":40,"height":30,"resolution":18})",
       false},
  };
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = loadJob(mapJob(c.colour, "", "", c.map), dir.path());
    const fs::path pdf = dir / "map.pdf";
    const auto run = exportJob(job.get(), flavour("Press"), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    EXPECT_LT(meanDifference(plates, "Cyan", [](int x, int y) { return cyanAt(x, y) / 255.0 * alpha(x, y); }), 0.02);
    EXPECT_LT(meanDifference(plates, "Magenta", [](int x, int y) { return magentaAt(x, y) / 255.0 * alpha(x, y); }),
              0.02);
    if (c.spot) {
      EXPECT_LT(meanDifference(plates, "Spot",
                               [](int x, int y) { return (255 - spotLightAt(x, y)) / 255.0 * alpha(x, y); }),
                0.02);
    }
    EXPECT_LT(meanDifference(plates, "Yellow", c.yellow), 0.02) << plates.summary();
    EXPECT_NEAR(plates.inkAtPoint("Yellow", 50, 650), 0.4, 0.02) << "the ground beside the map";
    // Separated pages print what the composite plates show, the plates the
    // map does not paint included.
    const fs::path separated = dir / "separated.pdf";
    ASSERT_EQ(exportJob(job.get(), flavour("Separated"), separated).result, 0);
    tavtest::expectPdfAcceptedByAllConsumers(separated);
    for (const char* ink : {"Cyan", "Yellow"}) {
      const tavtest::Plates page = tavtest::measurePlates(separated, tavtest::separationPage(separated, ink));
      EXPECT_LT(meanDifference(page, "Black", [&](int x, int y) { return plates.inkAtPixel(ink, 72 + 4 * x + 2, 72 + 4 * y + 2); }),
                0.02) << ink;
    }
  }
}

TEST(MapExport, ATransparentMapOfSeveralImagesIsOneGroup) {
  // The spot ink takes half the opacity channel: the map is written as two
  // images. At 50 % opacity the map is one transparency group, so that the
  // opacity applies to the map once; a map of one image needs no group.
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  const std::string colour = R"("inks":{"Cyan":100,"Magenta":100,"Spot":100})";
  std::string paint = mapPaint(20, 1, 720, 720, kStep);
  paint.insert(paint.size() - 1, R"(,"opacity":50)");
  std::string split = mapEntry(1, 2);
  const std::string spot = R"({"ink":"Spot","file":1})";
  split.replace(split.find(spot), spot.size(), R"({"ink":"Spot","file":1,"opacity":50})");
  for (const bool severalImages : {true, false}) {
    SCOPED_TRACE(severalImages ? "two images" : "one image");
    auto job = loadJob(jobText(kInks, R"([{"id":1,"inks":{"Yellow":40}},{"id":2,)" + colour + "}]",
                               R"([{"id":10,"type":"flat","colour":1},)" + paint + "]",
                               "[" + square(360, 360, 3600, 10) + "," + mapFrame(20, 720, 720, kStep) + "]",
                               ",\"maps\":[" + (severalImages ? split : mapEntry(1, 2)) + "]"),
                       dir.path());
    const fs::path pdf = dir / "map.pdf";
    const auto run = exportJob(job.get(), flavour("Press"), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    EXPECT_EQ(tavtest::readFile(pdf).find("/Group_0_") != std::string::npos, severalImages);
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    const double spotShare = severalImages ? 0.5 : 1.0;
    EXPECT_LT(meanDifference(plates, "Cyan", [](int x, int y) { return cyanAt(x, y) / 255.0 * alpha(x, y) * 0.5; }),
              0.02);
    EXPECT_LT(meanDifference(plates, "Spot",
                             [&](int x, int y) {
                               return (255 - spotLightAt(x, y)) / 255.0 * alpha(x, y) * spotShare * 0.5;
                             }),
              0.02);
    EXPECT_LT(meanDifference(plates, "Yellow", [](int x, int y) { return 0.4 * (1 - 0.5 * alpha(x, y)); }), 0.02)
        << plates.summary();
  }
}

TEST(MapExport, OneSetOfImagesPerMapAndFactor) {
  struct Case {
    const char* name;
    int secondStep;          // job units per pixel of the second placement
    const char* settings;
    std::pair<int, int> images;  // images and masks
  } cases[] = {
      {"same size", kStep, "", {1, 1}},
      {"other size, no downsampling", 30, "", {1, 1}},
      {"other size, downsampled", 30, "UseDownsampling=True DownsampleResolution=9 DownsampleUseMinimum=False", {2, 2}},
  };
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = loadJob(mapJob(R"("inks":{"Cyan":100,"Magenta":100,"Spot":100})",
                              "," + mapPaint(21, 1, 720, 3600, c.secondStep),
                              "," + mapFrame(21, 720, 3600, c.secondStep)),
                       dir.path());
    const fs::path pdf = dir / "twice.pdf";
    const auto run = exportJob(job.get(), flavour("Press", c.settings), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    EXPECT_EQ(countImages(pdf), c.images);
  }
}

TEST(MapExport, EveryFlavourWritesMapsTheConsumersAccept) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  for (const char* name : {"Press", "Viewing", "Reader", "Separated", "Normalized", "NormalizedEmbedded", "Vistamo"}) {
    SCOPED_TRACE(name);
    auto job = loadJob(mapJob(R"("inks":{"Cyan":100,"Magenta":100,"Spot":100})"), dir.path());
    const fs::path pdf = dir / (std::string(name) + ".pdf");
    const auto run = exportJob(job.get(), flavour(name, "AddThumbnail=True ImageAlternate=True"), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
  }
}

TEST(MapExport, OpiWrappingFormsShowTheirPictureOnlyWhenEmbedded) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // One file feeding the process inks in its own order: a picture an OPI
  // server stands in for. The wrapping form names the file; it holds the
  // picture only when images are embedded.
  const std::string map = R"({"id":1,"files":["ink.tif"],"channels":[{"ink":"Cyan","channel":0},)"
                          R"({"ink":"Magenta","channel":1},{"ink":"Yellow","channel":2},{"ink":"Black","channel":3}],)"
                          R"("colour":2,"width":40,"height":30,"resolution":18})";
  for (const bool embed : {true, false}) {
    SCOPED_TRACE(embed ? "embedded" : "linked");
    auto job = loadJob(mapJob(R"("inks":{"Cyan":100,"Magenta":100,"Yellow":100,"Black":100})", "", "", map), dir.path());
    const fs::path pdf = dir / "opi.pdf";
    const auto run = exportJob(job.get(), flavour("Press", std::string("LinkType=1 EmbedImages=") + (embed ? "1" : "0")),
                               pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_FALSE(run.has("PDF/IMAGES EMBEDDED NO OPI CREATED")) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    const std::string qdf = tavtest::runProcess({"qpdf", "--qdf", pdf.string(), "-"}).out;
    EXPECT_NE(qdf.find("/OPI_0_Image_1_0_0 Do"), std::string::npos);
    EXPECT_NE(qdf.find("/Type /OPI"), std::string::npos);
    EXPECT_EQ(countImages(pdf).first, embed ? 1 : 0);
    // Linked, the place stays empty for the OPI server: the ground shows.
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    EXPECT_LT(meanDifference(plates, "Cyan", [&](int x, int y) { return embed ? cyanAt(x, y) / 255.0 : 0.0; }), 0.02);
    EXPECT_LT(meanDifference(plates, "Yellow", [&](int, int) { return embed ? 0.0 : 0.4; }), 0.02);
  }
}

namespace {

struct Raster {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::array<double, 3> mean() const {
    std::array<double, 3> m{};
    for (std::size_t i = 0; i < rgb.size(); ++i) m[i % 3] += rgb[i];
    for (double& v : m) v /= double(rgb.size() / 3) * 255.0;
    return m;
  }
};

// The page's thumbnail as written: its dictionary and its decoded samples.
Raster thumbnailOf(const fs::path& pdf, std::string& dictionary) {
  QPDF q;
  q.processFile(pdf.c_str());
  QPDFObjectHandle page = q.getAllPages().at(0), thumb = page.getKey("/Thumb");
  if (!thumb.isStream()) return {};
  dictionary = thumb.getDict().unparse();
  const auto data = thumb.getStreamData(qpdf_dl_all);
  return {thumb.getDict().getKey("/Width").getIntValueAsInt(), thumb.getDict().getKey("/Height").getIntValueAsInt(),
          std::vector<std::uint8_t>(data->getBuffer(), data->getBuffer() + data->getSize())};
}

// The page rendered by mutool at 72 ppi.
Raster renderPage(const fs::path& pdf, const fs::path& ppm) {
  tavtest::runProcess({"mutool", "draw", "-q", "-r", "72", "-c", "rgb", "-o", ppm.string(), pdf.string()});
  std::istringstream in(tavtest::readFile(ppm));
  std::string magic;
  int maximum = 0;
  Raster r;
  in >> magic >> r.width >> r.height >> maximum;
  in.get();
  r.rgb.assign(std::istreambuf_iterator<char>(in), {});
  return r;
}

}  // namespace

TEST(MapExport, ThumbnailsResembleTheirPage) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // 10 x 5 inches: a thumbnail of 720 x 360 pixels.
  const std::string box = R"("media":[0,0,3600,7200])";
  struct Case {
    const char* name;
    std::string job;
    const char* settings = "";
    int width = 720, height = 360;
  } cases[3] = {
      {"map, ground and stroke",
       jobText(kInks, R"([{"id":1,"inks":{"Yellow":40}},{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}},)"
                      R"({"id":3,"inks":{"Black":100,"Spot":50}}])",
               R"([{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":3},)" +
                   mapPaint(20, 1, 720, 720, kStep) + "]",
               "[" + square(360, 360, 2880, 10) + "," + mapFrame(20, 720, 720, kStep) + "," +
                   square(720, 4000, 2000, 11, R"(,"stroke":{"width":60,"paint":10})") + "]",
               ",\"maps\":[" + mapEntry(1, 2) + "]")},
      {"nothing visible", jobText(kInks, "[]", "[]", "[]")},
  };
  // The same page turned right and mirrored: the thumbnail is laid out as the page.
  cases[2] = cases[0];
  cases[2].name = "turned and mirrored";
  cases[2].settings = " Orientation=0 Mirror=True";
  cases[2].width = 360;
  cases[2].height = 720;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t media = c.job.find(R"("media":[0,0,7200,7200])");
    c.job.replace(media, 23, box);
    auto job = loadJob(c.job, dir.path());
    const fs::path pdf = dir / "thumb.pdf";
    const auto run = exportJob(job.get(), flavour("Press", std::string("AddThumbnail=True") + c.settings), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    std::string dictionary;
    const Raster thumb = thumbnailOf(pdf, dictionary);
    ASSERT_EQ(thumb.width, c.width) << dictionary;
    ASSERT_EQ(thumb.height, c.height);
    ASSERT_EQ(thumb.rgb.size(), std::size_t(c.width * c.height * 3));
    for (const char* key : {"/ColorSpace /DeviceRGB", "/BitsPerComponent 8", "/Filter /FlateDecode"}) {
      EXPECT_NE(dictionary.find(key), std::string::npos) << key << " in " << dictionary;
    }
    const Raster page = renderPage(pdf, dir / "page.ppm");
    ASSERT_EQ(page.width, thumb.width);
    const auto a = thumb.mean(), b = page.mean();
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[std::size_t(k)], b[std::size_t(k)], 0.05) << "channel " << k;
    // Quarter by quarter, so that a turned or mirrored thumbnail shows.
    for (int q = 0; q < 4; ++q) {
      const auto quarter = [&](const Raster& r) {
        double sum = 0;
        int n = 0;
        for (int y = (q / 2) * r.height / 2; y < (q / 2 + 1) * r.height / 2; ++y)
          for (int x = (q % 2) * r.width / 2; x < (q % 2 + 1) * r.width / 2; ++x, ++n)
            sum += r.rgb[std::size_t(y * r.width + x) * 3];
        return sum / n / 255.0;
      };
      EXPECT_NEAR(quarter(thumb), quarter(page), 0.05) << "quarter " << q;
    }
    if (std::string(c.name) == "nothing visible") {
      EXPECT_TRUE(std::all_of(thumb.rgb.begin(), thumb.rgb.end(), [](std::uint8_t v) { return v == 255; }));
    }
  }
}

// The walker's raster output through a recording backend: downsampled images,
// placed pixel pictures read from their files, gradients rendered as images
// and maps delivered tile by tile by the picture-tile bridge.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "pagewriter/mapcopintgen.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "support/consumers.h"
#include "support/pictures.h"
#include "walker_support.h"

namespace {

using walkertest::JobBuilder;

struct Image {
  int rows = 0, width = 0, channels = 0, model = 0;
  TavDB::tv_matrixtyp<double> matrix;
  std::vector<std::vector<std::uint8_t>> data;
  std::uint8_t at(int x, int y, int c) const {
    return data.at(std::size_t(y)).at(std::size_t(x * channels + c));
  }
};

// Records every image with its rows; the factor and answers are the test's.
class ImageRecorder : public walkertest::RecordingProof {
 public:
  using RecordingProof::RecordingProof;
  double factor = 1.0;
  bool deviceN = false;
  double GetImageDownsampleFactor(int, int, double) override { return factor; }
  bool SupportsDeviceN() override { return deviceN; }
  bool IsCompositeOutput() override { return deviceN; }
  proofimghan* outpixbegin(const TavSys::filref*, const paityp*, const TavDB::tv_matrixtyp<double>& m, int, int,
                           int, int, double rows, double width, int channels, int model,
                           const std::int32_t*, bool, ColorSpace*) override {
    images.push_back({int(rows), int(width), channels, model, m, {}});
    log("outpixbegin");
    return &handler;
  }
  int outpixrow(proofimghan*, const std::uint8_t* row, int width, int channels) override {
    images.back().data.emplace_back(row, row + std::size_t(width) * std::size_t(channels));
    return 0;
  }
  struct Handler : proofimghan {
    int WriteRows(const std::uint8_t*, int, int) override { return 0; }
  } handler;
  std::vector<Image> images;
};

TEST(WalkerImages, DownsampledRowsAreAveragedAndOwedRowsWrittenAtTheEnd) {
  JobBuilder b;
  ImageRecorder w(b.get());
  const TavDB::tv_matrixtyp<double> m{1, 0, 0, 1, 10, 20};
  // Factor 1: the image goes out as it is.
  EXPECT_EQ(w.OutputPictureDownsampled(nullptr, nullptr, m, 72, 1, 0, 0, 4, 4, 1, 0, nullptr, false, nullptr),
            &w.handler);
  EXPECT_EQ(w.images.back().rows, 4);
  w.EndImage(&w.handler);
  w.factor = 2;
  proofimghan* h = w.OutputPictureDownsampled(nullptr, nullptr, m, 72, 1, 0, 0, 4, 4, 2, 0, nullptr, false, nullptr);
  const Image& image = w.images.back();
  EXPECT_EQ(std::pair(image.rows, image.width), std::pair(2, 2));
  EXPECT_EQ(image.matrix, (TavDB::tv_matrixtyp<double>{2, 0, 0, 2, 10, 20}));
  // Two channels: the first constant 2 x 2 blocks, the second a ramp.
  for (int y = 0; y < 3; ++y) {  // the last row never comes
    std::vector<std::uint8_t> row;
    for (int x = 0; x < 4; ++x) {
      row.push_back(std::uint8_t(x < 2 ? 40 : 200));
      row.push_back(std::uint8_t(x * 10 + y * 100));
    }
    w.WriteImageRow(h, row.data(), 4, 2);
  }
  w.EndImage(h);
  ASSERT_EQ(image.data.size(), 2u);
  EXPECT_EQ(image.data[0], (std::vector<std::uint8_t>{40, 55, 200, 75}));
  EXPECT_EQ(image.data[1][0] + 1000 * image.data[1][1], 40 + 1000 * 205);  // the owed row from what came
}

TEST(WalkerImages, PlacedPixelPicturesAreReadRowByRowOrRefused) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout rgb;
  rgb.width = 6;
  rgb.height = 3;
  rgb.samples = 3;
  rgb.photometric = 2;
  tavtest::TiffLayout spot = rgb;
  spot.samples = spot.photometric = 5;
  spot.extraTypes = {0};
  tavtest::writeTiff(dir / "rgb.tif", rgb);
  tavtest::writeTiff(dir / "spot.tif", spot);
  tavtest::writeTiff(dir / "gone.tif", rgb);
  // A file that is gone or cannot be read stops the walk with its name.
  struct Case {
    const char* file;
    const char* refusal;
    int images;
  };
  const Case cases[] = {{"rgb.tif", nullptr, 1},
                        {"spot.tif", "PDF/UNSUPPORTED PICTURE TYPE", 0},
                        {"gone.tif", "PDF/CANNOT OPEN PICTURE FILE", 0},
                        {"text.tif", "PDF/UNSUPPORTED PICTURE TYPE", 0}};
  tavtest::writeFile(dir / "text.tif", "II*\0garbage");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    JobBuilder b;
    jobstr& job = b.job();
    job.pictures.resize(1);
    job.pictures[0].exists = true;
    job.pictures[0].file = TavSys::filref((dir / c.file).string());
    job.pictures[0].type = "TIFF";
    Paint& p = job.paints.emplace_back();
    p.exists = true;
    p.type = kPaintPicture;
    p.picture = 0;
    p.placeOrigin = {10, 20};
    p.placeWidthCorner = {10, 32};   // 2 units per pixel along the row
    p.placeHeightCorner = {16, 20};  // 2 units per pixel down
    if (std::string(c.file) == "gone.tif") std::filesystem::remove(dir / c.file);
    auto object = JobBuilder::rect(10, 20, 16, 32, std::uint16_t(job.paints.size() - 1));
    ImageRecorder w(&job);
    if (c.refusal == nullptr) {
      EXPECT_EQ(w.OutputPlacedPixels(object.get()), 0);
    } else {
      try {
        w.OutputPlacedPixels(object.get());
        ADD_FAILURE() << "not refused";
      } catch (const TavSys::Error& e) {
        EXPECT_EQ(e.key(), c.refusal);
        ASSERT_EQ(e.placeholders().size(), 1u);
        EXPECT_EQ(e.placeholders()[0], (std::pair<std::string, std::string>("__FILENAME__", c.file)));
      }
    }
    ASSERT_EQ(int(w.images.size()), c.images);
    if (c.images == 1) {
      const Image& image = w.images[0];
      EXPECT_EQ(std::pair(image.channels, image.model), std::pair(3, 2));
      ASSERT_EQ(image.data.size(), 3u);
      EXPECT_EQ(image.at(4, 2, 1), rgb.sample(4, 2, 1));
      // 2 units (points at 72 ppi) per pixel, first pixel at h 20, v 10.
      EXPECT_EQ(image.matrix, (TavDB::tv_matrixtyp<double>{2, 0, 0, 2, 20, -10}));
    }
  }
}

// A job with one gradient paint over the rectangle 0..100 x 0..100.
struct GradationJob {
  JobBuilder b;
  std::uint16_t paint = 0;
  std::unique_ptr<TavDB::Object> object;
  explicit GradationJob(const std::function<void(Paint&, JobBuilder&)>& setUp, int size = 100) {
    Paint& p = b.job().paints.emplace_back();
    p.exists = true;
    p.type = kPaintGradation;
    setUp(p, b);
    paint = std::uint16_t(b.job().paints.size() - 1);
    object = JobBuilder::rect(0, 0, size, size, paint);
  }
};

TEST(WalkerImages, GradationsRenderTheirStepsAlongTheirForm) {
  // Gradation pixels are 72 / 300 units wide: 417 across 100 units.
  const double step = 72.0 / 300.0;
  auto steps = [](Paint& p, JobBuilder& b, std::int32_t midpoint) {
    p.steps = {{b.colour({{0, 0}}), 0, midpoint}, {b.colour({{0, 100}}), 100, 0}};
  };
  struct Case {
    const char* name;
    Paint::GradationForm form;
    std::int32_t midpoint;
    // Expected cyan share (0..1) at a point (v, h) in job units.
    std::function<double(double, double)> cyan;
  };
  const Case cases[] = {
      {"horizontal", Paint::kGradHorizontal, 50, [](double, double h) { return h / 100; }},
      {"vertical", Paint::kGradVertical, 50, [](double v, double) { return v / 100; }},
      {"midpoint a quarter in", Paint::kGradHorizontal, 25,
       [](double, double h) { return 1 - std::pow(1 - h / 100, std::log(0.5) / std::log(0.75)); }},
      {"circular", Paint::kGradCircular, 50, [](double v, double h) {
         return std::min(1.0, std::hypot(v - 50, h - 50) / 100);
       }},
      // Rectangles shaped like the box (twice as wide as high) about the
      // centre; its edges lie at position 100.
      {"other: rectangles", Paint::kGradOther, 50, [](double v, double h) {
         return std::min(1.0, std::max(std::fabs(h - 50), 2 * std::fabs(v - 50)) / 100);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GradationJob g([&](Paint& p, JobBuilder& b) {
      steps(p, b, c.midpoint);
      p.gradationForm = c.form;
      if (c.form == Paint::kGradCircular) {
        p.start = {50, 50};
        p.gradationBox = {-50, -50, 150, 150};
      } else if (c.form == Paint::kGradOther) {
        p.start = {50, 50};
        p.gradationBox = {0, -50, 100, 150};
      }
    });
    ImageRecorder w(g.b.get());
    w.OutputGradationImage(g.object.get());
    ASSERT_EQ(w.images.size(), 1u);
    const Image& image = w.images[0];
    EXPECT_EQ(std::tuple(image.width, image.rows, image.model), std::tuple(417, 417, 5));
    ASSERT_EQ(image.data.size(), 417u);
    EXPECT_NEAR(image.matrix.a, step, 1e-9);
    for (int y : {0, 100, 208, 416})
      for (int x : {0, 50, 104, 300, 416}) {
        const double expected = c.cyan((y + 0.5) * step, (x + 0.5) * step) * 255;
        EXPECT_NEAR(image.at(x, y, 0), expected, 1.0) << x << "," << y;
      }
  }
}

TEST(WalkerImages, GradationsThatDrawNothingOrTooMuch) {
  // Every colour leaving every ink untouched: no image; an object without
  // width: nothing; larger than 1,000,000 units and the job box: cut to the
  // job box; a form the renderer does not know: refused, not drawn as another.
  // The form "other" is drawn (as rectangles).
  struct Case {
    const char* name;
    bool inked;
    int size;
    Paint::GradationForm form;
    int rows, width;  // 0: no image
  } cases[] = {{"clear", false, 100, Paint::kGradHorizontal, 0, 0},
               {"flat", true, 0, Paint::kGradHorizontal, 0, 0},
               {"huge", true, 2000000, Paint::kGradHorizontal, 417, 209},
               {"other form", true, 100, Paint::kGradOther, 417, 417},
               {"unknown form", true, 100, Paint::GradationForm(7), -1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GradationJob g([&](Paint& p, JobBuilder& b) {
      // 255: the ink untouched.
      p.steps = {{b.colour({{0, c.inked ? 0 : 255}}), 0, 50}, {b.colour({{0, c.inked ? 100 : 255}}), 100, 0}};
      p.gradationForm = c.form;
    }, c.size);
    if (c.size > 1000000) g.b.job().boxes[kMediaBox] = TavDB::tv_box{0, 0, 100, 50};
    ImageRecorder w(g.b.get());
    try {
      w.OutputGradationImage(g.object.get());
      EXPECT_GE(c.rows, 0) << "drawn";
    } catch (const TavSys::Error& e) {
      EXPECT_LT(c.rows, 0) << "refused";
      EXPECT_EQ(e.key(), "PDF/OBJECT NOT SUPPORTED YET");
      EXPECT_NE(w.text().find("<outpixend>"), std::string::npos);  // the image was ended
    }
    if (c.rows < 0) continue;
    ASSERT_EQ(w.images.size(), c.rows > 0 ? 1u : 0u);
    if (c.rows > 0) {
      EXPECT_EQ(std::pair(w.images[0].rows, w.images[0].width), std::pair(c.rows, c.width));
    }
  }
}

TEST(WalkerImages, MapsArriveAsBorderedTilesInTheMapsInks) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout gray;
  gray.width = 300;
  gray.height = 10;
  tavtest::writeTiff(dir / "map.tif", gray);
  JobBuilder b;
  jobstr& job = b.job();
  const int spot = b.addSpot("Gold", 0, 20, 60, 20);
  job.maps.resize(1);
  PictureMap& map = job.maps[0];
  map.exists = true;
  map.files = {TavSys::filref((dir / "map.tif").string())};
  map.channels = {{spot, 0, 0}, {1, 0, 0}};  // Gold and Magenta from the one gray channel
  map.width = 300;
  map.height = 10;
  map.resolution = 72;
  map.colour1 = map.colour2 = b.colour({{spot, 100}, {1, 100}});
  Paint record;
  record.exists = true;
  record.type = kPaintMap;
  record.map = 0;
  record.placeOrigin = {0, 0};
  record.placeWidthCorner = {0, 300};
  record.placeHeightCorner = {10, 0};
  auto object = JobBuilder::rect(0, 0, 10, 300, 0);

  // Without DeviceN: CMYK tiles, 256 columns and the rest, each with its border.
  ImageRecorder cmyk(&job);
  EXPECT_EQ(RunMapCopy(&cmyk, &job, 0, -1, record, object.get(), nullptr, 0, 0, 0, 0, 0, 0, 0), 0);
  ASSERT_EQ(cmyk.images.size(), 2u);
  EXPECT_EQ(std::pair(cmyk.images[0].width, cmyk.images[1].width), std::pair(258, 46));
  for (const Image& image : cmyk.images) {
    EXPECT_EQ(std::tuple(image.rows, image.channels, image.model), std::tuple(12, 4, 5));
  }
  // Border pixels repeat the edge; magenta is the darkness of the gray
  // channel, with Gold laid over it as its CMYK equivalent (20 % magenta).
  auto magenta = [&](int x, int y) {
    const double ink = (255 - gray.sample(x, y, 0)) / 255.0;
    return int(std::lround((1 - (1 - ink) * (1 - ink * 0.2)) * 255));
  };
  EXPECT_EQ(cmyk.images[0].at(0, 0, 1), magenta(0, 0));
  EXPECT_EQ(cmyk.images[1].at(45, 11, 1), magenta(299, 9));
  EXPECT_EQ(cmyk.images[1].at(1, 1, 1), magenta(256, 0));
  EXPECT_EQ(cmyk.images[0].at(5, 5, 2), int(std::lround((255 - gray.sample(4, 4, 0)) * 0.6)));  // Gold's yellow
  EXPECT_EQ(cmyk.images[0].at(5, 5, 0), 0);  // neither channel has cyan
  // The second tile's first pixel (its border) lies one pixel before column 256.
  EXPECT_DOUBLE_EQ(cmyk.images[1].matrix.e, 255);
  // Each tile is clipped and closed: q ... Q around it.
  EXPECT_EQ(walkertest::lines(cmyk.text()).front(), "q");

  // DeviceN-capable composite output: once per part of the map's inks.
  ImageRecorder devn(&job);
  devn.deviceN = true;
  RunMapCopy(&devn, &job, 0, -1, record, object.get(), nullptr, 0, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(devn.images.size(), 2u);
  EXPECT_EQ(std::pair(devn.images[0].channels, devn.images[0].model), std::pair(2, 8));
}

}  // namespace

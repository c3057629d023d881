// What draws with the renderer, judged by the consumers: the page thumbnail
// against a viewer's rendering of the page, the page previews decoded
// against the plates, and the standard preview as the desktop reads it.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <array>
#include <cstdlib>
#include <memory>

#include "driver_support.h"
#include "object_kinds.h"
#include "platform/fonts/fontface.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/job.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/screenrender.h"
#include "platform/pixelreader.h"
#include "platform/standardpreview.h"
#include "preview_support.h"
#include "support/pdfbuilder.h"
#include "support/pdfread.h"
#include "support/pictures.h"

namespace {

namespace fs = std::filesystem;

struct Rgb {
  int width = 0, height = 0;
  std::vector<std::uint8_t> samples;  // R, G, B
};

Rgb readPpm(const fs::path& file);

// A viewer's rendering and ours differ only where edges are smoothed
// differently and where the viewer composes in RGB what the renderer
// composes per ink (blend modes, soft masks).
constexpr double kViewerTolerance = 0.03;

// pdftoppm's rendering of page 1 at exactly width x height pixels.
Rgb viewerRendering(const fs::path& pdf, int width, int height, const fs::path& folder) {
  const auto run = tavtest::runProcess({"pdftoppm", "-f", "1", "-l", "1", "-scale-to-x", std::to_string(width),
                                        "-scale-to-y", std::to_string(height), "-singlefile", pdf.string(),
                                        (folder / "viewer").string()});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  return readPpm(folder / "viewer.ppm");
}

// pdftoppm's rendering of page 1 with overprint shown, as the page prints:
// its CMYK output (the only one it composes overprint in), read back and
// shown as the viewer shows CMYK (ViewerCmykToRgb, which
// CmykPatchesShowAsTheViewerShowsThem holds to the viewer's own RGB).
Rgb viewerOverprintRendering(const fs::path& pdf, int width, int height, const fs::path& folder) {
  const auto run = tavtest::runProcess({"pdftoppm", "-f", "1", "-l", "1", "-overprint", "-jpegcmyk", "-jpegopt",
                                        "quality=100", "-scale-to-x", std::to_string(width), "-scale-to-y",
                                        std::to_string(height), "-singlefile", pdf.string(),
                                        (folder / "overprint").string()});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  Rgb image;
  TavSys::pixreatyp reader((folder / "overprint.jpg").string());
  const TavSys::PixelHeader& head = reader.header();
  if (head.channels != 4) {
    ADD_FAILURE() << "pdftoppm wrote " << head.channels << " channels";
    return image;
  }
  image.width = head.width;
  image.height = head.rows;
  std::vector<std::uint8_t> row(head.rowBytes());
  for (int y = 0; y < head.rows; ++y) {
    reader.readRow(row.data());
    for (int x = 0; x < head.width; ++x) {
      std::uint8_t rgb[3];
      SC::ViewerCmykToRgb(row.data() + std::size_t(x) * 4, rgb);
      image.samples.insert(image.samples.end(), rgb, rgb + 3);
    }
  }
  return image;
}

Rgb readPpm(const fs::path& file) {
  const std::string ppm = tavtest::readFile(file);
  Rgb image;
  int max = 0, consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &image.width, &image.height, &max, &consumed) != 3) return image;
  image.samples.assign(ppm.begin() + consumed + 1, ppm.end());
  return image;
}

double meanDifference(const Rgb& a, const Rgb& b) {
  if (a.width != b.width || a.height != b.height || a.samples.size() != b.samples.size() || a.samples.empty()) return 1;
  double sum = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) sum += std::abs(int(a.samples[i]) - int(b.samples[i]));
  return sum / (255.0 * double(a.samples.size()));
}

// The page's thumbnail as its stream holds it (RGB, 8 bits).
Rgb thumbnailOf(const fs::path& pdf) {
  tavtest::Pdf file(pdf);
  QPDFObjectHandle thumb = file.page(0).getKey("/Thumb");
  Rgb image;
  if (!thumb.isStream()) {
    ADD_FAILURE() << "no thumbnail in " << pdf;
    return image;
  }
  EXPECT_EQ(thumb.getDict().getKey("/ColorSpace").getName(), "/DeviceRGB");
  image.width = int(thumb.getDict().getKey("/Width").getIntValue());
  image.height = int(thumb.getDict().getKey("/Height").getIntValue());
  const std::string data = tavtest::streamData(thumb);
  image.samples.assign(data.begin(), data.end());
  return image;
}

TEST(Thumbnails, CmykPatchesShowAsTheViewerShowsThem) {
  // Patches over the CMYK cube, its corners and inside it, filled in
  // DeviceCMYK and read back from the viewer's RGB rendering; each patch is
  // 8 points square, one pixel per point.
  const std::uint8_t levels[] = {0, 40, 128, 217, 255};
  std::vector<std::array<std::uint8_t, 4>> patches;
  for (std::uint8_t c : levels)
    for (std::uint8_t m : levels)
      for (std::uint8_t y : levels)
        for (std::uint8_t k : levels) patches.push_back({c, m, y, k});
  constexpr int kSide = 8, kColumns = 25;
  const int rows = int(patches.size() + kColumns - 1) / kColumns;
  std::string content;
  char operands[96];
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const auto& p = patches[i];
    std::snprintf(operands, sizeof operands, "%.5f %.5f %.5f %.5f k %d %d %d %d re f\n", p[0] / 255.0, p[1] / 255.0,
                  p[2] / 255.0, p[3] / 255.0, int(i % kColumns) * kSide, (rows - 1 - int(i / kColumns)) * kSide, kSide,
                  kSide);
    content += operands;
  }
  tavtest::TestFolder dir;
  const fs::path pdf = dir / "patches.pdf";
  tavtest::PdfBuilder patchPage;
  patchPage.page("", {content}, kColumns * kSide, rows * kSide);
  patchPage.write(pdf);
  const Rgb viewer = viewerRendering(pdf, kColumns * kSide, rows * kSide, dir.path());
  ASSERT_EQ(viewer.width, kColumns * kSide);
  ASSERT_EQ(viewer.height, rows * kSide);
  for (std::size_t i = 0; i < patches.size(); ++i) {
    const int x = int(i % kColumns) * kSide + kSide / 2, y = int(i / kColumns) * kSide + kSide / 2;
    const std::uint8_t* shown = viewer.samples.data() + (std::size_t(y) * std::size_t(viewer.width) + std::size_t(x)) * 3;
    std::uint8_t ours[3];
    SC::ViewerCmykToRgb(patches[i].data(), ours);
    for (int channel = 0; channel < 3; ++channel) {
      // The viewer computes in its own precision; one level either way.
      EXPECT_LE(std::abs(int(ours[channel]) - int(shown[channel])), 1)
          << "CMYK " << int(patches[i][0]) << " " << int(patches[i][1]) << " " << int(patches[i][2]) << " "
          << int(patches[i][3]) << " channel " << channel;
    }
  }
}

TEST(PicturePreviews, CmykPicturesKeepTheirInksThereAndBack) {
  // A placed picture's preview is handed out in RGB and written back in CMYK
  // with full black generation: inks without a common part come back as
  // they were.
  const std::array<std::uint8_t, 4> pixels[] = {
      {255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 128, 0, 0}, {40, 0, 200, 0}, {0, 90, 255, 0}, {0, 0, 0, 0},
  };
  constexpr int kCount = int(std::size(pixels));
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = kCount;
  cmyk.height = 1;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.resolution = 72;
  cmyk.sample = [&](int x, int, int s) { return pixels[x][std::size_t(s)]; };
  tavtest::writeTiff(dir / "inks.tif", cmyk);
  auto job = drivertest::loadJob(drivertest::placedJob(drivertest::kStandardInks, R"("file":"inks.tif")"), dir.path());
  ASSERT_TRUE(job);
  const SC::PicturePixelBuffer buffer = SC::GetPicturePixelBuffer(job.get(), 1);  // picture 1 of the job
  ASSERT_EQ(buffer.width, kCount);
  ASSERT_EQ(buffer.height, 1);
  for (int x = 0; x < kCount; ++x) {
    const std::uint8_t* rgb = buffer.pixels.data() + std::size_t(x) * 4 + 1;
    double back[4];
    TavGen::rgbcmyk(rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 0.0, 1.0, back);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(back[k] * 255, pixels[x][std::size_t(k)], 0.5) << "pixel " << x << " ink " << k;
  }
}

TEST(Thumbnails, ShowEveryObjectKindAsAViewerShowsThePage) {
  tavtest::TestFolder dir;
  for (const previewtest::KindJob& k : previewtest::objectKindJobs(dir.path())) {
    SCOPED_TRACE(k.name);
    auto job = drivertest::loadJob(k.text, dir.path());
    const auto pdf = dir / "thumb.pdf";
    drivertest::exportAccepted(job.get(), drivertest::flavour("Press", "AddThumbnail=1"), pdf);
    // The thumbnail's writer leaves nothing behind but the thumbnail.
    EXPECT_EQ(tavtest::unreachableObjects(pdf), std::vector<std::string>{});
    const Rgb image = thumbnailOf(pdf);
    // A 10 x 10 inch page at 72 pixels per inch.
    EXPECT_EQ(image.width, 720);
    EXPECT_EQ(image.height, 720);
    const Rgb viewer = viewerOverprintRendering(pdf, image.width, image.height, dir.path());
    EXPECT_LE(meanDifference(image, viewer), kViewerTolerance);
  }
}

TEST(Thumbnails, ShowEveryBundledExampleAsAViewerShowsThePage) {
  // Texts, patterns, placed EPS files and placed PDF pages among them. The
  // carton is judged by its plates only (planes_test.cpp): its one-ups' spot
  // ink overprints the process ground, and the viewer, even showing
  // overprint, composes a spot ink on a CMYK page as a knock-out.
  const char* const cases[][2] = {
      {"label", "Press"},        {"shelf-sign", "Press"},
      {"swatches", "Press"},     {"wave-map", "Press"},     {"barcodes", "Press"},
      {"sunset-label", "Press"}, {"screens", "Press"},      {"placed-files", "Press"},
      {"patterns", "Press"},     {"honey-lid", "Press"},    {"oneups/front-panel", "Press"},
      {"label", "Viewing"},      {"label", "Press Orientation=0 Mirror=1"},
  };
  tavtest::TestFolder dir;
  for (const auto& [name, settings] : cases) {
    SCOPED_TRACE(std::string(name) + " under " + settings);
    auto job = TavKernel::loadJobFile(tavtest::sourceDir() / "examples" / (std::string(name) + ".json"));
    ASSERT_TRUE(job);
    const auto pdf = dir / "example.pdf";
    drivertest::exportAccepted(job.get(), drivertest::flavour(settings, "AddThumbnail=1"), pdf);
    const Rgb image = thumbnailOf(pdf);
    ASSERT_GT(image.width, 0);
    const Rgb viewer = viewerOverprintRendering(pdf, image.width, image.height, dir.path());
    EXPECT_LE(meanDifference(image, viewer), kViewerTolerance);
  }
}

// The "Preview" of each ink and the ink preview "VornPNDNT", decoded, match
// the plates of the same file.
TEST(PagePreviews, DecodedPreviewsMatchThePlates) {
  tavtest::TestFolder dir;
  auto kinds = previewtest::objectKindJobs(dir.path());
  for (const previewtest::KindJob& k : {kinds[1], kinds[3], kinds[6], kinds[7], kinds[10]}) {
    SCOPED_TRACE(k.name);
    auto job = drivertest::loadJob(k.text, dir.path());
    const auto pdf = dir / "previews.pdf";
    drivertest::exportAccepted(
        job.get(), drivertest::flavour("Press", "IncludeSeparatedPreview=1 IncludeVornPreview=1 PreviewResolution=36"),
        pdf);
    const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, 36);
    tavtest::Pdf file(pdf);
    QPDFObjectHandle page = file.page(0);
    QPDFObjectHandle separations = page.getKey("/QELInfo").getKey("/Separations");
    ASSERT_TRUE(separations.isArray());
    std::map<std::string, std::vector<std::uint8_t>> previews;  // by plate name
    int width = 0, height = 0;
    for (int i = 0; i < separations.getArrayNItems(); ++i) {
      QPDFObjectHandle entry = separations.getArrayItem(i);
      QPDFObjectHandle image = entry.getKey("/Preview");
      ASSERT_TRUE(image.isStream()) << i;
      EXPECT_EQ(tavtest::at(image, "/ColorSpace/0"), "/Separation");
      width = int(image.getDict().getKey("/Width").getIntValue());
      height = int(image.getDict().getKey("/Height").getIntValue());
      const std::string data = tavtest::streamData(image);
      const std::string name = entry.getKey("/Name").getName().substr(1);
      previews[previewtest::plateName(*job, TavricLib::FindSeparation(job.get(), name))].assign(data.begin(), data.end());
    }
    QPDFObjectHandle inks = page.getKey("/VornPNDNT");
    ASSERT_TRUE(inks.isStream());
    QPDFObjectHandle names = inks.getDict().getKey("/ColorSpace").getArrayItem(1);
    const std::string interleaved = tavtest::streamData(inks);
    const int n = names.getArrayNItems();
    ASSERT_EQ(interleaved.size(), std::size_t(width) * std::size_t(height) * std::size_t(n));
    for (const auto& [ink, samples] : previews) {
      ASSERT_EQ(samples.size(), std::size_t(width) * std::size_t(height)) << ink;
      if (!plates.plates.count(ink)) continue;
      const tavtest::Plate& plate = plates.plates.at(ink);
      ASSERT_EQ(plate.width, width);
      ASSERT_EQ(plate.height, height);
      double difference = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          difference += std::fabs(samples[std::size_t(y * width + x)] / 255.0 - plate.inkAtPixel(x, y));
      EXPECT_LE(difference / (width * height), 0.02) << ink;
      // The same ink's samples in the ink preview.
      for (int c = 0; c < n; ++c) {
        const std::string name = names.getArrayItem(c).getName().substr(1);
        if (previewtest::plateName(*job, TavricLib::FindSeparation(job.get(), name)) != ink) continue;
        for (std::size_t p = 0; p < samples.size(); ++p)
          ASSERT_EQ(std::uint8_t(interleaved[p * std::size_t(n) + std::size_t(c)]), samples[p]) << ink << " at " << p;
      }
    }
  }
}

struct PngText {
  Rgb image;
  std::map<std::string, std::string> text;
};

// The pixels through libpng's reader, the text chunks as the file holds them.
PngText readPng(const fs::path& file) {
  PngText out;
  const std::string bytes = tavtest::readFile(file);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
    ADD_FAILURE() << "libpng refuses " << file << ": " << image.message;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  out.image.width = int(image.width);
  out.image.height = int(image.height);
  out.image.samples.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, out.image.samples.data(), 0, nullptr) == 0) {
    ADD_FAILURE() << "libpng cannot read " << file << ": " << image.message;
  }
  // Chunks after the signature: length, type, data, CRC.
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const auto length = (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
                        (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
    if (at + 12 + length > bytes.size()) break;
    if (bytes.compare(at + 4, 4, "tEXt") == 0) {
      const std::string data = bytes.substr(at + 8, length);
      const std::size_t nul = data.find('\0');
      if (nul != std::string::npos) out.text[data.substr(0, nul)] = data.substr(nul + 1);
    }
    at += 12 + length;
  }
  return out;
}

TEST(StandardPreview, IsTheDesktopsThumbnailOfTheFile) {
  tavtest::TestFolder dir;
  const fs::path cache = dir / "cache";
  ASSERT_EQ(::setenv("XDG_CACHE_HOME", cache.c_str(), 1), 0);
  struct Case {
    const char* settings;
    const char* folder;  // the size class, empty: no preview
  };
  const Case cases[] = {
      {"Press", "xx-large"},                                         // 10 inches at 72 ppi: 720 pixels
      {"Press PreviewResolution=10", "normal"},                      // 100 pixels
      {"Press PreviewResolution=300", "xx-large"},                   // cut to 1024 pixels
      {"Press IncludeStandardPreview=0", ""},
  };
  auto kinds = previewtest::objectKindJobs(dir.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    fs::remove_all(cache);
    auto job = drivertest::loadJob(kinds[2].text, dir.path());
    // A name the URI must escape.
    const fs::path pdf = dir / "Standard preview #1.pdf";
    drivertest::exportAccepted(job.get(), drivertest::flavour(c.settings), pdf);
    const std::string uri = TavSys::ThumbnailUri(pdf);
    EXPECT_EQ(uri.rfind("file:///", 0), 0u);
    EXPECT_NE(uri.find("Standard%20preview%20%231.pdf"), std::string::npos) << uri;
    if (std::string(c.folder).empty()) {
      EXPECT_FALSE(fs::exists(cache / "thumbnails"));
      continue;
    }
    // One file, named by the MD5 of the URI (md5sum agrees).
    const auto md5 = tavtest::runProcess({"sh", "-c", "printf '%s' \"$0\" | md5sum", uri});
    const fs::path png = cache / "thumbnails" / c.folder / (md5.out.substr(0, 32) + ".png");
    ASSERT_TRUE(fs::exists(png)) << tavtest::folderListing(cache).size();
    EXPECT_EQ(tavtest::folderListing(cache / "thumbnails" / c.folder).size(), 1u);
    EXPECT_EQ(fs::status(png).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const PngText read = readPng(png);
    EXPECT_EQ(read.text.at("Thumb::URI"), uri);
    struct stat st {};
    ASSERT_EQ(::stat(pdf.c_str(), &st), 0);
    EXPECT_EQ(read.text.at("Thumb::MTime"), std::to_string(static_cast<long long>(st.st_mtime)));
    EXPECT_EQ(read.text.at("Thumb::Mimetype"), "application/pdf");
    EXPECT_LE(std::max(read.image.width, read.image.height), TavSys::kMaxStandardPreviewSide);
    // Its pixels are the page's art box (1 inch in from each side of the
    // 10 inch page).
    const double resolution = read.image.width / 8.0;
    const auto run = tavtest::runProcess(
        {"pdftoppm", "-f", "1", "-l", "1", "-r", std::to_string(resolution), "-x", std::to_string(int(std::lround(resolution))),
         "-y", std::to_string(int(std::lround(resolution))), "-W", std::to_string(read.image.width), "-H",
         std::to_string(read.image.height), "-singlefile", pdf.string(), (dir / "viewer").string()});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    const Rgb viewer = readPpm(dir / "viewer.ppm");
    EXPECT_LE(meanDifference(read.image, viewer), kViewerTolerance);
  }
  ::unsetenv("XDG_CACHE_HOME");
}

}  // namespace

namespace {

// A row of CMYK pixels turned into RGB at once takes for each pixel what the
// viewer's conversion gives it alone, however its colours repeat.
TEST(ViewerColours, ARowTakesEachPixelsOwnColour) {
  const SC::CmykToRgb viewer;
  ASSERT_FALSE(viewer.UsesProfile());
  const struct {
    const char* what;
    std::vector<std::uint8_t> cmyk;
  } cases[] = {
      {"one colour throughout", {10, 200, 0, 30, 10, 200, 0, 30, 10, 200, 0, 30}},
      {"runs of two colours", {0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}},
      {"each pixel new", {1, 2, 3, 4, 4, 3, 2, 1, 0, 0, 0, 255, 255, 255, 255, 255}},
      {"a channel changing alone", {9, 9, 9, 9, 9, 9, 9, 10, 9, 9, 10, 10, 9, 10, 10, 10, 10, 10, 10, 10}},
  };
  for (const auto& c : cases) {
    const std::size_t n = c.cmyk.size() / 4;
    std::vector<std::uint8_t> rgb(n * 3);
    viewer.ConvertRow(c.cmyk.data(), rgb.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
      std::uint8_t alone[3];
      SC::ViewerCmykToRgb(c.cmyk.data() + i * 4, alone);
      EXPECT_TRUE(std::equal(alone, alone + 3, rgb.data() + i * 3)) << c.what << ", pixel " << i;
    }
  }
}

}  // namespace

namespace {

// The page drawn through the screen renderer at `width` x `height` over its
// media box, as RGB; `samples` > 1 asks for the sampled smoothing.
Rgb screenRendering(const jobstr* job, int width, int height, int samples) {
  TavSys::tv_rectangle media;
  EXPECT_TRUE(getboxconst(job, kMediaBox, media));
  auto env = SC::EnvironmentFactory(job, media, width, height);
  auto filter = SC::SeparationTableJobFactory(job, 1, 0, 1);
  auto options = SC::OptionsPreviewFactory();
  options->Set("LittleEndian", 0);
  if (samples > 1) options->Set("Supersample", samples);
  auto cache = SC::CacheObjectFactory(job);
  auto rows = SC::RgbConverterFactory(*env, *filter, *options, jobGetSpahan(job), *cache);
  Rgb image;
  image.width = width;
  image.height = height;
  std::vector<std::uint8_t> row(std::size_t(width) * 4);
  while (rows->NextRow(row.data())) {
    for (int x = 0; x < width; ++x) image.samples.insert(image.samples.end(), &row[std::size_t(x) * 4 + 1], &row[std::size_t(x) * 4 + 4]);
  }
  return image;
}

// The standard preview's sampled smoothing shows what the exact smoothing
// shows: the same page, edges apart (an edge pixel takes the share of its
// samples whose centres the shape covers, in steps of a sample). Pixels
// away from edges take the same colour: the samples' average of a flat area
// is its own value.
TEST(StandardPreview, SampledSmoothingShowsWhatExactSmoothingShows) {
  tavtest::TestFolder dir;
  struct Case {
    std::string name, text;
    fs::path folder;
  };
  std::vector<Case> cases;
  for (const previewtest::KindJob& k : previewtest::objectKindJobs(dir.path())) cases.push_back({k.name, k.text, dir.path()});
  const fs::path examples = tavtest::sourceDir() / "examples";
  for (const char* example : {"label", "wave-map", "patterns", "honey-lid", "barcodes"}) {
    cases.push_back({example, tavtest::readFile(examples / (std::string(example) + ".json")), examples});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto job = drivertest::loadJob(c.text, c.folder);
    ASSERT_TRUE(job);
    // A side of some 200 pixels, the size of a desktop's large thumbnail.
    TavSys::tv_rectangle media;
    ASSERT_TRUE(getboxconst(job.get(), kMediaBox, media));
    const double aspect = (media.right - media.left) / (media.bottom - media.top);
    const int width = aspect >= 1 ? 200 : std::max(1, int(std::lround(200 * aspect)));
    const int height = aspect >= 1 ? std::max(1, int(std::lround(200 / aspect))) : 200;
    const Rgb exact = screenRendering(job.get(), width, height, 1);
    // A page of barcodes at this size is edges throughout: 4 % with two
    // samples a side (five steps of coverage), 2 % with more.
    const struct {
      int samples;
      double tolerance;
    } sampling[] = {{2, 0.04}, {3, 0.02}, {4, 0.02}};
    for (const auto& [samples, tolerance] : sampling) {
      SCOPED_TRACE(samples);
      const Rgb sampled = screenRendering(job.get(), width, height, samples);
      ASSERT_EQ(sampled.samples.size(), exact.samples.size());
      EXPECT_LE(meanDifference(sampled, exact), tolerance);
      // Inside flat areas (a pixel whose eight neighbours show its colour
      // in the exact rendering) the colours agree within rounding.
      int flat = 0, apart = 0;
      for (int y = 1; y + 1 < height; ++y) {
        for (int x = 1; x + 1 < width; ++x) {
          const std::uint8_t* e = exact.samples.data() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
          bool same = true;
          for (int dy = -1; dy <= 1 && same; ++dy)
            for (int dx = -1; dx <= 1 && same; ++dx)
              same = std::equal(e, e + 3, exact.samples.data() + (std::size_t(y + dy) * std::size_t(width) + std::size_t(x + dx)) * 3);
          if (!same) continue;
          ++flat;
          const std::uint8_t* s = sampled.samples.data() + (e - exact.samples.data());
          for (int ch = 0; ch < 3; ++ch) apart += std::abs(int(s[ch]) - int(e[ch])) > 2;
        }
      }
      EXPECT_GT(flat, 0);
      EXPECT_LE(apart, flat / 100) << apart << " of " << flat << " flat pixels differ";
    }
  }
}

}  // namespace

namespace {

const char* const kLetterFonts[] = {"NimbusSans-Regular", "NimbusRoman-BoldItalic", "NimbusMonoPS-Bold",
                                    "URWBookman-Demi", "StandardSymbolsPS"};

// A page of texts in several fonts, sizes, turns and colours (one of them
// overprinting, one paint see-through), some running off the page, over a
// background (or none).
std::string letterJob(bool background) {
  const char* const* fonts = kLetterFonts;
  std::string objects = background ? R"({"kind":"path","paint":13,"points":[[0,0],[0,3000],[3000,3000],[3000,0]]})" : "";
  const char* matrices[] = {"[1,0,0,1]", "[0.866,-0.5,0.5,0.866]", "[0,1,-1,0]", "[1.3,0,0.3,0.8]", "[-1,0,0,1]"};
  for (int i = 0; i < 25; ++i) {
    const int f = i % 5;
    const std::string text = f == 4 ? "\\u03b1\\u03b2\\u03a3\\u03a9 \\u2211" : "Qualms & glyphs 0123";
    objects += std::string(objects.empty() ? "" : ",") + R"({"kind":"text","at":[)" + std::to_string(300 + (i / 5) * 550) + "," + std::to_string(150 + (i % 5) * 600) +
               R"(],"matrix":)" + matrices[(i / 5) % 5] + R"(,"runs":[{"text":")" + text + R"(","font":")" + fonts[f] +
               R"(","size":)" + std::to_string(4 + 3 * (i % 4)) + R"(.5,"paint":)" + std::to_string(10 + i % 5) + "}]}";
  }
  return
      R"({"ppi":720,"boxes":{"media":[0,0,3000,3000]},"inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}],)"
      R"("colours":[{"id":1,"inks":{"Black":100}},{"id":2,"inks":{"Cyan":70,"Magenta":20}},)"
      R"({"id":3,"inks":{"Orange":100},"overprint":true},{"id":4,"inks":{"Yellow":40,"Magenta":10}}],)"
      R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2},)"
      R"({"id":12,"type":"flat","colour":3,"overprint":true},{"id":13,"type":"flat","colour":4},)"
      R"({"id":14,"type":"flat","colour":2,"opacity":60}],"objects":[)" + objects + "]}";
}

// The texts of a page drawn from the outlines their faces keep show the
// pixels they show drawn from outlines read afresh for every character:
// fonts, sizes, turns, colours, an overprinting colour and a see-through
// paint, exactly smoothed, sampled and without smoothing.
TEST(StandardPreview, TextsFromKeptOutlinesShowTheirPixelsReadAfresh) {
  tavtest::TestFolder dir;
  auto job = drivertest::loadJob(letterJob(true), dir.path());
  ASSERT_TRUE(job);
  auto limit = [&](std::size_t segments) {
    for (const char* font : kLetterFonts) Fonts::FindFontFace(font)->limitKeptOutlines(segments);
  };
  for (int samples : {1, 4}) {
    SCOPED_TRACE(samples);
    limit(0);
    const Rgb afresh = screenRendering(job.get(), 400, 400, samples);
    limit(Fonts::FontFace::kMaxKeptSegments);
    const Rgb reading = screenRendering(job.get(), 400, 400, samples);
    const Rgb kept = screenRendering(job.get(), 400, 400, samples);
    ASSERT_EQ(afresh.samples.size(), std::size_t(400 * 400 * 3));
    // The texts are there: pixels neither white nor the background's.
    const std::size_t inked = std::size_t(std::count_if(afresh.samples.begin(), afresh.samples.end(), [](std::uint8_t v) { return v < 100; }));
    EXPECT_GT(inked, 3000u);
    EXPECT_TRUE(reading.samples == afresh.samples);
    EXPECT_TRUE(kept.samples == afresh.samples);
  }
}

// Smoothed exactly, a text shows the pixels its outlines show drawn as
// paths of the same paints: the pieces of its characters are drawn by
// cairo as a path's fill is, wherever they lie (those running off the page
// too), in whatever paint.
TEST(StandardPreview, TextsShowAsTheirOutlinesDrawnAsPaths) {
  tavtest::TestFolder dir;
  auto job = drivertest::loadJob(letterJob(false), dir.path());
  ASSERT_TRUE(job);
  const Rgb texts = screenRendering(job.get(), 500, 500, 1);
  auto outlines = TavDB::Object::create(TavDB::ObjectKind::List);
  int count = 0;
  for (const auto& m : jobGetSpahan(job.get())->members()) {
    ASSERT_EQ(m->kind(), TavDB::ObjectKind::Text);
    outlines->addontop(texhivecget(job.get(), m.get(), 1));
    ++count;
  }
  EXPECT_EQ(count, 25);
  std::unique_ptr<TavDB::Object> textTree = jobSetSpahan(job.get(), std::move(outlines));
  const Rgb paths = screenRendering(job.get(), 500, 500, 1);
  jobSetSpahan(job.get(), std::move(textTree));
  ASSERT_EQ(texts.samples.size(), paths.samples.size());
  const std::size_t inked = std::size_t(std::count_if(texts.samples.begin(), texts.samples.end(), [](std::uint8_t v) { return v < 100; }));
  EXPECT_GT(inked, 3000u);
  std::size_t differing = 0;
  for (std::size_t i = 0; i < texts.samples.size(); ++i) differing += texts.samples[i] != paths.samples[i];
  EXPECT_EQ(differing, 0u);
}

}  // namespace

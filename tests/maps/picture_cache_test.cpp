// The page writer's picture cache and the split of cached pictures: which
// uses share a picture, the sub-images a page shows, the base images a
// sub-image is written with, and what the content and the group forms say.
#include <gtest/gtest.h>

#include <set>

#include "map_support.h"
#include "pdfproof_support.h"
#include "pictures/picturecache.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace fs = std::filesystem;
using namespace TavPDF;
using namespace maptest;

namespace {

std::string path(int paint, int top, int left, int bottom, int right) {
  auto p = [](int v, int h) { return "[" + std::to_string(v) + "," + std::to_string(h) + "]"; };
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + p(top, left) + "," +
         p(top, right) + "," + p(bottom, right) + "," + p(bottom, left) + "]}";
}

std::set<const CachedImage*> pictures(PDFProof& w) {
  std::set<const CachedImage*> out;
  for (const auto& [key, picture] : w.GetPictureCache().Entries()) out.insert(picture.get());
  return out;
}

}  // namespace

TEST(PictureCache, UsesShareAPictureWhenTheyReadTheSamePixelsAtOneFactor) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // The same files under another name: a second path, the same pixels.
  fs::copy_file(dir / "ink.tif", dir / "ink-copy.tif");
  const std::string colour = R"([{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}}])";
  const std::string copy = R"(,"files":["ink-copy.tif","spot.tif","mask.tif"])";
  struct Case {
    const char* name;
    std::string maps;
    int map2;
    int width1, width2;  // job units (720 per inch) the 40 pixels cover
    std::size_t pictures;
  } cases[] = {
      {"one map at factors 2.0 and 2.04", "[" + mapEntry(1, 2) + "]", 1, 400, 392, 1},
      {"one map at factors 2.0 and 2.06", "[" + mapEntry(1, 2) + "]", 1, 400, 388, 2},
      {"two maps of the same files", "[" + mapEntry(1, 2) + "," + mapEntry(2, 2) + "]", 2, 400, 400, 1},
      {"an internal and an external map", "[" + mapEntry(1, 2) + "," + mapEntry(2, 2, R"(,"internal":true)") + "]", 2,
       400, 400, 2},
      {"a copy of a file", "[" + mapEntry(1, 2) + "," + mapEntry(2, 2, copy) + "]", 2, 400, 400, 2},
      // The first channels read the same file; a later one tells them apart.
      {"the same files, a later channel differs",
       "[" + mapEntry(1, 2) + "," +
           mapEntry(2, 2, R"(,"channels":[{"ink":"Cyan","file":0,"channel":0},{"ink":"Magenta","file":0,"channel":2},)"
                          R"({"ink":"Spot","file":1}])") +
           "]",
       2, 400, 400, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Downsampled to 36 ppi, a placement 40 pixels across `width` job units
    // has the factor 800 / width.
    auto place = [](int id, int map, int v, int width) {
      return R"({"id":)" + std::to_string(id) + R"(,"type":"map","map":)" + std::to_string(map) +
             R"(,"place":{"origin":[)" + std::to_string(v) + R"(,100],"widthCorner":[)" + std::to_string(v) + "," +
             std::to_string(100 + width) + R"(],"heightCorner":[)" + std::to_string(v + width * 3 / 4) + R"(,100]}})";
    };
    auto j = loadMapJob(kInks, colour, c.maps, "[" + place(20, 1, 100, c.width1) + "," + place(21, c.map2, 500, c.width2) + "]",
                        "[" + path(20, 100, 100, 130, 140) + "," + path(21, 500, 100, 530, 140) + "]", dir.path(), "", 1000, 720);
    PDFSettings s = g2test::testSettings();
    s.UseDownsampling = 1;
    s.DownsampleResolution = 36;
    s.DownsampleUseMinimum = 0;
    g2test::Page page(*j, s);
    EXPECT_EQ(pictures(page.writer()).size(), c.pictures);
  }
}

TEST(PictureCache, SubImagesCoverWhatThePageShows) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // The map of 40 x 30 pixels covers 400 x 300 points at (100, 100).
  const std::string paint = R"([{"id":20,"type":"map","map":1,"place":{"origin":[100,100],)"
                            R"("widthCorner":[100,500],"heightCorner":[400,100]}}])";
  struct Case {
    const char* name;
    std::string objects;
    int clipping;
    std::vector<PixelRect> rects;
  } cases[] = {
      {"a use inside another", "[" + path(20, 100, 100, 250, 300) + "," + path(20, 120, 120, 200, 200) + "]", 1,
       {{0, 0, 15, 20}}},
      {"a use containing another", "[" + path(20, 120, 120, 200, 200) + "," + path(20, 100, 100, 250, 300) + "]", 1,
       {{0, 0, 15, 20}}},
      {"two apart", "[" + path(20, 100, 100, 250, 280) + "," + path(20, 100, 400, 130, 500) + "]", 1,
       {{0, 0, 15, 18}, {0, 30, 3, 40}}},
      {"most of the picture, 95 %", "[" + path(20, 100, 100, 385, 500) + "]", 1, {{0, 0, 30, 40}}},
      {"most of the picture, 85 %", "[" + path(20, 100, 100, 355, 500) + "]", 1, {{0, 0, 26, 40}}},
      {"without image clipping", "[" + path(20, 120, 120, 200, 200) + "]", 0, {{0, 0, 30, 40}}},
      // Nothing of the picture is drawn there: no picture to write.
      {"a use beside the picture", "[" + path(20, 600, 600, 700, 700) + "]", 1, {}},
      {"a use beside the picture, without image clipping", "[" + path(20, 600, 600, 700, 700) + "]", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto j = loadMapJob(kInks, R"([{"id":2,"inks":{"Cyan":100}}])", "[" + mapEntry(1, 2) + "]", paint, c.objects,
                        dir.path(), "", 1000);
    PDFSettings s = g2test::testSettings();
    s.ImageClipping = c.clipping;
    g2test::Page page(*j, s);
    const auto found = pictures(page.writer());
    ASSERT_EQ(found.size(), c.rects.empty() ? 0U : 1U);
    if (found.empty()) continue;
    std::vector<PixelRect> rects;
    for (const CachedSubImage& sub : (*found.begin())->subImages) rects.push_back(sub.rect);
    EXPECT_EQ(rects, c.rects);
  }
}

TEST(PictureCache, SubImagesSplitIntoBaseImages) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout layout;
  layout.width = 4;
  layout.height = 4;
  layout.samples = 10;
  layout.photometric = 5;
  layout.extraTypes = std::vector<int>(6, 0);
  tavtest::writeTiff(dir / "ten.tif", layout);
  layout.samples = 1;
  layout.photometric = 1;
  layout.extraTypes.clear();
  tavtest::writeTiff(dir / "gray.tif", layout);
  std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                     R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"})";
  for (int k = 0; k < 10; ++k) inks += R"(,{"name":"S)" + std::to_string(k) + R"(","cmyk":[10,20,30,0]})";
  inks += "]";
  // Channel k of ten.tif feeds ink `names[k]`.
  auto map = [](const std::vector<std::string>& names, bool opacity, const std::vector<int>& opacities = {}) {
    std::string channels;
    for (std::size_t k = 0; k < names.size(); ++k) {
      channels += std::string(k ? "," : "") + R"({"ink":")" + names[k] + R"(","channel":)" + std::to_string(k) +
                  (opacities.empty() ? "" : R"(,"opacity":)" + std::to_string(opacities[k])) + "}";
    }
    return R"([{"id":1,"files":["ten.tif","gray.tif"],"channels":[)" + channels + "]" +
           (opacity ? R"(,"opacity":{"file":1})" : "") + R"(,"colour":2,"width":4,"height":4}])";
  };
  const std::vector<std::string> cmyk6 = {"Cyan", "Magenta", "Yellow", "Black", "S0", "S1", "S2", "S3", "S4", "S5"};
  const std::vector<std::string> spots10 = {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8", "S9"};
  const std::vector<std::string> cmyk2 = {"Cyan", "Magenta", "Yellow", "Black", "S0", "S1"};
  const std::vector<std::string> spots6 = {"S0", "S1", "S2", "S3", "S4", "S5"};
  using Lists = std::vector<std::vector<std::string>>;
  struct Case {
    const char* name;
    std::string maps;
    std::string colour;          // the map colour's keys
    bool dotgain;
    std::uint32_t version;
    Lists images;                // per base image, its inks
    std::vector<std::uint16_t> opacities = {};
  } cases[] = {
      {"process and six spots", map(cmyk6, false), R"("inks":{},"others":255)", false, kPdf14,
       {{"Cyan", "Magenta", "Yellow", "Black"}, {"S0", "S1", "S2", "S3", "S4", "S5"}}},
      {"ten spots, PDF 1.4", map(spots10, false), R"("inks":{},"others":255)", false, kPdf14,
       {{"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7"}, {"S8", "S9"}}},
      {"ten spots, PDF 1.5", map(spots10, false), R"("inks":{},"others":255)", false, kPdf15, {spots10}},
      {"six spots, no overprint", map(spots6, false), R"("inks":{},"others":255)", false, kPdf14, {spots6}},
      {"dot gain, process and two spots", map(cmyk2, false), R"("inks":{},"others":255)", true, kPdf14,
       {{"Cyan", "Magenta", "Yellow", "Black"}, {"S0"}, {"S1"}}},
      // A knocking-out map writes the inks it leaves at 0 as well.
      {"cyan only, knocking out", map({"Cyan"}, false), R"("inks":{"Cyan":100},"others":0)", false, kPdf14,
       {{"Cyan", "Magenta", "Yellow", "Black"}, {"S0", "S1", "S2", "S3", "S4", "S5", "S6", "S7"}, {"S8", "S9"}}},
      {"cyan only, overprinting", map({"Cyan"}, false), R"("inks":{},"others":255,"overprint":true)", false, kPdf14,
       {{"Cyan"}}},
      {"three opacities", map({"S0", "S1", "S2"}, true, {5, 100, 90}), R"("inks":{},"others":255)", false, kPdf14,
       {{"S0"}, {"S2"}, {"S1"}}, {1280, 23040, 25600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto j = loadMapJob(inks, R"([{"id":2,)" + c.colour + "}]", c.maps,
                        R"([{"id":20,"type":"map","map":1,"place":{"origin":[0,0],"widthCorner":[0,40],"heightCorner":[40,0]}}])",
                        "[" + path(20, 0, 0, 40, 40) + "]", dir.path(), "", 1000);
    PDFSettings s = g2test::testSettings();
    s.EnableDotgain = c.dotgain;
    g2test::Page page(*j, s, c.version);
    const auto found = pictures(page.writer());
    ASSERT_EQ(found.size(), 1U);
    const CachedSubImage& sub = (*found.begin())->subImages.at(0);
    Lists images;
    std::vector<std::uint16_t> opacities;
    for (const auto& base : sub.baseImages) {
      images.emplace_back();
      for (int sep : base->separations) images.back().push_back(GetSeparationName(j.get(), sep));
      opacities.push_back(base->opacity);
    }
    EXPECT_EQ(images, c.images);
    if (!c.opacities.empty()) {
      EXPECT_EQ(opacities, c.opacities);
    }
  }
}

// Maps under opaque inks: the paint conversion marks a copy of the map with
// its highest printing opaque ink, and the map's image rows then carry that
// ink's share taken off the inks of lower slots, pixel by pixel.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "driver_support.h"
#include "map_support.h"
#include "pagewriter/pdfproof.h"
#include "platform/kernel/mappedpicture.h"
#include "support/consumers.h"

using namespace maptest;

namespace {

// Spot (slot 4) opaque, or magenta (slot 1).
std::string inks(bool magentaOpaque) {
  return std::string(R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta")") +
         (magentaOpaque ? R"(,"opaque":true)" : "") +
         R"(},{"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
         R"({"name":"Spot","cmyk":[0,40,100,10])" + (magentaOpaque ? "" : R"(,"opaque":true)") + "}]";
}

// The rows of a map's stream, plane by plane: rows[y][x][plane].
std::vector<std::vector<std::vector<int>>> rowsOf(const jobstr* job, int map, const std::vector<int>& planes) {
  TavricLib::MappedPictureStream stream(job, map, planes, false);
  std::vector<std::vector<std::vector<int>>> rows;
  std::vector<std::uint8_t> row(stream.RowBytes());
  while (stream.GetLine(row.data())) {
    rows.emplace_back();
    for (int x = 0; x < stream.GetWidth(); ++x) {
      rows.back().emplace_back(row.begin() + x * long(planes.size()), row.begin() + (x + 1) * long(planes.size()));
    }
  }
  return rows;
}

}  // namespace

TEST(OpaqueMaps, TheOpaqueInkTakesItsShareOffTheLowerInksAtEachPixel) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // Channels: cyan, magenta (ink.tif), spot (spot.tif); the map's colour
  // gives yellow a flat 40 % and leaves black alone.
  const std::string colours = R"([{"id":1,"inks":{"Yellow":40},"others":255}])";
  struct Case {
    const char* what;
    bool magentaOpaque;
    bool knockout;
    std::function<bool(int)> prints;  // null: every ink in use
    std::vector<int> planes;          // slots written
    int opaque;                       // the slot that knocks out, -1 none
  };
  const Case cases[] = {
      {"the spot over cyan, yellow and itself", false, true, nullptr, {0, 2, 4}, 4},
      {"the spot's plane not written: magenta alone", false, true, nullptr, {1}, 4},
      {"without knockout", false, false, nullptr, {0, 1, 2, 4}, -1},
      {"the spot not printed on this plate", false, true, [](int s) { return s != 4; }, {0, 1, 2}, -1},
      {"an opaque magenta: cyan below, the spot above it", true, true, nullptr, {0, 1, 4}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = loadMapJob(inks(c.magentaOpaque), colours, "[" + mapEntry(1, 1) + "]", "[" + mapPaint(20, 1, 10, 10, 1) + "]",
                          "[" + mapFrame(20, 10, 10, 1) + "]", dir.path());
    const std::uint16_t converted = TavPDF::ConvertPaintForOpaqueInks(job.get(), 20, c.knockout, c.prints);
    if (c.opaque < 0) {
      EXPECT_EQ(converted, 20);
      continue;
    }
    ASSERT_NE(converted, 20);
    const int map = paipoi(job.get(), converted)->map;
    ASSERT_NE(map, 1);
    EXPECT_EQ(mappoi(job.get(), map)->opaqueKnockout, c.opaque);
    EXPECT_EQ(mappoi(job.get(), 1)->opaqueKnockout, -1);  // the job's own map stays as it is
    // A linked file would show the inks as they stand: the map is written
    // with its pixels.
    EXPECT_TRUE(paintVornImageLinkPossible(job.get(), 20, false, true));
    EXPECT_FALSE(paintVornImageLinkPossible(job.get(), converted, false, true));
    const auto before = rowsOf(job.get(), 1, c.planes), after = rowsOf(job.get(), map, c.planes);
    ASSERT_EQ(after.size(), std::size_t(kHeight));
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const double o = c.opaque == 4 ? 255 - spotLightAt(x, y) : magentaAt(x, y);
        for (std::size_t p = 0; p < c.planes.size(); ++p) {
          const double keep = c.planes[p] < c.opaque ? 1 - o / 255 : 1;
          ASSERT_NEAR(after[y][x][p], before[y][x][p] * keep, 0.51)
              << "slot " << c.planes[p] << " at " << x << ", " << y;
        }
      }
    }
  }
}

// Linked (OPI or image link) maps whose files the export does not embed are
// written with their pixels when an opaque ink knocks out within them: the
// plates show cyan reduced by the opaque magenta at each pixel.
TEST(OpaqueMaps, KnockingOutMapsAreWrittenWithTheirPixelsUnderLinks) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  const std::string map = R"({"id":1,"files":["ink.tif"],"channels":[{"ink":"Cyan","channel":0},)"
                          R"({"ink":"Magenta","channel":1}],"colour":1,"width":40,"height":30,"resolution":18})";
  auto job = drivertest::loadJob(
      drivertest::jobText(inks(true), R"([{"id":1,"inks":{"Cyan":100,"Magenta":100}}])",
                          "[" + mapPaint(20, 1, 720, 720, 40) + "]", "[" + mapFrame(20, 720, 720, 40) + "]",
                          ",\"maps\":[" + map + "]"),
      dir.path());
  for (const char* links : {"LinkType=1 EmbedImages=0", "LinkType=2 IncludePrivateData=1 EmbedImages=0"}) {
    SCOPED_TRACE(links);
    const auto out = dir / "linked.pdf";
    const auto run = drivertest::exportJob(
        job.get(), drivertest::flavour("Press", std::string(links) + " ForceOpaqueSeparationsToKnockout=1"), out);
    ASSERT_EQ(run.result, 0) << run.keys();
    const tavtest::Plates plates = tavtest::measurePlates(out);
    for (int y = 2; y < kHeight; y += 9) {
      for (int x = 3; x < kWidth; x += 11) {
        const int px = 72 + 4 * x + 2, py = 72 + 4 * y + 2;
        const double magenta = magentaAt(x, y) / 255.0;
        EXPECT_NEAR(plates.inkAtPixel("Cyan", px, py), cyanAt(x, y) / 255.0 * (1 - magenta), 0.02) << x << "," << y;
        EXPECT_NEAR(plates.inkAtPixel("Magenta", px, py), magenta, 0.02) << x << "," << y;
      }
    }
  }
}

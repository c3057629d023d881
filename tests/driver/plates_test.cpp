// Plates of whole exports as Ghostscript's separation device measures them:
// what every ink prints where colours leave inks untouched or set a process
// ink to 0, where strokes lie inside or outside their outline, and under an
// opaque ink; and the separated pages of the bundled label, each equal to the
// composite's plate of its ink.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pictures.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {

// Mean difference of ink, pixel by pixel (0 the same, 1 every pixel opposite).
double plateDifference(const tavtest::Plate& a, const tavtest::Plate& b) {
  if (a.width != b.width || a.height != b.height) return 1;
  double sum = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) sum += std::abs(int(a.samples[i]) - int(b.samples[i]));
  return sum / (255.0 * static_cast<double>(a.samples.size()));
}

constexpr const char* kInks =
    R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
    R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
    R"({"name":"Silver","cmyk":[20,20,20,30],"opaque":true}])";

// Paint 30 is full cyan; paint 31 the case's colour 21, paint 32 its colour 22.
std::string twoSquares(const std::string& colour21, const std::string& colour22, const std::string& top) {
  return jobText(kInks,
                 R"([{"id":20,"inks":{"Cyan":100}},{"id":21,)" + colour21 + "},{\"id\":22," + colour22 + "}]",
                 R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
                 R"({"id":32,"type":"flat","colour":22}])",
                 "[" + square(720, 720, 2880, 30) + "," + top + "]");
}

// The top square at v 1440..2880, h 1440..2880: x 144..288, y 432..576 points.
std::string top(const std::string& extra = "") { return square(1440, 1440, 1440, 31, extra); }

}  // namespace

TEST(Plates, InksWhereColoursOverlapStrokeAndHideEachOther) {
  using tavtest::InkAt;
  struct Case {
    const char* what;
    std::string job;
    std::string overrides;
    std::vector<InkAt> composite;
    std::vector<InkAt> separated;  // on each ink's own page, as Black
  };
  const std::string black = R"("inks":{"Black":100})";
  const Case cases[] = {
      {"a colour that leaves cyan untouched shows the cyan below, in separated output too",
       twoSquares(R"("inks":{"Magenta":50,"Yellow":100},"others":255)", black, top()), "",
       {{"Cyan", 216, 504, 1}, {"Magenta", 216, 504, 0.5}, {"Yellow", 216, 504, 1}},
       {{"Cyan", 216, 504, 1}, {"Magenta", 216, 504, 0.5}, {"Cyan", 100, 600, 1}}},
      {"a process ink the colour sets to 0 is knocked out, under overprint as well",
       twoSquares(R"("inks":{"Cyan":0,"Magenta":50},"others":255)", black, top()), "",
       {{"Cyan", 216, 504, 0}, {"Magenta", 216, 504, 0.5}, {"Cyan", 100, 600, 1}},
       {{"Cyan", 216, 504, 0}, {"Magenta", 216, 504, 0.5}}},
      {"an inside stroke lies within the outline, its width as given",
       twoSquares(R"("inks":{"Yellow":100})", black,
                  top(R"(,"stroke":{"width":100,"paint":32,"position":"inside"})")),
       "",
       {{"Black", 149, 504, 1}, {"Black", 139, 504, 0}, {"Cyan", 149, 504, 0}, {"Yellow", 160, 504, 1},
        {"Black", 216, 571, 1}, {"Black", 216, 581, 0}},
       {{"Black", 149, 504, 1}, {"Black", 139, 504, 0}}},
      {"an outside stroke lies around the outline",
       twoSquares(R"("inks":{"Yellow":100})", black,
                  top(R"(,"stroke":{"width":100,"paint":32,"position":"outside","join":"miter"})")),
       "",
       {{"Black", 139, 504, 1}, {"Black", 149, 504, 0}, {"Cyan", 139, 504, 0}, {"Yellow", 149, 504, 1},
        {"Black", 136, 584, 1}},
       {{"Black", 139, 504, 1}, {"Yellow", 149, 504, 1}}},
      {"a stroke under an opaque ink is reduced to the exact tint, not to a whole percent",
       twoSquares(R"("inks":{"Yellow":100})", R"("inks":{"Cyan":33,"Silver":50})",
                  top(R"(,"stroke":{"width":100,"paint":32})")),
       "ForceOpaqueSeparationsToKnockout=1",
       {{"Cyan", 144, 504, 0.165}, {"Silver", 144, 504, 0.5}, {"Cyan", 100, 600, 1}},
       {{"Cyan", 144, 504, 0.165}}},
  };
  tavtest::TestFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = loadJob(c.job);
    const fs::path composite = dir / "composite.pdf", separated = dir / "separated.pdf";
    ASSERT_EQ(exportAccepted(job.get(), flavour("Press", c.overrides), composite).result, 0);
    const auto plates = tavtest::measurePlates(composite);
    tavtest::expectInks(plates, c.composite, 0.003);

    ASSERT_EQ(exportAccepted(job.get(), flavour("Separated", c.overrides), separated).result, 0);
    for (const InkAt& i : c.separated) {
      const auto page = tavtest::measurePlates(separated, tavtest::separationPage(separated, i.ink));
      EXPECT_NEAR(page.inkAtPoint("Black", i.x, i.y), i.share, 0.003) << i.ink << " at " << i.x << ", " << i.y;
    }
  }
}

// A map over the square at v 720..3600, h 720..3600 (x 72..360, y 360..648
// points): eight columns of 36 points, cyan full from its channel, magenta a
// flat 40 %, and an opaque silver that rises from 0 over pairs of columns.
// With ForceOpaqueSeparationsToKnockout the silver takes its share off
// cyan and magenta at each pixel, on every plate; the picture stays.
TEST(Plates, AnOpaqueInkInAMapKnocksOutTheLowerInksPixelByPixel) {
  tavtest::TestFolder dir;
  const std::uint8_t silver[4] = {0, 64, 191, 255};  // per pair of columns
  tavtest::TiffLayout layout;
  layout.photometric = 0;  // min is white: the sample is the ink
  layout.sample = [](int, int, int) { return std::uint8_t(255); };
  tavtest::writeTiff(dir / "cyan.tif", layout);
  layout.sample = [&](int x, int, int) { return silver[x / 2]; };
  tavtest::writeTiff(dir / "silver.tif", layout);
  const auto job = [&](bool silverChannel, const std::string& colour) {
    const std::string channels = std::string(R"([{"ink":"Cyan","file":0})") +
                                 (silverChannel ? R"(,{"ink":"Silver","file":1}])" : "]");
    return jobText(kInks, R"([{"id":21,"inks":)" + colour + "}]",
                   R"([{"id":31,"type":"map","map":1,"place":{"origin":[720,720],"widthCorner":[720,3600],)"
                   R"("heightCorner":[3600,720]}}])",
                   "[" + square(720, 720, 2880, 31) + "]",
                   R"(,"maps":[{"id":1,"files":[")" + (dir / "cyan.tif").string() + R"(",")" +
                       (dir / "silver.tif").string() + R"("],"channels":)" + channels +
                       R"(,"colour":21,"width":8,"height":4}])");
  };
  struct Case {
    const char* what;
    std::string job;
    std::string overrides;
    double silver[4];  // the silver plate per pair of columns; cyan and magenta follow
    bool knockout;
  };
  const std::string colour = R"({"Cyan":100,"Magenta":40,"Silver":100})";
  const double channel[4] = {0, 64 / 255.0, 191 / 255.0, 1};
  const Case cases[] = {
      {"silver from its channel", job(true, colour), "ForceOpaqueSeparationsToKnockout=1",
       {channel[0], channel[1], channel[2], channel[3]}, true},
      {"silver a flat 30 % of the map", job(false, R"({"Cyan":100,"Magenta":40,"Silver":30})"),
       "ForceOpaqueSeparationsToKnockout=1", {0.3, 0.3, 0.3, 0.3}, true},
      {"without the setting nothing is knocked out", job(true, colour), "",
       {channel[0], channel[1], channel[2], channel[3]}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto loaded = loadJob(c.job);
    std::vector<tavtest::InkAt> expected;
    for (int k = 0; k < 4; ++k) {
      const double x = 108 + 72 * k, keep = c.knockout ? 1 - c.silver[k] : 1;
      expected.push_back({"Silver", x, 504, c.silver[k]});
      expected.push_back({"Cyan", x, 504, keep});
      expected.push_back({"Magenta", x, 504, 0.4 * keep});
    }
    const fs::path composite = dir / "composite.pdf", separated = dir / "separated.pdf";
    ASSERT_EQ(exportAccepted(loaded.get(), flavour("Press", c.overrides), composite).result, 0);
    tavtest::expectInks(tavtest::measurePlates(composite), expected, 0.01);
    ASSERT_EQ(exportAccepted(loaded.get(), flavour("Separated", c.overrides), separated).result, 0);
    for (const tavtest::InkAt& i : expected) {
      const auto page = tavtest::measurePlates(separated, tavtest::separationPage(separated, i.ink));
      EXPECT_NEAR(page.inkAtPoint("Black", i.x, i.y), i.share, 0.01) << i.ink << " at " << i.x << ", " << i.y;
    }
  }
}

// The bundled label under the Separated flavour: every page is its ink's
// plate of the composite file, the varnish and the die line included.
TEST(Plates, LabelSeparatedPagesEqualTheCompositePlates) {
  tavtest::TestFolder dir;
  const fs::path label = tavtest::sourceDir() / "examples" / "label.json";
  // The die line is a rectangle with rounded corners: every straight piece
  // runs along an edge, none cuts across a corner.
  auto job = loadJob(tavtest::readFile(label), label.parent_path());
  TavDB::ListScan scan(jobGetSpahan(job.get()), TavDB::kObjPath, 0, 0, 0, 0);
  const TavDB::Object* cut = nullptr;
  for (TavDB::Object* o = scan.next(); o != nullptr; o = scan.next())
    if (o->name() == "cut") cut = o;
  ASSERT_NE(cut, nullptr);
  const auto& points = cut->points();
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& a = points[i];
    const auto& b = points[(i + 1) % points.size()];
    if (a.type == TavDB::PathPoint::kControl || b.type != TavDB::PathPoint::kLine) continue;
    EXPECT_TRUE(a.v == b.v || a.h == b.h) << "slanted from point " << i;
  }

  const fs::path composite = dir / "composite.pdf", separated = dir / "separated.pdf";
  for (const auto& [flavourName, pdf] : {std::pair{"Press", composite}, std::pair{"Separated", separated}}) {
    const auto run = tavtest::runTavpdf({"export", label.string(), "-o", pdf.string(), "--flavour", flavourName});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
  }
  const auto plates = tavtest::measurePlates(composite);
  int pages = 0;
  for (const auto& [ink, plate] : plates.plates) {
    if (plate.coverage() == 0) continue;
    SCOPED_TRACE(ink);
    ++pages;
    const auto page = tavtest::measurePlates(separated, tavtest::separationPage(separated, ink));
    EXPECT_LT(plateDifference(page.plate("Black"), plate), 0.01)
        << "separated " << page.plate("Black").coverage() << ", composite " << plate.coverage();
  }
  EXPECT_EQ(pages, 8) << plates.summary();
}

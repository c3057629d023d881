// The flattener on its own: the areas it makes of awkward shapes, the
// colours it composes where it needs no consumer to tell, what it keeps
// from the tree, over a thousand overlapping transparent objects, and a
// cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <string>

#include "platform/kernel/exportkernel.h"
#include "platform/kernel/flattener.h"
#include "platform/kernel/flattenraster.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"
#include "platform/tifflibrary.h"

namespace fs = std::filesystem;

namespace {

std::string square(int v, int h, int side, int paint) {
  const auto pt = [](int a, int b) { return "[" + std::to_string(a) + "," + std::to_string(b) + "]"; };
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + pt(v, h) + "," + pt(v, h + side) +
         "," + pt(v + side, h + side) + "," + pt(v + side, h) + "]}";
}

std::unique_ptr<jobstr> job(const std::string& objects) {
  return TavKernel::loadJobFromMemory(
      R"({"ppi":720,"origin":[7200,0],"boxes":{"media":[0,0,7200,7200]},)"
      R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},{"name":"Orange","cmyk":[0,60,100,0]}],)"
      R"("colours":[{"id":1,"inks":{"Cyan":100}},{"id":2,"inks":{"Magenta":80}},{"id":3,"inks":{"Orange":100},"others":255}],)"
      R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2,"opacity":50},)"
      R"({"id":12,"type":"flat","colour":3,"opacity":40,"blendMode":"multiply"}],"objects":[)" +
          objects + "]}",
      fs::temp_directory_path(), "flatten.json");
}

// The composed regions the tree holds, in painting order: their areas and paints.
struct Region {
  TavFlatten::Polygons area;
  std::uint16_t paint = 0;
};
std::vector<Region> regionsOf(const TavDB::Object* tree) {
  std::vector<Region> out;
  std::function<void(const TavDB::Object*)> walk = [&](const TavDB::Object* o) {
    if (o->extra() != nullptr && o->extra()->composed) {
      TavFlatten::Polygons contours;
      auto add = [&](const TavDB::Object* path) {
        ClipperLib::Path p;
        for (const auto& pt : path->points()) p.emplace_back(pt.h, pt.v);
        contours.push_back(p);
      };
      if (o->kind() == TavDB::ObjectKind::Path) add(o);
      for (const auto& m : o->members()) add(m.get());
      out.push_back({TavFlatten::Simplify(contours), o->paint()});
      return;
    }
    for (const auto& m : o->members()) walk(m.get());
  };
  walk(tree);
  return out;
}

// What the regions cover together.
double coveredArea(const std::vector<Region>& regions) {
  TavFlatten::Polygons all;
  for (const Region& r : regions) all = TavFlatten::Unite(all, r.area);
  return TavFlatten::AreaOf(all);
}

// The tints (0..1) of Cyan, Magenta, Orange where the last region painted
// over the point (v, h) lies; all -1 where none does.
std::array<double, 3> inksAt(const jobstr* j, const std::vector<Region>& regions, int v, int h) {
  std::array<double, 3> inks{-1, -1, -1};
  for (const Region& r : regions) {
    int inside = 0;
    for (const auto& p : r.area) inside += ClipperLib::PointInPolygon({h, v}, p) != 0 ? 1 : 0;
    if (inside % 2 == 0) continue;
    const auto tints = paisep16(j, r.paint);
    inks = {tints[0] / 25600.0, tints[1] / 25600.0, tints[2] / 25600.0};
  }
  return inks;
}

bool samePoints(const TavDB::Object* a, const TavDB::Object* b) {
  return std::equal(a->points().begin(), a->points().end(), b->points().begin(), b->points().end(),
                    [](const TavDB::PathPoint& p, const TavDB::PathPoint& q) {
                      return p.v == q.v && p.h == q.h && p.type == q.type;
                    });
}

TavFlatten::Result flatten(jobstr* j, TavFlatten::RasterStore& store, const TavFlatten::Parameters& p = {},
                           const std::function<bool()>& cancelled = {}) {
  return TavFlatten::FlattenTree(j, jobGetSpahan(j), p, &store, cancelled);
}

}  // namespace

TEST(FlattenerAreas, AwkwardShapesUnderTransparencyComposeTheAreaTheyFill) {
  // A 50 % magenta shape over a cyan square: where they meet it composes to
  // cyan 50 %, magenta 40 %, and the regions cover exactly what the shape fills.
  struct Case {
    const char* what;
    std::string shape;
    double area;                 // what the shape fills, square job units
    std::array<int, 2> inside;   // a point inside it (v, h)
  };
  const std::string hole = R"({"kind":"path","points":)";
  const Case cases[] = {
      {"a square", square(1000, 1000, 1000, 11), 1000.0 * 1000, {1500, 1500}},
      {"a bow tie crossing itself (two triangles, even-odd)",
       R"({"kind":"path","paint":11,"points":[[1000,1000],[2000,2000],[1000,2000],[2000,1000]]})", 2 * 250000.0,
       {1500, 1200}},
      {"a compound with a hole",
       R"({"kind":"compound","paint":11,"objects":[)" + hole + "[[1000,1000],[1000,2000],[2000,2000],[2000,1000]]}," +
           hole + "[[1250,1250],[1250,1750],[1750,1750],[1750,1250]]}]}",
       1000.0 * 1000 - 500.0 * 500, {1100, 1100}},
      {"a line: no area", R"({"kind":"path","paint":11,"points":[[1000,1000],[2000,2000]]})", 0, {}},
      {"one point", R"({"kind":"path","paint":11,"points":[[1000,1000]]})", 0, {}},
      {"three points in a row", R"({"kind":"path","paint":11,"points":[[1000,1000],[1500,1500],[2000,2000]]})", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto j = job(square(500, 500, 3000, 10) + "," + c.shape);
    JobStateGuard guard(j.get());
    TavFlatten::RasterStore store(j.get());
    const TavFlatten::Result r = flatten(j.get(), store);
    ASSERT_TRUE(r.tree);
    EXPECT_FALSE(jobHasTransparency(j.get(), r.tree.get()));
    const std::vector<Region> regions = regionsOf(r.tree.get());
    EXPECT_NEAR(coveredArea(regions), c.area, c.area * 0.001 + 1);
    if (c.area > 0) {
      const auto inks = inksAt(j.get(), regions, c.inside[0], c.inside[1]);
      EXPECT_NEAR(inks[0], 0.5, 0.002);
      EXPECT_NEAR(inks[1], 0.4, 0.002);
      EXPECT_NEAR(inks[2], 0, 0.002);
    }
    // The cyan square below is kept as it is.
    EXPECT_TRUE(samePoints(r.tree->member(0), jobGetSpahan(j.get())->member(0)));
  }
}

TEST(FlattenerAreas, OverAThousandOverlappingTransparentObjectsAreFlattenedWithinTheLimits) {
  // 1,200 squares at 40 % multiply, each lying over some ten others:
  // every one is flattened, none is cut into more regions than the limit
  // allows (beyond it the raster road takes the area), nothing transparent
  // is left.
  std::string objects = square(0, 0, 7200, 10);
  unsigned seed = 12345;
  auto next = [&](unsigned range) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % range);
  };
  for (int i = 0; i < 1200; ++i) objects += "," + square(300 + next(6200), 300 + next(6200), 300 + next(400), 12);
  auto j = job(objects);
  JobStateGuard guard(j.get());
  TavFlatten::RasterStore store(j.get());
  TavFlatten::Parameters p;
  p.resolution = 36;
  const TavFlatten::Result r = flatten(j.get(), store, p);
  ASSERT_TRUE(r.tree);
  EXPECT_EQ(r.unitsFlattened, 1200);
  EXPECT_FALSE(jobHasTransparency(j.get(), r.tree.get()));
  EXPECT_LE(double(r.regionsWritten), 1200.0 * double(p.regionLimit));
  EXPECT_GT(r.rasterAreas + r.regionsWritten, 0);
}

// Areas cut into more regions than the limit are rendered into gray TIFF
// files through libtiff, loaded when the first one is written. Without the
// library the flattening stops, naming the file and why.
TEST(FlattenerAreas, RasterAreasWithoutTheTiffLibraryStopNamingTheFileAndWhy) {
  std::string objects = square(0, 0, 7200, 10);
  for (int i = 0; i < 6; ++i) objects += "," + square(500 + 300 * i, 500 + 200 * i, 2000, 11 + i % 2);
  auto j = job(objects);
  JobStateGuard guard(j.get());
  TavFlatten::Parameters p;
  p.resolution = 36;
  p.regionLimit = 1;
  {
    TavFlatten::RasterStore store(j.get());
    const TavFlatten::Result r = flatten(j.get(), store, p);
    ASSERT_TRUE(r.tree);
    ASSERT_GT(r.rasterAreas, 0);
  }
  struct LibraryKept {  // the build's libtiff back, whatever happens
    std::string name = TavSys::TiffLibrary().Name();
    ~LibraryKept() { TavSys::TiffLibrary().SetName(name); }
  } kept;
  TavSys::TiffLibrary().SetName("libtavpdf-no-tiff.so.0");
  TavFlatten::RasterStore store(j.get());
  try {
    flatten(j.get(), store, p);
    ADD_FAILURE() << "flattened";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "SYS/FILE ERROR");
    ASSERT_NE(e.value("__FILE__"), nullptr);
    EXPECT_EQ(fs::path(*e.value("__FILE__")).extension(), ".tif");
    ASSERT_NE(e.value("__REASON__"), nullptr);
    EXPECT_NE(e.value("__REASON__")->find("libtavpdf-no-tiff.so.0"), std::string::npos) << *e.value("__REASON__");
  }
}

TEST(FlattenerAreas, ACancelStopsBetweenUnitsAndGivesNoTree) {
  std::string objects = square(0, 0, 7200, 10);
  for (int i = 0; i < 20; ++i) objects += "," + square(500 + 100 * i, 500, 1000, 11);
  auto j = job(objects);
  JobStateGuard guard(j.get());
  TavFlatten::RasterStore store(j.get());
  int asked = 0;
  const TavFlatten::Result r = flatten(j.get(), store, {}, [&] { return ++asked > 5; });
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.tree);
  EXPECT_EQ(asked, 6);
}

TEST(FlattenerAreas, OnlyWhatTransparencyTouchesChangesAndOverprintStaysUnlessAsked) {
  // An orange multiply square (leaving the other inks untouched) over cyan,
  // beside an opaque square that nothing touches: the opaque one is copied,
  // the transparent one composed where it lies over cyan (orange 40 %, cyan
  // kept) and over the paper (orange 40 % alone).
  auto j = job(square(500, 500, 2000, 10) + "," + square(4000, 4000, 1000, 10) + "," + square(1500, 1500, 2000, 12));
  JobStateGuard guard(j.get());
  TavFlatten::RasterStore store(j.get());
  const TavFlatten::Result r = flatten(j.get(), store);
  ASSERT_TRUE(r.tree);
  // The two opaque squares are copies; the rest stands for the transparent one.
  EXPECT_TRUE(samePoints(r.tree->member(0), jobGetSpahan(j.get())->member(0)));
  EXPECT_TRUE(samePoints(r.tree->member(1), jobGetSpahan(j.get())->member(1)));
  const std::vector<Region> regions = regionsOf(r.tree.get());
  EXPECT_NEAR(coveredArea(regions), 2000.0 * 2000, 1);
  struct At {
    int v, h;
    std::array<double, 3> inks;
  };
  for (const At& at : {At{2000, 2000, {1, 0, 0.4}}, At{3000, 3000, {0, 0, 0.4}}, At{1000, 1000, {-1, -1, -1}}}) {
    const auto inks = inksAt(j.get(), regions, at.v, at.h);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(inks[std::size_t(k)], at.inks[std::size_t(k)], 2e-3) << at.v << "," << at.h;
  }
}

TEST(FlattenerAreas, CuttingToABoxAndOneAreaByAnotherKeepsWhatTheSetOperationsGive) {
  // Cut to a box, contours give the same area within the box as they do
  // whole, whether they lie inside it, outside it, across it or around it;
  // and an area cut by another splits into exactly its intersection and its
  // difference.
  using TavFlatten::Polygons;
  const TavDB::tv_box box{1000, 1000, 2000, 2000};
  auto rect = [](int top, int left, int bottom, int right) {
    return ClipperLib::Path{{left, top}, {right, top}, {right, bottom}, {left, bottom}};
  };
  auto reversed = [](ClipperLib::Path p) {
    std::reverse(p.begin(), p.end());
    return p;
  };
  struct Case {
    const char* what;
    Polygons contours;
  };
  const Case cases[] = {
      {"wholly inside", {rect(1200, 1200, 1800, 1800)}},
      {"wholly outside", {rect(3000, 3000, 3500, 3500)}},
      {"across a corner", {rect(500, 500, 1500, 1500)}},
      {"just across the left edge", {rect(1200, 980, 1800, 1020)}},
      {"just across the right edge", {rect(1200, 1980, 1800, 2020)}},
      {"just across the top edge", {rect(980, 1200, 1020, 1800)}},
      {"just across the bottom edge", {rect(1980, 1200, 2020, 1800)}},
      {"across the whole box", {rect(1400, 0, 1600, 3000)}},
      {"around it", {rect(0, 0, 3000, 3000)}},
      {"a hole around the box", {rect(0, 0, 3000, 3000), reversed(rect(900, 900, 2100, 2100))}},
      {"a hole inside the box", {rect(0, 0, 3000, 3000), reversed(rect(1300, 1300, 1700, 1700))}},
      {"a bow tie across an edge", {ClipperLib::Path{{500, 1200}, {1500, 1800}, {1500, 1200}, {500, 1800}}}},
      {"a contour touching the box from outside", {rect(2000, 1200, 2400, 1800)}},
  };
  const Polygons window = TavFlatten::RectangleArea(box);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Polygons area = TavFlatten::Unite(c.contours, {});
    const double expected = TavFlatten::AreaOf(TavFlatten::Intersect(area, window));
    EXPECT_NEAR(TavFlatten::AreaOf(TavFlatten::Intersect(TavFlatten::ClipToBox(area, box), window)), expected, 1);

    const Polygons shape = TavFlatten::Simplify(c.contours);
    TavFlatten::Cut cut(window, shape);
    const Polygons under = cut.Under(), outside = cut.Outside();
    EXPECT_NEAR(TavFlatten::AreaOf(under), TavFlatten::AreaOf(TavFlatten::Intersect(window, shape)), 1);
    EXPECT_NEAR(TavFlatten::AreaOf(outside), TavFlatten::AreaOf(TavFlatten::Subtract(window, shape)), 1);
    EXPECT_NEAR(TavFlatten::AreaOf(under) + TavFlatten::AreaOf(outside), 1000.0 * 1000, 1);
    EXPECT_NEAR(TavFlatten::AreaOf(TavFlatten::Intersect(under, outside)), 0, 1);
  }
}

namespace {

// Whether a point lies within `margin` job units of an edge of the contours.
bool nearEdge(const TavFlatten::Polygons& contours, double v, double h, double margin) {
  for (const ClipperLib::Path& p : contours) {
    for (std::size_t i = 0; i < p.size(); ++i) {
      const ClipperLib::IntPoint& a = p[i];
      const ClipperLib::IntPoint& b = p[(i + 1) % p.size()];
      const double dx = double(b.X - a.X), dy = double(b.Y - a.Y);
      const double len2 = dx * dx + dy * dy;
      double t = len2 > 0 ? ((h - double(a.X)) * dx + (v - double(a.Y)) * dy) / len2 : 0;
      t = std::clamp(t, 0.0, 1.0);
      if (std::hypot(h - (double(a.X) + t * dx), v - (double(a.Y) + t * dy)) < margin) return true;
    }
  }
  return false;
}

// Even-odd: whether the contours fill the point.
bool fills(const TavFlatten::Polygons& contours, int v, int h) {
  int inside = 0;
  for (const ClipperLib::Path& p : contours) inside += ClipperLib::PointInPolygon({h, v}, p) != 0 ? 1 : 0;
  return inside % 2 == 1;
}

}  // namespace

TEST(FlattenerAreas, RandomCurvedJobsPrintAsTheirObjectsComposeOnePointAfterAnother) {
  // Curved paths crossing themselves and one another, opaque cyan and 50 %
  // magenta in random order: at points away from every edge, the object of
  // the flattened tree that prints on top there shows the colour the job's
  // objects compose to, one over the other on the paper. The flattener's
  // shortcuts (bounds before polygons, areas cut to boxes, a search that
  // stops under an opaque object) must not change what prints.
  const double tolerance = 0.5 * 720 / 300;
  struct Job {
    unsigned seed;
    int paths;
  };
  for (const Job& spec : {Job{7u, 36}, Job{1234u, 36}, Job{98765u, 90}}) {
    const unsigned seed = spec.seed;
    SCOPED_TRACE(seed);
    unsigned state = seed;
    auto next = [&](int range) {
      state = state * 1103515245u + 12345u;
      return int((state >> 8) % unsigned(range));
    };
    std::string objects;
    for (int i = 0; i < spec.paths; ++i) {
      const bool transparent = next(5) < 2;
      int v = 1500 + next(4200), h = 1500 + next(4200);
      objects += std::string(i ? "," : "") + R"({"kind":"path","paint":)" + (transparent ? "11" : "10") +
                 R"(,"points":[[)" + std::to_string(v) + "," + std::to_string(h) + "]";
      for (int s = 0, segments = 3 + next(4); s < segments; ++s) {
        std::string curve;
        for (int k = 0; k < 3; ++k) {
          v = std::clamp(v + next(2400) - 1200, 100, 7100);
          h = std::clamp(h + next(2400) - 1200, 100, 7100);
          curve += (k ? "," : "") + std::to_string(v) + "," + std::to_string(h);
        }
        objects += ",[" + curve + "]";
      }
      objects += "]}";
    }
    auto j = job(objects);
    JobStateGuard guard(j.get());
    TavFlatten::RasterStore store(j.get());
    const TavFlatten::Result r = flatten(j.get(), store);
    ASSERT_TRUE(r.tree);
    EXPECT_EQ(r.rasterAreas, 0);
    EXPECT_FALSE(jobHasTransparency(j.get(), r.tree.get()));

    struct Painted {
      TavFlatten::Polygons contours;
      std::array<double, 2> inks;  // cyan, magenta
      double alpha;
      TavDB::tv_box bounds = TavFlatten::BoundsOf(contours);
      bool near(int v, int h, int margin) const {
        return v >= bounds.top - margin && v <= bounds.bottom + margin && h >= bounds.left - margin &&
               h <= bounds.right + margin;
      }
    };
    std::vector<Painted> job, printed;
    for (const auto& m : jobGetSpahan(j.get())->members()) {
      const bool transparent = m->paint() == 11;
      job.push_back({TavFlatten::FillArea(m.get(), tolerance), {transparent ? 0 : 1.0, transparent ? 0.8 : 0}, transparent ? 0.5 : 1});
    }
    std::function<void(const TavDB::Object*)> walk = [&](const TavDB::Object* o) {
      if (o->kind() == TavDB::ObjectKind::Path || o->kind() == TavDB::ObjectKind::Compound) {
        const auto tints = paisep16(j.get(), o->paint());
        const std::array<double, 2> inks =
            o->paint() == 10 ? std::array<double, 2>{1, 0} : std::array<double, 2>{tints[0] / 25600.0, tints[1] / 25600.0};
        printed.push_back({TavFlatten::FillArea(o, tolerance), inks, 1});
        return;
      }
      for (const auto& m : o->members()) walk(m.get());
    };
    walk(r.tree.get());

    int compared = 0, mismatches = 0;
    for (int k = 0; k < 1500; ++k) {
      const int v = next(7200), h = next(7200);
      if (std::any_of(job.begin(), job.end(),
                      [&](const Painted& p) { return p.near(v, h, 4) && nearEdge(p.contours, v, h, 4); }))
        continue;
      std::array<double, 2> expected{0, 0};
      for (const Painted& p : job) {
        if (!p.near(v, h, 0) || !fills(p.contours, v, h)) continue;
        for (std::size_t i = 0; i < 2; ++i) expected[i] = (1 - p.alpha) * expected[i] + p.alpha * p.inks[i];
      }
      std::array<double, 2> actual{0, 0};
      for (const Painted& p : printed)
        if (p.near(v, h, 0) && fills(p.contours, v, h)) actual = p.inks;
      ++compared;
      if (std::abs(actual[0] - expected[0]) > 2e-3 || std::abs(actual[1] - expected[1]) > 2e-3) {
        ++mismatches;
        ADD_FAILURE() << "at " << v << "," << h << ": cyan " << actual[0] << " magenta " << actual[1] << ", composed "
                      << expected[0] << " and " << expected[1];
      }
      if (mismatches > 5) break;
    }
    EXPECT_GT(compared, 300);
  }
}

TEST(FlattenerAreas, AnObjectUnderTransparentOnesFarApartInThePaintingOrderShowsUnderEach) {
  // A cyan square under a 50 % magenta square, then under another one
  // painted after many transparent squares elsewhere on the page: the
  // flattener lets the cyan square's outline go in between and makes it
  // again, and both places compose cyan 50 %, magenta 40 %.
  std::string objects = square(500, 500, 2000, 10) + "," + square(1000, 1000, 500, 11);
  for (int i = 0; i < 60; ++i) objects += "," + square(3000 + 60 * (i % 10), 3000 + 600 * (i / 10), 400, 11);
  objects += "," + square(2200, 2200, 500, 11);
  auto j = job(objects);
  JobStateGuard guard(j.get());
  TavFlatten::RasterStore store(j.get());
  const TavFlatten::Result r = flatten(j.get(), store);
  ASSERT_TRUE(r.tree);
  EXPECT_EQ(r.unitsFlattened, 62);
  const std::vector<Region> regions = regionsOf(r.tree.get());
  struct At {
    int v, h;
    std::array<double, 3> inks;
  };
  for (const At& at : {At{1200, 1200, {0.5, 0.4, 0}}, At{2300, 2300, {0.5, 0.4, 0}}, At{2600, 2600, {0, 0.4, 0}}}) {
    const auto inks = inksAt(j.get(), regions, at.v, at.h);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(inks[std::size_t(k)], at.inks[std::size_t(k)], 2e-3) << at.v << "," << at.h;
  }
}

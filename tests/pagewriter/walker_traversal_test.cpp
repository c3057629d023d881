// The walker's traversal through a recording backend: order, brackets,
// excluded, hidden, locked, trap, text and open-path objects, compound paths,
// clips, and that the host's job is left as it was.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <tuple>

#include "pagewriter/illtransform.h"
#include "platform/messages.h"
#include "walker_support.h"

using namespace walkertest;
using TavDB::ObjectKind;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// The events starting with one of the prefixes and the moveto lines, in order.
std::vector<std::string> trace(const std::string& text, std::initializer_list<const char*> prefixes) {
  std::vector<std::string> out;
  for (const auto& l : lines(text)) {
    const bool event = std::any_of(prefixes.begin(), prefixes.end(),
                                   [&](const char* p) { return l.starts_with(std::string("<") + p); });
    if (event || l.ends_with(" m")) out.push_back(l);
  }
  return out;
}

std::string walk(jobstr* job, int writeTraps = 1, bool keepInvisible = false) {
  TavDB::ScopedCurrentJob current(job);
  RecordingProof proof(job, writeTraps, 500000, genproof::kCompositeProcess, keepInvisible);
  proof.OutputGroup(jobGetSpahan(job), false, -1, false);
  return proof.text();
}

}  // namespace

TEST(WalkerCoordinates, OriginScaleAndFlippedAxis) {
  JobBuilder b;
  b.job().ppi = 720;
  b.job().origin = {1000, 2000};
  TavDB::ScopedCurrentJob current(b.get());
  illtransform t(b.get());
  // (v, h) job units to (x, y) points: h grows to the right, v grows downwards.
  const std::int32_t in[4] = {280, 2000, 1000, 2720};
  double out[4];
  t.TransformRect(in, out);
  EXPECT_THAT(out, ElementsAre(72.0, 0.0, 0.0, 72.0));  // top above bottom, order kept
  double x, y;
  t.TransformPoint(1000, 2720, x, y);
  EXPECT_THAT((std::array{x, y}), ElementsAre(72.0, 0.0));
  // Coordinates far apart on both sides of the origin do not overflow.
  b.job().origin = {0, -2000000000};
  illtransform far(b.get());
  EXPECT_DOUBLE_EQ(far.TransformX(2000000000), 4000000000.0 * 72 / 720);
}

TEST(WalkerTraversal, ListOrderBracketsAndSkippedLayers) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  auto square = [&](int at) { return b.rect(at, at, at + 5, at + 5, cyan); };
  auto layer = b.layer("Art");
  auto group = b.list(ObjectKind::Group);
  group->addontop(square(0));
  group->addontop(square(10));
  layer->addontop(std::move(group));
  layer->addontop(square(20));
  b.add(std::move(layer));
  auto one = b.list(ObjectKind::Group);
  one->addontop(square(30));
  b.add(std::move(one));
  b.add(b.list(ObjectKind::Group));  // empty
  auto withExcluded = b.list(ObjectKind::Group);
  withExcluded->addontop(square(40));
  flag(withExcluded->addontop(square(50)), TavDB::kObjExcluded);
  b.add(std::move(withExcluded));
  auto hidden = b.layer("Hidden");
  hidden->addontop(square(60));
  flag(b.add(std::move(hidden)), TavDB::kObjHidden);

  // Brackets only around two or more counted children; a skipped layer
  // writes nothing and gets no EndLayer; excluded objects are not written.
  EXPECT_THAT(trace(walk(b.get()), {"Begin", "End"}), ElementsAre("<BeginLayer Art>", "<BeginGroupMarker>", "<BeginGroup>", "0 0 m",
                                 "10 -10 m", "<EndGroupMarker>", "<EndGroup>", "20 -20 m", "<EndLayer>",
                                 "<BeginGroupMarker>", "30 -30 m", "<EndGroupMarker>",
                                 "<BeginGroupMarker>", "<EndGroupMarker>",
                                 "<BeginGroupMarker>", "40 -40 m", "<EndGroupMarker>",
                                 "<BeginLayer Hidden>"));
}

TEST(WalkerTraversal, LocksTrapsAndTexts) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  for (int i = 0; i < 3; ++i) flag(b.add(b.rect(0, 0, 10, 10, cyan)), TavDB::kObjLocked);
  b.add(b.rect(5, 5, 10, 10, cyan));
  flag(b.add(b.layer("L")), TavDB::kObjLocked);  // a locked layer is not a locked object
  flag(b.add(b.rect(20, 20, 30, 30, cyan)), TavDB::kObjTrap);
  auto carrier = b.list(ObjectKind::Group, "carrier");
  carrier->addontop(b.list(ObjectKind::Text, "first"));
  flag(carrier->addontop(b.list(ObjectKind::Text, "gone")), TavDB::kObjExcluded);
  carrier->addontop(b.list(ObjectKind::Text, "second"));
  flag(b.add(std::move(carrier)), TavDB::kObjTextCarrier);
  b.add(b.list(ObjectKind::Text, "alone"));

  // The lock state is announced on changes only; traps are bracketed and
  // drawn only when asked for.
  const std::vector<std::string> expected = {"<SetLocked 1>", "0 0 m",          "0 0 m",         "0 0 m",
                         "<SetLocked 0>", "5 -5 m",         "<BeginLayer L>", "<EndLayer>",
                         "<BeginTrap>",   "20 -20 m",       "<EndTrap>",     "<Text first>",
                         "<Text second>", "<Text alone>"};
  EXPECT_THAT(trace(walk(b.get(), 1), {"SetLocked", "BeginLayer", "EndLayer", "BeginTrap", "EndTrap", "Text"}),
              ElementsAreArray(expected));
  std::vector<std::string> withoutTrap(expected);
  withoutTrap.erase(std::find(withoutTrap.begin(), withoutTrap.end(), "20 -20 m"));
  EXPECT_THAT(trace(walk(b.get(), 0), {"SetLocked", "BeginLayer", "EndLayer", "BeginTrap", "EndTrap", "Text"}),
              ElementsAreArray(withoutTrap));
}

// A stroke of width w in a paint.
void stroke(TavDB::Object* o, int width, std::uint16_t paint) {
  auto& st = o->extraMut().stroke;
  st = std::make_unique<TavDB::Stroke>();
  st->width = width;
  st->paint = paint;
}

TEST(WalkerTraversal, OpenPathsAreOnlyStrokedAndClosedOnesFilledThenStroked) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  TavDB::Object* open = b.add(b.path({{0, 0}, {0, 10}, {10, 10}}, cyan, true));

  // Drawn with the invisible "no fill" paint: nothing at all unless invisible
  // paints are kept.
  EXPECT_EQ(walk(b.get()), "");
  EXPECT_EQ(walk(b.get(), 1, true), "<Overprint 1>\n<Color 0 0 0 0 -1 0>\n0 0 m\n10 0 l\n10 -10 l\nn\n");
  EXPECT_EQ(open->paint(), cyan);
  // Its stroke is drawn as an open stroke in the stroke's paint.
  stroke(open, 2, b.flat({{1, 100}}));
  EXPECT_EQ(walk(b.get()), "2 w\n0 j\n0 J\n4 M\n[]0 d\n<Overprint 1>\n<Color 0 100 0 0 -1 0>\n0 0 m\n10 0 l\n10 -10 l\nS\n");
  EXPECT_EQ(open->paint(), cyan);

  JobBuilder c;
  TavDB::Object* r = c.add(c.rect(0, 0, 10, 10, c.flat({{0, 100}})));
  stroke(r, 1, c.flat({{3, 100}}));
  const std::string fill = "<Overprint 1>\n<Color 100 0 0 0 -1 0>\n0 0 m\n10 0 l\n10 -10 l\n0 -10 l\nh\nf*\n";
  EXPECT_EQ(walk(c.get()), fill +
            "1 w\n0 j\n0 J\n4 M\n[]0 d\n<Overprint 1>\n<Color 0 0 0 100 -1 0>\n0 0 m\n10 0 l\n10 -10 l\n0 -10 l\nh\ns\n");
  // A stroke in a gradient cannot be stroked: it is handed to the pattern
  // fill while its description is current, never silently left out.
  Paint gradient;
  gradient.type = kPaintLinear;
  r->extraMut().stroke->paint = c.job().addPaint(gradient);
  EXPECT_EQ(walk(c.get()), fill + "<PatternFill of a stroke>\n");
}

TEST(WalkerTraversal, CompoundPathsAreBracketedWhenTheyHaveTwoSubPaths) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  auto two = b.list(ObjectKind::Compound);
  two->addontop(b.rect(0, 0, 30, 30, cyan));
  two->addontop(b.rect(10, 10, 20, 20, cyan));
  two->setPaint(cyan);
  TavDB::Object* c = b.add(std::move(two));
  auto one = b.list(ObjectKind::Compound);
  one->addontop(b.rect(40, 40, 50, 50, cyan));
  one->setPaint(cyan);
  b.add(std::move(one));

  const auto text = walk(b.get());
  EXPECT_THAT(trace(text, {"BeginCompound", "EndCompound"}),
              ElementsAre("<BeginCompoundPath 2>", "0 0 m", "10 -10 m", "<EndCompoundPath 3>", "40 -40 m"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '*'), 3);  // three "f*"

  // The pieces of a split path that is an invisible compound get no bracket;
  // outside such pieces the bracket is always opened.
  c->setPaint(b.flat({{0, 255}}));
  TavDB::ScopedCurrentJob current(b.get());
  for (bool pieces : {true, false}) {
    RecordingProof proof(b.get());
    proof.OutputGroup(c, pieces, -1, false);
    auto ev = events(proof.text());
    std::erase_if(ev, [](const std::string& e) { return e.find("CompoundPath") == std::string::npos; });
    const std::vector<std::string> bracket = {"BeginCompoundPath 2", "EndCompoundPath 2"};
    EXPECT_EQ(ev, pieces ? std::vector<std::string>{} : bracket);
  }
}

TEST(WalkerTraversal, PicturesAndMapsAreDrawnInsideTheirClip) {
  JobBuilder b;
  jobstr& job = b.job();
  job.pictures.resize(1);
  job.pictures[0].exists = true;
  job.pictures[0].type = "PDF";
  job.pictures[0].vector = true;
  Paint picture;
  picture.type = kPaintPicture;
  picture.picture = 0;
  const auto pdf = job.addPaint(picture);
  picture.singleSeparation = 1;
  const auto single = job.addPaint(picture);
  auto map = [&](TavDB::tv_point origin, TavDB::tv_point widthCorner, TavDB::tv_point heightCorner) {
    Paint m;
    m.type = kPaintMap;
    std::tie(m.placeOrigin, m.placeWidthCorner, m.placeHeightCorner) = std::tie(origin, widthCorner, heightCorner);
    return job.addPaint(m);
  };
  const auto framed = map({5, 5}, {5, 20}, {20, 5}), unframed = map({0, 0}, {0, 0}, {0, 0});
  const auto outside = map({50, 50}, {50, 60}, {60, 50});
  TavDB::Object* object = b.add(b.rect(0, 0, 10, 10, pdf));

  // A vector picture: clipped by the object's outline, inside q/Q.
  EXPECT_EQ(walk(b.get()), "q\n0 0 m\n10 0 l\n10 -10 l\n0 -10 l\nh\nW*\nn\n<PlacedPDF>\nQ\n");

  // A map: the outline cut to the map's frame; nothing when they do not meet.
  auto corners = [](const std::string& text) {
    std::set<std::string> points;
    for (const auto& l : operatorLines(text)) {
      if (l.ends_with(" m") || l.ends_with(" l")) points.insert(l.substr(0, l.size() - 2));
    }
    return points;
  };
  object->setPaint(framed);
  const auto cut = walk(b.get());
  EXPECT_TRUE(cut.starts_with("q\n")) << cut;
  EXPECT_TRUE(cut.ends_with("W*\nn\n<Map>\nQ\n")) << cut;
  EXPECT_EQ(corners(cut), (std::set<std::string>{"5 -5", "10 -5", "10 -10", "5 -10"}));
  EXPECT_EQ(object->points().size(), 4u);  // the host's object is not changed
  object->setPaint(unframed);
  EXPECT_EQ(corners(walk(b.get())), (std::set<std::string>{"0 0", "10 0", "10 -10", "0 -10"}));
  object->setPaint(outside);
  EXPECT_EQ(walk(b.get()), "");

  // The dispatch by type letter hands back the backend's result; a single
  // separation of a picture that is not a job file is refused with a message.
  TavDB::ScopedCurrentJob current(b.get());
  RecordingProof proof(b.get());
  TavGen::MessageCapture capture;
  EXPECT_EQ(proof.OutputPlacedPicture(object, paipoi(b.get(), pdf)), 7);
  EXPECT_EQ(proof.OutputPlacedPicture(object, paipoi(b.get(), single)), 1);
  ASSERT_EQ(capture.count("PDF/SINGLE SEPARATION FOR PLACED PICTURE NOT SUPPORTED"), 1);
  EXPECT_EQ(capture.messages().front().severity, TavGen::kBatchError);
  job.pictures[0].type = "";
  EXPECT_EQ(proof.OutputPlacedPicture(object, paipoi(b.get(), pdf)), 0);
}

TEST(WalkerPaths, PointsAreWrittenOnceAndCurvesInFull) {
  JobBuilder b;
  const auto cyan = b.flat({{0, 100}});
  b.add(b.path({{0, 0}, {0, 0}, {0, 10}, {0, 10}, {10, 10}}, cyan));
  b.add(b.path({{5, 5}}, cyan));
  auto curve = b.path({{0, 0}}, cyan);
  curve->points().push_back({-10, 5, TavDB::PathPoint::kControl});
  curve->points().push_back({-10, 15, TavDB::PathPoint::kControl});
  curve->points().push_back({0, 20, TavDB::PathPoint::kCurve});
  b.add(std::move(curve));

  EXPECT_THAT(operatorLines(walk(b.get())),
              ElementsAre("0 0 m", "10 0 l", "10 -10 l", "h", "f*",    // repeats dropped
                          "5 -5 m", "5 -5 l", "h", "f*",                // one point: m and l
                          "0 0 m", "5 10 15 10 20 0 c", "h", "f*"));
}

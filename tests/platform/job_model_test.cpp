// The job model's functions as the engine relies on them: separation lookups,
// colours and tints, boxes, list scans and visitors over a small tree, point
// scans, matrices, and saving and restoring what an export changes.
#include <gtest/gtest.h>

#include "platform/kernel/jobfile.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using namespace TavDB;

namespace {

std::unique_ptr<jobstr> loadText(std::string_view text, const fs::path& base = fs::temp_directory_path()) {
  return TavKernel::loadJobFromMemory(text, base, "m.json");
}

// Inks: 0 Cyan, 1 Magenta, 2 Orange (spot), 3 Black, 4 Lack (varnish, unused).
const char* kInkJob = R"({"ppi": 720, "origin": [7200, 0], "defaultBoxes": {"art": "trim"},
  "boxes": {"media": [0, 0, 7200, 5000], "trim": [100, 100, 7100, 4900]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Orange", "cmyk": [0, 60, 100, 0], "opaque": true},
           {"name": "Black", "process": "black", "cmykFlag": true},
           {"name": "Lack", "cmyk": [0, 0, 0, 0], "varnish": true, "output": false}],
  "colours": [{"id": 1, "inks": {"Cyan": 30, "Orange": 50}}, {"id": 2, "others": 255},
              {"id": 3, "inks": {"Black": 0}, "others": 255}, {"id": 4, "registration": true}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3}, {"id": 13, "type": "flat", "colour": 4},
             {"id": 14, "type": "radial", "colour": 1, "colour2": 3, "start": [0, 0], "end": [0, 50],
              "blendMode": "luminosity"}],
  "objects": [{"kind": "path", "paint": 10, "points": [[0, 0], [0, 10], [10, 10]]},
              {"kind": "path", "paint": 14, "points": [[0, 0], [0, 10], [10, 10]]}]})";

// The tests below start from a fresh copy of that job.
struct InkJob : ::testing::Test {
  std::unique_ptr<jobstr> job = loadText(kInkJob);
  jobstr* j = job.get();
};

}  // namespace

TEST_F(InkJob, SeparationLookups) {
  // Per slot: process kind, name, opaque, varnish, to be output, usage
  // (Black is given at 0 % only, which is no use).
  struct Ink {
    int process;
    std::string name;
    bool opaque, varnish, output;
    int used;
  };
  const Ink inks[] = {{0, "Cyan", false, false, true, kSepUsed}, {1, "Magenta", false, false, true, 0},
                      {-1, "Orange", true, false, true, kSepUsed}, {3, "Black", false, false, true, 0},
                      {-1, "Lack", false, true, false, 0}};
  ASSERT_EQ(sepfrejob(j), 5);
  for (int slot = 0; slot < 5; ++slot) {
    SCOPED_TRACE(slot);
    const Ink& ink = inks[slot];
    EXPECT_EQ(sepsoruse(j, slot), slot);
    EXPECT_EQ(sepiscmyk(j, slot), ink.process);
    EXPECT_TRUE(ink.process < 0 || sepgetcmyk(j, ink.process) == slot);  // and back
    EXPECT_EQ(GetSeparationName(j, slot), ink.name);
    EXPECT_EQ(TavricLib::FindSeparation(j, ink.name), slot);
    EXPECT_EQ(separationIsOpaque(j, slot), ink.opaque);
    EXPECT_EQ(separationIsVarnish(j, slot), ink.varnish);
    EXPECT_EQ(seppdftyp::NeedsOutputting(j, slot), ink.output);
    EXPECT_EQ(sepisused(j, slot), ink.used);
  }
  // Outside the slots in use, and what the job lacks (no yellow; names are
  // exact); the counts without and with Magenta and Black as process inks.
  EXPECT_EQ((std::array{sepsoruse(j, 5), sepsoruse(j, -1), sepsoruse(j, 64), sepgetcmyk(j, 2),
                        TavricLib::FindSeparation(j, "orange"), sepGetCount(j, false, false), sepGetCount(j, false, true)}),
            (std::array{-1, -1, -1, -1, -1, 2, 4}));
  // Disabled separations vanish from sepsoruse and the count unless asked for.
  sepDisable(j, 2);
  EXPECT_EQ((std::array{sepsoruse(j, 2), sepsoruse(j, 2, true), sepGetCount(j, false, false), sepGetCount(j, true, false)}),
            (std::array{-1, 2, 1, 2}));
  sepEnableAll(j);
  EXPECT_EQ(sepsoruse(j, 2), 2);
}

TEST_F(InkJob, CmykEquivalentsAndTints) {
  std::uint8_t c, m, y, k;
  sepcmyk(j, 2, c, m, y, k);
  EXPECT_EQ((std::array<int, 4>{c, m, y, k}), (std::array<int, 4>{0, 60, 100, 0}));
  sepcmyk(j, 1, c, m, y, k);  // a process ink: 100 % of its own channel
  EXPECT_EQ((std::array<int, 4>{c, m, y, k}), (std::array<int, 4>{0, 100, 0, 0}));
  // A mix: 30 % cyan and 50 % of orange (0/60/100/0).
  double mix[4];
  sepcmyk(j, colsep(j, 1), mix[0], mix[1], mix[2], mix[3]);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(mix[i], (std::array{30, 30, 50, 0})[i], 1e-9) << i;
  const auto tints = colsep16(j, 1);
  EXPECT_EQ((std::array<int, 3>{tints[0], tints[1], tints[2]}), (std::array<int, 3>{30 * 256, 0, 50 * 256}));
  EXPECT_EQ((std::array{colsep16(j, 2)[0], paisep16(j, 999)[0]}), (std::array{kTintUndefined, kTintUndefined}));
  // Ink laid over samples: input 0 is full ink.
  const std::uint8_t in[3] = {0, 255, 128};
  std::uint8_t out[12];
  sepcmyklin(j, 2, in, out, 3);
  EXPECT_EQ((std::array<int, 4>{out[1], out[2], out[5], out[10]}), (std::array<int, 4>{153, 255, 0, 127}));
}

// A paint paints nothing when each of its colours leaves every ink of the
// job untouched; a flat paint without its colour paints nothing, a gradient
// with a colour that is not there is not known to paint nothing.
TEST_F(InkJob, PaintsThatLeaveEveryInkUntouched) {
  Colour untouched;
  untouched.pct.fill(kPercentUntouched);
  Colour inked = untouched;
  inked.pct[0] = 50;  // Cyan
  const std::uint16_t none = j->addColour(untouched), cyan = j->addColour(inked);
  const std::uint16_t missing = 999;
  ASSERT_EQ(colsep(j, missing), nullptr);
  const auto paint = [&](PaintType type, std::uint16_t a, std::uint16_t b, std::vector<std::uint16_t> steps) {
    Paint p;
    p.type = type;
    p.colour = a;
    p.colour2 = b;
    for (std::uint16_t c : steps) p.steps.push_back({c, 0, 0});
    return j->addPaint(p);
  };
  const struct {
    const char* what;
    std::uint16_t paint;
    bool invisible;
  } cases[] = {
      {"flat, untouched", paint(kPaintFlat, none, 0, {}), true},
      {"flat, cyan", paint(kPaintFlat, cyan, 0, {}), false},
      {"flat, no such colour", paint(kPaintFlat, missing, 0, {}), true},
      {"linear, untouched at both ends", paint(kPaintLinear, none, none, {}), true},
      {"linear, cyan at its end", paint(kPaintLinear, none, cyan, {}), false},
      {"radial, cyan outside", paint(kPaintRadial, cyan, none, {}), false},
      {"linear, no such start colour", paint(kPaintLinear, missing, none, {}), false},
      {"gradation without steps", paint(kPaintGradation, cyan, 0, {}), true},
      {"gradation, untouched steps", paint(kPaintGradation, 0, 0, {none, none}), true},
      {"gradation, a cyan step", paint(kPaintGradation, 0, 0, {none, cyan, none}), false},
      {"gradation, no such step colour", paint(kPaintGradation, 0, 0, {none, missing}), false},
      {"picture", paint(kPaintPicture, none, 0, {}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(TavricLib::PaintIsInvisible(j, c.paint), c.invisible) << c.what;
}

TEST_F(InkJob, PaintPredicates) {
  EXPECT_EQ((std::array{paifla(j, 14), paifla(j, 77)}), (std::array{int(kPaintRadial), -1}));
  // Invisible: every ink untouched (11), no such paint (77); white: black at
  // 0 %, the rest untouched (12).
  EXPECT_EQ((std::array{TavricLib::PaintIsInvisible(j, 11), TavricLib::PaintIsInvisible(j, 10),
                        TavricLib::PaintIsInvisible(j, 77), paintIsWhite(j, 12), paintIsWhite(j, 11),
                        TavricLib::PaintIsRegistration(j, 13), paintHasNonseparableBlendmode(j, 14),
                        paintHasNonseparableBlendmode(j, 10)}),
            (std::array{true, false, true, true, false, true, true, false}));
  // New paints go to free indices >= 7 and keep existing ones.
  const std::uint8_t pct[64] = {100};
  const std::uint16_t p = painewflat(j, pct);
  EXPECT_TRUE(p >= 7 && p != 10) << p;
  EXPECT_EQ(paisep(j, p)[0], 100);
  // Exact tints stay exact; the percentages are rounded.
  std::uint16_t tints[64];
  std::fill(std::begin(tints), std::end(tints), kTintUndefined);
  tints[2] = 4224;
  const std::uint16_t q = painewflat16(j, tints);
  EXPECT_EQ((std::array<int, 3>{paisep(j, q)[2], paisep(j, q)[0], paisep16(j, q)[2]}),
            (std::array<int, 3>{17, kPercentUntouched, 4224}));
}

TEST_F(InkJob, BoxesAndTheCurrentJob) {
  TavSys::tv_rectangle r;
  EXPECT_TRUE(getboxconst(j, kTrimBox, r) && r == (TavSys::tv_rectangle{100, 100, 7100, 4900}));
  EXPECT_FALSE(getboxconst(j, kBleedBox, r));
  // The bleed box falls back to the media box.
  EXPECT_TRUE(getbox(j, kBleedBox, r) && r == (TavSys::tv_rectangle{0, 0, 7200, 5000}));
  EXPECT_EQ((std::array<int, 2>{getdefaultboxtype(j, kArtBox), getdefaultboxtype(j, kTrimBox)}), (std::array<int, 2>{kTrimBox, kTrimBox}));
  {
    ScopedCurrentJob current(j);
    EXPECT_EQ(getppi(), 720);
  }
  EXPECT_EQ(currentJob(), nullptr);
}

TEST_F(InkJob, StateGuardRestoresWhatAnExportChanges) {
  const std::size_t paints = j->paints.size();
  int block[64];
  {
    JobStateGuard guard(j);
    setOriginalOrigin(j, {1, 2});
    setbox(j, kBleedBox, {0, 0, 10, 10});
    sepDisableAll(j);
    j->separations[4].output = true;
    clearCMYKFlagsIfNeeded(j, block);
    EXPECT_EQ(block[3], 1);
    EXPECT_FALSE(j->separations[3].cmykFlag);
    const std::uint8_t pct[64] = {};
    painewflat(j, pct);
  }
  EXPECT_EQ(getOriginalOrigin(j), (tv_point{7200, 0}));
  EXPECT_EQ((std::array{j->boxes[kBleedBox].has_value(), sepsoruse(j, 0) == 0, j->separations[4].output,
                        j->separations[3].cmykFlag, j->paints.size() == paints}),
            (std::array{false, true, false, true, true}));
  // The block saved while clearing puts the flags back.
  j->separations[3].cmykFlag = false;
  setCMYKFlags(j, block);
  EXPECT_TRUE(j->separations[3].cmykFlag);
}

TEST_F(InkJob, StateGuardDropsEntriesAddedInFreePlacesAndAtTheEnd) {
  // Paints 7..9 are free places below 10; pattern 12 exists past free 7..11.
  PatternRec kept;
  kept.objects = spanew();
  j->patterns.resize(13);
  kept.exists = true;
  j->patterns[12] = std::move(kept);
  const std::size_t paints = j->paints.size();
  std::uint16_t paint = 0, inHole = 0, atEnd = 0;
  {
    JobStateGuard guard(j);
    paint = j->addPaint(Paint{});
    inHole = j->addPattern(PatternRec{});
    for (int i = 8; i < 12; ++i) j->addPattern(PatternRec{});
    atEnd = j->addPattern(PatternRec{});
  }
  EXPECT_EQ((std::array<int, 3>{paint, inHole, atEnd}), (std::array<int, 3>{7, 7, 13}));
  EXPECT_EQ(j->paints.size(), paints);
  EXPECT_EQ(paipoi(j, 7), nullptr);
  EXPECT_EQ(j->patterns.size(), 13u);
  for (int i = 7; i < 12; ++i) EXPECT_EQ(patpoi(j, i), nullptr) << i;
  EXPECT_NE(patpoi(j, 12), nullptr);
  EXPECT_NE(paipoi(j, 10), nullptr);
}

TEST_F(InkJob, AddedPatternsNeverTakeTheNoMaskNumber) {
  j->patterns.resize(kNoSoftMask);
  for (std::size_t i = 7; i < kNoSoftMask; ++i) j->patterns[i].exists = true;
  EXPECT_EQ(j->addPattern(PatternRec{}), kNoSoftMask + 1);
  j->patterns[9].exists = false;
  EXPECT_EQ(j->addPattern(PatternRec{}), 9);
}

namespace {

// Tree used by the scan and visitor tests, in drawing order:
//   L1 layer            : p1 path, g1 group { p2 path, t1 text }, c1 compound { p3, p4 }
//   L2 layer (hidden)   : p5 path
//   p6 path (excluded)
//   g2 group (locked)   : g3 group { p7 path }
struct Tree {
  std::unique_ptr<Object> root = spanew();
  static Object* add(Object* list, ObjectKind kind, const char* name, std::uint32_t state = 0) {
    auto o = Object::create(kind);
    o->extraMut().name = name;
    if (state) o->setProperties(state, true);
    return list->addontop(std::move(o));
  }
  Object* L1 = add(root.get(), ObjectKind::Layer, "L1");
  Object* p1 = add(L1, ObjectKind::Path, "p1");
  Object* g1 = add(L1, ObjectKind::Group, "g1");
  Object* p2 = add(g1, ObjectKind::Path, "p2");
  Object* t1 = add(g1, ObjectKind::Text, "t1");
  Object* c1 = add(L1, ObjectKind::Compound, "c1");
  Object* p3 = add(c1, ObjectKind::Path, "p3");
  Object* p4 = add(c1, ObjectKind::Path, "p4");
  Object* L2 = add(root.get(), ObjectKind::Layer, "L2", kObjHidden);
  Object* p5 = add(L2, ObjectKind::Path, "p5");
  Object* p6 = add(root.get(), ObjectKind::Path, "p6", kObjExcluded);
  Object* g2 = add(root.get(), ObjectKind::Group, "g2", kObjLocked);
  Object* g3 = add(g2, ObjectKind::Group, "g3");
  Object* p7 = add(g3, ObjectKind::Path, "p7");
};

std::string names(ListScan& scan, bool high = false) {
  std::string out;
  while (Object* o = high ? scan.nexhig() : scan.next()) out += (out.empty() ? "" : " ") + o->name();
  return out;
}

}  // namespace

TEST(JobModel, ListScanSemantics) {
  Tree t;
  // Paths anywhere except inside excluded or hidden lists; compounds are
  // entered. The select mask is 0, so the excluded path p6 itself is returned.
  ListScan paths(t.root.get(), kObjPath, 0x820000, 0, 0, 0);
  EXPECT_EQ(names(paths), "p1 p2 p3 p4 p6 p7");
  // p6 is excluded only by the select mask.
  ListScan noExcluded(t.root.get(), kObjPath, 0x20000);
  EXPECT_EQ(names(noExcluded), "p1 p2 p3 p4 p5 p7");
  // Paths and compounds: a compound is returned and not entered; top down as well.
  ListScan shapes(t.root.get(), kObjCompound | kObjPath, 0x8820000, 0, 0x8820000, 0);
  EXPECT_EQ(names(shapes), "p1 p2 c1");
  shapes.ini(t.root.get(), kObjCompound | kObjPath, 0x8820000, 0, 0x8820000, 0);
  EXPECT_EQ(names(shapes, true), "c1 p2 p1");
  // Groups that are neither hidden nor excluded; a group found is not entered.
  ListScan groups(t.root.get(), kObjGroup, 0x820000, 0, 0x820000, 0);
  EXPECT_EQ(names(groups), "g1 g2");
  // Hidden printing layers: hidden, neither non-printing nor excluded.
  ListScan hidden(t.root.get(), kObjLayer, 0, 0, 0x860000, 0x800000);
  EXPECT_EQ(names(hidden), "L2");
  t.L2->setProperties(kObjNonPrinting, true);
  hidden.ini(t.root.get(), kObjLayer, 0, 0, 0x860000, 0x800000);
  EXPECT_EQ(names(hidden), "");
  // Scanning inside one object: the root itself is not returned.
  EXPECT_EQ(ListScan(t.p1, kObjPath, 0).next(), nullptr);
  // State bits come and go; kind bits stay.
  t.p1->setProperties(kObjTrap | kObjPath, true);
  t.p1->setProperties(kObjPath, false);
  EXPECT_EQ(t.p1->flags(), kObjPath | kObjTrap);
}

TEST(JobModel, PointScanForwardAndBackward) {
  auto path = Object::create(ObjectKind::Path);
  path->points() = {{0, 0, PathPoint::kLine}, {10, 0, PathPoint::kLine}, {10, 5, PathPoint::kControl},
                    {5, 10, PathPoint::kControl}, {0, 10, PathPoint::kCurve}};
  using Segment = std::array<std::int32_t, 7>;  // end v h, control 1 v h, control 2 v h, curve
  auto segments = [](Object* o, int backward, int limit) {
    scan s;
    s.scabeg(o, backward, limit);
    std::int32_t v, h, c1v, c1h, c2v, c2h;
    bool curve;
    std::vector<Segment> got;
    while (s.scanex(v, h, c1v, c1h, c2v, c2h, curve) >= 0) got.push_back({v, h, c1v, c1h, c2v, c2h, curve});
    s.scaend();
    return got;
  };
  const auto ahead = segments(path.get(), 0, -1), back = segments(path.get(), 1, -1);
  ASSERT_EQ(ahead.size(), 3u);
  EXPECT_EQ(ahead[1], (Segment{10, 0, 0, 0, 10, 0, 0}));
  EXPECT_EQ(ahead[2], (Segment{0, 10, 10, 5, 5, 10, 1}));
  // Backwards: the same segments reversed, with the control points swapped.
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ((std::array{back[0][0], back[0][1]}), (std::array<std::int32_t, 2>{0, 10}));
  EXPECT_EQ(back[1], (Segment{10, 0, 5, 10, 10, 5, 1}));
  EXPECT_EQ(back[2], (Segment{0, 0, 10, 0, 0, 0, 0}));
  // A limit ends the scan early; a null path scans nothing.
  EXPECT_EQ(segments(path.get(), 0, 2).size(), 2u);
  EXPECT_TRUE(segments(nullptr, 0, -1).empty());
  EXPECT_EQ(pointcount(path.get()), 5u);
}

TEST(JobModel, CopyRemoveAndMeasure) {
  Tree t;
  t.p2->points() = {{5, 5, PathPoint::kLine}, {50, 60, PathPoint::kLine}};
  t.p2->recalcBounds();
  t.p2->extraMut().stroke = std::make_unique<Stroke>();
  t.p2->extraMut().stroke->width = 3;
  auto text = std::make_unique<TextData>();
  text->runs.push_back({.text = "Abc", .font = "NimbusSans-Regular"});
  t.t1->setText(std::move(text));
  // A deep copy: own members, points, stroke and text, no parent.
  std::unique_ptr<Object> copy = objdup(t.g1);
  ASSERT_EQ(copy->memberCount(), 2u);
  EXPECT_EQ(copy->member(0)->parent(), copy.get());
  ASSERT_NE(copy->member(0)->stroke(), nullptr);
  EXPECT_TRUE(copy->member(0)->stroke()->width == 3 && copy->member(0)->stroke() != t.p2->stroke());
  const Object* textCopy = copy->member(1);
  ASSERT_TRUE(textCopy->text() != nullptr && textCopy->text() != t.t1->text());
  EXPECT_EQ(textCopy->text()->runs.at(0).text, "Abc");
  EXPECT_EQ(textCopy->name(), "t1");
  EXPECT_EQ(objdupnomembers(t.t1)->text()->runs.at(0).font, "NimbusSans-Regular");
  EXPECT_EQ(objdup(t.p2)->text(), nullptr);
  EXPECT_TRUE(objrem(t.t1) && t.g1->memberCount() == 1u);
  EXPECT_EQ(measureall(t.g1), (tv_box{5, 5, 50, 60}));
  EXPECT_FALSE(objrem(copy.get()));  // parentless: its owner deletes it
}

TEST(JobModel, LoaderHandlesManyPaths) {
  std::string text = R"({"ppi": 720, "boxes": {"media": [0, 0, 100, 100]}, "inks": [{"name": "Black", "process": "black"}],
    "colours": [{"id": 1, "inks": {"Black": 100}}], "paints": [{"id": 10, "type": "flat", "colour": 1}],
    "objects": [)";
  constexpr int kPaths = 20000;
  for (int i = 0; i < kPaths; ++i)
    text += std::string(i ? "," : "") +
            R"({"kind":"path","paint":10,"points":[[0,0],[0,10],[10,10,20,20,30,30],[5,5]]})";
  auto job = loadText(text + "]}");
  EXPECT_EQ(jobGetSpahan(job.get())->memberCount(), std::size_t(kPaths));
  EXPECT_EQ(pointcount(jobGetSpahan(job.get())), std::size_t(kPaths) * 6);
  EXPECT_EQ(jobGetSpahan(job.get())->member(7)->points().capacity(), 6u) << "points are reserved once";
  EXPECT_LE(sizeof(Object), 112u);  // a job of a million paths holds a million objects
}

TEST(JobModel, PlainTextsCarryNoExtras) {
  // A job of many texts allocates no extras for a text that needs none: its
  // data is held by the object itself.
  auto job = loadText(R"({"ppi": 720, "boxes": {"media": [0, 0, 100, 100]}, "inks": [{"name": "Black", "process": "black"}],
    "colours": [{"id": 1, "inks": {"Black": 100}}], "paints": [{"id": 10, "type": "flat", "colour": 1}],
    "objects": [{"kind": "text", "at": [10, 10], "runs": [{"text": "Ab", "font": "NimbusSans-Regular", "size": 9, "paint": 10}]},
                {"kind": "text", "name": "Title", "at": [10, 10], "runs": [{"text": "Cd", "font": "NimbusSans-Regular", "size": 9, "paint": 10}]}]})");
  const Object* plain = jobGetSpahan(job.get())->member(0);
  const Object* named = jobGetSpahan(job.get())->member(1);
  ASSERT_TRUE(plain->text() != nullptr && named->text() != nullptr);
  EXPECT_EQ(plain->extra(), nullptr);
  EXPECT_EQ(plain->text()->runs.at(0).text, "Ab");
  EXPECT_EQ(named->name(), "Title");
  EXPECT_EQ(named->text()->runs.at(0).text, "Cd");
}

TEST(JobModel, PlacementWordsAndPaintVariants) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "p.tif", "II*");
  auto job = loadText(R"({"ppi": 720, "boxes": {"media": [0, 0, 100, 100]},
    "inks": [{"name": "Black", "process": "black"}, {"name": "Cyan", "process": "cyan"}],
    "colours": [{"id": 1, "inks": {"Black": 100}}],
    "pictures": [{"id": 1, "file": "p.tif", "width": 200, "height": 100}],
    "paints": [{"id": 10, "type": "picture", "picture": 1,
                "place": {"origin": [1000, 2000], "widthCorner": [1000, 4000], "heightCorner": [3000, 2000]}},
               {"id": 11, "type": "flat", "colour": 1, "opacity": 50, "screen": 0},
               {"id": 12, "type": "gradation", "steps": [{"colour": 1, "position": 0}, {"colour": 1, "position": 9}],
                "matrix": [2, 0, 0, 3]}],
    "screens": [{"id": 0, "name": "default"}, {"id": 3, "name": "fine"}]})", dir.path());
  jobstr* j = job.get();
  std::array<std::int32_t, 6> w;
  ASSERT_TRUE(paintPlacementWords(j, 10, w.data()));
  // 200 pixels over 2000 units: 10 units per pixel, times 10000.
  EXPECT_EQ(w, (std::array<std::int32_t, 6>{1000, 2000, 1000, 2000 + 100000, 1000 + 200000, 2000}));
  EXPECT_FALSE(paintPlacementWords(j, 11, w.data()));
  EXPECT_TRUE(paintGetMatrix(j, 12) && paintGetMatrix(j, 12)[3] == 3);
  // Opacity and screen variants are new paints; a paint that already fits is kept.
  EXPECT_EQ(paintAdjustTransparency(j, 10, 0), 10);
  const std::uint16_t opaque = paintAdjustTransparency(j, 11, 0);
  ASSERT_NE(opaque, 11);
  EXPECT_TRUE(!paintHasTransparency(j, opaque) && paisep(j, opaque)[0] == 100);
  EXPECT_EQ(paipoi(j, paintAdjustTransparency(j, opaque, 11))->transparency.opacity, 12800);
  EXPECT_EQ(paintAdjustScreen(j, 11, 0), 11);
  EXPECT_EQ(getScreenName(j, paintGetScreen(j, paintAdjustScreen(j, 11, 3))), "fine");
  EXPECT_EQ(TavricLib::GetSortedCmyk(j), (std::vector<int>{1, 0}));
}

// Pattern fills expanded into objects: the tiles cut to their cells and the
// filled object, paints that lie on the page moved with each tile, limits;
// and which cells leave inks untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "pagewriter/patternexpand.h"
#include "platform/kernel/job.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/tavdb.h"
#include "platform/tav_error.h"

namespace {

std::unique_ptr<jobstr> job(const std::string& colours, const std::string& paints, const std::string& cell,
                            const std::string& more = "") {
  return TavKernel::loadJobFromMemory(R"({"ppi": 72, "boxes": {"media": [0, 0, 100, 100]},
    "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
             {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
    "colours": )" + colours + R"(, "paints": )" + paints + R"(,
    "patterns": [{"id": 1, "cell": [0, 0, 10, 10], "objects": [)" + cell + "]}" + more + "]}",
                                      std::filesystem::temp_directory_path(), "t.json");
}

std::string rect(int top, int left, int bottom, int right, int paint) {
  auto n = [](int v) { return std::to_string(v); };
  return R"({"kind": "path", "paint": )" + n(paint) + R"(, "points": [[)" + n(top) + ", " + n(left) + "], [" +
         n(top) + ", " + n(right) + "], [" + n(bottom) + ", " + n(right) + "], [" + n(bottom) + ", " + n(left) + "]]}";
}

// A group holding one rectangle filled with paint 20, expanded.
std::unique_ptr<TavDB::Object> expanded(jobstr& j, TavDB::tv_box box) {
  auto group = TavDB::gronew();
  auto path = TavDB::Object::create(TavDB::ObjectKind::Path);
  path->points() = {{box.top, box.left}, {box.top, box.right}, {box.bottom, box.right}, {box.bottom, box.left}};
  path->setPaint(20);
  path->recalcBounds();
  group->addontop(std::move(path));
  TavricLib::ExpandPattern(&j, group.get());
  return group;
}

// The shapes of an expansion with their bounds and paints, in order.
std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, int>> shapes(const TavDB::Object& group) {
  std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, int>> out;
  TavDB::ListScan scan(&group, TavDB::kObjPath | TavDB::kObjCompound, 0);
  for (TavDB::Object* o = scan.next(); o != nullptr; o = scan.next()) {
    const TavDB::tv_box& b = o->bounds();
    out.emplace_back(b.top, b.left, b.bottom, b.right, o->paint());
  }
  return out;
}

const char* kColours = R"([{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {"Spot": 100}, "others": 255},
  {"id": 3, "inks": {"Cyan": 0}}, {"id": 4, "inks": {"Cyan": 100}}, {"id": 5, "inks": {}, "others": 255}])";

TEST(PatternExpansion, TilesAreCutToTheirCellsAndTheFilledObject) {
  auto j = job(kColours, R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 20, "type": "pattern", "pattern": 1}])",
               rect(0, 0, 5, 5, 10));
  using S = std::vector<std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t, int>>;
  // Whole tiles: the cell's square in each, as it stands.
  EXPECT_EQ(shapes(*expanded(*j, {0, 0, 20, 20})),
            (S{{0, 0, 5, 5, 10}, {0, 10, 5, 15, 10}, {10, 0, 15, 5, 10}, {10, 10, 15, 15, 10}}));
  // An object across four tiles: each square cut to it.
  EXPECT_EQ(shapes(*expanded(*j, {3, 3, 13, 13})),
            (S{{3, 3, 5, 5, 10}, {3, 10, 5, 13, 10}, {10, 3, 13, 5, 10}, {10, 10, 13, 13, 10}}));
  // Tiles to the left of and above the cell's own place count as well.
  EXPECT_EQ(shapes(*expanded(*j, {-10, -10, -6, -6})), (S{{-10, -10, -6, -6, 10}}));
  // An object between the squares shows nothing: the group is gone.
  EXPECT_EQ(expanded(*j, {6, 6, 9, 9})->memberCount(), 0u);
}

TEST(PatternExpansion, PaintsOnThePageMoveWithEachTile) {
  // A linear gradient across the cell's square, used by two objects of the
  // cell: one new paint per tile, shared by the tile's objects, its axis
  // moved by the tile's offset.
  auto j = job(kColours, R"([{"id": 12, "type": "linear", "colour": 3, "colour2": 4, "start": [2, 0], "end": [2, 5]},
    {"id": 20, "type": "pattern", "pattern": 1}])",
               rect(0, 0, 5, 5, 12) + "," + rect(5, 5, 9, 9, 12));
  const auto s = shapes(*expanded(*j, {0, 0, 10, 20}));
  ASSERT_EQ(s.size(), 4u);
  std::set<int> paints;
  for (const auto& t : s) paints.insert(std::get<4>(t));
  ASSERT_EQ(paints.size(), 2u);
  EXPECT_EQ(paints.count(12), 0u);
  EXPECT_EQ(std::get<4>(s[0]), std::get<4>(s[1]));
  const Paint* first = paipoi(j.get(), std::get<4>(s[0]));
  const Paint* second = paipoi(j.get(), std::get<4>(s[2]));
  ASSERT_TRUE(first != nullptr && second != nullptr);
  EXPECT_EQ(std::pair(first->start, first->end), std::pair(TavDB::tv_point{2, 0}, TavDB::tv_point{2, 5}));
  EXPECT_EQ(std::pair(second->start, second->end), std::pair(TavDB::tv_point{2, 10}, TavDB::tv_point{2, 15}));
}

TEST(PatternExpansion, ObjectsAfterANestedFillKeepTheirTilesPaints) {
  // Pattern 1's cell: a nested fill (pattern 2, one-unit cells, each holding
  // a square of gradient 13), then a square of gradient 13 itself. The
  // nested tiles' moved gradients are theirs: the later square's gradient
  // moves with pattern 1's tile only.
  auto j = job(kColours, R"([{"id": 12, "type": "pattern", "pattern": 2},
    {"id": 13, "type": "linear", "colour": 3, "colour2": 4, "start": [5, 5], "end": [5, 8]},
    {"id": 20, "type": "pattern", "pattern": 1}])",
               rect(0, 0, 2, 2, 12) + "," + rect(5, 5, 8, 8, 13),
               R"(, {"id": 2, "cell": [0, 0, 1, 1], "objects": [)" + rect(0, 0, 1, 1, 13) + "]}");
  for (const TavDB::tv_box tile : {TavDB::tv_box{0, 0, 10, 10}, TavDB::tv_box{0, 10, 10, 20}}) {
    SCOPED_TRACE(tile.left);
    const auto s = shapes(*expanded(*j, tile));
    ASSERT_EQ(s.size(), 5u);  // four nested squares, then the tile's own
    const auto& [top, left, bottom, right, paint] = s.back();
    EXPECT_EQ(std::tuple(top, left, bottom, right), std::tuple(5, 5 + tile.left, 8, 8 + tile.left));
    EXPECT_EQ(paipoi(j.get(), paint)->start, (TavDB::tv_point{5, 5 + tile.left}));
  }
}

TEST(PatternExpansion, SoftMasksMoveWithEachTileCutToIt) {
  // The cell's square (paint 11) is masked by pattern 3, whose objects
  // reach past the cell; in a nested pattern's cell the mask moves with the
  // nested tiles as well (two moves made one). Each tile's square gets a paint of its own whose
  // mask holds the mask's objects moved by the tile and cut to it; the job's
  // own mask stays where it was.
  using B = std::tuple<std::int32_t, std::int32_t, std::int32_t, std::int32_t>;
  struct Case {
    const char* name;
    int cellPaint;                    // 11: masked square; 12: pattern 2 holding it
    std::vector<B> squares, masks;    // per tile, in order
  };
  const Case cases[] = {
      // The mask cut to the filled object's part of each cell.
      {"in the cell", 11, {{0, 0, 5, 5}, {0, 10, 5, 15}}, {{1, 1, 5, 10}, {1, 11, 5, 15}}},
      // Pattern 2's cell is the 5 x 5 square of each tile of pattern 1.
      {"in a nested cell", 12, {{0, 0, 2, 2}, {0, 10, 2, 12}}, {{1, 1, 5, 5}, {1, 11, 5, 15}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string paints = R"([{"id": 10, "type": "flat", "colour": 1},
      {"id": 11, "type": "flat", "colour": 2, "softMask": 3}, {"id": 12, "type": "pattern", "pattern": 2},
      {"id": 20, "type": "pattern", "pattern": 1}])";
    auto j = job(kColours, paints, rect(0, 0, 5, 5, c.cellPaint),
                 R"(, {"id": 2, "cell": [0, 0, 5, 5], "objects": [)" + rect(0, 0, 2, 2, 11) +
                     R"(]}, {"id": 3, "kind": "softMask", "maskFlags": 2, "objects": [)" + rect(1, 1, 12, 12, 10) + "]}");
    const auto group = expanded(*j, {0, 0, 5, 15});
    const auto s = shapes(*group);
    std::vector<B> squares, masks;
    std::set<int> maskIds;
    for (const auto& [top, left, bottom, right, paint] : s) {
      squares.emplace_back(top, left, bottom, right);
      const Paint* p = paipoi(j.get(), paint);
      ASSERT_NE(p, nullptr);
      if (paint == 11 || p->transparency.softMask == 3) {
        ADD_FAILURE() << "a tile keeps the job's mask";
        continue;
      }
      const PatternRec* mask = patpoi(j.get(), p->transparency.softMask);
      ASSERT_TRUE(mask != nullptr && mask->objects);
      EXPECT_EQ(mask->kind, PatternRec::kSoftMask);
      EXPECT_EQ(mask->maskFlags, 2u);
      ASSERT_EQ(mask->objects->memberCount(), 1u);
      EXPECT_EQ(mask->objects->member(0)->paint(), 10);
      const TavDB::tv_box& b = mask->objects->member(0)->bounds();
      masks.emplace_back(b.top, b.left, b.bottom, b.right);
      maskIds.insert(p->transparency.softMask);
    }
    EXPECT_EQ(squares, c.squares);
    EXPECT_EQ(masks, c.masks);
    EXPECT_EQ(maskIds.size(), c.masks.size());  // one mask per tile
    EXPECT_EQ(maskIds.count(kNoSoftMask), 0u);
    EXPECT_EQ(patpoi(j.get(), 3)->objects->bounds(), (TavDB::tv_box{1, 1, 12, 12}));
  }
}

TEST(PatternExpansion, SoftMasksWithinSoftMasksStopAtTheNestingLimit) {
  // Masks 100..108 each mask the object of the one before; too deep to
  // follow, the expansion stops by name rather than dropping a mask.
  for (const int masks : {3, 9}) {
    SCOPED_TRACE(masks);
    std::string paints = R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 20, "type": "pattern", "pattern": 1})";
    std::string patterns;
    for (int m = 0; m < masks; ++m) {
      const int paint = 30 + m;
      const bool last = m + 1 == masks;
      paints += R"(, {"id": )" + std::to_string(paint) + R"(, "type": "flat", "colour": 1, "softMask": )" +
                std::to_string(100 + m) + "}";
      patterns += R"(, {"id": )" + std::to_string(100 + m) + R"(, "kind": "softMask", "objects": [)" +
                  rect(0, 0, 3, 3, last ? 10 : paint + 1) + "]}";
    }
    auto j = job(kColours, paints + "]", rect(0, 0, 5, 5, 30), patterns);
    if (masks < 8) {
      EXPECT_EQ(shapes(*expanded(*j, {0, 0, 5, 5})).size(), 1u);
      continue;
    }
    try {
      expanded(*j, {0, 0, 5, 5});
      ADD_FAILURE() << "expanded";
    } catch (const TavSys::Error& e) {
      EXPECT_EQ(e.key(), "PDF/PATTERN NOT EXPANDED");
    }
  }
}

TEST(PatternExpansion, TooManyTilesAreRefusedByName) {
  // One-unit cells over a million square units.
  auto j = TavKernel::loadJobFromMemory(R"({"ppi": 72, "boxes": {"media": [0, 0, 100, 100]},
    "inks": [{"name": "Black", "process": "black"}], "colours": [{"id": 1, "inks": {"Black": 100}}],
    "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 20, "type": "pattern", "pattern": 1}],
    "patterns": [{"id": 1, "cell": [0, 0, 1, 1], "objects": [)" + rect(0, 0, 1, 1, 10) + "]}]}",
                                        std::filesystem::temp_directory_path(), "t.json");
  try {
    expanded(*j, {0, 0, 1000, 1000});
    ADD_FAILURE() << "expanded";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/PATTERN NOT EXPANDED");
  }
}

TEST(PatternExpansion, CellsThatLeaveInksUntouched) {
  struct Case {
    const char* name;
    std::string paints;  // paint 20 fills; pattern 1's cell uses paint 11
    std::string cell;
    bool leaves;
    bool nested = false;  // pattern 2 (painted with paint 12) exists
  };
  const std::string p20 = R"({"id": 20, "type": "pattern", "pattern": 1})";
  const std::string stroked = R"({"kind": "path", "paint": 10, "points": [[0, 0], [0, 5], [5, 5]],
      "stroke": {"width": 1, "paint": 11}})";
  const Case cases[] = {
      {"a colour naming every ink", R"([{"id": 11, "type": "flat", "colour": 1}, )" + p20 + "]", rect(0, 0, 5, 5, 11), false},
      {"a colour leaving inks untouched", R"([{"id": 11, "type": "flat", "colour": 2}, )" + p20 + "]",
       rect(0, 0, 5, 5, 11), true},
      {"a colour that paints nothing", R"([{"id": 11, "type": "flat", "colour": 5}, )" + p20 + "]",
       rect(0, 0, 5, 5, 11), false},
      {"in a stroke", R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2}, )" + p20 + "]",
       stroked, true},
      {"in one colour of a gradient",
       R"([{"id": 11, "type": "linear", "colour": 3, "colour2": 2, "start": [0, 0], "end": [0, 5]}, )" + p20 + "]",
       rect(0, 0, 5, 5, 11), true},
      {"in a nested pattern's cell",
       R"([{"id": 11, "type": "pattern", "pattern": 2}, {"id": 12, "type": "flat", "colour": 2}, )" + p20 + "]",
       rect(0, 0, 5, 5, 11), true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto j = job(kColours, c.paints, c.cell,
                 c.nested ? R"(, {"id": 2, "cell": [0, 0, 4, 4], "objects": [)" + rect(0, 0, 2, 2, 12) + "]}" : "");
    EXPECT_EQ(TavricLib::PatternLeavesInksUntouched(j.get(), 1), c.leaves);
    // An ink that is not in use (another plate's) does not count.
    if (c.leaves) {
      sepDisable(j.get(), 0);
      sepDisable(j.get(), 1);
      EXPECT_FALSE(TavricLib::PatternLeavesInksUntouched(j.get(), 1));
    }
  }
}

}  // namespace

// The Illustrator 3.2 writer: golden files of small jobs, the colour rule,
// the complexity limit, escaping, locale independence, the export entry's
// results and messages, and Ghostscript rendering the files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <locale>
#include <regex>

#include "driver/driver_support.h"
#include "illustrator/ai_support.h"
#include "illustrator/ai_text.h"
#include "illustrator/illustrator32.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "tavpdf/illustrator.h"

using aitest::aiJob;
using aitest::expectSamePlates;
using walkertest::JobBuilder;
using walkertest::lines;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// A path of n points on a zigzag line.
std::unique_ptr<TavDB::Object> zigzag(int n, std::uint16_t paint) {
  auto p = JobBuilder::path({}, paint);
  for (int i = 0; i < n; ++i) p->points().push_back({(i % 2) * 10, i, TavDB::PathPoint::kLine});
  p->recalcBounds();
  return p;
}

// The Illustrator 3.2 text of a job.
std::string write32(const jobstr* job, bool traps = false, int* result = nullptr) {
  TavDB::ScopedCurrentJob current(job);
  std::string out;
  const int r = TavIllu::WriteIllustrator32(job, job->name, traps, out);
  if (result != nullptr) *result = r;
  return out;
}

std::filesystem::path goldenDir() { return tavtest::sourceDir() / "tests" / "illustrator" / "golden"; }

// Compares with a golden file; TAV_UPDATE_GOLDEN=1 rewrites it instead.
void expectGolden(const std::string& text, const std::string& name) {
  const auto file = goldenDir() / name;
  if (std::getenv("TAV_UPDATE_GOLDEN") != nullptr) {
    tavtest::writeFile(file, text);
    return;
  }
  EXPECT_EQ(text, tavtest::readFile(file)) << name;
}

// The artwork of the golden file: a cyan square, a spot square, a ring with a
// hole in a tint that leaves black untouched, a white rectangle, an open path.
JobBuilder goldenJob() {
  JobBuilder j = aiJob();
  const int pantone = j.addSpot("PANTONE 185 C", 0, 91, 76, 0);
  j.add(JobBuilder::rect(50, 0, 100, 50, j.flat({{0, 100}, {1, 0}, {2, 0}, {3, 0}})));
  j.add(JobBuilder::rect(0, 60, 40, 100, j.flat({{pantone, 100}})));
  auto ring = TavDB::Object::create(TavDB::ObjectKind::Compound);
  ring->addontop(JobBuilder::rect(55, 55, 95, 95, 0));
  // The hole runs the same way as the outline; the writer turns it round.
  ring->addontop(JobBuilder::rect(65, 65, 85, 85, 0));
  ring->setPaint(j.flat({{1, 50}, {3, 255}}));
  j.add(std::move(ring));
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {pantone, 0}})));
  auto open = JobBuilder::rect(20, 0, 30, 20, j.flat({{3, 100}}));
  open->setProperties(TavDB::kObjOpenPath, true);
  j.add(std::move(open));
  return j;
}

// A locale whose decimal point is a comma, as many hosts have.
struct CommaPunct : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};
}  // namespace

TEST(Illustrator32, GoldenFiles) {
  // The artwork's file fixes the header's order, the box (0 0 100 100 widened
  // by half a point) and balanced groups; numbers do not depend on the locale.
  JobBuilder art = goldenJob();
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  const std::string text = write32(art.get());
  std::locale::global(saved);
  expectGolden(text, "artwork.ai");

  JobBuilder noSpots = aiJob();
  noSpots.add(JobBuilder::rect(0, 0, 20, 20, noSpots.flat({{0, 100}})));
  expectGolden(write32(noSpots.get()), "no_spots.ai");

  JobBuilder excluded = aiJob();
  auto compound = TavDB::Object::create(TavDB::ObjectKind::Compound);
  compound->addontop(JobBuilder::rect(0, 0, 10, 10, 0))->setProperties(TavDB::kObjExcluded, true);
  compound->addontop(JobBuilder::rect(2, 2, 8, 8, 0))->setProperties(TavDB::kObjHidden, true);
  compound->setPaint(excluded.flat({{0, 100}}));
  excluded.add(JobBuilder::rect(0, 0, 10, 10, excluded.flat({{3, 100}})));  // a path before it
  excluded.add(std::move(compound));
  expectGolden(write32(excluded.get()), "skipped_compound.ai");
  // A job without artwork has no box.
  JobBuilder empty = aiJob();
  EXPECT_THAT(write32(empty.get()), HasSubstr("%%BoundingBox: 0 0 0 0\n"));
}

TEST(Illustrator32, ColourRule) {
  JobBuilder j = aiJob();
  const int orange = j.addSpot("Orange", 0, 50, 100, 0);
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{orange, 100}})));                 // 100 % spot
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{orange, 40}})));                  // 40 % spot
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{0, 50}, {1, 255}, {orange, 30}})));  // process wins
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}})));   // all zero
  const auto l = lines(write32(j.get()));
  std::vector<std::string> colours;
  for (std::size_t i = 0; i + 1 < l.size(); ++i) {
    if (std::regex_match(l[i], std::regex("[01] O"))) colours.push_back(l[i] + " | " + l[i + 1]);
  }
  EXPECT_THAT(colours, ::testing::ElementsAre(
                           "1 O | 0.00 0.50 1.00 0.00 (Orange) 0.00 x",  // process untouched
                           "1 O | 0.00 0.50 1.00 0.00 (Orange) 0.60 x",
                           // 255 (untouched) magenta overprints and adds nothing.
                           "1 O | 0.50 0.00 0.00 0.00 k",
                           "0 O | 0.0 0.0 0.0 0.0 k"));
}

TEST(Illustrator32, TrapsOnlyWhenAsked) {
  JobBuilder j = aiJob();
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{0, 100}})))->setProperties(TavDB::kObjTrap, true);
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{0, 100}})))->setProperties(TavDB::kObjExcluded, true);
  EXPECT_THAT(write32(j.get(), false), Not(HasSubstr("u\n")));
  const auto l = lines(write32(j.get(), true));
  EXPECT_EQ(std::count(l.begin(), l.end(), "u"), 1);
}

TEST(Illustrator32, ComplexityLimitAndItsWarning) {
  JobBuilder below = aiJob();
  below.add(zigzag(16383, below.flat({{0, 100}})));
  int result = -1;
  JobBuilder at = aiJob();
  at.add(zigzag(16384, at.flat({{0, 100}})));
  const std::string whole = write32(at.get(), false, &result);
  EXPECT_EQ(result, 1);
  // Written whole all the same.
  const auto l = lines(whole);
  EXPECT_EQ(std::count_if(l.begin(), l.end(), [](const std::string& s) { return s.ends_with(" L"); }),
            16383);

  tavtest::TestFolder folder;
  TavGen::MessageCapture capture;
  EXPECT_EQ(outputIllustratorFile(below.get(), TavSys::FileSpec(folder / "a.ai"), 0, 0, 1, false), 0);
  EXPECT_EQ(capture.messages().size(), 0u);
  EXPECT_EQ(outputIllustratorFile(at.get(), TavSys::FileSpec(folder / "b.ai"), 0, 0, 1, false), 1);
  ASSERT_EQ(capture.count("SOME PATHS ARE TOO COMPLEX FOR PREVIEW IN ILLUSTRATOR"), 1);
  EXPECT_EQ(capture.messages().back().severity, TavGen::kWarning);
  EXPECT_EQ(tavtest::readFile(folder / "b.ai"), whole);
}

TEST(Illustrator32, NamesAndTitlesCannotBreakTheFile) {
  JobBuilder j = aiJob();
  j.job().name = "Bad\ntitle (1)";
  const int odd = j.addSpot("A(b\\c)\xC3\xA9", 0, 0, 0, 100);
  j.add(JobBuilder::rect(0, 0, 10, 10, j.flat({{odd, 50}})));
  const std::string text = write32(j.get());
  EXPECT_THAT(text, HasSubstr("%%Title: Bad title (1)\n"));
  EXPECT_THAT(text, HasSubstr("%%DocumentCustomColors: (A\\(b\\\\c\\)\\303\\251)\n"));
  EXPECT_THAT(text, HasSubstr("(A\\(b\\\\c\\)\\303\\251) 0.50 x\n"));

  EXPECT_EQ(TavIllu::escapePostScriptString(")(\\\t"), "\\)\\(\\\\\\011");
  std::string n;
  TavIllu::appendFixed(n, -0.000001, 2);
  n += "|";
  TavIllu::appendFixed(n, 3.14159, 5, 12);
  n += "|";
  TavIllu::appendFixed(n, std::numeric_limits<double>::quiet_NaN(), 2);
  EXPECT_EQ(n, "0.00|     3.14159|0.00");
}

TEST(IllustratorExport, FailuresAreReportedAndLeaveNoFile) {
  JobBuilder art = goldenJob();
  tavtest::TestFolder folder;
  TavGen::MessageCapture capture;
  const auto missing = folder / "no such folder" / "x.ai";
  const int code = outputIllustratorFile(art.get(), TavSys::FileSpec(missing), 0, 0, 1, false);
  EXPECT_EQ(code, TavSys::kFileErrorBase + ENOENT);
  ASSERT_EQ(capture.count("CANNOT OPEN ILLUSTRATOR FILE"), 1);
  EXPECT_EQ(capture.messages().front().severity, TavGen::kError);
  EXPECT_THAT(capture.messages().front().text, HasSubstr("x.ai"));
  // No "too complex" warning for a failure.
  EXPECT_EQ(capture.count("SOME PATHS ARE TOO COMPLEX FOR PREVIEW IN ILLUSTRATOR"), 0);

  // Illustrator 5 and 7: the file error, then the system's text; no file.
  for (int mode : {1, 2, 3}) {
    TavGen::MessageCapture five;
    EXPECT_EQ(outputIllustratorFile(art.get(), TavSys::FileSpec(missing), mode, 0, 1, false),
              TavSys::kFileErrorBase + ENOENT);
    ASSERT_EQ(five.messages().size(), 2u);
    EXPECT_EQ(five.messages()[0].key, "CANNOT OPEN ILLUSTRATOR FILE");
    EXPECT_EQ(five.messages()[1].severity, TavGen::kError);
  }
  // A cancelled export leaves the target as it was.
  tavtest::writeFile(folder / "old.ai", "old");
  TavSys::Progress::setCancelHook([] { return true; });
  EXPECT_EQ(outputIllustratorFile(art.get(), TavSys::FileSpec(folder / "old.ai"), 2, 0, 1, false), -2);
  TavSys::Progress::setCancelHook(nullptr);
  TavSys::Progress::resetCancel();
  EXPECT_EQ(tavtest::readFile(folder / "old.ai"), "old");
  std::filesystem::remove(folder / "old.ai");

  EXPECT_TRUE(tavtest::folderListing(folder.path()).empty());
  // (That a written file replaces an older one whole is the atomic output's own test.)
}

TEST(IllustratorExport, GhostscriptRendersTheColours) {
  JobBuilder art = goldenJob();
  tavtest::TestFolder folder;
  ASSERT_EQ(outputIllustratorFile(art.get(), TavSys::FileSpec(folder / "art.ai"), 0, 0, 1, false), 0);
  const tavtest::Plates p = tavtest::measurePlates(aitest::renderable(folder / "art.ai", 100, 100), 1, 72);
  const struct {
    const char* ink;
    double x, y, share;
  } cases[] = {
      {"Cyan", 25, 25, 1},           // the 100 % cyan square
      {"PANTONE 185 C", 80, 80, 1},  // the spot square
      {"Magenta", 60, 10, 0.5},      // the ring, 50 % magenta, no other ink
      {"Cyan", 60, 10, 0},
      {"Black", 60, 10, 0},
      {"Magenta", 75, 25, 0},        // its hole stays empty
  };
  for (const auto& c : cases) EXPECT_NEAR(p.inkAtPoint(c.ink, c.x, c.y), c.share, 0.01) << c.ink << " " << c.x;
}

namespace {

// A job of one object (JSON text) with colours 20 black, 21 Orange leaving
// the other inks untouched (a die line's colour), 22 cyan and Orange; flat
// paints 30 to 32 of them, 33 a linear gradient from black to Orange, 34 a
// pattern of black squares, 35 black at half opacity.
std::string oneObject(const std::string& object) {
  return drivertest::jobText(
      drivertest::kStandardInks,
      R"([{"id":20,"inks":{"Black":100}},{"id":21,"inks":{"Orange":100},"others":255},)"
      R"({"id":22,"inks":{"Cyan":40,"Orange":60}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
      R"({"id":32,"type":"flat","colour":22},)"
      R"({"id":33,"type":"linear","colour":20,"colour2":21,"start":[0,0],"end":[0,1000]},)"
      R"({"id":34,"type":"pattern","pattern":1},{"id":35,"type":"flat","colour":20,"opacity":50}])",
      "[" + object + "]",
      R"(,"patterns":[{"id":1,"cell":[0,0,100,100],"objects":[)" + drivertest::square(0, 0, 50, 30) + "]}]");
}

// The lines that set colours and strokes or paint.
std::vector<std::string> paintingLines(const std::string& text) {
  static const std::regex painting(R"((.* [ORkKxXwjJMd])|[FfSsBbN])");
  std::vector<std::string> found;
  for (const std::string& l : lines(text.substr(text.find("%%EndSetup")))) {
    if (std::regex_match(l, painting)) found.push_back(l);
  }
  return found;
}

}  // namespace

// Each object is written with what the file can hold of its fill and its
// stroke; what it cannot hold is named, and never drawn as something else.
TEST(Illustrator32, FillsStrokesAndWhatIsLeftOut) {
  using drivertest::square;
  const std::vector<std::string> dieStroke = {"1 R", "0.00 0.60 1.00 0.00 (Orange) 0.00 X", "1.000 w", "0 j",
                                              "0 J", "4.000 M", "[] 0.000 d"};
  auto with = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<std::string> black = {"0 O", "0.00 0.00 0.00 1.00 k"};
  const std::vector<std::string> orangeFill = {"1 O", "0.00 0.60 1.00 0.00 (Orange) 0.00 x"};
  const char* kGradients = "the colour ramps of gradients";
  struct Case {
    const char* what;
    std::string object;
    std::vector<std::string> painting;
    std::string leftOut;  // the start of the one text left out, or empty
  };
  const std::vector<Case> cases = {
      {"a die line: a stroke without fill", square(1000, 1000, 2000, 2, R"(,"stroke":{"width":10,"paint":31})"),
       with(dieStroke, {"s"}), ""},
      {"fill and stroke, round joins and caps", square(1000, 1000, 2000, 30,
                                                        R"(,"stroke":{"width":20,"paint":31,"join":"round",)"
                                                        R"("cap":"round","miterLimit":10})"),
       with(black, {"1 R", "0.00 0.60 1.00 0.00 (Orange) 0.00 X", "2.000 w", "1 j", "1 J", "10.000 M",
                    "[] 0.000 d", "b"}),
       ""},
      {"an open dashed stroke",
       R"({"kind":"path","closed":false,"points":[[1000,1000],[1000,3000]],)"
       R"("stroke":{"width":10,"paint":31,"dash":[60,40],"dashPhase":20}})",
       {"1 R", "0.00 0.60 1.00 0.00 (Orange) 0.00 X", "1.000 w", "0 j", "0 J", "4.000 M", "[6.000 4.000] 2.000 d",
        "S"},
       ""},
      {"a path that paints nothing stays a path", square(1000, 1000, 2000, 2), {"N"}, ""},
      {"an inside stroke is the frame it covers, after the fill",
       square(1000, 1000, 2000, 30, R"(,"stroke":{"width":100,"paint":31,"position":"inside"})"),
       with(with(black, {"F"}), with(with(orangeFill, {"F"}), with(orangeFill, {"F"}))), ""},
      {"a gradient fill in its start colour", square(1000, 1000, 2000, 33), with(black, {"F"}), kGradients},
      {"a gradient stroke", square(1000, 1000, 2000, 30, R"(,"stroke":{"width":10,"paint":33})"),
       with(black, {"F"}), "strokes painted with a gradient"},
      {"a pattern fill keeps its outline unpainted", square(1000, 1000, 2000, 34), {"N"}, "pattern fills"},
      {"process and spot inks: the process share", square(1000, 1000, 2000, 32),
       {"0 O", "0.40 0.00 0.00 0.00 k", "F"}, "the spot inks of colours that mix"},
      {"transparency", square(1000, 1000, 2000, 35), with(black, {"F"}), "the transparency of objects"},
      {"a text", R"({"kind":"text","at":[1200,720],"runs":[{"text":"A","font":"NimbusSans-Bold","size":20,"paint":30}]})",
       {}, "texts"},
      {"the station number is the workflow's",
       R"({"kind":"text","stationNumber":true,"at":[1200,720],"runs":[{"text":"1","font":"NimbusSans-Bold","size":20,"paint":30}]})",
       {}, ""},
  };
  for (const Case& c : cases) {
    const auto job = drivertest::loadJob(oneObject(c.object));
    ASSERT_TRUE(job) << c.what;
    TavDB::ScopedCurrentJob current(job.get());
    std::string text;
    std::vector<std::string> leftOut;
    EXPECT_EQ(TavIllu::WriteIllustrator32(job.get(), "t", false, text, &leftOut), 0) << c.what;
    EXPECT_EQ(paintingLines(text), c.painting) << c.what;
    if (c.leftOut.empty()) {
      EXPECT_TRUE(leftOut.empty()) << c.what << ": " << (leftOut.empty() ? "" : leftOut.front());
    } else {
      ASSERT_EQ(leftOut.size(), 1u) << c.what;
      EXPECT_EQ(leftOut.front().rfind(c.leftOut, 0), 0u) << c.what << ": " << leftOut.front();
    }
  }
}

// The export names each kind of thing left out once, as a warning, and the
// file is written with result 0.
TEST(IllustratorExport, Version32NamesWhatItLeavesOut) {
  using drivertest::square;
  const auto job = drivertest::loadJob(oneObject(
      square(1000, 1000, 2000, 33) + "," + square(4000, 1000, 2000, 33) + "," + square(1000, 4000, 2000, 34) +
      R"(,{"kind":"text","at":[6000,720],"runs":[{"text":"A","font":"NimbusSans-Bold","size":20,"paint":30}]})"));
  tavtest::TestFolder folder;
  TavGen::MessageCapture capture;
  EXPECT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(folder / "a.ai"), 0, 0, 1, false), 0);
  ASSERT_EQ(capture.messages().size(), 3u);
  for (const auto& m : capture.messages()) {
    EXPECT_EQ(m.key, "ILLUSTRATOR/OBJECTS LEFT OUT");
    EXPECT_EQ(m.severity, TavGen::kWarning);
  }
  EXPECT_THAT(capture.messages()[2].text, HasSubstr("texts"));
  aitest::expectSyntaxAccepted(folder / "a.ai");
}

// Ghostscript renders the file (with the test prolog) into the plates of the
// PDF export: a die line stroked in a spot ink over a picture-less label, a
// square filled and stroked, an open dashed stroke, an inside stroke, and a
// ring (a compound path) filled and stroked.
TEST(IllustratorExport, Version32StrokesMatchThePdfExport) {
  using drivertest::square;
  const std::string ring = R"({"kind":"compound","paint":30,"stroke":{"width":40,"paint":31},"objects":[)" +
                           square(4000, 4000, 2000, 30) + "," + square(4500, 4500, 1000, 30) + "]}";
  const auto job = drivertest::loadJob(oneObject(
      square(500, 500, 6000, 30) + "," + square(1000, 1000, 2000, 2, R"(,"stroke":{"width":30,"paint":31})") + "," +
      square(1000, 4000, 2000, 30, R"(,"stroke":{"width":60,"paint":31,"join":"round"})") + "," +
      R"({"kind":"path","closed":false,"points":[[3500,1000],[3500,3000]],)"
      R"("stroke":{"width":50,"paint":31,"dash":[200,100],"dashPhase":50}},)" +
      square(4000, 1000, 2000, 2, R"(,"stroke":{"width":200,"paint":31,"position":"inside"})") + "," + ring));
  tavtest::TestFolder folder;
  const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press"), folder / "job.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const tavtest::Plates pdf = tavtest::measurePlates(folder / "job.pdf", 1, 72);
  TavGen::MessageCapture capture;
  ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(folder / "job.ai"), 0, 0, 1, false), 0);
  EXPECT_TRUE(capture.messages().empty());
  expectSamePlates(tavtest::measurePlates(aitest::renderable(folder / "job.ai", 720, 720), 1, 72), pdf, "3.2");
}

// The Illustrator 5.0 / 7.0 writer: the header, set-up, layer and gradient
// blocks line by line, colours and strokes, raster rows, and Ghostscript
// rendering the files (with the test prolog) into the same plates as a PDF
// export of the job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <set>

#include "driver/driver_support.h"
#include "illustrator/ai_support.h"
#include "illustrator/illoutjob.h"
#include "platform/files.h"
#include "platform/fonts/fontface.h"
#include "platform/kernelfile.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "support/pictures.h"
#include "tavpdf/illustrator.h"

using aitest::aiJob;
using aitest::expectSamePlates;
using aitest::expectSyntaxAccepted;
using aitest::renderable;
using walkertest::JobBuilder;
using walkertest::lines;
using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

namespace fs = std::filesystem;

// The file of a mode as the writer makes it.
std::string writeAi(jobstr* job, int mode, int* result = nullptr) {
  TavDB::ScopedCurrentJob current(job);
  TavSys::fil memory;
  int r;
  {
    TavIllu::illoutjob writer(job, mode, 0, &memory, 1, false);
    r = writer.WriteDocument();
  }
  if (result != nullptr) *result = r;
  return memory.contents();
}

// The lines from the first one equal to `from` up to and including the first
// one equal to `to` after it.
std::vector<std::string> block(const std::vector<std::string>& all, const std::string& from,
                               const std::string& to) {
  auto begin = std::find(all.begin(), all.end(), from);
  auto end = std::find(begin, all.end(), to);
  return {begin, end == all.end() ? end : end + 1};
}

}  // namespace

TEST(Illustrator57, HeaderSetUpLayersAndGradientsLineByLine) {
  JobBuilder j = aiJob();
  const int spot = j.addSpot("Spot (1)", 0, 50, 100, 0);
  const std::uint16_t cyan = j.colour({{0, 100}, {1, 0}, {2, 0}, {3, 0}, {spot, 0}});
  const std::uint16_t orange = j.colour({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {spot, 100}});
  const std::uint16_t grey = j.colour({{0, 0}, {1, 0}, {2, 0}, {3, 40}, {spot, 0}});
  Paint linear;
  linear.type = kPaintLinear;
  linear.colour = cyan;
  linear.colour2 = orange;
  linear.start = {50, 0};
  linear.end = {50, 100};
  Paint radial = linear;
  radial.type = kPaintRadial;
  Paint gradation;
  gradation.type = kPaintGradation;
  gradation.start = {50, 0};
  gradation.steps = {{cyan, 0, 10}, {orange, 25, 60}, {grey, 100, 0}};
  const std::uint16_t lin = j.job().addPaint(linear), rad = j.job().addPaint(radial),
                      grad = j.job().addPaint(gradation);
  auto layer = JobBuilder::layer(std::string("L\xE9(a)"));
  for (std::uint16_t p : {lin, rad, grad}) layer->addontop(JobBuilder::rect(0, 0, 100, 100, p));
  j.add(std::move(layer));
  auto hidden = JobBuilder::layer("off");
  hidden->setProperties(TavDB::kObjHidden | TavDB::kObjLocked | TavDB::kObjNonPrinting, true);
  j.add(std::move(hidden));

  const std::string l = std::to_string(lin), r = std::to_string(rad), g = std::to_string(grad);
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE(mode);
    int result = -1;
    const auto all = lines(writeAi(j.get(), mode, &result));
    EXPECT_EQ(result, 0);
    const std::vector<std::string> head = {
        "%!PS-Adobe-3.0",
        mode == 2 ? "%%Creator: Adobe Illustrator(r) 7.0" : "%%Creator: Adobe Illustrator(r) 5.0",
        "%%Title: test",
        "%%BoundingBox:-1 -1 101 101 ",
        "%%DocumentProcessColors: Cyan Magenta Yellow Black",
        "%AI5_FileFormat 1.2",
        "%%DocumentCustomColors: (Spot \\(1\\))",
        "%%CMYKCustomColor: 0 0.5 1 0 (Spot \\(1\\))",
        "%AI5_ArtFlags: 1 0 0 1 0 0 1 1 0",
        "%%EndComments",
        "%%BeginProlog",
        "%%EndProlog",
        "%%BeginSetup",
        // The stops from ramp position 100 down: the end colour of a linear
        // gradient, the centre colour of a radial one.
        "%AI5_BeginGradient: (Tavric Deg " + l + " ) ",
        "(Tavric Deg " + l + " ) 0 2 Bd",
        "[",
        "0 0.5 1 0 (Spot \\(1\\)) 0 3 50 100 %_Bs",
        "1 0 0 0 1 50 0 %_Bs",
        "BD",
        "%AI5_EndGradient",
        "%AI5_BeginGradient: (Tavric Deg " + r + " ) ",
        "(Tavric Deg " + r + " ) 1 2 Bd",
        "[",
        "0 0.5 1 0 (Spot \\(1\\)) 0 3 50 0 %_Bs",
        "1 0 0 0 1 50 100 %_Bs",
        "BD",
        "%AI5_EndGradient",
        // Steps at 0, 25 and 100; each midpoint as a share of the way from
        // the step before (10 of 25, 60 of 75).
        "%AI5_BeginGradient: (Tavric Deg " + g + " ) ",
        "(Tavric Deg " + g + " ) 0 3 Bd",
        "[",
        "1 0 0 0 1 50 100 %_Bs",
        "0 0.5 1 0 (Spot \\(1\\)) 0 3 40 75 %_Bs",
        "0 0 0 0.4 1 80 0 %_Bs",
        "BD",
        "%AI5_EndGradient",
        "%%EndSetup",
        "0 O",
        "0 A",
        "1 XR",
        "%AI5_BeginLayer",
        "1 1 1 1 0 0 0 255 79 79 Lb",
        "(L\\351\\(a\\)) Ln",
    };
    ASSERT_GE(all.size(), head.size());
    EXPECT_THAT(std::vector<std::string>(all.begin(), all.begin() + std::ptrdiff_t(head.size())),
                ElementsAreArray(head));
    // The object's box is 100 points wide and high: the bands reach 1100
    // points across the gradient's line.
    EXPECT_THAT(block(all, "1 (Tavric Deg " + l + " ) 0 -250 0 100 1 0 0 1 0 0 Bg", "0 BB"),
                ElementsAreArray(std::vector<std::string>{"1 (Tavric Deg " + l + " ) 0 -250 0 100 1 0 0 1 0 0 Bg",
                                  "0 -600 0 -1100 0 350 Bc", "100 0 0 -1100 0 -250 Bm",
                                  "0 0 0 -1100 100 -250 Bc", "0 BB"}));
    EXPECT_THAT(block(all, "0 0 0 0 Bh", "0 BB"),
                ElementsAreArray(std::vector<std::string>{"0 0 0 0 Bh", "1 (Tavric Deg " + r + " ) 50 50 0 50 1 0 0 1 0 0 Bg",
                                  "0 -50 0 0 50 50 Bm", "0 BB"}));
    // A gradation runs from its last step (ramp 0) to its first, one band per step.
    EXPECT_THAT(block(all, "1 (Tavric Deg " + g + " ) 100 350 180 100 1 0 0 1 0 0 Bg", "0 BB"),
                ElementsAreArray(std::vector<std::string>{"1 (Tavric Deg " + g + " ) 100 350 180 100 1 0 0 1 0 0 Bg",
                                  "0 600 0 1100 100 -250 Bc", "-25 0 0 1100 25 350 Bm",
                                  "-75 0 0 1100 100 350 Bm", "0 0 0 1100 0 350 Bc",
                                  "0 BB"}));
    EXPECT_THAT(block(all, "LB", "(off) Ln"),
                ElementsAreArray(std::vector<std::string>{"LB", "%AI5_EndLayer--", "%AI5_BeginLayer", "0 1 0 0 0 0 0 255 79 79 Lb",
                                  "(off) Ln"}));
    EXPECT_EQ(std::vector<std::string>(all.end() - 4, all.end()),
              (std::vector<std::string>{"LB", "%AI5_EndLayer--", "%%Trailer", "%%EOF"}));
  }
}

TEST(Illustrator57, GradientsThatAreNoIllustratorGradient) {
  JobBuilder j = aiJob();
  const std::uint16_t cyan = j.colour({{0, 100}, {1, 0}, {2, 0}, {3, 0}});
  const std::uint16_t black = j.colour({{0, 0}, {1, 0}, {2, 0}, {3, 100}});
  Paint point;  // a linear gradient without length: its start colour everywhere
  point.type = kPaintLinear;
  point.colour = black;
  point.colour2 = cyan;
  point.start = point.end = {20, 20};
  Paint circular;
  circular.type = kPaintGradation;
  circular.gradationForm = Paint::kGradCircular;
  circular.gradationBox = {0, 0, 100, 100};
  circular.steps = {{cyan, 0, 25}, {black, 50, 0}};
  Paint untouched = point;  // every ink left as it is: nothing to paint
  untouched.colour = untouched.colour2 = j.colour({{0, 255}});
  untouched.end = {20, 80};
  for (const Paint& p : {point, circular, untouched}) {
    j.add(JobBuilder::rect(10, 10, 90, 90, j.job().addPaint(p)));
  }
  // Version 5.0 can only hold the circular gradation's first colour; 7.0
  // draws it as an image in the object's outline. No fill refers to a
  // gradient; the circular gradation has no definition.
  const auto kLines = [](const std::vector<std::string>& l) {
    std::vector<std::string> k;
    for (const auto& s : l) {
      if (s.ends_with(" k")) k.push_back(s);
    }
    return k;
  };
  const auto five = lines(writeAi(j.get(), 1));
  const auto seven = lines(writeAi(j.get(), 2));
  for (const auto* file : {&five, &seven}) {
    EXPECT_THAT(*file, Not(::testing::Contains("Bb")));
    EXPECT_EQ(std::count_if(file->begin(), file->end(), [](const std::string& s) { return s.ends_with(" Bd"); }),
              2);
  }
  EXPECT_EQ(kLines(five), (std::vector<std::string>{"0 0 0 1 k", "1 0 0 0 k"}));
  EXPECT_EQ(std::count(five.begin(), five.end(), "F"), 2);
  EXPECT_THAT(five, Not(::testing::Contains(HasSubstr("XI"))));
  EXPECT_EQ(kLines(seven), (std::vector<std::string>{"0 0 0 1 k"}));
  EXPECT_EQ(std::count_if(seven.begin(), seven.end(), [](const std::string& s) { return s.ends_with(" XI"); }),
            1);
}

TEST(Illustrator57, ColoursOverprintAndStrokes) {
  JobBuilder j = aiJob();
  const int spot = j.addSpot("Gold", 0, 20, 60, 10);
  const auto cyan = j.flat({{0, 100}, {1, 0}, {2, 0}, {3, 0}, {spot, 0}});
  j.add(JobBuilder::rect(0, 0, 10, 10, cyan));
  j.add(JobBuilder::rect(20, 0, 30, 10, cyan));
  auto stroked = JobBuilder::rect(40, 0, 50, 10, cyan);
  stroked->extraMut().stroke = std::make_unique<TavDB::Stroke>();
  stroked->extraMut().stroke->width = 2;
  stroked->extraMut().stroke->paint = j.flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {spot, 60}});
  j.add(std::move(stroked));
  auto open = JobBuilder::path({{60, 0}, {60, 50}}, cyan, true);
  open->extraMut().stroke = std::make_unique<TavDB::Stroke>();
  open->extraMut().stroke->width = 1;
  open->extraMut().stroke->paint = cyan;
  j.add(std::move(open));
  j.add(JobBuilder::rect(70, 0, 80, 10, j.flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {spot, 60}})));
  const auto all = lines(writeAi(j.get(), 2));
  std::vector<std::string> colours;
  for (const auto& s : all) {
    if (s.ends_with(" O") || s.ends_with(" k") || s.ends_with(" K") || s.ends_with(" x") || s.ends_with(" X") ||
        s == "s" || s == "S")
      colours.push_back(s);
  }
  EXPECT_THAT(colours, ElementsAreArray(std::vector<std::string>{
                           "0 O", "1 0 0 0 k", "1 0 0 0 k",     // the set-up's "0 O" serves all
                           "1 0 0 0 k", "0 0.2 0.6 0.1 (Gold) 0.4 X", "s",
                           "1 0 0 0 K", "S",                  // an open path is stroked, not filled
                           "0 0.2 0.6 0.1 (Gold) 0.4 x",
                       }));
  EXPECT_EQ(std::count(all.begin(), all.end(), "0 O"), 1);
}

TEST(Illustrator57, RasterRowsAsHexLines) {
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint8_t>> rows;
    int rowsDue;
    std::string expected;
  };
  const std::string thirty = std::string(60, 'a');
  const std::vector<Case> cases = {
      {"31 bytes: one line of 30 and one of 1", {std::vector<std::uint8_t>(31, 0xaa)}, 1, "%" + thirty + "\n%aa\n"},
      {"a short row is completed with blanks", {{0x01, 0xff}}, 1, "%01ff" + std::string(56, '0') + "\n%00\n"},
      {"rows beyond the announced ones are dropped", {{0x12}, {0x34}}, 1, "%12" + std::string(58, '0') + "\n%00\n"},
      {"missing rows are written blank", {}, 2, "%" + std::string(60, '0') + "\n%00\n%" + std::string(60, '0') +
                                                    "\n%00\n"},
  };
  for (const Case& c : cases) {
    walkertest::StringSink sink;
    TavIllu::IlluProofImageHandler handler(sink, c.rowsDue, 31, 0);
    for (const auto& row : c.rows) EXPECT_EQ(handler.WriteRows(row.data(), int(row.size()), 1), 0);
    handler.Complete();
    EXPECT_EQ(sink.text, c.expected) << c.what;
  }
}

// Placed EPS files. Page points are job units / 10 across and (7200 - v) / 10
// up; the matrix runs the file's points from its box's lower left corner,
// which lands on the placement's bottom left corner.
TEST(Illustrator57, PlacedEpsFilesAsPlaceBlocks) {
  tavtest::TestFolder folder;
  tavtest::writeFile(folder / "a(b).eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 10 20 110 70\n"
                                          "0 0 0 1 setcmykcolor 10 20 100 50 rectfill showpage\n");
  const auto job = [&](const std::string& place) {
    return drivertest::loadJob(drivertest::jobText(drivertest::kStandardInks, "[]",
                                                   R"([{"id":30,"type":"picture","picture":1,"place":{)" + place + "}}]",
                                                   "[" + drivertest::square(0, 0, 7200, 30) + "]",
                                                   R"(,"pictures":[{"id":1,"file":"a(b).eps"}])"),
                               folder.path());
  };
  const std::string dir = folder.path().string() + "/";
  const std::pair<std::string, std::string> cases[] = {
      // 100 × 50 points, top left at (100, 620); scaled 2 across, 3 up; turned
      // a quarter anticlockwise, top left at (300, 300).
      {R"("origin":[1000,1000],"widthCorner":[1000,2000],"heightCorner":[1500,1000])", "[1 0 0 1 100 570 ] "},
      {R"("origin":[1000,1000],"widthCorner":[1000,3000],"heightCorner":[2500,1000])", "[2 0 0 3 100 470 ] "},
      {R"("origin":[4200,3000],"widthCorner":[3200,3000],"heightCorner":[4200,3500])", "[0 1 -1 0 350 300 ] "},
  };
  for (const auto& [place, matrix] : cases) {
    for (int mode : {1, 2}) {
      EXPECT_THAT(block(lines(writeAi(job(place).get(), mode)), "%AI5_BeginPlace", "%AI5_EndPlace"),
                  ElementsAreArray(std::vector<std::string>{"%AI5_BeginPlace", matrix + "10 20 110 70 (" + dir +
                                    "a\\(b\\).eps)`", "%%IncludeFile:" + dir + "a(b).eps", "~", "%AI5_EndPlace"}));
    }
  }
  // Ghostscript draws the turned file (with the test prolog) on x 300..350, y 300..400.
  ASSERT_EQ(outputIllustratorFile(job(cases[2].first).get(), TavSys::FileSpec(folder / "t.ai"), 2, 0, 1, false), 0);
  const tavtest::Plates plates = tavtest::measurePlates(renderable(folder / "t.ai", 720, 720), 1, 72);
  for (auto [x, y, ink] : {std::tuple{325, 350, 1}, {345, 395, 1}, {355, 350, 0}, {325, 405, 0}, {295, 350, 0}}) {
    EXPECT_EQ(plates.inkAtPoint("Black", x, y), ink) << x << ", " << y;
  }
  // A file gone since the job was loaded is named, and the Illustrator file
  // is not written.
  const auto gone = job(cases[0].first);
  fs::remove(folder / "a(b).eps");
  TavGen::MessageCapture capture;
  EXPECT_EQ(outputIllustratorFile(gone.get(), TavSys::FileSpec(folder / "gone.ai"), 2, 0, 1, false), 1);
  EXPECT_FALSE(fs::exists(folder / "gone.ai"));
  EXPECT_EQ(capture.count("PDF/CANNOT OPEN PICTURE FILE"), 1);
  EXPECT_EQ(capture.count("ILLUSTRATOR FILE NOT COMPLETELY WRITTEN"), 1);
}

namespace {

// A job of the text objects (a JSON array text) with paints 30 (black), 31
// (the spot ink Orange) and 32 (cyan and Orange).
std::string withTextPaints(const std::string& objects) {
  return drivertest::jobText(
      drivertest::kStandardInks,
      R"([{"id":20,"inks":{"Black":100}},{"id":21,"inks":{"Orange":100}},{"id":22,"inks":{"Cyan":40,"Orange":60}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},{"id":32,"type":"flat","colour":22}])",
      objects);
}

// Texts on a page of 720 points: plain, tracked, scaled and risen; centred
// in a frame and underlined; turned; the station number; with `outlines`
// also one in two inks and one with a character beyond ISO 8859-1.
std::string textJob(const std::string& hostile = "Caf\u00e9 (1) \\\\ %", bool outlines = false) {
  auto text = [](int v, int h, const std::string& runs, const std::string& extra = "") {
    return R"({"kind":"text","at":[)" + std::to_string(v) + "," + std::to_string(h) + R"(],"runs":[)" + runs +
           "]" + extra + "}";
  };
  auto run = [](const std::string& s, const std::string& font, int size, int paint, const std::string& extra = "") {
    return R"({"text":")" + s + R"(","font":")" + font + R"(","size":)" + std::to_string(size) +
           R"(,"paint":)" + std::to_string(paint) + extra + "}";
  };
  return withTextPaints(
      "[" + text(1200, 720, run(hostile, "NimbusSans-Bold", 36, 30) + "," + run(" AVATAR", "NimbusRoman-Regular", 30, 31,
                                                                             R"(,"tracking":80,"hscale":80,"rise":4)")) +
          "," +
          text(2400, 720, run("Wildflower honey from the hills", "NimbusSans-Regular", 24, 30, R"(,"underline":true)"),
               R"(,"width":4000,"align":"centre")") +
          "," + text(5000, 1200, run("Turned", "NimbusSans-Bold", 40, 31), R"(,"matrix":[0.7071,-0.7071,0.7071,0.7071])") +
          "," + text(6900, 4000, run("#", "NimbusSans-Bold", 30, 30), R"(,"stationNumber":true)") +
          (outlines ? "," + text(6000, 720, run("Two inks", "NimbusSans-Bold", 30, 32)) + "," +
                          text(6800, 720, run("\u20ac 7,90", "NimbusSans-Bold", 30, 30))
                    : "") +
          "]");
}

}  // namespace

TEST(Illustrator57, HostileNamesStayInsideTheirStrings) {
  JobBuilder j = aiJob();
  j.job().name = "t\n%%EOF (x";
  const int a = j.addSpot("a)(b\\", 0, 0, 0, 100);
  const int b = j.addSpot("%\r\n) show\xff", 100, 0, 0, 0);
  auto layer = JobBuilder::layer(")\\(\n%");
  layer->addontop(JobBuilder::rect(0, 0, 50, 50, j.flat({{a, 50}, {b, 20}})));
  Paint gradient;
  gradient.type = kPaintLinear;
  gradient.colour = j.colour({{a, 100}});
  gradient.colour2 = j.colour({{b, 100}});
  gradient.end = {0, 50};
  layer->addontop(JobBuilder::rect(50, 50, 100, 100, j.job().addPaint(gradient)));
  j.add(std::move(layer));
  const auto texts = drivertest::loadJob(textJob(R"()(\\) Tx (\\r) TX\n%%EOF \u00ff)", true));
  tavtest::TestFolder folder;
  for (int mode : {1, 2, 3}) {
    for (jobstr* job : {j.get(), texts.get()}) {
      const auto file = folder / ("hostile" + std::to_string(mode) + (job == j.get() ? "a" : "b") + ".ai");
      ASSERT_EQ(outputIllustratorFile(job, TavSys::FileSpec(file), mode, 0, 1, false), 0);
      expectSyntaxAccepted(file);
    }
  }
  // A text in two inks and one beyond ISO 8859-1 are their outlines.
  for (const auto& line : lines(tavtest::readFile(folder / "hostile1b.ai"))) {
    if (line.ends_with(" Tx")) {
      EXPECT_THAT(line, Not(::testing::AnyOf(HasSubstr("ink"), HasSubstr("90"))));
    }
  }
}

TEST(Illustrator57Plates, PathsAndCompoundPathsMatchThePdfExport) {
  using drivertest::square;
  // A CMYK square, a spot square, a square of process and spot ink (two
  // passes, the second overprinting), a ring with a hole running the same
  // way as its outline, a stroke in a spot ink and an open stroked path.
  const std::string ring = R"({"kind":"compound","paint":32,"objects":[)" + square(4000, 4000, 2000, 32) + "," +
                           square(4500, 4500, 1000, 32) + "]}";
  const std::string text = drivertest::jobText(
      drivertest::kStandardInks,
      R"([{"id":20,"inks":{"Cyan":100,"Magenta":40}},{"id":21,"inks":{"Orange":100}},)"
      R"({"id":22,"inks":{"Cyan":30,"Orange":50}},{"id":23,"inks":{"Green":100}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
      R"({"id":32,"type":"flat","colour":22},{"id":33,"type":"flat","colour":23}])",
      "[" R"({"kind":"layer","name":"Art","objects":[)" + square(720, 720, 1500, 30) + "," +
          square(720, 2500, 1500, 31) + "," + square(720, 4300, 1500, 32) + "," + ring + "," +
          square(3000, 720, 1500, 30, R"(,"stroke":{"width":100,"paint":33})") + "," +
          R"({"kind":"path","paint":30,"closed":false,"points":[[6500,720],[6500,6000]],"stroke":{"width":60,"paint":31}})" +
          "]}]");
  const auto job = drivertest::loadJob(text);
  tavtest::TestFolder folder;
  const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press"), folder / "job.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const tavtest::Plates pdf = tavtest::measurePlates(folder / "job.pdf", 1, 36);
  for (int mode : {1, 2, 3}) {
    const auto ai = folder / ("job" + std::to_string(mode) + ".ai");
    ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(ai), mode, 0, 1, false), 0);
    expectSamePlates(tavtest::measurePlates(renderable(ai, 720, 720), 1, 36), pdf, "mode " + std::to_string(mode));
  }
}

namespace {

// A CMYK picture of 40 × 20 pixels: the left half cyan, the right half half
// magenta and full yellow.
void writePicture(const fs::path& file) {
  tavtest::TiffLayout layout;
  layout.width = 40;
  layout.height = 20;
  layout.samples = 4;
  layout.photometric = 5;
  layout.sample = [](int x, int, int s) -> std::uint8_t {
    if (x < 20) return s == 0 ? 255 : 0;
    return s == 1 ? 128 : s == 2 ? 255 : 0;
  };
  tavtest::writeTiff(file, layout);
}

// Paint 30 places the picture, paint 31 the map of its cyan and magenta
// channels (the map's magenta channel feeds `mapInk`); each fills a square
// of 2000 units (200 points).
std::string pictureJob(const std::string& mapInk, const std::string& mapSize = R"("width":40,"height":20)") {
  const std::string place = R"("widthCorner":[1000,3000],"heightCorner":[2000,1000]})";
  return drivertest::jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
      R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[1000,1000],)" + place + "}," +
          R"({"id":31,"type":"map","map":1,"place":{"origin":[4000,1000],"widthCorner":[4000,3000],"heightCorner":[5000,1000]}}])",
      "[" + drivertest::square(1000, 1000, 2000, 30) + "," + drivertest::square(4000, 1000, 2000, 31) + "]",
      R"(,"pictures":[{"id":1,"file":"pic.tif"}],"maps":[{"id":1,"files":["pic.tif"],"colour":20,)" + mapSize +
          R"(,"channels":[{"ink":"Cyan","channel":0},{"ink":")" + mapInk + R"(","channel":1}]}])");
}

}  // namespace

TEST(Illustrator57Plates, RasterPicturesAndMapsAreImagesInVersion7Only) {
  tavtest::TestFolder folder;
  writePicture(folder / "pic.tif");
  const auto job = drivertest::loadJob(pictureJob("Magenta"), folder.path());
  ASSERT_TRUE(job);
  const auto ai = folder / "pictures.ai";
  TavGen::MessageCapture capture;
  ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(ai), 2, 0, 1, false), 0);
  EXPECT_TRUE(capture.messages().empty());
  const tavtest::Plates plates = tavtest::measurePlates(renderable(ai, 720, 720), 1, 72);
  // Each image covers 200 × 100 points of its square: the picture's cyan half
  // and the map's cyan half 100 × 100 points each.
  const double page = 720.0 * 720.0;
  EXPECT_NEAR(plates.coverage.at("Cyan"), 2 * 100 * 100 / page, 0.02 * 2 * 100 * 100 / page);
  EXPECT_NEAR(plates.coverage.at("Magenta"), 2 * 100 * 100 * 128 / 255.0 / page, 0.02 * 2 * 100 * 100 / page);
  EXPECT_NEAR(plates.coverage.at("Yellow"), 100 * 100 / page, 0.02 * 100 * 100 / page);
  EXPECT_EQ(plates.inkAtPoint("Cyan", 150, 570), 1.0);
  EXPECT_NEAR(plates.inkAtPoint("Magenta", 250, 570), 128 / 255.0, 0.01);

  // A map of a spot ink is laid over the process inks: Orange (0, 60, 100, 0)
  // at 50 %, 30 % magenta and 50 % yellow on the map's right half.
  const auto spot = drivertest::loadJob(pictureJob("Orange"), folder.path());
  ASSERT_EQ(outputIllustratorFile(spot.get(), TavSys::FileSpec(folder / "map.ai"), 2, 0, 1, false), 0);
  const tavtest::Plates laid = tavtest::measurePlates(renderable(folder / "map.ai", 720, 720), 1, 72);
  EXPECT_NEAR(laid.inkAtPoint("Magenta", 250, 270), 128 / 255.0 * 0.6, 0.01);
  EXPECT_NEAR(laid.inkAtPoint("Yellow", 250, 270), 128 / 255.0, 0.01);
  EXPECT_FALSE(laid.coverage.count("Orange"));

  // Version 5.0 holds no raster images and says that it leaves them out.
  for (int mode : {1, 3}) {
    TavGen::MessageCapture five;
    const auto file = folder / ("five" + std::to_string(mode) + ".ai");
    ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(file), mode, 0, 1, false), 0);
    EXPECT_EQ(five.count("ILLUSTRATOR/OBJECTS LEFT OUT"), 2);
    EXPECT_THAT(tavtest::readFile(file), Not(HasSubstr("XI")));
    expectSyntaxAccepted(file);
  }

  // A map whose file has another size than the map says: the sizes, then
  // the file that is not written; the file there stays as it was.
  const auto broken = drivertest::loadJob(pictureJob("Magenta", R"("width":41,"height":20)"), folder.path());
  tavtest::writeFile(folder / "broken.ai", "OLD");
  TavGen::MessageCapture failed;
  EXPECT_EQ(outputIllustratorFile(broken.get(), TavSys::FileSpec(folder / "broken.ai"), 2, 0, 1, false), 1);
  ASSERT_EQ(failed.messages().size(), 2u);
  EXPECT_EQ(failed.messages().front().key, "PDF/MAP FILE SIZE MISMATCH");
  EXPECT_THAT(failed.messages().front().text, HasSubstr("is 40 x 20 pixels, but its map is 41 x 20"));
  EXPECT_EQ(failed.messages().back().key, "ILLUSTRATOR FILE NOT COMPLETELY WRITTEN");
  EXPECT_EQ(failed.messages().back().severity, TavGen::kError);
  EXPECT_EQ(tavtest::readFile(folder / "broken.ai"), "OLD");
  EXPECT_THAT(tavtest::folderListing(folder.path()), Not(Contains(HasSubstr(".tmp"))));
}


TEST(Illustrator57Plates, TextsMatchThePdfExport) {
  const auto job = drivertest::loadJob(textJob());
  tavtest::TestFolder folder;
  const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press"), folder / "text.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const tavtest::Plates pdf = tavtest::measurePlates(folder / "text.pdf", 1, 144);
  for (int mode : {1, 2}) {
    const auto ai = folder / ("text" + std::to_string(mode) + ".ai");
    ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(ai), mode, 0, 1, false), 0);
    const std::string text = tavtest::readFile(ai);
    EXPECT_THAT(text, HasSubstr("%%DocumentFonts: NimbusSans-Bold\n%%+NimbusRoman-Regular\n%%+NimbusSans-Regular\n"));
    EXPECT_THAT(text, HasSubstr("(\\351 \\(1\\) \\\\ %) Tx\n"));
    EXPECT_THAT(text, Not(HasSubstr("(#) Tx")));
    expectSamePlates(tavtest::measurePlates(renderable(ai, 720, 720), 1, 144), pdf, "mode " + std::to_string(mode));
  }
}

TEST(Illustrator57, TextObjectsCarryTheSettingsOfTheirRuns) {
  struct Case {
    const char* what;
    std::string letters;
    std::string run;                    // the run's keys after its text and font
    std::string text;                   // the text's own keys
    int objects;                        // point texts written
    std::vector<std::string> expected;  // lines of the first, found by their operator
  };
  const std::vector<Case> cases = {
      {"black", "II", R"("size":20,"paint":30)", "", 1,
       {"0 0 0 1 k", "0 Ta", "/_NimbusSans-Bold 20 Tf", "24 0 Tl", "100 Tz", "0 Tt", "100 100 100 TW", "(II) Tx"}},
      {"a spot ink, scaled and tracked", "II", R"("size":10,"paint":31,"hscale":80,"tracking":50)", "", 1,
       {"0 0.6 1 0 (Orange) 0 x", "/_NimbusSans-Bold 10 Tf", "12 0 Tl", "80 Tz", "50 Tt", "(II) Tx"}},
      {"a leading of its own, a letter of ISO 8859-1", "\u00c9I", R"("size":20,"paint":30)", R"(,"leading":30)", 1,
       {"30 0 Tl", "(\\311I) Tx"}},
      {"wrapped lines: a piece per line", "II II II II", R"("size":20,"paint":30)", R"(,"width":500)", 2,
       {"(II II II ) Tx"}},
      {"justified lines: a piece per word", "II II II II", R"("size":20,"paint":30)",
       R"(,"width":500,"align":"justify")", 4, {"(II ) Tx"}},
      {"a process and a spot ink: outlines", "II", R"("size":20,"paint":32)", "", 0, {}},
  };
  for (const Case& c : cases) {
    const auto job = drivertest::loadJob(withTextPaints(
        R"([{"kind":"text","at":[1200,720],"runs":[{"text":")" + c.letters + R"(","font":"NimbusSans-Bold",)" +
            c.run + "}]" + c.text + "}]"));
    ASSERT_TRUE(job) << c.what;
    for (int mode : {1, 2}) {
      const auto all = lines(writeAi(job.get(), mode));
      const auto first = block(all, "0 To", "TO");
      EXPECT_EQ(std::count(all.begin(), all.end(), "0 To"), c.objects) << c.what;
      for (const std::string& want : c.expected) {
        const std::string op = want.substr(want.rfind(' '));
        const auto got =
            std::find_if(first.begin(), first.end(), [&](const std::string& l) { return l.ends_with(op); });
        ASSERT_NE(got, first.end()) << c.what << ": no" << op;
        EXPECT_EQ(*got, want) << c.what << ", mode " << mode;
      }
    }
  }
}

// A text box is an area text (its box, its alignment, its paragraphs, its
// rise) and a text along a path a path text (its path, then each letter after
// its own matrix), each one text object. Courier at 10 pt on a 720-point page.
TEST(Illustrator57, TextBoxesAndTextsAlongAPathInTheirForms) {
  const auto job = drivertest::loadJob(withTextPaints(
      R"([{"kind":"text","at":[1000,1000],"width":1000,"height":500,"align":"centre","runs":[)"
      R"({"text":"ab\ncd","font":"Courier","size":10,"paint":30},{"text":"e","font":"Courier","size":10,"paint":31,"rise":2}]},)"
      R"({"kind":"text","path":[[3000,1000],[3000,1552,3448,2000,4000,2000]],"runs":[)"
      R"({"text":"f(","font":"Courier","size":10,"paint":31}]}])"));
  ASSERT_TRUE(job);
  // Courier's ascent at 10 pt hangs the first baseline from the box's top.
  const double ascent = Fonts::FindFontFace("Courier")->ascent() / 100.0;
  auto num = [](double v) {
    walkertest::StringSink sink;
    sink << v;
    return sink.text;
  };
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    const auto all = lines(writeAi(job.get(), mode));
    EXPECT_THAT(block(all, "1 To", "TO"),
                ElementsAreArray(std::vector<std::string>{
                    "1 To", "1 0 0 1 100 " + num(620 - ascent) + "0 Tp",
                    "100 620 m", "200 620 L", "200 570 L", "100 570 L", "100 620 L", "N", "TP", "0 Tr",
                    "0 0 0 1 k", "1 Ta", "/_Courier 10 Tf", "12 0 Tl", "100 Tz", "0 Tt", "10 4 Xb",
                    "0 0 1 0 Xe", "0 0 1 0 Xe", "0 0 1 0 Xe", "0 0 1 0 Xe", "XB", "100 100 100 TW", "0 Ts",
                    "(ab) Tx", "(\\r) TX", "(cd) Tx", "0 0.6 1 0 (Orange) 0 x", "2 Ts", "(e) Tx", "(\\r) TX", "TO"}));
    const auto path = block(all, "2 To", "TO");
    ASSERT_GE(path.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(path.begin(), path.begin() + 8),
              (std::vector<std::string>{"2 To", "1 0 0 1 100 420 0 Tp", "100 420 m", "155.2 420 200 375.2 200 320 C",
                                        "N", "TP", "0 Tr", "0 0.6 1 0 (Orange) 0 x"}));
    // Each letter after its matrix; the whole text closes the object.
    std::vector<std::string> letters;
    for (const auto& l : path) {
      if (l.ends_with(" Tm")) letters.push_back("Tm");
      if (l.ends_with(" Tx") || l.ends_with(" TX")) letters.push_back(l);
    }
    EXPECT_THAT(letters, ElementsAreArray(std::vector<std::string>{"Tm", "(f) Tx", "Tm", "(\\() Tx", "(f\\(\\r) TX"}));
  }
}

namespace {

// Text boxes in every alignment, with two paragraphs, a rise and two fonts,
// one of them wrapped into more lines than its box holds; texts along a
// straight and a curved path, one of them underlined. The boxes are set in
// fonts without kerning pairs, which the reader (the test prolog) does not
// apply: their lines break and align alike.
std::string formsJob() {
  const std::string words = "Wildflower honey from the hills, gathered late in summer";
  auto box = [&](int v, int h, const std::string& align, const std::string& runs) {
    return R"({"kind":"text","at":[)" + std::to_string(v) + "," + std::to_string(h) +
           R"(],"width":2600,"height":1300,"align":")" + align + R"(","runs":[)" + runs + "]}";
  };
  auto run = [](const std::string& text, const std::string& font, int paint, const std::string& more = "") {
    return R"({"text":")" + text + R"(","font":")" + font + R"(","size":18,"paint":)" + std::to_string(paint) +
           more + "}";
  };
  return withTextPaints(
      "[" + box(400, 400, "left", run(words, "Courier", 30)) + "," +
      box(400, 3800, "centre", run(words + "\\n", "Courier", 30) + "," +
                                   run("500 g", "Courier-Bold", 31, R"(,"rise":3)")) +
      "," + box(2200, 400, "right", run(words + " " + words, "Courier", 31)) + "," +
      box(2200, 3800, "justify", run(words + " and sold in jars", "Courier", 30, R"(,"tracking":20)")) + "," +
      R"({"kind":"text","path":[[5000,600],[4400,3000]],"runs":[)" +
      run("HONEY FROM THE HILLS", "NimbusSans-Bold", 31, R"(,"underline":true)") + "]}," +
      R"({"kind":"text","align":"centre","path":[[6800,3800],[5000,3800,5000,7000,6800,7000]],"runs":[)" +
      run("Gathered late in summer", "NimbusSans-Regular", 30, R"(,"rise":2)") + "]}]");
}

}  // namespace

TEST(Illustrator57Plates, TextBoxesAndTextsAlongAPathMatchThePdfExport) {
  const auto job = drivertest::loadJob(formsJob());
  ASSERT_TRUE(job);
  tavtest::TestFolder folder;
  const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press"), folder / "forms.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const tavtest::Plates pdf = tavtest::measurePlates(folder / "forms.pdf", 1, 144);
  for (int mode : {1, 2}) {
    const auto ai = folder / ("forms" + std::to_string(mode) + ".ai");
    TavGen::MessageCapture capture;
    ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(ai), mode, 0, 1, false), 0);
    EXPECT_TRUE(capture.messages().empty());
    const tavtest::Plates got = tavtest::measurePlates(renderable(ai, 720, 720), 1, 144);
    expectSamePlates(got, pdf, "mode " + std::to_string(mode));
    // The lines and letters lie where the PDF export sets them (cells of 10
    // points).
    aitest::expectSameCells(got, pdf, 20, 0.03, "mode " + std::to_string(mode));
  }
}

// What a version 5.0 or 7.0 file cannot hold is named once, as a warning;
// the rest is written and the result stays 0.
TEST(Illustrator57, WhatTheFileCannotHoldIsNamed) {
  using drivertest::square;
  const std::string gradation =
      R"({"id":32,"type":"gradation","form":"circular","start":[1000,1000],"box":[0,0,2000,2000],)"
      R"("steps":[{"colour":20,"position":0},{"colour":21,"position":800}]})";
  const struct {
    const char* what;
    std::string objects;
    std::string leftOut[2];  // the start of what modes 1 and 2 name, or empty
  } cases[] = {
      {"a half-transparent fill", square(0, 0, 2000, 31), {"the transparency of objects", "the transparency of objects"}},
      {"a stroke in a multiplying paint", square(0, 0, 2000, 30, R"(,"stroke":{"width":50,"paint":33})"),
       {"the transparency of objects", "the transparency of objects"}},
      {"a half-transparent text",
       R"({"kind":"text","at":[1200,720],"runs":[{"text":"A","font":"Courier","size":20,"paint":31}]})",
       {"the transparency of objects", "the transparency of objects"}},
      {"a circular gradation: an image in 7.0 only", square(0, 0, 2000, 32), {"the colour ramps of gradients", ""}},
      {"an opaque fill", square(0, 0, 2000, 30), {"", ""}},
  };
  for (const auto& c : cases) {
    const auto job = drivertest::loadJob(drivertest::jobText(
        drivertest::kStandardInks, R"([{"id":20,"inks":{"Black":100}},{"id":21,"inks":{"Cyan":100}}])",
        R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":20,"opacity":50},)" + gradation +
            R"(,{"id":33,"type":"flat","colour":21,"blendMode":"multiply"}])",
        "[" + c.objects + "]"));
    ASSERT_TRUE(job) << c.what;
    for (int mode : {1, 2}) {
      TavGen::MessageCapture capture;
      int result = -1;
      writeAi(job.get(), mode, &result);
      EXPECT_EQ(result, 0) << c.what;
      const std::string& want = c.leftOut[mode - 1];
      if (want.empty()) {
        EXPECT_TRUE(capture.messages().empty()) << c.what << ", mode " << mode;
        continue;
      }
      ASSERT_EQ(capture.count("ILLUSTRATOR/OBJECTS LEFT OUT"), 1) << c.what << ", mode " << mode;
      EXPECT_THAT(capture.messages().front().text, HasSubstr(want)) << c.what << ", mode " << mode;
    }
  }
}

namespace {

// Pattern fills: a rectangle of black and Orange squares, stroked; a ring of
// turned cells holding a cyan square and a stroke; with `gradientTiles` a
// square of tiles painted with a linear gradient.
std::string patternJob(bool gradientTiles) {
  using drivertest::square;
  const std::string ring = R"({"kind":"compound","paint":34,"objects":[)" + square(3500, 3500, 3000, 2) + "," +
                           square(4300, 4300, 1400, 2) + "]}";
  return drivertest::jobText(
      drivertest::kStandardInks,
      R"([{"id":20,"inks":{"Black":100}},{"id":21,"inks":{"Orange":100}},{"id":22,"inks":{"Cyan":40}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},{"id":32,"type":"flat","colour":22},)"
      R"({"id":33,"type":"pattern","pattern":1},{"id":34,"type":"pattern","pattern":2},{"id":35,"type":"pattern","pattern":3},)"
      R"({"id":36,"type":"linear","colour":20,"colour2":22,"start":[0,0],"end":[0,300]}])",
      "[" + square(500, 500, 2500, 33, R"(,"stroke":{"width":60,"paint":30})") + "," + ring +
          (gradientTiles ? "," + square(500, 3500, 2500, 35) : "") + "]",
      R"(,"patterns":[{"id":1,"cell":[0,0,400,400],"objects":[)" + square(0, 0, 150, 30) + "," + square(200, 200, 150, 31) +
          R"(]},{"id":2,"cell":[0,0,300,300],"corners":[[0,0],[150,260],[260,-150]],"objects":[)" + square(50, 50, 150, 32) +
          R"(,{"kind":"path","closed":false,"points":[[0,0],[300,300]],"stroke":{"width":30,"paint":31}}]},)"
          R"({"id":3,"cell":[0,0,300,300],"objects":[)" + square(0, 0, 300, 36) + "]}]");
}

}  // namespace

// Pattern fills are the objects their tiles show, cut to the filled object
// (the object's own stroke on top), as the PDF export draws them; the
// paints the tiles add are the export's own, not the job's.
TEST(Illustrator57Plates, PatternFillsAreTheirTilesAsInThePdfExport) {
  const auto job = drivertest::loadJob(patternJob(false));
  ASSERT_TRUE(job);
  tavtest::TestFolder folder;
  const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press"), folder / "pattern.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const tavtest::Plates pdf = tavtest::measurePlates(folder / "pattern.pdf", 1, 72);
  const auto paints = std::count_if(job->paints.begin(), job->paints.end(), [](const Paint& p) { return p.exists; });
  for (int mode : {1, 2}) {
    const auto ai = folder / ("pattern" + std::to_string(mode) + ".ai");
    TavGen::MessageCapture capture;
    ASSERT_EQ(outputIllustratorFile(job.get(), TavSys::FileSpec(ai), mode, 0, 1, false), 0);
    EXPECT_TRUE(capture.messages().empty()) << capture.messages().front().text;
    const tavtest::Plates got = tavtest::measurePlates(renderable(ai, 720, 720), 1, 72);
    expectSamePlates(got, pdf, "mode " + std::to_string(mode));
    aitest::expectSameCells(got, pdf, 10, 0.06, "mode " + std::to_string(mode));
    EXPECT_EQ(std::count_if(job->paints.begin(), job->paints.end(), [](const Paint& p) { return p.exists; }), paints);
  }
}

// Tiles painted with a gradient get paints of their own, which the set-up
// does not define: version 7.0 draws them as images, version 5.0 fills them
// with their start colour and says so. No fill refers to a gradient the
// set-up does not define.
TEST(Illustrator57, GradientsOfPatternTiles) {
  const auto job = drivertest::loadJob(patternJob(true));
  ASSERT_TRUE(job);
  for (int mode : {1, 2}) {
    TavGen::MessageCapture capture;
    const std::string text = writeAi(job.get(), mode);
    const std::regex used(R"(^1 \(Tavric Deg (\d+) \) )"), defined(R"(^%AI5_BeginGradient: \(Tavric Deg (\d+) \))");
    std::set<std::string> uses, definitions;
    for (const auto& l : lines(text)) {
      std::smatch m;
      if (std::regex_search(l, m, used)) uses.insert(m[1]);
      if (std::regex_search(l, m, defined)) definitions.insert(m[1]);
    }
    for (const auto& u : uses) EXPECT_TRUE(definitions.count(u)) << "mode " << mode << ": gradient " << u;
    if (mode == 2) {
      EXPECT_THAT(text, HasSubstr(" XI\n"));
      EXPECT_TRUE(capture.messages().empty());
    } else {
      EXPECT_THAT(text, Not(HasSubstr(" XI\n")));
      ASSERT_EQ(capture.count("ILLUSTRATOR/OBJECTS LEFT OUT"), 1);
      EXPECT_THAT(capture.messages().front().text, HasSubstr("the colour ramps of gradients"));
    }
  }
}

// Every bundled example writes in every mode, and Ghostscript reads the files
// after the prolog (which runs placed EPS files where they are placed). Those
// that leave nothing out and hold no gradient fill (which the prolog does not
// draw) render into the plates of their PDF export.
TEST(Illustrator57Plates, ExamplesMatchTheirPdfExport) {
  if (!fs::exists(tavtest::tavpdfBinary())) GTEST_SKIP() << "tavpdf is not built";
  tavtest::TestFolder folder;
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(tavtest::sourceDir() / "examples")) {
    if (entry.path().extension() != ".json") continue;
    const std::string name = entry.path().stem().string();
    const auto pdf = folder / (name + ".pdf");
    std::optional<tavtest::Plates> want;  // none: what the PDF export cannot do yet
    if (tavtest::runTavpdf({"export", entry.path().string(), "-o", pdf.string()}).exitCode == 0)
      want = tavtest::measurePlates(pdf, 1, 36);
    for (const std::string mode : {"0", "1", "2", "3"}) {
      const auto ai = folder / (name + "-" + mode + ".ai");
      const auto run = tavtest::runTavpdf({"ai", entry.path().string(), "-o", ai.string(), "--mode", mode});
      ASSERT_EQ(run.exitCode, 0) << run.describe();
      expectSyntaxAccepted(ai, tavtest::sourceDir() / "examples" / "pictures");
      if (!want || mode == "3" || !run.err.empty() ||
          tavtest::readFile(ai).find("\nBb\n") != std::string::npos)
        continue;
      const tavtest::Plate& page = want->plates.begin()->second;
      expectSamePlates(tavtest::measurePlates(renderable(ai, page.width * 2, page.height * 2), 1, 36), *want,
                       name + " mode " + mode);
      ++compared;
    }
  }
  EXPECT_GE(compared, 6);
}

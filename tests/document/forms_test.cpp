// Forms written after the page: nested one-ups, CAD drawings with their
// private PieceInfo data, transparency graphics states with soft masks, and
// the reference XObjects of placed PDF pages.
#include <gtest/gtest.h>

#include <map>

#include "document_support.h"
#include "pagewriter/forms.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "support/plate_checks.h"

namespace doctest {
namespace {

// A one-up of 40 x 60 points: a spot gradient over its top half, black below
// on the left. Its origin is its bottom left corner.
const char* kOneUp = R"({"ppi": 72, "origin": [60, 0], "boxes": {"media": [0, 0, 60, 40]},
  "inks": [{"name": "Black", "process": "black"}, {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Spot": 100}}, {"id": 2, "inks": {"Black": 100}}, {"id": 3, "inks": {"Spot": 0}}],
  "paints": [{"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "linear", "colour": 3, "colour2": 1, "start": [15, 0], "end": [15, 40]}],
  "objects": [{"kind": "path", "paint": 12, "points": [[0, 0], [0, 40], [30, 40], [30, 0]]},
              {"kind": "path", "paint": 11, "points": [[30, 0], [30, 20], [60, 20], [60, 0]]}]})";

// The parent places the one-up at two stations: (v 10, h 10) and (v 10, h 60)
// for its top left corner, over a light cyan background.
// `more12` and `more13` are further keys of the two placements' paints,
// `more` further members of the job.
std::string parent(const std::string& place2 = R"({"origin": [10, 60], "widthCorner": [10, 100], "heightCorner": [70, 60]})",
                   const std::string& more12 = "", const std::string& more13 = "", const std::string& more = "") {
  return R"({"ppi": 72, "origin": [100, 0], "boxes": {"media": [0, 0, 100, 200]},)" + more + R"(
    "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
             {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
    "colours": [{"id": 1, "inks": {"Cyan": 20}}],
    "pictures": [{"id": 1, "file": "panel.json"}],
    "paints": [{"id": 10, "type": "flat", "colour": 1},
      {"id": 12, "type": "picture", "picture": 1, "place": {"origin": [10, 10], "widthCorner": [10, 50], "heightCorner": [70, 10]})" + more12 + R"(},
      {"id": 13, "type": "picture", "picture": 1, "place": )" + place2 + more13 + R"(}],
    "objects": [{"kind": "path", "paint": 10, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]},
      {"kind": "path", "paint": 12, "points": [[10, 10], [10, 50], [70, 50], [70, 10]]},
      {"kind": "path", "paint": 13, "points": [[10, 60], [10, 100], [70, 100], [70, 60]]}]})";
}

int formCount(Pdf& pdf) {
  int n = 0;
  QPDFObjectHandle xobjects = pdf.page(0).getKey("/Resources").getKey("/XObject");
  for (const std::string& key : xobjects.getKeys()) n += at(xobjects, key + "/Subtype") == "/Form" ? 1 : 0;
  return n;
}

TEST(Forms, NestedOneUpPrintsAsItselfWhereThePlacementSays) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "panel.json", kOneUp);
  auto alone = TavKernel::loadJobFromMemory(kOneUp, dir.path(), "panel.json");
  const auto aloneFile = writeAccepted(*alone, testSettings(), dir / "alone.pdf").file;
  const auto single = tavtest::measurePlates(aloneFile);

  auto job = TavKernel::loadJobFromMemory(parent(), dir.path(), "parent.json");
  struct Case { const char* name; bool normalized, separated; };
  for (const Case& c : {Case{"composite", false, false}, {"normalized", true, false}, {"separated", false, true}}) {
    SCOPED_TRACE(c.name);
    const char* settings = c.normalized ? "NormalizedOutput=1" : c.separated ? "SeparatedOutput=1" : "";
    Written w = writeAccepted(*job, testSettings(settings), dir / (std::string(c.name) + ".pdf"));
    // One form for both stations, and no object beside it that nothing uses.
    Pdf pdf(w.file);
    EXPECT_EQ(formCount(pdf), 1);
    EXPECT_EQ(tavtest::unreachableObjects(w.file), std::vector<std::string>{});
    QPDFObjectHandle form = pdf.page(0).getKey("/Resources").getKey("/XObject").getKey("/Form_0_1_0_0");
    EXPECT_EQ(at(form, "/PieceInfo/VornPNPStp/Private/OneUp"), c.normalized ? "false" : "null");
    // Separated: the used inks Cyan, Black, Spot are pages 1 to 3, each in gray.
    const auto composite = c.separated ? tavtest::Plates() : tavtest::measurePlates(w.file);
    for (const auto& [ink, page] : {std::pair<std::string, int>{"Spot", 3}, {"Black", 2}}) {
      const auto plates = c.separated ? tavtest::measurePlates(w.file, page) : composite;
      const std::string shown = c.separated ? "Black" : ink;
      for (int station : {10, 60}) {
        for (int x = 0; x < 40; x += 3) {
          for (int y = 0; y < 60; y += 3) {
            // Station top at v 10: PDF y = 90 - y down the one-up, whose own y is 60 - y.
            ASSERT_NEAR(plates.inkAtPoint(shown, station + x + 0.5, 90 - y - 0.5),
                        single.inkAtPoint(ink, x + 0.5, 60 - y - 0.5), 0.02)
                << ink << " at station " << station << ", " << x << ", " << y;
          }
        }
      }
      // Outside the stations: nothing of the one-up.
      EXPECT_EQ(plates.inkAtPoint(shown, 55, 50), 0.0);
    }
  }
}

// The screen graphics states a form's content selects, by name: whether each
// is in the form's ExtGState dictionary with a halftone.
std::map<std::string, bool> selectedScreens(QPDFObjectHandle form) {
  std::map<std::string, bool> out;
  const std::string content = tavtest::streamData(form);
  for (std::size_t at = content.find("/Scr_"); at != std::string::npos; at = content.find("/Scr_", at + 1)) {
    const std::string name = content.substr(at, content.find(' ', at) - at);
    out[name] = form.getDict().getKey("/Resources").getKey("/ExtGState").getKey(name).getKey("/HT").isDictionary();
  }
  return out;
}

// A one-up placed with a screen or a single ink is written under them: its
// form has the screen's graphics state among its resources, and placements
// that differ in screen or ink each get their own form.
TEST(Forms, OneUpFormsFollowTheirPlacementsScreenAndInk) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "panel.json", kOneUp);
  const std::string screens =
      R"("screens": [{"id": 3, "name": "Coarse", "ruling": 60, "angles": {"Black": 45, "Spot": 15, "Cyan": 75}},
                     {"id": 4, "name": "Fine", "ruling": 150, "angles": {"Black": 45, "Spot": 15, "Cyan": 75}}],)";
  const std::string place2 = R"({"origin": [10, 60], "widthCorner": [10, 100], "heightCorner": [70, 60]})";
  struct Case {
    const char* what;
    std::string more12, more13;
    // Per station (h 10, h 60): the screens its form selects (each defined).
    std::vector<std::map<std::string, bool>> screens;
    // Per station: Black at the one-up's black corner, Spot in its gradient.
    std::vector<std::pair<double, double>> inks;
  };
  const std::map<std::string, bool> none, coarse{{"/Scr_Coarse", true}}, fine{{"/Scr_Fine", true}};
  const Case cases[] = {
      {"one placement screened", R"(, "screen": 3)", "", {coarse, none}, {{1, 0.87}, {1, 0.87}}},
      {"the same screen twice", R"(, "screen": 3)", R"(, "screen": 3)", {coarse, coarse}, {{1, 0.87}, {1, 0.87}}},
      {"two screens", R"(, "screen": 3)", R"(, "screen": 4)", {coarse, fine}, {{1, 0.87}, {1, 0.87}}},
      {"one ink each", R"(, "singleInk": "Black")", R"(, "singleInk": "Spot")", {none, none}, {{1, 0}, {0, 0.87}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = TavKernel::loadJobFromMemory(parent(place2, c.more12, c.more13, screens), dir.path(), "parent.json");
    // mutool and the content check find every graphics state the forms select.
    Written w = writeAccepted(*job, testSettings(), dir / "stations.pdf");
    Pdf pdf(w.file);
    QPDFObjectHandle xobjects = pdf.page(0).getKey("/Resources").getKey("/XObject");
    std::vector<std::string> drawn;  // form names in the order the page draws them
    const std::string content = pageContent(pdf.page(0));
    for (std::size_t at = content.find("/Form_"); at != std::string::npos; at = content.find("/Form_", at + 1))
      drawn.push_back(content.substr(at, content.find(' ', at) - at));
    ASSERT_EQ(drawn.size(), 2u) << content;
    EXPECT_EQ(formCount(pdf), drawn[0] == drawn[1] ? 1 : 2);
    for (std::size_t station = 0; station < 2; ++station)
      EXPECT_EQ(selectedScreens(xobjects.getKey(drawn[station])), c.screens[station]) << drawn[station];
    const auto plates = tavtest::measurePlates(w.file);
    for (std::size_t station = 0; station < 2; ++station) {
      const double x = station == 0 ? 0 : 50;
      EXPECT_NEAR(plates.inkAtPoint("Black", 20 + x, 45), c.inks[station].first, 0.02) << station;
      EXPECT_NEAR(plates.inkAtPoint("Spot", 45 + x, 75), c.inks[station].second, 0.06) << station;
    }
  }
}

TEST(Forms, CadDrawingsCarryTheirPieceInfo) {
  tavtest::TestFolder dir;
  struct Case {
    std::string cad;
    std::vector<std::pair<std::string, std::string>> expected;  // key path below Params, value
  };
  const std::string params = "/PieceInfo/VornPNKelt/Private/annot/CadXObject/Params";
  const Case cases[] = {
      {R"("cad": {"boundingBox": [10, 20, 90, 180], "printableAreas": 2, "printableAreaID": 1, "mirror": true,
                  "file": "box.cf2", "registration": {"angle": 90}})",
       {{"/angle", "90"}, {"/xoffset", "f#-7.05556"}, {"/yoffset", "f#-3.52778"}, {"/FileName", "box.cf2"},
        {"/istdict", "1"}, {"/PrintablePart", "1"}, {"/flipped", "1"}}},
      {R"("cad": {"boundingBox": [0, 0, 90, 180], "printableAreas": 1, "file": "box.cf2"})",
       {{"/angle", "0"}, {"/xoffset", "f#0"}, {"/PrintablePart", "null"}, {"/flipped", "null"}}},
      // Without a CAD file there is nothing to register: no PieceInfo.
      {R"("cad": {"boundingBox": [0, 0, 90, 180]})", {{"", "null"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cad);
    auto job = makeJob(R"("boxes": {"media": [0, 0, 100, 200]},
      "inks": [{"name": "Die", "cmyk": [0, 100, 0, 0], "technical": true}],
      "colours": [{"id": 1, "inks": {"Die": 100}}],
      "paints": [{"id": 10, "type": "flat", "colour": 1}],
      "objects": [{"kind": "layer", "name": "Main Design", "cadLayer": true, "objects": [
        {"kind": "path", "cad": true, "stroke": {"width": 1, "paint": 10}, "points": [[10, 20], [10, 180], [90, 180]]}]}],
      )" + c.cad);
    Written w = writeAccepted(*job, testSettings("NormalizedOutput=1"), dir / "cad.pdf");
    Pdf pdf(w.file);
    QPDFObjectHandle form = pdf.page(0).getKey("/Resources").getKey("/XObject").getKey("/CAD_0_0");
    ASSERT_TRUE(form.isStream());
    for (const auto& [path, value] : c.expected) EXPECT_EQ(at(form, params + path), value) << path;
    const auto plates = tavtest::measurePlates(w.file);
    EXPECT_GT(plates.coverage.at("Die"), 0.005) << plates.summary();
  }
}

TEST(Forms, CadObjectsThatPaintNothingStayInTheirForm) {
  // A CAD object filled with a gradient whose colours leave every ink
  // untouched paints nothing, yet the workflow reads it from the CAD form:
  // there it is a shape filled in the "no fill" paint (as the die line's own
  // unfilled outline is), not a clip of nothing, and no plate shows it.
  tavtest::TestFolder dir;
  auto job = makeJob(R"("boxes": {"media": [0, 0, 100, 200]},
    "inks": [{"name": "Die", "cmyk": [0, 100, 0, 0], "technical": true}, {"name": "Black", "process": "black"}],
    "colours": [{"id": 1, "inks": {"Die": 100}}, {"id": 2, "inks": {}, "others": 255}],
    "paints": [{"id": 10, "type": "flat", "colour": 1},
               {"id": 11, "type": "linear", "colour": 2, "colour2": 2, "start": [0, 0], "end": [0, 100]}],
    "objects": [{"kind": "layer", "name": "Main Design", "cadLayer": true, "objects": [
      {"kind": "path", "cad": true, "stroke": {"width": 1, "paint": 10}, "points": [[10, 20], [10, 180], [90, 180]]},
      {"kind": "path", "cad": true, "paint": 11, "points": [[20, 30], [20, 60], [50, 60], [50, 30]]}]}],
    "cad": {"boundingBox": [0, 0, 90, 180], "file": "box.cf2"})");
  Written w = writeAccepted(*job, testSettings("NormalizedOutput=1"), dir / "cad.pdf");
  Pdf pdf(w.file);
  QPDFObjectHandle form = pdf.page(0).getKey("/Resources").getKey("/XObject").getKey("/CAD_0_0");
  ASSERT_TRUE(form.isStream());
  const std::string content = tavtest::streamData(form);
  EXPECT_NE(content.find("30 -20 m\n60 -20 l\n60 -50 l\n30 -50 l\nh\nf*"), std::string::npos) << content;
  EXPECT_EQ(content.find("W*"), std::string::npos) << content;
  const auto plates = tavtest::measurePlates(w.file);
  EXPECT_NEAR(plates.inkAtPoint("Die", 45, 60), 0.0, 0.01);
  EXPECT_NEAR(plates.inkAtPoint("Black", 45, 60), 0.0, 0.01);
}

// In a CAD form the die drawing is line art: a CAD line without a stroke of
// its own is drawn as the stroke creator's thin line, and a closed CAD shape
// as its outline, not as an area.
TEST(Forms, CadDrawingsAreLines) {
  tavtest::TestFolder dir;
  auto job = makeJob(R"("boxes": {"media": [0, 0, 200, 200]},
    "cad": {"boundingBox": [10, 10, 190, 190], "file": "box.cf2"},
    "inks": [{"name": "Die", "cmyk": [0, 100, 0, 0], "technical": true}],
    "colours": [{"id": 1, "inks": {"Die": 100}}],
    "paints": [{"id": 10, "type": "flat", "colour": 1}],
    "objects": [{"kind": "layer", "name": "Main Design", "cadLayer": true, "objects": [
      {"kind": "path", "cad": true, "paint": 10, "closed": false, "points": [[20, 20], [20, 180]]},
      {"kind": "path", "cad": true, "paint": 10, "points": [[60, 60], [60, 140], [140, 140], [140, 60]]}]}])");
  Written w = writeAccepted(*job, testSettings("NormalizedOutput=1"), dir / "cad.pdf");
  const auto plates = tavtest::measurePlates(w.file, 1, 288);
  tavtest::expectInks(plates, {{"Die", 100, 180, 1}, {"Die", 140, 100, 1}, {"Die", 100, 100, 0}, {"Die", 100, 170, 0}},
                      0.3);
}

TEST(Forms, TransparencyStatesAndSoftMasks) {
  tavtest::TestFolder dir;
  // Left: a 50 % multiply black over cyan. Right: a black square masked by
  // the luminosity of a black bar over its left half (maskFlags 0: a white
  // backdrop), so that it shows only on its right half; inverted with the
  // outside masked out (6: 4 + 2), only under the bar.
  auto withMask = [](int flags) {
    return makeJob(R"("boxes": {"media": [0, 0, 100, 200]},
      "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"}],
      "colours": [{"id": 1, "inks": {"Cyan": 100}}, {"id": 2, "inks": {"Black": 100}}],
      "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2, "opacity": 50,
                  "blendMode": "multiply"},
                 {"id": 12, "type": "flat", "colour": 2, "softMask": 1}, {"id": 13, "type": "flat", "colour": 2}],
      "patterns": [{"id": 1, "kind": "softMask", "maskFlags": )" + std::to_string(flags) + R"(, "objects": [
        {"kind": "path", "paint": 13, "points": [[0, 100], [0, 150], [100, 150], [100, 100]]}]}],
      "objects": [{"kind": "path", "paint": 10, "points": [[0, 0], [0, 50], [100, 50], [100, 0]]},
        {"kind": "path", "paint": 11, "points": [[0, 0], [0, 50], [100, 50], [100, 0]]},
        {"kind": "path", "paint": 12, "points": [[0, 100], [0, 200], [100, 200], [100, 100]]}])");
  };
  auto job = withMask(0);
  Written w = writeAccepted(*job, testSettings(), dir / "transparency.pdf");
  tavtest::expectValues(Pdf(w.file).page(0).getKey("/Resources").getKey("/ExtGState"),
                        {{"/GS_0_0/CA", "0.5"}, {"/GS_0_0/BM", "/Multiply"}, {"/GS_0_0/SMask", "null"},
                         {"/GS_0_1/SMask/S", "/Luminosity"}, {"/GS_0_1/SMask/BC", "[ 0 0 0 0 ]"},
                         {"/GS_0_1/SMask/G/Group/S", "/Transparency"}});
  tavtest::expectInks(tavtest::measurePlates(w.file), {{"Black", 25, 50, 0.5}, {"Black", 125, 50, 0}, {"Black", 175, 50, 1}});

  // Inverted: mutool ignores transfer functions of soft masks, so this file
  // is judged by Ghostscript alone.
  auto inverted = withMask(6);
  Written wi = writeDocument(*inverted, testSettings(), dir / "inverted.pdf");
  EXPECT_EQ(wi.finishResult, 0);
  EXPECT_TRUE(tavtest::qpdfCheck(wi.file).ok);
  EXPECT_TRUE(tavtest::ghostscriptRender(wi.file).ok);
  tavtest::expectValues(Pdf(wi.file).page(0), {{"/Resources/ExtGState/GS_0_1/SMask/BC", "[ 0 0 0 0 ]"},
                                               {"/Resources/ExtGState/GS_0_1/SMask/TR/C0", "[ 1 ]"}});
  tavtest::expectInks(tavtest::measurePlates(wi.file), {{"Black", 125, 50, 1}, {"Black", 175, 50, 0}});
  EXPECT_STREQ(TavPDF::BlendModeName(16), "Normal");  // beyond the last mode
}

}  // namespace
}  // namespace doctest

// The JSON job file: what it builds, and how each kind of bad input is refused
// with the place (a JSON pointer) and the reason. The command line's own tests
// run the common cases (malformed JSON, bad UTF-8, 1e999, 65 inks, a missing
// paint or picture, a job that includes itself) end to end; the loader cases
// here are the finer ones.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>
#include <nlohmann/json.hpp>

#include "platform/kernel/dotgain.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A small valid job that the cases below break in one place each.
json baseJob() {
  return json::parse(R"({"ppi": 720, "boxes": {"media": [0, 0, 7200, 7200], "trim": [720, 720, 6480, 6480]},
    "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Black", "process": "black"},
             {"name": "Spot", "cmyk": [0, 50, 100, 0]}],
    "colours": [{"id": 1, "inks": {"Cyan": 40, "Spot": 100}}, {"id": 2, "inks": {"Black": 100}}],
    "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2}],
    "objects": [{"kind": "layer", "name": "Art", "objects": [
      {"kind": "path", "paint": 10, "points": [[0, 0], [0, 100], [100, 100]]},
      {"kind": "path", "paint": 11, "closed": false, "points": [[10, 10], [20, 20]]}]}]})");
}

// What refused a load; key "loaded" when nothing did.
template <class Load>
TavSys::Error refusal(Load load) {
  try {
    load();
  } catch (const TavSys::Error& e) {
    return e;
  }
  return TavSys::Error(0, "loaded", "loaded");
}
TavSys::Error refusalOfFile(const fs::path& file) {
  return refusal([&] { TavKernel::loadJobFile(file); });
}
// The job's text with "objects" last, as writers put it: the text streams
// through the loader. As dumped (keys sorted) the definitions follow the
// objects, which the loader reads from the whole document.
std::string objectsLast(json j) {
  if (!j.is_object() || !j.contains("objects")) return j.dump();
  const json objects = j["objects"];
  j.erase("objects");
  std::string text = j.dump();
  text.pop_back();
  return text + (j.empty() ? "" : ",") + "\"objects\":" + objects.dump() + "}";
}
std::unique_ptr<jobstr> load(const json& j, const fs::path& base = fs::temp_directory_path()) {
  return TavKernel::loadJobFromMemory(objectsLast(j), base, "t.json");
}

// Loads the text and returns the error's detail, or "loaded".
std::string errorOfText(std::string_view text, const fs::path& base = fs::temp_directory_path()) {
  const TavSys::Error e = refusal([&] { TavKernel::loadJobFromMemory(text, base, "t.json"); });
  if (e.key() != "loaded") {
    EXPECT_EQ(e.key(), "JOB/BAD JOB FILE");
    EXPECT_NE(e.text().find(e.detail()), std::string::npos) << e.text();  // the text carries the detail
  }
  return e.detail();
}
std::string errorOf(const json& j, const fs::path& base = fs::temp_directory_path()) {
  const std::string detail = errorOfText(j.dump(), base);
  EXPECT_EQ(errorOfText(objectsLast(j), base), detail) << "with the objects last";
  return detail;
}

}  // namespace

TEST(JobFile, BaseJobLoadsItsInksAndTree) {
  auto job = load(baseJob());
  EXPECT_EQ((std::array{job->ppi, job->inkCount}), (std::array{720, 3}));
  EXPECT_EQ(job->name, "t");
  const TavDB::Object* layer = jobGetSpahan(job.get())->member(0);
  ASSERT_EQ(layer->kind(), TavDB::ObjectKind::Layer);
  EXPECT_EQ(static_cast<const TavDB::Layer*>(layer)->getName(), "Art");
  EXPECT_TRUE(layer->member(1)->isOpenPath() && !layer->member(0)->isOpenPath());
  EXPECT_TRUE(TavricLib::PaintIsInvisible(job.get(), kPaintNoFill));
  EXPECT_EQ(layer->bounds(), (TavDB::tv_box{0, 0, 100, 100}));  // bounds follow the points
}

// Every kind of bad input is refused with the file, the JSON pointer of the
// place and the reason. Each case sets one value of the base job (given as
// JSON text at a JSON pointer; "/-" appends, an empty text removes the key).
TEST(JobFile, BadInputIsRefusedWithItsPlace) {
  struct Case {
    std::string at, value, detail;  // the detail after "t.json: "
  };
  const std::string O = "/objects/0/objects/0";
  const std::string notAPoint = ": expected a point [v, h] or a curve [c1v, c1h, c2v, c2h, v, h]";
  const std::string gradation = R"({"id": 12, "type": "gradation", "steps": )";
  const std::string courier = R"({"text": "x", "font": "Courier", "size": 9, "paint": 11})";
  const Case cases[] = {
      // wrong types and values
      {"/ppi", "-72", "/ppi: the resolution must be greater than 0"},
      {"/ppi", "", "/: missing \"ppi\""},
      {"/ppi", "1e81", "/ppi: the number 1e+81 is outside 1 .. 1000000"},
      {"/boxes/media", "", "/: the job has no media box (\"boxes\": {\"media\": [top, left, bottom, right]})"},
      {"/boxes/media", "[0, 0, 7200, 0]", "/boxes/media: the media box has no area"},
      {"/objects/0/objects/1/closed", "0", "/objects/0/objects/1/closed: expected true or false, found a number"},
      {"/colours/0/inks/Cyan", "40.5", "/colours/0/inks/Cyan: expected a whole number"},
      {"/colours/0/inks/Cyan", "101", "/colours/0/inks/Cyan: an ink share is 0 .. 100, or 255 for an untouched ink"},
      {"/boxes/trim", "[6480, 720, 720, 6480]", "/boxes/trim: top lies below bottom (the vertical axis points down)"},
      {"/paints/0/colour", "-1", "/paints/0/colour: the number -1 is outside 0 .. 65535"},
      // points, packed while reading or not: the same places
      {O + "/points/2", "[1, 2, 3]", O + "/points/2" + notAPoint},
      {O + "/points", "[[0, 0], [1, 2], [1, 2, 3, 4, 5, 6, 7]]", O + "/points/2" + notAPoint},
      {O + "/points", R"([[0, 0], {"v": 1}])", O + "/points/1" + notAPoint},
      {O + "/points", "[[0, 0], [[1, 2]]]", O + "/points/1" + notAPoint},
      {O + "/points/0", "[1, 2, 3, 4, 5, 6]", O + "/points/0: a path starts with a point [v, h], not a curve"},
      {O + "/points", "[[0, 0], [1.5, 2]]", O + "/points/1/0: expected a whole number"},
      {O + "/points", "[[0, 0], [1, 2000000000]]",
       O + "/points/1/1: the number 2000000000 is outside -1000000000 .. 1000000000"},
      {O + "/points", R"([[0, "1"]])", O + "/points/0/1: expected a number, found a string"},
      {O + "/points", "[]", O + "/points: expected at least 1 entries"},
      {O + "/points", "5", O + "/points: expected an array, found a number"},
      // unknown kinds and keys, misplaced objects
      {O + "/kind", R"("circle")",
       O + R"(/kind: unknown value "circle" (expected one of "layer", "group", "compound", "path", "text"))"},
      {O + "/colour", "1", O + "/colour: unknown key \"colour\""},
      // keys whose hash is a known key's ("kind", "size") are unknown all the same
      {O + "/dnowdzb", R"("path")", O + "/dnowdzb: unknown key \"dnowdzb\""},
      {"/objects/-", R"({"kind": "text", "at": [0, 0], "runs": [{"text": "x", "font": "Courier", "wtfcnba": 9, "paint": 11}]})",
       "/objects/1/runs/0/wtfcnba: unknown key \"wtfcnba\""},
      {"/paints/0/type", R"("mesh")",
       R"(/paints/0/type: unknown value "mesh" (expected one of "flat", "linear", "radial", "picture", "pattern", )"
       R"("gradation", "map"))"},
      {O, R"({"kind": "layer", "objects": []})", O + "/kind: a layer must be a member of the top-level object list"},
      {"/objects/-", R"({"kind": "text", "at": [0, 0], "perCharacter": "yes",
           "runs": [{"text": "x", "font": "Courier", "size": 9, "paint": 11}]})",
       "/objects/1/perCharacter: expected true or false, found a string"},
      {"/objects/-", R"({"kind": "compound", "objects": [{"kind": "text", "at": [0, 0],
           "runs": [{"text": "x", "font": "Courier", "size": 9, "paint": 11}]}]})",
       "/objects/1/objects/0/kind: a compound path holds paths only"},
      // inks
      {"/inks/2/name", R"("Cyan")", "/inks/2/name: the ink \"Cyan\" is defined twice"},
      {"/inks/2/cmyk", "", "/inks/2: missing \"cmyk\" (the CMYK equivalent of a spot ink)"},
      {"/inks/2/process", R"("cyan")", "/inks/2/process: a second process ink of this kind"},
      {"/inks/2/mapTo", R"("Spot")", "/inks/2/mapTo: an ink cannot be remapped onto itself"},
      {"/inks/2/name", R"("None")",
       "/inks/2/name: \"None\" is a colorant name PDF reserves (All prints on every plate, None on none); rename the ink"},
      {"/inks/1/xmpName", R"("All")",
       "/inks/1/xmpName: \"All\" is a colorant name PDF reserves (All prints on every plate, None on none); rename the ink"},
      {"/inks/2/name", R"("Spot\u0000B")", "/inks/2/name: the ink name holds a control character"},
      {"/inks/-", R"({"name": "Spot\u0000B", "cmyk": [0, 0, 0, 0]})", "/inks/3/name: the ink name holds a control character"},
      // screens: each kind's own values
      {"/screens", R"([{"id": 1, "kind": "extended"}])", "/screens/0: an extended screen needs \"extended\""},
      {"/screens", R"([{"id": 1, "kind": "namedDot", "extended": {}}])",
       "/screens/0/extended: only extended screens have \"extended\""},
      {"/screens", R"([{"id": 1, "kind": "extended", "extended": {"ruling": 1.5}}])",
       "/screens/0/extended/ruling: expected a whole number"},
      {"/screens", R"([{"id": 1, "kind": "extended", "extended": {"shape": "Round"}}])",
       "/screens/0/extended/shape: unknown key \"shape\""},
      {"/screens", R"([{"id": 1, "kind": "extended", "extended": {"ring": -1}}])",
       "/screens/0/extended/ring: the number -1 is outside 0 .. 100000"},
      {"/screens", R"([{"id": 1, "kind": "namedDot", "pressCurves": {"Gold": {"curve": "X"}}}])",
       "/screens/0/pressCurves/Gold: no ink named \"Gold\""},
      {"/screens", R"([{"id": 1, "kind": "namedDot", "pressCurves": {"Cyan": {"number": 2}}}])",
       "/screens/0/pressCurves/Cyan: missing \"curve\""},
      {"/screens", R"([{"id": 1, "pressCurves": {}}])",
       "/screens/0/pressCurves: only namedDot screens have \"pressCurves\""},
      {"/screens", R"([{"id": 1, "kind": "namedDot", "dotgainFile": "c.txt"}])",
       "/screens/0/dotgainFile: only classic screens have \"dotgainFile\""},
      // references that point nowhere
      {O + "/stroke", R"({"width": 5, "paint": 98})", O + "/stroke/paint: no paint with id 98"},
      // 7 is the index the loader gives its own "no fill" colour: the file cannot refer to it.
      {"/paints/1/colour", "7", "/paints/1/colour: no colour with id 7"},
      {"/paints/-", R"({"id": 12, "type": "picture", "picture": 3,
           "place": {"origin": [0, 0], "widthCorner": [0, 10], "heightCorner": [10, 0]}})",
       "/paints/3/picture: no picture with id 3"},
      {"/paints/-", R"({"id": 12, "type": "linear", "colour": 1, "colour2": 5, "start": [0, 0], "end": [0, 10]})",
       "/paints/3/colour2: no colour with id 5"},
      {"/colours/0/inks/Magenta", "10", "/colours/0/inks/Magenta: no ink named \"Magenta\""},
      {"/paints/0/singleInk", R"("Orange")", "/paints/0/singleInk: no ink named \"Orange\""},
      {"/paints/0/id", "11", "/paints/1/id: a paint with id 11 is already defined"},
      {"/paints/0/expand", "true", "/paints/0/expand: only a pattern paint is expanded"},
      {"/paints/2/expand", "1", "/paints/2/expand: expected true or false, found a number"},
      // a pattern painted with itself (through the paint that names it)
      {"/patterns", R"([{"id": 1, "cell": [0, 0, 100, 100], "objects": [
           {"kind": "path", "paint": 20, "points": [[0, 0], [0, 50], [50, 50]]}]}])",
       "/patterns/0/objects: the pattern 1 is painted with itself (directly or through other patterns)"},
      // gradations
      {"/paints/-", gradation + R"([{"colour": 1, "position": 0, "midpoint": 101}, {"colour": 2, "position": 100}]})",
       "/paints/3/steps/0/midpoint: the number 101 is outside 0 .. 100"},
      {"/paints/-", gradation + R"([{"colour": 1, "position": 0}, {"colour": 2, "position": -5}]})",
       "/paints/3/steps/1/position: the steps must be in order of position"},
      {"/paints/-", gradation + R"([{"colour": 1, "position": 7}, {"colour": 2, "position": 7}]})",
       "/paints/3: the gradation has no length; give \"length\" or steps at different positions"},
      {"/paints/-", gradation + R"([{"colour": 9, "position": 7}, {"colour": 2, "position": 7}], "length": 5})",
       "/paints/3/steps/0/colour: no colour with id 9"},
      // text boxes and texts along a path
      {"/objects/0/objects/-", R"({"kind": "text", "at": [0, 0], "height": 100, "runs": [)" + courier + "]}",
       "/objects/0/objects/2/height: a text box needs a \"width\" as well"},
      {"/objects/0/objects/-", R"({"kind": "text", "at": [0, 0], "path": [[0, 0], [0, 100]], "runs": [)" + courier + "]}",
       "/objects/0/objects/2/at: a text along a path takes no \"at\""},
      {"/objects/0/objects/-", R"({"kind": "text", "path": [[0, 0], [0, 100]], "matrix": [1, 0, 0, 1], "runs": [)" +
           courier + "]}",
       "/objects/0/objects/2/matrix: a text along a path takes no \"matrix\""},
      {"/objects/0/objects/-", R"({"kind": "text", "path": [[0, 0], [0, 100]], "width": 5, "runs": [)" + courier + "]}",
       "/objects/0/objects/2/width: a text along a path takes no \"width\""},
      {"/objects/0/objects/-", R"({"kind": "text", "path": [[0, 0]], "runs": [)" + courier + "]}",
       "/objects/0/objects/2/path: expected at least 2 entries"},
      {"/objects/0/objects/-", R"({"kind": "text", "path": [[0, 0], [1, 2, 3]], "runs": [)" + courier + "]}",
       "/objects/0/objects/2/path/1" + notAPoint},
      {"/objects/0/objects/-", std::string(R"({"kind": "text", "path": [[0, 0], [0, 100]], "runs": [)") +
           R"({"text": "a\nb", "font": "Courier", "size": 9, "paint": 11}]})",
       "/objects/0/objects/2/runs/0/text: a text along a path is one line: it cannot hold a line break"},
      {"/customerInfo", R"({"Customer ID": "1"})",
       "/customerInfo/Customer ID: the name is not an XML name (letters, digits, '_', '-', '.', ':')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at + " = " + c.value);
    json j = baseJob();
    // A pattern paint for the pattern case; unused elsewhere.
    j["paints"].push_back(json::parse(R"({"id": 20, "type": "pattern", "pattern": 1})"));
    j["patterns"] = json::parse(R"([{"id": 1, "cell": [0, 0, 10, 10], "objects": []}])");
    const json::json_pointer at(c.at);
    if (c.value.empty())
      j[at.parent_pointer()].erase(at.back());
    else
      j[at] = json::parse(c.value);
    EXPECT_EQ(errorOf(j), "t.json: " + c.detail);
  }
  json leaf = json::parse(R"({"kind": "path", "paint": 10, "points": [[0, 0]]})");
  for (int i = 0; i < 70; ++i) leaf = json{{"kind", "group"}, {"objects", json::array({leaf})}};
  json deep = baseJob();
  deep["objects"] = json::array({leaf});
  EXPECT_THAT(errorOf(deep), ::testing::EndsWith(": objects are nested more than 64 deep"));
  EXPECT_THAT(errorOfText(""), ::testing::StartsWith("t.json: /: not valid JSON: parse error"));
  EXPECT_EQ(errorOfText("[1, 2]"), "t.json: /: expected an object, found an array");
  // What the file holds is shown escaped, never as raw bytes.
  EXPECT_THAT(errorOfText("{\"ppi\": \"\xff\"}"), ::testing::HasSubstr("last read: '\"\\xFF'"));
}

// Limits and unusual values that are sound: they load.
TEST(JobFile, EdgesThatAreSoundLoad) {
  json j = baseJob();
  j["inks"] = json::array();
  for (int i = 0; i < 64; ++i) j["inks"].push_back({{"name", "Ink " + std::to_string(i)}, {"cmyk", {0, 0, 0, 10}}});
  j["colours"] = json::parse(R"([{"id": 1}, {"id": 2}])");
  j["paints"].push_back(json::parse(R"({"id": 13, "type": "gradation", "length": 500, "matrix": [1, 0, 0, 1e308],
      "steps": [{"colour": 1, "position": 7}, {"colour": 2, "position": 7}]})"));
  EXPECT_EQ(errorOf(j), "loaded");
}

TEST(JobFile, TextBoxesAndTextsAlongAPath) {
  json j = baseJob();
  j["objects"][0]["objects"].push_back(json::parse(R"({"kind": "text", "at": [100, 200], "width": 3000,
      "height": 1500, "runs": [{"text": "x", "font": "Courier", "size": 9, "paint": 11}]})"));
  j["objects"][0]["objects"].push_back(json::parse(R"({"kind": "text", "path": [[300, 400], [1, 2, 3, 4, 5, 6]],
      "runs": [{"text": "x", "font": "Courier", "size": 9, "paint": 11}]})"));
  const auto job = load(j);
  TavDB::ListScan scan(jobGetSpahan(job.get()), TavDB::kObjText, 0);
  const TavDB::TextData& box = *scan.next()->text();
  EXPECT_TRUE(box.isBox());
  EXPECT_FALSE(box.isAlongPath());
  EXPECT_EQ(box.height, 1500);
  const TavDB::Object* along = scan.next();
  const TavDB::TextData& path = *along->text();
  EXPECT_FALSE(path.isBox());
  ASSERT_TRUE(path.isAlongPath());
  // The curve's two control points and its end; the text starts at the first point.
  ASSERT_EQ(path.path.size(), 4u);
  EXPECT_EQ(path.path[3].type, TavDB::PathPoint::kCurve);
  EXPECT_EQ(path.start, (TavDB::tv_point{300, 400}));
  // Until laid out, its bounds are the path's grown by the size (90 units).
  EXPECT_EQ(along->bounds().top, 1 - 90);
  EXPECT_EQ(along->bounds().right, 490);
}

TEST(JobFile, FilesThatCannotBeRead) {
  tavtest::TestFolder dir;
  json j = baseJob();
  j["pictures"] = json::parse(R"([{"id": 1, "file": "missing.tif"}])");
  EXPECT_EQ(refusal([&] { load(j, dir.path()); }).code(), TavSys::kFileErrorBase + ENOENT);
  j["pictures"][0]["file"] = "sub";
  fs::create_directories(dir / "sub");
  EXPECT_EQ(errorOf(j, dir.path()),
            "t.json: /pictures/0/file: cannot read " + (dir / "sub").string() + ": it is a folder");
  j["pictures"][0]["file"] = "logo.bmp";
  tavtest::writeFile(dir / "logo.bmp", "BM");
  EXPECT_EQ(errorOf(j, dir.path()),
            "t.json: /pictures/0: cannot tell the picture's type from \"logo.bmp\"; give \"type\"");
  // A classic screen's dot-gain curves, read by the dot-gain file's rules.
  j = baseJob();
  j["screens"] = json::parse(R"([{"id": 1, "dotgainFile": "curves.txt"}])");
  tavtest::writeFile(dir / "curves.txt", "tavpdf-dotgain 1\ncurve Spot\n0 0\n50 60\n40 70\n");
  EXPECT_EQ(errorOf(j, dir.path()), "t.json: /screens/0/dotgainFile: " + (dir / "curves.txt").string() +
                                        ": line 5, column 1: the input 40 is not above the input before it (50)");
  tavtest::writeFile(dir / "curves.txt", "tavpdf-dotgain 1\ncurve Spot\n0 0\n100 70\n");
  const auto screened = load(j, dir.path());
  ASSERT_TRUE(screened->screens[1].dotgain);
  EXPECT_TRUE(screened->screens[1].dotgain->HasDotgain(2) && !screened->screens[1].dotgain->HasDotgain(0));
  // Job files that cannot be read: a folder, a device that would be read without end.
  for (const auto& [file, err] : {std::pair<fs::path, int>{dir / "sub", EISDIR}, {"/dev/zero", EINVAL}}) {
    const TavSys::Error e = refusalOfFile(file);
    EXPECT_EQ(e.key(), "JOB/CANNOT READ JOB FILE") << file;
    EXPECT_EQ(e.code(), TavSys::kFileErrorBase + err) << file;
  }
}

// Pictures and one-ups are found relative to the job file's folder.
TEST(JobFile, PicturesAndNestedOneUpsLoadAndCyclesAreRefused) {
  tavtest::TestFolder dir;
  fs::create_directories(dir / "ups");
  tavtest::writeFile(dir / "ups" / "a.tif", "II*\0");
  json inner = baseJob();
  inner["name"] = "inner";
  tavtest::writeFile(dir / "ups" / "inner.json", inner.dump());
  json outer = baseJob();
  outer["pictures"] = json::parse(R"([{"id": 1, "file": "ups/inner.json"}, {"id": 2, "file": "ups/inner.json"},
                                      {"id": 3, "file": "ups/a.tif", "width": 10, "height": 20}])");
  tavtest::writeFile(dir / "outer.json", outer.dump());
  auto job = TavKernel::loadJobFile(dir / "outer.json");
  EXPECT_EQ(filrefori(job.get())->getFullPathAsUtf8(), (dir / "outer.json").generic_string());
  ASSERT_NE(picfilref(job.get(), 3), nullptr);
  EXPECT_EQ(fs::path(picfilref(job.get(), 3)->getFullPathAsUtf8()), (dir / "ups" / "a.tif").lexically_normal());
  EXPECT_EQ(picgetinfo(job.get(), 3), "TIFF");
  std::int32_t v = 0, h = 0;
  picsiz(job.get(), 3, 1.0, v, h);
  EXPECT_EQ((std::array{v, h}), (std::array<std::int32_t, 2>{20, 10}));
  ASSERT_TRUE(picisart(job.get(), 1));
  jobstr* up = picGetJob(job.get(), 1);
  ASSERT_NE(up, nullptr);
  EXPECT_TRUE(up->name == "inner" && up->parent == job.get());
  EXPECT_EQ(picGetJob(job.get(), 2), up) << "one file, one model";
  // The one-up's used inks, by name, in the parent's slots; its size is its media box.
  picsiz(job.get(), 1, 1.0, v, h);
  EXPECT_TRUE(picsepuse(job.get(), 1, 0) && picsepuse(job.get(), 1, 2) && v == 7200);
  // Through a chain a -> b -> a; the error names the place in b.
  json a = baseJob(), b = baseJob();
  a["pictures"] = json::parse(R"([{"id": 1, "file": "ups/b.json"}])");
  b["pictures"] = json::parse(R"([{"id": 4, "file": "../a.json"}])");
  tavtest::writeFile(dir / "a.json", a.dump());
  tavtest::writeFile(dir / "ups" / "b.json", b.dump());
  EXPECT_EQ(refusalOfFile(dir / "a.json").detail(),
            (dir / "ups" / "b.json").string() +
                ": /pictures/0/file: the one-up a.json includes itself (directly or through other one-ups)");
  // A broken one-up is reported with its own file and place.
  inner["ppi"] = 0;
  tavtest::writeFile(dir / "ups" / "inner.json", inner.dump());
  EXPECT_EQ(refusalOfFile(dir / "outer.json").detail(),
            (dir / "ups" / "inner.json").string() + ": /ppi: the resolution must be greater than 0");
  // Only an EPS file can be a DCS file.
  inner["ppi"] = 720;
  tavtest::writeFile(dir / "ups" / "inner.json", inner.dump());
  outer["pictures"][2]["dcs"] = true;
  tavtest::writeFile(dir / "outer.json", outer.dump());
  EXPECT_EQ(refusalOfFile(dir / "outer.json").detail(),
            (dir / "outer.json").string() + ": /pictures/2/dcs: only an EPS picture can be a DCS file");
}

TEST(JobFile, UsageOfInksIsDerivedFromTheObjects) {
  json j = baseJob();
  j["inks"].push_back({{"name", "Unused"}, {"cmyk", {0, 0, 0, 10}}});
  j["inks"].push_back({{"name", "Masked"}, {"cmyk", {0, 0, 0, 10}}});
  j["colours"].push_back(json::parse(R"({"id": 3, "inks": {"Masked": 100}})"));
  j["paints"].push_back(json::parse(R"({"id": 12, "type": "flat", "colour": 3})"));
  j["paints"].push_back(json::parse(R"({"id": 13, "type": "flat", "colour": 2, "softMask": 1, "opacity": 50})"));
  j["patterns"] = json::parse(R"([{"id": 1, "kind": "softMask", "objects": [
      {"kind": "path", "paint": 12, "points": [[0, 0], [0, 5], [5, 5]]}]}])");
  j["objects"][0]["objects"].push_back(json::parse(R"({"kind": "path", "paint": 13, "points": [[0, 0], [9, 9]]})"));
  auto job = load(j);
  // Cyan 40 %, Black 100 %, Spot, Unused, and Masked only inside the soft mask.
  const int used[] = {kSepUsed, kSepUsed, kSepUsed, 0, kSepUsedInSoftMask};
  for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(sepisused(job.get(), slot), used[slot]) << slot;
  EXPECT_TRUE(paintHasTransparency(job.get(), 13));
  j["inks"][3]["used"] = true;  // the file may say otherwise
  EXPECT_EQ(sepisused(load(j).get(), 3), kSepUsed);
}

// What the command line's summary of the examples does not show.
TEST(JobFile, ExamplesLoad) {
  const fs::path examples = tavtest::sourceDir() / "examples";
  auto label = TavKernel::loadJobFile(examples / "label.json");
  const int die = TavricLib::FindSeparation(label.get(), "Die");
  EXPECT_TRUE(separationIsTechnical(label.get(), die) && !seppdftyp::NeedsOutputting(label.get(), die));
  EXPECT_TRUE(label->boxes[kBleedBox].has_value());
  auto carton = TavKernel::loadJobFile(examples / "carton.json");
  ASSERT_NE(carton->GetCADData(), nullptr);
  TavDB::ListScan layers(jobGetSpahan(carton.get()), TavDB::kObjLayer, TavDB::kObjExcluded);
  int cadLayers = 0;
  while (TavDB::Object* l = layers.next()) cadLayers += TavricLib::IsStructuredCADLayer(carton.get(), l);
  EXPECT_EQ((std::array{cadLayers, int(carton->stations.size())}), (std::array{1, 2}));
  EXPECT_NE(stationNumberObject(carton.get(), TavDB::kObjExcluded, 0, TavDB::kObjExcluded, 0), nullptr);
}

// Well-formed point lists are packed while the file is read; anything else is
// read value by value (the bad-input cases above check the places of both).
TEST(JobFile, PackedPointLists) {
  json j = baseJob();
  j["objects"][0]["objects"][0]["points"] =
      json::parse(R"([[0, 0], [1.0, 2], [3, 4, 5, 6, 7, 8], [-1000000000, 1000000000]])");
  auto job = load(j);
  const auto& got = jobGetSpahan(job.get())->member(0)->member(0)->points();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ((std::array{got[1].v, got[1].h, got[4].h, got[5].v}), (std::array<std::int32_t, 4>{1, 2, 8, -1000000000}));
  EXPECT_TRUE(got[2].type == TavDB::PathPoint::kControl && got[4].type == TavDB::PathPoint::kCurve);
}

TEST(JobFile, GradationSteps) {
  json j = baseJob();
  j["paints"].push_back(json::parse(R"({"id": 12, "type": "gradation", "form": "circular", "start": [100, 200],
      "steps": [{"colour": 1, "position": 0, "midpoint": 30}, {"colour": 2, "position": 100},
                {"colour": 1, "position": 300}]})"));
  auto job = load(j);
  const Paint* p = paipoi(job.get(), 12);
  ASSERT_TRUE(p && p->steps.size() == 3u);
  // The middle step is half way by default; the last has no midpoint.
  EXPECT_EQ((std::array<int, 3>{p->steps[0].midpoint, p->steps[1].midpoint, p->steps[2].midpoint}),
            (std::array<int, 3>{30, 100, 0}));
  EXPECT_EQ(p->gradationBox, (TavDB::tv_box{-200, -100, 400, 500}));
  EXPECT_EQ((std::array<int, 3>{p->gradationLength, p->colour, p->colour2}), (std::array<int, 3>{300, 1, 1}));
}

TEST(JobFile, MapsWithChannelsPerInk) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "k.tif", "II*");
  tavtest::writeFile(dir / "s.tif", "II*");
  json j = baseJob();
  j["maps"] = json::parse(R"([{"id": 1, "files": ["k.tif", "s.tif"], "colour": 2, "width": 40, "height": 30,
      "channels": [{"ink": "Black"}, {"ink": "Spot", "file": 1, "channel": 0}],
      "opacity": {"file": 1, "channel": 1}}])");
  j["paints"].push_back(json::parse(R"({"id": 12, "type": "map", "map": 1,
      "place": {"origin": [0, 0], "widthCorner": [0, 400], "heightCorner": [300, 0]}})"));
  j["objects"][0]["objects"].push_back(
      json::parse(R"({"kind": "path", "paint": 12, "points": [[0, 0], [0, 400], [300, 400], [300, 0]]})"));
  auto job = load(j, dir.path());
  ASSERT_NE(mappoi(job.get(), 1), nullptr);
  EXPECT_EQ(mappoi(job.get(), 1)->resolution, 720);  // the job's ppi
  EXPECT_TRUE(maphasopa(job.get(), 1) && mapfilref(job.get(), 1, 1) && !mapfilref(job.get(), 1, 2));
  EXPECT_EQ(sepisused(job.get(), 2), kSepUsed) << "a map channel uses its ink";
  const std::tuple<const char*, json, const char*> bad[] = {
      {"/maps/0/channels/1/file", 2, ": no file 2 in \"files\""},
      {"/maps/0/channels/1/ink", "Black", ": the ink has two channels"},
      {"/maps/0/resolution", 0, ": the resolution must be greater than 0"}};
  for (const auto& [at, value, said] : bad) {
    json broken = j;
    broken[json::json_pointer(at)] = value;
    EXPECT_EQ(errorOf(broken, dir.path()), std::string("t.json: ") + at + said);
  }
}

// A paint-map group: its first member is the map's outline and its topmost
// shape is painted with the map; anything else is refused at its place.
TEST(JobFile, PaintMapGroups) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "k.tif", "II*");
  json j = baseJob();
  j["maps"] = json::parse(R"([{"id": 1, "files": ["k.tif"], "colour": 2, "width": 40, "height": 30,
      "channels": [{"ink": "Black"}]}])");
  j["paints"].push_back(json::parse(R"({"id": 12, "type": "map", "map": 1,
      "place": {"origin": [0, 0], "widthCorner": [0, 400], "heightCorner": [300, 0]}})"));
  j["objects"][0]["objects"].push_back(json::parse(R"({"kind": "group", "paintMap": true, "objects": [
      {"kind": "path", "points": [[50, 50], [50, 350], [250, 350], [250, 50]]},
      {"kind": "group", "objects": [{"kind": "path", "paint": 12, "points": [[0, 0], [0, 400], [300, 400]]}]}]})"));
  auto job = load(j, dir.path());
  const TavDB::Object* layer = jobGetSpahan(job.get())->member(0);
  EXPECT_TRUE(isPaimapGroup(layer->member(2)));
  EXPECT_FALSE(isPaimapGroup(layer->member(2)->member(1))) << "only the group marked";
  EXPECT_TRUE(isPaimapGroup(TavDB::objdupall(layer->member(2)).get())) << "copies keep the mark";

  const std::string G = "/objects/0/objects/2";
  const std::tuple<std::string, json, std::string> bad[] = {
      {G + "/objects/0/closed", false,
       G + "/objects/0: the first member of a paint-map group is the map's outline: a closed path or a compound path"},
      {G + "/objects", json::array(), G + "/objects: the first member of a paint-map group is the map's outline: "
                                          "a closed path or a compound path"},
      {G + "/objects/-", json::parse(R"({"kind": "path", "paint": 10, "points": [[0, 0], [5, 5], [0, 5]]})"),
       G + "/paintMap: the topmost path or compound path of a paint-map group names its map: it must be painted "
           "with a map"},
      {"/objects/0/objects/0/paintMap", true, "/objects/0/objects/0/paintMap: unknown key \"paintMap\""},
      {G + "/paintMap", "yes", G + "/paintMap: expected true or false, found a string"},
  };
  for (const auto& [at, value, said] : bad) {
    SCOPED_TRACE(at);
    json broken = j;
    broken[json::json_pointer(at)] = value;
    EXPECT_EQ(errorOf(broken, dir.path()), "t.json: " + said);
  }
  json plain = j;
  plain[json::json_pointer(G + "/paintMap")] = false;
  EXPECT_FALSE(isPaimapGroup(jobGetSpahan(load(plain, dir.path()).get())->member(0)->member(2)));
}

// Texts the streaming load gives up on load as the whole document does.
TEST(JobFile, StreamedAndWholeDocumentLoadsAgree) {
  const std::string head = R"({"ppi": 720, "boxes": {"media": [0, 0, 100, 100]}, "objects": )";
  const std::string path = R"({"kind": "path", "points": [[0, 0], [5, 9]]})";
  const std::string texts[] = {
      head + "[" + path + R"(], "ppi": 72})",               // a definition after the objects
      head + "[], \"objects\": [" + path + "]}",              // the second list counts
      head + R"([{"kind": "group", "objects": 3, "objects": [)" + path + "]}]}",
      head + R"([{"kind": "compound", "objects": [{"kind": "group", "objects": []}]}]})",
      head + "[" + path + R"(], "stations": 5})",
      head + "[" + path + "]",                                // cut short
  };
  auto outcome = [](const std::string& text, bool streaming) {
    TavKernel::setJobStreaming(streaming);
    const TavSys::Error e = refusal([&] {
      auto job = TavKernel::loadJobFromMemory(text, fs::temp_directory_path(), "t.json");
      throw TavSys::Error(0, "loaded", std::to_string(job->ppi) + " " +
                                           std::to_string(TavDB::pointcount(jobGetSpahan(job.get()))));
    });
    TavKernel::setJobStreaming(true);
    return e.detail();
  };
  for (const std::string& text : texts) EXPECT_EQ(outcome(text, true), outcome(text, false)) << text;
}

namespace {

// What a load built, in words: the tree (kinds, flags, paints, names, points,
// bounds, text runs, strokes), the inks and what else the file sets; or the
// refusal's detail.
void describe(const TavDB::Object& o, std::string& out) {
  out += std::to_string(int(o.kind())) + "/" + std::to_string(o.flags()) + "/" + std::to_string(o.paint()) + "/" +
         o.name() + "[";
  for (const TavDB::PathPoint& p : o.points())
    out += std::to_string(p.v) + "," + std::to_string(p.h) + "," + std::to_string(int(p.type)) + " ";
  const TavDB::tv_box b = o.bounds();
  out += "]" + std::to_string(b.top) + "," + std::to_string(b.left) + "," + std::to_string(b.bottom) + "," +
         std::to_string(b.right);
  if (const auto* t = o.text()) {
    out += " text:" + std::to_string(t->start.v) + "," + std::to_string(t->start.h) + "/" + std::to_string(t->width) +
           "/" + std::to_string(t->height) + "/" + std::to_string(t->leading) + "/" + std::to_string(int(t->align)) +
           "/" + std::to_string(t->perCharacter) + "/" + std::to_string(t->matrix[0]) + "/" + std::to_string(t->path.size());
    for (const auto& r : t->runs)
      out += " run:" + r.text + "@" + r.font + "/" + std::to_string(r.size) + "/" + std::to_string(r.paint) + "/" +
             std::to_string(r.tracking) + "/" + std::to_string(r.horizontalScale) + "/" + std::to_string(r.rise) +
             "/" + std::to_string(r.wordSpacing) + "/" + std::to_string(r.underline);
  }
  if (const auto* s = o.stroke()) out += " stroke:" + std::to_string(s->width) + "/" + std::to_string(s->paint);
  out += "{";
  for (const auto& m : o.members()) describe(*m, out);
  out += "}";
}
std::string outcomeOf(std::string_view text, bool streaming, std::size_t window = TavKernel::kJobStreamWindow,
                      const fs::path& base = fs::temp_directory_path()) {
  TavKernel::setJobStreaming(streaming, window);
  std::string out;
  try {
    auto job = TavKernel::loadJobFromMemory(text, base, "t.json");
    out = job->name + " " + std::to_string(job->ppi) + " " + std::to_string(job->scale) + " ";
    for (int i = 0; i < job->inkCount; ++i)
      out += job->separations[std::size_t(i)].name + ":" + std::to_string(sepisused(job.get(), i)) + " ";
    for (const auto& [id, p] : job->linkParameters) out += "link" + std::to_string(id) + "=" + std::to_string(p.number);
    for (const auto& [k, v] : job->parameters) out += " " + k + "=" + v;
    describe(*jobGetSpahan(job.get()), out);
  } catch (const TavSys::Error& e) {
    out = "refused: " + e.detail();
  }
  TavKernel::setJobStreaming(true);
  return out;
}

}  // namespace

// Through any window, down to a byte, the streamed load builds what the whole
// document builds, and gives up on none of these jobs: object lists are cut
// into runs of entries, entries larger than the window are taken apart.
TEST(JobFile, StreamedLoadsThroughAnyWindowBuildWhatTheWholeDocumentBuilds) {
  const fs::path examples = tavtest::sourceDir() / "examples";
  std::vector<std::pair<std::string, fs::path>> texts;
  for (const char* example : {"label.json", "carton.json", "barcodes.json", "screens.json", "swatches.json"})
    texts.emplace_back(tavtest::readFile(examples / example), examples);
  json nested = baseJob();
  nested["objects"][0]["objects"].push_back(json::parse(R"({"kind": "group", "name": "g \"1\"", "objects": [
      {"kind": "compound", "paint": 10, "objects": [{"kind": "path", "points": [[0, 0], [5, 5], [0, 9]]},
                                                   {"points": [[1, 1], [2, 2]], "kind": "path"}]},
      {"kind": "text", "at": [100, 100], "runs": [{"text": "a]}\"[{", "font": "Courier", "size": 9, "paint": 11}]},
      {"objects": [], "kind": "group", "hidden": true}], "locked": true})"));
  texts.emplace_back(objectsLast(nested), fs::temp_directory_path());
  // Long strings with escaped quotes and backslashes at every offset within
  // sixteen bytes, and strings ending at every offset.
  json escapes = baseJob();
  for (int at = 0; at < 18; ++at) {
    const std::string text = std::string(std::size_t(at), 'x') + "\"q\\b\"" + std::string(std::size_t(40 - at), 'y');
    escapes["objects"][0]["objects"].push_back(
        {{"kind", "text"}, {"at", {100, 100 + at}}, {"name", std::string(std::size_t(at + 14), 'n')},
         {"runs", {{{"text", text}, {"font", "Courier"}, {"size", 9}, {"paint", 11}}}}});
  }
  texts.emplace_back(objectsLast(escapes), fs::temp_directory_path());
  // Brackets inside strings without escapes, strings and lists closing at
  // every offset within sixteen bytes, and lists nested a few deep.
  json brackets = baseJob();
  for (int at = 0; at < 18; ++at) {
    const std::string text = std::string(std::size_t(at), 'x') + "]}]}[{" + std::string(std::size_t(20 - at % 7), ']');
    json inner = {{"kind", "group"}, {"name", std::string(std::size_t(at), '}')}, {"objects", json::array()}};
    for (int d = 0; d < at % 4; ++d) inner = {{"kind", "group"}, {"name", std::string(std::size_t(d + at), '[')}, {"objects", {inner}}};
    brackets["objects"][0]["objects"].push_back(
        {{"kind", "text"}, {"at", {100, 100 + at}}, {"name", std::string(std::size_t(at + 3), '{')},
         {"runs", {{{"text", text}, {"font", "Courier"}, {"size", 9}, {"paint", 11}}}}});
    brackets["objects"][0]["objects"].push_back(inner);
  }
  texts.emplace_back(objectsLast(brackets), fs::temp_directory_path());
  // Runs of backslashes (escaping each other, a quote, or the byte after a
  // block's end) before quotes and brackets, at every offset within 32
  // bytes, in names and texts with line breaks beside.
  json backslashes = baseJob();
  for (int at = 0; at < 34; ++at) {
    for (int run = 1; run <= 4; ++run) {
      const std::string text = std::string(std::size_t(at), 'x') + std::string(std::size_t(run), '\\') +
                               (run % 2 ? "\"]}[" : "]}[\"") + "\n" + std::string(std::size_t(at % 5), '\\') + "]";
      backslashes["objects"][0]["objects"].push_back(
          {{"kind", "text"}, {"at", {100, 100 + at}}, {"name", text.substr(0, std::size_t(at + run))},
           {"runs", {{{"text", text}, {"font", "Courier"}, {"size", 9}, {"paint", 11}}}}});
    }
  }
  texts.emplace_back(objectsLast(backslashes), fs::temp_directory_path());
  texts.emplace_back(" \n{ \"ppi\" : 72 , \"boxes\" : { \"media\" : [ 0 , 0 , 9 , 9 ] } , \"objects\" : [ "
                     "{ \"kind\" : \"path\" , \"points\" : [ [ 1 , 2 ] , [ 3 , 4 ] ] } , { \"objects\" : [ ] , "
                     "\"kind\" : \"layer\" } ] , \"stations\" : [ ] } \r\n",
                     fs::temp_directory_path());
  for (const auto& [text, base] : texts) {
    const std::string whole = outcomeOf(text, false, TavKernel::kJobStreamWindow, base);
    ASSERT_EQ(whole.rfind("refused", 0), std::string::npos) << whole;
    for (const std::size_t window : {2, 3, 5, 8, 13, 40, 100, 1000, 1 << 20}) {
      const std::size_t before = TavKernel::jobStreamFallbacks();
      EXPECT_EQ(outcomeOf(text, true, window, base), whole) << "window " << window << ": " << text.substr(0, 60);
      EXPECT_EQ(TavKernel::jobStreamFallbacks(), before) << "window " << window << ": " << text.substr(0, 60);
    }
  }
}

// The faults of the JSON itself: the line, the column, what was wrong and what
// was read of the faulty token, the same whether the text streams or not.
TEST(JobFile, FaultsOfTheJsonNameLineColumnAndToken) {
  const std::pair<std::string, std::string> cases[] = {
      {"{\"ppi\": 72,\n \"name\": \"a\x01z\"}",
       "line 2, column 12: invalid string: the control character U+0001 must be escaped; last read: '\"a\\x01'"},
      {"{\"ppi\": 1e999}", "line 1, column 9: the number is out of range; last read: '1e999'"},
      {"{\"ppi\": 72} x", "line 1, column 13: unexpected character after the end of the value; last read: 'x'"},
      {"{\"ppi\": 72,}", "line 1, column 12: unexpected character; expected a key (a string); last read: '}'"},
      {"{\"ppi\" 72}", "line 1, column 8: unexpected character; expected ':'; last read: '7'"},
      {"{\"ppi\": 72,\r\n\"objects\": [tru]}", "line 2, column 16: invalid literal; last read: 'tru]'"},
      {"{\"name\": \"\\ud800\"}",
       "line 1, column 17: invalid string: a high surrogate must be followed by a low surrogate; last read: "
       "'\"\\ud800\"'"},
      {"{\"name\": \"\\q\"}", "line 1, column 12: invalid string: invalid escape; last read: '\"\\q'"},
      {"{\"ppi\": 01}", "line 1, column 10: unexpected character; expected ',' or '}'; last read: '1'"},
      {"{\"ppi\": [1, 2", "line 1, column 14: unexpected end of input; expected ',' or ']'; last read: ''"},
      {"", "line 1, column 1: unexpected end of input; expected a value; last read: ''"},
  };
  for (const auto& [text, fault] : cases) {
    const std::string expected = "refused: t.json: /: not valid JSON: parse error at " + fault;
    EXPECT_EQ(outcomeOf(text, false), expected);
    for (const std::size_t window : {2, 1 << 20}) EXPECT_EQ(outcomeOf(text, true, window), expected) << window;
  }
}

// JSON the fast parser leaves to the plain reader loads all the same: a whole
// number beyond 64 bits, a number too small for a double (zero), nesting
// deeper than the fast parser goes (then the loader's own limit speaks).
TEST(JobFile, UnusualJsonLoadsAsItReads) {
  const std::string head = R"({"ppi": 72, "boxes": {"media": [0, 0, 100, 100]})";
  std::string deep = R"({"kind": "path", "points": [[0, 0]]})";
  for (int i = 0; i < 600; ++i) deep = R"({"kind": "group", "objects": [)" + deep + "]}";
  const std::pair<std::string, std::string> cases[] = {
      {head + R"(, "linkParameters": [{"id": 4, "number": 123456789012345678901234}]})",
       "link4=123456789012345685803008.000000"},
      {head + R"(, "scale": 1e-400})", "refused: t.json: /scale: the scale must be greater than 0"},
      {head + R"(, "objects": [)" + deep + "]}", ": objects are nested more than 64 deep"},
  };
  for (const auto& [text, seen] : cases) {
    const std::string whole = outcomeOf(text, false);
    EXPECT_THAT(whole, ::testing::HasSubstr(seen)) << text.substr(0, 100);
    for (const std::size_t window : {4, 1 << 20}) EXPECT_EQ(outcomeOf(text, true, window), whole) << window;
  }
}

// A key given twice in one object counts with the value given last, as
// readers of JSON have done for job files all along: each text loads as the
// one beside it, streamed or not.
TEST(JobFile, AKeyGivenTwiceCountsWithItsLastValue) {
  const std::string head = R"({"ppi": 72, "boxes": {"media": [0, 0, 100, 100]})";
  const std::string path = R"({"kind": "path", "points": [[1, 2], [3, 4]]})";
  const std::pair<std::string, std::string> cases[] = {
      {head + R"(, "ppi": 720, "name": "a", "name": "b"})", head + R"(, "ppi": 720, "name": "b"})"},
      {head + R"(, "parameters": {"k": "1", "j": "0", "k": "2"}})", head + R"(, "parameters": {"j": "0", "k": "2"}})"},
      {head + R"(, "objects": [)" + path + R"(], "objects": []})", head + R"(, "objects": []})"},
      {head + R"(, "objects": [{"kind": "group", "objects": [], "objects": [)" + path + "]}]}",
       head + R"(, "objects": [{"kind": "group", "objects": [)" + path + "]}]}"},
      {head + R"(, "objects": [{"kind": "path", "points": [[9, 9]], "points": [[1, 2], [3, 4]]}]})",
       head + R"(, "objects": [)" + path + "]}"},
  };
  for (const auto& [text, same] : cases) {
    const std::string expected = outcomeOf(same, false);
    EXPECT_EQ(expected.rfind("refused", 0), std::string::npos) << expected;
    for (const std::size_t window : {4, 1 << 20}) {
      EXPECT_EQ(outcomeOf(text, false), expected) << text;
      EXPECT_EQ(outcomeOf(text, true, window), expected) << window << ": " << text;
    }
  }
}

// Where the streamed load gives up and reads the whole document instead, and
// where it does not; either way it ends as the whole document does.
TEST(JobFile, StreamingGivesUpOnlyWhereItMust) {
  const std::string head = R"({"ppi": 720, "boxes": {"media": [0, 0, 100, 100]})";
  const std::string path = R"({"kind": "path", "name": "a \"]}[{\" b", "points": [[0, 0], [5, 9]]})";
  std::string longPath = R"({"kind": "path", "points": [[0, 0])";
  for (int i = 0; i < 300; ++i) longPath += ", [" + std::to_string(i) + ", " + std::to_string(2 * i) + "]";
  longPath += "]}";
  const std::tuple<std::string, bool> cases[] = {
      // streamed
      {head + R"(, "objects": [)" + path + "," + longPath + "]}", false},
      {head + R"(, "objects": [{"kind": "layer", "objects": [)" + path + R"(], "name": "after"}], "stations": []})", false},
      {head + R"(, "obj\u0065cts": [)" + path + "]}", false},  // an escaped key: the list is read whole
      {head + R"(, "objects": []})", false},
      // given up: definitions after the objects, a second list, refusals
      {R"({"objects": [)" + path + R"(], "ppi": 720, "boxes": {"media": [0, 0, 100, 100]}})", true},
      {head + R"(, "objects": [], "objects": [)" + path + "]}", true},
      {head + R"(, "objects": [{"kind": "path", "paint": 3, "points": [[0, 0]]}]})", true},
      {head + R"(, "objects": [)" + path + "]", true},
  };
  for (const auto& [text, givesUp] : cases) {
    const std::string whole = outcomeOf(text, false);
    for (const std::size_t window : {16, 1 << 20}) {
      const std::size_t before = TavKernel::jobStreamFallbacks();
      EXPECT_EQ(outcomeOf(text, true, window), whole) << window << ": " << text.substr(0, 80);
      EXPECT_EQ(TavKernel::jobStreamFallbacks() - before, givesUp ? 1u : 0u) << window << ": " << text.substr(0, 80);
    }
  }
}

// The entries of a streamed object list are read from simdjson's index in
// place: it must refuse (and leave to the whole document, which names the
// fault) exactly what the whole document refuses, and build the same model
// from what it accepts: keys given twice, points of every form, keys in any
// order or sharing their length and letters with keys of the format.
TEST(JobFile, EntriesReadInPlaceAcceptWhatTheWholeDocumentAccepts) {
  const std::string head = objectsLast(baseJob());
  const std::string front = head.substr(0, head.find("\"objects\":")) + "\"objects\":[";
  const std::string run = R"("text": "x", "font": "Courier", "size": 9, "paint": 11)";
  const std::pair<std::string, bool> cases[] = {  // an entry, refused
      // keys unknown, given twice, of the wrong type or out of range
      {R"({"kind": "path", "points": [[0, 0], [1, 2]], "colour": 3})", true},
      {R"({"kind": "path", "points": [[0, 0]], "pxint": 10})", true},  // "paint"'s length and letters
      {R"({"kind": "path", "points": [[0, 0]], "zz": 1, "zz": 2})", true},
      {R"({"kind": "path", "points": [[0, 0]], "paint": 10, "paint": 99})", true},
      {R"({"kind": "path", "points": [[0, 0]], "paint": 99, "paint": 10})", false},
      {R"({"kind": "path", "points": [[0, 0]], "hidden": true, "hidden": "yes"})", true},
      {R"({"kind": "path", "points": [[0, 0]], "closed": 0})", true},
      {R"({"kind": "group", "objects": [{"kind": "path", "points": [[0, 0]]}], "objects": 5})", true},
      {R"({"kind": "group", "objects": 5, "objects": [{"kind": "path", "points": [[0, 0]]}]})", false},
      {R"({"kind": "text", "at": [1, 2], "runs": [{)" + run + R"(, "size": 0}]})", true},
      {R"({"kind": "text", "at": [1, 2], "runs": [{)" + run + R"(, "underline": 1}]})", true},
      {R"({"kind": "text", "at": [1, 2], "runs": [{"text": "x", "font": "Courier", "size": 9}]})", true},
      {R"({"runs": [{"paint": 11, "tracking": 5, "size": 9, "font": "Courier", "text": "y"}], "at": [1, 2], "kind": "text"})", false},
      {R"({"kind": "text", "at": [1, 2], "kind": "path", "runs": [{)" + run + "}]}", true},
      {R"({"kind": "path", "kind": "text", "at": [1, 2], "runs": [{)" + run + "}]}", false},
      // points: the forms read straight from the index and those read one by one
      {R"({"kind": "path", "points": [[0, 0], [1.5, 2]]})", true},
      {R"({"kind": "path", "points": [[0, 0], [1.0, 2e0]]})", false},
      {R"({"kind": "path", "points": [[0, 0], [-0, 5], [-1000000000, 1000000000]]})", false},
      {R"({"kind": "path", "points": [[0, 0], [1, 1000000001]]})", true},
      {R"({"kind": "path", "points": [[0, 0], [1, 18446744073709551615]]})", true},
      {R"({"kind": "path", "points": [[1, 2, 3, 4, 5, 6]]})", true},
      {R"({"kind": "path", "points": [[0, 0], [1, 2, 3]]})", true},
      {R"({"kind": "path", "points": [[0, 0], [[1, 2]]]})", true},
      {R"({"kind": "path", "points": [[0, 0], {"v": 1}]})", true},
      {R"({"kind": "path", "points": []})", true},
      {R"({"kind": "path", "points": [[0, 0], [1, 2, 3, 4, 5, 6], [7, 8]], "closed": false, "paint": 10})", false},
      {R"({"kind": "group", "points": [[0, 0]], "objects": []})", true},
  };
  for (const auto& [entry, refused] : cases) {
    const std::string text = front + entry + "]}";
    const std::string whole = outcomeOf(text, false);
    EXPECT_EQ(whole.rfind("refused", 0) == 0, refused) << whole;
    const std::size_t before = TavKernel::jobStreamFallbacks();
    EXPECT_EQ(outcomeOf(text, true), whole) << entry;
    EXPECT_EQ(TavKernel::jobStreamFallbacks() - before, refused ? 1u : 0u) << entry;
  }
}

// Strings, whole numbers, points and keys of text entries read in place:
// simdjson's index holds only well-formed UTF-8, so a string taken from it is
// not checked again; whole numbers and points are taken straight from it when
// they are plain 64-bit integers in range; keys are compared by two words.
// Each entry, through windows that cut it anywhere, must give what the whole
// document gives, and the stream must give up exactly where the whole
// document refuses.
TEST(JobFile, TextEntriesReadInPlaceMatchTheWholeDocument) {
  const std::string head = objectsLast(baseJob());
  const std::string front = head.substr(0, head.find("\"objects\":")) + "\"objects\":[";
  auto text = [](const std::string& run, const std::string& at = "[100, 200]") {
    return R"({"kind": "text", "at": )" + at + R"(, "runs": [{)" + run + "}]}";
  };
  auto withText = [&](const std::string& s) {
    return text(R"("text": ")" + s + R"(", "font": "Courier", "size": 9, "paint": 11)");
  };
  auto withPaint = [&](const std::string& p) {
    return text(R"("text": "x", "font": "Courier", "size": 9, "paint": )" + p);
  };
  const std::string run = R"("text": "x", "font": "Courier", "size": 9, "paint": 11)";
  auto withAt = [&](const std::string& at) {
    return text(R"("text": "x", "font": "Courier", "size": 9, "paint": 11)", at);
  };
  std::vector<std::pair<std::string, bool>> cases = {  // an entry, refused
      // escapes, non-ASCII text, empty strings
      {withText(R"(a\u00e9\n\"\\\/)"), false},
      {withText("Stra\xC3\x9F" "e \xC2\xA9 caf\xC3\xA9"), false},
      {withText(R"(\u00df\u00A9)"), false},
      {withText(""), false},
      {text(R"("text": "x", "font": "", "size": 9, "paint": 11)"), true},
      {text(R"("text": "x", "font": "Cour\u0069er", "size": 9, "paint": 11)"), false},
      {text(R"("te\u0078t": "x", "font": "Courier", "size": 9, "paint": 11)"), false},
      {withText(R"(\ud83d\ude00)"), true},  // a pair of surrogates: not in the font
      // lone surrogates and ill-formed UTF-8: refused by either parser
      {withText(R"(\ud800)"), true},
      {withText(R"(\udc00)"), true},
      {withText(R"(a\ud800\u0041)"), true},
      {withText(R"(\ud800\ud800)"), true},
      {withText("a\xC3"), true},
      {withText("\xC3(b"), true},
      {withText("\xED\xA0\x80"), true},
      {withText("\xC0\x80"), true},
      {withText("\xF4\x90\x80\x80"), true},
      {withText("\xFF"), true},
      // whole numbers: those read straight from the index and the others
      {withPaint("10"), false},
      {withPaint("11.0"), false},
      {withPaint("1.1e1"), false},
      {withPaint("-0"), true},
      {withPaint("99"), true},
      {withPaint("-1"), true},
      {withPaint("65536"), true},
      {withPaint("10.5"), true},
      {withPaint("\"10\""), true},
      {withPaint("9007199254740993"), true},
      {withPaint("18446744073709551615"), true},
      // points
      {withAt("[-1000000000, 1000000000]"), false},
      {withAt("[-0, 2.0]"), false},
      {withAt("[1000000001, 0]"), true},
      {withAt("[0, -1000000001]"), true},
      {withAt("[1.5, 2]"), true},
      {withAt("[1, \"2\"]"), true},
      {withAt("[1, \"a\", \"b\"]"), true},
      {withAt("[1, 2, 3]"), true},
      {withAt("[1]"), true},
      {withAt("[true, 1]"), true},
      {withAt("[[1], 2]"), true},
      {withAt("{\"v\": 1, \"h\": 2}"), true},
      // the text's own keys: those read in one walk and those read the long way
      {text(run, "[1, 2], \"at\": [3, 4]"), false},
      {text(run, "[1, 2], \"at\": \"x\""), true},
      {text(run, "[1, 2], \"width\": 100, \"height\": 50, \"leading\": 100000"), false},
      {text(run, "[1, 2], \"height\": 50"), true},
      {text(run, "[1, 2], \"height\": 0"), false},
      {text(run, "[1, 2], \"width\": -1"), true},
      {text(run, "[1, 2], \"leading\": 100001"), true},
      {text(run, "[1, 2], \"align\": \"centre\", \"perCharacter\": true"), false},
      {text(run, "[1, 2], \"align\": \"justify\", \"align\": \"right\""), false},
      {text(run, "[1, 2], \"align\": \"middle\""), true},
      {text(run, "[1, 2], \"align\": 2"), true},
      {text(run, "[1, 2], \"perCharacter\": 1"), true},
      {text(run, "[1, 2], \"matrix\": [1, 0, 0.5, 1]"), false},
      {text(run, "[1, 2], \"name\": \"t\", \"hidden\": true"), false},
      {text(run, "[1, 2], \"bounds\": [0, 0, 10, 10], \"stationNumber\": true"), false},
      {text(run, "[1, 2], \"colour\": 1"), true},
      {R"({"kind": "text", "at": [1, 2], "runs": []})", true},
      {R"({"kind": "text", "at": [1, 2], "runs": {}})", true},
      {R"({"kind": "text", "at": [1, 2]})", true},
      {R"({"kind": "text", "runs": [{)" + run + "}]}", true},
      {R"({"kind": "text", "kind": "text", "at": [1, 2], "runs": [{)" + run + "}]}", false},
      {R"({"kind": "Text", "at": [1, 2], "runs": [{)" + run + "}]}", true},
      // a run's members
      {text(run + R"(, "size": 0.1, "rise": -10000, "hscale": 1, "wordSpacing": 10000, "underline": true)"), false},
      {text(run + R"(, "size": 9.5, "tracking": 10000, "underline": false)"), false},
      {text(run + R"(, "size": 0.09)"), true},
      {text(run + R"(, "size": 10000.5)"), true},
      {text(run + R"(, "size": "9")"), true},
      {text(run + R"(, "tracking": 10001)"), true},
      {text(run + R"(, "hscale": 0.5)"), true},
      {text(run + R"(, "rise": 1e400)"), true},
      {text(run + R"(, "wordSpacing": "1")"), true},
      {text(run + R"(, "underline": 1)"), true},
      {text(run + R"(, "paint": 99, "paint": 10)"), false},
      {text(run + R"(, "text": "b", "font": "Courier")"), false},
      {text(run + R"(, "font": 5)"), true},
      {text(run + R"(, "text": 5)"), true},
      {text(run + R"(, "colour": 1)"), true},
      {text(R"("text": "x", "size": 9, "paint": 11)"), true},
      {text(R"("text": "x", "font": "NoSuchFont-Regular", "size": 9, "paint": 11)"), true},
      // a font name not installed after one of the same length, first and last letter
      {text(R"("text": "x", "font": "Courier", "size": 9, "paint": 11}, {"text": "y", "font": "Cabcder", "size": 9, "paint": 11)"), true},
      {text(R"("text": "x", "font": "Courier", "size": 9, "paint": 11}, {"text": "y", "font": "Courier", "size": 8, "paint": 10)"), false},
  };
  // Keys one byte away from keys of the format, at every byte: unknown.
  for (const std::string key : {"at", "kind", "paint", "tracking", "wordSpacing", "perCharacter"})
    for (std::size_t i = 0; i < key.size(); ++i) {
      std::string near = key;
      near[i] = char(near[i] ^ 0x20);
      const std::string extra = R"(, ")" + near + R"(": 1)";
      cases.emplace_back(text(R"("text": "x", "font": "Courier", "size": 9, "paint": 11)" + extra), true);
      cases.emplace_back(R"({"kind": "text", "at": [1, 2])" + extra + R"(, "runs": [{"text": "x", "font": "Courier", "size": 9, "paint": 11}]})",
                         true);
    }
  for (const auto& [entry, refused] : cases) {
    const std::string job = front + entry + "]}";
    const std::string whole = outcomeOf(job, false);
    EXPECT_EQ(whole.rfind("refused", 0) == 0, refused) << entry << "\n" << whole;
    for (const std::size_t window : {std::size_t(24), std::size_t(48), std::size_t(96), TavKernel::kJobStreamWindow})
      EXPECT_EQ(outcomeOf(job, true, window), whole) << entry << " through " << window;
    const std::size_t before = TavKernel::jobStreamFallbacks();
    EXPECT_EQ(outcomeOf(job, true), whole) << entry;
    EXPECT_EQ(TavKernel::jobStreamFallbacks() - before, refused ? 1u : 0u) << entry;
  }
}

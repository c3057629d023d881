// The text calculator: the signals between characters, where lines and
// letters go, and the text as outlines.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "platform/fonts/fontcache.h"
#include "platform/fonts/fontface.h"
#include "platform/fonts/textcalc.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"

namespace {

// A job of 720 units per inch (10 units a point) holding one text object.
std::unique_ptr<jobstr> textJob(const std::string& text) {
  return TavKernel::loadJobFromMemory(
      R"({"ppi":720,"boxes":{"media":[0,0,14400,14400]},"inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}},{"id":2,"inks":{"Black":50}}],)"
      R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2}],"objects":[)" +
          text + "]}",
      "/nonexistent", "job.json");
}

TavDB::Object* firstText(jobstr* job) {
  TavDB::ListScan scan(jobGetSpahan(job), TavDB::kObjText, 0);
  return scan.next();
}

// The calculator's output as text: characters as they are, signals as [n].
std::string signals(const std::string& runs, const std::string& more = "") {
  auto job = textJob(R"({"kind":"text","at":[1000,1000])" + more + R"(,"runs":[)" + runs + "]}");
  TextCalc calc = texcalini(job.get(), firstText(job.get()));
  std::string out;
  for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
    if (code >= 32) {
      out.push_back(char(code));
      continue;
    }
    out += "[" + std::to_string(code) + "]";
    if (code == kTextEnd) break;
  }
  return out;
}

std::string run(const std::string& text, const std::string& more = "") {
  return R"({"text":")" + text + R"(","font":"Courier","size":10,"paint":10)" + more + "}";
}

TEST(TextCalculator, SignalsBetweenCharacters) {
  const struct {
    const char* what;
    std::string runs;
    const char* expected;
  } cases[] = {
      {"one run", run("ab cd"), "ab cd[31]"},
      {"kerning pair", R"({"text":"AVA","font":"NimbusSans-Regular","size":10,"paint":10})", "A[1]V[1]A[31]"},
      {"word spacing", run("a b", R"(,"wordSpacing":100)"), "a [1]b[31]"},
      {"new line", run("a\\nb"), "a[2]b[31]"},
      {"empty lines and a last line break", run("\\na\\n\\nb\\n"), "[2]a[2][2]b[2][31]"},
      {"other font", run("a") + "," + R"({"text":"b","font":"Times-Roman","size":10,"paint":10})", "a[-3]b[31]"},
      {"other size", run("a") + "," + R"({"text":"b","font":"Courier","size":12,"paint":10})", "a[-3]b[31]"},
      {"tracking", run("a") + "," + run("b", R"(,"tracking":50)"), "a[-5]b[31]"},
      {"size and tracking", run("a") + "," + R"({"text":"b","font":"Courier","size":12,"paint":10,"tracking":5})", "a[-1]b[31]"},
      {"horizontal scale", run("a") + "," + run("b", R"(,"hscale":50)"), "a[-7]b[31]"},
      {"paint", run("a") + "," + run("b", R"(,"paint":11)"), "a[0]b[31]"},
      {"rise", run("a") + "," + run("b", R"(,"rise":3)"), "a[1]b[31]"},
      {"underline then plain", run("ab", R"(,"underline":true)") + "," + run("cd", R"(,"paint":11)"), "ab[30][0]cd[31]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(signals(c.runs), c.expected);
  }
}

TEST(TextCalculator, ParametersFollowTheSignals) {
  auto job = textJob(R"({"kind":"text","at":[0,0],"align":"justify","runs":[)" +
                     run("a", R"(,"tracking":10,"hscale":80)") + "," +
                     R"({"text":"b","font":"Times-Roman","size":20,"paint":11,"wordSpacing":250}]})");
  TextCalc calc = texcalini(job.get(), firstText(job.get()));
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job.get());
  TextParameters p;
  texcalpars(calc.get(), p);
  EXPECT_EQ(p.fontId, cache->FontId("Courier"));
  EXPECT_EQ(p.paint, 10);
  EXPECT_EQ(p.alignment, 3);
  EXPECT_EQ(p.charSpacing, 65536);  // 10/1000 em
  EXPECT_EQ(p.horizontalScale, 80 * 65536);
  EXPECT_EQ(p.wordSpacing, kNormalWordSpacing);
  EXPECT_DOUBLE_EQ(texcalSize(calc.get()), 100.0);  // 10 pt at 720 ppi
  while (texcalnex(calc.get()) != 'b') {
  }
  texcalpars(calc.get(), p);
  EXPECT_EQ(p.fontId, cache->FontId("Times-Roman"));
  EXPECT_EQ(p.paint, 11);
  EXPECT_EQ(p.charSpacing, 0);
  // Times' blank is 250 units wide: 250 more is twice the blank.
  EXPECT_EQ(p.wordSpacing, 2 * kNormalWordSpacing);
  EXPECT_DOUBLE_EQ(texcalSize(calc.get()), 200.0);
}

// Start (h) of every character, in points from the text's start, by line.
std::vector<std::vector<double>> letterStarts(jobstr* job, double& lineGap) {
  TextCalc calc = texcalini(job, firstText(job));
  std::vector<std::vector<double>> lines;
  double lastV = 1e300, firstV = 0;
  for (int code = texcalnex(calc.get()); code != kTextEnd; code = texcalnex(calc.get())) {
    if (code < 32) continue;
    double v, h;
    GetTextLetterPosition(calc.get(), v, h);
    if (v != lastV) {
      if (lines.size() == 1) lineGap = (v - firstV) / 10.0;
      if (lines.empty()) firstV = v;
      lines.emplace_back();
      lastV = v;
    }
    lines.back().push_back(h / 10.0 - 100.0);
  }
  return lines;
}

TEST(TextCalculator, LinesInTheFrame) {
  // Courier at 10 pt: 6 pt a character. A frame of 50 pt takes "aaa bbb "
  // (42 pt without its blank) and leaves "ccc" for the second line.
  const struct {
    const char* align;
    const char* width;
    double first, second, b;  // where line 1, line 2 and its "b" start
  } cases[] = {
      {"left", "500", 0, 0, 24},
      {"centre", "500", 4, 16, 28},
      {"right", "500", 8, 32, 32},
      {"justify", "500", 0, 0, 32},
      {"centre", "0", -21, -9, 0},  // unframed: about the start point
      {"right", "0", -42, -18, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.align) + " " + c.width);
    auto job = textJob(std::string(R"({"kind":"text","at":[1000,1000],"align":")") + c.align +
                       R"(","width":)" + c.width + R"(,"runs":[)" +
                       run(std::string("aaa bbb ") + (c.width[0] == '0' ? "\\n" : "") + "ccc") +
                       "]}");
    double gap = 0;
    const auto lines = letterStarts(job.get(), gap);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NEAR(lines[0].front(), c.first, 1e-9);
    EXPECT_NEAR(lines[1].front(), c.second, 1e-9);
    if (c.b != 0) {
      EXPECT_NEAR(lines[0][4], c.b, 1e-9);
    }
    EXPECT_NEAR(gap, 12.0, 1e-9);  // 1.2 x 10 pt
  }
}

TEST(TextCalculator, MatrixRiseAndScale) {
  auto job = textJob(R"({"kind":"text","at":[1000,1000],"matrix":[0,-1,1,0],"leading":20,"runs":[)" +
                     run("ab", R"(,"hscale":50,"rise":2)") + "]}");
  TextCalc calc = texcalini(job.get(), firstText(job.get()));
  double m[4];
  texcalbasematppi(calc.get(), 720, m);
  EXPECT_EQ(std::vector<double>(m, m + 4), (std::vector<double>{0, -720, 720, 0}));
  std::vector<std::pair<double, double>> at;
  for (int code = texcalnex(calc.get()); code != kTextEnd; code = texcalnex(calc.get())) {
    double v, h;
    GetTextLetterPosition(calc.get(), v, h);
    at.emplace_back(v, h);
  }
  // Letters run upwards; 3 pt apart at half width; the rise moves them 2 pt
  // "up" in the text's own space, which the matrix turns to the left.
  ASSERT_EQ(at.size(), 2u);
  EXPECT_NEAR(at[0].first, 1000, 1e-9);
  EXPECT_NEAR(at[0].second, 980, 1e-9);
  EXPECT_NEAR(at[1].first, 970, 1e-9);
  EXPECT_NEAR(at[1].second, 980, 1e-9);
}

TEST(TextCalculator, UnderlineFollowsTheInkedCharacters) {
  auto job = textJob(R"({"kind":"text","at":[1000,1000],"runs":[)" + run("ab  ", R"(,"underline":true)") + "]}");
  TextCalc calc = texcalini(job.get(), firstText(job.get()));
  std::vector<TextRulePolygon> rules;
  for (int code = texcalnex(calc.get()); code != kTextEnd; code = texcalnex(calc.get())) {
  }
  ASSERT_EQ(texcalrul(calc.get(), nullptr, kTextEnd, rules), 1);
  // From the first letter to the end of "b" (the blanks at the end are not
  // underlined), below the baseline.
  EXPECT_NEAR(rules[0][0][1], 1000, 1e-9);
  EXPECT_NEAR(rules[0][1][1], 1120, 1e-9);
  EXPECT_GT(rules[0][0][0], 1000);
  EXPECT_GT(rules[0][2][0], rules[0][0][0]);
}

// Text boxes hang their first line by its ascent from the box's top and set
// no line whose baseline falls below the box. Courier at 10 pt: "aaa bbb "
// fills the 50 pt frame, "ccc" the second line, 12 pt lower.
TEST(TextCalculator, TextBoxesHangTheirLinesAndStopAtTheBottom) {
  const double ascent = Fonts::FindFontFace("Courier")->ascent() / 100.0;  // points at 10 pt
  const struct {
    const char* what;
    double height;  // points
    std::size_t lines;
  } cases[] = {
      {"both lines", ascent + 12, 2},
      {"the second line's baseline lies below", ascent + 11.9, 1},
      {"not even the first line", ascent - 0.1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = textJob(R"({"kind":"text","at":[1000,1000],"width":500,"height":)" + std::to_string(c.height * 10) +
                       R"(,"runs":[)" + run("aaa bbb ccc") + "]}");
    TavGen::MessageCapture messages;
    for (int pass = 0; pass < 2; ++pass) {
      double gap = 0;
      const auto lines = letterStarts(job.get(), gap);
      EXPECT_EQ(lines.size(), c.lines);
    }
    EXPECT_EQ(messages.count("PDF/TEXT DOES NOT FIT"), c.lines == 2 ? 0 : 1);  // once per text
    if (c.lines == 0) continue;
    TextCalc calc = texcalini(job.get(), firstText(job.get()));
    EXPECT_NEAR(texcalFirstBaseline(calc.get()), ascent, 1e-9);
    ASSERT_EQ(texcalnex(calc.get()), 'a');
    double v, h;
    GetTextLetterPosition(calc.get(), v, h);
    EXPECT_NEAR(v, 1000 + ascent * 10, 1e-6);
    EXPECT_NEAR(h, 1000, 1e-9);
  }
}

// Texts along a path: each letter stands on the path where its middle falls,
// turned with the path; alignment uses the path's length. Courier at 10 pt
// (6 pt a letter; 10 job units a point).
TEST(TextCalculator, TextsAlongAPath) {
  struct Letter {
    double v, h;     // where it starts, job units
    double tv, th;   // the path's direction there
  };
  const struct {
    const char* what;
    std::string path, align, runMore;
    std::vector<Letter> letters;
    bool warns;
  } cases[] = {
      {"rightwards", "[[1000,1000],[1000,3000]]", "left", "", {{1000, 1000, 0, 1}, {1000, 1060, 0, 1}}, false},
      {"downwards: the letters' tops face right", "[[1000,1000],[3000,1000]]", "left", "",
       {{1000, 1000, 1, 0}, {1060, 1000, 1, 0}}, false},
      {"centred in the path's length", "[[1000,1000],[1000,3000]]", "centre", "",
       {{1000, 1940, 0, 1}, {1000, 2000, 0, 1}}, false},
      {"right", "[[1000,1000],[1000,3000]]", "right", "", {{1000, 2880, 0, 1}, {1000, 2940, 0, 1}}, false},
      {"risen off the path", "[[1000,1000],[1000,3000]]", "left", R"(,"rise":2)",
       {{980, 1000, 0, 1}, {980, 1060, 0, 1}}, false},
      // "b"'s middle lies 3 pt past the corner: it stands on the downward leg.
      {"round a corner", "[[1000,1000],[1000,1060],[3000,1060]]", "left", "",
       {{1000, 1000, 0, 1}, {1000, 1060, 1, 0}}, false},
      // 9 pt: "a" and "b" have their middles on it (3 and 9 pt), "c" not.
      {"longer than its path", "[[1000,1000],[1000,1090]]", "left", "", {{1000, 1000, 0, 1}, {1000, 1060, 0, 1}},
       true},
      {"a curve: a quarter circle", "[[1000,1000],[1000,1552,1448,2000,2000,2000]]", "left", "",
       {{1000, 1000, 0.0, 1.0}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string letters = c.letters.size() == 1 ? "a" : c.warns ? "abc" : "ab";
    auto job = textJob(R"({"kind":"text","align":")" + c.align + R"(","path":)" + c.path + R"(,"runs":[)" +
                       run(letters, c.runMore) + "]}");
    ASSERT_TRUE(job);
    TavGen::MessageCapture messages;
    TextCalc calc = texcalini(job.get(), firstText(job.get()));
    std::string stream;
    std::size_t n = 0;
    for (int code = texcalnex(calc.get()); code != kTextEnd; code = texcalnex(calc.get())) {
      if (code < 32) {
        stream += "[" + std::to_string(code) + "]";
        continue;
      }
      stream.push_back(char(code));
      ASSERT_LT(n, c.letters.size());
      double v, h, m[4];
      GetTextLetterPosition(calc.get(), v, h);
      texcalbasematppi(calc.get(), 720, m);
      const Letter& want = c.letters[n++];
      // The first letter of the curve leaves the start nearly straight on.
      const double tolerance = c.letters.size() == 1 ? 2 : 1e-6;
      EXPECT_NEAR(v, want.v, tolerance) << stream;
      EXPECT_NEAR(h, want.h, tolerance) << stream;
      EXPECT_NEAR(m[0], want.th * 720, tolerance * 100) << stream;
      EXPECT_NEAR(m[1], want.tv * 720, tolerance * 100) << stream;
      EXPECT_NEAR(m[2], -want.tv * 720, tolerance * 100) << stream;
      EXPECT_NEAR(m[3], want.th * 720, tolerance * 100) << stream;
    }
    EXPECT_EQ(n, c.letters.size());
    // Every letter stands on its own.
    if (n == 2) {
      EXPECT_EQ(stream, "a[1]b");
    }
    EXPECT_EQ(messages.count("PDF/TEXT DOES NOT FIT"), c.warns ? 1 : 0);
  }
}

TEST(TextCalculator, RulesAndOutlinesFollowThePath) {
  auto job = textJob(R"({"kind":"text","path":[[1000,1000],[3000,1000]],"runs":[)" + run("Hi", R"(,"underline":true)") +
                     "]}");
  TextCalc calc = texcalini(job.get(), firstText(job.get()));
  while (texcalnex(calc.get()) != kTextEnd) {
  }
  std::vector<TextRulePolygon> rules;
  // One piece per letter, each lying across the downward path to the left of
  // it (below the letters, whose tops face right), 6 pt long.
  ASSERT_EQ(texcalrul(calc.get(), nullptr, kTextEnd, rules), 2);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_LT(rules[i][0][1], 1000);
    EXPECT_NEAR(rules[i][1][0] - rules[i][0][0], 60, 1e-6);
    EXPECT_NEAR(rules[i][0][0], 1000 + 60.0 * double(i), 1e-6);
  }
  auto group = texhivecget(job.get(), firstText(job.get()), 1);
  ASSERT_TRUE(group);
  const TavDB::tv_box& h = group->member(0)->bounds();
  // The H turned a quarter: along the path within its 6 pt, standing to the
  // right of it up to its cap height.
  EXPECT_GE(h.top, 1000);
  EXPECT_LE(h.bottom, 1060);
  EXPECT_GE(h.left, 998);
  EXPECT_GT(h.right, 1040);
  EXPECT_LT(h.right, 1070);
  // The laid-out text's box covers the letters as they stand on the path,
  // and the rules.
  const TavDB::tv_box box = texcalbounds(job.get(), firstText(job.get()));
  const TavDB::tv_box& all = group->bounds();
  EXPECT_NEAR(box.top, all.top, 2);
  EXPECT_NEAR(box.left, all.left, 2);
  EXPECT_NEAR(box.bottom, all.bottom, 2);
  EXPECT_NEAR(box.right, all.right, 2);
}

TEST(TextCalculator, WhatCannotBeSetIsLeftOutWithAWarning) {
  auto job = textJob(R"({"kind":"text","at":[0,0],"runs":[)" + run("ab") + "," + run("cd") + "]}");
  TavDB::Object* text = firstText(job.get());
  text->textMut()->runs[0].text = "a\xe4\xb8\x80" "b";  // U+4E00 is not in Courier
  text->textMut()->runs[1].font = "NoSuchFont";
  TavGen::MessageCapture messages;
  for (int pass = 0; pass < 2; ++pass) {
    TextCalc calc = texcalini(job.get(), text);
    std::string shown;
    for (int code = texcalnex(calc.get()); code != kTextEnd; code = texcalnex(calc.get())) {
      if (code >= 32) shown.push_back(char(code));
    }
    EXPECT_EQ(shown, "ab");
  }
  EXPECT_EQ(messages.count("PDF/CHARACTER NOT IN FONT"), 1);  // once per job
  EXPECT_EQ(messages.count("PDF/FONT NOT INSTALLED"), 1);
  EXPECT_FALSE(textCheckPaintAndFont(job.get(), text));
}

TEST(TextCalculator, OutlinesOfTheCharactersAndRules) {
  auto job = textJob(R"({"kind":"text","at":[1000,1000],"runs":[)" + run("Ho", R"(,"underline":true)") +
                     "," + run(" x", R"(,"paint":11)") + "]}");
  EXPECT_TRUE(textCheckPaintAndFont(job.get(), firstText(job.get())));
  auto group = texhivecget(job.get(), firstText(job.get()), 1);
  ASSERT_TRUE(group);
  // H, o (two contours: a compound path), x and the rule; the blank has no outline.
  ASSERT_EQ(group->memberCount(), 4u);
  EXPECT_EQ(group->member(1)->kind(), TavDB::ObjectKind::Compound);
  EXPECT_EQ(group->member(2)->paint(), 11);
  const TavDB::tv_box& h = group->member(0)->bounds();
  // Courier's H lies within its 6 pt cell, on the baseline.
  EXPECT_GE(h.left, 1000);
  EXPECT_LE(h.right, 1060);
  EXPECT_NEAR(h.bottom, 1000, 2);
  EXPECT_LT(h.top, 960);
}

// The laid-out box of a text holds every point its outlines reach and, for
// an upright text, no more than the outlines' own box (control points
// included), whatever the alignment, lines, scale or rules. A turned text's
// box holds its turned glyph boxes, a little more than the letters.
TEST(TextCalculator, LaidOutBoxIsWhatTheCharactersCover) {
  const struct {
    const char* what;
    std::string text;
    int slack = 1;  // job units the box may reach beyond the outlines
  } cases[] = {
      {"left", R"({"kind":"text","at":[3000,3000],"runs":[)" + run("Station 1") + "]}"},
      {"centred, tracked, bold",
       R"({"kind":"text","at":[3000,3000],"align":"centre","runs":[{"text":"Station 1","font":"NimbusSans-Bold","size":10,"paint":10,"tracking":20}]})"},
      {"right, two lines", R"({"kind":"text","at":[3000,3000],"align":"right","runs":[)" + run("ab\\nlonger line") + "]}"},
      {"framed and justified",
       R"({"kind":"text","at":[3000,3000],"width":600,"align":"justify","runs":[)" + run("one two three four five six") + "]}"},
      {"scaled, risen, underlined", R"({"kind":"text","at":[3000,3000],"runs":[)" +
                                        run("gyp", R"(,"hscale":150,"rise":4,"underline":true)") + "]}"},
      {"turned 30 degrees", R"({"kind":"text","at":[3000,3000],"matrix":[0.866,-0.5,0.5,0.866],"runs":[)" +
                                run("Turned text") + "]}", 20},
      {"italic overhang", R"({"kind":"text","at":[3000,3000],"runs":[{"text":"fff","font":"NimbusRoman-Italic","size":40,"paint":10}]})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = textJob(c.text);
    TavDB::Object* text = firstText(job.get());
    const TavDB::tv_box box = texcalbounds(job.get(), text);
    ASSERT_FALSE(box.isEmpty());
    auto outlines = texhivecget(job.get(), text, 1);
    ASSERT_TRUE(outlines);
    const TavDB::tv_box reach = outlines->bounds();  // control points included
    EXPECT_GE(box.top, reach.top - c.slack);
    EXPECT_GE(box.left, reach.left - c.slack);
    EXPECT_LE(box.bottom, reach.bottom + c.slack);
    EXPECT_LE(box.right, reach.right + c.slack);
    std::vector<const TavDB::Object*> todo{outlines.get()};
    while (!todo.empty()) {
      const TavDB::Object* o = todo.back();
      todo.pop_back();
      for (const auto& m : o->members()) todo.push_back(m.get());
      for (const TavDB::PathPoint& p : o->points()) {
        if (p.type == TavDB::PathPoint::kControl) continue;
        EXPECT_TRUE(p.v >= box.top - 1 && p.v <= box.bottom + 1 && p.h >= box.left - 1 && p.h <= box.right + 1)
            << p.v << ", " << p.h << " outside " << box.top << " " << box.left << " " << box.bottom << " " << box.right;
      }
    }
  }
  // Nothing to set: no box.
  auto blank = textJob(R"({"kind":"text","at":[3000,3000],"runs":[)" + run("   ") + "]}");
  EXPECT_TRUE(texcalbounds(blank.get(), firstText(blank.get())).isEmpty());
}

}  // namespace

namespace {

// Every point of a text's outlines, flattened in order, with its kind.
std::vector<std::array<std::int32_t, 3>> outlinePoints(const TavDB::Object& group) {
  std::vector<std::array<std::int32_t, 3>> points;
  std::vector<const TavDB::Object*> todo{&group};
  while (!todo.empty()) {
    const TavDB::Object* o = todo.back();
    todo.pop_back();
    for (auto m = o->members().rbegin(); m != o->members().rend(); ++m) todo.push_back(m->get());
    for (const TavDB::PathPoint& p : o->points()) points.push_back({p.v, p.h, std::int32_t(p.type)});
    points.push_back({o->paint(), int(o->kind()), -1});
  }
  return points;
}

const char* const kOutlineFonts[] = {"NimbusSans-Regular", "NimbusRoman-BoldItalic", "NimbusMonoPS-Bold",
                                     "StandardSymbolsPS", "D050000L"};

void limitOutlines(std::size_t segments) {
  for (const char* font : kOutlineFonts) Fonts::FindFontFace(font)->limitKeptOutlines(segments);
}

// Texts turned into outlines from the outlines their faces keep are the
// texts turned from outlines read afresh for every character: sizes, turns,
// shears, scales, rises and texts along a path, in several fonts.
TEST(TextCalculator, OutlinesFromKeptGlyphsAreThoseFromGlyphsReadAfresh) {
  std::string runs;
  const char* sizes[] = {"6", "9.5", "24", "61.3", "7"};
  for (std::size_t f = 0; f < std::size(kOutlineFonts); ++f) {
    if (!runs.empty()) runs += ",";
    // The symbol fonts with characters they hold.
    const char* letters = f == 3 ? "\u03b1\u03b2\u03a3\u03a9 \u2211\u222b" : f == 4 ? "\u2708\u2713\u2764 \u275d" : "Hamburgefonts Qg&%ag";
    runs += std::string(R"({"text":")") + letters + (f == 1 ? R"(","hscale":83,"rise":2.5)" : "\"") +
            R"(,"font":")" + kOutlineFonts[f] + R"(","size":)" + sizes[f] + R"(,"paint":)" + (f % 2 ? "11" : "10") +
            (f == 2 ? R"(,"underline":true)" : "") + "}";
  }
  const struct {
    const char* what;
    std::string placing;
  } cases[] = {
      {"upright", R"("at":[1000,1000])"},
      {"turned 30 degrees", R"("at":[3000,2000],"matrix":[0.866,-0.5,0.5,0.866])"},
      {"upside down, mirrored", R"("at":[-2500,7000],"matrix":[-1,0,0,1])"},
      {"sheared and scaled", R"("at":[1234,4321],"matrix":[1.7,0.1,0.4,0.6])"},
      {"framed and justified", R"("at":[500,500],"width":1500,"align":"justify")"},
      {"along a curve", R"("path":[[2000,2000],[2000,6000,6000,9000,9000,9000]])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto job = textJob(R"({"kind":"text",)" + c.placing + R"(,"runs":[)" + runs + "]}");
    TavDB::Object* text = firstText(job.get());
    limitOutlines(0);
    const auto afresh = texhivecget(job.get(), text, 1);
    limitOutlines(Fonts::FontFace::kMaxKeptSegments);
    const auto reading = texhivecget(job.get(), text, 1);
    const auto kept = texhivecget(job.get(), text, 1);
    ASSERT_TRUE(afresh && reading && kept);
    const auto expected = outlinePoints(*afresh);
    EXPECT_GT(expected.size(), 2000u);
    EXPECT_TRUE(outlinePoints(*reading) == expected);
    EXPECT_TRUE(outlinePoints(*kept) == expected);
  }
}

// The outlines' points round to job units as std::lround does, halves away
// from zero, within +-1e9 units.
TEST(TextCalculator, OutlinePointsRoundAsLround) {
  const double values[] = {0,     -0.0,  0.5,   -0.5,  1.5,        -1.5,        2.5,          -2.5,
                           0.49999999999999994, -0.49999999999999994, 1e9 - 0.5, -(1e9 - 0.5), 123456.4999,
                           -123456.5000001, 1e9, -1e9, 3e9, -3e9, 1e300, -1e300, 4503599627370495.5, 0.7, -0.7};
  for (double v : values) {
    EXPECT_EQ(roundToJobUnits(v), std::int32_t(std::lround(std::clamp(v, -1e9, 1e9)))) << v;
  }
  for (std::int64_t i = -5000; i <= 5000; ++i) {
    const double v = double(i) * 0.25 + double(i % 7) * 1e-12;
    ASSERT_EQ(roundToJobUnits(v), std::int32_t(std::lround(v))) << v;
  }
}

}  // namespace
// Texts on real fonts at their edges: kerning, tracking and scale, word
// spacing in one of two runs, characters beyond ASCII and one no font has,
// frames in every alignment, unframed alignment, empty runs and lines,
// sizes and rise, per-character mode, a path and a font not installed.
struct EdgeText {
  const char* what;
  std::string object;
  // What the job file may not hold, put in after it is read: the text of a
  // run, and a run's font.
  int run = -1;
  std::string text = "", font = "";
};
std::vector<EdgeText> edgeTexts() {
  const auto sans = [](const std::string& text, const std::string& more = "") {
    return R"({"text":")" + text + R"(","font":"NimbusSans-Regular","size":11,"paint":10)" + more + "}";
  };
  const auto at = [](const std::string& more, const std::string& runs) {
    return R"({"kind":"text","at":[1000,1000])" + more + R"(,"runs":[)" + runs + "]}";
  };
  const std::string wrapped = sans("AVA Wave To Ty, WAVE. Yo! LT AV Pa Te Vo aw") + "," +
                              sans(" Fee fi fo", R"(,"tracking":30)");
  return {
      {"kerning pairs", at("", sans("AVA Wave To Ty, WAVE. Yo! LT"))},
      {"tracking and scale", at("", run("To be", R"(,"tracking":40,"hscale":80)") + "," + sans("To be", R"(,"tracking":-20,"hscale":120)"))},
      {"word spacing in one of two runs", at("", sans("AV a To ", R"(,"wordSpacing":300)") + "," + sans("Va To y"))},
      // Its own, though it moves no letter: the writer still cuts after each blank.
      {"word spacing too small to see", at("", sans(" To  be or", R"(,"wordSpacing":0.00001)"))},
      {"beyond ASCII", at("", sans("na\u00efve caf\u00e9 Stra\u00dfe \u00a9 \u00c5V") + "," + run("ab")), 1,
       "\u00e4\u4e00b"},  // U+4E00 is in no installed font
      {"frame, left", at(R"(,"width":600)", wrapped)},
      {"frame, centre", at(R"(,"width":600,"align":"centre")", wrapped)},
      {"frame, right", at(R"(,"width":600,"align":"right")", wrapped)},
      {"frame, justify", at(R"(,"width":600,"align":"justify")", wrapped)},
      {"a word longer than its frame", at(R"(,"width":100,"align":"justify")", sans("WAVEWAVEWAVE AV"))},
      {"unframed centre", at(R"(,"align":"centre")", sans("AVA To\\nWa"))},
      {"unframed right", at(R"(,"align":"right","leading":15)", sans("AVA To  \\n\\nWa"))},
      {"empty runs", at("", sans("") + "," + sans("AV") + "," + run("") + "," + sans("AV") + "," + sans(""))},
      {"paragraphs and empty lines", at("", sans("\\nAV\\n\\nTo\\n"))},
      {"sizes and rise", at("", sans("Ty") + "," + R"({"text":"Ty","font":"Times-Roman","size":20,"paint":11,"rise":3})" + "," +
                                    sans("Ty") + "," + sans("Ty", R"(,"rise":3)") + "," + sans("Ty"))},
      {"underlined", at("", sans("To be ", R"(,"underline":true)") + "," + sans("AV"))},
      {"per character", at(R"(,"perCharacter":true)", sans("AVA To"))},
      {"along a path", R"({"kind":"text","path":[[1000,1000],[1000,5000]],"runs":[)" + sans("AVA To") + "]}"},
      {"a font not installed", at("", sans("AV") + "," + sans("x\\ny") + "," + sans("AV")), 1, "", "NoSuchFont"},
  };
}

// What the calculator gives one character at a time.
struct Given {
  int code;
  double v = 0, h = 0;  // letters only
  TextParameters p;
};
std::unique_ptr<jobstr> edgeJob(const EdgeText& t) {
  auto job = textJob(t.object);
  if (job && t.run >= 0) {
    TavDB::TextRun& run = firstText(job.get())->textMut()->runs.at(std::size_t(t.run));
    if (!t.text.empty()) run.text = t.text;
    if (!t.font.empty()) run.font = t.font;
  }
  return job;
}

std::vector<Given> oneByOne(jobstr* job) {
  TextCalc calc = texcalini(job, firstText(job));
  std::vector<Given> out;
  for (int code = texcalnex(calc.get());; code = texcalnex(calc.get())) {
    Given g{code, 0, 0, TextParameters{}};
    if (code >= 32) GetTextLetterPosition(calc.get(), g.v, g.h);
    texcalpars(calc.get(), g.p);
    out.push_back(g);
    if (code == kTextEnd) break;
  }
  return out;
}

bool sameParameters(const TextParameters& a, const TextParameters& b) {
  return a.paint == b.paint && a.fontId == b.fontId && a.alignment == b.alignment &&
         a.charSpacing == b.charSpacing && a.horizontalScale == b.horizontalScale &&
         a.wordSpacing == b.wordSpacing && a.rise == b.rise;
}

// A writer taking stretches sees the characters, signals, places and
// parameters that one taking each character sees.
TEST(TextCalculator, StretchesAreTheCharactersOneByOne) {
  for (const EdgeText& t : edgeTexts()) {
    SCOPED_TRACE(t.what);
    TavGen::MessageCapture messages;
    auto job = edgeJob(t);
    ASSERT_TRUE(job);
    const std::vector<Given> each = oneByOne(job.get());
    for (const bool whole : {true, false}) {
      SCOPED_TRACE(whole ? "whole stretches" : "one character each");
      TextCalc calc = texcalini(job.get(), firstText(job.get()));
      std::size_t k = 0, stretches = 0;
      TextStretch s;
      for (int code = texcalnexstretch(calc.get(), whole, s);; code = texcalnexstretch(calc.get(), whole, s)) {
        ASSERT_LT(k, each.size());
        // Whole stretches bring the break before them along.
        if (whole) {
          EXPECT_NE(code, kTextBreak);
        }
        if (s.afterBreak) {
          EXPECT_TRUE(whole);
          EXPECT_EQ(each[k].code, kTextBreak);
          ++k;
          ASSERT_LT(k, each.size());
        }
        EXPECT_EQ(code, each[k].code);
        if (code < 32) {
          EXPECT_TRUE(s.codes.empty());
          ++k;
          if (code == kTextEnd) break;
          continue;
        }
        ++stretches;
        ASSERT_FALSE(s.codes.empty());
        EXPECT_EQ(s.v, each[k].v);
        EXPECT_EQ(s.h, each[k].h);
        if (!whole) {
          EXPECT_EQ(s.codes.size(), 1u);
        }
        for (std::size_t i = 0; i < s.codes.size(); ++i) {
          ASSERT_LT(k, each.size());
          EXPECT_EQ(static_cast<unsigned char>(s.codes[i]), each[k].code);
          // Only its last character may be a blank of its own spacing.
          if (i + 1 < s.codes.size()) {
            EXPECT_FALSE(each[k].code == ' ' && each[k].p.wordSpacing != kNormalWordSpacing)
                << "stretch " << stretches << " goes on after a blank of its own spacing";
          }
          ++k;
        }
        // The last one's place and parameters are in force.
        const Given& last = each[k - 1];
        double v, h;
        GetTextLetterPosition(calc.get(), v, h);
        EXPECT_EQ(v, last.v);
        EXPECT_EQ(h, last.h);
        TextParameters p;
        texcalpars(calc.get(), p);
        EXPECT_TRUE(sameParameters(p, last.p));
        // A whole stretch ends at a signal or after a blank of its own spacing.
        if (whole && k < each.size()) {
          EXPECT_TRUE(each[k].code < 32 || (last.code == ' ' && last.p.wordSpacing != kNormalWordSpacing))
              << "stretch " << stretches << " ends before " << each[k].code;
        }
      }
      EXPECT_EQ(k, each.size());
    }
  }
}

// The characters' places worked out here from the fonts' metrics, by the
// rules the calculator's header states (not along a path).
struct RefChar {
  double x = 0, y = 0, show = 0, advance = 0, size = 0, rise = 0;
  bool blank = false;
  int line = 0;
};
std::vector<RefChar> referenceLayout(jobstr* job) {
  const TavDB::TextData& text = *firstText(job)->text();
  TavricCore::FontCache* cache = TavricCore::jobGetFontCache(job);
  std::vector<std::vector<RefChar>> paragraphs(1);
  std::vector<double> paragraphSize(1, text.runs.empty() ? 0 : text.runs[0].size);
  for (const TavDB::TextRun& run : text.runs) {
    const int id = cache->FontId(run.font);
    const double hscale = run.horizontalScale / 100;
    std::size_t previousPara = 0, previousIndex = SIZE_MAX;
    int previousGlyph = -1;
    for (std::size_t pos = 0; pos < run.text.size();) {
      const char32_t ch = TavricCore::NextCharacter(run.text, pos);
      if (ch == U'\n') {
        paragraphs.emplace_back();
        paragraphSize.push_back(run.size);
        continue;
      }
      const int code = id >= 0 ? cache->Encode(id, ch) : -1;
      if (code < 0) continue;
      const int glyph = cache->GlyphOfCode(id, code);
      const Fonts::FontFace& face = *cache->Face(id);
      RefChar c;
      c.blank = ch == U' ';
      c.size = run.size;
      c.rise = run.rise;
      c.show = ((glyph >= 0 ? face.emAdvance(glyph) : 0) * run.size + run.tracking / 1000 * run.size) * hscale;
      c.advance = c.show + (c.blank ? run.wordSpacing / 1000 * run.size * hscale : 0);
      // Kerned with the character before it of the same run, line break or not.
      if (previousIndex != SIZE_MAX) {
        paragraphs[previousPara][previousIndex].advance +=
            face.kerning(previousGlyph, glyph) / 1000 * run.size * hscale;
      }
      paragraphs.back().push_back(c);
      previousPara = paragraphs.size() - 1;
      previousIndex = paragraphs.back().size() - 1;
      previousGlyph = glyph;
    }
  }
  const double frame = text.width / 10;
  std::vector<RefChar> out;
  double baseline = 0;
  int lineNumber = 0;
  for (std::size_t pi = 0; pi < paragraphs.size(); ++pi) {
    std::vector<RefChar>& para = paragraphs[pi];
    // Lines: [begin, end) and whether the paragraph ends with it.
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    std::size_t begin = 0, breakAt = 0;
    double width = 0;
    for (std::size_t i = 0; frame > 0 && i < para.size(); ++i) {
      width += para[i].advance;
      if (para[i].blank) {
        breakAt = i + 1;
      } else if (width > frame + 1e-9 && breakAt > begin) {
        lines.emplace_back(begin, breakAt);
        begin = breakAt;
        width = 0;
        for (std::size_t j = begin; j <= i; ++j) width += para[j].advance;
      }
    }
    lines.emplace_back(begin, para.size());
    for (std::size_t l = 0; l < lines.size(); ++l, ++lineNumber) {
      const auto [from, to] = lines[l];
      double largest = from == to ? paragraphSize[pi] : 0, natural = 0;
      std::size_t ink = from;
      int blanks = 0;
      for (std::size_t i = from; i < to; ++i) {
        largest = std::max(largest, para[i].size);
        if (!para[i].blank) ink = i + 1;
      }
      for (std::size_t i = from; i < ink; ++i) {
        natural += para[i].advance;
        blanks += para[i].blank ? 1 : 0;
      }
      if (lineNumber > 0) baseline += text.leading > 0 ? text.leading : 1.2 * largest;
      double x = 0, extra = 0;
      if (text.align == TavDB::TextData::kCentre) x = frame > 0 ? (frame - natural) / 2 : -natural / 2;
      if (text.align == TavDB::TextData::kRight) x = frame > 0 ? frame - natural : -natural;
      if (text.align == TavDB::TextData::kJustify && frame > 0 && l + 1 < lines.size() && blanks > 0) {
        extra = std::max(0.0, (frame - natural) / blanks);
      }
      for (std::size_t i = from; i < to; ++i) {
        RefChar c = para[i];
        c.x = x;
        c.y = baseline - c.rise;
        c.line = lineNumber;
        x += c.advance + (c.blank && i < ink ? extra : 0);
        out.push_back(c);
      }
    }
  }
  return out;
}

// Each letter stands where the advances, kerning, spacing, frame and
// alignment put it, and a shown string is cut exactly where the next letter
// does not follow on from the last.
TEST(TextCalculator, LettersStandWhereTheMetricsPutThem) {
  for (const EdgeText& t : edgeTexts()) {
    if (t.object.find("\"path\"") != std::string::npos) continue;
    SCOPED_TRACE(t.what);
    TavGen::MessageCapture messages;
    auto job = edgeJob(t);
    ASSERT_TRUE(job);
    const std::vector<RefChar> want = referenceLayout(job.get());
    const std::vector<Given> each = oneByOne(job.get());
    std::size_t n = 0;
    bool signalled = true;  // a signal since the last letter
    for (const Given& g : each) {
      if (g.code < 32) {
        signalled = true;
        continue;
      }
      ASSERT_LT(n, want.size());
      const RefChar& c = want[n];
      EXPECT_NEAR(g.h, 1000 + c.x * 10, 1e-6) << "letter " << n;
      EXPECT_NEAR(g.v, 1000 + c.y * 10, 1e-6) << "letter " << n;
      if (n > 0) {
        const RefChar& b = want[n - 1];
        // Within a millionth of a point a letter counts as following on.
        const bool follows = b.line == c.line && std::abs(b.y - c.y) <= 1e-6 && std::abs(b.x + b.show - c.x) <= 1e-6;
        if (follows) {
          // Only a change of the parameters may cut a string there.
          EXPECT_NE((&g - 1)->code, kTextBreak) << "letter " << n << " follows on but is cut";
        } else {
          EXPECT_TRUE(signalled) << "letter " << n << " needs its own string";
        }
      }
      signalled = false;
      ++n;
    }
    EXPECT_EQ(n, want.size());
  }
}

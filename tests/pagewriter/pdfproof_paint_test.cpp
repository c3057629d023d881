// Painting of the page writer: white objects, open paths, compound paths,
// transparency, the opaque-ink conversion, the one-up checks, gradations of
// every form, and the settings left as the caller gave them.
#include <gtest/gtest.h>

#include <map>

#include "pdfproof_support.h"
#include "platform/kernel/colorspace.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;
using g2test::count;
using g2test::rect;

const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
  {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
  {"name": "Silver", "cmyk": [20, 20, 20, 0], "opaque": true},
  {"name": "Gold", "cmyk": [0, 20, 80, 10]}])";

const char* kColours = R"([{"id": 1, "inks": {"Black": 100}}, {"id": 2, "inks": {}},
  {"id": 3, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 50}},
  {"id": 4, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 100}},
  {"id": 5, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 0}},
  {"id": 6, "inks": {"Cyan": 50, "Silver": 50, "Gold": 60}}])";
const char* kPaints = R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
  {"id": 12, "type": "flat", "colour": 3, "overprint": true}, {"id": 13, "type": "flat", "colour": 4},
  {"id": 14, "type": "flat", "colour": 5}, {"id": 15, "type": "flat", "colour": 6},
  {"id": 16, "type": "gradation", "steps": [{"colour": 3, "position": 0}, {"colour": 3, "position": 50}]},
  {"id": 17, "type": "flat", "colour": 1, "opacity": 50},
  {"id": 18, "type": "gradation", "steps": [{"colour": 1, "position": 0}, {"colour": 4, "position": 50}]},
  {"id": 19, "type": "gradation", "form": "other", "steps": [{"colour": 1, "position": 0}, {"colour": 4, "position": 50}]}])";

std::unique_ptr<jobstr> job(const std::string& objects) {
  return g2test::makeJob(kInks, kColours, kPaints, objects);
}

TEST(PdfProofPaint, WhiteObjectsOnNothingAreLeftOut) {
  // White first (nothing below), black, white over the black, white touching
  // the black's edge only, an unfilled path with a white stroke on nothing
  // (left out whole: no stroke colour or operator without its path).
  auto j = job("[" + rect(10, 10, 20, 20, 11) + "," + rect(30, 30, 50, 50, 10) + "," +
               rect(35, 35, 45, 45, 11) + "," + rect(50, 60, 60, 70, 11) + "," +
               rect(30, 50, 40, 60, 11) + "," + rect(80, 80, 90, 90, 2, R"(, "stroke": {"width": 2, "paint": 11})") +
               "]");
  PDFSettings s = g2test::testSettings();
  s.OptimizeWhiteObjects = 1;
  const std::string content = g2test::writeJobPdf(*j, s);
  EXPECT_EQ(count(content, "f*\n"), 2) << content;  // the black and the white on it
  EXPECT_EQ(count(content, "\ns\n") + count(content, " K\n"), 0) << content;
  s.OptimizeWhiteObjects = 0;
  const std::string all = g2test::writeJobPdf(*j, s);
  EXPECT_EQ(count(all, "f*\n"), 5);
  EXPECT_EQ(count(all, "\ns\n"), 1) << all;
}

// (Open paths: stroked only, never closed or filled, is checked on the walker.)
// A centre stroke is stroked in the stroking colour; an inside or outside one
// is filled as its outline, in the filling colour (its plates are measured
// with the driver's).
TEST(PdfProofPaint, CentreStrokesStrokeAndOtherStrokesFillTheirOutline) {
  for (const char* position : {"centre", "inside", "outside"}) {
    SCOPED_TRACE(position);
    auto j = job("[" + rect(10, 10, 50, 50, 11, std::string(R"(, "stroke": {"width": 2, "paint": 10, "position": ")") +
                                                  position + R"("})") + "]");
    const std::string content = g2test::writeJobPdf(*j);
    const bool centre = std::string(position) == "centre";
    EXPECT_EQ(content.find("0 0 0 1 K\n") != std::string::npos, centre) << content;
    EXPECT_EQ(count(content, "\ns\n"), centre ? 1 : 0) << content;
    EXPECT_EQ(count(content, "0 0 0 1 k\n"), centre ? 0 : 1) << content;
    EXPECT_EQ(count(content, "f*\n"), centre ? 1 : 2) << content;
  }
}

TEST(PdfProofPaint, CompoundPathsClipAndFillWithTheEvenOddRule) {
  auto j = job(R"([{"kind": "compound", "paint": 10, "objects": [)" + rect(10, 10, 90, 90, 10) + "," +
               rect(30, 30, 70, 70, 10) + "]}]");
  g2test::Page page(*j);
  TavDB::Object* compound = jobGetSpahan(j.get())->member(0);
  PDFProof& w = page.writer();
  w.OutputCompoundPath(compound, genproof::kModeClipOutline);
  w.OutputCompoundPath(compound, genproof::kModeFlatFill | genproof::kModeClip);
  const std::string content = page.finish();
  const std::size_t firstClip = content.find("W*\nn\n");
  ASSERT_NE(firstClip, std::string::npos) << content;
  EXPECT_NE(content.find("W*\nf*\n", firstClip), std::string::npos) << content;
  EXPECT_EQ(count(content, " m\n"), 4);
  EXPECT_EQ(count(content, "h\n"), 4);

  // Sub-paths that are all open (stroked only) give a filled compound no
  // path to paint: no painting operator either, and a clip of nothing.
  auto open = job(R"([{"kind": "compound", "paint": 10, "objects": [)" +
                  rect(10, 10, 90, 90, 10, R"(, "closed": false)") + "]}]");
  g2test::Page openPage(*open);
  TavDB::Object* openCompound = jobGetSpahan(open.get())->member(0);
  openPage.writer().OutputCompoundPath(openCompound, genproof::kModeFlatFill);
  EXPECT_EQ(openPage.finish().find("f*"), std::string::npos);
  g2test::Page clipPage(*open);
  clipPage.writer().OutputCompoundPath(openCompound, genproof::kModeClipOutline);
  EXPECT_EQ(count(clipPage.finish(), "0 0 m\nh\nW*\nn\n"), 1);
}

TEST(PdfProofPaint, OpaqueInksReduceTheInksPrintedBeforeThemAndOneColourGradationsBecomeFlat) {
  auto j = job("[]");
  struct Case {
    std::uint16_t paint;
    bool knockout;
    std::map<int, int> tints;  // expected percentages by slot; empty: the paint is kept
  } cases[] = {
      {12, true, {{0, 25}, {1, 20}, {4, 50}}},  // C 50, M 40 under Silver 50: the lower inks keep half
      {13, true, {{0, 0}, {1, 0}, {4, 100}}},   // Silver at 100 % clears them
      {14, true, {}},                           // Silver at 0 %: nothing changes
      {15, true, {{0, 25}, {4, 50}, {5, 60}}},  // an ink in a higher slot keeps its tint
      {12, false, {}},                          // without knockout nothing changes
      {18, false, {}},                          // ... nor a gradation of two colours
      {16, false, {{0, 50}, {1, 40}, {4, 50}}}, // a gradation of one colour: its flat colour
      {16, true, {{0, 25}, {1, 20}, {4, 50}}},  // ... converted as well with knockout
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.paint << (c.knockout ? " knockout" : ""));
    const std::uint16_t converted = ConvertPaintForOpaqueInks(j.get(), c.paint, c.knockout);
    if (c.tints.empty()) {
      EXPECT_EQ(converted, c.paint);
      continue;
    }
    ASSERT_NE(converted, c.paint);
    EXPECT_EQ(paipoi(j.get(), converted)->type, kPaintFlat);
    const auto t = paisep16(j.get(), converted);
    for (auto [slot, p] : c.tints) EXPECT_EQ(t[slot], p * 256) << "slot " << slot;
  }
  // The new paint keeps the old one's other words.
  EXPECT_TRUE(paipoi(j.get(), ConvertPaintForOpaqueInks(j.get(), 12, true))->overprint);
}

TEST(PdfProofPaint, OneUpChecksReportTheFirstMismatchOnly) {
  auto parent = job("[]");
  auto oneUp = g2test::makeJob(
      R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
          {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
          {"name": "Silver", "cmyk": [30, 20, 20, 0]}, {"name": "Gold", "cmyk": [0, 20, 80, 0]},
          {"name": "Lonely", "cmyk": [1, 2, 3, 4], "varnish": true}])",
      "[]", "[]", "[]");
  std::array<std::int32_t, 64> map;
  map.fill(-1);
  for (int i = 0; i < 6; ++i) map[i] = i;  // Lonely has no counterpart
  TavGen::MessageCapture messages;
  CheckOneUpColorDefinitions(oneUp.get(), parent.get(), map);
  ASSERT_EQ(messages.count("PDF/COLOR DEFINITION MISMATCH IN ONEUP"), 1);
  EXPECT_NE(messages.messages().back().text.find("Silver"), std::string::npos);
  CheckOneUpSeparationTypes(oneUp.get(), parent.get(), map);
  ASSERT_EQ(messages.count("PDF/SEPARATION TYPE MISMATCH IN ONEUP"), 1);
  EXPECT_NE(messages.messages().back().text.find("Silver"), std::string::npos);  // opaque vs not
  // The ink without a counterpart is never compared, whatever its slot.
  map[4] = map[5] = -1;
  TavGen::MessageCapture quiet;
  CheckOneUpColorDefinitions(oneUp.get(), parent.get(), map);
  CheckOneUpSeparationTypes(oneUp.get(), parent.get(), map);
  EXPECT_TRUE(quiet.messages().empty());
}

TEST(PdfProofPaint, TransparencyOnPdf13AndGradationsOfEveryForm) {
  const std::string transparent = R"([{"kind": "group", "objects": [)" + rect(10, 10, 50, 50, 17) + "," +
                                  rect(60, 60, 90, 90, 10) + "]}]";
  // PDF 1.3 has no transparency: the objects are written by the walker.
  EXPECT_EQ(count(g2test::writeJobPdf(*job(transparent), g2test::testSettings(), kPdf13), "f*\n"), 2);
  // A gradation of a form a shading cannot take is drawn as an image inside
  // its outline; a stroke in a gradation fills its outline with the shading.
  const std::string other = g2test::writeJobPdf(*job("[" + rect(10, 10, 50, 50, 19) + "]"), g2test::testSettings());
  EXPECT_EQ(count(other, " Do\n"), 1) << other;
  EXPECT_EQ(count(other, "W*\n"), 1) << other;
  const std::string stroke = g2test::writeJobPdf(
      *job("[" + rect(10, 10, 50, 50, 10, R"(, "stroke": {"width": 2, "paint": 18})") + "]"), g2test::testSettings());
  EXPECT_EQ(count(stroke, " sh\n"), 1) << stroke;
  EXPECT_EQ(count(stroke, "W*\n"), 1) << stroke;
}

// The caller's settings and the host's ink map stay as they were.
TEST(PdfProofPaint, SeparatedOutputWithTransparencyKeepsTheCallersSettings) {
  auto j = job("[" + rect(10, 10, 50, 50, 17) + "]");
  j->separations[5].mappedTo = 4;
  PDFSettings s = g2test::testSettings();
  s.SeparatedOutput = 1;
  s.OptimizeWhiteObjects = 1;
  g2test::Page page(*j, s, kPdf13);
  EXPECT_FALSE(page.writer().OptimizeWhiteObjects());
  EXPECT_EQ(s.OptimizeWhiteObjects, 1);
  page.finish();
  EXPECT_EQ(j->separations[5].mappedTo, 4);
  // Without transparency the optimisation stays on.
  auto plain = job("[" + rect(10, 10, 50, 50, 10) + "]");
  g2test::Page other(*plain, s, kPdf13);
  EXPECT_TRUE(other.writer().OptimizeWhiteObjects());
  other.finish();
}

TEST(PdfProofPaint, DownsampleFactorNeverDividesByZeroAndColourantLimitsFollowTheVersion) {
  auto j = job("[]");
  PDFSettings s = g2test::testSettings();
  s.UseDownsampling = 1;
  s.DownsampleResolution = 144;
  s.DownsampleUseMinimum = 1;
  s.DownsampleFromPPI = 216;
  g2test::Page page(*j, s);
  PDFProof& w = page.writer();
  EXPECT_DOUBLE_EQ(w.GetImageDownsampleFactor(200, 1, 1.0), 1.0);  // below the threshold
  EXPECT_DOUBLE_EQ(w.GetImageDownsampleFactor(300, 1, 1.0), 300.0 / 144.0);
  EXPECT_DOUBLE_EQ(w.GetImageDownsampleFactor(300, 0, 1.0), 1.0);
  EXPECT_DOUBLE_EQ(w.GetImageDownsampleFactor(300, 1, 0.0), 1.0);
  EXPECT_EQ(w.GetMaxColorants(), 8u);
  page.finish();
  g2test::Page page15(*j, s, kPdf15);
  EXPECT_EQ(page15.writer().GetMaxColorants(), 27u);
  page15.finish();
  // Image names carry the writer number, except for the page's own writer.
  EXPECT_EQ(PDFProof::MakeImageResourceName(0, 5), "Im5");
  EXPECT_EQ(PDFProof::MakeImageResourceName(2, 3), "Im2_3");
}

TEST(PdfProofPaint, GradientColourSpacesUniteTheInksAndKeepTheCommonZeros) {
  auto j = g2test::makeJob(kInks, R"([{"id": 1, "inks": {"Cyan": 50, "Black": 0}, "others": 255},
      {"id": 2, "inks": {"Magenta": 50, "Black": 0}, "others": 255},
      {"id": 3, "inks": {"Cyan": 50}}, {"id": 4, "inks": {"Magenta": 50}}])",
                           R"([{"id": 10, "type": "linear", "colour": 1, "colour2": 2, "start": [0, 0], "end": [0, 50]},
      {"id": 11, "type": "gradation", "steps": [{"colour": 3, "position": 0}, {"colour": 4, "position": 50}]}])",
                           "[]");
  g2test::Page page(*j);
  std::unique_ptr<ColorSpace> united, common;
  page.writer().GetGradientColorSpaces(10, united, common);
  ASSERT_TRUE(united && common);
  EXPECT_TRUE(united->InColorSpace(0));
  EXPECT_TRUE(united->InColorSpace(1));
  EXPECT_EQ(united->GetSepCount(), 2);
  // Black is at 0 in both ends (the other inks untouched): knocked out first.
  EXPECT_TRUE(common->InColorSpace(3));
  EXPECT_EQ(common->GetSepCount(), 1);
  // Colours that knock out every ink leave nothing to knock out separately.
  page.writer().GetGradientColorSpaces(11, united, common);
  ASSERT_TRUE(united && common);
  EXPECT_EQ(united->GetSepCount(), 2);
  EXPECT_TRUE(common->IsEmpty());
  page.finish();
}

}  // namespace

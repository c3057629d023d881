// Page boxes and annotations under the output layout (orientation, mirror,
// distortion), against hand-computed values, and the distortion matrix that
// the content stream starts with.
#include <gtest/gtest.h>

#include "document_support.h"
#include "pdfwriter/layout.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "support/consumers.h"

namespace doctest {
namespace {

using Box = std::vector<double>;

// At 720 ppi ten job units make one point, so that distorted boxes land on
// whole job units. The media box is 200 x 100 points; the origin is its top
// left corner, so the job's boxes lie below the x axis in portrait.
std::string boxesJob(const std::string& boxes, const std::string& extra = "") {
  return R"("ppi": 720, "boxes": )" + boxes + R"(,
  "inks": [{"name": "Black", "process": "black"}],
  "colours": [{"id": 1, "inks": {"Black": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}],
  "objects": [{"kind": "path", "paint": 10,
               "points": [[0, 0], [0, 500], [500, 500], [500, 0]]}])" + extra;
}

const char* kAllBoxes = R"({"media": [0, 0, 1000, 2000], "trim": [100, 100, 900, 1900],
  "bleed": [50, 50, 950, 1950], "crop": [20, 50, 980, 1950], "art": [200, 200, 800, 1800]})";

PDFSettings layoutSettings(int orientation, bool mirror, double distortionH = 0, double distortionV = 0) {
  PDFSettings settings = testSettings();
  settings.Orientation.SetSelection(orientation);
  settings.Mirror = mirror ? 1 : 0;
  settings.HorizontalDistortion = distortionH;
  settings.VerticalDistortion = distortionV;
  return settings;
}

void expectBox(QPDFObjectHandle page, const char* key, const Box& expected) {
  const Box actual = numbers(page.getKey(key));
  ASSERT_EQ(actual.size(), 4u) << key;
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-6) << key << " " << i;
}

TEST(PageBoxes, DistortionMatrixOfEveryLayout) {
  struct Case {
    int orientation;
    bool mirror;
    double a, b, c, d;
  };
  // sx = 0.98 (horizontal -2 %), sy = 1.1 (vertical +10 %).
  const Case cases[] = {
      {0, false, 0, -0.98, 1.1, 0},  {0, true, 0, 0.98, 1.1, 0},  {1, false, 0.98, 0, 0, 1.1},
      {1, true, -0.98, 0, 0, 1.1},   {2, false, 0, 0.98, -1.1, 0}, {2, true, 0, -0.98, -1.1, 0},
      {3, false, -0.98, 0, 0, -1.1}, {3, true, 0.98, 0, 0, -1.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.orientation << " mirror " << c.mirror);
    TavDB::tv_matrixtyp<double> m{1, 0, 0, 1, 7, 7};  // the translation is overwritten
    TavPDF::BuildDistortionMatrix(m, nullptr, layoutSettings(c.orientation, c.mirror, -2, 10));
    const double got[] = {m.a, m.b, m.c, m.d, m.e, m.f}, want[] = {c.a, c.b, c.c, c.d, 0, 0};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-12) << i;
  }
  // Normalized output leaves the distortion to the workflow.
  PDFSettings normalized = layoutSettings(1, false, -2, 10);
  normalized.NormalizedOutput = 1;
  TavDB::tv_matrixtyp<double> m;
  TavPDF::BuildDistortionMatrix(m, nullptr, normalized);
  EXPECT_EQ(m, TavDB::tv_matrixtyp<double>::identity());
}

TEST(PageBoxes, MatrixTransformedBoxAgreesWithTheLayout) {
  // A matrix on job coordinates (h right, v down) about the job's origin:
  // the turn to the right is h' = -v, v' = h.
  auto job = makeJob(boxesJob(kAllBoxes));
  job->origin = {100, 300};
  const TavSys::tv_rectangle rect{100, 200, 900, 1900};
  const TavDB::tv_matrixtyp<double> turnRight{0, 1, -1, 0, 0, 0};
  const auto byMatrix = TavPDF::GetMatrixTransformedBox(job.get(), rect, turnRight);
  EXPECT_EQ(byMatrix, TavPDF::GetLayoutTransformedBox(job.get(), rect, layoutSettings(0, false)));
  // Corners relative to the origin (v 100, h 300): v 0..800, h -100..1600
  // become h' = -v: -800..0 and v' = h: -100..1600.
  EXPECT_EQ(byMatrix, (TavSys::tv_rectangle{0, -500, 1700, 300}));
}

TEST(PageBoxes, BoxesFollowOrientationMirrorAndDistortion) {
  tavtest::TestFolder dir;
  struct Case {
    PDFSettings settings;
    Box boxes[5];  // media, trim, bleed, crop, art
  };
  const Case cases[] = {
      {layoutSettings(1, false),
       {{0, -100, 200, 0}, {10, -90, 190, -10}, {5, -95, 195, -5}, {5, -98, 195, -2}, {20, -80, 180, -20}}},
      // Turn right: x' = y, y' = -x; the page becomes 100 wide and 200 high.
      {layoutSettings(0, false),
       {{-100, -200, 0, 0}, {-90, -190, -10, -10}, {-95, -195, -5, -5}, {-98, -195, -2, -5}, {-80, -180, -20, -20}}},
      // Turn left: x' = -y, y' = x.
      {layoutSettings(2, false),
       {{0, 0, 100, 200}, {10, 10, 90, 190}, {5, 5, 95, 195}, {2, 5, 98, 195}, {20, 20, 80, 180}}},
      // Upside down: x' = -x, y' = -y.
      {layoutSettings(3, false),
       {{-200, 0, 0, 100}, {-190, 10, -10, 90}, {-195, 5, -5, 95}, {-195, 2, -5, 98}, {-180, 20, -20, 80}}},
      // Mirrored portrait: x' = -x.
      {layoutSettings(1, true),
       {{-200, -100, 0, 0}, {-190, -90, -10, -10}, {-195, -95, -5, -5}, {-195, -98, -5, -2}, {-180, -80, -20, -20}}},
      // Mirrored turn right: x' = y, y' = x.
      {layoutSettings(0, true),
       {{-100, 0, 0, 200}, {-90, 10, -10, 190}, {-95, 5, -5, 195}, {-98, 5, -2, 195}, {-80, 20, -20, 180}}},
      // Portrait, horizontal -2 %, vertical +10 %: x' = 0.98 x, y' = 1.1 y.
      {layoutSettings(1, false, -2, 10),
       {{0, -110, 196, 0}, {9.8, -99, 186.2, -11}, {4.9, -104.5, 191.1, -5.5}, {4.9, -107.8, 191.1, -2.2},
        {19.6, -88, 176.4, -22}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "orientation " << c.settings.Orientation.GetValue() << " mirror "
                                      << c.settings.Mirror << " distortion " << c.settings.HorizontalDistortion);
    auto job = makeJob(boxesJob(kAllBoxes));
    const auto w = writeAccepted(*job, c.settings, dir / "boxes.pdf");
    Pdf pdf(w.file);
    int i = 0;
    for (const char* key : {"/MediaBox", "/TrimBox", "/BleedBox", "/CropBox", "/ArtBox"}) {
      expectBox(pdf.page(0), key, c.boxes[i++]);
    }
  }
}

TEST(PageBoxes, NormalizedOutputClipsTheTrimBoxAndAddsOtherBoxesOnlyWhenAsked) {
  tavtest::TestFolder dir;
  const char* kMessage = "PDF/TRIM BOX MUST BE INSIDE MEDIA BOX FOR NORMALIZED PDF";
  PDFSettings normalized = testSettings("NormalizedOutput=1 AddPageBoxes=1");
  struct Case {
    std::string boxes;
    bool message;
    Box trim;
  };
  const Case cases[] = {
      // One point out on the right: clipped.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 100, 900, 2010]})", true, {10, -90, 200, -10}},
      // Inside: as it is.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 100, 900, 1900]})", false, {10, -90, 190, -10}},
      // Wholly outside: the page is trimmed at its media box.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 2100, 900, 2500]})", true, {0, -100, 200, 0}},
      // No trim box: the default box of its kind (the media box here) stands in.
      {R"({"media": [0, 0, 1000, 2000]})", false, {0, -100, 200, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.boxes);
    auto job = makeJob(boxesJob(c.boxes));
    TavGen::MessageCapture capture;
    const auto w = writeAccepted(*job, normalized, dir / "trim.pdf");
    EXPECT_EQ(capture.count(kMessage), c.message ? 1 : 0);
    for (const auto& m : capture.messages()) {
      // A warning the user reads as a sentence, not as the key.
      EXPECT_TRUE(m.key != kMessage || (m.severity == 2 && m.text != m.key)) << m.severity << " " << m.text;
    }
    expectBox(Pdf(w.file).page(0), "/TrimBox", c.trim);
  }
  normalized.AddPageBoxes = 0;
  auto job = makeJob(boxesJob(kAllBoxes));
  const auto w = writeDocument(*job, normalized, dir / "noboxes.pdf");
  Pdf pdf(w.file);
  QPDFObjectHandle page = pdf.page(0);
  EXPECT_TRUE(page.hasKey("/MediaBox") && page.hasKey("/TrimBox"));
  EXPECT_EQ(at(page, "/BleedBox") + at(page, "/CropBox") + at(page, "/ArtBox"), "nullnullnull");
}

TEST(PageContent, ArtAndNotesTurnWithThePage) {
  // The job's black square covers its top left corner (50 x 50 points). A
  // turn to the right takes that corner to the top right of the page, a turn
  // to the left to the bottom left, upside down to the bottom right. A note's
  // anchor (h 40, v 30 points) is widened by trunc(100 / 720 × 72) = 10 job
  // units, one point, on every side, and turns the same way.
  tavtest::TestFolder dir;
  struct Case {
    int orientation;
    bool mirror;
    double x, y;  // a point inside the square, from the page's lower left
    int notes, addNotes;
    Box rect;
  };
  const Case cases[] = {
      {1, false, 25, 75, 1, 1, {39, -31, 41, -29}},
      {0, false, 75, 175, 1, 1, {-31, -41, -29, -39}},  // x' = y, y' = -x
      {2, false, 25, 25, 1, 1, {29, 39, 31, 41}},        // x' = -y, y' = x
      {3, false, 175, 25, 1, 1, {-41, 29, -39, 31}},     // x' = -x, y' = -y
      {1, true, 175, 75, 1, 1, {-41, -31, -39, -29}},    // x' = -x
      // Fewer than 11 notes are listed in the page itself, more in an array object.
      {1, false, 25, 75, 10, 1, {39, -31, 41, -29}},
      {1, false, 25, 75, 11, 1, {39, -31, 41, -29}},
      {1, false, 25, 75, 1, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.orientation << " mirror " << c.mirror << ", " << c.notes << " notes");
    std::string notes = R"(, "notes": [)";
    for (int i = 0; i < c.notes; ++i) {
      notes += (i > 0 ? R"(,{"text": "Note )" : R"({"text": "Note )") + std::to_string(i) +
               R"( – check ✓", "at": [300, 400]})";
    }
    auto job = makeJob(boxesJob(R"({"media": [0, 0, 1000, 2000]})", notes + "]"));
    PDFSettings settings = layoutSettings(c.orientation, c.mirror);
    settings.AddNotes = c.addNotes;
    const auto w = writeAccepted(*job, settings, dir / "notes.pdf");
    const auto plates = tavtest::measurePlates(w.file);
    EXPECT_NEAR(plates.coverage.at("Black"), 0.125, 0.01) << plates.summary();
    EXPECT_NEAR(plates.inkAtPoint("Black", c.x, c.y), 1.0, 0.01);
    Pdf pdf(w.file);
    QPDFObjectHandle annots = pdf.page(0).getKey("/Annots");
    if (c.addNotes == 0) {
      EXPECT_TRUE(annots.isNull());
      continue;
    }
    ASSERT_EQ(annots.getArrayNItems(), c.notes);
    EXPECT_EQ(annots.isIndirect(), c.notes >= 11);
    EXPECT_EQ(at(annots, "/0/Subtype"), "/Text");
    EXPECT_EQ(at(annots, "/0/Contents"), "Note 0 – check ✓");
    EXPECT_EQ(numbers(annots.getArrayItem(0).getKey("/Rect")), c.rect);
    // The Contents is written as UTF-16 with its byte-order mark.
    EXPECT_NE(w.bytes.find("/Contents <FEFF004E006F0074006500200030"), std::string::npos);
  }
}

}  // namespace
}  // namespace doctest

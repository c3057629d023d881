// Page boxes and annotations under the output layout (orientation, mirror,
// distortion), against hand-computed values, and the distortion matrix that
// the content stream starts with.
#include <gtest/gtest.h>

#include <cstdlib>

#include "document_support.h"
#include "pdfwriter/layout.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "support/consumers.h"

namespace {

using doctest::makeJob;
using doctest::numbers;
using doctest::Pdf;
using doctest::testSettings;

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

void expectBox(QPDFObjectHandle page, const char* key, const Box& expected) {
  const Box actual = numbers(page.getKey(key));
  ASSERT_EQ(actual.size(), 4u) << key;
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(actual[i], expected[i], 1e-6) << key << " " << i;
}

PDFSettings layoutSettings(int orientation, bool mirror, double distortionH = 0,
                           double distortionV = 0) {
  PDFSettings settings = testSettings();
  settings.Orientation.SetSelection(orientation);
  settings.Mirror = mirror ? 1 : 0;
  settings.HorizontalDistortion = distortionH;
  settings.VerticalDistortion = distortionV;
  return settings;
}

TEST(PageBoxes, DistortionMatrixOfEveryLayout) {
  struct Case {
    int orientation;
    bool mirror;
    double a, b, c, d;
  };
  // sx = 0.98 (horizontal -2 %), sy = 1.1 (vertical +10 %).
  const Case cases[] = {
      {0, false, 0, -0.98, 1.1, 0}, {0, true, 0, 0.98, 1.1, 0},
      {1, false, 0.98, 0, 0, 1.1},  {1, true, -0.98, 0, 0, 1.1},
      {2, false, 0, 0.98, -1.1, 0}, {2, true, 0, -0.98, -1.1, 0},
      {3, false, -0.98, 0, 0, -1.1}, {3, true, 0.98, 0, 0, -1.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.orientation << " mirror " << c.mirror);
    TavDB::tv_matrixtyp<double> m;
    m.e = m.f = 7;  // overwritten
    TavPDF::BuildDistortionMatrix(m, nullptr, layoutSettings(c.orientation, c.mirror, -2, 10));
    EXPECT_DOUBLE_EQ(m.a, c.a);
    EXPECT_DOUBLE_EQ(m.b, c.b);
    EXPECT_DOUBLE_EQ(m.c, c.c);
    EXPECT_DOUBLE_EQ(m.d, c.d);
    EXPECT_EQ(m.e, 0);
    EXPECT_EQ(m.f, 0);
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
  TavDB::tv_matrixtyp<double> turnRight;
  turnRight.a = 0;
  turnRight.b = 1;
  turnRight.c = -1;
  turnRight.d = 0;
  const auto byMatrix = TavPDF::GetMatrixTransformedBox(job.get(), rect, turnRight);
  const auto byLayout = TavPDF::GetLayoutTransformedBox(job.get(), rect, layoutSettings(0, false));
  EXPECT_EQ(byMatrix, byLayout);
  // Corners relative to the origin (v 100, h 300): v 0..800, h -100..1600
  // become h' = -v: -800..0 and v' = h: -100..1600.
  EXPECT_EQ(byMatrix, (TavSys::tv_rectangle{0, -500, 1700, 300}));
}

TEST(PageBoxes, BoxesFollowOrientationMirrorAndDistortion) {
  tavtest::TestFolder dir;
  struct Case {
    PDFSettings settings;
    Box media, trim, bleed, crop, art;
  };
  const Case cases[] = {
      {layoutSettings(1, false), {0, -100, 200, 0}, {10, -90, 190, -10}, {5, -95, 195, -5},
       {5, -98, 195, -2}, {20, -80, 180, -20}},
      // Turn right: x' = y, y' = -x; the page becomes 100 wide and 200 high.
      {layoutSettings(0, false), {-100, -200, 0, 0}, {-90, -190, -10, -10}, {-95, -195, -5, -5},
       {-98, -195, -2, -5}, {-80, -180, -20, -20}},
      // Turn left: x' = -y, y' = x.
      {layoutSettings(2, false), {0, 0, 100, 200}, {10, 10, 90, 190}, {5, 5, 95, 195},
       {2, 5, 98, 195}, {20, 20, 80, 180}},
      // Upside down: x' = -x, y' = -y.
      {layoutSettings(3, false), {-200, 0, 0, 100}, {-190, 10, -10, 90}, {-195, 5, -5, 95},
       {-195, 2, -5, 98}, {-180, 20, -20, 80}},
      // Mirrored portrait: x' = -x.
      {layoutSettings(1, true), {-200, -100, 0, 0}, {-190, -90, -10, -10}, {-195, -95, -5, -5},
       {-195, -98, -5, -2}, {-180, -80, -20, -20}},
      // Mirrored turn right: x' = y, y' = x.
      {layoutSettings(0, true), {-100, 0, 0, 200}, {-90, 10, -10, 190}, {-95, 5, -5, 195},
       {-98, 5, -2, 195}, {-80, 20, -20, 180}},
      // Portrait, horizontal -2 %, vertical +10 %: x' = 0.98 x, y' = 1.1 y.
      {layoutSettings(1, false, -2, 10), {0, -110, 196, 0}, {9.8, -99, 186.2, -11},
       {4.9, -104.5, 191.1, -5.5}, {4.9, -107.8, 191.1, -2.2}, {19.6, -88, 176.4, -22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "orientation " << c.settings.Orientation.GetValue()
                                      << " mirror " << c.settings.Mirror << " distortion "
                                      << c.settings.HorizontalDistortion);
    auto job = makeJob(boxesJob(kAllBoxes));
    const auto w = doctest::writeDocument(*job, c.settings, dir / "boxes.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    Pdf pdf(w.file);
    QPDFObjectHandle page = pdf.pages().at(0);
    expectBox(page, "/MediaBox", c.media);
    expectBox(page, "/TrimBox", c.trim);
    expectBox(page, "/BleedBox", c.bleed);
    expectBox(page, "/CropBox", c.crop);
    expectBox(page, "/ArtBox", c.art);
  }
}

TEST(PageBoxes, ContentLandsWhereTheBoxesSayUnderEveryOrientation) {
  // The job's black square covers its top left corner (50 x 50 points). A
  // turn to the right takes that corner to the top right of the page, a turn
  // to the left to the bottom left, upside down to the bottom right.
  tavtest::TestFolder dir;
  struct Case {
    int orientation;
    bool mirror;
    double x, y;  // a point inside the square, from the page's lower left
  };
  const Case cases[] = {{1, false, 25, 75},  {0, false, 75, 175}, {2, false, 25, 25},
                        {3, false, 175, 25}, {1, true, 175, 75}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.orientation << " mirror " << c.mirror);
    auto job = makeJob(boxesJob(R"({"media": [0, 0, 1000, 2000]})"));
    const auto w = doctest::writeDocument(*job, layoutSettings(c.orientation, c.mirror),
                                          dir / "content.pdf");
    ASSERT_EQ(w.finishResult, 0);
    const auto plates = tavtest::measurePlates(w.file);
    EXPECT_NEAR(plates.coverage.at("Black"), 0.125, 0.01) << plates.summary();
    EXPECT_NEAR(plates.inkAtPoint("Black", c.x, c.y), 1.0, 0.01);
  }
}

TEST(PageBoxes, TrimBoxIsClippedToTheMediaBoxInNormalizedOutput) {
  tavtest::TestFolder dir;
  PDFSettings normalized = testSettings();
  normalized.NormalizedOutput = 1;
  normalized.AddPageBoxes = 1;
  struct Case {
    std::string boxes;
    bool message;
    Box trim;
  };
  const Case cases[] = {
      // One point out on the right: clipped.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 100, 900, 2010]})", true,
       {10, -90, 200, -10}},
      // Inside: as it is.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 100, 900, 1900]})", false,
       {10, -90, 190, -10}},
      // Wholly outside: the page is trimmed at its media box.
      {R"({"media": [0, 0, 1000, 2000], "trim": [100, 2100, 900, 2500]})", true,
       {0, -100, 200, 0}},
      // No trim box: the default box of its kind (the media box here) stands in.
      {R"({"media": [0, 0, 1000, 2000]})", false, {0, -100, 200, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.boxes);
    auto job = makeJob(boxesJob(c.boxes));
    TavGen::MessageCapture capture;
    const auto w = doctest::writeDocument(*job, normalized, dir / "trim.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    EXPECT_EQ(capture.count("PDF/TRIM BOX MUST BE INSIDE MEDIA BOX FOR NORMALIZED PDF"),
              c.message ? 1 : 0);
    for (const auto& m : capture.messages()) {
      if (m.key == "PDF/TRIM BOX MUST BE INSIDE MEDIA BOX FOR NORMALIZED PDF") {
        EXPECT_EQ(m.severity, 2);
        EXPECT_NE(m.text, m.key);  // the user reads a sentence, not the key
      }
    }
    Pdf pdf(w.file);
    expectBox(pdf.pages().at(0), "/TrimBox", c.trim);
  }
}

TEST(PageBoxes, OtherBoxesOnlyWhenAskedInNormalizedOutput) {
  tavtest::TestFolder dir;
  PDFSettings settings = testSettings();
  settings.NormalizedOutput = 1;
  settings.AddPageBoxes = 0;
  auto job = makeJob(boxesJob(kAllBoxes));
  const auto w = doctest::writeDocument(*job, settings, dir / "noboxes.pdf");
  ASSERT_EQ(w.finishResult, 0);
  Pdf pdf(w.file);
  QPDFObjectHandle page = pdf.pages().at(0);
  EXPECT_TRUE(page.hasKey("/MediaBox"));
  EXPECT_TRUE(page.hasKey("/TrimBox"));
  EXPECT_FALSE(page.hasKey("/BleedBox"));
  EXPECT_FALSE(page.hasKey("/CropBox"));
  EXPECT_FALSE(page.hasKey("/ArtBox"));
}

std::string notesJob(int count) {
  std::string notes = R"(, "notes": [)";
  for (int i = 0; i < count; ++i) {
    if (i > 0) notes += ",";
    notes += R"({"text": "Note )" + std::to_string(i) + R"( – check ✓", "at": [300, 400]})";
  }
  return boxesJob(R"({"media": [0, 0, 1000, 2000]})", notes + "]");
}

TEST(PageAnnotations, NotesBecomeTextAnnotations) {
  tavtest::TestFolder dir;
  PDFSettings settings = testSettings();
  settings.AddNotes = 1;
  for (int count : {10, 11}) {
    SCOPED_TRACE(count);
    auto job = makeJob(notesJob(count));
    const auto w = doctest::writeDocument(*job, settings, dir / "notes.pdf");
    ASSERT_EQ(w.finishResult, 0);
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    Pdf pdf(w.file);
    QPDFObjectHandle page = pdf.pages().at(0);
    QPDFObjectHandle annots = page.getKey("/Annots");
    ASSERT_TRUE(annots.isArray());
    ASSERT_EQ(annots.getArrayNItems(), count);
    // Fewer than 11 notes are listed in the page itself, more in an array object.
    EXPECT_EQ(annots.isIndirect(), count >= 11);
    QPDFObjectHandle first = annots.getArrayItem(0);
    EXPECT_EQ(first.getKey("/Subtype").getName(), "/Text");
    EXPECT_EQ(doctest::text(first.getKey("/Contents")), "Note 0 – check ✓");
    // The anchor (h 40, v 30 points) widened by trunc(100 / 720 × 72) = 10
    // job units, one point, on every side.
    const Box rect = numbers(first.getKey("/Rect"));
    ASSERT_EQ(rect.size(), 4u);
    EXPECT_EQ(rect, (Box{39, -31, 41, -29}));
  }
  // The Contents is written as UTF-16 with its byte-order mark.
  auto job = makeJob(notesJob(1));
  const auto w = doctest::writeDocument(*job, settings, dir / "note.pdf");
  EXPECT_NE(w.bytes.find("/Contents <FEFF004E006F0074006500200030"), std::string::npos);
}

TEST(PageAnnotations, AnnotationsTurnWithThePage) {
  tavtest::TestFolder dir;
  PDFSettings settings = layoutSettings(0, false);  // turn right: x' = y, y' = -x
  settings.AddNotes = 1;
  auto job = makeJob(notesJob(1));
  const auto w = doctest::writeDocument(*job, settings, dir / "turned.pdf");
  ASSERT_EQ(w.finishResult, 0);
  Pdf pdf(w.file);
  const Box rect = numbers(pdf.pages().at(0).getKey("/Annots").getArrayItem(0).getKey("/Rect"));
  EXPECT_EQ(rect, (Box{-31, -41, -29, -39}));
  // Without AddNotes the page has no annotations.
  settings.AddNotes = 0;
  const auto plain = doctest::writeDocument(*job, settings, dir / "plain.pdf");
  Pdf plainPdf(plain.file);
  EXPECT_FALSE(plainPdf.pages().at(0).hasKey("/Annots"));
}

}  // namespace

// Records of placed forms, and pattern fills, as the page writer queues and
// writes them.
#include <gtest/gtest.h>

#include "pdfproof_support.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

const char* kBlack = R"([{"name": "Black", "process": "black"}])";
const char* kColours = R"([{"id": 1, "inks": {"Black": 100}}])";

TEST(PlacedForms, PlacedPdfPagesBecomeOneReferenceXObject) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "page.pdf", "%PDF-1.4\n");
  // A 20 x 40 point page placed turned by 90 degrees: its height runs along
  // h, its width upwards.
  auto job = g2test::makeJob(kBlack, kColours,
                             R"([{"id": 10, "type": "picture", "picture": 1, "pdfPage": 2,
      "place": {"origin": [60, 10], "widthCorner": [20, 10], "heightCorner": [60, 30]}}])",
                             "[]",
                             R"(, "pictures": [{"id": 1, "file": ")" + (dir / "page.pdf").string() +
                                 R"(", "width": 40, "height": 20, "pdfPage": 2}])");
  PDFSettings s = g2test::testSettings();
  g2test::Page page(*job, s);
  PDFProof& w = page.writer();
  EXPECT_FALSE(w.HasPendingPictureForm(10));
  RegisterPictureForm(w, jobGetSpahan(job.get()), 10);
  EXPECT_TRUE(w.HasPendingPictureForm(10));
  // A record without a name writes an empty stream and names nothing.
  auto unnamed = std::make_unique<PendingStreamFilePdf>(nullptr, 10);
  w.AddPendingStream(std::move(unnamed));
  w.GetOutputStream() << "/Form_0_1_2_0 Do\n";
  page.finish();
  const std::string& bytes = page.bytes();
  EXPECT_EQ(g2test::count(bytes, "/Subtype /Form"), 1);
  for (const char* key : {"/Name /Form_0_1_2_0", "/Page 2 ", "/Type /FileSpec", "/FormType 1 ",
                          "/BBox [ 10  40  30  80  ]"}) {
    EXPECT_NE(bytes.find(key), std::string::npos) << key;
  }
  EXPECT_NE(bytes.find("/page.pdf)\n/Type /FileSpec"), std::string::npos);
  // Both streams hold a line end only; the unnamed one is no form.
  EXPECT_EQ(g2test::count(bytes, "stream\r\n\n\r\nendstream"), 2);
}

TEST(PatternFills, OnePatternPerPaintAndTheColourSpaceOfTheFlavour) {
  const std::string paints = R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "pattern", "pattern": 1}])";
  const std::string objects = R"([{"kind": "path", "paint": 11, "points": [[0, 0], [0, 50], [50, 50], [50, 0]]},
      {"kind": "path", "paint": 11, "points": [[50, 50], [50, 100], [100, 100], [100, 50]]}])";
  const std::string patterns = R"(, "patterns": [{"id": 1, "cell": [0, 0, 10, 10],
      "objects": [{"kind": "path", "paint": 10, "points": [[0, 0], [0, 5], [5, 5]]}]}])";
  for (int normalized : {0, 1}) {
    SCOPED_TRACE(normalized);
    auto job = g2test::makeJob(kBlack, kColours, paints, objects, patterns);
    PDFSettings s = g2test::testSettings();
    s.NormalizedOutput = normalized;
    g2test::Page page(*job, s);
    page.walk();
    EXPECT_EQ(page.writer().GetPendingStreams().size(), 1u);
    const std::string content = page.finish();
    const std::string select = normalized != 0 ? "/Pattern cs /Tv_pat_0_-9989 scn" : "/CSPat cs /Tv_pat_0_-9989 scn";
    EXPECT_EQ(g2test::count(content, select), 2) << content;
    EXPECT_EQ(g2test::count(page.bytes(), "/PatternType 1"), 1);
  }
}

}  // namespace

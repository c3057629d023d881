// Colour and overprint operators of the page writer: the bytes it writes, the
// operators the graphics-state cache leaves out, and colours of several parts.
#include <gtest/gtest.h>

#include "colour/colorspaces.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pdfproof_support.h"
#include "pdfwriter/pagedict.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "support/capture.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;
using g2test::count;

const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
  {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
  {"name": "Orange", "cmyk": [0, 50, 100, 0]}, {"name": "PANTONE 185 C", "cmyk": [0, 91, 76, 0]}])";

std::unique_ptr<jobstr> emptyJob() { return g2test::makeJob(kInks, "[]", "[]", "[]"); }

using tavtest::DebugCapture;

TEST(PdfProofColour, OverprintStatesFollowTheRequestAndTheCache) {
  auto job = emptyJob();
  for (int stream = 0; stream < 2; ++stream) {  // the state is written again after a stream ends
    g2test::Page page(*job);
    PDFProof& w = page.writer();
    w.SetOverprint(true);
    w.SetOverprint(true);  // in force already
    EXPECT_TRUE(w.GetOverprintFlag());
    w.SetOverprint(false);
    // A knockout request leaves the writer's flag off, so that a zero is
    // written as a zero and not as the overprint-mode 0.001.
    EXPECT_FALSE(w.GetOverprintFlag());
    w.WriteCMYKOrSeparationColor(0, 0, 0, 100, -1, 0);
    w.SetOverprint(true);
    w.SetColorKey(2, 0);
    w.WriteCMYKOrSeparationColor(0, 0, 0, 100, -1, 0);
    w.WriteCMYKOrSeparationColor(255, 0, 40, 100, -1, 0);
    EXPECT_EQ(page.finish(),
              "/op1 gs\n/op0 gs\n0 0 0 1 k\n/op1 gs\n0.001 0.001 0.001 1 k\n0 0.001 0.4 1 k\n");
  }
}

TEST(PdfProofColour, SeparationColoursNameTheInksColourSpace) {
  auto job = emptyJob();
  DebugCapture debug;
  g2test::Page page(*job);
  PDFProof& w = page.writer();
  w.SetColorKey(1, 0);
  w.WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 50);
  w.SetColorKey(2, 0);
  w.WriteCMYKOrSeparationColor(0, 91, 76, 0, 5, 100);
  w.SetColorKey(3, 0);
  w.WriteCMYKOrSeparationColor(0, 91, 76, 0, 5, 101);  // out of range: said, still written
  w.SetColorKey(4, 0);
  w.WriteCMYKOrSeparationColor(0, 0, 0, 0, 64, 50);  // no such slot: nothing written
  EXPECT_EQ(page.finish(),
            "/Tv_sep_Orange cs\n0.5 scn\n/Tv_sep_PANTONE#20185#20C cs\n1 scn\n"
            "/Tv_sep_PANTONE#20185#20C cs\n1.01 scn\n");
  EXPECT_NE(debug.text.find("Illegal per 101"), std::string::npos);
  EXPECT_NE(debug.text.find("Illegal separation 64"), std::string::npos);

  // In normalized output an ink takes its XMP name: the content names the
  // space under the name the page's resources give it.
  job->separations[4].xmpName = "Orange XMP";
  g2test::Page normalized(*job);
  normalized.handler().mXMPComposer =  // owned by the handler
      new TavricLib::XMPComposer(job.get(), TavSys::FileSpec("/out/x.pdf"), false, 0, 1);
  normalized.writer().SetColorKey(1, 0);
  normalized.writer().WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 50);
  EXPECT_EQ(SeparationColorSpaceName(&normalized.handler(), job.get(), 4), "Tv_sep_Orange XMP");
  EXPECT_EQ(normalized.finish(), "/Tv_sep_Orange#20XMP cs\n0.5 scn\n");
}

TEST(PdfProofColour, TheCacheLeavesOutOnlyWhatIsReallyInForce) {
  auto job = emptyJob();
  g2test::Page page(*job);
  PDFProof& w = page.writer();
  w.SetColorKey(7, 0);
  w.WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 50);
  w.WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 50);  // same colour: left out
  w.RestoreGraphicsState();                            // after Q nothing is known
  w.WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 50);
  // The same key and pass with another value is another colour.
  w.WriteCMYKOrSeparationColor(0, 50, 100, 0, 4, 30);
  EXPECT_EQ(page.finish(),
            "/Tv_sep_Orange cs\n0.5 scn\nQ\n/Tv_sep_Orange cs\n0.5 scn\n/Tv_sep_Orange cs\n0.3 scn\n");

  // Colours through a colour-space object: the same space under the same key
  // with other tints (the paper colour of a gradient's knockout) is set again.
  g2test::Page spaces(*job);
  PDFProof& v = spaces.writer();
  CsSeparation all(job.get(), TavColor::kAllSeparations, false);
  std::array<std::uint16_t, 64> half{}, full{};
  half.fill(kTintFull / 2);
  full.fill(kTintFull);
  v.SetColorKey(7, 0);
  v.WriteColorSpaceColor(&all, half.data(), false, nullptr);
  ASSERT_TRUE(v.HasPendingFillColor());
  v.WritePendingFillColor();
  v.WriteColorSpaceColor(&all, half.data(), false, nullptr);  // in force
  EXPECT_FALSE(v.HasPendingFillColor());
  v.WriteColorSpaceColor(&all, full.data(), false, nullptr);
  EXPECT_TRUE(v.HasPendingFillColor());
  spaces.finish();
}

// A filled square of the job at (10..20, 10..20) painted with paint 10.
const std::string kSquare = "[" + g2test::rect(10, 10, 20, 20, 10) + "]";

TEST(PdfProofColour, TwoFillsInTheSameColourSetItOnce) {
  auto job = g2test::makeJob(kInks, R"([{"id": 1, "inks": {"Orange": 50}}])",
                             R"([{"id": 10, "type": "flat", "colour": 1}])",
                             "[" + g2test::rect(10, 10, 20, 20, 10) + "," + g2test::rect(30, 30, 40, 40, 10) + "]");
  const std::string content = g2test::writeJobPdf(*job);
  EXPECT_EQ(count(content, " cs\n"), 1) << content;
  EXPECT_EQ(count(content, "scn"), 1) << content;
  EXPECT_EQ(count(content, "f*\n"), 2) << content;
  EXPECT_LT(content.find("scn"), content.find(" m\n"));  // before the first path
}

TEST(PdfProofColour, AColourOfSeveralPartsPaintsThePathOncePerPart) {
  // Ten spot inks in one colour: more than a PDF 1.3 DeviceN space holds.
  std::string inks = "[";
  std::string pct = "{";
  for (int i = 0; i < 10; ++i) {
    inks += std::string(i ? "," : "") + R"({"name": "Spot )" + std::to_string(i) +
            R"(", "cmyk": [)" + std::to_string(i * 10) + ", 20, 0, 0]}";
    pct += std::string(i ? "," : "") + "\"Spot " + std::to_string(i) + "\": 30";
  }
  inks += "]";
  pct += "}";
  auto job = g2test::makeJob(inks, R"([{"id": 1, "inks": )" + pct + "}]",
                             R"([{"id": 10, "type": "flat", "colour": 1}])", kSquare);
  tavtest::TestFolder dir;
  std::string content;
  const auto pdf = dir / "parts.pdf";
  {
    g2test::Page page(*job, g2test::defaultSettings(), kPdf13, pdf);
    PDFProof& w = page.writer();
    w.SetPaintSeparationColor(10);
    w.OutputShape(jobGetSpahan(job.get())->member(0), genproof::kModeFlatFill);
    EXPECT_FALSE(w.HasPendingFillColor());
    content = page.finish();
  }
  // Every part sets its colour inside its own q ... Q and fills there; no
  // colour is lost to a Q before the fill.
  EXPECT_EQ(count(content, "q\n"), 2) << content;
  EXPECT_EQ(count(content, "f*\n"), 2) << content;
  EXPECT_TRUE(content.ends_with("f*\nQ\n")) << content;

  // Every ink reaches its plate.
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  const auto plates = tavtest::measurePlates(pdf);
  for (int i = 0; i < 10; ++i) {
    EXPECT_NEAR(plates.inkAtPoint("Spot " + std::to_string(i), 15, 85), 0.3, 0.02)
        << plates.summary();
  }
}

TEST(PdfProofColour, RegistrationColourNamesEveryInk) {
  // (That the All space reaches every plate is measured with the colour spaces.)
  auto job = g2test::makeJob(kInks, R"([{"id": 1, "inks": {"Cyan": 100}, "registration": true}])",
                             R"([{"id": 10, "type": "flat", "colour": 1, "registration": true}])",
                             kSquare);
  const std::string content = g2test::writeJobPdf(*job);
  EXPECT_NE(content.find("/sepall cs"), std::string::npos) << content;
}

TEST(PdfProofColour, ScreensAreSelectedOnceAndNamedWithTheWriterNumber) {
  auto job = g2test::makeJob(
      kInks, R"([{"id": 1, "inks": {"Orange": 50}}])",
      R"([{"id": 10, "type": "flat", "colour": 1, "screen": 3}, {"id": 11, "type": "flat", "colour": 1},
          {"id": 12, "type": "flat", "colour": 1, "screen": 4}])",
      "[]",
      R"(, "screens": [{"id": 3, "name": "fine", "kind": "classic", "ruling": 150},
                       {"id": 4, "name": "stochastic", "kind": "notWritable"}])");
  PDFSettings s = g2test::testSettings();
  s.IncludeScreening = 1;
  TavGen::MessageCapture messages;
  g2test::Page page(*job, s);
  PDFProof& w = page.writer();
  w.SelectScreening(10);
  w.SelectScreening(10);  // in force
  w.SelectScreening(11);  // unscreened: the writer's default screen
  w.SelectScreening(11);
  w.SelectScreening(12);  // cannot be written: said once, then as unscreened
  w.SelectScreening(12);
  EXPECT_EQ(page.finish(), "/Scr_0_3 gs\n/Scr_0_def gs\n");
  EXPECT_EQ(messages.count("PDF/SCREENING NOT SUPPORTED"), 1);
  // Both screens used have their graphics state in the resources.
  EXPECT_EQ(count(page.bytes(), "/Scr_0_"), 4);
}

}  // namespace

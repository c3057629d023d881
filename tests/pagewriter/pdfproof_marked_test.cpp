// Marked content of the page writer: groups, group markers, layers (inline
// property lists and optional content), trap layers and object names.
#include <gtest/gtest.h>

#include <tuple>

#include "pdfproof_support.h"
#include "platform/messages.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;
using g2test::count;

const char* kInks = R"([{"name": "Black", "process": "black"}])";
const char* kColours = R"([{"id": 1, "inks": {"Black": 100}}])";
const char* kPaints = R"([{"id": 10, "type": "flat", "colour": 1}])";

std::string square(int at, const std::string& more = "") { return g2test::rect(at, at, at + 5, at + 5, 10, more); }

std::string layers() {
  return R"([{"kind": "layer", "name": "Front", "objects": [)" + square(10) + R"(]},
    {"kind": "layer", "name": "Back", "hidden": true, "locked": true, "nonPrinting": true, "objects": [)" +
         square(20) + R"(]},
    {"kind": "layer", "name": "Top", "objects": [)" + square(30) + "]}]";
}

TEST(PdfProofMarked, GroupsAreBracketedOnlyWhenNotNormalized) {
  const std::string objects = R"([{"kind": "group", "name": "pair", "objects": [)" + square(10) + "," +
                              square(20) + R"(]}, {"kind": "group", "objects": [)" + square(40) + "]}]";
  auto job = g2test::makeJob(kInks, kColours, kPaints, objects);
  PDFSettings s = g2test::testSettings();
  std::string content = g2test::writeJobPdf(*job, s);
  // A group of one object gets no bracket.
  EXPECT_EQ(count(content, "/Group BMC\n"), 1) << content;
  EXPECT_EQ(count(content, "EMC\n"), 1) << content;
  EXPECT_EQ(count(content, "VornPN"), 0) << content;
  s.NormalizedOutput = 1;
  content = g2test::writeJobPdf(*job, s);
  EXPECT_EQ(count(content, "/Group BMC"), 0) << content;
  EXPECT_EQ(count(content, "/VornPNGr BMC\n"), 2) << content;
  // The named group also carries its name, as a marked-content property.
  EXPECT_EQ(count(content, "/VornPNGr << /VornPNKeltONAM (pair) >> BDC\n"), 1) << content;
  EXPECT_EQ(count(content, "EMC\n"), 3) << content;
}

TEST(PdfProofMarked, LayersWithoutOptionalContentAreInlinePropertyListsAndNonPrintingOnesOnlyWhenAsked) {
  auto job = g2test::makeJob(kInks, kColours, kPaints, layers());
  PDFSettings s = g2test::testSettings();
  // Below PDF 1.5; at 1.5 with layers asked for but no optional content
  // groups; and in the nested writer of a one-up, which always writes inline
  // lists and warns of a non-printing layer.
  for (auto [addNonPrinting, version, includeLayers, oneUp] :
       {std::tuple{1, kPdf14, 0, false}, {0, kPdf14, 0, false}, {1, kPdf15, 1, false}, {1, kPdf15, 1, true}}) {
    SCOPED_TRACE(testing::Message() << addNonPrinting << " " << version << " " << includeLayers << " " << oneUp);
    s.AddNonPrintingLayers = addNonPrinting;
    s.IncludeLayers = includeLayers;
    TavGen::MessageCapture messages;
    const std::string content = g2test::writeJobPdf(*job, s, version, {}, {.nestedWriter = oneUp, .insideOneUp = oneUp});
    EXPECT_EQ(messages.count("PDF/NON PRINTING LAYER IN ONEUP"), oneUp ? 1 : 0);
    const int layersWritten = addNonPrinting ? 3 : 2;
    EXPECT_NE(content.find("/Layer <<\n/Editable true\n/Printed true\n/Title (Front)\n/Visible true\n>> BDC\nq\n"),
              std::string::npos)
        << content;
    if (addNonPrinting) {
      EXPECT_NE(content.find("/Layer <<\n/Editable false\n/Printed false\n/Title (Back)\n/Visible false\n>> BDC\nq\n"),
                std::string::npos)
          << content;
    } else {
      EXPECT_EQ(content.find("(Back)"), std::string::npos) << content;
    }
    EXPECT_EQ(count(content, " BDC\n"), layersWritten);
    EXPECT_EQ(count(content, "Q\nEMC\n"), layersWritten);
    // The square of a skipped layer is not drawn either.
    EXPECT_EQ(count(content, "f*\n"), layersWritten);
  }
}

// (Layers as optional content at PDF 1.5 are checked on whole documents, where
// the plates show that each layer's content names its own group.)

TEST(PdfProofMarked, TrapLayersOpenThreeBracketsInNormalizedOutput) {
  auto job = g2test::makeJob(kInks, kColours, kPaints,
                             R"([{"kind": "layer", "name": "Traps", "trapLayer": true, "objects": [)" +
                                 square(10, R"(, "trap": true)") + "]}]");
  PDFSettings s = g2test::testSettings();
  s.NormalizedOutput = 1;
  tavtest::TestFolder dir;
  const auto pdf = dir / "traps.pdf";
  const std::string content = g2test::writeJobPdf(*job, s, kPdf14, pdf);
  EXPECT_EQ(count(content, "/VornPNGr  << /VornPNKeltALAY << /trapbltin << /traplayer 1"), 1) << content;
  EXPECT_EQ(count(content, "/VornPNGr  << /VornPNKeltASET << /trapbltin << /name (Trap) >> >> >> BDC\n"), 1);
  EXPECT_EQ(count(content, "/QEL_Trap BMC\n"), 1);
  EXPECT_EQ(count(content, " BDC\n") + count(content, " BMC\n"), count(content, "EMC\n"));
  // The layer's own bracket is the last to close, after its Q.
  EXPECT_TRUE(content.ends_with("EMC\nEMC\nQ\nEMC\n")) << content;
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
}

}  // namespace

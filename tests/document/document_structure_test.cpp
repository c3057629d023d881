// Whole documents written from jobs: information dictionary, catalog, page
// tree, and the caller's data left as they were.
#include <gtest/gtest.h>

#include "document_support.h"
#include "platform/kernel/pageoutput.h"
#include "support/consumers.h"

namespace {

using doctest::makeJob;
using doctest::Pdf;
using doctest::testSettings;

const char* kCmykAndSpot = R"(
  "boxes": {"media": [0, 0, 100, 200], "trim": [10, 10, 90, 190]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot One", "cmyk": [0, 50, 100, 0], "rgb": [255, 128, 0]}],
  "colours": [{"id": 1, "inks": {"Cyan": 100}}, {"id": 2, "inks": {"Spot One": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2}],
  "objects": [{"kind": "layer", "name": "Art", "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 100], [100, 100], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 100], [0, 200], [100, 200], [100, 100]]}]}]
)";

TEST(DocumentStructure, CompositeDocumentIsAcceptedAndNumbered) {
  tavtest::TestFolder dir;
  auto job = makeJob(kCmykAndSpot);
  for (int compatibility : {PDFSettings::kPDF13, PDFSettings::kPDF14, PDFSettings::kPDF15}) {
    SCOPED_TRACE(compatibility);
    PDFSettings settings = testSettings();
    settings.PDFCompatibility = compatibility;
    const auto w = doctest::writeDocument(*job, settings, dir / "composite.pdf");
    ASSERT_EQ(w.documentResult, 0);
    ASSERT_EQ(w.finishResult, 0);
    const char* header = compatibility == PDFSettings::kPDF13   ? "%PDF-1.3\n"
                         : compatibility == PDFSettings::kPDF14 ? "%PDF-1.4\n"
                                                                : "%PDF-1.5\n";
    EXPECT_EQ(w.bytes.substr(0, 9), header);
    EXPECT_EQ(w.bytes.substr(14, 9), "\n1 0 obj\n");
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);

    Pdf pdf(w.file);
    EXPECT_EQ(pdf.trailer().getKey("/Info").getObjGen().getObj(), 1);
    EXPECT_EQ(pdf.trailer().getKey("/Root").getObjGen().getObj(), 2);
    EXPECT_EQ(pdf.root().getKey("/Type").getName(), "/Catalog");
    QPDFObjectHandle tree = pdf.root().getKey("/Pages");
    EXPECT_EQ(tree.getObjGen().getObj(), 3);
    EXPECT_EQ(tree.getKey("/Count").getIntValue(), 1);
    ASSERT_EQ(pdf.pages().size(), 1u);
    EXPECT_FALSE(pdf.root().hasKey("/PageLabels"));
  }
}
}  // namespace

// The graphics-state cache: redundant operators are left out, and nothing
// carries over once a stream has ended.
#include <gtest/gtest.h>

#include "colour/colorspaces.h"
#include "colour_support.h"
#include "pagewriter/pdfgraphicsstate.h"

using namespace colourtest;

using GraphicsStateTest = ColourTest;

TEST_F(GraphicsStateTest, NothingCarriesOverAfterAStreamEnds) {
  auto job = MakeJob(SpotInks(4));
  ColorSpace::SetUseTRDotgain(true);
  CsSeparation spot(job.get(), 3, false);
  MemoryPdf pdf;
  for (int i = 0; i < 2; ++i) {
    TavPDF::pdfoutfilter* content = pdf.handler()->beginStream(nullptr);
    ASSERT_NE(content, nullptr);
    spot.pdfOutputFillColor(*content, Tints().set(3, 12800));
    spot.pdfOutputFillColor(*content, Tints().set(3, 12800));
    TavPDF::PDFIndirectReference* stream = pdf.handler()->endStream(content);
    ASSERT_NE(stream, nullptr);
    // Each stream selects overprint and transfer once, the second one again.
    EXPECT_EQ(pdf.streamData(stream), "/Sep3 cs\n/op1 gs\n/TR_3 gs\n0.50 scn\n/Sep3 cs\n0.50 scn\n");
  }
}

// The graphics-state cache: redundant operators are left out, and nothing
// carries over once a stream has ended.
#include <gtest/gtest.h>

#include "colour/colorspaces.h"
#include "colour_support.h"
#include "pagewriter/pdfgraphicsstate.h"

using namespace colourtest;

namespace {
struct Stroke {
  double width;
  int join;
  bool operator==(const Stroke&) const = default;
};
}  // namespace

using GraphicsStateTest = ColourTest;

TEST_F(GraphicsStateTest, ResetForgetsWhatWasSetButKeepsSizeAndValues) {
  auto& state = PdfGraphicsState::Instance();
  auto job = MakeJob(SpotInks(3));
  state.SetOverprintState(PdfGraphicsState::kOverprintOn);
  state.SetColorKey(12, false);
  state.SetColorKey(13, true);
  state.SetColorValue(7, true);
  state.SetFont(3, 9.5);
  state.SetScreen(4);
  state.SetTransferName(state.GetTransferName());  // the stored string itself
  EXPECT_EQ(state.GetTransferName(), "Default");
  state.SetTransferName("TR_1");
  {
    // The record keeps a clone of its own.
    CsSeparation spot(job.get(), 1, false);
    state.SetColorSpace(&spot, 42, false);
  }
  ASSERT_NE(state.GetColorSpace(false), nullptr);
  EXPECT_TRUE(*state.GetColorSpace(false) == CsSeparation(job.get(), 1, false));
  // Stroke parameters are written only when they differ; those of another
  // type never compare equal.
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{2.0, 1}));
  EXPECT_FALSE(state.SetStrokeInfo(Stroke{2.0, 1}));
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{2.0, 2}));
  EXPECT_TRUE(state.SetStrokeInfo(2.0));
  EXPECT_FALSE(state.SetStrokeInfo(2.0));

  state.Reset();
  EXPECT_EQ(state.GetOverprintState(), PdfGraphicsState::kOverprintUnknown);
  EXPECT_EQ(std::tuple(state.GetColorKey(false), state.GetColorKey(true), state.GetColorValue(true)), std::tuple(-1, -1, -1));
  EXPECT_EQ(state.GetFontNumber(), -1);
  EXPECT_EQ(state.GetScreen(), PdfGraphicsState::kScreenUnknown);
  EXPECT_EQ(state.GetTransferName(), "Default");
  EXPECT_EQ(state.GetColorSpace(false), nullptr);
  // Read only together with a valid font number or colour space.
  EXPECT_EQ(state.GetFontSize(), 9.5);
  EXPECT_EQ(state.GetColorSpaceValue(false), 42);
  EXPECT_TRUE(state.SetStrokeInfo(2.0));  // written again after a reset
}

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

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
  CsSeparation spot(job.get(), 1, false);
  state.SetOverprintState(PdfGraphicsState::kOverprintOn);
  state.SetColorKey(12, false);
  state.SetColorKey(13, true);
  state.SetColorValue(7, true);
  state.SetFont(3, 9.5);
  state.SetScreen(4);
  state.SetTransferName("TR_1");
  state.SetColorSpace(&spot, 42, false);
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{1.0, 0}));

  state.Reset();
  EXPECT_EQ(state.GetOverprintState(), PdfGraphicsState::kOverprintUnknown);
  EXPECT_EQ(state.GetColorKey(false), -1);
  EXPECT_EQ(state.GetColorKey(true), -1);
  EXPECT_EQ(state.GetColorValue(true), -1);
  EXPECT_EQ(state.GetFontNumber(), -1);
  EXPECT_EQ(state.GetScreen(), PdfGraphicsState::kScreenUnknown);
  EXPECT_EQ(state.GetTransferName(), "Default");
  EXPECT_EQ(state.GetColorSpace(false), nullptr);
  EXPECT_FALSE(state.HasStrokeInfo());
  // Read only together with a valid font number or colour space.
  EXPECT_EQ(state.GetFontSize(), 9.5);
  EXPECT_EQ(state.GetColorSpaceValue(false), 42);
  // After a reset the same stroke is written again.
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{1.0, 0}));
}

TEST_F(GraphicsStateTest, StrokeInfoAnswersFalseForTheSameParameters) {
  auto& state = PdfGraphicsState::Instance();
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{2.0, 1}));
  EXPECT_FALSE(state.SetStrokeInfo(Stroke{2.0, 1}));
  EXPECT_TRUE(state.SetStrokeInfo(Stroke{2.0, 2}));
  EXPECT_FALSE(state.SetStrokeInfo(Stroke{2.0, 2}));
  // Parameters of another type never compare equal.
  EXPECT_TRUE(state.SetStrokeInfo(2.0));
}

TEST_F(GraphicsStateTest, KeepsItsOwnCloneOfAColourSpace) {
  auto& state = PdfGraphicsState::Instance();
  auto job = MakeJob(SpotInks(3));
  {
    CsSeparation spot(job.get(), 2, false);
    state.SetColorSpace(&spot, 5, true);
  }
  const ColorSpace* kept = state.GetColorSpace(true);
  ASSERT_NE(kept, nullptr);
  EXPECT_TRUE(*kept == CsSeparation(job.get(), 2, false));
  EXPECT_EQ(state.GetColorSpaceValue(true), 5);
  EXPECT_EQ(state.GetColorSpace(false), nullptr);
  state.SetColorSpace(nullptr, 0, true);
  EXPECT_EQ(state.GetColorSpace(true), nullptr);

  const std::string& stored = state.GetTransferName();
  state.SetTransferName(stored);
  EXPECT_EQ(state.GetTransferName(), "Default");
  state.SetTransferName("TR_CMYK");
  EXPECT_EQ(state.GetTransferName(), "TR_CMYK");
}

TEST_F(GraphicsStateTest, RedundantOverprintAndTransferOperatorsAreLeftOut) {
  auto job = MakeJob(ProcessInks());
  ColorSpace::SetUseTRDotgain(true);
  CsPartialCMYK cmyk(job.get(), true, true, true, true, false);
  cmyk.pdfOutputFillColor(out, Tints(25600));
  EXPECT_EQ(out.take(), "/op0 gs\n/TR_CMYK gs\n1 1 1 1 k\n");
  cmyk.pdfOutputFillColor(out, Tints(12800));
  EXPECT_EQ(out.take(), "0.50 0.50 0.50 0.50 k\n");
  cmyk.SetOverprint(true);
  cmyk.pdfOutputStrokeColor(out, Tints(0));
  EXPECT_EQ(out.take(), "/op1 gs\n0 0 0 0 K\n");
  EXPECT_EQ(PdfGraphicsState::Instance().GetOverprintState(), PdfGraphicsState::kOverprintOn);
}

TEST_F(GraphicsStateTest, NothingCarriesOverAfterAStreamEnds) {
  auto job = MakeJob(SpotInks(4));
  ColorSpace::SetUseTRDotgain(true);
  CsSeparation spot(job.get(), 3, false);
  MemoryPdf pdf;
  TavPDF::pdfoutfilter* content = pdf.handler()->beginStream(nullptr);
  ASSERT_NE(content, nullptr);
  spot.pdfOutputFillColor(*content, Tints().set(3, 12800));
  spot.pdfOutputFillColor(*content, Tints().set(3, 12800));
  pdf.handler()->endStream(content);
  EXPECT_EQ(PdfGraphicsState::Instance().GetOverprintState(), PdfGraphicsState::kOverprintUnknown);
  EXPECT_EQ(PdfGraphicsState::Instance().GetTransferName(), "Default");

  content = pdf.handler()->beginStream(nullptr);
  ASSERT_NE(content, nullptr);
  spot.pdfOutputFillColor(*content, Tints().set(3, 12800));
  auto* ref = pdf.handler()->endStream(content);
  ASSERT_NE(ref, nullptr);
  // Each stream selects overprint and transfer once, the second one again.
  const std::string once = "/Sep3 cs\n/op1 gs\n/TR_3 gs\n0.50 scn\n";
  EXPECT_EQ(pdf.streamData(ref), once);
  const std::string& bytes = pdf.bytes();
  EXPECT_NE(bytes.find(once + "/Sep3 cs\n0.50 scn\n\r\nendstream"), std::string::npos);
}

// Gray, partial CMYK and separation colour spaces: operators, names,
// transfer states, value arrays and Separation arrays; tint operands written
// while the host formats numbers with a decimal comma; the graphics-state
// cache across streams.
#include <gtest/gtest.h>

#include <charconv>

#include <cstdio>
#include <memory>

#include "colour/colorspaces.h"
#include "colour/devicen.h"
#include "colour_support.h"
#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfobjects.h"

using namespace colourtest;
using TavColor::kAllSeparations;
using TavColor::kNoSeparation;

namespace {
// Cyan Magenta Yellow Black, Orange (4), PANTONE 185 C (5).
std::vector<Ink> OrangeAndProcess() {
  auto inks = ProcessInks();
  inks.push_back({"Orange", -1, {0, 50, 100, 0}});
  inks.push_back({"PANTONE 185 C", -1, {0, 100, 80, 0}});
  return inks;
}

using Space = std::shared_ptr<ColorSpace>;
Space Gray(const std::unique_ptr<jobstr>& j, int sep) { return std::make_shared<PDFCsDeviceGray>(j.get(), sep, false); }
Space Cmyk(const std::unique_ptr<jobstr>& j, bool c, bool m, bool y, bool k) {
  return std::make_shared<CsPartialCMYK>(j.get(), c, m, y, k, false);
}
Space Sep(const std::unique_ptr<jobstr>& j, int sep, bool noTransfer = false) {
  return std::make_shared<CsSeparation>(j.get(), sep, noTransfer);
}

enum Call { kFill, kStroke, kPart };
struct Step {
  Call call;
  Tints tints;
  std::string text;
  bool written = true;  // result of pdfOutputColorForPart
};
}  // namespace

// Jobs with Orange and a PANTONE ink, without Magenta, and without inks.
class SimpleSpaceTest : public ColourTest {
 protected:
  std::unique_ptr<jobstr> job = MakeJob(OrangeAndProcess()),
                          noMagenta = MakeJob({{"Cyan", 0, {}}, {"Orange", -1, {0, 50, 100, 0}}}),
                          empty = MakeJob({});
  const Tints cmykTints = Tints().set(0, 12800).set(1, 25600).set(2, 256).set(3, 65280);
};

// Each case starts with an empty cache; its steps run in order, so that an
// overprint or transfer state is written once and then left out.
TEST_F(SimpleSpaceTest, ColourOperators) {
  struct Case {
    const char* what;
    Space space;
    bool transfer;
    std::vector<Step> steps;
  } cases[] = {
      {"gray, defined: no overprint switch", Gray(job, 4), false,
       {{kFill, Tints().set(4, 25600), "0 g\n"},
        {kStroke, Tints().set(4, 6400), "0.75 G\n"},
        {kFill, Tints().set(4, 30000), "1 g\n"},  // out of range is no ink, not black
        {kPart, Tints().set(4, 12800), "/DeviceGray cs\n/op0 gs\n0.50 g\n"}}},
      {"gray, undefined: nothing is painted", Gray(job, 4), false,
       {{kFill, Tints(), "/op0 gs\n0 0 0 0 k\n"},
        {kStroke, Tints(), "0 0 0 0 K\n"},
        {kPart, Tints(), "", false}}},
      {"cmyk subset: unused magenta and undefined black are 0", Cmyk(job, 1, 0, 1, 1), false,
       {{kFill, cmykTints, "/op0 gs\n0.50 0 0.01 0 k\n"},
        {kStroke, cmykTints, "0.50 0 0.01 0 K\n"},
        {kPart, cmykTints, "0.50 0 0.01 0 k\n"}}},
      {"cmyk: inks the job lacks are 0, never read out of bounds", Cmyk(noMagenta, 1, 1, 1, 1), false,
       {{kFill, Tints(25600).set(0, 6400), "/op0 gs\n0.25 0 0 0 k\n"}}},
      {"cmyk with transfer states", Cmyk(job, 1, 1, 1, 1), true,
       {{kFill, Tints(25600), "/op0 gs\n/TR_CMYK gs\n1 1 1 1 k\n"},
        {kFill, Tints(12800), "0.50 0.50 0.50 0.50 k\n"}}},
      {"spot overprints, selects its space every time", Sep(job, 3), false,
       {{kFill, Tints().set(3, 12800), "/Sep3 cs\n/op1 gs\n0.50 scn\n"},
        {kFill, Tints().set(3, 12800), "/Sep3 cs\n0.50 scn\n"},
        {kStroke, Tints().set(3, 25600), "/Sep3 CS\n1 SCN\n"},
        {kPart, Tints().set(3, 65280), "/Sep3 cs\n0 scn\n"}}},
      {"registration knocks out with the first ink's tint", Sep(job, kAllSeparations), true,
       {{kFill, Tints().set(0, 25600).set(4, 0), "/sepall cs\n/op0 gs\n1 scn\n"}}},
      {"registration without inks still has an operand", Sep(empty, kAllSeparations), false,
       {{kFill, Tints(25600), "/sepall cs\n/op0 gs\n0 scn\n"}}},
      {"no separation paints 0", Sep(job, kNoSeparation), false,
       {{kStroke, Tints(25600), "/sepNone CS\n/op1 gs\n0 SCN\n"}}},
      {"transfer state once while cached", Sep(job, 5), true,
       {{kFill, Tints().set(5, 12800), "/Sep5 cs\n/op1 gs\n/TR_5 gs\n0.50 scn\n"},
        {kStroke, Tints().set(5, 12800), "/Sep5 CS\n0.50 SCN\n"}}},
      {"no transfer state for a space that asks for none", Sep(job, 5, true), true,
       {{kFill, Tints().set(5, 12800), "/Sep5 cs\n/op1 gs\n0.50 scn\n"}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    PdfGraphicsState::Instance().Reset();
    ColorSpace::SetUseTRDotgain(c.transfer);
    const Space& space = c.space;
    for (const Step& step : c.steps) {
      if (step.call == kFill) space->pdfOutputFillColor(out, step.tints);
      if (step.call == kStroke) space->pdfOutputStrokeColor(out, step.tints);
      if (step.call == kPart) {
        EXPECT_EQ(space->pdfOutputColorForPart(out, step.tints, 0), step.written);
      }
      EXPECT_EQ(out.take(), step.text);
    }
  }
  // A second space keeps the overprint state but selects its own transfer.
  ColorSpace::SetUseTRDotgain(true);
  CsSeparation(job.get(), 2, false).pdfOutputFillColor(out, Tints().set(2, 25600));
  EXPECT_EQ(out.take(), "/Sep2 cs\n/TR_2 gs\n1 scn\n");
  // Registration switches overprint off again.
  CsSeparation(job.get(), kAllSeparations, false).pdfOutputFillColor(out, Tints(12800));
  EXPECT_EQ(out.take(), "/sepall cs\n/op0 gs\n0.50 scn\n");
}

// Values for shadings and bytes for pictures: an undefined tint is never ink,
// and a gray value is the complement of the ink. Only separations need an
// array in the page's resources.
TEST_F(SimpleSpaceTest, ValueArraysBytesAndResources) {
  struct Case {
    Space space;
    Tints tints;
    const char* array;
    std::vector<int> bytes;
  } cases[] = {
      {Gray(job, 4), Tints().set(4, 6400), "[ 0.75  ]", {64}},
      {Gray(job, 4), Tints(), "[ 1  ]", {0}},
      {Gray(job, 4), Tints().set(4, 25600), "[ 0  ]", {255}},
      {Cmyk(job, 1, 0, 1, 1), cmykTints, "[ 0.5  0  0.01  0  ]", {128, 0, 3, 0}},
      {Cmyk(noMagenta, 1, 1, 1, 1), Tints(25600).set(0, 6400), "[ 0.25  0  0  0  ]", {64, 0, 0, 0}},
      {Sep(job, 4), Tints().set(4, 149), "[ 0.00582  ]", {1}},
      {Sep(job, 4), Tints(), "[ 0  ]", {0}},
      {Sep(job, kAllSeparations), Tints().set(0, 6400), "[ 0.25  ]", {64}},
      {Sep(empty, kAllSeparations), Tints(25600), "[ 0  ]", {0}},
      {Sep(job, kNoSeparation), Tints(25600), "[ 0  ]", {0}},
  };
  for (const auto& c : cases) {
    const Space& space = c.space;
    SCOPED_TRACE(space->pdfGetName(0) + " " + c.array);
    EXPECT_EQ(Serialise(space->pdfGetSepsArray(c.tints)), c.array);
    EXPECT_EQ(space->pdfHasColorSpaceArray(0), space->GetClassID() == CsSeparation::kClassID);
    unsigned char bytes[4] = {7, 7, 7, 7};
    space->SepsToBuffer(bytes, c.tints);
    for (std::size_t i = 0; i < c.bytes.size(); ++i) EXPECT_EQ(bytes[i], c.bytes[i]) << i;
  }
  DebugCapture debug;
  EXPECT_EQ(PDFCsDeviceGray(job.get(), kAllSeparations, false).pdfGetSepsArray(Tints(25600)), nullptr);
  EXPECT_NE(debug.text.find("PDFCsDeviceGray::pdfGetSepsArray >> not allowed"), std::string::npos);
  std::string name;  // a gray without an ink has no transfer state
  EXPECT_FALSE(PDFCsDeviceGray(job.get(), kAllSeparations, false).pdfGetTRName(name));
}

TEST_F(SimpleSpaceTest, SeparationArraysCarryTheInksCmykAtFullTint) {
  MemoryPdf pdf;
  struct Case {
    int sep;
    const char* name;
    std::string full;  // CMYK samples at tint 1
  } cases[] = {
      {kAllSeparations, "/All", std::string(4, '\xFF')},
      {kNoSeparation, "/None", std::string(4, '\0')},
      {4, "/Orange", std::string("\x00\x80\xFF\x00", 4)},  // 0 % C, 50 % M, 100 % Y
      {5, "/PANTONE#20185#20C", std::string("\x00\xFF\xCC\x00", 4)},
      {0, "/Cyan", std::string("\xFF\x00\x00\x00", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TavPDF::PDFArray* array = CsSeparation(job.get(), c.sep, false).pdfGetColorSpace(pdf.handler(), 0);
    ASSERT_NE(array, nullptr);
    auto* ref = dynamic_cast<TavPDF::PDFIndirectReference*>(array->Get(3));
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(Serialise(array), std::string("[ /Separation ") + c.name + " /DeviceCMYK " +
                                    RefText(array, 3) + " ]");
    EXPECT_EQ(pdf.streamData(ref), std::string(4, '\0') + c.full);
  }
}

using TintTest = ColourTest;

TEST_F(TintTest, BoundariesAndPrecisionFollowTheLowByteWhateverTheLocale) {
  CommaLocale comma;
  if (comma.active) {
    char probe[8];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");  // the C formatting really writes commas now
  }
  struct Case {
    int tint;
    const char* text;
    double real;  // TintToReal of the same tint (not for negative ones)
  } cases[] = {
      {0, "0 ", 0.0},          {65280, "0 ", 0.0},           {25601, "0 ", 0.0},
      {-5, "0 ", -1},          {25600, "1 ", 1.0},           {256, "0.01 ", 0.01},
      {12800, "0.50 ", 0.5},   {1, "0.00004 ", 1 / 25600.0}, {25599, "0.99996 ", 25599 / 25600.0},
      {25344, "0.99 ", 0.99},  {100, "0.00391 ", 100 / 25600.0},
  };
  std::string all;
  for (const auto& c : cases) {
    EXPECT_EQ(FormatTintText(c.tint), c.text) << "tint " << c.tint;
    if (c.real >= 0) { EXPECT_DOUBLE_EQ(TintToReal(static_cast<unsigned short>(c.tint)), c.real) << c.tint; }
    FormatTint(out, c.tint);
    all += c.text;
  }
  EXPECT_EQ(out.take(), all);
  auto job = MakeJob(SpotInks(1));
  EXPECT_EQ(Serialise(CsSeparation(job.get(), 0, false).pdfGetSepsArray(Tints().set(0, 6400))), "[ 0.25  ]");
}

// Every tint a paint can hold, against the general rule: the fraction
// tint / 25600 in fixed notation with 2 decimals for a multiple of 256 and 5
// otherwise (ties among them included), "0" outside (0, 25600], "1" at 25600.
TEST_F(TintTest, EveryTintGivesTheTextOfTheGeneralRule) {
  auto general = [](int tint) -> std::string {
    if (tint < 1 || tint > kTintFull) return "0 ";
    if (tint == kTintFull) return "1 ";
    char text[32];
    char* end = std::to_chars(text, text + sizeof text, tint / 25600.0, std::chars_format::fixed,
                              (tint & 0xFF) == 0 ? 2 : 5).ptr;
    return std::string(text, end) + " ";
  };
  std::string want;
  int mismatches = 0;
  for (int tint = -3; tint <= 65535 && mismatches < 10; ++tint) {
    const std::string text = FormatTintText(tint);
    if (text != general(tint)) {
      ++mismatches;
      ADD_FAILURE() << "tint " << tint << ": " << text << " instead of " << general(tint);
    }
    if (tint % 97 == 0) {
      FormatTint(out, tint);
      want += text;
    }
  }
  EXPECT_EQ(out.take(), want);
}

// The graphics-state cache leaves out redundant operators, and nothing
// carries over once a stream has ended.
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

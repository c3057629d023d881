// Gray, partial CMYK and separation colour spaces: operators, names,
// transfer states and arrays.
#include <gtest/gtest.h>

#include "colour/colorspaces.h"
#include "colour_support.h"
#include "pdfwriter/pdfobjects.h"
#include "platform/system.h"

using namespace colourtest;

namespace {
std::vector<Ink> OrangeAndProcess() {
  auto inks = ProcessInks();
  inks.push_back({"Orange", -1, {0, 50, 100, 0}});
  inks.push_back({"PANTONE 185 C", -1, {0, 100, 80, 0}});
  return inks;
}
}  // namespace

using GrayTest = ColourTest;

TEST_F(GrayTest, DefinedTintWritesGrayWithoutOverprintSwitch) {
  auto job = MakeJob(OrangeAndProcess());
  PDFCsDeviceGray gray(job.get(), 4, false);
  gray.pdfOutputFillColor(out, Tints().set(4, 25600));
  EXPECT_EQ(out.take(), "0 g\n");
  gray.pdfOutputStrokeColor(out, Tints().set(4, 6400));
  EXPECT_EQ(out.take(), "0.75 G\n");
  gray.pdfOutputFillColor(out, Tints().set(4, 0));
  EXPECT_EQ(out.take(), "1 g\n");
  EXPECT_EQ(gray.pdfGetName(0), "DeviceGray");
  EXPECT_FALSE(gray.pdfHasColorSpaceArray(0));
}

TEST_F(GrayTest, UndefinedTintPaintsNothingAndSelectsOverprintOnce) {
  auto job = MakeJob(OrangeAndProcess());
  PDFCsDeviceGray gray(job.get(), 4, false);
  gray.pdfOutputFillColor(out, Tints());
  EXPECT_EQ(out.take(), "/op0 gs\n0 0 0 0 k\n");
  gray.pdfOutputStrokeColor(out, Tints());
  EXPECT_EQ(out.take(), "0 0 0 0 K\n");
  // The part writer writes nothing for it.
  EXPECT_FALSE(gray.pdfOutputColorForPart(out, Tints(), 0));
  EXPECT_EQ(out.take(), "");
  EXPECT_TRUE(gray.pdfOutputColorForPart(out, Tints().set(4, 12800), 0));
  EXPECT_EQ(out.take(), "/DeviceGray cs\n0.50 g\n");
}

TEST_F(GrayTest, SepsArrayNeverTurnsAnUndefinedTintIntoBlack) {
  auto job = MakeJob(OrangeAndProcess());
  PDFCsDeviceGray gray(job.get(), 4, false);
  EXPECT_EQ(Serialise(gray.pdfGetSepsArray(Tints().set(4, 6400))), "[ 0.75  ]");
  EXPECT_EQ(Serialise(gray.pdfGetSepsArray(Tints())), "[ 1  ]");
  EXPECT_EQ(Serialise(gray.pdfGetSepsArray(Tints().set(4, 25600))), "[ 0  ]");

  std::string debug;
  auto previous = TavSys::setDebugSink([&](std::string_view text) { debug += text; });
  PDFCsDeviceGray all(job.get(), TavColor::kAllSeparations, false);
  EXPECT_EQ(all.pdfGetSepsArray(Tints(25600)), nullptr);
  TavSys::setDebugSink(previous);
  EXPECT_NE(debug.find("PDFCsDeviceGray::pdfGetSepsArray >> not allowed"), std::string::npos);
}

TEST_F(GrayTest, TransferStateOnlyForARealSeparation) {
  auto job = MakeJob(OrangeAndProcess());
  std::string name;
  EXPECT_TRUE(PDFCsDeviceGray(job.get(), 5, false).pdfGetTRName(name));
  EXPECT_EQ(name, "TR_5");
  EXPECT_FALSE(PDFCsDeviceGray(job.get(), -1, false).pdfGetTRName(name));
}

using PartialCmykTest = ColourTest;

TEST_F(PartialCmykTest, UsedComponentsTakeTheirInksTints) {
  auto job = MakeJob(OrangeAndProcess());
  CsPartialCMYK cmyk(job.get(), true, false, true, true, false);
  const Tints tints = Tints().set(0, 12800).set(1, 25600).set(2, 256).set(3, 65280);
  cmyk.pdfOutputFillColor(out, tints);
  // Magenta is not used; black is undefined.
  EXPECT_EQ(out.take(), "/op0 gs\n0.50 0 0.01 0 k\n");
  cmyk.pdfOutputStrokeColor(out, tints);
  EXPECT_EQ(out.take(), "0.50 0 0.01 0 K\n");
  EXPECT_TRUE(cmyk.pdfOutputColorForPart(out, tints, 0));
  EXPECT_EQ(out.take(), "0.50 0 0.01 0 k\n");
  EXPECT_EQ(Serialise(cmyk.pdfGetSepsArray(tints)), "[ 0.5  0  0.01  0  ]");
  unsigned char bytes[4];
  cmyk.SepsToBuffer(bytes, tints);
  EXPECT_EQ(bytes[0], 128);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[2], 3);
  EXPECT_EQ(bytes[3], 0);  // undefined is no ink, not full ink
  EXPECT_EQ(cmyk.pdfGetName(0), "DeviceCMYK");
  EXPECT_EQ(cmyk.pdfGetColorSpace(nullptr, 0), nullptr);
  EXPECT_TRUE(cmyk.IsDeviceCMYK());
  EXPECT_EQ(cmyk.GetSepSorted(2), 2);
  std::string name;
  EXPECT_TRUE(cmyk.pdfGetTRName(name));
  EXPECT_EQ(name, "TR_CMYK");
}

TEST_F(PartialCmykTest, AProcessInkTheJobLacksIsZeroNotReadOutOfBounds) {
  // Only cyan and a spot: magenta, yellow and black are missing.
  auto job = MakeJob({{"Cyan", 0, {}}, {"Orange", -1, {0, 50, 100, 0}}});
  CsPartialCMYK cmyk(job.get(), true, true, true, true, false);
  Tints tints(25600);
  tints.set(0, 6400);
  cmyk.pdfOutputFillColor(out, tints);
  EXPECT_EQ(out.take(), "/op0 gs\n0.25 0 0 0 k\n");
  EXPECT_EQ(Serialise(cmyk.pdfGetSepsArray(tints)), "[ 0.25  0  0  0  ]");
  EXPECT_EQ(cmyk.GetSepSorted(1), -1);
  unsigned char bytes[4] = {9, 9, 9, 9};
  cmyk.SepsToBuffer(bytes, tints);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(bytes[3], 0);
}

TEST_F(PartialCmykTest, SubsetsWithDifferentComponentsDiffer) {
  auto job = MakeJob(OrangeAndProcess());
  CsPartialCMYK a(job.get(), true, false, false, false, false);
  CsPartialCMYK b(job.get(), false, true, false, false, false);
  std::unique_ptr<ColorSpace> clone(a.Clone());
  EXPECT_TRUE(*clone == a);
  EXPECT_FALSE(a == b);
  std::unique_ptr<CsMasked> part(a.pdfGetPart(0));
  ASSERT_TRUE(part);
  EXPECT_TRUE(*part == a);
  EXPECT_EQ(a.pdfGetPart(1), nullptr);
}

using SeparationTest = ColourTest;

TEST_F(SeparationTest, SpotInkOverprintsAndSelectsItsSpaceEachTime) {
  auto job = MakeJob(OrangeAndProcess());
  CsSeparation sep(job.get(), 3, false);
  EXPECT_TRUE(sep.GetOverprint());
  EXPECT_EQ(sep.pdfGetName(0), "Sep3");
  sep.pdfOutputFillColor(out, Tints().set(3, 12800));
  EXPECT_EQ(out.take(), "/Sep3 cs\n/op1 gs\n0.50 scn\n");
  sep.pdfOutputFillColor(out, Tints().set(3, 12800));
  EXPECT_EQ(out.take(), "/Sep3 cs\n0.50 scn\n");
  sep.pdfOutputStrokeColor(out, Tints().set(3, 25600));
  EXPECT_EQ(out.take(), "/Sep3 CS\n1 SCN\n");
  EXPECT_TRUE(sep.pdfOutputColorForPart(out, Tints().set(3, 65280), 0));
  EXPECT_EQ(out.take(), "/Sep3 cs\n0 scn\n");
}

TEST_F(SeparationTest, RegistrationKnocksOutWithTheFirstInksTint) {
  auto job = MakeJob(OrangeAndProcess());
  CsSeparation all(job.get(), TavColor::kAllSeparations, false);
  EXPECT_FALSE(all.GetOverprint());
  EXPECT_EQ(all.pdfGetName(0), "sepall");
  all.pdfOutputFillColor(out, Tints().set(0, 25600).set(4, 0));
  EXPECT_EQ(out.take(), "/sepall cs\n/op0 gs\n1 scn\n");
  EXPECT_EQ(Serialise(all.pdfGetSepsArray(Tints().set(0, 6400))), "[ 0.25  ]");
  std::string name;
  EXPECT_FALSE(all.pdfGetTRName(name));

  CsSeparation none(job.get(), TavColor::kNoSeparation, false);
  EXPECT_TRUE(none.GetOverprint());
  EXPECT_EQ(none.pdfGetName(0), "sepNone");
  none.pdfOutputStrokeColor(out, Tints(25600));
  EXPECT_EQ(out.take(), "/sepNone CS\n/op1 gs\n0 SCN\n");
  EXPECT_EQ(Serialise(none.pdfGetSepsArray(Tints(25600))), "[ 0  ]");
}

TEST_F(SeparationTest, RegistrationInAJobWithoutInksStillHasAnOperand) {
  auto job = MakeJob({});
  CsSeparation all(job.get(), TavColor::kAllSeparations, false);
  all.pdfOutputFillColor(out, Tints(25600));
  EXPECT_EQ(out.take(), "/sepall cs\n/op0 gs\n0 scn\n");
  EXPECT_EQ(Serialise(all.pdfGetSepsArray(Tints(25600))), "[ 0  ]");
  unsigned char byte = 7;
  all.SepsToBuffer(&byte, Tints(25600));
  EXPECT_EQ(byte, 0);
}

TEST_F(SeparationTest, SepsToBufferRoundsAndNeverPaintsUndefined) {
  auto job = MakeJob(OrangeAndProcess());
  CsSeparation sep(job.get(), 4, false);
  unsigned char byte = 0;
  sep.SepsToBuffer(&byte, Tints().set(4, 25600));
  EXPECT_EQ(byte, 255);
  sep.SepsToBuffer(&byte, Tints().set(4, 12800));
  EXPECT_EQ(byte, 128);
  sep.SepsToBuffer(&byte, Tints().set(4, 149));
  EXPECT_EQ(byte, 1);
  sep.SepsToBuffer(&byte, Tints());
  EXPECT_EQ(byte, 0);
}

TEST_F(SeparationTest, TransferStateSelectedOnceWhileCached) {
  auto job = MakeJob(SpotInks(6));
  ColorSpace::SetUseTRDotgain(true);
  CsSeparation five(job.get(), 5, false);
  five.pdfOutputFillColor(out, Tints().set(5, 12800));
  EXPECT_EQ(out.take(), "/Sep5 cs\n/op1 gs\n/TR_5 gs\n0.50 scn\n");
  five.pdfOutputStrokeColor(out, Tints().set(5, 12800));
  EXPECT_EQ(out.take(), "/Sep5 CS\n0.50 SCN\n");
  CsSeparation two(job.get(), 2, false);
  two.pdfOutputFillColor(out, Tints().set(2, 25600));
  EXPECT_EQ(out.take(), "/Sep2 cs\n/TR_2 gs\n1 scn\n");

  PdfGraphicsState::Instance().Reset();
  CsSeparation untransferred(job.get(), 5, true);
  untransferred.pdfOutputFillColor(out, Tints().set(5, 12800));
  EXPECT_EQ(out.take(), "/Sep5 cs\n/op1 gs\n0.50 scn\n");
  EXPECT_EQ(PdfGraphicsState::Instance().GetTransferName(), "Default");
}

TEST_F(SeparationTest, EqualityCloneAndPartsKeepTheSeparation) {
  auto job = MakeJob(OrangeAndProcess());
  CsSeparation a(job.get(), 4, false);
  CsSeparation b(job.get(), 5, false);
  CsSeparation a2(job.get(), 4, true);
  EXPECT_TRUE(a == CsSeparation(job.get(), 4, false));
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a == a2);  // a different transfer choice is another space
  std::unique_ptr<ColorSpace> clone(a.Clone());
  EXPECT_TRUE(*clone == a);
  EXPECT_EQ(clone->GetClassID(), 0x43534550);  // 'CSEP'
  EXPECT_FALSE(a == PDFCsDeviceGray(job.get(), 4, false));
}

TEST_F(SeparationTest, SeparationArraysCarryTheInksCmykAtFullTint) {
  auto job = MakeJob(OrangeAndProcess());
  MemoryPdf pdf;
  auto check = [&](int sep, const std::string& name, std::string samples) {
    CsSeparation space(job.get(), sep, false);
    ASSERT_TRUE(space.pdfHasColorSpaceArray(0));
    TavPDF::PDFArray* array = space.pdfGetColorSpace(pdf.handler(), 0);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(array->Size(), 4u);
    auto* ref = dynamic_cast<TavPDF::PDFIndirectReference*>(array->Get(3));
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(Serialise(array), "[ /Separation " + name + " /DeviceCMYK " +
                                    std::to_string(ref->GetObjectNumber()) + " 0 R ]");
    EXPECT_EQ(pdf.streamDictionary(ref),
              "<<\n/BitsPerSample 8 \n/Domain [ 0  1  ]\n/FunctionType 0 \n/Length " +
                  std::to_string(ref->GetObjectNumber() - 1) +
                  " 0 R\n/Range [ 0  1  0  1  0  1  0  1  ]\n/Size [ 2  ]\n>>");
    EXPECT_EQ(pdf.streamData(ref), samples);
  };
  check(-1, "/All", std::string(4, '\0') + std::string(4, '\xFF'));
  check(-2, "/None", std::string(8, '\0'));
  // Orange: 0 % C, 50 % M, 100 % Y, 0 % K.
  check(4, "/Orange", std::string(4, '\0') + std::string("\x00\x80\xFF\x00", 4));
  check(5, "/PANTONE#20185#20C", std::string(4, '\0') + std::string("\x00\xFF\xCC\x00", 4));
  check(0, "/Cyan", std::string(4, '\0') + std::string("\xFF\x00\x00\x00", 4));
}

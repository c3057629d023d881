// DeviceN, NChannel and multi-separation spaces: names, parts, arrays with
// their tint transforms, and colour operators.
#include <gtest/gtest.h>

#include "colour/devicen.h"
#include "colour_support.h"
#include "pdfwriter/pdfobjects.h"
#include "platform/system.h"

using namespace colourtest;
using TavPDF::PDFArray;
using TavPDF::PDFIndirectReference;

namespace {

// Cyan Magenta Yellow Black, then Orange (4), Green (5), Violet (6).
std::vector<Ink> MixedInks() {
  auto inks = ProcessInks();
  inks.push_back({"Orange", -1, {0, 50, 100, 0}});
  inks.push_back({"Green", -1, {100, 0, 100, 0}});
  inks.push_back({"Violet", -1, {60, 90, 0, 0}});
  return inks;
}

CsDeviceN::Options Opts(int maxColorants, bool force = false, bool separationForm = false) {
  CsDeviceN::Options o;
  o.maxColorants = maxColorants;
  o.forceDeviceN = force;
  o.allowSeparationCS = separationForm;
  return o;
}

std::string Names(int first, int count) {
  std::string names;
  for (int i = first; i < first + count; ++i) names += "/Spot#20" + std::to_string(i + 1) + " ";
  return names;
}

// The reference at index i of an array.
PDFIndirectReference* RefAt(PDFArray* array, std::size_t i) {
  return dynamic_cast<PDFIndirectReference*>(array->Get(i));
}

std::string Ref(PDFIndirectReference* ref) { return std::to_string(ref->GetObjectNumber()) + " 0 R"; }

}  // namespace

using DeviceNTest = ColourTest;

TEST_F(DeviceNTest, ThreeInksWriteArrayProgramAndOperators) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(1, 12800).set(4, 25600).set(5, 6400).set(6, 0);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_EQ(space.GetSepCount(), 3);
  EXPECT_FALSE(space.IsPureCMYK());
  EXPECT_EQ(space.pdfGetNumParts(), 1);
  EXPECT_EQ(space.pdfGetName(0), "DN_1_4_5");
  EXPECT_TRUE(space.pdfHasColorSpaceArray(0));

  space.pdfOutputFillColor(out, tints);
  EXPECT_EQ(out.take(), "/DN_1_4_5 cs\n/op0 gs\n0.50 1 0.25 scn\n");
  space.pdfOutputStrokeColor(out, tints);
  EXPECT_EQ(out.take(), "/DN_1_4_5 CS\n0.50 1 0.25 SCN\n");
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 0));
  EXPECT_EQ(out.take(), "/DN_1_4_5 cs\n0.50 1 0.25 scn\n");
  EXPECT_EQ(Serialise(space.pdfGetSepsArray(tints)), "[ 0.5  1  0.25  ]");

  MemoryPdf pdf;
  PDFArray* array = space.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  PDFIndirectReference* f = RefAt(array, 3);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(Serialise(array), "[ /DeviceN [ /Magenta /Orange /Green ] /DeviceCMYK " + Ref(f) + " ]");
  EXPECT_EQ(pdf.streamDictionary(f),
            "<<\n/Domain [ 0  1  0  1  0  1  ]\n/FunctionType 4 \n/Length " +
                std::to_string(f->GetObjectNumber() - 1) +
                " 0 R\n/Range [ 0  1  0  1  0  1  0  1  ]\n>>");
  EXPECT_EQ(pdf.streamData(f), BuildTintTransformProgram({{0.0f, 1.0f, 0.0f, 0.0f},
                                                          {0.0f, 0.5f, 1.0f, 0.0f},
                                                          {1.0f, 0.0f, 1.0f, 0.0f}}));

  // The ink lists of the document carry the printing order.
  PDFArray* withHints = space.WriteDeviceNColorSpaceArray(pdf.handler(), 0, true, true);
  ASSERT_NE(withHints, nullptr);
  ASSERT_EQ(withHints->Size(), 5u);
  EXPECT_EQ(Serialise(withHints->Get(4)),
            "<<\n/MixingHints <<\n/PrintingOrder [ /Magenta /Orange /Green ]\n>>\n/Subtype /DeviceN\n>>");
}

TEST_F(DeviceNTest, TwelveInksSplitIntoPartsOfEightBelowPdf15) {
  auto job = MakeJob(SpotInks(12));
  Tints tints;
  for (int i = 0; i < 12; ++i) tints.set(i, static_cast<unsigned short>(512 * (i + 1)));
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  ASSERT_EQ(space.pdfGetNumParts(), 2);
  const std::string base = "DN_0_1_2_3_4_5_6_7_8_9_10_11";
  EXPECT_EQ(space.pdfGetName(0), base + "_a");
  EXPECT_EQ(space.pdfGetName(1), base + "_b");

  MemoryPdf pdf;
  PDFArray* first = space.pdfGetColorSpace(pdf.handler(), 0);
  PDFArray* second = space.pdfGetColorSpace(pdf.handler(), 1);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Serialise(first->Get(1)), "[ " + Names(0, 8) + "]");
  EXPECT_EQ(Serialise(second->Get(1)), "[ " + Names(8, 4) + "]");
  EXPECT_NE(pdf.streamDictionary(RefAt(second, 3)).find("/Domain [ 0  1  0  1  0  1  0  1  ]\n"),
            std::string::npos);
  // A part that does not exist is neither written nor indexed past the inks.
  EXPECT_EQ(space.pdfGetColorSpace(pdf.handler(), 2), nullptr);
  EXPECT_EQ(space.pdfGetColorSpace(pdf.handler(), -1), nullptr);

  // Groups counted from the start; later parts overprint the earlier ones.
  std::string firstTints, secondTints;
  for (int i = 0; i < 8; ++i) firstTints += FormatTintText(512 * (i + 1));
  for (int i = 8; i < 12; ++i) secondTints += FormatTintText(512 * (i + 1));
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 0));
  EXPECT_EQ(out.take(), "/" + base + "_a cs\n/op0 gs\n" + firstTints + " scn\n");
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 1));
  EXPECT_EQ(out.take(), "/" + base + "_b cs\n/op1 gs\n" + secondTints + " scn\n");
  EXPECT_FALSE(space.GetOverprint());  // the space's own flag is restored
  EXPECT_FALSE(space.pdfOutputColorForPart(out, tints, 2));
  EXPECT_EQ(out.take(), "");  // no stray path operator either
}

TEST_F(DeviceNTest, ThirtyInksGiveFourPartsOrTwo) {
  auto job = MakeJob(SpotInks(30));
  MemoryPdf pdf;
  for (auto [m, counts] : {std::pair<int, std::vector<int>>{8, {8, 8, 8, 6}}, {27, {27, 3}}}) {
    PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(m));
    ASSERT_EQ(space.pdfGetNumParts(), static_cast<int>(counts.size()));
    for (int part = 0; part < space.pdfGetNumParts(); ++part) {
      const std::string name = space.pdfGetName(part);
      EXPECT_EQ(name.substr(name.size() - 2), std::string("_") + char('a' + part));
      PDFArray* array = space.pdfGetColorSpace(pdf.handler(), part);
      ASSERT_NE(array, nullptr);
      EXPECT_EQ(dynamic_cast<PDFArray*>(array->Get(1))->Size(),
                static_cast<std::size_t>(counts[static_cast<std::size_t>(part)]));
    }
  }
}

TEST_F(DeviceNTest, PartsCountGroupsFromTheEndAndOverprintLaterOnes) {
  auto job = MakeJob(SpotInks(12));
  PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(8));
  std::unique_ptr<CsMasked> part0(space.pdfGetPart(0));
  std::unique_ptr<CsMasked> part1(space.pdfGetPart(1));
  ASSERT_TRUE(part0 && part1);
  // Part 0 is the short last group and knocks out; part 1 the first eight.
  EXPECT_EQ(part0->GetSepCount(), 4);
  EXPECT_EQ(part0->GetSepSorted(0), 8);
  EXPECT_FALSE(part0->GetOverprint());
  EXPECT_EQ(part1->GetSepCount(), 8);
  EXPECT_EQ(part1->GetSepSorted(7), 7);
  EXPECT_TRUE(part1->GetOverprint());
  EXPECT_EQ(part0->pdfGetNumParts(), 1);
  EXPECT_EQ(part0->pdfGetName(0), "DN_8_9_10_11");
  EXPECT_EQ(space.pdfGetPart(2), nullptr);
  EXPECT_EQ(space.pdfGetPart(-1), nullptr);
}

TEST_F(DeviceNTest, UndefinedTintsOfAPartWriteNothing) {
  auto job = MakeJob(SpotInks(10));
  // Every ink covered (the low bound 0), the second group undefined at paint time.
  PDFCsDeviceN space(job.get(), Tints(12800), 0, 25600, Opts(8));
  Tints paint(12800);
  paint.set(8, 65280).set(9, 65280);
  EXPECT_FALSE(space.pdfOutputColorForPart(out, paint, 1));
  EXPECT_EQ(out.take(), "");
  EXPECT_TRUE(space.pdfOutputColorForPart(out, paint, 0));
  EXPECT_NE(out.take().find(" scn\n"), std::string::npos);
}

TEST_F(DeviceNTest, SeveralPartsInOneColourSetTheFirstAndSayWhy) {
  auto job = MakeJob(SpotInks(10));
  PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(8));
  std::string debug;
  auto previous = TavSys::setDebugSink([&](std::string_view text) { debug += text; });
  space.pdfOutputFillColor(out, Tints(25600));
  TavSys::setDebugSink(previous);
  EXPECT_EQ(out.take(), "/DN_0_1_2_3_4_5_6_7_8_9_a cs\n/op0 gs\n1 1 1 1 1 1 1 1  scn\n");
  EXPECT_NE(debug.find("several parts"), std::string::npos);
}

TEST_F(DeviceNTest, ForcedDeviceNPadsProcessOnlyPartsWithNone) {
  auto job = MakeJob({{"Spot 1", -1, {10, 20, 30, 40}}, {"Cyan", 0, {}}, {"Magenta", 1, {}}});
  PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(2, true, true));
  ASSERT_EQ(space.pdfGetNumParts(), 2);
  EXPECT_FALSE(space.NeedsNonePadding(0, 3));
  EXPECT_TRUE(space.NeedsNonePadding(1, 3));
  EXPECT_EQ(space.pdfGetName(0), "DN_0_1_2_a");
  EXPECT_EQ(space.pdfGetName(1), "DN_0_1_2_None_b");

  MemoryPdf pdf;
  PDFArray* array = space.pdfGetColorSpace(pdf.handler(), 1);
  ASSERT_NE(array, nullptr);
  PDFIndirectReference* f = RefAt(array, 3);
  ASSERT_NE(f, nullptr);
  // One colourant plus /None: not the Separation form.
  EXPECT_EQ(Serialise(array), "[ /DeviceN [ /Magenta /None ] /DeviceCMYK " + Ref(f) + " ]");
  EXPECT_NE(pdf.streamDictionary(f).find("/Domain [ 0  1  0  1  ]\n"), std::string::npos);
  EXPECT_EQ(pdf.streamData(f),
            BuildTintTransformProgram({{0.0f, 1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}}));

  EXPECT_TRUE(space.pdfOutputColorForPart(out, Tints(25600), 1));
  EXPECT_EQ(out.take(), "/DN_0_1_2_None_b cs\n/op1 gs\n1 0  scn\n");
}

TEST_F(DeviceNTest, OneSpotInkMayBeWrittenAsSeparation) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(4, 25600);
  MemoryPdf pdf;
  PDFCsDeviceN separationForm(job.get(), tints, 1, 25600, Opts(8, false, true));
  PDFArray* array = separationForm.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  PDFIndirectReference* f = RefAt(array, 3);
  EXPECT_EQ(Serialise(array), "[ /Separation /Orange /DeviceCMYK " + Ref(f) + " ]");
  EXPECT_NE(pdf.streamDictionary(f).find("/Domain [ 0  1  ]\n"), std::string::npos);

  // The Separation form names a process ink by its process name, the DeviceN
  // form by the job's name.
  auto renamed = MakeJob({{"Process Cyan", 0, {}}});
  const Tints cyan = Tints().set(0, 25600);
  PDFArray* cyanSeparation =
      PDFCsDeviceN(renamed.get(), cyan, 1, 25600, Opts(8, true, true)).pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(cyanSeparation, nullptr);
  EXPECT_EQ(Serialise(cyanSeparation->Get(1)), "[ /Process#20Cyan /None ]");
  CsDeviceN::Options single = Opts(8, false, true);
  PDFCsDeviceN cyanSpace(renamed.get(), cyan, 1, 25600, single);
  // Process inks alone make DeviceCMYK unless the NChannel road asks for DeviceN.
  PDFArray* cyanForm = cyanSpace.WriteDeviceNColorSpaceArray(pdf.handler(), 0, false, true);
  ASSERT_NE(cyanForm, nullptr);
  EXPECT_EQ(Serialise(cyanForm->Get(1)), "/Cyan");

  // Without the permission, and always for NChannel, it stays DeviceN.
  PDFCsDeviceN deviceN(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_EQ(Serialise(deviceN.pdfGetColorSpace(pdf.handler(), 0)->Get(0)), "/DeviceN");
  CsNChannel nchannel(job.get(), tints, 1, 25600, Opts(8, false, true));
  PDFArray* nArray = nchannel.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(nArray, nullptr);
  ASSERT_EQ(nArray->Size(), 5u);
  EXPECT_EQ(Serialise(nArray->Get(1)), "[ /Orange ]");
  const std::string attributes = Serialise(nArray->Get(4));
  EXPECT_NE(attributes.find("/Subtype /NChannel"), std::string::npos);
  EXPECT_NE(attributes.find("/Components [ /None /None /None /None ]"), std::string::npos);
}

TEST_F(DeviceNTest, NChannelNamesItsInksAndProcessComponents) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(0, 25600).set(3, 12800).set(4, 6400);
  CsNChannel space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_EQ(space.GetClassID(), 0x4E434841);
  MemoryPdf pdf;
  pdf.handler()->mProcessSeparations = {0, 1, 2, 3};
  PDFArray* array = space.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  ASSERT_EQ(array->Size(), 5u);
  EXPECT_EQ(Serialise(array->Get(1)), "[ /Cyan /Black /Orange ]");
  auto* attributes = dynamic_cast<TavPDF::PDFDictionary*>(array->Get(4));
  ASSERT_NE(attributes, nullptr);
  auto* colorants = dynamic_cast<TavPDF::PDFDictionary*>(attributes->Get("Colorants"));
  ASSERT_NE(colorants, nullptr);
  EXPECT_EQ(colorants->Size(), 3u);
  // Each colourant's Separation space was written as an object of its own.
  auto* orange = dynamic_cast<PDFIndirectReference*>(colorants->Get("Orange"));
  ASSERT_NE(orange, nullptr);
  const std::string bytes = pdf.bytes();
  EXPECT_NE(bytes.find(std::to_string(orange->GetObjectNumber()) + " 0 obj\n[ /Separation /Orange "
                                                                     "/DeviceCMYK "),
            std::string::npos);
  EXPECT_EQ(Serialise(attributes->Get("Process")),
            "<<\n/ColorSpace /DeviceCMYK\n/Components [ /Cyan /None /None /Black ]\n>>");
  EXPECT_EQ(Serialise(attributes->Get("Subtype")), "/NChannel");

  // Process inks alone are still DeviceN for NChannel, but DeviceCMYK otherwise.
  const Tints process = Tints().set(0, 25600).set(2, 25600);
  EXPECT_NE(CsNChannel(job.get(), process, 1, 25600, Opts(8)).pdfGetColorSpace(pdf.handler(), 0),
            nullptr);
  EXPECT_EQ(PDFCsDeviceN(job.get(), process, 1, 25600, Opts(8)).pdfGetColorSpace(pdf.handler(), 0),
            nullptr);
}

TEST_F(DeviceNTest, ProcessOnlySpaceIsDeviceCmyk) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(0, 12800).set(2, 25600).set(3, 0);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_TRUE(space.IsPureCMYK());
  EXPECT_EQ(space.pdfGetName(0), "DeviceCMYK");
  EXPECT_FALSE(space.pdfHasColorSpaceArray(0));
  space.pdfOutputFillColor(out, tints);
  EXPECT_EQ(out.take(), "/DeviceCMYK cs\n/op0 gs\n0.50 0 1 0 k\n");
  EXPECT_EQ(Serialise(space.pdfGetSepsArray(tints)), "[ 0.5  0  1  0  ]");
}

TEST_F(DeviceNTest, EmptySpacesKeepTheirComponentCountsConsistent) {
  auto job = MakeJob(MixedInks());
  MemoryPdf pdf;
  PDFCsDeviceN plain(job.get(), Tints(), 1, 25600, Opts(8));
  EXPECT_TRUE(plain.IsEmpty());
  EXPECT_EQ(plain.pdfGetName(0), "DeviceCMYK");
  EXPECT_EQ(plain.pdfGetColorSpace(pdf.handler(), 0), nullptr);
  EXPECT_FALSE(plain.pdfHasColorSpaceArray(0));
  plain.pdfOutputFillColor(out, Tints());
  EXPECT_EQ(out.take(), "/DeviceCMYK cs\n/op0 gs\n0 0 0 0 k\n");
  // DeviceCMYK takes four values.
  EXPECT_EQ(Serialise(plain.pdfGetSepsArray(Tints())), "[ 0  0  0  0  ]");

  PDFCsDeviceN forced(job.get(), Tints(), 1, 25600, Opts(8, true));
  EXPECT_EQ(forced.pdfGetName(0), "DN_None_None");
  EXPECT_TRUE(forced.pdfHasColorSpaceArray(0));
  PDFArray* array = forced.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(Serialise(array->Get(1)), "[ /None /None ]");
  forced.pdfOutputStrokeColor(out, Tints());
  EXPECT_EQ(out.take(), "/DN_None_None CS\n/op0 gs\n0 0 SCN\n");
  EXPECT_EQ(Serialise(forced.pdfGetSepsArray(Tints())), "[ 0  0  ]");
}

TEST_F(DeviceNTest, SetOperationsEqualityAndClones) {
  auto job = MakeJob(MixedInks());
  PDFCsDeviceN a(job.get(), Tints().set(4, 25600).set(5, 25600), 1, 25600, Opts(8));
  PDFCsDeviceN b(job.get(), Tints().set(5, 25600).set(6, 25600), 1, 25600, Opts(8));
  std::unique_ptr<ColorSpace> clone(a.Clone());
  EXPECT_TRUE(*clone == a);
  EXPECT_FALSE(a == b);
  PDFCsDeviceN united(a);
  united.Unite(b);
  EXPECT_EQ(united.pdfGetName(0), "DN_4_5_6");
  PDFCsDeviceN common(a);
  common.Intersect(b);
  EXPECT_EQ(common.pdfGetName(0), "DN_5");
  PDFCsDeviceN rest(a);
  rest.Differ(b);
  EXPECT_EQ(rest.pdfGetName(0), "DN_4");
  PDFCsDeviceN added(job.get(), -1, Opts(8));
  EXPECT_TRUE(added.IsEmpty());
  added.SetSeparationUse(4, true);
  added.SetSeparationUse(5, true);
  added.SetSeparationUse(64, true);  // no such slot: ignored
  EXPECT_TRUE(added == a);
  // A multi-separation space over the same inks is another class.
  EXPECT_FALSE(CsMultiSep(job.get(), Tints().set(4, 25600).set(5, 25600), 1, 25600, Opts(8)) == a);
}

using MultiSepTest = ColourTest;

TEST_F(MultiSepTest, AllFourProcessInksMakeOneCmykPart) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(0, 12800).set(1, 25600).set(2, 256).set(3, 6400).set(4, 25600).set(5, 12800);
  CsMultiSep space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_EQ(space.GetClassID(), 0x4D554C54);
  EXPECT_TRUE(space.IsMultiSep());
  EXPECT_FALSE(space.IsDeviceN());
  ASSERT_EQ(space.pdfGetNumParts(), 3);
  EXPECT_EQ(space.pdfGetName(0), "DeviceCMYK");
  EXPECT_EQ(space.pdfGetName(1), "Sep4");
  EXPECT_EQ(space.pdfGetName(2), "Sep5");
  EXPECT_EQ(space.pdfGetName(3), "");
  EXPECT_FALSE(space.pdfHasColorSpaceArray(0));
  EXPECT_TRUE(space.pdfHasColorSpaceArray(1));

  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 0));
  EXPECT_EQ(out.take(), "/op0 gs\n0.50 1 0.01 0.25 k\n");
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 1));
  EXPECT_EQ(out.take(), "/Sep4 cs\n/op1 gs\n1 scn\n");
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 2));
  EXPECT_EQ(out.take(), "/Sep5 cs\n0.50 scn\n");
  EXPECT_FALSE(space.pdfOutputColorForPart(out, tints, 3));
  EXPECT_EQ(out.take(), "");

  std::unique_ptr<CsMasked> cmykPart(space.pdfGetPart(0));
  std::unique_ptr<CsMasked> spotPart(space.pdfGetPart(2));
  ASSERT_TRUE(cmykPart && spotPart);
  EXPECT_EQ(cmykPart->GetClassID(), CsPartialCMYK::kClassID);
  EXPECT_FALSE(cmykPart->GetOverprint());
  EXPECT_EQ(spotPart->GetClassID(), CsSeparation::kClassID);
  EXPECT_TRUE(spotPart->GetOverprint());
  EXPECT_EQ(space.pdfGetPart(3), nullptr);
  EXPECT_EQ(Serialise(space.pdfGetSepsArray(tints)), "[ 0.5  1  0.01  0.25  ]");

  MemoryPdf pdf;
  EXPECT_EQ(space.pdfGetColorSpace(pdf.handler(), 0), nullptr);
  PDFArray* green = space.pdfGetColorSpace(pdf.handler(), 2);
  ASSERT_NE(green, nullptr);
  EXPECT_EQ(Serialise(green->Get(1)), "/Green");
}

TEST_F(MultiSepTest, IncompleteProcessInksArePartsOfTheirOwn) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(0, 25600).set(3, 25600).set(4, 12800);
  CsMultiSep space(job.get(), tints, 1, 25600, Opts(8));
  ASSERT_EQ(space.pdfGetNumParts(), 3);
  EXPECT_EQ(space.pdfGetName(0), "Sep0");
  EXPECT_EQ(space.pdfGetName(1), "Sep3");
  EXPECT_EQ(space.pdfGetName(2), "Sep4");

  // One colour cannot set three parts: the first is set, with a note.
  std::string debug;
  auto previous = TavSys::setDebugSink([&](std::string_view text) { debug += text; });
  space.pdfOutputFillColor(out, tints);
  space.pdfOutputStrokeColor(out, tints);
  TavSys::setDebugSink(previous);
  EXPECT_EQ(out.take(), "/Sep0 cs\n/op0 gs\n1 scn\n/Sep0 CS\n1 SCN\n");
  EXPECT_NE(debug.find("several parts"), std::string::npos);
}

TEST_F(MultiSepTest, OnePartPaintsLikeThatPart) {
  auto job = MakeJob(MixedInks());
  CsMultiSep space(job.get(), 5, Opts(8));
  ASSERT_EQ(space.pdfGetNumParts(), 1);
  space.pdfOutputFillColor(out, Tints().set(5, 6400));
  EXPECT_EQ(out.take(), "/Sep5 cs\n/op0 gs\n0.25 scn\n");
  space.pdfOutputStrokeColor(out, Tints().set(5, 6400));
  EXPECT_EQ(out.take(), "/Sep5 CS\n0.25 SCN\n");

  CsMultiSep empty(job.get(), -1, Opts(8));
  EXPECT_EQ(empty.pdfGetNumParts(), 0);
  empty.pdfOutputFillColor(out, Tints(25600));
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(empty.pdfGetSepsArray(Tints(25600)), nullptr);
}

// DeviceN, NChannel and multi-separation spaces: names, parts, arrays with
// their tint transforms, and colour operators.
#include <gtest/gtest.h>

#include <regex>

#include "colour/devicen.h"
#include "colour_support.h"
#include "pdfwriter/pdfobjects.h"

using namespace colourtest;
using TavPDF::PDFArray;
using TavPDF::PDFIndirectReference;

namespace {

// The CMYK vector of an ink as the tint transform takes it.
std::array<float, 4> Vector(const Ink& ink) {
  return {ink.cmyk[0] / 100.0f, ink.cmyk[1] / 100.0f, ink.cmyk[2] / 100.0f, ink.cmyk[3] / 100.0f};
}

// A colour-space array "<head> /DeviceCMYK <function> ]" whose Type 4 tint
// transform takes one tint per vector and mixes the vectors.
void ExpectArray(MemoryPdf& pdf, PDFArray* array, const std::string& head,
                 const std::vector<std::array<float, 4>>& vectors) {
  ASSERT_NE(array, nullptr);
  auto* function = dynamic_cast<PDFIndirectReference*>(array->Get(3));
  ASSERT_NE(function, nullptr) << Serialise(array);
  EXPECT_EQ(Serialise(array), head + " /DeviceCMYK " + RefText(array, 3) + " ]");
  EXPECT_EQ(pdf.streamData(function), BuildTintTransformProgram(vectors));
}

}  // namespace

using DeviceNTest = ColourTest;

TEST_F(DeviceNTest, ThreeInksWriteArrayProgramAndOperators) {
  const auto inks = MixedInks();
  auto job = MakeJob(inks);
  const Tints tints = Tints().set(1, 12800).set(4, 25600).set(5, 6400).set(6, 0);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_EQ(space.pdfGetNumParts(), 1);
  EXPECT_EQ(space.pdfGetName(0), "DN_1_4_5");
  space.pdfOutputFillColor(out, tints);
  space.pdfOutputStrokeColor(out, tints);
  EXPECT_EQ(out.take(), "/DN_1_4_5 cs\n/op0 gs\n0.50 1 0.25 scn\n/DN_1_4_5 CS\n0.50 1 0.25 SCN\n");
  EXPECT_EQ(Serialise(space.pdfGetSepsArray(tints)), "[ 0.5  1  0.25  ]");

  MemoryPdf pdf;
  ExpectArray(pdf, space.pdfGetColorSpace(pdf.handler(), 0), "[ /DeviceN [ /Magenta /Orange /Green ]",
              {{0.0f, 1.0f, 0.0f, 0.0f}, Vector(inks[4]), Vector(inks[5])});
}

// Spaces over many inks split into parts of at most 8 colourants below PDF
// 1.5 and 27 from 1.5: names, arrays and programs part by part.
TEST_F(DeviceNTest, ManyInksSplitIntoParts) {
  struct Case {
    int inks, m;
    std::vector<int> counts;
  } cases[] = {{12, 8, {8, 4}}, {12, 27, {12}}, {30, 8, {8, 8, 8, 6}}, {30, 27, {27, 3}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.inks) + " inks, " + std::to_string(c.m) + " per part");
    const auto inks = SpotInks(c.inks);
    auto job = MakeJob(inks);
    PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(c.m));
    ASSERT_EQ(space.pdfGetNumParts(), static_cast<int>(c.counts.size()));
    std::string base = "DN";
    for (int i = 0; i < c.inks; ++i) base += "_" + std::to_string(i);
    MemoryPdf pdf;
    for (int part = 0, first = 0; part < space.pdfGetNumParts(); first += c.counts[std::size_t(part++)]) {
      EXPECT_EQ(space.pdfGetName(part), c.counts.size() > 1 ? base + "_" + char('a' + part) : base);
      std::string head = "[ /DeviceN [ ";
      std::vector<std::array<float, 4>> vectors;
      for (int i = first; i < first + c.counts[std::size_t(part)]; ++i) {
        head += "/Spot#20" + std::to_string(i + 1) + " ";
        vectors.push_back(Vector(inks[static_cast<std::size_t>(i)]));
      }
      ExpectArray(pdf, space.pdfGetColorSpace(pdf.handler(), part), head + "]", vectors);
    }
    // A part that does not exist is neither written nor indexed past the inks.
    EXPECT_EQ(space.pdfGetColorSpace(pdf.handler(), space.pdfGetNumParts()), nullptr);
    EXPECT_EQ(space.pdfGetColorSpace(pdf.handler(), -1), nullptr);
  }
}

TEST_F(DeviceNTest, PartsOverprintLaterOnes) {
  auto job = MakeJob(SpotInks(12));
  Tints tints;
  for (int i = 0; i < 12; ++i) tints.set(i, static_cast<unsigned short>(512 * (i + 1)));
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  const std::string partA = "/DN_0_1_2_3_4_5_6_7_8_9_10_11_a cs\n/op0 gs\n0.02 0.04 0.06 0.08 0.10 0.12 0.14 0.16  scn\n";
  // Part colours count the groups from the start.
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 0));
  EXPECT_TRUE(space.pdfOutputColorForPart(out, tints, 1));
  EXPECT_EQ(out.take(), partA + "/DN_0_1_2_3_4_5_6_7_8_9_10_11_b cs\n/op1 gs\n0.18 0.20 0.22 0.24  scn\n");
  EXPECT_FALSE(space.GetOverprint());  // the space's own flag is restored
  EXPECT_FALSE(space.pdfOutputColorForPart(out, tints, 2));
  EXPECT_EQ(out.take(), "");  // no stray path operator either

  // A group whose inks are all undefined at paint time writes nothing.
  Tints paint = tints;
  for (int i = 8; i < 12; ++i) paint.set(i, 65280);
  EXPECT_FALSE(space.pdfOutputColorForPart(out, paint, 1));
  EXPECT_EQ(out.take(), "");

  // Part spaces count the groups from the end: part 0 is the short last
  // group and knocks out, part 1 the first eight, overprinting.
  std::unique_ptr<CsMasked> part0(space.pdfGetPart(0)), part1(space.pdfGetPart(1));
  ASSERT_TRUE(part0 && part1);
  EXPECT_EQ(part0->pdfGetName(0) + (part0->GetOverprint() ? " op" : " ko"), "DN_8_9_10_11 ko");
  EXPECT_EQ(part1->pdfGetName(0) + (part1->GetOverprint() ? " op" : " ko"), "DN_0_1_2_3_4_5_6_7 op");
  EXPECT_EQ(space.pdfGetPart(2), nullptr);
}

TEST_F(DeviceNTest, ForcedDeviceNPadsProcessOnlyPartsWithNone) {
  auto job = MakeJob({{"Spot 1", -1, {10, 20, 30, 40}}, {"Cyan", 0, {}}, {"Magenta", 1, {}}});
  PDFCsDeviceN space(job.get(), Tints(25600), 1, 25600, Opts(2, true, true));
  ASSERT_EQ(space.pdfGetNumParts(), 2);
  EXPECT_EQ(space.pdfGetName(0) + " " + space.pdfGetName(1), "DN_0_1_2_a DN_0_1_2_None_b");
  // One colourant plus /None: not the Separation form.
  MemoryPdf pdf;
  ExpectArray(pdf, space.pdfGetColorSpace(pdf.handler(), 1), "[ /DeviceN [ /Magenta /None ]",
              {{0.0f, 1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}});
  EXPECT_TRUE(space.pdfOutputColorForPart(out, Tints(25600), 1));
  EXPECT_EQ(out.take(), "/DN_0_1_2_None_b cs\n/op1 gs\n1 0  scn\n");
}

TEST_F(DeviceNTest, OneInkMayBeWrittenAsSeparation) {
  const auto inks = MixedInks();
  auto job = MakeJob(inks), renamed = MakeJob({{"Process Cyan", 0, {}}});
  const Tints orange = Tints().set(4, 25600), cyan = Tints().set(0, 25600);
  MemoryPdf pdf;
  ExpectArray(pdf, PDFCsDeviceN(job.get(), orange, 1, 25600, Opts(8, false, true)).pdfGetColorSpace(pdf.handler(), 0),
              "[ /Separation /Orange", {Vector(inks[4])});
  // The Separation form names a process ink by its process name, the DeviceN
  // form by the job's name; without the permission, and always for NChannel,
  // one ink stays DeviceN.
  auto head = [&](PDFArray* array) {
    return array ? Serialise(array->Get(0)) + " " + Serialise(array->Get(1)) : std::string("none");
  };
  EXPECT_EQ(head(PDFCsDeviceN(renamed.get(), cyan, 1, 25600, Opts(8, true, true)).pdfGetColorSpace(pdf.handler(), 0)),
            "/DeviceN [ /Process#20Cyan /None ]");
  EXPECT_EQ(head(PDFCsDeviceN(renamed.get(), cyan, 1, 25600, Opts(8, false, true))
                     .WriteDeviceNColorSpaceArray(pdf.handler(), 0, false, true)),
            "/Separation /Cyan");
  EXPECT_EQ(head(PDFCsDeviceN(job.get(), orange, 1, 25600, Opts(8)).pdfGetColorSpace(pdf.handler(), 0)),
            "/DeviceN [ /Orange ]");
  EXPECT_EQ(head(CsNChannel(job.get(), orange, 1, 25600, Opts(8, false, true)).pdfGetColorSpace(pdf.handler(), 0)),
            "/DeviceN [ /Orange ]");
  // Process inks named as colourants (so that a 0 knocks out under
  // overprint) take their process names, to reach the process plates.
  auto two = MakeJob({{"Process Cyan", 0, {}}, {"Process Magenta", 1, {}}});
  PDFCsDeviceN process(two.get(), Tints().set(0, 0).set(1, 12800), 0, 25600, Opts(8, false, true));
  EXPECT_EQ(process.pdfGetName(0), "DeviceCMYK");
  process.NameProcessInksAsColorants(true);
  EXPECT_EQ(process.pdfGetName(0), "DN_0_1");
  EXPECT_EQ(head(process.pdfGetColorSpace(pdf.handler(), 0)), "/DeviceN [ /Cyan /Magenta ]");
}

TEST_F(DeviceNTest, NChannelNamesItsInksAndProcessComponents) {
  const auto inks = MixedInks();
  auto job = MakeJob(inks);
  CsNChannel space(job.get(), Tints().set(0, 25600).set(3, 12800).set(4, 6400), 1, 25600, Opts(8));
  MemoryPdf pdf;
  pdf.handler()->mProcessSeparations = {0, 1, 2, 3};
  PDFArray* array = space.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  // References shown as R: the function and each colourant's own space.
  EXPECT_EQ(std::regex_replace(Serialise(array), std::regex("[0-9]+ 0 R"), "R"),
            "[ /DeviceN [ /Cyan /Black /Orange ] /DeviceCMYK R <<\n/Colorants <<\n/Black R\n/Cyan R\n/Orange R"
            "\n>>\n/Process <<\n/ColorSpace /DeviceCMYK\n/Components [ /Cyan /None /None /Black ]"
            "\n>>\n/Subtype /NChannel\n>> ]");

  // Process inks alone are still DeviceN for NChannel, but DeviceCMYK otherwise.
  const Tints process = Tints().set(0, 25600).set(2, 25600);
  EXPECT_NE(CsNChannel(job.get(), process, 1, 25600, Opts(8)).pdfGetColorSpace(pdf.handler(), 0), nullptr);
  PDFCsDeviceN cmyk(job.get(), process, 1, 25600, Opts(8));
  EXPECT_EQ(cmyk.pdfGetColorSpace(pdf.handler(), 0), nullptr);
  EXPECT_EQ(cmyk.pdfGetName(0), "DeviceCMYK");
}

// A space without inks still writes every operand its operator takes.
TEST_F(DeviceNTest, EmptySpacesKeepTheirComponentCountsConsistent) {
  auto job = MakeJob(MixedInks());
  MemoryPdf pdf;
  PDFCsDeviceN plain(job.get(), Tints(), 1, 25600, Opts(8)), forced(job.get(), Tints(), 1, 25600, Opts(8, true));
  EXPECT_EQ(plain.pdfGetName(0) + " " + forced.pdfGetName(0), "DeviceCMYK DN_None_None");
  EXPECT_FALSE(plain.pdfHasColorSpaceArray(0));
  EXPECT_TRUE(forced.pdfHasColorSpaceArray(0));
  EXPECT_EQ(plain.pdfGetColorSpace(pdf.handler(), 0), nullptr);
  PDFArray* array = forced.pdfGetColorSpace(pdf.handler(), 0);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(Serialise(array), "[ /DeviceN [ /None /None ] /DeviceCMYK " + RefText(array, 3) + " ]");
  plain.pdfOutputFillColor(out, Tints());
  forced.pdfOutputStrokeColor(out, Tints());
  EXPECT_EQ(out.take(), "/DeviceCMYK cs\n/op0 gs\n0 0 0 0 k\n/DN_None_None CS\n0 0 SCN\n");
  EXPECT_EQ(Serialise(plain.pdfGetSepsArray(Tints())) + Serialise(forced.pdfGetSepsArray(Tints())),
            "[ 0  0  0  0  ][ 0  0  ]");  // DeviceCMYK takes four
}

// The pending colour-space list and the cache tell spaces apart by ==, and
// keep clones: a clone equals its original, every other row differs.
TEST_F(DeviceNTest, EqualityClonesAndSetOperations) {
  auto job = MakeJob(MixedInks());
  PDFCsDeviceN a(job.get(), Tints().set(4, 25600).set(5, 25600), 1, 25600, Opts(8));
  std::unique_ptr<ColorSpace> spaces[] = {
      std::make_unique<PDFCsDeviceN>(job.get(), Tints().set(5, 25600).set(6, 25600), 1, 25600, Opts(8)),
      std::make_unique<CsMultiSep>(job.get(), Tints().set(4, 25600).set(5, 25600), 1, 25600, Opts(8)),
      std::make_unique<CsPartialCMYK>(job.get(), true, false, false, false, false),
      std::make_unique<CsPartialCMYK>(job.get(), false, true, false, false, false),  // other operands
      std::make_unique<CsSeparation>(job.get(), 4, false),
      std::make_unique<CsSeparation>(job.get(), 5, false),
      std::make_unique<CsSeparation>(job.get(), 4, true),  // another transfer choice
      std::make_unique<PDFCsDeviceGray>(job.get(), 4, false),
      std::unique_ptr<ColorSpace>(a.Clone()),
  };
  for (std::size_t i = 0; i < std::size(spaces); ++i) {
    std::unique_ptr<ColorSpace> clone(spaces[i]->Clone());
    EXPECT_TRUE(*clone == *spaces[i]) << i;
    for (std::size_t j = 0; j + 1 < std::size(spaces); ++j) EXPECT_EQ(*spaces[i] == *spaces[j], i == j) << i << " " << j;
  }
  EXPECT_TRUE(*spaces[8] == a);
  std::unique_ptr<CsMasked> cmykPart(spaces[2]->pdfGetPart(0));
  ASSERT_TRUE(cmykPart);
  EXPECT_TRUE(*cmykPart == *spaces[2]);
  EXPECT_EQ(spaces[2]->pdfGetPart(1), nullptr);

  PDFCsDeviceN united(a), common(a), rest(a);
  united.Unite(*spaces[0]);
  common.Intersect(*spaces[0]);
  rest.Differ(*spaces[0]);
  EXPECT_EQ(united.pdfGetName(0) + " " + common.pdfGetName(0) + " " + rest.pdfGetName(0), "DN_4_5_6 DN_5 DN_4");
  PDFCsDeviceN added(job.get(), -1, Opts(8));
  EXPECT_TRUE(added.IsEmpty());
  for (int sep : {4, 5, 64}) added.SetSeparationUse(sep, true);  // 64: no such slot, ignored
  EXPECT_TRUE(added == a);
}

using MultiSepTest = ColourTest;

TEST_F(MultiSepTest, AllFourProcessInksMakeOneCmykPartAndOthersPartsOfTheirOwn) {
  auto job = MakeJob(MixedInks());
  const Tints tints = Tints().set(0, 12800).set(1, 25600).set(2, 256).set(3, 6400).set(4, 25600).set(5, 12800);
  CsMultiSep space(job.get(), tints, 1, 25600, Opts(8));
  EXPECT_TRUE(space.IsMultiSep() && !space.IsDeviceN());
  ASSERT_EQ(space.pdfGetNumParts(), 3);
  const char* names[] = {"DeviceCMYK", "Sep4", "Sep5", ""};
  const char* colours[] = {"/op0 gs\n0.50 1 0.01 0.25 k\n", "/Sep4 cs\n/op1 gs\n1 scn\n", "/Sep5 cs\n0.50 scn\n", ""};
  for (int part = 0; part < 4; ++part) {
    EXPECT_EQ(space.pdfGetName(part), names[part]);
    EXPECT_EQ(space.pdfHasColorSpaceArray(part), part == 1 || part == 2);
    EXPECT_EQ(space.pdfOutputColorForPart(out, tints, part), part < 3);
    EXPECT_EQ(out.take(), colours[part]);
  }
  EXPECT_EQ(space.pdfGetPart(3), nullptr);
  EXPECT_EQ(Serialise(space.pdfGetSepsArray(tints)), "[ 0.5  1  0.01  0.25  ]");

  // Incomplete process inks are parts of their own.
  const Tints some = Tints().set(0, 25600).set(3, 25600).set(4, 12800);
  CsMultiSep incomplete(job.get(), some, 1, 25600, Opts(8));
  ASSERT_EQ(incomplete.pdfGetNumParts(), 3);
  EXPECT_EQ(incomplete.pdfGetName(0) + " " + incomplete.pdfGetName(1) + " " + incomplete.pdfGetName(2), "Sep0 Sep3 Sep4");
  // One colour cannot set three parts (inside q ... Q it would be lost): the
  // first is set, with a note.
  DebugCapture debug;
  incomplete.pdfOutputFillColor(out, some);
  incomplete.pdfOutputStrokeColor(out, some);
  EXPECT_EQ(out.take(), "/Sep0 cs\n/op0 gs\n1 scn\n/Sep0 CS\n1 SCN\n");
  EXPECT_NE(debug.text.find("several parts"), std::string::npos);
  // One part paints like that part; no part paints nothing.
  CsMultiSep single(job.get(), 5, Opts(8)), empty(job.get(), -1, Opts(8));
  ASSERT_EQ(single.pdfGetNumParts(), 1);
  EXPECT_EQ(empty.pdfGetNumParts(), 0);
  single.pdfOutputStrokeColor(out, Tints().set(5, 6400));
  empty.pdfOutputFillColor(out, Tints(25600));
  EXPECT_EQ(out.take(), "/Sep5 CS\n0.25 SCN\n");
  EXPECT_EQ(empty.pdfGetSepsArray(Tints(25600)), nullptr);
}

// A space of process inks only is written as DeviceCMYK: its four operands
// are the tints of the first ink in slot order of each component, whatever
// the order of the inks in the job, 0 for a component the job lacks.
TEST_F(DeviceNTest, ProcessOperandsFollowTheComponentsNotTheSlots) {
  struct Case {
    const char* what;
    std::vector<Ink> inks;
    std::vector<std::pair<int, unsigned short>> tints;  // separation, tint
    const char* line;
  };
  const Case cases[] = {
      {"shuffled",
       {{"Black", 3, {}}, {"Yellow", 2, {}}, {"Cyan", 0, {}}, {"Magenta", 1, {}}},
       {{0, 25600}, {1, 12800}, {2, 256}, {3, 6400}},
       "0.01 0.25 0.50 1 k\n"},
      {"two missing", {{"Cyan", 0, {}}, {"Black", 3, {}}, {"Spot", -1, {1, 2, 3, 4}}}, {{0, 12800}, {1, 3}},
       "0.50 0 0 0.00012 k\n"},
      {"the first of two blacks",
       {{"Black", 3, {}}, {"Cyan", 0, {}}, {"Black 2", 3, {}}},
       {{0, 25600}, {2, 12800}},
       "0 0 0 1 k\n"},
  };
  for (const Case& c : cases) {
    auto job = MakeJob(c.inks);
    Tints tints;
    for (const auto& [sep, tint] : c.tints) tints.set(sep, tint);
    PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
    ASSERT_EQ(space.pdfGetName(0), "DeviceCMYK") << c.what;
    space.pdfOutputFillColor(out, tints);
    const std::string text = out.take();
    const std::size_t last = text.rfind('\n', text.size() - 2);
    EXPECT_EQ(text.substr(last + 1), c.line) << c.what;
  }
}

// The cache asks a space directly whether it equals the one in force, which
// may be of any class: spaces over the same inks are equal only within one
// class of the DeviceN family, and never to a space outside it.
TEST_F(DeviceNTest, DirectComparisonKeepsTheClassesApart) {
  auto job = MakeJob(MixedInks());
  const Tints inks = Tints().set(4, 25600).set(5, 25600);
  std::unique_ptr<ColorSpace> spaces[] = {
      std::make_unique<PDFCsDeviceN>(job.get(), inks, 1, 25600, Opts(8)),
      std::make_unique<CsNChannel>(job.get(), inks, 1, 25600, Opts(8)),
      std::make_unique<CsMultiSep>(job.get(), inks, 1, 25600, Opts(8)),
      std::make_unique<CsSeparation>(job.get(), 4, false),
      std::make_unique<PDFCsDeviceN>(job.get(), inks, 1, 25600, Opts(8, true)),
  };
  for (std::size_t i = 0; i < std::size(spaces); ++i) {
    std::unique_ptr<ColorSpace> clone(spaces[i]->Clone());
    EXPECT_TRUE(clone->IsEqual(*spaces[i])) << i;
    EXPECT_EQ(spaces[i]->AsDeviceN() != nullptr, i != 3) << i;
    for (std::size_t j = 0; j < std::size(spaces); ++j) {
      EXPECT_EQ(spaces[i]->IsEqual(*spaces[j]), i == j) << i << " " << j;
    }
  }
}

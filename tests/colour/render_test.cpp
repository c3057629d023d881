// Every kind of colour space, written into a one-page PDF and separated by
// Ghostscript: each ink's plate must carry the tint written, and the readers
// must accept the file.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>

#include "colour/devicen.h"
#include "colour_support.h"
#include "pdfproof_support.h"
#include "pdfwriter/pdfpending.h"
#include "support/consumers.h"

using namespace colourtest;

namespace {

constexpr double kOneStep = 1.0 / 255 + 1e-9;
const char* const kFill = "0 0 200 200 re f\n";

// Writes a one-page PDF whose ColorSpace resources are every part of the
// space and whose content is what `content` writes. The job only hosts the
// page writer: the space names the inks of its own job.
void WritePage(const std::filesystem::path& pdf, jobstr& job, std::uint32_t version, ColorSpace& space,
               const std::function<void(TavPDF::pdfoutfilter&)>& content) {
  g2test::Page page(job, g2test::defaultSettings(), version, pdf);
  TavPDF::GetPendingLists(page.handler())->registerColorSpace(space);
  content(dynamic_cast<TavPDF::pdfoutfilter&>(page.writer().GetOutputStream()));
  page.finish();
}

// Writes the page, painting it once with the fill colour (or once per part),
// checks it with the readers and separates it: every ink named in `expected`
// must cover the page at its value, every other plate must stay empty.
void ExpectPlates(const std::filesystem::path& pdf, jobstr& job, std::uint32_t version, ColorSpace& space,
                  const Tints& tints, bool partByPart, const std::map<std::string, double>& expected) {
  WritePage(pdf, job, version, space, [&](TavPDF::pdfoutfilter& out) {
    if (!partByPart) {
      space.pdfOutputFillColor(out, tints);
      out << kFill;
    }
    for (int part = 0; partByPart && part < space.pdfGetNumParts(); ++part)
      if (space.pdfOutputColorForPart(out, tints, part)) out << kFill;
  });
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  const tavtest::Plates plates = tavtest::measurePlates(pdf);
  for (const auto& [ink, coverage] : expected) {
    ASSERT_TRUE(plates.coverage.count(ink)) << ink << " missing; plates: " << plates.summary();
    EXPECT_NEAR(plates.coverage.at(ink), coverage, kOneStep) << ink << "; " << plates.summary();
  }
  for (const auto& [ink, coverage] : plates.coverage)
    if (!expected.count(ink)) {
      EXPECT_NEAR(coverage, 0.0, kOneStep) << ink << "; " << plates.summary();
    }
}

}  // namespace

using RenderTest = ColourTest;

TEST_F(RenderTest, EveryKindGivesEachInkItsTint) {
  tavtest::TestFolder dir;
  auto job = MakeJob(MixedInks());
  // Twelve inks for the split DeviceN: the four process inks and eight spot
  // inks (the separation device keeps at most ten spot plates of its own).
  auto twelveInks = ProcessInks();
  for (const Ink& spot : SpotInks(8)) twelveInks.push_back(spot);
  auto twelve = MakeJob(twelveInks);
  Tints twelveTints;
  std::map<std::string, double> twelveCoverage;
  for (int i = 0; i < 12; ++i) {
    twelveTints.set(i, static_cast<unsigned short>(1024 * (i + 8)));  // 32 % .. 76 %
    twelveCoverage[twelveInks[static_cast<std::size_t>(i)].name] = 1024 * (i + 8) / 25600.0;
  }
  const Tints mixed = Tints().set(1, 12800).set(4, 25600).set(5, 6400);
  const Tints process = Tints().set(0, 2560).set(1, 5120).set(2, 7680).set(3, 10240);
  const Tints all = Tints(process).set(4, 12800).set(5, 25600);

  struct Case {
    const char* file;
    std::uint32_t version;
    std::unique_ptr<ColorSpace> space;
    Tints tints;
    bool partByPart;
    std::map<std::string, double> expected;
  };
  Case cases[] = {
      {"gray", TavPDF::kPdf14, std::make_unique<PDFCsDeviceGray>(job.get(), 3, false),
       Tints().set(3, 7680), false, {{"Black", 0.30}}},
      {"cmyk", TavPDF::kPdf14, std::make_unique<CsPartialCMYK>(job.get(), true, true, false, false, false),
       Tints(25600).set(0, 6400).set(1, 15360), false, {{"Cyan", 0.25}, {"Magenta", 0.60}}},
      {"spot", TavPDF::kPdf13, std::make_unique<CsSeparation>(job.get(), 4, false),
       Tints().set(4, 10240), false, {{"Orange", 0.40}}},
      // /All reaches every plate the device has.
      {"registration", TavPDF::kPdf13, std::make_unique<CsSeparation>(job.get(), TavColor::kAllSeparations, false),
       Tints(25600), false, {{"Cyan", 1.0}, {"Magenta", 1.0}, {"Yellow", 1.0}, {"Black", 1.0}}},
      {"devicen", TavPDF::kPdf14, std::make_unique<PDFCsDeviceN>(job.get(), mixed, 1, 25600, Opts(8)),
       mixed, false, {{"Magenta", 0.5}, {"Orange", 1.0}, {"Green", 0.25}}},
      // Split into parts at PDF 1.3; one space at PDF 1.5. Later parts must
      // not knock out the inks of the earlier ones.
      {"split8", TavPDF::kPdf13, std::make_unique<PDFCsDeviceN>(twelve.get(), twelveTints, 1, 25600, Opts(8)),
       twelveTints, true, twelveCoverage},
      {"split27", TavPDF::kPdf15, std::make_unique<PDFCsDeviceN>(twelve.get(), twelveTints, 1, 25600, Opts(27)),
       twelveTints, true, twelveCoverage},
      {"nchannel", TavPDF::kPdf15,
       std::make_unique<CsNChannel>(job.get(), Tints().set(0, 7680).set(3, 12800).set(4, 17920), 1, 25600, Opts(8)),
       Tints().set(0, 7680).set(3, 12800).set(4, 17920), false, {{"Cyan", 0.3}, {"Black", 0.5}, {"Orange", 0.7}}},
      {"multisep", TavPDF::kPdf13, std::make_unique<CsMultiSep>(job.get(), all, 1, 25600, Opts(8)), all, true,
       {{"Cyan", 0.1}, {"Magenta", 0.2}, {"Yellow", 0.3}, {"Black", 0.4}, {"Orange", 0.5}, {"Green", 1.0}}},
  };
  EXPECT_EQ(cases[5].space->pdfGetNumParts(), 2);
  EXPECT_EQ(cases[8].space->pdfGetNumParts(), 3);
  for (auto& c : cases) {
    SCOPED_TRACE(c.file);
    ExpectPlates(dir / (std::string(c.file) + ".pdf"), *job, c.version, *c.space, c.tints, c.partByPart, c.expected);
  }
}

// On Ghostscript's CMYK device spot inks have no plate of their own and go
// through the tint transform: each component is 1 - (1 - t1 c1)(1 - t2 c2).
TEST_F(RenderTest, TintTransformMixesSpotInksIntoCmyk) {
  tavtest::TestFolder dir;
  auto job = MakeJob(MixedInks());
  // Orange (0 50 100 0) at 50 % and Green (100 0 100 0) at 25 %.
  const Tints tints = Tints().set(4, 12800).set(5, 6400);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  WritePage(dir / "mix.pdf", *job, TavPDF::kPdf14, space, [&](TavPDF::pdfoutfilter& out) {
    space.pdfOutputFillColor(out, tints);
    out << kFill;
  });
  // ink_cov prints each component's mean amount in percent: "C M Y K CMYK OK".
  const auto run = tavtest::runProcess({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=ink_cov",
                                        "-r18", "-o", "-", (dir / "mix.pdf").string()});
  ASSERT_EQ(run.exitCode, 0) << run.describe();
  std::istringstream amounts(run.out);
  const double expected[4] = {25, 25, 62.5, 0};
  for (double e : expected) {
    double percent = -1;
    amounts >> percent;
    EXPECT_NEAR(percent, e, 200.0 / 255) << run.out;
  }
}

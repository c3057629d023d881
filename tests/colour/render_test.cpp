// Every kind of colour space, written into a one-page PDF and separated by
// Ghostscript: each ink's plate must carry the tint written, and the readers
// must accept the file.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <array>
#include <cmath>

#include "colour/devicen.h"
#include "colour_support.h"
#include "support/consumers.h"

using namespace colourtest;

namespace {

constexpr double kOneStep = 1.0 / 255 + 1e-9;
const char* const kFill = "0 0 200 200 re f\n";

CsDeviceN::Options Opts(int maxColorants) {
  CsDeviceN::Options o;
  o.maxColorants = maxColorants;
  return o;
}

// Paints the whole page once per part of the space.
void PaintParts(ColorSpace& space, const Tints& tints, TavPDF::pdfoutfilter& out) {
  for (int part = 0; part < space.pdfGetNumParts(); ++part)
    if (space.pdfOutputColorForPart(out, tints, part)) out << kFill;
}

// Writes, checks with the readers and separates the page; then every ink
// named in `expected` must cover the page at its value, and every other
// plate must stay empty.
void ExpectPlates(const std::filesystem::path& pdf, const std::map<std::string, double>& expected) {
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
  const tavtest::Plates plates = tavtest::measurePlates(pdf);
  for (const auto& [ink, coverage] : expected) {
    ASSERT_TRUE(plates.coverage.count(ink)) << ink << " missing; plates: " << plates.summary();
    EXPECT_NEAR(plates.coverage.at(ink), coverage, kOneStep) << ink << "; " << plates.summary();
  }
  for (const auto& [ink, coverage] : plates.coverage) {
    if (!expected.count(ink)) {
      EXPECT_NEAR(coverage, 0.0, kOneStep) << ink << "; " << plates.summary();
    }
  }
}

std::vector<Ink> Inks() {
  auto inks = ProcessInks();
  inks.push_back({"Orange", -1, {0, 50, 100, 0}});
  inks.push_back({"Green", -1, {100, 0, 100, 0}});
  return inks;
}

}  // namespace

using RenderTest = ColourTest;

TEST_F(RenderTest, GrayPartialCmykAndSeparationGiveTheirTints) {
  tavtest::TestFolder dir;
  auto job = MakeJob(Inks());
  {
    PDFCsDeviceGray gray(job.get(), 3, false);
    WriteOnePagePdf(dir / "gray.pdf", TavPDF::kPdf14, {&gray}, [&](TavPDF::pdfoutfilter& out) {
      gray.pdfOutputFillColor(out, Tints().set(3, 7680));  // 30 % ink
      out << kFill;
    });
    ExpectPlates(dir / "gray.pdf", {{"Black", 0.30}});
  }
  {
    CsPartialCMYK cmyk(job.get(), true, true, false, false, false);
    WriteOnePagePdf(dir / "cmyk.pdf", TavPDF::kPdf14, {&cmyk}, [&](TavPDF::pdfoutfilter& out) {
      cmyk.pdfOutputFillColor(out, Tints(25600).set(0, 6400).set(1, 15360));
      out << kFill;
    });
    ExpectPlates(dir / "cmyk.pdf", {{"Cyan", 0.25}, {"Magenta", 0.60}});
  }
  {
    CsSeparation orange(job.get(), 4, false);
    WriteOnePagePdf(dir / "spot.pdf", TavPDF::kPdf13, {&orange}, [&](TavPDF::pdfoutfilter& out) {
      orange.pdfOutputFillColor(out, Tints().set(4, 10240));  // 40 %
      out << kFill;
    });
    ExpectPlates(dir / "spot.pdf", {{"Orange", 0.40}});
  }
  {
    CsSeparation all(job.get(), TavColor::kAllSeparations, false);
    WriteOnePagePdf(dir / "registration.pdf", TavPDF::kPdf13, {&all}, [&](TavPDF::pdfoutfilter& out) {
      all.pdfOutputFillColor(out, Tints(25600));
      out << kFill;
    });
    // /All reaches every plate the device has, process and spot alike.
    const auto plates = tavtest::measurePlates(dir / "registration.pdf");
    tavtest::expectPdfAcceptedByAllConsumers(dir / "registration.pdf");
    for (const char* ink : {"Cyan", "Magenta", "Yellow", "Black"})
      EXPECT_NEAR(plates.coverage.at(ink), 1.0, kOneStep) << plates.summary();
  }
}

TEST_F(RenderTest, DeviceNOfThreeInks) {
  tavtest::TestFolder dir;
  auto job = MakeJob(Inks());
  const Tints tints = Tints().set(1, 12800).set(4, 25600).set(5, 6400);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  WriteOnePagePdf(dir / "devicen.pdf", TavPDF::kPdf14, {&space}, [&](TavPDF::pdfoutfilter& out) {
    space.pdfOutputFillColor(out, tints);
    out << kFill;
  });
  ExpectPlates(dir / "devicen.pdf", {{"Magenta", 0.5}, {"Orange", 1.0}, {"Green", 0.25}});
}

TEST_F(RenderTest, SplitDeviceNStillGivesEveryInkItsCoverage) {
  tavtest::TestFolder dir;
  // Twelve inks: the four process inks and eight spot inks (the separation
  // device keeps at most ten spot plates of its own).
  auto inks = ProcessInks();
  for (const Ink& spot : SpotInks(8)) inks.push_back(spot);
  auto job = MakeJob(inks);
  Tints tints;
  std::map<std::string, double> expected;
  for (int i = 0; i < 12; ++i) {
    const int tint = 1024 * (i + 8);  // 32 % .. 76 %
    tints.set(i, static_cast<unsigned short>(tint));
    expected[inks[static_cast<std::size_t>(i)].name] = tint / 25600.0;
  }
  for (auto [m, version] : {std::pair<int, std::uint32_t>{8, TavPDF::kPdf13}, {27, TavPDF::kPdf15}}) {
    SCOPED_TRACE("colourants per part " + std::to_string(m));
    PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(m));
    EXPECT_EQ(space.pdfGetNumParts(), m == 8 ? 2 : 1);
    const auto file = dir / ("split" + std::to_string(m) + ".pdf");
    WriteOnePagePdf(file, version, {&space},
                    [&](TavPDF::pdfoutfilter& out) { PaintParts(space, tints, out); });
    ExpectPlates(file, expected);
  }
}

TEST_F(RenderTest, NChannelWithProcessComponents) {
  tavtest::TestFolder dir;
  auto job = MakeJob(Inks());
  const Tints tints = Tints().set(0, 7680).set(3, 12800).set(4, 17920);
  CsNChannel space(job.get(), tints, 1, 25600, Opts(8));
  WriteOnePagePdf(dir / "nchannel.pdf", TavPDF::kPdf15, {&space}, [&](TavPDF::pdfoutfilter& out) {
    space.pdfOutputFillColor(out, tints);
    out << kFill;
  });
  ExpectPlates(dir / "nchannel.pdf", {{"Cyan", 0.3}, {"Black", 0.5}, {"Orange", 0.7}});
}

TEST_F(RenderTest, MultiSeparationPartsOverprintEachOther) {
  tavtest::TestFolder dir;
  auto job = MakeJob(Inks());
  const Tints tints = Tints()
                          .set(0, 2560)
                          .set(1, 5120)
                          .set(2, 7680)
                          .set(3, 10240)
                          .set(4, 12800)
                          .set(5, 25600);
  CsMultiSep space(job.get(), tints, 1, 25600, Opts(8));
  ASSERT_EQ(space.pdfGetNumParts(), 3);
  WriteOnePagePdf(dir / "multisep.pdf", TavPDF::kPdf13, {&space},
                  [&](TavPDF::pdfoutfilter& out) { PaintParts(space, tints, out); });
  ExpectPlates(dir / "multisep.pdf", {{"Cyan", 0.1},
                                      {"Magenta", 0.2},
                                      {"Yellow", 0.3},
                                      {"Black", 0.4},
                                      {"Orange", 0.5},
                                      {"Green", 1.0}});
}

namespace {
// Renders page 1 on Ghostscript's CMYK device, where spot inks have no plate of
// their own and go through the tint transform; returns the CMYK ink fractions
// of the pixel in the middle of the page.
std::array<double, 4> RenderCmykCentre(const std::filesystem::path& pdf,
                                       const std::filesystem::path& tiff) {
  const auto run = tavtest::runProcess({"gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER",
                                        "-sDEVICE=tiff32nc", "-r18",
                                        "-sOutputFile=" + tiff.string(), pdf.string()});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  std::array<double, 4> cmyk{-1, -1, -1, -1};
  TIFF* image = TIFFOpen(tiff.c_str(), "r");
  if (!image) {
    ADD_FAILURE() << "no TIFF from Ghostscript";
    return cmyk;
  }
  std::uint32_t width = 0, height = 0;
  TIFFGetField(image, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(image, TIFFTAG_IMAGELENGTH, &height);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(image)));
  for (std::uint32_t y = 0; y <= height / 2; ++y) TIFFReadScanline(image, row.data(), y);
  for (std::size_t c = 0; c < 4; ++c) cmyk[c] = row[(width / 2) * 4 + c] / 255.0;
  TIFFClose(image);
  return cmyk;
}
}  // namespace

TEST_F(RenderTest, TintTransformMixesSpotInksIntoCmyk) {
  tavtest::TestFolder dir;
  auto job = MakeJob(Inks());
  // Orange (0 50 100 0) at 50 % and Green (100 0 100 0) at 25 %.
  const Tints tints = Tints().set(4, 12800).set(5, 6400);
  PDFCsDeviceN space(job.get(), tints, 1, 25600, Opts(8));
  WriteOnePagePdf(dir / "mix.pdf", TavPDF::kPdf14, {&space}, [&](TavPDF::pdfoutfilter& out) {
    space.pdfOutputFillColor(out, tints);
    out << kFill;
  });
  const auto cmyk = RenderCmykCentre(dir / "mix.pdf", dir / "mix.tif");
  // Each component is 1 - (1 - t1 c1)(1 - t2 c2).
  EXPECT_NEAR(cmyk[0], 0.25, 2.0 / 255);
  EXPECT_NEAR(cmyk[1], 0.25, 2.0 / 255);
  EXPECT_NEAR(cmyk[2], 0.625, 2.0 / 255);
  EXPECT_NEAR(cmyk[3], 0.00, 2.0 / 255);
}

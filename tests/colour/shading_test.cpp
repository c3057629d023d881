// Shading dictionaries and their colour functions, and the colour stops and
// exponents a gradation gives its shading.
#include <cmath>
#include <regex>

#include "colour/devicen.h"
#include "colour/shading.h"
#include "colour_support.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/jobfile.h"

namespace colourtest {
namespace {

using TavPDF::PDFShadingType2;
using TavPDF::PDFShadingType3;
using TavricLib::Coord;

class Shadings : public ColourTest {
 protected:
  std::unique_ptr<jobstr> job = MakeJob(MixedInks());
  MemoryPdf pdf;
  TavPDF::PdfColorSpaces spaces;

  // The dictionary and its function as written.
  std::string write(const TavPDF::PDFShadingType& shading) {
    TavPDF::PDFDictionary* d = WriteShadingDictionary(shading, pdf.handler(), &spaces);
    if (d == nullptr) return "none";
    auto* function = dynamic_cast<TavPDF::PDFIndirectReference*>(d->Get("Function"));
    return Serialise(d) + "\nfunction " + Serialise(function->GetObject());
  }
};

// Orange (4) alone, and cyan alone (a process ink: DeviceCMYK).
TEST_F(Shadings, FunctionsFollowTheStops) {
  const Tints none = Tints(0), orange = Tints(0).set(4, 25600), half = Tints(0).set(4, 12800);
  PDFCsDeviceN spot(job.get(), orange, 1, 25600, Opts(8));
  struct Case {
    const char* name;
    std::vector<const unsigned short*> stops;
    std::vector<double> bounds, exponents;
    std::vector<const char*> expected;  // texts the output holds (blanks collapsed)
    std::vector<const char*> absent;
  };
  const Case cases[] = {
      {"two colours joined linearly", {none, orange}, {}, {1.0},
       {"/ShadingType 2", "/Function", "/C0 [ 0 ] /C1 [ 1 ] /Domain [ 0 1 ] /FunctionType 2 /N 1 >>"},
       {"/Bounds", "/Encode"}},
      {"an exponent makes a stitching function", {none, orange}, {}, {2.0},
       {"/Bounds [ ] /Domain [ 0 1 ] /Encode [ 0 1 ] /FunctionType 3 /Functions [ <<", "/N 2 >> ]"}, {}},
      {"a backwards segment swaps its colours", {none, half, orange}, {0.25}, {1.0, -1.5},
       {"/Bounds [ 0.25 ]", "/Encode [ 0 1 1 0 ]", "/C0 [ 0 ] /C1 [ 0.5 ] /Domain [ 0 1 ] /FunctionType 2 /N 1 >>",
        "/C0 [ 1 ] /C1 [ 0.5 ] /Domain [ 0 1 ] /FunctionType 2 /N 1.5 >>"},
       {}},
      {"one colour is constant", {half}, {}, {}, {"/C0 [ 0.5 ] /C1 [ 0.5 ] /Domain [ 0 1 ] /FunctionType 2"},
       {"/Functions"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PDFShadingType2 shading({0, 0}, {100, 0}, &spot, c.stops, c.bounds, c.exponents);
    const std::string text = std::regex_replace(write(shading), std::regex("[ \n]+"), " ");
    for (const char* part : c.expected) EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    for (const char* part : c.absent) EXPECT_EQ(text.find(part), std::string::npos) << part;
    // A spot ink's space is named by the reference of its written array.
    const std::size_t space = text.find("/ColorSpace ");
    ASSERT_NE(space, std::string::npos);
    EXPECT_EQ(text.substr(text.find(" /Coords", space) - 4, 4), " 0 R") << text;
  }
  PDFShadingType2 empty({0, 0}, {1, 0}, &spot, std::vector<const unsigned short*>{}, {}, {});
  EXPECT_EQ(write(empty), "none");

  const Tints cyan = Tints(0).set(0, 25600);
  PDFCsDeviceN process(job.get(), cyan, 1, 25600, Opts(8));
  const std::string text = write(PDFShadingType2({0, 0}, {1, 0}, &process, none, cyan));
  EXPECT_NE(text.find("/ColorSpace /DeviceCMYK"), std::string::npos) << text;
  EXPECT_NE(text.find("/C1 [ 1  0  0  0  ]"), std::string::npos) << text;
}

TEST_F(Shadings, EqualityAndCoords) {
  const Tints a = Tints(0), b = Tints(0).set(4, 25600);
  PDFCsDeviceN spot(job.get(), b, 1, 25600, Opts(8));
  PDFShadingType3 radial({1, 2}, 10, {1, 2}, 0, &spot, a, b);
  EXPECT_TRUE(radial.isEqual(PDFShadingType3({1, 2}, 10, {1, 2}, 0, &spot, a, b)));
  EXPECT_FALSE(radial.isEqual(PDFShadingType3({1, 2}, 10, {1, 2}, 1, &spot, a, b)));
  EXPECT_FALSE(radial.isEqual(PDFShadingType2({1, 2}, {1, 2}, &spot, a, b)));
  EXPECT_TRUE(PDFShadingType2({0, 0}, {5, 0}, &spot, a, b).isEqual(PDFShadingType2({0, 0}, {5, 0}, &spot, a, b)));
  EXPECT_FALSE(PDFShadingType2({0, 0}, {5, 0}, &spot, a, b).isEqual(PDFShadingType2({0, 0}, {5, 0}, &spot, b, a)));
  EXPECT_EQ(Serialise(radial.Coords()), "[ 1  2  10  1  2  0  ]");
}

// Stops of gradations (job units; 72 per inch).
TEST(GradationStops, EachStepLiesAtItsPosition) {
  auto job = TavKernel::loadJobFromMemory(R"({"ppi": 72, "boxes": {"media": [0, 0, 100, 100]}, "inks": [{"name": "Spot", "cmyk": [0, 0, 0, 100]}],
    "colours": [{"id": 1, "inks": {"Spot": 0}}, {"id": 2, "inks": {"Spot": 100}}, {"id": 3, "inks": {"Spot": 50}}],
    "paints": [
      {"id": 10, "type": "gradation", "steps": [{"colour": 1, "position": 0}, {"colour": 2, "position": 60},
        {"colour": 3, "position": 90}, {"colour": 1, "position": 120}]},
      {"id": 11, "type": "gradation", "length": 200, "steps": [{"colour": 1, "position": -50}, {"colour": 2, "position": 50}]},
      {"id": 12, "type": "gradation", "form": "circular", "box": [0, 0, 100, 100],
       "steps": [{"colour": 2, "position": 10}, {"colour": 1, "position": 40}]}]})",
                                          std::filesystem::temp_directory_path(), "g.json");
  struct Case {
    int paint;
    double from, length;
    std::vector<double> bounds;
    std::vector<int> spot;  // the spot ink of each stop, percent
  };
  const Case cases[] = {
      // Bounds in order, whatever order a position convention would need.
      {10, 0, 120, {0.5, 0.75}, {0, 100, 50, 0}},
      // The axis starts before `start` at the first step and runs to the
      // length; the last colour continues from its position.
      {11, -50, 250, {0.4}, {0, 100, 100}},
      // Circular: from the centre to the rim (radius 50); the first colour
      // fills the centre, the last one continues to the rim.
      {12, 0, 50, {0.2, 0.8}, {100, 100, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.paint);
    const TavPDF::GradationStops stops = TavPDF::BuildGradationStops(job.get(), *paipoi(job.get(), c.paint));
    EXPECT_EQ(stops.from, c.from);
    EXPECT_EQ(stops.length, c.length);
    EXPECT_EQ(stops.bounds, c.bounds);
    ASSERT_EQ(stops.colours.size(), c.spot.size());
    ASSERT_EQ(stops.exponents.size(), c.spot.size() - 1);
    for (std::size_t i = 0; i < c.spot.size(); ++i) EXPECT_EQ(stops.colours[i][0], c.spot[i] * 256) << i;
  }
}

TEST(GradationStops, MidpointExponents) {
  const double ln = std::log(0.5);
  struct Case {
    std::int64_t length, midpoint;
    double exponent;
  };
  // Halfway: linear; early: written backwards; two steps at one position: linear.
  const Case cases[] = {{100, 50, 1.0}, {100, 25, -(ln / std::log(0.75))}, {100, 80, ln / std::log(0.8)}, {0, 0, 1.0}};
  for (const Case& c : cases) {
    EXPECT_NEAR(TavPDF::GradationSegmentExponent(c.length, c.midpoint), c.exponent, 1e-9)
        << c.length << " " << c.midpoint;
  }
  // Midpoints on a step stay finite.
  for (std::int64_t m : {0, 100}) EXPECT_TRUE(std::isfinite(TavPDF::GradationSegmentExponent(100, m)));
}

}  // namespace
}  // namespace colourtest

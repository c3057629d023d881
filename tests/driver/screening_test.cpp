// Screens through the whole export: classic, named-dot and extended screens
// with dot gain under the Press, Separated and Normalized flavours; the
// halftones read back carry the job's rulings and angles, and a spot function
// that PDF cannot hold falls back.
#include <gtest/gtest.h>

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pdfread.h"

namespace drivertest {
namespace {

using tavtest::at;

TEST(ExportScreening, EveryScreenKindReachesItsHalftonesUnderEveryFlavour) {
  tavtest::TestFolder dir;
  const auto examples = tavtest::sourceDir() / "examples";
  auto job = TavKernel::loadJobFile(examples / "screens.json");
  const std::string settings = "IncludeScreening=True IncludePrivateData=True EnableDotgain=True DotgainFile=" +
                               (examples / "press-curves.txt").string();
  for (const char* name : {"Press", "Separated", "Normalized"}) {
    SCOPED_TRACE(name);
    // Under Press the classic screen's dot is a PostScript procedure that no
    // calculator function can hold: a round dot stands in, and the user is told.
    const bool press = std::string(name) == "Press";
    job->screens[1].dotShape = press ? 99 : 9;
    job->screens[1].customSpot = "{ 1 dict begin pop pop 0 end }";
    const auto pdf = dir / (std::string(name) + ".pdf");
    const ExportRun run = exportAccepted(job.get(), flavour(name, settings), pdf);

    tavtest::Pdf file(pdf);
    QPDFObjectHandle states = file.page(0).getKey("/Resources").getKey("/ExtGState");
    // Separated output enters each page's halftone as "Black".
    const bool separated = std::string(name) == "Separated";
    const std::string cyan = separated ? "/Black" : "/Cyan";
    EXPECT_EQ(at(states, "/Scr_0_1/HT" + cyan + "/SpotFunction") == "/SimpleDot", press);
    EXPECT_EQ(run.has("PDF/UNSUPPORTED DOTSHAPE REPLACED BY DEFAULT"), press) << run.keys();
    tavtest::expectValues(states, {{"/Scr_0_1/HT/HalftoneType", "5"}, {"/Scr_0_1/HT" + cyan + "/Frequency", "150"},
                                   {"/Scr_0_1/HT" + cyan + "/Angle", "15"}, {"/Scr_0_2/HT" + cyan + "/Angle", "7.5"},
                                   {"/Scr_0_3/HT" + cyan + "/Frequency", "175"},
                                   {"/Scr_0_3/HT" + cyan + "/QEL_Halftone/HalftoneType", "2003"}});
    if (!separated) {
      tavtest::expectValues(states, {{"/Scr_0_1/HT/Magenta/Angle", "75"}, {"/Scr_0_2/HT/PANTONE 185 C/Angle", "37.5"}});
    }
    if (std::string(name) == "Normalized") {
      // The workflow's own keys, and the document's named halftones.
      tavtest::expectValues(states, {{"/Scr_0_2/HT/Cyan/Vorn_ExtHT/Tonematch", "/Flexo2"},
                                     {"/Scr_0_3/HT/Cyan/VornPNDSN", "/RND"}});
      tavtest::expectValues(file.root(), {{"/Vorn_HTs/0/Name", "Default"}, {"/Vorn_HTs/0/Default", "true"},
                                          {"/Vorn_HTs/2/HT/Cyan/Frequency", "175"}, {"/Vorn_HTs/3", "null"}});
      EXPECT_TRUE(run.has("PDF/UNSUPPORTED ORVEX EXTENDED PARAMETER")) << run.keys();
    } else {
      EXPECT_EQ(at(states, "/TR_0/TR2/FunctionType"), "0");
    }
  }
}

}  // namespace
}  // namespace drivertest

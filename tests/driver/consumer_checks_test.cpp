// Files that real consumers must accept, in the corners where they once did
// not: transfer states of separated plates, and names that need escapes
// after the pass over the written file.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pdfread.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;

// A map with an opacity channel over a page whose plate the map does not
// paint: with dot gain each plate's image names the transfer state the
// plate's page defines.
TEST(ConsumerChecks, SeparatedPlatesWithDotGainNameTheirOwnTransferStates) {
  tavtest::TestFolder dir;
  for (const char* file : {"wave-cmyk.tif", "wave-spot.tif", "wave-mask.tif"})
    fs::copy_file(tavtest::sourceDir() / "examples" / "pictures" / file, dir / file);
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"Yellow","process":"yellow"},)"
      R"({"name":"Spot 0","cmyk":[54,67,21,71]},{"name":"Magenta","process":"magenta"},)"
      R"({"name":"Black","process":"black"}])";
  const std::string job = drivertest::jobText(
      inks, R"([{"id":20,"inks":{"Magenta":50}},{"id":21,"inks":{"Magenta":255,"Black":255,"Spot 0":0,"Cyan":255}}])",
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"map","map":1,"place":{"origin":[720,720],)"
      R"("widthCorner":[720,3120],"heightCorner":[2220,720]}}])",
      "[" + drivertest::square(360, 360, 6000, 30) + "," + drivertest::square(720, 720, 1500, 31) + "]",
      R"(,"maps":[{"id":1,"files":["wave-cmyk.tif","wave-spot.tif","wave-mask.tif"],)"
      R"("channels":[{"ink":"Spot 0","file":1,"opacity":48},{"ink":"Yellow","file":1},{"ink":"Black","file":0}],)"
      R"("opacity":{"file":2},"colour":21,"width":240,"height":150,"resolution":150}])");
  fs::copy_file(tavtest::sourceDir() / "examples" / "press-curves.txt", dir / "curves.txt");
  auto loaded = drivertest::loadJob(job, dir.path());
  for (const char* name : {"Separated", "Press"}) {
    SCOPED_TRACE(name);
    const fs::path pdf = dir / (std::string(name) + ".pdf");
    drivertest::exportAccepted(loaded.get(),
                               drivertest::flavour(name, "EnableDotgain=1 DotgainFile=" + (dir / "curves.txt").string()),
                               pdf);
  }
}

// Ink names holding '#' and other delimiters stay escaped in every object,
// also after placed pages were embedded by the pass over the written file
// (which writes the whole file again), and they mean the ink they name.
TEST(ConsumerChecks, InkNamesWithDelimitersSurviveThePassOverTheWrittenFile) {
  tavtest::TestFolder dir;
  fs::copy_file(tavtest::sourceDir() / "examples" / "pictures" / "swatch-plates.pdf", dir / "swatches.pdf");
  const std::string inks = R"([{"name":"Black","process":"black"},{"name":"Hash#Ink","cmyk":[0,50,100,0]},)"
                           R"({"name":"Odd (1/2) [x] <y> {z} %","cmyk":[50,0,0,0]}])";
  const std::string job = drivertest::placedJob(
      inks, R"("file":"swatches.pdf","pdfPage":4)", R"(,{"id":20,"inks":{"Hash#Ink":100}},{"id":21,"inks":{"Odd (1/2) [x] <y> {z} %":100}})",
      R"(,{"id":31,"type":"flat","colour":20},{"id":32,"type":"flat","colour":21})",
      "," + drivertest::square(3000, 3000, 500, 31) + "," + drivertest::square(4000, 3000, 500, 32));
  auto loaded = drivertest::loadJob(job, dir.path());
  for (const char* settings : {"EmbedImages=1", "EmbedImages=0 IncludePrivateData=0"}) {
    SCOPED_TRACE(settings);
    const fs::path pdf = dir / "out.pdf";
    drivertest::exportAccepted(loaded.get(), drivertest::flavour("Press", settings), pdf);
    const std::string bytes = tavtest::readFile(pdf);
    EXPECT_EQ(bytes.find("Hash#Ink"), std::string::npos) << "a '#' written unescaped";
    tavtest::Pdf read(pdf);
    QPDFObjectHandle separations = read.page(0).getKey("/QELInfo").getKey("/Separations");
    std::set<std::string> names;
    for (int i = 0; i < separations.getArrayNItems(); ++i) names.insert(tavtest::at(separations, "/" + std::to_string(i) + "/Name"));
    EXPECT_TRUE(names.count("/Hash#Ink"));
    EXPECT_TRUE(names.count("/Odd (1/2) [x] <y> {z} %"));
    const tavtest::Plates plates = tavtest::measurePlates(pdf);
    EXPECT_GT(plates.coverage.at("Hash#Ink"), 0.0) << plates.summary();
  }
}

// Pictures that someone else puts in later: placed files under OPI links get
// a form with their OPI dictionary, maps under image links a form in their
// own pixels with the workflow's private data, their flat inks filled beside
// it. Judged by the consumers, the written dictionaries and the plates.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "driver_support.h"
#include "map_support.h"
#include "platform/files.h"
#include "support/consumers.h"
#include "support/pdfbuilder.h"
#include "support/pdfread.h"
#include "support/pictures.h"

namespace fs = std::filesystem;
using namespace drivertest;
using namespace maptest;

namespace {

// Exports the job, has the file judged by the consumers and opens it; the page
// must hold exactly one form XObject.
struct OneForm {
  std::unique_ptr<tavtest::Pdf> pdf;  // keeps the form's file open
  std::string name;
  QPDFObjectHandle form;
};

OneForm exportWithOneForm(jobstr* job, const std::string& settings, const fs::path& out) {
  const auto run = exportJob(job, flavour("Press", settings), out);
  EXPECT_EQ(run.result, 0) << run.keys();
  EXPECT_FALSE(run.has("PDF/DEFERRED OBJECT NOT WRITTEN")) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(out);
  tavtest::expectContentStreamsSound(out);
  OneForm written{std::make_unique<tavtest::Pdf>(out), {}, {}};
  int forms = 0;
  for (auto& [name, x] : written.pdf->page(0).getKey("/Resources").getKey("/XObject").getDictAsMap()) {
    if (!x.getDict().getKey("/Subtype").isNameAndEquals("/Form")) continue;
    ++forms;
    written.name = name;
    written.form = x;
  }
  EXPECT_EQ(forms, 1);
  return written;
}

}  // namespace

TEST(LinkForms, PlacedFilesUnderOpiLinksAreFormsWithTheirOpiDictionary) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 40;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.sample = [](int, int, int s) { return std::uint8_t(s == 0 ? 255 : 0); };
  tavtest::writeTiff(dir / "cyan.tif", cmyk);
  tavtest::writeFile(dir / "box.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n%%EndComments\n"
                                      "0 0 1 0 setcmykcolor 0 0 100 100 rectfill showpage\n");
  tavtest::PdfBuilder page;
  page.page("", {"1 0 0 0 k 0 0 100 100 re f"}, 100, 100);
  page.write(dir / "page.pdf");
  struct Case {
    const char *file, *embed;
    const char* image;  // Subtype of the XObject inside the form, "" for an empty form
    double cyan;        // on the plate over the picture; < 0: not measured
  } cases[] = {
      {"cyan.tif", "True", "/Image", 1.0},
      {"cyan.tif", "False", "/Image", 128 / 255.0},  // one mid-gray pixel stands in
      {"box.eps", "True", "/PS", -1},  // Ghostscript draws the preview, not the PostScript
      {"box.eps", "False", "", 0.0},
      {"page.pdf", "True", "/Form", 1.0},  // the page itself, after the second pass
      {"page.pdf", "False", "", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " embedded " + c.embed);
    auto job = loadJob(placedJob(kStandardInks, std::string(R"("file":")") + c.file + "\""), dir.path());
    const fs::path out = dir / "opi.pdf";
    const OneForm written = exportWithOneForm(job.get(), std::string("LinkType=1 EmbedImages=") + c.embed, out);
    QPDFObjectHandle form = written.form;
    ASSERT_TRUE(form.isStream());
    QPDFObjectHandle opi = form.getDict().getKey("/OPI").getKey("/1.3");
    EXPECT_TRUE(opi.getKey("/Type").isNameAndEquals("/OPI"));
    EXPECT_EQ(opi.getKey("/Version").getNumericValue(), 1.3);
    EXPECT_TRUE(opi.getKey("/F").getUTF8Value().ends_with(std::string("/") + c.file));
    // The placement: 100 x 100 points at (72, 548).
    EXPECT_EQ(tavtest::numbers(form.getDict().getKey("/BBox")), (std::vector<double>{72, 548, 172, 648}));
    QPDFObjectHandle inner = form.getDict().getKey("/Resources").getKey("/XObject");
    std::string subtypes;
    for (auto& [name, x] : inner.getDictAsMap())
      if (name.find("_preview") == std::string::npos) subtypes += x.getDict().getKey("/Subtype").getName();
    EXPECT_EQ(subtypes, c.image);
    EXPECT_EQ(tavtest::streamData(form).empty(), std::string(c.image).empty());
    if (c.cyan >= 0) {
      EXPECT_NEAR(tavtest::measurePlates(out).inkAtPoint("Cyan", 122, 598), c.cyan, 0.02);
    }
  }
}

TEST(LinkForms, MapsUnderImageLinksAreFormsWithTheirFlatInksBeside) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // Cyan and magenta from the file's channels, yellow flat at 70 %; the
  // other inks at 0 unless the map overprints.
  const std::string map = R"({"id":1,"files":["ink.tif"],"channels":[{"ink":"Cyan","channel":0},)"
                          R"({"ink":"Magenta","channel":1}],"colour":2,"width":40,"height":30,"resolution":18})";
  const std::pair<const char*, const char*> cases[] = {{"false", "True"}, {"true", "True"}, {"false", "False"}};
  for (const auto& [overprint, embedded] : cases) {
    SCOPED_TRACE(std::string("overprint ") + overprint + ", embedded " + embedded);
    // A ground of 40 % yellow and 30 % black under the map.
    auto job = loadJob(jobText(kInks,
                               std::string(R"([{"id":1,"inks":{"Yellow":40,"Black":30}},{"id":2,"overprint":)") +
                                   overprint + R"(,"inks":{"Cyan":100,"Magenta":100,"Yellow":70}}])",
                               R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, 40) + "]",
                               "[" + square(360, 360, 3600, 10) + "," + mapFrame(20, 720, 720, 40) + "]",
                               ",\"maps\":[" + map + "]"),
                       dir.path());
    const fs::path out = dir / "link.pdf";
    const bool embed = std::string(embedded) == "True";
    const OneForm written =
        exportWithOneForm(job.get(), std::string("LinkType=2 IncludePrivateData=1 EmbedImages=") + embedded, out);
    const std::string& name = written.name;
    QPDFObjectHandle form = written.form;
    ASSERT_TRUE(form.isStream());
    EXPECT_EQ(tavtest::numbers(form.getDict().getKey("/BBox")), (std::vector<double>{0, 0, 40, 30}));
    QPDFObjectHandle link = form.getDict().getKey("/PieceInfo").getKey("/VornPNPDFO").getKey("/Private");
    EXPECT_TRUE(link.getKey("/Type").isNameAndEquals("/Ref"));
    EXPECT_TRUE(link.getKey("/F").getKey("/F").getUTF8Value().ends_with("/ink.tif"));
    EXPECT_FALSE(link.getKey("/Alpha").getBoolValue());
    // The file's four channels: cyan and magenta feed their inks in full.
    QPDFObjectHandle colors = link.getKey("/Colors");
    ASSERT_EQ(colors.getArrayNItems(), 4);
    EXPECT_EQ(colors.getArrayItem(0).getArrayItem(0).getArrayItem(1).getName(), "/Cyan");
    EXPECT_EQ(colors.getArrayItem(1).getArrayItem(1).getNumericValue(), 1.0);
    EXPECT_EQ(tavtest::streamData(form).empty(), !embed);

    // Placed by "q ... cm /name Do Q" on the map's frame: 160 x 120 points at (72, 528).
    std::string content = tavtest::pageContent(written.pdf->page(0));
    for (char& ch : content) ch = ch == '\n' ? ' ' : ch;
    for (std::size_t at; (at = content.find("  ")) != std::string::npos;) content.erase(at, 1);
    const std::size_t drawn = content.find("4 0 0 4 72 528 cm " + name + " Do Q");
    ASSERT_NE(drawn, std::string::npos) << content;
    // The flat yellow over it: the image may clear the inks it does not hold.
    EXPECT_GT(content.rfind("h f"), drawn) << content;

    const tavtest::Plates plates = tavtest::measurePlates(out);
    for (int y = 0; y < kHeight; y += 7) {
      for (int x = 0; x < kWidth; x += 9) {
        const int px = 72 + 4 * x + 2, py = 72 + 4 * y + 2;
        EXPECT_NEAR(plates.inkAtPixel("Cyan", px, py), embed ? cyanAt(x, y) / 255.0 : 0.0, 0.02) << x << "," << y;
        EXPECT_NEAR(plates.inkAtPixel("Yellow", px, py), 0.7, 0.02) << x << "," << y;
        // A knocking-out map clears the ground, its flat part too when the form is empty.
        if (std::string(overprint) == "false") {
          EXPECT_NEAR(plates.inkAtPixel("Black", px, py), 0.0, 0.02) << x << "," << y;
        }
      }
    }
  }
}

TEST(LinkForms, OpiIdsNameThePictureRelativeToTheOutputFileHoweverItIsGiven) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout gray;
  tavtest::writeTiff(dir / "gray.tif", gray);
  tavtest::writeFile(dir / "job.json", placedJob(kStandardInks, R"("file":"gray.tif")"));
  fs::create_directories(dir / "out");
  const std::string url = TavSys::FileSpec(dir / "gray.tif").ToFileURL();
  const std::pair<std::string, std::string> cases[] = {
      {"opi.pdf", "gray.tif"},                        // beside the picture, named from the working folder
      {"out/opi.pdf", "../gray.tif"},
      {"out/../out/./opi.pdf", "../gray.tif"},
      {(dir / "out" / "opi.pdf").string(), "../gray.tif"},
  };
  for (const auto& [output, relative] : cases) {
    SCOPED_TRACE(output);
    const auto run = tavtest::runTavpdf({"export", "job.json", "-o", output, "--set", "LinkType=1"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    const fs::path written = fs::path(output).is_absolute() ? fs::path(output) : dir / output;
    tavtest::Pdf pdf(written);
    std::string ids;
    for (QPDFObjectHandle o : pdf.qpdf().getAllObjects())
      if (o.isStream() && o.getDict().hasKey("/OPI")) ids += tavtest::at(o, "/OPI/1.3/ID");
    EXPECT_EQ(ids, "qel-pdf:" + relative + "," + url);
  }
}

TEST(LinkForms, FlatInksBesideALinkedMapFollowItsOpacity) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // Cyan, magenta and the spot from the files, yellow and black knocked out
  // where the map is opaque; a ground of 40 % yellow below. The map is
  // opaque left of pixel 28, half opaque up to 34 and clear beyond.
  auto job = loadJob(jobText(kInks,
                             R"([{"id":1,"inks":{"Yellow":40}},)"
                             R"({"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100,"Yellow":0,"Black":0}}])",
                             R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, 40) + "]",
                             "[" + square(360, 360, 3600, 10) + "," + mapFrame(20, 720, 720, 40) + "]",
                             ",\"maps\":[" + mapEntry(1, 2) + "]"),
                     dir.path());
  const double half = 0.4 * (1 - 128 / 255.0);
  const std::pair<const char*, const char*> roads[] = {
      {"the map's image", "Press"},
      {"an image link", "Press LinkType=2 IncludePrivateData=1 EmbedImages=1"},
      {"an image link without the picture", "Press LinkType=2 IncludePrivateData=1 EmbedImages=0"},
      {"normalized, embedded", "Normalized IncludePrivateData=1 EmbedImages=1"},
  };
  for (const auto& [road, settings] : roads) {
    SCOPED_TRACE(road);
    const fs::path out = dir / "masked.pdf";
    const auto run = exportJob(job.get(), flavour(settings), out);
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_FALSE(run.has("PDF/DEFERRED OBJECT NOT WRITTEN")) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(out);
    tavtest::expectContentStreamsSound(out);
    const tavtest::Plates plates = tavtest::measurePlates(out);
    // Pixel x of the map lies at 72 + 4 x points.
    for (int y : {2, 15, 27}) {
      const double py = 72 + 4 * y + 2;
      EXPECT_NEAR(plates.inkAtPixel("Yellow", 72 + 4 * 10 + 2, int(py)), 0.0, 0.02) << y;
      EXPECT_NEAR(plates.inkAtPixel("Yellow", 72 + 4 * 30 + 2, int(py)), half, 0.02) << y;
      EXPECT_NEAR(plates.inkAtPixel("Yellow", 72 + 4 * 37 + 2, int(py)), 0.4, 0.02) << y;
    }
  }
}

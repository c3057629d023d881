// Pictures that someone else puts in later: placed files under OPI links get
// a form with their OPI dictionary, maps under image links a form in their
// own pixels with the workflow's private data, their flat inks filled beside
// it. Judged by the consumers, the written dictionaries and the plates.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <map>

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

namespace {

// The XObjects of the page whose names begin with `prefix`.
std::map<std::string, QPDFObjectHandle> formsNamed(tavtest::Pdf& pdf, const std::string& prefix) {
  std::map<std::string, QPDFObjectHandle> forms;
  for (auto& [name, x] : pdf.page(0).getKey("/Resources").getKey("/XObject").getDictAsMap())
    if (name.rfind(prefix, 0) == 0) forms.emplace(name, x);
  return forms;
}

int imageCount(tavtest::Pdf& pdf) {
  int images = 0;
  for (QPDFObjectHandle& o : pdf.qpdf().getAllObjects())
    images += o.isStream() && o.getDict().getKey("/Subtype").isNameAndEquals("/Image");
  return images;
}

}  // namespace

// Maps that one file feeds are written under OPI links as forms carrying
// their OPI dictionary; the picture goes into the file only with EmbedImages.
TEST(LinkForms, MapsUnderOpiLinksAreFormsWithTheirOpiDictionary) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  // Map 1: cyan and magenta from ink.tif; map 2: the spot ink at 40 % from
  // the gray spot.tif, below the first. Both knock out the yellow ground.
  const std::string maps =
      R"([{"id":1,"files":["ink.tif"],"channels":[{"ink":"Cyan","channel":0},{"ink":"Magenta","channel":1}],)"
      R"("colour":2,"width":40,"height":30,"resolution":18},)"
      R"({"id":2,"files":["spot.tif"],"channels":[{"ink":"Spot"}],"colour":3,"width":40,"height":30,"resolution":18}])";
  auto job = loadJob(jobText(kInks,
                             R"([{"id":1,"inks":{"Yellow":40}},{"id":2,"inks":{"Cyan":100,"Magenta":100}},)"
                             R"({"id":3,"inks":{"Spot":40}}])",
                             R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, 40) + "," +
                                 mapPaint(21, 2, 2520, 720, 40) + "]",
                             "[" + square(360, 360, 3600, 10) + "," + mapFrame(20, 720, 720, 40) + "," +
                                 mapFrame(21, 2520, 720, 40) + "]",
                             ",\"maps\":" + maps),
                     dir.path());
  for (const bool embed : {false, true}) {
    SCOPED_TRACE(embed ? "embedded" : "linked");
    const fs::path out = dir / "opi-maps.pdf";
    const auto run = exportJob(job.get(), flavour("Press", std::string("LinkType=1 EmbedImages=") + (embed ? "1" : "0")),
                               out);
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_FALSE(run.has("PDF/IMAGES EMBEDDED NO OPI CREATED")) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(out);
    tavtest::expectContentStreamsSound(out);
    tavtest::Pdf pdf(out);
    const auto forms = formsNamed(pdf, "/OPI_");
    ASSERT_EQ(forms.size(), 2u);
    std::map<std::string, QPDFObjectHandle> byFile;
    for (auto [name, form] : forms) {
      QPDFObjectHandle opi = form.getDict().getKey("/OPI").getKey("/1.3");
      ASSERT_TRUE(opi.isDictionary()) << name;
      const std::string file = opi.getKey("/F").getUTF8Value();
      byFile.emplace(file.substr(file.rfind('/') + 1), opi);
      EXPECT_EQ(tavtest::streamData(form).empty(), !embed) << name;
    }
    ASSERT_EQ(byFile.count("ink.tif") + byFile.count("spot.tif"), 2u);
    // Both files come with the process inks' own mapping; 40 x 30 pixels at
    // 18 ppi are 160 x 120 points, the first placed at (72, 528) .. (232, 648).
    tavtest::expectValues(byFile["ink.tif"], {{"/Type", "/OPI"},
                                               {"/Version", "1.3"},
                                               {"/inpd:ImageMapping/Type", "/AICS2"},
                                               {"/Size", "[ 160 120 ]"},
                                               {"/CropRect", "[ 0 0 160 120 ]"},
                                               {"/Color", "null"},
                                               {"/Overprint", "null"}});
    EXPECT_EQ(tavtest::numbers(byFile["ink.tif"].getKey("/Position")),
              (std::vector<double>{72, 528, 72, 648, 232, 648, 232, 528}));
    // The spot map prints one ink: the OPI server learns its colour and tint.
    tavtest::expectValues(byFile["spot.tif"], {{"/Color", "[ 0 0.4 1 0.1 (Spot) ]"}, {"/Tint", "0.4"}});
    EXPECT_TRUE(byFile["spot.tif"].getKey("/ID").getUTF8Value().starts_with("qel-pdf:"));
    EXPECT_EQ(imageCount(pdf), embed ? 2 : 0);

    const tavtest::Plates plates = tavtest::measurePlates(out);
    EXPECT_EQ(plates.plates.count("Spot"), embed ? 1u : 0u) << "only the spot map prints the spot ink";
    for (int y = 2; y < kHeight; y += 9) {
      for (int x = 3; x < kWidth; x += 11) {
        const int px = 72 + 4 * x + 2, py = 72 + 4 * y + 2;
        EXPECT_NEAR(plates.inkAtPixel("Cyan", px, py), embed ? cyanAt(x, y) / 255.0 : 0.0, 0.02) << x << "," << y;
        if (embed) {
          EXPECT_NEAR(plates.inkAtPixel("Spot", px, py + 180), 0.4 * (255 - spotLightAt(x, y)) / 255.0, 0.02)
              << x << "," << y;
        }
      }
    }
  }
}

// A paint-map group stands for its map as a whole: under OPI links it is one
// OPI form naming the map's file, cut to the group's outline.
TEST(LinkForms, PaintMapGroupsUnderOpiLinksAreOneOpiForm) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  const std::string map =
      R"({"id":1,"files":["ink.tif"],"channels":[{"ink":"Cyan","channel":0},{"ink":"Magenta","channel":1}],)"
      R"("colour":2,"width":40,"height":30,"resolution":18})";
  // The outline: the map's pixels 6..34 across and 6..24 down.
  const std::string group = R"({"kind":"group","paintMap":true,"objects":[)"
                            R"({"kind":"path","points":[[960,960],[960,2080],[1680,2080],[1680,960]]},)" +
                            mapFrame(20, 720, 720, 40) + "]}";
  auto job = loadJob(jobText(kInks, R"([{"id":1,"inks":{"Yellow":40}},{"id":2,"inks":{"Cyan":100,"Magenta":100}}])",
                             R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, 40) + "]",
                             "[" + square(360, 360, 3600, 10) + "," + group + "]", ",\"maps\":[" + map + "]"),
                     dir.path());
  ASSERT_TRUE(isPaimapGroup(jobGetSpahan(job.get())->member(1)));
  struct Case {
    const char* settings;
    bool form, embedded;
    double cyanOutside;  // at the map's pixel (38, 2), outside the outline
  };
  const double cyanAt38 = cyanAt(38, 2) / 255.0;
  const Case cases[] = {
      {"LinkType=1 EmbedImages=0", true, false, 0},
      {"LinkType=1 EmbedImages=1", true, true, 0},
      // Without OPI links (or before PDF 1.4) the group is drawn as any
      // group: the outline paints nothing and cuts nothing.
      {"LinkType=0 EmbedImages=1", false, true, cyanAt38},
      {"LinkType=1 EmbedImages=1 PDFCompatibility=1 EnableFlattening=1 IncludeLayers=0", false, true, cyanAt38},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    const fs::path out = dir / "paint-map-group.pdf";
    const auto run = exportJob(job.get(), flavour("Press", c.settings), out);
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_FALSE(run.has("PDF/IMAGES EMBEDDED NO OPI CREATED")) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(out);
    tavtest::expectContentStreamsSound(out);
    tavtest::Pdf pdf(out);
    const auto forms = formsNamed(pdf, "/O_");
    ASSERT_EQ(forms.size(), c.form ? 1u : 0u);
    if (c.form) {
      QPDFObjectHandle form = forms.begin()->second;
      QPDFObjectHandle opi = form.getDict().getKey("/OPI").getKey("/1.3");
      tavtest::expectValues(opi, {{"/Type", "/OPI"}, {"/inpd:ImageMapping", "<< /Type /QEL >>"},
                                  {"/Size", "[ 160 120 ]"}});
      EXPECT_TRUE(opi.getKey("/F").getUTF8Value().ends_with("/ink.tif"));
      EXPECT_EQ(tavtest::numbers(opi.getKey("/Position")),
                (std::vector<double>{72, 528, 72, 648, 232, 648, 232, 528}));
      EXPECT_EQ(tavtest::streamData(form).empty(), !c.embedded);
    }
    EXPECT_EQ(imageCount(pdf) > 0, c.embedded);

    // Inside the outline the map shows when it is in the file; outside it
    // the ground shows where the form is cut.
    const tavtest::Plates plates = tavtest::measurePlates(out);
    const double inside = c.embedded ? cyanAt(20, 15) / 255.0 : 0.0;
    EXPECT_NEAR(plates.inkAtPixel("Cyan", 72 + 4 * 20 + 2, 72 + 4 * 15 + 2), inside, 0.02);
    EXPECT_NEAR(plates.inkAtPixel("Cyan", 72 + 4 * 38 + 2, 72 + 4 * 2 + 2), c.cyanOutside, 0.02);
    EXPECT_NEAR(plates.inkAtPixel("Yellow", 72 + 4 * 38 + 2, 72 + 4 * 2 + 2), c.form ? 0.4 : 0.0, 0.02);
  }
}

// A paint-map group whose map takes its inks from several files (no OPI
// mapping of its own): the group's OPI form names the file of its last ink
// with a channel, and without EmbedImages the map, which nothing draws, is
// not written into the file either.
TEST(LinkForms, PaintMapGroupOfAMapFromSeveralFilesLeavesNoPictureBehind) {
  tavtest::TestFolder dir;
  writeMapFiles(dir.path());
  const std::string group = R"({"kind":"group","paintMap":true,"objects":[)" + mapFrame(20, 720, 720, 40) + "]}";
  auto job = loadJob(jobText(kInks, R"([{"id":1,"inks":{"Yellow":40}},{"id":2,"inks":{"Cyan":100,"Magenta":100,"Spot":100}}])",
                             R"([{"id":10,"type":"flat","colour":1},)" + mapPaint(20, 1, 720, 720, 40) + "]",
                             "[" + square(360, 360, 3600, 10) + "," + group + "]", ",\"maps\":[" + mapEntry(1, 2) + "]"),
                     dir.path());
  const fs::path out = dir / "several-files.pdf";
  const auto run = exportJob(job.get(), flavour("Press", "LinkType=1 EmbedImages=0"), out);
  ASSERT_EQ(run.result, 0) << run.keys();
  EXPECT_FALSE(run.has("PDF/IMAGES EMBEDDED NO OPI CREATED")) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(out);
  tavtest::Pdf pdf(out);
  const auto forms = formsNamed(pdf, "/O_");
  ASSERT_EQ(forms.size(), 1u);
  QPDFObjectHandle form = forms.begin()->second;
  EXPECT_TRUE(form.getDict().getKey("/OPI").getKey("/1.3").getKey("/F").getUTF8Value().ends_with("/spot.tif"));
  EXPECT_EQ(imageCount(pdf), 0);
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

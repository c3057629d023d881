// Placed picture files through whole exports: pixel pictures print their
// channels on the plates where the job places them, JPEG files go in as
// they stand, EPS files become PostScript XObjects over their previews, PDF
// pages are drawn from their files.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pdfbuilder.h"
#include "support/pdfread.h"
#include "support/pictures.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using namespace drivertest;
using tavtest::at;

namespace {

// 40 x 40 pixels: cyan on the left half, magenta at 50 % on the top half,
// black in the lower right quarter.
std::uint8_t quadrants(int x, int y, int s) {
  switch (s) {
    case 0: return x < 20 ? 255 : 0;
    case 1: return y < 20 ? 128 : 0;
    case 3: return x >= 20 && y >= 20 ? 255 : 0;
    default: return 0;
  }
}

// The placement of placedJob: 100 x 100 points, x 72..172, y 548..648; a
// second one turned a quarter clockwise (its first row runs down the right
// edge).
const std::string kTurned = R"(,{"id":31,"type":"picture","picture":1,"place":{"origin":[720,1720],)"
                            R"("widthCorner":[1720,1720],"heightCorner":[720,720]}})";


}  // namespace

TEST(PlacedPictures, PixelPicturesPrintTheirChannelsWhereTheyArePlaced) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 40;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.sample = quadrants;
  tavtest::writeTiff(dir / "cmyk.tif", cmyk);
  cmyk.width = cmyk.height = 400;
  cmyk.sample = [](int x, int y, int s) { return quadrants(x / 10, y / 10, s); };
  tavtest::writeTiff(dir / "large.tif", cmyk);
  tavtest::TiffLayout gray;
  gray.width = gray.height = 40;
  gray.sample = [](int x, int, int) { return std::uint8_t(x < 20 ? 0 : 255); };
  tavtest::writeTiff(dir / "gray.tif", gray);
  tavtest::TiffLayout bits = gray;
  bits.bits = 1;
  bits.photometric = 0;
  bits.sample = [](int x, int, int) { return std::uint8_t(x < 20 ? 1 : 0); };
  tavtest::writeTiff(dir / "bits.tif", bits);
  // The same quadrants on a PDF page whose shown box does not start at the
  // page's origin.
  tavtest::PdfBuilder page;
  page.page("/CropBox [50 50 250 250]",
            {"1 0 0 1 50 50 cm 1 .5 0 0 k 0 100 100 100 re f 0 .5 0 0 k 100 100 100 100 re f "
             "1 0 0 0 k 0 0 100 100 re f 0 0 0 1 k 100 0 100 100 re f"},
            300, 300);
  page.write(dir / "page.pdf");

  using Inks = std::vector<tavtest::InkAt>;
  const Inks cmykQuarters = {{"Cyan", 97, 623, 1},     {"Magenta", 97, 623, 0.5}, {"Black", 97, 623, 0},
                             {"Cyan", 147, 623, 0},    {"Magenta", 147, 623, 0.5}, {"Cyan", 97, 573, 1},
                             {"Magenta", 97, 573, 0},  {"Black", 147, 573, 1}};
  const Inks turned = {{"Cyan", 97, 623, 1},    {"Magenta", 97, 623, 0}, {"Magenta", 147, 623, 0.5},
                       {"Cyan", 147, 623, 1},   {"Black", 97, 573, 1},   {"Magenta", 147, 573, 0.5},
                       {"Cyan", 147, 573, 0}};
  const Inks leftBlack = {{"Black", 97, 598, 1}, {"Black", 147, 598, 0}};
  struct Case {
    const char* what;
    std::string picture;
    std::string settings;
    std::string paints;
    Inks quarters;
  };
  const Case cases[] = {
      {"CMYK", R"("file":"cmyk.tif")", "CompressImages=1", "", cmykQuarters},
      {"CMYK downsampled", R"("file":"large.tif","resolution":288)",
       "CompressImages=1 UseDownsampling=1 DownsampleResolution=72 DownsampleFromPPI=100", "", cmykQuarters},
      {"CMYK under an image link, by its preview", R"("file":"cmyk.tif")", "LinkType=2 IncludePrivateData=1", "",
       cmykQuarters},
      {"gray", R"("file":"gray.tif")", "CompressImages=1", "", leftBlack},
      {"one bit", R"("file":"bits.tif")", "CompressImages=1", "", leftBlack},
      {"turned a quarter", R"("file":"cmyk.tif")", "CompressImages=1", kTurned, turned},
      {"a PDF page", R"("file":"page.pdf")", "", "", cmykQuarters},
      {"a PDF page turned a quarter", R"("file":"page.pdf")", "", kTurned, turned},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The turned placement replaces the upright one on the square.
    std::string text = placedJob(kStandardInks, c.picture, "", c.paints);
    if (!c.paints.empty()) text.replace(text.find(R"("paint":30)"), 10, R"("paint":31)");
    auto job = loadJob(text, dir.path());
    exportAccepted(job.get(), flavour("Press", c.settings), dir / "out.pdf");
    const auto plates = tavtest::measurePlates(dir / "out.pdf");
    tavtest::expectInks(plates, c.quarters);
  }
}

TEST(PlacedPictures, JpegFilesGoInAsTheyStand) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout layout;
  layout.width = layout.height = 40;
  layout.samples = 4;
  layout.sample = quadrants;
  tavtest::writeJpeg(dir / "photo.jpg", layout);
  auto job = loadJob(placedJob(kStandardInks, R"("file":"photo.jpg")"), dir.path());
  ASSERT_EQ(exportAccepted(job.get(), flavour("Press", "CompressImages=80"), dir / "out.pdf").result, 0);
  tavtest::Pdf pdf(dir / "out.pdf");
  std::vector<QPDFObjectHandle> images;
  for (QPDFObjectHandle o : pdf.qpdf().getAllObjects())
    if (at(o, "/Subtype") == "/Image" || at(o, "/Subtype") == "/PS") images.push_back(o);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(tavtest::streamData(images[0], true), tavtest::readFile(dir / "photo.jpg"));
  EXPECT_EQ(at(images[0], "/Filter"), "/DCTDecode");
  // The file's inverted CMYK reads back as the inks.
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  tavtest::expectInks(plates, {{"Cyan", 97, 623, 1}, {"Magenta", 97, 623, 0.5}, {"Black", 147, 573, 1},
                               {"Cyan", 147, 573, 0}}, 0.03);
}

TEST(PlacedPictures, EpsFilesArePostScriptOverTheirPreview) {
  tavtest::TestFolder dir;
  const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 36 36 136 86\n%%EndComments\n"
                         "0 0 1 0 setcmykcolor 36 36 100 50 rectfill showpage\n";
  tavtest::writeFile(dir / "plain.eps", ps);
  // A DOS EPS file with a 4 x 2 RGB TIFF preview after its PostScript.
  tavtest::TiffLayout preview;
  preview.width = 4;
  preview.height = 2;
  preview.samples = 3;
  preview.photometric = 2;
  tavtest::writeTiff(dir / "preview.tif", preview);
  const std::string tiff = tavtest::readFile(dir / "preview.tif");
  auto le32 = [](std::uint32_t v) {
    return std::string{char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255), char(v >> 24)};
  };
  tavtest::writeFile(dir / "dos.eps", "\xC5\xD0\xD3\xC6" + le32(30) + le32(std::uint32_t(ps.size())) + le32(0) +
                                          le32(0) + le32(30 + std::uint32_t(ps.size())) +
                                          le32(std::uint32_t(tiff.size())) + "\xFF\xFF" + ps + tiff);
  for (const char* file : {"plain.eps", "dos.eps"}) {
    SCOPED_TRACE(file);
    auto job = loadJob(placedJob(kStandardInks, std::string(R"("file":")") + file + "\""), dir.path());
    ASSERT_EQ(exportAccepted(job.get(), flavour("Press"), dir / "out.pdf").result, 0);
    tavtest::Pdf pdf(dir / "out.pdf");
    QPDFObjectHandle xobjects = pdf.page(0).getKey("/Resources").getKey("/XObject");
    QPDFObjectHandle postscript, shown;
    for (auto [name, x] : xobjects.getDictAsMap()) {
      if (at(x, "/Subtype") == "/PS") postscript = x;
      if (name.ends_with("_preview")) shown = x;
    }
    ASSERT_TRUE(postscript.isInitialized() && shown.isInitialized()) << xobjects.unparse();
    EXPECT_EQ(tavtest::streamData(postscript),
              "%%BeginDocument: NoName\n1 dict begin \n/showpage {} def \n" + ps + "end \n%%EndDocument\n");
    EXPECT_EQ(at(shown, "/Alternates/0/DefaultForPrinting") + at(shown, "/Alternates/0/Image/ImageMask"), "truetrue");
    EXPECT_EQ(at(shown, "/Width"), std::string(file) == "dos.eps" ? "4" : "1");
    // The preview covers the picture: 100 x 100 points at (72, 548). Numbers
    // are written with a blank after each; the spacing is not at issue.
    std::string content = tavtest::pageContent(pdf.page(0));
    for (char& c : content) c = c == '\n' ? ' ' : c;
    for (std::size_t at; (at = content.find("  ")) != std::string::npos;) content.erase(at, 1);
    EXPECT_NE(content.find("100 0 0 100 72 548 cm /Im0_0_preview Do"), std::string::npos) << content;
    // The PostScript's bounding box corner (36, 86) lies on the picture's.
    EXPECT_NE(content.find("1 0 0 2 36 476 cm /Im0_0 Do"), std::string::npos) << content;
  }
}

// A placed PDF page is written as a reference naming its file and page; it
// is replaced by the page itself only when placed files are embedded or go
// with the workflow's private data. Linked output keeps the reference for
// the workflow that resolves it, and nothing shows in its place.
TEST(PlacedPictures, PdfPagesStayReferencesUnlessEmbedded) {
  tavtest::TestFolder dir;
  tavtest::PdfBuilder page;
  page.page("", {"1 0 0 0 k 0 0 100 100 re f"}, 100, 100);
  page.page("", {"0 0 0 1 k 0 0 100 100 re f"}, 100, 100);
  page.write(dir / "page.pdf");
  struct Case {
    const char* settings;
    bool embedded;
  };
  for (const Case& c : {Case{"EmbedImages=1", true}, Case{"EmbedImages=0", false},
                        Case{"EmbedImages=0 IncludePrivateData=1", true}}) {
    SCOPED_TRACE(c.settings);
    auto job = loadJob(placedJob(kStandardInks, R"("file":"page.pdf","pdfPage":1)"), dir.path());
    exportAccepted(job.get(), flavour("Press", c.settings), dir / "out.pdf");
    tavtest::Pdf pdf(dir / "out.pdf");
    QPDFObjectHandle form;
    std::string formName;
    for (auto [name, x] : pdf.page(0).getKey("/Resources").getKey("/XObject").getDictAsMap()) {
      if (at(x, "/Subtype") != "/Form") continue;
      form = x;
      formName = name;
    }
    ASSERT_TRUE(form.isInitialized());
    if (c.embedded) {
      EXPECT_EQ(at(form, "/Ref"), "null");
      EXPECT_EQ(tavtest::streamData(form), "0 0 0 1 k\n0 0 100 100 re\nf\n");  // one operator a line
    } else {
      EXPECT_EQ(at(form, "/Ref/F/F"), (dir / "page.pdf").string());
      EXPECT_EQ(at(form, "/Ref/F/Type") + at(form, "/Ref/Page"), "/FileSpec1");
      EXPECT_EQ(at(form, "/Name"), formName) << "the name it is drawn by";
      EXPECT_EQ(tavtest::streamData(form), "\n");
    }
    tavtest::expectInks(tavtest::measurePlates(dir / "out.pdf"),
                        {{"Black", 122, 598, c.embedded ? 1.0 : 0.0}, {"Cyan", 122, 598, 0}});
  }
}

TEST(PlacedPictures, APlacedPdfPageStartsFromTheDefaultState) {
  tavtest::TestFolder dir;
  // Filled before any colour is set (black, as on every page); a black square
  // with a cyan one inside that knocks the black out.
  tavtest::PdfBuilder page;
  page.page("", {"5 5 10 10 re f 0 0 0 1 k 30 30 60 60 re f 1 0 0 0 k 45 45 30 30 re f"}, 100, 100);
  page.write(dir / "page.pdf");
  // Before the page: an overprinting yellow square, which leaves overprint
  // and its yellow fill in force.
  const std::string yellow = R"(,{"id":20,"inks":{"Yellow":100},"overprint":true})";
  const std::string paint = R"(,{"id":31,"type":"flat","colour":20})";
  const std::string text = jobText(kStandardInks, "[" + yellow.substr(1) + "]",
                                   R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],)"
                                   R"("widthCorner":[720,1720],"heightCorner":[1720,720]}})" + paint + "]",
                                   "[" + square(3000, 3000, 100, 31) + "," + square(720, 720, 1000, 30) + "]",
                                   R"(,"pictures":[{"id":1,"file":"page.pdf"}])");
  auto job = loadJob(text, dir.path());
  exportAccepted(job.get(), flavour("Press"), dir / "out.pdf");
  // The page lies at (72, 548) on the written page.
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  tavtest::expectInks(plates, {{"Black", 82, 558, 1}, {"Yellow", 82, 558, 0}, {"Black", 107, 583, 1},
                               {"Black", 132, 608, 0}, {"Cyan", 132, 608, 1}});
}

TEST(PlacedPictures, AFilePlacedTwiceOnAPageIsWrittenOnce) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 40;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.sample = quadrants;
  tavtest::writeTiff(dir / "cmyk.tif", cmyk);
  tavtest::writeJpeg(dir / "photo.jpg", cmyk);
  tavtest::writeFile(dir / "box.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n%%EndComments\n"
                                      "0 0 1 0 setcmykcolor 0 0 100 100 rectfill showpage\n");
  struct Case {
    const char* file;
    const char* settings;
    std::size_t objects;  // image and PostScript XObjects of the file
  } cases[] = {
      {"cmyk.tif", "CompressImages=1", 1},
      {"photo.jpg", "CompressImages=80", 1},  // the file as it stands
      {"photo.jpg", "CompressImages=1", 1},   // decoded
      {"box.eps", "", 3},                     // the PostScript, its preview and its mask
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.settings);
    // Picture 1 by paint 30 and by paint 31 beside it; picture 2, the same
    // file, by paint 32 below.
    const std::string file = std::string(R"("file":")") + c.file + "\"";
    std::string text =
        placedJob(kStandardInks, file, "",
                  R"(,{"id":31,"type":"picture","picture":1,"place":{"origin":[720,2720],)"
                  R"("widthCorner":[720,3720],"heightCorner":[1720,2720]}},)"
                  R"({"id":32,"type":"picture","picture":2,"place":{"origin":[2720,720],)"
                  R"("widthCorner":[2720,1720],"heightCorner":[3720,720]}})",
                  "," + square(720, 2720, 1000, 31) + "," + square(2720, 720, 1000, 32));
    text.insert(text.rfind(']'), R"(,{"id":2,)" + file + "}");
    auto job = loadJob(text, dir.path());
    exportAccepted(job.get(), flavour("Press", c.settings), dir / "out.pdf");
    tavtest::Pdf pdf(dir / "out.pdf");
    std::size_t objects = 0;
    for (QPDFObjectHandle o : pdf.qpdf().getAllObjects())
      objects += at(o, "/Subtype") == "/Image" || at(o, "/Subtype") == "/PS";
    EXPECT_EQ(objects, c.objects);
    if (std::string(c.file) == "box.eps") continue;  // Ghostscript draws the gray preview
    // Every placement shows the picture: the cyan half and the black quarter.
    const auto plates = tavtest::measurePlates(dir / "out.pdf");
    for (const auto& [x, y] : {std::pair{72, 548}, std::pair{272, 548}, std::pair{72, 348}}) {
      tavtest::expectInks(plates, {{"Cyan", x + 25.0, y + 75.0, 1}, {"Black", x + 75.0, y + 25.0, 1}}, 0.03);
    }
  }
}

TEST(PlacedPictures, SeparatedPagesCarryTheirInksShareOfAPicture) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 40;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.sample = quadrants;
  tavtest::writeTiff(dir / "cmyk.tif", cmyk);
  tavtest::writeJpeg(dir / "cmyk.jpg", cmyk);
  // Gray: black on the left half. RGB: red on the left half, mid gray on the right.
  tavtest::TiffLayout gray = cmyk;
  gray.samples = 1;
  gray.photometric = 1;
  gray.sample = [](int x, int, int) { return std::uint8_t(x < 20 ? 0 : 255); };
  tavtest::writeTiff(dir / "gray.tif", gray);
  tavtest::writeJpeg(dir / "gray.jpg", gray);
  tavtest::TiffLayout rgb = cmyk;
  rgb.samples = 3;
  rgb.photometric = 2;
  rgb.sample = [](int x, int, int s) { return std::uint8_t(x < 20 ? (s == 0 ? 255 : 0) : 128); };
  tavtest::writeTiff(dir / "rgb.tif", rgb);
  tavtest::writeJpeg(dir / "rgb.jpg", rgb);
  // The picture of the one-up case: cmyk.tif where the page places it.
  tavtest::writeFile(dir / "inner.json", placedJob(kStandardInks, R"("file":"cmyk.tif")"));

  using Inks = std::vector<tavtest::InkAt>;
  // The picture lies on x 72..172, y 548..648 points, over an orange square
  // that reaches beyond it; the orange plate is cleared where the picture lies.
  const Inks orange = {{"Orange", 60, 540, 1}, {"Orange", 97, 623, 0}, {"Orange", 147, 573, 0}};
  const Inks quarters = {{"Cyan", 97, 623, 1},     {"Cyan", 147, 623, 0},    {"Magenta", 97, 623, 0.5},
                         {"Magenta", 97, 573, 0},  {"Yellow", 97, 623, 0},   {"Yellow", 147, 573, 0},
                         {"Black", 97, 573, 0},    {"Black", 147, 573, 1}};
  // (A gray picture uses Black alone: the job has no page for the other process inks.)
  const Inks leftBlack = {{"Black", 97, 598, 1}, {"Black", 147, 598, 0}};
  // Red is magenta and yellow; mid gray (128) is black at 127/255.
  const Inks redAndGray = {{"Magenta", 97, 598, 1}, {"Yellow", 97, 598, 1}, {"Cyan", 97, 598, 0},
                           {"Black", 97, 598, 0},   {"Black", 147, 598, 0.5}, {"Magenta", 147, 598, 0},
                           {"Cyan", 147, 598, 0}};
  struct Case {
    const char* what;
    std::string picture;
    const char* flavour;
    const char* settings;
    Inks inks;
    bool oneUp = false;
    bool cmykPage = false;  // the process inks share the first page
  };
  const Case cases[] = {
      {"CMYK TIFF", R"("file":"cmyk.tif")", "Separated", "CompressImages=1", quarters},
      {"CMYK TIFF, downsampled", R"("file":"cmyk.tif","resolution":288)", "Separated",
       "CompressImages=1 UseDownsampling=1 DownsampleResolution=18 DownsampleFromPPI=20", quarters},
      {"CMYK TIFF, separated and normalized", R"("file":"cmyk.tif")", "Vistamo", "CompressImages=1", quarters, false,
       true},
      {"CMYK TIFF in a one-up", R"("file":"inner.json")", "Separated", "CompressImages=1", quarters, true},
      {"CMYK JPEG", R"("file":"cmyk.jpg")", "Separated", "CompressImages=80", quarters},
      {"gray TIFF", R"("file":"gray.tif")", "Separated", "CompressImages=1", leftBlack},
      {"gray JPEG as it stands", R"("file":"gray.jpg")", "Separated", "CompressImages=80", leftBlack},
      {"gray JPEG decoded", R"("file":"gray.jpg")", "Separated", "CompressImages=1", leftBlack},
      {"RGB TIFF", R"("file":"rgb.tif")", "Separated", "CompressImages=1", redAndGray},
      {"RGB JPEG", R"("file":"rgb.jpg")", "Separated", "CompressImages=80", redAndGray},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Paint 31 is the orange ground; the one-up's page lies on the page.
    const std::string place = c.oneUp ? R"("origin":[0,0],"widthCorner":[0,7200],"heightCorner":[7200,0])"
                                      : R"("origin":[720,720],"widthCorner":[720,1720],"heightCorner":[1720,720])";
    const std::string text =
        jobText(kStandardInks, R"([{"id":20,"inks":{"Orange":100}}])",
                R"([{"id":30,"type":"picture","picture":1,"place":{)" + place +
                    R"(}},{"id":31,"type":"flat","colour":20}])",
                "[" + square(500, 500, 1440, 31) + "," + (c.oneUp ? square(0, 0, 7200, 30) : square(720, 720, 1000, 30)) +
                    "]",
                R"(,"pictures":[{"id":1,)" + c.picture + "}]");
    auto job = loadJob(text, dir.path());
    const fs::path pdf = dir / "separated.pdf";
    exportAccepted(job.get(), flavour(c.flavour, c.settings), pdf);
    Inks expected = c.inks;
    expected.insert(expected.end(), orange.begin(), orange.end());
    std::map<std::string, tavtest::Plates> pages;
    for (const tavtest::InkAt& i : expected) {
      const bool shared = c.cmykPage && i.ink != "Orange";
      const std::string key = shared ? "CMYK" : i.ink;
      if (!pages.contains(key)) {
        pages.emplace(key, tavtest::measurePlates(pdf, shared ? 1 : tavtest::separationPage(pdf, i.ink)));
      }
      const tavtest::Plates& page = pages.at(key);
      EXPECT_NEAR(page.inkAtPoint(shared ? i.ink : "Black", i.x, i.y), i.share, 0.03)
          << i.ink << " at " << i.x << ", " << i.y;
      // A plate page is gray: its ink shows on the Black plate, and on no other.
      if (shared) continue;
      for (const char* other : {"Cyan", "Magenta", "Yellow"}) {
        EXPECT_EQ(page.plate(other).coverage(), 0) << i.ink << " page, " << other;
      }
    }
  }
}

TEST(PlacedPictures, ASharePrintedByNoPlateOfTheJobIsNamed) {
  // Separated output prints each process ink's share of a picture on that
  // ink's page: a share of an ink the job does not have has no page, which
  // the export says once per picture and ink, for shares the picture has.
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.width = cmyk.height = 40;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  cmyk.sample = quadrants;  // cyan, magenta and black; no yellow
  tavtest::writeTiff(dir / "noyellow.tif", cmyk);
  cmyk.sample = [](int x, int y, int s) { return s == 2 ? std::uint8_t(x < 20 ? 255 : 0) : quadrants(x, y, s); };
  tavtest::writeTiff(dir / "yellow.tif", cmyk);
  tavtest::TiffLayout gray = cmyk;
  gray.samples = 1;
  gray.photometric = 1;
  gray.sample = [](int x, int, int) { return std::uint8_t(x < 20 ? 0 : 255); };
  tavtest::writeTiff(dir / "gray.tif", gray);
  tavtest::TiffLayout rgb = gray;
  rgb.samples = 3;
  rgb.photometric = 2;
  rgb.sample = [](int x, int, int s) { return std::uint8_t(x < 20 ? (s == 0 ? 255 : 0) : 255); };  // red and white
  tavtest::writeTiff(dir / "red.tif", rgb);

  const char* withoutYellow = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                              R"({"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}])";
  const char* withoutBlack = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                             R"({"name":"Yellow","process":"yellow"},{"name":"Orange","cmyk":[0,60,100,0]}])";
  struct Case {
    const char* what;
    const char* inks;
    const char* file;
    const char* flavour;
    std::vector<std::string> named;  // the inks the warnings name
  };
  const Case cases[] = {
      {"CMYK with yellow, no Yellow ink", withoutYellow, "yellow.tif", "Separated", {"Yellow"}},
      {"CMYK without yellow, no Yellow ink", withoutYellow, "noyellow.tif", "Separated", {}},
      {"composite output prints every share", withoutYellow, "yellow.tif", "Press", {}},
      {"red RGB, no Yellow ink", withoutYellow, "red.tif", "Separated", {"Yellow"}},
      {"gray, no Black ink", withoutBlack, "gray.tif", "Separated", {"Black"}},
      {"red RGB, no Black ink (red has none)", withoutBlack, "red.tif", "Separated", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Placed twice (the second time turned): still one warning per ink. A
    // cyan square elsewhere: the job has a plate whatever the picture holds.
    const std::string text =
        placedJob(c.inks, std::string(R"("file":")") + c.file + "\"", R"(,{"id":20,"inks":{"Cyan":100}})",
                  kTurned + R"(,{"id":32,"type":"flat","colour":20})",
                  "," + square(720, 720, 1000, 31) + "," + square(4000, 4000, 500, 32));
    auto job = loadJob(text, dir.path());
    const fs::path pdf = dir / "plates.pdf";
    const ExportRun run = exportAccepted(job.get(), flavour(c.flavour, "CompressImages=1"), pdf);
    std::vector<std::string> named;
    for (const TavGen::Message& m : run.messages) {
      if (m.key != "PDF/PICTURE INK WITHOUT PLATE") continue;
      EXPECT_EQ(m.severity, TavGen::kWarning);
      EXPECT_NE(m.text.find(c.file), std::string::npos) << m.text;
      for (const char* ink : {"Cyan", "Magenta", "Yellow", "Black"}) {
        if (m.text.find(ink) != std::string::npos) named.push_back(ink);
      }
    }
    EXPECT_EQ(named, c.named) << run.keys();
    if (std::string(c.flavour) != "Separated") continue;
    // The inks the job has still print their shares where the picture lies
    // (turned a quarter, its left half lies at the top).
    if (std::string(c.file) == "yellow.tif") {
      EXPECT_NEAR(tavtest::measurePlates(pdf, tavtest::separationPage(pdf, "Cyan")).inkAtPoint("Black", 122, 623), 1,
                  0.03);
      EXPECT_EQ(tavtest::measurePlates(pdf, tavtest::separationPage(pdf, "Cyan")).inkAtPoint("Black", 122, 573), 0);
    }
  }
}

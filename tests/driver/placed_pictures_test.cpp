// Placed picture files through whole exports: pixel pictures print their
// channels on the plates where the job places them, JPEG files go in as
// they stand, EPS files become PostScript XObjects over their previews, PDF
// pages are drawn from their files.
#include <gtest/gtest.h>

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
      EXPECT_EQ(tavtest::streamData(form), "0 0 0 1 k 0 0 100 100 re f");
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

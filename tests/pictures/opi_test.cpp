// OPI 1.3 dictionaries of placed pictures and maps, written into a page's
// resources and read back with qpdf.
#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "pdfproof_support.h"
#include "pictures/opi.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace {

using namespace TavPDF;
namespace fs = std::filesystem;

const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
  {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
  {"name": "Gold", "cmyk": [0, 20, 60, 20]}])";

// The pictures and maps of the test job, as further top-level keys.
std::string jobPictures(const fs::path& dir) {
  return R"(, "pictures": [{"id":1,"file":")" + (dir / "pic.tif").string() + R"("},)"
         R"({"id":2,"file":")" + (dir / "art.eps").string() + R"("},)"
         R"({"id":3,"file":")" + (dir / "photo.jpg").string() + R"(","type":"JPEG","width":4,"height":2}],)"
         R"("maps": [{"id":1,"files":[")" + (dir / "cmyk.tif").string() + R"("],"colour":20,"width":8,"height":4,)"
         R"("channels":[{"ink":"Cyan","channel":0},{"ink":"Black","channel":3}]},)"
         R"({"id":2,"files":[")" + (dir / "cmyk.tif").string() + R"(",")" + (dir / "gray.tif").string() +
         R"("],"colour":21,"width":8,"height":4,"channels":[{"ink":"Cyan"},{"ink":"Gold","file":1}]},)"
         R"({"id":3,"files":[")" + (dir / "gray.tif").string() + R"("],"colour":22,"width":8,"height":4,)"
         R"("channels":[{"ink":"Gold"}]}])";
}

}  // namespace

TEST(Opi, PlacedPicturesAndMapsCarryTheirKeys) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyk;
  cmyk.samples = 4;
  cmyk.photometric = 5;
  tavtest::writeTiff(dir / "cmyk.tif", cmyk);
  tavtest::writeTiff(dir / "gray.tif", tavtest::TiffLayout{});
  tavtest::TiffLayout pic;
  pic.resolution = 144;
  tavtest::writeTiff(dir / "pic.tif", pic);
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 72 36\n");
  tavtest::writeFile(dir / "photo.jpg", "\xFF\xD8\xFF");
  const std::string place = R"("place":{"origin":[20,10],"widthCorner":[20,30],"heightCorner":[30,10]})";
  std::string paints = "[";
  for (int p = 1; p <= 3; ++p) {
    paints += R"({"id":)" + std::to_string(29 + p) + R"(,"type":"picture","picture":)" + std::to_string(p) + "," +
              place + "},";
  }
  paints += R"({"id":40,"type":"map","map":1,)" + place + R"(},{"id":41,"type":"map","map":2,)" + place +
            R"(},{"id":42,"type":"map","map":3,)" + place + "}]";
  // Paints 30..32 place pictures 1..3 and paints 40..42 maps 1..3 on 20 x
  // 10 points, 10 points right and 20 down from the top left corner.
  auto job = g2test::makeJob(kInks,
                             R"([{"id":20,"inks":{"Cyan":100,"Black":100},"others":255},{"id":21,"inks":{"Cyan":100,"Gold":100}},)"
                             R"({"id":22,"inks":{"Gold":40}}])",
                             paints, "[]", jobPictures(dir.path()));
  ASSERT_TRUE(job);
  const PDFSettings settings = g2test::testSettings();
  {
    g2test::Page page(*job, settings, kPdf15, dir / "opi.pdf");
    page.handler().mOutputFileSpec = TavSys::FileSpec(dir / "out" / "opi.pdf");
    PDFProof& w = page.writer();
    // OPI forms are written between streams: the NChannel space's tint
    // transform is a stream of its own.
    w.FinishContentStream();
    PDFDictionary* r = page.resources();
    r->Set("TIFF", w.WriteOpiDictionary(30));
    r->Set("EPS", w.WriteOpiDictionary(31));
    EXPECT_EQ(w.WriteOpiDictionary(32), nullptr) << "a JPEG file gets none";
    r->Set("MapQEL", WriteMappedImageOpiDictionary(w, 40, 0));
    r->Set("MapMapped", WriteMappedImageOpiDictionary(w, 40, 3));
    EXPECT_EQ(WriteMappedImageOpiDictionary(w, 41, 0), nullptr) << "inks from two files";
    r->Set("MapOne", WriteMappedImageOpiDictionary(w, 42, 2));
    page.finish();
  }
  tavtest::expectPdfAcceptedByAllConsumers(dir / "opi.pdf");

  QPDF q;
  q.processFile((dir / "opi.pdf").c_str());
  QPDFObjectHandle resources = QPDFPageDocumentHelper(q).getAllPages().at(0).getAttribute("/Resources", false);
  QPDFObjectHandle tiff = resources.getKey("/TIFF").getKey("/1.3");
  EXPECT_EQ(tiff.getKey("/Type").getName(), "/OPI");
  EXPECT_EQ(tiff.getKey("/Version").getNumericValue(), 1.3);
  EXPECT_EQ(tiff.getKey("/F").getStringValue(), (dir / "pic.tif").string());
  EXPECT_EQ(tiff.getKey("/ID").getStringValue(),
            "qel-pdf:../pic.tif," + TavSys::FileSpec(dir / "pic.tif").ToFileURL());
  // 8 x 4 pixels at 144 ppi are 4 x 2 points.
  EXPECT_EQ(tiff.getKey("/Size").unparse(), "[ 4 2 ]");
  EXPECT_EQ(tiff.getKey("/CropRect").unparse(), "[ 0 0 4 2 ]");
  // Lower left, upper left, upper right, lower right on the page (100
  // points high; the placement's origin 10 right and 20 down).
  std::vector<double> position;
  for (auto& v : tiff.getKey("/Position").getArrayAsVector()) position.push_back(v.getNumericValue());
  EXPECT_EQ(position, std::vector<double>({10, 70, 10, 80, 30, 80, 30, 70}));
  EXPECT_EQ(resources.getKey("/EPS").getKey("/1.3").getKey("/Size").unparse(), "[ 72 36 ]");

  QPDFObjectHandle qel = resources.getKey("/MapQEL").getKey("/1.3");
  EXPECT_EQ(qel.getKey("/F").getStringValue(), (dir / "cmyk.tif").string());
  EXPECT_EQ(qel.getKey("/inpd:ImageMapping").unparse(), "<< /Type /QEL >>");
  EXPECT_FALSE(qel.hasKey("/Color")) << "two inks";
  EXPECT_TRUE(qel.getKey("/Overprint").getBoolValue()) << "the map leaves the other inks as they are";
  QPDFObjectHandle mapped = resources.getKey("/MapMapped").getKey("/1.3").getKey("/inpd:ImageMapping");
  EXPECT_EQ(mapped.getKey("/Type").getName(), "/Mapped");
  EXPECT_EQ(mapped.getKey("/Channels").unparse(), "<< /Black /Black /Cyan /Cyan >>");
  EXPECT_TRUE(mapped.getKey("/CS").isIndirect());
  EXPECT_EQ(mapped.getKey("/CS").getArrayItem(0).getName(), "/DeviceN");
  QPDFObjectHandle one = resources.getKey("/MapOne").getKey("/1.3");
  EXPECT_EQ(one.getKey("/inpd:ImageMapping").unparse(), "<< /Type /AICS3 >>");
  EXPECT_EQ(one.getKey("/Color").unparse(), "[ 0 0.2 0.6 0.2 (Gold) ]");
  EXPECT_FALSE(one.hasKey("/ColorType"));
  EXPECT_FALSE(one.hasKey("/Overprint")) << "the map knocks the other inks out";
  EXPECT_EQ(one.getKey("/Tint").getNumericValue(), 0.4);
}

// A mapped picture whose mask travels in its own file: the mapping names the
// file's alpha channel (TB false), unless its soft mask is drawn from a map
// with a transparent background, which the file's background then is (TB true).
TEST(Opi, MappedPicturesNameTheMaskTheirFileCarries) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout cmyka;
  cmyka.samples = 5;
  cmyka.photometric = 5;
  cmyka.extraTypes = {0};
  tavtest::writeTiff(dir / "cmyka.tif", cmyka);
  tavtest::writeTiff(dir / "gray.tif", tavtest::TiffLayout{});
  const std::string place = R"("place":{"origin":[20,10],"widthCorner":[20,30],"heightCorner":[30,10]})";
  const std::string maps =
      R"(, "maps": [{"id":1,"files":[")" + (dir / "cmyka.tif").string() +
      R"("],"colour":20,"width":8,"height":4,"channels":[{"ink":"Cyan","channel":0},{"ink":"Black","channel":3}],)"
      R"("opacity":{"file":0,"channel":4}},)"
      R"({"id":2,"files":[")" + (dir / "gray.tif").string() + R"(",")" + (dir / "gray.tif").string() +
      R"("],"colour":22,"width":8,"height":4,"channels":[{"ink":"Gold"}],"opacity":{"file":1}}],)"
      R"("patterns":[{"id":1,"kind":"softMask","objects":[{"kind":"path","paint":45,)"
      R"("points":[[20,10],[20,30],[30,30],[30,10]]}]}])";
  auto job = g2test::makeJob(kInks, R"([{"id":20,"inks":{"Cyan":100,"Black":100},"others":255},{"id":22,"inks":{"Gold":40}}])",
                             R"([{"id":43,"type":"map","map":1,"softMask":1,)" + place +
                                 R"(},{"id":44,"type":"map","map":1,)" + place + R"(},{"id":45,"type":"map","map":2,)" +
                                 place + "}]",
                             "[]", maps);
  ASSERT_TRUE(job);
  const PDFSettings settings = g2test::testSettings();
  {
    g2test::Page page(*job, settings, kPdf15, dir / "masks.pdf");
    PDFProof& w = page.writer();
    w.FinishContentStream();
    PDFDictionary* r = page.resources();
    r->Set("Background", WriteMappedImageOpiDictionary(w, 43, 3));
    r->Set("Alpha", WriteMappedImageOpiDictionary(w, 44, 3));
    page.finish();
  }
  QPDF q;
  q.processFile((dir / "masks.pdf").c_str());
  QPDFObjectHandle resources = QPDFPageDocumentHelper(q).getAllPages().at(0).getAttribute("/Resources", false);
  QPDFObjectHandle background = resources.getKey("/Background").getKey("/1.3").getKey("/inpd:ImageMapping");
  EXPECT_TRUE(background.getKey("/TB").getBoolValue());
  EXPECT_FALSE(background.hasKey("/SMask"));
  QPDFObjectHandle alpha = resources.getKey("/Alpha").getKey("/1.3").getKey("/inpd:ImageMapping");
  EXPECT_FALSE(alpha.getKey("/TB").getBoolValue());
  EXPECT_EQ(alpha.getKey("/SMask").getName(), "/Channel 5");
}

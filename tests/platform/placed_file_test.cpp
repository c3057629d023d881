// Placed files read by the job loader: EPS headers (bounding boxes, DOS EPS
// sections checked against the file), PDF page boxes and pixel headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "platform/kernel/epsfile.h"
#include "platform/kernel/job.h"
#include "platform/kernel/jobfile.h"
#include "platform/tav_error.h"
#include "support/consumers.h"
#include "support/pdfbuilder.h"
#include "support/pictures.h"

namespace {

std::string le32(std::uint32_t v) {
  return {char(v & 255), char((v >> 8) & 255), char((v >> 16) & 255), char((v >> 24) & 255)};
}

// A DOS EPS file: the 30-byte header, then the PostScript, then a preview.
std::string dosEps(const std::string& ps, std::uint32_t psOffset, std::uint32_t psLength, const std::string& preview) {
  std::string h = "\xC5\xD0\xD3\xC6" + le32(psOffset) + le32(psLength) + le32(0) + le32(0) +
                  le32(preview.empty() ? 0 : 30 + std::uint32_t(ps.size())) + le32(std::uint32_t(preview.size())) +
                  "\xFF\xFF";
  return h + ps + preview;
}

}  // namespace

TEST(EpsHeader, BoundingBoxesAndDosSections) {
  const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 10 20 110 220\n%%EndComments\nshowpage\n";
  struct Case {
    const char* what;
    std::string file;
    bool ok;
    double llx = 0, lly = 0, urx = 0, ury = 0;
    std::uint64_t psOffset = 0, psLength = 0;
  };
  const std::string atEnd = "%!PS-Adobe-3.0 EPSF-3.0\r%%BoundingBox: (atend)\r%%EndComments\r0 0 moveto\r"
                            "%%Trailer\r%%BoundingBox: 1 2 3 4\r%%EOF\r";
  const Case cases[] = {
      {"plain", ps, true, 10, 20, 110, 220, 0, ps.size()},
      {"the high-resolution box wins",
       "%!PS-Adobe-3.0\r\n%%HiResBoundingBox: 10.5 20.25 +110.75 220\r\n%%BoundingBox: 10 20 111 220\r\n", true, 10.5,
       20.25, 110.75, 220, 0, 0},
      {"an unusable high-resolution box is passed over",
       "%!PS\n%%HiResBoundingBox: 5 5 5 5\n%%BoundingBox: 1 2 3 4\n", true, 1, 2, 3, 4, 0, 0},
      {"a box at the end", atEnd, true, 1, 2, 3, 4, 0, atEnd.size()},
      {"a box after the comments does not count", "%!PS\n%%EndComments\n%%BoundingBox: 1 2 3 4\n", false},
      {"DOS: the PostScript section", dosEps(ps, 30, std::uint32_t(ps.size()), "II*\0preview"), true, 10, 20, 110,
       220, 30, ps.size()},
      {"DOS: the section runs past the end", dosEps(ps, 30, std::uint32_t(ps.size()) + 1, ""), false},
      {"DOS: the section starts inside the header", dosEps(ps, 12, std::uint32_t(ps.size()), ""), false},
      {"DOS: a huge offset", dosEps(ps, 0xFFFFFFF0u, 0x20, ""), false},
      {"DOS: the preview runs past the end", dosEps(ps, 30, std::uint32_t(ps.size()), "").substr(0, 20) +
                                                  le32(1000) + "\xFF\xFF" + ps, false},
      {"DOS: a header cut short", std::string("\xC5\xD0\xD3\xC6\x1E\0\0\0", 8), false},
      {"not PostScript", "GIF89a", false},
      {"no box", "%!PS-Adobe-3.0 EPSF-3.0\n%%EndComments\n", false},
      {"a box of no area", "%!PS\n%%BoundingBox: 0 0 0 100\n", false},
      {"numbers that are not", "%!PS\n%%BoundingBox: 0 0 1e999 100\n", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      const TavKernel::EpsHeader h = TavKernel::ParseEpsHeader(c.file);
      ASSERT_TRUE(c.ok);
      EXPECT_EQ(std::vector<double>({h.llx, h.lly, h.urx, h.ury}), std::vector<double>({c.llx, c.lly, c.urx, c.ury}));
      if (c.psLength != 0) {
        EXPECT_EQ(h.psOffset, c.psOffset);
        EXPECT_EQ(h.psLength, c.psLength);
      }
    } catch (const TavSys::Error& e) {
      EXPECT_FALSE(c.ok) << e.detail();
      EXPECT_EQ(e.key(), "PDF/UNSUPPORTED PICTURE TYPE");
    }
  }
}

// The loader takes sizes from the files when the job file does not give them.
TEST(PlacedFiles, SizesComeFromTheFiles) {
  tavtest::TestFolder dir;
  // A DOS EPS file whose PostScript lies beyond the first 64 KiB.
  const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 36 18 180 90\n%%EndComments\n";
  tavtest::writeFile(dir / "art.eps",
                     dosEps("", 30 + 70000, std::uint32_t(ps.size()), "") + std::string(70000, ' ') + ps);
  tavtest::PdfBuilder b;
  b.page("/CropBox [10 10 82 46]", {"0 0 10 10 re f"});
  b.page("/Rotate 270", {"0 0 10 10 re f"}, 100, 300);
  b.write(dir / "pages.pdf");
  tavtest::TiffLayout tiff;
  tiff.width = 12;
  tiff.height = 5;
  tiff.samples = 3;
  tiff.photometric = 2;
  tiff.resolution = 150;
  tavtest::writeTiff(dir / "rgb.tif", tiff);
  tavtest::writeFile(dir / "broken.eps", "%!PS\n");
  const std::string job =
      R"({"format":"tavpdf-job","name":"t","ppi":720,"boxes":{"media":[0,0,7200,7200]},)"
      R"("inks":[{"name":"Black","process":"black"}],"pictures":[)"
      R"({"id":1,"file":"art.eps"},{"id":2,"file":"pages.pdf"},{"id":3,"file":"pages.pdf","pdfPage":1},)"
      R"({"id":4,"file":"rgb.tif"},{"id":5,"file":"art.eps","width":7},{"id":6,"file":"broken.eps"},)"
      R"({"id":7,"file":"pages.pdf","pdfPage":2}]})";
  auto j = TavKernel::loadJobFromMemory(job, dir.path(), "job.json");
  struct Expect { int picture; std::int32_t width, height; double left, bottom; };
  for (const Expect x : {Expect{1, 1440, 720, 36, 18}, {2, 720, 360, 10, 10}, {3, 3000, 1000, 0, 0},
                         {5, 7, 720, 36, 18}, {6, 0, 0, 0, 0}, {7, 0, 0, 0, 0}}) {
    SCOPED_TRACE(x.picture);
    const Picture* p = picpoi(j.get(), x.picture);
    EXPECT_EQ((std::array{p->width, p->height}), (std::array{x.width, x.height}));
    EXPECT_EQ((std::array{p->fileBox[0], p->fileBox[1]}), (std::array{x.left, x.bottom}));
  }
  const Picture* rgb = picpoi(j.get(), 4);
  EXPECT_EQ((std::array{rgb->width, rgb->height, std::int32_t(rgb->resolution), std::int32_t(rgb->colorSpaceCode)}),
            (std::array<std::int32_t, 4>{12, 5, 150, 2}));
  std::int32_t x = -1, y = -1;
  epsoffset(j.get(), 1, x, y);
  EXPECT_EQ((std::array{x, y}), (std::array<std::int32_t, 2>{36, 18}));
  EXPECT_TRUE(epsdosfil(picpoi(j.get(), 1)->file) && !epsdosfil(picpoi(j.get(), 6)->file));
}

TEST(PlacedFiles, PixelPicturesWithoutInksUseTheInksOfTheirColourSpace) {
  tavtest::TestFolder dir;
  tavtest::TiffLayout layout;
  tavtest::writeTiff(dir / "gray.tif", layout);
  layout.bits = 1;
  layout.photometric = 0;
  layout.sample = [](int x, int, int) { return std::uint8_t(x & 1); };
  tavtest::writeTiff(dir / "bits.tif", layout);
  layout = {};
  layout.samples = 3;
  layout.photometric = 2;
  tavtest::writeTiff(dir / "rgb.tif", layout);
  tavtest::writeJpeg(dir / "rgb.jpg", layout);
  layout.samples = 4;
  layout.photometric = 5;
  tavtest::writeTiff(dir / "cmyk.tif", layout);
  tavtest::writeJpeg(dir / "cmyk.jpg", layout);
  const std::string inks =
      R"([{"name":"Spot","cmyk":[0,50,100,0]},{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"}])";
  const std::string noYellow = R"([{"name":"Spot","cmyk":[0,50,100,0]},{"name":"Black","process":"black"},)"
                               R"({"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"}])";
  struct Case {
    std::string picture;
    std::string inks;
    std::set<std::string> used;
  } cases[] = {
      {R"("file":"gray.tif")", inks, {"Black"}},
      {R"("file":"bits.tif")", inks, {"Black"}},
      {R"("file":"rgb.tif")", inks, {"Cyan", "Magenta", "Yellow", "Black"}},
      {R"("file":"rgb.jpg")", inks, {"Cyan", "Magenta", "Yellow", "Black"}},
      {R"("file":"cmyk.tif")", inks, {"Cyan", "Magenta", "Yellow", "Black"}},
      {R"("file":"cmyk.jpg")", inks, {"Cyan", "Magenta", "Yellow", "Black"}},
      {R"("file":"cmyk.tif")", noYellow, {"Cyan", "Magenta", "Black"}},  // the inks the job has
      {R"("file":"cmyk.tif","colorSpace":"gray")", inks, {"Black"}},    // as the job file says
      {R"("file":"cmyk.tif","inks":["Spot"])", inks, {"Spot"}},           // as the job file lists them
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.picture);
    const std::string job =
        R"({"format":"tavpdf-job","name":"t","ppi":720,"boxes":{"media":[0,0,7200,7200]},"inks":)" + c.inks +
        R"(,"pictures":[{"id":1,)" + c.picture + R"(}],"paints":[{"id":10,"type":"picture","picture":1,)"
        R"("place":{"origin":[0,0],"widthCorner":[0,80],"heightCorner":[40,0]}}],)"
        R"("objects":[{"kind":"path","paint":10,"points":[[0,0],[0,80],[40,80],[40,0]]}]})";
    auto j = TavKernel::loadJobFromMemory(job, dir.path(), "job.json");
    std::set<std::string> used;
    for (int s = 0; s < sepfrejob(j.get()); ++s)
      if ((sepisused(j.get(), s) & kSepUsed) != 0) used.insert(GetSeparationName(j.get(), s));
    EXPECT_EQ(used, c.used);
  }
}

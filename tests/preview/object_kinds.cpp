#include "object_kinds.h"

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace previewtest {

using drivertest::jobText;
using drivertest::kStandardInks;
using drivertest::square;

namespace {

// Colours 20.. of the standard inks and flat paints 30.. of them.
const char* kColours =
    R"([{"id":20,"inks":{"Cyan":100,"Magenta":40}},{"id":21,"inks":{"Orange":100}},)"
    R"({"id":22,"inks":{"Green":50,"Black":20}},{"id":23,"inks":{"Black":100}},)"
    R"({"id":24,"inks":{"Yellow":60},"others":255},{"id":25,"inks":{"Cyan":0,"Orange":0}},)"
    R"({"id":26,"inks":{"Magenta":100}}])";
const char* kFlat =
    R"({"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
    R"({"id":32,"type":"flat","colour":22},{"id":33,"type":"flat","colour":23},)"
    R"({"id":34,"type":"flat","colour":24},{"id":35,"type":"flat","colour":25},{"id":36,"type":"flat","colour":26})";

std::string paints(const std::string& more = "") { return std::string("[") + kFlat + more + "]"; }

std::string path(const std::string& points, int paint, const std::string& extra = "") {
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":)" + points + extra + "}";
}

std::string place(int v, int h, int width, int height) {
  auto pt = [](int a, int b) { return "[" + std::to_string(a) + "," + std::to_string(b) + "]"; };
  return R"("place":{"origin":)" + pt(v, h) + R"(,"widthCorner":)" + pt(v, h + width) + R"(,"heightCorner":)" +
         pt(v + height, h) + "}";
}

}  // namespace

std::vector<KindJob> objectKindJobs(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  // Pictures: a CMYK TIFF, a gray JPEG, a map's spot channel and its opacity.
  tavtest::TiffLayout cmyk;
  cmyk.width = 60, cmyk.height = 40, cmyk.samples = 4, cmyk.photometric = 5, cmyk.compression = 5;
  cmyk.sample = [](int x, int y, int s) { return std::uint8_t(s == 3 ? (x + y) % 64 : (x * 4 + y * 3 * s) & 255); };
  tavtest::writeTiff(folder / "cmyk.tif", cmyk);
  tavtest::TiffLayout gray;
  gray.width = 50, gray.height = 50, gray.samples = 1, gray.photometric = 1;
  gray.sample = [](int x, int y, int) { return std::uint8_t(x * 5 + y); };
  tavtest::writeJpeg(folder / "gray.jpg", gray);
  tavtest::TiffLayout channel = gray;
  channel.sample = [](int x, int y, int) { return std::uint8_t((x * 5) ^ (y * 3)); };
  tavtest::writeTiff(folder / "channel.tif", channel);
  tavtest::TiffLayout mask = gray;
  mask.sample = [](int x, int y, int) { return std::uint8_t((x - 25) * (x - 25) + (y - 25) * (y - 25) < 400 ? 255 : 60); };
  tavtest::writeTiff(folder / "mask.tif", mask);
  fs::copy_file(tavtest::sourceDir() / "examples" / "pictures" / "swatch-plates.pdf", folder / "page.pdf",
                fs::copy_options::overwrite_existing);
  tavtest::writeFile(folder / "oneup.json",
                     R"({"ppi":72,"boxes":{"media":[0,0,100,200]},"inks":[{"name":"Black","process":"black"},)"
                     R"({"name":"Orange","cmyk":[0,60,100,0]}],"colours":[{"id":1,"inks":{"Orange":100}},)"
                     R"({"id":2,"inks":{"Black":70}}],"paints":[{"id":10,"type":"flat","colour":1},)"
                     R"({"id":11,"type":"flat","colour":2}],"objects":[)"
                     R"({"kind":"path","paint":10,"points":[[0,0],[0,200],[60,200],[60,0]]},)"
                     R"({"kind":"path","paint":11,"points":[[40,20],[40,120],[100,120],[100,20]]}]})");

  const std::string bg = square(600, 600, 6000, 31);  // an orange ground the objects lie on
  std::vector<KindJob> jobs;
  auto add = [&](std::string name, const std::string& p, const std::string& objects, const std::string& more = "") {
    jobs.push_back({std::move(name), jobText(kStandardInks, kColours, p, "[" + bg + "," + objects + "]", more)});
  };
  add("paths and compound paths", paints(),
      square(1000, 1000, 2000, 30) + "," + square(2000, 2000, 2000, 32) + "," +
          R"({"kind":"compound","paint":33,"objects":[)" + path("[[4000,4000],[4000,6000],[6000,6000],[6000,4000]]", 33) +
          "," + path("[[4500,4500],[4500,5500],[5500,5500],[5500,4500]]", 33) + "]}," +
          path("[[1000,4000],[1000,4800,1600,5400,2400,5400],[3200,5400,3200,4000,2400,4000]]", 36));
  add("strokes", paints(),
      path("[[1000,1000],[1000,3000],[3000,3000],[3000,1000]]", 2, R"(,"stroke":{"width":80,"paint":33})") + "," +
          path("[[1000,4000],[1000,6000],[3000,6000],[3000,4000]]", 30,
               R"(,"stroke":{"width":200,"paint":33,"position":"inside"})") + "," +
          path("[[4000,1000],[4000,3000],[6000,3000],[6000,1000]]", 30,
               R"(,"stroke":{"width":200,"paint":36,"position":"outside","join":"round"})") + "," +
          path("[[4000,4000],[6000,6000]]", 2,
               R"(,"closed":false,"stroke":{"width":60,"paint":33,"dash":[200,100],"cap":"round"})") + "," +
          path("[[3500,600],[3500,6600]]", 2, R"(,"closed":false,"stroke":{"width":3,"paint":33})"));
  add("texts", paints(),
      R"({"kind":"text","at":[2000,1000],"runs":[{"text":"Wildflower","font":"NimbusSans-Bold","size":48,"paint":33},)"
      R"({"text":" honey\n500 g","font":"NimbusRoman-Regular","size":36,"paint":30}]},)"
      R"({"kind":"text","at":[5000,3600],"matrix":[0.866,-0.5,0.5,0.866],"align":"centre",)"
      R"("runs":[{"text":"Turned","font":"Helvetica","size":40,"paint":36,"underline":true}]})");
  add("gradients and gradations",
      paints(R"(,{"id":40,"type":"linear","colour":20,"colour2":21,"start":[1000,1000],"end":[1000,3000]},)"
             R"({"id":41,"type":"radial","colour":22,"colour2":23,"start":[2000,4000],"end":[2000,6000]},)"
             R"({"id":42,"type":"gradation","form":"circular","start":[5000,2000],"box":[4000,1000,6000,3000],)"
             R"("steps":[{"colour":23,"position":0},{"colour":24,"position":400},{"colour":20,"position":1000}]},)"
             R"({"id":43,"type":"gradation","form":"vertical","start":[4000,4000],"matrix":[1,0.3,0,1],)"
             R"("steps":[{"colour":26,"position":0,"midpoint":300},{"colour":21,"position":2000}]})"),
      square(1000, 1000, 2000, 40) + "," + square(1000, 4000, 2000, 41) + "," + square(4000, 1000, 2000, 42) + "," +
          square(4000, 4000, 2000, 43));
  add("patterns", paints(R"(,{"id":44,"type":"pattern","pattern":1},{"id":45,"type":"pattern","pattern":2})"),
      square(1000, 1000, 2500, 44) + "," + square(4000, 3500, 2500, 45),
      R"(,"patterns":[{"id":1,"cell":[0,0,400,400],"objects":[)" + square(0, 0, 200, 33) + "," + square(200, 200, 150, 30) +
          R"(]},{"id":2,"cell":[0,0,300,300],"corners":[[4000,3500],[3800,3800],[4300,3700]],"objects":[)" +
          path("[[0,0],[0,300],[150,150]]", 36) + "]}]");
  add("placed TIFF and JPEG pictures",
      paints(R"(,{"id":46,"type":"picture","picture":1,)" + place(1000, 1000, 3000, 2000) + "}," +
             R"({"id":47,"type":"picture","picture":2,)" + place(3800, 3800, 2000, 2000) + "}"),
      square(1000, 1000, 3000, 46) + "," + path("[[3800,3800],[3800,5800],[5800,4800]]", 47),
      R"(,"pictures":[{"id":1,"file":")" + (folder / "cmyk.tif").string() + R"("},{"id":2,"file":")" +
          (folder / "gray.jpg").string() + R"(","colorSpace":"gray"}])");
  add("maps with channels and opacity",
      paints(R"(,{"id":48,"type":"map","map":1,)" + place(1000, 1000, 4000, 4000) + "}"),
      square(1000, 1000, 4000, 48),
      R"(,"maps":[{"id":1,"files":[")" + (folder / "channel.tif").string() + R"(",")" + (folder / "mask.tif").string() +
          R"("],"channels":[{"ink":"Green","file":0}],"opacity":{"file":1},"colour":22,"width":50,"height":50}])");
  add("nested one-ups", paints(R"(,{"id":49,"type":"picture","picture":3,)" + place(1000, 1000, 4000, 2000) + "}"),
      square(1000, 1000, 4000, 49) + "," + path("[[3500,3000],[3500,7000],[6500,5000]]", 49),
      R"(,"pictures":[{"id":3,"file":")" + (folder / "oneup.json").string() + R"("}])");
  add("barcodes", paints(),
      R"({"kind":"group","at":[1500,1500],"barcode":{"symbology":"EAN-13","data":"501234567890","paint":33,)"
      R"("magnification":2,"quietZone":true}},)"
      R"({"kind":"group","at":[1500,4500],"barcode":{"symbology":"QR","data":"tavpdf preview","paint":30,"moduleSize":60}})");
  add("placed PDF pages",
      paints(R"(,{"id":50,"type":"picture","picture":4,)" + place(1000, 1000, 3000, 4000) + "}"),
      square(1000, 1000, 3000, 50),
      R"(,"pictures":[{"id":4,"file":")" + (folder / "page.pdf").string() + R"(","pdfPage":1,"inks":["Cyan","Magenta","Yellow","Black"]}])");
  add("transparency, soft masks and blend modes",
      paints(R"(,{"id":51,"type":"flat","colour":20,"opacity":50},)"
             R"({"id":52,"type":"flat","colour":23,"opacity":60,"blendMode":"multiply"},)"
             R"({"id":53,"type":"flat","colour":26,"softMask":5},)"
             R"({"id":54,"type":"linear","colour":26,"colour2":20,"start":[4000,4000],"end":[4000,6000],"opacity":40})"),
      square(1000, 1000, 2000, 51) + "," + square(2000, 2000, 2000, 52) + "," + square(4000, 1000, 2000, 53) + "," +
          square(4000, 4000, 2000, 54),
      R"(,"patterns":[{"id":5,"kind":"softMask","objects":[)" + square(4000, 1000, 1000, 33) + "]}]");
  add("overprint and knock-out", paints(R"(,{"id":55,"type":"flat","colour":20,"overprint":true})"),
      square(1000, 1000, 3000, 34) + "," + square(2000, 2000, 3000, 35) + "," + square(3500, 3500, 2000, 55));
  return jobs;
}

}  // namespace previewtest

#include "map_support.h"

#include "platform/kernel/jobfile.h"
#include "support/pictures.h"

namespace maptest {

std::uint8_t cyanAt(int x, int y) { return std::uint8_t((x * 6 + y) % 256); }
std::uint8_t magentaAt(int, int y) { return std::uint8_t(y * 8); }
std::uint8_t spotLightAt(int x, int y) { return std::uint8_t(255 - (x + y) * 3); }
std::uint8_t opacityAt(int x, int) { return x < 28 ? 255 : (x < 34 ? 128 : 0); }

const char* const kInks =
    R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
    R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
    R"({"name":"Spot","cmyk":[0,40,100,10]}])";

void writeMapFiles(const std::filesystem::path& folder) {
  tavtest::TiffLayout ink;
  ink.width = kWidth;
  ink.height = kHeight;
  ink.samples = 4;
  ink.photometric = 5;
  ink.compression = 8;
  ink.sample = [](int x, int y, int s) -> std::uint8_t { return s == 0 ? cyanAt(x, y) : s == 1 ? magentaAt(x, y) : 0; };
  tavtest::writeTiff(folder / "ink.tif", ink);
  tavtest::TiffLayout gray = ink;
  gray.samples = 1;
  gray.photometric = 1;
  gray.sample = [](int x, int y, int) { return spotLightAt(x, y); };
  tavtest::writeTiff(folder / "spot.tif", gray);
  gray.sample = [](int x, int y, int) { return opacityAt(x, y); };
  tavtest::writeTiff(folder / "mask.tif", gray);
}

std::string mapEntry(int id, int colour, const std::string& extra) {
  return R"({"id":)" + std::to_string(id) +
         R"(,"files":["ink.tif","spot.tif","mask.tif"],"channels":[{"ink":"Cyan","file":0,"channel":0},)"
         R"({"ink":"Magenta","file":0,"channel":1},{"ink":"Spot","file":1}],"opacity":{"file":2},"colour":)" +
         std::to_string(colour) + R"(,"width":40,"height":30,"resolution":18)" + extra + "}";
}

namespace {
std::string point(int v, int h) { return "[" + std::to_string(v) + "," + std::to_string(h) + "]"; }
}  // namespace

std::string mapPaint(int id, int map, int v, int h, int step) {
  return R"({"id":)" + std::to_string(id) + R"(,"type":"map","map":)" + std::to_string(map) +
         R"(,"place":{"origin":)" + point(v, h) + R"(,"widthCorner":)" + point(v, h + kWidth * step) +
         R"(,"heightCorner":)" + point(v + kHeight * step, h) + "}}";
}

std::string mapFrame(int paint, int v, int h, int step) {
  const int b = v + kHeight * step, r = h + kWidth * step;
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + point(v, h) + "," + point(v, r) +
         "," + point(b, r) + "," + point(b, h) + "]}";
}

std::unique_ptr<jobstr> loadMapJob(const std::string& inks, const std::string& colours, const std::string& maps,
                                   const std::string& paints, const std::string& objects,
                                   const std::filesystem::path& folder, const std::string& more, int size, int ppi) {
  const std::string n = std::to_string(size);
  return TavKernel::loadJobFromMemory(R"({"format":"tavpdf-job","ppi":)" + std::to_string(ppi) + R"(,"origin":[)" + n +
                                          R"(,0],"boxes":{"media":[0,0,)" + n + "," + n + R"(]},"inks":)" + inks +
                                          R"(,"colours":)" + colours + R"(,"maps":)" + maps + R"(,"paints":)" + paints +
                                          R"(,"objects":)" + objects + more + "}",
                                      folder, "test.json");
}

}  // namespace maptest

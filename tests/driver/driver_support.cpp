#include "driver_support.h"

namespace drivertest {

std::string square(int v, int h, int side, int paint, const std::string& extra) {
  const std::string a = "[" + std::to_string(v) + "," + std::to_string(h) + "]";
  const std::string b = "[" + std::to_string(v) + "," + std::to_string(h + side) + "]";
  const std::string c = "[" + std::to_string(v + side) + "," + std::to_string(h + side) + "]";
  const std::string d = "[" + std::to_string(v + side) + "," + std::to_string(h) + "]";
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + a + "," + b + "," +
         c + "," + d + "]" + extra + "}";
}

std::string jobText(const std::string& inks, const std::string& colours, const std::string& paints,
                    const std::string& objects, const std::string& more) {
  return R"({"format":"tavpdf-job","name":"Driver test","ppi":720,"origin":[7200,0],)"
         R"("boxes":{"media":[0,0,7200,7200],"trim":[720,720,6480,6480],"art":[720,720,6480,6480]},)"
         R"("inks":)" + inks + R"(,"colours":)" + colours + R"(,"paints":)" + paints +
         R"(,"objects":)" + objects + more + "}";
}

std::unique_ptr<jobstr> loadJob(const std::string& text, const std::filesystem::path& folder) {
  return TavKernel::loadJobFromMemory(text, folder, "test.json");
}

std::string plainJobText() {
  return jobText(kStandardInks,
                 R"([{"id":20,"inks":{"Cyan":100,"Magenta":40}},{"id":21,"inks":{"Orange":100}},)"
                 R"({"id":22,"inks":{"Green":50,"Black":20}}])",
                 R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
                 R"({"id":32,"type":"flat","colour":22}])",
                 "[" R"({"kind":"layer","name":"Art","objects":[)" + square(720, 720, 2880, 30) + "," +
                     square(3600, 3600, 2880, 31) + "," + square(720, 3600, 2880, 32) + "]}]");
}

}  // namespace drivertest

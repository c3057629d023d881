#include "driver_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "settings/settings_access.h"
#include "support/consumers.h"
#include "support/setting_overrides.h"

namespace drivertest {

std::string square(int v, int h, int side, int paint, const std::string& extra) {
  const auto pt = [](int a, int b) { return "[" + std::to_string(a) + "," + std::to_string(b) + "]"; };
  return R"({"kind":"path","paint":)" + std::to_string(paint) + R"(,"points":[)" + pt(v, h) + "," +
         pt(v, h + side) + "," + pt(v + side, h + side) + "," + pt(v + side, h) + "]" + extra + "}";
}

std::string jobText(const std::string& inks, const std::string& colours, const std::string& paints,
                    const std::string& objects, const std::string& more) {
  return R"({"format":"tavpdf-job","name":"Driver test","ppi":720,"origin":[7200,0],)"
         R"("boxes":{"media":[0,0,7200,7200],"trim":[720,720,6480,6480],"art":[720,720,6480,6480]},)"
         R"("inks":)" + inks + R"(,"colours":)" + colours + R"(,"paints":)" + paints +
         R"(,"objects":)" + objects + more + "}";
}

std::string placedJob(const std::string& inks, const std::string& picture, const std::string& colours,
                      const std::string& paints, const std::string& objects) {
  return jobText(inks, "[" + (colours.empty() ? "" : colours.substr(1)) + "]",
                 R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],)"
                 R"("widthCorner":[720,1720],"heightCorner":[1720,720]}})" + paints + "]",
                 "[" + square(720, 720, 1000, 30) + objects + "]",
                 R"(,"pictures":[{"id":1,)" + picture + "}]");
}

std::unique_ptr<jobstr> loadJob(const std::string& text, const std::filesystem::path& folder) {
  return TavKernel::loadJobFromMemory(text, folder, "test.json");
}

std::string colouredSquares(const std::string& inks, const std::vector<std::string>& colourInks,
                            const std::string& paintExtra, const std::string& more) {
  std::string colours = "[", paints = "[", objects = "[";
  for (std::size_t i = 0; i < colourInks.size(); ++i) {
    const std::string sep = i ? "," : "";
    const int n = static_cast<int>(i);
    colours += sep + R"({"id":)" + std::to_string(20 + n) + R"(,"inks":)" + colourInks[i] + "}";
    paints += sep + R"({"id":)" + std::to_string(30 + n) + R"(,"type":"flat","colour":)" +
              std::to_string(20 + n) + paintExtra + "}";
    objects += sep + square(720 + n * 1000, 720, 900, 30 + n);
  }
  return jobText(inks, colours + "]", paints + "]", objects + "]", more);
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

int ExportRun::count(const std::string& key) const {
  return static_cast<int>(
      std::count_if(messages.begin(), messages.end(), [&](const TavGen::Message& m) { return m.key == key; }));
}

const TavGen::Message& ExportRun::message(const std::string& key) const {
  for (const auto& m : messages)
    if (m.key == key) return m;
  throw std::runtime_error("no message " + key + " among " + keys());
}

std::string ExportRun::keys() const {
  std::string s;
  for (const auto& m : messages) s += "[" + std::to_string(m.severity) + " " + m.key + "] ";
  return s;
}

PDFSettings flavour(const std::string& name, const std::string& overrides) {
  const auto space = name.find(' ');
  PDFSettings s = TavPDF::SettingsForFlavour(name.substr(0, space));
  tavtest::applySettings(s, (space == std::string::npos ? "" : name.substr(space)) + " " + overrides);
  s.VerifyCompatibility();
  return s;
}

ExportRun exportJob(jobstr* job, PDFSettings settings, const std::filesystem::path& target, bool force) {
  ExportRun run;
  TavGen::MessageCapture capture;
  MarksSettings marks;
  TavSys::FileSpec targetFile(target);
  run.result = OutputPDFDocument(job, settings, marks, true, force, nullptr, targetFile, {}, nullptr);
  run.messages = capture.messages();
  return run;
}

ExportRun exportAccepted(jobstr* job, const PDFSettings& settings, const std::filesystem::path& target) {
  ExportRun run = exportJob(job, settings, target);
  EXPECT_EQ(run.result, 0) << run.keys();
  if (run.result == 0) {
    tavtest::expectPdfAcceptedByAllConsumers(target);
    tavtest::expectContentStreamsSound(target);
  }
  return run;
}

}  // namespace drivertest

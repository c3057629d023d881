#include "export_support.h"

#include <algorithm>
#include <stdexcept>

#include "settings/settings_access.h"
#include "support/consumers.h"

namespace drivertest {

bool ExportRun::has(const std::string& key) const {
  return std::any_of(messages.begin(), messages.end(), [&](const TavGen::Message& m) { return m.key == key; });
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

PDFSettings flavour(const std::string& name) {
  PDFSettings s = TavPDF::SettingsForFlavour(name);
  s.VerifyCompatibility();
  return s;
}

ExportRun exportJob(jobstr* job, PDFSettings settings, const std::filesystem::path& target, bool force) {
  ExportRun run;
  TavGen::MessageCapture capture;
  MarksSettings marks;
  TavSys::FileSpec spec(target);
  run.result = OutputPDFDocument(job, settings, marks, true, force, nullptr, spec, {}, nullptr);
  run.messages = capture.messages();
  return run;
}

std::vector<std::string> folderListing(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

SmallDisk::SmallDisk(const std::filesystem::path& where, int kilobytes) : path_(where) {
  std::filesystem::create_directories(path_);
  const auto r = tavtest::runProcess({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(kilobytes) + "k",
                                      "tmpfs", path_.string()});
  mounted_ = r.started && r.exitCode == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) tavtest::runProcess({"umount", path_.string()});
}

bool SmallDisk::makeReadOnly() {
  const auto r = tavtest::runProcess({"mount", "-o", "remount,ro", path_.string()});
  return r.started && r.exitCode == 0;
}

}  // namespace drivertest

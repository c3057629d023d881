// The output of a command must never be one of its inputs: writing it would
// replace the job (or a file the job places) by the output.
#include <filesystem>
#include <set>

#include "cli/command.h"
#include "platform/kernel/job.h"

namespace tavcli {

namespace fs = std::filesystem;

namespace {

void collectJobFiles(const jobstr& job, std::set<const jobstr*>& seen, std::vector<fs::path>& files) {
  if (!seen.insert(&job).second) return;  // a one-up placed many times
  if (!job.originalFile.empty()) files.emplace_back(job.originalFile.getFullPathAsUtf8());
  for (const Picture& picture : job.pictures) {
    if (!picture.exists) continue;
    if (!picture.file.empty()) files.emplace_back(picture.file.getFullPathAsUtf8());
    if (picture.job) collectJobFiles(*picture.job, seen, files);
  }
  for (const PictureMap& map : job.maps) {
    if (!map.exists) continue;
    for (const TavSys::filref& file : map.files)
      if (!file.empty()) files.emplace_back(file.getFullPathAsUtf8());
  }
}

}  // namespace

std::vector<fs::path> jobInputFiles(const jobstr& job) {
  std::set<const jobstr*> seen;
  std::vector<fs::path> files;
  collectJobFiles(job, seen, files);
  return files;
}

bool outputIsAnInput(const std::string& output, const std::vector<fs::path>& inputs) {
  for (const fs::path& input : inputs) {
    std::error_code ec;
    // The same file by any name: a link, a hard link or another spelling.
    if (fs::equivalent(output, input, ec) && !ec) {
      badInput("the output \"" + output + "\" is the input file \"" + input.string() +
               "\"; nothing was written");
      return true;
    }
  }
  return false;
}

}  // namespace tavcli

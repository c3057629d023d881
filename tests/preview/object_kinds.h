#pragma once
// Jobs of one object kind each, for the renderer's checks against what the
// consumers make of the exported page.
#include <filesystem>
#include <string>
#include <vector>

namespace previewtest {

struct KindJob {
  std::string name;
  std::string text;  // the job file
};

// Writes the pictures the jobs place into `folder` and returns the jobs
// (720 units per inch, a 10 x 10 inch page; see drivertest::jobText).
std::vector<KindJob> objectKindJobs(const std::filesystem::path& folder);

}  // namespace previewtest

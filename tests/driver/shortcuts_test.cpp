// The page writer's shortcuts (a paint's colour space kept while it repeats,
// paths written without a copy when they need no split) and the job load while
// the text streams change nothing in the output: every job exports to the same
// bytes with them and without, and every file written is one that readers
// accept.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "driver_support.h"
#include "pagewriter/genproof.h"
#include "platform/kernel/jobfile.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {

// A polygon of n corners around (v, h), as a path's points.
std::string polygon(int v, int h, int n) {
  std::string points;
  for (int i = 0; i < n; ++i) {
    points += (i ? ",[" : "[") + std::to_string(v + (i % 2) * 300 + i * 40) + "," +
              std::to_string(h + (i % 3) * 200) + "]";
  }
  return points;
}

// Paints that repeat, alternate and return; an open path, a long path that
// the point limit splits, centred and inside strokes, process and spot inks.
std::string mixedJob() {
  const std::string colours =
      R"([{"id":20,"inks":{"Cyan":100,"Magenta":40}},{"id":21,"inks":{"Orange":100}},)"
      R"({"id":22,"inks":{"Green":50,"Black":20}},{"id":23,"inks":{"Cyan":0,"Yellow":70}}])";
  const std::string paints =
      R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21},)"
      R"({"id":32,"type":"flat","colour":22},{"id":33,"type":"flat","colour":23}])";
  std::string objects = R"([{"kind":"layer","name":"Art","objects":[)";
  const int order[] = {30, 30, 31, 30, 32, 32, 33, 31, 31, 30};
  for (int i = 0; i < 10; ++i) objects += square(720 + i * 500, 720, 400, order[i]) + ",";
  objects += R"({"kind":"path","paint":31,"closed":false,"points":[[900,3000],[1500,3600],[2100,3000]],)"
             R"("stroke":{"width":20,"paint":32}},)";
  objects += R"({"kind":"path","paint":30,"points":[)" + polygon(1000, 4000, 40) + "]},";
  objects += square(4000, 4000, 900, 33, R"(,"stroke":{"width":40,"paint":30,"position":"inside"})") + ",";
  objects += square(5200, 4000, 900, 32, R"(,"stroke":{"width":30,"paint":31})") + "]}]";
  return jobText(kStandardInks, colours, paints, objects);
}

// The export's result and the file it wrote (empty when none). Some examples
// ask for what cannot be written yet; they must fail alike both ways, and
// with a message: never a damaged file reported as written.
std::pair<int, std::string> exportBytes(const fs::path& jobFile, const PDFSettings& settings,
                                        const fs::path& target) {
  std::error_code ec;
  fs::remove(target, ec);
  auto job = loadJob(tavtest::readFile(jobFile), jobFile.parent_path());
  const ExportRun run = exportJob(job.get(), settings, target, true);
  EXPECT_TRUE(run.result == 0 || !run.messages.empty()) << jobFile << " failed without a message";
  return {run.result, fs::exists(target) ? tavtest::readFile(target) : std::string()};
}

}  // namespace

TEST(WriterShortcuts, EveryExampleAndAMixedJobExportTheSameBytesWithoutThem) {
  tavtest::TestFolder dir;
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  const fs::path mixed = dir / "mixed.json";
  tavtest::writeFile(mixed, mixedJob());
  std::vector<fs::path> jobs{mixed};
  for (const auto& entry : fs::recursive_directory_iterator(tavtest::sourceDir() / "examples")) {
    if (entry.path().extension() == ".json") jobs.push_back(entry.path());
  }
  const PDFSettings settings[] = {flavour("Press", "MaxPathSize=16"), flavour("Separated"),
                                  flavour("Press", "CompressPages=0")};
  int written = 0;
  for (const fs::path& job : jobs) {
    for (const PDFSettings& s : settings) {
      genproof::SetWriterShortcuts(true);
      const auto fast = exportBytes(job, s, dir / "fast.pdf");
      genproof::SetWriterShortcuts(false);
      TavKernel::setJobStreaming(false);
      const auto slow = exportBytes(job, s, dir / "slow.pdf");
      TavKernel::setJobStreaming(true);
      genproof::SetWriterShortcuts(true);
      EXPECT_EQ(fast.first, slow.first) << job;
      EXPECT_TRUE(fast.second == slow.second) << job << " differs with flavour " << s.Flavour;
      if (fast.first != 0) continue;
      ++written;
      // Every file written is one that readers accept.
      SCOPED_TRACE(job.string() + " with flavour " + std::to_string(s.Flavour));
      tavtest::expectPdfAcceptedByAllConsumers(dir / "fast.pdf");
      tavtest::expectContentStreamsSound(dir / "fast.pdf");
    }
  }
  // The mixed job in every flavour and most examples are written.
  EXPECT_GE(written, static_cast<int>(jobs.size()));
  ::unsetenv("SOURCE_DATE_EPOCH");
}

// Ink coverage in the edit log of a certified export: each separation's line
// starts with its share of the page, as Ghostscript's plates measure it.
#include <gtest/gtest.h>

#include <regex>

#include "driver_support.h"
#include "object_kinds.h"
#include "platform/kernel/inkcoverage.h"
#include "platform/kernel/job.h"
#include "preview_support.h"

namespace {

const char* kCertified = R"(,"certified":{"creator":"Editor 9","creationDate":1600000000})";

// The separation lines of the edit log: ink name -> percentage, or -1 when
// the line has none.
std::map<std::string, int> separationLines(const jobstr& job) {
  std::map<std::string, int> lines;
  const std::regex withShare(R"(^([ 0-9]{3})% \* .* [ 0-9]{2}: (.*)$)"), plain(R"(^\* .* [ 0-9]{2}: (.*)$)");
  for (const EditEntry& e : job.editHistory.entries()) {
    if (e.code != 51) continue;
    std::smatch m;
    if (std::regex_match(e.text, m, withShare)) {
      lines[m[2]] = std::stoi(m[1]);
    } else if (std::regex_match(e.text, m, plain)) {
      lines[m[1]] = -1;
    } else {
      ADD_FAILURE() << "unexpected edit-log line: " << e.text;
    }
  }
  return lines;
}

TEST(InkCoverage, EditLogLinesCarryEachInksShareOfThePage) {
  tavtest::TestFolder dir;
  auto kinds = previewtest::objectKindJobs(dir.path());
  for (const previewtest::KindJob& k : {kinds[0], kinds[3], kinds[6], kinds[10]}) {
    SCOPED_TRACE(k.name);
    const std::string text = k.text.substr(0, k.text.size() - 1) + kCertified + "}";
    for (bool measured : {false, true}) {
      auto job = drivertest::loadJob(text, dir.path());
      const auto pdf = dir / "certified.pdf";
      drivertest::exportAccepted(job.get(), drivertest::flavour("Press", measured ? "CertifyInkCoverage=1" : ""), pdf);
      const auto lines = separationLines(*job);
      ASSERT_FALSE(lines.empty());
      if (!measured) {
        for (const auto& [ink, share] : lines) EXPECT_EQ(share, -1) << ink;
        continue;
      }
      const tavtest::Plates plates = tavtest::measurePlates(pdf, 1, getInkResolution(job.get()));
      for (const auto& [ink, share] : lines) {
        const std::string plate = previewtest::plateName(*job, TavricLib::FindSeparation(job.get(), ink));
        const double expected = plates.coverage.count(plate) ? plates.coverage.at(plate) * 100 : 0;
        EXPECT_NEAR(share, expected, 1.0) << ink << "; " << plates.summary();
      }
    }
  }
}

}  // namespace

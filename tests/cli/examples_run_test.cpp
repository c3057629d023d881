// scripts/run-examples as the quick start runs it: every line it prints is
// one the README prepares a newcomer for.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

// example (file name without .json), export (flavour or "JDF"), message key
using Refusal = std::tuple<std::string, std::string, std::string>;

// The refusals the README's table documents.
std::set<Refusal> documentedRefusals(const std::string& readme) {
  std::set<Refusal> table;
  const std::regex row(R"re(^\| `([^`]+)\.json` \| (\w+) \| "([A-Z0-9 /.]+)" \|)re");
  std::istringstream lines(readme);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, row)) table.emplace(m[1], m[2], m[3]);
  }
  return table;
}

}  // namespace

// The run ends well; what it refuses is exactly what the README's table says
// (example, export and message); no error, failure, skipped or "not
// exported" line is printed that the README does not prepare for.
TEST(ExamplesRun, PrintsOnlyDocumentedRefusals) {
  const std::string readme = tavtest::readFile(tavtest::sourceDir() / "README.md");
  const std::set<Refusal> documented = documentedRefusals(readme);
  ASSERT_FALSE(documented.empty()) << "the README has no table of refusals";
  tavtest::TestFolder dir;
  const auto run = tavtest::runProcess(
      {"bash", (tavtest::sourceDir() / "scripts" / "run-examples").string(), tavtest::tavpdfBinary().string(),
       (dir / "out").string()},
      std::chrono::seconds(900));
  ASSERT_EQ(run.exitCode, 0) << run.describe();

  std::set<Refusal> refused;
  const std::regex refusedLine(R"(^refused: ([\w-]+) (?:under (\w+)|as (JDF)): ([A-Z0-9 /.]+): )");
  std::istringstream out(run.out + "\n" + run.err);
  for (std::string line; std::getline(out, line);) {
    std::smatch m;
    if (std::regex_search(line, m, refusedLine)) {
      refused.emplace(m[1], m[2].matched ? m[2].str() : m[3].str(), m[4]);
      continue;
    }
    for (const char* unexpected : {"error:", "failure:", "skipped:", "not exported:", "tavpdf:"})
      EXPECT_NE(line.rfind(unexpected, 0), 0u) << "a line the README does not prepare for: " << line;
  }
  EXPECT_EQ(refused, documented);
  // Every refusal names what causes it: the file and its place in a job file.
  EXPECT_THAT(run.out, ::testing::HasSubstr("\"logo.eps\", placed by the path \"logo\" ("));
  EXPECT_THAT(run.out, ::testing::HasSubstr("front-panel.json: /objects/2)"));
}

// tavpdf check as a user runs it: exit status, what it prints, and that a bad
// job leaves the folder as it was.
#include <gtest/gtest.h>

#include <set>

#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> listing(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    out.insert(e.path().lexically_relative(dir).string() + ":" +
               (e.is_regular_file() ? std::to_string(e.file_size()) : std::string("dir")));
  return out;
}

tavtest::ProcessResult tavpdf(std::vector<std::string> args, const fs::path& cwd = {}) {
  args.insert(args.begin(), tavtest::tavpdfBinary().string());
  return tavtest::runProcess(args, std::chrono::seconds(60), cwd);
}

}  // namespace

TEST(CheckCommand, ExamplesPassWithASummary) {
  const fs::path examples = tavtest::sourceDir() / "examples";
  auto r = tavpdf({"check", (examples / "label.json").string(), (examples / "carton.json").string()});
  ASSERT_TRUE(r.started) << r.describe();
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("2540 ppi"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("inks: 8"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("4 PANTONE 185 C (spot)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Varnish (spot, varnish)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0 Cyan (process cyan)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("trim [1000 1000 6000 9000]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("3 layers, 0 groups, 1 compound paths, 8 paths"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("one-up "), std::string::npos) << r.out;
}

TEST(CheckCommand, BadJobsExitTwoWithTheirPlaceAndWriteNothing) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "bad.json", R"({"ppi": 720, "objects": [{"kind": "path", "paint": 5, "points": [[0, 0]]}]})");
  tavtest::writeFile(dir / "good.json", R"({"ppi": 720})");
  tavtest::writeFile(dir / "broken.json", "{\"ppi\": ");
  const auto before = listing(dir.path());

  auto r = tavpdf({"check", "bad.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "error: JOB/BAD JOB FILE: The job file cannot be used: bad.json: /objects/0/paint: no paint with id 5\n");

  r = tavpdf({"check", "broken.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_NE(r.err.find("broken.json: /: not valid JSON"), std::string::npos) << r.err;

  r = tavpdf({"check", "missing.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_NE(r.err.find("JOB/CANNOT READ JOB FILE"), std::string::npos) << r.err;

  // Every file is checked; one bad file makes the whole run fail.
  r = tavpdf({"check", "good.json", "bad.json", "good.json"}, dir.path());
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  EXPECT_EQ(r.out.find("good.json"), 0u) << r.out;
  EXPECT_NE(r.out.rfind("good.json"), 0u) << "the file after the bad one is checked too";

  EXPECT_EQ(listing(dir.path()), before);
}

TEST(CheckCommand, CommandLineErrorsExitTwo) {
  auto r = tavpdf({"check"});
  EXPECT_EQ(r.exitCode, 2) << r.describe();
  r = tavpdf({"check", "--help"});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_NE(r.out.find("jobs"), std::string::npos) << r.out;
}

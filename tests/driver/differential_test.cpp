// The differential run: generated jobs of every object kind, exported under
// every flavour with random settings by the command-line program onto an
// existing target. An export that succeeds must give files that qpdf
// --check, Ghostscript (-dPDFSTOPONERROR) and mutool accept, without a
// message of severity failure; one that fails must say why (a message with
// its key) and leave the target as it was; none may crash, report a
// sanitizer finding or leave a file behind.
//
// Each seed is a test of its own (so that ctest runs them side by side). A
// failure names the seed, the flavour and the settings; the job is made
// again by generateJob(seed). TAV_DIFF_SEEDS=FIRST-LAST runs other seeds
// (e.g. a longer campaign) in place of the built-in ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "generated_jobs.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFlavours = {"Custom",    "Press",              "Viewing", "Reader", "Normalized",
                                            "Separated", "NormalizedEmbedded", "Vistamo", "JDF"};

// The assets, written once for the whole program, removed at its end.
const fs::path& assets() {
  static tavtest::TestFolder* folder = [] {
    auto* f = new tavtest::TestFolder();
    difftest::writeAssets(f->path() / "assets");
    std::atexit([] { delete folder; });
    return f;
  }();
  return folder->path();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Runs one seed under every flavour; every fault goes to `faults`.
void runSeed(std::uint64_t seed, std::vector<std::string>& faults) {
  tavtest::TestFolder dir;
  fs::create_directory_symlink(assets() / "assets", dir / "assets");
  fs::create_directory(dir / "tmp");
  tavtest::writeFile(dir / "job.json", difftest::generateJob(seed, "assets"));
  for (std::size_t f = 0; f < kFlavours.size(); ++f) {
    const std::string& flavour = kFlavours[f];
    const std::vector<std::string> sets = difftest::generateOverrides(seed, int(f), "assets");
    std::string tag = "seed " + std::to_string(seed) + " " + flavour + " [";
    for (const std::string& s : sets) tag += " " + s;
    tag += " ]";
    const bool jdf = flavour == "JDF";
    const fs::path out = jdf ? dir / "jdf" / "t.jdf" : dir / "out.pdf";
    fs::create_directories(out.parent_path());
    const std::string sentinel = "SENTINEL " + tag;
    tavtest::writeFile(out, sentinel);
    const std::vector<std::string> before = tavtest::folderListing(dir.path());
    std::vector<std::string> args = {"env", "TMPDIR=" + (dir / "tmp").string(), tavtest::tavpdfBinary().string(),
                                     "export", "job.json", "-o", out.lexically_relative(dir.path()).string(),
                                     "--flavour", flavour};
    for (const std::string& s : sets) args.insert(args.end(), {"--set", s});
    const tavtest::ProcessResult r = tavtest::runProcess(args, std::chrono::seconds(300), dir.path());
    const auto fault = [&](const std::string& what) { faults.push_back(tag + ": " + what + "\n" + r.describe()); };
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != std::string::npos) {
      fault("a sanitizer finding");
    }
    if (r.exitCode == 0) {
      if (tavtest::readFile(out) == sentinel) fault("exit 0 left the target as it was");
      for (const std::string& line : lines(r.err)) {
        if (line.starts_with("failure: ")) fault("exit 0 after a failure: " + line);
      }
      std::vector<fs::path> pdfs;
      if (jdf) {
        const tavtest::ProcessResult xml = tavtest::runProcess({"xmllint", "--noout", out.string()});
        if (xml.exitCode != 0) fault("the ticket is no XML document: " + xml.err);
        for (const std::string& line : lines(r.out)) {
          if (line.ends_with(".pdf")) pdfs.push_back(fs::path(line).is_absolute() ? fs::path(line) : dir / line);
        }
      } else {
        pdfs.push_back(out);
      }
      for (const fs::path& pdf : pdfs) {
        const ::testing::AssertionResult accepted = tavtest::acceptedByAllConsumers(pdf);
        if (!accepted) fault(pdf.filename().string() + " is rejected: " + accepted.message());
      }
      // What the run wrote goes, so that the next flavour starts clean.
      fs::remove_all(dir / "jdf");
      fs::remove(dir / "out.pdf");
    } else if (r.exitCode == 1) {
      // "severity: KEY: text", the key not "-".
      bool told = false;
      for (const std::string& line : lines(r.err)) {
        const std::size_t start = line.starts_with("failure: ") ? 9 : line.starts_with("error: ") ? 7 : 0;
        const std::size_t end = start == 0 ? std::string::npos : line.find(": ", start);
        told = told || (end != std::string::npos && end > start && line.substr(start, end - start) != "-");
      }
      if (!told) fault("exit 1 without a message that has its key");
      if (tavtest::readFile(out) != sentinel) fault("a failed export replaced the target");
      if (tavtest::folderListing(dir.path()) != before) fault("a failed export changed the folder");
      fs::remove_all(dir / "jdf");
      fs::remove(dir / "out.pdf");
    } else {
      fault("exit " + std::to_string(r.exitCode));
    }
    for (const std::string& left : tavtest::folderListing(dir / "tmp")) fault("left in TMPDIR: " + left);
    fs::remove_all(dir / "tmp");
    fs::create_directory(dir / "tmp");
  }
}

// The built-in seeds: fewer where the sanitizers slow every export down.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kSeeds = 16;
#else
constexpr int kSeeds = 48;
#endif

class Differential : public ::testing::TestWithParam<int> {};

TEST_P(Differential, GeneratedJobsExportUnderEveryFlavour) {
  std::vector<std::uint64_t> seeds{std::uint64_t(GetParam())};
  if (const char* range = std::getenv("TAV_DIFF_SEEDS")) {
    // FIRST-LAST, shared out over the test's instances by their number.
    unsigned long long first = 0, last = 0;
    if (std::sscanf(range, "%llu-%llu", &first, &last) != 2 || last < first) GTEST_SKIP() << "TAV_DIFF_SEEDS: FIRST-LAST";
    seeds.clear();
    for (unsigned long long s = first + unsigned(GetParam() - 1); s <= last; s += kSeeds) seeds.push_back(s);
  }
  for (const std::uint64_t seed : seeds) {
    std::vector<std::string> faults;
    runSeed(seed, faults);
    for (const std::string& f : faults) ADD_FAILURE() << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Differential, ::testing::Range(1, kSeeds + 1));

}  // namespace

#pragma once
// Test support: runs the real PDF consumers (qpdf, Ghostscript, mutool) over
// the files the tests write, measures each ink's plate through Ghostscript's
// separation output, and checks content streams with qpdf's parser.
//
// Typical use in a test:
//
//   tavtest::TestFolder dir;
//   const auto pdf = dir.path() / "out.pdf";
//   ... write pdf ...
//   tavtest::expectPdfAcceptedByAllConsumers(pdf);
//   tavtest::expectContentStreamsSound(pdf);
//   const auto plates = tavtest::measurePlates(pdf);        // page 1, 72 ppi
//   EXPECT_NEAR(plates.coverage.at("PANTONE 185 C"), 0.25, 0.01);
//   EXPECT_EQ(plates.inkAtPoint("Cyan", 50, 50), 0.5);       // points from lower left
//
// The consumers are required tools (scripts/bootstrap installs them): a tool
// that is missing makes the checks fail, never pass silently.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "support/content_check.h"

namespace tavtest {

// ---------------------------------------------------------------- processes

struct ProcessResult {
  bool started = false;   // false: the program could not be run at all (see output)
  bool timedOut = false;  // killed after the timeout
  bool signaled = false;  // ended by a signal (exitCode is then 128 + signal)
  int exitCode = -1;
  std::string out;  // everything written to stdout
  std::string err;  // everything written to stderr
  // One readable block: command line, status, stdout and stderr.
  std::string describe() const;
  std::string commandLine;  // for messages only; arguments are never re-parsed
};

// Runs argv[0] (looked up in PATH when it has no slash) with the given
// arguments, passed as they are: no shell is involved, so spaces, quotes and
// parentheses in paths need no quoting. Stdin is /dev/null. Past `timeout` the
// process (and its process group) is killed. `cwd` empty = current folder.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(120),
                         const std::filesystem::path& cwd = {});

// ---------------------------------------------------------------- consumers

// The verdict of one consumer on one file.
struct ConsumerResult {
  std::string tool;       // "qpdf --check", "ghostscript", "mutool"
  bool ok = false;        // accepted: clean exit and no complaint in its output
  std::string problems;   // the lines that made it fail (empty when ok)
  std::string output;     // the full transcript of the tool run(s)
};

// `qpdf --check`: ok when it exits 0 and reports no warning.
ConsumerResult qpdfCheck(const std::filesystem::path& pdf);
// Ghostscript on the nullpage device with -dPDFSTOPONERROR. It exits 0 on
// files it had to repair, so any error, warning or repair note in its output
// is taken as failure as well.
ConsumerResult ghostscriptRender(const std::filesystem::path& pdf);
// `mutool info` and `mutool draw` of every page. mutool exits 0 after
// repairing a file; every line on stderr other than its build's "ICC support
// is not available" notice is taken as failure. A page naming more than 28
// spot inks is drawn without overprint simulation, which holds only 32
// colorants a page in this mutool.
ConsumerResult mutoolCheck(const std::filesystem::path& pdf);

// All three consumers; the failure message holds each failing tool's problems
// and transcript.
::testing::AssertionResult acceptedByAllConsumers(const std::filesystem::path& pdf);
// The gtest check every test uses on every PDF it writes (a non-fatal failure
// reported at the caller's line).
void expectPdfAcceptedByAllConsumers(
    const std::filesystem::path& pdf, std::source_location where = std::source_location::current());

// ---------------------------------------------------------------- content streams

// contentStreamProblems (support/content_check.h) as a gtest verdict.
::testing::AssertionResult contentStreamsSound(const std::filesystem::path& pdf);
void expectContentStreamsSound(const std::filesystem::path& pdf,
                               std::source_location where = std::source_location::current());

// ---------------------------------------------------------------- plates

// One ink's plate as Ghostscript's separation device renders it: 8-bit,
// 0 = full ink, 255 = no ink, rows from the top of the page.
struct Plate {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> samples;  // width * height
  // Mean ink fraction over the page, 0..1.
  double coverage() const;
  // Ink fraction 0..1 at a pixel (x right, y down from the top-left corner).
  // Throws std::out_of_range outside the plate.
  double inkAtPixel(int x, int y) const;
};

struct Plates {
  double resolution = 72;       // pixels per inch of the rendering
  std::map<std::string, Plate> plates;       // by ink name ("Cyan", "PANTONE 185 C")
  std::map<std::string, double> coverage;    // by ink name, mean ink fraction 0..1
  // Ink fraction 0..1 of `ink` at a point given in PDF points from the lower
  // left corner of the rendered (media) box. Throws std::out_of_range for an
  // unknown ink (the message lists the inks there are) or a point outside.
  double inkAtPoint(const std::string& ink, double xPt, double yPt) const;
  double inkAtPixel(const std::string& ink, int x, int y) const;
  const Plate& plate(const std::string& ink) const;
  // "Cyan 12.5 %, Magenta 0 %, ..." for failure messages.
  std::string summary() const;
};

// Renders one page (1-based) with Ghostscript's tiffsep device at `resolution`
// ppi into a temporary folder (removed afterwards) and reads every ink's plate
// (process inks and up to 60 spot inks; the composite image is not a plate).
// Throws std::runtime_error with Ghostscript's transcript when rendering fails
// or produces no plate.
Plates measurePlates(const std::filesystem::path& pdf, int page = 1, double resolution = 72);

// The 1-based page of a separated file that carries the ink's plate (its
// SeparationInfo names the ink); a test failure and page 1 when none does.
int separationPage(const std::filesystem::path& pdf, const std::string& ink);

// ---------------------------------------------------------------- files

// A fresh folder for one test, named after the running test, removed with its
// contents on destruction (set TAV_KEEP_TEST_FILES=1 to keep it for a look).
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Whole file as bytes; throws std::runtime_error when it cannot be read.
std::string readFile(const std::filesystem::path& file);
// Writes (replaces) a file; throws std::runtime_error on failure.
void writeFile(const std::filesystem::path& file, std::string_view bytes);
// The repository's source folder and the built command-line program.
std::filesystem::path sourceDir();
std::filesystem::path tavpdfBinary();
// Runs the built tavpdf with the arguments (see runProcess), in `cwd` when given.
ProcessResult runTavpdf(const std::vector<std::string>& args, const std::filesystem::path& cwd = {});
// Every file and folder below `dir` with its size ("a/b.pdf:1234", "a:dir"),
// to show that a command left a folder as it was.
std::vector<std::string> folderListing(const std::filesystem::path& dir);

// Opens the reason of a test that skips because a Debian package is missing,
// followed by the package's name: GTEST_SKIP() << kMissingPackage << "locales".
// scripts/check-skips fails the test run on such a skip (bootstrap should have
// installed the package); a skip for any other reason is only listed.
inline constexpr std::string_view kMissingPackage = "missing Debian package ";

}  // namespace tavtest

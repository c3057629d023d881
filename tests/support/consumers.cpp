// The three PDF consumers and their verdicts. Ghostscript and mutool both
// exit 0 on files they had to repair, so their transcripts are read as well.
#include "support/consumers.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <set>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tavtest {
namespace fs = std::filesystem;
namespace {

// Tool timeouts: generous, a slow sanitizer machine runs many tests at once.
constexpr std::chrono::seconds kToolTimeout{180};

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
    start = end + 1;
  }
  return out;
}

// Whether the text holds one of the (lower-case) words, in any case.
bool containsAny(std::string text, std::initializer_list<std::string_view> words) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::any_of(words.begin(), words.end(), [&](std::string_view w) { return text.find(w) != std::string::npos; });
}

// Consumers get an absolute path, so a relative name starting with '-' can
// never be read as an option.
std::string toolPath(const fs::path& pdf) { return fs::absolute(pdf).string(); }

// Starts the verdict of `tool`; false for a file that is not there at all
// (the tools' own messages about that differ and some exit 0).
bool fileThere(const fs::path& pdf, ConsumerResult& result, const char* tool) {
  result.tool = tool;
  std::error_code ec;
  if (fs::is_regular_file(pdf, ec)) return true;
  result.problems = "no such file: " + pdf.string();
  return false;
}

// A line of a transcript without the file's own path, which may well contain
// words such as "error" that are no complaint of the tool's.
std::string withoutPath(std::string line, const std::string& path) {
  for (std::size_t at; !path.empty() && (at = line.find(path)) != std::string::npos;) line.erase(at, path.size());
  return line;
}

void addProblem(ConsumerResult& result, const std::string& line) {
  result.problems += line;
  result.problems += '\n';
}

void judgeStatus(ConsumerResult& result, const ProcessResult& run) {
  if (!run.started) {
    addProblem(result, run.err);
  } else if (run.timedOut) {
    addProblem(result, "timed out");
  } else if (run.exitCode != 0) {
    addProblem(result, "exit code " + std::to_string(run.exitCode));
  }
}

}  // namespace

ConsumerResult qpdfCheck(const fs::path& pdf) {
  ConsumerResult result;
  if (!fileThere(pdf, result, "qpdf --check")) return result;
  const auto path = toolPath(pdf);
  const auto run = runProcess({"qpdf", "--check", path}, kToolTimeout);
  result.output = run.describe();
  judgeStatus(result, run);
  // qpdf exits 3 after warnings; the lines are checked too, in case a
  // damaged file ever gets through with status 0.
  for (const auto& line : lines(run.out + run.err)) {
    const auto text = withoutPath(line, path);
    if (text.find("WARNING") != std::string::npos || text.find("ERROR") != std::string::npos)
      addProblem(result, line);
  }
  result.ok = result.problems.empty();
  return result;
}

ConsumerResult ghostscriptRender(const fs::path& pdf) {
  ConsumerResult result;
  if (!fileThere(pdf, result, "ghostscript")) return result;
  // Not -q: that also silences the notes about repaired files.
  const auto path = toolPath(pdf);
  const auto run = runProcess({"gs", "-dPDFSTOPONERROR", "-dBATCH", "-dNOPAUSE", "-dSAFER",
                               "-sDEVICE=nullpage", path},
                              kToolTimeout);
  result.output = run.describe();
  judgeStatus(result, run);
  bool pages = false;
  for (const auto& line : lines(run.out + run.err)) {
    // PostScript XObjects (placed EPS files) are skipped by design: the
    // preview under them is what a viewer draws.
    if (line == "*** WARNING: PostScript XObjects are deprecated (SubType 'PS')") continue;
    // "**** Error: ...", "PDF file was repaired", "encountered more q than Q",
    // "**** This file had errors that were repaired or ignored."
    if (containsAny(withoutPath(line, path), {"error", "warning", "repair", "****", "encountered"}))
      addProblem(result, line);
    pages = pages || line.rfind("Processing pages 1 through ", 0) == 0;
  }
  // Ghostscript runs what is not a PDF (an empty file, PostScript) as a
  // PostScript program and exits 0: only a PDF's pages count.
  if (!pages) addProblem(result, "Ghostscript did not read the file as a PDF with pages");
  result.ok = result.problems.empty();
  return result;
}

namespace {

// mutool's overprint simulation draws a page into one image of at most 32
// colorants: the four process inks and every other colorant named in the
// page's resources (its forms' included). A page naming more spot inks is
// valid PDF that Ghostscript separates, but mutool cannot simulate it.
constexpr std::size_t kMutoolMaxSpots = 28;

void collectSpots(QPDFObjectHandle resources, std::set<std::string>& spots, std::set<QPDFObjGen>& seen, int depth) {
  if (!resources.isDictionary() || depth > 32) return;
  if (resources.isIndirect() && !seen.insert(resources.getObjGen()).second) return;
  auto addSpace = [&](QPDFObjectHandle space) {
    if (!space.isArray() || space.getArrayNItems() < 2) return;
    const std::string family = space.getArrayItem(0).isName() ? space.getArrayItem(0).getName() : "";
    std::vector<QPDFObjectHandle> names;
    if (family == "/Separation") names.push_back(space.getArrayItem(1));
    if (family == "/DeviceN" && space.getArrayItem(1).isArray()) names = space.getArrayItem(1).getArrayAsVector();
    for (auto& name : names) {
      if (!name.isName()) continue;
      const std::string n = name.getName();
      if (n != "/Cyan" && n != "/Magenta" && n != "/Yellow" && n != "/Black" && n != "/All" && n != "/None")
        spots.insert(n);
    }
  };
  auto spaces = resources.getKey("/ColorSpace");
  if (spaces.isDictionary())
    for (auto& [key, space] : spaces.getDictAsMap()) addSpace(space);
  auto shadings = resources.getKey("/Shading");
  if (shadings.isDictionary())
    for (auto& [key, shading] : shadings.getDictAsMap())
      if (shading.isDictionary()) addSpace(shading.getKey("/ColorSpace"));
  auto xobjects = resources.getKey("/XObject");
  if (xobjects.isDictionary())
    for (auto& [key, xobject] : xobjects.getDictAsMap()) {
      if (!xobject.isStream()) continue;
      addSpace(xobject.getDict().getKey("/ColorSpace"));
      collectSpots(xobject.getDict().getKey("/Resources"), spots, seen, depth + 1);
    }
}

// Whether a page names more spot inks than mutool's overprint simulation holds.
bool beyondMutoolSpots(const fs::path& pdf) {
  try {
    QPDF doc;
    doc.setSuppressWarnings(true);
    doc.processFile(pdf.string().c_str());
    for (auto& page : QPDFPageDocumentHelper(doc).getAllPages()) {
      std::set<std::string> spots;
      std::set<QPDFObjGen> seen;
      collectSpots(page.getAttribute("/Resources", false), spots, seen, 0);
      if (spots.size() > kMutoolMaxSpots) return true;
    }
  } catch (const std::exception&) {
    // A file qpdf cannot read is drawn as it is; qpdf's own check says why.
  }
  return false;
}

}  // namespace

ConsumerResult mutoolCheck(const fs::path& pdf) {
  ConsumerResult result;
  if (!fileThere(pdf, result, "mutool")) return result;
  const auto path = toolPath(pdf);
  // Render every page for real; the image itself is thrown away. Pages with
  // more spot inks than the overprint simulation holds are drawn without it.
  std::vector<std::string> draw = {"mutool", "draw", "-q", "-F", "pnm", "-o", "/dev/null", path};
  if (beyondMutoolSpots(pdf)) draw.insert(draw.begin() + 2, {"-O", "0"});
  const std::vector<std::vector<std::string>> commands = {{"mutool", "info", path}, draw};
  for (const auto& command : commands) {
    const auto run = runProcess(command, kToolTimeout);
    result.output += run.describe();
    judgeStatus(result, run);
    bool skippedPostScript = false;
    for (const auto& line : lines(run.err)) {
      if (line.empty()) continue;
      // This build lacks colour management and says so on every run.
      if (line == "warning: ICC support is not available") continue;
      // PostScript XObjects (placed EPS files) are skipped by design, their
      // preview drawn; mutool counts repeats of the notice on a line after it.
      const bool repeat = skippedPostScript && line.rfind("warning: ... repeated ", 0) == 0;
      skippedPostScript = repeat || line == "warning: ignoring XObject with subtype PS";
      if (skippedPostScript) continue;
      addProblem(result, command[1] + ": " + line);
    }
  }
  result.ok = result.problems.empty();
  return result;
}

::testing::AssertionResult contentStreamsSound(const std::filesystem::path& pdf) {
  const auto problems = contentStreamProblems(pdf);
  if (problems.empty()) return ::testing::AssertionSuccess();
  auto failure = ::testing::AssertionFailure();
  failure << "content streams of " << pdf.string() << ":";
  for (const auto& p : problems) failure << "\n  " << p;
  return failure;
}

namespace {
void expectAt(const ::testing::AssertionResult& verdict, const std::source_location& where) {
  if (!verdict) ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << verdict.message();
}
}  // namespace

void expectContentStreamsSound(const std::filesystem::path& pdf, std::source_location where) {
  expectAt(contentStreamsSound(pdf), where);
}

::testing::AssertionResult acceptedByAllConsumers(const fs::path& pdf) {
  std::string failures;
  for (const auto& verdict : {qpdfCheck(pdf), ghostscriptRender(pdf), mutoolCheck(pdf)}) {
    if (verdict.ok) continue;
    failures += "\n=== " + verdict.tool + " rejects " + pdf.string() + ":\n" + verdict.problems;
    if (!verdict.output.empty()) failures += "--- transcript\n" + verdict.output;
  }
  if (failures.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << failures;
}

void expectPdfAcceptedByAllConsumers(const fs::path& pdf, std::source_location where) {
  expectAt(acceptedByAllConsumers(pdf), where);
}

// ---------------------------------------------------------------- files

TestFolder::TestFolder() {
  std::string name = "tavtest";
  if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
    name += std::string("-") + info->test_suite_name() + "." + info->name();
  }
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  }
  std::string pattern = (fs::temp_directory_path() / (name + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a test folder " + pattern);
  path_ = pattern;
}

TestFolder::~TestFolder() {
  const char* keep = std::getenv("TAV_KEEP_TEST_FILES");
  if (keep && *keep && std::string_view(keep) != "0") return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + file.string());
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read " + file.string());
  return std::move(bytes).str();
}

void writeFile(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + file.string());
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

fs::path sourceDir() {
  if (const char* env = std::getenv("TAV_SOURCE_DIR"); env && *env) return env;
  return TAV_SOURCE_DIR;
}

fs::path tavpdfBinary() { return fs::path(TAV_BINARY_DIR) / "src" / "cli" / "tavpdf"; }

ProcessResult runTavpdf(const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv{tavpdfBinary().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProcess(argv, std::chrono::seconds(120), cwd);
}

std::vector<std::string> folderListing(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    out.push_back(e.path().lexically_relative(dir).string() + ":" +
                  (e.is_regular_file() ? std::to_string(e.file_size()) : std::string("dir")));
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace tavtest

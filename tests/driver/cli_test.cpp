// tavpdf export as a user runs it: exit status, messages and files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "driver_support.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using tavtest::runTavpdf;

// The file's name on standard output; the same job and date give the same
// bytes; uncompressed pages leave the content stream readable in the file.
TEST(ExportCommand, WritesTheFileAndTheSameJobAndDateGiveTheSameBytes) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  for (const char* name : {"a.pdf", "b.pdf"}) {
    const auto r = tavtest::runProcess({"env", "SOURCE_DATE_EPOCH=1700000000", tavtest::tavpdfBinary().string(),
                                        "export", (dir / "job.json").string(), "-o", (dir / name).string(),
                                        "--flavour", "Separated", "--set", "CompressPages=0", "--batch"});
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(r.out, (dir / name).string() + "\n");
  }
  const std::string bytes = tavtest::readFile(dir / "a.pdf");
  EXPECT_TRUE(bytes == tavtest::readFile(dir / "b.pdf"));
  EXPECT_NE(bytes.find("D:20231114"), std::string::npos);
  EXPECT_NE(bytes.find(" m\n"), std::string::npos);
}

TEST(ExportCommand, PdfVersionFollowsTheSettingsAndSaysWhenItOverrulesTheUser) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const std::string pdf = (dir / "job.pdf").string();
  // PDF 1.3 alone does not fit unflattened output: 1.4 is written, and said;
  // with flattening asked for it fits, and nothing is said.
  for (const bool flattening : {false, true}) {
    std::vector<std::string> args = {"export", (dir / "job.json").string(), "-o", pdf, "--flavour", "Custom",
                                     "--set", "PDFCompatibility=1"};
    if (flattening) args.insert(args.end(), {"--set", "EnableFlattening=1"});
    const auto r = runTavpdf(args);
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_EQ(tavtest::readFile(pdf).substr(0, 8), flattening ? "%PDF-1.3" : "%PDF-1.4");
    EXPECT_EQ(r.err.find("PDFCompatibility=1 does not fit") != std::string::npos, !flattening) << r.err;
  }
}

TEST(ExportCommand, BadInputExitsTwo) {
  tavtest::TestFolder dir;
  const std::string job = (dir / "job.json").string();
  tavtest::writeFile(job, drivertest::plainJobText());
  // A magnification of 0 is refused with a message, not written as infinite.
  std::string zero = drivertest::plainJobText();
  zero.insert(zero.find(R"("ppi")"), R"("scale":0,)");
  tavtest::writeFile(dir / "zero.json", zero);
  struct Case { std::vector<std::string> args; const char* err; };
  for (const Case& c : {Case{{job, "--flavour", "NoSuchFlavour"}, "PDF/UNKNOWN FLAVOUR"},
                        Case{{job, "--set", "NoSuchField=1"}, "PDF/UNKNOWN SETTING"},
                        Case{{job, "--set", "MaxSize=abc"}, "PDF/BAD SETTING VALUE"},
                        Case{{job, "--flavour-file", (dir / "missing.xml").string()}, "PDF/FLAVOUR FILE UNREADABLE"},
                        Case{{job, "--flavour", "Press", "--flavour-file", job}, "--flavour excludes --flavour-file"},
                        Case{{(dir / "zero.json").string()}, "scale must be greater than 0"}}) {
    std::vector<std::string> args = {"export", "-o", (dir / "bad.pdf").string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = runTavpdf(args);
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "bad.pdf"));
  }
}

// A flavour file is read as it stands; a value that would make a wrong
// page stops the export, which names the setting, and the target stays.
TEST(ExportCommand, FlavourFileValuesOutOfRangeWriteNoPage) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  tavtest::writeFile(dir / "out.pdf", "kept");
  struct Case {
    const char* preference;  // Key, Name, Type and value of one row
    const char* setting;
  };
  const Case cases[] = {
      {R"(Key="DstV" Name="VerticalDistortion" Type="Double">-150)", "VerticalDistortion"},
      {R"(Key="DstH" Name="HorizontalDistortion" Type="Double">100)", "HorizontalDistortion"},
      {R"(Key="Sre2" Name="DownsampleResolution" Type="Long">0)", "DownsampleResolution"},
      {R"(Key="PtSz" Name="MaxPathSize" Type="Long">3)", "MaxPathSize"},
      {R"(Key="CmIm" Name="CompressImages" Type="Long">101)", "CompressImages"},
      {R"(Key="PLnk" Name="LinkType" Type="Long">-1)", "LinkType"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setting);
    tavtest::writeFile(dir / "flavour.xml",
                       std::string(R"(<?xml version="1.0"?><qel.activities Version="1.0">)"
                                   R"(<qel.activity Name="Export PDF" Key="PDFo" Version="2.0"><Preference )") +
                           c.preference + "</Preference></qel.activity></qel.activities>");
    const auto r = runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / "out.pdf").string(),
                              "--flavour-file", (dir / "flavour.xml").string()});
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_NE(r.err.find(std::string("PDF/BAD SETTING VALUE: The value")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("export setting ") + c.setting), std::string::npos) << r.err;
    EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), "kept");
  }
  // The same file with values in range is written.
  tavtest::writeFile(dir / "flavour.xml",
                     R"(<?xml version="1.0"?><qel.activities Version="1.0">)"
                     R"(<qel.activity Name="Export PDF" Key="PDFo" Version="2.0">)"
                     R"(<Preference Key="DstV" Name="VerticalDistortion" Type="Double">-50</Preference>)"
                     R"(</qel.activity></qel.activities>)");
  const auto r = runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / "out.pdf").string(),
                            "--flavour-file", (dir / "flavour.xml").string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
}

TEST(ExportCommand, ForcedRemapProblemIsStillRefusedAndCheckReportsIt) {
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"A","cmyk":[0,50,0,0],"mapTo":"B"},{"name":"B","cmyk":[0,0,50,0]}])";
  tavtest::writeFile(dir / "job.json", drivertest::colouredSquares(inks, {R"({"A":100,"B":30})"}));
  // Force goes past the remap problem, but the colour's two inks cannot both
  // be B in the file.
  auto r = runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / "out.pdf").string(), "--set",
                      "UseSeparationDisabler=1", "--force"});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("PDF/UNABLE TO REMAP OBJECT"), std::string::npos) << r.err;
  // The failure names the cause: the colour whose two inks would become one.
  const std::size_t failure = r.err.find("failure: PDF/INKS NOT RENAMED");
  ASSERT_NE(failure, std::string::npos) << r.err;
  const std::string line = r.err.substr(failure, r.err.find('\n', failure) - failure);
  EXPECT_NE(line.find(R"(the inks "A" and "B" of one colour would both become "B")"), std::string::npos) << line;
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  r = runTavpdf({"check", (dir / "job.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_NE(r.err.find("A is remapped onto B"), std::string::npos) << r.err;
}

namespace {

// Whether the process has an output open that has no name yet (an anonymous
// file in `folder`).
bool writingAnonymousFile(pid_t pid, const fs::path& folder) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string link = fs::read_symlink(fd.path(), ec).string();
    if (link.starts_with(folder.string() + "/#") && link.ends_with("(deleted)")) return true;
  }
  return false;
}

}  // namespace

// Stopped by a signal in the middle of writing, the export leaves the old
// target and no file of its own, whatever the signal (kill -9 included).
TEST(ExportCommand, SignalsLeaveTheTargetAndNoTemporaryFile) {
  tavtest::TestFolder dir;
  std::string objects = "[";
  for (int i = 0; i < 60000; ++i)
    objects += (i ? "," : "") + drivertest::square(i % 240 * 30, i / 240 * 30, 20, 30);
  tavtest::writeFile(dir / "job.json", drivertest::jobText(drivertest::kStandardInks,
                                                           R"([{"id":20,"inks":{"Cyan":100}}])",
                                                           R"([{"id":30,"type":"flat","colour":20}])", objects + "]"));
  tavtest::writeFile(dir / "out.pdf", "old");
  const auto before = tavtest::folderListing(dir.path());
  for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string binary = tavtest::tavpdfBinary().string(), job = (dir / "job.json").string(),
                      out = (dir / "out.pdf").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::execl(binary.c_str(), binary.c_str(), "export", job.c_str(), "-o", out.c_str(), "--set",
              "CompressPages=0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    bool sent = false;
    for (int wait = 0; wait < 60000 && !sent; ++wait) {
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      if (writingAnonymousFile(pid, dir.path())) sent = ::kill(pid, signal) == 0;
      ::usleep(1000);
    }
    if (sent) ::waitpid(pid, &status, 0);
    ASSERT_TRUE(sent) << "the export ended before it could be stopped";
    if (signal == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    }
    EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  }
  // Past the file-size limit the write fails with the system's reason.
  const auto r = tavtest::runProcess({"bash", "-c", "ulimit -f 64; exec \"$0\" export \"$1\" -o \"$2\"",
                                      tavtest::tavpdfBinary().string(), (dir / "job.json").string(),
                                      (dir / "out.pdf").string()});
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  for (const char* text : {"PDF/COULD NOT WRITE PDF FILE", "could not be written (File too large)", "result 1027"})
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_EQ(tavtest::folderListing(dir.path()), before);
}

// An output that is one of the inputs (by any name) is refused before
// anything is written; output errors name the file and the reason.
TEST(ExportCommand, OutputOverAnInputIsRefusedAndOutputErrorsNameTheFile) {
  tavtest::TestFolder dir;
  const std::string job = (dir / "job.json").string();
  tavtest::writeFile(job, drivertest::plainJobText());
  fs::create_symlink(job, dir / "link.json");
  tavtest::writeFile(dir / "press.xml", "");
  ASSERT_EQ(tavtest::runTavpdf({"flavours", "save", "Press", (dir / "press.xml").string()}).exitCode, 0);
  const auto before = tavtest::folderListing(dir.path());
  struct Case { std::vector<std::string> args; std::string input; };
  for (const Case& c : {Case{{"export", job, "-o", job}, job},
                        Case{{"export", job, "-o", (dir / "link.json").string()}, job},
                        Case{{"export", job, "--flavour-file", (dir / "press.xml").string(), "-o",
                              (dir / "press.xml").string()}, (dir / "press.xml").string()},
                        Case{{"ai", job, "-o", job}, job}}) {
    const auto r = runTavpdf(c.args);
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_NE(r.err.find("is the input file \"" + c.input + "\""), std::string::npos) << r.err;
    EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  }
  // Engine refusals exit 1.
  const std::string nowhere = (dir / "nowhere" / "x.pdf").string();
  using Texts = std::vector<std::string>;
  for (const auto& [target, texts] :
       {std::pair<std::string, Texts>{nowhere, {"error: PDF/COULD NOT OPEN PDF FILE", "failed with result 1002",
                                                "\"" + nowhere + "\" could not be created: No such file"}},
        {"/dev/full", {"\"/dev/full\" could not be written (No space left on device)"}}}) {
    const auto r = runTavpdf({"export", job, "-o", target});
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    for (const std::string& text : texts) EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  }
}

// Every writer writes a pipe (or a device) in place: it stays what it is and
// gets the whole file.
TEST(ExportCommand, EveryWriterWritesAPipeInPlace) {
  tavtest::TestFolder dir;
  const std::string job = (dir / "job.json").string(), pipe = (dir / "pipe").string();
  tavtest::writeFile(job, drivertest::plainJobText());
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  struct Case { std::vector<std::string> args; std::string start; };
  for (const Case& c : {Case{{"export", job, "-o", pipe}, "%PDF-"}, Case{{"ai", job, "-o", pipe}, "%!PS-Adobe"},
                        Case{{"flavours", "save", "Press", pipe}, "<?xml"}}) {
    // The reader is there before the writer (the files fit in the pipe's
    // buffer), so that a writer that replaced the pipe leaves it empty
    // rather than blocking the test.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const auto r = runTavpdf(c.args);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) received.append(buffer, std::size_t(n));
    ::close(reader);
    EXPECT_EQ(r.exitCode, 0) << r.describe();
    EXPECT_TRUE(fs::is_fifo(pipe)) << c.args[0];
    EXPECT_EQ(received.substr(0, c.start.size()), c.start) << c.args[0];
  }
}

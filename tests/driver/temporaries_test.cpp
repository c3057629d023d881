// The files an export makes on its way: none with a name while it runs, so
// that a killed run leaves nothing behind, and what an older killed run left
// is removed by the next one. A stop asked for by a signal is honoured in
// every part of the export.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "driver_support.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

namespace {

// The files the process has open (the targets of its descriptors).
std::vector<std::string> openFiles(pid_t pid) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    std::error_code gone;
    const std::string link = fs::read_symlink(fd.path(), gone).string();
    if (!gone) files.push_back(link);
  }
  return files;
}

// Runs tavpdf with the arguments and TMPDIR, its stderr into `err`; when
// `ready` says so, sends the signal. Returns the wait status, or -1 when the
// run ended before it was ready.
int runAndSignal(const std::vector<std::string>& args, const fs::path& tmp, const fs::path& err, int signal,
                 const std::function<bool(pid_t)>& ready) {
  const std::string binary = tavtest::tavpdfBinary().string();
  std::vector<std::string> all{binary};
  all.insert(all.end(), args.begin(), args.end());
  const std::string tmpdir = "TMPDIR=" + tmp.string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::putenv(const_cast<char*>(tmpdir.c_str()));
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  for (int wait = 0; wait < 120000; ++wait) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return -1;
    if (ready(pid)) {
      ::kill(pid, signal);
      ::waitpid(pid, &status, 0);
      return status;
    }
    ::usleep(500);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

// A job placing 280 pages of one PDF file: the pass that embeds them takes
// a while.
void writeManyPlacedPages(const fs::path& dir) {
  std::vector<std::string> swatches(40, (tavtest::sourceDir() / "examples/pictures/swatch-plates.pdf").string());
  std::vector<std::string> args{"qpdf", "--empty", "--pages"};
  args.insert(args.end(), swatches.begin(), swatches.end());
  args.insert(args.end(), {"--", (dir / "many.pdf").string()});
  ASSERT_EQ(tavtest::runProcess(args).exitCode, 0);
  std::string pictures, paints, objects;
  for (int i = 0; i < 280; ++i) {
    const int v = i / 20 * 300 + 100, h = i % 20 * 300 + 100;
    const std::string sep = i == 0 ? "" : ",";
    pictures += sep + R"({"id":)" + std::to_string(i + 1) + R"(,"file":"many.pdf","pdfPage":)" + std::to_string(i) +
                R"(,"width":250,"height":250})";
    paints += sep + R"({"id":)" + std::to_string(100 + i) + R"(,"type":"picture","picture":)" + std::to_string(i + 1) +
              R"(,"place":{"origin":[)" + std::to_string(v) + "," + std::to_string(h) + R"(],"widthCorner":[)" +
              std::to_string(v) + "," + std::to_string(h + 250) + R"(],"heightCorner":[)" + std::to_string(v + 250) +
              "," + std::to_string(h) + "]}}";
    objects += sep + drivertest::square(v, h, 250, 100 + i);
  }
  tavtest::writeFile(dir / "job.json",
                     R"({"format":"tavpdf-job","name":"placed 280","ppi":720,"origin":[4400,0],)"
                     R"("boxes":{"media":[0,0,4400,6200]},"inks":[{"name":"Black","process":"black"}],)"
                     R"("pictures":[)" + pictures + R"(],"paints":[)" + paints + R"(],"objects":[)" + objects + "]}");
}

}  // namespace

// Stopped while the placed pages are embedded (the placed file is open and
// the written file has no name): SIGKILL leaves the folder as it was, and
// SIGTERM cancels with a message.
TEST(Temporaries, AStopInThePassOverTheWrittenFileLeavesTheTargetAndNoFile) {
  tavtest::TestFolder dir;
  writeManyPlacedPages(dir.path());
  const fs::path out = dir / "out", tmp = dir / "tmp";
  fs::create_directory(out);
  fs::create_directory(tmp);
  tavtest::writeFile(out / "out.pdf", "old");
  const auto before = tavtest::folderListing(dir.path());
  const std::string placed = (dir / "many.pdf").string();
  auto inThePass = [&](pid_t pid) {
    bool anonymous = false, reading = false;
    for (const std::string& file : openFiles(pid)) {
      anonymous = anonymous || (file.starts_with(out.string() + "/#") && file.ends_with("(deleted)"));
      reading = reading || file == placed;
    }
    return anonymous && reading;
  };
  for (const int signal : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    const fs::path err = dir / "err.txt";
    const int status = runAndSignal({"export", (dir / "job.json").string(), "-o", (out / "out.pdf").string()}, tmp,
                                    err, signal, inThePass);
    ASSERT_NE(status, -1) << "the export ended before its pass could be stopped";
    const std::string said = tavtest::readFile(err);
    fs::remove(err);
    if (signal == SIGKILL) {
      EXPECT_TRUE(WIFSIGNALED(status));
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status << said;
      EXPECT_NE(said.find("PDF/EXPORT CANCELLED"), std::string::npos) << said;
    }
    EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  }
}

// What a killed run left (its process gone): named temporaries beside the
// target and temporary folders in TMPDIR go with the next run; those of a
// running process, and files not named so, stay.
TEST(Temporaries, LeftoversOfAKilledRunGoWithTheNextRun) {
  tavtest::TestFolder dir;
  const fs::path out = dir / "out", tmp = dir / "tmp";
  fs::create_directories(out);
  fs::create_directories(tmp / "tavpdf-999999990-12-3");
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const std::string live = std::to_string(::getpid());
  const std::vector<fs::path> stale = {out / ".out.pdf.part-999999990-482-0.tmp", out / ".t_3.pdf.part-999999991-1-7.tmp",
                                       out / "..part-999999990-1-2.tmp", out / ".a-b.c-d.x.part-999999992-0-0.tmp",
                                       tmp / ".tavpdf-image.img-999999990-5-2.tmp",
                                       tmp / "tavpdf-999999990-12-3" / "object.pdf"};
  // Names near ours that are not ours: no dot before the tag, a tag not in
  // small letters, a process number of ten digits, numbers missing or not
  // digits, another ending.
  const std::vector<fs::path> kept = {out / (".out.pdf.part-" + live + "-1-0.tmp"), out / ".out.pdf.part-x-1-0.tmp",
                                      out / "notes.tmp", tmp / ("tavpdf-" + live + "-1-1"),
                                      out / ".part-999999990-1-2.tmp", out / ".out.pdf.Part-999999990-1-2.tmp",
                                      out / ".out.pdf.part-9999999901-1-2.tmp", out / ".out.pdf.part-999999990-1.tmp",
                                      out / ".out.pdf.part-999999990-1-2-3.tmp", out / ".out.pdf.part-999999990--2.tmp",
                                      out / ".out.pdf.-999999990-1-2.tmp", out / ".out.pdf.part-999999990-1-2.tmpx",
                                      out / ".out.pdf.part-999999990-1-2a.tmp"};
  const std::vector<fs::path> keptFolders = {tmp / "tavpdf-999999990-1", tmp / "tavpdf--999999990-1-1",
                                             tmp / "xtavpdf-999999990-1-1", tmp / "tavpdf-9999999901-1-1",
                                             tmp / "tavpdf-999999990-1-1x"};
  for (const fs::path& f : keptFolders) fs::create_directories(f);
  for (const fs::path& f : stale) tavtest::writeFile(f, "left");
  for (const fs::path& f : kept) tavtest::writeFile(f, "mine");
  const auto r = tavtest::runProcess({"env", "TMPDIR=" + tmp.string(), tavtest::tavpdfBinary().string(), "export",
                                      (dir / "job.json").string(), "-o", (out / "out.pdf").string(), "--set",
                                      "OutputGradientsAsImages=1"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  for (const fs::path& f : stale) EXPECT_FALSE(fs::exists(f)) << f;
  EXPECT_FALSE(fs::exists(tmp / "tavpdf-999999990-12-3"));
  for (const fs::path& f : kept) EXPECT_TRUE(fs::exists(f)) << f;
  for (const fs::path& f : keptFolders) EXPECT_TRUE(fs::is_directory(f)) << f;
}

// A JDF folder export killed while it writes its per-object files leaves no
// named file in the folder; what it left in TMPDIR goes with the next run,
// which writes the whole folder.
TEST(Temporaries, AKilledJdfExportLeavesNoNamedFileInTheFolder) {
  tavtest::TestFolder dir;
  const fs::path out = dir / "out", tmp = dir / "tmp";
  fs::create_directories(out);
  fs::create_directories(tmp);
  fs::copy_file(tavtest::sourceDir() / "examples/pictures/swatch-plates.pdf", dir / "p.pdf");
  std::string pictures, paints, objects;
  for (int i = 0; i < 120; ++i) {
    const int v = i / 20 * 300 + 100, h = i % 20 * 300 + 100;
    const std::string sep = i == 0 ? "" : ",";
    pictures += sep + R"({"id":)" + std::to_string(i + 1) + R"(,"file":"p.pdf","pdfPage":)" + std::to_string(i % 7) +
                R"(,"width":250,"height":250})";
    paints += sep + R"({"id":)" + std::to_string(1000 + i) + R"(,"type":"picture","picture":)" +
              std::to_string(i + 1) + R"(,"place":{"origin":[)" + std::to_string(v) + "," + std::to_string(h) +
              R"(],"widthCorner":[)" + std::to_string(v) + "," + std::to_string(h + 250) + R"(],"heightCorner":[)" +
              std::to_string(v + 250) + "," + std::to_string(h) + "]}}";
    objects += sep + drivertest::square(v, h, 250, 1000 + i) + "," + drivertest::square(v + 10, h + 10, 60, 30);
  }
  tavtest::writeFile(dir / "job.json",
                     R"({"format":"tavpdf-job","name":"jdf","ppi":720,"origin":[3200,0],"boxes":{"media":[0,0,3200,6200]},)"
                     R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
                     R"("pictures":[)" + pictures + R"(],"paints":[{"id":30,"type":"flat","colour":1},)" + paints +
                         R"(],"objects":[)" + objects + "]}");
  tavtest::writeFile(out / "t.jdf", "old ticket");
  const auto before = tavtest::folderListing(out);
  // Killed once many per-object files are complete and kept without a name
  // (more than a small number of open files would allow).
  const int status = runAndSignal({"jdf", (dir / "job.json").string(), "-o", (out / "t.jdf").string(), "--copy-placed"}, tmp,
                                  dir / "err.txt", SIGKILL, [&](pid_t pid) {
                                    int anonymous = 0;
                                    for (const std::string& file : openFiles(pid))
                                      anonymous += file.starts_with(out.string() + "/#") ? 1 : 0;
                                    return anonymous >= 80;
                                  });
  ASSERT_NE(status, -1) << "the export ended before it could be stopped";
  EXPECT_EQ(tavtest::folderListing(out), before);
  const auto r = tavtest::runProcess({"env", "TMPDIR=" + tmp.string(), tavtest::tavpdfBinary().string(), "jdf",
                                      (dir / "job.json").string(), "-o", (out / "t.jdf").string(), "--copy-placed"});
  ASSERT_EQ(r.exitCode, 0) << r.describe();
  EXPECT_TRUE(tavtest::folderListing(tmp).empty());
  EXPECT_NE(tavtest::readFile(out / "t.jdf"), "old ticket");
  for (const std::string& entry : tavtest::folderListing(out)) EXPECT_EQ(entry.find(".tmp"), std::string::npos) << entry;
}

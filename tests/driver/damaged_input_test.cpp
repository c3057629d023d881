// Damaged and unreadable placed files as a user meets them on the command
// line: a failure exits 1 with the file named, and the target stays as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>
#include <qpdf/Pl_Flate.hh>

#include "driver_support.h"
#include "support/consumers.h"
#include "support/pictures.h"

namespace fs = std::filesystem;
using tavtest::runTavpdf;

namespace {

void cutInHalf(const fs::path& from, const fs::path& to) {
  const std::string bytes = tavtest::readFile(from);
  tavtest::writeFile(to, bytes.substr(0, bytes.size() / 2));
}

fs::path examplePicture(const char* name) { return tavtest::sourceDir() / "examples" / "pictures" / name; }

// A job placing a map of `files` (a JSON array) feeding the spot ink from file 0.
std::string mapJob(const std::string& files, int width, int height) {
  return drivertest::jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Orange":100}}])",
      R"([{"id":30,"type":"map","map":1,"place":{"origin":[720,720],"widthCorner":[720,1720],)"
      R"("heightCorner":[1720,720]}}])",
      "[" + drivertest::square(720, 720, 1000, 30) + "]",
      R"(,"maps":[{"id":1,"files":)" + files + R"(,"channels":[{"ink":"Orange"}],"colour":20,"width":)" +
          std::to_string(width) + R"(,"height":)" + std::to_string(height) + R"(,"resolution":150}])");
}

}  // namespace

// Every kind of placed file, cut short or otherwise unreadable: `export`
// and `ai` (version 7, which holds pixels) exit 1 naming the file, and
// leave the existing target and the folder as they were.
TEST(DamagedInput, PicturesThatCannotBeReadFailTheExportAndLeaveTheTarget) {
  tavtest::TestFolder dir;
  cutInHalf(examplePicture("photo-cmyk.tif"), dir / "half.tif");
  cutInHalf(examplePicture("photo.jpg"), dir / "half.jpg");
  cutInHalf(examplePicture("wave-spot.tif"), dir / "half-map.tif");
  fs::copy_file(examplePicture("wave-spot.tif"), dir / "map.tif");
  tavtest::writeFile(dir / "nobox.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  tavtest::writeFile(dir / "text.pdf", "hello, not a PDF file\n");
  const std::string swatches = tavtest::readFile(examplePicture("swatch-plates.pdf"));
  tavtest::writeFile(dir / "cut.pdf", swatches.substr(0, swatches.size() / 3));
  tavtest::writeFile(dir / "empty.pdf", "");

  struct Case {
    const char* what;
    std::string job;
    const char* key;
    std::string text;  // in the message
    bool illustrator;  // `ai --mode 2` reads the file too
  };
  const std::string inks = drivertest::kStandardInks;
  const Case cases[] = {
      {"a TIFF file cut short", drivertest::placedJob(inks, R"("file":"half.tif")"), "PDF/UNSUPPORTED PICTURE TYPE",
       "\"half.tif\"", true},
      {"a JPEG file cut short", drivertest::placedJob(inks, R"("file":"half.jpg")"), "PDF/UNSUPPORTED PICTURE TYPE",
       "\"half.jpg\"", true},
      {"an EPS file without a bounding box", drivertest::placedJob(inks, R"("file":"nobox.eps")"),
       "PDF/UNSUPPORTED PICTURE TYPE", "\"nobox.eps\"", true},
      {"a map file cut short", mapJob(R"(["half-map.tif"])", 240, 150), "PDF/UNSUPPORTED PICTURE TYPE",
       "\"half-map.tif\"", true},
      {"a map one pixel wider than its file", mapJob(R"(["map.tif"])", 241, 150), "PDF/MAP FILE SIZE MISMATCH",
       "\"map.tif\" is 240 x 150 pixels, but its map is 241 x 150", true},
      {"a placed PDF that is text, without a size", drivertest::placedJob(inks, R"("file":"text.pdf")"),
       "PDF/CANNOT EMBED PLACED PDF", "\"text.pdf\" cannot be embedded: ", false},
      {"the same with a size", drivertest::placedJob(inks, R"("file":"text.pdf","width":1000,"height":1000)"),
       "PDF/CANNOT EMBED PLACED PDF", "\"text.pdf\" cannot be embedded: ", false},
      {"a placed PDF cut short", drivertest::placedJob(inks, R"("file":"cut.pdf")"), "PDF/CANNOT EMBED PLACED PDF",
       "\"cut.pdf\"", false},
      {"an empty placed PDF", drivertest::placedJob(inks, R"("file":"empty.pdf")"), "PDF/CANNOT EMBED PLACED PDF",
       "\"empty.pdf\"", false},
      {"a placed PDF without the page", drivertest::placedJob(inks, R"("file":"cut.pdf","pdfPage":3)"),
       "PDF/CANNOT EMBED PLACED PDF", "\"cut.pdf\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::writeFile(dir / "job.json", c.job);
    tavtest::writeFile(dir / "out.pdf", "OLD");
    tavtest::writeFile(dir / "out.ai", "OLD");
    const auto before = tavtest::folderListing(dir.path());
    std::vector<std::vector<std::string>> commands = {{"export", "job.json", "-o", "out.pdf"},
                                                      {"export", "job.json", "-o", "out.pdf", "--flavour", "Viewing"}};
    if (c.illustrator) commands.push_back({"ai", "job.json", "-o", "out.ai", "--mode", "2"});
    for (const auto& command : commands) {
      const tavtest::ProcessResult r = runTavpdf(command, dir.path());
      EXPECT_EQ(r.exitCode, 1) << r.describe();
      EXPECT_NE(r.err.find("failure: " + std::string(c.key) + ": "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
      EXPECT_EQ(tavtest::folderListing(dir.path()), before) << r.describe();
    }
  }
}

// A JPEG file that is whole goes in as it stands, or decoded, and exports.
TEST(DamagedInput, SoundJpegFilesStillExport) {
  tavtest::TestFolder dir;
  fs::copy_file(examplePicture("photo.jpg"), dir / "photo.jpg");
  tavtest::writeFile(dir / "job.json", drivertest::placedJob(drivertest::kStandardInks, R"("file":"photo.jpg")"));
  for (const char* compression : {"CompressImages=50", "CompressImages=1"}) {
    SCOPED_TRACE(compression);
    const tavtest::ProcessResult r = runTavpdf({"export", "job.json", "-o", "out.pdf", "--set", compression}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.describe();
    tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  }
}

namespace {

// A PDF file of the given objects (1 the catalog), with its cross-reference table.
std::string pdfOf(const std::vector<std::string>& objects) {
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    const std::string n = std::to_string(offset);
    out += std::string(10 - n.size(), '0') + n + " 00000 n \n";
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

const std::string kPage = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>";

// The peak memory (KB) of tavpdf run with the arguments in `dir`, and its exit
// status; the sanitizer's quarantine (which holds freed memory) is off.
std::pair<long, int> peakMemory(const std::vector<std::string>& args, const fs::path& dir) {
  const std::string binary = tavtest::tavpdfBinary().string();
  std::vector<std::string> all{binary};
  all.insert(all.end(), args.begin(), args.end());
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=0", 1);
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return {usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

}  // namespace

// A placed page whose content inflates to 256 MiB is streamed into its form,
// never held whole: the export's memory stays far below the page's size.
TEST(Bounds, APlacedPageIsStreamedThroughNotHeldWhole) {
  tavtest::TestFolder dir;
  Pl_Buffer compressed("bomb");
  Pl_Flate deflate("bomb deflate", &compressed, Pl_Flate::a_deflate);
  const std::string blanks(1 << 20, ' ');
  for (int i = 0; i < 256; ++i) deflate.write(reinterpret_cast<const unsigned char*>(blanks.data()), blanks.size());
  const std::string square = "0 0 1 rg 10 10 100 100 re f";
  deflate.write(reinterpret_cast<const unsigned char*>(square.data()), square.size());
  deflate.finish();
  std::unique_ptr<Buffer> data(compressed.getBuffer());
  const std::string bytes(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  tavtest::writeFile(dir / "bomb.pdf",
                     pdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", kPage,
                            "<< /Length " + std::to_string(bytes.size()) + " /Filter /FlateDecode >>\nstream\n" + bytes +
                                "\nendstream"}));
  tavtest::writeFile(dir / "job.json", drivertest::placedJob(drivertest::kStandardInks, R"("file":"bomb.pdf")"));
  const auto [peakKB, exit] = peakMemory({"export", "job.json", "-o", "out.pdf"}, dir.path());
  ASSERT_EQ(exit, 0);
  // Well below the 256 MiB the page inflates to (holding it whole took
  // three times as much), the sanitizer's own memory included.
  EXPECT_LT(peakKB, 192 * 1024) << "KB at the peak";
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  const tavtest::Plates plates = tavtest::measurePlates(dir / "out.pdf");
  EXPECT_GT(plates.coverage.at("Cyan"), 0.0) << plates.summary();
}

// A page tree listing more entries than a placed file may have is refused
// when the file is read, with the reason.
TEST(Bounds, APageTreeOfTooManyEntriesIsRefused) {
  tavtest::TestFolder dir;
  std::string kids;
  for (int i = 0; i < 200000; ++i) kids += "3 0 R ";
  tavtest::writeFile(dir / "kids.pdf",
                     pdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [" + kids + "] /Count 200000 >>",
                            kPage, "<< /Length 27 >>\nstream\n0 0 1 rg 10 10 100 100 re f\nendstream"}));
  tavtest::writeFile(dir / "job.json", drivertest::placedJob(drivertest::kStandardInks, R"("file":"kids.pdf")"));
  tavtest::writeFile(dir / "out.pdf", "OLD");
  const tavtest::ProcessResult r = runTavpdf({"export", "job.json", "-o", "out.pdf"}, dir.path());
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_NE(r.err.find("\"kids.pdf\" cannot be embedded: its page tree lists more than 100000 pages"), std::string::npos)
      << r.err;
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), "OLD");
}

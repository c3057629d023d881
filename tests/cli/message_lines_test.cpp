// What tavpdf says when it fails: one line per message whatever a file is
// called, a reason for every refusal, and a damaged font told from a missing one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "support/consumers.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

// A job placing `file` (a JSON string's content) on a square.
std::string placingJob(const std::string& file) {
  return R"({"format":"tavpdf-job","name":"names","ppi":720,"origin":[1440,0],"boxes":{"media":[0,0,1440,1440]},)"
         R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
         R"("pictures":[{"id":1,"file":")" + file + R"(","inks":["Black"]}],)"
         R"("paints":[{"id":20,"type":"picture","picture":1,"place":{"origin":[300,300],)"
         R"("widthCorner":[300,1000],"heightCorner":[1000,300]}}],)"
         R"("objects":[{"kind":"path","paint":20,"points":[[300,300],[300,1000],[1000,1000],[1000,300]]}]})";
}

// Lines of stderr that do not open with a severity word or the program's name.
std::vector<std::string> strayLines(const std::string& err) {
  std::vector<std::string> stray;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    bool known = line.starts_with("tavpdf: ");
    for (const char* word : {"info: ", "warning: ", "error: ", "failure: "}) known = known || line.starts_with(word);
    if (!known) stray.push_back(line);
  }
  return stray;
}

}  // namespace

// A file name with a line break is quoted with the break escaped, in every
// command's messages.
TEST(MessageLines, FileNamesWithLineBreaksStayOnTheirMessageLine) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "new\nline.eps", tavtest::readFile(tavtest::sourceDir() / "examples/pictures/logo.eps"));
  tavtest::writeFile(dir / "bad\nname.tif", "II*\0cut short");
  fs::create_directory(dir / "j");
  struct Case {
    const char* file;
    std::vector<std::string> command;
  };
  for (const Case& c : {Case{"new\\nline.eps", {"jdf", "job.json", "-o", "j/t.jdf"}},
                        Case{"bad\\nname.tif", {"export", "job.json", "-o", "out.pdf"}},
                        Case{"bad\\nname.tif", {"ai", "job.json", "-o", "out.ai", "--mode", "2"}}}) {
    SCOPED_TRACE(c.command.front());
    tavtest::writeFile(dir / "job.json", placingJob(c.file));
    const tavtest::ProcessResult r = tavtest::runTavpdf(c.command, dir.path());
    EXPECT_EQ(r.exitCode, 1) << r.describe();
    EXPECT_THAT(strayLines(r.err), ::testing::IsEmpty()) << r.err;
    EXPECT_THAT(r.err, HasSubstr("\\x0A")) << r.err;
  }
}

TEST(MessageLines, AnEmptyOutputNameIsACommandLineError) {
  const std::string job = (tavtest::sourceDir() / "examples" / "label.json").string();
  for (const char* command : {"export", "jdf"}) {
    const tavtest::ProcessResult r = tavtest::runTavpdf({command, job, "-o", ""});
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_THAT(r.err, HasSubstr("tavpdf: the output must name ")) << r.err;
  }
}

// A font file that is there but damaged is named with what is wrong with it,
// for a text run and for a barcode's digits; a font that is not there is
// "not installed". The font folder is replaced in a mount namespace of the
// command's own, so nothing on the machine changes.
TEST(MessageLines, ADamagedFontFileIsToldFromAMissingFont) {
  const fs::path system = "/usr/share/fonts/type1/urw-base35";
  if (tavtest::runProcess({"unshare", "-m", "true"}).exitCode != 0) {
    GTEST_SKIP() << "no mount namespace can be made here (needs root)";
  }
  tavtest::TestFolder dir;
  fs::create_directory(dir / "fonts");
  for (const auto& entry : fs::directory_iterator(system)) fs::copy_file(entry.path(), dir / "fonts" / entry.path().filename());
  const std::string font = tavtest::readFile(system / "NimbusSans-Regular.t1");
  tavtest::writeFile(dir / "fonts" / "NimbusSans-Regular.t1", font.substr(0, font.size() / 2));
  const std::string head = R"({"format":"tavpdf-job","name":"fonts","ppi":720,"origin":[1440,0],)"
                           R"("boxes":{"media":[0,0,1440,1440]},"inks":[{"name":"Black","process":"black"}],)"
                           R"("colours":[{"id":1,"inks":{"Black":100}}],"paints":[{"id":10,"type":"flat","colour":1}],)";
  struct Case {
    const char* what;
    std::string objects;
    std::string said;
  };
  const Case cases[] = {
      {"a text run", R"([{"kind":"text","at":[700,100],"runs":[{"text":"Hello","font":"NimbusSans-Regular",)"
                     R"("size":24,"paint":10}]}])",
       "/objects/0/runs/0/font: the font \"NimbusSans-Regular\" cannot be used: its file \"" +
           (system / "NimbusSans-Regular.t1").string() + "\" is damaged ("},
      {"a barcode's digits", R"([{"kind":"group","at":[300,100],"barcode":{"symbology":"EAN-13",)"
                             R"("data":"501234567890","paint":10,"font":"NimbusSans-Regular"}}])",
       "/objects/0/barcode/font: the font \"NimbusSans-Regular\" cannot be used: its file"},
      {"a font that is not there", R"([{"kind":"text","at":[700,100],"runs":[{"text":"Hello","font":"NoSuchFont",)"
                                   R"("size":24,"paint":10}]}])",
       "/objects/0/runs/0/font: the font \"NoSuchFont\" is not installed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::writeFile(dir / "job.json", head + R"("objects":)" + c.objects + "}");
    const tavtest::ProcessResult r = tavtest::runProcess(
        {"unshare", "-m", "sh", "-c", "mount --bind \"$0\" \"$1\" && exec \"$2\" check \"$3\"",
         (dir / "fonts").string(), system.string(), tavtest::tavpdfBinary().string(), (dir / "job.json").string()});
    EXPECT_EQ(r.exitCode, 2) << r.describe();
    EXPECT_THAT(r.err, HasSubstr(c.said)) << r.err;
  }
}

// A file of a JDF folder that cannot be written (here past the file-size
// limit, as on a full disk) is named with the system's reason.
TEST(MessageLines, AJdfFolderFileThatCannotBeWrittenGivesTheSystemsReason) {
  tavtest::TestFolder dir;
  fs::copy_file(tavtest::sourceDir() / "examples/pictures/swatch-plates.pdf", dir / "p.pdf");
  tavtest::writeFile(dir / "job.json",
                     R"({"format":"tavpdf-job","name":"jdf","ppi":720,"origin":[1440,0],"boxes":{"media":[0,0,1440,1440]},)"
                     R"("inks":[{"name":"Black","process":"black"}],"colours":[{"id":1,"inks":{"Black":100}}],)"
                     R"("pictures":[{"id":1,"file":"p.pdf"}],"paints":[{"id":10,"type":"flat","colour":1},)"
                     R"({"id":20,"type":"picture","picture":1,"place":{"origin":[100,100],"widthCorner":[100,600],)"
                     R"("heightCorner":[600,100]}}],"objects":[)"
                     R"({"kind":"path","paint":10,"points":[[700,700],[700,900],[900,900],[900,700]]},)"
                     R"({"kind":"path","paint":20,"points":[[100,100],[100,600],[600,600],[600,100]]}]})");
  fs::create_directory(dir / "j");
  const tavtest::ProcessResult r =
      tavtest::runProcess({"bash", "-c", "ulimit -f 8; exec \"$0\" jdf job.json -o j/t.jdf --copy-placed",
                           tavtest::tavpdfBinary().string()},
                          std::chrono::seconds(120), dir.path());
  EXPECT_EQ(r.exitCode, 1) << r.describe();
  EXPECT_THAT(r.err, HasSubstr("JDF/COULD NOT WRITE PICTURE: The placed picture \"p.pdf\" could not be put into the "
                               "JDF folder (File too large)"))
      << r.err;
  EXPECT_TRUE(tavtest::folderListing(dir / "j").empty());
}

// The folder a JDF export writes into: file names, files written once and
// whole, placed PDFs copied or referred to, and a folder changed only by a
// complete export.
#include <gtest/gtest.h>

#include <map>

#include "jdf/jdfoutput.h"
#include "jdf_support.h"
#include "platform/genoutfil.h"
#include "platform/tav_error.h"
#include "platform/utf.h"
#include "support/consumers.h"

namespace fs = std::filesystem;

TEST(JDFFolder, NamesFollowTheTargetAndFitTheFileSystem) {
  struct Base {
    const char* target;
    const char* base;
  };
  for (const Base& b : {Base{"/x/job.jdf", "job"}, Base{"/x/job.JDF", "job.JDF"}, Base{"/x/job.pdf", "job.pdf"},
                        Base{"/x/a.tar.jdf", "a.tar"}, Base{"/x/.jdf", ".jdf"}})
    EXPECT_EQ(JDFBaseName(TavSys::FileSpec(b.target)), b.base) << b.target;

  const std::string ascii = std::string(100, 'a') + std::string(100, 'b') + std::string(100, 'c');
  const std::string cut = JDFFileName(ascii, false);
  EXPECT_EQ(cut, ascii.substr(0, 127) + ascii.substr(300 - 127));
  EXPECT_EQ(JDFFileName(ascii, true), ascii);
  // Two-byte characters: both halves end between characters.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += "é";
  const std::string wideCut = JDFFileName(wide, false);
  EXPECT_EQ(wideCut.size(), 252u);
  EXPECT_TRUE(TavSys::IsValidUTF8(wideCut));
  EXPECT_EQ(Utf8Prefix("aé", 2), "a");
}

TEST(JDFFolder, FilesReachTheFolderOnlyWholeAndOnlyByCommit) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "other.txt", "kept");
  tavtest::writeFile(dir / "job_0.pdf", "old");
  auto write = [](JDFOutput& out, const std::string& name, const std::string& text, bool complete) {
    genoutfil* stream = nullptr;
    const auto opened = out.openFile(name, kJDFObjectPDFFile, stream);
    if (stream) *stream << text.c_str();
    if (opened == JDFOutput::Opened::Stream) {
      EXPECT_EQ(out.closeFile(complete) == 0, complete) << name;
    }
    return opened;
  };
  {
    JDFFolderOutput out(TavSys::FileSpec(dir / "job.jdf"), nullptr);
    EXPECT_EQ(write(out, "job_0.pdf", "new", true), JDFOutput::Opened::Stream);
    const std::string reference = out.currentReference();
    EXPECT_EQ(reference, "job_0.pdf");
    EXPECT_EQ(write(out, "job_marks0.pdf", "partial", false), JDFOutput::Opened::Stream);
    EXPECT_TRUE(out.currentReference().empty());
    // Asked again, a file written is not written twice; a file given up is.
    EXPECT_EQ(write(out, "job_0.pdf", "again", true), JDFOutput::Opened::AlreadyWritten);
    EXPECT_EQ(out.currentReference(), reference);
    EXPECT_EQ(write(out, "job_marks0.pdf", "whole", true), JDFOutput::Opened::Stream);
    // Nothing is in place before the commit.
    EXPECT_EQ(tavtest::readFile(dir / "job_0.pdf"), "old");
    EXPECT_FALSE(fs::exists(dir / "job_marks0.pdf"));
    EXPECT_EQ(out.commit(), 0);
    EXPECT_EQ(out.producedFiles().size(), 2u);
    EXPECT_EQ(write(out, "job_1.pdf", "never committed", true), JDFOutput::Opened::Stream);
  }
  EXPECT_EQ(tavtest::readFile(dir / "job_0.pdf"), "new");
  EXPECT_EQ(tavtest::readFile(dir / "job_marks0.pdf"), "whole");
  EXPECT_EQ(tavtest::folderListing(dir.path()),
            (std::vector<std::string>{"job_0.pdf:3", "job_marks0.pdf:5", "other.txt:4"}));

  JDFFolderOutput missing(TavSys::FileSpec(dir / "no such folder" / "job.jdf"), nullptr);
  EXPECT_EQ(write(missing, "job_0.pdf", "x", true), JDFOutput::Opened::Failed);
  EXPECT_GT(missing.lastError(), TavSys::kFileErrorBase);
}

namespace {

// A job placing a PDF file (page 1 of a separated export) twice, with a
// square of marks; with `oneUp` also the one-up "oneup.json".
std::string placingJob(bool oneUp) {
  using drivertest::square;
  return drivertest::jobText(
      drivertest::kStandardInks, R"([{"id":20,"inks":{"Black":100}}])",
      R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],"widthCorner":[720,1720],)"
      R"("heightCorner":[1720,720]}},{"id":31,"type":"flat","colour":20},{"id":32,"type":"picture","picture":2,)"
      R"("place":{"origin":[3000,3000],"widthCorner":[3000,3720],"heightCorner":[4440,3000]}}])",
      "[" + square(720, 720, 1000, 30) + "," + square(5000, 5000, 500, 31) + "," +
          (oneUp ? square(3000, 3000, 720, 32) + "," : std::string()) + square(720, 720, 500, 30) + "]",
      R"(,"pictures":[{"id":1,"file":"placed.pdf","width":1000,"height":1000,"pdfPage":1},)"
      R"({"id":2,"file":"oneup.json"}])");
}

// A one-up whose own inks conflict: its file cannot be written with ProcessCMYKFlags.
const char* kConflictingOneUp =
    R"({"format":"tavpdf-job","ppi":720,"origin":[1440,0],"boxes":{"media":[0,0,1440,720]},)"
    R"("inks":[{"name":"Process Cyan","process":"cyan"},{"name":"Cyan","cmyk":[100,0,0,0]}],)"
    R"("colours":[{"id":1,"inks":{"Process Cyan":50,"Cyan":50}}],"paints":[{"id":10,"type":"flat","colour":1}],)"
    R"("objects":[{"kind":"path","paint":10,"points":[[0,0],[0,720],[1440,720],[1440,0]]}]})";

// Every file of a folder with its bytes.
std::map<std::string, std::string> folderContents(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = tavtest::readFile(e.path());
  return out;
}

}  // namespace

TEST(JDFFolder, PlacedPDFsAreCopiedOrReferredTo) {
  tavtest::TestFolder dir;
  auto separated = drivertest::loadJob(drivertest::plainJobText());
  ASSERT_EQ(drivertest::exportJob(separated.get(), drivertest::flavour("Separated"), dir / "placed.pdf").result, 0);
  const std::string job = placingJob(false);
  tavtest::writeFile(dir / "oneup.json", kConflictingOneUp);  // listed, not placed
  fs::create_directory(dir / "out");
  tavtest::writeFile(dir / "out" / "notes.txt", "kept");

  for (const bool copy : {false, true}) {
    SCOPED_TRACE(copy ? "copied" : "referred to");
    auto loaded = drivertest::loadJob(job, dir.path());
    PDFSettings settings = drivertest::flavour("JDF", std::string("ProcessCMYKFlags=1 JDFCopyPDF=") + (copy ? "1" : "0"));
    const auto run = jdftest::exportJdf(loaded.get(), settings, dir / "out" / "job.jdf");
    ASSERT_EQ(run.result, 0) << (run.messages.empty() ? "" : run.messages.front().text);
    jdftest::expectFolderSound(dir / "out" / "job.jdf");
    const auto doc = jdftest::readTicket(dir / "out" / "job.jdf");
    // Placed twice, named once.
    const pugi::xpath_node_set entries = doc.select_nodes("//RunList[@ID][1]/RunList");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].node().attribute("Pages").value(), "1");
    const std::string url = entries[0].node().child("LayoutElement").child("FileSpec").attribute("URL").value();
    if (copy) {
      EXPECT_EQ(url, "job_1.pdf");
      EXPECT_EQ(tavtest::readFile(dir / "out" / "job_1.pdf"), tavtest::readFile(dir / "placed.pdf"));
    } else {
      EXPECT_EQ(jdftest::fileOfURL(dir / "out" / "job.jdf", url), dir / "placed.pdf");
    }
    EXPECT_EQ(tavtest::readFile(dir / "out" / "notes.txt"), "kept");
  }
}

TEST(JDFFolder, AFileThatCannotBeWrittenLeavesTheFolderAsItWas) {
  tavtest::TestFolder dir;
  auto separated = drivertest::loadJob(drivertest::plainJobText());
  ASSERT_EQ(drivertest::exportJob(separated.get(), drivertest::flavour("Separated"), dir / "placed.pdf").result, 0);
  tavtest::writeFile(dir / "oneup.json", kConflictingOneUp);
  // The marks of this job mix a process ink and its namesake: they cannot be
  // written with ProcessCMYKFlags either.
  const std::string conflictingMarks = drivertest::jobText(
      R"([{"name":"Process Cyan","process":"cyan"},{"name":"Cyan","cmyk":[100,0,0,0]}])",
      R"([{"id":1,"inks":{"Process Cyan":50,"Cyan":50}}])", R"([{"id":10,"type":"flat","colour":1}])",
      "[" + drivertest::square(720, 720, 500, 10) + "]");
  struct Case {
    const char* what;
    std::string job;
    const char* settings;
    const char* key;
  };
  const Case cases[] = {
      {"a one-up", placingJob(true), "ProcessCMYKFlags=1", "JDF/COULD NOT WRITE PICTURE"},
      {"a copied placed PDF gone", placingJob(false), "JDFCopyPDF=1", "JDF/COULD NOT WRITE PICTURE"},
      {"a placed PDF gone", placingJob(false), "JDFCopyPDF=0", "JDF/COULD NOT WRITE PICTURE"},
      {"the marks", conflictingMarks, "ProcessCMYKFlags=1", "JDF/COULD NOT WRITE MARKS"},
  };
  fs::create_directory(dir / "out");
  tavtest::writeFile(dir / "out" / "job.jdf", "old ticket");
  tavtest::writeFile(dir / "out" / "job_1.pdf", "old copy");
  tavtest::writeFile(dir / "out" / "job_marks0.pdf", "old marks");
  const auto before = folderContents(dir / "out");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto loaded = drivertest::loadJob(c.job, dir.path());
    if (std::string(c.what).ends_with("gone")) fs::rename(dir / "placed.pdf", dir / "placed.away");
    PDFSettings settings = drivertest::flavour("JDF", c.settings);
    const auto run = jdftest::exportJdf(loaded.get(), settings, dir / "out" / "job.jdf");
    if (fs::exists(dir / "placed.away")) fs::rename(dir / "placed.away", dir / "placed.pdf");
    EXPECT_EQ(run.result, 1);
    EXPECT_TRUE(run.has(c.key));
    EXPECT_EQ(folderContents(dir / "out"), before);
    EXPECT_TRUE(run.produced.empty());
  }
}

TEST(JDFFolder, ATicketThatCannotBeWrittenLeavesTheFolderAsItWas) {
  tavtest::TestFolder dir;
  fs::create_directory(dir / "job.jdf");
  const auto before = tavtest::folderListing(dir.path());
  auto job = drivertest::loadJob(drivertest::plainJobText());
  PDFSettings settings = drivertest::flavour("JDF");
  const auto run = jdftest::exportJdf(job.get(), settings, dir / "job.jdf");
  EXPECT_GT(run.result, TavSys::kFileErrorBase);
  EXPECT_TRUE(run.has("JDF/COULD NOT WRITE JDF FILE"));
  EXPECT_EQ(tavtest::folderListing(dir.path()), before);
}

TEST(JDFFolder, CommandWritesTheFolderAndPrintsItsFiles) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  const auto ok = tavtest::runTavpdf({"jdf", (dir / "job.json").string(), "-o", (dir / "f" / "job.jdf").string()});
  EXPECT_EQ(ok.exitCode, 1) << ok.describe();  // the folder does not exist: the ticket cannot be written
  fs::create_directory(dir / "f");
  const auto run = tavtest::runTavpdf({"jdf", (dir / "job.json").string(), "-o", (dir / "f" / "job.jdf").string(),
                                       "--flavour", "Press", "--collect-marks"});
  EXPECT_EQ(run.exitCode, 0) << run.describe();
  EXPECT_EQ(run.out, (dir / "f" / "job_marks0.pdf").string() + "\n" + (dir / "f" / "job.jdf").string() + "\n");
  jdftest::expectFolderSound(dir / "f" / "job.jdf");
  EXPECT_EQ(tavtest::runTavpdf({"jdf", (dir / "job.json").string(), "-o", (dir / "f").string() + "/"}).exitCode, 2);
}

TEST(JDFFolder, CommandCollectsMarksAsAskedOrAsTheFlavourSays) {
  tavtest::TestFolder dir;
  // Two squares far apart: one group each when grouped by distance.
  tavtest::writeFile(dir / "job.json",
                     drivertest::jobText(drivertest::kStandardInks, R"([{"id":20,"inks":{"Black":100}}])",
                                         R"([{"id":31,"type":"flat","colour":20}])",
                                         "[" + drivertest::square(720, 720, 300, 31) + "," +
                                             drivertest::square(5000, 5000, 300, 31) + "]"));
  struct Case {
    std::vector<std::string> options;
    std::size_t markObjects;
  };
  const Case cases[] = {
      {{}, 1},  // the JDF flavour collects
      {{"--no-collect-marks"}, 2},
      {{"--collect-marks"}, 1},
      {{"--flavour", "Press"}, 2},
      {{"--flavour", "Press", "--collect-marks"}, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"jdf", (dir / "job.json").string(), "-o", (dir / "job.jdf").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = tavtest::runTavpdf(args);
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(jdftest::readTicket(dir / "job.jdf").select_nodes("//MarkObject").size(), c.markObjects)
        << run.describe();
  }
  EXPECT_EQ(tavtest::runTavpdf({"jdf", (dir / "job.json").string(), "-o", (dir / "job.jdf").string(),
                                "--collect-marks", "--no-collect-marks"})
                .exitCode,
            2);
}

TEST(JDFFolder, ExportUnderAJDFFlavourPrintsEveryFileItWrites) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "job.json", drivertest::plainJobText());
  struct Case {
    const char* output;
    const char* marks;
    const char* ticket;
  };
  for (const Case c : {Case{"a.pdf", "a.pdf_marks0.pdf", "a.pdf.jdf"}, Case{"b.jdf", "b_marks0.pdf", "b.jdf"}}) {
    const auto run = tavtest::runTavpdf({"export", (dir / "job.json").string(), "-o", (dir / c.output).string(),
                                         "--flavour", "JDF"});
    ASSERT_EQ(run.exitCode, 0) << run.describe();
    EXPECT_EQ(run.out, (dir / c.marks).string() + "\n" + (dir / c.ticket).string() + "\n");
    jdftest::expectFolderSound(dir / c.ticket);
  }
  EXPECT_FALSE(fs::exists(dir / "a.pdf"));
}

// Whole exports through OutputPDFDocument: every flavour's file accepted by
// qpdf, Ghostscript and mutool with the right plates, every check's message
// and result, and a target that is never left damaged.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>

#include "driver/flattening.h"
#include "driver/visitors.h"
#include "driver/writepdf.h"
#include "platform/tav_error.h"
#include "driver_support.h"
#include "platform/certify.h"
#include "platform/system.h"
#include "support/consumers.h"

namespace fs = std::filesystem;
using drivertest::exportJob;
using drivertest::flavour;
using drivertest::jobText;
using drivertest::loadJob;
using drivertest::colouredSquares;
using drivertest::square;

namespace {

const std::string kOldBytes = "the user's previous file";

}  // namespace

TEST(Export, EveryFlavourWritesAFileTheConsumersAccept) {
  tavtest::TestFolder dir;
  for (const char* name : {"Press", "Viewing", "Reader", "Separated", "Normalized", "NormalizedEmbedded",
                           "Vistamo", "Custom"}) {
    SCOPED_TRACE(name);
    auto job = loadJob(drivertest::plainJobText());
    const fs::path pdf = dir / (std::string(name) + ".pdf");
    const auto run = exportJob(job.get(), flavour(name), pdf);
    ASSERT_EQ(run.result, 0) << run.keys();
    tavtest::expectPdfAcceptedByAllConsumers(pdf);
    tavtest::expectContentStreamsSound(pdf);
    // Nothing but the written files stays in the folder.
    for (const auto& f : drivertest::folderListing(dir.path())) EXPECT_EQ(fs::path(f).extension(), ".pdf") << f;
  }
  // The composite file carries each square in its inks.
  const auto plates = tavtest::measurePlates(dir / "Press.pdf");
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 216, 504), 1.0, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Magenta", 216, 504), 0.4, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Orange", 504, 216), 1.0, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Green", 504, 504), 0.5, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Black", 504, 504), 0.2, 0.02) << plates.summary();
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 504, 216), 0.0, 0.02) << plates.summary();
}

TEST(Export, SeparatedOutputWithoutSeparationsLeavesAnExistingTargetAlone) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  auto job = loadJob(jobText(drivertest::kStandardInks, "[]", "[]", "[]"));
  const auto run = exportJob(job.get(), flavour("Separated"), dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.message("PDF/NO SEPARATIONS FOUND").severity, TavGen::kError);
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);

  MarksSettings marks;
  PDFSettings settings = flavour("Press");
  TavSys::FileSpec target(dir / "null.pdf");
  EXPECT_EQ(OutputPDFDocument(nullptr, settings, marks, true, false, nullptr, target, {}, nullptr), 1);
}

TEST(Export, NormalizedOutputRefusesPlacedEpsBySeverityOfTheBatchMode) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  const std::string text = jobText(
      drivertest::kStandardInks, "[]",
      R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],"widthCorner":[720,1720],"heightCorner":[1720,720]}}])",
      "[" + square(720, 720, 1000, 30) + "]", R"(,"pictures":[{"id":1,"file":"art.eps"}])");
  auto job = loadJob(text, dir.path());
  struct Case { int batch; const char* key; int severity; };
  for (const Case c : {Case{0, "PDF/INVALID OBJECTS FOR NORMALIZED PDF OUTPUT", TavGen::kError},
                       Case{1, "PDF/INVALID OBJECTS FOR NORMALIZED PDF OUTPUT", TavGen::kBatchError},
                       Case{2, "PDF/INVALID OBJECTS FOR NORMALIZED PDF CONVERSION TASK", TavGen::kError}}) {
    setArtque(c.batch);
    const auto run = exportJob(job.get(), flavour("Normalized"), dir / "out.pdf");
    setArtque(0);
    EXPECT_EQ(run.result, TavPDF::kExportInvalidForNormalized);
    EXPECT_EQ(run.message(c.key).severity, c.severity) << c.batch;
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
  }
}

TEST(Export, SeparatedOutputWithPlacedEpsOrBlendModesNeedingFlattening) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  struct Case { const char* blend; bool flattening; bool needsFlattening; };
  for (const Case c : {Case{"normal", false, false}, Case{"screen", false, true}, Case{"screen", true, false}}) {
    SCOPED_TRACE(std::string(c.blend) + (c.flattening ? " flattening" : ""));
    auto job = loadJob(jobText(
        drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
        R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],"widthCorner":[720,1720],"heightCorner":[1720,720]}},)"
        R"({"id":31,"type":"flat","colour":20,"blendMode":")" + std::string(c.blend) + R"("}])",
        "[" + square(720, 720, 1000, 30) + "," + square(3000, 3000, 1000, 31) + "]",
        R"(,"pictures":[{"id":1,"file":"art.eps"}])"), dir.path());
    PDFSettings settings = flavour("Separated");
    settings.EnableFlattening = c.flattening ? 1 : 0;
    const auto run = exportJob(job.get(), settings, dir / "out.pdf");
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.message("PDF/CANNOT MAKE SEPARATED PDF").severity, TavGen::kError);
    EXPECT_EQ(run.has("PDF/SEPARATED PDF NEEDS FLATTENING"), c.needsFlattening) << run.keys();
    EXPECT_FALSE(fs::exists(dir / "out.pdf"));
  }
}

TEST(Export, ProcessInkAndASeparationOfItsNameConflict) {
  tavtest::TestFolder dir;
  const std::string inks =
      R"([{"name":"Process Cyan","process":"cyan"},{"name":"Cyan","cmyk":[100,0,0,0]},{"name":"Black","process":"black"}])";
  auto job = loadJob(colouredSquares(inks, {R"({"Process Cyan":100})", R"({"Cyan":50})"}));
  PDFSettings settings = flavour("Press");
  settings.ProcessCMYKFlags = 1;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  const auto& m = run.message("PDF/CMYK SEPARATION CONFLICT");
  EXPECT_EQ(m.severity, TavGen::kError);
  EXPECT_NE(m.text.find("Process Cyan and the separation Cyan"), std::string::npos) << m.text;
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  // Without the CMYK flags the names are only compared: a warning, and a file.
  settings.ProcessCMYKFlags = 0;
  const auto named = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(named.result, 0) << named.keys();
  const auto& warning = named.message("PROCESS INK NAME MISMATCH");
  EXPECT_EQ(warning.severity, TavGen::kWarning);
  EXPECT_NE(warning.text.find("Cyan"), std::string::npos);
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");

  // Names that differ only in case are no mismatch.
  auto upper = loadJob(colouredSquares(R"([{"name":"CYAN","process":"cyan"},{"name":"black","process":"black"}])",
                                       {R"({"CYAN":100})"}));
  const auto cased = exportJob(upper.get(), settings, dir / "out.pdf");
  EXPECT_EQ(cased.result, 0) << cased.keys();
  EXPECT_FALSE(cased.has("PROCESS INK NAME MISMATCH")) << cased.keys();
}

TEST(Export, RemapProblemsAndInksThatCannotBeRenamed) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  const std::string inks =
      R"([{"name":"Cyan","process":"cyan"},{"name":"A","cmyk":[0,50,0,0],"mapTo":"C"},)"
      R"({"name":"B","cmyk":[0,0,50,0],"mapTo":"C"},{"name":"C","cmyk":[0,50,50,0]}])";
  auto job = loadJob(colouredSquares(inks, {R"({"A":100,"B":40})"}));
  PDFSettings settings = flavour("Press");
  settings.UseSeparationDisabler = 1;
  const auto refused = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(refused.result, TavPDF::kExportRemapProblem);
  const auto& m = refused.message("PDF/UNABLE TO REMAP TWO TO ONE OBJECT");
  EXPECT_EQ(m.severity, TavGen::kError);
  EXPECT_NE(m.text.find("uses A and B, which are both remapped onto C"), std::string::npos) << m.text;
  EXPECT_FALSE(refused.has("PDF/INKS NOT RENAMED"));

  // Force passes the remap problem, but the remapped inks cannot be renamed
  // in the file: plates under the wrong names are not written either.
  const auto forced = exportJob(job.get(), settings, dir / "out.pdf", true);
  EXPECT_EQ(forced.result, 1) << forced.keys();
  EXPECT_TRUE(forced.has("PDF/UNABLE TO REMAP TWO TO ONE OBJECT"));
  EXPECT_EQ(forced.message("PDF/INKS NOT RENAMED").severity, TavGen::kError);
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"out.pdf"}));

  // A plain remapping without problem is refused alike; without the
  // separation disabler the map is not applied and the file is written.
  auto plain = loadJob(colouredSquares(inks, {R"({"A":100})"}));
  const auto run = exportJob(plain.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.has("PDF/INKS NOT RENAMED")) << run.keys();
  settings.UseSeparationDisabler = 0;
  EXPECT_EQ(exportJob(plain.get(), settings, dir / "out.pdf").result, 0);
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
}

TEST(Export, TechnicalInkAndHiddenLayerWarningsLetTheExportGoOn) {
  tavtest::TestFolder dir;
  const std::string inks = R"([{"name":"Cyan","process":"cyan","technical":true},{"name":"Black","process":"black"},)"
                           R"({"name":"Die","cmyk":[0,100,0,0],"technical":true}])";
  const std::string layers =
      R"([{"kind":"layer","name":"Art","objects":[)" + square(720, 720, 900, 30) + R"(]},)"
      R"({"kind":"layer","name":"Hidden","hidden":true,"objects":[)" + square(2000, 720, 900, 31) + "]}]";
  auto job = loadJob(jobText(inks, R"([{"id":20,"inks":{"Die":100}},{"id":21,"inks":{"Black":100}}])",
                             R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21}])", layers));
  PDFSettings settings = flavour("Press");
  settings.IncludeLayers = 1;
  settings.VerifyCompatibility();
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 0) << run.keys();
  EXPECT_EQ(run.message("TECHNICAL INKS NOT IN OVERPRINT").severity, TavGen::kWarning);
  EXPECT_EQ(run.message("PROCESS INK MARKED TECHNICAL").severity, TavGen::kWarning);
  EXPECT_EQ(run.message("HIDDEN PRINTING LAYERS").severity, TavGen::kWarning);
  EXPECT_FALSE(run.has("TECHNICAL INKS WITH NONSEPARABLE BLENDMODE"));
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
}

TEST(Export, MaximumSizeWarningNamesBothSizes) {
  tavtest::TestFolder dir;
  std::vector<std::string> colours;
  for (int i = 0; i < 6; ++i) colours.push_back(R"({"Cyan":)" + std::to_string(10 + i) + "}");
  auto job = loadJob(colouredSquares(drivertest::kStandardInks, colours));
  PDFSettings settings = flavour("Press");
  settings.MaxSizeEnabled = 1;
  settings.MaxSize = 1;
  settings.CompressPages = 0;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  const auto kb = fs::file_size(dir / "out.pdf") >> 10;
  ASSERT_GE(kb, 2u) << "the file must exceed 1.2 KB for the warning";
  const auto& m = run.message("PDF/MAX SIZE TOO LOW");
  EXPECT_EQ(m.severity, TavGen::kWarning);
  EXPECT_EQ(m.text, "The PDF file takes " + std::to_string(kb) + ".00 KB, more than the maximum size of 1.00 KB.");

  settings.MaxSize = static_cast<int>(kb);
  EXPECT_FALSE(exportJob(job.get(), settings, dir / "out.pdf").has("PDF/MAX SIZE TOO LOW"));
}

namespace {
// Broadcast receivers for one test; removed on destruction.
struct Receivers {
  std::vector<std::uint32_t> ids;
  std::vector<std::string> exported;
  std::vector<std::string> exportedBytes;
  bool cancel = false;
  int handle = 0;
  Receivers() {
    handle = TavCertify::PDFCertify::broadcaster().AddReceiver(
        [this](std::uint32_t id, TavSys::BroadcastParameter& p) {
          auto& param = dynamic_cast<TavCertify::BroadcastParameterPDFExporter&>(p);
          ids.push_back(id);
          exported.push_back(param.exportedFile().GetFullPathUTF8());
          if (id == TavCertify::kBroadcastAfterPDFExport) exportedBytes.push_back(tavtest::readFile(param.exportedFile().path()));
          if (cancel && id == TavCertify::kBroadcastBeforePDFExport) param.SetCancel(true);
        });
  }
  ~Receivers() { TavCertify::PDFCertify::broadcaster().RemoveReceiver(handle); }
};
}  // namespace

TEST(Export, CertifiedJobsGetEditLogEntriesAndBroadcasts) {
  tavtest::TestFolder dir;
  const std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Skip","cmyk":[0,100,0,0],"output":false},)"
                           R"({"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}])";
  const std::string certified = R"(,"certified":{"creator":"Editor 9","creationDate":1600000000})";
  auto job = loadJob(colouredSquares(inks, {R"({"Cyan":100,"Black":100,"Orange":100})"}, "", certified));
  PDFSettings settings = flavour("Press");
  settings.CertifiedEnabled = 1;
  settings.UseSeparationDisabler = 1;
  Receivers receivers;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  EXPECT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457869, 0x63457870}));
  EXPECT_EQ(receivers.exported[0], (dir / "out.pdf").string());
  // The receivers after writing see the complete file.
  ASSERT_EQ(receivers.exportedBytes.size(), 1u);
  EXPECT_EQ(receivers.exportedBytes[0], tavtest::readFile(dir / "out.pdf"));
  // The certified creator and creation date go into the Info dictionary.
  const std::string bytes = tavtest::readFile(dir / "out.pdf");
  EXPECT_NE(bytes.find("/CreationDate (D:20200913122640Z)"), std::string::npos);
  EXPECT_NE(bytes.find("/Creator (Editor 9)"), std::string::npos);

  std::vector<std::string> lines;
  for (const EditEntry& e : job->editHistory.entries()) lines.push_back(std::to_string(e.code) + " " + e.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"33 Exported to the PDF file " + (dir / "out.pdf").string(),
                                             "51 * Separation  1: Cyan", "51 * Separation  2: Black",
                                             "51 * Separation  3: Orange"}));
  EXPECT_EQ(job->certified->originalPDFFullPath, (dir / "out.pdf").string());

  // A job without certified info: no entries and no "before" broadcast, but
  // the "after" broadcast still goes out.
  auto plain = loadJob(drivertest::plainJobText());
  receivers.ids.clear();
  EXPECT_EQ(exportJob(plain.get(), settings, dir / "plain.pdf").result, 0);
  EXPECT_TRUE(plain->editHistory.entries().empty());
  EXPECT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457870}));
}

TEST(ExportSafety, CancelByACertificationReceiverWritesNothing) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  auto job = loadJob(colouredSquares(drivertest::kStandardInks, {R"({"Cyan":100})"}, "",
                                     R"(,"certified":{"creator":"Editor","creationDate":1})"));
  PDFSettings settings = flavour("Press");
  settings.CertifiedEnabled = 1;
  Receivers receivers;
  receivers.cancel = true;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457869}));
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"out.pdf"}));
  for (int i = 0; i < job->inkCount; ++i) EXPECT_TRUE(sepIsEnabled(job.get(), i));
}

TEST(ExportSafety, CancelWhileWritingKeepsTheOldTarget) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  auto job = loadJob(drivertest::plainJobText());
  int asked = 0;
  TavSys::Progress::setCancelHook([&] { return ++asked > 3; });
  const auto run = exportJob(job.get(), flavour("Press"), dir / "out.pdf");
  TavSys::Progress::setCancelHook({});
  TavSys::Progress::resetCancel();
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.has("PDF/EXPORT CANCELLED")) << run.keys();
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"out.pdf"}));
}

TEST(ExportSafety, TargetThatCannotBeCreatedOrReplaced) {
  tavtest::TestFolder dir;
  auto job = loadJob(drivertest::plainJobText());
  // A folder that does not exist: the file cannot be created.
  auto run = exportJob(job.get(), flavour("Press"), dir / "missing" / "out.pdf");
  EXPECT_EQ(run.result, TavSys::kFileErrorBase + ENOENT);
  EXPECT_EQ(run.message("PDF/COULD NOT OPEN PDF FILE").severity, TavGen::kError);

  // A folder in the target's place is refused before anything is written.
  fs::create_directory(dir / "taken.pdf");
  run = exportJob(job.get(), flavour("Press"), dir / "taken.pdf");
  EXPECT_EQ(run.result, TavSys::kFileErrorBase + EISDIR);
  EXPECT_TRUE(run.has("PDF/COULD NOT OPEN PDF FILE")) << run.keys();
  EXPECT_TRUE(fs::is_directory(dir / "taken.pdf"));
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"taken.pdf"}));

  // A device is written in place, never replaced by a plain file; a full
  // device is a failure.
  run = exportJob(job.get(), flavour("Press"), "/dev/full");
  EXPECT_EQ(run.result, TavSys::kFileErrorBase + ENOSPC) << run.keys();
  EXPECT_EQ(run.message("PDF/CANNOT WRITE PDF FILE").severity, TavGen::kBatchError);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));

  // A link to the target: the file it names is replaced, the link stays.
  tavtest::writeFile(dir / "real.pdf", kOldBytes);
  fs::create_symlink(dir / "real.pdf", dir / "link.pdf");
  EXPECT_EQ(exportJob(job.get(), flavour("Press"), dir / "link.pdf").result, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
  tavtest::expectPdfAcceptedByAllConsumers(dir / "real.pdf");

  // A folder without write permission (where the process is not root, who
  // may write anyway).
  if (::geteuid() != 0) {
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    run = exportJob(job.get(), flavour("Press"), dir / "locked" / "out.pdf");
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(run.result, TavSys::kFileErrorBase + EACCES);
    EXPECT_TRUE(run.has("PDF/COULD NOT OPEN PDF FILE")) << run.keys();
    EXPECT_TRUE(fs::is_empty(dir / "locked"));
  }

  // A read-only file system.
  drivertest::SmallDisk disk(dir / "ro", 64);
  if (disk.mounted()) {
    tavtest::writeFile(disk.path() / "out.pdf", kOldBytes);
    ASSERT_TRUE(disk.makeReadOnly());
    run = exportJob(job.get(), flavour("Press"), disk.path() / "out.pdf");
    EXPECT_EQ(run.result, TavSys::kFileErrorBase + EROFS);
    EXPECT_TRUE(run.has("PDF/COULD NOT OPEN PDF FILE"));
    EXPECT_EQ(tavtest::readFile(disk.path() / "out.pdf"), kOldBytes);
  }
}

TEST(ExportSafety, WriteFailureKeepsTheOldTargetAndLeavesNoTemporaryFile) {
  tavtest::TestFolder dir;
  // A job of some 55 KB; many paths with irregular coordinates.
  std::string objects = "[";
  for (int i = 0; i < 3000; ++i)
    objects += (i ? "," : "") + square(700 + (i * 37) % 5000, 700 + (i * 91) % 5000, 50 + i % 97, 30);
  auto job = loadJob(jobText(drivertest::kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
                             R"([{"id":30,"type":"flat","colour":20}])", objects + "]"));
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  // A file-size limit makes the writes fail as a full disk would (a full
  // device is tested above), wherever the test runs.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 16 * 1024;
  setrlimit(RLIMIT_FSIZE, &small);
  const auto run = exportJob(job.get(), flavour("Press"), dir / "out.pdf");
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(run.result, TavSys::kFileErrorBase + EFBIG) << run.keys();
  EXPECT_TRUE(run.has("PDF/CANNOT WRITE PDF FILE")) << run.keys();
  EXPECT_TRUE(tavtest::readFile(dir / "out.pdf") == kOldBytes) << "the old target was replaced";
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"out.pdf"}));
}

TEST(ExportSafety, TemporaryFolderRoadReplacesTheTargetOnlyWhenComplete) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  auto job = loadJob(drivertest::plainJobText());
  PDFSettings::msUseTempFolder = 1;
  const auto run = exportJob(job.get(), flavour("Press"), dir / "out.pdf");
  PDFSettings::msUseTempFolder = 0;
  EXPECT_EQ(run.result, 0) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  EXPECT_EQ(drivertest::folderListing(dir.path()), (std::vector<std::string>{"out.pdf"}));
}

TEST(Export, JobIsRestoredAfterwardsAndTheArchiveHearsOfTheFile) {
  tavtest::TestFolder dir;
  auto job = loadJob(drivertest::plainJobText());
  const auto origin = getOriginalOrigin(job.get());
  const std::size_t members = jobGetSpahan(job.get())->memberCount();
  const std::size_t paints = job->paints.size();
  TavricCore::Archive archive;
  TavricCore::Archive::Attach(job.get(), &archive);
  PDFSettings settings = flavour("Normalized");
  settings.AddRegistrationMarks = 1;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  TavricCore::Archive::Attach(job.get(), nullptr);
  ASSERT_EQ(run.result, 0) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  EXPECT_EQ(getOriginalOrigin(job.get()), origin);
  EXPECT_EQ(jobGetSpahan(job.get())->memberCount(), members);
  EXPECT_EQ(job->paints.size(), paints);
  ASSERT_EQ(archive.entries().size(), 1u);
  EXPECT_EQ(archive.entries()[0].file.path(), dir / "out.pdf");
  // The marks layer was recorded in the edit history and taken away again.
  ASSERT_EQ(job->editHistory.entries().size(), 2u);
  EXPECT_EQ(job->editHistory.entries()[0].code, 22);
  EXPECT_EQ(job->editHistory.entries()[1].code, 43);
}

TEST(EntryPoints, LinkParametersAreDeclaredOnJobEventsOnly) {
  auto job = loadJob(drivertest::plainJobText());
  TavPDF::pdfoutini();
  TavPDF::pdfoutini();  // a second call registers nothing more
  gPDFSettings.VerticalDistortion = -1.5;
  gPDFSettings.HorizontalDistortion = 2.25;
  TavricCore::SendEvent({5, job.get()});
  EXPECT_TRUE(job->linkParameters.empty());
  TavricCore::SendEvent({26, job.get()});
  ASSERT_EQ(job->linkParameters.size(), 5u);
  EXPECT_EQ(job->linkParameters.at(0xa000000).shortName, "PDF");
  EXPECT_EQ(job->linkParameters.at(0xa010100).label, "Vertical distortion");
  EXPECT_DOUBLE_EQ(job->linkParameters.at(0xa010100).number, -1.5);
  EXPECT_DOUBLE_EQ(job->linkParameters.at(0xa010200).number, 2.25);
  EXPECT_TRUE(job->linkParameters.at(0xa020000).isText);
  gPDFSettings.VerticalDistortion = 0;
  gPDFSettings.HorizontalDistortion = 0;
}

TEST(Flattener, TransparentJobsAreReportedAsNotFlattened) {
  auto transparent = loadJob(colouredSquares(drivertest::kStandardInks, {R"({"Cyan":100})", R"({"Orange":100})"},
                                             R"(,"opacity":50)"));
  auto opaque = loadJob(drivertest::plainJobText());
  struct Case { jobstr* job; bool flattening; int told; };
  for (const Case c : {Case{transparent.get(), false, 0}, Case{transparent.get(), true, 1}, Case{opaque.get(), true, 0}}) {
    TavPDF::PDFSpaSetter setter(c.job, false);
    PDFSettings settings = flavour("Press");
    settings.EnableFlattening = c.flattening ? 1 : 0;
    TavPDF::SetFlattenerParameters(setter, settings);
    TavGen::MessageCapture capture;
    EXPECT_EQ(FlattenJobSpa(setter), nullptr);
    EXPECT_EQ(capture.count("PDF/TRANSPARENCY NOT FLATTENED"), c.told);
    EXPECT_FALSE(setter.cancelled());
  }
  // A cancelled operation marks the flattening cancelled.
  TavPDF::PDFSpaSetter setter(opaque.get(), false);
  TavSys::Progress::cancel();
  FlattenJobSpa(setter);
  TavSys::Progress::resetCancel();
  EXPECT_TRUE(setter.cancelled());
}

TEST(EntryPoints, NonSeparableBlendWarningOnlyForMisnamedProcessInks) {
  auto jobNamed = [&](const std::string& cyanName) {
    const std::string inks = R"([{"name":")" + cyanName + R"(","process":"cyan"},{"name":"Black","process":"black"}])";
    return loadJob(colouredSquares(inks, {"{\"" + cyanName + "\":100}", R"({"Black":50})"}));
  };
  auto lower = jobNamed("cyan");
  auto proper = jobNamed("Cyan");
  // The flag before, the batch mode, whether the warning is shown, the flag after.
  struct Case { jobstr* job; int flag; int batch; bool warned; int after; };
  for (const Case c : {Case{lower.get(), 1, 0, true, 1}, Case{proper.get(), 3, 0, false, 0},
                       Case{lower.get(), 0, 0, false, 0}, Case{lower.get(), 3, 1, false, 3}}) {
    pdfHasNonSeparableBlendmodes = c.flag;
    setArtque(c.batch);
    TavGen::MessageCapture capture;
    TavPDF::WarnNonSeparableBlendModes(c.job);
    setArtque(0);
    EXPECT_EQ(capture.count("PDF/NONSEPARABLE BLENDMODES MAY BE OUTPUT DIFFERENTLY"), c.warned ? 1 : 0) << c.flag;
    EXPECT_EQ(pdfHasNonSeparableBlendmodes, c.after) << c.flag;
  }
  pdfHasNonSeparableBlendmodes = 0;
}

TEST(Export, BlendModesAndTechnicalInksUnderTheSeparationDisabler) {
  tavtest::TestFolder dir;
  // Cyan is not output and a screen blend cannot be reproduced without it:
  // the separation disabler needs flattening.
  const std::string inks = R"([{"name":"Cyan","process":"cyan","output":false},{"name":"Black","process":"black"},)"
                           R"({"name":"Varnish","cmyk":[10,0,10,0],"technical":true}])";
  auto job = loadJob(colouredSquares(inks, {R"({"Black":100})"}, R"(,"blendMode":"screen")"));
  PDFSettings settings = flavour("Press");
  settings.UseSeparationDisabler = 1;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.message("PDF/SEPARATED PDF NEEDS FLATTENING").severity, TavGen::kError);
  EXPECT_FALSE(run.has("PDF/CANNOT MAKE SEPARATED PDF"));
  EXPECT_TRUE(drivertest::folderListing(dir.path()).empty());

  // A placed file that uses the ink that is not output cannot be written.
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  auto placed = loadJob(jobText(inks, "[]",
                                R"([{"id":30,"type":"picture","picture":1,"place":{"origin":[720,720],"widthCorner":[720,1720],"heightCorner":[1720,720]}}])",
                                "[" + square(720, 720, 1000, 30) + "]",
                                R"(,"pictures":[{"id":1,"file":"art.eps","inks":["Cyan"]}])"),
                        dir.path());
  const auto refused = exportJob(placed.get(), settings, dir / "out.pdf");
  EXPECT_EQ(refused.result, 1);
  EXPECT_EQ(refused.message("PDF/CANNOT MAKE SEPARATED PDF").severity, TavGen::kError);
  EXPECT_FALSE(fs::exists(dir / "out.pdf"));

  // A technical ink painted with a non-separable blend mode is told before
  // writing (whatever the writer then makes of the blend mode).
  auto technical = loadJob(colouredSquares(inks, {R"({"Varnish":100})"}, R"(,"blendMode":"hue","overprint":true)"));
  settings.UseSeparationDisabler = 0;
  const auto told = exportJob(technical.get(), settings, dir / "tech.pdf");
  EXPECT_EQ(told.message("TECHNICAL INKS WITH NONSEPARABLE BLENDMODE").severity, TavGen::kWarning);
  EXPECT_FALSE(told.has("TECHNICAL INKS NOT IN OVERPRINT")) << told.keys();
}

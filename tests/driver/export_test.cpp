// Whole exports through OutputPDFDocument: every flavour's file accepted by
// qpdf, Ghostscript and mutool with the right plates, every check's message
// and result, and a target that is never left damaged.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "driver/flattening.h"
#include "driver/visitors.h"
#include "driver/writepdf.h"
#include "pagewriter/pendingstream.h"
#include "platform/fonts/fontface.h"
#include "platform/utf.h"
#include <nlohmann/json.hpp>
#include "driver_support.h"
#include "platform/certify.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "support/consumers.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using namespace drivertest;

namespace {
const std::string kOldBytes = "the user's previous file";
const std::string kEps = R"("file":"art.eps")";
}  // namespace

TEST(Export, EveryFlavourWritesAFileTheConsumersAccept) {
  tavtest::TestFolder dir;
  for (const char* name : {"Press", "Viewing", "Reader", "Separated", "Normalized", "NormalizedEmbedded",
                           "Vistamo", "Custom"}) {
    SCOPED_TRACE(name);
    auto job = loadJob(plainJobText());
    const fs::path pdf = dir / (std::string(name) + ".pdf");
    exportAccepted(job.get(), flavour(name), pdf);
  }
  // The composite file carries each square in its inks.
  const auto plates = tavtest::measurePlates(dir / "Press.pdf");
  tavtest::expectInks(plates, {{"Cyan", 216, 504, 1.0}, {"Magenta", 216, 504, 0.4}, {"Orange", 504, 216, 1.0},
                               {"Green", 504, 504, 0.5}, {"Black", 504, 504, 0.2}, {"Cyan", 504, 216, 0.0}});
  MarksSettings marks;
  PDFSettings settings = flavour("Press");
  TavSys::FileSpec target(dir / "null.pdf");
  EXPECT_EQ(OutputPDFDocument(nullptr, settings, marks, true, false, nullptr, target, {}, nullptr), 1);
}

// Every check an export makes on a job: its result, its messages with their
// severity, and a target replaced on success only, never on a refusal.
TEST(Export, ChecksAnswerWithTheirResultAndMessages) {
  struct Told { const char* key; int severity; const char* text = ""; };
  struct Case {
    const char* what;
    std::string job;
    std::string settings;  // the flavour, then "Field=Value" overrides
    int result;  // -1: whatever the writer then makes of the job; else 0 or a failure
    std::vector<Told> told;
    std::vector<const char*> notTold = {};
    int batch = 0;
    bool force = false;
  };
  const int kError = TavGen::kError, kWarning = TavGen::kWarning;
  const std::string cmykConflict = colouredSquares(
      R"([{"name":"Process Cyan","process":"cyan"},{"name":"Cyan","cmyk":[100,0,0,0]},{"name":"Black","process":"black"}])",
      {R"({"Process Cyan":100})", R"({"Cyan":50})"});
  const std::string remapInks = R"([{"name":"Cyan","process":"cyan"},{"name":"A","cmyk":[0,50,0,0],"mapTo":"C"},)"
                                R"({"name":"B","cmyk":[0,0,50,0],"mapTo":"C"},{"name":"C","cmyk":[0,50,50,0]}])";
  const auto blended = [](const std::string& mode) {
    return placedJob(kStandardInks, kEps, R"(,{"id":20,"inks":{"Cyan":100}})",
                     R"(,{"id":31,"type":"flat","colour":20,"blendMode":")" + mode + "\"}",
                     "," + square(3000, 3000, 1000, 31));
  };
  // Cyan is not output: a screen blend cannot be reproduced without it.
  const std::string unoutput = R"([{"name":"Cyan","process":"cyan","output":false},{"name":"Black","process":"black"},)"
                               R"({"name":"Varnish","cmyk":[10,0,10,0],"technical":true}])";
  const std::string technical =
      jobText(R"([{"name":"Cyan","process":"cyan","technical":true},{"name":"Black","process":"black"},)"
              R"({"name":"Die","cmyk":[0,100,0,0],"technical":true}])",
              R"([{"id":20,"inks":{"Die":100}},{"id":21,"inks":{"Black":100}}])",
              R"([{"id":30,"type":"flat","colour":20},{"id":31,"type":"flat","colour":21}])",
              R"([{"kind":"layer","name":"Art","objects":[)" + square(720, 720, 900, 30) + R"(]},)"
              R"({"kind":"layer","name":"Hidden","hidden":true,"objects":[)" + square(2000, 720, 900, 31) + "]}]");
  const char* kNormalized = "PDF/INVALID OBJECTS FOR NORMALIZED PDF OUTPUT";
  // The 7200-unit media box at other resolutions: 14,400 points a side (the
  // largest page PDF consumers take) at 36, beyond it at 35.
  const auto atPpi = [](const std::string& ppi) {
    std::string text = plainJobText();
    return text.replace(text.find("\"ppi\":720"), 9, "\"ppi\":" + ppi);
  };
  std::string tiny = plainJobText();
  tiny.replace(tiny.find("[0,0,7200,7200]"), 15, "[0,0,20,7200]");
  const char* kCannotWrite = "PDF/CANNOT WRITE PDF FILE";
  const char* kCouldNotWrite = "PDF/COULD NOT WRITE PDF FILE";
  const std::string gradient = jobText(
      kStandardInks, R"([{"id":20,"inks":{"Cyan":100}},{"id":21,"inks":{"Yellow":100}}])",
      R"([{"id":30,"type":"linear","colour":20,"colour2":21,"start":[720,720],"end":[720,3600]}])",
      "[" + square(720, 720, 2880, 30) + "]");
  const Case cases[] = {
      {"a page too large for PDF", atPpi("35"), "Press", 1,
       {{"PDF/PAGE SIZE OUT OF RANGE", TavGen::kBatchError, "14811.4 x 14811.4 points"}}},
      {"the largest page", atPpi("36"), "Press", 0, {}, {"PDF/PAGE SIZE OUT OF RANGE"}},
      {"a page too small for PDF", tiny, "Separated", 1,
       {{"PDF/PAGE SIZE OUT OF RANGE", TavGen::kBatchError, "720.0 x 2.0 points"}}},
      {"separated output without separations", jobText(kStandardInks, "[]", "[]", "[]"), "Separated", 1,
       {{"PDF/NO SEPARATIONS FOUND", kError}}},
      {"placed EPS in normalized output", placedJob(kStandardInks, kEps), "Normalized",
       TavPDF::kExportInvalidForNormalized,
       {{kNormalized, kError, "cannot hold: the EPS file \"art.eps\", placed by a path (test.json: /objects/0)."}}},
      {"two of them, the first named", placedJob(kStandardInks, kEps, "", "", "," + square(3000, 3000, 1000, 30)),
       "Normalized", TavPDF::kExportInvalidForNormalized,
       {{kNormalized, kError, "placed by a path (test.json: /objects/0), and 1 other object."}}},
      {"the same in batch mode", placedJob(kStandardInks, kEps), "Normalized", TavPDF::kExportInvalidForNormalized,
       {{kNormalized, TavGen::kBatchError}}, {}, 1},
      {"the same as a conversion task", placedJob(kStandardInks, kEps), "Normalized",
       TavPDF::kExportInvalidForNormalized, {{"PDF/INVALID OBJECTS FOR NORMALIZED PDF CONVERSION TASK", kError}}, {}, 2},
      // Found only while the one-up's form is written: no file with an empty form.
      // Its place is in the one-up's file; what the page had shown of the
      // file that is not written (its hidden layer, the one-up's empty form)
      // is not told.
      {"a one-up placing an EPS file in normalized output",
       placedJob(kStandardInks, R"("file":"oneup.json")", "", "",
                 R"(,{"kind":"layer","name":"Hidden","hidden":true,"objects":[)" + square(3000, 720, 900, 30) + "]}"),
       "Normalized", TavPDF::kExportInvalidForNormalized,
       {{kNormalized, kError, "oneup.json: /objects/0)."}},
       {"HIDDEN PRINTING LAYERS", "HIDDEN LAYERS PRINTED", "PDF/DEFERRED OBJECT NOT WRITTEN", "PDF/NOT WRITTEN YET"}},
      {"placed EPS in separated output", blended("normal"), "Separated", 1,
       {{"PDF/CANNOT MAKE SEPARATED PDF", kError, "separated: the EPS file \"art.eps\", placed by a path (test.json: /objects/0)."}},
       {"PDF/SEPARATED PDF NEEDS FLATTENING"}},
      {"and a screen blend", blended("screen"), "Separated", 1,
       {{"PDF/CANNOT MAKE SEPARATED PDF", kError}, {"PDF/SEPARATED PDF NEEDS FLATTENING", -1}}},
      {"flattening takes the blend", blended("screen"), "Separated EnableFlattening=1", 1,
       {{"PDF/CANNOT MAKE SEPARATED PDF", kError}}, {"PDF/SEPARATED PDF NEEDS FLATTENING"}},
      {"process ink and a separation of its name", cmykConflict, "Press ProcessCMYKFlags=1", 1,
       {{"PDF/CMYK SEPARATION CONFLICT", kError, "Process Cyan and the separation Cyan"}}},
      {"without CMYK flags the names are only compared", cmykConflict, "Press ProcessCMYKFlags=0", 0,
       {{"PROCESS INK NAME MISMATCH", kWarning, "Cyan"}}},
      {"names that differ in case only",
       colouredSquares(R"([{"name":"CYAN","process":"cyan"},{"name":"black","process":"black"}])", {R"({"CYAN":100})"}),
       "Press", 0, {}, {"PROCESS INK NAME MISMATCH"}},
      {"two inks remapped onto one", colouredSquares(remapInks, {R"({"A":100,"B":40})"}), "Press UseSeparationDisabler=1",
       TavPDF::kExportRemapProblem,
       {{"PDF/UNABLE TO REMAP TWO TO ONE OBJECT", kError, "uses A and B, which are both remapped onto C"}},
       {"PDF/INKS NOT RENAMED"}},
      // Force passes the remap problem, but the colour's two inks cannot
      // both become C in the file: no file with a colour naming C twice.
      {"the same forced", colouredSquares(remapInks, {R"({"A":100,"B":40})"}), "Press UseSeparationDisabler=1", 1,
       {{"PDF/UNABLE TO REMAP TWO TO ONE OBJECT", -1}, {"PDF/CANNOT RENAME INKS", kError, "\"A\" and \"B\""},
        {"PDF/INKS NOT RENAMED", TavGen::kBatchError}},
       {}, 0, true},
      {"a plain remapping", colouredSquares(remapInks, {R"({"A":100})"}), "Press UseSeparationDisabler=1", 0, {},
       {"PDF/INKS NOT RENAMED"}},
      {"no remapping without the disabler", colouredSquares(remapInks, {R"({"A":100})"}), "Press", 0, {},
       {"PDF/INKS NOT RENAMED"}},
      {"disabler and a blend needing the ink not output",
       colouredSquares(unoutput, {R"({"Black":100})"}, R"(,"blendMode":"screen")"), "Press UseSeparationDisabler=1", 1,
       {{"PDF/SEPARATED PDF NEEDS FLATTENING", kError}}, {"PDF/CANNOT MAKE SEPARATED PDF"}},
      {"disabler and a placed file using the ink not output",
       placedJob(unoutput, R"("file":"art.eps","inks":["Cyan"])"), "Press UseSeparationDisabler=1", 1,
       {{"PDF/CANNOT MAKE SEPARATED PDF", kError,
         "\"art.eps\" (it uses the ink Cyan, which is not output), placed by a path (test.json: /objects/0)."}}},
      {"technical inks and hidden layers", technical, "Press IncludeLayers=1", 0,
       {{"TECHNICAL INKS NOT IN OVERPRINT", kWarning}, {"PROCESS INK MARKED TECHNICAL", kWarning},
        {"HIDDEN PRINTING LAYERS", kWarning}},
       {"TECHNICAL INKS WITH NONSEPARABLE BLENDMODE", "HIDDEN LAYERS PRINTED"}},
      // The crop marks' registration colour prints on every ink alike.
      {"crop marks on a job whose technical ink overprints",
       colouredSquares(unoutput, {R"({"Varnish":100})"}, R"(,"overprint":true)"), "Press AddRegistrationMarks=1", 0,
       {}, {"TECHNICAL INKS NOT IN OVERPRINT"}},
      {"crop marks on a job whose technical ink knocks out",
       colouredSquares(unoutput, {R"({"Varnish":100})"}), "Press AddRegistrationMarks=1", 0,
       {{"TECHNICAL INKS NOT IN OVERPRINT", kWarning}}},
      {"hidden layers without layers in the file", technical, "Custom", 0, {{"HIDDEN LAYERS PRINTED", kWarning}},
       {"HIDDEN PRINTING LAYERS"}},
      {"technical ink with a non-separable blend",
       colouredSquares(unoutput, {R"({"Varnish":100})"}, R"(,"blendMode":"hue","overprint":true)"), "Press", -1,
       {{"TECHNICAL INKS WITH NONSEPARABLE BLENDMODE", kWarning}}, {"TECHNICAL INKS NOT IN OVERPRINT"}},
      // A picture that cannot be drawn is named, nothing reads like a disk
      // problem, and no file is written without it.
      {"a placed EPS file without a bounding box is named, and no file written without it",
       placedJob(kStandardInks, kEps), "Press", 1, {{"PDF/UNSUPPORTED PICTURE TYPE", TavGen::kBatchError, "art.eps"}},
       {kCannotWrite, kCouldNotWrite}},
      {"a gradient as a shading", gradient, "Press", 0, {}, {"PDF/OBJECT NOT SUPPORTED YET"}},
      {"the same asked for as an image", gradient, "Press OutputGradientsAsImages=1", 0, {},
       {"PDF/OBJECT NOT SUPPORTED YET"}},
      {"a process ink defined as another colour",
       colouredSquares(R"([{"name":"Cyan","process":"cyan"},{"name":"Black","process":"black","cmyk":[0,0,0,80]}])",
                       {R"({"Black":100})"}),
       "Press", 0, {{"BAD CMYK SEPARATION", kWarning, "\"Black\""}}},
      {"the same left unused", colouredSquares(R"([{"name":"Cyan","process":"cyan"},)"
                                               R"({"name":"Black","process":"black","cmyk":[0,0,0,80]}])",
                                               {R"({"Cyan":100})"}),
       "Press", 0, {}, {"BAD CMYK SEPARATION"}},
      {"and in an export that fails", blended("normal"), "Separated", 1, {}, {"BAD CMYK SEPARATION"}},
  };
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "art.eps", "%!PS-Adobe-3.0 EPSF-3.0\n");
  tavtest::writeFile(dir / "oneup.json", placedJob(kStandardInks, kEps));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::writeFile(dir / "out.pdf", kOldBytes);
    const auto before = tavtest::folderListing(dir.path());
    auto job = loadJob(c.job, dir.path());
    const PDFSettings settings = flavour(c.settings);
    setArtque(c.batch);
    const auto run = exportJob(job.get(), settings, dir / "out.pdf", c.force);
    setArtque(0);
    if (c.result != -1) {
      EXPECT_EQ(run.result, c.result) << run.keys();
    }
    for (const Told& t : c.told) {
      if (!run.has(t.key)) {
        ADD_FAILURE() << "no " << t.key << " among " << run.keys();
        continue;
      }
      const auto& m = run.message(t.key);
      if (t.severity >= 0) {
        EXPECT_EQ(m.severity, t.severity) << t.key;
      }
      EXPECT_NE(m.text.find(t.text), std::string::npos) << m.text;
    }
    for (const char* key : c.notTold) EXPECT_FALSE(run.has(key)) << key << " in " << run.keys();
    if (c.result == 0) {
      EXPECT_EQ(tavtest::readFile(dir / "out.pdf").substr(0, 5), "%PDF-");
    } else if (c.result != -1) {
      EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
      EXPECT_EQ(tavtest::folderListing(dir.path()), before);
      EXPECT_TRUE(job->editHistory.entries().empty());
    }
  }
}

// The stock flavours and every preview the settings offer are written:
// nothing is reported as left out.
TEST(Export, SaysWhatItLeavesOut) {
  const std::string screened = jobText(
      kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])", R"([{"id":30,"type":"flat","colour":20,"screen":1}])",
      "[" + square(720, 720, 900, 30) + "]", R"(,"screens":[{"id":1,"kind":"classic","ruling":150}])");
  struct Case {
    const char* flavour;
    std::string job;
    std::vector<std::string> named;  // the warnings' texts contain these, one each
  };
  const Case cases[] = {
      {"Reader", plainJobText(), {}},
      {"Press", plainJobText(), {}},
      {"Press IncludeScreening=1 AddThumbnail=1 IncludeSeparatedPreview=1 IncludeVornPreview=1", screened, {}},
      {"Normalized", plainJobText(), {}},
      {"NormalizedEmbedded", plainJobText(), {}},
      {"Separated", plainJobText(), {}},
      {"Viewing", plainJobText(), {}},
  };
  tavtest::TestFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flavour);
    auto job = loadJob(c.job);
    const auto run = exportJob(job.get(), flavour(c.flavour), dir / "out.pdf");
    ASSERT_EQ(run.result, 0) << run.keys();
    std::string texts;
    std::size_t count = 0;
    for (const auto& m : run.messages) {
      if (m.key != "PDF/NOT WRITTEN YET") continue;
      EXPECT_EQ(m.severity, TavGen::kWarning);
      texts += m.text + "\n";
      ++count;
    }
    EXPECT_EQ(count, c.named.size()) << texts;
    for (const std::string& name : c.named) EXPECT_NE(texts.find(name), std::string::npos) << name << " in " << texts;
  }
}

// An object the page writer cannot write stops the export with a message
// naming the object as the job file has it: its kind, its name and its
// place, in the one-up's own file when it lies there. (Every kind of object
// has its writer; the pattern writer is taken away for the test.)
TEST(Export, AnObjectThatCannotBeWrittenIsNamedWithItsPlace) {
  struct NoPatternWriter {
    NoPatternWriter() { TavPDF::SetPendingStreamWriter(TavPDF::kPendingPattern, nullptr); }
    ~NoPatternWriter() {
      TavPDF::SetPendingStreamWriter(TavPDF::kPendingPattern,
                                     TavPDF::DefaultPendingStreamWriter(TavPDF::kPendingPattern));
    }
  } noPatternWriter;
  const std::string patternPaint = R"(,{"id":31,"type":"pattern","pattern":1})";
  const std::string pattern = R"(,"patterns":[{"id":1,"cell":[0,0,100,100],"objects":[)" + square(0, 0, 50, 30) + "]}]";
  const std::string tiles = R"({"kind":"group","name":"tiles","objects":[)" + square(720, 720, 900, 30) + "," +
                            square(2000, 720, 900, 31, R"(,"name":"tiled")") + "]}";
  const std::string job = jobText(kStandardInks, R"([{"id":20,"inks":{"Cyan":100}}])",
                                  R"([{"id":30,"type":"flat","colour":20})" + patternPaint + "]",
                                  "[" + square(720, 3000, 900, 30) + "," + tiles + "]", pattern);
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "oneup.json", job);
  const struct {
    const char* what;
    std::string job;
    std::string named;
  } cases[] = {
      {"a path of a group", job, "a pattern fill in the path \"tiled\" (test.json: /objects/1/objects/1), which"},
      {"the same in a one-up", placedJob(kStandardInks, R"("file":"oneup.json")"),
       "a pattern fill in the path \"tiled\" (" + (dir / "oneup.json").string() + ": /objects/1/objects/1), which"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tavtest::writeFile(dir / "out.pdf", kOldBytes);
    auto loaded = loadJob(c.job, dir.path());
    const auto run = exportJob(loaded.get(), flavour("Press"), dir / "out.pdf");
    EXPECT_NE(run.result, 0);
    ASSERT_TRUE(run.has("PDF/OBJECT NOT SUPPORTED YET")) << run.keys();
    EXPECT_NE(run.message("PDF/OBJECT NOT SUPPORTED YET").text.find(c.named), std::string::npos)
        << run.message("PDF/OBJECT NOT SUPPORTED YET").text;
    EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
  }
}

TEST(Export, MaximumSizeWarningNamesBothSizes) {
  tavtest::TestFolder dir;
  std::vector<std::string> colours;
  for (int i = 0; i < 6; ++i) colours.push_back(R"({"Cyan":)" + std::to_string(10 + i) + "}");
  auto job = loadJob(colouredSquares(kStandardInks, colours));
  PDFSettings settings = flavour("Press", "MaxSizeEnabled=1 MaxSize=1 CompressPages=0");
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
  std::vector<std::string> exported, exportedBytes;
  bool cancel = false;
  int handle = TavCertify::PDFCertify::broadcaster().AddReceiver(
      [this](std::uint32_t id, TavSys::BroadcastParameter& p) {
        auto& param = dynamic_cast<TavCertify::BroadcastParameterPDFExporter&>(p);
        ids.push_back(id);
        exported.push_back(param.exportedFile().GetFullPathUTF8());
        if (id == TavCertify::kBroadcastAfterPDFExport)
          exportedBytes.push_back(tavtest::readFile(param.exportedFile().path()));
        if (cancel && id == TavCertify::kBroadcastBeforePDFExport) param.SetCancel(true);
      });
  ~Receivers() { TavCertify::PDFCertify::broadcaster().RemoveReceiver(handle); }
};
}  // namespace

TEST(Export, CertifiedJobsGetEditLogEntriesAndBroadcastsThatCanCancel) {
  tavtest::TestFolder dir;
  const std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Skip","cmyk":[0,100,0,0],"output":false},)"
                           R"({"name":"Black","process":"black"},{"name":"Orange","cmyk":[0,60,100,0]}])";
  const std::string certified = R"(,"certified":{"creator":"Editor 9","creationDate":1600000000})";
  auto job = loadJob(colouredSquares(inks, {R"({"Cyan":100,"Black":100,"Orange":100})"}, "", certified));
  const PDFSettings settings = flavour("Press", "CertifiedEnabled=1 UseSeparationDisabler=1");
  Receivers receivers;
  const auto run = exportJob(job.get(), settings, dir / "out.pdf");
  ASSERT_EQ(run.result, 0) << run.keys();
  ASSERT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457869, 0x63457870}));
  EXPECT_EQ(receivers.exported[0], (dir / "out.pdf").string());
  // The receivers after writing see the complete file.
  const std::string bytes = tavtest::readFile(dir / "out.pdf");
  EXPECT_EQ(receivers.exportedBytes, std::vector<std::string>{bytes});
  // The certified creator and creation date go into the Info dictionary.
  EXPECT_NE(bytes.find("/CreationDate (D:20200913122640Z)"), std::string::npos);
  EXPECT_NE(bytes.find("/Creator (Editor 9)"), std::string::npos);
  std::vector<std::string> lines;
  for (const EditEntry& e : job->editHistory.entries()) lines.push_back(std::to_string(e.code) + " " + e.text);
  EXPECT_EQ(lines, (std::vector<std::string>{"33 Exported to the PDF file " + (dir / "out.pdf").string(),
                                             "51 * Separation  1: Cyan", "51 * Separation  2: Black",
                                             "51 * Separation  3: Orange"}));
  EXPECT_EQ(job->certified->originalPDFFullPath, (dir / "out.pdf").string());

  // A receiver cancels before writing: nothing is written, the inks are
  // enabled again.
  receivers.ids.clear();
  receivers.cancel = true;
  const auto before = tavtest::folderListing(dir.path());
  EXPECT_EQ(exportJob(job.get(), settings, dir / "out.pdf").result, 1);
  receivers.cancel = false;
  EXPECT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457869}));
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), bytes);
  EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  for (int i = 0; i < job->inkCount; ++i) EXPECT_TRUE(sepIsEnabled(job.get(), i));

  // A job without certified info: no entries and no "before" broadcast, but
  // the "after" broadcast still goes out.
  auto plain = loadJob(plainJobText());
  receivers.ids.clear();
  EXPECT_EQ(exportJob(plain.get(), settings, dir / "plain.pdf").result, 0);
  EXPECT_TRUE(plain->editHistory.entries().empty());
  EXPECT_EQ(receivers.ids, (std::vector<std::uint32_t>{0x63457870}));
}

TEST(ExportSafety, FailuresKeepTheOldTargetAndLeaveNoTemporaryFile) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "out.pdf", kOldBytes);
  const auto before = tavtest::folderListing(dir.path());
  auto job = loadJob(plainJobText());
  // A cancel while writing.
  int asked = 0;
  TavSys::Progress::setCancelHook([&] { return ++asked > 3; });
  auto run = exportJob(job.get(), flavour("Press"), dir / "out.pdf");
  TavSys::Progress::setCancelHook({});
  TavSys::Progress::resetCancel();
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.has("PDF/EXPORT CANCELLED")) << run.keys();
  EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), kOldBytes);
  EXPECT_EQ(tavtest::folderListing(dir.path()), before);

  // Through the temporary folder the target is replaced once complete.
  PDFSettings::msUseTempFolder = 1;
  run = exportJob(job.get(), flavour("Press"), dir / "out.pdf");
  PDFSettings::msUseTempFolder = 0;
  EXPECT_EQ(run.result, 0) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  EXPECT_EQ(tavtest::folderListing(dir.path()).size(), 1u);
}

TEST(ExportSafety, TargetThatCannotBeCreatedOrReplaced) {
  tavtest::TestFolder dir;
  auto job = loadJob(plainJobText());
  // A link to the target: the file it names is replaced, the link stays.
  tavtest::writeFile(dir / "real.pdf", kOldBytes);
  fs::create_symlink(dir / "real.pdf", dir / "link.pdf");
  EXPECT_EQ(exportJob(job.get(), flavour("Press"), dir / "link.pdf").result, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
  EXPECT_EQ(tavtest::readFile(dir / "real.pdf").substr(0, 5), "%PDF-");

  // A folder that cannot be written: without write permission, or (for
  // root, who may write anyway) on a read-only file system.
  const fs::path locked = dir / "locked";
  fs::create_directory(locked);
  int lockedError = EACCES;
  bool mounted = false;
  if (::geteuid() != 0) {
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  } else {
    mounted = tavtest::runProcess({"mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", locked.string()}).exitCode == 0;
    lockedError = mounted ? EROFS : 0;
  }
  fs::create_directory(dir / "taken.pdf");
  const auto before = tavtest::folderListing(dir.path());
  const char* kOpen = "PDF/COULD NOT OPEN PDF FILE";
  struct Case { fs::path target; int error; const char* key; int severity; };
  // A missing folder; a folder in the target's place; a full device, which
  // is written in place, never replaced by a plain file; the locked folder.
  for (const Case& c : {Case{dir / "missing" / "out.pdf", ENOENT, kOpen, TavGen::kError},
                        Case{dir / "taken.pdf", EISDIR, kOpen, TavGen::kError},
                        Case{"/dev/full", ENOSPC, "PDF/COULD NOT WRITE PDF FILE", TavGen::kBatchError},
                        Case{locked / "out.pdf", lockedError, kOpen, TavGen::kError}}) {
    if (c.error == 0) continue;  // no read-only file system to be had
    SCOPED_TRACE(c.target.string());
    const auto run = exportJob(job.get(), flavour("Press"), c.target);
    EXPECT_EQ(run.result, TavSys::kFileErrorBase + c.error) << run.keys();
    if (run.has(c.key)) {
      EXPECT_EQ(run.message(c.key).severity, c.severity);
    } else {
      ADD_FAILURE() << "no " << c.key << " among " << run.keys();
    }
    EXPECT_EQ(tavtest::folderListing(dir.path()), before);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  if (mounted) tavtest::runProcess({"umount", locked.string()});
  fs::permissions(locked, fs::perms::owner_all);
}

TEST(Export, JobIsRestoredAfterwardsAndTheArchiveHearsOfTheFile) {
  tavtest::TestFolder dir;
  auto job = loadJob(plainJobText());
  const auto origin = getOriginalOrigin(job.get());
  const std::size_t members = jobGetSpahan(job.get())->memberCount();
  const std::size_t paints = job->paints.size();
  TavricCore::Archive archive;
  TavricCore::Archive::Attach(job.get(), &archive);
  const auto run = exportJob(job.get(), flavour("Normalized", "AddRegistrationMarks=1"), dir / "out.pdf");
  TavricCore::Archive::Attach(job.get(), nullptr);
  ASSERT_EQ(run.result, 0) << run.keys();
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");
  EXPECT_EQ(getOriginalOrigin(job.get()), origin);
  EXPECT_EQ(jobGetSpahan(job.get())->memberCount(), members);
  EXPECT_EQ(job->paints.size(), paints);
  ASSERT_EQ(archive.entries().size(), 1u);
  EXPECT_EQ(archive.entries()[0].file.path(), dir / "out.pdf");
  // The marks layer was recorded in the edit history and taken away again.
  std::vector<int> codes;
  for (const EditEntry& e : job->editHistory.entries()) codes.push_back(e.code);
  EXPECT_EQ(codes, (std::vector<int>{22, 43}));
}

TEST(EntryPoints, LinkParametersAreDeclaredOnJobEventsOnly) {
  auto job = loadJob(plainJobText());
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

TEST(Flattener, TransparentJobsGiveAFlattenedTreeWhenFlatteningIsOn) {
  auto transparent = loadJob(colouredSquares(kStandardInks, {R"({"Cyan":100})", R"({"Orange":100})"},
                                             R"(,"opacity":50)"));
  auto opaque = loadJob(plainJobText());
  struct Case { jobstr* job; bool flattening; bool tree; };
  for (const Case c : {Case{transparent.get(), false, false}, Case{transparent.get(), true, true}, Case{opaque.get(), true, false}}) {
    JobStateGuard guard(c.job);
    TavPDF::PDFSpaSetter setter(c.job, false);
    TavPDF::SetFlattenerParameters(setter, flavour("Press", c.flattening ? "EnableFlattening=1" : "EnableFlattening=0"));
    const std::unique_ptr<TavDB::Object> tree = FlattenJobSpa(setter);
    EXPECT_EQ(tree != nullptr, c.tree);
    EXPECT_FALSE(setter.cancelled());
    if (tree) {
      EXPECT_FALSE(jobHasTransparency(c.job, tree.get()));
    }
  }
  // A cancelled operation marks the flattening cancelled and gives no tree.
  TavPDF::PDFSpaSetter setter(transparent.get(), false);
  TavPDF::SetFlattenerParameters(setter, flavour("Press", "EnableFlattening=1"));
  TavSys::Progress::cancel();
  EXPECT_EQ(FlattenJobSpa(setter), nullptr);
  TavSys::Progress::resetCancel();
  EXPECT_TRUE(setter.cancelled());
}

TEST(EntryPoints, NonSeparableBlendWarningOnlyForMisnamedProcessInks) {
  auto jobNamed = [&](const std::string& cyan) {
    return loadJob(colouredSquares(R"([{"name":")" + cyan + R"(","process":"cyan"},{"name":"Black","process":"black"}])",
                                   {"{\"" + cyan + "\":100}", R"({"Black":50})"}));
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

// A page of 60 spot inks (as many as Ghostscript separates) and the four
// process inks: every consumer reads it, and each ink's plate holds its own
// square and its share of a colour that mixes all of them.
TEST(Export, SixtySpotInksOnOnePageReachTheirPlates) {
  constexpr int kSpots = 60;
  std::string inks = R"([{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
                     R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"})";
  std::string colours = R"([{"id":99,"inks":{"Cyan":30)", paints = R"([{"id":199,"type":"flat","colour":99})";
  std::string objects = "[" + square(5900, 300, 1200, 199);
  const auto share = [](int i) { return (i % 9 + 1) * 10; };
  for (int i = 0; i < kSpots; ++i) {
    const std::string n = std::to_string(i);
    inks += R"(,{"name":"S)" + n + R"(","cmyk":[)" + std::to_string(i % 100) + ",40,0,0]}";
    colours += R"(,"S)" + n + "\":" + std::to_string(share(i));
    paints += R"(,{"id":)" + std::to_string(200 + i) + R"(,"type":"flat","colour":)" + std::to_string(100 + i) + "}";
    objects += "," + square(300 + i / 8 * 700, 300 + i % 8 * 700, 500, 200 + i);
  }
  colours += "}}";
  for (int i = 0; i < kSpots; ++i)
    colours += R"(,{"id":)" + std::to_string(100 + i) + R"(,"inks":{"S)" + std::to_string(i) + "\":100}}";
  tavtest::TestFolder dir;
  auto job = loadJob(jobText(inks + "]", colours + "]", paints + "]", objects + "]"));
  exportAccepted(job.get(), flavour("Press"), dir / "out.pdf");
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  ASSERT_EQ(plates.plates.size(), std::size_t(kSpots + 4)) << plates.summary();
  for (int i = 0; i < kSpots; ++i) {
    const std::string ink = "S" + std::to_string(i);
    const double x = (300 + i % 8 * 700 + 250) / 10.0, y = (7200 - (300 + i / 8 * 700 + 250)) / 10.0;
    EXPECT_NEAR(plates.inkAtPoint(ink, x, y), 1.0, 0.01) << ink;
    EXPECT_NEAR(plates.inkAtPoint(ink, 90, 70), share(i) / 100.0, 0.01) << ink << " in the mixed colour";
  }
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 90, 70), 0.3, 0.01);
}

// A batch process keeps a job open from one document to the next. Before each
// document the job's font cache is made anew from the tree, so that the
// characters its texts show now have codes, however many other characters
// they showed before; the marker file in the application folder turns that off.
TEST(ExportBatch, FontCacheFollowsTheTextsOfTheTree) {
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusSans-Regular");
  ASSERT_NE(face, nullptr);
  // Two sets of 150 characters beyond ASCII that the font shows: together
  // more than the 224 codes one font has in a job.
  std::string first, second;
  int found = 0;
  for (char32_t ch = 0xA1; ch < 0x3000 && found < 300; ++ch) {
    if (face->glyphForUnicode(ch) < 0) continue;
    std::string& text = found++ < 150 ? first : second;
    text += TavSys::Uni16CharToUTF8(std::u16string(1, char16_t(ch))) + (found % 20 == 0 ? " " : "");
  }
  ASSERT_EQ(found, 300);
  auto textJob = [](const std::string& text) {
    return jobText(kStandardInks, R"([{"id":1,"inks":{"Black":100}}])", R"([{"id":10,"type":"flat","colour":1}])",
                   R"([{"kind":"text","at":[1000,720],"width":5000,"runs":[{"text":)" +
                       nlohmann::json(text).dump() + R"(,"font":"NimbusSans-Regular","size":8,"paint":10}]}])");
  };
  tavtest::TestFolder dir, app;
  tavtest::writeFile(app / "UpdateFontCacheOutlines.disabler", "");
  struct Case {
    const char* what;
    int batch;
    bool marker;
    bool shown;  // every character of the second set shown
  };
  for (const Case& c : {Case{"batch", 1, false, true}, Case{"batch with the marker", 1, true, false}}) {
    SCOPED_TRACE(c.what);
    auto job = loadJob(textJob(first), dir.path());
    // The host edits the text: the second set replaces the first.
    jobGetSpahan(job.get())->member(0)->textMut()->runs[0].text = second;
    if (c.marker) ::setenv("TAV_APPLICATION_FOLDER", app.path().c_str(), 1);
    setArtque(c.batch);
    const auto run = exportJob(job.get(), flavour("Press"), dir / "text.pdf");
    setArtque(0);
    ::unsetenv("TAV_APPLICATION_FOLDER");
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_EQ(run.has("PDF/CHARACTER NOT IN FONT"), !c.shown) << run.keys();
    if (!c.shown) continue;
    tavtest::expectPdfAcceptedByAllConsumers(dir / "text.pdf");
    std::string extracted = tavtest::runProcess({"pdftotext", (dir / "text.pdf").string(), "-"}).out;
    std::erase_if(extracted, [](char ch) { return ch == '\n' || ch == ' ' || ch == '\f'; });
    std::string expected = second;
    std::erase(expected, ' ');
    EXPECT_EQ(extracted, expected);
  }
}

// Ink renaming in a written file: colour spaces print on the ink their ink
// is mapped onto (or nowhere), the private ink lists follow, and a file
// without a rename stays as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#include "driver/inkrename.h"
#include "driver_support.h"
#include "platform/messages.h"
#include "support/consumers.h"
#include "support/pdfbuilder.h"
#include "support/pdfread.h"
#include "support/plate_checks.h"

namespace fs = std::filesystem;
using tavtest::at;

namespace {

// Squares in Separation A, Separation C, DeviceN [A E] and a form with
// Separation B; the private ink lists of the Catalog and of the form.
void writeInks(const fs::path& file) {
  tavtest::PdfBuilder b;
  const std::string tint = b.object("<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.5 0 0] /N 1 >>");
  const std::string two = b.stream("<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1] >>",
                                   "{ pop pop 0 0 0 0 }");
  const auto sep = [&](const std::string& ink) { return "[/Separation /" + ink + " /DeviceCMYK " + tint + "]"; };
  const std::string deviceN = "[/DeviceN [/A /E] /DeviceCMYK " + two + " << /Colorants << /A " + sep("A") +
                              " >> /MixingHints << /PrintingOrder [/A /E] /Solidities << /A 1 /E 0.5 >> >> >>]";
  const std::string form = b.stream(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 200 50] /Resources << /ColorSpace << /S " + sep("B") +
          " >> >> /PieceInfo << /VornPNPDFO << /Private << /Colors [[" + sep("A") + " 0 << /A 1 >>] [" + deviceN +
          " 0 0 << /A 2 /E 3 >>] [" + sep("C") + " 0 << /C 4 >>]] >> >> >> >>",
      "/S cs 1 scn 150 0 50 50 re f");
  b.catalog("/PieceInfo", "<< /inPDF << /Inks [(inks) [/A /B /C /E] 0 0 << /MixingHints << /PrintingOrder [/A /B] "
                          ">> /inpd:InkTypes << /A /Normal /C /Opaque >> >>] >> >>");
  b.page("/Resources << /ColorSpace << /CA " + sep("A") + " /CC " + sep("C") + " /N " + deviceN +
             " >> /XObject << /F " + form + " >> >>",
         {"/CA cs 1 scn 0 0 50 50 re f /CC cs 1 scn 50 0 50 50 re f /N cs 1 1 scn 100 0 50 50 re f /F Do"}, 200,
         50);
  b.write(file);
}

std::string inks(const std::string& a, const std::string& c) {
  return R"([{"name":"A","cmyk":[0,50,0,0])" + a + R"(},{"name":"B","cmyk":[0,0,50,0]},)"
         R"({"name":"C","cmyk":[50,0,0,0])" + c + R"(},{"name":"D","cmyk":[0,0,0,50],"output":false},)"
         R"({"name":"E","cmyk":[20,20,0,0]}])";
}

std::unique_ptr<jobstr> jobWith(const std::string& inkList) {
  return drivertest::loadJob(drivertest::jobText(inkList, "[]", "[]", "[]"));
}

}  // namespace

TEST(InkRenaming, MappedInksPrintOnTheirTargetAndTheInkListsFollow) {
  tavtest::TestFolder dir;
  writeInks(dir / "out.pdf");
  auto job = jobWith(inks(R"(,"mapTo":"B")", R"(,"mapTo":"D")"));
  TavGen::MessageCapture messages;
  ASSERT_EQ(TavPDF::RenameInksInWrittenFile(job.get(), TavSys::FileSpec(dir / "out.pdf")), 0);
  EXPECT_TRUE(messages.messages().empty());
  tavtest::expectPdfAcceptedByAllConsumers(dir / "out.pdf");

  // A prints on B; C, mapped onto an ink that is not output, prints nowhere.
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  EXPECT_EQ(plates.plates.count("A"), 0u) << plates.summary();
  EXPECT_EQ(plates.plates.count("C"), 0u) << plates.summary();
  tavtest::expectInks(plates, {{"B", 25, 25, 1}, {"B", 75, 25, 0}, {"B", 125, 25, 1}, {"E", 125, 25, 1},
                               {"B", 175, 25, 1}});

  // The colour spaces, and the private lists: A became B; C keeps its name
  // (it is not renamed to an ink, it only prints nowhere).
  tavtest::Pdf pdf(dir / "out.pdf");
  const std::string colors = "/Resources/XObject/F/PieceInfo/VornPNPDFO/Private/Colors";
  const std::pair<std::string, const char*> expected[] = {
      {"/Resources/ColorSpace/CC/1", "/None"},
      {"/Resources/ColorSpace/N/1", "[ /B /E ]"},
      {"/Resources/ColorSpace/N/4/Colorants/B/0", "/Separation"},
      {"/Resources/ColorSpace/N/4/MixingHints/PrintingOrder", "[ /B /E ]"},
      {"/Resources/ColorSpace/N/4/MixingHints/Solidities", "<< /B 1 /E 0.5 >>"},
      {colors + "/0/0/1", "/B"},
      {colors + "/0/2", "<< /B 1 >>"},
      {colors + "/1/0/1", "[ /B /E ]"},
      {colors + "/1/3", "<< /B 2 /E 3 >>"},
      {colors + "/2/0/1", "/C"},
  };
  for (const auto& [path, value] : expected) EXPECT_EQ(at(pdf.page(0), path), value) << path;
  const std::string list = "/PieceInfo/inPDF/Inks";
  EXPECT_EQ(at(pdf.root(), list + "/1"), "[ /B /B /C /E ]");
  EXPECT_EQ(at(pdf.root(), list + "/4/MixingHints/PrintingOrder"), "[ /B /B ]");
  EXPECT_EQ(at(pdf.root(), list + "/4/inpd:InkTypes"), "<< /B /Normal /C /Opaque >>");
}

TEST(InkRenaming, NothingToRenameOrNothingPossible) {
  tavtest::TestFolder dir;
  struct Case {
    const char* what;
    std::string inks;
    int result;
  };
  const Case cases[] = {
      {"no ink mapped", inks("", ""), 0},
      {"an ink mapped onto one the file does not use", inks("", R"(,"mapTo":"B")"), 0},
      // A and E of one DeviceN colour would both be E.
      {"two inks of one colour onto one", inks(R"(,"mapTo":"E")", ""), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeInks(dir / "out.pdf");
    const std::string before = tavtest::readFile(dir / "out.pdf");
    auto job = jobWith(c.inks);
    TavGen::MessageCapture messages;
    EXPECT_EQ(TavPDF::RenameInksInWrittenFile(job.get(), TavSys::FileSpec(dir / "out.pdf")), c.result);
    EXPECT_EQ(messages.has("PDF/CANNOT RENAME INKS"), c.result != 0);
    if (c.result != 0 || c.inks == inks("", "")) {
      EXPECT_EQ(tavtest::readFile(dir / "out.pdf"), before);
    }
  }
}

// A renames to B and B to C: each name is renamed once.
TEST(InkRenaming, AChainRenamesEachNameOnce) {
  tavtest::TestFolder dir;
  tavtest::PdfBuilder b;
  const std::string tint = b.object("<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.5 0 0] /N 1 >>");
  b.page("/Resources << /ColorSpace << /A [/Separation /A /DeviceCMYK " + tint + "] /B [/Separation /B /DeviceCMYK " +
             tint + "] >> >>",
         {"/A cs 1 scn 0 0 50 50 re f /B cs 1 scn 50 0 50 50 re f"}, 100, 50);
  b.write(dir / "out.pdf");
  auto job = jobWith(R"([{"name":"A","cmyk":[0,50,0,0],"mapTo":"B"},{"name":"B","cmyk":[0,0,50,0],"mapTo":"C"},)"
                     R"({"name":"C","cmyk":[50,0,0,0]}])");
  ASSERT_EQ(TavPDF::RenameInksInWrittenFile(job.get(), TavSys::FileSpec(dir / "out.pdf")), 0);
  const auto plates = tavtest::measurePlates(dir / "out.pdf");
  tavtest::expectInks(plates, {{"B", 25, 25, 1}, {"C", 75, 25, 1}});
  EXPECT_EQ(plates.plates.count("A"), 0u) << plates.summary();
}

// A whole export: the remapped ink's square prints on its target, and the
// job keeps its remapping for the next export. A pipe gets the renamed file
// (the pass cannot read a pipe back, so the file is made elsewhere first).
TEST(InkRenaming, ExportsPrintRemappedInksOnTheirTarget) {
  tavtest::TestFolder dir;
  const std::string inkList = R"([{"name":"Cyan","process":"cyan"},{"name":"Orange","cmyk":[0,60,100,0],)"
                              R"("mapTo":"Green"},{"name":"Green","cmyk":[80,0,100,0]}])";
  auto job = drivertest::loadJob(drivertest::colouredSquares(inkList, {R"({"Orange":100})", R"({"Green":50})"}));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const char* name : {"first.pdf", "second.pdf", "piped.pdf"}) {
    SCOPED_TRACE(name);
    const bool piped = std::string_view(name) == "piped.pdf";
    std::thread reader;
    if (piped) reader = std::thread([&] { tavtest::writeFile(dir / name, tavtest::readFile(dir / "pipe")); });
    const auto run = drivertest::exportJob(job.get(), drivertest::flavour("Press", "UseSeparationDisabler=1"),
                                           piped ? dir / "pipe" : dir / name);
    if (piped) {
      // A reader still waiting for a writer that never came is let go.
      const int writer = ::open((dir / "pipe").c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
      reader.join();
    }
    ASSERT_EQ(run.result, 0) << run.keys();
    EXPECT_TRUE(!piped || fs::is_fifo(dir / "pipe"));
    tavtest::expectPdfAcceptedByAllConsumers(dir / name);
    const auto plates = tavtest::measurePlates(dir / name);
    EXPECT_EQ(plates.plates.count("Orange"), 0u) << plates.summary();
    tavtest::expectInks(plates, {{"Green", 117, 603, 1}, {"Green", 117, 503, 0.5}});
  }
}

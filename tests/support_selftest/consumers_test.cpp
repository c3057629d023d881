// The consumer helpers judged on PDFs written here by hand: a sound two-page
// file must pass every check and measure the inks it paints; damaged variants
// must be rejected.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>

#include "support/consumers.h"

namespace fs = std::filesystem;
using tavtest::runProcess;

namespace {

// ---------------------------------------------------------------- a hand-written PDF

std::string stream(const std::string& dictEntries, const std::string& content, int lengthError = 0) {
  return "<< /Length " + std::to_string(static_cast<int>(content.size()) + lengthError) + dictEntries +
         " >>\nstream\n" + content + "\nendstream";
}

// What a variant of the sample file changes.
struct Variant {
  // Page 1: cyan 50 % over x 10..90, y 10..50 (lower half only, so that a
  // flipped vertical axis shows) and "PANTONE 185 C" 100 % over x 110..190, y 10..90.
  std::string page1 = "q 0.5 0 0 0 k 10 10 80 40 re f Q\nq /CS0 cs 1 scn 110 10 80 80 re f Q";
  // Page 2: the spot "Varnish (gloss)" at 40 % over the whole page.
  std::string page2 = "q /CS1 cs 0.4 scn 0 0 200 100 re f Q";
  std::string extraResources;        // added to page 1's resource dictionary
  std::vector<std::string> objects;  // further objects, numbered from 7
  int lengthError = 0;               // added to page 1's stream /Length
  int xrefError = 0;                 // added to page 1's offset in the xref table
};

std::string samplePdf(const Variant& v = {}) {
  const std::string separation185 =
      "[/Separation /PANTONE#20185#20C /DeviceCMYK "
      "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.8 0.75 0] /N 1 >>]";
  const std::string separationVarnish =
      "[/Separation /Varnish#20#28gloss#29 /DeviceCMYK "
      "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0.1 0 0 0] /N 1 >>]";
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /ColorSpace << /CS0 " +
          separation185 + " >> " + v.extraResources + " >> /Contents 4 0 R >>",
      stream("", v.page1, v.lengthError),
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Resources << /ColorSpace << /CS1 " +
          separationVarnish + " >> >> /Contents 6 0 R >>",
      stream("", v.page2),
  };
  objects.insert(objects.end(), v.objects.begin(), v.objects.end());

  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t i = 0; i < offsets.size(); ++i) {
    char entry[32];
    const long offset = static_cast<long>(offsets[i]) + (i == 2 ? v.xrefError : 0);
    std::snprintf(entry, sizeof entry, "%010ld 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

class HandWrittenPdf : public ::testing::Test {
 protected:
  // A folder name with spaces and parentheses: no tool may see it split.
  fs::path write(const Variant& v, const std::string& name = "sample (1) file.pdf") {
    const auto folder = dir_.path() / "out (a) b";
    fs::create_directories(folder);
    const auto path = folder / name;
    tavtest::writeFile(path, samplePdf(v));
    return path;
  }
  static bool mentions(const std::vector<std::string>& problems, const std::string& text) {
    for (const auto& p : problems)
      if (p.find(text) != std::string::npos) return true;
    return false;
  }
  tavtest::TestFolder dir_;
};

// ---------------------------------------------------------------- processes

TEST(ProcessRunner, PassesArgumentsVerbatimDrainsBothStreamsAndKillsOnTimeout) {
  const auto r = runProcess({"sh", "-c", "printf '%s|' \"$@\"; echo oops >&2; exit 3", "sh", "a (b) c",
                             "it's \"q\"", "", "$HOME *"});
  EXPECT_EQ(r.exitCode, 3) << r.describe();
  EXPECT_EQ(r.out + r.err, "a (b) c|it's \"q\"||$HOME *|oops\n");
  EXPECT_FALSE(runProcess({"no-such-program-tav"}).started);
  // More than a pipe holds on each stream: reading only one of them would hang.
  const auto big = runProcess(
      {"sh", "-c", "head -c 300000 /dev/zero | tr '\\0' e >&2; head -c 300000 /dev/zero | tr '\\0' o"},
      std::chrono::seconds(60));
  EXPECT_EQ(big.err.size() + big.out.size(), 600000u);
  const auto start = std::chrono::steady_clock::now();
  const auto slow = runProcess({"sh", "-c", "echo begun; sleep 30"}, std::chrono::milliseconds(300));
  EXPECT_TRUE(slow.timedOut);
  EXPECT_EQ(slow.out, "begun\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// ---------------------------------------------------------------- a sound file

TEST_F(HandWrittenPdf, SoundFilePassesEveryCheckAndItsPlatesAreMeasured) {
  const auto pdf = write({});
  for (const auto& verdict :
       {tavtest::qpdfCheck(pdf), tavtest::ghostscriptRender(pdf), tavtest::mutoolCheck(pdf)}) {
    EXPECT_TRUE(verdict.ok) << verdict.tool << ":\n" << verdict.problems << verdict.output;
  }
  EXPECT_EQ(tavtest::contentStreamProblems(pdf), std::vector<std::string>{});
  // Words in the file's own name are no complaint of a tool's.
  EXPECT_TRUE(tavtest::acceptedByAllConsumers(write({}, "ERROR WARNING repaired ****.pdf")));

  // Process inks always get a plate, the spot ink its own one, not mixed in.
  const auto plates = tavtest::measurePlates(pdf);
  EXPECT_EQ(plates.plates.size(), 5u) << plates.summary();  // the composite is no plate
  EXPECT_NEAR(plates.coverage.at("Cyan"), 0.5 * 3200 / 20000, 0.002);
  EXPECT_NEAR(plates.coverage.at("PANTONE 185 C"), 6400.0 / 20000, 0.002);
  EXPECT_EQ(plates.coverage.at("Magenta") + plates.coverage.at("Black"), 0);
  // Points count from the lower left, pixels from the top left.
  EXPECT_NEAR(plates.inkAtPoint("Cyan", 50, 20), 0.5, 0.01);
  EXPECT_EQ(plates.inkAtPoint("Cyan", 50, 80), 0);  // above the cyan box
  EXPECT_EQ(plates.inkAtPoint("PANTONE 185 C", 200, 100), 0);  // the corner still belongs to the page
  EXPECT_NEAR(plates.inkAtPixel("Cyan", 50, 75), 0.5, 0.01);
  EXPECT_THROW(plates.inkAtPoint("Orange", 50, 50), std::out_of_range);
  EXPECT_THROW(plates.inkAtPoint("Cyan", 201, 50), std::out_of_range);

  // Another page at another resolution; parentheses stay in ink names.
  const auto second = tavtest::measurePlates(pdf, 2, 144);
  EXPECT_EQ(second.plate("Varnish (gloss)").width, 400);
  EXPECT_NEAR(second.inkAtPoint("Varnish (gloss)", 1, 99), 0.4, 0.005);
  EXPECT_EQ(second.plates.count("PANTONE 185 C"), 0u);  // that ink is on page 1 only
  EXPECT_THROW(tavtest::measurePlates(pdf, 3), std::runtime_error);  // no such page
}

// ---------------------------------------------------------------- damaged files

// Each tool repairs what it can and would render it; each must still say no.
TEST_F(HandWrittenPdf, DamagedFilesAreRejectedByEveryConsumer) {
  Variant length, xref;
  length.lengthError = -9;
  xref.xrefError = 5;
  const auto whole = samplePdf();
  const std::pair<std::string, std::string> files[] = {
      {"length.pdf", samplePdf(length)}, {"xref.pdf", samplePdf(xref)}, {"empty.pdf", ""},
      {"truncated.pdf", whole.substr(0, whole.size() / 2)},
      // Ghostscript would run this as a program and exit 0.
      {"postscript.pdf", "%!PS\n/Helvetica findfont 12 scalefont setfont 72 72 moveto (x) show showpage\n"}};
  std::vector<fs::path> paths = {dir_.path() / "absent.pdf"};
  for (const auto& [name, bytes] : files) {
    tavtest::writeFile(dir_ / name, bytes);
    paths.push_back(dir_ / name);
  }
  for (const auto& pdf : paths) {
    for (const auto& verdict :
         {tavtest::qpdfCheck(pdf), tavtest::ghostscriptRender(pdf), tavtest::mutoolCheck(pdf)}) {
      // Ghostscript reads a stream of a wrong length without a word.
      if (verdict.tool == "ghostscript" && pdf.filename() == "length.pdf") continue;
      EXPECT_FALSE(verdict.ok) << verdict.tool << " accepts " << pdf.filename();
    }
    EXPECT_FALSE(tavtest::contentStreamsSound(pdf)) << pdf.filename();  // qpdf's repair warnings count
  }
  EXPECT_NONFATAL_FAILURE(tavtest::expectPdfAcceptedByAllConsumers(paths[1]), "qpdf --check rejects");
}

// Unbalanced q/Q and marked content, and every kind of named resource that
// the resources lack.
TEST_F(HandWrittenPdf, ContentProblemsAreFound) {
  const std::pair<std::string, std::string> cases[] = {
      {"q 0.5 0 0 0 k 10 10 80 40 re f", "page 1: 1 q without matching Q"},
      {"q 0 0 0 1 k Q Q", "page 1: Q without matching q"},
      {"/Artifact BMC 0 0 0 1 k 0 0 5 5 re f", "page 1: 1 BMC/BDC without matching EMC"},
      {"/Span << /ActualText (x) >> BDC EMC EMC", "page 1: EMC without matching BMC/BDC"},
      {"/GS9 gs", "gs names /GS9, which is not in the /ExtGState resources"},
      {"/CS7 CS 1 SCN", "CS names /CS7, which is not in the /ColorSpace resources"},
      {"/Sh0 sh", "sh names /Sh0, which is not in the /Shading resources"},
      {"/Im1 Do", "Do names /Im1, which is not in the /XObject resources"},
      {"BT /F9 12 Tf (a) Tj ET", "Tf names /F9, which is not in the /Font resources"},
      {"/Pattern cs /P3 scn 0 0 5 5 re f", "scn names /P3, which is not in the /Pattern resources"},
      {"/OC /MC0 BDC EMC", "BDC names /MC0, which is not in the /Properties resources"},
      {"BI /W 1 /H 1 /CS /CSX /BPC 8 ID \x80 EI", "inline image names /CSX"},
  };
  const auto page = [&](const char* content) {
    Variant v;
    v.page1 = content;
    return write(v);
  };
  for (const auto& [content, expected] : cases) {
    const auto problems = tavtest::contentStreamProblems(page(content.c_str()));
    EXPECT_TRUE(mentions(problems, expected)) << content << " gave:\n" << ::testing::PrintToString(problems);
  }
  // Device colour spaces, the Pattern family and inline abbreviations need no resource.
  EXPECT_EQ(tavtest::contentStreamProblems(page("/DeviceCMYK cs 0 0 0 1 scn /DeviceGray CS 0 SCN /Pattern cs "
                                                "BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI /CS0 cs 1 scn 0 0 5 5 re f")),
            std::vector<std::string>{});
  // Ghostscript notices a lost Q and a missing graphics state as well.
  for (const char* content : {"q 0.5 0 0 0 k 10 10 80 40 re f", "/GS9 gs 0 0 0 1 k 0 0 5 5 re f"})
    EXPECT_FALSE(tavtest::ghostscriptRender(page(content)).ok) << content;
}

TEST_F(HandWrittenPdf, FormsAndPatternsAreCheckedWithTheirOwnResources) {
  Variant v;
  v.page1 = "/Fm0 Do /Pattern cs /P0 scn 0 0 20 20 re f";
  v.extraResources = "/XObject << /Fm0 7 0 R >> /Pattern << /P0 8 0 R >>";
  v.objects = {
      // The form opens a state it never closes and uses a font its resources lack.
      stream(" /Type /XObject /Subtype /Form /BBox [0 0 200 100] /Resources << /XObject << /Fm1 9 0 R >> >>",
             "q /Fm1 Do BT /F1 9 Tf ET"),
      // The tiling pattern names a graphics state it does not have.
      stream(" /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 4 4] /XStep 4 /YStep 4 /Resources << >>",
             "/GS1 gs 0 0 2 2 re f"),
      // A nested form without resources of its own, using colour spaces.
      stream(" /Type /XObject /Subtype /Form /BBox [0 0 10 10]", "/CS0 cs 1 scn 0 0 1 1 re f /CS5 cs"),
  };
  const auto problems = tavtest::contentStreamProblems(write(v));
  // The inner form falls back to its user's resources: /CS0 is not there
  // (the form /Fm0 has its own), and /CS5 nowhere.
  for (const char* expected : {"page 1 > form /Fm0 (7 0 R): 1 q without matching Q",
                               "page 1 > form /Fm0 (7 0 R): Tf names /F1", "page 1 > pattern /P0 (8 0 R): gs names /GS1",
                               "page 1 > form /Fm0 (7 0 R) > form /Fm1 (9 0 R): cs names /CS0",
                               "page 1 > form /Fm0 (7 0 R) > form /Fm1 (9 0 R): cs names /CS5"})
    EXPECT_TRUE(mentions(problems, expected)) << expected << " in " << ::testing::PrintToString(problems);
  EXPECT_EQ(problems.size(), 5u) << ::testing::PrintToString(problems);

  // A form that draws itself is reported, not followed forever.
  Variant loop;
  loop.page1 = "/Fm0 Do";
  loop.extraResources = "/XObject << /Fm0 7 0 R >>";
  loop.objects = {stream(" /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Fm0 7 0 R >> >>",
                         "/Fm0 Do")};
  EXPECT_TRUE(mentions(tavtest::contentStreamProblems(write(loop)), "uses itself"));
}

// ---------------------------------------------------------------- files

TEST(TestFiles, FolderIsPrivateAndRemovedAndFilesRoundTrip) {
  fs::path kept;
  {
    tavtest::TestFolder first, second;
    EXPECT_NE(first.path(), second.path());
    const std::string bytes("a\0b\r\n\xFF", 6);
    tavtest::writeFile(first / "x.bin", bytes);
    EXPECT_EQ(tavtest::readFile(first / "x.bin"), bytes);
    std::filesystem::create_directory(first / "sub");
    EXPECT_EQ(tavtest::folderListing(first.path()), (std::vector<std::string>{"sub:dir", "x.bin:6"}));
    kept = first.path();
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_THROW(tavtest::readFile(kept / "x.bin"), std::runtime_error);
  EXPECT_EQ(tavtest::runTavpdf({"--version"}).out, "tavpdf 0.1.0\n");
}

}  // namespace

// Whole composite documents written from jobs: information dictionary,
// catalog, page tree and resources; the plates Ghostscript separates them
// into.
#include <gtest/gtest.h>

#include <cstdlib>

#include "document_support.h"
#include "platform/kernel/pageoutput.h"
#include "support/consumers.h"
#include "support/plate_checks.h"

namespace doctest {
namespace {

// Cyan and yellow under the whole page (200 x 100 points). In the top half,
// from the left: Spot A knocking out, the background alone, Spot B
// overprinting (paint and colour both say so), black knocking out. Bottom
// left: cyan and magenta under half of the opaque Silver. One ink is unused.
const char* kPlatesJob = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot A", "cmyk": [0, 50, 100, 0], "rgb": [255, 128, 0]}, {"name": "Unused", "cmyk": [9, 9, 9, 9]},
           {"name": "Spot B", "cmyk": [100, 0, 0, 20]},
           {"name": "Silver", "cmyk": [20, 20, 20, 0], "opaque": true}],
  "colours": [{"id": 1, "inks": {"Cyan": 100, "Yellow": 40}},
              {"id": 2, "inks": {"Spot A": 100}},
              {"id": 3, "inks": {"Spot B": 60}, "others": 255, "overprint": true},
              {"id": 4, "inks": {"Black": 100}},
              {"id": 5, "inks": {"Cyan": 50, "Magenta": 40, "Silver": 50}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3, "overprint": true},
             {"id": 13, "type": "flat", "colour": 4}, {"id": 14, "type": "flat", "colour": 5}],
  "objects": [{"kind": "layer", "name": "Art", "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 200], [100, 200], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 0], [0, 50], [50, 50], [50, 0]]},
    {"kind": "path", "paint": 12, "points": [[0, 100], [0, 150], [50, 150], [50, 100]]},
    {"kind": "path", "paint": 13, "points": [[0, 150], [0, 200], [50, 200], [50, 150]]},
    {"kind": "path", "paint": 14, "points": [[50, 0], [50, 50], [100, 50], [100, 0]]}]}]
)";

TEST(DocumentStructure, InformationDictionary) {
  struct Case {
    const char *author, *logon;  // the author text given to the writer, the user's logon name
    bool realDates, trap;
    const char *expectedAuthor, *trapped;
  };
  const Case cases[] = {
      {"Jane Doe", "operator", true, false, "Jane Doe", "/False"},
      // The logon name stands in for a missing author text; with neither
      // there is no Author at all.
      {"", "operator", true, false, "operator", "/False"},
      {"", "", false, false, "null", "/False"},
      // A trap object marks the document trapped; a non-ASCII title is UTF-16.
      {"x", "", true, true, "x", "/True"},
  };
  const bool hadLogon = std::getenv("TAV_LOGON_NAME") != nullptr;
  const std::string savedLogon = hadLogon ? std::getenv("TAV_LOGON_NAME") : "";
  tavtest::TestFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expectedAuthor);
    ::setenv("TAV_LOGON_NAME", c.logon, 1);
    std::string members = kPlatesJob;
    if (c.trap) members.replace(members.find(R"("paint": 11)"), 11, R"("trap": true, "paint": 11)");
    auto job = makeJob(members);
    job->name = c.trap ? "Étiquette 80×50" : "document test";
    const int saved = filsavall;
    if (!c.realDates) filsavall = 0;
    const auto w = writeDocument(*job, testSettings(), dir / "info.pdf", c.author);
    filsavall = saved;
    Pdf pdf(w.file);
    EXPECT_EQ(at(pdf.info(), "/Author") + " " + at(pdf.info(), "/Trapped"), std::string(c.expectedAuthor) + " " + c.trapped);
    EXPECT_EQ(at(pdf.info(), "/Title"), job->name);
    // Time-0 dates when the output must not carry real dates.
    const std::string dates = at(pdf.info(), "/CreationDate") + at(pdf.info(), "/ModDate");
    EXPECT_TRUE(c.realDates || dates == "D:19700101000000ZD:19700101000000Z") << dates;
    EXPECT_EQ(w.bytes.find("/Title <FEFF00C9") != std::string::npos, c.trap);
  }
  hadLogon ? ::setenv("TAV_LOGON_NAME", savedLogon.c_str(), 1) : ::unsetenv("TAV_LOGON_NAME");
}

// The page's resources, spot colour spaces and ink list.
void expectPageResources(const Written& w, QPDFObjectHandle page) {
  // The spot ink's colour space: a Separation over DeviceCMYK whose two
  // samples go from no ink to its CMYK equivalent (0 50 100 0 %). Process
  // inks get no separation colour space of their own.
  QPDFObjectHandle spot = page.getKey("/Resources").getKey("/ColorSpace").getKey("/Tv_sep_Spot A");
  EXPECT_EQ(at(spot, "/0") + at(spot, "/1") + at(spot, "/2"), "/Separation/Spot A/DeviceCMYK");
  EXPECT_EQ(at(page, "/Resources/ColorSpace/Tv_sep_Cyan"), "null");
  EXPECT_NE(w.bytes.find("stream\r\n000000000080FF00>\r\nendstream"), std::string::npos);

  // The workflow's ink list: the inks that occur, with their CMYK and RGB.
  std::string inks;
  for (int i = 0; i < 8; ++i) inks += at(page, "/QELInfo/Separations/" + std::to_string(i) + "/Name") + " ";
  EXPECT_EQ(inks, "/Cyan /Magenta /Yellow /Black /Spot A /Spot B /Silver null ");
  QPDFObjectHandle spotInfo = page.getKey("/QELInfo").getKey("/Separations").getArrayItem(4);
  EXPECT_EQ(numbers(spotInfo.getKey("/CMYK")), (std::vector<double>{0, 0.5, 1, 0}));

  // The content starts with the layout matrix.
  EXPECT_EQ(pageContent(page).rfind("1  0  0  1  0  0   cm\n", 0), 0u);
}

TEST(DocumentStructure, NormalizedOutputCarriesItsXmpMetadata) {
  tavtest::TestFolder dir;
  auto job = makeJob(kPlatesJob);
  job->separations[4].xmpName = "Spot A XMP";
  // The ink's XMP name does not change the colour-space names the content uses.
  const auto w = writeAccepted(*job, testSettings("NormalizedOutput=1 HorizontalDistortion=-2"), dir / "normalized.pdf");
  Pdf pdf(w.file);
  QPDFObjectHandle metadata = pdf.root().getKey("/Metadata");
  ASSERT_TRUE(metadata.isStream());
  EXPECT_EQ(at(metadata.getDict(), "/Type") + at(metadata.getDict(), "/Subtype"), "/Metadata/XML");
  EXPECT_EQ(at(metadata.getDict(), "/Filter"), "null");
  auto data = metadata.getRawStreamData();
  const std::string xmp(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  // A well-formed packet with the plates of the file, its ink named as in XMP.
  tavtest::writeFile(w.file.string() + ".xmp", xmp);
  const auto check = tavtest::runProcess({"xmllint", "--noout", w.file.string() + ".xmp"});
  EXPECT_EQ(check.exitCode, 0) << check.describe();
  EXPECT_EQ(xmp.rfind("<?xpacket begin=", 0), 0u);
  for (const char* item : {"<rdf:li>Cyan</rdf:li>", "<rdf:li>Spot A XMP</rdf:li>",
                           "<tavpdf:DistortionH>0.98</tavpdf:DistortionH>"}) {
    EXPECT_NE(xmp.find(item), std::string::npos) << item << "\n" << xmp;
  }
  // Without normalized output there is no composer and no metadata.
  const auto plain = writeDocument(*job, testSettings(), dir / "plain.pdf");
  EXPECT_EQ(at(Pdf(plain.file).root(), "/Metadata"), "null");
}

TEST(DocumentPlates, NumberedDocumentsWhosePlatesShowKnockoutOverprintAndOpaqueInk) {
  const std::vector<tavtest::InkAt> inks = {
      {"Spot A", 25, 75, 1}, {"Cyan", 25, 75, 0}, {"Cyan", 75, 75, 1}, {"Yellow", 75, 75, 0.4},
      {"Spot A", 75, 75, 0}, {"Spot B", 125, 75, 0.6}, {"Cyan", 125, 75, 1}, {"Yellow", 125, 75, 0.4},
      {"Black", 175, 75, 1}, {"Cyan", 175, 75, 0},
      // The opaque ink reduces what it covers by its tint.
      {"Silver", 25, 25, 0.5}, {"Cyan", 25, 25, 0.25}, {"Magenta", 25, 25, 0.2}, {"Yellow", 25, 25, 0}};
  tavtest::TestFolder dir;
  auto job = makeJob(kPlatesJob);
  const std::pair<const char*, const char*> versions[] = {{"PDFCompatibility=1", "%PDF-1.3\n"},
                                                           {"PDFCompatibility=0", "%PDF-1.4\n"},
                                                           {"PDFCompatibility=2 IncludeLayers=1", "%PDF-1.5\n"}};
  for (const auto& [compatibility, header] : versions) {
    SCOPED_TRACE(header);
    const auto w = writeAccepted(*job, testSettings(compatibility + std::string(" ForceOpaqueSeparationsToKnockout=1")),
                                 dir / "plates.pdf");
    EXPECT_EQ(w.bytes.substr(0, 9), header);
    Pdf pdf(w.file);
    expectPageResources(w, pdf.page(0));
    EXPECT_EQ(at(pdf.root(), "/Pages/Count") + at(pdf.root(), "/PageLabels"), "1null");
    const auto p = tavtest::measurePlates(w.file);
    tavtest::expectInks(p, inks);
    EXPECT_NEAR(p.coverage.at("Spot A"), 0.125, 0.01) << p.summary();
    EXPECT_NEAR(p.coverage.at("Spot B"), 0.125 * 0.6, 0.01);
  }
  // Without the knockout the opaque ink leaves the others alone, and the
  // host's objects keep their paints either way.
  const auto w = writeDocument(*job, testSettings("ForceOpaqueSeparationsToKnockout=0"), dir / "noknockout.pdf");
  ASSERT_EQ(w.finishResult, 0);
  const auto p = tavtest::measurePlates(w.file);
  EXPECT_NEAR(p.inkAtPoint("Silver", 25, 25), 0.5, 0.02) << p.summary();
  EXPECT_NEAR(p.inkAtPoint("Cyan", 25, 25), 0.5, 0.02);
  EXPECT_EQ(jobGetSpahan(job.get())->member(0)->member(4)->paint(), 14);
}

}  // namespace
}  // namespace doctest

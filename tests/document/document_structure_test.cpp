// Whole documents written from jobs: information dictionary, catalog, page
// tree, and the caller's data left as they were.
#include <gtest/gtest.h>

#include <cstdlib>

#include "document_support.h"
#include "platform/kernel/pageoutput.h"
#include "support/consumers.h"

namespace {

using doctest::makeJob;
using doctest::Pdf;
using doctest::testSettings;

const char* kCmykAndSpot = R"(
  "boxes": {"media": [0, 0, 100, 200], "trim": [10, 10, 90, 190]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"},
           {"name": "Spot One", "cmyk": [0, 50, 100, 0], "rgb": [255, 128, 0]}],
  "colours": [{"id": 1, "inks": {"Cyan": 100}}, {"id": 2, "inks": {"Spot One": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2}],
  "objects": [{"kind": "layer", "name": "Art", "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 100], [100, 100], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 100], [0, 200], [100, 200], [100, 100]]}]}]
)";

TEST(DocumentStructure, CompositeDocumentIsAcceptedAndNumbered) {
  tavtest::TestFolder dir;
  auto job = makeJob(kCmykAndSpot);
  for (int compatibility : {PDFSettings::kPDF13, PDFSettings::kPDF14, PDFSettings::kPDF15}) {
    SCOPED_TRACE(compatibility);
    PDFSettings settings = testSettings();
    settings.PDFCompatibility = compatibility;
    const auto w = doctest::writeDocument(*job, settings, dir / "composite.pdf");
    ASSERT_EQ(w.documentResult, 0);
    ASSERT_EQ(w.finishResult, 0);
    const char* header = compatibility == PDFSettings::kPDF13   ? "%PDF-1.3\n"
                         : compatibility == PDFSettings::kPDF14 ? "%PDF-1.4\n"
                                                                : "%PDF-1.5\n";
    EXPECT_EQ(w.bytes.substr(0, 9), header);
    EXPECT_EQ(w.bytes.substr(14, 9), "\n1 0 obj\n");
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    tavtest::expectContentStreamsSound(w.file);

    Pdf pdf(w.file);
    EXPECT_EQ(pdf.trailer().getKey("/Info").getObjGen().getObj(), 1);
    EXPECT_EQ(pdf.trailer().getKey("/Root").getObjGen().getObj(), 2);
    EXPECT_EQ(pdf.root().getKey("/Type").getName(), "/Catalog");
    QPDFObjectHandle tree = pdf.root().getKey("/Pages");
    EXPECT_EQ(tree.getObjGen().getObj(), 3);
    EXPECT_EQ(tree.getKey("/Count").getIntValue(), 1);
    ASSERT_EQ(pdf.pages().size(), 1u);
    EXPECT_FALSE(pdf.root().hasKey("/PageLabels"));
  }
}

// Sets an environment variable for the time of a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : mName(name) {
    if (const char* old = std::getenv(name)) mOld = old, mHad = true;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() {
    if (mHad) {
      ::setenv(mName, mOld.c_str(), 1);
    } else {
      ::unsetenv(mName);
    }
  }

 private:
  const char* mName;
  std::string mOld;
  bool mHad = false;
};

TEST(DocumentStructure, InformationDictionary) {
  tavtest::TestFolder dir;
  {
    auto job = makeJob(kCmykAndSpot);
    const auto w = doctest::writeDocument(*job, testSettings(), dir / "info.pdf", "Jane Doe");
    Pdf pdf(w.file);
    QPDFObjectHandle info = pdf.info();
    EXPECT_EQ(doctest::text(info.getKey("/Author")), "Jane Doe");
    EXPECT_EQ(doctest::text(info.getKey("/Title")), "document test");
    EXPECT_EQ(doctest::text(info.getKey("/Creator")), TavricLib::GetTavricCreator());
    EXPECT_EQ(doctest::text(info.getKey("/Producer")), TavricLib::GetTavricCreator());
    EXPECT_EQ(info.getKey("/Trapped").getName(), "/False");
  }
  {
    // No author text and no logon name: no Author at all. Time-0 dates when
    // the output must not carry real dates.
    ScopedEnv logon("TAV_LOGON_NAME", "");
    const int saved = filsavall;
    filsavall = 0;
    auto job = makeJob(kCmykAndSpot);
    const auto w = doctest::writeDocument(*job, testSettings(), dir / "anonymous.pdf", "");
    filsavall = saved;
    Pdf pdf(w.file);
    EXPECT_FALSE(pdf.info().hasKey("/Author"));
    EXPECT_EQ(doctest::text(pdf.info().getKey("/CreationDate")), "D:19700101000000Z");
    EXPECT_EQ(doctest::text(pdf.info().getKey("/ModDate")), "D:19700101000000Z");
  }
  {
    // The logon name stands in for a missing author text.
    ScopedEnv logon("TAV_LOGON_NAME", "operator");
    auto job = makeJob(kCmykAndSpot);
    const auto w = doctest::writeDocument(*job, testSettings(), dir / "logon.pdf", "");
    Pdf pdf(w.file);
    EXPECT_EQ(doctest::text(pdf.info().getKey("/Author")), "operator");
  }
  {
    // A trap object marks the document trapped; a non-ASCII name is UTF-16.
    std::string members = kCmykAndSpot;
    members.replace(members.find(R"({"kind": "path", "paint": 11)"), 28,
                    R"({"kind": "path", "trap": true, "paint": 11)");
    auto job = makeJob(members);
    job->name = "Étiquette 80×50";
    const auto w = doctest::writeDocument(*job, testSettings(), dir / "trapped.pdf");
    tavtest::expectPdfAcceptedByAllConsumers(w.file);
    Pdf pdf(w.file);
    EXPECT_EQ(pdf.info().getKey("/Trapped").getName(), "/True");
    EXPECT_EQ(doctest::text(pdf.info().getKey("/Title")), "Étiquette 80×50");
    EXPECT_NE(w.bytes.find("/Title <FEFF00C9"), std::string::npos);
  }
}

TEST(DocumentStructure, PageResourcesAndSpotColourSpaces) {
  tavtest::TestFolder dir;
  auto job = makeJob(kCmykAndSpot);
  const auto w = doctest::writeDocument(*job, testSettings(), dir / "resources.pdf");
  ASSERT_EQ(w.finishResult, 0);
  Pdf pdf(w.file);
  QPDFObjectHandle resources = pdf.pages().at(0).getKey("/Resources");
  EXPECT_TRUE(resources.isIndirect());
  QPDFObjectHandle procSet = resources.getKey("/ProcSet");
  ASSERT_EQ(procSet.getArrayNItems(), 3);
  EXPECT_EQ(procSet.getArrayItem(2).getName(), "/ImageC");

  // The spot ink's colour space: a Separation over DeviceCMYK whose two
  // samples go from no ink to its CMYK equivalent (0 50 100 0 %).
  QPDFObjectHandle spot = resources.getKey("/ColorSpace").getKey("/Tv_sep_Spot One");
  ASSERT_TRUE(spot.isArray());
  EXPECT_EQ(spot.getArrayItem(0).getName(), "/Separation");
  EXPECT_EQ(spot.getArrayItem(1).getName(), "/Spot One");
  EXPECT_EQ(spot.getArrayItem(2).getName(), "/DeviceCMYK");
  QPDFObjectHandle function = spot.getArrayItem(3);
  ASSERT_TRUE(function.isStream());
  EXPECT_EQ(function.getDict().getKey("/Length").getIntValue(), 17);
  auto raw = function.getRawStreamData();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize()),
            "000000000080FF00>");
  auto decoded = function.getStreamData(qpdf_dl_generalized);
  EXPECT_EQ(decoded->getSize(), 8u);
  // Process inks get no separation colour space of their own.
  EXPECT_FALSE(resources.getKey("/ColorSpace").hasKey("/Tv_sep_Cyan"));

  EXPECT_NE(w.bytes.find("/CSPat [ /Pattern /DeviceCMYK ]"), std::string::npos);
  EXPECT_NE(w.bytes.find("/op1 <<\n/OP true\n/OPM 1 \n/Type /ExtGState\n>>"), std::string::npos);
  EXPECT_NE(w.bytes.find("/op0 <<\n/OP false\n/OPM 0 \n/Type /ExtGState\n>>"), std::string::npos);
  EXPECT_NE(w.bytes.find("/op1_0 <<\n/OP true\n/OPM 0 \n/Type /ExtGState\n>>"), std::string::npos);

  // The workflow's ink list: the inks that occur, with their CMYK and RGB.
  QPDFObjectHandle separations =
      pdf.pages().at(0).getKey("/QELInfo").getKey("/Separations");
  ASSERT_EQ(separations.getArrayNItems(), 2);  // Magenta, Yellow, Black are not used
  EXPECT_EQ(separations.getArrayItem(0).getKey("/Name").getName(), "/Cyan");
  QPDFObjectHandle spotInfo = separations.getArrayItem(1);
  EXPECT_EQ(spotInfo.getKey("/Name").getName(), "/Spot One");
  EXPECT_EQ(doctest::numbers(spotInfo.getKey("/CMYK")), (std::vector<double>{0, 0.5, 1, 0}));
  const auto rgb = doctest::numbers(spotInfo.getKey("/RGB"));
  ASSERT_EQ(rgb.size(), 3u);
  EXPECT_DOUBLE_EQ(rgb[0], 1);
  EXPECT_NEAR(rgb[1], 128 / 255.0, 1e-5);
  EXPECT_DOUBLE_EQ(rgb[2], 0);

  // The content starts with the layout matrix.
  EXPECT_EQ(doctest::pageContent(pdf.pages().at(0)).rfind("1  0  0  1  0  0   cm\n", 0), 0u);
}

}  // namespace

namespace {

TEST(DocumentStructure, NormalizedOutputCarriesItsXmpMetadata) {
  tavtest::TestFolder dir;
  auto job = makeJob(kCmykAndSpot);
  job->separations[4].xmpName = "Spot One XMP";
  PDFSettings settings = testSettings();
  settings.NormalizedOutput = 1;
  settings.HorizontalDistortion = -2;
  const auto w = doctest::writeDocument(*job, settings, dir / "normalized.pdf");
  ASSERT_EQ(w.finishResult, 0);
  tavtest::expectPdfAcceptedByAllConsumers(w.file);
  // The ink's XMP name does not change the colour-space names the content uses.
  tavtest::expectContentStreamsSound(w.file);
  Pdf pdf(w.file);
  QPDFObjectHandle metadata = pdf.root().getKey("/Metadata");
  ASSERT_TRUE(metadata.isStream());
  EXPECT_EQ(metadata.getDict().getKey("/Type").getName(), "/Metadata");
  EXPECT_EQ(metadata.getDict().getKey("/Subtype").getName(), "/XML");
  EXPECT_FALSE(metadata.getDict().hasKey("/Filter"));
  auto data = metadata.getRawStreamData();
  const std::string xmp(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  // A well-formed packet with the plates of the file, its ink named as in XMP.
  tavtest::writeFile(w.file.string() + ".xmp", xmp);
  const auto check = tavtest::runProcess({"xmllint", "--noout", w.file.string() + ".xmp"});
  EXPECT_EQ(check.exitCode, 0) << check.describe();
  EXPECT_EQ(xmp.rfind("<?xpacket begin=", 0), 0u);
  EXPECT_NE(xmp.find("<rdf:li>Cyan</rdf:li>"), std::string::npos) << xmp;
  EXPECT_NE(xmp.find("<rdf:li>Spot One XMP</rdf:li>"), std::string::npos) << xmp;
  EXPECT_NE(xmp.find("<tavpdf:DistortionH>0.98</tavpdf:DistortionH>"), std::string::npos) << xmp;
  // Without normalized output there is no composer and no metadata.
  const auto plain = doctest::writeDocument(*job, testSettings(), dir / "plain.pdf");
  Pdf plainPdf(plain.file);
  EXPECT_FALSE(plainPdf.root().hasKey("/Metadata"));
}

}  // namespace

// Resource names of the page writer and the resources completed when a
// content stream ends: names never collide across writers that share a file.
#include <gtest/gtest.h>

#include "pdfproof_support.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Orange", "cmyk": [0, 50, 100, 0]}])";

std::unique_ptr<jobstr> screenedJob() {
  return g2test::makeJob(
      kInks, R"([{"id": 1, "inks": {"Orange": 50}}])",
      R"([{"id": 10, "type": "flat", "colour": 1, "screen": 3}, {"id": 11, "type": "flat", "colour": 1}])",
      R"([{"kind": "path", "paint": 10, "points": [[10, 10], [10, 40], [40, 40], [40, 10]]}])",
      R"(, "screens": [{"id": 3, "name": "fine", "ruling": 150, "angles": {"Orange": 15}}])");
}

TEST(ResourceNames, EveryKindCountsOnItsOwnAndCarriesTheWriterNumber) {
  auto job = screenedJob();
  const PDFSettings settings = g2test::testSettings();  // the page keeps a reference
  g2test::Page page(*job, settings, kPdf14, {}, {.writerNumber = 3});
  PDFProof& w = page.writer();
  EXPECT_EQ(w.MakeBarcodeFormName(), "Barcode_3_0");
  EXPECT_EQ(w.MakeBarcodeFormName(), "Barcode_3_1");
  EXPECT_EQ(w.MakeOpiFormName(), "O_3_0");
  // A group takes a number of the group counter and one of the
  // graphics-state counter.
  PendingStream state(kPendingTransparencyGState), group(kPendingTransparencyGroup);
  w.MakeGStateName(state);
  w.MakeGStateName(state);
  w.MakeTransparencyGroupNames(group);
  EXPECT_EQ(group.GetName() + " " + group.GetGStateName(), "Group_3_0 GS_3_2");
  page.finish();
}

TEST(ResourceNames, APictureFileQueuedAlreadyKeepsItsImageName) {
  SetPendingStreamWriter(kPendingFileTiff, [](PDFProof&, PendingStream&) {});
  auto job = screenedJob();
  const PDFSettings settings = g2test::testSettings();  // the page keeps a reference
  g2test::Page page(*job, settings, kPdf14, {}, {.writerNumber = 2});
  PDFProof& w = page.writer();
  const TavSys::filref logo("/art/logo.tif"), sameName("/other/logo.tif");

  std::string name;
  EXPECT_FALSE(w.MakePictureXObjectName(&logo, name));
  EXPECT_EQ(name, "Im2_0");
  auto record = std::make_unique<PendingStreamFileTiff>(nullptr);
  record->SetFilePath(PDFProof::PictureRecordPath(name, logo));
  w.AddPendingStream(std::move(record));

  struct Case {
    const TavSys::filref* file;
    bool found;
    const char* name;
  } cases[] = {{&logo, true, "Im2_0"},       // the queued record's name, no new number
               {&sameName, false, "Im2_1"},  // another file of the same name
               {nullptr, false, "Im2_2"},    // no file: always a new name
               {&logo, true, "Im2_0"}};
  for (const Case& c : cases) {
    EXPECT_EQ(w.MakePictureXObjectName(c.file, name), c.found);
    EXPECT_EQ(name, c.name);
  }
  page.finish();
  SetPendingStreamWriter(kPendingFileTiff, nullptr);
}

// A nested writer takes the next number of the page's counter, so the screen
// resources of both live side by side in the shared ExtGState dictionary.
void writeNestedForm(PDFProof& outer, PendingStream&) {
  PDFProof nested(outer.GetJob(), outer.GetHandler(), outer.GetResources(),
                  outer.GetPatternDictionary(), outer.GetXObjectDictionary(),
                  outer.GetExtGStateDictionary(), outer.GetSettings(), outer.GetWriterCounter(),
                  outer.GetPending(), nullptr, nullptr, false, true, nullptr, false, false, true);
  EXPECT_EQ(nested.GetWriterNumber(), 1);
  EXPECT_EQ(nested.MakeCadFormName(), "CAD_1_0");
  nested.SelectScreening(10);
  nested.SelectScreening(11);
  nested.FinishContentStream();
}

TEST(ResourceNames, NestedWritersShareTheCounterAndNeverTheirNames) {
  SetPendingStreamWriter(kPendingForm, writeNestedForm);
  tavtest::TestFolder dir;
  const auto pdf = dir / "nested.pdf";
  auto job = screenedJob();
  PDFSettings s = g2test::testSettings();
  s.IncludeScreening = 1;
  {
    g2test::Page page(*job, s, kPdf14, pdf);
    EXPECT_EQ(page.writer().MakeCadFormName(), "CAD_0_0");
    page.writer().AddPendingStream(std::make_unique<PendingStreamForm>(10));
    page.walk();
    page.finish();
    // Each selected once and defined once.
    for (const std::string name : {"/Scr_0_3", "/Scr_1_3", "/Scr_1_def"}) {
      EXPECT_EQ(g2test::count(page.bytes(), name + " gs\n"), 1) << name;
      EXPECT_EQ(g2test::count(page.bytes(), name + " "), 2) << name;
    }
  }
  SetPendingStreamWriter(kPendingForm, nullptr);
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
}

}  // namespace

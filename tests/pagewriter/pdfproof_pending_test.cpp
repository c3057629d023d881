// Pending streams: the records, the refusal of kinds nobody can write yet,
// and the flush after the content stream, including the recursion through the
// streams that a record's writer opens and closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "pdfproof_support.h"
#include "pdfwriter/pdfoutfil.h"
#include "platform/kernel/tavdb.h"
#include "platform/messages.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

std::vector<std::string>* gLog = nullptr;

// Installs writers for the duration of a test and puts the engine's back.
struct WriterScope {
  explicit WriterScope(std::initializer_list<std::pair<std::uint32_t, PendingStreamWriter>> list) {
    for (const auto& [kind, writer] : list) {
      SetPendingStreamWriter(kind, writer);
      kinds.push_back(kind);
    }
  }
  ~WriterScope() {
    for (std::uint32_t kind : kinds) SetPendingStreamWriter(kind, DefaultPendingStreamWriter(kind));
  }
  std::vector<std::uint32_t> kinds;
};

// An ExtGState entered under the record's name.
void writeGState(PDFProof& writer, PendingStream& record) {
  gLog->push_back("gstate " + record.GetName() + (writer.GetHandler()->hasOpenStream() ? " (open)" : ""));
  auto* state = new PDFDictionary();
  state->Set("Type", new PDFName("ExtGState"));
  state->Set("CA", new PDFReal(0.5));
  PDFIndirectReference* ref = writer.GetHandler()->makeIndirect(state);
  writer.GetHandler()->writeObject(ref);
  writer.GetExtGStateDictionary()->Set(record.GetName(), ref);
}

// A stream of its own that queues a graphics state while it is open; the
// state must be written when this stream ends, before the flush goes on.
void writeCell(PDFProof& writer, PendingStream& record) {
  gLog->push_back("cell " + record.GetName() + " kind " + std::to_string(record.GetKind()));
  pdfouthan& handler = *writer.GetHandler();
  auto* dict = new PDFDictionary();
  dict->Set("Type", new PDFName("XObject"));
  dict->Set("Subtype", new PDFName("Form"));
  auto* bbox = new PDFArray();
  for (int v : {0, 0, 10, 10}) bbox->Add(new PDFInteger(v));
  dict->Set("BBox", bbox);
  pdfoutfilter* sink = handler.beginStream(dict);
  *sink << "0 0 10 10 re f\n";
  auto nested = std::make_unique<PendingStreamTransparencyGraphicsState>(record.GetPaint());
  nested->SetName("GS_" + record.GetName());
  writer.AddPendingStream(std::move(nested));
  PDFIndirectReference* ref = handler.endStream(sink, &writer);
  gLog->push_back("cell end " + record.GetName());
  writer.GetXObjectDictionary()->Set(record.GetName(), ref);
}

const char* kBlack = R"([{"name": "Black", "process": "black"}])";
std::unique_ptr<jobstr> emptyJob() { return g2test::makeJob(kBlack, "[]", "[]", "[]"); }

TEST(PdfProofPending, KindsWithoutAWriterAreRefusedWhenQueued) {
  auto job = emptyJob();
  PDFSettings s = g2test::testSettings();
  g2test::Page page(*job, s);
  WriterScope none{{kPendingImageLinkForm, nullptr}};
  try {
    page.writer().AddPendingStream(std::make_unique<PendingStreamVornImageForm>(nullptr));
    FAIL() << "an image link was queued without a writer";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/OBJECT NOT SUPPORTED YET");
    EXPECT_NE(e.text().find("an image link"), std::string::npos);
  }
  EXPECT_TRUE(page.writer().GetPendingStreams().empty());
  page.finish();
}

TEST(PdfProofPending, TheFlushWritesNestedRecordsBeforeGoingOn) {
  std::vector<std::string> log;
  gLog = &log;
  WriterScope writers{{kPendingPattern, &writeCell}, {kPendingTransparencyGState, &writeGState}};
  auto job = emptyJob();
  PDFSettings s = g2test::testSettings();
  tavtest::TestFolder dir;
  const auto pdf = dir / "pending.pdf";
  {
    g2test::Page page(*job, s, kPdf14, pdf);
    PDFProof& w = page.writer();
    const std::int32_t cell[4] = {0, 0, 10, 10};
    // The queue keeps duplicates: the same cell twice is written twice.
    for (const char* name : {"A", "A2", "B"}) {
      auto record = std::make_unique<PendingStreamPattern>(10, cell);
      record->SetName(name);
      w.AddPendingStream(std::move(record));
      w.GetOutputStream() << "/" << name << " Do\n";
    }
    auto state = std::make_unique<PendingStreamTransparencyGraphicsState>(0);
    state->SetName("GS_page");
    w.AddPendingStream(std::move(state));
    w.GetOutputStream() << "/GS_page gs\n";
    page.finish();
  }
  const std::vector<std::string> expected = {
      "cell A kind 0",  "gstate GS_A",  "cell end A", "cell A2 kind 0", "gstate GS_A2",
      "cell end A2",    "cell B kind 0", "gstate GS_B", "cell end B",    "gstate GS_page"};
  EXPECT_EQ(log, expected);
  gLog = nullptr;
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
}

TEST(PdfProofPending, RecordsOwnDeepCopiesOfTheirObjects) {
  auto job = g2test::makeJob(kBlack, "[]", "[]", R"([{"kind": "path", "points": [[0, 0], [0, 10], [10, 10]]}])");
  TavDB::Object* path = jobGetSpahan(job.get())->member(0);
  const std::int32_t box[4] = {1, 2, 3, 4};
  PendingStreamTransparencyGroup group(path, 7, box);
  ASSERT_NE(group.GetObject(), nullptr);
  EXPECT_NE(group.GetObject(), path);
  EXPECT_EQ(group.GetObject()->points().size(), 3u);
  // A copied record owns a copy of its own: releasing one leaves the other.
  PendingStream copy(group);
  EXPECT_NE(copy.GetObject(), group.GetObject());
  EXPECT_EQ(copy.GetKind(), kPendingTransparencyGroup);
  copy.ReleaseObject();
  EXPECT_EQ(group.GetObject()->points().size(), 3u);
}

TEST(PdfProofPending, BarcodesAreKeptUnrotatedWithTheirRotation) {
  auto job = g2test::makeJob(kBlack, "[]", "[]", R"([{"kind": "path", "points": [[0, 0], [0, 20], [10, 20], [10, 0]]}])");
  TavDB::Object* barcode = jobGetSpahan(job.get())->member(0);
  // Turned by 90 degrees about its origin.
  TavDB::ObjectExtra& extra = barcode->extraMut();
  extra.hasMatrix = true;
  std::ranges::copy(std::array{0.0, 1.0, -1.0, 0.0}, std::begin(extra.matrix));
  extra.origin = {0, 0};
  PendingStreamBarcodeForm turned(barcode);
  EXPECT_NEAR(turned.GetRotation(), 90.0, 1e-4);
  // The copy is turned back (the point 20 along the rotated axis comes back
  // onto the other axis) and the host's object is untouched.
  EXPECT_EQ(barcode->points()[1].h, 20);
  const auto& p = turned.GetObject()->points()[1];
  EXPECT_EQ(std::abs(p.v), 20);
  EXPECT_EQ(p.h, 0);
  EXPECT_EQ(turned.GetObject()->extra()->matrix[1], 0);

  std::ranges::copy(std::array{1.0, 2.0, 2.0, 4.0}, std::begin(extra.matrix));  // singular
  PendingStreamBarcodeForm plain(barcode);
  EXPECT_EQ(plain.GetRotation(), 0.0);
  EXPECT_EQ(plain.GetObject()->points()[1].h, 20);
}

void giveUp(PDFProof&, PendingStream&) {}

TEST(PdfProofPending, AWriterThatGivesUpLeavesAnEmptyStandInAndAWarning) {
  WriterScope writers{{kPendingCADForm, &giveUp}, {kPendingTransparencyGroup, &giveUp},
                      {kPendingPattern, &giveUp}};
  auto job = emptyJob();
  PDFSettings s = g2test::testSettings();
  tavtest::TestFolder dir;
  const auto pdf = dir / "standin.pdf";
  TavGen::MessageCapture messages;
  {
    g2test::Page page(*job, s, kPdf14, pdf);
    PDFProof& w = page.writer();
    auto cad = std::make_unique<PendingStreamCADForm>(nullptr);
    cad->SetName("CAD_0_0");
    w.AddPendingStream(std::move(cad));
    const std::int32_t box[4] = {0, 0, 10, 10};
    auto group = std::make_unique<PendingStreamTransparencyGroup>(nullptr, 0, box);
    group->SetName("Group_0_0");
    group->SetGStateName("GS_0_0");
    w.AddPendingStream(std::move(group));
    auto pattern = std::make_unique<PendingStreamPattern>(10, box);
    pattern->SetName("Tv_pat_0_1");
    w.AddPendingStream(std::move(pattern));
    w.GetOutputStream() << "/CAD_0_0 Do\nq\n/GS_0_0 gs\n/Group_0_0 Do\nQ\n"
                        << "/Pattern cs\n/Tv_pat_0_1 scn\n0 0 10 10 re\nf\n";
    page.finish();
  }
  EXPECT_EQ(messages.count("PDF/DEFERRED OBJECT NOT WRITTEN"), 4);
  tavtest::expectPdfAcceptedByAllConsumers(pdf);
  tavtest::expectContentStreamsSound(pdf);
}

}  // namespace

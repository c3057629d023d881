// Pending streams: the records, the refusal of kinds nobody can write yet,
// and the flush after the content stream, including the recursion through the
// streams that a record's writer opens and closes; records of placed forms and
// pattern fills; resource names, which never collide across writers that
// share a file.
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
  g2test::Page page(*job);
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
  tavtest::TestFolder dir;
  const auto pdf = dir / "pending.pdf";
  {
    g2test::Page page(*job, g2test::defaultSettings(), kPdf14, pdf);
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
  tavtest::TestFolder dir;
  const auto pdf = dir / "standin.pdf";
  TavGen::MessageCapture messages;
  {
    g2test::Page page(*job, g2test::defaultSettings(), kPdf14, pdf);
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

// Records of placed forms, and pattern fills, as the page writer queues and
// writes them.
const char* kColours = R"([{"id": 1, "inks": {"Black": 100}}])";

TEST(PlacedForms, PlacedPdfPagesBecomeOneReferenceXObject) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "page.pdf", "%PDF-1.4\n");
  // A 20 x 40 point page placed turned by 90 degrees: its height runs along
  // h, its width upwards.
  auto job = g2test::makeJob(kBlack, kColours,
                             R"([{"id": 10, "type": "picture", "picture": 1, "pdfPage": 2,
      "place": {"origin": [60, 10], "widthCorner": [20, 10], "heightCorner": [60, 30]}}])",
                             "[]",
                             R"(, "pictures": [{"id": 1, "file": ")" + (dir / "page.pdf").string() +
                                 R"(", "width": 40, "height": 20, "pdfPage": 2}])");
  g2test::Page page(*job);
  PDFProof& w = page.writer();
  EXPECT_FALSE(w.HasPendingPictureForm(10));
  RegisterPictureForm(w, jobGetSpahan(job.get()), 10);
  EXPECT_TRUE(w.HasPendingPictureForm(10));
  // A record without a name writes an empty stream and names nothing.
  auto unnamed = std::make_unique<PendingStreamFilePdf>(nullptr, 10);
  w.AddPendingStream(std::move(unnamed));
  w.GetOutputStream() << "/Form_0_1_2_0 Do\n";
  page.finish();
  const std::string& bytes = page.bytes();
  EXPECT_EQ(g2test::count(bytes, "/Subtype /Form"), 1);
  for (const char* key : {"/Name /Form_0_1_2_0", "/Page 2 ", "/Type /FileSpec", "/FormType 1 ",
                          "/BBox [ 10  40  30  80  ]"}) {
    EXPECT_NE(bytes.find(key), std::string::npos) << key;
  }
  EXPECT_NE(bytes.find("/page.pdf)\n/Type /FileSpec"), std::string::npos);
  // Both streams hold a line end only; the unnamed one is no form.
  EXPECT_EQ(g2test::count(bytes, "stream\r\n\n\r\nendstream"), 2);
}

TEST(PatternFills, OnePatternPerPaintAndTheColourSpaceOfTheFlavour) {
  const std::string paints = R"([{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "pattern", "pattern": 1}])";
  const std::string objects = "[" + g2test::rect(0, 0, 50, 50, 11) + "," + g2test::rect(50, 50, 100, 100, 11) + "]";
  const std::string patterns = R"(, "patterns": [{"id": 1, "cell": [0, 0, 10, 10],
      "objects": [{"kind": "path", "paint": 10, "points": [[0, 0], [0, 5], [5, 5]]}]}])";
  for (int normalized : {0, 1}) {
    SCOPED_TRACE(normalized);
    auto job = g2test::makeJob(kBlack, kColours, paints, objects, patterns);
    PDFSettings s = g2test::testSettings();
    s.NormalizedOutput = normalized;
    g2test::Page page(*job, s);
    page.walk();
    EXPECT_EQ(page.writer().GetPendingStreams().size(), 1u);
    const std::string content = page.finish();
    const std::string select = normalized != 0 ? "/Pattern cs /Tv_pat_0_-9989 scn" : "/CSPat cs /Tv_pat_0_-9989 scn";
    EXPECT_EQ(g2test::count(content, select), 2) << content;
    EXPECT_EQ(g2test::count(page.bytes(), "/PatternType 1"), 1);
  }
}

// Resource names of the page writer and the resources completed when a
// content stream ends.
const char* kInks = R"([{"name": "Cyan", "process": "cyan"}, {"name": "Orange", "cmyk": [0, 50, 100, 0]}])";

std::unique_ptr<jobstr> screenedJob() {
  return g2test::makeJob(
      kInks, R"([{"id": 1, "inks": {"Orange": 50}}])",
      R"([{"id": 10, "type": "flat", "colour": 1, "screen": 3}, {"id": 11, "type": "flat", "colour": 1}])",
      "[" + g2test::rect(10, 10, 40, 40, 10) + "]",
      R"(, "screens": [{"id": 3, "name": "fine", "ruling": 150, "angles": {"Orange": 15}}])");
}

TEST(ResourceNames, EveryKindCountsOnItsOwnAndCarriesTheWriterNumber) {
  auto job = screenedJob();
  g2test::Page page(*job, g2test::defaultSettings(), kPdf14, {}, {.writerNumber = 3});
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
  g2test::Page page(*job, g2test::defaultSettings(), kPdf14, {}, {.writerNumber = 2});
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

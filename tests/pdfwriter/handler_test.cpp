// The output handler and the file structure: objects, streams with their
// indirect lengths, the cross-reference section, the trailer and the failure
// statuses, down to the bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/job.h"
#include "platform/kernel/xmpcomposer.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "sinks.h"
#include "support/consumers.h"
#include "tavpdf/PDFSettings.h"

namespace {

using namespace TavPDF;

class Handler : public ::testing::Test {
 protected:
  void SetUp() override { PdfObjectRegistry::deleteAll(); }
  void TearDown() override { PdfObjectRegistry::deleteAll(); }
  // Writes an empty Root and finishes the file; returns the finish status.
  static int finishWithRoot(pdfouthan& handler) {
    auto* root = handler.makeIndirect(new PDFDictionary);
    handler.writeObject(root);
    handler.getTrailer()->SetRoot(root);
    return handler.finishFile();
  }
};

using pdftest::DebugCapture;
using pdftest::dictOf;

TEST_F(Handler, HeaderObjectsAndCrossReferenceSectionByteForByte) {
  ::setenv("SOURCE_DATE_EPOCH", "1700000001", 1);
  TavSys::fil memory;
  pdfouthan handler(&memory, kPdf14);
  handler.writeHeader();
  handler.setDocumentID("/jobs/a.job");
  ::unsetenv("SOURCE_DATE_EPOCH");
  auto* info = handler.makeIndirect(new PDFDictionary);
  auto* number = handler.makeIndirect(new PDFInteger(42));
  auto* array = new PDFArray;
  array->Add(number);
  auto* third = handler.makeIndirect(array);
  // Written in another order than numbered.
  handler.writeObject(third);
  handler.writeObject(info);
  handler.writeObject(number);
  handler.writeObject(nullptr);  // ignored
  handler.getTrailer()->SetInfo(info);
  handler.getTrailer()->SetRoot(third);
  ASSERT_EQ(handler.finishFile(), 0);
  // The document ID folds the job path and the time.
  const auto [id1, id2] = MakeDocumentID("/jobs/a.job", 1700000001);
  const std::string id = "/ID [ (" + id1 + ") (" + id2 + ") ]\n";
  EXPECT_EQ(memory.contents(),
            "%PDF-1.4\n%\xE2\xE3\xCF\xD3"
            "\n3 0 obj\n[ 2 0 R ]\nendobj"
            "\n1 0 obj\n<<\n>>\nendobj"
            "\n2 0 obj\n42 \nendobj"
            "\nxref\n0 4 \n0000000000 65535 f \n0000000040 00000 n \n0000000061 00000 n "
            "\n0000000015 00000 n \ntrailer\n<<\n" +
                id + "/Info 1 0 R\n/Root 3 0 R\n/Size 4 \n>>\nstartxref\n80 \n%%EOF\n");
  const auto [first, second] = MakeDocumentID("ab", 0x1234);
  EXPECT_EQ(first, "6162" + std::string(28, '0'));
  EXPECT_EQ(second, "616234" + std::string(26, '0'));
  // Bytes beyond 16 fold back onto the start.
  EXPECT_EQ(MakeDocumentID(std::string(17, 'a'), 0).first.substr(0, 4), "0061");
}

TEST_F(Handler, VersionCodesChooseTheHeader) {
  for (auto [compatibility, header] : {std::pair{0, "%PDF-1.4\n"}, std::pair{1, "%PDF-1.3\n"},
                                       std::pair{2, "%PDF-1.5\n"}, std::pair{-7, "%PDF-1.3\n"}}) {
    TavSys::fil memory;
    pdfouthan handler(&memory, VersionCodeForCompatibility(compatibility));
    handler.writeHeader();
    EXPECT_EQ(memory.contents(), std::string(header) + "%\xE2\xE3\xCF\xD3");
  }
}

TEST_F(Handler, StreamWithoutDictionaryAndDictionaryPreparation) {
  struct Preparing : PDFDictionary {
    void PrepareOutput(pdfouthan* handler) override {
      Set("Prepared", new PDFInteger(static_cast<int>(handler->getVersionCode())));
    }
  };
  TavSys::fil memory;
  pdfouthan handler(&memory, kPdf15);
  pdfoutfilter* raw = handler.beginStream(nullptr);
  ASSERT_EQ(raw, handler.getFile());  // no filter: the file itself
  *raw << "abc";
  handler.endStream(raw);
  pdfoutfilter* prepared = handler.beginStream(new Preparing);
  handler.endStream(prepared);
  EXPECT_EQ(memory.contents(),
            "\n2 0 obj\n<<\n/Length 1 0 R\n>>\r\nstream\r\nabc\r\nendstream\nendobj"
            "\n1 0 obj\n3 \nendobj"
            "\n4 0 obj\n<<\n/Length 3 0 R\n/Prepared 21 \n>>\r\nstream\r\n\r\nendstream\nendobj"
            "\n3 0 obj\n0 \nendobj");
}

TEST_F(Handler, NestedStreamsAreRefusedAndAStrayEndStreamDoesNoHarm) {
  TavSys::fil memory;
  pdfouthan handler(&memory, kPdf14);
  DebugCapture debug;
  pdfoutfilter* outer = handler.beginStream(nullptr);
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(handler.beginStream(nullptr), nullptr);
  EXPECT_TRUE(debug.has("Nested Streams !"));
  // The caller of the refused stream closes its null sink: nothing happens.
  int status = 0;
  EXPECT_EQ(handler.endStream(nullptr, nullptr, &status), nullptr);
  EXPECT_NE(status, 0);
  EXPECT_TRUE(handler.hasOpenStream());
  *outer << "x";
  EXPECT_NE(handler.endStream(outer), nullptr);
  // Closing again: no stream is open.
  EXPECT_EQ(handler.endStream(handler.getFile()), nullptr);
  EXPECT_TRUE(debug.has("no open stream"));
}

TEST_F(Handler, AWriterThatGivesUpMidStreamLeavesNothingBehind) {
  TavSys::fil memory;
  {
    pdfouthan handler(&memory, kPdf14);
    pdfoutfilter* sink = handler.beginStream(dictOf({{"Filter", new PDFName("FlateDecode")}}));
    *sink << std::string(8192 + 100, ' ');  // one block compressed, one begun
    EXPECT_THROW(*sink << std::nan(""), TavSys::Error);
    // The handler goes with the stream open; its filter goes with it (the
    // sanitizer build's leak checker watches the zlib state).
  }
  EXPECT_EQ(memory.contents().find("endstream"), std::string::npos);
}

TEST_F(Handler, ThePageWriterFlushesItsPendingStreamsAfterTheStreamIsClosed) {
  TavSys::fil memory;
  pdfouthan handler(&memory, kPdf14);
  // A pending resource is a stream of its own, possibly with its own pending.
  struct Flusher : PendingStreamFlusher {
    pdfouthan* handler;
    int depth = 0;
    std::vector<std::uint32_t> written;
    void FlushPendingStreams() override {
      if (depth++ >= 2) return;
      pdfoutfilter* s = handler->beginStream(nullptr);
      ASSERT_NE(s, nullptr);
      written.push_back(handler->endStream(s, this)->GetObjectNumber());
    }
  } flusher;
  flusher.handler = &handler;
  pdfoutfilter* content = handler.beginStream(nullptr);
  *content << "content";
  EXPECT_EQ(handler.endStream(content, &flusher)->GetObjectNumber(), 2u);
  EXPECT_EQ(flusher.written, (std::vector<std::uint32_t>{6, 4}));
  EXPECT_FALSE(handler.hasOpenStream());
}

TEST_F(Handler, FinishingWithoutObjectsOrWithAnUnwrittenObjectFails) {
  {
    TavSys::fil memory;
    pdfouthan handler(&memory, kPdf14);
    EXPECT_NE(handler.finishFile(), 0);
    EXPECT_EQ(memory.contents(), "\n%%EOF\n");
  }
  {
    TavSys::fil memory;
    pdfouthan handler(&memory, kPdf14);
    handler.writeHeader();
    auto* written = handler.makeIndirect(new PDFInteger(1));
    handler.makeIndirect(new PDFInteger(2));  // never written
    handler.writeObject(written);
    handler.getTrailer()->SetRoot(written);
    DebugCapture debug;
    EXPECT_EQ(handler.finishFile(), TavSys::kResultAbandoned);
    const std::string& bytes = memory.contents();
    EXPECT_EQ(bytes.substr(bytes.size() - 13), "\nxref\n\n%%EOF\n");
    EXPECT_EQ(bytes.find("trailer"), std::string::npos);
    EXPECT_TRUE(debug.has("never written"));
  }
}

TEST_F(Handler, AFailingFilterOrAFullDiskFailsTheStreamAndTheFinish) {
  // A stream larger than the kernel file's buffer meets a full disk itself.
  const struct {
    const char* filter;
    const char* target;
    int status;
  } cases[] = {{"RunLengthDecode", nullptr, TavSys::kResultAbandoned},  // no such encoder here
               {nullptr, "/dev/full", TavSys::kFileErrorBase + ENOSPC}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    if (c.target != nullptr && !std::filesystem::exists(c.target)) GTEST_SKIP() << "no /dev/full";
    TavSys::fil memory;
    auto file = c.target != nullptr ? TavSys::fil::create(c.target) : nullptr;
    pdfouthan handler(file ? file.get() : &memory, kPdf14);
    TavGen::MessageCapture capture;  // the filter's message is tested with the filters
    pdfoutfilter* sink =
        handler.beginStream(c.filter ? dictOf({{"Filter", new PDFName(c.filter)}}) : nullptr);
    *sink << std::string(300000, 'd');
    int status = 0;
    handler.endStream(sink, nullptr, &status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(finishWithRoot(handler), c.status);
  }
}

TEST_F(Handler, OffsetsUpToTenDigitsAreWrittenAndBeyondRefused) {
  tavtest::TestFolder dir;
  // A sparse gap stands for gigabytes of earlier content. The line feed
  // before an object header comes first: from kMaxXrefOffset - 1 the header
  // lands on the last offset an entry can hold, from kMaxXrefOffset beyond it.
  for (const std::uint64_t far : {kMaxXrefOffset - 1, kMaxXrefOffset}) {
    const auto path = dir / std::to_string(far);
    auto file = TavSys::fil::create(path);
    pdfouthan handler(file.get(), kPdf14);
    handler.writeHeader();
    ASSERT_EQ(TavSys::filpos(file.get(), far), 0);
    TavGen::MessageCapture capture;
    const int status = finishWithRoot(handler);
    ASSERT_EQ(file->close(), 0);
    if (far == kMaxXrefOffset) {
      EXPECT_EQ(status, TavSys::kResultAbandoned);
      EXPECT_EQ(capture.count("PDF/FILE TOO LARGE"), 1);
    } else {
      EXPECT_EQ(status, 0);
      std::ifstream in(path, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(far));
      std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_NE(tail.find("\n9999999999 00000 n \ntrailer"), std::string::npos) << tail;
    }
    std::filesystem::remove(path);
  }
}

TEST_F(Handler, SeparationNamesFollowTheSettingsAndTheXmpComposer) {
  jobstr job;
  job.separations[0].exists = job.separations[1].exists = true;
  job.separations[0].name = "Process Cyan";
  job.separations[0].process = 0;
  job.separations[1].name = "PANTONE 185 C";
  job.separations[1].xmpName = "PANTONE 185 C (XMP)";
  PDFSettings settings;
  TavSys::fil memory;
  pdfouthan handler(&memory, kPdf15);
  handler.mJob = &job;
  handler.mSettings = &settings;
  auto name = [&](int separation) {
    std::string text;
    handler.getSeparationName(text, &job, separation);
    return text;
  };
  settings.ProcessCMYKFlags = 0;
  EXPECT_EQ(name(0), "Process Cyan");
  settings.ProcessCMYKFlags = 1;
  EXPECT_EQ(name(0), "Cyan");
  // The XMP name only with a composer attached (normalized output).
  EXPECT_EQ(name(1), "PANTONE 185 C");
  handler.mXMPComposer =
      new TavricLib::XMPComposer(&job, TavSys::FileSpec("/out/x.pdf"), false, 0, 1);
  settings.ProcessCMYKFlags = 0;
  EXPECT_EQ(name(1), "PANTONE 185 C (XMP)");
  EXPECT_EQ(name(0), "Process Cyan");  // no XMP name: the kernel's
  // A disabler once the settings ask for it (none without: see below).
  settings.UseSeparationDisabler = 1;
  EXPECT_NE(handler.getSeparationDisabler(), nullptr);
}

TEST_F(Handler, CreationReleasesTheInkCallbackAndTheHandlerItsFormCache) {
  TavSys::fil memory;
  auto handler = createPdfOutHandler(
      nullptr, nullptr, nullptr, &memory, nullptr, 2, nullptr, {0, 1, 2, -1}, 77, 3,
      TavSys::FileSpec("/out/x.pdf"), [](std::string, jobstr*, XMPlInk&) { return 0; }, true,
      nullptr);
  // Without normalized output no composer takes the ink callback: released.
  EXPECT_FALSE(static_cast<bool>(handler->mInkCallback));
  // Without settings asking for it there is no separation disabler.
  EXPECT_EQ(handler->getSeparationDisabler(), nullptr);
  // The form cache's values go with the handler.
  handler->mFormCache[5] = new PDFDictionary;
  const std::size_t live = PdfObjectRegistry::instance().liveCount();
  handler.reset();
  EXPECT_EQ(PdfObjectRegistry::instance().liveCount(), live - 1);
}

}  // namespace

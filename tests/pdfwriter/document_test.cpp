// A small document built from objects in memory (Info, Catalog, Pages, one
// page whose content comes in one stream per filter), written with the
// handler and checked by the real PDF consumers, with the stream data and the
// Info strings read back through qpdf.
#include <gtest/gtest.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "pdfwriter/pdfouthan.h"
#include "platform/system.h"
#include "sinks.h"
#include "support/consumers.h"

namespace {

using namespace TavPDF;

const char* const kLongText =
    "Escapes (nested (parens)) and a back\\slash\r\nacross more than fifty characters\x01\xE9";

struct WrittenStream {
  std::uint32_t number;
  std::string data;
};

// Writes the document and returns the content streams as written (decoded).
std::vector<WrittenStream> writeDocument(const std::filesystem::path& path, std::uint32_t version) {
  std::vector<WrittenStream> streams;
  auto file = TavSys::fil::create(path);
  pdfouthan handler(file.get(), version);
  handler.writeHeader();
  handler.setDocumentID(path.string());

  auto* info = new PDFDictionary;
  info->Set("Title", new PDFString(std::string("Filters \xE2\x80\x93 test")));
  // Strings and names longer than a chunk, with escapes, must read back whole.
  info->Set("Subject", new PDFString(kLongText));
  info->Set("Odd Key#1", new PDFName("A B#C/(x)"));
  auto* infoRef = handler.makeIndirect(info);
  handler.writeObject(infoRef);
  handler.getTrailer()->SetInfo(infoRef);

  auto* catalog = new PDFDictionary;
  auto* pages = new PDFDictionary;
  auto* catalogRef = handler.makeIndirect(catalog);
  auto* pagesRef = handler.makeIndirect(pages);
  catalog->Set("Type", new PDFName("Catalog"));
  catalog->Set("Pages", pagesRef);
  pages->Set("Type", new PDFName("Pages"));
  handler.getTrailer()->SetRoot(catalogRef);

  auto* page = new PDFDictionary;
  page->Set("Type", new PDFName("Page"));
  page->Set("Parent", pagesRef);
  page->Set("MediaBox", new PDFArray(TavSys::tv_rectangle{842, 0, 0, 595.276}));
  auto* contents = new PDFArray;
  const char* filters[] = {nullptr, "FlateDecode", "ASCIIHexDecode", "ASCII85Decode"};
  int index = 0;
  for (const char* filter : filters) {
    auto* dict = new PDFDictionary;
    if (filter != nullptr) dict->Set("Filter", new PDFName(filter));
    pdfoutfilter* sink = handler.beginStream(dict);
    // Enough path operators to span several Flate blocks.
    pdftest::StringSink s;
    s << "q\n" << 0.1 * (index + 1) << 0.2 << 0.0 << 0.0 << "k\n";
    for (int i = 0; i < 2500; ++i) {
      s << 50.5 + index * 120 << 100 + i * 0.25 << "m\n" << 150.25 + index * 120 << 100 + i * 0.25 << "l\n";
    }
    s << 1 << "w\nS\nQ\n";
    *sink << s.text;
    int status = -1;
    PDFIndirectReference* ref = handler.endStream(sink, nullptr, &status);
    EXPECT_EQ(status, 0);
    contents->Add(ref);
    streams.push_back({ref->GetObjectNumber(), s.text});
    ++index;
  }
  page->Set("Contents", contents);
  auto* pageRef = handler.makeIndirect(page);
  handler.writeObject(pageRef);
  auto* kids = new PDFArray;
  kids->Add(pageRef);
  pages->Set("Kids", kids);
  pages->Set("Count", new PDFInteger(1));
  handler.writeObject(catalogRef);
  handler.writeObject(pagesRef);
  EXPECT_EQ(handler.finishFile(), 0);
  EXPECT_EQ(file->close(), 0);
  return streams;
}

class Document : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  void TearDown() override { PdfObjectRegistry::deleteAll(); }
};

TEST_P(Document, PassesEveryConsumerAndReadsBackWhatWasWritten) {
  tavtest::TestFolder dir;
  const auto path = dir / "document.pdf";
  const auto streams = writeDocument(path, GetParam());
  PdfObjectRegistry::deleteAll();
  EXPECT_EQ(PdfObjectRegistry::instance().liveCount(), 0u);

  tavtest::expectPdfAcceptedByAllConsumers(path);
  // Wrong offsets or stream lengths would show as qpdf's recovery warnings.
  QPDF pdf;
  pdf.processFile(path.string().c_str());
  ASSERT_EQ(streams.size(), 4u);
  for (const auto& written : streams) {
    QPDFObjectHandle stream = pdf.getObjectByID(static_cast<int>(written.number), 0);
    ASSERT_TRUE(stream.isStream());
    auto data = stream.getStreamData(qpdf_dl_all);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()),
              written.data)
        << "stream " << written.number;
  }
  EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value(),
            "Filters \xE2\x80\x93 test");
  EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Subject").getStringValue(), kLongText);
  EXPECT_EQ(pdf.getTrailer().getKey("/Info").getKey("/Odd Key#1").getName(), "/A B#C/(x)");
  EXPECT_EQ(pdf.getTrailer().getKey("/ID").getArrayNItems(), 2);
  EXPECT_TRUE(pdf.getWarnings().empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, Document, ::testing::Values(kPdf13, kPdf14, kPdf15));

}  // namespace

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
using pdftest::dictOf;

const char* const kLongText =
    "Escapes (nested (parens)) and a back\\slash\r\nacross more than fifty characters\x01\xE9";

// Writes the document; returns the content streams' object numbers and data.
std::vector<std::pair<std::uint32_t, std::string>> writeDocument(const std::filesystem::path& path,
                                                                 std::uint32_t version) {
  std::vector<std::pair<std::uint32_t, std::string>> streams;
  auto file = TavSys::fil::create(path);
  pdfouthan handler(file.get(), version);
  handler.writeHeader();
  handler.setDocumentID(path.string());
  // Strings and names longer than a chunk, with escapes, must read back whole.
  auto* info = handler.makeIndirect(
      dictOf({{"Title", new PDFString(std::string("Filters \xE2\x80\x93 test"))},
              {"Subject", new PDFString(kLongText)},
              {"Odd Key#1", new PDFName("A B#C/(x)")}}));
  handler.writeObject(info);
  handler.getTrailer()->SetInfo(info);

  auto* pages = new PDFDictionary;
  auto* pagesRef = handler.makeIndirect(pages);
  auto* catalog =
      handler.makeIndirect(dictOf({{"Type", new PDFName("Catalog")}, {"Pages", pagesRef}}));
  handler.getTrailer()->SetRoot(catalog);
  auto* contents = new PDFArray;
  int index = 0;
  for (const char* filter : {"", "FlateDecode", "ASCIIHexDecode", "ASCII85Decode"}) {
    pdfoutfilter* sink =
        handler.beginStream(*filter ? dictOf({{"Filter", new PDFName(filter)}}) : nullptr);
    // Enough path operators to span several Flate blocks.
    pdftest::StringSink s;
    s << "q\n" << 0.1 * ++index << 0.2 << 0.0 << 0.0 << "k\n";
    for (int i = 0; i < 2500; ++i) {
      s << 50.5 + index * 120 << 100 + i * 0.25 << "m\n"
        << 150.25 + index * 120 << 100 + i * 0.25 << "l\n";
    }
    s << 1 << "w\nS\nQ\n";
    *sink << s.text;
    int status = -1;
    PDFIndirectReference* ref = handler.endStream(sink, nullptr, &status);
    EXPECT_EQ(status, 0);
    contents->Add(ref);
    streams.emplace_back(ref->GetObjectNumber(), s.text);
  }
  auto* page = handler.makeIndirect(
      dictOf({{"Type", new PDFName("Page")},
              {"Parent", pagesRef},
              {"MediaBox", new PDFArray(TavSys::tv_rectangle{842, 0, 0, 595.276})},
              {"Contents", contents}}));
  handler.writeObject(page);
  auto* kids = new PDFArray;
  kids->Add(page);
  pages->Set("Type", new PDFName("Pages"));
  pages->Set("Kids", kids);
  pages->Set("Count", new PDFInteger(1));
  handler.writeObject(catalog);
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
  tavtest::expectPdfAcceptedByAllConsumers(path);
  // Wrong offsets or stream lengths would show as qpdf's recovery warnings.
  QPDF pdf;
  pdf.processFile(path.string().c_str());
  for (const auto& [number, written] : streams) {
    QPDFObjectHandle stream = pdf.getObjectByID(static_cast<int>(number), 0);
    ASSERT_TRUE(stream.isStream());
    auto data = stream.getStreamData(qpdf_dl_all);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()),
              written)
        << "stream " << number;
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

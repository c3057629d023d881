// A small document built from objects in memory (Info, Catalog, Pages, one
// page whose content comes in one stream per filter), written with the
// handler and checked by the real PDF consumers, with the structure checked
// down to the bytes and the stream data read back through qpdf.
#include <gtest/gtest.h>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <regex>

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
  info->Set("Producer", new PDFString("pdfwriter test (1)"));
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
    std::string text;
    {
      pdftest::StringSink s;
      s << "q\n" << 0.1 * (index + 1) << 0.2 << 0.0 << 0.0 << "k\n";
      // Enough path operators to span several Flate blocks.
      for (int i = 0; i < 2500; ++i) {
        s << 50.5 + index * 120 << 100 + i * 0.25 << "m\n" << 150.25 + index * 120 << 100 + i * 0.25
          << "l\n";
      }
      s << 1 << "w\nS\nQ\n";
      text = s.text;
    }
    *sink << text;
    int status = -1;
    PDFIndirectReference* ref = handler.endStream(sink, nullptr, &status);
    EXPECT_EQ(status, 0);
    contents->Add(ref);
    streams.push_back({ref->GetObjectNumber(), text});
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

// Checks the structure byte by byte: entries of 20 bytes pointing at their
// object headers, startxref at "xref", every Length object right after its
// stream holding the stream's byte count.
void expectSoundStructure(const std::string& bytes) {
  const std::size_t xref = bytes.rfind("\nxref\n") + 1;
  const std::regex head("xref\n0 ([0-9]+) \n0000000000 65535 f ");
  std::smatch m;
  const std::string tail = bytes.substr(xref);
  ASSERT_TRUE(std::regex_search(tail, m, head)) << tail.substr(0, 60);
  const int size = std::stoi(m[1]);
  std::size_t at = static_cast<std::size_t>(m.position(0) + m.length(0));
  for (int number = 1; number < size; ++number) {
    const std::string entry = tail.substr(at, 20);
    ASSERT_TRUE(std::regex_match(entry, std::regex("\n[0-9]{10} 00000 n "))) << entry;
    const std::size_t offset = std::stoull(entry.substr(1, 10));
    EXPECT_EQ(bytes.substr(offset, std::to_string(number).size() + 7),
              std::to_string(number) + " 0 obj\n");
    at += 20;
  }
  EXPECT_EQ(tail.substr(at, 9), "\ntrailer\n");
  EXPECT_NE(tail.find("\n/Size " + std::to_string(size) + " \n"), std::string::npos);
  const std::string end = "\nstartxref\n" + std::to_string(xref) + " \n%%EOF\n";
  EXPECT_EQ(bytes.substr(bytes.size() - end.size()), end);

  const std::regex lengthRef("/Length ([0-9]+) 0 R");
  for (std::size_t pos = 0; (pos = bytes.find("\r\nstream\r\n", pos)) != std::string::npos;) {
    const std::size_t dataStart = pos + 10;
    const std::size_t dataEnd = bytes.find("\r\nendstream\nendobj\n", dataStart);
    ASSERT_NE(dataEnd, std::string::npos);
    const std::size_t dictStart = bytes.rfind("<<", pos);
    std::smatch lm;
    const std::string dict = bytes.substr(dictStart, pos - dictStart);
    ASSERT_TRUE(std::regex_search(dict, lm, lengthRef)) << dict;
    const std::string lengthObject =
        "\r\nendstream\nendobj\n" + lm[1].str() + " 0 obj\n" + std::to_string(dataEnd - dataStart) +
        " \nendobj";
    EXPECT_EQ(bytes.substr(dataEnd, lengthObject.size()), lengthObject);
    pos = dataEnd;
  }
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
  const std::string bytes = tavtest::readFile(path);
  expectSoundStructure(bytes);

  QPDF pdf;
  pdf.processFile(path.string().c_str());
  EXPECT_TRUE(pdf.getWarnings().empty());
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
}

INSTANTIATE_TEST_SUITE_P(Versions, Document, ::testing::Values(kPdf13, kPdf14, kPdf15));

}  // namespace

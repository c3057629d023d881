#include "colour_support.h"

#include "pdfwriter/pdfregistry.h"

namespace colourtest {

using namespace TavPDF;

std::unique_ptr<jobstr> MakeJob(const std::vector<Ink>& inks) {
  auto job = std::make_unique<jobstr>();
  int slot = 0;
  for (const Ink& ink : inks) {
    Separation& s = job->separations[static_cast<std::size_t>(slot++)];
    s.exists = true;
    s.name = ink.name;
    s.process = ink.process;
    s.cmyk = ink.cmyk;
    if (ink.process >= 0) {
      s.cmyk = {0, 0, 0, 0};
      s.cmyk[static_cast<std::size_t>(ink.process)] = 100;
    }
    s.used = true;
  }
  job->inkCount = slot;
  return job;
}

std::vector<Ink> ProcessInks() {
  return {{"Cyan", 0, {}}, {"Magenta", 1, {}}, {"Yellow", 2, {}}, {"Black", 3, {}}};
}

std::vector<Ink> SpotInks(int n) {
  std::vector<Ink> inks;
  for (int i = 0; i < n; ++i) {
    inks.push_back({"Spot " + std::to_string(i + 1), -1,
                    {static_cast<std::uint8_t>((i * 7) % 101), static_cast<std::uint8_t>((i * 13) % 101),
                     static_cast<std::uint8_t>((i * 29) % 101), static_cast<std::uint8_t>(i % 4 * 25)}});
  }
  return inks;
}

Tints::Tints() { values.fill(kTintUndefined); }
Tints::Tints(unsigned short all) { values.fill(all); }

namespace {
class StringSink : public genoutfil {
 public:
  void PutByte(std::uint8_t byte) override { text.push_back(static_cast<char>(byte)); }
  std::string text;
};
}  // namespace

std::string Serialise(PDFDictionaryValue* value) {
  StringSink sink;
  value->Output(sink);
  return sink.text;
}

void ColourTest::SetUp() {
  PdfGraphicsState::Instance().Reset();
  ColorSpace::SetUseTRDotgain(false);
}

void ColourTest::TearDown() {
  ColorSpace::SetUseTRDotgain(false);
  PdfGraphicsState::Instance().Reset();
  PdfObjectRegistry::deleteAll();
}

MemoryPdf::MemoryPdf() : handler_(std::make_unique<pdfouthan>(&file_, kPdf14)) {
  handler_->writeHeader();
}

MemoryPdf::~MemoryPdf() = default;

namespace {
std::string ObjectText(TavSys::fil& file, pdfouthan* handler, PDFIndirectReference* ref) {
  const std::string& bytes = file.contents();
  const PdfXrefEntry* entry = handler->getXrefTable()->GetEntry(ref->GetObjectNumber() - 1);
  const std::size_t end = bytes.find("\nendobj", entry->offset);
  return bytes.substr(entry->offset, end - entry->offset);
}
}  // namespace

std::string MemoryPdf::streamData(PDFIndirectReference* ref) {
  const std::string text = ObjectText(file_, handler_.get(), ref);
  const std::size_t start = text.find("stream\r\n");
  const std::size_t end = text.rfind("\r\nendstream");
  if (start == std::string::npos || end == std::string::npos) return {};
  return text.substr(start + 8, end - start - 8);
}

std::string MemoryPdf::streamDictionary(PDFIndirectReference* ref) {
  const std::string text = ObjectText(file_, handler_.get(), ref);
  const std::size_t start = text.find("obj\n");
  const std::size_t end = text.find("\r\nstream");
  return text.substr(start + 4, end - start - 4);
}

void WriteOnePagePdf(const std::filesystem::path& path, std::uint32_t versionCode,
                     const std::vector<ColorSpace*>& spaces,
                     const std::function<void(pdfoutfilter&)>& content) {
  auto file = TavSys::fil::create(path);
  ASSERT_TRUE(file);
  {
    pdfouthan handler(file.get(), versionCode);
    handler.writeHeader();

    auto* colourSpaces = new PDFDictionary();
    for (ColorSpace* space : spaces) {
      for (int part = 0; part < space->pdfGetNumParts(); ++part) {
        PDFArray* array = space->pdfGetColorSpace(&handler, part);
        if (!array) continue;
        PDFIndirectReference* ref = handler.makeIndirect(array);
        handler.writeObject(ref);
        colourSpaces->Set(space->pdfGetName(part), ref);
      }
    }
    auto* states = new PDFDictionary();
    for (int on = 0; on < 2; ++on) {
      auto* state = new PDFDictionary();
      state->Set("Type", new PDFName("ExtGState"));
      state->Set("OP", new PDFBool(on != 0));
      state->Set("op", new PDFBool(on != 0));
      state->Set("OPM", new PDFInteger(1));
      states->Set(on ? "op1" : "op0", state);
    }
    auto* resources = new PDFDictionary();
    resources->Set("ColorSpace", colourSpaces);
    resources->Set("ExtGState", states);

    // The content is written first: the cache is reset when it ends.
    pdfoutfilter* sink = handler.beginStream(nullptr);
    ASSERT_NE(sink, nullptr);
    content(*sink);
    PDFIndirectReference* contents = handler.endStream(sink);

    auto* pages = new PDFDictionary();
    PDFIndirectReference* pagesRef = handler.makeIndirect(pages);
    auto* page = new PDFDictionary();
    page->Set("Type", new PDFName("Page"));
    page->Set("Parent", pagesRef);
    auto* box = new PDFArray();
    for (int v : {0, 0, 200, 200}) box->Add(new PDFInteger(v));
    page->Set("MediaBox", box);
    page->Set("Resources", resources);
    page->Set("Contents", contents);
    PDFIndirectReference* pageRef = handler.makeIndirect(page);
    handler.writeObject(pageRef);
    auto* kids = new PDFArray();
    kids->Add(pageRef);
    pages->Set("Type", new PDFName("Pages"));
    pages->Set("Kids", kids);
    pages->Set("Count", new PDFInteger(1));
    handler.writeObject(pagesRef);
    auto* catalog = new PDFDictionary();
    catalog->Set("Type", new PDFName("Catalog"));
    catalog->Set("Pages", pagesRef);
    PDFIndirectReference* catalogRef = handler.makeIndirect(catalog);
    handler.writeObject(catalogRef);
    handler.getTrailer()->SetRoot(catalogRef);
    handler.setDocumentID("colour test");
    ASSERT_EQ(handler.finishFile(), 0);
  }
  ASSERT_EQ(file->close(), 0);
}

}  // namespace colourtest

#include "document_support.h"

#include <gtest/gtest.h>

#include <array>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/files.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernelfile.h"
#include "support/consumers.h"
#include "support/setting_overrides.h"

namespace doctest {

std::unique_ptr<jobstr> makeJob(const std::string& members) {
  std::string json = R"({"format": "tavpdf-job", "version": 1, "name": "document test",
    "ppi": 72, "origin": [0, 0], )" + members + "}";
  return TavKernel::loadJobFromMemory(json, std::filesystem::temp_directory_path(), "test.json");
}

PDFSettings testSettings(const std::string& overrides) {
  return tavtest::writerTestSettings("AddThumbnail=0 PDFCompatibility=0 " + overrides);
}

Written writeDocument(jobstr& job, const PDFSettings& settings, const std::filesystem::path& file,
                      const std::string& author) {
  Written written;
  written.file = file;
  PdfGraphicsState::Instance().Reset();
  // Whatever happens, the document's objects go with the document.
  struct Sweep {
    ~Sweep() { TavPDF::PdfObjectRegistry::deleteAll(); }
  } sweep;
  {
    auto out = TavSys::fil::create(file);
    std::array<std::int32_t, 4> process{};
    for (int k = 0; k < 4; ++k) process[static_cast<std::size_t>(k)] = sepgetcmyk(&job, k);
    auto handler = TavPDF::createPdfOutHandler(
        &job, nullptr, nullptr, out.get(), &settings, settings.PDFCompatibility, nullptr, process,
        0, TavPDF::kNoScreen, TavSys::FileSpec(file), {}, false, nullptr);
    written.documentResult = handler->writeDocument(false, author);
    written.finishResult = handler->finishFile();
    handler.reset();
    out->close();
  }
  written.bytes = tavtest::readFile(file);
  return written;
}

Written writeAccepted(jobstr& job, const PDFSettings& settings, const std::filesystem::path& file) {
  Written written = writeDocument(job, settings, file);
  EXPECT_EQ(written.documentResult, 0);
  EXPECT_EQ(written.finishResult, 0);
  tavtest::expectPdfAcceptedByAllConsumers(file);
  tavtest::expectContentStreamsSound(file);
  return written;
}

}  // namespace doctest

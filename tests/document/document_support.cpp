#include "document_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/files.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernelfile.h"
#include "support/consumers.h"

#include <qpdf/QPDFPageObjectHelper.hh>

namespace doctest {

std::unique_ptr<jobstr> makeJob(const std::string& members) {
  std::string json = R"({"format": "tavpdf-job", "version": 1, "name": "document test",
    "ppi": 72, "origin": [0, 0], )" + members + "}";
  return TavKernel::loadJobFromMemory(json, std::filesystem::temp_directory_path(), "test.json");
}

PDFSettings testSettings() {
  PDFSettings s;
  s.SetCommonDefaults();
  s.CompressPages = 0;
  s.IncludeScreening = 0;
  s.EnableDotgain = 0;
  s.NormalizedOutput = 0;
  s.SeparatedOutput = 0;
  s.IncludeLayers = 0;
  s.AddThumbnail = 0;
  s.PDFCompatibility = PDFSettings::kPDF14;
  return s;
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

Pdf::Pdf(const std::filesystem::path& file) { mPdf.processFile(file.string().c_str()); }

std::vector<double> numbers(QPDFObjectHandle array) {
  std::vector<double> out;
  if (!array.isArray()) return out;
  for (int i = 0; i < array.getArrayNItems(); ++i) out.push_back(array.getArrayItem(i).getNumericValue());
  return out;
}

std::string at(QPDFObjectHandle object, const std::string& path) {
  std::size_t start = 0;
  while (start < path.size()) {
    const std::size_t end = std::min(path.find('/', start + 1), path.size());
    const std::string step = path.substr(start, end - start);
    if (object.isArray()) {
      const int index = std::stoi(step.substr(1));
      object = index < object.getArrayNItems() ? object.getArrayItem(index) : QPDFObjectHandle::newNull();
    } else {
      if (object.isStream()) object = object.getDict();
      object = object.isDictionary() ? object.getKey(step) : QPDFObjectHandle::newNull();
    }
    start = end;
  }
  if (object.isName()) return object.getName();
  if (object.isString()) return object.getUTF8Value();
  // Containers as references where they are objects of their own, numbers as values.
  return object.isDictionary() || object.isArray() || object.isStream() ? object.unparse() : object.unparseResolved();
}

std::string pageContent(QPDFObjectHandle page) {
  std::string all;
  for (QPDFObjectHandle stream : QPDFPageObjectHelper(page).getPageContents()) {
    auto data = stream.getStreamData(qpdf_dl_generalized);
    all.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
  }
  return all;
}

}  // namespace doctest

#include "pdfproof_support.h"

#include <gtest/gtest.h>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pagedict.h"
#include "pdfwriter/pdfregistry.h"
#include "platform/kernel/jobfile.h"
#include "support/consumers.h"
#include "support/setting_overrides.h"

namespace g2test {

using namespace TavPDF;

std::unique_ptr<jobstr> makeJob(const std::string& inks, const std::string& colours,
                                const std::string& paints, const std::string& objects,
                                const std::string& extra) {
  std::string json = R"({"format": "tavpdf-job", "version": 1, "name": "page writer test",
    "ppi": 72, "origin": [100, 0], "boxes": {"media": [0, 0, 100, 100]},
    "inks": )" + inks + R"(, "colours": )" + colours + R"(, "paints": )" + paints +
                     R"(, "objects": )" + objects + extra + "}";
  return TavKernel::loadJobFromMemory(json, std::filesystem::temp_directory_path(), "test.json");
}

std::string rect(int top, int left, int bottom, int right, int paint, const std::string& more) {
  auto at = [](int v, int h) { return "[" + std::to_string(v) + ", " + std::to_string(h) + "]"; };
  return R"({"kind": "path", "paint": )" + std::to_string(paint) + more + R"(, "points": [)" + at(top, left) + ", " +
         at(top, right) + ", " + at(bottom, right) + ", " + at(bottom, left) + "]}";
}

PDFSettings testSettings() { return tavtest::writerTestSettings("OptimizeWhiteObjects=0"); }

const PDFSettings& defaultSettings() {
  static const PDFSettings settings = testSettings();
  return settings;
}

namespace {

// A dictionary of the given entries (registry-owned).
PDFDictionary* dict(std::initializer_list<std::pair<const char*, PDFDictionaryValue*>> entries) {
  auto* d = new PDFDictionary();
  for (const auto& [key, value] : entries) d->Set(key, value);
  return d;
}

PDFDictionary* overprintState(bool on, int mode) {
  return dict({{"OP", new PDFBool(on)}, {"OPM", new PDFInteger(mode)}});
}

// The content of the first content stream in a memory document (streams
// written uncompressed), between "stream" and "endstream".
std::string firstStreamData(const std::string& bytes) {
  const std::size_t start = bytes.find("stream\r\n");
  if (start == std::string::npos) return {};
  const std::size_t end = bytes.find("\r\nendstream", start);
  return bytes.substr(start + 8, end - start - 8);
}

}  // namespace

Page::Page(jobstr& job, const PDFSettings& settings, std::uint32_t version,
           const std::filesystem::path& file, const PageOptions& options)
    : mJob(job), mPath(file), mCounter(options.writerNumber) {
  PdfGraphicsState::Instance().Reset();
  mFile = file.empty() ? std::make_unique<TavSys::fil>() : TavSys::fil::create(file);
  mHandler = std::make_unique<pdfouthan>(mFile.get(), version);
  mHandler->mSettings = &settings;
  mHandler->mJob = &job;
  mHandler->writeHeader();
  mHandler->setDocumentID("page writer test");

  auto* catalog = dict({{"Type", new PDFName("Catalog")}});
  mCatalog = mHandler->makeIndirect(catalog);
  mPages = mHandler->makeIndirect(dict({{"Type", new PDFName("Pages")}}));
  catalog->Set("Pages", mPages);
  mHandler->getTrailer()->SetRoot(mCatalog);
  // Every test job has the media box 0 0 100 100 points (see makeJob).
  auto* mediaBox = new PDFArray();
  for (int v : {0, 0, 100, 100}) mediaBox->Add(new PDFInteger(v));
  mPage = dict({{"Type", new PDFName("Page")}, {"Parent", mPages}, {"MediaBox", mediaBox}});

  auto* patterns = new PDFDictionary();
  auto* xobjects = new PDFDictionary();
  auto* extGStates = dict({{"op1", overprintState(true, 1)}, {"op0", overprintState(false, 0)}});
  mColorSpaces = new PDFDictionary();
  mResources = dict({{"ColorSpace", mColorSpaces}, {"Pattern", patterns}, {"XObject", xobjects},
                     {"ExtGState", extGStates}});
  mWriter = std::make_unique<PDFProof>(&job, mHandler.get(), mResources, patterns, xobjects,
                                       extGStates, settings, &mCounter,
                                       GetPendingLists(*mHandler), &mHandler->mFormCache, nullptr,
                                       false, options.nestedWriter, nullptr, false, false,
                                       options.insideOneUp);
}

Page::~Page() = default;

void Page::walk() { mWriter->OutputGroup(jobGetSpahan(&mJob), false, -1, false); }

std::string Page::finish() {
  if (mFinished) return firstStreamData(mBytes);
  mFinished = true;
  PDFDictionaryValue* contents = mWriter->FinishContentStream();
  mWriter.reset();
  mPage->Set("Contents", contents);
  // The spot inks' colour spaces as the page dictionary writes them (after
  // the content, so that the content stays the file's first stream).
  WriteSeparationColorSpaces(*mHandler, mColorSpaces);
  GetPendingLists(*mHandler)->writePending(mHandler.get(), mColorSpaces, mResources);
  PDFIndirectReference* resources = mHandler->makeIndirect(mResources);
  mPage->Set("Resources", resources);
  PDFIndirectReference* page = mHandler->makeIndirect(mPage);
  mHandler->writeObject(page);
  mHandler->writeObject(resources);
  auto* kids = new PDFArray();
  kids->Add(page);
  auto* pages = static_cast<PDFDictionary*>(mPages->GetObject());
  pages->Set("Kids", kids);
  pages->Set("Count", new PDFInteger(1));
  mHandler->writeObject(mCatalog);
  mHandler->writeObject(mPages);
  EXPECT_EQ(mHandler->finishFile(), 0);
  mHandler.reset();
  if (mFile->isMemory()) {
    mBytes = mFile->contents();
  } else {
    EXPECT_EQ(mFile->close(), 0);
    mBytes = tavtest::readFile(mPath);
  }
  PdfObjectRegistry::deleteAll();
  return firstStreamData(mBytes);
}

std::string writeJobPdf(jobstr& job, const PDFSettings& settings, std::uint32_t version,
                        const std::filesystem::path& file, const PageOptions& options) {
  Page page(job, settings, version, file, options);
  page.walk();
  return page.finish();
}

int count(const std::string& haystack, const std::string& text) {
  int n = 0;
  for (std::size_t at = haystack.find(text); at != std::string::npos;
       at = haystack.find(text, at + text.size())) {
    ++n;
  }
  return n;
}

}  // namespace g2test

#pragma once
// Test support for the PDF page writer: jobs from small JSON texts, and a
// one-page document written around a page writer, either kept in memory (the
// content stream's bytes come back uncompressed) or written to a file for the
// PDF consumers and the plate measurements.
#include <filesystem>
#include <memory>
#include <string>

#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/job.h"
#include "tavpdf/PDFSettings.h"

namespace g2test {

// A job from the JSON of a job file. `inks`, `colours`, `paints` and
// `objects` are JSON arrays; the media box is 100 x 100 points (ppi 72).
std::unique_ptr<jobstr> makeJob(const std::string& inks, const std::string& colours,
                                const std::string& paints, const std::string& objects,
                                const std::string& extra = "");

// A path object of the job file: the axis-parallel rectangle from (top, left)
// to (bottom, right) in `paint`; `more` adds members (", \"stroke\": ...").
std::string rect(int top, int left, int bottom, int right, int paint, const std::string& more = "");

// Settings for the page writer's tests: the common defaults, uncompressed
// pages, no screening, no dot gain.
PDFSettings testSettings();
// testSettings() kept for the whole run, for pages that take them unchanged.
const PDFSettings& defaultSettings();

// One page of a document around a page writer. The constructor opens the
// document and the page writer (and so its content stream); finish() ends the
// content, completes the page and the file.
struct PageOptions {
  bool nestedWriter = false;
  bool insideOneUp = false;
  // The value of the page's writer counter when the writer is made.
  std::int32_t writerNumber = 0;
};

class Page {
 public:
  // file empty: the document is kept in memory.
  Page(jobstr& job, const PDFSettings& settings = defaultSettings(), std::uint32_t version = TavPDF::kPdf14,
       const std::filesystem::path& file = {}, const PageOptions& options = {});
  ~Page();

  TavPDF::PDFProof& writer() { return *mWriter; }
  TavPDF::pdfouthan& handler() { return *mHandler; }
  TavPDF::PDFDictionary* resources() const { return mResources; }
  // Walks the job's whole tree.
  void walk();
  // Ends the page and the file; returns the page's content as written
  // (pages are uncompressed with the test settings).
  std::string finish();
  // The whole file (after finish()).
  const std::string& bytes() const { return mBytes; }

 private:
  jobstr& mJob;
  std::filesystem::path mPath;
  std::unique_ptr<TavSys::fil> mFile;
  std::unique_ptr<TavPDF::pdfouthan> mHandler;
  std::unique_ptr<TavPDF::PDFProof> mWriter;
  TavPDF::PDFDictionary* mResources = nullptr;
  TavPDF::PDFDictionary* mColorSpaces = nullptr;
  TavPDF::PDFDictionary* mPage = nullptr;
  TavPDF::PDFIndirectReference* mCatalog = nullptr;
  TavPDF::PDFIndirectReference* mPages = nullptr;
  std::int32_t mCounter = 0;
  std::string mBytes;
  bool mFinished = false;
};

// Walks the job into a one-page document (in memory when file is empty) and
// returns the page content.
std::string writeJobPdf(jobstr& job, const PDFSettings& settings = testSettings(),
                        std::uint32_t version = TavPDF::kPdf14, const std::filesystem::path& file = {},
                        const PageOptions& options = {});

// Counts occurrences of text in haystack.
int count(const std::string& haystack, const std::string& text);

}  // namespace g2test

#pragma once
// Test support for the document and page-dictionary writers: jobs from small
// JSON texts, whole documents written through createPdfOutHandler and
// writeDocument.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/job.h"
#include "support/pdfread.h"
#include "tavpdf/PDFSettings.h"

namespace doctest {

// A job from JSON members (inks, colours, paints, objects and anything else
// given in `members`, without the outer braces). Defaults: ppi 72, origin at
// the top left corner of a 200 x 100 point media box (v 0..100, h 0..200).
std::unique_ptr<jobstr> makeJob(const std::string& members);

// Settings for these tests: common defaults, uncompressed pages, no
// screening, no dot gain, PDF 1.4; then the "Field=Value ..." overrides.
PDFSettings testSettings(const std::string& overrides = "");

struct Written {
  int documentResult = -1;  // writeDocument's result
  int finishResult = -1;    // finishFile's result
  std::filesystem::path file;
  std::string bytes;
};

// Writes the job as a whole document into `file` (the caller's settings are
// passed as they are) and reads the file back.
Written writeDocument(jobstr& job, const PDFSettings& settings, const std::filesystem::path& file,
                      const std::string& author = "test author");
// writeDocument expecting success: both results 0, every consumer accepts the
// file and its content streams are sound.
Written writeAccepted(jobstr& job, const PDFSettings& settings, const std::filesystem::path& file);

// Reading the written file back.
using tavtest::at;
using tavtest::numbers;
using tavtest::pageContent;
using tavtest::Pdf;

}  // namespace doctest

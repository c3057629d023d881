#pragma once
// Test support for the document and page-dictionary writers: jobs from small
// JSON texts, whole documents written through createPdfOutHandler and
// writeDocument, and a look into the written file through qpdf.
#include <filesystem>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "platform/kernel/job.h"
#include "tavpdf/PDFSettings.h"

namespace doctest {

// A job from JSON members (inks, colours, paints, objects and anything else
// given in `members`, without the outer braces). Defaults: ppi 72, origin at
// the top left corner of a 200 x 100 point media box (v 0..100, h 0..200).
std::unique_ptr<jobstr> makeJob(const std::string& members);

// Settings for these tests: common defaults, uncompressed pages, no
// screening, no dot gain, PDF 1.4.
PDFSettings testSettings();

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

// The written file opened with qpdf.
class Pdf {
 public:
  explicit Pdf(const std::filesystem::path& file);
  QPDFObjectHandle trailer() { return mPdf.getTrailer(); }
  QPDFObjectHandle root() { return mPdf.getRoot(); }
  QPDFObjectHandle info() { return mPdf.getTrailer().getKey("/Info"); }
  std::vector<QPDFObjectHandle> pages() { return mPdf.getAllPages(); }
  QPDFObjectHandle page(std::size_t index) { return pages().at(index); }

 private:
  QPDF mPdf;
};

// The numbers of an array of numbers.
std::vector<double> numbers(QPDFObjectHandle array);
// What lies at a path of dictionary keys (of a stream: of its dictionary) and
// array indices below `object`
// ("/OCGs/1/Usage/Print/PrintState"): a string's text as UTF-8, anything else
// as qpdf writes it, a name unescaped ("/Spot One", "4", "true", "[ 0 1 ]",
// "2 0 R", "null" when missing).
std::string at(QPDFObjectHandle object, const std::string& path);
// The page's content streams, decoded and joined.
std::string pageContent(QPDFObjectHandle page);

}  // namespace doctest

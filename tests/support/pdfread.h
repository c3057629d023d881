#pragma once
// Reading a written PDF file back through qpdf: values at a path of keys,
// arrays of numbers, stream and page contents.
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

namespace tavtest {

// The file opened with qpdf.
class Pdf {
 public:
  explicit Pdf(const std::filesystem::path& file);
  QPDF& qpdf() { return mPdf; }
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
// array indices below `object` ("/OCGs/1/Usage/Print/PrintState"): a
// string's text as UTF-8, a name unescaped ("/Spot One"), containers as
// references where they are objects of their own, anything else as qpdf
// writes it ("4", "true", "[ 0 1 ]", "2 0 R", "null" when missing).
std::string at(QPDFObjectHandle object, const std::string& path);
// Expects the value `at` gives for each path below `object`.
void expectValues(QPDFObjectHandle object, const std::vector<std::pair<std::string, std::string>>& expected);
// A stream's data, decoded (raw: as stored in the file).
std::string streamData(QPDFObjectHandle stream, bool raw = false);
// The page's content streams, decoded and joined.
std::string pageContent(QPDFObjectHandle page);
// The objects of the file that nothing reachable from its trailer refers to,
// each as "n g R" and its type ("12 0 R stream"); empty for a sound file.
std::vector<std::string> unreachableObjects(const std::filesystem::path& file);

}  // namespace tavtest

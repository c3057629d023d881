#pragma once
// Test support: small PDF files built with qpdf from PDF syntax, for the
// tests of the passes that read PDF files (placed pages, ink renaming).
//
//   tavtest::PdfBuilder b;
//   const std::string gs = b.object("<< /Type /ExtGState /BM /Multiply >>");
//   b.page("/Resources << /ExtGState << /G0 " + gs + " >> >>", {"/G0 gs 0 0 50 50 re f"});
//   b.write(dir / "placed.pdf");
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QPDF;

namespace tavtest {

class PdfBuilder {
 public:
  PdfBuilder();
  ~PdfBuilder();
  PdfBuilder(const PdfBuilder&) = delete;
  PdfBuilder& operator=(const PdfBuilder&) = delete;

  // A new indirect object from PDF syntax (references "N 0 R" to objects made
  // before are allowed); returns its reference text "N 0 R".
  std::string object(const std::string& syntax);
  // A new stream: its dictionary's syntax and its data (the file stores the
  // data Flate-encoded; empty data would give an invalid stream).
  std::string stream(const std::string& dictionary, const std::string& data);
  // A new page of the given size with further page keys (PDF syntax, e.g.
  // "/Resources << ... >> /Rotate 90") and its content: one stream, or an
  // array of streams when there are several parts.
  void page(const std::string& keys, const std::vector<std::string>& contents, double width = 200,
            double height = 200);
  // Sets an entry of the Catalog.
  void catalog(const std::string& key, const std::string& syntax);
  // Sets an entry of a dictionary (or stream) made before, given by its
  // reference text: for objects that refer to one another.
  void put(const std::string& reference, const std::string& key, const std::string& syntax);
  // Writes the file (encrypted with an owner password when asked); throws
  // std::runtime_error on failure.
  void write(const std::filesystem::path& file, bool encrypt = false);

 private:
  std::unique_ptr<QPDF> pdf_;
};

}  // namespace tavtest

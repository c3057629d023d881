// deps: tv_driver tv_pdfwriter tv_settings tv_kernel tv_platform
// Feeds content streams to the filter that copies a placed page's content
// into its form: it never crashes, and what it writes is balanced and holds
// no hidden optional content any more, so that passing its output through
// it again mends nothing and finds the same flaw.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Buffer.hh>

#include "driver/placedcontent.h"
#include "platform/files.h"
#include "platform/tav_error.h"

namespace {

// A placed file with optional content (MC0 hidden), written once; each
// input opens it again, so that what a run adds to it goes with the run.
const std::string& placedFile() {
  static const std::string path = [] {
    static TavSys::TempFolder folder(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
    const std::string file = (folder.path() / "placed.pdf").string();
    const std::string body =
        "%PDF-1.5\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [3 0 R] /D << /OFF [3 0 R] >> >> >>\n"
        "endobj\n2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n3 0 obj\n<< /Type /OCG /Name (Hidden) >>\nendobj\n";
    std::string bytes = body + "xref\n0 4\n0000000000 65535 f \n";
    for (const std::size_t at : {body.find("1 0 obj"), body.find("2 0 obj"), body.find("3 0 obj")}) {
      const std::string n = std::to_string(at);
      bytes += std::string(10 - n.size(), '0') + n + " 00000 n \n";
    }
    bytes += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(body.size()) + "\n%%EOF\n";
    std::FILE* f = std::fopen(file.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return file;
  }();
  return path;
}

// The resources the contents name: /F1, /GS0, /P0, /MC0 and /X0 (a form
// drawing /X1).
QPDFObjectHandle resources(GADoc& doc) {
  QPDFObjectHandle inner = QPDFObjectHandle::newStream(&doc.Qpdf(), "0 0 1 1 re f");
  inner.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
  QPDFObjectHandle form = QPDFObjectHandle::newStream(&doc.Qpdf(), "q /X1 Do Q");
  form.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
  form.getDict().replaceKey("/Resources", QPDFObjectHandle::parse(&doc.Qpdf(), "<< /XObject << >> >>"));
  form.getDict().getKey("/Resources").getKey("/XObject").replaceKey("/X1", inner);
  QPDFObjectHandle res = QPDFObjectHandle::parse(
      &doc.Qpdf(),
      "<< /Font << /F1 << /Type /Font >> >> /ExtGState << /GS0 << >> >> /Properties << /P0 << >> /MC0 3 0 R >> >>");
  res.replaceKey("/XObject", QPDFObjectHandle::newDictionary());
  res.getKey("/XObject").replaceKey("/X0", form);
  return res;
}

std::string filtered(GADoc& doc, QPDFObjectHandle res, const std::string& content,
                     TavPDF::PlacedContentReport& report) {
  Pl_Buffer out("out");
  report = TavPDF::FilterPlacedContent(doc, {QPDFObjectHandle::newStream(&doc.Qpdf(), content)}, res, out);
  std::unique_ptr<Buffer> b(out.getBuffer());
  return std::string(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GADoc doc(placedFile());
  const QPDFObjectHandle res = resources(doc);
  const std::string content(reinterpret_cast<const char*>(data), size);
  try {
    TavPDF::PlacedContentReport first, second;
    const std::string once = filtered(doc, res, content, first);
    const std::string twice = filtered(doc, res, once, second);
    if (second.mended) std::abort();                               // the first pass left something to mend
    if (second.flaw != first.flaw) std::abort();                   // a flaw went missing or appeared
    if (second.drawn != first.drawn) std::abort();                 // the forms drawn changed
    if (filtered(doc, res, twice, second) != twice) std::abort();  // the content settles after one pass
    if (!first.drawn.empty()) TavPDF::CheckPlacedForms(doc, res, first.drawn);
  } catch (const TavSys::Error&) {
    // A content that cannot be read is refused, never a crash.
  }
  return 0;
}

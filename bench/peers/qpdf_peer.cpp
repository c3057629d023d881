// A peer of the whole export: qpdf's library writing a one-page file whose
// page content is the given content stream, Flate-compressed at level 8 (the
// level tavpdf writes). It reads the stream from a file, as it has no job
// model of its own.
//
//   peer_qpdf CONTENT OUT.pdf WIDTH HEIGHT
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s CONTENT OUT.pdf WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle page = QPDFObjectHandle::parse(std::string("<< /Type /Page /MediaBox [0 0 ") + argv[3] +
                                                    " " + argv[4] + "] /Resources << >> >>");
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, std::move(content)));
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);
    Pl_Flate::setCompressionLevel(8);
    QPDFWriter writer(pdf, argv[2]);
    writer.setStreamDataMode(qpdf_s_compress);
    writer.write();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}

// The second pass of an export over placed PDF pages: a written file placing
// every page of a 100-page PDF (each page with an image and a font of its
// own) once, its 100 reference XObjects replaced by the pages. The floor,
// measured in the same run, is qpdf copying the same pages into a new file
// the way its --pages option does (the pages added from the source file,
// the file written with the same stream handling).
#include <benchmark/benchmark.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <filesystem>
#include <string>

#include "driver/placedpdf.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 100;

const fs::path& folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "tavpdf-placedpdf-bench";
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Bytes that deflate about as well as a photograph: a smooth tone with noise.
std::string noise(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = char((i / 7 + (seed >> 27)) & 255);
  }
  return s;
}

// The placed file: every page draws its own 300 x 300 RGB image and writes a
// text in its own embedded font program.
void writeSource(const fs::path& file) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper pages(pdf);
  for (int i = 0; i < kPages; ++i) {
    QPDFObjectHandle image = pdf.newStream(noise(300 * 300 * 3, unsigned(i + 1)));
    image.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    image.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    image.getDict().replaceKey("/Width", QPDFObjectHandle::newInteger(300));
    image.getDict().replaceKey("/Height", QPDFObjectHandle::newInteger(300));
    image.getDict().replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
    image.getDict().replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    QPDFObjectHandle program = pdf.newStream(noise(40000, unsigned(1000 + i)));
    QPDFObjectHandle descriptor = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /FontDescriptor /FontName /F" + std::to_string(i) +
        " /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 "
        "/StemV 80 >>"));
    descriptor.replaceKey("/FontFile3", program);
    QPDFObjectHandle font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /F" + std::to_string(i) + " >>"));
    font.replaceKey("/FontDescriptor", descriptor);
    QPDFObjectHandle page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 595 842] /Resources << >> >>"));
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::newDictionary({{"/Im", image}}));
    page.getKey("/Resources").replaceKey("/Font", QPDFObjectHandle::newDictionary({{"/F", font}}));
    page.replaceKey("/Contents",
                    pdf.newStream("q 500 0 0 500 40 300 cm /Im Do Q BT /F 24 Tf 40 100 Td (Page " +
                                  std::to_string(i + 1) + ") Tj ET"));
    pages.addPage(QPDFPageObjectHelper(page), false);
  }
  QPDFWriter w(pdf, file.c_str());
  w.setStaticID(true);
  w.write();
}

// The written file: one page per placed page, each drawing the reference
// XObject of its page.
void writeReferences(const fs::path& file, const fs::path& source) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper pages(pdf);
  for (int i = 0; i < kPages; ++i) {
    QPDFObjectHandle reference = pdf.newStream("\n");
    QPDFObjectHandle dict = QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Form /FormType 1 /BBox [0 0 595 842] /Matrix [1 0 0 1 0 0] "
        "/Ref << /F << /Type /FileSpec /F (" + source.string() + ") >> /Page " + std::to_string(i) + " >> >>");
    for (const auto& [key, value] : dict.getDictAsMap()) reference.getDict().replaceKey(key, value);
    QPDFObjectHandle page = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 595 842] /Resources << >> >>"));
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::newDictionary({{"/P", reference}}));
    page.replaceKey("/Contents", pdf.newStream("/P Do"));
    pages.addPage(QPDFPageObjectHelper(page), false);
  }
  QPDFWriter w(pdf, file.c_str());
  w.setStaticID(true);
  w.write();
}

const fs::path& source() {
  static const fs::path file = [] {
    const fs::path f = folder() / "source.pdf";
    writeSource(f);
    writeReferences(folder() / "written.pdf", f);
    return f;
  }();
  return file;
}

void BM_ResolvePlacedPages(benchmark::State& state) {
  source();
  const fs::path work = folder() / "work.pdf";
  for (auto _ : state) {
    state.PauseTiming();
    fs::copy_file(folder() / "written.pdf", work, fs::copy_options::overwrite_existing);
    state.ResumeTiming();
    if (TavPDF::resolvePlacedPdfReferences(TavSys::FileSpec(work), false, false, false) != 0) {
      state.SkipWithError("the pass failed");
      break;
    }
  }
  state.counters["output_MiB"] = double(fs::file_size(work)) / (1024.0 * 1024.0);
}

void BM_ResolvePlacedPagesFloor(benchmark::State& state) {
  source();
  const fs::path out = folder() / "floor.pdf";
  for (auto _ : state) {
    QPDF from;
    from.processFile(source().c_str());
    QPDF to;
    to.emptyPDF();
    QPDFPageDocumentHelper pages(to);
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(from).getAllPages()) pages.addPage(page, false);
    QPDFWriter w(to, out.c_str());
    w.setDecodeLevel(qpdf_dl_none);
    w.setCompressStreams(false);
    w.setDeterministicID(true);
    w.write();
  }
  state.counters["output_MiB"] = double(fs::file_size(out)) / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(BM_ResolvePlacedPagesFloor)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ResolvePlacedPages)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();

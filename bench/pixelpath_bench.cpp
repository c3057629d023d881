// The pixel path: 100 MiB of CMYK rows through a page writer's outpixbegin /
// outpixrow / outpixend (buffered in a temporary file while the page's
// content is open, copied into the image stream when the page ends), with
// Flate and with DCT, each beside its floor over the same rows in the same
// run: zlib's deflate at level 8, and libjpeg-turbo's compressor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "deflate_floor.h"
#include "pagewriter/pdfproof.h"
#include "pdfwriter/pdfpending.h"
#include "platform/kernel/jobfile.h"
#include "tavpdf/PDFSettings.h"

namespace {

using namespace TavPDF;

constexpr int kWidth = 5000;                  // pixels per row
constexpr int kRowBytes = kWidth * 4;
constexpr int kRows = (100 << 20) / kRowBytes;  // 100 MiB of rows
constexpr int kDistinctRows = 64;

// Smooth CMYK tones with a little noise, as a scanned picture has them.
const std::vector<std::vector<std::uint8_t>>& rows() {
  static const auto made = [] {
    std::vector<std::vector<std::uint8_t>> r(kDistinctRows, std::vector<std::uint8_t>(kRowBytes));
    unsigned x = 7;
    for (int y = 0; y < kDistinctRows; ++y)
      for (int i = 0; i < kWidth; ++i)
        for (int c = 0; c < 4; ++c) {
          x = x * 1103515245u + 12345u;
          const double tone = 127 + 100 * std::sin((i + 37 * c) / 300.0 + y / 20.0);
          r[std::size_t(y)][std::size_t(i * 4 + c)] = std::uint8_t(std::clamp(tone + double(x >> 28) - 8, 0.0, 255.0));
        }
    return r;
  }();
  return made;
}

double residentMiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void PixelPath(benchmark::State& state, int quality) {
  auto job = TavKernel::loadJobFromMemory(
      R"({"format": "tavpdf-job", "version": 1, "name": "bench", "ppi": 72, "boxes": {"media": [0, 0, 1000, 1000]},
          "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
                   {"name": "Yellow", "process": "yellow"}, {"name": "Black", "process": "black"}],
          "colours": [], "paints": [], "objects": []})",
      "/tmp", "bench.json");
  PDFSettings settings;
  settings.SetCommonDefaults();
  settings.CompressImages = quality;
  settings.EnableDotgain = 0;
  const auto& data = rows();
  double growth = 0;
  for (auto _ : state) {
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    auto file = std::make_unique<TavSys::fil>(fd, true, "/dev/null");
    {
      pdfouthan handler(file.get(), kPdf14);
      handler.mSettings = &settings;
      handler.mJob = job.get();
      handler.writeHeader();
      auto* resources = new PDFDictionary();
      auto* xobjects = new PDFDictionary();
      resources->Set("XObject", xobjects);
      std::int32_t counter = 0;
      PDFProof writer(job.get(), &handler, resources, new PDFDictionary(), xobjects, new PDFDictionary(), settings,
                      &counter, GetPendingLists(handler), &handler.mFormCache, nullptr, false, false, nullptr,
                      false, false, false);
      const TavDB::tv_matrixtyp<double> m{0.24, 0, 0, 0.24, 0, 1000};
      proofimghan* h = writer.outpixbegin(nullptr, nullptr, m, 300, 1, 0, 0, kRows, kWidth, 4, 5, nullptr,
                                          false, nullptr);
      double early = 0;
      for (int y = 0; y < kRows; ++y) {
        writer.outpixrow(h, data[std::size_t(y % kDistinctRows)].data(), kWidth, 4);
        if (y == kRows / 10) early = residentMiB();
      }
      writer.outpixend(h);
      writer.FinishContentStream();  // the buffered image goes into its stream here
      growth = std::max(growth, residentMiB() - early);
      state.counters["written_MB"] = double(file->position()) / (1024.0 * 1024.0);
    }
    PdfObjectRegistry::deleteAll();
  }
  state.counters["rss_growth_MiB"] = growth;
  state.SetBytesProcessed(state.iterations() * std::int64_t(kRows) * kRowBytes);
}

void BM_PixelPathFlate(benchmark::State& state) { PixelPath(state, 1); }
void BM_PixelPathDCT(benchmark::State& state) { PixelPath(state, 80); }

void BM_PixelPathFlateFloor(benchmark::State& state) {
  const auto& data = rows();
  for (auto _ : state) {
    tavbench::DeflateFloor floor;
    for (int y = 0; y < kRows; ++y) floor.add(data[std::size_t(y % kDistinctRows)].data(), kRowBytes);
    floor.finish();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kRows) * kRowBytes);
}

void BM_PixelPathDCTFloor(benchmark::State& state) {
  const auto& data = rows();
  std::vector<unsigned char> block(16384);
  for (auto _ : state) {
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    jpeg_destination_mgr dest;
    static unsigned char* buffer;
    buffer = block.data();
    dest.init_destination = [](j_compress_ptr p) {
      p->dest->next_output_byte = buffer;
      p->dest->free_in_buffer = 16384;
    };
    dest.empty_output_buffer = [](j_compress_ptr p) -> boolean {
      p->dest->next_output_byte = buffer;
      p->dest->free_in_buffer = 16384;
      return TRUE;
    };
    dest.term_destination = [](j_compress_ptr) {};
    c.dest = &dest;
    c.image_width = kWidth;
    c.image_height = kRows;
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    c.write_Adobe_marker = FALSE;
    jpeg_set_quality(&c, 80, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < kRows; ++y) {
      JSAMPROW r = const_cast<JSAMPROW>(data[std::size_t(y % kDistinctRows)].data());
      jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kRows) * kRowBytes);
}

}  // namespace

BENCHMARK(BM_PixelPathFlateFloor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PixelPathFlate)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PixelPathDCTFloor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PixelPathDCT)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();

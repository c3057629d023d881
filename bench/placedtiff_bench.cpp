// A 100 MiB CMYK TIFF placed at its full resolution, exported with the
// Press flavour and Flate-compressed images. The floor, measured in the same
// run, is libtiff reading the same rows plus zlib's deflate at level 8 over
// the same bytes. Peak memory: the process's high-water mark after exporting
// an empty job, then after exporting the placed picture (the picture is
// never held whole).
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cmyk_tiff.h"
#include "deflate_floor.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kWidth = 5000;
constexpr std::uint32_t kRows = (100u << 20) / (kWidth * 4);

const fs::path& folder() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / "tavpdf-placedtiff-bench";
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Smooth tones with a little noise, as a scan has them; uncompressed strips.
const fs::path& picture() {
  static const fs::path file = [] {
    const fs::path f = folder() / "scan.tif";
    unsigned x = 7;
    tavbench::writeCmykTiff(f, kWidth, kRows, 8, 300.0f, [&](std::vector<std::uint8_t>& row, std::uint32_t y) {
      for (std::uint32_t i = 0; i < kWidth * 4; ++i) {
        x = x * 1103515245u + 12345u;
        const double tone = 127 + 100 * std::sin((i / 4 + 37.0 * (i % 4)) / 300.0 + y / 200.0);
        row[i] = std::uint8_t(std::fmin(255, std::fmax(0, tone + double(x >> 28) - 8)));
      }
    });
    return f;
  }();
  return file;
}

// A job of the picture's size placing it (or nothing) at 300 ppi.
fs::path job(bool placed) {
  const std::string w = std::to_string(kWidth), h = std::to_string(kRows);
  const fs::path file = folder() / (placed ? "placed.json" : "empty.json");
  std::ofstream out(file);
  out << R"({"format":"tavpdf-job","version":1,"name":"bench","ppi":300,"origin":[)" << h
      << R"(,0],"boxes":{"media":[0,0,)" << h << "," << w << R"(]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      << R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"}],"colours":[],)"
      << R"("paints":[{"id":20,"type":"picture","picture":1,"place":{"origin":[0,0],"widthCorner":[0,)" << w
      << R"(],"heightCorner":[)" << h << R"(,0]}}],"pictures":[{"id":1,"file":")" << picture().string()
      << R"("}],"objects":[)";
  if (placed) out << R"({"kind":"path","paint":20,"points":[[0,0],[0,)" << w << "],[" << h << "," << w << "],[" << h << ",0]]}";
  out << "]}";
  return file;
}

long peakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
  }
  return 0;
}

double exportSeconds(const fs::path& jobFile) {
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  settings.CompressImages = 1;
  settings.UseDownsampling = 0;
  settings.VerifyCompatibility();
  auto loaded = TavKernel::loadJobFile(jobFile);
  MarksSettings marks;
  TavSys::FileSpec target(folder() / "out.pdf");
  const auto start = std::chrono::steady_clock::now();
  const int rc = OutputPDFDocument(loaded.get(), settings, marks, true, false, nullptr, target, {}, nullptr);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return rc == 0 ? s : -1;
}

void BM_PlacedTiffFloor(benchmark::State& state) {
  std::vector<std::uint8_t> row(kWidth * 4);
  for (auto _ : state) {
    TIFF* t = TIFFOpen(picture().c_str(), "r");
    tavbench::DeflateFloor floor;
    for (std::uint32_t y = 0; y < kRows; ++y) {
      TIFFReadScanline(t, row.data(), y, 0);
      floor.add(row.data(), row.size());
    }
    floor.finish();
    TIFFClose(t);
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(kRows) * kWidth * 4);
}

void BM_PlacedTiffExport(benchmark::State& state) {
  const fs::path empty = job(false), placed = job(true);
  exportSeconds(empty);
  const long emptyPeak = peakMiB();
  for (auto _ : state) {
    const double s = exportSeconds(placed);
    if (s < 0) {
      state.SkipWithError("the export failed");
      return;
    }
    state.SetIterationTime(s);
  }
  state.counters["peak_empty_MiB"] = double(emptyPeak);
  state.counters["peak_placed_MiB"] = double(peakMiB());
  state.counters["pdf_MiB"] = double(fs::file_size(folder() / "out.pdf")) / (1 << 20);
  state.SetBytesProcessed(state.iterations() * std::int64_t(kRows) * kWidth * 4);
}

}  // namespace

// The export first: the high-water mark it reads must not include the floor's.
BENCHMARK(BM_PlacedTiffExport)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_PlacedTiffFloor)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();

// Whole exports of synthetic jobs: N filled paths of 4 to 8 Bezier segments
// in CMYK and spot colours over several layers. Each size records, in the same
// run, the time to load the job file, the time to export it, the peak memory
// so far, and the floor: zlib at level 8 over the same content-stream bytes.
//
//   bench_driver --benchmark_filter=Export/10000
//
// Sizes run in ascending order, so the peak memory of a size is that of its
// own run (the smaller ones peak lower): peak_load_MiB after loading the job,
// peak_export_MiB after exporting it (before the floor is measured).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"
#include "xorshift.h"

namespace {

namespace fs = std::filesystem;

long maxRssMiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The job file of n paths, written into the temporary folder (removed after
// its size has run).
fs::path syntheticJob(int n) {
  const fs::path file = fs::temp_directory_path() / ("tavpdf-bench-" + std::to_string(n) + ".json");
  std::ofstream out(file, std::ios::binary);
  out << R"({"format":"tavpdf-job","name":"Synthetic )" << n << R"( paths","ppi":720,"origin":[144000,0],)"
      << R"("boxes":{"media":[0,0,144000,144000],"trim":[3600,3600,140400,140400]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      << R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
      << R"({"name":"PANTONE 185 C","cmyk":[0,91,76,0]},{"name":"Gold","cmyk":[0,20,60,20]}],)"
      << R"("colours":[{"id":1,"inks":{"Cyan":100,"Magenta":40}},{"id":2,"inks":{"Yellow":80,"Black":10}},)"
      << R"({"id":3,"inks":{"PANTONE 185 C":100}},{"id":4,"inks":{"Gold":60}},)"
      << R"({"id":5,"inks":{"Cyan":30,"PANTONE 185 C":50}},{"id":6,"inks":{"Magenta":100,"Gold":20}}],)"
      << R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2},)"
      << R"({"id":12,"type":"flat","colour":3},{"id":13,"type":"flat","colour":4},)"
      << R"({"id":14,"type":"flat","colour":5},{"id":15,"type":"flat","colour":6}],"objects":[)";
  tavbench::XorShift next;
  constexpr int kLayers = 5;
  for (int layer = 0; layer < kLayers; ++layer) {
    if (layer) out << ',';
    out << R"({"kind":"layer","name":"Layer )" << layer + 1 << R"(","objects":[)";
    const int count = n / kLayers + (layer < n % kLayers ? 1 : 0);
    for (int i = 0; i < count; ++i) {
      if (i) out << ',';
      const int v0 = 4000 + next(132000), h0 = 4000 + next(132000);
      out << R"({"kind":"path","paint":)" << 10 + next(6) << R"(,"points":[[)" << v0 << ',' << h0 << ']';
      const int segments = 4 + next(5);
      int v = v0, h = h0;
      for (int s = 0; s < segments; ++s) {
        const int v1 = v + next(3000) - 1500, h1 = h + next(3000) - 1500;
        const int v2 = v + next(3000) - 1500, h2 = h + next(3000) - 1500;
        v += next(3000) - 1500;
        h += next(3000) - 1500;
        out << ",[" << v1 << ',' << h1 << ',' << v2 << ',' << h2 << ',' << v << ',' << h << ']';
      }
      out << "]}";
    }
    out << "]}";
  }
  out << "]}";
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

// The bytes of the largest stream of an uncompressed PDF: the page content.
std::string largestStream(const fs::path& pdf) {
  std::ifstream in(pdf, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string best;
  for (std::size_t p = 0; (p = bytes.find("stream\r\n", p)) != std::string::npos;) {
    const std::size_t start = p + 8;
    const std::size_t end = bytes.find("\r\nendstream", start);
    if (end == std::string::npos) break;
    if (end - start > best.size()) best = bytes.substr(start, end - start);
    p = end;
  }
  return best;
}

void Export(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const fs::path jobFile = syntheticJob(n);
  const fs::path pdf = fs::temp_directory_path() / ("tavpdf-bench-" + std::to_string(n) + ".pdf");
  const fs::path plain = fs::temp_directory_path() / ("tavpdf-bench-" + std::to_string(n) + "-plain.pdf");
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  settings.VerifyCompatibility();
  double load = 0, exportTime = 0, floor = 0;
  std::size_t contentBytes = 0, written = 0;
  long peakLoad = 0, peakExport = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<jobstr> job = TavKernel::loadJobFile(jobFile);
    load = secondsSince(start);
    peakLoad = maxRssMiB();

    MarksSettings marks;
    TavSys::FileSpec target(pdf);
    start = std::chrono::steady_clock::now();
    const int rc = OutputPDFDocument(job.get(), settings, marks, true, false, nullptr, target, {}, nullptr);
    exportTime = secondsSince(start);
    if (rc != 0) {
      state.SkipWithError(("export failed with " + std::to_string(rc)).c_str());
      return;
    }
    written = fs::file_size(pdf);
    peakExport = maxRssMiB();

    // The floor: the same content stream, uncompressed, deflated by zlib.
    PDFSettings uncompressed = settings;
    uncompressed.CompressPages = 0;
    TavSys::FileSpec plainTarget(plain);
    OutputPDFDocument(job.get(), uncompressed, marks, true, false, nullptr, plainTarget, {}, nullptr);
    const std::string content = largestStream(plain);
    contentBytes = content.size();
    std::string packed(compressBound(content.size()), '\0');
    uLongf packedSize = packed.size();
    start = std::chrono::steady_clock::now();
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(content.data()), content.size(), 8);
    floor = secondsSince(start);
    benchmark::DoNotOptimize(packed.data());
    state.SetIterationTime(exportTime);
  }
  state.counters["load_s"] = load;
  state.counters["export_s"] = exportTime;
  state.counters["floor_s"] = floor;
  state.counters["export_per_floor"] = floor > 0 ? exportTime / floor : 0;
  state.counters["content_MiB"] = static_cast<double>(contentBytes) / (1 << 20);
  state.counters["pdf_MiB"] = static_cast<double>(written) / (1 << 20);
  state.counters["peak_load_MiB"] = static_cast<double>(peakLoad);
  state.counters["peak_export_MiB"] = static_cast<double>(peakExport);
  std::error_code ec;
  fs::remove(pdf, ec);
  fs::remove(plain, ec);
  fs::remove(jobFile, ec);
}

BENCHMARK(Export)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

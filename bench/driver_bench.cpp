// Exports of synthetic jobs already loaded: N filled paths of 4 to 8 Bezier
// segments in CMYK and spot colours over several layers. Each size records,
// in the same run, the time to load the job file (load_s, by itself), the
// time to export the loaded job (export_s: the load left out, as the name
// says; bench_export_process counts the whole process), the peak memory so
// far, and the floor: zlib at level 8 over the same content-stream bytes.
//
//   bench_driver --benchmark_filter=ExportOfLoadedJob/10000
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

#include "synthetic_job.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"

namespace {

using tavbench::largestStream;
using tavbench::syntheticJob;
namespace fs = std::filesystem;

long maxRssMiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ExportOfLoadedJob(benchmark::State& state) {
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

BENCHMARK(ExportOfLoadedJob)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// The transparency flattener over synthetic pages of N filled paths (4 to 8
// Bezier segments, process and spot colours), every tenth of them 50 %
// transparent and lying over others. Each size records, in the same run:
// loading the job, the flattening alone (FlattenJobSpa) with the peak memory
// after it, the export without flattening (Press) and the export with
// flattening.
//
//   bench_flatten --benchmark_filter=Flatten/10000
//
// Sizes run in ascending order, so a size's peak memory is its own.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/flattening.h"
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

// The job file: paths scattered over a 200 inch page, their size shrinking
// as n grows so that each path meets about as many others (some 17) at every
// size; every tenth path is painted at 50 % opacity.
fs::path flatteningJob(int n) {
  const fs::path file = fs::temp_directory_path() / ("tavpdf-bench-flatten-" + std::to_string(n) + ".json");
  std::ofstream out(file, std::ios::binary);
  const int side = 144000;
  const int reach = std::max(60, static_cast<int>(3000 * std::sqrt(10000.0 / n)));
  out << R"({"format":"tavpdf-job","name":"Flattening )" << n << R"( paths","ppi":720,"origin":[)" << side
      << R"(,0],"boxes":{"media":[0,0,)" << side << ',' << side << R"(]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      << R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
      << R"({"name":"PANTONE 185 C","cmyk":[0,91,76,0]},{"name":"Gold","cmyk":[0,20,60,20]}],)"
      << R"("colours":[{"id":1,"inks":{"Cyan":100,"Magenta":40}},{"id":2,"inks":{"Yellow":80,"Black":10}},)"
      << R"({"id":3,"inks":{"PANTONE 185 C":100}},{"id":4,"inks":{"Gold":60}},)"
      << R"({"id":5,"inks":{"Cyan":30,"PANTONE 185 C":50}},{"id":6,"inks":{"Magenta":100,"Gold":20}}],)"
      << R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2},)"
      << R"({"id":12,"type":"flat","colour":3},{"id":13,"type":"flat","colour":4},)"
      << R"({"id":14,"type":"flat","colour":5},{"id":15,"type":"flat","colour":6},)"
      << R"({"id":20,"type":"flat","colour":2,"opacity":50},{"id":21,"type":"flat","colour":3,"opacity":50,"blendMode":"multiply"}],)"
      << R"("objects":[{"kind":"layer","name":"Art","objects":[)";
  tavbench::XorShift next;
  for (int i = 0; i < n; ++i) {
    if (i) out << ',';
    const bool transparent = i % 10 == 9;
    const int paint = transparent ? 20 + next(2) : 10 + next(6);
    const int v0 = 2000 + next(unsigned(side - 4000)), h0 = 2000 + next(unsigned(side - 4000));
    out << R"({"kind":"path","paint":)" << paint << R"(,"points":[[)" << v0 << ',' << h0 << ']';
    const int segments = 4 + next(5);
    int v = v0, h = h0;
    for (int s = 0; s < segments; ++s) {
      const int v1 = v + next(unsigned(reach)) - reach / 2, h1 = h + next(unsigned(reach)) - reach / 2;
      const int v2 = v + next(unsigned(reach)) - reach / 2, h2 = h + next(unsigned(reach)) - reach / 2;
      v += next(unsigned(reach)) - reach / 2;
      h += next(unsigned(reach)) - reach / 2;
      out << ",[" << v1 << ',' << h1 << ',' << v2 << ',' << h2 << ',' << v << ',' << h << ']';
    }
    out << "]}";
  }
  out << "]}]}";
  return file;
}

void Flatten(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const fs::path jobFile = flatteningJob(n);
  const fs::path pdf = fs::temp_directory_path() / ("tavpdf-bench-flatten-" + std::to_string(n) + ".pdf");
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings plain = TavPDF::SettingsForFlavour("Press");
  plain.VerifyCompatibility();
  PDFSettings flattening = plain;
  flattening.EnableFlattening = 1;
  double load = 0, exportTime = 0, flatten = 0, flatExport = 0;
  long peakLoad = 0, peakFlatten = 0;
  std::size_t objects = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    std::unique_ptr<jobstr> job = TavKernel::loadJobFile(jobFile);
    load = secondsSince(start);
    peakLoad = maxRssMiB();

    {
      JobStateGuard guard(job.get());
      TavPDF::PDFSpaSetter setter(job.get(), false);
      TavPDF::SetFlattenerParameters(setter, flattening);
      start = std::chrono::steady_clock::now();
      std::unique_ptr<TavDB::Object> tree = FlattenJobSpa(setter);
      flatten = secondsSince(start);
      peakFlatten = maxRssMiB();
      objects = tree ? TavDB::pointcount(tree.get()) : 0;
      benchmark::DoNotOptimize(tree.get());
    }

    MarksSettings marks;
    TavSys::FileSpec target(pdf);
    start = std::chrono::steady_clock::now();
    if (OutputPDFDocument(job.get(), plain, marks, true, false, nullptr, target, {}, nullptr) != 0) {
      state.SkipWithError("export failed");
      return;
    }
    exportTime = secondsSince(start);

    start = std::chrono::steady_clock::now();
    if (OutputPDFDocument(job.get(), flattening, marks, true, false, nullptr, target, {}, nullptr) != 0) {
      state.SkipWithError("flattened export failed");
      return;
    }
    flatExport = secondsSince(start);
    state.SetIterationTime(flatten);
  }
  state.counters["load_s"] = load;
  state.counters["export_s"] = exportTime;
  state.counters["flatten_s"] = flatten;
  state.counters["flatten_per_export"] = exportTime > 0 ? flatten / exportTime : 0;
  state.counters["flattened_export_s"] = flatExport;
  state.counters["flat_points"] = double(objects);
  state.counters["peak_load_MiB"] = double(peakLoad);
  state.counters["peak_flatten_MiB"] = double(peakFlatten);
  std::error_code ec;
  fs::remove(pdf, ec);
  fs::remove(jobFile, ec);
}

BENCHMARK(Flatten)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// The separations renderer: the page of a job drawn into its ink planes at
// 72 pixels per inch (the preview every export with IncludeSeparatedPreview
// or IncludeVornPreview makes), beside the whole export of the same job
// under Press into /dev/null without previews. Jobs: the bundled label and
// wave map, and the synthetic page of 100,000 paths. Times are the thread's
// CPU time.
//
//   bench_previews
#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "pdfwriter/layout.h"
#include "pdfwriter/previews.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/job.h"
#include "platform/kernel/jobfile.h"
#include "platform/kernel/separatedpreview.h"
#include "platform/messages.h"
#include "settings/settings_access.h"
#include "synthetic_job.h"
#include "tavpdf/OutputPDF.h"

namespace {

namespace fs = std::filesystem;

fs::path jobFile(int which) {
  if (which == 0) return fs::path(TAV_SOURCE_DIR) / "examples" / "label.json";
  if (which == 1) return fs::path(TAV_SOURCE_DIR) / "examples" / "wave-map.json";
  static const fs::path synthetic = tavbench::syntheticJob(100000);
  return synthetic;
}

const char* kNames[] = {"label", "wave map", "100,000 paths"};

PDFSettings pressSettings() {
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  settings.VerifyCompatibility();
  settings.IncludeStandardPreview = 0;
  settings.AddThumbnail = 0;
  settings.IncludeSeparatedPreview = 0;
  settings.IncludeVornPreview = 0;
  return settings;
}

void Preview(benchmark::State& state) {
  auto job = TavKernel::loadJobFile(jobFile(int(state.range(0))));
  const PDFSettings settings = pressSettings();
  TavSys::tv_rectangle media;
  getboxconst(job.get(), kMediaBox, media);
  const TavSys::tv_rectangle box = TavPDF::GetLayoutTransformedBox(job.get(), media, settings);
  const TavricLib::SeparatedPreviewOptions options = TavPDF::PreviewOptions(job.get(), settings);
  const auto [w, h] = TavricLib::PreviewSize(job.get(), box, 72);
  for (auto _ : state) {
    TavricLib::SeparatedPreview preview(job.get(), box, w, h, options);
    preview.Render();
    benchmark::DoNotOptimize(preview.GetScanLine(0, 0));
  }
  state.SetLabel(std::string(kNames[state.range(0)]) + ", " + std::to_string(w) + " x " + std::to_string(h));
}

void Export(benchmark::State& state) {
  auto job = TavKernel::loadJobFile(jobFile(int(state.range(0))));
  const PDFSettings settings = pressSettings();
  TavGen::ScopedMessagesDisabler quiet;
  for (auto _ : state) {
    PDFSettings copy = settings;
    MarksSettings marks;
    TavSys::FileSpec target(fs::temp_directory_path() / "tavpdf-bench-preview.pdf");
    benchmark::DoNotOptimize(OutputPDFDocument(job.get(), copy, marks, true, false, nullptr, target, {}, nullptr));
  }
  state.SetLabel(kNames[state.range(0)]);
}

}  // namespace

BENCHMARK(Preview)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(Export)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK_MAIN();

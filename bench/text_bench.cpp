// Text exports and font subsets.
//
// Times are processor times of the process (the machine may be busy).
//
// BM_TextExportOfLoadedJob: a job of 20,000 text objects set in 10 fonts (all
// embedded, as subsets), loaded once before the timing (the load is left
// out: bench_export_process counts it), is exported with the Press flavour. In the same run the floor
// is zlib's compress2 at level 8 over every stream of the written file,
// decoded: the content stream, the font programs and their ToUnicode maps.
// The run fails when a font is embedded more than once.
//
// BM_Subset: one font subset to the glyphs of a text of some 60 characters;
// the floor decrypts and encrypts the program's encrypted part once, which
// every subset must.
//
//   bench_text
//   bench_text --benchmark_filter=Subset
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "platform/fonts/fontface.h"
#include "platform/fonts/type1program.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"
#include "synthetic_job.h"

namespace {

namespace fs = std::filesystem;

// Processor time of the process: the machine may be busy with other work,
// and both the export and its floor run on this one thread.
double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_TextExportOfLoadedJob(benchmark::State& state) {
  const int texts = static_cast<int>(state.range(0));
  const fs::path jobFile = tavbench::syntheticTextJob(texts);
  const fs::path pdf = fs::temp_directory_path() / "tavpdf-bench-text.pdf";
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  // The page's standard preview (a rendering of it, some six times the text
  // export) has its own bench, bench_previews; left out as the process bench
  // leaves it out.
  settings.IncludeStandardPreview = 0;
  settings.VerifyCompatibility();
  std::unique_ptr<jobstr> job = TavKernel::loadJobFile(jobFile);
  double exportTime = 0, floor = 0;
  std::size_t streamBytes = 0, written = 0;
  std::set<std::string> fontFiles;
  for (auto _ : state) {
    MarksSettings marks;
    TavSys::FileSpec target(pdf);
    double start = cpuSeconds();
    const int rc = OutputPDFDocument(job.get(), settings, marks, true, false, nullptr, target, {}, nullptr);
    exportTime = cpuSeconds() - start;
    if (rc != 0) {
      state.SkipWithError(("export failed with " + std::to_string(rc)).c_str());
      return;
    }
    written = fs::file_size(pdf);

    // The floor: every stream of the file, decoded, deflated by zlib.
    QPDF qpdf;
    qpdf.processFile(pdf.string().c_str());
    std::string all;
    fontFiles.clear();
    for (QPDFObjectHandle object : qpdf.getAllObjects()) {
      if (!object.isStream()) continue;
      auto data = object.getStreamData(qpdf_dl_generalized);
      all.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
      if (object.getDict().hasKey("/Length1")) fontFiles.insert(object.unparse());
    }
    streamBytes = all.size();
    std::string packed(compressBound(all.size()), '\0');
    uLongf packedSize = packed.size();
    start = cpuSeconds();
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(all.data()), all.size(), 8);
    floor = cpuSeconds() - start;
    benchmark::DoNotOptimize(packed.data());
    state.SetIterationTime(exportTime);
  }
  if (fontFiles.size() != std::size(tavbench::kTextFonts)) {
    state.SkipWithError(("fonts embedded: " + std::to_string(fontFiles.size())).c_str());
  }
  state.counters["export_s"] = exportTime;
  state.counters["floor_s"] = floor;
  state.counters["export_per_floor"] = floor > 0 ? exportTime / floor : 0;
  state.counters["streams_MiB"] = static_cast<double>(streamBytes) / (1 << 20);
  state.counters["pdf_MiB"] = static_cast<double>(written) / (1 << 20);
  state.counters["font_files"] = static_cast<double>(fontFiles.size());
  std::error_code ec;
  fs::remove(pdf, ec);
  if (std::getenv("TAVPDF_BENCH_KEEP") == nullptr) fs::remove(jobFile, ec);
}

BENCHMARK(BM_TextExportOfLoadedJob)->Arg(20000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Subset(benchmark::State& state) {
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusSans-Regular");
  if (face == nullptr) {
    state.SkipWithError("NimbusSans-Regular is not installed");
    return;
  }
  const Fonts::Type1Program& program = face->program();
  std::set<std::string> glyphs;
  for (char32_t ch : std::u32string(U"The quick brown fox jumps over the lazy dog: 1234567890 \u00e4\u00f6\u00fc\u00df\u00e9")) {
    const int g = face->glyphForUnicode(ch);
    if (g >= 0) glyphs.insert(face->glyph(g).name);
  }
  for (auto _ : state) {
    Fonts::Type1Program subset = Fonts::SubsetType1Program(program, glyphs, "bench");
    benchmark::DoNotOptimize(subset.data.data());
  }
  state.counters["glyphs"] = static_cast<double>(glyphs.size());
}
BENCHMARK(BM_Subset)->Unit(benchmark::kMillisecond);

void BM_SubsetFloor(benchmark::State& state) {
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusSans-Regular");
  if (face == nullptr) {
    state.SkipWithError("NimbusSans-Regular is not installed");
    return;
  }
  const Fonts::Type1Program& program = face->program();
  const std::string_view encrypted =
      std::string_view(program.data).substr(program.headerLength, program.encryptedLength);
  for (auto _ : state) {
    const std::string plain = Fonts::Type1Decrypt(encrypted, Fonts::kEexecKey);
    const std::string again = Fonts::Type1Encrypt(plain, Fonts::kEexecKey);
    benchmark::DoNotOptimize(again.data());
  }
}
BENCHMARK(BM_SubsetFloor)->Unit(benchmark::kMillisecond);

// The check every embedded program gets once (all its glyphs walked).
void BM_CheckProgram(benchmark::State& state) {
  const Fonts::FontFace* face = Fonts::FindFontFace("NimbusSans-Regular");
  if (face == nullptr) {
    state.SkipWithError("NimbusSans-Regular is not installed");
    return;
  }
  const Fonts::Type1Program& program = face->program();
  for (auto _ : state) Fonts::CheckType1Program(program, "bench");
}
BENCHMARK(BM_CheckProgram)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

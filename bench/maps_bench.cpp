// Picture maps: a page with 200 placements of 20 distinct maps (CMYK pixel
// files of 512 x 512 pixels, smooth tones with noise), exported whole into
// /dev/null under Press. Beside it, in the same run, the floor of the page's
// own image bytes: every map file read once and its rows deflated once by
// zlib at level 8. A second export places every map once: the cache makes
// the other 180 placements cost nothing measurable in image bytes. Times are
// the thread's CPU time, the best of five runs.
//
//   bench_maps
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cmyk_tiff.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/pixelreader.h"
#include "settings/settings_access.h"
#include "tavpdf/OutputPDF.h"

namespace {

namespace fs = std::filesystem;

constexpr int kMaps = 20;
constexpr int kSide = 512;
constexpr int kColumns = 20;

// The thread's CPU time: the export and the floor run on this thread alone,
// and a busy machine stretches wall time far more than CPU time.
double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

fs::path folder() { return fs::temp_directory_path() / "tavpdf-bench-maps"; }

// The map files, once per run.
void writeMaps() {
  fs::create_directories(folder());
  unsigned x = 7;
  for (int m = 0; m < kMaps; ++m) {
    const fs::path file = folder() / ("map" + std::to_string(m) + ".tif");
    if (fs::exists(file)) continue;
    tavbench::writeCmykTiff(file, kSide, kSide, 16, 0, [&](std::vector<std::uint8_t>& row, std::uint32_t y) {
      for (int i = 0; i < kSide; ++i)
        for (int c = 0; c < 4; ++c) {
          x = x * 1103515245u + 12345u;
          const double tone = 127 + 100 * std::sin((i + 37 * c + 11 * m) / 60.0 + y / 40.0);
          row[std::size_t(i * 4 + c)] = std::uint8_t(std::clamp(tone + double(x >> 28) - 8, 0.0, 255.0));
        }
    });
  }
}

// A page of `placements` placements (cycling through the maps), each a map
// at its own size (72 ppi maps in a 72 ppi job).
std::string job(int placements) {
  std::string maps, paints, objects;
  for (int m = 0; m < kMaps; ++m) {
    maps += std::string(m ? "," : "") + R"({"id":)" + std::to_string(m + 1) + R"(,"files":["map)" +
            std::to_string(m) + R"(.tif"],"channels":[{"ink":"Cyan","channel":0},{"ink":"Magenta","channel":1},)"
            R"({"ink":"Yellow","channel":2},{"ink":"Black","channel":3}],"colour":1,"width":512,"height":512,"resolution":72})";
  }
  for (int p = 0; p < placements; ++p) {
    const int v = 100 + (p / kColumns) * 600, h = 100 + (p % kColumns) * 600;
    const std::string id = std::to_string(100 + p);
    auto pt = [](int a, int b) { return "[" + std::to_string(a) + "," + std::to_string(b) + "]"; };
    paints += std::string(p ? "," : "") + R"({"id":)" + id + R"(,"type":"map","map":)" + std::to_string(p % kMaps + 1) +
              R"(,"place":{"origin":)" + pt(v, h) + R"(,"widthCorner":)" + pt(v, h + kSide) + R"(,"heightCorner":)" +
              pt(v + kSide, h) + "}}";
    objects += std::string(p ? "," : "") + R"({"kind":"path","paint":)" + id + R"(,"points":[)" + pt(v, h) + "," +
               pt(v, h + kSide) + "," + pt(v + kSide, h + kSide) + "," + pt(v + kSide, h) + "]}";
  }
  const int rows = (placements + kColumns - 1) / kColumns;
  return R"({"format":"tavpdf-job","name":"Maps","ppi":72,"origin":[)" + std::to_string(200 + rows * 600) +
         R"(,0],"boxes":{"media":[0,0,)" + std::to_string(200 + rows * 600) + "," +
         std::to_string(200 + kColumns * 600) +
         R"(]},"inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
         R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"}],)"
         R"("colours":[{"id":1,"inks":{"Cyan":100,"Magenta":100,"Yellow":100,"Black":100}}],"maps":[)" +
         maps + R"(],"paints":[)" + paints + R"(],"objects":[)" + objects + "]}";
}

// Reading and deflating every map file once.
double floorSeconds(std::size_t& bytes) {
  const double start = cpuSeconds();
  bytes = 0;
  std::vector<std::uint8_t> out(1 << 16);
  for (int m = 0; m < kMaps; ++m) {
    TavSys::pixreatyp reader((folder() / ("map" + std::to_string(m) + ".tif")).string());
    std::vector<std::uint8_t> row(reader.header().rowBytes());
    z_stream z{};
    deflateInit(&z, 8);
    for (int y = 0; y < reader.header().rows; ++y) {
      reader.readRow(row.data());
      bytes += row.size();
      z.next_in = row.data();
      z.avail_in = uInt(row.size());
      while (z.avail_in > 0) {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        deflate(&z, Z_NO_FLUSH);
      }
    }
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      rc = deflate(&z, Z_FINISH);
    }
    deflateEnd(&z);
  }
  return cpuSeconds() - start;
}

void Maps(benchmark::State& state) {
  const int placements = int(state.range(0));
  writeMaps();
  TavGen::ScopedMessagesDisabler quiet;
  PDFSettings settings = TavPDF::SettingsForFlavour("Press");
  settings.VerifyCompatibility();
  std::unique_ptr<jobstr> job = TavKernel::loadJobFromMemory(::job(placements), folder(), "maps.json");
  double best = 1e9, floor = 1e9;
  std::size_t bytes = 0;
  for (auto _ : state) {
    MarksSettings marks;
    TavSys::FileSpec target(fs::path("/dev/null"));
    const double start = cpuSeconds();
    const int rc = OutputPDFDocument(job.get(), settings, marks, true, false, nullptr, target, {}, nullptr);
    const double seconds = cpuSeconds() - start;
    if (rc != 0) {
      state.SkipWithError(("export failed with " + std::to_string(rc)).c_str());
      return;
    }
    best = std::min(best, seconds);
    floor = std::min(floor, floorSeconds(bytes));
    state.SetIterationTime(seconds);
  }
  state.counters["export_s"] = best;
  state.counters["floor_s"] = floor;
  state.counters["export_per_floor"] = best / floor;
  state.counters["image_MiB"] = double(bytes) / (1 << 20);
}

BENCHMARK(Maps)->Arg(200)->Arg(20)->Iterations(5)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

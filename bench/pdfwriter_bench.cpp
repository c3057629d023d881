// The writer's two hot paths, each beside its floor measured in the same run:
//  - many small indirect objects, against formatting the same numbers with
//    std::to_chars into memory;
//  - a long content stream of path operators through the Flate filter, against
//    zlib's own deflate at the same level over the same bytes;
//  - the registry's sweep, at two sizes (it must grow linearly).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pdfwriter/pdfouthan.h"

namespace {

using namespace TavPDF;

constexpr int kObjects = 1'000'000;
constexpr std::size_t kStreamBytes = 200u * 1024 * 1024;

std::unique_ptr<TavSys::fil> devNull() {
  const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return std::make_unique<TavSys::fil>(fd, true, "/dev/null");
}

// Resident memory now, in MiB (Linux).
double residentMiB() {
  long pages = 0;
  long resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

// One megabyte of path construction and painting operators, as a page writer
// produces them; the stream repeats it.
const std::string& pathChunk() {
  static const std::string chunk = [] {
    std::string s;
    unsigned x = 12345;
    char buffer[64];
    while (s.size() < 1024 * 1024) {
      for (int k = 0; k < 2; ++k) {
        x = x * 1103515245u + 12345u;
        const double v = static_cast<double>(x % 6000000) / 1000.0;
        char* end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 3).ptr;
        s.append(buffer, end);
        s.push_back(' ');
      }
      s += (x & 7) == 0 ? "m\n" : ((x & 7) == 1 ? "l\nS\n" : "l\n");
    }
    return s;
  }();
  return chunk;
}

// ---------------------------------------------------------------------------

void BM_IndirectObjects(benchmark::State& state) {
  for (auto _ : state) {
    auto file = devNull();
    {
      pdfouthan handler(file.get(), kPdf14);
      handler.writeHeader();
      for (int i = 0; i < kObjects; ++i) {
        handler.writeObject(handler.makeIndirect(new PDFInteger(i)));
      }
      handler.getTrailer()->SetRoot(handler.makeIndirect(new PDFDictionary));
      handler.writeObject(static_cast<PDFIndirectReference*>(
          handler.getTrailer()->GetDictionary()->Get("Root")));
      if (handler.finishFile() != 0) state.SkipWithError("finishFile failed");
    }
    // The sweep is measured on its own (BM_RegistrySweep).
    state.PauseTiming();
    PdfObjectRegistry::deleteAll();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
}

// The floor: the numbers of the same objects (header number, value, offset)
// formatted with std::to_chars into a buffer in memory.
void BM_IndirectObjectsFloor(benchmark::State& state) {
  std::vector<char> memory(64u * kObjects);
  for (auto _ : state) {
    char* p = memory.data();
    char* const end = memory.data() + memory.size();
    for (int i = 0; i < kObjects; ++i) {
      *p++ = '\n';
      p = std::to_chars(p, end, i + 1).ptr;
      std::memcpy(p, " 0 obj\n", 7);
      p += 7;
      p = std::to_chars(p, end, i).ptr;
      std::memcpy(p, " \nendobj", 8);
      p += 8;
      p = std::to_chars(p, end, static_cast<long long>(p - memory.data())).ptr;
    }
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
}

// ---------------------------------------------------------------------------

void BM_FlateContentStream(benchmark::State& state) {
  const std::string& chunk = pathChunk();
  double growth = 0;
  for (auto _ : state) {
    auto file = devNull();
    pdfouthan handler(file.get(), kPdf14);
    auto* dict = new PDFDictionary;
    dict->Set("Filter", new PDFName("FlateDecode"));
    pdfoutfilter* sink = handler.beginStream(dict);
    // Memory is sampled after the first tenth of the stream and at its end:
    // the filter keeps fixed buffers, so nothing grows with the length.
    double early = 0;
    for (std::size_t done = 0; done < kStreamBytes; done += chunk.size()) {
      sink->PutBytes(chunk.data(), chunk.size());
      if (early == 0 && done >= kStreamBytes / 10) early = residentMiB();
    }
    growth = std::max(growth, residentMiB() - early);
    int status = 0;
    handler.endStream(sink, nullptr, &status);
    if (status != 0) state.SkipWithError("stream failed");
    state.counters["compressed_MB"] = static_cast<double>(file->position()) / (1024.0 * 1024.0);
    PdfObjectRegistry::deleteAll();
  }
  state.counters["rss_growth_MiB"] = growth;
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kStreamBytes));
}

// The floor: zlib's deflate at level 8 over the same bytes, output discarded.
void BM_FlateContentStreamFloor(benchmark::State& state) {
  const std::string& chunk = pathChunk();
  std::vector<unsigned char> out(64 * 1024);
  for (auto _ : state) {
    z_stream z{};
    deflateInit(&z, 8);
    std::size_t produced = 0;
    for (std::size_t done = 0; done <= kStreamBytes; done += chunk.size()) {
      const bool last = done == kStreamBytes;
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
      z.avail_in = last ? 0 : static_cast<uInt>(chunk.size());
      int rc;
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        produced += out.size() - z.avail_out;
      } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
    }
    deflateEnd(&z);
    state.counters["compressed_MB"] = static_cast<double>(produced) / (1024.0 * 1024.0);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kStreamBytes));
}

// ---------------------------------------------------------------------------

void BM_RegistrySweep(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    TavSys::fil memory;
    pdfoutfil file(&memory);
    for (int i = 0; i < count; i += 4) {
      auto* dict = new PDFDictionary;
      dict->Set("N", new PDFInteger(i));
      new PDFStream(&file, dict);
      new PDFStream(&file, dict);  // a dictionary shared by two streams
    }
    state.ResumeTiming();
    PdfObjectRegistry::deleteAll();
  }
  state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_IndirectObjectsFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndirectObjects)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlateContentStreamFloor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FlateContentStream)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RegistrySweep)->Arg(250'000)->Arg(1'000'000)->Arg(4'000'000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

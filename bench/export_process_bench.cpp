// The whole `tavpdf export` process (job load, export and exit, as a user
// runs it) on synthetic jobs against its floor in the same run: zlib at level
// 8 over what the export compresses. The export and its floor alternate
// (A B A B ...) so that both see the same load of the machine; the figures
// are medians of five pairs.
//
//   bench_export_process --benchmark_filter=Process/100000
//   bench_export_process --benchmark_filter=Text/20000
//
// Process/N, N filled paths (bench/synthetic_job.h): the floor deflates the
// page content stream, taken from an uncompressed export of the same job.
// Text/N, N text objects in ten embedded fonts: the floor deflates every
// stream of the written file, decoded (the content stream, the font programs
// and their ToUnicode maps).
//
// The exports leave the flavour's standard preview out (the rendering of the
// page saved beside the file for the desktop, no part of the PDF and of no
// peer): `with_preview_s` is one export with it, after the pairs.
//
// Counters: export_s and floor_s (medians), export_per_floor (the median of
// the pairs' ratios); load_s, the job load by itself: the median of `tavpdf
// check` on the job less the median of `tavpdf check` on a job of one empty
// page (the process's start and exit), both run in the same turns as the
// pairs, and load_per_export, load_s over export_s; peak_MiB (the export
// process's peak resident memory, largest over the runs), job_MiB (the job
// file) and peak_per_job; loadavg_start and loadavg_end, the machine's load
// average over the last minute before and after. The same pairs in processor
// time: export_cpu_s (the export process's user and system time, as wait4
// reports it), floor_cpu_s (this thread's time in compress2) and
// cpu_export_per_floor, the median of their ratios; on a shared machine the
// wall times stretch with the load, the processor times much less.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <zlib.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "synthetic_job.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kPairs = 5;

struct ProcessRun {
  double seconds = 0;
  long peakKiB = 0;
  double cpuSeconds = 0;  // the process's own processor time (user and system)
};

// The processor time this thread has used.
double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Runs the command-line program with the arguments and waits for it; fails
// unless it exits with 0.
ProcessRun runProgram(const char* program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  // Its report and warnings go nowhere: the terminal is not part of the cost.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (started != 0) throw std::runtime_error("cannot start " + args[0]);
  // The child's peak is read from its own record while it runs: the one that
  // wait4 reports counts the memory of this process too, which the child
  // shares until it starts the program.
  int status = 0;
  long peakKiB = 0;
  rusage usage{};
  const std::string record = "/proc/" + std::to_string(pid) + "/status";
  while (wait4(pid, &status, WNOHANG, &usage) == 0) {
    std::ifstream in(record);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("VmHWM:", 0) == 0) peakKiB = std::max(peakKiB, std::stol(line.substr(6)));
    usleep(2000);
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " " + args[1] + " failed");
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), peakKiB,
          seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

ProcessRun runCli(std::vector<std::string> args) { return runProgram(TAV_CLI_PATH, std::move(args)); }

// An export of the job into the PDF, without the standard preview.
ProcessRun runExport(const fs::path& job, const fs::path& pdf, std::vector<std::string> settings = {}) {
  std::vector<std::string> args{"export", job.string(), "-o", pdf.string(), "--set", "IncludeStandardPreview=0"};
  for (std::string& s : settings) args.insert(args.end(), {"--set", std::move(s)});
  return runCli(std::move(args));
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double loadAverage() {
  std::ifstream in("/proc/loadavg");
  double oneMinute = 0;
  in >> oneMinute;
  return oneMinute;
}

// A job of one empty page: `tavpdf check` on it is the process's start and exit.
fs::path emptyJob() {
  const fs::path file = tavbench::benchFile("empty.json");
  std::ofstream(file, std::ios::binary) << R"({"ppi":720,"boxes":{"media":[0,0,7200,7200]}})";
  return file;
}

// Every stream of a PDF, decoded, one after another.
std::string allStreams(const fs::path& pdf, std::size_t* fontFiles) {
  QPDF qpdf;
  qpdf.processFile(pdf.string().c_str());
  std::string all;
  std::set<std::string> fonts;
  for (QPDFObjectHandle object : qpdf.getAllObjects()) {
    if (!object.isStream()) continue;
    auto data = object.getStreamData(qpdf_dl_generalized);
    all.append(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
    if (object.getDict().hasKey("/Length1")) fonts.insert(object.unparse());
  }
  *fontFiles = fonts.size();
  return all;
}

// Export and floor in pairs, `tavpdf check` of the job and of the empty job
// in the same turns; `content` is what the floor deflates.
void measure(benchmark::State& state, const fs::path& job, const std::string& content) {
  const fs::path pdf = tavbench::benchFile("process.pdf");
  const fs::path empty = emptyJob();
  std::vector<double> exports, floors, ratios, checks, starts, cpuExports, cpuFloors, cpuRatios;
  long peakKiB = 0;
  const double loadStart = loadAverage();
  std::string packed(compressBound(content.size()), '\0');
  for (int pair = 0; pair < kPairs; ++pair) {
    checks.push_back(runCli({"check", job.string()}).seconds);
    starts.push_back(runCli({"check", empty.string()}).seconds);
    const ProcessRun run = runExport(job, pdf);
    uLongf packedSize = packed.size();
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuSeconds();
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
              reinterpret_cast<const Bytef*>(content.data()), content.size(), 8);
    const double cpuFloor = threadCpuSeconds() - cpuStart;
    const double floor = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpuExports.push_back(run.cpuSeconds);
    cpuFloors.push_back(cpuFloor);
    cpuRatios.push_back(run.cpuSeconds / cpuFloor);
    benchmark::DoNotOptimize(packed.data());
    exports.push_back(run.seconds);
    floors.push_back(floor);
    ratios.push_back(run.seconds / floor);
    peakKiB = std::max(peakKiB, run.peakKiB);
  }
  state.SetIterationTime(median(exports));
  const double load = std::max(0.0, median(checks) - median(starts));
  state.counters["export_s"] = median(exports);
  state.counters["floor_s"] = median(floors);
  state.counters["export_per_floor"] = median(ratios);
  state.counters["export_cpu_s"] = median(cpuExports);
  state.counters["floor_cpu_s"] = median(cpuFloors);
  state.counters["cpu_export_per_floor"] = median(cpuRatios);
  state.counters["load_s"] = load;
  state.counters["load_per_export"] = load / median(exports);
  state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024;
  state.counters["job_MiB"] = static_cast<double>(fs::file_size(job)) / (1 << 20);
  state.counters["peak_per_job"] = static_cast<double>(peakKiB) * 1024 / static_cast<double>(fs::file_size(job));
  state.counters["with_preview_s"] = runCli({"export", job.string(), "-o", pdf.string()}).seconds;
  state.counters["loadavg_start"] = loadStart;
  state.counters["loadavg_end"] = loadAverage();
  std::error_code ec;
  fs::remove(pdf, ec);
  fs::remove(empty, ec);
}

void Process(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const fs::path job = tavbench::syntheticJob(n);
  const fs::path plain = tavbench::benchFile("process-" + std::to_string(n) + ".pdf");
  for (auto _ : state) {
    try {
      runExport(job, plain, {"CompressPages=0"});
      measure(state, job, tavbench::largestStream(plain));
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  std::error_code ec;
  fs::remove(plain, ec);
  fs::remove(job, ec);
}

void Text(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const fs::path job = tavbench::syntheticTextJob(n);
  const fs::path pdf = tavbench::benchFile("text-process.pdf");
  for (auto _ : state) {
    try {
      runExport(job, pdf);
      std::size_t fontFiles = 0;
      const std::string streams = allStreams(pdf, &fontFiles);
      state.counters["font_files"] = static_cast<double>(fontFiles);
      state.counters["streams_MiB"] = static_cast<double>(streams.size()) / (1 << 20);
      measure(state, job, streams);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  std::error_code ec;
  fs::remove(pdf, ec);
  fs::remove(job, ec);
}

// The peers (bench/peers) beside `tavpdf export`, in turns: qpdf's library
// writing the same content stream at the same level, libharu drawing the
// same geometry at the same level. Counters: the median seconds of each, and
// export_per_qpdf, export_per_hpdf (medians of the turns' ratios).
void Peers(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const fs::path job = tavbench::syntheticJob(n);
  const fs::path pdf = tavbench::benchFile("peer.pdf"), content = tavbench::benchFile("peer.content");
  std::vector<double> exports, qpdfs, hpdfs, perQpdf, perHpdf;
  const double loadStart = loadAverage();
  for (auto _ : state) {
    try {
      runExport(job, pdf, {"CompressPages=0"});
      std::ofstream(content, std::ios::binary) << tavbench::largestStream(pdf);
      for (int turn = 0; turn < kPairs; ++turn) {
        exports.push_back(runExport(job, pdf).seconds);
        qpdfs.push_back(runProgram(TAV_PEER_QPDF, {content.string(), pdf.string(), "14400", "14400"}).seconds);
        perQpdf.push_back(exports.back() / qpdfs.back());
#ifdef TAV_PEER_HPDF
        hpdfs.push_back(runProgram(TAV_PEER_HPDF, {job.string(), pdf.string()}).seconds);
        perHpdf.push_back(exports.back() / hpdfs.back());
#endif
      }
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      return;
    }
    state.SetIterationTime(median(exports));
  }
  state.counters["export_s"] = median(exports);
  state.counters["qpdf_s"] = median(qpdfs);
  state.counters["export_per_qpdf"] = median(perQpdf);
  if (!hpdfs.empty()) {
    state.counters["hpdf_s"] = median(hpdfs);
    state.counters["export_per_hpdf"] = median(perHpdf);
  }
  state.counters["loadavg_start"] = loadStart;
  state.counters["loadavg_end"] = loadAverage();
  std::error_code ec;
  for (const fs::path& f : {pdf, content, job}) fs::remove(f, ec);
}

BENCHMARK(Process)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(Text)->Arg(20000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(Peers)->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// The path splitter on paths of 1,000,000 points under the default maximum
// path size (500,000): a self-intersecting random walk (short edges, split
// into a few pieces) and a self-intersecting star (every edge crosses every
// cut: given up within the memory budget, the path then being written
// whole). Each runs beside its floor, a copy of the path's points.
// peak_MiB is the process's peak resident memory after the run (the walk
// runs first and peaks lower), bytes_per_point its growth over the input.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <numbers>
#include <random>

#include "platform/setop.h"

namespace {

using TavSetop::Contour;
using TavSetop::SplitPoint;

constexpr std::size_t kPoints = 1000000;
constexpr std::size_t kMaxPathSize = 500000;

long maxRssKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

Contour walk() {
  std::mt19937 rng(7);
  Contour c;
  std::int32_t v = 0, h = 0;
  for (std::size_t i = 0; i < kPoints; ++i) {
    v += static_cast<std::int32_t>(rng() % 201) - 100;
    h += static_cast<std::int32_t>(rng() % 201) - 100;
    c.push_back({v, h});
  }
  return c;
}

Contour star() {
  Contour c;
  for (std::size_t i = 0; i < kPoints; ++i) {
    const double t = 2 * std::numbers::pi * double(i * (kPoints / 2 - 1) % kPoints) / kPoints;
    c.push_back({static_cast<std::int32_t>(std::lround(4e8 * std::sin(t))),
                 static_cast<std::int32_t>(std::lround(4e8 * std::cos(t)))});
  }
  return c;
}

void split(benchmark::State& state, Contour (*make)()) {
  const std::vector<Contour> path{make()};
  const long before = maxRssKiB();
  bool done = false;
  std::size_t pieces = 0;
  for (auto _ : state) {
    auto result = TavSetop::SplitContours(path, true, kMaxPathSize);
    done = result.has_value();
    pieces = done ? result->size() : 0;
    benchmark::DoNotOptimize(result);
  }
  state.counters["split"] = done ? 1 : 0;
  state.counters["pieces"] = static_cast<double>(pieces);
  state.counters["peak_MiB"] = static_cast<double>(maxRssKiB()) / 1024;
  state.counters["bytes_per_point"] = static_cast<double>(maxRssKiB() - before) * 1024 / kPoints;
}

void floor(benchmark::State& state, Contour (*make)()) {
  const std::vector<Contour> path{make()};
  for (auto _ : state) {
    std::vector<Contour> copy = path;
    benchmark::DoNotOptimize(copy);
  }
}

BENCHMARK_CAPTURE(split, Walk, walk)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(floor, Walk, walk)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(split, Star, star)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(floor, Star, star)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Writes the synthetic jobs of the benchmarks into a folder, for comparing
// what two builds export (bench/compare-builds).
//
//   write_bench_jobs FOLDER
#include <cstdio>
#include <filesystem>

#include "synthetic_job.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path folder = argv[1];
  fs::create_directories(folder);
  for (int n : {10000, 100000}) fs::rename(tavbench::syntheticJob(n), folder / ("paths-" + std::to_string(n) + ".json"));
  fs::rename(tavbench::syntheticTextJob(20000), folder / "texts-20000.json");
  return 0;
}

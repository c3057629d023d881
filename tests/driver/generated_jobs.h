#pragma once
// Random but valid jobs for the differential run: every kind of object the
// job file holds (paths, compound paths, groups, layers, texts, gradients,
// gradations, tiling and soft-mask patterns, placed TIFF, JPEG, EPS and PDF
// pictures, one-ups, maps with channels and opacity, barcodes, screens,
// opacity and blend modes), drawn from a seed so that a job can be made
// again from its number alone.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace difftest {

// A small generator of its own (splitmix64), so that a seed gives the same
// job with every standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  // 0 .. n-1 (n >= 1).
  int below(int n) { return int(next() % std::uint64_t(n)); }
  // lo .. hi.
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  bool chance(int percent) { return below(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& from) {
    return from[std::size_t(below(int(from.size())))];
  }

 private:
  std::uint64_t state_;
};

// Writes the files the jobs place into `folder`: TIFF pictures of every
// layout the reader takes, JPEG pictures, an EPS and a PDF file, a one-up,
// map files and a dot-gain file ("press-curves.txt").
void writeAssets(const std::filesystem::path& folder);

// The job of a seed as job-file text; the files it places are named
// "<assets>/<file>" (a folder beside the job).
std::string generateJob(std::uint64_t seed, const std::string& assets);

// Settings overrides ("Field=Value") for a seed and a flavour's place in the
// run: one to six, with the dot-gain file of the assets when dot gain is on.
std::vector<std::string> generateOverrides(std::uint64_t seed, int flavour, const std::string& assets);

}  // namespace difftest

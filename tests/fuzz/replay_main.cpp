// Replays a fuzz target's seed corpus, then runs a bounded, deterministic set
// of mutations of each seed (byte flips, truncations, duplications), so that
// every build exercises the parser with damaged input even without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  std::vector<std::vector<std::uint8_t>> seeds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  seeds.emplace_back();  // the empty input
  std::mt19937 rng(12345);
  std::size_t runs = 0;
  for (const auto& seed : seeds) {
    LLVMFuzzerTestOneInput(seed.data(), seed.size());
    ++runs;
    for (int i = 0; i < 300 && !seed.empty(); ++i) {
      std::vector<std::uint8_t> m = seed;
      switch (rng() % 4) {
        case 0:
          for (int k = 0; k < 4; ++k) m[rng() % m.size()] = static_cast<std::uint8_t>(rng());
          break;
        case 1: m.resize(rng() % m.size()); break;
        case 2: {
          const std::size_t at = rng() % m.size();
          m.insert(m.begin() + static_cast<std::ptrdiff_t>(at), seed.begin(),
                   seed.begin() + static_cast<std::ptrdiff_t>(rng() % seed.size()));
          break;
        }
        default: m.erase(m.begin() + static_cast<std::ptrdiff_t>(rng() % m.size())); break;
      }
      LLVMFuzzerTestOneInput(m.data(), m.size());
      ++runs;
    }
  }
  std::printf("%zu inputs replayed\n", runs);
  return 0;
}

#pragma once
// The synthetic jobs of the whole-export benchmarks: one page of n filled
// paths of 4 to 8 Bezier segments in six flat colours (process and spot inks,
// mixed) over five layers; one page of n text objects in ten fonts.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "xorshift.h"

namespace tavbench {

namespace fs = std::filesystem;

// A file of the benchmarks in the temporary folder, named for this process:
// benches run at the same time (by others on the machine too) keep apart.
inline fs::path benchFile(const std::string& name) {
  return fs::temp_directory_path() / ("tavpdf-bench-" + std::to_string(::getpid()) + "-" + name);
}

// The job file of n paths, written into the temporary folder (removed after
// its size has run).
inline fs::path syntheticJob(int n) {
  const fs::path file = benchFile(std::to_string(n) + ".json");
  std::ofstream out(file, std::ios::binary);
  out << R"({"format":"tavpdf-job","name":"Synthetic )" << n << R"( paths","ppi":720,"origin":[144000,0],)"
      << R"("boxes":{"media":[0,0,144000,144000],"trim":[3600,3600,140400,140400]},)"
      << R"("inks":[{"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
      << R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
      << R"({"name":"PANTONE 185 C","cmyk":[0,91,76,0]},{"name":"Gold","cmyk":[0,20,60,20]}],)"
      << R"("colours":[{"id":1,"inks":{"Cyan":100,"Magenta":40}},{"id":2,"inks":{"Yellow":80,"Black":10}},)"
      << R"({"id":3,"inks":{"PANTONE 185 C":100}},{"id":4,"inks":{"Gold":60}},)"
      << R"({"id":5,"inks":{"Cyan":30,"PANTONE 185 C":50}},{"id":6,"inks":{"Magenta":100,"Gold":20}}],)"
      << R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2},)"
      << R"({"id":12,"type":"flat","colour":3},{"id":13,"type":"flat","colour":4},)"
      << R"({"id":14,"type":"flat","colour":5},{"id":15,"type":"flat","colour":6}],"objects":[)";
  XorShift next;
  constexpr int kLayers = 5;
  for (int layer = 0; layer < kLayers; ++layer) {
    if (layer) out << ',';
    out << R"({"kind":"layer","name":"Layer )" << layer + 1 << R"(","objects":[)";
    const int count = n / kLayers + (layer < n % kLayers ? 1 : 0);
    for (int i = 0; i < count; ++i) {
      if (i) out << ',';
      const int v0 = 4000 + next(132000), h0 = 4000 + next(132000);
      out << R"({"kind":"path","paint":)" << 10 + next(6) << R"(,"points":[[)" << v0 << ',' << h0 << ']';
      const int segments = 4 + next(5);
      int v = v0, h = h0;
      for (int s = 0; s < segments; ++s) {
        const int v1 = v + next(3000) - 1500, h1 = h + next(3000) - 1500;
        const int v2 = v + next(3000) - 1500, h2 = h + next(3000) - 1500;
        v += next(3000) - 1500;
        h += next(3000) - 1500;
        out << ",[" << v1 << ',' << h1 << ',' << v2 << ',' << h2 << ',' << v << ',' << h << ']';
      }
      out << "]}";
    }
    out << "]}";
  }
  out << "]}";
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

// Text objects of the text job: fonts (all embedded, as subsets) and words.
inline constexpr const char* kTextFonts[] = {"NimbusSans-Regular", "NimbusSans-Bold",     "NimbusRoman-Regular",
                                             "NimbusRoman-Italic", "NimbusMonoPS-Regular", "C059-Roman",
                                             "P052-Roman",         "URWBookman-Light",     "URWGothic-Book",
                                             "NimbusSansNarrow-Regular"};
inline constexpr const char* kTextWords[] = {"Wildflower", "honey", "500", "g", "Bio", "Qualit\u00e4t", "caf\u00e9",
                                             "Preis", "AVAV", "\u00e0", "Kr\u00e4uter", "tea", "Organic", "(new)",
                                             "\u00a9", "Stra\u00dfe", "na\u00efve", "50%", "WAVE", "Tokyo"};

// The job file of n text objects (one or two runs of two to seven words each,
// some in frames with every alignment, some tracked) in the ten fonts,
// written into the temporary folder.
inline fs::path syntheticTextJob(int texts) {
  const fs::path file = benchFile("text-" + std::to_string(texts) + ".json");
  std::ofstream out(file, std::ios::binary);
  out << R"({"format":"tavpdf-job","name":"Text bench","ppi":720,"origin":[72000,0],)"
      << R"("boxes":{"media":[0,0,72000,72000]},)"
      << R"("inks":[{"name":"Black","process":"black"},{"name":"PANTONE 185 C","cmyk":[0,91,76,0]}],)"
      << R"("colours":[{"id":1,"inks":{"Black":100}},{"id":2,"inks":{"PANTONE 185 C":100}}],)"
      << R"("paints":[{"id":10,"type":"flat","colour":1},{"id":11,"type":"flat","colour":2}],"objects":[)";
  XorShift next;
  static const char* kAlign[] = {"left", "centre", "right", "justify"};
  for (int i = 0; i < texts; ++i) {
    if (i) out << ',';
    out << R"({"kind":"text","at":[)" << 1000 + next(70000) << ',' << 1000 + next(60000) << ']';
    if (next(3) == 0) out << R"(,"width":)" << 4000 + next(6000) << R"(,"align":")" << kAlign[next(4)] << '"';
    out << R"(,"runs":[)";
    const int runs = 1 + next(2);
    for (int r = 0; r < runs; ++r) {
      if (r) out << ',';
      out << R"({"text":")";
      const int words = 2 + next(6);
      for (int w = 0; w < words; ++w) out << (w ? " " : "") << kTextWords[next(20)];
      out << R"(","font":")" << kTextFonts[next(10)] << R"(","size":)" << 6 + next(10)
          << R"(,"paint":)" << 10 + next(2);
      if (next(4) == 0) out << R"(,"tracking":)" << next(50);
      out << '}';
    }
    out << "]}";
  }
  out << "]}";
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

// The bytes of the largest stream of an uncompressed PDF: the page content.
inline std::string largestStream(const fs::path& pdf) {
  std::ifstream in(pdf, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string best;
  for (std::size_t p = 0; (p = bytes.find("stream\r\n", p)) != std::string::npos;) {
    const std::size_t start = p + 8;
    const std::size_t end = bytes.find("\r\nendstream", start);
    if (end == std::string::npos) break;
    if (end - start > best.size()) best = bytes.substr(start, end - start);
    p = end;
  }
  return best;
}

}  // namespace tavbench

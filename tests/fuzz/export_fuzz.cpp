// deps: tv_driver tv_pdfwriter tv_pagewriter tv_colour tv_settings tv_kernel tv_platform tav_contentcheck
// A whole export of a job generated from the input: the bytes choose the
// inks, colours, paints (flat, gradients and gradations of every form,
// tiling and expanded patterns), the object tree (layers, groups, compound
// paths, paths with curves and strokes), the flavour and settings overrides. An
// export that succeeds must have written a PDF whose content streams nest
// q/Q and BDC/EMC in balance and name only resources that are defined; one
// that fails must have left nothing at its target.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "settings/settings_access.h"
#include "support/content_check.h"
#include "tavpdf/OutputPDF.h"

namespace {

// The input read as a stream of choices; past its end every choice is 0.
class Choices {
 public:
  Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
  int below(int n) { return static_cast<int>(byte() % static_cast<unsigned>(n)); }
  bool flip() { return (byte() & 1) != 0; }
  // A coordinate on the page (720 units, one inch) or a little beyond it.
  int coord() { return static_cast<int>(((byte() << 8) | byte()) % 760) - 20; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string quoted(const std::string& s) { return "\"" + s + "\""; }
std::string num(int n) { return std::to_string(n); }

// Ink names that need escaping in PDF names and strings, besides plain ones.
const char* const kSpotNames[] = {"Orange", "PANTONE 185 C", "Spot (1)", "A/B #2", "Lack", "Gr\u00fcn",
                                  "Die%", "Silver"};
const char* const kProcess[] = {"cyan", "magenta", "yellow", "black"};
const char* const kProcessNames[] = {"Cyan", "Magenta", "Yellow", "Black"};

struct Generator {
  Choices& in;
  std::vector<std::string> inks;
  int paints = 0;
  int flatPaints = 0;
  std::vector<int> rich;  // gradient and pattern paints, when the job has them
  bool inCell = false;    // writing a pattern's cell

  std::string job() {
    std::string inkList;
    for (int k = 0; k < 4; ++k) {
      if (!in.flip()) continue;
      inks.push_back(kProcessNames[k]);
      inkList += std::string(inkList.empty() ? "" : ",") + R"({"name":")" + kProcessNames[k] +
                 R"(","process":")" + kProcess[k] + "\"}";
    }
    const int spots = in.below(5);
    for (int i = 0; i < spots; ++i) {
      const std::string name = kSpotNames[(i + in.below(8)) % 8];
      bool taken = false;
      for (const auto& n : inks) taken = taken || n == name;
      if (taken) continue;
      inks.push_back(name);
      inkList += std::string(inkList.empty() ? "" : ",") + R"({"name":)" + quoted(name) + R"(,"cmyk":[)" +
                 num(in.below(101)) + "," + num(in.below(101)) + ",0," + num(in.below(50)) + "]" +
                 (in.below(6) == 0 ? R"(,"opaque":true)" : "") + (in.below(6) == 0 ? R"(,"technical":true)" : "") +
                 (in.below(8) == 0 ? R"(,"varnish":true)" : "") + "}";
    }
    std::string colours, paintList;
    const int colourCount = 1 + in.below(5);
    for (int c = 0; c < colourCount; ++c) {
      std::string shares;
      for (const auto& ink : inks) {
        const int pick = in.below(6);
        if (pick == 0) continue;
        const int value = pick == 1 ? 255 : pick == 2 ? 0 : 10 * in.below(11);
        shares += std::string(shares.empty() ? "" : ",") + quoted(ink) + ":" + num(value);
      }
      colours += std::string(c ? "," : "") + R"({"id":)" + num(c + 1) + R"(,"inks":{)" + shares + "}" +
                 (in.below(8) == 0 ? R"(,"registration":true)" : "") + (in.below(4) == 0 ? R"(,"others":255)" : "") +
                 "}";
      paintList += std::string(c ? "," : "") + R"({"id":)" + num(10 + c) + R"(,"type":"flat","colour":)" +
                   num(c + 1) + (in.below(4) == 0 ? R"(,"overprint":true)" : "") +
                   (in.below(10) == 0 ? R"(,"opacity":50)" : "") + (in.below(10) == 0 ? R"(,"blendMode":"multiply")" : "") +
                   "}";
    }
    paints = colourCount;
    flatPaints = colourCount;
    // Gradients and patterns, for fills and strokes.
    std::string patterns;
    if (in.flip()) {
      static const char* const forms[] = {"horizontal", "vertical", "circular", "other"};
      auto colour = [&] { return num(1 + in.below(colourCount)); };
      auto point = [&] { return "[" + num(in.coord()) + "," + num(in.coord()) + "]"; };
      const int a = in.below(300), b = a + 1 + in.below(300);
      paintList += R"(,{"id":30,"type":"linear","colour":)" + colour() + R"(,"colour2":)" + colour() +
                   R"(,"start":)" + point() + R"(,"end":)" + point() + "}" +
                   R"(,{"id":31,"type":"radial","colour":)" + colour() + R"(,"colour2":)" + colour() +
                   R"(,"start":)" + point() + R"(,"end":)" + point() + "}" +
                   R"(,{"id":32,"type":"gradation","form":")" + forms[in.below(4)] + R"(","start":)" + point() +
                   R"(,"steps":[{"colour":)" + colour() + R"(,"position":)" + num(a) + R"(},{"colour":)" + colour() +
                   R"(,"position":)" + num(b) + "}]}";
      const int w = 40 + in.below(60), h = 40 + in.below(60);
      patterns = R"(,"patterns":[{"id":1,"cell":[0,0,)" + num(h) + "," + num(w) + "]" +
                 (in.flip() ? R"(,"corners":[[0,0],[)" + num(in.below(20)) + "," + num(w) + "],[" + num(h) + "," +
                                  num(in.below(20)) + "]]"
                            : "") +
                 R"(,"objects":[)" + cellObjects(w, h) + "]}]";
      paintList += R"(,{"id":40,"type":"pattern","pattern":1)" + std::string(in.flip() ? R"(,"expand":true)" : "") + "}";
      rich = {30, 31, 32, 40};
    }
    std::string layers;
    const int layerCount = 1 + in.below(3);
    for (int l = 0; l < layerCount; ++l)
      layers += std::string(l ? "," : "") + R"({"kind":"layer","name":"L)" + num(l) + "\"" +
                (in.below(6) == 0 ? R"(,"hidden":true)" : "") + (in.below(6) == 0 ? R"(,"nonPrinting":true)" : "") +
                R"(,"objects":[)" + members(2) + "]}";
    const int top = in.coord(), left = in.coord();
    const std::string trim = "[" + num(std::clamp(top, 0, 300)) + "," + num(std::clamp(left, 0, 300)) + ",600,600]";
    // A page of one inch: what the export renders of it (thumbnails,
    // previews) is small, so that an input costs little and the fuzzer
    // explores.
    return R"({"format":"tavpdf-job","name":"Fuzz","ppi":720,"origin":[720,0],)"
           R"("boxes":{"media":[0,0,720,720],"trim":)" + trim + R"(},"inks":[)" + inkList +
           R"(],"colours":[)" + colours + R"(],"paints":[)" + paintList + "]" + patterns + R"(,"objects":[)" +
           layers + "]}";
  }

  // The objects of a pattern's cell (w x h): flat fills and gradients.
  std::string cellObjects(int w, int h) {
    inCell = true;
    std::string out;
    for (int i = 0, n = 1 + in.below(3); i < n; ++i) {
      const int top = in.below(h), left = in.below(w);
      const int bottom = top + 1 + in.below(h), right = left + 1 + in.below(w);
      const std::string p = in.below(3) == 0 ? num(30 + in.below(3)) : num(10 + in.below(flatPaints));
      out += std::string(i ? "," : "") + R"({"kind":"path","paint":)" + p + R"(,"points":[[)" + num(top) + "," +
             num(left) + "],[" + num(top) + "," + num(right) + "],[" + num(bottom) + "," + num(right) + "],[" +
             num(bottom) + "," + num(left) + "]]" + (in.below(3) == 0 ? stroke() : "") + "}";
    }
    inCell = false;
    return out;
  }

  std::string anyPaint() {
    if (!rich.empty() && in.below(3) == 0) return num(rich[std::size_t(in.below(int(rich.size())))]);
    return num(10 + in.below(paints));
  }

  std::string paint() { return in.below(4) == 0 ? num(2) : anyPaint(); }

  std::string points(bool curves) {
    std::string p = "[[" + num(in.coord()) + "," + num(in.coord()) + "]";
    const int n = 1 + in.below(10);
    for (int i = 0; i < n; ++i) {
      p += ",[";
      if (curves && in.below(3) == 0) p += num(in.coord()) + "," + num(in.coord()) + "," + num(in.coord()) + "," +
                                             num(in.coord()) + ",";
      p += num(in.coord()) + "," + num(in.coord()) + "]";
    }
    return p + "]";
  }

  std::string stroke() {
    static const char* const joins[] = {"miter", "round", "bevel"};
    static const char* const caps[] = {"butt", "round", "square"};
    static const char* const positions[] = {"centre", "inside", "outside"};
    // Strokes in cells keep to flat paints and gradients (a cell may not
    // paint with its own pattern).
    const std::string p = inCell ? num(10 + in.below(flatPaints)) : anyPaint();
    std::string s = R"(,"stroke":{"width":)" + num(in.below(60)) + R"(,"paint":)" + p + R"(,"join":")" +
                    joins[in.below(3)] + R"(","cap":")" + caps[in.below(3)] + R"(","position":")" +
                    positions[in.below(3)] + "\"";
    if (in.below(3) == 0) s += R"(,"dash":[)" + num(1 + in.below(50)) + "," + num(in.below(50)) + "]";
    return s + "}";
  }

  std::string path() {
    return R"({"kind":"path","paint":)" + paint() + R"(,"points":)" + points(true) +
           (in.below(4) == 0 ? R"(,"closed":false)" : "") + (in.below(3) == 0 ? stroke() : "") +
           (in.below(10) == 0 ? R"(,"trap":true)" : "") + "}";
  }

  std::string members(int depth) {
    std::string out;
    const int n = 1 + in.below(5);
    for (int i = 0; i < n; ++i) {
      out += i ? "," : "";
      const int kind = in.below(6);
      if (kind == 0 && depth > 0) {
        out += R"({"kind":"group","objects":[)" + members(depth - 1) + "]}";
      } else if (kind == 1) {
        std::string paths;
        for (int k = 0, m = 2 + in.below(2); k < m; ++k)
          paths += std::string(k ? "," : "") + R"({"kind":"path","points":)" + points(true) + "}";
        out += R"({"kind":"compound","paint":)" + paint() + R"(,"objects":[)" + paths + "]" +
               (in.below(3) == 0 ? stroke() : "") + "}";
      } else {
        out += path();
      }
    }
    return out;
  }
};

const char* const kFlavours[] = {"Press", "Viewing", "Reader", "Normalized", "Separated", "NormalizedEmbedded",
                                 "Vistamo", "Custom"};
const char* const kOverrides[] = {"IncludeLayers=1", "IncludeLayers=0", "OptimizeWhiteObjects=1", "MaxPathSize=16",
                                  "MaxPathSize=40", "Mirror=1", "Orientation=3", "Orientation=2",
                                  "VerticalDistortion=-2.5", "HorizontalDistortion=3", "CompressPages=0",
                                  "AddRegistrationMarks=1", "PDFCompatibility=0", "PDFCompatibility=2",
                                  "UseSeparationDisabler=1", "ProcessCMYKFlags=1", "EnableFlattening=1"};

// Where the exports go: in memory where the machine has it, since every
// complete export is flushed to disk.
const std::filesystem::path& folder() {
  static TavSys::TempFolder temp(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
  return temp.path();
}

[[noreturn]] void fail(const std::string& why, const std::string& job) {
  std::fprintf(stderr, "export fuzz: %s\njob: %s\n", why.c_str(), job.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  TavSys::Progress::resetCancel();
  Choices in(data, size);
  Generator generator{in, {}, 0, 0, {}, false};
  const std::string text = generator.job();
  std::unique_ptr<jobstr> job;
  try {
    job = TavKernel::loadJobFromMemory(text, folder(), "fuzz.json");
  } catch (const TavSys::Error& e) {
    fail("the generated job was refused: " + e.detail(), text);
  }
  PDFSettings settings = TavPDF::SettingsForFlavour(kFlavours[in.below(8)]);
  for (int i = 0, n = in.below(4); i < n; ++i) {
    try {
      TavPDF::ApplySettingOverride(settings, kOverrides[in.below(17)]);
    } catch (const TavSys::Error&) {
    }
  }
  settings.VerifyCompatibility();

  const std::filesystem::path target = folder() / "out.pdf";
  TavSys::FileSpec targetFile(target);
  MarksSettings marks;
  const int result = OutputPDFDocument(job.get(), settings, marks, true, false, nullptr, targetFile, {}, nullptr);
  std::error_code ec;
  if (result != 0) {
    if (std::filesystem::exists(target, ec)) fail("a failed export left a file", text);
    return 0;
  }
  std::ifstream file(target, std::ios::binary);
  const std::string pdf((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::filesystem::remove(target, ec);
  const std::vector<std::string> problems = tavtest::contentStreamProblemsOfBytes(pdf);
  if (!problems.empty()) {
    std::string all;
    for (const auto& p : problems) all += "\n  " + p;
    fail("the written file has faults:" + all, text);
  }
  return 0;
}

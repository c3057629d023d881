// deps: tv_kernel tv_fonts tv_platform
// The transparency flattener over jobs generated from the input: the bytes
// choose inks, colours (some leaving inks untouched), paints with opacity,
// every blend mode, soft masks and gradients, and an object tree of paths
// (self-intersecting, degenerate, curved, stroked, dashed), compound paths,
// groups and, on request, a heap of thousands of overlapping transparent
// objects. The flattened tree must hold no transparency at all, and every
// object it adds must be a closed shape in an opaque paint; the raster road
// runs at a low resolution so that a run stays quick, and the limits of the
// flattener keep its memory bounded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/kernel/exportkernel.h"
#include "platform/kernel/flattener.h"
#include "platform/kernel/flattenraster.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace {

class Choices {
 public:
  Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
  int below(int n) { return static_cast<int>(byte() % static_cast<unsigned>(n)); }
  bool flip() { return (byte() & 1) != 0; }
  // Coordinates cluster in the middle of the page, so that objects overlap.
  int coord() { return 1000 + static_cast<int>(((byte() << 8) | byte()) % 1600) - (below(16) == 0 ? 3000 : 0); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string num(int n) { return std::to_string(n); }

const char* const kModes[] = {"normal",     "multiply", "screen",     "overlay", "softLight", "hardLight",
                              "colorDodge", "colorBurn", "darken",    "lighten", "difference", "exclusion",
                              "hue",        "saturation", "color",    "luminosity"};

struct Generator {
  Choices& in;
  int paints = 0;

  std::string points() {
    std::string p = "[[" + num(in.coord()) + "," + num(in.coord()) + "]";
    const int n = in.below(9);  // a single point or a line are degenerate shapes
    for (int i = 0; i < n; ++i) {
      p += ",[";
      if (in.below(3) == 0)
        p += num(in.coord()) + "," + num(in.coord()) + "," + num(in.coord()) + "," + num(in.coord()) + ",";
      // Repeated points and points on a line.
      const int v = in.below(6) == 0 ? 1000 : in.coord(), h = in.below(6) == 0 ? 1000 : in.coord();
      p += num(v) + "," + num(h) + "]";
    }
    return p + "]";
  }

  std::string paint() { return num(in.below(8) == 0 ? 2 : 10 + in.below(paints)); }

  std::string stroke() {
    std::string s = R"(,"stroke":{"width":)" + num(in.below(80)) + R"(,"paint":)" + num(10 + in.below(paints)) +
                    R"(,"position":")" + (in.flip() ? "centre" : in.flip() ? "inside" : "outside") + "\"";
    if (in.below(4) == 0) s += R"(,"dash":[)" + num(1 + in.below(40)) + "," + num(in.below(40)) + "]";
    return s + "}";
  }

  std::string square(int v, int h, int side, int paint) {
    return R"({"kind":"path","paint":)" + num(paint) + R"(,"points":[[)" + num(v) + "," + num(h) + "],[" + num(v) +
           "," + num(h + side) + "],[" + num(v + side) + "," + num(h + side) + "],[" + num(v + side) + "," + num(h) +
           "]]}";
  }

  std::string members(int depth) {
    std::string out;
    const int n = 1 + in.below(6);
    for (int i = 0; i < n; ++i) {
      out += i ? "," : "";
      const int kind = in.below(8);
      if (kind == 0 && depth > 0) {
        out += R"({"kind":"group","objects":[)" + members(depth - 1) + "]}";
      } else if (kind == 1) {
        std::string paths;
        for (int k = 0, m = 2 + in.below(3); k < m; ++k)
          paths += std::string(k ? "," : "") + R"({"kind":"path","points":)" + points() + "}";
        out += R"({"kind":"compound","paint":)" + paint() + R"(,"objects":[)" + paths + "]" +
               (in.below(3) == 0 ? stroke() : "") + "}";
      } else if (kind == 2 && in.below(8) == 0) {
        // A heap of overlapping transparent squares.
        const int count = 50 + (in.below(4) == 0 ? 20 : 2) * in.below(100);
        for (int k = 0; k < count; ++k)
          out += std::string(k ? "," : "") + square(800 + in.below(60) * 10, 800 + in.below(60) * 10, 50 + in.below(200),
                                                    10 + in.below(paints));
      } else {
        out += R"({"kind":"path","paint":)" + paint() + R"(,"points":)" + points() +
               (in.below(5) == 0 ? R"(,"closed":false)" : "") + (in.below(3) == 0 ? stroke() : "") + "}";
      }
    }
    return out;
  }

  std::string job() {
    static const char* const kInks =
        R"({"name":"Cyan","process":"cyan"},{"name":"Magenta","process":"magenta"},)"
        R"({"name":"Yellow","process":"yellow"},{"name":"Black","process":"black"},)"
        R"({"name":"Orange","cmyk":[0,60,100,0]},{"name":"Silver","cmyk":[20,20,20,30],"opaque":true})";
    static const char* const kNames[] = {"Cyan", "Magenta", "Yellow", "Black", "Orange", "Silver"};
    std::string colours, paintList;
    const int colourCount = 1 + in.below(6);
    for (int c = 0; c < colourCount; ++c) {
      std::string shares;
      for (const char* ink : kNames) {
        const int pick = in.below(5);
        if (pick == 0) continue;
        const int value = pick == 1 ? 255 : 10 * in.below(11);
        shares += std::string(shares.empty() ? "" : ",") + "\"" + ink + "\":" + num(value);
      }
      colours += std::string(c ? "," : "") + R"({"id":)" + num(c + 1) + R"(,"inks":{)" + shares + "}" +
                 (in.below(4) == 0 ? R"(,"others":255)" : "") + "}";
    }
    paints = colourCount + 1;
    // Paint 9 paints the soft mask.
    paintList = R"({"id":9,"type":"flat","colour":1},)";
    for (int c = 0; c < paints; ++c) {
      const int colour = 1 + c % colourCount;
      std::string p = R"({"id":)" + num(10 + c);
      if (c == colourCount) {
        p += R"(,"type":"linear","colour":1,"colour2":)" + num(colourCount) + R"(,"start":[1000,800],"end":[1000,2400])";
      } else {
        p += R"(,"type":"flat","colour":)" + num(colour);
      }
      if (in.below(3) != 0) p += R"(,"opacity":)" + num(in.below(101));
      if (in.below(3) == 0) p += R"(,"blendMode":")" + std::string(kModes[in.below(16)]) + "\"";
      if (in.below(8) == 0) p += R"(,"softMask":1)";
      paintList += std::string(c ? "," : "") + p + "}";
    }
    const std::string mask = R"({"id":1,"kind":"softMask","maskFlags":)" + num(in.below(8)) + R"(,"objects":[)" +
                             square(in.coord(), in.coord(), 300 + in.below(900), 9) + "]}";
    return R"({"format":"tavpdf-job","name":"Flatten fuzz","ppi":720,"origin":[3600,0],)"
           R"("boxes":{"media":[0,0,3600,3600]},"inks":[)" + std::string(kInks) + R"(],"colours":[)" + colours +
           R"(],"paints":[)" + paintList + R"(],"patterns":[)" + mask + R"(],"objects":[{"kind":"layer","name":"L","objects":[)" +
           members(2) + "]}]}";
  }
};

const std::filesystem::path& folder() {
  static TavSys::TempFolder temp(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "");
  return temp.path();
}

[[noreturn]] void fail(const std::string& why, const std::string& job) {
  std::fprintf(stderr, "flatten fuzz: %s\njob: %s\n", why.c_str(), job.c_str());
  std::abort();
}

// Every painted object of the tree is opaque; what the flattener made is a
// closed shape.
void check(const jobstr* job, const TavDB::Object* o, const std::string& text) {
  if (paintHasTransparency(job, o->paint())) fail("a transparent object is left", text);
  if (const TavDB::Stroke* s = o->stroke(); s != nullptr && s->width > 0 && paintHasTransparency(job, s->paint))
    fail("a transparent stroke is left", text);
  if (o->extra() != nullptr && o->extra()->composed) {
    if (o->kind() != TavDB::ObjectKind::Path && o->kind() != TavDB::ObjectKind::Compound)
      fail("a region that is not a shape", text);
    if (o->isOpenPath()) fail("an open region", text);
  }
  for (const auto& m : o->members()) check(job, m.get(), text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  TavSys::Progress::resetCancel();
  Choices in(data, size);
  Generator generator{in};
  const std::string text = generator.job();
  std::unique_ptr<jobstr> job;
  try {
    job = TavKernel::loadJobFromMemory(text, folder(), "fuzz.json");
  } catch (const TavSys::Error& e) {
    fail("the generated job was refused: " + e.detail(), text);
  }
  TavFlatten::Parameters p;
  p.flattenOverprints = in.flip();
  p.flattenBlackOverprint = in.flip();
  p.opaqueInksKnockOut = in.flip();
  p.vectorizeOpacity = in.flip();
  p.resolution = 12;
  p.regionLimit = 200;
  p.regionCap = 20000;
  JobStateGuard guard(job.get());
  TavFlatten::RasterStore store(job.get(), folder());
  try {
    const TavFlatten::Result r = TavFlatten::FlattenTree(job.get(), jobGetSpahan(job.get()), p, &store);
    if (r.tree) check(job.get(), r.tree.get(), text);
  } catch (const TavSys::Error& e) {
    // Only a full paint table may stop a flattening of such a job.
    if (e.key() != "PDF/CANNOT FLATTEN TRANSPARENCY") fail("an error: " + e.key() + " " + e.detail(), text);
  }
  return 0;
}

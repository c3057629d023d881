// deps: tv_illustrator tv_pagewriter tv_kernel tv_platform
// A job read from arbitrary bytes, written as Illustrator 3.2, 5.0 and 7.0
// and walked by the output walker with a small maximum path size, so that the
// path splitter sees every shape the loader lets through. Nothing may crash;
// the files must stay well formed (brackets balanced, image data where an
// image was announced, no number that is not finite) and every split piece
// must respect the maximum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "illustrator/illoutjob.h"
#include "illustrator/illustrator32.h"
#include "pagewriter/genproof.h"
#include "platform/genoutfil.h"
#include "platform/kernelfile.h"
#include "platform/kernel/jobfile.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

namespace {

constexpr int kMaxPoints = 8;

class Sink : public genoutfil {
 public:
  void PutByte(std::uint8_t byte) override { text.push_back(static_cast<char>(byte)); }
  std::string text;
};

// A backend that only keeps count of its brackets.
class CountingProof : public genproof {
 public:
  explicit CountingProof(jobstr* job)
      : genproof(job, 72, 1, kMaxPoints, kCompositeProcess, false) {}
  genoutfil& GetOutputStream() override { return sink; }
  int BeginLayer(TavDB::Layer*) override { ++open; return 0; }
  void EndLayer() override { --open; }
  void BeginGroup() override { ++open; }
  void EndGroup() override { --open; }
  void BeginCompoundPath(TavDB::Object*, int) override { ++open; }
  void EndCompoundPath(int) override { --open; }
  void SetOverprint(bool) override {}
  void WriteCMYKOrSeparationColor(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t, int,
                                  std::uint8_t) override {}
  void OutputText(TavDB::Object*) override {}
  void OutputPatternFill(TavDB::Object*) override {}
  void OutputMap(TavDB::Object*) override {}
  int OutputPlacedEPS(TavDB::Object*) override { return 0; }
  proofimghan* outpixbegin(const TavSys::filref*, const paityp*, const TavDB::tv_matrixtyp<double>&, int,
                           int, int, int, double, double, int, int, const std::int32_t*, bool,
                           ColorSpace*) override {
    return nullptr;
  }
  void outpixend(proofimghan*) override {}
  int outpixrow(proofimghan*, const std::uint8_t*, int, int) override { return 0; }
  void OutputPath(const TavDB::Object* path, int scanMode, int mode, double* count,
                  double total) override {
    if (GetSplitSource() != nullptr && TavDB::pointcount(path) > std::size_t(kMaxPoints)) std::abort();
    genproof::OutputPath(path, scanMode, mode, count, total);
    if (sink.text.size() > (1u << 20)) sink.text.clear();
  }
  Sink sink;
  int open = 0;
};

// Names and titles may hold anything: the numbers are looked for outside
// strings and comments.
bool hasNonFinite(const std::string& line) {
  if (line.starts_with("%")) return false;
  const std::string code = line.substr(0, line.find('('));
  return code.find("nan") != std::string::npos || code.find("inf") != std::string::npos;
}

// version: 3 for Illustrator 3.2 (compounds do not nest and lie outside
// groups), 5 for 5.0 and 7.0.
void checkIllustrator(const std::string& text, int version) {
  if (!text.ends_with("%%Trailer\n%%EOF\n")) std::abort();
  std::istringstream in(text);
  int groups = 0, compounds = 0, saves = 0, layers = 0, texts = 0;
  bool image = false;
  for (std::string line; std::getline(in, line);) {
    if (hasNonFinite(line)) std::abort();
    if (image) {
      if (line == "%AI5_EndRaster") {
        image = false;
      } else if (!line.starts_with("%") || line.size() > 61) {
        std::abort();
      }
      continue;
    }
    if (line.ends_with(" XI")) image = true;
    if (line == "u") ++groups;
    if (line == "U" && --groups < 0) std::abort();
    if (line == "*u" && ++compounds != 1 && version == 3) std::abort();
    if (line == "*U" && --compounds < 0) std::abort();
    if (line == "q") ++saves;
    if (line == "Q" && --saves < 0) std::abort();
    if (line == "%AI5_BeginLayer") ++layers;
    if (line == "%AI5_EndLayer--" && --layers < 0) std::abort();
    // Text objects do not nest.
    if (line.ends_with(" To") && ++texts != 1) std::abort();
    if (line == "TO" && --texts < 0) std::abort();
  }
  if (groups != 0 || compounds != 0 || saves != 0 || layers != 0 || texts != 0 || image) std::abort();
}

// Gradations are drawn as images at 300 pixels per inch in version 7.0: a
// job larger than a few thousand pixels would only make the run slow.
bool smallEnoughForImages(const jobstr* job) {
  const TavDB::tv_box box = TavDB::measureall(jobGetSpahan(job));
  const double pixels = 300.0 / TavDB::getppi(job);
  return double(box.width()) * pixels < 2000 && double(box.height()) * pixels < 2000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TavGen::ScopedMessagesDisabler quiet;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<jobstr> job;
  try {
    job = TavKernel::loadJobFromMemory(text, "/nonexistent-tavpdf-fuzz", "fuzz.json");
  } catch (const TavSys::Error&) {
    return 0;  // refused by the loader: not this target's concern
  }
  TavDB::ScopedCurrentJob current(job.get());
  std::string ai;
  TavIllu::WriteIllustrator32(job.get(), job->name, true, ai);
  checkIllustrator(ai, 3);

  for (int mode : {1, 2}) {
    if (mode == 2 && !smallEnoughForImages(job.get())) continue;
    TavSys::fil memory;
    int result = 0;
    try {
      TavIllu::illoutjob writer(job.get(), mode, 1, &memory, 1, false);
      result = writer.WriteDocument();
    } catch (const TavSys::Error&) {
      continue;  // refused with a message, as the export entry reports it
    }
    if (result != 0 && result != 1) std::abort();
    checkIllustrator(memory.contents(), 5);
  }

  CountingProof proof(job.get());
  proof.OutputGroup(jobGetSpahan(job.get()), false, -1, false);
  if (proof.open != 0) std::abort();
  return 0;
}

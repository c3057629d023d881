// deps: tv_illustrator tv_pagewriter tv_kernel tv_platform
// A job read from arbitrary bytes, written as Illustrator 3.2 and walked by
// the output walker with a small maximum path size, so that the path splitter
// sees every shape the loader lets through. Neither may crash; the file must
// stay well formed and every split piece must respect the maximum.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "illustrator/illustrator32.h"
#include "pagewriter/genproof.h"
#include "platform/genoutfil.h"
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

void checkIllustrator(const std::string& text) {
  if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos) std::abort();
  if (!text.ends_with("%%Trailer\n%%EOF\n")) std::abort();
  std::istringstream in(text);
  int groups = 0, compounds = 0;
  for (std::string line; std::getline(in, line);) {
    if (line == "u") ++groups;
    if (line == "U" && --groups < 0) std::abort();
    if (line == "*u" && ++compounds != 1) std::abort();
    if (line == "*U" && --compounds != 0) std::abort();
  }
  if (groups != 0 || compounds != 0) std::abort();
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
  checkIllustrator(ai);

  CountingProof proof(job.get());
  proof.OutputGroup(jobGetSpahan(job.get()), false, -1, false);
  if (proof.open != 0) std::abort();
  return 0;
}

#include "colour/transfer.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "colour/colourpdf.h"
#include "pdfwriter/pdfobjects.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/dotgain.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/system.h"

using namespace TavPDF;

namespace {

constexpr std::string_view kCurveNames[] = {
    "RIPDefault",   "Linear",       "Pliometer_65", "Pliometer_62", "Pliometer_59", "Pliometer_56",
    "Pliometer_53", "Pliometer_50", "Pliometer_47", "Pliometer_44", "Pliometer_41", "Pliometer_38",
    "Pliometer_35", "Pliometer_32", "Pliometer_29", "Pliometer_26", "Pliometer_23", "Pliometer_20",
    "Petrotone_60", "Petrotone_57", "Petrotone_54", "Petrotone_51", "Petrotone_48", "Petrotone_45",
    "Petrotone_42", "Petrotone_39", "Petrotone_36", "Petrotone_33", "Petrotone_30", "Petrotone_27",
    "Petrotone_24", "Petrotone_21"};

}  // namespace

bool MakeTransferTable(const dotjob* dots, int index, double out[256]) {
  std::array<double, 256> d{};
  if (dots == nullptr || !dots->MakeDotTable(d.data(), index)) return false;
  for (int k = 0; k < 256; ++k) out[k] = 1.0 - d[std::size_t(255 - k)];
  return true;
}

void BuildDotgainTransferFunction(pdfouthan* handler, jobstr* job, const TavSys::filref& dotgainFile,
                                  int separation) {
  if (handler == nullptr || separation < 0 || separation >= kMaxSeparations) return;
  std::unique_ptr<dotjob> dots = CreateDotJob();
  if (dotgainLoadFile(job, dots.get(), dotgainFile, separation) != 0) {
    // One file serves every separation: its trouble is said once.
    const std::string reason = dots->GetLoadError();
    if (handler->firstReport("DOTGAIN NOT FOUND " + reason)) {
      TavGen::message(TavGen::kBatchError, 1, "DOTGAIN NOT FOUND",
                      {{"__FILE__", dotgainFile.getFullPathAsUtf8()}, {"__REASON__", reason}});
    }
    return;
  }
  double table[256];
  if (!MakeTransferTable(dots.get(), 0, table)) return;

  std::array<std::uint8_t, 256>& samples = handler->mDotGainSamples[std::size_t(separation)];
  for (int k = 0; k < 256; ++k) {
    // A table outside 0..1 must not wrap around in a byte.
    samples[std::size_t(k)] = std::uint8_t(std::clamp(TavSys::iround(table[k] * 255.0), 0, 255));
  }
  auto* dictionary = new PDFDictionary();
  dictionary->Set("FunctionType", TavColorPdf::Integer(0));
  dictionary->Set("Domain", TavColorPdf::UnitPairs(1));
  dictionary->Set("Range", TavColorPdf::UnitPairs(1));
  auto* size = TavColorPdf::NewArray();
  TavColorPdf::Append(size, TavColorPdf::Integer(256));
  dictionary->Set("Size", size);
  dictionary->Set("BitsPerSample", TavColorPdf::Integer(8));
  handler->mTransferFunctions[std::size_t(separation)] = TavColorPdf::WriteStream(
      handler, dictionary,
      std::string_view(reinterpret_cast<const char*>(samples.data()), samples.size()));
}

bool IsCustomCurveName(const std::string& name) {
  if (name.rfind("Tonematch_", 0) == 0) return false;
  return std::find(std::begin(kCurveNames), std::end(kCurveNames), name) == std::end(kCurveNames);
}

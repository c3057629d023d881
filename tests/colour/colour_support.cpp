#include "colour_support.h"

#include "pdfwriter/pdfregistry.h"

namespace colourtest {

using namespace TavPDF;

std::unique_ptr<jobstr> MakeJob(const std::vector<Ink>& inks) {
  auto job = std::make_unique<jobstr>();
  for (const Ink& ink : inks) {
    Separation& s = job->separations[static_cast<std::size_t>(job->inkCount++)];
    s.exists = s.used = true;
    s.name = ink.name;
    s.process = ink.process;
    s.cmyk = ink.cmyk;
    if (ink.process >= 0) {
      s.cmyk = {0, 0, 0, 0};
      s.cmyk[static_cast<std::size_t>(ink.process)] = 100;
    }
  }
  return job;
}

std::vector<Ink> ProcessInks() {
  return {{"Cyan", 0, {}}, {"Magenta", 1, {}}, {"Yellow", 2, {}}, {"Black", 3, {}}};
}

std::vector<Ink> MixedInks() {
  auto inks = ProcessInks();
  inks.push_back({"Orange", -1, {0, 50, 100, 0}});
  inks.push_back({"Green", -1, {100, 0, 100, 0}});
  inks.push_back({"Violet", -1, {60, 90, 0, 0}});
  return inks;
}

std::vector<Ink> SpotInks(int n) {
  std::vector<Ink> inks;
  for (int i = 0; i < n; ++i) {
    auto pct = [](int v) { return static_cast<std::uint8_t>(v % 101); };
    inks.push_back({"Spot " + std::to_string(i + 1), -1, {pct(i * 7), pct(i * 13), pct(i * 29), pct(i % 4 * 25)}});
  }
  return inks;
}

CsDeviceN::Options Opts(int maxColorants, bool force, bool separationForm) {
  CsDeviceN::Options o;
  o.maxColorants = maxColorants;
  o.forceDeviceN = force;
  o.allowSeparationCS = separationForm;
  return o;
}

std::string Serialise(PDFDictionaryValue* value) {
  OperatorSink sink;
  value->Output(sink);
  return sink.take();
}

std::string RefText(PDFArray* array, std::size_t i) {
  auto* ref = dynamic_cast<PDFIndirectReference*>(array->Get(i));
  if (!ref) ADD_FAILURE() << "no reference at " << i << " in " << Serialise(array);
  return ref ? std::to_string(ref->GetObjectNumber()) + " 0 R" : "?";
}

void ColourTest::SetUp() {
  PdfGraphicsState::Instance().Reset();
  ColorSpace::SetUseTRDotgain(false);
}

void ColourTest::TearDown() {
  ColorSpace::SetUseTRDotgain(false);
  PdfGraphicsState::Instance().Reset();
  PdfObjectRegistry::deleteAll();
}

MemoryPdf::MemoryPdf() : handler_(std::make_unique<pdfouthan>(&file_, kPdf14)) {
  handler_->writeHeader();
}

std::string MemoryPdf::objectText(PDFIndirectReference* ref) {
  const std::string& bytes = file_.contents();
  const PdfXrefEntry* entry = handler_->getXrefTable()->GetEntry(ref->GetObjectNumber() - 1);
  return bytes.substr(entry->offset, bytes.find("\nendobj", entry->offset) - entry->offset);
}

std::string MemoryPdf::streamData(PDFIndirectReference* ref) {
  const std::string text = objectText(ref);
  const std::size_t start = text.find("stream\r\n"), end = text.rfind("\r\nendstream");
  if (start == std::string::npos || end == std::string::npos) return {};
  return text.substr(start + 8, end - start - 8);
}

}  // namespace colourtest

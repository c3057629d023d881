#pragma once
// Test helpers for the colour spaces: jobs with chosen inks, tint vectors, a
// sink that keeps the operators written and an output handler over memory.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/job.h"
#include "support/capture.h"
#include "platform/system.h"

namespace colourtest {

struct Ink {
  std::string name;
  int process = -1;                    // -1 spot, 0..3 C M Y K
  std::array<std::uint8_t, 4> cmyk{};  // CMYK equivalent of a spot ink, percent
};
// A job whose slots 0.. hold the inks in order.
std::unique_ptr<jobstr> MakeJob(const std::vector<Ink>& inks);
std::vector<Ink> ProcessInks();  // Cyan, Magenta, Yellow, Black
std::vector<Ink> MixedInks();    // the process inks, then Orange (4), Green (5), Violet (6)
std::vector<Ink> SpotInks(int n);  // "Spot 1".."Spot n", distinct CMYK equivalents

// A tint vector: every slot undefined unless set.
struct Tints {
  Tints() { values.fill(kTintUndefined); }
  explicit Tints(unsigned short all) { values.fill(all); }
  Tints& set(int sep, unsigned short tint) {
    values[static_cast<std::size_t>(sep)] = tint;
    return *this;
  }
  operator const unsigned short*() const { return values.data(); }
  std::array<unsigned short, 64> values;
};

CsDeviceN::Options Opts(int maxColorants, bool force = false, bool separationForm = false);

// A content-stream sink that keeps what is written; take() hands it over.
class OperatorSink : public TavPDF::pdfoutfilter {
 public:
  OperatorSink() : TavPDF::pdfoutfilter(nullptr) {}
  void PutByte(std::uint8_t byte) override { text_.push_back(static_cast<char>(byte)); }
  bool Finish() override { return true; }
  std::string take() { return std::exchange(text_, {}); }

 private:
  std::string text_;
};

// The PDF syntax of an object.
std::string Serialise(TavPDF::PDFDictionaryValue* value);
// "N 0 R" of the reference at index i of an array.
std::string RefText(TavPDF::PDFArray* array, std::size_t i);

// Every test starts with a fresh cache and no transfer states, and frees the
// PDF objects it made.
class ColourTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  OperatorSink out;
};

// An output handler writing into memory, for arrays that write function
// streams through it.
class MemoryPdf {
 public:
  MemoryPdf();
  TavPDF::pdfouthan* handler() { return handler_.get(); }
  const std::string& bytes() { return file_.contents(); }
  // The data of a stream as written (unfiltered streams only).
  std::string streamData(TavPDF::PDFIndirectReference* ref);

 private:
  std::string objectText(TavPDF::PDFIndirectReference* ref);
  TavSys::fil file_;
  std::unique_ptr<TavPDF::pdfouthan> handler_;
};

using tavtest::CommaLocale;
using tavtest::DebugCapture;

}  // namespace colourtest

#pragma once
// Test helpers for the colour spaces: jobs with chosen inks, a sink that keeps
// the operators written, an output handler over memory, and a one-page PDF
// writer for rendering checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pagewriter/pdfgraphicsstate.h"
#include "pdfwriter/pdfoutfil.h"
#include "pdfwriter/pdfouthan.h"
#include "platform/kernel/colorspace.h"
#include "platform/kernel/job.h"

namespace colourtest {

struct Ink {
  std::string name;
  int process = -1;                        // -1 spot, 0..3 C M Y K
  std::array<std::uint8_t, 4> cmyk{};      // CMYK equivalent of a spot ink, percent
};

// A job whose slots 0.. hold the inks in order.
std::unique_ptr<jobstr> MakeJob(const std::vector<Ink>& inks);
// Cyan, Magenta, Yellow, Black.
std::vector<Ink> ProcessInks();
// n spot inks "Spot 1".."Spot n" with distinct CMYK equivalents.
std::vector<Ink> SpotInks(int n);

// A tint vector: every slot undefined unless set.
struct Tints {
  Tints();
  explicit Tints(unsigned short all);
  Tints& set(int sep, unsigned short tint) {
    values[static_cast<std::size_t>(sep)] = tint;
    return *this;
  }
  operator const unsigned short*() const { return values.data(); }
  std::array<unsigned short, 64> values;
};

// A content-stream sink that keeps what is written.
class OperatorSink : public TavPDF::pdfoutfilter {
 public:
  OperatorSink() : TavPDF::pdfoutfilter(nullptr) {}
  void PutByte(std::uint8_t byte) override { text_.push_back(static_cast<char>(byte)); }
  bool Finish() override { return true; }
  // What was written since the last take, then forgotten.
  std::string take() { return std::exchange(text_, {}); }

 private:
  std::string text_;
};

// The PDF syntax of an object.
std::string Serialise(TavPDF::PDFDictionaryValue* value);

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
  ~MemoryPdf();
  TavPDF::pdfouthan* handler() { return handler_.get(); }
  // Everything written so far.
  const std::string& bytes() { return file_.contents(); }
  // The data of the stream object `ref` as written (unfiltered streams only).
  std::string streamData(TavPDF::PDFIndirectReference* ref);
  // The dictionary of the stream object `ref` as written.
  std::string streamDictionary(TavPDF::PDFIndirectReference* ref);

 private:
  TavSys::fil file_;
  std::unique_ptr<TavPDF::pdfouthan> handler_;
};

// Writes a one-page PDF (200 x 200 points) whose ColorSpace resources are
// every part of the given spaces, whose ExtGState resources are op0 and op1
// (overprint off and on, OPM 1), and whose content is what `content` writes.
void WriteOnePagePdf(const std::filesystem::path& path, std::uint32_t versionCode,
                     const std::vector<ColorSpace*>& spaces,
                     const std::function<void(TavPDF::pdfoutfilter&)>& content);

}  // namespace colourtest

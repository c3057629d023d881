// Dot gain in written documents: a dot-gain file that cannot be used.
#include <gtest/gtest.h>

#include "document_support.h"
#include "platform/messages.h"
#include "support/consumers.h"

namespace doctest {
namespace {

const char* kJob = R"(
  "boxes": {"media": [0, 0, 100, 100]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Orange", "cmyk": [0, 50, 100, 0], "dotgainCurve": "Warm"},
           {"name": "Green", "cmyk": [80, 0, 100, 0]}],
  "colours": [{"id": 1, "inks": {"Cyan": 50}}, {"id": 2, "inks": {"Magenta": 50}},
              {"id": 3, "inks": {"Orange": 50}}, {"id": 4, "inks": {"Green": 50}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3}, {"id": 13, "type": "flat", "colour": 4}],
  "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 50], [50, 50], [50, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 50], [0, 100], [50, 100], [50, 50]]},
    {"kind": "path", "paint": 12, "points": [[50, 0], [50, 50], [100, 50], [100, 0]]},
    {"kind": "path", "paint": 13, "points": [[50, 50], [50, 100], [100, 100], [100, 50]]}]
)";

TEST(DocumentDotgain, AFileThatCannotBeUsedIsSaidOnceAndTheInksGoWithout) {
  tavtest::TestFolder dir;
  tavtest::writeFile(dir / "broken.txt", "tavpdf-dotgain 1\ncurve Cyan\n0 0\n50 40\n40 60\n100 100\n");
  auto job = makeJob(kJob);
  const std::pair<const char*, const char*> cases[] = {{"missing.txt", "No such file"},
                                                      {"broken.txt", "line 5, column 1"}};
  for (const auto& [file, reason] : cases) {
    PDFSettings s = testSettings();
    s.EnableDotgain = 1;
    s.DotgainFile = TavSys::filref((dir / file).string());
    TavGen::MessageCapture messages;
    const Written w = writeAccepted(*job, s, dir / "out.pdf");
    ASSERT_EQ(messages.count("DOTGAIN NOT FOUND"), 1) << file;
    const TavGen::Message& m = messages.messages().front();
    EXPECT_EQ(m.severity, TavGen::kBatchError);
    EXPECT_NE(m.text.find((dir / file).string()), std::string::npos) << m.text;
    EXPECT_NE(m.text.find(reason), std::string::npos) << m.text;
    // The colours still name their transfer states; each one leaves the
    // device's transfer in force.
    Pdf pdf(w.file);
    const QPDFObjectHandle states = pdf.page(0).getKey("/Resources").getKey("/ExtGState");
    for (const char* name : {"/TR_0/TR2", "/TR_2/TR2", "/TR_CMYK/TR2/3"}) {
      EXPECT_EQ(at(states, name), "/Default") << file << name;
    }
  }
}

}  // namespace
}  // namespace doctest

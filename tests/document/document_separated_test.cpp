// Separated output: one page per separation, the optional composite and CMYK
// pages, page labels, separation information, and the job and settings left
// as they were.
#include <gtest/gtest.h>

#include "document_support.h"
#include "platform/system.h"
#include "platform/tav_error.h"
#include "support/consumers.h"

namespace doctest {
namespace {

// Cyan and magenta art, two spot inks, and a spot ink that the job keeps out
// of the output ("output": false) when the separation disabler is used.
const char* kSeparatedJob = R"(
  "boxes": {"media": [0, 0, 100, 200]},
  "inks": [{"name": "Cyan", "process": "cyan"}, {"name": "Magenta", "process": "magenta"},
           {"name": "Spot A", "cmyk": [0, 50, 100, 0]},
           {"name": "Spot B", "cmyk": [100, 0, 0, 20]},
           {"name": "Die", "cmyk": [0, 100, 0, 0], "output": false}],
  "colours": [{"id": 1, "inks": {"Cyan": 100, "Magenta": 50}},
              {"id": 2, "inks": {"Spot A": 100}}, {"id": 3, "inks": {"Spot B": 100}},
              {"id": 4, "inks": {"Die": 100}}],
  "paints": [{"id": 10, "type": "flat", "colour": 1}, {"id": 11, "type": "flat", "colour": 2},
             {"id": 12, "type": "flat", "colour": 3}, {"id": 13, "type": "flat", "colour": 4}],
  "objects": [
    {"kind": "path", "paint": 10, "points": [[0, 0], [0, 50], [100, 50], [100, 0]]},
    {"kind": "path", "paint": 11, "points": [[0, 50], [0, 100], [100, 100], [100, 50]]},
    {"kind": "path", "paint": 12, "points": [[0, 100], [0, 150], [100, 150], [100, 100]]},
    {"kind": "path", "paint": 13, "points": [[0, 150], [0, 200], [100, 200], [100, 150]]}]
)";

// The page labels in page order, "S /D" for a style, "P <text>" for a
// prefix; each must stand at the index of its page.
std::vector<std::string> pageLabels(Pdf& pdf) {
  std::vector<std::string> labels;
  QPDFObjectHandle nums = pdf.root().getKey("/PageLabels").getKey("/Nums");
  for (int i = 0; i + 1 < nums.getArrayNItems(); i += 2) {
    EXPECT_EQ(at(nums, "/" + std::to_string(i)), std::to_string(i / 2));
    const std::string item = "/" + std::to_string(i + 1);
    labels.push_back(at(nums, item + "/S") != "null" ? "S " + at(nums, item + "/S") : "P " + at(nums, item + "/P"));
  }
  return labels;
}

PDFSettings separatedSettings(const std::string& overrides = "") {
  return testSettings("SeparatedOutput=1 CompositeOnPageOne=1 CMYKOnOnePage=1 UseSeparationDisabler=1 "
                      "AddCMYKSeparations=0 " + overrides);
}

TEST(DocumentSeparated, PagesAndLabelsForEveryCombination) {
  tavtest::TestFolder dir;
  struct Case {
    bool composite, cmykPage, disabler, addCmyk;
    std::vector<std::string> labels;
  };
  const Case cases[] = {
      {false, false, true, false, {"P Cyan", "P Magenta", "P Spot A", "P Spot B"}},
      // "Die" is kept out by the disabler only.
      {false, false, false, false, {"P Cyan", "P Magenta", "P Spot A", "P Spot B", "P Die"}},
      {true, false, true, false, {"S /D", "P Cyan", "P Magenta", "P Spot A", "P Spot B"}},
      {false, true, true, false, {"P CMYK", "P Spot A", "P Spot B"}},
      {true, true, true, false, {"S /D", "P CMYK", "P Spot A", "P Spot B"}},
      // The job has no yellow or black ink: adding the process inks adds no page.
      {false, false, true, true, {"P Cyan", "P Magenta", "P Spot A", "P Spot B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.composite << c.cmykPage << c.disabler << c.addCmyk);
    auto job = makeJob(kSeparatedJob);
    job->separations[1].cmykFlag = true;
    // A separation the caller disabled gets its page and is enabled again
    // afterwards (a composite page would print only the enabled inks).
    if (!c.composite) sepDisable(job.get(), 3);
    PDFSettings settings = separatedSettings();
    settings.CompositeOnPageOne = c.composite;
    settings.CMYKOnOnePage = c.cmykPage;
    settings.UseSeparationDisabler = c.disabler;
    settings.AddCMYKSeparations = c.addCmyk;
    const auto w = writeAccepted(*job, settings, dir / "case.pdf");
    // The composite and CMYK pages are written with separated output off in
    // the writer's own copy of the settings; the inks' CMYK flags are kept.
    EXPECT_EQ(settings.SeparatedOutput, 1);
    EXPECT_TRUE(job->separations[1].cmykFlag);
    for (int sep = 0; sep < 5; ++sep) EXPECT_EQ(sepIsEnabled(job.get(), sep), sep != 4 || !c.disabler) << sep;

    // Count always equals the pages written, whatever the options add or leave out.
    Pdf pdf(w.file);
    EXPECT_EQ(at(pdf.root(), "/Pages/Count"), std::to_string(c.labels.size()));
    ASSERT_EQ(pdf.pages().size(), c.labels.size());
    EXPECT_EQ(pageLabels(pdf), c.labels);
    // The separation pages name their ink and the page list; the composite
    // and CMYK pages carry no separation information.
    for (std::size_t i = 0; i < c.labels.size(); ++i) {
      QPDFObjectHandle info = pdf.page(i).getKey("/SeparationInfo");
      const bool separation = c.labels[i] != "S /D" && c.labels[i] != "P CMYK";
      EXPECT_EQ(at(info, "/DeviceColorant"), separation ? "/" + c.labels[i].substr(2) : "null") << i;
      EXPECT_EQ(at(info, "/Pages"), separation ? at(pdf.root(), "/Pages/Kids") : "null") << i;
    }
  }
}

TEST(DocumentSeparated, CancelledExportStopsAndRestoresTheJob) {
  tavtest::TestFolder dir;
  auto job = makeJob(kSeparatedJob);
  sepDisable(job.get(), 2);
  TavSys::Progress::setCancelHook([] { return true; });
  const auto w = writeDocument(*job, separatedSettings(), dir / "cancelled.pdf");
  TavSys::Progress::setCancelHook({});
  TavSys::Progress::resetCancel();
  EXPECT_EQ(w.documentResult, TavSys::kResultAbandoned);
  // Nothing claims to be a complete file.
  EXPECT_NE(w.finishResult, 0);
  EXPECT_EQ(w.bytes.find("trailer"), std::string::npos);
  for (int sep = 0; sep < 5; ++sep) EXPECT_EQ(sepIsEnabled(job.get(), sep), sep != 2) << sep;
}

TEST(DocumentSeparated, NoSeparationLeftIsRefusedNotWrittenEmpty) {
  // Every used ink is kept out by the separation disabler: no page at all,
  // not even a CMYK page without ink.
  tavtest::TestFolder dir;
  auto job = makeJob(kSeparatedJob);
  for (int sep = 0; sep < 4; ++sep) job->separations[static_cast<std::size_t>(sep)].output = false;
  try {
    writeDocument(*job, separatedSettings("CompositeOnPageOne=0"), dir / "empty.pdf");
    ADD_FAILURE() << "a separated document without pages was written";
  } catch (const TavSys::Error& e) {
    EXPECT_EQ(e.key(), "PDF/NO SEPARATIONS FOUND");
  }
  for (int sep = 0; sep < 5; ++sep) EXPECT_TRUE(sepIsEnabled(job.get(), sep)) << sep;
}

}  // namespace
}  // namespace doctest

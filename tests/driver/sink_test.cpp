// The JDF folder's per-object PDF files, handed to a sink through a
// temporary file.
#include <gtest/gtest.h>
#include <unistd.h>

#include "driver/writepdf.h"
#include "pdfwriter/pdfouthan.h"
#include "driver_support.h"
#include "platform/tav_error.h"
#include "support/capture.h"
#include "support/consumers.h"

namespace {

using tavtest::StringSink;

// Temporary files of the process left in the system's temporary folder.
std::size_t temporaryFolders() {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
    if (e.path().filename().string().rfind("tavpdf-" + std::to_string(::getpid()), 0) == 0) ++n;
  return n;
}

}  // namespace

TEST(SinkWriters, PictureAndMarksFilesReachTheSinkWhole) {
  tavtest::TestFolder dir;
  auto job = drivertest::loadJob(drivertest::plainJobText());
  PDFSettings settings = drivertest::flavour("Press");
  const std::size_t before = temporaryFolders();

  StringSink picture;
  ASSERT_EQ(TavPDF::OutputPicturePDFToSink(job.get(), settings, true, nullptr, picture, 0, TavPDF::kNoScreen), 0);
  tavtest::writeFile(dir / "picture.pdf", picture.text);
  tavtest::expectPdfAcceptedByAllConsumers(dir / "picture.pdf");

  // The marks road writes only the group it is given, on the group's box.
  auto marks = TavDB::objdup(jobGetSpahan(job.get())->member(0)->member(1));
  StringSink marksSink;
  ASSERT_EQ(TavPDF::OutputMarksPDFToSink(job.get(), settings, true, nullptr, marksSink, marks.get()), 0);
  tavtest::writeFile(dir / "marks.pdf", marksSink.text);
  tavtest::expectPdfAcceptedByAllConsumers(dir / "marks.pdf");
  const auto plates = tavtest::measurePlates(dir / "marks.pdf");
  EXPECT_GT(plates.coverage.at("Orange"), 0.9) << plates.summary();
  EXPECT_LT(plates.coverage.at("Cyan"), 0.01) << plates.summary();
  EXPECT_EQ(temporaryFolders(), before);
}

TEST(SinkWriters, AFailedExportHandsNothingOn) {
  auto job = drivertest::loadJob(drivertest::jobText(drivertest::kStandardInks, "[]", "[]", "[]"));
  PDFSettings settings = drivertest::flavour("Press", "ProcessCMYKFlags=1");
  // A CMYK name conflict refuses the export before anything is written.
  job->separations[4].name = "Cyan";
  job->separations[4].used = true;
  job->separations[0].name = "Process Cyan";
  job->separations[0].used = true;
  StringSink sink;
  TavGen::MessageCapture capture;
  EXPECT_EQ(TavPDF::OutputPicturePDFToSink(job.get(), settings, true, nullptr, sink, 0, TavPDF::kNoScreen), 1);
  EXPECT_TRUE(capture.has("PDF/CMYK SEPARATION CONFLICT"));
  EXPECT_TRUE(sink.text.empty());
  EXPECT_EQ(TavPDF::OutputMarksPDFToSink(job.get(), settings, true, nullptr, sink, nullptr), 1);
}

// The driver's side of a JDF export: what the JDF writer is handed, and what
// is put back afterwards.
#include <gtest/gtest.h>

#include "driver/writepdf.h"
#include "driver_support.h"
#include "support/consumers.h"

namespace {

struct Seen {
  int calls = 0;
  std::string jdfTarget;
  int orientation = -1;
  std::int32_t mirror = -1, certified = -1;
  double distortionH = -1;
  TavDB::tv_matrixtyp<double> matrix;
  TavDB::tv_point origin;
  bool cyanEnabled = true;
};

class Handler : public PDFFileNameHandler {
 public:
  TavSys::FileSpec GetJDFTarget(const TavSys::FileSpec& target) override {
    return TavSys::FileSpec(target.path().parent_path() / "ticket.jdf");
  }
};

}  // namespace

TEST(JDFRoad, WriterGetsNeutralSettingsAndTheLayoutMatrixThenAllIsPutBack) {
  tavtest::TestFolder dir;
  const std::string inks = R"([{"name":"Cyan","process":"cyan","output":false},{"name":"Black","process":"black"}])";
  auto job = drivertest::loadJob(drivertest::jobText(inks, R"([{"id":20,"inks":{"Black":100}}])",
                                                     R"([{"id":30,"type":"flat","colour":20}])",
                                                     "[" + drivertest::square(720, 720, 900, 30) + "]"));
  job->origin = {123, 45};
  Seen seen;
  TavPDF::SetJDFExporter([&](jobstr* j, PDFSettings& s, bool, PDFFileNameHandler*, const TavSys::FileSpec& jdfTarget,
                             bool, bool, const TavDB::tv_matrixtyp<double>& m, TavSys::FileSpec& current,
                             std::vector<TavSys::FileSpec>& produced) {
    ++seen.calls;
    seen.jdfTarget = jdfTarget.GetFullPathUTF8();
    seen.orientation = s.Orientation.GetSelection();
    seen.mirror = s.Mirror;
    seen.certified = s.CertifiedEnabled;
    seen.distortionH = s.HorizontalDistortion;
    seen.matrix = m;
    seen.origin = getOriginalOrigin(j);
    seen.cyanEnabled = sepIsEnabled(j, 0);
    current = jdfTarget;
    produced = {jdfTarget, TavSys::FileSpec(jdfTarget.path().parent_path() / "page.pdf")};
    return 0;
  });
  PDFSettings settings = drivertest::flavour("JDF");
  settings.GenerateJDF = 1;
  settings.Mirror = 1;
  settings.HorizontalDistortion = -2.0;
  settings.CertifiedEnabled = 1;
  settings.UseSeparationDisabler = 1;
  settings.NormalizedOutput = 0;
  MarksSettings marks;
  Handler handler;
  TavSys::FileSpec target(dir / "out.pdf");
  std::vector<TavSys::FileSpec> produced;
  const int result = OutputPDFDocument(job.get(), settings, marks, true, false, &handler, target, {}, &produced);
  TavPDF::SetJDFExporter({});

  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.jdfTarget, (dir / "ticket.jdf").string());
  EXPECT_EQ(seen.orientation, 1);
  EXPECT_EQ(seen.mirror, 0);
  EXPECT_EQ(seen.distortionH, 0.0);
  EXPECT_EQ(seen.certified, 0);
  // Portrait, mirrored, -2 % horizontally.
  EXPECT_DOUBLE_EQ(seen.matrix.a, -0.98);
  EXPECT_DOUBLE_EQ(seen.matrix.d, 1.0);
  // The origin is the media box's bottom left corner while the writer runs.
  EXPECT_EQ(seen.origin, (TavDB::tv_point{7200, 0}));
  EXPECT_FALSE(seen.cyanEnabled);

  EXPECT_EQ(target.path(), dir / "ticket.jdf");
  EXPECT_EQ(produced.size(), 2u);
  EXPECT_EQ(settings.Mirror, 1);
  EXPECT_EQ(settings.HorizontalDistortion, -2.0);
  EXPECT_EQ(settings.CertifiedEnabled, 1);
  EXPECT_EQ(getOriginalOrigin(job.get()), (TavDB::tv_point{123, 45}));
  EXPECT_TRUE(sepIsEnabled(job.get(), 0));
  ASSERT_FALSE(job->editHistory.entries().empty());
  EXPECT_EQ(job->editHistory.entries().back().code, 44);
  EXPECT_EQ(job->editHistory.entries().back().text, "Exported to the JDF file " + (dir / "ticket.jdf").string());
}

TEST(JDFRoad, WithoutAJDFWriterTheExportIsRefusedAndNothingChanges) {
  tavtest::TestFolder dir;
  auto job = drivertest::loadJob(drivertest::plainJobText());
  PDFSettings settings = drivertest::flavour("JDF");
  settings.GenerateJDF = 1;
  const auto run = drivertest::exportJob(job.get(), settings, dir / "out.pdf");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.message("PDF/JDF NOT AVAILABLE").severity, TavGen::kError);
  EXPECT_TRUE(job->editHistory.entries().empty());
  EXPECT_TRUE(drivertest::folderListing(dir.path()).empty());
}

// The driver's side of a JDF export: what the JDF writer is handed, and what
// is put back afterwards.
#include <gtest/gtest.h>

#include "driver/writepdf.h"
#include "driver_support.h"
#include "support/consumers.h"

namespace {

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
  auto job = drivertest::loadJob(drivertest::colouredSquares(inks, {R"({"Black":100})"}));
  job->origin = {123, 45};
  // What the writer saw: the settings, the matrix, the origin, whether Cyan
  // was enabled.
  int calls = 0;
  PDFSettings seen;
  TavDB::tv_matrixtyp<double> matrix;
  TavDB::tv_point origin;
  bool cyanEnabled = true;
  std::string jdfTarget;
  TavPDF::SetJDFExporter([&](jobstr* j, PDFSettings& s, bool, PDFFileNameHandler*, const TavSys::FileSpec& jdf, bool,
                             bool, const TavDB::tv_matrixtyp<double>& m, TavSys::FileSpec& current,
                             std::vector<TavSys::FileSpec>& produced) {
    ++calls;
    jdfTarget = jdf.GetFullPathUTF8();
    seen = s;
    matrix = m;
    origin = getOriginalOrigin(j);
    cyanEnabled = sepIsEnabled(j, 0);
    current = jdf;
    produced = {jdf, TavSys::FileSpec(jdf.path().parent_path() / "page.pdf")};
    return 0;
  });
  PDFSettings settings = drivertest::flavour(
      "JDF", "GenerateJDF=1 Mirror=1 HorizontalDistortion=-2 CertifiedEnabled=1 UseSeparationDisabler=1 NormalizedOutput=0");
  MarksSettings marks;
  Handler handler;
  TavSys::FileSpec target(dir / "out.pdf");
  std::vector<TavSys::FileSpec> produced;
  const int result = OutputPDFDocument(job.get(), settings, marks, true, false, &handler, target, {}, &produced);
  TavPDF::SetJDFExporter({});

  EXPECT_EQ(result, 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(jdfTarget, (dir / "ticket.jdf").string());
  EXPECT_EQ(seen.Orientation.GetSelection(), 1);
  EXPECT_EQ(seen.Mirror, 0);
  EXPECT_EQ(seen.HorizontalDistortion, 0.0);
  EXPECT_EQ(seen.CertifiedEnabled, 0);
  // Portrait, mirrored, -2 % horizontally.
  EXPECT_DOUBLE_EQ(matrix.a, -0.98);
  EXPECT_DOUBLE_EQ(matrix.d, 1.0);
  // The origin is the media box's bottom left corner while the writer runs.
  EXPECT_EQ(origin, (TavDB::tv_point{7200, 0}));
  EXPECT_FALSE(cyanEnabled);

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

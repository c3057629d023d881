// The driver's side of a JDF export: preparing the job and the settings for
// the JDF writer and putting them back.
#include "driver/visitors.h"
#include "driver/writepdf.h"
#include "pdfwriter/layout.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/tav_error.h"

namespace TavPDF {

namespace {
JDFExporter& exporter() {
  static JDFExporter instance;
  return instance;
}
}  // namespace

void SetJDFExporter(JDFExporter e) { exporter() = std::move(e); }
bool HasJDFExporter() { return static_cast<bool>(exporter()); }

int OutputJDFDocument(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                      PDFFileNameHandler* handler, TavSys::FileSpec* target,
                      std::vector<TavSys::FileSpec>* producedFiles) {
  if (!job || !target) return TavSys::kResultAbandoned;
  if (!HasJDFExporter()) {
    TavGen::message(TavGen::kError, 1, "PDF/JDF NOT AVAILABLE");
    return TavSys::kResultAbandoned;
  }
  const TavSys::FileSpec jdfTarget = handler ? handler->GetJDFTarget(*target) : *target;
  DisableUnoutputSeparations(job, settings.UseSeparationDisabler != 0, refreshSeparationMap);
  job->editHistory.AddEntry(44, TavSys::ReplaceAllSubstrings(
                                    TavCore::GetLocalizedUTF8String("EDITLOG/EXPORT TO JDF FILE"), "%s",
                                    jdfTarget.GetFullPathUTF8()));

  const TavDB::tv_point origin = getOriginalOrigin(job);
  TavSys::tv_rectangle media;
  if (getbox(job, kMediaBox, media))
    setOriginalOrigin(job, {static_cast<std::int32_t>(media.bottom), static_cast<std::int32_t>(media.left)});

  // The layout goes into the matrix; the JDF writer sees neutral settings.
  TavDB::tv_matrixtyp<double> matrix;
  BuildDistortionMatrix(matrix, job, settings);
  const int orientation = settings.Orientation.GetSelection();
  const std::int32_t mirror = settings.Mirror;
  const double distortionH = settings.HorizontalDistortion;
  const double distortionV = settings.VerticalDistortion;
  settings.Orientation.SetSelection(1);
  settings.Mirror = 0;
  settings.HorizontalDistortion = 0.0;
  settings.VerticalDistortion = 0.0;

  TavSys::FileSpec current;
  std::vector<TavSys::FileSpec> produced;
  int result = TavSys::kResultAbandoned;
  try {
    result = exporter()(job, settings, refreshSeparationMap, handler, jdfTarget, settings.JDFCopyPDF != 0,
                        settings.JDFCollectMarks != 0, matrix, current, produced);
  } catch (const TavSys::Error& e) {
    if (!e.key().empty()) TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
    result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
  }
  *target = current;
  if (producedFiles) *producedFiles = produced;

  settings.Orientation.SetSelection(orientation);
  sepEnableAll(job);
  setOriginalOrigin(job, origin);
  settings.Mirror = mirror;
  settings.HorizontalDistortion = distortionH;
  settings.VerticalDistortion = distortionV;
  return result;
}

}  // namespace TavPDF

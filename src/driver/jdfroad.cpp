// The driver's side of a JDF export: preparing the job and the settings for
// the JDF writer and putting them back.
#include <algorithm>
#include <utility>

#include "driver/visitors.h"
#include "driver/writepdf.h"
#include "jdf/jdfexport.h"
#include "jdf/jdfoutput.h"
#include "pdfwriter/layout.h"
#include "platform/kernel/job.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/tav_error.h"

namespace TavPDF {

int OutputJDFDocument(jobstr* job, PDFSettings& settings, bool refreshSeparationMap,
                      PDFFileNameHandler* handler, TavSys::FileSpec* target,
                      std::vector<TavSys::FileSpec>* producedFiles) {
  if (!job || !target) return TavSys::kResultAbandoned;
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
  // A turned or mirrored sheet is moved back so that it starts at 0,0, as
  // every file of the folder does.
  if (getbox(job, kMediaBox, media)) {
    const double toPoints = 72.0 / TavDB::getppi(job);
    const double w = (media.right - media.left) * toPoints, h = (media.bottom - media.top) * toPoints;
    double minX = 0, minY = 0;
    for (const auto& [x, y] : {std::pair{w, 0.0}, std::pair{0.0, h}, std::pair{w, h}}) {
      minX = std::min(minX, matrix.a * x + matrix.c * y);
      minY = std::min(minY, matrix.b * x + matrix.d * y);
    }
    matrix.e = -minX;
    matrix.f = -minY;
  }
  const int orientation = settings.Orientation.GetSelection();
  const std::int32_t mirror = settings.Mirror;
  const double distortionH = settings.HorizontalDistortion;
  const double distortionV = settings.VerticalDistortion;
  settings.Orientation.SetSelection(1);
  settings.Mirror = 0;
  settings.HorizontalDistortion = 0.0;
  settings.VerticalDistortion = 0.0;

  // The whole export: the ticket's files fill all but the last hundredth,
  // which the complete folder adds.
  TavSys::Progress progress(100, "JDF folder");
  progress.setPart(99);
  int result = TavSys::kResultAbandoned;
  {
    // The warnings about the folder's files are shown only when the ticket
    // is written: a refused ticket leaves the folder as it was.
    TavGen::HeldMessages fileMessages;
    JDFFolderOutput folder(jdfTarget, handler);
    try {
      result = exportJDF(job, settings, refreshSeparationMap, handler, folder, settings.JDFCopyPDF != 0,
                         settings.JDFCollectMarks != 0, matrix);
    } catch (const TavSys::Error& e) {
      if (!e.key().empty()) TavGen::message(TavGen::kBatchError, 1, e.key(), e.placeholders());
      result = e.code() != 0 ? e.code() : TavSys::kResultAbandoned;
    }
    // A target is handed back only when the export got as far as a file.
    if (folder.currentFileSpec().IsValid()) *target = folder.currentFileSpec();
    if (producedFiles) *producedFiles = folder.producedFiles();
    if (result == 0) {
      fileMessages.release();
      progress.set(100);
    }
  }

  settings.Orientation.SetSelection(orientation);
  sepEnableAll(job);
  setOriginalOrigin(job, origin);
  settings.Mirror = mirror;
  settings.HorizontalDistortion = distortionH;
  settings.VerticalDistortion = distortionV;
  return result;
}

}  // namespace TavPDF

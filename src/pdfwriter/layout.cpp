#include "pdfwriter/layout.h"

#include "platform/kernel/job.h"
#include "platform/kernel/pageoutput.h"
#include "tavpdf/PDFSettings.h"

namespace TavPDF {

void BuildDistortionMatrix(TavDB::tv_matrixtyp<double>& out, const jobstr* /*job*/,
                           const PDFSettings& settings) {
  const double sx = (settings.GetInternalDistortionH() + 100.0) / 100.0;
  const double sy = (settings.GetInternalDistortionV() + 100.0) / 100.0;
  const bool mirror = settings.Mirror != 0;
  TavDB::tv_matrixtyp<double> m;
  m.e = m.f = 0;
  switch (settings.Orientation.GetValue()) {
    case 0:  // turn right
      m.a = 0; m.b = mirror ? sx : -sx; m.c = sy; m.d = 0;
      break;
    case 2:  // turn left
      m.a = 0; m.b = mirror ? -sx : sx; m.c = -sy; m.d = 0;
      break;
    case 3:  // upside down
      m.a = mirror ? sx : -sx; m.b = 0; m.c = 0; m.d = -sy;
      break;
    default:  // portrait
      m.a = mirror ? -sx : sx; m.b = 0; m.c = 0; m.d = sy;
      break;
  }
  out = m;
}

TavSys::tv_rectangle GetLayoutTransformedBox(const jobstr* job, const TavSys::tv_rectangle& rect,
                                             const PDFSettings& settings) {
  const TavDB::tv_matrixtyp<double> layout =
      getLayoutMatrix(settings.Orientation.GetValue(), settings.Mirror != 0,
                      settings.GetInternalDistortionV(), settings.GetInternalDistortionH(), 0, 0);
  return TavCore::TransformRectangle(rect, getOriginalOrigin(job), layout.a, layout.b, layout.c,
                                     layout.d);
}

TavSys::tv_rectangle GetMatrixTransformedBox(const jobstr* job, const TavSys::tv_rectangle& rect,
                                             const TavDB::tv_matrixtyp<double>& matrix) {
  return TavCore::TransformRectangle(rect, getOriginalOrigin(job), matrix.d, matrix.c, matrix.b,
                                     matrix.a);
}

}  // namespace TavPDF

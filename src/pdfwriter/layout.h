#pragma once
// The output layout of a page: orientation, mirror and distortion, as the
// matrix written at the start of every page's content (BuildDistortionMatrix)
// and as the same transformation applied to the job's boxes
// (GetLayoutTransformedBox), so that the page boxes enclose the content.
#include "platform/kernel/geometry.h"

struct jobstr;
class PDFSettings;

namespace TavPDF {

// The output matrix of the settings' orientation, mirror and distortion (no
// distortion in normalized output); e and f are 0. The job is not read.
//   o = 0 turn right:  a 0, b -sx (sx mirrored), c sy, d 0
//   o = 2 turn left:   a 0, b sx (-sx mirrored), c -sy, d 0
//   o = 3 upside down: a -sx (sx mirrored), b 0, c 0, d -sy
//   portrait, others:  a sx (-sx mirrored), b 0, c 0, d sy
// with sx = (horizontal distortion + 100) / 100, sy likewise vertical.
void BuildDistortionMatrix(TavDB::tv_matrixtyp<double>& out, const jobstr* job,
                           const PDFSettings& settings);

// A job rectangle (top, left, bottom, right) through the settings' layout
// about the job's origin: the bounding rectangle of the transformed corners,
// in job units.
TavSys::tv_rectangle GetLayoutTransformedBox(const jobstr* job, const TavSys::tv_rectangle& rect,
                                             const PDFSettings& settings);
// The same with a given matrix acting on job coordinates (h, v); its a and d
// and its b and c values are exchanged to act on the vertical-first points.
TavSys::tv_rectangle GetMatrixTransformedBox(const jobstr* job, const TavSys::tv_rectangle& rect,
                                             const TavDB::tv_matrixtyp<double>& matrix);

}  // namespace TavPDF

#include "platform/kernel/pageoutput.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/kernel/job.h"

int filsavall = 1;

void DisableUnoutputSeparations(jobstr* job, bool useSeparationDisabler,
                                bool /*refreshSeparationMap*/) {
  if (job == nullptr || !useSeparationDisabler) return;
  for (int position = 0; position < kMaxSeparations; ++position) {
    const int sep = sepsoruse(job, position, false);
    if (sep >= 0 && !seppdftyp::NeedsOutputting(job, sep)) sepDisable(job, sep);
  }
  DisableSeparationParameters(job);
}

void DisableSeparationParameters(jobstr* job) {
  if (job == nullptr) return;
  for (Separation& ink : job->separations) {
    const int to = ink.mappedTo;
    ink.parametersOf = ink.exists && to >= 0 && to < kMaxSeparations && job->separations[std::size_t(to)].exists
                           ? to
                           : -1;
  }
}

TavDB::tv_matrixtyp<double> getLayoutMatrix(int orientation, bool mirror, double distortionV,
                                            double distortionH, int /*reserved1*/,
                                            int /*reserved2*/) {
  const double sx = (distortionH + 100.0) / 100.0;  // along the output's width
  const double sy = (distortionV + 100.0) / 100.0;
  TavDB::tv_matrixtyp<double> m;
  m.e = m.f = 0;
  // Written for job axes (v down, h right), vertical first: a turn to the
  // right takes the job's top edge to the output's right edge.
  switch (orientation) {
    case 0:  // turn right
      m.a = 0; m.b = -sy; m.c = mirror ? -sx : sx; m.d = 0;
      break;
    case 2:  // turn left
      m.a = 0; m.b = sy; m.c = mirror ? sx : -sx; m.d = 0;
      break;
    case 3:  // upside down
      m.a = -sy; m.b = 0; m.c = 0; m.d = mirror ? sx : -sx;
      break;
    default:  // portrait
      m.a = sy; m.b = 0; m.c = 0; m.d = mirror ? -sx : sx;
      break;
  }
  return m;
}

namespace TavCore {

TavSys::tv_rectangle TransformRectangle(const TavSys::tv_rectangle& rect, TavDB::tv_point about,
                                        double a, double b, double c, double d) {
  const std::array<std::array<double, 2>, 4> corners{{{rect.top, rect.left},
                                                      {rect.top, rect.right},
                                                      {rect.bottom, rect.left},
                                                      {rect.bottom, rect.right}}};
  TavSys::tv_rectangle out;
  bool first = true;
  for (const auto& corner : corners) {
    const double v = corner[0] - about.v;
    const double h = corner[1] - about.h;
    const double v2 = a * v + c * h + about.v;
    const double h2 = b * v + d * h + about.h;
    if (first) {
      out = {v2, h2, v2, h2};
      first = false;
    } else {
      out.top = std::min(out.top, v2);
      out.bottom = std::max(out.bottom, v2);
      out.left = std::min(out.left, h2);
      out.right = std::max(out.right, h2);
    }
  }
  return out;
}

std::string CreatePDFStringFromDateTime(const TavSys::DateTime& when) {
  char text[64];
  std::snprintf(text, sizeof text, "D:%04d%02d%02d%02d%02d%02dZ", when.year(), when.month(),
                when.day(), when.hour(), when.minute(), when.second());
  return text;
}

}  // namespace TavCore

namespace TavricLib {
const std::string& GetTavricCreator() {
  static const std::string creator = "tavpdf 0.1";
  return creator;
}
}  // namespace TavricLib

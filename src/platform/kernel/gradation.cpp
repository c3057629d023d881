#include "platform/kernel/gradation.h"

#include <cmath>
#include <limits>

#include "platform/kernel/job.h"
#include "platform/system.h"

const Paint* paidegpoi(const jobstr* job, int paint) {
  const Paint* p = paipoi(job, paint);
  return p != nullptr && p->type == kPaintGradation ? p : nullptr;
}

bool degishorizontal(const Paint* d) { return d != nullptr && d->gradationForm == Paint::kGradHorizontal; }
bool degisvertical(const Paint* d) { return d != nullptr && d->gradationForm == Paint::kGradVertical; }
bool degiscircular(const Paint* d) { return d != nullptr && d->gradationForm == Paint::kGradCircular; }

double degextent(const Paint* d) {
  if (d == nullptr) return 0;
  if (degiscircular(d)) return double(d->gradationBox.width()) / 2.0;
  return d->gradationLength;
}

bool multistepIsConvertibleToShading(const jobstr* job, int paint, const TavDB::Object* /*object*/) {
  const Paint* d = paidegpoi(job, paint);
  if (d == nullptr || d->steps.empty()) return false;
  for (const GradationStep& step : d->steps) {
    if (colsep(job, step.colour) == nullptr) return false;
  }
  const double* m = d->matrix;
  const double det = m[0] * m[3] - m[1] * m[2];
  if (!std::isfinite(det) || det == 0) return false;
  const bool shaped = degishorizontal(d) || degisvertical(d) || degiscircular(d);
  return !shaped || degextent(d) > 0;
}

std::int32_t ftisql(double units) { return TavSys::iround(units); }

bool patternCornerWords(const jobstr* job, int pattern, std::int32_t words[6]) {
  const PatternRec* p = patpoi(job, pattern);
  if (p == nullptr || p->kind != PatternRec::kTiling || p->cell.isEmpty()) return false;
  const TavDB::tv_point o = p->corners[0];
  const TavDB::tv_point width = p->corners[1];
  const TavDB::tv_point height = p->corners[2];
  auto step = [](double from, double to, double units) {
    return std::round(from + (to - from) * 10000.0 / units);
  };
  const double w[6] = {double(o.v),
                       double(o.h),
                       step(o.v, width.v, double(p->cell.width())),
                       step(o.h, width.h, double(p->cell.width())),
                       step(o.v, height.v, double(p->cell.height())),
                       step(o.h, height.h, double(p->cell.height()))};
  for (double x : w) {
    if (!(x >= std::numeric_limits<std::int32_t>::min() && x <= std::numeric_limits<std::int32_t>::max()))
      return false;
  }
  for (int i = 0; i < 6; ++i) words[i] = static_cast<std::int32_t>(w[i]);
  return true;
}

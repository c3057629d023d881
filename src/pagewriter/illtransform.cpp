#include "pagewriter/illtransform.h"

#include "platform/kernel/tavdb.h"
#include "platform/kernel/job.h"

illtransform::illtransform(const jobstr* job) {
  const TavDB::tv_point origin = getOriginalOrigin(job);
  mOriginV = origin.v;
  mOriginH = origin.h;
}

illtransform::~illtransform() = default;

// Differences are taken in 64 bits: two job coordinates far apart on either
// side of the origin overflow 32 bits.
double illtransform::TransformX(std::int32_t h) const {
  const std::int64_t d = std::int64_t(h) - mOriginH;
  return double(d) * mScale * 72.0 / TavDB::getppi();
}

double illtransform::TransformY(std::int32_t v) const {
  const std::int64_t d = std::int64_t(mOriginV) - v;
  return double(d) * mScale * 72.0 / TavDB::getppi();
}

void illtransform::TransformPoint(std::int32_t v, std::int32_t h, double& x, double& y) const {
  x = TransformX(h);
  y = TransformY(v);
}

void illtransform::TransformRect(const std::int32_t in[4], double out[4]) const {
  out[0] = TransformY(in[0]);
  out[1] = TransformX(in[1]);
  out[2] = TransformY(in[2]);
  out[3] = TransformX(in[3]);
}

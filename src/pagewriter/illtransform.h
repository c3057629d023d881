#pragma once
// Conversion of job coordinates (integer job units at the database resolution,
// vertical axis pointing down) into points (1/72 inch, vertical axis pointing
// up), about the job's origin. The base of the output walker and of every
// writer that places boxes and forms.
#include <cstdint>

struct jobstr;

class illtransform {
 public:
  // Origin from the job's original origin, scale 1. The job is only read.
  explicit illtransform(const jobstr* job);
  virtual ~illtransform();
  illtransform(const illtransform&) = default;
  illtransform& operator=(const illtransform&) = default;

  // x = (h - origin h) × scale × 72 / ppi
  double TransformX(std::int32_t h) const;
  // y = (origin v - v) × scale × 72 / ppi
  double TransformY(std::int32_t v) const;
  // A job point, vertical coordinate first.
  void TransformPoint(std::int32_t v, std::int32_t h, double& x, double& y) const;
  // in: top, left, bottom, right; out in the same order (y, x, y, x).
  void TransformRect(const std::int32_t in[4], double out[4]) const;

  std::int32_t originH() const { return mOriginH; }
  std::int32_t originV() const { return mOriginV; }
  double scale() const { return mScale; }
  void setScale(double scale) { mScale = scale; }

 protected:
  std::int32_t mOriginH = 0;
  std::int32_t mOriginV = 0;
  double mScale = 1.0;
};

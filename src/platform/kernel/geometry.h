#pragma once
// Points, rectangles and affine matrices of the job model.
//
// Job coordinates are integer job units at the job's resolution (ppi), with
// the vertical axis pointing DOWN. Points and rectangles always give the
// vertical coordinate first: a point is (v, h), a rectangle is (top, left,
// bottom, right) and, in job units, top <= bottom for a non-empty rectangle.
#include <cstdint>

namespace TavDB {

// A job point, vertical coordinate first.
struct tv_point {
  std::int32_t v = 0;
  std::int32_t h = 0;
  bool operator==(const tv_point&) const = default;
};

// An integer rectangle in job units: top, left, bottom, right (top <= bottom
// and left <= right when it holds anything).
struct tv_box {
  std::int32_t top = 0;
  std::int32_t left = 0;
  std::int32_t bottom = 0;
  std::int32_t right = 0;
  bool operator==(const tv_box&) const = default;
  bool isEmpty() const { return top >= bottom || left >= right; }
  std::int64_t height() const { return std::int64_t(bottom) - top; }
  std::int64_t width() const { return std::int64_t(right) - left; }
  // Smallest box holding both; an empty box counts as nothing.
  tv_box united(const tv_box& other) const;
};

// The database's affine matrix of six numbers (a, b, c, d, e, f), acting on
// column vectors as PDF's cm does: x' = a·x + c·y + e, y' = b·x + d·y + f.
template <class T>
struct tv_matrixtyp {
  T a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

  static tv_matrixtyp identity() { return {}; }
  bool operator==(const tv_matrixtyp&) const = default;

  // Concatenation: m is applied first, then this matrix (the way the PDF
  // operator cm combines a new matrix with the current one).
  //   a' = a·m.a + c·m.b   c' = a·m.c + c·m.d   e' = a·m.e + c·m.f + e
  //   b' = b·m.a + d·m.b   d' = b·m.c + d·m.d   f' = b·m.e + d·m.f + f
  tv_matrixtyp& Concat(const tv_matrixtyp& m) {
    const tv_matrixtyp t = *this;
    a = t.a * m.a + t.c * m.b;
    b = t.b * m.a + t.d * m.b;
    c = t.a * m.c + t.c * m.d;
    d = t.b * m.c + t.d * m.d;
    e = t.a * m.e + t.c * m.f + t.e;
    f = t.b * m.e + t.d * m.f + t.f;
    return *this;
  }
  void Transform(T x, T y, T& outX, T& outY) const {
    outX = a * x + c * y + e;
    outY = b * x + d * y + f;
  }
  // Row scaling: ScaleX multiplies the first row (a, c, e), ScaleY the second (b, d, f).
  void ScaleX(T s) { a *= s; c *= s; e *= s; }
  void ScaleY(T s) { b *= s; d *= s; f *= s; }
};

// Inverse of m into out; false (out untouched) when m is singular or not finite.
bool matinv(const tv_matrixtyp<double>& m, tv_matrixtyp<double>& out);

}  // namespace TavDB

namespace TavSys {

// A rectangle of doubles, vertical coordinate first: top, left, bottom, right.
// The job's boxes are handed out in this form (in job units).
struct tv_rectangle {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;
  bool operator==(const tv_rectangle&) const = default;
};

}  // namespace TavSys

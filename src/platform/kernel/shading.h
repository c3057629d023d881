#pragma once
// The kernel's shading record: a smooth colour blend between two points (an
// axis, or the centres of two circles) whose colour runs through a list of
// colour stops. The PDF shading classes derive from it.
//
// Colour stops are 16-bit tint vectors by separation number (25600 = 100 %,
// 65280 undefined). Between stops k and k + 1 lies segment k; the bounds are
// the domain positions (0..1) where one segment ends and the next begins (one
// fewer than the segments), and each segment has an exponent of its own: the
// colour of segment k at u in 0..1 is t[k] + u^N × (t[k+1] - t[k]). A negative
// exponent marks a segment written backwards: it blends from t[k + 1] at its
// far end with |N|, which puts the 50 % colour near the other end.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class ColorSpace;

namespace TavricLib {

struct Coord {
  double x = 0;
  double y = 0;
  bool operator==(const Coord&) const = default;
};

class Shading {
 public:
  using Tints = std::array<std::uint16_t, 64>;

  // Stops, bounds and exponents as described above. The colour space is
  // copied (the caller keeps its own); every tint vector must hold 64 values.
  Shading(int shadingType, const Coord& start, const Coord& end, const ColorSpace* space,
          const std::vector<const unsigned short*>& tints, const std::vector<double>& bounds,
          const std::vector<double>& exponents);
  // Two stops, no bounds, exponent 1.0.
  Shading(int shadingType, const Coord& start, const Coord& end, const ColorSpace* space,
          const unsigned short* c0, const unsigned short* c1);
  virtual ~Shading();
  Shading(const Shading&) = delete;
  Shading& operator=(const Shading&) = delete;

  // Same type, points, colour space, stops, bounds and exponents.
  virtual bool isEqual(const Shading& other) const;
  // Equal shadings have equal hashes (the colour space is left out).
  virtual std::size_t hash() const;

  int GetShadingType() const { return mType; }
  const Coord& GetStart() const { return mStart; }
  const Coord& GetEnd() const { return mEnd; }
  // The shading's own copy; null when it was made without one.
  ColorSpace* GetColorSpace() const { return mSpace.get(); }
  const std::vector<Tints>& GetTints() const { return mTints; }
  const std::vector<double>& GetBounds() const { return mBounds; }
  const std::vector<double>& GetExponents() const { return mExponents; }

 private:
  int mType;
  Coord mStart, mEnd;
  std::unique_ptr<ColorSpace> mSpace;
  std::vector<Tints> mTints;
  std::vector<double> mBounds;
  std::vector<double> mExponents;
};

}  // namespace TavricLib

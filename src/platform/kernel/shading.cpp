#include "platform/kernel/shading.h"

#include <algorithm>

#include "platform/kernel/colorspace.h"

namespace TavricLib {

namespace {

Shading::Tints copyTints(const unsigned short* tints) {
  Shading::Tints out{};
  if (tints != nullptr) std::copy_n(tints, out.size(), out.begin());
  return out;
}

}  // namespace

Shading::Shading(int shadingType, const Coord& start, const Coord& end, const ColorSpace* space,
                 const std::vector<const unsigned short*>& tints, const std::vector<double>& bounds,
                 const std::vector<double>& exponents)
    : mType(shadingType),
      mStart(start),
      mEnd(end),
      mSpace(space != nullptr ? space->Clone() : nullptr),
      mBounds(bounds),
      mExponents(exponents) {
  mTints.reserve(tints.size());
  for (const unsigned short* t : tints) mTints.push_back(copyTints(t));
}

Shading::Shading(int shadingType, const Coord& start, const Coord& end, const ColorSpace* space,
                 const unsigned short* c0, const unsigned short* c1)
    : Shading(shadingType, start, end, space, {c0, c1}, {}, {1.0}) {}

Shading::~Shading() = default;

bool Shading::isEqual(const Shading& other) const {
  if (mType != other.mType || !(mStart == other.mStart) || !(mEnd == other.mEnd) ||
      mTints != other.mTints || mBounds != other.mBounds || mExponents != other.mExponents) {
    return false;
  }
  if (!mSpace || !other.mSpace) return !mSpace && !other.mSpace;
  return *mSpace == *other.mSpace;
}

}  // namespace TavricLib

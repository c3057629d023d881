#include "platform/kernel/shading.h"

#include <algorithm>
#include <functional>

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

std::size_t Shading::hash() const {
  std::size_t h = std::hash<int>()(mType);
  auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
  for (double v : {mStart.x, mStart.y, mEnd.x, mEnd.y}) mix(std::hash<double>()(v));
  for (const Tints& t : mTints) {
    for (std::uint16_t v : t) mix(v);
  }
  for (double v : mBounds) mix(std::hash<double>()(v));
  for (double v : mExponents) mix(std::hash<double>()(v));
  return h;
}

bool Shading::isEqual(const Shading& other) const {
  if (mType != other.mType || !(mStart == other.mStart) || !(mEnd == other.mEnd) ||
      mTints != other.mTints || mBounds != other.mBounds || mExponents != other.mExponents) {
    return false;
  }
  if (!mSpace || !other.mSpace) return !mSpace && !other.mSpace;
  return *mSpace == *other.mSpace;
}

}  // namespace TavricLib

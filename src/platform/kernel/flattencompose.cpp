#include "platform/kernel/flattencompose.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "platform/kernel/job.h"

namespace TavFlatten {

namespace {

// One past the highest ink of a set: the loops over inks stop there.
int endOf(const InkSet& inks) { return kSlots - std::countl_zero(inks.to_ullong()); }

struct Rgb {
  float c[3];
};

float lum(const Rgb& x) { return 0.3f * x.c[0] + 0.59f * x.c[1] + 0.11f * x.c[2]; }

Rgb clipColour(Rgb x) {
  const float l = lum(x);
  const float n = std::min({x.c[0], x.c[1], x.c[2]});
  const float m = std::max({x.c[0], x.c[1], x.c[2]});
  if (n < 0 && l - n > 0) {
    for (float& v : x.c) v = l + (v - l) * l / (l - n);
  }
  if (m > 1 && m - l > 0) {
    for (float& v : x.c) v = l + (v - l) * (1 - l) / (m - l);
  }
  for (float& v : x.c) v = std::clamp(v, 0.0f, 1.0f);
  return x;
}

Rgb setLum(Rgb x, float l) {
  const float d = l - lum(x);
  for (float& v : x.c) v += d;
  return clipColour(x);
}

float sat(const Rgb& x) {
  return std::max({x.c[0], x.c[1], x.c[2]}) - std::min({x.c[0], x.c[1], x.c[2]});
}

Rgb setSat(Rgb x, float s) {
  int order[3] = {0, 1, 2};  // min, mid, max
  std::sort(order, order + 3, [&](int a, int b) { return x.c[a] < x.c[b]; });
  float& lo = x.c[order[0]];
  float& mid = x.c[order[1]];
  float& hi = x.c[order[2]];
  if (hi > lo) {
    mid = (mid - lo) * s / (hi - lo);
    hi = s;
  } else {
    mid = 0;
    hi = 0;
  }
  lo = 0;
  return x;
}

Rgb blendNonSeparable(int mode, const Rgb& b, const Rgb& s) {
  switch (mode) {
    case kHue: return setLum(setSat(s, sat(b)), lum(b));
    case kSaturation: return setLum(setSat(b, sat(s)), lum(b));
    case kColor: return setLum(s, lum(b));
    default: return setLum(b, lum(s));  // kLuminosity
  }
}

float softLightD(float x) {
  return x <= 0.25f ? ((16 * x - 12) * x + 4) * x : std::sqrt(x);
}

}  // namespace

ProcessSlots ProcessSlots::Of(const jobstr* job) {
  ProcessSlots p;
  for (int k = 0; k < 4; ++k) p.slot[std::size_t(k)] = sepgetcmyk(job, k);
  return p;
}

Composed Composed::Paper(const InkSet& jobInks) {
  Composed c;
  c.value.fill(1.0f);
  c.inks = jobInks;
  c.alpha = 1;
  return c;
}

float BlendSeparable(int mode, float cb, float cs) {
  switch (mode) {
    case kMultiply: return cb * cs;
    case kScreen: return cb + cs - cb * cs;
    case kOverlay: return BlendSeparable(kHardLight, cs, cb);
    case kDarken: return std::min(cb, cs);
    case kLighten: return std::max(cb, cs);
    case kColorDodge:
      if (cb <= 0) return 0;
      if (cs >= 1) return 1;
      return std::min(1.0f, cb / (1 - cs));
    case kColorBurn:
      if (cb >= 1) return 1;
      if (cs <= 0) return 0;
      return 1 - std::min(1.0f, (1 - cb) / cs);
    case kHardLight:
      if (cs <= 0.5f) return cb * (2 * cs);
      return BlendSeparable(kScreen, cb, 2 * cs - 1);
    case kSoftLight:
      if (cs <= 0.5f) return cb - (1 - 2 * cs) * cb * (1 - cb);
      return cb + (2 * cs - 1) * (softLightD(cb) - cb);
    case kDifference: return std::abs(cb - cs);
    case kExclusion: return cb + cs - 2 * cb * cs;
    default: return cs;  // Normal, and the non-separable modes on a single ink
  }
}

void Blend(int mode, const InkValues& backdrop, const InkValues& source, const InkSet& inks,
           const ProcessSlots& process, InkValues& out) {
  if (mode < kHue || mode > kLuminosity) {
    // Difference and Exclusion would put a spot ink down where neither the
    // backdrop nor the source has it; separating consumers compose spot inks
    // as Normal under them, and so does this.
    const bool spotsNormal = mode == kDifference || mode == kExclusion;
    for (int i = 0, end = endOf(inks); i < end; ++i) {
      if (!inks.test(std::size_t(i))) continue;
      const bool spot = std::find(process.slot.begin(), process.slot.end(), i) == process.slot.end();
      out[std::size_t(i)] = spot && spotsNormal ? source[std::size_t(i)]
                                                : BlendSeparable(mode, backdrop[std::size_t(i)], source[std::size_t(i)]);
    }
    return;
  }
  // Spot inks compose as Normal under the non-separable modes.
  for (int i = 0, end = endOf(inks); i < end; ++i)
    if (inks.test(std::size_t(i))) out[std::size_t(i)] = source[std::size_t(i)];
  // The process inks blend together, C, M and Y as R, G and B. An ink the
  // job lacks counts as none on both sides; one the source leaves untouched
  // takes the backdrop's value.
  Rgb b{}, s{};
  bool any = false;
  for (int k = 0; k < 3; ++k) {
    const int slot = process.slot[std::size_t(k)];
    if (slot < 0) {
      b.c[k] = s.c[k] = 1;
      continue;
    }
    b.c[k] = backdrop[std::size_t(slot)];
    s.c[k] = inks.test(std::size_t(slot)) ? source[std::size_t(slot)] : backdrop[std::size_t(slot)];
    any = any || inks.test(std::size_t(slot));
  }
  if (any) {
    const Rgb r = blendNonSeparable(mode, b, s);
    for (int k = 0; k < 3; ++k) {
      const int slot = process.slot[std::size_t(k)];
      if (slot >= 0 && inks.test(std::size_t(slot))) out[std::size_t(slot)] = r.c[k];
    }
  }
  const int black = process.slot[3];
  if (black >= 0 && inks.test(std::size_t(black)))
    out[std::size_t(black)] = mode == kLuminosity ? source[std::size_t(black)] : backdrop[std::size_t(black)];
}

void Composite(Composed& state, const Source& source, const ProcessSlots& process) {
  const float ab = state.alpha, as = std::clamp(source.alpha, 0.0f, 1.0f);
  const float ar = ab + as - ab * as;
  if (as <= 0 || ar <= 0) return;
  // Inks nothing painted yet count as no ink. An ink the source leaves
  // untouched is composed as if the source had the backdrop's value there:
  // Normal keeps it, other blend modes act on the backdrop with itself.
  const InkSet inks = source.inks | state.inks;
  const int end = endOf(inks);
  auto backdrop = [&](int i) { return state.inks.test(std::size_t(i)) ? state.value[std::size_t(i)] : 1.0f; };
  auto own = [&](int i) { return source.inks.test(std::size_t(i)) ? source.value[std::size_t(i)] : backdrop(i); };
  const int mode = source.blendMode;
  const bool nonSeparable = mode >= kHue && mode <= kLuminosity;
  InkValues blended;
  if (nonSeparable) {
    InkValues cb{}, cs{};
    for (int i = 0; i < end; ++i) {
      cb[std::size_t(i)] = backdrop(i);
      cs[std::size_t(i)] = own(i);
    }
    blended = cs;
    Blend(mode, cb, cs, inks, process, blended);
  }
  const bool spotsNormal = mode == kDifference || mode == kExclusion;
  for (int i = 0; i < end; ++i) {
    if (!inks.test(std::size_t(i))) continue;
    const float cb = backdrop(i), cs = own(i);
    float b = cs;
    if (nonSeparable) {
      b = blended[std::size_t(i)];
    } else if (mode != kNormal) {
      // Difference and Exclusion compose spot inks as Normal (see Blend).
      const bool spot = std::find(process.slot.begin(), process.slot.end(), i) == process.slot.end();
      b = spot && spotsNormal ? cs : BlendSeparable(mode, cb, cs);
    }
    const float share = (source.share != nullptr && source.inks.test(std::size_t(i)) ? source.share[i] : 1.0f) * as / ar;
    const float mixed = (1 - ab) * cs + ab * b;
    state.value[std::size_t(i)] = std::clamp((1 - share) * cb + share * mixed, 0.0f, 1.0f);
  }
  state.inks = inks;
  state.alpha = ar;
}

}  // namespace TavFlatten

#pragma once
// Composition of the transparency flattener: the colour a stack of painted
// objects gives at one place, worked out ink by ink in the job's own inks.
//
// Values are kept in the additive form of PDF's compositing formulas for
// subtractive colourants: 1 is no ink, 0 full ink (the complement of an
// ink's share). In that form opacity is the usual mix
//   result = (1 - a) * backdrop + a * B(backdrop, source)
// and the separable blend modes B apply to each ink on its own. The
// non-separable modes (Hue, Saturation, Color, Luminosity) need one colour:
// the process inks (their C, M, Y values taken as R, G, B) are blended
// together, black follows the backdrop (the source for Luminosity), and
// spot inks are composed as Normal, which is what PDF prescribes for
// colourants outside the process model.
//
// An ink a source leaves untouched (255 in the job, overprint) is composed
// as if the source had the backdrop's own value there: Normal leaves it as
// it is, the other blend modes apply the backdrop to itself, as overprint
// within transparency prints.
#include <array>
#include <bitset>
#include <cstdint>

struct jobstr;

namespace TavFlatten {

inline constexpr int kSlots = 64;

using InkValues = std::array<float, kSlots>;
using InkSet = std::bitset<kSlots>;

// Blend modes in the job's numbering.
enum BlendMode : int {
  kNormal = 0, kMultiply, kScreen, kOverlay, kSoftLight, kHardLight, kColorDodge, kColorBurn,
  kDarken, kLighten, kDifference, kExclusion, kHue, kSaturation, kColor, kLuminosity,
};

// The slots of the process inks of a job by kind (cyan, magenta, yellow,
// black), -1 where the job has no such ink.
struct ProcessSlots {
  std::array<int, 4> slot{-1, -1, -1, -1};
  static ProcessSlots Of(const jobstr* job);
};

// What one painting puts down where it covers: additive values of the inks
// it sets, its opacity and blend mode.
struct Source {
  InkValues value{};
  InkSet inks;        // the inks the painting sets; the others it leaves untouched
  float alpha = 1;    // 0..1
  int blendMode = kNormal;
  // A painting that covers some inks only in part (a placed job with
  // transparency of its own): each ink's share of the alpha, 0..1, in an
  // array of kSlots values the caller keeps; null when every ink is whole.
  const float* share = nullptr;
};

// A composed state: additive values, alpha, and the inks something painted.
struct Composed {
  InkValues value{};
  InkSet inks;
  float alpha = 0;
  // The opaque paper: no ink anywhere, alpha 1; every ink counts as painted
  // (with 0) so that results on paper name every ink.
  static Composed Paper(const InkSet& jobInks);
};

// One separable blend function (modes 0..11) on additive values 0..1.
float BlendSeparable(int mode, float backdrop, float source);

// B(backdrop, source) for the inks of `inks`, written to `out`; inks outside
// the set are left as they are in `out`.
void Blend(int mode, const InkValues& backdrop, const InkValues& source, const InkSet& inks,
           const ProcessSlots& process, InkValues& out);

// Composites a source over a state with PDF's general formula (shape 1):
// alpha becomes the union of both, each ink becomes
//   (1 - as/ar) cb + as/ar ((1 - ab) cs + ab B(cb, cs)).
void Composite(Composed& state, const Source& source, const ProcessSlots& process);

// Ink share (0..1) of an additive value, and the other way round.
inline float InkOf(float additive) { return 1.0f - additive; }
inline float AdditiveOf(float ink) { return 1.0f - ink; }

}  // namespace TavFlatten

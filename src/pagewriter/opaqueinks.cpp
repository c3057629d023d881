// Opaque inks and one-up checks. An opaque ink (a metallic, an opaque white)
// hides what was printed before it: where the job says knock out, the inks in
// the slots below it are reduced by its tint (in a map, by its tint at each
// pixel). The one-up checks compare the
// inks of a placed job with those of its parent.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include "pagewriter/pdfproof.h"
#include "platform/kernel/job.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace TavPDF {

namespace {

using Tints = std::array<std::uint16_t, kMaxSeparations>;

bool tintPainted(std::uint16_t t) { return t != 0 && t != kTintUndefined; }

using Prints = std::function<bool(int)>;

// The highest slot that prints whose ink is opaque and painted in the tints, or -1.
int findOpaqueSlot(const jobstr* job, const Tints& tints, const Prints& prints) {
  for (int slot = kMaxSeparations - 1; slot >= 1; --slot) {
    if (!prints(slot)) continue;
    if (separationIsOpaque(job, slot) && tintPainted(tints[slot])) return slot;
  }
  return -1;
}

// Reduces the painted inks below the colour's opaque ink by its tint; false
// when the colour has no painted opaque ink.
bool scaleBelowOpaque(const jobstr* job, Tints& tints, const Prints& prints) {
  const int opaque = findOpaqueSlot(job, tints, prints);
  if (opaque < 0) return false;
  const std::uint32_t t = std::min<std::uint32_t>(tints[opaque], kTintFull);
  bool changed = false;
  for (int slot = 0; slot < opaque; ++slot) {
    if (!prints(slot) || !tintPainted(tints[slot])) continue;
    const std::uint32_t u = tints[slot];
    tints[slot] = static_cast<std::uint16_t>(u * (kTintFull - t) / kTintFull);
    changed = true;
  }
  return changed;
}

// A new colour of the job with the tints, keeping the flags of `like`. The
// colour carries the exact tints: a reduced tint rarely falls on a whole
// percent, and rounding it would move the plate.
std::uint16_t addColourFromTints(jobstr* job, const Tints& tints, std::uint16_t like) {
  Colour colour;
  colour.exists = true;
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    const std::uint16_t t = tints[slot];
    colour.pct[slot] = t == kTintUndefined
                           ? kPercentUntouched
                           : static_cast<std::uint8_t>(std::min<std::uint32_t>(
                                 100, (std::uint32_t(t) * 100 + kTintFull / 2) / kTintFull));
  }
  colour.tints = tints;
  if (like < job->colours.size() && job->colours[like].exists) {
    colour.overprint = job->colours[like].overprint;
    colour.registration = job->colours[like].registration;
  }
  return job->addColour(colour);
}

// The colour scaled below its opaque ink, as a new colour; the colour itself
// when nothing changes.
std::uint16_t convertColour(jobstr* job, std::uint16_t colour, const Prints& prints) {
  Tints tints = colsep16(job, colour);
  if (!scaleBelowOpaque(job, tints, prints)) return colour;
  return addColourFromTints(job, tints, colour);
}

}  // namespace

std::uint16_t ConvertPaintForOpaqueInks(jobstr* job, std::uint16_t paintIndex, bool knockout,
                                        const std::function<bool(int)>& printing) {
  const Paint* found = paipoi(job, paintIndex);
  if (found == nullptr) return paintIndex;
  // Without knockout only a gradation of one colour changes: every other
  // paint (each text's, each path's) stays as it is, uncopied.
  if (!knockout && found->type != kPaintGradation) return paintIndex;
  const Prints prints = printing ? printing : Prints([job](int slot) { return sepsoruse(job, slot, false) >= 0; });
  Paint paint = *found;  // a copy: the job's tables may grow below
  std::uint16_t result = paintIndex;

  // A gradation of one colour is a flat colour.
  if (paint.type == kPaintGradation) {
    bool single = true;
    for (const GradationStep& step : paint.steps) single = single && step.colour == paint.steps.front().colour;
    if (single) {
      Paint flat = paint;
      flat.type = kPaintFlat;
      flat.colour = paint.steps.empty() ? paint.colour : paint.steps.front().colour;
      flat.steps.clear();
      result = job->addPaint(flat);
      paint = flat;
    }
  }
  if (!knockout) return result;

  switch (paint.type) {
    case kPaintFlat: {
      const std::uint16_t colour = convertColour(job, paint.colour, prints);
      if (colour == paint.colour) return result;
      Paint changed = paint;
      changed.colour = colour;
      return job->addPaint(changed);
    }
    case kPaintLinear:
    case kPaintRadial: {
      // Each end keeps its own colour, reduced by its own opaque ink: the
      // gradient stays a gradient whatever the two ends hold there.
      const std::uint16_t start = convertColour(job, paint.colour, prints);
      const std::uint16_t end = convertColour(job, paint.colour2, prints);
      if (start == paint.colour && end == paint.colour2) return result;
      Paint changed = paint;
      changed.colour = start;
      changed.colour2 = end;
      return job->addPaint(changed);
    }
    case kPaintGradation: {
      bool any = false;
      Paint changed = paint;
      for (GradationStep& step : changed.steps) {
        const std::uint16_t colour = convertColour(job, step.colour, prints);
        any = any || colour != step.colour;
        step.colour = colour;
      }
      if (!any) return result;
      return job->addPaint(changed);
    }
    case kPaintMap: {
      // The map's highest printing opaque ink takes its share off the lower
      // inks pixel by pixel as the map's images are made: a copy of the map
      // that says so, the picture kept.
      const PictureMap* map = mappoi(job, paint.map);
      if (map == nullptr) return result;
      auto paints = [&](int slot) {
        const TavricLib::MapInk ink = TavricLib::GetMapInk(job, paint.map, slot);
        return ink.painted && (ink.low > 0 || ink.high > 0);
      };
      int opaque = -1;
      for (int slot = kMaxSeparations - 1; slot >= 1 && opaque < 0; --slot) {
        if (prints(slot) && separationIsOpaque(job, slot) && paints(slot)) opaque = slot;
      }
      bool below = false;
      for (int slot = 0; slot < opaque && !below; ++slot) below = prints(slot) && paints(slot);
      if (!below) return result;
      PictureMap copy = *map;
      copy.opaqueKnockout = opaque;
      Paint changed = paint;
      changed.map = job->addMap(std::move(copy));
      return job->addPaint(changed);
    }
    default:
      // Pictures carry their own pixels; they are written as they are.
      return result;
  }
}

void CheckOneUpColorDefinitions(const jobstr* oneUp, const jobstr* parent,
                                const std::array<std::int32_t, 64>& sepMap) {
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    if (sepsoruse(oneUp, slot, false) < 0) continue;
    const int target = sepMap[slot];
    // An ink without a counterpart in the parent is not printed there.
    if (target < 0 || target >= kMaxSeparations || sepsoruse(parent, target, true) < 0) continue;
    std::uint16_t a[4], b[4];
    sepcmyk(oneUp, slot, a[0], a[1], a[2], a[3]);
    sepcmyk(parent, target, b[0], b[1], b[2], b[3]);
    if (std::equal(a, a + 4, b)) continue;
    TavGen::message(TavGen::kWarning, 1, "PDF/COLOR DEFINITION MISMATCH IN ONEUP",
                    {{"__SEPARATIONNAME__", GetSeparationName(oneUp, slot)}});
    return;
  }
}

void CheckOneUpSeparationTypes(const jobstr* oneUp, const jobstr* parent,
                               const std::array<std::int32_t, 64>& sepMap) {
  for (int slot = 0; slot < kMaxSeparations; ++slot) {
    if (sepsoruse(oneUp, slot, false) < 0) continue;
    const int target = sepMap[slot];
    if (target < 0 || target >= kMaxSeparations || sepsoruse(parent, target, true) < 0) continue;
    if (separationIsOpaque(oneUp, slot) == separationIsOpaque(parent, target) &&
        separationIsTechnical(oneUp, slot) == separationIsTechnical(parent, target) &&
        separationIsVarnish(oneUp, slot) == separationIsVarnish(parent, target)) {
      continue;
    }
    TavGen::message(TavGen::kWarning, 1, "PDF/SEPARATION TYPE MISMATCH IN ONEUP",
                    {{"__SEPARATIONNAME__", GetSeparationName(oneUp, slot)}});
    return;
  }
}

}  // namespace TavPDF

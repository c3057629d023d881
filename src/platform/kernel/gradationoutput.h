#pragma once
// The kernel's gradation renderer: draws the colours of a gradient paint
// (two-colour linear or radial gradient, multistep gradation) over a
// rectangle of the job, row by row, at a given step (job units per pixel).
// Each row is handed to the output channel after channel (planar): channel c
// gives the ink of the separation the mapping names for it, 0 (none) to 255
// (full ink); in CMYK mode (separation mode -1) the four channels are the
// colour's CMYK equivalent.
//
// Geometry, in job units (v down, h right), as the job file describes it:
//   - linear: the colour runs from `start` (first colour) to `end` (second);
//   - radial: `start` and `end` are two opposite points of the outer circle;
//     the first colour lies on it, the second at the centre midway between;
//   - gradation: each step's colour lies at its position along the axis from
//     `start`: rightwards for a horizontal gradation, downwards for a vertical
//     one, outwards from the centre (or from the focus, when one is given)
//     for a circular one, whose radius is half its box's width, and for the
//     form "other" on rectangles about `start` shaped like the box, the
//     position measured across along h (the box's edge at half its width,
//     its height in proportion). The paint's
//     matrix [a b c d] places the gradation as the shadings do
//     (platform/kernel/gradation.h): a gradation offset (v, h) lies at
//     start + (a v + b h, c v + d h). Between two steps the mix follows the
//     midpoint: 50 % of each colour at the midpoint.
// Before the first position the first colour is painted, after the last the
// last one.
#include <cstddef>
#include <cstdint>
#include <vector>

struct jobstr;
struct Paint;

// Receives the rendered bytes; returns false to stop the rendering.
class GradationSink {
 public:
  virtual ~GradationSink() = default;
  virtual bool Write(const std::uint8_t* bytes, std::size_t count) = 0;
};

class GradationOutput {
 public:
  // separationMode -1: CMYK channels; otherwise the mapping decides.
  GradationOutput(const jobstr* job, int separationMode);

  // The separation of each channel (copied); ignored in CMYK mode.
  void SetSeparationMapping(const std::int32_t* mapping, int channels);
  void SetOutput(GradationSink* sink) { mSink = sink; }
  // Renders the rectangle (top, left: the first pixel's corner) as `height`
  // rows of `width` pixels, each pixel `step` job units wide and high.
  // Returns false when the sink stopped it. Throws TavSys::Error for a
  // gradation form it cannot draw.
  bool MakeOutput(const Paint& paint, double top, double left, std::int32_t height,
                  std::int32_t width, double step);

 private:
  const jobstr* mJob;
  int mSeparationMode;
  std::vector<std::int32_t> mMapping;
  GradationSink* mSink = nullptr;
};

// The gradient paints nothing: every colour leaves every ink untouched.
bool degisalltra(const jobstr* job, const Paint& paint);

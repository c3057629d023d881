#pragma once
// Inside the separations renderer: filled outlines as runs of the device
// pixels they touch, and the composition of flat opaque fills from such runs.
//
// Without smoothing a pixel takes every object that touches it, so a fill
// is the set of pixels its interior meets, row by row: what the outline
// encloses at the pixel centres (even-odd), and every pixel an edge passes
// through. SpanRasteriser finds these runs in time proportional to the
// outline's edges and rows rather than to its bounding box, and the flat
// fills of a page are composed from the runs without a raster per object.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/kernel/previewraster.h"

namespace TavricLib::preview {

// Pixels [x0, x1) of row y.
struct Span {
  int y = 0, x0 = 0, x1 = 0;
};

class SpanRasteriser {
 public:
  // Starts an outline whose runs are cut to `clip` (device pixels).
  void Begin(const IntRect& clip);
  // The outline in device pixels; each contour is closed.
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
  // The runs of the pixels the outline's interior (even-odd) touches: rows
  // ascending, runs of a row ascending and apart. False when the outline
  // lies too far outside the device space to be scanned this way (a point
  // that is not finite, or more than 2^26 pixels out); the runs are then
  // empty and the caller draws the outline otherwise.
  // Rows in `skippedRows` ([first, end) pairs of device rows) get no runs:
  // the sweep passes over them.
  bool Sweep(std::vector<Span>& runs, const std::vector<std::pair<int, int>>* skippedRows = nullptr);
  // The pixels the runs of the outline entered so far may lie in (cut to
  // the clip; empty when none). Only meaningful while Sweep would accept it.
  IntRect Reach() const;
  // Runs of the pixels whose centres the interior covers, instead of those
  // it touches.
  void SetCentres(bool centres) { mCentres = centres; }
  // Whether a point is near enough to the device space to be swept.
  static bool InRange(double x, double y);

 private:
  struct Point {
    double x, y;
  };
  void SweepBand(int band0, int band1, bool clipped, bool filtered, std::vector<Span>& runs);

  IntRect mClip;
  std::vector<Point> mPoints;
  std::vector<std::size_t> mContours;  // index of each contour's first point
  double mCurrentX = 0, mCurrentY = 0;
  bool mRangeExceeded = false;
  bool mCentres = false;
  // The band being scanned: pixels relative to (mX0, mBandY0), mWidth wide,
  // mWords 64-bit words a row. mInside holds the crossings of the rows'
  // centre lines (prefix parity gives the inside), mEdges the pixels edges
  // pass through, mUsed the words of a row that hold bits of either.
  int mX0 = 0, mBandY0 = 0, mWidth = 0, mRows = 0;
  std::size_t mWords = 0, mUsedWords = 0;
  std::vector<std::uint64_t> mInside, mEdges, mUsed;
  std::vector<std::uint8_t> mLive;  // per row of the band, 0: skipped
};

// Paints constant inks over runs of the target at full opacity: each plane
// with a constant source takes its value, untouched planes are left as they
// are, and the coverage plane becomes full. The target must not be a layer.
void ComposeSpans(Target& target, const std::vector<Span>& runs, const std::vector<PlaneSource>& sources);

// Runs as a coverage raster over their bounding rectangle (255 inside);
// empty when there are none.
Raster SpansToRaster(const std::vector<Span>& runs);

// Where the runs of a fill added to a batch by its outline come from. They
// are asked for only when the batch composes the fill, and not at all when
// fills added after it hide every pixel it could touch (first as far as the
// reach it was added with tells, then as far as its outline does).
class FillOutlines {
 public:
  virtual ~FillOutlines() = default;
  // Makes fill `id` the one whose runs are asked for next, and gives the
  // pixels they may lie in (at most the reach it was added with).
  virtual IntRect Outline(std::size_t id) = 0;
  // The runs of that fill inside the batch's target, rows ascending and
  // runs of a row ascending and apart (as SpanRasteriser::Sweep gives them);
  // rows in `skippedRows` (pairs of first and end row) may be left out.
  virtual void Runs(std::vector<Span>& runs, const std::vector<std::pair<int, int>>& skippedRows) = 0;
};

// Flat opaque fills that paint every plane of a page, held until something
// else is drawn (Flush). Then each pixel takes the last fill over it, its
// inks written once: the fills are visited from the last to the first, a
// pixel a later fill has taken is left alone, a fill whose reach later fills
// cover wholly is not scanned at all, and the pixels taken are written into
// the planes band of rows by band of rows. Composing many overlapping fills
// this way touches each pixel of the planes once instead of once per fill.
// What is held (fills, runs and pixels taken but not yet written) stays
// within `memoryLimit` bytes (a Flush, or a write of the pixels taken, when
// it would pass it); at most 255 different ink sets are held.
class FlatFillBatch {
 public:
  FlatFillBatch(Target& target, std::size_t memoryLimit);
  ~FlatFillBatch();
  FlatFillBatch(const FlatFillBatch&) = delete;
  FlatFillBatch& operator=(const FlatFillBatch&) = delete;

  // Whether fills into `target` can be batched (a page's planes no wider
  // than 65,535 pixels).
  static bool Accepts(const Target& target);
  // A fill: its runs (inside the target) and a constant source per plane.
  void Add(const std::vector<Span>& runs, const std::vector<PlaneSource>& sources);
  // A fill whose runs lie inside `reach`, asked of `outlines` (which must
  // outlive the next Flush) by `id` when the fill is composed.
  void Add(const IntRect& reach, FillOutlines& outlines, std::size_t id, const std::vector<PlaneSource>& sources);
  // Composes what is held into the target.
  void Flush();
  bool Empty() const { return mItems.empty(); }

 private:
  struct Band;
  struct Block;
  struct Item {
    IntRect reach;                    // inside the target
    FillOutlines* outlines = nullptr; // null: runs held in mHeldRuns
    std::size_t first = 0, count = 0; // the runs held, or the id for `outlines`
    std::uint8_t palette = 0;
  };
  Block* NewBlock();
  std::uint8_t PaletteIndex(const std::vector<PlaneSource>& sources);
  void Hold(const Item& item);
  bool TileRowTaken(int tileRow, int w0, int w1) const;
  bool Hidden(const IntRect& reach) const;
  void Take(const Span& run, std::uint8_t palette);
  void Keep(int x0, int x1, int y, std::uint8_t palette);
  void WriteTaken();

  Target& mTarget;
  std::size_t mLimit;
  std::vector<Item> mItems;
  std::vector<Span> mHeldRuns;
  std::vector<Span> mScanned;  // the runs of the fill being composed
  std::vector<std::pair<int, int>> mSkipped;  // its rows wholly taken
  // The pixels taken while composing, a bit each over mDoneRect, 64-pixel
  // words a row; and per tile of a word and 16 rows, how many of its words
  // are wholly taken.
  IntRect mDoneRect;
  std::size_t mDoneWords = 0;
  std::vector<std::uint64_t> mDone;
  std::vector<std::uint8_t> mFullWords;
  // The pixels taken, waiting to be written, by band of 2^mBandShift rows.
  int mBandShift = 0;
  std::vector<Band> mBands;
  std::vector<std::unique_ptr<Block[]>> mSlabs;  // blocks are carved from these
  std::size_t mSlabUsed = 0;        // blocks carved from the last slab
  std::vector<Block*> mFree;
  std::size_t mTaken = 0;  // runs of pixels taken, not yet written
  std::unordered_map<std::string, std::uint8_t> mPaletteIndex;  // by the inks' bytes
  std::vector<std::string> mPalette;                            // index 0: nothing
};

}  // namespace TavricLib::preview

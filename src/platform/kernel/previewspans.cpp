#include "platform/kernel/previewspans.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

namespace TavricLib::preview {

namespace {

// Coordinates further out than this (device pixels) are not scanned here.
constexpr double kMaxCoordinate = 67108864.0;  // 2^26
// Outline points lie on a grid of 1/256 pixel, so that edges placed on pixel
// boundaries by the layout stay on them whatever the rounding of the scale.
constexpr double kGrid = 256.0;
// Curves are drawn as lines no further than this from the curve (pixels).
constexpr double kFlatness = 0.25;
constexpr int kMaxCurveLines = 4096;
// The bit rows of one band of a sweep hold at most this many words each.
constexpr std::size_t kBandWords = std::size_t(1) << 17;

// floor and ceil of values within ±2^27 without a library call.
inline int floorInt(double v) { return int(std::int64_t(v + 134217728.0) - 134217728); }
inline int ceilInt(double v) { return -floorInt(-v); }

inline double snap(double v) {
  return double(std::int64_t(v * kGrid + 0.5 + 34359738368.0) - 34359738368) / kGrid;
}

// Sets n bytes to v. Runs are mostly a few dozen bytes long: these are
// written with overlapping word stores rather than a call.
inline void fillBytes(std::uint8_t* p, std::uint8_t v, std::size_t n) {
  if (n >= 64) {
    std::memset(p, v, n);
    return;
  }
  const std::uint64_t pattern = 0x0101010101010101ULL * v;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(p + i, &pattern, 8);
    std::memcpy(p + n - 8, &pattern, 8);
    return;
  }
  if (n >= 4) {
    const std::uint32_t word = std::uint32_t(pattern);
    std::memcpy(p, &word, 4);
    std::memcpy(p + n - 4, &word, 4);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) p[i] = v;
}

inline bool inRange(double x, double y) { return std::fabs(x) <= kMaxCoordinate && std::fabs(y) <= kMaxCoordinate; }

}  // namespace

bool SpanRasteriser::InRange(double x, double y) { return inRange(x, y); }

void SpanRasteriser::Begin(const IntRect& clip) {
  mClip = clip;
  mPoints.clear();
  mContours.clear();
  mRangeExceeded = false;
  mCurrentX = mCurrentY = 0;
}

void SpanRasteriser::MoveTo(double x, double y) {
  if (!inRange(x, y)) mRangeExceeded = true;
  mContours.push_back(mPoints.size());
  mCurrentX = x, mCurrentY = y;
  if (!mRangeExceeded) mPoints.push_back({snap(x), snap(y)});
}

void SpanRasteriser::LineTo(double x, double y) {
  if (mContours.empty()) return MoveTo(x, y);
  if (!inRange(x, y)) mRangeExceeded = true;
  mCurrentX = x, mCurrentY = y;
  if (!mRangeExceeded) mPoints.push_back({snap(x), snap(y)});
}

void SpanRasteriser::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  if (mContours.empty()) MoveTo(mCurrentX, mCurrentY);
  if (!inRange(x1, y1) || !inRange(x2, y2) || !inRange(x3, y3)) mRangeExceeded = true;
  if (mRangeExceeded) return;
  const double x0 = mCurrentX, y0 = mCurrentY;
  // Lines enough that none strays more than kFlatness from the curve: the
  // error of n equal steps is at most 3/4 of the control polygon's largest
  // second difference over n squared.
  const double ddx = std::max(std::fabs(x0 - 2 * x1 + x2), std::fabs(x1 - 2 * x2 + x3));
  const double ddy = std::max(std::fabs(y0 - 2 * y1 + y2), std::fabs(y1 - 2 * y2 + y3));
  const double steps = std::ceil(std::sqrt(std::sqrt(ddx * ddx + ddy * ddy) * 0.75 / kFlatness));
  const int n = int(std::clamp(steps, 1.0, double(kMaxCurveLines)));
  // Forward differences of the cubic in steps of 1/n.
  const double h = 1.0 / n, h2 = h * h, h3 = h2 * h;
  const double ax = 3 * (x1 - x0), bx = 3 * (x2 - 2 * x1 + x0), cx = x3 - x0 + 3 * (x1 - x2);
  const double ay = 3 * (y1 - y0), by = 3 * (y2 - 2 * y1 + y0), cy = y3 - y0 + 3 * (y1 - y2);
  double d1x = ax * h + bx * h2 + cx * h3, d2x = 2 * bx * h2 + 6 * cx * h3, d3x = 6 * cx * h3;
  double d1y = ay * h + by * h2 + cy * h3, d2y = 2 * by * h2 + 6 * cy * h3, d3y = 6 * cy * h3;
  double px = x0, py = y0;
  for (int i = 1; i < n; ++i) {
    px += d1x, py += d1y;
    d1x += d2x, d1y += d2y;
    d2x += d3x, d2y += d3y;
    mPoints.push_back({snap(px), snap(py)});
  }
  mPoints.push_back({snap(x3), snap(y3)});
  mCurrentX = x3, mCurrentY = y3;
}

namespace {

// The bit rows of a band being scanned, held in locals while the outline's
// lines are entered (the rows are written through pointers of the same type
// as the sizes, which would otherwise be read again after every write).
struct BandBits {
  std::uint64_t* inside;  // crossings of the rows' centre lines
  std::uint64_t* edges;   // pixels the lines pass through
  std::uint64_t* used;    // words of a row holding bits of either
  std::size_t words, usedWords;
  int width, rows;
  const std::uint8_t* live;  // per row of the band, 0: its runs are not wanted
};

// The pixels [floor(min), ceil(max)) of a row that a line passes through.
// Most lines of a flattened outline cross a row within two words, which is
// written without branches; wider ones (or none) take the loop.
template <bool Clipped>
inline void edgeBits(const BandBits& band, std::size_t row, double xa, double xb) {
  int a = floorInt(xa < xb ? xa : xb), b = ceilInt(xa < xb ? xb : xa);
  if (Clipped) {
    a = a < 0 ? 0 : a;
    b = b > band.width ? band.width : b;
  }
  std::uint64_t* bits = band.edges + row * band.words;
  std::uint64_t* used = band.used + row * band.usedWords;
  if (__builtin_expect(b - a > 64 || b <= a, 0)) {
    for (int x = a; x < b;) {
      const int w = x >> 6, end = std::min(b, (w + 1) << 6);
      bits[w] |= (~0ULL << (x & 63)) & (~0ULL >> (63 - ((end - 1) & 63)));
      used[w >> 6] |= 1ULL << (w & 63);
      x = end;
    }
    return;
  }
  const int w0 = a >> 6, w1 = (b - 1) >> 6;
  const std::uint64_t m0 = ~0ULL << (a & 63), m1 = ~0ULL >> (63 - ((b - 1) & 63));
  const bool same = w0 == w1;
  bits[w0] |= same ? (m0 & m1) : m0;
  bits[w1] |= same ? (m0 & m1) : m1;
  used[w0 >> 6] |= 1ULL << (w0 & 63);
  used[w1 >> 6] |= 1ULL << (w1 & 63);
}

// A line crossing a row's centre line at x: the pixels whose centres lie
// right of it change from outside to inside or back.
template <bool Clipped>
inline void toggle(const BandBits& band, std::size_t row, double x, bool on) {
  int p = ceilInt(x - 0.5);
  if (Clipped) {
    if (p >= band.width) return;  // the inside then reaches the band's right edge
    p = p < 0 ? 0 : p;
  }
  const int w = p >> 6;
  band.inside[row * band.words + std::size_t(w)] ^= std::uint64_t(on) << (p & 63);
  band.used[row * band.usedWords + std::size_t(w >> 6)] |= std::uint64_t(on) << (w & 63);
}

// One line of the outline (pixels of the band) into the band's bits: for
// each row it meets the pixels it passes through, and its crossing of the
// row's centre line. Without Clipped the line lies inside the band.
template <bool Clipped, bool Filtered>
void segment(const BandBits band, double x0, double y0, double x1, double y1) {
  // Rows whose runs are not wanted are passed over, still stepped through
  // (so that the rows after them see the same positions along the line).
  auto wanted = [&](int row) { return !Filtered || band.live[row] != 0; };
  if (y0 == y1) {
    // A level line lies in one row, unless it runs along a row boundary.
    const int row = floorInt(y0);
    if (row == y0 || (Clipped && (row < 0 || row >= band.rows)) || !wanted(row)) return;
    edgeBits<Clipped>(band, std::size_t(row), x0, x1);
    return;
  }
  {
    const bool down = y0 < y1;
    const double tx = down ? x0 : x1, ty = down ? y0 : y1, bx = down ? x1 : x0, by = down ? y1 : y0;
    x0 = tx, y0 = ty, x1 = bx, y1 = by;
  }
  const double dxdy = (x1 - x0) / (y1 - y0), half = 0.5 * dxdy;
  int first = floorInt(y0), end = ceilInt(y1);
  if (Clipped) {
    first = std::max(first, 0);
    end = std::min(end, band.rows);
    if (first >= end) return;
  }
  // The first row, where the line may start inside the row.
  double xt = first > y0 ? x0 + (first - y0) * dxdy : x0;
  {
    const double xb = first + 1 < y1 ? x0 + (first + 1 - y0) * dxdy : x1;
    const double mid = first + 0.5;
    if (wanted(first)) {
      edgeBits<Clipped>(band, std::size_t(first), xt, xb);
      // Only a line crossing the centre line toggles: the centre line of a
      // row it merely enters lies on the line's extension, which may reach
      // far outside the band.
      if (y0 <= mid && mid < y1) toggle<Clipped>(band, std::size_t(first), x0 + (mid - y0) * dxdy, true);
    }
    xt = xb;
  }
  // Rows the line crosses from top to bottom.
  const int last = end - 1;
  int row = first + 1;
  for (; row < last; ++row) {
    const double xb = xt + dxdy;
    if (wanted(row)) {
      edgeBits<Clipped>(band, std::size_t(row), xt, xb);
      toggle<Clipped>(band, std::size_t(row), xt + half, true);
    }
    xt = xb;
  }
  // The last row, where the line may end inside the row.
  if (row == last) {
    const double xb = row + 1 < y1 ? xt + dxdy : x1;
    if (wanted(row)) {
      edgeBits<Clipped>(band, std::size_t(row), xt, xb);
      if (row + 0.5 < y1) toggle<Clipped>(band, std::size_t(row), xt + half, true);
    }
  }
}

}  // namespace

IntRect SpanRasteriser::Reach() const {
  if (mRangeExceeded || mPoints.empty()) return {};
  double minX = mPoints[0].x, maxX = minX, minY = mPoints[0].y, maxY = minY;
  for (const Point& p : mPoints) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  // As Sweep's area below.
  return IntRect{floorInt(minX) - 1, floorInt(minY), ceilInt(maxX) + 2, ceilInt(maxY)}.intersect(mClip);
}

bool SpanRasteriser::Sweep(std::vector<Span>& runs, const std::vector<std::pair<int, int>>* skippedRows) {
  runs.clear();
  if (mRangeExceeded) return false;
  if (mPoints.empty()) return true;
  double minX = mPoints[0].x, maxX = minX, minY = mPoints[0].y, maxY = minY;
  for (const Point& p : mPoints) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
  }
  // The pixels the outline may touch, with a column to spare on either side
  // (a crossing may fall one column right of the last pixel, and points
  // found along a line may stray by a rounding error), cut to the clip.
  const int left = floorInt(minX) - 1, right = ceilInt(maxX) + 2, top = floorInt(minY), bottom = ceilInt(maxY);
  const IntRect area = IntRect{left, top, right, bottom}.intersect(mClip);
  if (area.empty()) return true;
  // Unless the outline lies wholly inside the clip, and is small enough that
  // the rounding of its lines stays far below a pixel, every bit is checked
  // against the band.
  constexpr double kUncheckedLimit = 1048576.0;
  const bool cut = left < area.x0 || right > area.x1 || top < area.y0 || bottom > area.y1 ||
                   area.height() > 65536 || std::max(std::fabs(minX), std::fabs(maxX)) > kUncheckedLimit;
  mX0 = area.x0;
  mWidth = area.width();
  mWords = (std::size_t(mWidth) + 63) / 64;
  mUsedWords = (mWords + 63) / 64;
  const int bandRows = int(std::clamp<std::size_t>(kBandWords / mWords, 1, std::size_t(area.height())));
  for (int y = area.y0; y < area.y1; y += bandRows) {
    const int y1 = std::min(area.y1, y + bandRows);
    bool filtered = false;
    if (skippedRows != nullptr) {
      mLive.assign(std::size_t(y1 - y), 1);
      for (const auto& [s0, s1] : *skippedRows) {
        for (int r = std::max(s0, y); r < std::min(s1, y1); ++r) mLive[std::size_t(r - y)] = 0, filtered = true;
      }
    }
    SweepBand(y, y1, cut || y1 - y < area.height(), filtered, runs);
  }
  return true;
}

void SpanRasteriser::SweepBand(int band0, int band1, bool clipped, bool filtered, std::vector<Span>& runs) {
  mBandY0 = band0;
  mRows = band1 - band0;
  // The bits are all clear between sweeps: the row pass clears what it reads.
  const std::size_t bandWords = std::size_t(mRows) * mWords, bandUsed = std::size_t(mRows) * mUsedWords;
  if (mInside.size() < bandWords) mInside.resize(bandWords), mEdges.resize(bandWords);
  if (mUsed.size() < bandUsed) mUsed.resize(bandUsed);
  const BandBits bits{mInside.data(), mEdges.data(), mUsed.data(), mWords, mUsedWords, mWidth, mRows,
                      filtered ? mLive.data() : nullptr};
  const double dx = mX0, dy = mBandY0;
  for (std::size_t c = 0; c < mContours.size(); ++c) {
    const std::size_t s = mContours[c], e = c + 1 < mContours.size() ? mContours[c + 1] : mPoints.size();
    if (e - s < 2) continue;
    const Point* p = mPoints.data();
    for (std::size_t i = s; i < e; ++i) {
      const Point& a = p[i];
      const Point& b = p[i + 1 < e ? i + 1 : s];  // the last point closes the contour
      if (a.x == b.x && a.y == b.y) continue;
      if (filtered) {
        clipped ? segment<true, true>(bits, a.x - dx, a.y - dy, b.x - dx, b.y - dy)
                : segment<false, true>(bits, a.x - dx, a.y - dy, b.x - dx, b.y - dy);
      } else {
        clipped ? segment<true, false>(bits, a.x - dx, a.y - dy, b.x - dx, b.y - dy)
                : segment<false, false>(bits, a.x - dx, a.y - dy, b.x - dx, b.y - dy);
      }
    }
  }
  // Row by row over the words in use: the inside is the running parity of
  // the crossings, the pixels touched the inside and the edges' pixels; runs
  // start and end where the touched bits change.
  const std::size_t words = mWords, usedWords = mUsedWords;
  const int width = mWidth, left = mX0;
  const bool centres = mCentres;
  for (int row = 0; row < mRows; ++row) {
    if (filtered && mLive[std::size_t(row)] == 0) continue;  // no bits were entered
    std::uint64_t* inside = bits.inside + std::size_t(row) * words;
    std::uint64_t* edges = bits.edges + std::size_t(row) * words;
    std::uint64_t* usedBits = bits.used + std::size_t(row) * usedWords;
    const int y = band0 + row;
    std::uint64_t carry = 0, prev = 0;  // the parity before the word; the last touched bit
    int start = -1;                     // an open run
    long lastWord = -1;
    auto change = [&](int x) {
      if (start < 0) {
        start = x;
      } else {
        const int x1 = std::min(x, width);
        if (x1 > start) runs.push_back({y, left + start, left + x1});
        start = -1;
      }
    };
    for (std::size_t u = 0; u < usedWords; ++u) {
      std::uint64_t wordsUsed = usedBits[u];
      usedBits[u] = 0;
      while (wordsUsed != 0) {
        const std::size_t w = u * 64 + std::size_t(__builtin_ctzll(wordsUsed));
        wordsUsed &= wordsUsed - 1;
        // Words skipped hold the parity throughout.
        if (long(w) > lastWord + 1 && prev != (carry & 1)) {
          change(int(lastWord + 1) * 64);
          prev = carry & 1;
        }
        std::uint64_t x = inside[w];
        x ^= x << 1, x ^= x << 2, x ^= x << 4, x ^= x << 8, x ^= x << 16, x ^= x << 32;
        x ^= carry;
        carry = 0 - (x >> 63);
        const std::uint64_t m = centres ? x : x | edges[w];
        inside[w] = 0, edges[w] = 0;
        std::uint64_t d = m ^ ((m << 1) | prev);
        prev = m >> 63;
        const int base = int(w) * 64;
        while (d != 0) {
          change(base + __builtin_ctzll(d));
          d &= d - 1;
        }
        lastWord = long(w);
      }
    }
    if (lastWord + 1 < long(words) && prev != (carry & 1)) change(int(lastWord + 1) * 64);
    if (start >= 0) change(width);
  }
}

void ComposeSpans(Target& target, const std::vector<Span>& runs, const std::vector<PlaneSource>& sources) {
  const std::size_t planes = std::min(sources.size(), target.values.size());
  for (const Span& s : runs) {
    const std::size_t offset = std::size_t(s.x0 - target.rect.x0), length = std::size_t(s.x1 - s.x0);
    for (std::size_t p = 0; p < planes; ++p) {
      if (sources[p].kind != PlaneSource::kConstant) continue;
      fillBytes(target.values[p].row(s.y) + offset, sources[p].value, length);
    }
    if (target.shape != nullptr) fillBytes(target.shape->row(s.y) + (s.x0 - target.shape->rect().x0), 255, length);
  }
}

Raster SpansToRaster(const std::vector<Span>& runs) {
  if (runs.empty()) return {};
  IntRect r{INT_MAX, runs.front().y, INT_MIN, runs.back().y + 1};
  for (const Span& s : runs) r.x0 = std::min(r.x0, s.x0), r.x1 = std::max(r.x1, s.x1);
  Raster raster(r);
  for (const Span& s : runs) std::memset(raster.row(s.y) + (s.x0 - r.x0), 255, std::size_t(s.x1 - s.x0));
  return raster;
}

// Pixels taken and not yet written: x (16 bits), length (16 bits), row in
// its band (8 bits), palette index (8 bits).
struct FlatFillBatch::Block {
  static constexpr std::size_t kRuns = 1024;
  std::uint64_t runs[kRuns];
};

// The pixels taken in a band: full blocks, then the last one up to `next`.
struct FlatFillBatch::Band {
  std::vector<Block*> blocks;
  std::uint64_t* next = nullptr;
  std::uint64_t* end = nullptr;
};

namespace {
// The rows of a tile of the taken pixels (its width is a word's 64 pixels).
constexpr int kTileShift = 4;
constexpr int kTileMask = (1 << kTileShift) - 1;
}  // namespace

bool FlatFillBatch::Accepts(const Target& target) {
  return !target.isLayer() && !target.rect.empty() && target.rect.width() <= 65535;
}

FlatFillBatch::FlatFillBatch(Target& target, std::size_t memoryLimit)
    : mTarget(target), mLimit(std::max<std::size_t>(memoryLimit, sizeof(Block))) {
  // Bands of a power of two rows (at most 128) whose planes and coverage
  // together hold about a MiB, so that writing a band's pixels stays in the
  // processor's cache.
  const std::size_t rowBytes = std::size_t(std::max(1, target.rect.width())) * (target.values.size() + 1);
  while (mBandShift < 7 && (rowBytes << (mBandShift + 1)) <= (std::size_t(1) << 20)) ++mBandShift;
  const int rows = 1 << mBandShift;
  mBands.resize(std::size_t((target.rect.height() + rows - 1) / rows));
  mPalette.emplace_back();
}

FlatFillBatch::~FlatFillBatch() = default;

FlatFillBatch::Block* FlatFillBatch::NewBlock() {
  if (!mFree.empty()) {
    Block* b = mFree.back();
    mFree.pop_back();
    return b;
  }
  // Slabs of blocks, so that pixels are held in few buffers; left uncleared
  // (they are written before they are read), so that a slab's pages are
  // made only as its blocks are used.
  constexpr std::size_t kSlabBlocks = 64;
  if (mSlabs.empty() || mSlabUsed == kSlabBlocks) {
    mSlabs.push_back(std::unique_ptr<Block[]>(new Block[kSlabBlocks]));
    mSlabUsed = 0;
  }
  return &mSlabs.back()[mSlabUsed++];
}

std::uint8_t FlatFillBatch::PaletteIndex(const std::vector<PlaneSource>& sources) {
  std::string inks(mTarget.values.size(), '\0');
  for (std::size_t p = 0; p < inks.size() && p < sources.size(); ++p) inks[p] = char(sources[p].value);
  auto found = mPaletteIndex.find(inks);
  if (found == mPaletteIndex.end()) {
    if (mPalette.size() > 255) Flush();
    found = mPaletteIndex.emplace(inks, std::uint8_t(mPalette.size())).first;
    mPalette.push_back(inks);
  }
  return found->second;
}

void FlatFillBatch::Hold(const Item& item) {
  mItems.push_back(item);
  if (mItems.size() * sizeof(Item) + mHeldRuns.size() * sizeof(Span) >= mLimit) Flush();
}

void FlatFillBatch::Add(const std::vector<Span>& runs, const std::vector<PlaneSource>& sources) {
  if (runs.empty()) return;
  Item item;
  item.palette = PaletteIndex(sources);
  item.reach = IntRect{INT_MAX, runs.front().y, INT_MIN, runs.back().y + 1};
  for (const Span& s : runs) item.reach.x0 = std::min(item.reach.x0, s.x0), item.reach.x1 = std::max(item.reach.x1, s.x1);
  item.reach = item.reach.intersect(mTarget.rect);
  item.first = mHeldRuns.size();
  item.count = runs.size();
  mHeldRuns.insert(mHeldRuns.end(), runs.begin(), runs.end());
  Hold(item);
}

void FlatFillBatch::Add(const IntRect& reach, FillOutlines& outlines, std::size_t id,
                        const std::vector<PlaneSource>& sources) {
  Item item;
  item.reach = reach.intersect(mTarget.rect);
  if (item.reach.empty()) return;
  item.palette = PaletteIndex(sources);
  item.outlines = &outlines;
  item.first = id;
  Hold(item);
}

bool FlatFillBatch::TileRowTaken(int t, int w0, int w1) const {
  const int lastTile = (mDoneRect.height() - 1) >> kTileShift;
  const int rows = t < lastTile ? 1 << kTileShift : mDoneRect.height() - (t << kTileShift);
  const std::uint8_t* full = mFullWords.data() + std::size_t(t) * mDoneWords;
  for (int w = w0; w <= w1; ++w) {
    if (full[w] != rows) return false;
  }
  return true;
}

bool FlatFillBatch::Hidden(const IntRect& reach) const {
  const int w0 = (reach.x0 - mDoneRect.x0) >> 6, w1 = (reach.x1 - 1 - mDoneRect.x0) >> 6;
  const int t0 = (reach.y0 - mDoneRect.y0) >> kTileShift, t1 = (reach.y1 - 1 - mDoneRect.y0) >> kTileShift;
  for (int t = t0; t <= t1; ++t) {
    if (!TileRowTaken(t, w0, w1)) return false;
  }
  return true;
}

void FlatFillBatch::Keep(int x0, int x1, int y, std::uint8_t palette) {
  // x0, x1 relative to the taken pixels' rectangle; y a row of the target.
  const int row = y - mTarget.rect.y0;
  Band& band = mBands[std::size_t(row >> mBandShift)];
  if (band.next == band.end) {
    Block* block = NewBlock();
    band.blocks.push_back(block);
    band.next = block->runs, band.end = block->runs + Block::kRuns;
  }
  const int x = x0 + (mDoneRect.x0 - mTarget.rect.x0);
  *band.next++ = std::uint64_t(x) | (std::uint64_t(x1 - x0) << 16) |
                 (std::uint64_t(row & ((1 << mBandShift) - 1)) << 32) | (std::uint64_t(palette) << 40);
  if (++mTaken * sizeof(std::uint64_t) >= mLimit) WriteTaken();
}

void FlatFillBatch::Take(const Span& run, std::uint8_t palette) {
  const int y = run.y - mDoneRect.y0;
  const int xs = std::max(run.x0, mDoneRect.x0) - mDoneRect.x0, xe = std::min(run.x1, mDoneRect.x1) - mDoneRect.x0;
  if (y < 0 || y >= mDoneRect.height() || xe <= xs) return;
  // Word w of the row: tiles of 16 rows lie one after the other along the
  // row, each holding its words row by row.
  std::uint64_t* row = mDone.data() + (std::size_t(y >> kTileShift) * mDoneWords << kTileShift) + (y & kTileMask);
  std::uint8_t* full = mFullWords.data() + std::size_t(y >> kTileShift) * mDoneWords;
  const int w0 = xs >> 6, w1 = (xe - 1) >> 6;
  // Runs lying in tiles already wholly taken (as most do once the fills
  // above have been taken) leave the pixels' bits unread.
  {
    const int lastTile = (mDoneRect.height() - 1) >> kTileShift;
    const int rows = (y >> kTileShift) < lastTile ? 1 << kTileShift : mDoneRect.height() - (lastTile << kTileShift);
    int w = w0;
    while (w <= w1 && full[w] == rows) ++w;
    if (w > w1) return;
  }
  int open = -1, openEnd = -1;  // pixels taken and not yet kept, [open, openEnd)
  for (int w = w0; w <= w1; ++w) {
    std::uint64_t mask = ~0ULL;
    if (w == w0) mask &= ~0ULL << (xs & 63);
    if (w == w1) mask &= ~0ULL >> (63 - ((xe - 1) & 63));
    std::uint64_t& word = row[std::size_t(w) << kTileShift];
    const std::uint64_t before = word;
    std::uint64_t fresh = mask & ~before;
    if (fresh == 0) continue;
    word = before | fresh;
    if ((before | fresh) == ~0ULL) ++full[w];
    const int base = w * 64;
    while (fresh != 0) {
      const int b = __builtin_ctzll(fresh);
      const std::uint64_t rest = ~(fresh >> b);
      const int length = rest == 0 ? 64 - b : __builtin_ctzll(rest);
      fresh = b + length >= 64 ? 0 : fresh & (~0ULL << (b + length));
      if (open >= 0 && openEnd == base + b) {
        openEnd += length;
        continue;
      }
      if (open >= 0) Keep(open, openEnd, run.y, palette);
      open = base + b, openEnd = base + b + length;
    }
  }
  if (open >= 0) Keep(open, openEnd, run.y, palette);
}

void FlatFillBatch::WriteTaken() {
  // Each band's first row of every plane (the coverage last), and each
  // palette entry's inks, at hand.
  const std::size_t planes = mTarget.values.size();
  const bool shape = mTarget.shape != nullptr;
  std::vector<std::uint8_t*> rows(planes + 1);
  std::vector<std::size_t> strides(planes + 1);
  for (std::size_t p = 0; p < planes; ++p) strides[p] = std::size_t(mTarget.values[p].stride());
  if (shape) strides[planes] = std::size_t(mTarget.shape->stride());
  std::vector<std::uint8_t> inks(mPalette.size() * (planes + 1), 255);
  for (std::size_t i = 0; i < mPalette.size(); ++i) std::copy_n(mPalette[i].data(), planes, inks.data() + i * (planes + 1));
  const std::size_t written = planes + (shape ? 1 : 0);
  for (std::size_t b = 0; b < mBands.size(); ++b) {
    Band& band = mBands[b];
    if (band.blocks.empty()) continue;
    const int y0 = mTarget.rect.y0 + (int(b) << mBandShift);
    for (std::size_t p = 0; p < planes; ++p) rows[p] = mTarget.values[p].row(y0);
    if (shape) rows[planes] = mTarget.shape->row(y0) + (mTarget.rect.x0 - mTarget.shape->rect().x0);
    for (Block* block : band.blocks) {
      const std::uint64_t* end = block == band.blocks.back() ? band.next : block->runs + Block::kRuns;
      for (const std::uint64_t* r = block->runs; r != end; ++r) {
        const std::size_t x = *r & 0xFFFF, length = (*r >> 16) & 0xFFFF, row = (*r >> 32) & 0xFF;
        const std::uint8_t* values = inks.data() + ((*r >> 40) & 0xFF) * (planes + 1);
        // The same bytes of every plane: the way of writing them is chosen
        // once for all (as fillBytes chooses it).
        if (length >= 64) {
          for (std::size_t p = 0; p < written; ++p) std::memset(rows[p] + row * strides[p] + x, values[p], length);
        } else if (length >= 8) {
          for (std::size_t p = 0; p < written; ++p) {
            std::uint8_t* out = rows[p] + row * strides[p] + x;
            const std::uint64_t pattern = 0x0101010101010101ULL * values[p];
            for (std::size_t i = 0; i + 8 < length; i += 8) std::memcpy(out + i, &pattern, 8);
            std::memcpy(out + length - 8, &pattern, 8);
          }
        } else {
          for (std::size_t p = 0; p < written; ++p) fillBytes(rows[p] + row * strides[p] + x, values[p], length);
        }
      }
      mFree.push_back(block);
    }
    band = Band();
  }
  mTaken = 0;
}

void FlatFillBatch::Flush() {
  if (mItems.empty()) return;
  // The taken pixels' rectangle: what the fills held may reach.
  IntRect all{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (const Item& item : mItems) {
    all.x0 = std::min(all.x0, item.reach.x0), all.y0 = std::min(all.y0, item.reach.y0);
    all.x1 = std::max(all.x1, item.reach.x1), all.y1 = std::max(all.y1, item.reach.y1);
  }
  mDoneRect = all.intersect(mTarget.rect);
  if (!mDoneRect.empty()) {
    // Nothing is taken yet; the bits of the last word past the rectangle's
    // right edge count as taken, so that its words can be wholly taken.
    mDoneWords = (std::size_t(mDoneRect.width()) + 63) / 64;
    const std::size_t tileRows = (std::size_t(mDoneRect.height()) + kTileMask) >> kTileShift;
    mDone.assign(tileRows * mDoneWords << kTileShift, 0);
    mFullWords.assign(tileRows * mDoneWords, 0);
    if (const int spare = mDoneRect.width() & 63; spare != 0) {
      for (std::size_t t = 0; t < tileRows; ++t) {
        std::uint64_t* last = mDone.data() + ((t * mDoneWords + mDoneWords - 1) << kTileShift);
        std::fill_n(last, 1 << kTileShift, ~0ULL << spare);
      }
    }
    // The last fill first: each pixel is taken by the last fill over it.
    for (std::size_t i = mItems.size(); i-- > 0;) {
      const Item& item = mItems[i];
      if (item.reach.empty() || Hidden(item.reach)) continue;
      // A fill held by its runs, or (below) by its outline, whose id is then
      // `first` and whose runs are scanned now.
      const Span* runs = nullptr;
      std::size_t count = 0;
      if (item.outlines == nullptr) {
        runs = mHeldRuns.data() + item.first;
        count = item.count;
      } else {
        const IntRect outline = item.outlines->Outline(item.first).intersect(item.reach);
        if (outline.empty() || Hidden(outline)) continue;
        // Rows of the outline in tiles wholly taken: their runs are not wanted.
        mSkipped.clear();
        const int w0 = (outline.x0 - mDoneRect.x0) >> 6, w1 = (outline.x1 - 1 - mDoneRect.x0) >> 6;
        for (int t = (outline.y0 - mDoneRect.y0) >> kTileShift; t <= (outline.y1 - 1 - mDoneRect.y0) >> kTileShift; ++t) {
          if (!TileRowTaken(t, w0, w1)) continue;
          const int y0 = mDoneRect.y0 + (t << kTileShift);
          if (!mSkipped.empty() && mSkipped.back().second == y0) {
            mSkipped.back().second = y0 + (1 << kTileShift);
          } else {
            mSkipped.emplace_back(y0, y0 + (1 << kTileShift));
          }
        }
        item.outlines->Runs(mScanned, mSkipped);
        runs = mScanned.data();
        count = mScanned.size();
      }
      // The bits of a fill's rows lie a row of the page apart: those of the
      // runs ahead are asked for while a run is taken.
      constexpr std::size_t kAhead = 8;
      auto prefetch = [&](const Span& s) {
        const int y = s.y - mDoneRect.y0;
        const int w0 = std::max(s.x0 - mDoneRect.x0, 0) >> 6, w1 = (std::min(s.x1, mDoneRect.x1) - 1 - mDoneRect.x0) >> 6;
        const std::uint64_t* row =
            mDone.data() + (std::size_t(y >> kTileShift) * mDoneWords << kTileShift) + (y & kTileMask);
        for (int w = w0; w <= w1; ++w) __builtin_prefetch(row + (std::size_t(w) << kTileShift), 1);
      };
      for (std::size_t r = 0; r < count && r < kAhead; ++r) prefetch(runs[r]);
      for (std::size_t r = 0; r < count; ++r) {
        if (r + kAhead < count) prefetch(runs[r + kAhead]);
        Take(runs[r], item.palette);
      }
    }
    WriteTaken();
  }
  mItems.clear();
  mHeldRuns.clear();
  mPaletteIndex.clear();
  mPalette.resize(1);
}

}  // namespace TavricLib::preview

#pragma once
// The kernel's tile renderer: walks a picture map tile by tile and hands each
// tile to virtual operations that a subclass turns into output. For every
// tile it calls one begin operation (colour, or mask for the map's opacity
// channel), then the tile's rows, then one end operation, also when the
// begin gave no handler. A tile of r rows and c columns is delivered with a
// one-pixel border: r + 2 rows of c + 2 pixels, the border repeating the
// map's edge pixels. During the begin call the tile fields say where the
// tile lies: t1 its first column, t2 its first row (map pixels); t3 and t4
// are 0.
//
// Pixel data: one byte per channel, ink 0 (none) to 255 (full). The channels
// are the components of an image in colour space A, or C, M, Y, K without
// one; then a map channel feeding a spot ink is laid over the process inks
// with the spot ink's CMYK equivalent (each process channel combined as
// 1 - Π(1 - share)). A separation the map has no channel for is 0. A map channel read from
// a gray, bitmap or RGB file counts its darkness as ink (255 - value); one
// read from a CMYK or multichannel file its value. The mask is the opacity
// channel's value (255 opaque).
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/pixelreader.h"

struct jobstr;
class ColorSpace;
class proofimghan;
namespace TavDB {
class Object;
}

class ctouttyp {
 public:
  static constexpr std::int32_t kTileSize = 256;

  ctouttyp(jobstr* job, int map, std::int32_t t1, std::int32_t t2, std::int32_t t3,
           std::int32_t t4, std::int32_t value1, std::int32_t value2);
  virtual ~ctouttyp();
  ctouttyp(const ctouttyp&) = delete;
  ctouttyp& operator=(const ctouttyp&) = delete;

  // ---- operations a subclass provides ----
  virtual proofimghan* BeginMaskTile(TavDB::Object* object, std::int32_t rows, std::int32_t columns,
                                     double d1, double d2, double d3, double d4) = 0;
  virtual void EndTile(proofimghan* handler) = 0;
  virtual int TileRow(proofimghan* handler, const std::uint8_t* row, int width, int channels) = 0;
  virtual proofimghan* BeginColorTile(TavDB::Object* object, std::int32_t rows,
                                      std::int32_t columns, double d1, double d2, double d3,
                                      double d4) = 0;
  virtual bool SoftMasksSupported() = 0;
  // ---- the kernel's own operations ----
  // Opens the map's files; false when the map has none.
  virtual bool CreateCTTransio();
  // The rows of a colour tile (first row r0, first column c0) to the handler.
  virtual int tilcopcoldo(proofimghan* handler, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                          std::int32_t columns);
  // The rows of a mask tile.
  virtual int tilcopmaskdo(proofimghan* handler, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                           std::int32_t columns);
  // One colour tile: begin, rows, end.
  virtual int tilcopcol(TavDB::Object* object, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                        std::int32_t columns);
  virtual ColorSpace* GetColorSpaceA() const { return mColorSpaceA; }
  virtual ColorSpace* GetColorSpaceB() const { return mColorSpaceB; }
  virtual void SetColorSpaceA(ColorSpace* space) { mColorSpaceA = space; }
  virtual void SetColorSpaceB(ColorSpace* space) { mColorSpaceB = space; }

  // Renders the map tile by tile (separation, the clip object and the
  // further arguments are the caller's description of the job's use of the
  // map; the tiles cover the whole map). Returns 0, or -2 when cancelled.
  // Throws TavSys::Error when a map file cannot be read.
  int mapcopint(jobstr* job, int map, int separation, TavDB::Object* object, TavDB::Object* clip,
                int i1, int i2, int i3, double d1, double d2, double d3, double d4);

  // Tile fields, valid during a begin call.
  std::int32_t t1, t2, t3, t4;

 protected:
  jobstr* mJob;  // not owned
  int mMap;
  std::int32_t mValue1, mValue2;

 private:
  struct FileRows;
  // Reads rows up to `last` into the windows and drops rows before `first`.
  void advance(std::int32_t first, std::int32_t last);
  std::uint8_t sample(int channel, std::int32_t row, std::int32_t column) const;

  ColorSpace* mColorSpaceA = nullptr;  // not owned
  ColorSpace* mColorSpaceB = nullptr;  // not owned
  std::vector<std::unique_ptr<FileRows>> mFiles;
  struct Source {
    int file = -1;     // -1: no channel (ink 0)
    int channel = 0;
  };
  std::vector<Source> mChannels;  // per output channel
  // CMYK tiles: the spot channels and their inks' CMYK equivalents (0..1).
  struct SpotSource {
    Source source;
    double cmyk[4];
  };
  std::vector<SpotSource> mSpots;
  Source mOpacity;
  // One sample of a channel that has a file; ink: a gray, bitmap or RGB
  // file's darkness counts as ink.
  std::uint8_t read(const Source& s, bool ink, std::int32_t row, std::int32_t column) const;
  std::int32_t mWidth = 0, mHeight = 0;
  std::vector<std::uint8_t> mRow;
};

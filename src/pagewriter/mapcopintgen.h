#pragma once
// The picture-tile bridge: the kernel's tile renderer walks a picture map
// tile by tile; this subclass turns each tile into a clipped image of the
// output walker, so that any walker backend receives a map as a series of
// images (one per tile, each with its one-pixel border, downsampled as the
// backend asks).
#include <cstdint>

#include "platform/kernel/ctouttyp.h"
#include "platform/kernel/job.h"

class genproof;
class ColorSpace;

class mapcopintgen : public ctouttyp {
 public:
  // The walker and the colour spaces stay the caller's. a: the space the
  // tile images are written in (null: CMYK images); b: the space selected
  // in the stream before each colour tile, or null.
  mapcopintgen(genproof* walker, jobstr* job, const Paint& record, ColorSpace* a, ColorSpace* b);

  proofimghan* BeginMaskTile(TavDB::Object* object, std::int32_t rows, std::int32_t columns, double d1,
                             double d2, double d3, double d4) override;
  void EndTile(proofimghan* handler) override;
  int TileRow(proofimghan* handler, const std::uint8_t* row, int width, int channels) override;
  proofimghan* BeginColorTile(TavDB::Object* object, std::int32_t rows, std::int32_t columns, double d1,
                              double d2, double d3, double d4) override;
  bool SoftMasksSupported() override;

 private:
  // "q", the clip to the object, and the matrix of the tile at t1, t2.
  TavDB::tv_matrixtyp<double> BeginTile(TavDB::Object* object);

  genproof* mWalker;  // not owned
  Paint mRecord;      // the map's placement
};

// Renders a map through the walker: in DeviceN-capable composite output once
// per part of the map's colour space, otherwise once in the map's colour
// spaces. Returns the tile renderer's result (0, or -2 when cancelled).
int RunMapCopy(genproof* walker, jobstr* job, int map, int separation, const Paint& record,
               TavDB::Object* object, TavDB::Object* clip, int i1, int i2, int i3, double d1, double d2,
               double d3, double d4);

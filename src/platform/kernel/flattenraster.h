#pragma once
// The raster road's output: composed ink planes placed on the page as maps
// (pictures whose channels feed the inks), one gray pixel file per ink.
//
// A store belongs to one flattened tree and lives as long as it is written:
// it owns the pixel files (in a temporary folder of their own) and the maps
// it entered in the job, and takes both away again when it is destroyed.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/kernel/geometry.h"

struct jobstr;
namespace TavSys {
class TempFolder;
}

namespace TavFlatten {

class RasterStore {
 public:
  // The job is not owned and must outlive the store; the pixel files go into
  // a folder of their own under `parent` (the system's temporary folder when empty).
  explicit RasterStore(jobstr* job, std::filesystem::path parent = {});
  ~RasterStore();
  RasterStore(const RasterStore&) = delete;
  RasterStore& operator=(const RasterStore&) = delete;

  // One ink's plane: width x height bytes, 0 no ink .. 255 full ink, rows from the top.
  struct Plane {
    int slot = -1;
    std::vector<std::uint8_t> ink;
  };
  // A map paint that places the planes over `box` (job units) at
  // `resolution` pixels per inch: every ink of a plane takes the plane's
  // value, the other inks are left alone. Throws TavSys::Error when a file
  // cannot be written.
  std::uint16_t AddMapPaint(const std::vector<Plane>& planes, int width, int height, const TavDB::tv_box& box,
                            double resolution);

  int mapCount() const { return int(mMaps.size()); }

 private:
  jobstr* mJob;                                 // not owned
  std::filesystem::path mParent;
  std::unique_ptr<TavSys::TempFolder> mFolder;  // made on the first map
  std::vector<int> mMaps;                       // map indices entered in the job
  int mFiles = 0;
};

}  // namespace TavFlatten

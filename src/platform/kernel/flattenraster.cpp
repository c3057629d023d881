#include "platform/kernel/flattenraster.h"

#include <cerrno>
#include <string>

#include "platform/files.h"
#include "platform/kernel/job.h"
#include "platform/tav_error.h"
#include "platform/tifflibrary.h"

namespace TavFlatten {

namespace {

// A gray file of the plane: its darkness is the ink, as a map reads gray files.
void writeGray(const std::filesystem::path& path, const std::vector<std::uint8_t>& ink, int width, int height,
               double resolution) {
  std::string why;
  const TavSys::TiffFunctions* tiff = TavSys::TiffLibrary().Get(why);
  if (tiff == nullptr) {
    throw TavSys::Error(TavSys::kResultAbandoned, "SYS/FILE ERROR", path.string() + ": " + why)
        .with("__FILE__", path.string())
        .with("__REASON__", "TIFF files cannot be written: " + why);
  }
  TIFF* tif = tiff->open(path.c_str(), "w");
  if (tif == nullptr) throw TavSys::fileError(errno != 0 ? errno : EIO, path.string());
  tiff->setField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
  tiff->setField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
  tiff->setField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  tiff->setField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  tiff->setField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  tiff->setField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  tiff->setField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  tiff->setField(tif, TIFFTAG_ROWSPERSTRIP, tiff->defaultStripSize(tif, 0));
  tiff->setField(tif, TIFFTAG_XRESOLUTION, float(resolution));
  tiff->setField(tif, TIFFTAG_YRESOLUTION, float(resolution));
  tiff->setField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
  bool ok = true;
  for (int y = 0; y < height && ok; ++y) {
    const std::uint8_t* in = ink.data() + std::size_t(y) * std::size_t(width);
    for (int x = 0; x < width; ++x) row[std::size_t(x)] = std::uint8_t(255 - in[x]);
    ok = tiff->writeScanline(tif, row.data(), std::uint32_t(y), 0) >= 0;
  }
  tiff->close(tif);
  if (!ok) throw TavSys::fileError(EIO, path.string());
}

}  // namespace

RasterStore::RasterStore(jobstr* job, std::filesystem::path parent) : mJob(job), mParent(std::move(parent)) {}

RasterStore::~RasterStore() {
  for (int index : mMaps) {
    if (index >= 0 && std::size_t(index) < mJob->maps.size()) mJob->maps[std::size_t(index)] = PictureMap{};
  }
  while (!mJob->maps.empty() && !mJob->maps.back().exists) mJob->maps.pop_back();
}

std::uint16_t RasterStore::AddMapPaint(const std::vector<Plane>& planes, int width, int height,
                                       const TavDB::tv_box& box, double resolution) {
  if (!mFolder) mFolder = std::make_unique<TavSys::TempFolder>(mParent);
  PictureMap map;
  map.exists = true;
  map.width = width;
  map.height = height;
  map.resolution = resolution;
  map.internal = true;
  map.noOpi = true;
  for (const Plane& plane : planes) {
    const std::filesystem::path file = mFolder->path() / ("region-" + std::to_string(++mFiles) + ".tif");
    writeGray(file, plane.ink, width, height, resolution);
    MapChannel channel;
    channel.separation = plane.slot;
    channel.file = int(map.files.size());
    map.files.emplace_back(file.generic_string());
    map.channels.push_back(channel);
  }
  map.colour1 = mJob->addColour(Colour{});  // leaves every ink to its channel
  // The map's index: the first free one.
  std::size_t index = 0;
  while (index < mJob->maps.size() && mJob->maps[index].exists) ++index;
  if (index > 0xFFFF) throw std::length_error("job map table full");
  if (index >= mJob->maps.size()) mJob->maps.resize(index + 1);
  mJob->maps[index] = std::move(map);
  mMaps.push_back(int(index));

  Paint paint;
  paint.type = kPaintMap;
  paint.map = int(index);
  paint.colour = mJob->maps[index].colour1;
  paint.placeOrigin = {box.top, box.left};
  paint.placeWidthCorner = {box.top, box.right};
  paint.placeHeightCorner = {box.bottom, box.left};
  return mJob->addPaint(std::move(paint));
}

}  // namespace TavFlatten

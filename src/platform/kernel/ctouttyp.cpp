#include "platform/kernel/ctouttyp.h"

#include <algorithm>
#include <cmath>
#include <deque>

#include "platform/kernel/colorspace.h"
#include "platform/kernel/job.h"
#include "platform/kernel/mappedpicture.h"
#include "platform/system.h"
#include "platform/tav_error.h"

// The rows of one map file that the tiles in progress need.
struct ctouttyp::FileRows {
  std::unique_ptr<TavSys::pixreatyp> reader;
  bool darkIsInk = false;            // gray, bitmap and RGB files
  std::int32_t first = 0;            // index of rows.front()
  std::deque<std::vector<std::uint8_t>> rows;
};

ctouttyp::ctouttyp(jobstr* job, int map, std::int32_t a, std::int32_t b, std::int32_t c,
                   std::int32_t d, std::int32_t value1, std::int32_t value2)
    : t1(a), t2(b), t3(c), t4(d), mJob(job), mMap(map), mValue1(value1), mValue2(value2) {}

ctouttyp::~ctouttyp() = default;

bool ctouttyp::CreateCTTransio() {
  const PictureMap* map = mappoi(mJob, mMap);
  if (map == nullptr || map->files.empty()) return false;
  mWidth = map->width;
  mHeight = map->height;
  mFiles.clear();
  for (const TavSys::filref& file : map->files) {
    auto rows = std::make_unique<FileRows>();
    rows->reader = std::make_unique<TavSys::pixreatyp>(file.getFullPathAsUtf8());
    const TavSys::PixelHeader& h = rows->reader->header();
    if (h.width != mWidth || h.rows != mHeight) throw TavricLib::MapFileSizeMismatch(file, h, *map);
    rows->darkIsInk = h.model == TavSys::kPixelGray || h.model == TavSys::kPixelBitmap ||
                      h.model == TavSys::kPixelRGB;
    mFiles.push_back(std::move(rows));
  }
  auto source = [&](int separation) {
    Source s;
    for (const MapChannel& ch : map->channels) {
      if (ch.separation != separation) continue;
      if (ch.file >= 0 && std::size_t(ch.file) < mFiles.size() &&
          ch.channel < mFiles[std::size_t(ch.file)]->reader->header().channels) {
        s.file = ch.file;
        s.channel = ch.channel;
      }
    }
    return s;
  };
  mChannels.clear();
  if (mColorSpaceA != nullptr) {
    for (int sep : ImageComponentSeparations(mJob, *mColorSpaceA)) mChannels.push_back(source(sep));
  } else {
    for (int k = 0; k < 4; ++k) mChannels.push_back(source(sepgetcmyk(mJob, k)));
  }
  mSpots.clear();
  if (mColorSpaceA == nullptr) {
    for (const MapChannel& ch : map->channels) {
      if (ch.separation < 0 || ch.separation >= kMaxSeparations || sepiscmyk(mJob, ch.separation) >= 0) continue;
      const Source s = source(ch.separation);
      if (s.file < 0) continue;
      std::uint8_t c, m, y, k;
      sepcmyk(mJob, ch.separation, c, m, y, k);
      mSpots.push_back({s, {c / 100.0, m / 100.0, y / 100.0, k / 100.0}});
    }
  }
  mOpacity = Source{};
  if (map->opacityFile >= 0 && std::size_t(map->opacityFile) < mFiles.size() &&
      map->opacityChannel < mFiles[std::size_t(map->opacityFile)]->reader->header().channels) {
    mOpacity = Source{map->opacityFile, map->opacityChannel};
  }
  return true;
}

void ctouttyp::advance(std::int32_t first, std::int32_t last) {
  for (auto& f : mFiles) {
    const std::size_t bytes = f->reader->header().rowBytes();
    while (f->first + std::int32_t(f->rows.size()) <= last) {
      f->rows.emplace_back(bytes);
      f->reader->readRow(f->rows.back().data());
    }
    while (!f->rows.empty() && f->first < first) {
      f->rows.pop_front();
      ++f->first;
    }
  }
}

std::uint8_t ctouttyp::read(const Source& s, bool ink, std::int32_t row, std::int32_t column) const {
  const FileRows& f = *mFiles[std::size_t(s.file)];
  row = std::clamp(row, 0, mHeight - 1);
  column = std::clamp(column, 0, mWidth - 1);
  const int channels = f.reader->header().channels;
  const std::uint8_t v =
      f.rows[std::size_t(row - f.first)][std::size_t(column) * std::size_t(channels) + std::size_t(s.channel)];
  return ink && f.darkIsInk ? std::uint8_t(255 - v) : v;
}

std::uint8_t ctouttyp::sample(int channel, std::int32_t row, std::int32_t column) const {
  const Source& s = channel < 0 ? mOpacity : mChannels[std::size_t(channel)];
  std::uint8_t v = s.file < 0 ? (channel < 0 ? 255 : 0) : read(s, channel >= 0, row, column);
  if (channel < 0 || mSpots.empty()) return v;
  // The spot channels' share of this process ink.
  double blank = 1.0 - v / 255.0;
  for (const SpotSource& spot : mSpots) {
    blank *= 1.0 - read(spot.source, true, row, column) / 255.0 * spot.cmyk[channel];
  }
  return std::uint8_t(std::lround((1.0 - blank) * 255.0));
}

int ctouttyp::tilcopcoldo(proofimghan* handler, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                          std::int32_t columns) {
  const int channels = int(mChannels.size());
  mRow.resize(std::size_t(columns + 2) * std::size_t(channels));
  for (std::int32_t j = 0; j < rows + 2; ++j) {
    for (std::int32_t i = 0; i < columns + 2; ++i) {
      for (int k = 0; k < channels; ++k) {
        mRow[std::size_t(i) * std::size_t(channels) + std::size_t(k)] = sample(k, r0 - 1 + j, c0 - 1 + i);
      }
    }
    if (TileRow(handler, mRow.data(), columns + 2, channels) != 0) return 1;
  }
  return 0;
}

int ctouttyp::tilcopmaskdo(proofimghan* handler, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                           std::int32_t columns) {
  mRow.resize(std::size_t(columns + 2));
  for (std::int32_t j = 0; j < rows + 2; ++j) {
    for (std::int32_t i = 0; i < columns + 2; ++i) mRow[std::size_t(i)] = sample(-1, r0 - 1 + j, c0 - 1 + i);
    if (TileRow(handler, mRow.data(), columns + 2, 1) != 0) return 1;
  }
  return 0;
}

int ctouttyp::tilcopcol(TavDB::Object* object, std::int32_t r0, std::int32_t c0, std::int32_t rows,
                        std::int32_t columns) {
  t1 = c0;
  t2 = r0;
  t3 = t4 = 0;
  proofimghan* handler = BeginColorTile(object, rows, columns, 0, 0, 0, 0);
  int result = 0;
  if (handler != nullptr) result = tilcopcoldo(handler, r0, c0, rows, columns);
  EndTile(handler);
  return result;
}

int ctouttyp::mapcopint(jobstr* job, int map, int /*separation*/, TavDB::Object* object,
                        TavDB::Object* /*clip*/, int, int, int, double, double, double, double) {
  mJob = job;
  mMap = map;
  if (!CreateCTTransio() || mWidth < 1 || mHeight < 1) return 0;
  for (std::int32_t r0 = 0; r0 < mHeight; r0 += kTileSize) {
    const std::int32_t rows = std::min(kTileSize, mHeight - r0);
    advance(r0 - 1, std::min(mHeight - 1, r0 + rows));
    for (std::int32_t c0 = 0; c0 < mWidth; c0 += kTileSize) {
      if (TavSys::Progress::isCanceled()) return -2;
      const std::int32_t columns = std::min(kTileSize, mWidth - c0);
      tilcopcol(object, r0, c0, rows, columns);
      if (mOpacity.file >= 0 && SoftMasksSupported()) {
        t1 = c0;
        t2 = r0;
        t3 = t4 = 0;
        proofimghan* handler = BeginMaskTile(object, rows, columns, 0, 0, 0, 0);
        if (handler != nullptr) tilcopmaskdo(handler, r0, c0, rows, columns);
        EndTile(handler);
      }
    }
  }
  return 0;
}

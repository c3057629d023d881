#pragma once
// Test support for picture maps: map pictures whose samples the tests know,
// and jobs placing them.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/kernel/job.h"

namespace maptest {

// The map the tests place: 40 x 30 pixels; a CMYK file (cyan and magenta
// channels), a gray file (the spot ink, dark is ink) and a gray opacity file.
inline constexpr int kWidth = 40, kHeight = 30;
std::uint8_t cyanAt(int x, int y);
std::uint8_t magentaAt(int x, int y);
std::uint8_t spotLightAt(int x, int y);   // as stored: 255 - ink
std::uint8_t opacityAt(int x, int y);     // 255 opaque

// Writes ink.tif, spot.tif and mask.tif into the folder.
void writeMapFiles(const std::filesystem::path& folder);

// The inks of the map tests: the process inks and "Spot".
extern const char* const kInks;

// A map entry ("maps" array item) over the three files with the map colour
// `colour`; `extra` adds keys.
std::string mapEntry(int id, int colour, const std::string& extra = "");

// A paint placing map `map` by its first pixel at (v, h) in job units, each
// pixel `step` job units.
std::string mapPaint(int id, int map, int v, int h, int step);

// A path covering the same frame, painted with `paint`.
std::string mapFrame(int paint, int v, int h, int step);

// A job of size x size job units at `ppi` with the inks, colours, maps, paints
// and objects given (JSON arrays) and further top-level keys, its files read
// from `folder`.
std::unique_ptr<jobstr> loadMapJob(const std::string& inks, const std::string& colours, const std::string& maps,
                                   const std::string& paints, const std::string& objects,
                                   const std::filesystem::path& folder, const std::string& more = "", int size = 100,
                                   int ppi = 72);

}  // namespace maptest

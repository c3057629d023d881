#pragma once
// What the job loader learns from a placed picture's own file: an EPS file's
// bounding box, a PDF page's box, a TIFF or JPEG file's pixels.
#include <string>
#include <vector>

#include "platform/files.h"

struct Picture;

namespace TavKernel {

// Which of the picture's facts the job file gave itself (those stay).
struct PlacedFileGiven {
  bool width = false, height = false, resolution = false, colorSpace = false;
};

// Fills the facts the job file left out from the picture's file: the file
// box (EPS bounding box; PDF crop box as the page is shown) and the size in
// job units at `ppi` of EPS and PDF pictures; the size in pixels, the
// resolution and the colour space of TIFF and JPEG pictures. A file that
// cannot be read is left alone, with why in the picture's `readError`: the
// export refuses it where it needs it. True when the file was read.
bool ReadPlacedFile(Picture& picture, int ppi, const PlacedFileGiven& given);

}  // namespace TavKernel

// The names of a pixel file's channels in their order: the names of its
// colour model's components ("Cyan", ..., "Red", ..., "Gray") and
// "Channel <n>" for further channels.
// Empty when the file cannot be read.
std::vector<std::string> mapGetChannelNames(const TavSys::filref& file);

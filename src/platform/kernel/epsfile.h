#pragma once
// Placed EPS files: the DOS binary header (the PostScript section of a file
// that also carries a preview) and the bounding box of the header comments.
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/files.h"

struct jobstr;

namespace TavKernel {

struct EpsHeader {
  bool dos = false;                  // a DOS EPS file with a binary header
  std::uint64_t psOffset = 0;        // the PostScript section (the whole file without a DOS header)
  std::uint64_t psLength = 0;
  std::uint64_t tiffOffset = 0;      // the TIFF preview of a DOS file, 0 = none
  std::uint64_t tiffLength = 0;
  // The bounding box in points: %%HiResBoundingBox when the file has a usable
  // one, else %%BoundingBox.
  double llx = 0, lly = 0, urx = 0, ury = 0;
};

// Reads the DOS header from the file's first bytes (30 or more; fewer when
// the file is that short) and its size: the sections, or the whole file as
// the PostScript section when it has no DOS header. Throws TavSys::Error
// (key "PDF/UNSUPPORTED PICTURE TYPE") when the sections lie outside the file.
EpsHeader ParseEpsDosHeader(std::string_view start, std::uint64_t fileSize);
// Reads the bounding box from the PostScript section's first bytes and, for a
// box given "(atend)", its last bytes (each up to kEpsCommentBytes). Throws
// TavSys::Error (same key) when the section is not PostScript or has no usable
// bounding box.
void ParseEpsComments(std::string_view sectionStart, std::string_view sectionEnd, EpsHeader& header);
// Both, for a file held in memory.
EpsHeader ParseEpsHeader(std::string_view file);
// Both, for a file; the error names the file (also when it cannot be read).
EpsHeader ReadEpsHeader(const std::filesystem::path& file);

inline constexpr std::size_t kEpsCommentBytes = 64 * 1024;

}  // namespace TavKernel

// The kernel's names. A little-endian 32-bit value of a DOS EPS header.
std::uint32_t epsgetibmlong(const unsigned char* bytes);
// Whether the file starts with a DOS EPS header.
bool epsdosfil(const TavSys::filref& file);
// The lower left corner of a placed EPS picture's bounding box in points,
// rounded (0, 0 for other pictures).
void epsoffset(const jobstr* job, int picture, std::int32_t& x, std::int32_t& y);
// The bounding box of a placed EPS picture in points, read from its file now
// (the file may have changed since the job was loaded). Throws TavSys::Error
// naming the file when it is no EPS picture, cannot be read or has no usable
// box.
void epsboubox(const jobstr* job, int picture, double& llx, double& lly, double& urx, double& ury);

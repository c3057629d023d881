#pragma once
// The file's preview as the desktop keeps it (filsavmod): a PNG thumbnail in
// the user's thumbnail cache, as the freedesktop.org thumbnail standard lays
// it out, so that file managers show the exported file by its content.
//
//   - the cache is $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails;
//   - the image goes into the folder of the smallest size class it fits:
//     "normal" (128 pixels a side at most), "large" (256), "x-large" (512)
//     or "xx-large" (1024); a larger image is refused (render it smaller);
//   - its name is the MD5 of the file's URI ("file://" and the absolute path,
//     percent-encoded) in lower-case hex, then ".png";
//   - it carries the text chunks Thumb::URI, Thumb::MTime (the file's
//     modification time in seconds), Thumb::Size, Thumb::Mimetype and
//     Software;
//   - it is written atomically: into a temporary file beside it, then renamed
//     over it; the folders are made private (0700), the file 0600.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace TavSys {

class FileSpec;

// An 8-bit RGB image, rows from the top.
struct RgbImage {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // width × height × 3
};

// The largest side a thumbnail may have.
inline constexpr int kMaxStandardPreviewSide = 1024;

// The URI the standard names a file by, and the thumbnail's path for it.
std::string ThumbnailUri(const std::filesystem::path& file);
// The thumbnail cache folder; empty when neither XDG_CACHE_HOME nor HOME says.
std::filesystem::path ThumbnailCacheFolder();

// Saves the file's preview; 0 when written, else a file error code
// (kFileErrorBase + errno) or kResultAbandoned for an image of no or too
// large a size. `mimeType` names the file's type ("application/pdf").
int filsavmod(const FileSpec& file, const RgbImage& preview, const std::string& mimeType);

}  // namespace TavSys

#include "platform/standardpreview.h"

#include <fcntl.h>
#include <glib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/files.h"
#include "platform/tav_error.h"

namespace fs = std::filesystem;

namespace TavSys {

namespace {

// Everything but unreserved characters and "/" percent-encoded, bytewise.
std::string percentEncoded(const std::string& path) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '_' || c == '.' || c == '~' || c == '/';
    if (plain) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

const char* sizeClass(int side) {
  if (side <= 128) return "normal";
  if (side <= 256) return "large";
  if (side <= 512) return "x-large";
  return "xx-large";
}

int fileError() { return kFileErrorBase + (errno != 0 ? errno : EIO); }

// Writes the PNG with its text chunks; false (errno set) when it fails.
bool writePng(const fs::path& file, const RgbImage& image, const std::vector<std::pair<std::string, std::string>>& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::FILE* out = ::fdopen(fd, "wb");
  if (out == nullptr) {
    ::close(fd);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool ok = png != nullptr && info != nullptr;
  if (ok && setjmp(png_jmpbuf(png)) != 0) ok = false;
  if (ok) {
    png_init_io(png, out);
    // A preview for the desktop: written fast rather than small (the 1024
    // pixel preview of a page of 10,000 paths grows by 4 %, to 1.9 MB).
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_text> chunks(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
      chunks[i].key = const_cast<char*>(text[i].first.c_str());
      chunks[i].text = const_cast<char*>(text[i].second.c_str());
      chunks[i].text_length = text[i].second.size();
    }
    png_set_text(png, info, chunks.data(), int(chunks.size()));
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
      png_write_row(png, const_cast<png_bytep>(image.rgb.data() + std::size_t(y) * std::size_t(image.width) * 3));
    }
    png_write_end(png, info);
  }
  png_destroy_write_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr);
  const bool flushed = std::fflush(out) == 0 && ::fsync(::fileno(out)) == 0;
  const bool closed = std::fclose(out) == 0;
  if (!ok && errno == 0) errno = EIO;
  return ok && flushed && closed;
}

}  // namespace

std::string ThumbnailUri(const fs::path& file) {
  std::error_code ec;
  fs::path absolute = fs::absolute(file, ec);
  if (ec) absolute = file;
  return "file://" + percentEncoded(absolute.lexically_normal().string());
}

fs::path ThumbnailCacheFolder() {
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    return fs::path(cache) / "thumbnails";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return fs::path(home) / ".cache" / "thumbnails";
  }
  return {};
}

int filsavmod(const FileSpec& file, const RgbImage& preview, const std::string& mimeType) {
  const int side = std::max(preview.width, preview.height);
  if (preview.width < 1 || preview.height < 1 || side > kMaxStandardPreviewSide ||
      preview.rgb.size() != std::size_t(preview.width) * std::size_t(preview.height) * 3) {
    return kResultAbandoned;
  }
  struct stat info {};
  if (::stat(file.path().c_str(), &info) != 0) return fileError();
  const fs::path cache = ThumbnailCacheFolder();
  if (cache.empty()) return kFileErrorBase + ENOENT;
  const fs::path folder = cache / sizeClass(side);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return kFileErrorBase + ec.value();
  // The thumbnails are the user's own.
  ::chmod(cache.c_str(), 0700);
  ::chmod(folder.c_str(), 0700);

  const std::string uri = ThumbnailUri(file.path());
  gchar* md5 = g_compute_checksum_for_string(G_CHECKSUM_MD5, uri.data(), gssize(uri.size()));
  const std::string name = std::string(md5) + ".png";
  g_free(md5);
  const fs::path target = folder / name;
  const fs::path temporary = folder / (name + "." + std::to_string(::getpid()) + ".tmp");
  ::unlink(temporary.c_str());
  errno = 0;
  const std::vector<std::pair<std::string, std::string>> text = {
      {"Thumb::URI", uri},
      {"Thumb::MTime", std::to_string(static_cast<long long>(info.st_mtime))},
      {"Thumb::Size", std::to_string(static_cast<long long>(info.st_size))},
      {"Thumb::Mimetype", mimeType},
      {"Software", "tavpdf"}};
  if (!writePng(temporary, preview, text)) {
    const int error = fileError();
    ::unlink(temporary.c_str());
    return error;
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = fileError();
    ::unlink(temporary.c_str());
    return error;
  }
  return 0;
}

}  // namespace TavSys

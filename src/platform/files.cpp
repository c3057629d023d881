#include "platform/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/tav_error.h"

namespace fs = std::filesystem;

namespace TavSys {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string randomTag() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  return std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000) + "-" +
         std::to_string(counter++);
}

}  // namespace

std::string PercentEncode(std::string_view utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : utf8) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (alnum || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

FileSpec FileSpec::FromGenericPath(std::string_view utf8Path) {
  return FileSpec(fs::path(std::u8string(utf8Path.begin(), utf8Path.end())));
}

FileSpec FileSpec::FromFileURL(std::string_view url) {
  constexpr std::string_view prefix = "file://";
  if (url.substr(0, prefix.size()) != prefix) return {};
  std::string_view rest = url.substr(prefix.size());
  if (rest.empty() || rest.front() != '/') return {};  // only local absolute paths
  std::string decoded;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%') {
      if (i + 2 >= rest.size()) return {};
      const int hi = hexValue(rest[i + 1]);
      const int lo = hexValue(rest[i + 2]);
      if (hi < 0 || lo < 0) return {};
      decoded += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      decoded += rest[i];
    }
  }
  return FromGenericPath(decoded);
}

bool FileSpec::DoesExist() const {
  std::error_code ec;
  return IsValid() && fs::exists(path_, ec);
}

std::string FileSpec::GetFullPathUTF8() const {
  if (path_.empty()) return {};
  std::error_code ec;
  fs::path abs = fs::absolute(path_, ec);
  if (ec) abs = path_;
  const auto u8 = abs.lexically_normal().u8string();
  return std::string(u8.begin(), u8.end());
}

std::string FileSpec::GetFileNameUTF8() const {
  const auto u8 = path_.filename().u8string();
  return std::string(u8.begin(), u8.end());
}

std::string FileSpec::ToFileURL() const {
  if (!IsValid()) return {};
  return "file://" + PercentEncode(GetFullPathUTF8());
}

filref::filref(std::string_view genericPath)
    : path_(fs::path(std::u8string(genericPath.begin(), genericPath.end()))) {}

std::string filref::getFullPathAsUtf8() const { return FileSpec(path_).GetFullPathUTF8(); }

std::string filref::toFileURL() const { return FileSpec(path_).ToFileURL(); }

namespace FileSpecFunctions {
int DeleteFile(const FileSpec& spec) {
  if (!spec.IsValid()) return kFileErrorBase + EINVAL;
  if (::unlink(spec.path().c_str()) != 0 && errno != ENOENT) return kFileErrorBase + errno;
  return 0;
}
}  // namespace FileSpecFunctions

std::string GetFileErrorMessage(int code) {
  if (code > kFileErrorBase) return std::strerror(code - kFileErrorBase);
  return "error " + std::to_string(code);
}

fs::path uniqueSiblingPath(const fs::path& near, std::string_view tag) {
  fs::path dir = near.parent_path();
  if (dir.empty()) dir = ".";
  // The target's name is borrowed only in part, so that the temporary name
  // stays within the file system's name limit (255 bytes) even when the
  // target's own name nearly reaches it; the cut keeps UTF-8 characters whole.
  std::string name = near.filename().string();
  if (name.size() > 200) {
    std::size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return dir / ("." + name + "." + std::string(tag) + "-" + randomTag() + ".tmp");
}

AtomicOutputFile::AtomicOutputFile(fs::path target) : target_(std::move(target)) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = uniqueSiblingPath(target_, "part");
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return;
    }
    if (errno != EEXIST) {
      const int err = errno;
      temp_.clear();
      throw fileError(err, target_.string());
    }
  }
  temp_.clear();
  throw fileError(EEXIST, target_.string());
}

AtomicOutputFile::~AtomicOutputFile() {
  if (!committed_) discard();
}

void AtomicOutputFile::commit() {
  if (committed_) return;
  const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL) {
      discard();
      throw fileError(err, target_.string());
    }
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    discard();
    throw fileError(err, target_.string());
  }
  committed_ = true;
}

void AtomicOutputFile::discard() noexcept {
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

TempFolder::TempFolder(const fs::path& parent) {
  std::error_code ec;
  fs::path base = parent.empty() ? fs::temp_directory_path(ec) : parent;
  if (ec) base = "/tmp";
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path candidate = base / ("tavpdf-" + randomTag());
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate;
      return;
    }
  }
  throw fileError(ec ? ec.value() : EEXIST, base.string());
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

}  // namespace TavSys

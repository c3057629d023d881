#include "platform/files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string_view>
#include <utility>

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

namespace {

constexpr std::size_t kCopyBlock = 256 * 1024;

fs::path folderOf(const fs::path& file) {
  fs::path dir = file.parent_path();
  return dir.empty() ? fs::path(".") : dir;
}

}  // namespace

namespace {

bool allDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<pid>-<n>-<n>" at the end of a name: the process number, or 0.
pid_t ownerOfNumbers(std::string_view numbers) {
  const std::size_t last = numbers.rfind('-');
  if (last == std::string_view::npos || last == 0 || !allDigits(numbers.substr(last + 1))) return 0;
  const std::size_t middle = numbers.rfind('-', last - 1);
  if (middle == std::string_view::npos || !allDigits(numbers.substr(middle + 1, last - middle - 1))) return 0;
  const std::string_view pid = numbers.substr(0, middle);
  if (!allDigits(pid) || pid.size() > 9) return 0;
  pid_t owner = 0;
  for (char c : pid) owner = owner * 10 + (c - '0');
  return owner;
}

// The process number in a temporary's name, or 0 when the name is not one
// of ours: ".<name>.<tag>-<pid>-<n>-<n>.tmp" for files (the tag in small
// letters), "tavpdf-<pid>-<n>-<n>" for folders. Read by hand: the folders
// swept hold many names, and a pattern compiled for them costs more than the
// sweep.
pid_t temporaryOwner(std::string_view name, bool folder) {
  if (folder) {
    constexpr std::string_view kFolderHead = "tavpdf-";
    return name.starts_with(kFolderHead) ? ownerOfNumbers(name.substr(kFolderHead.size())) : 0;
  }
  constexpr std::string_view kFileTail = ".tmp";
  if (!name.starts_with('.') || !name.ends_with(kFileTail)) return 0;
  name.remove_suffix(kFileTail.size());
  // The tag runs from the last dot to the first dash after it; the numbers follow.
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return 0;
  const std::size_t dash = name.find('-', dot);
  if (dash == std::string_view::npos || dash == dot + 1) return 0;
  for (std::size_t i = dot + 1; i < dash; ++i) {
    if (name[i] < 'a' || name[i] > 'z') return 0;
  }
  return ownerOfNumbers(name.substr(dash + 1));
}

}  // namespace

void SweepStaleTemporaries(const fs::path& folder) {
  static std::mutex lock;
  static std::set<fs::path> swept;
  std::error_code ec;
  const fs::path where = fs::weakly_canonical(folder, ec);
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (!swept.insert(ec ? folder : where).second) return;
  }
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || (name.front() != '.' && !name.starts_with("tavpdf-"))) continue;
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) != 0 || info.st_uid != ::geteuid()) continue;
    const bool isFolder = S_ISDIR(info.st_mode);
    if (!isFolder && !S_ISREG(info.st_mode)) continue;
    const pid_t owner = temporaryOwner(name, isFolder);
    // A process that is still there (or that this user cannot ask about)
    // may be writing it.
    if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    if (isFolder) {
      fs::remove_all(it->path(), ignored);
    } else {
      fs::remove(it->path(), ignored);
    }
  }
}

fs::path uniqueSiblingPath(const fs::path& near, std::string_view tag) {
  const fs::path dir = folderOf(near);
  SweepStaleTemporaries(dir);
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

namespace {

fs::path temporaryName(const fs::path& folder, const fs::path& target) {
  return uniqueSiblingPath(folder / target.filename(), "part");
}

bool isDeviceOrPipe(const fs::file_status& status) {
  return fs::is_character_file(status) || fs::is_fifo(status);
}

}  // namespace

bool isDeviceOrPipe(const fs::path& path) {
  std::error_code ec;
  return isDeviceOrPipe(fs::status(path, ec));
}

OutputFile::OutputFile(fs::path target, bool staged) : target_(std::move(target)), staged_(staged) {
  std::error_code ec;
  if (fs::is_symlink(target_, ec)) {
    const fs::path resolved = fs::canonical(target_, ec);
    if (!ec) target_ = resolved;
  }
  const fs::file_status status = fs::status(target_, ec);
  const bool device = isDeviceOrPipe(status);
  if (device && !staged_) {
    // A pipe waits here for its reader.
    fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) fail(errno);
    inPlace_ = true;
    return;
  }
  if (!device && fs::exists(status) && !fs::is_regular_file(status))
    fail(fs::is_directory(status) ? EISDIR : EINVAL);
  if (staged_) {
    // Where the file goes at the end (the target's folder, or the device)
    // is checked now, so that a long write does not fail only at its end.
    const int rc = device ? ::access(target_.c_str(), W_OK) : ::access(folderOf(target_).c_str(), W_OK | X_OK);
    if (rc != 0) fail(errno);
    openTemporary(fs::temp_directory_path(ec));
  } else {
    openTemporary(folderOf(target_));
  }
}

OutputFile::~OutputFile() {
  if (!committed_) discard();
}

void OutputFile::openTemporary(const fs::path& folder) {
  folder_ = folder;
  // What a killed run left where this run writes: beside the target, and
  // in the temporary folder that every export may use.
  SweepStaleTemporaries(folder);
  std::error_code ec;
  if (const fs::path temporary = fs::temp_directory_path(ec); !ec) SweepStaleTemporaries(temporary);
#ifdef O_TMPFILE
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd_ >= 0) return;
  // File systems without anonymous files answer one of these.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) fail(errno);
#endif
  for (int attempt = 0; attempt < 16; ++attempt) {
    linked_ = temporaryName(folder, target_);
    fd_ = ::open(linked_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
    const int err = errno;
    linked_.clear();
    if (err != EEXIST) fail(err);
  }
  fail(EEXIST);
}

void OutputFile::fail(int err) {
  discard();
  throw fileError(err, target_.string());
}

void OutputFile::writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

const fs::path& OutputFile::linkedPath() {
  if (inPlace_) return target_;
  if (!linked_.empty()) return linked_;
  if (fd_ < 0) fail(EBADF);
  const std::string self = "/proc/self/fd/" + std::to_string(fd_);
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path name = temporaryName(folder_, target_);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      linked_ = std::move(name);
      return linked_;
    }
    if (errno != EEXIST) fail(errno);
  }
  fail(EEXIST);
}

void OutputFile::reopenLinked() {
  if (inPlace_ || linked_.empty() || fd_ < 0) return;
  const int fd = ::open(linked_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fail(errno);
  ::close(fd_);
  fd_ = fd;
}

fs::path OutputFile::readablePath() {
  if (inPlace_ || !linked_.empty() || fd_ < 0) return linkedPath();
  const fs::path self = "/proc/self/fd/" + std::to_string(fd_);
  std::error_code ec;
  if (!fs::exists(self, ec)) return linkedPath();
  return self;
}

void OutputFile::takeOver(OutputFile& other) {
  discard();
  target_ = other.target_;
  folder_ = other.folder_;
  fd_ = std::exchange(other.fd_, -1);
  linked_ = std::exchange(other.linked_, fs::path());
  inPlace_ = other.inPlace_;
  staged_ = other.staged_;
  committed_ = false;
}

void OutputFile::closeKeepingName() {
  if (inPlace_ || staged_ || fd_ < 0) return;
  if (::fsync(fd_) != 0 && errno != EINVAL) fail(errno);
  linkedPath();
  const int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0 && errno != EINTR) fail(errno);
}

void OutputFile::commit() {
  if (committed_) return;
  if (fd_ < 0 && (inPlace_ || linked_.empty())) fail(EBADF);
  if (inPlace_) {
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0 && errno != EINTR) fail(errno);
    committed_ = true;
    return;
  }
  if (staged_) {
    if (::fsync(fd_) != 0 && errno != EINVAL) fail(errno);
    // Copied into an output of its own beside the target (a device is
    // written in place then).
    OutputFile beside(target_);
    std::unique_ptr<char[]> block(new char[kCopyBlock]);
    for (off_t at = 0;;) {
      const ssize_t n = ::pread(fd_, block.get(), kCopyBlock, at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) fail(errno);
      if (n == 0) break;
      beside.writeAll({block.get(), static_cast<std::size_t>(n)});
      at += n;
    }
    beside.commit();
    discard();
    committed_ = true;
    return;
  }
  closeKeepingName();
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::chmod(linked_.c_str(), old.st_mode & 07777);
  if (::rename(linked_.c_str(), target_.c_str()) != 0) fail(errno);
  linked_.clear();
  committed_ = true;
}

void OutputFile::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!linked_.empty()) {
    ::unlink(linked_.c_str());
    linked_.clear();
  }
}

TempFolder::TempFolder(const fs::path& parent) {
  std::error_code ec;
  fs::path base = parent.empty() ? fs::temp_directory_path(ec) : parent;
  if (ec) base = "/tmp";
  SweepStaleTemporaries(base);
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

#pragma once
// File paths (FileSpec, filref) and the safe-writing helpers of the system library.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace TavSys {

// A file path that may or may not exist.
class FileSpec {
 public:
  FileSpec() = default;
  explicit FileSpec(std::filesystem::path path) : path_(std::move(path)) {}
  virtual ~FileSpec() = default;
  FileSpec(const FileSpec&) = default;
  FileSpec& operator=(const FileSpec&) = default;

  static FileSpec FromGenericPath(std::string_view utf8Path);
  // From "file:///abs/path" (percent escapes decoded); an invalid URL gives an
  // empty (invalid) FileSpec.
  static FileSpec FromFileURL(std::string_view url);

  virtual bool IsValid() const { return !path_.empty(); }
  bool DoesExist() const;
  std::string GetFullPathUTF8() const;
  std::string GetFileNameUTF8() const;
  // "file:///..." with unsafe characters percent-escaped; "" when invalid.
  std::string ToFileURL() const;
  const std::filesystem::path& path() const { return path_; }

  bool operator==(const FileSpec& other) const { return path_ == other.path_; }

 private:
  std::filesystem::path path_;
};

// A file reference as the job and the settings store it (an empty reference
// names no file).
class filref {
 public:
  filref() = default;
  explicit filref(std::string_view genericPath);
  filref(const filref&) = default;
  filref& operator=(const filref&) = default;
  ~filref() = default;

  void clear() { path_.clear(); }
  bool empty() const { return path_.empty(); }
  std::string getFullPathAsUtf8() const;
  // The file's name without its folder (UTF-8).
  std::string getNameAsUtf8() const { return path_.filename().string(); }
  // "" when empty.
  std::string toFileURL() const;
  FileSpec toFileSpec() const { return FileSpec(path_); }
  bool operator==(const filref& other) const { return path_ == other.path_; }

 private:
  std::filesystem::path path_;
};

// Percent-encoding of UTF-8 text for a URL: letters, digits and "/-_.~" stay,
// every other byte becomes %XX (upper-case hex).
std::string PercentEncode(std::string_view utf8);

namespace FileSpecFunctions {
// Deletes the file; 0 on success (or when it did not exist), a file error code otherwise.
int DeleteFile(const FileSpec& spec);
}  // namespace FileSpecFunctions

// The user text of a file error code (kFileErrorBase + errno).
std::string GetFileErrorMessage(int code);

// The one way the engine writes a file the user named (PDF, Illustrator and
// flavour files), so that the same rules hold for every writer:
// - a symbolic link is followed: the file it names is replaced, the link kept;
// - a device or a pipe is written in place (renaming would put a plain file
//   in its place), unless `staged` is set: the file is then made in the
//   system's temporary folder and copied to it by commit(); a folder or
//   another special file is refused;
// - any other target is written as an anonymous temporary file (Linux
//   O_TMPFILE) in the target's folder, or in the system's temporary folder
//   when `staged` is set, and gets a name only once complete: commit() links
//   it under a temporary name and renames that over the target. A crash or a
//   signal at any point before leaves no file behind; where the file system
//   cannot make anonymous files, a named temporary file stands in (removed
//   on every ordinary exit);
// - a replaced file keeps its permissions.
// Destroyed uncommitted, nothing of the output remains and the target is as
// it was.
class OutputFile {
 public:
  // Opens the output. Throws TavSys::Error (file error code, the target named)
  // when that is impossible.
  explicit OutputFile(std::filesystem::path target, bool staged = false);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The descriptor to write to; it stays owned by this object.
  int descriptor() const { return fd_; }
  // The target as resolved (a link's file).
  const std::filesystem::path& target() const { return target_; }
  bool writesInPlace() const { return inPlace_; }
  // Writes all bytes at the current offset; throws TavSys::Error on failure.
  void writeAll(std::string_view bytes);
  // A name under which the file written so far can be opened again by path
  // before commit() (the target itself for a device): an anonymous file is
  // linked under a temporary name in its folder. Throws TavSys::Error.
  const std::filesystem::path& linkedPath();
  // After the file under linkedPath() was replaced by another one (a pass
  // over the written file puts its result there): the descriptor is opened
  // on the new file. Nothing for an output written in place. Throws
  // TavSys::Error.
  void reopenLinked();
  // A name the file written so far can be read by without giving it a name
  // in its folder: the open file's name under /proc while it has none of
  // its own (linkedPath() where there is no /proc).
  std::filesystem::path readablePath();
  // The output takes the place of this one's file (a pass over the written
  // file made it): this one's file goes, as if discarded, and this output
  // goes on with the other's; the other is left empty.
  void takeOver(OutputFile& other);
  bool staged() const { return staged_; }
  // Flushes the complete file to disk and closes its descriptor, the file
  // keeping its temporary name until commit(): for a writer that holds many
  // complete files until it commits them all (that name then remains after
  // a crash). Throws TavSys::Error.
  void closeKeepingName();
  // Flushes to disk and puts the file in the target's place; throws
  // TavSys::Error on failure (nothing then remains and the target is
  // untouched).
  void commit();
  // Gives up the output now: nothing remains.
  void discard() noexcept;
  bool committed() const { return committed_; }

 private:
  void openTemporary(const std::filesystem::path& folder);
  [[noreturn]] void fail(int err);

  std::filesystem::path target_;
  std::filesystem::path folder_;  // where the temporary file lies
  std::filesystem::path linked_;  // its temporary name, once it has one
  int fd_ = -1;
  bool inPlace_ = false;
  bool staged_ = false;
  bool committed_ = false;
};

// A character device or a pipe (a link followed): a target OutputFile writes
// in place unless staged.
bool isDeviceOrPipe(const std::filesystem::path& path);

// A unique name for a temporary file next to `near` (not created):
// ".<name>.<tag>-<pid>-<random>-<count>.tmp".
std::filesystem::path uniqueSiblingPath(const std::filesystem::path& near, std::string_view tag);

// Removes what a run of this program that was killed left in `folder`:
// temporary files named as uniqueSiblingPath names them and folders named as
// TempFolder names them, whose process is gone and which belong to this
// user. Each folder is looked at once per process; every writer of
// temporaries calls it for the folder it writes in. Never throws.
void SweepStaleTemporaries(const std::filesystem::path& folder);

// A folder of temporary files, removed with everything in it on destruction:
// "tavpdf-<pid>-<random>-<count>".
class TempFolder {
 public:
  // Creates a fresh folder under `parent` (the system temporary folder when empty).
  explicit TempFolder(const std::filesystem::path& parent = {});
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace TavSys

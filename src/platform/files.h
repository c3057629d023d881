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

// A file written beside its target under a temporary name and moved over the
// target only by commit(); destroyed uncommitted, it removes the temporary
// file. The target is thus either left as it was or fully replaced.
class AtomicOutputFile {
 public:
  // Creates the temporary file (exclusively) in the target's folder. Throws
  // TavSys::Error with a file error code when that is impossible.
  explicit AtomicOutputFile(std::filesystem::path target);
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  const std::filesystem::path& tempPath() const { return temp_; }
  const std::filesystem::path& target() const { return target_; }
  // Flushes to disk and renames over the target; throws TavSys::Error on failure
  // (the temporary file is then removed and the target untouched).
  void commit();
  // Removes the temporary file now.
  void discard() noexcept;
  bool committed() const { return committed_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  bool committed_ = false;
};

// A folder of temporary files, removed with everything in it on destruction.
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

// A unique name for a temporary file next to `near` (not created).
std::filesystem::path uniqueSiblingPath(const std::filesystem::path& near, std::string_view tag);

}  // namespace TavSys

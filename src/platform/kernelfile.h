#pragma once
// The kernel's output file: an open file that the writers fill through three
// routes (a sink, direct bytes, printf-style text). It buffers internally, but
// its position counts every byte issued by any route, in issue order, so that
// the position is always the offset the next byte will land at.
//
// Write errors are sticky: the first one is kept (kFileErrorBase + errno),
// later bytes are counted but dropped, and flush() / close() report it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace TavSys {

class fil {
 public:
  // A file kept in memory (contents()); used where the bytes are wanted back.
  fil();
  // Adopts an open descriptor positioned at its start offset; closes it on
  // destruction when ownsDescriptor is true.
  fil(int descriptor, bool ownsDescriptor, std::filesystem::path path = {});
  // Flushes and closes; an error at this point is lost, so callers that care
  // call close() first.
  ~fil();
  fil(const fil&) = delete;
  fil& operator=(const fil&) = delete;

  // Creates (or truncates) a file for writing. Throws TavSys::Error with a file
  // error code when it cannot be opened. The caller owns the result.
  static std::unique_ptr<fil> create(const std::filesystem::path& path);

  void putByte(std::uint8_t byte) {
    if (used_ == kBufferSize) flushBuffer();
    buffer_[used_++] = byte;
  }
  void write(const void* data, std::size_t count) {
    // Most writes are a few bytes of syntax: copied here without a call.
    if (count <= kSmallWrite && kBufferSize - used_ >= count) {
      // Word-sized copies of a known size need no library call.
      // The last word of a piece may overlap the one before it.
      const auto* p = static_cast<const std::uint8_t*>(data);
      std::uint8_t* out = buffer_.get() + used_;
      if (count >= 8) {
        for (std::size_t i = 0; i + 8 < count; i += 8) __builtin_memcpy(out + i, p + i, 8);
        __builtin_memcpy(out + count - 8, p + count - 8, 8);
      } else if (count >= 4) {
        __builtin_memcpy(out, p, 4);
        __builtin_memcpy(out + count - 4, p + count - 4, 4);
      } else if (count > 0) {
        out[0] = p[0];
        out[count / 2] = p[count / 2];
        out[count - 1] = p[count - 1];
      }
      used_ += count;
      return;
    }
    writeBlock(data, count);
  }

  // Room for up to `count` bytes (at most 4,096) at the position, to format
  // into directly; commit() then takes the bytes actually used.
  std::uint8_t* reserve(std::size_t count) {
    if (kBufferSize - used_ < count) flushBuffer();
    return buffer_.get() + used_;
  }
  void commit(std::size_t count) { used_ += count; }

  // Offset at which the next byte lands.
  std::uint64_t position() const { return base_ + used_; }
  // Moves the position (after writing out what is buffered). Returns false and
  // records the error when the file cannot seek.
  bool setPosition(std::uint64_t position);

  // Writes out the buffer; returns the sticky error code (0 when none).
  int flush();
  // Flushes and closes the descriptor (when owned); returns the first error of
  // the file's life, 0 when every byte reached the file.
  int close();
  // The first error met, 0 when none.
  int error() const { return error_; }
  bool isOpen() const { return open_; }

  bool isMemory() const { return descriptor_ < 0; }
  // The bytes of a memory file (the buffer is flushed into them first).
  const std::string& contents();
  const std::filesystem::path& path() const { return path_; }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  static constexpr std::size_t kSmallWrite = 64;
  void writeBlock(const void* data, std::size_t count);
  void flushBuffer();
  void fail(int err);

  int descriptor_ = -1;
  bool ownsDescriptor_ = false;
  bool open_ = true;
  std::filesystem::path path_;
  std::string memory_;
  std::uint64_t base_ = 0;  // file offset of buffer_[0]
  std::size_t used_ = 0;
  int error_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

// The kernel calls on an open file (the file stays the caller's).
std::uint64_t filpos(fil* file);
// Sets the position; 0 on success, else the file's error code.
int filpos(fil* file, std::uint64_t position);
// The buffered one-byte write.
void filwribyt(fil* file, std::uint8_t byte);
void filwri(fil* file, const void* data, std::size_t count);
// printf-style text, formatted in the "C" locale whatever the process locale;
// returns the number of bytes written, or -1 when the format failed.
int filwrifmt(fil* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace TavSys

#include "platform/kernelfile.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/tav_error.h"

namespace TavSys {

fil::fil() : buffer_(new std::uint8_t[kBufferSize]) {}

fil::fil(int descriptor, bool ownsDescriptor, std::filesystem::path path)
    : descriptor_(descriptor),
      ownsDescriptor_(ownsDescriptor),
      path_(std::move(path)),
      buffer_(new std::uint8_t[kBufferSize]) {
  const off_t at = ::lseek(descriptor_, 0, SEEK_CUR);
  // Devices and pipes cannot tell their offset; they start at 0.
  base_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
}

fil::~fil() { close(); }

std::unique_ptr<fil> fil::create(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw fileError(errno, path.string());
  return std::make_unique<fil>(fd, true, path);
}

void fil::fail(int err) {
  if (error_ == 0) error_ = kFileErrorBase + err;
}

void fil::flushBuffer() {
  if (used_ == 0) return;
  if (!open_) {
    fail(EBADF);
  } else if (error_ == 0) {
    if (isMemory()) {
      const std::size_t at = static_cast<std::size_t>(base_);
      if (memory_.size() < at + used_) memory_.resize(at + used_, '\0');
      std::memcpy(memory_.data() + at, buffer_.get(), used_);
    } else {
      const std::uint8_t* p = buffer_.get();
      std::size_t left = used_;
      while (left > 0) {
        const ssize_t n = ::write(descriptor_, p, left);
        if (n < 0) {
          if (errno == EINTR) continue;
          fail(errno);
          break;
        }
        if (n == 0) {
          fail(ENOSPC);
          break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
      }
    }
  }
  // The bytes count as issued even when they could not be written: positions
  // stay consistent, and the sticky error tells that the file is bad.
  base_ += used_;
  used_ = 0;
}

void fil::writeBlock(const void* data, std::size_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (count >= kBufferSize) {
    flushBuffer();
    // Large blocks bypass the buffer; they go through it in buffer-sized pieces
    // so that the error and position handling stay in one place.
    while (count > 0) {
      const std::size_t n = count < kBufferSize ? count : kBufferSize;
      std::memcpy(buffer_.get(), p, n);
      used_ = n;
      flushBuffer();
      p += n;
      count -= n;
    }
    return;
  }
  if (kBufferSize - used_ < count) flushBuffer();
  std::memcpy(buffer_.get() + used_, p, count);
  used_ += count;
}

bool fil::setPosition(std::uint64_t position) {
  flushBuffer();
  if (!isMemory()) {
    if (!open_) {
      fail(EBADF);
      return false;
    }
    if (::lseek(descriptor_, static_cast<off_t>(position), SEEK_SET) < 0) {
      fail(errno);
      return false;
    }
  }
  base_ = position;
  return true;
}

int fil::flush() {
  flushBuffer();
  return error_;
}

int fil::close() {
  if (!open_) return error_;
  flushBuffer();
  open_ = false;
  if (!isMemory() && ownsDescriptor_) {
    if (::close(descriptor_) != 0) fail(errno);
  }
  return error_;
}

const std::string& fil::contents() {
  flushBuffer();
  return memory_;
}

std::uint64_t filpos(fil* file) { return file->position(); }

int filpos(fil* file, std::uint64_t position) {
  return file->setPosition(position) ? 0 : file->error();
}

void filwribyt(fil* file, std::uint8_t byte) { file->putByte(byte); }

void filwri(fil* file, const void* data, std::size_t count) { file->write(data, count); }

int filwrifmt(fil* file, const char* format, ...) {
  // The process locale must not change a decimal point into a comma.
  static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const locale_t previous = cLocale ? ::uselocale(cLocale) : static_cast<locale_t>(nullptr);
  char small[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    file->write(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    n = std::vsnprintf(big.data(), big.size(), format, again);
    if (n >= 0) file->write(big.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
  if (previous) ::uselocale(previous);
  return n;
}

}  // namespace TavSys

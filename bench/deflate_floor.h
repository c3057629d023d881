#pragma once
// The floor of the benchmarks that write Flate streams: zlib's deflate at
// level 8 over the same bytes, its output thrown away.
#include <zlib.h>

#include <cstddef>
#include <vector>

namespace tavbench {

class DeflateFloor {
 public:
  DeflateFloor() { deflateInit(&mZ, 8); }
  ~DeflateFloor() { deflateEnd(&mZ); }
  DeflateFloor(const DeflateFloor&) = delete;
  DeflateFloor& operator=(const DeflateFloor&) = delete;

  void add(const unsigned char* data, std::size_t size) { run(data, size, Z_NO_FLUSH); }
  void finish() { run(nullptr, 0, Z_FINISH); }

 private:
  void run(const unsigned char* data, std::size_t size, int flush) {
    mZ.next_in = const_cast<Bytef*>(data);
    mZ.avail_in = uInt(size);
    int rc;
    do {
      mZ.next_out = mOut.data();
      mZ.avail_out = uInt(mOut.size());
      rc = deflate(&mZ, flush);
    } while (mZ.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  }

  z_stream mZ{};
  std::vector<unsigned char> mOut = std::vector<unsigned char>(64 * 1024);
};

}  // namespace tavbench

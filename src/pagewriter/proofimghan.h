#pragma once
// The row handler of an image that a walker backend is writing: the backend's
// outpixbegin creates one, the walker hands it rows through outpixrow and
// closes it with outpixend.
#include <cstdint>

class proofimghan {
 public:
  proofimghan() = default;
  proofimghan(const proofimghan&) = delete;
  proofimghan& operator=(const proofimghan&) = delete;

  // One row (or a piece of one) of pixels × planes interleaved bytes.
  virtual int WriteRows(const std::uint8_t* row, int pixels, int planes) = 0;
  // Called once before the first row.
  virtual void Begin();
  virtual ~proofimghan();
};

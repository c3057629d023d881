#pragma once
// The ASCII85 encoder base of the general library: bytes in through encode(),
// characters out through the one virtual output operation. finish() writes the
// last partial group and the end marker "~>". Lines are broken after 72
// characters so that the encoded text stays readable.
#include <cstdint>

namespace TavGen {

class Ascii85outBase {
 public:
  Ascii85outBase() = default;
  virtual ~Ascii85outBase();
  Ascii85outBase(const Ascii85outBase&) = delete;
  Ascii85outBase& operator=(const Ascii85outBase&) = delete;

  void encode(std::uint8_t byte);
  // Writes the pending group and "~>"; the encoder can then start again.
  void finish();

 protected:
  virtual void output(char c) = 0;

 private:
  void put(char c);
  void writeGroup(int count);

  std::uint32_t mTuple = 0;
  int mCount = 0;
  int mColumn = 0;
};

}  // namespace TavGen

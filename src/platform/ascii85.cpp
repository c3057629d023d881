#include "platform/ascii85.h"

namespace TavGen {

namespace {
constexpr int kLineLength = 72;
}

Ascii85outBase::~Ascii85outBase() = default;

void Ascii85outBase::put(char c) {
  if (mColumn == kLineLength) {
    output('\n');
    mColumn = 0;
  }
  output(c);
  ++mColumn;
}

void Ascii85outBase::writeGroup(int count) {
  if (count == 4 && mTuple == 0) {
    put('z');
    return;
  }
  char digits[5];
  std::uint32_t v = mTuple;
  for (int i = 4; i >= 0; --i) {
    digits[i] = static_cast<char>('!' + v % 85);
    v /= 85;
  }
  // A partial group of n bytes is written as its first n + 1 characters.
  for (int i = 0; i <= count; ++i) put(digits[i]);
}

void Ascii85outBase::encode(std::uint8_t byte) {
  mTuple |= static_cast<std::uint32_t>(byte) << (24 - 8 * mCount);
  if (++mCount == 4) {
    writeGroup(4);
    mTuple = 0;
    mCount = 0;
  }
}

void Ascii85outBase::finish() {
  if (mCount > 0) writeGroup(mCount);
  mTuple = 0;
  mCount = 0;
  // The end marker is never split across lines.
  if (mColumn + 2 > kLineLength) {
    output('\n');
    mColumn = 0;
  }
  output('~');
  output('>');
  mColumn = 0;
}

}  // namespace TavGen

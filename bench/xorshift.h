// The benchmarks' job generators draw their numbers from one fixed
// xorshift sequence, so that every run writes the same job.
#pragma once

namespace tavbench {

class XorShift {
 public:
  // A number in [0, range).
  int operator()(unsigned range) {
    mState ^= mState << 13;
    mState ^= mState >> 17;
    mState ^= mState << 5;
    return static_cast<int>(mState % range);
  }

 private:
  unsigned mState = 2463534242u;
};

}  // namespace tavbench

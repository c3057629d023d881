#pragma once
// Ink shares expected at points of measured plates, as one table a test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/consumers.h"

namespace tavtest {

// `share` (0..1) of `ink` at (x, y), in PDF points from the lower left corner.
struct InkAt {
  std::string ink;
  double x, y, share;
};

inline void expectInks(const Plates& plates, const std::vector<InkAt>& expected, double tolerance = 0.02) {
  for (const InkAt& i : expected) {
    EXPECT_NEAR(plates.inkAtPoint(i.ink, i.x, i.y), i.share, tolerance)
        << i.ink << " at " << i.x << ", " << i.y << ": " << plates.summary();
  }
}

}  // namespace tavtest

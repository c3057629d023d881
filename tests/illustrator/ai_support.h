#pragma once
// Helpers of the Illustrator tests: a small job, and Ghostscript reading or
// rendering the files after the test prolog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

#include "pagewriter/walker_support.h"
#include "support/consumers.h"

namespace aitest {

// 100 × 100 points (ppi 72), the origin at the bottom left of the media box.
inline walkertest::JobBuilder aiJob() {
  walkertest::JobBuilder b;
  b.job().name = "test";
  b.job().boxes[kMediaBox] = TavDB::tv_box{0, 0, 100, 100};
  b.job().origin = {100, 0};
  return b;
}

inline std::filesystem::path prolog() { return tavtest::sourceDir() / "tests" / "illustrator" / "ai_prolog.ps"; }

// A PostScript program rendering the Illustrator file on a page of w × h points.
inline std::filesystem::path renderable(const std::filesystem::path& ai, int w, int h) {
  std::filesystem::path ps = ai;
  ps.replace_extension(".ps");
  tavtest::writeFile(ps, tavtest::readFile(prolog()) + "<< /PageSize [" + std::to_string(w) + " " +
                             std::to_string(h) + "] >> setpagedevice\n" + tavtest::readFile(ai) +
                             "\nshowpage\n");
  return ps;
}

// Ghostscript reads the file after the prolog without error and without
// leaving operands behind; the file may read (placed files) from `readable`.
inline void expectSyntaxAccepted(const std::filesystem::path& ai, const std::filesystem::path& readable = {}) {
  std::vector<std::string> args = {"gs", "-q", "-dNODISPLAY", "-dBATCH", "-dNOPAUSE", "-dSAFER"};
  if (!readable.empty()) args.push_back("--permit-file-read=" + readable.string() + "/");
  args.insert(args.end(), {prolog().string(), ai.string(), "-c", "count 0 ne { (operands left) = 1 quit } if"});
  const auto r = tavtest::runProcess(args);
  EXPECT_TRUE(r.started && r.exitCode == 0 && r.out.empty()) << ai << "\n" << r.describe();
}

// Each ink's coverage of the page is within 2 % of the ink's coverage in the
// reference (at least 0.02 % of the page), and the same inks have plates.
inline void expectSamePlates(const tavtest::Plates& got, const tavtest::Plates& want, const std::string& what) {
  for (const auto& [ink, coverage] : want.coverage) {
    ASSERT_TRUE(got.coverage.count(ink)) << what << ": no plate " << ink << "; " << got.summary();
    EXPECT_NEAR(got.coverage.at(ink), coverage, std::max(0.02 * coverage, 0.0002))
        << what << ": " << ink << "\n  got  " << got.summary() << "\n  want " << want.summary();
  }
  EXPECT_EQ(got.coverage.size(), want.coverage.size()) << what << ": " << got.summary();
}

// Where the ink lies, not only how much: each ink's mean over every square
// cell of `cell` pixels is within `tolerance` of the reference's (both
// rendered at one resolution and size).
inline void expectSameCells(const tavtest::Plates& got, const tavtest::Plates& want, int cell, double tolerance,
                            const std::string& what) {
  for (const auto& [ink, reference] : want.plates) {
    ASSERT_TRUE(got.plates.count(ink)) << what << ": no plate " << ink;
    const tavtest::Plate& plate = got.plates.at(ink);
    ASSERT_EQ(plate.width, reference.width) << what;
    ASSERT_EQ(plate.height, reference.height) << what;
    int differing = 0;
    for (int y0 = 0; y0 < plate.height; y0 += cell) {
      for (int x0 = 0; x0 < plate.width; x0 += cell) {
        double a = 0, b = 0;
        int n = 0;
        for (int y = y0; y < std::min(y0 + cell, plate.height); ++y) {
          for (int x = x0; x < std::min(x0 + cell, plate.width); ++x, ++n) {
            a += plate.inkAtPixel(x, y);
            b += reference.inkAtPixel(x, y);
          }
        }
        if (std::abs(a - b) / n > tolerance && ++differing <= 5) {
          ADD_FAILURE() << what << ": " << ink << " in the cell at pixel (" << x0 << ", " << y0 << "): " << a / n
                        << " instead of " << b / n;
        }
      }
    }
  }
}

}  // namespace aitest

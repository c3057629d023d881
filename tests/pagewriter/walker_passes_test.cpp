// The colour-pass protocol of the walker: which passes a paint is drawn in,
// with which overprint, for process colour and for colour-space objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "walker_support.h"

using namespace walkertest;
using ::testing::ElementsAre;

namespace {

struct Passes {
  std::vector<int> results;
  std::vector<std::string> events;
};

Passes runPasses(jobstr* job, std::uint16_t paint, bool keepInvisible = false,
                 int mode = genproof::kCompositeProcess) {
  TavDB::ScopedCurrentJob current(job);
  RecordingProof proof(job, 1, 500000, mode, keepInvisible);
  Passes p;
  int pass = proof.WritePaintColor(paint, 0);
  p.results.push_back(pass);
  for (int guard = 0; pass >= 0 && guard < 100; ++guard) {
    pass = proof.WritePaintColor(paint, pass);
    p.results.push_back(pass);
  }
  p.events = events(proof.text());
  return p;
}

}  // namespace

TEST(WalkerPasses, ProcessAndSpotInksAreDrawnInSeparationOrder) {
  JobBuilder b;
  const int orange = b.addSpot("Orange", 0, 50, 100, 0);
  const auto paint = b.flat({{0, 30}, {1, 0}, {2, 0}, {3, 0}, {orange, 50}});
  const Passes p = runPasses(b.get(), paint);
  EXPECT_THAT(p.results, ElementsAre(1, orange + 1, -1));
  EXPECT_THAT(p.events, ElementsAre("Overprint 0", "Color 30 0 0 0 -1 0",   // process pass
                                    "Overprint 1", "Color 0 50 100 0 4 50"));  // spot overprints
}

TEST(WalkerPasses, UntouchedInksOverprintAndAreNotDrawn) {
  JobBuilder b;
  // Cyan untouched, black 100 %: the process pass overprints and leaves cyan 0.
  const Passes p = runPasses(b.get(), b.flat({{0, 255}, {3, 100}}));
  EXPECT_THAT(p.results, ElementsAre(4, -1));
  EXPECT_THAT(p.events, ElementsAre("Overprint 1", "Color 0 0 0 100 -1 0"));
}

TEST(WalkerPasses, APaintWithoutInkKnocksOutOnce) {
  JobBuilder b;
  const int orange = b.addSpot("Orange", 0, 50, 100, 0);
  const Passes zero = runPasses(b.get(), b.flat({{0, 0}, {1, 0}, {2, 0}, {3, 0}, {orange, 0}}));
  EXPECT_THAT(zero.results, ElementsAre(4, -1));
  EXPECT_THAT(zero.events, ElementsAre("Overprint 0", "Color 0 0 0 0 -1 0"));

  // Only a spot ink at 0 %: the knockout pass is that ink.
  const Passes spotZero = runPasses(b.get(), b.flat({{orange, 0}}));
  EXPECT_THAT(spotZero.results, ElementsAre(orange + 1, -1));
  EXPECT_THAT(spotZero.events, ElementsAre("Overprint 1", "Color 0 50 100 0 4 0"));
}

TEST(WalkerPasses, AllUntouchedDrawsNothingUnlessInvisibleIsKept) {
  JobBuilder b;
  const auto paint = b.flat({{0, 255}, {1, 255}, {2, 255}, {3, 255}});
  const Passes hidden = runPasses(b.get(), paint);
  EXPECT_THAT(hidden.results, ElementsAre(-1));
  EXPECT_TRUE(hidden.events.empty());
  const Passes kept = runPasses(b.get(), paint, true);
  EXPECT_THAT(kept.results, ElementsAre(1, -1));
}

TEST(WalkerPasses, TwoSpotInksGiveTwoPassesAndAnUndefinedPaintNone) {
  JobBuilder b;
  const int a = b.addSpot("A", 10, 0, 0, 0);
  const int c = b.addSpot("B", 0, 10, 0, 0);
  const Passes p = runPasses(b.get(), b.flat({{a, 40}, {c, 60}}));
  EXPECT_THAT(p.results, ElementsAre(a + 1, c + 1, -1));
  EXPECT_THAT(p.events, ElementsAre("Overprint 1", "Color 10 0 0 0 4 40", "Overprint 1",
                                    "Color 0 10 0 0 5 60"));
  EXPECT_THAT(runPasses(b.get(), 999).results, ElementsAre(-1));
}

TEST(WalkerPasses, ColourSpaceModeDrawsOnePassPerPart) {
  JobBuilder b;
  const int orange = b.addSpot("Orange", 0, 50, 100, 0);
  const Passes p = runPasses(b.get(), b.flat({{0, 30}, {orange, 50}}), false,
                             genproof::kColorSpaceObjects);
  EXPECT_THAT(p.results, ElementsAre(1, -1));
  ASSERT_EQ(p.events.size(), 1u);
  EXPECT_EQ(p.events[0], "ColorSpace 0 " + std::to_string(orange));
}

TEST(WalkerPasses, WriteColorChoosesSpotOrProcess) {
  JobBuilder b;
  const int orange = b.addSpot("Orange", 0, 50, 100, 0);
  const auto spotColour = b.colour({{orange, 40}});
  const auto processColour = b.colour({{1, 20}, {orange, 40}});
  const auto emptyColour = b.colour({{orange, 255}});
  TavDB::ScopedCurrentJob current(b.get());
  RecordingProof proof(b.get());
  proof.WriteColor(spotColour, true);
  proof.WriteColor(processColour, true);
  proof.WriteColor(emptyColour, false);
  EXPECT_THAT(events(proof.text()),
              ElementsAre("Overprint 1", "Color 0 50 100 0 4 40",    // no process ink: the spot
                          "Overprint 1", "Color 0 20 0 0 -1 0",      // process value wins
                          "Color 0 0 0 0 -1 0"));                   // nothing: CMYK white
}

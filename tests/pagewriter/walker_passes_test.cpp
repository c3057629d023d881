// The colour-pass protocol of the walker: which passes a paint is drawn in,
// with which overprint, for process colour and for colour-space objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "walker_support.h"

using namespace walkertest;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

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

// CMYK in slots 0..3, "Orange" in slot 4 and "Blue" in slot 5.
constexpr int kOrange = 4, kBlue = 5;

struct PassCase {
  const char* what;
  std::vector<std::pair<int, int>> inks;  // the others are untouched (255)
  bool keepInvisible;
  std::vector<int> results;
  std::vector<std::string> events;
};

}  // namespace

TEST(WalkerPasses, PassesFollowTheSeparationOrder) {
  const std::vector<PassCase> cases = {
      {"process pass, then the spot pass overprinting",
       {{0, 30}, {1, 0}, {2, 0}, {3, 0}, {kOrange, 50}, {kBlue, 0}}, false, {1, kOrange + 1, -1},
       {"Overprint 0", "Color 30 0 0 0 -1 0", "Overprint 1", "Color 0 50 100 0 4 50"}},
      {"an untouched ink overprints and adds nothing",
       {{0, 255}, {3, 100}}, false, {4, -1}, {"Overprint 1", "Color 0 0 0 100 -1 0"}},
      {"no ink at all knocks out once in CMYK white",
       {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {kOrange, 0}, {kBlue, 0}}, false, {4, -1},
       {"Overprint 0", "Color 0 0 0 0 -1 0"}},
      {"only a spot ink at 0 %: the knockout pass is that ink",
       {{kOrange, 0}}, false, {kOrange + 1, -1}, {"Overprint 1", "Color 0 50 100 0 4 0"}},
      {"all inks untouched: nothing", {}, false, {-1}, {}},
      {"all untouched, invisible kept: process and each spot",
       {}, true, {1, kOrange + 1, kBlue + 1, -1},
       {"Overprint 1", "Color 0 0 0 0 -1 0", "Overprint 1", "Color 0 50 100 0 4 255",
        "Overprint 1", "Color 0 0 100 0 5 255"}},
      {"two spot inks, two overprinting passes",
       {{kOrange, 40}, {kBlue, 60}}, false, {kOrange + 1, kBlue + 1, -1},
       {"Overprint 1", "Color 0 50 100 0 4 40", "Overprint 1", "Color 0 0 100 0 5 60"}},
  };
  for (const PassCase& c : cases) {
    JobBuilder b;
    ASSERT_EQ(b.addSpot("Orange", 0, 50, 100, 0), kOrange);
    ASSERT_EQ(b.addSpot("Blue", 0, 0, 100, 0), kBlue);
    const std::uint16_t colour = b.colour({});
    for (auto [slot, pct] : c.inks) b.job().colours[colour].pct[slot] = std::uint8_t(pct);
    const Passes p = runPasses(b.get(), b.flat(colour), c.keepInvisible);
    EXPECT_THAT(p.results, ElementsAreArray(c.results)) << c.what;
    EXPECT_THAT(p.events, ElementsAreArray(c.events)) << c.what;
  }
  // A paint the job does not have draws nothing.
  JobBuilder b;
  EXPECT_THAT(runPasses(b.get(), 999).results, ElementsAre(-1));
}

TEST(WalkerPasses, ColourSpaceModeDrawsOnePassPerPart) {
  JobBuilder b;
  const int orange = b.addSpot("Orange", 0, 50, 100, 0);
  const Passes p = runPasses(b.get(), b.flat({{0, 30}, {orange, 50}}), false,
                             genproof::kColorSpaceObjects);
  EXPECT_THAT(p.results, ElementsAre(1, -1));
  EXPECT_THAT(p.events, ElementsAre("ColorSpace 0 " + std::to_string(orange)));
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

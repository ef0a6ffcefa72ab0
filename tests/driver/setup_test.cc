#include "driver/setup.h"

#include <gtest/gtest.h>

namespace takeloom {
namespace {

TEST(SetupTest, SuffixComesFromExactlyOneArgument) {
  EXPECT_EQ(SuffixFromArgs({}), "_bld.wav");
  EXPECT_EQ(SuffixFromArgs({"_mix.wav"}), "_mix.wav");
  EXPECT_EQ(SuffixFromArgs({"_mix"}), "_mix");
  EXPECT_EQ(SuffixFromArgs({"_a.wav", "_b.wav"}), "_bld.wav");
}

TEST(SetupTest, AllTracksDefaultFillsTracksOfTypeZero) {
  CrossfadeParams params;
  params.tracks[1] = {3, 50};
  params.tracks[2] = {0, 80};   // type 0: replaced by the default
  params.tracks[9] = {2, 10};   // beyond the track count: no effect
  params.all = {1, 200};
  const auto xf = TrackCrossfades(params, 3);
  ASSERT_EQ(xf.size(), 3u);
  EXPECT_EQ(xf[0].type, 3);
  EXPECT_EQ(xf[0].length_ms, 50);
  EXPECT_EQ(xf[1].type, 1);
  EXPECT_EQ(xf[1].length_ms, 200);
  EXPECT_EQ(xf[2].type, 1);

  params.all = {0, 200};  // an xf_all of type 0 changes nothing
  EXPECT_EQ(TrackCrossfades(params, 3)[1].length_ms, 80);
  EXPECT_EQ(TrackCrossfades(params, 3)[2].type, 0);
}

TEST(SetupTest, CrossfadeCheckNamesTheFirstBadTrack) {
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(CheckTrackCrossfades({{0, 0}, {4, 10}, {0, -5}}), std::nullopt);
  EXPECT_EQ(CheckTrackCrossfades({{1, 10}, {-1, 10}, {5, 10}}),
            ">> Invalid crossfade for track 2 in loomrc.txt, exiting\n");
  EXPECT_EQ(CheckTrackCrossfades({{0, inf}}),
            ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n");
  EXPECT_EQ(CheckTrackCrossfades({{0, 1}, {2, -0.5f}}),
            ">> Invalid crossfade for track 2 in loomrc.txt, exiting\n");
}

TEST(SetupTest, EditTimesMustAscendAndBeUsable) {
  EXPECT_EQ(CheckEditOrder({0, 5, 5, 9}), std::nullopt);
  EXPECT_EQ(CheckEditOrder({7}), std::nullopt);
  EXPECT_EQ(CheckEditOrder({0, 5, 4}),
            ">> Edit 3 is out of sequence, exiting\n");
  EXPECT_EQ(CheckEditOrder({3, 1, 0}),
            ">> Edit 2 is out of sequence, exiting\n");

  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(CheckEditTimes({-1, 3}), std::nullopt);
  EXPECT_EQ(CheckEditTimes({-inf, 3}),
            ">> Edit 1 has an invalid time, exiting\n");
  EXPECT_EQ(CheckEditTimes({-2, -1}),
            ">> Edit 2 has an invalid time, exiting\n");
  EXPECT_EQ(CheckEditTimes({0, 1, inf}),
            ">> Edit 3 has an invalid time, exiting\n");
}

}  // namespace
}  // namespace takeloom

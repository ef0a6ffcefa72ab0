#include "driver/setup.h"

#include <gtest/gtest.h>

namespace takeloom {
namespace {

std::pair<Fault, int64_t> Numbered(const Error& err) {
  return {err.fault, err.number};
}

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
  EXPECT_TRUE(CheckTrackCrossfades({{0, 0}, {4, 10}, {0, -5}}).ok());
  EXPECT_EQ(Numbered(CheckTrackCrossfades({{1, 10}, {-1, 10}, {5, 10}})),
            (std::pair{Fault::kInvalidCrossfade, int64_t{2}}));
  EXPECT_EQ(Numbered(CheckTrackCrossfades({{0, inf}})),
            (std::pair{Fault::kInvalidCrossfade, int64_t{1}}));
  EXPECT_EQ(Numbered(CheckTrackCrossfades({{0, 1}, {2, -0.5f}})),
            (std::pair{Fault::kInvalidCrossfade, int64_t{2}}));
}

TEST(SetupTest, EditTimesMustAscendAndBeUsable) {
  EXPECT_TRUE(CheckEditOrder({0, 5, 5, 9}).ok());
  EXPECT_TRUE(CheckEditOrder({7}).ok());
  EXPECT_EQ(Numbered(CheckEditOrder({0, 5, 4})),
            (std::pair{Fault::kOutOfSequence, int64_t{3}}));
  EXPECT_EQ(Numbered(CheckEditOrder({3, 1, 0})),
            (std::pair{Fault::kOutOfSequence, int64_t{2}}));

  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(CheckEditTimes({-1, 3}).ok());
  EXPECT_EQ(Numbered(CheckEditTimes({-inf, 3})),
            (std::pair{Fault::kInvalidTime, int64_t{1}}));
  EXPECT_EQ(Numbered(CheckEditTimes({-2, -1})),
            (std::pair{Fault::kInvalidTime, int64_t{2}}));
  EXPECT_EQ(Numbered(CheckEditTimes({0, 1, inf})),
            (std::pair{Fault::kInvalidTime, int64_t{3}}));
}

}  // namespace
}  // namespace takeloom

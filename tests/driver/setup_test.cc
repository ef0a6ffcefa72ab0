#include "driver/setup.h"

#include <gtest/gtest.h>

namespace takeloom {
namespace {

std::pair<Fault, int64_t> Numbered(const Error& err) {
  return {err.fault, err.number};
}

EditList Edits(std::string_view text) {
  EditList list;
  EXPECT_TRUE(ParseEditList(text, &list).ok()) << text;
  return list;
}

TEST(SetupTest, CommandLineGivesOptionsThenOneSuffix) {
  struct Case {
    std::vector<std::string> args;
    Fault fault;
    std::string suffix = "", takes = "";
    bool dry_run = false;
  };
  const std::string plain = "{track}{take}.wav";
  const Case cases[] = {
      {{}, Fault::kNone, "_bld.wav", plain, false},
      {{"_mix"}, Fault::kNone, "_mix", plain, false},
      {{"-mix.wav"}, Fault::kNone, "-mix.wav", plain, false},  // no option
      {{"-n", "_mix.wav"}, Fault::kNone, "_mix.wav", plain, true},
      {{"--takes", "{take}_{track}.WAV", "--dry-run"}, Fault::kNone,
       "_bld.wav", "{take}_{track}.WAV", true},
      {{"_a.wav", "_b.wav"}, Fault::kTooManyArguments},
      {{"_mix.wav", "-n"}, Fault::kTooManyArguments},
      {{"--verbose"}, Fault::kUnknownOption},
      {{"-h", "x"}, Fault::kTooManyArguments},  // -h only alone
      {{"-n", "--version"}, Fault::kTooManyArguments},
      {{"--bogus", "--help"}, Fault::kTooManyArguments},
      {{"--takes", "{take}.WAV"}, Fault::kTakesPattern},
      {{"--takes"}, Fault::kTakesPattern},
  };
  for (const Case& c : cases) {
    CommandLine line;
    const Error err = ParseCommandLine(c.args, &line);
    const std::string name = c.args.empty() ? "none" : c.args[0];
    EXPECT_EQ(err.fault, c.fault) << name;
    if (!err.ok()) continue;
    EXPECT_EQ(line.command, Command::kBuild) << name;
    EXPECT_EQ(line.suffix, c.suffix) << name;
    EXPECT_EQ(line.takes, c.takes) << name;
    EXPECT_EQ(line.dry_run, c.dry_run) << name;
  }
  EXPECT_EQ(TakePath("{take}_{track}.WAV", "06", "Sr001"), "Sr001_06.WAV");
  EXPECT_EQ(TakePath("takes/{track}{take}.wav", "kick", "_t1"),
            "takes/kick_t1.wav");
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
  EXPECT_TRUE(CheckEditOrder(Edits("0\tA\n5\tA\n5\tB\n9\tA\n")).ok());
  EXPECT_TRUE(CheckEditOrder(Edits("7\tA\n")).ok());
  EXPECT_EQ(Numbered(CheckEditOrder(Edits("0\tA\n5\tA\n4\tA\n"))),
            (std::pair{Fault::kOutOfSequence, int64_t{3}}));
  EXPECT_EQ(Numbered(CheckEditOrder(Edits("3\tA\n1\tB\n0\tA\n"))),
            (std::pair{Fault::kOutOfSequence, int64_t{2}}));
  // Sample positions compare as integers: 16777217 and 16777216 are one
  // float. An edit that reads as no position (-1) is the time checks'.
  EXPECT_EQ(Numbered(CheckPositionOrder(
                Edits("0s\tA\n16777217s\tB\n16777216s\tA\n"))),
            (std::pair{Fault::kOutOfSequence, int64_t{3}}));
  EXPECT_TRUE(
      CheckPositionOrder(Edits("0s\tA\n5s\tA\n5s\tB\nx\tA\n9s\tA\n")).ok());

  EXPECT_TRUE(CheckEditTimes(Edits("-1\tA\n3\tA\n")).ok());
  EXPECT_EQ(Numbered(CheckEditTimes(Edits("-inf\tA\n3\tA\n"))),
            (std::pair{Fault::kInvalidTime, int64_t{1}}));
  EXPECT_EQ(Numbered(CheckEditTimes(Edits("-2\tA\n-1\tA\n"))),
            (std::pair{Fault::kInvalidTime, int64_t{2}}));
  EXPECT_EQ(Numbered(CheckEditTimes(Edits("0\tA\n1\tA\ninf\tA\n"))),
            (std::pair{Fault::kInvalidTime, int64_t{3}}));
  EXPECT_TRUE(CheckEditTimes(Edits("0s\tA\n7s\tA\n")).ok());
  EXPECT_EQ(Numbered(CheckEditTimes(Edits("0s\tA\nx\tA\n"))),
            (std::pair{Fault::kInvalidTime, int64_t{2}}));
}

TEST(SetupTest, EditFramesAtEachTracksRate) {
  std::vector<int64_t> points;
  EditList edits;
  edits.times = {0, 1, 1e15f, 2e15f};
  EXPECT_EQ(Numbered(EditFrames(edits, 44100, &points)),
            (std::pair{Fault::kInvalidTime, int64_t{3}}));
  // Sample positions are those frames at any rate, beyond a float's reach.
  edits.times = {0, 1e6f};
  edits.positions = {0, 9000000000000000001};
  ASSERT_TRUE(EditFrames(edits, 44100, &points).ok());
  EXPECT_EQ(points, edits.positions);
}

}  // namespace
}  // namespace takeloom

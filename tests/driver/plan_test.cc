#include "driver/plan.h"

#include <gtest/gtest.h>

#include "driver/messages.h"

namespace takeloom {
namespace {

TakeAttributes TakeOf(int64_t frames, uint32_t rate = 44100) {
  TakeAttributes take;
  take.channels = 2;
  take.sample_rate = rate;
  take.bits_per_sample = 16;
  take.bytes_per_sample = 2;
  take.data_start = 44;
  take.frames = frames;
  return take;
}

struct Outcome {
  TrackPlan plan;
  int64_t failed_edit = 0;  // the edit whose take ends before its point
};

Outcome Plan(const std::vector<float>& times,
             const std::vector<TakeAttributes>& attributes,
             int64_t crossfade_frames) {
  std::vector<Take> takes;
  for (const TakeAttributes& a : attributes) takes.push_back({"", a});
  Outcome outcome;
  const Error err = PlanTrack(times, takes, crossfade_frames, &outcome.plan);
  if (!err.ok()) {
    EXPECT_EQ(err.fault, Fault::kTakeEndsEarly);
    outcome.failed_edit = err.number;
  }
  return outcome;
}

TEST(PlanTest, TypicalEditOfTwoTakes) {
  const auto outcome =
      Plan({0, 4, 10}, {TakeOf(441000), TakeOf(441000), TakeOf(441000)}, 8820);
  ASSERT_EQ(outcome.failed_edit, 0);
  const TrackPlan& plan = outcome.plan;
  ASSERT_EQ(plan.segments.size(), 3u);
  EXPECT_EQ(plan.segments[0].start, 0);
  EXPECT_EQ(plan.segments[0].length, 176400);
  EXPECT_EQ(plan.segments[1].start, 176400);
  EXPECT_EQ(plan.segments[1].length, 264600);
  EXPECT_EQ(plan.segments[2].length, 0);
  EXPECT_EQ(plan.length, 441000);
  EXPECT_EQ(plan.lead_in, 0);
  EXPECT_EQ(plan.crossfade_frames, 8820);
  for (const Segment& s : plan.segments) EXPECT_FALSE(s.silence);
}

TEST(PlanTest, LeadInAndTrackEndFollowTheEditTimes) {
  const auto outcome = Plan(
      {2, 6}, {TakeOf(480000, 48000), TakeOf(480000, 48000)}, 0);
  const TrackPlan& plan = outcome.plan;
  EXPECT_EQ(plan.lead_in, 96000);
  EXPECT_EQ(plan.segments[0].start, 96000);
  EXPECT_EQ(plan.segments[0].length, 192000);
  EXPECT_EQ(plan.length, 288000);

  // A track whose takes end before the last edit point keeps their length.
  EXPECT_EQ(Plan({2, 6}, {TakeOf(200000, 48000), TakeOf(250000, 48000)}, 0)
                .plan.length,
            250000);
}

TEST(PlanTest, ShortTakeIsFilledWithSilenceOrRefused) {
  // Edit 2 (3 s to 8 s) uses a take of 5 s while another take lasts 8 s.
  const auto outcome = Plan(
      {0, 3, 8}, {TakeOf(8000, 1000), TakeOf(5000, 1000), TakeOf(8000, 1000)}, 0);
  ASSERT_EQ(outcome.failed_edit, 0);
  const Segment& s = outcome.plan.segments[1];
  EXPECT_TRUE(s.silence);
  EXPECT_EQ(s.silence_start, 5000);
  EXPECT_EQ(s.silence_length, 3000);

  // A take of 2 s cannot supply a segment that starts at 3 s.
  EXPECT_EQ(Plan({0, 3, 8},
                      {TakeOf(8000, 1000), TakeOf(2000, 1000), TakeOf(8000, 1000)},
                      0)
                .failed_edit,
            2u);
}

TEST(PlanTest, SegmentsAreClippedToTheLongestTake) {
  const auto outcome =
      Plan({0, 4, 20}, {TakeOf(4000, 1000), TakeOf(6000, 1000),
                             TakeOf(6000, 1000)}, 0);
  EXPECT_EQ(outcome.plan.segments[1].length, 2000);
  EXPECT_EQ(outcome.plan.length, 6000);
}

TEST(PlanTest, SegmentsMeetAtEveryEditPoint) {
  // Each edit point's position is truncated once, so a segment ends exactly
  // where the next begins and the track ends at the last point: truncating
  // starts and lengths separately would leave frame 441131 at 44.1 kHz
  // unwritten and end the 48 kHz track at 575999.
  for (const uint32_t rate : {44100u, 48000u}) {
    const TakeAttributes take = TakeOf(600000, rate);
    const auto outcome =
        Plan({0, 8.478f, 10.003f, 12.0f}, {take, take, take, take}, 0);
    const std::vector<Segment>& segments = outcome.plan.segments;
    for (size_t k = 0; k + 2 < segments.size(); ++k) {
      EXPECT_EQ(segments[k].start + segments[k].length, segments[k + 1].start)
          << rate << " " << k;
    }
    EXPECT_EQ(segments[2].start + segments[2].length, outcome.plan.length);
    EXPECT_EQ(outcome.plan.length, rate == 48000 ? 576000 : 529200);
  }

  // A silence ends with its segment.
  const auto short_take = Plan(
      {0.04f, 0.53f, 0.53f}, {TakeOf(20000), TakeOf(44100), TakeOf(44100)}, 0);
  const Segment& s = short_take.plan.segments[0];
  EXPECT_TRUE(s.silence);
  EXPECT_EQ(s.silence_start + s.silence_length, short_take.plan.length);
}

TEST(PlanTest, SingleEditPointFormsNoSegment) {
  const auto outcome = Plan({3}, {TakeOf(9000, 1000)}, 0);
  EXPECT_EQ(outcome.plan.segments.size(), 1u);
  EXPECT_EQ(outcome.plan.segments[0].length, 0);
  EXPECT_EQ(outcome.plan.length, 9000);
  EXPECT_EQ(outcome.plan.lead_in, 3000);
}

TEST(PlanTest, PositionsAreFormedInSinglePrecision) {
  // 1000.1 s at 48 kHz: the float product is 48004800 (the float nearest
  // 1000.1 is 1000.0999755859375), and floats above 2^24 step by 4.
  EXPECT_EQ(FramesAt(1000.1f, 48000), 48004800);
  EXPECT_EQ(FramesAt(0.1f, 44100), 4410);
  EXPECT_EQ(CrossfadeFrames(200, 44100), 8820);
  EXPECT_EQ(CrossfadeFrames(0.5f, 44100), 22);
  EXPECT_EQ(CrossfadeFrames(-10, 1000), -10);
}

TEST(PlanTest, RefusesPositionsBeyond63Bits) {
  EXPECT_EQ(FramesAt(2e14f, 48000), std::nullopt);
  EXPECT_EQ(FramesAt(3e38f, 48000), std::nullopt);  // infinite product
  EXPECT_TRUE(FramesAt(1.9e14f, 48000).has_value());
  EXPECT_EQ(FirstUnplannableEdit({0, 1, 1e15f, 2e15f}, 44100), 3u);
  EXPECT_EQ(FirstUnplannableEdit({0, 1e6f}, 44100), 0u);
  EXPECT_EQ(CrossfadeFrames(1e20f, 48000), std::nullopt);
  EXPECT_EQ(CrossfadeFrames(-1e20f, 48000), std::nullopt);
}

TEST(PlanTest, TakesMustShareRateThenBitsThenChannels) {
  const TrackFormat track = FormatOf(TakeOf(10));
  TakeAttributes take = TakeOf(10);
  EXPECT_EQ(Message(CheckTakeFormat(track, take, "kick")), "");
  take.format = SampleFormat::kFloat;
  EXPECT_EQ(Message(CheckTakeFormat(track, take, "kick")),
            ">> Sample format mismatch among kick takes, exiting\n");
  take.channels = 1;
  EXPECT_EQ(Message(CheckTakeFormat(track, take, "kick")),
            ">> Mono-stereo mismatch among kick takes, exiting\n");
  take.bits_per_sample = 24;
  EXPECT_EQ(Message(CheckTakeFormat(track, take, "kick")),
            ">> Bit format mismatch among kick takes, exiting\n");
  take.sample_rate = 48000;
  EXPECT_EQ(Message(CheckTakeFormat(track, take, "kick")),
            ">> Samplerate mismatch among kick takes, exiting\n");
}

}  // namespace
}  // namespace takeloom

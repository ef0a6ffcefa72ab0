#include "driver/plan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "report/messages.h"

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
  take.file_length = 44 + 4 * frames;
  return take;
}

// A plan's operations in a line: "e2" an edit begins (from 1), "s[a,b)"
// silence, "c1[a,b)" a copy of take 1, "x0>1[a,b)" a crossfade from take 0
// into take 1 ("x*" when shortened, "x~" when take 0 runs out before the
// window ends, so that take 1 fades in from silence).
std::string Ops(const TrackPlan& plan) {
  std::string out;
  const auto range = [](const Operation& op) {
    return "[" + std::to_string(op.start) + "," +
           std::to_string(op.start + op.frames) + ")";
  };
  for (const Operation& op : plan.operations) {
    if (!out.empty()) out += ' ';
    switch (op.kind) {
      case OpKind::kEdit:
        out += "e" + std::to_string(op.edit + 1);
        break;
      case OpKind::kSilence:
        out += "s" + range(op);
        break;
      case OpKind::kCopy:
        out += "c" + std::to_string(op.take) + range(op);
        break;
      case OpKind::kCrossfade:
        out += "x" + std::string(op.shortened != Shortened::kNo ? "*" : "") +
               std::string(op.from_silence != 0 ? "~" : "") +
               std::to_string(op.from) + ">" + std::to_string(op.take) +
               range(op);
        break;
    }
  }
  return out;
}

// The audio operations must follow one another and cover the track once.
void ExpectCoversTrack(const TrackPlan& plan, const std::string& name) {
  int64_t covered = 0;
  for (const Operation& op : plan.operations) {
    if (op.kind == OpKind::kEdit) continue;
    EXPECT_EQ(op.start, covered) << name;
    EXPECT_GT(op.frames, 0) << name;
    covered = op.start + op.frames;
  }
  EXPECT_EQ(covered, plan.length) << name;
}

struct Outcome {
  TrackPlan plan;
  int64_t failed_edit = 0;  // the edit whose take ends before its point
};

// Plans a track whose edit k uses take `edit_takes[k]` (each edit its own
// take when empty).
Outcome Plan(const std::vector<float>& times,
             const std::vector<TakeAttributes>& attributes,
             int64_t crossfade_frames, std::vector<size_t> edit_takes = {},
             int32_t type = 1) {
  std::vector<Take> takes;
  for (const TakeAttributes& a : attributes) takes.push_back({"t.wav", a});
  if (edit_takes.empty()) {
    edit_takes.resize(times.size());
    std::iota(edit_takes.begin(), edit_takes.end(), 0);
  }
  std::vector<int64_t> points;
  for (const float time : times) {
    points.push_back(*FramesAt(time, attributes[0].sample_rate));
  }
  Outcome outcome;
  const Error err = PlanTrack(
      points, {takes, edit_takes, crossfade_frames, type}, &outcome.plan);
  if (!err.ok()) {
    EXPECT_EQ(err.fault, Fault::kTakeEndsEarly);
    outcome.failed_edit = err.number;
  } else {
    ExpectCoversTrack(outcome.plan, Ops(outcome.plan));
  }
  return outcome;
}

TEST(PlanTest, OperationsOfEveryKindOfEdit) {
  const TakeAttributes k1 = TakeOf(8000, 1000);
  const TakeAttributes ends_at_500 = TakeOf(500, 1000);
  struct Case {
    const char* name;
    std::vector<float> times;
    std::vector<TakeAttributes> takes;
    std::vector<size_t> edit_takes;
    int64_t crossfade;
    std::string ops;
    int64_t length;
  };
  const Case cases[] = {
      {"typical edit: the window centred on the point", {0, 4, 10},
       {TakeOf(441000), TakeOf(441000)}, {0, 1, 1}, 8820,
       "e1 c0[0,171990) e2 x0>1[171990,180810) c1[180810,441000) e3", 441000},
      {"lead-in and the track's end at the last point", {2, 6},
       {TakeOf(480000, 48000), TakeOf(480000, 48000)}, {}, 0,
       "e1 s[0,96000) c0[96000,288000) e2", 288000},
      {"takes that end before the last point", {2, 6},
       {TakeOf(200000, 48000), TakeOf(250000, 48000)}, {}, 0,
       "e1 s[0,96000) c0[96000,200000) s[200000,250000) e2", 250000},
      {"silence where a take runs out", {0, 3, 8},
       {k1, TakeOf(5000, 1000), k1}, {}, 0,
       "e1 c0[0,3000) e2 c1[3000,5000) s[5000,8000) e3", 8000},
      {"segments clipped to the longest take", {0, 4, 20},
       {TakeOf(4000, 1000), TakeOf(6000, 1000)}, {0, 1, 1}, 0,
       "e1 c0[0,4000) e2 c1[4000,6000) e3", 6000},
      {"a single point forms no segment", {3}, {TakeOf(9000, 1000)}, {}, 0,
       "e1 s[0,9000)", 9000},
      {"equal times: the fade leaves the take heard", {0, 1, 1, 2},
       {k1, k1, k1}, {0, 1, 2, 2}, 200,
       "e1 c0[0,900) e2 e3 x0>2[900,1100) c2[1100,2000) e4", 2000},
      {"edits closer than a crossfade: windows meet, never overlap",
       {0, 1, 1.05f, 2}, {k1, k1, k1}, {0, 1, 2, 2}, 200,
       "e1 c0[0,975) e2 x*0>1[975,1025) e3 x*1>2[1025,1075) c2[1075,2000) e4",
       2000},
      {"a first point closer than half a crossfade", {0, 0.05f, 2}, {k1, k1},
       {0, 1, 1}, 200, "e1 c0[0,25) e2 x*0>1[25,75) c1[75,2000) e3", 2000},
      {"the lead-in stays silent", {1, 1.05f, 2}, {k1, k1}, {0, 1, 1}, 200,
       "e1 s[0,1000) c0[1000,1025) e2 x*0>1[1025,1075) c1[1075,2000) e3",
       2000},
      {"the last segment shorter than the crossfade", {0, 1, 1.05f}, {k1, k1},
       {0, 1, 1}, 200, "e1 c0[0,975) e2 x*0>1[975,1025) c1[1025,1050) e3",
       1050},
      {"a take that ran out before the window: a fade-in from silence",
       {0, 1, 2}, {ends_at_500, k1}, {0, 1, 1}, 200,
       "e1 c0[0,500) s[500,900) e2 x~0>1[900,1100) c1[1100,2000) e3", 2000},
      {"a window that starts where the take fading out ends", {0, 1, 2},
       {TakeOf(900, 1000), k1}, {0, 1, 1}, 200,
       "e1 c0[0,900) e2 x~0>1[900,1100) c1[1100,2000) e3", 2000},
      {"a take fading out that ends inside the window", {0, 1, 2},
       {TakeOf(1050, 1000), k1}, {0, 1, 1}, 200,
       "e1 c0[0,900) e2 x~0>1[900,1100) c1[1100,2000) e3", 2000},
      {"a take fading out that ends with the window", {0, 1, 2},
       {TakeOf(1100, 1000), k1}, {0, 1, 1}, 200,
       "e1 c0[0,900) e2 x0>1[900,1100) c1[1100,2000) e3", 2000},
  };
  for (const Case& c : cases) {
    const auto outcome = Plan(c.times, c.takes, c.crossfade, c.edit_takes);
    ASSERT_EQ(outcome.failed_edit, 0) << c.name;
    EXPECT_EQ(Ops(outcome.plan), c.ops) << c.name;
    EXPECT_EQ(outcome.plan.length, c.length) << c.name;
  }
  // Without a curve every edit is a hard cut.
  EXPECT_EQ(Ops(Plan({0, 1, 2}, {k1, k1}, 200, {0, 1, 1}, 0).plan),
            "e1 c0[0,1000) e2 c1[1000,2000) e3");
  // The take heard first is that of the first segment holding frames.
  EXPECT_EQ(Plan({0, 0, 1}, {k1, k1}, 0).plan.first_heard, 1u);
}

TEST(PlanTest, RefusesATakeThatEndsBeforeItsPoint) {
  // A take of 2 s cannot supply a segment that starts at 3 s.
  EXPECT_EQ(Plan({0, 3, 8},
                 {TakeOf(8000, 1000), TakeOf(2000, 1000), TakeOf(8000, 1000)},
                 0)
                .failed_edit,
            2u);
}

TEST(PlanTest, SegmentsMeetAtEveryEditPoint) {
  // Each edit point's position is truncated once, so a segment ends exactly
  // where the next begins and the track ends at the last point: truncating
  // starts and lengths separately would leave frame 441131 at 44.1 kHz
  // unwritten and end the 48 kHz track at 575999 (Plan checks coverage).
  for (const uint32_t rate : {44100u, 48000u}) {
    const TakeAttributes take = TakeOf(600000, rate);
    const auto outcome =
        Plan({0, 8.478f, 10.003f, 12.0f}, {take, take, take, take}, 0);
    EXPECT_EQ(outcome.plan.length, rate == 48000 ? 576000 : 529200);
  }
  // A silence ends with its segment.
  const auto short_take = Plan(
      {0.04f, 0.53f, 0.53f}, {TakeOf(20000), TakeOf(44100), TakeOf(44100)}, 0);
  EXPECT_EQ(Ops(short_take.plan), 
            "e1 s[0,1764) c0[1764,20000) s[20000,23372) e2 e3");
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
  EXPECT_EQ(CrossfadeFrames(1e20f, 48000), std::nullopt);
  EXPECT_EQ(CrossfadeFrames(-1e20f, 48000), std::nullopt);
}

TEST(PlanTest, TakesMustShareRateThenBitsThenChannels) {
  const Take first{"kick_a.wav", TakeOf(10)};
  Take take{"kick_b.wav", TakeOf(10)};
  EXPECT_EQ(Message(CheckTakeFormat(first, take, "kick")), "");
  take.attributes.format = SampleFormat::kFloat;
  EXPECT_EQ(Message(CheckTakeFormat(first, take, "kick")),
            ">> Sample format mismatch among kick takes, exiting\n");
  take.attributes.channels = 1;
  EXPECT_EQ(Message(CheckTakeFormat(first, take, "kick")),
            ">> Mono-stereo mismatch among kick takes, exiting\n");
  take.attributes.bits_per_sample = 24;
  EXPECT_EQ(Message(CheckTakeFormat(first, take, "kick")),
            ">> Bit format mismatch among kick takes, exiting\n");
  take.attributes.sample_rate = 48000;
  const Error err = CheckTakeFormat(first, take, "kick");
  EXPECT_EQ(Message(err), ">> Samplerate mismatch among kick takes, exiting\n");
  EXPECT_EQ(err.detail,
            "kick_b.wav has 48000 Hz, the track's first take kick_a.wav has "
            "44100 Hz");
}

}  // namespace
}  // namespace takeloom

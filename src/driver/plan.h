// Edit planning: from edit times in seconds and each take's attributes to
// every segment, silence, lead-in and crossfade length of one track in
// frames. Pure arithmetic, in single precision where frame positions are
// formed, so that positions match the takes to the frame.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "wav/inspect.h"
#include "wav/sample_format.h"

namespace takeloom {

// One take of a track, as inspection found it.
struct Take {
  std::string path;  // base name + take name + ".wav"
  TakeAttributes attributes;
};

// What one edit contributes to its track: frames [start, start + length)
// copied from the edit's take at the same position, and, when the take ends
// inside that range, silence from the take's end on.
struct Segment {
  int64_t start = 0;
  int64_t length = 0;
  bool silence = false;
  int64_t silence_start = 0;
  int64_t silence_length = 0;
};

struct TrackPlan {
  TrackFormat format;
  std::vector<Segment> segments;  // one per edit; the last has length 0
  int64_t length = 0;             // frames the output declares and holds
  int64_t lead_in = 0;            // silent frames before the first segment
  int64_t crossfade_frames = 0;
};

// Refuses `take` for disagreeing with the track's first take: sample rate,
// then bits, then channels, then sample format, naming the track's base.
Error CheckTakeFormat(const TrackFormat& track, const TakeAttributes& take,
                      const std::string& base_name);

// seconds x rate in single precision, truncated toward zero; nullopt when
// the product does not fit in 63 bits.
std::optional<int64_t> FramesAt(float seconds, uint32_t sample_rate);

// The number (from 1) of the first edit whose frame position does not fit
// at `sample_rate`, or 0.
size_t FirstUnplannableEdit(const std::vector<float>& times,
                            uint32_t sample_rate);

// Crossfade length in frames: rate x (milliseconds / 1000), single
// precision; nullopt when it does not fit in 63 bits.
std::optional<int64_t> CrossfadeFrames(float milliseconds,
                                       uint32_t sample_rate);

// Plans one track into `plan`. `times` are the edit times with a negative
// first time already raised to 0, each fitting in frames at the track's
// rate; `takes` holds one entry per edit, `crossfade_frames` the track's
// crossfade. kTakeEndsEarly names an edit whose take ends before its point.
Error PlanTrack(const std::vector<float>& times, const std::vector<Take>& takes,
                int64_t crossfade_frames, TrackPlan* plan);

}  // namespace takeloom

// Edit planning: from edit times in seconds and each take's attributes to
// the list of operations that build one output track, in frames. Every
// decision about the audio is made here (lead-in, segments, silence where a
// take runs out, which crossfades are rendered, their windows and lengths),
// by pure arithmetic, in single precision where frame positions are formed
// from seconds, so that positions match the takes to the frame. Assembly
// only carries the list out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

enum class OpKind : uint8_t {
  kEdit,       // edit `edit` begins: the progress line shows its number
  kSilence,    // frames [start, start + frames) silent
  kCopy,       // frames [start, start + frames) of take `take`, at the same
               // frames in the take
  kCrossfade,  // the window [start, start + frames) blends take `from`
               // (fading out) into take `take` (fading in), both read at
               // the window's own frames; a take reads as zeros past its
               // audio
};

// Why a crossfade is shorter than the track's crossfade length.
enum class Shortened : uint8_t { kNo, kBySegmentLeft, kBySegmentEntered };

// Small, since a plan holds a few per edit and edit lists run to millions.
struct Operation {
  int64_t start = 0;
  int64_t frames = 0;
  uint32_t edit = 0;  // from 0
  uint32_t take = 0;  // index into the track's takes
  uint32_t from = 0;  // a crossfade's take that fades out
  OpKind kind = OpKind::kEdit;
  // A crossfade whose take `from` runs out before the window ends (or
  // before it starts): from there on the entering take fades in from
  // silence.
  uint8_t from_silence = 0;
  Shortened shortened = Shortened::kNo;
};

// The frames edit points k and k + 1 enclose, clipped to the track, and
// the take edit k names.
struct Segment {
  int64_t start = 0;
  int64_t end = 0;  // past the last frame; equal to start when empty
  size_t take = 0;
  int64_t holds() const { return end - start; }
};

// An output track as a list of operations. Apart from the kEdit markers,
// the operations follow one another in frame order and cover [0, length)
// exactly once, so no write overlaps another.
struct TrackPlan {
  TrackFormat format;
  int64_t length = 0;             // frames the output declares and holds
  int64_t crossfade_frames = 0;   // the track's, before any shortening
  int32_t crossfade_type = 0;
  std::optional<size_t> first_heard;  // the take of the first copied frames
  std::vector<Segment> segments;      // one per edit; the last one empty
  std::vector<Operation> operations;
};

// What planning needs of one track besides the edit times.
struct TrackInput {
  std::span<const Take> takes;         // the track's distinct takes
  std::span<const size_t> edit_takes;  // for each edit, its take's index
  int64_t crossfade_frames = 0;
  int32_t crossfade_type = 0;
};

// Refuses `take` for disagreeing with the track's first take `first`:
// sample rate, then bits, then channels, then sample format, naming the
// track's base name; the detail gives both takes' values.
Error CheckTakeFormat(const Take& first, const Take& take,
                      const std::string& base_name);

// seconds x rate in single precision, truncated toward zero; nullopt when
// the product does not fit in 63 bits.
std::optional<int64_t> FramesAt(float seconds, uint32_t sample_rate);

// Crossfade length in frames: rate x (milliseconds / 1000), single
// precision; nullopt when it does not fit in 63 bits.
std::optional<int64_t> CrossfadeFrames(float milliseconds,
                                       uint32_t sample_rate);

// Plans one track. `points` are the edit points in frames at the track's
// rate, never negative and never descending.
//
// Edit k's segment runs from its point to the next, clipped to the track's
// length (the last point, or the longest take when that ends first); where
// its take runs out, silence. An edit after the first whose segment holds
// frames is crossfaded from the take of the last earlier segment that holds
// frames, centred on its point, over min(the track's crossfade length, the
// segment it leaves, the segment it enters) frames, half of them
// (truncated) before the point: neighbouring windows then never overlap
// and never leave the two segments they join. A take fading out that ends
// inside or before its window reads as silence there (from_silence).
// kTakeEndsEarly names an edit whose take ends before its point.
Error PlanTrack(std::span<const int64_t> points, const TrackInput& track,
                TrackPlan* plan);

}  // namespace takeloom

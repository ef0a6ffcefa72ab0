// The crossfade gain curves: for a frame's position in the window, the gain
// of the take that fades out and of the take that fades in.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace takeloom {

struct Gains {
  double fade_out = 0.0;  // weights the previous take
  double fade_in = 0.0;   // weights the next take
};

// Gains of frame `index` (0 <= index < length) of a window of `length`
// frames of crossfade `type`: 1 cosine out / sine in (constant power),
// 2 linear, 3 cosine out, 4 one minus sine out; 2 to 4 keep the sum of the
// gains at 1. No other type reaches a window: the settings are checked as
// they are read, and a track of type 0 is planned without crossfades.
Gains CurveGains(int32_t type, int64_t index, int64_t length);

// The gains of a window's frames, kept by whoever renders crossfades: a
// session's crossfades usually share their type and length, and the cosine
// and sine of every frame cost more than the blend itself. Windows longer
// than kMaxTableFrames are computed a block at a time, so that memory stays
// bounded.
class GainTable {
 public:
  static constexpr int64_t kMaxTableFrames = 1 << 16;

  // The gains of frames [first, first + n) of a window of `type` and
  // `length`, as CurveGains gives them. The span holds until the next call.
  std::span<const Gains> Frames(int32_t type, int64_t length, int64_t first,
                                int64_t n);

 private:
  std::vector<Gains> table_;  // the whole window of type_ and length_
  int32_t type_ = 0;
  int64_t length_ = 0;
  std::vector<Gains> block_;  // the frames asked for, when no table fits
};

}  // namespace takeloom

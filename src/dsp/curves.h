// The crossfade gain curves: for a frame's position in the window, the gain
// of the take that fades out and of the take that fades in.
#pragma once

#include <cstdint>
#include <span>

namespace takeloom {

struct Gains {
  double fade_out = 0.0;  // weights the previous take
  double fade_in = 0.0;   // weights the next take
};

// Types 1 to 4 have a curve: 1 cosine out / sine in (constant power),
// 2 linear, 3 cosine out, 4 one minus sine out; 2 to 4 keep the sum of the
// gains at 1.
constexpr bool HasCurve(int32_t type) { return type >= 1 && type <= 4; }

// Gains of frame `index` (0 <= index < length) of a window of `length`
// frames. A type without a curve gives the hard cut at the window's centre
// frame (length / 2): (1, 0) before it, (0, 1) from it on.
Gains CurveGains(int32_t type, int64_t index, int64_t length);

// The gains of every frame of a window of `type` and `length`, as
// CurveGains gives them. The table is kept until a window of another type
// or length asks, and the span holds until then: a session's crossfades
// usually share both, and the cosine and sine of every frame cost more than
// the blend itself. Empty for windows longer than kMaxCurveTableFrames,
// whose gains are computed frame by frame, so that memory stays bounded.
constexpr int64_t kMaxCurveTableFrames = 1 << 16;
std::span<const Gains> CurveTable(int32_t type, int64_t length);

}  // namespace takeloom

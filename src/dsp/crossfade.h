// The crossfade blend: one block of the previous take's window fading out
// over the same block of the next take's window fading in, from buffers to
// a buffer. Reading the windows and writing the result are the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "dsp/curves.h"
#include "wav/sample_format.h"

namespace takeloom {

// Blends gains.size() frames of `format`: for every sample of frame i,
// previous x gains[i].fade_out + next x gains[i].fade_in in double
// precision, the two products added in that order. 16- and 24-bit samples
// are blended on the 24-bit scale (a 16-bit blend is brought back by 1/256)
// and every integer blend is truncated toward zero and held at the range
// ends; floats are stored to the nearest value, without limit. `previous`,
// `next` and `out` each hold gains.size() frames; `format` is one that
// inspection admits: 16-, 24- or 32-bit integers or 32- or 64-bit floats,
// in any channel count. Returns how many samples went beyond full scale:
// integers held at the range ends, floats stored beyond 1.0 in magnitude.
int64_t Blend(std::span<const std::byte> previous,
              std::span<const std::byte> next, std::span<const Gains> gains,
              const TrackFormat& format, std::span<std::byte> out);

}  // namespace takeloom

// Rendering one crossfade between two takes of a track: the previous take's
// window fades out while the next take's window fades in, and the blended
// frames are appended to a temporary WAV file whose header already exists.
#pragma once

#include <cstdint>
#include <string>

#include "wav/sample_format.h"

namespace takeloom {

struct CrossfadeResult {
  // 0 = rendered; 1 = previous take at fault, 2 = next take, 3 = the
  // temporary file could not be opened; kCrossfadeWriteFailed = appending
  // to the temporary file failed (the run cannot go on).
  int32_t code = 0;
  // The line the renderer reports (without its newline), or empty.
  std::string message;
};

constexpr int32_t kCrossfadeTempUnopened = 3;
constexpr int32_t kCrossfadeWriteFailed = 4;

// Blends `frames` frames of each take, starting half of them (rounded down)
// before its centre frame, and appends them to `temp_path`. Checks come first
// and append nothing when they fail: the opens, then each take's "data" tag,
// then each window's start (it must lie within the take's audio; the window
// may run past the end, where the take reads as silence). Every channel of a
// frame takes that frame's gains. 16-, 24- and 32-bit integer samples beyond
// full scale are held at the range ends; 32- and 64-bit float samples
// (`format` kFloat) are blended in double and stored to the nearest value.
// Other layouts (among them 8-bit, 64-bit integers, 16- or 24-bit floats),
// and types without a curve, get the hard cut at the centre frame. A read
// error on a take mid-render returns that take's number with an empty
// message.
CrossfadeResult CROSSFADE(int64_t previous_centre, int64_t next_centre,
                          int64_t frames, int32_t type,
                          const std::string& previous_take,
                          const std::string& next_take,
                          const std::string& temp_path, int32_t channels,
                          int32_t bytes_per_sample,
                          SampleFormat format = SampleFormat::kInteger);

}  // namespace takeloom

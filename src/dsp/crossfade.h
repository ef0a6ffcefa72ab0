// Rendering one crossfade between two takes of a track: the previous take's
// window fades out while the next take's window fades in, and the blended
// frames are appended to a temporary WAV file whose header already exists.
#pragma once

#include <cstdint>
#include <string>

namespace takeloom {

struct CrossfadeResult {
  // 0 = rendered; 1 = previous take at fault, 2 = next take, 3 = the
  // temporary file could not be opened; kCrossfadeWriteFailed = appending
  // to the temporary file failed (the run cannot go on).
  int32_t code = 0;
  // The line the renderer reports (without its newline), or empty.
  std::string message;
};

constexpr int32_t kCrossfadeWriteFailed = 4;

CrossfadeResult CROSSFADE(int64_t previous_centre, int64_t next_centre,
                          int64_t frames, int32_t type,
                          const std::string& previous_take,
                          const std::string& next_take,
                          const std::string& temp_path, int32_t channels,
                          int32_t bytes_per_sample);

}  // namespace takeloom

// The header of every file the tool writes: an uncompressed WAV file whose
// data chunk declares a given number of frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "error.h"
#include "wav/file.h"
#include "wav/sample_format.h"

namespace takeloom {

constexpr int64_t kHeaderBytes = 44;

// The header bytes for `frames` frames of `format`. Sizes that exceed 32
// bits are written as 0xFFFFFFFF; a negative count declares 0. Float audio
// is declared as such; everything else as integer PCM.
std::array<std::byte, kHeaderBytes> HeaderBytes(const TrackFormat& format,
                                                int64_t frames);

// Creates `path` as a new file (see File::CreateNew), writes its header and
// leaves it open in `file`, with the audio to start at kHeaderBytes.
// kCannotWrite when it cannot be created or written; a file left
// half-written is removed.
Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file);

}  // namespace takeloom

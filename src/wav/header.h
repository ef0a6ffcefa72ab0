// The headers of the files the tool writes, each an uncompressed WAV file
// whose sizes declare a given number of frames: 44 bytes for integer audio;
// 58 for float audio, whose format chunk carries its 2-byte extension size
// and is followed by a fact chunk with the frame count; and the RF64 form of
// either (80 or 94 bytes) for audio whose sizes do not fit in 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "wav/file.h"
#include "wav/sample_format.h"

namespace takeloom {

// The header for `frames` frames of `format` (a negative count declares 0);
// the audio follows it directly. The classic RIFF form holds every file
// whose RIFF size fits in 32 bits; larger ones are RF64, with "RF64" and
// 0xFFFFFFFF in place of the RIFF size and a ds64 chunk after "WAVE" that
// carries the 64-bit RIFF size, data size and frame count.
std::vector<std::byte> HeaderBytes(const TrackFormat& format, int64_t frames);

// Creates `path` as a new file (see File::CreateNew), writes its header and
// leaves it open in `file`, with `*audio_start` set to where the audio
// begins. kCannotWrite when it cannot be created or written; a file left
// half-written is removed.
Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file, int64_t* audio_start);

}  // namespace takeloom

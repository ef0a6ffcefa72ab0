// The 44-byte header of every file the tool writes: an uncompressed WAV file
// whose data chunk declares a given number of frames.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wav/sample_format.h"

namespace takeloom {

constexpr int64_t kHeaderBytes = 44;

// The header bytes for the given layout and declared frame count. Sizes that
// exceed 32 bits are written as 0xFFFFFFFF; a negative count declares 0.
// Float audio is declared as such; everything else as integer PCM.
std::array<std::byte, kHeaderBytes> HeaderBytes(
    uint32_t sample_rate, uint32_t bits_per_sample, int64_t frames,
    uint32_t channels, SampleFormat format = SampleFormat::kInteger);

// Creates or empties `path` and writes the header. False when the file cannot
// be created or written; a file left half-written is removed.
bool MAKE_HEADER(const std::string& path, uint32_t sample_rate,
                 uint32_t bits_per_sample, int64_t frames, uint32_t channels,
                 SampleFormat format = SampleFormat::kInteger);

}  // namespace takeloom

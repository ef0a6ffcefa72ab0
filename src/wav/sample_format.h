// How a track's audio is laid out: sample coding (integer PCM or IEEE
// floating point, as the format tag of a "fmt " chunk says), width, channels
// and rate.
#pragma once

#include <array>
#include <cstdint>

namespace takeloom {

enum class SampleFormat { kInteger, kFloat };

constexpr uint32_t kFormatTagPcm = 1;
constexpr uint32_t kFormatTagFloat = 3;
// The extensible format carries the real tag in its sub-format's first bytes.
constexpr uint32_t kFormatTagExtensible = 0xFFFE;

// Every sub-format GUID that names one of these tags ends with these bytes;
// its first two bytes are the tag.
constexpr std::array<unsigned char, 14> kSubFormatGuidTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint32_t FormatTagOf(SampleFormat format) {
  return format == SampleFormat::kFloat ? kFormatTagFloat : kFormatTagPcm;
}

// What an extensible format chunk adds to the fields every format chunk
// has: how many of the bits of a sample carry audio, and which speaker
// each channel feeds.
struct ExtensibleInfo {
  uint32_t valid_bits = 0;
  uint32_t channel_mask = 0;
};

// A track's format, fixed by its first take; every file of the track (its
// takes, its output, its temporary crossfade file) has it.
struct TrackFormat {
  uint32_t sample_rate = 0;
  uint32_t bits_per_sample = 0;
  uint32_t bytes_per_sample = 0;  // bits per sample / 8, truncated
  uint32_t channels = 0;
  SampleFormat format = SampleFormat::kInteger;

  // Bytes per frame, never taken from a header's block align field.
  int64_t FrameSize() const { return int64_t{bytes_per_sample} * channels; }
};

}  // namespace takeloom

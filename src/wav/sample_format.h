// How a track's audio is laid out: sample coding (integer PCM or IEEE
// floating point, as the format tag of a "fmt " chunk says), width, channels
// and rate.
#pragma once

#include <cstdint>

namespace takeloom {

enum class SampleFormat { kInteger, kFloat };

constexpr uint32_t kFormatTagPcm = 1;
constexpr uint32_t kFormatTagFloat = 3;
// The extensible format carries the real tag in its sub-format's first bytes.
constexpr uint32_t kFormatTagExtensible = 0xFFFE;

constexpr uint32_t FormatTagOf(SampleFormat format) {
  return format == SampleFormat::kFloat ? kFormatTagFloat : kFormatTagPcm;
}

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

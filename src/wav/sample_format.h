// How a take's samples are coded: integer PCM or IEEE floating point, as the
// format tag of its "fmt " chunk says.
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

}  // namespace takeloom

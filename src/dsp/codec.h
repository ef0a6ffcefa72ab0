// Conversion between interleaved little-endian sample bytes and sample
// values: 16- and 24-bit integers on one common scale, 32-bit integers, and
// 32- or 64-bit floats. Samples are coded independently of their channel, so
// each operation takes n samples, which may be the n / channels frames of an
// interleaved block of any channel count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace takeloom {

// Each operation touches exactly n samples at the front of its buffers
// (nothing when n <= 0); the caller provides buffers of at least n samples.

// 16- or 24-bit samples (bytes_per_sample 2 or 3) onto the 24-bit scale: a
// 24-bit sample keeps its value and a 16-bit sample becomes 256 times its
// value, so that one blend serves both widths. Other widths decode as zero.
void CHAR_TO_NUM32(std::span<const std::byte> bytes, std::span<int64_t> values,
                   int32_t bytes_per_sample, int64_t n);

// The encoders take each width on its own scale and write the low 16 or 24
// bits of each value's two's-complement form, so a value outside the sample
// range wraps (limiting is the caller's business).
void NUM16MONO_TO_CHAR(std::span<const int32_t> values,
                       std::span<std::byte> bytes, int64_t n);
void NUM24MONO_TO_CHAR(std::span<const int64_t> values,
                       std::span<std::byte> bytes, int64_t n);

// Four-byte two's-complement samples: bytes -> values, and the low 32 bits of
// each value back (a value outside the 32-bit range wraps).
void DecodeInt32Samples(std::span<const std::byte> bytes,
                        std::span<int64_t> values, int64_t n);
void EncodeInt32Samples(std::span<const int64_t> values,
                        std::span<std::byte> bytes, int64_t n);

// IEEE 754 samples of 4 (single) or 8 (double precision) bytes, widened to
// double exactly. Encoding stores a double as is, or for 4 bytes as the
// nearest float (ties to even). For other widths decoding writes zeros and
// encoding writes nothing.
void DecodeFloatSamples(std::span<const std::byte> bytes,
                        std::span<double> values, int32_t bytes_per_sample,
                        int64_t n);
void EncodeFloatSamples(std::span<const double> values,
                        std::span<std::byte> bytes, int32_t bytes_per_sample,
                        int64_t n);

}  // namespace takeloom

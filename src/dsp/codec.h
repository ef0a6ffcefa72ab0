// Conversion between interleaved little-endian PCM bytes and samples: 16- and
// 24-bit integers in one or two channels, 32-bit integers and 32- or 64-bit
// floats in any channel count, plus single-value byte helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace takeloom {

// Block operations. Each touches exactly n frames at the front of its buffers
// (nothing when n <= 0); the caller provides buffers of at least n frames.
//
// The decoders put both widths on the 24-bit scale: a 24-bit sample keeps its
// value and a 16-bit sample becomes 256 times its value, so that one blend
// serves both widths. For any other bytes per sample they write zeros.

// One channel: bytes[i * bytes_per_sample ...] -> values[i].
void CHAR_TO_NUM32(std::span<const std::byte> bytes, std::span<int64_t> values,
                   int32_t bytes_per_sample, int64_t n);

// Two interleaved channels: frame i's first sample -> channel0[i], its second
// sample -> channel1[i].
void CHAR_TO_NUM32_STEREO(std::span<const std::byte> bytes,
                          std::span<int64_t> channel0,
                          std::span<int64_t> channel1, int32_t bytes_per_sample,
                          int64_t n);

// The encoders take each width on its own scale and write the low 16 or 24
// bits of each value's two's-complement form, so a value outside the sample
// range wraps (limiting is the caller's business).
void NUM16MONO_TO_CHAR(std::span<const int32_t> values,
                       std::span<std::byte> bytes, int64_t n);
void NUM24MONO_TO_CHAR(std::span<const int64_t> values,
                       std::span<std::byte> bytes, int64_t n);
void NUM16STER_TO_CHAR(std::span<const int32_t> channel0,
                       std::span<const int32_t> channel1,
                       std::span<std::byte> bytes, int64_t n);
void NUM24STER_TO_CHAR(std::span<const int64_t> channel0,
                       std::span<const int64_t> channel1,
                       std::span<std::byte> bytes, int64_t n);

// Wider and floating-point samples, each on its own scale. Samples are coded
// independently of their channel, so these take n samples, which may be the
// n / channels frames of an interleaved block of any channel count. (The
// one-channel operations above serve 16- and 24-bit blocks the same way.)

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

// Single-value byte helpers.

// bytes[0] + 256 * bytes[1], both unsigned: 0 to 65535.
int64_t Assem2(const std::byte* bytes);

// Four bytes as a little-endian two's-complement 32-bit number.
int64_t Assem4(const std::byte* bytes);

// Low byte, then high byte of `value`.
void Decon2(uint16_t value, std::byte* bytes);

// Splits `value` by successive truncating divisions by 2^24, 2^16 and 2^8,
// keeping the low 8 bits of each quotient. For value >= 0 these are its low
// 32 bits; a negative value is not put into two's complement
// (-1 gives FF 00 00 00).
void Decon4(int64_t value, std::byte* bytes);

// high = value / 256 (truncated toward zero), low = value - 256 * high.
void BITS16_TO_BYTES2(int32_t* low, int32_t* high, int64_t value);

// high = value / 65536, middle = remainder / 256, low = what then remains,
// each division truncated toward zero.
void BITS24_TO_BYTES3(int32_t* low, int32_t* middle, int32_t* high,
                      int64_t value);

// A low part above 127 becomes low - 256; then every part is multiplied by
// `factor`, and a negative factor decreases every part by one more (so -1
// gives the one's complement -p - 1).
void TWOS_COMP16(int32_t* low, int32_t* high, int32_t factor);

// As TWOS_COMP16, where both the low and the middle part are reinterpreted;
// the high part is left as it is before the multiplication.
void TWOS_COMP24(int32_t* low, int32_t* middle, int32_t* high, int32_t factor);

}  // namespace takeloom

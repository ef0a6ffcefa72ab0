// The sample layouts a crossfade can blend: for each, how a block's samples
// are decoded, how a blended sum becomes the stored value, and how that is
// encoded again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "dsp/codec.h"

namespace takeloom {

// 16-bit blends are formed on the 24-bit scale and brought back by 1/256.
inline constexpr double kSixteenBitScale = 0.00390625;
inline constexpr int64_t kMin16 = -32768;
inline constexpr int64_t kMax16 = 32767;
inline constexpr int64_t kMin24 = -8388608;
inline constexpr int64_t kMax24 = 8388607;
inline constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
inline constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();

// The blendable layouts. Each says how a block's samples are decoded, how a
// blended sum becomes the stored value and how that is encoded. Samples are
// coded independently of their channel, so a block of n frames is coded as
// n x channels samples whatever the channel count. Integer blends beyond
// full scale are held at the range ends: a wrapped sample would be a
// full-scale click in the track. Floats have headroom and are not limited.
// Finish counts in `beyond` every sample that goes past full scale (the
// range ends, or 1.0 in magnitude as a float stores it), which is then
// clipped in the file or on playback.
struct Int16Samples {
  using Decoded = int64_t;
  using Blended = int32_t;
  static void Decode(std::span<const std::byte> b, std::span<int64_t> v,
                     int64_t n) {
    CHAR_TO_NUM32(b, v, 2, n);
  }
  static int32_t Finish(double sum, int64_t* beyond) {
    const auto value = static_cast<int64_t>(sum * kSixteenBitScale);
    if (value < kMin16 || value > kMax16) ++*beyond;
    return static_cast<int32_t>(std::clamp(value, kMin16, kMax16));
  }
  static void Encode(std::span<const int32_t> v, std::span<std::byte> b,
                     int64_t n) {
    NUM16MONO_TO_CHAR(v, b, n);
  }
};

struct Int24Samples {
  using Decoded = int64_t;
  using Blended = int64_t;
  static void Decode(std::span<const std::byte> b, std::span<int64_t> v,
                     int64_t n) {
    CHAR_TO_NUM32(b, v, 3, n);
  }
  static int64_t Finish(double sum, int64_t* beyond) {
    const auto value = static_cast<int64_t>(sum);
    if (value < kMin24 || value > kMax24) ++*beyond;
    return std::clamp(value, kMin24, kMax24);
  }
  static void Encode(std::span<const int64_t> v, std::span<std::byte> b,
                     int64_t n) {
    NUM24MONO_TO_CHAR(v, b, n);
  }
};

struct Int32Samples {
  using Decoded = int64_t;
  using Blended = int64_t;
  static void Decode(std::span<const std::byte> b, std::span<int64_t> v,
                     int64_t n) {
    DecodeInt32Samples(b, v, n);
  }
  // |sum| stays below 2^32 (the gains are at most 1), so the conversion to
  // 64 bits is exact before the limit applies.
  static int64_t Finish(double sum, int64_t* beyond) {
    const auto value = static_cast<int64_t>(sum);
    if (value < kMin32 || value > kMax32) ++*beyond;
    return std::clamp(value, kMin32, kMax32);
  }
  static void Encode(std::span<const int64_t> v, std::span<std::byte> b,
                     int64_t n) {
    EncodeInt32Samples(v, b, n);
  }
};

template <int32_t kBytes>
struct FloatSamples {
  using Decoded = double;
  using Blended = double;
  static void Decode(std::span<const std::byte> b, std::span<double> v,
                     int64_t n) {
    DecodeFloatSamples(b, v, kBytes, n);
  }
  static double Finish(double sum, int64_t* beyond) {
    const double stored = kBytes == 4 ? static_cast<float>(sum) : sum;
    if (stored > 1.0 || stored < -1.0) ++*beyond;
    return sum;
  }
  static void Encode(std::span<const double> v, std::span<std::byte> b,
                     int64_t n) {
    EncodeFloatSamples(v, b, kBytes, n);
  }
};

}  // namespace takeloom

#include "dsp/codec.h"

#include <bit>
#include <limits>

#include "wav/le_bytes.h"

namespace takeloom {
namespace {

// Float samples are stored as IEEE 754 bits; the host's types must be those.
static_assert(std::numeric_limits<float>::is_iec559 &&
              std::numeric_limits<double>::is_iec559);

// The `width`-byte sample at sample index i, sign-extended.
int64_t SignedAt(std::span<const std::byte> bytes, int64_t i, size_t width) {
  const uint64_t bits = LoadLe(bytes, static_cast<size_t>(i) * width, width);
  const int shift = static_cast<int>(64 - 8 * width);
  return static_cast<int64_t>(bits << shift) >> shift;
}

// Writes the low `width` bytes of the value's two's-complement form.
void EncodeSample(int64_t value, size_t width, std::span<std::byte> bytes,
                  int64_t i) {
  StoreLe(bytes, static_cast<size_t>(i) * width, width,
          static_cast<uint64_t>(value));
}

}  // namespace

void CHAR_TO_NUM32(std::span<const std::byte> bytes, std::span<int64_t> values,
                   int32_t bytes_per_sample, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    switch (bytes_per_sample) {
      case 2:
        // 256 times the sample: its low byte counts unsigned, its high byte
        // carries the sign.
        values[i] = 256 * SignedAt(bytes, i, 2);
        break;
      case 3:
        values[i] = SignedAt(bytes, i, 3);
        break;
      default:
        values[i] = 0;  // no scale is defined for other widths
        break;
    }
  }
}

void NUM16MONO_TO_CHAR(std::span<const int32_t> values,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 2, bytes, i);
}

void NUM24MONO_TO_CHAR(std::span<const int64_t> values,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 3, bytes, i);
}

void DecodeInt32Samples(std::span<const std::byte> bytes,
                        std::span<int64_t> values, int64_t n) {
  for (int64_t i = 0; i < n; ++i) values[i] = SignedAt(bytes, i, 4);
}

void EncodeInt32Samples(std::span<const int64_t> values,
                        std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 4, bytes, i);
}

void DecodeFloatSamples(std::span<const std::byte> bytes,
                        std::span<double> values, int32_t bytes_per_sample,
                        int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    const auto at = static_cast<size_t>(i * bytes_per_sample);
    switch (bytes_per_sample) {
      case 4:
        values[i] = std::bit_cast<float>(LoadU32(bytes, at));
        break;
      case 8:
        values[i] = std::bit_cast<double>(LoadLe(bytes, at, 8));
        break;
      default:
        values[i] = 0.0;
        break;
    }
  }
}

void EncodeFloatSamples(std::span<const double> values,
                        std::span<std::byte> bytes, int32_t bytes_per_sample,
                        int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    const auto at = static_cast<size_t>(i * bytes_per_sample);
    switch (bytes_per_sample) {
      case 4:
        // The conversion rounds to nearest, so a blend is off by at most
        // half a unit in the last place of the stored float.
        StoreLe(bytes, at, 4,
                std::bit_cast<uint32_t>(static_cast<float>(values[i])));
        break;
      case 8:
        StoreLe(bytes, at, 8, std::bit_cast<uint64_t>(values[i]));
        break;
      default:
        return;
    }
  }
}

}  // namespace takeloom

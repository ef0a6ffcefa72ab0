#include "dsp/codec.h"

#include <bit>
#include <limits>

namespace takeloom {
namespace {

// Float samples are stored as IEEE 754 bits; the host's types must be those.
static_assert(std::numeric_limits<float>::is_iec559 &&
              std::numeric_limits<double>::is_iec559);

int64_t Unsigned(std::byte b) { return std::to_integer<int64_t>(b); }

// The byte read as a two's-complement value, -128 to 127.
int64_t Signed(std::byte b) {
  return static_cast<int64_t>(static_cast<int8_t>(std::to_integer<uint8_t>(b)));
}

std::byte LowByte(uint64_t bits) { return static_cast<std::byte>(bits & 0xFF); }

// One sample on the 24-bit scale; the high byte carries the sign. A 16-bit
// sample is shifted up by 8 bits so that both widths blend alike.
int64_t DecodeSample(const std::byte* b, int32_t bytes_per_sample) {
  switch (bytes_per_sample) {
    case 2:
      return 256 * Unsigned(b[0]) + 65536 * Signed(b[1]);
    case 3:
      return Unsigned(b[0]) + 256 * Unsigned(b[1]) + 65536 * Signed(b[2]);
    default:
      return 0;  // no scale is defined for other widths
  }
}

// The `width` bytes at `b` as an unsigned little-endian number.
uint64_t LittleEndian(const std::byte* b, int width) {
  uint64_t bits = 0;
  for (int i = 0; i < width; ++i) {
    bits |= std::to_integer<uint64_t>(b[i]) << (8 * i);
  }
  return bits;
}

// Writes the low `width` bytes of `bits`, least significant first.
void PutLittleEndian(uint64_t bits, int width, std::byte* out) {
  for (int b = 0; b < width; ++b) out[b] = LowByte(bits >> (8 * b));
}

// Writes the low `width` bytes of the value's two's-complement form.
void EncodeSample(int64_t value, int width, std::byte* out) {
  PutLittleEndian(static_cast<uint64_t>(value), width, out);
}

// One part of TWOS_COMP16/24: the product is formed in 64 bits so that no
// factor overflows before the result is narrowed back to 32 bits.
int32_t ScalePart(int64_t part, int32_t factor) {
  int64_t scaled = part * factor;
  if (factor < 0) scaled -= 1;
  return static_cast<int32_t>(scaled);
}

// A byte-sized part above 127 read as the negative byte it encodes.
int64_t AsSignedByte(int32_t part) { return part > 127 ? part - 256 : part; }

}  // namespace

void CHAR_TO_NUM32(std::span<const std::byte> bytes, std::span<int64_t> values,
                   int32_t bytes_per_sample, int64_t n) {
  const int64_t step = bytes_per_sample > 0 ? bytes_per_sample : 0;
  for (int64_t i = 0; i < n; ++i) {
    values[i] =
        step == 0 ? 0 : DecodeSample(&bytes[i * step], bytes_per_sample);
  }
}

void CHAR_TO_NUM32_STEREO(std::span<const std::byte> bytes,
                          std::span<int64_t> channel0,
                          std::span<int64_t> channel1, int32_t bytes_per_sample,
                          int64_t n) {
  const int64_t step = bytes_per_sample > 0 ? bytes_per_sample : 0;
  for (int64_t i = 0; i < n; ++i) {
    if (step == 0) {
      channel0[i] = channel1[i] = 0;
      continue;
    }
    const std::byte* frame = &bytes[2 * i * step];
    channel0[i] = DecodeSample(frame, bytes_per_sample);
    channel1[i] = DecodeSample(frame + step, bytes_per_sample);
  }
}

void NUM16MONO_TO_CHAR(std::span<const int32_t> values,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 2, &bytes[2 * i]);
}

void NUM24MONO_TO_CHAR(std::span<const int64_t> values,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 3, &bytes[3 * i]);
}

void NUM16STER_TO_CHAR(std::span<const int32_t> channel0,
                       std::span<const int32_t> channel1,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    EncodeSample(channel0[i], 2, &bytes[4 * i]);
    EncodeSample(channel1[i], 2, &bytes[4 * i + 2]);
  }
}

void NUM24STER_TO_CHAR(std::span<const int64_t> channel0,
                       std::span<const int64_t> channel1,
                       std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    EncodeSample(channel0[i], 3, &bytes[6 * i]);
    EncodeSample(channel1[i], 3, &bytes[6 * i + 3]);
  }
}

void DecodeInt32Samples(std::span<const std::byte> bytes,
                        std::span<int64_t> values, int64_t n) {
  for (int64_t i = 0; i < n; ++i) values[i] = Assem4(&bytes[4 * i]);
}

void EncodeInt32Samples(std::span<const int64_t> values,
                        std::span<std::byte> bytes, int64_t n) {
  for (int64_t i = 0; i < n; ++i) EncodeSample(values[i], 4, &bytes[4 * i]);
}

void DecodeFloatSamples(std::span<const std::byte> bytes,
                        std::span<double> values, int32_t bytes_per_sample,
                        int64_t n) {
  for (int64_t i = 0; i < n; ++i) {
    switch (bytes_per_sample) {
      case 4:
        values[i] = std::bit_cast<float>(
            static_cast<uint32_t>(LittleEndian(&bytes[4 * i], 4)));
        break;
      case 8:
        values[i] = std::bit_cast<double>(LittleEndian(&bytes[8 * i], 8));
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
    switch (bytes_per_sample) {
      case 4:
        // The conversion rounds to nearest, so a blend is off by at most
        // half a unit in the last place of the stored float.
        PutLittleEndian(std::bit_cast<uint32_t>(static_cast<float>(values[i])),
                        4, &bytes[4 * i]);
        break;
      case 8:
        PutLittleEndian(std::bit_cast<uint64_t>(values[i]), 8, &bytes[8 * i]);
        break;
      default:
        return;
    }
  }
}

int64_t Assem2(const std::byte* bytes) {
  return Unsigned(bytes[0]) + 256 * Unsigned(bytes[1]);
}

int64_t Assem4(const std::byte* bytes) {
  const uint32_t bits = static_cast<uint32_t>(
      Unsigned(bytes[0]) | Unsigned(bytes[1]) << 8 | Unsigned(bytes[2]) << 16 |
      Unsigned(bytes[3]) << 24);
  return static_cast<int32_t>(bits);
}

void Decon2(uint16_t value, std::byte* bytes) {
  bytes[0] = LowByte(value);
  bytes[1] = LowByte(value >> 8);
}

void Decon4(int64_t value, std::byte* bytes) {
  // Truncating division digit by digit: a negative value yields negative
  // digits whose low 8 bits are stored, which is not its two's complement.
  int64_t rest = value;
  const int64_t b3 = rest / 16777216;
  rest -= b3 * 16777216;
  const int64_t b2 = rest / 65536;
  rest -= b2 * 65536;
  const int64_t b1 = rest / 256;
  rest -= b1 * 256;
  bytes[3] = LowByte(static_cast<uint64_t>(b3));
  bytes[2] = LowByte(static_cast<uint64_t>(b2));
  bytes[1] = LowByte(static_cast<uint64_t>(b1));
  bytes[0] = LowByte(static_cast<uint64_t>(rest));
}

void BITS16_TO_BYTES2(int32_t* low, int32_t* high, int64_t value) {
  const int64_t h = value / 256;
  *high = static_cast<int32_t>(h);
  *low = static_cast<int32_t>(value - 256 * h);
}

void BITS24_TO_BYTES3(int32_t* low, int32_t* middle, int32_t* high,
                      int64_t value) {
  const int64_t h = value / 65536;
  const int64_t m = (value - 65536 * h) / 256;
  *high = static_cast<int32_t>(h);
  *middle = static_cast<int32_t>(m);
  *low = static_cast<int32_t>(value - 65536 * h - 256 * m);
}

void TWOS_COMP16(int32_t* low, int32_t* high, int32_t factor) {
  *low = ScalePart(AsSignedByte(*low), factor);
  *high = ScalePart(*high, factor);
}

void TWOS_COMP24(int32_t* low, int32_t* middle, int32_t* high, int32_t factor) {
  *low = ScalePart(AsSignedByte(*low), factor);
  *middle = ScalePart(AsSignedByte(*middle), factor);
  *high = ScalePart(*high, factor);
}

}  // namespace takeloom

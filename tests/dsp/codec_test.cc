#include "dsp/codec.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace takeloom {
namespace {

using ByteVector = std::vector<std::byte>;

ByteVector B(std::initializer_list<int> values) {
  ByteVector out;
  for (int v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

std::string Hex(const ByteVector& bytes) {
  std::string out;
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::byte b : bytes) {
    const int v = std::to_integer<int>(b);
    if (!out.empty()) out += ' ';
    out += kDigits[v >> 4];
    out += kDigits[v & 15];
  }
  return out;
}

struct Case {
  const char* name;
  int32_t width;  // bytes per sample
  ByteVector bytes;
  int64_t value;  // decoded: on the 24-bit scale; encoded: on its own scale
};

TEST(CodecTest, DecodesOntoTheTwentyFourBitScale) {
  const Case cases[] = {
      {"16-bit minimum", 2, B({0x00, 0x80}), -8388608},
      {"16-bit maximum", 2, B({0xFF, 0x7F}), 8388352},
      {"16-bit minus one", 2, B({0xFF, 0xFF}), -256},
      {"16-bit low byte unsigned", 2, B({0x80, 0x00}), 32768},
      {"24-bit maximum", 3, B({0xFF, 0xFF, 0x7F}), 8388607},
      {"24-bit minimum", 3, B({0x00, 0x00, 0x80}), -8388608},
      {"24-bit minus one", 3, B({0xFF, 0xFF, 0xFF}), -1},
      {"24-bit low byte unsigned", 3, B({0x80, 0x00, 0x00}), 128},
      {"24-bit middle byte unsigned", 3, B({0x00, 0x80, 0x00}), 32768},
      {"other widths give zeros", 1, B({0x7F}), 0},
      {"other widths give zeros", 4, B({0x7F, 0x7F, 0x7F, 0x7F}), 0},
  };
  for (const Case& c : cases) {
    std::array<int64_t, 1> value = {12345};
    CHAR_TO_NUM32(c.bytes, value, c.width, 1);
    EXPECT_EQ(value[0], c.value) << c.name << ", width " << c.width;
  }
}

TEST(CodecTest, EncodesTheLowBitsOfEachValue) {
  const Case cases[] = {
      {"minus one", 2, B({0xFF, 0xFF}), -1},
      {"minus 256", 2, B({0x00, 0xFF}), -256},
      {"minimum", 2, B({0x00, 0x80}), -32768},
      {"maximum", 2, B({0xFF, 0x7F}), 32767},
      {"wraps above", 2, B({0x00, 0x80}), 32768},
      {"wraps below", 2, B({0xFF, 0x7F}), -32769},
      {"wraps far", 2, B({0x40, 0x9C}), 40000},
      {"minus one", 3, B({0xFF, 0xFF, 0xFF}), -1},
      {"minimum", 3, B({0x00, 0x00, 0x80}), -8388608},
      {"maximum", 3, B({0xFF, 0xFF, 0x7F}), 8388607},
      {"wraps above", 3, B({0x00, 0x00, 0x80}), 8388608},
      {"wraps far", 3, B({0xF1, 0x04, 0xB5}), 11863281},
  };
  for (const Case& c : cases) {
    // The value as the second of two samples after a zero, so the stride
    // shows.
    ByteVector bytes(2 * c.bytes.size());
    if (c.width == 2) {
      const std::array<int32_t, 2> values = {0, static_cast<int32_t>(c.value)};
      NUM16MONO_TO_CHAR(values, bytes, 2);
    } else {
      const std::array<int64_t, 2> values = {0, c.value};
      NUM24MONO_TO_CHAR(values, bytes, 2);
    }
    const std::string zeros = c.width == 2 ? "00 00 " : "00 00 00 ";
    EXPECT_EQ(Hex(bytes), zeros + Hex(c.bytes))
        << c.name << ", width " << c.width;
  }
}

// Every sample value of both widths through encode and decode, in blocks of
// 1024 samples. 16-bit values come back 256 times larger.
TEST(CodecTest, EverySampleValueRoundTrips) {
  constexpr int kBlock = 1024;
  std::array<int32_t, kBlock> narrow{};
  std::array<int64_t, kBlock> wide{}, back{};
  ByteVector bytes(3 * kBlock);
  for (int64_t first = -32768; first < 32768; first += kBlock) {
    for (int i = 0; i < kBlock; ++i) {
      narrow[i] = static_cast<int32_t>(first + i);
      wide[i] = 256 * int64_t{narrow[i]};
    }
    NUM16MONO_TO_CHAR(narrow, bytes, kBlock);
    CHAR_TO_NUM32(bytes, back, 2, kBlock);
    ASSERT_EQ(back, wide) << "16-bit block from " << first;
  }
  for (int64_t first = -8388608; first < 8388608; first += kBlock) {
    for (int i = 0; i < kBlock; ++i) wide[i] = first + i;
    NUM24MONO_TO_CHAR(wide, bytes, kBlock);
    CHAR_TO_NUM32(bytes, back, 3, kBlock);
    ASSERT_EQ(back, wide) << "24-bit block from " << first;
  }
}

TEST(CodecTest, ThirtyTwoBitSamplesKeepTheirOwnScale) {
  const Case cases[] = {
      {"byte order", 4, B({0x78, 0x56, 0x34, 0x12}), 0x12345678},
      {"minimum", 4, B({0x00, 0x00, 0x00, 0x80}), -2147483648LL},
      {"maximum", 4, B({0xFF, 0xFF, 0xFF, 0x7F}), 2147483647},
      {"minus one", 4, B({0xFF, 0xFF, 0xFF, 0xFF}), -1},
      {"low bytes unsigned", 4, B({0x80, 0x80, 0x80, 0x00}), 0x808080},
  };
  for (const Case& c : cases) {
    // The value as the second of two samples, so the stride shows.
    ByteVector bytes = B({0x01, 0x00, 0x00, 0x00});
    bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
    std::array<int64_t, 2> values{};
    DecodeInt32Samples(bytes, values, 2);
    EXPECT_EQ(values, (std::array<int64_t, 2>{1, c.value})) << c.name;
    ByteVector again(8);
    EncodeInt32Samples(values, again, 2);
    EXPECT_EQ(Hex(again), Hex(bytes)) << c.name;
  }
  // Encoding keeps the low 32 bits; limiting is the caller's business.
  const std::array<int64_t, 2> outside = {2147483648LL, -2147483649LL};
  ByteVector bytes(8);
  EncodeInt32Samples(outside, bytes, 2);
  EXPECT_EQ(Hex(bytes), "00 00 00 80 FF FF FF 7F");
}

TEST(CodecTest, FloatSamplesDecodeExactly) {
  struct FloatCase {
    const char* name;
    int32_t width;
    ByteVector bytes;
    double value;
  };
  const FloatCase cases[] = {
      {"single one", 4, B({0x00, 0x00, 0x80, 0x3F}), 1.0},
      {"single -2.5", 4, B({0x00, 0x00, 0x20, 0xC0}), -2.5},
      {"single smallest subnormal", 4, B({0x01, 0x00, 0x00, 0x00}),
       std::ldexp(1.0, -149)},
      {"single 1 + 2^-23", 4, B({0x01, 0x00, 0x80, 0x3F}),
       1.0 + std::ldexp(1.0, -23)},
      {"double one", 8, B({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}), 1.0},
      {"double 1 + 2^-52", 8, B({1, 0, 0, 0, 0, 0, 0xF0, 0x3F}),
       1.0 + std::ldexp(1.0, -52)},
      {"double -0.1", 8, B({0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0xBF}),
       -0.1},
  };
  for (const FloatCase& c : cases) {
    std::array<double, 1> value = {12345.0};
    DecodeFloatSamples(c.bytes, value, c.width, 1);
    EXPECT_EQ(value[0], c.value) << c.name;
    ByteVector again(c.bytes.size());
    EncodeFloatSamples(value, again, c.width, 1);
    EXPECT_EQ(Hex(again), Hex(c.bytes)) << c.name;
  }
  std::array<double, 1> value = {12345.0};
  DecodeFloatSamples(B({0x00, 0x3C}), value, 2, 1);
  EXPECT_EQ(value[0], 0.0) << "other widths give zeros";
}

TEST(CodecTest, SingleFloatEncodingRoundsToNearest) {
  const double ulp = std::ldexp(1.0, -23);  // of floats in [1, 2)
  const struct {
    const char* name;
    double value;
    const char* bytes;
  } cases[] = {
      {"exact", 1.0 + ulp, "01 00 80 3F"},
      {"just below half an ulp", 1.0 + 0.4999 * ulp, "00 00 80 3F"},
      {"just above half an ulp", 1.0 + 0.5001 * ulp, "01 00 80 3F"},
      {"tie to even, down", 1.0 + 0.5 * ulp, "00 00 80 3F"},
      {"tie to even, up", 1.0 + 1.5 * ulp, "02 00 80 3F"},
      {"negative rounds away", -(1.0 + 0.75 * ulp), "01 00 80 BF"},
      {"beyond the largest float", 1e39, "00 00 80 7F"},
  };
  for (const auto& c : cases) {
    const std::array<double, 1> value = {c.value};
    ByteVector bytes(4);
    EncodeFloatSamples(value, bytes, 4, 1);
    EXPECT_EQ(Hex(bytes), c.bytes) << c.name;
  }
  ByteVector untouched = B({0xAA, 0xAA});
  EncodeFloatSamples(std::array<double, 1>{1.0}, untouched, 2, 1);
  EXPECT_EQ(Hex(untouched), "AA AA") << "other widths write nothing";
}

// A float widens to double exactly, so every non-NaN single comes back with
// the same bits: subnormals, signed zeros and infinities included.
TEST(CodecTest, SingleFloatsRoundTrip) {
  constexpr int kBlock = 1024;
  std::array<double, kBlock> values{};
  ByteVector bytes(4 * kBlock), again(4 * kBlock);
  for (uint64_t first = 0; first < (uint64_t{1} << 32);
       first += 4099 * kBlock) {
    for (int i = 0; i < kBlock; ++i) {
      uint32_t bits = static_cast<uint32_t>(first + uint64_t{4099} * i);
      if (i == 0) bits = 0x80000000u;  // -0
      if (i == 1) bits = 0xFF800000u;  // -infinity
      if (std::isnan(std::bit_cast<float>(bits))) bits = 0x7F800000u;
      for (int b = 0; b < 4; ++b) {
        bytes[4 * i + b] = static_cast<std::byte>(bits >> (8 * b));
      }
    }
    DecodeFloatSamples(bytes, values, 4, kBlock);
    EncodeFloatSamples(values, again, 4, kBlock);
    ASSERT_EQ(Hex(again), Hex(bytes)) << "block from " << first;
  }
}

}  // namespace
}  // namespace takeloom

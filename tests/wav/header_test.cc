#include "wav/header.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

std::string AsString(const std::array<std::byte, kHeaderBytes>& header) {
  return std::string(reinterpret_cast<const char*>(header.data()), header.size());
}

uint32_t U32(const std::array<std::byte, kHeaderBytes>& h, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(h[at + i]) << (8 * i);
  return value;
}

uint32_t U16(const std::array<std::byte, kHeaderBytes>& h, size_t at) {
  return static_cast<uint32_t>(h[at]) | (static_cast<uint32_t>(h[at + 1]) << 8);
}

TEST(WavHeaderTest, WritesEveryByteOfStereoTake) {
  const std::string expected(
      "RIFF\xC4\xEA\x1A\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
      "\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00"
      "data\xA0\xEA\x1A\x00",
      44);
  EXPECT_EQ(AsString(HeaderBytes(44100, 16, 441000, 2)), expected);
}

TEST(WavHeaderTest, DeclaresFloatAudioOnlyByItsFormatTag) {
  const auto integer = HeaderBytes(48000, 32, 10, 6);
  const auto floating = HeaderBytes(48000, 32, 10, 6, SampleFormat::kFloat);
  EXPECT_EQ(U16(integer, 20), 1u);
  EXPECT_EQ(U16(floating, 20), 3u);
  auto rest = floating;
  rest[20] = std::byte{1};
  EXPECT_EQ(AsString(rest), AsString(integer));
}

TEST(WavHeaderTest, FormsSizesAndSaturatesBeyond4GiB) {
  struct Case {
    const char* name;
    uint32_t rate, bits;
    int64_t frames;
    uint32_t channels;
    uint32_t riff_size, byte_rate, block_align, data_size, channel_field;
  };
  const Case cases[] = {
      {"24-bit mono, empty", 48000, 24, 0, 1, 36, 144000, 3, 0, 1},
      {"12-bit stereo", 44100, 12, 1000, 2, 2036, 88200, 3, 2000, 2},
      {"4 GiB", 44100, 16, 1073741824, 2, 0xFFFFFFFF, 176400, 4, 0xFFFFFFFF, 2},
      {"data fits, RIFF size not", 44100, 16, 1073741823, 2, 0xFFFFFFFF, 176400,
       4, 0xFFFFFFFC, 2},
      {"largest exact RIFF size", 44100, 8, 0xFFFFFFFF - 36, 1, 0xFFFFFFFF,
       44100, 1, 0xFFFFFFFF - 36, 1},
      {"product beyond 64 bits", 44100, 24, INT64_MAX, 2, 0xFFFFFFFF, 264600, 6,
       0xFFFFFFFF, 2},
      {"negative frames", 44100, 16, -5, 2, 36, 176400, 4, 0, 2},
      {"channel count cut to 16 bits", 8000, 16, 10, 0x10002, 76, 32000, 4, 40, 2},
  };
  for (const Case& c : cases) {
    const auto h = HeaderBytes(c.rate, c.bits, c.frames, c.channels);
    EXPECT_EQ(U32(h, 4), c.riff_size) << c.name;
    EXPECT_EQ(U16(h, 22), c.channel_field) << c.name;
    EXPECT_EQ(U32(h, 24), c.rate) << c.name;
    EXPECT_EQ(U32(h, 28), c.byte_rate) << c.name;
    EXPECT_EQ(U16(h, 32), c.block_align) << c.name;
    EXPECT_EQ(U16(h, 34), c.bits) << c.name;
    EXPECT_EQ(U32(h, 40), c.data_size) << c.name;
  }
}

TEST(WavHeaderTest, ReplacesAnExistingFile) {
  testing::TempDir dir;
  const std::string path = dir.File("out.wav");
  testing::WriteFile(path, std::string(5000, 'x'));
  ASSERT_TRUE(MAKE_HEADER(path, 48000, 24, 0, 1));
  EXPECT_EQ(testing::ReadFile(path), AsString(HeaderBytes(48000, 24, 0, 1)));
}

TEST(WavHeaderTest, ReportsFilesItCannotWrite) {
  testing::TempDir dir;
  EXPECT_FALSE(MAKE_HEADER(dir.path().string(), 44100, 16, 1, 2));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
  EXPECT_FALSE(MAKE_HEADER(dir.File("no/such/dir.wav"), 44100, 16, 1, 2));
  {
    // A write that fails half-way leaves no partial header behind.
    const testing::ScopedFileSizeLimit limit(10);
    EXPECT_FALSE(MAKE_HEADER(dir.File("cut.wav"), 44100, 16, 1, 2));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("cut.wav")));
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(MAKE_HEADER("/dev/full", 44100, 16, 1, 2));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  }
}

}  // namespace
}  // namespace takeloom

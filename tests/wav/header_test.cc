#include "wav/header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

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

TrackFormat Format(uint32_t rate, uint32_t bits, uint32_t channels,
                   SampleFormat format = SampleFormat::kInteger) {
  return {rate, bits, bits / 8, channels, format};
}

TEST(WavHeaderTest, WritesEveryByteOfStereoTake) {
  const std::string expected(
      "RIFF\xC4\xEA\x1A\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00"
      "\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00"
      "data\xA0\xEA\x1A\x00",
      44);
  EXPECT_EQ(AsString(HeaderBytes(Format(44100, 16, 2), 441000)), expected);
}

TEST(WavHeaderTest, DeclaresFloatAudioOnlyByItsFormatTag) {
  const auto integer = HeaderBytes(Format(48000, 32, 6), 10);
  const auto floating =
      HeaderBytes(Format(48000, 32, 6, SampleFormat::kFloat), 10);
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
    const auto h = HeaderBytes(Format(c.rate, c.bits, c.channels), c.frames);
    EXPECT_EQ(U32(h, 4), c.riff_size) << c.name;
    EXPECT_EQ(U16(h, 22), c.channel_field) << c.name;
    EXPECT_EQ(U32(h, 24), c.rate) << c.name;
    EXPECT_EQ(U32(h, 28), c.byte_rate) << c.name;
    EXPECT_EQ(U16(h, 32), c.block_align) << c.name;
    EXPECT_EQ(U16(h, 34), c.bits) << c.name;
    EXPECT_EQ(U32(h, 40), c.data_size) << c.name;
  }
}

// The file is new, whatever stood under its name (the file a link points
// to, or another name of a hard-linked file, is never written), and stays
// open for the audio that follows the header.
TEST(WavHeaderTest, WritesANewFileAndLeavesItOpen) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const std::string outside = dir.File("outside.wav");
  const std::string old_bytes(5000, 'x');
  const TrackFormat format = Format(48000, 24, 1);
  const testing::Bytes audio = testing::Noise(6, 1);
  const char* cases[] = {"a file", "a link", "a hard link", "a dangling link"};
  for (const char* name : cases) {
    const std::string path = dir.File("out.wav");
    fs::remove(path);
    testing::WriteFile(outside, old_bytes);
    const std::string which(name);
    if (which == "a file") testing::WriteFile(path, old_bytes);
    if (which == "a link") fs::create_symlink(outside, path);
    if (which == "a hard link") fs::create_hard_link(outside, path);
    if (which == "a dangling link") fs::create_symlink(dir.File("none/x"), path);
    File file;
    ASSERT_TRUE(MAKE_HEADER(path, format, 0, &file).ok()) << name;
    ASSERT_TRUE(file.WriteAt(kHeaderBytes, audio)) << name;
    ASSERT_TRUE(file.Close()) << name;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << name;
    EXPECT_EQ(testing::ReadFile(path),
              AsString(HeaderBytes(format, 0)) +
                  std::string(reinterpret_cast<const char*>(audio.data()), 6))
        << name;
    EXPECT_EQ(testing::ReadFile(outside), old_bytes) << name;
  }
}

// A half-written file is removed; whatever else stood at the path stays.
TEST(WavHeaderTest, ReportsFilesItCannotWrite) {
  testing::TempDir dir;
  namespace fs = std::filesystem;
  struct Case {
    const char* name;
    std::string path;
    uint64_t size_limit;  // 0: none
    fs::file_type after;
  };
  const Case cases[] = {
      {"a directory", dir.path().string(), 0, fs::file_type::directory},
      {"no such directory", dir.File("no/such/dir.wav"), 0,
       fs::file_type::not_found},
      {"cut short by a size limit", dir.File("cut.wav"), 10,
       fs::file_type::not_found},
  };
  for (const Case& c : cases) {
    File file;
    Error err;
    {
      std::optional<testing::ScopedFileSizeLimit> limit;
      if (c.size_limit != 0) limit.emplace(c.size_limit);
      err = MAKE_HEADER(c.path, Format(44100, 16, 2), 1, &file);
    }
    EXPECT_EQ(err.fault, Fault::kCannotWrite) << c.name;
    EXPECT_EQ(err.file, c.path) << c.name;
    EXPECT_FALSE(file.is_open()) << c.name;
    EXPECT_EQ(fs::symlink_status(c.path).type(), c.after) << c.name;
  }
}

}  // namespace
}  // namespace takeloom

#include "wav/copy.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"
#include "wav/header.h"

namespace takeloom {
namespace {

using testing::Bytes;

std::string Str(const Bytes& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A take whose audio starts at byte 62: an 18-byte chunk precedes "data".
Bytes TakeAt62(uint32_t bytes_per_sample, uint32_t channels, Bytes audio) {
  testing::TakeParts parts;
  parts.channels = channels;
  parts.bits_per_sample = 8 * bytes_per_sample;
  testing::PutText(parts.extra_chunks, "junk");
  testing::PutU32(parts.extra_chunks, 10);
  parts.extra_chunks.resize(18, std::byte{0});
  parts.audio = std::move(audio);
  return testing::MakeTake(parts);
}

TEST(CopyTest, CopiesBlocksBetweenDifferentDataStarts) {
  struct Case {
    const char* name;
    uint32_t bytes_per_sample, channels;
    int64_t destination_frame, frames, source_frame;
  };
  const Case cases[] = {
      {"one block", 2, 2, 100, 1024, 100},
      {"a block and a frame", 2, 2, 100, 1025, 100},
      {"three blocks", 2, 2, 100, 2500, 100},
      {"24-bit mono at its own positions", 3, 1, 1000, 2500, 7},
  };
  for (const Case& c : cases) {
    testing::TempDir dir;
    const int64_t frame_size = c.bytes_per_sample * c.channels;
    const Bytes audio = testing::Noise(3000 * frame_size, 1);
    testing::WriteFile(dir.File("take.wav"),
                       TakeAt62(c.bytes_per_sample, c.channels, audio));
    ASSERT_TRUE(MAKE_HEADER(dir.File("out.wav"), 44100, 8 * c.bytes_per_sample,
                            0, c.channels));
    const std::string header = testing::ReadFile(dir.File("out.wav"));

    EXPECT_EQ(INSERT_FILE(dir.File("out.wav"), dir.File("take.wav"),
                          c.destination_frame, c.bytes_per_sample, c.channels,
                          c.frames, c.source_frame),
              CopyResult::kOk)
        << c.name;
    // The gap before the first written frame reads as silence.
    const std::string expected =
        header + std::string(c.destination_frame * frame_size, '\0') +
        Str(audio).substr(c.source_frame * frame_size, c.frames * frame_size);
    EXPECT_EQ(testing::ReadFile(dir.File("out.wav")), expected) << c.name;
  }
}

TEST(CopyTest, FramesPastTheSourceEndAreZero) {
  testing::TempDir dir;
  // 300 frames but the last one lacks its final 2 bytes.
  const Bytes audio = testing::Noise(300 * 4 - 2, 2);
  testing::WriteFile(dir.File("take.wav"), TakeAt62(2, 2, audio));
  const std::string old_audio = Str(testing::Noise(8000, 3));
  testing::WriteFile(dir.File("out.wav"),
                     Str(testing::MakeTake(testing::TakeParts())) + old_audio);

  ASSERT_EQ(INSERT_FILE(dir.File("out.wav"), dir.File("take.wav"), 0, 2, 2,
                        1500, 100),
            CopyResult::kOk);
  // 200 frames exist in the source, the 2nd block holds none of them.
  const std::string copied = Str(audio).substr(400);
  const std::string expected = copied + std::string(6000 - copied.size(), '\0') +
                               old_audio.substr(6000);
  EXPECT_EQ(testing::ReadFile(dir.File("out.wav")).substr(44), expected);
}

// Frames wider than a block (here 100000 bytes) still move whole: memory
// is bounded by bytes, not by frames, whatever a header declares.
TEST(CopyTest, CopiesAndPadsFramesWiderThanABlock) {
  testing::TempDir dir;
  constexpr uint32_t kChannels = 50000;  // 16-bit: 100000-byte frames
  constexpr int64_t kFrame = 2 * kChannels;
  const Bytes audio = testing::Noise(4 * kFrame, 5);
  testing::WriteFile(dir.File("take.wav"), TakeAt62(2, kChannels, audio));
  ASSERT_TRUE(MAKE_HEADER(dir.File("out.wav"), 8000, 16, 4, kChannels));

  ASSERT_EQ(INSERT_FILE(dir.File("out.wav"), dir.File("take.wav"), 1, 2,
                        kChannels, 3, 0),
            CopyResult::kOk);
  std::string expected = std::string(kFrame, '\0') +
                         Str(audio).substr(0, 3 * kFrame);
  EXPECT_EQ(testing::ReadFile(dir.File("out.wav")).substr(44), expected);

  ASSERT_EQ(PAD_FILE(dir.File("out.wav"), 2, 2, kChannels, 1),
            CopyResult::kOk);
  expected.replace(2 * kFrame, kFrame, kFrame, '\0');
  EXPECT_EQ(testing::ReadFile(dir.File("out.wav")).substr(44), expected);
}

TEST(CopyTest, PadsBetweenUntouchedBytesAndGrowsTheFile) {
  testing::TempDir dir;
  const std::string path = dir.File("out.wav");
  const std::string before =
      Str(testing::MakeTake(testing::TakeParts())) + Str(testing::Noise(12000, 4));
  testing::WriteFile(path, before);

  ASSERT_EQ(PAD_FILE(path, 500, 2, 2, 2100), CopyResult::kOk);
  std::string expected = before;
  expected.replace(2044, 8400, 8400, '\0');
  EXPECT_EQ(testing::ReadFile(path), expected);

  ASSERT_EQ(PAD_FILE(path, 3100, 2, 2, 10), CopyResult::kOk);
  EXPECT_EQ(testing::ReadFile(path), expected + std::string(440, '\0'));
}

TEST(CopyTest, ScansEveryFileBeforeLookingAtTheFrameCount) {
  testing::TempDir dir;
  const std::string good = dir.File("good.wav");
  const std::string untagged = dir.File("untagged.wav");
  const std::string late = dir.File("late.wav");  // "data" at 15002
  ASSERT_TRUE(MAKE_HEADER(good, 44100, 16, 0, 2));
  testing::WriteFile(untagged, std::string(100, '\0'));
  std::string late_bytes(15100, '\0');
  late_bytes.replace(15002, 4, "data");
  testing::WriteFile(late, late_bytes);
  const std::string missing = dir.File("missing.wav");
  const std::string directory = dir.path().string();

  const std::map<std::string, std::pair<CopyResult, CopyResult>> cases = {
      {"untagged destination",
       {INSERT_FILE(untagged, good, 0, 2, 2, 0, 0), CopyResult::kNoDataBlock}},
      {"untagged source",
       {INSERT_FILE(good, untagged, 0, 2, 2, 0, 0), CopyResult::kNoDataBlock}},
      {"untagged pad", {PAD_FILE(untagged, 0, 2, 2, 0), CopyResult::kNoDataBlock}},
      {"late tag pad", {PAD_FILE(late, 0, 2, 2, 1), CopyResult::kNoDataBlock}},
      {"late tag copy",
       {INSERT_FILE(late, good, 0, 2, 2, -5, 0), CopyResult::kOk}},
      {"missing source",
       {INSERT_FILE(good, missing, 0, 2, 2, 1, 0), CopyResult::kSourceUnreadable}},
      {"directory destination",
       {INSERT_FILE(directory, good, 0, 2, 2, 1, 0),
        CopyResult::kDestinationFailed}},
      {"directory pad",
       {PAD_FILE(directory, 0, 2, 2, 1), CopyResult::kDestinationFailed}},
      {"missing pad", {PAD_FILE(missing, 0, 2, 2, 1), CopyResult::kDestinationFailed}},
  };
  for (const auto& [name, result] : cases) {
    EXPECT_EQ(result.first, result.second) << name;
  }
  EXPECT_EQ(testing::ReadFile(late), late_bytes);
  EXPECT_EQ(std::filesystem::file_size(good), 44u);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(CopyTest, ReportsWritesThatFail) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("take.wav"), TakeAt62(2, 2, testing::Noise(10000, 5)));
  ASSERT_TRUE(MAKE_HEADER(dir.File("out.wav"), 44100, 16, 0, 2));
  // Room for the first block only.
  const testing::ScopedFileSizeLimit limit(44 + 4096 + 100);
  EXPECT_EQ(INSERT_FILE(dir.File("out.wav"), dir.File("take.wav"), 0, 2, 2, 2500, 0),
            CopyResult::kDestinationFailed);
  EXPECT_EQ(PAD_FILE(dir.File("out.wav"), 0, 2, 2, 2500),
            CopyResult::kDestinationFailed);
}

// Value after "Name : " in the report of the external WAV reader.
std::string Field(const std::string& report, const std::string& name) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (line.rfind(name, 0) == 0 && colon != std::string::npos) {
      return line.substr(colon + 2);
    }
  }
  return "(no " + name + ")";
}

TEST(CopyTest, WrittenFileOpensInAnotherReader) {
  if (std::system("command -v soxi >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "soxi is not installed";
  }
  testing::TempDir dir;
  const std::string out = dir.File("out.wav");
  testing::WriteFile(dir.File("take.wav"), TakeAt62(3, 2, testing::Noise(6000 * 6, 6)));
  ASSERT_TRUE(MAKE_HEADER(out, 48000, 24, 3000, 2));
  ASSERT_EQ(PAD_FILE(out, 0, 3, 2, 1000), CopyResult::kOk);
  ASSERT_EQ(INSERT_FILE(out, dir.File("take.wav"), 1000, 3, 2, 2000, 4000),
            CopyResult::kOk);

  std::string report;
  FILE* pipe = popen(("soxi '" + out + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char chunk[256];
  while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) report.append(chunk, n);
  ASSERT_EQ(pclose(pipe), 0) << report;
  EXPECT_EQ(Field(report, "Channels"), "2") << report;
  EXPECT_EQ(Field(report, "Sample Rate"), "48000") << report;
  EXPECT_EQ(Field(report, "Precision"), "24-bit") << report;
  EXPECT_EQ(Field(report, "Sample Encoding"), "24-bit Signed Integer PCM") << report;
  EXPECT_NE(Field(report, "Duration").find("= 3000 samples"), std::string::npos)
      << report;
}

}  // namespace
}  // namespace takeloom

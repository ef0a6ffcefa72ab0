#include "wav/header.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

using testing::Le;
using testing::Text;

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
  EXPECT_EQ(Text(HeaderBytes(Format(44100, 16, 2), 441000)), expected);
}

// Float audio is declared as readers expect it: an 18-byte format chunk
// (the fields and an extension size of 0) and a fact chunk with the frames.
TEST(WavHeaderTest, WritesEveryByteOfFloatTake) {
  const std::string expected(
      "RIFF\x22\x01\x00\x00WAVEfmt \x12\x00\x00\x00\x03\x00\x06\x00"
      "\x80\xBB\x00\x00\x00\x94\x11\x00\x18\x00\x20\x00\x00\x00"
      "fact\x04\x00\x00\x00\x0A\x00\x00\x00"
      "data\xF0\x00\x00\x00",
      58);
  EXPECT_EQ(Text(HeaderBytes(Format(48000, 32, 6, SampleFormat::kFloat), 10)),
            expected);
}

TEST(WavHeaderTest, FormsSizesAndTurnsToRf64Beyond4GiB) {
  struct Case {
    const char* name;
    TrackFormat format;
    int64_t frames;
    size_t header_bytes;  // 44 and 58 classic, 80 and 94 RF64
    uint64_t riff_size, data_size;
    uint32_t byte_rate, block_align, channel_field;
  };
  const TrackFormat float_mono = Format(48000, 32, 1, SampleFormat::kFloat);
  constexpr uint64_t k32 = 0xFFFFFFFF;
  constexpr int64_t kFloatFits = (k32 - 50) / 4;  // frames
  const Case cases[] = {
      {"24-bit mono, empty", Format(48000, 24, 1), 0, 44, 36, 0, 144000, 3, 1},
      {"12-bit stereo", Format(44100, 12, 2), 1000, 44, 2036, 2000, 88200, 3,
       2},
      {"negative frames", Format(44100, 16, 2), -5, 44, 36, 0, 176400, 4, 2},
      {"channel count cut to 16 bits", Format(8000, 16, 0x10002), 10, 44, 76,
       40, 32000, 4, 2},
      {"largest RIFF size that fits", Format(44100, 8, 1), k32 - 36, 44, k32,
       k32 - 36, 44100, 1, 1},
      {"one byte more", Format(44100, 8, 1), k32 - 35, 80, k32 - 35 + 72,
       k32 - 35, 44100, 1, 1},
      {"4 GiB of 16-bit stereo", Format(44100, 16, 2), 1073741824, 80,
       4294967296 + 72, 4294967296, 176400, 4, 2},
      {"float, largest that fits", float_mono, kFloatFits, 58,
       50 + kFloatFits * 4, kFloatFits * 4, 192000, 4, 1},
      {"float beyond", float_mono, kFloatFits + 1, 94,
       86 + (kFloatFits + 1) * 4, (kFloatFits + 1) * 4, 192000, 4, 1},
  };
  for (const Case& c : cases) {
    const std::vector<std::byte> h = HeaderBytes(c.format, c.frames);
    const std::string text = Text(h);
    ASSERT_EQ(h.size(), c.header_bytes) << c.name;
    const bool rf64 = c.header_bytes >= 80;
    const size_t fmt = rf64 ? 48 : 12;
    EXPECT_EQ(text.substr(0, 4), rf64 ? "RF64" : "RIFF") << c.name;
    EXPECT_EQ(text.substr(8, 4), "WAVE") << c.name;
    EXPECT_EQ(text.substr(fmt, 4), "fmt ") << c.name;
    EXPECT_EQ(Le(h, fmt + 10, 2), c.channel_field) << c.name;
    EXPECT_EQ(Le(h, fmt + 12, 4), c.format.sample_rate) << c.name;
    EXPECT_EQ(Le(h, fmt + 16, 4), c.byte_rate) << c.name;
    EXPECT_EQ(Le(h, fmt + 20, 2), c.block_align) << c.name;
    EXPECT_EQ(Le(h, fmt + 22, 2), c.format.bits_per_sample) << c.name;
    EXPECT_EQ(text.substr(h.size() - 8, 4), "data") << c.name;
    if (!rf64) {
      EXPECT_EQ(Le(h, 4, 4), c.riff_size) << c.name;
      EXPECT_EQ(Le(h, h.size() - 4, 4), c.data_size) << c.name;
      continue;
    }
    // The 32-bit sizes give way to the ds64 chunk's 64-bit ones.
    EXPECT_EQ(Le(h, 4, 4), 0xFFFFFFFFu) << c.name;
    EXPECT_EQ(Le(h, h.size() - 4, 4), 0xFFFFFFFFu) << c.name;
    EXPECT_EQ(text.substr(12, 8), std::string("ds64\x1C\0\0\0", 8)) << c.name;
    EXPECT_EQ(Le(h, 20, 8), c.riff_size) << c.name;
    EXPECT_EQ(Le(h, 28, 8), c.data_size) << c.name;
    EXPECT_EQ(Le(h, 36, 8), static_cast<uint64_t>(c.frames)) << c.name;
    EXPECT_EQ(Le(h, 44, 4), 0u) << c.name;
    if (c.header_bytes == 94) {
      EXPECT_EQ(text.substr(74, 8), std::string("fact\4\0\0\0", 8)) << c.name;
      EXPECT_EQ(Le(h, 82, 4), static_cast<uint64_t>(c.frames)) << c.name;
    }
  }
}

// What an output keeps of its first take: the extensible format, metadata
// copied from wherever it lies in the take to after the format (and fact)
// chunk, and the audio where the take's lies within a 4096-byte block,
// moved there by a JUNK chunk that sizes count.
TEST(WavHeaderTest, KeepsTheTakesFormatMetadataAndAudioPlace) {
  testing::TempDir dir;
  const std::string take = dir.File("take.wav");
  const std::string out = dir.File("out.wav");
  // A bext chunk at byte 100, then an iXML chunk of more than one copy
  // block: noise, a run of zeros (holes in the output), noise again.
  const std::string ixml_body = Text(testing::Noise(70000, 1)) +
                                std::string(140000, '\0') + "end";
  testing::WriteFile(take, std::string(100, 'x') +
                               Text(testing::Chunk("bext", "abc")) +
                               Text(testing::Chunk("iXML", ixml_body)));
  const Identity id = LookUp(take).id;
  const auto extras = [&](int64_t align_with, uint32_t valid_bits = 99) {
    HeaderExtras e{take, id, {{100, 12}}, std::nullopt, align_with};
    if (valid_bits != 99) e.extensible = ExtensibleInfo{valid_bits, 0x3F};
    return e;
  };
  const auto make = [&](const TrackFormat& format, int64_t frames,
                        const HeaderExtras& e, int64_t* audio_start) {
    File file;
    const Error err = MAKE_HEADER(out, format, frames, &file, audio_start, e);
    EXPECT_EQ(file.is_open(), err.ok());
    return err;
  };
  struct Case {
    const char* name;
    TrackFormat format;
    int64_t frames;
    HeaderExtras extras;
    size_t audio_at;
    uint32_t valid_bits = 0;  // as written, when extensible
  };
  const Case cases[] = {
      {"odd start: no JUNK", Format(48000, 24, 2), 10, extras(45), 56},
      {"float, extensible, valid bits kept",
       Format(48000, 32, 2, SampleFormat::kFloat), 10, extras(8192 + 130, 20),
       130, 20},
      {"valid bits beyond the sample", Format(48000, 24, 2), 10,
       extras(-1, 25), 80, 24},
      {"RF64 once the JUNK chunk counts", Format(44100, 8, 1),
       0xFFFFFFFF - 48, extras(0), 4096},
  };
  for (const Case& c : cases) {
    int64_t audio_start = 0;
    ASSERT_TRUE(make(c.format, c.frames, c.extras, &audio_start).ok())
        << c.name;
    const std::string text = testing::ReadFile(out);
    const testing::Bytes h = testing::ToBytes(text);
    ASSERT_EQ(h.size(), c.audio_at) << c.name;
    EXPECT_EQ(audio_start, std::ssize(h)) << c.name;
    EXPECT_EQ(text.substr(h.size() - 8, 4), "data") << c.name;
    const bool rf64 = text.substr(0, 4) == "RF64";
    EXPECT_EQ(rf64 ? Le(h, 20, 8) : Le(h, 4, 4),
              c.audio_at - 8 + c.frames * c.format.FrameSize())
        << c.name;
    const size_t fmt = rf64 ? 48 : 12;
    const bool is_float = c.format.format == SampleFormat::kFloat;
    const size_t bext = fmt + 8 + Le(h, fmt + 4, 4) + (is_float ? 12 : 0);
    EXPECT_EQ(text.substr(bext, 12), std::string("bext\3\0\0\0abc\0", 12))
        << c.name;
    if (c.extras.extensible) {
      EXPECT_EQ(Le(h, fmt + 8, 2), 0xFFFEu) << c.name;
      EXPECT_EQ(text.substr(fmt + 26, 22),
                std::string(1, static_cast<char>(c.valid_bits)) +
                    std::string("\0\x3F\0\0\0", 5) + (is_float ? '\3' : '\1') +
                    std::string("\0\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 15))
          << c.name;
    }
  }

  // Both chunks, the iXML chunk copied block by block, byte for byte.
  HeaderExtras both = extras(-1);
  both.metadata.push_back({112, 8 + std::ssize(ixml_body) + 1});
  int64_t audio_start = 0;
  ASSERT_TRUE(make(Format(48000, 24, 2), 10, both, &audio_start).ok());
  // (Compared as a truth: a difference would print 210 KB.)
  EXPECT_TRUE(testing::ReadFile(out).substr(36) ==
              testing::ReadFile(take).substr(100) +
                  std::string("data\x3C\0\0\0", 8));

  // The take must still be the one inspected, and hold what it declared;
  // else nothing is written.
  HeaderExtras past_end = extras(-1);
  past_end.metadata.push_back({112, std::ssize(ixml_body) + 100});
  testing::WriteFile(dir.File("other.wav"), testing::ReadFile(take));
  HeaderExtras other = extras(-1);
  other.take_path = dir.File("other.wav");
  for (const HeaderExtras* e : {&past_end, &other}) {
    const Error err = make(Format(48000, 24, 2), 10, *e, &audio_start);
    EXPECT_EQ(err.fault, Fault::kTakeChanged) << e->take_path;
    EXPECT_EQ(err.file, e->take_path);
    EXPECT_FALSE(std::filesystem::exists(out)) << e->take_path;
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
    int64_t audio_start = 0;
    ASSERT_TRUE(MAKE_HEADER(path, format, 0, &file, &audio_start).ok()) << name;
    ASSERT_EQ(audio_start, 44) << name;
    ASSERT_TRUE(file.WriteAt(audio_start, audio)) << name;
    ASSERT_TRUE(file.Close()) << name;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path))) << name;
    EXPECT_EQ(testing::ReadFile(path),
              Text(HeaderBytes(format, 0)) + Text(audio))
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
      int64_t audio_start = 0;
      err = MAKE_HEADER(c.path, Format(44100, 16, 2), 1, &file, &audio_start);
    }
    EXPECT_EQ(err.fault, Fault::kCannotWrite) << c.name;
    EXPECT_EQ(err.file, c.path) << c.name;
    EXPECT_FALSE(file.is_open()) << c.name;
    EXPECT_EQ(fs::symlink_status(c.path).type(), c.after) << c.name;
  }
}

}  // namespace
}  // namespace takeloom

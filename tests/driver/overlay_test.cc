#include "driver/overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

using testing::Bytes;

std::string Str(std::span<const std::byte> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TrackFormat Format(uint32_t channels, uint32_t bits,
                   SampleFormat format = SampleFormat::kInteger) {
  return {44100, bits, bits / 8, channels, format};
}

// A take of `format` holding `audio`. With `trailer`, a metadata chunk of
// nonzero bytes follows the audio, where frames past its end would lie.
void WriteTake(const std::string& path, const TrackFormat& format,
               const Bytes& audio, bool trailer = false) {
  testing::TakeParts parts;
  parts.channels = format.channels;
  parts.bits_per_sample = format.bits_per_sample;
  parts.format_tag = static_cast<uint16_t>(FormatTagOf(format.format));
  parts.audio = audio;
  Bytes file = testing::MakeTake(parts);
  if (trailer) {
    const Bytes list = testing::Chunk("LIST", std::string(64, 'Z'));
    file.insert(file.end(), list.begin(), list.end());
  }
  testing::WriteFile(path, file);
}

// A take as the run knows it once inspected (nothing known of a missing
// one, which no reader can open).
Take Inspected(const std::string& path) {
  Inspection inspection;
  GET_ATTRIBUTES(path, &inspection);
  return {path, inspection.take};
}

// Frames [first, first + count) of `audio`, zero where it holds none.
std::string Frames(const Bytes& audio, int64_t frame_size, int64_t first,
                   int64_t count) {
  std::string out(static_cast<size_t>(count * frame_size), '\0');
  for (int64_t i = 0; i < std::ssize(out); ++i) {
    const int64_t at = first * frame_size + i;
    if (at >= 0 && at < std::ssize(audio)) {
      out[i] = static_cast<char>(audio[at]);
    }
  }
  return out;
}

class OverlayTest : public ::testing::Test {
 protected:
  // Renders placed `windows` into a new temporary file and over a new output
  // that holds `output_audio`.
  Error Render(const CrossfadeWindows& windows, int64_t length, int32_t type,
               int64_t start = 0, int64_t visible = 0,
               const Bytes& output_audio = {}) {
    const TrackFormat format = FormatOf(windows.previous.attributes());
    TrackWriter temp, out;
    Error err = temp.Create(temp_, format, length);
    if (err.ok()) err = out.Create(out_, format, 0);
    if (err.ok()) err = out.Write(0, output_audio);
    if (err.ok()) {
      err = RenderCrossfade(windows, length, type, &temp, &out, start, visible,
                            &scratch_);
    }
    if (err.ok()) err = temp.Finish();
    if (err.ok()) err = out.Finish();
    return err;
  }

  // The audio of a file the tool wrote, wherever its header ends.
  std::string Audio(const std::string& path) {
    const std::string file = testing::ReadFile(path);
    return Str(testing::AudioOf(
        Bytes(reinterpret_cast<const std::byte*>(file.data()),
              reinterpret_cast<const std::byte*>(file.data()) + file.size())));
  }

  testing::TempDir dir_;
  const std::string previous_ = dir_.File("previous.wav");
  const std::string next_ = dir_.File("next.wav");
  const std::string temp_ = dir_.File("xfade_temp.wav");
  const std::string out_ = dir_.File("out.wav");
  // Shared by every crossfade of a test, as by those of a run.
  CrossfadeScratch scratch_;
};

TEST_F(OverlayTest, WindowMustBeginInsideBothTakes) {
  const std::string long_take = dir_.File("long.wav");    // 10 frames
  const std::string short_take = dir_.File("short.wav");  // 6 frames
  WriteTake(long_take, Format(1, 16), testing::Noise(20, 1));
  WriteTake(short_take, Format(1, 16), testing::Noise(12, 2));
  struct Case {
    const char* name;
    std::string previous, next;
    int64_t centre, length;
    int64_t number;  // of the take blamed, 0 when the window fits
    int64_t first;
  };
  const Case cases[] = {
      {"starts at the data start", long_take, long_take, 3, 6, 0, 0},
      {"odd length", long_take, long_take, 5, 5, 0, 3},
      // Both windows begin before the data; the next one is not judged.
      {"before the data", long_take, long_take, 2, 6, 1, 0},
      {"at the previous take's end", short_take, long_take, 9, 6, 0, 6},
      {"beyond the previous take's end", short_take, long_take, 10, 6, 1, 0},
      {"at the next take's end", long_take, short_take, 9, 6, 0, 6},
      {"beyond the next take's end", long_take, short_take, 10, 6, 2, 0},
      {"empty window at the data start", long_take, long_take, 0, 0, 0, 0},
      {"empty window before the data", long_take, long_take, -1, 0, 1, 0},
      {"centre less half beyond 64 bits", long_take, long_take, INT64_MIN, 2, 1,
       0},
      {"start beyond 64 bits of bytes", long_take, long_take, INT64_MAX, 0, 1,
       0},
  };
  for (const Case& c : cases) {
    CrossfadeWindows windows;
    const Error err =
        PlaceCrossfade(Inspected(c.previous), Inspected(c.next), c.centre,
                       c.length, &windows);
    if (c.number == 0) {
      EXPECT_TRUE(err.ok()) << c.name;
      EXPECT_EQ(windows.first_frame, c.first) << c.name;
    } else {
      EXPECT_EQ(err.fault, Fault::kWindowOutside) << c.name;
      EXPECT_EQ(err.number, c.number) << c.name;
      EXPECT_EQ(err.file, c.number == 1 ? c.previous : c.next) << c.name;
    }
  }
}

// Both opens are judged before either window, which here lies outside
// every take; the first take that cannot be opened is named.
TEST_F(OverlayTest, FaultsNameTheTakeInOrder) {
  WriteTake(previous_, Format(1, 16), testing::Noise(16, 1));
  const std::string missing = dir_.File("missing.wav");
  const std::string missing_too = dir_.File("missing_too.wav");
  struct Case {
    const char* name;
    std::string previous, next;
    Fault fault;
    std::string file;
  };
  const Case cases[] = {
      {"previous missing", missing, previous_, Fault::kCannotOpen, missing},
      {"next missing", previous_, missing, Fault::kCannotOpen, missing},
      {"both missing", missing, missing_too, Fault::kCannotOpen, missing},
      {"both open, window outside", previous_, previous_,
       Fault::kWindowOutside, previous_},
  };
  for (const Case& c : cases) {
    CrossfadeWindows windows;
    const Error err =
        PlaceCrossfade(Inspected(c.previous), Inspected(c.next), -10, 2, &windows);
    EXPECT_EQ(err.fault, c.fault) << c.name;
    EXPECT_EQ(err.file, c.file) << c.name;
  }
}

TEST_F(OverlayTest, LayoutsAndTypesWithoutABlendGetTheHardCut) {
  struct Case {
    const char* name;
    TrackFormat format;
    int32_t type;
    int64_t frames, centre, length;
    int64_t previous_frames;  // 0: as many as the next take
    bool trailer;             // after the previous take's audio
  };
  // Every layout a take can have blends: only the types without a curve
  // are left to cut hard.
  const Case cases[] = {
      {"type 7", Format(2, 24), 7, 3000, 1400, 1025, 0, false},
      {"type 0 on 32-bit floats", Format(4, 32, SampleFormat::kFloat), 0, 3000,
       1400, 4, 0, false},
      {"past the previous take's end, before a metadata chunk", Format(1, 16),
       7, 3000, 1400, 40, 1390, true},
  };
  for (const Case& c : cases) {
    const int64_t frame_size = c.format.FrameSize();
    const int64_t previous_frames =
        c.previous_frames == 0 ? c.frames : c.previous_frames;
    const Bytes previous = testing::Noise(previous_frames * frame_size, 1);
    const Bytes next = testing::Noise(c.frames * frame_size, 2);
    WriteTake(previous_, c.format, previous, c.trailer);
    WriteTake(next_, c.format, next);
    CrossfadeWindows windows;
    ASSERT_TRUE(
        PlaceCrossfade(Inspected(previous_), Inspected(next_), c.centre,
                       c.length, &windows)
            .ok())
        << c.name;
    ASSERT_TRUE(Render(windows, c.length, c.type).ok()) << c.name;
    const int64_t half = c.length / 2;
    EXPECT_EQ(Audio(temp_),
              Frames(previous, frame_size, c.centre - half, half) +
                  Frames(next, frame_size, c.centre, c.length - half))
        << c.name;
  }
}

}  // namespace
}  // namespace takeloom

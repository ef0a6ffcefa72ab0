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

// The take at `path`, open as the run opens it once inspected.
TakeReader Opened(const std::string& path) {
  Inspection inspection;
  EXPECT_TRUE(GET_ATTRIBUTES(path, &inspection).ok()) << path;
  TakeReader reader;
  EXPECT_TRUE(reader.Open(path, inspection.take).ok()) << path;
  return reader;
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
  // Renders the crossfade of the takes at previous_ and next_ whose window
  // begins at `first` into a new temporary file and over a new output.
  Error Render(int64_t first, int64_t length, int32_t type) {
    const TakeReader previous = Opened(previous_);
    const TakeReader next = Opened(next_);
    const TrackFormat format = FormatOf(previous.attributes());
    TrackWriter temp, out;
    Error err = temp.Create(temp_, format, length);
    if (err.ok()) err = out.Create(out_, format, 0);
    if (err.ok()) {
      err = RenderCrossfade(previous, next, first, length, type, &temp, &out,
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
    const int64_t half = c.length / 2;
    ASSERT_TRUE(Render(c.centre - half, c.length, c.type).ok()) << c.name;
    EXPECT_EQ(Audio(temp_),
              Frames(previous, frame_size, c.centre - half, half) +
                  Frames(next, frame_size, c.centre, c.length - half))
        << c.name;
  }
}

}  // namespace
}  // namespace takeloom

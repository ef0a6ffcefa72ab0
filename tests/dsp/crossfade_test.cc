#include "dsp/crossfade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "testing/wav_bytes.h"

namespace takeloom {
namespace {

using testing::Bytes;
using testing::TempDir;

constexpr int64_t kHeaderSize = 44;

// Interleaved samples of a take, each on its own width's scale.
using Samples = std::vector<int64_t>;

void WriteTake(const std::string& path, uint32_t channels, uint32_t bits,
               const Samples& samples, const Bytes& extra_chunks = {}) {
  testing::TakeParts parts;
  parts.channels = channels;
  parts.bits_per_sample = bits;
  parts.extra_chunks = extra_chunks;
  parts.audio = testing::Pcm(samples, bits / 8);
  testing::WriteFile(path, testing::MakeTake(parts));
}

// The temporary file as the caller leaves it: a 44-byte header, no audio.
void WriteTempHeader(const std::string& path, uint32_t channels,
                     uint32_t bits) {
  WriteTake(path, channels, bits, {});
}

std::string RenderedBytes(const std::string& path) {
  const std::string all = testing::ReadFile(path);
  EXPECT_GE(all.size(), static_cast<size_t>(kHeaderSize)) << path;
  return all.size() < kHeaderSize ? std::string() : all.substr(kHeaderSize);
}

// The rendered audio as sign-extended little-endian samples.
Samples RenderedSamples(const std::string& path, uint32_t bytes_per_sample) {
  const std::string audio = RenderedBytes(path);
  EXPECT_EQ(audio.size() % bytes_per_sample, 0u) << path;
  Samples out;
  for (size_t at = 0; at + bytes_per_sample <= audio.size();
       at += bytes_per_sample) {
    uint64_t bits = 0;
    for (uint32_t b = 0; b < bytes_per_sample; ++b) {
      bits |= uint64_t{static_cast<unsigned char>(audio[at + b])} << (8 * b);
    }
    const int shift = static_cast<int>(64 - 8 * bytes_per_sample);
    out.push_back(static_cast<int64_t>(bits << shift) >> shift);
  }
  return out;
}

struct TestGains {
  double g = 0.0;  // previous take
  double h = 0.0;  // next take
};

// The gains of frame `index` straight from the curve formulas.
TestGains GainsAt(int32_t type, int64_t index, int64_t length) {
  const double v = static_cast<double>(index) / static_cast<double>(length);
  const double angle = v * 1.570796327;
  switch (type) {
    case 1:
      return {std::cos(angle), std::sin(angle)};
    case 2:
      return {1.0 - v, 1.0 - (1.0 - v)};
    case 3:
      return {std::cos(angle), 1.0 - std::cos(angle)};
    case 4:
      return {1.0 - std::sin(angle), 1.0 - (1.0 - std::sin(angle))};
  }
  ADD_FAILURE() << "no curve " << type;
  return {};
}

// One blended integer sample, for checking where frames land (block splits,
// window placement, channels). 16- and 24-bit samples are blended on the
// 24-bit scale, 32-bit ones as they are; all are held at the range ends.
int64_t ExpectedBlend(int32_t type, int64_t index, int64_t length, int64_t p,
                      int64_t q, uint32_t bytes_per_sample) {
  const TestGains gains = GainsAt(type, index, length);
  const double scale = bytes_per_sample == 2 ? 256.0 : 1.0;
  const double sum = p * scale * gains.g + q * scale * gains.h;
  if (bytes_per_sample == 2) {
    return std::clamp<int64_t>(static_cast<int64_t>(sum * 0.00390625), -32768,
                               32767);
  }
  if (bytes_per_sample == 4) {
    return std::clamp<int64_t>(static_cast<int64_t>(sum),
                               std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max());
  }
  return std::clamp<int64_t>(static_cast<int64_t>(sum), -8388608, 8388607);
}

// Samples of frames [first, first + count) of a take, zeros past its end.
template <typename Sample>
std::vector<Sample> Window(const std::vector<Sample>& take, uint32_t channels,
                           int64_t first, int64_t count) {
  std::vector<Sample> out;
  for (int64_t f = first; f < first + count; ++f) {
    for (uint32_t c = 0; c < channels; ++c) {
      const size_t at = static_cast<size_t>(f * channels + c);
      out.push_back(at < take.size() ? take[at] : 0);
    }
  }
  return out;
}

Samples ExpectedWindow(int32_t type, const Samples& previous_window,
                       const Samples& next_window, uint32_t channels,
                       int64_t length, uint32_t bytes_per_sample) {
  Samples out;
  for (size_t at = 0; at < previous_window.size(); ++at) {
    out.push_back(ExpectedBlend(type, static_cast<int64_t>(at / channels),
                                length, previous_window[at], next_window[at],
                                bytes_per_sample));
  }
  return out;
}

// A take whose every sample differs, so a misplaced frame shows.
Samples Ramp(int64_t samples, int64_t start, int64_t step) {
  Samples out;
  for (int64_t i = 0; i < samples; ++i) out.push_back(start + i * step);
  return out;
}

// Samples within a quarter of full scale of its ends, the sign alternating
// from sample to sample: blends of two such takes reach beyond both ends.
Samples NearFullScale(int64_t samples, uint32_t bits, int64_t step) {
  const int64_t top = (int64_t{1} << (bits - 1)) - 1;
  Samples out;
  for (int64_t i = 0; i < samples; ++i) {
    const int64_t offset = (i * step) % (top / 4);
    out.push_back(i % 2 == 0 ? -top - 1 + offset : top - offset);
  }
  return out;
}

// Float samples as the IEEE bytes of a take of `width` bytes per sample.
Bytes FloatBytes(const std::vector<double>& values, uint32_t width) {
  Bytes out;
  for (double value : values) {
    const uint64_t bits =
        width == 4 ? std::bit_cast<uint32_t>(static_cast<float>(value))
                   : std::bit_cast<uint64_t>(value);
    for (uint32_t b = 0; b < width; ++b) {
      out.push_back(static_cast<std::byte>((bits >> (8 * b)) & 0xFF));
    }
  }
  return out;
}

void WriteFloatTake(const std::string& path, uint32_t channels, uint32_t bits,
                    const std::vector<double>& values) {
  testing::TakeParts parts;
  parts.channels = channels;
  parts.bits_per_sample = bits;
  parts.format_tag = 3;
  parts.audio = FloatBytes(values, bits / 8);
  testing::WriteFile(path, testing::MakeTake(parts));
}

// The bytes of a float blend: p g + q h in double, rounded to the nearest
// single for 4-byte samples; no limit.
std::string ExpectedFloatWindow(int32_t type,
                                const std::vector<double>& previous_window,
                                const std::vector<double>& next_window,
                                uint32_t channels, int64_t length,
                                uint32_t width) {
  std::vector<double> sums;
  for (size_t at = 0; at < previous_window.size(); ++at) {
    const TestGains gains =
        GainsAt(type, static_cast<int64_t>(at / channels), length);
    sums.push_back(previous_window[at] * gains.g + next_window[at] * gains.h);
  }
  const Bytes bytes = FloatBytes(sums, width);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Float samples of a take that differ everywhere and span many binades.
std::vector<double> FloatRamp(int64_t samples, double start, double factor) {
  std::vector<double> out;
  double value = start;
  for (int64_t i = 0; i < samples; ++i) {
    out.push_back(static_cast<float>(value));
    value = -value * factor;
  }
  return out;
}

class CrossfadeTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::string previous_ = dir_.File("previous.wav");
  const std::string next_ = dir_.File("next.wav");
  const std::string temp_ = dir_.File("xfade_temp.wav");
};

// Lengths that split into blocks differently (1024 frames each), for every
// curve and blended layout, on takes of 3000 frames whose samples all differ.
// In stereo both channels must use the frame's pair of gains.
TEST_F(CrossfadeTest, BlocksCoverTheWholeWindow) {
  struct Layout {
    uint32_t channels, bits;
  };
  for (const Layout layout : {Layout{2, 16}, Layout{2, 24}, Layout{1, 24}}) {
    const int64_t count = 3000 * layout.channels;
    const bool narrow = layout.bits == 16;
    const Samples previous =
        narrow ? Ramp(count, -30000, 10) : Ramp(count, 8000000, -2501);
    const Samples next =
        narrow ? Ramp(count, 32000, -10) : Ramp(count, -7000000, 2001);
    WriteTake(previous_, layout.channels, layout.bits, previous);
    WriteTake(next_, layout.channels, layout.bits, next);
    const uint32_t width = layout.bits / 8;
    for (int32_t type = 1; type <= 4; ++type) {
      for (int64_t length : {1, 1024, 1025, 2500}) {
        const std::string label = std::to_string(layout.channels) + "x" +
                                  std::to_string(layout.bits) + "-bit type " +
                                  std::to_string(type) +
                                  " L=" + std::to_string(length);
        WriteTempHeader(temp_, layout.channels, layout.bits);
        const CrossfadeResult result =
            CROSSFADE(1500, 1500, length, type, previous_, next_, temp_,
                      static_cast<int32_t>(layout.channels), width);
        ASSERT_EQ(result.code, 0) << label;
        EXPECT_EQ(result.message, "") << label;
        const int64_t first = 1500 - length / 2;
        const Samples previous_window =
            Window(previous, layout.channels, first, length);
        const Samples out = RenderedSamples(temp_, width);
        ASSERT_EQ(out.size(), previous_window.size()) << label;
        // v = 0: the first frame is the previous take's, exactly.
        for (uint32_t c = 0; c < layout.channels; ++c) {
          EXPECT_EQ(out[c], previous_window[c]) << label << " channel " << c;
        }
        EXPECT_EQ(out,
                  ExpectedWindow(type, previous_window,
                                 Window(next, layout.channels, first, length),
                                 layout.channels, length, width))
            << label;
      }
    }
  }
}

// Any channel count: every channel of a frame takes that frame's gains, and
// 16- and 24-bit keep the arithmetic of mono and stereo. Frames of 160 bytes
// and more make blocks shorter than 1024 frames; the widest frame possible
// (65535 channels of 8 bytes) makes blocks of one frame.
TEST_F(CrossfadeTest, IntegerBlendsOfAnyChannelCount) {
  struct Layout {
    uint32_t channels, bits;
    int64_t take_frames, centre, length;
  };
  const Layout layouts[] = {
      {3, 16, 3000, 1500, 1025}, {4, 16, 3000, 1500, 1025},
      {6, 24, 3000, 1500, 2500}, {4, 32, 3000, 1500, 1025},
      {6, 32, 3000, 1500, 1025}, {1, 32, 3000, 1500, 1025},
      {2, 32, 3000, 1500, 1024}, {40, 32, 3000, 1500, 1025},
      {65535, 32, 4, 2, 3},
  };
  for (const Layout& l : layouts) {
    const uint32_t width = l.bits / 8;
    const int64_t count = l.take_frames * l.channels;
    const Samples previous = NearFullScale(count, l.bits, 37);
    const Samples next = NearFullScale(count, l.bits, 53);
    WriteTake(previous_, l.channels, l.bits, previous);
    WriteTake(next_, l.channels, l.bits, next);
    for (int32_t type = 1; type <= 4; ++type) {
      const std::string label = std::to_string(l.channels) + "x" +
                                std::to_string(l.bits) + "-bit type " +
                                std::to_string(type);
      WriteTempHeader(temp_, l.channels, l.bits);
      ASSERT_EQ(CROSSFADE(l.centre, l.centre, l.length, type, previous_, next_,
                          temp_, static_cast<int32_t>(l.channels),
                          static_cast<int32_t>(width))
                    .code,
                0)
          << label;
      const int64_t first = l.centre - l.length / 2;
      EXPECT_EQ(
          RenderedSamples(temp_, width),
          ExpectedWindow(type, Window(previous, l.channels, first, l.length),
                         Window(next, l.channels, first, l.length), l.channels,
                         l.length, width))
          << label;
    }
  }
}

TEST_F(CrossfadeTest, FloatBlendsOfAnyChannelCount) {
  struct Layout {
    uint32_t channels, bits;
    int64_t take_frames, centre, length;
  };
  const Layout layouts[] = {
      {1, 32, 3000, 1500, 2500}, {2, 64, 3000, 1500, 1025},
      {4, 32, 3000, 1500, 1025}, {6, 64, 3000, 1500, 1025},
      {6, 32, 3000, 1500, 7},    {65535, 64, 4, 2, 3},
  };
  for (const Layout& l : layouts) {
    const uint32_t width = l.bits / 8;
    const int64_t count = l.take_frames * l.channels;
    const std::vector<double> previous = FloatRamp(count, 0.75, 1.001);
    const std::vector<double> next = FloatRamp(count, -3e-5, 0.9993);
    WriteFloatTake(previous_, l.channels, l.bits, previous);
    WriteFloatTake(next_, l.channels, l.bits, next);
    for (int32_t type = 1; type <= 4; ++type) {
      const std::string label = std::to_string(l.channels) + "x" +
                                std::to_string(l.bits) + "-bit float type " +
                                std::to_string(type);
      WriteTempHeader(temp_, l.channels, l.bits);
      ASSERT_EQ(CROSSFADE(l.centre, l.centre, l.length, type, previous_, next_,
                          temp_, static_cast<int32_t>(l.channels),
                          static_cast<int32_t>(width), SampleFormat::kFloat)
                    .code,
                0)
          << label;
      const int64_t first = l.centre - l.length / 2;
      EXPECT_EQ(RenderedBytes(temp_),
                ExpectedFloatWindow(
                    type, Window(previous, l.channels, first, l.length),
                    Window(next, l.channels, first, l.length), l.channels,
                    l.length, width))
          << label;
    }
  }
}

TEST_F(CrossfadeTest, OddLengthPutsTheCentreFrameAfterHalf) {
  // L = 5 around frame 10: frames 8 to 12, frame 10 at v = 0.4.
  WriteTake(previous_, 1, 24, Ramp(20, 0, 1000));
  WriteTake(next_, 1, 24, Samples(20, 0));
  WriteTempHeader(temp_, 1, 24);
  ASSERT_EQ(CROSSFADE(10, 10, 5, 2, previous_, next_, temp_, 1, 3).code, 0);
  // 1000 f (1 - v); 1 - 0.8 lies just below 0.2 in double, so the last
  // frame truncates to 2399.
  EXPECT_EQ(RenderedSamples(temp_, 3), (Samples{8000, 7200, 6000, 4400, 2399}));
}

TEST_F(CrossfadeTest, KnownBlends) {
  struct Case {
    const char* name;
    uint32_t bits;
    int64_t previous, next, length;
    int32_t type;
    int64_t expected;  // frame 1
  };
  const Case cases[] = {
      {"constant power peaks at 1.414", 24, 100000, 100000, 2, 1, 141421},
      {"linear", 24, 100000, 100000, 2, 2, 100000},
      {"cosine", 24, 100000, 100000, 2, 3, 100000},
      {"one minus sine", 24, 100000, 100000, 2, 4, 100000},
      {"16-bit truncates toward zero", 16, -3, 0, 2, 2, -1},
      {"24-bit saturates high", 24, 8388607, 8388607, 2, 1, 8388607},
      {"24-bit saturates low", 24, -8388608, -8388608, 2, 1, -8388608},
      {"16-bit saturates high", 16, 32767, 32767, 2, 1, 32767},
      {"16-bit saturates low", 16, -32768, -32768, 2, 1, -32768},
      // pi / 2 in place of the quarter-turn literal would give 4194302.
      {"fixed quarter turn", 24, 0, 8388606, 3, 1, 4194303},
      // v in place of 1 - g would give 2796202.
      {"fade-in is 1 - fade-out", 24, 0, 8388606, 3, 2, 2796201},
  };
  for (const Case& c : cases) {
    WriteTake(previous_, 1, c.bits, Samples(3, c.previous));
    WriteTake(next_, 1, c.bits, Samples(3, c.next));
    WriteTempHeader(temp_, 1, c.bits);
    const CrossfadeResult result = CROSSFADE(1, 1, c.length, c.type, previous_,
                                             next_, temp_, 1, c.bits / 8);
    ASSERT_EQ(result.code, 0) << c.name;
    const Samples out = RenderedSamples(temp_, c.bits / 8);
    ASSERT_EQ(out.size(), static_cast<size_t>(c.length)) << c.name;
    EXPECT_EQ(out[0], c.previous) << c.name;
    EXPECT_EQ(out[1], c.expected) << c.name;
  }
}

TEST_F(CrossfadeTest, KnownThirtyTwoBitBlends) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
  struct Case {
    const char* name;
    int64_t previous, next;
    int32_t type;
    int64_t expected;  // frame 1 of 2, v = 0.5
  };
  const Case cases[] = {
      // Beyond the 24-bit range, so no narrower scale can give it.
      {"blend of the raw values", 0, 2000000001, 1, 1414213563},
      {"truncates toward zero", -3, 0, 2, -1},
      {"truncates, does not round", kMax, kMax - 1, 2, kMax - 1},
      {"saturates high", kMax, kMax, 1, kMax},
      {"saturates low", kMin, kMin, 1, kMin},
  };
  for (const Case& c : cases) {
    WriteTake(previous_, 1, 32, Samples(3, c.previous));
    WriteTake(next_, 1, 32, Samples(3, c.next));
    WriteTempHeader(temp_, 1, 32);
    ASSERT_EQ(CROSSFADE(1, 1, 2, c.type, previous_, next_, temp_, 1, 4).code, 0)
        << c.name;
    EXPECT_EQ(RenderedSamples(temp_, 4), (Samples{c.previous, c.expected}))
        << c.name;
  }
}

TEST_F(CrossfadeTest, KnownFloatBlends) {
  const double ulp = std::ldexp(1.0, -23);  // of singles in [1, 2)
  struct Case {
    const char* name;
    uint32_t bits;
    double previous, next;
    int32_t type;
    double expected;  // frame 1 of 2, v = 0.5
  };
  const Case cases[] = {
      // 1 + 1.5 ulp is a tie: to even gives 1 + 2 ulp, truncation 1 + ulp.
      {"single rounds to nearest", 32, 1.0, 1.0 + 3 * ulp, 2, 1.0 + 2 * ulp},
      {"single is not limited", 32, 1.0, 1.0, 1,
       static_cast<float>(std::cos(0.5 * 1.570796327) +
                          std::sin(0.5 * 1.570796327))},
      {"double keeps the sum", 64, 0.1, 0.7, 2, 0.1 * 0.5 + 0.7 * 0.5},
      {"double is not limited", 64, -3e300, -3e300, 1,
       -3e300 * std::cos(0.5 * 1.570796327) +
           -3e300 * std::sin(0.5 * 1.570796327)},
  };
  for (const Case& c : cases) {
    WriteFloatTake(previous_, 1, c.bits, std::vector<double>(3, c.previous));
    WriteFloatTake(next_, 1, c.bits, std::vector<double>(3, c.next));
    WriteTempHeader(temp_, 1, c.bits);
    const int32_t width = static_cast<int32_t>(c.bits / 8);
    ASSERT_EQ(CROSSFADE(1, 1, 2, c.type, previous_, next_, temp_, 1, width,
                        SampleFormat::kFloat)
                  .code,
              0)
        << c.name;
    const Bytes expected = FloatBytes({c.previous, c.expected}, c.bits / 8);
    EXPECT_EQ(RenderedBytes(temp_),
              std::string(reinterpret_cast<const char*>(expected.data()),
                          expected.size()))
        << c.name;
  }
}

TEST_F(CrossfadeTest, SameTakeOnBothSides) {
  const Samples take = Ramp(40, -20000, 1111);
  WriteTake(previous_, 1, 16, take);
  WriteTempHeader(temp_, 1, 16);
  ASSERT_EQ(CROSSFADE(10, 30, 6, 3, previous_, previous_, temp_, 1, 2).code, 0);
  EXPECT_EQ(RenderedSamples(temp_, 2),
            ExpectedWindow(3, Window(take, 1, 7, 6), Window(take, 1, 27, 6), 1,
                           6, 2));
}

TEST_F(CrossfadeTest, WindowPastTheEndBlendsWithSilence) {
  const Samples previous = Ramp(10, 1000, 1000);
  const Samples next = Ramp(12, -50000, 3000);
  WriteTake(previous_, 1, 24, previous);
  WriteTake(next_, 1, 24, next);
  WriteTempHeader(temp_, 1, 24);
  // Frames 6 to 11: the previous take ends after frame 9.
  ASSERT_EQ(CROSSFADE(9, 9, 6, 1, previous_, next_, temp_, 1, 3).code, 0);
  EXPECT_EQ(RenderedSamples(temp_, 3),
            ExpectedWindow(1, Window(previous, 1, 6, 6), Window(next, 1, 6, 6),
                           1, 6, 3));
}

TEST_F(CrossfadeTest, WindowStartTests) {
  // Takes of 10 mono 16-bit frames.
  struct Case {
    const char* name;
    int64_t previous_centre, next_centre, length;
    int32_t code;
    const char* message;
    int64_t appended_frames;
  };
  const Case cases[] = {
      {"window starts at the data start", 3, 3, 6, 0, "", 6},
      {"previous window before the data", 2, 3, 6, 1,
       "Invalid crossfade for destination file", 0},
      {"previous fails first, next not tested", 2, -50, 6, 1,
       "Invalid crossfade for destination file", 0},
      {"next window before the data", 3, 2, 6, 2,
       "Invalid crossfade for source file", 0},
      {"window starting at the take's end", 13, 13, 6, 0, "", 6},
      {"previous window beyond the end", 14, 13, 6, 1,
       "Invalid crossfade for destination file", 0},
      {"next window beyond the end", 13, 14, 6, 2,
       "Invalid crossfade for source file", 0},
      {"empty window", 5, 5, 0, 0, "", 0},
      {"negative length", 5, 5, -4, 0, "", 0},
      {"empty window is still tested", -1, 5, 0, 1,
       "Invalid crossfade for destination file", 0},
  };
  WriteTake(previous_, 1, 16, Ramp(10, 100, 100));
  WriteTake(next_, 1, 16, Ramp(10, -100, -100));
  for (const Case& c : cases) {
    WriteTempHeader(temp_, 1, 16);
    const CrossfadeResult result =
        CROSSFADE(c.previous_centre, c.next_centre, c.length, 2, previous_,
                  next_, temp_, 1, 2);
    EXPECT_EQ(result.code, c.code) << c.name;
    EXPECT_EQ(result.message, c.message) << c.name;
    EXPECT_EQ(RenderedBytes(temp_).size(),
              static_cast<size_t>(2 * c.appended_frames))
        << c.name;
  }
}

TEST_F(CrossfadeTest, FilesThatCannotBeUsed) {
  const std::string missing = dir_.File("missing.wav");
  const std::string no_dir = dir_.File("no/such/dir/xfade_temp.wav");
  const std::string no_data = dir_.File("no_data.wav");
  const std::string late_data = dir_.File("late_data.wav");
  const std::string edge_data = dir_.File("edge_data.wav");
  WriteTake(previous_, 1, 16, Samples(8, 7));
  WriteTake(next_, 1, 16, Samples(8, 9));
  testing::WriteFile(no_data, std::string(200, 'x'));
  // A "junk" chunk that pushes the "data" tag to offset 131074, one
  // candidate past the tag scan's limit, which the chunk walk still reaches;
  // one 2 bytes shorter puts it at the last candidate, 131072.
  auto junk = [](int64_t size) {
    Bytes chunk;
    testing::PutText(chunk, "junk");
    testing::PutU32(chunk, static_cast<uint32_t>(size));
    chunk.resize(chunk.size() + static_cast<size_t>(size), std::byte{0});
    return chunk;
  };
  WriteTake(late_data, 1, 16, Samples(8, 7), junk(131074 - 36 - 8));
  WriteTake(edge_data, 1, 16, Samples(8, 7), junk(131072 - 36 - 8));

  struct Case {
    const char* name;
    std::string previous, next, temp;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"previous take missing", missing, next_, temp_, 1, ""},
      {"next take missing", previous_, missing, temp_, 2, ""},
      {"both takes missing", missing, missing, temp_, 1, ""},
      {"temporary file cannot open", previous_, next_, no_dir, 3, ""},
      {"previous missing, temporary bad", missing, next_, no_dir, 1, ""},
      {"previous take without data", no_data, next_, temp_, 1,
       "Data block not found error"},
      {"next take without data", previous_, no_data, temp_, 2,
       "Data block not found error"},
      {"opens judged before scans", no_data, missing, temp_, 2, ""},
      {"data tag past the scan limit", previous_, late_data, temp_, 0, ""},
      {"data tag at the limit", edge_data, previous_, temp_, 0, ""},
  };
  for (const Case& c : cases) {
    WriteTempHeader(temp_, 1, 16);
    const CrossfadeResult result =
        CROSSFADE(4, 4, 2, 1, c.previous, c.next, c.temp, 1, 2);
    EXPECT_EQ(result.code, c.code) << c.name;
    EXPECT_EQ(result.message, c.message) << c.name;
    EXPECT_EQ(RenderedBytes(temp_).size(), c.code == 0 ? 4u : 0u) << c.name;
  }
}

TEST_F(CrossfadeTest, OpensTheTemporaryFileEvenWhenATakeIsMissing) {
  const std::string fresh = dir_.File("fresh_temp.wav");
  const CrossfadeResult result =
      CROSSFADE(4, 4, 2, 1, dir_.File("missing.wav"), next_, fresh, 1, 2);
  EXPECT_EQ(result.code, 1);
  EXPECT_TRUE(std::filesystem::exists(fresh));
}

TEST_F(CrossfadeTest, LayoutsWithoutABlendGetTheHardCut) {
  struct Case {
    const char* name;
    uint32_t channels, bits;
    SampleFormat format;
    int32_t type;
    int64_t length;
  };
  const Case cases[] = {
      {"one byte per sample", 1, 8, SampleFormat::kInteger, 1, 2501},
      {"64-bit integers", 3, 64, SampleFormat::kInteger, 2, 7},
      {"16-bit floats", 2, 16, SampleFormat::kFloat, 1, 1025},
      {"24-bit floats", 1, 24, SampleFormat::kFloat, 3, 4},
      {"curve type 7", 2, 24, SampleFormat::kInteger, 7, 1025},
      {"curve type 0 on floats", 4, 32, SampleFormat::kFloat, 0, 4},
  };
  for (const Case& c : cases) {
    const uint32_t width = c.bits / 8;
    const int64_t frames = 3000;
    // Values that fit every width, differing between the takes.
    Samples previous, next;
    for (int64_t i = 0; i < frames * c.channels; ++i) {
      previous.push_back(i % 97 + 1);
      next.push_back(-(i % 89) - 1);
    }
    WriteTake(previous_, c.channels, c.bits, previous);
    WriteTake(next_, c.channels, c.bits, next);
    WriteTempHeader(temp_, c.channels, c.bits);
    const int64_t centre = 1400;
    const CrossfadeResult result =
        CROSSFADE(centre, centre, c.length, c.type, previous_, next_, temp_,
                  static_cast<int32_t>(c.channels), static_cast<int32_t>(width),
                  c.format);
    ASSERT_EQ(result.code, 0) << c.name;
    const int64_t half = c.length / 2;
    Samples expected = Window(previous, c.channels, centre - half, half);
    const Samples tail = Window(next, c.channels, centre, c.length - half);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(RenderedSamples(temp_, width), expected) << c.name;
  }
}

TEST_F(CrossfadeTest, FailedWritesAreReported) {
  WriteTake(previous_, 2, 24, Ramp(6000, 1, 1));
  WriteTake(next_, 2, 24, Ramp(6000, 2, 1));
  for (int64_t length : {2, 2500}) {
    for (int32_t type : {1, 9}) {
      const CrossfadeResult result = CROSSFADE(
          1500, 1500, length, type, previous_, next_, "/dev/full", 2, 3);
      EXPECT_EQ(result.code, kCrossfadeWriteFailed)
          << "L=" << length << " type " << type;
      EXPECT_EQ(result.message, "") << "L=" << length << " type " << type;
    }
  }
}

}  // namespace
}  // namespace takeloom

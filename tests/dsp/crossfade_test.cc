#include "dsp/crossfade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "testing/expected_audio.h"

namespace takeloom {
namespace {

using Bytes = std::vector<std::byte>;
// Interleaved samples, integers on their own width's scale: a double holds
// every sample of every layout exactly.
using Samples = std::vector<double>;

constexpr SampleFormat kFloat = SampleFormat::kFloat;

TrackFormat Layout(uint32_t channels, uint32_t bits,
                   SampleFormat format = SampleFormat::kInteger) {
  return {48000, bits, bits / 8, channels, format};
}

std::string Name(const TrackFormat& f) {
  return std::to_string(f.channels) + "x" +
         std::to_string(f.bits_per_sample) +
         (f.format == kFloat ? "-bit float" : "-bit");
}

testing::AudioFormat Of(const TrackFormat& f) {
  return {f.channels, f.sample_rate, f.bits_per_sample, f.format == kFloat};
}

Bytes Encode(const Samples& samples, const TrackFormat& f) {
  return testing::EncodeSamples(samples, Of(f));
}

Samples Decode(const Bytes& bytes, const TrackFormat& f) {
  return testing::DecodeSamples(bytes, Of(f));
}

// Samples all over the layout's range (floats over many binades), each
// unlike its neighbours, so that a sample blended from the wrong place or
// with another frame's gains shows. Constant-power blends of two such takes
// reach beyond full scale.
Samples Signal(int64_t count, const TrackFormat& f, uint64_t seed) {
  Samples out;
  uint64_t state = seed;
  for (int64_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const auto random = static_cast<int64_t>(state);
    if (f.format != kFloat) {
      out.push_back(
          static_cast<double>(random >> (64 - f.bits_per_sample)));
    } else {
      const int exponent = static_cast<int>((state >> 20) % 41) - 20;
      const double v = std::ldexp(static_cast<double>(random >> 11),
                                  exponent - 52);
      out.push_back(f.bytes_per_sample == 4 ? static_cast<float>(v) : v);
    }
  }
  return out;
}

// A window as the blend must leave it: every sample blended as the formulas
// give it, with the gains of its own frame; `beyond` counts the samples past
// full scale.
Samples ExpectedWindow(const Samples& previous, const Samples& next,
                       const TrackFormat& f, int32_t type, int64_t length,
                       int64_t* beyond) {
  Samples out;
  *beyond = 0;
  for (size_t at = 0; at < previous.size(); ++at) {
    bool past = false;
    out.push_back(testing::ReferenceBlend(
        previous[at], next[at],
        testing::ReferenceGains(type, static_cast<int64_t>(at / f.channels),
                                length),
        f.bits_per_sample, f.format == kFloat, &past));
    *beyond += past ? 1 : 0;
  }
  return out;
}

// Blends a window of `length` frames `block` frames at a time, as a renderer
// does: each block with the gains `table` gives for its own frames; adds to
// `beyond` the samples the blend counts past full scale.
Bytes BlendWindow(GainTable& table, const Bytes& previous, const Bytes& next,
                  const TrackFormat& f, int32_t type, int64_t length,
                  int64_t block, int64_t* beyond = nullptr) {
  // Bytes the blend leaves unwritten, or writes past the window, show.
  constexpr std::byte kUnwritten{0xA5};
  Bytes out(previous.size() + 16, kUnwritten);
  const auto frame = static_cast<size_t>(f.FrameSize());
  for (int64_t done = 0; done < length; done += block) {
    const auto n = static_cast<size_t>(std::min(block, length - done));
    const size_t at = static_cast<size_t>(done) * frame;
    const int64_t past =
        Blend(std::span(previous).subspan(at, n * frame),
              std::span(next).subspan(at, n * frame),
              table.Frames(type, length, done, static_cast<int64_t>(n)), f,
              std::span(out).subspan(at, n * frame));
    if (beyond != nullptr) *beyond += past;
  }
  EXPECT_EQ(Bytes(out.end() - 16, out.end()), Bytes(16, kUnwritten))
      << "written past " << Name(f) << " type " << type << " L=" << length
      << " in blocks of " << block;
  out.resize(previous.size());
  return out;
}

// The first sample that differs, or "": a whole window in a failure message
// would bury the one sample that is wrong.
std::string FirstDifference(const Bytes& got, const Samples& e,
                            const TrackFormat& f) {
  const Samples g = Decode(got, f);
  if (g.size() != e.size()) return "another size";
  const auto wrong = std::mismatch(g.begin(), g.end(), e.begin()).first;
  if (wrong == g.end()) return "";
  const auto i = static_cast<size_t>(wrong - g.begin());
  std::ostringstream out;
  out.precision(17);
  out << "frame " << i / f.channels << " channel " << i % f.channels << ": "
      << g[i] << ", expected " << e[i];
  return out.str();
}

// Windows split into blocks of any size, in every layout with a blend, must
// come out as the curve formulas give them frame by frame: each block takes
// the gains of its own frames, and every channel of a frame that frame's
// gains. The lengths are shorter than a block, a block, a frame over one,
// several blocks, and longer than the gain table keeps (65539). The blend
// works through a block in chunks of samples: frames of 3, 6 or 40 samples
// straddle a chunk's end, and frames of 65535 samples span many chunks. One
// table serves every window, as it does a run's crossfades.
TEST(BlendTest, BlocksOfAnyLayoutCoverTheWholeWindow) {
  static_assert(GainTable::kMaxTableFrames < 65539);
  const std::vector<int64_t> kLengths = {1, 1024, 1025, 2500, 65539};
  const struct {
    TrackFormat format;
    std::vector<int64_t> lengths;
  } cases[] = {
      {Layout(2, 16), kLengths},        {Layout(2, 24), kLengths},
      {Layout(1, 24), kLengths},        {Layout(3, 16), {1025}},
      {Layout(4, 16), {1025}},          {Layout(65535, 16), {3}},
      {Layout(6, 24), {2500}},          {Layout(65535, 24), {3}},
      {Layout(1, 32), {1025}},          {Layout(2, 32), {1024}},
      {Layout(4, 32), {1025}},          {Layout(6, 32), {1025}},
      {Layout(40, 32), {1025}},         {Layout(65535, 32), {3}},
      {Layout(1, 32, kFloat), {2500}},  {Layout(2, 64, kFloat), {1025}},
      {Layout(4, 32, kFloat), {1025}},  {Layout(6, 64, kFloat), {1025}},
      {Layout(6, 32, kFloat), {7}},     {Layout(65535, 32, kFloat), {3}},
      {Layout(65535, 64, kFloat), {3}},
  };
  GainTable table;
  for (const auto& c : cases) {
    const TrackFormat& f = c.format;
    for (const int64_t length : c.lengths) {
      const Samples previous = Signal(length * f.channels, f, 1);
      const Samples next = Signal(length * f.channels, f, 2);
      const Bytes p = Encode(previous, f), q = Encode(next, f);
      for (int32_t type = 1; type <= 4; ++type) {
        int64_t beyond = 0;
        const Samples expected =
            ExpectedWindow(previous, next, f, type, length, &beyond);
        for (const int64_t block : {int64_t{1}, int64_t{1000}, int64_t{1024},
                                    int64_t{1025}, length}) {
          // Frame by frame only where that stays quick.
          if (block > length || (block == 1 && length > 2500)) continue;
          int64_t counted = 0;
          EXPECT_EQ(FirstDifference(BlendWindow(table, p, q, f, type, length,
                                                block, &counted),
                                    expected, f),
                    "")
              << Name(f) << " type " << type << " L=" << length
              << " in blocks of " << block;
          EXPECT_EQ(counted, beyond)
              << Name(f) << " type " << type << " L=" << length;
        }
      }
    }
  }
}

TEST(BlendTest, KnownBlends) {
  const TrackFormat i16 = Layout(1, 16), i24 = Layout(1, 24),
                    i32 = Layout(1, 32), f32 = Layout(1, 32, kFloat),
                    f64 = Layout(1, 64, kFloat);
  constexpr double kMax32 = 2147483647.0, kMin32 = -2147483648.0;
  const double ulp = std::ldexp(1.0, -23);  // of singles in [1, 2)
  const double half = 0.5 * 1.570796327;    // frame 1 of 2
  struct Case {
    const char* name;
    TrackFormat format;
    double previous, next;
    int32_t type;
    int64_t frame, length;
    double expected;
  };
  const Case cases[] = {
      {"constant power peaks at 1.414", i24, 100000, 100000, 1, 1, 2, 141421},
      {"linear", i24, 100000, 100000, 2, 1, 2, 100000},
      {"cosine", i24, 100000, 100000, 3, 1, 2, 100000},
      {"one minus sine", i24, 100000, 100000, 4, 1, 2, 100000},
      {"16-bit truncates toward zero", i16, -3, 0, 2, 1, 2, -1},
      {"24-bit saturates high", i24, 8388607, 8388607, 1, 1, 2, 8388607},
      {"24-bit saturates low", i24, -8388608, -8388608, 1, 1, 2, -8388608},
      {"16-bit saturates high", i16, 32767, 32767, 1, 1, 2, 32767},
      {"16-bit saturates low", i16, -32768, -32768, 1, 1, 2, -32768},
      // pi / 2 in place of the quarter-turn literal would give 4194302.
      {"fixed quarter turn", i24, 0, 8388606, 1, 1, 3, 4194303},
      // v in place of 1 - g would give 2796202.
      {"fade-in is 1 - fade-out", i24, 0, 8388606, 2, 1, 3, 2796201},
      // Frame 2 of 5, an odd window's centre frame, lies at v = 0.4.
      {"odd window's centre at v = 0.4", i24, 10000, 0, 2, 2, 5, 6000},
      // 1 - 0.8 lies just below 0.2 in double.
      {"odd window's last frame", i24, 12000, 0, 2, 4, 5, 2399},
      // Beyond the 24-bit range, so no narrower scale can give it.
      {"32-bit blends the raw values", i32, 0, 2000000001, 1, 1, 2,
       1414213563},
      {"32-bit truncates toward zero", i32, -3, 0, 2, 1, 2, -1},
      {"32-bit truncates, does not round", i32, kMax32, kMax32 - 1, 2, 1, 2,
       kMax32 - 1},
      {"32-bit saturates high", i32, kMax32, kMax32, 1, 1, 2, kMax32},
      {"32-bit saturates low", i32, kMin32, kMin32, 1, 1, 2, kMin32},
      // 1 + 1.5 ulp is a tie: to even gives 1 + 2 ulp, truncation 1 + ulp.
      {"single rounds to nearest", f32, 1.0, 1.0 + 3 * ulp, 2, 1, 2,
       1.0 + 2 * ulp},
      {"single is not limited", f32, 1.0, 1.0, 1, 1, 2,
       static_cast<float>(std::cos(half) + std::sin(half))},
      {"double keeps the sum", f64, 0.1, 0.7, 2, 1, 2, 0.1 * 0.5 + 0.7 * 0.5},
      {"double is not limited", f64, -3e300, -3e300, 1, 1, 2,
       -3e300 * std::cos(half) + -3e300 * std::sin(half)},
  };
  GainTable table;
  for (const Case& c : cases) {
    const Bytes out = BlendWindow(
        table, Encode(Samples(c.length, c.previous), c.format),
        Encode(Samples(c.length, c.next), c.format), c.format, c.type,
        c.length, c.length);
    EXPECT_EQ(Decode(out, c.format)[c.frame], c.expected) << c.name;
  }
}

}  // namespace
}  // namespace takeloom

// Builds beyond 16/24-bit stereo, run as a user runs them: 32-bit integer
// and float takes, more channels, and takes laid out as recorders and other
// programs write them. Every output byte is compared with audio worked out
// here from the takes' own bytes, and sox reads the outputs back.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

struct Format {
  uint32_t channels = 2;
  uint32_t rate = 1000;
  uint32_t bits = 16;
  bool is_float = false;
  int64_t Width() const { return bits / 8; }
  int64_t FrameSize() const { return int64_t{channels} * Width(); }
};

TakeParts PartsOf(const Format& f, const Bytes& audio) {
  TakeParts parts;
  parts.channels = f.channels;
  parts.sample_rate = f.rate;
  parts.bits_per_sample = f.bits;
  parts.format_tag = f.is_float ? 3 : 1;
  parts.audio = audio;
  return parts;
}

// `frames` frames of audio that differs from take to take (by `seed`) and
// from channel to channel. Integer audio is any bytes; float audio is a
// signal reaching past full scale (floats have headroom), never NaN.
Bytes MakeAudio(const Format& f, int64_t frames, uint32_t seed) {
  const auto samples = static_cast<size_t>(frames * f.channels);
  if (!f.is_float) return Noise(samples * static_cast<size_t>(f.Width()), seed);
  Bytes out;
  for (size_t s = 0; s < samples; ++s) {
    const double value = 1.5 * std::sin(0.37 * seed + 0.011 * seed * s);
    const uint64_t bits =
        f.bits == 32 ? std::bit_cast<uint32_t>(static_cast<float>(value))
                     : std::bit_cast<uint64_t>(value);
    const Bytes sample = Pcm({static_cast<int64_t>(bits)}, f.bits / 8);
    out.insert(out.end(), sample.begin(), sample.end());
  }
  return out;
}

// The bits of sample `s` (counted over all channels), zero past the end.
uint64_t BitsAt(const Bytes& audio, const Format& f, int64_t s) {
  const int64_t at = s * f.Width();
  if (at + f.Width() > static_cast<int64_t>(audio.size())) return 0;
  uint64_t bits = 0;
  for (int64_t b = 0; b < f.Width(); ++b) {
    bits |= static_cast<uint64_t>(audio[at + b]) << (8 * b);
  }
  return bits;
}

int64_t IntAt(const Bytes& audio, const Format& f, int64_t s) {
  const int shift = static_cast<int>(64 - f.bits);
  return static_cast<int64_t>(BitsAt(audio, f, s) << shift) >> shift;
}

double FloatAt(const Bytes& audio, const Format& f, int64_t s) {
  const uint64_t bits = BitsAt(audio, f, s);
  return f.bits == 32 ? std::bit_cast<float>(static_cast<uint32_t>(bits))
                      : std::bit_cast<double>(bits);
}

// The stored bits of one blended sample: p g + q h in double; integers on
// the 24-bit scale for 16 and 24 bits, truncated and held at their range;
// single floats rounded to nearest.
uint64_t BlendedBits(const Format& f, const Bytes& previous, const Bytes& next,
                     int64_t s, double g, double h) {
  if (f.is_float) {
    const double sum = FloatAt(previous, f, s) * g + FloatAt(next, f, s) * h;
    return f.bits == 32 ? std::bit_cast<uint32_t>(static_cast<float>(sum))
                        : std::bit_cast<uint64_t>(sum);
  }
  const int64_t p = IntAt(previous, f, s);
  const int64_t q = IntAt(next, f, s);
  const int64_t top = (int64_t{1} << (f.bits - 1)) - 1;
  int64_t value = 0;
  if (f.bits == 16) {
    const double sum =
        static_cast<double>(p * 256) * g + static_cast<double>(q * 256) * h;
    value = static_cast<int64_t>(sum * 0.00390625);
  } else {
    value = static_cast<int64_t>(static_cast<double>(p) * g +
                                 static_cast<double>(q) * h);
  }
  return static_cast<uint64_t>(std::clamp(value, -top - 1, top));
}

// The expected data region of one output, laid down piece by piece.
class Expected {
 public:
  Expected(const Format& f, int64_t length)
      : f_(f),
        length_(length),
        audio_(static_cast<size_t>(length * f.FrameSize())) {}

  // Frames [begin, end) of `take` at the same positions.
  Expected& Copy(int64_t begin, int64_t end, const Bytes& take) {
    Advance(begin, end);
    for (int64_t s = begin * f_.channels; s < end * f_.channels; ++s) {
      Put(s, BitsAt(take, f_, s));
    }
    return *this;
  }

  // Frames [begin, end) of the crossfade of `window` frames from `previous`
  // into `next`; every channel of a frame takes that frame's gains.
  Expected& Blend(int64_t begin, int64_t end, const Bytes& previous,
                  const Bytes& next, int type, int64_t window) {
    Advance(begin, end);
    for (int64_t frame = begin; frame < end; ++frame) {
      const double v =
          static_cast<double>(frame - begin) / static_cast<double>(window);
      const double angle = v * 1.570796327;
      double g = 0;
      double h = 0;
      switch (type) {
        case 1:
          g = std::cos(angle);
          h = std::sin(angle);
          break;
        case 2:
          g = 1.0 - v;
          h = 1.0 - g;
          break;
        case 3:
          g = std::cos(angle);
          h = 1.0 - g;
          break;
        case 4:
          g = 1.0 - std::sin(angle);
          h = 1.0 - g;
          break;
        default:
          ADD_FAILURE() << "no curve " << type;
      }
      for (int64_t c = 0; c < f_.channels; ++c) {
        const int64_t s = frame * f_.channels + c;
        Put(s, BlendedBits(f_, previous, next, s, g, h));
      }
    }
    return *this;
  }

  // The whole output: the 44-byte header, or for floats the 58-byte one
  // with its fact chunk, and the audio. An output keeps its first take's
  // extensible format (`channel_mask` >= 0) and the place of its audio
  // (`take_audio`) within a 4096-byte block, by a JUNK chunk before "data".
  std::string File(int64_t take_audio = 44, int64_t channel_mask = -1) const {
    EXPECT_EQ(next_, length_) << "the expected pieces stop short";
    TakeParts parts = PartsOf(f_, audio_);
    parts.fact_chunk = f_.is_float;
    parts.channel_mask = channel_mask;
    const int64_t header = static_cast<int64_t>(MakeTake(parts).size()) -
                           static_cast<int64_t>(audio_.size());
    if (header % 4096 != take_audio % 4096) {
      int64_t audio_at = header + 8;
      while (audio_at % 4096 != take_audio % 4096) audio_at += 2;
      parts.extra_chunks = Chunk(
          "JUNK", std::string(static_cast<size_t>(audio_at - header - 8), '\0'));
    }
    return Text(MakeTake(parts));
  }

 private:
  void Advance(int64_t begin, int64_t end) {
    EXPECT_EQ(begin, next_) << "pieces must follow each other";
    EXPECT_LE(end, length_);
    next_ = end;
  }
  void Put(int64_t s, uint64_t bits) {
    for (int64_t b = 0; b < f_.Width(); ++b) {
      audio_[s * f_.Width() + b] =
          static_cast<std::byte>((bits >> (8 * b)) & 0xFF);
    }
  }

  Format f_;
  int64_t length_;
  Bytes audio_;
  int64_t next_ = 0;
};

using Names = std::vector<std::string>;

// One track of two takes of 2000 frames at 1000 Hz, cut at 1 s with a
// crossfade of 100 ms (frames 950 to 1049). The takes have 44-byte headers,
// so float outputs move their audio to byte 44 of a block.
TEST(FormatsTest, CrossfadesFollowTheCurveInEveryLayout) {
  struct Case {
    const char* name;
    Format format;
    int type;
  };
  const Case cases[] = {
      {"32-bit integer stereo", {.channels = 2, .bits = 32}, 1},
      {"32-bit integer, 4 channels", {.channels = 4, .bits = 32}, 3},
      {"32-bit float mono", {.channels = 1, .bits = 32, .is_float = true}, 2},
      {"32-bit float, 6 channels",
       {.channels = 6, .bits = 32, .is_float = true},
       1},
      {"64-bit float stereo",
       {.channels = 2, .bits = 64, .is_float = true},
       4},
      {"16-bit, 4 channels", {.channels = 4, .bits = 16}, 1},
      {"24-bit, 6 channels", {.channels = 6, .bits = 24}, 2},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n2\t_t2\n",
             "xf_all\t100\t" + std::to_string(c.type) + "\n");
    const Bytes t1 = MakeAudio(c.format, 2000, 11);
    const Bytes t2 = MakeAudio(c.format, 2000, 23);
    WriteFile(dir.File("kick_t1.wav"), MakeTake(PartsOf(c.format, t1)));
    WriteFile(dir.File("kick_t2.wav"), MakeTake(PartsOf(c.format, t2)));

    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) +
                  Built("1\t100.0\t" + std::to_string(c.type) + "\n",
                        {"kick_bld.wav"}))
        << c.name;
    Expected expected(c.format, 2000);
    expected.Copy(0, 950, t1)
        .Blend(950, 1050, t1, t2, c.type, 100)
        .Copy(1050, 2000, t2);
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")), expected.File()))
        << c.name;
    EXPECT_EQ(ListDir(dir), (Names{"base.txt", "kick_bld.wav", "kick_t1.wav",
                                   "kick_t2.wav", "loomrc.txt", "points.txt"}))
        << c.name;
  }
}

TEST(FormatsTest, RefusesTakesThatDisagreeOnSampleFormat) {
  struct Case {
    const char* name;
    Format t2;
    std::string message;
  };
  const Format integer{.channels = 2, .bits = 32};
  const Case cases[] = {
      {"float after integer",
       {.channels = 2, .bits = 32, .is_float = true},
       ">> Sample format mismatch among kick takes, exiting\n"},
      // The channel count is compared before the sample format.
      {"channels and format differ",
       {.channels = 1, .bits = 32, .is_float = true},
       ">> Mono-stereo mismatch among kick takes, exiting\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t1\n");
    WriteFile(dir.File("kick_t1.wav"),
              MakeTake(PartsOf(integer, MakeAudio(integer, 2000, 1))));
    WriteFile(dir.File("kick_t2.wav"),
              MakeTake(PartsOf(c.t2, MakeAudio(c.t2, 2000, 2))));
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, BannerAndPlan(1, 3) + c.message) << c.name;
    EXPECT_EQ(ListDir(dir), (Names{"base.txt", "kick_t1.wav", "kick_t2.wav",
                                   "loomrc.txt", "points.txt"}))
        << c.name;
  }
}

// A take whose "data" tag lies at byte `data_tag`, after a padding chunk.
Bytes PaddedTake(const Format& f, const Bytes& audio, int64_t data_tag) {
  TakeParts parts = PartsOf(f, audio);
  PutText(parts.extra_chunks, "JUNK");
  const int64_t padding = data_tag - 44;  // RIFF 12, fmt 24, JUNK header 8
  PutU32(parts.extra_chunks, static_cast<uint32_t>(padding));
  parts.extra_chunks.resize(parts.extra_chunks.size() +
                           static_cast<size_t>(padding));
  return MakeTake(parts);
}

// The output's audio lies within a 4096-byte block where its first take's
// does.
TEST(FormatsTest, FindsAudioThatStartsLate) {
  const Format f{.channels = 2, .bits = 24};
  struct Case {
    const char* name;
    int64_t t1_tag, t2_tag;  // byte offsets of the "data" tags
  };
  const Case cases[] = {
      {"audio from byte 16384", 16376, 16376},
      {"data chunk at byte 16384", 16384, 44},
      {"data chunk at byte 131064", 44, 131064},
      {"data chunk at the last byte searched", 131072, 16384},
      // Beyond every tag scan limit: the chunk walk reaches it.
      {"data chunk after 200 KB", 44, 204800},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t1\n");
    const Bytes t1 = MakeAudio(f, 2000, 5);
    const Bytes t2 = MakeAudio(f, 2000, 6);
    WriteFile(dir.File("kick_t1.wav"), PaddedTake(f, t1, c.t1_tag));
    WriteFile(dir.File("kick_t2.wav"), PaddedTake(f, t2, c.t2_tag));
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) + Built("1\t100.0\t1\n", {"kick_bld.wav"}))
        << c.name;
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")),
                          Expected(f, 2000)
                              .Copy(0, 950, t1)
                              .Blend(950, 1050, t1, t2, 1, 100)
                              .Copy(1050, 2000, t2)
                              .File(c.t1_tag + 8)))
        << c.name;
  }
}

// Other readers: sox takes every output for the encoding, channel count
// and length it was built with, without a warning, and decodes the very
// bytes written; ffprobe counts the same frames. (Floats
// pass through sox's fixed-point samples and are clipped at full scale, so
// only integer outputs come back byte for byte.)
TEST(FormatsTest, SoxReadsEveryOutputsEncoding) {
  if (!Installed("sox") || !Installed("soxi")) {
    GTEST_SKIP() << "sox is not installed";
  }
  struct Track {
    std::string base;
    Format format;
    std::string encoding;  // as soxi names it
  };
  const Track tracks[] = {
      {"kick", {.channels = 2, .bits = 32}, "32-bit Signed Integer PCM"},
      {"snare",
       {.channels = 6, .bits = 32, .is_float = true},
       "32-bit Floating Point PCM"},
      {"hat",
       {.channels = 1, .bits = 64, .is_float = true},
       "64-bit Floating Point PCM"},
      {"room", {.channels = 4, .bits = 16}, "16-bit Signed Integer PCM"},
      {"pad", {.channels = 6, .bits = 24}, "24-bit Signed Integer PCM"},
  };
  TempDir dir;
  std::string base;
  std::string rows;
  Names outputs;
  for (size_t i = 0; i < std::size(tracks); ++i) {
    const Track& t = tracks[i];
    base += t.base + "\n";
    rows += std::to_string(i + 1) + "\t100.0\t1\n";
    outputs.push_back(t.base + "_bld.wav");
    for (const char* take : {"_t1", "_t2"}) {
      WriteFile(dir.File(t.base + take + ".wav"),
                MakeTake(PartsOf(t.format, MakeAudio(t.format, 2000, 3))));
    }
  }
  WriteJob(dir, base, "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t1\n");
  const ToolRun run = RunTool(dir);
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, BannerAndPlan(5, 3) + Built(rows, outputs));

  for (const Track& t : tracks) {
    const std::string output = t.base + "_bld.wav";
    const std::string info = Capture(dir, "soxi " + output);
    EXPECT_NE(info.find("Sample Encoding: " + t.encoding + "\n"),
              std::string::npos)
        << t.base << ":\n"
        << info;
    EXPECT_EQ(Capture(dir, "soxi -e " + output), t.format.is_float
                                                     ? "Floating Point PCM\n"
                                                     : "Signed Integer PCM\n")
        << t.base;
    EXPECT_EQ(Capture(dir, "soxi -c " + output + " && soxi -s " + output),
              std::to_string(t.format.channels) + "\n2000\n")
        << t.base;
    // Read without a warning about the file (float samples beyond full
    // scale are only reported as clipped): float headers carry their
    // extension size and their fact chunk.
    EXPECT_EQ(Capture(dir, "sox " + output + " -n 2>&1 | grep 'WARN wav' || true"),
              "")
        << t.base;
    if (Installed("ffprobe")) {
      EXPECT_EQ(Capture(dir, "ffprobe -v error -show_entries "
                             "stream=duration_ts -of csv=p=0 " + output),
                "2000\n")
          << t.base;
    }
    if (t.format.is_float) continue;
    const std::string built = ReadFile(dir.File(output));
    ASSERT_GE(built.size(), 44u) << t.base;
    EXPECT_TRUE(SameBytes(Capture(dir, "sox " + output + " -t raw -"),
                          built.substr(44)))
        << t.base;
  }
}

// Takes as sox writes them: the extensible format for 24 bits or more than
// two channels, and float with a longer fmt chunk and a fact chunk. The
// output keeps the extensible format with the takes' channel mask, and the
// place of their audio (after a fact chunk, at byte 80).
TEST(FormatsTest, BuildsFromTakesWrittenBySox) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  struct Case {
    const char* name;
    Format format;
    std::string sox_format;
    int64_t channel_mask;  // -1: not extensible
  };
  const Case cases[] = {
      {"24-bit stereo, extensible",
       {.channels = 2, .rate = 8000, .bits = 24},
       "-c 2 -b 24", 0x3},
      {"16-bit, 6 channels, extensible",
       {.channels = 6, .rate = 8000, .bits = 16},
       "-c 6 -b 16", 0x3F},
      {"24-bit, 6 channels, extensible",
       {.channels = 6, .rate = 8000, .bits = 24},
       "-c 6 -b 24", 0x3F},
      {"32-bit float, 6 channels",
       {.channels = 6, .rate = 8000, .bits = 32, .is_float = true},
       "-c 6 -e floating-point -b 32", -1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0.5\t_t2\n1\t_t2\n", "xf_all\t50\t1\n");
    std::vector<Bytes> takes;
    size_t take_audio = 0;
    for (const char* take : {"_t1", "_t2"}) {
      // A tone of its own on every channel of every take.
      std::string tones;
      for (uint32_t ch = 0; ch < c.format.channels; ++ch) {
        tones +=
            " sine " + std::to_string(200 + 110 * ch + (take[2] - '0') * 7);
      }
      const std::string name = std::string("kick") + take + ".wav";
      Capture(dir, "sox -n -r 8000 " + c.sox_format + " " + name + " synth 1" +
                       tones);
      const std::string file = ReadFile(dir.File(name));
      takes.push_back(AudioOf(ToBytes(file)));
      take_audio = file.size() - takes.back().size();
      ASSERT_EQ(takes.back().size(),
                static_cast<size_t>(8000 * c.format.FrameSize()))
          << c.name;
    }
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) + Built("1\t50.0\t1\n", {"kick_bld.wav"}))
        << c.name;
    // 50 ms at 8000 Hz: 400 frames around frame 4000.
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")),
                          Expected(c.format, 8000)
                              .Copy(0, 3800, takes[0])
                              .Blend(3800, 4200, takes[0], takes[1], 1, 400)
                              .Copy(4200, 8000, takes[1])
                              .File(static_cast<int64_t>(take_audio),
                                    c.channel_mask)))
        << c.name;
  }
}

// Takes whose metadata holds the word "data" at an even offset, as a
// converter writes a comment and a Broadcast WAV header a description, and
// a take whose audio starts after 200 KB of metadata: the tool reads every
// copied frame where sox, an independent reader, finds it.
TEST(FormatsTest, BuildsFromTakesWhoseMetadataSpellsData) {
  if (!Installed("ffmpeg") || !Installed("sox")) {
    GTEST_SKIP() << "ffmpeg or sox is not installed";
  }
  struct Case {
    const char* name;
    std::string metadata;  // ffmpeg options
  };
  const Case cases[] = {
      {"comment", "-metadata comment='bad data at 0:12'"},
      {"Broadcast WAV description",
       "-write_bext 1 -metadata description='take 3: data from the desk'"},
      {"200 KB of metadata", "-i meta.txt -map_metadata 1"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0.7\t_t2\n2\t_t2\n", "remarks only\n");
    WriteFile(dir.File("meta.txt"), ";FFMETADATA1\ncomment=take " +
                                        std::string(200 * 1024, 'x') + "\n");
    for (const char* take : {"_t1", "_t2"}) {
      const std::string tone = take[2] == '1' ? "220" : "330";
      Capture(dir, "ffmpeg -v error -f lavfi -i 'aevalsrc=sin(2*PI*" + tone +
                       "*t)|-sin(2*PI*" + tone + "*t):s=48000:d=2' " +
                       c.metadata + " -c:a pcm_s24le kick" + take + ".wav");
    }
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name << run.out;
    // Hard cuts: every frame of the output is a frame of one of the takes.
    const std::string from_sox =
        Capture(dir, "sox kick_t1.wav -t raw - trim 0s =33600s") +
        Capture(dir, "sox kick_t2.wav -t raw - trim 33600s =96000s");
    EXPECT_EQ(from_sox.size(), 96000u * 6) << c.name;
    EXPECT_TRUE(SameBytes(Capture(dir, "sox kick_bld.wav -t raw -"), from_sox))
        << c.name;
  }
}

// A take that a recorder of long sessions writes in the RF64 form (a ds64
// chunk with the 64-bit sizes) builds the same audio as a classic WAV take.
TEST(FormatsTest, BuildsFromRf64TakesAsFromClassicOnes) {
  if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  std::vector<std::string> outputs;
  for (const std::string rf64 : {"", "-rf64 always "}) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0.7\t_t2\n2\t_t2\n", "xf_all\t50\t1\n");
    for (const char* take : {"_t1", "_t2"}) {
      const std::string tone = take[2] == '1' ? "220" : "330";
      Capture(dir, "ffmpeg -v error -f lavfi -i 'aevalsrc=sin(2*PI*" + tone +
                       "*t)|-sin(2*PI*" + tone + "*t):s=48000:d=2' " + rf64 +
                       "-c:a pcm_s24le kick" + take + ".wav");
    }
    if (!rf64.empty()) {
      EXPECT_EQ(ReadFile(dir.File("kick_t1.wav")).substr(0, 4), "RF64");
    }
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << rf64 << run.out;
    outputs.push_back(Text(AudioOf(ToBytes(ReadFile(dir.File("kick_bld.wav"))))));
  }
  // The headers differ where each output keeps its take's audio place.
  EXPECT_EQ(outputs[0].size(), 96000u * 6);
  EXPECT_TRUE(SameBytes(outputs[1], outputs[0]));
}

}  // namespace
}  // namespace takeloom::testing

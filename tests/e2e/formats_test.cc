// Builds beyond 16/24-bit stereo, run as a user runs them: 32-bit integer
// and float takes, more channels, and takes laid out as recorders and other
// programs write them. Every output byte is compared with audio worked out
// here from the takes' own bytes, and sox reads the outputs back.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/expected_audio.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

// `frames` frames of audio that differs from take to take (by `seed`) and
// from channel to channel. Integer audio is any bytes; float audio is a
// signal reaching past full scale (floats have headroom), never NaN.
Bytes MakeAudio(const AudioFormat& f, int64_t frames, uint32_t seed) {
  const auto count = static_cast<size_t>(frames * f.channels);
  if (!f.is_float) return Noise(count * static_cast<size_t>(f.Width()), seed);
  std::vector<double> samples(count);
  for (size_t s = 0; s < count; ++s) {
    samples[s] = 1.5 * std::sin(0.37 * seed + 0.011 * seed * s);
  }
  return EncodeSamples(samples, f);
}

// One track of two takes of 2000 frames at 1000 Hz, cut at 1 s with a
// crossfade of 100 ms (frames 950 to 1049). The takes have 44-byte headers,
// so float outputs move their audio to byte 44 of a block.
TEST(FormatsTest, CrossfadesFollowTheCurveInEveryLayout) {
  struct Case {
    const char* name;
    AudioFormat format;
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
    const Bytes t1 =
        WriteTake(dir, "kick_t1.wav", c.format, MakeAudio(c.format, 2000, 11));
    const Bytes t2 =
        WriteTake(dir, "kick_t2.wav", c.format, MakeAudio(c.format, 2000, 23));

    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) +
                  Built("1\t100.0\t" + std::to_string(c.type) + "\n",
                        {"kick_bld.wav"}))
        << c.name;
    ExpectedOutput expected(c.format, 2000);
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
    AudioFormat t2;
    std::string message;
  };
  const AudioFormat integer{.channels = 2, .bits = 32};
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
    WriteTake(dir, "kick_t1.wav", integer, MakeAudio(integer, 2000, 1));
    WriteTake(dir, "kick_t2.wav", c.t2, MakeAudio(c.t2, 2000, 2));
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, BannerAndPlan(1, 3) + c.message) << c.name;
    EXPECT_EQ(ListDir(dir), (Names{"base.txt", "kick_t1.wav", "kick_t2.wav",
                                   "loomrc.txt", "points.txt"}))
        << c.name;
  }
}

// The padding chunk that puts a take's "data" tag at byte `data_tag`.
Bytes PaddingBefore(int64_t data_tag) {
  // RIFF 12, fmt 24 and the padding's own header 8 bytes lie before it.
  return Chunk("JUNK", std::string(static_cast<size_t>(data_tag - 44), '\0'));
}

// The output's audio lies within a 4096-byte block where its first take's
// does.
TEST(FormatsTest, FindsAudioThatStartsLate) {
  const AudioFormat f{.channels = 2, .bits = 24};
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
    const Bytes t1 = WriteTake(dir, "kick_t1.wav", f, MakeAudio(f, 2000, 5),
                               PaddingBefore(c.t1_tag));
    const Bytes t2 = WriteTake(dir, "kick_t2.wav", f, MakeAudio(f, 2000, 6),
                               PaddingBefore(c.t2_tag));
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) + Built("1\t100.0\t1\n", {"kick_bld.wav"}))
        << c.name;
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")),
                          ExpectedOutput(f, 2000)
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
    AudioFormat format;
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
      WriteTake(dir, t.base + take + ".wav", t.format,
                MakeAudio(t.format, 2000, 3));
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
    AudioFormat format;
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
                          ExpectedOutput(c.format, 8000)
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
    WriteFfmpegTakes(dir, c.metadata);
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
  for (const std::string rf64 : {"", "-rf64 always"}) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0.7\t_t2\n2\t_t2\n", "xf_all\t50\t1\n");
    WriteFfmpegTakes(dir, rf64);
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

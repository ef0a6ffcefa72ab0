// Whole builds run as a user runs them: sessions of takes written here, the
// exact text on standard output, and every byte of every output compared
// with audio worked out here from the takes' own bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/expected_audio.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

// Writes `path` with `frames` frames of audio that differs from every other
// take's (seeded by the path) and returns that audio. A trailing chunk after
// the audio puts bytes where frames past the take's end would be, so a
// segment that runs past the end only reads as silence when the silence is
// really written.
Bytes WriteNoiseTake(const TempDir& dir, const std::string& path,
                     const AudioFormat& f, int64_t frames,
                     bool trailing_chunk = false) {
  const uint32_t seed =
      static_cast<uint32_t>(std::hash<std::string>{}(path) & 0xFFFFFFFF);
  Bytes audio = Noise(static_cast<size_t>(frames * f.FrameSize()), seed);
  Bytes file = MakeTake(PartsOf(f, audio));
  if (trailing_chunk) {
    PutText(file, "LIST");
    PutU32(file, 16);
    const Bytes tail = Noise(16, seed + 1);
    file.insert(file.end(), tail.begin(), tail.end());
    const Bytes riff_size = Pcm({static_cast<int64_t>(file.size() - 8)}, 4);
    std::copy(riff_size.begin(), riff_size.end(), file.begin() + 4);
  }
  WriteFile(dir.File(path), file);
  return audio;
}

TEST(BuildTest, TypicalEditCrossfadesAroundTheEditPoint) {
  TempDir dir;
  const AudioFormat f{.channels = 2, .rate = 44100, .bits = 16};
  WriteJob(dir, "kick\n", "0\t_t1\n4\t_t2\n10\t_t2\n", "xf_all\t200\t1\n");
  const Bytes t1 = WriteNoiseTake(dir, "kick_t1.wav", f, 441000);
  const Bytes t2 = WriteNoiseTake(dir, "kick_t2.wav", f, 441000);

  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            BannerAndPlan(1, 3) + Built("1\t200.0\t1\n", {"kick_bld.wav"}));
  const std::string expected = ExpectedOutput(f, 441000)
                                   .Copy(0, 171990, t1)
                                   .Blend(171990, 180810, t1, t2, 1, 8820)
                                   .Copy(180810, 441000, t2)
                                   .File();
  const std::string built = ReadFile(dir.File("kick_bld.wav"));
  EXPECT_TRUE(SameBytes(built, expected));
  // The header the tool writes for 441000 frames of 16-bit stereo.
  EXPECT_EQ(built.substr(0, 44),
            std::string("RIFF\xC4\xEA\x1A\x00WAVEfmt \x10\x00\x00\x00\x01\x00"
                        "\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00"
                        "\x10\x00" "data\xA0\xEA\x1A\x00",
                        44));
  EXPECT_EQ(ListDir(dir), (Names{"base.txt", "kick_bld.wav", "kick_t1.wav",
                                 "kick_t2.wav", "loomrc.txt", "points.txt"}));
}

// One track "kick"; takes named by `frames` index: _t1, _t2, _t3.
struct BuildCase {
  const char* name;
  AudioFormat format;
  std::vector<int64_t> take_frames;  // of kick_t1.wav, kick_t2.wav, ...
  std::string points;
  std::string loomrc;  // empty: no loomrc.txt, the template is written
  std::string matrix_row;
  std::string progress;
  int64_t length;
  bool trailing_chunks;  // every take carries a chunk after its audio
  // Lays out the expected output from the takes' audio.
  void (*layout)(ExpectedOutput& e, const std::vector<Bytes>& t);
};

TEST(BuildTest, BuildsEachSessionFrameForFrame) {
  const BuildCase cases[] = {
      {"lead-in and an end before the longest take",
       {.channels = 2, .rate = 8000, .bits = 24}, {56000, 56000},
       "2\t_t1\n4\t_t2\n6\t_t2\n", "xf_all\t50\t4\n", "1\t50.0\t4\n",
       "1 2 3 ", 48000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Silence(0, 16000)
             .Copy(16000, 31800, t[0])
             .Blend(31800, 32200, t[0], t[1], 4, 400)
             .Copy(32200, 48000, t[1]);
       }},
      {"a negative first time counts from 0, without lead-in",
       {.channels = 1, .rate = 1000, .bits = 16}, {1000, 1000},
       "-1\t_t1\n0.5\t_t2\n1\t_t2\n", "xf_all\t20\t2\n", "1\t20.0\t2\n",
       "1 2 3 ", 1000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 490, t[0])
             .Blend(490, 510, t[0], t[1], 2, 20)
             .Copy(510, 1000, t[1]);
       }},
      {"silence where a take runs out",
       {.channels = 2, .rate = 1000, .bits = 16}, {8000, 5000},
       "0\t_t1\n3\t_t2\n8\t_t1\n", "xf_all\t100\t2\n", "1\t100.0\t2\n",
       "1 2 3 ", 8000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 2950, t[0])
             .Blend(2950, 3050, t[0], t[1], 2, 100)
             .Copy(3050, 5000, t[1])
             .Silence(5000, 8000);
       }},
      {"a take that ends at its edit point gives a silent segment",
       {.channels = 2, .rate = 1000, .bits = 16}, {2000, 1000},
       "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_tr\t1\t100\t0\n", "1\t100.0\t0\n",
       "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 1000, t[0]).Silence(1000, 2000);
       }},
      // The crossfade shrinks to the 2205 frames of the segment it leaves,
      // so that it never reaches before the first edit point.
      {"an edit close to the start shortens its crossfade",
       {.channels = 2, .rate = 44100, .bits = 16}, {44100, 44100, 44100},
       "0\t_t1\n0.05\t_t2\n0.5\t_t3\n1\t_t3\n", "xf_all\t200\t1\n",
       "1\t200.0\t1\n", "1 2 3 4 ", 44100, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 1103, t[0])
             .Blend(1103, 3308, t[0], t[1], 1, 2205)
             .Copy(3308, 17640, t[1])
             .Blend(17640, 26460, t[1], t[2], 1, 8820)
             .Copy(26460, 44100, t[2]);
       }},
      {"an empty segment: the crossfade fades out the take heard before",
       {.channels = 1, .rate = 1000, .bits = 24}, {2000, 2000, 2000},
       "0\t_t1\n1\t_t2\n1\t_t3\n2\t_t3\n", "xf_all\t100\t3\n",
       "1\t100.0\t3\n", "1 2 3 4 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 950, t[0])
             .Blend(950, 1050, t[0], t[2], 3, 100)
             .Copy(1050, 2000, t[2]);
       }},
      {"the same take twice is crossfaded with itself",
       {.channels = 2, .rate = 1000, .bits = 16}, {2000},
       "0\t_t1\n1\t_t1\n2\t_t1\n", "xf_all\t100\t1\n", "1\t100.0\t1\n",
       "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 950, t[0])
             .Blend(950, 1050, t[0], t[0], 1, 100)
             .Copy(1050, 2000, t[0]);
       }},
      {"length 0 with a curve keeps the track on hard cuts",
       {.channels = 2, .rate = 1000, .bits = 16}, {2000, 2000},
       "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t1\nxf_tr\t1\t0\t1\n",
       "1\t0.0\t1\n", "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 1000, t[0]).Copy(1000, 2000, t[1]);
       }},
      {"no parameter file: hard cuts",
       {.channels = 2, .rate = 1000, .bits = 24}, {3000, 3000, 3000},
       "0\t_t1\n1\t_t2\n2\t_t3\n3\t_t3\n", "", "1\t0.0\t0\n", "1 2 3 4 ",
       3000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 1000, t[0]).Copy(1000, 2000, t[1]).Copy(2000, 3000, t[2]);
       }},
      // Past the end of its audio the window blends with zero samples, not
      // with the metadata chunk that follows the audio in the file.
      {"the previous take ends inside the crossfade window",
       {.channels = 1, .rate = 1000, .bits = 16}, {1020, 2000},
       "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t2\n", "1\t100.0\t2\n",
       "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 950, t[0])
             .Blend(950, 1050, t[0], t[1], 2, 100)
             .Copy(1050, 2000, t[1]);
       }},
      {"a take that ran out before the window: a fade-in from silence",
       {.channels = 1, .rate = 1000, .bits = 16}, {900, 2000},
       "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t100\t2\n", "1\t100.0\t2\n",
       "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 900, t[0])
             .Silence(900, 950)
             .Blend(950, 1050, Bytes{}, t[1], 2, 100)
             .Copy(1050, 2000, t[1]);
       }},
      {"the last segment shorter than the crossfade shortens it",
       {.channels = 1, .rate = 1000, .bits = 24}, {2000, 2000},
       "0\t_t1\n1.875\t_t2\n2\t_t2\n", "xf_all\t400\t1\n", "1\t400.0\t1\n",
       "1 2 3 ", 2000, true,
       [](ExpectedOutput& e, const std::vector<Bytes>& t) {
         e.Copy(0, 1813, t[0])
             .Blend(1813, 1938, t[0], t[1], 1, 125)
             .Copy(1938, 2000, t[1]);
       }},
  };
  for (const BuildCase& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", c.points, c.loomrc);
    std::vector<Bytes> takes;
    Names files = {"base.txt", "kick_bld.wav", "loomrc.txt", "points.txt"};
    for (size_t i = 0; i < c.take_frames.size(); ++i) {
      const std::string path = "kick_t" + std::to_string(i + 1) + ".wav";
      takes.push_back(WriteNoiseTake(dir, path, c.format, c.take_frames[i],
                                     c.trailing_chunks));
      files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    const int edits =
        static_cast<int>(std::count(c.points.begin(), c.points.end(), '\n'));

    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(run.out, BannerAndPlan(1, edits) +
                           Built(c.matrix_row, {"kick_bld.wav"}, c.progress))
        << c.name;
    ExpectedOutput expected(c.format, c.length);
    c.layout(expected, takes);
    EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")), expected.File()))
        << c.name;
    EXPECT_EQ(ListDir(dir), files) << c.name;
  }
}

TEST(BuildTest, EachTrackFollowsItsOwnFormatAndTakes) {
  TempDir dir;
  const AudioFormat kick{.channels = 2, .rate = 8000, .bits = 16};
  const AudioFormat snare{.channels = 1, .rate = 11025, .bits = 24};
  WriteJob(dir, "kick\nsnare\n", "0\t_a\n1\t_b\n3\t_b\n",
           "xf_tr\t1\t50\t1\nxf_tr\t2\t100\t3\n");
  const Bytes kick_a = WriteNoiseTake(dir, "kick_a.wav", kick, 24000);
  const Bytes kick_b = WriteNoiseTake(dir, "kick_b.wav", kick, 24000);
  // The snare's takes are shorter than the last edit point, and its second
  // take shorter than its first.
  const Bytes snare_a = WriteNoiseTake(dir, "snare_a.wav", snare, 27562);
  const Bytes snare_b = WriteNoiseTake(dir, "snare_b.wav", snare, 22050);

  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, BannerAndPlan(2, 3) +
                         Built("1\t50.0\t1\n2\t100.0\t3\n",
                               {"kick_bld.wav", "snare_bld.wav"}));
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")),
                        ExpectedOutput(kick, 24000)
                            .Copy(0, 7800, kick_a)
                            .Blend(7800, 8200, kick_a, kick_b, 1, 400)
                            .Copy(8200, 24000, kick_b)
                            .File()));
  // 100 ms at 11025 Hz is 1102 frames, 551 of them before the edit point.
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("snare_bld.wav")),
                        ExpectedOutput(snare, 27562)
                            .Copy(0, 10474, snare_a)
                            .Blend(10474, 11576, snare_a, snare_b, 3, 1102)
                            .Copy(11576, 22050, snare_b)
                            .Silence(22050, 27562)
                            .File()));
  EXPECT_EQ(ListDir(dir),
            (Names{"base.txt", "kick_a.wav", "kick_b.wav", "kick_bld.wav",
                   "loomrc.txt", "points.txt", "snare_a.wav", "snare_b.wav",
                   "snare_bld.wav"}));
}

// Lists saved with carriage returns and a byte-order mark, or as UTF-16, as
// editors and spreadsheets on other systems save them, and edit times
// written as clock times or sample positions build exactly what plain lists
// build.
TEST(BuildTest, ListsSavedOnAnySystemBuildAlike) {
  const AudioFormat f{.channels = 2, .rate = 1000, .bits = 16};
  const auto crlf = [](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
  };
  // ASCII text as UTF-16, after its byte-order mark.
  const auto utf16 = [](const std::string& text, bool big_endian) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
      out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
  };
  const std::string base = "kick\n";
  const std::string points = "0\t_t1\n4.25\t_t2\n7.5\t_t1\n12\t_t2\n";
  const std::string loomrc = "xf_tr\t1\t100\t2\n";
  using Lists = std::vector<std::string>;
  const auto each = [&](const std::function<std::string(std::string)>& save) {
    return Lists{save(base), save(points), save(loomrc)};
  };
  const Lists jobs[] = {
      {base, points, loomrc},
      each([&](std::string t) { return "\xEF\xBB\xBF" + crlf(t); }),
      each([&](std::string t) { return utf16(crlf(t), false); }),
      each([&](std::string t) { return utf16(t, true); }),
      {base, "0:00\t_t1\n0:04.25\t_t2\n0:07.5\t_t1\n0:12\t_t2\n", loomrc},
      {base, "0\t_t1\n4250s\t_t2\n7500s\t_t1\n12000s\t_t2\n", loomrc},
  };
  std::vector<std::string> outputs;
  std::vector<std::string> printed;
  for (const Lists& job : jobs) {
    TempDir dir;
    WriteJob(dir, job[0], job[1], job[2]);
    WriteNoiseTake(dir, "kick_t1.wav", f, 12000);
    WriteNoiseTake(dir, "kick_t2.wav", f, 12000);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << outputs.size() << run.out;
    printed.push_back(run.out);
    outputs.push_back(ReadFile(dir.File("kick_bld.wav")));
  }
  for (size_t k = 1; k < outputs.size(); ++k) {
    EXPECT_EQ(printed[k], printed[0]) << k;
    EXPECT_TRUE(SameBytes(outputs[k], outputs[0])) << k;
  }
  // Every point was read: the track ends at 12 s; so was the crossfade.
  EXPECT_EQ(outputs[0].size(), 44u + 12000 * 4);
  EXPECT_NE(printed[0].find("1\t100.0\t2\n"), std::string::npos);
}

TEST(BuildTest, TheOnlyArgumentIsTheOutputSuffix) {
  struct SuffixCase {
    std::vector<std::string> args;
    std::string output;
  };
  const SuffixCase cases[] = {
      {{"_mix.wav"}, "kick_mix.wav"},
      {{"_mix"}, "kick_mix"},
      // Not an option: a dash with more than one character after it.
      {{"-mix.wav"}, "kick-mix.wav"},
  };
  const AudioFormat f{.channels = 2, .rate = 1000, .bits = 16};
  for (const SuffixCase& c : cases) {
    const std::string name = c.output;
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0.5\t_t2\n1\t_t2\n", "xf_all\t0\t0\n");
    const Bytes t1 = WriteNoiseTake(dir, "kick_t1.wav", f, 1000);
    const Bytes t2 = WriteNoiseTake(dir, "kick_t2.wav", f, 1000);
    const ToolRun run = RunTool(dir, c.args);
    EXPECT_EQ(run.status, 0) << name;
    EXPECT_EQ(run.out, BannerAndPlan(1, 3) + Built("1\t0.0\t0\n", {c.output}))
        << name;
    EXPECT_TRUE(SameBytes(
        ReadFile(dir.File(c.output)),
        ExpectedOutput(f, 1000).Copy(0, 500, t1).Copy(500, 1000, t2).File()))
        << name;
    Names files = {"base.txt",    "kick_t1.wav", "kick_t2.wav",
                   "loomrc.txt",  "points.txt",  c.output};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(ListDir(dir), files) << name;
  }
}

// A second reader: the hard cuts of every output are exactly the pieces that
// sox cuts from the takes, and soxi reads the declared format and length.
// The edit points fall on milliseconds whose frame positions, truncated
// separately, would leave a frame unwritten between two segments or at the
// end.
TEST(BuildTest, HardCutsMatchTheSegmentsSoxCutsFromTheTakes) {
  if (!Installed("sox") || !Installed("soxi")) {
    GTEST_SKIP() << "sox is not installed";
  }
  TempDir dir;
  WriteJob(dir, "kick\nsnare\n",
           "0\t_t1\n8.478\t_t2\n10.003\t_t3\n12.000\t_t3\n",
           "xf_all\t100\t0\n");
  struct Track {
    std::string base;
    AudioFormat format;
    int64_t cuts[4];  // the edit points in frames at the track's rate
  };
  const Track tracks[] = {
      {"kick", {.channels = 2, .rate = 44100, .bits = 16},
       {0, 373879, 441132, 529200}},
      {"snare", {.channels = 1, .rate = 48000, .bits = 24},
       {0, 406944, 480144, 576000}},
  };
  for (const Track& t : tracks) {
    for (const char* take : {"_t1", "_t2", "_t3"}) {
      WriteNoiseTake(dir, t.base + take + ".wav", t.format, t.cuts[3]);
    }
  }
  const ToolRun run = RunTool(dir);
  ASSERT_EQ(run.status, 0) << run.out;

  for (const Track& t : tracks) {
    std::string from_sox;
    for (int k = 0; k < 3; ++k) {
      from_sox += Capture(dir, "sox " + t.base + "_t" + std::to_string(k + 1) +
                          ".wav -t raw - trim " + std::to_string(t.cuts[k]) +
                          "s =" + std::to_string(t.cuts[k + 1]) + "s");
    }
    const std::string output = t.base + "_bld.wav";
    const std::string built = ReadFile(dir.File(output));
    ASSERT_GE(built.size(), 44u) << t.base;
    EXPECT_EQ(from_sox.size(),
              static_cast<size_t>(t.cuts[3] * t.format.FrameSize()))
        << t.base;
    EXPECT_TRUE(SameBytes(built.substr(44), from_sox)) << t.base;
    EXPECT_EQ(Capture(dir, "soxi -s " + output),
              std::to_string(t.cuts[3]) + "\n")
        << t.base;
    EXPECT_EQ(Capture(dir, "soxi -r " + output + " && soxi -c " + output +
                      " && soxi -b " + output),
              std::to_string(t.format.rate) + "\n" +
                  std::to_string(t.format.channels) + "\n" +
                  std::to_string(t.format.bits) + "\n")
        << t.base;
  }
}

// Sine takes at three levels from sox, with edits closer than their 200 ms
// crossfades: each crossfade fades out the take heard (never the take of an
// empty segment), shrinks to the segments it joins so the level moves
// without a step, the lead-in stays silent, and standard error says which
// crossfades were shortened.
TEST(BuildTest, CloseEditsMoveTheLevelWithoutAStep) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  const AudioFormat f{.channels = 1, .rate = 44100, .bits = 16};
  TempDir dir;
  std::vector<Bytes> t;
  for (const char* level : {"0.2", "0.5", "0.8"}) {
    const std::string name = "kick_t" + std::to_string(t.size() + 1) + ".wav";
    Capture(dir, "sox -n -r 44100 -b 16 -c 1 " + name +
                     " synth 3 sine 440 vol " + level);
    t.push_back(AudioOfFile(dir.File(name)));
  }
  // Two points at 1 s (the segment of _t2 is empty), then 50 ms apart.
  WriteJob(dir, "kick\n",
           "0.5\t_t1\n1\t_t2\n1\t_t3\n1.05\t_t2\n1.1\t_t1\n2\t_t1\n",
           "xf_all\t200\t1\n");
  const ToolRun run = RunTool(dir);
  ASSERT_EQ(run.status, 0) << run.out;
  const auto at = [](float seconds) {
    return static_cast<int64_t>(seconds * 44100.0f);
  };
  const int64_t a = at(1), b = at(1.05f), c = at(1.1f), end = at(2);
  // Each crossfade spans at most the segments it joins.
  const int64_t xa = std::min(a - at(0.5f), b - a);
  const int64_t xb = std::min(b - a, c - b);
  const int64_t xc = std::min(c - b, end - c);
  ExpectedOutput expected(f, end);
  expected.Silence(0, at(0.5f))
      .Copy(at(0.5f), a - xa / 2, t[0])
      .Blend(a - xa / 2, a - xa / 2 + xa, t[0], t[2], 1, xa)
      .Copy(a - xa / 2 + xa, b - xb / 2, t[2])
      .Blend(b - xb / 2, b - xb / 2 + xb, t[2], t[1], 1, xb)
      .Copy(b - xb / 2 + xb, c - xc / 2, t[1])
      .Blend(c - xc / 2, c - xc / 2 + xc, t[1], t[0], 1, xc)
      .Copy(c - xc / 2 + xc, end, t[0]);
  const std::string built = ReadFile(dir.File("kick_bld.wav"));
  EXPECT_TRUE(SameBytes(built, expected.File()));

  // The largest change of the peak level between consecutive 5 ms windows
  // is that of the blend computed here, far below the 0.23 of full scale
  // that overlapping windows gave.
  const auto largest_step = [&](const std::string& file) {
    const Bytes audio = AudioOf(ToBytes(file));
    double largest = 0;
    double last_peak = 0;
    for (int64_t w = at(0.5f); w + 220 <= end; w += 220) {
      double peak = 0;
      for (int64_t i = w; i < w + 220; ++i) {
        peak = std::max(peak, std::abs(SampleAt(audio, f, i) / 32768.0));
      }
      if (w > at(0.5f)) largest = std::max(largest, std::abs(peak - last_peak));
      last_peak = peak;
    }
    return largest;
  };
  EXPECT_LE(largest_step(built), largest_step(expected.File()) + 1e-9);
  EXPECT_LT(largest_step(built), 0.15);
  const auto note = [](int edit, int64_t frames, const char* segment) {
    char ms[16];
    std::snprintf(ms, sizeof ms, "%.1f", 1000.0 * frames / 44100);
    return "takeloom: note: edit " + std::to_string(edit) +
           ": crossfade shortened to " + std::to_string(frames) + " frames (" +
           ms + " ms): the segment it " + segment + " holds only " +
           std::to_string(frames) + " frames\n";
  };
  EXPECT_EQ(run.err, note(3, xa, "enters") + note(4, xb, "leaves") +
                         note(5, xc, "leaves"));
}

// A take 5 s long chosen from 3 s to 10 s has run out long before the
// crossfade at 10 s: the next take fades in from silence over the whole
// planned window rather than cutting in at full level.
TEST(BuildTest, ATakeThatRanOutLetsTheNextFadeInFromSilence) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  const AudioFormat f{.channels = 1, .rate = 48000, .bits = 16};
  TempDir dir;
  Capture(dir, "sox -n -r 48000 -b 16 -c 1 kick_t1.wav synth 12 sine 440 "
               "vol 0.5 && sox -n -r 48000 -b 16 -c 1 kick_t2.wav synth 5 "
               "sine 330 vol 0.5");
  const Bytes t1 = AudioOfFile(dir.File("kick_t1.wav"));
  const Bytes t2 = AudioOfFile(dir.File("kick_t2.wav"));
  WriteJob(dir, "kick\n", "0\t_t1\n3\t_t2\n10\t_t1\n12\t_t1\n",
           "xf_all\t80\t1\n");
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.out + run.err,
            BannerAndPlan(1, 4) +
                Built("1\t80.0\t1\n", {"kick_bld.wav"}, "1 2 3 4 "));
  // 80 ms is 3840 frames, 1920 of them before each point.
  EXPECT_TRUE(SameBytes(ReadFile(dir.File("kick_bld.wav")),
                        ExpectedOutput(f, 576000)
                            .Copy(0, 142080, t1)
                            .Blend(142080, 145920, t1, t2, 1, 3840)
                            .Copy(145920, 240000, t2)
                            .Silence(240000, 478080)
                            .Blend(478080, 481920, Bytes{}, t1, 1, 3840)
                            .Copy(481920, 576000, t1)
                            .File()));
  const ToolRun dry = RunTool(dir, {"-n"});
  EXPECT_NE(dry.out.find("crossfade type 1 from kick_t2.wav over 3840 frames "
                         "(80.0 ms), fades from silence after frame 240000\n"),
            std::string::npos)
      << dry.out;
}

// The same take crossfaded into itself near full scale: constant power adds
// up to 3 dB, past full scale, and standard error says where and how many
// samples.
TEST(BuildTest, ACrossfadeBeyondFullScaleIsNoted) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  const AudioFormat f{.channels = 1, .rate = 44100, .bits = 16};
  TempDir dir;
  Capture(dir, "sox -n -r 44100 -b 16 -c 1 kick_t1.wav synth 2 sine 440 "
               "vol 0.9");
  const Bytes t = AudioOfFile(dir.File("kick_t1.wav"));
  WriteJob(dir, "kick\n", "0\t_t1\n1\t_t1\n2\t_t1\n", "xf_all\t100\t1\n");
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0);
  int64_t beyond = 0;
  for (int64_t i = 0; i < 4410; ++i) {
    bool past = false;
    const double s = SampleAt(t, f, 41895 + i);
    ReferenceBlend(s, s, ReferenceGains(1, i, 4410), 16, false, &past);
    beyond += past ? 1 : 0;
  }
  EXPECT_GT(beyond, 0);
  EXPECT_EQ(run.err, "takeloom: note: kick_bld.wav, edit 2: the crossfade "
                     "goes beyond full scale in " +
                         std::to_string(beyond) +
                         " samples (held at full scale)\n");
}

// A run holds open one output and the takes of one track at a time: a
// session of more tracks than the process may open files still builds.
TEST(BuildTest, BuildsMoreTracksThanFilesMayBeOpen) {
  const AudioFormat f{.channels = 1, .rate = 1000, .bits = 16};
  TempDir dir;
  std::string bases;
  for (int t = 0; t < 80; ++t) {
    const std::string base = "tr" + std::to_string(t);
    bases += base + "\n";
    WriteNoiseTake(dir, base + "_t1.wav", f, 20);
  }
  WriteJob(dir, bases, "0\t_t1\n0.01\t_t1\n", "xf_all\t4\t1\n");
  const ToolRun run = RunTool(dir, {}, "ulimit -n 40;");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("tr79_bld.wav")));
}

}  // namespace
}  // namespace takeloom::testing

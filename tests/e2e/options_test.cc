// The command line's options as a user meets them: the dry run, the
// progress line on a terminal, and takes named as recorders name them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;

// A take of `frames` frames of 16-bit mono at 1000 Hz, its audio seeded by
// `seed`, with a bext chunk before its audio as recorders write it.
void WriteRecorderTake(const TempDir& dir, const std::string& name,
                       int64_t frames, uint32_t seed) {
  WriteTake(dir, name, {.channels = 1, .rate = 1000},
            Noise(static_cast<size_t>(frames * 2), seed),
            Chunk("bext", std::string(602, 'b')));
}

std::vector<std::string> Bytes(const TempDir& dir,
                               const std::vector<std::string>& names) {
  std::vector<std::string> bytes;
  for (const std::string& name : names) bytes.push_back(ReadFile(dir.File(name)));
  return bytes;
}

TEST(OptionsTest, DryRunPrintsThePlanAndWritesNothing) {
  TempDir dir;
  for (const char* take : {"_t1", "_t2"}) {
    WriteRecorderTake(dir, std::string("kick") + take + ".wav", 3000, 1);
    WriteRecorderTake(dir, std::string("snare") + take + ".wav", 2500, 2);
  }
  // No loomrc.txt: a build would write its template, a dry run does not.
  WriteJob(dir, "kick\nsnare\n", "0.5\t_t1\n1\t_t2\n1.05\t_t1\n3\t_t1\n", "");
  const std::vector<std::string> before = ListDir(dir);
  for (const char* flag : {"-n", "--dry-run"}) {
    const ToolRun run = RunTool(dir, {flag});
    EXPECT_EQ(run.status, 0) << flag;
    EXPECT_EQ(ListDir(dir), before) << flag;
    // Both tracks alike but for their names and the lengths of their takes.
    const auto track = [](const std::string& base, int frames,
                          const std::string& clock) {
      return "\n" + base + "_bld.wav: 1000 Hz, 16-bit integer, 1 channel, " +
             std::to_string(frames) + " frames (0:00:0" + clock + ")\n"
             "  silence frames 0-500 (0:00:00.000-0:00:00.500) before the "
             "first edit point\n"
             "  edit 1 at 0:00:00.500: " + base + "_t1.wav, frames 500-1000 "
             "(0:00:00.500-0:00:01.000)\n"
             "  edit 2 at 0:00:01.000: " + base + "_t2.wav, frames 1000-1050 "
             "(0:00:01.000-0:00:01.050)\n"
             "  edit 3 at 0:00:01.050: " + base + "_t1.wav, frames 1050-" +
             std::to_string(frames) + " (0:00:01.050-0:00:0" + clock + ")\n"
             "  edit 4 at 0:00:03.000: the end of the track\n";
    };
    EXPECT_EQ(run.out, BannerAndPlan(2, 4) +
                           "Crossfade Matrix:\ntrack\tlength\ttype\n"
                           "1\t0.0\t0\n2\t0.0\t0\n" +
                           track("kick", 3000, "3.000") +
                           track("snare", 2500, "2.500") +
                           "\n\nDry run: nothing written\n\n")
        << flag;
  }
  // Crossfades, shortened where edits lie close, and silence where a take
  // runs out.
  WriteFile(dir.File("loomrc.txt"), "xf_tr\t2\t200\t3\n");
  WriteRecorderTake(dir, "snare_t1.wav", 1500, 2);
  const ToolRun crossfaded = RunTool(dir, {"-n", "_mix.wav"});
  EXPECT_NE(crossfaded.out.find(
                "  edit 2 at 0:00:01.000: snare_t2.wav, frames 1000-1050 "
                "(0:00:01.000-0:00:01.050), crossfade type 3 from "
                "snare_t1.wav over 50 frames (50.0 ms), shortened from 200: "
                "the segment it enters is that short\n"
                "  edit 3 at 0:00:01.050: snare_t1.wav, frames 1050-2500 "
                "(0:00:01.050-0:00:02.500), crossfade type 3 from "
                "snare_t2.wav over 50 frames (50.0 ms), shortened from 200: "
                "the segment it leaves is that short, silence from frame 1500 "
                "(0:00:01.500) where the take ends\n"),
            std::string::npos)
      << crossfaded.out;
  EXPECT_NE(crossfaded.out.find("\nsnare_mix.wav: "), std::string::npos);

  // A sample position is that frame (8.9 s would land on 427199).
  TempDir exact;
  WriteJob(exact, "kick\n", "0\t_t1\n427200s\t_t1\n", "");
  WriteTake(exact, "kick_t1.wav", {.channels = 1, .rate = 48000},
            Noise(427200 * 2, 3));
  EXPECT_NE(RunTool(exact, {"-n"}).out.find(", frames 0-427200 ("),
            std::string::npos);

  // A dry run refuses what a build refuses, with the same words.
  fs::remove(dir.File("snare_t2.wav"));
  const ToolRun dry = RunTool(dir, {"-n"});
  EXPECT_EQ(dry.status, 1);
  EXPECT_TRUE(dry.out.ends_with(
      ">> Cannot find file called snare_t2.wav, exiting\n"));
  const std::vector<std::string> unchanged = ListDir(dir);
  const ToolRun build = RunTool(dir);
  EXPECT_EQ(build.status, 1);
  EXPECT_EQ(dry.out, build.out);
  EXPECT_EQ(ListDir(dir), unchanged);
}

// On a terminal standard error shows the progress, erased at the end;
// standard output reads as it always has. Standard error to a file gets
// none of it (every other test reads it).
TEST(OptionsTest, ProgressLineOnATerminal) {
  if (!Installed("script")) GTEST_SKIP() << "script is not installed";
  TempDir dir;
  std::string bases;
  for (int t = 0; t < 8; ++t) {
    const std::string base = "tr" + std::to_string(t);
    bases += base + "\n";
    WriteRecorderTake(dir, base + "_t1.wav", 120000, t);
  }
  WriteJob(dir, bases, "0\t_t1\n60\t_t1\n120\t_t1\n", "xf_all\t100\t1\n");
  const std::string terminal = Capture(
      dir, "script -qfec \"'" TAKELOOM_BINARY "' > stdout.txt\" /dev/null");
  EXPECT_NE(terminal.find("% "), std::string::npos) << terminal;
  EXPECT_TRUE(terminal.ends_with("\r\033[K")) << terminal;
  const std::string stdout_text = ReadFile(dir.File("stdout.txt"));
  fs::remove(dir.File("stdout.txt"));
  const ToolRun plain = RunTool(dir);
  EXPECT_EQ(stdout_text, plain.out);
  EXPECT_EQ(WithoutClipNotes(plain.err), "");
}

// Recorders write A101_1.WAV, or one file per take and track named take
// first: both build byte for byte like the same takes named base + take +
// ".wav", and the dry run names the files it would read.
TEST(OptionsTest, TakesNamedAsRecordersNameThem) {
  const std::vector<std::string> outputs = {"06_bld.wav", "07_bld.wav"};
  TempDir plain, recorder;
  for (const char* take : {"Sr001", "Sr002"}) {
    for (const char* track : {"06", "07"}) {
      const uint32_t seed = static_cast<uint32_t>(take[4] * 10 + track[1]);
      WriteRecorderTake(plain, std::string(track) + take + ".wav", 2000, seed);
      WriteRecorderTake(recorder, std::string(take) + "_" + track + ".WAV",
                        2000, seed);
    }
  }
  for (const TempDir* dir : {&plain, &recorder}) {
    WriteJob(*dir, "06\n07\n", "0\tSr001\n1\tSr002\n2\tSr002\n",
             "xf_all\t100\t1\n");
  }
  ASSERT_EQ(RunTool(plain).status, 0);
  const std::vector<std::string> before = ListDir(recorder);
  const ToolRun dry = RunTool(recorder, {"-n", "--takes", "{take}_{track}.WAV"});
  EXPECT_EQ(dry.status, 0);
  EXPECT_NE(dry.out.find("edit 2 at 0:00:01.000: Sr002_07.WAV, "),
            std::string::npos);
  EXPECT_EQ(ListDir(recorder), before);
  ASSERT_EQ(RunTool(recorder, {"--takes", "{take}_{track}.WAV"}).status, 0);
  EXPECT_EQ(Bytes(recorder, outputs), Bytes(plain, outputs));

  // Named with capitals, the takes are found by the usual name; where
  // both exist, ".wav" is the take.
  TempDir capitals;
  for (const std::string take : {"06Sr001", "06Sr002", "07Sr001", "07Sr002"}) {
    fs::copy(plain.File(take + ".wav"), capitals.File(take + ".WAV"));
  }
  WriteJob(capitals, "06\n07\n", "0\tSr001\n1\tSr002\n2\tSr002\n",
           "xf_all\t100\t1\n");
  ASSERT_EQ(RunTool(capitals).status, 0);
  EXPECT_EQ(Bytes(capitals, outputs), Bytes(plain, outputs));
  WriteRecorderTake(capitals, "06Sr002.wav", 2000, 99);
  ASSERT_EQ(RunTool(capitals).status, 0);
  EXPECT_NE(Bytes(capitals, outputs)[0], Bytes(plain, outputs)[0]);
}

}  // namespace
}  // namespace takeloom::testing

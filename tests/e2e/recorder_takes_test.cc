// Takes as field recorders and other programs leave them, run as a user
// runs them: a recorder that stopped before writing its sizes, and takes
// whose metadata (bext, iXML, before or after the audio), channel layout
// and place of the audio the output keeps, read back by sox and ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

// A sox take whose 32-bit sizes are zeroed, as a recorder leaves them
// before it writes them, builds what the take with its sizes builds, and
// says so; a chunk right after the data chunk's header keeps it empty.
TEST(RecorderTakesTest, ReadsTakesWhoseRecorderStoppedBeforeWritingSizes) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  TempDir sox;
  Capture(sox, "sox -n -r 8000 -c 2 -b 16 t.wav synth 1 sine 300 sine 410");
  std::string take = ReadFile(sox.File("t.wav"));
  ASSERT_EQ(take.substr(36, 4), "data");
  std::string unset = take;
  unset.replace(4, 4, 4, '\0').replace(40, 4, 4, '\0');
  std::string listed =
      unset.substr(0, 44) + Text(Chunk("LIST", "INFO")) + unset.substr(44);
  std::vector<std::string> outputs;
  for (const std::string* t : {&take, &unset, &listed}) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0\t_t1\n1\t_t1\n", "xf_all\t0\t0\n");
    WriteFile(dir.File("kick_t1.wav"), *t);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0);
    // A data chunk that is empty for all it says leaves the track empty.
    const std::string note =
        t == &take    ? ""
        : t == &unset ? "takeloom: note: \"kick_t1.wav\" has no data size "
                        "(its recorder stopped early?); reading its audio to "
                        "the end of the file\n"
                      : "takeloom: note: points.txt line 3 reads \"1\\t_t1\": "
                        "the last edit point, 0:00:01.000, lies beyond every "
                        "take of \"kick\"; it ends at 0:00:00.000 (0 frames "
                        "at 8000 Hz)\n";
    EXPECT_EQ(run.out, BannerAndPlan(1, 3) + Built("1\t0.0\t0\n", {"kick_bld.wav"}));
    EXPECT_EQ(run.err, note);
    outputs.push_back(ReadFile(dir.File("kick_bld.wav")));
  }
  EXPECT_EQ(outputs[0].size(), 44u + 8000 * 4);
  EXPECT_TRUE(SameBytes(outputs[1], outputs[0]));
  EXPECT_EQ(outputs[2].substr(36), std::string("data\0\0\0\0", 8));
}

// What recorders write before the audio, so that it starts at byte 4096: a
// bext chunk (of odd size, with its pad byte), an iXML chunk and a JUNK
// chunk.
Bytes RecorderChunks() {
  const std::string chunks =
      Text(Chunk("bext", std::string(602, 'd') + "A=PCM,F=48000,W=24\r\n!")) +
      Text(Chunk("iXML", "<BWFXML><PROJECT>loom</PROJECT></BWFXML>"));
  const std::string junk(4096 - 52 - chunks.size(), '\0');
  return ToBytes(chunks + Text(Chunk("JUNK", junk)));
}

// The output of recorder's takes keeps their metadata and their audio's
// place, and holds the audio a build of plain takes holds.
TEST(RecorderTakesTest, KeepsARecordersMetadataAndTheAudioPlace) {
  const Bytes audio[] = {Noise(96000 * 6, 1), Noise(96000 * 6, 2)};
  std::vector<std::string> outputs;
  for (const bool as_recorded : {false, true}) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t20\t1\n");
    // 2 s at 48 kHz, 24-bit stereo, the audio at byte 44 or 4096.
    const Bytes chunks = as_recorded ? RecorderChunks() : Bytes();
    const AudioFormat f{.rate = 48000, .bits = 24};
    WriteTake(dir, "kick_t1.wav", f, audio[0], chunks);
    WriteTake(dir, "kick_t2.wav", f, audio[1], chunks);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) + Built("1\t20.0\t1\n", {"kick_bld.wav"}));
    outputs.push_back(ReadFile(dir.File("kick_bld.wav")));
    if (!as_recorded) continue;
    const std::string take = ReadFile(dir.File("kick_t1.wav"));
    EXPECT_EQ(outputs[1].find(take.substr(36, take.find("JUNK") - 36)), 36u);
    EXPECT_EQ(outputs[1].substr(4088, 8), take.substr(4088, 8));  // "data"
    if (Installed("soxi")) {
      EXPECT_EQ(Capture(dir, "soxi -s kick_bld.wav"), "96000\n");
      EXPECT_EQ(Capture(dir, "sox kick_bld.wav -n 2>&1 | grep WARN || true"), "");
    }
    if (Installed("ffprobe")) {
      EXPECT_EQ(Capture(dir, "ffprobe -v warning -show_entries "
                             "stream=duration_ts -of csv=p=0 kick_bld.wav 2>&1"),
                "96000\n");
    }
  }
  ASSERT_EQ(outputs[0].size(), 44u + 96000 * 6);
  EXPECT_TRUE(SameBytes(outputs[1].substr(4096), outputs[0].substr(44)));
}

// Editors write their metadata after the audio as often as before it: the
// output keeps the take's first bext and iXML chunks wherever they stand,
// byte for byte before its own audio, but nothing from a chunk after the
// audio that runs past the end of the take on. An iXML chunk of 1.5 GB
// (a sparse take, its holes read as zeros) is copied, and one that only
// declares it is left out, in little memory either way.
TEST(RecorderTakesTest, KeepsMetadataWrittenAfterTheAudio) {
  const std::string bext = Text(Chunk("bext", std::string(602, 'd') + "!"));
  const std::string ixml =
      Text(Chunk("iXML", "<BWFXML><SCENE>12</SCENE><TAKE>3</TAKE></BWFXML>"));
  const std::string list = Text(Chunk("LIST", "INFO"));
  std::string broken = list;
  broken[5] = '\x7F';  // 32516 bytes declared
  constexpr uint32_t kHuge = 1'500'000'000;
  const std::string huge = std::string("iXML\x00\x2F\x68\x59", 8) + "<BWFXML>";
  struct Case {
    const char* name;
    std::string before, after;
    uint64_t take_bytes;  // the take's length, when more than it holds
    std::string kept;     // what the output keeps, or how it starts
    uint64_t kept_bytes = 0;  // when more than `kept`
  };
  const Case cases[] = {
      {"bext before, iXML after", bext, ixml, 0, bext + ixml},
      {"both after", "", list + bext + ixml, 0, bext + ixml},
      {"a broken chunk after the audio", "", bext + broken + ixml, 0, bext},
      {"1.5 GB declared past the end", "", huge, 0, ""},
      {"1.5 GB held", "", huge, 32044 + 8 + kHuge,
       huge + std::string(8, '\0'), 8 + kHuge},
  };
  const AudioFormat f{.rate = 8000};
  const Bytes audio = Noise(8000 * 4, 3);
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t1\n", "xf_all\t0\t0\n");
    TakeParts parts = PartsOf(f, audio);
    parts.extra_chunks = ToBytes(c.before);
    const std::string take = dir.File("kick_t1.wav");
    WriteFile(take, Text(MakeTake(parts)) + c.after);
    if (c.take_bytes != 0) std::filesystem::resize_file(take, c.take_bytes);
    const auto [status, peak_kib] = RunMeasured(dir);
    ASSERT_EQ(status, 0) << c.name;
#ifndef __SANITIZE_ADDRESS__
    // (An instrumented build carries the sanitizer's own memory besides.)
    EXPECT_LT(peak_kib, 8 * 1024) << c.name;
#endif
    const std::string out = dir.File("kick_bld.wav");
    EXPECT_EQ(ReadAt(out, 36, c.kept.size()), c.kept) << c.name;
    // Then at most a JUNK chunk that puts the audio where the take's lies
    // within a 4096-byte block.
    const uint64_t after = 36 + std::max<uint64_t>(c.kept_bytes, c.kept.size());
    const uint64_t audio_at = std::filesystem::file_size(out) - audio.size();
    const std::string next = ReadAt(out, after, 4);
    EXPECT_TRUE(next == "JUNK" || next == "data") << c.name << ": " << next;
    EXPECT_LT(audio_at - after, 4096u + 16) << c.name;
    EXPECT_EQ(audio_at % 4096, (44 + c.before.size()) % 4096) << c.name;
    EXPECT_EQ(ReadAt(out, audio_at - 8, 4), "data") << c.name;
    EXPECT_TRUE(ReadAt(out, audio_at, audio.size()) == Text(audio)) << c.name;
  }
}

// Takes that ffmpeg writes with a 5.1 layout (the extensible format and
// its channel mask) and a Broadcast WAV time reference: the output tells
// other programs both.
TEST(RecorderTakesTest, KeepsTheChannelLayoutAndTimeReference) {
  if (!Installed("ffmpeg") || !Installed("ffprobe") || !Installed("sox")) {
    GTEST_SKIP() << "ffmpeg or sox is not installed";
  }
  TempDir dir;
  WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n2\t_t2\n", "xf_all\t50\t1\n");
  WriteFfmpegTakes(dir,
                   "-af 'pan=5.1|c0=c0|c1=c1|c2=c0|c3=c1|c4=c0|c5=c1' "
                   "-write_bext 1 -metadata time_reference=172800000");
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Capture(dir, "ffprobe -v warning -show_entries "
                         "stream=channel_layout,duration_ts:format_tags="
                         "time_reference -of default=nw=1 kick_bld.wav 2>&1"),
            "channel_layout=5.1\nduration_ts=96000\n"
            "TAG:time_reference=172800000\n");
  EXPECT_EQ(Capture(dir, "sox kick_bld.wav -n 2>&1 | grep WARN || true"), "");
}

}  // namespace
}  // namespace takeloom::testing

// Jobs that planning refuses, run as a user runs them: the exact message,
// exit status 1, and nothing written, not even the tracks whose takes were
// fine.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

struct TakeFile {
  std::string path;
  uint32_t channels = 2;
  uint32_t rate = 1000;
  uint32_t bits = 16;
  int64_t frames = 3000;
  bool data_tag = true;  // false: the audio sits in a chunk not named "data"
  bool fmt_tag = true;   // false: the format chunk is not named "fmt "
};

void WriteTake(const TempDir& dir, const TakeFile& t) {
  const AudioFormat f{t.channels, t.rate, t.bits};
  TakeParts parts =
      PartsOf(f, Noise(static_cast<size_t>(t.frames * f.FrameSize()), 7));
  if (!t.data_tag) parts.data_id = "dat ";
  Bytes file = MakeTake(parts);
  for (size_t i = 0; i < 4 && !t.fmt_tag; ++i) {
    file[12 + i] = static_cast<std::byte>("FMT "[i]);
  }
  if (!t.data_tag) {  // then no "data" anywhere (Noise bytes might spell it)
    ASSERT_EQ(Text(file).find("data"), std::string::npos);
  }
  WriteFile(dir.File(t.path), file);
}

// Takes _t1, _t2 and _t3 of `base`, all of one format.
std::vector<TakeFile> Takes(const std::string& base, uint32_t rate = 1000) {
  std::vector<TakeFile> takes;
  for (const char* take : {"_t1", "_t2", "_t3"}) {
    takes.push_back({.path = base + take + ".wav", .rate = rate});
  }
  return takes;
}

std::vector<TakeFile> Concat(std::vector<TakeFile> a,
                             const std::vector<TakeFile>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// `takes` with the entry for `path` changed by `change`, or removed when
// `change` is null.
std::vector<TakeFile> With(std::vector<TakeFile> takes,
                           const std::string& path,
                           void (*change)(TakeFile&)) {
  const auto it =
      std::find_if(takes.begin(), takes.end(),
                   [&](const TakeFile& t) { return t.path == path; });
  EXPECT_NE(it, takes.end()) << path;
  if (change == nullptr) {
    takes.erase(it);
  } else {
    change(*it);
  }
  return takes;
}

struct RefusalCase {
  const char* name;
  std::string base;
  std::string points;
  std::string loomrc;
  std::vector<TakeFile> takes;
  std::string message;  // after the banner and the plan line
};

const std::string kThree = "0\t_t1\n1\t_t2\n2\t_t3\n";
const std::vector<TakeFile> kKick = Takes("kick");
const std::vector<TakeFile> kBoth = Concat(Takes("kick"), Takes("snare"));

TEST(BuildFailureTest, RefusesWithItsMessageAndWritesNothing) {
  const RefusalCase cases[] = {
      {"missing take", "kick\n", kThree, "xf_all\t100\t1\n",
       With(kKick, "kick_t2.wav", nullptr),
       ">> Cannot find file called kick_t2.wav, exiting\n"
       "takeloom: kick_t2.wav: No such file or directory\n"},
      // The first track's takes are all there, yet it is not built either.
      {"missing take of the second track", "kick\nsnare\n", kThree,
       "xf_all\t100\t1\n", With(kBoth, "snare_t3.wav", nullptr),
       ">> Cannot find file called snare_t3.wav, exiting\n"
       "takeloom: snare_t3.wav: No such file or directory\n"},
      {"sample rate mismatch", "kick\n", kThree, "",
       With(kKick, "kick_t2.wav", [](TakeFile& t) { t.rate = 1001; }),
       ">> Samplerate mismatch among kick takes, exiting\n"
       "takeloom: kick_t2.wav has 1001 Hz, the track's first take kick_t1.wav has 1000 Hz\n"},
      {"bit format mismatch", "kick\n", kThree, "",
       With(kKick, "kick_t3.wav", [](TakeFile& t) { t.bits = 24; }),
       ">> Bit format mismatch among kick takes, exiting\n"
       "takeloom: kick_t3.wav has 24 bits, the track's first take kick_t1.wav has 16 bits\n"},
      {"mono-stereo mismatch", "kick\n", kThree, "",
       With(kKick, "kick_t2.wav", [](TakeFile& t) { t.channels = 1; }),
       ">> Mono-stereo mismatch among kick takes, exiting\n"
       "takeloom: kick_t2.wav has 1 channel, the track's first take kick_t1.wav has 2 channels\n"},
      {"the sample rate is compared first", "kick\n", kThree, "",
       With(kKick, "kick_t2.wav",
            [](TakeFile& t) {
              t.rate = 2000;
              t.bits = 24;
              t.channels = 1;
            }),
       ">> Samplerate mismatch among kick takes, exiting\n"
       "takeloom: kick_t2.wav has 2000 Hz, the track's first take kick_t1.wav has 1000 Hz\n"},
      // Tracks are not compared with each other, only a track's own takes.
      {"mismatch in the second track", "kick\nsnare\n", kThree, "",
       Concat(kKick, With(With(Takes("snare", 2000), "snare_t1.wav",
                               [](TakeFile& t) { t.channels = 1; }),
                          "snare_t2.wav", [](TakeFile& t) { t.channels = 1; })),
       ">> Mono-stereo mismatch among snare takes, exiting\n"
       "takeloom: snare_t3.wav has 2 channels, the track's first take snare_t1.wav has 1 channel\n"},
      {"take without data chunk", "kick\n", kThree, "",
       With(kKick, "kick_t2.wav", [](TakeFile& t) { t.data_tag = false; }),
       ">> Can't find data block in wave file, exiting\n"
       "takeloom: kick_t2.wav has no data chunk\n"},
      {"take without format chunk", "kick\n", kThree, "",
       With(kKick, "kick_t3.wav", [](TakeFile& t) { t.fmt_tag = false; }),
       ">> Can't find format chunk in wave file!\n"
       ">> Can't read the format of kick_t3.wav, exiting\n"
       "takeloom: kick_t3.wav has no format chunk\n"},
      {"frame size 0", "kick\n", kThree, "",
       With(kKick, "kick_t1.wav", [](TakeFile& t) { t.bits = 4; }),
       ">> Can't read the format of kick_t1.wav, exiting\n"},
      {"take ends before its edit point", "kick\n", kThree, "xf_all\t100\t1\n",
       With(kKick, "kick_t2.wav", [](TakeFile& t) { t.frames = 999; }),
       "Edit 2 failed.  The take ends before the edit point.\n"
       "Output files were not built\n"
       "takeloom: kick_t2.wav ends at 0.999 s, before edit 2 at 1.000 s\n"},
      // The take-length test uses each track's own takes.
      {"second track's take ends before its edit point", "kick\nsnare\n",
       kThree, "",
       With(kBoth, "snare_t2.wav", [](TakeFile& t) { t.frames = 500; }),
       "Edit 2 failed.  The take ends before the edit point.\n"
       "Output files were not built\n"
       "takeloom: snare_t2.wav ends at 0.500 s, before edit 2 at 1.000 s\n"},
      {"edit time beyond 63 bits of frames", "kick\n",
       "0\t_t1\n1\t_t2\n1e16\t_t3\n", "", kKick,
       ">> Edit 3 has an invalid time, exiting\n"
       "takeloom: points.txt line 3 reads \"1e16\\t_t3\": 1e+16 s lies "
       "beyond the frames a take at 1000 Hz can count\n"},
      // At 1000 Hz 1e14 s fits, at 96000 Hz it does not; every time is
      // checked at every track's rate before any track is planned, so the
      // first track's short take is not reported.
      {"edit time beyond 63 bits at the second track's rate", "kick\nsnare\n",
       "0\t_t1\n1e14\t_t2\n2e14\t_t3\n", "",
       Concat(kKick, Takes("snare", 96000)),
       ">> Edit 2 has an invalid time, exiting\n"
       "takeloom: points.txt line 2 reads \"1e14\\t_t2\": 1e+14 s lies "
       "beyond the frames a take at 96000 Hz can count\n"},
      {"every take is inspected before times are checked", "kick\nsnare\n",
       "0\t_t1\n1\t_t2\n1e16\t_t3\n", "",
       With(kBoth, "snare_t1.wav", nullptr),
       ">> Cannot find file called snare_t1.wav, exiting\n"
       "takeloom: snare_t1.wav: No such file or directory\n"},
      {"crossfade beyond 63 bits of frames", "kick\n", kThree,
       "xf_all\t1e19\t1\n", kKick,
       ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 1, entry \"xf_all\\t1e19\\t1\", the xf_all "
       "entry that sets track 1: the crossfade length 1e+19 ms is more "
       "frames than a take at 1000 Hz can count\n"},
      {"crossfade beyond 63 bits at the second track's rate", "kick\nsnare\n",
       kThree, "xf_all\t1e17\t1\n", Concat(kKick, Takes("snare", 96000)),
       ">> Invalid crossfade for track 2 in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 1, entry \"xf_all\\t1e17\\t1\", the xf_all "
       "entry that sets track 2: the crossfade length 1e+17 ms is more "
       "frames than a take at 96000 Hz can count\n"},
      {"times are checked before crossfades", "kick\n",
       "0\t_t1\n1\t_t2\n1e16\t_t3\n", "xf_all\t1e19\t1\n", kKick,
       ">> Edit 3 has an invalid time, exiting\n"
       "takeloom: points.txt line 3 reads \"1e16\\t_t3\": 1e+16 s lies "
       "beyond the frames a take at 1000 Hz can count\n"},
  };
  for (const RefusalCase& c : cases) {
    TempDir dir;
    WriteJob(dir, c.base, c.points,
             c.loomrc.empty() ? "xf_all\t0\t0\n" : c.loomrc);
    std::vector<std::string> files = {"base.txt", "loomrc.txt", "points.txt"};
    for (const TakeFile& t : c.takes) {
      WriteTake(dir, t);
      files.push_back(t.path);
    }
    std::sort(files.begin(), files.end());
    const auto count = [](const std::string& s) {
      return std::to_string(std::count(s.begin(), s.end(), '\n'));
    };

    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out + run.err,
              kBanner + ("Planning to build " + count(c.base) +
                                  " tracks using " + count(c.points) +
                                  " edit points.\n\n") +
                           c.message)
        << c.name;
    EXPECT_EQ(ListDir(dir), files) << c.name;
  }
}

// Takes whose samples the tool cannot copy, as sox writes them: refused
// by name, with what their format chunk says, before anything is written.
TEST(BuildFailureTest, RefusesSamplesItCannotCopy) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  struct Case {
    const char* name;
    std::string sox_format;
    std::string tag;  // as standard error names it
  };
  const Case cases[] = {{"A-law", "-e a-law", "0x0006"},
                        {"mu-law", "-e u-law", "0x0007"},
                        {"8-bit", "-b 8", "0x0001"}};
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n1\t_t2\n", "xf_all\t0\t0\n");
    Capture(dir, "sox -n -r 8000 -c 1 -b 16 kick_t1.wav synth 1 sine 300");
    Capture(dir, "sox -n -r 8000 -c 1 " + c.sox_format +
                     " kick_t2.wav synth 1 sine 300");
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out + run.err, BannerAndPlan(1, 2) +
                           ">> Unsupported sample format in kick_t2.wav, "
                           "exiting\ntakeloom: kick_t2.wav: format tag " +
                           c.tag +
                           ", 8-bit samples, 1 channel(s), block align 1\n")
        << c.name;
    EXPECT_EQ(ListDir(dir).size(), 5u) << c.name;  // the inputs alone
  }
}

}  // namespace
}  // namespace takeloom::testing

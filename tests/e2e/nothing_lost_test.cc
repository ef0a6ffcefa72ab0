// No run may cost the user a recording: every input is byte for byte what it
// was, after fatal errors and finished builds alike; outputs that would land
// on an input are refused before anything is written; a failed write leaves
// the outputs of the run before as they were, and neither a partial output
// nor the temporary file behind; links are replaced, never written through.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "os/commit.h"
#include "testing/session.h"
#include "testing/snapshot.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;

// Writes `takes` for every base name: 16-bit stereo at 1000 Hz, each with
// its own audio, `frames` frames long (3000 unless given in `short_takes`).
void WriteSession(const TempDir& dir, const std::vector<std::string>& bases,
                  const std::vector<std::string>& takes,
                  const std::map<std::string, int64_t>& short_takes = {}) {
  uint32_t seed = 1;
  for (const std::string& base : bases) {
    for (const std::string& take : takes) {
      const std::string path = base + take + ".wav";
      const auto found = short_takes.find(path);
      const int64_t frames = found == short_takes.end() ? 3000 : found->second;
      WriteTake(dir, path, {}, Noise(static_cast<size_t>(frames * 4), seed++));
    }
  }
}

const std::string kPoints = "0\t_t1\n1\t_t2\n2.5\t_t1\n";
const std::string kCrossfade = "xf_all\t100\t1\n";

struct FatalCase {
  const char* name;
  std::function<void(const TempDir&)> set_up;
  std::string last_message;
};

TEST(NothingLostTest, FatalRunsLeaveEveryInputAsItWas) {
  const auto session = [](std::string points, std::string loomrc,
                          std::map<std::string, int64_t> short_takes = {}) {
    return [=](const TempDir& dir) {
      WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"}, short_takes);
      WriteJob(dir, "kick\nsnare\n", points, loomrc);
    };
  };
  const FatalCase cases[] = {
      {"missing take", session("0\t_t1\n1\t_t3\n", kCrossfade),
       ">> Cannot find file called kick_t3.wav, exiting\n"},
      {"format mismatch",
       [&](const TempDir& dir) {
         session(kPoints, kCrossfade)(dir);
         WriteTake(dir, "snare_t2.wav", {.rate = 48000}, Noise(12000, 99));
       },
       ">> Samplerate mismatch among snare takes, exiting\n"},
      {"no data chunk",
       [&](const TempDir& dir) {
         session(kPoints, kCrossfade)(dir);
         WriteFile(dir.File("kick_t2.wav"),
                   MakeTake({.sample_rate = 1000,
                             .audio = Bytes(400),
                             .data_id = "junk"}));
       },
       ">> Can't find data block in wave file, exiting\n"},
      {"edit failed", session(kPoints, kCrossfade, {{"snare_t2.wav", 900}}),
       "Edit 2 failed.  The take ends before the edit point.\n"
       "Output files were not built\n"},
      {"zero byte in base.txt",
       [&](const TempDir& dir) {
         session(kPoints, kCrossfade)(dir);
         WriteFile(dir.File("base.txt"), std::string("kick\n\0snare\n", 12));
       },
       ">> base.txt is not plain text, exiting\n"},
      {"zero byte in loomrc.txt",
       session(kPoints, std::string("xf_all\t100\t1\n\0", 14)),
       ">> loomrc.txt is not plain text, exiting\n"},
      {"invalid crossfade entry", session(kPoints, "xf_tr\t0\t100\t1\n"),
       ">> Invalid crossfade entry in loomrc.txt, exiting\n"},
      {"invalid crossfade type", session(kPoints, "xf_all\t100\t9\n"),
       ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n"},
      {"unreadable loomrc.txt",
       [&](const TempDir& dir) {
         WriteSession(dir, {"kick"}, {"_t1", "_t2"});
         WriteJob(dir, "kick\n", kPoints, "");
         fs::create_directory(dir.File("loomrc.txt"));
       },
       ">> Cannot read loomrc.txt, exiting\n"},
      {"out of sequence", session("0\t_t1\n2\t_t2\n1\t_t1\n", kCrossfade),
       ">> Edit 3 is out of sequence, exiting\n"},
      {"invalid time", session("0\t_t1\ninf\t_t2\n", kCrossfade),
       ">> Edit 2 has an invalid time, exiting\n"},
      {"no take name", session("0\t_t1\n1", kCrossfade),
       ">> Edit 2 has no take name, exiting\n"},
      {"no edit points", session("\n\n", kCrossfade),
       ">> No edit points in points.txt, exiting\n"},
  };
  for (const FatalCase& c : cases) {
    TempDir dir;
    c.set_up(dir);
    const Snapshot before = SnapshotOf(dir.path());
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_TRUE(run.out.ends_with(c.last_message)) << c.name << ":\n"
                                                   << run.out;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

TEST(NothingLostTest, FinishedBuildsChangeNothingButTheirOutputs) {
  struct BuildCase {
    const char* name;
    std::string points;
    std::string loomrc;  // empty: no loomrc.txt, so the template is written
    std::map<std::string, int64_t> short_takes;
    std::vector<std::string> added;
  };
  const std::vector<std::string> outputs = {"+kick_bld.wav", "+snare_bld.wav"};
  const BuildCase cases[] = {
      {"crossfades", kPoints, kCrossfade, {}, outputs},
      {"lead-in, the same take twice, a take that runs out",
       "0.5\t_t1\n1\t_t1\n2\t_t2\n3\t_t2\n",
       "xf_all\t300\t4\n",
       {{"kick_t2.wav", 2500}, {"snare_t2.wav", 2500}},
       outputs},
      {"template written, hard cuts",
       kPoints,
       "",
       {},
       {"+kick_bld.wav", "+loomrc.txt", "+snare_bld.wav"}},
  };
  for (const BuildCase& c : cases) {
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"}, c.short_takes);
    WriteJob(dir, "kick\nsnare\n", c.points, c.loomrc);
    const Snapshot before = SnapshotOf(dir.path());

    const ToolRun first = RunTool(dir);
    EXPECT_EQ(first.status, 0) << c.name << ":\n" << first.out;
    EXPECT_TRUE(first.out.ends_with("\n\nDone\n\n")) << c.name;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), c.added) << c.name;

    // Building again over the outputs of the first run rewrites them to the
    // same bytes and touches nothing else.
    const Snapshot built = SnapshotOf(dir.path());
    EXPECT_EQ(RunTool(dir).status, 0) << c.name;
    EXPECT_EQ(Changes(built, SnapshotOf(dir.path())), Names{}) << c.name;
    // So does a run whose standard input and output are closed: no file it
    // opens takes their place.
    EXPECT_EQ(Capture(dir, "'" TAKELOOM_BINARY "' <&- >&-; echo $?"), "0\n");
    EXPECT_EQ(Changes(built, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

struct GuardCase {
  const char* name;
  std::function<void(const TempDir&)> set_up;
  std::vector<std::string> args;
  std::string message;  // after the banner
};

TEST(NothingLostTest, RefusesOutputsThatWouldOverwriteAnInput) {
  // A session whose base names are `bases`, with takes _t1 and _t2 for each,
  // so that a build that went ahead would really overwrite the input.
  const auto session = [](std::vector<std::string> bases,
                          std::string points = kPoints) {
    return [=](const TempDir& dir) {
      std::string base_txt;
      for (const std::string& base : bases) base_txt += base + "\n";
      WriteSession(dir, bases, {"_t1", "_t2"});
      WriteJob(dir, base_txt, points, kCrossfade);
    };
  };
  const auto plus = [](std::function<void(const TempDir&)> first,
                       std::function<void(const TempDir&)> then) {
    return [=](const TempDir& dir) {
      first(dir);
      then(dir);
    };
  };
  const std::string plan1 =
      "Planning to build 1 tracks using 3 edit points.\n\n";
  const std::string plan1b =
      "Planning to build 1 tracks using 2 edit points.\n\n";
  const std::string plan2 =
      "Planning to build 2 tracks using 3 edit points.\n\n";
  const GuardCase cases[] = {
      {"suffix names a take",
       session({"kick"}),
       {"_t1.wav"},
       plan1 +
           ">> Output file kick_t1.wav would overwrite an input, exiting\n"},
      {"take name equals the output's",
       plus(session({"kick"}, "0\t_bld\n1\t_t1\n2\t_t2\n"),
            [](const TempDir& dir) { WriteSession(dir, {"kick"}, {"_bld"}); }),
       {},
       plan1 +
           ">> Output file kick_bld.wav would overwrite an input, exiting\n"},
      {"output is a link to a take",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::create_symlink("kick_t2.wav", dir.File("kick_bld.wav"));
            }),
       {},
       plan1 +
           ">> Output file kick_bld.wav would overwrite an input, exiting\n"},
      {"output is a hard link to a take of another track",
       plus(session({"kick", "snare"}),
            [](const TempDir& dir) {
              fs::create_hard_link(dir.File("kick_t1.wav"),
                                   dir.File("snare_bld.wav"));
            }),
       {},
       plan2 +
           ">> Output file snare_bld.wav would overwrite an input, exiting\n"},
      {"output is points.txt",
       session({"kick", "points"}),
       {".txt"},
       plan2 + ">> Output file points.txt would overwrite an input, exiting\n"},
      {"output is base.txt",
       session({"base"}),
       {".txt"},
       plan1 + ">> Output file base.txt would overwrite an input, exiting\n"},
      {"output is loomrc.txt",
       session({"loomrc"}),
       {".txt"},
       plan1 + ">> Output file loomrc.txt would overwrite an input, exiting\n"},
      {"output is the temporary file",
       session({"xfade"}),
       {"_temp.wav"},
       plan1 +
           ">> Output file xfade_temp.wav would overwrite an input, exiting\n"},
      {"output named like a partial file",
       session({"kick"}),
       {"_bld.wav.partial"},
       plan1 + ">> Output file kick_bld.wav.partial would be taken for a "
               "partial file, exiting\n"},
      // Names are compared as paths, whether or not the file exists yet.
      {"output is the temporary file under another spelling",
       session({"./xfade"}),
       {"_temp.wav"},
       plan1 + ">> Output file ./xfade_temp.wav would overwrite an input, "
               "exiting\n"},
      {"a take is the temporary file",
       plus(
           session({"xfade"}, "0\t_t1\n1\t_temp\n2\t_t2\n"),
           [](const TempDir& dir) { WriteSession(dir, {"xfade"}, {"_temp"}); }),
       {},
       plan1 + ">> Take file xfade_temp.wav clashes with the temporary file, "
               "exiting\n"},
      {"a take is a link to a leftover temporary file",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::rename(dir.File("kick_t2.wav"), dir.File("xfade_temp.wav"));
              fs::create_symlink("xfade_temp.wav", dir.File("kick_t2.wav"));
            }),
       {},
       plan1 + ">> Take file kick_t2.wav clashes with the temporary file, "
               "exiting\n"},
      {"the temporary file is a hard link to loomrc.txt",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::create_hard_link(dir.File("loomrc.txt"),
                                   dir.File("xfade_temp.wav"));
            }),
       {},
       plan1 + ">> Input file loomrc.txt clashes with the temporary file, "
               "exiting\n"},
      // A run would remove or rename its own work files: no input, and no
      // output, may be one of them.
      {"a take named like an output's partial file",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::rename(dir.File("kick_t2.wav"),
                         dir.File("kick_bld.wav.partial"));
              WriteJob(dir, "kick\n", "0\t_t1.wav\n1\t_bld.wav.partial\n",
                       kCrossfade);
            }),
       {"--takes", "{track}{take}"},
       plan1b + ">> Take file kick_bld.wav.partial clashes with a file the "
                "run writes, exiting\n"},
      {"a take named like an output kept during the commit",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::rename(dir.File("kick_t2.wav"),
                         dir.File("kick_bld.wav.partial.old"));
              WriteJob(dir, "kick\n",
                       "0\t_t1.wav\n1\t_bld.wav.partial.old\n", kCrossfade);
            }),
       {"--takes", "{track}{take}"},
       plan1b + ">> Take file kick_bld.wav.partial.old clashes with a file "
                "the run writes, exiting\n"},
      {"output is the commit record",
       session({".takeloom"}),
       {"-commit"},
       plan1 + ">> Output file .takeloom-commit clashes with a file the run "
               "writes, exiting\n"},
  };
  for (const GuardCase& c : cases) {
    TempDir dir;
    c.set_up(dir);
    const Snapshot before = SnapshotOf(dir.path());
    const ToolRun run = RunTool(dir, c.args);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, kBanner + c.message) << c.name;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

struct WriteFailureCase {
  const char* name;
  std::function<void(const TempDir&)> obstruct;
  std::string failing;  // the file that cannot be written
  std::string points = kPoints;
  std::string loomrc = kCrossfade;
  uint64_t file_size_limit = 0;  // bytes, 0: none
};

// A run replaces all its outputs or none: whichever file it cannot write,
// the outputs of the run before stay exactly as they were, and neither a
// partial output nor the temporary file is left.
TEST(NothingLostTest, AFailedRunLeavesTheEarlierOutputsAsTheyWere) {
  const auto directory = [](std::string name) {
    return [=](const TempDir& dir) {
      fs::remove(dir.File(name));
      fs::create_directory(dir.File(name));
      WriteFile(dir.File(name + "/keep.txt"), "not ours");
    };
  };
  // The kick takes are 2000 frames (8044 bytes), the snare takes 3000
  // (12044 bytes); a crossfade at 1 s between segments of 1 s lasts 1000
  // frames, so its temporary file (4044 bytes) passes a limit of 3000 while
  // the output still holds only the 500 frames before the window.
  const std::string long_crossfade_points = "0\t_t1\n1\t_t2\n2\t_t2\n";
  const WriteFailureCase cases[] = {
      {"output is a directory", directory("kick_bld.wav"), "kick_bld.wav"},
      {"partial output is a directory", directory("kick_bld.wav.partial"),
       "kick_bld.wav"},
      {"temporary file is a directory", directory("xfade_temp.wav"),
       "xfade_temp.wav"},
      {"second output is a directory", directory("snare_bld.wav"),
       "snare_bld.wav"},
      {"file-size limit on the first output", nullptr, "kick_bld.wav", kPoints,
       kCrossfade, 6000},
      {"file-size limit on a later output", nullptr, "snare_bld.wav", kPoints,
       kCrossfade, 10000},
      {"file-size limit on the temporary file", nullptr, "xfade_temp.wav",
       long_crossfade_points, "xf_all\t2000\t2\n", 3000},
  };
  for (const WriteFailureCase& c : cases) {
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"},
                 {{"kick_t1.wav", 2000}, {"kick_t2.wav", 2000}});
    // The outputs of an earlier run, of other lists.
    WriteJob(dir, "kick\nsnare\n", "0\t_t2\n2\t_t2\n", kCrossfade);
    ASSERT_EQ(RunTool(dir).status, 0) << c.name;
    WriteJob(dir, "kick\nsnare\n", c.points, c.loomrc);
    if (c.obstruct) c.obstruct(dir);
    const Snapshot before = SnapshotOf(dir.path());

    ToolRun run;
    if (c.file_size_limit != 0) {
      // The tool itself must turn the limit into a failed write.
      const ScopedFileSizeLimit limit(c.file_size_limit, false);
      run = RunTool(dir);
    } else {
      run = RunTool(dir);
    }
    EXPECT_EQ(run.status, 1) << c.name << ":\n" << run.out;
    EXPECT_TRUE(
        run.out.ends_with(">> Cannot write file " + c.failing + ", exiting\n"))
        << c.name << ":\n"
        << run.out;
    // "edits: " only follows an output that could be created.
    EXPECT_EQ(run.out.find("edits: >>"), std::string::npos) << c.name;
    // Standard error gives the system's reason.
    EXPECT_NE(run.err.find("takeloom: " + c.failing + ": "), std::string::npos)
        << c.name << ": " << run.err;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

// A file system that fills up while outputs are written: the write fails
// with the system's reason, and the outputs before stay as they were.
TEST(NothingLostTest, AFullFileSystemLeavesTheOutputsAsTheyWere) {
  TempDir dir;
  if (::geteuid() != 0 ||
      Capture(dir, "mkdir small && mount -t tmpfs -o size=64k tmpfs small "
                   "&& echo ok") != "ok\n") {
    GTEST_SKIP() << "mounting a small file system needs root";
  }
  // Unmounted however the test ends, so that the directory can go.
  const std::string mount = dir.File("small");
  const std::unique_ptr<const std::string, void (*)(const std::string*)>
      unmount(&mount, [](const std::string* path) {
        ::umount2(path->c_str(), MNT_DETACH);
      });
  // The session lives on the small file system, in small/.
  const auto in_small = [&](const std::string& name) {
    return dir.File("small/" + name);
  };
  for (const std::string take : {"kick_t1.wav", "kick_t2.wav"}) {
    TakeParts parts;
    parts.sample_rate = 1000;
    parts.audio = Noise(4 * 3000, take.size() + take[6]);
    WriteFile(in_small(take), MakeTake(parts));
  }
  WriteFile(in_small("base.txt"), "kick\n");
  WriteFile(in_small("loomrc.txt"), kCrossfade);
  WriteFile(in_small("points.txt"), "0\t_t1\n1\t_t2\n2\t_t2\n");
  const std::string run_there =
      "cd small && '" TAKELOOM_BINARY "' >/dev/null 2>../err.txt; echo $?";
  ASSERT_EQ(Capture(dir, run_there), "0\n");
  // Filling the rest of the file system leaves no room for a new output.
  Capture(dir, "cat /dev/zero > small/filler 2>/dev/null; true");
  const Snapshot before = SnapshotOf(dir.path() / "small");
  EXPECT_EQ(Capture(dir, run_there), "1\n");
  EXPECT_EQ(ReadFile(dir.File("err.txt")),
            "takeloom: kick_bld.wav: No space left on device\n");
  EXPECT_EQ(Changes(before, SnapshotOf(dir.path() / "small")),
            std::vector<std::string>{});
}

// Names of outputs and of the temporary file that are links: the run
// replaces the link with its finished file and never writes what the link
// points to.
TEST(NothingLostTest, LinksNamedLikeOutputsAreReplacedNotFollowed) {
  TempDir elsewhere;
  const std::string outside = elsewhere.File("outside.wav");
  using SetUp = std::function<void(const TempDir&, const std::string&)>;
  const SetUp symlink = [&](const TempDir& dir, const std::string& name) {
    fs::create_symlink(outside, dir.File(name));
  };
  const SetUp hard_link = [&](const TempDir& dir, const std::string& name) {
    fs::create_hard_link(outside, dir.File(name));
  };
  const SetUp dangling = [](const TempDir& dir, const std::string& name) {
    fs::create_symlink("missing/x.wav", dir.File(name));
  };
  const SetUp to_output = [](const TempDir& dir, const std::string& name) {
    fs::create_symlink("snare_bld.wav", dir.File(name));
  };
  struct Case {
    const char* name;
    SetUp set_up;
    std::string link;
  };
  const Case cases[] = {
      {"output, symbolic link outside", symlink, "kick_bld.wav"},
      {"output, hard link outside", hard_link, "kick_bld.wav"},
      {"output, dangling link", dangling, "kick_bld.wav"},
      {"temporary file, symbolic link outside", symlink, "xfade_temp.wav"},
      {"temporary file, hard link outside", hard_link, "xfade_temp.wav"},
      {"temporary file, dangling link to an output", to_output,
       "xfade_temp.wav"},
  };
  // What the outputs hold when no link is in the way.
  TempDir plain;
  WriteSession(plain, {"kick", "snare"}, {"_t1", "_t2"});
  WriteJob(plain, "kick\nsnare\n", kPoints, kCrossfade);
  ASSERT_EQ(RunTool(plain).status, 0);
  const Snapshot expected = SnapshotOf(plain.path());
  for (const Case& c : cases) {
    WriteFile(outside, std::string(5000, 'o'));
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"});
    WriteJob(dir, "kick\nsnare\n", kPoints, kCrossfade);
    c.set_up(dir, c.link);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name << ":\n" << run.out;
    EXPECT_EQ(ReadFile(outside), std::string(5000, 'o')) << c.name;
    EXPECT_EQ(SnapshotOf(dir.path()), expected) << c.name;
  }
}


// One output named twice, through a linked directory: it is built once,
// the later track's build replacing the earlier one's as it would replace
// the file, and nothing of the earlier build stays behind.
TEST(NothingLostTest, AnOutputSpelledTwiceIsBuiltOnce) {
  TempDir dir;
  fs::create_directory(dir.File("d"));
  fs::create_directory_symlink("d", dir.File("link"));
  WriteSession(dir, {"snare", "d/kick"}, {"_t1", "_t2"});
  WriteJob(dir, "snare\nd/kick\nlink/kick\n", kPoints, kCrossfade);
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.out.ends_with("\n\nDone\n\n"));
  EXPECT_EQ(ListDir(dir.File("d")),
            (Names{"kick_bld.wav", "kick_t1.wav", "kick_t2.wav"}));
  EXPECT_EQ(fs::file_size(dir.File("d/kick_bld.wav")), 44u + 2500u * 4u);
  EXPECT_TRUE(fs::exists(dir.File("snare_bld.wav")));
}

// Outputs are put in place as one transaction. A rename that fails part way
// (strace makes the tool's own renames fail), or an output that cannot be
// replaced at all, leaves every output of the run before as it was.
TEST(NothingLostTest, AFailedCommitLeavesEveryOutputAsItWas) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  const std::vector<std::string> bases = {"kick", "snare", "tom", "hat"};
  struct Case {
    const char* name;
    std::string inject;  // a fault strace injects into the tool's renames
    const char* failing;
  };
  const Case cases[] = {
      {"EIO at the 2nd rename", "rename:error=EIO:when=2", "snare_bld.wav"},
      {"EPERM at the 4th rename", "rename:error=EPERM:when=4", "hat_bld.wav"},
      {"EACCES at the 3rd rename", "rename:error=EACCES:when=3", "tom_bld.wav"},
      // The first sync of the directory is the record's, the second the
      // renames': every output is new by then, and is put back.
      {"EIO at the directory's sync after the renames",
       "fsync:error=EIO:when=2", "kick_bld.wav"},
      {"the third output immutable", "", "tom_bld.wav"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteSession(dir, bases, {"_t1", "_t2"});
    WriteJob(dir, "kick\nsnare\ntom\nhat\n", "0\t_t2\n2\t_t2\n", kCrossfade);
    ASSERT_EQ(RunTool(dir).status, 0) << c.name;
    WriteJob(dir, "kick\nsnare\ntom\nhat\n", kPoints, kCrossfade);
    const std::string immutable = dir.File("tom_bld.wav");
    if (c.inject.empty() && Capture(dir, "chattr +i tom_bld.wav && echo ok") != "ok\n") {
      continue;  // the file system has no such flag
    }
    const Snapshot before = SnapshotOf(dir.path());
    const ToolRun run = RunTool(
        dir, {}, c.inject.empty() ? "" : "strace -f -o /dev/null -e inject=" + c.inject);
    if (c.inject.empty()) Capture(dir, "chattr -i tom_bld.wav");
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_TRUE(run.out.ends_with(std::string(">> Cannot write file ") +
                                      c.failing + ", exiting\n"))
        << c.name << ":\n" << run.out;
    EXPECT_TRUE(WithoutClipNotes(run.err).starts_with(std::string("takeloom: ") +
                                                       c.failing))
        << c.name << ": " << run.err;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

// An old output's link that cannot be removed after the renames: the run
// is done, names the file it left, and the next run removes it through the
// record it kept.
TEST(NothingLostTest, AnOldLinkLeftIsNamedAndRemovedNextRun) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"});
  WriteJob(dir, "kick\nsnare\n", "0\t_t2\n2\t_t2\n", kCrossfade);
  ASSERT_EQ(RunTool(dir).status, 0);
  WriteJob(dir, "kick\nsnare\n", kPoints, kCrossfade);
  // The first removal of the name clears what an earlier run left.
  const ToolRun run = RunTool(dir, {},
                              "strace -f -o /dev/null -P kick_bld.wav.partial.old "
                              "-e inject=unlink:error=EIO:when=2");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.out.ends_with("\n\nDone\n\n"));
  EXPECT_NE(run.err.find("takeloom: note: kick_bld.wav.partial.old was left: "
                         "Input/output error"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(dir.File(".takeloom-commit")));
  const Snapshot built = SnapshotOf(dir.path());
  ASSERT_EQ(RunTool(dir).status, 0);
  EXPECT_EQ(Changes(built, SnapshotOf(dir.path())),
            (Names{"-.takeloom-commit", "-kick_bld.wav.partial.old"}));
}

// A commit record another user planted in a folder all may write (to put
// their file in place of an output) is refused, and nothing changes.
TEST(NothingLostTest, ARecordOfAnotherUserIsRefused) {
  if (!Installed("setpriv") || geteuid() != 0) {
    GTEST_SKIP() << "needs setpriv and root";
  }
  TempDir dir;
  WriteSession(dir, {"kick"}, {"_t1", "_t2"});
  WriteJob(dir, "kick\n", kPoints, kCrossfade);
  ASSERT_EQ(RunTool(dir).status, 0);
  fs::permissions(dir.path(), fs::perms::all);
  const std::string other = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  Capture(dir, other + "sh -c 'echo theirs > kick_bld.wav.partial.old'");
  // Undoing as written would put their file in place of the output.
  WriteFile(dir.File("record"),
            CommitRecordText({{"kick_bld.wav.partial", "kick_bld.wav",
                               LookUp(dir.File("kick_bld.wav")).id,
                               LookUp(dir.File("kick_bld.wav.partial.old")).id}},
                             true));
  Capture(dir, other + "sh -c 'cat record > .takeloom-commit'");
  const Snapshot before = SnapshotOf(dir.path());
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         ">> .takeloom-commit was not written by this run's "
                         "user or names other files; remove it to go on, "
                         "exiting\n");
  EXPECT_NE(run.err.find("owned by another user"), std::string::npos) << run.err;
  EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{});
}

// A run killed between two renames leaves a commit record; the next run in
// the directory completes the renames first, says so, and only then goes
// on (here to fail for a missing take).
TEST(NothingLostTest, AKilledCommitIsCompletedByTheNextRun) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  const std::string bases = "kick\nsnare\ntom\nhat\n";
  TempDir clean, dir;
  for (const TempDir* d : {&clean, &dir}) {
    WriteSession(*d, {"kick", "snare", "tom", "hat"}, {"_t1", "_t2"});
    WriteJob(*d, bases, "0\t_t2\n2\t_t2\n", kCrossfade);
    ASSERT_EQ(RunTool(*d).status, 0);
    WriteJob(*d, bases, kPoints, kCrossfade);
  }
  ASSERT_EQ(RunTool(clean).status, 0);
  const ToolRun killed = RunTool(
      dir, {}, "strace -f -o /dev/null -e inject=rename:signal=SIGKILL:when=3");
  EXPECT_NE(killed.status, 0);
  fs::remove(dir.File("hat_t2.wav"));
  const ToolRun next = RunTool(dir);
  EXPECT_EQ(next.status, 1);
  EXPECT_TRUE(next.out.starts_with(
      std::string(kBanner) + "Completed an interrupted run: "))
      << next.out;
  EXPECT_TRUE(
      next.out.ends_with(">> Cannot find file called hat_t2.wav, exiting\n"));
  EXPECT_NE(next.err.find("takeloom: note: put in place tom_bld.wav\n"),
            std::string::npos)
      << next.err;
  Snapshot expected = SnapshotOf(clean.path());
  expected.erase("hat_t2.wav");
  EXPECT_EQ(Changes(expected, SnapshotOf(dir.path())), Names{});
}

// "Done" comes only once the renames are on the disk: the directory is
// synced after the last rename and before "Done" is written.
TEST(NothingLostTest, TheRenamesAreDurableBeforeDone) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  TempDir dir;
  WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"});
  WriteJob(dir, "kick\nsnare\n", kPoints, kCrossfade);
  const std::string trace = dir.path().string() + ".trace";
  ASSERT_EQ(RunTool(dir, {}, "strace -y -o " + trace +
                                 " -e trace=rename,fsync,write")
                .status,
            0);
  const std::string calls = ReadFile(trace);
  fs::remove(trace);
  const size_t last_rename = calls.rfind("rename(");
  const size_t sync = calls.find("fsync(", last_rename);
  const size_t done = calls.find("Done", last_rename);
  ASSERT_NE(last_rename, std::string::npos);
  ASSERT_NE(sync, std::string::npos);
  EXPECT_LT(sync, done);
  // The descriptor synced is the directory's.
  EXPECT_NE(calls.find(dir.path().string() + ">)", sync), std::string::npos);
}

// A take is checked each time it is opened for audio: one that is gone
// (strace fails its second open, the first for audio) or was cut short
// meanwhile (while a write of the output is held up) stops the run.
TEST(NothingLostTest, ATakeThatChangesDuringTheBuildStopsIt) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  struct Case {
    const char* name;
    std::string under;
    std::vector<std::string> changes;
  };
  const Case cases[] = {
      {"gone when opened for audio",
       "strace -f -o /dev/null -P kick_t2.wav "
       "-e inject=openat:error=ENOENT:when=2",
       {}},
      {"cut short during the build",
       "(sleep 0.5; truncate -s 1000 kick_t2.wav) & strace -f -o /dev/null "
       "-e inject=pwrite64:delay_exit=2000000:when=1",
       {"~kick_t2.wav"}},
      // A copy of the same length keeps the inode and the length: only the
      // times tell.
      {"overwritten by a copy of the same length",
       "(sleep 0.5; cp snare_t2.wav kick_t2.wav) & strace -f -o /dev/null "
       "-e inject=pwrite64:delay_exit=2000000:when=1",
       {"~kick_t2.wav"}},
      {"made anew under its name",
       "(sleep 0.5; rm kick_t2.wav; cp snare_t2.wav kick_t2.wav) & "
       "strace -f -o /dev/null -e inject=pwrite64:delay_exit=2000000:when=1",
       {"~kick_t2.wav"}},
      // Every read of the take is slowed; once the output is begun (the
      // take is opened right after), bytes are written into it.
      {"written into while it is read",
       "(until [ -e kick_bld.wav.partial ]; do sleep 0.01; done; sleep 0.2; "
       "printf xxxx | dd of=kick_t2.wav bs=1 seek=2000 conv=notrunc "
       "status=none) & strace -f -o /dev/null -P kick_t2.wav "
       "-e inject=pread64:delay_exit=500000",
       {"~kick_t2.wav"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"});
    WriteJob(dir, "kick\nsnare\n", "0\t_t2\n2\t_t2\n", kCrossfade);
    ASSERT_EQ(RunTool(dir).status, 0) << c.name;
    WriteJob(dir, "kick\nsnare\n", kPoints, kCrossfade);
    const Snapshot before = SnapshotOf(dir.path());
    const ToolRun run = RunTool(dir, {}, c.under);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_TRUE(run.out.ends_with(
        ">> Take kick_t2.wav changed or cannot be read, exiting\n"))
        << c.name << ":\n" << run.out;
    EXPECT_NE(run.err.find("takeloom: kick_t2.wav "), std::string::npos)
        << run.err;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), c.changes) << c.name;
  }
}

}  // namespace
}  // namespace takeloom::testing

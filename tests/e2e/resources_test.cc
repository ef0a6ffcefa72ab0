// Runs short of what the process may have, as a user's limits make them:
// descriptors, locks and memory. Each ends with its own message, exit
// status 1 and the directory as it was, never with a crash or a file of
// the run's left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "e2e/run_tool.h"
#include "testing/session.h"
#include "testing/snapshot.h"

namespace takeloom::testing {
namespace {

// An address-space limit cannot be set under AddressSanitizer, which
// reserves terabytes of it.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// A one-second take of noise.
void WriteSecond(const TempDir& dir, const std::string& path, uint32_t seed) {
  const AudioFormat f{.channels = 1, .rate = 1000, .bits = 16};
  WriteTake(dir, path, f, Noise(2000, seed));
}

// More files than the limit allows: a lock on each of 300 output folders,
// or the 40 takes a track opens while it is built (after its partial file
// exists). The run says how many it needs, and with that many it builds.
TEST(ResourcesTest, TooFewDescriptorsNameTheLimitToRaise) {
  struct Case {
    const char* name;
    int folders;  // tracks, each into its own folder
    int takes;    // distinct takes of each track
    int limit;
    int needed;  // 3 + 1 + folders + output + takes + temporary file + 4
  };
  const Case cases[] = {{"300 output folders", 300, 1, 256, 311},
                        {"40 takes of a track", 0, 40, 40, 50}};
  for (const Case& c : cases) {
    TempDir dir;
    std::string bases = c.folders > 0 ? "" : "kick\n";
    for (int d = 1; d <= c.folders; ++d) {
      std::filesystem::create_directory(dir.File("d" + std::to_string(d)));
      bases += "d" + std::to_string(d) + "/tr\n";
    }
    std::string points;
    for (int t = 1; t <= c.takes; ++t) {
      points += std::to_string(t * 0.02) + "\t_t" + std::to_string(t) + "\n";
    }
    points += "0.9\t_t1\n";  // where the tracks end
    std::istringstream names(bases);
    for (std::string base; std::getline(names, base);) {
      for (int t = 1; t <= c.takes; ++t) {
        WriteSecond(dir, base + "_t" + std::to_string(t) + ".wav", t);
      }
    }
    WriteJob(dir, bases, points, "xf_all\t4\t1\n");
    const Snapshot before = SnapshotOf(dir.path());

    const ToolRun run =
        RunTool(dir, {}, "ulimit -n " + std::to_string(c.limit) + ";");
    EXPECT_EQ(run.status, 1) << c.name;
    const std::string needed = std::to_string(c.needed);
    EXPECT_TRUE(run.out.ends_with(">> Too many open files: this run needs " +
                                  needed + ", raise ulimit -n, exiting\n"))
        << c.name << ":\n" << run.out;
    // Which file ran out depends on what the process inherited.
    const std::string err = WithoutClipNotes(run.err);
    EXPECT_TRUE(err.starts_with("takeloom: too many open files: "))
        << c.name << ": " << run.err;
    EXPECT_TRUE(err.ends_with(
        " could not be opened (Too many open files); this run needs " +
        needed + " at once (the standard streams, " +
        std::to_string(1 + c.folders) +
        " directory locks, an output, the temporary file, " +
        std::to_string(c.takes) + (c.takes == 1 ? " take" : " takes") +
        " per track and 4 to spare) and may open " + std::to_string(c.limit) +
        ": raise the limit with ulimit -n " + needed + "\n"))
        << c.name << ": " << run.err;
    EXPECT_EQ(run.out.find("Building to") != std::string::npos,
              c.folders == 0)
        << c.name;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;

    const ToolRun raised = RunTool(dir, {}, "ulimit -n " + needed + ";");
    EXPECT_EQ(raised.status, 0) << c.name << ": " << raised.err;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())).size(),
              static_cast<size_t>(c.folders > 0 ? c.folders : 1)) << c.name;
  }
}

// A directory the file system will not lock is not written into unguarded.
TEST(ResourcesTest, ALockRefusedEndsTheRun) {
  if (!Installed("strace")) GTEST_SKIP() << "strace is not installed";
  struct Case {
    const char* name;
    int when;  // which lock strace refuses
    std::string message;
  };
  const Case cases[] = {
      {"the working directory", 1,
       std::string(kBanner) +
           ">> Cannot lock the working directory, exiting\n"
           "takeloom: cannot lock .: No locks available\n"},
      {"an output folder", 2,
       BannerAndPlan(1, 2) +
           ">> Cannot lock directory out, exiting\n"
           "takeloom: cannot lock out: No locks available\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("out"));
    WriteSecond(dir, "out/kick_t1.wav", 1);
    WriteJob(dir, "out/kick\n", "0\t_t1\n0.5\t_t1\n", "xf_all\t4\t1\n");
    const Snapshot before = SnapshotOf(dir.path());
    const ToolRun run = RunTool(
        dir, {},
        "strace -f -o /dev/null -e inject=flock:error=ENOLCK:when=" +
            std::to_string(c.when));
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out + run.err, c.message) << c.name;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << c.name;
  }
}

// Memory limits from ample down to too little for the program to start:
// each run builds, or says it ran out and leaves nothing of its own, some
// of them after a partial output exists.
TEST(ResourcesTest, OutOfMemoryRemovesWhatTheRunWrote) {
  if (kAddressSanitizer) GTEST_SKIP() << "ulimit -v under AddressSanitizer";
  TempDir dir;
  const AudioFormat f{.channels = 2, .rate = 48000, .bits = 16};
  for (const char* take : {"kick_t1.wav", "kick_t2.wav", "snare_t1.wav",
                           "snare_t2.wav"}) {
    WriteTake(dir, take, f, Noise(static_cast<size_t>(3 * 48000 * 4), 5));
  }
  // The gain table of 1.3 s windows is allocated once a track is begun.
  WriteJob(dir, "kick\nsnare\n", "0\t_t1\n1\t_t2\n2\t_t1\n",
           "xf_all\t1300\t1\n");
  const Snapshot before = SnapshotOf(dir.path());
  const auto run_under = [&](int kib) {
    return RunTool(dir, {}, "ulimit -v " + std::to_string(kib) + ";");
  };
  // The least limit (in KiB) that builds, to within 64 KiB.
  int fails = 1024, builds = 1 << 20;
  ASSERT_EQ(run_under(builds).status, 0);
  while (builds - fails > 64) {
    const int middle = (fails + builds) / 2;
    (run_under(middle).status == 0 ? builds : fails) = middle;
  }
  int after_partial = 0;
  for (int kib = builds - 64; kib > 0; kib -= 64) {
    std::filesystem::remove(dir.File("kick_bld.wav"));
    std::filesystem::remove(dir.File("snare_bld.wav"));
    const ToolRun run = run_under(kib);
    if (!run.out.starts_with(kBanner)) break;  // it could not start
    if (run.status == 0) continue;
    EXPECT_EQ(run.status, 1) << kib << " KiB";
    EXPECT_TRUE(run.out.ends_with(">> Out of memory, exiting\n"))
        << kib << " KiB:\n" << run.out;
    EXPECT_EQ(Changes(before, SnapshotOf(dir.path())), Names{}) << kib;
    if (run.out.find("Building to") != std::string::npos) ++after_partial;
  }
  EXPECT_GT(after_partial, 0);
}

}  // namespace
}  // namespace takeloom::testing

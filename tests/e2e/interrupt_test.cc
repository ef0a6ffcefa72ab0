// Runs that are stopped part way, killed, or started twice in one
// directory: no name of an output ever shows a half-built file, the outputs
// of the run before keep their bytes, and nothing of the stopped run stays
// but, after a kill, its partial files, which the next run replaces.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"
#include "testing/snapshot.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;

// The tool running in a directory, its standard output read as it comes.
class Child {
 public:
  // `ignored`: a signal the tool starts with ignored, as under nohup.
  explicit Child(const TempDir& dir, int ignored = 0) {
    int fds[2];
    if (pipe(fds) != 0) ADD_FAILURE() << "pipe";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      if (chdir(dir.path().c_str()) != 0) _exit(127);
      if (ignored != 0) signal(ignored, SIG_IGN);
      execl(TAKELOOM_BINARY, TAKELOOM_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    if (pid_ > 0) Wait();
    close(out_);
  }

  // Reads what the tool printed until `done` holds for it, or until it
  // stops printing. Whether `done` held.
  bool ReadUntil(const std::function<bool(const std::string&)>& done) {
    while (!done(printed_)) {
      if (!ReadSome(-1)) return false;
    }
    return true;
  }

  // Reads for at most `ms` milliseconds; false once the output has ended.
  bool ReadSome(int ms) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return true;
    char block[4096];
    const ssize_t n = read(out_, block, sizeof block);
    if (n <= 0) return false;
    printed_.append(block, static_cast<size_t>(n));
    return true;
  }

  void Signal(int signal) const { kill(pid_, signal); }

  // The raw wait status, once the tool has ended.
  int Wait() {
    while (ReadSome(-1)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  const std::string& printed() const { return printed_; }
  int output() const { return out_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string printed_;
};

// Two tracks of two takes, two minutes each at 48 kHz, 24-bit stereo, cut
// at 30 s and 100 s with crossfades of 20 s; the last one is laid over the
// last 10 s of each track.
void WriteSession(const TempDir& dir) {
  uint32_t seed = 7;
  for (const char* base : {"kick", "snare"}) {
    for (const char* take : {"_t1", "_t2"}) {
      WriteTake(dir, std::string(base) + take + ".wav",
                {.channels = 2, .rate = 48000, .bits = 24},
                Noise(120 * 48000 * 6, seed++));
    }
  }
  WriteJob(dir, "kick\nsnare\n", "0\t_t1\n30\t_t2\n100\t_t1\n120\t_t1\n",
           "xf_all\t20000\t1\n");
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// FNV-1a over the bytes of the file at `path`, eight at a time, from `hash`.
uint64_t HashOf(const std::string& path, uint64_t hash) {
  std::string bytes = ReadFile(path);
  bytes.resize((bytes.size() + 7) / 8 * 8);
  for (size_t i = 0; i < bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    hash = (hash ^ word) * 1099511628211u;
  }
  return hash;
}

// A directory with the session and the outputs of a finished run, under the
// build tree, built by whichever test process comes first and then read by
// every other: each test runs in a process of its own, and a session built
// per process cost more than the tests themselves. Its name holds a hash of
// the tool, which decides the outputs, and of this program, which decides
// the takes and lists, so a rebuilt binary never meets an old session.
// Empty if the session could not be built.
fs::path FinishedSession() {
  const fs::path cache = TAKELOOM_TEST_CACHE;
  fs::create_directories(cache);
  char key[17];
  std::snprintf(key, sizeof key, "%016llx",
                static_cast<unsigned long long>(HashOf(
                    "/proc/self/exe",
                    HashOf(TAKELOOM_BINARY, 14695981039346656037u))));
  const fs::path ready = cache / ("interrupt-" + std::string(key));
  const int lock = open((cache / "interrupt.lock").c_str(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    ADD_FAILURE() << "cannot lock " << cache;
    return {};
  }
  if (!fs::exists(ready)) {
    for (const auto& entry : fs::directory_iterator(cache)) {
      if (entry.path().filename().string().starts_with("interrupt-")) {
        fs::remove_all(entry.path());  // built by older binaries
      }
    }
    TempDir building(cache);
    WriteSession(building);
    const ToolRun run = RunTool(building);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Done"));
    if (run.status == 0 && Contains(run.out, "Done")) {
      fs::rename(building.path(), ready);
    }
  }
  close(lock);
  return fs::exists(ready) ? ready : fs::path();
}

class InterruptTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { built_ = FinishedSession(); }

  // A fresh copy of the finished session.
  void SetUp() override {
    ASSERT_FALSE(built_.empty()) << "no finished session to copy";
    for (const auto& entry : fs::directory_iterator(built_)) {
      fs::copy(entry.path(), dir_.path() / entry.path().filename());
    }
  }

  static fs::path built_;
  TempDir dir_;
};

fs::path InterruptTest::built_;

// Waits until the last crossfade of the last track is being written: its
// edit has begun and the temporary file holds more than its header. False
// if the run ended first. Wakes on what the tool prints and on changes in
// the directory, rather than polling.
bool LastCrossfadeUnderWay(const TempDir& dir, Child& child) {
  const int changes = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (changes < 0 || inotify_add_watch(changes, dir.path().c_str(),
                                       IN_CREATE | IN_MODIFY) < 0) {
    ADD_FAILURE() << "cannot watch " << dir.path();
    return false;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool under_way = false;
  while (!under_way && std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (Contains(child.printed(), "Building to snare_bld.wav\nedits: 1 2 3 ") &&
        stat(dir.File("xfade_temp.wav").c_str(), &st) == 0 && st.st_size > 44) {
      under_way = true;
      continue;
    }
    pollfd wake[] = {{child.output(), POLLIN, 0}, {changes, POLLIN, 0}};
    if (poll(wake, 2, 1000) < 0) break;
    if (wake[0].revents != 0 && !child.ReadSome(0)) break;
    char events[4096];
    while (read(changes, events, sizeof events) > 0) {
    }
  }
  close(changes);
  return under_way;
}

TEST_F(InterruptTest, AStoppedRunLeavesEverythingAsItWas) {
  const Snapshot before = SnapshotOf(dir_.path());
  struct Moment {
    const char* name;
    std::function<bool(Child&)> wait;
  };
  const Moment moments[] = {
      {"during the first track",
       [](Child& c) {
         return c.ReadUntil([](const std::string& s) {
           return Contains(s, "Building to kick_bld.wav\nedits: 1 ");
         });
       }},
      {"between the tracks",
       [](Child& c) {
         return c.ReadUntil([](const std::string& s) {
           return Contains(s, "Building to kick_bld.wav\nedits: 1 2 3 4 ");
         });
       }},
      {"during the last crossfade",
       [this](Child& c) { return LastCrossfadeUnderWay(dir_, c); }},
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const Moment& m : moments) {
      const std::string label = std::string(m.name) + ", signal " +
                                std::to_string(signal);
      Child child(dir_);
      ASSERT_TRUE(m.wait(child)) << label << ": the run ended first:\n"
                                 << child.printed();
      child.Signal(signal);
      const int status = child.Wait();
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
          << label << ": status " << status << "\n"
          << child.printed();
      EXPECT_FALSE(Contains(child.printed(), "Done")) << label;
      EXPECT_EQ(Changes(before, SnapshotOf(dir_.path())), Names{}) << label;
    }
  }
}

// A signal that whoever started the run ignores (nohup ignores SIGHUP)
// stops nothing.
TEST_F(InterruptTest, AnIgnoredSignalStopsNothing) {
  const Snapshot before = SnapshotOf(dir_.path());
  Child child(dir_, SIGHUP);
  ASSERT_TRUE(child.ReadUntil([](const std::string& s) {
    return Contains(s, "Building to kick_bld.wav\nedits: 1 ");
  }));
  child.Signal(SIGHUP);
  const int status = child.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(Contains(child.printed(), "Done"));
  EXPECT_EQ(Changes(before, SnapshotOf(dir_.path())), Names{});
}

// Nobody reading the progress (a pipe closed early) stops nothing.
TEST_F(InterruptTest, AClosedPipeCostsNothing) {
  const Snapshot before = SnapshotOf(dir_.path());
  fs::remove(dir_.File("kick_bld.wav"));
  fs::remove(dir_.File("snare_bld.wav"));
  const std::string status = Capture(
      dir_, "{ '" + std::string(TAKELOOM_BINARY) +
                "'; echo \"status $?\" >&2; } 2>status.txt | head -c 1 "
                ">/dev/null; cat status.txt; rm status.txt");
  EXPECT_EQ(WithoutClipNotes(status), "status 0\n");
  EXPECT_EQ(Changes(before, SnapshotOf(dir_.path())), Names{});
}

TEST_F(InterruptTest, AKilledRunLeavesOnlyPartialFilesThatTheNextReplaces) {
  const Snapshot before = SnapshotOf(dir_.path());
  {
    Child child(dir_);
    ASSERT_TRUE(child.ReadUntil([](const std::string& s) {
      return Contains(s, "Building to snare_bld.wav\nedits: 1 ");
    }));
    child.Signal(SIGKILL);
    child.Wait();
  }
  Snapshot after = SnapshotOf(dir_.path());
  for (auto it = after.begin(); it != after.end();) {
    it = it->first.ends_with(".partial") ? after.erase(it) : std::next(it);
  }
  after.erase("xfade_temp.wav");  // the kill may come between its creation
                                  // and its removal
  EXPECT_EQ(Changes(before, after), Names{});

  const ToolRun rerun = RunTool(dir_);
  EXPECT_EQ(rerun.status, 0) << rerun.out;
  EXPECT_EQ(Changes(before, SnapshotOf(dir_.path())), Names{});
}

TEST_F(InterruptTest, OneRunPerDirectory) {
  const Snapshot before = SnapshotOf(dir_.path());
  const std::string busy =
      ">> Another takeloom run is using this directory, exiting\n";
  {
    // While another holds the directory, nothing is read or written.
    const int held = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    fs::remove(dir_.File("loomrc.txt"));
    const ToolRun refused = RunTool(dir_);
    // So is a run elsewhere whose outputs would go into the directory.
    TempDir other;
    WriteJob(other, dir_.File("kick") + "\n", ReadFile(dir_.File("points.txt")),
             ReadFile((built_ / "loomrc.txt").string()));
    const ToolRun elsewhere = RunTool(other);
    EXPECT_EQ(elsewhere.status, 1);
    EXPECT_EQ(elsewhere.out, BannerAndPlan(1, 4) + busy);
    close(held);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, kBanner + busy);
    EXPECT_FALSE(fs::exists(dir_.File("loomrc.txt")));  // no template
    fs::copy(built_ / "loomrc.txt", dir_.File("loomrc.txt"));
  }
  // Two runs started together: one builds, the other is refused.
  for (const char* outputs : {"kick_bld.wav", "snare_bld.wav"}) {
    fs::remove(dir_.File(outputs));
  }
  Child first(dir_);
  Child second(dir_);
  const int first_status = first.Wait();
  const int second_status = second.Wait();
  const bool first_built = Contains(first.printed(), "Done");
  EXPECT_NE(first_built, Contains(second.printed(), "Done"));
  const Child& refused = first_built ? second : first;
  EXPECT_EQ(refused.printed(), kBanner + busy);
  EXPECT_EQ(WEXITSTATUS(first_built ? second_status : first_status), 1);
  EXPECT_EQ(WEXITSTATUS(first_built ? first_status : second_status), 0);
  EXPECT_EQ(Changes(before, SnapshotOf(dir_.path())), Names{});
}

}  // namespace
}  // namespace takeloom::testing

// A build watched on a terminal, as a terminal emulator draws it: tmux
// holds an 80-column screen, already full so that every new line scrolls,
// and reads are slowed so that the progress is drawn many times while the
// line of edit numbers (61 of them) grows past the screen's width. What
// stays on the screen is what standard output printed, and nothing of the
// progress.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e/run_tool.h"
#include "testing/temp_dir.h"

namespace takeloom::testing {
namespace {

// `text` as a screen shows it: tabs as spaces up to the next multiple of
// 8 columns, with no spaces at line ends nor blank lines at the end.
std::string AsShown(const std::string& text) {
  std::string shown, line;
  for (const char c : text) {
    if (c == '\t') {
      line.append(8 - line.size() % 8, ' ');
    } else if (c != '\n') {
      line += c;
    } else {
      shown += line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
      line.clear();
    }
  }
  while (shown.ends_with("\n\n")) shown.pop_back();
  return shown;
}

// A tmux server of its own, holding one 80x24 pane, ended with the test.
struct Screen {
  Screen(const TempDir& dir, const std::string& name)
      : dir(dir), tmux("env -u TMUX tmux -f /dev/null -S " +
                       Quote(dir.File(name)) + " ") {}
  ~Screen() { std::system((tmux + "kill-server 2>/dev/null").c_str()); }

  // Runs `command` in the pane, after 40 lines that fill the screen; the
  // pane stays once it ends ("END" and the status printed last).
  void Run(const std::string& command) const {
    const std::string script = "stty -echoctl; trap : INT; seq 40; " +
                               command + "; echo END $?; sleep 60";
    Capture(dir, tmux + "new-session -d -x 80 -y 24 " + Quote(script));
  }

  // The screen and what scrolled off it, wrapped lines joined.
  std::string Text() const {
    return AsShown(Capture(dir, tmux + "capture-pane -p -J -S -"));
  }

  // Waits until the screen holds `part`; false after 30 s.
  bool WaitFor(const std::string& part) {
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
      const std::string text = Text();
      progress_seen = progress_seen || text.find("% ") != std::string::npos;
      if (text.find(part) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  const TempDir& dir;
  const std::string tmux;
  bool progress_seen = false;  // by a screen read while waiting
};

TEST(TerminalTest, TheScreenHoldsStandardOutputAndNoProgress) {
  if (!Installed("tmux") || !Installed("strace")) {
    GTEST_SKIP() << "tmux or strace is not installed";
  }
  TempDir session, work;
  Capture(session, Quote(TAKELOOM_MAKE_SESSION) +
                       " . --tracks 2 --takes 2 --seconds 20 --channels 1 "
                       "--edits 61 --crossfade-ms 20 --type 1");
  const Names inputs = ListDir(session);
  const std::string plain = RunTool(session).out;
  Capture(session, "rm *_bld.wav");
  const std::string seq = Capture(session, "seq 40");
  // (The leak checker of an instrumented build cannot run under a tracer.)
  const std::string slow = "cd " + Quote(session.path().string()) +
                           " && export ASAN_OPTIONS=detect_leaks=0"
                           " && strace -f -o /dev/null -e "
                           "inject=pread64:delay_enter=8ms " +
                           Quote(TAKELOOM_BINARY);

  Screen screen(work, "built");
  screen.Run(slow);
  ASSERT_TRUE(screen.WaitFor("END")) << screen.Text();
  EXPECT_TRUE(screen.progress_seen) << "no progress was ever drawn";
  EXPECT_EQ(screen.Text(), AsShown(seq + plain + "END 0\n"));
  Capture(session, "rm *_bld.wav");

  // Stopped with Ctrl-C, the run says so on a line of its own.
  Screen stopped(work, "stopped");
  stopped.Run(slow);
  ASSERT_TRUE(stopped.WaitFor("edits: 1 2 3 4 5 "));
  Capture(work, stopped.tmux + "send-keys C-c");
  ASSERT_TRUE(stopped.WaitFor("END"));
  const std::string text = stopped.Text();
  const std::string end = "\ntakeloom: stopped: every output is as it was\n"
                          "END 130\n";
  ASSERT_TRUE(text.ends_with(end)) << text;
  const std::string before = text.substr(0, text.size() - end.size());
  EXPECT_TRUE(AsShown(seq + plain).starts_with(before)) << text;
  EXPECT_EQ(ListDir(session), inputs);
}

}  // namespace
}  // namespace takeloom::testing

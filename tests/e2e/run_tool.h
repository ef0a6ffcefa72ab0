// Runs the real takeloom binary in a test's temporary directory and captures
// its standard output and exit status.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "testing/temp_dir.h"

namespace takeloom::testing {

struct ToolRun {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// `text` quoted for the shell.
std::string Quote(const std::string& text);

// Runs the tool in `dir` with `args`; `under` is a command that runs it
// (strace with a fault to inject, say), or empty, and may start other
// commands in `dir` before it ("(sleep 1; rm x) & strace ...").
ToolRun RunTool(const TempDir& dir, const std::vector<std::string>& args = {},
                const std::string& under = "");

// Runs the tool in `dir` without arguments, its standard output discarded;
// its exit status and peak resident memory in KiB.
std::pair<int, long> RunMeasured(const TempDir& dir);

// `count` bytes of the file at `path` from `offset`, for files too large to
// read whole; fails the test when the file holds fewer.
std::string ReadAt(const std::string& path, uint64_t offset, size_t count);

// Runs `command` through the shell in `dir` (standard error discarded) and
// returns its standard output; fails the test unless it exits 0.
std::string Capture(const TempDir& dir, const std::string& command);

// Whether `program` is on the PATH.
bool Installed(const char* program);

// An XFS file system that shares blocks between files, made in a sparse
// image of `size` bytes (as `truncate -s` reads it) in `image` and mounted
// over `point` while this lives, also when an assertion fails. Needs root,
// xfsprogs and loop devices; mounted() says whether it could be made.
class ScopedXfs {
 public:
  ScopedXfs(const TempDir& image, const TempDir& point,
            const std::string& size);
  ~ScopedXfs();
  ScopedXfs(const ScopedXfs&) = delete;
  ScopedXfs& operator=(const ScopedXfs&) = delete;

  bool mounted() const { return mounted_; }

 private:
  std::string point_;
  bool mounted_ = false;
};

// Writes kick_t1.wav and kick_t2.wav into `dir` with ffmpeg: 2 s of 24-bit
// stereo at 48 kHz, a tone of 220 or 330 Hz (inverted on the right), with
// `options` after the tone's input.
void WriteFfmpegTakes(const TempDir& dir, const std::string& options);

// `err` without the notes on crossfades that go beyond full scale, which
// the full-scale noise of most test takes gives: tests about other things
// read the rest.
std::string WithoutClipNotes(const std::string& err);

// Compares file bytes, naming the first differing byte instead of printing
// megabytes.
::testing::AssertionResult SameBytes(const std::string& actual,
                                     const std::string& expected);

using Names = std::vector<std::string>;

// The names in `dir`, sorted.
Names ListDir(const std::filesystem::path& dir);
inline Names ListDir(const TempDir& dir) { return ListDir(dir.path()); }

inline constexpr const char* kBanner = "\nTakeloom 2.00 by Quorvane\n\n";

// What every run that loads its lists prints first: the banner and the
// planning line.
inline std::string BannerAndPlan(int tracks, int edits) {
  return std::string(kBanner) + "Planning to build " + std::to_string(tracks) +
         " tracks using " + std::to_string(edits) + " edit points.\n\n";
}

// What a run prints after the planning line when it builds `outputs`, with
// the crossfade matrix's `matrix_rows` and, for each output, `progress` (by
// default that of three edit points).
inline std::string Built(const std::string& matrix_rows,
                         const std::vector<std::string>& outputs,
                         const std::string& progress = "1 2 3 ") {
  std::string out = "Crossfade Matrix:\ntrack\tlength\ttype\n" + matrix_rows;
  for (const std::string& output : outputs) {
    out += "\n\nBuilding to " + output + "\nedits: " + progress;
  }
  return out + "\n\nDone\n\n";
}

}  // namespace takeloom::testing

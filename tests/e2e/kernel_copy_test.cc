// Segments copied inside the kernel: the outputs hold the same bytes when
// the kernel refuses the copy and the tool reads and writes instead, and on
// a file system that shares blocks the outputs share their audio with the
// takes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/run_tool.h"

namespace takeloom::testing {
namespace {

const char* const kOutputs[] = {"kick_bld.wav", "snare_bld.wav"};

// Two tracks of two 3-second takes at 48 kHz with a lead-in and 20 ms
// crossfades, takes written as make_session `options` say.
void WriteSession(const TempDir& dir, const std::string& options) {
  Capture(dir, std::string(TAKELOOM_MAKE_SESSION) +
                   " . --tracks 2 --takes 2 --seconds 3 --edits 4"
                   " --crossfade-ms 20 " + options);
}

// Builds in `dir`, the tool run through `prefix`: what it prints, then the
// bytes of each output.
std::vector<std::string> Build(const TempDir& dir, const std::string& prefix) {
  std::vector<std::string> result = {Capture(dir, prefix + TAKELOOM_BINARY)};
  for (const char* name : kOutputs) result.push_back(ReadFile(dir.File(name)));
  return result;
}

// Takes laid out as the outputs are (audio at byte 44), recorder takes
// (audio at 4096) and float takes (outputs with 58-byte headers): with the
// kernel's copy missing or refused (as on file systems apart) the tool reads
// and writes, with the same outputs, asking the kernel once per output. In
// memory (tmpfs): on ext4 the tool reads and writes anyway.
TEST(KernelCopyTest, OutputsAreTheSameWhenTheKernelRefusesToCopy) {
  if (!Installed("strace") || !std::filesystem::is_directory("/dev/shm")) {
    GTEST_SKIP() << "needs strace and /dev/shm";
  }
  for (const std::string options : {"", "--recorder", "--float --bits 32"}) {
    TempDir dir("/dev/shm");
    WriteSession(dir, options);
    const std::vector<std::string> reference = Build(dir, "");
    for (const std::string error : {"ENOSYS", "EXDEV"}) {
      // The leak checker of sanitized builds cannot run under a tracer.
      EXPECT_TRUE(Build(dir, "ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 "
                             "strace -o trace.log -e trace=copy_file_range"
                             " -e inject=copy_file_range:error=" + error +
                                 " ") == reference)
          << options << " " << error;
      EXPECT_EQ(Capture(dir, "grep -c '= -1 " + error + "' trace.log"), "2\n")
          << options << " " << error;
    }
  }
}

// On XFS the outputs share the takes' blocks but for the blocks of their
// header and edits (the lead-in is a hole), and hold the bytes a build on
// any other disk holds.
TEST(KernelCopyTest, OutputsShareTheTakesBlocksOnXfs) {
  if (!Installed("filefrag")) {
    GTEST_SKIP() << "needs filefrag";
  }
  TempDir image, elsewhere, dir;
  const ScopedXfs xfs(image, dir, "400M");
  if (!xfs.mounted()) GTEST_SKIP() << "cannot mount an XFS image here";
  WriteSession(dir, "--seconds 8");
  WriteSession(elsewhere, "--seconds 8");
  EXPECT_TRUE(Build(dir, "") == Build(elsewhere, ""));
  for (const char* name : kOutputs) {
    // Blocks in extents filefrag does not mark shared.
    const int own = std::stoi(Capture(
        dir, std::string("filefrag -v ") + name +
                 " | awk -F: '/^ *[0-9]+:/ && $NF !~ /shared/ {n += $4}"
                 " END {print n + 0}'"));
    const auto blocks = std::filesystem::file_size(dir.File(name)) / 4096;
    EXPECT_GT(own, 0) << name;  // the header's block at least
    EXPECT_LE(own * 20u, blocks) << name << ": " << own << " of " << blocks;
  }
}

}  // namespace
}  // namespace takeloom::testing

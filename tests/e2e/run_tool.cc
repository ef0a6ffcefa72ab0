#include "e2e/run_tool.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace takeloom::testing {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

namespace {

// Runs `command` through the shell; its standard output and exit status.
ToolRun RunShell(const std::string& command) {
  ToolRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return run;
  }
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) {
    run.out.append(block, got);
  }
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

}  // namespace

ToolRun RunTool(const TempDir& dir, const std::vector<std::string>& args,
                const std::string& under) {
  // Standard output comes through a pipe and standard error goes to a file
  // outside the directory, so the directory holds only what the tool itself
  // leaves there, and a file size limit set by a test applies to the tool's
  // files alone.
  static int runs = 0;
  const std::string err_path =
      (std::filesystem::temp_directory_path() /
       ("takeloom-stderr-" + std::to_string(getpid()) + "-" +
        std::to_string(++runs)))
          .string();
  // The leak checker of an instrumented build cannot run under a tracer.
  const std::string no_leak_check =
      under.empty() ? ""
                    : "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}"
                      "detect_leaks=0\"; ";
  std::string command = "cd " + Quote(dir.path().string()) +
                        " || exit 127; " + no_leak_check + under + " " +
                        Quote(TAKELOOM_BINARY);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>" + Quote(err_path) + " < /dev/null";
  ToolRun run = RunShell(command);
  std::error_code ignored;
  if (std::filesystem::exists(err_path, ignored)) {
    run.err = ReadFile(err_path);
    std::filesystem::remove(err_path, ignored);
  }
  return run;
}

std::pair<int, long> RunMeasured(const TempDir& dir) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    execl(TAKELOOM_BINARY, TAKELOOM_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

std::string ReadAt(const std::string& path, uint64_t offset, size_t count) {
  std::string out(count, '\0');
  const int fd = open(path.c_str(), O_RDONLY);
  const ssize_t got = pread(fd, out.data(), count, static_cast<off_t>(offset));
  close(fd);
  EXPECT_EQ(got, static_cast<ssize_t>(count)) << path << " at " << offset;
  return out;
}

std::string Capture(const TempDir& dir, const std::string& command) {
  const ToolRun run = RunShell("cd " + Quote(dir.path().string()) + " && (" +
                               command + ") 2>/dev/null");
  EXPECT_EQ(run.status, 0) << command;
  return run.out;
}

bool Installed(const char* program) {
  return RunShell(std::string("command -v ") + program + " >/dev/null 2>&1")
             .status == 0;
}

ScopedXfs::ScopedXfs(const TempDir& image, const TempDir& point,
                     const std::string& size)
    : point_(point.path().string()) {
  if (geteuid() != 0 || !Installed("mkfs.xfs")) return;
  mounted_ = RunShell("cd " + Quote(image.path().string()) +
                      " && truncate -s " + size +
                      " i && mkfs.xfs -q -m reflink=1 i && mount -o loop i " +
                      Quote(point_) + " >/dev/null 2>&1")
                 .status == 0;
}

ScopedXfs::~ScopedXfs() {
  if (mounted_) RunShell("umount " + Quote(point_));
}

void WriteFfmpegTakes(const TempDir& dir, const std::string& options) {
  for (const char* take : {"_t1", "_t2"}) {
    const std::string tone = take[2] == '1' ? "220" : "330";
    Capture(dir, "ffmpeg -v error -f lavfi -i 'aevalsrc=sin(2*PI*" + tone +
                     "*t)|-sin(2*PI*" + tone + "*t):s=48000:d=2' " + options +
                     " -c:a pcm_s24le kick" + take + ".wav");
  }
}

::testing::AssertionResult SameBytes(const std::string& actual,
                                     const std::string& expected) {
  const auto diff = std::mismatch(actual.begin(), actual.end(),
                                  expected.begin(), expected.end());
  if (diff.first == actual.end() && diff.second == expected.end()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << actual.size() << " bytes, expected " << expected.size()
         << "; first difference at byte " << (diff.first - actual.begin());
}

Names ListDir(const std::filesystem::path& dir) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace takeloom::testing

std::string takeloom::testing::WithoutClipNotes(const std::string& err) {
  std::string kept;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("takeloom: note: ") ||
        line.find(": the crossfade goes beyond full scale in ") ==
            std::string::npos) {
      kept += line + "\n";
    }
  }
  return kept;
}

#include "e2e/run_tool.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace takeloom::testing {
namespace {

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

}  // namespace

ToolRun RunTool(const TempDir& dir, const std::vector<std::string>& args) {
  // Standard output goes to a file beside the directory, so the directory
  // holds only what the tool itself leaves there.
  const std::string capture = dir.path().string() + ".stdout";
  std::string command = "cd " + Quote(dir.path().string()) + " && " +
                        Quote(TAKELOOM_BINARY);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " > " + Quote(capture) + " 2>&1 < /dev/null";

  ToolRun run;
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadFile(capture);
  std::filesystem::remove(capture);
  return run;
}

std::vector<std::string> ListDir(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace takeloom::testing

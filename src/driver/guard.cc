#include "driver/guard.h"

#include <filesystem>
#include <unordered_set>
#include <vector>

#include "driver/commit.h"
#include "wav/track_writer.h"

namespace takeloom {
namespace {

namespace fs = std::filesystem;

// The name as a path: "./x" and "a/../x" are "x", whether or not it exists.
std::string Normal(const std::string& path) {
  return fs::path(path).lexically_normal().string();
}

bool SameFile(const std::string& a, const std::string& b) {
  if (Normal(a) == Normal(b)) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// A set of input files that answers "is this path one of them?" without
// comparing every pair: by name as a path, by canonical path (other
// spellings and symbolic links, for files that exist), and for files with
// several hard links by comparing with the inputs that have several too.
class FileSet {
 public:
  void Add(const std::string& path) {
    if (!names_.insert(Normal(path)).second) return;
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    if (ec) return;  // does not exist: only its name can clash
    canonical_.insert(canonical.string());
    if (fs::hard_link_count(path, ec) > 1 && !ec) linked_.push_back(path);
  }

  bool Contains(const std::string& path) const {
    if (names_.count(Normal(path)) != 0) return true;
    std::error_code ec;
    const fs::path canonical = fs::canonical(path, ec);
    if (ec) return false;
    if (canonical_.count(canonical.string()) != 0) return true;
    if (fs::hard_link_count(path, ec) <= 1 || ec) return false;
    for (const std::string& linked : linked_) {
      if (SameFile(path, linked)) return true;
    }
    return false;
  }

 private:
  std::unordered_set<std::string> names_;
  std::unordered_set<std::string> canonical_;
  std::vector<std::string> linked_;
};

}  // namespace

Error GuardInputs(const BuildState& state) {
  const std::string temp(kTempFileName);
  const std::vector<std::string> lists = {"base.txt", "points.txt",
                                          std::string(kParamsFileName)};
  std::vector<std::string> takes;
  std::unordered_set<std::string> seen;
  for (const std::vector<std::string>& paths : state.take_paths) {
    for (const std::string& path : paths) {
      if (seen.insert(path).second) takes.push_back(path);
    }
  }

  FileSet inputs;
  for (const std::string& path : lists) inputs.Add(path);
  for (const std::string& path : takes) inputs.Add(path);
  inputs.Add(temp);
  for (const std::string& output : state.output_names) {
    if (inputs.Contains(output)) return {Fault::kOutputIsInput, output};
    // An output is written under its name and ".partial" until it is
    // complete; one named like that could be another's unfinished file.
    const std::string normal = Normal(output);
    if (normal.ends_with(kPartialSuffix) ||
        normal.ends_with(std::string(kPartialSuffix) +
                         std::string(kBackupSuffix))) {
      return {Fault::kOutputIsPartial, output};
    }
  }

  // Only one temporary file: compared with each input directly, and by name
  // alone while it does not exist.
  std::error_code ec;
  const bool temp_exists = fs::exists(fs::symlink_status(temp, ec));
  const auto clashes = [&](const std::string& path) {
    return temp_exists ? SameFile(path, temp) : Normal(path) == Normal(temp);
  };
  for (const std::string& take : takes) {
    if (clashes(take)) return {Fault::kTakeIsTemporary, take};
  }
  for (const std::string& list : lists) {
    if (clashes(list)) return {Fault::kListIsTemporary, list};
  }
  return {};
}

}  // namespace takeloom

// What a directory holds, taken before and after a run, so that a test can
// say which names the run added, changed or removed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace takeloom::testing {

// For each name in a directory its kind and its bytes: a file's contents, a
// link's target, a subdirectory's own snapshot.
using Snapshot = std::map<std::string, std::string>;

Snapshot SnapshotOf(const std::filesystem::path& dir);

// The names of `before` that are gone ("-name") or changed ("~name") in
// `after`, then those new in `after` ("+name").
std::vector<std::string> Changes(const Snapshot& before, const Snapshot& after);

}  // namespace takeloom::testing

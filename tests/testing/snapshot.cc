#include "testing/snapshot.h"

#include "testing/temp_dir.h"

namespace takeloom::testing {

namespace fs = std::filesystem;

Snapshot SnapshotOf(const fs::path& dir) {
  Snapshot snapshot;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const fs::file_status status = fs::symlink_status(entry.path());
    if (fs::is_symlink(status)) {
      snapshot[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_directory(status)) {
      std::string listing = "directory:";
      for (const auto& [inner, content] : SnapshotOf(entry.path())) {
        listing += " " + inner + "=" + content;
      }
      snapshot[name] = listing;
    } else {
      std::string& content = snapshot[name] = "file ";
      AppendFile(entry.path().string(), content);
    }
  }
  return snapshot;
}

std::vector<std::string> Changes(const Snapshot& before,
                                 const Snapshot& after) {
  std::vector<std::string> changes;
  for (const auto& [name, content] : before) {
    const auto now = after.find(name);
    if (now == after.end()) {
      changes.push_back("-" + name);
    } else if (now->second != content) {
      changes.push_back("~" + name);
    }
  }
  for (const auto& [name, content] : after) {
    if (!before.count(name)) changes.push_back("+" + name);
  }
  return changes;
}

}  // namespace takeloom::testing

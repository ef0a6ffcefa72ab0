#include "os/dir_lock.h"

#include "os/identity.h"
#include "os/syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <utility>

namespace takeloom {

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) Sys().Close(fd_);
}

Error DirectoryLock::Acquire(const std::string& directory) {
  // A directory that cannot be opened for reading, or a file system without
  // locks, cannot hold the lock; the run then goes on unguarded rather than
  // refusing work it can do. Only a lock held elsewhere stops it.
  fd_ = Sys().Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd_ < 0) return {};
  int result = 0;
  do {
    result = Sys().Flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EWOULDBLOCK) {
    return {Fault::kDirectoryBusy, directory, 0,
            "another run holds the lock on the directory " + directory};
  }
  return {};
}

Error LockOutputDirectories(
    const std::vector<std::string>& outputs,
    std::vector<std::unique_ptr<DirectoryLock>>* locks) {
  // A lock is per open directory, so one directory opened twice under two
  // spellings would lock itself out: each is locked once, by its identity.
  std::set<std::pair<uint64_t, uint64_t>> locked;
  if (const NameLookup here = LookUpFollowing("."); here.found()) {
    locked.insert({here.id.device, here.id.inode});
  }
  for (const std::string& output : outputs) {
    const std::string directory =
        std::filesystem::path(output).parent_path().string();
    if (directory.empty()) continue;
    const NameLookup found = LookUpFollowing(directory);
    if (!found.found() || !locked.insert({found.id.device, found.id.inode}).second) {
      continue;
    }
    locks->push_back(std::make_unique<DirectoryLock>());
    if (Error err = locks->back()->Acquire(directory); !err.ok()) return err;
  }
  return {};
}

}  // namespace takeloom

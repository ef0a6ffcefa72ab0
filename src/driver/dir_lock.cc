#include "driver/dir_lock.h"

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
  if (fd_ >= 0) ::close(fd_);
}

Error DirectoryLock::Acquire(const std::string& directory) {
  // A directory that cannot be opened for reading, or a file system without
  // locks, cannot hold the lock; the run then goes on unguarded rather than
  // refusing work it can do. Only a lock held elsewhere stops it.
  fd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return {};
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
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
  std::set<std::pair<dev_t, ino_t>> locked;
  struct stat st {};
  if (::stat(".", &st) == 0) locked.insert({st.st_dev, st.st_ino});
  for (const std::string& output : outputs) {
    const std::string directory =
        std::filesystem::path(output).parent_path().string();
    if (directory.empty() || ::stat(directory.c_str(), &st) != 0 ||
        !locked.insert({st.st_dev, st.st_ino}).second) {
      continue;
    }
    locks->push_back(std::make_unique<DirectoryLock>());
    if (Error err = locks->back()->Acquire(directory); !err.ok()) return err;
  }
  return {};
}

}  // namespace takeloom

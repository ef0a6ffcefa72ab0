#include "os/dir_lock.h"

#include "os/identity.h"
#include "os/process.h"
#include "os/syscalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

namespace takeloom {

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) Sys().Close(fd_);
}

Error DirectoryLock::Acquire(const std::string& directory) {
  // A run that could not take its lock would write, rename and remove files
  // beside another run unguarded: whatever stops it from locking stops it.
  fd_ = Sys().Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd_ < 0) {
    const int reason = errno;
    if (OutOfDescriptors(reason)) return TooManyOpenFiles(directory, reason);
    return {Fault::kCannotLock, directory, 0,
            "cannot open " + directory + " to lock it: " +
                std::strerror(reason)};
  }
  int result = 0;
  do {
    result = Sys().Flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return {};
  if (errno == EWOULDBLOCK) {
    return {Fault::kDirectoryBusy, directory, 0,
            "another run holds the lock on the directory " + directory};
  }
  return {Fault::kCannotLock, directory, 0,
          "cannot lock " + directory + ": " + std::strerror(errno)};
}

std::vector<std::string> OutputDirectories(
    const std::vector<std::string>& outputs) {
  // A lock is per open directory, so one directory opened twice under two
  // spellings would lock itself out: each is named once, by its identity.
  std::set<std::pair<uint64_t, uint64_t>> seen;
  if (const NameLookup here = LookUpFollowing("."); here.found()) {
    seen.insert({here.id.device, here.id.inode});
  }
  std::vector<std::string> directories;
  for (const std::string& output : outputs) {
    std::string directory =
        std::filesystem::path(output).parent_path().string();
    if (directory.empty()) continue;
    // A folder that is not there holds no file to guard; creating the
    // output in it fails, with its own message.
    const NameLookup found = LookUpFollowing(directory);
    if (found.found() && seen.insert({found.id.device, found.id.inode}).second) {
      directories.push_back(std::move(directory));
    }
  }
  return directories;
}

Error LockOutputDirectories(
    const std::vector<std::string>& outputs,
    std::vector<std::unique_ptr<DirectoryLock>>* locks) {
  for (const std::string& directory : OutputDirectories(outputs)) {
    locks->push_back(std::make_unique<DirectoryLock>());
    if (Error err = locks->back()->Acquire(directory); !err.ok()) return err;
  }
  return {};
}

}  // namespace takeloom

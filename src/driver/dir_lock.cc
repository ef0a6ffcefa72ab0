#include "driver/dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace takeloom {

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);
}

Error DirectoryLock::Acquire() {
  // A directory that cannot be opened for reading, or a file system without
  // locks, cannot hold the lock; the run then goes on unguarded rather than
  // refusing work it can do. Only a lock held elsewhere stops it.
  fd_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return {};
  int result = 0;
  do {
    result = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno == EWOULDBLOCK) return {Fault::kDirectoryBusy, "."};
  return {};
}

}  // namespace takeloom

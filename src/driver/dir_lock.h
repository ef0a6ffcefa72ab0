// One run per working directory: an exclusive advisory lock on the
// directory itself, held for the life of the run, so that two runs never
// write and remove each other's outputs and temporary file.
#pragma once

#include "error.h"

namespace takeloom {

class DirectoryLock {
 public:
  DirectoryLock() = default;
  // Releases the lock.
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Locks the working directory without waiting: kDirectoryBusy when
  // another run holds it.
  Error Acquire();

 private:
  int fd_ = -1;
};

}  // namespace takeloom

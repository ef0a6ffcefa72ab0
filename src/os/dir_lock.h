// One run per directory: an exclusive advisory lock on the working
// directory, and on every other directory the run writes outputs into,
// held for the life of the run, so that two runs never write, rename and
// remove each other's outputs and temporary file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "error.h"

namespace takeloom {

class DirectoryLock {
 public:
  DirectoryLock() = default;
  // Releases the lock.
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Locks `directory` without waiting: kDirectoryBusy when another run
  // holds it, kTooManyOpenFiles when no descriptor is left to hold it, and
  // kCannotLock, with the system's reason, when it cannot be opened or the
  // file system refuses the lock.
  Error Acquire(const std::string& directory = ".");

 private:
  int fd_ = -1;
};

// The directories of `outputs` other than the working directory, each once
// however it is spelled; folders that do not exist are left out.
std::vector<std::string> OutputDirectories(
    const std::vector<std::string>& outputs);

// Locks the directory of every output named with a folder, each once
// however it is spelled, besides the working directory (locked already).
Error LockOutputDirectories(
    const std::vector<std::string>& outputs,
    std::vector<std::unique_ptr<DirectoryLock>>* locks);

}  // namespace takeloom

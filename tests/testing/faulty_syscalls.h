// A system-call table for tests that fails a chosen call, or stops the
// world after a number of calls, so that code above it can be driven down
// each error path and through each point a crash could come at.
#pragma once

#include <string>

#include "os/syscalls.h"

namespace takeloom::testing {

// The kinds of call a FaultySyscalls counts; every one that can fail.
enum class Call {
  kAny, kOpen, kClose, kPread, kPwrite, kFstat, kLstat, kStat, kFstatfs,
  kRename, kLink, kUnlink, kFsync, kFdatasync, kFchmod, kFtruncate, kFlock,
  kIoctl, kAccess, kCopyFileRange, kSyncFileRange,
};

const char* NameOf(Call call);

class FaultySyscalls : public Syscalls {
 public:
  // Fails the `nth` call (from 1) of kind `call` with `error`, once.
  static FaultySyscalls Failing(Call call, int nth, int error);
  // Lets `calls` calls through; every later one fails with EIO and does
  // nothing, which leaves the disk as a crash at that point would.
  static FaultySyscalls StoppingAfter(int calls);

  // The calls made so far, and the one failed first ("" if none).
  int calls() const { return calls_; }
  const std::string& failed() const { return failed_; }

  int Open(const char* path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) override;
  ssize_t Pwrite(int fd, const void* buffer, size_t count,
                 off_t offset) override;
  int Fstat(int fd, struct stat* st) override;
  int Lstat(const char* path, struct stat* st) override;
  int Stat(const char* path, struct stat* st) override;
  int Fstatfs(int fd, struct statfs* st) override;
  int Rename(const char* from, const char* to) override;
  int Link(const char* from, const char* to) override;
  int Unlink(const char* path) override;
  int Fsync(int fd) override;
  int Fdatasync(int fd) override;
  int Fchmod(int fd, mode_t mode) override;
  int Ftruncate(int fd, off_t length) override;
  int Flock(int fd, int operation) override;
  int Ioctl(int fd, unsigned long request, void* argument) override;
  int Access(const char* path, int mode) override;
  ssize_t CopyFileRange(int in, off_t* in_offset, int out, off_t* out_offset,
                        size_t count) override;
  int SyncFileRange(int fd, off_t offset, off_t count) override;

 private:
  // Counts a call of `kind`; true (with errno set) when it is to fail.
  bool Fails(Call kind, const std::string& what);

  Call call_ = Call::kAny;
  int nth_ = 0;         // of `call_`, from 1; 0: none
  int error_ = 0;
  int stop_after_ = -1; // -1: never
  int calls_ = 0;
  int seen_ = 0;        // calls of `call_`
  std::string failed_;
};

}  // namespace takeloom::testing

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

// Each call but close: counted, and failed (doing nothing) or passed on.
#define TAKELOOM_FAULTY(type, name, kind, what, params, args) \
  type name params override {                               \
    if (Fails(Call::kind, #name, what)) return -1;          \
    return Syscalls::name args;                             \
  }
  TAKELOOM_FAULTY(int, Open, kOpen, path,
                  (const char* path, int flags, mode_t mode),
                  (path, flags, mode))
  TAKELOOM_FAULTY(ssize_t, Pread, kPread, "",
                  (int fd, void* buffer, size_t count, off_t offset),
                  (fd, buffer, count, offset))
  TAKELOOM_FAULTY(ssize_t, Pwrite, kPwrite, "",
                  (int fd, const void* buffer, size_t count, off_t offset),
                  (fd, buffer, count, offset))
  TAKELOOM_FAULTY(int, Fstat, kFstat, "", (int fd, struct stat* st), (fd, st))
  TAKELOOM_FAULTY(int, Lstat, kLstat, path, (const char* path, struct stat* st),
                  (path, st))
  TAKELOOM_FAULTY(int, Stat, kStat, path, (const char* path, struct stat* st),
                  (path, st))
  TAKELOOM_FAULTY(int, Fstatfs, kFstatfs, "", (int fd, struct statfs* st),
                  (fd, st))
  TAKELOOM_FAULTY(int, Rename, kRename, from,
                  (const char* from, const char* to), (from, to))
  TAKELOOM_FAULTY(int, Link, kLink, from, (const char* from, const char* to),
                  (from, to))
  TAKELOOM_FAULTY(int, Unlink, kUnlink, path, (const char* path), (path))
  TAKELOOM_FAULTY(int, Fsync, kFsync, "", (int fd), (fd))
  TAKELOOM_FAULTY(int, Fdatasync, kFdatasync, "", (int fd), (fd))
  TAKELOOM_FAULTY(int, Fchmod, kFchmod, "", (int fd, mode_t mode), (fd, mode))
  TAKELOOM_FAULTY(int, Ftruncate, kFtruncate, "", (int fd, off_t length),
                  (fd, length))
  TAKELOOM_FAULTY(int, Flock, kFlock, "", (int fd, int operation),
                  (fd, operation))
  TAKELOOM_FAULTY(int, Ioctl, kIoctl, "",
                  (int fd, unsigned long request, void* argument),
                  (fd, request, argument))
  TAKELOOM_FAULTY(int, Access, kAccess, path, (const char* path, int mode),
                  (path, mode))
  TAKELOOM_FAULTY(ssize_t, CopyFileRange, kCopyFileRange, "",
                  (int in, off_t* in_offset, int out, off_t* out_offset,
                   size_t count),
                  (in, in_offset, out, out_offset, count))
  TAKELOOM_FAULTY(int, SyncFileRange, kSyncFileRange, "",
                  (int fd, off_t offset, off_t count), (fd, offset, count))
#undef TAKELOOM_FAULTY
  int Close(int fd) override;

 private:
  // Counts a call of `kind`; true (with errno set) when it is to fail.
  bool Fails(Call kind, const char* name, const std::string& what);

  Call call_ = Call::kAny;
  int nth_ = 0;         // of `call_`, from 1; 0: none
  int error_ = 0;
  int stop_after_ = -1; // -1: never
  int calls_ = 0;
  int seen_ = 0;        // calls of `call_`
  std::string failed_;
};

}  // namespace takeloom::testing

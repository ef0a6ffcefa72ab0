#include "testing/faulty_syscalls.h"

#include <cerrno>

namespace takeloom::testing {

const char* NameOf(Call call) {
  static const char* const kNames[] = {
      "any", "open", "close", "pread", "pwrite", "fstat", "lstat", "stat",
      "fstatfs", "rename", "link", "unlink", "fsync", "fdatasync", "fchmod",
      "ftruncate", "flock", "ioctl", "access", "copy_file_range",
      "sync_file_range"};
  return kNames[static_cast<int>(call)];
}

FaultySyscalls FaultySyscalls::Failing(Call call, int nth, int error) {
  FaultySyscalls faulty;
  faulty.call_ = call;
  faulty.nth_ = nth;
  faulty.error_ = error;
  return faulty;
}

FaultySyscalls FaultySyscalls::StoppingAfter(int calls) {
  FaultySyscalls faulty;
  faulty.stop_after_ = calls;
  return faulty;
}

bool FaultySyscalls::Fails(Call kind, const std::string& what) {
  ++calls_;
  bool fail = false;
  int error = error_;
  if (stop_after_ >= 0 && calls_ > stop_after_) {
    fail = true;
    error = EIO;
  } else if (nth_ > 0 && (call_ == Call::kAny || call_ == kind) &&
             ++seen_ == nth_) {
    fail = true;
  }
  if (!fail) return false;
  if (failed_.empty()) failed_ = std::string(NameOf(kind)) + " " + what;
  errno = error;
  return true;
}

#define TAKELOOM_FAULTY(kind, what, fallback, call) \
  if (Fails(Call::kind, what)) return fallback;    \
  return Syscalls::call

int FaultySyscalls::Open(const char* path, int flags, mode_t mode) {
  TAKELOOM_FAULTY(kOpen, path, -1, Open(path, flags, mode));
}
int FaultySyscalls::Close(int fd) {
  // Linux releases the descriptor even when close fails, as a crash would.
  if (Fails(Call::kClose, "")) {
    const int error = errno;
    Syscalls::Close(fd);
    errno = error;
    return -1;
  }
  return Syscalls::Close(fd);
}
ssize_t FaultySyscalls::Pread(int fd, void* buffer, size_t count,
                              off_t offset) {
  TAKELOOM_FAULTY(kPread, "", -1, Pread(fd, buffer, count, offset));
}
ssize_t FaultySyscalls::Pwrite(int fd, const void* buffer, size_t count,
                               off_t offset) {
  TAKELOOM_FAULTY(kPwrite, "", -1, Pwrite(fd, buffer, count, offset));
}
int FaultySyscalls::Fstat(int fd, struct stat* st) {
  TAKELOOM_FAULTY(kFstat, "", -1, Fstat(fd, st));
}
int FaultySyscalls::Lstat(const char* path, struct stat* st) {
  TAKELOOM_FAULTY(kLstat, path, -1, Lstat(path, st));
}
int FaultySyscalls::Stat(const char* path, struct stat* st) {
  TAKELOOM_FAULTY(kStat, path, -1, Stat(path, st));
}
int FaultySyscalls::Fstatfs(int fd, struct statfs* st) {
  TAKELOOM_FAULTY(kFstatfs, "", -1, Fstatfs(fd, st));
}
int FaultySyscalls::Rename(const char* from, const char* to) {
  TAKELOOM_FAULTY(kRename, from, -1, Rename(from, to));
}
int FaultySyscalls::Link(const char* from, const char* to) {
  TAKELOOM_FAULTY(kLink, from, -1, Link(from, to));
}
int FaultySyscalls::Unlink(const char* path) {
  TAKELOOM_FAULTY(kUnlink, path, -1, Unlink(path));
}
int FaultySyscalls::Fsync(int fd) {
  TAKELOOM_FAULTY(kFsync, "", -1, Fsync(fd));
}
int FaultySyscalls::Fdatasync(int fd) {
  TAKELOOM_FAULTY(kFdatasync, "", -1, Fdatasync(fd));
}
int FaultySyscalls::Fchmod(int fd, mode_t mode) {
  TAKELOOM_FAULTY(kFchmod, "", -1, Fchmod(fd, mode));
}
int FaultySyscalls::Ftruncate(int fd, off_t length) {
  TAKELOOM_FAULTY(kFtruncate, "", -1, Ftruncate(fd, length));
}
int FaultySyscalls::Flock(int fd, int operation) {
  TAKELOOM_FAULTY(kFlock, "", -1, Flock(fd, operation));
}
int FaultySyscalls::Ioctl(int fd, unsigned long request, void* argument) {
  TAKELOOM_FAULTY(kIoctl, "", -1, Ioctl(fd, request, argument));
}
int FaultySyscalls::Access(const char* path, int mode) {
  TAKELOOM_FAULTY(kAccess, path, -1, Access(path, mode));
}
ssize_t FaultySyscalls::CopyFileRange(int in, off_t* in_offset, int out,
                                      off_t* out_offset, size_t count) {
  TAKELOOM_FAULTY(kCopyFileRange, "", -1,
                  CopyFileRange(in, in_offset, out, out_offset, count));
}
int FaultySyscalls::SyncFileRange(int fd, off_t offset, off_t count) {
  TAKELOOM_FAULTY(kSyncFileRange, "", -1, SyncFileRange(fd, offset, count));
}

#undef TAKELOOM_FAULTY

}  // namespace takeloom::testing

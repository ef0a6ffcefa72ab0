// The one door to the operating system: every system call of the tool goes
// through the table Sys() returns, so that a test can put another in its
// place to fail a chosen call, or to stop the process's view of the world
// after a number of calls, and see what the code above makes of it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct rlimit;
struct statfs;

namespace takeloom {

// Each call has the meaning, the result and the errno of the system call it
// is named after.
class Syscalls {
 public:
  virtual ~Syscalls() = default;

  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual ssize_t Pread(int fd, void* buffer, size_t count, off_t offset);
  virtual ssize_t Pwrite(int fd, const void* buffer, size_t count,
                         off_t offset);
  virtual int Fstat(int fd, struct stat* st);
  virtual int Lstat(const char* path, struct stat* st);
  virtual int Stat(const char* path, struct stat* st);
  virtual int Fstatfs(int fd, struct statfs* st);
  virtual int Rename(const char* from, const char* to);
  virtual int Link(const char* from, const char* to);
  virtual int Unlink(const char* path);
  virtual int Fsync(int fd);
  virtual int Fdatasync(int fd);
  virtual int Fchmod(int fd, mode_t mode);
  virtual int Ftruncate(int fd, off_t length);
  virtual int Flock(int fd, int operation);
  virtual int Ioctl(int fd, unsigned long request, void* argument);
  virtual int Access(const char* path, int mode);
  virtual ssize_t CopyFileRange(int in, off_t* in_offset, int out,
                                off_t* out_offset, size_t count);
  virtual int SyncFileRange(int fd, off_t offset, off_t count);
  virtual int Isatty(int fd);
  virtual uid_t Geteuid();
  virtual int Getrlimit(int resource, struct rlimit* limit);
};

// The table in force: the real system unless a test installed another.
Syscalls& Sys();

// Puts `calls` in force for its own lifetime (tests only).
class ScopedSyscalls {
 public:
  explicit ScopedSyscalls(Syscalls* calls);
  ~ScopedSyscalls();
  ScopedSyscalls(const ScopedSyscalls&) = delete;
  ScopedSyscalls& operator=(const ScopedSyscalls&) = delete;

 private:
  Syscalls* previous_;
};

}  // namespace takeloom

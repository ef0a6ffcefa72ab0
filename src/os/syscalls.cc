#include "os/syscalls.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>

namespace takeloom {
namespace {

Syscalls* installed = nullptr;

}  // namespace

int Syscalls::Open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
int Syscalls::Close(int fd) { return ::close(fd); }
ssize_t Syscalls::Pread(int fd, void* buffer, size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t Syscalls::Pwrite(int fd, const void* buffer, size_t count,
                         off_t offset) {
  return ::pwrite(fd, buffer, count, offset);
}
int Syscalls::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int Syscalls::Lstat(const char* path, struct stat* st) {
  return ::lstat(path, st);
}
int Syscalls::Stat(const char* path, struct stat* st) {
  return ::stat(path, st);
}
int Syscalls::Fstatfs(int fd, struct statfs* st) { return ::fstatfs(fd, st); }
int Syscalls::Rename(const char* from, const char* to) {
  return ::rename(from, to);
}
int Syscalls::Link(const char* from, const char* to) {
  return ::link(from, to);
}
int Syscalls::Unlink(const char* path) { return ::unlink(path); }
int Syscalls::Fsync(int fd) { return ::fsync(fd); }
int Syscalls::Fdatasync(int fd) { return ::fdatasync(fd); }
int Syscalls::Fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int Syscalls::Ftruncate(int fd, off_t length) {
  return ::ftruncate(fd, length);
}
int Syscalls::Flock(int fd, int operation) { return ::flock(fd, operation); }
int Syscalls::Ioctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}
int Syscalls::Access(const char* path, int mode) {
  return ::access(path, mode);
}
ssize_t Syscalls::CopyFileRange(int in, off_t* in_offset, int out,
                                off_t* out_offset, size_t count) {
  return ::copy_file_range(in, in_offset, out, out_offset, count, 0);
}
int Syscalls::SyncFileRange(int fd, off_t offset, off_t count) {
  return ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}
int Syscalls::Isatty(int fd) { return ::isatty(fd); }
uid_t Syscalls::Geteuid() { return ::geteuid(); }
int Syscalls::Getrlimit(int resource, struct rlimit* limit) {
  return ::getrlimit(resource, limit);
}

Syscalls& Sys() {
  static Syscalls real;
  return installed != nullptr ? *installed : real;
}

ScopedSyscalls::ScopedSyscalls(Syscalls* calls) : previous_(installed) {
  installed = calls;
}

ScopedSyscalls::~ScopedSyscalls() { installed = previous_; }

}  // namespace takeloom

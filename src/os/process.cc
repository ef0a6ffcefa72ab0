#include "os/process.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/syscalls.h"

namespace takeloom {

void PrepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is the closed one.
      Sys().Open("/dev/null", O_RDWR, 0);
    }
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int64_t OpenFileLimit() {
  rlimit limit{};
  if (Sys().Getrlimit(RLIMIT_NOFILE, &limit) != 0 ||
      limit.rlim_cur == RLIM_INFINITY) {
    return -1;
  }
  return static_cast<int64_t>(limit.rlim_cur);
}

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

Error TooManyOpenFiles(const std::string& path, int error) {
  return {Fault::kTooManyOpenFiles, path, 0,
          path + " could not be opened (" + std::strerror(error) + ")"};
}

bool IsTerminal(int fd) { return Sys().Isatty(fd) == 1; }

bool SameTerminal(int a, int b) {
  struct stat first {}, second {};
  return IsTerminal(a) && IsTerminal(b) && Sys().Fstat(a, &first) == 0 &&
         Sys().Fstat(b, &second) == 0 && first.st_rdev == second.st_rdev;
}

int TerminalColumns(int fd) {
  struct winsize size {};
  if (Sys().Ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

}  // namespace takeloom

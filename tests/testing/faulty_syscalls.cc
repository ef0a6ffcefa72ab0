#include "testing/faulty_syscalls.h"

#include <cerrno>

namespace takeloom::testing {

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

bool FaultySyscalls::Fails(Call kind, const char* name,
                           const std::string& what) {
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
  if (failed_.empty()) failed_ = std::string(name) + " " + what;
  errno = error;
  return true;
}

// Linux releases the descriptor even when close fails, as a crash would.
int FaultySyscalls::Close(int fd) {
  const bool fails = Fails(Call::kClose, "Close", "");
  const int error = errno;
  const int closed = Syscalls::Close(fd);
  if (!fails) return closed;
  errno = error;
  return -1;
}

}  // namespace takeloom::testing

#include "os/signals.h"

#include <unistd.h>

#include <cstdlib>
#include <iterator>

namespace takeloom {
namespace {

constexpr int kStopping[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

RunSignals::RunSignals() {
  // A signal that whoever started the run ignores (as nohup ignores
  // SIGHUP) stops nothing: it is neither blocked nor looked for.
  sigemptyset(&stopping_);
  for (const int signal : kStopping) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler == SIG_IGN) {
      continue;
    }
    sigaddset(&stopping_, signal);
  }
  sigprocmask(SIG_BLOCK, &stopping_, &old_mask_);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &old_pipe_);
  sigaction(SIGXFSZ, &ignore, &old_file_size_);
}

RunSignals::~RunSignals() {
  // A stop that comes once the outputs are in place is let go: the run is
  // complete. Ignored while they are unblocked, pending ones are dropped.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction old[std::size(kStopping)];
  for (size_t i = 0; i < std::size(kStopping); ++i) {
    sigaction(kStopping[i], &ignore, &old[i]);
  }
  sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
  for (size_t i = 0; i < std::size(kStopping); ++i) {
    sigaction(kStopping[i], &old[i], nullptr);
  }
  sigaction(SIGPIPE, &old_pipe_, nullptr);
  sigaction(SIGXFSZ, &old_file_size_, nullptr);
}

int RunSignals::Pending() const {
  sigset_t pending;
  if (sigpending(&pending) != 0) return 0;
  for (const int signal : kStopping) {
    if (sigismember(&stopping_, signal) == 1 &&
        sigismember(&pending, signal) == 1) {
      return signal;
    }
  }
  return 0;
}

void RunSignals::Die(int signal) {
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  // The pending signal is delivered as soon as it is unblocked.
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  std::_Exit(128 + signal);  // a signal whose default is not to end
}

}  // namespace takeloom

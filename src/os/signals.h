// The signals that end a run, held until the run can clean up: SIGINT,
// SIGTERM and SIGHUP are blocked while the run lives and looked for between
// writes, so that its partial files are removed before it ends by the
// signal. SIGPIPE and SIGXFSZ are ignored, so that a closed standard output
// costs nothing and a write beyond a file-size limit is an ordinary write
// failure.
#pragma once

#include <signal.h>

namespace takeloom {

class RunSignals {
 public:
  RunSignals();
  // Restores the signal mask and dispositions the process had, dropping a
  // stopping signal that came too late to stop anything.
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

  // The stopping signal that arrived since the run began, or 0.
  int Pending() const;

  // Ends the process by `signal`, with the exit status it gives.
  [[noreturn]] void Die(int signal);

 private:
  sigset_t stopping_{};
  sigset_t old_mask_{};
  struct sigaction old_pipe_ {};
  struct sigaction old_file_size_ {};
};

}  // namespace takeloom

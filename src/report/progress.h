// The progress line of a build on a terminal: the share of the audio done,
// the rate and the time left, rewritten in place at most ten times a
// second and ending on 100%. Standard output keeps its own text: where it
// goes to the same terminal, the progress is shown after its last line and
// erased before it writes again.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/messages.h"

namespace takeloom {

// The text of the line once `done` of `total` bytes are written in
// `seconds`, e.g. " 42% 118.3 MB/s, 0:00:07 left".
std::string ProgressText(int64_t done, int64_t total, double seconds);

class ProgressLine : public Reporter {
 public:
  // Draws on `terminal`; `after_output` when standard output goes to the
  // same terminal.
  ProgressLine(std::FILE* terminal, bool after_output)
      : terminal_(terminal), after_output_(after_output) {}

  void Warning(const Error& err) override;
  void Note(const std::string& text) override;
  void Planned(const std::vector<CrossfadeSetting>& crossfades,
               int64_t audio_bytes) override;
  void TrackStarted(const std::string& output) override;
  void EditStarted(size_t edit) override;
  void BytesDone(int64_t bytes) override;
  void Failed(const Error& err) override;
  void Finished() override;

 private:
  using Clock = std::chrono::steady_clock;

  void Draw();
  // Erases the line, before standard output or standard error is written.
  void Erase();

  std::FILE* terminal_;
  bool after_output_;
  int64_t total_ = 0;
  int64_t done_ = 0;
  Clock::time_point start_;
  Clock::time_point drawn_;
  bool shown_ = false;
};

}  // namespace takeloom

// The progress line of a build on a terminal: the share of the audio done,
// the rate and the time left, rewritten in place at most ten times a
// second, fitted to the terminal's width and erased when the run ends, so
// that the screen is left holding what standard output printed and nothing
// else. Where standard output goes to the same terminal, the progress is
// drawn after its current line, or on the line below when that leaves too
// little room, and erased before standard output writes again.
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

// The same in every length it can be shown in, longest first: the whole
// text, without the rate, and the share alone.
std::vector<std::string> ProgressForms(int64_t done, int64_t total,
                                       double seconds);

// Where the progress is drawn and what it reads there.
struct ProgressPlace {
  enum Where {
    kNowhere,      // nothing fits, or the cursor waits to wrap
    kOwnLine,      // standard output goes elsewhere: the line is the progress'
    kAfterOutput,  // after standard output's text on its current line
    kBelowOutput,  // on the line below standard output's current line
  };
  Where where = kNowhere;
  std::string text;  // the characters drawn, brackets and spaces included

  bool operator==(const ProgressPlace&) const = default;
};

// Places the longest of `forms` that fits on a terminal `width` columns
// wide (0 when it cannot be told), never into its last column: a character
// there leaves the cursor waiting to wrap, and the next one would start a
// line. `column` counts the characters standard output has printed on its
// current line (it may have wrapped), or is negative when standard output
// goes elsewhere.
ProgressPlace PlaceProgress(const std::vector<std::string>& forms, int width,
                            int64_t column);

class ProgressLine : public Reporter {
 public:
  // Draws on `terminal`, which is descriptor `terminal_fd`; `output` is
  // standard output when it goes to the same terminal, else null.
  ProgressLine(std::FILE* terminal, int terminal_fd, std::FILE* output)
      : terminal_(terminal), terminal_fd_(terminal_fd), output_(output) {}

  void Warning(const Error& err) override;
  void Note(const std::string& text) override;
  void Planned(const std::vector<CrossfadeSetting>& crossfades,
               int64_t audio_bytes) override;
  void TrackStarted(const std::string& output) override;
  void OutputCreated() override;
  void EditStarted(size_t edit) override;
  void BytesDone(int64_t bytes) override;
  void Failed(const Error& err) override;
  void Stopped() override;
  void Finished() override;

 private:
  using Clock = std::chrono::steady_clock;

  void Draw();
  // Erases what is drawn, before standard output or standard error is
  // written; the cursor stays where standard output's text ends.
  void Erase();
  // Erases, and notes that standard output's text ends a line (as every
  // line of standard error does).
  void EraseAtLineStart();

  std::FILE* terminal_;
  int terminal_fd_;
  std::FILE* output_;
  // The characters standard output has printed on its current line.
  int64_t column_ = 0;
  int64_t total_ = 0;
  int64_t done_ = 0;
  Clock::time_point start_;
  Clock::time_point drawn_;
  ProgressPlace::Where shown_ = ProgressPlace::kNowhere;
  // Drawn once, or erased since it was last drawn: either way due at once.
  bool due_ = true;
};

}  // namespace takeloom

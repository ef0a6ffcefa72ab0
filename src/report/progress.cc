#include "report/progress.h"

#include "os/process.h"

namespace takeloom {
namespace {

// At most about ten lines a second, besides a redraw after each erase.
constexpr std::chrono::milliseconds kInterval{100};
// What a terminal that cannot tell its width most likely has.
constexpr int kUsualWidth = 80;

// Terminal sequences: save and restore the cursor, erase to the end of the
// line, the line below made to exist (scrolling if the cursor is on the
// last line) with the cursor back where it was, and a move to it.
constexpr const char* kSave = "\0337";
constexpr const char* kRestore = "\0338";
constexpr const char* kEraseRest = "\033[K";
constexpr const char* kMakeLineBelow = "\033D\033[A";
constexpr const char* kToLineBelow = "\033[B\r";

std::string Percent(double share) {
  char text[8];
  std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(share * 100));
  return text;
}

std::string ClockTime(long long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

// What erases the progress drawn at `where`, the cursor left where
// standard output's text ends.
std::string EraseSequence(ProgressPlace::Where where) {
  switch (where) {
    case ProgressPlace::kOwnLine:
      return std::string("\r") + kEraseRest;
    case ProgressPlace::kAfterOutput:
      return kEraseRest;
    case ProgressPlace::kBelowOutput:
      return std::string(kSave) + kToLineBelow + kEraseRest + kRestore;
    case ProgressPlace::kNowhere:
      break;
  }
  return "";
}

std::string DrawSequence(const ProgressPlace& place) {
  switch (place.where) {
    case ProgressPlace::kOwnLine:
      return "\r" + place.text + kEraseRest;
    case ProgressPlace::kAfterOutput:
      return kSave + place.text + kEraseRest + kRestore;
    case ProgressPlace::kBelowOutput:
      return std::string(kMakeLineBelow) + kSave + kToLineBelow + place.text +
             kEraseRest + kRestore;
    case ProgressPlace::kNowhere:
      break;
  }
  return "";
}

}  // namespace

std::vector<std::string> ProgressForms(int64_t done, int64_t total,
                                       double seconds) {
  const double share =
      total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
  const std::string percent = Percent(share);
  if (seconds <= 0 || done <= 0) return {percent};
  const double rate = static_cast<double>(done) / seconds;
  const std::string left =
      ClockTime(static_cast<long long>(
          static_cast<double>(total - done) / rate + 0.5)) +
      " left";
  char megabytes[32];
  std::snprintf(megabytes, sizeof megabytes, " %.1f MB/s,", rate / 1e6);
  return {percent + megabytes + " " + left, percent + " " + left, percent};
}

std::string ProgressText(int64_t done, int64_t total, double seconds) {
  return ProgressForms(done, total, seconds).front();
}

ProgressPlace PlaceProgress(const std::vector<std::string>& forms, int width,
                            int64_t column) {
  if (width <= 0) width = kUsualWidth;
  // Characters go up to the last column but one.
  const int64_t room = width - 1;
  const int64_t at = column < 0 ? 0 : column % width;
  // Standard output filled its line to the last column: the cursor waits
  // to wrap, and no motion can bring it back to that state.
  if (column > 0 && at == 0) return {};
  for (const std::string& form : forms) {
    const auto length = static_cast<int64_t>(form.size());
    if (column < 0) {
      if (length <= room) return {ProgressPlace::kOwnLine, form};
      continue;
    }
    if (at + length + 3 <= room) {
      return {ProgressPlace::kAfterOutput, "  [" + form + "]"};
    }
    if (length + 2 <= room) {
      return {ProgressPlace::kBelowOutput, "[" + form + "]"};
    }
  }
  return {};
}

void ProgressLine::Planned(const std::vector<CrossfadeSetting>&,
                           int64_t audio_bytes) {
  total_ = audio_bytes;
  start_ = drawn_ = Clock::now();
}

void ProgressLine::Warning(const Error&) { EraseAtLineStart(); }
void ProgressLine::Note(const std::string&) { EraseAtLineStart(); }
void ProgressLine::Failed(const Error&) { EraseAtLineStart(); }

// Standard output elsewhere leaves the progress where it is.
void ProgressLine::TrackStarted(const std::string&) {
  if (output_ != nullptr) Erase();
  column_ = 0;
}

void ProgressLine::OutputCreated() {
  if (output_ != nullptr) Erase();
  column_ = static_cast<int64_t>(kEditsLead.size());
}

void ProgressLine::EditStarted(size_t edit) {
  if (output_ != nullptr) Erase();
  column_ += static_cast<int64_t>(std::to_string(edit).size()) + 1;
}

void ProgressLine::BytesDone(int64_t bytes) {
  done_ += bytes;
  if (due_ || Clock::now() - drawn_ >= kInterval) Draw();
}

void ProgressLine::Stopped() {
  // The words that follow on standard error start a line of their own.
  Erase();
  if (output_ != nullptr && column_ != 0) {
    std::fputc('\n', terminal_);
    std::fflush(terminal_);
  }
  column_ = 0;
}

void ProgressLine::Finished() { Erase(); }

void ProgressLine::Draw() {
  drawn_ = Clock::now();
  due_ = false;
  // Standard output's text is on the screen before the progress is put
  // after it.
  if (output_ != nullptr) std::fflush(output_);
  const double seconds =
      std::chrono::duration<double>(drawn_ - start_).count();
  const ProgressPlace place =
      PlaceProgress(ProgressForms(done_, total_, seconds),
                    TerminalColumns(terminal_fd_), output_ ? column_ : -1);
  std::string sequence;
  if (shown_ != place.where) sequence = EraseSequence(shown_);
  sequence += DrawSequence(place);
  if (sequence.empty()) return;
  std::fputs(sequence.c_str(), terminal_);
  std::fflush(terminal_);
  shown_ = place.where;
}

void ProgressLine::Erase() {
  if (shown_ == ProgressPlace::kNowhere) return;
  std::fputs(EraseSequence(shown_).c_str(), terminal_);
  std::fflush(terminal_);
  shown_ = ProgressPlace::kNowhere;
  due_ = true;
}

void ProgressLine::EraseAtLineStart() {
  Erase();
  column_ = 0;
}

}  // namespace takeloom

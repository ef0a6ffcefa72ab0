#include "report/progress.h"

namespace takeloom {
namespace {

// At most about ten lines a second.
constexpr std::chrono::milliseconds kInterval{100};

}  // namespace

std::string ProgressText(int64_t done, int64_t total, double seconds) {
  const double share =
      total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1;
  char text[96];
  if (seconds <= 0 || done <= 0) {
    std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(share * 100));
    return text;
  }
  const double rate = static_cast<double>(done) / seconds;
  const auto left = static_cast<long long>(
      static_cast<double>(total - done) / rate + 0.5);
  std::snprintf(text, sizeof text, "%3d%% %.1f MB/s, %lld:%02lld:%02lld left",
                static_cast<int>(share * 100), rate / 1e6, left / 3600,
                left / 60 % 60, left % 60);
  return text;
}

void ProgressLine::Planned(const std::vector<CrossfadeSetting>&,
                           int64_t audio_bytes) {
  total_ = audio_bytes;
  start_ = drawn_ = Clock::now();
}

void ProgressLine::Warning(const Error&) { Erase(); }
void ProgressLine::Note(const std::string&) { Erase(); }
void ProgressLine::TrackStarted(const std::string&) { Erase(); }
void ProgressLine::EditStarted(size_t) { Erase(); }
void ProgressLine::Failed(const Error&) { Erase(); }

void ProgressLine::BytesDone(int64_t bytes) {
  done_ += bytes;
  if (Clock::now() - drawn_ >= kInterval) Draw();
}

void ProgressLine::Finished() {
  done_ = total_;
  Draw();
  // The line stays, on 100%: standard output goes on below it.
  if (!after_output_) std::fputc('\n', terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

void ProgressLine::Draw() {
  drawn_ = Clock::now();
  const double seconds =
      std::chrono::duration<double>(drawn_ - start_).count();
  const std::string text = ProgressText(done_, total_, seconds);
  // After standard output's text the cursor is kept where that text ends
  // (saved and restored), so that its next words land where they would.
  if (after_output_) {
    std::fprintf(terminal_, "\0337  [%s]\033[K\0338", text.c_str());
  } else {
    std::fprintf(terminal_, "\r%s\033[K", text.c_str());
  }
  std::fflush(terminal_);
  shown_ = true;
}

void ProgressLine::Erase() {
  if (!shown_) return;
  std::fputs(after_output_ ? "\033[K" : "\r\033[K", terminal_);
  std::fflush(terminal_);
  shown_ = false;
}

}  // namespace takeloom

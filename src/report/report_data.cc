#include "report/report_data.h"

#include <algorithm>
#include <cmath>

namespace takeloom {

ColumnScanner::ColumnScanner(int64_t frames, int count)
    : frames_(std::max<int64_t>(frames, 1)),
      count_(count),
      seen_(static_cast<size_t>(count), false) {
  columns_.low.assign(static_cast<size_t>(count), 0.0f);
  columns_.high.assign(static_cast<size_t>(count), 0.0f);
}

void ColumnScanner::AddTo(size_t c, double v) {
  const auto value = static_cast<float>(v);
  if (!seen_[c]) {
    seen_[c] = true;
    columns_.low[c] = columns_.high[c] = value;
    return;
  }
  columns_.low[c] = std::min(columns_.low[c], value);
  columns_.high[c] = std::max(columns_.high[c], value);
}

double LevelDbfs(double sum_squares, int64_t samples) {
  if (samples <= 0 || !(sum_squares > 0)) {
    return -std::numeric_limits<double>::infinity();
  }
  return 10.0 * std::log10(sum_squares / static_cast<double>(samples));
}

double LevelStep(double before_dbfs, double after_dbfs) {
  if (!(before_dbfs > kSilenceDbfs) || !(after_dbfs > kSilenceDbfs)) return 0;
  return after_dbfs - before_dbfs;
}

std::vector<FlagKind> FlagsOf(const EditTrack& edit) {
  std::vector<FlagKind> flags;
  if (edit.measured) {
    if (std::abs(LevelStep(edit.level_before, edit.level_after)) >
        kLevelStepDb) {
      flags.push_back(FlagKind::kLevelStep);
    }
    if (edit.clipped > 0) flags.push_back(FlagKind::kClipping);
    if (edit.from_silence) flags.push_back(FlagKind::kFromSilence);
    if (edit.shortened != Shortened::kNo) {
      flags.push_back(FlagKind::kShortened);
    }
  }
  if (edit.runs_out_at >= 0) flags.push_back(FlagKind::kRunsOut);
  return flags;
}

}  // namespace takeloom

// What a run's HTML report shows, as plain values: the session, each
// track's segments and crossfades, and for every edit point and track the
// audio around it (columns of the takes and the result), its levels and the
// flags raised; and the pure arithmetic that turns samples into these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "driver/plan.h"

namespace takeloom {

inline constexpr size_t kNoTake = std::numeric_limits<size_t>::max();
// The level below which a side of an edit counts as silent (dBFS).
inline constexpr double kSilenceDbfs = -100.0;
// A step in level across an edit above this is flagged (dB).
inline constexpr double kLevelStepDb = 6.0;
// How much audio the report shows and measures on each side of a window.
inline constexpr double kMarginSeconds = 0.05;
// Pixel columns of each waveform.
inline constexpr int kWaveColumns = 150;

enum class FlagKind : uint8_t {
  kLevelStep,    // the level after the window differs by more than 6 dB
  kClipping,     // blended samples beyond full scale
  kFromSilence,  // the take going out holds no audio at the window
  kShortened,    // a crossfade shorter than the track's
  kRunsOut,      // the segment's take ends inside it: silence follows
};

// The lowest and highest sample of each pixel column, full scale +-1, all
// channels together; a column that no frame falls in stays 0.
struct Columns {
  std::vector<float> low, high;
};

// Spreads `frames` frames over `count` columns and keeps each one's extremes.
class ColumnScanner {
 public:
  ColumnScanner(int64_t frames, int count);
  // Sample value `v` (full scale +-1) of frame `frame` of the view.
  void Add(int64_t frame, double v) {
    if (frame >= 0 && frame < frames_) AddTo(ColumnOf(frame), v);
  }
  // The same in two steps, for the channels of one frame.
  size_t ColumnOf(int64_t frame) const {
    return static_cast<size_t>(frame * count_ / frames_);
  }
  void AddTo(size_t column, double v);
  Columns Take() { return std::move(columns_); }

 private:
  int64_t frames_;
  int count_;
  Columns columns_;
  std::vector<bool> seen_;
};

// RMS level in dBFS of samples whose squares (full scale +-1) add up to
// `sum_squares`; -infinity for none or all zero.
double LevelDbfs(double sum_squares, int64_t samples);

// One track at one edit point.
struct EditTrack {
  // The crossfade (or hard cut) into this edit's segment; measured only
  // where a take goes out and one comes in.
  bool measured = false;
  size_t from = kNoTake;  // take index of the take going out
  size_t take = kNoTake;  // take index of the segment's take (coming in)
  int64_t window_start = 0;
  int64_t window_frames = 0;  // 0: a hard cut at window_start
  int32_t type = 0;
  Shortened shortened = Shortened::kNo;
  bool from_silence = false;  // the take going out has run out by then
  int64_t clipped = 0;        // blended samples beyond full scale
  // The frames shown: the window and up to 50 ms either side.
  int64_t view_start = 0;
  int64_t view_frames = 0;
  Columns out, in, result;
  double level_before = -std::numeric_limits<double>::infinity();
  double level_after = -std::numeric_limits<double>::infinity();
  // The frame from which this edit's segment is silent because its take
  // ran out, or -1.
  int64_t runs_out_at = -1;
};

// The flags `edit` raises, in the order of FlagKind.
std::vector<FlagKind> FlagsOf(const EditTrack& edit);

// The step from the level before to the level after; 0 when either side is
// silent (a take running out is flagged by itself).
double LevelStep(double before_dbfs, double after_dbfs);

struct ReportSegment {
  int64_t start = 0, end = 0;
  size_t take = kNoTake;    // take index; the track's takes are named alike
  int64_t silent_from = -1;  // where the take runs out inside it, or -1
};

struct ReportFade {
  size_t edit = 0;  // from 0
  int64_t start = 0, frames = 0;
};

struct ReportTrack {
  std::string base, output;
  std::vector<std::string> take_paths;  // by take index
  TrackFormat format;
  int64_t length = 0;
  float crossfade_ms = 0;
  int32_t crossfade_type = 0;
  int64_t crossfade_frames = 0;
  int64_t lead_in_silence = 0;  // frames before the first edit point
  std::vector<ReportSegment> segments;  // one per edit point
  std::vector<ReportFade> fades;
};

struct ReportEdit {
  double seconds = 0;
  size_t take_out = kNoTake;  // take indices from the edit list
  size_t take_in = kNoTake;
  std::vector<EditTrack> tracks;  // one per track
};

struct ReportData {
  std::string version;       // "Takeloom 2.00"
  std::string command_line;  // as typed, quoted where needed
  bool dry_run = false;
  std::vector<std::string> take_names;  // by take index
  std::vector<ReportTrack> tracks;
  std::vector<ReportEdit> edits;  // one per edit point
};

}  // namespace takeloom

#include "driver/plan.h"

#include <algorithm>
#include <cmath>

namespace takeloom {
namespace {

// 2^63, exactly representable as a float.
constexpr float kFrameLimit = 9223372036854775808.0f;

// Cuts a segment and its silence at the track's end.
void ClipToLength(Segment& segment, int64_t length) {
  if (segment.start + segment.length > length) {
    segment.length = std::max<int64_t>(0, length - segment.start);
  }
  if (segment.silence &&
      segment.silence_start + segment.silence_length > length) {
    segment.silence_length = std::max<int64_t>(0, length - segment.silence_start);
    segment.silence = segment.silence_length > 0;
  }
}

std::optional<int64_t> Truncate(float frames) {
  if (!(frames > -kFrameLimit && frames < kFrameLimit)) return std::nullopt;
  return static_cast<int64_t>(frames);
}

}  // namespace

TrackFormat FormatOf(const TakeAttributes& take) {
  return {take.sample_rate, take.bits_per_sample, take.bytes_per_sample,
          take.channels, take.format};
}

std::optional<std::string> CheckTakeFormat(const TrackFormat& track,
                                           const TakeAttributes& take,
                                           const std::string& base_name) {
  const char* what = nullptr;
  if (take.sample_rate != track.sample_rate) {
    what = "Samplerate";
  } else if (take.bits_per_sample != track.bits_per_sample) {
    what = "Bit format";
  } else if (take.channels != track.channels) {
    what = "Mono-stereo";
  } else if (take.format != track.format) {
    what = "Sample format";
  }
  if (what == nullptr) return std::nullopt;
  return ">> " + std::string(what) + " mismatch among " + base_name +
         " takes, exiting\n";
}

std::optional<int64_t> FramesAt(float seconds, uint32_t sample_rate) {
  const float rate = static_cast<float>(sample_rate);
  return Truncate(seconds * rate);
}

size_t FirstUnplannableEdit(const std::vector<float>& times,
                            uint32_t sample_rate) {
  for (size_t k = 0; k < times.size(); ++k) {
    if (!FramesAt(times[k], sample_rate)) return k + 1;
  }
  return 0;
}

std::optional<int64_t> CrossfadeFrames(float milliseconds,
                                       uint32_t sample_rate) {
  const float rate = static_cast<float>(sample_rate);
  return Truncate(rate * (milliseconds / 1000.0f));
}

PlanOutcome PlanTrack(const std::vector<float>& times,
                      const std::vector<TakeAttributes>& takes,
                      int64_t crossfade_frames) {
  PlanOutcome outcome;
  TrackPlan& plan = outcome.plan;
  const size_t edits = times.size();
  if (edits == 0) return outcome;
  plan.format = FormatOf(takes[0]);
  plan.crossfade_frames = crossfade_frames;
  plan.segments.resize(edits);
  for (const TakeAttributes& take : takes) {
    plan.length = std::max(plan.length, take.frames);
  }

  // Every product is formed in single precision and truncated on its own,
  // so one segment's end may differ by a frame from the next one's start.
  const float rate = static_cast<float>(plan.format.sample_rate);
  for (size_t k = 1; k < edits; ++k) {
    const float a = times[k - 1];
    const float b = times[k];
    const float start_frames = a * rate;
    const float length_frames = (b - a) * rate;
    Segment& segment = plan.segments[k - 1];
    segment.start = static_cast<int64_t>(start_frames);
    segment.length = static_cast<int64_t>(length_frames);
    int64_t end = segment.start + segment.length;
    if (end > plan.length) {
      segment.length = plan.length - segment.start;
      end = plan.length;
    }
    const int64_t take_frames = takes[k - 1].frames;
    if (segment.start > take_frames) {
      outcome.failed_edit = k;
      return outcome;
    }
    if (take_frames < end) {
      segment.silence = true;
      segment.silence_start = take_frames;
      segment.silence_length = end - take_frames;
    }
  }
  if (edits >= 2) {
    const Segment& last = plan.segments[edits - 2];
    plan.length = std::min(plan.length, last.start + last.length);
    // With the last segment empty, an earlier one may end a frame past the
    // track's end: nothing is written beyond what the header declares.
    for (Segment& segment : plan.segments) ClipToLength(segment, plan.length);
  }
  if (times[0] > 0) plan.lead_in = static_cast<int64_t>(rate * times[0]);
  return outcome;
}

}  // namespace takeloom

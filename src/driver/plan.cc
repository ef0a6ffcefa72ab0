#include "driver/plan.h"

#include <algorithm>
#include <cmath>

namespace takeloom {
namespace {

// 2^63, exactly representable as a float.
constexpr float kFrameLimit = 9223372036854775808.0f;

std::optional<int64_t> Truncate(float frames) {
  if (!(frames > -kFrameLimit && frames < kFrameLimit)) return std::nullopt;
  return static_cast<int64_t>(frames);
}

}  // namespace

Error CheckTakeFormat(const TrackFormat& track, const TakeAttributes& take,
                      const std::string& base_name) {
  Fault fault = Fault::kNone;
  if (take.sample_rate != track.sample_rate) {
    fault = Fault::kRateMismatch;
  } else if (take.bits_per_sample != track.bits_per_sample) {
    fault = Fault::kBitsMismatch;
  } else if (take.channels != track.channels) {
    fault = Fault::kChannelsMismatch;
  } else if (take.format != track.format) {
    fault = Fault::kSampleFormatMismatch;
  }
  if (fault == Fault::kNone) return {};
  return {fault, base_name};
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

Error PlanTrack(const std::vector<float>& times, const std::vector<Take>& takes,
                int64_t crossfade_frames, TrackPlan* out) {
  *out = TrackPlan();
  TrackPlan& plan = *out;
  const size_t edits = times.size();
  if (edits == 0) return {};
  plan.format = FormatOf(takes[0].attributes);
  plan.crossfade_frames = crossfade_frames;
  plan.segments.resize(edits);
  for (const Take& take : takes) {
    plan.length = std::max(plan.length, take.attributes.frames);
  }

  // Every edit point's frame position is formed once, in single precision,
  // and each segment runs from its own point to the next: consecutive
  // segments meet exactly, with no frame left unwritten between them.
  // The caller has checked that every point fits (FirstUnplannableEdit).
  std::vector<int64_t> points(edits);
  for (size_t k = 0; k < edits; ++k) {
    points[k] = FramesAt(times[k], plan.format.sample_rate).value_or(0);
  }
  for (size_t k = 1; k < edits; ++k) {
    Segment& segment = plan.segments[k - 1];
    segment.start = points[k - 1];
    segment.length = points[k] - points[k - 1];
    int64_t end = points[k];
    if (end > plan.length) {
      segment.length = plan.length - segment.start;
      end = plan.length;
    }
    const int64_t take_frames = takes[k - 1].attributes.frames;
    if (segment.start > take_frames) {
      return {Fault::kTakeEndsEarly, "", static_cast<int64_t>(k)};
    }
    if (take_frames < end) {
      segment.silence = true;
      segment.silence_start = take_frames;
      segment.silence_length = end - take_frames;
    }
  }
  if (edits >= 2) plan.length = std::min(plan.length, points[edits - 1]);
  // Silence up to the first edit point (none when it lies at 0).
  plan.lead_in = points[0];
  return {};
}

}  // namespace takeloom

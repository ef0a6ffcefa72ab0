#include "driver/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace takeloom {
namespace {

// 2^63, exactly representable as a float.
constexpr float kFrameLimit = 9223372036854775808.0f;

std::optional<int64_t> Truncate(float frames) {
  if (!(frames > -kFrameLimit && frames < kFrameLimit)) return std::nullopt;
  return static_cast<int64_t>(frames);
}

std::string Seconds(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

// The crossfade rendered at an edit point, if any.
struct Fade {
  int64_t frames = 0;  // 0: a hard cut
  int64_t first = 0;   // the window's first frame
  size_t from = 0;     // the take that fades out
  bool from_silence = false;  // take `from` ends before the window does
  Shortened shortened = Shortened::kNo;
};

// The crossfades of a planned track: none at the first segment that holds
// frames, and none where the track has no crossfade.
std::vector<Fade> PlanFades(const std::vector<Segment>& segments,
                            const TrackInput& track) {
  std::vector<Fade> fades(segments.size());
  if (track.crossfade_type == 0 || track.crossfade_frames <= 0) return fades;
  std::optional<size_t> left;  // the last segment so far that holds frames
  for (size_t k = 0; k < segments.size(); ++k) {
    if (segments[k].holds() <= 0) continue;
    if (left) {
      Fade& fade = fades[k];
      const int64_t left_frames = segments[*left].holds();
      const int64_t entered = segments[k].holds();
      fade.frames = std::min({track.crossfade_frames, left_frames, entered});
      if (fade.frames < track.crossfade_frames) {
        fade.shortened = fade.frames == left_frames
                             ? Shortened::kBySegmentLeft
                             : Shortened::kBySegmentEntered;
      }
      fade.first = segments[k].start - fade.frames / 2;
      fade.from = track.edit_takes[*left];
      // The window starts before the entered take's point, which its take
      // holds; the take fading out may end inside it or before it. It then
      // reads as silence there, so the entering take still fades in over
      // the whole window instead of cutting in at full level.
      fade.from_silence = track.takes[fade.from].attributes.frames <
                          fade.first + fade.frames;
    }
    left = k;
  }
  return fades;
}

Operation Op(OpKind kind, size_t edit, int64_t start = 0, int64_t frames = 0,
             size_t take = 0, size_t from = 0) {
  Operation op;
  op.kind = kind;
  op.edit = static_cast<uint32_t>(edit);
  op.start = start;
  op.frames = frames;
  op.take = static_cast<uint32_t>(take);
  op.from = static_cast<uint32_t>(from);
  return op;
}

// Appends operations edit by edit, filling with silence whatever lies
// between the end of the last one and the start of the next.
class OpList {
 public:
  explicit OpList(std::vector<Operation>* ops) : ops_(*ops) {}

  void Marker(const Operation& op) { ops_.push_back(op); }

  void Audio(Operation op) {
    if (op.frames <= 0) return;
    SilenceUpTo(op.edit, op.start);
    ops_.push_back(op);
    covered_ = op.start + op.frames;
  }

  void SilenceUpTo(size_t edit, int64_t frame) {
    if (frame <= covered_) return;
    ops_.push_back(Op(OpKind::kSilence, edit, covered_, frame - covered_));
    covered_ = frame;
  }

 private:
  std::vector<Operation>& ops_;
  int64_t covered_ = 0;
};

}  // namespace

Error CheckTakeFormat(const Take& first, const Take& take,
                      const std::string& base_name) {
  const TakeAttributes& a = take.attributes;
  const TakeAttributes& b = first.attributes;
  Fault fault = Fault::kNone;
  std::string mine, theirs;
  if (a.sample_rate != b.sample_rate) {
    fault = Fault::kRateMismatch;
    mine = std::to_string(a.sample_rate) + " Hz";
    theirs = std::to_string(b.sample_rate) + " Hz";
  } else if (a.bits_per_sample != b.bits_per_sample) {
    fault = Fault::kBitsMismatch;
    mine = std::to_string(a.bits_per_sample) + " bits";
    theirs = std::to_string(b.bits_per_sample) + " bits";
  } else if (a.channels != b.channels) {
    fault = Fault::kChannelsMismatch;
    const auto channels = [](uint32_t n) {
      return std::to_string(n) + (n == 1 ? " channel" : " channels");
    };
    mine = channels(a.channels);
    theirs = channels(b.channels);
  } else if (a.format != b.format) {
    fault = Fault::kSampleFormatMismatch;
    const auto name = [](SampleFormat f) {
      return f == SampleFormat::kFloat ? "float samples" : "integer samples";
    };
    mine = name(a.format);
    theirs = name(b.format);
  }
  if (fault == Fault::kNone) return {};
  return {fault, base_name, 0,
          take.path + " has " + mine + ", the track's first take " +
              first.path + " has " + theirs};
}

std::optional<int64_t> FramesAt(float seconds, uint32_t sample_rate) {
  const float rate = static_cast<float>(sample_rate);
  return Truncate(seconds * rate);
}

std::optional<int64_t> CrossfadeFrames(float milliseconds,
                                       uint32_t sample_rate) {
  const float rate = static_cast<float>(sample_rate);
  return Truncate(rate * (milliseconds / 1000.0f));
}

Error PlanTrack(std::span<const int64_t> points, const TrackInput& track,
                TrackPlan* out) {
  *out = TrackPlan();
  TrackPlan& plan = *out;
  const size_t edits = points.size();
  if (edits == 0 || track.takes.empty()) return {};
  plan.format = FormatOf(track.takes[0].attributes);
  plan.crossfade_frames = track.crossfade_frames;
  plan.crossfade_type = track.crossfade_type;
  for (const Take& take : track.takes) {
    plan.length = std::max(plan.length, take.attributes.frames);
  }

  // Each segment runs from its own point to the next: consecutive segments
  // meet exactly, with no frame left unwritten between them.
  const uint32_t rate = plan.format.sample_rate;
  if (edits >= 2) plan.length = std::min(plan.length, points[edits - 1]);

  std::vector<Segment>& segments = plan.segments;
  segments.assign(edits, {});
  for (size_t k = 0; k + 1 < edits; ++k) {
    const Take& take = track.takes[track.edit_takes[k]];
    const int64_t take_frames = take.attributes.frames;
    if (points[k] > take_frames) {
      return {Fault::kTakeEndsEarly, take.path, static_cast<int64_t>(k + 1),
              take.path + " ends at " +
                  Seconds(static_cast<double>(take_frames) / rate) +
                  ", before edit " + std::to_string(k + 1) + " at " +
                  Seconds(static_cast<double>(points[k]) / rate)};
    }
    segments[k] = {points[k],
                   std::max(points[k], std::min(points[k + 1], plan.length)),
                   track.edit_takes[k]};
  }
  segments[edits - 1] = {points[edits - 1], points[edits - 1],
                         track.edit_takes[edits - 1]};
  const std::vector<Fade> fades = PlanFades(segments, track);

  OpList ops(&plan.operations);
  for (size_t k = 0; k < edits; ++k) {
    ops.Marker(Op(OpKind::kEdit, k));
    const Fade& fade = fades[k];
    const size_t take = track.edit_takes[k];
    if (segments[k].holds() <= 0) continue;
    if (!plan.first_heard) plan.first_heard = take;
    Operation crossfade =
        Op(OpKind::kCrossfade, k, fade.first, fade.frames, take, fade.from);
    crossfade.shortened = fade.shortened;
    crossfade.from_silence = fade.from_silence ? 1 : 0;
    ops.Audio(crossfade);
    // The segment's own frames: after this edit's window, before the next
    // one's, and silent from where the take runs out.
    const int64_t begin = fade.frames > 0
                              ? fade.first + fade.frames
                              : segments[k].start;
    int64_t end = segments[k].end;
    for (size_t next = k + 1; next < edits; ++next) {
      if (segments[next].holds() <= 0) continue;
      end -= fades[next].frames / 2;
      break;
    }
    const int64_t take_end =
        std::clamp(track.takes[take].attributes.frames, begin, end);
    ops.Audio(Op(OpKind::kCopy, k, begin, take_end - begin, take));
    ops.SilenceUpTo(k, end);
  }
  ops.SilenceUpTo(edits - 1, plan.length);
  return {};
}

}  // namespace takeloom

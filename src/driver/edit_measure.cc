#include "driver/edit_measure.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>

#include "driver/prepare.h"
#include "dsp/codec.h"
#include "dsp/crossfade.h"
#include "dsp/curves.h"
#include "dsp/sample_layouts.h"
#include "wav/take_reader.h"

namespace takeloom {
namespace {

// Frames read at a time: a view of a few hundred milliseconds takes a few
// reads, and a view around a long crossfade never more memory than this.
constexpr int64_t kBlockFrames = 4096;

// Full scale on the decode scale of `format`.
double FullScale(const TrackFormat& format) {
  if (format.format == SampleFormat::kFloat) return 1.0;
  return format.bytes_per_sample == 4 ? 2147483648.0 : 8388608.0;
}

// Decodes `n` samples to values on the decode scale.
void Decode(std::span<const std::byte> bytes, const TrackFormat& format,
            int64_t n, std::vector<double>* values,
            std::vector<int64_t>* integers) {
  values->resize(static_cast<size_t>(n));
  if (format.format == SampleFormat::kFloat) {
    DecodeFloatSamples(bytes, *values,
                       static_cast<int32_t>(format.bytes_per_sample), n);
    return;
  }
  integers->resize(static_cast<size_t>(n));
  if (format.bytes_per_sample == 4) {
    DecodeInt32Samples(bytes, *integers, n);
  } else {
    CHAR_TO_NUM32(bytes, *integers,
                  static_cast<int32_t>(format.bytes_per_sample), n);
  }
  std::transform(integers->begin(), integers->end(), values->begin(),
                 [](int64_t v) { return static_cast<double>(v); });
}

// Measures one track at its edit points, the takes opened once each.
class TrackMeasurer {
 public:
  TrackMeasurer(const TrackJob& job, const TrackPlan& plan)
      : job_(job), plan_(plan), readers_(job.takes.size()) {
    for (size_t i = 0; i < plan.operations.size(); ++i) {
      const OpKind kind = plan.operations[i].kind;
      if (kind == OpKind::kSilence || kind == OpKind::kCopy ||
          kind == OpKind::kCrossfade) {
        content_.push_back(&plan.operations[i]);
      }
    }
    std::stable_sort(content_.begin(), content_.end(),
                     [](const Operation* a, const Operation* b) {
                       return a->start < b->start;
                     });
  }

  // Fills the view, columns, levels and clipping of `et`, whose window and
  // takes are set, at edit `edit`.
  Error Measure(size_t edit, EditTrack* et);

 private:
  Error Reader(size_t take, const TakeReader** reader);
  // The track's frames [first, first + n) as the build writes them, and
  // the samples of edit `edit`'s crossfade among them beyond full scale.
  Error Result(int64_t first, int64_t n, size_t edit, std::span<std::byte> out,
               int64_t* clipped);
  Error Read(size_t take, int64_t frame, std::span<std::byte> out) {
    const TakeReader* reader = nullptr;
    if (Error err = Reader(take, &reader); !err.ok()) return err;
    return reader->Read(frame * plan_.format.FrameSize(), out);
  }

  const TrackJob& job_;
  const TrackPlan& plan_;
  std::vector<std::optional<TakeReader>> readers_;
  std::vector<const Operation*> content_;  // by start frame
  GainTable gains_;
  std::vector<std::byte> out_, in_, result_, previous_, next_;
  std::vector<double> a_, b_, c_;
  std::vector<int64_t> integers_;
};

Error TrackMeasurer::Reader(size_t take, const TakeReader** reader) {
  std::optional<TakeReader>& slot = readers_[take];
  if (!slot) {
    TakeReader opened;
    const Take& t = job_.takes[take];
    if (Error err = opened.Open(t.path, t.attributes); !err.ok()) return err;
    slot = std::move(opened);
  }
  *reader = &*slot;
  return {};
}

Error TrackMeasurer::Result(int64_t first, int64_t n, size_t edit,
                            std::span<std::byte> out, int64_t* clipped) {
  const TrackFormat& format = plan_.format;
  const int64_t frame_size = format.FrameSize();
  std::fill(out.begin(), out.end(), std::byte{0});
  auto at = std::upper_bound(
      content_.begin(), content_.end(), first,
      [](int64_t frame, const Operation* op) { return frame < op->start; });
  if (at != content_.begin()) --at;
  for (; at != content_.end() && (*at)->start < first + n; ++at) {
    const Operation& op = **at;
    const int64_t low = std::max(first, op.start);
    const int64_t high = std::min(first + n, op.start + op.frames);
    if (low >= high) continue;
    const auto bytes = static_cast<size_t>((high - low) * frame_size);
    const auto part =
        out.subspan(static_cast<size_t>((low - first) * frame_size), bytes);
    if (op.kind == OpKind::kCopy) {
      if (Error err = Read(op.take, low, part); !err.ok()) return err;
    } else if (op.kind == OpKind::kCrossfade) {
      previous_.resize(bytes);
      next_.resize(bytes);
      Error err = Read(op.from, low, previous_);
      if (err.ok()) err = Read(op.take, low, next_);
      if (!err.ok()) return err;
      const std::span<const Gains> gains = gains_.Frames(
          plan_.crossfade_type, op.frames, low - op.start, high - low);
      Blend(previous_, next_, gains, format, part);
      if (op.edit != edit) continue;
      const int64_t samples = (high - low) * format.channels;
      Decode(previous_, format, samples, &a_, &integers_);
      Decode(next_, format, samples, &b_, &integers_);
      for (int64_t s = 0; s < samples; ++s) {
        const Gains& g = gains[static_cast<size_t>(s / format.channels)];
        const double sum = a_[static_cast<size_t>(s)] * g.fade_out +
                           b_[static_cast<size_t>(s)] * g.fade_in;
        if (BeyondFullScale(sum, format)) ++*clipped;
      }
    }
  }
  return {};
}

Error TrackMeasurer::Measure(size_t edit, EditTrack* et) {
  const TrackFormat& format = plan_.format;
  const int64_t frame_size = format.FrameSize();
  const auto margin = static_cast<int64_t>(format.sample_rate * kMarginSeconds);
  const int64_t window_end = et->window_start + et->window_frames;
  const int64_t view_start = std::max<int64_t>(et->window_start - margin, 0);
  const int64_t view_end =
      std::max(std::min(window_end + margin, plan_.length), view_start);
  et->view_start = view_start;
  et->view_frames = view_end - view_start;
  ColumnScanner out(et->view_frames, kWaveColumns);
  ColumnScanner in(et->view_frames, kWaveColumns);
  ColumnScanner result(et->view_frames, kWaveColumns);
  const double scale = FullScale(format);
  double before = 0, after = 0;
  int64_t before_samples = 0, after_samples = 0;
  for (int64_t first = view_start; first < view_end; first += kBlockFrames) {
    const int64_t n = std::min(kBlockFrames, view_end - first);
    const auto bytes = static_cast<size_t>(n * frame_size);
    out_.resize(bytes);
    in_.resize(bytes);
    result_.resize(bytes);
    Error err = Read(et->from, first, out_);
    if (err.ok()) err = Read(et->take, first, in_);
    if (err.ok()) err = Result(first, n, edit, result_, &et->clipped);
    if (!err.ok()) return err;
    const int64_t samples = n * format.channels;
    Decode(out_, format, samples, &a_, &integers_);
    Decode(in_, format, samples, &b_, &integers_);
    Decode(result_, format, samples, &c_, &integers_);
    size_t i = 0;
    for (int64_t frame = first; frame < first + n; ++frame) {
      const size_t column = out.ColumnOf(frame - view_start);
      double squares = 0;
      for (uint32_t channel = 0; channel < format.channels; ++channel, ++i) {
        const double r = c_[i] / scale;
        out.AddTo(column, a_[i] / scale);
        in.AddTo(column, b_[i] / scale);
        result.AddTo(column, r);
        squares += r * r;
      }
      if (frame < et->window_start) {
        before += squares;
        before_samples += format.channels;
      } else if (frame >= window_end) {
        after += squares;
        after_samples += format.channels;
      }
    }
  }
  et->out = out.Take();
  et->in = in.Take();
  et->result = result.Take();
  et->level_before = LevelDbfs(before, before_samples);
  et->level_after = LevelDbfs(after, after_samples);
  return {};
}

}  // namespace

bool BeyondFullScale(double sum, const TrackFormat& format) {
  if (format.format == SampleFormat::kFloat) return std::abs(sum) > 1.0;
  if (format.bytes_per_sample == 2) {
    const auto v = static_cast<int64_t>(sum * kSixteenBitScale);
    return v < kMin16 || v > kMax16;
  }
  // Beyond 2^62 the conversion itself would overflow: beyond full scale.
  if (std::abs(sum) >= 4611686018427387904.0) return true;
  const auto v = static_cast<int64_t>(sum);
  return format.bytes_per_sample == 4 ? v < kMin32 || v > kMax32
                                      : v < kMin24 || v > kMax24;
}

Error MeasureReport(const BuildState& state, const std::vector<TrackJob>& jobs,
                    ReportData* data) {
  const std::vector<float>& times = state.edits.times;
  const size_t points = times.size();
  data->dry_run = state.line.dry_run;
  data->take_names = state.take_names;
  data->edits.assign(points, {});
  // Sample positions have no time of their own: they are shown at the
  // first track's rate.
  std::vector<int64_t> frames;
  if (!jobs.empty()) {
    const uint32_t rate = jobs[0].takes[0].attributes.sample_rate;
    if (Error err = EditFrames(state.edits, rate, &frames); !err.ok()) {
      return err;
    }
  }
  for (size_t k = 0; k < points; ++k) {
    ReportEdit& edit = data->edits[k];
    edit.seconds = std::isfinite(times[k]) || frames.empty()
                       ? static_cast<double>(times[k])
                       : static_cast<double>(frames[k]) /
                             jobs[0].takes[0].attributes.sample_rate;
    if (k > 0) edit.take_out = state.edit_takes[k - 1];
    if (k + 1 < points) edit.take_in = state.edit_takes[k];
  }
  data->tracks.clear();
  for (const TrackJob& job : jobs) {
    TrackPlan plan;
    Error err =
        EditFrames(state.edits, job.takes[0].attributes.sample_rate, &frames);
    if (err.ok()) err = PlanTrack(frames, InputOf(state, job), &plan);
    if (!err.ok()) return err;
    ReportTrack track;
    track.base = job.base;
    track.output = job.output;
    for (const Take& take : job.takes) track.take_paths.push_back(take.path);
    track.format = plan.format;
    track.length = plan.length;
    track.crossfade_ms = job.crossfade.length_ms;
    track.crossfade_type = plan.crossfade_type;
    track.crossfade_frames = plan.crossfade_frames;
    for (const Segment& s : plan.segments) {
      track.segments.push_back({s.start, s.end, s.take, -1});
    }
    std::vector<const Operation*> fade_at(points, nullptr);
    for (const Operation& op : plan.operations) {
      if (op.kind == OpKind::kSilence) {
        if (op.start < plan.segments[op.edit].start) {
          track.lead_in_silence = op.frames;
        } else {
          track.segments[op.edit].silent_from = op.start;
        }
      } else if (op.kind == OpKind::kCrossfade) {
        track.fades.push_back({op.edit, op.start, op.frames});
        fade_at[op.edit] = &op;
      }
    }
    TrackMeasurer measurer(job, plan);
    std::optional<size_t> left;  // the last segment so far with frames
    for (size_t k = 0; k < points; ++k) {
      EditTrack et;
      const Segment& segment = plan.segments[k];
      if (segment.holds() > 0) {
        et.runs_out_at = track.segments[k].silent_from;
        et.take = segment.take;
        if (left) {
          et.measured = true;
          et.type = plan.crossfade_type;
          et.from = plan.segments[*left].take;
          et.window_start = segment.start;
          if (const Operation* op = fade_at[k]) {
            et.from = op->from;
            et.window_start = op->start;
            et.window_frames = op->frames;
            et.shortened = op->shortened;
          }
          // A crossfade that leaves a take that has ended fades in from
          // silence.
          et.from_silence =
              et.window_frames > 0 &&
              job.takes[et.from].attributes.frames <= et.window_start;
          if (Error err = measurer.Measure(k, &et); !err.ok()) return err;
        }
        left = k;
      }
      data->edits[k].tracks.push_back(std::move(et));
    }
    data->tracks.push_back(std::move(track));
  }
  return {};
}

}  // namespace takeloom

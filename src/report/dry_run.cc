#include "report/dry_run.h"

#include <algorithm>
#include <cmath>

#include "driver/assemble.h"
#include "driver/plan.h"
#include "inputs/lists.h"

namespace takeloom {
namespace {

std::string Format(const char* format, auto... values) {
  const int length = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

// Frames [a, b) and the times they span at `rate`.
std::string Span(int64_t a, int64_t b, uint32_t rate) {
  return Format("frames %lld-%lld (%s-%s)", static_cast<long long>(a),
                static_cast<long long>(b),
                ClockTime(static_cast<double>(a) / rate).c_str(),
                ClockTime(static_cast<double>(b) / rate).c_str());
}

// "1 frame", "2 frames".
std::string Count(long long n, const char* thing) {
  return Format("%lld %s%s", n, thing, n == 1 ? "" : "s");
}

std::string Milliseconds(int64_t frames, uint32_t rate) {
  return Format("%.1f ms", 1000.0 * static_cast<double>(frames) / rate);
}

// What one edit does: its segment, the crossfade into it, and silence
// where its take runs out.
struct EditLine {
  const Operation* crossfade = nullptr;
  const Operation* silence = nullptr;
};

}  // namespace

std::string ClockTime(double seconds) {
  const auto ms = static_cast<long long>(std::llround(seconds * 1000.0));
  return Format("%lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
}

std::string PlanText(const TrackJob& job, const TrackPlan& plan,
                     const EditList& edit_list) {
  const uint32_t rate = plan.format.sample_rate;
  const char* kind =
      plan.format.format == SampleFormat::kFloat ? "float" : "integer";
  std::string text = Format(
      "%s: %u Hz, %u-bit %s, %s, %s (%s)\n", job.output.c_str(), rate,
      plan.format.bits_per_sample, kind,
      Count(plan.format.channels, "channel").c_str(),
      Count(plan.length, "frame").c_str(),
      ClockTime(static_cast<double>(plan.length) / rate).c_str());
  std::vector<EditLine> edits(plan.segments.size());
  for (const Operation& op : plan.operations) {
    EditLine& line = edits[op.edit];
    if (op.kind == OpKind::kCrossfade) line.crossfade = &op;
    if (op.kind == OpKind::kSilence) {
      if (op.start < plan.segments[op.edit].start) {
        text += "  silence " + Span(op.start, op.start + op.frames, rate) +
                " before the first edit point\n";
      } else {
        line.silence = &op;
      }
    }
  }
  for (size_t k = 0; k < edits.size(); ++k) {
    const Segment& segment = plan.segments[k];
    const EditLine& line = edits[k];
    // A sample position is a frame at this track's own rate.
    const double at = edit_list.positions.empty()
                          ? static_cast<double>(edit_list.times[k])
                          : static_cast<double>(segment.start) / rate;
    text += Format("  edit %zu at %s: ", k + 1, ClockTime(at).c_str());
    if (k + 1 == edits.size()) {
      text += "the end of the track\n";
      continue;
    }
    text += job.takes[segment.take].path + ", ";
    if (segment.holds() <= 0) {
      text += "no frames\n";
      continue;
    }
    text += Span(segment.start, segment.end, rate);
    if (const Operation* x = line.crossfade) {
      text += Format(", crossfade type %d from %s over %s (%s)",
                     plan.crossfade_type, job.takes[x->from].path.c_str(),
                     Count(x->frames, "frame").c_str(),
                     Milliseconds(x->frames, rate).c_str());
      if (x->shortened != Shortened::kNo) {
        text += Format(
            ", shortened from %lld: the segment it %s is that short",
            static_cast<long long>(plan.crossfade_frames),
            x->shortened == Shortened::kBySegmentLeft ? "leaves" : "enters");
      }
      if (x->from_silence != 0) {
        text += Format(", fades from silence after frame %lld",
                       static_cast<long long>(
                           job.takes[x->from].attributes.frames));
      }
    }
    if (const Operation* s = line.silence) {
      text += ", silence from " + Format("frame %lld (%s)",
                                         static_cast<long long>(s->start),
                                         ClockTime(static_cast<double>(
                                             s->start) / rate).c_str()) +
              " where the take ends";
    }
    text += "\n";
  }
  return text;
}

void DryRunReporter::TrackPlanned(const TrackJob& job, const TrackPlan& plan,
                                  const EditList& edits) {
  std::fputc('\n', out_);
  std::fputs(PlanText(job, plan, edits).c_str(), out_);
}

void DryRunReporter::Finished() {
  std::fputs("\n\nDry run: nothing written\n\n", out_);
  std::fflush(out_);
}

}  // namespace takeloom

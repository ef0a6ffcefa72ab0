#include "driver/prepare.h"

#include <algorithm>
#include <cstdio>

#include "report/dry_run.h"
#include "report/quoted.h"
#include "wav/inspect.h"

namespace takeloom {
namespace {

// One crossfade made shorter than its track's, for the notes.
struct ShortFade {
  size_t edit = 0;
  size_t track = 0;
  int64_t frames = 0;
  uint32_t rate = 0;
  Shortened why = Shortened::kNo;
  bool operator==(const ShortFade& o) const {
    return frames == o.frames && rate == o.rate && why == o.why;
  }
};

// Notes of shortened crossfades are given for this many edits at most; a
// list of a million close edits would otherwise flood the terminal.
constexpr size_t kMostShortFadeNotes = 20;

// One note per edit whose crossfade is shortened alike on every track,
// otherwise one per track, for the first edits that have one; then how
// many more there are. `fades` holds each track's first ones, which hold
// every track's share of the first edits overall.
void NoteShortFades(std::vector<ShortFade> fades, size_t total,
                    const BuildState& state, Reporter* reporter) {
  std::stable_sort(fades.begin(), fades.end(),
                   [](const ShortFade& a, const ShortFade& b) {
                     return a.edit < b.edit;
                   });
  const auto text = [](const ShortFade& f) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f ms",
                  1000.0 * static_cast<double>(f.frames) / f.rate);
    return "crossfade shortened to " + std::to_string(f.frames) +
           " frames (" + ms + "): the segment it " +
           (f.why == Shortened::kBySegmentLeft ? "leaves" : "enters") +
           " holds only " + std::to_string(f.frames) + " frames";
  };
  size_t edits = 0;
  size_t noted = 0;
  for (size_t i = 0; i < fades.size() && edits < kMostShortFadeNotes;
       ++edits) {
    size_t j = i;
    while (j < fades.size() && fades[j].edit == fades[i].edit) ++j;
    const bool alike =
        j - i == state.base_names.size() &&
        std::all_of(fades.begin() + i, fades.begin() + j,
                    [&](const ShortFade& f) { return f == fades[i]; });
    const std::string edit = "edit " + std::to_string(fades[i].edit + 1);
    if (alike) {
      reporter->Note(edit + ": " + text(fades[i]));
    } else {
      for (size_t k = i; k < j; ++k) {
        reporter->Note("track " + Quoted(state.base_names[fades[k].track]) +
                       ", " +
                       edit + ": " + text(fades[k]));
      }
    }
    noted += j - i;
    i = j;
  }
  if (total > noted) {
    reporter->Note(std::to_string(total - noted) +
                   " more crossfades shortened; takeloom -n shows each");
  }
}

// A track whose takes all end before its last edit point.
struct EarlyEnd {
  size_t track = 0;
  int64_t length = 0;  // frames: where its longest take ends
  uint32_t rate = 0;
};

// Notes of tracks that end before the last edit point, where each ends
// instead; one note for every track when all end alike.
void NoteEarlyEnds(const std::vector<EarlyEnd>& ends, const BuildState& state,
                   Reporter* reporter) {
  if (ends.empty()) return;
  const auto end_of = [](const EarlyEnd& end) {
    return ClockTime(static_cast<double>(end.length) / end.rate) + " (" +
           std::to_string(end.length) + " frames at " +
           std::to_string(end.rate) + " Hz)";
  };
  const EditList& edits = state.edits;
  const size_t last = edits.times.size() - 1;
  const std::string when =
      last < edits.positions.size() && edits.positions[last] >= 0
          ? std::to_string(edits.positions[last]) + "s"
          : ClockTime(edits.times[last]);
  const std::string place = EditPlace(edits, last) + ": the last edit point, " +
                            when + ", lies beyond every take of ";
  const bool alike =
      ends.size() == state.base_names.size() && ends.size() > 1 &&
      std::all_of(ends.begin(), ends.end(), [&](const auto& end) {
        return end_of(end) == end_of(ends[0]);
      });
  if (alike) {
    reporter->Note(place + "every track; each ends at " + end_of(ends[0]));
    return;
  }
  for (const EarlyEnd& end : ends) {
    reporter->Note(place + Quoted(state.base_names[end.track]) +
                   "; it ends at " + end_of(end));
  }
}

}  // namespace

Error InspectTakes(const BuildState& state, std::vector<TrackJob>* jobs,
                   Reporter* reporter) {
  jobs->resize(state.base_names.size());
  for (size_t t = 0; t < state.base_names.size(); ++t) {
    TrackJob& job = (*jobs)[t];
    job.base = state.base_names[t];
    job.output = state.output_names[t];
    job.crossfade = state.crossfades[t];
    for (const std::string& path : state.take_paths[t]) {
      Take take{path, {}};
      Inspection inspection;
      const Error err = GET_ATTRIBUTES(take.path, &inspection);
      if (inspection.format_chunk_missing) {
        reporter->Warning({Fault::kNoFormatChunk, take.path});
      }
      if (!err.ok()) return err;
      if (inspection.data_size_unset) {
        reporter->Note(Quoted(take.path) +
                       " has no data size (its recorder stopped early?); "
                       "reading its audio to the end of the file");
      }
      take.attributes = inspection.take;
      if (!job.takes.empty()) {
        const Error mismatch = CheckTakeFormat(job.takes[0], take, job.base);
        if (!mismatch.ok()) return mismatch;
      }
      job.takes.push_back(std::move(take));
    }
  }
  return {};
}

TrackInput InputOf(const BuildState& state, const TrackJob& job) {
  return {job.takes, state.edit_takes, job.crossfade_frames,
          job.crossfade.type};
}

Error PlanTracks(const BuildState& state, std::vector<TrackJob>* jobs,
                 Reporter* reporter) {
  std::vector<int64_t> points;
  for (const TrackJob& job : *jobs) {
    const uint32_t rate = job.takes[0].attributes.sample_rate;
    if (Error err = EditFrames(state.edits, rate, &points); !err.ok()) {
      return err;
    }
  }
  for (size_t t = 0; t < jobs->size(); ++t) {
    const auto frames =
        CrossfadeFrames((*jobs)[t].crossfade.length_ms,
                        (*jobs)[t].takes[0].attributes.sample_rate);
    if (!frames) {
      const std::string source = CrossfadeSource(state.params, t);
      char why[128];
      std::snprintf(why, sizeof why,
                    ": the crossfade length %g ms is more frames than a take "
                    "at %u Hz can count",
                    static_cast<double>((*jobs)[t].crossfade.length_ms),
                    (*jobs)[t].takes[0].attributes.sample_rate);
      return {Fault::kInvalidCrossfade, "", static_cast<int64_t>(t + 1),
              (source.empty() ? "track " + std::to_string(t + 1) : source) +
                  why};
    }
    (*jobs)[t].crossfade_frames = *frames;
  }
  std::vector<ShortFade> short_fades;
  size_t short_total = 0;
  std::vector<EarlyEnd> early_ends;
  int64_t audio_bytes = 0;
  for (size_t t = 0; t < jobs->size(); ++t) {
    const TrackJob& job = (*jobs)[t];
    TrackPlan plan;
    Error err =
        EditFrames(state.edits, job.takes[0].attributes.sample_rate, &points);
    if (err.ok()) err = PlanTrack(points, InputOf(state, job), &plan);
    if (!err.ok()) return err;
    size_t kept = 0;
    for (const Operation& op : plan.operations) {
      if (op.kind != OpKind::kCrossfade || op.shortened == Shortened::kNo) {
        continue;
      }
      ++short_total;
      if (kept++ < kMostShortFadeNotes) {
        short_fades.push_back({op.edit, t, op.frames, plan.format.sample_rate,
                               op.shortened});
      }
    }
    audio_bytes += plan.length * plan.format.FrameSize();
    const uint32_t rate = plan.format.sample_rate;
    if (points.size() >= 2 && plan.length < points.back()) {
      early_ends.push_back({t, plan.length, rate});
    }
  }
  reporter->Planned(state.crossfades, audio_bytes);
  NoteShortFades(std::move(short_fades), short_total, state, reporter);
  NoteEarlyEnds(early_ends, state, reporter);
  return {};
}

void ShowPlans(const BuildState& state, const std::vector<TrackJob>& jobs,
               Reporter* reporter) {
  std::vector<int64_t> points;
  for (const TrackJob& job : jobs) {
    TrackPlan plan;
    EditFrames(state.edits, job.takes[0].attributes.sample_rate, &points);
    PlanTrack(points, InputOf(state, job), &plan);
    reporter->TrackPlanned(job, plan, state.edits);
  }
}

}  // namespace takeloom

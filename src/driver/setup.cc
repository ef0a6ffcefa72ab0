#include "driver/setup.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "driver/plan.h"
#include "os/identity.h"
#include "report/quoted.h"

namespace takeloom {

std::string FindTake(std::string_view pattern, std::string_view base,
                     std::string_view take) {
  std::string path = TakePath(pattern, base, take);
  constexpr std::string_view kLower = ".wav";
  if (!path.ends_with(kLower)) return path;
  if (!LookUp(path).absent()) return path;
  std::string upper = path.substr(0, path.size() - kLower.size()) + ".WAV";
  return LookUp(upper).absent() ? path : upper;
}

std::vector<CrossfadeSetting> TrackCrossfades(const CrossfadeParams& params,
                                              size_t track_count) {
  std::vector<CrossfadeSetting> crossfades(track_count);
  for (size_t t = 0; t < track_count; ++t) {
    const auto entry = params.tracks.find(static_cast<int32_t>(t + 1));
    if (entry != params.tracks.end()) crossfades[t] = entry->second;
    // An xf_tr entry of type 0 is overwritten too.
    if (params.all.type != 0 && crossfades[t].type == 0) {
      crossfades[t] = params.all;
    }
  }
  return crossfades;
}

std::string CrossfadeSource(const CrossfadeParams& params, size_t track) {
  const auto number = static_cast<int32_t>(track + 1);
  const auto own = params.tracks.find(number);
  // As TrackCrossfades decides.
  const bool from_all = params.all.type != 0 &&
                        (own == params.tracks.end() || own->second.type == 0);
  if (from_all) {
    if (params.all_entry.line == 0) return "";
    return EntryPlace(params.all_entry) +
           ", the xf_all entry that sets track " + std::to_string(number);
  }
  const auto entry = params.track_entries.find(number);
  return entry == params.track_entries.end() ? ""
                                             : EntryPlace(entry->second);
}

namespace {

// A float as its shortest exact decimal ("0.1", "1e+16", "inf").
std::string Shortest(float value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

std::string Seconds(float value) { return Shortest(value) + " s"; }

}  // namespace

Error CheckTrackCrossfades(const std::vector<CrossfadeSetting>& crossfades,
                           const CrossfadeParams& params) {
  for (size_t t = 0; t < crossfades.size(); ++t) {
    const CrossfadeSetting& xf = crossfades[t];
    std::string why;
    if (xf.type < 0 || xf.type > 4) {
      why = "the crossfade type " + std::to_string(xf.type) +
            " is not one of 0 to 4";
    } else if (!std::isfinite(xf.length_ms)) {
      why = "the crossfade length " + Shortest(xf.length_ms) +
            " is no number of milliseconds";
    } else if (xf.type != 0 && xf.length_ms < 0) {
      why = "the crossfade length " + Shortest(xf.length_ms) +
            " ms is negative";
    } else {
      continue;
    }
    const std::string source = CrossfadeSource(params, t);
    return {Fault::kInvalidCrossfade, "", static_cast<int64_t>(t + 1),
            (source.empty() ? "track " + std::to_string(t + 1) : source) +
                ": " + why};
  }
  return {};
}

Error CheckEditOrder(const EditList& edits) {
  const std::vector<float>& times = edits.times;
  for (size_t k = 0; k + 1 < times.size(); ++k) {
    if (times[k] > times[k + 1]) {
      return {Fault::kOutOfSequence, "", static_cast<int64_t>(k + 2),
              EditPlace(edits, k + 1) + ": its time, " +
                  Seconds(times[k + 1]) + ", is before " + Seconds(times[k]) +
                  ", the time of edit " + std::to_string(k + 1) + " (" +
                  EditPlace(edits, k) + "); edit times may not go back"};
    }
  }
  return {};
}

Error CheckPositionOrder(const EditList& edits) {
  const std::vector<int64_t>& positions = edits.positions;
  for (size_t k = 0; k + 1 < positions.size(); ++k) {
    if (positions[k + 1] >= 0 && positions[k] > positions[k + 1]) {
      return {Fault::kOutOfSequence, "", static_cast<int64_t>(k + 2),
              EditPlace(edits, k + 1) + ": its sample position, " +
                  std::to_string(positions[k + 1]) + "s, is before " +
                  std::to_string(positions[k]) + "s, the position of edit " +
                  std::to_string(k + 1) + " (" + EditPlace(edits, k) +
                  "); edit points may not go back"};
    }
  }
  return {};
}

Error CheckEditTimes(const EditList& edits) {
  const std::vector<float>& times = edits.times;
  const std::optional<UnreadTime>& unread = edits.first_unread;
  const std::vector<int64_t>& positions = edits.positions;
  for (size_t k = 0; k < times.size(); ++k) {
    if (k < positions.size() && positions[k] >= 0) continue;
    const float time = times[k];
    // A negative first time is allowed: it counts from 0.
    if (std::isfinite(time) && (k == 0 || time >= 0)) continue;
    if (k < positions.size() && positions[k] >= 0) continue;
    std::string detail = EditPlace(edits, k) + ": ";
    if (unread && unread->edit == k && TimeThenSpaces(unread->text)) {
      detail += "a tab is expected between the time and the take name";
    } else if (unread && unread->edit == k) {
      detail += Quoted(unread->text) +
                " is not a time; write seconds (12.5), m:ss(.fff), "
                "h:mm:ss(.fff) or a sample position (427200s)";
    } else if (std::isnan(time)) {
      detail += "the time is not a number (nan)";
    } else if (std::isinf(time)) {
      detail += "the time is infinite or too large";
    } else {
      detail += "the time " + Shortest(time) +
                " is negative; only the first edit may start before 0";
    }
    return {Fault::kInvalidTime, "", static_cast<int64_t>(k + 1), detail};
  }
  return {};
}

Error EditFrames(const EditList& edits, uint32_t rate,
                 std::vector<int64_t>* points) {
  const std::vector<float>& times = edits.times;
  points->resize(times.size());
  for (size_t k = 0; k < times.size(); ++k) {
    if (k < edits.positions.size() && edits.positions[k] >= 0) {
      (*points)[k] = edits.positions[k];
      continue;
    }
    const std::optional<int64_t> frame = FramesAt(times[k], rate);
    if (!frame) {
      char detail[128];
      std::snprintf(detail, sizeof detail,
                    ": %g s lies beyond the frames a take at %u Hz can count",
                    static_cast<double>(times[k]), rate);
      return {Fault::kInvalidTime, "", static_cast<int64_t>(k + 1),
              EditPlace(edits, k) + detail};
    }
    (*points)[k] = *frame;
  }
  return {};
}

void DistinctTakes(const std::vector<std::string>& takes,
                   std::vector<std::string>* names,
                   std::vector<size_t>* indices) {
  std::unordered_map<std::string_view, size_t> seen;
  names->clear();
  indices->clear();
  indices->reserve(takes.size());
  for (const std::string& take : takes) {
    const auto [entry, added] = seen.try_emplace(take, names->size());
    if (added) names->push_back(take);
    indices->push_back(entry->second);
  }
}

namespace {

// Notes of what loading accepts but is likely a slip: xf_tr entries for
// tracks base.txt does not have, and base names given twice.
void NoteLikelySlips(const BuildState& state, Reporter* reporter) {
  const size_t tracks = state.base_names.size();
  const auto& entries = state.params.track_entries;
  for (auto entry = entries.upper_bound(static_cast<int32_t>(
           std::min<size_t>(tracks, std::numeric_limits<int32_t>::max())));
       entry != entries.end(); ++entry) {
    reporter->Note(EntryPlace(entry->second) + ": there is no track " +
                   std::to_string(entry->first) + " (base.txt names " +
                   std::to_string(tracks) + "); the entry sets nothing");
  }
  std::unordered_map<std::string_view, size_t> first;
  for (size_t t = 0; t < tracks; ++t) {
    const std::string& name = state.base_names[t];
    const auto [earlier, added] = first.try_emplace(name, t);
    if (added) continue;
    reporter->Note(LinePlace("base.txt", state.base_lines[t], name) +
                   ", as line " +
                   std::to_string(state.base_lines[earlier->second]) +
                   " does: both tracks are built to " +
                   Quoted(name + state.line.suffix) + " and the later one is kept");
  }
}

}  // namespace

Error LoadInputs(BuildState* state, Reporter* reporter) {
  Error err = Check_RC(&state->params, !state->line.dry_run);
  if (err.fault == Fault::kCannotWrite) {
    reporter->Warning(err);
  } else if (!err.ok()) {
    return err;
  }
  if (err = ReadBaseFile(&state->base_names, &state->base_lines); !err.ok()) {
    return err;
  }
  if (err = ReadEditFile(&state->edits); !err.ok()) return err;

  const size_t tracks = state->base_names.size();
  std::vector<float>& times = state->edits.times;
  reporter->Loaded(tracks, times.size());
  NoteLikelySlips(*state, reporter);
  if (times.empty() && tracks > 0) return {Fault::kNoEditPoints, ""};
  // One point forms no segment and leaves nowhere for the tracks to end:
  // a build would be silence as long as the longest take.
  if (times.size() == 1 && tracks > 0) return {Fault::kOneEditPoint, ""};

  state->crossfades = TrackCrossfades(state->params, tracks);
  err = CheckTrackCrossfades(state->crossfades, state->params);
  if (!err.ok()) return err;
  state->output_names.clear();
  for (const std::string& base : state->base_names) {
    state->output_names.push_back(base + state->line.suffix);
  }
  const EditList& edits = state->edits;
  if (edits.first_mixed != 0) {
    return {Fault::kMixedTimes, "", static_cast<int64_t>(edits.first_mixed),
            EditPlace(edits, edits.first_mixed - 1) +
                ": the edits before it are of the other kind; one list uses "
                "sample positions (427200s) or times, not both"};
  }
  err = edits.positions.empty() ? CheckEditOrder(edits)
                                : CheckPositionOrder(edits);
  if (!err.ok()) return err;
  if (err = CheckEditTimes(edits); !err.ok()) return err;
  if (!times.empty() && times[0] < 0) {
    reporter->Note(EditPlace(state->edits, 0) + ": the first time, " +
                   Seconds(times[0]) + ", is before the start; it counts as 0");
    times[0] = 0;
  }
  DistinctTakes(state->edits.takes, &state->take_names, &state->edit_takes);
  state->take_paths.assign(tracks, {});
  for (size_t t = 0; t < tracks; ++t) {
    for (const std::string& take : state->take_names) {
      state->take_paths[t].push_back(
          FindTake(state->line.takes, state->base_names[t], take));
    }
  }
  return {};
}

}  // namespace takeloom

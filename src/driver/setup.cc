#include "driver/setup.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "driver/plan.h"
#include "os/identity.h"

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

Error CheckTrackCrossfades(const std::vector<CrossfadeSetting>& crossfades) {
  for (size_t t = 0; t < crossfades.size(); ++t) {
    const CrossfadeSetting& xf = crossfades[t];
    if (xf.type < 0 || xf.type > 4 || !std::isfinite(xf.length_ms) ||
        (xf.type != 0 && xf.length_ms < 0)) {
      return {Fault::kInvalidCrossfade, "", static_cast<int64_t>(t + 1)};
    }
  }
  return {};
}

Error CheckEditOrder(const std::vector<float>& times) {
  for (size_t k = 0; k + 1 < times.size(); ++k) {
    if (times[k] > times[k + 1]) {
      return {Fault::kOutOfSequence, "", static_cast<int64_t>(k + 2)};
    }
  }
  return {};
}

Error CheckPositionOrder(const std::vector<int64_t>& positions) {
  for (size_t k = 0; k + 1 < positions.size(); ++k) {
    if (positions[k + 1] >= 0 && positions[k] > positions[k + 1]) {
      return {Fault::kOutOfSequence, "", static_cast<int64_t>(k + 2)};
    }
  }
  return {};
}

Error CheckEditTimes(const std::vector<float>& times,
                     const std::optional<UnreadTime>& unread,
                     const std::vector<int64_t>& positions) {
  for (size_t k = 0; k < times.size(); ++k) {
    if (k < positions.size() && positions[k] >= 0) continue;
    const float time = times[k];
    // A negative first time is allowed: it counts from 0.
    if (std::isfinite(time) && (k == 0 || time >= 0)) continue;
    std::string detail = "edit " + std::to_string(k + 1) + ": ";
    if (unread && unread->edit == k) {
      detail += "\"" + unread->text +
                "\" is not a time; write seconds (12.5), m:ss(.fff) or "
                "h:mm:ss(.fff)";
    } else if (std::isnan(time)) {
      detail += "the time is not a number (nan)";
    } else if (std::isinf(time)) {
      detail += "the time is infinite or too large";
    } else {
      char shortest[32];
      const auto written =
          std::to_chars(shortest, shortest + sizeof shortest, time);
      detail += "the time " + std::string(shortest, written.ptr) +
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
                    "edit %zu: %g s lies beyond the frames a take at %u Hz "
                    "can count",
                    k + 1, static_cast<double>(times[k]), rate);
      return {Fault::kInvalidTime, "", static_cast<int64_t>(k + 1), detail};
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

Error LoadInputs(BuildState* state, Reporter* reporter) {
  Error err = Check_RC(&state->params, !state->line.dry_run);
  if (err.fault == Fault::kCannotWrite) {
    reporter->Warning(err);
  } else if (!err.ok()) {
    return err;
  }
  if (err = ReadBaseFile(&state->base_names); !err.ok()) return err;
  if (err = ReadEditFile(&state->edits); !err.ok()) return err;

  const size_t tracks = state->base_names.size();
  std::vector<float>& times = state->edits.times;
  reporter->Loaded(tracks, times.size());
  if (times.empty() && tracks > 0) return {Fault::kNoEditPoints, ""};
  // One point forms no segment and leaves nowhere for the tracks to end:
  // a build would be silence as long as the longest take.
  if (times.size() == 1 && tracks > 0) return {Fault::kOneEditPoint, ""};

  state->crossfades = TrackCrossfades(state->params, tracks);
  if (err = CheckTrackCrossfades(state->crossfades); !err.ok()) return err;
  state->output_names.clear();
  for (const std::string& base : state->base_names) {
    state->output_names.push_back(base + state->line.suffix);
  }
  const EditList& edits = state->edits;
  if (edits.first_mixed != 0) {
    return {Fault::kMixedTimes, "", static_cast<int64_t>(edits.first_mixed)};
  }
  err = edits.positions.empty() ? CheckEditOrder(times)
                                : CheckPositionOrder(edits.positions);
  if (!err.ok()) return err;
  err = CheckEditTimes(times, edits.first_unread, edits.positions);
  if (!err.ok()) return err;
  if (!times.empty() && times[0] < 0) times[0] = 0;
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

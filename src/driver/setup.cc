#include "driver/setup.h"

#include <cmath>
#include <cstdio>

namespace takeloom {

std::string SuffixFromArgs(const std::vector<std::string>& args) {
  return args.size() == 1 ? args[0] : std::string(kDefaultSuffix);
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

std::optional<std::string> CheckTrackCrossfades(
    const std::vector<CrossfadeSetting>& crossfades) {
  for (size_t t = 0; t < crossfades.size(); ++t) {
    const CrossfadeSetting& xf = crossfades[t];
    if (xf.type < 0 || xf.type > 4 || !std::isfinite(xf.length_ms) ||
        (xf.type != 0 && xf.length_ms < 0)) {
      return ">> Invalid crossfade for track " + std::to_string(t + 1) +
             " in loomrc.txt, exiting\n";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckEditOrder(const std::vector<float>& times) {
  for (size_t k = 0; k + 1 < times.size(); ++k) {
    if (times[k] > times[k + 1]) {
      return ">> Edit " + std::to_string(k + 2) +
             " is out of sequence, exiting\n";
    }
  }
  return std::nullopt;
}

std::optional<std::string> CheckEditTimes(const std::vector<float>& times) {
  for (size_t k = 0; k < times.size(); ++k) {
    // A negative first time is allowed: planning raises it to 0.
    if (!std::isfinite(times[k]) || (k > 0 && times[k] < 0)) {
      return ">> Edit " + std::to_string(k + 1) +
             " has an invalid time, exiting\n";
    }
  }
  return std::nullopt;
}

bool LoadInputs(BuildState* state, std::FILE* out, std::string* err) {
  switch (Check_RC(&state->params)) {
    case RcResult::kRead:
    case RcResult::kTemplateWritten:
      break;
    case RcResult::kTemplateNotWritten:
      std::fputs("Could not write the loomrc.txt template\n", out);
      break;
    case RcResult::kUnreadable:
      *err = ">> Cannot read loomrc.txt, exiting\n";
      return false;
    case RcResult::kInvalidEntry:
      *err = ">> Invalid crossfade entry in loomrc.txt, exiting\n";
      return false;
  }
  if (!ReadBaseFile(&state->base_names, err)) return false;
  if (!ReadEditFile(&state->edits, err)) return false;

  const size_t tracks = state->base_names.size();
  const size_t edits = state->edits.times.size();
  std::fprintf(out, "Planning to build %zu tracks", tracks);
  std::fprintf(out, " using %zu edit points.\n\n", edits);
  if (edits == 0 && tracks > 0) {
    *err = ">> No edit points in points.txt, exiting\n";
    return false;
  }

  state->crossfades = TrackCrossfades(state->params, tracks);
  if (auto message = CheckTrackCrossfades(state->crossfades)) {
    *err = *message;
    return false;
  }
  state->output_names.clear();
  for (const std::string& base : state->base_names) {
    state->output_names.push_back(base + state->suffix);
  }
  if (auto message = CheckEditOrder(state->edits.times)) {
    *err = *message;
    return false;
  }
  if (auto message = CheckEditTimes(state->edits.times)) {
    *err = *message;
    return false;
  }
  return true;
}

}  // namespace takeloom

// The driver's working state and the loading stage: command line, the three
// input files, the crossfade defaults, output names and the checks that come
// before any take is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "inputs/lists.h"
#include "inputs/params.h"

namespace takeloom {

inline constexpr std::string_view kDefaultSuffix = "_bld.wav";
inline constexpr std::string_view kTempFileName = "xfade_temp.wav";

struct BuildState {
  std::string suffix{kDefaultSuffix};
  CrossfadeParams params;                  // as read from loomrc.txt
  std::vector<std::string> base_names;     // one per track
  EditList edits;
  std::vector<CrossfadeSetting> crossfades;  // per track, defaults applied
  std::vector<std::string> output_names;     // per track
};

// The output suffix: the single argument when there is exactly one.
std::string SuffixFromArgs(const std::vector<std::string>& args);

// Each track's own xf_tr setting; a non-zero xf_all type replaces every
// track whose type is 0.
std::vector<CrossfadeSetting> TrackCrossfades(const CrossfadeParams& params,
                                              size_t track_count);

// The message refusing the first track whose crossfade cannot be built, if any.
std::optional<std::string> CheckTrackCrossfades(
    const std::vector<CrossfadeSetting>& crossfades);

// The message refusing edit times that descend (naming the later edit of the
// first descending pair), if any.
std::optional<std::string> CheckEditOrder(const std::vector<float>& times);

// The message refusing the first time that is not finite, or negative after
// the first edit, if any.
std::optional<std::string> CheckEditTimes(const std::vector<float>& times);

// Runs the loading stage, printing to `out` as it goes. False with `err` set
// to the message that ends the run.
bool LoadInputs(BuildState* state, std::FILE* out, std::string* err);

}  // namespace takeloom

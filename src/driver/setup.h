// The driver's working state and the loading stage: command line, the three
// input files, the crossfade defaults, output names and the checks that come
// before any take is opened.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/usage.h"
#include "error.h"
#include "inputs/lists.h"
#include "inputs/params.h"
#include "report/messages.h"

namespace takeloom {

inline constexpr std::string_view kDefaultSuffix = "_bld.wav";
inline constexpr std::string_view kTempFileName = "xfade_temp.wav";

struct BuildState {
  std::string suffix{kDefaultSuffix};
  std::string takes{kDefaultTakes};  // how take files are named
  bool dry_run = false;              // nothing is written
  std::string report;                // the HTML report, or empty
  CrossfadeParams params;                  // as read from loomrc.txt
  std::vector<std::string> base_names;     // one per track
  EditList edits;                          // the first time never negative
  std::vector<CrossfadeSetting> crossfades;  // per track, defaults applied
  std::vector<std::string> output_names;     // per track
  // The distinct take names in the order they first appear, and for each
  // edit the index of its take's name: a track's takes are inspected and
  // opened once each, however many edit points name them.
  std::vector<std::string> take_names;
  std::vector<size_t> edit_takes;
  // For each track, the file of each distinct take.
  std::vector<std::vector<std::string>> take_paths;
};

// The file that holds take `take` of track `base`, as `pattern` names
// it. Recorders write the extension in capitals: a name ending ".wav" that
// names nothing (not even a link) stands for the same name ending ".WAV"
// when that exists.
std::string FindTake(std::string_view pattern, std::string_view base,
                     std::string_view take);

// Each track's own xf_tr setting; a non-zero xf_all type replaces every
// track whose type is 0.
std::vector<CrossfadeSetting> TrackCrossfades(const CrossfadeParams& params,
                                              size_t track_count);

// Refuses the first track whose crossfade cannot be built.
Error CheckTrackCrossfades(const std::vector<CrossfadeSetting>& crossfades);

// Refuses edit times that descend, naming the later edit of the first
// descending pair.
Error CheckEditOrder(const std::vector<float>& times);

// Refuses the first time that is not finite (a time that is no number
// included), or negative after the first edit, with a detail that quotes
// `unread`'s text when it is that time.
Error CheckEditTimes(const std::vector<float>& times,
                     const std::optional<UnreadTime>& unread = std::nullopt);

// The distinct names of `takes`, in order of first appearance, into
// `names`, and each entry's index among them into `indices`.
void DistinctTakes(const std::vector<std::string>& takes,
                   std::vector<std::string>* names,
                   std::vector<size_t>* indices);

// Runs the loading stage, telling `reporter` as it goes; the error ends
// the run. A negative first time is raised to 0 once the checks have
// passed.
Error LoadInputs(BuildState* state, Reporter* reporter);

}  // namespace takeloom

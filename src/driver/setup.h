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

inline constexpr std::string_view kTempFileName = "xfade_temp.wav";

struct BuildState {
  CommandLine line;                        // suffix, take names, dry run
  CrossfadeParams params;                  // as read from loomrc.txt
  std::vector<std::string> base_names;     // one per track
  std::vector<size_t> base_lines;          // each name's line in base.txt
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

// Where track `track`'s (from 0) crossfade setting comes from in
// loomrc.txt, for a detail: its xf_tr entry, or the xf_all entry that sets
// it, said to be xf_all's; empty when no entry sets it.
std::string CrossfadeSource(const CrossfadeParams& params, size_t track);

// Refuses the first track whose crossfade cannot be built, with a detail
// that points at the entry of `params` that set it.
Error CheckTrackCrossfades(const std::vector<CrossfadeSetting>& crossfades,
                           const CrossfadeParams& params = {});

// Refuses edit times that descend, naming the later edit of the first
// descending pair; the detail gives both times and their lines.
Error CheckEditOrder(const EditList& edits);
// The same for sample positions, compared as integers; an edit that is no
// sample position (-1) is left to the time checks.
Error CheckPositionOrder(const EditList& edits);

// Refuses the first time that is not finite (a time that is no number
// included), or negative after the first edit, with a detail that points
// at its line and quotes the time as written when it reads as no time. An
// edit with a sample position has no time to check.
Error CheckEditTimes(const EditList& edits);

// The edit points in frames at `rate` into `points`: sample positions as
// written, times x rate in single precision (FramesAt). kInvalidTime names
// the first time whose frame does not fit in 63 bits.
Error EditFrames(const EditList& edits, uint32_t rate,
                 std::vector<int64_t>* points);

// The distinct names of `takes`, in order of first appearance, into
// `names`, and each entry's index among them into `indices`.
void DistinctTakes(const std::vector<std::string>& takes,
                   std::vector<std::string>* names,
                   std::vector<size_t>* indices);

// Runs the loading stage, telling `reporter` as it goes; the error ends
// the run. A negative first time is raised to 0 once the checks have
// passed. What is accepted but is likely a slip gets a note: an xf_tr entry
// for a track base.txt does not have, a base name given twice, a negative
// first time.
Error LoadInputs(BuildState* state, Reporter* reporter);

}  // namespace takeloom

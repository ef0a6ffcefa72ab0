// Track assembly: writes one output track from its plan, edit by edit, with
// the progress line, the lead-in, segments, silences and crossfades.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/plan.h"
#include "inputs/params.h"

namespace takeloom {

struct TrackJob {
  std::string output;                   // output file name
  std::vector<std::string> take_paths;  // one per edit
  TrackPlan plan;
  CrossfadeSetting crossfade;
};

// Builds `job.output`, printing progress to `out`. On a fatal failure
// returns false with `err` set to its message; the unfinished output and
// the temporary file are then removed.
bool AssembleTrack(const TrackJob& job, std::FILE* out, std::string* err);

// Whether the edit at `start` gets a crossfade of `frames` frames: only past
// the first edit, with a curve, and once half the crossfade fits before it.
bool CrossfadeEligible(size_t edit, int32_t type, int64_t start,
                       int64_t frames);

}  // namespace takeloom

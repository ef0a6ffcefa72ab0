// The takes and plans of a run before anything is written: every take
// inspected once, every track planned once so that its failures and notes
// come before the first output, and the plans shown for a dry run.
#pragma once

#include <vector>

#include "driver/assemble.h"
#include "driver/plan.h"
#include "driver/setup.h"
#include "error.h"
#include "report/messages.h"

namespace takeloom {

// Inspects every take of every track, once per distinct take, into one job
// per track, refusing takes of a track that disagree with its first.
Error InspectTakes(const BuildState& state, std::vector<TrackJob>* jobs,
                   Reporter* reporter);

// What planning needs of `job`.
TrackInput InputOf(const BuildState& state, const TrackJob& job);

// Plans every track once before anything is written: the frame-position
// checks first (all tracks), then each track's plan, whose failures and
// shortened crossfades are reported now; sets each job's crossfade length
// in frames. Plans are made again, one at a time, as tracks are built or
// shown, so that memory grows with the edit list and not with tracks x
// edits.
Error PlanTracks(const BuildState& state, std::vector<TrackJob>* jobs,
                 Reporter* reporter);

// Shows every track's plan, made again one track at a time.
void ShowPlans(const BuildState& state, const std::vector<TrackJob>& jobs,
               Reporter* reporter);

}  // namespace takeloom

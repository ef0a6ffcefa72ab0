#include "driver/run.h"

#include "driver/assemble.h"
#include "driver/guard.h"
#include "driver/plan.h"
#include "driver/setup.h"
#include "driver/usage.h"
#include "wav/inspect.h"

namespace takeloom {
namespace {

int Fail(const std::string& message, std::FILE* out) {
  std::fputs(message.c_str(), out);
  std::fflush(out);
  return 1;
}

std::string TakePath(const std::string& base, const std::string& take) {
  return base + take + ".wav";
}

std::string InspectionMessage(const Inspection& inspection,
                              const std::string& path) {
  switch (inspection.fault) {
    case InspectFault::kNone:
      return "";
    case InspectFault::kCannotOpen:
      return ">> Cannot find file called " + path + ", exiting\n";
    case InspectFault::kNoDataBlock:
      return ">> Can't find data block in wave file, exiting\n";
    case InspectFault::kUnreadableFormat:
      return ">> Can't read the format of " + path + ", exiting\n";
  }
  return "";
}

// Inspects every take of every track, refusing takes of one track that
// disagree with its first take. Fills one TrackJob per track.
bool InspectTakes(const BuildState& state, std::vector<TrackJob>* jobs,
                  std::vector<std::vector<TakeAttributes>>* takes,
                  std::FILE* out, std::string* err) {
  for (size_t t = 0; t < state.base_names.size(); ++t) {
    const std::string& base = state.base_names[t];
    TrackJob& job = (*jobs)[t];
    job.output = state.output_names[t];
    job.crossfade = state.crossfades[t];
    for (size_t j = 0; j < state.edits.takes.size(); ++j) {
      const std::string path = TakePath(base, state.edits.takes[j]);
      const Inspection inspection = GET_ATTRIBUTES(path);
      if (inspection.format_chunk_missing) {
        std::fputs(">> Can't find format chunk in wave file!\n", out);
      }
      *err = InspectionMessage(inspection, path);
      if (!err->empty()) return false;
      if (j > 0) {
        const TrackFormat track = FormatOf((*takes)[t][0]);
        if (auto message = CheckTakeFormat(track, inspection.take, base)) {
          *err = *message;
          return false;
        }
      }
      job.take_paths.push_back(path);
      (*takes)[t].push_back(inspection.take);
    }
  }
  return true;
}

// Plans every track: the frame-position checks first (all tracks), then
// each track's segments.
bool PlanTracks(BuildState* state,
                const std::vector<std::vector<TakeAttributes>>& takes,
                std::vector<TrackJob>* jobs, std::string* err) {
  std::vector<float>& times = state->edits.times;
  if (!times.empty() && times[0] < 0) times[0] = 0;
  for (size_t t = 0; t < jobs->size(); ++t) {
    if (size_t edit = FirstUnplannableEdit(times, takes[t][0].sample_rate)) {
      *err = ">> Edit " + std::to_string(edit) + " has an invalid time, exiting\n";
      return false;
    }
  }
  std::vector<int64_t> crossfade_frames;
  for (size_t t = 0; t < jobs->size(); ++t) {
    const auto frames = CrossfadeFrames(state->crossfades[t].length_ms,
                                        takes[t][0].sample_rate);
    if (!frames) {
      *err = ">> Invalid crossfade for track " + std::to_string(t + 1) +
             " in loomrc.txt, exiting\n";
      return false;
    }
    crossfade_frames.push_back(*frames);
  }
  for (size_t t = 0; t < jobs->size(); ++t) {
    PlanOutcome outcome = PlanTrack(times, takes[t], crossfade_frames[t]);
    if (outcome.failed_edit != 0) {
      *err = "Edit " + std::to_string(outcome.failed_edit) +
             " failed.  The take ends before the edit point.\n"
             "Output files were not built\n";
      return false;
    }
    (*jobs)[t].plan = std::move(outcome.plan);
  }
  return true;
}

void PrintCrossfadeMatrix(const std::vector<CrossfadeSetting>& crossfades,
                          std::FILE* out) {
  std::fputs("Crossfade Matrix:\ntrack\tlength\ttype\n", out);
  for (size_t t = 0; t < crossfades.size(); ++t) {
    std::fprintf(out, "%zu\t%.1f\t%d\n", t + 1,
                 static_cast<double>(crossfades[t].length_ms),
                 crossfades[t].type);
  }
}

}  // namespace

int RunTakeloom(const std::vector<std::string>& args, std::FILE* out) {
  switch (CommandFromArgs(args)) {
    case Command::kHelp:
      std::fwrite(kUsageText.data(), 1, kUsageText.size(), out);
      return 0;
    case Command::kVersion:
      std::fwrite(kVersionText.data(), 1, kVersionText.size(), out);
      return 0;
    case Command::kUnknownOption:
      return Fail(">> Unknown option " + args[0] +
                      ", see takeloom --help, exiting\n",
                  out);
    case Command::kBuild:
      break;
  }
  std::fputs("\nTakeloom 2.00 by Quorvane\n\n", out);
  BuildState state;
  state.suffix = SuffixFromArgs(args);
  std::string err;
  if (!LoadInputs(&state, out, &err)) return Fail(err, out);
  if (!GuardInputs(state, &err)) return Fail(err, out);

  const size_t tracks = state.base_names.size();
  std::vector<TrackJob> jobs(tracks);
  std::vector<std::vector<TakeAttributes>> takes(tracks);
  if (!InspectTakes(state, &jobs, &takes, out, &err)) return Fail(err, out);
  if (!PlanTracks(&state, takes, &jobs, &err)) return Fail(err, out);
  PrintCrossfadeMatrix(state.crossfades, out);

  for (const TrackJob& job : jobs) {
    if (!AssembleTrack(job, out, &err)) return Fail(err, out);
  }
  std::fputs("\n\nDone\n\n", out);
  std::fflush(out);
  return 0;
}

}  // namespace takeloom

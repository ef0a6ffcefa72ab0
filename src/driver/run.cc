#include "driver/run.h"

#include <sys/resource.h>

#include <algorithm>
#include <filesystem>

#include "driver/assemble.h"
#include "driver/dir_lock.h"
#include "driver/guard.h"
#include "driver/messages.h"
#include "driver/plan.h"
#include "driver/setup.h"
#include "driver/signals.h"
#include "driver/usage.h"
#include "wav/inspect.h"

namespace takeloom {
namespace {

int Fail(const Error& err, std::FILE* out) {
  std::fputs(Message(err).c_str(), out);
  std::fflush(out);
  if (!err.detail.empty()) std::fprintf(stderr, "takeloom: %s\n", err.detail.c_str());
  return 1;
}

// Inspects every take of every track into one job per track, refusing takes
// of a track that disagree with its first take.
Error InspectTakes(const BuildState& state, std::vector<TrackJob>* jobs,
                   std::FILE* out) {
  for (size_t t = 0; t < state.base_names.size(); ++t) {
    const std::string& base = state.base_names[t];
    TrackJob& job = (*jobs)[t];
    job.output = state.output_names[t];
    job.crossfade = state.crossfades[t];
    for (const std::string& take_name : state.edits.takes) {
      Take take{base + take_name + ".wav", {}};
      Inspection inspection;
      const Error err = GET_ATTRIBUTES(take.path, &inspection);
      if (inspection.format_chunk_missing) {
        std::fputs(kFormatChunkMissing.data(), out);
      }
      if (!err.ok()) return err;
      const bool noted = std::any_of(
          job.takes.begin(), job.takes.end(),
          [&](const Take& t) { return t.path == take.path; });
      if (inspection.data_size_unset && !noted) {
        std::fflush(out);
        std::fprintf(stderr,
                     "takeloom: note: %s has no data size (its recorder "
                     "stopped early?); reading its audio to the end of the "
                     "file\n",
                     take.path.c_str());
      }
      take.attributes = inspection.take;
      if (!job.takes.empty()) {
        const TrackFormat track = FormatOf(job.takes[0].attributes);
        const Error mismatch = CheckTakeFormat(track, take.attributes, base);
        if (!mismatch.ok()) return mismatch;
      }
      job.takes.push_back(std::move(take));
    }
  }
  return {};
}

// Plans every track: the frame-position checks first (all tracks), then
// each track's segments.
Error PlanTracks(const BuildState& state, std::vector<TrackJob>* jobs) {
  const std::vector<float>& times = state.edits.times;
  for (const TrackJob& job : *jobs) {
    const uint32_t rate = job.takes[0].attributes.sample_rate;
    if (const size_t edit = FirstUnplannableEdit(times, rate)) {
      return {Fault::kInvalidTime, "", static_cast<int64_t>(edit)};
    }
  }
  std::vector<int64_t> crossfade_frames;
  for (size_t t = 0; t < jobs->size(); ++t) {
    const auto frames =
        CrossfadeFrames(state.crossfades[t].length_ms,
                        (*jobs)[t].takes[0].attributes.sample_rate);
    if (!frames) {
      return {Fault::kInvalidCrossfade, "", static_cast<int64_t>(t + 1)};
    }
    crossfade_frames.push_back(*frames);
  }
  for (size_t t = 0; t < jobs->size(); ++t) {
    TrackJob& job = (*jobs)[t];
    const Error err =
        PlanTrack(times, job.takes, crossfade_frames[t], &job.plan);
    if (!err.ok()) return err;
  }
  return {};
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

// Where an output lands: its directory as the file system resolves it
// (links included), and its file name.
std::filesystem::path Location(const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path path(name);
  const fs::path parent = path.has_parent_path() ? path.parent_path() : ".";
  std::error_code ec;
  const fs::path directory = fs::weakly_canonical(parent, ec);
  return (ec ? parent.lexically_normal() : directory) / path.filename();
}

// Every output stays open until all are in place: one descriptor per
// track. The soft limit on open files is raised as far as the system lets
// a process raise it, so that a session of a thousand tracks still builds.
void AllowADescriptorPerTrack(size_t tracks) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(tracks) + 64;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Builds every track under its partial name, then puts them all in place:
// a run replaces all its outputs or none.
Error BuildTracks(const std::vector<TrackJob>& jobs, const RunSignals& signals,
                  std::FILE* out) {
  AllowADescriptorPerTrack(jobs.size());
  Workspace workspace;
  const std::function<bool()> stop = [&] { return signals.Pending() != 0; };
  std::vector<TrackWriter> outputs(jobs.size());
  const auto remove_all = [&] {
    for (TrackWriter& output : outputs) output.Remove();
  };
  std::vector<std::filesystem::path> locations;
  for (size_t t = 0; t < jobs.size(); ++t) {
    // A later track of the same output, however its name is spelled,
    // replaces an earlier one's build, as it would replace the file.
    locations.push_back(Location(jobs[t].output));
    for (size_t u = 0; u < t; ++u) {
      if (locations[u] == locations[t]) {
        outputs[u].Remove();
        outputs[u] = TrackWriter();
      }
    }
    if (Error err = AssembleTrack(jobs[t], &workspace, stop, out, &outputs[t]);
        !err.ok()) {
      remove_all();
      return err;
    }
  }
  // Every output is on the disk before the first is put in place, and a
  // stop that comes until then still leaves everything as it was.
  for (TrackWriter& output : outputs) {
    if (output.name().empty()) continue;
    if (Error err = output.MakeDurable(); !err.ok()) {
      remove_all();
      return err;
    }
  }
  if (stop()) {
    remove_all();
    return {Fault::kInterrupted, ""};
  }
  for (TrackWriter& output : outputs) {
    if (output.name().empty()) continue;
    if (Error err = output.Commit(); !err.ok()) {
      remove_all();
      return err;
    }
  }
  return {};
}

// The whole build, from the lock on the directory to the outputs in place.
Error Build(const std::vector<std::string>& args, const RunSignals& signals,
            std::FILE* out) {
  DirectoryLock lock;
  if (Error err = lock.Acquire(); !err.ok()) return err;
  BuildState state;
  state.suffix = SuffixFromArgs(args);
  if (Error err = LoadInputs(&state, out); !err.ok()) return err;
  if (Error err = GuardInputs(state); !err.ok()) return err;
  std::vector<TrackJob> jobs(state.base_names.size());
  if (Error err = InspectTakes(state, &jobs, out); !err.ok()) return err;
  if (Error err = PlanTracks(state, &jobs); !err.ok()) return err;
  PrintCrossfadeMatrix(state.crossfades, out);
  return BuildTracks(jobs, signals, out);
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
      return Fail({Fault::kUnknownOption, args[0]}, out);
    case Command::kBuild:
      break;
  }
  std::fputs("\nTakeloom 2.00 by Quorvane\n\n", out);
  RunSignals signals;
  const Error err = Build(args, signals, out);
  // A run stopped by a signal ends by that signal, once it has removed what
  // it wrote.
  if (const int signal = signals.Pending(); signal != 0 && !err.ok()) {
    std::fflush(out);
    signals.Die(signal);
  }
  if (!err.ok()) return Fail(err, out);
  std::fputs("\n\nDone\n\n", out);
  std::fflush(out);
  return 0;
}

}  // namespace takeloom

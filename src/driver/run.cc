#include "driver/run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "driver/assemble.h"
#include "driver/commit.h"
#include "driver/dir_lock.h"
#include "driver/dry_run.h"
#include "driver/guard.h"
#include "driver/messages.h"
#include "driver/plan.h"
#include "driver/progress.h"
#include "driver/setup.h"
#include "driver/signals.h"
#include "driver/usage.h"
#include "wav/inspect.h"

namespace takeloom {
namespace {

// Inspects every take of every track, once per distinct take name, into one
// job per track, refusing takes of a track that disagree with its first.
Error InspectTakes(const BuildState& state, std::vector<TrackJob>* jobs,
                   Reporter* reporter) {
  jobs->resize(state.base_names.size());
  for (size_t t = 0; t < state.base_names.size(); ++t) {
    TrackJob& job = (*jobs)[t];
    job.base = state.base_names[t];
    job.output = state.output_names[t];
    job.crossfade = state.crossfades[t];
    for (const std::string& path : state.take_paths[t]) {
      Take take{path, {}};
      Inspection inspection;
      const Error err = GET_ATTRIBUTES(take.path, &inspection);
      if (inspection.format_chunk_missing) {
        reporter->Warning({Fault::kNoFormatChunk, take.path});
      }
      if (!err.ok()) return err;
      if (inspection.data_size_unset) {
        reporter->Note(take.path +
                       " has no data size (its recorder stopped early?); "
                       "reading its audio to the end of the file");
      }
      take.attributes = inspection.take;
      if (!job.takes.empty()) {
        const Error mismatch = CheckTakeFormat(job.takes[0], take, job.base);
        if (!mismatch.ok()) return mismatch;
      }
      job.takes.push_back(std::move(take));
    }
  }
  return {};
}

// What planning needs of `job`.
TrackInput InputOf(const BuildState& state, const TrackJob& job) {
  return {job.takes, state.edit_takes, job.crossfade_frames,
          job.crossfade.type};
}

// One crossfade made shorter than its track's, for the notes.
struct ShortFade {
  size_t edit = 0;
  size_t track = 0;
  int64_t frames = 0;
  uint32_t rate = 0;
  Shortened why = Shortened::kNo;
  bool operator==(const ShortFade& o) const {
    return frames == o.frames && rate == o.rate && why == o.why;
  }
};

// Notes of shortened crossfades are given for this many edits at most; a
// list of a million close edits would otherwise flood the terminal.
constexpr size_t kMostShortFadeNotes = 20;

// One note per edit whose crossfade is shortened alike on every track,
// otherwise one per track, for the first edits that have one; then how
// many more there are. `fades` holds each track's first ones, which hold
// every track's share of the first edits overall.
void NoteShortFades(std::vector<ShortFade> fades, size_t total,
                    const BuildState& state, Reporter* reporter) {
  std::stable_sort(fades.begin(), fades.end(),
                   [](const ShortFade& a, const ShortFade& b) {
                     return a.edit < b.edit;
                   });
  const auto text = [](const ShortFade& f) {
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.1f ms",
                  1000.0 * static_cast<double>(f.frames) / f.rate);
    return "crossfade shortened to " + std::to_string(f.frames) +
           " frames (" + ms + "): the segment it " +
           (f.why == Shortened::kBySegmentLeft ? "leaves" : "enters") +
           " holds only " + std::to_string(f.frames) + " frames";
  };
  size_t edits = 0;
  size_t noted = 0;
  for (size_t i = 0; i < fades.size() && edits < kMostShortFadeNotes;
       ++edits) {
    size_t j = i;
    while (j < fades.size() && fades[j].edit == fades[i].edit) ++j;
    const bool alike =
        j - i == state.base_names.size() &&
        std::all_of(fades.begin() + i, fades.begin() + j,
                    [&](const ShortFade& f) { return f == fades[i]; });
    const std::string edit = "edit " + std::to_string(fades[i].edit + 1);
    if (alike) {
      reporter->Note(edit + ": " + text(fades[i]));
    } else {
      for (size_t k = i; k < j; ++k) {
        reporter->Note("track " + state.base_names[fades[k].track] + ", " +
                       edit + ": " + text(fades[k]));
      }
    }
    noted += j - i;
    i = j;
  }
  if (total > noted) {
    reporter->Note(std::to_string(total - noted) +
                   " more crossfades shortened; takeloom -n shows each");
  }
}

// Plans every track once before anything is written: the frame-position
// checks first (all tracks), then each track's plan, whose failures and
// shortened crossfades are reported now. Plans are made again, one at a
// time, as tracks are built, so that memory grows with the edit list and
// not with tracks x edits.
Error PlanTracks(const BuildState& state, std::vector<TrackJob>* jobs,
                 Reporter* reporter) {
  const std::vector<float>& times = state.edits.times;
  for (const TrackJob& job : *jobs) {
    const uint32_t rate = job.takes[0].attributes.sample_rate;
    if (const size_t edit = FirstUnplannableEdit(times, rate)) {
      char detail[128];
      std::snprintf(detail, sizeof detail,
                    "edit %zu: %g s lies beyond the frames a take at %u Hz "
                    "can count",
                    edit, static_cast<double>(times[edit - 1]), rate);
      return {Fault::kInvalidTime, "", static_cast<int64_t>(edit), detail};
    }
  }
  for (size_t t = 0; t < jobs->size(); ++t) {
    const auto frames =
        CrossfadeFrames(state.crossfades[t].length_ms,
                        (*jobs)[t].takes[0].attributes.sample_rate);
    if (!frames) {
      return {Fault::kInvalidCrossfade, "", static_cast<int64_t>(t + 1)};
    }
    (*jobs)[t].crossfade_frames = *frames;
  }
  std::vector<ShortFade> short_fades;
  size_t short_total = 0;
  int64_t audio_bytes = 0;
  for (size_t t = 0; t < jobs->size(); ++t) {
    const TrackJob& job = (*jobs)[t];
    TrackPlan plan;
    const Error err = PlanTrack(times, InputOf(state, job), &plan);
    if (!err.ok()) return err;
    size_t kept = 0;
    for (const Operation& op : plan.operations) {
      if (op.kind != OpKind::kCrossfade || op.shortened == Shortened::kNo) {
        continue;
      }
      ++short_total;
      if (kept++ < kMostShortFadeNotes) {
        short_fades.push_back({op.edit, t, op.frames, plan.format.sample_rate,
                               op.shortened});
      }
    }
    audio_bytes += plan.length * plan.format.FrameSize();
  }
  reporter->Planned(state.crossfades, audio_bytes);
  NoteShortFades(std::move(short_fades), short_total, state, reporter);
  return {};
}

// Whether standard output and standard error are the same terminal.
bool SameTerminal() {
  struct stat out {}, err {};
  return ::isatty(STDOUT_FILENO) == 1 && ::fstat(STDOUT_FILENO, &out) == 0 &&
         ::fstat(STDERR_FILENO, &err) == 0 && out.st_rdev == err.st_rdev;
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

// Builds every track under its partial name, then puts them all in place:
// a run replaces all its outputs or none.
Error BuildTracks(const BuildState& state, const std::vector<TrackJob>& jobs,
                  const RunSignals& signals, Reporter* reporter) {
  Workspace workspace;
  // Asking the kernel costs a system call: a build of many short segments
  // asks before each of millions of writes, so a stop is looked for at
  // most every few milliseconds, which a person cannot tell apart.
  auto asked = std::chrono::steady_clock::now();
  bool stopping = false;
  const std::function<bool()> stop = [&] {
    const auto now = std::chrono::steady_clock::now();
    if (!stopping && now - asked >= std::chrono::milliseconds(5)) {
      asked = now;
      stopping = signals.Pending() != 0;
    }
    return stopping;
  };
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
    TrackPlan plan;
    Error err = PlanTrack(state.edits.times, InputOf(state, jobs[t]), &plan);
    if (err.ok()) {
      err = AssembleTrack(jobs[t], plan, &workspace, stop, reporter,
                          &outputs[t]);
    }
    if (!err.ok()) {
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
  if (signals.Pending() != 0) {
    remove_all();
    return {Fault::kInterrupted, ""};
  }
  std::vector<PendingOutput> pending;
  for (TrackWriter& output : outputs) {
    if (output.name().empty()) continue;
    const std::optional<FileId> id = output.id();
    if (Error err = output.Release(); !err.ok() || !id) {
      remove_all();
      for (const PendingOutput& p : pending) ::unlink(p.partial.c_str());
      return err.ok() ? Error{Fault::kCannotWrite, output.name()} : err;
    }
    pending.push_back({output.path(), output.name(), *id});
  }
  return CommitOutputs(pending);
}

// Shows every track's plan, made again one track at a time.
void ShowPlans(const BuildState& state, const std::vector<TrackJob>& jobs,
               Reporter* reporter) {
  for (const TrackJob& job : jobs) {
    TrackPlan plan;
    PlanTrack(state.edits.times, InputOf(state, job), &plan);
    reporter->TrackPlanned(job, plan, state.edits.times);
  }
}

// The whole run, from the lock on the directory to the outputs in place,
// or to the plans shown for a dry run.
Error Build(const CommandLine& line, const RunSignals& signals,
            Reporter* reporter) {
  DirectoryLock lock;
  if (Error err = lock.Acquire(); !err.ok()) return err;
  // A dry run writes nothing: an interrupted run's renames wait for the
  // next build.
  if (!line.dry_run) {
    Recovery recovery;
    if (Error err = RecoverCommit(&recovery); !err.ok()) return err;
    if (recovery.found) reporter->Recovered(recovery);
  }
  BuildState state;
  state.suffix = line.suffix;
  state.takes = line.takes;
  state.dry_run = line.dry_run;
  if (Error err = LoadInputs(&state, reporter); !err.ok()) return err;
  if (Error err = GuardInputs(state); !err.ok()) return err;
  std::vector<std::unique_ptr<DirectoryLock>> output_locks;
  if (Error err = LockOutputDirectories(state.output_names, &output_locks);
      !err.ok()) {
    return err;
  }
  std::vector<TrackJob> jobs;
  if (Error err = InspectTakes(state, &jobs, reporter); !err.ok()) return err;
  if (Error err = PlanTracks(state, &jobs, reporter); !err.ok()) return err;
  if (line.dry_run) {
    ShowPlans(state, jobs, reporter);
    return {};
  }
  return BuildTracks(state, jobs, signals, reporter);
}

}  // namespace

int RunTakeloom(const std::vector<std::string>& args, std::FILE* out) {
  CommandLine line;
  const Error parsed = ParseCommandLine(args, &line);
  ConsoleReporter console(out, stderr);
  DryRunReporter dry_run(out, stderr);
  Reporter* words = line.dry_run ? &dry_run : &console;
  if (!parsed.ok()) {
    words->Failed(parsed);
    return 1;
  }
  if (line.command == Command::kHelp) {
    std::fwrite(kUsageText.data(), 1, kUsageText.size(), out);
    return 0;
  }
  if (line.command == Command::kVersion) {
    std::fwrite(kVersionText.data(), 1, kVersionText.size(), out);
    return 0;
  }
  // The progress line is for a person watching a build on a terminal.
  const bool terminal = ::isatty(STDERR_FILENO) == 1 && !line.dry_run;
  ProgressLine progress(stderr, terminal && SameTerminal());
  ReporterList both({&progress, words});
  Reporter* reporter = terminal ? &both : words;

  reporter->Started();
  RunSignals signals;
  const Error err = Build(line, signals, reporter);
  // A run stopped by a signal ends by that signal, once it has removed what
  // it wrote.
  if (const int signal = signals.Pending(); signal != 0 && !err.ok()) {
    std::fflush(out);
    signals.Die(signal);
  }
  if (!err.ok()) {
    reporter->Failed(err);
    return 1;
  }
  reporter->Finished();
  return 0;
}

}  // namespace takeloom

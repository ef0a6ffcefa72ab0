#include "driver/run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <new>

#include "driver/assemble.h"
#include "driver/guard.h"
#include "driver/open_files.h"
#include "driver/plan.h"
#include "driver/prepare.h"
#include "driver/report_file.h"
#include "driver/setup.h"
#include "driver/usage.h"
#include "os/commit.h"
#include "os/dir_lock.h"
#include "os/identity.h"
#include "os/process.h"
#include "os/signals.h"
#include "os/syscalls.h"
#include "report/dry_run.h"
#include "report/messages.h"
#include "report/progress.h"

namespace takeloom {
namespace {

// Builds every track under its partial name, then puts them all in place:
// a run replaces all its outputs or none. `report`, when it names a
// partial file, is put in place with them.
Error BuildTracks(const BuildState& state, const std::vector<TrackJob>& jobs,
                  const RunSignals& signals, Reporter* reporter,
                  const PendingOutput& report) {
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
  // Removes every partial file, naming any that stays.
  const auto remove = [&](TrackWriter& output) {
    if (const Error left = output.Remove(); !left.ok()) {
      reporter->Note(left.detail);
    }
  };
  const auto remove_all = [&] {
    for (TrackWriter& output : outputs) remove(output);
  };
  std::map<std::string, size_t> built;  // by where each lands
  for (size_t t = 0; t < jobs.size(); ++t) {
    // A later track of the same output, however its name is spelled,
    // replaces an earlier one's build, as it would replace the file.
    const auto [earlier, first] = built.try_emplace(PlaceOf(jobs[t].output), t);
    if (!first) {
      remove(outputs[earlier->second]);
      outputs[earlier->second] = TrackWriter();
      earlier->second = t;
    }
    TrackPlan plan;
    std::vector<int64_t> points;
    Error err = EditFrames(state.edits,
                           jobs[t].takes[0].attributes.sample_rate, &points);
    if (err.ok()) err = PlanTrack(points, InputOf(state, jobs[t]), &plan);
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
  // What the commit needs is gathered before the first writer lets go of
  // its file, so that memory running out leaves every partial file with a
  // writer that removes it.
  std::vector<PendingOutput> pending;
  for (TrackWriter& output : outputs) {
    if (output.name().empty()) continue;
    const std::optional<Identity> id = output.id();
    if (!id) {
      remove_all();
      return {Fault::kCannotWrite, output.name()};
    }
    pending.push_back({output.path(), output.name(), *id});
  }
  for (size_t released = 0, i = 0; i < outputs.size(); ++i) {
    if (outputs[i].name().empty()) continue;
    if (Error err = outputs[i].Release(); !err.ok()) {
      remove_all();
      for (size_t p = 0; p < released; ++p) {
        if (Names(pending[p].partial, pending[p].id)) {
          Sys().Unlink(pending[p].partial.c_str());
        }
      }
      return err;
    }
    ++released;
  }
  if (!report.partial.empty()) pending.push_back(report);
  std::vector<std::string> notes;
  const Error err = CommitOutputs(pending, &notes);
  for (const std::string& note : notes) reporter->Note(note);
  return err;
}

// The whole run, from the lock on the directory to the outputs in place,
// or to the plans shown for a dry run, as `state`'s command line asks.
Error BuildIn(BuildState* state_out, const std::vector<std::string>& args,
              const RunSignals& signals, Reporter* reporter) {
  BuildState& state = *state_out;
  const CommandLine& line = state.line;
  DirectoryLock lock;
  if (Error err = lock.Acquire(); !err.ok()) return err;
  // A dry run writes nothing: an interrupted run's renames wait for the
  // next build.
  if (!line.dry_run) {
    Recovery recovery;
    if (Error err = RecoverCommit(&recovery); !err.ok()) return err;
    if (recovery.found) reporter->Recovered(recovery);
  }
  if (Error err = LoadInputs(&state, reporter); !err.ok()) return err;
  if (Error err = GuardInputs(state); !err.ok()) return err;
  std::vector<std::unique_ptr<DirectoryLock>> output_locks;
  std::vector<std::string> written = state.output_names;
  if (!line.report.empty()) written.push_back(line.report);
  if (Error err = LockOutputDirectories(written, &output_locks); !err.ok()) {
    return err;
  }
  std::vector<TrackJob> jobs;
  if (Error err = InspectTakes(state, &jobs, reporter); !err.ok()) return err;
  if (Error err = PlanTracks(state, &jobs, reporter); !err.ok()) return err;
  if (line.dry_run) {
    ShowPlans(state, jobs, reporter);
    return line.report.empty()
               ? Error()
               : WriteReportAlone(line.report, state, jobs, args);
  }
  // The report reads only a few frames around each edit point, so it is
  // written before the tracks, and put in place with them or not at all.
  PendingOutput report;
  if (!line.report.empty()) {
    if (Error err = WriteReportPartial(line.report, state, jobs, args, &report);
        !err.ok()) {
      return err;
    }
  }
  const Error err = BuildTracks(state, jobs, signals, reporter, report);
  if (!err.ok() && !report.partial.empty()) {
    Sys().Unlink(report.partial.c_str());
  }
  return err;
}

// The run, with what the user needs to know of a run that could not open
// the files it needs or ran out of memory. The stack unwound from a failed
// allocation has closed and removed what the run had written (every writer
// removes the file it owns), and freed what it held, so the message can
// be printed.
Error Build(const CommandLine& line, const std::vector<std::string>& args,
            const RunSignals& signals, Reporter* reporter) {
  BuildState state;
  state.line = line;
  Error err;
  try {
    err = BuildIn(&state, args, signals, reporter);
  } catch (const std::bad_alloc&) {
    return {Fault::kOutOfMemory, "", 0,
            "an allocation failed: this run needs more memory than it may "
            "use (see ulimit -v); nothing it wrote is left"};
  }
  if (err.fault == Fault::kTooManyOpenFiles) return ExplainOpenFiles(err, state);
  return err;
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
  const bool terminal = IsTerminal(fileno(stderr)) && !line.dry_run;
  ProgressLine progress(
      stderr, fileno(stderr),
      terminal && SameTerminal(fileno(out), fileno(stderr)) ? out : nullptr);
  ReporterList both({&progress, words});
  Reporter* reporter = terminal ? &both : words;

  reporter->Started();
  RunSignals signals;
  const Error err = Build(line, args, signals, reporter);
  // A run stopped by a signal ends by that signal, once it has removed what
  // it wrote.
  if (const int signal = signals.Pending(); signal != 0 && !err.ok()) {
    reporter->Stopped();
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

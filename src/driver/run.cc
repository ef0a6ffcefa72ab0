#include "driver/run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

#include "driver/assemble.h"
#include "driver/guard.h"
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
  const auto remove_all = [&] {
    for (TrackWriter& output : outputs) output.Remove();
  };
  std::map<std::string, size_t> built;  // by where each lands
  for (size_t t = 0; t < jobs.size(); ++t) {
    // A later track of the same output, however its name is spelled,
    // replaces an earlier one's build, as it would replace the file.
    const auto [earlier, first] = built.try_emplace(PlaceOf(jobs[t].output), t);
    if (!first) {
      outputs[earlier->second].Remove();
      outputs[earlier->second] = TrackWriter();
      earlier->second = t;
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
    const std::optional<Identity> id = output.id();
    if (Error err = output.Release(); !err.ok() || !id) {
      remove_all();
      for (const PendingOutput& p : pending) Sys().Unlink(p.partial.c_str());
      return err.ok() ? Error{Fault::kCannotWrite, output.name()} : err;
    }
    pending.push_back({output.path(), output.name(), *id});
  }
  if (!report.partial.empty()) pending.push_back(report);
  return CommitOutputs(pending);
}

// The whole run, from the lock on the directory to the outputs in place,
// or to the plans shown for a dry run.
Error Build(const CommandLine& line, const std::vector<std::string>& args,
            const RunSignals& signals, Reporter* reporter) {
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
  state.report = line.report;
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
  const bool terminal = IsTerminal(STDERR_FILENO) && !line.dry_run;
  ProgressLine progress(stderr, terminal && SameTerminal(STDOUT_FILENO, STDERR_FILENO));
  ReporterList both({&progress, words});
  Reporter* reporter = terminal ? &both : words;

  reporter->Started();
  RunSignals signals;
  const Error err = Build(line, args, signals, reporter);
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

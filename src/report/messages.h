// The words of the run: every failure the layers below return becomes here
// the text the user reads, so that each message is written once; and the
// one interface through which the run reports what it does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "inputs/params.h"

namespace takeloom {

// The message for `err`, with its line end. It ends the run, except that a
// parameter template that could not be written is only reported.
std::string Message(const Error& err);

// Lines the run prints and goes on.
inline constexpr std::string_view kFormatChunkMissing =
    ">> Can't find format chunk in wave file!\n";
// What begins each track's line of edit numbers ("edits: 1 2 3 ").
inline constexpr std::string_view kEditsLead = "edits: ";

struct EditList;
struct Recovery;
struct TrackJob;
struct TrackPlan;

// Everything the user reads goes through a Reporter: the run tells it what
// happens, and the reporter chooses the words and where they go. Every
// event does nothing unless an implementation says otherwise, so a quiet
// reporter is the base class itself.
class Reporter {
 public:
  virtual ~Reporter() = default;

  virtual void Started() {}
  // An interrupted run's outputs were put in place (or back) first.
  virtual void Recovered(const Recovery& /*recovery*/) {}
  // The lists are read: `tracks` tracks, `edits` edit points.
  virtual void Loaded(size_t /*tracks*/, size_t /*edits*/) {}
  // A problem the run reports and goes past.
  virtual void Warning(const Error& /*err*/) {}
  // Something the user may want to know that changes nothing.
  virtual void Note(const std::string& /*text*/) {}
  // Every track is planned; `audio_bytes` is what the build will write.
  virtual void Planned(const std::vector<CrossfadeSetting>& /*crossfades*/,
                       int64_t /*audio_bytes*/) {}
  // One track's plan, made from `edits`, for a reporter that shows plans.
  virtual void TrackPlanned(const TrackJob& /*job*/, const TrackPlan& /*plan*/,
                            const EditList& /*edits*/) {}
  virtual void TrackStarted(const std::string& /*output*/) {}
  // The current track's output file is created: its edits follow. A track
  // whose output cannot be created is reported before this.
  virtual void OutputCreated() {}
  // Edit `edit` (from 1) of the current track begins.
  virtual void EditStarted(size_t /*edit*/) {}
  // The crossfade into edit `edit` (from 1) of the current track is laid
  // over it; `clipped` of its samples went beyond full scale.
  virtual void CrossfadeRendered(size_t /*edit*/, int64_t /*clipped*/) {}
  virtual void BytesDone(int64_t /*bytes*/) {}
  virtual void Failed(const Error& /*err*/) {}
  // A signal stopped the run, once it had put everything back as it was.
  virtual void Stopped() {}
  virtual void Finished() {}
};

// The run's own text: standard output as it has always read, and details
// and notes on standard error.
class ConsoleReporter : public Reporter {
 public:
  ConsoleReporter(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  void Started() override;
  void Recovered(const Recovery& recovery) override;
  void Loaded(size_t tracks, size_t edits) override;
  void Warning(const Error& err) override;
  void Note(const std::string& text) override;
  void Planned(const std::vector<CrossfadeSetting>& crossfades,
               int64_t audio_bytes) override;
  void TrackStarted(const std::string& output) override;
  void OutputCreated() override;
  void EditStarted(size_t edit) override;
  void Failed(const Error& err) override;
  void Stopped() override;
  void Finished() override;

 protected:
  void Detail(const Error& err);

  std::FILE* out_;
  std::FILE* err_;
};

// Passes every event on to each of several reporters, in order.
class ReporterList : public Reporter {
 public:
  explicit ReporterList(std::vector<Reporter*> reporters)
      : reporters_(std::move(reporters)) {}

  void Started() override { Each(&Reporter::Started); }
  void Recovered(const Recovery& recovery) override {
    Each(&Reporter::Recovered, recovery);
  }
  void Loaded(size_t tracks, size_t edits) override {
    Each(&Reporter::Loaded, tracks, edits);
  }
  void Warning(const Error& err) override { Each(&Reporter::Warning, err); }
  void Note(const std::string& text) override { Each(&Reporter::Note, text); }
  void Planned(const std::vector<CrossfadeSetting>& crossfades,
               int64_t audio_bytes) override {
    Each(&Reporter::Planned, crossfades, audio_bytes);
  }
  void TrackPlanned(const TrackJob& job, const TrackPlan& plan,
                    const EditList& edits) override {
    Each(&Reporter::TrackPlanned, job, plan, edits);
  }
  void TrackStarted(const std::string& output) override {
    Each(&Reporter::TrackStarted, output);
  }
  void OutputCreated() override { Each(&Reporter::OutputCreated); }
  void EditStarted(size_t edit) override { Each(&Reporter::EditStarted, edit); }
  void CrossfadeRendered(size_t edit, int64_t clipped) override {
    Each(&Reporter::CrossfadeRendered, edit, clipped);
  }
  void BytesDone(int64_t bytes) override { Each(&Reporter::BytesDone, bytes); }
  void Failed(const Error& err) override { Each(&Reporter::Failed, err); }
  void Stopped() override { Each(&Reporter::Stopped); }
  void Finished() override { Each(&Reporter::Finished); }

 private:
  template <typename Event, typename... Args>
  void Each(Event event, const Args&... args) {
    for (Reporter* reporter : reporters_) (reporter->*event)(args...);
  }

  std::vector<Reporter*> reporters_;
};

}  // namespace takeloom

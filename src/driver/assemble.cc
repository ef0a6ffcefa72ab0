#include "driver/assemble.h"

#include <optional>

#include "driver/setup.h"
#include "report/quoted.h"
#include "wav/copy.h"
#include "wav/header.h"

namespace takeloom {
namespace {

// Carries out one track's plan through its output's writer; the caller
// removes what a failure leaves.
class TrackBuilder {
 public:
  TrackBuilder(const TrackJob& job, const TrackPlan& plan,
               Workspace* workspace, const std::function<bool()>& stop,
               Reporter* reporter, TrackWriter* output)
      : job_(job),
        plan_(plan),
        workspace_(*workspace),
        stop_(stop),
        reporter_(*reporter),
        output_(*output),
        takes_(job.takes.size()) {}

  Error Run();
  // Removes the temporary file, if this track made one, naming it when it
  // stays.
  void RemoveTemp() { Left(temp_.Remove()); }
  // Says which file of the track's stays, and why.
  void Left(const Error& err) {
    if (!err.ok()) reporter_.Note(err.detail);
  }

 private:
  Error Carry(const Operation& op);
  // The take at `index`, opened the first time the track needs it.
  Error Open(size_t index, const TakeReader** reader);
  Error Crossfade(const Operation& op);

  const TrackJob& job_;
  const TrackPlan& plan_;
  Workspace& workspace_;
  const std::function<bool()>& stop_;
  Reporter& reporter_;
  TrackWriter& output_;
  std::vector<std::optional<TakeReader>> takes_;
  TrackWriter temp_;
  bool temp_made_ = false;
};

Error TrackBuilder::Run() {
  reporter_.TrackStarted(job_.output);
  // The header keeps what the recorder of the take heard first wrote, and
  // puts the audio where that take has it within a block.
  HeaderExtras extras;
  if (plan_.first_heard) {
    const Take& take = job_.takes[*plan_.first_heard];
    extras = HeaderExtrasOf(take.path, take.attributes);
  }
  Error err = output_.CreatePartial(job_.output, plan_.format, plan_.length, extras);
  if (!err.ok()) return err;
  reporter_.OutputCreated();
  output_.StopWhen(stop_);
  for (const Operation& op : plan_.operations) {
    if (err = Carry(op); !err.ok()) return err;
  }
  if (temp_made_) {
    if (err = temp_.Finish(); !err.ok()) return err;
    RemoveTemp();
  }
  // A take written into while it was read gave this track other audio.
  for (const std::optional<TakeReader>& take : takes_) {
    if (take) {
      if (err = take->Recheck(); !err.ok()) return err;
    }
  }
  return output_.Finish();
}

Error TrackBuilder::Carry(const Operation& op) {
  Error err;
  switch (op.kind) {
    case OpKind::kEdit:
      reporter_.EditStarted(op.edit + 1);
      return {};
    case OpKind::kSilence:
      err = PAD_FILE(output_, op.start, op.frames);
      break;
    case OpKind::kCopy: {
      const TakeReader* take = nullptr;
      if (err = Open(op.take, &take); !err.ok()) return err;
      err = INSERT_FILE(output_, *take, op.start, op.frames, op.start,
                        workspace_.copy());
      break;
    }
    case OpKind::kCrossfade:
      err = Crossfade(op);
      break;
  }
  if (err.ok()) reporter_.BytesDone(op.frames * plan_.format.FrameSize());
  return err;
}

Error TrackBuilder::Open(size_t index, const TakeReader** reader) {
  std::optional<TakeReader>& slot = takes_[index];
  if (!slot) {
    const Take& take = job_.takes[index];
    TakeReader opened;
    if (Error err = opened.Open(take.path, take.attributes); !err.ok()) {
      return err;
    }
    slot = std::move(opened);
  }
  *reader = &*slot;
  return {};
}

Error TrackBuilder::Crossfade(const Operation& op) {
  const TakeReader* previous = nullptr;
  const TakeReader* next = nullptr;
  Error err = Open(op.from, &previous);
  if (err.ok()) err = Open(op.take, &next);
  if (!err.ok()) return err;
  // Every crossfade of the track is rendered into one temporary file,
  // made at the first and removed once the track is built.
  if (!temp_made_) {
    err = temp_.Create(std::string(kTempFileName), plan_.format,
                       plan_.crossfade_frames);
    temp_made_ = err.ok();
    if (!err.ok()) return err;
    temp_.StopWhen(stop_);
  }
  int64_t beyond = 0;
  err = RenderCrossfade(*previous, *next, op.start, op.frames,
                        plan_.crossfade_type, &temp_, &output_,
                        &workspace_.crossfade(), &beyond);
  if (!err.ok()) return err;
  if (beyond > 0) {
    // Two takes near full scale, in phase, add up past it under the
    // constant-power curve; the audio stays as blended, but the engineer
    // should hear that edit again.
    const bool floats = plan_.format.format == SampleFormat::kFloat;
    reporter_.Note(job_.output + ", edit " + std::to_string(op.edit + 1) +
                   ": the crossfade goes beyond full scale in " +
                   std::to_string(beyond) +
                   (beyond == 1 ? " sample" : " samples") +
                   (floats ? " (kept beyond 1.0 as floats)"
                           : " (held at full scale)"));
  }
  reporter_.CrossfadeRendered(op.edit + 1, beyond);
  return {};
}

}  // namespace

Error AssembleTrack(const TrackJob& job, const TrackPlan& plan,
                    Workspace* workspace, const std::function<bool()>& stop,
                    Reporter* reporter, TrackWriter* output) {
  TrackBuilder builder(job, plan, workspace, stop, reporter, output);
  const Error err = builder.Run();
  if (!err.ok()) {
    builder.RemoveTemp();
    builder.Left(output->Remove());
  }
  return err;
}

}  // namespace takeloom

#include "driver/assemble.h"

#include <algorithm>

#include "driver/messages.h"
#include "driver/setup.h"
#include "wav/copy.h"
#include "wav/header.h"

namespace takeloom {
namespace {

// Builds one track through its output's writer; the caller removes what a
// failure leaves.
class TrackBuilder {
 public:
  TrackBuilder(const TrackJob& job, Workspace* workspace,
               const std::function<bool()>& stop, std::FILE* out,
               TrackWriter* output)
      : job_(job),
        plan_(job.plan),
        workspace_(*workspace),
        stop_(stop),
        out_(out),
        output_(*output) {}

  Error Run();

 private:
  Error Edit(size_t o);
  Error EditWithTemp(size_t o, TrackWriter* temp);

  const TrackJob& job_;
  const TrackPlan& plan_;
  Workspace& workspace_;
  const std::function<bool()>& stop_;
  std::FILE* out_;
  TrackWriter& output_;
};

Error TrackBuilder::Run() {
  std::fprintf(out_, "\n\nBuilding to %s\n", job_.output.c_str());
  // The header keeps what the recorder of the take heard first wrote.
  HeaderExtras extras;
  const auto heard = std::find_if(plan_.segments.begin(), plan_.segments.end(),
                                  [](const Segment& s) { return s.length > 0; });
  Error err;
  if (heard != plan_.segments.end()) {
    const Take& take = job_.takes[heard - plan_.segments.begin()];
    err = ReadHeaderExtras(take.path, take.attributes, &extras);
    if (!err.ok()) return err;
  }
  err = output_.CreatePartial(job_.output, plan_.format, plan_.length, extras);
  if (!err.ok()) return err;
  output_.StopWhen(stop_);
  std::fputs("edits: ", out_);
  for (size_t o = 0; o < plan_.segments.size(); ++o) {
    if (err = Edit(o); !err.ok()) return err;
  }
  // The output holds every frame its header declares, whatever the edits
  // reached.
  const int64_t frames_written = output_.end() / output_.frame_size();
  if (frames_written < plan_.length) {
    err = PAD_FILE(output_, frames_written, plan_.length - frames_written);
    if (!err.ok()) return err;
  }
  return output_.Finish();
}

Error TrackBuilder::Edit(size_t o) {
  std::fprintf(out_, "%zu ", o + 1);
  std::fflush(out_);
  if (plan_.segments[o].length <= 0) return {};
  // The temporary file is recreated for every edit with a segment, and
  // removed once the edit is written, also after a failure.
  TrackWriter temp;
  Error err = temp.Create(std::string(kTempFileName), plan_.format,
                          plan_.crossfade_frames);
  temp.StopWhen(stop_);
  if (err.ok()) err = EditWithTemp(o, &temp);
  if (err.ok()) err = temp.Finish();
  temp.Remove();
  return err;
}

Error TrackBuilder::EditWithTemp(size_t o, TrackWriter* temp) {
  const Segment& segment = plan_.segments[o];
  const int64_t x = plan_.crossfade_frames;
  const int64_t xs = segment.start - x / 2;
  CrossfadeWindows windows;
  bool overlay =
      CrossfadeEligible(o, job_.crossfade.type, segment.start, x);
  if (overlay) {
    const Error placed = PlaceCrossfade(job_.takes[o - 1], job_.takes[o],
                                        segment.start, x, &windows);
    if (!placed.ok()) {
      // The hard cut stays at this edit point.
      const std::string note = CrossfadeNote(placed);
      if (!note.empty()) std::fprintf(out_, "%s\n", note.c_str());
      std::fputs(kCrossfadeFailed.data(), out_);
      overlay = false;
    }
  }
  Error err;
  if (o == 0 && plan_.lead_in != 0) {
    if (err = PAD_FILE(output_, 0, plan_.lead_in); !err.ok()) return err;
  }
  // The segment's take is the crossfade's next take: it is open already
  // when the crossfade was placed.
  TakeReader opened;
  if (!overlay) {
    const Take& t = job_.takes[o];
    if (err = opened.Open(t.path, t.attributes); !err.ok()) return err;
  }
  const TakeReader& take = overlay ? windows.next : opened;
  err = INSERT_FILE(output_, take, segment.start, segment.length,
                    segment.start, workspace_.copy());
  if (!err.ok()) return err;
  if (segment.silence) {
    err = PAD_FILE(output_, segment.silence_start, segment.silence_length);
    if (!err.ok()) return err;
  }
  // A crossfade that would run past the declared end is cut off there.
  if (overlay && xs > 0) {
    return RenderCrossfade(windows, x, job_.crossfade.type, temp, &output_, xs,
                           std::min(x, plan_.length - xs),
                           &workspace_.crossfade());
  }
  return {};
}

}  // namespace

bool CrossfadeEligible(size_t edit, int32_t type, int64_t start,
                       int64_t frames) {
  return edit > 0 && type != 0 &&
         static_cast<double>(start) > static_cast<double>(frames) * 0.5;
}

Error AssembleTrack(const TrackJob& job, Workspace* workspace,
                    const std::function<bool()>& stop, std::FILE* out,
                    TrackWriter* output) {
  const Error err = TrackBuilder(job, workspace, stop, out, output).Run();
  if (!err.ok()) output->Remove();
  return err;
}

}  // namespace takeloom

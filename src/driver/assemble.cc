#include "driver/assemble.h"

#include <algorithm>
#include <filesystem>

#include "driver/setup.h"
#include "dsp/crossfade.h"
#include "wav/copy.h"
#include "wav/header.h"

namespace takeloom {
namespace {

std::string CannotWrite(const std::string& path) {
  return ">> Cannot write file " + path + ", exiting\n";
}

// Writes one track; the caller cleans up after a failure.
class TrackWriter {
 public:
  TrackWriter(const TrackJob& job, std::FILE* out)
      : job_(job), out_(out), format_(job.plan.format) {}

  bool Run(std::string* err);
  // Removes what this writer created and did not finish. A file it could not
  // open stays as it was: the run never touched it.
  void RemoveUnfinished() const;

 private:
  bool Edit(size_t o, std::string* err);
  // Maps a copy or silence outcome to the run's message.
  bool Check(CopyResult result, bool padding, const std::string& source,
             std::string* err) const;
  bool Pad(int64_t start, int64_t frames, std::string* err);
  bool Copy(const std::string& source, int64_t destination_frame,
            int64_t frames, int64_t source_frame, std::string* err);

  const TrackJob& job_;
  std::FILE* out_;
  const TrackFormat format_;
  const std::string temp_{kTempFileName};
  int64_t written_end_ = 0;  // end of the furthest frame written so far
  bool output_created_ = false;
  bool temp_created_ = false;
};

bool TrackWriter::Run(std::string* err) {
  const TrackPlan& plan = job_.plan;
  std::fprintf(out_, "\n\nBuilding to %s\n", job_.output.c_str());
  if (!MAKE_HEADER(job_.output, format_.sample_rate, format_.bits_per_sample,
                   plan.length, format_.channels, format_.format)) {
    *err = CannotWrite(job_.output);
    return false;
  }
  output_created_ = true;
  std::fputs("edits: ", out_);
  for (size_t o = 0; o < plan.segments.size(); ++o) {
    if (!Edit(o, err)) return false;
  }
  // The output holds every frame its header declares, whatever the edits
  // reached.
  if (written_end_ < plan.length) {
    return Pad(written_end_, plan.length - written_end_, err);
  }
  return true;
}

bool TrackWriter::Edit(size_t o, std::string* err) {
  const TrackPlan& plan = job_.plan;
  const Segment& segment = plan.segments[o];
  const int64_t x = plan.crossfade_frames;
  std::fprintf(out_, "%zu ", o + 1);
  std::fflush(out_);
  if (segment.length <= 0) return true;

  if (!MAKE_HEADER(temp_, format_.sample_rate, format_.bits_per_sample, x,
                   format_.channels, format_.format)) {
    *err = CannotWrite(temp_);
    return false;
  }
  temp_created_ = true;
  bool overlay = CrossfadeEligible(o, job_.crossfade.type, segment.start, x);
  const int64_t xs = segment.start - x / 2;
  if (overlay) {
    const CrossfadeResult result = CROSSFADE(
        segment.start, segment.start, x, job_.crossfade.type,
        job_.take_paths[o - 1], job_.take_paths[o], temp_,
        static_cast<int32_t>(format_.channels),
        static_cast<int32_t>(format_.bytes_per_sample), format_.format);
    // The temporary file is one of the run's outputs: failing to open or
    // write it ends the run, while a fault of a take leaves a hard cut.
    if (result.code == kCrossfadeWriteFailed ||
        result.code == kCrossfadeTempUnopened) {
      *err = CannotWrite(temp_);
      return false;
    }
    if (!result.message.empty()) std::fprintf(out_, "%s\n", result.message.c_str());
    if (result.code != 0) {
      // The hard cut stays at this edit point.
      std::fputs("Crossfade failed.\n", out_);
      overlay = false;
    }
  }
  if (o == 0 && plan.lead_in != 0 && !Pad(0, plan.lead_in, err)) return false;
  if (!Copy(job_.take_paths[o], segment.start, segment.length, segment.start,
            err)) {
    return false;
  }
  if (segment.silence &&
      !Pad(segment.silence_start, segment.silence_length, err)) {
    return false;
  }
  // A crossfade that would run past the declared end is cut off there.
  if (overlay && xs > 0 &&
      !Copy(temp_, xs, std::min(x, plan.length - xs), 0, err)) {
    return false;
  }
  std::error_code ec;
  std::filesystem::remove(temp_, ec);
  temp_created_ = false;
  return true;
}

void TrackWriter::RemoveUnfinished() const {
  std::error_code ec;
  if (output_created_) std::filesystem::remove(job_.output, ec);
  if (temp_created_) std::filesystem::remove(temp_, ec);
}

bool TrackWriter::Check(CopyResult result, bool padding,
                        const std::string& source, std::string* err) const {
  switch (result) {
    case CopyResult::kOk:
      return true;
    case CopyResult::kNoDataBlock:
      *err = padding ? "Can't find data block in wave file!\n"
                     : ">> Can't find data block in wave file, exiting\n";
      return false;
    case CopyResult::kSourceUnreadable:
      *err = source == temp_ ? CannotWrite(temp_)
                             : ">> Cannot find file called " + source +
                                   ", exiting\n";
      return false;
    case CopyResult::kDestinationFailed:
      *err = CannotWrite(job_.output);
      return false;
  }
  return false;
}

bool TrackWriter::Pad(int64_t start, int64_t frames, std::string* err) {
  if (frames > 0) written_end_ = std::max(written_end_, start + frames);
  return Check(PAD_FILE(job_.output, start, format_.bytes_per_sample,
                        format_.channels, frames),
               true, "", err);
}

bool TrackWriter::Copy(const std::string& source, int64_t destination_frame,
                       int64_t frames, int64_t source_frame,
                       std::string* err) {
  if (frames > 0) {
    written_end_ = std::max(written_end_, destination_frame + frames);
  }
  return Check(INSERT_FILE(job_.output, source, destination_frame,
                           format_.bytes_per_sample, format_.channels, frames,
                           source_frame),
               false, source, err);
}

}  // namespace

bool CrossfadeEligible(size_t edit, int32_t type, int64_t start,
                       int64_t frames) {
  return edit > 0 && type != 0 &&
         static_cast<double>(start) > static_cast<double>(frames) * 0.5;
}

bool AssembleTrack(const TrackJob& job, std::FILE* out, std::string* err) {
  TrackWriter writer(job, out);
  if (writer.Run(err)) return true;
  writer.RemoveUnfinished();
  return false;
}

}  // namespace takeloom

// One file the tool writes (a finished track, or the temporary crossfade
// file), owned by one writer from its header to its close. The writer knows
// where the audio starts because it wrote the header; offsets count bytes
// from the first audio byte. An output is written under a partial name and
// put in place whole, so that its own name never shows a file half written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "error.h"
#include "os/commit.h"
#include "os/file.h"
#include "wav/header.h"
#include "wav/sample_format.h"

namespace takeloom {

class TrackWriter {
 public:
  TrackWriter() = default;
  // Removes the file this writer created unless Release() let it go, so
  // that a run unwound by an exception leaves no file of its own behind.
  // Nothing is left to report to by then: whatever stays is the run's to
  // name before it ends.
  ~TrackWriter() { (void)Remove(); }
  // The file goes with the writer; one moved over removes its own first.
  TrackWriter(TrackWriter&& other) noexcept;
  TrackWriter& operator=(TrackWriter&& other) noexcept;
  TrackWriter(const TrackWriter&) = delete;
  TrackWriter& operator=(const TrackWriter&) = delete;

  // Creates `path` new with the header for `frames` frames of `format`.
  Error Create(const std::string& path, const TrackFormat& format,
               int64_t frames);
  // The same for the output `name`, written as `name` + ".partial" until
  // Release() hands it to whatever puts it in place, with its header's
  // `extras`. Errors name
  // `name`.
  Error CreatePartial(const std::string& name, const TrackFormat& format,
                      int64_t frames, const HeaderExtras& extras = {});

  // Every write first asks `stop`; when it answers true, the write is
  // refused with kInterrupted.
  void StopWhen(std::function<bool()> stop) { stop_ = std::move(stop); }

  const std::string& name() const { return name_; }
  // The file written (an output's partial file), and which file it is.
  const std::string& path() const { return path_; }
  std::optional<Identity> id() const { return id_; }
  int64_t frame_size() const { return format_.FrameSize(); }
  // The end of the furthest byte written so far.
  int64_t end() const { return end_; }
  // Where in the file audio offset `offset` lies, for a caller that sizes
  // its blocks to end at the file's block boundaries.
  int64_t FileOffset(int64_t offset) const { return data_start_ + offset; }

  // Writes `bytes` from `offset` on; a write past the end grows the file.
  Error Write(int64_t offset, std::span<const std::byte> bytes);
  // Makes `count` bytes from `offset` on read as zero: written as zeros
  // where anything may have been written before, and left as a hole (no
  // blocks, the file grown over it) beyond.
  Error Silence(int64_t offset, int64_t count);
  // Copies up to `count` bytes of `source` from its byte `source_offset` to
  // `offset` inside the kernel, in one call, and sets `*copied` to the count
  // copied: 0 where the source ends, and 0 once the kernel has refused such
  // a copy for this output, after which kernel_copies() is false and the
  // caller moves the bytes with Write(). A copy that fails otherwise is a
  // failure to write the output.
  Error CopyFrom(const File& source, int64_t source_offset, int64_t offset,
                 int64_t count, int64_t* copied);
  // Whether CopyFrom() may still copy inside the kernel.
  bool kernel_copies() const { return kernel_copies_; }
  // Whether the kernel's copies share blocks with their source, as the file
  // system told after the first copy of a whole block.
  bool shares_blocks() const { return shares_blocks_; }

  // Closes the file once it is written; an output's last bytes start on
  // their way to the disk first (the earlier ones did as they were
  // written), and its partial file stays until Release() or Remove().
  Error Finish();
  // Waits until a finished output's audio is on the disk, so that once it
  // is in place no crash can leave its name with a header that promises
  // more than the file holds.
  Error MakeDurable();
  // Leaves a finished, durable partial output to whoever puts it in place:
  // Remove() no longer touches it.
  Error Release();
  // Closes the file if it is still open and removes it, if this writer
  // created it: a file it could not create stays as it was. An error names
  // a file of this writer's that stays, with the reason.
  [[nodiscard]] Error Remove();

  // Durability, renaming and removal act on the partial file only while its
  // name still stands for the file this writer created: another run that
  // replaced it (writing the same output from another directory) keeps its
  // file, and this one fails instead of putting a file it did not write in
  // place.

 private:
  // Whether the partial (or temporary) file's name still stands for the
  // file this writer created; `*error` is the system's error (or 0) when
  // the name could not be looked up.
  bool StillOurs(int* error = nullptr) const;
  // kCannotWrite for the output whose file is no longer this writer's, with
  // the reason when that could not be told.
  Error NotOurs(int error) const;
  // kCannotWrite for the output, with the system's reason.
  Error Failed() const;
  Error Open(const std::string& name, const std::string& path,
             const TrackFormat& format, int64_t frames,
             const HeaderExtras& extras);
  // Notes that bytes up to `end` have been written, starting an output's
  // writeback as it grows.
  void Wrote(int64_t end);

  std::string name_;  // what errors name
  std::string path_;  // the file written
  TrackFormat format_;
  File file_;
  std::function<bool()> stop_;
  int64_t data_start_ = 0;
  int64_t end_ = 0;
  int64_t hole_start_ = 0;  // nothing has been written in [hole_start_, end_)
  int64_t written_back_ = 0;  // an output's bytes whose writeback has begun
  bool created_ = false;
  bool partial_ = false;
  bool kernel_copies_ = true;
  bool sharing_known_ = false;
  bool shares_blocks_ = false;
  std::optional<Identity> id_;  // of the file created
  int64_t length_ = -1;       // of the file once finished
};

}  // namespace takeloom

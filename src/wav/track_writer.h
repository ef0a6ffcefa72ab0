// One file the tool writes (a finished track, or the temporary crossfade
// file), owned by one writer from its header to its close. The writer knows
// where the audio starts because it wrote the header; offsets count bytes
// from the first audio byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "error.h"
#include "wav/file.h"
#include "wav/sample_format.h"

namespace takeloom {

class TrackWriter {
 public:
  // Creates `path` with the header for `frames` frames of `format`.
  Error Create(const std::string& path, const TrackFormat& format,
               int64_t frames);

  const std::string& path() const { return path_; }
  int64_t frame_size() const { return format_.FrameSize(); }
  // The end of the furthest byte written so far.
  int64_t end() const { return end_; }
  // Where in the file audio offset `offset` lies, for a caller that sizes
  // its blocks to end at the file's block boundaries.
  int64_t FileOffset(int64_t offset) const { return data_start_ + offset; }

  // Writes `bytes` from `offset` on; a write past the end grows the file.
  Error Write(int64_t offset, std::span<const std::byte> bytes);
  // Writes `count` zero bytes from `offset` on.
  Error Silence(int64_t offset, int64_t count);

  // Closes the file; kCannotWrite when the close fails.
  Error Finish();
  // Closes the file if it is still open and removes it, if this writer
  // created it: a file it could not create stays as it was.
  void Remove();

 private:
  std::string path_;
  TrackFormat format_;
  File file_;
  int64_t data_start_ = 0;
  int64_t end_ = 0;
  bool created_ = false;
};

}  // namespace takeloom

// One open take: its audio found once, then read by byte offset into the
// audio, with zeros wherever the take holds no audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "error.h"
#include "os/file.h"
#include "wav/inspect.h"

namespace takeloom {

class TakeReader {
 public:
  // Opens the take at `path`, whose audio inspection found as `take`:
  // the chunks are walked once per run, not once per reader. kTakeChanged
  // when it cannot be opened or is no longer the file inspected.
  Error Open(const std::string& path, const TakeAttributes& take);

  const TakeAttributes& attributes() const { return take_; }
  int64_t frame_size() const { return FormatOf(take_).FrameSize(); }
  // How many bytes of audio the take holds, its whole frames.
  int64_t AudioBytes() const { return take_.frames * frame_size(); }
  // Where in the file audio offset `offset` lies (the audio starts after
  // the data chunk's header, wherever inspection found that).
  int64_t FileOffset(int64_t offset) const {
    return take_.data_start + offset;
  }
  // The open file, for a writer that copies ranges of its audio inside the
  // kernel: audio offset `offset` is at FileOffset(offset), and only
  // [0, AudioBytes()) of it is audio.
  const File& file() const { return file_; }

  // Fills `out` with the take's audio bytes from `offset`, counted from its
  // first audio byte. Bytes before or after the audio read as zero, so a
  // window past the take's end blends with silence, never with whatever
  // metadata follows the audio. kTakeChanged when the audio cannot be read
  // whole (a read error, or a take cut short since it was inspected).
  Error Read(int64_t offset, std::span<std::byte> out) const;
  // kTakeChanged unless the open file is still the one inspected, unchanged:
  // asked at the open and again after the last read, so that a take written
  // into while it was read is caught too.
  Error Recheck() const;

 private:
  std::string path_;
  File file_;
  TakeAttributes take_;
  int64_t file_length_ = 0;
};

}  // namespace takeloom

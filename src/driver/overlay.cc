#include "driver/overlay.h"

#include <algorithm>
#include <span>

#include "dsp/crossfade.h"

namespace takeloom {
namespace {

// A block holds this many bytes (but at least one frame): a crossfade of a
// few hundred milliseconds is then read and written in one or two blocks,
// and memory stays flat however many channels a frame holds.
constexpr int64_t kMaxBlockBytes = 64 * 1024;

// Where rendered bytes go: all of the window to the temporary file, and the
// part before `visible_bytes` over the output from `start_byte` on.
struct Sink {
  TrackWriter* temp;
  TrackWriter* out;
  int64_t start_byte;
  int64_t visible_bytes;

  Error Emit(int64_t window_offset, std::span<const std::byte> bytes) const {
    Error err = temp->Write(window_offset, bytes);
    if (!err.ok() || window_offset >= visible_bytes) return err;
    const int64_t shown =
        std::min(std::ssize(bytes), visible_bytes - window_offset);
    return out->Write(start_byte + window_offset,
                      bytes.first(static_cast<size_t>(shown)));
  }
};

// Copies `count` bytes of `take` from `offset` (counted from its audio) to
// the window's byte `window_offset` on, through `buffer`.
Error CopyToWindow(const TakeReader& take, int64_t offset, int64_t count,
                   int64_t window_offset, std::span<std::byte> buffer,
                   const Sink& sink) {
  for (int64_t done = 0; done < count;) {
    const auto piece = buffer.first(static_cast<size_t>(
        std::min<int64_t>(std::ssize(buffer), count - done)));
    Error err = take.Read(offset + done, piece);
    if (err.ok()) err = sink.Emit(window_offset + done, piece);
    if (!err.ok()) return err;
    done += std::ssize(piece);
  }
  return {};
}

}  // namespace

Error PlaceCrossfade(const Take& previous, const Take& next, int64_t centre,
                     int64_t length, CrossfadeWindows* windows) {
  const Error previous_open =
      windows->previous.Open(previous.path, previous.attributes);
  const Error next_open = windows->next.Open(next.path, next.attributes);
  if (!previous_open.ok()) return previous_open;
  if (!next_open.ok()) return next_open;

  int64_t first = 0;
  const bool fits = !__builtin_sub_overflow(centre, length / 2, &first);
  if (!fits || !windows->previous.BeginsInside(first)) {
    return {Fault::kWindowOutside, previous.path, 1};
  }
  if (!windows->next.BeginsInside(first)) {
    return {Fault::kWindowOutside, next.path, 2};
  }
  windows->first_frame = first;
  return {};
}

Error RenderCrossfade(const CrossfadeWindows& windows, int64_t length,
                      int32_t type, TrackWriter* temp, TrackWriter* out,
                      int64_t start, int64_t visible,
                      CrossfadeScratch* scratch) {
  const TrackFormat format = FormatOf(windows.previous.attributes());
  const int64_t frame_size = format.FrameSize();
  if (length <= 0 || frame_size <= 0) return {};
  const Sink sink{temp, out, start * frame_size,
                  std::max<int64_t>(0, visible) * frame_size};
  const int64_t first_byte = windows.first_frame * frame_size;
  if (!CanBlend(format) || !HasCurve(type)) {
    // The hard cut at the centre frame: the previous take's frames before
    // it, the next take's from it on, moved as bytes, so that a frame of any
    // declared width passes through one bounded block.
    scratch->blended.resize(static_cast<size_t>(kMaxBlockBytes));
    const int64_t head = (length / 2) * frame_size;
    const Error err = CopyToWindow(windows.previous, first_byte, head, 0,
                                   scratch->blended, sink);
    if (!err.ok()) return err;
    return CopyToWindow(windows.next, first_byte + head,
                        length * frame_size - head, head, scratch->blended,
                        sink);
  }
  // A frame that can be blended is at most 65535 channels of 8 bytes.
  const int64_t block_frames = std::max(kMaxBlockBytes / frame_size, int64_t{1});
  const auto block_bytes = static_cast<size_t>(block_frames * frame_size);
  scratch->previous.resize(block_bytes);
  scratch->next.resize(block_bytes);
  scratch->blended.resize(block_bytes);
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(length - done, block_frames);
    const auto bytes = static_cast<size_t>(n * frame_size);
    const auto previous = std::span(scratch->previous).first(bytes);
    const auto next = std::span(scratch->next).first(bytes);
    const auto blended = std::span(scratch->blended).first(bytes);
    const int64_t offset = done * frame_size;
    Error err = windows.previous.Read(first_byte + offset, previous);
    if (err.ok()) err = windows.next.Read(first_byte + offset, next);
    if (!err.ok()) return err;
    Blend(previous, next, scratch->gains.Frames(type, length, done, n), format,
          blended);
    if (err = sink.Emit(offset, blended); !err.ok()) return err;
    done += n;
  }
  return {};
}

}  // namespace takeloom

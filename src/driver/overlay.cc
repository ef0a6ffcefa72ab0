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

// Where rendered bytes go: the whole window to the temporary file, and
// over the output from `start_byte` on.
struct Sink {
  TrackWriter* temp;
  TrackWriter* out;
  int64_t start_byte;

  Error Emit(int64_t window_offset, std::span<const std::byte> bytes) const {
    const Error err = temp->Write(window_offset, bytes);
    if (!err.ok()) return err;
    return out->Write(start_byte + window_offset, bytes);
  }
};

}  // namespace

Error RenderCrossfade(const TakeReader& previous, const TakeReader& next,
                      int64_t first, int64_t length, int32_t type,
                      TrackWriter* temp, TrackWriter* out,
                      CrossfadeScratch* scratch, int64_t* beyond) {
  *beyond = 0;
  const TrackFormat format = FormatOf(previous.attributes());
  const int64_t frame_size = format.FrameSize();
  if (length <= 0 || frame_size <= 0) return {};
  const Sink sink{temp, out, first * frame_size};
  const int64_t first_byte = first * frame_size;
  // A frame that can be blended is at most 65535 channels of 8 bytes.
  const int64_t block_frames = std::max(kMaxBlockBytes / frame_size, int64_t{1});
  const auto block_bytes = static_cast<size_t>(block_frames * frame_size);
  scratch->previous.resize(block_bytes);
  scratch->next.resize(block_bytes);
  scratch->blended.resize(block_bytes);
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(length - done, block_frames);
    const auto bytes = static_cast<size_t>(n * frame_size);
    const auto fading_out = std::span(scratch->previous).first(bytes);
    const auto fading_in = std::span(scratch->next).first(bytes);
    const auto blended = std::span(scratch->blended).first(bytes);
    const int64_t offset = done * frame_size;
    Error err = previous.Read(first_byte + offset, fading_out);
    if (err.ok()) err = next.Read(first_byte + offset, fading_in);
    if (!err.ok()) return err;
    *beyond += Blend(fading_out, fading_in,
                     scratch->gains.Frames(type, length, done, n), format,
                     blended);
    if (err = sink.Emit(offset, blended); !err.ok()) return err;
    done += n;
  }
  return {};
}

}  // namespace takeloom

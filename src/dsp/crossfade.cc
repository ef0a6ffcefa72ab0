#include "dsp/crossfade.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "dsp/codec.h"
#include "dsp/curves.h"
#include "wav/chunk_scan.h"
#include "wav/file_io.h"

namespace takeloom {
namespace {

constexpr int32_t kPreviousTake = 1;
constexpr int32_t kNextTake = 2;
constexpr int32_t kTempFile = 3;

constexpr int64_t kRenderBlockFrames = 1024;
// A block of the widest frame that is blended (two channels of 3 bytes).
// Hard cuts copy raw bytes in pieces of at most this size too, so memory
// stays bounded also for layouts whose frames are very wide.
constexpr int64_t kBlockBytes = kRenderBlockFrames * 6;

// 16-bit blends are formed on the 24-bit scale and brought back by 1/256.
constexpr double kSixteenBitScale = 0.00390625;
constexpr int64_t kMin16 = -32768;
constexpr int64_t kMax16 = 32767;
constexpr int64_t kMin24 = -8388608;
constexpr int64_t kMax24 = 8388607;

// Per-call working storage: one block of each take, decoded, blended and
// encoded. Its size is fixed, whatever the crossfade length.
struct Workspace {
  std::array<std::byte, kBlockBytes> previous_bytes;
  std::array<std::byte, kBlockBytes> next_bytes;
  std::array<std::byte, kBlockBytes> out_bytes;
  // Indexed by channel, then frame.
  std::array<std::array<int64_t, kRenderBlockFrames>, 2> previous;
  std::array<std::array<int64_t, kRenderBlockFrames>, 2> next;
  std::array<std::array<int64_t, kRenderBlockFrames>, 2> wide;    // 24-bit
  std::array<std::array<int32_t, kRenderBlockFrames>, 2> narrow;  // 16-bit
};

// One take's side of the crossfade.
struct TakeWindow {
  FilePtr file;
  int64_t length = 0;  // bytes in the file, -1 when unknown
  int64_t data_start = 0;
  int64_t start = 0;  // byte offset of the window's first frame
};

// Byte offset of frame `first_frame`, or nullopt when it does not fit in 64
// bits (such a window cannot lie inside any file).
std::optional<int64_t> FrameOffset(int64_t data_start, int64_t first_frame,
                                   int64_t frame_size) {
  int64_t bytes = 0;
  int64_t offset = 0;
  if (__builtin_mul_overflow(first_frame, frame_size, &bytes) ||
      __builtin_add_overflow(data_start, bytes, &offset)) {
    return std::nullopt;
  }
  return offset;
}

// The start of the window may equal the file's length (an empty tail), but
// must not lie before the audio or beyond the end.
bool PlaceWindow(TakeWindow& take, int64_t centre, int64_t half,
                 int64_t frame_size) {
  int64_t first_frame = 0;
  if (__builtin_sub_overflow(centre, half, &first_frame)) return false;
  const std::optional<int64_t> start =
      FrameOffset(take.data_start, first_frame, frame_size);
  if (!start || *start < take.data_start || *start > take.length) return false;
  take.start = *start;
  return true;
}

// Blends one decoded block along the curve and encodes it into out_bytes.
// Beyond full scale the blend is held at the range ends: a wrapped sample
// would be a full-scale click in the track.
void BlendBlock(Workspace& w, int32_t type, int64_t done, int64_t length,
                int64_t n, int32_t channels, int32_t bytes_per_sample) {
  for (int64_t i = 0; i < n; ++i) {
    // Both channels of a frame share its pair of gains.
    const Gains gains = CurveGains(type, done + i, length);
    for (int32_t c = 0; c < channels; ++c) {
      const double sum =
          static_cast<double>(w.previous[c][i]) * gains.fade_out +
          static_cast<double>(w.next[c][i]) * gains.fade_in;
      if (bytes_per_sample == 3) {
        w.wide[c][i] = std::clamp(static_cast<int64_t>(sum), kMin24, kMax24);
      } else {
        w.narrow[c][i] = static_cast<int32_t>(std::clamp(
            static_cast<int64_t>(sum * kSixteenBitScale), kMin16, kMax16));
      }
    }
  }
  const bool stereo = channels == 2;
  if (bytes_per_sample == 3) {
    if (stereo) {
      NUM24STER_TO_CHAR(w.wide[0], w.wide[1], w.out_bytes, n);
    } else {
      NUM24MONO_TO_CHAR(w.wide[0], w.out_bytes, n);
    }
  } else if (stereo) {
    NUM16STER_TO_CHAR(w.narrow[0], w.narrow[1], w.out_bytes, n);
  } else {
    NUM16MONO_TO_CHAR(w.narrow[0], w.out_bytes, n);
  }
}

// Renders the blended window block by block. Returns 0, the number of a take
// that could not be read, or kCrossfadeWriteFailed.
int32_t RenderBlend(const TakeWindow& previous, const TakeWindow& next,
                    std::FILE* temp, int64_t length, int32_t type,
                    int32_t channels, int32_t bytes_per_sample) {
  const int64_t frame_size = int64_t{channels} * bytes_per_sample;
  const auto w = std::make_unique<Workspace>();
  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(length - done, kRenderBlockFrames);
    const size_t block_bytes = static_cast<size_t>(n * frame_size);
    const std::span<std::byte> previous_block =
        std::span(w->previous_bytes).first(block_bytes);
    const std::span<std::byte> next_block =
        std::span(w->next_bytes).first(block_bytes);
    if (!ReadAt(previous.file.get(), previous.start + done * frame_size,
                previous_block)) {
      return kPreviousTake;
    }
    if (!ReadAt(next.file.get(), next.start + done * frame_size, next_block)) {
      return kNextTake;
    }
    if (channels == 2) {
      CHAR_TO_NUM32_STEREO(previous_block, w->previous[0], w->previous[1],
                           bytes_per_sample, n);
      CHAR_TO_NUM32_STEREO(next_block, w->next[0], w->next[1], bytes_per_sample,
                           n);
    } else {
      CHAR_TO_NUM32(previous_block, w->previous[0], bytes_per_sample, n);
      CHAR_TO_NUM32(next_block, w->next[0], bytes_per_sample, n);
    }
    BlendBlock(*w, type, done, length, n, channels, bytes_per_sample);
    if (!Append(temp, std::span(w->out_bytes).first(block_bytes))) {
      return kCrossfadeWriteFailed;
    }
    done += n;
  }
  return 0;
}

// Appends `count` bytes of `take` from byte `offset` on, in bounded pieces.
int32_t CopyBytes(const TakeWindow& take, int32_t take_number, int64_t offset,
                  int64_t count, std::FILE* temp, std::span<std::byte> buffer) {
  for (int64_t done = 0; done < count;) {
    const int64_t piece =
        std::min(count - done, static_cast<int64_t>(buffer.size()));
    const std::span<std::byte> bytes = buffer.first(static_cast<size_t>(piece));
    if (!ReadAt(take.file.get(), offset + done, bytes)) return take_number;
    if (!Append(temp, bytes)) return kCrossfadeWriteFailed;
    done += piece;
  }
  return 0;
}

// The window as a hard cut at its centre frame: the previous take's frames
// before it, the next take's frames from it on. Used where no blend exists,
// so that the region matches the cut the track would have without a fade.
int32_t RenderHardCut(const TakeWindow& previous, const TakeWindow& next,
                      std::FILE* temp, int64_t half, int64_t length,
                      int64_t frame_size) {
  std::array<std::byte, kBlockBytes> buffer;
  // Pieces of at most one block's worth of frames, even for narrow frames.
  const int64_t piece = std::min(kBlockBytes, kRenderBlockFrames * frame_size);
  const std::span<std::byte> chunk =
      std::span(buffer).first(static_cast<size_t>(piece));
  const int64_t head_bytes = half * frame_size;
  const int32_t result = CopyBytes(previous, kPreviousTake, previous.start,
                                   head_bytes, temp, chunk);
  if (result != 0) return result;
  return CopyBytes(next, kNextTake, next.start + head_bytes,
                   (length - half) * frame_size, temp, chunk);
}

}  // namespace

CrossfadeResult CROSSFADE(int64_t previous_centre, int64_t next_centre,
                          int64_t frames, int32_t type,
                          const std::string& previous_take,
                          const std::string& next_take,
                          const std::string& temp_path, int32_t channels,
                          int32_t bytes_per_sample) {
  // All three are opened before any is judged: the temporary file is
  // created even when a take is missing, and the first failure decides.
  TakeWindow previous{.file = OpenFile(previous_take, "rb")};
  TakeWindow next{.file = OpenFile(next_take, "rb")};
  FilePtr temp = OpenFile(temp_path, "ab");
  if (!previous.file) return {kPreviousTake, ""};
  if (!next.file) return {kNextTake, ""};
  if (!temp) return {kTempFile, ""};

  previous.length = FileLength(previous.file.get());
  next.length = FileLength(next.file.get());

  constexpr const char* kNoData = "Data block not found error";
  const std::optional<int64_t> previous_data =
      FindDataStart(previous.file.get(), kCrossfadeScanLimit);
  if (!previous_data) return {kPreviousTake, kNoData};
  const std::optional<int64_t> next_data =
      FindDataStart(next.file.get(), kCrossfadeScanLimit);
  if (!next_data) return {kNextTake, kNoData};
  previous.data_start = *previous_data;
  next.data_start = *next_data;

  // Only the window's start is tested: frames past a take's end read as
  // zero and blend as silence.
  const int64_t frame_size = int64_t{channels} * bytes_per_sample;
  const int64_t half = frames / 2;
  if (!PlaceWindow(previous, previous_centre, half, frame_size)) {
    return {kPreviousTake, "Invalid crossfade for destination file"};
  }
  if (!PlaceWindow(next, next_centre, half, frame_size)) {
    return {kNextTake, "Invalid crossfade for source file"};
  }

  int32_t code = 0;
  if (frames > 0 && frame_size > 0) {
    // The last frame of either window must be addressable; a window that is
    // not could never be appended to the temporary file either.
    if (!FrameOffset(previous.start, frames, frame_size) ||
        !FrameOffset(next.start, frames, frame_size)) {
      return {kCrossfadeWriteFailed, ""};
    }
    const bool blend = HasCurve(type) && (channels == 1 || channels == 2) &&
                       (bytes_per_sample == 2 || bytes_per_sample == 3);
    code = blend ? RenderBlend(previous, next, temp.get(), frames, type,
                               channels, bytes_per_sample)
                 : RenderHardCut(previous, next, temp.get(), half, frames,
                                 frame_size);
  }
  if (code != 0) return {code, ""};
  previous.file.reset();
  next.file.reset();
  if (!CloseChecked(std::move(temp))) return {kCrossfadeWriteFailed, ""};
  return {0, ""};
}

}  // namespace takeloom

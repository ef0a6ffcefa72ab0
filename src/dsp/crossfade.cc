#include "dsp/crossfade.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "dsp/codec.h"
#include "dsp/curves.h"
#include "dsp/sample_layouts.h"
#include "wav/file_io.h"

namespace takeloom {
namespace {

constexpr int32_t kPreviousTake = 1;
constexpr int32_t kNextTake = 2;

constexpr int64_t kRenderBlockFrames = 1024;
// One take's block never holds more bytes than this (but at least one
// frame), so memory stays flat however many channels a frame holds.
constexpr int64_t kMaxBlockBytes = 64 * 1024;

// Frames per block: 1024, fewer where frames are wide.
int64_t BlockFrames(int64_t frame_size) {
  return std::clamp(kMaxBlockBytes / frame_size, int64_t{1},
                    kRenderBlockFrames);
}

// One take's side of the crossfade. Its blocks follow on from each other,
// so the stream reads them a window at a time instead of positioning and
// reading the file for every block.
struct TakeWindow {
  explicit TakeWindow(const std::string& path) : file(path, "rb") {}
  BlockStream file;
  int64_t length = 0;  // bytes in the file, -1 when unknown
  int64_t data_start = 0;
  int64_t start = 0;  // byte offset of the window's first frame
};

// The temporary file, opened for appending, with the appended blocks
// gathered in memory and written a few at a time.
class TempFile {
 public:
  explicit TempFile(const std::string& path) : file_(OpenFile(path, "ab")) {
    if (file_ && std::setvbuf(file_.get(), buffer_.get(), _IOFBF,
                              kBufferBytes) != 0) {
      file_.reset();
    }
  }
  bool is_open() const { return file_ != nullptr; }
  bool Append(std::span<const std::byte> data) {
    return takeloom::Append(file_.get(), data);
  }
  // Writes what is buffered and closes, reporting whether every byte
  // reached the file; true when already closed.
  bool Close() { return !file_ || CloseChecked(std::move(file_)); }

 private:
  static constexpr size_t kBufferBytes = 256 * 1024;
  // Declared first so that it outlives the stream that writes from it.
  std::unique_ptr<char[]> buffer_ =
      std::make_unique_for_overwrite<char[]>(kBufferBytes);
  FilePtr file_;
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

// Renders the blended window block by block. Returns 0, the number of a take
// that could not be read, or kCrossfadeWriteFailed.
template <typename Samples>
int32_t RenderBlend(TakeWindow& previous, TakeWindow& next, TempFile& temp, int64_t length, int32_t type,
                    int32_t channels, int32_t bytes_per_sample) {
  const int64_t frame_size = int64_t{channels} * bytes_per_sample;
  const int64_t block_frames = BlockFrames(frame_size);
  // Working storage for one block, sized by the layout, not by the window.
  const auto bytes = static_cast<size_t>(block_frames * frame_size);
  const auto sample_count = static_cast<size_t>(block_frames * channels);
  std::vector<std::byte> previous_bytes(bytes), next_bytes(bytes),
      out_bytes(bytes);
  std::vector<typename Samples::Decoded> p(sample_count), q(sample_count);
  std::vector<typename Samples::Blended> out(sample_count);
  const std::span<const Gains> table = CurveTable(type, length);

  for (int64_t done = 0; done < length;) {
    const int64_t n = std::min(length - done, block_frames);
    const auto block_bytes = static_cast<size_t>(n * frame_size);
    const int64_t block_samples = n * channels;
    const std::span<std::byte> previous_block =
        std::span(previous_bytes).first(block_bytes);
    const std::span<std::byte> next_block =
        std::span(next_bytes).first(block_bytes);
    if (!previous.file.ReadAt(previous.start + done * frame_size,
                              previous_block)) {
      return kPreviousTake;
    }
    if (!next.file.ReadAt(next.start + done * frame_size, next_block)) {
      return kNextTake;
    }
    Samples::Decode(previous_block, p, block_samples);
    Samples::Decode(next_block, q, block_samples);
    for (int64_t i = 0; i < n; ++i) {
      // Every channel of a frame shares its pair of gains.
      const Gains gains = table.empty() ? CurveGains(type, done + i, length)
                                        : table[static_cast<size_t>(done + i)];
      for (int64_t s = i * channels; s < (i + 1) * channels; ++s) {
        const double sum = static_cast<double>(p[s]) * gains.fade_out +
                           static_cast<double>(q[s]) * gains.fade_in;
        out[s] = Samples::Finish(sum);
      }
    }
    Samples::Encode(out, out_bytes, block_samples);
    if (!temp.Append(std::span(out_bytes).first(block_bytes))) {
      return kCrossfadeWriteFailed;
    }
    done += n;
  }
  return 0;
}

// Appends `count` bytes of `take` from byte `offset` on, in bounded pieces.
int32_t CopyBytes(TakeWindow& take, int32_t take_number, int64_t offset,
                  int64_t count, TempFile& temp, std::span<std::byte> buffer) {
  for (int64_t done = 0; done < count;) {
    const int64_t piece =
        std::min(count - done, static_cast<int64_t>(buffer.size()));
    const std::span<std::byte> bytes = buffer.first(static_cast<size_t>(piece));
    if (!take.file.ReadAt(offset + done, bytes)) return take_number;
    if (!temp.Append(bytes)) return kCrossfadeWriteFailed;
    done += piece;
  }
  return 0;
}

// The window as a hard cut at its centre frame: the previous take's frames
// before it, the next take's frames from it on. Used where no blend exists,
// so that the region matches the cut the track would have without a fade.
int32_t RenderHardCut(TakeWindow& previous, TakeWindow& next, TempFile& temp, int64_t half, int64_t length,
                      int64_t frame_size) {
  // Pieces of at most one block's worth of frames, even for narrow frames.
  std::vector<std::byte> buffer(static_cast<size_t>(
      std::min(kMaxBlockBytes, kRenderBlockFrames * frame_size)));
  const std::span<std::byte> chunk(buffer);
  const int64_t head_bytes = half * frame_size;
  const int32_t result = CopyBytes(previous, kPreviousTake, previous.start,
                                   head_bytes, temp, chunk);
  if (result != 0) return result;
  return CopyBytes(next, kNextTake, next.start + head_bytes,
                   (length - half) * frame_size, temp, chunk);
}

// Blends the window where the layout and type have a blend; otherwise lays
// down the hard cut.
int32_t RenderWindow(TakeWindow& previous, TakeWindow& next, TempFile& temp, int64_t half, int64_t length,
                     int32_t type, int32_t channels, int32_t bytes_per_sample,
                     SampleFormat format) {
  const auto blend = [&](auto layout) {
    return RenderBlend<decltype(layout)>(previous, next, temp, length, type,
                                         channels, bytes_per_sample);
  };
  if (HasCurve(type) && channels >= 1) {
    if (format == SampleFormat::kFloat) {
      if (bytes_per_sample == 4) return blend(FloatSamples<4>{});
      if (bytes_per_sample == 8) return blend(FloatSamples<8>{});
    } else {
      if (bytes_per_sample == 2) return blend(Int16Samples{});
      if (bytes_per_sample == 3) return blend(Int24Samples{});
      if (bytes_per_sample == 4) return blend(Int32Samples{});
    }
  }
  return RenderHardCut(previous, next, temp, half, length,
                       int64_t{channels} * bytes_per_sample);
}

}  // namespace

CrossfadeResult CROSSFADE(int64_t previous_centre, int64_t next_centre,
                          int64_t frames, int32_t type,
                          const std::string& previous_take,
                          const std::string& next_take,
                          const std::string& temp_path, int32_t channels,
                          int32_t bytes_per_sample, SampleFormat format) {
  // All three are opened before any is judged: the temporary file is
  // created even when a take is missing, and the first failure decides.
  TakeWindow previous(previous_take);
  TakeWindow next(next_take);
  TempFile temp(temp_path);
  if (!previous.file.is_open()) return {kPreviousTake, ""};
  if (!next.file.is_open()) return {kNextTake, ""};
  if (!temp.is_open()) return {kCrossfadeTempUnopened, ""};

  previous.length = FileLength(previous.file.file());
  next.length = FileLength(next.file.file());

  constexpr const char* kNoData = "Data block not found error";
  const std::optional<int64_t> previous_data =
      LocateDataStart(FileSource(previous.file.file()), kCrossfadeScanLimit);
  if (!previous_data) return {kPreviousTake, kNoData};
  const std::optional<int64_t> next_data =
      LocateDataStart(FileSource(next.file.file()), kCrossfadeScanLimit);
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
    // A crossfade is short next to a stream's window: fetch only its frames.
    previous.file.LimitReadAhead(previous.start + frames * frame_size);
    next.file.LimitReadAhead(next.start + frames * frame_size);
    code = RenderWindow(previous, next, temp, half, frames, type, channels,
                        bytes_per_sample, format);
  }
  // A write that failed before a take's fault was met is reported as it
  // was met: first.
  if (!temp.Close()) return {kCrossfadeWriteFailed, ""};
  if (code != 0) return {code, ""};
  return {0, ""};
}

}  // namespace takeloom

#include "wav/copy.h"

#include <algorithm>
#include <span>
#include <vector>

#include "wav/chunk_scan.h"
#include "wav/file_io.h"

namespace takeloom {
namespace {

// The caller's result, unless closing the destination loses a write.
CopyResult Finish(CopyResult result, BlockStream& destination) {
  const bool closed = destination.Close();
  if (result == CopyResult::kOk && !closed) return CopyResult::kDestinationFailed;
  return result;
}

}  // namespace

CopyResult INSERT_FILE(const std::string& destination, const std::string& source,
                       int64_t destination_frame, uint32_t bytes_per_sample,
                       uint32_t channels, int64_t frames, int64_t source_frame) {
  BlockStream out(destination, "rb+");
  if (!out.is_open()) return CopyResult::kDestinationFailed;
  BlockStream in(source, "rb");
  if (!in.is_open()) return Finish(CopyResult::kSourceUnreadable, out);

  const auto out_start = FindDataStart(out.file(), kCopyScanLimit);
  if (!out_start) return Finish(CopyResult::kNoDataBlock, out);
  const auto in_start = FindDataStart(in.file(), kCopyScanLimit);
  if (!in_start) return Finish(CopyResult::kNoDataBlock, out);

  const int64_t frame_size = int64_t{bytes_per_sample * channels};
  int64_t in_pos = *in_start + source_frame * frame_size;
  int64_t out_pos = *out_start + destination_frame * frame_size;
  std::vector<std::byte> buffer(static_cast<size_t>(frame_size * kBlockFrames));
  // Every block names its absolute positions; the streams gather the
  // blocks that follow on from each other into few large transfers.
  for (int64_t done = 0; done < frames;) {
    const int64_t n = std::min(kBlockFrames, frames - done);
    const auto block =
        std::span(buffer.data(), static_cast<size_t>(n * frame_size));
    // Frames the source does not hold arrive as zero bytes.
    if (!in.ReadAt(in_pos, block)) {
      return Finish(CopyResult::kSourceUnreadable, out);
    }
    if (!out.WriteAt(out_pos, block)) {
      return Finish(CopyResult::kDestinationFailed, out);
    }
    in_pos += n * frame_size;
    out_pos += n * frame_size;
    done += n;
  }
  return Finish(CopyResult::kOk, out);
}

CopyResult PAD_FILE(const std::string& path, int64_t start_frame,
                    uint32_t bytes_per_sample, uint32_t channels,
                    int64_t frames) {
  const int64_t frame_size = int64_t{bytes_per_sample * channels};
  const std::vector<std::byte> zeros(
      static_cast<size_t>(frame_size * kBlockFrames), std::byte{0});
  BlockStream out(path, "rb+");
  if (!out.is_open()) return CopyResult::kDestinationFailed;
  const auto start = FindDataStart(out.file(), kPadScanLimit);
  if (!start) return Finish(CopyResult::kNoDataBlock, out);

  for (int64_t done = 0; done < frames;) {
    const int64_t n = std::min(kBlockFrames, frames - done);
    const int64_t at = *start + (start_frame + done) * frame_size;
    if (!out.WriteAt(at, std::span(zeros.data(),
                                   static_cast<size_t>(n * frame_size)))) {
      return Finish(CopyResult::kDestinationFailed, out);
    }
    done += n;
  }
  return Finish(CopyResult::kOk, out);
}

}  // namespace takeloom

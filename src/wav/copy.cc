#include "wav/copy.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <vector>

#include "wav/file_io.h"

namespace takeloom {
namespace {

// A block is at most 1024 frames and at most this many bytes: a corrupt
// header can declare frames of hundreds of megabytes, and memory must not
// grow with them. Blocks move whole bytes, so a frame may span two blocks.
constexpr int64_t kMaxBlockBytes = 64 * 1024;

int64_t BlockBytes(int64_t frame_size) {
  return std::max<int64_t>(1, std::min(frame_size * kBlockFrames, kMaxBlockBytes));
}

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
  // The source needs no window of its own: its bytes are read straight
  // into the destination's, so stdio buffering would only copy them twice.
  const FilePtr in = OpenFile(source, "rb");
  if (!in || std::setvbuf(in.get(), nullptr, _IONBF, 0) != 0) {
    return Finish(CopyResult::kSourceUnreadable, out);
  }

  const auto out_start =
      LocateDataStart(FileSource(out.file()), kCopyScanLimit);
  if (!out_start) return Finish(CopyResult::kNoDataBlock, out);
  const auto in_start = LocateDataStart(FileSource(in.get()), kCopyScanLimit);
  if (!in_start) return Finish(CopyResult::kNoDataBlock, out);

  const int64_t frame_size = int64_t{bytes_per_sample} * channels;
  const int64_t in_pos = *in_start + source_frame * frame_size;
  const int64_t out_pos = *out_start + destination_frame * frame_size;
  const int64_t total = std::max<int64_t>(0, frames) * frame_size;
  // The blocks are as large as the destination's window allows: each is
  // read from the source straight into the window, so every byte is copied
  // once by the read and once by the write, and memory stays at one window
  // however wide a frame is declared to be.
  for (int64_t done = 0; done < total;) {
    const std::span<std::byte> block =
        out.WriteInPlace(out_pos + done, total - done);
    if (block.empty()) return Finish(CopyResult::kDestinationFailed, out);
    // Frames the source does not hold arrive as zero bytes.
    if (!ReadAt(in.get(), in_pos + done, block)) {
      out.AbandonWrite(block);
      return Finish(CopyResult::kSourceUnreadable, out);
    }
    done += std::ssize(block);
  }
  return Finish(CopyResult::kOk, out);
}

CopyResult PAD_FILE(const std::string& path, int64_t start_frame,
                    uint32_t bytes_per_sample, uint32_t channels,
                    int64_t frames) {
  const int64_t frame_size = int64_t{bytes_per_sample} * channels;
  const std::vector<std::byte> zeros(
      static_cast<size_t>(BlockBytes(frame_size)), std::byte{0});
  BlockStream out(path, "rb+");
  if (!out.is_open()) return CopyResult::kDestinationFailed;
  const auto start = LocateDataStart(FileSource(out.file()), kPadScanLimit);
  if (!start) return Finish(CopyResult::kNoDataBlock, out);

  const int64_t first = *start + start_frame * frame_size;
  const int64_t total = std::max<int64_t>(0, frames) * frame_size;
  for (int64_t done = 0; done < total;) {
    const int64_t n = std::min<int64_t>(std::ssize(zeros), total - done);
    if (!out.WriteAt(first + done,
                     std::span(zeros.data(), static_cast<size_t>(n)))) {
      return Finish(CopyResult::kDestinationFailed, out);
    }
    done += n;
  }
  return Finish(CopyResult::kOk, out);
}

}  // namespace takeloom

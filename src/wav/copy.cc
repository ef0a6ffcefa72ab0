#include "wav/copy.h"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

#include "wav/chunk_scan.h"
#include "wav/file_io.h"

namespace takeloom {
namespace {

// Every block is positioned explicitly, so stdio buffering would only copy
// each block once more and turn each positioning into a flush; the streams
// move whole blocks straight to and from the file instead.
FilePtr OpenForBlocks(const std::string& path, const char* mode) {
  FilePtr file = OpenFile(path, mode);
  if (file && std::setvbuf(file.get(), nullptr, _IONBF, 0) != 0) return nullptr;
  return file;
}

// The caller's result, unless closing the destination loses a write.
CopyResult Finish(CopyResult result, FilePtr destination) {
  const bool closed = CloseChecked(std::move(destination));
  if (result == CopyResult::kOk && !closed) return CopyResult::kDestinationFailed;
  return result;
}

}  // namespace

CopyResult INSERT_FILE(const std::string& destination, const std::string& source,
                       int64_t destination_frame, uint32_t bytes_per_sample,
                       uint32_t channels, int64_t frames, int64_t source_frame) {
  FilePtr out = OpenForBlocks(destination, "rb+");
  if (!out) return CopyResult::kDestinationFailed;
  const FilePtr in = OpenForBlocks(source, "rb");
  if (!in) return Finish(CopyResult::kSourceUnreadable, std::move(out));

  const auto out_start = FindDataStart(out.get(), kCopyScanLimit);
  if (!out_start) return Finish(CopyResult::kNoDataBlock, std::move(out));
  const auto in_start = FindDataStart(in.get(), kCopyScanLimit);
  if (!in_start) return Finish(CopyResult::kNoDataBlock, std::move(out));

  const int64_t frame_size = int64_t{bytes_per_sample * channels};
  int64_t in_pos = *in_start + source_frame * frame_size;
  int64_t out_pos = *out_start + destination_frame * frame_size;
  std::vector<std::byte> buffer(static_cast<size_t>(frame_size * kBlockFrames));
  for (int64_t done = 0; done < frames;) {
    const int64_t n = std::min(kBlockFrames, frames - done);
    const auto block =
        std::span(buffer.data(), static_cast<size_t>(n * frame_size));
    // Frames the source does not hold arrive as zero bytes.
    if (!ReadAt(in.get(), in_pos, block)) {
      return Finish(CopyResult::kSourceUnreadable, std::move(out));
    }
    if (!WriteAt(out.get(), out_pos, block)) {
      return Finish(CopyResult::kDestinationFailed, std::move(out));
    }
    in_pos += n * frame_size;
    out_pos += n * frame_size;
    done += n;
  }
  return Finish(CopyResult::kOk, std::move(out));
}

CopyResult PAD_FILE(const std::string& path, int64_t start_frame,
                    uint32_t bytes_per_sample, uint32_t channels,
                    int64_t frames) {
  const int64_t frame_size = int64_t{bytes_per_sample * channels};
  const std::vector<std::byte> zeros(
      static_cast<size_t>(frame_size * kBlockFrames), std::byte{0});
  FilePtr out = OpenForBlocks(path, "rb+");
  if (!out) return CopyResult::kDestinationFailed;
  const auto start = FindDataStart(out.get(), kPadScanLimit);
  if (!start) return Finish(CopyResult::kNoDataBlock, std::move(out));

  for (int64_t done = 0; done < frames;) {
    const int64_t n = std::min(kBlockFrames, frames - done);
    const int64_t at = *start + (start_frame + done) * frame_size;
    if (!WriteAt(out.get(), at, std::span(zeros.data(),
                                          static_cast<size_t>(n * frame_size)))) {
      return Finish(CopyResult::kDestinationFailed, std::move(out));
    }
    done += n;
  }
  return Finish(CopyResult::kOk, std::move(out));
}

}  // namespace takeloom

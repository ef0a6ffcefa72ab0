#include "wav/copy.h"

#include <algorithm>

namespace takeloom {

Error INSERT_FILE(TrackWriter& out, const TakeReader& take,
                  int64_t destination_frame, int64_t frames,
                  int64_t source_frame, std::span<std::byte> buffer) {
  const int64_t frame_size = out.frame_size();
  const int64_t from = source_frame * frame_size;
  const int64_t to = destination_frame * frame_size;
  const int64_t total = std::max<int64_t>(0, frames) * frame_size;
  // Blocks move whole bytes, so a frame wider than the buffer spans blocks
  // and memory stays at one buffer however wide a header declares frames.
  // They end where the output's file offsets reach a multiple of the
  // buffer's size, so that the file is written in whole pages.
  const int64_t size = std::ssize(buffer);
  for (int64_t done = 0; done < total;) {
    const int64_t to_boundary = size - out.FileOffset(to + done) % size;
    const auto block = buffer.first(
        static_cast<size_t>(std::min(to_boundary, total - done)));
    Error err = take.Read(from + done, block);
    if (err.ok()) err = out.Write(to + done, block);
    if (!err.ok()) return err;
    done += std::ssize(block);
  }
  return {};
}

Error PAD_FILE(TrackWriter& out, int64_t start_frame, int64_t frames) {
  const int64_t frame_size = out.frame_size();
  return out.Silence(start_frame * frame_size,
                     std::max<int64_t>(0, frames) * frame_size);
}

}  // namespace takeloom

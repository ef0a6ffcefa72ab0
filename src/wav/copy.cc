#include "wav/copy.h"

#include <algorithm>

#include "wav/file_block.h"

namespace takeloom {
namespace {

// The kernel copies a piece at a time, each ending where the output's file
// offset reaches a multiple of this size. Where it copies rather than
// shares, it moves a piece through a pipe of its own in 64 KiB steps, and a
// piece that starts off such a boundary makes every step straddle two of
// the page cache's folios: aligned pieces of 1 MiB took about a tenth less
// time than unaligned ones (measured on ext4), and the writer starts each
// piece's writeback as soon as it is copied. A stop request is heard
// between pieces.
constexpr int64_t kPieceBytes = 1024 * 1024;
// Where the kernel shares blocks a piece costs next to nothing and needs no
// writeback: larger pieces spare calls.
constexpr int64_t kSharedPieceBytes = 64 * 1024 * 1024;

// Copies audio bytes [from, from + count) of `take` to [to, to + count) of
// `out` through `buffer`, block by block; bytes the take does not hold
// arrive as zeros. Blocks move whole bytes, so a frame wider than the buffer
// spans blocks and memory stays at one buffer however wide a header declares
// frames. They end where the output's file offsets reach a multiple of the
// buffer's size, so that the file is written in whole pages.
Error CopyThroughBuffer(TrackWriter& out, const TakeReader& take, int64_t from,
                        int64_t to, int64_t count, std::span<std::byte> buffer) {
  const int64_t size = std::ssize(buffer);
  for (int64_t done = 0; done < count;) {
    const int64_t to_boundary = size - out.FileOffset(to + done) % size;
    const auto block = buffer.first(
        static_cast<size_t>(std::min(to_boundary, count - done)));
    Error err = take.Read(from + done, block);
    if (err.ok()) err = out.Write(to + done, block);
    if (!err.ok()) return err;
    done += std::ssize(block);
  }
  return {};
}

// Copies audio bytes [from, from + count) of `take`, all of which it holds,
// to [to, to + count) of `out` inside the kernel, piece by piece, and sets
// `*copied` to the bytes copied: fewer when the kernel refuses the copy or
// the take's file ends early, and the caller moves the rest.
Error CopyInKernel(TrackWriter& out, const TakeReader& take, int64_t from,
                   int64_t to, int64_t count, int64_t* copied) {
  const int64_t source_start = take.FileOffset(from);
  for (*copied = 0; *copied < count;) {
    const int64_t piece = out.shares_blocks() ? kSharedPieceBytes : kPieceBytes;
    const int64_t to_boundary = piece - out.FileOffset(to + *copied) % piece;
    int64_t n = 0;
    const Error err =
        out.CopyFrom(take.file(), source_start + *copied, to + *copied,
                     std::min(to_boundary, count - *copied), &n);
    if (!err.ok()) return err;
    if (n == 0) break;
    *copied += n;
  }
  return {};
}

}  // namespace

Error INSERT_FILE(TrackWriter& out, const TakeReader& take,
                  int64_t destination_frame, int64_t frames,
                  int64_t source_frame, std::span<std::byte> buffer) {
  const int64_t frame_size = out.frame_size();
  const int64_t from = source_frame * frame_size;
  const int64_t to = destination_frame * frame_size;
  const int64_t total = std::max<int64_t>(0, frames) * frame_size;
  // Before the take's audio TakeReader::Read gives the zeros.
  if (from < 0 || to < 0) {
    return CopyThroughBuffer(out, take, from, to, total, buffer);
  }
  // Only what the take holds as audio is copied, never the chunks that may
  // follow it; the rest is silence.
  const int64_t held = std::clamp<int64_t>(take.AudioBytes() - from, 0, total);
  int64_t done = 0;
  if (held > 0 && out.kernel_copies()) {
    // Where the take's offsets and the output's agree modulo a block, the
    // blocks between the output's first and last block boundary can be
    // shared: the pieces outside them are written, so that no block is
    // shared that holds anything but this segment's audio. Elsewhere no
    // block can be shared and the kernel copies the whole segment.
    const int64_t source = take.FileOffset(from);
    const int64_t target = out.FileOffset(to);
    int64_t head = 0;
    int64_t middle = held;
    if (source % kFileBlockBytes == target % kFileBlockBytes) {
      head = std::min(
          held, (kFileBlockBytes - target % kFileBlockBytes) % kFileBlockBytes);
      middle = (held - head) / kFileBlockBytes * kFileBlockBytes;
    }
    Error err = CopyThroughBuffer(out, take, from, to, head, buffer);
    int64_t copied = 0;
    if (err.ok()) {
      err = CopyInKernel(out, take, from + head, to + head, middle, &copied);
    }
    if (!err.ok()) return err;
    done = head + copied;
  }
  const Error err = CopyThroughBuffer(out, take, from + done, to + done,
                                      held - done, buffer);
  return err.ok() ? out.Silence(to + held, total - held) : err;
}

Error PAD_FILE(TrackWriter& out, int64_t start_frame, int64_t frames) {
  const int64_t frame_size = out.frame_size();
  return out.Silence(start_frame * frame_size,
                     std::max<int64_t>(0, frames) * frame_size);
}

}  // namespace takeloom

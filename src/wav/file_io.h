// Checked, position-addressed access to files through C stdio, with RAII
// handles. Every audio read and write names its absolute byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "wav/riff.h"

namespace takeloom {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` with the stdio `mode`; null when the open fails.
FilePtr OpenFile(const std::string& path, const char* mode);

// Length of the file in bytes, or -1 when it cannot be found by seeking.
int64_t FileLength(std::FILE* f);

// Reads up to out.size() bytes starting at `offset`, stopping early only at
// the end of the file. Returns the count read, or -1 when positioning or
// reading fails.
int64_t ReadSome(std::FILE* f, int64_t offset, std::span<std::byte> out);

// Reads out.size() bytes starting at `offset`. Bytes past the end of the file
// read as zero, so a short file never leaves stale data in `out`. Returns
// false only on a read error.
bool ReadAt(std::FILE* f, int64_t offset, std::span<std::byte> out);

// Writes all of `data` at `offset`, growing the file when the offset lies
// past its end. Returns false when positioning or writing fails.
bool WriteAt(std::FILE* f, int64_t offset, std::span<const std::byte> data);

// An open file as a ByteSource for finding its chunks. Small reads, as the
// chunk walk makes them, are served from one cached page.
class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* f) : file_(f), length_(FileLength(f)) {}
  int64_t Length() const override { return length_; }
  int64_t ReadSome(int64_t offset, std::span<std::byte> out) const override;

 private:
  static constexpr int64_t kPageBytes = 4096;
  std::FILE* file_;
  int64_t length_;
  mutable std::vector<std::byte> page_;
  mutable int64_t page_start_ = -1;
};

// Appends all of `data` at the end of a file opened for appending.
bool Append(std::FILE* f, std::span<const std::byte> data);

// Flushes and closes `f`, reporting whether every buffered byte reached the
// file. Always releases the handle.
bool CloseChecked(FilePtr f);

// A file that moves runs of blocks, each read or written at its absolute
// offset. Positioning the file and calling it for every small block costs
// two system calls per block, and stdio's own buffering refills or flushes
// on every positioning; so the stream is unbuffered and this class keeps
// one window of the file instead: a read inside the window and a write that
// continues the pending ones touch only memory, and the file is positioned
// and read or written a window at a time. Write windows start at multiples
// of their size and read windows at a page boundary, so the file is
// transferred in whole pages.
class BlockStream {
 public:
  static constexpr int64_t kWindowBytes = 256 * 1024;
  static constexpr int64_t kPageBytes = 4096;

  // Opens `path` with the stdio `mode`; is_open() tells whether it worked.
  BlockStream(const std::string& path, const char* mode);
  // Writes what is pending; Close() reports whether that worked.
  ~BlockStream();
  BlockStream(const BlockStream&) = delete;
  BlockStream& operator=(const BlockStream&) = delete;

  bool is_open() const { return file_ != nullptr; }

  // The file for readers that position it themselves (the tag scan), with
  // pending writes written first.
  std::FILE* file();

  // As the free ReadAt: bytes outside the file read as zero; false only on
  // a read error.
  bool ReadAt(int64_t offset, std::span<std::byte> out);

  // Reads ahead no further than byte `end` of the file, for a reader that
  // knows where it stops: a short run of reads then fetches only what it
  // uses instead of a whole window. Reads past `end` still work.
  void LimitReadAhead(int64_t end) { read_limit_ = end; }

  // As the free WriteAt, except that a write may stay pending until a
  // later call; a failure to write it is reported then, or by Close().
  bool WriteAt(int64_t offset, std::span<const std::byte> data);

  // Room in the window for the next up to `size` bytes written at `offset`,
  // for a caller that fills them in place instead of passing a copy: they
  // count as written and must be filled before the next call. Shorter than
  // `size` where the window ends (ask again for the rest); empty when
  // `offset` is negative or the pending writes could not be written.
  std::span<std::byte> WriteInPlace(int64_t offset, int64_t size);

  // Withdraws the room last handed out by WriteInPlace, when it could not be
  // filled: nothing is written there.
  void AbandonWrite(std::span<std::byte> room);

  // Writes what is pending and closes, reporting whether every byte
  // reached the file.
  bool Close();

 private:
  enum class Window { kEmpty, kRead, kWrite };

  // Writes the pending bytes, if any, and empties the window.
  bool Flush();

  // Allocated before the file is opened, so that the C library's record of
  // the open file lies above it on the heap: the memory is then kept for
  // the next stream instead of being returned to the system and faulted in
  // again at every call.
  std::unique_ptr<std::byte[]> window_;
  FilePtr file_;
  Window state_ = Window::kEmpty;
  int64_t start_ = 0;  // file offset of window_[0]
  int64_t begin_ = 0;  // window_[begin_, end_) holds file bytes read or
  int64_t end_ = 0;    // pending writes
  bool failed_ = false;  // a pending write was lost
  int64_t read_limit_ = INT64_MAX;
};

}  // namespace takeloom

// Checked, position-addressed access to files through C stdio, with RAII
// handles. Every audio read and write names its absolute byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

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

// Appends all of `data` at the end of a file opened for appending.
bool Append(std::FILE* f, std::span<const std::byte> data);

// Flushes and closes `f`, reporting whether every buffered byte reached the
// file. Always releases the handle.
bool CloseChecked(FilePtr f);

}  // namespace takeloom

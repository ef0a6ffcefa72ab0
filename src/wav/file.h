// Files by descriptor: reads and writes at 64-bit byte offsets, an RAII
// handle, and a result for every call that can fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "wav/riff.h"

namespace takeloom {

// What one copy inside the kernel did.
struct KernelCopy {
  int64_t bytes = 0;     // bytes copied; 0 where the source holds none
  bool refused = false;  // no such copy between these two files: move the
                         // bytes by reading and writing instead
  int error = 0;         // the system's error number of a failed copy
};

// Which file a name or a descriptor stands for.
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};

// The file `path` names (a link itself, not what it points to), if any.
std::optional<FileId> IdOfName(const std::string& path);

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens `path` for reading. False when it cannot be opened or is no
  // regular file (a directory, a device, a FIFO).
  bool OpenRead(const std::string& path);
  // Creates `path` as a new file for writing. Whatever stood under that
  // name is removed first (a link, not what it points to), and the file is
  // created exclusively without following links, so that this handle never
  // writes into a file that existed before.
  bool CreateNew(const std::string& path);

  bool is_open() const { return fd_ >= 0; }
  // Length in bytes, or -1 when it cannot be found.
  int64_t Length() const;
  // The file this descriptor stands for.
  std::optional<FileId> Id() const;
  // Reads up to out.size() bytes from `offset`, fewer only at the end of the
  // file. Returns the count read, or -1 on a read error.
  int64_t ReadSome(int64_t offset, std::span<std::byte> out) const;
  // Writes all of `data` at `offset`, growing the file as needed.
  bool WriteAt(int64_t offset, std::span<const std::byte> data);
  // Copies up to `count` bytes of `source`, from its byte `source_offset`,
  // to `offset` in this file, inside the kernel: no bytes pass through the
  // process, and a file system that can share blocks between files (reflink
  // on XFS, Btrfs) shares whole blocks of aligned ranges instead of copying
  // them. One call; fewer bytes than asked for are no error.
  KernelCopy CopyFrom(const File& source, int64_t source_offset,
                      int64_t offset, int64_t count);
  // Whether the file lies on an ext2, ext3 or ext4 file system.
  bool OnExtFileSystem() const;
  // Whether the file system reports the block at `offset` as shared with
  // another file (false where it cannot tell).
  bool SharesBlockAt(int64_t offset) const;
  // Sets the length to `length` bytes; growing leaves a hole that reads as
  // zeros.
  bool Resize(int64_t length);
  // Starts writing bytes [offset, offset + count) to the disk without
  // waiting for them, so that a later Sync() finds less to wait for.
  void StartWriteback(int64_t offset, int64_t count);
  // Writes the file's data through to the disk.
  bool Sync();
  // Closes, reporting whether the close succeeded; releases the handle
  // either way.
  bool Close();

 private:
  int fd_ = -1;
};

// An open file as a ByteSource for finding its chunks. Small reads, as the
// chunk walk makes them, are served from two cached pages.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const File& file) : file_(file), length_(file.Length()) {}
  int64_t Length() const override { return length_; }
  int64_t ReadSome(int64_t offset, std::span<std::byte> out) const override;

 private:
  static constexpr int64_t kPageBytes = 4096;
  const File& file_;
  int64_t length_;
  mutable std::vector<std::byte> pages_;
  mutable int64_t pages_start_ = -1;
};

}  // namespace takeloom

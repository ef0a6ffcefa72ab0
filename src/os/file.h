// Files by descriptor: reads and writes at 64-bit byte offsets, an RAII
// handle, and a result for every call that can fail.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "os/identity.h"

namespace takeloom {

// What one copy inside the kernel did.
struct KernelCopy {
  int64_t bytes = 0;     // bytes copied; 0 where the source holds none
  bool refused = false;  // no such copy between these two files: move the
                         // bytes by reading and writing instead
  int error = 0;         // the system's error number of a failed copy
};

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
  // writes into a file that existed before. `mode` is masked by the umask.
  bool CreateNew(const std::string& path, mode_t mode = 0666);
  // Sets the permission bits to `mode`, whatever the umask.
  bool SetMode(mode_t mode);

  bool is_open() const { return fd_ >= 0; }
  // Length in bytes, or -1 when it cannot be found.
  int64_t Length() const;
  // The file this descriptor stands for.
  std::optional<Identity> Id() const;
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

}  // namespace takeloom

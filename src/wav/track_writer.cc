#include "wav/track_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "os/process.h"
#include "os/syscalls.h"
#include "wav/file_block.h"
#include "wav/header.h"

namespace takeloom {
namespace {

// An output's audio goes to the disk as the build goes on, this many bytes
// at a time (in practice every copy block), so that making it durable at
// the end waits for little more than the last of it: on ext4 durable builds
// were a few percent faster with writeback every 256 KiB than every 1 MiB,
// and a tenth faster than every 8 MiB.
constexpr int64_t kWritebackBytes = 256 * 1024;

// Silence is written from this block, as often as needed.
constexpr size_t kZeroBytes = 64 * 1024;
constexpr std::array<std::byte, kZeroBytes> kZeros{};

}  // namespace

TrackWriter::TrackWriter(TrackWriter&& other) noexcept {
  *this = std::move(other);
}

TrackWriter& TrackWriter::operator=(TrackWriter&& other) noexcept {
  if (this == &other) return *this;
  (void)Remove();
  name_ = std::move(other.name_);
  path_ = std::move(other.path_);
  format_ = other.format_;
  file_ = std::move(other.file_);
  stop_ = std::move(other.stop_);
  data_start_ = other.data_start_;
  end_ = other.end_;
  hole_start_ = other.hole_start_;
  written_back_ = other.written_back_;
  created_ = std::exchange(other.created_, false);
  partial_ = other.partial_;
  kernel_copies_ = other.kernel_copies_;
  sharing_known_ = other.sharing_known_;
  shares_blocks_ = other.shares_blocks_;
  id_ = other.id_;
  length_ = other.length_;
  return *this;
}

Error TrackWriter::Open(const std::string& name, const std::string& path,
                        const TrackFormat& format, int64_t frames,
                        const HeaderExtras& extras) {
  name_ = name;
  path_ = path;
  format_ = format;
  end_ = 0;
  hole_start_ = 0;
  written_back_ = 0;
  sharing_known_ = false;
  shares_blocks_ = false;
  Error err = MAKE_HEADER(path, format, frames, &file_, &data_start_, extras);
  if (!err.ok() && OutOfDescriptors(errno)) {
    return TooManyOpenFiles(name, errno);
  }
  created_ = err.ok();
  id_ = created_ ? file_.Id() : std::nullopt;
  // The kernel's copies pay where it shares blocks (XFS, Btrfs) or where
  // the data lives on another machine (the server copies). On ext4 it can
  // only copy through the page cache, and though that spares the process a
  // copy, durable builds took a tenth longer there than reading and writing
  // (Linux 6.18): the disk got the kernel's pages later.
  kernel_copies_ = !file_.OnExtFileSystem();
  // A take whose metadata could not be copied is named as it is.
  if (err.fault == Fault::kCannotWrite) {
    err.file = name;
    err.detail = name + ": " + err.detail;
  }
  return err;
}

Error TrackWriter::Create(const std::string& path, const TrackFormat& format,
                          int64_t frames) {
  partial_ = false;
  return Open(path, path, format, frames, {});
}

Error TrackWriter::CreatePartial(const std::string& name,
                                 const TrackFormat& format, int64_t frames,
                                 const HeaderExtras& extras) {
  partial_ = true;
  // Nothing could put the output in place over a directory of its name:
  // refuse now, before anything is written.
  if (LookUp(name).id.directory()) {
    return {Fault::kCannotWrite, name, 0, name + ": it is a directory"};
  }
  return Open(name, name + std::string(kPartialSuffix), format, frames,
              extras);
}

Error TrackWriter::Write(int64_t offset, std::span<const std::byte> bytes) {
  if (bytes.empty()) return {};
  if (stop_ && stop_()) return {Fault::kInterrupted, name_};
  if (offset < 0 || !file_.WriteAt(data_start_ + offset, bytes)) {
    return Failed();
  }
  Wrote(offset + std::ssize(bytes));
  return {};
}

Error TrackWriter::CopyFrom(const File& source, int64_t source_offset,
                            int64_t offset, int64_t count, int64_t* copied) {
  *copied = 0;
  if (count <= 0) return {};
  if (stop_ && stop_()) return {Fault::kInterrupted, name_};
  if (!kernel_copies_) return {};
  if (offset < 0) {
    return {Fault::kCannotWrite, name_, 0, name_ + ": a negative offset"};
  }
  const KernelCopy copy =
      file_.CopyFrom(source, source_offset, data_start_ + offset, count);
  if (copy.refused) {
    kernel_copies_ = false;
    return {};
  }
  if (copy.error != 0) {
    return {Fault::kCannotWrite, name_, 0,
            name_ + ": copying audio into it: " + std::strerror(copy.error)};
  }
  *copied = copy.bytes;
  const int64_t at = data_start_ + offset;
  if (!sharing_known_ && copy.bytes >= kFileBlockBytes &&
      at % kFileBlockBytes == 0 && source_offset % kFileBlockBytes == 0) {
    sharing_known_ = true;
    shares_blocks_ = file_.SharesBlockAt(at);
  }
  Wrote(offset + copy.bytes);
  return {};
}

void TrackWriter::Wrote(int64_t end) {
  end_ = std::max(end_, end);
  hole_start_ = std::max(hole_start_, end);
  if (partial_ && end_ - written_back_ >= kWritebackBytes) {
    file_.StartWriteback(data_start_ + written_back_, end_ - written_back_);
    written_back_ = end_;
  }
}

Error TrackWriter::Silence(int64_t offset, int64_t count) {
  if (count <= 0) return {};
  if (offset < 0) {
    return {Fault::kCannotWrite, name_, 0, name_ + ": a negative offset"};
  }
  // Silence past the furthest byte written is a hole, which reads as zeros
  // and takes no block: the file only grows over it. Zeros are written only
  // where something else may have been written before.
  if (offset + count > end_) {
    if (stop_ && stop_()) return {Fault::kInterrupted, name_};
    if (!file_.Resize(data_start_ + offset + count)) return Failed();
    end_ = offset + count;
  }
  count = std::min(count, hole_start_ - offset);
  for (int64_t done = 0; done < count;) {
    const int64_t n = std::min<int64_t>(count - done, kZeroBytes);
    const Error err =
        Write(offset + done, std::span(kZeros).first(static_cast<size_t>(n)));
    if (!err.ok()) return err;
    done += n;
  }
  return {};
}

Error TrackWriter::Finish() {
  if (!file_.is_open()) return {Fault::kCannotWrite, name_};
  // An output's last bytes start on their way to the disk (the earlier
  // ones did as they were written). It is closed now, so that a run holds
  // one output open at a time however many tracks it builds; its name
  // cannot stand for another file unseen, since only the lock holder
  // writes partial files.
  if (partial_) {
    file_.StartWriteback(data_start_ + written_back_, end_ - written_back_);
  }
  length_ = file_.Length();
  return file_.Close() ? Error{} : Failed();
}

bool TrackWriter::StillOurs(int* error) const {
  const NameLookup found = LookUp(path_);
  if (error != nullptr) *error = found.absent() ? 0 : found.error;
  if (!found.found() || !id_ || !found.id.SameFile(*id_)) return false;
  // A closed file's inode may be reused by a file made in its place: its
  // length must match too.
  return file_.is_open() || found.id.size == length_;
}

Error TrackWriter::NotOurs(int error) const {
  if (error == 0) return {Fault::kCannotWrite, name_};
  return {Fault::kCannotWrite, name_, 0,
          path_ + ": " + std::strerror(error)};
}

Error TrackWriter::MakeDurable() {
  if (!partial_ || !created_) return {Fault::kCannotWrite, name_};
  int error = 0;
  if (!StillOurs(&error)) return NotOurs(error);
  File file;
  if (!file.OpenRead(path_)) {
    return OutOfDescriptors(errno) ? TooManyOpenFiles(name_, errno) : Failed();
  }
  if (!file.Id() || !file.Id()->SameFile(*id_)) return NotOurs(0);
  return file.Sync() && file.Close() ? Error{} : Failed();
}

Error TrackWriter::Release() {
  if (!partial_ || !created_ || file_.is_open()) {
    return {Fault::kCannotWrite, name_};
  }
  int error = 0;
  if (!StillOurs(&error)) return NotOurs(error);
  created_ = false;
  return {};
}

Error TrackWriter::Failed() const {
  return {Fault::kCannotWrite, name_, 0, name_ + ": " + std::strerror(errno)};
}

Error TrackWriter::Remove() {
  if (!created_) return {};
  created_ = false;
  int error = 0;
  const bool ours = StillOurs(&error);
  if (file_.is_open()) file_.Close();
  // A name that cannot be looked up may hold another's file: it stays, and
  // the caller says so.
  if (ours && Sys().Unlink(path_.c_str()) != 0 && errno != ENOENT) {
    error = errno;
  } else if (ours) {
    error = 0;
  }
  if (error == 0) return {};
  return {Fault::kCannotWrite, name_, 0,
          path_ + " was left: " + std::strerror(error)};
}

}  // namespace takeloom

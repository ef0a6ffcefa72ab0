#include "wav/track_writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "wav/header.h"

namespace takeloom {
namespace {

// An output's audio goes to the disk as the build goes on, this many bytes
// at a time (in practice every copy block), so that making it durable at
// the end waits for little more than the last of it: on ext4 durable builds
// were a few percent faster with writeback every 256 KiB than every 1 MiB,
// and a tenth faster than every 8 MiB.
constexpr int64_t kWritebackBytes = 256 * 1024;

// File systems that share blocks between files share them in blocks of
// this size, where both files' offsets are multiples of it.
constexpr int64_t kBlockBytes = 4096;

// Silence is written from this block, as often as needed.
constexpr size_t kZeroBytes = 64 * 1024;
constexpr std::array<std::byte, kZeroBytes> kZeros{};

}  // namespace

Error TrackWriter::Open(const std::string& name, const std::string& path,
                        const TrackFormat& format, int64_t frames) {
  name_ = name;
  path_ = path;
  format_ = format;
  end_ = 0;
  hole_start_ = 0;
  written_back_ = 0;
  sharing_known_ = false;
  shares_blocks_ = false;
  Error err = MAKE_HEADER(path, format, frames, &file_, &data_start_);
  created_ = err.ok();
  id_ = created_ ? file_.Id() : std::nullopt;
  // The kernel's copies pay where it shares blocks (XFS, Btrfs) or where
  // the data lives on another machine (the server copies). On ext4 it can
  // only copy through the page cache, and though that spares the process a
  // copy, durable builds took a tenth longer there than reading and writing
  // (Linux 6.18): the disk got the kernel's pages later.
  kernel_copies_ = !file_.OnExtFileSystem();
  err.file = name;
  return err;
}

Error TrackWriter::Create(const std::string& path, const TrackFormat& format,
                          int64_t frames) {
  partial_ = false;
  return Open(path, path, format, frames);
}

Error TrackWriter::CreatePartial(const std::string& name,
                                 const TrackFormat& format, int64_t frames) {
  partial_ = true;
  // Nothing could put the output in place over a directory of its name:
  // refuse now, before anything is written.
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(name, ec))) {
    return {Fault::kCannotWrite, name};
  }
  return Open(name, name + std::string(kPartialSuffix), format, frames);
}

Error TrackWriter::Write(int64_t offset, std::span<const std::byte> bytes) {
  if (bytes.empty()) return {};
  if (stop_ && stop_()) return {Fault::kInterrupted, name_};
  if (offset < 0 || !file_.WriteAt(data_start_ + offset, bytes)) {
    return {Fault::kCannotWrite, name_};
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
  if (offset < 0) return {Fault::kCannotWrite, name_};
  const KernelCopy copy =
      file_.CopyFrom(source, source_offset, data_start_ + offset, count);
  if (copy.refused) {
    kernel_copies_ = false;
    return {};
  }
  if (copy.error != 0) {
    return {Fault::kCannotWrite, name_, 0,
            std::string("copying audio into it: ") +
                std::strerror(copy.error)};
  }
  *copied = copy.bytes;
  const int64_t at = data_start_ + offset;
  if (!sharing_known_ && copy.bytes >= kBlockBytes && at % kBlockBytes == 0 &&
      source_offset % kBlockBytes == 0) {
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
  if (offset < 0) return {Fault::kCannotWrite, name_};
  // Silence past the furthest byte written is a hole, which reads as zeros
  // and takes no block: the file only grows over it. Zeros are written only
  // where something else may have been written before.
  if (offset + count > end_) {
    if (stop_ && stop_()) return {Fault::kInterrupted, name_};
    if (!file_.Resize(data_start_ + offset + count)) {
      return {Fault::kCannotWrite, name_};
    }
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
  if (!partial_) {
    return file_.Close() ? Error{} : Error{Fault::kCannotWrite, name_};
  }
  // An output stays open until it is put in place: its file cannot be
  // replaced unseen while this writer holds it (its inode cannot be reused
  // for another), and the disk catches up with it meanwhile. Writeback
  // starts on the whole file: crossfades are written over audio whose
  // writeback began long ago.
  file_.StartWriteback(0, data_start_ + end_);
  return {};
}

bool TrackWriter::StillOurs() const {
  const std::optional<FileId> named = IdOfName(path_);
  return named && named == (file_.is_open() ? file_.Id() : id_);
}

Error TrackWriter::MakeDurable() {
  if (!partial_ || !file_.is_open() || !StillOurs() || !file_.Sync()) {
    return {Fault::kCannotWrite, name_};
  }
  return {};
}

Error TrackWriter::Commit() {
  if (!partial_ || !file_.is_open() || !StillOurs() ||
      std::rename(path_.c_str(), name_.c_str()) != 0) {
    return {Fault::kCannotWrite, name_};
  }
  created_ = false;  // the file is the output now, no longer this writer's
  return file_.Close() ? Error{} : Error{Fault::kCannotWrite, name_};
}

void TrackWriter::Remove() {
  if (!created_) return;
  created_ = false;
  const bool ours = StillOurs();
  if (file_.is_open()) file_.Close();
  if (!ours) return;
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

}  // namespace takeloom

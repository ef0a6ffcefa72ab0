#include "wav/track_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "wav/header.h"

namespace takeloom {
namespace {

// An output's audio goes to the disk as the build goes on, this many bytes
// at a time, so that making it durable at the end waits for little more
// than the last of it.
constexpr int64_t kWritebackBytes = 8 * 1024 * 1024;

// Silence is written from this block, as often as needed.
constexpr size_t kZeroBytes = 64 * 1024;
constexpr std::array<std::byte, kZeroBytes> kZeros{};

}  // namespace

Error TrackWriter::Open(const std::string& name, const std::string& path,
                        const TrackFormat& format, int64_t frames,
                        const HeaderExtras& extras) {
  name_ = name;
  path_ = path;
  format_ = format;
  end_ = 0;
  written_back_ = 0;
  Error err = MAKE_HEADER(path, format, frames, &file_, &data_start_, extras);
  created_ = err.ok();
  id_ = created_ ? file_.Id() : std::nullopt;
  err.file = name;
  if (!err.ok()) err.detail = name + ": " + err.detail;
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
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(name, ec))) {
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
  end_ = std::max(end_, offset + std::ssize(bytes));
  if (partial_ && end_ - written_back_ >= kWritebackBytes) {
    file_.StartWriteback(data_start_ + written_back_, end_ - written_back_);
    written_back_ = end_;
  }
  return {};
}

Error TrackWriter::Silence(int64_t offset, int64_t count) {
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

bool TrackWriter::StillOurs() const {
  if (file_.is_open()) return IdOfName(path_) == file_.Id();
  // A closed file's inode may be reused by a file made in its place: its
  // length must match too.
  std::error_code ec;
  const auto length = std::filesystem::file_size(path_, ec);
  return IdOfName(path_) == id_ && !ec &&
         static_cast<int64_t>(length) == length_;
}

Error TrackWriter::MakeDurable() {
  File file;
  if (!partial_ || !created_ || !StillOurs() || !file.OpenRead(path_) ||
      file.Id() != id_) {
    return {Fault::kCannotWrite, name_};
  }
  return file.Sync() && file.Close() ? Error{} : Failed();
}

Error TrackWriter::Release() {
  if (!partial_ || !created_ || file_.is_open() || !StillOurs()) {
    return {Fault::kCannotWrite, name_};
  }
  created_ = false;
  return {};
}

Error TrackWriter::Failed() const {
  return {Fault::kCannotWrite, name_, 0, name_ + ": " + std::strerror(errno)};
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

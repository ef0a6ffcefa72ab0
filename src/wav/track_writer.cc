#include "wav/track_writer.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "wav/header.h"

namespace takeloom {
namespace {

// Silence is written from this block, as often as needed.
constexpr size_t kZeroBytes = 64 * 1024;
constexpr std::array<std::byte, kZeroBytes> kZeros{};

}  // namespace

Error TrackWriter::Create(const std::string& path, const TrackFormat& format,
                          int64_t frames) {
  path_ = path;
  format_ = format;
  end_ = 0;
  data_start_ = kHeaderBytes;
  const Error err = MAKE_HEADER(path, format, frames, &file_);
  created_ = err.ok();
  return err;
}

Error TrackWriter::Write(int64_t offset, std::span<const std::byte> bytes) {
  if (bytes.empty()) return {};
  if (offset < 0 || !file_.WriteAt(data_start_ + offset, bytes)) {
    return {Fault::kCannotWrite, path_};
  }
  end_ = std::max(end_, offset + std::ssize(bytes));
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
  if (!file_.is_open() || !file_.Close()) return {Fault::kCannotWrite, path_};
  return {};
}

void TrackWriter::Remove() {
  if (!created_) return;
  created_ = false;
  if (file_.is_open()) file_.Close();
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

}  // namespace takeloom

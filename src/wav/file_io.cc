#include "wav/file_io.h"

#include <algorithm>
#include <utility>

namespace takeloom {

FilePtr OpenFile(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

int64_t FileLength(std::FILE* f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(f);
  return length < 0 ? -1 : static_cast<int64_t>(length);
}

int64_t ReadSome(std::FILE* f, int64_t offset, std::span<std::byte> out) {
  if (offset < 0) return -1;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return -1;
  const size_t got = std::fread(out.data(), 1, out.size(), f);
  if (got < out.size() && std::ferror(f)) return -1;
  return static_cast<int64_t>(got);
}

bool ReadAt(std::FILE* f, int64_t offset, std::span<std::byte> out) {
  if (out.empty()) return true;
  // Bytes before the start of the file do not exist either; they read as
  // zero like those past its end.
  int64_t got = 0;
  if (offset >= 0) {
    got = ReadSome(f, offset, out);
    if (got < 0) return false;
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(got), out.end(),
            std::byte{0});
  return true;
}

bool WriteAt(std::FILE* f, int64_t offset, std::span<const std::byte> data) {
  if (offset < 0) return false;
  if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fwrite(data.data(), 1, data.size(), f) == data.size();
}

int64_t FileSource::ReadSome(int64_t offset, std::span<std::byte> out) const {
  if (offset < 0) return -1;
  const int64_t size = std::ssize(out);
  if (size > kPageBytes) return takeloom::ReadSome(file_, offset, out);
  // The cache holds two pages from the one that holds `offset`, so any
  // small read from that page is served whole (or up to the file's end).
  const int64_t start = offset - offset % kPageBytes;
  if (start != page_start_) {
    page_.resize(static_cast<size_t>(2 * kPageBytes));
    const int64_t got = takeloom::ReadSome(file_, start, page_);
    if (got < 0) {
      page_start_ = -1;
      return -1;
    }
    page_.resize(static_cast<size_t>(got));
    page_start_ = start;
  }
  const int64_t n =
      std::clamp<int64_t>(page_start_ + std::ssize(page_) - offset, 0, size);
  std::copy_n(page_.begin() + (offset - page_start_), n, out.begin());
  return n;
}

bool Append(std::FILE* f, std::span<const std::byte> data) {
  return std::fwrite(data.data(), 1, data.size(), f) == data.size();
}

bool CloseChecked(FilePtr f) {
  std::FILE* raw = f.release();
  if (raw == nullptr) return false;
  const bool flushed = std::fflush(raw) == 0 && !std::ferror(raw);
  return std::fclose(raw) == 0 && flushed;
}

BlockStream::BlockStream(const std::string& path, const char* mode)
    : window_(std::make_unique_for_overwrite<std::byte[]>(kWindowBytes)),
      file_(OpenFile(path, mode)) {
  if (file_ && std::setvbuf(file_.get(), nullptr, _IONBF, 0) != 0) {
    file_.reset();
  }
}

BlockStream::~BlockStream() {
  if (file_) Flush();
}

std::FILE* BlockStream::file() {
  if (!Flush()) failed_ = true;
  return file_.get();
}

bool BlockStream::Flush() {
  if (state_ != Window::kWrite) return true;
  state_ = Window::kEmpty;
  const auto pending = std::span(window_.get() + begin_,
                                 static_cast<size_t>(end_ - begin_));
  return takeloom::WriteAt(file_.get(), start_ + begin_, pending);
}

bool BlockStream::ReadAt(int64_t offset, std::span<std::byte> out) {
  if (out.empty() || offset < 0) return takeloom::ReadAt(file_.get(), offset, out);
  if (!Flush()) return false;
  while (!out.empty()) {
    const bool held =
        state_ == Window::kRead && offset >= start_ && offset < start_ + end_;
    if (!held) {
      // A read window starts at the page that holds the request, not at a
      // multiple of its size: a reader that starts mid-file would otherwise
      // fetch everything between that multiple and its first byte.
      const int64_t window_start = offset - offset % kPageBytes;
      const int64_t needed = offset - window_start + std::ssize(out);
      const int64_t size = std::clamp(read_limit_ - window_start,
                                      std::min(needed, kWindowBytes),
                                      kWindowBytes);
      const int64_t got =
          ReadSome(file_.get(), window_start,
                   std::span(window_.get(), static_cast<size_t>(size)));
      if (got < 0) {
        state_ = Window::kEmpty;
        return false;
      }
      state_ = Window::kRead;
      start_ = window_start;
      begin_ = 0;
      end_ = got;
      // The file ends before the request: the rest of it reads as zero.
      if (offset >= start_ + end_) {
        std::fill(out.begin(), out.end(), std::byte{0});
        return true;
      }
    }
    const int64_t at = offset - start_;
    const int64_t n = std::min(std::ssize(out), end_ - at);
    std::copy_n(window_.get() + at, n, out.begin());
    out = out.subspan(static_cast<size_t>(n));
    offset += n;
  }
  return true;
}

bool BlockStream::WriteAt(int64_t offset, std::span<const std::byte> data) {
  if (offset < 0) return false;
  while (!data.empty()) {
    const int64_t window_start = offset - offset % kWindowBytes;
    const bool continues = state_ == Window::kWrite &&
                           start_ == window_start && offset == start_ + end_;
    if (!continues) {
      if (!Flush()) return false;
      state_ = Window::kWrite;
      start_ = window_start;
      begin_ = end_ = offset - window_start;
    }
    const int64_t n =
        std::min(static_cast<int64_t>(data.size()), kWindowBytes - end_);
    std::copy_n(data.begin(), n, window_.get() + end_);
    end_ += n;
    data = data.subspan(static_cast<size_t>(n));
    offset += n;
    if (end_ == kWindowBytes && !Flush()) return false;
  }
  return true;
}

std::span<std::byte> BlockStream::WriteInPlace(int64_t offset, int64_t size) {
  if (offset < 0 || size <= 0) return {};
  const int64_t window_start = offset - offset % kWindowBytes;
  const bool continues = state_ == Window::kWrite && start_ == window_start &&
                         offset == start_ + end_;
  if (!continues) {
    // Also where the window is full: it is written only now, once the
    // caller has filled its last bytes.
    if (!Flush()) return {};
    state_ = Window::kWrite;
    start_ = window_start;
    begin_ = end_ = offset - window_start;
  }
  const int64_t n = std::min(size, kWindowBytes - end_);
  const auto room = std::span(window_.get() + end_, static_cast<size_t>(n));
  end_ += n;
  return room;
}

void BlockStream::AbandonWrite(std::span<std::byte> room) {
  if (state_ == Window::kWrite && !room.empty() &&
      room.data() + room.size() == window_.get() + end_) {
    end_ -= std::ssize(room);
  }
}

bool BlockStream::Close() {
  const bool flushed = Flush() && !failed_;
  return CloseChecked(std::move(file_)) && flushed;
}

}  // namespace takeloom

#include "wav/file_source.h"

#include <algorithm>

namespace takeloom {

int64_t FileSource::ReadSome(int64_t offset, std::span<std::byte> out) const {
  if (offset < 0) return -1;
  const int64_t size = std::ssize(out);
  if (size > kPageBytes) return file_.ReadSome(offset, out);
  // The cache holds two pages from the one that holds `offset`, so any small
  // read from that page is served whole (or up to the file's end).
  const int64_t start = offset - offset % kPageBytes;
  if (start != pages_start_) {
    pages_.resize(static_cast<size_t>(2 * kPageBytes));
    const int64_t got = file_.ReadSome(start, pages_);
    if (got < 0) {
      pages_start_ = -1;
      return -1;
    }
    pages_.resize(static_cast<size_t>(got));
    pages_start_ = start;
  }
  const int64_t n =
      std::clamp<int64_t>(pages_start_ + std::ssize(pages_) - offset, 0, size);
  std::copy_n(pages_.begin() + (offset - pages_start_), n, out.begin());
  return n;
}

}  // namespace takeloom

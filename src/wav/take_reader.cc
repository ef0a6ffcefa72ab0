#include "wav/take_reader.h"

#include <algorithm>

namespace takeloom {

Error TakeReader::Open(const std::string& path, const TakeAttributes& take) {
  path_ = path;
  take_ = take;
  if (!file_.OpenRead(path)) return {Fault::kCannotOpen, path};
  file_length_ = file_.Length();
  if (file_length_ < 0) return {Fault::kCannotRead, path};
  return {};
}

bool TakeReader::BeginsInside(int64_t frame) const {
  int64_t bytes = 0;
  int64_t offset = 0;
  // A window whose start does not fit in 64 bits lies inside no file.
  if (__builtin_mul_overflow(frame, frame_size(), &bytes) ||
      __builtin_add_overflow(take_.data_start, bytes, &offset)) {
    return false;
  }
  return offset >= take_.data_start && offset <= file_length_;
}

Error TakeReader::Read(int64_t offset, std::span<std::byte> out) const {
  // The part of [offset, offset + size) that holds audio, if any.
  const int64_t low = std::max<int64_t>(offset, 0);
  const int64_t high = std::min(offset + std::ssize(out), AudioBytes());
  if (low >= high) {
    std::fill(out.begin(), out.end(), std::byte{0});
    return {};
  }
  const auto audio = out.subspan(static_cast<size_t>(low - offset),
                                 static_cast<size_t>(high - low));
  std::fill(out.begin(), audio.begin(), std::byte{0});
  std::fill(audio.end(), out.end(), std::byte{0});
  if (file_.ReadSome(take_.data_start + low, audio) != std::ssize(audio)) {
    return {Fault::kCannotRead, path_};
  }
  return {};
}

}  // namespace takeloom

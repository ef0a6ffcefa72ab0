#include "wav/take_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/process.h"

namespace takeloom {

Error TakeReader::Open(const std::string& path, const TakeAttributes& take) {
  path_ = path;
  take_ = take;
  if (!file_.OpenRead(path)) {
    if (OutOfDescriptors(errno)) return TooManyOpenFiles(path, errno);
    return {Fault::kTakeChanged, path, 0,
            path + " cannot be opened: " + std::strerror(errno)};
  }
  file_length_ = file_.Length();
  return Recheck();
}

Error TakeReader::Recheck() const {
  // Whatever was inspected must still be there: a take replaced, cut short
  // or written into since would put other bytes, or none, where its audio
  // was. A copy over it keeps its inode and length but not its times.
  const std::optional<Identity> now = file_.Id();
  if (!now) {
    return {Fault::kTakeChanged, path_, 0,
            path_ + " cannot be looked at: " + std::strerror(errno)};
  }
  if (!now->SameFile(take_.identity)) {
    return {Fault::kTakeChanged, path_, 0,
            path_ + " was replaced by another file since it was inspected"};
  }
  if (now->size != take_.identity.size) {
    return {Fault::kTakeChanged, path_, 0,
            path_ + " was " + std::to_string(take_.identity.size) +
                " bytes long when inspected and is " +
                std::to_string(now->size) + " now"};
  }
  if (!now->Unchanged(take_.identity)) {
    return {Fault::kTakeChanged, path_, 0,
            path_ + " was written to since it was inspected"};
  }
  return {};
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
  const int64_t got = file_.ReadSome(FileOffset(low), audio);
  if (got != std::ssize(audio)) {
    return {Fault::kTakeChanged, path_, 0,
            got < 0 ? path_ + " cannot be read: " + std::strerror(errno)
                    : path_ + " ends before its audio does: it was cut "
                              "short during the build"};
  }
  return {};
}

}  // namespace takeloom

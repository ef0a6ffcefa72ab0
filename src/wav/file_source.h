// An open file seen as a run of bytes, for the chunk walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "os/file.h"
#include "wav/riff.h"

namespace takeloom {

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

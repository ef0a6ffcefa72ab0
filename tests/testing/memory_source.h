// The bytes of a file held in memory, for the pure readers of WAV structure
// (chunk walk, tag scan, inspection) to work on without a file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "wav/riff.h"

namespace takeloom::testing {

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::byte> bytes) : bytes_(bytes) {}
  int64_t Length() const override { return std::ssize(bytes_); }
  int64_t ReadSome(int64_t offset, std::span<std::byte> out) const override {
    if (offset < 0) return -1;
    if (offset >= Length()) return 0;
    const auto n =
        static_cast<size_t>(std::min(std::ssize(out), Length() - offset));
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return static_cast<int64_t>(n);
  }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace takeloom::testing

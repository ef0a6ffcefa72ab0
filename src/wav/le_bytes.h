// Little-endian numbers in byte buffers, by explicit shifts, whatever the
// host's own byte order: the one home of the helpers every file format and
// sample conversion of the tool uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace takeloom {

// The `width` bytes (1 to 8) at `at` as an unsigned number.
inline uint64_t LoadLe(std::span<const std::byte> bytes, size_t at,
                       size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= std::to_integer<uint64_t>(bytes[at + i]) << (8 * i);
  }
  return value;
}

inline uint32_t LoadU16(std::span<const std::byte> bytes, size_t at) {
  return static_cast<uint32_t>(LoadLe(bytes, at, 2));
}

inline uint32_t LoadU32(std::span<const std::byte> bytes, size_t at) {
  return static_cast<uint32_t>(LoadLe(bytes, at, 4));
}

// Stores the low `width` bytes (1 to 8) of `value` at `at`.
inline void StoreLe(std::span<std::byte> bytes, size_t at, size_t width,
                    uint64_t value) {
  for (size_t i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
  }
}

}  // namespace takeloom

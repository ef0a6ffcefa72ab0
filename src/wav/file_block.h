// The block in which file systems that share blocks between files share
// them: a range is shared only where both files' offsets and its length
// are multiples of it, so outputs lay their audio out by it.
#pragma once

#include <cstdint>

namespace takeloom {

inline constexpr int64_t kFileBlockBytes = 4096;

}  // namespace takeloom

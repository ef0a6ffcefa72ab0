// Finding a take's "fmt" and "data" tags: the one scan every WAV operation
// uses. Tags are compared at even offsets 2, 4, 6, ... up to a limit that
// each caller sets, and the first match wins; chunk sizes are never followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

namespace takeloom {

// Search limits (the last candidate offset) of the scan's users. Recorders
// pad their headers so that audio starts as late as byte 131072; every limit
// that reads takes admits those, so all readers of a take find the same tag.
constexpr int64_t kInspectScanLimit = 131072;
constexpr int64_t kPadScanLimit = 15000;
constexpr int64_t kCopyScanLimit = 171032;
constexpr int64_t kCrossfadeScanLimit = 131072;

// Offset of the first even candidate c (2 <= c <= limit) whose bytes equal
// `tag` and lie wholly inside `bytes`; nullopt when there is none.
std::optional<int64_t> FindTag(std::span<const std::byte> bytes,
                               std::string_view tag, int64_t limit);

// The same search over an open file, reading it in bounded blocks from the
// start. nullopt when the tag is absent or the file cannot be read.
std::optional<int64_t> ScanFileForTag(std::FILE* f, std::string_view tag,
                                      int64_t limit);

// Data start (offset of "data" + 8) of an open file, or nullopt.
std::optional<int64_t> FindDataStart(std::FILE* f, int64_t limit);

}  // namespace takeloom

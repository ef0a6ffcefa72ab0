#include "wav/chunk_scan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "wav/file_io.h"

namespace takeloom {
namespace {

// The first read is one page, which holds the tag of nearly every file (and
// of every file the tool writes); files with long headers are then read
// this many bytes at a time.
constexpr int64_t kFirstScanBytes = 4096;
constexpr int64_t kScanBlockBytes = 64 * 1024;

// Candidates that fall on a header's own numbers are no tags, whatever
// letters the numbers spell: offset 4 of a RIFF file is its size, and in the
// 44-byte layout of the files this tool writes, offsets 16 to 35 are format
// fields. (An output of 1635017024 data bytes has a size field that reads
// "data"; taking it for the tag would write audio over the header.)
bool IsHeaderNumber(std::span<const std::byte> bytes, int64_t base,
                    int64_t c) {
  const auto text_at = [&](size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
  };
  if (base != 0 || !text_at(0, "RIFF")) return false;
  if (c == 4) return true;
  using namespace std::string_view_literals;
  return c >= 16 && c < 36 && text_at(8, "WAVEfmt ") &&
         text_at(16, "\x10\0\0\0"sv) && text_at(36, "data");
}

// Searches `bytes`, which hold the file from the even offset `base` on, for
// the first even candidate c with max(2, base) <= c <= limit.
std::optional<int64_t> FindTagFrom(std::span<const std::byte> bytes,
                                   int64_t base, std::string_view tag,
                                   int64_t limit) {
  const int64_t tag_size = static_cast<int64_t>(tag.size());
  // A candidate matches only when all of its bytes exist.
  const int64_t last =
      std::min(limit, base + static_cast<int64_t>(bytes.size()) - tag_size);
  for (int64_t c = std::max<int64_t>(2, base); c <= last; c += 2) {
    if (std::memcmp(bytes.data() + (c - base), tag.data(), tag.size()) == 0 &&
        !IsHeaderNumber(bytes, base, c)) {
      return c;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<int64_t> FindTag(std::span<const std::byte> bytes,
                               std::string_view tag, int64_t limit) {
  return FindTagFrom(bytes, 0, tag, limit);
}

std::optional<int64_t> ScanFileForTag(std::FILE* f, std::string_view tag,
                                      int64_t limit) {
  const int64_t tag_size = static_cast<int64_t>(tag.size());
  if (tag_size == 0 || limit < 2) return std::nullopt;
  // Consecutive blocks overlap by an even number of bytes at least as large
  // as a tag, so a tag straddling a block boundary is still seen whole and
  // `base` stays even.
  const int64_t overlap = (tag_size + 1) & ~int64_t{1};
  // Nothing past the last candidate's bytes can matter.
  const int64_t scan_end = limit + tag_size;
  std::vector<std::byte> block;
  int64_t base = 0;
  while (true) {
    const int64_t want = std::min(base == 0 ? kFirstScanBytes : kScanBlockBytes,
                                  scan_end - base);
    if (std::ssize(block) < want) block.resize(static_cast<size_t>(want));
    const int64_t got =
        ReadSome(f, base, std::span(block.data(), static_cast<size_t>(want)));
    if (got < 0) return std::nullopt;
    const auto found = FindTagFrom(
        std::span(block.data(), static_cast<size_t>(got)), base, tag, limit);
    if (found || got < want || base + got >= scan_end) return found;
    base += got - overlap;
  }
}

std::optional<int64_t> FindDataStart(std::FILE* f, int64_t limit) {
  const auto tag = ScanFileForTag(f, "data", limit);
  if (!tag) return std::nullopt;
  return *tag + 8;
}

}  // namespace takeloom

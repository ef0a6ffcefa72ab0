#include "wav/riff.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "wav/le_bytes.h"

namespace takeloom {
namespace {

// The scan reads one page first, which holds the tag of nearly every file,
// then blocks of this many bytes.
constexpr int64_t kFirstScanBytes = 4096;
constexpr int64_t kScanBlockBytes = 64 * 1024;

constexpr int64_t kChunkHeaderBytes = 8;
constexpr int64_t kFirstChunk = 12;
// The 32-bit size an RF64 file gives a chunk whose size its ds64 holds.
constexpr uint64_t kNoSize = 0xFFFFFFFF;

bool SameText(std::span<const std::byte> bytes, size_t at,
              std::string_view text) {
  return bytes.size() >= at + text.size() &&
         std::memcmp(bytes.data() + at, text.data(), text.size()) == 0;
}

// Candidates that fall on a header's own numbers are no tags, whatever
// letters the numbers spell: offset 4 of a RIFF file is its size, and in the
// 44-byte layout of the files this tool writes, offsets 16 to 35 are format
// fields. (An output of 1635017024 data bytes has a size field that reads
// "data"; taking it for the tag would write audio over the header.)
bool IsHeaderNumber(std::span<const std::byte> bytes, int64_t base,
                    int64_t c) {
  if (base != 0 || !SameText(bytes, 0, "RIFF")) return false;
  if (c == 4) return true;
  using namespace std::string_view_literals;
  return c >= 16 && c < 36 && SameText(bytes, 8, "WAVEfmt ") &&
         SameText(bytes, 16, "\x10\0\0\0"sv) && SameText(bytes, 36, "data");
}

// Searches `bytes`, which hold the file from the even offset `base` on, for
// the first even candidate c with max(2, base) <= c <= limit.
std::optional<int64_t> FindTagFrom(std::span<const std::byte> bytes,
                                   int64_t base, std::string_view tag,
                                   int64_t limit) {
  const int64_t tag_size = std::ssize(tag);
  // A candidate matches only when all of its bytes exist.
  const int64_t last = std::min(limit, base + std::ssize(bytes) - tag_size);
  for (int64_t c = std::max<int64_t>(2, base); c <= last; c += 2) {
    if (SameText(bytes, static_cast<size_t>(c - base), tag) &&
        !IsHeaderNumber(bytes, base, c)) {
      return c;
    }
  }
  return std::nullopt;
}

}  // namespace

bool IsChunkHeaderAt(const ByteSource& file, int64_t offset) {
  std::array<std::byte, kChunkHeaderBytes> header{};
  if (file.ReadSome(offset, header) != kChunkHeaderBytes) return false;
  for (size_t i = 0; i < 4; ++i) {
    const auto c = std::to_integer<char>(header[i]);
    const bool fits = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      (c >= '0' && c <= '9') || c == ' ';
    if (!fits) return false;
  }
  return LoadU32(header, 4) <= file.Length() - offset - kChunkHeaderBytes;
}

ChunkPlaces WalkChunks(const ByteSource& file) {
  ChunkPlaces places;
  std::array<std::byte, kFirstChunk> head{};
  if (file.ReadSome(0, head) != kFirstChunk) return places;
  const bool rf64 = SameText(head, 0, "RF64") || SameText(head, 0, "BW64");
  if (!(rf64 || SameText(head, 0, "RIFF")) || !SameText(head, 8, "WAVE")) {
    return places;
  }

  const int64_t length = file.Length();
  int64_t offset = kFirstChunk;
  std::array<std::byte, kChunkHeaderBytes> chunk{};
  while (file.ReadSome(offset, chunk) == kChunkHeaderBytes) {
    // Once the format and the audio are found the walk goes on for the
    // metadata alone, and over nothing but chunks: the bytes a recorder
    // leaves after its last chunk (zeros, a torn write) end it.
    const bool layout_found = places.fmt && places.data;
    if (layout_found &&
        ((places.bext.length != 0 && places.ixml.length != 0) ||
         !IsChunkHeaderAt(file, offset))) {
      break;
    }
    uint64_t size = LoadU32(chunk, 4);
    if (!places.fmt && SameText(chunk, 0, "fmt ")) places.fmt = offset;
    if (rf64 && !layout_found && !places.long_data_size &&
        SameText(chunk, 0, "ds64") && size >= 16) {
      std::array<std::byte, 16> sizes{};  // RIFF size, then data size
      if (file.ReadSome(offset + kChunkHeaderBytes, sizes) == 16) {
        places.long_data_size = LoadLe(sizes, 8, 8);
      }
    }
    if (!places.data && SameText(chunk, 0, "data")) {
      places.data = offset;
      if (size == kNoSize && places.long_data_size) {
        size = *places.long_data_size;
      }
      // An unset size: the audio runs to the end, no chunk after it.
      if (size == 0 && !IsChunkHeaderAt(file, offset + kChunkHeaderBytes)) {
        break;
      }
    }
    // Sizes read from the file may be any 64-bit number.
    const uint64_t room = static_cast<uint64_t>(length - offset);
    if (size > room || kChunkHeaderBytes + size + (size & 1) > room) break;
    // Editors write their metadata after the audio as often as before it.
    const ChunkSpan span{offset, static_cast<int64_t>(kChunkHeaderBytes +
                                                      size + (size & 1))};
    if (places.bext.length == 0 && SameText(chunk, 0, "bext")) {
      places.bext = span;
    }
    if (places.ixml.length == 0 && SameText(chunk, 0, "iXML")) {
      places.ixml = span;
    }
    offset += span.length;
  }
  return places;
}

std::optional<int64_t> ScanForTag(const ByteSource& file, std::string_view tag,
                                  int64_t limit) {
  const int64_t tag_size = std::ssize(tag);
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
        file.ReadSome(base, std::span(block.data(), static_cast<size_t>(want)));
    if (got < 0) return std::nullopt;
    const auto found = FindTagFrom(
        std::span(block.data(), static_cast<size_t>(got)), base, tag, limit);
    if (found || got < want || base + got >= scan_end) return found;
    base += got - overlap;
  }
}

ChunkPlaces LocateChunks(const ByteSource& file, int64_t scan_limit) {
  ChunkPlaces places = WalkChunks(file);
  // A data chunk the walk cannot reach, or a format chunk it does not
  // find (one that follows audio cut short, say), is left to the scan.
  if (!places.data) {
    places.data = ScanForTag(file, "data", scan_limit);
    places.fmt = ScanForTag(file, "fmt", scan_limit);
  } else if (!places.fmt) {
    places.fmt = ScanForTag(file, "fmt", scan_limit);
  }
  return places;
}

}  // namespace takeloom

// Where a WAV file's format chunk and audio lie: found by walking its RIFF
// chunk list, or, for files whose list cannot be walked, by the tag scan
// that compares "fmt" and "data" at even offsets up to a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace takeloom {

// The last offset the tag scan examines in a take. Recorders pad their
// headers so that audio starts as late as byte 131072.
constexpr int64_t kInspectScanLimit = 131072;

// Random access to the bytes of a file, or of a buffer in tests.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Total length in bytes.
  virtual int64_t Length() const = 0;
  // Reads up to out.size() bytes from `offset`, fewer only at the end of
  // the source. Returns the count read, or -1 on a read error.
  virtual int64_t ReadSome(int64_t offset, std::span<std::byte> out) const = 0;
};

// Where a chunk lies: the offset of its id and its whole length (id, size,
// body and pad byte); a length of 0 stands for no chunk.
struct ChunkSpan {
  int64_t offset = 0;
  int64_t length = 0;
};

struct ChunkPlaces {
  std::optional<int64_t> fmt;   // offset of the format chunk's id
  std::optional<int64_t> data;  // offset of the data chunk's id
  // The 64-bit data size of an RF64 or BW64 file, from its ds64 chunk: the
  // data chunk's own 32-bit size is 0xFFFFFFFF in such a file.
  std::optional<uint64_t> long_data_size;
  // The recorder's metadata wherever it stands, before or after the audio:
  // the first Broadcast WAV description and the first iXML chunk.
  ChunkSpan bext;
  ChunkSpan ixml;
};

// Whether a well-formed chunk header starts at `offset`: four letters,
// digits or spaces, then a 32-bit size whose body fits in the file.
bool IsChunkHeaderAt(const ByteSource& file, int64_t offset);

// Walks the chunk list of a file that begins "RIFF", "RF64" or "BW64" and
// then "WAVE": from offset 12, each chunk is a 4-byte id, a 32-bit
// little-endian size and that many bytes, plus a pad byte after an odd size.
// The first chunk of each id counts. In an RF64 or BW64 file a ds64 chunk
// (its id, its size, then the 64-bit RIFF size, data size and sample count)
// gives the data size, and a data chunk whose size reads 0xFFFFFFFF is that
// long. A data chunk of size 0 that no chunk header follows holds the rest
// of the file (its recorder stopped before writing the size). The walk
// stops at the end of the file or at a chunk whose size runs past the end;
// once both are found it goes on past the audio (from where its declared
// size ends) for the first bext and iXML chunks, and stops there at
// anything that is no well-formed chunk header (see IsChunkHeaderAt).
ChunkPlaces WalkChunks(const ByteSource& file);

// The first even offset c, 2 <= c <= limit, whose bytes equal `tag` and lie
// wholly inside the file, passing over the numbers of a RIFF header that may
// spell letters; nullopt when there is none or the file cannot be read.
std::optional<int64_t> ScanForTag(const ByteSource& file, std::string_view tag,
                                  int64_t limit);

// Both chunks as every reader of a take finds them: by the walk when it
// reaches the data chunk, otherwise both by the tag scan up to `scan_limit`,
// so that odd files whose list cannot be walked still read as they did; a
// format chunk the walk does not find is left to the scan as well.
ChunkPlaces LocateChunks(const ByteSource& file, int64_t scan_limit);

}  // namespace takeloom

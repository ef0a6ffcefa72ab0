// Builders for the bytes of WAV takes in tests: a canonical 44-byte header
// with audio, or a custom chunk layout; and a way to make file writes fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace takeloom::testing {

using Bytes = std::vector<std::byte>;

void PutU16(Bytes& out, uint32_t value);
void PutU32(Bytes& out, uint32_t value);
void PutText(Bytes& out, std::string_view text);
// The unsigned little-endian number in the `width` bytes at `at`.
uint64_t Le(std::span<const std::byte> bytes, size_t at, size_t width);

// A chunk: `id`, the size of `body`, the body, and a pad byte after an odd
// size.
Bytes Chunk(std::string_view id, std::string_view body);

// A "fmt " chunk (tag, size 16, and the 16 bytes of fields).
Bytes FmtChunk(uint16_t format_tag, uint32_t channels, uint32_t sample_rate,
               uint32_t bits_per_sample);

// A whole take: RIFF header, fmt chunk, optional extra chunks, then the data
// chunk holding `audio`. `declared_data_size` overrides the data size field.
struct TakeParts {
  uint32_t channels = 2;
  uint32_t sample_rate = 44100;
  uint32_t bits_per_sample = 16;
  uint16_t format_tag = 1;
  Bytes extra_chunks{};               // placed between "fmt " and "data"
  int64_t declared_data_size = -1;    // -1: the size of `audio`
  // As float files are written for readers that expect them: the "fmt "
  // chunk with its 2-byte extension size of 0, then a "fact" chunk with the
  // frame count.
  bool fact_chunk = false;
  // 0 or more: an extensible format chunk (40 bytes, all bits valid) with
  // this channel mask and `format_tag` as its sub-format.
  int64_t channel_mask = -1;
  Bytes audio{};
  // The audio chunk's id; any other than "data" leaves the take without one.
  std::string_view data_id = "data";
};
Bytes MakeTake(const TakeParts& parts);

// The layout of a take or an output as end-to-end tests describe it.
struct AudioFormat {
  uint32_t channels = 2;
  uint32_t rate = 1000;
  uint32_t bits = 16;
  bool is_float = false;
  int64_t Width() const { return bits / 8; }
  int64_t FrameSize() const { return int64_t{channels} * Width(); }
};

// The parts of a canonical take of format `f` holding `audio`.
TakeParts PartsOf(const AudioFormat& f, const Bytes& audio);

// Bytes as text and back, for comparing with files read whole.
std::string Text(std::span<const std::byte> bytes);
Bytes ToBytes(std::string_view text);

// The audio of a WAV file, found by walking its chunks; what the file holds
// of the data chunk when that runs past its end.
Bytes AudioOf(const Bytes& file);

// The audio of the WAV file at `path`, as AudioOf finds it.
Bytes AudioOfFile(const std::string& path);

// Interleaved little-endian PCM from signed sample values (each of
// bytes_per_sample bytes, two's complement, low bits kept).
Bytes Pcm(const std::vector<int64_t>& samples, uint32_t bytes_per_sample);

// `n` bytes without a short period, so a block landing at a wrong offset
// cannot match by accident. Different seeds give different bytes.
Bytes Noise(size_t n, uint32_t seed);

// While alive, writes that would make any file of this process (or of the
// programs it starts) longer than `max_bytes` fail. With `ignore_signal`
// they fail with EFBIG instead of raising SIGXFSZ; without it, a program
// started meanwhile must ignore that signal itself.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(uint64_t max_bytes, bool ignore_signal = true);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  uint64_t old_soft_limit_ = UINT64_MAX;  // no limit
  void (*old_handler_)(int) = nullptr;
};

}  // namespace takeloom::testing

#include "testing/wav_bytes.h"

#include "testing/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>

namespace takeloom::testing {

void PutU16(Bytes& out, uint32_t value) {
  out.push_back(static_cast<std::byte>(value & 0xFF));
  out.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}

void PutU32(Bytes& out, uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

void PutText(Bytes& out, std::string_view text) {
  for (char c : text) out.push_back(static_cast<std::byte>(c));
}

uint64_t Le(std::span<const std::byte> bytes, size_t at, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= std::to_integer<uint64_t>(bytes[at + i]) << (8 * i);
  }
  return value;
}

Bytes Chunk(std::string_view id, std::string_view body) {
  Bytes out;
  PutText(out, id);
  PutU32(out, static_cast<uint32_t>(body.size()));
  PutText(out, body);
  if (body.size() % 2 == 1) out.push_back(std::byte{0});
  return out;
}

Bytes FmtChunk(uint16_t format_tag, uint32_t channels, uint32_t sample_rate,
               uint32_t bits_per_sample) {
  Bytes out;
  const uint32_t block_align = channels * (bits_per_sample / 8);
  PutText(out, "fmt ");
  PutU32(out, 16);
  PutU16(out, format_tag);
  PutU16(out, channels);
  PutU32(out, sample_rate);
  PutU32(out, sample_rate * block_align);
  PutU16(out, block_align);
  PutU16(out, bits_per_sample);
  return out;
}

Bytes MakeTake(const TakeParts& parts) {
  Bytes body;
  PutText(body, "WAVE");
  Bytes fmt = FmtChunk(parts.format_tag, parts.channels, parts.sample_rate,
                       parts.bits_per_sample);
  if (parts.channel_mask >= 0) {
    fmt[4] = std::byte{40};
    fmt[8] = std::byte{0xFE};  // the extensible tag, 0xFFFE
    fmt[9] = std::byte{0xFF};
    PutU16(fmt, 22);
    PutU16(fmt, parts.bits_per_sample);
    PutU32(fmt, static_cast<uint32_t>(parts.channel_mask));
    PutU16(fmt, parts.format_tag);
    PutText(fmt,
            std::string_view("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14));
  } else if (parts.fact_chunk) {
    fmt[4] = std::byte{18};
    PutU16(fmt, 0);
  }
  if (parts.fact_chunk) {
    const uint32_t frame_size = parts.channels * (parts.bits_per_sample / 8);
    PutText(fmt, "fact");
    PutU32(fmt, 4);
    PutU32(fmt, static_cast<uint32_t>(parts.audio.size() / frame_size));
  }
  body.insert(body.end(), fmt.begin(), fmt.end());
  body.insert(body.end(), parts.extra_chunks.begin(), parts.extra_chunks.end());
  PutText(body, parts.data_id);
  PutU32(body, parts.declared_data_size < 0
                   ? static_cast<uint32_t>(parts.audio.size())
                   : static_cast<uint32_t>(parts.declared_data_size));
  body.insert(body.end(), parts.audio.begin(), parts.audio.end());

  Bytes out;
  PutText(out, "RIFF");
  PutU32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

TakeParts PartsOf(const AudioFormat& f, const Bytes& audio) {
  TakeParts parts;
  parts.channels = f.channels;
  parts.sample_rate = f.rate;
  parts.bits_per_sample = f.bits;
  parts.format_tag = f.is_float ? 3 : 1;
  parts.audio = audio;
  return parts;
}

Bytes AudioOfFile(const std::string& path) {
  return AudioOf(ToBytes(ReadFile(path)));
}

std::string Text(std::span<const std::byte> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes ToBytes(std::string_view text) {
  Bytes out(text.size());
  std::transform(text.begin(), text.end(), out.begin(),
                 [](char c) { return static_cast<std::byte>(c); });
  return out;
}

Bytes AudioOf(const Bytes& file) {
  size_t at = 12;
  while (at + 8 <= file.size()) {
    const uint64_t size = Le(file, at + 4, 4);
    if (Text(std::span(file).subspan(at, 4)) == "data") {
      const size_t end = std::min<uint64_t>(file.size(), at + 8 + size);
      return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 8),
                   file.begin() + static_cast<std::ptrdiff_t>(end));
    }
    at += 8 + size + size % 2;
  }
  ADD_FAILURE() << "no data chunk";
  return {};
}

Bytes Pcm(const std::vector<int64_t>& samples, uint32_t bytes_per_sample) {
  Bytes out;
  out.reserve(samples.size() * bytes_per_sample);
  for (int64_t sample : samples) {
    const uint64_t bits = static_cast<uint64_t>(sample);
    for (uint32_t b = 0; b < bytes_per_sample; ++b) {
      out.push_back(static_cast<std::byte>((bits >> (8 * b)) & 0xFF));
    }
  }
  return out;
}

Bytes Noise(size_t n, uint32_t seed) {
  Bytes out(n);
  uint32_t state = seed * 2654435761u + 1;
  for (std::byte& b : out) {
    state = state * 1664525u + 1013904223u;  // full-period LCG
    b = static_cast<std::byte>(state >> 24);
  }
  return out;
}

ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t max_bytes,
                                         bool ignore_signal) {
  old_handler_ = std::signal(SIGXFSZ, ignore_signal ? SIG_IGN : SIG_DFL);
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) {
    ADD_FAILURE() << "cannot read the file size limit";
    return;
  }
  old_soft_limit_ = limit.rlim_cur;
  limit.rlim_cur = max_bytes;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
    ADD_FAILURE() << "cannot set the file size limit";
  }
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0) {
    limit.rlim_cur = old_soft_limit_;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  std::signal(SIGXFSZ, old_handler_);
}

}  // namespace takeloom::testing

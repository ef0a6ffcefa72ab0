#include "wav/header.h"

#include <filesystem>
#include <system_error>

#include "wav/le_bytes.h"

namespace takeloom {
namespace {

constexpr uint64_t kMaxField = 0xFFFFFFFF;
// The header bytes that follow the RIFF size field and precede the audio.
constexpr uint64_t kRiffOverhead = 36;

void PutTag(std::array<std::byte, kHeaderBytes>& out, size_t at,
            const char (&tag)[5]) {
  for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<std::byte>(tag[i]);
}

}  // namespace

std::array<std::byte, kHeaderBytes> HeaderBytes(const TrackFormat& format,
                                                int64_t frames) {
  const uint32_t sample_rate = format.sample_rate;
  const uint32_t bits_per_sample = format.bits_per_sample;
  const uint32_t channel_count = format.channels & 0xFFFF;
  const uint32_t bytes_per_sample = bits_per_sample / 8;
  const uint32_t byte_rate = bytes_per_sample * sample_rate * channel_count;
  // Multiplying before dividing keeps odd bit depths whole: 12-bit stereo
  // aligns to 3 bytes although its sizes count 2 bytes per frame.
  const uint32_t block_align =
      static_cast<uint32_t>((uint64_t{bits_per_sample} * channel_count) / 8) &
      0xFFFF;

  // Sizes that do not fit 32 bits saturate: a wrapped size would declare a
  // long take nearly empty, while the largest value tells readers to trust
  // the file's length.
  const uint64_t frame_size = uint64_t{bytes_per_sample} * channel_count;
  const uint64_t frame_count = frames < 0 ? 0 : static_cast<uint64_t>(frames);
  uint64_t data_size = kMaxField;
  if (frame_size == 0 || frame_count <= kMaxField / frame_size) {
    data_size = frame_size * frame_count;
  }
  const uint64_t riff_size =
      data_size > kMaxField - kRiffOverhead ? kMaxField
                                            : data_size + kRiffOverhead;

  std::array<std::byte, kHeaderBytes> out{};
  PutTag(out, 0, "RIFF");
  StoreLe(out, 4, 4, static_cast<uint32_t>(riff_size));
  PutTag(out, 8, "WAVE");
  PutTag(out, 12, "fmt ");
  StoreLe(out, 16, 4, 16);  // format chunk size
  StoreLe(out, 20, 2, FormatTagOf(format.format));
  StoreLe(out, 22, 2, channel_count);
  StoreLe(out, 24, 4, sample_rate);
  StoreLe(out, 28, 4, byte_rate);
  StoreLe(out, 32, 2, block_align);
  StoreLe(out, 34, 2, bits_per_sample);
  PutTag(out, 36, "data");
  StoreLe(out, 40, 4, static_cast<uint32_t>(data_size));
  return out;
}

Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file) {
  const auto header = HeaderBytes(format, frames);
  if (!file->CreateNew(path)) return {Fault::kCannotWrite, path};
  if (file->WriteAt(0, header)) return {};
  // The file is this call's own: nothing is left half-written.
  file->Close();
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return {Fault::kCannotWrite, path};
}

}  // namespace takeloom

#include "wav/header.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "wav/le_bytes.h"

namespace takeloom {
namespace {

constexpr uint64_t kMaxField = 0xFFFFFFFF;

// Appends fields to a header in file order.
class HeaderOut {
 public:
  void Tag(std::string_view tag) {
    for (char c : tag) bytes_.push_back(static_cast<std::byte>(c));
  }
  void Number(size_t width, uint64_t value) {
    bytes_.resize(bytes_.size() + width);
    StoreLe(bytes_, bytes_.size() - width, width, value);
  }
  std::vector<std::byte> Take() { return std::move(bytes_); }

 private:
  std::vector<std::byte> bytes_;
};

}  // namespace

std::vector<std::byte> HeaderBytes(const TrackFormat& format, int64_t frames) {
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
  const uint64_t frame_count = frames < 0 ? 0 : static_cast<uint64_t>(frames);
  // No file holds more than 64-bit sizes can count; a count beyond them
  // (it cannot come from a real take) declares the most they can.
  const uint64_t frame_size = uint64_t{bytes_per_sample} * channel_count;
  constexpr uint64_t kMaxData = UINT64_MAX - 128;
  const uint64_t data_size = frame_size != 0 && frame_count > kMaxData / frame_size
                                 ? kMaxData
                                 : frame_size * frame_count;

  // Readers expect a format other than integer PCM to give its format
  // chunk's extension size (none here) and its frame count in a fact chunk.
  const bool is_float = format.format == SampleFormat::kFloat;
  const uint64_t fmt_size = is_float ? 18 : 16;
  const uint64_t fact_bytes = is_float ? 12 : 0;
  const uint64_t classic_header = 12 + 8 + fmt_size + fact_bytes + 8;
  const bool rf64 = classic_header - 8 + data_size > kMaxField;
  const uint64_t header = classic_header + (rf64 ? 36 : 0);
  const uint64_t riff_size = header - 8 + data_size;

  HeaderOut out;
  out.Tag(rf64 ? "RF64" : "RIFF");
  out.Number(4, rf64 ? kMaxField : riff_size);
  out.Tag("WAVE");
  if (rf64) {
    out.Tag("ds64");
    out.Number(4, 28);
    out.Number(8, riff_size);
    out.Number(8, data_size);
    out.Number(8, frame_count);
    out.Number(4, 0);  // no table of other chunks' sizes
  }
  out.Tag("fmt ");
  out.Number(4, fmt_size);
  out.Number(2, FormatTagOf(format.format));
  out.Number(2, channel_count);
  out.Number(4, sample_rate);
  out.Number(4, byte_rate);
  out.Number(2, block_align);
  out.Number(2, bits_per_sample);
  if (is_float) {
    out.Number(2, 0);  // extension size
    out.Tag("fact");
    out.Number(4, 4);
    out.Number(4, std::min(frame_count, kMaxField));
  }
  out.Tag("data");
  out.Number(4, rf64 ? kMaxField : data_size);
  return out.Take();
}

Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file, int64_t* audio_start) {
  const std::vector<std::byte> header = HeaderBytes(format, frames);
  *audio_start = std::ssize(header);
  if (!file->CreateNew(path)) return {Fault::kCannotWrite, path};
  if (file->WriteAt(0, header)) return {};
  // The file is this call's own: nothing is left half-written.
  file->Close();
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  return {Fault::kCannotWrite, path};
}

}  // namespace takeloom

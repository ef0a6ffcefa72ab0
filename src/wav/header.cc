#include "wav/header.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string_view>

#include "os/syscalls.h"
#include "wav/file_block.h"
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
  void Bytes(std::span<const std::byte> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  void Zeros(uint64_t count) { bytes_.resize(bytes_.size() + count); }
  std::vector<std::byte> Take() { return std::move(bytes_); }

 private:
  std::vector<std::byte> bytes_;
};

// Audio that lies where it lies in its take within each 4096-byte block
// keeps the blocks of take and output in step: a copy sized to whole blocks
// of one is whole blocks of the other, and a file system can share them.
constexpr uint64_t kAlignBlock = kFileBlockBytes;

// The payload of the JUNK chunk that moves audio, after `before` header
// bytes, to the first place that lies where `align_with` does within a
// block; nullopt when it lies there already or nothing asks for it. The
// JUNK chunk's own 8 bytes come on top: the earliest such place is then
// `before` + 16.
std::optional<uint64_t> JunkPayload(uint64_t before, int64_t align_with) {
  if (align_with < 0 || align_with % 2 != 0) return std::nullopt;
  const uint64_t want = static_cast<uint64_t>(align_with) % kAlignBlock;
  if ((before + 8) % kAlignBlock == want) return std::nullopt;
  const uint64_t earliest = (before + 16) % kAlignBlock;
  return (want + kAlignBlock - earliest) % kAlignBlock;
}

// Writes `bytes` at `at` of the output `path`.
Error WriteAll(std::span<const std::byte> bytes, int64_t at, File* file,
               const std::string& path) {
  if (file->WriteAt(at, bytes)) return {};
  return {Fault::kCannotWrite, path, 0, std::strerror(errno)};
}

// A chunk is copied through a buffer of this size, so that memory stays the
// same whatever size a chunk declares.
constexpr size_t kCopyBlockBytes = 64 * 1024;

// Copies `chunk` of the take to `at` of the output `path`. Blocks of zeros
// are not written: the output is new, so they are holes that read as
// zeros, and a take's chunk reserved but never filled costs no disk.
Error CopyChunk(const File& take, const std::string& take_path,
                const ChunkSpan& chunk, int64_t at, File* file,
                const std::string& path) {
  std::vector<std::byte> block(kCopyBlockBytes);
  for (int64_t done = 0; done < chunk.length;) {
    const auto want = std::span(block).first(static_cast<size_t>(
        std::min<int64_t>(chunk.length - done, kCopyBlockBytes)));
    if (take.ReadSome(chunk.offset + done, want) != std::ssize(want)) {
      return {Fault::kTakeChanged, take_path, 0,
              take_path + ": its metadata could not be read whole"};
    }
    // All zeros when the first is and each byte equals the next.
    const bool zeros =
        want[0] == std::byte{0} &&
        std::memcmp(want.data(), want.data() + 1, want.size() - 1) == 0;
    if (!zeros) {
      if (Error err = WriteAll(want, at + done, file, path); !err.ok()) {
        return err;
      }
    }
    done += std::ssize(want);
  }
  return {};
}

}  // namespace

int64_t HeaderExtras::MetadataBytes() const {
  int64_t total = 0;
  for (const ChunkSpan& chunk : metadata) total += chunk.length;
  return total;
}

HeaderLayout LayOutHeader(const TrackFormat& format, int64_t frames,
                          const HeaderExtras& extras) {
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
  const bool extensible = extras.extensible.has_value();
  const uint64_t fmt_size = extensible ? 40 : is_float ? 18 : 16;
  const uint64_t fact_bytes = is_float ? 12 : 0;
  // The bytes before the data chunk, without a JUNK chunk; whether the file
  // is RF64 counts every byte it holds.
  const auto metadata_bytes = static_cast<uint64_t>(extras.MetadataBytes());
  const uint64_t classic_before =
      12 + 8 + fmt_size + fact_bytes + metadata_bytes;
  const auto junk_bytes = [&](uint64_t before) {
    const std::optional<uint64_t> payload =
        JunkPayload(before, extras.align_with);
    return payload ? 8 + *payload : 0;
  };
  const bool rf64 =
      classic_before + junk_bytes(classic_before) + data_size > kMaxField;
  const uint64_t before = classic_before + (rf64 ? 36 : 0);
  const std::optional<uint64_t> junk = JunkPayload(before, extras.align_with);
  const uint64_t riff_size = before + junk_bytes(before) + data_size;

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
  out.Number(2, extensible ? kFormatTagExtensible : FormatTagOf(format.format));
  out.Number(2, channel_count);
  out.Number(4, sample_rate);
  out.Number(4, byte_rate);
  out.Number(2, block_align);
  out.Number(2, bits_per_sample);
  if (extensible) {
    // A count of valid bits that says nothing, or more than a sample
    // holds, means all of them.
    const uint32_t valid = extras.extensible->valid_bits;
    out.Number(2, 22);  // extension size
    out.Number(2, valid == 0 || valid > bits_per_sample ? bits_per_sample
                                                        : valid);
    out.Number(4, extras.extensible->channel_mask);
    out.Number(2, FormatTagOf(format.format));
    out.Bytes(std::as_bytes(std::span(kSubFormatGuidTail)));
  } else if (is_float) {
    out.Number(2, 0);  // extension size
  }
  if (is_float) {
    out.Tag("fact");
    out.Number(4, 4);
    out.Number(4, std::min(frame_count, kMaxField));
  }
  HeaderLayout layout;
  layout.before = out.Take();
  layout.metadata_bytes = static_cast<int64_t>(metadata_bytes);
  if (junk) {
    out.Tag("JUNK");
    out.Number(4, *junk);
    out.Zeros(*junk);
  }
  out.Tag("data");
  out.Number(4, rf64 ? kMaxField : data_size);
  layout.after = out.Take();
  return layout;
}

std::vector<std::byte> HeaderBytes(const TrackFormat& format, int64_t frames) {
  HeaderLayout layout = LayOutHeader(format, frames, {});
  layout.before.insert(layout.before.end(), layout.after.begin(),
                       layout.after.end());
  return std::move(layout.before);
}

Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file, int64_t* audio_start,
                  const HeaderExtras& extras) {
  const HeaderLayout layout = LayOutHeader(format, frames, extras);
  *audio_start = layout.size();
  // The take is checked before anything is created: the metadata must be
  // what inspection found.
  File take;
  if (layout.metadata_bytes != 0 &&
      (!take.OpenRead(extras.take_path) || !take.Id() ||
       !take.Id()->Unchanged(extras.take_identity))) {
    return {Fault::kTakeChanged, extras.take_path, 0,
            extras.take_path + " is gone or no longer the file inspected"};
  }
  if (!file->CreateNew(path)) {
    return {Fault::kCannotWrite, path, 0, std::strerror(errno)};
  }
  Error err = WriteAll(layout.before, 0, file, path);
  int64_t at = std::ssize(layout.before);
  for (const ChunkSpan& chunk : extras.metadata) {
    if (!err.ok()) break;
    err = CopyChunk(take, extras.take_path, chunk, at, file, path);
    at += chunk.length;
  }
  if (err.ok()) err = WriteAll(layout.after, at, file, path);
  if (err.ok()) return err;
  // The file is this call's own: nothing is left half-written.
  file->Close();
  Sys().Unlink(path.c_str());
  return err;
}

HeaderExtras HeaderExtrasOf(const std::string& path,
                            const TakeAttributes& take) {
  HeaderExtras extras;
  extras.take_path = path;
  extras.take_identity = take.identity;
  for (const ChunkSpan& chunk : {take.bext, take.ixml}) {
    if (chunk.length != 0) extras.metadata.push_back(chunk);
  }
  extras.extensible = take.extensible;
  extras.align_with = take.data_start;
  return extras;
}

}  // namespace takeloom

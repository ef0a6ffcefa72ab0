#include "wav/inspect.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "wav/file.h"
#include "wav/le_bytes.h"

namespace takeloom {
namespace {

// Distances of the fields read from the "fmt" tag, and the end of the last.
constexpr int64_t kFormatTagAt = 8;
constexpr int64_t kChannelsAt = 10;
constexpr int64_t kSampleRateAt = 12;
constexpr int64_t kBitsAt = 22;
constexpr int64_t kFormatFieldsEnd = 24;
constexpr int64_t kSubFormatAt = 32;
constexpr int64_t kExtensibleFieldsEnd = 34;

}  // namespace

TrackFormat FormatOf(const TakeAttributes& take) {
  return {take.sample_rate, take.bits_per_sample, take.bytes_per_sample,
          take.channels, take.format};
}

Error InspectTake(const ByteSource& file, const std::string& name,
                  Inspection* out) {
  *out = Inspection();
  TakeAttributes& take = out->take;
  const Error unreadable{Fault::kUnreadableFormat, name};
  const ChunkPlaces chunks = LocateChunks(file, kInspectScanLimit);

  // Without a format chunk the fields are read where the scan's last
  // candidate would have put them; the caller warns and goes on.
  out->format_chunk_missing = !chunks.fmt;
  const int64_t f = chunks.fmt.value_or(kInspectScanLimit);
  std::array<std::byte, kExtensibleFieldsEnd> fields{};
  const int64_t got = file.ReadSome(f, fields);
  if (got < kFormatFieldsEnd) return unreadable;
  take.channels = LoadU16(fields, kChannelsAt);
  take.sample_rate = LoadU32(fields, kSampleRateAt);
  take.bits_per_sample = LoadU16(fields, kBitsAt);
  take.bytes_per_sample = take.bits_per_sample / 8;
  uint32_t tag = LoadU16(fields, kFormatTagAt);
  if (tag == kFormatTagExtensible) {
    if (got < kExtensibleFieldsEnd) return unreadable;
    tag = LoadU16(fields, kSubFormatAt);
  }
  // Only float needs telling apart: any other tag is copied as raw integer
  // samples of the layout the fields describe.
  take.format = tag == kFormatTagFloat ? SampleFormat::kFloat
                                       : SampleFormat::kInteger;

  if (!chunks.data) return {Fault::kNoDataChunk, name};
  take.data_start = *chunks.data + 8;

  const uint32_t frame_size = take.bytes_per_sample * take.channels;
  if (frame_size == 0) return unreadable;
  // A file that ends inside the size field leaves its missing bytes zero;
  // the clip below makes such a take empty either way.
  std::array<std::byte, 4> size_field{};
  if (file.ReadSome(*chunks.data + 4, size_field) < 0) {
    return {Fault::kCannotRead, name};
  }
  // An RF64 or BW64 take over 4 GiB gives its real size in its ds64 chunk.
  uint64_t data_size = LoadU32(size_field, 0);
  if (data_size == 0xFFFFFFFF && chunks.long_data_size) {
    data_size = *chunks.long_data_size;
  }
  const int64_t declared = static_cast<int64_t>(
      std::min<uint64_t>(data_size / frame_size, INT64_MAX));
  // Headers of recordings cut short claim more than the file holds; count
  // only whole frames that are really there, and never fewer than none.
  take.file_length = file.Length();
  const int64_t available = (take.file_length - take.data_start) / frame_size;
  take.frames = std::max<int64_t>(0, std::min(declared, available));
  return {};
}

Error GET_ATTRIBUTES(const std::string& path, Inspection* out) {
  File file;
  if (!file.OpenRead(path)) return {Fault::kCannotOpen, path};
  const FileSource source(file);
  if (source.Length() < 0) return {Fault::kCannotOpen, path};
  return InspectTake(source, path, out);
}

}  // namespace takeloom

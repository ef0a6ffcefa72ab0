#include "wav/inspect.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <array>
#include <cstdint>
#include <cstdio>

#include "os/process.h"
#include "wav/le_bytes.h"

namespace takeloom {
namespace {

// Distances of the fields read from the "fmt" tag, and the end of the last
// that every format chunk has and of the extensible format's.
constexpr int64_t kFmtSizeAt = 4;
constexpr int64_t kFormatTagAt = 8;
constexpr int64_t kChannelsAt = 10;
constexpr int64_t kSampleRateAt = 12;
constexpr int64_t kBlockAlignAt = 20;
constexpr int64_t kBitsAt = 22;
constexpr int64_t kFormatFieldsEnd = 24;
constexpr int64_t kValidBitsAt = 26;
constexpr int64_t kChannelMaskAt = 28;
constexpr int64_t kSubFormatAt = 32;
constexpr int64_t kExtensibleFieldsEnd = 48;
// The size of an extensible format chunk that holds all its fields.
constexpr uint32_t kExtensibleFmtSize = 40;

// The tag an extensible format chunk's sub-format names, or its own tag
// when the GUID is none that names a tag.
uint32_t SubFormatTag(std::span<const std::byte> fields) {
  for (size_t i = 0; i < kSubFormatGuidTail.size(); ++i) {
    if (std::to_integer<unsigned char>(fields[kSubFormatAt + 2 + i]) !=
        kSubFormatGuidTail[i]) {
      return kFormatTagExtensible;
    }
  }
  return LoadU16(fields, kSubFormatAt);
}

// The samples the tool can copy and blend: whole bytes of integers or
// floats of the usual widths, each frame exactly its samples.
bool CanCopy(uint32_t tag, uint32_t block_align, const TakeAttributes& take) {
  const uint32_t bits = take.bits_per_sample;
  bool width = false;
  if (tag == kFormatTagPcm) width = bits == 16 || bits == 24 || bits == 32;
  if (tag == kFormatTagFloat) width = bits == 32 || bits == 64;
  return width && take.channels >= 1 &&
         uint64_t{block_align} == uint64_t{take.channels} * bits / 8;
}

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
  const int64_t length = file.Length();
  take.bext = chunks.bext;
  take.ixml = chunks.ixml;
  take.file_length = length;

  // Fields read anywhere else would be audio bytes taken for a format.
  if (!chunks.fmt) {
    out->format_chunk_missing = true;
    return {Fault::kUnreadableFormat, name, 0, name + " has no format chunk"};
  }
  std::array<std::byte, kExtensibleFieldsEnd> fields{};
  const int64_t got = file.ReadSome(*chunks.fmt, fields);
  if (got < kFormatFieldsEnd) return unreadable;
  take.channels = LoadU16(fields, kChannelsAt);
  take.sample_rate = LoadU32(fields, kSampleRateAt);
  take.bits_per_sample = LoadU16(fields, kBitsAt);
  take.bytes_per_sample = take.bits_per_sample / 8;
  uint32_t tag = LoadU16(fields, kFormatTagAt);
  if (tag == kFormatTagExtensible) {
    if (got < kExtensibleFieldsEnd) return unreadable;
    tag = SubFormatTag(fields);
    if (LoadU32(fields, kFmtSizeAt) >= kExtensibleFmtSize) {
      take.extensible = ExtensibleInfo{LoadU16(fields, kValidBitsAt),
                                       LoadU32(fields, kChannelMaskAt)};
    }
  }
  take.format = tag == kFormatTagFloat ? SampleFormat::kFloat
                                       : SampleFormat::kInteger;

  if (!chunks.data) {
    return {Fault::kNoDataChunk, name, 0, name + " has no data chunk"};
  }
  take.data_start = *chunks.data + 8;

  const uint32_t frame_size = take.bytes_per_sample * take.channels;
  if (frame_size == 0) return unreadable;
  const uint32_t block_align = LoadU16(fields, kBlockAlignAt);
  if (!CanCopy(tag, block_align, take)) {
    char found[96];
    std::snprintf(found, sizeof found,
                  ": format tag 0x%04X, %u-bit samples, %u channel(s), "
                  "block align %u",
                  tag, take.bits_per_sample, take.channels, block_align);
    return {Fault::kUnsupportedFormat, name, 0, name + found};
  }

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
  // A recorder that stopped before writing its sizes leaves them 0 with the
  // audio after them; a chunk header right after the data chunk's own
  // means the take is empty indeed.
  if (data_size == 0 && length > take.data_start &&
      !IsChunkHeaderAt(file, take.data_start)) {
    out->data_size_unset = true;
    data_size = static_cast<uint64_t>(length - take.data_start);
  }
  const int64_t declared = static_cast<int64_t>(
      std::min<uint64_t>(data_size / frame_size, INT64_MAX));
  // Headers of recordings cut short claim more than the file holds; count
  // only whole frames that are really there, and never fewer than none.
  const int64_t available = (length - take.data_start) / frame_size;
  take.frames = std::max<int64_t>(0, std::min(declared, available));
  return {};
}

Error GET_ATTRIBUTES(const std::string& path, Inspection* out) {
  File file;
  if (!file.OpenRead(path)) {
    const int reason = errno;
    if (OutOfDescriptors(reason)) return TooManyOpenFiles(path, reason);
    const NameLookup found = LookUpFollowing(path);
    return {Fault::kCannotOpen, path, 0,
            path + ": " + (found.found() && !found.id.regular()
                               ? std::string("not a regular file")
                               : std::string(std::strerror(reason)))};
  }
  const FileSource source(file);
  if (source.Length() < 0) return {Fault::kCannotOpen, path};
  const std::optional<Identity> id = file.Id();
  if (!id) return {Fault::kCannotOpen, path};
  const Error err = InspectTake(source, path, out);
  out->take.identity = *id;
  return err;
}

}  // namespace takeloom

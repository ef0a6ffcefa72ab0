#include "wav/inspect.h"

#include <algorithm>
#include <vector>

#include "wav/chunk_scan.h"
#include "wav/file_io.h"

namespace takeloom {
namespace {

// Distances of the fields read from the "fmt" tag, and the end of the last.
constexpr int64_t kFormatTagAt = 8;
constexpr int64_t kChannelsAt = 10;
constexpr int64_t kSampleRateAt = 12;
constexpr int64_t kBitsAt = 22;
constexpr int64_t kFormatFieldsEnd = 24;
constexpr int64_t kSubFormatAt = 32;
constexpr int64_t kFirstHeadBytes = 4096;

uint32_t U16At(std::span<const std::byte> bytes, int64_t at) {
  const auto b = [&](int64_t i) {
    return static_cast<uint32_t>(bytes[static_cast<size_t>(at + i)]);
  };
  return b(0) | (b(1) << 8);
}

uint32_t U32At(std::span<const std::byte> bytes, int64_t at) {
  return U16At(bytes, at) | (U16At(bytes, at + 2) << 16);
}

}  // namespace

Inspection InspectTakeBytes(std::span<const std::byte> head,
                            int64_t file_length) {
  Inspection result;
  TakeAttributes& take = result.take;
  const int64_t head_size = static_cast<int64_t>(head.size());

  // Without a format tag the fields are read where the last candidate
  // would have put them; the caller warns and goes on.
  const auto fmt = FindTag(head, "fmt", kInspectScanLimit);
  result.format_chunk_missing = !fmt;
  const int64_t f = fmt.value_or(kInspectScanLimit);
  if (f + kFormatFieldsEnd > head_size) {
    result.fault = InspectFault::kUnreadableFormat;
    return result;
  }
  take.channels = U16At(head, f + kChannelsAt);
  take.sample_rate = U32At(head, f + kSampleRateAt);
  take.bits_per_sample = U16At(head, f + kBitsAt);
  take.bytes_per_sample = take.bits_per_sample / 8;
  uint32_t tag = U16At(head, f + kFormatTagAt);
  if (tag == kFormatTagExtensible) {
    if (f + kSubFormatAt + 2 > head_size) {
      result.fault = InspectFault::kUnreadableFormat;
      return result;
    }
    tag = U16At(head, f + kSubFormatAt);
  }
  // Only float needs telling apart: any other tag is copied as raw integer
  // samples of the layout the fields describe.
  take.format = tag == kFormatTagFloat ? SampleFormat::kFloat
                                       : SampleFormat::kInteger;

  const auto data = FindTag(head, "data", kInspectScanLimit);
  if (!data) {
    result.fault = InspectFault::kNoDataBlock;
    return result;
  }
  take.data_start = *data + 8;

  const uint32_t frame_size = take.bytes_per_sample * take.channels;
  if (frame_size == 0) {
    result.fault = InspectFault::kUnreadableFormat;
    return result;
  }
  // A file that ends inside the size field leaves its missing bytes zero;
  // the clip below makes such a take empty either way.
  uint32_t data_size = 0;
  for (int64_t i = 0; i < 4 && *data + 4 + i < head_size; ++i) {
    data_size |= static_cast<uint32_t>(head[static_cast<size_t>(*data + 4 + i)])
                 << (8 * i);
  }
  const int64_t declared = data_size / frame_size;
  // Headers of recordings cut short claim more than the file holds; count
  // only whole frames that are really there, and never fewer than none.
  const int64_t available = (file_length - take.data_start) / frame_size;
  take.frames = std::max<int64_t>(0, std::min(declared, available));
  return result;
}

Inspection GET_ATTRIBUTES(const std::string& path) {
  Inspection cannot_open;
  cannot_open.fault = InspectFault::kCannotOpen;
  const FilePtr file = OpenFile(path, "rb");
  if (!file) return cannot_open;
  const int64_t length = FileLength(file.get());
  if (length < 0) return cannot_open;
  // Most takes hold both tags and their fields in the first few kilobytes.
  // A tag found in a shorter head is the first match in the longer one too,
  // so the whole head is read only when something was not found.
  Inspection result;
  for (const int64_t want : {kFirstHeadBytes, kInspectHeadBytes}) {
    std::vector<std::byte> head(static_cast<size_t>(std::min(length, want)));
    if (ReadSome(file.get(), 0, head) != static_cast<int64_t>(head.size())) {
      return cannot_open;
    }
    result = InspectTakeBytes(head, length);
    const int64_t got = static_cast<int64_t>(head.size());
    if (got == length ||
        (!result.format_chunk_missing && result.fault == InspectFault::kNone &&
         result.take.data_start <= got)) {
      break;
    }
  }
  return result;
}

}  // namespace takeloom

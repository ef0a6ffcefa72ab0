// Take inspection: a take's format fields and the frames its data chunk
// really holds, read without touching the audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "wav/chunk_scan.h"
#include "wav/sample_format.h"

namespace takeloom {

struct TakeAttributes {
  uint32_t channels = 0;          // 0 to 65535
  int64_t data_start = 0;         // byte offset of the first audio byte
  uint32_t sample_rate = 0;
  int64_t frames = 0;             // clipped to what the file holds
  uint32_t bytes_per_sample = 0;  // bits per sample / 8, truncated
  uint32_t bits_per_sample = 0;   // 0 to 65535
  SampleFormat format = SampleFormat::kInteger;
};

enum class InspectFault {
  kNone,
  kCannotOpen,        // the take does not exist or cannot be read
  kNoDataBlock,       // no "data" tag within the search limit
  kUnreadableFormat,  // format fields past the end of the file, or frame size 0
};

struct Inspection {
  TakeAttributes take;
  bool format_chunk_missing = false;  // no "fmt" tag: fields read at the limit
  InspectFault fault = InspectFault::kNone;
};

// How much of a take inspection may need: the fields of an extensible "fmt"
// chunk at the last candidate end 34 bytes after its tag.
constexpr int64_t kInspectHeadBytes = kInspectScanLimit + 34;

// Inspects the first bytes of a take (its first kInspectHeadBytes, or the
// whole file when it is shorter) given the file's total length. Fields that
// lie beyond `head` count as past the end of the file.
Inspection InspectTakeBytes(std::span<const std::byte> head,
                            int64_t file_length);

// Opens and inspects the take at `path`.
Inspection GET_ATTRIBUTES(const std::string& path);

}  // namespace takeloom

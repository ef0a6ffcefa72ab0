// Take inspection: a take's format fields and the frames its data chunk
// really holds, read without touching the audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "wav/riff.h"
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

// Inspects a take: its format fields, where its audio starts, and how many
// whole frames of it the file really holds.
Inspection InspectTake(const ByteSource& file);

// Opens and inspects the take at `path`.
Inspection GET_ATTRIBUTES(const std::string& path);

}  // namespace takeloom

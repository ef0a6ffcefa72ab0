// Take inspection: a take's format fields and the frames its data chunk
// really holds, read without touching the audio.
#pragma once

#include <cstdint>
#include <string>

#include "error.h"
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
  int64_t file_length = 0;        // bytes, as inspected
};

struct Inspection {
  TakeAttributes take;
  bool format_chunk_missing = false;  // no format chunk: fields read at the
                                      // scan limit; the caller warns
};

// The format a take gives its track.
TrackFormat FormatOf(const TakeAttributes& take);

// Inspects the take `file`, named `name` in any error: kUnreadableFormat
// when its format fields lie past the end of the file or give frames of 0
// bytes, kNoDataChunk when it has no data chunk.
Error InspectTake(const ByteSource& file, const std::string& name,
                  Inspection* out);

// Opens and inspects the take at `path`; kCannotOpen when it cannot be
// opened or measured.
Error GET_ATTRIBUTES(const std::string& path, Inspection* out);

}  // namespace takeloom

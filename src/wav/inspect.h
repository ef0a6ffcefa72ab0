// Take inspection: a take's format fields and the frames its data chunk
// really holds, read without touching the audio.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "error.h"
#include "wav/file_source.h"
#include "wav/riff.h"
#include "wav/sample_format.h"

namespace takeloom {

struct TakeAttributes {
  uint32_t channels = 0;          // 1 to 65535
  int64_t data_start = 0;         // byte offset of the first audio byte
  uint32_t sample_rate = 0;
  int64_t frames = 0;             // clipped to what the file holds
  uint32_t bytes_per_sample = 0;  // bits per sample / 8
  uint32_t bits_per_sample = 0;   // 16, 24 or 32; 32 or 64 for float
  SampleFormat format = SampleFormat::kInteger;
  // Set when the format chunk is extensible (tag 0xFFFE) and 40 bytes or
  // more, so that an output can say the same of its channels.
  std::optional<ExtensibleInfo> extensible{};
  // The recorder's metadata before the data chunk (see ChunkPlaces).
  ChunkSpan bext{};
  ChunkSpan ixml{};
  // The file as inspected, so that a take replaced since can be told.
  Identity identity{};
  int64_t file_length = 0;
};

struct Inspection {
  TakeAttributes take;
  bool format_chunk_missing = false;  // the caller says so before the error
  // The data chunk's size is 0 and audio follows it: a recorder stopped
  // before writing its sizes. The frames run to the end of the file, and
  // the caller notes it.
  bool data_size_unset = false;
};

// The format a take gives its track.
TrackFormat FormatOf(const TakeAttributes& take);

// Inspects the take `file`, named `name` in any error: kUnreadableFormat
// when it has no format chunk, or its format fields lie past the end of
// the file or give frames of 0 bytes; kNoDataChunk when it has no data
// chunk; kUnsupportedFormat when its samples are none of 16-, 24- or 32-bit
// integers or 32- or 64-bit floats, whole bytes packed without gaps.
Error InspectTake(const ByteSource& file, const std::string& name,
                  Inspection* out);

// Opens and inspects the take at `path`; kCannotOpen when it cannot be
// opened or measured.
Error GET_ATTRIBUTES(const std::string& path, Inspection* out);

}  // namespace takeloom

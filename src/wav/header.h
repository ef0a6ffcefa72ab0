// The headers of the files the tool writes, each an uncompressed WAV file
// whose sizes declare a given number of frames: 44 bytes for integer audio;
// 58 for float audio, whose format chunk carries its 2-byte extension size
// and is followed by a fact chunk with the frame count; and the RF64 form of
// either (80 or 94 bytes) for audio whose sizes do not fit in 32 bits. An
// output can also keep what its first take's recorder wrote: the extensible
// format with its channel mask, the bext and iXML chunks (wherever they
// stand in the take), and the place of the audio within a 4096-byte block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "os/file.h"
#include "wav/inspect.h"
#include "wav/sample_format.h"

namespace takeloom {

// What an output takes over from the take heard first in it; empty for a
// take without them. The metadata is named by its place, not held: a chunk
// may be as large as the take, and is copied block by block as the header
// is written.
struct HeaderExtras {
  // The take, as inspected, and where in it its first bext chunk and then
  // its first iXML chunk lie, each whole with its pad byte.
  std::string take_path;
  Identity take_identity{};
  std::vector<ChunkSpan> metadata;
  // Its extensible format's fields, when it has them.
  std::optional<ExtensibleInfo> extensible;
  // Where its audio starts; negative for no alignment.
  int64_t align_with = -1;

  int64_t MetadataBytes() const;
};

// A header in the order it is written: the bytes before the metadata, the
// metadata's length, and the bytes after it (any JUNK chunk, then the data
// chunk's id and size).
struct HeaderLayout {
  std::vector<std::byte> before;
  int64_t metadata_bytes = 0;
  std::vector<std::byte> after;

  int64_t size() const {
    return std::ssize(before) + metadata_bytes + std::ssize(after);
  }
};

// The header for `frames` frames of `format` (a negative count declares 0);
// the audio follows it directly. The classic RIFF form holds every file
// whose RIFF size fits in 32 bits; larger ones are RF64, with "RF64" and
// 0xFFFFFFFF in place of the RIFF size and a ds64 chunk after "WAVE" that
// carries the 64-bit RIFF size, data size and frame count.
//
// With `extras`: an extensible format chunk (40 bytes, the PCM or float
// sub-format) when they have one; the metadata after the format chunk and
// any fact chunk; and when `extras.align_with` is even and the audio would
// start elsewhere within a 4096-byte block than it does there, a JUNK
// chunk before the data chunk that moves it to the first such place.
HeaderLayout LayOutHeader(const TrackFormat& format, int64_t frames,
                          const HeaderExtras& extras);

// The whole header of an output that keeps no metadata.
std::vector<std::byte> HeaderBytes(const TrackFormat& format, int64_t frames);

// Creates `path` as a new file (see File::CreateNew), writes its header,
// copying the metadata from its take, and leaves it open in `file`, with
// `*audio_start` set to where the audio begins. kTakeChanged, naming the
// take, when the take is gone, is no longer the file inspected, or does not
// hold its metadata whole; kCannotWrite, with the system's reason as its
// detail, when `path` cannot be created or written. A file left
// half-written is removed.
Error MAKE_HEADER(const std::string& path, const TrackFormat& format,
                  int64_t frames, File* file, int64_t* audio_start,
                  const HeaderExtras& extras = {});

// What an output takes over from the take at `path`, which inspection
// found as `take`.
HeaderExtras HeaderExtrasOf(const std::string& path,
                            const TakeAttributes& take);

}  // namespace takeloom

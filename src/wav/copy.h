// Moving audio into an existing WAV file's data region: a frame copy from
// another WAV file, in blocks of at most one stream window, and silence, in
// blocks of at most 1024 frames.
#pragma once

#include <cstdint>
#include <string>

namespace takeloom {

constexpr int64_t kBlockFrames = 1024;

enum class CopyResult {
  kOk,
  kNoDataBlock,         // a file has no "data" tag within the scan limit
  kSourceUnreadable,    // the source cannot be opened or read
  kDestinationFailed,   // the destination cannot be opened, positioned,
                        // written or closed
};

// Copies `frames` frames from `source` (starting at `source_frame`) into
// `destination` at `destination_frame`. Frames past the source's end are
// written as zero bytes.
CopyResult INSERT_FILE(const std::string& destination, const std::string& source,
                       int64_t destination_frame, uint32_t bytes_per_sample,
                       uint32_t channels, int64_t frames, int64_t source_frame);

// Writes `frames` frames of zero bytes into `path` from `start_frame` on.
CopyResult PAD_FILE(const std::string& path, int64_t start_frame,
                    uint32_t bytes_per_sample, uint32_t channels,
                    int64_t frames);

}  // namespace takeloom

// Moving audio into an output's data region, by frame position: frames
// copied from a take, and silence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "error.h"
#include "wav/take_reader.h"
#include "wav/track_writer.h"

namespace takeloom {

// Copies `frames` frames of `take`, from `source_frame` on, into `out` at
// `destination_frame`; frames the take does not hold arrive as silence.
// The take's audio is copied inside the kernel where the writer finds that
// pays (whole blocks are shared where the file system can); elsewhere, where
// the kernel refuses, and for the pieces around shared blocks, bytes move
// through `buffer`, a block at a time. The output's bytes are the same
// either way.
Error INSERT_FILE(TrackWriter& out, const TakeReader& take,
                  int64_t destination_frame, int64_t frames,
                  int64_t source_frame, std::span<std::byte> buffer);

// Writes `frames` frames of silence into `out` from `start_frame` on.
Error PAD_FILE(TrackWriter& out, int64_t start_frame, int64_t frames);

}  // namespace takeloom

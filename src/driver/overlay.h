// One crossfade laid over a track: the previous and the next take's windows
// around an edit point, read block by block, blended, and written both to
// the temporary crossfade file and over the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/plan.h"
#include "dsp/curves.h"
#include "error.h"
#include "wav/take_reader.h"
#include "wav/track_writer.h"

namespace takeloom {

// The two takes of a crossfade, open, and where its window begins in both.
struct CrossfadeWindows {
  TakeReader previous;
  TakeReader next;
  int64_t first_frame = 0;  // the centre frame less half the length
};

// Working storage of every crossfade of a run: one block of each window and
// of the result, and the gain table. Bounded by a block, not by the window.
struct CrossfadeScratch {
  std::vector<std::byte> previous, next, blended;
  GainTable gains;
};

// Opens both takes and places their windows of `length` frames, half of
// them (truncated) before `centre`. When they cannot be used, the fault
// names the take: both opens are judged first (previous, then next), then
// each window's start (kWindowOutside, number 1 for the previous take and
// 2 for the next).
Error PlaceCrossfade(const Take& previous, const Take& next, int64_t centre,
                     int64_t length, CrossfadeWindows* windows);

// Renders the `length` frames of a placed crossfade of `type` in blocks:
// every frame goes to `temp` after its header, and the first `visible`
// frames over `out` from frame `start` on. Layouts without a blend (see
// CanBlend) get the hard cut at the centre frame.
Error RenderCrossfade(const CrossfadeWindows& windows, int64_t length,
                      int32_t type, TrackWriter* temp, TrackWriter* out,
                      int64_t start, int64_t visible,
                      CrossfadeScratch* scratch);

}  // namespace takeloom

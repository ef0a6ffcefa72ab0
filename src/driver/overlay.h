// One crossfade laid over a track: the window of the take fading out and of
// the take fading in, read block by block, blended, and written both to the
// temporary crossfade file and over the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/curves.h"
#include "error.h"
#include "wav/take_reader.h"
#include "wav/track_writer.h"

namespace takeloom {

// Working storage of every crossfade of a run: one block of each window and
// of the result, and the gain table. Bounded by a block, not by the window.
struct CrossfadeScratch {
  std::vector<std::byte> previous, next, blended;
  GainTable gains;
};

// Renders the `length` frames of a crossfade of `type` whose window begins
// at frame `first` of both takes (and of the output), in blocks: every
// frame goes to `temp` after its header, and over `out` at the same frames.
// Inspection admits only takes whose layout Blend() can blend, and only
// types with a curve reach here. `beyond` is set to the number of samples
// whose blend went beyond full scale.
Error RenderCrossfade(const TakeReader& previous, const TakeReader& next,
                      int64_t first, int64_t length, int32_t type,
                      TrackWriter* temp, TrackWriter* out,
                      CrossfadeScratch* scratch, int64_t* beyond);

}  // namespace takeloom

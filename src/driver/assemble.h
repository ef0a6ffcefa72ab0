// Track assembly: writes one output track from its plan, edit by edit, with
// the progress line, the lead-in, segments, silences and crossfades.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "driver/overlay.h"
#include "driver/plan.h"
#include "error.h"
#include "inputs/params.h"

namespace takeloom {

struct TrackJob {
  std::string output;       // output file name
  std::vector<Take> takes;  // one per edit
  TrackPlan plan;
  CrossfadeSetting crossfade;
};

// Working storage that every track of a run shares, bounded whatever the
// length of the takes: the copy buffer and the crossfade's.
class Workspace {
 public:
  // Half the system calls of 256 KiB blocks, for a quarter of a megabyte.
  static constexpr size_t kCopyBytes = 512 * 1024;
  static constexpr std::align_val_t kPageAlignment{4096};

  std::span<std::byte> copy() { return {copy_.get(), kCopyBytes}; }
  CrossfadeScratch& crossfade() { return crossfade_; }

 private:
  struct PageDelete {
    void operator()(std::byte* p) const {
      ::operator delete[](p, kPageAlignment);
    }
  };
  // Page-aligned: the kernel copies between the page cache and a buffer
  // that starts 16 bytes into a page (as a plain allocation does) about a
  // tenth slower than into one that starts on a page.
  std::unique_ptr<std::byte[], PageDelete> copy_{static_cast<std::byte*>(
      ::operator new[](kCopyBytes, kPageAlignment))};
  CrossfadeScratch crossfade_;
};

// Builds `job.output` under its partial name into `output`, printing
// progress to `out`; the caller puts it in place with output->Commit() once
// every track is built. Every write first asks `stop`. On failure the
// partial output and the temporary file are removed.
Error AssembleTrack(const TrackJob& job, Workspace* workspace,
                    const std::function<bool()>& stop, std::FILE* out,
                    TrackWriter* output);

// Whether the edit at `start` gets a crossfade of `frames` frames: only past
// the first edit, with a curve, and once half the crossfade fits before it.
bool CrossfadeEligible(size_t edit, int32_t type, int64_t start,
                       int64_t frames);

}  // namespace takeloom

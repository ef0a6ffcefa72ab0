// Track assembly: writes one output track by carrying out its plan's
// operations in order: silence, copies from the takes, crossfades.
#pragma once

#include <cstddef>
#include <cstdint>
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
#include "report/messages.h"

namespace takeloom {

// One track of a run, once its takes are inspected.
struct TrackJob {
  std::string base;         // base name
  std::string output;       // output file name
  std::vector<Take> takes;  // the track's distinct takes, by take index
  CrossfadeSetting crossfade;
  int64_t crossfade_frames = 0;
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

// Builds `job.output` from `plan` under its partial name into `output`,
// telling `reporter` how it goes; once every track is built, the caller
// releases the partial file to the commit that puts all outputs in place. Every write first asks
// `stop`. On failure the partial output and the temporary file are removed.
Error AssembleTrack(const TrackJob& job, const TrackPlan& plan,
                    Workspace* workspace, const std::function<bool()>& stop,
                    Reporter* reporter, TrackWriter* output);

}  // namespace takeloom

#include "driver/open_files.h"

#include <algorithm>
#include <string>

#include "os/dir_lock.h"
#include "os/process.h"

namespace takeloom {
namespace {

// Standard input, output and error.
constexpr int64_t kStandardStreams = 3;
// Files opened for a moment besides the rest (a take read again for the
// metadata its output keeps, the commit record) and descriptors the
// process may have inherited.
constexpr int64_t kSpare = 4;

}  // namespace

Error ExplainOpenFiles(const Error& err, const BuildState& state) {
  const int64_t limit = OpenFileLimit();
  const auto locks =
      1 + static_cast<int64_t>(OutputDirectories(state.output_names).size());
  // A track opens each of its distinct takes at most once, and every track
  // names the same takes; its output and the temporary crossfade file are
  // open while it is built, one track at a time.
  const auto takes = static_cast<int64_t>(state.take_names.size());
  int64_t needed = kStandardStreams + locks + 1 + takes + 1 + kSpare;
  // Where that is within the limit, something else holds descriptors (or
  // the whole system is out of them): more than the limit is needed.
  if (limit >= 0) needed = std::max(needed, limit + 1);
  const std::string count = std::to_string(needed);
  Error explained = err;
  explained.number = needed;
  explained.detail =
      "too many open files: " + err.detail + "; this run needs " + count +
      " at once (the standard streams, " + std::to_string(locks) +
      " directory locks, an output, the temporary file, " +
      std::to_string(takes) + (takes == 1 ? " take" : " takes") +
      " per track and " + std::to_string(kSpare) + " to spare) and " +
      (limit >= 0 ? "may open " + std::to_string(limit) : "may open fewer") +
      ": raise the limit with ulimit -n " + count;
  return explained;
}

}  // namespace takeloom

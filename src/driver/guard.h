// The guard that keeps a run from destroying its inputs: no output may be a
// take, a list file or the temporary file, and the temporary file may not be
// an input.
#pragma once

#include <string>

#include "driver/setup.h"
#include "error.h"

namespace takeloom {

// Refuses a job when an output name, or the temporary file, is one of its
// inputs: the same name or, when both exist, the same file under another
// spelling or through a link.
Error GuardInputs(const BuildState& state);

}  // namespace takeloom

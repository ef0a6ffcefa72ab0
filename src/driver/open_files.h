// How many files a run holds open at once, for the message of a run that
// ran out of descriptors: it names the limit to raise and by how much.
#pragma once

#include "driver/setup.h"
#include "error.h"

namespace takeloom {

// `err`, a kTooManyOpenFiles that names what could not be opened, with the
// number of files the run of `state` holds open at once (with a few to
// spare, counted from as much of its lists as was read) and a detail that
// says how to let it.
Error ExplainOpenFiles(const Error& err, const BuildState& state);

}  // namespace takeloom

// The words of the run: every failure the layers below return becomes here
// the text the user reads, so that each message is written once.
#pragma once

#include <string>
#include <string_view>

#include "error.h"

namespace takeloom {

// The message for `err`, with its line end. It ends the run, except that a
// parameter template that could not be written is only reported.
std::string Message(const Error& err);

// Lines the run prints and goes on.
inline constexpr std::string_view kFormatChunkMissing =
    ">> Can't find format chunk in wave file!\n";
inline constexpr std::string_view kCrossfadeFailed = "Crossfade failed.\n";

// The line (without its line end) that reports why a crossfade could not be
// rendered before "Crossfade failed.", or empty when there is none.
std::string CrossfadeNote(const Error& err);

}  // namespace takeloom

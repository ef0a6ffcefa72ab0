// What the command line asks for, and the texts of -h/--help and --version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace takeloom {

enum class Command { kBuild, kHelp, kVersion, kUnknownOption, kTooMany };

// -h, --help or --version as the only argument. A single argument that looks
// like another option ("--" and anything, or "-" and one character) is
// refused rather than taken for a suffix; anything else builds (a single
// argument being the output suffix). Two or more arguments are too many.
Command CommandFromArgs(const std::vector<std::string>& args);

extern const std::string_view kUsageText;
inline constexpr std::string_view kVersionText = "Takeloom 2.00\n";

}  // namespace takeloom

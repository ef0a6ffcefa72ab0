// What the command line asks for, and the texts of -h/--help and --version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace takeloom {

enum class Command { kBuild, kHelp, kVersion };

inline constexpr std::string_view kDefaultTakes = "{track}{take}.wav";
inline constexpr std::string_view kDefaultSuffix = "_bld.wav";

// What the command line asks for:
//   takeloom [-n | --dry-run] [--takes PATTERN] [--report FILE] [SUFFIX]
// with the options in any order before the optional suffix, or -h, --help
// or --version alone.
struct CommandLine {
  Command command = Command::kBuild;
  bool dry_run = false;
  std::string takes{kDefaultTakes};  // how a take's file is named
  std::string suffix{kDefaultSuffix};  // after a track's base name
  std::string report;  // the HTML report to write, or empty for none
};

// Reads `args` (the program name excluded) into `line`. An argument that
// looks like an option ("--" and anything, or "-" and one character) and is
// none is refused (kUnknownOption), as are a second suffix and -h, --help or
// --version with any other argument (kTooManyArguments), and a --takes pattern without both {track} and
// {take} (kTakesPattern).
Error ParseCommandLine(const std::vector<std::string>& args,
                       CommandLine* line);

// The file of `take` of track `base` as `pattern` names it.
std::string TakePath(std::string_view pattern, std::string_view base,
                     std::string_view take);

extern const std::string_view kUsageText;
inline constexpr std::string_view kVersionText = "Takeloom 2.00\n";

}  // namespace takeloom

// One whole run of the tool: banner, loading, planning and assembly, told
// to a reporter (which chooses the words) and ended with the exit status
// chosen here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace takeloom {

// Runs the tool in the working directory with the command-line arguments
// (program name excluded), printing to `out`. Returns the exit status.
int RunTakeloom(const std::vector<std::string>& args, std::FILE* out);

}  // namespace takeloom

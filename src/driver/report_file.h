// The --report page of a run: measured and rendered from the plans and the
// takes, and written under its partial name, to be put in place with the
// run's outputs or, for a dry run, on its own.
#pragma once

#include <string>
#include <vector>

#include "driver/assemble.h"
#include "driver/setup.h"
#include "error.h"
#include "os/commit.h"

namespace takeloom {

// The command line as a person would type it again, quoted where needed.
std::string QuotedCommandLine(const std::vector<std::string>& args);

// Measures every track of `jobs` and writes the page to `path` +
// ".partial", synced to the disk, into `pending` for CommitOutputs.
Error WriteReportPartial(const std::string& path, const BuildState& state,
                         const std::vector<TrackJob>& jobs,
                         const std::vector<std::string>& args,
                         PendingOutput* pending);

// Writes the page and renames it over `path` at once: a dry run puts
// nothing else in place.
Error WriteReportAlone(const std::string& path, const BuildState& state,
                       const std::vector<TrackJob>& jobs,
                       const std::vector<std::string>& args);

}  // namespace takeloom

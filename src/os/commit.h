// Putting a run's finished outputs in place as one transaction: every
// output keeps its old file or every one gets its new file, through a
// failed rename, a crash or a power loss between two renames.
//
// Before the first rename, each output that is replaced is kept under a
// name of the run's own (a hard link, its name + ".partial.old"), and a
// commit record listing the renames is written and synced in the working
// directory. A rename that fails puts every replaced output back. A run
// that dies part way leaves the record; the next run in that directory
// finds it and completes the renames first (the partial files are durable
// by then), or finishes putting the old outputs back if that had begun.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "os/file.h"

namespace takeloom {

inline constexpr std::string_view kCommitRecordName = ".takeloom-commit";
inline constexpr std::string_view kBackupSuffix = ".old";

// One output to put in place: its partial file, which must still be the
// file `id`, renamed over `output`.
struct PendingOutput {
  std::string partial;
  std::string output;
  Identity id;
};

// Renames every partial file over its output, or none. On failure every
// output is as it was before the call, the partial files are removed, and
// the error names the output that could not be replaced. Every directory
// that holds an output is synced before it returns, so that the renames
// are on the disk.
Error CommitOutputs(const std::vector<PendingOutput>& outputs);

// What finishing an interrupted run's commit did.
struct Recovery {
  bool found = false;     // a commit record was there
  bool completed = false;  // its renames were completed (else undone)
  size_t outputs = 0;     // the outputs put in place, or put back
};

// Finishes the commit that a run in the working directory left unfinished,
// if any; a record whose partial files are gone is removed.
Error RecoverCommit(Recovery* recovery);

// The text of a commit record, and back; pure, for the tests.
std::string CommitRecordText(const std::vector<PendingOutput>& outputs,
                             bool undoing);
bool ParseCommitRecord(std::string_view text,
                       std::vector<PendingOutput>* outputs, bool* undoing);

}  // namespace takeloom

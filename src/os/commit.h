// Putting a run's finished outputs in place as one transaction: every
// output keeps its old file or every one gets its new file, through a
// failed rename, a failed sync, a crash or a power loss between two renames.
//
// Before the first rename, each output that is replaced is kept under a
// name of the run's own (a hard link, its name + ".partial.old"), and a
// commit record listing the renames, with the identity of every file they
// touch, is written and synced in the working directory. A failure puts
// every replaced output back. A run that dies part way leaves the record;
// the next run in that directory finds it and completes the renames first
// (the partial files are durable by then), or finishes putting the old
// outputs back if that had begun. A record is followed only when this
// program, run by this user, could have written it, and only over the very
// files it names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "os/identity.h"

namespace takeloom {

inline constexpr std::string_view kCommitRecordName = ".takeloom-commit";
// An output is written as its name + kPartialSuffix, and the output it
// replaces is kept as that + kBackupSuffix until the renames are durable.
inline constexpr std::string_view kPartialSuffix = ".partial";
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
// the error names the output that could not be replaced (or the record
// that could not be written). Every directory that holds an output is
// synced before it returns, so that the renames are on the disk. A file
// the run could not remove although it succeeded or failed otherwise is
// named, with the reason, in `notes`; the record then stays, for the next
// run to remove what it names.
Error CommitOutputs(const std::vector<PendingOutput>& outputs,
                    std::vector<std::string>* notes);

// What finishing an interrupted run's commit did.
struct Recovery {
  bool found = false;      // a commit record was there
  bool completed = false;  // its renames were completed (else undone)
  size_t outputs = 0;      // the outputs put in place, or put back
  std::vector<std::string> names;  // those outputs
  // Files named in the record that could not be removed, with the reason.
  std::vector<std::string> notes;
};

// Finishes the commit that a run in the working directory left unfinished,
// if any. A record this run's user did not write, or that names files
// other than the ones its run would have, is refused (kUntrustedRecord)
// and nothing changes.
Error RecoverCommit(Recovery* recovery);

// One entry of a commit record: an output, its partial file (output +
// ".partial") and what both were before the first rename.
struct RecordEntry {
  std::string partial;
  std::string output;
  Identity partial_id;            // device, inode, size, modification time
  std::optional<Identity> old;    // the output replaced; none if there was none
};

// The text of a commit record, and back; pure, for the tests.
std::string CommitRecordText(const std::vector<RecordEntry>& entries,
                             bool undoing);
// False for text this program would not have written: another format, an
// entry whose names are not output and output + ".partial", an output named
// twice. `*finished` is false (and the rest unset) for a record cut short,
// as a run that dies while writing it leaves it.
bool ParseCommitRecord(std::string_view text, std::vector<RecordEntry>* entries,
                       bool* undoing, bool* finished);

}  // namespace takeloom

// The one failure type of the tool: what failed, and with which file or
// number. Every layer returns it; only the driver turns it into the words
// the user reads.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace takeloom {

enum class Fault {
  kNone,
  // Files.
  kCannotOpen,        // a file to read does not exist or cannot be opened
  kCannotRead,        // a file exists but cannot be read (or is no file)
  kCannotWrite,       // a file cannot be created, written or closed
  kNoFormatChunk,     // a take has no format chunk
  kNoDataChunk,       // a take has no data chunk
  kUnreadableFormat,  // a take's format fields are missing or give no frames
  kTakeChanged,       // a take cannot be opened or read for its audio, or
                      // is no longer the file inspected
  kUnsupportedFormat, // a take's samples are of a kind the tool cannot copy
  // The run.
  kDirectoryBusy,     // another run holds the working directory
  kCannotLock,        // file = a directory the run cannot lock
  kTooManyOpenFiles,  // the process may open no more files; number = how
                      // many the run needs at once
  kOutOfMemory,       // an allocation failed
  kInterrupted,       // a signal asked the run to stop
  kUntrustedRecord,   // a commit record this run's user did not write, or
                      // that names other files than its run's
  kCommitUnfinished,  // an interrupted run's commit cannot be finished
  // Lists and parameters.
  kUnknownOption,     // file = the argument
  kTooManyArguments,
  kTakesPattern,      // file = the --takes pattern
  kReportName,        // file = the --report name, not ending in .html
  kNoTakeName,        // number = the edit, from 1
  kNoEditPoints,
  kOneEditPoint,      // a single point: no segment, nowhere for tracks to end
  kInvalidEntry,      // an entry of the parameter file cannot be read
  kInvalidCrossfade,  // number = the track, from 1
  kOutOfSequence,     // number = the edit, from 1
  kInvalidTime,       // number = the edit, from 1
  kMixedTimes,        // number = the edit, from 1: a sample position among
                      // times, or a time among sample positions
  kNotPlainText,      // file = the list: a zero byte, or broken UTF-16
  // Inputs the run would destroy.
  kOutputIsInput,     // file = the output
  kOutputIsPartial,   // file = the output, named like a partial file
  kTakeIsTemporary,   // file = the take
  kListIsTemporary,   // file = the list
  // Inputs or outputs named like the run's own work files (a partial file,
  // an old output kept, the commit record); file = that input or output.
  kTakeIsWorkFile,
  kListIsWorkFile,
  kOutputIsWorkFile,
  // Takes of one track that disagree; file = the base name.
  kRateMismatch,
  kBitsMismatch,
  kChannelsMismatch,
  kSampleFormatMismatch,
  kTakeEndsEarly,     // number = the edit, from 1
};

struct Error {
  Error() = default;
  Error(Fault f, std::string file_name = {}, int64_t n = 0,
        std::string why = {})
      : fault(f),
        file(std::move(file_name)),
        number(n),
        detail(std::move(why)) {}

  Fault fault = Fault::kNone;
  std::string file{};
  int64_t number = 0;
  // What the user needs to fix it, beyond the message itself (which take,
  // which numbers, the system's reason); printed on standard error.
  std::string detail{};

  bool ok() const { return fault == Fault::kNone; }
};

}  // namespace takeloom

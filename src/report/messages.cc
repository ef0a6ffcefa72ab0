#include "report/messages.h"

#include "os/commit.h"

namespace takeloom {
namespace {

std::string Exiting(const std::string& what) {
  return ">> " + what + ", exiting\n";
}

std::string Edit(const Error& err, const std::string& what) {
  return Exiting("Edit " + std::to_string(err.number) + " " + what);
}

std::string Mismatch(const Error& err, const std::string& what) {
  return Exiting(what + " mismatch among " + err.file + " takes");
}

// A list or a take that cannot be opened or read.
std::string CannotRead(const Error& err) {
  if (err.file == "base.txt") {
    return Exiting("Cannot find file base.txt that holds your base file names") +
           "\n";
  }
  if (err.file == "points.txt") {
    return Exiting("Cannot find file points.txt that holds your edits") + "\n";
  }
  if (err.file == "loomrc.txt") return Exiting("Cannot read loomrc.txt");
  return Exiting("Cannot find file called " + err.file);
}

}  // namespace

std::string Message(const Error& err) {
  switch (err.fault) {
    case Fault::kNone:
      return "";
    case Fault::kCannotOpen:
    case Fault::kCannotRead:
      return CannotRead(err);
    case Fault::kCannotWrite:
      if (err.file == "loomrc.txt") {
        return "Could not write the loomrc.txt template\n";
      }
      return Exiting("Cannot write file " + err.file);
    case Fault::kNoFormatChunk:
      return std::string(kFormatChunkMissing);
    case Fault::kNoDataChunk:
      return Exiting("Can't find data block in wave file");
    case Fault::kUnreadableFormat:
      return Exiting("Can't read the format of " + err.file);
    case Fault::kTakeChanged:
      return Exiting("Take " + err.file + " changed or cannot be read");
    case Fault::kUnsupportedFormat:
      return Exiting("Unsupported sample format in " + err.file);
    case Fault::kDirectoryBusy:
      return Exiting("Another takeloom run is using this directory");
    case Fault::kCannotLock:
      return Exiting("Cannot lock " +
                     (err.file == "." ? std::string("the working directory")
                                      : "directory " + err.file));
    case Fault::kTooManyOpenFiles:
      return Exiting("Too many open files: this run needs " +
                     std::to_string(err.number) + ", raise ulimit -n");
    case Fault::kOutOfMemory:
      return Exiting("Out of memory");
    case Fault::kInterrupted:
      return "";
    case Fault::kUntrustedRecord:
      return Exiting(err.file +
                     " was not written by this run's user or names other "
                     "files; remove it to go on");
    case Fault::kCommitUnfinished:
      return Exiting("Cannot finish the interrupted run that " + err.file +
                     " records");
    case Fault::kUnknownOption:
      return Exiting("Unknown option " + err.file + ", see takeloom --help");
    case Fault::kTakesPattern:
      return Exiting("The --takes pattern must hold {track} and {take}");
    case Fault::kReportName:
      return Exiting(
          "The report must be a file ending in .html, see takeloom --help");
    case Fault::kTooManyArguments:
      return Exiting("Too many arguments, see takeloom --help");
    case Fault::kNoTakeName:
      return Edit(err, "has no take name");
    case Fault::kNoEditPoints:
      return Exiting("No edit points in points.txt");
    case Fault::kOneEditPoint:
      return Exiting("Only one edit point in points.txt: add a last one "
                     "where the tracks end");
    case Fault::kInvalidEntry:
      return Exiting("Invalid crossfade entry in loomrc.txt");
    case Fault::kInvalidCrossfade:
      return Exiting("Invalid crossfade for track " +
                     std::to_string(err.number) + " in loomrc.txt");
    case Fault::kOutOfSequence:
      return Edit(err, "is out of sequence");
    case Fault::kInvalidTime:
      return Edit(err, "has an invalid time");
    case Fault::kMixedTimes:
      return Edit(err, "mixes sample positions with times");
    case Fault::kNotPlainText:
      return Exiting(err.file + " is not plain text");
    case Fault::kOutputIsInput:
      return Exiting("Output file " + err.file + " would overwrite an input");
    case Fault::kOutputIsPartial:
      return Exiting("Output file " + err.file +
                     " would be taken for a partial file");
    case Fault::kTakeIsTemporary:
      return Exiting("Take file " + err.file +
                     " clashes with the temporary file");
    case Fault::kListIsTemporary:
      return Exiting("Input file " + err.file +
                     " clashes with the temporary file");
    case Fault::kTakeIsWorkFile:
      return Exiting("Take file " + err.file +
                     " clashes with a file the run writes");
    case Fault::kListIsWorkFile:
      return Exiting("Input file " + err.file +
                     " clashes with a file the run writes");
    case Fault::kOutputIsWorkFile:
      return Exiting("Output file " + err.file +
                     " clashes with a file the run writes");
    case Fault::kRateMismatch:
      return Mismatch(err, "Samplerate");
    case Fault::kBitsMismatch:
      return Mismatch(err, "Bit format");
    case Fault::kChannelsMismatch:
      return Mismatch(err, "Mono-stereo");
    case Fault::kSampleFormatMismatch:
      return Mismatch(err, "Sample format");
    case Fault::kTakeEndsEarly:
      return "Edit " + std::to_string(err.number) +
             " failed.  The take ends before the edit point.\n"
             "Output files were not built\n";
  }
  return "";
}

}  // namespace takeloom

namespace takeloom {

void ConsoleReporter::Started() {
  std::fputs("\nTakeloom 2.00 by Quorvane\n\n", out_);
}

void ConsoleReporter::Recovered(const Recovery& recovery) {
  for (const std::string& name : recovery.names) {
    Note((recovery.completed ? "put in place " : "put back as it was ") +
         name);
  }
  for (const std::string& note : recovery.notes) Note(note);
  if (recovery.outputs == 0) {
    Note("removed the commit record of an interrupted run that had nothing "
         "left to put in place");
  } else if (recovery.completed) {
    std::fprintf(out_,
                 "Completed an interrupted run: %zu of its outputs put in "
                 "place\n\n",
                 recovery.outputs);
  } else {
    std::fprintf(out_,
                 "Undid an interrupted run: %zu outputs put back as they "
                 "were\n\n",
                 recovery.outputs);
  }
}

void ConsoleReporter::Loaded(size_t tracks, size_t edits) {
  std::fprintf(out_, "Planning to build %zu tracks", tracks);
  std::fprintf(out_, " using %zu edit points.\n\n", edits);
}

void ConsoleReporter::Warning(const Error& err) {
  std::fputs(Message(err).c_str(), out_);
  Detail(err);
}

void ConsoleReporter::Note(const std::string& text) {
  std::fflush(out_);
  std::fprintf(err_, "takeloom: note: %s\n", text.c_str());
}

void ConsoleReporter::Planned(const std::vector<CrossfadeSetting>& crossfades,
                              int64_t /*audio_bytes*/) {
  std::fputs("Crossfade Matrix:\ntrack\tlength\ttype\n", out_);
  for (size_t t = 0; t < crossfades.size(); ++t) {
    std::fprintf(out_, "%zu\t%.1f\t%d\n", t + 1,
                 static_cast<double>(crossfades[t].length_ms),
                 crossfades[t].type);
  }
}

void ConsoleReporter::TrackStarted(const std::string& output) {
  std::fprintf(out_, "\n\nBuilding to %s\n", output.c_str());
}

void ConsoleReporter::OutputCreated() { std::fputs(kEditsLead.data(), out_); }

void ConsoleReporter::EditStarted(size_t edit) {
  std::fprintf(out_, "%zu ", edit);
  std::fflush(out_);
}

void ConsoleReporter::Failed(const Error& err) {
  std::fputs(Message(err).c_str(), out_);
  std::fflush(out_);
  Detail(err);
}

void ConsoleReporter::Stopped() {
  std::fflush(out_);
  std::fputs("takeloom: stopped: every output is as it was\n", err_);
}

void ConsoleReporter::Finished() {
  std::fputs("\n\nDone\n\n", out_);
  std::fflush(out_);
}

void ConsoleReporter::Detail(const Error& err) {
  if (err.detail.empty()) return;
  std::fflush(out_);
  std::fprintf(err_, "takeloom: %s\n", err.detail.c_str());
}

}  // namespace takeloom

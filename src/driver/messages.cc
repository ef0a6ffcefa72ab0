#include "driver/messages.h"

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
    case Fault::kNoDataChunk:
      return Exiting("Can't find data block in wave file");
    case Fault::kUnreadableFormat:
      return Exiting("Can't read the format of " + err.file);
    case Fault::kUnsupportedFormat:
      return Exiting("Unsupported sample format in " + err.file);
    case Fault::kWindowOutside:
      return CrossfadeNote(err) + "\n";
    case Fault::kDirectoryBusy:
      return Exiting("Another takeloom run is using this directory");
    case Fault::kInterrupted:
      return "";
    case Fault::kUnknownOption:
      return Exiting("Unknown option " + err.file + ", see takeloom --help");
    case Fault::kNoTakeName:
      return Edit(err, "has no take name");
    case Fault::kNoEditPoints:
      return Exiting("No edit points in points.txt");
    case Fault::kInvalidEntry:
      return Exiting("Invalid crossfade entry in loomrc.txt");
    case Fault::kInvalidCrossfade:
      return Exiting("Invalid crossfade for track " +
                     std::to_string(err.number) + " in loomrc.txt");
    case Fault::kOutOfSequence:
      return Edit(err, "is out of sequence");
    case Fault::kInvalidTime:
      return Edit(err, "has an invalid time");
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

std::string CrossfadeNote(const Error& err) {
  switch (err.fault) {
    case Fault::kWindowOutside:
      return err.number == 1 ? "Invalid crossfade for destination file"
                             : "Invalid crossfade for source file";
    default:
      return "";
  }
}

}  // namespace takeloom

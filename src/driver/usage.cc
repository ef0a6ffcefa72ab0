#include "driver/usage.h"

#include "report/quoted.h"

namespace takeloom {

namespace {

constexpr std::string_view kTrack = "{track}";
constexpr std::string_view kTake = "{take}";

bool LooksLikeOption(const std::string& arg) {
  return arg.starts_with("--") || (arg.size() == 2 && arg[0] == '-');
}

bool StandsAlone(const std::string& arg) {
  return arg == "-h" || arg == "--help" || arg == "--version";
}

}  // namespace

Error ParseCommandLine(const std::vector<std::string>& args,
                       CommandLine* line) {
  *line = CommandLine();
  // Asked for with anything else, help or the version is refused wherever
  // it stands, rather than some other argument being named as unknown.
  for (const std::string& arg : args) {
    if (StandsAlone(arg) && args.size() > 1) {
      return {Fault::kTooManyArguments, "", 0,
              arg + " is given alone, without other arguments"};
    }
  }
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    line->command = Command::kHelp;
    return {};
  }
  if (args.size() == 1 && args[0] == "--version") {
    line->command = Command::kVersion;
    return {};
  }
  size_t i = 0;
  for (; i < args.size() && LooksLikeOption(args[i]); ++i) {
    if (args[i] == "-n" || args[i] == "--dry-run") {
      line->dry_run = true;
    } else if (args[i] == "--takes") {
      line->takes = i + 1 < args.size() ? args[++i] : "";
      if (line->takes.find(kTrack) == std::string::npos ||
          line->takes.find(kTake) == std::string::npos) {
        return {Fault::kTakesPattern, line->takes};
      }
    } else if (args[i] == "--report") {
      line->report = i + 1 < args.size() ? args[++i] : "";
      const size_t slash = line->report.find_last_of('/');
      const std::string name = slash == std::string::npos
                                   ? line->report
                                   : line->report.substr(slash + 1);
      if (name.size() <= 5 || !name.ends_with(".html")) {
        return {Fault::kReportName, line->report};
      }
    } else {
      return {Fault::kUnknownOption, args[i]};
    }
  }
  if (i < args.size()) line->suffix = args[i++];
  if (i < args.size()) {
    return {Fault::kTooManyArguments, "", 0,
            Quoted(args[i]) + " follows the suffix " + Quoted(line->suffix) +
                "; options go before the suffix, and there is one suffix "
                "at most"};
  }
  return {};
}

std::string TakePath(std::string_view pattern, std::string_view base,
                     std::string_view take) {
  std::string path;
  for (size_t i = 0; i < pattern.size();) {
    if (pattern.substr(i).starts_with(kTrack)) {
      path += base;
      i += kTrack.size();
    } else if (pattern.substr(i).starts_with(kTake)) {
      path += take;
      i += kTake.size();
    } else {
      path += pattern[i++];
    }
  }
  return path;
}

const std::string_view kUsageText =
    "Usage: takeloom [-n | --dry-run] [--takes PATTERN] [--report FILE]\n"
    "                [SUFFIX]\n"
    "       takeloom -h | --help | --version\n"
    "\n"
    "Builds finished tracks from takes that were recorded on all tracks at\n"
    "once. Run it in the directory that holds the job's files: for every\n"
    "track it copies each chosen take's audio, at the same time position,\n"
    "into one new WAV file, with a crossfade centred on every edit point.\n"
    "\n"
    "Input files:\n"
    "  base.txt    one track (base name) per line:\n"
    "                kick\n"
    "                snare\n"
    "  points.txt  one edit point per line: a time in seconds, a tab, and the\n"
    "              take that plays from that time on; the last point marks\n"
    "              where the tracks end:\n"
    "                0<TAB>_t1\n"
    "                4<TAB>_t2\n"
    "                10<TAB>_t2\n"
    "              Times may also be written m:ss(.fff) or h:mm:ss(.fff).\n"
    "  loomrc.txt  crossfade length in milliseconds and type, for all tracks\n"
    "              (xf_all) or for track number N from 1 (xf_tr); written as\n"
    "              a commented template when absent:\n"
    "                xf_all<TAB>200<TAB>1\n"
    "                xf_tr<TAB>2<TAB>50<TAB>2\n"
    "              xf_all also sets tracks whose xf_tr type is 0; for hard\n"
    "              cuts on one track only, give it length 0 with a curve:\n"
    "                xf_tr<TAB>2<TAB>0<TAB>1\n"
    "  Takes are read from base name + take name + \".wav\" (kick_t1.wav), or\n"
    "  \".WAV\" when only that exists: uncompressed WAV, 16-, 24- or 32-bit\n"
    "  integer or 32- or 64-bit float, any channel count, with any metadata\n"
    "  chunks; takes beyond 4 GiB in the RF64 or BW64 form.\n"
    "\n"
    "Output: one WAV file per track named base name + suffix, replacing any\n"
    "file of that name; the suffix is \"_bld.wav\" unless given (takeloom\n"
    "_mix.wav writes kick_mix.wav). Integer audio gets a 44-byte header,\n"
    "float audio a 58-byte one with a fact chunk; a track beyond 4 GiB is\n"
    "written as RF64. A track keeps from the take heard first in it the\n"
    "recorder's bext chunk (its timestamp) and iXML chunk, an extensible\n"
    "format with its channel layout, and where its audio lies within a\n"
    "4096-byte block (padded with a JUNK chunk), so that file systems that\n"
    "share blocks between files can share the take's.\n"
    "\n"
    "Crossfade types:\n"
    "  0  hard cut\n"
    "  1  cosine out, sine in (constant power)\n"
    "  2  linear\n"
    "  3  cosine out, one minus cosine in\n"
    "  4  one minus sine out, sine in\n"
    "\n"
    "Options, before the suffix:\n"
    "  -n, --dry-run    read the lists and inspect every take as a build\n"
    "                   does, then print each track's plan (format, length,\n"
    "                   every edit's take, frames and crossfade) and write\n"
    "                   nothing\n"
    "  --takes PATTERN  name each take's file from PATTERN, {track} standing\n"
    "                   for the base name and {take} for the take name;\n"
    "                   \"{track}{take}.wav\" unless given. Multitrack\n"
    "                   recorders name files take first:\n"
    "                     takeloom --takes '{take}_{track}.WAV'\n"
    "                   and takes may lie in a folder:\n"
    "                     takeloom --takes 'takes/{track}{take}.wav'\n"
    "  --report FILE    also write FILE (a name ending in .html): one page\n"
    "                   to look at, print or send, with a summary, a\n"
    "                   timeline of every track, and for every edit point\n"
    "                   its crossfades, levels and waveforms, flagging level\n"
    "                   steps, clipping, fades from silence, shortened\n"
    "                   crossfades and takes that run out. Put in place with\n"
    "                   the outputs; with -n it is the only file written\n"
    "  -h, --help       show this text (alone)\n"
    "  --version        show the version (alone)\n"
    "\n"
    "On a terminal, standard error shows the share of the audio built, the\n"
    "rate and the time left.\n"
    "\n"
    "Exit status: 0 when every track was built (or planned, with -n), 1\n"
    "after any error.\n";

}  // namespace takeloom

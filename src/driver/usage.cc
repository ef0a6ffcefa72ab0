#include "driver/usage.h"

namespace takeloom {

Command CommandFromArgs(const std::vector<std::string>& args) {
  if (args.size() > 1) return Command::kTooMany;
  if (args.empty()) return Command::kBuild;
  if (args[0] == "-h" || args[0] == "--help") return Command::kHelp;
  if (args[0] == "--version") return Command::kVersion;
  const std::string& arg = args[0];
  if (arg.starts_with("--") || (arg.size() == 2 && arg[0] == '-')) {
    return Command::kUnknownOption;
  }
  return Command::kBuild;
}

const std::string_view kUsageText =
    "Usage: takeloom [suffix]\n"
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
    "  Takes are read from base name + take name + \".wav\" (kick_t1.wav):\n"
    "  uncompressed WAV, 16-, 24- or 32-bit integer or 32- or 64-bit float,\n"
    "  any channel count, with any metadata chunks; takes beyond 4 GiB in\n"
    "  the RF64 or BW64 form.\n"
    "\n"
    "Output: one WAV file per track named base name + suffix, replacing any\n"
    "file of that name; the suffix is \"_bld.wav\" unless given as the only\n"
    "argument (takeloom _mix.wav writes kick_mix.wav). Integer audio gets a\n"
    "44-byte header, float audio a 58-byte one with a fact chunk; a track\n"
    "beyond 4 GiB is written as RF64.\n"
    "\n"
    "Crossfade types:\n"
    "  0  hard cut\n"
    "  1  cosine out, sine in (constant power)\n"
    "  2  linear\n"
    "  3  cosine out, one minus cosine in\n"
    "  4  one minus sine out, sine in\n"
    "\n"
    "Exit status: 0 when every track was built, 1 after any error.\n"
    "\n"
    "Options (each the only argument):\n"
    "  -h, --help  show this text\n"
    "  --version   show the version\n";

}  // namespace takeloom

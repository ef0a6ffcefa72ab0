#include "driver/usage.h"

namespace takeloom {

Command CommandFromArgs(const std::vector<std::string>& args) {
  if (args.size() != 1) return Command::kBuild;
  if (args[0] == "-h" || args[0] == "--help") return Command::kHelp;
  if (args[0] == "--version") return Command::kVersion;
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
    "  loomrc.txt  crossfade length in milliseconds and type, for all tracks\n"
    "              (xf_all) or for track number N from 1 (xf_tr); written as\n"
    "              a commented template when absent:\n"
    "                xf_all<TAB>200<TAB>1\n"
    "                xf_tr<TAB>2<TAB>50<TAB>2\n"
    "  Takes are read from base name + take name + \".wav\" (kick_t1.wav).\n"
    "\n"
    "Output: one WAV file per track named base name + suffix; the suffix is\n"
    "\"_bld.wav\" unless given as the only argument (kick_bld.wav).\n"
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

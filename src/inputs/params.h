// The crossfade parameter file loomrc.txt: crossfade length (milliseconds)
// and curve type for all tracks at once (xf_all) or track by track (xf_tr),
// and the commented template written when the file is absent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "error.h"

namespace takeloom {

struct CrossfadeSetting {
  int32_t type = 0;          // 0 = hard cut, 1..4 = gain curve
  float length_ms = 0.0f;
};

// Where an entry of the parameter file was read, for messages that point at
// it: the line of its key (from 1, as an editor numbers it) and the entry as
// written, from its key to its last value.
struct ParamEntry {
  size_t line = 0;  // 0: no entry
  std::string text;
};

struct CrossfadeParams {
  CrossfadeSetting all;                        // from xf_all
  std::map<int32_t, CrossfadeSetting> tracks;  // from xf_tr, by track number from 1
  ParamEntry all_entry;                        // the xf_all entry that counts
  std::map<int32_t, ParamEntry> track_entries;  // the xf_tr entries that count
};

// How a detail points at an entry: `loomrc.txt line 2, entry "xf_tr\t2\t50\t1"`.
std::string EntryPlace(const ParamEntry& entry);

inline constexpr std::string_view kParamsFileName = "loomrc.txt";
inline constexpr std::string_view kParamsTemplate =
    "Parameters file for takeloom - remove parenthesis to use\n\n"
    "Set all tracks the same:\n(xf_all\t200\t1)\n\n"
    "Tweak individual tracks\n(xf_tr\t1\t200\t1)\n";

// Reads the entries of a parameter file's bytes into `params`, which keeps
// whatever the text does not name. kNotPlainText as ListText; kInvalidEntry,
// with a detail that points at the entry, when an entry names a track below
// 1, the text ends before an entry's values, or a key is written with a space
// instead of a tab after it.
Error ParseParams(std::string_view bytes, CrossfadeParams* params);

// Loads loomrc.txt from the working directory or, when there is nothing of
// that name, writes its template (unless `write_template` is false, for a
// run that writes nothing). kCannotRead when something of that name
// cannot be read (it is then left alone); kCannotWrite when the template
// could not be written (the run can go on without it); kNotPlainText and
// kInvalidEntry as ParseParams.
Error Check_RC(CrossfadeParams* params, bool write_template = true);

}  // namespace takeloom

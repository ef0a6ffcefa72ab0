#include "driver/guard.h"

#include <cstring>
#include <unordered_set>
#include <vector>

#include "os/commit.h"
#include "os/identity.h"
#include "wav/track_writer.h"

namespace takeloom {
namespace {

struct IdentityHash {
  size_t operator()(const std::pair<uint64_t, uint64_t>& id) const {
    return std::hash<uint64_t>()(id.first * 0x9E3779B97F4A7C15ULL ^ id.second);
  }
};

// A set of files that answers "is this path one of them?" in constant
// time: by its name as a path, and for files that exist by identity, which
// catches other spellings, symbolic links and hard links alike.
class FileSet {
 public:
  // kCannotRead when `path` cannot be looked up for a reason other than
  // its absence.
  Error Add(const std::string& path) {
    if (!names_.insert(NormalName(path)).second) return {};
    const NameLookup found = LookUpFollowing(path);
    if (found.found()) files_.insert({found.id.device, found.id.inode});
    return found.found() || found.absent() ? Error() : Unknown(path, found);
  }

  // Whether `path` is one of the set; an error when it cannot be told.
  Error Contains(const std::string& path, bool* contained) const {
    *contained = names_.count(NormalName(path)) != 0;
    if (*contained) return {};
    const NameLookup found = LookUpFollowing(path);
    if (found.found()) {
      *contained = files_.count({found.id.device, found.id.inode}) != 0;
    }
    return found.found() || found.absent() ? Error() : Unknown(path, found);
  }

 private:
  static Error Unknown(const std::string& path, const NameLookup& found) {
    return {Fault::kCannotRead, path, 0,
            path + ": " + std::strerror(found.error)};
  }

  std::unordered_set<std::string> names_;
  std::unordered_set<std::pair<uint64_t, uint64_t>, IdentityHash> files_;
};

}  // namespace

Error GuardInputs(const BuildState& state) {
  const std::vector<std::string> lists = {"base.txt", "points.txt",
                                          std::string(kParamsFileName)};
  std::vector<std::string> takes;
  std::unordered_set<std::string> seen;
  for (const std::vector<std::string>& paths : state.take_paths) {
    for (const std::string& path : paths) {
      if (seen.insert(path).second) takes.push_back(path);
    }
  }

  FileSet inputs;
  for (const std::string& path : lists) {
    if (Error err = inputs.Add(path); !err.ok()) return err;
  }
  for (const std::string& path : takes) {
    if (Error err = inputs.Add(path); !err.ok()) return err;
  }
  // The files the run writes besides its outputs: the temporary file, the
  // commit record, and each output's partial file and kept old version.
  FileSet work;
  const std::string temp(kTempFileName);
  const std::string record(kCommitRecordName);
  for (const std::string& path : {temp, record}) {
    if (Error err = work.Add(path); !err.ok()) return err;
  }
  const std::string partial(kPartialSuffix);
  const std::string backup = partial + std::string(kBackupSuffix);
  std::vector<std::string> written = state.output_names;
  // The report is one more output, put in place with the tracks.
  if (!state.line.report.empty()) written.push_back(state.line.report);
  for (const std::string& output : written) {
    for (const std::string& path : {output + partial, output + backup}) {
      if (Error err = work.Add(path); !err.ok()) return err;
    }
  }

  for (const std::string& output : written) {
    bool clash = false;
    if (Error err = inputs.Contains(output, &clash); !err.ok()) return err;
    if (clash || NormalName(output) == temp) {
      return {Fault::kOutputIsInput, output};
    }
    if (NormalName(output) == record) return {Fault::kOutputIsWorkFile, output};
    // An output is written under its name and ".partial" until it is
    // complete; one named like that could be another's unfinished file.
    const std::string normal = NormalName(output);
    if (normal.ends_with(partial) || normal.ends_with(backup)) {
      return {Fault::kOutputIsPartial, output};
    }
  }
  if (!state.line.report.empty()) {
    FileSet tracks;
    for (const std::string& output : state.output_names) {
      if (Error err = tracks.Add(output); !err.ok()) return err;
    }
    bool clash = false;
    if (Error err = tracks.Contains(state.line.report, &clash); !err.ok()) {
      return err;
    }
    if (clash) return {Fault::kOutputIsWorkFile, state.line.report};
  }
  const NameLookup temp_file = LookUpFollowing(temp);
  const auto is_temp = [&](const std::string& path) {
    const NameLookup found = LookUpFollowing(path);
    return NormalName(path) == temp ||
           (found.found() && temp_file.found() && found.id.SameFile(temp_file.id));
  };
  for (const std::string& take : takes) {
    bool clash = false;
    if (Error err = work.Contains(take, &clash); !err.ok()) return err;
    if (!clash) continue;
    return is_temp(take) ? Error{Fault::kTakeIsTemporary, take}
               : Error{Fault::kTakeIsWorkFile, take};
  }
  for (const std::string& list : lists) {
    bool clash = false;
    if (Error err = work.Contains(list, &clash); !err.ok()) return err;
    if (!clash) continue;
    return is_temp(list) ? Error{Fault::kListIsTemporary, list}
               : Error{Fault::kListIsWorkFile, list};
  }
  return {};
}

}  // namespace takeloom

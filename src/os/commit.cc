#include "os/commit.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>

#include "os/file.h"
#include "os/syscalls.h"

namespace takeloom {
namespace {

// The format's number changes with its fields, so that a record of another
// format is never read as this one.
constexpr std::string_view kHeader = "takeloom commit record 2\nstate ";
constexpr std::string_view kTrailer = "end\n";
constexpr std::string_view kNone = "-";
constexpr char kForward = 'F';
constexpr char kBack = 'B';
constexpr mode_t kRecordMode = 0600;
// A record holds two names and a few numbers per output: 16 MiB is room
// for thousands of outputs of the longest paths Linux allows (4096 bytes),
// and keeps a file that is no record of ours from being read into memory
// whole. A run whose record would be larger refuses to commit rather than
// write one the next run would not read.
constexpr int64_t kMaxRecordBytes = int64_t{16} << 20;

std::string BackupOf(const std::string& partial) {
  return partial + std::string(kBackupSuffix);
}

std::string DirectoryOf(const std::string& path) {
  const std::filesystem::path parent =
      std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

std::string Reason(int error) { return std::strerror(error); }

Error Failure(const std::string& output, const std::string& why) {
  return {Fault::kCannotWrite, output, 0, output + ": " + why};
}

// A step of finishing a record that failed: the record stays, and the user
// learns which, and what to do.
Error Unfinished(const std::string& what, int error) {
  const std::string record(kCommitRecordName);
  return {Fault::kCommitUnfinished, record, 0,
          record + ": " + what + ": " + Reason(error) +
              "; fix the cause and run again, or remove " + record +
              " to go on"};
}

Error Untrusted(const std::string& why) {
  const std::string record(kCommitRecordName);
  return {Fault::kUntrustedRecord, record, 0, record + ": " + why};
}

// The recorded file itself, unchanged in length and contents' time: a file
// made later in a freed inode is not taken for it.
bool Matches(const NameLookup& found, const Identity& recorded) {
  return found.found() && found.id.SameFile(recorded) &&
         found.id.size == recorded.size &&
         found.id.modified_ns == recorded.modified_ns;
}

// Removes `path`; 0 when done or there was nothing, else the error.
int RemoveName(const std::string& path) {
  return Sys().Unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

// Writes the directory's entries (the renames, links and removals in it)
// through to the disk; 0 or the error.
int SyncDirectory(const std::string& directory) {
  const int fd =
      Sys().Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int synced = Sys().Fsync(fd) == 0 ? 0 : errno;
  const int closed = Sys().Close(fd) == 0 ? 0 : errno;
  return synced != 0 ? synced : closed;
}

// The working directory and every directory that holds an output; 0, or
// the error and in `*failed` the directory.
int SyncDirectories(const std::vector<RecordEntry>& entries,
                    std::string* failed) {
  std::set<std::string> directories = {"."};
  for (const RecordEntry& e : entries) directories.insert(DirectoryOf(e.output));
  for (const std::string& directory : directories) {
    if (const int error = SyncDirectory(directory); error != 0) {
      *failed = directory;
      return error;
    }
  }
  return 0;
}

// What finishing or undoing a record does: the renames and removals that
// make the outputs all new or all old, then the files that only go.
struct Plan {
  struct Move {
    std::string from;  // renamed over `to`; removed when `to` is empty
    std::string to;
  };
  std::vector<Move> moves;
  std::vector<std::string> leftovers;
  std::vector<std::string> changed;  // the outputs the moves put in place
};

// Looks up `path`; a failure other than absence is an error.
Error Look(const std::string& path, NameLookup* found) {
  *found = LookUp(path);
  if (!found->found() && !found->absent()) {
    return Unfinished("cannot look up " + path, found->error);
  }
  return {};
}

// Decides, without changing anything, what makes every output of
// `entries` new (or old, when `undoing`). Refuses where a name holds a file
// the record does not describe and which the plan would have to touch, or
// where the outputs could not all end the same way.
Error MakePlan(const std::vector<RecordEntry>& entries, bool undoing,
               Plan* plan) {
  const uid_t user = Sys().Geteuid();
  for (const RecordEntry& e : entries) {
    const std::string backup = BackupOf(e.partial);
    NameLookup output, partial, kept;
    for (auto [path, found] : {std::pair{&e.output, &output},
                               std::pair{&e.partial, &partial},
                               std::pair{&backup, &kept}}) {
      if (Error err = Look(*path, found); !err.ok()) return err;
    }
    const bool output_new = Matches(output, e.partial_id);
    const bool partial_ours = Matches(partial, e.partial_id) &&
                              partial.id.regular() && partial.id.owner == user;
    const bool output_old = e.old && Matches(output, *e.old);
    const bool kept_old = e.old && Matches(kept, *e.old);
    const std::string names_other =
        e.output + " is not the file the record names";
    if (!undoing) {
      if (partial_ours && (output_old || output.absent())) {
        plan->moves.push_back({e.partial, e.output});
        plan->changed.push_back(e.output);
      } else if (!output_new) {
        return Untrusted(names_other);
      }
      if (kept_old) plan->leftovers.push_back(backup);
      continue;
    }
    if (kept_old) {
      if (output_old) {
        plan->leftovers.push_back(backup);
      } else if (output_new || output.absent()) {
        plan->moves.push_back({backup, e.output});
        plan->changed.push_back(e.output);
      } else {
        return Untrusted(names_other);
      }
    } else if (e.old) {
      // Its old version is not kept: the output must be that version
      // still, for a new one is never removed while its old one is not safe.
      if (!output_old) return Untrusted(names_other);
    } else if (output_new) {
      plan->moves.push_back({e.output, ""});
      plan->changed.push_back(e.output);
    } else if (!output.absent()) {
      return Untrusted(names_other);
    }
    if (partial_ours) plan->leftovers.push_back(e.partial);
  }
  return {};
}

// Removes the files that only go once the outputs are all new or all old,
// then the record. A file that cannot be removed is named in `notes`, and
// keeps the record, for the next run to remove it.
void Clean(const std::vector<std::string>& leftovers,
           std::vector<std::string>* notes) {
  const std::string record(kCommitRecordName);
  bool left = false;
  for (const std::string& path : leftovers) {
    if (const int error = RemoveName(path); error != 0) {
      notes->push_back(path + " was left: " + Reason(error) +
                       "; the next run removes it, as " + record +
                       " stays until then");
      left = true;
    }
  }
  if (left) return;
  if (const int error = RemoveName(record); error != 0) {
    notes->push_back(record + " was left: " + Reason(error) +
                     "; the next run removes it");
  }
}

// Carries out `plan`, syncs the directories, and cleans up. A move or a
// sync that fails stops it with the record in place.
Error Carry(const Plan& plan, const std::vector<RecordEntry>& entries,
            std::vector<std::string>* notes) {
  for (const Plan::Move& m : plan.moves) {
    if (m.to.empty()) {
      if (const int error = RemoveName(m.from); error != 0) {
        return Unfinished("cannot remove " + m.from, error);
      }
    } else if (Sys().Rename(m.from.c_str(), m.to.c_str()) != 0) {
      return Unfinished("cannot rename " + m.from + " to " + m.to, errno);
    }
  }
  std::string directory;
  if (const int error = SyncDirectories(entries, &directory); error != 0) {
    return Unfinished("cannot sync the directory " + directory, error);
  }
  Clean(plan.leftovers, notes);
  return {};
}

// Refuses, before anything is renamed, an output that no rename could
// replace: a directory, a file marked immutable or append-only, one in a
// directory the run may not write, or another user's in a sticky one.
// Sets `*old` to what the output is now.
Error CheckReplaceable(const PendingOutput& o, NameLookup* old) {
  const std::string directory = DirectoryOf(o.output);
  if (Sys().Access(directory.c_str(), W_OK | X_OK) != 0) {
    return Failure(o.output, Reason(errno));
  }
  *old = LookUp(o.output);
  if (old->absent()) return {};
  if (!old->found()) return Failure(o.output, Reason(old->error));
  const Identity& st = old->id;
  if (st.directory()) return Failure(o.output, "it is a directory");
  const uid_t user = Sys().Geteuid();
  if (user != 0 && st.owner != user) {
    const NameLookup dir = LookUpFollowing(directory);
    if (!dir.found()) return Failure(directory, Reason(dir.error));
    if ((dir.id.mode & S_ISVTX) != 0 && dir.id.owner != user) {
      return Failure(o.output,
                     "another user's file in a directory that only lets its "
                     "owner replace it");
    }
  }
  if (st.regular()) {
    const int fd = Sys().Open(o.output.c_str(),
                              O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
    // A file the run may not read can still be replaced; the rename tells.
    if (fd < 0 && errno != EACCES && errno != EPERM && errno != ENOENT) {
      return Failure(o.output, Reason(errno));
    }
    int flags = 0;
    const bool known = fd >= 0 && Sys().Ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0) Sys().Close(fd);
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
      return Failure(o.output, "it is marked immutable or append-only");
    }
  }
  return {};
}

// What the run records of `o` before anything is renamed: its partial file
// as it is now, and the output it replaces. Removes a backup name an
// earlier run left, so that the name holds nothing but this run's.
Error Describe(const PendingOutput& o, RecordEntry* entry) {
  if (o.partial != o.output + std::string(kPartialSuffix)) {
    return Failure(o.output, "its partial file is not " + o.output +
                                 std::string(kPartialSuffix));
  }
  const NameLookup partial = LookUp(o.partial);
  if (!partial.found() && !partial.absent()) {
    return Failure(o.partial, Reason(partial.error));
  }
  if (!partial.found() || !partial.id.SameFile(o.id) ||
      !partial.id.regular()) {
    return Failure(o.output, o.partial + " is no longer the file written");
  }
  NameLookup old;
  if (Error err = CheckReplaceable(o, &old); !err.ok()) return err;
  if (const int error = RemoveName(BackupOf(o.partial)); error != 0) {
    return Failure(BackupOf(o.partial), Reason(error));
  }
  *entry = {o.partial, o.output, partial.id, old.file()};
  return {};
}

// Removes the partial files still this run's, naming any that stays.
void RemovePartials(const std::vector<PendingOutput>& outputs,
                    std::vector<std::string>* notes) {
  for (const PendingOutput& o : outputs) {
    const NameLookup found = LookUp(o.partial);
    int error = found.absent() ? 0 : found.error;
    if (found.found() && found.id.SameFile(o.id)) error = RemoveName(o.partial);
    if (error != 0) notes->push_back(o.partial + " was left: " + Reason(error));
  }
}

// Writes the record anew, readable and writable by this user alone, and
// syncs it and its directory.
Error WriteRecord(const std::vector<RecordEntry>& entries) {
  const std::string name(kCommitRecordName);
  const std::string text = CommitRecordText(entries, false);
  if (static_cast<int64_t>(text.size()) > kMaxRecordBytes) {
    return Failure(name, "too many outputs to record in one commit");
  }
  File record;
  if (!record.CreateNew(name, kRecordMode) || !record.SetMode(kRecordMode) ||
      !record.WriteAt(0, std::as_bytes(std::span(text))) || !record.Sync() ||
      !record.Close()) {
    return Failure(name, Reason(errno));
  }
  if (const int error = SyncDirectory("."); error != 0) {
    return Failure(name, Reason(error));
  }
  return {};
}

// Turns the record into one that undoes the renames, in its one state
// byte, so that a run that dies while putting outputs back is undone too.
int MarkUndoing() {
  const std::string name(kCommitRecordName);
  const int fd = Sys().Open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  const char state = kBack;
  int error = 0;
  if (Sys().Pwrite(fd, &state, 1, static_cast<off_t>(kHeader.size())) != 1 ||
      Sys().Fdatasync(fd) != 0) {
    error = errno != 0 ? errno : EIO;
  }
  if (Sys().Close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Puts every output back as it was, after `err`, and returns `err`. What
// cannot be put back is named in `notes`; the record then stays, for the
// next run to finish.
Error Undo(const std::vector<RecordEntry>& entries, const Error& err,
           std::vector<std::string>* notes) {
  if (const int error = MarkUndoing(); error != 0) {
    notes->push_back("the commit record could not be marked for undoing: " +
                     Reason(error));
  }
  Plan plan;
  Error undone = MakePlan(entries, true, &plan);
  if (undone.ok()) undone = Carry(plan, entries, notes);
  if (!undone.ok()) {
    notes->push_back("the outputs could not all be put back: " +
                     undone.detail);
  }
  return err;
}

bool ParseNumbers(std::string_view field, Identity* id) {
  int64_t values[4] = {};
  const char* p = field.data();
  const char* end = p + field.size();
  for (size_t i = 0; i < 4; ++i) {
    if (i > 0 && (p == end || *p++ != ' ')) return false;
    const auto [next, ec] = std::from_chars(p, end, values[i]);
    if (ec != std::errc() || next == p) return false;
    p = next;
  }
  if (p != end || values[0] < 0 || values[1] < 0 || values[2] < 0) {
    return false;
  }
  *id = {};
  id->device = static_cast<uint64_t>(values[0]);
  id->inode = static_cast<uint64_t>(values[1]);
  id->size = values[2];
  id->modified_ns = values[3];
  return true;
}

std::string Numbers(const Identity& id) {
  return std::to_string(id.device) + " " + std::to_string(id.inode) + " " +
         std::to_string(id.size) + " " + std::to_string(id.modified_ns);
}

// Reads the record at `name`, found as `found`, when this program run by
// this user could have written it: a regular file (not a link to one) of
// this user's, that no one else may write, of a size this program writes.
Error ReadRecord(const std::string& name, const NameLookup& found,
                 std::string* text) {
  const uid_t user = Sys().Geteuid();
  const auto trusted = [&](const Identity& id) -> Error {
    if (!id.regular()) return Untrusted("not a regular file");
    if (id.owner != user) return Untrusted("owned by another user");
    if ((id.mode & (S_IWGRP | S_IWOTH)) != 0) {
      return Untrusted("others may write it");
    }
    if (id.size > kMaxRecordBytes) return Untrusted("too large to be one");
    return {};
  };
  if (Error err = trusted(found.id); !err.ok()) return err;
  File file;
  const int fd = Sys().Open(name.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) return Unfinished("cannot open it", errno);
  struct stat st {};
  const int stated = Sys().Fstat(fd, &st) == 0 ? 0 : errno;
  if (stated != 0) {
    Sys().Close(fd);
    return Unfinished("cannot look it up", stated);
  }
  // The file opened is the one looked at, not one put in its place since.
  const Identity id = IdentityOf(st);
  Error err = trusted(id);
  if (err.ok() && !id.SameFile(found.id)) err = Untrusted("it was replaced");
  std::string contents(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (err.ok() && done < contents.size()) {
    const ssize_t n = Sys().Pread(fd, contents.data() + done,
                                  contents.size() - done,
                                  static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = Unfinished("cannot read it", errno);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  Sys().Close(fd);
  contents.resize(done);
  *text = std::move(contents);
  return err;
}

}  // namespace

std::string CommitRecordText(const std::vector<RecordEntry>& entries,
                             bool undoing) {
  std::string text(kHeader);
  text += undoing ? kBack : kForward;
  text += '\n';
  for (const RecordEntry& e : entries) {
    for (const std::string& field :
         {e.partial, e.output, Numbers(e.partial_id),
          e.old ? Numbers(*e.old) : std::string(kNone)}) {
      text += field;
      text += '\0';
    }
  }
  text += kTrailer;
  return text;
}

bool ParseCommitRecord(std::string_view text, std::vector<RecordEntry>* entries,
                       bool* undoing, bool* finished) {
  entries->clear();
  *finished = false;
  // A run that dies while it writes the record leaves a beginning of it;
  // nothing was renamed before it was whole.
  if (!text.ends_with(kTrailer)) {
    const std::string_view start = text.substr(0, kHeader.size());
    return kHeader.starts_with(start);
  }
  *finished = true;
  if (!text.starts_with(kHeader) || text.size() < kHeader.size() + 2) {
    return false;
  }
  const char state = text[kHeader.size()];
  if ((state != kForward && state != kBack) ||
      text[kHeader.size() + 1] != '\n') {
    return false;
  }
  *undoing = state == kBack;
  text.remove_prefix(kHeader.size() + 2);
  text.remove_suffix(kTrailer.size());
  std::vector<std::string_view> fields;
  while (!text.empty()) {
    const size_t end = text.find('\0');
    if (end == std::string_view::npos) return false;
    fields.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (fields.size() % 4 != 0) return false;
  std::set<std::string_view> outputs;
  for (size_t i = 0; i < fields.size(); i += 4) {
    RecordEntry e{std::string(fields[i]), std::string(fields[i + 1]), {}, {}};
    if (e.output.empty() || e.partial != e.output + std::string(kPartialSuffix) ||
        !outputs.insert(fields[i + 1]).second ||
        !ParseNumbers(fields[i + 2], &e.partial_id)) {
      return false;
    }
    if (fields[i + 3] != kNone) {
      Identity old;
      if (!ParseNumbers(fields[i + 3], &old)) return false;
      e.old = old;
    }
    entries->push_back(std::move(e));
  }
  return true;
}

Error CommitOutputs(const std::vector<PendingOutput>& outputs,
                    std::vector<std::string>* notes) {
  std::vector<RecordEntry> entries(outputs.size());
  Error err;
  for (size_t i = 0; i < outputs.size() && err.ok(); ++i) {
    err = Describe(outputs[i], &entries[i]);
  }
  if (err.ok()) {
    err = WriteRecord(entries);
    // Undone before any rename: the record goes, or it would send the
    // next run to complete a commit this one reports as failed.
    const std::string record(kCommitRecordName);
    if (!err.ok()) {
      if (const int error = RemoveName(record); error != 0) {
        notes->push_back(record + " was left: " + Reason(error) +
                         "; remove it before the next run");
      }
    }
  }
  if (!err.ok()) {
    RemovePartials(outputs, notes);
    return err;
  }
  for (const RecordEntry& e : entries) {
    if (!e.old) continue;
    const std::string backup = BackupOf(e.partial);
    // Where the file system has no second links, the old output is moved
    // aside instead.
    if (Sys().Link(e.output.c_str(), backup.c_str()) != 0 &&
        Sys().Rename(e.output.c_str(), backup.c_str()) != 0) {
      return Undo(entries, Failure(e.output, Reason(errno)), notes);
    }
  }
  for (const RecordEntry& e : entries) {
    if (Sys().Rename(e.partial.c_str(), e.output.c_str()) != 0) {
      return Undo(entries, Failure(e.output, Reason(errno)), notes);
    }
  }
  // "Done" must mean the renames are on the disk, not only in memory.
  std::string directory;
  if (const int error = SyncDirectories(entries, &directory); error != 0) {
    std::string output = entries.front().output;
    for (const RecordEntry& e : entries) {
      if (DirectoryOf(e.output) == directory) {
        output = e.output;
        break;
      }
    }
    return Undo(entries,
                Failure(output, "its directory cannot be synced: " +
                                    Reason(error) +
                                    "; every output was put back"),
                notes);
  }
  std::vector<std::string> backups;
  for (const RecordEntry& e : entries) {
    if (e.old) backups.push_back(BackupOf(e.partial));
  }
  Clean(backups, notes);
  return {};
}

Error RecoverCommit(Recovery* recovery) {
  *recovery = Recovery();
  const std::string name(kCommitRecordName);
  NameLookup found;
  if (Error err = Look(name, &found); !err.ok() || found.absent()) return err;
  recovery->found = true;
  std::string text;
  if (Error err = ReadRecord(name, found, &text); !err.ok()) return err;
  std::vector<RecordEntry> entries;
  bool undoing = false;
  bool finished = false;
  if (!ParseCommitRecord(text, &entries, &undoing, &finished)) {
    return Untrusted("not a record this program writes");
  }
  if (!finished) {
    if (const int error = RemoveName(name); error != 0) {
      return Unfinished("cannot remove it", error);
    }
    return {};
  }
  Plan plan;
  if (Error err = MakePlan(entries, undoing, &plan); !err.ok()) return err;
  if (Error err = Carry(plan, entries, &recovery->notes); !err.ok()) {
    return err;
  }
  recovery->completed = !undoing;
  recovery->outputs = plan.changed.size();
  recovery->names = plan.changed;
  return {};
}

}  // namespace takeloom

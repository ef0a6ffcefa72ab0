#include "os/commit.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "os/identity.h"
#include "os/syscalls.h"
#include "os/whole_file.h"

namespace takeloom {
namespace {

constexpr std::string_view kHeader = "takeloom commit record\nstate ";
constexpr char kForward = 'F';
constexpr char kBack = 'B';

std::string BackupOf(const PendingOutput& o) {
  return o.partial + std::string(kBackupSuffix);
}

std::string DirectoryOf(const std::string& path) {
  const std::filesystem::path parent =
      std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

bool Exists(const std::string& path) { return LookUp(path).found(); }

Error Failure(const std::string& output, const std::string& why) {
  return {Fault::kCannotWrite, output, 0, output + ": " + why};
}

Error SystemFailure(const std::string& output) {
  return Failure(output, std::strerror(errno));
}

// Writes the directory's entries (the renames, links and removals in it)
// through to the disk.
bool SyncDirectory(const std::string& directory) {
  const int fd = Sys().Open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool synced = Sys().Fsync(fd) == 0;
  return Sys().Close(fd) == 0 && synced;
}

// The working directory and every directory that holds an output.
bool SyncDirectories(const std::vector<PendingOutput>& outputs) {
  std::set<std::string> directories = {"."};
  for (const PendingOutput& o : outputs) {
    directories.insert(DirectoryOf(o.output));
  }
  bool synced = true;
  for (const std::string& directory : directories) {
    synced = SyncDirectory(directory) && synced;
  }
  return synced;
}

// Refuses, before anything is renamed, an output that no rename could
// replace: a directory, a file marked immutable or append-only, one in a
// directory the run may not write, or another user's in a sticky one.
Error CheckReplaceable(const PendingOutput& o) {
  const std::string directory = DirectoryOf(o.output);
  if (Sys().Access(directory.c_str(), W_OK | X_OK) != 0) {
    return SystemFailure(o.output);
  }
  struct stat st {};
  if (Sys().Lstat(o.output.c_str(), &st) != 0) return {};
  if (S_ISDIR(st.st_mode)) return Failure(o.output, "it is a directory");
  struct stat dir {};
  if (Sys().Geteuid() != 0 && Sys().Stat(directory.c_str(), &dir) == 0 &&
      (dir.st_mode & S_ISVTX) != 0 && st.st_uid != Sys().Geteuid() &&
      dir.st_uid != Sys().Geteuid()) {
    return Failure(o.output,
                   "another user's file in a directory that only lets its "
                   "owner replace it");
  }
  if (S_ISREG(st.st_mode)) {
    const int fd = Sys().Open(o.output.c_str(),
                          O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0);
    int flags = 0;
    const bool known = fd >= 0 && Sys().Ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (fd >= 0) Sys().Close(fd);
    if (known && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
      return Failure(o.output, "it is marked immutable or append-only");
    }
  }
  return {};
}

// Writes the record anew and syncs it and its directory.
Error WriteRecord(const std::vector<PendingOutput>& outputs) {
  const std::string name(kCommitRecordName);
  const std::string text = CommitRecordText(outputs, false);
  File record;
  if (!record.CreateNew(name) ||
      !record.WriteAt(0, std::as_bytes(std::span(text))) || !record.Sync() ||
      !record.Close() || !SyncDirectory(".")) {
    const Error err = SystemFailure(name);
    Sys().Unlink(name.c_str());
    return err;
  }
  return {};
}

// Turns the record into one that undoes the renames, in its one state
// byte, so that a run that dies while putting outputs back is undone too.
void MarkUndoing() {
  const std::string name(kCommitRecordName);
  const int fd = Sys().Open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return;
  const char state = kBack;
  if (Sys().Pwrite(fd, &state, 1, static_cast<off_t>(kHeader.size())) == 1) {
    Sys().Fsync(fd);
  }
  Sys().Close(fd);
}

// Keeps `o`'s output, if it has one, under its backup name: as a second
// link where the file system has them, otherwise by moving it aside.
bool KeepOld(const PendingOutput& o) {
  const std::string backup = BackupOf(o);
  Sys().Unlink(backup.c_str());
  if (!Exists(o.output)) return true;
  if (Sys().Link(o.output.c_str(), backup.c_str()) == 0) return true;
  return Sys().Rename(o.output.c_str(), backup.c_str()) == 0;
}

// Puts `o`'s old output back (or removes the new one when there was none)
// and removes its partial file.
void PutBack(const PendingOutput& o) {
  const std::string backup = BackupOf(o);
  if (Exists(backup)) {
    Sys().Rename(backup.c_str(), o.output.c_str());
  } else if (Names(o.output, o.id)) {
    Sys().Unlink(o.output.c_str());
  }
  if (Names(o.partial, o.id)) Sys().Unlink(o.partial.c_str());
}

// Renames `o` into place unless that is done already.
bool PutInPlace(const PendingOutput& o) {
  if (Names(o.output, o.id)) return true;
  return Names(o.partial, o.id) &&
         Sys().Rename(o.partial.c_str(), o.output.c_str()) == 0;
}

void RemovePartials(const std::vector<PendingOutput>& outputs) {
  for (const PendingOutput& o : outputs) {
    if (Names(o.partial, o.id)) Sys().Unlink(o.partial.c_str());
  }
}

void Forget(const std::vector<PendingOutput>& outputs) {
  for (const PendingOutput& o : outputs) Sys().Unlink(BackupOf(o).c_str());
  Sys().Unlink(std::string(kCommitRecordName).c_str());
}

// Puts every output back as it was and ends the transaction.
void Undo(const std::vector<PendingOutput>& outputs) {
  MarkUndoing();
  for (const PendingOutput& o : outputs) PutBack(o);
  SyncDirectories(outputs);
  Forget(outputs);
}

}  // namespace

std::string CommitRecordText(const std::vector<PendingOutput>& outputs,
                             bool undoing) {
  std::string text(kHeader);
  text += undoing ? kBack : kForward;
  text += '\n';
  for (const PendingOutput& o : outputs) {
    for (const std::string& field :
         {o.partial, o.output, std::to_string(o.id.device),
          std::to_string(o.id.inode)}) {
      text += field;
      text += '\0';
    }
  }
  return text;
}

bool ParseCommitRecord(std::string_view text,
                       std::vector<PendingOutput>* outputs, bool* undoing) {
  outputs->clear();
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
  std::vector<std::string> fields;
  while (!text.empty()) {
    const size_t end = text.find('\0');
    if (end == std::string_view::npos) return false;
    fields.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  if (fields.size() % 4 != 0) return false;
  for (size_t i = 0; i < fields.size(); i += 4) {
    PendingOutput o{fields[i], fields[i + 1], {}};
    try {
      o.id.device = std::stoull(fields[i + 2]);
      o.id.inode = std::stoull(fields[i + 3]);
    } catch (const std::exception&) {
      return false;
    }
    if (o.partial.empty() || o.output.empty()) return false;
    outputs->push_back(std::move(o));
  }
  return true;
}

Error CommitOutputs(const std::vector<PendingOutput>& outputs) {
  Error err;
  for (const PendingOutput& o : outputs) {
    if (err = CheckReplaceable(o); !err.ok()) break;
  }
  if (err.ok()) err = WriteRecord(outputs);
  if (!err.ok()) {
    RemovePartials(outputs);
    return err;
  }
  for (const PendingOutput& o : outputs) {
    if (!KeepOld(o)) {
      const Error err = SystemFailure(o.output);
      Undo(outputs);
      return err;
    }
  }
  for (const PendingOutput& o : outputs) {
    if (!PutInPlace(o)) {
      const Error err = SystemFailure(o.output);
      Undo(outputs);
      return err;
    }
  }
  // "Done" must mean the renames are on the disk, not only in memory.
  if (!SyncDirectories(outputs)) {
    return Failure(outputs.front().output,
                   std::string("its directory cannot be synced: ") +
                       std::strerror(errno));
  }
  Forget(outputs);
  return {};
}

Error RecoverCommit(Recovery* recovery) {
  *recovery = Recovery();
  const std::string name(kCommitRecordName);
  if (!Exists(name)) return {};
  recovery->found = true;
  std::string text;
  std::vector<PendingOutput> outputs;
  bool undoing = false;
  // A record that cannot be read whole was never complete: no rename came
  // after it, and it only goes.
  if (ReadTextFile(name, &text).ok() &&
      ParseCommitRecord(text, &outputs, &undoing)) {
    for (const PendingOutput& o : outputs) {
      if (undoing) {
        const bool was_new = Names(o.output, o.id);
        PutBack(o);
        recovery->outputs += was_new ? 1 : 0;
      } else if (!Names(o.output, o.id) && Names(o.partial, o.id)) {
        if (Sys().Rename(o.partial.c_str(), o.output.c_str()) != 0) {
          return SystemFailure(o.output);
        }
        ++recovery->outputs;
      } else if (!Exists(o.output) && Exists(BackupOf(o))) {
        // Its partial file is gone: the old output it moved aside stays.
        Sys().Rename(BackupOf(o).c_str(), o.output.c_str());
      }
    }
    recovery->completed = !undoing;
    if (!SyncDirectories(outputs)) return SystemFailure(name);
  }
  Forget(outputs);
  return {};
}

}  // namespace takeloom

// The commit keeps its promise whichever system call fails, wherever a
// crash stops it, and acts on no record but its own user's, over no files
// but the ones that record's run wrote.
#include "os/commit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "testing/faulty_syscalls.h"
#include "testing/temp_dir.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;

// Every file under `root` by its relative path, with its bytes.
Tree TreeOf(const fs::path& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    tree[name] = entry.is_symlink()     ? "link " + fs::read_symlink(entry.path()).string()
                 : entry.is_directory() ? "directory"
                                        : ReadFile(entry.path().string());
  }
  return tree;
}

// Runs a test in `dir`, as the tool runs in its working directory.
struct InDirectory {
  explicit InDirectory(const fs::path& dir) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(before); }
  fs::path before = fs::current_path();
};

// Two outputs that replace old ones and one, in a subdirectory, that is new.
const Tree kOld = {{"a.wav", "old a"}, {"b.wav", "old b"}, {"sub", "directory"}};
const Tree kNew = {{"a.wav", "new a"}, {"b.wav", "new b"},
                   {"sub", "directory"}, {"sub/c.wav", "new c"}};

std::vector<PendingOutput> WriteRun(const TempDir& dir) {
  for (const auto& [name, bytes] : kOld) {
    if (name != "sub") WriteFile(dir.File(name), bytes);
  }
  fs::create_directory(dir.File("sub"));
  std::vector<PendingOutput> pending;
  for (const auto& [name, bytes] : kNew) {
    if (name == "sub") continue;
    WriteFile(dir.File(name + ".partial"), bytes);
    pending.push_back(
        {name + ".partial", name, LookUp(dir.File(name + ".partial")).id});
  }
  return pending;
}

// A run's outputs waiting to be committed in a directory worked in.
struct PendingRun {
  TempDir dir;
  InDirectory in{dir.path()};
  std::vector<PendingOutput> pending = WriteRun(dir);
  std::vector<std::string> notes;

  Error Commit(Syscalls* calls) {
    const ScopedSyscalls scope(calls);
    return CommitOutputs(pending, &notes);
  }
};

// The record at `path`, as its run writes it: this user's alone.
void WriteRecord(const std::string& path, const std::string& text) {
  WriteFile(path, text);
  fs::permissions(path, fs::perms(0600));
}

// The files a commit may leave, each of which it must name.
std::vector<std::string> WorkFiles(const Tree& tree) {
  std::vector<std::string> found;
  for (const auto& [name, bytes] : tree) {
    if (name.ends_with(".partial") || name.ends_with(".partial.old") ||
        name == kCommitRecordName) {
      found.push_back(name);
    }
  }
  return found;
}

// Fails each call of a commit once, with each error: the outputs end all
// old with an error carrying the reason, or all new; a file left is named,
// and the next run's recovery removes it.
TEST(CommitTest, EveryFailingCallLeavesAllOldOrAllNew) {
  FaultySyscalls counting = FaultySyscalls::Failing(Call::kAny, 0, 0);
  ASSERT_TRUE(PendingRun().Commit(&counting).ok());
  const int calls = counting.calls();
  ASSERT_GT(calls, 20);
  for (const int error : {EIO, EPERM, EACCES, ENOSPC}) {
    for (int n = 1; n <= calls; ++n) {
      PendingRun run;
      FaultySyscalls faulty = FaultySyscalls::Failing(Call::kAny, n, error);
      const Error err = run.Commit(&faulty);
      const std::string row = std::string(std::strerror(error)) + " at " +
                              faulty.failed() + " (call " + std::to_string(n) +
                              "): " + err.detail;
      if (!err.ok()) {
        EXPECT_NE(err.detail.find(std::strerror(error)), std::string::npos)
            << row;
      }
      std::string all;
      for (const std::string& note : run.notes) all += note + "\n";
      for (const std::string& left : WorkFiles(TreeOf(run.dir.path()))) {
        EXPECT_NE(all.find(left), std::string::npos) << row << ", " << left;
      }
      Recovery recovery;
      EXPECT_TRUE(RecoverCommit(&recovery).ok()) << row;
      EXPECT_EQ(TreeOf(run.dir.path()), err.ok() ? kNew : kOld) << row;
    }
  }
}

// A run that stops after any number of calls: the next run's recovery
// ends with every output new (it completed the renames) or every output
// old, with no file of the run's left but the partial files of a run that
// stopped before its record was whole, as a run stopped during its build.
TEST(CommitTest, EveryStopIsCompletedOrUndoneByTheNextRun) {
  for (int n = 0;; ++n) {
    PendingRun run;
    FaultySyscalls stopping = FaultySyscalls::StoppingAfter(n);
    const Error err = run.Commit(&stopping);
    const std::string row = "stopped at " + stopping.failed() + " (call " +
                            std::to_string(n + 1) + ")";
    Recovery recovery;
    ASSERT_TRUE(RecoverCommit(&recovery).ok()) << row;
    Tree tree = TreeOf(run.dir.path());
    if (recovery.completed || err.ok()) {
      EXPECT_EQ(tree, kNew) << row;
      EXPECT_EQ(recovery.names.size(), recovery.outputs) << row;
    } else {
      std::erase_if(tree, [](const auto& f) { return f.first.ends_with(".partial"); });
      EXPECT_EQ(tree, kOld) << row;
    }
    if (err.ok()) break;
  }
}

// Records this run's user did not write, or that name files other than
// their run's: refused, and every file stays as it was, the record too.
TEST(CommitTest, RefusesRecordsItCouldNotHaveWritten) {
  const Identity fake{.device = 1, .inode = 2, .size = 5, .modified_ns = 7};
  // What the run in w/ would have written: followed, it puts a.wav in place.
  const auto valid = [&](const TempDir& d) {
    return CommitRecordText({{"a.wav.partial", "a.wav",
                              LookUp(d.File("w/a.wav.partial")).id,
                              LookUp(d.File("w/a.wav")).id}},
                            false);
  };
  struct Case {
    const char* name;
    // The record's text, and what is then done to the record's file.
    std::function<std::string(const TempDir&)> text;
    std::function<void(const TempDir&)> fix = nullptr;
  };
  const Case cases[] = {
      {"undoing over ../x/notes.txt",
       [&](const TempDir&) {
         return CommitRecordText(
             {{"../x/notes.txt.partial", "../x/notes.txt", fake, fake}}, true);
       }},
      {"undoing over an absolute path",
       [&](const TempDir& d) {
         const std::string abs = d.File("x/notes.txt");
         return CommitRecordText({{abs + ".partial", abs, fake, fake}}, true);
       }},
      {"completing outputs that are gone",
       [&](const TempDir&) {
         return CommitRecordText(
             {{"gone.wav.partial", "gone.wav", fake, std::nullopt}}, false);
       }},
      {"a partial not named after its output",
       [&](const TempDir& d) {
         return CommitRecordText({{"../x/notes.txt", "a.wav",
                                   LookUp(d.File("x/notes.txt")).id,
                                   std::nullopt}},
                                 false);
       }},
      {"a link to a record",
       [&](const TempDir& d) {
         WriteRecord(d.File("x/record"), valid(d));
         return std::string();
       },
       [](const TempDir& d) {
         fs::remove(d.File("w/.takeloom-commit"));
         fs::create_symlink(d.File("x/record"), d.File("w/.takeloom-commit"));
       }},
      {"group-writable", valid,
       [](const TempDir& d) {
         fs::permissions(d.File("w/.takeloom-commit"), fs::perms(0620));
       }},
      {"another user's", valid,
       [&](const TempDir& d) {
         ASSERT_EQ(chown(d.File("w/.takeloom-commit").c_str(),
                         geteuid() == 65534 ? 0 : 65534, 65534),
                   0);
       }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    fs::create_directory(dir.File("w"));
    fs::create_directory(dir.File("x"));
    WriteFile(dir.File("x/notes.txt"), "notes");
    WriteFile(dir.File("w/a.wav"), "old a");
    WriteFile(dir.File("w/a.wav.partial"), "new a");
    WriteRecord(dir.File("w/.takeloom-commit"), c.text(dir));
    if (c.fix) c.fix(dir);
    const Tree before = TreeOf(dir.path());
    const InDirectory in(dir.File("w"));
    Recovery recovery;
    EXPECT_EQ(RecoverCommit(&recovery).fault, Fault::kUntrustedRecord) << c.name;
    EXPECT_EQ(TreeOf(dir.path()), before) << c.name;
  }
  // The same record, this user's alone, is followed.
  TempDir dir;
  const InDirectory in(dir.path());
  WriteFile(dir.File("a.wav.partial"), "new a");
  WriteRecord(dir.File(".takeloom-commit"),
              CommitRecordText({{"a.wav.partial", "a.wav",
                                 LookUp("a.wav.partial").id, std::nullopt}},
                               false));
  const Tree waiting = TreeOf(dir.path());
  // A rename that fails blames the record, says what to do, and keeps it.
  FaultySyscalls failing = FaultySyscalls::Failing(Call::kRename, 1, ENOSPC);
  Recovery recovery;
  {
    const ScopedSyscalls scope(&failing);
    const Error err = RecoverCommit(&recovery);
    EXPECT_EQ(err.fault, Fault::kCommitUnfinished);
    EXPECT_EQ(err.detail,
              ".takeloom-commit: cannot rename a.wav.partial to a.wav: No "
              "space left on device; fix the cause and run again, or remove "
              ".takeloom-commit to go on");
  }
  EXPECT_EQ(TreeOf(dir.path()), waiting);
  ASSERT_TRUE(RecoverCommit(&recovery).ok());
  EXPECT_EQ(recovery.names, std::vector<std::string>{"a.wav"});
  EXPECT_EQ(TreeOf(dir.path()), (Tree{{"a.wav", "new a"}}));
}

}  // namespace
}  // namespace takeloom::testing

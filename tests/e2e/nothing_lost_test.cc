// No run may cost the user a recording: every input is byte for byte what it
// was, after fatal errors and finished builds alike; outputs that would land
// on an input are refused before anything is written; and a failed write
// leaves neither a half-written output nor the temporary file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/wav_bytes.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;

// What a directory holds: for each name its kind and its bytes (a link's
// target, a subdirectory's own snapshot).
using Snapshot = std::map<std::string, std::string>;

Snapshot Take(const fs::path& dir) {
  Snapshot snapshot;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    const fs::file_status status = fs::symlink_status(entry.path());
    if (fs::is_symlink(status)) {
      snapshot[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_directory(status)) {
      std::string listing = "directory:";
      for (const auto& [inner, content] : Take(entry.path())) {
        listing += " " + inner + "=" + content;
      }
      snapshot[name] = listing;
    } else {
      snapshot[name] = "file " + ReadFile(entry.path().string());
    }
  }
  return snapshot;
}

// The names in `after` that are new or changed since `before`, and those
// that are gone.
std::vector<std::string> Changes(const Snapshot& before,
                                 const Snapshot& after) {
  std::vector<std::string> changes;
  for (const auto& [name, content] : before) {
    const auto now = after.find(name);
    if (now == after.end()) {
      changes.push_back("-" + name);
    } else if (now->second != content) {
      changes.push_back("~" + name);
    }
  }
  for (const auto& [name, content] : after) {
    if (!before.count(name)) changes.push_back("+" + name);
  }
  return changes;
}

// Writes `takes` for every base name: 16-bit stereo at 1000 Hz, each with
// its own audio, `frames` frames long (3000 unless given in `short_takes`).
void WriteSession(const TempDir& dir, const std::vector<std::string>& bases,
                  const std::vector<std::string>& takes,
                  const std::map<std::string, int64_t>& short_takes = {}) {
  uint32_t seed = 1;
  for (const std::string& base : bases) {
    for (const std::string& take : takes) {
      const std::string path = base + take + ".wav";
      const auto found = short_takes.find(path);
      const int64_t frames = found == short_takes.end() ? 3000 : found->second;
      TakeParts parts;
      parts.sample_rate = 1000;
      parts.audio = Noise(static_cast<size_t>(frames * 4), seed++);
      WriteFile(dir.File(path), MakeTake(parts));
    }
  }
}

void WriteLists(const TempDir& dir, const std::string& base,
                const std::string& points, const std::string& loomrc) {
  WriteFile(dir.File("base.txt"), base);
  WriteFile(dir.File("points.txt"), points);
  WriteFile(dir.File("loomrc.txt"), loomrc);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kPoints = "0\t_t1\n1\t_t2\n2.5\t_t1\n";
const std::string kCrossfade = "xf_all\t100\t1\n";

struct FatalCase {
  const char* name;
  std::function<void(const TempDir&)> set_up;
  std::string last_message;
};

TEST(NothingLostTest, FatalRunsLeaveEveryInputAsItWas) {
  const auto session = [](std::string points, std::string loomrc,
                          std::map<std::string, int64_t> short_takes = {}) {
    return [=](const TempDir& dir) {
      WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"}, short_takes);
      WriteLists(dir, "kick\nsnare\n", points, loomrc);
    };
  };
  const FatalCase cases[] = {
      {"missing take", session("0\t_t1\n1\t_t3\n", kCrossfade),
       ">> Cannot find file called kick_t3.wav, exiting\n"},
      {"format mismatch",
       [&](const TempDir& dir) {
         session(kPoints, kCrossfade)(dir);
         TakeParts parts;
         parts.sample_rate = 48000;
         parts.audio = Noise(12000, 99);
         WriteFile(dir.File("snare_t2.wav"), MakeTake(parts));
       },
       ">> Samplerate mismatch among snare takes, exiting\n"},
      {"no data chunk",
       [&](const TempDir& dir) {
         session(kPoints, kCrossfade)(dir);
         Bytes take;
         PutText(take, "RIFF");
         PutU32(take, 4 + 24 + 8 + 400);
         PutText(take, "WAVE");
         const Bytes fmt = FmtChunk(1, 2, 1000, 16);
         take.insert(take.end(), fmt.begin(), fmt.end());
         PutText(take, "junk");
         PutU32(take, 400);
         take.resize(take.size() + 400);
         WriteFile(dir.File("kick_t2.wav"), take);
       },
       ">> Can't find data block in wave file, exiting\n"},
      {"edit failed", session(kPoints, kCrossfade, {{"snare_t2.wav", 900}}),
       "Edit 2 failed.  The take ends before the edit point.\n"
       "Output files were not built\n"},
      {"invalid crossfade entry", session(kPoints, "xf_tr\t0\t100\t1\n"),
       ">> Invalid crossfade entry in loomrc.txt, exiting\n"},
      {"invalid crossfade type", session(kPoints, "xf_all\t100\t9\n"),
       ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n"},
      {"unreadable loomrc.txt",
       [&](const TempDir& dir) {
         WriteSession(dir, {"kick"}, {"_t1", "_t2"});
         WriteFile(dir.File("base.txt"), "kick\n");
         WriteFile(dir.File("points.txt"), kPoints);
         fs::create_directory(dir.File("loomrc.txt"));
       },
       ">> Cannot read loomrc.txt, exiting\n"},
      {"out of sequence", session("0\t_t1\n2\t_t2\n1\t_t1\n", kCrossfade),
       ">> Edit 3 is out of sequence, exiting\n"},
      {"invalid time", session("0\t_t1\ninf\t_t2\n", kCrossfade),
       ">> Edit 2 has an invalid time, exiting\n"},
      {"no take name", session("0\t_t1\n1", kCrossfade),
       ">> Edit 2 has no take name, exiting\n"},
      {"no edit points", session("\n\n", kCrossfade),
       ">> No edit points in points.txt, exiting\n"},
  };
  for (const FatalCase& c : cases) {
    TempDir dir;
    c.set_up(dir);
    const Snapshot before = Take(dir.path());
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_TRUE(EndsWith(run.out, c.last_message)) << c.name << ":\n"
                                                   << run.out;
    EXPECT_EQ(Changes(before, Take(dir.path())), std::vector<std::string>{})
        << c.name;
  }
}

TEST(NothingLostTest, FinishedBuildsChangeNothingButTheirOutputs) {
  struct BuildCase {
    const char* name;
    std::string points;
    std::string loomrc;  // empty: no loomrc.txt, so the template is written
    std::map<std::string, int64_t> short_takes;
    std::vector<std::string> added;
  };
  const std::vector<std::string> outputs = {"+kick_bld.wav", "+snare_bld.wav"};
  const BuildCase cases[] = {
      {"crossfades", kPoints, kCrossfade, {}, outputs},
      {"lead-in, the same take twice, a take that runs out",
       "0.5\t_t1\n1\t_t1\n2\t_t2\n3\t_t2\n",
       "xf_all\t300\t4\n",
       {{"kick_t2.wav", 2500}, {"snare_t2.wav", 2500}},
       outputs},
      {"template written, hard cuts",
       kPoints,
       "",
       {},
       {"+kick_bld.wav", "+loomrc.txt", "+snare_bld.wav"}},
  };
  for (const BuildCase& c : cases) {
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"}, c.short_takes);
    WriteFile(dir.File("base.txt"), "kick\nsnare\n");
    WriteFile(dir.File("points.txt"), c.points);
    if (!c.loomrc.empty()) WriteFile(dir.File("loomrc.txt"), c.loomrc);
    const Snapshot before = Take(dir.path());

    const ToolRun first = RunTool(dir);
    EXPECT_EQ(first.status, 0) << c.name << ":\n" << first.out;
    EXPECT_TRUE(EndsWith(first.out, "\n\nDone\n\n")) << c.name;
    EXPECT_EQ(Changes(before, Take(dir.path())), c.added) << c.name;

    // Building again over the outputs of the first run rewrites them to the
    // same bytes and touches nothing else.
    const Snapshot built = Take(dir.path());
    EXPECT_EQ(RunTool(dir).status, 0) << c.name;
    EXPECT_EQ(Changes(built, Take(dir.path())), std::vector<std::string>{})
        << c.name;
  }
}

struct GuardCase {
  const char* name;
  std::function<void(const TempDir&)> set_up;
  std::vector<std::string> args;
  std::string message;  // after the banner
};

TEST(NothingLostTest, RefusesOutputsThatWouldOverwriteAnInput) {
  // A session whose base names are `bases`, with takes _t1 and _t2 for each,
  // so that a build that went ahead would really overwrite the input.
  const auto session = [](std::vector<std::string> bases,
                          std::string points = kPoints) {
    return [=](const TempDir& dir) {
      std::string base_txt;
      for (const std::string& base : bases) base_txt += base + "\n";
      WriteSession(dir, bases, {"_t1", "_t2"});
      WriteLists(dir, base_txt, points, kCrossfade);
    };
  };
  const auto plus = [](std::function<void(const TempDir&)> first,
                       std::function<void(const TempDir&)> then) {
    return [=](const TempDir& dir) {
      first(dir);
      then(dir);
    };
  };
  const std::string plan1 =
      "Planning to build 1 tracks using 3 edit points.\n\n";
  const std::string plan2 =
      "Planning to build 2 tracks using 3 edit points.\n\n";
  const GuardCase cases[] = {
      {"suffix names a take",
       session({"kick"}),
       {"_t1.wav"},
       plan1 +
           ">> Output file kick_t1.wav would overwrite an input, exiting\n"},
      {"take name equals the output's",
       plus(session({"kick"}, "0\t_bld\n1\t_t1\n2\t_t2\n"),
            [](const TempDir& dir) { WriteSession(dir, {"kick"}, {"_bld"}); }),
       {},
       plan1 +
           ">> Output file kick_bld.wav would overwrite an input, exiting\n"},
      {"output is a link to a take",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::create_symlink("kick_t2.wav", dir.File("kick_bld.wav"));
            }),
       {},
       plan1 +
           ">> Output file kick_bld.wav would overwrite an input, exiting\n"},
      {"output is a hard link to a take of another track",
       plus(session({"kick", "snare"}),
            [](const TempDir& dir) {
              fs::create_hard_link(dir.File("kick_t1.wav"),
                                   dir.File("snare_bld.wav"));
            }),
       {},
       plan2 +
           ">> Output file snare_bld.wav would overwrite an input, exiting\n"},
      {"output is points.txt",
       session({"kick", "points"}),
       {".txt"},
       plan2 + ">> Output file points.txt would overwrite an input, exiting\n"},
      {"output is base.txt",
       session({"base"}),
       {".txt"},
       plan1 + ">> Output file base.txt would overwrite an input, exiting\n"},
      {"output is loomrc.txt",
       session({"loomrc"}),
       {".txt"},
       plan1 + ">> Output file loomrc.txt would overwrite an input, exiting\n"},
      {"output is the temporary file",
       session({"xfade"}),
       {"_temp.wav"},
       plan1 +
           ">> Output file xfade_temp.wav would overwrite an input, exiting\n"},
      {"a take is the temporary file",
       plus(
           session({"xfade"}, "0\t_t1\n1\t_temp\n2\t_t2\n"),
           [](const TempDir& dir) { WriteSession(dir, {"xfade"}, {"_temp"}); }),
       {},
       plan1 + ">> Take file xfade_temp.wav clashes with the temporary file, "
               "exiting\n"},
      {"a take is a link to a leftover temporary file",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::rename(dir.File("kick_t2.wav"), dir.File("xfade_temp.wav"));
              fs::create_symlink("xfade_temp.wav", dir.File("kick_t2.wav"));
            }),
       {},
       plan1 + ">> Take file kick_t2.wav clashes with the temporary file, "
               "exiting\n"},
      {"the temporary file is a hard link to loomrc.txt",
       plus(session({"kick"}),
            [](const TempDir& dir) {
              fs::create_hard_link(dir.File("loomrc.txt"),
                                   dir.File("xfade_temp.wav"));
            }),
       {},
       plan1 + ">> Input file loomrc.txt clashes with the temporary file, "
               "exiting\n"},
  };
  for (const GuardCase& c : cases) {
    TempDir dir;
    c.set_up(dir);
    const Snapshot before = Take(dir.path());
    const ToolRun run = RunTool(dir, c.args);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, kBanner + c.message) << c.name;
    EXPECT_EQ(Changes(before, Take(dir.path())), std::vector<std::string>{})
        << c.name;
  }
}

struct WriteFailureCase {
  const char* name;
  std::function<void(const TempDir&)> obstruct;
  std::string failing;               // the file that cannot be written
  std::vector<std::string> changes;  // in the directory, against before
  bool needs_dev_full = false;
  uint64_t file_size_limit = 0;  // bytes, 0: none
};

TEST(NothingLostTest, WriteFailureLeavesNoHalfWrittenFile) {
  const bool have_dev_full = access("/dev/full", W_OK) == 0;
  const auto directory = [](std::string name) {
    return [=](const TempDir& dir) {
      fs::create_directory(dir.File(name));
      WriteFile(dir.File(name + "/keep.txt"), "not ours");
    };
  };
  const auto to_dev_full = [](std::string name) {
    return [=](const TempDir& dir) {
      fs::create_symlink("/dev/full", dir.File(name));
    };
  };
  const WriteFailureCase cases[] = {
      {"output is a directory", directory("kick_bld.wav"), "kick_bld.wav", {}},
      {"temporary file is a directory",
       directory("xfade_temp.wav"),
       "xfade_temp.wav",
       {}},
      {"second output is a directory",
       directory("snare_bld.wav"),
       "snare_bld.wav",
       {"+kick_bld.wav"}},
      // Nothing was written through the links, which the run removes.
      {"output is a link to /dev/full",
       to_dev_full("kick_bld.wav"),
       "kick_bld.wav",
       {"-kick_bld.wav"},
       true},
      {"temporary file is a link to /dev/full",
       to_dev_full("xfade_temp.wav"),
       "xfade_temp.wav",
       {"-xfade_temp.wav"},
       true},
      // The run could not open it, so it is left exactly as it was.
      {"output is a link into a missing folder",
       [](const TempDir& dir) {
         fs::create_symlink("missing/kick.wav", dir.File("kick_bld.wav"));
       },
       "kick_bld.wav",
       {}},
      // Takes are 12044 bytes, written before the limit; each output would
      // be 12044 bytes too.
      {"disk fills in the middle of an output",
       nullptr,
       "kick_bld.wav",
       {},
       false,
       8000},
  };
  for (const WriteFailureCase& c : cases) {
    if (c.needs_dev_full && !have_dev_full) continue;
    TempDir dir;
    WriteSession(dir, {"kick", "snare"}, {"_t1", "_t2"});
    WriteLists(dir, "kick\nsnare\n", "0\t_t1\n1.5\t_t2\n3\t_t1\n", kCrossfade);
    if (c.obstruct) c.obstruct(dir);
    const Snapshot before = Take(dir.path());

    ToolRun run;
    if (c.file_size_limit != 0) {
      const ScopedFileSizeLimit limit(c.file_size_limit);
      run = RunTool(dir);
    } else {
      run = RunTool(dir);
    }
    const std::string message =
        ">> Cannot write file " + c.failing + ", exiting\n";
    EXPECT_EQ(run.status, 1) << c.name << ":\n" << run.out;
    EXPECT_TRUE(EndsWith(run.out, message)) << c.name << ":\n" << run.out;
    EXPECT_EQ(run.out.find("Done"), std::string::npos) << c.name;
    EXPECT_EQ(Changes(before, Take(dir.path())), c.changes) << c.name;
    if (fs::exists(dir.File("kick_bld.wav")) &&
        fs::is_regular_file(fs::symlink_status(dir.File("kick_bld.wav")))) {
      // A track finished before the failure is whole.
      EXPECT_EQ(fs::file_size(dir.File("kick_bld.wav")), 44u + 3000u * 4u)
          << c.name;
    }
  }
  if (have_dev_full) {
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
  }
}

}  // namespace
}  // namespace takeloom::testing

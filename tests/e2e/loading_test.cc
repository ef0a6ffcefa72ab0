// The tool's loading stage, run as a user runs it: banner, parameter file
// template, lists, suffix and the checks that refuse a job before any take
// is opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/run_tool.h"
#include "inputs/params.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

const std::string kPlan2x3 =
    "Planning to build 2 tracks using 3 edit points.\n\n";

// A job's lists, each as a good job has it unless a case says otherwise.
struct Job {
  std::string base = "kick\nsnare\n";
  std::string points = "0\t_t1\n5\t_t2\n9\t_t1\n";
  std::string loomrc = "xf_all\t200\t1\n";
};

TEST(LoadingTest, FirstRunWritesTheTemplateThenStopsWithoutBaseFile) {
  TempDir dir;
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         ">> Cannot find file base.txt that holds your base "
                         "file names, exiting\n\n");
  EXPECT_EQ(ReadFile(dir.File("loomrc.txt")), kParamsTemplate);
  EXPECT_EQ(ListDir(dir), std::vector<std::string>{"loomrc.txt"});
}

TEST(LoadingTest, ReportsATemplateItCannotWriteAndGoesOn) {
  TempDir dir;
  ToolRun run;
  {
    const ScopedFileSizeLimit no_room(0, false);
    run = RunTool(dir);
  }
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         "Could not write the loomrc.txt template\n"
                         ">> Cannot find file base.txt that holds your base "
                         "file names, exiting\n\n");
  EXPECT_TRUE(ListDir(dir).empty());
}

TEST(LoadingTest, MissingEditListStopsAfterTheBaseNames) {
  TempDir dir;
  WriteFile(dir.File("base.txt"), "kick\n");
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kBanner) +
                         ">> Cannot find file points.txt that holds your "
                         "edits, exiting\n\n");
}

struct RefusalCase {
  const char* name;
  Job job;
  std::string expected_tail;  // after the banner, then standard error
};

TEST(LoadingTest, RefusesBadJobsWithTheirMessages) {
  using namespace std::string_literals;
  const std::string plan = kPlan2x3;
  const std::string plan4 = "Planning to build 2 tracks using 4 edit points.\n\n";
  // Each message is followed by its detail on standard error.
  const std::string forms = " is not a time; write seconds (12.5), m:ss(.fff), "
                            "h:mm:ss(.fff) or a sample position (427200s)\n";
  const std::string tab =
      ": a tab is expected between the time and the take name\n";
  const RefusalCase cases[] = {
      {"out of sequence", {.points = "0\tA\n5\tB\n\n4\tA\n"},
       plan + ">> Edit 3 is out of sequence, exiting\n"
              "takeloom: points.txt line 4 reads \"4\\tA\": its time, 4 s, is "
              "before 5 s, the time of edit 2 (points.txt line 2 reads "
              "\"5\\tB\"); edit times may not go back\n"},
      {"not finite", {.points = "0\tA\nnan\tB\n9\tA\n"},
       plan + ">> Edit 2 has an invalid time, exiting\n"
              "takeloom: points.txt line 2 reads \"nan\\tB\": the time is not "
              "a number (nan)\n"},
      {"negative after the first", {.points = "-2\tA\n-1\tB\n9\tA\n"},
       plan + ">> Edit 2 has an invalid time, exiting\n"
              "takeloom: points.txt line 2 reads \"-1\\tB\": the time -1 is "
              "negative; only the first edit may start before 0\n"},
      {"decimal comma", {.points = "0\tA\n1,5\tB\n9\tA\n"},
       plan + ">> Edit 2 has an invalid time, exiting\n"
              "takeloom: points.txt line 2 reads \"1,5\\tB\": \"1,5\"" + forms},
      {"unit after the time", {.points = "0\tA\n5\tB\n12.5s\tA\n"},
       plan + ">> Edit 3 has an invalid time, exiting\n"
              "takeloom: points.txt line 3 reads \"12.5s\\tA\": \"12.5s\"" +
              forms},
      // The next line becomes the take name of the one written with spaces.
      {"spaces for the tab", {.points = "0\tA\n\n5 B\n9\tA\n"},
       "Planning to build 2 tracks using 2 edit points.\n\n"
       ">> Edit 2 has an invalid time, exiting\n"
       "takeloom: points.txt line 3 reads \"5 B\"" + tab},
      {"zero byte in the edit list", {.points = "0\tA\n5\tB\n\0" "9\tA\n"s},
       ">> points.txt is not plain text, exiting\n"
       "takeloom: points.txt holds a zero byte at byte 8\n"},
      // The parameter file is read first.
      {"broken UTF-16", {.loomrc = "\xFF\xFEx\0\x3C\xD8"s},
       ">> loomrc.txt is not plain text, exiting\ntakeloom: loomrc.txt is not "
       "valid UTF-16 (an unpaired surrogate at byte 4)\n"},
      {"no take name", {.points = "0\tA\n5"},
       ">> Edit 2 has no take name, exiting\n"
       "takeloom: points.txt line 2 reads \"5\": no take name follows the "
       "time\n"},
      {"every line with spaces", {.points = "0 A\n5 B\n9 A\n"},
       ">> Edit 2 has no take name, exiting\n"
       "takeloom: points.txt line 3 reads \"9 A\"" + tab},
      {"no edit points", {.points = "\n"},
       "Planning to build 2 tracks using 0 edit points.\n\n"
       ">> No edit points in points.txt, exiting\n"},
      // No take is opened (there are none), and only the template is
      // written.
      {"one edit point", {.points = "0\tT3\n", .loomrc = ""},
       "Planning to build 2 tracks using 1 edit points.\n\n"
       ">> Only one edit point in points.txt: add a last one where the "
       "tracks end, exiting\n"},
      {"sample positions mixed with times",
       {.points = "0s\tA\n240000s\tB\n9\tA\n12s\tA\n"},
       plan4 + ">> Edit 3 mixes sample positions with times, exiting\n"
               "takeloom: points.txt line 3 reads \"9\\tA\": the edits "
               "before it are of the other kind; one list uses sample "
               "positions (427200s) or times, not both\n"},
      {"sample positions out of sequence",
       {.points = "0s\tA\n16777217s\tB\n16777216s\tA\n"},
       plan + ">> Edit 3 is out of sequence, exiting\n"
              "takeloom: points.txt line 3 reads \"16777216s\\tA\": its "
              "sample position, 16777216s, is before 16777217s, the position "
              "of edit 2 (points.txt line 2 reads \"16777217s\\tB\"); edit "
              "points may not go back\n"},
      {"bad crossfade entry", {.loomrc = "xf_all\t200\t1\nxf_tr\t0\t200\t1\n"},
       ">> Invalid crossfade entry in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 2, entry \"xf_tr\\t0\\t200\\t1\": the track "
       "number reads as 0; tracks are numbered from 1\n"},
      {"crossfade entry with spaces", {.loomrc = "xf_all 200 1\n"},
       ">> Invalid crossfade entry in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 1, entry \"xf_all 200 1\": a tab, not a "
       "space, goes after the key and between the values\n"},
      {"crossfade entry cut short", {.loomrc = "xf_all\t200\t1\n\nxf_tr\t2"},
       ">> Invalid crossfade entry in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 3, entry \"xf_tr\\t2\": the file ends "
       "before its length and type\n"},
      {"bad crossfade type", {.loomrc = "xf_all\t9\t1\nxf_tr\t2\t200\t5\n"},
       plan + ">> Invalid crossfade for track 2 in loomrc.txt, exiting\n"
              "takeloom: loomrc.txt line 2, entry \"xf_tr\\t2\\t200\\t5\": "
              "the crossfade type 5 is not one of 0 to 4\n"},
      {"negative crossfade", {.loomrc = "xf_all\t-10\t1\n"},
       plan + ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n"
              "takeloom: loomrc.txt line 1, entry \"xf_all\\t-10\\t1\", the "
              "xf_all entry that sets track 1: the crossfade length -10 ms "
              "is negative\n"},
      // An xf_tr entry of type 0 takes xf_all's setting, and so its fault.
      {"xf_all over type 0",
       {.loomrc = "xf_tr\t1\t20\t2\nxf_tr\t2\t20\t0\nxf_all\t-1\t3\n"},
       plan + ">> Invalid crossfade for track 2 in loomrc.txt, exiting\n"
              "takeloom: loomrc.txt line 3, entry \"xf_all\\t-1\\t3\", the "
              "xf_all entry that sets track 2: the crossfade length -1 ms "
              "is negative\n"},
      // The crossfade check comes before the order check.
      {"crossfade before order",
       {.points = "5\tA\n0\tB\n", .loomrc = "xf_tr\t1\tinf\t0\n"},
       "Planning to build 2 tracks using 2 edit points.\n\n"
       ">> Invalid crossfade for track 1 in loomrc.txt, exiting\n"
       "takeloom: loomrc.txt line 1, entry \"xf_tr\\t1\\tinf\\t0\": the "
       "crossfade length inf is no number of milliseconds\n"},
  };
  for (const RefusalCase& c : cases) {
    TempDir dir;
    WriteJob(dir, c.job.base, c.job.points, c.job.loomrc);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out + run.err, kBanner + c.expected_tail) << c.name;
    EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"base.txt", "loomrc.txt",
                                                      "points.txt"}))
        << c.name;
  }
}

// What a run accepts but is likely a slip builds as it always has, with a
// note on standard error that points at the line.
TEST(LoadingTest, NotesLikelySlipsAndBuildsAllTheSame) {
  const std::string note = "takeloom: note: ";
  const std::string beyond =
      "points.txt line 4 reads \"12.5\\t_t1\": the last edit point, "
      "0:00:12.500, lies beyond every take of ";
  struct Case {
    const char* name;
    Job job;
    std::string err;
  };
  const Case cases[] = {
      {"xf_tr entry beyond the tracks",
       {.loomrc = "xf_all\t200\t1\n\nxf_tr\t3\t20\t2\n"},
       note + "loomrc.txt line 3, entry \"xf_tr\\t3\\t20\\t2\": there is no "
              "track 3 (base.txt names 2); the entry sets nothing\n"},
      {"a track named twice", {.base = "kick\nsnare\n\nkick\n"},
       note + "base.txt line 4 reads \"kick\", as line 1 does: both tracks "
              "are built to \"kick_bld.wav\" and the later one is kept\n"},
      {"first time below 0", {.points = "-0.5\t_t1\n5\t_t2\n9\t_t1\n"},
       note + "points.txt line 1 reads \"-0.5\\t_t1\": the first time, -0.5 "
              "s, is before the start; it counts as 0\n"},
      {"last point beyond every take of every track",
       {.points = "0\t_t1\n5\t_t2\n\n12.5\t_t1\n"},
       note + beyond + "every track; each ends at 0:00:10.000 (10000 frames "
                       "at 1000 Hz)\n"},
      {"last point beyond every take of two tracks",
       {.base = "kick\ntom\nsnare\n", .points = "0\t_t1\n5\t_t2\n\n12.5\t_t1\n"},
       note + beyond + "\"kick\"; it ends at 0:00:10.000 (10000 frames at "
                       "1000 Hz)\n" +
           note + beyond + "\"snare\"; it ends at 0:00:10.000 (10000 frames "
                           "at 1000 Hz)\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const std::string take : {"_t1", "_t2"}) {
      for (const std::string base : {"kick", "snare"}) {
        WriteTake(dir, base + take + ".wav", {.channels = 1},
                  Noise(20000, take[2]));
      }
      WriteTake(dir, "tom" + take + ".wav", {.channels = 1},
                Noise(30000, take[2]));
    }
    WriteJob(dir, c.job.base, c.job.points, c.job.loomrc);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0) << c.name << run.out;
    EXPECT_EQ(WithoutClipNotes(run.err), c.err) << c.name;
  }
}

// Inputs that are no regular files are not read (a FIFO would wait for a
// writer, a device might never end) and are left as they are.
TEST(LoadingTest, LeavesInputsThatAreNoRegularFilesAlone) {
  namespace fs = std::filesystem;
  const std::string base_missing =
      ">> Cannot find file base.txt that holds your base file names, "
      "exiting\n\n";
  struct Case {
    const char* name;
    const char* file;
    void (*make)(const std::string& path);
    std::string expected_tail;  // after the banner
  };
  const Case cases[] = {
      {"parameter file is a directory", "loomrc.txt",
       [](const std::string& p) { fs::create_directory(p); },
       ">> Cannot read loomrc.txt, exiting\n"},
      {"parameter file is a FIFO", "loomrc.txt",
       [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       ">> Cannot read loomrc.txt, exiting\n"},
      {"parameter file links to an endless device", "loomrc.txt",
       [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
       ">> Cannot read loomrc.txt, exiting\n"},
      {"base names in a FIFO", "base.txt",
       [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       base_missing},
      {"edit list is a directory", "points.txt",
       [](const std::string& p) { fs::create_directory(p); },
       ">> Cannot find file points.txt that holds your edits, exiting\n\n"},
  };
  const Job job;
  for (const Case& c : cases) {
    TempDir dir;
    WriteJob(dir, job.base, job.points, job.loomrc);
    const std::string path = dir.File(c.file);
    fs::remove(path);
    c.make(path);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.out, kBanner + c.expected_tail) << c.name;
    EXPECT_NE(fs::symlink_status(path).type(), fs::file_type::regular)
        << c.name;
  }
}

TEST(LoadingTest, NoTracksIsNotAnError) {
  TempDir dir;
  WriteJob(dir, "\n\n", "", Job().loomrc);
  const ToolRun run = RunTool(dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.out.starts_with(std::string(kBanner) +
                                  "Planning to build 0 tracks using 0 edit "
                                  "points.\n\n"))
      << run.out;
}

TEST(LoadingTest, OptionsTouchNoFile) {
  for (const char* flag : {"-h", "--help"}) {
    TempDir dir;
    const ToolRun run = RunTool(dir, {flag});
    EXPECT_EQ(run.status, 0) << flag;
    EXPECT_TRUE(run.out.starts_with("Usage: takeloom [-n | --dry-run] "
                                     "[--takes PATTERN] [--report FILE]\n"
                                     "                [SUFFIX]\n"))
        << flag;
    for (const char* topic : {"base.txt", "points.txt", "loomrc.txt",
                              "_bld.wav", "Crossfade types", "--report FILE",
                              "Exit status"}) {
      EXPECT_NE(run.out.find(topic), std::string::npos) << flag << topic;
    }
    EXPECT_TRUE(ListDir(dir).empty()) << flag;
  }
  TempDir dir;
  const ToolRun run = RunTool(dir, {"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Takeloom 2.00\n");
  EXPECT_TRUE(ListDir(dir).empty());

  // A second suffix, and a pattern that cannot name the takes, are refused
  // before anything is read.
  const std::pair<std::vector<std::string>, std::string> refusals[] = {
      {{"_a.wav", "_b.wav"}, "Too many arguments, see takeloom --help"},
      {{"-n", "_mix.wav", "x"}, "Too many arguments, see takeloom --help"},
      // Help and the version come alone, whatever stands beside them.
      {{"-h", "-n"}, "Too many arguments, see takeloom --help"},
      {{"--bogus", "--help"}, "Too many arguments, see takeloom --help"},
      {{"_mix.wav", "--version"}, "Too many arguments, see takeloom --help"},
      {{"--takes", "{take}.WAV"},
       "The --takes pattern must hold {track} and {take}"},
  };
  for (const auto& [args, message] : refusals) {
    const ToolRun refused = RunTool(dir, args);
    EXPECT_EQ(refused.status, 1) << args[0];
    EXPECT_EQ(refused.out, ">> " + message + ", exiting\n") << args[0];
    EXPECT_TRUE(ListDir(dir).empty()) << args[0];
  }

  // What looks like another option is refused, not taken for a suffix.
  for (const char* option : {"--verbose", "--", "-v"}) {
    TempDir fresh;
    const ToolRun refused = RunTool(fresh, {option});
    EXPECT_EQ(refused.status, 1) << option;
    EXPECT_EQ(refused.out, ">> Unknown option " + std::string(option) +
                               ", see takeloom --help, exiting\n")
        << option;
    EXPECT_TRUE(ListDir(fresh).empty()) << option;
  }
}

}  // namespace
}  // namespace takeloom::testing

// Takes as field recorders and other programs leave them, run as a user
// runs them: a recorder that stopped before writing its sizes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/wav_bytes.h"

namespace takeloom::testing {
namespace {

// A sox take whose 32-bit sizes are zeroed, as a recorder leaves them
// before it writes them, builds what the take with its sizes builds, and
// says so; a chunk right after the data chunk's header keeps it empty.
TEST(RecorderTakesTest, ReadsTakesWhoseRecorderStoppedBeforeWritingSizes) {
  if (!Installed("sox")) GTEST_SKIP() << "sox is not installed";
  TempDir sox;
  Capture(sox, "sox -n -r 8000 -c 2 -b 16 t.wav synth 1 sine 300 sine 410");
  std::string take = ReadFile(sox.File("t.wav"));
  ASSERT_EQ(take.substr(36, 4), "data");
  std::string unset = take;
  unset.replace(4, 4, 4, '\0').replace(40, 4, 4, '\0');
  std::string listed =
      unset.substr(0, 44) + Text(Chunk("LIST", "INFO")) + unset.substr(44);
  std::vector<std::string> outputs;
  for (const std::string* t : {&take, &unset, &listed}) {
    TempDir dir;
    WriteJob(dir, "kick\n", "0\t_t1\n0\t_t1\n1\t_t1\n", "xf_all\t0\t0\n");
    WriteFile(dir.File("kick_t1.wav"), *t);
    const ToolRun run = RunTool(dir);
    EXPECT_EQ(run.status, 0);
    const std::string note =
        t != &unset ? "" : "takeloom: note: kick_t1.wav has no data size (its "
                           "recorder stopped early?); reading its audio to "
                           "the end of the file\n";
    EXPECT_EQ(run.out,
              BannerAndPlan(1, 3) + note + Built("1\t0.0\t0\n", {"kick_bld.wav"}));
    outputs.push_back(ReadFile(dir.File("kick_bld.wav")));
  }
  EXPECT_EQ(outputs[0].size(), 44u + 8000 * 4);
  EXPECT_TRUE(SameBytes(outputs[1], outputs[0]));
  EXPECT_EQ(outputs[2].substr(36), std::string("data\0\0\0\0", 8));
}

}  // namespace
}  // namespace takeloom::testing

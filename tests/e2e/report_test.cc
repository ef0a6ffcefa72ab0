// The --report page: written with the outputs as one more output of the
// run, alone for a dry run, never by a failing run; and shown in a real
// browser with every flag where it belongs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/run_tool.h"
#include "testing/session.h"

namespace takeloom::testing {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kRate = 8000;

// A mono take of `seconds` of a sine at `hz` and amplitude `level`, in
// phase with every other take of its track, so that a crossfade's peak is
// known: sqrt(a^2 + b^2) at type 1.
void WriteSine(const TempDir& dir, const std::string& name, double hz,
               double level, double seconds) {
  std::vector<int64_t> samples(static_cast<size_t>(seconds * kRate));
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = std::lround(32767 * level *
                             std::sin(2 * M_PI * hz * static_cast<double>(i) / kRate));
  }
  WriteTake(dir, name, {.channels = 1, .rate = kRate}, Pcm(samples, 2));
}

using Flag = std::tuple<int, std::string, std::string>;  // edit, track, class

// Two tracks, 200 ms crossfades of type 1, made to raise every flag once
// where the list below says and nowhere else: kick goes from a quiet take
// to a loud one (edit 2) and its _t4 runs out at 2.5 s inside the segment
// of edit 3, so edit 4 fades in from silence; edits 5 and 6 lie 100 ms
// apart; bass's _t5 at 0.85 of full scale is crossfaded into itself
// (edit 8). Every other pair of takes differs by less than 6 dB and peaks
// below full scale.
const std::set<Flag> kFlags = {
    {2, "kick", "flag-step"},         {3, "kick", "flag-runout"},
    {4, "kick", "flag-silence"},      {5, "kick", "flag-short"},
    {5, "bass&amp;keys", "flag-short"}, {6, "kick", "flag-short"},
    {6, "bass&amp;keys", "flag-short"}, {8, "bass&amp;keys", "flag-clip"}};

void WriteFlagSession(const TempDir& dir) {
  for (const char* take : {"_t2", "_t3", "_t4", "_t5"}) {
    const std::string t = take;
    WriteSine(dir, "kick" + t + ".wav", 110, 0.45, t == "_t4" ? 2.5 : 7);
    WriteSine(dir, "bass&keys" + t + ".wav", 220, t == "_t5" ? 0.85 : 0.45, 7);
  }
  WriteSine(dir, "kick_t1.wav", 110, 0.03, 7);
  WriteSine(dir, "bass&keys_t1.wav", 220, 0.45, 7);
  WriteJob(dir, "kick\nbass&keys\n",
           "0\t_t1\n1\t_t2\n2\t_t4\n3\t_t2\n4\t_t3\n4.1\t_t2\n5\t_t5\n"
           "5.8\t_t5\n6.6\t_t5\n",
           "xf_all\t200\t1\n");
}

// The flags marked in `html`, each as often as it is: every
// class="flag flag-KIND" data-edit="N" data-track="NAME".
std::multiset<Flag> FlagsIn(const std::string& html) {
  constexpr std::string_view kOpen = "class=\"flag flag-";
  std::multiset<Flag> found;
  // The value of attribute `name` after `from`, and where it ends.
  const auto value = [&](std::string_view name, size_t* from) {
    const size_t start = html.find(std::string(name) + "=\"", *from) +
                         name.size() + 2;
    const size_t end = html.find('"', start);
    *from = end;
    return html.substr(start, end - start);
  };
  for (size_t at = html.find(kOpen); at != std::string::npos;
       at = html.find(kOpen, at)) {
    size_t from = at + kOpen.size();
    const std::string kind =
        "flag-" + html.substr(from, html.find('"', from) - from);
    const int edit = std::stoi(value("data-edit", &from));
    found.insert({edit, value("data-track", &from), kind});
    at = from;
  }
  return found;
}

// The section of edit `n`, up to the next one.
std::string EditSection(const std::string& html, int n) {
  const size_t at = html.find("id=\"edit-" + std::to_string(n) + "\"");
  if (at == std::string::npos) return "";
  return html.substr(at, html.find("class=\"edit\"", at) - at);
}

TEST(ReportTest, WrittenWithTheOutputsAndShownInABrowser) {
  TempDir dir;
  WriteFlagSession(dir);
  const ToolRun plain = RunTool(dir);
  ASSERT_EQ(plain.status, 0) << plain.out;
  const auto outputs = [&] {
    return std::vector{ReadFile(dir.File("kick_bld.wav")),
                       ReadFile(dir.File("bass&keys_bld.wav"))};
  };
  const std::vector<std::string> built = outputs();
  const ToolRun run = RunTool(dir, {"--report", "session.html"});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, plain.out);
  EXPECT_TRUE(outputs() == built);
  EXPECT_FALSE(fs::exists(dir.File("session.html.partial")));
  const std::string html = ReadFile(dir.File("session.html"));
  // Self-contained: nothing to fetch, nothing to run.
  for (const char* outside : {"http:", "https:", "<script", "<link", "src=",
                              "@import", "url(http"}) {
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  }
  EXPECT_EQ(html.find("bass&keys"), std::string::npos);
  EXPECT_NE(html.find("takeloom --report session.html"), std::string::npos);

  if (!Installed("chromium")) GTEST_SKIP() << "chromium is not installed";
  // Shows the page with `args`, what the browser prints going `to` a file.
  const auto browse = [&](const std::string& args, const std::string& to) {
    return std::system(
        ("timeout 120 chromium --headless --no-sandbox --disable-gpu "
         "--disable-quic --no-first-run --disable-background-networking "
         "--disable-component-update --disable-sync --user-data-dir=" +
         dir.File("profile") + " " + args + " 'file://" +
         dir.File("session.html") + "' > '" + to + "' 2>/dev/null")
            .c_str());
  };
  ASSERT_EQ(browse("--dump-dom", dir.File("dom.html")), 0);
  const std::string dom = ReadFile(dir.File("dom.html"));
  EXPECT_EQ(dom.find("id=\"edit-10\""), std::string::npos);
  for (const char* track : {">kick<", ">bass&amp;keys<"}) {
    EXPECT_NE(dom.find(track), std::string::npos) << track;
  }
  // Each flag in the list at the top, on its track and on its edit.
  std::multiset<Flag> thrice;
  for (const Flag& f : kFlags) thrice.insert({f, f, f});
  EXPECT_EQ(FlagsIn(dom), thrice);
  for (int n = 1; n <= 9; ++n) {
    EXPECT_NE(dom.find("id=\"edit-" + std::to_string(n) + "\""),
              std::string::npos) << n;
    std::multiset<Flag> expected;
    for (const Flag& f : kFlags) {
      if (std::get<0>(f) == n) expected.insert(f);
    }
    EXPECT_EQ(FlagsIn(EditSection(dom, n)), expected) << "edit " << n;
  }

  // A picture, not a blank page: large, and of many byte values.
  const std::string png = dir.File("report.png");
  ASSERT_EQ(browse("--screenshot=" + png + " --window-size=1200,2000",
                   "/dev/null"),
            0);
  const std::string shot = ReadFile(png);
  ASSERT_GT(shot.size(), 30000u);
  EXPECT_EQ(shot.substr(1, 3), "PNG");
  EXPECT_GT(std::set<char>(shot.begin(), shot.end()).size(), 200u);
  if (const char* keep = std::getenv("TAKELOOM_KEEP_REPORT")) {
    fs::copy_file(png, std::string(keep) + ".png",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(dir.File("session.html"), std::string(keep) + ".html",
                  fs::copy_options::overwrite_existing);
  }
}

TEST(ReportTest, DryRunWritesOnlyTheReportAndAFailedRunNone) {
  TempDir dir;
  WriteFlagSession(dir);
  std::vector<std::string> before = ListDir(dir);
  const ToolRun dry = RunTool(dir, {"-n", "--report", "plan.html"});
  ASSERT_EQ(dry.status, 0) << dry.out;
  before.push_back("plan.html");
  std::sort(before.begin(), before.end());
  EXPECT_EQ(ListDir(dir), before);
  const std::string plan = ReadFile(dir.File("plan.html"));
  EXPECT_EQ(FlagsIn(EditSection(plan, 8)),
            (std::multiset<Flag>{{8, "bass&amp;keys", "flag-clip"}}));

  // A missing take: nothing built, the earlier report kept as it was.
  fs::rename(dir.File("kick_t3.wav"), dir.File("kept.wav"));
  const ToolRun failed = RunTool(dir, {"--report", "plan.html"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(ReadFile(dir.File("plan.html")), plan);
  EXPECT_FALSE(fs::exists(dir.File("plan.html.partial")));
  EXPECT_FALSE(fs::exists(dir.File("kick_bld.wav")));

  const ToolRun refused = RunTool(dir, {"--report", "plan.txt"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.out.ends_with(
      ">> The report must be a file ending in .html, see takeloom --help, "
      "exiting\n")) << refused.out;
  // A report that is a take under another name would destroy it.
  fs::create_symlink("kick_t1.wav", dir.File("take.html"));
  const ToolRun clash = RunTool(dir, {"-n", "--report", "take.html"});
  EXPECT_EQ(clash.status, 1);
  EXPECT_NE(clash.out.find("take.html would overwrite an input"),
            std::string::npos) << clash.out;
}

}  // namespace
}  // namespace takeloom::testing

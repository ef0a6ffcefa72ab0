// The report's arithmetic and page on values: levels, flags, waveform
// columns, full scale, and names escaped wherever the page shows them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/edit_measure.h"
#include "report/html_report.h"

namespace takeloom {
namespace {

TEST(ReportValuesTest, LevelsAndSteps) {
  EXPECT_NEAR(LevelDbfs(0.25 * 100, 100), -6.0206, 1e-4);
  EXPECT_NEAR(LevelDbfs(100, 100), 0.0, 1e-12);
  EXPECT_TRUE(std::isinf(LevelDbfs(0, 100)));
  EXPECT_TRUE(std::isinf(LevelDbfs(1, 0)));
  EXPECT_DOUBLE_EQ(LevelStep(-30, -10), 20);
  EXPECT_DOUBLE_EQ(LevelStep(-10, -16.5), -6.5);
  // A silent side is a take running out, flagged as such, not a step.
  EXPECT_EQ(LevelStep(-INFINITY, -10), 0);
  EXPECT_EQ(LevelStep(-120, -10), 0);
}

TEST(ReportValuesTest, FlagsOfAnEdit) {
  const auto flags = [](auto change) {
    EditTrack e;
    e.measured = true;
    e.level_before = e.level_after = -12;
    change(e);
    return FlagsOf(e);
  };
  using V = std::vector<FlagKind>;
  EXPECT_EQ(flags([](EditTrack&) {}), V{});
  EXPECT_EQ(flags([](EditTrack& e) { e.level_after = -6.1; }), V{});
  EXPECT_EQ(flags([](EditTrack& e) { e.level_after = -18.1; }),
            V{FlagKind::kLevelStep});
  EXPECT_EQ(flags([](EditTrack& e) { e.level_before = -INFINITY; }), V{});
  EXPECT_EQ(flags([](EditTrack& e) { e.clipped = 1; }),
            V{FlagKind::kClipping});
  EXPECT_EQ(flags([](EditTrack& e) {
              e.from_silence = true;
              e.shortened = Shortened::kBySegmentLeft;
              e.runs_out_at = 7;
            }),
            (V{FlagKind::kFromSilence, FlagKind::kShortened,
               FlagKind::kRunsOut}));
  // Where no take goes out only a take running out is flagged.
  EXPECT_EQ(flags([](EditTrack& e) {
              e.measured = false;
              e.clipped = 3;
              e.runs_out_at = 0;
            }),
            V{FlagKind::kRunsOut});
}

TEST(ReportValuesTest, ColumnsKeepEachColumnsExtremes) {
  ColumnScanner scanner(6, 3);  // two frames a column
  for (int64_t f = 0; f < 4; ++f) scanner.Add(f, f % 2 ? 0.5 : -0.25 * f);
  scanner.Add(99, 1.0);  // outside the view: ignored
  const Columns c = scanner.Take();
  EXPECT_EQ(c.low, (std::vector<float>{0.0f, -0.5f, 0.0f}));
  EXPECT_EQ(c.high, (std::vector<float>{0.5f, 0.5f, 0.0f}));
}

TEST(ReportValuesTest, BeyondFullScaleAsTheBlendHoldsIt) {
  const TrackFormat i16{48000, 16, 2, 1, SampleFormat::kInteger};
  const TrackFormat i24{48000, 24, 3, 1, SampleFormat::kInteger};
  const TrackFormat i32{48000, 32, 4, 1, SampleFormat::kInteger};
  const TrackFormat f32{48000, 32, 4, 1, SampleFormat::kFloat};
  // 16-bit sums are on the 24-bit scale and truncated after 1/256.
  EXPECT_FALSE(BeyondFullScale(32767 * 256 + 255.9, i16));
  EXPECT_TRUE(BeyondFullScale(32768 * 256, i16));
  EXPECT_FALSE(BeyondFullScale(-32768 * 256 - 255.9, i16));
  EXPECT_TRUE(BeyondFullScale(-32769 * 256, i16));
  EXPECT_FALSE(BeyondFullScale(8388607.9, i24));
  EXPECT_TRUE(BeyondFullScale(8388608, i24));
  EXPECT_TRUE(BeyondFullScale(-8388609, i24));
  EXPECT_FALSE(BeyondFullScale(2147483647.5, i32));
  EXPECT_TRUE(BeyondFullScale(2147483648.0, i32));
  EXPECT_FALSE(BeyondFullScale(-1.0, f32));
  EXPECT_TRUE(BeyondFullScale(1.0001, f32));
}

TEST(ReportPageTest, EveryNameEscapedAndEveryEditAnchored) {
  EXPECT_EQ(EscapeHtml("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  const std::string take = "<t1>";
  const std::string base = "kick&\"snare'";
  const ReportTrack track{
      .base = base, .output = base + "_bld.wav",
      .take_paths = {base + take + ".wav", base + "_t2.wav"},
      .format = {1000, 16, 2, 1, SampleFormat::kInteger}, .length = 2000,
      .crossfade_type = 1, .crossfade_frames = 100,
      .segments = {{0, 1000, 0, 900}, {1000, 2000, 1, -1}, {2000, 2000, 1, -1}},
      .fades = {{1, 950, 100}}};
  const EditTrack first{
      .take = 0, .out = {}, .in = {}, .result = {}, .runs_out_at = 900};
  const Columns wave{{-1, 0.5}, {1, 0.5}};
  const EditTrack second{.measured = true, .from = 0, .take = 1,
                         .window_start = 950, .window_frames = 100, .type = 1,
                         .clipped = 4, .view_start = 900, .view_frames = 200,
                         .out = wave, .in = wave, .result = wave};
  const std::string html = RenderReport(
      {.version = "Takeloom 2.00",
       .command_line = "takeloom --report 'a<b>.html'",
       .take_names = {take, "_t2"},
       .tracks = {track},
       .edits = {{0, kNoTake, 0, {first}}, {1, 0, 1, {second}},
                 {2, 1, kNoTake, {EditTrack{}}}}});
  for (const std::string& raw : {take, base, std::string("a<b>")}) {
    EXPECT_EQ(html.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(html.find(">kick&amp;&quot;snare&#39;<"), std::string::npos);
  EXPECT_NE(html.find("&lt;t1&gt; runs out at 0:00:00.900, silence follows"),
            std::string::npos);
  for (const char* id : {"id=\"edit-1\"", "id=\"edit-2\"", "id=\"edit-3\""}) {
    EXPECT_NE(html.find(id), std::string::npos) << id;
  }
  EXPECT_EQ(html.find("id=\"edit-4\""), std::string::npos);
  // The clipping is in the list, on the track and on the edit.
  const std::string clip = "crossfade clips 4 samples";
  size_t clips = 0;
  for (size_t at = html.find(clip); at != std::string::npos;
       at = html.find(clip, at + 1)) ++clips;
  EXPECT_EQ(clips, 3u);
  EXPECT_NE(html.find("@media print"), std::string::npos);
}

}  // namespace
}  // namespace takeloom

#include "dsp/curves.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace takeloom {
namespace {

// The kept table must follow every change of type and length, even one that
// keeps the other the same, and must hold the gains computed frame by frame.
TEST(CurveTableTest, FollowsEachWindowItIsAskedFor) {
  struct Window {
    int32_t type;
    int64_t length;
  };
  const std::vector<Window> windows = {
      {1, 9600}, {1, 9600}, {2, 9600}, {2, 9601}, {4, 1}, {3, 2}, {1, 9601}};
  for (const Window& w : windows) {
    const auto table = CurveTable(w.type, w.length);
    ASSERT_EQ(std::ssize(table), w.length) << w.type << " " << w.length;
    for (int64_t i = 0; i < w.length; ++i) {
      const Gains expected = CurveGains(w.type, i, w.length);
      ASSERT_EQ(table[i].fade_out, expected.fade_out) << w.type << " at " << i;
      ASSERT_EQ(table[i].fade_in, expected.fade_in) << w.type << " at " << i;
    }
  }
}

TEST(CurveTableTest, LongWindowsAreLeftToTheCaller) {
  EXPECT_TRUE(CurveTable(1, kMaxCurveTableFrames + 1).empty());
  EXPECT_TRUE(CurveTable(1, 0).empty());
  EXPECT_EQ(std::ssize(CurveTable(1, kMaxCurveTableFrames)),
            kMaxCurveTableFrames);
}

}  // namespace
}  // namespace takeloom

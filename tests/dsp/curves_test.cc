#include "dsp/curves.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace takeloom {
namespace {

// One table asked for window after window, as a renderer asks: the kept
// table must follow every change of type and of length, even one that keeps
// the other the same, and every span must hold exactly the frames asked for
// with the gains CurveGains gives them.
TEST(GainTableTest, FramesAreTheCurvesGainsOfTheFramesAskedFor) {
  constexpr int64_t kMax = GainTable::kMaxTableFrames;
  const struct {
    int32_t type;
    int64_t length, first, n;
  } requests[] = {
      {1, 9600, 0, 9600},
      {1, 9600, 0, 9600},
      {2, 9600, 0, 9600},  // the type alone changes
      {2, 9601, 0, 9601},  // the length alone changes
      {4, 1, 0, 1},
      {3, 2, 0, 2},
      {3, 9601, 0, 9601},
      {3, 9601, 1024, 1024},  // a block in the middle
      {3, 9601, 9600, 1},     // the last frame
      {1, kMax, kMax - 1025, 1025},
      // Longer windows are computed a block at a time.
      {1, kMax + 1, 0, 1024},
      {1, 3 * kMax, kMax + 5000, 1025},
      {4, 3 * kMax, kMax + 5000, 1025},
      {4, 3 * kMax, 3 * kMax - 3, 3},
      {2, kMax + 1, kMax, 1},
  };
  GainTable table;
  for (const auto& r : requests) {
    const auto gains = table.Frames(r.type, r.length, r.first, r.n);
    const std::string label = "type " + std::to_string(r.type) + " L=" +
                              std::to_string(r.length) + " from " +
                              std::to_string(r.first);
    ASSERT_EQ(std::ssize(gains), r.n) << label;
    for (int64_t i = 0; i < r.n; ++i) {
      const Gains expected = CurveGains(r.type, r.first + i, r.length);
      ASSERT_EQ(gains[i].fade_out, expected.fade_out) << label << " + " << i;
      ASSERT_EQ(gains[i].fade_in, expected.fade_in) << label << " + " << i;
    }
  }
}

}  // namespace
}  // namespace takeloom

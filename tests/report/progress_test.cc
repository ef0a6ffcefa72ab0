#include "report/progress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace takeloom {
namespace {

TEST(ProgressTest, FormsShortenByDroppingTheRateThenTheTimeLeft) {
  // 42 of 100 MB in 10 s: 4.2 MB/s, 58 MB still to go take 13.8 s.
  EXPECT_EQ(ProgressForms(42'000'000, 100'000'000, 10),
            (std::vector<std::string>{" 42% 4.2 MB/s, 0:00:14 left",
                                      " 42% 0:00:14 left", " 42%"}));
  EXPECT_EQ(ProgressText(42'000'000, 100'000'000, 10),
            " 42% 4.2 MB/s, 0:00:14 left");
  // Before any time has passed there is no rate to tell.
  EXPECT_EQ(ProgressForms(0, 100, 0), std::vector<std::string>{"  0%"});
  EXPECT_EQ(ProgressForms(0, 0, 1), std::vector<std::string>{"100%"});
}

TEST(ProgressTest, PlacedWhereItFitsAndNeverInTheLastColumn) {
  using P = ProgressPlace;
  const std::vector<std::string> forms = {"12345678", "1234", "1"};
  struct Case {
    int width;
    int64_t column;  // negative: standard output goes elsewhere
    ProgressPlace place;
  };
  const Case cases[] = {
      // A line of its own: the longest form that leaves the last column.
      {9, -1, {P::kOwnLine, "12345678"}},
      {8, -1, {P::kOwnLine, "1234"}},
      {2, -1, {P::kOwnLine, "1"}},
      {1, -1, {}},
      // A width that cannot be told is taken as 80.
      {0, -1, {P::kOwnLine, "12345678"}},
      // After standard output's text: "  [" form "]".
      {20, 0, {P::kAfterOutput, "  [12345678]"}},
      {20, 8, {P::kAfterOutput, "  [12345678]"}},
      // One column short: the whole text goes below rather than shortened.
      {20, 9, {P::kBelowOutput, "[12345678]"}},
      {20, 18, {P::kBelowOutput, "[12345678]"}},
      // A line of standard output that wrapped counts from its last row.
      {20, 48, {P::kAfterOutput, "  [12345678]"}},
      {20, 49, {P::kBelowOutput, "[12345678]"}},
      // Output that filled its row to the last column waits to wrap.
      {20, 40, {}},
      // Narrow terminals: shorter forms, below when they must be.
      {10, 0, {P::kAfterOutput, "  [1234]"}},
      {10, 3, {P::kBelowOutput, "[1234]"}},
      {8, 3, {P::kBelowOutput, "[1234]"}},
      {4, 2, {P::kBelowOutput, "[1]"}},
      {3, 1, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PlaceProgress(forms, c.width, c.column), c.place)
        << "width " << c.width << ", column " << c.column;
  }
}

}  // namespace
}  // namespace takeloom

#include "inputs/lists.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>
#include <vector>

namespace takeloom {
namespace {

using Names = std::vector<std::string>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Names BaseList(std::string_view bytes) {
  Names names;
  EXPECT_TRUE(ParseBaseList(bytes, &names).ok());
  return names;
}

TEST(BaseListTest, KeepsEveryNonEmptyLineExactly) {
  EXPECT_EQ(BaseList("\nSong1\n\n\nSong2"), (Names{"Song1", "Song2"}));
  EXPECT_EQ(BaseList("my kick \nsnare\r\n"), (Names{"my kick ", "snare"}));
  EXPECT_EQ(BaseList(""), Names{});
  EXPECT_EQ(BaseList("\n\n"), Names{});
  Names names;
  std::vector<size_t> lines;
  ASSERT_TRUE(ParseBaseList("\nSong1\r\n\n\nSong2", &names, &lines).ok());
  EXPECT_EQ(lines, (std::vector<size_t>{2, 5}));
  const std::string_view zero("kick\n\0snare\n", 12);
  EXPECT_EQ(ParseBaseList(zero, &names).fault, Fault::kNotPlainText);
  // No fixed limits on a name's length or the number of names.
  const std::string long_name(5000, 'k');
  std::string many;
  for (int i = 0; i < 3000; ++i) many += long_name + "\n";
  const Names parsed = BaseList(many);
  ASSERT_EQ(parsed.size(), 3000u);
  EXPECT_EQ(parsed.back(), long_name);
}

struct EditCase {
  const char* name;
  std::string text;
  std::vector<float> times;
  Names takes;
  std::vector<int64_t> positions = {};
  size_t first_mixed = 0;
  std::vector<size_t> lines = {};  // each time's line, when given
};

TEST(EditListTest, ParsesRecordsOfTimeAndTakeName) {
  const EditCase cases[] = {
      {"plain", "0\tA\n12.5\tB\n30\tA\n", {0, 12.5f, 30}, {"A", "B", "A"},
       {}, 0, {1, 2, 3}},
      {"space in name", "12.5\ttake 2\n", {12.5f}, {"take 2"}},
      {"only first tab separates", "12.5\tB\tx\n", {12.5f}, {"B\tx"}},
      {"two tabs", "12.5\t\tB\n", {12.5f}, {"\tB"}},
      {"name on next line", "12.5\n\nB\n4\tC\n", {12.5f, 4}, {"B", "C"},
       {}, 0, {1, 4}},
      {"space instead of tab", "12.5 B\nC\n", {kNaN}, {"C"}},
      {"leading tabs and empty lines", "\n\t\t\n1\tA", {1}, {"A"}, {}, 0, {3}},
      {"decimal comma", "1,5\tA\n", {kNaN}, {"A"}},
      {"no number", "x\tA\n", {kNaN}, {"A"}},
      {"CRLF and byte-order mark", "\xEF\xBB\xBF" "2\tA\r\n3\tB\r\n", {2, 3},
       {"A", "B"}, {}, 0, {1, 2}},
      {"empty", "", {}, {}},
      {"sample positions", "0s\tA\n427200s\tB\n 9000000000000000000s \tA\n",
       {kNaN, kNaN, kNaN}, {"A", "B", "A"}, {0, 427200, 9000000000000000000}},
      // Edits that read as neither kind are left to the time checks.
      {"a time among sample positions", "x\tA\n0s\tB\n1.5\tA\n2s\tB\n",
       {kNaN, kNaN, 1.5f, kNaN}, {"A", "B", "A", "B"}, {-1, 0, -1, 2}, 3},
      {"a sample position among times", "0.5\tA\n12.5s\tB\n9s\tA\n",
       {0.5f, kNaN, kNaN}, {"A", "B", "A"}, {-1, -1, 9}, 3},
      // A time of 0 is frame 0 at every rate.
      {"sample positions after a time of 0", "0\tA\n0:00\tB\n5s\tA\n",
       {0, 0, kNaN}, {"A", "B", "A"}, {0, 0, 5}},
  };
  for (const EditCase& c : cases) {
    EditList list;
    ASSERT_TRUE(ParseEditList(c.text, &list).ok()) << c.name;
    // Compared bit for bit, so that NaN, a time that is no number, matches.
    ASSERT_EQ(list.times.size(), c.times.size()) << c.name;
    for (size_t k = 0; k < c.times.size(); ++k) {
      EXPECT_EQ(std::bit_cast<uint32_t>(list.times[k]),
                std::bit_cast<uint32_t>(c.times[k]))
          << c.name << " " << k;
    }
    EXPECT_EQ(list.takes, c.takes) << c.name;
    EXPECT_EQ(list.positions, c.positions) << c.name;
    EXPECT_EQ(list.first_mixed, c.first_mixed) << c.name;
    if (c.lines.empty()) continue;
    std::vector<size_t> lines;
    for (const ListLine& line : list.lines) lines.push_back(line.number);
    EXPECT_EQ(lines, c.lines) << c.name;
  }
  // A detail quotes the record's whole line as an editor shows it.
  EditList list;
  ASSERT_TRUE(ParseEditList("0\tA\r\n\r\n3\tB \r\n", &list).ok());
  EXPECT_EQ(EditPlace(list, 1), "points.txt line 3 reads \"3\\tB \"");
}

TEST(EditListTest, RefusesATimeWithoutTakeNameAndAZeroByte) {
  const std::string none = ": no take name follows the time";
  const std::string spaces =
      ": a tab is expected between the time and the take name";
  const std::pair<std::string, std::string> cases[] = {
      {"0\tA\n5", "points.txt line 2 reads \"5\"" + none},
      {"0\tA\n5\t", "points.txt line 2 reads \"5\\t\"" + none},
      {"0\tA\n\n5\n\n", "points.txt line 3 reads \"5\"" + none},
      // Written with spaces, every two lines make one record.
      {"0 A\n5 B\n9 A\n", "points.txt line 3 reads \"9 A\"" + spaces},
  };
  for (const auto& [text, detail] : cases) {
    EditList list;
    const Error err = ParseEditList(text, &list);
    EXPECT_EQ(err.fault, Fault::kNoTakeName) << text;
    EXPECT_EQ(err.number, 2) << text;
    EXPECT_EQ(err.detail, detail) << text;
  }
  EditList list;
  const std::string_view zero("1\tA\n\0 2\tB\n", 11);
  EXPECT_EQ(ParseEditList(zero, &list).fault, Fault::kNotPlainText);
}

}  // namespace
}  // namespace takeloom

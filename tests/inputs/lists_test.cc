#include "inputs/lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace takeloom {
namespace {

using Names = std::vector<std::string>;

TEST(BaseListTest, KeepsEveryNonEmptyLineExactly) {
  EXPECT_EQ(ParseBaseList("\nSong1\n\n\nSong2"), (Names{"Song1", "Song2"}));
  EXPECT_EQ(ParseBaseList("my kick \nsnare\r\n"), (Names{"my kick ", "snare\r"}));
  EXPECT_EQ(ParseBaseList(""), Names{});
  EXPECT_EQ(ParseBaseList("\n\n"), Names{});
  EXPECT_EQ(ParseBaseList(std::string_view("kick\n\0snare\n", 12)),
            Names{"kick"});
  // No fixed limits on a name's length or the number of names.
  const std::string long_name(5000, 'k');
  std::string many;
  for (int i = 0; i < 3000; ++i) many += long_name + "\n";
  const Names parsed = ParseBaseList(many);
  ASSERT_EQ(parsed.size(), 3000u);
  EXPECT_EQ(parsed.back(), long_name);
}

struct EditCase {
  const char* name;
  std::string text;
  std::vector<float> times;
  Names takes;
};

TEST(EditListTest, ParsesRecordsOfTimeAndTakeName) {
  const EditCase cases[] = {
      {"plain", "0\tA\n12.5\tB\n30\tA\n", {0, 12.5f, 30}, {"A", "B", "A"}},
      {"space in name", "12.5\ttake 2\n", {12.5f}, {"take 2"}},
      {"only first tab separates", "12.5\tB\tx\n", {12.5f}, {"B\tx"}},
      {"two tabs", "12.5\t\tB\n", {12.5f}, {"\tB"}},
      {"name on next line", "12.5\n\nB\n", {12.5f}, {"B"}},
      {"space instead of tab", "12.5 B\nC\n", {12.5f}, {"C"}},
      {"leading tabs and empty lines", "\n\t\t\n1\tA", {1}, {"A"}},
      {"comma stops the number", "1,5\tA\n", {1}, {"A"}},
      {"no number", "x\tA\n", {0}, {"A"}},
      {"empty", "", {}, {}},
      {"zero byte ends the text", std::string("1\tA\n\0 2\tB\n", 11), {1}, {"A"}},
  };
  for (const EditCase& c : cases) {
    EditList list;
    std::string err;
    ASSERT_TRUE(ParseEditList(c.text, &list, &err)) << c.name << ": " << err;
    EXPECT_EQ(list.times, c.times) << c.name;
    EXPECT_EQ(list.takes, c.takes) << c.name;
  }
}

TEST(EditListTest, RefusesATimeWithoutTakeName) {
  for (const char* text : {"0\tA\n5", "0\tA\n5\t", "0\tA\n5\n\n"}) {
    EditList list;
    std::string err;
    EXPECT_FALSE(ParseEditList(text, &list, &err)) << text;
    EXPECT_EQ(err, ">> Edit 2 has no take name, exiting\n") << text;
  }
}

}  // namespace
}  // namespace takeloom

#include "inputs/tokenizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace takeloom {
namespace {

std::vector<std::string> AllTokens(std::string_view text,
                                   std::string_view delimiters) {
  Tokenizer tokens(text);
  std::vector<std::string> out;
  while (auto token = tokens.Next(delimiters)) out.emplace_back(*token);
  return out;
}

TEST(TokenizerTest, SkipsRunsOfDelimitersAndConsumesTheOneEndingAToken) {
  using V = std::vector<std::string>;
  EXPECT_EQ(AllTokens("\n\nSong1\n\n\nSong2", "\n"), (V{"Song1", "Song2"}));
  EXPECT_EQ(AllTokens("a \t\r\n", "\n"), (V{"a \t\r"}));
  EXPECT_EQ(AllTokens("\n\n\n", "\n"), V{});
  EXPECT_EQ(AllTokens("", "\n"), V{});

  // The delimiter set may change between tokens: after the tab that ended
  // the time is consumed, a second tab is part of the next token.
  Tokenizer tokens("12.5\t\tB\n");
  EXPECT_EQ(tokens.Next("\t\n"), "12.5");
  EXPECT_EQ(tokens.Next("\n"), "\tB");
  EXPECT_EQ(tokens.Next("\t\n"), std::nullopt);
}

TEST(TokenizerTest, TextEndsAtTheFirstZeroByte) {
  EXPECT_EQ(TextBeforeZero(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(TextBeforeZero("abc"), "abc");
}

TEST(TokenizerTest, ReadsNumbersByTheCLibraryRules) {
  struct Case { const char* text; float expected; };
  const Case cases[] = {
      {"12.5", 12.5f}, {"1,5", 1.0f}, {"x", 0.0f}, {"1e1", 10.0f},
      {" -2", -2.0f},  {"0x10", 16.0f}, {"200ms", 200.0f},
      {"0.1", 0.100000001490116119384765625f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadFloat(c.text), c.expected) << c.text;
  }
  EXPECT_TRUE(std::isinf(ReadFloat("inf")));
  EXPECT_TRUE(std::isnan(ReadFloat("nan")));

  EXPECT_EQ(ReadInt32("3"), 3);
  EXPECT_EQ(ReadInt32("1)"), 1);
  EXPECT_EQ(ReadInt32("x"), 0);
  EXPECT_EQ(ReadInt32("-4"), -4);
  EXPECT_EQ(ReadInt32("2.9"), 2);
  // Narrowed to 32 bits: 2^32 + 5 keeps its low bits.
  EXPECT_EQ(ReadInt32("4294967301"), 5);
}

}  // namespace
}  // namespace takeloom

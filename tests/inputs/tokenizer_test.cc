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

TEST(TokenizerTest, TellsTheLineEachTokenStartsOn) {
  struct Seen {
    std::string token;
    size_t line;
    std::string text;
    bool operator==(const Seen&) const = default;
  };
  // Empty lines count, as an editor numbers them; a token's line is where
  // it starts, and the last line needs no line feed.
  Tokenizer tokens("\n\na\tb\n\n\nc d\n\t\te");
  std::vector<Seen> seen;
  while (const auto token = tokens.Next("\t\n")) {
    seen.push_back({std::string(*token), tokens.line(),
                    std::string(tokens.line_text())});
  }
  EXPECT_EQ(seen, (std::vector<Seen>{{"a", 3, "a\tb"},
                                     {"b", 3, "a\tb"},
                                     {"c d", 6, "c d"},
                                     {"e", 7, "\t\te"}}));
}

TEST(TokenizerTest, ListTextReadsListsSavedOnAnySystem) {
  struct Case { const char* name; std::string_view bytes; std::string_view text; };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"CRLF lines", "kick\r\nsnare\r\n", "kick\nsnare\n"},
      {"CR at the end", "kick\r", "kick"},
      {"inner CR stays", "ki\rck\n", "ki\rck\n"},
      {"two CRs, one ends the line", "kick\r\r\n", "kick\r\n"},
      {"byte-order mark", "\xEF\xBB\xBF" "0\t_t1\r\n", "0\t_t1\n"},
      {"mark only at the start", "a\xEF\xBB\xBF", "a\xEF\xBB\xBF"},
      {"UTF-16 LE with CRLF", "\xFF\xFEk\0\r\0\n\0\xE9\0\r\0"sv, "k\n\xC3\xA9"},
      // U+20AC, then U+1F3B5 as the surrogate pair D83C DFB5.
      {"UTF-16 BE", "\xFE\xFF\x20\xAC\xD8\x3C\xDF\xB5"sv,
       "\xE2\x82\xAC\xF0\x9F\x8E\xB5"},
      {"UTF-16 marks: the second is text", "\xFF\xFE\xFF\xFE"sv,
       "\xEF\xBB\xBF"},
      // Refused, with the detail in place of the text.
      {"zero byte", "ab\0cd"sv, "l.txt holds a zero byte at byte 2"},
      {"UTF-16 zero", "\xFF\xFEk\0\0\0"sv,
       "l.txt holds a zero character at byte 4"},
      {"UTF-16 odd length", "\xFE\xFF\0k\0"sv,
       "l.txt is not valid UTF-16 (an odd number of bytes)"},
      {"high surrogate alone", "\xFF\xFE\x3C\xD8k\0"sv,
       "l.txt is not valid UTF-16 (an unpaired surrogate at byte 2)"},
      {"high surrogate at the end", "\xFF\xFEk\0\x3C\xD8"sv,
       "l.txt is not valid UTF-16 (an unpaired surrogate at byte 4)"},
      {"low surrogate first", "\xFE\xFF\xDF\xB5\xDF\xB5"sv,
       "l.txt is not valid UTF-16 (an unpaired surrogate at byte 2)"},
  };
  for (const Case& c : cases) {
    std::string text;
    const Error err = ListText(c.bytes, "l.txt", &text);
    EXPECT_EQ(err.ok() ? text : err.detail, c.text) << c.name;
    EXPECT_EQ(err.fault, err.ok() ? Fault::kNone : Fault::kNotPlainText)
        << c.name;
  }
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
  // A time must be a number or a clock time as a whole; anything else is
  // no time, which the driver refuses.
  for (const char* time : {"12.5", " 12.5 ", "1e1", "-2", "0x10", "0.1 \t"}) {
    EXPECT_EQ(ReadTime(time), ReadFloat(time)) << time;
  }
  const Case clock[] = {
      {"0:00", 0.0f}, {"0:04.25", 4.25f}, {"0:07.5", 7.5f}, {"0:12", 12.0f},
      {"1:00:00.5", 3600.5f}, {"10:00", 600.0f}, {" 00:59.9 \r", 59.9f},
      // Summed in double, then rounded once (in float this is 0x1.e86a8p+5).
      {"1:01.052", 0x1.e86a7ep+5f},
  };
  for (const Case& c : clock) EXPECT_EQ(ReadTime(c.text), c.expected) << c.text;
  for (const char* time : {"1,5", "12.5s", "x", " ", "12.5 B", "5-", "1:75",
                           "1:2:3:4", "1:5", "-0:05", "1:30:", "+0:05", ":05",
                           "0:05.", "1:60:00", "0: 05", "1:05s", "0x1:00"}) {
    EXPECT_EQ(ReadTime(time), std::nullopt) << time;
  }
  EXPECT_TRUE(std::isinf(*ReadTime(std::string(400, '9') + ":00")));
  // Sample positions: a whole number and "s", as sox counts samples.
  EXPECT_EQ(ReadSamplePosition(" 427200s\r"), 427200);
  EXPECT_EQ(ReadSamplePosition("9223372036854775807s"), INT64_MAX);
  for (const char* time : {"12.5s", "-3s", "+3s", "3", "s", "3 s", "0x10s",
                           "3ss", "9223372036854775808s"}) {
    EXPECT_EQ(ReadSamplePosition(time), std::nullopt) << time;
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

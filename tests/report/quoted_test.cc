#include "report/quoted.h"

#include <gtest/gtest.h>

namespace takeloom {
namespace {

TEST(QuotedTest, ShowsWhatAReaderCouldNotSee) {
  using namespace std::string_view_literals;
  struct Case { std::string_view text; std::string_view quoted; };
  const Case cases[] = {
      {"kick", "\"kick\""},
      // A spreadsheet's trailing tab, a trailing space, a carriage return.
      {"kickA\t.wav", "\"kickA\\t.wav\""},
      {"kick ", "\"kick \""},
      {"a\r\nb", "\"a\\r\\nb\""},
      {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
      {"a\0b\x1B\x7F"sv, "\"a\\x00b\\x1B\\x7F\""},
      // Accents stay; bytes that are no UTF-8 and invisible blanks do not.
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"caf\xE9", "\"caf\\xE9\""},
      {"\xC0\xAF", "\"\\xC0\\xAF\""},              // overlong
      {"\xED\xA0\x80", "\"\\xED\\xA0\\x80\""},    // a surrogate
      {"a\xC2\xA0" "b", "\"a\\u00A0b\""},
      {"\xEF\xBB\xBFkick", "\"\\uFEFFkick\""},
      {"\xC2\x85", "\"\\u0085\""},
  };
  for (const Case& c : cases) EXPECT_EQ(Quoted(c.text), c.quoted) << c.quoted;
}

}  // namespace
}  // namespace takeloom

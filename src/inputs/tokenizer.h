// Tokens and numbers of the tool's text files: tokens are cut the way the C
// library's strtok cuts them, numbers read the way strtod and strtol read
// them, always with the point as decimal separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error.h"

namespace takeloom {

// The text of a list file as its lines mean it, whichever system saved it,
// into `text`: a file that begins with a UTF-16 byte-order mark (FF FE little-
// endian, FE FF big-endian) decoded to UTF-8; then without a leading UTF-8
// byte-order mark, and with a carriage return that ends a line (before a line
// feed or at the end) counted as part of the line ending rather than of a
// name or a number. kNotPlainText, with `file` and a detail, when the bytes
// hold a zero byte (a U+0000 in UTF-16) or are no valid UTF-16 after its mark
// (an odd number of bytes, an unpaired surrogate); a zero would otherwise end
// the list early without a word. Byte offsets in details count from 0.
Error ListText(std::string_view bytes, std::string_view file,
               std::string* text);

// Cuts tokens from `text`. Each call may use another delimiter set: leading
// delimiters are skipped, and the delimiter that ends a token is consumed.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  // The next token, or nullopt when only delimiters remain.
  std::optional<std::string_view> Next(std::string_view delimiters);

  // Where the last token returned starts, for messages that point at it:
  // its line as an editor numbers it (from 1, every line feed before it
  // counted, empty lines too), and that whole line without its line feed.
  size_t line() const { return line_; }
  std::string_view line_text() const;

 private:
  // Counts the line feeds up to `end`, each once however far tokens lie
  // apart, so that a list is scanned once whatever its length.
  void CountLinesTo(size_t end);

  std::string_view text_;
  size_t pos_ = 0;
  size_t counted_ = 0;     // line feeds before this offset are counted
  size_t line_ = 1;
  size_t line_start_ = 0;  // where line `line_` starts
};

// The leading number of `token` by strtod's rules (0 when there is none),
// rounded to the nearest 32-bit float.
float ReadFloat(std::string_view token);

// A time token, with white space before and after allowed: a number read as
// a whole by strtod's rules ("12.5", "1e1", "-2", also "inf" and "nan"), or
// a clock time m:ss, m:ss.fff, h:mm:ss or h:mm:ss.fff (digits only, ss and mm
// two digits below 60, m and h and the fraction one digit or more), computed
// in double precision; either rounded to the nearest 32-bit float. nullopt
// when the token is neither ("1,5", "12.5s", "1:5", "x").
std::optional<float> ReadTime(std::string_view token);

// A sample position token, with white space before and after allowed: a
// whole number of decimal digits followed by "s", as sox writes a count of
// samples ("427200s"). nullopt for anything else ("12.5s", "-3s") and for
// a number beyond 63 bits.
std::optional<int64_t> ReadSamplePosition(std::string_view token);

// The leading base-10 integer of `token` by strtol's rules (0 when there is
// none), narrowed to 32 bits.
int32_t ReadInt32(std::string_view token);

}  // namespace takeloom

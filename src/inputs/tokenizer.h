// Tokens and numbers of the tool's text files: tokens are cut the way the C
// library's strtok cuts them, numbers read the way strtod and strtol read
// them, always with the point as decimal separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace takeloom {

// A file's text ends at its first zero byte.
std::string_view TextBeforeZero(std::string_view bytes);

// Cuts tokens from `text`. Each call may use another delimiter set: leading
// delimiters are skipped, and the delimiter that ends a token is consumed.
class Tokenizer {
 public:
  explicit Tokenizer(std::string_view text) : text_(text) {}

  // The next token, or nullopt when only delimiters remain.
  std::optional<std::string_view> Next(std::string_view delimiters);

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// The leading number of `token` by strtod's rules (0 when there is none),
// rounded to the nearest 32-bit float.
float ReadFloat(std::string_view token);

// The leading base-10 integer of `token` by strtol's rules (0 when there is
// none), narrowed to 32 bits.
int32_t ReadInt32(std::string_view token);

}  // namespace takeloom

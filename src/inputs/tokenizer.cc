#include "inputs/tokenizer.h"

#include <cstdlib>
#include <string>

namespace takeloom {

std::string_view TextBeforeZero(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

std::optional<std::string_view> Tokenizer::Next(std::string_view delimiters) {
  const size_t start = text_.find_first_not_of(delimiters, pos_);
  if (start == std::string_view::npos) {
    pos_ = text_.size();
    return std::nullopt;
  }
  const size_t end = text_.find_first_of(delimiters, start);
  if (end == std::string_view::npos) {
    pos_ = text_.size();
    return text_.substr(start);
  }
  pos_ = end + 1;
  return text_.substr(start, end - start);
}

// The C conversions need a terminated string; tokens are views into the
// file's text, so each is copied first.
float ReadFloat(std::string_view token) {
  const std::string terminated(token);
  return static_cast<float>(std::strtod(terminated.c_str(), nullptr));
}

int32_t ReadInt32(std::string_view token) {
  const std::string terminated(token);
  return static_cast<int32_t>(std::strtol(terminated.c_str(), nullptr, 10));
}

}  // namespace takeloom

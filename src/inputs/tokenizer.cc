#include "inputs/tokenizer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <string>

namespace takeloom {
namespace {

std::string_view TextBeforeZero(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

}  // namespace

std::string ListText(std::string_view bytes) {
  std::string_view text = TextBeforeZero(bytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const bool ends_line = i + 1 == text.size() || text[i + 1] == '\n';
    if (text[i] == '\r' && ends_line) continue;
    out += text[i];
  }
  return out;
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

float ReadTime(std::string_view token) {
  const std::string terminated(token);
  const char* begin = terminated.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  const std::string_view rest(end);
  const bool rest_blank = std::all_of(rest.begin(), rest.end(), [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  });
  if (end == begin || !rest_blank) return std::numeric_limits<float>::quiet_NaN();
  return static_cast<float>(value);
}

int32_t ReadInt32(std::string_view token) {
  const std::string terminated(token);
  return static_cast<int32_t>(std::strtol(terminated.c_str(), nullptr, 10));
}

}  // namespace takeloom

#include "inputs/tokenizer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

namespace takeloom {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

Error NotPlainText(std::string_view file, const std::string& what) {
  const std::string name(file);
  return {Fault::kNotPlainText, name, 0, name + " " + what};
}

void AppendUtf8(char32_t c, std::string* out) {
  const auto put = [out](uint32_t byte) { *out += static_cast<char>(byte); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | c >> 6);
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | c >> 12);
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | c >> 18);
    put(0x80 | (c >> 12 & 0x3F));
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

// UTF-16 to UTF-8, the mark included: it becomes the UTF-8 mark, which the
// common rules then drop, so a list reads alike in either encoding.
Error DecodeUtf16(std::string_view bytes, bool big_endian,
                  std::string_view file, std::string* out) {
  if (bytes.size() % 2 != 0) {
    return NotPlainText(file, "is not valid UTF-16 (an odd number of bytes)");
  }
  const auto unit = [bytes, big_endian](size_t at) -> char32_t {
    const auto high =
        static_cast<unsigned char>(bytes[big_endian ? at : at + 1]);
    const auto low =
        static_cast<unsigned char>(bytes[big_endian ? at + 1 : at]);
    return char32_t{high} << 8 | low;
  };
  const auto is_low = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  out->clear();
  // Mostly ASCII: half the bytes; other text grows the string as it goes.
  out->reserve(bytes.size() / 2);
  for (size_t at = 0; at < bytes.size(); at += 2) {
    char32_t c = unit(at);
    if (c == 0) {
      return NotPlainText(
          file, "holds a zero character at byte " + std::to_string(at));
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (is_low(c) || at + 2 == bytes.size() || !is_low(unit(at + 2))) {
        const std::string where = "byte " + std::to_string(at);
        return NotPlainText(
            file,
            "is not valid UTF-16 (an unpaired surrogate at " + where + ")");
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    }
    AppendUtf8(c, out);
  }
  return {};
}

// Drops a leading UTF-8 mark and every carriage return that ends a line,
// moving the rest down in place.
void DropMarkAndLineEndReturns(std::string* text) {
  std::string& s = *text;
  size_t kept = 0;
  for (size_t i = s.starts_with(kUtf8Mark) ? kUtf8Mark.size() : 0; i < s.size();
       ++i) {
    const bool ends_line = i + 1 == s.size() || s[i + 1] == '\n';
    if (s[i] == '\r' && ends_line) continue;
    s[kept++] = s[i];
  }
  s.resize(kept);
}

bool AllDigits(std::string_view field) {
  return !field.empty() && std::all_of(field.begin(), field.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

// The ss or mm field of a clock time: exactly two digits, below 60.
bool TwoDigitsBelowSixty(std::string_view field) {
  return field.size() == 2 && AllDigits(field) && field[0] < '6';
}

// The decimal number that `field` starts with. The field lies in a
// terminated string and is followed by a byte that ends the number (a colon,
// white space or the end), so strtod stops where the field does; it also
// gives an overflow as infinity, which is then refused as not finite.
double FieldValue(std::string_view field) {
  return std::strtod(field.data(), nullptr);
}

// m:ss, m:ss.fff, h:mm:ss or h:mm:ss.fff, white space around it allowed.
std::optional<float> ReadClockTime(const std::string& terminated) {
  const auto is_space = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  };
  std::string_view time(terminated);
  while (!time.empty() && is_space(time.front())) time.remove_prefix(1);
  while (!time.empty() && is_space(time.back())) time.remove_suffix(1);

  const size_t last_colon = time.rfind(':');
  const std::string_view seconds = time.substr(last_colon + 1);
  const size_t point = seconds.find('.');
  if (!TwoDigitsBelowSixty(seconds.substr(0, point))) return std::nullopt;
  if (point != std::string_view::npos &&
      !AllDigits(seconds.substr(point + 1))) {
    return std::nullopt;
  }
  std::string_view minutes = time.substr(0, last_colon);
  double hours = 0;
  if (const size_t colon = minutes.find(':'); colon != std::string_view::npos) {
    const std::string_view hour_field = minutes.substr(0, colon);
    minutes.remove_prefix(colon + 1);
    if (!AllDigits(hour_field) || !TwoDigitsBelowSixty(minutes)) {
      return std::nullopt;
    }
    hours = FieldValue(hour_field);
  }
  if (!AllDigits(minutes)) return std::nullopt;
  const double value =
      hours * 3600 + FieldValue(minutes) * 60 + FieldValue(seconds);
  return static_cast<float>(value);
}

}  // namespace

Error ListText(std::string_view bytes, std::string_view file,
               std::string* text) {
  const bool little_endian = bytes.starts_with("\xFF\xFE");
  if (little_endian || bytes.starts_with("\xFE\xFF")) {
    const Error err = DecodeUtf16(bytes, !little_endian, file, text);
    if (!err.ok()) return err;
  } else if (const size_t zero = bytes.find('\0');
             zero != std::string_view::npos) {
    return NotPlainText(file,
                        "holds a zero byte at byte " + std::to_string(zero));
  } else {
    text->assign(bytes);
  }
  DropMarkAndLineEndReturns(text);
  return {};
}

std::optional<std::string_view> Tokenizer::Next(std::string_view delimiters) {
  const size_t start = text_.find_first_not_of(delimiters, pos_);
  if (start == std::string_view::npos) {
    pos_ = text_.size();
    return std::nullopt;
  }
  CountLinesTo(start);
  const size_t end = text_.find_first_of(delimiters, start);
  if (end == std::string_view::npos) {
    pos_ = text_.size();
    return text_.substr(start);
  }
  pos_ = end + 1;
  return text_.substr(start, end - start);
}

std::string_view Tokenizer::line_text() const {
  const size_t end = text_.find('\n', line_start_);
  return text_.substr(line_start_, end == std::string_view::npos
                                       ? std::string_view::npos
                                       : end - line_start_);
}

void Tokenizer::CountLinesTo(size_t end) {
  for (; counted_ < end; ++counted_) {
    if (text_[counted_] == '\n') {
      ++line_;
      line_start_ = counted_ + 1;
    }
  }
}

// The C conversions need a terminated string; tokens are views into the
// file's text, so each is copied first.
float ReadFloat(std::string_view token) {
  const std::string terminated(token);
  return static_cast<float>(std::strtod(terminated.c_str(), nullptr));
}

std::optional<float> ReadTime(std::string_view token) {
  const std::string terminated(token);
  if (token.find(':') != std::string_view::npos) {
    return ReadClockTime(terminated);
  }
  const char* begin = terminated.c_str();
  char* end = nullptr;
  const double value = std::strtod(begin, &end);
  const std::string_view rest(end);
  const bool rest_blank = std::all_of(rest.begin(), rest.end(), [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  });
  if (end == begin || !rest_blank) return std::nullopt;
  return static_cast<float>(value);
}

std::optional<int64_t> ReadSamplePosition(std::string_view token) {
  const auto is_space = [](char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
  };
  while (!token.empty() && is_space(token.front())) token.remove_prefix(1);
  while (!token.empty() && is_space(token.back())) token.remove_suffix(1);
  if (!token.ends_with('s')) return std::nullopt;
  token.remove_suffix(1);
  if (!AllDigits(token)) return std::nullopt;
  int64_t position = 0;
  const auto [end, error] =
      std::from_chars(token.data(), token.data() + token.size(), position);
  if (error != std::errc() || end != token.data() + token.size()) {
    return std::nullopt;
  }
  return position;
}

int32_t ReadInt32(std::string_view token) {
  const std::string terminated(token);
  return static_cast<int32_t>(std::strtol(terminated.c_str(), nullptr, 10));
}

}  // namespace takeloom

#include "report/quoted.h"

#include <cstdint>
#include <cstdio>

namespace takeloom {
namespace {

// Characters that a terminal shows as nothing or as an ordinary space.
bool Invisible(char32_t c) {
  return (c >= 0x80 && c <= 0xA0) || c == 0xAD ||
         (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
         (c >= 0x205F && c <= 0x2064) || c == 0x3000 || c == 0xFEFF;
}

// The length of the valid UTF-8 sequence that starts `text` and its
// character, or 0 when the first byte begins none.
size_t Utf8Sequence(std::string_view text, char32_t* c) {
  const auto byte = [text](size_t i) {
    return static_cast<uint8_t>(text[i]);
  };
  const uint8_t lead = byte(0);
  // Below `least` a character would be written longer than it needs to be.
  struct Form { size_t length; uint8_t payload; char32_t least; };
  Form form{};
  if (lead >= 0xC2 && lead <= 0xDF) {
    form = {2, 0x1F, 0x80};
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    form = {3, 0x0F, 0x800};
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    form = {4, 0x07, 0x10000};
  } else {
    return 0;
  }
  const size_t length = form.length;
  char32_t value = lead & form.payload;
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(i) & 0x3F);
  }
  if (value < form.least || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *c = value;
  return length;
}

void AppendHex(const char* format, unsigned value, std::string* out) {
  char escape[16];  // room for any unsigned value
  std::snprintf(escape, sizeof escape, format, value);
  *out += escape;
}

}  // namespace

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte >= 0x80) {
      char32_t c = 0;
      const size_t length = Utf8Sequence(text.substr(i), &c);
      if (length == 0) {
        AppendHex("\\x%02X", byte, &out);
        ++i;
      } else {
        if (Invisible(c)) {
          AppendHex("\\u%04X", static_cast<unsigned>(c), &out);
        } else {
          out += text.substr(i, length);
        }
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          AppendHex("\\x%02X", byte, &out);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

}  // namespace takeloom

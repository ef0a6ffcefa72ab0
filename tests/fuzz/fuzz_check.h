// Invariant checks for the fuzz targets: a failed check prints what broke and
// aborts, so libFuzzer keeps the input as a reproducer.
#pragma once

#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition, ...)                                      \
  do {                                                                  \
    if (!(condition)) {                                                 \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n  ", __FILE__, \
                   __LINE__, #condition);                               \
      std::fprintf(stderr, __VA_ARGS__);                                \
      std::fprintf(stderr, "\n");                                       \
      std::abort();                                                     \
    }                                                                   \
  } while (0)

// The text of a list file as the readers must see it, written out byte by
// byte: after a UTF-16 mark, the bytes as the C library's iconv converts
// them to UTF-8; nothing when that fails or the text holds a zero byte;
// else a leading byte-order mark dropped, and a carriage return dropped where
// it ends a line (before a line feed or at the end of the text).
inline std::optional<std::string> ReferenceListText(std::string_view bytes) {
  std::string text(bytes);
  const bool le = bytes.starts_with("\xFF\xFE");
  if (le || bytes.starts_with("\xFE\xFF")) {
    // UTF-8 takes at most 3 bytes for every 2 bytes of UTF-16.
    std::string utf8(bytes.size() * 2, '\0');
    char* in = text.data();
    size_t in_left = text.size();
    char* out = utf8.data();
    size_t out_left = utf8.size();
    const iconv_t cd = iconv_open("UTF-8", le ? "UTF-16LE" : "UTF-16BE");
    const size_t converted = iconv(cd, &in, &in_left, &out, &out_left);
    iconv_close(cd);
    if (converted == static_cast<size_t>(-1)) return std::nullopt;
    utf8.resize(utf8.size() - out_left);
    text = utf8;
  }
  if (text.find('\0') != std::string::npos) return std::nullopt;
  if (text.size() >= 3 && text[0] == '\xEF' && text[1] == '\xBB' &&
      text[2] == '\xBF') {
    text.erase(0, 3);
  }
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) {
      continue;
    }
    out += text[i];
  }
  return out;
}

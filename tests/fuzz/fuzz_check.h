// Invariant checks for the fuzz targets: a failed check prints what broke and
// aborts, so libFuzzer keeps the input as a reproducer.
#pragma once

#include <cstdio>
#include <cstdlib>
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
// byte: up to the first zero byte, a leading byte-order mark dropped, and a
// carriage return dropped where it ends a line (before a line feed or at the
// end of the text).
inline std::string ReferenceListText(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    if (c == '\0') break;
    text += c;
  }
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

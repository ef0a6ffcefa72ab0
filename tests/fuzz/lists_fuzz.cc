// Fuzzes the readers of base.txt and points.txt: the same bytes are read as
// both lists, and every name must be exactly the bytes the file holds between
// its delimiters (line ends and encodings as any system saves them), as a
// plain byte-by-byte cutter finds them; a time is a number or a clock time
// only as a whole.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "inputs/lists.h"

namespace {

// The strtok rules written out byte by byte: skip delimiters, take bytes up
// to the next delimiter, consume that delimiter.
class ByteCutter {
 public:
  explicit ByteCutter(std::string_view text) : text_(text) {}

  std::optional<std::string> Next(bool tab_too) {
    const auto is_delimiter = [tab_too](char c) {
      return c == '\n' || (tab_too && c == '\t');
    };
    size_t i = pos_;
    while (i < text_.size() && is_delimiter(text_[i])) ++i;
    if (i == text_.size()) {
      pos_ = i;
      return std::nullopt;
    }
    size_t j = i;
    while (j < text_.size() && !is_delimiter(text_[j])) ++j;
    pos_ = j < text_.size() ? j + 1 : j;
    return std::string(text_.substr(i, j - i));
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// strtod over the whole token, or a clock time as a pattern; white space
// around it allowed; NaN otherwise.
float Time(const std::string& token) {
  if (token.find(':') != std::string::npos) {
    static const std::regex kClock(
        "[ \t\n\v\f\r]*(?:([0-9]+):([0-5][0-9])|([0-9]+)):"
        "([0-5][0-9](?:\\.[0-9]+)?)[ \t\n\v\f\r]*");
    std::smatch m;
    if (!std::regex_match(token, m, kClock)) return std::nanf("");
    const auto field = [&m](int i) {
      return m[i].matched ? std::strtod(m[i].str().c_str(), nullptr) : 0.0;
    };
    return static_cast<float>(field(1) * 3600 + (field(2) + field(3)) * 60 +
                              field(4));
  }
  char* end = nullptr;
  const double value = std::strtod(token.c_str(), &end);
  if (end == token.c_str()) return std::nanf("");
  for (const char* c = end; *c != '\0'; ++c) {
    if (*c != ' ' && (*c < '\t' || *c > '\r')) return std::nanf("");
  }
  return static_cast<float>(value);
}

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

void CheckBaseList(std::string_view bytes, const std::string& text) {
  std::vector<std::string> names;
  FUZZ_CHECK(takeloom::ParseBaseList(bytes, &names).ok(), "base list refused");
  // Every name is a maximal run of bytes between line feeds.
  std::vector<std::string> expected;
  std::string line;
  for (char c : text) {
    if (c != '\n') {
      line += c;
    } else if (!line.empty()) {
      expected.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) expected.push_back(line);

  FUZZ_CHECK(names.size() == expected.size(), "%zu names, expected %zu",
             names.size(), expected.size());
  for (size_t k = 0; k < names.size(); ++k) {
    FUZZ_CHECK(!names[k].empty(), "name %zu is empty", k);
    FUZZ_CHECK(names[k].find('\n') == std::string::npos, "LF in name %zu", k);
    FUZZ_CHECK(names[k].find('\0') == std::string::npos, "NUL in name %zu", k);
    FUZZ_CHECK(names[k] == expected[k], "name %zu differs", k);
  }
}

void CheckEditList(std::string_view bytes, const std::string& text) {
  takeloom::EditList list;
  const takeloom::Error err = takeloom::ParseEditList(bytes, &list);
  const bool ok = err.ok();

  takeloom::EditList expected;
  bool expected_ok = true;
  ByteCutter cutter(text);
  for (auto time = cutter.Next(true); time; time = cutter.Next(true)) {
    const auto take = cutter.Next(false);
    if (!take) {
      expected_ok = false;
      break;
    }
    expected.times.push_back(Time(*time));
    expected.takes.push_back(*take);
  }

  FUZZ_CHECK(ok == expected_ok, "parse result %d, expected %d", ok,
             expected_ok);
  FUZZ_CHECK(list.times.size() == list.takes.size(), "%zu times, %zu takes",
             list.times.size(), list.takes.size());
  if (!ok) {
    // The fault names the record that lacks its take, counted from 1.
    FUZZ_CHECK(err.fault == takeloom::Fault::kNoTakeName &&
                   err.number ==
                       static_cast<int64_t>(expected.times.size() + 1),
               "fault %d, edit %lld", static_cast<int>(err.fault),
               static_cast<long long>(err.number));
    return;
  }
  FUZZ_CHECK(list.takes.size() == expected.takes.size(),
             "%zu edits, expected %zu", list.takes.size(),
             expected.takes.size());
  for (size_t k = 0; k < list.takes.size(); ++k) {
    const std::string& take = list.takes[k];
    FUZZ_CHECK(!take.empty(), "take %zu is empty", k);
    FUZZ_CHECK(take.find('\n') == std::string::npos, "LF in take %zu", k);
    FUZZ_CHECK(take.find('\0') == std::string::npos, "NUL in take %zu", k);
    FUZZ_CHECK(take == expected.takes[k], "take %zu differs", k);
    // Bit patterns, so that a NaN time compares too.
    FUZZ_CHECK(Bits(list.times[k]) == Bits(expected.times[k]),
               "time %zu: %08x, expected %08x", k, Bits(list.times[k]),
               Bits(expected.times[k]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> text = ReferenceListText(bytes);
  if (!text) {
    std::vector<std::string> names;
    takeloom::EditList list;
    FUZZ_CHECK(takeloom::ParseBaseList(bytes, &names).fault ==
                       takeloom::Fault::kNotPlainText &&
                   takeloom::ParseEditList(bytes, &list).fault ==
                       takeloom::Fault::kNotPlainText,
               "not refused as no plain text");
    return 0;
  }
  CheckBaseList(bytes, *text);
  CheckEditList(bytes, *text);
  return 0;
}

// Fuzzes the reader of loomrc.txt. Its result is compared with a reading
// that cuts the whole text into tokens first and then walks the entries by
// index, and no stored track number may be below 1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "inputs/params.h"

namespace {

using takeloom::CrossfadeParams;
using takeloom::CrossfadeSetting;

std::vector<std::string> AllTokens(std::string_view text) {
  std::vector<std::string> tokens;
  std::string token;
  for (char c : text) {
    if (c == '\t' || c == '\n') {
      if (!token.empty()) tokens.push_back(token);
      token.clear();
    } else {
      token += c;
    }
  }
  if (!token.empty()) tokens.push_back(token);
  return tokens;
}

int32_t Int(const std::string& token) {
  return static_cast<int32_t>(std::strtol(token.c_str(), nullptr, 10));
}

float Float(const std::string& token) {
  return static_cast<float>(std::strtod(token.c_str(), nullptr));
}

bool ExpectedParams(std::string_view bytes, CrossfadeParams* params) {
  const std::optional<std::string> text = ReferenceListText(bytes);
  if (!text) return false;
  const std::vector<std::string> t = AllTokens(*text);
  for (size_t i = 0; i < t.size(); ++i) {
    // A key followed by a space is refused where an entry could begin.
    if (t[i].rfind("xf_all ", 0) == 0 || t[i].rfind("xf_tr ", 0) == 0) {
      return false;
    }
    if (t[i] == "xf_tr") {
      if (i + 3 >= t.size()) return false;
      const int32_t track = Int(t[i + 1]);
      if (track < 1) return false;
      params->tracks[track] = {Int(t[i + 3]), Float(t[i + 2])};
      i += 3;  // the type token is then tested as an xf_all key
    }
    if (t[i] == "xf_all") {
      if (i + 2 >= t.size()) return false;
      params->all = {Int(t[i + 2]), Float(t[i + 1])};
      i += 2;
    }
  }
  return true;
}

bool Same(const CrossfadeSetting& a, const CrossfadeSetting& b) {
  return a.type == b.type &&
         std::memcmp(&a.length_ms, &b.length_ms, sizeof(float)) == 0;
}

// Entries the text does not name must survive the reading.
CrossfadeParams Prefilled() {
  CrossfadeParams params;
  params.all = {2, 125.5f};
  params.tracks[3] = {4, 10.0f};
  return params;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CrossfadeParams params = Prefilled();
  const bool ok = takeloom::ParseParams(bytes, &params).ok();
  CrossfadeParams expected = Prefilled();
  const bool expected_ok = ExpectedParams(bytes, &expected);

  FUZZ_CHECK(ok == expected_ok, "result %d, expected %d", ok, expected_ok);
  for (const auto& [track, setting] : params.tracks) {
    FUZZ_CHECK(track >= 1, "track number %d stored", track);
  }
  FUZZ_CHECK(Same(params.all, expected.all), "xf_all %d %a, expected %d %a",
             params.all.type, static_cast<double>(params.all.length_ms),
             expected.all.type, static_cast<double>(expected.all.length_ms));
  FUZZ_CHECK(params.tracks.size() == expected.tracks.size(),
             "%zu tracks, expected %zu", params.tracks.size(),
             expected.tracks.size());
  for (const auto& [track, setting] : expected.tracks) {
    const auto found = params.tracks.find(track);
    FUZZ_CHECK(found != params.tracks.end(), "track %d missing", track);
    FUZZ_CHECK(Same(found->second, setting), "track %d: %d %a, expected %d %a",
               track, found->second.type,
               static_cast<double>(found->second.length_ms), setting.type,
               static_cast<double>(setting.length_ms));
  }
  return 0;
}

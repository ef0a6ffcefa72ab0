#include "inputs/params.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "inputs/text_file.h"
#include "inputs/tokenizer.h"

namespace takeloom {
namespace {

constexpr std::string_view kTabOrLineFeed = "\t\n";

bool WriteTemplate(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool written = std::fwrite(kParamsTemplate.data(), 1,
                                   kParamsTemplate.size(),
                                   file) == kParamsTemplate.size();
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  std::remove(path.c_str());
  return false;
}

}  // namespace

bool ParseParams(std::string_view text, CrossfadeParams* params) {
  const std::string lines = ListText(text);
  Tokenizer tokens(lines);
  auto token = tokens.Next(kTabOrLineFeed);
  while (token) {
    // An entry written with spaces is one token that is no key; passing it
    // over would silently turn every crossfade into a hard cut.
    if (token->starts_with("xf_all ") || token->starts_with("xf_tr ")) {
      return false;
    }
    // A key's values are whatever tokens follow it, keys included: a key
    // standing where a value is due reads as 0 and begins no entry.
    if (*token == "xf_tr") {
      const auto number = tokens.Next(kTabOrLineFeed);
      const auto length = tokens.Next(kTabOrLineFeed);
      const auto type = tokens.Next(kTabOrLineFeed);
      if (!type) return false;
      const int32_t track = ReadInt32(*number);
      if (track < 1) return false;
      params->tracks[track] = {ReadInt32(*type), ReadFloat(*length)};
      // The type token is tested as a key once more: an entry that lacks its
      // type hands the following xf_all key on.
      token = type;
    }
    if (*token == "xf_all") {
      const auto length = tokens.Next(kTabOrLineFeed);
      const auto type = tokens.Next(kTabOrLineFeed);
      if (!type) return false;
      params->all = {ReadInt32(*type), ReadFloat(*length)};
    }
    token = tokens.Next(kTabOrLineFeed);
  }
  return true;
}

RcResult Check_RC(CrossfadeParams* params) {
  const std::string path(kParamsFileName);
  std::string text;
  switch (ReadTextFile(path, &text)) {
    case TextFileResult::kOk:
      return ParseParams(text, params) ? RcResult::kRead
                                       : RcResult::kInvalidEntry;
    case TextFileResult::kCannotRead:
      return RcResult::kUnreadable;
    case TextFileResult::kCannotOpen:
      break;
  }
  // Never write the template over something that exists but cannot be
  // opened, a dangling link included.
  std::error_code ec;
  if (std::filesystem::symlink_status(path, ec).type() !=
      std::filesystem::file_type::not_found) {
    return RcResult::kUnreadable;
  }
  return WriteTemplate(path) ? RcResult::kTemplateWritten
                             : RcResult::kTemplateNotWritten;
}

}  // namespace takeloom

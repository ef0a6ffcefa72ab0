#include "inputs/params.h"

#include <optional>
#include <string>

#include "inputs/tokenizer.h"
#include "os/identity.h"
#include "os/whole_file.h"

namespace takeloom {
namespace {

constexpr std::string_view kTabOrLineFeed = "\t\n";

}  // namespace

Error ParseParams(std::string_view bytes, CrossfadeParams* params) {
  const Error invalid{Fault::kInvalidEntry, std::string(kParamsFileName)};
  std::string lines;
  if (const Error err = ListText(bytes, kParamsFileName, &lines); !err.ok()) {
    return err;
  }
  Tokenizer tokens(lines);
  auto token = tokens.Next(kTabOrLineFeed);
  while (token) {
    // An entry written with spaces is one token that is no key; passing it
    // over would silently turn every crossfade into a hard cut.
    if (token->starts_with("xf_all ") || token->starts_with("xf_tr ")) {
      return invalid;
    }
    // A key's values are whatever tokens follow it, keys included: a key
    // standing where a value is due reads as 0 and begins no entry.
    if (*token == "xf_tr") {
      const auto number = tokens.Next(kTabOrLineFeed);
      const auto length = tokens.Next(kTabOrLineFeed);
      const auto type = tokens.Next(kTabOrLineFeed);
      if (!type) return invalid;
      const int32_t track = ReadInt32(*number);
      if (track < 1) return invalid;
      params->tracks[track] = {ReadInt32(*type), ReadFloat(*length)};
      // The type token is tested as a key once more: an entry that lacks its
      // type hands the following xf_all key on.
      token = type;
    }
    if (*token == "xf_all") {
      const auto length = tokens.Next(kTabOrLineFeed);
      const auto type = tokens.Next(kTabOrLineFeed);
      if (!type) return invalid;
      params->all = {ReadInt32(*type), ReadFloat(*length)};
    }
    token = tokens.Next(kTabOrLineFeed);
  }
  return {};
}

Error Check_RC(CrossfadeParams* params, bool write_template) {
  const std::string path(kParamsFileName);
  std::string text;
  const Error err = ReadTextFile(path, &text);
  if (err.ok()) return ParseParams(text, params);
  if (err.fault != Fault::kCannotOpen) return err;
  // Never write the template over something that exists but cannot be
  // opened, a dangling link included.
  if (!LookUp(path).absent()) return {Fault::kCannotRead, path};
  if (write_template) {
    if (Error written = WriteNewFile(path, kParamsTemplate); !written.ok()) {
      return {Fault::kCannotWrite, path};
    }
  }
  return {};
}

}  // namespace takeloom

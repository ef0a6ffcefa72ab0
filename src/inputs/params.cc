#include "inputs/params.h"

#include <array>
#include <optional>
#include <string>

#include "inputs/tokenizer.h"
#include "os/identity.h"
#include "os/whole_file.h"
#include "report/quoted.h"

namespace takeloom {
namespace {

constexpr std::string_view kTabOrLineFeed = "\t\n";

// The entry from `key` to `last`, two tokens of one text.
ParamEntry EntryOf(size_t line, std::string_view key, std::string_view last) {
  return {line, std::string(key.data(), last.data() + last.size())};
}

// The values an entry of `count` values is missing, when the text ends
// after `read` of them.
std::string Missing(const char* const* names, size_t count, size_t read) {
  std::string missing;
  for (size_t i = read; i < count; ++i) {
    missing += i == read ? "" : i + 1 == count ? " and " : ", ";
    missing += names[i];
  }
  return missing;
}

}  // namespace

std::string EntryPlace(const ParamEntry& entry) {
  return std::string(kParamsFileName) + " line " + std::to_string(entry.line) +
         ", entry " + Quoted(entry.text);
}

Error ParseParams(std::string_view bytes, CrossfadeParams* params) {
  const auto invalid = [](const ParamEntry& entry, const std::string& why) {
    return Error{Fault::kInvalidEntry, std::string(kParamsFileName), 0,
                 EntryPlace(entry) + ": " + why};
  };
  // An entry cut short by the end of the text: its values so far.
  const auto cut_short = [&](size_t line, std::string_view key,
                             const auto& values, const char* const* names) {
    size_t read = 0;
    std::string_view last = key;
    while (read < values.size() && values[read]) last = *values[read++];
    return invalid(EntryOf(line, key, last),
                   "the file ends before its " +
                       Missing(names, values.size(), read));
  };
  static constexpr const char* kTrackValues[] = {"track number", "length",
                                                 "type"};
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
      return invalid(EntryOf(tokens.line(), *token, *token),
                     "a tab, not a space, goes after the key and between "
                     "the values");
    }
    // A key's values are whatever tokens follow it, keys included: a key
    // standing where a value is due reads as 0 and begins no entry.
    if (*token == "xf_tr") {
      const size_t line = tokens.line();
      const std::array values = {tokens.Next(kTabOrLineFeed),
                                 tokens.Next(kTabOrLineFeed),
                                 tokens.Next(kTabOrLineFeed)};
      const auto& [number, length, type] = values;
      if (!type) return cut_short(line, *token, values, kTrackValues);
      const ParamEntry entry = EntryOf(line, *token, *type);
      const int32_t track = ReadInt32(*number);
      if (track < 1) {
        return invalid(entry, "the track number reads as " +
                                  std::to_string(track) +
                                  "; tracks are numbered from 1");
      }
      params->tracks[track] = {ReadInt32(*type), ReadFloat(*length)};
      params->track_entries[track] = entry;
      // The type token is tested as a key once more: an entry that lacks its
      // type hands the following xf_all key on.
      token = type;
    }
    if (*token == "xf_all") {
      const size_t line = tokens.line();
      const std::array values = {tokens.Next(kTabOrLineFeed),
                                 tokens.Next(kTabOrLineFeed)};
      const auto& [length, type] = values;
      if (!type) return cut_short(line, *token, values, kTrackValues + 1);
      params->all = {ReadInt32(*type), ReadFloat(*length)};
      params->all_entry = EntryOf(line, *token, *type);
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

#include "inputs/lists.h"

#include <limits>
#include <optional>

#include "inputs/tokenizer.h"
#include "os/whole_file.h"

namespace takeloom {
namespace {

constexpr std::string_view kLineFeed = "\n";
constexpr std::string_view kTabOrLineFeed = "\t\n";

}  // namespace

Error ParseBaseList(std::string_view bytes, std::vector<std::string>* names) {
  names->clear();
  std::string lines;
  const Error err = ListText(bytes, "base.txt", &lines);
  if (!err.ok()) return err;
  Tokenizer tokens(lines);
  while (const auto name = tokens.Next(kLineFeed)) names->emplace_back(*name);
  return {};
}

Error ParseEditList(std::string_view bytes, EditList* list) {
  *list = EditList();
  std::string lines;
  const Error err = ListText(bytes, "points.txt", &lines);
  if (!err.ok()) return err;
  Tokenizer tokens(lines);
  std::optional<bool> in_positions;  // the kind of the first edit that reads
  // Only the tab or line feed right after a time separates it from the take
  // name; a second tab already belongs to the name.
  for (auto time = tokens.Next(kTabOrLineFeed); time;
       time = tokens.Next(kTabOrLineFeed)) {
    const auto take = tokens.Next(kLineFeed);
    if (!take) {
      return {Fault::kNoTakeName, "points.txt",
              static_cast<int64_t>(list->times.size() + 1)};
    }
    const std::optional<int64_t> position = ReadSamplePosition(*time);
    const std::optional<float> seconds =
        position ? std::nullopt : ReadTime(*time);
    // A time of 0 is frame 0 at every rate, so it fits either kind: a list
    // of sample positions may begin at a plain 0.
    const bool zero = seconds && *seconds == 0;
    if (position || (seconds && !zero)) {
      if (!in_positions) in_positions = position.has_value();
      if (*in_positions != position.has_value() && list->first_mixed == 0) {
        list->first_mixed = list->times.size() + 1;
      }
    }
    if (position && list->positions.empty()) {
      for (const float earlier : list->times) {
        list->positions.push_back(earlier == 0 ? 0 : -1);
      }
      list->positions.push_back(*position);
    } else if (!list->positions.empty()) {
      list->positions.push_back(position ? *position : zero ? 0 : -1);
    }
    if (!position && !seconds && !list->first_unread) {
      list->first_unread = UnreadTime{list->times.size(), std::string(*time)};
    }
    // NaN is refused like any time that is not finite, unless the edit is
    // a sample position.
    list->times.push_back(
        seconds.value_or(std::numeric_limits<float>::quiet_NaN()));
    list->takes.emplace_back(*take);
  }
  return {};
}

Error ReadBaseFile(std::vector<std::string>* names) {
  std::string bytes;
  const Error err = ReadTextFile("base.txt", &bytes);
  if (!err.ok()) return err;
  return ParseBaseList(bytes, names);
}

Error ReadEditFile(EditList* list) {
  std::string bytes;
  const Error err = ReadTextFile("points.txt", &bytes);
  if (!err.ok()) return err;
  return ParseEditList(bytes, list);
}

}  // namespace takeloom

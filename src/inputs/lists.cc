#include "inputs/lists.h"

#include <limits>
#include <optional>

#include "inputs/tokenizer.h"
#include "os/whole_file.h"
#include "report/quoted.h"

namespace takeloom {
namespace {

constexpr std::string_view kLineFeed = "\n";
constexpr std::string_view kTabOrLineFeed = "\t\n";
constexpr std::string_view kSpaces = " ";

}  // namespace

std::string LinePlace(std::string_view file, size_t line,
                      std::string_view line_text) {
  return std::string(file) + " line " + std::to_string(line) + " reads " +
         Quoted(line_text);
}

std::string EditPlace(const EditList& list, size_t edit) {
  if (edit >= list.lines.size()) return "edit " + std::to_string(edit + 1);
  const ListLine& line = list.lines[edit];
  const std::string_view text(list.text);
  // Without a line feed after it (npos), the line runs to the end.
  const size_t end = text.find('\n', line.start);
  return LinePlace("points.txt", line.number,
                   text.substr(line.start, end - line.start));
}

bool TimeThenSpaces(std::string_view token) {
  const size_t first = token.find_first_not_of(kSpaces);
  if (first == std::string_view::npos) return false;
  const size_t gap = token.find(' ', first);
  if (gap == std::string_view::npos) return false;
  const size_t name = token.find_first_not_of(kSpaces, gap);
  return name != std::string_view::npos &&
         ReadTime(token.substr(first, gap - first)).has_value();
}

Error ParseBaseList(std::string_view bytes, std::vector<std::string>* names,
                    std::vector<size_t>* lines) {
  names->clear();
  if (lines) lines->clear();
  std::string text;
  const Error err = ListText(bytes, "base.txt", &text);
  if (!err.ok()) return err;
  Tokenizer tokens(text);
  while (const auto name = tokens.Next(kLineFeed)) {
    names->emplace_back(*name);
    if (lines) lines->push_back(tokens.line());
  }
  return {};
}

Error ParseEditList(std::string_view bytes, EditList* list) {
  *list = EditList();
  const Error err = ListText(bytes, "points.txt", &list->text);
  if (!err.ok()) return err;
  Tokenizer tokens(list->text);
  std::optional<bool> in_positions;  // the kind of the first edit that reads
  // Only the tab or line feed right after a time separates it from the take
  // name; a second tab already belongs to the name.
  for (auto time = tokens.Next(kTabOrLineFeed); time;
       time = tokens.Next(kTabOrLineFeed)) {
    const std::string_view line = tokens.line_text();
    list->lines.push_back(
        {tokens.line(), static_cast<size_t>(line.data() - list->text.data())});
    const auto take = tokens.Next(kLineFeed);
    if (!take) {
      const size_t edit = list->times.size();
      return {Fault::kNoTakeName, "points.txt", static_cast<int64_t>(edit + 1),
              EditPlace(*list, edit) +
                  (TimeThenSpaces(*time)
                       ? ": a tab is expected between the time and the take "
                         "name"
                       : ": no take name follows the time")};
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

Error ReadBaseFile(std::vector<std::string>* names,
                   std::vector<size_t>* lines) {
  std::string bytes;
  const Error err = ReadTextFile("base.txt", &bytes);
  if (!err.ok()) return err;
  return ParseBaseList(bytes, names, lines);
}

Error ReadEditFile(EditList* list) {
  std::string bytes;
  const Error err = ReadTextFile("points.txt", &bytes);
  if (!err.ok()) return err;
  return ParseEditList(bytes, list);
}

}  // namespace takeloom

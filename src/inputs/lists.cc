#include "inputs/lists.h"

#include "inputs/text_file.h"
#include "inputs/tokenizer.h"

namespace takeloom {
namespace {

constexpr std::string_view kLineFeed = "\n";
constexpr std::string_view kTabOrLineFeed = "\t\n";

}  // namespace

std::vector<std::string> ParseBaseList(std::string_view text) {
  std::vector<std::string> names;
  const std::string lines = ListText(text);
  Tokenizer tokens(lines);
  while (const auto name = tokens.Next(kLineFeed)) names.emplace_back(*name);
  return names;
}

Error ParseEditList(std::string_view text, EditList* list) {
  *list = EditList();
  const std::string lines = ListText(text);
  Tokenizer tokens(lines);
  // Only the tab or line feed right after a time separates it from the take
  // name; a second tab already belongs to the name.
  for (auto time = tokens.Next(kTabOrLineFeed); time;
       time = tokens.Next(kTabOrLineFeed)) {
    const auto take = tokens.Next(kLineFeed);
    if (!take) {
      return {Fault::kNoTakeName, "points.txt",
              static_cast<int64_t>(list->times.size() + 1)};
    }
    list->times.push_back(ReadTime(*time));
    list->takes.emplace_back(*take);
  }
  return {};
}

Error ReadBaseFile(std::vector<std::string>* names) {
  std::string text;
  const Error err = ReadTextFile("base.txt", &text);
  if (err.ok()) *names = ParseBaseList(text);
  return err;
}

Error ReadEditFile(EditList* list) {
  std::string text;
  const Error err = ReadTextFile("points.txt", &text);
  if (!err.ok()) return err;
  return ParseEditList(text, list);
}

}  // namespace takeloom

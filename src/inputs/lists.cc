#include "inputs/lists.h"

#include <cstdio>

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

bool ParseEditList(std::string_view text, EditList* list, std::string* err) {
  *list = EditList();
  const std::string lines = ListText(text);
  Tokenizer tokens(lines);
  // Only the tab or line feed right after a time separates it from the take
  // name; a second tab already belongs to the name.
  for (auto time = tokens.Next(kTabOrLineFeed); time;
       time = tokens.Next(kTabOrLineFeed)) {
    const auto take = tokens.Next(kLineFeed);
    if (!take) {
      *err = ">> Edit " + std::to_string(list->times.size() + 1) +
             " has no take name, exiting\n";
      return false;
    }
    list->times.push_back(ReadTime(*time));
    list->takes.emplace_back(*take);
  }
  return true;
}

bool ReadBaseFile(std::vector<std::string>* names, std::string* err) {
  std::string text;
  if (ReadTextFile("base.txt", &text) != TextFileResult::kOk) {
    *err = ">> Cannot find file base.txt that holds your base file names, "
           "exiting\n\n";
    return false;
  }
  *names = ParseBaseList(text);
  return true;
}

bool ReadEditFile(EditList* list, std::string* err) {
  std::string text;
  if (ReadTextFile("points.txt", &text) != TextFileResult::kOk) {
    *err = ">> Cannot find file points.txt that holds your edits, exiting\n\n";
    return false;
  }
  return ParseEditList(text, list, err);
}

}  // namespace takeloom

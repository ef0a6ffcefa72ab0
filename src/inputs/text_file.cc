#include "inputs/text_file.h"

#include <cstdio>
#include <memory>

namespace takeloom {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

TextFileResult ReadTextFile(const std::string& path, std::string* text) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return TextFileResult::kCannotOpen;
  text->clear();
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    text->append(block, got);
  }
  // A directory opens but cannot be read.
  return std::ferror(file.get()) ? TextFileResult::kCannotRead
                                 : TextFileResult::kOk;
}

}  // namespace takeloom

#include "inputs/text_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace takeloom {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

TextFileResult ReadTextFile(const std::string& path, std::string* text) {
  // Only regular files are read: a device or a FIFO could block or never
  // end, and a directory holds no text.
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return TextFileResult::kCannotRead;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return TextFileResult::kCannotOpen;
  text->clear();
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    text->append(block, got);
  }
  return std::ferror(file.get()) ? TextFileResult::kCannotRead
                                 : TextFileResult::kOk;
}

}  // namespace takeloom

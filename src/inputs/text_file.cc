#include "inputs/text_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace takeloom {

Error ReadTextFile(const std::string& path, std::string* text) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) &&
      !std::filesystem::is_regular_file(status)) {
    return {Fault::kCannotRead, path};
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return {Fault::kCannotOpen, path};
  std::ostringstream contents;
  contents << in.rdbuf();
  if (in.bad()) return {Fault::kCannotRead, path};
  *text = std::move(contents).str();
  return {};
}

}  // namespace takeloom

#include "testing/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace takeloom::testing {

TempDir::TempDir(const std::filesystem::path& parent) {
  std::string pattern = (parent / "takeloom-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory";
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const {
  return (path_ / name).string();
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void WriteFile(const std::string& path, const std::vector<std::byte>& bytes) {
  WriteFile(path, std::string_view(reinterpret_cast<const char*>(bytes.data()),
                                   bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::string text;
  AppendFile(path, text);
  return text;
}

void AppendFile(const std::string& path, std::string& text) {
  // Read in one piece into a string sized once: tests snapshot directories
  // of hundreds of megabytes, and a stream's growing copies cost seconds.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return;
  }
  const std::streamoff size = in.tellg();
  in.seekg(0);
  const size_t start = text.size();
  text.resize(start + static_cast<size_t>(size));
  in.read(text.data() + start, size);
  if (in.gcount() != size) ADD_FAILURE() << "cannot read all of " << path;
}

}  // namespace takeloom::testing

// A scoped temporary directory for tests, removed with everything in it when
// the test ends, also when an assertion fails.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace takeloom::testing {

class TempDir {
 public:
  // In the system's temporary directory, or in `parent`.
  explicit TempDir(const std::filesystem::path& parent =
                       std::filesystem::temp_directory_path());
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Path of `name` inside the directory, as a string.
  std::string File(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// Whole-file helpers; they fail the current test on I/O errors.
void WriteFile(const std::string& path, std::string_view bytes);
void WriteFile(const std::string& path, const std::vector<std::byte>& bytes);
std::string ReadFile(const std::string& path);
// Appends the bytes of the file at `path` to `text`.
void AppendFile(const std::string& path, std::string& text);

}  // namespace takeloom::testing

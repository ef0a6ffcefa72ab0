// Reading one of the tool's small text files whole.
#pragma once

#include <string>

namespace takeloom {

enum class TextFileResult { kOk, kCannotOpen, kCannotRead };

// Reads the file at `path` into `text` in bounded blocks, whatever its size.
// kCannotRead for anything that is not a regular file (after links).
TextFileResult ReadTextFile(const std::string& path, std::string* text);

}  // namespace takeloom

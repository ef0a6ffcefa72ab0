// Reading and writing the tool's small files whole.
#pragma once

#include <string>
#include <string_view>

#include "error.h"

namespace takeloom {

// Reads the file at `path` into `text`, whatever its size. kCannotOpen when
// there is nothing of that name; kCannotRead, with the system's reason,
// when it cannot be read or is not a regular file (after links): a FIFO
// could block and a device never end.
Error ReadTextFile(const std::string& path, std::string* text);

// Creates `path` holding `text`; on failure nothing of it is left, and the
// error carries the system's reason.
Error WriteNewFile(const std::string& path, std::string_view text);

}  // namespace takeloom

// Reading one of the tool's small text files whole.
#pragma once

#include <string>

#include "error.h"

namespace takeloom {

// Reads the file at `path` into `text`, whatever its size. kCannotOpen when
// there is nothing of that name to open; kCannotRead when it cannot be read
// or is not a regular file (after links): a FIFO could block and a device
// never end.
Error ReadTextFile(const std::string& path, std::string* text);

}  // namespace takeloom

// Names and lines as details show them: quoted, with whatever a reader could
// not see or could not tell apart written as an escape.
#pragma once

#include <string>
#include <string_view>

namespace takeloom {

// `text` in double quotes. A quote and a backslash get a backslash; a tab,
// a line feed and a carriage return read \t, \n and \r; any other control
// byte, and every byte that is no part of valid UTF-8, reads \xHH; control
// characters and blanks that show as nothing or as a plain space (no-break
// and zero-width spaces, the byte-order mark) read \uHHHH. Any other text
// stays as written, so a name with accents reads as the user typed it.
std::string Quoted(std::string_view text);

}  // namespace takeloom

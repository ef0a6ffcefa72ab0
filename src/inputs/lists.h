// The job's two lists: base names (one track per line of base.txt) and edit
// points (a time in seconds and a take name per record of points.txt).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace takeloom {

struct EditList {
  std::vector<float> times;          // seconds, in file order
  std::vector<std::string> takes;    // take name of each edit point
};

// Every non-empty line of base.txt's bytes, exactly as written (spaces, tabs,
// an inner carriage return). kNotPlainText as ListText.
Error ParseBaseList(std::string_view bytes, std::vector<std::string>* names);

// Records of a time token (ended by a tab or line feed) and
// a take name (the rest of the line, after any empty lines). kNotPlainText as
// ListText; kNoTakeName, with the edit's number, when the text ends after a
// time that has no take name.
Error ParseEditList(std::string_view bytes, EditList* list);

// Read base.txt / points.txt from the working directory.
Error ReadBaseFile(std::vector<std::string>* names);
Error ReadEditFile(EditList* list);

}  // namespace takeloom

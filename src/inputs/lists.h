// The job's two lists: base names (one track per line of base.txt) and edit
// points (a time and a take name per record of points.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace takeloom {

// A time token that reads as no time, as written, so that its refusal can
// show it.
struct UnreadTime {
  size_t edit = 0;  // index into the times, from 0
  std::string text;
};

// Where a record lies in its list, for messages that point at it: its line
// as an editor numbers it, and where that line starts in the list's text.
struct ListLine {
  size_t number = 0;  // from 1, empty lines counted
  size_t start = 0;
};

struct EditList {
  std::vector<float> times;          // seconds, in file order; NaN: no time
  // Sample positions ("427200s": frame numbers at each track's own rate,
  // exactly as written) once any edit is written so, one per edit: 0 for a
  // time of 0, -1 where an edit is neither; empty otherwise. An edit
  // written so has no time (NaN).
  std::vector<int64_t> positions;
  std::vector<std::string> takes;    // take name of each edit point
  // The first edit (from 1) written as a sample position where the first
  // edit that reads is a time, or the other way round; 0 when none is.
  // Times of 0 fit either kind; edits that read as neither are left to the
  // time checks.
  size_t first_mixed = 0;
  // Only the first time that is no time is kept: the checks refuse the first
  // unusable time, never a later one, and a long list of them would
  // otherwise be held twice.
  std::optional<UnreadTime> first_unread;
  // The list's text as read, and the line of each record's time: the text
  // is kept once rather than a copy of every line.
  std::string text;
  std::vector<ListLine> lines;
};

// How a detail points at a line: `points.txt line 3 reads "9\tA"`.
std::string LinePlace(std::string_view file, size_t line,
                      std::string_view line_text);

// LinePlace of edit `edit`'s record (from 0).
std::string EditPlace(const EditList& list, size_t edit);

// Whether a time token is a time, spaces and more words: a record whose
// time and take name are separated by spaces where a tab belongs.
bool TimeThenSpaces(std::string_view token);

// Every non-empty line of base.txt's bytes, exactly as written (spaces, tabs,
// an inner carriage return), and the line number of each (from 1) into
// `lines` when given. kNotPlainText as ListText.
Error ParseBaseList(std::string_view bytes, std::vector<std::string>* names,
                    std::vector<size_t>* lines = nullptr);

// Records of a time token (ended by a tab or line feed; read by
// ReadSamplePosition, else by ReadTime) and
// a take name (the rest of the line, after any empty lines). kNotPlainText as
// ListText; kNoTakeName, with the edit's number and a detail that points at
// its line, when the text ends after a time that has no take name.
Error ParseEditList(std::string_view bytes, EditList* list);

// Read base.txt / points.txt from the working directory.
Error ReadBaseFile(std::vector<std::string>* names,
                   std::vector<size_t>* lines = nullptr);
Error ReadEditFile(EditList* list);

}  // namespace takeloom
